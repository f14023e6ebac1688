// Evaluation state kept per render thread (Counter, Hold Value): each thread
// reads and writes only the slot of its own thread number, so no lock is
// needed while the host evaluates one instance on many threads at once.
#pragma once

#include <cstdint>

#include "host/lw_host.h"

namespace juxs::fw {

// Render threads with a slot of their own.
inline constexpr int32_t kThreadSlots = 64;

// The first three fields of the instance of a node with per-thread state.
struct ThreadSlots {
  int32_t firstSample[kThreadSlots]; // 1: the thread has not evaluated since render start
  double value[kThreadSlots];        // what the thread's evaluations carry on
  double previousA[kThreadSlots];    // the A the thread saw last, where a mode compares with it
};

// The slot of a thread number, or -1 for a number outside the table. A thread
// without a slot must not write to the instance at all: folding such numbers
// onto a slot (clamping, wrapping) would let two threads that evaluate at the
// same time write one slot. Nodes give it the result of a first sample, which
// needs no history, and keep nothing.
constexpr int32_t slotOf(int32_t threadNum) noexcept {
  return threadNum >= 0 && threadNum < kThreadSlots ? threadNum : -1;
}

// One evaluation on the slot of thread threadNum: the thread's first sample
// takes first and notes a; each later one takes next(value, previousA), and
// notes a where the mode compares a with what it was (tracksA). The result is
// the slot's value, or first for a thread without a slot, which keeps
// nothing. render threads, concurrently: each writes only its own slot
template <class Next>
double step(ThreadSlots &s, int32_t threadNum, double first, double a, bool tracksA, Next next) noexcept {
  const int32_t t = slotOf(threadNum);
  if (t < 0) return first;
  if (s.firstSample[t]) {
    s.firstSample[t] = 0;
    s.value[t] = first;
    s.previousA[t] = a;
  } else {
    s.value[t] = next(s.value[t], s.previousA[t]);
    if (tracksA) s.previousA[t] = a;
  }
  return s.value[t];
}

// Every thread starts over at its next evaluation.
inline void restart(ThreadSlots &slots) noexcept {
  for (int32_t &f : slots.firstSample) f = 1;
}

// The init of such a kind. host thread, render start
template <class Instance>
LWError restartThreads(LWInstance inst, int32_t) noexcept {
  if (inst) restart(static_cast<Instance *>(inst)->threads);
  return nullptr;
}
// Its onDefaults: a new instance counts as freshly started. host thread
template <class Instance>
void startThreads(void *inst, void *) noexcept {
  restart(static_cast<Instance *>(inst)->threads);
}

} // namespace juxs::fw
