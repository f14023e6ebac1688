#include "hostsim/services/node_utility.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <string>

#include "hostsim/checks.h"

namespace hostsim {
namespace {

// One channel of B(Cb, Cs): Cb the background, Cs the foreground (the W3C
// "backdrop" and "source"). The W3C Compositing and Blending formulas are used
// where they define the mode; renderer colours are not bounded by 1, so only
// the divisions of the dodge and burn guard their edges.
double blendChannel(int32_t mode, double cb, double cs) noexcept {
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


} // namespace

uint64_t NodeUtility::blendCalls() { return gBlendCalls.load(std::memory_order_relaxed); }

void blendColors(double result[3], const double fg[3], const double bg[3], double opacity, int32_t mode) noexcept {
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

void sphericalMap(double seamAngle, const double d[3], double *u, double *v) noexcept {
  double uu = 0.5, vv = 0.5;
  const double len = d ? std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) : 0.0;
  if (len > 0.0 && std::isfinite(len)) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const double a = 0.5 + (std::atan2(d[0], d[2]) - seamAngle) / kTwoPi;
    uu = a - std::floor(a);
    if (uu >= 1.0) uu = 0.0; // a hair below an integer rounds up to it
    vv = std::acos(std::clamp(d[1] / len, -1.0, 1.0)) / std::numbers::pi;
  }
  if (u) *u = uu;
  if (v) *v = vv;
}

namespace {

// This host lays the first colour it is handed over the second, as the nodes
// written for it expect: Pixel Image hands over its pixel, then the
// background the pixel lies on. The published parameter names (bg, then fg)
// say nothing of the roles, which are the host's to give.
// Blending and the mappings are arithmetic: any callback may use them, a
// render thread's evaluate included. A mode is one of the fourteen published.
constexpr const char *kUtility = "NodeUtilityFuncs";

void blendSlot(double result[3], double layer[3], double base[3], double alpha, int32_t mode) noexcept {
  Call call(kUtility, "Blend", From::AnyCallback);
  if (!call || !call.pointer(result, "the result") || !call.pointer(layer, "the first colour") ||
      !call.pointer(base, "the second colour") ||
      !call.known(mode >= BLEND_NORMAL && mode <= BLEND_BLUE, "the blending mode",
                  [&] { return std::to_string(mode) + " is not a blending mode (0 to 13)"; }))
    return;
  gBlendCalls.fetch_add(1, std::memory_order_relaxed);
  blendColors(result, layer, base, alpha, mode);
}

void reflectionSlot(double seamAngle, double direction[3], double *u, double *v) noexcept {
  Call call(kUtility, "ReflectionMapping", From::AnyCallback);
  if (call && call.pointer(direction, "the direction")) sphericalMap(seamAngle, direction, u, v);
}

// The projections: a position to map, somewhere to put the answer.
bool mapping(const char *function, const double *tPos, const double *u, const double *v) noexcept {
  Call call(kUtility, function, From::AnyCallback);
  return call && call.pointer(tPos, "the position") && call.pointer(u, "u") && call.pointer(v, "v");
}

// The components of p across the axis (0 x, 1 y, 2 z) and along it: for y,
// (x, z) across and y along, so that a y-axis projection looks down from +Y
// with +X to the right.
void axes(const double p[3], int32_t axis, double &a, double &b, double &along) noexcept {
  switch (axis) {
  case 0:
    a = p[2], b = p[1], along = p[0];
    return;
  case 2:
    a = p[0], b = p[1], along = p[2];
    return;
  default:
    a = p[0], b = p[2], along = p[1];
    return;
  }
}

void set(double *u, double *v, double uu, double vv) noexcept {
  if (u) *u = uu;
  if (v) *v = vv;
}

// Texture space is the unit cube about the origin: a projection maps its
// faces onto 0..1.
void planarAt(double tPos[3], int32_t axis, double *u, double *v) noexcept {
  double a, b, along;
  axes(tPos, axis, a, b, along);
  set(u, v, a + 0.5, b + 0.5);
}

void planarSlot(double tPos[3], int32_t axis, double *u, double *v) noexcept {
  if (mapping("PlanarMapping", tPos, u, v)) planarAt(tPos, axis, u, v);
}

double azimuth(double a, double b) noexcept {
  const double t = 0.5 + std::atan2(a, b) / (2.0 * std::numbers::pi);
  return t - std::floor(t);
}

void sphericalSlot(double tPos[3], int32_t axis, double *u, double *v) noexcept {
  if (!mapping("SphericalMapping", tPos, u, v)) return;
  double a, b, along;
  axes(tPos, axis, a, b, along);
  const double len = std::sqrt(a * a + b * b + along * along);
  if (!(len > 0.0) || !std::isfinite(len)) return set(u, v, 0.5, 0.5);
  set(u, v, azimuth(a, b), std::acos(std::clamp(along / len, -1.0, 1.0)) / std::numbers::pi);
}

void cylindricalSlot(double tPos[3], int32_t axis, double *u, double *v) noexcept {
  if (!mapping("CylindricalMapping", tPos, u, v)) return;
  double a, b, along;
  axes(tPos, axis, a, b, along);
  set(u, v, a == 0.0 && b == 0.0 ? 0.5 : azimuth(a, b), along + 0.5);
}

// The caller picks the axis (the normal's major one); the face is planar.
void cubicSlot(double tPos[3], int32_t axis, double *u, double *v) noexcept {
  if (mapping("CubicMapping", tPos, u, v)) planarAt(tPos, axis, u, v);
}

// The position through a camera matrix (row vectors, camera looking along
// +Z), onto a frame from 0 to 1 across its width.
void frontSlot(double tPos[3], double pixelAspect, double *u, double *v, double m[4][4]) noexcept {
  if (!mapping("FrontMapping", tPos, u, v)) return;
  if (!m) return set(u, v, 0.5, 0.5);
  double q[3];
  for (int c = 0; c < 3; ++c) q[c] = tPos[0] * m[0][c] + tPos[1] * m[1][c] + tPos[2] * m[2][c] + m[3][c];
  if (!(q[2] > 0.0)) return set(u, v, 0.5, 0.5);
  const double aspect = pixelAspect > 0.0 ? pixelAspect : 1.0;
  set(u, v, 0.5 + 0.5 * q[0] / q[2], 0.5 - 0.5 * q[1] / q[2] * aspect);
}

// The stand-in host's node networks know no object bounds: a node's texture
// space is the unit cube at the origin.
void autosizeSlot(NodeID node, double scale[3], double position[3]) noexcept {
  Call call(kUtility, "NodeAutosize", From::HostCallback);
  if (!call || !call.handle(node, Handle::Node, "the node")) return;
  for (int c = 0; c < 3; ++c) {
    if (scale) scale[c] = 1.0;
    if (position) position[c] = 0.0;
  }
}

// Its objects carry no UV maps.
int32_t uvSlot(const char *, LWNodalAccess *na, double *, double *) noexcept {
  Call call(kUtility, "UVMapping", From::Evaluate);
  if (call) call.context(na, "the shading context");
  return 0;
}

// Nor cameras as items: the matrix is that of a camera at the origin looking
// along +Z.
void cameraSlot(LWTime, LWItemID, double m[4][4]) noexcept {
  Call call(kUtility, "BuildCameraMatrix", From::AnyCallback);
  if (!call || !call.pointer(m, "the matrix")) return;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m[r][c] = r == c ? 1.0 : 0.0;
}

} // namespace

NodeUtility::NodeUtility() {
  funcs_.blend = handed(&blendSlot);
  funcs_.nodeAutosize = handed(&autosizeSlot);
  funcs_.planarMapping = handed(&planarSlot);
  funcs_.sphericalMapping = handed(&sphericalSlot);
  funcs_.cylindricalMapping = handed(&cylindricalSlot);
  funcs_.cubicMapping = handed(&cubicSlot);
  funcs_.frontMapping = handed(&frontSlot);
  funcs_.reflectionMapping = handed(&reflectionSlot);
  funcs_.uvMapping = handed(&uvSlot);
  funcs_.buildCameraMatrix = handed(&cameraSlot);
}

} // namespace hostsim
