// Sqrt: the square root of the absolute value of its input.
#include <cmath>
#include <cstddef>

#include "framework/activation.h"
#include "nodes/servers.h"

namespace juxs::sqrt_node {
namespace {

struct Instance {
  double inputValue;
  LWVParmID inputParam;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID in;
  NodeOutputID out;
};

fw::Services gServices;

// render threads, concurrently
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto *s = static_cast<const Instance *>(inst);
  double v = s->inputValue;
  gServices.input->evaluate(s->in, na, &v);
  double result = std::sqrt(std::fabs(v));
  gServices.output->setValue(value, &result);
}

constexpr fw::Param kParams[] = {
    {"Input", LWVP_FLOAT, offsetof(Instance, inputValue), offsetof(Instance, inputParam), {1.0}}};
constexpr fw::Port kInputs[] = {{"In", CONN_SCALAR, offsetof(Instance, in)}};
constexpr fw::Port kOutputs[] = {{"Out", CONN_SCALAR, offsetof(Instance, out)}};

constexpr fw::NodeKind kKind{
    .envGroup = "Sqrt",
    .preview = true,
    .size = sizeof(Instance),
    .svc = &gServices,
    .nodeOffset = offsetof(Instance, node),
    .groupOffset = offsetof(Instance, group),
    .panelOffset = offsetof(Instance, panel),
    .params = kParams,
    .inputs = kInputs,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = "Input", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, inputParam), .input = 0},
};
constexpr fw::PanelKind kPanel{.controls = kControls};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::sqrt_node
