#include "hostsim/doc/site.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/lw_host.h"
#include "hostsim/doc/panel_svg.h"
#include "hostsim/host.h"
#include "hostsim/loader.h"
#include "hostsim/network.h"
#include "hostsim/render/image_output.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/node_settings.h"
#include "hostsim/scene/scene.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace hostsim::doc {

namespace {

// The preview's size and sampling: small, and on one thread so that the
// picture is the same at every run.
constexpr int kPreviewWidth = 200, kPreviewHeight = 150, kPreviewSamples = 8;

// Every fault of the site names what it concerns at the start of its message
// and no file of its own: the command puts the site's folder before it, as
// it always has.

// Runs fn; an Error it throws comes out with prefix before its message.
template <class Fn> auto prefixed(const std::string &prefix, Fn &&fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const Error &e) {
    throw Error(prefix + e.what());
  }
}

std::string readFile(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw Error(p.string() + ": cannot read");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeText(const fs::path &root, const std::string &rel, const std::string &text, SiteReport &report) {
  const fs::path p = root / rel;
  fs::create_directories(p.parent_path());
  prefixed(p.string() + ": ", [&] { writeFileSafely(p.string(), text.data(), text.size()); });
  report.files.push_back(rel);
}

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

// ------------------------------------------------------------- the facts

struct ControlFact {
  uint32_t id = 0;
  std::string label, kind, controlType, shown, range, enabledWhen, overriddenBy;
  std::vector<std::string> items;
  bool popup = false, enabled = true, repeated = false, holdsValue = false;
};

struct PortFact {
  std::string name, type, overrides;
};

struct NodeFacts {
  std::string server, userName, group, slug;
  int32_t color[3] = {0, 0, 0};
  bool hasPanel = false;
  std::vector<PortFact> inputs, outputs;
  std::vector<ControlFact> controls;
  std::string panelSvgInline, panelSvgFile, panelNote;
  Description description;
  struct Preview {
    std::string caption, png, scene;
  };
  std::vector<Preview> previews;
};

std::string rangeText(const PanelControl &c) {
  std::vector<std::string> parts;
  if (c.min) parts.push_back("min " + std::to_string(*c.min) + (c.hardMin ? " (hard)" : ""));
  if (c.max) parts.push_back("max " + std::to_string(*c.max) + (c.hardMax ? " (hard)" : ""));
  if (c.rangeMin && c.rangeMax)
    parts.push_back("slider " + std::to_string(*c.rangeMin) + " to " + std::to_string(*c.rangeMax) +
                    (c.step ? ", step " + std::to_string(*c.step) : ""));
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
  if (!p.hintErrors.empty()) throw Error("\"" + server.name + "\": malformed hint array: " + p.hintErrors.front());
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
    try {
      applySettings(host, module, node, setup["settings"], f.description.file + ": panel.settings");
    } catch (const Error &e) {
      throw Error(e.what()); // its message names the description already
    }
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
}

// ------------------------------------------------------------ previews

// The standard preview: a ball just over a floor under a sky, seen from a
// little above, lit from the upper left.
json previewScene(const json &spec, const json &settings, const std::string &varyNode, const std::string &where) {
  json s;
  s["camera"] = {{"position", {0, 1.15, -3.3}}, {"target", {0, 0.5, 0}}, {"fov", 46}};
  s["image"] = {{"width", kPreviewWidth}, {"height", kPreviewHeight}, {"samples", kPreviewSamples}};
  s["rayRecursionLimit"] = 4;
  s["threads"] = 1;
  s["backdrop"] = {{"zenith", {0.08, 0.16, 0.42}},
                   {"sky", {0.62, 0.74, 0.92}},
                   {"ground", {0.3, 0.27, 0.22}},
                   {"nadir", {0.1, 0.09, 0.08}}};
  s["light"] = {{"direction", {-0.5, -1, 0.7}}, {"color", {1, 0.97, 0.92}}, {"intensity", 1.05}, {"ambient", 0.2},
                {"shadows", true}};
  json images = json::array();
  if (spec.contains("images"))
    for (const auto &img : spec["images"]) images.push_back({{"file", "../images/" + img.get<std::string>()}});
  s["images"] = images;
  json surface = {{"name", "Preview"}};
  if (spec.contains("surface"))
    for (const auto &[k, v] : spec["surface"].items()) surface[k] = v;
  json network = spec.at("network");
  bool found = false;
  for (auto &n : network["nodes"])
    if (n.value("name", "") == varyNode) {
      found = true;
      for (const auto &[k, v] : settings.items()) n["settings"][k] = v;
    }
  if (!found) throw Error(where + ": the preview network has no node \"" + varyNode + "\"");
  surface["network"] = network;
  const bool floor = spec.value("floor", false);
  s["surfaces"] = json::array({{{"name", "Floor"}, {"color", {0.62, 0.6, 0.56}}}, surface});
  s["objects"] = json::array({{{"type", "plane"}, {"surface", floor ? "Preview" : "Floor"}, {"size", {40, 40}}},
                              {{"type", "sphere"}, {"surface", "Preview"}, {"radius", 0.55}, {"position", {0, 0.6, 0}}}});
  return s;
}

std::string settingsCaption(const json &settings) {
  std::string s;
  for (const auto &[k, v] : settings.items()) {
    std::string value = v.is_string() ? "\u201C" + v.get<std::string>() + "\u201D" : v.dump();
    if (v.is_boolean()) value = v.get<bool>() ? "on" : "off";
    s += (s.empty() ? "" : ", ") + k + " " + value;
  }
  return s;
}

void renderPreviews(const Module &module, const SiteOptions &o, NodeFacts &f, const json &spec, SiteReport &report) {
  const std::string where = f.description.file + ": preview";
  std::string vary = spec.value("vary", "");
  if (vary.empty())
    for (const auto &n : spec.at("network").at("nodes"))
      if (n.value("server", "") == f.server) {
        vary = n.value("name", "");
        break;
      }
  if (vary.empty()) throw Error(where + ": no node of \"" + f.server + "\" in the preview network");
  std::vector<json> variations;
  if (spec.contains("variations"))
    for (const auto &v : spec["variations"]) variations.push_back(v);
  if (variations.empty()) variations.push_back(json::object());
  for (std::size_t i = 0; i < variations.size(); ++i) {
    const std::string stem = f.slug + "/preview" + (variations.size() > 1 ? "-" + std::to_string(i + 1) : "");
    const json scene = previewScene(spec, variations[i], vary, where);
    writeText(o.out, stem + ".json", scene.dump(2) + "\n", report);
    Host host;
    std::unique_ptr<Scene> sc;
    try {
      sc = loadScene(host, module, (fs::path(o.out) / (stem + ".json")).string());
    } catch (const Error &e) {
      throw Error(stem + ".json: " + e.what());
    }
    Renderer renderer(*sc, host);
    RenderOptions ro;
    ro.threads = 1;
    const auto t0 = std::chrono::steady_clock::now();
    renderer.render(ro, [&](int, const FrameBuffer &fb) {
      prefixed(stem + ".png: ", [&] { writeImage((fs::path(o.out) / (stem + ".png")).string(), fb); });
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (o.log) std::fprintf(o.log, "hostsim: rendered %s.png in %.2f s\n", stem.c_str(), seconds);
    report.files.push_back(stem + ".png");
    ++report.pictures;
    std::string caption = settingsCaption(variations[i]);
    f.previews.push_back({caption.empty() ? "As set up in the scene file" : caption, stem + ".png", stem + ".json"});
  }
}

// --------------------------------------------------------------- pages

std::string page(const std::string &title, const std::string &body) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + escape(title) +
         "</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n</head>\n<body>\n" + body +
         "<script src=\"site.js\"></script>\n</body>\n</html>\n";
}

std::string swatch(const int32_t c[3]) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "<span class=\"swatch\" style=\"background:rgb(%d,%d,%d)\"></span>", c[0], c[1], c[2]);
  return buf;
}

std::string nodePage(const NodeFacts &f, const std::vector<NodeFacts> &all) {
  std::ostringstream b;
  b << "<nav class=\"crumbs\"><a href=\"index.html\">JuxsNodes reference</a> \u203A " << escape(f.group) << "</nav>\n";
  b << "<main>\n<h1>" << escape(f.userName) << "</h1>\n";
  b << "<table class=\"facts\">\n<tr><th>Server name</th><td><code>" << escape(f.server) << "</code></td></tr>\n"
    << "<tr><th>Menu group</th><td>" << escape(f.group) << "</td></tr>\n"
    << "<tr><th>Node colour</th><td>" << swatch(f.color) << " " << f.color[0] << ", " << f.color[1] << ", "
    << f.color[2] << "</td></tr>\n"
    << "<tr><th>Panel</th><td>" << (f.hasPanel ? "yes" : "none: this node has no settings") << "</td></tr>\n</table>\n";
  for (const auto &para : f.description.paragraphs) b << "<p class=\"lead\">" << escape(para) << "</p>\n";

  b << "<div class=\"pair\">\n";
  if (f.hasPanel) {
    b << "<section class=\"panel\">\n<h2>Panel</h2>\n<figure>" << f.panelSvgInline << "<figcaption>";
    b << "As the host lays it out, with default settings";
    if (!f.panelNote.empty()) b << " except: " << escape(f.panelNote);
    else b << ".";
    b << " Greyed controls are disabled by their enable rule.</figcaption></figure>\n</section>\n";
  }
  b << "<section class=\"previews\">\n<h2>Preview</h2>\n";
  for (const auto &pv : f.previews)
    b << "<figure class=\"preview\"><img src=\"" << escape(pv.png) << "\" width=\"" << kPreviewWidth << "\" height=\""
      << kPreviewHeight << "\" alt=\"" << escape(f.userName + ": " + pv.caption) << "\"><figcaption>"
      << escape(pv.caption) << " \u00B7 <a href=\"" << escape(pv.scene) << "\">scene file</a></figcaption></figure>\n";
  b << "<p class=\"note\">Each picture is rendered by <code>hostsim render</code> from the scene file beside it, "
       "on one thread; edit the settings there to try others.</p>\n</section>\n</div>\n";

  auto ports = [&](const char *title, const std::vector<PortFact> &list, bool inputs) {
    b << "<section>\n<h2>" << title << "</h2>\n";
    if (list.empty()) {
      b << "<p>None.</p>\n</section>\n";
      return;
    }
    b << "<table class=\"grid\">\n<tr><th>Name</th><th>Type</th>" << (inputs ? "<th>Overrides the setting</th>" : "")
      << "</tr>\n";
    for (const auto &port : list) {
      b << "<tr><td>" << escape(port.name) << "</td><td><span class=\"type t-" << slugOf(port.type) << "\">"
        << escape(port.type) << "</span></td>";
      if (inputs) b << "<td>" << (port.overrides.empty() ? "\u2014" : escape(port.overrides)) << "</td>";
      b << "</tr>\n";
    }
    b << "</table>\n</section>\n";
  };
  ports("Inputs", f.inputs, true);
  ports("Outputs", f.outputs, false);

  if (f.hasPanel) {
    b << "<section>\n<h2>Settings</h2>\n<table class=\"grid settings\">\n<tr><th>Setting</th><th>Control</th>"
         "<th>Default</th><th>Limits and items</th><th>Input that overrides it</th><th>Enabled when</th></tr>\n";
    for (const auto &c : f.controls) {
      b << "<tr" << (c.enabled ? "" : " class=\"off\"") << "><td><b>"
        << (c.label.empty() ? "(no label)" : escape(c.label)) << "</b>"
        << (c.repeated ? " <span class=\"id\">" + hexId(c.id) + "</span>" : "") << "</td><td>" << escape(c.kind)
        << "<br><code>" << escape(c.controlType) << "</code></td><td>"
        << (c.holdsValue ? (c.shown.empty() ? "(none)" : escape(c.shown)) : "\u2014") << "</td><td>";
      if (!c.range.empty()) b << escape(c.range);
      if (c.popup) {
        b << "<ol start=\"0\" class=\"items\">";
        for (const auto &item : c.items) b << "<li>" << escape(item) << "</li>";
        b << "</ol>";
      }
      if (c.range.empty() && !c.popup) b << "\u2014";
      b << "</td><td>" << (c.overriddenBy.empty() ? "\u2014" : escape(c.overriddenBy)) << "</td><td>"
        << (c.enabledWhen.empty() ? "always" : escape(c.enabledWhen)) << "</td></tr>\n";
    }
    b << "</table>\n<p class=\"note\">Settings whose label repeats are named by their id in scene files.</p>\n"
         "</section>\n";
  }

  // Neighbours in the module's order, for reading straight through.
  std::size_t at = 0;
  while (at < all.size() && all[at].server != f.server) ++at;
  b << "<nav class=\"next\">";
  if (at > 0) b << "<a href=\"" << all[at - 1].slug << ".html\">\u2190 " << escape(all[at - 1].userName) << "</a>";
  if (at + 1 < all.size())
    b << "<a class=\"right\" href=\"" << all[at + 1].slug << ".html\">" << escape(all[at + 1].userName) << " \u2192</a>";
  b << "</nav>\n</main>\n";
  return page(f.userName + " \u2014 JuxsNodes", b.str());
}

std::string firstSentence(const std::string &text) {
  const std::size_t end = text.find(". ");
  return end == std::string::npos ? text : text.substr(0, end + 1);
}

std::string indexPage(const std::vector<NodeFacts> &all, const std::string &moduleName) {
  std::ostringstream b;
  b << "<main>\n<h1>JuxsNodes node reference</h1>\n<p class=\"lead\">The " << all.size()
    << " nodes of <code>" << escape(moduleName) << "</code>, by the group of the node editor's menu they are in. "
       "Each page shows the node's panel as the host lays it out, a preview render, its inputs and outputs and "
       "every setting with its default; all of it is read from the module itself.</p>\n";
  std::vector<std::string> groups;
  for (const auto &f : all)
    if (std::find(groups.begin(), groups.end(), f.group) == groups.end()) groups.push_back(f.group);
  for (const auto &g : groups) {
    b << "<section>\n<h2>" << escape(g) << "</h2>\n<div class=\"cards\">\n";
    for (const auto &f : all) {
      if (f.group != g) continue;
      b << "<a class=\"card\" href=\"" << f.slug << ".html\">";
      if (!f.previews.empty())
        b << "<img src=\"" << escape(f.previews.front().png) << "\" width=\"" << kPreviewWidth / 2 << "\" height=\""
          << kPreviewHeight / 2 << "\" alt=\"\">";
      b << "<span class=\"name\">" << escape(f.userName) << "</span><span class=\"blurb\">"
        << escape(f.description.paragraphs.empty() ? "" : firstSentence(f.description.paragraphs.front()))
        << "</span></a>\n";
    }
    b << "</div>\n</section>\n";
  }
  b << "</main>\n";
  return page("JuxsNodes node reference", b.str());
}

const char *kStyle = R"css(/* The node reference. DejaVu Sans is named first so that every machine with
   the font (the set-up script installs it) draws the same pages. */
html { background: #f4f3ef; }
body { margin: 0; font: 15px/1.5 "DejaVu Sans", sans-serif; color: #222; }
main { max-width: 1000px; margin: 0 auto; padding: 8px 28px 40px; }
h1 { font-size: 28px; margin: 10px 0 12px; letter-spacing: -0.5px; }
h2 { font-size: 18px; margin: 26px 0 10px; padding-bottom: 4px; border-bottom: 2px solid #c9c5b8; }
a { color: #1f5d99; text-decoration: none; }
a:hover { text-decoration: underline; }
code { font-family: "DejaVu Sans Mono", monospace; font-size: 13px; background: #e7e5dd; padding: 0 3px; }
.crumbs { max-width: 1000px; margin: 0 auto; padding: 14px 28px 0; font-size: 13px; color: #666; }
.lead { max-width: 760px; }
.note { font-size: 13px; color: #555; }
.facts { border-collapse: collapse; margin: 6px 0 14px; font-size: 14px; }
.facts th { text-align: left; font-weight: normal; color: #666; padding: 2px 18px 2px 0; }
.facts td { padding: 2px 0; }
.swatch { display: inline-block; width: 14px; height: 14px; border: 1px solid #555; vertical-align: -2px; }
.pair { display: flex; flex-wrap: wrap; gap: 0 36px; align-items: flex-start; }
.pair section { flex: 0 0 auto; }
.previews { max-width: 440px; }
figure { margin: 0 0 12px; }
figcaption { font-size: 13px; color: #555; max-width: 400px; margin-top: 4px; }
.preview { display: inline-block; vertical-align: top; width: 202px; margin-right: 12px; }
.preview img { display: block; border: 1px solid #999; }
.preview figcaption { max-width: 202px; }
.grid { border-collapse: collapse; width: 100%; font-size: 13.5px; background: #fff; }
.grid th { text-align: left; background: #e3e0d6; padding: 5px 8px; border: 1px solid #cfcabc; }
.grid td { padding: 5px 8px; border: 1px solid #ddd9cd; vertical-align: top; }
.grid code { font-size: 12px; }
.settings tr.off td b { color: #777; }
.id { font-family: "DejaVu Sans Mono", monospace; font-size: 12px; color: #777; }
.items { margin: 0; padding-left: 28px; }
.type { display: inline-block; padding: 0 7px; border-radius: 8px; font-size: 12.5px; color: #fff; }
.t-color { background: #b5473a; } .t-scalar { background: #5a6b7d; } .t-vector { background: #3c7a4f; }
.t-integer { background: #7a5a9a; } .t-function { background: #8a7a2a; } .t-material { background: #2a6a8a; }
.cards { display: flex; flex-wrap: wrap; gap: 12px; }
.card { display: flex; flex-direction: column; width: 300px; padding: 10px; background: #fff; border: 1px solid #d6d2c6;
  border-radius: 4px; color: #222; }
.card:hover { border-color: #1f5d99; text-decoration: none; }
.card img { float: left; margin: 0 10px 4px 0; border: 1px solid #aaa; align-self: flex-start; }
.card .name { font-weight: bold; color: #1f5d99; }
.card .blurb { font-size: 13px; color: #555; }
.next { display: flex; margin-top: 30px; padding-top: 10px; border-top: 1px solid #c9c5b8; }
.next .right { margin-left: auto; }
#check-result { display: none; }
)css";

const char *kScript = R"js(// Switches the tabs of a drawn panel; with #check in the address, also writes
// into the page what the browser test reads back: images that did not load,
// and text wider than its box.
document.querySelectorAll('.xp-tab').forEach(function (tab) {
  tab.addEventListener('click', function () {
    var svg = tab.ownerSVGElement, set = tab.dataset.tabs, page = tab.dataset.page;
    svg.querySelectorAll('.xp-page[data-tabs="' + set + '"]').forEach(function (g) {
      g.style.display = g.dataset.page === page ? '' : 'none';
    });
    svg.querySelectorAll('.xp-tab[data-tabs="' + set + '"]').forEach(function (t) {
      t.classList.toggle('xp-on', t === tab);
    });
  });
});
if (location.hash === '#check') {
  window.addEventListener('load', function () {
    var faults = [];
    document.querySelectorAll('img').forEach(function (img) {
      if (!img.complete || img.naturalWidth === 0) faults.push('image did not load: ' + img.getAttribute('src'));
    });
    // Each tab shows its own page and hides the others of its set.
    document.querySelectorAll('.xp-tab').forEach(function (tab) {
      tab.dispatchEvent(new MouseEvent('click'));
      tab.ownerSVGElement.querySelectorAll('.xp-page[data-tabs="' + tab.dataset.tabs + '"]').forEach(function (g) {
        if ((g.style.display !== 'none') !== (g.dataset.page === tab.dataset.page))
          faults.push('tab ' + tab.textContent + ' leaves page ' + g.dataset.page + (g.style.display === 'none' ? ' hidden' : ' shown'));
      });
    });
    document.querySelectorAll('.xp-tab[data-page="0"]').forEach(function (tab) { tab.dispatchEvent(new MouseEvent('click')); });
    // Text of every tab page is measured: show each page while measuring.
    document.querySelectorAll('.xp-page').forEach(function (g) { g.dataset.was = g.style.display; g.style.display = ''; });
    document.querySelectorAll('text[data-fit]').forEach(function (t) {
      var fit = parseFloat(t.dataset.fit), w = t.getComputedTextLength();
      if (w > fit + 0.5) faults.push('panel text "' + t.textContent + '" is ' + w.toFixed(1) + ' px wide in a ' + fit + ' px box');
    });
    document.querySelectorAll('.xp-page').forEach(function (g) { g.style.display = g.dataset.was; delete g.dataset.was; });
    document.querySelectorAll('body *').forEach(function (el) {
      if (el.closest('svg') || el.clientWidth === 0) return;
      if (el.scrollWidth > el.clientWidth + 1)
        faults.push('text overflows its box: <' + el.tagName.toLowerCase() + '> "' + el.textContent.slice(0, 40) + '" (' + el.scrollWidth + ' > ' + el.clientWidth + ')');
    });
    if (document.documentElement.scrollWidth > window.innerWidth)
      faults.push('the page is wider than the window: ' + document.documentElement.scrollWidth + ' px');
    var svgImages = document.querySelectorAll('svg image'), pending = svgImages.length;
    function report() {
      var out = document.createElement('pre');
      out.id = 'check-result';
      out.dataset.height = document.documentElement.scrollHeight;
      out.textContent = faults.length ? faults.join('\n') : 'ok';
      document.body.appendChild(out);
    }
    if (!pending) return report();
    svgImages.forEach(function (im) {
      var probe = new Image();
      probe.onload = function () { if (--pending === 0) report(); };
      probe.onerror = function () { faults.push('image did not load: ' + im.getAttribute('href')); if (--pending === 0) report(); };
      probe.src = im.getAttribute('href');
    });
  });
}
)js";

} // namespace

Description parseDescription(const std::string &file, const std::string &text) {
  Description d;
  d.file = file;
  std::istringstream in(text);
  std::string line, para;
  bool inJson = false, sawJson = false;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNo == 1) {
      if (line.rfind("# ", 0) != 0 || line.size() < 3)
        throw Error(file + ":1: the first line names the node's server: \"# SERVER NAME\"");
      d.server = line.substr(2);
      continue;
    }
    if (inJson) {
      if (line == "```") {
        inJson = false;
        continue;
      }
      d.previewJson += line + "\n";
      continue;
    }
    if (line == "```json") {
      if (sawJson) throw Error(file + ":" + std::to_string(lineNo) + ": a second preview block");
      inJson = sawJson = true;
      if (!para.empty()) d.paragraphs.push_back(para);
      para.clear();
      continue;
    }
    if (line.empty()) {
      if (!para.empty()) d.paragraphs.push_back(para);
      para.clear();
      continue;
    }
    para += (para.empty() ? "" : " ") + line;
  }
  if (!para.empty()) d.paragraphs.push_back(para);
  if (inJson) throw Error(file + ": the preview block is not closed with ```");
  if (d.paragraphs.empty()) throw Error(file + ": no description");
  if (!sawJson) throw Error(file + ": no ```json preview block");
  return d;
}

SiteReport writeSite(const SiteOptions &o) {
  SiteReport report;
  try {
    std::unique_ptr<Module> module = prefixed(o.module + ": ", [&] { return Module::open(o.module); });

    // Descriptions, keyed by the server they name.
    std::map<std::string, Description> descriptions;
    const fs::path nodesDir = fs::path(o.sourceDir) / "nodes";
    if (!fs::is_directory(nodesDir)) throw Error(nodesDir.string() + ": no such folder (the repository's nodes)");
    std::vector<fs::path> mdFiles;
    for (const auto &e : fs::recursive_directory_iterator(nodesDir))
      if (e.is_regular_file() && e.path().extension() == ".md") mdFiles.push_back(e.path());
    std::sort(mdFiles.begin(), mdFiles.end());
    for (const auto &file : mdFiles) {
      const std::string rel = fs::relative(file, o.sourceDir).generic_string();
      const Description d = parseDescription(rel, readFile(file));
      if (descriptions.count(d.server))
        throw Error(rel + ": \"" + d.server + "\" is described in " + descriptions[d.server].file + " already");
      descriptions[d.server] = d;
    }

    std::vector<NodeFacts> all;
    for (const auto &s : module->servers()) {
      if (s.className != LWNODE_HCLASS) continue;
      NodeFacts f;
      readFacts(*module, s, f);
      auto it = descriptions.find(s.name);
      if (it == descriptions.end()) throw Error("\"" + s.name + "\" has no description (nodes/.../NAME.md)");
      f.description = it->second;
      descriptions.erase(it);
      all.push_back(std::move(f));
    }
    if (!descriptions.empty())
      throw Error(descriptions.begin()->second.file + ": the module has no node server \"" +
                  descriptions.begin()->first + "\"");

    fs::create_directories(o.out);
    // The example pictures the previews and panels use, beside the pages.
    std::set<std::string> images;
    std::vector<json> specs;
    for (auto &f : all) {
      try {
        specs.push_back(json::parse(f.description.previewJson));
      } catch (const json::exception &e) {
        throw Error(f.description.file + ": preview block: " + e.what());
      }
      if (specs.back().contains("images"))
        for (const auto &img : specs.back()["images"]) images.insert(img.get<std::string>());
    }
    for (const auto &img : images) {
      const fs::path from = fs::path(o.sourceDir) / "examples" / "images" / img;
      const std::string bytes = readFile(from);
      writeText(o.out, "images/" + img, bytes, report);
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].hasPanel) drawPanel(*module, o, all[i], specs[i].value("panel", json::object()), report);
      renderPreviews(*module, o, all[i], specs[i], report);
    }
    for (const auto &f : all) {
      writeText(o.out, f.slug + ".html", nodePage(f, all), report);
      if (f.hasPanel) writeText(o.out, f.slug + "/panel.svg", f.panelSvgFile + "\n", report);
      ++report.pages;
    }
    writeText(o.out, "index.html", indexPage(all, fs::path(o.module).filename().string()), report);
    writeText(o.out, "style.css", kStyle, report);
    writeText(o.out, "site.js", kScript, report);
    std::sort(report.files.begin(), report.files.end());
    return report;
  } catch (const fs::filesystem_error &e) {
    throw Error(e.what());
  }
}

} // namespace hostsim::doc
