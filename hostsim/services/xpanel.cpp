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

  static LWXPanelID create(int32_t type, const void *) {
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
  static void describe(LWXPanelID id, const LWXPanelDataDesc *data, LWXPanelGetFunc get, LWXPanelSetFunc set) {
    Panel *p = XPanelService::of(id);
    if (!p) return;
    p->get = get;
    p->set = set;
    for (const LWXPanelDataDesc *d = data; d && d->cid; ++d) {
      PanelControl *c = p->control(d->cid);
      if (!c) {
        // A value without a control: the host lists it as a bare value.
        p->controls.push_back(PanelControl{});
        c = &p->controls.back();
        c->id = d->cid;
      }
      if (c->label.empty() && d->label) c->label = d->label;
      c->dataType = d->datatype ? d->datatype : "";
    }
  }

  // Reads the flat hint list: kind, count, arguments; XPH_END ends it.
  static void hint(LWXPanelID id, uint32_t, const LWXPanelHint *h) {
    Panel *p = XPanelService::of(id);
    if (!p || !h) return;
    for (int guard = 0; h[0] != XPH_END && guard < 100000; ++guard) {
      const auto kind = i32(h[0]);
      const auto n = static_cast<std::size_t>(h[1]);
      const intptr_t *a = h + 2;
      apply(*p, kind, a, n);
      h = a + n;
    }
  }

  static void apply(Panel &p, int32_t kind, const intptr_t *a, std::size_t n) {
    auto ctl = [&]() -> PanelControl * {
      if (n < 1) return nullptr;
      PanelControl *c = p.control(u32(a[0]));
      if (!c && kind == XPH_CTRL) {
        p.controls.push_back(PanelControl{});
        c = &p.controls.back();
        c->id = u32(a[0]);
      }
      return c;
    };
    switch (kind) {
    case XPH_CHGNOTIFY:
      if (n >= 1) p.notify = reinterpret_cast<LWXPanelChangeNotifyFunc>(a[0]);
      return;
    case XPH_DESTROYNOTIFY:
      if (n >= 1) p.destroyNotify = reinterpret_cast<LWXPanelDestroyNotifyFunc>(a[0]);
      return;
    case XPH_CTRL:
      if (PanelControl *c = ctl(); c && n >= 2) c->controlType = text(a[1]);
      return;
    case XPH_LABEL:
      if (PanelControl *c = ctl(); c && n >= 2) c->label = text(a[1]);
      return;
    case XPH_POPITEMS:
      if (PanelControl *c = ctl(); c && n >= 2) {
        c->items.clear();
        for (auto items = reinterpret_cast<const char *const *>(a[1]); items && *items; ++items) c->items.emplace_back(*items);
      }
      return;
    case XPH_POPFUNCS:
      if (PanelControl *c = ctl(); c && n >= 3) {
        c->popCount = reinterpret_cast<LWXPanelPopCntFunc>(a[1]);
        c->popName = reinterpret_cast<LWXPanelPopNameFunc>(a[2]);
      }
      return;
    case XPH_MIN:
      if (PanelControl *c = ctl(); c && n >= 2) c->min = i32(a[1]);
      return;
    case XPH_MAX:
      if (PanelControl *c = ctl(); c && n >= 2) c->max = i32(a[1]);
      return;
    case XPH_RANGE:
      if (PanelControl *c = ctl(); c && n >= 4) {
        c->rangeMin = i32(a[1]);
        c->rangeMax = i32(a[2]);
        c->step = i32(a[3]);
      }
      return;
    case XPH_HARDMINMAX:
      if (PanelControl *c = ctl(); c && n >= 3) {
        c->hardMin = a[1] != 0;
        c->hardMax = a[2] != 0;
      }
      return;
    case XPH_THUMBSIZE:
      if (PanelControl *c = ctl(); c && n >= 2) c->thumbSizes.push_back(i32(a[1]));
      return;
    case XPH_DRAWFUNC:
      if (PanelControl *c = ctl(); c && n >= 2) c->draw = reinterpret_cast<LWXPanelDrawFunc>(a[1]);
      return;
    case XPH_ENABLE:
      if (n >= 4) {
        PanelRule r;
        r.controller = u32(a[0]);
        const auto *map = reinterpret_cast<const int32_t *>(a[1]);
        r.hasMap = map != nullptr;
        if (map) r.map.assign(map, map + a[2]);
        r.message = text(a[3]);
        for (std::size_t i = 4; i < n; ++i) r.dependants.push_back(u32(a[i]));
        p.rules.push_back(std::move(r));
      }
      return;
    case XPH_GROUP:
    case XPH_TABS:
    case XPH_STACK:
      if (n >= 1) {
        PanelLayout l;
        l.kind = kind;
        l.id = u32(a[0]);
        std::size_t first = 1;
        if (kind == XPH_GROUP && n >= 2) {
          l.label = text(a[1]);
          first = 2;
        } else if (kind == XPH_STACK && n >= 4) {
          l.controller = u32(a[1]);
          if (const auto *map = reinterpret_cast<const int32_t *>(a[2])) l.map.assign(map, map + a[3]);
          first = 4;
        }
        for (std::size_t i = first; i < n; ++i) l.members.push_back(u32(a[i]));
        p.layout.push_back(std::move(l));
      }
      return;
    default:
      p.unknown.push_back(UnknownHint{kind, std::vector<intptr_t>(a, a + n)});
      return;
    }
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
  static void formSet(LWXPanelID id, uint32_t cid, const void *value) {
    Panel *p = XPanelService::of(id);
    if (!p || !value) return;
    if (p->type == LWXP_VIEW) {
      if (p->set && p->instance) p->set(p->instance, cid, const_cast<void *>(value));
    } else {
      p->formInts[cid] = *static_cast<const int32_t *>(value);
    }
  }
  static void viewInst(LWXPanelID id, void *inst) {
    if (Panel *p = XPanelService::of(id)) p->instance = inst;
  }
  static void viewRefresh(LWXPanelID id) {
    if (Panel *p = XPanelService::of(id)) ++p->refreshes;
  }

  static int32_t instanceUpdate(const char *className, LWInstance inst) {
    if (gCurrent) gCurrent->updates_.emplace_back(className ? className : "", inst);
    return 1;
  }

  static void put(DrawArea &a, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= a.width || y >= a.height) return;
    uint8_t *px = &a.rgb[3 * (static_cast<std::size_t>(y) * a.width + x)];
    px[0] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    px[1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
    px[2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
  }
  static void drawPixel(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) {
    auto *a = reinterpret_cast<DrawArea *>(area);
    if (!a) return;
    ++a->pixels;
    put(*a, r, g, b, x, y);
  }
  static void drawBox(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w, int32_t h) {
    auto *a = reinterpret_cast<DrawArea *>(area);
    if (!a) return;
    ++a->boxes;
    for (int32_t j = std::max(0, y); j < std::min(a->height, y + h); ++j)
      for (int32_t i = std::max(0, x); i < std::min(a->width, x + w); ++i) put(*a, r, g, b, i, j);
  }
};

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
  drawFuncs_.drawPixel = &PanelOps::drawPixel;
  drawFuncs_.drawBox = &PanelOps::drawBox;
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
    const bool on = r.hasMap ? (v.integer >= 0 && static_cast<std::size_t>(v.integer) < r.map.size() &&
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
  int32_t width = 160, num = 3, den = 4; // height = width * num / den
  for (int32_t bits : c.thumbSizes) {
    if (bits & 0x1) width = 80;
    if (bits & 0x2) width = 160;
    if (bits & 0x4) width = 240;
    if (bits & 0x8) width = 320;
    if (bits & 0x10000) num = den = 1;
    if (bits & 0x20000) num = 3, den = 4;
    if (bits & 0x40000) num = 2, den = 3;
    if (bits & 0x80000) num = 4, den = 3;
    if (bits & 0x100000) num = 9, den = 16;
  }
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
      if (l->kind == XPH_STACK) best = std::min(best, l->controller);
      return best;
    }
    return id;
  };

  std::function<void(uint32_t, int)> show = [&](uint32_t id, int depth) {
    const std::string pad(2 * depth, ' ');
    if (const PanelLayout *l = p.layoutItem(id)) {
      if (l->kind == XPH_TABS) {
        out << pad << "tabs:\n";
        for (uint32_t m : l->members) show(m, depth + 1);
      } else if (l->kind == XPH_GROUP) {
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
    if (c->draw || !c->thumbSizes.empty()) out << "  thumbnail";
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
    out << "  (hint " << hexId(static_cast<uint32_t>(h.kind)) << ":";
    for (intptr_t a : h.args) out << " " << a;
    out << ")\n";
  }
  return out.str();
}

} // namespace hostsim
