// Node panels: a kind's controls and layout, and the NodeInterface
// activation, panel builder and panel callbacks run from them. A description
// names controls by key (framework/description.h); the tables here name them
// by id, the same records with the other kind of name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "framework/node_kind.h"

namespace juxs::fw {

inline constexpr uint32_t kFirstControlId = 0x8001;

// What holds a setting's value.
enum class Store : uint8_t {
  None,  // no value: an input of its own, a thumbnail
  Int,   // a 32-bit setting, saved as 16 bits
  Param, // a variant parameter with its cached value: the panel edits the parameter itself
  Text,  // a text buffer, saved as a string among the node's items
};

// Dependants are enabled while the controller's value is nonzero or, with a
// map, while the map entry at the controller's item index is nonzero. Ref is
// how controls are named: by key (const char *) or by id (uint32_t).
template <class Ref>
struct EnableRuleOf {
  Ref controller;
  std::span<const int32_t> map = {}; // empty: no map
  const char *message = nullptr;     // shown while disabled
  std::span<const Ref> dependants = {};
};

// A group, stack or tab set, after the controls, in the order given. Kind 0
// takes an id and writes no hint (an id a hint refers to, or one kept free).
template <class Ref>
struct GroupOf {
  uint32_t kind; // XPTAG_GROUP, XPTAG_STACK or XPTAG_TABS, or 0
  Ref key;
  const char *label = nullptr;           // groups: a label hint on the group's id
  Ref controller = {};                   // stacks
  std::span<const int32_t> map = {};     // stacks: one entry per item of the controller
  std::span<const Ref> members = {};     // members; pages of a stack; groups of tabs
};

// A further hint whose arguments and list are controls, passed on as they
// stand after the layout: the tag's fixed argument count must match args,
// and a tag that takes an id list gets list and its terminating 0.
template <class Ref>
struct HintOf {
  uint32_t tag;
  std::span<const Ref> args = {};
  std::span<const Ref> list = {};
};

// The most controls with a value one panel describes.
inline constexpr std::size_t kMaxPanelControls = 64;

struct Range {
  int32_t min, max, step;
};

// What a row does beside holding its value (an image choice): its part of the
// change notification, whose result is the notification's when not 0; and
// whether the panel also keeps the instance as the control's own data.
struct ControlHooks {
  int32_t (*changed)(LWXPanelID panel, uint32_t cid, int32_t eventKind) noexcept = nullptr;
  bool instanceAsData = false;
};

struct Control {
  uint32_t id;
  const char *label;       // null for a thumbnail
  const char *controlType; // "float-env", "iPopChoice", ...
  const char *dataType;    // its entry in the data description; null: no entry
  Store store = Store::None;
  std::size_t offset = 0;   // the setting, the parameter handle or the text
  std::size_t capacity = 0; // Store::Text: the buffer's size
  int input = -1;           // index of the input whose connection hides the value

  const char *const *items = nullptr; // static popup items, null-terminated
  LWXPanelPopCntFunc popCount = nullptr;
  LWXPanelPopNameFunc popName = nullptr;
  std::optional<int32_t> min = {};
  std::optional<int32_t> max = {};
  std::optional<Range> range = {};
  bool hardMin = false;
  uint32_t thumbnail = 0; // THUM_* size and shape bits of a thumbnail, 0: none
  LWXPanelDrawFunc draw = nullptr;
  const EnableRuleOf<uint32_t> *enable = nullptr; // follows the control's other hints
  const ControlHooks *hooks = nullptr;
};

struct PanelKind {
  std::span<const Control> controls; // in id order
  std::span<const GroupOf<uint32_t>> layout = {};
  std::span<const HintOf<uint32_t>> extra = {};
  // After the set callback stored a value (a choice that takes effect later).
  void (*afterSet)(void *inst, uint32_t cid) = nullptr;
  uint32_t dataControl = 0; // the control that also keeps the instance as its data, 0: none
};

// Common callbacks, run from the kind's description.
int32_t activateInterface(const NodeKind &kind, const PanelKind &panel, int32_t version, GlobalFunc global,
                          void *local, LWXPanelGetFunc get, LWXPanelSetFunc set, LWXPanelChangeNotifyFunc notify,
                          LWXPanelDestroyNotifyFunc destroyNotify) noexcept;
void *panelGet(const NodeKind &kind, const PanelKind &panel, void *inst, uint32_t cid) noexcept;
int32_t panelSet(const NodeKind &kind, const PanelKind &panel, void *inst, uint32_t cid, void *value) noexcept;
int32_t changeNotify(const NodeKind &kind, const PanelKind &panel, LWXPanelID id, uint32_t cid, uint32_t vid,
                     int32_t eventKind) noexcept;
void destroyNotify(void *) noexcept;

// Copies text into a buffer of the given capacity, cutting it short at a
// character boundary of UTF-8 when it does not fit; always terminates.
void copyText(char *to, std::size_t capacity, const char *from) noexcept;
// Ends text of the given length before a UTF-8 character left incomplete at
// its end, as a reader that stops at a byte count may leave one.
void dropSplitCharacter(char *text, std::size_t length) noexcept;

template <const NodeKind &K, const PanelKind &P>
struct Interface {
  static void *get(void *inst, uint32_t cid) noexcept { return panelGet(K, P, inst, cid); }
  static int32_t set(void *inst, uint32_t cid, void *value) noexcept { return panelSet(K, P, inst, cid, value); }
  static int32_t notify(LWXPanelID panel, uint32_t cid, uint32_t vid, int32_t eventKind) noexcept {
    return changeNotify(K, P, panel, cid, vid, eventKind);
  }
  // host thread
  static int32_t activate(int32_t version, GlobalFunc global, void *local, void *) noexcept {
    return activateInterface(K, P, version, global, local, &get, &set, &notify, &destroyNotify);
  }
};

} // namespace juxs::fw
