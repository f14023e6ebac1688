// The image chooser: a popup of "(none)", the host's images by name and
// "(load Image)", kept in the instance as a position in the host's image list
// and stored in scenes through the list's own image references.
//
// Written once for the image and the ray-traced nodes; each kind binds it to
// its own context record (its service handles, with its file-request record
// and the id of its image control), so the kinds share the code and never
// each other's state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/description.h"
#include "framework/lifecycle.h"
#include "framework/node_kind.h"
#include "framework/panels.h"

namespace juxs::image {

// What the chooser needs to know of one node kind.
struct ChooserKind {
  fw::Services *svc;       // the kind's own handles: svc->fileRecord its own request record,
                           // svc->imageControl the id of its image popup
  std::size_t countOffset; // popup count: items seen at the last render start or load
  std::size_t indexOffset; // image index: 0 "(none)", 1..n an image, n + 1 "(load Image)"
  std::size_t panelOffset; // the instance's panel
};

inline constexpr const char *kNoImage = "(none)";
inline constexpr const char *kLoadImage = "(load Image)";
inline constexpr const char *kNoSuchImage = "(error)";

// Images reached from the list's first along its next links.
// render threads, concurrently, and host thread
int32_t countImages(const LWImageList *images) noexcept;
// The image at a 1-based position, or null for "(none)", "(load Image)" or a
// position past the end. render threads, concurrently, and host thread
LWImageID resolveImage(const LWImageList *images, int32_t index) noexcept;

// Popup callbacks (host thread); inst is the panel data of the image control.
int32_t popupCount(const ChooserKind &c, void *inst) noexcept;
const char *popupName(const ChooserKind &c, void *inst, int32_t item) noexcept;
// The chooser's part of the change notification, after the common part: runs
// the file requester when "(load Image)" was chosen. 2 after a value change of
// the image control, else 0. host thread
int32_t onChange(const ChooserKind &c, LWXPanelID panel, uint32_t cid, int32_t eventKind) noexcept;
// Render start: notes the list's size and keeps the index inside it.
// host thread
LWError renderStart(const ChooserKind &c, void *inst) noexcept;
// The image reference, written and read between the integer settings and the
// parameters. host thread
LWError saveReference(const ChooserKind &c, void *inst, const LWSaveState *ss) noexcept;
// A load reads the reference aside (a StagedReference) and leaves the
// instance alone until the whole block has been read; applyReference then
// puts the found position in place.
struct StagedReference {
  int32_t found; // the image's position in the list, 0 when it is not there
  bool read;     // a reference was read: the saved index named an image
};
LWError loadReference(const ChooserKind &c, const fw::StagedInts &ints, const LWLoadState *ls,
                      StagedReference &staged) noexcept;
void applyReference(const ChooserKind &c, void *inst, const StagedReference &staged) noexcept;

// The plain callbacks of one binding.
template <const ChooserKind &C>
struct Chooser {
  static int32_t count(void *inst) noexcept { return popupCount(C, inst); }
  static const char *name(void *inst, int32_t item) noexcept { return popupName(C, inst, item); }
  static LWError init(LWInstance inst, int32_t) noexcept { return renderStart(C, inst); }
  static LWError save(void *inst, const LWSaveState *ss) noexcept { return saveReference(C, inst, ss); }
  static LWError load(const void *, const fw::StagedInts &ints, const LWLoadState *ls, void *staged) noexcept {
    return loadReference(C, ints, ls, *static_cast<StagedReference *>(staged));
  }
  static void apply(void *inst, const void *staged) noexcept {
    applyReference(C, inst, *static_cast<const StagedReference *>(staged));
  }
  // The image reference in the saved block, staged by a load.
  static constexpr fw::Items kItems{&load, &apply, sizeof(StagedReference), &save};
  // After the common change notification of the kind.
  static int32_t notify(LWXPanelID panel, uint32_t cid, int32_t eventKind) noexcept {
    return onChange(C, panel, cid, eventKind);
  }
};

} // namespace juxs::image
