#include "hostsim/render/image_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <stb_image_write.h>

namespace hostsim {
namespace {

std::string extension(const std::string &path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

} // namespace

unsigned char toDisplay(float linear) {
  if (!(linear > 0.0f)) return 0; // also NaN
  if (linear >= 1.0f) return 255;
  const float s = linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
  return static_cast<unsigned char>(std::lround(s * 255.0f));
}

bool knownImageType(const std::string &path) {
  const std::string ext = extension(path);
  return ext == ".png" || ext == ".hdr";
}

std::string framePath(const std::string &path, int frame) {
  const std::filesystem::path p(path);
  char number[16];
  std::snprintf(number, sizeof number, "_%04d", frame);
  return (p.parent_path() / (p.stem().string() + number + p.extension().string())).string();
}

bool writeImage(const std::string &path, const FrameBuffer &fb, std::string &error) {
  const std::string ext = extension(path);
  int ok = 0;
  if (ext == ".png") {
    std::vector<unsigned char> bytes(fb.rgb.size());
    std::transform(fb.rgb.begin(), fb.rgb.end(), bytes.begin(), toDisplay);
    ok = stbi_write_png(path.c_str(), fb.width, fb.height, 3, bytes.data(), fb.width * 3);
  } else if (ext == ".hdr") {
    ok = stbi_write_hdr(path.c_str(), fb.width, fb.height, 3, fb.rgb.data());
  } else {
    error = "unknown picture type \"" + ext + "\": use .png or .hdr";
    return false;
  }
  if (!ok) error = "cannot write \"" + path + "\"";
  return ok != 0;
}

} // namespace hostsim
