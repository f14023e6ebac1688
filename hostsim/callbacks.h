// The callbacks running on each thread. Wherever the host calls into the
// module it pushes a frame naming the callback, the node and what it hands
// the callback (a load or save state, a sample's context and output value, a
// drawing area); the checking host's services judge every call the module
// makes against the innermost frame of the calling thread. A thread of the
// module's own has no frame.
#pragma once

#include <cstdint>

#include "host/lw_nodes.h"

namespace hostsim {

struct HostNode;

// What the host is calling in the module.
enum class Callback : uint8_t {
  HandlerActivation,
  InterfaceActivation,
  Create,
  Destroy,
  Copy,
  Load,
  Save,
  Init,
  Cleanup,
  NewTime,
  Evaluate,
  InputEvent,
  PanelGet,
  PanelSet,
  PanelChange,
  PanelDestroy,
  PanelDraw,
  PopupCount,
  PopupName,
  ImageEvent,
};

// One callback running on this thread, with what the host handed it.
struct Frame {
  Callback callback;
  const HostNode *node = nullptr; // whose callback; null for an activation
  const char *server = nullptr;   // an activation's server
  const void *state = nullptr;    // Load, Save: the LWLoadState or LWSaveState handed
  const LWNodalAccess *context = nullptr; // Evaluate
  const void *value = nullptr;            // Evaluate: the NodeValue
  const void *area = nullptr;             // PanelDraw: the drawing area
  Frame *outer = nullptr;

  // The innermost callback on the calling thread. A plain pointer: no
  // destructor runs at thread exit.
  static Frame *top() noexcept { return top_; }

private:
  friend class CallbackScope;
  static inline thread_local Frame *top_ = nullptr;
};

// The evaluate now running on this thread, or null. The calls render threads
// make for every sample check against it first, inline, and make a Call (which
// names what is wrong) only when the quick test fails.
inline const Frame *evaluateFrame() noexcept {
  const Frame *f = Frame::top();
  return f && f->callback == Callback::Evaluate ? f : nullptr;
}

// Wherever the host calls into the module: the callback runs inside one.
// Inline, and allocation-free: one goes round every evaluation.
class CallbackScope {
public:
  CallbackScope(Callback callback, const HostNode *node, const char *server = nullptr) noexcept {
    frame_.callback = callback;
    frame_.node = node;
    frame_.server = server;
    push();
  }
  // Evaluate, with the sample's context and the output's value.
  CallbackScope(const HostNode *node, const LWNodalAccess *context, const void *value) noexcept {
    frame_.callback = Callback::Evaluate;
    frame_.node = node;
    frame_.context = context;
    frame_.value = value;
    push();
  }
  ~CallbackScope() { Frame::top_ = frame_.outer; }
  CallbackScope(const CallbackScope &) = delete;
  CallbackScope &operator=(const CallbackScope &) = delete;

  Frame &frame() noexcept { return frame_; }

private:
  void push() noexcept {
    frame_.outer = Frame::top_;
    Frame::top_ = &frame_;
  }
  Frame frame_;
};

} // namespace hostsim
