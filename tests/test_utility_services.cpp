// The node utilities and the file requester as the module reaches them:
// through the host's global lookup and their C tables.
#include <cmath>
#include <numbers>
#include <string>

#include "tests/support/host_fixture.h"

namespace {

class UtilityServices : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    utility = static_cast<const LWNodeUtilityFuncs *>(host.global()(LWNODEUTILITYFUNCS_GLOBAL, 0));
    request = reinterpret_cast<LWFileActivateFunc>(host.global()(LWFILEACTIVATEFUNC_GLOBAL, 0));
    ASSERT_TRUE(utility && request);
  }

  // The tests call the services as a module's callback does.
  testsupport::InCallback inCallback;
  const LWNodeUtilityFuncs *utility = nullptr;
  LWFileActivateFunc request = nullptr;
};

TEST_F(UtilityServices, FileRequesterAnswersFromItsQueueAndCanBeCancelled) {
  char path[512], base[512], full[512];
  LWFileReqLocal req{FREQ_LOAD, 0, "Load Clip or Still", "Images", path, base, full, 512, nullptr};
  host.fileRequester().answer("/pictures/sky.hdr");
  host.fileRequester().cancel();
  EXPECT_EQ(request(LWFILEREQ_VERSION, &req), 0);
  EXPECT_EQ(req.result, 1);
  EXPECT_STREQ(full, "/pictures/sky.hdr");
  EXPECT_STREQ(base, "sky.hdr");
  EXPECT_STREQ(path, "/pictures");
  EXPECT_EQ(request(LWFILEREQ_VERSION, &req), 0);
  EXPECT_EQ(req.result, 0); // cancelled
  req.result = 7;
  EXPECT_EQ(request(LWFILEREQ_VERSION, &req), 0);
  EXPECT_EQ(req.result, 0); // nothing queued: cancelled too
  host.fileRequester().answer(std::string(600, 'x'));
  EXPECT_EQ(request(LWFILEREQ_VERSION, &req), 0);
  EXPECT_EQ(req.result, 0); // does not fit the buffers
  EXPECT_NE(request(2, &req), 0);
  EXPECT_TRUE(testsupport::refusedOnce(host, {"\"File Request 2\" call", "2 is not the requester's version"}));
  ASSERT_EQ(host.fileRequester().requests().size(), 4u);
  EXPECT_EQ(host.fileRequester().requests()[0].title, "Load Clip or Still");
}

// Names are UTF-8 through and through, whatever the system's own code page
// could hold: a path is wide on Windows.
TEST_F(UtilityServices, FileRequesterKeepsNamesBeyondTheCodePage) {
  char path[512], base[512], full[512];
  LWFileReqLocal req{FREQ_LOAD, 0, "Load Clip or Still", "Images", path, base, full, 512, nullptr};
  const std::string name = "/bilder/\xE5\xA4\xA9\xE7\xA9\xBA \xCE\xB1.hdr"; // "天空 α.hdr"
  host.fileRequester().answer(name);
  EXPECT_EQ(request(LWFILEREQ_VERSION, &req), 0);
  EXPECT_EQ(req.result, 1);
  EXPECT_EQ(std::string(full), name);
  EXPECT_EQ(std::string(base), name.substr(8));
  EXPECT_STREQ(path, "/bilder");
}

TEST_F(UtilityServices, SphericalMappingOfTheAxes) {
  struct Case {
    double d[3], u, v;
  } cases[] = {{{0, 0, 1}, 0.5, 0.5},  {{1, 0, 0}, 0.75, 0.5}, {{-1, 0, 0}, 0.25, 0.5},
               {{0, 0, -1}, 0.0, 0.5}, {{0, 1, 0}, 0.5, 0.0},  {{0, -1, 0}, 0.5, 1.0}};
  for (Case &c : cases) {
    double u = -1, v = -1;
    utility->reflectionMapping(0.0, c.d, &u, &v);
    EXPECT_NEAR(u, c.u, 1e-12) << c.d[0] << " " << c.d[1] << " " << c.d[2];
    EXPECT_NEAR(v, c.v, 1e-12) << c.d[0] << " " << c.d[1] << " " << c.d[2];
  }
  // The seam angle turns the map: +X with a quarter turn lands where +Z was.
  double u, v;
  double x[3] = {2, 0, 0};
  utility->reflectionMapping(std::numbers::pi / 2, x, &u, &v);
  EXPECT_NEAR(u, 0.5, 1e-12);
  double zx[3] = {-1e-300, 0, -1}; // just the other side of the seam
  utility->reflectionMapping(0.0, zx, &u, &v);
  EXPECT_GE(u, 0.0);
  EXPECT_LT(u, 1.0);
  double zero[3] = {0, 0, 0};
  utility->reflectionMapping(0.0, zero, &u, &v);
  EXPECT_EQ(u, 0.5);
  EXPECT_EQ(v, 0.5);
}

TEST_F(UtilityServices, EachBlendModeAtOpacityZeroOneAndHalf) {
  // fg over bg; the result at full opacity, worked out by hand from each formula.
  // The host takes the colour laid on first, then the one it lies on.
  double fg[3] = {0.25, 0.5, 1.0}, bg[3] = {0.5, 0.75, 0.0};
  const double full[14][3] = {
      {0.25, 0.5, 1.0},       // Normal: fg
      {0.75, 1.25, 1.0},      // Additive: bg + fg, unclamped
      {0.25, 0.25, 0.0},      // Subtractive: bg - fg, not below 0
      {0.125, 0.375, 0.0},    // Multiply
      {0.625, 0.875, 1.0},    // Screen: bg + fg - bg fg
      {0.25, 0.5, 0.0},       // Darken
      {0.5, 0.75, 1.0},       // Lighten
      {0.25, 0.25, 1.0},      // Difference
      {0.5, 0.5, 1.0},        // Negative: bg + fg - 2 bg fg
      {2.0 / 3.0, 1.0, 0.0},  // Color Dodge: bg / (1 - fg), capped at 1; 0 where bg is 0
      {0.0, 0.5, 0.0},        // Color Burn: 1 - (1 - bg) / fg, not below 0
      {0.25, 0.75, 0.0},      // Red: fg's red
      {0.5, 0.5, 0.0},        // Green: fg's green
      {0.5, 0.75, 1.0},       // Blue: fg's blue
  };
  for (int mode = 0; mode < 14; ++mode) {
    double r[3];
    utility->blend(r, fg, bg, 0.0, mode);
    for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(r[c], bg[c]) << "mode " << mode << " opacity 0";
    utility->blend(r, fg, bg, 1.0, mode);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(r[c], full[mode][c], 1e-12) << "mode " << mode << " opacity 1";
    utility->blend(r, fg, bg, 0.5, mode);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(r[c], (bg[c] + full[mode][c]) / 2, 1e-12) << "mode " << mode << " opacity 0.5";
  }
  // The edges of the dodge and burn divisions.
  double one[3] = {1, 1, 1}, zero[3] = {0, 0, 0}, half[3] = {0.5, 0.5, 0.5};
  double r[3];
  utility->blend(r, one, half, 1.0, BLEND_COLORDODGE);
  EXPECT_EQ(r[0], 1.0);
  utility->blend(r, zero, half, 1.0, BLEND_COLORBURN);
  EXPECT_EQ(r[0], 0.0);
  utility->blend(r, zero, one, 1.0, BLEND_COLORBURN);
  EXPECT_EQ(r[0], 1.0);
  // A mode the interface does not define is refused: nothing is written.
  r[0] = -7;
  utility->blend(r, fg, bg, 1.0, 99);
  EXPECT_EQ(r[0], -7);
  EXPECT_TRUE(testsupport::refusedOnce(host, {"Blend", "99 is not a blending mode"}));
}

} // namespace
