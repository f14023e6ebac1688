// "LWXPanel" and "Instance Update": the C function table a module calls,
// the panel model it builds, and a user's reading and editing of it. The hint
// reader is in xpanel_hints.cpp, the listing and drawing in xpanel_view.cpp.
#include "hostsim/services/xpanel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <string_view>

#include "host/lw_nodes.h"
#include "hostsim/services/panel_text.h"

namespace hostsim {
namespace {

XPanelService *gCurrent = nullptr;
constexpr std::size_t kMaxWarnings = 256;

} // namespace

// The panel service belongs to the host's callbacks outside evaluation: a
// panel lives on the host's thread. Each function takes a panel this host
// made and has not destroyed.
constexpr const char *kXPanel = "LWXPanel";

struct PanelOps {
  static XPanelService &svc() noexcept { return *gCurrent; }
  static Panel *panel(Call &call, LWXPanelID id) noexcept {
    return call && call.handle(id, Handle::Panel, "the panel") ? XPanelService::of(id) : nullptr;
  }
  static Panel *panel(const char *function, LWXPanelID id) noexcept {
    Call call(kXPanel, function, From::HostCallback);
    return panel(call, id);
  }

  static LWXPanelID create(int32_t type, LWXPanelControl *) noexcept {
    Call call(kXPanel, "create", From::HostCallback);
    if (!call || !call.known(type == LWXP_VIEW || type == LWXP_FORM, "the panel kind",
                             [&] { return std::to_string(type) + " is not a panel kind (1 view, 2 form)"; }))
      return nullptr;
    XPanelService &s = svc();
    if (s.failCreates_ > 0) {
      --s.failCreates_;
      return nullptr;
    }
    return call.answer(nullptr, [&] {
      auto p = std::make_unique<Panel>();
      p->type = type;
      p->place = s.panels_.size();
      Booking booked(s.checks_, p.get(), Handle::Panel);
      s.panels_.push_back(std::move(p));
      booked.keep();
      return reinterpret_cast<LWXPanelID>(s.panels_.back().get());
    });
  }
  static void destroy(LWXPanelID id) noexcept {
    if (Panel *p = panel("destroy", id)) svc().close(*p);
  }
  // A view panel reads and writes its instance through both callbacks.
  static void describe(LWXPanelID id, LWXPanelDataDesc *data, LWXPanelGetFunc get, LWXPanelSetFunc set) noexcept {
    Call call(kXPanel, "describe", From::HostCallback);
    Panel *p = panel(call, id);
    if (!p || (p->type == LWXP_VIEW && (!call.pointer(reinterpret_cast<void *>(get), "the get callback") ||
                                        !call.pointer(reinterpret_cast<void *>(set), "the set callback"))))
      return;
    p->get = get;
    p->set = set;
    call.perform([&] {
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
    });
  }
  // Hints go to a panel that is not open. A hint array the host cannot read
  // is a fault of the call, each fault named; the host keeps what it read.
  static void hint(LWXPanelID id, uint32_t, LWXPanelHint *h) noexcept {
    Call call(kXPanel, "hint", From::HostCallback);
    Panel *p = panel(call, id);
    if (!p || !call.known(!p->opened, "the panel", "hints go to a panel while it is closed")) return;
    const std::size_t before = p->hintErrors.size();
    call.perform([&] { XPanelService::readHints(*p, h); });
    for (std::size_t i = before; i < p->hintErrors.size(); ++i) call.fail("the hint array", p->hintErrors[i].c_str());
  }

  static void *getData(LWXPanelID id, uint32_t cid) noexcept {
    Panel *p = panel("getData", id);
    if (!p) return nullptr;
    auto it = p->userData.find(cid);
    return it == p->userData.end() ? nullptr : it->second;
  }
  static void setData(LWXPanelID id, uint32_t cid, void *data) noexcept {
    Call call(kXPanel, "setData", From::HostCallback);
    if (Panel *p = panel(call, id)) call.perform([&] { p->userData[cid] = data; });
  }
  // A view panel's value is what its get callback shows.
  static void *formGet(LWXPanelID id, uint32_t cid) noexcept {
    Panel *p = panel("formGet", id);
    if (!p) return nullptr;
    if (p->type == LWXP_VIEW) return svc().callGet(*p, cid);
    auto it = p->formInts.find(cid);
    return it == p->formInts.end() ? nullptr : &it->second;
  }
  // Setting a view panel's value goes to the instance through the set
  // callback, as a programmatic change: no change notification.
  static void formSet(LWXPanelID id, uint32_t cid, void *value) noexcept {
    Call call(kXPanel, "formSet", From::HostCallback);
    Panel *p = panel(call, id);
    if (!p || !value) return;
    if (p->type == LWXP_VIEW)
      svc().callSet(*p, cid, value);
    else
      call.perform([&] { p->formInts[cid] = *static_cast<int32_t *>(value); });
  }
  static void viewInst(LWXPanelID id, void *inst) noexcept {
    Call call(kXPanel, "viewInst", From::HostCallback);
    Panel *p = panel(call, id);
    if (p && call.known(p->type == LWXP_VIEW, "the panel", "a form panel has no instance to view"))
      call.perform([&] { svc().view(*p, inst); });
  }
  static void viewRefresh(LWXPanelID id) noexcept {
    if (Panel *p = panel("viewRefresh", id)) ++p->refreshes;
  }

  // Showing a panel is the user's part: the stand-in host never blocks, and
  // answers a modal panel as a user who presses OK.
  static int32_t post(LWXPanelID id) noexcept {
    Panel *p = panel("post", id);
    if (p) p->opened = true;
    return p ? 1 : 0;
  }
  static int32_t open(LWXPanelID id) noexcept {
    Panel *p = panel("open", id);
    if (p) p->opened = true;
    return p ? 1 : 0;
  }

  // The host hears of a change to one of the node instances it holds.
  static void instanceUpdate(const char *className, LWInstance inst) noexcept {
    Call call("Instance Update", "call", From::HostCallback);
    if (!call || !call.pointer(className, "the class name") ||
        !call.known(std::string_view(className) == LWNODE_HCLASS, "the class name",
                    [&] { return std::string("\"") + className + "\" is not the class of an instance this host holds"; }) ||
        !call.handle(inst, Handle::Instance, "the instance"))
      return;
    if (gCurrent) call.perform([&] { gCurrent->updates_.emplace_back(className, inst); });
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

XPanelService::XPanelService(Checks &checks) : checks_(checks) {
  funcs_.version = 1;
  funcs_.drawf = &drawFuncs_;
  funcs_.create = handed(&PanelOps::create);
  funcs_.destroy = handed(&PanelOps::destroy);
  funcs_.describe = handed(&PanelOps::describe);
  funcs_.hint = handed(&PanelOps::hint);
  funcs_.getData = handed(&PanelOps::getData);
  funcs_.setData = handed(&PanelOps::setData);
  funcs_.formGet = handed(&PanelOps::formGet);
  funcs_.formSet = handed(&PanelOps::formSet);
  funcs_.viewInst = handed(&PanelOps::viewInst);
  funcs_.viewRefresh = handed(&PanelOps::viewRefresh);
  funcs_.post = handed(&PanelOps::post);
  funcs_.open = handed(&PanelOps::open);
  drawFuncs_ = drawFunctions();
}

XPanelService::~XPanelService() {
  if (gCurrent == this) gCurrent = nullptr;
}

void XPanelService::destroyPanelsOf(void *instance) {
  if (!instance) return;
  std::vector<Panel *> doomed;
  for (auto [at, end] = viewing_.equal_range(instance); at != end; ++at) doomed.push_back(at->second);
  for (Panel *p : doomed) close(*p);
}

// The new entry comes first: when it cannot be made (no memory), nothing
// changed.
void XPanelService::view(Panel &p, void *instance) {
  if (instance) viewing_.emplace(instance, &p);
  for (auto [at, end] = viewing_.equal_range(p.instance); at != end; ++at)
    if (at->second == &p) {
      viewing_.erase(at);
      break;
    }
  p.instance = instance;
}

// The panel goes: its destroy notification hears of it first, with the
// panel's data (none set: null). Leaving its instance only erases.
void XPanelService::close(Panel &p) noexcept {
  if (p.destroyNotify) {
    CallbackScope scope(Callback::PanelDestroy, nodeOf(p));
    const auto data = p.userData.find(0);
    p.destroyNotify(data == p.userData.end() ? nullptr : data->second);
  }
  checks_.destroyed(&p);
  view(p, nullptr);
  // The last panel takes its place: a panel goes at the same cost however many are open.
  const std::size_t place = p.place;
  if (place + 1 < panels_.size()) {
    std::swap(panels_[place], panels_.back());
    panels_[place]->place = place;
  }
  panels_.pop_back();
}

const HostNode *XPanelService::nodeOf(const Panel &p) const noexcept { return checks_.ownerOf(p.instance); }

void *XPanelService::callGet(Panel &p, uint32_t id) const noexcept {
  if (!p.get || !p.instance) return nullptr;
  CallbackScope scope(Callback::PanelGet, nodeOf(p));
  return p.get(p.instance, id);
}

int32_t XPanelService::callSet(Panel &p, uint32_t id, void *value) const noexcept {
  if (!p.set || !p.instance) return 0;
  CallbackScope scope(Callback::PanelSet, nodeOf(p));
  return p.set(p.instance, id, value);
}

void XPanelService::callNotify(Panel &p, uint32_t id, int32_t event) const {
  if (!p.notify) return;
  CallbackScope scope(Callback::PanelChange, nodeOf(p));
  p.notify(reinterpret_cast<LWXPanelID>(&p), id, 0, event);
}

LWInstUpdate XPanelService::instanceUpdate() const { return handed(&PanelOps::instanceUpdate); }

void XPanelService::makeCurrent(VParmService &vparms) {
  gCurrent = this;
  vparms_ = &vparms;
}

double XPanelService::panelScale(const std::string &type) {
  if (type == "angle-env") return 180.0 / std::numbers::pi;
  if (type == "percent-env") return 100.0;
  if (type == "color-env") return 255.0;
  return 1.0;
}

ControlValue XPanelService::value(Panel &p, const PanelControl &c) const {
  ControlValue v;
  if (!p.get || !p.instance || c.dataType.empty()) return v;
  void *raw = callGet(p, c.id);
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
  if (c.popCount) {
    CallbackScope scope(Callback::PopupCount, nodeOf(p));
    return c.popCount(p.userData.count(c.id) ? p.userData[c.id] : p.userData[0]);
  }
  return static_cast<int32_t>(c.items.size());
}

std::string XPanelService::popupItem(Panel &p, const PanelControl &c, int32_t index) const {
  if (c.popName) {
    CallbackScope scope(Callback::PopupName, nodeOf(p));
    const char *name = c.popName(p.userData.count(c.id) ? p.userData[c.id] : p.userData[0], index);
    return name ? name : "";
  }
  return index >= 0 && static_cast<std::size_t>(index) < c.items.size() ? c.items[index] : "";
}

const PanelRule *XPanelService::disablingRule(Panel &p, const PanelControl &c) const {
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
    if (!on) return &r;
  }
  return nullptr;
}

std::optional<std::string> XPanelService::disabledBy(Panel &p, const PanelControl &c) const {
  if (const PanelRule *r = disablingRule(p, c)) return r->message;
  return std::nullopt;
}

std::string XPanelService::controlName(Panel &p, const PanelControl &c) {
  bool repeated = false;
  p.control(c.label, &repeated);
  return "\"" + c.label + "\"" + (repeated ? " [" + hexId(c.id) + "]" : "");
}

std::optional<std::string> XPanelService::enabledWhen(Panel &p, const PanelControl &c) const {
  const PanelRule *r = disablingRule(p, c);
  if (!r) return std::nullopt;
  PanelControl &controller = *p.control(r->controller);
  std::string when = controlName(p, controller) + " is ";
  if (!r->map) return when + (controller.controlType == "iBoolean" ? "on" : "not 0");
  std::string items;
  for (int32_t i = 0, n = popupCount(p, controller); i < n; ++i)
    if (r->map[i]) items += (items.empty() ? "\"" : " or \"") + popupItem(p, controller, i) + "\"";
  if (items.empty()) return "never (no item of " + controlName(p, controller) + " enables it)";
  return when + items;
}

double XPanelService::limitScale(const std::string &type) { return type == "angle-env" ? 1.0 : panelScale(type); }

const char *XPanelService::panelUnit(const std::string &type) {
  if (type == "angle-env") return " deg";
  if (type == "percent-env") return " %";
  if (type == "distance-env" || type == "distance3-env") return " m";
  return "";
}

std::string XPanelService::limitsText(const PanelControl &c) {
  const double k = limitScale(c.controlType);
  const std::string unit = panelUnit(c.controlType);
  std::string s;
  if (c.min) s += "  min " + panelNumber(*c.min * k) + unit + (c.hardMin ? " (hard)" : "");
  if (c.max) s += "  max " + panelNumber(*c.max * k) + unit + (c.hardMax ? " (hard)" : "");
  if (c.rangeMin && c.rangeMax)
    s += "  range " + panelNumber(*c.rangeMin * k) + ".." + panelNumber(*c.rangeMax * k) + unit +
         (c.step ? " step " + panelNumber(*c.step * k) : "");
  return s;
}

double XPanelService::checkLimits(const PanelControl &c, double v) {
  const double k = limitScale(c.controlType);
  const std::string unit = panelUnit(c.controlType);
  // Whole-number controls show whole numbers, however large.
  auto show = [&](double x) { return c.isInteger() ? std::to_string(std::llround(x)) : panelNumber(x); };
  const std::string given = show(v) + unit, name = "\"" + c.label + "\"";
  auto limit = [&](int32_t word) { return show(word * k) + unit; };
  // A program that edits panels for hours keeps only the latest warnings.
  if (warnings_.size() >= kMaxWarnings) warnings_.erase(warnings_.begin());
  // Hard limits hold whatever is typed; soft ones only bound the slider.
  if (c.min && v < *c.min * k) {
    if (c.hardMin) {
      warnings_.push_back(given + " is below the hard minimum of " + name + ": " + limit(*c.min) + " is used");
      return *c.min * k;
    }
    warnings_.push_back(given + " is below the minimum of " + name + ", " + limit(*c.min) + "; it is used as given");
    return v;
  }
  if (c.max && v > *c.max * k) {
    if (c.hardMax) {
      warnings_.push_back(given + " is above the hard maximum of " + name + ": " + limit(*c.max) + " is used");
      return *c.max * k;
    }
    warnings_.push_back(given + " is above the maximum of " + name + ", " + limit(*c.max) + "; it is used as given");
    return v;
  }
  if (c.rangeMin && c.rangeMax && (v < *c.rangeMin * k || v > *c.rangeMax * k))
    warnings_.push_back(given + " is outside the range of " + name + ", " + show(*c.rangeMin * k) + ".." +
                        limit(*c.rangeMax) + "; it is used as given");
  return v;
}

// A disabled control says what would enable it.
static Error disabledError(const XPanelService &s, Panel &p, const PanelControl &c) {
  const auto when = s.enabledWhen(p, c);
  return Error("control \"" + c.label + "\" is disabled" + (when ? "; it is enabled when " + *when : ""));
}

void XPanelService::editInteger(Panel &p, PanelControl &c, int32_t v) {
  if (!c.isInteger()) throw Error("control \"" + c.label + "\" is not an integer control");
  if (!enabled(p, c)) throw disabledError(*this, p, c);
  if (value(p, c).kind != ControlValue::Integer)
    throw Error("control \"" + c.label + "\" shows no value (its input is connected)");
  if (c.isPopup()) {
    const int32_t n = popupCount(p, c);
    if (v < 0 || v >= n) throw Error("control \"" + c.label + "\" has no item " + std::to_string(v));
  }
  if (c.controlType == "iBoolean" && v != 0) v = 1;
  if (!c.isPopup()) v = static_cast<int32_t>(checkLimits(c, v));
  callSet(p, c.id, &v);
  callNotify(p, c.id, LWXPEVENT_VALUE);
}

void XPanelService::editValues(Panel &p, PanelControl &c, const std::vector<double> &values, bool track) {
  if (!c.isEnv()) throw Error("control \"" + c.label + "\" is not a parameter control");
  if (!enabled(p, c)) throw disabledError(*this, p, c);
  ControlValue v = value(p, c);
  if (v.kind != ControlValue::Param)
    throw Error("control \"" + c.label + "\" shows no value (its input is connected)");
  if (static_cast<int>(values.size()) != v.param->components)
    throw Error("control \"" + c.label + "\" takes " + std::to_string(v.param->components) + " value(s)");
  const double scale = panelScale(c.controlType);
  for (int i = 0; i < v.param->components; ++i)
    if (!std::isfinite(values[i])) throw Error("control \"" + c.label + "\" takes finite numbers");
  const std::size_t warned = warnings_.size();
  for (int i = 0; i < v.param->components; ++i) {
    v.param->value[i] = checkLimits(c, values[i]) / scale;
    // One line for the control, however many of its components are out.
    if (warnings_.size() > warned + 1) warnings_.pop_back();
  }
  callSet(p, c.id, static_cast<void *>(v.param));
  callNotify(p, c.id, track ? LWXPEVENT_TRACK : LWXPEVENT_VALUE);
}

void XPanelService::editText(Panel &p, PanelControl &c, const std::string &t) {
  if (c.dataType != "string") throw Error("control \"" + c.label + "\" is not a text control");
  if (value(p, c).kind != ControlValue::Text) throw Error("control \"" + c.label + "\" shows no value");
  callSet(p, c.id, const_cast<char *>(t.c_str()));
  callNotify(p, c.id, LWXPEVENT_VALUE);
}

void XPanelService::keyframe(Panel &p, PanelControl &c, double time, const std::vector<double> &values,
                             KeyShape shape) {
  if (!c.isEnv()) throw Error("control \"" + c.label + "\" is not a parameter control");
  ControlValue v = value(p, c);
  if (v.kind != ControlValue::Param)
    throw Error("control \"" + c.label + "\" shows no value (its input is connected)");
  if (static_cast<int>(values.size()) != v.param->components)
    throw Error("control \"" + c.label + "\" takes " + std::to_string(v.param->components) + " value(s)");
  if (!std::isfinite(time)) throw Error("a keyframe needs a finite time");
  const double scale = panelScale(c.controlType);
  for (int i = 0; i < v.param->components; ++i)
    if (!std::isfinite(values[i])) throw Error("control \"" + c.label + "\" takes finite numbers");
  const std::size_t warned = warnings_.size();
  for (int i = 0; i < v.param->components; ++i) {
    v.param->env[i].set(time, checkLimits(c, values[i]) / scale, shape);
    if (warnings_.size() > warned + 1) warnings_.pop_back();
  }
  callSet(p, c.id, static_cast<void *>(v.param));
  callNotify(p, c.id, LWXPEVENT_VALUE);
}

} // namespace hostsim
