// Counter: counts its own evaluations per render thread, adding Increase
// Value each time and falling back to Start Value when the mode's condition
// holds.
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "framework/activation.h"
#include "framework/thread_slots.h"
#include "nodes/servers.h"

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
  int32_t mode;
  double start;
  LWVParmID startParam;
  double increase;
  LWVParmID increaseParam;
  double a;
  LWVParmID aParam;
  double b;
  LWVParmID bParam;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID modeIn, startIn, increaseIn, aIn, bIn;
  NodeOutputID out;
};

fw::Services gServices;

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
  const LWNodeInputFuncs *in = gServices.input;
  int32_t mode = c->mode;
  in->evaluate(c->modeIn, na, &mode);
  mode = std::clamp<int32_t>(mode, 0, kModeCount - 1);
  double start = c->start, increase = c->increase, a = c->a, b = c->b;
  in->evaluate(c->startIn, na, &start);
  in->evaluate(c->increaseIn, na, &increase);
  in->evaluate(c->aIn, na, &a);
  in->evaluate(c->bIn, na, &b);

  double result = start; // also for a thread without a slot (thread_slots.h)
  if (const int32_t t = fw::slotOf(na->threadNum); t >= 0) {
    fw::ThreadSlots &s = c->threads;
    if (s.firstSample[t]) {
      s.firstSample[t] = 0;
      s.value[t] = start;
      s.previousA[t] = a;
    } else {
      s.value[t] += increase;
      if (fallsBack(mode, s.value[t], a, b, s.previousA[t])) s.value[t] = start;
      if (mode == kAChanges || mode == kAStays) s.previousA[t] = a;
    }
    result = s.value[t];
  }
  gServices.output->setValue(value, &result);
}

constexpr fw::IntSetting kInts[] = {{offsetof(Instance, mode), kCountEqualA}};
constexpr fw::Param kParams[] = {
    {"Start Value", LWVP_FLOAT, offsetof(Instance, start), offsetof(Instance, startParam), {0.0}},
    {"Increase Value", LWVP_FLOAT, offsetof(Instance, increase), offsetof(Instance, increaseParam), {1.0}},
    {"A", LWVP_FLOAT, offsetof(Instance, a), offsetof(Instance, aParam), {0.0}},
    {"B", LWVP_FLOAT, offsetof(Instance, b), offsetof(Instance, bParam), {0.0}},
};
constexpr fw::Port kInputs[] = {
    {"Mode", CONN_INTEGER, offsetof(Instance, modeIn)},
    {"Start Value", CONN_SCALAR, offsetof(Instance, startIn)},
    {"Increase Value", CONN_SCALAR, offsetof(Instance, increaseIn)},
    {"A", CONN_SCALAR, offsetof(Instance, aIn)},
    {"B", CONN_SCALAR, offsetof(Instance, bIn)},
};
constexpr fw::Port kOutputs[] = {{"Out", CONN_SCALAR, offsetof(Instance, out)}};

constexpr fw::NodeKind kKind{
    .envGroup = "Counter",
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
constexpr uint32_t kBOnly[] = {0x8005};
constexpr fw::EnableRule kBRule{.controller = 0x8001, .map = kUsesB, .message = nullptr, .dependants = kBOnly};

constexpr fw::Control kControls[] = {
    {.id = 0x8001, .label = "Mode", .controlType = "iPopChoice", .dataType = "integer", .bind = fw::Bind::Int,
     .offset = offsetof(Instance, mode), .input = 0, .items = kModeItems},
    {.id = 0x8002, .label = "Start Value", .controlType = "float-env", .dataType = "float-env",
     .bind = fw::Bind::Param, .offset = offsetof(Instance, startParam), .input = 1},
    {.id = 0x8003, .label = "Increase Value", .controlType = "float-env", .dataType = "float-env",
     .bind = fw::Bind::Param, .offset = offsetof(Instance, increaseParam), .input = 2},
    {.id = 0x8004, .label = "A", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, aParam), .input = 3},
    {.id = 0x8005, .label = "B", .controlType = "float-env", .dataType = "float-env", .bind = fw::Bind::Param,
     .offset = offsetof(Instance, bParam), .input = 4, .enable = &kBRule},
};
constexpr fw::PanelKind kPanel{.controls = kControls};

} // namespace

JUXS_HANDLER_ACTIVATION(kKind)
JUXS_INTERFACE_ACTIVATION(kKind, kPanel)

} // namespace juxs::counter_node
