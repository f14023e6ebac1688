#include "hostsim/render/progress.h"

#include <cmath>
#include <cstdio>

namespace hostsim {

std::string formatDuration(double seconds) {
  if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
  const long long s = std::llround(seconds);
  char text[48];
  if (s < 60)
    std::snprintf(text, sizeof text, "%lld s", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, (s % 3600) / 60);
  return text;
}

double remainingSeconds(double done, double elapsed) {
  // Under one percent the rate says little yet.
  if (!(done >= 0.01) || !(elapsed > 0)) return -1;
  return done >= 1 ? 0 : elapsed * (1 - done) / done;
}

std::string progressText(const ProgressState &p, bool terminal) {
  char text[256];
  if (!terminal) {
    std::snprintf(text, sizeof text, "hostsim: rendering frame %d (%d of %d), %3.0f%% done, %.1f s\n", p.frame,
                  p.frameIndex, p.frameCount, 100.0 * p.done, p.elapsed);
    return text;
  }
  const double left = remainingSeconds(p.done, p.elapsed);
  const std::string rest = left < 0 ? "estimating the time left" : "about " + formatDuration(left) + " left";
  std::snprintf(text, sizeof text, "%shostsim: frame %d (%d of %d), %3.0f%% done, %s elapsed, %s", kClearProgress,
                p.frame, p.frameIndex, p.frameCount, 100.0 * p.done, formatDuration(p.elapsed).c_str(), rest.c_str());
  return text;
}

} // namespace hostsim
