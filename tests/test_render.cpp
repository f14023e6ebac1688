// The renderer's ray operations as the module sees them through its shading
// contexts, recursion, thread numbers and frames. Also run under the thread
// sanitizer.
#include <atomic>
#include <cmath>
#include <numbers>
#include <mutex>
#include <thread>

#include "tests/support/scene_fixture.h"

using hostsim::HostNode;
using hostsim::NodeOutput;
using hostsim::OutputValue;

namespace {

constexpr double kTau = 2.0 * std::numbers::pi;

class Render : public testsupport::SceneFixture {
protected:
  // A host node on a surface's root "Color" that lets a test see each context
  // the surface is shaded in.
  HostNode *probe(hostsim::Surface &s, std::function<void(LWNodalAccess *, OutputValue *)> fn) {
    HostNode *p = s.network->addHostNode("Probe", {{"Color", CONN_COLOR}},
                                         [fn](LWNodalAccess *na, const NodeOutput *, OutputValue *out) {
                                           fn(na, out);
                                           out->set = true;
                                         });
    EXPECT_NO_THROW(s.network->connect(p, "Color", s.root, "Color"));
    return p;
  }
};

// Directions spread evenly over the sphere.
std::vector<std::array<double, 3>> directions(int n) {
  std::vector<std::array<double, 3>> d;
  for (int i = 0; i < n; ++i) {
    const double y = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1 - y * y), a = i * 2.399963229728653;
    d.push_back({r * std::cos(a), y, r * std::sin(a)});
  }
  for (int axis = 0; axis < 3; ++axis)
    for (double s : {-1.0, 1.0}) {
      std::array<double, 3> v{0, 0, 0};
      v[axis] = s;
      d.push_back(v);
    }
  return d;
}

TEST_F(Render, CastFromInsideAClosedSphereHitsAtItsRadiusEverywhere) {
  load(R"({"surfaces": [{"name": "S"}],
           "objects": [{"type": "sphere", "surface": "S", "radius": 2.5, "position": [1, -2, 3]},
                       {"type": "sphere", "surface": "S", "radius": 0.5, "position": [1, 5, 3], "scale": 0.25}]})");
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
  const double centre[3] = {1, -2, 3};
  for (const auto &d : directions(500)) {
    const double t = na.rayCast(centre, d.data());
    ASSERT_NEAR(t, 2.5, 1e-4) << d[0] << " " << d[1] << " " << d[2];
  }
  // The direction's length does not scale the distance.
  const double longUp[3] = {0, 7, 0};
  EXPECT_NEAR(na.rayCast(centre, longUp), 2.5, 1e-4);
  // Outside, pointing away from everything: a miss, negative.
  const double outside[3] = {1, 10, 3}, away[3] = {0, 1, 0};
  EXPECT_LT(na.rayCast(outside, away), 0.0);
  // The small sphere (radius 0.5 scaled to 0.125) is hit on its near side.
  const double above[3] = {1, 8, 3}, down[3] = {0, -1, 0};
  EXPECT_NEAR(na.rayCast(above, down), 3 - 0.125, 1e-4);
  const double zero[3] = {0, 0, 0};
  EXPECT_LT(na.rayCast(centre, zero), 0.0);
  EXPECT_EQ(w.casts, directions(500).size() + 3); // the zero direction casts nothing
}

TEST_F(Render, TraceWithModeShadesTheHitOrReturnsTheBackdrop) {
  hostsim::Scene &s = load(R"({
    "backdrop": {"zenith": [0, 0, 1], "sky": [0.5, 0.5, 1], "ground": [0.4, 0.3, 0.2], "nadir": [0, 0, 0]},
    "light": {"ambient": 0, "shadows": false},
    "surfaces": [{"name": "Lamp", "color": [0.2, 0.4, 0.6], "luminosity": 1, "diffuse": 0}],
    "objects": [{"type": "box", "surface": "Lamp", "size": [2, 2, 2], "position": [0, 0, 10]}]})");
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
  const double origin[3] = {0, 0, 0}, ahead[3] = {0, 0, 1};
  double c[3] = {9, 9, 9};
  EXPECT_NEAR(na.rayTraceMode(origin, ahead, c, 1.0, RTMODE_REFLECTION), 9.0, 1e-5);
  EXPECT_NEAR(c[0], 0.2, 1e-12);
  EXPECT_NEAR(c[1], 0.4, 1e-12);
  EXPECT_NEAR(c[2], 0.6, 1e-12);
  for (const auto &d : directions(40)) {
    if (d[2] > 0.99) continue; // towards the box
    double got[3] = {9, 9, 9}, want[3];
    EXPECT_EQ(na.rayTraceMode(origin, d.data(), got, 1.0, RTFLAG_SAMPLEDRAY | RTMODE_REFLECTION), -1.0);
    host.scene().backdropColor(w.time, d.data(), want);
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(got[k], want[k]);
  }
  EXPECT_EQ(s.surfaces.size(), 1u);
}

TEST_F(Render, NestedContextsCarryDepthTheSampledBitAndTheCallersPixel) {
  hostsim::Scene &s = load(R"({"rayRecursionLimit": 4, "surfaces": [{"name": "Wall"}],
    "objects": [{"type": "plane", "surface": "Wall", "size": [4, 4], "position": [0, 0, 5], "rotation": [0, -90, 0]}]})");
  struct Seen {
    int32_t flags = 0;
    int32_t depth = -1, sx = -1, sy = -1, thread = -1;
    double eta = 0, cosine = 0;
    int calls = 0;
  } seen;
  probe(s.surfaces[0], [&](LWNodalAccess *na, OutputValue *) {
    seen = {na->flags, na->bounces, na->sx, na->sy, na->threadNum, na->incomingEta, na->cosine, seen.calls + 1};
  });
  hostsim::Worker w;
  w.renderer = &render();
  w.threadNum = 3;
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
  na.sx = 12;
  na.sy = 34;
  na.bounces = 1;
  const double origin[3] = {0, 0, 0}, ahead[3] = {0, 0, 1};
  double c[3];

  EXPECT_NEAR(na.rayTraceMode(origin, ahead, c, 1.33, RTMODE_REFRACTION), 5.0, 1e-4);
  EXPECT_EQ(seen.flags & LWRT_SAMPLEDRAY, 0);
  EXPECT_EQ(seen.depth, 2);
  EXPECT_EQ(seen.sx, 12);
  EXPECT_EQ(seen.sy, 34);
  EXPECT_EQ(seen.thread, 3);
  EXPECT_DOUBLE_EQ(seen.eta, 1.33);
  EXPECT_NEAR(seen.cosine, 1.0, 1e-6); // the plane faces the ray

  na.rayTraceMode(origin, ahead, c, 1.0, RTFLAG_SAMPLEDRAY | RTMODE_REFLECTION);
  EXPECT_NE(seen.flags & LWRT_SAMPLEDRAY, 0);

  // Once sampled, rays traced from there on stay marked.
  na.flags = LWRT_SAMPLEDRAY;
  na.rayTraceMode(origin, ahead, c, 1.0, RTMODE_REFLECTION);
  EXPECT_NE(seen.flags & LWRT_SAMPLEDRAY, 0);

  // Ray shade fills the record of the hit.
  LWShaderAccess sa{};
  EXPECT_NEAR(na.rayShade(origin, ahead, &sa), 5.0, 1e-4);
  EXPECT_NEAR(sa.wPos[2], 5.0, 1e-4);
  EXPECT_NEAR(sa.rayLength, 5.0, 1e-4);
  EXPECT_NEAR(sa.wNorm[2], -1.0, 1e-6);
  EXPECT_EQ(sa.bounces, 2);
  EXPECT_EQ(sa.threadNum, 3);
  EXPECT_GT(sa.spotSize, 0.0);
  // A miss leaves the record alone.
  LWShaderAccess untouched{};
  untouched.color[0] = 0.5;
  const double back[3] = {0, 0, -1};
  EXPECT_LT(na.rayShade(origin, back, &untouched), 0.0);
  EXPECT_EQ(untouched.color[0], 0.5);
  EXPECT_EQ(untouched.rayLength, 0.0);
  EXPECT_EQ(seen.calls, 4);
}

// The ray functions take no context: each call belongs to the sample its
// thread is shading, a trace from inside a shade to the inner sample, and
// once that returns, to the outer one again.
TEST_F(Render, RaysFindTheirCallersSampleThroughTheThread) {
  hostsim::Scene &s = load(R"({"rayRecursionLimit": 8, "surfaces": [{"name": "Wall"}],
    "objects": [{"type": "plane", "surface": "Wall", "size": [4, 4], "position": [0, 0, 5], "rotation": [0, -90, 0]}]})");
  std::vector<int32_t> depths;
  probe(s.surfaces[0], [&](LWNodalAccess *na, OutputValue *) {
    depths.push_back(na->bounces);
    if (na->bounces >= 3) return;
    // From the hit, back towards the camera and on again: each trace is one
    // deeper than the sample that sends it.
    const double back[3] = {0, 0, -1}, ahead[3] = {0, 0, 1}, from[3] = {0, 0, 0};
    double c[3];
    EXPECT_LT(na->rayTraceMode(na->wPos, back, c, 1.0, RTMODE_REFLECTION), 0.0);
    EXPECT_GT(na->rayTraceMode(from, ahead, c, 1.0, RTMODE_REFLECTION), 0.0);
  });
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess outer = renderer->context(w);
  outer.bounces = 1;
  const hostsim::SampleScope scope(outer, w);
  const double origin[3] = {0, 0, 0}, ahead[3] = {0, 0, 1};
  double c[3];
  ASSERT_GT(outer.rayTraceMode(origin, ahead, c, 1.0, RTMODE_REFLECTION), 0.0);
  EXPECT_EQ(depths, (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(hostsim::SampleScope::current(), &outer) << "the nested samples are gone again";
  depths.clear();
  outer.rayTraceMode(origin, ahead, c, 1.0, RTMODE_REFLECTION);
  EXPECT_EQ(depths, (std::vector<int32_t>{2, 3}));
}

TEST_F(Render, RaysOutsideAnySampleHitNothing) {
  load(R"({"surfaces": [{"name": "S"}], "objects": [{"type": "sphere", "surface": "S", "radius": 2}]})");
  hostsim::Worker w;
  w.renderer = &render();
  const LWNodalAccess na = renderer->context(w); // no scope: this thread shades nothing
  ASSERT_EQ(hostsim::SampleScope::current(), nullptr);
  const double centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  EXPECT_LT(na.rayCast(centre, up), 0.0);
  double c[3] = {9, 9, 9}, want[3];
  EXPECT_EQ(na.rayTraceMode(centre, up, c, 1.0, RTMODE_REFLECTION), -1.0);
  host.scene().backdropColor(up, want);
  EXPECT_EQ(c[0], want[0]);
  EXPECT_EQ(w.casts + w.traces, 0u);
}

TEST_F(Render, NothingIsTracedBeyondTheRecursionLimit) {
  // Two mirrors facing each other, the camera between them looking at one.
  hostsim::Scene &s = load(R"({"rayRecursionLimit": 5,
    "camera": {"position": [0, 0, 0], "target": [0, 0, 1], "fov": 1},
    "image": {"width": 1, "height": 1},
    "surfaces": [{"name": "Mirror", "reflection": 1}],
    "objects": [{"type": "box", "surface": "Mirror", "size": [10, 10, 0.1], "position": [0, 0, 2]},
                {"type": "box", "surface": "Mirror", "size": [10, 10, 0.1], "position": [0, 0, -2]}]})");
  std::vector<int32_t> depths;
  probe(s.surfaces[0], [&](LWNodalAccess *na, OutputValue *out) {
    depths.push_back(na->bounces);
    out->v[0] = out->v[1] = out->v[2] = 1.0;
  });
  hostsim::Worker w;
  w.renderer = &render();
  double c[3];
  renderer->sample(w, 0, 0, 0, 1, c);
  ASSERT_EQ(depths.size(), 6u);
  for (int32_t d = 0; d <= 5; ++d) EXPECT_EQ(depths[static_cast<std::size_t>(d)], d);
  EXPECT_EQ(w.traces, 5u);

  // A node at the limit asking for more gets the backdrop, and no ray goes out.
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
  na.bounces = 5;
  const double origin[3] = {0, 0, 0}, ahead[3] = {0, 0, 1};
  double got[3] = {9, 9, 9}, want[3];
  EXPECT_EQ(na.rayTraceMode(origin, ahead, got, 1.0, RTMODE_REFLECTION), -1.0);
  host.scene().backdropColor(w.time, ahead, want);
  EXPECT_EQ(got[0], want[0]);
  LWShaderAccess sa{};
  EXPECT_LT(na.rayShade(origin, ahead, &sa), 0.0);
  EXPECT_EQ(w.traces, 5u);
  EXPECT_EQ(depths.size(), 6u);
}

TEST_F(Render, WorkersHaveTheirOwnThreadNumbersAndTheSamePicture) {
  hostsim::Scene &s = load(R"({"image": {"width": 64, "height": 48, "samples": 2},
    "camera": {"position": [0, 0, -4], "target": [0, 0, 0]},
    "surfaces": [{"name": "Ball", "reflection": 0.3}, {"name": "Floor", "color": [0.3, 0.6, 0.2]}],
    "objects": [{"type": "sphere", "surface": "Ball"},
                {"type": "plane", "surface": "Floor", "size": [20, 20], "position": [0, -1, 0]}]})");
  constexpr int kThreads = 4;
  std::atomic<int> bad{0};
  std::atomic<std::thread::id> owner[kThreads];
  for (auto &o : owner) o = std::thread::id();
  probe(s.surfaces[0], [&](LWNodalAccess *na, OutputValue *out) {
    const int32_t t = na->threadNum;
    if (t < 0 || t >= kThreads) {
      ++bad;
      return;
    }
    // The first thread to use a number owns it for the frame.
    std::thread::id none;
    if (!owner[t].compare_exchange_strong(none, std::this_thread::get_id()) && none != std::this_thread::get_id())
      ++bad;
    out->v[0] = 0.8;
    out->v[1] = 0.1 * (na->sx % 3);
    out->v[2] = 0.2;
  });
  auto picture = [&](int threads) {
    for (auto &o : owner) o = std::thread::id();
    hostsim::RenderOptions ro;
    ro.threads = threads;
    hostsim::FrameBuffer fb;
    const auto stats = render().render(ro, [&](int, const hostsim::FrameBuffer &f) { fb = f; });
    EXPECT_EQ(stats.samples, 64u * 48u * 2u);
    return fb.rgb;
  };
  const auto one = picture(1);
  const auto many = picture(kThreads);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(one, many);
}

TEST_F(Render, EveryFrameComesBetweenOneInitAndOneCleanup) {
  hostsim::Scene &s = load(R"({"image": {"width": 8, "height": 8}, "frames": {"first": 1, "last": 3, "fps": 10},
    "backdrop": {"color": {"keys": [{"frame": 1, "value": [0, 0, 0]}, {"frame": 3, "value": [1, 0.5, 0]}]}},
    "surfaces": [{"name": "S", "network": {"nodes": [{"name": "info", "server": "Jux Render Info"}]}}]})");
  HostNode *info = s.surfaces[0].nodes[0];
  std::vector<int> frames;
  std::vector<float> centre;
  hostsim::RenderOptions ro;
  ro.firstFrame = 1;
  ro.lastFrame = 3;
  render().render(ro, [&](int frame, const hostsim::FrameBuffer &fb) {
    frames.push_back(frame);
    centre.push_back(fb.pixel(4, 4)[0]);
    hostsim::Worker w;
    w.renderer = renderer.get();
    LWNodalAccess na = renderer->context(w);
    const hostsim::SampleScope scope(na, w);
    EXPECT_EQ(s.surfaces[0].network->evaluate(info, "Current Frame", na).i, frame);
    // Render Info counts frame changes since its init: one init for all frames.
    EXPECT_EQ(s.surfaces[0].network->evaluate(info, "Rendered Frames", na).i, frame - 1);
    EXPECT_TRUE(s.surfaces[0].network->rendering());
  });
  EXPECT_FALSE(s.surfaces[0].network->rendering());
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3}));
  // The keyed backdrop moves with the frames: 0, halfway, full red.
  ASSERT_EQ(centre.size(), 3u);
  EXPECT_FLOAT_EQ(centre[0], 0.0f);
  EXPECT_FLOAT_EQ(centre[1], 0.5f);
  EXPECT_FLOAT_EQ(centre[2], 1.0f);
}

} // namespace
