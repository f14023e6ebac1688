#include "hostsim/render/renderer.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>

#include "hostsim/render/progress.h"

namespace hostsim {
namespace {

constexpr int kTile = 16;

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

bool normalize(double v[3]) {
  const double len2 = dot(v, v);
  if (!(len2 > 0) || !std::isfinite(len2)) return false;
  // 1/sqrt(x) as sqrt(x)/x: the root and the division run side by side
  // instead of one after the other, on a path every sample takes.
  const double inv = std::sqrt(len2) / len2;
  for (int c = 0; c < 3; ++c) v[c] *= inv;
  return true;
}

void cross(const double a[3], const double b[3], double r[3]) {
  r[0] = a[1] * b[2] - a[2] * b[1];
  r[1] = a[2] * b[0] - a[0] * b[2];
  r[2] = a[0] * b[1] - a[1] * b[0];
}

// Rays leave a surface a little beyond it, in proportion to how far from the
// origin of the world the surface lies, so that float geometry does not hit
// itself.
double margin(const double o[3]) {
  const double m = std::max({1.0, std::fabs(o[0]), std::fabs(o[1]), std::fabs(o[2])});
  return 1e-4 * m;
}

// Sub-pixel positions from a hash of pixel, sample and frame: the same picture
// whatever the thread count.
double hashUnit(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return (x >> 11) * (1.0 / 9007199254740992.0);
}

// The sample each thread is shading (see SampleScope). Plain pointers: no
// destructor runs at thread exit.
thread_local const LWNodalAccess *tSample = nullptr;
thread_local Worker *tWorker = nullptr;

void embreeError(void *, RTCError code, const char *message) {
  std::fprintf(stderr, "hostsim: Embree error %d: %s\n", static_cast<int>(code), message ? message : "");
}

} // namespace

SampleScope::SampleScope(const LWNodalAccess &na, Worker &worker) noexcept
    : outerSample_(tSample), outerWorker_(tWorker) {
  tSample = &na;
  tWorker = &worker;
}

SampleScope::~SampleScope() {
  tSample = outerSample_;
  tWorker = outerWorker_;
}

const LWNodalAccess *SampleScope::current() noexcept { return tSample; }
Worker *SampleScope::currentWorker() noexcept { return tWorker; }

Renderer::Renderer(Scene &scene, Host &host)
    : scene_(scene), host_(host), width_(scene.width), height_(scene.height) {
  // Embree builds the BVH on the calling thread rather than on TBB workers of
  // its own: scenes here build in milliseconds, rendering runs on our own
  // threads, and so every thread of a render is one the sanitizers can see.
  device_ = rtcNewDevice("threads=1");
  if (!device_) throw SceneError("cannot start Embree");
  rtcSetDeviceErrorFunction(device_, &embreeError, nullptr);
  buildScene();
  setupCamera();
  const Light &l = scene_.light;
  for (int c = 0; c < 3; ++c) {
    toLight_[c] = -l.direction[c];
    lightColor_[c] = l.color[c] * l.intensity;
    ambient_[c] = l.color[c] * l.ambient;
  }
}

Renderer::~Renderer() {
  pool_.reset(); // the threads go before what they render
  if (rtcScene_) rtcReleaseScene(rtcScene_);
  if (device_) rtcReleaseDevice(device_);
}

void Renderer::buildScene() {
  rtcScene_ = rtcNewScene(device_);
  for (const Object &o : scene_.objects) {
    RTCGeometry g;
    if (o.shape == Shape::Sphere) {
      g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_SPHERE_POINT);
      auto *v = static_cast<float *>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT4, 16, 1));
      v[0] = static_cast<float>(o.centre[0]);
      v[1] = static_cast<float>(o.centre[1]);
      v[2] = static_cast<float>(o.centre[2]);
      v[3] = static_cast<float>(o.radius);
    } else {
      g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
      auto *v = static_cast<float *>(
          rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 12, o.mesh.vertexCount()));
      std::copy(o.mesh.positions.begin(), o.mesh.positions.end(), v);
      auto *i = static_cast<unsigned *>(
          rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 12, o.mesh.indices.size() / 3));
      std::copy(o.mesh.indices.begin(), o.mesh.indices.end(), i);
    }
    rtcCommitGeometry(g);
    const unsigned id = rtcAttachGeometry(rtcScene_, g);
    rtcReleaseGeometry(g);
    if (geometries_.size() <= id) geometries_.resize(id + 1);
    Geometry &geo = geometries_[id];
    geo = {&o, &scene_.surfaces[static_cast<std::size_t>(o.surface)], o.transform.inverse(), {}, 0};
    if (o.shape == Shape::Sphere) {
      geo.inverseRadius = 1.0 / o.radius;
    } else {
      // Face normals once here rather than at every hit.
      const Mesh &m = o.mesh;
      geo.faceNormals.reserve(m.indices.size());
      for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3) {
        const float *p0 = &m.positions[m.indices[t] * 3], *p1 = &m.positions[m.indices[t + 1] * 3];
        const float *p2 = &m.positions[m.indices[t + 2] * 3];
        const double e1[3] = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
        const double e2[3] = {double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2]};
        double n[3];
        cross(e1, e2, n);
        normalize(n);
        geo.faceNormals.insert(geo.faceNormals.end(), {float(n[0]), float(n[1]), float(n[2])});
      }
    }
  }
  rtcCommitScene(rtcScene_);
}

void Renderer::setSize(int width, int height) {
  width_ = width;
  height_ = height;
  setupCamera();
}

// Left-handed, Y up: looking along +Z, +X is to the right.
void Renderer::setupCamera() {
  const Camera &c = scene_.camera;
  for (int i = 0; i < 3; ++i) {
    camOrigin_[i] = c.position[i];
    camForward_[i] = c.target[i] - c.position[i];
  }
  normalize(camForward_);
  const double up[3] = {0, 1, 0};
  cross(up, camForward_, camRight_);
  normalize(camRight_);
  cross(camForward_, camRight_, camUp_);
  tanHalf_ = std::tan(c.fov * M_PI / 360.0);
  pixelAngle_ = 2.0 * tanHalf_ / width_;
  halfHeight_ = tanHalf_ * height_ / width_;
}

void Renderer::cameraRay(int x, int y, int s, int frame, double origin[3], double direction[3], double *subx,
                         double *suby) const {
  double jx = 0.5, jy = 0.5;
  if (scene_.samples > 1) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(frame)) << 44) ^
                         (static_cast<uint64_t>(y) << 30) ^ (static_cast<uint64_t>(x) << 14) ^ static_cast<uint64_t>(s);
    jx = hashUnit(key * 2);
    jy = hashUnit(key * 2 + 1);
  }
  const double px = (x + jx) * pixelAngle_ - tanHalf_;
  const double py = halfHeight_ - (y + jy) * pixelAngle_;
  for (int c = 0; c < 3; ++c) {
    origin[c] = camOrigin_[c];
    direction[c] = camForward_[c] + camRight_[c] * px + camUp_[c] * py;
  }
  normalize(direction);
  if (subx) *subx = jx;
  if (suby) *suby = jy;
}

bool Renderer::intersect(const double o[3], const double d[3], Hit &hit) const {
  RTCIntersectContext ctx;
  rtcInitIntersectContext(&ctx);
  RTCRayHit rh;
  rh.ray.org_x = static_cast<float>(o[0]);
  rh.ray.org_y = static_cast<float>(o[1]);
  rh.ray.org_z = static_cast<float>(o[2]);
  rh.ray.dir_x = static_cast<float>(d[0]);
  rh.ray.dir_y = static_cast<float>(d[1]);
  rh.ray.dir_z = static_cast<float>(d[2]);
  rh.ray.tnear = static_cast<float>(margin(o));
  rh.ray.tfar = std::numeric_limits<float>::infinity();
  rh.ray.time = 0;
  rh.ray.mask = ~0u;
  rh.ray.id = 0;
  rh.ray.flags = 0;
  rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
  rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
  rtcIntersect1(rtcScene_, &ctx, &rh);
  if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
  hit = {rh.ray.tfar, rh.hit.geomID, rh.hit.primID, rh.hit.u, rh.hit.v};
  return true;
}

bool Renderer::occluded(const double o[3], const double d[3]) const {
  RTCIntersectContext ctx;
  rtcInitIntersectContext(&ctx);
  RTCRay r;
  r.org_x = static_cast<float>(o[0]);
  r.org_y = static_cast<float>(o[1]);
  r.org_z = static_cast<float>(o[2]);
  r.dir_x = static_cast<float>(d[0]);
  r.dir_y = static_cast<float>(d[1]);
  r.dir_z = static_cast<float>(d[2]);
  r.tnear = static_cast<float>(margin(o));
  r.tfar = std::numeric_limits<float>::infinity();
  r.time = 0;
  r.mask = ~0u;
  r.id = 0;
  r.flags = 0;
  rtcOccluded1(rtcScene_, &ctx, &r);
  return r.tfar < 0; // Embree marks an occluded ray with tfar = -inf
}

void Renderer::backdrop(const Worker &w, const double d[3], double color[3]) const {
  host_.scene().backdropColor(w.time, d, color);
}

// The members every context of this renderer shares.
void Renderer::fillContext(LWNodalAccess &na, Worker &w) const {
  na.illuminate = &illuminate;
  na.illuminateSample = nullptr; // no area lights to sample
  na.rayTrace = &rayTrace;
  na.rayCast = &rayCast;
  na.rayShade = &rayShade;
  na.rayTraceMode = &rayTraceMode;
  na.threadNum = w.threadNum;
  na.randomData = reinterpret_cast<RandomFloatData>(&w);
  na.randomFloat = &randomFloat;
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

double Renderer::trace(Worker &w, const Ray &ray, const double o[3], const double d[3], double color[3],
                       LWShaderAccess *sa) const {
  Hit hit;
  if (!intersect(o, d, hit)) {
    if (color) backdrop(w, d, color);
    return -1.0;
  }
  shadeHit(w, ray, o, d, hit, color, sa);
  return hit.t;
}

void Renderer::shadeHit(Worker &w, const Ray &ray, const double o[3], const double d[3], const Hit &hit,
                        double color[3], LWShaderAccess *sa) const {
  const Geometry &g = geometries_[hit.geom];
  const Object &obj = *g.object;
  const Surface &surface = *g.surface;

  LWNodalAccess na{};
  na.sx = ray.sx;
  na.sy = ray.sy;
  for (int c = 0; c < 3; ++c) {
    na.wPos[c] = o[c] + d[c] * hit.t;
    na.raySource[c] = o[c];
    na.rayDir[c] = d[c];
  }
  if (obj.shape == Shape::Sphere) {
    for (int c = 0; c < 3; ++c) na.gNorm[c] = na.wNorm[c] = (na.wPos[c] - obj.centre[c]) * g.inverseRadius;
  } else {
    // The hit's barycentric coordinates on its triangle weigh its corners.
    const Mesh &m = obj.mesh;
    const uint32_t *tri = &m.indices[hit.prim * 3];
    const float *fn = &g.faceNormals[hit.prim * 3];
    const double b0 = 1.0 - hit.u - hit.v;
    const double w[3] = {b0, hit.u, hit.v};
    for (int k = 0; k < 3; ++k) {
      na.weights[k] = static_cast<float>(w[k]);
      for (int c = 0; c < 3; ++c) na.vertsWPos[k][c] = m.positions[tri[k] * 3 + c];
    }
    for (int c = 0; c < 3; ++c) na.gNorm[c] = fn[c];
    if (!m.normals.empty()) {
      const float *n0 = &m.normals[tri[0] * 3], *n1 = &m.normals[tri[1] * 3], *n2 = &m.normals[tri[2] * 3];
      for (int c = 0; c < 3; ++c) na.wNorm[c] = b0 * n0[c] + hit.u * n1[c] + hit.v * n2[c];
      if (!normalize(na.wNorm))
        for (int c = 0; c < 3; ++c) na.wNorm[c] = na.gNorm[c];
    } else {
      for (int c = 0; c < 3; ++c) na.wNorm[c] = na.gNorm[c];
    }
  }
  for (int c = 0; c < 3; ++c) na.wNorm0[c] = na.wNorm[c]; // nothing perturbs the normal
  const Vec3 op = transformPoint(g.inverse, {na.wPos[0], na.wPos[1], na.wPos[2]});
  for (int c = 0; c < 3; ++c) na.oPos[c] = op[c];
  // World to object: the linear part of the inverse; the world's own is the identity.
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      na.oXfrm[r * 3 + c] = g.inverse[static_cast<std::size_t>(r * 4 + c)];
      na.wXfrm[r * 3 + c] = r == c ? 1.0 : 0.0;
    }
  na.rayLength = hit.t;
  na.spotSize = ray.spot + hit.t * pixelAngle_;
  na.cosine = -dot(d, na.wNorm);
  na.bounces = ray.depth;
  na.objID = reinterpret_cast<LWItemID>(const_cast<Object *>(&obj));
  na.polNum = static_cast<int32_t>(hit.prim);
  na.incomingEta = ray.eta;
  na.flags = ray.flags | (dot(d, na.gNorm) > 0 ? LWRT_POLYSIDE : 0);
  na.subsx = ray.subx;
  na.subsy = ray.suby;
  fillContext(na, w);
  // The network's nodes, and every ray they send, find this sample.
  const SampleScope scope(na, w);

  // The surface's channels: its own values, replaced by what the network
  // delivers to each connected input of its root.
  double ch[kChannelCount][3] = {{surface.color[0], surface.color[1], surface.color[2]},
                                 {surface.luminosity},
                                 {surface.diffuse},
                                 {surface.reflection},
                                 {surface.transparency},
                                 {surface.refractionIndex},
                                 {na.wNorm[0], na.wNorm[1], na.wNorm[2]}};
  for (int c = 0; c < kChannelCount; ++c) {
    const NodeInput *in = surface.channels[c];
    if (!in || !in->source) continue;
    OutputValue v;
    evaluateOutput(*in->source->node, &na, in->source, v);
    convertValue(v, in->type, ch[c]);
  }
  double n[3] = {ch[kChannelNormal][0], ch[kChannelNormal][1], ch[kChannelNormal][2]};
  if (surface.channels[kChannelNormal]->source && !normalize(n))
    for (int c = 0; c < 3; ++c) n[c] = na.wNorm[c];
  // Lighting sees the side facing the ray.
  const bool inside = dot(d, na.gNorm) > 0;
  if (dot(d, n) > 0)
    for (double &c : n) c = -c;

  const double *base = ch[kChannelColor];
  const double lum = ch[kChannelLuminosity][0], diffuse = ch[kChannelDiffuse][0];
  // A network may deliver anything: NaN counts as none.
  auto fraction = [](double x) { return x > 0 ? std::min(x, 1.0) : 0.0; };
  double mirror = fraction(ch[kChannelReflection][0]);
  double clear = fraction(ch[kChannelTransparency][0]);
  if (mirror + clear > 1.0) {
    const double k = 1.0 / (mirror + clear);
    mirror *= k;
    clear *= k;
  }
  double ndotl = std::max(0.0, dot(n, toLight_));
  if (ndotl > 0 && scene_.light.shadows) {
    ++w.casts;
    // From just off the side the ray came from.
    const double off = inside ? -margin(na.wPos) : margin(na.wPos);
    double from[3];
    for (int c = 0; c < 3; ++c) from[c] = na.wPos[c] + na.gNorm[c] * off;
    if (occluded(from, toLight_)) ndotl = 0;
  }
  double out[3];
  for (int c = 0; c < 3; ++c)
    out[c] = base[c] * (lum + diffuse * (ambient_[c] + lightColor_[c] * ndotl)) * (1.0 - mirror - clear);

  const bool deeper = ray.depth + 1 <= scene_.recursionLimit;
  if (mirror > 0 && deeper) {
    const double k = 2.0 * dot(d, n);
    double r[3], rc[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) r[c] = d[c] - k * n[c];
    Ray next{ray.sx, ray.sy, ray.depth + 1, ray.flags & ~LWRT_CAMERA, ray.eta, na.spotSize, ray.subx, ray.suby};
    ++w.traces;
    trace(w, next, na.wPos, r, rc, nullptr);
    for (int c = 0; c < 3; ++c) out[c] += mirror * rc[c];
  }
  if (clear > 0 && deeper) {
    // Entering takes the surface's index; leaving goes back to air.
    const double etaTo = inside ? 1.0 : ch[kChannelRefractionIndex][0];
    const double ratio = etaTo > 0 ? ray.eta / etaTo : 1.0;
    const double cosi = -dot(d, n);
    const double k = 1.0 - ratio * ratio * (1.0 - cosi * cosi);
    double t[3], tc[3] = {0, 0, 0};
    Ray next{ray.sx, ray.sy, ray.depth + 1, ray.flags & ~LWRT_CAMERA, etaTo, na.spotSize, ray.subx, ray.suby};
    if (k < 0) { // total internal reflection
      for (int c = 0; c < 3; ++c) t[c] = d[c] + 2.0 * cosi * n[c];
      next.eta = ray.eta;
    } else {
      for (int c = 0; c < 3; ++c) t[c] = ratio * d[c] + (ratio * cosi - std::sqrt(k)) * n[c];
    }
    normalize(t);
    ++w.traces;
    trace(w, next, na.wPos, t, tc, nullptr);
    for (int c = 0; c < 3; ++c) out[c] += clear * tc[c];
  }
  if (color)
    for (int c = 0; c < 3; ++c) color[c] = out[c];

  if (sa) {
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
    sa->luminous = lum;
    sa->diffuse = diffuse;
    sa->specular = 0;
    sa->mirror = mirror;
    sa->transparency = clear;
    sa->eta = ch[kChannelRefractionIndex][0];
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
}

void Renderer::sample(Worker &w, int x, int y, int s, int frame, double color[3]) const {
  double o[3], d[3];
  Ray ray{x, y, 0, LWRT_CAMERA, 1.0, 0.0};
  cameraRay(x, y, s, frame, o, d, &ray.subx, &ray.suby);
  ++w.samples;
  trace(w, ray, o, d, color, nullptr);
}

// ---------------------------------------------------------------- ray operations

double Renderer::rayCast(const double position[3], const double direction[3]) {
  Worker *w = tWorker;
  if (!w || !position || !direction) return -1.0;
  double d[3] = {direction[0], direction[1], direction[2]};
  if (!normalize(d)) return -1.0;
  ++w->casts;
  Hit hit;
  return w->renderer->intersect(position, d, hit) ? hit.t : -1.0;
}

double Renderer::rayShade(const double position[3], const double direction[3], LWShaderAccess *sa) {
  const LWNodalAccess *na = tSample;
  Worker *w = tWorker;
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
                              const int32_t mode) {
  const LWNodalAccess *na = tSample;
  Worker *w = tWorker;
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

double Renderer::rayTrace(const double position[3], const double direction[3], double color[3]) {
  const LWNodalAccess *na = tSample;
  return rayTraceMode(position, direction, color, na ? na->incomingEta : 1.0, RTMODE_REFLECTION);
}

// The scene's one light, whatever the id: its direction and colour where it
// reaches the position, 0 where something shadows it.
int32_t Renderer::illuminate(LWItemID, const double position[3], double direction[3], double color[3]) {
  Worker *w = tWorker;
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
float Renderer::randomFloat(RandomFloatData data) {
  auto *w = reinterpret_cast<Worker *>(data);
  if (!w) return 0.0f;
  uint64_t x = w->random;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  w->random = x;
  return static_cast<float>((x >> 40) * (1.0 / 16777216.0));
}

// ---------------------------------------------------------------- frames

// Render threads live as long as the renderer: a thread made afresh for every
// frame starts beside its parent and takes a while to be moved to a core of
// its own, which costs a short frame much of its second thread. Thread i
// always works as worker i, with thread number i.
struct Renderer::Pool {
  std::vector<Worker> workers;
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::condition_variable wake, finished;
  const std::function<void(Worker &)> *job = nullptr;
  uint64_t generation = 0;
  int busy = 0;
  bool stop = false;

  Pool(const Renderer *renderer, int n) : workers(static_cast<std::size_t>(n)) {
    for (int i = 0; i < n; ++i) {
      workers[static_cast<std::size_t>(i)].renderer = renderer;
      workers[static_cast<std::size_t>(i)].threadNum = i;
      workers[static_cast<std::size_t>(i)].random ^= static_cast<uint64_t>(i + 1) * 0xBF58476D1CE4E5B9ull;
    }
    for (int i = 0; i < n; ++i) threads.emplace_back([this, i] { loop(workers[static_cast<std::size_t>(i)]); });
  }
  ~Pool() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    for (auto &t : threads) t.join();
  }
  void loop(Worker &w) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void(Worker &)> *todo;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return stop || generation != seen; });
        if (stop) return;
        seen = generation;
        todo = job;
      }
      (*todo)(w);
      std::lock_guard lock(mutex);
      if (--busy == 0) finished.notify_all();
    }
  }
  // Runs fn on every thread and returns when all are done, calling tick
  // about every 50 ms meanwhile.
  void run(const std::function<void(Worker &)> &fn, const std::function<void()> &tick) {
    std::unique_lock lock(mutex);
    job = &fn;
    busy = static_cast<int>(threads.size());
    ++generation;
    wake.notify_all();
    while (!finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return busy == 0; })) {
      lock.unlock();
      tick();
      lock.lock();
    }
  }
};

RenderStats Renderer::render(const RenderOptions &options,
                             const std::function<void(int, const FrameBuffer &)> &onFrame) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  RenderStats stats;
  const int threads = std::clamp(options.threads, 1, kMaxThreads);
  host_.scene().sceneInfo().numThreads = threads;
  if (!pool_ || static_cast<int>(pool_->threads.size()) != threads) {
    pool_.reset();
    pool_ = std::make_unique<Pool>(this, threads);
  }
  for (Worker &w : pool_->workers) w.samples = w.casts = w.traces = 0;

  std::string error;
  bool ok = true;
  for (Surface &s : scene_.surfaces) ok = s.network->beginRender(0, &error) && ok;
  struct End {
    Scene &scene;
    ~End() {
      for (Surface &s : scene.surfaces) s.network->endRender();
    }
  } end{scene_};
  if (!ok) throw SceneError("a node's init failed: " + error);

  const int tilesX = (width_ + kTile - 1) / kTile, tilesY = (height_ + kTile - 1) / kTile;
  const int tiles = tilesX * tilesY;
  const int frameCount = options.lastFrame - options.firstFrame + 1;
  const bool tty = isatty(STDERR_FILENO);
  bool printed = false;
  auto lastPrint = start;
  FrameBuffer fb;
  fb.width = width_;
  fb.height = height_;

  for (int frame = options.firstFrame; frame <= options.lastFrame; ++frame) {
    const LWTime time = scene_.timeOf(frame);
    host_.scene().setTime(frame, time);
    for (Surface &s : scene_.surfaces) s.network->newTime(frame, time);
    for (Worker &w : pool_->workers) w.time = time;
    fb.rgb.assign(static_cast<std::size_t>(width_) * height_ * 3, 0.0f);
    std::atomic<int> nextTile{0}, doneTiles{0};
    const std::function<void(Worker &)> work = [&](Worker &w) {
      const double inv = 1.0 / scene_.samples;
      for (int t; (t = nextTile.fetch_add(1)) < tiles;) {
        const int x0 = (t % tilesX) * kTile, y0 = (t / tilesX) * kTile;
        for (int y = y0; y < std::min(y0 + kTile, height_); ++y)
          for (int x = x0; x < std::min(x0 + kTile, width_); ++x) {
            double sum[3] = {0, 0, 0};
            for (int s = 0; s < scene_.samples; ++s) {
              double c[3];
              sample(w, x, y, s, frame, c);
              for (int k = 0; k < 3; ++k) sum[k] += c[k];
            }
            float *p = &fb.rgb[(static_cast<std::size_t>(y) * width_ + x) * 3];
            for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(sum[k] * inv);
          }
        doneTiles.fetch_add(1, std::memory_order_relaxed);
      }
    };
    pool_->run(work, [&] {
      if (!options.progress) return;
      const auto now = Clock::now();
      const double elapsed = std::chrono::duration<double>(now - start).count();
      if (elapsed < 1.0 || now - lastPrint < std::chrono::milliseconds(tty ? 250 : 5000)) return;
      lastPrint = now;
      const ProgressState state{frame, frame - options.firstFrame + 1, frameCount,
                                (frame - options.firstFrame + double(doneTiles.load()) / tiles) / frameCount, elapsed};
      std::fputs(progressText(state, tty).c_str(), stderr);
      std::fflush(stderr);
      printed = true;
    });
    ++stats.frames;
    // What the frame's caller prints starts on a clean line.
    if (printed && tty) {
      std::fputs(kClearProgress, stderr);
      std::fflush(stderr);
      printed = false;
    }
    if (onFrame) onFrame(frame, fb);
  }
  for (const Worker &w : pool_->workers) {
    stats.samples += w.samples;
    stats.raysCast += w.casts;
    stats.raysTraced += w.traces;
  }
  stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return stats;
}

} // namespace hostsim
