// Evaluation from several render threads at once, as the host does it. Built
// and run under the thread sanitizer as well.
#include <atomic>
#include <thread>
#include <vector>

#include <algorithm>
#include <random>

#include "framework/random.h"
#include "nodes/material/material.h"
#include "tests/support/host_fixture.h"
#include "tests/support/probe_node.h"

using hostsim::HostNode;

namespace {

class Concurrency : public testsupport::HostFixture {
protected:
  const ModuleDescriptor *descriptor() override { return probe::descriptor(); }
};

TEST_F(Concurrency, ThreadsEvaluateOneNetworkAtOnce) {
  HostNode *a = add("Probe");
  HostNode *b = add("Probe");
  hostsim::OutputValue k;
  k.type = CONN_SCALAR;
  k.v[0] = 2.0;
  ASSERT_NO_THROW(net->connect(net->addConstant(k), "Value", a, "Value"));
  ASSERT_NO_THROW(net->connect(a, "Value", b, "Tint"));
  ASSERT_NO_THROW(net->beginRender());
  net->newTime(1, 0.0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      LWNodalAccess na = hostsim::emptyWorldContext();
      na.threadNum = t;
      for (int i = 0; i < 5000; ++i) {
        hostsim::OutputValue v = net->evaluate(b, "Tint", na);
        if (v.v[0] != 2.0 || v.v[2] != 2.0) ++wrong;
      }
    });
  for (auto &t : threads) t.join();
  net->endRender();
  EXPECT_EQ(wrong.load(), 0);
}

// A node that asks for its name from evaluate, which belongs to the host's
// thread: every call from every render thread is refused and counted.
void (*gProbeEvaluate)(LWInstance, LWNodalAccess *, NodeOutputID, NodeValue) = nullptr;
void namingEvaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID out, NodeValue value) {
  probe::services().node->nodeName(static_cast<probe::Instance *>(inst)->node);
  gProbeEvaluate(inst, na, out, value);
}

TEST_F(Concurrency, RefusalsFromManyRenderThreadsAreAllCounted) {
  HostNode *a = add("Probe");
  gProbeEvaluate = a->handler.evaluate;
  a->handler.evaluate = &namingEvaluate;
  ASSERT_NO_THROW(net->beginRender());
  net->newTime(1, 0.0);
  const auto runs = net->evaluateConcurrently(a, "Value", hostsim::emptyWorldContext(), {0, 1, 2, 3}, 500);
  net->endRender();
  std::size_t values = 0;
  for (const auto &r : runs) values += r.values.size();
  EXPECT_EQ(values, 2000u) << "a refused call does not stop the evaluation";
  const std::vector<hostsim::Violation> v = host.checks().take();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].count, 2000);
  EXPECT_EQ(v[0].function, "\"NodeFuncs\" nodeName");
  EXPECT_EQ(v[0].callback, "evaluate");
}

class MaterialConcurrency : public testsupport::HostFixture {};

// Get Materials reach the same Store Material's network from every thread.
TEST_F(MaterialConcurrency, GetMaterialsEvaluateTogether) {
  HostNode *store = add("Jux Store Material");
  hostsim::OutputValue k;
  k.type = CONN_SCALAR;
  k.v[0] = 3.0;
  ASSERT_NO_THROW(net->connect(net->addConstant(k), "Value", store, "Scalar"));
  const int16_t id = static_cast<int16_t>(testsupport::instanceOf<juxs::material::StoreMaterial>(store)->identifier);
  hostsim::SaveStream choice;
  for (int16_t v : {int16_t{1}, id}) choice.state()->writeI2(choice.state()->writeData, &v, 1);
  std::vector<HostNode *> gets = {add("Jux Get Material"), add("Jux Get Material")};
  for (HostNode *g : gets) ASSERT_TRUE(load(g, choice.bytes()));
  ASSERT_NO_THROW(net->beginRender());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      LWNodalAccess na = hostsim::emptyWorldContext();
      na.threadNum = t;
      for (int i = 0; i < 5000; ++i)
        if (net->evaluate(gets[i % 2], "Scalar", na).scalar() != 3.0) ++wrong;
    });
  for (auto &t : threads) t.join();
  net->endRender();
  EXPECT_EQ(wrong.load(), 0);
}

// Threads drawing at once together receive exactly the first numbers of the
// sequence, each once, and each block is a run of consecutive numbers.
TEST(GeneratorConcurrency, EveryNumberOnceAcrossThreads) {
  struct Case {
    int threads;
    std::size_t block, perThread;
  };
  for (const Case c : {Case{2, 2, 30000}, Case{4, 9, 20000}, Case{3, 54, 20000}, Case{16, 700, 5600}, Case{8, 1, 4000}}) {
    SCOPED_TRACE(c.block);
    juxs::fw::rng::seed(3);
    std::vector<std::vector<uint32_t>> got(c.threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c.threads; ++t)
      threads.emplace_back([&, t] {
        std::vector<uint32_t> &mine = got[t];
        mine.resize(c.perThread);
        for (std::size_t i = 0; i < c.perThread; i += c.block)
          juxs::fw::rng::draw(mine.data() + i, std::min(c.block, c.perThread - i));
      });
    for (auto &t : threads) t.join();

    const std::size_t total = c.perThread * c.threads;
    std::mt19937 reference(3);
    std::vector<uint32_t> expected(total);
    for (auto &v : expected) v = reference();
    // Where each value first stands in the sequence, to check that blocks are runs.
    std::vector<std::pair<uint32_t, std::size_t>> index;
    for (std::size_t i = 0; i < total; ++i) index.emplace_back(expected[i], i);
    std::sort(index.begin(), index.end());
    std::vector<uint32_t> all;
    for (const auto &mine : got) {
      all.insert(all.end(), mine.begin(), mine.end());
      for (std::size_t i = 0; i < mine.size(); i += c.block) {
        auto at = std::lower_bound(index.begin(), index.end(), std::pair{mine[i], std::size_t{0}});
        ASSERT_TRUE(at != index.end() && at->first == mine[i]);
        const std::size_t p = at->second;
        for (std::size_t j = 1; j < c.block && i + j < mine.size(); ++j)
          ASSERT_EQ(mine[i + j], expected[p + j]) << "a block is not a run of the sequence";
      }
    }
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(all, expected);
  }
}

// What the threads received together is the start of seed 3's sequence, each
// number once.
void expectFirstNumbersOnce(const std::vector<std::vector<uint32_t>> &got) {
  std::vector<uint32_t> all;
  for (const auto &mine : got) all.insert(all.end(), mine.begin(), mine.end());
  std::mt19937 reference(3);
  std::vector<uint32_t> expected(all.size());
  for (auto &v : expected) v = reference();
  std::sort(all.begin(), all.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);
}

// Threads that hold positions, draw inside their holds (some more than they
// hold, as nested shading does) and draw plainly, all at once, still receive
// exactly the first numbers of the sequence, each once.
TEST(GeneratorConcurrency, HoldsHandOutEveryNumberOnce) {
  juxs::fw::rng::seed(3);
  constexpr int kThreadCount = 4;
  constexpr std::size_t kRounds = 3000;
  std::vector<std::vector<uint32_t>> got(kThreadCount);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadCount; ++t)
    threads.emplace_back([&, t] {
      uint32_t w[9];
      for (std::size_t r = 0; r < kRounds; ++r) {
        {
          const juxs::fw::rng::Hold hold(18);
          for (std::size_t i = 0; i < 2 + (r + static_cast<std::size_t>(t)) % 2; ++i) {
            juxs::fw::rng::draw(w, 9);
            got[t].insert(got[t].end(), w, w + 9);
          }
        }
        got[t].push_back(juxs::fw::rng::draw1());
      }
    });
  for (auto &t : threads) t.join();
  expectFirstNumbersOnce(got);
}

// On every path the processor has, threads drawing single numbers, small and
// large blocks and blocks through holds, all at once, receive each number of
// the sequence once, every block a run of it.
TEST(GeneratorConcurrency, EachPathHandsOutEveryNumberOnce) {
  namespace rng = juxs::fw::rng;
  struct KeepPath { // however the test ends
    rng::Simd was = rng::simd();
    ~KeepPath() { rng::useSimd(was); }
  } const keep;
  for (rng::Simd path : {rng::Simd::Plain, rng::Simd::Sse2, rng::Simd::Avx2, rng::Simd::Avx512}) {
    if (!rng::useSimd(path)) continue;
    SCOPED_TRACE(static_cast<int>(path));
    rng::seed(3);
    constexpr int kThreadCount = 4;
    constexpr std::size_t kRounds = 600;
    std::vector<std::vector<uint32_t>> got(kThreadCount);
    std::vector<std::vector<std::size_t>> sizes(kThreadCount); // of each block, in order
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreadCount; ++t)
      threads.emplace_back([&, t] {
        uint32_t w[700];
        auto take = [&](std::size_t n) {
          rng::draw(w, n);
          got[t].insert(got[t].end(), w, w + n);
          sizes[t].push_back(n);
        };
        for (std::size_t r = 0; r < kRounds; ++r) {
          switch ((r + static_cast<std::size_t>(t)) % 4) {
          case 0: take(1); break;
          case 1: take(9); break;
          case 2: take(r % 8 == 2 ? 700 : 54); break;
          default: {
            const rng::Hold hold(9 * 8);
            for (int i = 0; i < 8; ++i) take(9);
          }
          }
        }
      });
    for (auto &t : threads) t.join();
    expectFirstNumbersOnce(got);

    std::size_t total = 0;
    for (const auto &mine : got) total += mine.size();
    std::mt19937 reference(3);
    std::vector<uint32_t> expected(total);
    for (auto &v : expected) v = reference();
    std::vector<std::pair<uint32_t, std::size_t>> index;
    for (std::size_t i = 0; i < total; ++i) index.emplace_back(expected[i], i);
    std::sort(index.begin(), index.end());
    for (int t = 0; t < kThreadCount; ++t) {
      std::size_t at = 0;
      for (std::size_t n : sizes[t]) {
        // A number may stand in the sequence more than once: the block is a
        // run from one of the places its first stands.
        auto from = std::lower_bound(index.begin(), index.end(), std::pair{got[t][at], std::size_t{0}});
        ASSERT_TRUE(from != index.end() && from->first == got[t][at]);
        bool run = false;
        for (auto k = from; !run && k != index.end() && k->first == got[t][at]; ++k)
          run = k->second + n <= total && std::equal(got[t].begin() + static_cast<std::ptrdiff_t>(at),
                                                     got[t].begin() + static_cast<std::ptrdiff_t>(at + n),
                                                     expected.begin() + static_cast<std::ptrdiff_t>(k->second));
        ASSERT_TRUE(run) << "a block of " << n << " is not a run of the sequence";
        at += n;
      }
    }
  }
}

// A thread that drew long ago catches up to where the others have taken the
// sequence, whether it twists its way there or starts from a published state.
TEST(GeneratorConcurrency, AThreadFarBehindCatchesUp) {
  for (std::size_t othersDraw : {std::size_t{5000}, std::size_t{624 * 100 + 17}}) {
    juxs::fw::rng::seed(3);
    std::mt19937 reference(3);
    std::vector<uint32_t> expected(othersDraw + 3);
    for (auto &v : expected) v = reference();
    uint32_t first = 0, later[2] = {0, 0};
    std::thread behind([&] {
      first = juxs::fw::rng::draw1();
      std::thread ahead([&] {
        std::vector<uint32_t> bulk(othersDraw);
        juxs::fw::rng::draw(bulk.data(), bulk.size());
      });
      ahead.join();
      juxs::fw::rng::draw(later, 2);
    });
    behind.join();
    EXPECT_EQ(first, expected[0]);
    EXPECT_EQ(later[0], expected[1 + othersDraw]);
    EXPECT_EQ(later[1], expected[2 + othersDraw]);
  }
}

// More threads draw than there are copies of the state: threads share copies,
// taking turns, and still receive every number once.
TEST(GeneratorConcurrency, MoreThreadsThanStates) {
  juxs::fw::rng::seed(3);
  constexpr int kThreadCount = 140;
  constexpr std::size_t kEach = 120, kBlock = 10;
  std::vector<std::vector<uint32_t>> got(kThreadCount, std::vector<uint32_t>(kEach));
  std::atomic<int> drawn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadCount; ++t)
    threads.emplace_back([&, t] {
      for (std::size_t i = 0; i < kEach; i += kBlock) juxs::fw::rng::draw(got[t].data() + i, kBlock);
      // Every thread alive until all have drawn, so that some share a copy.
      ++drawn;
      while (drawn.load() < kThreadCount) std::this_thread::yield();
    });
  for (auto &t : threads) t.join();
  expectFirstNumbersOnce(got);
}

} // namespace
