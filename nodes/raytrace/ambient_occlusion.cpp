// Ambient Occlusion: a fan of rays in a cone around the shading normal,
// weighed by what they hit and how far away, as a Scalar (1 where nothing
// blocks) and a Color (surface, background and occlusion colours blended ray
// by ray).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "framework/activation.h"
#include "framework/random.h"
#include "nodes/raytrace/cone_directions.h"
#include "nodes/servers.h"

namespace juxs::ambient_occlusion_node {
namespace {

enum Input : std::size_t {
  kSamplesIn,
  kPolar1In,
  kPolar2In,
  kJitterIn,
  kConeIn,
  kMaxIn,
  kShiftIn,
  kLowIn,
  kHighIn,
  kOffsetIn,
  kDepthIn,
  kSrfColorIn,
  kSrfBrightIn,
  kBgColorIn,
  kBgBrightIn,
  kOccColorIn,
  kOccBrightIn,
  kLimitColorIn,
  kLimitBrightIn,
  kInputCount,
};

enum ColorMode : int32_t { kCustom = 0, kBackdrop = 1, kTrace = 2 };

struct Instance {
  int32_t mode;
  int32_t samples;
  int32_t polar1;
  int32_t polar2;
  double jitter;
  LWVParmID jitterParam;
  double cone;
  LWVParmID coneParam;
  int32_t ranged;
  double max;
  LWVParmID maxParam;
  double shift;
  LWVParmID shiftParam;
  int32_t clampLow;
  double low;
  LWVParmID lowParam;
  int32_t clampHigh;
  double high;
  LWVParmID highParam;
  double offset;
  LWVParmID offsetParam;
  int32_t sampleDepth;
  int32_t srfMode;
  double srfColor[3];
  LWVParmID srfColorParam;
  double srfBright;
  LWVParmID srfBrightParam;
  int32_t bgMode;
  double bgColor[3];
  LWVParmID bgColorParam;
  double bgBright;
  LWVParmID bgBrightParam;
  int32_t occMode;
  double occColor[3];
  LWVParmID occColorParam;
  double occBright;
  LWVParmID occBrightParam;
  int32_t limitMode;
  double limitColor[3];
  LWVParmID limitColorParam;
  double limitBright;
  LWVParmID limitBrightParam;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID inputs[kInputCount];
  NodeOutputID colorOut;
  NodeOutputID scalarOut;
};

fw::Services gServices;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// A draw d becomes d / (2^32 - 1): 0 and 1 both reachable.
constexpr double kUnit = 1.0 / 4294967295.0;
// The host's sampled reflection ray: the traced colour is what a blurred
// mirror in that direction would see.
constexpr int32_t kTraceMode = RTFLAG_SAMPLEDRAY | RTMODE_REFLECTION;
static_assert(kTraceMode == 0x40000001);

// Every AO created restarts the module's sequence for every user of it.
void onDefaults(void *, void *) { fw::rng::seed(3); }

// The settings of one evaluation: the cached values, replaced by connected
// inputs.
struct Settings {
  double cone, max, shift, low, high, offset;
  int32_t depth;
  double srf[3], srfBright, bg[3], bgBright, occ[3], occBright, limit[3], limitBright;
};

// One evaluation's rays and what they add up to.
class Pass {
public:
  Pass(const Instance &x, LWNodalAccess *na, const Settings &s, bool color)
      : x_(x), na_(na), s_(s), color_(color),
        // Only the Color pass ever traces, and only when a colour it blends
        // is the traced one.
        trace_(color && ((x.ranged && x.srfMode == kTrace) || x.occMode == kTrace)),
        backdrop_(gServices.backdrop && gServices.time) {
    for (int c = 0; c < 3; ++c) origin_[c] = na->wPos[c] + s.offset * na->gNorm[c];
  }

  // Occlusion weight of one ray from its hit distance (negative: no hit).
  double weight(double t) const {
    double w;
    if (!(t >= 0.0)) { // a miss, and a distance that is no number
      w = 0.0;
    } else if (x_.ranged) {
      // Beyond Max the ray counts as open; so does every ray when Max is no
      // number, rather than weighing NaN.
      if (!(t <= s_.max)) return clamp(0.0);
      // Max 0 leaves only hits at distance 0, which are as close as a hit can
      // be: fully occluded, as every smaller Max would grade them.
      w = (s_.max > 0.0 ? 1.0 - t / s_.max : 1.0) - s_.shift;
    } else {
      w = 1.0 - s_.shift;
    }
    return clamp(w);
  }

  void ray(const double d[3]) {
    if (!color_) {
      accum_[0] += weight(na_->rayCast(origin_, d));
      return;
    }
    double traced[3] = {0.0, 0.0, 0.0};
    const double t = trace_ ? na_->rayTraceMode(origin_, d, traced, na_->incomingEta, kTraceMode)
                            : na_->rayCast(origin_, d);
    const double w = weight(t);
    // The backdrop in the ray's direction, looked up once at most.
    double sky[3];
    bool looked = false;
    auto slot = [&](int32_t mode, const double fixed[3], bool traceable) -> const double * {
      if (mode == kBackdrop && backdrop_) {
        if (!looked) gServices.backdrop->backdrop(gServices.time->time, d, sky);
        looked = true;
        return sky;
      }
      if (mode == kTrace && traceable) return traced;
      return fixed;
    };
    const double *q = slot(x_.occMode, s_.occ, true);
    if (t >= 0.0) {
      const double *srf = slot(x_.srfMode, s_.srf, true);
      for (int c = 0; c < 3; ++c) accum_[c] += (1.0 - w) * srf[c] * s_.srfBright + w * q[c] * s_.occBright;
    } else {
      const double *bg = slot(x_.bgMode, s_.bg, false);
      for (int c = 0; c < 3; ++c) accum_[c] += (1.0 - w) * bg[c] * s_.bgBright + w * q[c] * s_.occBright;
    }
  }

  // Random: u1, u2 per ray; azimuth 2 pi u1, angle Cone u2.
  void random(int64_t n) {
    const raytrace::ConeFrame frame = raytrace::coneFrame(na_->wNorm);
    sweep(n, [&](int64_t, uint32_t u1, uint32_t u2, double &alpha, double &beta) {
      alpha = kTwoPi * (u1 * kUnit);
      beta = s_.cone * (u2 * kUnit);
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
      alpha = static_cast<double>(j) * kTwoPi / k - jitter + 2.0 * jitter * (u1 * kUnit);
      beta = static_cast<double>(ring) * step - jitter * (u2 * kUnit);
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
    const double *l = s_.limit;
    double sky[3];
    if (x_.limitMode == kBackdrop && backdrop_) {
      // Towards the shading point along the incoming ray. A ray that starts
      // on the point itself has no direction: the backdrop straight out from
      // the surface stands in, and a surface without a normal keeps the
      // fixed colour.
      double v[3];
      for (int c = 0; c < 3; ++c) v[c] = na_->wPos[c] - na_->raySource[c];
      if (unit(v) || (std::copy(na_->wNorm, na_->wNorm + 3, v), unit(v))) {
        gServices.backdrop->backdrop(gServices.time->time, v, sky);
        l = sky;
      }
    }
    for (int c = 0; c < 3; ++c) accum_[c] = l[c] * s_.limitBright;
  }

private:
  double clamp(double w) const {
    if (x_.clampLow && w > 1.0 - s_.low) return 1.0 - s_.low;
    if (x_.clampHigh && w < 1.0 - s_.high) return 1.0 - s_.high;
    return w;
  }

  static bool unit(double v[3]) {
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(len > 0.0) || !std::isfinite(len)) return false;
    for (int c = 0; c < 3; ++c) v[c] /= len;
    return true;
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
      for (std::size_t i = 0; i < k; ++i) ray(dirs[i]);
      done += static_cast<int64_t>(k);
    }
  }

  const Instance &x_;
  LWNodalAccess *na_;
  const Settings &s_;
  const bool color_, trace_, backdrop_;
  double origin_[3];
  double accum_[3] = {0.0, 0.0, 0.0};
};

// render threads, concurrently: reads the instance, draws from the module
// generator.
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto &x = *static_cast<const Instance *>(inst);
  const LWNodeInputFuncs &in = *gServices.input;
  auto gather = [&](Input i, void *v) { in.evaluate(x.inputs[i], na, v); };

  Settings s{x.cone, x.max, x.shift, x.low, x.high, x.offset, x.sampleDepth,
             {x.srfColor[0], x.srfColor[1], x.srfColor[2]}, x.srfBright,
             {x.bgColor[0], x.bgColor[1], x.bgColor[2]}, x.bgBright,
             {x.occColor[0], x.occColor[1], x.occColor[2]}, x.occBright,
             {x.limitColor[0], x.limitColor[1], x.limitColor[2]}, x.limitBright};
  gather(kConeIn, &s.cone);
  gather(kMaxIn, &s.max);
  gather(kShiftIn, &s.shift);
  gather(kLowIn, &s.low);
  gather(kHighIn, &s.high);
  gather(kOffsetIn, &s.offset);
  gather(kDepthIn, &s.depth);
  gather(kSrfColorIn, s.srf);
  gather(kSrfBrightIn, &s.srfBright);
  gather(kBgColorIn, s.bg);
  gather(kBgBrightIn, &s.bgBright);
  gather(kOccColorIn, s.occ);
  gather(kOccBrightIn, &s.occBright);
  gather(kLimitColorIn, s.limit);
  gather(kLimitBrightIn, &s.limitBright);

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
    int32_t n = x.samples;
    gather(kSamplesIn, &n);
    const int64_t count = std::max(n, int32_t{1});
    pass.random(count);
    pass.finish(count, value);
  } else if (x.mode == 1) {
    int32_t m = x.polar1, k = x.polar2;
    double jitter = x.jitter;
    gather(kPolar1In, &m);
    gather(kPolar2In, &k);
    gather(kJitterIn, &jitter);
    m = std::max(m, int32_t{1});
    k = std::max(k, int32_t{1});
    pass.polar(m, k, jitter);
    pass.finish(1 + int64_t{m - 1} * k, value);
  } else {
    pass.write(value); // no pattern: nothing sampled, zero
  }
}

#define JUXS_AO_PARAM(name, type, value, handle, ...) \
  {name, type, offsetof(Instance, value), offsetof(Instance, handle), {__VA_ARGS__}}

constexpr fw::IntSetting kInts[] = {
    {offsetof(Instance, mode), 0},       {offsetof(Instance, samples), 27},   {offsetof(Instance, polar1), 3},
    {offsetof(Instance, polar2), 9},     {offsetof(Instance, ranged), 1},     {offsetof(Instance, clampLow), 0},
    {offsetof(Instance, clampHigh), 0},  {offsetof(Instance, sampleDepth), 0}, {offsetof(Instance, srfMode), 0},
    {offsetof(Instance, bgMode), 0},     {offsetof(Instance, occMode), 0},    {offsetof(Instance, limitMode), 0},
};

constexpr fw::Param kParams[] = {
    JUXS_AO_PARAM("Jitter Angle", LWVP_ANGLE, jitter, jitterParam, kPi / 9.0),
    JUXS_AO_PARAM("Cone Angle", LWVP_ANGLE, cone, coneParam, kPi / 2.0),
    JUXS_AO_PARAM("Max", LWVP_DIST, max, maxParam, 5.0),
    JUXS_AO_PARAM("Shift", LWVP_FLOAT, shift, shiftParam, 0.0),
    JUXS_AO_PARAM("Low", LWVP_FLOAT, low, lowParam, 0.0),
    JUXS_AO_PARAM("High", LWVP_FLOAT, high, highParam, 1.0),
    JUXS_AO_PARAM("Offset", LWVP_DIST, offset, offsetParam, 0.0),
    JUXS_AO_PARAM("Srf Color", LWVP_COLOR, srfColor, srfColorParam, 1.0, 1.0, 1.0),
    JUXS_AO_PARAM("Srf Brightness", LWVP_PERCENT, srfBright, srfBrightParam, 1.0),
    JUXS_AO_PARAM("Bg Color", LWVP_COLOR, bgColor, bgColorParam, 1.0, 1.0, 1.0),
    JUXS_AO_PARAM("Bg Brightness", LWVP_PERCENT, bgBright, bgBrightParam, 1.0),
    JUXS_AO_PARAM("Occ Color", LWVP_COLOR, occColor, occColorParam, 0.0, 0.0, 0.0),
    JUXS_AO_PARAM("Occ Brightness", LWVP_PERCENT, occBright, occBrightParam, 1.0),
    JUXS_AO_PARAM("Limit Color", LWVP_COLOR, limitColor, limitColorParam, 0.0, 0.0, 0.0),
    JUXS_AO_PARAM("Limit Brightness", LWVP_PERCENT, limitBright, limitBrightParam, 1.0),
};
#undef JUXS_AO_PARAM

#define JUXS_AO_INPUT(name, type, index) {name, type, offsetof(Instance, inputs) + (index) * sizeof(NodeInputID)}
constexpr fw::Port kInputs[] = {
    JUXS_AO_INPUT("Samples", CONN_INTEGER, kSamplesIn),
    JUXS_AO_INPUT("Polar 1", CONN_INTEGER, kPolar1In),
    JUXS_AO_INPUT("Polar 2", CONN_INTEGER, kPolar2In),
    JUXS_AO_INPUT("Jitter Angle", CONN_SCALAR, kJitterIn),
    JUXS_AO_INPUT("Cone Angle", CONN_SCALAR, kConeIn),
    JUXS_AO_INPUT("Max", CONN_SCALAR, kMaxIn),
    JUXS_AO_INPUT("Shift", CONN_SCALAR, kShiftIn),
    JUXS_AO_INPUT("Low", CONN_SCALAR, kLowIn),
    JUXS_AO_INPUT("High", CONN_SCALAR, kHighIn),
    JUXS_AO_INPUT("Offset", CONN_SCALAR, kOffsetIn),
    JUXS_AO_INPUT("Sample Depth", CONN_INTEGER, kDepthIn),
    JUXS_AO_INPUT("Srf Color", CONN_COLOR, kSrfColorIn),
    JUXS_AO_INPUT("Srf Brightness", CONN_SCALAR, kSrfBrightIn),
    JUXS_AO_INPUT("Bg Color", CONN_COLOR, kBgColorIn),
    JUXS_AO_INPUT("Bg Brightness", CONN_SCALAR, kBgBrightIn),
    JUXS_AO_INPUT("Occ Color", CONN_COLOR, kOccColorIn),
    JUXS_AO_INPUT("Occ Brightness", CONN_SCALAR, kOccBrightIn),
    JUXS_AO_INPUT("Limit Color", CONN_COLOR, kLimitColorIn),
    JUXS_AO_INPUT("Limit Brightness", CONN_SCALAR, kLimitBrightIn),
};
#undef JUXS_AO_INPUT
static_assert(std::size(kInputs) == kInputCount);

constexpr fw::Port kOutputs[] = {{"Color", CONN_COLOR, offsetof(Instance, colorOut)},
                                 {"Scalar", CONN_SCALAR, offsetof(Instance, scalarOut)}};

constexpr fw::Lookup kLookups[] = {fw::Lookup::ModelerTest};

constexpr fw::NodeKind kKind{
    .envGroup = "Ambient Occlusion",
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
    .onDefaults = &onDefaults,
};

// ---------------------------------------------------------------- panel

constexpr const char *kModeItems[] = {"Random", "Polar", nullptr};
constexpr const char *kTraceableItems[] = {"Custom", "Backdrop", "Trace", nullptr};
constexpr const char *kFixedItems[] = {"Custom", "Backdrop", nullptr};

// A colour control counts only while its slot uses the fixed colour. A map
// has one entry per item of its popup.
constexpr int32_t kCustomOfThree[] = {1, 0, 0}, kCustomOfTwo[] = {1, 0};
constexpr uint32_t kMaxOnly[] = {0x8008}, kLowOnly[] = {0x800b}, kHighOnly[] = {0x800d};
constexpr uint32_t kSrfColorOnly[] = {0x8011}, kBgColorOnly[] = {0x8014}, kOccColorOnly[] = {0x8017},
                   kLimitColorOnly[] = {0x801a};
constexpr uint32_t kSurfaceControls[] = {0x8010, 0x8011, 0x8012};

constexpr fw::EnableRule kMaxRule{.controller = 0x8007, .map = {}, .message = nullptr, .dependants = kMaxOnly};
constexpr fw::EnableRule kLowRule{.controller = 0x800a, .map = {}, .message = nullptr, .dependants = kLowOnly};
constexpr fw::EnableRule kHighRule{.controller = 0x800c, .map = {}, .message = nullptr, .dependants = kHighOnly};
// Outside ranged mode every hit is fully occluded, so the surface colour of
// a hit never shows.
constexpr fw::EnableRule kSurfaceRule{.controller = 0x8007, .map = {},
                                      .message = "This control is only enabled in ranged mode",
                                      .dependants = kSurfaceControls};
constexpr fw::EnableRule kSrfColorRule{.controller = 0x8010, .map = kCustomOfThree, .message = nullptr,
                                       .dependants = kSrfColorOnly};
constexpr fw::EnableRule kBgColorRule{.controller = 0x8013, .map = kCustomOfTwo, .message = nullptr,
                                      .dependants = kBgColorOnly};
constexpr fw::EnableRule kOccColorRule{.controller = 0x8016, .map = kCustomOfThree, .message = nullptr,
                                       .dependants = kOccColorOnly};
constexpr fw::EnableRule kLimitColorRule{.controller = 0x8019, .map = kCustomOfTwo, .message = nullptr,
                                         .dependants = kLimitColorOnly};

constexpr fw::Control intControl(uint32_t id, const char *label, const char *type, std::size_t offset, int input = -1) {
  return {.id = id, .label = label, .controlType = type, .dataType = "integer", .bind = fw::Bind::Int,
          .offset = offset, .input = input};
}
constexpr fw::Control paramControl(uint32_t id, const char *label, const char *type, std::size_t handle, Input input) {
  return {.id = id, .label = label, .controlType = type, .dataType = type, .bind = fw::Bind::Param,
          .offset = handle, .input = static_cast<int>(input)};
}
template <class... Edits>
constexpr fw::Control with(fw::Control c, Edits... edits) {
  (edits(c), ...);
  return c;
}
constexpr auto hardMinimum(int32_t v) {
  return [v](fw::Control &c) { c.min = v, c.hardMin = true; };
}
constexpr auto minimum(int32_t v) {
  return [v](fw::Control &c) { c.min = v; };
}
constexpr auto items(const char *const *list) {
  return [list](fw::Control &c) { c.items = list; };
}
constexpr auto degrees(fw::Control &c) { c.range = fw::Range{0, 90, 1}; }
constexpr auto rule(const fw::EnableRule *r) {
  return [r](fw::Control &c) { c.enable = r; };
}

constexpr fw::Control kControls[] = {
    with(intControl(0x8001, "Mode", "iChoice", offsetof(Instance, mode)), items(kModeItems)),
    with(intControl(0x8002, "Samples", "integer", offsetof(Instance, samples), kSamplesIn), hardMinimum(1)),
    with(intControl(0x8003, "Polar Samples 1", "integer", offsetof(Instance, polar1), kPolar1In), hardMinimum(1)),
    with(intControl(0x8004, "Polar Samples 2", "integer", offsetof(Instance, polar2), kPolar2In), hardMinimum(1)),
    with(paramControl(0x8005, "Jitter Angle", "angle-env", offsetof(Instance, jitterParam), kJitterIn), degrees),
    with(paramControl(0x8006, "Cone Angle", "angle-env", offsetof(Instance, coneParam), kConeIn), degrees),
    intControl(0x8007, "Ranged", "iBoolean", offsetof(Instance, ranged)),
    with(paramControl(0x8008, "Max", "distance-env", offsetof(Instance, maxParam), kMaxIn), minimum(0),
         rule(&kMaxRule)),
    paramControl(0x8009, "Shift", "float-env", offsetof(Instance, shiftParam), kShiftIn),
    intControl(0x800a, "Clamp", "iBoolean", offsetof(Instance, clampLow)),
    with(paramControl(0x800b, "Low", "float-env", offsetof(Instance, lowParam), kLowIn), rule(&kLowRule)),
    intControl(0x800c, "Clamp", "iBoolean", offsetof(Instance, clampHigh)),
    with(paramControl(0x800d, "High", "float-env", offsetof(Instance, highParam), kHighIn), rule(&kHighRule)),
    paramControl(0x800e, "Offset", "distance-env", offsetof(Instance, offsetParam), kOffsetIn),
    with(intControl(0x800f, "Sample Depth", "integer", offsetof(Instance, sampleDepth), kDepthIn), hardMinimum(0)),
    with(intControl(0x8010, "Color Mode", "iChoice", offsetof(Instance, srfMode)), items(kTraceableItems),
         rule(&kSurfaceRule)),
    with(paramControl(0x8011, "Srf Color", "color-env", offsetof(Instance, srfColorParam), kSrfColorIn),
         rule(&kSrfColorRule)),
    with(paramControl(0x8012, "Brightness", "percent-env", offsetof(Instance, srfBrightParam), kSrfBrightIn),
         minimum(0)),
    with(intControl(0x8013, "Color Mode", "iChoice", offsetof(Instance, bgMode)), items(kFixedItems)),
    with(paramControl(0x8014, "Bg Color", "color-env", offsetof(Instance, bgColorParam), kBgColorIn),
         rule(&kBgColorRule)),
    with(paramControl(0x8015, "Brightness", "percent-env", offsetof(Instance, bgBrightParam), kBgBrightIn),
         minimum(0)),
    with(intControl(0x8016, "Color Mode", "iChoice", offsetof(Instance, occMode)), items(kTraceableItems)),
    with(paramControl(0x8017, "Occ Color", "color-env", offsetof(Instance, occColorParam), kOccColorIn),
         rule(&kOccColorRule)),
    with(paramControl(0x8018, "Brightness", "percent-env", offsetof(Instance, occBrightParam), kOccBrightIn),
         minimum(0)),
    with(intControl(0x8019, "Color Mode", "iChoice", offsetof(Instance, limitMode)), items(kFixedItems)),
    with(paramControl(0x801a, "Limit Color", "color-env", offsetof(Instance, limitColorParam), kLimitColorIn),
         rule(&kLimitColorRule)),
    with(paramControl(0x801b, "Brightness", "percent-env", offsetof(Instance, limitBrightParam), kLimitBrightIn),
         minimum(0)),
};

constexpr uint32_t kPolarGroup[] = {0x8003, 0x8004, 0x8005};
constexpr uint32_t kModePages[] = {0x8002, 0x801c}; // "Random": Samples; "Polar": the polar group
constexpr uint32_t kSampleSettings[] = {0x8001, 0x801d, 0x8006, 0x8007, 0x8008, 0x8009,
                                        0x800a, 0x800b, 0x800c, 0x800d, 0x800e, 0x800f};
constexpr uint32_t kColorSettings[] = {0x8010, 0x8011, 0x8012, 0x8013, 0x8014, 0x8015,
                                       0x8016, 0x8017, 0x8018, 0x8019, 0x801a, 0x801b};
constexpr uint32_t kTabs[] = {0x801f, 0x8020};

constexpr fw::Layout kLayout[] = {
    {.kind = XPTAG_GROUP, .id = 0x801c, .members = kPolarGroup},
    {.kind = XPTAG_STACK, .id = 0x801d, .controller = 0x8001, .members = kModePages},
    {.kind = XPTAG_GROUP, .id = 0x801f, .label = "Sample Settings", .members = kSampleSettings},
    {.kind = XPTAG_GROUP, .id = 0x8020, .label = "Color Settings", .members = kColorSettings},
    {.kind = XPTAG_TABS, .id = 0x8021, .members = kTabs},
};

constexpr fw::PanelKind kPanel{.controls = kControls, .layout = kLayout};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::ambient_occlusion_node
