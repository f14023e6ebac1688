// The image list as the module reaches it: through the host's global lookup
// and its C table, with images read from files.
#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "tests/support/host_fixture.h"
#include "tests/support/image_files.h"

namespace {

namespace fs = std::filesystem;

class HostServices : public testsupport::HostFixture {
protected:
  // The tests call the services as a module's callback does.
  testsupport::InCallback inCallback;
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
  EXPECT_TRUE(testsupport::refusedOnce(host, {"\"LW Image List\" next", "null where an image"}));
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
  {
    hostsim::SaveScope save(out, nullptr);
    images->sceneSave(save.state(), third);
    images->sceneSave(save.state(), nullptr);
  }
  // The reference is the file, relative to the scene's folder.
  EXPECT_NE(std::string(out.bytes().begin(), out.bytes().end()).find("three.png"), std::string::npos);

  hostsim::ImageList &list = host.images();
  list.move(list.at(2), 0);
  EXPECT_EQ(nth(0), third);
  hostsim::LoadStream in(out.bytes());
  {
    hostsim::LoadScope load(in, nullptr);
    EXPECT_EQ(images->sceneLoad(load.state()), third);
    EXPECT_EQ(images->sceneLoad(load.state()), nullptr);
  }
  EXPECT_TRUE(in.atEnd());

  // A reference to an image no longer in the list loads the file again, last.
  list.remove(list.at(0));
  EXPECT_EQ(images->name(third), nullptr); // a removed image is gone
  EXPECT_TRUE(testsupport::refusedOnce(host, {"name", "an image (from \"LW Image List\") that was destroyed"}));
  hostsim::LoadStream again(out.bytes());
  hostsim::LoadScope load(again, nullptr);
  LWImageID reloaded = images->sceneLoad(load.state());
  ASSERT_TRUE(reloaded);
  EXPECT_NE(reloaded, third);
  EXPECT_EQ(nth(2), reloaded);
  // A reference to a file that is gone gives no image.
  hostsim::SaveStream gone;
  gone.state()->writeStr(gone.state()->writeData, "nowhere.png");
  hostsim::LoadStream goneIn(gone.bytes());
  hostsim::LoadScope goneLoad(goneIn, nullptr);
  EXPECT_EQ(images->sceneLoad(goneLoad.state()), nullptr);
}

} // namespace
