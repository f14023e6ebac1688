#include "framework/random.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

namespace juxs::fw::rng {
namespace {

constexpr std::size_t kN = 624, kM = 397;
constexpr uint32_t kMatrix = 0x9908B0DFu, kUpper = 0x80000000u, kLower = 0x7FFFFFFFu;
constexpr std::size_t kRing = 8;     // generations kept at once
constexpr std::size_t kReaders = 256; // threads that may draw at the same moment
constexpr uint64_t kIdle = UINT64_MAX;
constexpr uint64_t kNone = UINT64_MAX;

using Words = std::array<uint32_t, kN>;

constexpr Words seeded(uint32_t s) {
  Words w{};
  w[0] = s;
  for (uint32_t i = 1; i < kN; ++i) w[i] = 1812433253u * (w[i - 1] ^ (w[i - 1] >> 30)) + i;
  return w;
}

// The next generation from the previous one: the in-place twist's recurrence,
// split where its sources change so that each loop is straight-line work the
// compiler can vectorise. Words before 227 read only the old generation; later
// ones read a renewed word 227 back; the last wraps round to the first.
constexpr uint32_t mix(uint32_t upper, uint32_t lower, uint32_t far) {
  const uint32_t y = (upper & kUpper) | (lower & kLower);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
}

constexpr void twist(const uint32_t *prev, uint32_t *next) {
  for (std::size_t i = 0; i < kN - kM; ++i) next[i] = mix(prev[i], prev[i + 1], prev[i + kM]);
  for (std::size_t i = kN - kM; i < kN - 1; ++i) next[i] = mix(prev[i], prev[i + 1], next[i + kM - kN]);
  next[kN - 1] = mix(prev[kN - 1], next[0], next[kM - 1]);
}

constexpr Words firstGeneration(uint32_t s) {
  const Words state = seeded(s);
  Words out{};
  twist(state.data(), out.data());
  return out;
}

inline uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

struct alignas(64) Slot {
  constexpr Slot() : generation(kNone), words{} {}
  constexpr Slot(uint64_t g, const Words &w) : generation(g), words(w) {}
  std::atomic<uint64_t> generation; // which generation the words hold
  Words words;
};

// A drawing thread's promise not to need any generation below the value.
struct alignas(64) Reader {
  std::atomic<uint64_t> generation{kIdle};
  std::atomic<bool> taken{false};
};

struct Generator {
  alignas(64) std::atomic<uint64_t> cursor{0}; // the next position to hand out
  alignas(64) std::atomic<std::size_t> readersUsed{0};
  // Never seeded: the sequence of seed 5489, ready from the start.
  Slot slots[kRing] = {Slot(0, firstGeneration(5489u))};
  Reader readers[kReaders];
};

constinit Generator gen;

void relax(int &spins) {
  if (++spins > 16) std::this_thread::yield();
}

// Each drawing thread holds one reader record from first draw to its exit.
class ReaderHandle {
public:
  ReaderHandle() {
    for (int spins = 0;; relax(spins)) {
      for (std::size_t i = 0; i < kReaders; ++i) {
        bool expected = false;
        if (gen.readers[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
          reader_ = &gen.readers[i];
          std::size_t used = gen.readersUsed.load(std::memory_order_relaxed);
          while (used < i + 1 && !gen.readersUsed.compare_exchange_weak(used, i + 1, std::memory_order_acq_rel)) {
          }
          return;
        }
      }
      // More threads than records draw at this moment: wait for one to end.
    }
  }
  ~ReaderHandle() {
    reader_->generation.store(kIdle, std::memory_order_release);
    reader_->taken.store(false, std::memory_order_release);
  }
  Reader &operator*() const { return *reader_; }

private:
  Reader *reader_ = nullptr;
};

// The fast path reads a plain thread-local pointer; only a thread's first
// draw constructs the handle that gives its record back when the thread ends.
thread_local Reader *tReader = nullptr;

Reader &registerReader() {
  thread_local ReaderHandle handle;
  tReader = &*handle;
  return *tReader;
}

inline Reader &myReader() {
  if (Reader *r = tReader) [[likely]]
    return *r;
  return registerReader();
}

// Writes generation g into its slot, once no reader may still need the
// generation the slot holds and generation g - 1 is complete.
void produce(uint64_t g) {
  const Slot &prev = gen.slots[(g - 1) % kRing];
  Slot &slot = gen.slots[g % kRing];
  int spins = 0;
  while (prev.generation.load(std::memory_order_acquire) != g - 1) relax(spins);
  if (g >= kRing) {
    const uint64_t oldest = g - kRing; // the generation this slot held
    const std::size_t used = gen.readersUsed.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < used; ++i)
      while (gen.readers[i].generation.load(std::memory_order_acquire) <= oldest) relax(spins);
  }
  twist(prev.words.data(), slot.words.data());
  slot.generation.store(g, std::memory_order_release);
}

} // namespace

void seed(uint32_t s) noexcept {
  gen.slots[0].words = firstGeneration(s);
  gen.slots[0].generation.store(0, std::memory_order_release);
  for (std::size_t i = 1; i < kRing; ++i) gen.slots[i].generation.store(kNone, std::memory_order_release);
  gen.cursor.store(0, std::memory_order_release);
}

void draw(uint32_t *out, std::size_t n) noexcept {
  if (!out || n == 0) return;
  Reader &me = myReader();
  // Promise a lower bound before claiming, so that a producer that sees the
  // claim also sees the promise.
  me.generation.store(gen.cursor.load(std::memory_order_relaxed) / kN, std::memory_order_relaxed);
  uint64_t p = gen.cursor.fetch_add(n, std::memory_order_acq_rel);
  uint64_t promised = UINT64_MAX;
  while (n > 0) {
    const uint64_t g = p / kN;
    const std::size_t i = p % kN;
    const std::size_t k = std::min<std::size_t>(n, kN - i);
    if (g != promised) me.generation.store(promised = g, std::memory_order_relaxed);
    Slot &slot = gen.slots[g % kRing];
    if (i == 0 && g > 0) {
      produce(g);
    } else {
      int spins = 0;
      while (slot.generation.load(std::memory_order_acquire) != g) relax(spins);
    }
    for (std::size_t j = 0; j < k; ++j) out[j] = temper(slot.words[i + j]);
    out += k;
    p += k;
    n -= k;
  }
  me.generation.store(kIdle, std::memory_order_release);
}

} // namespace juxs::fw::rng
