#include "framework/random.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

namespace juxs::fw::rng {
namespace {

constexpr std::size_t kN = 624, kM = 397;
constexpr uint32_t kMatrix = 0x9908B0DFu, kUpper = 0x80000000u, kLower = 0x7FFFFFFFu;
constexpr std::size_t kThreads = 128;  // threads with a state of their own at the same moment
constexpr uint64_t kCheckpointEvery = 16; // generations between published states
constexpr uint64_t kCopyBeyond = 32;      // further behind than this, copy rather than twist

using Words = std::array<uint32_t, kN>;

constexpr Words seeded(uint32_t s) {
  Words w{};
  w[0] = s;
  for (uint32_t i = 1; i < kN; ++i) w[i] = 1812433253u * (w[i - 1] ^ (w[i - 1] >> 30)) + i;
  return w;
}

constexpr uint32_t mix(uint32_t upper, uint32_t lower, uint32_t far) {
  const uint32_t y = (upper & kUpper) | (lower & kLower);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
}

// The next generation, in place: the published recurrence, split where its
// sources change so that each loop is straight-line work the compiler can
// vectorise. Words before 227 read only old words; later ones read a renewed
// word 227 back; the last wraps round to the first.
constexpr void twist(uint32_t *w) {
  for (std::size_t i = 0; i < kN - kM; ++i) w[i] = mix(w[i], w[i + 1], w[i + kM]);
  for (std::size_t i = kN - kM; i < kN - 1; ++i) w[i] = mix(w[i], w[i + 1], w[i + kM - kN]);
  w[kN - 1] = mix(w[kN - 1], w[0], w[kM - 1]);
}

inline uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

// A thread's own copy of the state: generation gen of the sequence of the
// seeding numbered epoch.
struct alignas(64) State {
  Words words{};
  uint64_t gen = 0;
  uint64_t epoch = 0; // 0: holds nothing yet
  std::atomic<bool> taken{false};
};

// A recent generation for threads far behind to start from. Written by one
// thread at a time under a sequence count (odd while being written); readers
// copy it and keep the copy only if the count did not move meanwhile.
struct Checkpoint {
  std::atomic<uint64_t> sequence{0};
  std::atomic<uint64_t> epoch{0};
  std::atomic<uint64_t> gen{0};
  std::atomic<uint32_t> words[kN] = {};
};

struct Generator {
  alignas(64) std::atomic<uint64_t> cursor{0}; // the next position to hand out
  // Threads beyond the table share one state, taking turns.
  alignas(64) std::atomic_flag overflowBusy;
  State overflow;
  // Seeding number (high half) and seed (low half), read together. Epoch 1 is
  // the state at module load: never seeded, which draws as seed 5489.
  alignas(64) std::atomic<uint64_t> seeding{(uint64_t{1} << 32) | 5489u};
  alignas(64) Checkpoint checkpoint;
  State states[kThreads];
};

constinit Generator gen;

void relax(int &spins) {
  if (++spins > 64) std::this_thread::yield();
}

// Each drawing thread holds one state record from its first draw to its end,
// or shares the overflow state when every record is taken.
class StateHandle {
public:
  StateHandle() {
    for (State &s : gen.states) {
      bool expected = false;
      if (s.taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
        state_ = &s;
        state_->epoch = 0; // a record another thread left is not this thread's
        return;
      }
    }
  }
  ~StateHandle() {
    if (state_) state_->taken.store(false, std::memory_order_release);
  }
  State *get() const { return state_; }

private:
  State *state_ = nullptr;
};

// The fast path reads a plain thread-local pointer; only a thread's first
// draw constructs the handle that gives its record back when the thread ends.
thread_local State *tState = nullptr;

State *registerState() {
  thread_local StateHandle handle;
  tState = handle.get() ? handle.get() : &gen.overflow;
  return tState;
}

inline State *myState() {
  if (State *s = tState) [[likely]]
    return s;
  return registerState();
}

void publish(const State &s) {
  Checkpoint &c = gen.checkpoint;
  uint64_t seq = c.sequence.load(std::memory_order_relaxed);
  if ((seq & 1) || (c.epoch.load(std::memory_order_relaxed) == s.epoch && c.gen.load(std::memory_order_relaxed) >= s.gen))
    return; // being written, or already as recent
  // The words are released so that a reader who sees any of them also sees
  // the odd count that marks them as being written.
  if (!c.sequence.compare_exchange_strong(seq, seq + 1, std::memory_order_acquire)) return;
  c.epoch.store(s.epoch, std::memory_order_release);
  c.gen.store(s.gen, std::memory_order_release);
  for (std::size_t i = 0; i < kN; ++i) c.words[i].store(s.words[i], std::memory_order_release);
  c.sequence.store(seq + 2, std::memory_order_release);
}

// Replaces s by the checkpoint when that is of the same seeding, ahead of s
// and not beyond g; false when it is not, or was being written.
bool adoptCheckpoint(State &s, uint64_t g) {
  const Checkpoint &c = gen.checkpoint;
  const uint64_t seq = c.sequence.load(std::memory_order_acquire);
  if (seq & 1) return false;
  const uint64_t epoch = c.epoch.load(std::memory_order_acquire), cg = c.gen.load(std::memory_order_acquire);
  if (epoch != s.epoch || cg <= s.gen || cg > g) return false;
  Words copy;
  for (std::size_t i = 0; i < kN; ++i) copy[i] = c.words[i].load(std::memory_order_acquire);
  if (c.sequence.load(std::memory_order_relaxed) != seq) return false;
  s.words = copy;
  s.gen = cg;
  return true;
}

// Brings s to generation g of the current seeding.
void advance(State &s, uint64_t seeding, uint64_t g) {
  const uint64_t epoch = seeding >> 32;
  if (s.epoch != epoch || s.gen > g) {
    s.words = seeded(static_cast<uint32_t>(seeding));
    twist(s.words.data());
    s.gen = 0;
    s.epoch = epoch;
  }
  if (g - s.gen > kCopyBeyond) adoptCheckpoint(s, g);
  while (s.gen < g) {
    twist(s.words.data());
    if (++s.gen % kCheckpointEvery == 0) publish(s);
  }
}

void drawInto(State &s, uint32_t *out, std::size_t n) {
  const uint64_t seeding = gen.seeding.load(std::memory_order_acquire);
  uint64_t p = gen.cursor.fetch_add(n, std::memory_order_relaxed);
  while (n > 0) {
    const uint64_t g = p / kN;
    const std::size_t i = p % kN;
    const std::size_t k = std::min<std::size_t>(n, kN - i);
    if (s.gen != g || s.epoch != seeding >> 32) advance(s, seeding, g);
    for (std::size_t j = 0; j < k; ++j) out[j] = temper(s.words[i + j]);
    out += k;
    p += k;
    n -= k;
  }
}

} // namespace

void seed(uint32_t s) noexcept {
  uint64_t old = gen.seeding.load(std::memory_order_relaxed);
  gen.cursor.store(0, std::memory_order_relaxed);
  // A new seeding number makes every thread restart from the seed.
  while (!gen.seeding.compare_exchange_weak(old, (((old >> 32) + 1) << 32) | s, std::memory_order_acq_rel)) {
  }
}

void draw(uint32_t *out, std::size_t n) noexcept {
  if (!out || n == 0) return;
  State *s = myState();
  if (s != &gen.overflow) [[likely]] {
    drawInto(*s, out, n);
    return;
  }
  for (int spins = 0; gen.overflowBusy.test_and_set(std::memory_order_acquire);) relax(spins);
  drawInto(*s, out, n);
  gen.overflowBusy.clear(std::memory_order_release);
}

} // namespace juxs::fw::rng
