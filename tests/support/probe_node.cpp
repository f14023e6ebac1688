#include "tests/support/probe_node.h"

#include <cstddef>

#include "framework/lifecycle.h"

namespace probe {
namespace {

juxs::fw::Services gServices;

void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  auto *p = static_cast<Instance *>(inst);
  if (output == p->modeOut) {
    gServices.output->setValue(value, &p->mode);
  } else if (output == p->tintOut) {
    double t[3] = {p->tint[0], p->tint[1], p->tint[2]};
    gServices.input->evaluate(p->tintIn, na, t);
    gServices.output->setValue(value, t);
  } else {
    double v = p->value;
    gServices.input->evaluate(p->valueIn, na, &v);
    gServices.output->setValue(value, &v);
  }
}

constexpr juxs::fw::Lookup kLookups[] = {juxs::fw::Lookup::ModelerTest};
constexpr juxs::fw::IntSetting kInts[] = {{offsetof(Instance, mode), 0}, {offsetof(Instance, count), 3}};
constexpr juxs::fw::ParamSetting kParams[] = {
    {"Value", LWVP_FLOAT, offsetof(Instance, value), offsetof(Instance, valueParm), {1.0, 0, 0}},
    {"Tint", LWVP_COLOR, offsetof(Instance, tint), offsetof(Instance, tintParm), {0.5, 0.25, 1.0}},
};
constexpr juxs::fw::Port kInputs[] = {{"Value", CONN_SCALAR, offsetof(Instance, valueIn)},
                                      {"Tint", CONN_COLOR, offsetof(Instance, tintIn)}};
constexpr juxs::fw::Port kOutputs[] = {{"Value", CONN_SCALAR, offsetof(Instance, valueOut)},
                                       {"Mode", CONN_INTEGER, offsetof(Instance, modeOut)},
                                       {"Tint", CONN_COLOR, offsetof(Instance, tintOut)}};

constexpr juxs::fw::NodeKind kKind{
    .envGroup = "Probe",
    .previewOff = true,
    .size = sizeof(Instance),
    .svc = &gServices,
    .lookups = kLookups,
    .nodeOffset = offsetof(Instance, node),
    .groupOffset = offsetof(Instance, group),
    .panelOffset = offsetof(Instance, panel),
    .ints = kInts,
    .params = kParams,
    .inputs = kInputs,
    .outputs = kOutputs,
    .evaluate = &evaluate,
};

constexpr ServerTagInfo kTags[] = {{"Probe", SRVTAG_USERNAME}, {"Tests", SRVTAG_NODEGROUP}, {nullptr, 0}};
constexpr ServerRecord kServers[] = {
    {LWNODE_HCLASS, "Probe", &juxs::fw::Handler<kKind>::activate, kTags},
    {nullptr, nullptr, nullptr, nullptr},
};

void *startup() { return reinterpret_cast<void *>(std::uintptr_t{4}); }
void shutdown(void *) {}

constexpr ModuleDescriptor kDescriptor = {MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, &startup, &shutdown, kServers};

} // namespace

const ModuleDescriptor *descriptor() { return &kDescriptor; }
const juxs::fw::Services &services() { return gServices; }

} // namespace probe
