#include "fuzz/fuzz_support.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unordered_map>

#include "module/module.h"

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

void fault(const std::string &what) {
  std::fprintf(stderr, "FUZZ FAULT: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

int32_t threadNumber(uint8_t choice) {
  static const int32_t kNumbers[] = {0, 1, 2, 15, 16, 63, 64, 127, 128, -1, 1000, INT32_MAX, INT32_MIN};
  return kNumbers[choice % (sizeof kNumbers / sizeof kNumbers[0])];
}

namespace budget {
namespace {

using EvaluateFunc = void (*)(LWInstance, LWNodalAccess *, NodeOutputID, NodeValue);
uint64_t gLeft = 0;
std::unordered_map<LWInstance, EvaluateFunc> gOriginal;

void counted(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) {
  if (gLeft == 0) return;
  --gLeft;
  auto it = gOriginal.find(inst);
  if (it != gOriginal.end()) it->second(inst, na, output, value);
}

} // namespace

void reset(uint64_t evaluations) { gLeft = evaluations; }
bool spent() { return gLeft == 0; }

void watch(hostsim::HostNode *node) {
  if (!node || !node->isModuleNode() || node->handler.evaluate == &counted) return;
  gOriginal[node->instance] = node->handler.evaluate;
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
