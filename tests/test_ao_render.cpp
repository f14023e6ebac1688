// Ambient Occlusion rendered by the stand-in host: AO seen through the traced
// rays of another AO is bounded by Sample Depth, and a render on two threads
// shades what one thread shades. Also run
// under the thread sanitizer.
#include "tests/support/scene_fixture.h"

namespace {

class AoRender : public testsupport::SceneFixture {};

// A floor and a ceiling facing it, their surface's colour from an AO whose
// occlusion colour is traced: every AO ray hits the other plane, where that
// plane's own AO is evaluated on a sampled ray one deeper.
const char *const kRoom = R"({
  "image": {"width": 8, "height": 8, "samples": 1},
  "camera": {"position": [0, 0.5, 0], "target": [0, -5, 0.5], "fov": 40},
  "rayRecursionLimit": 4,
  "light": {"shadows": false},
  "surfaces": [{"name": "Wall", "network": {
    "nodes": [{"name": "ao", "server": "Jux Ambient Occlusion",
               "settings": {"Samples": 4, "Cone Angle": 80, "0x8016": "Trace", "Sample Depth": %DEPTH%}}],
    "connections": [{"from": "ao", "output": "Color", "to": "Surface", "input": "Color"}]}}],
  "objects": [{"type": "plane", "surface": "Wall", "size": [1000, 1000]},
              {"type": "plane", "surface": "Wall", "size": [1000, 1000], "position": [0, 1, 0], "rotation": [0, 0, 180]}]})";

std::string room(int depth) {
  const std::string s = kRoom;
  const std::size_t at = s.find("%DEPTH%");
  return s.substr(0, at).append(std::to_string(depth)).append(s, at + 7);
}

TEST_F(AoRender, SampleDepthBoundsAmbientOcclusionInsideAmbientOcclusion) {
  uint64_t traced[3];
  for (int depth = 0; depth < 3; ++depth) {
    load(room(depth));
    hostsim::RenderOptions ro;
    const hostsim::RenderStats stats = render().render(ro, {});
    ASSERT_EQ(stats.samples, 64u);
    traced[depth] = stats.raysTraced;
    renderer.reset();
    scene.reset();
  }
  // Depth 0: only the AO of the camera's hits traces, 4 rays each; deeper AO
  // gives its limit colour. Each step of Sample Depth lets one more level
  // trace 4 rays per hit.
  EXPECT_EQ(traced[0], 64u * 4);
  EXPECT_EQ(traced[1], 64u * 4 + 64u * 16);
  EXPECT_EQ(traced[2], 64u * 4 + 64u * 16 + 64u * 64);
}

// From the centre of a closed sphere of radius 1.5 every ray hits at 1.5:
// with Max 4 and Shift 0.1 each weighs 1 - 1.5 / 4 - 0.1, in either pattern.
TEST_F(AoRender, TheCentreOfAClosedSphereIsOccludedByItsRadius) {
  load(R"({"surfaces": [{"name": "S"}],
           "objects": [{"type": "sphere", "surface": "S", "radius": 1.5, "position": [1, 2, 3]}]})");
  hostsim::HostNode *ao = add("Jux Ambient Occlusion");
  hostsim::Panel *p = openPanel(ao);
  ASSERT_TRUE(p);
  for (hostsim::VParm *v : ao->group->children.at(0)->channels) {
    if (v->channel == "Max") setParam(reinterpret_cast<LWVParmID>(v), {4.0});
    if (v->channel == "Shift") setParam(reinterpret_cast<LWVParmID>(v), {0.1});
  }
  net->newTime(1, 0.0);
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess na = renderer->context(w);
  const double centre[3] = {1, 2, 3}, normal[3] = {0.48, 0.6, -0.64};
  for (int c = 0; c < 3; ++c) na.wPos[c] = centre[c], na.wNorm[c] = na.gNorm[c] = normal[c];
  const hostsim::SampleScope scope(na, w);
  for (int32_t mode : {0, 1}) {
    host.panels().callSet(*p, 0x8001, &mode);
    EXPECT_NEAR(net->evaluate(ao, "Scalar", na).scalar(), 1.5 / 4 + 0.1, 1e-6) << "mode " << mode;
  }
  EXPECT_EQ(w.casts, 27u + 19u);
}

TEST_F(AoRender, TwoThreadsRenderTheOcclusionOneThreadRenders) {
  hostsim::Scene &s = load(R"({
    "image": {"width": 48, "height": 32, "samples": 1},
    "camera": {"position": [0, 3, -5], "target": [0, 0, 0], "fov": 50},
    "light": {"shadows": false, "ambient": 0, "intensity": 0},
    "surfaces": [
      {"name": "Floor", "luminosity": 1, "diffuse": 0, "network": {
        "nodes": [{"name": "ao", "server": "Jux Ambient Occlusion", "settings": {"Max": 0.5, "Samples": 8}}],
        "connections": [{"from": "ao", "output": "Scalar", "to": "Surface", "input": "Color"}]}},
      {"name": "Block", "color": [0, 0, 0], "diffuse": 0}],
    "objects": [{"type": "plane", "surface": "Floor", "size": [100, 100]},
                {"type": "box", "surface": "Block", "size": [1, 1, 1], "position": [0, 0.5, 0]}]})");
  ASSERT_EQ(s.surfaces.size(), 2u);
  auto picture = [&](int threads, uint64_t *casts) {
    hostsim::RenderOptions ro;
    ro.threads = threads;
    hostsim::FrameBuffer fb;
    const auto stats = render().render(ro, [&](int, const hostsim::FrameBuffer &f) { fb = f; });
    *casts = stats.raysCast;
    return fb;
  };
  uint64_t casts1 = 0, casts2 = 0;
  const hostsim::FrameBuffer one = picture(1, &casts1), two = picture(2, &casts2);
  EXPECT_EQ(casts1, casts2); // 8 rays for every floor sample, on any thread
  // Far from the block every ray is open; beside it the draws differ with
  // the threads' order, so only the size of the open part is compared.
  auto count = [](const hostsim::FrameBuffer &fb, int &open, int &shaded) {
    open = shaded = 0;
    for (int y = 0; y < fb.height; ++y)
      for (int x = 0; x < fb.width; ++x) {
        const float v = fb.pixel(x, y)[0];
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 1.0f);
        open += v == 1.0f;
        shaded += v > 0.0f && v < 0.9f;
      }
  };
  int open1, shaded1, open2, shaded2;
  count(one, open1, shaded1);
  count(two, open2, shaded2);
  EXPECT_GT(open1, 500);
  EXPECT_GT(shaded1, 5);
  EXPECT_GT(shaded2, 5);
  EXPECT_NEAR(open1, open2, 60);
}

} // namespace
