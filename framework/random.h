// The module random generator: one MT19937 sequence shared by every node and
// every render thread.
//
// Each call claims a block of consecutive positions of the sequence with one
// atomic add, so concurrent callers receive disjoint blocks and every number
// is handed out exactly once; a single-threaded series of calls yields the
// published MT19937 sequence. Every drawing thread keeps its own copy of the
// generator's state and twists it forward to the generation its block lies in,
// so the only memory the threads share per call is the claim itself.
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

inline uint32_t draw1() noexcept {
  uint32_t v;
  draw(&v, 1);
  return v;
}

} // namespace juxs::fw::rng
