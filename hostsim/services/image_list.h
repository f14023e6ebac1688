// The image list ("LW Image List 5", and "LW Image List 6" with the same
// record): the host's images, held as float RGBA in linear light.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/lw_image.h"
#include "hostsim/checks.h"
#include "hostsim/error.h"

namespace hostsim {

// LWImageID points here.
struct Image {
  std::string name;      // shown in image popups: the file's stem, or the scene's name for it
  std::string reference; // what scene streams and scene files hold: the path as given
  std::string path;      // where the file was read from
  int32_t width = 0, height = 0;
  bool hasAlpha = false;
  std::vector<float> rgba; // row by row from the top, four floats a pixel
  int index = -1;          // position in the list, -1 once removed

  const float *pixel(int32_t x, int32_t y) const { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
};

// What one image may take once decoded, and its longest side: a file whose
// header asks for more is refused before anything is allocated.
constexpr uint64_t kImageBudgetBytes = uint64_t(2) << 30; // 16384 x 8192 float RGBA
constexpr int32_t kMaxImageSide = 65536;

// Reads an image file: PNG, JPEG, TIFF, OpenEXR, Radiance HDR, TGA or BMP.
// Integer samples are decoded to linear light (sRGB unless the file says
// linear or gives a gamma), float samples are linear already. Null and one
// Throws Error naming the file and the fault. Defined apart from the list
// (image_file.cpp), where the decoders are.
std::unique_ptr<Image> readImageFile(const std::string &path);

class ImageList {
public:
  explicit ImageList(Checks &checks);
  ~ImageList();
  ImageList(const ImageList &) = delete;
  ImageList &operator=(const ImageList &) = delete;

  const LWImageList *funcs() const { return &funcs_; }
  // The C table acts on the list made current by its host.
  void makeCurrent();

  // Relative references are read and written against this folder: the folder
  // of the scene file being loaded or saved.
  void setBaseDir(const std::string &dir) { baseDir_ = dir; }
  const std::string &baseDir() const { return baseDir_; }

  // Loads a file and appends it, last in the list, as the host does with a
  // newly loaded image (a file loaded twice is two images). Throws Error
  // naming the reference when the file cannot be read.
  Image *load(const std::string &reference, const std::string &name = "");
  // The image whose reference names the same file, or null.
  Image *find(const std::string &reference) const;
  void remove(Image *image);
  // Reads another file into an image, keeping its place and its id. Throws
  // Error as load does, leaving the image as it was.
  void replace(Image *image, const std::string &reference);
  // Image change events: a registered function hears LWCEV_* codes.
  void watch(LWImageEventFunc func, bool on);
  // Empties the list, as loading another scene does.
  void clear();
  // Moves an image to a new position (tests reorder the list).
  void move(Image *image, std::size_t position);

  const std::vector<Image *> &images() const { return order_; }
  Image *at(std::size_t i) const { return i < order_.size() ? order_[i] : nullptr; }

  // The reference written into a scene: relative to the base folder when the
  // file lies below it, else the absolute path.
  std::string referenceFor(const Image &image) const;

  // A load the module asks for through the C table. A file that cannot be
  // read answers null, and its fault is kept for takeFailedLoad: a host
  // shows a user why the file did not load. Throws only when the host has no
  // memory for it.
  Image *loadForModule(const std::string &reference);
  // Why the last such load failed, once; empty when none failed since.
  std::string takeFailedLoad() { return std::exchange(failedLoad_, {}); }

  // Pixel colour reads through the C table, for tests of who reads what.
  uint64_t pixelReads() const { return pixelReads_.load(std::memory_order_relaxed); }
  void countPixelRead() { pixelReads_.fetch_add(1, std::memory_order_relaxed); }

private:
  std::string resolve(const std::string &reference) const;
  void renumber();

  Checks &checks_; // where its images are booked
  LWImageList funcs_{};
  std::string baseDir_;
  std::vector<std::unique_ptr<Image>> owned_; // every image ever loaded: a stale ID stays memory the host owns
  std::vector<Image *> order_;                // the list as the module walks it
  std::atomic<uint64_t> pixelReads_{0};
  std::vector<LWImageEventFunc> watchers_;
  std::string failedLoad_;
  void tell(int32_t code, Image *image);
};

} // namespace hostsim
