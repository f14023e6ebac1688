// Directions in a cone around an axis, many at a time.
//
// A direction is given by its azimuth alpha around the axis and its angle
// beta from it. The textbook way to place it turns a local direction by the
// axis's elevation and then by its azimuth, with an arc tangent, a square root,
// a sine and a cosine at each turn, for every ray. Both turns depend only on
// the axis, so here they are one rotation, built once per axis; a batch of
// directions then costs the sines and cosines of its own two angles (computed
// for the whole batch in one loop the compiler vectorises) and a matrix
// product each. The results agree with the textbook form to rounding.
#pragma once

#include <cstddef>

namespace juxs::raytrace {

// The rotation that carries the local frame, whose first axis stands for the
// sampling axis, onto the world: D = M v.
struct ConeFrame {
  double m[3][3];
};

// The frame of an axis: its azimuth atan2(z, x) in the X-Z plane and its
// elevation atan2(y, sqrt(x^2 + z^2)) (the world's Y is up). The axis need not
// have unit length; the frame's directions always do.
ConeFrame coneFrame(const double axis[3]) noexcept;

// sin and cos of n angles. Finite angles up to 1e5 in size go through one
// branch-free loop; a batch holding anything else uses the library's.
void sinCos(const double *angle, double *sine, double *cosine, std::size_t n) noexcept;

// How many numbers to a register sinCos works on: 2 (what every x86-64
// processor has), 4 (AVX2) or 8 (AVX-512); by default the widest the
// processor has. False, changing nothing, for a width it lacks. The results
// are the same.
bool sinCosLanes(int lanes) noexcept;

// Unit directions for n (alpha, beta) pairs: the local direction
// (cos b, sin b sin a, sin b cos a), turned by the frame.
// Each of the arrays holds n values; out holds n directions.
void coneDirections(const ConeFrame &frame, const double *alpha, const double *beta, std::size_t n,
                    double (*out)[3]) noexcept;

// The largest batch coneDirections works on without splitting it.
inline constexpr std::size_t kDirectionBatch = 64;

} // namespace juxs::raytrace
