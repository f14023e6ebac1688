#include "nodes/raytrace/gaussian.h"

#include <cmath>

namespace juxs::gaussian {
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

void imageColourOf(const Source &s, const double r[3], double c[3]) noexcept {
  if (!s.image) return;
  double u = 0.0, v = 0.0, dir[3] = {r[0], r[1], r[2]};
  s.svc->utility->reflectionMapping(s.seam, dir, &u, &v);
  s.svc->images->RGBSpot(s.image, u, v, s.na->spotSize, 1, c);
}

void colourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept {
  auto fromImage = [&] { imageColourOf(s, r, c); };
  switch (s.mode) {
  case kBackdrop:
    if (s.svc->backdrop && s.svc->time) s.svc->backdrop->backdrop(s.svc->time->time, r, c);
    return;
  case kTraceBackdrop:
    s.na->rayTraceMode(s.na->wPos, r, c, eta, word);
    return;
  case kSphericalMap:
    fromImage();
    return;
  case kTraceSphericalMap:
    if (s.na->rayTraceMode(s.na->wPos, r, c, eta, word) == -1.0) fromImage();
    return;
  default:
    return;
  }
}

} // namespace juxs::gaussian
