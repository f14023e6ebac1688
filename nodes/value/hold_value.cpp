// Hold Value: passes its input through per render thread, but keeps the value
// it took before while the mode's condition on A (or on A and B) holds.
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "framework/description.h"
#include "framework/thread_slots.h"
#include "nodes/node_list.h"

namespace juxs::hold_value_node {
namespace {

enum Mode : int32_t {
  kAChanges, kAStays,
  kAEqualB, kANotEqualB, kAGreaterB, kALessB, kAGreaterEqualB, kALessEqualB,
  kModeCount
};

struct Instance {
  fw::ThreadSlots threads; // value: the thread's held value
  fw::Int mode;
  fw::Param<double> input, a, b;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID out;
};

fw::Services gServices;

constexpr const char *kModeItems[] = {
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
constexpr int32_t kUsesB[kModeCount] = {0, 0, 1, 1, 1, 1, 1, 1};
constexpr const char *kBOnly[] = {"B"};
constexpr fw::EnableRule kBRule{.controller = "Mode", .map = kUsesB, .dependants = kBOnly};

// clang-format off: one setting a row
constexpr fw::Setting kSettings[] = {
    fw::integer("Mode", JUXS_FIELD(mode), kAChanges).input(CONN_INTEGER).control("iPopChoice").items(kModeItems),
    fw::param("Input", LWVP_FLOAT, JUXS_FIELD(input), 1.0).input(CONN_SCALAR, "In").control("float-env"),
    fw::param("A", LWVP_FLOAT, JUXS_FIELD(a), 0.0).input(CONN_SCALAR).control("float-env"),
    fw::param("B", LWVP_FLOAT, JUXS_FIELD(b), 0.0).input(CONN_SCALAR).control("float-env").enable(&kBRule),
};
// clang-format on
constexpr fw::Port kOutputs[] = {fw::output("Out", CONN_SCALAR, JUXS_FIELD(out))};

// When the held value gives way to the input: whenever the condition the
// mode is named after does not hold.
bool takesInput(int32_t mode, double a, double b, double previousA) {
  switch (mode) {
  case kAChanges: return a == previousA;
  case kAStays: return a != previousA;
  case kAEqualB: return a != b;
  case kANotEqualB: return a == b;
  case kAGreaterB: return a <= b;
  case kALessB: return a >= b;
  case kAGreaterEqualB: return a < b;
  case kALessEqualB: return a > b;
  }
  return false; // modes are clamped before use
}

// render threads, concurrently: writes only the slot of its own thread
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID, NodeValue value) noexcept {
  auto *h = static_cast<Instance *>(inst);
  const fw::Inputs in(gServices, na);
  const int32_t mode = std::clamp<int32_t>(in(h->mode), 0, kModeCount - 1);
  const double input = in(h->input), a = in(h->a), b = in(h->b);

  double result = fw::step(h->threads, na->threadNum, input, a, mode == kAChanges || mode == kAStays,
                           [&](double held, double previousA) {
                             return takesInput(mode, a, b, previousA) ? input : held;
                           });
  gServices.output->setValue(value, &result);
}

constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = "Hold Value",
    .previewOff = true,
    .settings = kSettings,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onDefaults = &fw::startThreads<Instance>,
    .init = &fw::restartThreads<Instance>,
};

} // namespace

JUXS_NODE_ACTIVATION(kNode)

} // namespace juxs::hold_value_node
