// Gaussian Reflections: a blurred mirror reflection, the average of Samples
// mirror rays about normals jittered by a bell-shaped offset of size Blur,
// each coloured by the backdrop, the ray tracer or a spherical image.
#include <cstddef>

#include "framework/activation.h"
#include "framework/random.h"
#include "nodes/image/image_chooser.h"
#include "nodes/raytrace/gaussian.h"
#include "nodes/servers.h"

namespace juxs::gaussian_reflections_node {
namespace {

using namespace gaussian;

struct Instance {
  int32_t mode;
  int32_t popupCount;
  int32_t imageIndex;
  int32_t tint;
  double color[3];
  LWVParmID colorParam;
  double seam;
  LWVParmID seamParam;
  double blur;
  LWVParmID blurParam;
  int32_t samples;
  int32_t blurDepth;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID colorIn, angleIn, blurIn, samplesIn, blurDepthIn, normalIn;
  NodeOutputID out;
};

fw::FileRequest gFileRequest;
fw::Services gServices{.fileRecord = &gFileRequest};

constexpr image::ChooserKind kChooser{&gServices, 0x8002, offsetof(Instance, popupCount),
                                      offsetof(Instance, imageIndex), offsetof(Instance, panel)};
using Chooser = image::Chooser<kChooser>;

constexpr int32_t kReflection = 1;
constexpr int32_t kSampled = 0x40000000;

// render threads, concurrently: reads the instance, draws nine numbers per
// sample from the module generator
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto *g = static_cast<const Instance *>(inst);
  const LWNodeInputFuncs *in = gServices.input;
  double tint[3] = {g->color[0], g->color[1], g->color[2]};
  double seam = g->seam, blur = g->blur;
  int32_t samples = g->samples, depth = g->blurDepth;
  double n[3] = {na->wNorm[0], na->wNorm[1], na->wNorm[2]};
  in->evaluate(g->colorIn, na, tint);
  in->evaluate(g->angleIn, na, &seam);
  in->evaluate(g->blurIn, na, &blur);
  in->evaluate(g->samplesIn, na, &samples);
  in->evaluate(g->blurDepthIn, na, &depth);
  in->evaluate(g->normalIn, na, n);

  double q[3] = {0.0, 0.0, 0.0};
  double v[3];
  if (viewOf(na, n, v)) {
    const Source src{&gServices, na, g->mode,
                     g->mode >= kSphericalMap ? image::resolveImage(gServices.images, g->imageIndex) : nullptr, seam};
    double r[3];
    if ((na->flags & LWRT_SAMPLEDRAY) && na->bounces > depth) {
      // Deep inside sampled rays: one sharp ray keeps nested blur finite.
      mirror(v, n, r);
      colourOf(src, r, na->incomingEta, kReflection, q);
    } else {
      if (blur == 0.0 || samples < 1) samples = 1;
      const int32_t word = blur != 0.0 ? (kReflection | kSampled) : kReflection;
      // Nine numbers a sample, held at once: the traces in between may draw.
      const fw::rng::Hold hold(static_cast<std::size_t>(samples) * kDrawsPerNormal);
      for (int32_t i = 0; i < samples; ++i) {
        uint32_t draws[kDrawsPerNormal];
        fw::rng::draw(draws, kDrawsPerNormal);
        double c[3] = {0.0, 0.0, 0.0};
        mirrorAboutJittered(v, n, blur, draws, r);
        colourOf(src, r, na->incomingEta, word, c);
        for (int k = 0; k < 3; ++k) q[k] += c[k];
      }
      const double inv = 1.0 / samples;
      for (double &k : q) k *= inv;
    }
  }
  if (g->tint)
    for (int k = 0; k < 3; ++k) q[k] *= tint[k];
  gServices.output->setValue(value, q);
}

constexpr fw::Lookup kLookups[] = {fw::Lookup::ImageServices, fw::Lookup::ModelerTest};
constexpr fw::IntSetting kInts[] = {
    {offsetof(Instance, mode), kTraceBackdrop}, {offsetof(Instance, imageIndex), 0}, {offsetof(Instance, tint), 0},
    {offsetof(Instance, samples), 8},           {offsetof(Instance, blurDepth), 0},
};
constexpr fw::Param kParams[] = {
    {"Color", LWVP_COLOR, offsetof(Instance, color), offsetof(Instance, colorParam), {0.78431, 0.78431, 0.78431}},
    {"Image Seam Angle", LWVP_ANGLE, offsetof(Instance, seam), offsetof(Instance, seamParam), {0.0}},
    {"Reflection Blur", LWVP_PERCENT, offsetof(Instance, blur), offsetof(Instance, blurParam), {0.0}},
};
constexpr uint8_t kParamOrder[] = {1, 0, 2}; // copy, destroy, persistence
constexpr fw::Port kInputs[] = {
    {"Color", CONN_COLOR, offsetof(Instance, colorIn)},
    {"Angle", CONN_SCALAR, offsetof(Instance, angleIn)},
    {"Blur", CONN_SCALAR, offsetof(Instance, blurIn)},
    {"Samples", CONN_INTEGER, offsetof(Instance, samplesIn)},
    {"Blur Depth", CONN_INTEGER, offsetof(Instance, blurDepthIn)},
    {"Normal", CONN_VECTOR, offsetof(Instance, normalIn)},
};
constexpr fw::Port kOutputs[] = {{"Color", CONN_COLOR, offsetof(Instance, out)}};

constexpr fw::NodeKind kKind{
    .envGroup = "Gaussian Reflections",
    .preview = false,
    .size = sizeof(Instance),
    .svc = &gServices,
    .lookups = kLookups,
    .nodeOffset = offsetof(Instance, node),
    .groupOffset = offsetof(Instance, group),
    .panelOffset = offsetof(Instance, panel),
    .ints = kInts,
    .params = kParams,
    .paramOrder = kParamOrder,
    .inputs = kInputs,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .loadItems = &Chooser::load,
    .applyItems = &Chooser::apply,
    .itemBytes = sizeof(image::StagedReference),
    .saveItems = &Chooser::save,
    .init = &Chooser::init,
};

constexpr uint32_t kTinted[] = {0x8005};
constexpr fw::EnableRule kTintRule{.controller = 0x8004, .map = {}, .message = nullptr, .dependants = kTinted};
constexpr int32_t kDividerId[] = {0x8009};
constexpr uint32_t kDivided[] = {0x8005};
constexpr fw::RawHint kExtra[] = {{.tag = XPTAG_DIVADD, .args = kDividerId, .list = kDivided}};

// Samples keeps showing its own value while its input is connected (no
// .input): the input still decides at evaluation.
constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = "Mode", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, mode), .items = kModeItems},
    {.id = 0x8002, .label = "Image", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, imageIndex), .popCount = &Chooser::count, .popName = &Chooser::name},
    {.id = 0x8003, .label = "Image Seam Angle", .controlType = "angle-env", .dataType = "angle-env",
     .bind = fw::Bind::Param, .offset = offsetof(Instance, seamParam), .input = 1},
    {.id = 0x8004, .label = "Tint Reflections", .controlType = "iBoolean", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, tint)},
    {.id = 0x8005, .label = "Color", .controlType = "color-env", .dataType = "color-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, colorParam), .input = 0, .enable = &kTintRule},
    {.id = 0x8006, .label = "Reflection Blur", .controlType = "percent-env", .dataType = "percent-env",
     .bind = fw::Bind::Param, .offset = offsetof(Instance, blurParam), .input = 2},
    {.id = 0x8007, .label = "Samples", .controlType = "integer", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, samples), .min = 1, .hardMin = true},
    {.id = 0x8008, .label = "Blur Depth", .controlType = "integer", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, blurDepth), .input = 4, .min = 0, .hardMin = true},
};
constexpr fw::PanelKind kPanel{
    .controls = kControls,
    .extra = kExtra,
    .changeNotify = &image::changeNotify<kKind, kChooser>,
    .imageControl = 0x8002,
};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::gaussian_reflections_node
