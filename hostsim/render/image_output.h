// Writing rendered frames: PNG (8 bits, sRGB-encoded, clamped to 0..1) for
// viewing, Radiance HDR (linear, unclamped) for further work.
#pragma once

#include <string>

#include "hostsim/render/renderer.h"

namespace hostsim {

// The output type follows the extension, .png or .hdr. False and why on failure.
bool writeImage(const std::string &path, const FrameBuffer &fb, std::string &error);
// Whether writeImage knows the extension of path.
bool knownImageType(const std::string &path);
// The file name of one frame of several: "out.png" -> "out_0007.png".
std::string framePath(const std::string &path, int frame);
// Linear light to the sRGB display encoding, 0..255, clamped.
unsigned char toDisplay(float linear);

} // namespace hostsim
