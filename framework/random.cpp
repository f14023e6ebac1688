#include "framework/random.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

namespace juxs::fw::rng {
namespace {

constexpr std::size_t kN = 624, kM = 397;
constexpr uint32_t kMatrix = 0x9908B0DFu, kUpper = 0x80000000u, kLower = 0x7FFFFFFFu;
constexpr uint32_t kStates = 128;         // copies of the state: draws that run at the same moment without waiting
constexpr uint64_t kCheckpointEvery = 16; // generations between published states
constexpr uint64_t kCopyBeyond = 32;      // further behind than this, copy rather than twist
constexpr std::size_t kMaxHeld = 16 * kN; // positions one Hold claims at most

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

// A copy of the state: generation gen of the sequence of the seeding numbered
// epoch. Any thread may use any copy; busy marks the one draw using it now.
struct alignas(64) State {
  Words words{};
  uint64_t gen = 0;
  uint64_t epoch = 0; // 0: holds nothing yet
  std::atomic<bool> busy{false};
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
  // Seeding number (high half) and seed (low half), read together. Epoch 1 is
  // the state at module load: never seeded, which draws as seed 5489.
  alignas(64) std::atomic<uint64_t> seeding{(uint64_t{1} << 32) | 5489u};
  alignas(64) std::atomic<uint32_t> nextHome{0};
  alignas(64) Checkpoint checkpoint;
  State states[kStates];
};

constinit Generator gen;

void relax(int &spins) {
  if (++spins > 64) std::this_thread::yield();
}

// The copy a thread drew from last, so that its next draw finds that copy
// at its own generation and in its own cache. A plain number: nothing of the
// module runs when a thread ends, and a thread may outlive the module (the
// host can unload it while its render threads live on); thread-exit code of
// an unloaded library would crash, or hold the library and run under the
// system loader's lock.
constexpr uint32_t kNoHome = ~0u;
thread_local constinit uint32_t tHome = kNoHome;

// Takes a free copy for one draw, the thread's own first. Threads meeting on
// one copy part at their first collision: the one that finds it busy keeps
// the free copy it moves on to.
State &lease() {
  uint32_t home = tHome;
  if (home == kNoHome) [[unlikely]]
    home = tHome = gen.nextHome.fetch_add(1, std::memory_order_relaxed) % kStates;
  for (int spins = 0;; relax(spins)) {
    for (uint32_t k = 0; k < kStates; ++k) {
      const uint32_t i = (home + k) % kStates;
      State &s = gen.states[i];
      if (!s.busy.load(std::memory_order_relaxed) && !s.busy.exchange(true, std::memory_order_acquire)) {
        if (k) tHome = i;
        return s;
      }
    }
  }
}

inline void release(State &s) { s.busy.store(false, std::memory_order_release); }

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

// The numbers at positions p to p + n of the sequence of that seeding.
void fill(State &s, uint64_t seeding, uint64_t p, uint32_t *out, std::size_t n) {
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

// What a thread holds between a Hold's start and end: a copy of the state,
// leased for the whole time, and the positions not yet drawn. A plain record,
// for the same reason as tHome.
struct Held {
  State *state;
  uint64_t seeding;
  uint64_t next, end;
  uint32_t depth;
};
thread_local constinit Held tHeld{};

void drawHeld(Held &h, uint32_t *out, std::size_t n) {
  const std::size_t k = static_cast<std::size_t>(std::min<uint64_t>(n, h.end - h.next));
  fill(*h.state, h.seeding, h.next, out, k);
  h.next += k;
  if (n == k) return;
  // Beyond what was held: claimed like any draw. On one thread nothing came
  // in between, so these follow on where the held ones ended.
  h.seeding = gen.seeding.load(std::memory_order_acquire);
  h.next = gen.cursor.fetch_add(n - k, std::memory_order_relaxed);
  fill(*h.state, h.seeding, h.next, out + k, n - k);
  h.next = h.end = h.next + (n - k);
}

} // namespace

Hold::Hold(std::size_t n) noexcept {
  Held &h = tHeld;
  if (h.depth++) return;
  // Other threads claim beyond what is held and must twist their way past it:
  // a hold for an evaluation of a vast count holds only the start of it.
  n = std::min<std::size_t>(n, kMaxHeld);
  h.state = &lease();
  h.seeding = gen.seeding.load(std::memory_order_acquire);
  h.next = gen.cursor.fetch_add(n, std::memory_order_relaxed);
  h.end = h.next + n;
}

Hold::~Hold() {
  Held &h = tHeld;
  if (--h.depth) return;
  // The rest goes back if nothing was claimed after it (always so on one
  // thread), so that the draws that follow are the ones that would have.
  uint64_t end = h.end;
  if (h.next != end && gen.seeding.load(std::memory_order_relaxed) == h.seeding)
    gen.cursor.compare_exchange_strong(end, h.next, std::memory_order_relaxed);
  release(*h.state);
  h.state = nullptr;
}

void seed(uint32_t s) noexcept {
  uint64_t old = gen.seeding.load(std::memory_order_relaxed);
  gen.cursor.store(0, std::memory_order_relaxed);
  // A new seeding number makes every thread restart from the seed.
  while (!gen.seeding.compare_exchange_weak(old, (((old >> 32) + 1) << 32) | s, std::memory_order_acq_rel)) {
  }
}

void draw(uint32_t *out, std::size_t n) noexcept {
  if (!out || n == 0) return;
  if (Held &h = tHeld; h.depth) {
    drawHeld(h, out, n);
    return;
  }
  State &s = lease();
  const uint64_t seeding = gen.seeding.load(std::memory_order_acquire);
  fill(s, seeding, gen.cursor.fetch_add(n, std::memory_order_relaxed), out, n);
  release(s);
}

} // namespace juxs::fw::rng
