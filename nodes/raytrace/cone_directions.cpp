#include "nodes/raytrace/cone_directions.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

#include "framework/cpu.h"

namespace juxs::raytrace {
namespace {

// Beyond this the two-part reduction by pi/2 below loses digits.
constexpr double kFastLimit = 1e5;

// sin and cos on |r| <= pi/4: the minimax polynomials of the classic fdlibm
// kernels, within an ulp or two there.
inline double sinKernel(double r, double z) {
  constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                   S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                   S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
  return r + r * z * (S1 + z * (S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)))));
}
inline double cosKernel(double z) {
  constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                   C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                   C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
  return 1.0 - 0.5 * z + z * z * (C1 + z * (C2 + z * (C3 + z * (C4 + z * (C5 + z * C6)))));
}

// Eight at a time: one AVX-512 register's worth, two of AVX2's.
constexpr std::size_t kBlock = 8;

// Straight-line work on a block's elements, so that the loop vectorises: the
// quadrant by rounding with the 1.5 * 2^52 trick, the remainder with pi/2 in
// two parts (the first exact in 33 bits), the kernels, then the quadrant's
// swap and signs as selections. Compiled three times below: for every x86-64
// processor (two numbers to a register), for AVX2 (four) and for AVX-512
// (eight); the same operations in the same order each way, and no fused
// multiply-add, so all give the same bits.
[[gnu::always_inline]] inline void sinCosBlock(const double *x, double *s, double *c) {
  constexpr double kTwoOverPi = 6.36619772367581382433e-01;
  constexpr double kPio2Hi = 1.57079632673412561417e+00, kPio2Lo = 6.07710050650619224932e-11;
  constexpr double kRound = 6755399441055744.0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const double v = x[i];
    const double t = v * kTwoOverPi + kRound, q = t - kRound;
    const double r = (v - q * kPio2Hi) - q * kPio2Lo;
    const double z = r * r;
    const double ps = sinKernel(r, z), pc = cosKernel(z);
    // t's low bits hold 2^51 + q: q's own two lowest bits, with no
    // conversion (which would leave the register's width).
    const auto k = std::bit_cast<uint64_t>(t);
    const double sv = (k & 1) ? pc : ps, cv = (k & 1) ? ps : pc;
    s[i] = (k & 2) ? -sv : sv;
    c[i] = ((k + 1) & 2) ? -cv : cv;
  }
}

// Whole blocks, then the rest as a block padded with zeros: a batch's last
// few angles take the vector path too, not a slower one of their own.
[[gnu::always_inline]] inline void sinCosLoop(const double *x, double *s, double *c, std::size_t n) {
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) sinCosBlock(x + i, s + i, c + i);
  if (i == n) return;
  double xt[kBlock] = {}, st[kBlock], ct[kBlock];
  std::copy(x + i, x + n, xt);
  sinCosBlock(xt, st, ct);
  std::copy(st, st + (n - i), s + i);
  std::copy(ct, ct + (n - i), c + i);
}

// Whether every angle is one the loop above takes (false for NaN), in a
// loop that vectorises too.
[[gnu::always_inline]] inline bool allFast(const double *x, std::size_t n) {
  int slow = 0;
  for (std::size_t i = 0; i < n; ++i) slow |= !(std::fabs(x[i]) <= kFastLimit);
  return !slow;
}

// The sines and cosines of n angles if all are fast ones; false, computing
// nothing, otherwise.
bool sinCosBase(const double *x, double *s, double *c, std::size_t n) {
  if (!allFast(x, n)) return false;
  sinCosLoop(x, s, c, n);
  return true;
}

#ifdef JUXS_X86_64
JUXS_AVX2 bool sinCosAvx2(const double *x, double *s, double *c, std::size_t n) {
  if (!allFast(x, n)) return false;
  sinCosLoop(x, s, c, n);
  return true;
}
JUXS_AVX512 bool sinCosAvx512(const double *x, double *s, double *c, std::size_t n) {
  if (!allFast(x, n)) return false;
  sinCosLoop(x, s, c, n);
  return true;
}
#else
constexpr auto sinCosAvx2 = sinCosBase;
constexpr auto sinCosAvx512 = sinCosBase;
#endif
using fw::hasAvx2;
using fw::hasAvx512;

using SinCos = bool (*)(const double *, double *, double *, std::size_t);
// Chosen at the first use; threads that choose at once choose alike.
constinit std::atomic<SinCos> gSinCos{nullptr};

// The loop for so many numbers to a register, or none where the processor
// cannot run it.
SinCos sinCosFor(int lanes) {
  switch (lanes) {
  case 2: return sinCosBase;
  case 4: return hasAvx2() ? sinCosAvx2 : nullptr;
  case 8: return hasAvx512() ? sinCosAvx512 : nullptr;
  default: return nullptr;
  }
}

bool sinCosFast(const double *x, double *s, double *c, std::size_t n) {
  SinCos f = gSinCos.load(std::memory_order_relaxed);
  if (!f) [[unlikely]] {
    f = hasAvx512() ? sinCosAvx512 : hasAvx2() ? sinCosAvx2 : sinCosBase;
    gSinCos.store(f, std::memory_order_relaxed);
  }
  return f(x, s, c, n);
}

} // namespace

bool sinCosLanes(int lanes) noexcept {
  const SinCos f = sinCosFor(lanes);
  if (f) gSinCos.store(f, std::memory_order_relaxed);
  return f != nullptr;
}

ConeFrame coneFrame(const double n[3]) noexcept {
  // Azimuth theta = atan2(z, x) and elevation phi = atan2(y, h), h the length
  // in the X-Z plane: their cosines and sines are ratios of the axis's own
  // components, scaled first so that no square underflows. On the poles
  // (h = 0) the azimuth is what atan2 makes of signed zeros.
  const double m = std::max(std::fabs(n[0]), std::fabs(n[2]));
  double ct, st, h;
  if (m > 0.0 && std::isfinite(m)) {
    const double u = n[0] / m, w = n[2] / m, hu = std::sqrt(u * u + w * w);
    ct = u / hu;
    st = w / hu;
    h = m * hu;
  } else {
    const double theta = std::atan2(n[2], n[0]);
    ct = std::cos(theta);
    st = std::sin(theta);
    h = std::sqrt(n[0] * n[0] + n[2] * n[2]);
  }
  const double big = std::max(h, std::fabs(n[1]));
  double cp, sp;
  if (big > 0.0 && std::isfinite(big)) {
    const double a = h / big, b = n[1] / big, len = std::sqrt(a * a + b * b);
    cp = a / len;
    sp = b / len;
  } else {
    const double phi = std::atan2(n[1], h);
    cp = std::cos(phi);
    sp = std::sin(phi);
  }
  // Tilt in X-Y by phi: x' = cp vx - sp vy, y = sp vx + cp vy; then turn in
  // X-Z by theta: x = ct x' - st vz, z = st x' + ct vz.
  return {{{ct * cp, -ct * sp, -st}, {sp, cp, 0.0}, {st * cp, -st * sp, ct}}};
}

void sinCos(const double *angle, double *sine, double *cosine, std::size_t n) noexcept {
  if (sinCosFast(angle, sine, cosine, n)) return;
  for (std::size_t i = 0; i < n; ++i) {
    sine[i] = std::sin(angle[i]);
    cosine[i] = std::cos(angle[i]);
  }
}

void coneDirections(const ConeFrame &f, const double *alpha, const double *beta, std::size_t n,
                    double (*out)[3]) noexcept {
  while (n > 0) {
    const std::size_t k = std::min(n, kDirectionBatch);
    double sa[kDirectionBatch], ca[kDirectionBatch], sb[kDirectionBatch], cb[kDirectionBatch];
    sinCos(alpha, sa, ca, k);
    sinCos(beta, sb, cb, k);
    for (std::size_t i = 0; i < k; ++i) {
      const double v0 = cb[i], v1 = sb[i] * sa[i], v2 = sb[i] * ca[i];
      out[i][0] = f.m[0][0] * v0 + f.m[0][1] * v1 + f.m[0][2] * v2;
      out[i][1] = f.m[1][0] * v0 + f.m[1][1] * v1;
      out[i][2] = f.m[2][0] * v0 + f.m[2][1] * v1 + f.m[2][2] * v2;
    }
    alpha += k;
    beta += k;
    out += k;
    n -= k;
  }
}

} // namespace juxs::raytrace
