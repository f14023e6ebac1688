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

// The members of an image choice: the position picked (0 "(none)", 1..n an
// image, n + 1 "(load Image)") and the popup's count of items at the last
// render start or load; and, where the choice has one, its input.
template <bool WithInput = false>
struct Choice {
  int32_t index;
  int32_t count;
};
template <>
struct Choice<true> {
  int32_t index;
  int32_t count;
  NodeInputID input;
};

// What the chooser needs to know of one node kind.
struct ChooserKind {
  fw::Services *svc;       // the kind's own handles: svc->fileRecord its own request record,
                           // svc->imageControl the id of its image popup
  std::size_t countOffset; // the popup's count of items
  std::size_t indexOffset; // the position picked
  std::size_t inputOffset; // its input, kNoField for none
  std::size_t panelOffset; // the instance's panel
};
template <bool WithInput>
constexpr ChooserKind chooserKind(fw::Services *svc, fw::Member<Choice<WithInput>> m, const fw::Record &record) {
  using C = Choice<WithInput>;
  std::size_t input = fw::kNoField;
  if constexpr (WithInput) input = m.offset + offsetof(C, input);
  return {svc, m.offset + offsetof(C, count), m.offset + offsetof(C, index), input, record.panel.offset};
}

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
// The chooser's part of the change notification: runs the file requester
// when "(load Image)" was chosen. 2 after a value change of the image
// control, else 0. host thread
int32_t onChange(const ChooserKind &c, LWXPanelID panel, uint32_t cid, int32_t eventKind) noexcept;
// Render start: notes the list's size and keeps the index inside it.
// host thread
LWError renderStart(const ChooserKind &c, void *inst) noexcept;
// The image reference, one item of the saved block, written and read after
// the integer settings. A load reads it aside (a StagedReference) and leaves
// the instance alone until the node's settings are read; applyReference
// then puts the found position in place. host thread
LWError saveReference(const ChooserKind &c, const void *inst, const LWSaveState *ss) noexcept;
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
  static LWError start(void *inst) noexcept { return renderStart(C, inst); }
  static int32_t changed(LWXPanelID panel, uint32_t cid, int32_t eventKind) noexcept {
    return onChange(C, panel, cid, eventKind);
  }
  static LWError save(const fw::ItemSlot &, const void *inst, const LWSaveState *ss) noexcept {
    return saveReference(C, inst, ss);
  }
  static LWError load(const fw::ItemSlot &, const fw::StagedInts &ints, const LWLoadState *ls, void *staged) noexcept {
    return loadReference(C, ints, ls, *static_cast<StagedReference *>(staged));
  }
  static void apply(const fw::ItemSlot &, void *inst, const void *staged) noexcept {
    applyReference(C, inst, *static_cast<const StagedReference *>(staged));
  }
  static constexpr fw::ItemCodec kReference{&load, &apply, &save};
  static constexpr fw::ControlHooks kHooks{&changed, true};
};

// The row of an image choice: the popup, the position saved among the
// integer settings and the image reference among the items, the work at
// render start and in the change notification. The panel also keeps the
// instance as the popup's data, for its callbacks.
template <const ChooserKind &C>
constexpr fw::Setting chooser(const char *key) {
  using B = Chooser<C>;
  fw::Setting s;
  s.key = key, s.store = fw::Store::Int, s.value = C.indexOffset, s.memberInput = C.inputOffset;
  return s.control("iPopChoice")
      .popup(&B::count, &B::name)
      .keeps(&B::kReference, sizeof(StagedReference))
      .atRenderStart(&B::start)
      .controlHooks(&B::kHooks);
}

} // namespace juxs::image
