// Gaussian Refractions: a blurred refraction, the average of Samples rays bent
// through normals jittered as Gaussian Reflections jitters them, reflecting
// instead where light cannot leave a denser medium.
#include <cmath>
#include <cstddef>

#include "framework/description.h"
#include "nodes/shared/image_chooser.h"
#include "nodes/raytrace/gaussian.h"
#include "nodes/node_list.h"

namespace juxs::gaussian_refractions_node {
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
  double ior;
  LWVParmID iorParam;
  double blur;
  LWVParmID blurParam;
  int32_t samples;
  int32_t blurDepth;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID colorIn, angleIn, iorIn, blurIn, samplesIn, blurDepthIn, normalIn;
  NodeOutputID out;
};

fw::FileRequest gFileRequest;
fw::Services gServices{.fileRecord = &gFileRequest};

constexpr image::ChooserKind kChooser{&gServices, offsetof(Instance, popupCount), offsetof(Instance, imageIndex),
                                      offsetof(Instance, panel)};
using Chooser = image::Chooser<kChooser>;

// ---------------------------------------------------------------- settings

constexpr const char *kTinted[] = {"Color"};
constexpr fw::Rule kTintRule{.controller = "Tint Refractions", .dependants = kTinted};

// The parameters are created Color first but saved in panel order; the
// inputs are created Color first too.
// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Mode", JUXS_FIELD(mode), kTraceBackdrop).control("iPopChoice").items(kModeItems),
    fw::integer("Image", JUXS_FIELD(imageIndex), 0).control("iPopChoice").popup(&Chooser::count, &Chooser::name),
    fw::param("Image Seam Angle", LWVP_ANGLE, JUXS_FIELD(seam), JUXS_FIELD(seamParam), 0.0)
        .createdPlace(1).input(CONN_SCALAR, JUXS_FIELD(angleIn), "Angle").inputPlace(1).control("angle-env"),
    fw::param("Refraction Index", LWVP_FLOAT, JUXS_FIELD(ior), JUXS_FIELD(iorParam), 1.0)
        .createdPlace(2).input(CONN_SCALAR, JUXS_FIELD(iorIn), "IOR").inputPlace(2).control("float-env"),
    fw::integer("Tint Refractions", JUXS_FIELD(tint), 0).control("iBoolean"),
    fw::param("Color", LWVP_COLOR, JUXS_FIELD(color), JUXS_FIELD(colorParam), 0.78431, 0.78431, 0.78431)
        .createdPlace(0).input(CONN_COLOR, JUXS_FIELD(colorIn)).inputPlace(0).control("color-env").enable(&kTintRule),
    fw::param("Refraction Blur", LWVP_PERCENT, JUXS_FIELD(blur), JUXS_FIELD(blurParam), 0.0)
        .input(CONN_SCALAR, JUXS_FIELD(blurIn), "Blur").control("percent-env"),
    // Samples keeps showing its own value while its input is connected: the
    // input still decides at evaluation.
    fw::integer("Samples", JUXS_FIELD(samples), 8)
        .input(CONN_INTEGER, JUXS_FIELD(samplesIn)).control("integer").hardMin(1).showsOwnValue(),
    fw::integer("Blur Depth", JUXS_FIELD(blurDepth), 0)
        .input(CONN_INTEGER, JUXS_FIELD(blurDepthIn)).control("integer").hardMin(0),
    fw::input("Normal", CONN_VECTOR, JUXS_FIELD(normalIn)),
};
// clang-format on
constexpr fw::Port kOutputs[] = {fw::output("Color", CONN_COLOR, JUXS_FIELD(out))};

// ---------------------------------------------------------------- layout

constexpr const char *kDivider[] = {"Divider"}, *kDivided[] = {"Refraction Index", "Color"};
constexpr fw::Group kLayout[] = {{.kind = 0, .key = "Divider"}};
constexpr fw::Hint kExtra[] = {{.tag = XPTAG_DIVADD, .args = kDivider, .list = kDivided}};

// ---------------------------------------------------------------- evaluate

// An index that is no positive number bends nothing: such a surface is taken
// to match the medium the ray is in.
bool usableIndex(double eta) { return eta > 0.0 && std::isfinite(eta); }

// render threads, concurrently: reads the instance, draws nine numbers per
// sample from the module generator
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto *g = static_cast<const Instance *>(inst);
  const LWNodeInputFuncs *in = gServices.input;
  double tint[3] = {g->color[0], g->color[1], g->color[2]};
  double seam = g->seam, eta = g->ior, blur = g->blur;
  int32_t samples = g->samples, depth = g->blurDepth;
  double n[3] = {na->wNorm[0], na->wNorm[1], na->wNorm[2]};
  in->evaluate(g->colorIn, na, tint);
  in->evaluate(g->angleIn, na, &seam);
  in->evaluate(g->iorIn, na, &eta);
  in->evaluate(g->blurIn, na, &blur);
  in->evaluate(g->samplesIn, na, &samples);
  in->evaluate(g->blurDepthIn, na, &depth);
  in->evaluate(g->normalIn, na, n);

  double q[3] = {0.0, 0.0, 0.0};
  double v[3];
  if (viewOf(na, n, v)) {
    const Source src{&gServices, na, g->mode,
                     g->mode >= kSphericalMap ? image::resolveImage(gServices.images, g->imageIndex) : nullptr, seam};
    const double etaC = usableIndex(na->incomingEta) ? na->incomingEta : 1.0;
    if (!usableIndex(eta)) eta = etaC;
    const int32_t word = traceWord(RTMODE_REFRACTION, blur);
    if ((na->flags & LWRT_SAMPLEDRAY) && na->bounces > depth) {
      Dirs m;
      m.x[0] = n[0], m.y[0] = n[1], m.z[0] = n[2];
      Rays ray;
      bendAll(bendFor(etaC, eta), v, m, 1, ray);
      const double d[3] = {ray.d.x[0], ray.d.y[0], ray.d.z[0]};
      colourOf(src, d, ray.eta[0], word, q);
    } else {
      const Bend bend = bendFor(etaC, eta);
      const Width width = widest();
      averageSamples(src, word, samples, blur, [&](const uint32_t *draws, std::size_t k, Rays &rays) {
        bendRays(width, n, v, blur, bend, draws, k, rays);
      }, q);
    }
  }
  if (g->tint)
    for (int k = 0; k < 3; ++k) q[k] *= tint[k];
  gServices.output->setValue(value, q);
}

constexpr fw::Lookup kLookups[] = {fw::Lookup::ImageServices, fw::Lookup::ModelerTest};

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Gaussian Refractions",
    .preview = false,
    .lookups = kLookups,
    .settings = kSettings,
    .outputs = kOutputs,
    .layout = kLayout,
    .extra = kExtra,
    .evaluate = &evaluate,
    .items = Chooser::kItems,
    .init = &Chooser::init,
    .afterNotify = &Chooser::notify,
    .imageControl = "Image",
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::gaussian_refractions_node
