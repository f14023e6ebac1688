// The renderer's small vector operations, shared by its scene building,
// shading and ray operations. Inline: every sample runs them.
#pragma once

#include <algorithm>
#include <cmath>

namespace hostsim::render_ops {

inline double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline bool normalize(double v[3]) {
  const double len2 = dot(v, v);
  if (!(len2 > 0) || !std::isfinite(len2)) return false;
  // 1/sqrt(x) as sqrt(x)/x: the root and the division run side by side
  // instead of one after the other, on a path every sample takes.
  const double inv = std::sqrt(len2) / len2;
  for (int c = 0; c < 3; ++c) v[c] *= inv;
  return true;
}

inline void cross(const double a[3], const double b[3], double r[3]) {
  r[0] = a[1] * b[2] - a[2] * b[1];
  r[1] = a[2] * b[0] - a[0] * b[2];
  r[2] = a[0] * b[1] - a[1] * b[0];
}

// Rays leave a surface a little beyond it, in proportion to how far from the
// origin of the world the surface lies, so that float geometry does not hit
// itself.
inline double margin(const double o[3]) {
  const double m = std::max({1.0, std::fabs(o[0]), std::fabs(o[1]), std::fabs(o[2])});
  return 1e-4 * m;
}

} // namespace hostsim::render_ops
