// Exponential Decay (Color) and Exponential Decay (Scalar): a value scaled
// exponentially with Distance in units of Nominal Distance. The twins share
// everything but the value's width and their tables.
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "framework/description.h"
#include "nodes/node_list.h"

namespace juxs {
namespace {

// N = 3: the Color twin; N = 1: the Scalar twin.
template <int N>
using Value = std::conditional_t<N == 3, fw::Triple, double>;
template <int N>
struct Record {
  fw::Param<double> distance, nominal;
  fw::Param<Value<N>> value;
  int32_t clamp;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID out;
};

// Stands in for a nominal distance of 0 and for a power that vanished, so
// that nothing divides by zero; an unclamped result stays at most 1e12.
constexpr double kTiny = 1e-12;

fw::Services gColorServices, gScalarServices;

// render threads, concurrently: reads only
template <int N, fw::Services &S>
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue out) noexcept {
  const auto *x = static_cast<const Record<N> *>(inst);
  const fw::Inputs in(S, na);
  const double d = in(x->distance);
  double n = in(x->nominal);
  const Value<N> value = in(x->value);
  const double *v;
  if constexpr (N == 3)
    v = value.data();
  else
    v = &value;

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

template <int N, fw::Services &S>
struct Twin {
  using Instance = Record<N>;
  static constexpr fw::Setting value() {
    if constexpr (N == 3)
      return fw::param("Color", LWVP_COLOR, JUXS_FIELD(value), 0.78431, 0.78431, 0.78431)
          .input(CONN_COLOR)
          .control("color-env");
    else
      return fw::param("Scalar", LWVP_FLOAT, JUXS_FIELD(value), 2.0).input(CONN_SCALAR).control("float-env");
  }
  // clang-format off: one setting a row
  static constexpr fw::Setting kSettings[] = {
      fw::param("Distance", LWVP_DIST, JUXS_FIELD(distance), 1.0).input(CONN_SCALAR).control("distance-env"),
      fw::param("Nominal Distance", LWVP_DIST, JUXS_FIELD(nominal), 1.0).input(CONN_SCALAR).control("distance-env"),
      value(),
      fw::integer("Clamp", JUXS_FIELD(clamp), 1).control("iBoolean"),
  };
  // clang-format on
  static constexpr fw::Port kOutputs[] = {
      fw::output(N == 3 ? "Color" : "Scalar", N == 3 ? CONN_COLOR : CONN_SCALAR, JUXS_FIELD(out))};
  static constexpr fw::Description kNode{
      .record = fw::recordOf<Instance>(),
      .svc = &S,
      .envGroup = N == 3 ? "Exponential Decay (Color)" : "Exponential Decay (Scalar)",
      .previewOff = true,
      .settings = kSettings,
      .outputs = kOutputs,
      .evaluate = &evaluate<N, S>,
  };
};

} // namespace

namespace exp_decay_color_node {
JUXS_NODE_ACTIVATION((Twin<3, gColorServices>::kNode))
} // namespace exp_decay_color_node

namespace exp_decay_scalar_node {
JUXS_NODE_ACTIVATION((Twin<1, gScalarServices>::kNode))
} // namespace exp_decay_scalar_node

} // namespace juxs
