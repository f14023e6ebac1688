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
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
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
  // The host failed the call (out of memory, say), not the module: the
  // module was answered as for nothing all the same.
  bool hostFault = false;
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
  // Throws when the book cannot grow; the handle is then not in it.
  void made(const void *handle, Handle kind, const HostNode *owner = nullptr);
  void destroyed(const void *handle) noexcept;
  // What a live handle is; false for anything else.
  bool live(const void *handle, Handle kind) const noexcept;
  const HostNode *ownerOf(const void *handle) const noexcept;
  // What the book says of a pointer that is not a live handle of the kind
  // meant: "a destroyed parameter", "an envelope (...) where a channel group
  // is meant", "not a handle this host made".
  std::string describe(const void *handle, Handle meant) const;

  // ---- handed states
  HandedState *hand();
  void expire(HandedState *h) noexcept;

  // ---- what went wrong (any thread)
  void record(Violation v);
  // A fault that could not be recorded (no memory for its text): counted,
  // and reported as such.
  void lost() noexcept { lost_.fetch_add(1, std::memory_order_relaxed); }
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
  std::atomic<std::size_t> lost_{0};
  // The violations, with a line for the lost ones; under the mutex.
  std::vector<Violation> listed() const;
};

// A handle booked while what it names is still being made: a step after that
// fails (no memory) takes it out of the book again, unless it was kept.
class Booking {
public:
  Booking(Checks &checks, const void *handle, Handle kind, const HostNode *owner = nullptr);
  ~Booking();
  Booking(const Booking &) = delete;
  Booking &operator=(const Booking &) = delete;
  void keep() noexcept { handle_ = nullptr; }

private:
  Checks &checks_;
  const void *handle_;
};

// Records that the host failed a call the module made, with the callback
// running on this thread: the module got the answer for nothing.
void hostFailed(const char *service, const char *function, const char *why) noexcept;

// Runs what the host does for a call the module made. Whatever it throws
// (no memory, an Error from a layer below) stops here: the C caller on the
// other side can take no exception. It is the host's own failure, recorded
// for the command to report; the caller answers as for nothing. (The load
// and save streams instead fail the stream, which fails the node's load or
// save: streams.cpp.)
template <class Body> void serve(const char *service, const char *function, Body &&body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (const std::bad_alloc &) {
    hostFailed(service, function, "out of memory");
  } catch (const std::exception &e) {
    hostFailed(service, function, e.what());
  } catch (...) {
    hostFailed(service, function, "an unknown exception");
  }
}

// A function the host hands the module in one of its C records (a service
// table, a load or save state, a drawing table, a shading context): only one
// that lets nothing through may go there.
template <class R, class... Args, bool NoThrow>
constexpr auto handed(R (*function)(Args...) noexcept(NoThrow)) noexcept {
  static_assert(NoThrow, "a function the host hands the module must be noexcept: it answers a failure, it throws nothing");
  return function;
}

// One call the module makes into the host. Made first thing in the service
// function: checks where the call comes from, then each argument as the
// function asks; records each fault with the running callback. The function
// acts only when the call holds (operator bool). Nothing here throws: a fault
// that cannot be recorded is counted as lost.
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
  bool handle(const void *h, Handle kind, const char *argument, bool nullAllowed = false) noexcept;
  // An input: of the evaluating node's own places first, else by the book.
  bool input(NodeInputID in, const char *argument) noexcept;
  // The shading context of the evaluate now running on this thread.
  bool context(const LWNodalAccess *na, const char *argument) noexcept;
  // The output value of the evaluate now running on this thread.
  bool value(NodeValue v, const char *argument) noexcept;
  // The state handed to the load (or save) callback now running.
  bool loadState(const LWLoadState *ls, const char *argument) noexcept;
  bool saveState(const LWSaveState *ss, const char *argument) noexcept;
  // The drawing area handed to the draw callback now running.
  bool area(const void *a, const char *argument) noexcept;
  // Something the host must read or write through.
  bool pointer(const void *p, const char *argument) noexcept {
    if (p && frame_) return true;
    return nullPointer(argument);
  }
  // A value the interface defines only some of; what says what is wrong
  // (see fail).
  template <class What> bool known(bool holds, const char *argument, What &&what) noexcept {
    if (!frame_) return false;
    if (holds) return true;
    fail(argument, std::forward<What>(what));
    return false;
  }

  // Records a fault of this call. what is a text, or a function that makes
  // one: a message built of values is made only when the call fails, where
  // a failure to make it is caught (and never on the path of a call that
  // holds, which render threads make for every sample).
  template <class What> void fail(const char *argument, What &&what) noexcept {
    static_assert(std::is_convertible_v<What, const char *> || std::is_invocable_r_v<std::string, What>,
                  "a message built of values goes in a function: made only when the call fails");
    ok_ = false;
    try {
      if constexpr (std::is_convertible_v<What, const char *>)
        record(argument, std::string(static_cast<const char *>(what)));
      else
        record(argument, std::forward<What>(what)());
    } catch (...) {
      Checks::current().lost();
    }
  }

  // What the host does for the call, once it holds: body's result, or failed
  // (the interface's answer for nothing) when body throws, the fault recorded
  // as the host's (see serve).
  template <class Body> std::invoke_result_t<Body &> answer(std::invoke_result_t<Body &> failed, Body &&body) noexcept {
    std::invoke_result_t<Body &> result = failed;
    serve(service_, function_, [&] { result = body(); });
    return result;
  }
  template <class Body> void perform(Body &&body) noexcept { serve(service_, function_, body); }

private:
  void refuse(From from) noexcept;
  bool nullPointer(const char *argument) noexcept;
  void record(const char *argument, std::string what);
  const char *service_;
  const char *function_;
  const Frame *frame_;
  bool ok_ = true;
};

} // namespace hostsim
