// What Gaussian Reflections and Gaussian Refractions share: the jittered
// normal, the colour a direction brings from one of four sources, and the
// small vector steps both take.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "framework/node_kind.h"
#include "framework/random.h"
#include "framework/vector.h"

namespace juxs::gaussian {

// Colour sources, the node's Mode.
enum Mode : int32_t { kBackdrop, kTraceBackdrop, kSphericalMap, kTraceSphericalMap, kModeCount };
inline constexpr const char *kModeItems[] = {
    "Backdrop Only", "Ray Tracing + Backdrop", "Spherical Map", " Ray Tracing + Spherical Map", nullptr,
};

// Draws per jittered normal: three per axis, x first.
inline constexpr int kDrawsPerNormal = 9;

using fw::dot;
using fw::normalize;

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

// The mode word a node traces with: its ray mode (RTMODE_REFLECTION or
// RTMODE_REFRACTION), marked as one of several samples while Blur spreads them.
constexpr int32_t traceWord(int32_t rayMode, double blur) noexcept {
  return blur != 0.0 ? (rayMode | RTFLAG_SAMPLEDRAY) : rayMode;
}

// The sampling both nodes share: the average of Samples jittered samples (one
// when Blur is 0 or Samples below 1), each filled by one(draws, c) from its
// own nine draws, added into q. The draws of all samples are held at once:
// the traces in between may draw. render threads, concurrently
template <class One>
void averageSamples(int32_t samples, double blur, One one, double q[3]) noexcept {
  if (blur == 0.0 || samples < 1) samples = 1;
  const fw::rng::Hold hold(static_cast<std::size_t>(samples) * kDrawsPerNormal);
  for (int32_t i = 0; i < samples; ++i) {
    uint32_t draws[kDrawsPerNormal];
    fw::rng::draw(draws, kDrawsPerNormal);
    double c[3] = {0.0, 0.0, 0.0};
    one(draws, c);
    for (int k = 0; k < 3; ++k) q[k] += c[k];
  }
  const double inv = 1.0 / samples;
  for (int k = 0; k < 3; ++k) q[k] *= inv;
}

// Adds nothing: fills c (which starts black) with the colour seen along r
// from the shading point, the trace carrying the refraction index eta and
// the mode word. render threads, concurrently
void colourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept;

} // namespace juxs::gaussian
