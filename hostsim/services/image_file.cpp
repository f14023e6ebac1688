// Decoding image files into the image list's linear float RGBA, through
// OpenImageIO. Kept apart from the list itself: the list is host core and
// builds everywhere, the decoders are a Linux-only layer.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>

#include <OpenImageIO/imageio.h>

#if defined(__SANITIZE_ADDRESS__)
#define JUXS_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JUXS_LEAK_CHECKER 1
#endif
#endif
#ifdef JUXS_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

#include "hostsim/paths.h"
#include "hostsim/services/image_list.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

float srgbToLinear(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }

// How many pixels one byte of a file of each format can describe at the very
// most, with its best compression of the plainest picture (a run-length run,
// a deflate stream of one repeated byte, a JPEG block with no detail), and
// some room beyond. A header that claims more pixels than this lets the file
// hold is a lie, found before a byte is allocated for the pixels.
struct FormatLimit {
  std::string_view name;    // OpenImageIO's format name
  uint64_t pixelsPerByte;
};
constexpr std::array<FormatLimit, 7> kFormats{{
    {"hdr", 16},         // run-length runs of at most 127 per two bytes, per component
    {"bmp", 128},        // RLE8 runs of 255 pixels in two bytes
    {"targa", 128},      // run-length packets of 128 pixels
    {"jpeg", 1024},      // a flat 8x8 block still takes a few bits
    {"png", 65536},      // deflate, down to one bit a pixel
    {"tiff", 65536},     // deflate or LZW, down to one bit a pixel
    {"openexr", 65536},  // wavelet and run-length coders of flat areas
}};

const FormatLimit *formatLimit(std::string_view name) {
  for (const FormatLimit &f : kFormats)
    if (f.name == name) return &f;
  return nullptr;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// How integer samples become linear light: linear when the file says so,
// a plain power when it gives a gamma, else the sRGB curve.
enum class Encoding { Linear, Gamma, Srgb };

Encoding encodingOf(const OIIO::ImageSpec &spec, float &gamma) {
  const std::string cs = lower(spec.get_string_attribute("oiio:ColorSpace"));
  if (cs == "linear" || cs == "scene_linear" || cs == "lin_srgb" || cs == "lin_rec709" || cs == "raw") return Encoding::Linear;
  gamma = spec.get_float_attribute("oiio:Gamma", 0.0f);
  if (cs.rfind("gamma", 0) == 0 && gamma > 0.0f && std::isfinite(gamma)) return gamma == 1.0f ? Encoding::Linear : Encoding::Gamma;
  return Encoding::Srgb;
}

// libpng, as OpenImageIO sets it up, prints its faults on stderr besides
// returning them; the fault is reported once, in one line, by the caller.
// Image files are read on the host thread, never while a render prints.
class QuietStderr {
public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ < 0 || null < 0 || ::dup2(null, STDERR_FILENO) < 0) restore();
    if (null >= 0) ::close(null);
  }
  ~QuietStderr() { restore(); }
  QuietStderr(const QuietStderr &) = delete;
  QuietStderr &operator=(const QuietStderr &) = delete;

private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  int saved_ = -1;
};

} // namespace

std::unique_ptr<Image> readImageFile(const std::string &path) {
  const std::string quoted = "\"" + path + "\"";
  if (const std::string kind = notAFile(pathFromUtf8(path)); !kind.empty())
    throw Error("cannot open image " + quoted + ": it is " + kind + ", not a file", path);
  // Open it ourselves first, for the system's own reason when it cannot be.
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    throw Error("cannot open image " + quoted + ": " + std::strerror(errno), path);
  }
  std::error_code ec;
  const uintmax_t fileBytes = fs::file_size(path, ec);
  if (ec) {
    throw Error("cannot open image " + quoted + ": " + ec.message(), path);
  }
  auto fault = [&](const std::string &why) { return Error("cannot read image " + quoted + ": " + oneLine(why), path); };

  const QuietStderr quiet;
  // Colours as the file holds them: without this, OpenImageIO multiplies the
  // colour of PNG and TGA files by their alpha.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) throw fault(OIIO::geterror());
  const OIIO::ImageSpec spec = in->spec();
  const std::string format = in->format_name();
  const FormatLimit *limit = formatLimit(format);
  if (!limit) throw fault("a " + format + " file, not a format images are read from");
  if (spec.deep) throw fault("deep images are not read");
  if (spec.width < 1 || spec.height < 1 || spec.depth != 1 || spec.nchannels < 1)
    throw fault("no pixels, or a volume (" + std::to_string(spec.width) + "x" + std::to_string(spec.height) + "x" +
                 std::to_string(spec.depth) + ", " + std::to_string(spec.nchannels) + " channels)");
  if (spec.width > kMaxImageSide || spec.height > kMaxImageSide)
    throw fault(std::to_string(spec.width) + "x" + std::to_string(spec.height) + " pixels: a side over " +
                 std::to_string(kMaxImageSide));
  const uint64_t pixels = static_cast<uint64_t>(spec.width) * static_cast<uint64_t>(spec.height);
  if (pixels > static_cast<uint64_t>(fileBytes) * limit->pixelsPerByte)
    throw fault("the header claims " + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                 " pixels, more than its " + std::to_string(fileBytes) + " bytes can hold");
  const uint64_t bytes = pixels * 4 * sizeof(float);
  if (bytes > kImageBudgetBytes)
    throw fault(std::to_string(spec.width) + "x" + std::to_string(spec.height) + " pixels would take " +
                 std::to_string(bytes >> 20) + " MiB, over the " + std::to_string(kImageBudgetBytes >> 20) +
                 " MiB an image may take");

  auto img = std::make_unique<Image>();
  img->width = spec.width;
  img->height = spec.height;
  try {
    img->rgba.resize(pixels * 4);
  } catch (const std::bad_alloc &) {
    throw fault("not enough memory for " + std::to_string(spec.width) + "x" + std::to_string(spec.height) + " pixels");
  }
  // Grey, grey and alpha, colour, or colour and alpha: read straight into
  // the RGBA rows, then spread grey and move alpha into place.
  const int nch = spec.nchannels;
  const bool alpha = (nch == 2 && spec.alpha_channel == 1) || (nch >= 4 && spec.alpha_channel == 3);
  const int read = nch == 1 ? 1 : nch == 2 ? 2 : alpha ? 4 : 3;
  bool ok;
  {
#ifdef JUXS_LEAK_CHECKER
    // OpenImageIO's PNG reader builds the text of a damaged file's error in
    // a frame that libpng then jumps out of, so that string is never freed by
    // anyone. What the decoder allocates is not ours to report, and broken
    // pictures must be testable and fuzzable under the leak checker.
    const __lsan::ScopedDisabler decoderOwn;
#endif
    ok = in->read_image(0, 0, 0, read, OIIO::TypeDesc::FLOAT, img->rgba.data(), 4 * sizeof(float));
  }
  // Some decoders carry on past damage and only say so afterwards.
  ok = ok && !in->has_error() && in->close();
  if (!ok) throw fault(in->geterror());

  float gamma = 1.0f;
  const Encoding enc = spec.format.is_floating_point() ? Encoding::Linear : encodingOf(spec, gamma);
  auto decode = [&](float c) {
    return enc == Encoding::Srgb ? srgbToLinear(c) : std::pow(std::max(c, 0.0f), gamma);
  };
  // 8- and 16-bit samples take one of 256 or 65536 values: decode each once.
  std::vector<float> table;
  const std::size_t bits = spec.format.size() * 8;
  if (enc != Encoding::Linear && bits <= 16) {
    table.resize(std::size_t(1) << bits);
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = decode(static_cast<float>(k) / (table.size() - 1));
  }
  for (std::size_t i = 0; i < pixels; ++i) {
    float *p = &img->rgba[i * 4];
    if (read == 2 && alpha) p[3] = p[1];
    if (read <= 2) p[1] = p[2] = p[0];
    if (!alpha) p[3] = 1.0f;
    if (enc == Encoding::Linear) continue;
    for (int c = 0; c < 3; ++c) { // alpha is a plain fraction, never display-encoded
      if (!table.empty()) {
        const float k = std::clamp(p[c], 0.0f, 1.0f) * (table.size() - 1);
        p[c] = table[static_cast<std::size_t>(k + 0.5f)];
      } else {
        p[c] = decode(p[c]);
      }
    }
  }
  img->hasAlpha = alpha;
  img->path = path;
  img->name = fs::path(path).stem().string();
  return img;
}

} // namespace hostsim
