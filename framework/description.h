// One description per node kind: each setting is one row (its value, its
// input, its panel control, its place in the saved block), and the tables the
// lifecycle and the panel run from are derived from the rows at compile time.
// Control ids follow the rows' order; the panel layout names settings by key.
//
// What the derivation refuses, at compile time: a member whose type differs
// from the row's declared type (the builders' static assertions), a layout or
// enable rule naming a key no row or group has, two rows with one key, a
// member saved twice, two settings claiming one place in an order, a value
// map whose length differs from its popup's items.
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

namespace juxs::fw {

// A member of an instance record: its offset, its type kept for the checks.
template <class T>
struct Member {
  std::size_t offset = kNoField;
};

// The member m of the record named Instance where the description is written.
#define JUXS_FIELD(m) \
  (::juxs::fw::Member<std::remove_cvref_t<decltype(std::declval<Instance &>().m)>>{offsetof(Instance, m)})

inline constexpr uint32_t kFirstControlId = 0x8001;

enum class Store : uint8_t {
  None,  // holds no value: an input of its own, a thumbnail
  Int,   // a 32-bit setting, saved as 16 bits
  Param, // a variant parameter with its cached value
  Text,  // a text buffer the node saves itself
};

// Dependants are enabled while the controller is nonzero or, with a map,
// while the map entry at the controller's item is nonzero. By key.
struct Rule {
  const char *controller;
  std::span<const int32_t> map = {};
  const char *message = nullptr; // shown while disabled
  std::span<const char *const> dependants = {};
};

// A group, stack or tab set after the controls, by key; kind 0 takes an id
// and writes no hint (a divider a hint adds, or an id kept free).
struct Group {
  uint32_t kind;
  const char *key;
  const char *label = nullptr;
  const char *controller = nullptr; // stacks
  std::span<const int32_t> map = {};
  std::span<const char *const> members = {};
};

// A further hint whose arguments and list are ids, by key.
struct Hint {
  uint32_t tag;
  std::span<const char *const> args = {};
  std::span<const char *const> list = {};
};

// One setting. Built with the functions below and refined with the member
// functions; a row's key is unique within its node.
struct Setting {
  const char *key = nullptr; // the parameter's channel and the input's name unless named apart
  Store store = Store::None;
  int32_t vpType = 0;
  int components = 0; // of the cached value's member
  double def[3] = {0.0, 0.0, 0.0};
  int32_t intDef = 0;
  std::size_t value = kNoField;  // the int, the cached double(s) or the text
  std::size_t handle = kNoField; // the parameter's LWVParmID
  std::size_t capacity = 0;      // text
  bool copied = true;
  int savedAt = -1;   // place in the saved sequence of its store; -1: in row order
  int createdAt = -1; // parameters: place in creation order; -1: in row order

  bool hasInput = false;
  ConnectionType inType = 0;
  std::size_t inOffset = kNoField;
  const char *inName = nullptr;
  int inputAt = -1;   // place in creation order; -1: in row order
  bool hides = true;  // a connection hides the control's value

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
  const Rule *rule = nullptr;

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
  template <class I>
  constexpr Setting input(ConnectionType type, Member<I> m, const char *name = nullptr) const {
    static_assert(std::is_same_v<I, NodeInputID>, "an input's member must be a NodeInputID");
    Setting s = *this;
    s.hasInput = true, s.inType = type, s.inOffset = m.offset, s.inName = name;
    return s;
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
    return with([&](Setting &s) { s.popCount = count, s.popName = name; });
  }
  constexpr Setting min(int32_t v) const { return with([&](Setting &s) { s.minimum = v; }); }
  constexpr Setting max(int32_t v) const { return with([&](Setting &s) { s.maximum = v; }); }
  constexpr Setting hardMin(int32_t v) const { return with([&](Setting &s) { s.minimum = v, s.hardMinimum = true; }); }
  constexpr Setting range(int32_t lo, int32_t hi, int32_t step) const {
    return with([&](Setting &s) { s.limits = Range{lo, hi, step}; });
  }
  constexpr Setting enable(const Rule *r) const { return with([&](Setting &s) { s.rule = r; }); }

};

// A 32-bit integer setting.
template <class T>
constexpr Setting integer(const char *key, Member<T> m, int32_t def) {
  static_assert(std::is_same_v<T, int32_t>, "an integer setting's member must be an int32_t");
  Setting s;
  s.key = key, s.store = Store::Int, s.value = m.offset, s.intDef = def;
  return s;
}

// A variant parameter: its cached value (one double, or three for a colour)
// and its handle.
template <class T, class H>
constexpr Setting param(const char *key, int32_t vpType, Member<T> value, Member<H> handle, double d0,
                        double d1 = 0.0, double d2 = 0.0) {
  static_assert(std::is_same_v<T, double> || std::is_same_v<T, double[1]> || std::is_same_v<T, double[3]>,
                "a parameter's value member must be a double or a double[3]");
  static_assert(std::is_same_v<H, LWVParmID>, "a parameter's handle member must be an LWVParmID");
  Setting s;
  s.key = key, s.store = Store::Param, s.vpType = vpType, s.components = std::is_same_v<T, double[3]> ? 3 : 1;
  s.value = value.offset, s.handle = handle.offset;
  s.def[0] = d0, s.def[1] = d1, s.def[2] = d2;
  return s;
}

// A text buffer, saved by the node itself.
template <class T>
constexpr Setting text(const char *key, Member<T> m) {
  static_assert(std::is_array_v<T> && std::is_same_v<std::remove_extent_t<T>, char>,
                "a text setting's member must be a char array");
  Setting s;
  s.key = key, s.store = Store::Text, s.value = m.offset, s.capacity = std::extent_v<T>;
  return s;
}

// An input with no setting behind it.
template <class I>
constexpr Setting input(const char *key, ConnectionType type, Member<I> m) {
  Setting s;
  s.key = key;
  return s.input(type, m);
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

// Node-specific items of the saved block, between the integers and the
// parameters (NodeKind says how a load stages them).
struct Items {
  LWError (*load)(const void *inst, const StagedInts &ints, const LWLoadState *ls, void *staged) = nullptr;
  void (*apply)(void *inst, const void *staged) = nullptr;
  std::size_t bytes = 0;
  LWError (*save)(void *inst, const LWSaveState *ss) = nullptr;
};

// Everything a node kind is: the settings, the outputs, the panel layout
// beside them, and the departures from the common lifecycle.
struct Description {
  Record record;
  Services *svc = nullptr;
  const char *envGroup = nullptr; // channel group named after the node
  bool preview = false;
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
  Items items = {};
  LWError (*init)(LWInstance inst, int32_t mode) = nullptr;
  LWError (*newTime)(LWInstance inst, LWFrame frame, LWTime time) = nullptr;
  bool hasNewTime = true;

  int32_t (*afterNotify)(LWXPanelID panel, uint32_t cid, int32_t eventKind) = nullptr;
  void (*afterSet)(void *inst, uint32_t cid) = nullptr;
  const char *imageControl = nullptr; // key of the control that also gets the instance as panel data
};

// Faults the derivation finds. Each is called only where the fault is, which
// ends the compile-time evaluation with the fault's name in the message.
namespace fault {
void panelReferenceNamesNoSetting();
void twoRowsShareOneKey();
void memberSavedTwice();
void twoSettingsClaimOnePlace();
void placeBeyondTheLastOfItsOrder();
void parameterTypeDiffersFromItsMemberWidth();
void valueMapLengthDiffersFromItsPopup();
void moreControlsThanAPanelHolds();
void controlIdsNotContiguous();
} // namespace fault

template <const Description &D>
struct Tables {
  static constexpr std::span<const Setting> rows = D.settings;

  static constexpr bool isInt(const Setting &s) { return s.store == Store::Int; }
  static constexpr bool isParam(const Setting &s) { return s.store == Store::Param; }
  static constexpr bool isInput(const Setting &s) { return s.hasInput; }
  static constexpr bool isControl(const Setting &s) { return s.controlType != nullptr; }

  static constexpr std::size_t countOf(bool (*pick)(const Setting &)) {
    std::size_t n = 0;
    for (const Setting &s : rows) n += pick(s) ? 1 : 0;
    return n;
  }
  static constexpr std::size_t kInts = countOf(&isInt), kParams = countOf(&isParam), kInputs = countOf(&isInput),
                               kControls = countOf(&isControl);

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
      if (s.itemList ? itemCount(s.itemList) != map.size() : s.popCount == nullptr)
        fault::valueMapLengthDiffersFromItsPopup();
      return;
    }
    fault::valueMapLengthDiffersFromItsPopup();
  }

  static constexpr bool valid() {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (std::string_view(rows[i].key) == rows[j].key) fault::twoRowsShareOneKey();
        const bool saved = isInt(rows[i]) || isParam(rows[i]) || rows[i].store == Store::Text;
        if (saved && rows[i].store == rows[j].store && rows[i].value == rows[j].value) fault::memberSavedTwice();
      }
      for (const Group &g : D.layout)
        if (std::string_view(rows[i].key) == g.key) fault::twoRowsShareOneKey();
      if (isParam(rows[i]) && (rows[i].vpType & 0x0F ? 3 : 1) != rows[i].components)
        fault::parameterTypeDiffersFromItsMemberWidth();
      if (const Rule *r = rows[i].rule) {
        checkMap(r->controller, r->map);
        for (const char *d : r->dependants) idOf(d);
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
    if (D.imageControl) idOf(D.imageControl);
    if (kControls > kMaxPanelControls) fault::moreControlsThanAPanelHolds();
    return true;
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
  static constexpr std::array<Param, kParams> params = [] {
    std::array<Param, kParams> out{};
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

  // ------------------------------------------------ panel tables

  static constexpr std::size_t kRules = [] {
    std::size_t n = 0;
    for (const Setting &s : rows) n += s.rule ? 1 : 0;
    return n;
  }();
  static constexpr std::size_t kRuleIds = [] {
    std::size_t n = 0;
    for (const Setting &s : rows) n += s.rule ? s.rule->dependants.size() : 0;
    return n;
  }();
  static constexpr std::array<uint32_t, kRuleIds> ruleIds = [] {
    std::array<uint32_t, kRuleIds> out{};
    std::size_t n = 0;
    for (const Setting &s : rows)
      if (s.rule)
        for (const char *d : s.rule->dependants) out[n++] = idOf(d);
    return out;
  }();
  static constexpr std::array<EnableRule, kRules> rules = [] {
    std::array<EnableRule, kRules> out{};
    std::size_t n = 0, used = 0;
    for (const Setting &s : rows)
      if (const Rule *r = s.rule) {
        out[n++] = {idOf(r->controller), r->map, r->message,
                    std::span<const uint32_t>(ruleIds.data() + used, r->dependants.size())};
        used += r->dependants.size();
      }
    return out;
  }();

  static constexpr std::array<Control, kControls> controls = [] {
    std::array<Control, kControls> out{};
    std::size_t n = 0, rule = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Setting &s = rows[i];
      if (!isControl(s)) continue;
      Control c{};
      c.id = kFirstControlId + static_cast<uint32_t>(n);
      c.label = s.labelText ? s.labelText : s.store == Store::None ? nullptr : s.key;
      c.controlType = s.controlType;
      switch (s.store) {
      case Store::Int: c.dataType = "integer", c.bind = Bind::Int, c.offset = s.value; break;
      case Store::Param: c.dataType = s.controlType, c.bind = Bind::Param, c.offset = s.handle; break;
      case Store::Text:
        c.dataType = s.controlType, c.bind = Bind::Text, c.offset = s.value, c.capacity = s.capacity;
        break;
      case Store::None: c.dataType = nullptr, c.bind = Bind::None; break;
      }
      if (s.hasInput && s.hides) c.input = static_cast<int>(placeOf(kInputOrder, i));
      c.items = s.itemList, c.popCount = s.popCount, c.popName = s.popName;
      c.min = s.minimum, c.max = s.maximum, c.range = s.limits, c.hardMin = s.hardMinimum;
      c.thumbnail = s.thumbBits, c.draw = s.drawFunc;
      if (s.rule) c.enable = &rules[rule++];
      out[n++] = c;
    }
    for (std::size_t k = 0; k < kControls; ++k)
      if (out[k].id != kFirstControlId + k) fault::controlIdsNotContiguous();
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
  static constexpr std::array<uint32_t, kGroupIds> groupIds = [] {
    std::array<uint32_t, kGroupIds> out{};
    std::size_t n = 0;
    for (const Group &g : D.layout)
      for (const char *m : g.members) out[n++] = idOf(m);
    return out;
  }();
  static constexpr std::array<Layout, kGroups> layout = [] {
    std::array<Layout, kGroups> out{};
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
  static constexpr std::array<int32_t, kHintArgs> hintArgs = [] {
    std::array<int32_t, kHintArgs> out{};
    std::size_t n = 0;
    for (const Hint &h : D.extra)
      for (const char *a : h.args) out[n++] = static_cast<int32_t>(idOf(a));
    return out;
  }();
  static constexpr std::array<uint32_t, kHintIds> hintIds = [] {
    std::array<uint32_t, kHintIds> out{};
    std::size_t n = 0;
    for (const Hint &h : D.extra)
      for (const char *l : h.list) out[n++] = idOf(l);
    return out;
  }();
  static constexpr std::size_t kHints = D.extra.size();
  static constexpr std::array<RawHint, kHints> extra = [] {
    std::array<RawHint, kHints> out{};
    std::size_t args = 0, ids = 0;
    for (std::size_t k = 0; k < kHints; ++k) {
      const Hint &h = D.extra[k];
      out[k] = {h.tag, std::span<const int32_t>(hintArgs.data() + args, h.args.size()),
                std::span<const uint32_t>(hintIds.data() + ids, h.list.size())};
      args += h.args.size(), ids += h.list.size();
    }
    return out;
  }();

  // ------------------------------------------------ the kind

  static constexpr NodeKind kind{
      .envGroup = D.envGroup,
      .preview = D.preview,
      .size = D.record.size,
      .svc = D.svc,
      .lookups = D.lookups,
      .usesParams = D.usesParams,
      .nodeOffset = D.record.node.offset,
      .groupOffset = D.record.group.offset,
      .panelOffset = D.record.panel.offset,
      .ints = ints,
      .params = params,
      .paramOrder = paramOrder,
      .inputs = inputs,
      .outputs = D.outputs,
      .evaluate = D.evaluate,
      .onDefaults = D.onDefaults,
      .onCreated = D.onCreated,
      .beforeDestroy = D.beforeDestroy,
      .afterCopy = D.afterCopy,
      .loadItems = D.items.load,
      .applyItems = D.items.apply,
      .itemBytes = D.items.bytes,
      .saveItems = D.items.save,
      .init = D.init,
      .newTime = D.newTime,
      .hasNewTime = D.hasNewTime,
  };
  static constexpr PanelKind panel{
      .controls = controls,
      .layout = layout,
      .extra = extra,
      .afterNotify = D.afterNotify,
      .afterSet = D.afterSet,
      .imageControl = D.imageControl ? idOf(D.imageControl) : 0u,
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
