// The renderer's ray operations as the module sees them through its shading
// contexts, recursion, thread numbers and frames. Also run under the thread
// sanitizer.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <set>
#include <string>
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
  const testsupport::InEvaluate evaluating(na);
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
  const testsupport::InEvaluate evaluating(na);
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
  const testsupport::InEvaluate evaluating(na);
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
  const testsupport::InEvaluate evaluating(outer);
  const double origin[3] = {0, 0, 0}, ahead[3] = {0, 0, 1};
  double c[3];
  ASSERT_GT(outer.rayTraceMode(origin, ahead, c, 1.0, RTMODE_REFLECTION), 0.0);
  EXPECT_EQ(depths, (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(hostsim::SampleScope::current(), &outer) << "the nested samples are gone again";
  depths.clear();
  outer.rayTraceMode(origin, ahead, c, 1.0, RTMODE_REFLECTION);
  EXPECT_EQ(depths, (std::vector<int32_t>{2, 3}));
}

// A context's operations belong to the evaluate it was handed to: called
// from anywhere else (a context kept, a thread of the module's own) they are
// refused, nothing is traced and nothing written. Inside an evaluate that
// shades no sample, a ray hits nothing and a trace sees the backdrop.
TEST_F(Render, RaysOutsideAnySampleHitNothing) {
  load(R"({"surfaces": [{"name": "S"}], "objects": [{"type": "sphere", "surface": "S", "radius": 2}]})");
  hostsim::Worker w;
  w.renderer = &render();
  const LWNodalAccess na = renderer->context(w); // no scope: this thread shades nothing
  ASSERT_EQ(hostsim::SampleScope::current(), nullptr);
  const double centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  double c[3] = {9, 9, 9}, want[3];
  EXPECT_LT(na.rayCast(centre, up), 0.0);
  EXPECT_TRUE(testsupport::refusedOnce(host, {"in no callback", "rayCast", "outside any callback"}));
  EXPECT_EQ(na.rayTraceMode(centre, up, c, 1.0, RTMODE_REFLECTION), -1.0);
  EXPECT_TRUE(testsupport::refusedOnce(host, {"rayTraceMode", "outside any callback"}));
  EXPECT_EQ(c[0], 9.0);
  {
    hostsim::CallbackScope newTime(hostsim::Callback::NewTime, nullptr);
    EXPECT_EQ(na.rayTraceMode(centre, up, c, 1.0, RTMODE_REFLECTION), -1.0);
    EXPECT_TRUE(testsupport::refusedOnce(host, {"in newTime", "rayTraceMode", "exists only inside evaluate"}));
  }
  const testsupport::InEvaluate evaluating(na);
  EXPECT_LT(na.rayCast(centre, up), 0.0);
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
  const testsupport::InEvaluate evaluating(na);
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

namespace {

// The members of two contexts that differ, bit for bit, by name; empty when
// they are the same.
std::string differences(const LWNodalAccess &a, const LWNodalAccess &b) {
  std::string out;
  auto member = [&](const char *name, const auto &x, const auto &y) {
    if (std::memcmp(&x, &y, sizeof x) != 0) out += std::string(out.empty() ? "" : " ") + name;
  };
#define JUXS_MEMBER(m) member(#m, a.m, b.m)
  JUXS_MEMBER(sx), JUXS_MEMBER(sy), JUXS_MEMBER(oPos), JUXS_MEMBER(wPos), JUXS_MEMBER(gNorm);
  JUXS_MEMBER(wNorm), JUXS_MEMBER(wNorm0), JUXS_MEMBER(raySource), JUXS_MEMBER(rayLength);
  JUXS_MEMBER(spotSize), JUXS_MEMBER(cosine), JUXS_MEMBER(bumpHeight), JUXS_MEMBER(oXfrm), JUXS_MEMBER(wXfrm);
  JUXS_MEMBER(illuminate), JUXS_MEMBER(illuminateSample), JUXS_MEMBER(rayTrace), JUXS_MEMBER(rayCast);
  JUXS_MEMBER(rayShade), JUXS_MEMBER(rayTraceMode), JUXS_MEMBER(bounces), JUXS_MEMBER(sourceID);
  JUXS_MEMBER(objID), JUXS_MEMBER(polNum), JUXS_MEMBER(verts), JUXS_MEMBER(weights), JUXS_MEMBER(vertsWPos);
  JUXS_MEMBER(polygon), JUXS_MEMBER(incomingEta), JUXS_MEMBER(threadNum), JUXS_MEMBER(flags);
  JUXS_MEMBER(randomData), JUXS_MEMBER(randomFloat), JUXS_MEMBER(illuminateNormal);
  JUXS_MEMBER(illuminateSampleNormal), JUXS_MEMBER(subsx), JUXS_MEMBER(subsy), JUXS_MEMBER(rayDir);
  JUXS_MEMBER(rayTraceData), JUXS_MEMBER(rayTraceShade), JUXS_MEMBER(render), JUXS_MEMBER(getVal);
  JUXS_MEMBER(setVal), JUXS_MEMBER(outsiz), JUXS_MEMBER(vertexIndexes);
#undef JUXS_MEMBER
  return out;
}

// A worker keeps its contexts from hit to hit and refills only part of them:
// every context a node sees must be the one a worker that never shaded
// anything before would give it, whatever the worker shaded in between:
// spheres, flat and smooth meshes, other triangles of the same mesh, other
// depths.
TEST_F(Render, AContextIsTheSameWhateverTheWorkerShadedBefore) {
  // A smooth pyramid: a normal at every corner.
  writeFile("smooth.obj", "v -0.5 0 -0.5\nv 0.5 0 -0.5\nv 0.5 0 0.5\nv -0.5 0 0.5\nv 0 1 0\n"
                          "vn -0.6 0.3 -0.6\nvn 0.6 0.3 -0.6\nvn 0.6 0.3 0.6\nvn -0.6 0.3 0.6\nvn 0 1 0\n"
                          "f 1//1 2//2 3//3 4//4\nf 1//1 5//5 2//2\nf 2//2 5//5 3//3\nf 3//3 5//5 4//4\nf 4//4 5//5 1//1\n");
  hostsim::Scene &s = load(R"({"image": {"width": 24, "height": 16, "samples": 2},
    "camera": {"position": [0, 1.5, -5], "target": [0, 0.3, 0], "fov": 70},
    "surfaces": [{"name": "Ball", "reflection": 0.5}, {"name": "Crate"}, {"name": "Smooth", "transparency": 0.5},
                 {"name": "Floor", "reflection": 0.3}],
    "objects": [{"type": "sphere", "surface": "Ball", "radius": 0.7, "position": [-1.2, 0.7, 0]},
                {"type": "box", "surface": "Crate", "size": [0.8, 0.8, 0.8], "position": [1.2, 0.4, 0], "rotation": [30, 10, 0]},
                {"type": "mesh", "surface": "Smooth", "file": "smooth.obj", "position": [0, 0, 1.5], "scale": 1.5},
                {"type": "plane", "surface": "Floor", "size": [12, 12]}]})");
  std::vector<LWNodalAccess> seen;
  for (hostsim::Surface &surface : s.surfaces)
    probe(surface, [&](LWNodalAccess *na, OutputValue *out) {
      seen.push_back(*na);
      out->v[0] = out->v[1] = out->v[2] = 0.5;
    });
  hostsim::Worker w;
  w.renderer = &render();
  struct Sample {
    int x, y, s;
  };
  std::vector<Sample> order;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x)
      for (int k = 0; k < 2; ++k) order.push_back({x, y, k});
  // Each sample's contexts from a worker that has shaded nothing yet.
  std::vector<std::vector<LWNodalAccess>> fresh;
  std::set<int32_t> depths;
  std::set<LWItemID> objects;
  for (const Sample &p : order) {
    std::fill(std::begin(w.contexts), std::end(w.contexts), hostsim::PreparedContext{});
    seen.clear();
    double c[3];
    renderer->sample(w, p.x, p.y, p.s, 1, c);
    for (const LWNodalAccess &na : seen) {
      depths.insert(na.bounces);
      objects.insert(na.objID);
    }
    fresh.push_back(seen);
  }
  ASSERT_GE(depths.size(), 2u) << "the mirrors and the glass shade deeper hits";
  ASSERT_EQ(objects.size(), 4u) << "every object is seen";
  // Now every sample again on the same worker, in an order that moves from
  // object to object and triangle to triangle all the time.
  int compared = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::size_t j = pass == 0 ? order.size() - 1 - i : (i * 7919) % order.size();
      seen.clear();
      double c[3];
      renderer->sample(w, order[j].x, order[j].y, order[j].s, 1, c);
      ASSERT_EQ(seen.size(), fresh[j].size());
      for (std::size_t k = 0; k < seen.size(); ++k, ++compared)
        ASSERT_EQ(differences(seen[k], fresh[j][k]), "")
            << "pixel " << order[j].x << "," << order[j].y << " sample " << order[j].s << " depth " << seen[k].bounces;
    }
  std::size_t total = 0;
  for (const auto &contexts : fresh) total += contexts.size();
  EXPECT_EQ(compared, static_cast<int>(2 * total));
  EXPECT_GT(total, order.size() / 2) << "most samples hit something";
}

// The contexts a worker keeps belong to the renderer that filled them: a
// later renderer, of another scene, perhaps at the same address, and with the
// same geometry numbers, does not find the earlier one's object in them.
TEST_F(Render, AWorkerMovedToAnotherRendererSeesThatRenderersObjects) {
  const char *const scene = R"({"image": {"width": 1, "height": 1},
    "camera": {"position": [0, 0, -5], "target": [0, 0, 0], "fov": 10},
    "surfaces": [{"name": "S"}], "objects": [{"type": "box", "surface": "S", "position": [0, 0, %d], "rotation": [%d, 0, 0]}]})";
  hostsim::Worker w;
  std::vector<LWNodalAccess> seen;
  for (int i = 0; i < 3; ++i) {
    char text[512];
    std::snprintf(text, sizeof text, scene, i, 20 * i);
    renderer.reset();
    hostsim::Scene &s = load(text);
    probe(s.surfaces[0], [&](LWNodalAccess *na, OutputValue *) { seen.push_back(*na); });
    w.renderer = &render();
    double c[3];
    renderer->sample(w, 0, 0, 0, 1, c);
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(i + 1));
    const LWNodalAccess &na = seen.back();
    EXPECT_EQ(na.objID, reinterpret_cast<LWItemID>(&s.objects[0]));
    const auto inverse = s.objects[0].transform.inverse();
    for (int r = 0; r < 3; ++r)
      for (int c2 = 0; c2 < 3; ++c2) EXPECT_EQ(na.oXfrm[r * 3 + c2], inverse[static_cast<std::size_t>(r * 4 + c2)]);
    // The hit's object-space position is that of this box: its near face.
    EXPECT_NEAR(na.oPos[2], -0.5, 1e-5);
  }
}

// A hit's context stays as it was while the rays sent from it are out, at
// every depth: those shade in contexts of their own, one deeper, and so do
// rays deeper than any scene file's limit allows, which a scene set up in code
// can still ask for.
TEST_F(Render, ACallersContextStaysAsItWasWhileItsRaysAreOut) {
  hostsim::Scene &s = load(R"({"camera": {"position": [0, 0, 0], "target": [0, 0, 1], "fov": 1},
    "image": {"width": 1, "height": 1},
    "surfaces": [{"name": "Mirror", "reflection": 1}],
    "objects": [{"type": "box", "surface": "Mirror", "size": [10, 10, 0.1], "position": [0, 0, 2]},
                {"type": "sphere", "surface": "Mirror", "radius": 5, "position": [0, 0, -7.05]}]})");
  const int limit = hostsim::kPreparedDepths + 3;
  s.recursionLimit = limit;
  struct Open {
    const LWNodalAccess *na;
    LWNodalAccess copy;
  };
  std::vector<Open> open; // the contexts of the hits shading now, outermost first
  std::vector<int32_t> depths;
  int changed = 0;
  probe(s.surfaces[0], [&](LWNodalAccess *na, OutputValue *) {
    for (const Open &o : open) changed += !differences(*o.na, o.copy).empty();
    while (!open.empty() && open.back().na->bounces >= na->bounces) open.pop_back();
    depths.push_back(na->bounces);
    open.push_back({na, *na});
    // A node's own trace from here, sideways and away from both mirrors into
    // nothing: it leaves this context as it found it too.
    const double side[3] = {1, 0, na->wPos[2] > 0 ? -0.1 : 0.1};
    double c[3];
    na->rayTraceMode(na->wPos, side, c, 1.0, RTMODE_REFLECTION);
    changed += !differences(*na, open.back().copy).empty();
  });
  hostsim::Worker w;
  w.renderer = &render();
  double c[3];
  renderer->sample(w, 0, 0, 0, 1, c);
  ASSERT_EQ(depths.size(), static_cast<std::size_t>(limit + 1));
  for (int d = 0; d <= limit; ++d) EXPECT_EQ(depths[static_cast<std::size_t>(d)], d);
  EXPECT_EQ(changed, 0);
  // Past the kept contexts as well, each hit's context is its own and whole.
  ASSERT_EQ(open.size(), static_cast<std::size_t>(limit + 1));
  for (int d = hostsim::kPreparedDepths - 1; d <= limit; ++d) {
    const LWNodalAccess &na = open[static_cast<std::size_t>(d)].copy;
    EXPECT_EQ(na.objID, reinterpret_cast<LWItemID>(&s.objects[static_cast<std::size_t>(d % 2)]));
    EXPECT_NEAR(na.wPos[2], d % 2 ? -2.05 : 1.95, 1e-4);
    EXPECT_EQ(na.randomData, reinterpret_cast<RandomFloatData>(&w));
    EXPECT_EQ(na.rayShade, open[0].copy.rayShade);
    EXPECT_EQ(na.wXfrm[0] + na.wXfrm[4] + na.wXfrm[8], 3.0);
  }
}

// Frames take the camera rays of a row's samples together: each pixel is
// still the mean of its samples as sample() shades them one by one, where
// rows are not whole tiles and a pixel's samples fall on both sides of a run.
TEST_F(Render, AFrameIsTheMeanOfItsPixelsSamplesTakenOneByOne) {
  load(R"({"image": {"width": 37, "height": 19, "samples": 3},
    "camera": {"position": [0, 1, -4], "target": [0, 0, 0]},
    "surfaces": [{"name": "Ball", "reflection": 0.4}, {"name": "Floor", "color": [0.3, 0.6, 0.2]}],
    "objects": [{"type": "sphere", "surface": "Ball"},
                {"type": "plane", "surface": "Floor", "size": [20, 20], "position": [0, -1, 0]}]})");
  hostsim::FrameBuffer fb;
  hostsim::RenderOptions ro;
  ro.firstFrame = ro.lastFrame = 2;
  render().render(ro, [&](int, const hostsim::FrameBuffer &f) { fb = f; });
  ASSERT_EQ(fb.width, 37);
  hostsim::Worker w;
  w.renderer = renderer.get();
  int differ = 0;
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 37; ++x) {
      double sum[3] = {0, 0, 0};
      for (int k = 0; k < 3; ++k) {
        double c[3];
        renderer->sample(w, x, y, k, 2, c);
        for (int i = 0; i < 3; ++i) sum[i] += c[i];
      }
      for (int i = 0; i < 3; ++i) differ += fb.pixel(x, y)[i] != static_cast<float>(sum[i] * (1.0 / 3));
    }
  EXPECT_EQ(differ, 0);
}

// The gradient backdrop's elevation, for any direction a node may hand a
// trace, against the clamping through fmin and fmax it is written to match.
TEST_F(Render, TheBackdropOfOddDirectionsIsThatOfAClampedElevation) {
  hostsim::Gradient g;
  g.zenith[0] = 1, g.sky[0] = 0.25, g.ground[0] = 0.5, g.nadir[0] = 0;
  host.scene().setGradientBackdrop(g);
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const double dirs[][3] = {{0, 1, 0},      {0, -1, 0},   {0, -0.0, 1},   {0, 0.0, -1},  {0, inf, 0},
                            {0, -inf, 0},   {inf, 1, 0},  {0, nan, 0},    {nan, 0, 0},   {1e300, 1e300, 0},
                            {0, 1e-300, 0}, {0, 3, 4},    {0, -1e200, 1}, {0, 0, 0},     {0, 1 + 1e-13, 0}};
  for (const auto &d : dirs) {
    const double len2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double y = std::fabs(len2 - 1.0) < 1e-12 ? d[1] : len2 > 0 ? d[1] / std::sqrt(len2) : 0.0;
    const double e = std::asin(std::fmin(1.0, std::fmax(-1.0, y))) / (std::numbers::pi / 2);
    const double want = e >= 0 ? g.sky[0] + (g.zenith[0] - g.sky[0]) * std::fabs(e)
                               : g.ground[0] + (g.nadir[0] - g.ground[0]) * std::fabs(e);
    double got[3];
    host.scene().backdropColor(0.0, d, got);
    EXPECT_EQ(std::memcmp(&got[0], &want, sizeof want), 0) << d[0] << " " << d[1] << " " << d[2] << ": " << got[0]
                                                           << " against " << want;
  }
}

} // namespace
