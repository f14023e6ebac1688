// Writing rendered frames through OpenImageIO: PNG (8 bits, sRGB-encoded,
// clamped to 0..1) for viewing; OpenEXR (linear, half or full float),
// Radiance HDR (linear) and TIFF (16 bits sRGB-encoded, or linear float) for
// further work. A picture is written whole or not at all: it goes to a
// temporary file beside the target, which is renamed over the target only
// once every byte is on disk, so a failed write leaves an earlier picture of
// that name as it was.
#pragma once

#include <string>

#include "hostsim/error.h"
#include "hostsim/render/renderer.h"

namespace hostsim {

struct PictureOptions {
  bool fullFloat = false; // .exr and .tif: 32-bit float instead of half / 16-bit sRGB
};

// The output type follows the extension. Throws Error naming path and why.
void writeImage(const std::string &path, const FrameBuffer &fb, const PictureOptions &options = {});
// Whether writeImage knows the extension of path.
bool knownImageType(const std::string &path);
// Whether the picture type of path has a 32-bit float form (.exr, .tif).
bool hasFloatChoice(const std::string &path);
// The extensions writeImage knows, for messages: ".png, .exr, .hdr, .tif".
const char *pictureTypes();
// Whether a picture can go to path at all (known type, existing folder),
// checked before a render spends its time. Throws Error naming path and why.
void checkPictureTarget(const std::string &path);
// Writes bytes to path as writeImage does: a temporary file in the same
// folder, synced, then renamed over path. Targets that are not regular files
// (a device, a pipe) are written in place. Throws Error naming path and why.
void writeFileSafely(const std::string &path, const void *data, std::size_t size);
// The file name of one frame of several: "out.png" -> "out_0007.png".
std::string framePath(const std::string &path, int frame);
// Linear light to the sRGB display encoding, 0..255, clamped.
unsigned char toDisplay(float linear);

} // namespace hostsim
