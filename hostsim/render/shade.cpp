// The renderer's shading of a hit, in the order it happens: the context the
// network sees, the surface's channels as the network delivers them, direct
// light, the mirror and glass rays, and the shader record a rayShade caller
// reads.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "hostsim/render/renderer.h"
#include "hostsim/render/vector_ops.h"

namespace hostsim {

using render_ops::dot;
using render_ops::margin;
using render_ops::normalize;

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
  if (ray.depth >= 0 && ray.depth < kPreparedDepths) {
    shadeIn(w.contexts[ray.depth], w, ray, o, d, hit, color, sa);
    return;
  }
  // Deeper than any scene file may ask for: a context of its own, made afresh.
  PreparedContext spare;
  shadeIn(spare, w, ray, o, d, hit, color, sa);
}

void Renderer::shadeIn(PreparedContext &pc, Worker &w, const Ray &ray, const double o[3], const double d[3],
                       const Hit &hit, double color[3], LWShaderAccess *sa) const {
  const Surface &surface = *geometries_[hit.geom].surface;
  Point pt;
  hitPoint(ray, o, d, hit, pt);
  // A surface whose network holds nothing but its root has no node to read a
  // context: none is made, unless a rayShade caller asks for the record.
  LWNodalAccess *na = nullptr;
  if (surface.network->nodes().size() > 1 || sa) {
    hitContext(w, ray, o, d, hit, pt, pc);
    na = &pc.na;
  }
  Shading s;
  surfaceChannels(w, surface, d, pt, na, s);
  directLight(w, pt, s);
  secondaryRays(w, ray, d, pt, s);
  if (color)
    for (int c = 0; c < 3; ++c) color[c] = s.out[c];
  if (sa) shaderRecord(*na, s, *sa);
}

// Where a hit lies: its position, normals and spot size.
inline void Renderer::hitPoint(const Ray &ray, const double o[3], const double d[3], const Hit &hit, Point &pt) const {
  const Geometry &g = geometries_[hit.geom];
  const Object &obj = *g.object;
  const double t = hit.t;
  for (int c = 0; c < 3; ++c) pt.p[c] = o[c] + d[c] * t;
  if (obj.shape == Shape::Sphere) {
    for (int c = 0; c < 3; ++c) pt.gn[c] = pt.n[c] = (pt.p[c] - obj.centre[c]) * g.inverseRadius;
  } else {
    // The hit's barycentric coordinates on its triangle weigh its corners' normals.
    const Mesh &m = obj.mesh;
    const float *fn = &g.faceNormals[hit.prim * 3];
    for (int c = 0; c < 3; ++c) pt.gn[c] = pt.n[c] = fn[c];
    if (!m.normals.empty()) {
      const uint32_t *tri = &m.indices[hit.prim * 3];
      const double b0 = 1.0 - hit.u - hit.v;
      const float *n0 = &m.normals[tri[0] * 3], *n1 = &m.normals[tri[1] * 3], *n2 = &m.normals[tri[2] * 3];
      for (int c = 0; c < 3; ++c) pt.n[c] = b0 * n0[c] + hit.u * n1[c] + hit.v * n2[c];
      if (!normalize(pt.n))
        for (int c = 0; c < 3; ++c) pt.n[c] = pt.gn[c];
    }
  }
  pt.spot = ray.spot + t * pixelAngle_;
}

// The context of a hit: where it lies in the world and on its object, the
// normals, the ray that reached it, and the shared members. A worker's
// context keeps from hit to hit what does not change between them, so that
// a hit writes little more than its own position, normals and ray; what a
// node reads is the same as in a context made afresh for the hit.
void Renderer::hitContext(Worker &w, const Ray &ray, const double o[3], const double d[3], const Hit &hit,
                          const Point &pt, PreparedContext &pc) const {
  // The ray as it came: read before anything is written, whatever it points into.
  const double ox = o[0], oy = o[1], oz = o[2], dx = d[0], dy = d[1], dz = d[2];
  LWNodalAccess &na = pc.na;
  // Made afresh for a worker it was not made for (a copy's, or one whose
  // thread number changed), and so zero in every member nothing here fills.
  if (pc.worker != &w || na.threadNum != w.threadNum) {
    na = LWNodalAccess{};
    fillContext(na, w);
    // The world's own transform is the identity.
    for (int i = 0; i < 9; i += 4) na.wXfrm[i] = 1.0;
    pc.worker = &w;
    pc.renderer = 0;
  }
  const Geometry &g = geometries_[hit.geom];
  const Object &obj = *g.object;
  const bool sphere = obj.shape == Shape::Sphere;
  bool newTriangle = !sphere && pc.primitive != hit.prim;
  if (pc.renderer != serial_ || pc.geometry != hit.geom) {
    // World to object: the linear part of the inverse.
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) na.oXfrm[r * 3 + c] = g.inverse[static_cast<std::size_t>(r * 4 + c)];
    na.objID = reinterpret_cast<LWItemID>(const_cast<Object *>(&obj));
    // A sphere has no corners to weigh; a triangle's three are set below.
    std::fill(std::begin(na.weights), std::end(na.weights), 0.0f);
    for (auto &v : na.vertsWPos) std::fill(std::begin(v), std::end(v), 0.0f);
    pc.renderer = serial_;
    pc.geometry = hit.geom;
    newTriangle = !sphere;
  }
  const double *p = pt.p, *gn = pt.gn, *n = pt.n;
  na.sx = ray.sx;
  na.sy = ray.sy;
  na.wPos[0] = p[0], na.wPos[1] = p[1], na.wPos[2] = p[2];
  na.raySource[0] = ox, na.raySource[1] = oy, na.raySource[2] = oz;
  na.rayDir[0] = dx, na.rayDir[1] = dy, na.rayDir[2] = dz;
  for (int c = 0; c < 3; ++c) na.gNorm[c] = gn[c];
  if (!sphere) {
    // The corners only change with the triangle.
    if (newTriangle) {
      const Mesh &m = obj.mesh;
      const uint32_t *tri = &m.indices[hit.prim * 3];
      for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c) na.vertsWPos[k][c] = m.positions[tri[k] * 3 + c];
      pc.primitive = hit.prim;
    }
    na.weights[0] = static_cast<float>(1.0 - hit.u - hit.v);
    na.weights[1] = static_cast<float>(hit.u);
    na.weights[2] = static_cast<float>(hit.v);
  }
  for (int c = 0; c < 3; ++c) na.wNorm[c] = na.wNorm0[c] = n[c]; // nothing perturbs the normal
  const Vec3 op = transformPoint(g.inverse, {p[0], p[1], p[2]});
  for (int c = 0; c < 3; ++c) na.oPos[c] = op[c];
  na.rayLength = hit.t;
  na.spotSize = pt.spot;
  na.cosine = -(dx * n[0] + dy * n[1] + dz * n[2]);
  na.bounces = ray.depth;
  na.polNum = static_cast<int32_t>(hit.prim);
  na.incomingEta = ray.eta;
  na.flags = ray.flags | (dx * gn[0] + dy * gn[1] + dz * gn[2] > 0 ? LWRT_POLYSIDE : 0);
  na.subsx = ray.subx;
  na.subsy = ray.suby;
}

// The surface's channels: its own values, replaced by what the network
// delivers to each connected input of its root; then the shading normal and
// the mirror and glass fractions they give.
inline void Renderer::surfaceChannels(Worker &w, const Surface &surface, const double d[3], const Point &pt,
                                      LWNodalAccess *na, Shading &s) const {
  // Straight into place: a table copied over them costs more than the rest
  // of a plain surface's shading.
  auto set = [&s](int c, double x, double y, double z) {
    s.ch[c][0] = x;
    s.ch[c][1] = y;
    s.ch[c][2] = z;
  };
  set(kChannelColor, surface.color[0], surface.color[1], surface.color[2]);
  set(kChannelLuminosity, surface.luminosity, 0, 0);
  set(kChannelDiffuse, surface.diffuse, 0, 0);
  set(kChannelReflection, surface.reflection, 0, 0);
  set(kChannelTransparency, surface.transparency, 0, 0);
  set(kChannelRefractionIndex, surface.refractionIndex, 0, 0);
  set(kChannelNormal, pt.n[0], pt.n[1], pt.n[2]);
  if (na) {
    // The network's nodes, and every ray they send, find this sample.
    const SampleScope scope(*na, w);
    for (int c = 0; c < kChannelCount; ++c) {
      const NodeInput *in = surface.channels[c];
      if (!in || !in->source) continue;
      OutputValue v;
      evaluateOutput(*in->source->node, na, in->source, v);
      convertValue(v, in->type, s.ch[c]);
    }
  }
  double *n = s.n;
  for (int c = 0; c < 3; ++c) n[c] = s.ch[kChannelNormal][c];
  if (na && surface.channels[kChannelNormal]->source && !normalize(n))
    for (int c = 0; c < 3; ++c) n[c] = pt.n[c];
  // Lighting sees the side facing the ray.
  s.inside = dot(d, pt.gn) > 0;
  if (dot(d, n) > 0)
    for (int c = 0; c < 3; ++c) n[c] = -n[c];

  // A network may deliver anything: NaN counts as none.
  auto fraction = [](double x) { return x > 0 ? std::min(x, 1.0) : 0.0; };
  s.mirror = fraction(s.ch[kChannelReflection][0]);
  s.clear = fraction(s.ch[kChannelTransparency][0]);
  if (s.mirror + s.clear > 1.0) {
    const double k = 1.0 / (s.mirror + s.clear);
    s.mirror *= k;
    s.clear *= k;
  }
}

// The light's part and the ambient's, on what is neither mirror nor glass.
inline void Renderer::directLight(Worker &w, const Point &pt, Shading &s) const {
  const double *base = s.ch[kChannelColor];
  const double lum = s.ch[kChannelLuminosity][0], diffuse = s.ch[kChannelDiffuse][0];
  double ndotl = std::max(0.0, dot(s.n, toLight_));
  if (ndotl > 0 && scene_.light.shadows) {
    ++w.casts;
    // From just off the side the ray came from.
    const double off = s.inside ? -margin(pt.p) : margin(pt.p);
    double from[3];
    for (int c = 0; c < 3; ++c) from[c] = pt.p[c] + pt.gn[c] * off;
    if (occluded(from, toLight_)) ndotl = 0;
  }
  for (int c = 0; c < 3; ++c)
    s.out[c] = base[c] * (lum + diffuse * (ambient_[c] + lightColor_[c] * ndotl)) * (1.0 - s.mirror - s.clear);
}

// The mirror's reflected ray and the glass's refracted one, within the
// recursion limit.
inline void Renderer::secondaryRays(Worker &w, const Ray &ray, const double d[3], const Point &pt, Shading &s) const {
  const double *n = s.n;
  const bool deeper = ray.depth + 1 <= scene_.recursionLimit;
  if (s.mirror > 0 && deeper) {
    const double k = 2.0 * dot(d, n);
    double r[3], rc[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) r[c] = d[c] - k * n[c];
    Ray next{ray.sx, ray.sy, ray.depth + 1, ray.flags & ~LWRT_CAMERA, ray.eta, pt.spot, ray.subx, ray.suby};
    ++w.traces;
    trace(w, next, pt.p, r, rc, nullptr);
    for (int c = 0; c < 3; ++c) s.out[c] += s.mirror * rc[c];
  }
  if (s.clear > 0 && deeper) {
    // Entering takes the surface's index; leaving goes back to air.
    const double etaTo = s.inside ? 1.0 : s.ch[kChannelRefractionIndex][0];
    const double ratio = etaTo > 0 ? ray.eta / etaTo : 1.0;
    const double cosi = -dot(d, n);
    const double k = 1.0 - ratio * ratio * (1.0 - cosi * cosi);
    double t[3], tc[3] = {0, 0, 0};
    Ray next{ray.sx, ray.sy, ray.depth + 1, ray.flags & ~LWRT_CAMERA, etaTo, pt.spot, ray.subx, ray.suby};
    if (k < 0) { // total internal reflection
      for (int c = 0; c < 3; ++c) t[c] = d[c] + 2.0 * cosi * n[c];
      next.eta = ray.eta;
    } else {
      for (int c = 0; c < 3; ++c) t[c] = ratio * d[c] + (ratio * cosi - std::sqrt(k)) * n[c];
    }
    normalize(t);
    ++w.traces;
    trace(w, next, pt.p, t, tc, nullptr);
    for (int c = 0; c < 3; ++c) s.out[c] += s.clear * tc[c];
  }
}

} // namespace hostsim
