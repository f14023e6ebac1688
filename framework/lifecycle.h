// The common node lifecycle, run from a NodeKind. Handler<K> binds one kind to
// the plain C callbacks the host calls; none of them lets an exception out.
#pragma once

#include <cstddef>

#include "framework/node_kind.h"

namespace juxs::fw {

inline constexpr const char *kAllocFailed = "Couldn't allocate memory for instance.";
// Returned by load and save when a variant parameter could not be created, so
// that the stream is never read or written out of step with its layout.
inline constexpr const char *kParamMissing = "A setting of this node could not be created.";
// Returned by load when the block ends early or holds what cannot be read; the
// node keeps every setting it had.
inline constexpr const char *kBlockDamaged = "The node's saved settings are damaged or cut short.";

// Zero-filled allocation of instance records; replaceable so that tests can
// make it fail.
using AllocFunc = void *(*)(std::size_t count, std::size_t size);
void setAllocator(AllocFunc alloc) noexcept;
void *allocZeroed(std::size_t size) noexcept;
void freeRecord(void *record) noexcept;

struct HandlerCallbacks {
  LWInstance (*create)(void *, void *, LWError *);
  void (*destroy)(LWInstance);
  LWError (*copy)(LWInstance, LWInstance);
  LWError (*load)(LWInstance, const LWLoadState *);
  LWError (*save)(LWInstance, const LWSaveState *);
  LWError (*init)(LWInstance, int32_t);
  void (*cleanup)(LWInstance);
  LWError (*newTime)(LWInstance, LWFrame, LWTime);
};

int32_t activateHandler(const NodeKind &kind, const HandlerCallbacks &cb, int32_t version, GlobalFunc global,
                        void *local) noexcept;

LWInstance createInstance(const NodeKind &kind, NodeInputEvent inputEvent, void *priv, void *context,
                          LWError *error) noexcept;
void destroyInstance(const NodeKind &kind, LWInstance inst) noexcept;
LWError copyInstance(const NodeKind &kind, LWInstance to, LWInstance from) noexcept;
LWError loadInstance(const NodeKind &kind, LWInstance inst, const LWLoadState *ls) noexcept;
LWError saveInstance(const NodeKind &kind, LWInstance inst, const LWSaveState *ss) noexcept;
// Reads every variant parameter at time t into its cached value.
void refreshParams(const NodeKind &kind, void *inst, LWTime t) noexcept;

// Connection changes: the panel shows at once whether a control's value now
// comes from an input; the loss of the upstream node (NIE_INPUTNODEDESTROY)
// also tells the host the instance changed. Always 1.
int32_t inputEvent(const NodeKind &kind, void *inst, int32_t eventKind) noexcept;

// Render start: the rows' own work (an image choice), then the kind's init.
LWError initInstance(const NodeKind &kind, LWInstance inst, int32_t mode) noexcept;
void noCleanup(LWInstance) noexcept;

// The framework's codec of a text row (a Store Material's name): one stream
// string, read into the row's capacity without splitting a character.
extern const ItemCodec kTextCodec;

template <const NodeKind &K>
struct Handler {
  static_assert(K.ints.size() <= kMaxIntSettings, "load reads the integer settings into a fixed table");
  static constexpr bool itemsFit() {
    for (const ItemSlot &i : K.items)
      if (i.staged + i.bytes > kMaxItemBytes) return false;
    return true;
  }
  static_assert(itemsFit(), "load stages the items in a fixed buffer");
  static LWInstance create(void *priv, void *context, LWError *error) noexcept {
    return createInstance(K, &onInputEvent, priv, context, error);
  }
  // host thread
  static int32_t onInputEvent(void *inst, NodeInputID, int32_t eventKind, ConnectionType) noexcept {
    return inputEvent(K, inst, eventKind);
  }
  static void destroy(LWInstance inst) noexcept { destroyInstance(K, inst); }
  static LWError copy(LWInstance to, LWInstance from) noexcept { return copyInstance(K, to, from); }
  static LWError load(LWInstance inst, const LWLoadState *ls) noexcept { return loadInstance(K, inst, ls); }
  static LWError save(LWInstance inst, const LWSaveState *ss) noexcept { return saveInstance(K, inst, ss); }
  static LWError init(LWInstance inst, int32_t mode) noexcept { return initInstance(K, inst, mode); }
  static LWError newTime(LWInstance inst, LWFrame, LWTime t) noexcept {
    if (inst) refreshParams(K, inst, t);
    return nullptr;
  }

  static constexpr HandlerCallbacks kCallbacks = {
      &create, &destroy, &copy, &load, &save, &init, &noCleanup,
      !K.hasNewTime ? nullptr : K.newTime ? K.newTime : &newTime,
  };

  // host thread
  static int32_t activate(int32_t version, GlobalFunc global, void *local, void *) noexcept {
    return activateHandler(K, kCallbacks, version, global, local);
  }
};

} // namespace juxs::fw
