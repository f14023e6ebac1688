// Take Samples: evaluates the network on its "Color" input several times at
// one shading point, shifts and clamps each sample per channel, and combines
// them: average, minimum, maximum, darkest, brightest, sum, negated sum or
// product.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "framework/description.h"
#include "nodes/node_list.h"

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

// The inputs in the record's order; they are created in another (kSettings).
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

constexpr const char *kModeItems[] = {"Average",   "Minimum",   "Maximum",     "Darkest",
                                      "Brightest", "Additive",  "Subtractive", "Multiply", nullptr};
static_assert(std::size(kModeItems) == kModeCount + 1);

// Each bound counts only while its clamp is on.
constexpr const char *kBounds[6][1] = {{"R Low"}, {"R High"}, {"G Low"}, {"G High"}, {"B Low"}, {"B High"}};
constexpr fw::Rule kRules[6] = {
    {.controller = "R Low Clamp", .dependants = kBounds[0]}, {.controller = "R High Clamp", .dependants = kBounds[1]},
    {.controller = "G Low Clamp", .dependants = kBounds[2]}, {.controller = "G High Clamp", .dependants = kBounds[3]},
    {.controller = "B Low Clamp", .dependants = kBounds[4]}, {.controller = "B High Clamp", .dependants = kBounds[5]},
};

#define JUXS_TS_CHANNEL(c, ch)                                                                                     \
  fw::param(#ch " Shift", LWVP_FLOAT, JUXS_FIELD(channel[c].shift), JUXS_FIELD(channel[c].shiftParam), 0.0)         \
      .input(CONN_SCALAR, JUXS_FIELD(inputs[k##ch##ShiftIn])).control("float-env"),                                 \
      fw::integer(#ch " Low Clamp", JUXS_FIELD(channel[c].lowClamp), 0).control("iBoolean").label("Clamp"),         \
      fw::param(#ch " Low", LWVP_FLOAT, JUXS_FIELD(channel[c].low), JUXS_FIELD(channel[c].lowParam), 0.0)           \
          .input(CONN_SCALAR, JUXS_FIELD(inputs[k##ch##LowIn])).control("float-env").enable(&kRules[2 * c]),        \
      fw::integer(#ch " High Clamp", JUXS_FIELD(channel[c].highClamp), 0).control("iBoolean").label("Clamp"),       \
      fw::param(#ch " High", LWVP_FLOAT, JUXS_FIELD(channel[c].high), JUXS_FIELD(channel[c].highParam), 1.0)        \
          .input(CONN_SCALAR, JUXS_FIELD(inputs[k##ch##HighIn])).control("float-env").enable(&kRules[2 * c + 1])
// The inputs in the order the user meets them: what is sampled right after how.
// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Mode", JUXS_FIELD(mode), kAverage)
        .input(CONN_INTEGER, JUXS_FIELD(inputs[kModeIn])).control("iPopChoice").items(kModeItems),
    fw::integer("Samples", JUXS_FIELD(samples), 12)
        .input(CONN_INTEGER, JUXS_FIELD(inputs[kSamplesIn])).control("integer").hardMin(1),
    fw::input("Color", CONN_COLOR, JUXS_FIELD(inputs[kColorIn])),
    JUXS_TS_CHANNEL(0, R),
    JUXS_TS_CHANNEL(1, G),
    JUXS_TS_CHANNEL(2, B),
};
// clang-format on
#undef JUXS_TS_CHANNEL
constexpr fw::Port kOutputs[] = {fw::output("Color", CONN_COLOR, JUXS_FIELD(out))};

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

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Take Samples",
    .preview = false,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::take_samples_node
