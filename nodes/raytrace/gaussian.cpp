#include "nodes/raytrace/gaussian.h"

#include <cmath>

namespace juxs::gaussian {
namespace {

constexpr double kTwoToMinus32 = 1.0 / 4294967296.0;
constexpr double kSpread = 10923.0;
constexpr double kSpreadTwoToMinus32 = 2.543209120631218e-06; // 10923 x 2^-32
constexpr double kInverse32767 = 3.051850947599719e-05;       // 1 / 32767

} // namespace

void jitteredNormal(const double n[3], double blur, const uint32_t r[kDrawsPerNormal], double out[3]) noexcept {
  for (int axis = 0; axis < 3; ++axis) {
    const uint32_t *d = r + 3 * axis;
    const double u1 = (d[0] * kTwoToMinus32) * kSpread;
    const double u2 = (d[1] * kTwoToMinus32) * kSpread;
    const double u3 = d[2] * kSpreadTwoToMinus32;
    const double s = (u3 + u2 + u1) * 2.0 - 32766.0;
    out[axis] = n[axis] - s * kInverse32767 * blur;
  }
  if (!normalize(out))
    for (int axis = 0; axis < 3; ++axis) out[axis] = n[axis];
}

bool normalize(double v[3]) noexcept {
  const double len = std::sqrt(dot(v, v));
  if (!(len > 0.0) || !std::isfinite(len)) return false;
  const double inv = 1.0 / len;
  for (int i = 0; i < 3; ++i) v[i] *= inv;
  return true;
}

void mirror(const double v[3], const double n[3], double out[3]) noexcept {
  const double vn = dot(v, n);
  for (int i = 0; i < 3; ++i) out[i] = v[i] - 2.0 * vn * n[i];
}

bool viewOf(const LWNodalAccess *na, double n[3], double v[3]) noexcept {
  if (!normalize(n)) {
    for (int i = 0; i < 3; ++i) n[i] = na->gNorm[i];
    if (!normalize(n)) return false;
  }
  for (int i = 0; i < 3; ++i) v[i] = na->wPos[i] - na->raySource[i];
  if (!normalize(v))
    for (int i = 0; i < 3; ++i) v[i] = -n[i];
  return true;
}

void colourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept {
  auto fromImage = [&] {
    if (!s.image) return;
    double u = 0.0, v = 0.0;
    s.svc->utility->sphericalMap(s.seam, r, &u, &v);
    s.svc->images->spot(s.image, u, v, s.na->spotSize, 1, c);
  };
  switch (s.mode) {
  case kBackdrop:
    if (s.svc->backdrop && s.svc->time) s.svc->backdrop->backdrop(s.svc->time->time, r, c);
    return;
  case kTraceBackdrop:
    s.na->rayTraceMode(s.na, s.na->wPos, r, c, eta, static_cast<uint32_t>(word));
    return;
  case kSphericalMap:
    fromImage();
    return;
  case kTraceSphericalMap:
    if (s.na->rayTraceMode(s.na, s.na->wPos, r, c, eta, static_cast<uint32_t>(word)) == -1.0) fromImage();
    return;
  default:
    return;
  }
}

} // namespace juxs::gaussian
