// The checking host. A real host is the module's judge and we cannot run it,
// so every call a module makes into this host is checked as strictly as a
// host may check it:
//   - where it comes from: the callback running on the calling thread (the
//     host calls a module only from callbacks; a thread of the module's own
//     runs none), and whether the service may be called from there;
//   - what it passes: a load or save state only the one handed to the load
//     or save callback now running; a shading context and an output value
//     only those of the evaluate now running on this thread; every other
//     handle one this host made, of the kind the slot means, not destroyed.
// A misuse is recorded (the node, the callback, the function, the argument
// and the rule) and refused: the host answers as for nothing (null, 0, an
// error text) and never follows what it was handed into a crash.
//
// The calls are judged against the callback frames of callbacks.h. Handles
// live in a book the host's services keep as they make and destroy them; it
// is changed only on the thread that runs the host's callbacks, and read by
// render threads only while a render runs, when nothing is made or destroyed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/lw_io.h"
#include "host/lw_nodes.h"
#include "hostsim/callbacks.h"

namespace hostsim {

// How the callback now running is said in a fault: "its panel get callback".
const char *callbackName(Callback c);

// What a handle the host hands out is.
enum class Handle : uint8_t {
  Node,
  Input,
  Output,
  Parameter,
  ChannelGroup,
  Envelope,
  Panel,
  Image,
  Instance,
  LoadState,
  SaveState,
};
// "a channel group (from \"Animation Envelopes\" createGroup)"
const char *handleName(Handle h);

// Where a service may be called from.
enum class From : uint8_t {
  // Any callback but evaluate: create, destroy, copy, load, save, init,
  // cleanup, newTime, activations, input events and panel callbacks, all on
  // the thread the host runs them on.
  HostCallback,
  // Evaluate only: what takes the sample's context or output value.
  Evaluate,
  // Any callback, evaluate included: reads that a render thread may make.
  AnyCallback,
};

struct Violation {
  std::string node;     // the node's name, an activation's server, or empty
  std::string callback; // the callback that was running
  std::string function; // "\"LWVParmFuncs 2\" save"
  std::string argument; // "the save state", or empty for the call itself
  std::string what;     // what is wrong, and the rule it breaks
  int count = 1;        // the same misuse, again
  // One line: "node "Sqrt (1)", in load: "LWVParmFuncs 2" save, the save
  // state: a state the host did not hand ..."
  std::string line() const;
};

// What a load or save callback is handed: a record of the host's own, which
// reaches the stream only while that callback runs. It stays readable after
// (records are reused only once many later callbacks have come and gone), so
// that a module that kept one is refused, not crashed.
struct HandedState {
  LWLoadState load{};
  LWSaveState save{};
  void *stream = nullptr; // the LoadStream or SaveStream; null once its callback returned
};

class Checks {
public:
  Checks();
  ~Checks();
  Checks(const Checks &) = delete;
  Checks &operator=(const Checks &) = delete;

  // The checks of the active host; one that collects for no host when none is.
  static Checks &current() noexcept;
  void makeCurrent() noexcept;

  // ---- the handle book (the thread that runs the host's callbacks only)
  void made(const void *handle, Handle kind, const HostNode *owner = nullptr);
  void destroyed(const void *handle);
  // What a live handle is; false for anything else.
  bool live(const void *handle, Handle kind) const;
  const HostNode *ownerOf(const void *handle) const;
  // What the book says of a pointer that is not a live handle of the kind
  // meant: "a destroyed parameter", "an envelope (...) where a channel group
  // is meant", "not a handle this host made".
  std::string describe(const void *handle, Handle meant) const;

  // ---- handed states
  HandedState *hand();
  void expire(HandedState *h) noexcept;

  // ---- what went wrong (any thread)
  void record(Violation v);
  std::vector<Violation> violations() const;
  std::vector<Violation> take();
  std::size_t count() const;
  // Throws Error naming the first refusal (and how many more) when there
  // was any: what the module did wrong ends what the host was doing for it.
  void requireNone() const;

private:
  struct Entry {
    Handle kind;
    const HostNode *owner;
  };
  std::unordered_map<const void *, Entry> live_;
  // The last handles destroyed, so that a use after destroy is named as one.
  static constexpr std::size_t kRemembered = 1024;
  std::array<std::pair<const void *, Handle>, kRemembered> gone_{};
  std::size_t goneNext_ = 0;

  std::vector<std::unique_ptr<HandedState>> states_; // never freed while the host lives
  std::vector<HandedState *> freeStates_;            // oldest first

  mutable std::mutex mutex_; // the violations
  std::vector<Violation> violations_;
  std::size_t dropped_ = 0;
};

// One call the module makes into the host. Made first thing in the service
// function: checks where the call comes from, then each argument as the
// function asks; records each fault with the running callback. The function
// acts only when the call holds (operator bool).
class Call {
public:
  // Inline: the calls render threads make go through one.
  Call(const char *service, const char *function, From from) noexcept
      : service_(service), function_(function), frame_(Frame::top()) {
    if (!frame_ || (from == From::HostCallback && frame_->callback == Callback::Evaluate) ||
        (from == From::Evaluate && frame_->callback != Callback::Evaluate))
      refuse(from);
  }
  explicit operator bool() const noexcept { return ok_; }
  const Frame *frame() const noexcept { return frame_; }

  // A live handle of the kind, made by this host; null as well where allowed.
  bool handle(const void *h, Handle kind, const char *argument, bool nullAllowed = false);
  // An input: of the evaluating node's own places first, else by the book.
  bool input(NodeInputID in, const char *argument);
  // The shading context of the evaluate now running on this thread.
  bool context(const LWNodalAccess *na, const char *argument);
  // The output value of the evaluate now running on this thread.
  bool value(NodeValue v, const char *argument);
  // The state handed to the load (or save) callback now running.
  bool loadState(const LWLoadState *ls, const char *argument);
  bool saveState(const LWSaveState *ss, const char *argument);
  // The drawing area handed to the draw callback now running.
  bool area(const void *a, const char *argument);
  // Something the host must read or write through.
  bool pointer(const void *p, const char *argument) {
    if (p && frame_) return true;
    return nullPointer(argument);
  }
  // A value the interface defines only some of.
  bool known(bool holds, const char *argument, const std::string &what);

  // Records a fault of this call.
  void fail(const char *argument, std::string what);

private:
  void refuse(From from);
  bool nullPointer(const char *argument);
  const char *service_;
  const char *function_;
  const Frame *frame_;
  bool ok_ = true;
};

} // namespace hostsim
