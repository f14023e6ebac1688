// Image files as the stand-in host reads and writes them: every format into
// linear float RGBA, the broken and the lying files refused with a reason,
// and pictures written back without losing what a float format can hold.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/render/image_output.h"
#include "hostsim/services/image_list.h"
#include "tests/support/image_files.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;
using testsupport::srgbToLinear;
using testsupport::writeBytes;
using testsupport::writeTestImage;

class ImageFiles : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("juxs_image_files_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string &name) const { return (dir / name).string(); }
  // The image, or null with the reason in error.
  std::unique_ptr<hostsim::Image> read(const std::string &name) {
    error.clear();
    try {
      return hostsim::readImageFile(path(name));
    } catch (const hostsim::Error &e) {
      error = e.what();
      EXPECT_EQ(e.file(), path(name)) << "the fault names the file";
      return nullptr;
    }
  }
  // The reason a file was refused; empty when it was read.
  std::string refusal(const std::string &name) {
    auto img = read(name);
    EXPECT_FALSE(img) << name << " was read";
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    return error;
  }

  fs::path dir;
  std::string error;
};

TEST_F(ImageFiles, IntegerSamplesAreSrgbDecodedUnlessTheFileSaysLinear) {
  const std::vector<float> grey{0.5f, 0.25f}; // 1 x 2, one channel
  for (const char *name : {"g8.png", "g16.png", "g8.bmp", "g16.tif"}) {
    const auto type = std::string(name).find("16") != std::string::npos ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
    ASSERT_TRUE(writeTestImage(path(name), 1, 2, 1, grey, type));
    auto img = read(name);
    ASSERT_TRUE(img) << error;
    EXPECT_EQ(img->width, 1);
    EXPECT_EQ(img->height, 2);
    EXPECT_FALSE(img->hasAlpha);
    // Grey goes to all three channels, alpha is opaque.
    const float step = type == OIIO::TypeDesc::UINT8 ? 1 / 255.0f : 1 / 65535.0f;
    const float expect = srgbToLinear(std::round(0.25f / step) * step);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(img->pixel(0, 1)[c], expect, 1e-6) << name;
    EXPECT_EQ(img->pixel(0, 1)[3], 1.0f);
  }
  // A file marked linear, or with a gamma, is taken at its word.
  ASSERT_TRUE(writeTestImage(path("lin.png"), 1, 2, 1, grey, OIIO::TypeDesc::UINT16, {{"oiio:ColorSpace", "Linear"}}));
  auto lin = read("lin.png");
  ASSERT_TRUE(lin) << error;
  EXPECT_NEAR(lin->pixel(0, 0)[0], 0.5f, 1e-4);
  ASSERT_TRUE(writeTestImage(path("gamma.png"), 1, 2, 1, grey, OIIO::TypeDesc::UINT8,
                             {{"oiio:ColorSpace", "GammaCorrected2.2"}, {"oiio:Gamma", "2.2"}}));
  auto gamma = read("gamma.png");
  ASSERT_TRUE(gamma) << error;
  EXPECT_NEAR(gamma->pixel(0, 0)[0], std::pow(128 / 255.0f, 2.2f), 1e-5);
  // Grey and alpha: alpha stays a plain fraction.
  ASSERT_TRUE(writeTestImage(path("ga.png"), 1, 1, 2, {0.5f, 0.25f}));
  auto ga = read("ga.png");
  ASSERT_TRUE(ga) << error;
  EXPECT_TRUE(ga->hasAlpha);
  EXPECT_NEAR(ga->pixel(0, 0)[2], srgbToLinear(128 / 255.0f), 1e-6);
  EXPECT_NEAR(ga->pixel(0, 0)[3], 64 / 255.0f, 1e-6);
}

TEST_F(ImageFiles, FloatSamplesStayLinearAndUnclamped) {
  const std::vector<float> px{-0.5f, 0.25f, 3.5f, 0.75f, 1e-3f, 100.0f, 2.0f, 1.0f};
  for (const char *name : {"f.exr", "f.tif"}) {
    ASSERT_TRUE(writeTestImage(path(name), 2, 1, 4, px, OIIO::TypeDesc::FLOAT));
    auto img = read(name);
    ASSERT_TRUE(img) << error;
    EXPECT_TRUE(img->hasAlpha);
    for (std::size_t i = 0; i < px.size(); ++i) EXPECT_EQ(img->rgba[i], px[i]) << name << " sample " << i;
  }
  // Half floats keep their value, to half precision.
  ASSERT_TRUE(writeTestImage(path("h.exr"), 2, 1, 4, px, OIIO::TypeDesc::HALF));
  auto half = read("h.exr");
  ASSERT_TRUE(half) << error;
  for (std::size_t i = 0; i < px.size(); ++i) EXPECT_NEAR(half->rgba[i], px[i], std::abs(px[i]) * 1e-3) << i;
}

TEST_F(ImageFiles, BrokenAndLyingFilesAreRefusedWithAReason) {
  // A Radiance header that promises 11000 x 11000 pixels in 53 bytes.
  writeBytes(path("big.hdr"), "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 11000 +X 11000\n");
  ASSERT_EQ(fs::file_size(dir / "big.hdr"), 53u);
  std::string why = refusal("big.hdr");
  EXPECT_NE(why.find(path("big.hdr")), std::string::npos) << why;
  EXPECT_NE(why.find("11000x11000"), std::string::npos) << why;
  EXPECT_NE(why.find("53 bytes"), std::string::npos) << why;

  // A BMP header of 16000 x 8000 pixels, 24 bits, and no pixels.
  std::string bmp(54, '\0');
  auto put = [&](std::size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(2, 54 + 16000u * 8000 * 3, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, 16000, 4);
  put(22, 8000, 4);
  put(26, 1, 2);
  put(28, 24, 2);
  writeBytes(path("empty.bmp"), bmp);
  why = refusal("empty.bmp");
  EXPECT_NE(why.find("16000x8000"), std::string::npos) << why;

  // A Radiance file cut short in its pixels: small enough to pass the size
  // check, so the decoder itself must find it.
  ASSERT_TRUE(writeTestImage(path("cut.hdr"), 8, 8, 3, std::vector<float>(8 * 8 * 3, 0.5f), OIIO::TypeDesc::FLOAT));
  fs::resize_file(dir / "cut.hdr", fs::file_size(dir / "cut.hdr") - 40);
  why = refusal("cut.hdr");
  EXPECT_NE(why.find("cannot read image \"" + path("cut.hdr") + "\""), std::string::npos) << why;

  // Cut short: PNG, OpenEXR, TIFF, TGA, JPEG.
  std::vector<float> noise(16 * 16 * 3);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<float>((i * 7919) % 251) / 251.0f;
  for (const char *name : {"cut.png", "cut.exr", "cut.tif", "cut.tga", "cut.jpg"}) {
    ASSERT_TRUE(writeTestImage(path(name), 16, 16, 3, noise));
    // A third is short of the pixels in every one of them (a TGA file's
    // trailer alone is over 500 bytes).
    fs::resize_file(dir / name, fs::file_size(dir / name) / 3);
    refusal(name);
  }

  // Within the size check, over the budget: a TGA header of 30000 x 30000
  // in a file big enough to hold it run-length coded.
  std::string tga(18, '\0');
  tga[2] = 10; // run-length true colour
  tga[12] = static_cast<char>(30000 & 0xff);
  tga[13] = static_cast<char>(30000 >> 8);
  tga[14] = tga[12];
  tga[15] = tga[13];
  tga[16] = 24;
  tga.resize(8 << 20, '\0');
  writeBytes(path("huge.tga"), tga);
  why = refusal("huge.tga");
  EXPECT_NE(why.find("MiB"), std::string::npos) << why;

  // Not an image at all, and no file.
  writeBytes(path("text.png"), "This is not a picture.\n");
  refusal("text.png");
  why = refusal("gone.exr");
  EXPECT_NE(why.find("cannot open image"), std::string::npos) << why;
}

hostsim::FrameBuffer frame(int w, int h, std::vector<float> rgb) {
  hostsim::FrameBuffer fb;
  fb.width = w;
  fb.height = h;
  fb.rgb = std::move(rgb);
  return fb;
}

TEST_F(ImageFiles, PicturesReadBackAsWritten) {
  const hostsim::FrameBuffer fb = frame(2, 2, {-2.5f, 0.0f, 0.5f, 1.0f, 3.75f, 1000.0f, 0.2f, 0.02f, 1e-3f, 7.0f, 0.9f, 0.0f});
  // OpenEXR keeps values above 1 and below 0: half by default, float on request.
  ASSERT_NO_THROW(hostsim::writeImage(path("half.exr"), fb));
  hostsim::PictureOptions full;
  full.fullFloat = true;
  ASSERT_NO_THROW(hostsim::writeImage(path("full.exr"), fb, full));
  auto half = read("half.exr");
  auto exact = read("full.exr");
  ASSERT_TRUE(half && exact) << error;
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) {
      const float v = fb.rgb[i * 3 + c];
      EXPECT_NEAR(half->rgba[i * 4 + c], v, std::abs(v) * 1e-3f) << i << "," << c;
      EXPECT_EQ(exact->rgba[i * 4 + c], v) << i << "," << c;
    }
  auto spec = OIIO::ImageInput::open(path("half.exr"))->spec();
  EXPECT_EQ(spec.format, OIIO::TypeDesc::HALF);
  EXPECT_EQ(spec.nchannels, 3);
  EXPECT_EQ(OIIO::ImageInput::open(path("full.exr"))->spec().format, OIIO::TypeDesc::FLOAT);

  // Radiance keeps positive values to its 8-bit mantissa; negative go to 0.
  ASSERT_NO_THROW(hostsim::writeImage(path("p.hdr"), fb));
  auto hdr = read("p.hdr");
  ASSERT_TRUE(hdr) << error;
  EXPECT_NEAR(hdr->pixel(1, 0)[2], 1000.0f, 1000.0f / 128);
  EXPECT_NEAR(hdr->pixel(0, 1)[0], 0.2f, 0.2f / 128);
  EXPECT_EQ(hdr->pixel(0, 0)[0], 0.0f);

  // PNG and TIFF are display-encoded and clamped to 0..1: 8 and 16 bits.
  ASSERT_NO_THROW(hostsim::writeImage(path("p.png"), fb));
  ASSERT_NO_THROW(hostsim::writeImage(path("p.tif"), fb));
  auto png = read("p.png");
  auto tif = read("p.tif");
  ASSERT_TRUE(png && tif) << error;
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) {
      const float v = std::clamp(fb.rgb[i * 3 + c], 0.0f, 1.0f);
      EXPECT_NEAR(png->rgba[i * 4 + c], srgbToLinear(hostsim::toDisplay(v) / 255.0f), 1e-6) << i << "," << c;
      EXPECT_NEAR(tif->rgba[i * 4 + c], v, 1e-4) << i << "," << c;
    }
  EXPECT_EQ(OIIO::ImageInput::open(path("p.tif"))->spec().format, OIIO::TypeDesc::UINT16);
}

TEST_F(ImageFiles, AFailedWriteLeavesTheEarlierPictureAndNoTemporaryFile) {
  const hostsim::FrameBuffer fb = frame(1, 1, {0.5f, 0.5f, 0.5f});
  writeBytes(path("keep.png"), "earlier");
  // A picture with no pixels cannot be written; nothing is touched.
  EXPECT_THROW(hostsim::writeImage(path("keep.png"), frame(2, 2, {0.5f})), hostsim::Error);
  // A device cannot be replaced; it is written into, and every write checked.
  fs::create_symlink("/dev/full", dir / "full.exr");
  std::string why = testsupport::thrownBy([&] { hostsim::writeImage(path("full.exr"), fb); });
  EXPECT_NE(why.find(std::strerror(ENOSPC)), std::string::npos) << why;
  EXPECT_TRUE(fs::is_symlink(dir / "full.exr"));
  // Unknown types are refused before anything is written.
  why = testsupport::thrownBy([&] { hostsim::writeImage(path("keep.gif"), fb); });
  EXPECT_NE(why.find(".png"), std::string::npos) << why;
  try {
    hostsim::writeImage(path("keep.gif"), fb);
  } catch (const hostsim::Error &e) {
    EXPECT_EQ(e.file(), path("keep.gif")) << "the fault names the picture";
  }
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"full.exr", "keep.png"}));
  std::ifstream in(dir / "keep.png");
  std::string text;
  in >> text;
  EXPECT_EQ(text, "earlier");
  // A good write replaces it whole, and a link to it stays a link.
  fs::create_symlink(dir / "keep.png", dir / "link.png");
  ASSERT_NO_THROW(hostsim::writeImage(path("link.png"), fb));
  EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
  auto img = read("keep.png");
  ASSERT_TRUE(img) << error;
  EXPECT_EQ(img->width, 1);
}

} // namespace
