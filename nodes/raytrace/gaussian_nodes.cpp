// Gaussian Reflections and Gaussian Refractions: a blurred mirror and a
// blurred pane of glass, the average of Samples rays about normals jittered by
// a bell-shaped offset of size Blur, each coloured by the backdrop, the ray
// tracer or a spherical image. Refractions bends its rays through the
// Refraction Index, reflecting instead where light cannot leave a denser
// medium. The twins share their record, rows and evaluation but for the index
// and how a ray leaves the surface.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <type_traits>

#include "framework/description.h"
#include "nodes/node_list.h"
#include "nodes/raytrace/gaussian.h"
#include "nodes/shared/image_chooser.h"

namespace juxs {
namespace {

using namespace gaussian;

struct NoIndex {};

template <bool Refracts>
struct Record {
  int32_t mode;
  image::Choice<> image;
  int32_t tint;
  fw::Param<fw::Triple> color;
  fw::Param<double> seam;
  [[no_unique_address]] std::conditional_t<Refracts, fw::Param<double>, NoIndex> ior;
  fw::Param<double> blur;
  fw::Int samples, blurDepth;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID normal;
  NodeOutputID out;
};

// An index that is no positive number bends nothing: such a surface is taken
// to match the medium the ray is in.
bool usableIndex(double eta) { return eta > 0.0 && std::isfinite(eta); }

fw::FileRequest gReflectRequest, gRefractRequest;
fw::Services gReflectServices{.fileRecord = &gReflectRequest}, gRefractServices{.fileRecord = &gRefractRequest};

template <bool Refracts, fw::Services &S>
struct Twin {
  using Instance = Record<Refracts>;
  static constexpr image::ChooserKind kChooser = image::chooserKind(&S, JUXS_FIELD(image), fw::recordOf<Instance>());

  static constexpr const char *kTinted[] = {"Color"};
  static constexpr fw::EnableRule kTintRule{.controller = Refracts ? "Tint Refractions" : "Tint Reflections",
                                            .dependants = kTinted};

  // The parameters are created Color first, then the angle and the index,
  // but saved in panel order; the inputs are created in that order too.
  // clang-format off: one setting a row
  static constexpr fw::Setting kMode =
      fw::integer("Mode", JUXS_FIELD(mode), kTraceBackdrop).control("iPopChoice").items(kModeItems);
  static constexpr fw::Setting kSeam = fw::param("Image Seam Angle", LWVP_ANGLE, JUXS_FIELD(seam), 0.0)
      .createdPlace(1).input(CONN_SCALAR, "Angle").inputPlace(1).control("angle-env");
  static constexpr fw::Setting kTint =
      fw::integer(Refracts ? "Tint Refractions" : "Tint Reflections", JUXS_FIELD(tint), 0).control("iBoolean");
  static constexpr fw::Setting kColor =
      fw::param("Color", LWVP_COLOR, JUXS_FIELD(color), 0.78431, 0.78431, 0.78431)
          .createdPlace(0).input(CONN_COLOR).inputPlace(0).control("color-env").enable(&kTintRule);
  static constexpr fw::Setting kBlur =
      fw::param(Refracts ? "Refraction Blur" : "Reflection Blur", LWVP_PERCENT, JUXS_FIELD(blur), 0.0)
          .input(CONN_SCALAR, "Blur").control("percent-env");
  // Samples keeps showing its own value while its input is connected: the
  // input still decides at evaluation.
  static constexpr fw::Setting kSamples = fw::integer("Samples", JUXS_FIELD(samples), 8)
      .input(CONN_INTEGER).control("integer").hardMin(1).showsOwnValue();
  static constexpr fw::Setting kBlurDepth =
      fw::integer("Blur Depth", JUXS_FIELD(blurDepth), 0).input(CONN_INTEGER).control("integer").hardMin(0);
  static constexpr fw::Setting kNormal = fw::input("Normal", CONN_VECTOR, JUXS_FIELD(normal));
  static constexpr auto kSettings = [] {
    if constexpr (Refracts) {
      const fw::Setting index = fw::param("Refraction Index", LWVP_FLOAT, JUXS_FIELD(ior), 1.0)
          .createdPlace(2).input(CONN_SCALAR, "IOR").inputPlace(2).control("float-env");
      return std::array{kMode, image::chooser<kChooser>("Image"), kSeam, index, kTint, kColor, kBlur, kSamples,
                        kBlurDepth, kNormal};
    } else {
      return std::array{kMode, image::chooser<kChooser>("Image"), kSeam, kTint, kColor, kBlur, kSamples, kBlurDepth,
                        kNormal};
    }
  }();
  // clang-format on
  static constexpr fw::Port kOutputs[] = {fw::output("Color", CONN_COLOR, JUXS_FIELD(out))};

  // A divider above the settings that colour the result.
  static constexpr const char *kDivider[] = {"Divider"};
  static constexpr const char *kDivided[] = {Refracts ? "Refraction Index" : "Color", "Color"};
  static constexpr fw::Group kLayout[] = {{.kind = 0, .key = "Divider"}};
  static constexpr fw::Hint kExtra[] = {
      {.tag = XPTAG_DIVADD, .args = kDivider, .list = std::span(kDivided).first(Refracts ? 2 : 1)}};

  // render threads, concurrently: reads the instance, draws nine numbers per
  // sample from the module generator
  static void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
    const auto *g = static_cast<const Instance *>(inst);
    const fw::Inputs in(S, na);
    const fw::Triple tint = in(g->color);
    const double seam = in(g->seam);
    double eta = 1.0;
    if constexpr (Refracts) eta = in(g->ior);
    const double blur = in(g->blur);
    const int32_t samples = in(g->samples), depth = in(g->blurDepth);
    double n[3];
    const fw::Triple normal = in(g->normal, fw::Triple{na->wNorm[0], na->wNorm[1], na->wNorm[2]});
    std::copy(normal.begin(), normal.end(), n);

    double q[3] = {0.0, 0.0, 0.0};
    double v[3];
    if (viewOf(na, n, v)) {
      const Source src{&S, na, g->mode,
                       g->mode >= kSphericalMap ? image::resolveImage(S.images, g->image.index) : nullptr, seam};
      const bool deep = (na->flags & LWRT_SAMPLEDRAY) && na->bounces > depth;
      if constexpr (Refracts) {
        const double etaC = usableIndex(na->incomingEta) ? na->incomingEta : 1.0;
        if (!usableIndex(eta)) eta = etaC;
        const int32_t word = traceWord(RTMODE_REFRACTION, blur);
        const Bend bend = bendFor(etaC, eta);
        if (deep) {
          // Deep inside sampled rays: one sharp ray keeps nested blur finite.
          Dirs m;
          m.x[0] = n[0], m.y[0] = n[1], m.z[0] = n[2];
          Rays ray;
          bendAll(bend, v, m, 1, ray);
          const double d[3] = {ray.d.x[0], ray.d.y[0], ray.d.z[0]};
          colourOf(src, d, ray.eta[0], word, q);
        } else {
          const Width width = widest();
          averageSamples(src, word, samples, blur, [&](const uint32_t *draws, std::size_t k, Rays &rays) {
            bendRays(width, n, v, blur, bend, draws, k, rays);
          }, q);
        }
      } else if (deep) {
        double r[3];
        mirror(v, n, r);
        colourOf(src, r, na->incomingEta, RTMODE_REFLECTION, q);
      } else {
        const int32_t word = traceWord(RTMODE_REFLECTION, blur);
        const Width width = widest();
        averageSamples(src, word, samples, blur, [&](const uint32_t *draws, std::size_t k, Rays &rays) {
          mirrorRays(width, n, v, blur, na->incomingEta, draws, k, rays);
        }, q);
      }
    }
    if (g->tint)
      for (int k = 0; k < 3; ++k) q[k] *= tint[k];
    S.output->setValue(value, q);
  }

  static constexpr fw::Lookup kLookups[] = {fw::Lookup::ImageServices, fw::Lookup::ModelerTest};

  static constexpr fw::Description kNode{
      .record = fw::recordOf<Instance>(),
      .svc = &S,
      .envGroup = Refracts ? "Gaussian Refractions" : "Gaussian Reflections",
      .lookups = kLookups,
      .settings = kSettings,
      .outputs = kOutputs,
      .layout = kLayout,
      .extra = kExtra,
      .evaluate = &evaluate,
  };
};

} // namespace

namespace gaussian_reflections_node {
JUXS_NODE_ACTIVATION((Twin<false, gReflectServices>::kNode))
} // namespace gaussian_reflections_node

namespace gaussian_refractions_node {
JUXS_NODE_ACTIVATION((Twin<true, gRefractServices>::kNode))
} // namespace gaussian_refractions_node

} // namespace juxs
