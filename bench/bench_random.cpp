// Throughput of the module random generator against std::mt19937 built with
// the same flags, side by side in one run:
//
// - one number a call, and blocks of 2, 9 and 54 numbers, each call claiming
//   its own (as the Random node and a whole pass of cast-only rays draw);
// - blocks of 9 and 54 through a hold of 64 blocks (as Gaussian Reflections
//   and Refractions draw nine a sample), against copying as many numbers;
// - blocks of 9 through holds on one and on two threads, by the clock.
//
// One-thread figures are timed by the thread's processor time (the machine
// may be shared), two-thread ones by the clock. The ratios, the processor and
// the instructions the generator twists and tempers with are printed after
// the table; --simd=plain|sse2|avx2|avx512 makes it use narrower ones.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "framework/random.h"

// ------------------------------------------------- allocations and locks
// Counted only while a benchmark draws, on its thread. The module is linked
// in statically, so its calls come through the linker's --wrap.
namespace {
thread_local bool tCounting = false;
std::atomic<uint64_t> gAllocations{0}, gLocks{0};
} // namespace

extern "C" {
void *__real_malloc(std::size_t);
int __real_pthread_mutex_lock(pthread_mutex_t *);
void *__wrap_malloc(std::size_t n) {
  if (tCounting) gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __real_malloc(n);
}
int __wrap_pthread_mutex_lock(pthread_mutex_t *m) {
  if (tCounting) gLocks.fetch_add(1, std::memory_order_relaxed);
  return __real_pthread_mutex_lock(m);
}
}

namespace {

namespace rng = juxs::fw::rng;
constexpr std::size_t kBlocksPerHold = 64;

void stdMt19937(benchmark::State &state) {
  std::mt19937 g(3);
  const auto block = static_cast<std::size_t>(state.range(0));
  std::vector<uint32_t> out(block);
  for (auto _ : state) {
    for (std::size_t i = 0; i < block; ++i) out[i] = g();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * block));
}

// Counts what the module does meanwhile; one seeding for all threads.
struct Counted {
  explicit Counted(benchmark::State &state) : state_(state) {
    if (state.thread_index() == 0) rng::seed(3);
    tCounting = true;
  }
  ~Counted() {
    tCounting = false;
    state_.counters["allocations"] = benchmark::Counter(double(gAllocations.exchange(0)));
    state_.counters["locks"] = benchmark::Counter(double(gLocks.exchange(0)));
  }
  benchmark::State &state_;
};

void moduleGenerator(benchmark::State &state) {
  const auto block = static_cast<std::size_t>(state.range(0));
  std::vector<uint32_t> out(block);
  {
    const Counted counted(state);
    for (auto _ : state) {
      rng::draw(out.data(), block);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * block));
}

// An iteration is one hold and its 64 blocks.
void heldBlocks(benchmark::State &state) {
  const auto block = static_cast<std::size_t>(state.range(0));
  std::vector<uint32_t> out(block);
  {
    const Counted counted(state);
    for (auto _ : state) {
      const rng::Hold hold(block * kBlocksPerHold);
      for (std::size_t i = 0; i < kBlocksPerHold; ++i) {
        rng::draw(out.data(), block);
        benchmark::DoNotOptimize(out.data());
      }
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * block * kBlocksPerHold));
}

// What a hold's blocks are measured against: copying as many numbers, block
// by block, out of a generation's worth.
void copyBlocks(benchmark::State &state) {
  const auto block = static_cast<std::size_t>(state.range(0));
  std::vector<uint32_t> from(624), out(block);
  std::mt19937 g(3);
  for (auto &v : from) v = g();
  for (auto _ : state) {
    for (std::size_t i = 0, at = 0; i < kBlocksPerHold; ++i, at = (at + block) % (624 - block)) {
      std::memcpy(out.data(), from.data() + at, block * sizeof(uint32_t));
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * block * kBlocksPerHold));
}

BENCHMARK(stdMt19937)->Arg(1)->Arg(2)->Arg(9)->Arg(54);
BENCHMARK(moduleGenerator)->Arg(1)->Arg(2)->Arg(9)->Arg(54);
BENCHMARK(heldBlocks)->Arg(9)->Arg(54);
BENCHMARK(copyBlocks)->Arg(9)->Arg(54);
BENCHMARK(moduleGenerator)->Arg(9)->Arg(54)->Threads(2)->UseRealTime();
BENCHMARK(heldBlocks)->Arg(9)->Arg(54)->Threads(1)->Threads(2)->UseRealTime();

const char *name(rng::Simd s) {
  switch (s) {
  case rng::Simd::Plain: return "plain C++";
  case rng::Simd::Sse2: return "SSE2";
  case rng::Simd::Avx2: return "AVX2";
  case rng::Simd::Avx512: return "AVX-512";
  }
  return "?";
}

} // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--simd=", 0) != 0) continue;
    const std::string v = a.substr(7);
    const rng::Simd s = v == "plain" ? rng::Simd::Plain
                        : v == "sse2"  ? rng::Simd::Sse2
                        : v == "avx2"  ? rng::Simd::Avx2
                                       : rng::Simd::Avx512;
    if (!rng::useSimd(s)) {
      std::fprintf(stderr, "bench_random: this processor has no %s\n", v.c_str());
      return 2;
    }
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    --i;
  }
  benchmark::Initialize(&argc, argv);
  juxsbench::RatioReporter reporter({"allocations", "locks"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto rate = [&](const std::string &n) { return reporter.rate(n); };
  std::printf("processor: %s; twisting and tempering with %s\n", juxsbench::processor().c_str(), name(rng::simd()));
  auto ratio = [&](const char *what, const std::string &a, const std::string &b, const char *goal) {
    if (rate(a) > 0 && rate(b) > 0) std::printf("%s: %.2f%s\n", what, rate(a) / rate(b), goal);
  };
  ratio("one number a call, the module's time / std::mt19937's", "stdMt19937/1", "moduleGenerator/1", " (goal: at most 1.5)");
  for (const char *b : {"9", "54"}) {
    const std::string goal = std::string(" (goal: at least ") + (b[0] == '9' ? "5)" : "12)");
    ratio((std::string("blocks of ") + b + ", each claimed / std::mt19937").c_str(), std::string("moduleGenerator/") + b,
          std::string("stdMt19937/") + b, goal.c_str());
    ratio((std::string("blocks of ") + b + " through holds / std::mt19937").c_str(), std::string("heldBlocks/") + b,
          std::string("stdMt19937/") + b, goal.c_str());
    ratio((std::string("blocks of ") + b + " through holds / copying them").c_str(), std::string("heldBlocks/") + b,
          std::string("copyBlocks/") + b, "");
    ratio((std::string("blocks of ") + b + " through holds, two threads / one").c_str(),
          std::string("heldBlocks/") + b + "/real_time/threads:2", std::string("heldBlocks/") + b + "/real_time/threads:1",
          b[0] == '9' ? " (goal: at least 1.0)" : "");
    // On a shared machine two threads may not get two processors: what each
    // spends per number says what they would do with them.
    const double one = reporter.cpuPerItem(std::string("heldBlocks/") + b + "/real_time/threads:1");
    const double two = reporter.cpuPerItem(std::string("heldBlocks/") + b + "/real_time/threads:2");
    if (one > 0 && two > 0)
      std::printf("blocks of %s through holds, processor time per number, two threads / one: %.2f\n", b, two / one);
  }
  std::printf("while drawing: %.0f allocations, %.0f mutex locks (goal: none)\n", reporter.totals["allocations"],
              reporter.totals["locks"]);
  benchmark::Shutdown();
  return 0;
}
