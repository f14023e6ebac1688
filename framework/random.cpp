#include "framework/random.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "framework/cpu.h"

namespace juxs::fw::rng {
namespace {

constexpr std::size_t kN = 624, kM = 397;
constexpr uint32_t kMatrix = 0x9908B0DFu, kUpper = 0x80000000u, kLower = 0x7FFFFFFFu;
constexpr uint32_t kTemperB = 0x9D2C5680u, kTemperC = 0xEFC60000u;
constexpr uint32_t kStates = 128;         // copies of the state: draws that run at the same moment without waiting
constexpr uint64_t kCheckpointEvery = 16; // generations between published states
constexpr uint64_t kCopyBeyond = 32;      // further behind than this, copy rather than twist
constexpr std::size_t kMaxHeld = 16 * kN; // positions one Hold claims at most
// Draws up to this many take their numbers from a copy's published
// generation without leasing the copy: the lease's atomic exchange would cost
// more than the numbers. Larger ones lease and temper straight from the state.
constexpr std::size_t kUnleasedUpTo = 16;

using Words = std::array<uint32_t, kN>;

constexpr Words seeded(uint32_t s) {
  Words w{};
  w[0] = s;
  for (uint32_t i = 1; i < kN; ++i) w[i] = 1812433253u * (w[i - 1] ^ (w[i - 1] >> 30)) + i;
  return w;
}

// ------------------------------------------------ twisting and tempering
// The next generation in place, and the tempering of a run of words, each in
// plain C++ and several words at a time. The recurrence is split where its
// sources change: words before 227 read only old words; later ones read a
// renewed word 227 back (more than a vector's width, so a whole vector of
// them is renewed before it is read); the last wraps round to the first.

constexpr uint32_t mix(uint32_t upper, uint32_t lower, uint32_t far) {
  const uint32_t y = (upper & kUpper) | (lower & kLower);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
}

constexpr uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & kTemperB;
  y ^= (y << 15) & kTemperC;
  y ^= y >> 18;
  return y;
}

void twistPlain(uint32_t *w) {
  for (std::size_t i = 0; i < kN - kM; ++i) w[i] = mix(w[i], w[i + 1], w[i + kM]);
  for (std::size_t i = kN - kM; i < kN - 1; ++i) w[i] = mix(w[i], w[i + 1], w[i - (kN - kM)]);
  w[kN - 1] = mix(w[kN - 1], w[0], w[kM - 1]);
}

void temperPlain(const uint32_t *in, uint32_t *out, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) out[j] = temper(in[j]);
}

#ifdef JUXS_X86_64
// SSE2: every 64-bit x86 processor has it, so these need no check.
inline __m128i mix4(const uint32_t *w, const uint32_t *far) {
  const __m128i upper = _mm_set1_epi32(static_cast<int>(kUpper)), lower = _mm_set1_epi32(kLower);
  const __m128i matrix = _mm_set1_epi32(static_cast<int>(kMatrix));
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + 1));
  const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i *>(far));
  const __m128i y = _mm_or_si128(_mm_and_si128(a, upper), _mm_and_si128(b, lower));
  const __m128i odd = _mm_srai_epi32(_mm_slli_epi32(y, 31), 31); // all ones where y is odd
  return _mm_xor_si128(_mm_xor_si128(f, _mm_srli_epi32(y, 1)), _mm_and_si128(odd, matrix));
}

inline __m128i temper4(__m128i y) {
  y = _mm_xor_si128(y, _mm_srli_epi32(y, 11));
  y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 7), _mm_set1_epi32(static_cast<int>(kTemperB))));
  y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 15), _mm_set1_epi32(static_cast<int>(kTemperC))));
  return _mm_xor_si128(y, _mm_srli_epi32(y, 18));
}

void twistSse2(uint32_t *w) {
  std::size_t i = 0;
  for (; i + 4 <= kN - kM; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(w + i), mix4(w + i, w + i + kM));
  for (; i < kN - kM; ++i) w[i] = mix(w[i], w[i + 1], w[i + kM]);
  static_assert((kN - 1 - (kN - kM)) % 4 == 0, "the words from 227 to the last fill whole vectors");
  for (; i < kN - 1; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(w + i), mix4(w + i, w + i - (kN - kM)));
  w[kN - 1] = mix(w[kN - 1], w[0], w[kM - 1]);
}

void temperSse2(const uint32_t *in, uint32_t *out, std::size_t n) {
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), temper4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + j))));
  for (; j < n; ++j) out[j] = temper(in[j]);
}

// AVX2: compiled for it here alone and chosen only where the processor has
// it.
JUXS_AVX2 inline __m256i mix8(const uint32_t *w, const uint32_t *far) {
  const __m256i upper = _mm256_set1_epi32(static_cast<int>(kUpper)), lower = _mm256_set1_epi32(kLower);
  const __m256i matrix = _mm256_set1_epi32(static_cast<int>(kMatrix));
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(w));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(w + 1));
  const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(far));
  const __m256i y = _mm256_or_si256(_mm256_and_si256(a, upper), _mm256_and_si256(b, lower));
  const __m256i odd = _mm256_srai_epi32(_mm256_slli_epi32(y, 31), 31);
  return _mm256_xor_si256(_mm256_xor_si256(f, _mm256_srli_epi32(y, 1)), _mm256_and_si256(odd, matrix));
}

JUXS_AVX2 inline __m256i temper8(__m256i y) {
  y = _mm256_xor_si256(y, _mm256_srli_epi32(y, 11));
  y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 7), _mm256_set1_epi32(static_cast<int>(kTemperB))));
  y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 15), _mm256_set1_epi32(static_cast<int>(kTemperC))));
  return _mm256_xor_si256(y, _mm256_srli_epi32(y, 18));
}

JUXS_AVX2 void twistAvx2(uint32_t *w) {
  std::size_t i = 0;
  for (; i + 8 <= kN - kM; i += 8) _mm256_storeu_si256(reinterpret_cast<__m256i *>(w + i), mix8(w + i, w + i + kM));
  for (; i < kN - kM; ++i) w[i] = mix(w[i], w[i + 1], w[i + kM]);
  for (; i + 8 <= kN - 1; i += 8) _mm256_storeu_si256(reinterpret_cast<__m256i *>(w + i), mix8(w + i, w + i - (kN - kM)));
  for (; i < kN - 1; ++i) w[i] = mix(w[i], w[i + 1], w[i - (kN - kM)]);
  w[kN - 1] = mix(w[kN - 1], w[0], w[kM - 1]);
}

JUXS_AVX2 void temperAvx2(const uint32_t *in, uint32_t *out, std::size_t n) {
  std::size_t j = 0;
  for (; j + 8 <= n; j += 8)
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j), temper8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + j))));
  if (j + 4 <= n) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), temper4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + j))));
    j += 4;
  }
  for (; j < n; ++j) out[j] = temper(in[j]);
}

// AVX-512: sixteen words to a register, likewise chosen only where the
// processor has it. Written with the compiler's vector types rather than
// its intrinsics, whose shifts GCC 12 warns about from its own header.
using Words16 = uint32_t __attribute__((vector_size(64), aligned(4)));

JUXS_AVX512 inline Words16 load16(const uint32_t *p) {
  Words16 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

JUXS_AVX512 inline void store16(uint32_t *p, Words16 v) { std::memcpy(p, &v, sizeof v); }

JUXS_AVX512 inline Words16 mix16(const uint32_t *w, const uint32_t *far) {
  const Words16 y = (load16(w) & kUpper) | (load16(w + 1) & kLower);
  return load16(far) ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
}

JUXS_AVX512 inline Words16 temper16(Words16 y) {
  y ^= y >> 11;
  y ^= (y << 7) & kTemperB;
  y ^= (y << 15) & kTemperC;
  return y ^ (y >> 18);
}

JUXS_AVX512 void twistAvx512(uint32_t *w) {
  std::size_t i = 0;
  for (; i + 16 <= kN - kM; i += 16) store16(w + i, mix16(w + i, w + i + kM));
  for (; i < kN - kM; ++i) w[i] = mix(w[i], w[i + 1], w[i + kM]);
  for (; i + 16 <= kN - 1; i += 16) store16(w + i, mix16(w + i, w + i - (kN - kM)));
  for (; i + 4 <= kN - 1; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(w + i), mix4(w + i, w + i - (kN - kM)));
  w[kN - 1] = mix(w[kN - 1], w[0], w[kM - 1]);
}

JUXS_AVX512 void temperAvx512(const uint32_t *in, uint32_t *out, std::size_t n) {
  std::size_t j = 0;
  for (; j + 16 <= n; j += 16) store16(out + j, temper16(load16(in + j)));
  // The rest (a block of 54 leaves 6) in one masked step: the words past n
  // are neither read nor written.
  if (j < n) {
    const auto keep = static_cast<__mmask16>((1u << (n - j)) - 1);
    const auto y = reinterpret_cast<Words16>(_mm512_maskz_loadu_epi32(keep, in + j));
    _mm512_mask_storeu_epi32(out + j, keep, reinterpret_cast<__m512i>(temper16(y)));
  }
}
#endif

struct Kernels {
  Simd simd;
  void (*twist)(uint32_t *);
  void (*temper)(const uint32_t *, uint32_t *, std::size_t);
};

constexpr Kernels kPlain{Simd::Plain, twistPlain, temperPlain};
#ifdef JUXS_X86_64
constexpr Kernels kSse2{Simd::Sse2, twistSse2, temperSse2};
constexpr Kernels kAvx2{Simd::Avx2, twistAvx2, temperAvx2};
constexpr Kernels kAvx512{Simd::Avx512, twistAvx512, temperAvx512};
#endif

const Kernels *kernelsFor(Simd s) {
  switch (s) {
  case Simd::Plain: return &kPlain;
#ifdef JUXS_X86_64
  case Simd::Sse2: return &kSse2;
  case Simd::Avx2: return hasAvx2() ? &kAvx2 : nullptr;
  case Simd::Avx512: return hasAvx512() ? &kAvx512 : nullptr;
#endif
  default: return nullptr;
  }
}

// Chosen at the first draw; threads that choose at once choose alike.
constinit std::atomic<const Kernels *> gKernels{nullptr};

const Kernels &kernels() {
  const Kernels *k = gKernels.load(std::memory_order_relaxed);
  if (!k) [[unlikely]] {
    k = kernelsFor(Simd::Avx512);
    if (!k) k = kernelsFor(Simd::Avx2);
    if (!k) k = kernelsFor(Simd::Sse2);
    if (!k) k = &kPlain;
    gKernels.store(k, std::memory_order_relaxed);
  }
  return *k;
}

// ------------------------------------------------------ copies of the state

// A copy of the state: generation gen of the sequence of the seeding numbered
// epoch, its words and any draw's use of them belonging to the one draw or
// hold that leased it (busy). Beside them, one generation's tempered numbers
// published for the small draws that read without a lease: rewritten under
// the lease, with version odd meanwhile, so a reader keeps what it read only
// if version did not move.
struct alignas(64) State {
  Words words{};
  uint64_t gen = 0;
  uint64_t epoch = 0; // 0: holds nothing yet
  std::atomic<bool> busy{false};
  alignas(64) std::atomic<uint64_t> version{0};
  std::atomic<uint64_t> shownEpoch{0}, shownGen{0}; // 0: shows nothing yet
  std::atomic<uint32_t> shown[kN] = {};
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

// What the generator keeps for a thread, in one record so that a draw finds
// it in one look-up (a call, in a library). A plain record: nothing of the
// module runs when a thread ends, and a thread may outlive the module (the
// host can unload it while its render threads live on); thread-exit code of
// an unloaded library would crash, or hold the library and run under the
// system loader's lock.
//
// home is the copy the thread drew from last, so that its next draw finds
// that copy at its own generation and in its own cache. The rest is what it
// holds between a Hold's start and end: a copy of the state, leased for the
// whole time, the positions not yet drawn, and the next few of them already
// tempered (ready of them, from ahead[at], for positions next on), so that
// the many small draws of an evaluation are a copy each and the tempering is
// done a run of words at a time.
constexpr uint32_t kNoHome = ~0u;
// Room for several batches of samples looked at ahead (peek): the ready
// numbers move to the front when a batch finds too few, and with room for
// one batch only, that was every batch.
constexpr std::size_t kAhead = 1024;
constexpr std::size_t kAheadUpTo = 32; // larger draws are tempered straight out
struct ThreadRecord {
  uint32_t home;
  uint32_t depth;
  State *state;
  uint64_t seeding;
  uint64_t end;
  Place place;
  uint32_t ahead[kAhead];
};
thread_local constinit ThreadRecord tThread{kNoHome, 0, nullptr, 0, 0, {0, 0, 0}, {}};

uint32_t home(ThreadRecord &t) {
  if (t.home == kNoHome) [[unlikely]]
    t.home = gen.nextHome.fetch_add(1, std::memory_order_relaxed) % kStates;
  return t.home;
}

// Takes a free copy for one draw, the thread's own first. Threads meeting on
// one copy part at their first collision: the one that finds it busy keeps
// the free copy it moves on to.
State &lease(ThreadRecord &t) {
  const uint32_t h = home(t);
  for (int spins = 0;; relax(spins)) {
    for (uint32_t k = 0; k < kStates; ++k) {
      const uint32_t i = (h + k) % kStates;
      State &s = gen.states[i];
      if (!s.busy.load(std::memory_order_relaxed) && !s.busy.exchange(true, std::memory_order_acquire)) {
        if (k) t.home = i;
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
void advance(State &s, const Kernels &k, uint64_t seeding, uint64_t g) {
  const uint64_t epoch = seeding >> 32;
  if (s.epoch != epoch || s.gen > g) {
    s.words = seeded(static_cast<uint32_t>(seeding));
    k.twist(s.words.data());
    s.gen = 0;
    s.epoch = epoch;
  }
  if (g - s.gen > kCopyBeyond) adoptCheckpoint(s, g);
  while (s.gen < g) {
    k.twist(s.words.data());
    if (++s.gen % kCheckpointEvery == 0) publish(s);
  }
}

// The numbers at positions p to p + n of the sequence of that seeding, from
// the leased copy s, across generations.
[[gnu::noinline]] void fillAcross(State &s, const Kernels &k, uint64_t seeding, uint64_t p, uint32_t *out, std::size_t n) {
  while (n > 0) {
    const uint64_t g = p / kN;
    const std::size_t i = p % kN;
    const std::size_t m = std::min<std::size_t>(n, kN - i);
    if (s.gen != g || s.epoch != seeding >> 32) advance(s, k, seeding, g);
    k.temper(s.words.data() + i, out, m);
    out += m;
    p += m;
    n -= m;
  }
}

// The same where, as a rule, s already has them: tempered straight out.
inline void fill(State &s, uint64_t seeding, uint64_t p, uint32_t *out, std::size_t n) {
  const Kernels &k = kernels();
  const std::size_t i = p % kN;
  if (i + n <= kN && s.gen == p / kN && s.epoch == seeding >> 32) [[likely]]
    k.temper(s.words.data() + i, out, n);
  else
    fillAcross(s, k, seeding, p, out, n);
}

// Shows the leased copy's generation to unleased readers, unless it already
// does.
void show(State &s) {
  if (s.shownGen.load(std::memory_order_relaxed) == s.gen && s.shownEpoch.load(std::memory_order_relaxed) == s.epoch) return;
  alignas(32) uint32_t tempered[kN];
  kernels().temper(s.words.data(), tempered, kN);
  // Each word released, so that a reader who sees any of them also sees the
  // odd version that marks them as being written.
  const uint64_t v = s.version.load(std::memory_order_relaxed);
  s.version.store(v + 1, std::memory_order_relaxed);
  s.shownEpoch.store(s.epoch, std::memory_order_release);
  s.shownGen.store(s.gen, std::memory_order_release);
  for (std::size_t i = 0; i < kN; ++i) s.shown[i].store(tempered[i], std::memory_order_release);
  s.version.store(v + 2, std::memory_order_release);
}

// The next n of the held positions from those tempered ahead; n <= ready.
// Not inlined: its copy loop would make draw save six registers on entry,
// and one number a call outside a hold pays for that.
[[gnu::noinline]] void takeAhead(ThreadRecord &h, uint32_t *out, std::size_t n) {
  const uint32_t *from = h.ahead + h.place.at;
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) std::memcpy(out + j, from + j, 4 * sizeof *out);
  for (; j < n; ++j) out[j] = from[j];
  h.place.at += static_cast<uint32_t>(n);
  h.place.ready -= static_cast<uint32_t>(n);
  h.place.next += n;
}

// A held draw that found too few numbers tempered ahead: those there are,
// then either more tempered ahead or, for a large draw, the rest tempered
// straight out; beyond the hold, claimed.
[[gnu::noinline]] void drawHeld(ThreadRecord &h, uint32_t *out, std::size_t n) {
  if (const std::size_t have = h.place.ready) {
    takeAhead(h, out, have);
    out += have;
    n -= have;
  }
  const uint64_t left = h.end - h.place.next;
  if (n <= kAheadUpTo && n <= left) {
    const auto m = static_cast<std::size_t>(std::min<uint64_t>(kAhead, left));
    fill(*h.state, h.seeding, h.place.next, h.ahead, m);
    h.place.at = 0;
    h.place.ready = static_cast<uint32_t>(m);
    takeAhead(h, out, n);
    return;
  }
  const std::size_t k = static_cast<std::size_t>(std::min<uint64_t>(n, left));
  fill(*h.state, h.seeding, h.place.next, out, k);
  h.place.next += k;
  if (n == k) [[likely]]
    return;
  // Beyond what was held: claimed like any draw. On one thread nothing came
  // in between, so these follow on where the held ones ended.
  h.seeding = gen.seeding.load(std::memory_order_acquire);
  h.place.next = gen.cursor.fetch_add(n - k, std::memory_order_relaxed);
  fill(*h.state, h.seeding, h.place.next, out + k, n - k);
  h.place.next = h.end = h.place.next + (n - k);
}

// Tempers ahead until n are ready (n <= kAhead and within the hold), the
// ready ones moved to the front first.
void temperAhead(ThreadRecord &h, std::size_t n) {
  const std::size_t ready = h.place.ready;
  if (n <= ready) return;
  std::copy(h.ahead + h.place.at, h.ahead + h.place.at + ready, h.ahead);
  h.place.at = 0;
  const auto more = static_cast<std::size_t>(std::min<uint64_t>(kAhead - ready, h.end - h.place.next - ready));
  fill(*h.state, h.seeding, h.place.next + ready, h.ahead + ready, more);
  h.place.ready = static_cast<uint32_t>(ready + more);
}

// A draw of positions p to p + n that found no shown generation to read.
[[gnu::noinline]] void drawLeased(ThreadRecord &t, uint64_t seeding, uint64_t p, uint32_t *out, std::size_t n) {
  State &s = lease(t);
  fill(s, seeding, p, out, n);
  // A small draw shows where it ended, so that the next ones need no lease.
  if (n <= kUnleasedUpTo) show(s);
  release(s);
}

} // namespace

Simd simd() noexcept { return kernels().simd; }

bool useSimd(Simd s) noexcept {
  const Kernels *k = kernelsFor(s);
  if (k) gKernels.store(k, std::memory_order_relaxed);
  return k != nullptr;
}

Hold::Hold(std::size_t n) noexcept {
  ThreadRecord &h = tThread;
  if (h.depth++) return;
  // Other threads claim beyond what is held and must twist their way past it:
  // a hold for an evaluation of a vast count holds only the start of it.
  n = std::min<std::size_t>(n, kMaxHeld);
  h.state = &lease(h);
  h.seeding = gen.seeding.load(std::memory_order_acquire);
  h.place.next = gen.cursor.fetch_add(n, std::memory_order_relaxed);
  h.end = h.place.next + n;
  h.place.at = h.place.ready = 0;
}

Hold::~Hold() {
  ThreadRecord &h = tThread;
  if (--h.depth) return;
  // The rest goes back if nothing was claimed after it (always so on one
  // thread), so that the draws that follow are the ones that would have.
  uint64_t end = h.end;
  if (h.place.next != end && gen.seeding.load(std::memory_order_relaxed) == h.seeding)
    gen.cursor.compare_exchange_strong(end, h.place.next, std::memory_order_relaxed);
  release(*h.state);
  h.state = nullptr;
  h.place.ready = 0;
}

Ahead peek(std::size_t n) noexcept {
  ThreadRecord &h = tThread;
  if (!h.depth) return {nullptr, 0, 0, nullptr};
  n = static_cast<std::size_t>(std::min<uint64_t>({n, kAhead, h.end - h.place.next}));
  temperAhead(h, n);
  return {h.ahead + h.place.at, n, h.place.next, &h.place};
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
  ThreadRecord &t = tThread;
  if (t.depth) {
    if (n <= t.place.ready) [[likely]]
      takeAhead(t, out, n);
    else
      drawHeld(t, out, n);
    return;
  }
  // Nothing but the claim takes more than a few instructions here, and what
  // the home copy shows is read before it, so that one number costs little
  // more than the claim: whatever it shows is of the sequence, kept only if
  // it is of the present seeding, has the positions claimed and did not
  // change while being read. Before the thread has a home, copy 127 serves.
  const State &h = gen.states[t.home % kStates];
  const uint64_t v = h.version.load(std::memory_order_acquire);
  const uint64_t first = h.shownGen.load(std::memory_order_acquire) * kN;
  const uint64_t epoch = h.shownEpoch.load(std::memory_order_acquire);
  const uint64_t seeding = gen.seeding.load(std::memory_order_acquire);
  const uint64_t p = gen.cursor.fetch_add(n, std::memory_order_relaxed);
  if (n <= kUnleasedUpTo && !(v & 1) && epoch == seeding >> 32 && p - first <= kN - n) {
    const std::size_t i = static_cast<std::size_t>(p - first);
    for (std::size_t j = 0; j < n; ++j) out[j] = h.shown[i + j].load(std::memory_order_acquire);
    if (h.version.load(std::memory_order_relaxed) == v) [[likely]]
      return;
  }
  drawLeased(t, seeding, p, out, n);
}

} // namespace juxs::fw::rng
