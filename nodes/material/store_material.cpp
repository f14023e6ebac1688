// Store Material: a colour, a scalar, a vector and an integer gathered under a
// name, listed in the material registry for Get Material nodes to fetch. Its
// outputs pass its inputs through.
#include <cstddef>

#include "framework/description.h"
#include "nodes/material/material.h"
#include "nodes/node_list.h"

namespace juxs::material {

void passOn(const fw::Services &svc, const NodeOutputID (&outputs)[kChannelCount], const StoreMaterial &store,
            NodeOutputID output, LWNodalAccess *na, NodeValue value) noexcept {
  const Channel c = output == outputs[kColor]    ? kColor
                    : output == outputs[kScalar] ? kScalar
                    : output == outputs[kVector] ? kVector
                                                 : kInteger;
  const fw::Inputs in(svc, na);
  if (c == kInteger) {
    int32_t v = in(store.inputs[kInteger], int32_t{0});
    svc.output->setValue(value, &v);
    return;
  }
  fw::Triple v = in(store.inputs[c], fw::Triple{0.0, 0.0, 0.0}); // a scalar is the first
  svc.output->setValue(value, v.data());
}

} // namespace juxs::material

namespace juxs::store_material_node {
namespace {

using material::StoreMaterial;

fw::Services gServices;

using Instance = StoreMaterial;
// The identifier is the instance's own: a duplicate does not share it.
// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Identifier", JUXS_FIELD(identifier), material::kUnassigned).notCopied(),
    fw::text("Name", JUXS_FIELD(name)).control("string"),
    fw::input("Color", CONN_COLOR, JUXS_FIELD(inputs[material::kColor])),
    fw::input("Scalar", CONN_SCALAR, JUXS_FIELD(inputs[material::kScalar])),
    fw::input("Vector", CONN_VECTOR, JUXS_FIELD(inputs[material::kVector])),
    fw::input("Integer", CONN_INTEGER, JUXS_FIELD(inputs[material::kInteger])),
};
// clang-format on
constexpr fw::Port kOutputs[] = {
    fw::output("Color", CONN_COLOR, JUXS_FIELD(outputs[material::kColor])),
    fw::output("Scalar", CONN_SCALAR, JUXS_FIELD(outputs[material::kScalar])),
    fw::output("Vector", CONN_VECTOR, JUXS_FIELD(outputs[material::kVector])),
    fw::output("Integer", CONN_INTEGER, JUXS_FIELD(outputs[material::kInteger])),
};

void onDefaults(void *inst, void *) {
  auto *s = static_cast<StoreMaterial *>(inst);
  fw::copyText(s->name, sizeof s->name, gServices.node->nodeName(s->node));
}

void onCreated(void *inst) { material::registerStore(static_cast<StoreMaterial *>(inst)); }

void beforeDestroy(void *inst) {
  auto *s = static_cast<StoreMaterial *>(inst);
  material::unregisterStore(s);
  material::forgetStore(s);
}

// A duplicate carries the name only; unlisted, it is no Get Material's to reach.
void afterCopy(void *to, const void *from) {
  auto *s = static_cast<StoreMaterial *>(to);
  fw::copyText(s->name, sizeof s->name, static_cast<const StoreMaterial *>(from)->name);
  material::unregisterStore(s);
  material::forgetStore(s);
}

// Once the identifier and the name are in place: registering lists the node
// under the loaded identifier.
void afterLoad(void *inst) { material::registerStore(static_cast<StoreMaterial *>(inst)); }

// render threads, concurrently
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto *s = static_cast<const StoreMaterial *>(inst);
  material::passOn(gServices, s->outputs, *s, output, na, value);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = nullptr,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onDefaults = &onDefaults,
    .onCreated = &onCreated,
    .beforeDestroy = &beforeDestroy,
    .afterCopy = &afterCopy,
    .afterLoad = &afterLoad,
    .hasNewTime = false,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::store_material_node
