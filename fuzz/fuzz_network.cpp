// Sequences of network edits as a user makes them: nodes added, removed and
// duplicated, connected and disconnected, panels opened and edited, the
// network saved and loaded again, and rendered, with more nodes than the
// material registry has places (64) so that its full lists are reached too.
//
// Input: a sequence of operations, each an opcode byte and its operands.
#include <algorithm>
#include <cmath>

#include "fuzz/fuzz_support.h"

namespace {

using hostsim::HostNode;
// More nodes than the material registry has places (64), so that its full
// lists are reached; not many more, for every node is made, saved, loaded,
// started and removed by the host for each input.
constexpr std::size_t kMaxNodes = 72;
// What one input may ask of the host, counted in nodes made or loaded (a
// render starts four nodes for one): enough for a full network made, saved
// and loaded, and rendered (72 + 72 + 19), as the seeds ask; the bound is
// checked before each operation. Past it the input's remaining operations
// are not run: nodes are what an input costs, and at most a couple of hundred
// keep it to a millisecond or two.
constexpr std::size_t kMaxWork = 160;

// Ray and sample counts are honoured as given, so one evaluation with a count
// of millions takes as long as those rays do: here counts stay small, to keep
// each input's run short. The nodes' handling of any count is in their tests.
constexpr int32_t kMaxCount = 64;
bool isCount(const std::string &name) { return name == "Samples" || name == "Polar 1" || name == "Polar 2"; }
bool isCountControl(const std::string &label) { return isCount(label) || label.starts_with("Polar Samples"); }

struct Editor {
  hostsim::Host &host;
  hostsim::Network &net;
  fuzz::Bytes &in;
  std::vector<HostNode *> nodes; // module nodes and constants, in the order made
  std::vector<HostNode *> smallConstants; // those that may feed a count
  std::size_t work = 0;                   // against kMaxWork

  HostNode *pickNode() { return nodes.empty() ? nullptr : nodes[in.pick(nodes.size())]; }
  void forget(HostNode *n) {
    std::erase(nodes, n);
    std::erase(smallConstants, n);
  }
  int32_t count() { return static_cast<int32_t>(in.value<int16_t>() % (kMaxCount + 1)); }

  void add() {
    if (nodes.size() >= kMaxNodes) return;
    ++work;
    const auto &servers = fuzz::nodeServers();
    const std::string &server = servers[in.pick(servers.size())];
    HostNode *n = fuzz::must("a node does not create: ", [&] { return net.add(server); });
    fuzz::budget::watch(n);
    nodes.push_back(n);
  }
  void addConstant() {
    if (nodes.size() >= kMaxNodes) return;
    ++work;
    hostsim::OutputValue v;
    v.type = static_cast<ConnectionType>(1 + in.byte() % 4);
    for (double &c : v.v) c = in.value<double>();
    v.i = in.value<int32_t>();
    v.set = true;
    HostNode *n = net.addConstant(v);
    nodes.push_back(n);
    if (v.i >= -kMaxCount && v.i <= kMaxCount && std::all_of(std::begin(v.v), std::end(v.v), [](double c) { return std::abs(c) <= kMaxCount; }))
      smallConstants.push_back(n);
  }
  void remove() {
    if (HostNode *n = pickNode()) {
      forget(n);
      net.remove(n);
    }
  }
  void duplicate() {
    HostNode *n = pickNode();
    if (!n || !n->isModuleNode() || nodes.size() >= kMaxNodes) return;
    ++work;
    // A node's copy may refuse (the module's allocations can run out); the
    // new node must still be made.
    HostNode *copy = nullptr;
    const auto why = fuzz::refusal([&] { copy = net.duplicate(n); });
    if (why && why->rfind("copy failed", 0) != 0) fuzz::fault("\"" + n->serverName + "\" does not duplicate: " + *why);
    if (!copy) return;
    fuzz::budget::watch(copy);
    nodes.push_back(copy);
  }
  void connect() {
    HostNode *from = pickNode(), *to = pickNode();
    if (!from || !to || from->outputs.empty() || to->inputs.empty()) return;
    const std::string output = from->outputs[in.pick(from->outputs.size())]->name;
    const std::string input = to->inputs[in.pick(to->inputs.size())]->name;
    if (isCount(input) && std::find(smallConstants.begin(), smallConstants.end(), from) == smallConstants.end()) return;
    fuzz::refusal([&] { net.connect(from, output, to, input); }); // a cycle is refused
  }
  void disconnect() {
    HostNode *to = pickNode();
    if (to && !to->inputs.empty()) net.disconnect(to, to->inputs[in.pick(to->inputs.size())]->name);
  }
  // Opens the node's panel as the host does and edits one control with
  // whatever the input holds: any integer, any doubles (NaN and infinities
  // too), any text.
  void editPanel() {
    HostNode *n = pickNode();
    if (!n || !n->isModuleNode()) return;
    const hostsim::ServerInfo *iface = net.module().find(LWNODE_ICLASS, n->serverName);
    if (!iface || !iface->activate) return;
    LWInterface local{n->instance, nullptr, nullptr, nullptr};
    if (net.module().activateInterface(*iface, host.global(), &local) != AFUNC_OK) return;
    hostsim::Panel *p = hostsim::XPanelService::of(local.panel);
    if (!p || p->controls.empty()) return;
    hostsim::PanelControl &c = p->controls[in.pick(p->controls.size())];
    hostsim::XPanelService &panels = host.panels();
    if (c.isPopup()) {
      const int32_t count = panels.popupCount(*p, c);
      for (int32_t i = -1; i <= count; ++i) panels.popupItem(*p, c, i);
    }
    // Drawn as the host draws an open panel: every control's value read, the
    // rules that disable controls weighed, each popup's current item named;
    // one time in eight also written out whole, as `hostsim panel` shows it
    // (its text costs as much as the rest of the edit).
    if (in.byte() % 8 == 0) {
      panels.describe(*p, n->name);
    } else {
      for (const hostsim::PanelControl &k : p->controls) {
        const hostsim::ControlValue v = panels.value(*p, k);
        panels.enabled(*p, k);
        if (k.isPopup() && v.kind == hostsim::ControlValue::Integer) panels.popupItem(*p, k, v.integer);
      }
    }
    // The panel may refuse an edit (a disabled control, a wrong count).
    if (c.isInteger()) {
      const int32_t v = isCountControl(c.label) ? count() : in.value<int32_t>();
      fuzz::refusal([&] { panels.editInteger(*p, c, v); });
    } else if (c.isEnv()) {
      std::vector<double> values(1 + in.byte() % 3);
      for (double &v : values) v = in.value<double>();
      const bool track = in.byte() & 1;
      fuzz::refusal([&] { panels.editValues(*p, c, values, track); });
    } else if (c.dataType == "string") {
      const std::string text = in.text(600);
      fuzz::refusal([&] { panels.editText(*p, c, text); });
    }
  }
  // Saves every module node and loads the lot into a fresh network, in an
  // order the input picks; the module's own saves must load.
  void saveAndReload() {
    hostsim::SavedNetwork saved;
    const int32_t mode = in.byte() & 1 ? LWIO_ASCII : LWIO_BINARY;
    fuzz::must("the network does not save: ", [&] { net.saveAll(saved, mode); });
    work += saved.nodes.size();
    std::vector<std::size_t> order(saved.nodes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[in.pick(i)]);
    std::vector<HostNode *> old = nodes;
    for (HostNode *n : old)
      if (n->isModuleNode()) {
        forget(n);
        net.remove(n);
      }
    std::vector<HostNode *> made =
        fuzz::must("a saved network does not load again: ", [&] { return net.loadAll(saved, order); });
    if (made.size() != saved.nodes.size()) fuzz::fault("a saved network does not load again whole");
    for (HostNode *n : made) {
      fuzz::budget::watch(n);
      nodes.push_back(n);
    }
  }
  void render() {
    work += 1 + nodes.size() / 4; // a node's render start costs little beside its making
    fuzz::refusal([&] { net.beginRender(0); });
    const LWFrame frame = in.value<int16_t>();
    net.newTime(frame, frame / 24.0);
    LWNodalAccess na = fuzz::contextOfThread(fuzz::threadNumber(in.byte()));
    na.sx = in.value<int16_t>();
    na.sy = in.value<int16_t>();
    na.bounces = in.byte() % 10;
    for (int k = 1 + in.byte() % 4; k > 0; --k) {
      HostNode *n = pickNode();
      if (!n || n->outputs.empty()) break;
      hostsim::OutputValue v;
      hostsim::evaluateOutput(*n, &na, n->outputs[in.pick(n->outputs.size())].get(), v);
    }
    net.endRender();
  }
  // Many nodes of one kind at once: the registry's 64 places run out.
  void addMany() {
    const auto &servers = fuzz::nodeServers();
    const std::string &server = servers[in.pick(servers.size())];
    for (int k = in.byte() % 80; k > 0 && nodes.size() < kMaxNodes; --k) {
      HostNode *n = fuzz::must("a node does not create: ", [&] { return net.add(server); });
      ++work;
      fuzz::budget::watch(n);
      nodes.push_back(n);
    }
  }
};

// One host and one network for the whole run, as a user's session keeps
// them, made at the first input: making and unmaking them and their services
// for every input cost more than most inputs. Each input ends with a reset
// that leaves them as the next input needs them: a render left open is
// ended, every node is removed (as a user deletes them, so each node's
// destroy runs, which must free every parameter the node made), and the
// host's records of what was asked of it (service look-ups, instance
// updates, warnings of edits past a control's limits, file requests) are
// cleared: a record that only grew would leave each input with more
// allocations than it freed, and libFuzzer runs such an input again with a
// leak scan of the whole heap. What carries over from input to input is what
// a user's session carries over: the module-wide state (the material
// registry's running identifier above all; a fault report shows it) and the
// host's counts behind node names.
struct Session {
  hostsim::Host host;
  hostsim::Network net{host, fuzz::module(), "Fuzz"};

  void reset() {
    if (net.rendering()) net.endRender();
    while (!net.nodes().empty()) net.remove(net.nodes().back());
    host.clearLookupLog();
    host.panels().clearUpdates();
    host.panels().takeWarnings();
    host.fileRequester().clearRequests();
    if (const std::size_t n = host.vparms().liveCount())
      fuzz::fault(std::to_string(n) + " parameters outlive the removal of every node");
  }
};

Session &session() {
  static Session *const s = new Session; // never freed: it lasts the run, as the module does
  return *s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::beginInput();
  fuzz::Bytes in(data, size);
  Session &session = ::session();
  hostsim::Host &host = session.host;
  hostsim::Network &net = session.net;
  host.makeActive();
  Editor e{host, net, in, {}, {}};
  // Each input's evaluations are bounded: a render evaluates a few outputs,
  // and a network whose nodes each read the one before twice stops here
  // rather than doubling at every node.
  fuzz::budget::reset(2000);
  for (int step = 0; step < 256 && !in.empty() && e.work < kMaxWork; ++step) {
    switch (in.byte() % 10) {
    case 0: e.add(); break;
    case 1: e.addConstant(); break;
    case 2: e.remove(); break;
    case 3: e.duplicate(); break;
    case 4: e.connect(); break;
    case 5: e.disconnect(); break;
    case 6: e.editPanel(); break;
    case 7: e.saveAndReload(); break;
    case 8: e.render(); break;
    case 9: e.addMany(); break;
    }
  }
  session.reset();
  fuzz::requireNoRefusals(host);
  return 0;
}
