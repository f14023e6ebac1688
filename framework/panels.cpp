#include "framework/panels.h"

#include <cstring>

namespace juxs::fw {
namespace {

// Room for the hint list of the largest panel; a list that would not fit
// gives no panel rather than a partial one.
constexpr std::size_t kMaxHintWords = 2048;
constexpr std::size_t kMaxControls = 64;

class HintWriter {
public:
  void hint(int32_t kind, std::initializer_list<intptr_t> args) {
    begin(kind, args.size());
    for (intptr_t a : args) put(a);
  }
  template <class T>
  void hint(int32_t kind, std::initializer_list<intptr_t> head, std::span<const T> tail) {
    begin(kind, head.size() + tail.size());
    for (intptr_t a : head) put(a);
    for (T a : tail) put(static_cast<intptr_t>(a));
  }
  template <class F>
  static intptr_t fn(F f) {
    return reinterpret_cast<intptr_t>(f);
  }
  static intptr_t str(const char *s) { return reinterpret_cast<intptr_t>(s); }
  const LWXPanelHint *finish() {
    put(XPH_END);
    return ok_ ? words_ : nullptr;
  }

private:
  void begin(int32_t kind, std::size_t n) {
    put(kind);
    put(static_cast<intptr_t>(n));
  }
  void put(intptr_t w) {
    if (n_ < kMaxHintWords)
      words_[n_++] = w;
    else
      ok_ = false;
  }
  LWXPanelHint words_[kMaxHintWords];
  std::size_t n_ = 0;
  bool ok_ = true;
};

const LWXPanelHint *buildHints(HintWriter &w, const PanelKind &p, LWXPanelChangeNotifyFunc notify,
                               LWXPanelDestroyNotifyFunc destroy) {
  w.hint(XPH_CHGNOTIFY, {HintWriter::fn(notify)});
  for (const Control &c : p.controls) {
    const intptr_t id = c.id;
    w.hint(XPH_CTRL, {id, HintWriter::str(c.controlType)});
    if (c.label) w.hint(XPH_LABEL, {id, HintWriter::str(c.label)});
    if (c.items) w.hint(XPH_POPITEMS, {id, reinterpret_cast<intptr_t>(c.items)});
    if (c.popCount) w.hint(XPH_POPFUNCS, {id, HintWriter::fn(c.popCount), HintWriter::fn(c.popName)});
    if (c.min) w.hint(XPH_MIN, {id, *c.min});
    if (c.max) w.hint(XPH_MAX, {id, *c.max});
    if (c.range) w.hint(XPH_RANGE, {id, c.range->min, c.range->max, c.range->step});
    if (c.hardMin) w.hint(XPH_HARDMINMAX, {id, 1, 0});
    for (int32_t size : c.thumbSizes) w.hint(XPH_THUMBSIZE, {id, size});
    if (c.draw) w.hint(XPH_DRAWFUNC, {id, HintWriter::fn(c.draw)});
    if (const EnableRule *r = c.enable)
      w.hint(XPH_ENABLE,
             {static_cast<intptr_t>(r->controller), r->map.empty() ? 0 : reinterpret_cast<intptr_t>(r->map.data()),
              static_cast<intptr_t>(r->map.size()), HintWriter::str(r->message)},
             r->dependants);
  }
  for (const Layout &l : p.layout) {
    switch (l.kind) {
    case XPH_GROUP:
      w.hint(XPH_GROUP, {static_cast<intptr_t>(l.id), HintWriter::str(l.label)}, l.members);
      break;
    case XPH_STACK:
      w.hint(XPH_STACK,
             {static_cast<intptr_t>(l.id), static_cast<intptr_t>(l.controller),
              l.map.empty() ? 0 : reinterpret_cast<intptr_t>(l.map.data()), static_cast<intptr_t>(l.map.size())},
             l.members);
      break;
    default:
      w.hint(l.kind, {static_cast<intptr_t>(l.id)}, l.members);
      break;
    }
  }
  for (const RawHint &r : p.extra) w.hint(r.kind, {}, r.args);
  w.hint(XPH_DESTROYNOTIFY, {HintWriter::fn(destroy)});
  return w.finish();
}

const Control *controlOf(const PanelKind &p, uint32_t cid) {
  for (const Control &c : p.controls)
    if (c.id == cid) return &c;
  return nullptr;
}

// Built on first request and kept; a failed creation is tried again at the
// next activation.
LWXPanelID buildPanel(const NodeKind &kind, const PanelKind &p, void *inst, LWXPanelGetFunc get, LWXPanelSetFunc set,
                      LWXPanelChangeNotifyFunc notify, LWXPanelDestroyNotifyFunc destroy) {
  if (!inst) return nullptr;
  LWXPanelID &panel = field<LWXPanelID>(inst, kind.panelOffset);
  if (panel) return panel;
  const LWXPanelFuncs *xp = kind.svc->xpanel;

  static HintWriter writer; // host thread only; too large for the stack
  writer = HintWriter{};
  const LWXPanelHint *hints = buildHints(writer, p, notify, destroy);
  LWXPanelDataDesc data[kMaxControls + 1];
  std::size_t n = 0;
  for (const Control &c : p.controls)
    if (c.dataType && n < kMaxControls) data[n++] = {c.id, c.label, c.dataType};
  data[n] = {0, nullptr, nullptr};
  if (!hints) return nullptr;

  LWXPanelID created = xp->create(LWXP_VIEW, nullptr);
  if (!created) return nullptr;
  xp->hint(created, 0, hints);
  xp->describe(created, data, get, set);
  xp->viewInst(created, inst);
  xp->setData(created, 0, inst);
  if (p.imageControl) xp->setData(created, p.imageControl, inst);
  panel = created;
  return panel;
}

} // namespace

int32_t activateInterface(const NodeKind &kind, const PanelKind &p, int32_t version, GlobalFunc global, void *local,
                          LWXPanelGetFunc get, LWXPanelSetFunc set, LWXPanelChangeNotifyFunc notify,
                          LWXPanelDestroyNotifyFunc destroy) noexcept {
  if (version != LWNODE_IVERSION) return AFUNC_BADVERSION;
  auto *iface = static_cast<LWInterface *>(local);
  if (!global || !iface) return AFUNC_BADVERSION;
  Services &s = *kind.svc;
  s.instUpdate = reinterpret_cast<LWInstUpdate>(global(LWINSTUPDATE_GLOBAL, 0));
  s.xpanel = static_cast<const LWXPanelFuncs *>(global(LWXPANELFUNCS_GLOBAL, 0));
  if (!s.instUpdate || !s.xpanel) return AFUNC_BADGLOBAL;
  iface->panel = buildPanel(kind, p, iface->inst, get, set, notify, destroy);
  iface->options = nullptr;
  iface->command = nullptr;
  return AFUNC_OK;
}

void *panelGet(const NodeKind &kind, const PanelKind &p, void *inst, uint32_t cid) noexcept {
  const Control *c = controlOf(p, cid);
  if (!inst || !c) return nullptr;
  // A value that arrives through a connected input is not the panel's to show.
  if (c->input >= 0) {
    NodeInputID in = field<NodeInputID>(inst, kind.inputs[static_cast<std::size_t>(c->input)].offset);
    if (kind.svc->input->check(in)) return nullptr;
  }
  switch (c->bind) {
  case Bind::Int:
  case Bind::Text:
    return &field<char>(inst, c->offset);
  case Bind::Param:
    return field<LWVParmID>(inst, c->offset);
  case Bind::None:
    break;
  }
  return nullptr;
}

int32_t panelSet(const NodeKind &, const PanelKind &p, void *inst, uint32_t cid, void *value) noexcept {
  const Control *c = controlOf(p, cid);
  if (!inst || !c || c->bind == Bind::None) return LWXPRC_NONE;
  if (c->bind == Bind::Int && value) field<int32_t>(inst, c->offset) = *static_cast<const int32_t *>(value);
  if (c->bind == Bind::Text && value) copyText(&field<char>(inst, c->offset), c->capacity, static_cast<const char *>(value));
  if (p.afterSet) p.afterSet(inst, cid);
  return LWXPRC_DFLT;
}

int32_t changeNotify(const NodeKind &kind, LWXPanelID panel, uint32_t, uint32_t, int32_t eventKind) noexcept {
  const Services &s = *kind.svc;
  void *inst = s.xpanel ? s.xpanel->getData(panel, 0) : nullptr;
  if (!inst) return 0;
  if (eventKind == LWXPEVENT_TRACK) s.node->updateNodePreview(field<NodeID>(inst, kind.nodeOffset));
  if (eventKind == LWXPEVENT_VALUE && s.instUpdate) s.instUpdate(LWNODE_HCLASS, inst);
  return 0;
}

void destroyNotify(void *) noexcept {}

void copyText(char *to, std::size_t capacity, const char *from) noexcept {
  if (!to || capacity == 0) return;
  if (!from) from = "";
  std::size_t n = std::strlen(from);
  if (n >= capacity) {
    n = capacity - 1;
    // Back off over continuation bytes so no character is split.
    while (n > 0 && (static_cast<unsigned char>(from[n]) & 0xC0) == 0x80) --n;
  }
  std::memmove(to, from, n);
  to[n] = '\0';
}

void dropSplitCharacter(char *text, std::size_t length) noexcept {
  if (!text || length == 0) return;
  // The last character starts at most three continuation bytes from the end.
  std::size_t lead = length - 1;
  while (lead > 0 && length - lead < 4 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
  const auto c = static_cast<unsigned char>(text[lead]);
  const std::size_t size = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (lead + size > length) text[lead] = '\0';
}

} // namespace juxs::fw
