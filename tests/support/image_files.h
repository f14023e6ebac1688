// Small image files for the tests, written with OpenImageIO: pixels as
// given, in the file's own sample type, and the metadata the test asks for.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <OpenImageIO/imageio.h>

namespace testsupport {

// Writes w x h pixels of n channels, given as floats 0..1 (integer types) or
// as they are (float types), rows from the top. Fails the test and returns
// false when the file cannot be written.
inline bool writeTestImage(const std::string &path, int w, int h, int n, const std::vector<float> &pixels,
                           OIIO::TypeDesc type = OIIO::TypeDesc::UINT8,
                           const std::vector<std::pair<std::string, std::string>> &attributes = {}) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    ADD_FAILURE() << "no writer for " << path << ": " << OIIO::geterror();
    return false;
  }
  OIIO::ImageSpec spec(w, h, n, type);
  // Colours as given, not divided by alpha on the way out.
  spec.attribute("oiio:UnassociatedAlpha", 1);
  if (n == 2) spec.alpha_channel = 1;
  if (n == 4) spec.alpha_channel = 3;
  for (const auto &[name, value] : attributes) spec.attribute(name, value);
  const bool ok = out->open(path, spec) && out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out->close();
  if (!ok) ADD_FAILURE() << "cannot write " << path << ": " << out->geterror();
  return ok;
}

inline void writeBytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline float srgbToLinear(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }

} // namespace testsupport
