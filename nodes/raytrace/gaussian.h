// What Gaussian Reflections and Gaussian Refractions share: the jittered
// normal, the colour a direction brings from one of four sources, and the
// small vector steps both take.
#pragma once

#include <cmath>
#include <cstdint>

#include "framework/node_kind.h"

namespace juxs::gaussian {

// Colour sources, the node's Mode.
enum Mode : int32_t { kBackdrop, kTraceBackdrop, kSphericalMap, kTraceSphericalMap, kModeCount };
inline constexpr const char *kModeItems[] = {
    "Backdrop Only", "Ray Tracing + Backdrop", "Spherical Map", " Ray Tracing + Spherical Map", nullptr,
};

// Draws per jittered normal: three per axis, x first.
inline constexpr int kDrawsPerNormal = 9;

inline double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Scales v to unit length; false, leaving v alone, when it has no length or
// no finite one.
inline bool normalize(double v[3]) noexcept {
  const double len = std::sqrt(dot(v, v));
  if (!(len > 0.0) || !std::isfinite(len)) return false;
  const double inv = 1.0 / len;
  for (int i = 0; i < 3; ++i) v[i] *= inv;
  return true;
}

// V - 2 (V . N) N
inline void mirror(const double v[3], const double n[3], double out[3]) noexcept {
  const double vn = dot(v, n);
  for (int i = 0; i < 3; ++i) out[i] = v[i] - 2.0 * vn * n[i];
}

// N' = N - offset per axis, then normalised. Each offset is s x (1/32767) x B
// with s = (u3 + u2 + u1) x 2 - 32766 and uk = rk x 2^-32 x 10923, three draws
// per axis, x first; a jitter that left no direction keeps N.
//
// Every uk is an integer below 2^46 scaled by a power of two, and so is their
// sum: all of it is exact in doubles, in any order. s is therefore computed
// from the integer sum r1 + r2 + r3 with one conversion, to the same bits.
//
// jitter() leaves N' unnormalised; jitteredNormal() normalises it.
inline void jitter(const double n[3], double blur, const uint32_t r[kDrawsPerNormal], double out[3]) noexcept {
  constexpr double kTwoToMinus31 = 1.0 / 2147483648.0;
  constexpr double kInverse32767 = 3.051850947599719e-05; // 1 / 32767
  for (int axis = 0; axis < 3; ++axis) {
    const uint64_t sum = uint64_t{r[3 * axis]} + r[3 * axis + 1] + r[3 * axis + 2];
    const double s = static_cast<double>(sum * 10923u) * kTwoToMinus31 - 32766.0;
    out[axis] = n[axis] - s * kInverse32767 * blur;
  }
}
inline void jitteredNormal(const double n[3], double blur, const uint32_t r[kDrawsPerNormal], double out[3]) noexcept {
  jitter(n, blur, r, out);
  if (!normalize(out))
    for (int axis = 0; axis < 3; ++axis) out[axis] = n[axis];
}

// The mirror direction of V about the jittered normal N' = J / |J|, taken as
// V - 2 (V . J) J / (J . J): the same direction without the square root and
// the scaling of J, which would only lengthen each sample's chain of work.
inline void mirrorAboutJittered(const double v[3], const double n[3], double blur, const uint32_t r[kDrawsPerNormal],
                                double out[3]) noexcept {
  double j[3];
  jitter(n, blur, r, j);
  const double jj = dot(j, j);
  if (!(jj > 0.0) || !std::isfinite(jj)) return mirror(v, n, out); // no direction left: N
  const double k = 2.0 * dot(v, j) / jj;
  for (int i = 0; i < 3; ++i) out[i] = v[i] - k * j[i];
}

// The view of one shading sample: the unit shading normal N (the "Normal"
// input or the context's, falling back to the geometric normal when it has no
// length), and the unit direction V of the incoming ray (along -N when the
// ray starts at the shading point itself). False when no normal is left:
// the sample is then black.
bool viewOf(const LWNodalAccess *na, double n[3], double v[3]) noexcept;

// Where a direction's colour comes from.
struct Source {
  const fw::Services *svc;
  LWNodalAccess *na;
  int32_t mode;
  LWImageID image; // null: none
  double seam;     // radians
};

// Adds nothing: fills c (which starts black) with the colour seen along r
// from the shading point, the trace carrying the refraction index eta and
// the mode word. render threads, concurrently
void colourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept;

} // namespace juxs::gaussian
