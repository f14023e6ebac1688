// Pixel Image: one pixel of a host image, addressed by integer column and
// row, tiled per axis and blended over a background by the host's blend.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "framework/activation.h"
#include "nodes/image/image_chooser.h"
#include "nodes/servers.h"

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
  double bg[3];
  LWVParmID bgParam;
  int32_t popupCount;
  int32_t imageIndex;
  int32_t blending;
  double opacity;
  LWVParmID opacityParam;
  int32_t uTiling;
  int32_t vTiling;
  int32_t x;
  int32_t y;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID bgIn, imageIn, blendingIn, opacityIn, uTilingIn, vTilingIn, xIn, yIn;
  NodeOutputID colorOut, alphaOut;
};

fw::FileRequest gFileRequest;
fw::Services gServices{.fileRecord = &gFileRequest};

constexpr uint32_t kImageControl = 0x8003;
constexpr image::ChooserKind kChooser{&gServices, kImageControl, offsetof(Instance, popupCount),
                                      offsetof(Instance, imageIndex), offsetof(Instance, panel)};
using Chooser = image::Chooser<kChooser>;

// render threads, concurrently: reads the instance and the host's image
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto *p = static_cast<const Instance *>(inst);
  const LWNodeInputFuncs *in = gServices.input;
  const LWImageList *images = gServices.images;
  const bool wantsColor = output == p->colorOut;
  double bg[3] = {p->bg[0], p->bg[1], p->bg[2]};
  int32_t k = p->imageIndex;
  in->evaluate(p->bgIn, na, bg);
  in->evaluate(p->imageIn, na, &k);
  if (k < 0) k = 0;
  if (k >= p->popupCount - 1) k = p->popupCount - 2;

  auto background = [&] {
    double one = 1.0;
    gServices.output->setValue(value, wantsColor ? static_cast<void *>(bg) : &one);
  };
  const LWImageID img = k > 0 ? image::resolveImage(images, k) : nullptr;
  int32_t width = 0, height = 0;
  if (img) images->size(img, &width, &height);
  // An image of no pixels has nothing to read: taken as no image.
  if (!img || width <= 0 || height <= 0) return background();

  int32_t mode = p->blending, uMode = p->uTiling, vMode = p->vTiling, x = p->x, y = p->y;
  double opacity = p->opacity;
  in->evaluate(p->blendingIn, na, &mode);
  in->evaluate(p->opacityIn, na, &opacity);
  in->evaluate(p->uTilingIn, na, &uMode);
  in->evaluate(p->vTilingIn, na, &vMode);
  in->evaluate(p->xIn, na, &x);
  in->evaluate(p->yIn, na, &y);
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
    gServices.utility->blend(result, fg, bg, opacity, mode);
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
  const auto *chosen = static_cast<const int32_t *>(xp->formGet(panel, kImageControl));
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
constexpr fw::IntSetting kInts[] = {
    {offsetof(Instance, imageIndex), 0}, {offsetof(Instance, blending), 0}, {offsetof(Instance, uTiling), kReset},
    {offsetof(Instance, vTiling), kReset}, {offsetof(Instance, x), 0},      {offsetof(Instance, y), 0},
};
constexpr fw::Param kParams[] = {
    {"Bg Color", LWVP_COLOR, offsetof(Instance, bg), offsetof(Instance, bgParam), {0.0, 0.0, 0.0}},
    {"Opacity", LWVP_PERCENT, offsetof(Instance, opacity), offsetof(Instance, opacityParam), {1.0}},
};
constexpr fw::Port kInputs[] = {
    {"Bg Color", CONN_COLOR, offsetof(Instance, bgIn)},
    {"Image", CONN_INTEGER, offsetof(Instance, imageIn)},
    {"Blending", CONN_INTEGER, offsetof(Instance, blendingIn)},
    {"Opacity", CONN_SCALAR, offsetof(Instance, opacityIn)},
    {"U Tiling", CONN_INTEGER, offsetof(Instance, uTilingIn)},
    {"V Tiling", CONN_INTEGER, offsetof(Instance, vTilingIn)},
    {"X", CONN_INTEGER, offsetof(Instance, xIn)},
    {"Y", CONN_INTEGER, offsetof(Instance, yIn)},
};
constexpr fw::Port kOutputs[] = {
    {"Color", CONN_COLOR, offsetof(Instance, colorOut)},
    {"Alpha", CONN_SCALAR, offsetof(Instance, alphaOut)},
};

constexpr fw::NodeKind kKind{
    .envGroup = "PixelImage",
    .preview = false,
    .size = sizeof(Instance),
    .svc = &gServices,
    .lookups = kLookups,
    .nodeOffset = offsetof(Instance, node),
    .groupOffset = offsetof(Instance, group),
    .panelOffset = offsetof(Instance, panel),
    .ints = kInts,
    .params = kParams,
    .inputs = kInputs,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .loadItems = &Chooser::load,
    .applyItems = &Chooser::apply,
    .itemBytes = sizeof(image::StagedReference),
    .saveItems = &Chooser::save,
    .init = &Chooser::init,
};

constexpr const char *kBlendItems[] = {
    "Normal", "Additive", "Subtractive", "Multiply", "Screen", "Darken", "Lighten",
    "Difference", "Negative", "Color Dodge", "Color Burn", "Red", "Green", "Blue", nullptr,
};
static_assert(sizeof kBlendItems / sizeof *kBlendItems == kBlendCount + 1);
constexpr const char *kTilingItems[] = {"Reset", "Repeat", "Mirror", "Edge", nullptr};
constexpr uint32_t kLeft[] = {0x8001};
constexpr uint32_t kNarrow[] = {0x8002, 0x8003, 0x8004};
constexpr fw::RawHint kExtra[] = {{.tag = XPTAG_LEFT, .list = kLeft}, {.tag = XPTAG_NARROW, .list = kNarrow}};

constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = nullptr, .controlType = "dThumbnail", .dataType = nullptr, .thumbnail = THUM_MED | THUM_NTSC,
     .draw = &drawThumbnail},
    {.id = 0x8002, .label = "Bg Color", .controlType = "color-env", .dataType = "color-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, bgParam), .input = 0},
    {.id = 0x8003, .label = "Image", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, imageIndex), .input = 1, .popCount = &Chooser::count, .popName = &Chooser::name},
    {.id = 0x8004, .label = "Blending", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, blending), .input = 2, .items = kBlendItems},
    {.id = 0x8005, .label = "Opacity", .controlType = "percent-env", .dataType = "percent-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, opacityParam), .input = 3, .min = 0, .max = 1},
    {.id = 0x8006, .label = "U Tiling", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, uTiling), .input = 4, .items = kTilingItems},
    {.id = 0x8007, .label = "V Tiling", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, vTiling), .input = 5, .items = kTilingItems},
    {.id = 0x8008, .label = "X", .controlType = "integer", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, x), .input = 6},
    {.id = 0x8009, .label = "Y", .controlType = "integer", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, y), .input = 7},
};
constexpr fw::PanelKind kPanel{
    .controls = kControls,
    .extra = kExtra,
    .changeNotify = &image::changeNotify<kKind, kChooser>,
    .imageControl = kImageControl,
};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::pixel_image_node
