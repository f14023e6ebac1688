// The shading contexts the module's nodes see: the members every context of
// a renderer shares, the shader record a rayShade caller receives, and the
// ray operations a context hands out, which find their caller's sample
// through SampleScope. The context of a hit is made where the hit is shaded.
#include <algorithm>
#include <iterator>

#include "hostsim/render/renderer.h"
#include "hostsim/render/vector_ops.h"

namespace hostsim {
namespace {

using render_ops::margin;
using render_ops::normalize;

} // namespace

// The members every context of this renderer shares.
void Renderer::fillContext(LWNodalAccess &na, Worker &w) const {
  na.illuminate = handed(&illuminate);
  na.illuminateSample = nullptr; // no area lights to sample
  na.rayTrace = handed(&rayTrace);
  na.rayCast = handed(&rayCast);
  na.rayShade = handed(&rayShade);
  na.rayTraceMode = handed(&rayTraceMode);
  na.threadNum = w.threadNum;
  na.randomData = reinterpret_cast<RandomFloatData>(&w);
  na.randomFloat = handed(&randomFloat);
  // Nothing here needs a render handle: no normal-aware lighting, trace
  // records or render buffers.
  na.illuminateNormal = nullptr;
  na.illuminateSampleNormal = nullptr;
  na.rayTraceData = nullptr;
  na.rayTraceShade = nullptr;
  na.render = nullptr;
  na.getVal = nullptr;
  na.setVal = nullptr;
}

LWNodalAccess Renderer::context(Worker &worker) const {
  LWNodalAccess na{};
  for (int c = 0; c < 3; ++c) {
    na.oPos[c] = na.wPos[c] = na.raySource[c] = camOrigin_[c];
    na.gNorm[c] = na.wNorm[c] = na.wNorm0[c] = -camForward_[c];
    na.rayDir[c] = camForward_[c];
  }
  for (int i = 0; i < 9; i += 4) na.oXfrm[i] = na.wXfrm[i] = 1.0;
  na.spotSize = 0;
  na.cosine = 1;
  na.incomingEta = 1.0;
  na.flags = LWRT_CAMERA;
  na.subsx = na.subsy = 0.5;
  fillContext(na, worker);
  return na;
}

// What a rayShade caller learns of the hit: its context, and the surface as
// shaded there.
void Renderer::shaderRecord(const LWNodalAccess &na, const Shading &s, LWShaderAccess &record) {
  LWShaderAccess *sa = &record;
  const double *out = s.out;
  sa->sx = na.sx;
  sa->sy = na.sy;
  for (int c = 0; c < 3; ++c) {
    sa->oPos[c] = na.oPos[c];
    sa->wPos[c] = na.wPos[c];
    sa->gNorm[c] = na.gNorm[c];
    sa->wNorm[c] = na.wNorm[c];
    sa->wNorm0[c] = na.wNorm0[c];
    sa->raySource[c] = na.raySource[c];
    sa->rayDir[c] = na.rayDir[c];
    sa->color[c] = out[c];
    // The shaded colour is all diffuse light here: no highlights, and the
    // mirror and glass parts are already in the colour.
    sa->diffuseShade[c] = out[c];
    sa->specularShade[c] = sa->refractShade[c] = sa->reflectShade[c] = 0.0;
    sa->replacementColor[c] = 0.0;
  }
  std::copy(std::begin(na.oXfrm), std::end(na.oXfrm), sa->oXfrm);
  std::copy(std::begin(na.wXfrm), std::end(na.wXfrm), sa->wXfrm);
  for (int k = 0; k < 4; ++k) {
    sa->verts[k] = na.verts[k];
    sa->weights[k] = na.weights[k];
    for (int c = 0; c < 3; ++c) sa->vertsWPos[k][c] = na.vertsWPos[k][c];
  }
  sa->objID = na.objID;
  sa->polNum = na.polNum;
  sa->polygon = na.polygon;
  sa->sourceID = na.sourceID;
  sa->rayLength = na.rayLength;
  sa->spotSize = na.spotSize;
  sa->cosine = na.cosine;
  sa->bounces = na.bounces;
  sa->flags = na.flags;
  sa->threadNum = na.threadNum;
  sa->incomingEta = na.incomingEta;
  sa->subsx = na.subsx;
  sa->subsy = na.subsy;
  sa->luminous = s.ch[kChannelLuminosity][0];
  sa->diffuse = s.ch[kChannelDiffuse][0];
  sa->specular = 0;
  sa->mirror = s.mirror;
  sa->transparency = s.clear;
  sa->eta = s.ch[kChannelRefractionIndex][0];
  sa->roughness = 0;
  sa->bumpHeight = sa->bumpDropoff = 0;
  sa->translucency = sa->colorHL = sa->colorFL = sa->addTransparency = sa->difSharpness = 0;
  sa->replacementPercentage = 0;
  sa->reflectionBlur = sa->refractionBlur = 0;
  sa->illuminate = na.illuminate;
  sa->rayTrace = na.rayTrace;
  sa->rayCast = na.rayCast;
  sa->rayShade = na.rayShade;
  sa->rayTraceMode = na.rayTraceMode;
  sa->illuminateSample = na.illuminateSample;
  sa->randomData = na.randomData;
  sa->randomFloat = na.randomFloat;
  sa->illuminateNormal = na.illuminateNormal;
  sa->illuminateSampleNormal = na.illuminateSampleNormal;
  sa->rayTraceData = na.rayTraceData;
  sa->rayTraceShade = na.rayTraceShade;
  sa->render = na.render;
  sa->getVal = na.getVal;
  sa->setVal = na.setVal;
}

// ---------------------------------------------------------------- ray operations

namespace {

// The shading context's operations work on the sample being evaluated: a
// module calls them from evaluate, with a ray of its own.
constexpr const char *kContext = "the shading context";

[[gnu::noinline]] bool checkedRay(const char *function, const double *position, const double *direction) noexcept {
  Call call(kContext, function, From::Evaluate);
  return call && call.pointer(position, "the position") && call.pointer(direction, "the direction");
}

// Every ray a node sends goes through here: the Call is made apart.
inline bool evaluating(const char *function, const double *position, const double *direction) noexcept {
  return (evaluateFrame() && position && direction) || checkedRay(function, position, direction);
}

} // namespace

double Renderer::rayCast(const double position[3], const double direction[3]) noexcept {
  if (!evaluating("rayCast", position, direction)) return -1.0;
  Worker *w = SampleScope::currentWorker();
  if (!w || !position || !direction) return -1.0;
  double d[3] = {direction[0], direction[1], direction[2]};
  if (!normalize(d)) return -1.0;
  ++w->casts;
  Hit hit;
  return w->renderer->intersect(position, d, hit) ? hit.t : -1.0;
}

double Renderer::rayShade(const double position[3], const double direction[3], LWShaderAccess *sa) noexcept {
  if (!evaluating("rayShade", position, direction)) return -1.0;
  const LWNodalAccess *na = SampleScope::current();
  Worker *w = SampleScope::currentWorker();
  if (!na || !w || !position || !direction) return -1.0;
  const Renderer &r = *w->renderer;
  double d[3] = {direction[0], direction[1], direction[2]};
  // Past the recursion limit nothing is traced.
  if (!normalize(d) || na->bounces + 1 > r.scene_.recursionLimit) return -1.0;
  ++w->traces;
  Hit hit;
  if (!r.intersect(position, d, hit)) return -1.0;
  const Ray ray{na->sx, na->sy, na->bounces + 1, na->flags & ~(LWRT_CAMERA | LWRT_POLYSIDE), na->incomingEta,
                na->spotSize, na->subsx, na->subsy};
  double color[3];
  r.shadeHit(*w, ray, position, d, hit, color, sa);
  return hit.t;
}

double Renderer::rayTraceMode(const double position[3], const double direction[3], double color[3], const double eta,
                              const int32_t mode) noexcept {
  if (!evaluating("rayTraceMode", position, direction)) return -1.0;
  return traceFromSample(position, direction, color, eta, mode);
}

double Renderer::traceFromSample(const double position[3], const double direction[3], double color[3], double eta,
                                 int32_t mode) noexcept {
  const LWNodalAccess *na = SampleScope::current();
  Worker *w = SampleScope::currentWorker();
  if (!na || !w || !position || !direction) {
    // Outside a sample there is nothing to trace against but the backdrop.
    if (Host *h = Host::active(); h && color && direction) h->scene().backdropColor(direction, color);
    return -1.0;
  }
  const Renderer &r = *w->renderer;
  double d[3] = {direction[0], direction[1], direction[2]};
  const bool valid = normalize(d);
  // Past the recursion limit nothing is traced: the ray sees the backdrop.
  if (!valid || na->bounces + 1 > r.scene_.recursionLimit) {
    if (color) r.backdrop(*w, valid ? d : direction, color);
    return -1.0;
  }
  // A sampled ray marks everything it reaches, and everything reached from there.
  const int32_t flags = (na->flags & LWRT_SAMPLEDRAY) | ((mode & RTFLAG_SAMPLEDRAY) ? LWRT_SAMPLEDRAY : 0);
  const Ray ray{na->sx, na->sy, na->bounces + 1, flags, eta > 0 ? eta : na->incomingEta, na->spotSize, na->subsx,
                na->subsy};
  ++w->traces;
  return r.trace(*w, ray, position, d, color, nullptr);
}

double Renderer::rayTrace(const double position[3], const double direction[3], double color[3]) noexcept {
  if (!evaluating("rayTrace", position, direction)) return -1.0;
  const LWNodalAccess *na = SampleScope::current();
  return traceFromSample(position, direction, color, na ? na->incomingEta : 1.0, RTMODE_REFLECTION);
}

// The scene's one light, whatever the id: its direction and colour where it
// reaches the position, 0 where something shadows it.
int32_t Renderer::illuminate(LWItemID, const double position[3], double direction[3], double color[3]) noexcept {
  Call call(kContext, "illuminate", From::Evaluate);
  if (!call || !call.pointer(position, "the position")) return 0;
  Worker *w = SampleScope::currentWorker();
  if (!w || !position) return 0;
  const Renderer &r = *w->renderer;
  if (direction)
    for (int c = 0; c < 3; ++c) direction[c] = r.toLight_[c];
  bool lit = true;
  if (r.scene_.light.shadows) {
    ++w->casts;
    double from[3];
    for (int c = 0; c < 3; ++c) from[c] = position[c] + r.toLight_[c] * margin(position);
    lit = !r.occluded(from, r.toLight_);
  }
  if (color)
    for (int c = 0; c < 3; ++c) color[c] = lit ? r.lightColor_[c] : 0.0;
  return lit ? 1 : 0;
}

// A uniform number in [0, 1) from the thread's own xorshift generator.
float Renderer::randomFloat(RandomFloatData data) noexcept {
  Call call(kContext, "randomFloat", From::Evaluate);
  if (!call || !call.known(data && data == call.frame()->context->randomData, "its data",
                           "not the random data of the shading context now evaluating"))
    return 0.0f;
  auto *w = reinterpret_cast<Worker *>(data);
  if (!w) return 0.0f;
  uint64_t x = w->random;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  w->random = x;
  return static_cast<float>((x >> 40) * (1.0 / 16777216.0));
}

} // namespace hostsim
