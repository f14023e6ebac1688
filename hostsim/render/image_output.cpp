#include "hostsim/render/image_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <vector>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

namespace hostsim {
namespace {

namespace fs = std::filesystem;

std::string extension(const std::string &path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

float toSrgb(float linear) {
  if (!(linear > 0.0f)) return 0.0f; // also NaN
  if (linear >= 1.0f) return 1.0f;
  return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

std::string systemFault(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

void writeAll(int fd, const unsigned char *p, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      throw Error(systemFault("cannot write"));
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

// A picture ready to encode: the file's description and the pixels in the
// sample type handed over.
struct Picture {
  const char *format = nullptr; // OpenImageIO's writer
  OIIO::ImageSpec spec;
  OIIO::TypeDesc given = OIIO::TypeDesc::FLOAT;
  std::vector<float> floats;
  std::vector<uint8_t> bytes8;
  std::vector<uint16_t> bytes16;
  const void *pixels() const {
    return given == OIIO::TypeDesc::UINT8 ? static_cast<const void *>(bytes8.data())
           : given == OIIO::TypeDesc::UINT16 ? static_cast<const void *>(bytes16.data())
                                             : static_cast<const void *>(floats.data());
  }
};

void prepare(const std::string &ext, const FrameBuffer &fb, const PictureOptions &options, Picture &pic) {
  const std::size_t pixels = static_cast<std::size_t>(fb.width) * static_cast<std::size_t>(fb.height);
  if (fb.width < 1 || fb.height < 1 || fb.rgb.size() != pixels * 3) throw Error("no picture to write");
  OIIO::ImageSpec &spec = pic.spec;
  spec = OIIO::ImageSpec(fb.width, fb.height, 3, OIIO::TypeDesc::FLOAT);
  spec.attribute("Software", "hostsim");
  if (ext == ".png") {
    pic.format = "png";
    spec.set_format(OIIO::TypeDesc::UINT8);
    spec.attribute("oiio:ColorSpace", "sRGB");
    pic.bytes8.resize(fb.rgb.size());
    std::transform(fb.rgb.begin(), fb.rgb.end(), pic.bytes8.begin(), toDisplay);
    pic.given = OIIO::TypeDesc::UINT8;
  } else if (ext == ".exr") {
    pic.format = "openexr";
    spec.set_format(options.fullFloat ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::HALF);
    spec.attribute("oiio:ColorSpace", "Linear");
    spec.attribute("compression", "zip");
    pic.floats = fb.rgb;
  } else if (ext == ".hdr") {
    // RGBE holds no negative values (its writer wraps them round to
    // bright ones) nor NaN: those become 0.
    pic.format = "hdr";
    spec.attribute("oiio:ColorSpace", "Linear");
    pic.floats.resize(fb.rgb.size());
    std::transform(fb.rgb.begin(), fb.rgb.end(), pic.floats.begin(), [](float c) {
      return c > 0.0f ? std::min(c, std::numeric_limits<float>::max()) : 0.0f;
    });
  } else if (ext == ".tif" || ext == ".tiff") {
    pic.format = "tiff";
    spec.attribute("compression", "zip");
    if (options.fullFloat) {
      spec.attribute("oiio:ColorSpace", "Linear");
      pic.floats = fb.rgb;
    } else {
      spec.set_format(OIIO::TypeDesc::UINT16);
      spec.attribute("oiio:ColorSpace", "sRGB");
      pic.bytes16.resize(fb.rgb.size());
      std::transform(fb.rgb.begin(), fb.rgb.end(), pic.bytes16.begin(),
                     [](float c) { return static_cast<uint16_t>(std::lround(toSrgb(c) * 65535.0f)); });
      pic.given = OIIO::TypeDesc::UINT16;
    }
  } else {
    throw Error("unknown picture type \"" + ext + "\": use " + pictureTypes());
  }
}

// Encodes through OpenImageIO, into memory (proxy given) or into a file.
void encode(const Picture &pic, const std::string &file, OIIO::Filesystem::IOProxy *proxy) {
  auto out = OIIO::ImageOutput::create(pic.format, proxy);
  if (!out) throw Error("no " + std::string(pic.format) + " writer: " + OIIO::geterror());
  const bool ok = out->open(file, pic.spec) && out->write_image(pic.given, pic.pixels()) && out->close();
  if (!ok || out->has_error()) {
    std::string error = "cannot write the picture: " + out->geterror();
    while (!error.empty() && error.back() == '\n') error.pop_back();
    for (std::size_t i; (i = error.find('\n')) != std::string::npos;) error.replace(i, 1, "; ");
    throw Error(error);
  }
}

// Fills an open file, given its descriptor and its name; throws Error.
using Fill = std::function<void(int fd, const std::string &name)>;

// Replaces path with what fill writes, through a temporary file in the same
// folder that is synced and then renamed over path. Targets that are not
// regular files (a device, a pipe) are written in place.
void replaceSafely(const std::string &path, const Fill &fill) {
  std::error_code ec;
  fs::path target(path);
  // A link is followed: the file it names is replaced, the link stays.
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  const fs::file_status st = fs::status(target, ec);
  if (fs::is_directory(st)) throw Error("cannot write: it is a folder");
  if (fs::exists(st) && !fs::is_regular_file(st)) {
    // A device or a pipe cannot be replaced; write into it.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw Error(systemFault("cannot open"));
    try {
      fill(fd, target.string());
    } catch (...) {
      ::close(fd);
      throw;
    }
    if (::close(fd) != 0) throw Error(systemFault("cannot write"));
    return;
  }

  // The picture's own permissions when it is replaced, else the usual ones.
  mode_t mode;
  struct stat old{};
  if (::stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  std::string temp = (folder / name).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Error(systemFault("cannot create a temporary file in the picture's folder"));
  // The first fault is the one told; the temporary file goes whatever failed.
  std::string error;
  try {
    fill(fd, temp);
  } catch (const Error &e) {
    error = e.what();
  }
  if (error.empty() && ::fchmod(fd, mode) != 0) error = systemFault("cannot set the permissions");
  if (error.empty() && ::fsync(fd) != 0) error = systemFault("cannot write");
  if (::close(fd) != 0 && error.empty()) error = systemFault("cannot write");
  if (error.empty() && ::rename(temp.c_str(), target.c_str()) != 0) error = systemFault("cannot replace the picture");
  if (!error.empty()) {
    ::unlink(temp.c_str());
    throw Error(error);
  }
}

// Runs fn, naming path in any Error it throws.
template <class Fn> void naming(const std::string &path, Fn &&fn) {
  try {
    fn();
  } catch (const Error &e) {
    throw Error(e.what(), path);
  }
}

} // namespace

unsigned char toDisplay(float linear) { return static_cast<unsigned char>(std::lround(toSrgb(linear) * 255.0f)); }

const char *pictureTypes() { return ".png, .exr, .hdr or .tif"; }

bool knownImageType(const std::string &path) {
  const std::string ext = extension(path);
  return ext == ".png" || ext == ".exr" || ext == ".hdr" || ext == ".tif" || ext == ".tiff";
}

bool hasFloatChoice(const std::string &path) {
  const std::string ext = extension(path);
  return ext == ".exr" || ext == ".tif" || ext == ".tiff";
}

void checkPictureTarget(const std::string &path) {
  if (!knownImageType(path)) throw Error("unknown picture type: use " + std::string(pictureTypes()), path);
  std::error_code ec;
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec))
    throw Error("no folder \"" + folder.string() + "\" to write into", path);
  if (fs::is_directory(path, ec)) throw Error("is a folder", path);
}

std::string framePath(const std::string &path, int frame) {
  const fs::path p(path);
  char number[16];
  std::snprintf(number, sizeof number, "_%04d", frame);
  return (p.parent_path() / (p.stem().string() + number + p.extension().string())).string();
}

void writeFileSafely(const std::string &path, const void *data, std::size_t size) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  naming(path, [&] { replaceSafely(path, [&](int fd, const std::string &) { writeAll(fd, bytes, size); }); });
}

void writeImage(const std::string &path, const FrameBuffer &fb, const PictureOptions &options) {
  naming(path, [&] {
    Picture pic;
    prepare(extension(path), fb, options, pic);
    if (std::strcmp(pic.format, "tiff") == 0) {
      // The TIFF writer does not finish its directory through a memory
      // proxy, but checks every write of its own: it writes the file itself.
      replaceSafely(path, [&](int, const std::string &name) { encode(pic, name, nullptr); });
      return;
    }
    // The other writers are encoded in memory first, since the PNG writer
    // reports success on a write that failed; the bytes then reach the disk
    // through calls whose every result is checked here.
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    encode(pic, "picture" + extension(path), &memory);
    replaceSafely(path, [&](int fd, const std::string &) { writeAll(fd, bytes.data(), bytes.size()); });
  });
}

} // namespace hostsim
