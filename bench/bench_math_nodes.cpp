// What placing a texture in world space costs a sample, measured side by
// side in one run: Pixel Image reading a fixed column, against the same
// node fed its column from the hit's position through the host's math nodes
// (Spot Info, Vector Math scaling it, Vector Components taking its X), as
// examples/frosted_pane.json does; and a chain of every Scalar Math and
// Vector Math operation. Allocations and mutex locks while evaluating are
// counted (goal: none). The ratio is printed after the table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/alloc_counter.h"
#include "bench/ratio_reporter.h"
#include "hostsim/scene/scene.h"
#include "module/module.h"

namespace {

// Surfaces "Fixed" and "Placed" hold the two Pixel Images, "Chain" the
// operations one after another, each fed the one before.
const char *const kScene = R"({
  "images": [{"name": "stripes", "file": "images/stripes.png"}],
  "surfaces": [
    {"name": "Fixed", "network": {"nodes": [
      {"name": "stripes", "server": "Jux Pixel Image", "settings": {"Image": "stripes", "U Tiling": "Repeat", "X": 3}}]}},
    {"name": "Placed", "network": {"nodes": [
      {"name": "stripes", "server": "Jux Pixel Image", "settings": {"Image": "stripes", "U Tiling": "Repeat"}},
      {"name": "spot", "host": "Spot Info"},
      {"name": "scaled", "host": "Vector Math", "settings": {"Operation": "Scale", "Factor": 4}},
      {"name": "xyz", "host": "Vector Components"}],
     "connections": [
      {"from": "spot", "output": "Position", "to": "scaled", "input": "A"},
      {"from": "scaled", "output": "Result", "to": "xyz", "input": "Vector"},
      {"from": "xyz", "output": "X", "to": "stripes", "input": "X"}]}},
    {"name": "Chain", "network": {"nodes": [
      {"name": "spot", "host": "Spot Info"},
      {"name": "v1", "host": "Vector Math", "settings": {"Operation": "Add", "B": [1, 2, 3]}},
      {"name": "v2", "host": "Vector Math", "settings": {"Operation": "Subtract", "B": [0.5, 0, 0]}},
      {"name": "v3", "host": "Vector Math", "settings": {"Operation": "Scale", "Factor": 3}},
      {"name": "v4", "host": "Vector Math", "settings": {"Operation": "Cross", "B": [0, 1, 0]}},
      {"name": "v5", "host": "Vector Math", "settings": {"Operation": "Normalize"}},
      {"name": "own", "host": "Object Space"},
      {"name": "xyz", "host": "Vector Components"},
      {"name": "s1", "host": "Scalar Math", "settings": {"Operation": "Multiply", "B": 7}},
      {"name": "s2", "host": "Scalar Math", "settings": {"Operation": "Modulo", "B": 2}},
      {"name": "s3", "host": "Scalar Math", "settings": {"Operation": "Divide", "B": 0.3}},
      {"name": "s4", "host": "Scalar Math", "settings": {"Operation": "Floor"}},
      {"name": "make", "host": "Make Vector"},
      {"name": "length", "host": "Vector Math", "settings": {"Operation": "Length"}}],
     "connections": [
      {"from": "spot", "output": "Position", "to": "v1", "input": "A"},
      {"from": "v1", "output": "Result", "to": "v2", "input": "A"},
      {"from": "v2", "output": "Result", "to": "v3", "input": "A"},
      {"from": "v3", "output": "Result", "to": "v4", "input": "A"},
      {"from": "v4", "output": "Result", "to": "v5", "input": "A"},
      {"from": "v5", "output": "Result", "to": "own", "input": "Position"},
      {"from": "own", "output": "Position", "to": "xyz", "input": "Vector"},
      {"from": "xyz", "output": "X", "to": "s1", "input": "A"},
      {"from": "s1", "output": "Result", "to": "s2", "input": "A"},
      {"from": "s2", "output": "Result", "to": "s3", "input": "A"},
      {"from": "s3", "output": "Result", "to": "s4", "input": "A"},
      {"from": "s4", "output": "Result", "to": "make", "input": "X"},
      {"from": "xyz", "output": "Y", "to": "make", "input": "Y"},
      {"from": "make", "output": "Vector", "to": "length", "input": "A"}]}}
  ]})";

struct World {
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Host> host;
  std::unique_ptr<hostsim::Scene> scene;
  World() {
    module = hostsim::Module::fromDescriptor(&_mod_descrip);
    host = std::make_unique<hostsim::Host>();
    scene = hostsim::parseScene(*host, *module, kScene, std::string(JUXS_EXAMPLES_DIR) + "/bench.json");
    for (hostsim::Surface &s : scene->surfaces) {
      s.network->beginRender();
      s.network->newTime(1, 0.0);
    }
  }
  ~World() {
    for (hostsim::Surface &s : scene->surfaces) s.network->endRender();
    scene.reset();
    host.reset();
  }
};

std::unique_ptr<World> gWorld;

World &world() {
  if (!gWorld) gWorld = std::make_unique<World>();
  return *gWorld;
}

// One evaluation of a surface's first node's output (state.range(0): 0 the
// fixed column, 1 the placed one), or the chain's last (2), at a hit that
// moves along X from sample to sample.
void evaluate(benchmark::State &state) {
  hostsim::Surface &s = world().scene->surfaces[static_cast<std::size_t>(state.range(0))];
  const bool chain = state.range(0) == 2;
  hostsim::HostNode *node = chain ? s.nodes.back() : s.nodes.front();
  const std::string output = chain ? "Result" : "Color";
  LWNodalAccess na = hostsim::emptyWorldContext();
  const uint64_t a0 = gAllocations, l0 = gLocks;
  tCounting = true;
  double x = 0;
  for (auto _ : state) {
    na.wPos[0] = na.oPos[0] = x;
    x = x < 100 ? x + 0.01 : 0;
    const hostsim::OutputValue v = s.network->evaluate(node, output, na);
    benchmark::DoNotOptimize(v.v[0]);
  }
  tCounting = false;
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) == 0 ? "Pixel Image, fixed column" : chain ? "13 math nodes" : "Pixel Image, placed");
  state.counters["allocations"] = double(gAllocations - a0);
  state.counters["locks"] = double(gLocks - l0);
}

BENCHMARK(evaluate)->DenseRange(0, 2)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  world();
  std::printf("Processor: %s\n", juxsbench::processor().c_str());
  juxsbench::RatioReporter reporter({"allocations", "locks"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double fixed = reporter.rate("evaluate/0"), placed = reporter.rate("evaluate/1");
  if (fixed > 0 && placed > 0)
    std::printf("Pixel Image placed in world space / at a fixed column, time per sample: %.2f\n", fixed / placed);
  std::printf("while evaluating: %.0f allocations, %.0f mutex locks (goal: none)\n", reporter.totals["allocations"],
              reporter.totals["locks"]);
  if (const std::size_t refused = gWorld->host->checks().count()) {
    std::fprintf(stderr, "%zu calls refused by the host, the first: %s\n", refused,
                 gWorld->host->checks().violations().front().line().c_str());
    return 1;
  }
  gWorld.reset();
  benchmark::Shutdown();
  return 0;
}
