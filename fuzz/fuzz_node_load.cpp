// Every node's load, from a binary and from a text stream, as a scene from
// another machine would hand it: the load may refuse the block, but the node
// must then evaluate, and what it saves must load again and save the same.
//
// Input: a server name, a NUL, a flags byte (bit 0: text stream; the rest
// picks the evaluating thread's number), then the block. A name that matches
// no server picks one by its hash, so every input exercises some node.
#include <algorithm>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "hostsim/services/xpanel.h"

namespace {

// Counts are honoured as loaded, and Ambient Occlusion's Polar Samples 1 and
// 2 (saved in 16 bits each) ask up to a billion rays of one evaluation, which
// take as long as those rays do. A node asking more than this many is loaded,
// saved and loaded again, but not evaluated: the nodes' handling of any count
// is in their tests.
constexpr int64_t kMaxRays = int64_t{1} << 16;

// The rays one evaluation of node asks at most, from its panel's counts.
int64_t raysAsked(hostsim::Host &host, hostsim::Network &net, hostsim::HostNode *node) {
  const hostsim::ServerInfo *iface = net.module().find(LWNODE_ICLASS, node->serverName);
  if (!iface || !iface->activate) return 0;
  LWInterface local{node->instance, nullptr, nullptr, nullptr};
  if (net.module().activateInterface(*iface, host.global(), &local) != AFUNC_OK) return 0;
  hostsim::Panel *p = hostsim::XPanelService::of(local.panel);
  if (!p) return 0;
  auto count = [&](const char *label) -> int64_t {
    const hostsim::PanelControl *c = p->control(label);
    if (!c) return 1;
    const hostsim::ControlValue v = host.panels().value(*p, *c);
    return v.kind == hostsim::ControlValue::Integer ? std::max<int64_t>(1, v.integer) : 1;
  };
  return std::max(count("Samples"), count("Polar Samples 1") * count("Polar Samples 2"));
}

// One node loaded from the block, exercised, saved, loaded again and
// duplicated; its network (and every node) goes at the end.
void run(hostsim::Host &host, const std::string &server, int32_t mode, uint8_t flags, std::span<const uint8_t> block) {
  hostsim::Network net(host, fuzz::module(), "Fuzz");
  hostsim::HostNode *node = fuzz::must("\"" + server + "\" does not create: ", [&] { return net.add(server); });
  fuzz::budget::reset(100000);
  fuzz::budget::watch(node);

  hostsim::LoadStream in(block, mode);
  fuzz::refusal([&] { net.load(node, in); }); // refused or not, the node stays whole
  const bool evaluates = raysAsked(host, net, node) <= kMaxRays;
  if (evaluates) fuzz::exercise(net, node, fuzz::threadNumber(flags >> 1));

  const std::vector<uint8_t> first = fuzz::saved(net, node, mode);
  hostsim::HostNode *again =
      fuzz::must("\"" + server + "\" does not create a second node: ", [&] { return net.add(server); });
  hostsim::LoadStream back(first, mode);
  fuzz::must("\"" + server + "\": its own save does not load again: ", [&] { net.load(again, back); });
  if (fuzz::saved(net, again, mode) != first) fuzz::fault("\"" + server + "\": save, load, save gives other bytes");

  // A duplicate of what was loaded evaluates as well.
  hostsim::HostNode *copy = nullptr;
  fuzz::refusal([&] { copy = net.duplicate(node); });
  if (copy && evaluates) {
    fuzz::budget::watch(copy);
    fuzz::exercise(net, copy, fuzz::threadNumber(flags >> 2));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::beginInput();
  const auto *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
  if (!nul || nul + 1 >= data + size) return 0;
  const std::string &server = fuzz::serverFor(std::string_view(reinterpret_cast<const char *>(data), nul - data));
  const uint8_t flags = nul[1];
  const int32_t mode = flags & 1 ? LWIO_ASCII : LWIO_BINARY;
  const std::span<const uint8_t> block(nul + 2, data + size);

  hostsim::Host host;
  run(host, server, mode, flags, block);
  fuzz::requireNoRefusals(host); // the nodes' destroy included
  return 0;
}

