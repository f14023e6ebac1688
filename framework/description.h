// One description per node kind: each setting is one row bound to one member
// of the instance record (framework/slots.h), which holds its value, its
// parameter and its input; the row gives its panel control and its place in
// the saved block. The tables the lifecycle and the panel run from are
// derived from the rows at compile time. Control ids follow the rows' order;
// the panel layout names settings by key.
//
// What the derivation refuses, at compile time, each by the name of a
// function in fault:: (which appears in the compiler's message): see there.
// A member of another type than its row declares is refused by the builders'
// static assertions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "framework/lifecycle.h"
#include "framework/node_kind.h"
#include "framework/panels.h"
#include "framework/slots.h"

namespace juxs::fw {

// A member of an instance record: its offset, its type kept for the checks.
template <class T>
struct Member {
  std::size_t offset = kNoField;
};

// The member m of the record named Instance where the description is written.
#define JUXS_FIELD(m) \
  (::juxs::fw::Member<std::remove_cvref_t<decltype(std::declval<Instance &>().m)>>{offsetof(Instance, m)})

// As a description writes them: controls named by key.
using EnableRule = EnableRuleOf<const char *>;
using Group = GroupOf<const char *>;
using Hint = HintOf<const char *>;

// Faults the derivation finds. Each is called only where the fault is, which
// ends the compile-time evaluation with the fault's name in the message.
namespace fault {
void panelReferenceNamesNoSetting();    // a layout, rule or hint names a key no row or group has
void twoRowsShareOneKey();              // keys are unique among rows and groups
void memberSavedTwice();                // two rows hold their values in one member
void inputMemberSharedByTwoRows();      // two rows create their inputs in one member
void parameterHandleSharedByTwoRows();  // two parameters keep their handles in one member
void inputWithoutAMember();             // .input() on a row whose member has no input
void inputMemberNeverCreated();         // a member has an input its row never creates
void twoSettingsClaimOnePlace();        // two rows ask for one place of an order
void placeBeyondTheLastOfItsOrder();    // a place past the number of rows in the order
void parameterTypeDiffersFromItsMemberWidth(); // a one-value type on three values, or the other way
void valueMapLengthDiffersFromItsPopup();      // a map has one entry per item of its popup
void enableRuleOnARowWithoutAControl();        // only a control can be enabled and disabled
void moreControlsThanAPanelHolds();
void moreIntegersThanALoadStages();
void itemsLargerThanALoadStages();
} // namespace fault

// One setting. Built with the functions below and refined with the member
// functions; a row's key is unique within its node.
struct Setting {
  const char *key = nullptr; // the parameter's channel and the input's name unless named apart
  Store store = Store::None;
  int32_t vpType = 0;
  int components = 0; // of the cached value
  double def[3] = {0.0, 0.0, 0.0};
  int32_t intDef = 0;
  std::size_t value = kNoField;  // the int, the cached double(s) or the text
  std::size_t handle = kNoField; // the parameter's LWVParmID
  std::size_t capacity = 0;      // text
  bool copied = true;
  int savedAt = -1;   // place in the saved sequence of its store; -1: in row order
  int createdAt = -1; // parameters: place in creation order; -1: in row order

  std::size_t memberInput = kNoField; // the input its member holds, if it holds one
  bool hasInput = false;
  ConnectionType inType = 0;
  std::size_t inOffset = kNoField;
  const char *inName = nullptr;
  int inputAt = -1;  // place in creation order; -1: in row order
  bool hides = true; // a connection hides the control's value

  // An item of the saved block the row keeps besides its value (a text, an
  // image reference), and what the row does at render start.
  const ItemCodec *item = nullptr;
  std::size_t itemBytes = 0;
  LWError (*renderStart)(void *inst) noexcept = nullptr;

  const char *controlType = nullptr; // null: no control
  const char *labelText = nullptr;   // null: the key (a thumbnail has none)
  const char *const *itemList = nullptr;
  LWXPanelPopCntFunc popCount = nullptr;
  LWXPanelPopNameFunc popName = nullptr;
  std::optional<int32_t> minimum = {};
  std::optional<int32_t> maximum = {};
  std::optional<Range> limits = {};
  bool hardMinimum = false;
  uint32_t thumbBits = 0;
  LWXPanelDrawFunc drawFunc = nullptr;
  const EnableRule *rule = nullptr;
  const ControlHooks *hooks = nullptr;
  // Which of the pointers above a row has, said apart: where null checks are
  // kept (the undefined-behaviour sanitizer keeps them), GCC cannot tell in a
  // constant expression whether the address of a class template's member is
  // null, and the image chooser's callbacks are such members.
  bool hasItem = false;
  bool hasRenderStart = false;
  bool hasPopupFuncs = false;
  bool hasHooks = false;
  bool hasRule = false;

private:
  // Clang evaluates the refining members below in constant expressions only
  // when this is declared ahead of them.
  template <class F>
  constexpr Setting with(F f) const {
    Setting s = *this;
    f(s);
    return s;
  }

public:
  // The input its member holds, created with a type and, where the input is
  // named apart from the setting, a name.
  constexpr Setting input(ConnectionType type, const char *name = nullptr) const {
    if (memberInput == kNoField) fault::inputWithoutAMember();
    return with([&](Setting &s) { s.hasInput = true, s.inType = type, s.inOffset = memberInput, s.inName = name; });
  }
  constexpr Setting inputPlace(int at) const { return with([&](Setting &s) { s.inputAt = at; }); }
  constexpr Setting createdPlace(int at) const { return with([&](Setting &s) { s.createdAt = at; }); }
  constexpr Setting savedPlace(int at) const { return with([&](Setting &s) { s.savedAt = at; }); }
  // The control keeps showing its own value while its input is connected.
  constexpr Setting showsOwnValue() const { return with([](Setting &s) { s.hides = false; }); }
  // A duplicate keeps its own value.
  constexpr Setting notCopied() const { return with([](Setting &s) { s.copied = false; }); }

  constexpr Setting control(const char *type) const { return with([&](Setting &s) { s.controlType = type; }); }
  constexpr Setting label(const char *text) const { return with([&](Setting &s) { s.labelText = text; }); }
  constexpr Setting items(const char *const *list) const { return with([&](Setting &s) { s.itemList = list; }); }
  constexpr Setting popup(LWXPanelPopCntFunc count, LWXPanelPopNameFunc name) const {
    return with([&](Setting &s) { s.popCount = count, s.popName = name, s.hasPopupFuncs = true; });
  }
  constexpr Setting min(int32_t v) const { return with([&](Setting &s) { s.minimum = v; }); }
  constexpr Setting max(int32_t v) const { return with([&](Setting &s) { s.maximum = v; }); }
  constexpr Setting hardMin(int32_t v) const { return with([&](Setting &s) { s.minimum = v, s.hardMinimum = true; }); }
  constexpr Setting range(int32_t lo, int32_t hi, int32_t step) const {
    return with([&](Setting &s) { s.limits = Range{lo, hi, step}; });
  }
  constexpr Setting enable(const EnableRule *r) const {
    return with([&](Setting &s) { s.rule = r, s.hasRule = true; });
  }
  // A row that keeps an item of the saved block (see ItemCodec) and does its
  // own work at render start and in the change notification.
  constexpr Setting keeps(const ItemCodec *codec, std::size_t bytes) const {
    return with([&](Setting &s) { s.item = codec, s.itemBytes = bytes, s.hasItem = true; });
  }
  constexpr Setting atRenderStart(LWError (*f)(void *inst) noexcept) const {
    return with([&](Setting &s) { s.renderStart = f, s.hasRenderStart = true; });
  }
  constexpr Setting controlHooks(const ControlHooks *h) const {
    return with([&](Setting &s) { s.hooks = h, s.hasHooks = true; });
  }
};

// A 32-bit integer setting: a plain int32_t, or an Int with its input.
template <class T>
constexpr Setting integer(const char *key, Member<T> m, int32_t def) {
  static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, Int>,
                "an integer setting's member must be an int32_t, or a fw::Int with its input");
  Setting s;
  s.key = key, s.store = Store::Int, s.value = m.offset, s.intDef = def;
  if constexpr (std::is_same_v<T, Int>) s.memberInput = m.offset + offsetof(Int, input);
  return s;
}

// A variant parameter: a fw::Param<double>, or a fw::Param<Triple> for three
// components (a colour, a vector), with its defaults.
template <class T>
constexpr Setting param(const char *key, int32_t vpType, Member<T> m, double d0, double d1 = 0.0, double d2 = 0.0) {
  static_assert(std::is_same_v<T, Param<double>> || std::is_same_v<T, Param<Triple>>,
                "a parameter's member must be a fw::Param<double> or a fw::Param<fw::Triple>");
  Setting s;
  s.key = key, s.store = Store::Param, s.vpType = vpType;
  s.components = std::is_same_v<T, Param<Triple>> ? 3 : 1;
  s.value = m.offset + offsetof(T, value), s.handle = m.offset + offsetof(T, handle);
  s.memberInput = m.offset + offsetof(T, input);
  s.def[0] = d0, s.def[1] = d1, s.def[2] = d2;
  return s;
}

// The text of a char array, saved as a string among the node's items.
template <class T>
constexpr Setting text(const char *key, Member<T> m) {
  static_assert(std::is_array_v<T> && std::is_same_v<std::remove_extent_t<T>, char>,
                "a text setting's member must be a char array");
  Setting s;
  s.key = key, s.store = Store::Text, s.value = m.offset, s.capacity = std::extent_v<T>;
  s.item = &kTextCodec, s.itemBytes = std::extent_v<T>, s.hasItem = true;
  return s;
}

// An input with no setting behind it.
template <class I>
constexpr Setting input(const char *key, ConnectionType type, Member<I> m) {
  static_assert(std::is_same_v<I, NodeInputID>, "an input's member must be a NodeInputID");
  Setting s;
  s.key = key, s.memberInput = m.offset;
  return s.input(type);
}

// A thumbnail control: no value, no label.
constexpr Setting thumbnail(const char *key, uint32_t bits, LWXPanelDrawFunc draw) {
  Setting s;
  s.key = key, s.controlType = "dThumbnail", s.thumbBits = bits, s.drawFunc = draw;
  return s;
}

template <class O>
constexpr Port output(const char *name, ConnectionType type, Member<O> m) {
  static_assert(std::is_same_v<O, NodeOutputID>, "an output's member must be a NodeOutputID");
  return {name, type, m.offset};
}

// Where an instance record keeps what the framework writes: its size, its
// node, and its envelope group and panel where it has them.
struct Record {
  std::size_t size = 0;
  Member<NodeID> node;
  Member<LWChanGroupID> group = {};
  Member<LWXPanelID> panel = {};
};
template <class Instance>
constexpr Record recordOf() {
  Record r{sizeof(Instance), JUXS_FIELD(node)};
  if constexpr (requires(Instance &i) { i.group; }) r.group = JUXS_FIELD(group);
  if constexpr (requires(Instance &i) { i.panel; }) r.panel = JUXS_FIELD(panel);
  return r;
}

// Everything a node kind is: the settings, the outputs, the panel layout
// beside them, and the departures from the common lifecycle.
struct Description {
  Record record;
  Services *svc = nullptr;
  const char *envGroup = nullptr; // channel group named after the node
  bool previewOff = false;        // preview type 2 (no preview) at creation
  std::span<const Lookup> lookups = {};
  bool usesParams = true;

  std::span<const Setting> settings = {};
  std::span<const Port> outputs = {};
  std::span<const Group> layout = {};
  std::span<const Hint> extra = {};

  void (*evaluate)(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) = nullptr;
  void (*onDefaults)(void *inst, void *priv) = nullptr;
  void (*onCreated)(void *inst) = nullptr;
  void (*beforeDestroy)(void *inst) = nullptr;
  void (*afterCopy)(void *to, const void *from) = nullptr;
  void (*afterLoad)(void *inst) = nullptr;
  LWError (*init)(LWInstance inst, int32_t mode) = nullptr;
  LWError (*newTime)(LWInstance inst, LWFrame frame, LWTime time) = nullptr;
  bool hasNewTime = true;

  void (*afterSet)(void *inst, uint32_t cid) = nullptr;
};

template <const Description &D>
struct Tables {
  static constexpr std::span<const Setting> rows = D.settings;

  static constexpr bool isInt(const Setting &s) { return s.store == Store::Int; }
  static constexpr bool isParam(const Setting &s) { return s.store == Store::Param; }
  static constexpr bool isInput(const Setting &s) { return s.hasInput; }
  static constexpr bool isControl(const Setting &s) { return s.controlType != nullptr; }
  static constexpr bool isItem(const Setting &s) { return s.hasItem; }
  static constexpr bool startsRender(const Setting &s) { return s.hasRenderStart; }

  static constexpr std::size_t countOf(bool (*pick)(const Setting &)) {
    std::size_t n = 0;
    for (const Setting &s : rows) n += pick(s) ? 1 : 0;
    return n;
  }
  static constexpr std::size_t kInts = countOf(&isInt), kParams = countOf(&isParam), kInputs = countOf(&isInput),
                               kControls = countOf(&isControl), kItems = countOf(&isItem),
                               kStarts = countOf(&startsRender);

  // The rows pick chooses, by row index, at their places: a row's own place
  // where it names one, the others in row order in the places left.
  template <std::size_t N>
  static constexpr std::array<std::size_t, N> arrange(bool (*pick)(const Setting &), int Setting::*at) {
    std::array<std::size_t, N> out{};
    std::array<bool, N> taken{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const int p = rows[i].*at;
      if (!pick(rows[i]) || p < 0) continue;
      if (static_cast<std::size_t>(p) >= N) fault::placeBeyondTheLastOfItsOrder();
      if (taken[static_cast<std::size_t>(p)]) fault::twoSettingsClaimOnePlace();
      out[static_cast<std::size_t>(p)] = i, taken[static_cast<std::size_t>(p)] = true;
    }
    std::size_t next = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!pick(rows[i]) || rows[i].*at >= 0) continue;
      while (taken[next]) ++next;
      out[next] = i, taken[next] = true;
    }
    return out;
  }
  template <std::size_t N>
  static constexpr std::size_t placeOf(const std::array<std::size_t, N> &order, std::size_t row) {
    for (std::size_t k = 0; k < N; ++k)
      if (order[k] == row) return k;
    return N;
  }

  static constexpr auto kIntOrder = arrange<kInts>(&isInt, &Setting::savedAt);
  static constexpr auto kItemOrder = arrange<kItems>(&isItem, &Setting::savedAt);
  static constexpr auto kParamCreation = arrange<kParams>(&isParam, &Setting::createdAt);
  static constexpr auto kParamSaving = arrange<kParams>(&isParam, &Setting::savedAt);
  static constexpr auto kInputOrder = arrange<kInputs>(&isInput, &Setting::inputAt);

  static constexpr uint32_t idOf(const char *key) {
    const std::string_view k = key ? key : "";
    uint32_t id = kFirstControlId;
    for (const Setting &s : rows)
      if (isControl(s)) {
        if (k == s.key) return id;
        ++id;
      }
    for (const Group &g : D.layout) {
      if (k == g.key) return id;
      ++id;
    }
    fault::panelReferenceNamesNoSetting();
    return 0;
  }
  static constexpr std::size_t itemCount(const char *const *items) {
    std::size_t n = 0;
    while (items && items[n]) ++n;
    return n;
  }
  // A map carries no length: the host reads one entry per item of its popup.
  static constexpr void checkMap(const char *controller, std::span<const int32_t> map) {
    if (map.empty()) return;
    const uint32_t id = idOf(controller);
    uint32_t at = kFirstControlId;
    for (const Setting &s : rows) {
      if (!isControl(s)) continue;
      if (at++ != id) continue;
      if (s.itemList ? itemCount(s.itemList) != map.size() : !s.hasPopupFuncs)
        fault::valueMapLengthDiffersFromItsPopup();
      return;
    }
    fault::valueMapLengthDiffersFromItsPopup();
  }

  static constexpr bool valid() {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Setting &r = rows[i];
      for (std::size_t j = 0; j < i; ++j) {
        const Setting &o = rows[j];
        if (std::string_view(r.key) == o.key) fault::twoRowsShareOneKey();
        if (isParam(r) && isParam(o) && r.handle == o.handle) fault::parameterHandleSharedByTwoRows();
        if (r.hasInput && o.hasInput && r.inOffset == o.inOffset) fault::inputMemberSharedByTwoRows();
        if (r.store != Store::None && r.store == o.store && r.value == o.value) fault::memberSavedTwice();
      }
      for (const Group &g : D.layout)
        if (std::string_view(r.key) == g.key) fault::twoRowsShareOneKey();
      if (r.memberInput != kNoField && !r.hasInput) fault::inputMemberNeverCreated();
      if (isParam(r) && (r.vpType & 0x0F ? 3 : 1) != r.components) fault::parameterTypeDiffersFromItsMemberWidth();
      if (r.hasRule) {
        const EnableRule *rule = r.rule;
        if (!isControl(r)) fault::enableRuleOnARowWithoutAControl();
        checkMap(rule->controller, rule->map);
        for (const char *d : rule->dependants) idOf(d);
      }
    }
    for (const Group &g : D.layout) {
      if (g.controller) checkMap(g.controller, g.map);
      for (const char *m : g.members) idOf(m);
    }
    for (const Hint &h : D.extra) {
      for (const char *a : h.args) idOf(a);
      for (const char *l : h.list) idOf(l);
    }
    if (kControls > kMaxPanelControls) fault::moreControlsThanAPanelHolds();
    if (kInts > kMaxIntSettings) fault::moreIntegersThanALoadStages();
    std::size_t staged = 0;
    for (const Setting &s : rows) staged += s.hasItem ? stagedBytes(s.itemBytes) : 0;
    if (staged > kMaxItemBytes) fault::itemsLargerThanALoadStages();
    return true;
  }
  // Each item's room in the staging buffer, aligned for any type.
  static constexpr std::size_t stagedBytes(std::size_t bytes) {
    constexpr std::size_t a = alignof(std::max_align_t);
    return (bytes + a - 1) / a * a;
  }
  static_assert(valid());

  // ------------------------------------------------ lifecycle tables

  static constexpr std::array<IntSetting, kInts> ints = [] {
    std::array<IntSetting, kInts> out{};
    for (std::size_t k = 0; k < kInts; ++k) {
      const Setting &s = rows[kIntOrder[k]];
      out[k] = {s.value, s.intDef, s.copied};
    }
    return out;
  }();
  static constexpr std::array<ItemSlot, kItems> items = [] {
    std::array<ItemSlot, kItems> out{};
    std::size_t staged = 0;
    for (std::size_t k = 0; k < kItems; ++k) {
      const Setting &s = rows[kItemOrder[k]];
      out[k] = {s.item, s.value, s.itemBytes, staged};
      staged += stagedBytes(s.itemBytes);
    }
    return out;
  }();
  static constexpr std::array<ParamSetting, kParams> params = [] {
    std::array<ParamSetting, kParams> out{};
    for (std::size_t k = 0; k < kParams; ++k) {
      const Setting &s = rows[kParamCreation[k]];
      out[k] = {s.key, s.vpType, s.value, s.handle, {s.def[0], s.def[1], s.def[2]}};
    }
    return out;
  }();
  static constexpr std::array<uint8_t, kParams> paramOrder = [] {
    std::array<uint8_t, kParams> out{};
    for (std::size_t k = 0; k < kParams; ++k) out[k] = static_cast<uint8_t>(placeOf(kParamCreation, kParamSaving[k]));
    return out;
  }();
  static constexpr std::array<Port, kInputs> inputs = [] {
    std::array<Port, kInputs> out{};
    for (std::size_t k = 0; k < kInputs; ++k) {
      const Setting &s = rows[kInputOrder[k]];
      out[k] = {s.inName ? s.inName : s.key, s.inType, s.inOffset};
    }
    return out;
  }();
  static constexpr std::array<LWError (*)(void *) noexcept, kStarts> rowStarts = [] {
    std::array<LWError (*)(void *) noexcept, kStarts> out{};
    std::size_t n = 0;
    for (const Setting &s : rows)
      if (s.hasRenderStart) out[n++] = s.renderStart;
    return out;
  }();

  // ------------------------------------------------ panel tables

  // The rows with a control, in id order.
  static constexpr std::array<std::size_t, kControls> kControlRows = [] {
    std::array<std::size_t, kControls> out{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (isControl(rows[i])) out[n++] = i;
    return out;
  }();

  template <std::size_t N>
  static constexpr std::array<uint32_t, N> idsOf(auto lists) {
    std::array<uint32_t, N> out{};
    std::size_t n = 0;
    lists([&](std::span<const char *const> keys) {
      for (const char *k : keys) out[n++] = idOf(k);
    });
    return out;
  }

  static constexpr std::size_t kRuleIds = [] {
    std::size_t n = 0;
    for (std::size_t i : kControlRows) n += rows[i].hasRule ? rows[i].rule->dependants.size() : 0;
    return n;
  }();
  static constexpr auto ruleIds = idsOf<kRuleIds>([](auto each) {
    for (std::size_t i : kControlRows)
      if (rows[i].hasRule) each(rows[i].rule->dependants);
  });
  // The rules of the controls that have one, in id order (only a control
  // has a rule: valid() refuses a rule on another row).
  static constexpr std::size_t kRules = [] {
    std::size_t n = 0;
    for (std::size_t i : kControlRows) n += rows[i].hasRule ? 1 : 0;
    return n;
  }();
  static constexpr std::array<EnableRuleOf<uint32_t>, kRules> rules = [] {
    std::array<EnableRuleOf<uint32_t>, kRules> out{};
    std::size_t n = 0, used = 0;
    for (std::size_t i : kControlRows)
      if (rows[i].hasRule) {
        const EnableRule *r = rows[i].rule;
        out[n++] = {idOf(r->controller), r->map, r->message,
                    std::span<const uint32_t>(ruleIds.data() + used, r->dependants.size())};
        used += r->dependants.size();
      }
    return out;
  }();

  static constexpr std::array<Control, kControls> controls = [] {
    std::array<Control, kControls> out{};
    std::size_t rule = 0; // the next control with a rule has this one
    for (std::size_t k = 0; k < kControls; ++k) {
      const Setting &s = rows[kControlRows[k]];
      Control c{};
      c.id = kFirstControlId + static_cast<uint32_t>(k);
      c.label = s.labelText ? s.labelText : s.store == Store::None ? nullptr : s.key;
      c.controlType = s.controlType;
      c.store = s.store;
      switch (s.store) {
      case Store::Int: c.dataType = "integer", c.offset = s.value; break;
      case Store::Param: c.dataType = s.controlType, c.offset = s.handle; break;
      case Store::Text: c.dataType = s.controlType, c.offset = s.value, c.capacity = s.capacity; break;
      case Store::None: c.dataType = nullptr; break;
      }
      if (s.hasInput && s.hides) c.input = static_cast<int>(placeOf(kInputOrder, kControlRows[k]));
      c.items = s.itemList, c.popCount = s.popCount, c.popName = s.popName;
      c.min = s.minimum, c.max = s.maximum, c.range = s.limits, c.hardMin = s.hardMinimum;
      c.thumbnail = s.thumbBits, c.draw = s.drawFunc;
      if (s.hasRule) c.enable = &rules[rule++];
      c.hooks = s.hooks;
      out[k] = c;
    }
    return out;
  }();

  static constexpr std::size_t kGroups = [] {
    std::size_t n = 0;
    for (const Group &g : D.layout) n += g.kind ? 1 : 0;
    return n;
  }();
  static constexpr std::size_t kGroupIds = [] {
    std::size_t n = 0;
    for (const Group &g : D.layout) n += g.members.size();
    return n;
  }();
  static constexpr auto groupIds = idsOf<kGroupIds>([](auto each) {
    for (const Group &g : D.layout) each(g.members);
  });
  static constexpr std::array<GroupOf<uint32_t>, kGroups> layout = [] {
    std::array<GroupOf<uint32_t>, kGroups> out{};
    std::size_t n = 0, used = 0;
    for (const Group &g : D.layout) {
      if (g.kind)
        out[n++] = {g.kind, idOf(g.key), g.label, g.controller ? idOf(g.controller) : 0u, g.map,
                    std::span<const uint32_t>(groupIds.data() + used, g.members.size())};
      used += g.members.size();
    }
    return out;
  }();

  static constexpr std::size_t kHintArgs = [] {
    std::size_t n = 0;
    for (const Hint &h : D.extra) n += h.args.size();
    return n;
  }();
  static constexpr std::size_t kHintIds = [] {
    std::size_t n = 0;
    for (const Hint &h : D.extra) n += h.list.size();
    return n;
  }();
  static constexpr auto hintArgs = idsOf<kHintArgs>([](auto each) {
    for (const Hint &h : D.extra) each(h.args);
  });
  static constexpr auto hintIds = idsOf<kHintIds>([](auto each) {
    for (const Hint &h : D.extra) each(h.list);
  });
  static constexpr std::size_t kHints = D.extra.size();
  static constexpr std::array<HintOf<uint32_t>, kHints> extra = [] {
    std::array<HintOf<uint32_t>, kHints> out{};
    std::size_t args = 0, ids = 0;
    for (std::size_t k = 0; k < kHints; ++k) {
      const Hint &h = D.extra[k];
      out[k] = {h.tag, std::span<const uint32_t>(hintArgs.data() + args, h.args.size()),
                std::span<const uint32_t>(hintIds.data() + ids, h.list.size())};
      args += h.args.size(), ids += h.list.size();
    }
    return out;
  }();

  static constexpr uint32_t dataControl = [] {
    for (std::size_t k = 0; k < kControls; ++k)
      if (const Setting &s = rows[kControlRows[k]]; s.hasHooks && s.hooks->instanceAsData)
        return kFirstControlId + static_cast<uint32_t>(k);
    return 0u;
  }();

  // ------------------------------------------------ the kind

  static constexpr NodeKind kind{
      .envGroup = D.envGroup,
      .previewOff = D.previewOff,
      .size = D.record.size,
      .svc = D.svc,
      .lookups = D.lookups,
      .usesParams = D.usesParams,
      .nodeOffset = D.record.node.offset,
      .groupOffset = D.record.group.offset,
      .panelOffset = D.record.panel.offset,
      .ints = ints,
      .items = items,
      .params = params,
      .paramOrder = paramOrder,
      .inputs = inputs,
      .outputs = D.outputs,
      .evaluate = D.evaluate,
      .onDefaults = D.onDefaults,
      .onCreated = D.onCreated,
      .beforeDestroy = D.beforeDestroy,
      .afterCopy = D.afterCopy,
      .afterLoad = D.afterLoad,
      .rowStarts = rowStarts,
      .init = D.init,
      .newTime = D.newTime,
      .hasNewTime = D.hasNewTime,
  };
  static constexpr PanelKind panel{
      .controls = controls,
      .layout = layout,
      .extra = extra,
      .afterSet = D.afterSet,
      .dataControl = dataControl,
  };
};

} // namespace juxs::fw

// The activation functions of nodes/node_list.h for one node unit's
// description. host thread
#define JUXS_NODE_ACTIVATION(desc)                                                                     \
  int32_t activateHandler(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept { \
    return ::juxs::fw::Handler<::juxs::fw::Tables<desc>::kind>::activate(version, global, local, serverData); \
  }                                                                                                     \
  int32_t activateInterface(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept { \
    using T = ::juxs::fw::Tables<desc>;                                                                \
    return ::juxs::fw::Interface<T::kind, T::panel>::activate(version, global, local, serverData);     \
  }
// A node without a panel.
#define JUXS_NODE_ACTIVATION_NO_PANEL(desc)                                                            \
  int32_t activateHandler(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept { \
    return ::juxs::fw::Handler<::juxs::fw::Tables<desc>::kind>::activate(version, global, local, serverData); \
  }
