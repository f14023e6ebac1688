// The module random generator: one MT19937 sequence shared by every node and
// every render thread.
//
// Each call claims a block of consecutive positions of the sequence with one
// atomic add, so concurrent callers receive disjoint blocks and every number
// is handed out exactly once; a single-threaded series of calls yields the
// published MT19937 sequence. The 624-word generations are twisted once each,
// by the caller whose block holds a generation's first word, into a small ring;
// callers temper their own words outside any shared state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace juxs::fw::rng {

// The published MT19937 seeding; the next draw starts the new sequence.
// Creation callbacks call it, which the host never runs during evaluation:
// seeding must not overlap draws.
void seed(uint32_t s) noexcept;

// The next n numbers of the sequence, in order, into out.
// render threads, concurrently
void draw(uint32_t *out, std::size_t n) noexcept;

inline uint32_t draw1() noexcept {
  uint32_t v;
  draw(&v, 1);
  return v;
}

} // namespace juxs::fw::rng
