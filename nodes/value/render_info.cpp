// Render Info: pixel position, frame range, ray recursion limit and frame
// counts as integer outputs. No settings, no panel.
#include "nodes/node_list.h"

#include <cstddef>

#include "framework/description.h"

namespace juxs::render_info_node {
namespace {

enum Output { kRenderX, kRenderY, kStartFrame, kEndFrame, kCurrentFrame, kRenderedFrames, kRayRecursionLimit, kOutputCount };

struct Instance {
  int32_t firstFramePending; // 1 until the first newTime after create or init
  GlobalFunc global;
  int32_t currentFrame;
  int32_t frameChanges;
  NodeID node;
  NodeOutputID outputs[kOutputCount];
};

fw::Services gServices;
// Shared by every Render Info instance: the host's scene record, fetched at
// each render start.
const LWSceneInfo *gScene = nullptr;

void onDefaults(void *inst, void *priv) {
  auto *ri = static_cast<Instance *>(inst);
  ri->firstFramePending = 1;
  ri->global = reinterpret_cast<GlobalFunc>(priv);
}

// host thread, render start
LWError init(LWInstance inst, int32_t) noexcept {
  auto *ri = static_cast<Instance *>(inst);
  if (!ri) return nullptr;
  ri->firstFramePending = 1;
  gScene = ri->global ? static_cast<const LWSceneInfo *>(ri->global(LWSCENEINFO_GLOBAL, 0)) : nullptr;
  return nullptr;
}

// host thread, per frame
LWError newTime(LWInstance inst, LWFrame frame, LWTime) noexcept {
  auto *ri = static_cast<Instance *>(inst);
  if (!ri) return nullptr;
  if (ri->firstFramePending == 1) {
    ri->currentFrame = frame;
    ri->firstFramePending = 0;
    ri->frameChanges = 0;
  }
  if (frame != ri->currentFrame) {
    ++ri->frameChanges;
    ri->currentFrame = frame;
  }
  return nullptr;
}

// render threads, concurrently: reads only
void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value) noexcept {
  const auto *ri = static_cast<const Instance *>(inst);
  int32_t result;
  if (output == ri->outputs[kRenderX])
    result = na->sx;
  else if (output == ri->outputs[kRenderY])
    result = na->sy;
  else if (output == ri->outputs[kCurrentFrame])
    result = ri->currentFrame;
  else if (output == ri->outputs[kRenderedFrames])
    result = ri->frameChanges;
  else if (!gScene)
    result = 0;
  else if (output == ri->outputs[kStartFrame])
    result = gScene->frameStart;
  else if (output == ri->outputs[kEndFrame])
    result = gScene->frameEnd;
  else if (output == ri->outputs[kRayRecursionLimit])
    result = gScene->recursionDepth;
  else
    return;
  gServices.output->setValue(value, &result);
}

constexpr fw::Port kOutputs[] = {
    fw::output("Render X", CONN_INTEGER, JUXS_FIELD(outputs[kRenderX])),
    fw::output("Render Y", CONN_INTEGER, JUXS_FIELD(outputs[kRenderY])),
    fw::output("Start Frame", CONN_INTEGER, JUXS_FIELD(outputs[kStartFrame])),
    fw::output("End Frame", CONN_INTEGER, JUXS_FIELD(outputs[kEndFrame])),
    fw::output("Current Frame", CONN_INTEGER, JUXS_FIELD(outputs[kCurrentFrame])),
    fw::output("Rendered Frames", CONN_INTEGER, JUXS_FIELD(outputs[kRenderedFrames])),
    fw::output("Ray Recursion Limit", CONN_INTEGER, JUXS_FIELD(outputs[kRayRecursionLimit])),
};

// No settings and no panel.
constexpr fw::Description kNode{
    .record = fw::recordOf<Instance>(),
    .svc = &gServices,
    .envGroup = nullptr,
    .previewOff = true,
    .usesParams = false,
    .outputs = kOutputs,
    .evaluate = &evaluate,
    .onDefaults = &onDefaults,
    .init = &init,
    .newTime = &newTime,
};

} // namespace

JUXS_NODE_ACTIVATION_NO_PANEL(kNode)

} // namespace juxs::render_info_node
