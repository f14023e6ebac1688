#include "nodes/raytrace/gaussian.h"

#include <cmath>

#include "framework/cpu.h"

namespace juxs::gaussian {
namespace {

const Width kWidest = fw::hasAvx2() ? Width::Avx2 : Width::Sse2;

[[gnu::always_inline]] inline void mirrorSteps(const double n[3], const double v[3], double blur, double eta,
                                               const uint32_t *draws, std::size_t count, Rays &out) noexcept {
  Dirs j;
  jitterAll(n, blur, draws, count, j);
  mirrorsAbout(v, n, j, count, eta, out);
}

[[gnu::always_inline]] inline void bendSteps(const double n[3], const double v[3], double blur, const Bend &b,
                                             const uint32_t *draws, std::size_t count, Rays &out) noexcept {
  Dirs m;
  jitterAll(n, blur, draws, count, m);
  normalizeAll(n, m, count);
  bendAll(b, v, m, count, out);
}

void mirrorSse2(const double n[3], const double v[3], double blur, double eta, const uint32_t *draws,
                std::size_t count, Rays &out) noexcept {
  mirrorSteps(n, v, blur, eta, draws, count, out);
}

void bendSse2(const double n[3], const double v[3], double blur, const Bend &b, const uint32_t *draws,
              std::size_t count, Rays &out) noexcept {
  bendSteps(n, v, blur, b, draws, count, out);
}

#ifdef JUXS_X86_64
JUXS_AVX2 void mirrorAvx2(const double n[3], const double v[3], double blur, double eta, const uint32_t *draws,
                          std::size_t count, Rays &out) noexcept {
  mirrorSteps(n, v, blur, eta, draws, count, out);
}

JUXS_AVX2 void bendAvx2(const double n[3], const double v[3], double blur, const Bend &b, const uint32_t *draws,
                        std::size_t count, Rays &out) noexcept {
  bendSteps(n, v, blur, b, draws, count, out);
}
#endif

} // namespace

Width widest() noexcept { return kWidest; }

void mirrorRays(Width w, const double n[3], const double v[3], double blur, double eta, const uint32_t *draws,
                std::size_t count, Rays &out) noexcept {
#ifdef JUXS_X86_64
  if (w == Width::Avx2 && kWidest == Width::Avx2) return mirrorAvx2(n, v, blur, eta, draws, count, out);
#endif
  mirrorSse2(n, v, blur, eta, draws, count, out);
}

void bendRays(Width w, const double n[3], const double v[3], double blur, const Bend &b, const uint32_t *draws,
              std::size_t count, Rays &out) noexcept {
#ifdef JUXS_X86_64
  if (w == Width::Avx2 && kWidest == Width::Avx2) return bendAvx2(n, v, blur, b, draws, count, out);
#endif
  bendSse2(n, v, blur, b, draws, count, out);
}

bool viewOf(const LWNodalAccess *na, double n[3], double v[3]) noexcept {
  if (!normalize(n)) {
    for (int i = 0; i < 3; ++i) n[i] = na->gNorm[i];
    if (!normalize(n)) return false;
  }
  for (int i = 0; i < 3; ++i) v[i] = na->wPos[i] - na->raySource[i];
  if (!normalize(v))
    for (int i = 0; i < 3; ++i) v[i] = -n[i];
  return true;
}

void imageColourOf(const Source &s, const double r[3], double c[3]) noexcept {
  if (!s.image) return;
  double u = 0.0, v = 0.0, dir[3] = {r[0], r[1], r[2]};
  s.svc->utility->reflectionMapping(s.seam, dir, &u, &v);
  s.svc->images->RGBSpot(s.image, u, v, s.na->spotSize, 1, c);
}

void colourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept {
  auto fromImage = [&] { imageColourOf(s, r, c); };
  switch (s.mode) {
  case kBackdrop:
    if (s.svc->backdrop && s.svc->time) s.svc->backdrop->backdrop(s.svc->time->time, r, c);
    return;
  case kTraceBackdrop:
    s.na->rayTraceMode(s.na->wPos, r, c, eta, word);
    return;
  case kSphericalMap:
    fromImage();
    return;
  case kTraceSphericalMap:
    if (s.na->rayTraceMode(s.na->wPos, r, c, eta, word) == -1.0) fromImage();
    return;
  default:
    return;
  }
}

} // namespace juxs::gaussian
