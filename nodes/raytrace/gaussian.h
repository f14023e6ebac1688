// What Gaussian Reflections and Gaussian Refractions share: the jittered
// normal, the colour a direction brings from one of four sources, and the
// small vector steps both take.
#pragma once

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

// N' = N - offset per axis, each offset a sum of three uniform numbers from
// three draws scaled by the blur, then normalised. The arithmetic is kept as
// the node defines it, step by step, so that a given sequence of draws gives
// the same normal to the last bit. A jitter that left no direction keeps N.
void jitteredNormal(const double n[3], double blur, const uint32_t draws[kDrawsPerNormal], double out[3]) noexcept;

// Scales v to unit length; false, leaving v alone, when it has no length or
// no finite one.
bool normalize(double v[3]) noexcept;
inline double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
// V - 2 (V . N) N
void mirror(const double v[3], const double n[3], double out[3]) noexcept;

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
