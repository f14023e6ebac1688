// RayShade: what it asks the host's ray shade and what it passes on, against
// a scripted world and the renderer's.
#include "tests/support/scene_fixture.h"
#include "tests/support/scripted_rays.h"

using hostsim::HostNode;
using hostsim::OutputValue;
using testsupport::RayCall;

namespace {

class RayShade : public testsupport::SceneFixture {
protected:
  void SetUp() override {
    SceneFixture::SetUp();
    node = add("Jux RayShade");
    ASSERT_TRUE(node);
  }
  void set(const std::string &channel, std::initializer_list<double> v) {
    for (hostsim::VParm *p : node->group->children.at(0)->channels)
      if (p->channel == channel) {
        setParam(reinterpret_cast<LWVParmID>(p), v);
        net->newTime(1, 0.0);
        return;
      }
    FAIL() << "no channel " << channel;
  }
  HostNode *node = nullptr;
};

TEST_F(RayShade, DefaultRayAndAMissPassOnWhatTheHostSays) {
  testsupport::ScriptedRays rays;
  rays.answer = [](const RayCall &, double *) { return -7.5; }; // the host's own miss value, colour untouched
  LWNodalAccess na = rays.context();
  const OutputValue c = net->evaluate(node, "Color", na);
  EXPECT_EQ(c.v[0], 0.0);
  EXPECT_EQ(c.v[1], 0.0);
  EXPECT_EQ(c.v[2], 0.0);
  EXPECT_EQ(net->evaluate(node, "Length", na).scalar(), -7.5);
  ASSERT_EQ(rays.calls.size(), 2u); // one ray per output asked for
  for (const RayCall &call : rays.calls) {
    EXPECT_EQ(call.kind, RayCall::Shade);
    EXPECT_EQ(call.origin, (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(call.direction, (std::array<double, 3>{0, 0, 0}));
  }
}

TEST_F(RayShade, AHitGivesItsColourAndDistanceAndInputsOverrideThePanel) {
  testsupport::ScriptedRays rays;
  rays.answer = [](const RayCall &, double colour[3]) {
    colour[0] = 0.25, colour[1] = 0.5, colour[2] = 0.75;
    return 3.0;
  };
  set("Position", {1, 2, 3});
  set("Direction", {0, 0, 2}); // passed on as it is, not normalised
  LWNodalAccess na = rays.context();
  EXPECT_EQ(net->evaluate(node, "Color", na).v[2], 0.75);
  EXPECT_EQ(net->evaluate(node, "Length", na).scalar(), 3.0);
  EXPECT_EQ(rays.calls[0].origin, (std::array<double, 3>{1, 2, 3}));
  EXPECT_EQ(rays.calls[0].direction, (std::array<double, 3>{0, 0, 2}));

  hostsim::Panel *p = openPanel(node);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->control(0x8001)->controlType, "distance3-env");
  EXPECT_EQ(p->control(0x8002)->controlType, "float3-env");
  EXPECT_TRUE(host.panels().callGet(*p, 0x8002));
  HostNode *dir = net->addConstant(OutputValue{CONN_VECTOR, {-1, 0, 0}, 0, true});
  ASSERT_NO_THROW(net->connect(dir, "Value", node, "Direction"));
  EXPECT_EQ(host.panels().callGet(*p, 0x8002), nullptr);
  EXPECT_TRUE(host.panels().callGet(*p, 0x8001));
  EXPECT_EQ(host.panels().callSet(*p, 0x8002, nullptr), 1);
  EXPECT_EQ(host.panels().callSet(*p, 0x8003, nullptr), 0);
  rays.calls.clear();
  net->evaluate(node, "Length", na);
  EXPECT_EQ(rays.calls[0].direction, (std::array<double, 3>{-1, 0, 0}));
}

TEST_F(RayShade, BlockHoldsPositionThenDirection) { expectBlock(node, {}, {"Position", "Direction"}); }

TEST_F(RayShade, TheRendererShadesTheHitAndAnswersAZeroDirectionAsAMissWithoutTracing) {
  load(R"({"light": {"ambient": 0.5, "shadows": false, "intensity": 0},
           "surfaces": [{"name": "Red", "color": [1, 0, 0]}],
           "objects": [{"type": "sphere", "surface": "Red", "radius": 1, "position": [0, 0, 5]}]})");
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
  set("Direction", {0, 0, 1});
  const OutputValue c = net->evaluate(node, "Color", na);
  EXPECT_NEAR(net->evaluate(node, "Length", na).scalar(), 4.0, 1e-4);
  EXPECT_NEAR(c.v[0], 0.5, 1e-6); // colour x ambient, unlit
  EXPECT_EQ(c.v[1], 0.0);
  EXPECT_EQ(w.traces, 2u);
  set("Direction", {0, 0, 0});
  EXPECT_LT(net->evaluate(node, "Length", na).scalar(), 0.0);
  EXPECT_EQ(net->evaluate(node, "Color", na).v[0], 0.0);
  EXPECT_EQ(w.traces, 2u); // nothing asked of the ray tracer
}

} // namespace
