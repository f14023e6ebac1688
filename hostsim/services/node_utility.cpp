#include "hostsim/services/node_utility.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace hostsim {
namespace {

// One channel of B(Cb, Cs): Cb the background, Cs the foreground (the W3C
// "backdrop" and "source"). The W3C Compositing and Blending formulas are used
// where they define the mode; renderer colours are not bounded by 1, so only
// the divisions of the dodge and burn guard their edges.
double blendChannel(int32_t mode, double cb, double cs) {
  switch (mode) {
  case BLEND_ADDITIVE: // Cb + Cs
    return cb + cs;
  case BLEND_SUBTRACTIVE: // max(0, Cb - Cs): light is not negative
    return std::max(0.0, cb - cs);
  case BLEND_MULTIPLY: // W3C multiply: Cb x Cs
    return cb * cs;
  case BLEND_SCREEN: // W3C screen: Cb + Cs - Cb x Cs
    return cb + cs - cb * cs;
  case BLEND_DARKEN: // W3C darken: min(Cb, Cs)
    return std::min(cb, cs);
  case BLEND_LIGHTEN: // W3C lighten: max(Cb, Cs)
    return std::max(cb, cs);
  case BLEND_DIFFERENCE: // W3C difference: |Cb - Cs|
    return std::fabs(cb - cs);
  case BLEND_NEGATIVE: // the background inverted as far as the foreground goes (W3C exclusion): Cb + Cs - 2 Cb Cs
    return cb + cs - 2.0 * cb * cs;
  case BLEND_COLORDODGE: // W3C color-dodge: 0 if Cb = 0; 1 if Cs >= 1; else min(1, Cb / (1 - Cs))
    if (cb <= 0.0) return 0.0;
    if (cs >= 1.0) return 1.0;
    return std::min(1.0, cb / (1.0 - cs));
  case BLEND_COLORBURN: // W3C color-burn: 1 if Cb >= 1; 0 if Cs <= 0; else 1 - min(1, (1 - Cb) / Cs)
    if (cb >= 1.0) return 1.0;
    if (cs <= 0.0) return 0.0;
    return 1.0 - std::min(1.0, (1.0 - cb) / cs);
  default: // BLEND_NORMAL (W3C normal): Cs
    return cs;
  }
}

std::atomic<uint64_t> gBlendCalls{0};

void countedBlend(double result[3], const double fg[3], const double bg[3], double opacity, int32_t mode) {
  gBlendCalls.fetch_add(1, std::memory_order_relaxed);
  blendColors(result, fg, bg, opacity, mode);
}

} // namespace

uint64_t NodeUtility::blendCalls() { return gBlendCalls.load(std::memory_order_relaxed); }

void blendColors(double result[3], const double fg[3], const double bg[3], double opacity, int32_t mode) {
  if (!result || !fg || !bg) return;
  double b[3];
  if (mode >= BLEND_RED && mode <= BLEND_BLUE) {
    // Red, Green, Blue: the background with that one channel taken from the foreground.
    for (int c = 0; c < 3; ++c) b[c] = c == mode - BLEND_RED ? fg[c] : bg[c];
  } else {
    for (int c = 0; c < 3; ++c) b[c] = blendChannel(mode, bg[c], fg[c]);
  }
  // Opacity mixes the blended colour over the background: 0 leaves the background, 1 gives B.
  for (int c = 0; c < 3; ++c) result[c] = bg[c] + (b[c] - bg[c]) * opacity;
}

void sphericalMap(double seamAngle, const double d[3], double *u, double *v) {
  double uu = 0.5, vv = 0.5;
  const double len = d ? std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) : 0.0;
  if (len > 0.0 && std::isfinite(len)) {
    constexpr double kTwoPi = 2.0 * M_PI;
    const double a = 0.5 + (std::atan2(d[0], d[2]) - seamAngle) / kTwoPi;
    uu = a - std::floor(a);
    if (uu >= 1.0) uu = 0.0; // a hair below an integer rounds up to it
    vv = std::acos(std::clamp(d[1] / len, -1.0, 1.0)) / M_PI;
  }
  if (u) *u = uu;
  if (v) *v = vv;
}

NodeUtility::NodeUtility() {
  funcs_.blend = &countedBlend;
  funcs_.sphericalMap = &sphericalMap;
}

} // namespace hostsim
