// The facts of a node's page, read from the module as the host sees it: its
// server record, inputs and outputs, panel, defaults and overrides, and the
// panel drawn.
#include <algorithm>
#include <cmath>
#include <map>

#include "host/lw_host.h"
#include "hostsim/doc/panel_svg.h"
#include "hostsim/doc/site_parts.h"
#include "hostsim/host.h"
#include "hostsim/network.h"
#include "hostsim/render/image_output.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/node_settings.h"
#include "hostsim/services/panel_text.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace hostsim::doc {

std::string slugOf(const std::string &name) {
  std::string s;
  for (char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    else if (!s.empty() && s.back() != '-')
      s += '-';
  }
  while (!s.empty() && s.back() == '-') s.pop_back();
  return s;
}

std::string hexId(uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04x", id);
  return buf;
}

namespace {

const char *typeName(ConnectionType t) {
  switch (t) {
  case CONN_COLOR: return "Color";
  case CONN_SCALAR: return "Scalar";
  case CONN_VECTOR: return "Vector";
  case CONN_INTEGER: return "Integer";
  case CONN_FUNCTION: return "Function";
  case CONN_MATERIAL: return "Material";
  default: return "undefined";
  }
}

// What a control type is, in a user's words.
std::string kindOf(const PanelControl &c) {
  static const std::map<std::string, std::string> kinds = {
      {"float-env", "number"},          {"percent-env", "percentage"},   {"distance-env", "distance"},
      {"angle-env", "angle"},           {"color-env", "colour"},         {"float3-env", "three numbers"},
      {"distance3-env", "position"},    {"integer", "whole number"},     {"iBoolean", "check box"},
      {"iChoice", "choice buttons"},    {"iPopChoice", "popup menu"},    {"string", "text"},
      {"dThumbnail", "drawn thumbnail"}};
  auto it = kinds.find(c.controlType);
  std::string k = it == kinds.end() ? c.controlType : it->second;
  if (c.isEnv()) k += ", animatable";
  return k;
}

// Limits in the units the control shows its value in (an opacity's maximum
// of 1 is 100 %).
std::string rangeText(const PanelControl &c) {
  const double k = XPanelService::limitScale(c.controlType);
  // The units the page shows values in.
  const std::string unit = c.controlType == "angle-env"                 ? "°"
                           : c.controlType == "percent-env"             ? " %"
                           : c.controlType.rfind("distance", 0) == 0 ? " m"
                                                                         : "";
  auto shown = [&](int32_t word) { return panelNumber(word * k) + unit; };
  std::vector<std::string> parts;
  if (c.min) parts.push_back("min " + shown(*c.min) + (c.hardMin ? " (hard)" : ""));
  if (c.max) parts.push_back("max " + shown(*c.max) + (c.hardMax ? " (hard)" : ""));
  if (c.rangeMin && c.rangeMax)
    parts.push_back("slider " + shown(*c.rangeMin) + " to " + shown(*c.rangeMax) +
                    (c.step ? ", step " + shown(*c.step) : ""));
  std::string s;
  for (const auto &p : parts) s += (s.empty() ? "" : "; ") + p;
  return s;
}

// A control named as a user finds it: its label, and its id where the label
// repeats in the panel.
std::string controlName(const Panel &p, const PanelControl &c) {
  int n = 0;
  for (const auto &k : p.controls)
    if (k.label == c.label) ++n;
  return "\u201C" + c.label + "\u201D" + (n > 1 ? " (" + hexId(c.id) + ")" : "");
}

std::string enabledWhen(XPanelService &panels, Panel &p, const PanelControl &c) {
  std::string s;
  for (const PanelRule &r : p.rules) {
    if (std::find(r.dependants.begin(), r.dependants.end(), c.id) == r.dependants.end()) continue;
    PanelControl *ctl = p.control(r.controller);
    if (!ctl) continue;
    std::string one = controlName(p, *ctl);
    if (!r.map) {
      one += " is on";
    } else {
      std::vector<std::string> items;
      for (int32_t i = 0, n = panels.popupCount(p, *ctl); i < n; ++i)
        if (r.map[i]) items.push_back("\u201C" + panels.popupItem(p, *ctl, i) + "\u201D");
      one += items.size() == 1 ? " is " : " is one of ";
      for (std::size_t i = 0; i < items.size(); ++i) one += (i ? ", " : "") + items[i];
    }
    s += (s.empty() ? "" : "; and ") + one;
  }
  return s;
}

OutputValue constantOf(ConnectionType t) {
  OutputValue v;
  v.type = t;
  v.set = true;
  return v;
}

} // namespace

// Reads every fact of a node from a freshly created instance.
void readFacts(const Module &module, const ServerInfo &server, NodeFacts &f) {
  f.server = server.name;
  f.userName = server.userName;
  f.group = server.group;
  f.slug = slugOf(server.userName);
  Host host;
  Network net(host, module);
  HostNode *node = prefixed("\"" + server.name + "\": ", [&] { return net.add(server.name); });
  std::copy(node->color, node->color + 3, f.color);
  for (const auto &in : node->inputs) f.inputs.push_back({in->name, typeName(in->type), ""});
  for (const auto &out : node->outputs) f.outputs.push_back({out->name, typeName(out->type), ""});

  const ServerInfo *iface = module.find(LWNODE_ICLASS, server.name);
  if (!iface || !iface->activate) return;
  LWInterface local{node->instance, nullptr, nullptr, nullptr};
  if (module.activateInterface(*iface, host.global(), &local) != AFUNC_OK || !local.panel)
    throw Error("\"" + server.name + "\": its panel could not be made");
  f.hasPanel = true;
  Panel &p = *XPanelService::of(local.panel);
  prefixed("\"" + server.name + "\": ", [&] { host.checks().requireNone(); });
  XPanelService &panels = host.panels();
  for (const auto &c : p.controls) {
    ControlFact cf;
    cf.id = c.id;
    cf.label = c.label;
    cf.kind = kindOf(c);
    cf.controlType = c.controlType;
    cf.holdsValue = !c.dataType.empty();
    cf.shown = shownValue(panels, p, c);
    cf.range = rangeText(c);
    cf.popup = c.isPopup();
    if (cf.popup)
      for (int32_t i = 0, n = panels.popupCount(p, c); i < n; ++i) cf.items.push_back(panels.popupItem(p, c, i));
    cf.enabledWhen = enabledWhen(panels, p, c);
    cf.enabled = panels.enabled(p, c);
    int n = 0;
    for (const auto &k : p.controls) n += k.label == c.label;
    cf.repeated = n > 1;
    f.controls.push_back(cf);
  }
  // Which input overrides which setting: connect each input in turn and see
  // which controls stop showing a value, as the node's get callback decides.
  for (std::size_t i = 0; i < node->inputs.size(); ++i) {
    const NodeInput &in = *node->inputs[i];
    HostNode *source = net.addConstant(constantOf(in.type));
    prefixed("\"" + server.name + "\": ", [&] { net.connect(source, "Value", node, in.name); });
    for (std::size_t k = 0; k < p.controls.size(); ++k) {
      const PanelControl &c = p.controls[k];
      if (c.dataType.empty() || f.controls[k].shown.empty()) continue;
      if (panels.value(p, c).kind == ControlValue::None) {
        f.controls[k].overriddenBy += (f.controls[k].overriddenBy.empty() ? "" : ", ") + in.name;
        f.inputs[i].overrides += (f.inputs[i].overrides.empty() ? "" : ", ") + controlName(p, c);
      }
    }
    net.disconnect(node, in.name);
    net.remove(source);
  }
  prefixed("\"" + server.name + "\": ", [&] { host.checks().requireNone(); });
}

// The panel picture, drawn after the description's panel set-up (an example
// image picked, say) was applied as a user would apply it.
void drawPanel(const Module &module, const SiteOptions &o, NodeFacts &f, const json &setup, SiteReport &report) {
  Host host;
  std::vector<std::string> loaded;
  if (setup.contains("images"))
    for (const auto &img : setup["images"]) {
      const fs::path file = fs::path(o.sourceDir) / "examples" / "images" / img.get<std::string>();
      prefixed(file.string() + ": ", [&] { host.images().load(file.string()); });
      loaded.push_back(img.get<std::string>());
    }
  Network net(host, module);
  HostNode *node = prefixed("\"" + f.server + "\": ", [&] { return net.add(f.server); });
  if (setup.contains("settings")) {
    std::vector<std::string> warnings;
    try {
      applySettings(host, module, node, setup["settings"], f.description.file + ": panel.settings", warnings);
    } catch (const Error &e) {
      throw Error(e.what()); // its message names the description already
    }
    // A page shows its panel as set: a value the panel warns of is a slip.
    if (!warnings.empty()) throw Error(warnings.front());
  }
  const ServerInfo *iface = module.find(LWNODE_ICLASS, f.server);
  LWInterface local{node->instance, nullptr, nullptr, nullptr};
  if (module.activateInterface(*iface, host.global(), &local) != AFUNC_OK || !local.panel)
    throw Error("\"" + f.server + "\": its panel could not be made");
  Panel &p = *XPanelService::of(local.panel);
  PanelSvgOptions so;
  so.title = node->name;
  for (const auto &c : p.controls) {
    if (!c.draw) continue;
    const auto [w, h] = XPanelService::thumbnailSize(c);
    const DrawArea area = host.panels().drawThumbnail(p, c, w, h);
    // The thumbnail holds display values: written through the picture output
    // by way of the linear values that encode to them.
    FrameBuffer fb;
    fb.width = area.width;
    fb.height = area.height;
    fb.rgb.resize(area.rgb.size());
    for (std::size_t i = 0; i < area.rgb.size(); ++i) {
      const float v = area.rgb[i] / 255.0f;
      fb.rgb[i] = v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
    }
    const std::string rel = f.slug + "/thumbnail.png";
    fs::create_directories(fs::path(o.out) / f.slug);
    prefixed(rel + ": ", [&] { writeImage((fs::path(o.out) / rel).string(), fb); });
    report.files.push_back(rel);
    so.thumbnail = "thumbnail.png";
  }
  f.panelSvgFile = panelSvg(host.panels(), p, so);
  if (!so.thumbnail.empty()) so.thumbnail = f.slug + "/thumbnail.png";
  so.idPrefix = f.slug + "-";
  f.panelSvgInline = panelSvg(host.panels(), p, so);
  if (setup.contains("settings") || !loaded.empty()) {
    std::string note = "Drawn with ";
    if (!loaded.empty()) note += "the example picture " + loaded.front() + " loaded";
    if (setup.contains("settings")) {
      if (!loaded.empty()) note += " and ";
      note += "these settings: ";
      bool first = true;
      for (const auto &[k, v] : setup["settings"].items()) {
        note += (first ? "" : ", ") + k + " " + (v.is_string() ? v.get<std::string>() : v.dump());
        first = false;
      }
    }
    f.panelNote = note + ".";
  }
  prefixed("\"" + f.server + "\": ", [&] { host.checks().requireNone(); });
}

} // namespace hostsim::doc
