// Linked into a second build of a suite, so that every test of it draws with
// the instructions JUXS_TEST_SIMD names however wide the processor's are.
#include <gtest/gtest.h>

#include "framework/random.h"

namespace {

namespace rng = juxs::fw::rng;
const bool gForced = rng::useSimd(rng::Simd::JUXS_TEST_SIMD);

TEST(ForcedSimd, IsInUse) {
  ASSERT_TRUE(gForced);
  EXPECT_EQ(rng::simd(), rng::Simd::JUXS_TEST_SIMD);
}

} // namespace
