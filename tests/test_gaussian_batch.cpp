// The rays of a batch of Gaussian samples, made at once from their draws:
// each sample's exactly as alone, as the plain formula gives, and the same
// bits at every width of instructions the processor has.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "framework/random.h"
#include "nodes/raytrace/gaussian.h"
#include "tests/support/plain_gaussian.h"

namespace {

using testsupport::mirror;
using testsupport::plainBend;
using testsupport::plainJitter;

namespace gs = juxs::gaussian;

// Sample i's direction, gathered from a batch's components.
std::array<double, 3> at(const gs::Dirs &d, std::size_t i) { return {d.x[i], d.y[i], d.z[i]}; }
std::array<double, 3> at(const gs::Rays &r, std::size_t i) { return at(r.d, i); }

// n unit vectors and their draws, made up from the generator itself.
struct Batch {
  uint32_t draws[gs::kSampleBatch * gs::kDrawsPerNormal];
  double n[3], v[3];
  explicit Batch(uint32_t seed) {
    juxs::fw::rng::seed(seed);
    juxs::fw::rng::draw(draws, std::size(draws));
    for (double *x : {n, v}) {
      for (int i = 0; i < 3; ++i) x[i] = juxs::fw::rng::unit(juxs::fw::rng::draw1()) - 0.5;
      const double len = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
      for (int i = 0; i < 3; ++i) x[i] /= len;
    }
  }
};

// A batch of samples gives each sample exactly what it gets alone, which is
// what a tracing source does, and what the formula gives.
TEST(GaussianBatch, MirrorDirectionsMatchOneAtATimeAndThePlainFormula) {
  constexpr std::size_t kN = gs::kSampleBatch;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const Batch b(seed);
    for (double blur : {0.01, 0.3, 1.0, 7.5}) {
      gs::Dirs j;
      gs::Rays together;
      gs::jitterAll(b.n, blur, b.draws, kN, j);
      gs::mirrorsAbout(b.v, b.n, j, kN, 1.25, together);
      for (std::size_t i = 0; i < kN; ++i) {
        const uint32_t *r = b.draws + gs::kDrawsPerNormal * i;
        gs::Dirs one;
        gs::Rays alone;
        gs::jitterAll(b.n, blur, r, 1, one);
        gs::mirrorsAbout(b.v, b.n, one, 1, 1.25, alone);
        double m[3], want[3];
        plainJitter(b.n, blur, r, m);
        mirror(b.v, m, want);
        for (int a = 0; a < 3; ++a) {
          EXPECT_EQ(at(together, i)[a], at(alone, 0)[a]) << seed << " " << blur << " " << i;
          EXPECT_NEAR(at(together, i)[a], want[a], 1e-12) << seed << " " << blur << " " << i;
        }
        EXPECT_EQ(together.eta[i], 1.25);
      }
    }
  }
}

// The nodes make a batch's rays with the widest instructions the processor
// has: each width gives the bits of the steps taken one by one, for blurs
// that leave a direction and ones that do not, and for light leaving a
// denser medium (some rays reflected, some within a hair of the critical
// angle) as well as entering one.
TEST(GaussianBatch, EveryWidthMakesTheSameRaysAsTheSteps) {
  std::vector<gs::Width> widths = {gs::Width::Sse2};
  if (gs::widest() == gs::Width::Avx2) widths.push_back(gs::Width::Avx2);
  auto expectSame = [](const gs::Rays &got, const gs::Rays &want, std::size_t count, const char *what) {
    for (std::size_t i = 0; i < count; ++i) {
      for (int a = 0; a < 3; ++a)
        EXPECT_EQ(std::bit_cast<uint64_t>(at(got, i)[a]), std::bit_cast<uint64_t>(at(want, i)[a])) << what << " " << i;
      EXPECT_EQ(got.eta[i], want.eta[i]) << what << " " << i;
    }
  };
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const Batch b(seed);
    for (double blur : {0.0, 0.05, 0.4, 3.0, inf, nan})
      for (std::size_t count : {std::size_t{1}, std::size_t{5}, gs::kSampleBatch}) {
        gs::Dirs j;
        gs::Rays want;
        gs::jitterAll(b.n, blur, b.draws, count, j);
        gs::mirrorsAbout(b.v, b.n, j, count, 1.25, want);
        for (gs::Width w : widths) {
          gs::Rays got;
          gs::mirrorRays(w, b.n, b.v, blur, 1.25, b.draws, count, got);
          expectSame(got, want, count, "mirror");
        }
        gs::normalizeAll(b.n, j, count);
        for (auto [here, eta] : {std::pair{1.0, 1.5}, {1.5, 1.0}, {2.4, 1.7}}) {
          const gs::Bend bend = gs::bendFor(here, eta);
          gs::bendAll(bend, b.v, j, count, want);
          for (gs::Width w : widths) {
            gs::Rays got;
            gs::bendRays(w, b.n, b.v, blur, bend, b.draws, count, got);
            expectSame(got, want, count, "bend");
          }
        }
      }
  }
}

TEST(GaussianBatch, AJitterWithNoDirectionLeftMirrorsAboutTheNormal) {
  const Batch b(7);
  double want[3];
  mirror(b.v, b.n, want);
  for (double blur : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(), 1e300}) {
    gs::Dirs j;
    gs::Rays rays;
    gs::jitterAll(b.n, blur, b.draws, 3, j);
    gs::mirrorsAbout(b.v, b.n, j, 3, 1.0, rays);
    gs::Dirs m = j;
    gs::normalizeAll(b.n, m, 3);
    for (std::size_t i = 0; i < 3; ++i)
      for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(at(rays, i)[a], want[a]) << blur;
        EXPECT_EQ(at(m, i)[a], b.n[a]) << blur << ": the normal kept";
      }
  }
}

TEST(GaussianBatch, RefractionDirectionsMatchOneAtATimeAndThePlainFormula) {
  constexpr std::size_t kN = gs::kSampleBatch;
  int reflected = 0, bent = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const Batch b(seed);
    for (double blur : {0.05, 0.4, 2.0})
      for (auto [here, eta] : {std::pair{1.0, 1.5}, {1.5, 1.0}, {1.33, 1.33}, {2.4, 1.7}}) {
        gs::Dirs m;
        gs::Rays together;
        gs::jitterAll(b.n, blur, b.draws, kN, m);
        gs::normalizeAll(b.n, m, kN);
        gs::bendAll(gs::bendFor(here, eta), b.v, m, kN, together);
        for (std::size_t i = 0; i < kN; ++i) {
          const uint32_t *r = b.draws + gs::kDrawsPerNormal * i;
          gs::Dirs one;
          gs::Rays alone;
          gs::jitterAll(b.n, blur, r, 1, one);
          gs::normalizeAll(b.n, one, 1);
          gs::bendAll(gs::bendFor(here, eta), b.v, one, 1, alone);
          double unit[3], want[3], wantEta = 0;
          plainJitter(b.n, blur, r, unit);
          plainBend(b.v, unit, here, eta, want, wantEta);
          for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(at(together, i)[a], at(alone, 0)[a]) << seed << " " << blur << " " << i;
            EXPECT_NEAR(at(together, i)[a], want[a], 1e-12) << seed << " " << blur << " " << here << " " << eta;
          }
          EXPECT_EQ(together.eta[i], alone.eta[0]);
          EXPECT_EQ(together.eta[i], wantEta);
          (wantEta == here && here != eta ? reflected : bent) += 1;
        }
      }
  }
  EXPECT_GT(reflected, 100) << "both ways are exercised";
  EXPECT_GT(bent, 100);
}

// Bends count samples about m in one batch and checks sample i against the
// plain formula; whether it was reflected.
bool expectBent(const double v[3], const gs::Dirs &m, std::size_t i, std::size_t count, double here, double eta) {
  gs::Rays got;
  gs::bendAll(gs::bendFor(here, eta), v, m, count, got);
  const double unit[3] = {m.x[i], m.y[i], m.z[i]};
  double want[3], wantEta = 0;
  plainBend(v, unit, here, eta, want, wantEta);
  const double cosine = -(v[0] * unit[0] + v[1] * unit[1] + v[2] * unit[2]);
  EXPECT_EQ(got.eta[i], wantEta) << here << " " << eta << " at cosine " << cosine;
  // A ray refracted this close to the critical angle grazes the surface:
  // the square root of a difference near 0 magnifies how each rounds it.
  const bool grazing = wantEta == eta && std::fabs(want[0] * unit[0] + want[1] * unit[1] + want[2] * unit[2]) < 1e-3;
  for (int a = 0; a < 3; ++a)
    EXPECT_NEAR(at(got, i)[a], want[a], grazing ? 1e-7 : 1e-12) << here << " " << eta << " at cosine " << cosine;
  return wantEta == here;
}

// Out of a denser medium the critical angle decides between a reflected and
// a refracted ray: right at it, within rounding of it, and a little way off
// on either side, the decision is the arc cosine's.
TEST(GaussianBatch, TheCriticalAngleDecidesAsTheArcCosineDoes) {
  int reflected = 0, bent = 0;
  for (auto [here, eta] : {std::pair{1.5, 1.0}, {2.4, 1.7}, {1.0000001, 1.0}, {1e6, 1.0}}) {
    const double critical = std::asin(eta / here);
    std::vector<double> angles;
    for (double theta = critical, k = 0; k < 60; ++k) { // the nearest few, an ulp at a time
      angles.push_back(std::nextafter(theta, 4.0));
      theta = angles.back();
    }
    for (double theta = critical, k = 0; k < 60; ++k) {
      angles.push_back(std::nextafter(theta, -4.0));
      theta = angles.back();
    }
    for (int e = -16; e <= -2; ++e)
      for (int j = 1; j <= 9; ++j)
        for (double sign : {-1.0, 1.0}) angles.push_back(critical + sign * j * std::pow(10.0, e));
    angles.push_back(critical);
    for (double theta : angles) {
      // The view comes in at theta from the reversed normal (0, 1, 0).
      const double v[3] = {std::sin(theta), -std::cos(theta), 0};
      gs::Dirs m{};
      m.y[0] = 1;
      (expectBent(v, m, 0, 1, here, eta) ? reflected : bent) += 1;
    }
    // The same angles a batch at a time, the normal turning under a fixed
    // view: samples near the critical angle among others that are not.
    const double v[3] = {0, -1, 0};
    for (std::size_t first = 0; first < angles.size(); first += gs::kSampleBatch) {
      const std::size_t count = std::min(gs::kSampleBatch, angles.size() - first);
      gs::Dirs m{};
      for (std::size_t i = 0; i < count; ++i)
        m.x[i] = -std::sin(angles[first + i]), m.y[i] = std::cos(angles[first + i]);
      for (std::size_t i = 0; i < count; ++i)
        (expectBent(v, m, i, count, here, eta) ? reflected : bent) += 1;
    }
  }
  EXPECT_GT(reflected, 800);
  EXPECT_GT(bent, 800);
}

} // namespace
