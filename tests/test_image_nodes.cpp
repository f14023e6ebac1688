// The image chooser of the three image nodes and Pixel Image, driven through
// their panels, the host's image list, file requester and scene streams.
#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "hostsim/services/node_utility.h"
#include "tests/support/host_fixture.h"

using hostsim::HostNode;
using hostsim::OutputValue;

namespace {

namespace fs = std::filesystem;
using Pixel = std::function<std::array<uint8_t, 4>(int x, int y)>;

// Uncompressed TGA, rows from the top: BGRA bytes, or BGR without alpha.
void writeTga(const std::string &path, int w, int h, bool alpha, const Pixel &px) {
  std::vector<uint8_t> b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(w & 255), static_cast<uint8_t>(w >> 8),
                            static_cast<uint8_t>(h & 255), static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(alpha ? 32 : 24),
                            static_cast<uint8_t>(alpha ? 0x28 : 0x20)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const auto c = px(x, y);
      b.insert(b.end(), {c[2], c[1], c[0]});
      if (alpha) b.push_back(c[3]);
    }
  FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

class ImageNodes : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    dir = fs::temp_directory_path() /
          ("juxs_images_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override {
    HostFixture::TearDown();
    fs::remove_all(dir);
  }
  std::string file(const std::string &name) const { return (dir / name).string(); }
  // A 100 x 2 strip whose red byte is the column, green the row, alpha twice the column.
  hostsim::Image *strip(const std::string &name = "strip", bool alpha = false) {
    writeTga(file(name + ".tga"), 100, 2, alpha, [](int x, int y) {
      return std::array<uint8_t, 4>{static_cast<uint8_t>(x + 10), static_cast<uint8_t>(100 * y), 7, static_cast<uint8_t>(2 * x)};
    });
    hostsim::Image *img = nullptr;
    EXPECT_NO_THROW(img = host.images().load(file(name + ".tga")));
    return img;
  }
  hostsim::Image *plain(const std::string &name) {
    writeTga(file(name + ".tga"), 4, 4, false, [](int, int) { return std::array<uint8_t, 4>{50, 60, 70, 255}; });
    return host.images().load(file(name + ".tga"));
  }

  hostsim::PanelControl &imageControl(hostsim::Panel *p) { return control(p, "Image"); }
  // Whether the panel took the choice.
  bool choose(HostNode *n, int32_t item) {
    hostsim::Panel *p = openPanel(n);
    return testsupport::thrownBy([&] { host.panels().editInteger(*p, imageControl(p), item); }) == "(no error)";
  }
  int32_t shown(HostNode *n) {
    hostsim::Panel *p = openPanel(n);
    return host.panels().value(*p, imageControl(p)).integer;
  }
  std::vector<std::string> items(HostNode *n) {
    hostsim::Panel *p = openPanel(n);
    std::vector<std::string> out;
    for (int32_t i = 0; i < host.panels().popupCount(*p, imageControl(p)); ++i)
      out.push_back(host.panels().popupItem(*p, imageControl(p), i));
    return out;
  }
  void setInt(HostNode *n, const std::string &label, int32_t v) {
    hostsim::Panel *p = openPanel(n);
    ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, label), v)) << label;
  }
  HostNode *feed(HostNode *n, const std::string &input, const OutputValue &v) {
    HostNode *c = net->addConstant(v);
    EXPECT_NO_THROW(net->connect(c, "Value", n, input));
    return c;
  }
  static OutputValue integer(int32_t i) { return OutputValue{CONN_INTEGER, {0, 0, 0}, i, true}; }
  // The colour of a pixel as the host reads it.
  std::array<double, 3> pixel(int32_t x, int32_t y, LWImageID img = nullptr) {
    const auto *image = img ? reinterpret_cast<const hostsim::Image *>(img) : host.images().at(0);
    if (x < 0 || y < 0 || x >= image->width || y >= image->height) return {0, 0, 0};
    const float *rgb = image->pixel(x, y);
    return {rgb[0], rgb[1], rgb[2]};
  }

  fs::path dir;
};

const double kBg[3] = {0.5, 0.25, 0.125};

// ------------------------------------------------------------ the chooser

TEST_F(ImageNodes, LoadImageThenCancelLeavesNone) {
  HostNode *n = add("Jux Pixel Image");
  EXPECT_EQ(items(n), (std::vector<std::string>{"(none)", "(load Image)"}));
  ASSERT_TRUE(choose(n, 1));
  EXPECT_EQ(shown(n), 0);
  ASSERT_EQ(host.fileRequester().requests().size(), 1u);
  const auto &r = host.fileRequester().requests()[0];
  EXPECT_EQ(r.version, 3);
  EXPECT_EQ(r.type, 1);
  EXPECT_EQ(r.title, "Load Clip or Still");
  EXPECT_EQ(r.fileType, "Images");
}

TEST_F(ImageNodes, LoadImageSelectsTheLoadedImageLast) {
  plain("first");
  plain("second");
  writeTga(file("third.tga"), 2, 2, false, [](int, int) { return std::array<uint8_t, 4>{1, 2, 3, 4}; });
  for (const char *server : {"Jux Gaussian Reflections", "Jux Gaussian Refractions", "Jux Pixel Image"}) {
    HostNode *n = add(server);
    const std::size_t before = host.images().images().size();
    host.fileRequester().answer(file("third.tga"));
    ASSERT_TRUE(choose(n, static_cast<int32_t>(before) + 1)) << server;
    ASSERT_EQ(host.images().images().size(), before + 1);
    EXPECT_EQ(shown(n), static_cast<int32_t>(before) + 1) << server;
    const std::vector<std::string> it = items(n);
    EXPECT_EQ(it.back(), "(load Image)");
    EXPECT_EQ(it[before + 1], "third");
  }
}

TEST_F(ImageNodes, AFileTheHostCannotReadLeavesNoneRatherThanAnotherImage) {
  plain("only");
  HostNode *n = add("Jux Pixel Image");
  host.fileRequester().answer(file("missing.png"));
  ASSERT_TRUE(choose(n, 2));
  EXPECT_EQ(host.images().images().size(), 1u);
  EXPECT_EQ(shown(n), 0);
}

TEST_F(ImageNodes, EachKindAsksWithItsOwnRequestRecord) {
  std::set<const void *> records;
  for (const char *server : {"Jux Gaussian Reflections", "Jux Gaussian Refractions", "Jux Pixel Image"}) {
    HostNode *n = add(server);
    ASSERT_TRUE(choose(n, 1));
    records.insert(host.fileRequester().requests().back().record);
  }
  EXPECT_EQ(records.size(), 3u);
}

TEST_F(ImageNodes, ASavedChoiceFindsItsImageInAListOrderedDifferently) {
  plain("a");
  plain("b");
  hostsim::Image *c = plain("c");
  HostNode *n = add("Jux Gaussian Reflections");
  ASSERT_TRUE(choose(n, 3));
  const std::vector<uint8_t> block = save(n);
  host.images().move(c, 0);
  HostNode *m = add("Jux Gaussian Reflections");
  std::string error;
  ASSERT_TRUE(load(m, block, LWIO_BINARY, &error)) << error;
  EXPECT_EQ(shown(m), 1);
  EXPECT_EQ(items(m)[1], "c");
}

// The reference is read aside: a block cut short anywhere leaves the node's
// choice (and everything else it saves) as it was.
TEST_F(ImageNodes, ABlockCutShortChangesNoImageChoice) {
  plain("a");
  plain("b");
  for (const char *server : {"Jux Pixel Image", "Jux Gaussian Reflections", "Jux Gaussian Refractions"}) {
    SCOPED_TRACE(server);
    HostNode *n = add(server);
    ASSERT_TRUE(choose(n, 2));
    const std::vector<uint8_t> block = save(n);
    HostNode *m = add(server);
    ASSERT_TRUE(choose(m, 1));
    const std::vector<uint8_t> before = save(m);
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
      std::string error;
      if (load(m, std::vector<uint8_t>(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(cut)), LWIO_BINARY,
               &error))
        continue; // a prefix that is itself a whole block
      ASSERT_EQ(save(m), before) << "cut at " << cut << " of " << block.size();
    }
    std::string error;
    ASSERT_TRUE(load(m, block, LWIO_BINARY, &error)) << error;
    EXPECT_EQ(shown(m), 2);
  }
}

TEST_F(ImageNodes, NoneWritesNoImageReference) {
  plain("a");
  HostNode *n = add("Jux Pixel Image");
  expectBlock(n, {0, 0, 0, 0, 0, 0}, {"Bg Color", "Opacity"});
  // The Gaussian nodes store their parameters seam angle first.
  HostNode *g = add("Jux Gaussian Refractions");
  hostsim::SaveStream expected;
  for (int16_t i : {1, 0, 0, 8, 0}) expected.state()->writeI2(expected.state()->writeData, &i, 1);
  const auto &channels = g->group->children.at(0)->channels;
  for (const char *name : {"Image Seam Angle", "Refraction Index", "Color", "Refraction Blur"})
    for (const hostsim::VParm *v : channels)
      if (v->channel == name) hostsim::saveVParm(*v, expected.state());
  EXPECT_EQ(save(g), expected.bytes());
}

TEST_F(ImageNodes, RenderStartKeepsARemovedChoiceInsideTheList) {
  plain("a");
  hostsim::Image *b = plain("b");
  plain("c");
  HostNode *n = add("Jux Pixel Image");
  ASSERT_TRUE(choose(n, 3));
  host.images().remove(b);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(shown(n), 2);
  net->endRender();
}

TEST_F(ImageNodes, AnOpenPanelShowsNoneWhenTheListShrinksUnderItsChoice) {
  hostsim::Image *a = plain("a");
  hostsim::Image *b = plain("b");
  plain("c");
  HostNode *n = add("Jux Pixel Image");
  ASSERT_NO_THROW(net->beginRender()); // the popup notes five items
  net->endRender();
  ASSERT_TRUE(choose(n, 3));
  host.images().remove(a);
  host.images().remove(b);
  EXPECT_EQ(items(n).size(), 3u);
  EXPECT_EQ(shown(n), 0);
}

// ------------------------------------------------------------ Pixel Image

class Pixels : public ImageNodes {
protected:
  HostNode *node() {
    HostNode *n = add("Jux Pixel Image");
    EXPECT_TRUE(choose(n, 1));
    feed(n, "Bg Color", OutputValue{CONN_COLOR, {kBg[0], kBg[1], kBg[2]}, 0, true});
    EXPECT_NO_THROW(net->beginRender());
    return n;
  }
  void expectColor(const OutputValue &v, const std::array<double, 3> &want, const std::string &what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v.v[i], want[i], 1e-9) << what << " channel " << i;
  }
};

TEST_F(Pixels, TilingTable) {
  strip();
  HostNode *n = node();
  const std::array<double, 3> bg = {kBg[0], kBg[1], kBg[2]};
  const int32_t xs[] = {-1, 250, 150, -100};
  // Column read per mode, -1 for the background.
  const int32_t want[4][4] = {
      {-1, -1, -1, -1}, // Reset
      {99, 50, 50, 0},  // Repeat
      {1, 50, 49, 99},  // Mirror
      {0, 99, 99, 0},   // Edge
  };
  for (int32_t mode = 0; mode < 4; ++mode) {
    setInt(n, "U Tiling", mode);
    for (int i = 0; i < 4; ++i) {
      setInt(n, "X", xs[i]);
      const std::string what = "mode " + std::to_string(mode) + " x " + std::to_string(xs[i]);
      expectColor(eval(n, "Color"), want[mode][i] < 0 ? bg : pixel(want[mode][i], 0), what);
    }
  }
  // Rows tile on their own: row 3 of two mirrors to row 0... and repeats to row 1.
  setInt(n, "U Tiling", 0);
  setInt(n, "X", 5);
  setInt(n, "Y", 3);
  setInt(n, "V Tiling", 2);
  expectColor(eval(n, "Color"), pixel(5, 0), "mirrored row");
  setInt(n, "V Tiling", 1);
  expectColor(eval(n, "Color"), pixel(5, 1), "repeated row");
}

TEST_F(Pixels, MirrorOfTheMostNegativeColumnStaysInsideTheImage) {
  strip();
  HostNode *n = node();
  setInt(n, "U Tiling", 2);
  feed(n, "X", integer(INT32_MIN));
  // |-2^31| = 2147483648 = 21474836 widths (even) + 48.
  expectColor(eval(n, "Color"), pixel(48, 0), "INT32_MIN mirrored");
}

TEST_F(Pixels, OutOfRangeCodesAreClampedBeforeTheyReachTheHost) {
  strip();
  HostNode *n = node();
  setInt(n, "X", 30);
  HostNode *blending = feed(n, "Blending", integer(-3));
  const auto f = pixel(30, 0);
  double normal[3], blue[3];
  hostsim::blendColors(normal, f.data(), kBg, 1.0, BLEND_NORMAL);
  hostsim::blendColors(blue, f.data(), kBg, 1.0, BLEND_BLUE);
  expectColor(eval(n, "Color"), {normal[0], normal[1], normal[2]}, "-3 blends as Normal");
  net->remove(blending);
  feed(n, "Blending", integer(20));
  expectColor(eval(n, "Color"), {blue[0], blue[1], blue[2]}, "20 blends as Blue");

  setInt(n, "X", -1);
  HostNode *tiling = feed(n, "U Tiling", integer(-1));
  expectColor(eval(n, "Color"), {kBg[0], kBg[1], kBg[2]}, "-1 tiles as Reset");
  net->remove(tiling);
  feed(n, "U Tiling", integer(7));
  const auto edge = pixel(0, 0);
  double edgeBlue[3];
  hostsim::blendColors(edgeBlue, edge.data(), kBg, 1.0, BLEND_BLUE);
  expectColor(eval(n, "Color"), {edgeBlue[0], edgeBlue[1], edgeBlue[2]}, "7 tiles as Edge");
}

TEST_F(Pixels, AlphaComesFromTheAlphaChannelOrIsOne) {
  strip("opaque", false);
  strip("holes", true);
  HostNode *n = node();
  setInt(n, "X", 40);
  EXPECT_EQ(eval(n, "Alpha").scalar(), 1.0);
  setInt(n, "Image", 2);
  const float a = host.images().images().at(1)->pixel(40, 0)[3];
  EXPECT_NE(a, 1.0f);
  EXPECT_EQ(eval(n, "Alpha").scalar(), static_cast<double>(a));
}

TEST_F(Pixels, OnlyTheColourOutputReadsTheColourAndBlends) {
  strip("holes", true);
  HostNode *n = node();
  setInt(n, "X", 12);
  const uint64_t reads = host.images().pixelReads(), blends = hostsim::NodeUtility::blendCalls();
  eval(n, "Alpha");
  EXPECT_EQ(host.images().pixelReads(), reads);
  EXPECT_EQ(hostsim::NodeUtility::blendCalls(), blends);
  eval(n, "Color");
  EXPECT_EQ(host.images().pixelReads(), reads + 1);
  EXPECT_EQ(hostsim::NodeUtility::blendCalls(), blends + 1);
}

TEST_F(Pixels, NoImageGivesTheBackgroundAndFullAlpha) {
  strip();
  HostNode *n = add("Jux Pixel Image");
  feed(n, "Bg Color", OutputValue{CONN_COLOR, {kBg[0], kBg[1], kBg[2]}, 0, true});
  // Chosen, but no render has started: the popup count is still 0.
  ASSERT_TRUE(choose(n, 1));
  expectColor(eval(n, "Color"), {kBg[0], kBg[1], kBg[2]}, "before render start");
  EXPECT_EQ(eval(n, "Alpha").scalar(), 1.0);
  setInt(n, "Image", 0);
  ASSERT_NO_THROW(net->beginRender());
  expectColor(eval(n, "Color"), {kBg[0], kBg[1], kBg[2]}, "(none)");
  EXPECT_EQ(eval(n, "Alpha").scalar(), 1.0);
}

TEST_F(Pixels, TheImageInputIsClampedToTheList) {
  strip("one");
  hostsim::Image *two = plain("two");
  HostNode *n = node();
  HostNode *k = feed(n, "Image", integer(9));
  expectColor(eval(n, "Color"), pixel(0, 0, reinterpret_cast<LWImageID>(two)), "past the list: the last image");
  net->remove(k);
  feed(n, "Image", integer(-5));
  expectColor(eval(n, "Color"), {kBg[0], kBg[1], kBg[2]}, "below 0: none");
}

TEST_F(Pixels, AnImageOfNoPixelsIsNoImage) {
  hostsim::Image *img = strip();
  HostNode *n = node();
  img->width = 0;
  expectColor(eval(n, "Color"), {kBg[0], kBg[1], kBg[2]}, "zero width");
  EXPECT_EQ(eval(n, "Alpha").scalar(), 1.0);
}

// ------------------------------------------------------------ thumbnails

TEST_F(ImageNodes, ThumbnailOfNoneIsBlack) {
  strip();
  HostNode *n = add("Jux Pixel Image");
  hostsim::Panel *p = openPanel(n);
  hostsim::PanelControl *t = p->control(0x8001);
  ASSERT_TRUE(t && t->draw);
  const hostsim::DrawArea a = host.panels().drawThumbnail(*p, *t, 40, 30);
  EXPECT_EQ(a.boxes, 1);
  EXPECT_EQ(a.pixels, 0);
  for (uint8_t b : a.rgb) ASSERT_EQ(b, 0);
}

TEST_F(ImageNodes, ThumbnailOfALargerImageTakesEverySxthColumn) {
  writeTga(file("big.tga"), 400, 300, false, [](int x, int y) {
    return std::array<uint8_t, 4>{static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y), 255};
  });
  ASSERT_TRUE(host.images().load(file("big.tga")));
  HostNode *n = add("Jux Pixel Image");
  ASSERT_TRUE(choose(n, 1));
  hostsim::Panel *p = openPanel(n);
  const hostsim::PanelControl *t = p->control(0x8001);
  const auto [w, h] = hostsim::XPanelService::thumbnailSize(*t);
  ASSERT_EQ(w, 160);
  ASSERT_EQ(h, 120);
  const hostsim::DrawArea a = host.panels().drawThumbnail(*p, *t, w, h);
  EXPECT_EQ(a.pixels, w * h);
  const float sx = 400.0f / w, sy = 300.0f / h; // 2.5
  for (int j = 0; j < h; j += 7)
    for (int i = 0; i < w; i += 3) {
      const auto px = static_cast<int32_t>(i * sx), py = static_cast<int32_t>(j * sy);
      const auto c = pixel(px, py);
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(a.rgb[3 * (j * w + i) + k], static_cast<int>(std::min(static_cast<float>(c[k]), 1.0f) * 255.0f))
            << i << "," << j;
    }
}

} // namespace
