// Gaussian Reflections and Gaussian Refractions, driven as the host drives
// them: the rays they trace (direction, refraction index, mode word), the
// numbers they draw from the module generator, and their colour sources.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "framework/random.h"
#include "nodes/raytrace/gaussian.h"
#include "hostsim/services/node_utility.h"
#include "tests/support/host_fixture.h"
#include "tests/support/plain_gaussian.h"

using hostsim::HostNode;
using hostsim::OutputValue;
using testsupport::mirror;
using testsupport::plainBend;
using testsupport::plainJitter;

namespace {

struct Traced {
  double origin[3], dir[3];
  double eta;
  uint32_t mode;
};
std::vector<Traced> gTraced;
double gTraceDistance = 3.0;
constexpr double kTraceColor[3] = {0.25, 0.5, 0.75};

// How many numbers the surface each trace shades draws, by trace (none past
// the end): what a traced surface with its own drawing nodes does.
std::vector<int> gDrawsInTrace;

double recordTrace(const double p[3], const double d[3], double c[3], const double eta, const int32_t mode) {
  if (gTraced.size() < gDrawsInTrace.size() && gDrawsInTrace[gTraced.size()] > 0) {
    // As a node of the shaded surface would: some in a hold of their own.
    const juxs::fw::rng::Hold nested(5);
    std::vector<uint32_t> r(static_cast<std::size_t>(gDrawsInTrace[gTraced.size()]));
    juxs::fw::rng::draw(r.data(), r.size());
  }
  gTraced.push_back({{p[0], p[1], p[2]}, {d[0], d[1], d[2]}, eta, static_cast<uint32_t>(mode)});
  for (int i = 0; i < 3; ++i) c[i] = kTraceColor[i];
  return gTraceDistance;
}

void expectDir(const Traced &t, const double want[3]) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(t.dir[i], want[i], 1e-12) << "component " << i;
}

constexpr uint32_t kSeed = 20240607;

class Gaussian : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    gTraced.clear();
    gDrawsInTrace.clear();
    gTraceDistance = 3.0;
    juxs::fw::rng::seed(kSeed);
  }
  // A view from above-left onto a floor at the origin facing +Y: V = (1, -1, 0) / sqrt 2.
  LWNodalAccess context() {
    LWNodalAccess na = hostsim::emptyWorldContext();
    na.raySource[0] = -1;
    na.raySource[1] = 1;
    na.raySource[2] = 0;
    na.rayTraceMode = &recordTrace;
    return na;
  }
  void setInt(HostNode *n, const std::string &label, int32_t v) {
    hostsim::Panel *p = openPanel(n);
    ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, label), v));
  }
  // An animatable setting in panel units, cached as a new frame caches it.
  void setParam(HostNode *n, const std::string &label, std::vector<double> v) {
    hostsim::Panel *p = openPanel(n);
    ASSERT_NO_THROW(host.panels().editValues(*p, control(p, label), v));
    net->newTime(1, 0.0);
  }
  void feed(HostNode *n, const std::string &input, const OutputValue &v) {
    ASSERT_NO_THROW(net->connect(net->addConstant(v), "Value", n, input));
  }
  static OutputValue integer(int32_t i) { return OutputValue{CONN_INTEGER, {0, 0, 0}, i, true}; }
  OutputValue colorOf(HostNode *n, LWNodalAccess na) { return net->evaluate(n, "Color", na); }
  // The next number the generator hands out, as a check of how many were drawn.
  static uint32_t nthDraw(int n) {
    juxs::fw::rng::seed(kSeed);
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = juxs::fw::rng::draw1();
    return v;
  }
  std::string imagePath() const { return std::string(JUXS_SOURCE_DIR) + "/examples/images/sky.hdr"; }
};

const double kV[3] = {(std::numbers::sqrt2 / 2), -(std::numbers::sqrt2 / 2), 0};
const double kUp[3] = {0, 1, 0};

TEST_F(Gaussian, NoBlurTracesOneExactMirrorRayWithModeOneWhateverSamples) {
  HostNode *g = add("Jux Gaussian Reflections");
  feed(g, "Samples", integer(5));
  const OutputValue c = colorOf(g, context());
  ASSERT_EQ(gTraced.size(), 1u);
  const double want[3] = {(std::numbers::sqrt2 / 2), (std::numbers::sqrt2 / 2), 0};
  expectDir(gTraced[0], want);
  EXPECT_EQ(gTraced[0].mode, 1u);
  EXPECT_EQ(gTraced[0].eta, 1.0);
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(c.v[i], kTraceColor[i]);
  // The nine draws are made even without blur.
  const uint32_t next = juxs::fw::rng::draw1();
  EXPECT_EQ(next, nthDraw(10));
}

TEST_F(Gaussian, EachSampleDrawsNineNumbersXFirstAndJittersAsDefined) {
  HostNode *g = add("Jux Gaussian Reflections");
  setParam(g, "Reflection Blur", {30.0});
  feed(g, "Samples", integer(3));
  juxs::fw::rng::seed(kSeed);
  colorOf(g, context());
  const uint32_t next = juxs::fw::rng::draw1();
  EXPECT_EQ(next, nthDraw(28)) << "nine draws for each of three samples";
  ASSERT_EQ(gTraced.size(), 3u);
  juxs::fw::rng::seed(kSeed);
  for (const Traced &t : gTraced) {
    uint32_t r[9];
    for (uint32_t &x : r) x = juxs::fw::rng::draw1();
    double n[3], want[3];
    plainJitter(kUp, 0.3, r, n);
    mirror(kV, n, want);
    expectDir(t, want);
    EXPECT_EQ(t.mode, 0x40000001u);
  }
}

TEST_F(Gaussian, SamplesBelowOneWithBlurGiveOneJitteredRay) {
  for (int32_t samples : {0, -4}) {
    HostNode *g = add("Jux Gaussian Reflections");
    setParam(g, "Reflection Blur", {10.0});
    feed(g, "Samples", integer(samples));
    gTraced.clear();
    juxs::fw::rng::seed(kSeed);
    colorOf(g, context());
    ASSERT_EQ(gTraced.size(), 1u) << samples;
    EXPECT_EQ(gTraced[0].mode, 0x40000001u);
    const uint32_t next = juxs::fw::rng::draw1();
    EXPECT_EQ(next, nthDraw(10));
  }
}

TEST_F(Gaussian, DeepSampledRaysTraceOneSharpRayAndDrawNothing) {
  for (const char *server : {"Jux Gaussian Reflections", "Jux Gaussian Refractions"}) {
    HostNode *g = add(server);
    setParam(g, std::string(server) == "Jux Gaussian Reflections" ? "Reflection Blur" : "Refraction Blur", {50.0});
    LWNodalAccess na = context();
    na.flags = LWRT_SAMPLEDRAY;
    na.bounces = 1; // deeper than Blur Depth 0
    gTraced.clear();
    juxs::fw::rng::seed(kSeed);
    colorOf(g, na);
    ASSERT_EQ(gTraced.size(), 1u) << server;
    const uint32_t next = juxs::fw::rng::draw1();
    EXPECT_EQ(next, nthDraw(1)) << server << ": no draws";
    if (std::string(server) == "Jux Gaussian Reflections") {
      const double want[3] = {(std::numbers::sqrt2 / 2), (std::numbers::sqrt2 / 2), 0};
      expectDir(gTraced[0], want);
      EXPECT_EQ(gTraced[0].mode, 1u);
    } else {
      expectDir(gTraced[0], kV); // index 1 into 1: straight on
      EXPECT_EQ(gTraced[0].mode, 0x40000002u) << "the blur still marks the ray sampled";
    }
    // Not sampled, or not deeper than the bound: blurred as usual.
    na.flags = 0;
    gTraced.clear();
    colorOf(g, na);
    EXPECT_EQ(gTraced.size(), 8u) << server;
  }
}

TEST_F(Gaussian, TintMultipliesOnlyWhenOn) {
  HostNode *g = add("Jux Gaussian Reflections");
  feed(g, "Color", OutputValue{CONN_COLOR, {2, 0.5, 0}, 0, true});
  OutputValue c = colorOf(g, context());
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(c.v[i], kTraceColor[i]);
  setInt(g, "Tint Reflections", 1);
  c = colorOf(g, context());
  EXPECT_DOUBLE_EQ(c.v[0], 0.5);
  EXPECT_DOUBLE_EQ(c.v[1], 0.25);
  EXPECT_DOUBLE_EQ(c.v[2], 0.0);
}

TEST_F(Gaussian, ColourSources) {
  ASSERT_TRUE(host.images().load(imagePath()));
  HostNode *g = add("Jux Gaussian Reflections");
  setInt(g, "Image", 1);
  const double r[3] = {(std::numbers::sqrt2 / 2), (std::numbers::sqrt2 / 2), 0};
  double u = 0, v = 0, fromImage[3];
  hostsim::sphericalMap(0.0, r, &u, &v);
  {
    testsupport::InCallback asModule;
    host.images().funcs()->RGBSpot(host.images().funcs()->first(), u, v, 0.001, 1, fromImage);
  }

  setInt(g, "Mode", 2); // spherical map: no trace
  OutputValue c = colorOf(g, context());
  EXPECT_TRUE(gTraced.empty());
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(c.v[i], fromImage[i]);

  setInt(g, "Mode", 3);
  for (double distance : {3.0, -0.5, -1.0}) {
    gTraceDistance = distance;
    gTraced.clear();
    c = colorOf(g, context());
    EXPECT_EQ(gTraced.size(), 1u);
    // Only a trace that reports exactly -1 (nothing hit) falls back to the image.
    const double *want = distance == -1.0 ? fromImage : kTraceColor;
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(c.v[i], want[i]) << distance;
  }

  setInt(g, "Mode", 0); // the backdrop
  gTraced.clear();
  c = colorOf(g, context());
  EXPECT_TRUE(gTraced.empty());
  double backdrop[3];
  host.scene().backdropColor(0.0, r, backdrop);
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(c.v[i], backdrop[i]);
}

TEST_F(Gaussian, ModeTwoWithoutImageAndModeZeroInTheModelerAreBlack) {
  host.setSystemId(0x10000001);
  HostNode *g = add("Jux Gaussian Reflections");
  for (int32_t mode : {0, 2}) {
    setInt(g, "Mode", mode);
    const OutputValue c = colorOf(g, context());
    EXPECT_EQ(c.v[0] + c.v[1] + c.v[2], 0.0) << mode;
  }
  EXPECT_TRUE(gTraced.empty());
}

TEST_F(Gaussian, SamplesControlKeepsItsValueWhileConnectedBlurDepthShowsNone) {
  for (const char *server : {"Jux Gaussian Reflections", "Jux Gaussian Refractions"}) {
    HostNode *g = add(server);
    feed(g, "Samples", integer(2));
    feed(g, "Blur Depth", integer(3));
    hostsim::Panel *p = openPanel(g);
    const hostsim::ControlValue samples = host.panels().value(*p, control(p, "Samples"));
    EXPECT_EQ(samples.kind, hostsim::ControlValue::Integer) << server;
    EXPECT_EQ(samples.integer, 8);
    EXPECT_NO_THROW(host.panels().editInteger(*p, control(p, "Samples"), 4));
    EXPECT_EQ(host.panels().value(*p, control(p, "Samples")).integer, 4);
    EXPECT_EQ(host.panels().value(*p, control(p, "Blur Depth")).kind, hostsim::ControlValue::None) << server;
  }
}

// Refraction: a view from 60 or 30 degrees off the normal.
class Refraction : public Gaussian {
protected:
  LWNodalAccess at(double degrees, double etaHere) {
    LWNodalAccess na = context();
    const double a = degrees * std::numbers::pi / 180;
    na.raySource[0] = -std::sin(a);
    na.raySource[1] = std::cos(a);
    na.incomingEta = etaHere;
    return na;
  }
};

TEST_F(Refraction, TotalInternalReflectionOnlyBeyondTheCriticalAngle) {
  HostNode *g = add("Jux Gaussian Refractions");
  setParam(g, "Refraction Index", {1.0});
  colorOf(g, at(60, 1.5));
  ASSERT_EQ(gTraced.size(), 1u);
  const double s60 = std::sin(std::numbers::pi / 3), c60 = std::cos(std::numbers::pi / 3);
  const double reflected[3] = {s60, c60, 0};
  expectDir(gTraced[0], reflected);
  EXPECT_EQ(gTraced[0].eta, 1.5) << "a reflected ray keeps the current index";
  EXPECT_EQ(gTraced[0].mode, 2u);

  gTraced.clear();
  colorOf(g, at(30, 1.5));
  ASSERT_EQ(gTraced.size(), 1u);
  // Snell: sin t = 1.5 sin 30 = 0.75, bending away from the normal, downwards.
  const double st = 0.75, ct = std::sqrt(1 - st * st);
  const double refracted[3] = {st, -ct, 0};
  expectDir(gTraced[0], refracted);
  EXPECT_EQ(gTraced[0].eta, 1.0) << "a refracted ray carries the node's index";
}

TEST_F(Refraction, IntoADenserMediumThereIsNoReflection) {
  HostNode *g = add("Jux Gaussian Refractions");
  setParam(g, "Refraction Index", {1.5});
  colorOf(g, at(80, 1.0));
  ASSERT_EQ(gTraced.size(), 1u);
  const double st = std::sin(80 * std::numbers::pi / 180) / 1.5;
  const double want[3] = {st, -std::sqrt(1 - st * st), 0};
  expectDir(gTraced[0], want);
  EXPECT_EQ(gTraced[0].eta, 1.5);
}

TEST_F(Refraction, EqualIndicesContinueAlongTheViewForEitherSideOfTheNormal) {
  HostNode *g = add("Jux Gaussian Refractions");
  setParam(g, "Refraction Index", {1.3});
  for (double flip : {1.0, -1.0}) {
    feed(g, "Normal", OutputValue{CONN_VECTOR, {0, flip, 0}, 0, true});
    gTraced.clear();
    colorOf(g, at(35, 1.3));
    ASSERT_EQ(gTraced.size(), 1u);
    const double a = 35 * std::numbers::pi / 180, want[3] = {std::sin(a), -std::cos(a), 0};
    expectDir(gTraced[0], want);
  }
}

TEST_F(Refraction, ANormalFacingAwayFromADenserMediumAlwaysReflects) {
  HostNode *g = add("Jux Gaussian Refractions");
  setParam(g, "Refraction Index", {1.0});
  feed(g, "Normal", OutputValue{CONN_VECTOR, {0, -1, 0}, 0, true});
  colorOf(g, at(5, 1.5));
  ASSERT_EQ(gTraced.size(), 1u);
  EXPECT_EQ(gTraced[0].eta, 1.5);
  EXPECT_GT(gTraced[0].dir[1], 0.0);
}

TEST_F(Refraction, BlurMarksEveryRaySampled) {
  HostNode *g = add("Jux Gaussian Refractions");
  setParam(g, "Refraction Blur", {5.0});
  feed(g, "Samples", integer(4));
  colorOf(g, at(20, 1.0));
  ASSERT_EQ(gTraced.size(), 4u);
  for (const Traced &t : gTraced) EXPECT_EQ(t.mode, 0x40000002u);
}

// Faults the node definitions leave open, and what the nodes do instead.
TEST_F(Refraction, NearTheCriticalAngleEveryRayHasADirection) {
  HostNode *g = add("Jux Gaussian Refractions");
  setParam(g, "Refraction Index", {1.0});
  const double critical = std::asin(1 / 1.5) * 180 / std::numbers::pi;
  for (int i = -200; i <= 200; ++i) {
    gTraced.clear();
    colorOf(g, at(critical + i * 1e-12, 1.5));
    ASSERT_EQ(gTraced.size(), 1u);
    for (double d : gTraced[0].dir) ASSERT_TRUE(std::isfinite(d)) << i;
  }
}

TEST_F(Refraction, AnIndexOfZeroOrLessPassesStraightThrough) {
  HostNode *g = add("Jux Gaussian Refractions");
  for (double ior : {0.0, -2.0}) {
    feed(g, "IOR", OutputValue{CONN_SCALAR, {ior, 0, 0}, 0, true});
    gTraced.clear();
    colorOf(g, at(40, 1.2));
    ASSERT_EQ(gTraced.size(), 1u);
    const double a = 40 * std::numbers::pi / 180, want[3] = {std::sin(a), -std::cos(a), 0};
    expectDir(gTraced[0], want);
    EXPECT_EQ(gTraced[0].eta, 1.2);
  }
}

TEST_F(Gaussian, AZeroNormalFallsBackToTheGeometricNormalAndARayFromThePointMirrorsBack) {
  HostNode *g = add("Jux Gaussian Reflections");
  feed(g, "Normal", OutputValue{CONN_VECTOR, {0, 0, 0}, 0, true});
  LWNodalAccess na = context();
  na.gNorm[0] = 0, na.gNorm[1] = 0, na.gNorm[2] = 2;
  colorOf(g, na);
  ASSERT_EQ(gTraced.size(), 1u);
  expectDir(gTraced[0], kV); // V lies in the plane of the normal +Z

  // No normal at all: black, nothing traced.
  na.gNorm[2] = 0;
  gTraced.clear();
  const OutputValue c = colorOf(g, na);
  EXPECT_TRUE(gTraced.empty());
  EXPECT_EQ(c.v[0] + c.v[1] + c.v[2], 0.0);

  // A ray that starts where it is shaded: seen head-on, mirrored back along N.
  HostNode *h = add("Jux Gaussian Reflections");
  LWNodalAccess here = context();
  for (double &x : here.raySource) x = 0;
  gTraced.clear();
  colorOf(h, here);
  ASSERT_EQ(gTraced.size(), 1u);
  expectDir(gTraced[0], kUp);
}

namespace gs = juxs::gaussian;

// A source that does not trace makes its rays a batch at a time: over more
// samples than one batch, the same draws go to the same samples.
TEST_F(Gaussian, BackdropSamplesOverSeveralBatchesDrawAndAverageAsOneAtATime) {
  constexpr int32_t kSamples = static_cast<int32_t>(2 * gs::kSampleBatch + 5);
  for (const char *server : {"Jux Gaussian Reflections", "Jux Gaussian Refractions"}) {
    const bool reflections = std::string(server) == "Jux Gaussian Reflections";
    HostNode *g = add(server);
    setInt(g, "Mode", 0);
    setParam(g, reflections ? "Reflection Blur" : "Refraction Blur", {40.0});
    if (!reflections) setParam(g, "Refraction Index", {1.2});
    feed(g, "Samples", integer(kSamples));
    LWNodalAccess na = context();
    na.incomingEta = reflections ? 1.0 : 1.6; // out of a denser medium: some samples reflect
    gTraced.clear();
    juxs::fw::rng::seed(kSeed);
    const OutputValue c = colorOf(g, na);
    EXPECT_TRUE(gTraced.empty());
    const uint32_t next = juxs::fw::rng::draw1();
    EXPECT_EQ(next, nthDraw(9 * kSamples + 1)) << server;

    juxs::fw::rng::seed(kSeed);
    double want[3] = {0, 0, 0};
    for (int32_t s = 0; s < kSamples; ++s) {
      uint32_t r[9];
      juxs::fw::rng::draw(r, 9);
      double m[3], dir[3], eta = 0, colour[3];
      plainJitter(kUp, 0.4, r, m);
      if (reflections)
        mirror(kV, m, dir);
      else
        plainBend(kV, m, 1.6, 1.2, dir, eta);
      host.scene().backdropColor(0.0, dir, colour);
      for (int i = 0; i < 3; ++i) want[i] += colour[i] / kSamples;
    }
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(c.v[i], want[i], 1e-12) << server;
  }
}

// Traces whose shading draws too: each sample still takes the nine numbers
// that come next when it draws, as one sample at a time would, whether the
// trace drawing comes at the first sample, in mid-batch, in a row or never.
TEST_F(Gaussian, SamplesWhoseTracesDrawTakeTheNumbersThatComeNext) {
  constexpr int32_t kSamples = static_cast<int32_t>(2 * gs::kSampleBatch + 7);
  const std::vector<std::vector<int>> patterns = {
      {}, {2}, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7},
      std::vector<int>(kSamples, 1)};
  for (const char *server : {"Jux Gaussian Reflections", "Jux Gaussian Refractions"}) {
    const bool reflections = std::string(server) == "Jux Gaussian Reflections";
    HostNode *g = add(server);
    setParam(g, reflections ? "Reflection Blur" : "Refraction Blur", {40.0});
    if (!reflections) setParam(g, "Refraction Index", {1.2});
    feed(g, "Samples", integer(kSamples));
    LWNodalAccess na = context();
    na.incomingEta = reflections ? 1.0 : 1.6; // out of a denser medium: some samples reflect
    for (const std::vector<int> &pattern : patterns) {
      SCOPED_TRACE(pattern.size());
      gDrawsInTrace = pattern;
      gTraced.clear();
      juxs::fw::rng::seed(kSeed);
      colorOf(g, na);
      ASSERT_EQ(gTraced.size(), static_cast<std::size_t>(kSamples)) << server;
      const uint32_t next = juxs::fw::rng::draw1();

      juxs::fw::rng::seed(kSeed);
      int drawn = 0;
      for (int32_t s = 0; s < kSamples; ++s) {
        uint32_t r[9];
        juxs::fw::rng::draw(r, 9);
        double m[3], want[3], eta = 1.0;
        plainJitter(kUp, 0.4, r, m);
        if (reflections)
          mirror(kV, m, want);
        else
          plainBend(kV, m, 1.6, 1.2, want, eta);
        expectDir(gTraced[static_cast<std::size_t>(s)], want);
        if (!reflections) {
          EXPECT_EQ(gTraced[static_cast<std::size_t>(s)].eta, eta) << s;
        }
        const int extra = static_cast<std::size_t>(s) < pattern.size() ? pattern[static_cast<std::size_t>(s)] : 0;
        for (int k = 0; k < extra; ++k) juxs::fw::rng::draw1();
        drawn += 9 + extra;
      }
      EXPECT_EQ(next, juxs::fw::rng::draw1()) << server << ": " << drawn << " drawn in all";
    }
  }
}

} // namespace
