// Random: a new number between Min and Max at every evaluation, drawn from
// the module random generator.
#include <cstddef>

#include "framework/description.h"
#include "framework/random.h"
#include "nodes/node_list.h"

namespace juxs::random_node {
namespace {

struct Instance {
  fw::Param<double> min, max;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID out;
};

fw::Services gServices;

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::param("Min", LWVP_FLOAT, JUXS_FIELD(min), 0.0).input(CONN_SCALAR).control("float-env"),
    fw::param("Max", LWVP_FLOAT, JUXS_FIELD(max), 1.0).input(CONN_SCALAR).control("float-env"),
};
// clang-format on
constexpr fw::Port kOutputs[] = {fw::output("Out", CONN_SCALAR, JUXS_FIELD(out))};

// Every Random created restarts the module's sequence for every user of it.
void onDefaults(void *, void *) { fw::rng::seed(3); }

// render threads, concurrently
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  const auto *r = static_cast<const Instance *>(inst);
  const fw::Inputs in(gServices, na);
  const double lo = in(r->min), hi = in(r->max);
  double result = fw::rng::unit(fw::rng::draw1()) * (hi - lo) + lo;
  gServices.output->setValue(value, &result);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Random",
    .previewOff = true,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onDefaults = &onDefaults,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::random_node
