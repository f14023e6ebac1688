// RayShade: a probe. One ray from Position along Direction through the host's
// ray shade; the colour of what it hits and the distance the host reports.
#include <cstddef>
#include <cstring>

#include "framework/activation.h"
#include "nodes/servers.h"

namespace juxs::ray_shade_node {
namespace {

struct Instance {
  double position[3];
  LWVParmID positionParam;
  double direction[3];
  LWVParmID directionParam;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID positionIn;
  NodeInputID directionIn;
  NodeOutputID colorOut;
  NodeOutputID lengthOut;
};

fw::Services gServices;

// render threads, concurrently: one ray per call, whichever output is asked
// for; nothing is kept between the calls for the two outputs.
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto &x = *static_cast<const Instance *>(inst);
  double origin[3] = {x.position[0], x.position[1], x.position[2]};
  double direction[3] = {x.direction[0], x.direction[1], x.direction[2]};
  gServices.input->evaluate(x.positionIn, na, origin);
  gServices.input->evaluate(x.directionIn, na, direction);
  // A fresh record: a miss the host leaves untouched reads as black.
  LWShaderAccess record;
  std::memset(&record, 0, sizeof record);
  double length = na->rayShade(origin, direction, &record);
  if (output == x.colorOut)
    gServices.output->setValue(value, record.color);
  else
    gServices.output->setValue(value, &length);
}

constexpr fw::Param kParams[] = {
    {"Position", LWVP_FLOAT3, offsetof(Instance, position), offsetof(Instance, positionParam), {0.0, 0.0, 0.0}},
    {"Direction", LWVP_FLOAT3, offsetof(Instance, direction), offsetof(Instance, directionParam), {0.0, 0.0, 0.0}},
};
constexpr fw::Port kInputs[] = {{"Position", CONN_VECTOR, offsetof(Instance, positionIn)},
                                {"Direction", CONN_VECTOR, offsetof(Instance, directionIn)}};
constexpr fw::Port kOutputs[] = {{"Color", CONN_COLOR, offsetof(Instance, colorOut)},
                                 {"Length", CONN_SCALAR, offsetof(Instance, lengthOut)}};

constexpr fw::NodeKind kKind{
    .envGroup = "RayShade",
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
    {.id = 0x8001, .label = "Position", .controlType = "distance3-env", .dataType = "distance3-env",
     .bind = fw::Bind::Param, .offset = offsetof(Instance, positionParam), .input = 0},
    {.id = 0x8002, .label = "Direction", .controlType = "float3-env", .dataType = "float3-env",
     .bind = fw::Bind::Param, .offset = offsetof(Instance, directionParam), .input = 1},
};
constexpr fw::PanelKind kPanel{.controls = kControls};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::ray_shade_node
