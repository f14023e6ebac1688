// Ambient Occlusion: its rays, weights, colours, counts and draws, against a
// world the test scripts and against the renderer's; its settings, panel and
// block.
#include <bit>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "nodes/raytrace/cone_directions.h"
#include "tests/support/host_fixture.h"
#include "tests/support/scripted_rays.h"

using hostsim::HostNode;
using hostsim::OutputValue;
using testsupport::RayCall;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kUnit = 1.0 / 4294967295.0;

// The direction of azimuth alpha and angle beta about axis n, written out as
// defined: local direction, tilt by the elevation in X-Y, turn by the azimuth
// in X-Z, each turn through its own arc tangent, root, sine and cosine.
std::array<double, 3> textbookDirection(const double n[3], double alpha, double beta) {
  const double theta = std::atan2(n[2], n[0]);
  const double phi = std::atan2(n[1], std::sqrt(n[0] * n[0] + n[2] * n[2]));
  const double v[3] = {std::cos(beta), std::sin(beta) * std::sin(alpha), std::sin(beta) * std::cos(alpha)};
  const double a = std::atan2(v[1], v[0]), r = std::sqrt(v[0] * v[0] + v[1] * v[1]);
  const double x1 = r * std::cos(a + phi), y = r * std::sin(a + phi);
  const double b = std::atan2(v[2], x1), r2 = std::sqrt(v[2] * v[2] + x1 * x1);
  return {r2 * std::cos(b + theta), y, r2 * std::sin(b + theta)};
}

// A backdrop whose colour tells directions apart.
hostsim::Gradient vividGradient() {
  hostsim::Gradient g;
  const double z[3] = {1, 0, 0}, s[3] = {0, 1, 0}, gr[3] = {0, 0, 1}, n[3] = {1, 1, 1};
  std::copy(z, z + 3, g.zenith);
  std::copy(s, s + 3, g.sky);
  std::copy(gr, gr + 3, g.ground);
  std::copy(n, n + 3, g.nadir);
  return g;
}

// The module generator's numbers as an AO created now will see them.
struct Draws {
  std::mt19937 mt{3};
  double u() { return mt() * kUnit; }
};

class AmbientOcclusion : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    ao = add("Jux Ambient Occlusion");
    ASSERT_TRUE(ao);
    na = rays.context();
  }

  // A parameter's value in its own units, as the next frame will see it.
  void set(const std::string &channel, std::initializer_list<double> v) {
    for (hostsim::VParm *p : ao->group->children.at(0)->channels)
      if (p->channel == channel) {
        setParam(reinterpret_cast<LWVParmID>(p), v);
        net->newTime(1, 0.0);
        return;
      }
    FAIL() << "no channel " << channel;
  }
  // An integer setting as the host's panel stores it, whatever its range.
  void setInt(uint32_t id, int32_t v) {
    hostsim::Panel *p = openPanel(ao);
    ASSERT_TRUE(p);
    EXPECT_EQ(host.panels().callSet(*p, id, &v), 1);
  }
  void connect(HostNode *from, const std::string &input, HostNode *to = nullptr) {
    ASSERT_NO_THROW(net->connect(from, from->outputs[0]->name, to ? to : ao, input));
  }
  HostNode *constant(ConnectionType t, double v, int32_t i = 0) {
    return net->addConstant(OutputValue{t, {v, v, v}, i, true});
  }
  std::array<double, 3> color() {
    const OutputValue v = net->evaluate(ao, "Color", na);
    return {v.v[0], v.v[1], v.v[2]};
  }
  double scalar() { return net->evaluate(ao, "Scalar", na).scalar(); }

  testsupport::ScriptedRays rays;
  LWNodalAccess na{};
  HostNode *ao = nullptr;
};

void expectDirection(const std::array<double, 3> &got, const std::array<double, 3> &want, const std::string &what) {
  for (int c = 0; c < 3; ++c) ASSERT_NEAR(got[c], want[c], 1e-12) << what << " component " << c;
}

// The rotation built once per evaluation places every ray where the defined
// formula does, for axes anywhere, on and beside the poles, and of any length
// whose squared components a double still holds (the plain formula's own
// limit).
TEST_F(AmbientOcclusion, DirectionsMatchTheDefinedFormula) {
  std::vector<std::array<double, 3>> axes = {
      {0, 1, 0},     {0, -1, 0},          {-0.0, 1, 0},         {0, 1, -0.0},        {-0.0, -1, -0.0},
      {1e-9, 1, 0},  {0, 1, 1e-15},       {-1e-12, -1, 3e-13},  {1e-300, 1, -1e-300}, {0.001, -1, 0.002},
      {1e-160, 1, 0}, {0, -1, -1e-170},   {1e-140, 1e-150, 0},  {1e150, 1e151, -1e149}, {-2e-9, 0.3, 1e-9},
      {1, 0, 0},     {0, 0, -1},          {-1, 0, 0},           {3, 4, 12},          {-0.2, 0.1, -0.05},
  };
  std::mt19937_64 pick(11);
  std::uniform_real_distribution<double> any(-1, 1);
  while (axes.size() < 300) {
    std::array<double, 3> a{any(pick), any(pick), any(pick)};
    if (a[0] * a[0] + a[1] * a[1] + a[2] * a[2] > 1e-6) axes.push_back(a);
  }
  Draws draws;
  const double cones[] = {0.0, kPi / 2, 0.3, 1.2, kPi / 2 - 1e-9, 2.9};
  std::size_t evaluations = 0;
  for (std::size_t i = 0; i < axes.size(); ++i) {
    const double cone = cones[i % std::size(cones)];
    set("Cone Angle", {cone});
    const std::array<double, 3> &n = axes[i];
    for (int c = 0; c < 3; ++c) na.wNorm[c] = n[c];
    const bool polar = i % 3 == 2;
    setInt(0x8001, polar ? 1 : 0);
    rays.calls.clear();
    scalar();
    ++evaluations;
    const std::string what = "axis " + std::to_string(i);
    if (!polar) {
      ASSERT_EQ(rays.calls.size(), 27u) << what;
      for (const RayCall &call : rays.calls) {
        const double alpha = 2.0 * kPi * draws.u(), beta = cone * draws.u();
        expectDirection(call.direction, textbookDirection(n.data(), alpha, beta), what);
      }
    } else {
      // The axis as given, then two rings of nine jittered rays.
      ASSERT_EQ(rays.calls.size(), 19u) << what;
      EXPECT_EQ(rays.calls[0].direction, n) << what;
      const double jitter = kPi / 9, step = cone / 2;
      std::size_t k = 1;
      for (int ring = 1; ring <= 2; ++ring)
        for (int j = 0; j < 9; ++j) {
          const double alpha = j * 2.0 * kPi / 9 - jitter + 2.0 * jitter * draws.u();
          const double beta = ring * step - jitter * draws.u();
          expectDirection(rays.calls[k++].direction, textbookDirection(n.data(), alpha, beta), what);
        }
    }
  }
  EXPECT_EQ(evaluations, 300u);
}

// The sines and cosines of a batch of ray angles come out the same, to the
// bit, on every path the processor has (two, four or eight to a register),
// and near the library's: over the angles the nodes make (within a few
// turns), in batches that end anywhere, and with a batch the fast way cannot
// take (a huge angle, no number).
TEST(ConeDirections, SinesAndCosinesAreTheSameOnEveryPath) {
  struct KeepWidest {
    ~KeepWidest() {
      if (!juxs::raytrace::sinCosLanes(8) && !juxs::raytrace::sinCosLanes(4)) juxs::raytrace::sinCosLanes(2);
    }
  } keep;
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> angle(-20.0, 20.0);
  std::vector<double> x(131);
  for (double &a : x) a = angle(gen);
  x[5] = 0.0, x[6] = -0.0, x[7] = std::numbers::pi / 4, x[8] = -std::numbers::pi / 2;
  for (std::size_t n : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{7}, std::size_t{9}, std::size_t{64},
                        x.size()}) {
    std::vector<double> s2(n), c2(n);
    ASSERT_TRUE(juxs::raytrace::sinCosLanes(2));
    juxs::raytrace::sinCos(x.data(), s2.data(), c2.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_NEAR(s2[i], std::sin(x[i]), 1e-15) << x[i];
      EXPECT_NEAR(c2[i], std::cos(x[i]), 1e-15) << x[i];
    }
    for (int lanes : {4, 8}) {
      if (!juxs::raytrace::sinCosLanes(lanes)) continue; // the processor has no such path
      std::vector<double> s(n), c(n);
      juxs::raytrace::sinCos(x.data(), s.data(), c.data(), n);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(std::bit_cast<uint64_t>(s2[i]), std::bit_cast<uint64_t>(s[i])) << lanes << " lanes, " << x[i];
        ASSERT_EQ(std::bit_cast<uint64_t>(c2[i]), std::bit_cast<uint64_t>(c[i])) << lanes << " lanes, " << x[i];
      }
    }
  }
  EXPECT_FALSE(juxs::raytrace::sinCosLanes(3));
  // The library's sine at run time, not the compiler's folded constant: the
  // two differ for 1e300 under Windows' C library.
  volatile double huge = 1e300;
  x[2] = huge;
  x[3] = std::nan("");
  std::vector<double> s(8), c(8);
  juxs::raytrace::sinCos(x.data(), s.data(), c.data(), 8);
  EXPECT_EQ(s[2], std::sin(static_cast<double>(huge)));
  EXPECT_TRUE(std::isnan(c[3]));
  EXPECT_EQ(s[4], std::sin(x[4])) << "the library's for the whole batch";
}

TEST_F(AmbientOcclusion, OpenSkyIsFullyOpenAndTakesTheBackgroundColour) {
  set("Bg Color", {0.2, 0.4, 0.6});
  set("Bg Brightness", {0.5});
  EXPECT_DOUBLE_EQ(scalar(), 1.0);
  const auto c = color();
  EXPECT_NEAR(c[0], 0.1, 1e-15);
  EXPECT_NEAR(c[1], 0.2, 1e-15);
  EXPECT_NEAR(c[2], 0.3, 1e-15);
  // Both passes cast their own 27 rays from the shading point.
  ASSERT_EQ(rays.calls.size(), 54u);
  for (const RayCall &call : rays.calls) {
    EXPECT_EQ(call.kind, RayCall::Cast);
    EXPECT_EQ(call.origin, (std::array<double, 3>{0, 0, 0}));
  }
}

TEST_F(AmbientOcclusion, OffsetMovesTheOriginAlongTheGeometricNormal) {
  set("Offset", {0.5});
  na.wPos[0] = 1;
  na.gNorm[0] = 0, na.gNorm[1] = 0, na.gNorm[2] = 2; // as the context gives it, not renormalised
  scalar();
  ASSERT_FALSE(rays.calls.empty());
  EXPECT_EQ(rays.calls[0].origin, (std::array<double, 3>{1, 0, 1}));
}

TEST_F(AmbientOcclusion, ConeAngleZeroSendsEveryRayAlongTheAxis) {
  set("Cone Angle", {0.0});
  na.wNorm[0] = 0.6, na.wNorm[1] = 0, na.wNorm[2] = 0.8;
  scalar();
  ASSERT_EQ(rays.calls.size(), 27u);
  for (const RayCall &call : rays.calls) expectDirection(call.direction, {0.6, 0, 0.8}, "cone 0");
}

TEST_F(AmbientOcclusion, RangedWeightsAndTheTwoClamps) {
  // Every ray hits at distance 1; Max 4, Shift 0.1: w = 1 - 1/4 - 0.1.
  rays.answer = [](const RayCall &, double *) { return 1.0; };
  set("Max", {4.0});
  set("Shift", {0.1});
  EXPECT_NEAR(scalar(), 0.35, 1e-12);
  // Beyond Max a hit counts as open, but still takes the surface colour.
  set("Max", {0.5});
  set("Srf Color", {0.25, 0.5, 1});
  EXPECT_DOUBLE_EQ(scalar(), 1.0);
  EXPECT_NEAR(color()[0], 0.25, 1e-12);
  // Not ranged: every hit is occluded by 1 - Shift, whatever its distance.
  setInt(0x8007, 0);
  EXPECT_NEAR(scalar(), 0.1, 1e-12);
  set("Shift", {0.0});
  EXPECT_DOUBLE_EQ(scalar(), 0.0);
  // Clamp Low 0.2: no ray occludes more than 0.8.
  setInt(0x800a, 1);
  set("Low", {0.2});
  EXPECT_NEAR(scalar(), 0.2, 1e-12);
  // Low wins over High where both apply: the High test is not made.
  setInt(0x800c, 1);
  set("High", {0.1});
  EXPECT_NEAR(scalar(), 0.2, 1e-12);
  // Clamp High 0.7 alone raises every ray to 0.3, misses included.
  setInt(0x800a, 0);
  set("High", {0.7});
  rays.answer = [](const RayCall &, double *) { return -1.0; };
  EXPECT_NEAR(scalar(), 0.7, 1e-12);
  // Clamp Low does not raise a miss.
  setInt(0x800c, 0);
  setInt(0x800a, 1);
  EXPECT_DOUBLE_EQ(scalar(), 1.0);
}

// Cast rays are weighed and blended a batch at a time: over several batches,
// with hits near and beyond Max, misses and distances that are no number,
// the outputs are the plain ray-by-ray formula's.
TEST_F(AmbientOcclusion, WeightsAndBlendsOverSeveralBatchesAsRayByRay) {
  constexpr int kRays = 150;
  constexpr double kMax = 4.0, kShift = 0.05, kLow = 0.1, kHigh = 0.8;
  auto distance = [](int i) {
    if (i % 5 == 0) return -1.0;
    if (i % 7 == 0) return std::nan("");
    return 0.37 * (i % 13); // 4.44 at most: some beyond Max
  };
  auto plainWeight = [&](double t) {
    double w = 0;
    if (!std::isnan(t) && t >= 0 && t <= kMax) w = 1 - t / kMax - kShift;
    if (w > 1 - kLow) return 1 - kLow;
    if (w < 1 - kHigh) return 1 - kHigh;
    return w;
  };
  connect(constant(CONN_INTEGER, 0, kRays), "Samples");
  set("Max", {kMax});
  set("Shift", {kShift});
  setInt(0x800a, 1);
  set("Low", {kLow});
  setInt(0x800c, 1);
  set("High", {kHigh});
  const double srf[3] = {0.25, 0.5, 1}, bg[3] = {0.9, 0.8, 0.7}, occ[3] = {0.1, 0.2, 0.3};
  set("Srf Color", {srf[0], srf[1], srf[2]});
  set("Bg Color", {bg[0], bg[1], bg[2]});
  set("Occ Color", {occ[0], occ[1], occ[2]});
  set("Occ Brightness", {0.5});
  int n = 0;
  rays.answer = [&](const RayCall &, double *) { return distance(n++); };

  double sum = 0, want[3] = {0, 0, 0};
  int clampedLow = 0, clampedHigh = 0;
  for (int i = 0; i < kRays; ++i) {
    const double t = distance(i), w = plainWeight(t);
    sum += w;
    clampedLow += w == 1 - kLow;
    clampedHigh += w == 1 - kHigh;
    const double *base = t >= 0 ? srf : bg;
    for (int c = 0; c < 3; ++c) want[c] += ((1 - w) * base[c] + w * occ[c] * 0.5) / kRays;
  }
  ASSERT_GT(clampedLow, 0);
  ASSERT_GT(clampedHigh, 0);
  EXPECT_NEAR(scalar(), 1 - sum / kRays, 1e-12);
  EXPECT_EQ(n, kRays);
  n = 0;
  const auto c = color();
  EXPECT_EQ(n, kRays);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], want[k], 1e-12) << k;
}

TEST_F(AmbientOcclusion, MaxZeroCountsAHitAtZeroAsFullyOccluded) {
  set("Max", {0.0});
  set("Shift", {0.25});
  rays.answer = [](const RayCall &, double *) { return 0.0; };
  EXPECT_DOUBLE_EQ(scalar(), 0.25); // w = 1 - Shift, never 0 / 0
  rays.answer = [](const RayCall &, double *) { return 1e-300; };
  EXPECT_DOUBLE_EQ(scalar(), 1.0); // beyond Max
  // A Max that is no number grades nothing and makes no NaN.
  HostNode *nan = constant(CONN_SCALAR, std::nan(""));
  connect(nan, "Max");
  EXPECT_DOUBLE_EQ(scalar(), 1.0);
}

TEST_F(AmbientOcclusion, CountsBelowOneCastOneRay) {
  connect(constant(CONN_INTEGER, 0, 0), "Samples");
  EXPECT_DOUBLE_EQ(scalar(), 1.0);
  EXPECT_EQ(rays.calls.size(), 1u);
  HostNode *negative = constant(CONN_INTEGER, -5, -5);
  connect(negative, "Samples");
  rays.answer = [](const RayCall &, double *) { return 0.0; };
  EXPECT_DOUBLE_EQ(scalar(), 0.0); // one hit at distance 0 over a count of 1
}

TEST_F(AmbientOcclusion, PolarCounts) {
  setInt(0x8001, 1);
  rays.answer = [](const RayCall &, double *) { return 0.0; }; // every ray fully occluded
  setInt(0x8003, 1);
  EXPECT_DOUBLE_EQ(scalar(), 0.0);
  ASSERT_EQ(rays.calls.size(), 1u); // only the axis, whatever Polar Samples 2 is
  EXPECT_EQ(rays.calls[0].direction, (std::array<double, 3>{0, 1, 0}));
  // Polar Samples 2 at 0: one ray per ring. The hits of the axis ray only
  // count once among 1 + 3 rays.
  setInt(0x8003, 4);
  setInt(0x8004, 0);
  rays.calls.clear();
  rays.answer = [](const RayCall &c, double *) { return c.direction == std::array<double, 3>{0, 1, 0} ? 0.0 : -1.0; };
  EXPECT_DOUBLE_EQ(scalar(), 0.75);
  EXPECT_EQ(rays.calls.size(), 4u);
  // Through the inputs as well.
  connect(constant(CONN_INTEGER, 0, 0), "Polar 1");
  rays.calls.clear();
  scalar();
  EXPECT_EQ(rays.calls.size(), 1u);
}

TEST_F(AmbientOcclusion, AModeWithoutAPatternGivesZeroAndCastsNothing) {
  setInt(0x8001, 2);
  EXPECT_DOUBLE_EQ(scalar(), 0.0);
  EXPECT_EQ(color(), (std::array<double, 3>{0, 0, 0}));
  EXPECT_TRUE(rays.calls.empty());
}

TEST_F(AmbientOcclusion, BeyondSampleDepthOnASampledRayTheLimitColourStandsIn) {
  set("Limit Color", {0.5, 0.25, 1});
  set("Limit Brightness", {2.0});
  na.flags = 8;
  na.bounces = 1;
  EXPECT_EQ(color(), (std::array<double, 3>{1, 0.5, 2}));
  EXPECT_DOUBLE_EQ(scalar(), 1.0); // the red component
  EXPECT_TRUE(rays.calls.empty());
  // Deep enough for Sample Depth, or not a sampled ray: sampling as usual.
  setInt(0x800f, 1);
  EXPECT_DOUBLE_EQ(scalar(), 1.0);
  EXPECT_EQ(rays.calls.size(), 27u);
  setInt(0x800f, 0);
  na.flags = 0;
  na.bounces = 5;
  rays.calls.clear();
  scalar();
  EXPECT_EQ(rays.calls.size(), 27u);
}

TEST_F(AmbientOcclusion, TheLimitBackdropLooksAlongTheIncomingRay) {
  host.scene().setGradientBackdrop(vividGradient());
  setInt(0x8019, 1);
  na.flags = 8;
  na.bounces = 1;
  na.raySource[0] = 0, na.raySource[1] = 4, na.raySource[2] = 0; // from straight above: looking down
  double down[3] = {0, -1, 0}, up[3] = {0, 1, 0}, expect[3];
  host.scene().backdropColor(0.0, down, expect);
  auto c = color();
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(c[k], expect[k]);
  // An incoming ray that starts on the point has no direction: the backdrop
  // straight out from the surface.
  for (int k = 0; k < 3; ++k) na.raySource[k] = na.wPos[k];
  host.scene().backdropColor(0.0, up, expect);
  c = color();
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(c[k], expect[k]);
  // With no normal either, the fixed colour.
  set("Limit Color", {0.5, 0.5, 0.5});
  for (double &n : na.wNorm) n = 0;
  EXPECT_EQ(color(), (std::array<double, 3>{0.5, 0.5, 0.5}));
}

TEST_F(AmbientOcclusion, OnlyTheColorPassTracesAndOnlyForATracedSlot) {
  na.incomingEta = 1.33;
  setInt(0x8016, 2); // Occ Color: Trace
  rays.answer = [](const RayCall &c, double colour[3]) {
    if (c.kind == RayCall::Trace) colour[0] = 0.5, colour[1] = 0.25, colour[2] = 1.0;
    return 0.0;
  };
  const auto c = color();
  ASSERT_EQ(rays.calls.size(), 27u);
  for (const RayCall &call : rays.calls) {
    EXPECT_EQ(call.kind, RayCall::Trace);
    EXPECT_EQ(call.mode, 0x40000001u);
    EXPECT_EQ(call.eta, 1.33);
  }
  // Every ray fully occluded: the traced colour is the result.
  EXPECT_NEAR(c[0], 0.5, 1e-12);
  EXPECT_NEAR(c[1], 0.25, 1e-12);
  EXPECT_NEAR(c[2], 1.0, 1e-12);
  rays.calls.clear();
  EXPECT_DOUBLE_EQ(scalar(), 0.0);
  for (const RayCall &call : rays.calls) EXPECT_EQ(call.kind, RayCall::Cast);

  // A traced surface colour traces only in ranged mode; outside it, the
  // surface colour of a Trace slot is black.
  setInt(0x8016, 0);
  setInt(0x8010, 2);
  rays.calls.clear();
  color();
  EXPECT_EQ(rays.calls[0].kind, RayCall::Trace);
  setInt(0x8007, 0);
  set("Shift", {0.5});
  rays.calls.clear();
  const auto black = color();
  EXPECT_EQ(rays.calls[0].kind, RayCall::Cast);
  EXPECT_EQ(black, (std::array<double, 3>{0, 0, 0})); // half black surface, half black occlusion
}

TEST_F(AmbientOcclusion, BackdropSlotsLookAlongEachRay) {
  host.scene().setGradientBackdrop(vividGradient());
  setInt(0x8013, 1); // Bg: Backdrop
  const auto c = color();
  ASSERT_EQ(rays.calls.size(), 27u);
  double expect[3] = {0, 0, 0};
  for (const RayCall &call : rays.calls) {
    double b[3];
    host.scene().backdropColor(0.0, call.direction.data(), b);
    for (int k = 0; k < 3; ++k) expect[k] += b[k] / 27;
  }
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], expect[k], 1e-12);
}

// Single-threaded, the process-wide draws follow the definitions exactly: an
// input's upstream draws when it is gathered, each ray draws u1 then u2, and
// a traced ray whose surface draws does so before the next ray's pair.
TEST_F(AmbientOcclusion, DrawsComeInTheDefinedOrderAroundATracedSurfaceThatDraws) {
  HostNode *surfaceRandom = add("Jux Random"); // the surface the traced rays reach
  HostNode *shiftRandom = add("Jux Random");
  ao = add("Jux Ambient Occlusion"); // the last creation restarts the sequence at 3
  connect(shiftRandom, "Shift");
  setInt(0x8016, 2); // occlusion colour traced
  set("Cone Angle", {1.0});
  std::vector<double> surfaceDraws;
  rays.answer = [&](const RayCall &c, double colour[3]) {
    if (c.kind == RayCall::Trace) { // a cast shades nothing
      LWNodalAccess hit = rays.context();
      surfaceDraws.push_back(net->evaluate(surfaceRandom, "Out", hit).scalar());
    }
    colour[0] = colour[1] = colour[2] = 0;
    return 2.0;
  };
  Draws draws;
  for (const char *pass : {"Color", "Scalar", "Color"}) {
    rays.calls.clear();
    surfaceDraws.clear();
    net->evaluate(ao, pass, na);
    const bool traced = std::string(pass) == "Color";
    SCOPED_TRACE(pass);
    ASSERT_EQ(rays.calls.size(), 27u);
    ASSERT_EQ(surfaceDraws.size(), traced ? 27u : 0u);
    draws.u(); // Shift's Random, when the settings are gathered
    for (std::size_t i = 0; i < 27; ++i) {
      const double alpha = 2.0 * kPi * draws.u(), beta = 1.0 * draws.u();
      const double n[3] = {0, 1, 0};
      expectDirection(rays.calls[i].direction, textbookDirection(n, alpha, beta), "ray " + std::to_string(i));
      if (traced) {
        ASSERT_NEAR(surfaceDraws[i], draws.u(), 1e-15) << "surface draw after ray " << i;
      }
    }
  }
}

TEST_F(AmbientOcclusion, ARandomCreatedAfterwardsRestartsTheSequence) {
  scalar();
  const std::vector<RayCall> first = rays.calls;
  rays.calls.clear();
  scalar(); // the sequence has moved on
  EXPECT_NE(rays.calls[0].direction, first[0].direction);
  add("Jux Random");
  rays.calls.clear();
  scalar();
  ASSERT_EQ(rays.calls.size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(rays.calls[i].direction, first[i].direction);
}

TEST_F(AmbientOcclusion, BlockHoldsTwelveIntegersThenTheFifteenParameters) {
  expectBlock(ao, {0, 27, 3, 9, 1, 0, 0, 0, 0, 0, 0, 0},
              {"Jitter Angle", "Cone Angle", "Max", "Shift", "Low", "High", "Offset", "Srf Color", "Srf Brightness",
               "Bg Color", "Bg Brightness", "Occ Color", "Occ Brightness", "Limit Color", "Limit Brightness"});
  // Settings changed, saved and loaded into a new node come back as they were
  // and take effect at once.
  const int32_t ints[12] = {1, 5, 2, 4, 0, 1, 1, 2, 2, 1, 2, 1};
  for (uint32_t i = 0; i < 12; ++i) {
    static constexpr uint32_t ids[12] = {0x8001, 0x8002, 0x8003, 0x8004, 0x8007, 0x800a,
                                         0x800c, 0x800f, 0x8010, 0x8013, 0x8016, 0x8019};
    setInt(ids[i], ints[i]);
  }
  set("Cone Angle", {0.0});
  const std::vector<uint8_t> bytes = save(ao);
  HostNode *copy = add("Jux Ambient Occlusion");
  std::string error;
  ASSERT_TRUE(load(copy, bytes, LWIO_BINARY, &error)) << error;
  EXPECT_EQ(save(copy), bytes);
  hostsim::Panel *p = openPanel(copy);
  for (uint32_t i = 0; i < 12; ++i) {
    static constexpr uint32_t ids[12] = {0x8001, 0x8002, 0x8003, 0x8004, 0x8007, 0x800a,
                                         0x800c, 0x800f, 0x8010, 0x8013, 0x8016, 0x8019};
    EXPECT_EQ(*static_cast<int32_t *>(host.panels().callGet(*p, ids[i])), ints[i]) << std::hex << ids[i];
  }
  // Polar 2 x 4 with cone 0: five rays along the axis.
  rays.calls.clear();
  net->evaluate(copy, "Scalar", na);
  EXPECT_EQ(rays.calls.size(), 5u);
  // A short block is an error, not a crash.
  const std::vector<uint8_t> shortBlock(bytes.begin(), bytes.begin() + 30);
  EXPECT_FALSE(load(add("Jux Ambient Occlusion"), shortBlock));
}

TEST_F(AmbientOcclusion, PanelHidesInputValuesAndDisablesTheSurfaceOutsideRangedMode) {
  hostsim::Panel *p = openPanel(ao);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->layout.size(), 5u);
  EXPECT_TRUE(host.panels().callGet(*p, 0x8002));
  connect(constant(CONN_INTEGER, 3, 3), "Samples");
  EXPECT_EQ(host.panels().callGet(*p, 0x8002), nullptr);
  EXPECT_TRUE(host.panels().callGet(*p, 0x8001)); // Mode has no input
  connect(constant(CONN_COLOR, 1), "Srf Color");
  EXPECT_EQ(host.panels().callGet(*p, 0x8011), nullptr);
  EXPECT_EQ(host.panels().callGet(*p, 0x801c), nullptr);
  EXPECT_EQ(host.panels().callSet(*p, 0x801c, nullptr), 0);

  setInt(0x8007, 0);
  for (uint32_t id : {0x8010u, 0x8011u, 0x8012u}) {
    const std::optional<std::string> message = host.panels().disabledBy(*p, *p->control(id));
    EXPECT_FALSE(host.panels().enabled(*p, *p->control(id))) << std::hex << id;
    EXPECT_EQ(message.value_or("(enabled)"), "This control is only enabled in ranged mode");
  }
  EXPECT_FALSE(host.panels().enabled(*p, *p->control(0x8008)));
  setInt(0x8007, 1);
  EXPECT_TRUE(host.panels().enabled(*p, *p->control(0x8012)));
  setInt(0x8013, 1); // Bg Color Mode "Backdrop" disables Bg Color
  EXPECT_FALSE(host.panels().enabled(*p, *p->control(0x8014)));
}

class ModelerAmbientOcclusion : public testsupport::HostFixture {};

TEST_F(ModelerAmbientOcclusion, ActivatesWithoutBackdropOrTimeAndUsesTheFixedColours) {
  host.setSystemId(0x10000001);
  host.withhold("LW Backdrop Info 2");
  host.withhold("LW Time Info");
  HostNode *ao = add("Jux Ambient Occlusion");
  ASSERT_TRUE(ao);
  hostsim::Panel *p = openPanel(ao);
  int32_t backdrop = 1;
  host.panels().callSet(*p, 0x8013, &backdrop);
  testsupport::ScriptedRays rays;
  LWNodalAccess na = rays.context();
  const OutputValue c = net->evaluate(ao, "Color", na);
  EXPECT_DOUBLE_EQ(c.v[0], 1.0); // the fixed white Bg Color
  EXPECT_DOUBLE_EQ(c.v[2], 1.0);
  // Outside the modeler both are required.
  host.setSystemId(0);
  EXPECT_THROW(net->add("Jux Ambient Occlusion"), hostsim::Error);
}

} // namespace
