// The generator as the module loads it, before anything seeds it: its own
// process, so no other test can have drawn or seeded first.
#include <gtest/gtest.h>

#include <random>

#include "framework/random.h"

namespace {

TEST(GeneratorAtLoad, DrawsTheSequenceOfSeed5489) {
  std::mt19937 reference(5489);
  EXPECT_EQ(juxs::fw::rng::draw1(), 3499211612u);
  reference();
  uint32_t next[700];
  juxs::fw::rng::draw(next, 700);
  for (uint32_t v : next) ASSERT_EQ(v, reference());
}

} // namespace
