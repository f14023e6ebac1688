// Get Material: delivers what a chosen Store Material gathers, evaluating that
// node's inputs afresh in this node's own shading context.
#include <cstddef>

#include "framework/description.h"
#include "nodes/material/material.h"
#include "nodes/node_list.h"

namespace juxs::get_material_node {
namespace {

using material::GetMaterial;

fw::Services gServices;

using Instance = GetMaterial;
// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Slot", JUXS_FIELD(position), 0).control("iPopChoice").popup(&material::popupCount, &material::popupName),
    fw::integer("Identifier", JUXS_FIELD(identifier), 0),
};
// clang-format on
constexpr fw::Port kOutputs[] = {
    fw::output("Color", CONN_COLOR, JUXS_FIELD(outputs[material::kColor])),
    fw::output("Scalar", CONN_SCALAR, JUXS_FIELD(outputs[material::kScalar])),
    fw::output("Vector", CONN_VECTOR, JUXS_FIELD(outputs[material::kVector])),
    fw::output("Integer", CONN_INTEGER, JUXS_FIELD(outputs[material::kInteger])),
};

void onCreated(void *inst) {
  auto *g = static_cast<GetMaterial *>(inst);
  material::linkLive(g);
  material::registerGet(g);
}

void beforeDestroy(void *inst) {
  auto *g = static_cast<GetMaterial *>(inst);
  material::unregisterGet(g);
  material::unlinkLive(g);
}

void afterCopy(void *to, const void *) { material::unregisterGet(static_cast<GetMaterial *>(to)); }

// host thread, render start: the one lookup; evaluation only follows it.
// Identifier 0 is "(none)": it never resolves, even to a Store Material whose
// loaded identifier is 0 (damaged data, or a 16-bit identifier come round).
LWError init(LWInstance inst, int32_t) noexcept {
  if (auto *g = static_cast<GetMaterial *>(inst))
    g->resolved = g->identifier != 0 ? material::findByIdentifier(g->identifier) : nullptr;
  return nullptr;
}

// A Store Material's inputs may lead back to a Get Material that fetches it
// again; the host cannot see that loop, and a node in it that reads its input
// twice would double the work at every turn. So a loop is cut at its first
// turn: while a Store Material is being fetched on a thread, a Get Material
// that would fetch it again on that thread sets no outputs (the host passes
// on zero of each type). A plain thread-local table, no destructor and no
// allocation: every nested fetch is a different Store Material, and at most
// kListSize of those are listed, so the table never fills.
struct Fetching {
  const material::StoreMaterial *stores[material::kListSize];
  int32_t depth;
};
thread_local constinit Fetching tFetching{};

bool fetching(const material::StoreMaterial *store) noexcept {
  for (int32_t i = 0; i < tFetching.depth; ++i)
    if (tFetching.stores[i] == store) return true;
  return false;
}

// render threads, concurrently
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto *g = static_cast<const GetMaterial *>(inst);
  const material::StoreMaterial *store = g->resolved;
  if (!store || fetching(store) || tFetching.depth >= material::kListSize) return;
  tFetching.stores[tFetching.depth++] = store;
  material::passOn(gServices, g->outputs, *store, output, na, value);
  --tFetching.depth;
}

// A new choice takes effect at the next render start.
void afterSet(void *inst, uint32_t) {
  auto *g = static_cast<GetMaterial *>(inst);
  g->identifier = material::identifierAt(g->position);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = nullptr,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onCreated = &onCreated,
    .beforeDestroy = &beforeDestroy,
    .afterCopy = &afterCopy,
    .init = &init,
    .hasNewTime = false,
    .afterSet = &afterSet,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::get_material_node
