#include "tests/support/host_fixture.h"

using hostsim::HostNode;

namespace {

class RenderInfo : public testsupport::HostFixture {
protected:
  int32_t out(HostNode *n, const std::string &output, int sx = 0, int sy = 0) {
    LWNodalAccess na = hostsim::emptyWorldContext();
    na.sx = sx;
    na.sy = sy;
    hostsim::OutputValue v = net->evaluate(n, output, na);
    EXPECT_TRUE(v.set) << output;
    return v.i;
  }
  std::vector<int32_t> render(HostNode *n, std::initializer_list<LWFrame> frames) {
    std::vector<int32_t> counts;
    EXPECT_NO_THROW(net->beginRender());
    for (LWFrame f : frames) {
      net->newTime(f, f / 30.0);
      EXPECT_EQ(out(n, "Current Frame"), f);
      counts.push_back(out(n, "Rendered Frames"));
    }
    net->endRender();
    return counts;
  }
};

TEST_F(RenderInfo, HasSevenIntegerOutputsInOrderAndNoInputs) {
  HostNode *n = add("Jux Render Info");
  ASSERT_TRUE(n);
  const char *names[] = {"Render X", "Render Y", "Start Frame", "End Frame", "Current Frame", "Rendered Frames",
                         "Ray Recursion Limit"};
  ASSERT_EQ(n->outputs.size(), 7u);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(n->outputs[i]->name, names[i]);
    EXPECT_EQ(n->outputs[i]->type, CONN_INTEGER);
  }
  EXPECT_TRUE(n->inputs.empty());
  EXPECT_EQ(n->previewType, 2);
  EXPECT_TRUE(n->group->children.empty()) << "no envelope group";
}

TEST_F(RenderInfo, CountsFrameChanges) {
  HostNode *n = add("Jux Render Info");
  EXPECT_EQ(render(n, {1, 2, 3}), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(render(n, {5, 3, 5}), (std::vector<int32_t>{0, 1, 2})) << "backwards counts too";
  EXPECT_EQ(render(n, {4, 4, 6}), (std::vector<int32_t>{0, 0, 1})) << "the same frame twice counts once";
}

TEST_F(RenderInfo, ReadsPixelAndSceneRecord) {
  LWSceneInfo &scene = host.scene().sceneInfo();
  scene.frameStart = 10;
  scene.frameEnd = 48;
  scene.recursionDepth = 6;
  HostNode *a = add("Jux Render Info");
  HostNode *b = add("Jux Render Info");
  ASSERT_NO_THROW(net->beginRender());
  net->newTime(12, 0.4);
  EXPECT_EQ(out(a, "Render X", 37, 91), 37);
  EXPECT_EQ(out(a, "Render Y", 37, 91), 91);
  EXPECT_EQ(out(a, "Start Frame"), 10);
  EXPECT_EQ(out(a, "End Frame"), 48);
  EXPECT_EQ(out(a, "Ray Recursion Limit"), 6);
  // One scene record serves every instance; each counts for itself.
  scene.frameEnd = 60;
  EXPECT_EQ(out(b, "End Frame"), 60);
  net->newTime(13, 0.43);
  b->rendFuncs.newTime(b->instance, 14, 0.46);
  EXPECT_EQ(out(a, "Rendered Frames"), 1);
  EXPECT_EQ(out(b, "Rendered Frames"), 2);
  net->endRender();
}

TEST_F(RenderInfo, SceneRecordMissingGivesZero) {
  host.withhold(LWSCENEINFO_GLOBAL);
  HostNode *n = add("Jux Render Info");
  ASSERT_NO_THROW(net->beginRender());
  net->newTime(3, 0.1);
  EXPECT_EQ(out(n, "Start Frame"), 0);
  EXPECT_EQ(out(n, "Ray Recursion Limit"), 0);
  EXPECT_EQ(out(n, "Current Frame"), 3);
  net->endRender();
}

TEST_F(RenderInfo, CopyKeepsItsOwnStateAndNothingIsPersisted) {
  HostNode *a = add("Jux Render Info");
  ASSERT_NO_THROW(net->beginRender());
  net->newTime(1, 0.0);
  net->newTime(2, 0.0);
  HostNode *b = net->duplicate(a);
  ASSERT_TRUE(b);
  EXPECT_EQ(out(b, "Rendered Frames"), 0);
  EXPECT_EQ(out(b, "Current Frame"), 0);
  EXPECT_TRUE(save(a).empty());
  EXPECT_TRUE(load(b, {}));
  net->endRender();
}

} // namespace
