// The directions Gaussian Reflections and Gaussian Refractions trace, written
// out plainly as the nodes define them, for checking what the nodes make.
#pragma once

#include <cmath>
#include <cstdint>

namespace testsupport {

// The jittered normal exactly as the node defines it, written out plainly.
inline void plainJitter(const double n[3], double blur, const uint32_t r[9], double out[3]) {
  for (int a = 0; a < 3; ++a) {
    const double u1 = (r[3 * a] * (1.0 / 4294967296.0)) * 10923;
    const double u2 = (r[3 * a + 1] * (1.0 / 4294967296.0)) * 10923;
    const double u3 = r[3 * a + 2] * 2.543209120631218e-06;
    const double s = (u3 + u2 + u1) * 2 - 32766;
    out[a] = n[a] - s * 3.051850947599719e-05 * blur;
  }
  const double len = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
  for (int a = 0; a < 3; ++a) out[a] /= len;
}

inline void mirror(const double v[3], const double n[3], double out[3]) {
  const double d = v[0] * n[0] + v[1] * n[1] + v[2] * n[2];
  for (int i = 0; i < 3; ++i) out[i] = v[i] - 2 * d * n[i];
}

// A ray through the surface about the unit normal m as the node defines it,
// written out plainly: reflected (keeping the current index) beyond the
// critical angle out of a denser medium, else bent by Snell's law.
inline void plainBend(const double v[3], const double m[3], double etaHere, double eta, double out[3], double &etaOut) {
  const double cosine = v[0] * m[0] + v[1] * m[1] + v[2] * m[2];
  if (etaHere > eta && std::acos(std::fmin(1.0, std::fmax(-1.0, -cosine))) > std::asin(eta / etaHere)) {
    mirror(v, m, out);
    etaOut = etaHere;
    return;
  }
  const double w = etaHere / eta;
  const double root = std::sqrt(std::fmax(0.0, 1 - w * w * (1 - cosine * cosine)));
  const double along = cosine >= 0 ? root - w * cosine : -(w * cosine + root);
  for (int i = 0; i < 3; ++i) out[i] = w * v[i] + along * m[i];
  etaOut = eta;
}

} // namespace testsupport
