// Ambient Occlusion: a fan of rays in a cone around the shading normal,
// weighed by what they hit and how far away, as a Scalar (1 where nothing
// blocks) and a Color (surface, background and occlusion colours blended ray
// by ray).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "framework/description.h"
#include "framework/random.h"
#include "framework/vector.h"
#include "nodes/raytrace/cone_directions.h"
#include "nodes/node_list.h"

namespace juxs::ambient_occlusion_node {
namespace {

enum ColorMode : int32_t { kCustom = 0, kBackdrop = 1, kTrace = 2 };

struct Instance {
  int32_t mode;
  fw::Int samples, polar1, polar2;
  fw::Param<double> jitter, cone;
  int32_t ranged;
  fw::Param<double> max, shift;
  int32_t clampLow;
  fw::Param<double> low;
  int32_t clampHigh;
  fw::Param<double> high, offset;
  fw::Int sampleDepth;
  int32_t srfMode;
  fw::Param<fw::Triple> srfColor;
  fw::Param<double> srfBright;
  int32_t bgMode;
  fw::Param<fw::Triple> bgColor;
  fw::Param<double> bgBright;
  int32_t occMode;
  fw::Param<fw::Triple> occColor;
  fw::Param<double> occBright;
  int32_t limitMode;
  fw::Param<fw::Triple> limitColor;
  fw::Param<double> limitBright;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID colorOut;
  NodeOutputID scalarOut;
};

fw::Services gServices;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// The host's sampled reflection ray: the traced colour is what a blurred
// mirror in that direction would see.
constexpr int32_t kTraceMode = RTFLAG_SAMPLEDRAY | RTMODE_REFLECTION;
static_assert(kTraceMode == 0x40000001);

// ---------------------------------------------------------------- settings

constexpr const char *kModeItems[] = {"Random", "Polar", nullptr};
constexpr const char *kTraceableItems[] = {"Custom", "Backdrop", "Trace", nullptr};
constexpr const char *kFixedItems[] = {"Custom", "Backdrop", nullptr};

// A colour control counts only while its slot uses the fixed colour. A map
// has one entry per item of its popup.
constexpr int32_t kCustomOfThree[] = {1, 0, 0}, kCustomOfTwo[] = {1, 0};
constexpr const char *kMaxOnly[] = {"Max"}, *kLowOnly[] = {"Low"}, *kHighOnly[] = {"High"};
constexpr const char *kSrfColorOnly[] = {"Srf Color"}, *kBgColorOnly[] = {"Bg Color"}, *kOccColorOnly[] = {"Occ Color"},
                     *kLimitColorOnly[] = {"Limit Color"};
constexpr const char *kSurfaceControls[] = {"Srf Color Mode", "Srf Color", "Srf Brightness"};

constexpr fw::EnableRule kMaxRule{.controller = "Ranged", .dependants = kMaxOnly};
constexpr fw::EnableRule kLowRule{.controller = "Low Clamp", .dependants = kLowOnly};
constexpr fw::EnableRule kHighRule{.controller = "High Clamp", .dependants = kHighOnly};
// Outside ranged mode every hit is fully occluded, so the surface colour of
// a hit never shows.
constexpr fw::EnableRule kSurfaceRule{.controller = "Ranged", .message = "This control is only enabled in ranged mode",
                                .dependants = kSurfaceControls};
constexpr fw::EnableRule kSrfColorRule{.controller = "Srf Color Mode", .map = kCustomOfThree, .dependants = kSrfColorOnly};
constexpr fw::EnableRule kBgColorRule{.controller = "Bg Color Mode", .map = kCustomOfTwo, .dependants = kBgColorOnly};
constexpr fw::EnableRule kOccColorRule{.controller = "Occ Color Mode", .map = kCustomOfThree, .dependants = kOccColorOnly};
constexpr fw::EnableRule kLimitColorRule{.controller = "Limit Color Mode", .map = kCustomOfTwo,
                                   .dependants = kLimitColorOnly};

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Mode", JUXS_FIELD(mode), 0).control("iChoice").items(kModeItems),
    fw::integer("Samples", JUXS_FIELD(samples), 27).input(CONN_INTEGER).control("integer").hardMin(1),
    fw::integer("Polar 1", JUXS_FIELD(polar1), 3)
        .input(CONN_INTEGER).control("integer").label("Polar Samples 1").hardMin(1),
    fw::integer("Polar 2", JUXS_FIELD(polar2), 9)
        .input(CONN_INTEGER).control("integer").label("Polar Samples 2").hardMin(1),
    fw::param("Jitter Angle", LWVP_ANGLE, JUXS_FIELD(jitter), kPi / 9.0)
        .input(CONN_SCALAR).control("angle-env").range(0, 90, 1),
    fw::param("Cone Angle", LWVP_ANGLE, JUXS_FIELD(cone), kPi / 2.0).input(CONN_SCALAR).control("angle-env").range(0, 90, 1),
    fw::integer("Ranged", JUXS_FIELD(ranged), 1).control("iBoolean"),
    fw::param("Max", LWVP_DIST, JUXS_FIELD(max), 5.0).input(CONN_SCALAR).control("distance-env").min(0).enable(&kMaxRule),
    fw::param("Shift", LWVP_FLOAT, JUXS_FIELD(shift), 0.0).input(CONN_SCALAR).control("float-env"),
    fw::integer("Low Clamp", JUXS_FIELD(clampLow), 0).control("iBoolean").label("Clamp"),
    fw::param("Low", LWVP_FLOAT, JUXS_FIELD(low), 0.0).input(CONN_SCALAR).control("float-env").enable(&kLowRule),
    fw::integer("High Clamp", JUXS_FIELD(clampHigh), 0).control("iBoolean").label("Clamp"),
    fw::param("High", LWVP_FLOAT, JUXS_FIELD(high), 1.0).input(CONN_SCALAR).control("float-env").enable(&kHighRule),
    fw::param("Offset", LWVP_DIST, JUXS_FIELD(offset), 0.0).input(CONN_SCALAR).control("distance-env"),
    fw::integer("Sample Depth", JUXS_FIELD(sampleDepth), 0).input(CONN_INTEGER).control("integer").hardMin(0),
    fw::integer("Srf Color Mode", JUXS_FIELD(srfMode), 0)
        .control("iChoice").label("Color Mode").items(kTraceableItems).enable(&kSurfaceRule),
    fw::param("Srf Color", LWVP_COLOR, JUXS_FIELD(srfColor), 1.0, 1.0, 1.0)
        .input(CONN_COLOR).control("color-env").enable(&kSrfColorRule),
    fw::param("Srf Brightness", LWVP_PERCENT, JUXS_FIELD(srfBright), 1.0)
        .input(CONN_SCALAR).control("percent-env").label("Brightness").min(0),
    fw::integer("Bg Color Mode", JUXS_FIELD(bgMode), 0).control("iChoice").label("Color Mode").items(kFixedItems),
    fw::param("Bg Color", LWVP_COLOR, JUXS_FIELD(bgColor), 1.0, 1.0, 1.0)
        .input(CONN_COLOR).control("color-env").enable(&kBgColorRule),
    fw::param("Bg Brightness", LWVP_PERCENT, JUXS_FIELD(bgBright), 1.0)
        .input(CONN_SCALAR).control("percent-env").label("Brightness").min(0),
    fw::integer("Occ Color Mode", JUXS_FIELD(occMode), 0).control("iChoice").label("Color Mode").items(kTraceableItems),
    fw::param("Occ Color", LWVP_COLOR, JUXS_FIELD(occColor), 0.0, 0.0, 0.0)
        .input(CONN_COLOR).control("color-env").enable(&kOccColorRule),
    fw::param("Occ Brightness", LWVP_PERCENT, JUXS_FIELD(occBright), 1.0)
        .input(CONN_SCALAR).control("percent-env").label("Brightness").min(0),
    fw::integer("Limit Color Mode", JUXS_FIELD(limitMode), 0).control("iChoice").label("Color Mode").items(kFixedItems),
    fw::param("Limit Color", LWVP_COLOR, JUXS_FIELD(limitColor), 0.0, 0.0, 0.0)
        .input(CONN_COLOR).control("color-env").enable(&kLimitColorRule),
    fw::param("Limit Brightness", LWVP_PERCENT, JUXS_FIELD(limitBright), 1.0)
        .input(CONN_SCALAR).control("percent-env").label("Brightness").min(0),
};
// clang-format on

constexpr fw::Port kOutputs[] = {fw::output("Color", CONN_COLOR, JUXS_FIELD(colorOut)),
                                 fw::output("Scalar", CONN_SCALAR, JUXS_FIELD(scalarOut))};

// ---------------------------------------------------------------- layout

constexpr const char *kPolarGroup[] = {"Polar 1", "Polar 2", "Jitter Angle"};
constexpr const char *kModePages[] = {"Samples", "Polar"}; // one page per item of Mode
constexpr const char *kSampleSettings[] = {"Mode", "Mode Pages", "Cone Angle", "Ranged", "Max", "Shift",
                                           "Low Clamp", "Low", "High Clamp", "High", "Offset", "Sample Depth"};
constexpr const char *kColorSettings[] = {"Srf Color Mode", "Srf Color", "Srf Brightness",
                                          "Bg Color Mode", "Bg Color", "Bg Brightness",
                                          "Occ Color Mode", "Occ Color", "Occ Brightness",
                                          "Limit Color Mode", "Limit Color", "Limit Brightness"};
constexpr const char *kTabs[] = {"Sample Settings", "Color Settings"};

constexpr fw::Group kLayout[] = {
    {.kind = XPTAG_GROUP, .key = "Polar", .members = kPolarGroup},
    {.kind = XPTAG_STACK, .key = "Mode Pages", .controller = "Mode", .members = kModePages},
    {.kind = 0, .key = "(unused)"}, // an id this panel has never used; the ids after it keep their numbers
    {.kind = XPTAG_GROUP, .key = "Sample Settings", .label = "Sample Settings", .members = kSampleSettings},
    {.kind = XPTAG_GROUP, .key = "Color Settings", .label = "Color Settings", .members = kColorSettings},
    {.kind = XPTAG_TABS, .key = "Tabs", .members = kTabs},
};

// Every AO created restarts the module's sequence for every user of it.
void onDefaults(void *, void *) { fw::rng::seed(3); }

// One evaluation's settings, each read once through its member (the input
// where it is connected), in the order the node reads them.
struct Sample {
  double cone, max, shift, low, high, offset;
  int32_t depth;
  fw::Triple srf;
  double srfBright;
  fw::Triple bg;
  double bgBright;
  fw::Triple occ;
  double occBright;
  fw::Triple limit;
  double limitBright;
};

// One evaluation's rays and what they add up to.
class Pass {
public:
  Pass(const Instance &x, LWNodalAccess *na, const Sample &s, bool color)
      : x_(x), na_(na), s_(s), color_(color),
        // Only the Color pass ever traces, and only when a colour it blends
        // is the traced one.
        trace_(color && ((x.ranged && x.srfMode == kTrace) || x.occMode == kTrace)),
        backdrop_(gServices.backdrop && gServices.time) {
    for (int c = 0; c < 3; ++c) origin_[c] = na->wPos[c] + s.offset * na->gNorm[c];
  }

  // Occlusion weights of k rays from their hit distances (negative: no hit),
  // with no branch on a ray's own distance so that a batch is weighed a few
  // rays to a register.
  void weights(const double t[], std::size_t k, double w[]) const {
    const bool ranged = x_.ranged != 0, graded = s_.max > 0.0;
    const double max = s_.max, flat = 1.0 - s_.shift;
    for (std::size_t i = 0; i < k; ++i) {
      // A miss, and a distance that is no number, weigh 0. Beyond Max a ray
      // counts as open; so does every ray when Max is no number, rather than
      // weighing NaN. Max 0 leaves only hits at distance 0, which are as close
      // as a hit can be: fully occluded, as every smaller Max would grade them.
      const double near = (graded ? 1.0 - t[i] / max : 1.0) - s_.shift;
      const double hit = ranged ? (t[i] <= max ? near : 0.0) : flat;
      w[i] = clamp(t[i] >= 0.0 ? hit : 0.0);
    }
  }

  void ray(const double d[3]) {
    if (!color_) {
      const double t = na_->rayCast(origin_, d);
      double w;
      weights(&t, 1, &w);
      accum_[0] += w;
      return;
    }
    double traced[3] = {0.0, 0.0, 0.0};
    const double t = trace_ ? na_->rayTraceMode(origin_, d, traced, na_->incomingEta, kTraceMode)
                            : na_->rayCast(origin_, d);
    double w;
    weights(&t, 1, &w);
    blend(d, t, w, traced);
  }

  // k rays that are cast, not traced: cast in order, then weighed together,
  // then added in order, so that the sums take the same steps as ray by ray.
  void castRays(const double (*d)[3], std::size_t k) {
    double t[raytrace::kDirectionBatch], w[raytrace::kDirectionBatch];
    for (std::size_t i = 0; i < k; ++i) t[i] = na_->rayCast(origin_, d[i]);
    weights(t, k, w);
    double a0 = accum_[0], a1 = accum_[1], a2 = accum_[2]; // summed in registers, not through memory
    if (!color_) {
      for (std::size_t i = 0; i < k; ++i) a0 += w[i];
      accum_[0] = a0;
      return;
    }
    const double none[3] = {0.0, 0.0, 0.0};
    const double *q = colour(x_.occMode, s_.occ.data(), none, true), *srf = colour(x_.srfMode, s_.srf.data(), none, true),
                 *bg = colour(x_.bgMode, s_.bg.data(), none, false);
    if (!q || !srf || !bg) { // the backdrop, ray by ray
      for (std::size_t i = 0; i < k; ++i) blend(d[i], t[i], w[i], none);
      return;
    }
    for (std::size_t i = 0; i < k; ++i) {
      const double wi = w[i];
      const double *c = t[i] >= 0.0 ? srf : bg;
      const double bright = t[i] >= 0.0 ? s_.srfBright : s_.bgBright;
      a0 += (1.0 - wi) * c[0] * bright + wi * q[0] * s_.occBright;
      a1 += (1.0 - wi) * c[1] * bright + wi * q[1] * s_.occBright;
      a2 += (1.0 - wi) * c[2] * bright + wi * q[2] * s_.occBright;
    }
    accum_[0] = a0, accum_[1] = a1, accum_[2] = a2;
  }

  // The colour a mode gives a ray: the fixed one, the traced one, or null
  // for the backdrop in the ray's direction.
  const double *colour(int32_t mode, const double fixed[3], const double traced[3], bool traceable) const {
    if (mode == kBackdrop && backdrop_) return nullptr;
    if (mode == kTrace && traceable) return traced;
    return fixed;
  }

  // Adds one ray's colour, weighed w, to the Color pass's sum.
  void blend(const double d[3], double t, double w, const double traced[3]) {
    // The backdrop in the ray's direction, looked up once at most.
    double sky[3];
    bool looked = false;
    auto slot = [&](int32_t mode, const double fixed[3], bool traceable) -> const double * {
      if (const double *c = colour(mode, fixed, traced, traceable)) return c;
      if (!looked) gServices.backdrop->backdrop(gServices.time->time, d, sky);
      looked = true;
      return sky;
    };
    const double *q = slot(x_.occMode, s_.occ.data(), true);
    if (t >= 0.0) {
      const double *srf = slot(x_.srfMode, s_.srf.data(), true);
      for (int c = 0; c < 3; ++c) accum_[c] += (1.0 - w) * srf[c] * s_.srfBright + w * q[c] * s_.occBright;
    } else {
      const double *bg = slot(x_.bgMode, s_.bg.data(), false);
      for (int c = 0; c < 3; ++c) accum_[c] += (1.0 - w) * bg[c] * s_.bgBright + w * q[c] * s_.occBright;
    }
  }

  // Random: u1, u2 per ray; azimuth 2 pi u1, angle Cone u2.
  void random(int64_t n) {
    const raytrace::ConeFrame frame = raytrace::coneFrame(na_->wNorm);
    sweep(n, [&](int64_t, uint32_t u1, uint32_t u2, double &alpha, double &beta) {
      alpha = kTwoPi * fw::rng::unit(u1);
      beta = s_.cone * fw::rng::unit(u2);
    }, frame);
  }

  // Polar: the axis, then m - 1 rings of k rays at evenly spaced angles,
  // jittered by up to J round the axis and towards it.
  void polar(int32_t m, int32_t k, double jitter) {
    ray(na_->wNorm);
    if (m <= 1) return;
    const raytrace::ConeFrame frame = raytrace::coneFrame(na_->wNorm);
    const double step = s_.cone / (m - 1);
    sweep(int64_t{m - 1} * k, [&](int64_t index, uint32_t u1, uint32_t u2, double &alpha, double &beta) {
      const int64_t ring = 1 + index / k, j = index % k;
      alpha = static_cast<double>(j) * kTwoPi / k - jitter + 2.0 * jitter * fw::rng::unit(u1);
      beta = static_cast<double>(ring) * step - jitter * fw::rng::unit(u2);
    }, frame);
  }

  // Writes the mean over count rays (count >= 1).
  void finish(int64_t count, NodeValue value) {
    const double inv = 1.0 / static_cast<double>(count);
    if (color_) {
      for (double &c : accum_) c *= inv;
      gServices.output->setValue(value, accum_);
    } else {
      double scalar = 1.0 - accum_[0] / static_cast<double>(count);
      gServices.output->setValue(value, &scalar);
    }
  }

  // Writes the accumulator as it stands: no rays were counted.
  void write(NodeValue value) {
    gServices.output->setValue(value, accum_); // the Scalar output takes the first
  }

  // The limit colour in place of sampling.
  void limit() {
    const double *l = s_.limit.data();
    double sky[3];
    if (x_.limitMode == kBackdrop && backdrop_) {
      // Towards the shading point along the incoming ray. A ray that starts
      // on the point itself has no direction: the backdrop straight out from
      // the surface stands in, and a surface without a normal keeps the
      // fixed colour.
      double v[3];
      for (int c = 0; c < 3; ++c) v[c] = na_->wPos[c] - na_->raySource[c];
      if (fw::normalize(v) || (std::copy(na_->wNorm, na_->wNorm + 3, v), fw::normalize(v))) {
        gServices.backdrop->backdrop(gServices.time->time, v, sky);
        l = sky;
      }
    }
    for (int c = 0; c < 3; ++c) accum_[c] = l[c] * s_.limitBright;
  }

private:
  double clamp(double w) const {
    const double low = 1.0 - s_.low, high = 1.0 - s_.high;
    return x_.clampLow && w > low ? low : (x_.clampHigh && w < high ? high : w);
  }

  // n rays whose angles angles() makes from their index and two draws.
  // Where no ray can draw in between, the draws of a whole batch come in
  // one call; otherwise each ray draws its two just before it is cast.
  template <class Angles>
  void sweep(int64_t n, Angles angles, const raytrace::ConeFrame &frame) {
    constexpr std::size_t kBatch = raytrace::kDirectionBatch;
    uint32_t words[2 * kBatch];
    double alpha[kBatch], beta[kBatch], dirs[kBatch][3];
    const fw::rng::Hold hold(static_cast<std::size_t>(2 * n));
    for (int64_t done = 0; done < n;) {
      const std::size_t k = trace_ ? 1 : static_cast<std::size_t>(std::min<int64_t>(n - done, kBatch));
      fw::rng::draw(words, 2 * k);
      for (std::size_t i = 0; i < k; ++i) angles(done + static_cast<int64_t>(i), words[2 * i], words[2 * i + 1], alpha[i], beta[i]);
      raytrace::coneDirections(frame, alpha, beta, k, dirs);
      if (trace_)
        ray(dirs[0]);
      else
        castRays(dirs, k);
      done += static_cast<int64_t>(k);
    }
  }

  const Instance &x_;
  LWNodalAccess *na_;
  const Sample &s_;
  const bool color_, trace_, backdrop_;
  double origin_[3];
  double accum_[3] = {0.0, 0.0, 0.0};
};

// render threads, concurrently: reads the instance, draws from the module
// generator.
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto &x = *static_cast<const Instance *>(inst);
  const fw::Inputs in(gServices, na);
  const Sample s{in(x.cone),     in(x.max),       in(x.shift),    in(x.low),       in(x.high),
                 in(x.offset),   in(x.sampleDepth), in(x.srfColor), in(x.srfBright), in(x.bgColor),
                 in(x.bgBright), in(x.occColor),  in(x.occBright), in(x.limitColor), in(x.limitBright)};

  // The host asks for one output at a time; any output but Color gets the
  // Scalar pass, which writes one value.
  Pass pass(x, na, s, output == x.colorOut);
  // Beyond Sample Depth on a sampled ray: the limit colour, no rays. This is
  // what bounds AO seen through the rays of another AO.
  if ((na->flags & LWRT_SAMPLEDRAY) && na->bounces > s.depth) {
    pass.limit();
    pass.write(value);
    return;
  }
  if (x.mode == 0) {
    const int64_t count = std::max(in(x.samples), int32_t{1});
    pass.random(count);
    pass.finish(count, value);
  } else if (x.mode == 1) {
    const int32_t m = std::max(in(x.polar1), int32_t{1}), k = std::max(in(x.polar2), int32_t{1});
    const double jitter = in(x.jitter);
    pass.polar(m, k, jitter);
    pass.finish(1 + int64_t{m - 1} * k, value);
  } else {
    pass.write(value); // no pattern: nothing sampled, zero
  }
}

constexpr fw::Lookup kLookups[] = {fw::Lookup::ModelerTest};

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Ambient Occlusion",
    .lookups = kLookups,
    .settings = kSettings,
    .outputs = kOutputs,
    .layout = kLayout,
    .evaluate = &evaluate,
    .onDefaults = &onDefaults,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::ambient_occlusion_node
