// Exponential Decay (Color) and Exponential Decay (Scalar): a value scaled
// exponentially with Distance in units of Nominal Distance. The twins share
// everything but the value's width and their tables.
#include <cmath>
#include <cstddef>

#include "framework/activation.h"
#include "nodes/servers.h"

namespace juxs {
namespace {

// N = 3: the Color twin; N = 1: the Scalar twin.
template <int N>
struct Instance {
  double distance;
  LWVParmID distanceParam;
  double nominal;
  LWVParmID nominalParam;
  double value[N];
  LWVParmID valueParam;
  int32_t clamp;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID distanceIn, nominalIn, valueIn;
  NodeOutputID out;
};

// Stands in for a nominal distance of 0 and for a power that vanished, so
// that nothing divides by zero; an unclamped result stays at most 1e12.
constexpr double kTiny = 1e-12;

fw::Services gColorServices, gScalarServices;

// render threads, concurrently: reads only
template <int N, fw::Services &S>
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue out) noexcept {
  const auto *x = static_cast<const Instance<N> *>(inst);
  double d = x->distance, n = x->nominal, v[N];
  for (int c = 0; c < N; ++c) v[c] = x->value[c];
  S.input->evaluate(x->distanceIn, na, &d);
  S.input->evaluate(x->nominalIn, na, &n);
  S.input->evaluate(x->valueIn, na, v);

  if (n == 0.0 || std::isnan(n)) n = kTiny;
  const double e = d / n;
  double result[N];
  for (int c = 0; c < N; ++c) {
    // A colour keeps its own value at the nominal distance (c^e); a scalar
    // falls to 1 / value there (v^-e).
    double p = std::pow(N == 3 ? 1.0 / v[c] : v[c], e);
    if (p == 0.0 || std::isnan(p)) p = kTiny;
    result[c] = 1.0 / p;
    if (x->clamp) result[c] = result[c] < 0.0 ? 0.0 : result[c] > 1.0 ? 1.0 : result[c];
  }
  S.output->setValue(out, result);
}

template <int N>
struct Tables {
  using I = Instance<N>;
  static constexpr fw::IntSetting kInts[] = {{offsetof(I, clamp), 1}};
  static constexpr fw::Param kParams[] = {
      {"Distance", LWVP_DIST, offsetof(I, distance), offsetof(I, distanceParam), {1.0}},
      {"Nominal Distance", LWVP_DIST, offsetof(I, nominal), offsetof(I, nominalParam), {1.0}},
      N == 3 ? fw::Param{"Color", LWVP_COLOR, offsetof(I, value), offsetof(I, valueParam), {0.78431, 0.78431, 0.78431}}
             : fw::Param{"Scalar", LWVP_FLOAT, offsetof(I, value), offsetof(I, valueParam), {2.0}},
  };
  static constexpr ConnectionType kType = N == 3 ? CONN_COLOR : CONN_SCALAR;
  static constexpr const char *kName = N == 3 ? "Color" : "Scalar";
  static constexpr fw::Port kInputs[] = {
      {"Distance", CONN_SCALAR, offsetof(I, distanceIn)},
      {"Nominal Distance", CONN_SCALAR, offsetof(I, nominalIn)},
      {kName, kType, offsetof(I, valueIn)},
  };
  static constexpr fw::Port kOutputs[] = {{kName, kType, offsetof(I, out)}};
  static constexpr fw::Control kControls[] = {
      {.id = 0x8001, .label = "Distance", .controlType = "distance-env", .dataType = "distance-env",
       .bind = fw::Bind::Param, .offset = offsetof(I, distanceParam), .input = 0},
      {.id = 0x8002, .label = "Nominal Distance", .controlType = "distance-env", .dataType = "distance-env",
       .bind = fw::Bind::Param, .offset = offsetof(I, nominalParam), .input = 1},
      {.id = 0x8003, .label = kName, .controlType = N == 3 ? "color-env" : "float-env",
       .dataType = N == 3 ? "color-env" : "float-env", .bind = fw::Bind::Param, .offset = offsetof(I, valueParam),
       .input = 2},
      {.id = 0x8004, .label = "Clamp", .controlType = "iBoolean", .dataType = "integer", .bind = fw::Bind::Int,
       .offset = offsetof(I, clamp)},
  };
  static constexpr fw::PanelKind kPanel{.controls = kControls};
};

template <int N, fw::Services &S>
constexpr fw::NodeKind kind(const char *envGroup) {
  using T = Tables<N>;
  return {
      .envGroup = envGroup,
      .preview = true,
      .size = sizeof(Instance<N>),
      .svc = &S,
      .nodeOffset = offsetof(Instance<N>, node),
      .groupOffset = offsetof(Instance<N>, group),
      .panelOffset = offsetof(Instance<N>, panel),
      .ints = T::kInts,
      .params = T::kParams,
      .inputs = T::kInputs,
      .outputs = T::kOutputs,
      .evaluate = &evaluate<N, S>,
  };
}

constexpr fw::NodeKind kColorKind = kind<3, gColorServices>("Exponential Decay (Color)");
constexpr fw::NodeKind kScalarKind = kind<1, gScalarServices>("Exponential Decay (Scalar)");

} // namespace

namespace exp_decay_color_node {
JUXS_HANDLER_ACTIVATION(kColorKind)
JUXS_INTERFACE_ACTIVATION(kColorKind, Tables<3>::kPanel)
} // namespace exp_decay_color_node

namespace exp_decay_scalar_node {
JUXS_HANDLER_ACTIVATION(kScalarKind)
JUXS_INTERFACE_ACTIVATION(kScalarKind, Tables<1>::kPanel)
} // namespace exp_decay_scalar_node

} // namespace juxs
