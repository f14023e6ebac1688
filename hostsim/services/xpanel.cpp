#include "hostsim/services/xpanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>

#include "host/lw_nodes.h"

namespace hostsim {
namespace {

XPanelService *gCurrent = nullptr;

uint32_t u32(intptr_t v) { return static_cast<uint32_t>(v); }
int32_t i32(intptr_t v) { return static_cast<int32_t>(v); }
std::string text(intptr_t v) {
  const char *s = reinterpret_cast<const char *>(v);
  return s ? s : "";
}

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string hexId(uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04x", id);
  return buf;
}

} // namespace

struct PanelOps {
  static XPanelService &svc() { return *gCurrent; }

  static LWXPanelID create(int32_t type, LWXPanelControl *) {
    XPanelService &s = svc();
    if (s.failCreates_ > 0) {
      --s.failCreates_;
      return nullptr;
    }
    auto p = std::make_unique<Panel>();
    p->type = type;
    s.panels_.push_back(std::move(p));
    return reinterpret_cast<LWXPanelID>(s.panels_.back().get());
  }
  static void destroy(LWXPanelID id) {
    Panel *p = XPanelService::of(id);
    if (!p) return;
    if (p->destroyNotify) p->destroyNotify(p->userData[0]);
    std::erase_if(svc().panels_, [p](const auto &q) { return q.get() == p; });
  }
  static void describe(LWXPanelID id, LWXPanelDataDesc *data, LWXPanelGetFunc get, LWXPanelSetFunc set) {
    Panel *p = XPanelService::of(id);
    if (!p) return;
    p->get = get;
    p->set = set;
    for (const LWXPanelDataDesc *d = data; d && d->vid; ++d) {
      PanelControl *c = nullptr;
      for (auto &k : p->controls)
        if (k.valueId == d->vid) c = &k;
      if (!c) {
        // A value without a control: the host lists it as a bare value.
        p->controls.push_back(PanelControl{});
        c = &p->controls.back();
        c->id = d->vid;
        c->valueId = d->vid;
      }
      if (c->label.empty() && d->name) c->label = d->name;
      c->dataType = d->datatype ? d->datatype : "";
    }
  }
  static void hint(LWXPanelID id, uint32_t, LWXPanelHint *h) {
    if (Panel *p = XPanelService::of(id)) XPanelService::readHints(*p, h);
  }

  static void *getData(LWXPanelID id, uint32_t cid) {
    Panel *p = XPanelService::of(id);
    if (!p) return nullptr;
    auto it = p->userData.find(cid);
    return it == p->userData.end() ? nullptr : it->second;
  }
  static void setData(LWXPanelID id, uint32_t cid, void *data) {
    if (Panel *p = XPanelService::of(id)) p->userData[cid] = data;
  }
  // A view panel's value is what its get callback shows.
  static void *formGet(LWXPanelID id, uint32_t cid) {
    Panel *p = XPanelService::of(id);
    if (!p) return nullptr;
    if (p->type == LWXP_VIEW) return p->get && p->instance ? p->get(p->instance, cid) : nullptr;
    auto it = p->formInts.find(cid);
    return it == p->formInts.end() ? nullptr : &it->second;
  }
  // Setting a view panel's value goes to the instance through the set
  // callback, as a programmatic change: no change notification.
  static void formSet(LWXPanelID id, uint32_t cid, void *value) {
    Panel *p = XPanelService::of(id);
    if (!p || !value) return;
    if (p->type == LWXP_VIEW) {
      if (p->set && p->instance) p->set(p->instance, cid, value);
    } else {
      p->formInts[cid] = *static_cast<int32_t *>(value);
    }
  }
  static void viewInst(LWXPanelID id, void *inst) {
    if (Panel *p = XPanelService::of(id)) p->instance = inst;
  }
  static void viewRefresh(LWXPanelID id) {
    if (Panel *p = XPanelService::of(id)) ++p->refreshes;
  }

  // Showing a panel is the user's part: the stand-in host never blocks, and
  // answers a modal panel as a user who presses OK.
  static int32_t post(LWXPanelID id) { return XPanelService::of(id) ? 1 : 0; }
  static int32_t open(LWXPanelID id) { return XPanelService::of(id) ? 1 : 0; }

  static void instanceUpdate(const char *className, LWInstance inst) {
    if (gCurrent) gCurrent->updates_.emplace_back(className ? className : "", inst);
  }

  static void put(DrawArea &a, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= a.width || y >= a.height) return;
    uint8_t *px = &a.rgb[3 * (static_cast<std::size_t>(y) * a.width + x)];
    px[0] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    px[1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
    px[2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
  }
  static DrawArea *areaOf(LWXPDrAreaID area) { return reinterpret_cast<DrawArea *>(area); }
  static int32_t grey(int32_t index) { return std::clamp(index, 0, 15) * 17; }
  static void fill(DrawArea &a, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w, int32_t h) {
    for (int32_t j = std::max(0, y); j < std::min(a.height, y + h); ++j)
      for (int32_t i = std::max(0, x); i < std::min(a.width, x + w); ++i) put(a, r, g, b, i, j);
  }
  static void drawPixel(LWXPDrAreaID area, int32_t index, int32_t x, int32_t y) {
    DrawArea *a = areaOf(area);
    if (!a) return;
    ++a->paletteDraws;
    put(*a, grey(index), grey(index), grey(index), x, y);
  }
  static void drawRGBPixel(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) {
    DrawArea *a = areaOf(area);
    if (!a) return;
    ++a->pixels;
    put(*a, r, g, b, x, y);
  }
  static void drawLine(LWXPDrAreaID area, int32_t index, int32_t x, int32_t y, int32_t x2, int32_t y2) {
    DrawArea *a = areaOf(area);
    if (!a) return;
    ++a->paletteDraws;
    // Bresenham, both ends included; a line longer than any area stops.
    const int32_t dx = std::abs(x2 - x), dy = -std::abs(y2 - y), sx = x < x2 ? 1 : -1, sy = y < y2 ? 1 : -1;
    int32_t err = dx + dy;
    for (int guard = 0; guard < 1 << 16; ++guard) {
      put(*a, grey(index), grey(index), grey(index), x, y);
      if (x == x2 && y == y2) break;
      const int32_t e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y += sy;
      }
    }
  }
  static void drawBox(LWXPDrAreaID area, int32_t index, int32_t x, int32_t y, int32_t w, int32_t h) {
    DrawArea *a = areaOf(area);
    if (!a) return;
    ++a->paletteDraws;
    fill(*a, grey(index), grey(index), grey(index), x, y, w, h);
  }
  static void drawRGBBox(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w,
                         int32_t h) {
    DrawArea *a = areaOf(area);
    if (!a) return;
    ++a->boxes;
    fill(*a, r, g, b, x, y, w, h);
  }
  // A bevel: light top and left, dark bottom and right; an indent swaps them.
  static void drawBorder(LWXPDrAreaID area, int32_t indent, int32_t x, int32_t y, int32_t w, int32_t h) {
    DrawArea *a = areaOf(area);
    if (!a || w <= 0 || h <= 0) return;
    ++a->paletteDraws;
    const int32_t light = indent ? 64 : 224, dark = indent ? 224 : 64;
    fill(*a, light, light, light, x, y, w, 1);
    fill(*a, light, light, light, x, y, 1, h);
    fill(*a, dark, dark, dark, x, y + h - 1, w, 1);
    fill(*a, dark, dark, dark, x + w - 1, y, 1, h);
  }
  // Text is measured in cells of 8 by 12 pixels and drawn as one block per
  // character: the stand-in host has no fonts.
  static int32_t textWidth(LWXPDrAreaID, char *text) { return text ? 8 * static_cast<int32_t>(std::strlen(text)) : 0; }
  static int32_t textHeight(LWXPDrAreaID, char *text) { return text ? 12 : 0; }
  static void drawText(LWXPDrAreaID area, char *text, int32_t index, int32_t x, int32_t y) {
    DrawArea *a = areaOf(area);
    if (!a || !text) return;
    ++a->paletteDraws;
    for (std::size_t i = 0; text[i]; ++i)
      if (text[i] != ' ') fill(*a, grey(index), grey(index), grey(index), x + 8 * static_cast<int32_t>(i) + 1, y + 2, 6, 8);
  }
};

namespace {

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
    std::vector<intptr_t> a(fixed);
    for (std::size_t k = 0; k < fixed; ++k) a[k] = word(at + 1 + k);
    i = at + 1 + fixed;
    std::vector<uint32_t> list;
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
      r.dependants = std::move(list);
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
      l.members = std::move(list);
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

bool PanelControl::isEnv() const {
  return controlType.size() > 4 && controlType.compare(controlType.size() - 4, 4, "-env") == 0;
}

bool PanelControl::isInteger() const {
  return controlType == "integer" || controlType == "iBoolean" || isPopup();
}

PanelControl *Panel::control(uint32_t id) {
  for (auto &c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

PanelControl *Panel::control(const std::string &label, bool *ambiguous) {
  PanelControl *found = nullptr;
  int count = 0;
  for (auto &c : controls)
    if (c.label == label) {
      found = found ? found : &c;
      ++count;
    }
  if (ambiguous) *ambiguous = count > 1;
  return count == 1 ? found : nullptr;
}

const PanelLayout *Panel::layoutItem(uint32_t id) const {
  for (const auto &l : layout)
    if (l.id == id) return &l;
  return nullptr;
}

XPanelService::XPanelService() {
  funcs_.version = 1;
  funcs_.drawf = &drawFuncs_;
  funcs_.create = &PanelOps::create;
  funcs_.destroy = &PanelOps::destroy;
  funcs_.describe = &PanelOps::describe;
  funcs_.hint = &PanelOps::hint;
  funcs_.getData = &PanelOps::getData;
  funcs_.setData = &PanelOps::setData;
  funcs_.formGet = &PanelOps::formGet;
  funcs_.formSet = &PanelOps::formSet;
  funcs_.viewInst = &PanelOps::viewInst;
  funcs_.viewRefresh = &PanelOps::viewRefresh;
  funcs_.post = &PanelOps::post;
  funcs_.open = &PanelOps::open;
  drawFuncs_.drawPixel = &PanelOps::drawPixel;
  drawFuncs_.drawRGBPixel = &PanelOps::drawRGBPixel;
  drawFuncs_.drawLine = &PanelOps::drawLine;
  drawFuncs_.drawBox = &PanelOps::drawBox;
  drawFuncs_.drawRGBBox = &PanelOps::drawRGBBox;
  drawFuncs_.drawBorder = &PanelOps::drawBorder;
  drawFuncs_.textWidth = &PanelOps::textWidth;
  drawFuncs_.textHeight = &PanelOps::textHeight;
  drawFuncs_.drawText = &PanelOps::drawText;
}

XPanelService::~XPanelService() {
  if (gCurrent == this) gCurrent = nullptr;
}

void XPanelService::destroyPanelsOf(void *instance) {
  if (!instance) return;
  std::vector<Panel *> doomed;
  for (const auto &p : panels_)
    if (p->instance == instance) doomed.push_back(p.get());
  for (Panel *p : doomed) PanelOps::destroy(reinterpret_cast<LWXPanelID>(p));
}

LWInstUpdate XPanelService::instanceUpdate() const { return &PanelOps::instanceUpdate; }

void XPanelService::makeCurrent(VParmService &vparms) {
  gCurrent = this;
  vparms_ = &vparms;
}

double XPanelService::panelScale(const std::string &type) {
  if (type == "angle-env") return 180.0 / M_PI;
  if (type == "percent-env") return 100.0;
  if (type == "color-env") return 255.0;
  return 1.0;
}

ControlValue XPanelService::value(Panel &p, const PanelControl &c) const {
  ControlValue v;
  if (!p.get || !p.instance || c.dataType.empty()) return v;
  void *raw = p.get(p.instance, c.id);
  if (!raw) return v;
  if (c.isEnv()) {
    v.param = vparms_ ? vparms_->find(static_cast<LWVParmID>(raw)) : nullptr;
    v.kind = v.param ? ControlValue::Param : ControlValue::None;
  } else if (c.dataType == "string") {
    v.kind = ControlValue::Text;
    v.text = static_cast<const char *>(raw);
  } else {
    v.kind = ControlValue::Integer;
    v.integer = *static_cast<const int32_t *>(raw);
  }
  return v;
}

int32_t XPanelService::popupCount(Panel &p, const PanelControl &c) const {
  if (c.popCount) return c.popCount(p.userData.count(c.id) ? p.userData[c.id] : p.userData[0]);
  return static_cast<int32_t>(c.items.size());
}

std::string XPanelService::popupItem(Panel &p, const PanelControl &c, int32_t index) const {
  if (c.popName) {
    const char *name = c.popName(p.userData.count(c.id) ? p.userData[c.id] : p.userData[0], index);
    return name ? name : "";
  }
  return index >= 0 && static_cast<std::size_t>(index) < c.items.size() ? c.items[index] : "";
}

bool XPanelService::enabled(Panel &p, const PanelControl &c, std::string *message) const {
  for (const PanelRule &r : p.rules) {
    if (std::find(r.dependants.begin(), r.dependants.end(), c.id) == r.dependants.end()) continue;
    PanelControl *controller = p.control(r.controller);
    if (!controller) continue;
    const ControlValue v = value(p, *controller);
    // A controller that shows no value (its input decides) cannot disable.
    if (v.kind != ControlValue::Integer) continue;
    const bool on = r.map ? (v.integer >= 0 && v.integer < popupCount(p, *controller) &&
                             r.map[static_cast<std::size_t>(v.integer)] != 0)
                             : v.integer != 0;
    if (!on) {
      if (message) *message = r.message;
      return false;
    }
  }
  return true;
}

DrawArea XPanelService::drawThumbnail(Panel &p, const PanelControl &c, int32_t width, int32_t height) const {
  DrawArea area;
  area.width = std::max(0, width);
  area.height = std::max(0, height);
  area.rgb.assign(3 * static_cast<std::size_t>(area.width) * area.height, 0);
  if (c.draw)
    c.draw(reinterpret_cast<LWXPanelID>(&p), c.id, reinterpret_cast<LWXPDrAreaID>(&area), area.width, area.height);
  return area;
}

std::pair<int32_t, int32_t> XPanelService::thumbnailSize(const PanelControl &c) {
  const uint32_t bits = c.thumbnail;
  int32_t width = 160, num = 3, den = 4; // height = width * num / den
  if (bits & THUM_SML) width = 80;
  if (bits & THUM_MED) width = 160;
  if (bits & THUM_LRG) width = 240;
  if (bits & THUM_XLG) width = 320;
  if (bits & THUM_SQ) num = den = 1;
  if (bits & THUM_NTSC) num = 3, den = 4;
  if (bits & THUM_35MM) num = 2, den = 3;
  if (bits & THUM_PORT) num = 4, den = 3;
  if (bits & THUM_WIDE) num = 9, den = 16;
  return {width, width * num / den};
}

namespace {

bool fail(std::string *error, const std::string &why) {
  if (error) *error = why;
  return false;
}

} // namespace

bool XPanelService::editInteger(Panel &p, PanelControl &c, int32_t v, std::string *error) {
  if (!c.isInteger()) return fail(error, "control \"" + c.label + "\" is not an integer control");
  if (!enabled(p, c)) return fail(error, "control \"" + c.label + "\" is disabled");
  if (value(p, c).kind != ControlValue::Integer)
    return fail(error, "control \"" + c.label + "\" shows no value (its input is connected)");
  if (c.isPopup()) {
    const int32_t n = popupCount(p, c);
    if (v < 0 || v >= n) return fail(error, "control \"" + c.label + "\" has no item " + std::to_string(v));
  }
  if (c.controlType == "iBoolean" && v != 0) v = 1;
  // Hard limits hold whatever is typed; soft ones only bound the slider.
  if (c.hardMin && c.min && v < *c.min) v = *c.min;
  if (c.hardMax && c.max && v > *c.max) v = *c.max;
  p.set(p.instance, c.id, &v);
  if (p.notify) p.notify(reinterpret_cast<LWXPanelID>(&p), c.id, 0, LWXPEVENT_VALUE);
  return true;
}

bool XPanelService::editValues(Panel &p, PanelControl &c, const std::vector<double> &values, std::string *error,
                               bool track) {
  if (!c.isEnv()) return fail(error, "control \"" + c.label + "\" is not a parameter control");
  if (!enabled(p, c)) return fail(error, "control \"" + c.label + "\" is disabled");
  ControlValue v = value(p, c);
  if (v.kind != ControlValue::Param)
    return fail(error, "control \"" + c.label + "\" shows no value (its input is connected)");
  if (static_cast<int>(values.size()) != v.param->components)
    return fail(error, "control \"" + c.label + "\" takes " + std::to_string(v.param->components) + " value(s)");
  const double scale = panelScale(c.controlType);
  for (int i = 0; i < v.param->components; ++i) {
    if (!std::isfinite(values[i])) return fail(error, "control \"" + c.label + "\" takes finite numbers");
    v.param->value[i] = values[i] / scale;
  }
  p.set(p.instance, c.id, static_cast<void *>(v.param));
  if (p.notify) p.notify(reinterpret_cast<LWXPanelID>(&p), c.id, 0, track ? LWXPEVENT_TRACK : LWXPEVENT_VALUE);
  return true;
}

bool XPanelService::editText(Panel &p, PanelControl &c, const std::string &t, std::string *error) {
  if (c.dataType != "string") return fail(error, "control \"" + c.label + "\" is not a text control");
  if (value(p, c).kind != ControlValue::Text) return fail(error, "control \"" + c.label + "\" shows no value");
  p.set(p.instance, c.id, const_cast<char *>(t.c_str()));
  if (p.notify) p.notify(reinterpret_cast<LWXPanelID>(&p), c.id, 0, LWXPEVENT_VALUE);
  return true;
}

bool XPanelService::keyframe(Panel &p, PanelControl &c, double time, const std::vector<double> &values, KeyShape shape,
                             std::string *error) {
  if (!c.isEnv()) return fail(error, "control \"" + c.label + "\" is not a parameter control");
  ControlValue v = value(p, c);
  if (v.kind != ControlValue::Param)
    return fail(error, "control \"" + c.label + "\" shows no value (its input is connected)");
  if (static_cast<int>(values.size()) != v.param->components)
    return fail(error, "control \"" + c.label + "\" takes " + std::to_string(v.param->components) + " value(s)");
  if (!std::isfinite(time)) return fail(error, "a keyframe needs a finite time");
  const double scale = panelScale(c.controlType);
  for (int i = 0; i < v.param->components; ++i) {
    if (!std::isfinite(values[i])) return fail(error, "control \"" + c.label + "\" takes finite numbers");
    v.param->env[i].set(time, values[i] / scale, shape);
  }
  p.set(p.instance, c.id, static_cast<void *>(v.param));
  if (p.notify) p.notify(reinterpret_cast<LWXPanelID>(&p), c.id, 0, LWXPEVENT_VALUE);
  return true;
}

std::string XPanelService::describe(Panel &p, const std::string &title) const {
  std::ostringstream out;
  out << title << "\n";
  // Everything a layout item holds, so that it is shown only inside it.
  std::set<uint32_t> contained;
  for (const auto &l : p.layout)
    for (uint32_t m : l.members) contained.insert(m);

  std::function<uint32_t(uint32_t)> firstControl = [&](uint32_t id) -> uint32_t {
    if (const PanelLayout *l = p.layoutItem(id)) {
      uint32_t best = UINT32_MAX;
      for (uint32_t m : l->members) best = std::min(best, firstControl(m));
      if (l->kind == XPTAG_STACK) best = std::min(best, l->controller);
      return best;
    }
    return id;
  };

  std::function<void(uint32_t, int)> show = [&](uint32_t id, int depth) {
    const std::string pad(2 * depth, ' ');
    if (const PanelLayout *l = p.layoutItem(id)) {
      if (l->kind == XPTAG_TABS) {
        out << pad << "tabs:\n";
        for (uint32_t m : l->members) show(m, depth + 1);
      } else if (l->kind == XPTAG_GROUP) {
        out << pad << "group" << (l->label.empty() ? "" : " \"" + l->label + "\"") << ":\n";
        for (uint32_t m : l->members) show(m, depth + 1);
      } else {
        PanelControl *ctl = p.control(l->controller);
        out << pad << "stack switched by \"" << (ctl ? ctl->label : hexId(l->controller)) << "\":\n";
        for (std::size_t i = 0; i < l->members.size(); ++i) {
          const std::string item = ctl ? popupItem(p, *ctl, static_cast<int32_t>(i)) : "";
          out << pad << "  page " << i << (item.empty() ? "" : " \"" + item + "\"") << ":\n";
          show(l->members[i], depth + 2);
        }
      }
      return;
    }
    PanelControl *c = p.control(id);
    if (!c) return;
    out << pad << (c->label.empty() ? "(no label)" : "\"" + c->label + "\"") << " [" << hexId(c->id) << "] "
        << c->controlType;
    if (!c->dataType.empty()) {
      const ControlValue v = value(p, *c);
      out << " = ";
      switch (v.kind) {
      case ControlValue::None:
        out << "(no value)";
        break;
      case ControlValue::Integer:
        out << v.integer;
        if (c->isPopup()) out << " \"" << popupItem(p, *c, v.integer) << "\"";
        break;
      case ControlValue::Text:
        out << "\"" << v.text << "\"";
        break;
      case ControlValue::Param: {
        const double scale = panelScale(c->controlType);
        for (int i = 0; i < v.param->components; ++i) out << (i ? " " : "") << number(v.param->value[i] * scale);
        if (c->controlType == "angle-env") out << " deg";
        if (c->controlType == "percent-env") out << " %";
        if (v.param->animated()) out << " (animated)";
        break;
      }
      }
    }
    if (c->min) out << "  min " << *c->min;
    if (c->max) out << "  max " << *c->max;
    if (c->hardMin) out << " (hard)";
    if (c->rangeMin) out << "  range " << *c->rangeMin << ".." << *c->rangeMax << " step " << *c->step;
    if (c->draw || c->thumbnail) out << "  thumbnail";
    std::string why;
    if (!enabled(p, *c, &why)) out << "  DISABLED" << (why.empty() ? "" : ": " + why);
    out << "\n";
    if (c->isPopup()) {
      const int32_t n = popupCount(p, *c);
      out << pad << "    items:";
      for (int32_t i = 0; i < n; ++i) out << (i ? "," : "") << " \"" << popupItem(p, *c, i) << "\"";
      out << "\n";
    }
  };

  std::vector<uint32_t> top;
  for (const auto &c : p.controls)
    if (!contained.count(c.id)) top.push_back(c.id);
  for (const auto &l : p.layout)
    if (!contained.count(l.id)) top.push_back(l.id);
  std::stable_sort(top.begin(), top.end(), [&](uint32_t a, uint32_t b) { return firstControl(a) < firstControl(b); });
  for (uint32_t id : top) show(id, 1);
  for (const auto &h : p.unknown) {
    out << "  (hint " << hexId(h.tag) << ":";
    for (intptr_t a : h.args) out << " " << a;
    if (XPTAG_HAS_LIST(h.tag)) {
      out << " [";
      for (std::size_t i = 0; i < h.list.size(); ++i) out << (i ? " " : "") << hexId(h.list[i]);
      out << "]";
    }
    out << ")\n";
  }
  for (const auto &e : p.hintErrors) out << "  HINT ERROR: " << e << "\n";
  return out.str();
}

} // namespace hostsim
