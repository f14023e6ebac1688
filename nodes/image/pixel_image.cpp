// Pixel Image: one pixel of a host image, addressed by integer column and
// row, tiled per axis and blended over a background by the host's blend.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "framework/description.h"
#include "nodes/shared/image_chooser.h"
#include "nodes/node_list.h"

namespace juxs::pixel_image_node {
namespace {

enum Tiling : int32_t { kReset, kRepeat, kMirror, kEdge };

// A coordinate t against a size (width or height, at least 1): Reset leaves
// it, Repeat wraps it into 0..size-1, Mirror wraps it reflecting every other
// copy (-1 reads 1), Edge clamps it.
int32_t tile(int32_t mode, int32_t t, int32_t size) noexcept {
  if (size <= 0) return t;
  switch (mode) {
  case kRepeat: {
    const int32_t r = t % size;
    return r < 0 ? r + size : r;
  }
  case kMirror: {
    // In 64 bits: the most negative column has no 32-bit absolute value.
    int64_t a = t < 0 ? -static_cast<int64_t>(t) : t;
    const int64_t q = a / size;
    a = q % 2 == 0 ? a - q * size : (q + 1) * size - 1 - a;
    return static_cast<int32_t>(a);
  }
  case kEdge:
    return std::clamp(t, 0, size - 1);
  default: // kReset: outside the image shows the background
    return t;
  }
}

constexpr int32_t kBlendCount = 14;

struct Instance {
  fw::Param<fw::Triple> bg;
  image::Choice<true> image;
  fw::Int blending;
  fw::Param<double> opacity;
  fw::Int uTiling, vTiling, x, y;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID colorOut, alphaOut;
};

fw::FileRequest gFileRequest;
fw::Services gServices{.fileRecord = &gFileRequest};

constexpr image::ChooserKind kChooser = image::chooserKind(&gServices, JUXS_FIELD(image), fw::recordOf<Instance>());

void drawThumbnail(LWXPanelID panel, uint32_t, LWXPDrAreaID area, int32_t w, int32_t h) noexcept;

constexpr const char *kBlendItems[] = {
    "Normal", "Additive", "Subtractive", "Multiply", "Screen", "Darken", "Lighten",
    "Difference", "Negative", "Color Dodge", "Color Burn", "Red", "Green", "Blue", nullptr,
};
static_assert(sizeof kBlendItems / sizeof *kBlendItems == kBlendCount + 1);
constexpr const char *kTilingItems[] = {"Reset", "Repeat", "Mirror", "Edge", nullptr};

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::thumbnail("Thumbnail", THUM_MED | THUM_NTSC, &drawThumbnail),
    fw::param("Bg Color", LWVP_COLOR, JUXS_FIELD(bg), 0.0, 0.0, 0.0).input(CONN_COLOR).control("color-env"),
    image::chooser<kChooser>("Image").input(CONN_INTEGER),
    fw::integer("Blending", JUXS_FIELD(blending), 0).input(CONN_INTEGER).control("iPopChoice").items(kBlendItems),
    fw::param("Opacity", LWVP_PERCENT, JUXS_FIELD(opacity), 1.0).input(CONN_SCALAR).control("percent-env").min(0).max(1),
    fw::integer("U Tiling", JUXS_FIELD(uTiling), kReset).input(CONN_INTEGER).control("iPopChoice").items(kTilingItems),
    fw::integer("V Tiling", JUXS_FIELD(vTiling), kReset).input(CONN_INTEGER).control("iPopChoice").items(kTilingItems),
    fw::integer("X", JUXS_FIELD(x), 0).input(CONN_INTEGER).control("integer"),
    fw::integer("Y", JUXS_FIELD(y), 0).input(CONN_INTEGER).control("integer"),
};
// clang-format on
constexpr fw::Port kOutputs[] = {
    fw::output("Color", CONN_COLOR, JUXS_FIELD(colorOut)),
    fw::output("Alpha", CONN_SCALAR, JUXS_FIELD(alphaOut)),
};

constexpr const char *kLeft[] = {"Thumbnail"};
constexpr const char *kNarrow[] = {"Bg Color", "Image", "Blending"};
constexpr fw::Hint kExtra[] = {{.tag = XPTAG_LEFT, .list = kLeft}, {.tag = XPTAG_NARROW, .list = kNarrow}};

// render threads, concurrently: reads the instance and the host's image
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto *p = static_cast<const Instance *>(inst);
  const fw::Inputs in(gServices, na);
  const LWImageList *images = gServices.images;
  const bool wantsColor = output == p->colorOut;
  fw::Triple bg = in(p->bg);
  int32_t k = in(p->image.input, p->image.index);
  if (k < 0) k = 0;
  if (k >= p->image.count - 1) k = p->image.count - 2;

  auto background = [&] {
    double one = 1.0;
    gServices.output->setValue(value, wantsColor ? static_cast<void *>(bg.data()) : &one);
  };
  const LWImageID img = k > 0 ? image::resolveImage(images, k) : nullptr;
  int32_t width = 0, height = 0;
  if (img) images->size(img, &width, &height);
  // An image of no pixels has nothing to read: taken as no image.
  if (!img || width <= 0 || height <= 0) return background();

  int32_t mode = in(p->blending);
  const double opacity = in(p->opacity);
  int32_t uMode = in(p->uTiling), vMode = in(p->vTiling), x = in(p->x), y = in(p->y);
  mode = std::clamp(mode, 0, kBlendCount - 1);
  uMode = std::clamp<int32_t>(uMode, kReset, kEdge);
  vMode = std::clamp<int32_t>(vMode, kReset, kEdge);

  x = tile(uMode, x, width);
  y = tile(vMode, y, height);
  if ((uMode == kReset && (x < 0 || x >= width)) || (vMode == kReset && (y < 0 || y >= height))) return background();

  if (wantsColor) {
    float rgb[3] = {0.0f, 0.0f, 0.0f};
    images->RGB(img, x, y, rgb);
    double fg[3] = {rgb[0], rgb[1], rgb[2]}, result[3] = {0.0, 0.0, 0.0};
    gServices.utility->blend(result, fg, bg.data(), opacity, mode);
    gServices.output->setValue(value, result);
  } else {
    double alpha = 1.0;
    if (images->hasAlpha(img)) alpha = images->alpha(img, x, y);
    gServices.output->setValue(value, &alpha);
  }
}

// The chosen image, scaled to the control by taking every sx-th column and
// sy-th row; black with none. host thread
void drawThumbnail(LWXPanelID panel, uint32_t, LWXPDrAreaID area, int32_t w, int32_t h) noexcept {
  const LWXPanelFuncs *xp = gServices.xpanel;
  if (!xp || !xp->drawf) return;
  const auto *chosen = static_cast<const int32_t *>(xp->formGet(panel, gServices.imageControl));
  const LWImageList *images = gServices.images;
  const LWImageID img = chosen && *chosen > 0 ? image::resolveImage(images, *chosen) : nullptr;
  int32_t iw = 0, ih = 0;
  if (img) images->size(img, &iw, &ih);
  if (!img || iw <= 0 || ih <= 0) {
    xp->drawf->drawRGBBox(area, 0, 0, 0, 0, 0, w, h);
    return;
  }
  const float sx = static_cast<float>(iw) / static_cast<float>(w);
  const float sy = static_cast<float>(ih) / static_cast<float>(h);
  for (int32_t j = 0; j < h; ++j) {
    const auto py = static_cast<int32_t>(static_cast<float>(j) * sy);
    for (int32_t i = 0; i < w; ++i) {
      const auto px = static_cast<int32_t>(static_cast<float>(i) * sx);
      float rgb[3] = {0.0f, 0.0f, 0.0f};
      images->RGB(img, px, py, rgb);
      int32_t c[3];
      for (int k = 0; k < 3; ++k) c[k] = static_cast<int32_t>(std::min(rgb[k], 1.0f) * 255.0f);
      xp->drawf->drawRGBPixel(area, c[0], c[1], c[2], i, j);
    }
  }
}

constexpr fw::Lookup kLookups[] = {fw::Lookup::ImageServices};

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "PixelImage",
    .lookups = kLookups,
    .settings = kSettings,
    .outputs = kOutputs,
    .extra = kExtra,
    .evaluate = &evaluate,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::pixel_image_node
