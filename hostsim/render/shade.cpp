// The renderer's shading of a hit, in the order it happens: the context the
// network sees, the surface's channels as the network delivers them, direct
// light, the mirror and glass rays, and the shader record a rayShade caller
// reads.
#include <algorithm>
#include <cmath>

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
  const Geometry &g = geometries_[hit.geom];
  LWNodalAccess na{};
  hitContext(w, ray, o, d, hit, na);
  // The network's nodes, and every ray they send, find this sample.
  const SampleScope scope(na, w);

  Shading s;
  surfaceChannels(*g.surface, d, na, s);
  directLight(w, na, s);
  secondaryRays(w, ray, d, na, s);
  if (color)
    for (int c = 0; c < 3; ++c) color[c] = s.out[c];
  if (sa) shaderRecord(na, s, *sa);
}

// The surface's channels: its own values, replaced by what the network
// delivers to each connected input of its root; then the shading normal and
// the mirror and glass fractions they give.
void Renderer::surfaceChannels(const Surface &surface, const double d[3], LWNodalAccess &na, Shading &s) const {
  const double init[kChannelCount][3] = {{surface.color[0], surface.color[1], surface.color[2]},
                                         {surface.luminosity},
                                         {surface.diffuse},
                                         {surface.reflection},
                                         {surface.transparency},
                                         {surface.refractionIndex},
                                         {na.wNorm[0], na.wNorm[1], na.wNorm[2]}};
  std::copy(&init[0][0], &init[0][0] + kChannelCount * 3, &s.ch[0][0]);
  for (int c = 0; c < kChannelCount; ++c) {
    const NodeInput *in = surface.channels[c];
    if (!in || !in->source) continue;
    OutputValue v;
    evaluateOutput(*in->source->node, &na, in->source, v);
    convertValue(v, in->type, s.ch[c]);
  }
  double *n = s.n;
  for (int c = 0; c < 3; ++c) n[c] = s.ch[kChannelNormal][c];
  if (surface.channels[kChannelNormal]->source && !normalize(n))
    for (int c = 0; c < 3; ++c) n[c] = na.wNorm[c];
  // Lighting sees the side facing the ray.
  s.inside = dot(d, na.gNorm) > 0;
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
void Renderer::directLight(Worker &w, const LWNodalAccess &na, Shading &s) const {
  const double *base = s.ch[kChannelColor];
  const double lum = s.ch[kChannelLuminosity][0], diffuse = s.ch[kChannelDiffuse][0];
  double ndotl = std::max(0.0, dot(s.n, toLight_));
  if (ndotl > 0 && scene_.light.shadows) {
    ++w.casts;
    // From just off the side the ray came from.
    const double off = s.inside ? -margin(na.wPos) : margin(na.wPos);
    double from[3];
    for (int c = 0; c < 3; ++c) from[c] = na.wPos[c] + na.gNorm[c] * off;
    if (occluded(from, toLight_)) ndotl = 0;
  }
  for (int c = 0; c < 3; ++c)
    s.out[c] = base[c] * (lum + diffuse * (ambient_[c] + lightColor_[c] * ndotl)) * (1.0 - s.mirror - s.clear);
}

// The mirror's reflected ray and the glass's refracted one, within the
// recursion limit.
void Renderer::secondaryRays(Worker &w, const Ray &ray, const double d[3], const LWNodalAccess &na,
                             Shading &s) const {
  const double *n = s.n;
  const bool deeper = ray.depth + 1 <= scene_.recursionLimit;
  if (s.mirror > 0 && deeper) {
    const double k = 2.0 * dot(d, n);
    double r[3], rc[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) r[c] = d[c] - k * n[c];
    Ray next{ray.sx, ray.sy, ray.depth + 1, ray.flags & ~LWRT_CAMERA, ray.eta, na.spotSize, ray.subx, ray.suby};
    ++w.traces;
    trace(w, next, na.wPos, r, rc, nullptr);
    for (int c = 0; c < 3; ++c) s.out[c] += s.mirror * rc[c];
  }
  if (s.clear > 0 && deeper) {
    // Entering takes the surface's index; leaving goes back to air.
    const double etaTo = s.inside ? 1.0 : s.ch[kChannelRefractionIndex][0];
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
    for (int c = 0; c < 3; ++c) s.out[c] += s.clear * tc[c];
  }
}

} // namespace hostsim
