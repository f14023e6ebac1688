// The small vector steps several nodes take on three doubles.
#pragma once

#include <cmath>

namespace juxs::fw {

inline double dot(const double a[3], const double b[3]) noexcept { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Scales v to unit length; false, leaving v alone, when it has no length or
// no finite one.
inline bool normalize(double v[3]) noexcept {
  const double len = std::sqrt(dot(v, v));
  if (!(len > 0.0) || !std::isfinite(len)) return false;
  const double inv = 1.0 / len;
  for (int i = 0; i < 3; ++i) v[i] *= inv;
  return true;
}

} // namespace juxs::fw
