// The image list, node utilities and file requester as the module reaches
// them: through the host's global lookup and their C tables.
#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "tests/support/host_fixture.h"
#include "tests/support/image_files.h"

namespace {

namespace fs = std::filesystem;

class HostServices : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    dir = fs::temp_directory_path() / ("juxs_images_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    host.images().setBaseDir(dir.string());
    images = static_cast<const LWImageList *>(host.global()(LWIMAGELIST_GLOBAL, 0));
    utility = static_cast<const LWNodeUtilityFuncs *>(host.global()(LWNODEUTILITYFUNCS_GLOBAL, 0));
    request = reinterpret_cast<LWFileActivateFunc>(host.global()(LWFILEACTIVATEFUNC_GLOBAL, 0));
    ASSERT_TRUE(images && utility && request);
  }
  void TearDown() override {
    HostFixture::TearDown();
    fs::remove_all(dir);
  }
  // A 2x2 picture: top row pixels a and b, bottom row c (8-bit,
  // display-encoded), with alpha or without.
  std::string writeLdr(const std::string &name, const unsigned char a[4], const unsigned char b[4], bool alpha = true,
                       const unsigned char c[4] = kGrey) {
    const int n = alpha ? 4 : 3;
    std::vector<float> px;
    for (const unsigned char *p : {a, b, c, c})
      for (int k = 0; k < n; ++k) px.push_back(p[k] / 255.0f);
    EXPECT_TRUE(testsupport::writeTestImage((dir / name).string(), 2, 2, n, px));
    return name;
  }
  static constexpr unsigned char kGrey[4] = {30, 30, 30, 255};
  LWImageID nth(int k) {
    LWImageID img = images->first();
    while (img && k-- > 0) img = images->next(img);
    return img;
  }

  fs::path dir;
  const LWImageList *images = nullptr;
  const LWNodeUtilityFuncs *utility = nullptr;
  LWFileActivateFunc request = nullptr;
};

using testsupport::srgbToLinear;

TEST_F(HostServices, ImagesOfEveryFormatReadAsLinearFloats) {
  const unsigned char a[4] = {255, 128, 0, 64}, b[4] = {0, 10, 200, 255}, c[4] = {90, 60, 30, 128};
  for (const char *name : {"a.png", "b.tif", "c.tga"}) {
    LWImageID img = images->load(writeLdr(name, a, b, true, c).c_str());
    ASSERT_TRUE(img) << name;
    int32_t w = 0, h = 0;
    images->size(img, &w, &h);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    float rgb[3];
    // Rows from the top, whichever way the format stores them.
    images->RGB(img, 1, 1, rgb);
    EXPECT_NEAR(rgb[0], srgbToLinear(90 / 255.0f), 1e-6) << name;
    EXPECT_NEAR(images->alpha(img, 1, 1), 128 / 255.0f, 1e-6) << name;
    images->RGB(img, 0, 0, rgb);
    EXPECT_FLOAT_EQ(rgb[0], 1.0f) << name;
    EXPECT_NEAR(rgb[1], srgbToLinear(128 / 255.0f), 1e-6) << name;
    images->RGB(img, 1, 0, rgb);
    EXPECT_NEAR(rgb[2], srgbToLinear(200 / 255.0f), 1e-6) << name;
    // Alpha is a plain fraction, not display-encoded.
    EXPECT_NE(images->hasAlpha(img), 0) << name;
    EXPECT_NEAR(images->alpha(img, 0, 0), 64 / 255.0f, 1e-6) << name;
    // Outside the image: black and transparent, never a read past the pixels.
    images->RGB(img, 2, 0, rgb);
    EXPECT_EQ(rgb[0], 0.0f);
    EXPECT_EQ(images->alpha(img, -1, 0), 0.0f);
  }
  LWImageID jpg = images->load(writeLdr("d.jpg", a, b, false).c_str());
  ASSERT_TRUE(jpg);
  EXPECT_EQ(images->hasAlpha(jpg), 0);
  EXPECT_EQ(images->alpha(jpg, 0, 0), 1.0f);
  // High dynamic range stays unclamped.
  ASSERT_TRUE(testsupport::writeTestImage((dir / "e.hdr").string(), 2, 1, 3, {4.0f, 0.5f, 0.25f, 16.0f, 0.0f, 1.0f},
                                          OIIO::TypeDesc::FLOAT));
  LWImageID e = images->load("e.hdr");
  ASSERT_TRUE(e);
  float rgb[3];
  images->RGB(e, 1, 0, rgb);
  EXPECT_FLOAT_EQ(rgb[0], 16.0f);
  EXPECT_STREQ(images->name(e), "e");
  // The list walks in load order and ends.
  EXPECT_STREQ(images->name(nth(0)), "a");
  EXPECT_STREQ(images->name(nth(3)), "d");
  EXPECT_EQ(nth(4), e);
  EXPECT_EQ(nth(5), nullptr);
  EXPECT_EQ(images->load("missing.png"), nullptr);
  EXPECT_EQ(images->next(nullptr), nullptr);
}

TEST_F(HostServices, SpotColourFiltersBetweenPixelCentresAndWrapsAcrossTheSeam) {
  ASSERT_TRUE(testsupport::writeTestImage((dir / "rb.hdr").string(), 2, 1, 3, {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f},
                                          OIIO::TypeDesc::FLOAT));
  LWImageID img = images->load("rb.hdr");
  ASSERT_TRUE(img);
  double c[3];
  images->RGBSpot(img, 0.25, 0.5, 0.01, 1, c); // the left pixel's centre
  EXPECT_NEAR(c[0], 1.0, 1e-6);
  EXPECT_NEAR(c[2], 0.0, 1e-6);
  images->RGBSpot(img, 0.5, 0.5, 0.01, 1, c); // halfway between the centres
  EXPECT_NEAR(c[0], 0.5, 1e-6);
  EXPECT_NEAR(c[2], 0.5, 1e-6);
  images->RGBSpot(img, 0.0, 0.5, 0.01, 1, c); // the seam: halfway round to the right pixel
  EXPECT_NEAR(c[0], 0.5, 1e-6);
  images->RGBSpot(img, 1.375, 0.5, 0.01, 1, c); // u wraps
  EXPECT_NEAR(c[0], 1.0 - 0.25, 1e-6);
  images->RGBSpot(img, 0.4, 0.5, 0.01, 0, c); // no blending: the nearest pixel
  EXPECT_EQ(c[0], 1.0);
  images->RGBSpot(img, std::nan(""), 0.5, 0.01, 1, c);
  EXPECT_EQ(c[0], 0.0);
}

TEST_F(HostServices, ImageReferencesFindTheirImageInAReorderedList) {
  const unsigned char a[4] = {1, 2, 3, 255};
  for (const char *name : {"one.png", "two.png", "three.png"}) ASSERT_TRUE(images->load(writeLdr(name, a, a).c_str()));
  LWImageID third = nth(2);
  hostsim::SaveStream out;
  images->sceneSave(out.state(), third);
  images->sceneSave(out.state(), nullptr);
  // The reference is the file, relative to the scene's folder.
  EXPECT_NE(std::string(out.bytes().begin(), out.bytes().end()).find("three.png"), std::string::npos);

  hostsim::ImageList &list = host.images();
  list.move(list.at(2), 0);
  EXPECT_EQ(nth(0), third);
  hostsim::LoadStream in(out.bytes());
  EXPECT_EQ(images->sceneLoad(in.state()), third);
  EXPECT_EQ(images->sceneLoad(in.state()), nullptr);
  EXPECT_TRUE(in.atEnd());

  // A reference to an image no longer in the list loads the file again, last.
  list.remove(list.at(0));
  EXPECT_EQ(images->name(third), nullptr); // a removed image answers nothing
  hostsim::LoadStream again(out.bytes());
  LWImageID reloaded = images->sceneLoad(again.state());
  ASSERT_TRUE(reloaded);
  EXPECT_NE(reloaded, third);
  EXPECT_EQ(nth(2), reloaded);
  // A reference to a file that is gone gives no image.
  hostsim::SaveStream gone;
  gone.state()->writeStr(gone.state()->writeData, "nowhere.png");
  hostsim::LoadStream goneIn(gone.bytes());
  EXPECT_EQ(images->sceneLoad(goneIn.state()), nullptr);
}

TEST_F(HostServices, FileRequesterAnswersFromItsQueueAndCanBeCancelled) {
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
  ASSERT_EQ(host.fileRequester().requests().size(), 4u);
  EXPECT_EQ(host.fileRequester().requests()[0].title, "Load Clip or Still");
}

TEST_F(HostServices, SphericalMappingOfTheAxes) {
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
  utility->reflectionMapping(M_PI / 2, x, &u, &v);
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

TEST_F(HostServices, EachBlendModeAtOpacityZeroOneAndHalf) {
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
  // An unknown mode blends as Normal.
  utility->blend(r, fg, bg, 1.0, 99);
  EXPECT_EQ(r[0], fg[0]);
}

} // namespace
