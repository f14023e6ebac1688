// The module random generator: one MT19937 sequence shared by every node and
// every render thread.
//
// Each call claims a block of consecutive positions of the sequence with one
// atomic add (or takes it from its thread's Hold, below), so concurrent
// callers receive disjoint blocks and every number is handed out exactly
// once; a single-threaded series of calls yields the published MT19937
// sequence. Copies of the generator's state are twisted forward to the
// generation a block lies in; each draw uses one copy, as a rule the one its
// thread used last, so threads drawing at once share only the claim; a draw
// of a few numbers reads them, tempered, from the generation its copy last
// showed, without taking the copy. Nothing is kept for a thread that needs
// undoing when it ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace juxs::fw::rng {

// The published MT19937 seeding; the next draw starts the new sequence.
// host thread (node creation)
void seed(uint32_t s) noexcept;

// The next n numbers of the sequence, in order, into out.
// render threads, concurrently
void draw(uint32_t *out, std::size_t n) noexcept;

// Holds the next n positions of the sequence for this thread until it ends,
// for an evaluation that draws in many small calls between traces (whose
// shading may draw too): each of those draws then takes no claim of its own.
// Every draw on this thread meanwhile, the evaluation's and those of the
// networks it shades, takes the held positions in call order and claims on
// when they run out, so one thread still draws the sequence in call order.
// What is left at the end is given back unless something was claimed after
// it. Holds nest: an inner one adds nothing. One evaluation's stack only.
// render threads
class Hold {
public:
  explicit Hold(std::size_t n) noexcept;
  ~Hold();
  Hold(const Hold &) = delete;
  Hold &operator=(const Hold &) = delete;
};

// Where a thread's held draws stand: the position of its next number, and
// the numbers tempered ahead for it (ready of them, from the at-th on).
// Shown by peek so that take is inline.
struct Place {
  uint64_t next;
  uint32_t at, ready;
};

// Looking ahead inside a Hold, for an evaluation that makes the rays of
// several samples at once although the trace of each may draw (its shading
// does, on this thread). peek(n): up to n of the numbers this thread's next
// draws will take if nothing else draws first, in order, with where the
// thread stands. They stay as they are until this thread next draws, peeks
// or takes. Outside a Hold, and past what it holds, fewer (none) are shown.
struct Ahead {
  const uint32_t *numbers;
  std::size_t count;
  uint64_t at;
  Place *place; // this thread's
};
// render threads
Ahead peek(std::size_t n) noexcept;

// Takes n numbers unread, as a draw of n would, if they are still the next:
// those a shows from its from-th on, with nothing drawn since the peek but
// what took the ones before them. Otherwise false, taking nothing.
// render threads
inline bool take(const Ahead &a, std::size_t from, std::size_t n) noexcept {
  Place *p = a.place;
  if (!p || p->next != a.at + from || n > p->ready) return false;
  p->next += n;
  p->at += static_cast<uint32_t>(n);
  p->ready -= static_cast<uint32_t>(n);
  return true;
}

// A draw d as d / (2^32 - 1): 0 and 1 both reachable.
constexpr double unit(uint32_t d) noexcept { return d * (1.0 / 4294967295.0); }

// The instructions that twist and temper: the widest the processor has
// (AVX-512, else AVX2, else SSE2), or plain C++ where none exists. The
// sequence is the same on each; tests make each draw it.
enum class Simd { Plain, Sse2, Avx2, Avx512 };
Simd simd() noexcept;
// Twists and tempers with s from the next draw on; false, changing nothing,
// where the processor lacks it. Between draws, while no other thread draws.
bool useSimd(Simd s) noexcept;

inline uint32_t draw1() noexcept {
  uint32_t v;
  draw(&v, 1);
  return v;
}

} // namespace juxs::fw::rng
