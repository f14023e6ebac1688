// Sqrt: the square root of the absolute value of its input.
#include <cmath>
#include <cstddef>

#include "framework/description.h"
#include "nodes/node_list.h"

namespace juxs::sqrt_node {
namespace {

struct Instance {
  fw::Param<double> input;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID out;
};

fw::Services gServices;

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::param("Input", LWVP_FLOAT, JUXS_FIELD(input), 1.0).input(CONN_SCALAR, "In").control("float-env"),
};
// clang-format on
constexpr fw::Port kOutputs[] = {fw::output("Out", CONN_SCALAR, JUXS_FIELD(out))};

// render threads, concurrently
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto *s = static_cast<const Instance *>(inst);
  double result = std::sqrt(std::fabs(fw::Inputs(gServices, na)(s->input)));
  gServices.output->setValue(value, &result);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Sqrt",
    .previewOff = true,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::sqrt_node
