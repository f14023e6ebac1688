#include "hostsim/services/image_list.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "hostsim/paths.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

ImageList *gCurrent = nullptr;

// Longest reference a scene stream may hold; longer ones are cut and then
// simply name no image.
constexpr int32_t kMaxReference = 4096;

// The image list: walking it and reading an image's size and pixels are
// reads a render thread may make while it evaluates; everything else
// (loading, names, scene load and save, change events) belongs to the host's
// callbacks outside evaluation. An image is one in the list: one taken out
// of it is gone, as the host frees it.
constexpr const char *kImages = "LW Image List";

Image *image(Call &call, LWImageID id, const char *argument = "the image") noexcept {
  return call && call.handle(id, Handle::Image, argument) ? reinterpret_cast<Image *>(id) : nullptr;
}
Image *image(const char *function, From from, LWImageID id) noexcept {
  Call call(kImages, function, from);
  return image(call, id);
}

struct Ops {
  static LWImageID first() noexcept {
    Call call(kImages, "first", From::AnyCallback);
    return call && gCurrent && !gCurrent->images().empty() ? reinterpret_cast<LWImageID>(gCurrent->images().front())
                                                            : nullptr;
  }
  static LWImageID next(LWImageID id) noexcept {
    const Image *img = image("next", From::AnyCallback, id);
    return img && gCurrent ? reinterpret_cast<LWImageID>(gCurrent->at(static_cast<std::size_t>(img->index) + 1)) : nullptr;
  }
  static LWImageID load(const char *filename) noexcept {
    Call call(kImages, "load", From::HostCallback);
    if (!call || !call.pointer(filename, "the file name") || !gCurrent) return nullptr;
    return call.answer(nullptr, [&] { return reinterpret_cast<LWImageID>(gCurrent->loadForModule(filename)); });
  }
  static const char *name(LWImageID id) noexcept {
    const Image *img = image("name", From::HostCallback, id);
    return img ? img->name.c_str() : nullptr;
  }
  static const char *filename(LWImageID id, LWFrame) noexcept {
    const Image *img = image("filename", From::HostCallback, id);
    return img ? img->path.c_str() : nullptr;
  }
  static void size(LWImageID id, int32_t *w, int32_t *h) noexcept {
    const Image *img = image("size", From::AnyCallback, id);
    if (w) *w = img ? img->width : 0;
    if (h) *h = img ? img->height : 0;
  }
  static const Image *pixels(Call &call, LWImageID id, const void *out) noexcept {
    Image *img = image(call, id);
    return img && call.pointer(out, "the result") ? img : nullptr;
  }
  // Outside the image: black, and alpha 0.
  static void rgb(LWImageID id, int32_t x, int32_t y, float out[3]) noexcept {
    Call call(kImages, "RGB", From::AnyCallback);
    if (gCurrent) gCurrent->countPixelRead();
    const Image *img = pixels(call, id, out);
    if (!out) return;
    if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) {
      out[0] = out[1] = out[2] = 0.0f;
      return;
    }
    std::memcpy(out, img->pixel(x, y), 3 * sizeof(float));
  }
  static float alpha(LWImageID id, int32_t x, int32_t y) noexcept {
    const Image *img = image("alpha", From::AnyCallback, id);
    if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) return 0.0f;
    return img->pixel(x, y)[3];
  }
  static int32_t hasAlpha(LWImageID id) noexcept {
    const Image *img = image("hasAlpha", From::AnyCallback, id);
    return img && img->hasAlpha ? 1 : 0;
  }
  // Bilinear between the four pixel centres around (u, v), u wrapping round
  // (spherical maps meet themselves at the seam) and v held at the edges;
  // blend 0 takes the nearest pixel. No pre-filtered levels, so the spot size
  // does not widen the filter. Channels first to first + count - 1 of the
  // RGBA pixels; outside any image, zero.
  static void filtered(const Image *img, double u, double v, int32_t blend, int first, int count, double *out) noexcept {
    if (!out) return;
    if (!img || img->width <= 0 || img->height <= 0 || !std::isfinite(u) || !std::isfinite(v)) {
      for (int c = 0; c < count; ++c) out[c] = 0.0;
      return;
    }
    const int32_t w = img->width, h = img->height;
    const double fx = (u - std::floor(u)) * w - 0.5;
    const double fy = std::clamp(v, 0.0, 1.0) * h - 0.5;
    auto wrapX = [w](int64_t x) { return static_cast<int32_t>(((x % w) + w) % w); };
    auto clampY = [h](int64_t y) { return static_cast<int32_t>(std::clamp<int64_t>(y, 0, h - 1)); };
    if (!blend) {
      const float *p = img->pixel(wrapX(std::llround(fx)), clampY(std::llround(fy)));
      for (int c = 0; c < count; ++c) out[c] = p[first + c];
      return;
    }
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const double tx = fx - x0, ty = fy - y0;
    const int32_t xa = wrapX(static_cast<int64_t>(x0)), xb = wrapX(static_cast<int64_t>(x0) + 1);
    const int32_t ya = clampY(static_cast<int64_t>(y0)), yb = clampY(static_cast<int64_t>(y0) + 1);
    const float *p00 = img->pixel(xa, ya) + first, *p10 = img->pixel(xb, ya) + first;
    const float *p01 = img->pixel(xa, yb) + first, *p11 = img->pixel(xb, yb) + first;
    for (int c = 0; c < count; ++c)
      out[c] = (p00[c] * (1 - tx) + p10[c] * tx) * (1 - ty) + (p01[c] * (1 - tx) + p11[c] * tx) * ty;
  }
  static void spot(LWImageID id, double u, double v, double, int32_t blend, double out[3]) noexcept {
    Call call(kImages, "RGBSpot", From::AnyCallback);
    filtered(pixels(call, id, out), u, v, blend, 0, 3, out);
  }
  static double alphaSpot(LWImageID id, double u, double v, double, int32_t blend) noexcept {
    double a = 0.0;
    filtered(image("alphaSpot", From::AnyCallback, id), u, v, blend, 3, 1, &a);
    return a;
  }
  // Luma as the host's conversions take it: Rec. 709 weights.
  static double luma709(const double c[3]) noexcept { return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2]; }
  static double lumaSpot(LWImageID id, double u, double v, double, int32_t blend) noexcept {
    double c[3];
    filtered(image("lumaSpot", From::AnyCallback, id), u, v, blend, 0, 3, c);
    return luma709(c);
  }
  static float luma(LWImageID id, int32_t x, int32_t y) noexcept {
    const Image *img = image("luma", From::AnyCallback, id);
    if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) return 0.0f;
    const float *p = img->pixel(x, y);
    const double d[3] = {p[0], p[1], p[2]};
    return static_cast<float>(luma709(d));
  }
  // Colour unless every pixel is a grey.
  static int32_t isColor(LWImageID id) noexcept {
    const Image *img = image("isColor", From::HostCallback, id);
    if (!img) return 0;
    for (std::size_t i = 0; i + 3 < img->rgba.size(); i += 4)
      if (img->rgba[i] != img->rgba[i + 1] || img->rgba[i + 1] != img->rgba[i + 2]) return 1;
    return 0;
  }
  // Spots are filtered as asked already.
  static void needAA(LWImageID id) noexcept { image("needAA", From::HostCallback, id); }
  // Takes the image out of the list: it is gone.
  static void clear(LWImageID id) noexcept {
    Call call(kImages, "clear", From::HostCallback);
    if (Image *img = image(call, id); img && gCurrent) call.perform([&] { gCurrent->remove(img); });
  }
  // The stand-in host keeps no pixmaps and no image savers.
  static LWPixmapID evaluate(LWImageID id, LWTime) noexcept {
    image("evaluate", From::HostCallback, id);
    return nullptr;
  }
  static LWPixmapID create(const char *, int32_t, int32_t, LWImageType) noexcept {
    Call call(kImages, "create", From::HostCallback);
    return nullptr;
  }
  static void saverNotifyAttach(LWInstance, LWImageID (*)(LWInstance)) noexcept {
    Call call(kImages, "saverNotifyAttach", From::HostCallback);
  }
  static void saverNotifyDetach(LWInstance) noexcept { Call call(kImages, "saverNotifyDetach", From::HostCallback); }
  static void saverNotifyMarkUsage(LWTextureID) noexcept { Call call(kImages, "saverNotifyMarkUsage", From::HostCallback); }
  static void changeEvent(LWImageEventFunc func, int32_t registration) noexcept {
    Call call(kImages, "changeEvent", From::HostCallback);
    if (call && call.pointer(reinterpret_cast<void *>(func), "the event function") &&
        call.known(registration == LWERR_REGISTER || registration == LWERR_UNREGISTER, "the registration",
                   [&] { return std::to_string(registration) + " is neither 0 (register) nor 1 (unregister)"; }) &&
        gCurrent)
      call.perform([&] { gCurrent->watch(func, registration == LWERR_REGISTER); });
  }
  static int32_t replace(LWImageID id, const char *filename) noexcept {
    Call call(kImages, "replace", From::HostCallback);
    Image *img = image(call, id);
    if (!img || !call.pointer(filename, "the file name") || !gCurrent) return 0;
    return call.answer(0, [&] {
      try {
        gCurrent->replace(img, filename);
      } catch (const Error &) {
        return 0; // a file it cannot read: the image stays as it was
      }
      return 1;
    });
  }
  // A reference is one stream string: the image's reference, empty for none.
  // Only from the load callback, from the state handed to it.
  static LWImageID sceneLoad(const LWLoadState *ls) noexcept {
    Call call(kImages, "sceneLoad", From::HostCallback);
    if (!call || !call.loadState(ls, "the load state") || !gCurrent) return nullptr;
    return call.answer(nullptr, [&]() -> LWImageID {
      std::vector<char> buf(kMaxReference);
      if (ls->readStr(ls->readData, buf.data(), kMaxReference) <= 0) return nullptr;
      const std::string ref(buf.data());
      Image *img = gCurrent->find(ref);
      // An image a node's block names that cannot be read is none.
      if (!img) img = gCurrent->loadForModule(ref);
      return reinterpret_cast<LWImageID>(img);
    });
  }
  static void sceneSave(const LWSaveState *ss, LWImageID id) noexcept {
    Call call(kImages, "sceneSave", From::HostCallback);
    if (!call || !call.saveState(ss, "the save state") || !gCurrent) return;
    // No image (null) saves as none.
    const Image *img = id && call.handle(id, Handle::Image, "the image") ? reinterpret_cast<Image *>(id) : nullptr;
    call.perform([&] { ss->writeStr(ss->writeData, img ? gCurrent->referenceFor(*img).c_str() : ""); });
  }
};

} // namespace

#if !JUXS_IMAGE_FILES
// Image files are read by the Linux build (with the renderer); here the list
// holds only images a caller adds itself.
std::unique_ptr<Image> readImageFile(const std::string &path) {
  throw Error("cannot read image \"" + path + "\": this build reads no image files", path);
}
#endif

ImageList::ImageList(Checks &checks) : checks_(checks) {
  funcs_.first = handed(&Ops::first);
  funcs_.next = handed(&Ops::next);
  funcs_.load = handed(&Ops::load);
  funcs_.name = handed(&Ops::name);
  funcs_.filename = handed(&Ops::filename);
  funcs_.isColor = handed(&Ops::isColor);
  funcs_.needAA = handed(&Ops::needAA);
  funcs_.size = handed(&Ops::size);
  funcs_.luma = handed(&Ops::luma);
  funcs_.RGB = handed(&Ops::rgb);
  funcs_.lumaSpot = handed(&Ops::lumaSpot);
  funcs_.RGBSpot = handed(&Ops::spot);
  funcs_.clear = handed(&Ops::clear);
  funcs_.sceneLoad = handed(&Ops::sceneLoad);
  funcs_.sceneSave = handed(&Ops::sceneSave);
  funcs_.hasAlpha = handed(&Ops::hasAlpha);
  funcs_.alpha = handed(&Ops::alpha);
  funcs_.alphaSpot = handed(&Ops::alphaSpot);
  funcs_.evaluate = handed(&Ops::evaluate);
  funcs_.changeEvent = handed(&Ops::changeEvent);
  funcs_.replace = handed(&Ops::replace);
  funcs_.create = handed(&Ops::create);
  funcs_.saverNotifyAttach = handed(&Ops::saverNotifyAttach);
  funcs_.saverNotifyDetach = handed(&Ops::saverNotifyDetach);
  funcs_.saverNotifyMarkUsage = handed(&Ops::saverNotifyMarkUsage);
}

ImageList::~ImageList() {
  if (gCurrent == this) gCurrent = nullptr;
}

void ImageList::makeCurrent() { gCurrent = this; }

// A reference comes from scene files and node blocks, which may hold any
// bytes: where the system cannot make a file name of them (bytes that are not
// UTF-8, on Windows) the reference names no file, and the answer is empty.
std::string ImageList::resolve(const std::string &reference) const {
  try {
    fs::path p = pathFromUtf8(reference);
    if (p.is_relative() && !baseDir_.empty()) p = pathFromUtf8(baseDir_) / p;
    return utf8Of(fs::absolute(p).lexically_normal());
  } catch (const fs::filesystem_error &) {
    return {};
  }
}

namespace {
std::unique_ptr<Image> readResolved(const std::string &reference, const std::string &path) {
  if (path.empty()) throw Error("cannot read image: the reference is not a file name this system can open", reference);
  return readImageFile(path);
}
} // namespace

Image *ImageList::load(const std::string &reference, const std::string &name) {
  auto img = readResolved(reference, resolve(reference));
  img->reference = reference;
  if (!name.empty()) img->name = name;
  // Owned first, then booked, then listed: a step that fails (no memory)
  // leaves an image the list does not show, and nothing in the book.
  Image *added = img.get();
  owned_.push_back(std::move(img));
  Booking booked(checks_, added, Handle::Image);
  order_.push_back(added);
  booked.keep();
  renumber();
  return added;
}

// A file the module asks for and the list cannot read is a null answer to
// the module, and a fault the host keeps for whoever acts for the user.
Image *ImageList::loadForModule(const std::string &reference) {
  try {
    return load(reference);
  } catch (const Error &e) {
    failedLoad_ = e.what();
  }
  return nullptr;
}

Image *ImageList::find(const std::string &reference) const {
  const std::string path = resolve(reference);
  if (path.empty()) return nullptr;
  for (Image *img : order_)
    if (img->path == path) return img;
  return nullptr;
}

void ImageList::remove(Image *image) {
  if (!image || image->index < 0) return;
  tell(LWCEV_DESTROY, image);
  std::erase(order_, image);
  image->index = -1;
  checks_.destroyed(image);
  renumber();
}

void ImageList::replace(Image *image, const std::string &reference) {
  auto fresh = readResolved(reference, resolve(reference));
  std::string kept = reference; // the last copy that may fail (no memory), before the image changes
  image->reference.swap(kept);
  image->path.swap(fresh->path);
  image->width = fresh->width;
  image->height = fresh->height;
  image->hasAlpha = fresh->hasAlpha;
  image->rgba = std::move(fresh->rgba);
  tell(LWCEV_REPLACE, image);
}

void ImageList::watch(LWImageEventFunc func, bool on) {
  if (on) watchers_.reserve(watchers_.size() + 1); // what may fail, before the list changes
  std::erase(watchers_, func);
  if (on) watchers_.push_back(func);
}

void ImageList::tell(int32_t code, Image *image) {
  const std::vector<LWImageEventFunc> now = watchers_; // a watcher may unregister itself
  for (LWImageEventFunc f : now) {
    CallbackScope scope(Callback::ImageEvent, nullptr);
    f(code, reinterpret_cast<LWImageID>(image));
  }
}

void ImageList::clear() {
  for (Image *img : order_) {
    img->index = -1;
    checks_.destroyed(img);
  }
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
  const fs::path abs = pathFromUtf8(image.path); // absolute already
  if (baseDir_.empty()) return utf8Of(abs, true);
  const fs::path rel = abs.lexically_relative(fs::absolute(pathFromUtf8(baseDir_)).lexically_normal());
  return utf8Of(rel.empty() ? abs : rel, true);
}

} // namespace hostsim
