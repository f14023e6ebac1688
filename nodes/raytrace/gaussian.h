// What Gaussian Reflections and Gaussian Refractions share: the jittered
// normal, the colour a direction brings from one of four sources, and the
// small vector steps both take.
#pragma once

#include <algorithm>
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

// N' = N - offset per axis, then normalised. Each offset is s x (1/32767) x B
// with s = (u3 + u2 + u1) x 2 - 32766 and uk = rk x 2^-32 x 10923, three draws
// per axis, x first; a jitter that left no direction keeps N.
//
// Every uk is an integer below 2^46 scaled by a power of two, and so is their
// sum: all of it is exact in doubles, in any order. s is therefore computed
// from the integer sum r1 + r2 + r3 with one conversion, to the same bits.
//
// jitter() leaves N' unnormalised.
inline void jitter(const double n[3], double blur, const uint32_t r[kDrawsPerNormal], double out[3]) noexcept {
  constexpr double kTwoToMinus31 = 1.0 / 2147483648.0;
  constexpr double kInverse32767 = 3.051850947599719e-05; // 1 / 32767
  for (int axis = 0; axis < 3; ++axis) {
    // Below 2^48: a signed conversion, which needs no test for the top bit.
    const auto sum = static_cast<int64_t>(uint64_t{r[3 * axis]} + r[3 * axis + 1] + r[3 * axis + 2]);
    const double s = static_cast<double>(sum * 10923) * kTwoToMinus31 - 32766.0;
    out[axis] = n[axis] - s * kInverse32767 * blur;
  }
}

// Samples whose directions are made in one go where nothing can draw between
// their draws; each loop below runs over a batch, with no branch in it, so
// that the compiler can keep several samples in one register.
inline constexpr std::size_t kSampleBatch = 16;

// One sample's ray: its direction and the refraction index its trace carries.
struct SampleRay {
  double d[3];
  double eta;
};

// The jittered normals of count samples, the draws of sample i at r + 9 i,
// unnormalised, into j.
inline void jitterAll(const double n[3], double blur, const uint32_t *r, std::size_t count,
                      double (*j)[3]) noexcept {
  for (std::size_t i = 0; i < count; ++i) jitter(n, blur, r + kDrawsPerNormal * i, j[i]);
}

// The mirror directions of V about the jittered normals N' = J / |J| of count
// samples (J from jitterAll), each taken as V - 2 (V . J) J / (J . J): the
// same direction without the square root and the scaling of J, which would
// only lengthen each sample's chain of work. A jitter that left no direction
// mirrors about N. Each ray carries eta.
inline void mirrorsAbout(const double v[3], const double n[3], const double (*j)[3], std::size_t count, double eta,
                         SampleRay out[]) noexcept {
  constexpr double kLargest = 1.7976931348623157e308;
  const double twoVn = 2.0 * dot(v, n);
  for (std::size_t i = 0; i < count; ++i) {
    const double jj = dot(j[i], j[i]);
    const bool usable = jj > 0.0 && jj <= kLargest; // false for NaN too
    const double k = usable ? 2.0 * dot(v, j[i]) / jj : twoVn;
    for (int a = 0; a < 3; ++a) out[i].d[a] = v[a] - k * (usable ? j[i][a] : n[a]);
    out[i].eta = eta;
  }
}

// The jittered normals of count samples (J from jitterAll) scaled to unit
// length in place; one that left no direction becomes N.
inline void normalizeAll(const double n[3], double (*j)[3], std::size_t count) noexcept {
  constexpr double kLargest = 1.7976931348623157e308;
  for (std::size_t i = 0; i < count; ++i) {
    const double len = std::sqrt(dot(j[i], j[i]));
    const bool usable = len > 0.0 && len <= kLargest;
    const double inv = 1.0 / len;
    for (int a = 0; a < 3; ++a) j[i][a] = usable ? j[i][a] * inv : n[a];
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
// it (where rounding could tip the answer) takes the arc cosine.
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

inline void bendAll(const Bend &b, const double v[3], const double (*m)[3], std::size_t count,
                    SampleRay out[]) noexcept {
  constexpr double kHair = 1e-9; // far beyond the arc cosine's and cosine's rounding
  const double w = b.w, etaC = b.etaC, eta = b.eta, critical = b.critical, edge = b.edge;
  const bool denser = b.denser;
  for (std::size_t i = 0; i < count; ++i) {
    const double d = dot(v, m[i]);
    bool reflected = false;
    if (denser) {
      const double back = -d; // (-V) . M, to the bit
      if (back < edge - kHair)
        reflected = true;
      else if (!(back > edge + kHair))
        // Rounding can carry a cosine of unit vectors a hair past 1.
        reflected = std::acos(std::fmin(1.0, std::fmax(-1.0, back))) > critical;
    }
    if (reflected) {
      mirror(v, m[i], out[i].d);
      out[i].eta = etaC;
      continue;
    }
    // Just inside the critical angle rounding can leave the root a hair below
    // zero (or no number): that ray grazes the surface.
    const double root = 1.0 - (1.0 - d * d) * w * w;
    const double k = std::sqrt(root > 0.0 ? root : 0.0);
    const double along = d >= 0.0 ? k - w * d : -(w * d + k);
    for (int a = 0; a < 3; ++a) out[i].d[a] = w * v[a] + along * m[i][a];
    out[i].eta = eta;
  }
}

inline void bendAll(const double v[3], const double (*m)[3], std::size_t count, double etaC, double eta,
                    SampleRay out[]) noexcept {
  bendAll(bendFor(etaC, eta), v, m, count, out);
}

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
// along the ray rays(draws, count, out) makes from its own nine draws. The
// draws of all samples are held at once.
//
// Each sample must take the nine numbers that come next when it draws, and a
// trace may draw in between (the surface it shades may). So the rays of a
// batch of samples are made ahead from the numbers that will come next if
// nothing draws, and each sample takes its nine only if they still are; once
// a trace has drawn, the rest are made one at a time, each from its own draw.
// Either way every sample gets the numbers it would alone, and its ray is
// made from them to the same bits. render threads, concurrently
template <class Rays>
void averageSamples(const Source &src, int32_t word, int32_t samples, double blur, Rays rays, double q[3]) noexcept {
  if (blur == 0.0 || samples < 1) samples = 1;
  const auto total = static_cast<std::size_t>(samples);
  const bool tracing = traces(src.mode);
  double sum[3] = {0.0, 0.0, 0.0}; // here rather than in q, which the traces might reach
  auto add = [&](const SampleRay &ray) {
    double c[3] = {0.0, 0.0, 0.0};
    if (tracing)
      tracedColourOf(src, ray.d, ray.eta, word, c);
    else
      colourOf(src, ray.d, ray.eta, word, c);
    for (int a = 0; a < 3; ++a) sum[a] += c[a];
  };
  const fw::rng::Hold hold(total * kDrawsPerNormal);
  bool ahead = true;
  for (std::size_t done = 0; done < total;) {
    if (ahead) {
      const fw::rng::Ahead next = fw::rng::peek(std::min(total - done, kSampleBatch) * kDrawsPerNormal);
      const std::size_t k = next.count / kDrawsPerNormal;
      SampleRay ray[kSampleBatch];
      if (k) rays(next.numbers, k, ray);
      std::size_t i = 0;
      for (; i < k && fw::rng::take(next, i * kDrawsPerNormal, kDrawsPerNormal); ++i) add(ray[i]);
      done += i;
      ahead = k && i == k;
      continue;
    }
    uint32_t draws[kDrawsPerNormal];
    fw::rng::draw(draws, kDrawsPerNormal);
    SampleRay ray;
    rays(draws, 1, &ray);
    add(ray);
    ++done;
  }
  const double inv = 1.0 / samples;
  for (int a = 0; a < 3; ++a) q[a] = sum[a] * inv;
}

} // namespace juxs::gaussian
