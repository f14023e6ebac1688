// What Gaussian Reflections and Gaussian Refractions share: the jittered
// normal, the colour a direction brings from one of four sources, and the
// small vector steps both take.
#pragma once

#include <algorithm>
#include <bit>
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

// Samples whose directions are made in one go where nothing can draw between
// their draws. Each loop below runs over a batch a component at a time, with
// no branch in it, so that the compiler keeps several samples in one
// register (two, or four with AVX2), the square roots and divisions included.
inline constexpr std::size_t kSampleBatch = 16;

// The directions of a batch, each component an array.
struct Dirs {
  alignas(32) double x[kSampleBatch];
  alignas(32) double y[kSampleBatch];
  alignas(32) double z[kSampleBatch];
};

// The rays of a batch: their directions and the refraction index each trace
// carries.
struct Rays {
  Dirs d;
  alignas(32) double eta[kSampleBatch];
};

// The jittered normals of count samples, the draws of sample i at r + 9 i,
// unnormalised, into j. N' = N - offset per axis, then normalised. Each
// offset is s x (1/32767) x B with s = (u3 + u2 + u1) x 2 - 32766 and
// uk = rk x 2^-32 x 10923, three draws per axis, x first.
//
// Every uk is an integer below 2^46 scaled by a power of two, and so is their
// sum: all of it is exact in doubles, in any order. s is therefore computed
// from the integer sum r1 + r2 + r3, to the same bits. The sum, below 2^34,
// is converted two at a time by setting it as the low bits of 2^52 and
// taking 2^52 away again, which is exact.
inline void jitterAll(const double n[3], double blur, const uint32_t *r, std::size_t count, Dirs &j) noexcept {
  constexpr double kTwoToMinus31 = 1.0 / 2147483648.0;
  constexpr double kInverse32767 = 3.051850947599719e-05; // 1 / 32767
  constexpr uint64_t kTwoTo52Bits = 0x4330000000000000;   // 2^52
  // The draws are triples in a row, x, y and z of sample 0, then of sample 1:
  // summed as such, the loop is one the compiler keeps in registers.
  alignas(32) uint64_t sum[3 * kSampleBatch];
  for (std::size_t k = 0; k < 3 * count; ++k)
    sum[k] = (uint64_t{r[3 * k]} + r[3 * k + 1] + r[3 * k + 2]) | kTwoTo52Bits;
  auto offset = [&](uint64_t bits) {
    const double s = (std::bit_cast<double>(bits) - 0x1p52) * 10923.0 * kTwoToMinus31 - 32766.0;
    return s * kInverse32767 * blur;
  };
  for (std::size_t i = 0; i < count; ++i) {
    j.x[i] = n[0] - offset(sum[3 * i]);
    j.y[i] = n[1] - offset(sum[3 * i + 1]);
    j.z[i] = n[2] - offset(sum[3 * i + 2]);
  }
}

// The mirror directions of V about the jittered normals N' = J / |J| of count
// samples (J from jitterAll), each taken as V - 2 (V . J) J / (J . J): the
// same direction without the square root and the scaling of J, which would
// only lengthen each sample's chain of work. A jitter that left no direction
// mirrors about N. Each ray carries eta.
inline void mirrorsAbout(const double v[3], const double n[3], const Dirs &j, std::size_t count, double eta,
                         Rays &out) noexcept {
  constexpr double kLargest = 1.7976931348623157e308;
  const double twoVn = 2.0 * dot(v, n);
  const double v0 = v[0], v1 = v[1], v2 = v[2], n0 = n[0], n1 = n[1], n2 = n[2];
  for (std::size_t i = 0; i < count; ++i) {
    const double x = j.x[i], y = j.y[i], z = j.z[i];
    const double jj = x * x + y * y + z * z;
    const bool usable = (jj > 0.0) & (jj <= kLargest); // false for NaN too
    const double q = 2.0 * (v0 * x + v1 * y + v2 * z) / jj;
    const double k = usable ? q : twoVn;
    const double mx = usable ? x : n0, my = usable ? y : n1, mz = usable ? z : n2;
    out.d.x[i] = v0 - k * mx;
    out.d.y[i] = v1 - k * my;
    out.d.z[i] = v2 - k * mz;
    out.eta[i] = eta;
  }
}

// The jittered normals of count samples (J from jitterAll) scaled to unit
// length in place; one that left no direction becomes N.
inline void normalizeAll(const double n[3], Dirs &j, std::size_t count) noexcept {
  constexpr double kLargest = 1.7976931348623157e308;
  const double n0 = n[0], n1 = n[1], n2 = n[2];
  for (std::size_t i = 0; i < count; ++i) {
    const double x = j.x[i], y = j.y[i], z = j.z[i];
    const double len = std::sqrt(x * x + y * y + z * z);
    const bool usable = (len > 0.0) & (len <= kLargest);
    const double inv = 1.0 / len;
    const double sx = x * inv, sy = y * inv, sz = z * inv;
    j.x[i] = usable ? sx : n0;
    j.y[i] = usable ? sy : n1;
    j.z[i] = usable ? sz : n2;
  }
}

// The rays of count samples through the surface about the unit normals m.
// Light inside a denser medium (current index etaC above the node's eta)
// beyond the critical angle is reflected and keeps the current index; a
// refracted ray carries the node's.
//
// Beyond the critical angle means acos(-V . M) > asin(eta / etaC). The arc
// cosine falls as its argument rises, so a cosine clearly below or above the
// critical angle's answers the test without it; only one within a hair of
// it (where rounding could tip the answer) takes the arc cosine, after the
// batch, so that the batch's loop has no branch.
struct Bend {
  double etaC, eta, w;
  bool denser;
  double critical, edge; // the critical angle and its cosine, out of a denser medium
};
inline Bend bendFor(double etaC, double eta) noexcept {
  const bool denser = etaC > eta;
  const double critical = denser ? std::asin(eta / etaC) : 0.0;
  return {etaC, eta, etaC / eta, denser, critical, denser ? std::cos(critical) : 1.0};
}

// Out of a lighter medium nothing is reflected: the loop leaves the mirror out.
template <bool Denser>
inline void bendLoop(const Bend &b, const double v[3], const Dirs &m, std::size_t count,
                     [[maybe_unused]] double below, [[maybe_unused]] double *back, Rays &out) noexcept {
  const double w = b.w, eta = b.eta;
  const double v0 = v[0], v1 = v[1], v2 = v[2];
  for (std::size_t i = 0; i < count; ++i) {
    const double x = m.x[i], y = m.y[i], z = m.z[i];
    const double d = v0 * x + v1 * y + v2 * z;
    // Just inside the critical angle rounding can leave the root a hair below
    // zero (or no number): that ray grazes the surface.
    const double root = 1.0 - (1.0 - d * d) * w * w;
    const double k = std::sqrt(root > 0.0 ? root : 0.0);
    const double wd = w * d, ahead = k - wd, behind = -(wd + k);
    const double along = d >= 0.0 ? ahead : behind;
    const double rx = w * v0 + along * x, ry = w * v1 + along * y, rz = w * v2 + along * z;
    if constexpr (Denser) {
      back[i] = -d;
      const bool reflected = -d < below;
      const double twoD = 2.0 * d; // the mirror: V - 2 (V . M) M
      const double fx = v0 - twoD * x, fy = v1 - twoD * y, fz = v2 - twoD * z;
      out.d.x[i] = reflected ? fx : rx;
      out.d.y[i] = reflected ? fy : ry;
      out.d.z[i] = reflected ? fz : rz;
      out.eta[i] = reflected ? b.etaC : eta;
    } else {
      out.d.x[i] = rx;
      out.d.y[i] = ry;
      out.d.z[i] = rz;
      out.eta[i] = eta;
    }
  }
}

inline void bendAll(const Bend &b, const double v[3], const Dirs &m, std::size_t count, Rays &out) noexcept {
  constexpr double kHair = 1e-9; // far beyond the arc cosine's and cosine's rounding
  double back[kSampleBatch]; // (-V) . M, to the bit
  if (!b.denser) return bendLoop<false>(b, v, m, count, 0.0, back, out);
  const double below = b.edge - kHair, above = b.edge + kHair;
  bendLoop<true>(b, v, m, count, below, back, out);
  for (std::size_t i = 0; i < count; ++i) {
    if (back[i] < below || back[i] > above) continue;
    // Rounding can carry a cosine of unit vectors a hair past 1.
    if (!(std::acos(std::fmin(1.0, std::fmax(-1.0, back[i]))) > b.critical)) continue;
    const double twoD = -2.0 * back[i];
    out.d.x[i] = v[0] - twoD * m.x[i];
    out.d.y[i] = v[1] - twoD * m.y[i];
    out.d.z[i] = v[2] - twoD * m.z[i];
    out.eta[i] = b.etaC;
  }
}

// The rays of count samples (at most kSampleBatch) from their draws, nine
// each: the steps above over a whole batch, compiled once for the baseline
// and once for AVX2, which makes the same rays to the bit (every step is
// correctly rounded and nothing is fused). mirrorRays: Gaussian
// Reflections' (jitterAll, mirrorsAbout); bendRays: Gaussian Refractions'
// (jitterAll, normalizeAll, bendAll). render threads, concurrently
enum class Width { Sse2, Avx2 };
Width widest() noexcept; // what this processor has
void mirrorRays(Width w, const double n[3], const double v[3], double blur, double eta, const uint32_t *draws,
                std::size_t count, Rays &out) noexcept;
void bendRays(Width w, const double n[3], const double v[3], double blur, const Bend &b, const uint32_t *draws,
              std::size_t count, Rays &out) noexcept;

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

// Whether a colour source traces: a traced ray may shade a surface that
// draws, so its sample's draws must come just before it.
constexpr bool traces(int32_t mode) noexcept { return mode == kTraceBackdrop || mode == kTraceSphericalMap; }

// Adds nothing: fills c (which starts black) with the colour seen along r
// from the shading point, the trace carrying the refraction index eta and
// the mode word. render threads, concurrently
void colourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept;

// Adds nothing: fills c with the spherical map's colour along r, if there is
// an image. render threads, concurrently
void imageColourOf(const Source &s, const double r[3], double c[3]) noexcept;

// colourOf for a source that traces, inline: the trace, and for Mode 3 the
// image where the ray hits nothing. render threads, concurrently
inline void tracedColourOf(const Source &s, const double r[3], double eta, int32_t word, double c[3]) noexcept {
  if (s.na->rayTraceMode(s.na->wPos, r, c, eta, word) == -1.0 && s.mode == kTraceSphericalMap) imageColourOf(s, r, c);
}

// The sampling both nodes share: the average of Samples jittered samples (one
// when Blur is 0 or Samples below 1), written to q, each coloured from src
// along the ray makeRays(draws, count, out) makes from its own nine draws. The
// draws of all samples are held at once.
//
// Each sample must take the nine numbers that come next when it draws, and a
// trace may draw in between (the surface it shades may). So the rays of a
// batch of samples are made ahead from the numbers that will come next if
// nothing draws, and each sample takes its nine only if they still are; once
// a trace has drawn, the rest are made one at a time, each from its own draw.
// Either way every sample gets the numbers it would alone, and its ray is
// made from them to the same bits. render threads, concurrently
template <class MakeRays>
void averageSamples(const Source &src, int32_t word, int32_t samples, double blur, MakeRays makeRays,
                    double q[3]) noexcept {
  if (blur == 0.0 || samples < 1) samples = 1;
  const auto total = static_cast<std::size_t>(samples);
  const bool tracing = traces(src.mode);
  double sum[3] = {0.0, 0.0, 0.0}; // here rather than in q, which the traces might reach
  // Each sample's colour has a slot of its own, added in after its batch in
  // sample order: a sum carried from trace to trace would wait on each one.
  double c[kSampleBatch][3];
  auto colour = [&](const Rays &r, std::size_t i) {
    const double d[3] = {r.d.x[i], r.d.y[i], r.d.z[i]};
    if (tracing)
      tracedColourOf(src, d, r.eta[i], word, c[i]);
    else
      colourOf(src, d, r.eta[i], word, c[i]);
  };
  auto addUpTo = [&](std::size_t k) {
    for (std::size_t i = 0; i < k; ++i)
      for (int a = 0; a < 3; ++a) sum[a] += c[i][a];
  };
  const fw::rng::Hold hold(total * kDrawsPerNormal);
  Rays ray;
  bool ahead = true;
  for (std::size_t done = 0; done < total;) {
    if (ahead) {
      const fw::rng::Ahead next = fw::rng::peek(std::min(total - done, kSampleBatch) * kDrawsPerNormal);
      const std::size_t k = next.count / kDrawsPerNormal;
      if (k) makeRays(next.numbers, k, ray);
      std::fill(&c[0][0], &c[0][0] + 3 * k, 0.0);
      std::size_t i = 0;
      if (tracing) {
        for (; i < k && fw::rng::take(next, i * kDrawsPerNormal, kDrawsPerNormal); ++i) colour(ray, i);
      } else if (k && fw::rng::take(next, 0, k * kDrawsPerNormal)) {
        // A source that does not trace draws nothing: the batch takes its
        // numbers at once.
        for (; i < k; ++i) colour(ray, i);
      }
      addUpTo(i);
      done += i;
      ahead = k && i == k;
      continue;
    }
    uint32_t draws[kDrawsPerNormal];
    fw::rng::draw(draws, kDrawsPerNormal);
    makeRays(draws, 1, ray);
    c[0][0] = c[0][1] = c[0][2] = 0.0;
    colour(ray, 0);
    addUpTo(1);
    ++done;
  }
  const double inv = 1.0 / samples;
  for (int a = 0; a < 3; ++a) q[a] = sum[a] * inv;
}

} // namespace juxs::gaussian
