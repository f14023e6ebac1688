#include "hostsim/checks.h"

#include <algorithm>

#include "hostsim/error.h"
#include "hostsim/services/node_services.h"

namespace hostsim {
namespace {

Checks *gCurrent = nullptr;

// Enough to tell a module's faults apart; a module that breaks the rules in
// a loop would otherwise fill the memory with one fault.
constexpr std::size_t kMaxViolations = 256;
// Records a kept state may still be read through: a state is reused only
// when this many others have been handed back since.
constexpr std::size_t kQuarantine = 64;

const char *article(Handle h) {
  switch (h) {
  case Handle::Input:
  case Handle::Output:
  case Handle::Envelope:
  case Handle::Image:
    return "an";
  default:
    return "a";
  }
}

std::string nameOf(Handle h) { return std::string(article(h)) + " " + handleName(h); }

} // namespace

const char *callbackName(Callback c) {
  switch (c) {
  case Callback::HandlerActivation:
    return "its NodeHandler activation";
  case Callback::InterfaceActivation:
    return "its NodeInterface activation";
  case Callback::Create:
    return "create";
  case Callback::Destroy:
    return "destroy";
  case Callback::Copy:
    return "copy";
  case Callback::Load:
    return "load";
  case Callback::Save:
    return "save";
  case Callback::Init:
    return "init";
  case Callback::Cleanup:
    return "cleanup";
  case Callback::NewTime:
    return "newTime";
  case Callback::Evaluate:
    return "evaluate";
  case Callback::InputEvent:
    return "its input event callback";
  case Callback::PanelGet:
    return "its panel get callback";
  case Callback::PanelSet:
    return "its panel set callback";
  case Callback::PanelChange:
    return "its panel change notification";
  case Callback::PanelDestroy:
    return "its panel destroy notification";
  case Callback::PanelDraw:
    return "its panel drawing callback";
  case Callback::PopupCount:
    return "its popup count callback";
  case Callback::PopupName:
    return "its popup name callback";
  case Callback::ImageEvent:
    return "its image event callback";
  }
  return "a callback";
}

const char *handleName(Handle h) {
  switch (h) {
  case Handle::Node:
    return "node (NodeID)";
  case Handle::Input:
    return "input (from \"NodeInputFuncs\" create)";
  case Handle::Output:
    return "output (from \"NodeOutputFuncs\" create)";
  case Handle::Parameter:
    return "variant parameter (from \"LWVParmFuncs 2\" create)";
  case Handle::ChannelGroup:
    return "channel group (from \"Animation Envelopes\" createGroup or \"NodeFuncs\" chanGrp)";
  case Handle::Envelope:
    return "envelope (from \"Animation Envelopes\" create)";
  case Handle::Panel:
    return "panel (from \"LWXPanel\" create)";
  case Handle::Image:
    return "image (from \"LW Image List\")";
  case Handle::Instance:
    return "node instance (from a create callback)";
  case Handle::LoadState:
    return "load state";
  case Handle::SaveState:
    return "save state";
  }
  return "handle";
}

std::string Violation::line() const {
  if (function.empty()) return what; // not a call's: faults that went unrecorded
  std::string s;
  if (!node.empty()) s += "node \"" + node + "\", ";
  s += "in " + callback + ": " + function;
  if (!argument.empty()) s += ", " + argument;
  s += ": " + what;
  if (count > 1) s += " (" + std::to_string(count) + " times)";
  return s;
}

Checks::Checks() = default;

Checks::~Checks() {
  if (gCurrent == this) gCurrent = nullptr;
}

Checks &Checks::current() noexcept {
  // Calls made while no host is active are checked against a book of none.
  static Checks orphan;
  return gCurrent ? *gCurrent : orphan;
}

void Checks::makeCurrent() noexcept { gCurrent = this; }

void Checks::made(const void *handle, Handle kind, const HostNode *owner) {
  if (handle) live_[handle] = Entry{kind, owner};
}

void Checks::destroyed(const void *handle) noexcept {
  const auto it = live_.find(handle);
  if (it == live_.end()) return;
  gone_[goneNext_] = {handle, it->second.kind};
  goneNext_ = (goneNext_ + 1) % kRemembered;
  live_.erase(it);
}

bool Checks::live(const void *handle, Handle kind) const noexcept {
  const auto it = live_.find(handle);
  return it != live_.end() && it->second.kind == kind;
}

const HostNode *Checks::ownerOf(const void *handle) const noexcept {
  const auto it = live_.find(handle);
  return it == live_.end() ? nullptr : it->second.owner;
}

std::string Checks::describe(const void *handle, Handle meant) const {
  if (!handle) return "null where " + nameOf(meant) + " is meant";
  if (const auto it = live_.find(handle); it != live_.end()) {
    if (it->second.kind == meant) return nameOf(meant) + ", live";
    return nameOf(it->second.kind) + " where " + nameOf(meant) + " is meant";
  }
  // Newest first: an address reused by a later handle was found live above.
  for (std::size_t k = 0; k < kRemembered; ++k) {
    const auto &[h, kind] = gone_[(goneNext_ + kRemembered - 1 - k) % kRemembered];
    if (h != handle) continue;
    if (kind == Handle::LoadState || kind == Handle::SaveState)
      return std::string(kind == Handle::LoadState ? "a load" : "a save") +
             " state whose callback has returned (states live only while the callback they were handed to runs)";
    if (kind == meant) return nameOf(meant) + " that was destroyed";
    return nameOf(kind) + ", destroyed, where " + nameOf(meant) + " is meant";
  }
  return "not " + nameOf(meant) + " this host made, nor any handle it knows";
}

Booking::Booking(Checks &checks, const void *handle, Handle kind, const HostNode *owner)
    : checks_(checks), handle_(handle) {
  checks.made(handle, kind, owner);
}

Booking::~Booking() {
  if (handle_) checks_.destroyed(handle_);
}

HandedState *Checks::hand() {
  HandedState *h;
  if (freeStates_.size() > kQuarantine) {
    h = freeStates_.front();
    freeStates_.erase(freeStates_.begin());
  } else {
    // Room for every state in the free list first: expire, which runs as a
    // callback's scope ends, then never allocates.
    freeStates_.reserve(states_.size() + 1);
    states_.push_back(std::make_unique<HandedState>());
    h = states_.back().get();
  }
  return h;
}

void Checks::expire(HandedState *h) noexcept {
  h->stream = nullptr;
  destroyed(&h->load);
  destroyed(&h->save);
  freeStates_.push_back(h);
}

void Checks::record(Violation v) {
  std::lock_guard lock(mutex_);
  for (Violation &seen : violations_)
    if (seen.node == v.node && seen.callback == v.callback && seen.function == v.function &&
        seen.argument == v.argument && seen.what == v.what) {
      ++seen.count;
      return;
    }
  if (violations_.size() >= kMaxViolations) {
    ++dropped_;
    return;
  }
  violations_.push_back(std::move(v));
}

std::vector<Violation> Checks::listed() const {
  std::vector<Violation> all = violations_;
  if (const std::size_t n = lost_.load(std::memory_order_relaxed)) {
    Violation v;
    v.what = std::to_string(n) + (n == 1 ? " fault" : " faults") + " the host could not record (out of memory)";
    v.hostFault = true;
    all.push_back(std::move(v));
  }
  return all;
}

std::vector<Violation> Checks::violations() const {
  std::lock_guard lock(mutex_);
  return listed();
}

std::vector<Violation> Checks::take() {
  std::lock_guard lock(mutex_);
  std::vector<Violation> all = listed();
  violations_.clear();
  dropped_ = 0;
  lost_ = 0;
  return all;
}

std::size_t Checks::count() const {
  std::lock_guard lock(mutex_);
  return violations_.size() + dropped_ + lost_.load(std::memory_order_relaxed);
}

void Checks::requireNone() const {
  std::lock_guard lock(mutex_);
  const std::vector<Violation> all = listed();
  if (all.empty() && !dropped_) return;
  const std::size_t more = all.size() + dropped_ - 1;
  // What the module did wrong, or what the host failed to do for it, ends
  // what the host was doing: either way its answer was not the one asked for.
  const bool host = !all.empty() && all.front().hostFault;
  throw Error(std::string(host ? "the host failed a call the module made: "
                               : "the module called the host in a way the host does not allow: ") +
              (all.empty() ? std::string("more refusals than are kept") : all.front().line()) +
              (more ? " (and " + std::to_string(more) + " more)" : ""));
}

// ---------------------------------------------------------------- calls

// The call comes from where it may not.
void Call::refuse(From from) noexcept {
  // The host calls a module only from its callbacks, and a module calls the
  // host only while one runs: on a thread of the module's own, or from a
  // function kept and called later, nothing is running.
  if (!frame_) {
    fail(nullptr, "called outside any callback: the host takes calls only while a callback it made runs on the "
                  "calling thread");
    return;
  }
  // Render threads evaluate; everything else of the host is the host
  // thread's, run from the callbacks outside evaluation.
  if (from == From::HostCallback)
    fail(nullptr, "called from evaluate: render threads may evaluate inputs, test connections, set the output "
                  "value, use the shading context's operations, read images and the backdrop, blend and map; "
                  "every other service only from the host's callbacks outside evaluation");
  else
    fail(nullptr, [&] {
      return std::string("called from ") + callbackName(frame_->callback) +
             ": it works on the sample being evaluated and exists only inside evaluate";
    });
}

namespace {

// A fault of a call to a service's function, made while frame runs.
Violation violationIn(const Frame *frame, const char *service, const char *function) {
  Violation v;
  if (frame) {
    if (frame->node)
      v.node = frame->node->name;
    else if (frame->server)
      v.node = frame->server;
    v.callback = callbackName(frame->callback);
  } else {
    v.callback = "no callback";
  }
  v.function = std::string("\"") + service + "\" " + function;
  return v;
}

} // namespace

void Call::record(const char *argument, std::string what) {
  Violation v = violationIn(frame_, service_, function_);
  if (argument) v.argument = argument;
  v.what = std::move(what);
  Checks::current().record(std::move(v));
}

void hostFailed(const char *service, const char *function, const char *why) noexcept {
  try {
    Violation v = violationIn(Frame::top(), service, function);
    v.what = std::string(why) + " (the module was answered as for nothing)";
    v.hostFault = true;
    Checks::current().record(std::move(v));
  } catch (...) {
    Checks::current().lost();
  }
}

// The book is read only on a thread running a callback: nothing changes it
// while render threads evaluate. Without a frame the call has failed already.
bool Call::handle(const void *h, Handle kind, const char *argument, bool nullAllowed) noexcept {
  if (!frame_) return false;
  if (!h) {
    if (nullAllowed) return true;
    fail(argument, [&] { return "null where " + nameOf(kind) + " is meant"; });
    return false;
  }
  const Checks &checks = Checks::current();
  if (checks.live(h, kind)) return true;
  fail(argument, [&] { return checks.describe(h, kind); });
  return false;
}

bool Call::input(NodeInputID in, const char *argument) noexcept {
  // Most inputs a node evaluates are its own: told by its places, no look-up.
  if (in && frame_ && frame_->node && frame_->node->inputPlaces.holds(in)) return true;
  return handle(in, Handle::Input, argument);
}

bool Call::context(const LWNodalAccess *na, const char *argument) noexcept {
  if (!frame_) return false;
  if (frame_->callback == Callback::Evaluate && na && na == frame_->context) return true;
  if (!na)
    fail(argument, "null where the shading context is meant");
  else if (frame_->callback != Callback::Evaluate)
    fail(argument, "a shading context outside the evaluate it was handed to");
  else
    fail(argument, "not the shading context of the evaluate now running on this thread (one kept from another "
                   "evaluate, or a copy): a context is the host's for the evaluate it is handed to");
  return false;
}

bool Call::value(NodeValue v, const char *argument) noexcept {
  if (!frame_) return false;
  if (frame_->callback == Callback::Evaluate && v && v == frame_->value) return true;
  fail(argument, !v ? "null where the output value is meant"
                    : "not the output value of the evaluate now running on this thread: a value handle is the "
                      "host's for the evaluate it is handed to");
  return false;
}

namespace {

template <class State>
std::string stateFault(const Frame &f, const State *s, Callback owner, Handle kind, const char *word) {
  if (!s) return std::string("null where the ") + word + " state is meant";
  const Checks &checks = Checks::current();
  if (checks.live(s, kind)) // handed, but to another callback
    return std::string("a ") + word + " state handed to another callback than this " + callbackName(f.callback);
  const std::string known = checks.describe(s, kind);
  if (known.rfind(std::string("a ") + word + " state whose", 0) == 0) return known;
  if (f.callback != owner)
    return std::string("a ") + word + " state in " + callbackName(f.callback) + ": only the " +
           callbackName(owner) + " callback is handed one, and only its own may be passed on";
  return std::string("a ") + word + " state the host did not hand to this " + callbackName(owner) +
         " callback (one the module made itself?): only the state the host hands may be passed on";
}

} // namespace

bool Call::loadState(const LWLoadState *ls, const char *argument) noexcept {
  if (!frame_) return false;
  if (frame_->callback == Callback::Load && ls && ls == frame_->state) return true;
  fail(argument, [&] { return stateFault(*frame_, ls, Callback::Load, Handle::LoadState, "load"); });
  return false;
}

bool Call::saveState(const LWSaveState *ss, const char *argument) noexcept {
  if (!frame_) return false;
  if (frame_->callback == Callback::Save && ss && ss == frame_->state) return true;
  fail(argument, [&] { return stateFault(*frame_, ss, Callback::Save, Handle::SaveState, "save"); });
  return false;
}

bool Call::area(const void *a, const char *argument) noexcept {
  if (!frame_) return false;
  if (frame_->callback == Callback::PanelDraw && a && a == frame_->area) return true;
  if (frame_->callback != Callback::PanelDraw)
    fail(argument, [&] {
      return std::string("drawing in ") + callbackName(frame_->callback) +
             ": a drawing area exists only while the drawing callback it was handed to runs";
    });
  else
    fail(argument, "not the drawing area handed to this drawing callback");
  return false;
}

bool Call::nullPointer(const char *argument) noexcept {
  if (!frame_) return false;
  fail(argument, "null where the host must read or write");
  return false;
}

} // namespace hostsim
