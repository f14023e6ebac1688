// RayShade: a probe. One ray from Position along Direction through the host's
// ray shade; the colour of what it hits and the distance the host reports.
#include <cstddef>
#include <cstring>

#include "framework/description.h"
#include "nodes/node_list.h"

namespace juxs::ray_shade_node {
namespace {

struct Instance {
  fw::Param<fw::Triple> position, direction;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID colorOut;
  NodeOutputID lengthOut;
};

fw::Services gServices;

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::param("Position", LWVP_FLOAT3, JUXS_FIELD(position), 0.0, 0.0, 0.0).input(CONN_VECTOR).control("distance3-env"),
    fw::param("Direction", LWVP_FLOAT3, JUXS_FIELD(direction), 0.0, 0.0, 0.0).input(CONN_VECTOR).control("float3-env"),
};
// clang-format on
constexpr fw::Port kOutputs[] = {fw::output("Color", CONN_COLOR, JUXS_FIELD(colorOut)),
                                 fw::output("Length", CONN_SCALAR, JUXS_FIELD(lengthOut))};

// render threads, concurrently: one ray per call, whichever output is asked
// for; nothing is kept between the calls for the two outputs.
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto &x = *static_cast<const Instance *>(inst);
  const fw::Inputs in(gServices, na);
  const fw::Triple origin = in(x.position), direction = in(x.direction);
  // A fresh record: a miss the host leaves untouched reads as black.
  LWShaderAccess record;
  std::memset(&record, 0, sizeof record);
  double length = na->rayShade(origin.data(), direction.data(), &record);
  if (output == x.colorOut)
    gServices.output->setValue(value, record.color);
  else
    gServices.output->setValue(value, &length);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "RayShade",
    .previewOff = true,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::ray_shade_node
