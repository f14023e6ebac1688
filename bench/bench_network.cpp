// What the stand-in host's bookkeeping costs, measured side by side in one
// run:
//
// - every node server's node made and removed again, four of each, as a
//   user (or the network fuzzer, for every input) makes and deletes them;
//   with the allocations counted per node, the host's and the module's;
// - a parameter read through the host's variant parameter table (getVal,
//   as nodes read their settings at every frame, from newTime), among 1,000
//   live ones;
// - removing every node of a network as a scene leaves it (each node's panel
//   open, each feeding the next), from the newest, from the oldest and in a
//   shuffled order, with 1,000 and with 100,000 nodes: a removal costs what
//   the node's own connections cost, so the time per node stays the same
//   however many nodes the network holds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/alloc_counter.h"
#include "hostsim/network.h"
#include "module/module.h"

namespace {

constexpr int kCopies = 4;

void makeAndRemoveNodes(benchmark::State &state) {
  hostsim::Host host;
  const std::unique_ptr<hostsim::Module> module = hostsim::Module::fromDescriptor(&_mod_descrip);
  hostsim::Network net(host, *module);
  std::vector<std::string> servers;
  for (const hostsim::ServerInfo &s : module->servers())
    if (s.className == LWNODE_HCLASS && s.activate) servers.push_back(s.name);
  std::vector<hostsim::HostNode *> nodes;
  nodes.reserve(servers.size() * kCopies);
  auto round = [&] {
    for (int k = 0; k < kCopies; ++k)
      for (const std::string &s : servers) nodes.push_back(net.add(s));
    while (!nodes.empty()) {
      net.remove(nodes.back());
      nodes.pop_back();
    }
    host.clearLookupLog(); // its record of service look-ups would only grow
  };
  round(); // the host's tables at their working size
  const uint64_t a0 = gAllocations;
  tCounting = true;
  for (auto _ : state) round();
  tCounting = false;
  const auto made = state.iterations() * static_cast<int64_t>(servers.size() * kCopies);
  state.SetItemsProcessed(made);
  state.counters["allocations per node"] = double(gAllocations - a0) / double(made);
  if (host.checks().count()) state.SkipWithError("the host refused calls of the module");
}

void readParameters(benchmark::State &state) {
  hostsim::Host host;
  const hostsim::CallbackScope inNewTime(hostsim::Callback::NewTime, nullptr);
  const LWVParmFuncs *f = host.vparms().funcs();
  std::vector<LWVParmID> parms;
  for (int i = 0; i < 1000; ++i) parms.push_back(f->create(i % 3 ? LWVP_FLOAT : LWVP_COLOR, -1));
  double sum = 0, v[3];
  std::size_t i = 0;
  for (auto _ : state) {
    sum += f->getVal(parms[i], 0.0, nullptr, v);
    i = i + 7 < parms.size() ? i + 7 : (i + 7) % parms.size(); // not in the order made
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
  for (LWVParmID p : parms) f->destroy(p);
  if (host.checks().count()) state.SkipWithError("the host refused the reads");
}

// In which order removeNodes takes the nodes away.
enum Order { kNewestFirst, kOldestFirst, kShuffled };

// A chain of Sqrt nodes, each with its panel open (as a scene's settings
// leave it) and feeding the next, then every one removed in the given order.
void removeNodes(benchmark::State &state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto order = static_cast<Order>(state.range(1));
  hostsim::Host host;
  const std::unique_ptr<hostsim::Module> module = hostsim::Module::fromDescriptor(&_mod_descrip);
  const hostsim::ServerInfo *panel = module->find(LWNODE_ICLASS, "Jux Sqrt");
  std::mt19937 shuffle(7);
  for (auto _ : state) {
    state.PauseTiming();
    hostsim::Network net(host, *module);
    std::vector<hostsim::HostNode *> nodes;
    nodes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      nodes.push_back(net.add("Jux Sqrt"));
      LWInterface local{nodes.back()->instance, nullptr, nullptr, nullptr};
      module->activateInterface(*panel, host.global(), &local);
      if (i > 0) net.connect(nodes[i - 1], "Out", nodes[i], "In");
    }
    host.clearLookupLog();
    if (order == kNewestFirst) std::reverse(nodes.begin(), nodes.end());
    if (order == kShuffled) std::shuffle(nodes.begin(), nodes.end(), shuffle);
    state.ResumeTiming();
    for (hostsim::HostNode *n : nodes) net.remove(n);
    state.PauseTiming();
    if (!net.nodes().empty()) state.SkipWithError("a node was left");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
  state.SetLabel(order == kNewestFirst ? "newest first" : order == kOldestFirst ? "oldest first" : "shuffled");
  if (host.checks().count()) state.SkipWithError("the host refused calls of the module");
}

BENCHMARK(makeAndRemoveNodes)->Unit(benchmark::kMicrosecond);
BENCHMARK(readParameters);
BENCHMARK(removeNodes)
    ->ArgsProduct({{1000, 100000}, {kNewestFirst, kOldestFirst, kShuffled}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
