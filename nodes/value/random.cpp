// Random: a new number between Min and Max at every evaluation, drawn from
// the module random generator.
#include <cstddef>

#include "framework/activation.h"
#include "framework/random.h"
#include "nodes/servers.h"

namespace juxs::random_node {
namespace {

struct Instance {
  double min;
  LWVParmID minParam;
  double max;
  LWVParmID maxParam;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID minIn;
  NodeInputID maxIn;
  NodeOutputID out;
};

fw::Services gServices;

// Every Random created restarts the module's sequence for every user of it.
void onDefaults(void *, void *) { fw::rng::seed(3); }

// render threads, concurrently
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto *r = static_cast<const Instance *>(inst);
  double lo = r->min, hi = r->max;
  gServices.input->evaluate(r->minIn, na, &lo);
  gServices.input->evaluate(r->maxIn, na, &hi);
  const double d = fw::rng::draw1();
  double result = d * (1.0 / 4294967295.0) * (hi - lo) + lo;
  gServices.output->setValue(value, &result);
}

constexpr fw::Param kParams[] = {
    {"Min", LWVP_FLOAT, offsetof(Instance, min), offsetof(Instance, minParam), {0.0}},
    {"Max", LWVP_FLOAT, offsetof(Instance, max), offsetof(Instance, maxParam), {1.0}},
};
constexpr fw::Port kInputs[] = {{"Min", CONN_SCALAR, offsetof(Instance, minIn)},
                                {"Max", CONN_SCALAR, offsetof(Instance, maxIn)}};
constexpr fw::Port kOutputs[] = {{"Out", CONN_SCALAR, offsetof(Instance, out)}};

constexpr fw::NodeKind kKind{
    .envGroup = "Random",
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
    .onDefaults = &onDefaults,
};

constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = "Min", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, minParam), .input = 0},
    {.id = 0x8002, .label = "Max", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, maxParam), .input = 1},
};
constexpr fw::PanelKind kPanel{.controls = kControls};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::random_node
