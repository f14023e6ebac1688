#include "hostsim/services/image_list.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace hostsim {
namespace {

namespace fs = std::filesystem;

ImageList *gCurrent = nullptr;

// Longest reference a scene stream may hold; longer ones are cut and then
// simply name no image.
constexpr int32_t kMaxReference = 4096;

Image *imageOf(LWImageID id) {
  auto *img = reinterpret_cast<Image *>(id);
  return img && img->index >= 0 ? img : nullptr;
}

struct Ops {
  static LWImageID first() {
    return gCurrent && !gCurrent->images().empty() ? reinterpret_cast<LWImageID>(gCurrent->images().front()) : nullptr;
  }
  static LWImageID next(LWImageID id) {
    const Image *img = imageOf(id);
    return img && gCurrent ? reinterpret_cast<LWImageID>(gCurrent->at(static_cast<std::size_t>(img->index) + 1)) : nullptr;
  }
  static LWImageID load(const char *filename) {
    return filename && gCurrent ? reinterpret_cast<LWImageID>(gCurrent->load(filename)) : nullptr;
  }
  static const char *name(LWImageID id) {
    const Image *img = imageOf(id);
    return img ? img->name.c_str() : nullptr;
  }
  static const char *filename(LWImageID id, LWFrame) {
    const Image *img = imageOf(id);
    return img ? img->path.c_str() : nullptr;
  }
  static void size(LWImageID id, int32_t *w, int32_t *h) {
    const Image *img = imageOf(id);
    if (w) *w = img ? img->width : 0;
    if (h) *h = img ? img->height : 0;
  }
  // Outside the image: black, and alpha 0.
  static void rgb(LWImageID id, int32_t x, int32_t y, float out[3]) {
    const Image *img = imageOf(id);
    if (!out) return;
    if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) {
      out[0] = out[1] = out[2] = 0.0f;
      return;
    }
    std::memcpy(out, img->pixel(x, y), 3 * sizeof(float));
  }
  static float alpha(LWImageID id, int32_t x, int32_t y) {
    const Image *img = imageOf(id);
    if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) return 0.0f;
    return img->pixel(x, y)[3];
  }
  static int32_t hasAlpha(LWImageID id) {
    const Image *img = imageOf(id);
    return img && img->hasAlpha ? 1 : 0;
  }
  // Bilinear between the four pixel centres around (u, v), u wrapping round
  // (spherical maps meet themselves at the seam) and v held at the edges;
  // blend 0 takes the nearest pixel. No pre-filtered levels, so the spot size
  // does not widen the filter.
  static void spot(LWImageID id, double u, double v, double, int32_t blend, double out[3]) {
    const Image *img = imageOf(id);
    if (!out) return;
    if (!img || img->width <= 0 || img->height <= 0 || !std::isfinite(u) || !std::isfinite(v)) {
      out[0] = out[1] = out[2] = 0.0;
      return;
    }
    const int32_t w = img->width, h = img->height;
    const double fx = (u - std::floor(u)) * w - 0.5;
    const double fy = std::clamp(v, 0.0, 1.0) * h - 0.5;
    auto wrapX = [w](int64_t x) { return static_cast<int32_t>(((x % w) + w) % w); };
    auto clampY = [h](int64_t y) { return static_cast<int32_t>(std::clamp<int64_t>(y, 0, h - 1)); };
    if (!blend) {
      const float *p = img->pixel(wrapX(std::llround(fx)), clampY(std::llround(fy)));
      for (int c = 0; c < 3; ++c) out[c] = p[c];
      return;
    }
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const double tx = fx - x0, ty = fy - y0;
    const int32_t xa = wrapX(static_cast<int64_t>(x0)), xb = wrapX(static_cast<int64_t>(x0) + 1);
    const int32_t ya = clampY(static_cast<int64_t>(y0)), yb = clampY(static_cast<int64_t>(y0) + 1);
    const float *p00 = img->pixel(xa, ya), *p10 = img->pixel(xb, ya);
    const float *p01 = img->pixel(xa, yb), *p11 = img->pixel(xb, yb);
    for (int c = 0; c < 3; ++c)
      out[c] = (p00[c] * (1 - tx) + p10[c] * tx) * (1 - ty) + (p01[c] * (1 - tx) + p11[c] * tx) * ty;
  }
  // A reference is one stream string: the image's reference, empty for none.
  static LWImageID sceneLoad(const LWLoadState *ls) {
    if (!ls || !gCurrent) return nullptr;
    std::vector<char> buf(kMaxReference);
    if (ls->readStr(ls->readData, buf.data(), kMaxReference) <= 0) return nullptr;
    const std::string ref(buf.data());
    Image *img = gCurrent->find(ref);
    if (!img) img = gCurrent->load(ref);
    return reinterpret_cast<LWImageID>(img);
  }
  static void sceneSave(const LWSaveState *ss, LWImageID id) {
    if (!ss || !gCurrent) return;
    const Image *img = imageOf(id);
    ss->writeStr(ss->writeData, img ? gCurrent->referenceFor(*img).c_str() : "");
  }
};

} // namespace

ImageList::ImageList() {
  funcs_.first = &Ops::first;
  funcs_.next = &Ops::next;
  funcs_.load = &Ops::load;
  funcs_.name = &Ops::name;
  funcs_.filename = &Ops::filename;
  funcs_.size = &Ops::size;
  funcs_.RGB = &Ops::rgb;
  funcs_.alpha = &Ops::alpha;
  funcs_.hasAlpha = &Ops::hasAlpha;
  funcs_.spot = &Ops::spot;
  funcs_.sceneLoad = &Ops::sceneLoad;
  funcs_.sceneSave = &Ops::sceneSave;
}

ImageList::~ImageList() {
  if (gCurrent == this) gCurrent = nullptr;
}

void ImageList::makeCurrent() { gCurrent = this; }

std::string ImageList::resolve(const std::string &reference) const {
  fs::path p(reference);
  if (p.is_relative() && !baseDir_.empty()) p = fs::path(baseDir_) / p;
  return fs::absolute(p).lexically_normal().string();
}

Image *ImageList::load(const std::string &reference, std::string *error, const std::string &name) {
  std::string why;
  auto img = readImageFile(resolve(reference), why);
  if (!img) {
    if (error) *error = why;
    return nullptr;
  }
  img->reference = reference;
  if (!name.empty()) img->name = name;
  order_.push_back(img.get());
  owned_.push_back(std::move(img));
  renumber();
  return order_.back();
}

Image *ImageList::find(const std::string &reference) const {
  const std::string path = resolve(reference);
  for (Image *img : order_)
    if (img->path == path) return img;
  return nullptr;
}

void ImageList::remove(Image *image) {
  std::erase(order_, image);
  if (image) image->index = -1;
  renumber();
}

void ImageList::clear() {
  for (Image *img : order_) img->index = -1;
  order_.clear();
}

void ImageList::move(Image *image, std::size_t position) {
  auto it = std::find(order_.begin(), order_.end(), image);
  if (it == order_.end()) return;
  order_.erase(it);
  order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(std::min(position, order_.size())), image);
  renumber();
}

void ImageList::renumber() {
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i]->index = static_cast<int>(i);
}

std::string ImageList::referenceFor(const Image &image) const {
  const fs::path abs(image.path); // absolute already
  if (baseDir_.empty()) return abs.generic_string();
  const fs::path rel = abs.lexically_relative(fs::absolute(baseDir_).lexically_normal());
  return rel.empty() ? abs.generic_string() : rel.generic_string();
}

} // namespace hostsim
