// Node panels: the description of a kind's controls and layout, and the
// NodeInterface activation, panel builder and panel callbacks run from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "framework/node_kind.h"

namespace juxs::fw {

enum class Bind : uint8_t {
  None,  // holds no value (a thumbnail)
  Int,   // a 32-bit setting of the instance
  Param, // a variant parameter: the panel edits it itself
  Text,  // a text buffer of the instance
};

// Dependants are enabled while the controller's value is nonzero or, with a
// map, while the map entry at the controller's item index is nonzero.
struct EnableRule {
  uint32_t controller;
  std::span<const int32_t> map; // empty: no map
  const char *message;          // shown while disabled, or null
  std::span<const uint32_t> dependants;
};

// The most controls with a value one panel describes.
inline constexpr std::size_t kMaxPanelControls = 64;

struct Range {
  int32_t min, max, step;
};

struct Control {
  uint32_t id;
  const char *label;       // null for a thumbnail
  const char *controlType; // "float-env", "iPopChoice", ...
  const char *dataType;    // its entry in the data description; null: no entry
  Bind bind = Bind::None;
  std::size_t offset = 0;   // the setting, the parameter handle or the text
  std::size_t capacity = 0; // Bind::Text: the buffer's size
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
  const EnableRule *enable = nullptr; // follows the control's other hints
};

// Groups, stacks and tabs, after the controls, in the order given.
struct Layout {
  uint32_t kind; // XPTAG_GROUP, XPTAG_STACK or XPTAG_TABS
  uint32_t id;
  const char *label = nullptr;          // groups: a label hint on the group's id
  uint32_t controller = 0;              // stacks
  std::span<const int32_t> map = {};    // stacks: one entry per item of the controller
  std::span<const uint32_t> members = {}; // members; pages of a stack; groups of tabs
};

// Further hints whose arguments are integers and ids, passed on as they stand
// after the layout: the tag's fixed argument count must match args, and a tag
// that takes an id list gets list and its terminating 0.
struct RawHint {
  uint32_t tag;
  std::span<const int32_t> args = {};
  std::span<const uint32_t> list = {};
};

struct PanelKind {
  std::span<const Control> controls; // in id order
  std::span<const Layout> layout = {};
  std::span<const RawHint> extra = {};
  // Departures from the common callbacks; null where there are none.
  // afterNotify runs after the common change notification and its result is
  // the notification's.
  int32_t (*afterNotify)(LWXPanelID panel, uint32_t cid, int32_t eventKind) = nullptr;
  void (*afterSet)(void *inst, uint32_t cid) = nullptr;
  uint32_t imageControl = 0; // also gets the instance as panel data
};

// Common callbacks, run from the kind's description.
int32_t activateInterface(const NodeKind &kind, const PanelKind &panel, int32_t version, GlobalFunc global,
                          void *local, LWXPanelGetFunc get, LWXPanelSetFunc set, LWXPanelChangeNotifyFunc notify,
                          LWXPanelDestroyNotifyFunc destroyNotify) noexcept;
void *panelGet(const NodeKind &kind, const PanelKind &panel, void *inst, uint32_t cid) noexcept;
int32_t panelSet(const NodeKind &kind, const PanelKind &panel, void *inst, uint32_t cid, void *value) noexcept;
int32_t changeNotify(const NodeKind &kind, LWXPanelID panel, uint32_t cid, uint32_t vid, int32_t eventKind) noexcept;
void destroyNotify(void *) noexcept;

// Copies text into a buffer of the given capacity, cutting it short at a
// character boundary of UTF-8 when it does not fit; always terminates.
void copyText(char *to, std::size_t capacity, const char *from) noexcept;
// Ends text of the given length before a UTF-8 character left incomplete at
// its end, as a reader that stops at a byte count may leave one.
void dropSplitCharacter(char *text, std::size_t length) noexcept;

template <const NodeKind &K, const PanelKind &P>
struct Interface {
  static constexpr bool kAfterNotify = P.afterNotify != nullptr;
  static void *get(void *inst, uint32_t cid) noexcept { return panelGet(K, P, inst, cid); }
  static int32_t set(void *inst, uint32_t cid, void *value) noexcept { return panelSet(K, P, inst, cid, value); }
  static int32_t notify(LWXPanelID panel, uint32_t cid, uint32_t vid, int32_t eventKind) noexcept {
    const int32_t common = changeNotify(K, panel, cid, vid, eventKind);
    if constexpr (kAfterNotify) return P.afterNotify(panel, cid, eventKind);
    return common;
  }
  // host thread
  static int32_t activate(int32_t version, GlobalFunc global, void *local, void *) noexcept {
    return activateInterface(K, P, version, global, local, &get, &set, &notify, &destroyNotify);
  }
};

} // namespace juxs::fw
