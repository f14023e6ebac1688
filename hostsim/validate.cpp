#include "hostsim/validate.h"

#include <cstring>
#include <set>

#include "hostsim/network.h"

namespace hostsim {
namespace {

class Checker {
public:
  explicit Checker(ValidationReport &r) : report_(r) {}
  void check(bool ok, const std::string &what, const std::string &why = "") {
    if (ok) {
      report_.lines.push_back("ok   " + what);
    } else {
      report_.lines.push_back("FAIL " + what + (why.empty() ? "" : ": " + why));
      ++report_.failures;
    }
  }

private:
  ValidationReport &report_;
};

void checkTable(const Module &m, Checker &c) {
  const auto &s = m.servers();
  bool paired = s.size() % 2 == 0;
  std::set<ActivateFunc> seen;
  bool distinct = true;
  for (std::size_t i = 0; paired && i < s.size(); i += 2) {
    paired = s[i].className == LWNODE_HCLASS && s[i + 1].className == LWNODE_ICLASS && s[i].name == s[i + 1].name &&
             s[i].userName == s[i + 1].userName && s[i].group == s[i + 1].group && !s[i].userName.empty() &&
             !s[i].group.empty();
    for (const auto *x : {&s[i], &s[i + 1]})
      if (x->activate && !seen.insert(x->activate).second) distinct = false;
  }
  c.check(paired, "server table: each node is a NodeHandler and a NodeInterface record with one name and tags");
  c.check(distinct, "server table: every activation function is distinct");
}

void checkHandlerActivation(const Module &m, const ServerInfo &s, Host &host, Checker &c) {
  struct Record {
    LWInstanceFuncs inst;
    LWItemFuncs item;
    LWRenderFuncs rend;
    LWNodeHandler handler;
  } rec, before;
  std::memset(&rec, 0x5A, sizeof rec);
  rec.handler.inst = &rec.inst;
  rec.handler.item = &rec.item;
  rec.handler.rend = &rec.rend;
  before = rec;
  // The version the module takes, as the host finds it; then the one above.
  LWInstanceFuncs scratchInst{};
  LWItemFuncs scratchItem{};
  LWRenderFuncs scratchRend{};
  LWNodeHandler scratch{&scratchInst, &scratchItem, &scratchRend, nullptr, nullptr, nullptr};
  int32_t taken = LWNODECLASS_VERSION_FIRST;
  m.activateHandler(s, host.global(), &scratch, &taken);
  const int32_t rc = s.activate(taken + 1, host.global(), &rec.handler, m.serverData());
  c.check(rc == AFUNC_BADVERSION && std::memcmp(&rec, &before, sizeof rec) == 0,
          "\"" + s.name + "\": a handler activation of another version returns 1 and touches nothing",
          "result " + std::to_string(rc));
}

void checkNode(Network &net, const ServerInfo &s, Host &host, Checker &c) {
  const std::string who = "\"" + s.name + "\": ";
  const std::size_t parmsBefore = host.vparms().liveCount();
  const int badBefore = host.vparms().badHandles();
  std::string error;
  HostNode *a = net.add(s.name, &error);
  c.check(a != nullptr, who + "activates and creates a node", error);
  if (!a) return;

  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    const std::string form = mode == LWIO_BINARY ? "binary" : "text";
    SaveStream first(mode);
    bool ok = net.save(a, first, &error);
    HostNode *b = ok ? net.add(s.name, &error) : nullptr;
    LoadStream in(first.bytes(), mode);
    ok = b && net.load(b, in, &error);
    SaveStream second(mode);
    ok = ok && net.save(b, second, &error);
    c.check(ok && first.bytes() == second.bytes(), who + "save, load, save gives identical " + form + " data",
            ok ? "the second save differs" : error);
    if (b) net.remove(b);
  }

  HostNode *copy = net.duplicate(a, &error);
  c.check(copy != nullptr, who + "copies", error);

  bool evaluated = net.beginRender(0, &error);
  net.newTime(1, 0.0);
  LWNodalAccess na = emptyWorldContext();
  for (const auto &out : a->outputs) {
    OutputValue v;
    evaluateOutput(*a, &na, out.get(), v);
  }
  net.endRender();
  c.check(evaluated, who + "renders an empty world without error", error);

  if (const ServerInfo *iface = net.module().find(LWNODE_ICLASS, s.name); iface && iface->activate) {
    LWInterface local{a->instance, nullptr, nullptr, nullptr};
    const int32_t bad = iface->activate(LWINTERFACE_VERSION + 1, host.global(), &local, net.module().serverData());
    c.check(bad == AFUNC_BADVERSION && !local.panel, who + "a panel activation of another version returns 1");
    int32_t rc = net.module().activateInterface(*iface, host.global(), &local);
    LWXPanelID first = local.panel;
    rc |= net.module().activateInterface(*iface, host.global(), &local);
    c.check(rc == AFUNC_OK && first && local.panel == first, who + "opens one panel across activations");
    if (Panel *p = XPanelService::of(first)) {
      bool described = !p->controls.empty();
      for (auto &ctl : p->controls) described = described && !ctl.controlType.empty();
      c.check(described, who + "describes every control of its panel");
      std::string errors;
      for (const std::string &e : p->hintErrors) errors += (errors.empty() ? "" : "; ") + e;
      c.check(errors.empty(), who + "hands the host a well-formed hint array", errors);
    }
  }

  if (copy) net.remove(copy);
  net.remove(a);
  c.check(host.vparms().liveCount() == parmsBefore && host.vparms().badHandles() == badBefore,
          who + "releases every variant parameter it made, and only those");
}

} // namespace

ValidationReport validateModule(const Module &module) {
  ValidationReport report;
  Checker c(report);
  checkTable(module, c);
  Host host;
  Network net(host, module, "Validation");
  for (const ServerInfo &s : module.servers()) {
    if (s.className != LWNODE_HCLASS || !s.activate) continue;
    checkHandlerActivation(module, s, host, c);
    checkNode(net, s, host, c);
  }
  return report;
}

} // namespace hostsim
