#include "hostsim/services/scene_records.h"

#include <cmath>
#include <numbers>

#include "hostsim/checks.h"

namespace hostsim {
namespace {

SceneRecords *gCurrent = nullptr;

// The backdrop is a read any callback may make, a render thread's evaluate
// included.
constexpr const char *kBackdrop = "LW Backdrop Info 2";

void backdropFn(LWTime time, const double direction[3], double color[3]) noexcept {
  Call call(kBackdrop, "backdrop", From::AnyCallback);
  if (call && call.pointer(direction, "the direction") && call.pointer(color, "the colour") && gCurrent)
    gCurrent->backdropColor(time, direction, color);
}

void copy3(double *to, const double *from) noexcept {
  if (to)
    for (int c = 0; c < 3; ++c) to[c] = from[c];
}

void gradientFn(LWTime time, double zenith[3], double sky[3], double ground[3], double nadir[3]) noexcept {
  Call call(kBackdrop, "color", From::AnyCallback);
  if (!call || !gCurrent) return;
  const Gradient g = gCurrent->gradientAt(time);
  copy3(zenith, g.zenith);
  copy3(sky, g.sky);
  copy3(ground, g.ground);
  copy3(nadir, g.nadir);
}

} // namespace

SceneRecords::SceneRecords() {
  setSceneName("Untitled", "");
  scene_.frameStart = 1;
  scene_.frameEnd = 1;
  scene_.frameStep = 1;
  scene_.framesPerSecond = 30.0;
  scene_.frameWidth = 640;
  scene_.frameHeight = 480;
  scene_.pixelAspect = 1.0;
  scene_.minSamplesPerPixel = 1;
  scene_.maxSamplesPerPixel = 1;
  scene_.recursionDepth = 16;
  scene_.numThreads = 1;
  time_.frame = 1;
  time_.time = 1.0 / 30.0;
  backdrop_.backdrop = handed(&backdropFn);
  backdrop_.type = 0;
  backdrop_.color = handed(&gradientFn);
}

void SceneRecords::makeCurrent() { gCurrent = this; }

void SceneRecords::setSceneName(const std::string &name, const std::string &file) {
  name_ = name;
  file_ = file;
  scene_.name = name_.c_str();
  scene_.filename = file_.c_str();
}

void SceneRecords::setTime(LWFrame frame, LWTime time) {
  time_.frame = frame;
  time_.time = time;
}

void SceneRecords::setSolidBackdrop(const double rgb[3]) {
  backdrop_.type = 0;
  for (int c = 0; c < 3; ++c) solid_[c] = rgb[c];
}

void SceneRecords::setGradientBackdrop(const Gradient &g) {
  backdrop_.type = 1;
  gradient_ = g;
}

void SceneRecords::setBackdropKeys(Slot slot, int component, const Envelope &keys) {
  if (slot < 0 || slot >= kSlotCount || component < 0 || component > 2) return;
  keys_[slot][component] = keys;
  animated_ = false;
  for (const auto &slotKeys : keys_)
    for (const auto &e : slotKeys) animated_ = animated_ || !e.keys.empty();
}

Gradient SceneRecords::gradientAt(LWTime time) const noexcept {
  Gradient g = gradient_;
  if (!animated_) return g;
  double *slots[] = {nullptr, g.zenith, g.sky, g.ground, g.nadir};
  for (int s = kZenith; s < kSlotCount; ++s)
    for (int c = 0; c < 3; ++c)
      if (!keys_[s][c].keys.empty()) slots[s][c] = keys_[s][c].at(time);
  return g;
}

void SceneRecords::backdropColor(LWTime time, const double d[3], double rgb[3]) const noexcept {
  if (backdrop_.type == 0) {
    for (int c = 0; c < 3; ++c) rgb[c] = keys_[kSolid][c].keys.empty() ? solid_[c] : keys_[kSolid][c].at(time);
    return;
  }
  // No gradient made, not even a default one, unless keys animate it: this
  // runs for every ray that misses.
  if (animated_) {
    const Gradient animated = gradientAt(time);
    blendGradient(animated, d, rgb);
  } else {
    blendGradient(gradient_, d, rgb);
  }
}

void SceneRecords::blendGradient(const Gradient &g, const double d[3], double rgb[3]) noexcept {
  // Blend by elevation: horizon (0) to zenith or nadir (1), linear in angle.
  // Renderers hand unit directions: those skip the square root and division.
  const double len2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  const double y = std::fabs(len2 - 1.0) < 1e-12 ? d[1] : len2 > 0 ? d[1] / std::sqrt(len2) : 0.0;
  // Into [-1, 1], NaN to -1, as fmin(1, fmax(-1, y)) would, without a call
  // to either.
  const double clamped = !(y >= -1.0) ? -1.0 : y > 1.0 ? 1.0 : y;
  const double e = std::asin(clamped) / (std::numbers::pi / 2);
  const double *from = e >= 0 ? g.sky : g.ground;
  const double *to = e >= 0 ? g.zenith : g.nadir;
  const double f = std::fabs(e);
  for (int c = 0; c < 3; ++c) rgb[c] = from[c] + (to[c] - from[c]) * f;
}

} // namespace hostsim
