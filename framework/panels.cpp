#include "framework/panels.h"

#include <cstring>

namespace juxs::fw {
namespace {

// Room for the hint list of the largest panel; a list that would not fit
// gives no panel rather than a partial one.
constexpr std::size_t kMaxHintWords = 2048;

// Writes a hint array in the host's encoding: each tag, its fixed arguments
// (as many as the tag's low seven bits say) and, for tags with bit 7, an id
// list ended by 0. A hint whose arguments do not fit its tag, a list holding
// the terminator, or an array too long spoils the whole array: no panel is
// better than one the host would misread.
class HintWriter {
public:
  void hint(uint32_t tag, std::initializer_list<intptr_t> fixed) {
    if (XPTAG_HAS_LIST(tag)) ok_ = false;
    begin(tag, fixed);
  }
  template <class T>
  void hint(uint32_t tag, std::initializer_list<intptr_t> fixed, std::span<const T> list) {
    if (!XPTAG_HAS_LIST(tag)) ok_ = false;
    begin(tag, fixed);
    for (T id : list) {
      if (id == 0) ok_ = false;
      put(static_cast<intptr_t>(id));
    }
    put(0);
  }
  void raw(const HintOf<uint32_t> &r) {
    if (r.args.size() != XPTAG_FIXED_COUNT(r.tag) || (!XPTAG_HAS_LIST(r.tag) && !r.list.empty()) ||
        XPTAG_FAMILY(r.tag) != XPTAG_PANEL_FAMILY)
      ok_ = false;
    put(static_cast<intptr_t>(r.tag));
    for (uint32_t a : r.args) put(static_cast<intptr_t>(a));
    if (!XPTAG_HAS_LIST(r.tag)) return;
    for (uint32_t id : r.list) {
      if (id == 0) ok_ = false;
      put(static_cast<intptr_t>(id));
    }
    put(0);
  }
  void fail() { ok_ = false; }
  template <class F>
  static intptr_t fn(F f) {
    return reinterpret_cast<intptr_t>(f);
  }
  static intptr_t ptr(const void *p) { return reinterpret_cast<intptr_t>(p); }
  LWXPanelHint *finish() {
    put(XPTAG_END);
    return ok_ ? words_ : nullptr;
  }

private:
  void begin(uint32_t tag, std::initializer_list<intptr_t> fixed) {
    if (fixed.size() != XPTAG_FIXED_COUNT(tag)) ok_ = false;
    put(static_cast<intptr_t>(tag));
    for (intptr_t a : fixed) put(a);
  }
  void put(intptr_t w) {
    if (n_ < kMaxHintWords)
      words_[n_++] = reinterpret_cast<LWXPanelHint>(w);
    else
      ok_ = false;
  }
  LWXPanelHint words_[kMaxHintWords];
  std::size_t n_ = 0;
  bool ok_ = true;
};

std::size_t itemCount(const char *const *items) {
  std::size_t n = 0;
  while (items && items[n]) ++n;
  return n;
}

// A value map carries no length: the host reads one entry per item of the
// controlling popup, so a map of any other length is a fault in the table.
bool mapFits(const PanelKind &p, uint32_t controller, std::span<const int32_t> map) {
  if (map.empty()) return true;
  for (const Control &c : p.controls)
    if (c.id == controller) return c.items ? itemCount(c.items) == map.size() : c.popCount != nullptr;
  return false;
}

LWXPanelHint *buildHints(HintWriter &w, const PanelKind &p, LWXPanelChangeNotifyFunc notify,
                         LWXPanelDestroyNotifyFunc destroy) {
  using H = HintWriter;
  w.hint(XPTAG_CHGNOTIFY, {H::fn(notify)});
  for (const Control &c : p.controls) {
    const intptr_t id = c.id;
    // Controls that hold no value add no value id.
    w.hint(XPTAG_ADD, {id, H::ptr(c.controlType), c.dataType ? id : 0});
    if (c.label) w.hint(XPTAG_LABEL, {id, H::ptr(c.label), 0});
    if (c.items) w.hint(XPTAG_STRLIST, {id, H::ptr(c.items), 0});
    if (c.popCount) w.hint(XPTAG_POPFUNCS, {id, H::fn(c.popCount), H::fn(c.popName)});
    if (c.min) w.hint(XPTAG_MIN, {id, *c.min});
    if (c.max) w.hint(XPTAG_MAX, {id, *c.max});
    if (c.range) w.hint(XPTAG_RANGE, {id, c.range->min, c.range->max, c.range->step});
    if (c.hardMin) w.hint(XPTAG_HARDMINMAX, {id, 1, 0});
    if (c.thumbnail) w.hint(XPTAG_CTRLCFG, {id, 0, static_cast<intptr_t>(c.thumbnail)});
    if (c.draw) w.hint(XPTAG_DRAWCBFUNC, {id, H::fn(c.draw)});
    if (const EnableRuleOf<uint32_t> *r = c.enable) {
      if (!mapFits(p, r->controller, r->map)) w.fail();
      w.hint(XPTAG_ENABLE,
             {static_cast<intptr_t>(r->controller), H::ptr(r->message), 0, r->map.empty() ? 0 : H::ptr(r->map.data())},
             r->dependants);
    }
  }
  for (const GroupOf<uint32_t> &l : p.layout) {
    const auto id = static_cast<intptr_t>(l.key);
    switch (l.kind) {
    case XPTAG_GROUP:
      w.hint(XPTAG_GROUP, {id}, l.members);
      // Groups take their label from a label hint on their id.
      if (l.label) w.hint(XPTAG_LABEL, {id, H::ptr(l.label), 0});
      break;
    case XPTAG_STACK:
      if (!mapFits(p, l.controller, l.map)) w.fail();
      w.hint(XPTAG_STACK, {id, static_cast<intptr_t>(l.controller), l.map.empty() ? 0 : H::ptr(l.map.data())},
             l.members);
      break;
    case XPTAG_TABS:
      w.hint(XPTAG_TABS, {id}, l.members);
      break;
    default:
      w.fail();
      break;
    }
  }
  for (const HintOf<uint32_t> &r : p.extra) w.raw(r);
  w.hint(XPTAG_DESTROYNOTIFY, {H::fn(destroy), 0});
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
  LWXPanelHint *hints = buildHints(writer, p, notify, destroy);
  LWXPanelDataDesc data[kMaxPanelControls + 1];
  std::size_t n = 0;
  for (const Control &c : p.controls)
    if (c.dataType && n < kMaxPanelControls) data[n++] = {c.id, c.label, c.dataType};
  data[n] = {0, nullptr, nullptr};
  if (!hints) return nullptr;

  LWXPanelID created = xp->create(LWXP_VIEW, nullptr);
  if (!created) return nullptr;
  xp->hint(created, 0, hints);
  xp->describe(created, data, get, set);
  xp->viewInst(created, inst);
  xp->setData(created, 0, inst);
  if (p.dataControl) xp->setData(created, p.dataControl, inst);
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
  s.imageControl = p.dataControl;
  iface->panel = buildPanel(kind, p, iface->inst, get, set, notify, destroy);
  iface->options = nullptr;
  iface->command = nullptr;
  return AFUNC_OK;
}

void *panelGet(const NodeKind &kind, const PanelKind &p, void *inst, uint32_t cid) noexcept {
  const Control *c = controlOf(p, cid);
  if (!inst || !c) return nullptr;
  // A value that arrives through a connected input is not the panel's to show.
  if (c->input >= 0 && static_cast<std::size_t>(c->input) < kind.inputs.size()) {
    NodeInputID in = field<NodeInputID>(inst, kind.inputs[static_cast<std::size_t>(c->input)].offset);
    if (kind.svc->input->check(in)) return nullptr;
  }
  switch (c->store) {
  case Store::Int:
  case Store::Text:
    return &field<char>(inst, c->offset);
  case Store::Param:
    return field<LWVParmID>(inst, c->offset);
  case Store::None:
    break;
  }
  return nullptr;
}

int32_t panelSet(const NodeKind &, const PanelKind &p, void *inst, uint32_t cid, void *value) noexcept {
  const Control *c = controlOf(p, cid);
  if (!inst || !c || c->store == Store::None) return LWXPRC_NONE;
  if (c->store == Store::Int && value) field<int32_t>(inst, c->offset) = *static_cast<const int32_t *>(value);
  if (c->store == Store::Text && value)
    copyText(&field<char>(inst, c->offset), c->capacity, static_cast<const char *>(value));
  if (p.afterSet) p.afterSet(inst, cid);
  return LWXPRC_DFLT;
}

int32_t changeNotify(const NodeKind &kind, const PanelKind &p, LWXPanelID panel, uint32_t cid, uint32_t,
                     int32_t eventKind) noexcept {
  const Services &s = *kind.svc;
  void *inst = s.xpanel ? s.xpanel->getData(panel, 0) : nullptr;
  if (!inst) return 0;
  if (eventKind == LWXPEVENT_TRACK) s.node->updateNodePreview(field<NodeID>(inst, kind.nodeOffset));
  if (eventKind == LWXPEVENT_VALUE && s.instUpdate) s.instUpdate(LWNODE_HCLASS, inst);
  // Then each control's own part; the first that asks for a refresh decides.
  int32_t result = 0;
  for (const Control &c : p.controls)
    if (c.hooks && c.hooks->changed)
      if (const int32_t r = c.hooks->changed(panel, cid, eventKind); r && !result) result = r;
  return result;
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
