// What the framework runs one node kind's lifecycle from: the tables a node's
// description derives at compile time (framework/description.h), and the
// service handles the kind's activations keep. The common lifecycle
// (activation, create, destroy, copy, load, save, init, newTime) is run from
// a NodeKind by framework/lifecycle.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "host/lw_host.h"

namespace juxs::fw {

inline constexpr std::size_t kNoField = SIZE_MAX;
// What a load holds aside until the node's own settings are read: the
// integer settings and the node-specific items.
inline constexpr std::size_t kMaxIntSettings = 32;
inline constexpr std::size_t kMaxItemBytes = 1024;

// The file-request record an image node kind hands to "File Request 2".
struct FileRequest {
  static constexpr int32_t kBufferLength = 512;
  LWFileReqLocal local;
  char path[kBufferLength];
  char baseName[kBufferLength];
  char fullName[kBufferLength];
};

// The host service handles of one node kind. Every kind owns one of these, so
// each keeps its own copies, written by its own activations.
struct Services {
  GlobalFunc global = nullptr;
  const LWNodeFuncs *node = nullptr;
  const LWNodeEditorFuncs *editor = nullptr;
  const LWNodeInputFuncs *input = nullptr;
  const LWNodeOutputFuncs *output = nullptr;
  const LWVParmFuncs *vparm = nullptr;
  const LWEnvelopeFuncs *envelopes = nullptr;
  uint32_t systemId = 0;
  const LWBackdropInfo *backdrop = nullptr; // null in the modeler
  const LWTimeInfo *time = nullptr;         // null in the modeler
  const LWImageList *images = nullptr;
  const LWNodeUtilityFuncs *utility = nullptr;
  LWFileActivateFunc fileRequest = nullptr;
  FileRequest *fileRecord = nullptr; // image kinds only: their own record
  // Written by the kind's NodeInterface activation.
  LWInstUpdate instUpdate = nullptr;
  const LWXPanelFuncs *xpanel = nullptr;
  uint32_t imageControl = 0; // image kinds: the id of the image popup
};

// Service groups a kind looks up between the four node services and the two
// variant-parameter services, in the order the kind lists them.
enum class Lookup : uint8_t {
  ImageServices, // the image list, "NodeUtilityFuncs", "File Request 2", all required
  ModelerTest,   // "System ID"; outside the modeler "LW Backdrop Info 2" and "LW Time Info", required
};

// A 32-bit integer setting, persisted as 16 bits.
struct IntSetting {
  std::size_t offset;
  int32_t def;
  bool copied = true; // false: a duplicate keeps its own value
};

// The integer settings a load has read but not yet put in place, looked up
// by the instance field they will go to.
struct StagedInts {
  std::span<const IntSetting> settings;
  const int32_t *values;
  // The staged value of the setting at offset, or fallback when the kind has
  // no such setting.
  int32_t at(std::size_t offset, int32_t fallback = 0) const noexcept {
    for (std::size_t i = 0; i < settings.size(); ++i)
      if (settings[i].offset == offset) return values[i];
    return fallback;
  }
};

// A variant parameter and the cached value evaluation falls back to.
struct ParamSetting {
  const char *channel;
  int32_t type; // LWVP_* code
  std::size_t value;  // offset of the cached double (or three doubles)
  std::size_t handle; // offset of the LWVParmID
  double def[3];
};

// Three-component types (0x11, 0x51) carry a 1 in the low nibble.
constexpr int componentsOf(int32_t type) { return (type & 0x0F) ? 3 : 1; }

struct Port {
  const char *name;
  ConnectionType type;
  std::size_t offset; // of the NodeInputID or NodeOutputID
};

// A node-specific item of the saved block (a name, an image reference),
// between the integer settings and the parameters, and how it is read and
// written. A load reads every item aside first (into the item's bytes of the
// staging room, zero-filled) and puts them in place only once the node's own
// settings have all been read, so that a block that ends early leaves them as
// they were.
struct ItemSlot;
struct ItemCodec {
  LWError (*load)(const ItemSlot &item, const StagedInts &ints, const LWLoadState *ls, void *staged) noexcept;
  void (*apply)(const ItemSlot &item, void *inst, const void *staged) noexcept;
  LWError (*save)(const ItemSlot &item, const void *inst, const LWSaveState *ss) noexcept;
};
struct ItemSlot {
  const ItemCodec *codec;
  std::size_t offset; // the row's member
  std::size_t bytes;  // the row's text capacity, or what its codec stages
  std::size_t staged; // where in the staging room
};

struct NodeKind {
  const char *envGroup; // channel group named after the node
  bool previewOff;      // preview type 2 (no preview) at creation
  std::size_t size;     // of the instance record
  Services *svc;
  std::span<const Lookup> lookups = {};
  bool usesParams = true; // looks up the variant-parameter services; with a groupOffset also makes the envelope group

  std::size_t nodeOffset;
  std::size_t groupOffset = kNoField; // kNoField without variant parameters
  std::size_t panelOffset = kNoField; // kNoField without a panel

  std::span<const IntSetting> ints = {};      // saved and copied in this order
  std::span<const ItemSlot> items = {};       // saved in this order, after the integers
  std::span<const ParamSetting> params = {};  // created in this order
  // Parameter indices for copy, destroy and persistence where they differ
  // from creation order; empty means creation order.
  std::span<const uint8_t> paramOrder = {};
  std::span<const Port> inputs = {};  // created in this order
  std::span<const Port> outputs = {}; // created in this order

  // render threads, concurrently
  void (*evaluate)(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value);

  // Departures from the common lifecycle; null where the node has none.
  void (*onDefaults)(void *inst, void *priv) = nullptr; // after the defaults, before the envelope group
  void (*onCreated)(void *inst) = nullptr;              // after the outputs
  void (*beforeDestroy)(void *inst) = nullptr;
  void (*afterCopy)(void *to, const void *from) = nullptr;
  void (*afterLoad)(void *inst) = nullptr; // after a load put everything in place
  // Rows with work of their own at render start (an image choice), before init.
  std::span<LWError (*const)(void *inst) noexcept> rowStarts = {};
  LWError (*init)(LWInstance inst, int32_t mode) = nullptr;                  // default: nothing
  LWError (*newTime)(LWInstance inst, LWFrame frame, LWTime time) = nullptr; // default: refresh
  bool hasNewTime = true;
};

// A field of an instance record, by offset.
template <class T>
inline T &field(void *inst, std::size_t offset) {
  return *reinterpret_cast<T *>(static_cast<char *>(inst) + offset);
}
template <class T>
inline const T &field(const void *inst, std::size_t offset) {
  return *reinterpret_cast<const T *>(static_cast<const char *>(inst) + offset);
}

} // namespace juxs::fw
