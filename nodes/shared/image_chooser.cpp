#include "nodes/shared/image_chooser.h"

namespace juxs::image {
namespace {

// A host whose next links ran in a circle would keep a walk going for ever;
// no scene holds this many images, and a 16-bit stored index reaches far fewer.
constexpr int32_t kMaxImages = 1 << 20;

int32_t &countOf(const ChooserKind &c, void *inst) { return fw::field<int32_t>(inst, c.countOffset); }
int32_t &indexOf(const ChooserKind &c, void *inst) { return fw::field<int32_t>(inst, c.indexOffset); }
int32_t indexOf(const ChooserKind &c, const void *inst) { return fw::field<int32_t>(inst, c.indexOffset); }

// Sets the popup's value through the panel, as the user would have.
void showItem(const ChooserKind &c, void *inst, int32_t item) {
  const LWXPanelFuncs *xp = c.svc->xpanel;
  LWXPanelID panel = c.panelOffset == fw::kNoField ? nullptr : fw::field<LWXPanelID>(inst, c.panelOffset);
  if (xp && panel) xp->formSet(panel, c.svc->imageControl, &item);
}

} // namespace

int32_t countImages(const LWImageList *images) noexcept {
  if (!images) return 0;
  int32_t n = 0;
  for (LWImageID img = images->first(); img && n < kMaxImages; img = images->next(img)) ++n;
  return n;
}

LWImageID resolveImage(const LWImageList *images, int32_t index) noexcept {
  if (!images || index <= 0) return nullptr;
  if (index == countImages(images) + 1) return nullptr; // "(load Image)"
  LWImageID img = images->first();
  for (int32_t i = 1; img && i < index; ++i) img = images->next(img);
  return img;
}

int32_t popupCount(const ChooserKind &c, void *inst) noexcept {
  const int32_t n = countImages(c.svc->images);
  // The list shrank under a choice that no longer exists: show "(none)".
  if (inst && countOf(c, inst) > n + 2 && indexOf(c, inst) >= n + 1) showItem(c, inst, 0);
  return n + 2;
}

const char *popupName(const ChooserKind &c, void *inst, int32_t item) noexcept {
  if (item == 0) return kNoImage;
  const int32_t n = countImages(c.svc->images);
  if (inst && countOf(c, inst) != n + 2 && indexOf(c, inst) == n + 1) {
    showItem(c, inst, 0);
    countOf(c, inst) = n + 2;
    return kNoImage;
  }
  if (item >= n + 1) return kLoadImage;
  LWImageID img = resolveImage(c.svc->images, item);
  const char *name = img ? c.svc->images->name(img) : nullptr;
  return name ? name : kNoSuchImage; // the list changed between the two calls
}

int32_t onChange(const ChooserKind &c, LWXPanelID panel, uint32_t cid, int32_t eventKind) noexcept {
  const fw::Services &s = *c.svc;
  void *inst = s.xpanel ? s.xpanel->getData(panel, 0) : nullptr;
  const bool imageChanged = eventKind == LWXPEVENT_VALUE && cid == c.svc->imageControl;
  if (imageChanged && inst && indexOf(c, inst) == countImages(s.images) + 1) {
    fw::FileRequest *req = s.fileRecord;
    const bool chosen = req && s.fileRequest && s.fileRequest(LWFILEREQ_VERSION, &req->local) == 0 && req->local.result >= 1;
    if (!chosen) {
      indexOf(c, inst) = 0;
    } else {
      // A requester that filled the whole buffer may have left it unterminated.
      req->fullName[fw::FileRequest::kBufferLength - 1] = '\0';
      const LWImageID loaded = s.images->load(req->fullName);
      const int32_t items = popupCount(c, inst);
      countOf(c, inst) = items;
      // The host puts a new image last. A file it could not read adds none,
      // and the last image would be some other picture: show "(none)" instead.
      showItem(c, inst, loaded ? items - 2 : 0);
    }
  }
  if (s.xpanel && panel) s.xpanel->viewRefresh(panel);
  return imageChanged ? 2 : 0;
}

LWError renderStart(const ChooserKind &c, void *inst) noexcept {
  if (!inst) return nullptr;
  const int32_t n = countImages(c.svc->images);
  countOf(c, inst) = n + 2;
  if (indexOf(c, inst) >= n + 1) indexOf(c, inst) = n;
  return nullptr;
}

LWError saveReference(const ChooserKind &c, const void *inst, const LWSaveState *ss) noexcept {
  if (indexOf(c, inst) > 0) c.svc->images->sceneSave(ss, resolveImage(c.svc->images, indexOf(c, inst)));
  return nullptr;
}

LWError loadReference(const ChooserKind &c, const fw::StagedInts &ints, const LWLoadState *ls,
                      StagedReference &staged) noexcept {
  // A reference was saved only after an index that names an image.
  if (ints.at(c.indexOffset) <= 0) return nullptr;
  const LWImageList *images = c.svc->images;
  const LWImageID wanted = images->sceneLoad(ls);
  int32_t found = 0;
  if (wanted) {
    const int32_t n = countImages(images);
    LWImageID img = images->first();
    for (int32_t i = 1; img && i <= n; ++i, img = images->next(img))
      if (img == wanted) {
        found = i;
        break;
      }
  }
  staged.found = found;
  staged.read = true;
  return nullptr;
}

void applyReference(const ChooserKind &c, void *inst, const StagedReference &staged) noexcept {
  if (staged.read) indexOf(c, inst) = staged.found;
}

} // namespace juxs::image
