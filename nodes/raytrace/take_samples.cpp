// Take Samples: evaluates the network on its "Color" input several times at
// one shading point, shifts and clamps each sample per channel, and combines
// them: average, minimum, maximum, darkest, brightest, sum, negated sum or
// product.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "framework/activation.h"
#include "nodes/servers.h"

namespace juxs::take_samples_node {
namespace {

enum Mode : int32_t {
  kAverage,
  kMinimum,
  kMaximum,
  kDarkest,
  kBrightest,
  kAdditive,
  kSubtractive,
  kMultiply,
  kModeCount,
};

// One channel's shift and bounds.
struct Channel {
  double shift;
  LWVParmID shiftParam;
  int32_t lowClamp;
  double low;
  LWVParmID lowParam;
  int32_t highClamp;
  double high;
  LWVParmID highParam;
};

// The inputs in the record's order; they are created in another (kInputs).
enum Input : std::size_t {
  kModeIn,
  kSamplesIn,
  kRShiftIn,
  kRLowIn,
  kRHighIn,
  kGShiftIn,
  kGLowIn,
  kGHighIn,
  kBShiftIn,
  kBLowIn,
  kBHighIn,
  kColorIn,
  kInputCount,
};

struct Instance {
  int32_t mode;
  int32_t samples;
  Channel channel[3]; // red, green, blue
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID inputs[kInputCount];
  NodeOutputID out;
};

fw::Services gServices;

// render threads, concurrently: reads the instance; the upstream network runs
// once per sample.
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto &x = *static_cast<const Instance *>(inst);
  const LWNodeInputFuncs &in = *gServices.input;

  int32_t mode = x.mode, samples = x.samples;
  in.evaluate(x.inputs[kModeIn], na, &mode);
  mode = std::clamp(mode, int32_t{kAverage}, int32_t{kModeCount - 1});
  in.evaluate(x.inputs[kSamplesIn], na, &samples);
  samples = std::max(samples, int32_t{1}); // never a count of 0 to divide by
  double shift[3], low[3], high[3];
  for (std::size_t c = 0; c < 3; ++c) {
    const Channel &ch = x.channel[c];
    shift[c] = ch.shift;
    low[c] = ch.low;
    high[c] = ch.high;
    in.evaluate(x.inputs[kRShiftIn + 3 * c], na, &shift[c]);
    in.evaluate(x.inputs[kRLowIn + 3 * c], na, &low[c]);
    in.evaluate(x.inputs[kRHighIn + 3 * c], na, &high[c]);
  }

  auto take = [&](double s[3]) {
    s[0] = s[1] = s[2] = 0.0;
    in.evaluate(x.inputs[kColorIn], na, s);
    for (std::size_t c = 0; c < 3; ++c) {
      s[c] += shift[c];
      // Low first, so that with Low above High the channel ends at High.
      if (x.channel[c].lowClamp && s[c] < low[c]) s[c] = low[c];
      if (x.channel[c].highClamp && s[c] > high[c]) s[c] = high[c];
    }
  };
  auto brightness = [](const double s[3]) { return (s[2] + s[1] + s[0]) * 0.3333333333333333; };

  double a[3] = {0.0, 0.0, 0.0}, s[3];
  switch (mode) {
  case kAverage:
  case kAdditive:
  case kSubtractive:
    for (int32_t k = 0; k < samples; ++k) {
      take(s);
      for (std::size_t c = 0; c < 3; ++c) a[c] += mode == kSubtractive ? -s[c] : s[c];
    }
    if (mode == kAverage)
      for (double &c : a) c *= 1.0 / samples;
    break;
  case kMinimum:
  case kMaximum:
  case kMultiply:
    take(a);
    for (int32_t k = 1; k < samples; ++k) {
      take(s);
      for (std::size_t c = 0; c < 3; ++c) {
        if (mode == kMultiply)
          a[c] *= s[c];
        else if (mode == kMinimum ? s[c] < a[c] : s[c] > a[c])
          a[c] = s[c];
      }
    }
    break;
  default: { // darkest, brightest: one whole sample; ties keep the earlier
    take(a);
    double best = brightness(a);
    for (int32_t k = 1; k < samples; ++k) {
      take(s);
      const double b = brightness(s);
      if (mode == kDarkest ? b < best : b > best) {
        std::copy(s, s + 3, a);
        best = b;
      }
    }
    break;
  }
  }
  gServices.output->setValue(value, a);
}

#define JUXS_TS_TOGGLES(c) {offsetof(Instance, channel[c].lowClamp), 0}, {offsetof(Instance, channel[c].highClamp), 0}
constexpr fw::IntSetting kInts[] = {
    {offsetof(Instance, mode), kAverage}, {offsetof(Instance, samples), 12},
    JUXS_TS_TOGGLES(0), JUXS_TS_TOGGLES(1), JUXS_TS_TOGGLES(2),
};
#undef JUXS_TS_TOGGLES

#define JUXS_TS_PARAMS(c, ch)                                                                                  \
  {#ch " Shift", LWVP_FLOAT, offsetof(Instance, channel[c].shift), offsetof(Instance, channel[c].shiftParam), {0.0}}, \
      {#ch " Low", LWVP_FLOAT, offsetof(Instance, channel[c].low), offsetof(Instance, channel[c].lowParam), {0.0}},   \
      {#ch " High", LWVP_FLOAT, offsetof(Instance, channel[c].high), offsetof(Instance, channel[c].highParam), {1.0}}
constexpr fw::Param kParams[] = {JUXS_TS_PARAMS(0, R), JUXS_TS_PARAMS(1, G), JUXS_TS_PARAMS(2, B)};
#undef JUXS_TS_PARAMS

constexpr std::size_t inputAt(Input i) { return offsetof(Instance, inputs) + i * sizeof(NodeInputID); }
// The order the user meets them in: what is sampled right after how.
constexpr fw::Port kInputs[] = {
    {"Mode", CONN_INTEGER, inputAt(kModeIn)},      {"Samples", CONN_INTEGER, inputAt(kSamplesIn)},
    {"Color", CONN_COLOR, inputAt(kColorIn)},      {"R Shift", CONN_SCALAR, inputAt(kRShiftIn)},
    {"R Low", CONN_SCALAR, inputAt(kRLowIn)},      {"R High", CONN_SCALAR, inputAt(kRHighIn)},
    {"G Shift", CONN_SCALAR, inputAt(kGShiftIn)},  {"G Low", CONN_SCALAR, inputAt(kGLowIn)},
    {"G High", CONN_SCALAR, inputAt(kGHighIn)},    {"B Shift", CONN_SCALAR, inputAt(kBShiftIn)},
    {"B Low", CONN_SCALAR, inputAt(kBLowIn)},      {"B High", CONN_SCALAR, inputAt(kBHighIn)},
};
// Positions in kInputs, for the panel.
enum Created : int { kModePort, kSamplesPort, kColorPort, kFirstChannelPort };

constexpr fw::Port kOutputs[] = {{"Color", CONN_COLOR, offsetof(Instance, out)}};

constexpr fw::NodeKind kKind{
    .envGroup = "Take Samples",
    .preview = false,
    .size = sizeof(Instance),
    .svc = &gServices,
    .nodeOffset = offsetof(Instance, node),
    .groupOffset = offsetof(Instance, group),
    .panelOffset = offsetof(Instance, panel),
    .ints = kInts,
    .params = kParams,
    .inputs = kInputs,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

constexpr const char *kModeItems[] = {"Average",   "Minimum",   "Maximum",     "Darkest",
                                      "Brightest", "Additive",  "Subtractive", "Multiply", nullptr};
static_assert(std::size(kModeItems) == kModeCount + 1);

constexpr uint32_t kDependants[6][1] = {{0x8005}, {0x8007}, {0x800a}, {0x800c}, {0x800f}, {0x8011}};
constexpr fw::EnableRule kRules[6] = {
    {.controller = 0x8004, .map = {}, .message = nullptr, .dependants = kDependants[0]},
    {.controller = 0x8006, .map = {}, .message = nullptr, .dependants = kDependants[1]},
    {.controller = 0x8009, .map = {}, .message = nullptr, .dependants = kDependants[2]},
    {.controller = 0x800b, .map = {}, .message = nullptr, .dependants = kDependants[3]},
    {.controller = 0x800e, .map = {}, .message = nullptr, .dependants = kDependants[4]},
    {.controller = 0x8010, .map = {}, .message = nullptr, .dependants = kDependants[5]},
};

constexpr fw::Control param(uint32_t id, const char *label, std::size_t handle, int port,
                            const fw::EnableRule *rule = nullptr) {
  return {.id = id, .label = label, .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
          .offset = handle, .input = port, .enable = rule};
}
constexpr fw::Control toggle(uint32_t id, std::size_t field) {
  return {.id = id, .label = "Clamp", .controlType = "iBoolean", .dataType = "integer", .bind = fw::Bind::Int,
          .offset = field};
}

#define JUXS_TS_CONTROLS(c, ch, id)                                                                              \
  param(id, #ch " Shift", offsetof(Instance, channel[c].shiftParam), kFirstChannelPort + 3 * c),                 \
      toggle(id + 1, offsetof(Instance, channel[c].lowClamp)),                                                   \
      param(id + 2, #ch " Low", offsetof(Instance, channel[c].lowParam), kFirstChannelPort + 3 * c + 1,          \
            &kRules[2 * c]),                                                                                     \
      toggle(id + 3, offsetof(Instance, channel[c].highClamp)),                                                  \
      param(id + 4, #ch " High", offsetof(Instance, channel[c].highParam), kFirstChannelPort + 3 * c + 2,        \
            &kRules[2 * c + 1])
constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = "Mode", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, mode), .input = kModePort, .items = kModeItems},
    {.id = 0x8002, .label = "Samples", .controlType = "integer", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, samples), .input = kSamplesPort, .min = 1, .hardMin = true},
    JUXS_TS_CONTROLS(0, R, 0x8003),
    JUXS_TS_CONTROLS(1, G, 0x8008),
    JUXS_TS_CONTROLS(2, B, 0x800d),
};
#undef JUXS_TS_CONTROLS

constexpr fw::PanelKind kPanel{.controls = kControls};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::take_samples_node
