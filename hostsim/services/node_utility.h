// "NodeUtilityFuncs": the host's blending of two colours, its projections
// and its spherical mapping of a direction to image coordinates (the
// reflection-mapping slot).
#pragma once

#include <cstdint>

#include "host/lw_nodes.h"

namespace hostsim {

// fg blended onto bg by one of the fourteen BLEND_* modes, then mixed with bg
// by the opacity: result = bg + (B(bg, fg) - bg) * opacity. An unknown mode
// blends as Normal (the module's table refuses one before it gets here).
// render threads, concurrently
void blendColors(double result[3], const double fg[3], const double bg[3], double opacity, int32_t mode) noexcept;

// Equirectangular mapping of a direction (any length but zero). The azimuth
// is measured from +Z towards +X; the seam angle (radians) turns the map
// about +Y:
//   u = frac(0.5 + (atan2(x, z) - seam) / 2pi)    +Z at 0.5, +X at 0.75, -X at 0.25, -Z at the seam 0
//   v = acos(y / |d|) / pi                         +Y (zenith) 0, horizon 0.5, -Y (nadir) 1
// so an image with the zenith in its top row and looking along +Z at its
// centre column maps as it is painted. A zero direction gives (0.5, 0.5).
// render threads, concurrently
void sphericalMap(double seamAngle, const double direction[3], double *u, double *v) noexcept;

class NodeUtility {
public:
  NodeUtility();
  const LWNodeUtilityFuncs *funcs() const { return &funcs_; }
  // Blends made through the C table in this process, for tests.
  static uint64_t blendCalls();

private:
  LWNodeUtilityFuncs funcs_{};
};

} // namespace hostsim
