#include "fuzz/fuzz_support.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "module/module.h"
#include "nodes/material/material.h"

namespace fuzz {

const hostsim::Module &module() {
  static const std::unique_ptr<hostsim::Module> m = [] {
    try {
      return hostsim::Module::fromDescriptor(&_mod_descrip, "JuxsNodes");
    } catch (const hostsim::Error &e) {
      fault(std::string("the module does not open: ") + e.what());
    }
  }();
  return *m;
}

const std::vector<std::string> &nodeServers() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const hostsim::ServerInfo &s : module().servers())
      if (s.className == LWNODE_HCLASS && s.activate) out.push_back(s.name);
    if (out.empty()) fault("the module has no node server");
    return out;
  }();
  return names;
}

const std::string &serverFor(std::string_view name) {
  const auto &servers = nodeServers();
  for (const std::string &s : servers)
    if (s == name) return s;
  return servers[std::hash<std::string_view>{}(name) % servers.size()];
}

namespace {
uint64_t gInputs = 0;
} // namespace

void beginInput() { ++gInputs; }

std::string moduleState() {
  const juxs::material::RegistryState r = juxs::material::registryState();
  std::string s = "input " + std::to_string(gInputs) + " of this process; material registry: " +
                  std::to_string(r.storeCount) + " Store Material(s) listed, identifiers [";
  for (int32_t i = 0; i < r.storeCount; ++i) {
    if (i) s += ' ';
    s += std::to_string(r.identifiers[i]);
  }
  s += "], " + std::to_string(r.getCount) + " Get Material(s) listed, running identifier " +
       std::to_string(r.runningIdentifier);
  return s;
}

void fault(const std::string &what) {
  std::fprintf(stderr, "FUZZ FAULT: %s\nFUZZ STATE: %s\n", what.c_str(), moduleState().c_str());
  std::fflush(stderr);
  std::abort();
}

void requireNoRefusals(hostsim::Host &host) {
  try {
    host.checks().requireNone();
  } catch (const hostsim::Error &e) {
    fault(e.what());
  }
}

int32_t threadNumber(uint8_t choice) {
  static const int32_t kNumbers[] = {0, 1, 2, 15, 16, 63, 64, 127, 128, -1, 1000, INT32_MAX, INT32_MIN};
  return kNumbers[choice % (sizeof kNumbers / sizeof kNumbers[0])];
}

namespace budget {
namespace {

using EvaluateFunc = void (*)(LWInstance, LWNodalAccess *, NodeOutputID, NodeValue);

// Each watched instance with its node's own evaluation, in a fixed table
// (open addressing), so that watching allocates nothing: an input that
// leaves more allocations than it frees has libFuzzer scan the whole heap
// for leaks after it, which costs several times the input itself. Entries
// of earlier inputs are told apart by their generation, so a reset clears
// nothing. 16,384 places: a scene of the longest input holds a few thousand
// nodes at most; should the table fill, a node is not watched.
struct Watched {
  LWInstance instance;
  EvaluateFunc original;
  uint64_t generation;
};
constexpr std::size_t kSlots = std::size_t{1} << 14;
Watched gWatched[kSlots];
uint64_t gGeneration = 1;
uint64_t gLeft = 0;

Watched *slotOf(LWInstance instance, bool add) {
  const std::size_t start = static_cast<std::size_t>((reinterpret_cast<uintptr_t>(instance) >> 4) * 0x9E3779B97F4A7C15u >> 50);
  for (std::size_t k = 0; k < kSlots; ++k) {
    Watched &w = gWatched[(start + k) & (kSlots - 1)];
    if (w.generation != gGeneration) return add ? &w : nullptr;
    if (w.instance == instance) return &w;
  }
  return nullptr;
}

void counted(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) {
  if (gLeft == 0) return;
  --gLeft;
  if (const Watched *w = slotOf(inst, false)) w->original(inst, na, output, value);
}

} // namespace

void reset(uint64_t evaluations) {
  gLeft = evaluations;
  ++gGeneration;
}
bool spent() { return gLeft == 0; }

void watch(hostsim::HostNode *node) {
  if (!node || !node->isModuleNode() || node->handler.evaluate == &counted) return;
  Watched *w = slotOf(node->instance, true);
  if (!w) return;
  *w = Watched{node->instance, node->handler.evaluate, gGeneration};
  node->handler.evaluate = &counted;
}

} // namespace budget

LWNodalAccess contextOfThread(int32_t threadNum) {
  LWNodalAccess na = hostsim::emptyWorldContext();
  na.threadNum = threadNum;
  return na;
}

void exercise(hostsim::Network &net, hostsim::HostNode *node, int32_t threadNum, LWFrame frame) {
  refusal([&] { net.beginRender(0); }); // an init may refuse (no image, say); evaluation must cope
  net.newTime(frame, frame / 30.0);
  LWNodalAccess na = contextOfThread(threadNum);
  for (const auto &out : node->outputs) {
    hostsim::OutputValue v;
    hostsim::evaluateOutput(*node, &na, out.get(), v);
  }
  net.endRender();
}

std::vector<uint8_t> saved(hostsim::Network &net, hostsim::HostNode *node, int32_t mode) {
  hostsim::SaveStream out(mode);
  must("\"" + node->serverName + "\": save failed: ", [&] { net.save(node, out); });
  return out.bytes();
}

} // namespace fuzz
