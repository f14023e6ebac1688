// Throughput of the module random generator: single-threaded against
// std::mt19937 built with the same flags, and two threads drawing nonstop.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "framework/random.h"

namespace {

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

void moduleGenerator(benchmark::State &state) {
  if (state.thread_index() == 0) juxs::fw::rng::seed(3);
  const auto block = static_cast<std::size_t>(state.range(0));
  std::vector<uint32_t> out(block);
  for (auto _ : state) {
    juxs::fw::rng::draw(out.data(), block);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * block));
}

// Items per second over wall time: with two threads, their sum.
BENCHMARK(stdMt19937)->Arg(1)->Arg(2)->Arg(9)->Arg(54)->UseRealTime();
BENCHMARK(moduleGenerator)->Arg(1)->Arg(2)->Arg(9)->Arg(54)->UseRealTime();
BENCHMARK(moduleGenerator)->Arg(2)->Arg(9)->Arg(54)->Threads(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
