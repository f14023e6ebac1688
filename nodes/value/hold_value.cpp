// Hold Value: passes its input through per render thread, but keeps the value
// it took before while the mode's condition on A (or on A and B) holds.
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "framework/activation.h"
#include "framework/thread_slots.h"
#include "nodes/servers.h"

namespace juxs::hold_value_node {
namespace {

enum Mode : int32_t {
  kAChanges, kAStays,
  kAEqualB, kANotEqualB, kAGreaterB, kALessB, kAGreaterEqualB, kALessEqualB,
  kModeCount
};

struct Instance {
  fw::ThreadSlots threads; // value: the thread's held value
  int32_t mode;
  double input;
  LWVParmID inputParam;
  double a;
  LWVParmID aParam;
  double b;
  LWVParmID bParam;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID modeIn, in, aIn, bIn;
  NodeOutputID out;
};

fw::Services gServices;

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
  const LWNodeInputFuncs *in = gServices.input;
  int32_t mode = h->mode;
  in->evaluate(h->modeIn, na, &mode);
  mode = std::clamp<int32_t>(mode, 0, kModeCount - 1);
  double input = h->input, a = h->a, b = h->b;
  in->evaluate(h->in, na, &input);
  in->evaluate(h->aIn, na, &a);
  in->evaluate(h->bIn, na, &b);

  double result = input; // also for a thread without a slot (thread_slots.h)
  if (const int32_t t = fw::slotOf(na->threadNum); t >= 0) {
    fw::ThreadSlots &s = h->threads;
    if (s.firstSample[t]) {
      s.firstSample[t] = 0;
      s.value[t] = input;
      s.previousA[t] = a;
    } else {
      if (takesInput(mode, a, b, s.previousA[t])) s.value[t] = input;
      if (mode == kAChanges || mode == kAStays) s.previousA[t] = a;
    }
    result = s.value[t];
  }
  gServices.output->setValue(value, &result);
}

constexpr fw::IntSetting kInts[] = {{offsetof(Instance, mode), kAChanges}};
constexpr fw::Param kParams[] = {
    {"Input", LWVP_FLOAT, offsetof(Instance, input), offsetof(Instance, inputParam), {1.0}},
    {"A", LWVP_FLOAT, offsetof(Instance, a), offsetof(Instance, aParam), {0.0}},
    {"B", LWVP_FLOAT, offsetof(Instance, b), offsetof(Instance, bParam), {0.0}},
};
constexpr fw::Port kInputs[] = {
    {"Mode", CONN_INTEGER, offsetof(Instance, modeIn)},
    {"In", CONN_SCALAR, offsetof(Instance, in)},
    {"A", CONN_SCALAR, offsetof(Instance, aIn)},
    {"B", CONN_SCALAR, offsetof(Instance, bIn)},
};
constexpr fw::Port kOutputs[] = {{"Out", CONN_SCALAR, offsetof(Instance, out)}};

constexpr fw::NodeKind kKind{
    .envGroup = "Hold Value",
    .preview = true,
    .size = sizeof(Instance),
    .svc = &gServices,
    .nodeOffset = offsetof(Instance, node),
    .groupOffset = offsetof(Instance, group),
    .panelOffset = offsetof(Instance, panel),
    .ints = kInts,
    .params = kParams,
    .inputs = kInputs,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onDefaults = &fw::startThreads<Instance>,
    .init = &fw::restartThreads<Instance>,
};

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
constexpr uint32_t kBOnly[] = {0x8004};
constexpr fw::EnableRule kBRule{.controller = 0x8001, .map = kUsesB, .message = nullptr, .dependants = kBOnly};

constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = "Mode", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, mode), .input = 0, .items = kModeItems},
    {.id = 0x8002, .label = "Input", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, inputParam), .input = 1},
    {.id = 0x8003, .label = "A", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, aParam), .input = 2},
    {.id = 0x8004, .label = "B", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, bParam), .input = 3, .enable = &kBRule},
};
constexpr fw::PanelKind kPanel{.controls = kControls};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::hold_value_node
