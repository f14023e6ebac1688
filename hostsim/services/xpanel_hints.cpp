// The panel service's hint reader: a module's hint array, read word by word
// into the panel model as the host reads it, with every fault it finds noted
// in the panel's hint errors.
#include <set>

#include "hostsim/services/panel_text.h"
#include "hostsim/services/xpanel.h"

namespace hostsim {
namespace {

uint32_t u32(intptr_t v) { return static_cast<uint32_t>(v); }
int32_t i32(intptr_t v) { return static_cast<int32_t>(v); }
std::string text(intptr_t v) {
  const char *s = reinterpret_cast<const char *>(v);
  return s ? s : "";
}

// Longest hint array and item list the host reads before calling it broken.
constexpr std::size_t kMaxHintWords = std::size_t{1} << 16;
constexpr std::size_t kMaxItems = 4096;

bool isId(intptr_t v) { return v > 0x8000 && v <= static_cast<intptr_t>(UINT32_MAX); }

} // namespace

void XPanelService::readHints(Panel &p, const LWXPanelHint *h) {
  auto error = [&](std::size_t at, const std::string &why) {
    p.hintErrors.push_back("word " + std::to_string(at) + ": " + why);
  };
  if (!h) {
    p.hintErrors.push_back("no hint array");
    return;
  }
  auto word = [&](std::size_t i) { return reinterpret_cast<intptr_t>(h[i]); };
  std::vector<std::pair<uint32_t, std::string>> labels; // applied once every id is known
  std::vector<intptr_t> a;    // the hint's fixed arguments
  std::vector<uint32_t> list; // and its id list, copied out so that it keeps its room
  std::size_t i = 0;
  for (;;) {
    if (i >= kMaxHintWords) return error(i, "no end tag within " + std::to_string(kMaxHintWords) + " words");
    const intptr_t w = word(i);
    if (w == 0) break;
    const std::size_t at = i;
    if (w < 0 || w > static_cast<intptr_t>(UINT32_MAX) || XPTAG_FAMILY(w) != XPTAG_PANEL_FAMILY)
      return error(at, "not a panel hint tag: " + hexId(static_cast<uint32_t>(w)));
    const auto tag = static_cast<uint32_t>(w);
    const std::size_t fixed = XPTAG_FIXED_COUNT(tag);
    if (at + 1 + fixed >= kMaxHintWords) return error(at, "hint runs past the end");
    a.assign(fixed, 0);
    for (std::size_t k = 0; k < fixed; ++k) a[k] = word(at + 1 + k);
    i = at + 1 + fixed;
    list.clear();
    if (XPTAG_HAS_LIST(tag)) {
      for (;; ++i) {
        if (i >= kMaxHintWords) return error(at, "id list of " + hexId(tag) + " has no terminating 0");
        const intptr_t v = word(i);
        if (v == 0) {
          ++i;
          break;
        }
        if (!isId(v)) error(i, "list entry " + std::to_string(v) + " is not an id");
        list.push_back(static_cast<uint32_t>(v));
      }
    }

    auto placeholder = [&](std::size_t k) {
      if (a[k] != 0) error(at, hexId(tag) + ": placeholder argument " + std::to_string(k + 1) + " is not 0");
    };
    auto control = [&]() -> PanelControl * {
      if (!isId(a[0])) {
        error(at, hexId(tag) + ": " + std::to_string(a[0]) + " is not an id");
        return nullptr;
      }
      PanelControl *c = p.control(static_cast<uint32_t>(a[0]));
      if (!c) error(at, hexId(tag) + " for " + hexId(static_cast<uint32_t>(a[0])) + " before the control was added");
      return c;
    };
    auto callback = [&](std::size_t k) {
      if (!a[k]) error(at, hexId(tag) + ": null callback");
      return a[k];
    };

    switch (tag) {
    case XPTAG_CHGNOTIFY:
      p.notify = reinterpret_cast<LWXPanelChangeNotifyFunc>(callback(0));
      break;
    case XPTAG_DESTROYNOTIFY:
      p.destroyNotify = reinterpret_cast<LWXPanelDestroyNotifyFunc>(callback(0));
      placeholder(1);
      break;
    case XPTAG_ADD: {
      if (!isId(a[0])) {
        error(at, "control id " + std::to_string(a[0]) + " is not above 0x8000");
        break;
      }
      if (p.control(static_cast<uint32_t>(a[0]))) {
        error(at, "control " + hexId(static_cast<uint32_t>(a[0])) + " added twice");
        break;
      }
      if (!a[1]) error(at, "control " + hexId(static_cast<uint32_t>(a[0])) + " has no control class");
      if (a[2] != 0 && !isId(a[2])) error(at, "value id " + std::to_string(a[2]) + " is not an id");
      PanelControl c;
      c.id = static_cast<uint32_t>(a[0]);
      c.controlType = text(a[1]);
      c.valueId = static_cast<uint32_t>(a[2]);
      p.controls.push_back(std::move(c));
      break;
    }
    case XPTAG_LABEL:
      placeholder(2);
      if (!isId(a[0])) error(at, "label for " + std::to_string(a[0]) + ", not an id");
      else if (!a[1]) error(at, "null label for " + hexId(static_cast<uint32_t>(a[0])));
      else labels.emplace_back(static_cast<uint32_t>(a[0]), text(a[1]));
      break;
    case XPTAG_STRLIST:
      placeholder(2);
      if (PanelControl *c = control()) {
        c->items.clear();
        const auto *items = reinterpret_cast<const char *const *>(a[1]);
        if (!items) error(at, "null item list for " + hexId(c->id));
        std::size_t n = 0;
        for (; items && items[n] && n < kMaxItems; ++n) c->items.emplace_back(items[n]);
        if (items && n == kMaxItems) error(at, "item list of " + hexId(c->id) + " has no terminating null");
      }
      break;
    case XPTAG_POPFUNCS:
      if (PanelControl *c = control()) {
        c->popCount = reinterpret_cast<LWXPanelPopCntFunc>(callback(1));
        c->popName = reinterpret_cast<LWXPanelPopNameFunc>(callback(2));
      }
      break;
    case XPTAG_MIN:
      if (PanelControl *c = control()) c->min = i32(a[1]);
      break;
    case XPTAG_MAX:
      if (PanelControl *c = control()) c->max = i32(a[1]);
      break;
    case XPTAG_RANGE:
      if (PanelControl *c = control()) {
        c->rangeMin = i32(a[1]);
        c->rangeMax = i32(a[2]);
        c->step = i32(a[3]);
      }
      break;
    case XPTAG_HARDMINMAX:
      if (PanelControl *c = control()) {
        c->hardMin = a[1] != 0;
        c->hardMax = a[2] != 0;
      }
      break;
    case XPTAG_CTRLCFG:
      placeholder(1);
      if (PanelControl *c = control()) c->thumbnail = static_cast<uint32_t>(a[2]);
      break;
    case XPTAG_DRAWCBFUNC:
      if (PanelControl *c = control()) c->draw = reinterpret_cast<LWXPanelDrawFunc>(callback(1));
      break;
    case XPTAG_SENS:
      if (PanelControl *c = control()) c->sensitivity = i32(a[1]);
      break;
    case XPTAG_ENABLE: {
      placeholder(2);
      PanelRule r;
      r.controller = u32(a[0]);
      r.message = text(a[1]);
      r.map = reinterpret_cast<const int32_t *>(a[3]);
      r.dependants.assign(list.begin(), list.end());
      if (r.dependants.empty()) error(at, "enable rule of " + hexId(r.controller) + " with no dependants");
      p.rules.push_back(std::move(r));
      break;
    }
    case XPTAG_GROUP:
    case XPTAG_TABS:
    case XPTAG_STACK: {
      PanelLayout l;
      l.kind = tag;
      l.id = u32(a[0]);
      if (!isId(a[0])) error(at, hexId(tag) + ": " + std::to_string(a[0]) + " is not an id");
      if (p.control(l.id) || p.layoutItem(l.id)) error(at, "id " + hexId(l.id) + " used twice");
      if (tag == XPTAG_STACK) {
        l.controller = u32(a[1]);
        l.map = reinterpret_cast<const int32_t *>(a[2]);
      }
      l.members.assign(list.begin(), list.end());
      if (l.members.empty()) error(at, hexId(tag) + " " + hexId(l.id) + " holds nothing");
      p.layout.push_back(std::move(l));
      break;
    }
    default:
      p.unknown.push_back(UnknownHint{tag, std::move(a), std::move(list)});
      break;
    }
  }

  // References, once every control and layout item is known.
  auto known = [&](uint32_t id) { return p.control(id) || p.layoutItem(id); };
  for (const auto &[id, label] : labels) {
    if (PanelControl *c = p.control(id))
      c->label = label;
    else if (const PanelLayout *l = p.layoutItem(id))
      const_cast<PanelLayout *>(l)->label = label;
    else
      p.hintErrors.push_back("label \"" + label + "\" for " + hexId(id) + ", which is neither a control nor a group");
  }
  auto checkMapped = [&](const std::string &what, uint32_t controller, const int32_t *map) {
    const PanelControl *c = p.control(controller);
    if (!c)
      p.hintErrors.push_back(what + ": controlling id " + hexId(controller) + " is not a control");
    else if (map && !c->isPopup())
      p.hintErrors.push_back(what + ": a value map needs a popup to index it, not " + c->controlType);
  };
  for (const PanelRule &r : p.rules) {
    checkMapped("enable rule", r.controller, r.map);
    for (uint32_t d : r.dependants)
      if (!known(d)) p.hintErrors.push_back("enable rule of " + hexId(r.controller) + ": unknown dependant " + hexId(d));
  }
  for (const PanelLayout &l : p.layout) {
    if (l.kind == XPTAG_STACK) checkMapped("stack " + hexId(l.id), l.controller, l.map);
    for (uint32_t m : l.members)
      if (!known(m)) p.hintErrors.push_back("layout " + hexId(l.id) + ": unknown member " + hexId(m));
  }
}

} // namespace hostsim
