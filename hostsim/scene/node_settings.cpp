#include "hostsim/scene/node_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "hostsim/scene/scene.h"
#include "hostsim/services/panel_text.h"

namespace hostsim {
namespace {

using json = nlohmann::ordered_json;

[[noreturn]] void fail(const std::string &path, const std::string &what) { throw Error(path + ": " + what); }

} // namespace

// The node's panel, opened through its interface server as the host opens it
// for a user.
Panel &openPanel(Host &host, const Module &module, HostNode *node, const std::string &path) {
  const ServerInfo *iface = module.find(LWNODE_ICLASS, node->serverName);
  if (!iface || !iface->activate) fail(path, "node \"" + node->userName + "\" has no panel");
  LWInterface local{node->instance, nullptr, nullptr, nullptr};
  const int32_t rc = module.activateInterface(*iface, host.global(), &local);
  if (rc != AFUNC_OK || !local.panel)
    fail(path, "the panel of \"" + node->userName + "\" did not open (activation result " + std::to_string(rc) + ")");
  return *XPanelService::of(local.panel);
}

namespace {

// A control by label, or by id ("0x8003") where a label repeats.
PanelControl &findControl(Panel &panel, const std::string &key, const std::string &path) {
  if (key.rfind("0x", 0) == 0 || key.rfind("0X", 0) == 0) {
    char *end = nullptr;
    const unsigned long id = std::strtoul(key.c_str() + 2, &end, 16);
    PanelControl *c = *end ? nullptr : panel.control(static_cast<uint32_t>(id));
    if (!c) fail(path, "no control with id " + key);
    return *c;
  }
  bool ambiguous = false;
  PanelControl *c = panel.control(key, &ambiguous);
  if (ambiguous) {
    std::string ids;
    char hex[16];
    for (const PanelControl &other : panel.controls)
      if (other.label == key) {
        std::snprintf(hex, sizeof hex, "0x%04x", other.id);
        ids += (ids.empty() ? "" : " or ") + std::string(hex);
      }
    fail(path, "several controls are labelled \"" + key + "\": name one by its id, " + ids);
  }
  if (!c) {
    std::string labels;
    for (const PanelControl &other : panel.controls)
      if (!other.label.empty()) labels += (labels.empty() ? "" : ", ") + ("\"" + other.label + "\"");
    fail(path, "no control \"" + key + "\" (the panel has " + labels + ")");
  }
  return *c;
}

std::string trimmed(const std::string &s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// An edit the panel refuses, said at the place in the scene that asked for it.
template <class Edit> void refusedAt(const std::string &path, Edit &&edit) {
  try {
    edit();
  } catch (const Error &e) {
    fail(path, e.what());
  }
}

// Numbers in panel units: one for a single value, a list for three.
std::vector<double> panelValues(const json &v, const std::string &path) {
  std::vector<double> out;
  if (v.is_number()) {
    out.push_back(v.get<double>());
  } else if (v.is_array()) {
    for (const auto &x : v) {
      if (!x.is_number()) fail(path, "should be numbers");
      out.push_back(x.get<double>());
    }
  } else {
    fail(path, "should be a number or a list of numbers");
  }
  return out;
}

// Node colours are in panel units, 0 to 255, while a surface's are 0 to 1: a
// node colour written 0-1 would give a near-black tint without a word.
void checkColour(const PanelControl &c, const std::vector<double> &values, const std::string &path,
                 std::vector<std::string> &warnings) {
  if (c.controlType != "color-env") return;
  bool fraction = false;
  std::string list;
  for (double x : values) {
    if (x < 0 || x > 1) return;
    fraction = fraction || x != std::floor(x);
    list += (list.empty() ? "[" : ", ") + panelNumber(x);
  }
  if (fraction)
    warnings.push_back(path + ": " + list + "] is dark as a node colour: node colours are 0\u2013255, as in the panel");
}

// What the panel warned of, said at the place in the scene.
void takeWarnings(XPanelService &panels, const std::string &path, std::vector<std::string> &warnings) {
  for (const std::string &w : panels.takeWarnings()) warnings.push_back(path + ": " + w);
}

// The popup's item with this text, or -1. Blanks around an item cannot be
// seen in a panel: without them the item still counts when exactly one
// matches.
int32_t popupIndex(XPanelService &panels, Panel &panel, const PanelControl &c, const std::string &item) {
  const int32_t n = panels.popupCount(panel, c);
  for (int32_t i = 0; i < n; ++i)
    if (panels.popupItem(panel, c, i) == item) return i;
  int32_t found = -1, matches = 0;
  for (int32_t i = 0; i < n; ++i)
    if (trimmed(panels.popupItem(panel, c, i)) == trimmed(item)) found = i, ++matches;
  return matches == 1 ? found : -1;
}

void applyOne(XPanelService &panels, Panel &panel, PanelControl &c, const json &v, const std::string &path,
              std::vector<std::string> &warnings) {
  if (c.isPopup()) {
    // An item by its text, as the user picks it, or by its position.
    int32_t index = -1;
    if (v.is_string()) {
      const std::string item = v.get<std::string>();
      index = popupIndex(panels, panel, c, item);
      if (index < 0) {
        std::string items;
        const int32_t n = panels.popupCount(panel, c);
        for (int32_t i = 0; i < n; ++i) items += (i ? ", \"" : "\"") + panels.popupItem(panel, c, i) + "\"";
        fail(path, "\"" + c.label + "\" has no item \"" + item + "\" (" + items + ")");
      }
    } else if (v.is_number_integer()) {
      int64_t i = 0;
      if (!wholeNumber(v, i) || i < 0 || i > INT32_MAX) fail(path, "\"" + c.label + "\" has no item " + v.dump());
      index = static_cast<int32_t>(i);
    } else {
      fail(path, "should be one of the popup's items");
    }
    refusedAt(path, [&] { panels.editInteger(panel, c, index); });
  } else if (c.isInteger()) {
    if (v.is_boolean())
      refusedAt(path, [&] { panels.editInteger(panel, c, v.get<bool>() ? 1 : 0); });
    else if (int64_t i = 0; wholeNumber(v, i) && i >= INT32_MIN && i <= INT32_MAX)
      refusedAt(path, [&] { panels.editInteger(panel, c, static_cast<int32_t>(i)); });
    else if (v.is_number_integer())
      fail(path, "is out of range for \"" + c.label + "\": should be a 32-bit whole number");
    else
      fail(path, "should be a whole number" + std::string(c.controlType == "iBoolean" ? " or true/false" : ""));
  } else if (c.isEnv()) {
    const std::vector<double> values = panelValues(v, path);
    refusedAt(path, [&] { panels.editValues(panel, c, values); });
    checkColour(c, values, path, warnings);
  } else if (c.dataType == "string") {
    if (!v.is_string()) fail(path, "should be text");
    refusedAt(path, [&] { panels.editText(panel, c, v.get<std::string>()); });
  } else {
    fail(path, "control \"" + c.label + "\" holds no value to set");
  }
}

// One setting of a node, with what it waits for.
struct Setting {
  Panel *panel = nullptr;
  PanelControl *control = nullptr;
  std::string key; // as written
  const json *value = nullptr;
  std::string path;
  const HostNode *owner = nullptr;
  std::size_t node = 0;                 // its place in the list of nodes
  std::vector<std::size_t> controllers; // settings of the same node whose control enables or disables this one
  bool applied = false;
  std::vector<std::string> warnings; // what applying it warned of
};

// A setting as a message quotes it: "Tint Reflections": true.
std::string quoted(const Setting &s) { return "\"" + s.key + "\": " + s.value->dump(); }

void applyNow(Host &host, Setting &s) {
  host.images().takeFailedLoad();
  host.panels().takeWarnings();
  const std::size_t unanswered = host.fileRequester().unanswered();
  applyOne(host.panels(), *s.panel, *s.control, *s.value, s.path, s.warnings);
  takeWarnings(host.panels(), s.path, s.warnings);
  // "(load Image)" with no answer left is a cancelled requester: the render
  // would go on without the picture the scene asked for.
  if (host.fileRequester().unanswered() != unanswered)
    s.warnings.push_back(s.path + ": node \"" + s.owner->name + "\" opened the file requester, and no --file answer "
                                  "was left for it: it was cancelled, and the node loaded no image");
  // An image the node asked the host to load, through its "(load Image)"
  // item, failed as a scene's own image would.
  if (const std::string why = host.images().takeFailedLoad(); !why.empty()) fail(s.path, why);
  s.applied = true;
}

// Whether a setting can be applied as the file means it: its switches are
// set, its control is enabled, and the popup item it names is there.
bool ready(XPanelService &panels, const std::vector<Setting> &all, const Setting &s) {
  for (std::size_t c : s.controllers)
    if (!all[c].applied) return false;
  if (!panels.enabled(*s.panel, *s.control)) return false;
  return !(s.control->isPopup() && s.value->is_string() &&
           popupIndex(panels, *s.panel, *s.control, s.value->get<std::string>()) < 0);
}

// One node's settings in the order to apply them: each after the settings
// of the switches that govern its control, otherwise as written.
void orderNode(std::vector<Setting> &all, std::size_t first, std::vector<std::size_t> &order) {
  const std::size_t end = all.size();
  std::vector<bool> placed(end - first, false);
  for (std::size_t done = 0; done < end - first;) {
    std::size_t next = end;
    for (std::size_t i = first; i < end && next == end; ++i) {
      if (placed[i - first]) continue;
      bool free = true;
      for (std::size_t c : all[i].controllers) free = free && placed[c - first];
      if (free) next = i;
    }
    // Rules that govern each other in a ring: no order satisfies them, so
    // the file's order stands and the panel decides.
    if (next == end)
      for (std::size_t i = first; i < end && next == end; ++i)
        if (!placed[i - first]) next = i;
    placed[next - first] = true;
    order.push_back(next);
    ++done;
  }
}

} // namespace

void applySettings(Host &host, const Module &module, const std::vector<NodeSettings> &nodes,
                   std::vector<std::vector<std::string>> &warnings) {
  XPanelService &panels = host.panels();
  std::vector<Setting> all; // node by node, as written
  std::vector<std::size_t> order;
  for (std::size_t node = 0; node < nodes.size(); ++node) {
    const NodeSettings &n = nodes[node];
    if (!n.settings->is_object()) fail(n.path, "should be an object of control labels and values");
    Panel &panel = openPanel(host, module, n.node, n.path);
    const std::size_t first = all.size();
    for (const auto &[key, value] : n.settings->items()) {
      const std::string at = n.path + "." + key;
      PanelControl &c = findControl(panel, key, at);
      // By its label and by its id, one control may be named twice: the
      // same value twice is harmless, two values cannot both hold.
      bool again = false;
      for (std::size_t i = first; i < all.size() && !again; ++i)
        if (all[i].control == &c) {
          if (*all[i].value != value)
            fail(at, "conflicts with " + quoted(all[i]) + " in these settings: both set control " +
                         XPanelService::controlName(panel, c));
          again = true;
        }
      if (!again) all.push_back({&panel, &c, key, &value, at, n.node, node, {}, false, {}});
    }
    for (std::size_t i = first; i < all.size(); ++i)
      for (const PanelRule &r : panel.rules)
        if (std::find(r.dependants.begin(), r.dependants.end(), all[i].control->id) != r.dependants.end())
          for (std::size_t k = first; k < all.size(); ++k)
            if (k != i && all[k].control->id == r.controller) all[i].controllers.push_back(k);
    orderNode(all, first, order);
  }

  // Round after round, each setting that is ready is applied; one that waits
  // for a name another node's setting gives, or for a switch, comes again.
  std::vector<std::size_t> waiting = order;
  while (!waiting.empty()) {
    std::vector<std::size_t> still;
    for (std::size_t i : waiting) {
      if (ready(panels, all, all[i]))
        applyNow(host, all[i]);
      else
        still.push_back(i);
    }
    if (still.size() < waiting.size()) {
      waiting.swap(still);
      continue;
    }
    // Nothing more can be applied. The first setting that waits for no other
    // setting is the fault: applying it says why.
    std::size_t blocked = still.front();
    for (std::size_t i : still) {
      bool free = true;
      for (std::size_t c : all[i].controllers) free = free && all[c].applied;
      if (free) {
        blocked = i;
        break;
      }
    }
    Setting &s = all[blocked];
    const Setting *conflict = nullptr;
    if (const PanelRule *r = panels.disablingRule(*s.panel, *s.control))
      for (std::size_t c : s.controllers)
        if (all[c].control->id == r->controller) conflict = &all[c];
    try {
      applyNow(host, s);
    } catch (const Error &e) {
      if (!conflict) throw;
      // The panel's reason, and the setting that gives it.
      throw Error(std::string(e.what()) + ", which conflicts with " + quoted(*conflict) + " in these settings");
    }
    waiting.erase(std::find(waiting.begin(), waiting.end(), blocked));
  }
  warnings.assign(nodes.size(), {});
  for (const Setting &s : all) warnings[s.node].insert(warnings[s.node].end(), s.warnings.begin(), s.warnings.end());
}

void applySettings(Host &host, const Module &module, HostNode *node, const json &settings, const std::string &path,
                   std::vector<std::string> &warnings) {
  std::vector<std::vector<std::string>> said;
  applySettings(host, module, {{node, &settings, path}}, said);
  warnings.insert(warnings.end(), said[0].begin(), said[0].end());
}

void applyKeys(Host &host, const Module &module, HostNode *node, const json &keys, double fps,
               const std::string &path, std::vector<std::string> &warnings) {
  if (!keys.is_object()) fail(path, "should be an object of control labels and key lists");
  Panel &panel = openPanel(host, module, node, path);
  // Each control's keys by frame: a second key on a frame would replace the
  // first, so whichever is written last would win.
  std::map<std::pair<uint32_t, double>, std::pair<std::string, const json *>> keyed;
  for (const auto &[key, list] : keys.items()) {
    const std::string at = path + "." + key;
    PanelControl &c = findControl(panel, key, at);
    if (!c.isEnv()) fail(at, "control \"" + c.label + "\" is not animatable");
    if (!list.is_array() || list.empty()) fail(at, "should be a list of keys");
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string kp = at + "[" + std::to_string(i) + "]";
      const json &k = list[i];
      if (!k.is_object() || !k.contains("frame") || !k.contains("value") || !k["frame"].is_number())
        fail(kp, "a key needs \"frame\" and \"value\"");
      for (const auto &[name, unused] : k.items())
        if (name != "frame" && name != "value" && name != "shape") fail(kp, "unknown key \"" + name + "\"");
      KeyShape shape = KeyShape::Linear;
      if (k.contains("shape")) {
        if (k["shape"] == "stepped")
          shape = KeyShape::Stepped;
        else if (k["shape"] != "linear")
          fail(kp + ".shape", "should be \"linear\" or \"stepped\"");
      }
      const double time = k["frame"].get<double>() / fps;
      const auto [same, first] = keyed.try_emplace({c.id, time}, kp.substr(path.size() + 1), &k);
      if (!first) {
        if (*same->second.second == k) continue;
        fail(kp, "conflicts with " + same->second.first + " in these keys: both key frame " + k["frame"].dump() +
                     " of control " + XPanelService::controlName(panel, c));
      }
      const std::vector<double> values = panelValues(k["value"], kp + ".value");
      host.panels().takeWarnings();
      refusedAt(kp, [&] { host.panels().keyframe(panel, c, time, values, shape); });
      takeWarnings(host.panels(), kp + ".value", warnings);
      checkColour(c, values, kp + ".value", warnings);
    }
  }
}

} // namespace hostsim
