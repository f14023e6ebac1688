// Counter: counts its own evaluations per render thread, adding Increase
// Value each time and falling back to Start Value when the mode's condition
// holds.
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "framework/description.h"
#include "framework/thread_slots.h"
#include "nodes/node_list.h"

namespace juxs::counter_node {
namespace {

enum Mode : int32_t {
  kCountEqualA, kCountGreaterA, kCountLessA, kCountGreaterEqualA, kCountLessEqualA,
  kAChanges, kAStays,
  kAEqualB, kANotEqualB, kAGreaterB, kALessB, kAGreaterEqualB, kALessEqualB,
  kModeCount
};

struct Instance {
  fw::ThreadSlots threads; // value: the thread's count
  fw::Int mode;
  fw::Param<double> start, increase, a, b;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID out;
};

fw::Services gServices;

constexpr const char *kModeItems[] = {
    "Counter Equal To A",
    "Counter Greater Than A",
    "Counter Less Than A",
    "Counter Greater Than Or Equal To A",
    "Counter Less Than Or Equal To A",
    "A Does Change",
    "A Does Not Change",
    "A Equal To B",
    "A Not Equal To B",
    "A Greater Than B",
    "A Less Than B",
    "A Greater Than Or Equal To B",
    "A Less Than Or Equal To B",
    nullptr,
};
static_assert(std::size(kModeItems) == kModeCount + 1);

// B counts only in the modes that compare A with B.
constexpr int32_t kUsesB[kModeCount] = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
constexpr const char *kBOnly[] = {"B"};
constexpr fw::EnableRule kBRule{.controller = "Mode", .map = kUsesB, .dependants = kBOnly};

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Mode", JUXS_FIELD(mode), kCountEqualA).input(CONN_INTEGER).control("iPopChoice").items(kModeItems),
    fw::param("Start Value", LWVP_FLOAT, JUXS_FIELD(start), 0.0).input(CONN_SCALAR).control("float-env"),
    fw::param("Increase Value", LWVP_FLOAT, JUXS_FIELD(increase), 1.0).input(CONN_SCALAR).control("float-env"),
    fw::param("A", LWVP_FLOAT, JUXS_FIELD(a), 0.0).input(CONN_SCALAR).control("float-env"),
    fw::param("B", LWVP_FLOAT, JUXS_FIELD(b), 0.0).input(CONN_SCALAR).control("float-env").enable(&kBRule),
};
// clang-format on
constexpr fw::Port kOutputs[] = {fw::output("Out", CONN_SCALAR, JUXS_FIELD(out))};

bool fallsBack(int32_t mode, double count, double a, double b, double previousA) {
  switch (mode) {
  case kCountEqualA: return count == a;
  case kCountGreaterA: return count > a;
  case kCountLessA: return count < a;
  case kCountGreaterEqualA: return count >= a;
  case kCountLessEqualA: return count <= a;
  case kAChanges: return a == previousA;
  case kAStays: return a != previousA;
  case kAEqualB: return a == b;
  case kANotEqualB: return a != b;
  case kAGreaterB: return a > b;
  case kALessB: return a < b;
  case kAGreaterEqualB: return a >= b;
  case kALessEqualB: return a <= b;
  }
  return false; // modes are clamped before use
}

// render threads, concurrently: writes only the slot of its own thread
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  auto *c = static_cast<Instance *>(inst);
  const fw::Inputs in(gServices, na);
  const int32_t mode = std::clamp<int32_t>(in(c->mode), 0, kModeCount - 1);
  const double start = in(c->start), increase = in(c->increase), a = in(c->a), b = in(c->b);

  double result = fw::step(c->threads, na->threadNum, start, a, mode == kAChanges || mode == kAStays,
                           [&](double count, double previousA) {
                             count += increase;
                             return fallsBack(mode, count, a, b, previousA) ? start : count;
                           });
  gServices.output->setValue(value, &result);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Counter",
    .previewOff = true,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onDefaults = &fw::startThreads<Instance>,
    .init = &fw::restartThreads<Instance>,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::counter_node
