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
  fw::Param<double> shift;
  int32_t lowClamp;
  fw::Param<double> low;
  int32_t highClamp;
  fw::Param<double> high;
};

struct Instance {
  fw::Int mode, samples;
  Channel channel[3]; // red, green, blue
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID color;
  NodeOutputID out;
};

fw::Services gServices;

constexpr const char *kModeItems[] = {"Average",   "Minimum",   "Maximum",     "Darkest",
                                      "Brightest", "Additive",  "Subtractive", "Multiply", nullptr};
static_assert(std::size(kModeItems) == kModeCount + 1);

// Each bound counts only while its clamp is on.
constexpr const char *kBounds[6][1] = {{"R Low"}, {"R High"}, {"G Low"}, {"G High"}, {"B Low"}, {"B High"}};
constexpr fw::EnableRule kRules[6] = {
    {.controller = "R Low Clamp", .dependants = kBounds[0]}, {.controller = "R High Clamp", .dependants = kBounds[1]},
    {.controller = "G Low Clamp", .dependants = kBounds[2]}, {.controller = "G High Clamp", .dependants = kBounds[3]},
    {.controller = "B Low Clamp", .dependants = kBounds[4]}, {.controller = "B High Clamp", .dependants = kBounds[5]},
};

#define JUXS_TS_CHANNEL(c, ch)                                                                                     \
  fw::param(#ch " Shift", LWVP_FLOAT, JUXS_FIELD(channel[c].shift), 0.0).input(CONN_SCALAR).control("float-env"),   \
      fw::integer(#ch " Low Clamp", JUXS_FIELD(channel[c].lowClamp), 0).control("iBoolean").label("Clamp"),         \
      fw::param(#ch " Low", LWVP_FLOAT, JUXS_FIELD(channel[c].low), 0.0)                                            \
          .input(CONN_SCALAR).control("float-env").enable(&kRules[2 * c]),                                          \
      fw::integer(#ch " High Clamp", JUXS_FIELD(channel[c].highClamp), 0).control("iBoolean").label("Clamp"),       \
      fw::param(#ch " High", LWVP_FLOAT, JUXS_FIELD(channel[c].high), 1.0)                                          \
          .input(CONN_SCALAR).control("float-env").enable(&kRules[2 * c + 1])
// The inputs in the order the user meets them: what is sampled right after how.
// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Mode", JUXS_FIELD(mode), kAverage).input(CONN_INTEGER).control("iPopChoice").items(kModeItems),
    fw::integer("Samples", JUXS_FIELD(samples), 12).input(CONN_INTEGER).control("integer").hardMin(1),
    fw::input("Color", CONN_COLOR, JUXS_FIELD(color)),
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
  const fw::Inputs in(gServices, na);

  const int32_t mode = std::clamp(in(x.mode), int32_t{kAverage}, int32_t{kModeCount - 1});
  const int32_t samples = std::max(in(x.samples), int32_t{1}); // never a count of 0 to divide by
  double shift[3], low[3], high[3];
  for (std::size_t c = 0; c < 3; ++c) {
    shift[c] = in(x.channel[c].shift);
    low[c] = in(x.channel[c].low);
    high[c] = in(x.channel[c].high);
  }

  auto take = [&](double s[3]) {
    const fw::Triple sample = in(x.color, fw::Triple{0.0, 0.0, 0.0});
    std::copy(sample.begin(), sample.end(), s);
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
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::take_samples_node
