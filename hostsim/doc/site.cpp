// The site's pages, style and script, and the writer that gathers each
// node's facts and previews and writes them out.
#include "hostsim/doc/site.h"
#include "hostsim/paths.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "host/lw_host.h"
#include "hostsim/doc/panel_svg.h"
#include "hostsim/doc/site_parts.h"
#include "hostsim/render/image_output.h"
#include "hostsim/scene/scene.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace hostsim::doc {

void writeText(const fs::path &root, const std::string &rel, const std::string &text, SiteReport &report) {
  const fs::path p = root / rel;
  fs::create_directories(p.parent_path());
  prefixed(p.string() + ": ", [&] { writeFileSafely(p.string(), text.data(), text.size()); });
  report.files.push_back(rel);
}

namespace {

std::string readFile(const fs::path &p) {
  if (const std::string kind = notAFile(p); !kind.empty()) throw Error(p.string() + ": it is " + kind + ", not a file");
  std::ifstream in(p, std::ios::binary);
  if (!in) throw Error(p.string() + ": cannot read");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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

// A member of a preview block as text, whatever it holds.
std::string text(const json &object, const char *key) {
  if (!object.contains(key)) return "";
  const json &v = object[key];
  return v.is_string() ? v.get<std::string>() : v.dump();
}

// The preview's surface network, listed as a user builds it in the node
// editor, and what each setting measured in percent or distance is a share
// or a length of.
std::string usage(const NodeFacts &f, const std::vector<NodeFacts> &all) {
  const json &spec = f.preview;
  std::ostringstream b;
  b << "<section class=\"use\">\n<h2>Use it</h2>\n<p>The smallest surface that shows it working, as the preview's "
       "scene file builds it:</p>\n<ol class=\"wiring\">\n";
  for (const auto &n : spec["network"]["nodes"]) {
    std::string kind = text(n, "server");
    if (n.contains("host")) kind = "the host's " + text(n, "host") + " node";
    for (const auto &g : all)
      if (g.server == kind) kind = g.userName;
    b << "<li>Add " << escape(kind) << ", named <code>" << escape(text(n, "name")) << "</code>";
    if (n.contains("settings") && !n["settings"].empty()) b << ", and set " << escape(settingsCaption(n["settings"]));
    b << ".</li>\n";
  }
  if (spec["network"].contains("connections") && spec["network"]["connections"].is_array())
    for (const auto &c : spec["network"]["connections"]) {
      const std::string to = text(c, "to");
      b << "<li>Connect <code>" << escape(text(c, "from")) << "</code>\u2019s " << escape(text(c, "output")) << " to "
        << (to == "Surface" ? std::string("the surface\u2019s") : "<code>" + escape(to) + "</code>\u2019s") << " "
        << escape(text(c, "input")) << ".</li>\n";
    }
  if (spec.contains("surface") && !spec["surface"].empty())
    b << "<li>Give the surface its own " << escape(settingsCaption(spec["surface"])) << " (scene-file keys).</li>\n";
  b << "</ol>\n";
  if (!f.description.notes.empty()) {
    b << "<dl class=\"measures\">\n";
    for (const auto &n : f.description.notes)
      b << "<dt>" << escape(n.control) << "</dt><dd>" << escape(n.text) << "</dd>\n";
    b << "</dl>\n";
  }
  b << "</section>\n";
  return b.str();
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
  b << usage(f, all);

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

  if (!f.modes.empty()) {
    b << "<section>\n<h2>Modes</h2>\n<p>" << escape(f.modesNote)
      << " Measured by evaluating the node, mode by mode; read this rather than the popup's labels.</p>\n"
         "<table class=\"grid modes\">\n<tr><th>Mode</th><th>Popup item</th><th>"
      << escape(f.modesHeading) << "</th></tr>\n";
    for (const auto &m : f.modes)
      b << "<tr><td data-label=\"Mode\">" << m.index << "</td><td data-label=\"Popup item\">\u201C" << escape(m.item)
        << "\u201D</td><td data-label=\"" << escape(f.modesHeading) << "\">" << escape(m.when) << "</td></tr>\n";
    b << "</table>\n</section>\n";
  }

  auto ports = [&](const char *title, const std::vector<PortFact> &list, bool inputs) {
    b << "<section>\n<h2>" << title << "</h2>\n";
    if (list.empty()) {
      b << "<p>None.</p>\n</section>\n";
      return;
    }
    b << "<table class=\"grid\">\n<tr><th>Name</th><th>Type</th>" << (inputs ? "<th>Overrides the setting</th>" : "")
      << "</tr>\n";
    for (const auto &port : list) {
      b << "<tr><td data-label=\"Name\">" << escape(port.name) << "</td><td data-label=\"Type\"><span class=\"type t-"
        << slugOf(port.type) << "\">" << escape(port.type) << "</span></td>";
      if (inputs)
        b << "<td data-label=\"Overrides\">" << (port.overrides.empty() ? "\u2014" : escape(port.overrides)) << "</td>";
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
      b << "<tr" << (c.enabled ? "" : " class=\"off\"") << "><td data-label=\"Setting\"><b>"
        << (c.label.empty() ? "(no label)" : escape(c.label)) << "</b>"
        << (c.repeated ? " <span class=\"id\">" + hexId(c.id) + "</span>" : "") << "</td><td data-label=\"Control\">"
        << escape(c.kind) << "<br><code>" << escape(c.controlType) << "</code></td><td data-label=\"Default\">"
        << (c.holdsValue ? (c.shown.empty() ? "(none)" : escape(c.shown)) : "\u2014")
        << "</td><td data-label=\"Limits and items\">";
      if (!c.range.empty()) b << escape(c.range);
      if (c.popup) {
        b << "<ol start=\"0\" class=\"items\">";
        for (const auto &item : c.items) b << "<li>" << escape(item) << "</li>";
        b << "</ol>";
      }
      if (c.range.empty() && !c.popup) b << "\u2014";
      b << "</td><td data-label=\"Overridden by\">" << (c.overriddenBy.empty() ? "\u2014" : escape(c.overriddenBy))
        << "</td><td data-label=\"Enabled when\">" << (c.enabledWhen.empty() ? "always" : escape(c.enabledWhen))
        << "</td></tr>\n";
    }
    b << "</table>\n<p class=\"note\">An input overrides a setting when the node, with the input connected to a "
         "value other than the setting\u2019s, does exactly what it does with the setting at that value: its outputs "
         "and every ray it asks for, measured for each input and setting of the same type. Settings whose label "
         "repeats are named by their id in scene files.</p>\n</section>\n";
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
.use ol { padding-left: 24px; }
.measures dt { font-weight: bold; margin-top: 6px; }
.measures dd { margin: 0 0 0 20px; max-width: 740px; }
/* A phone: one column; each table row a block of its cells, each cell
   named by its column; the panel drawn as wide as the screen. */
@media (max-width: 640px) {
  main { padding: 8px 12px 30px; }
  .crumbs { padding: 10px 12px 0; }
  .pair { display: block; }
  .panel svg { max-width: 100%; height: auto; }
  .grid, .grid tbody, .grid tr, .grid td { display: block; }
  .grid tr:first-child { display: none; }
  .grid tr { margin: 0 0 8px; border: 1px solid #ddd9cd; }
  .grid td { border: none; padding: 2px 8px; }
  .grid td::before { content: attr(data-label) ": "; color: #666; }
  .card { width: auto; }
  code { overflow-wrap: anywhere; }
}
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


// ------------------------------------------------------- preview blocks

// A description's preview block, read and checked before anything is drawn
// or written: each fault names the description (and, for the JSON itself,
// the line in it), never the library's bare message.
class PreviewReader {
public:
  PreviewReader(const Description &d, const fs::path &imagesDir) : d_(d), imagesDir_(imagesDir) {}

  json read() const {
    json spec;
    try {
      spec = json::parse(d_.previewJson);
    } catch (const json::parse_error &e) {
      // The library counts lines in the block; the file's are wanted.
      const std::size_t end = std::min<std::size_t>(e.byte == 0 ? 0 : e.byte - 1, d_.previewJson.size());
      const auto line = d_.previewLine + std::count(d_.previewJson.begin(), d_.previewJson.begin() + static_cast<long>(end), '\n');
      std::string what = jsonMessage(e);
      if (const auto at = what.find(": "); what.rfind("parse error", 0) == 0 && at != std::string::npos)
        what.erase(0, at + 2); // "parse error at line 1, column 3: " says the block's place
      throw Error(d_.file + ":" + std::to_string(line) + ": preview block: " + what);
    } catch (const json::exception &e) {
      fault("", jsonMessage(e));
    }
    if (!spec.is_object()) fault("", "should be a JSON object");
    onlyKeys(spec, {"images", "panel", "surface", "network", "vary", "floor", "wall", "variations", "facts", "modes"},
             "");
    pictures(spec, "images", "");
    if (spec.contains("panel")) {
      const json &panel = spec["panel"];
      if (!panel.is_object()) fault("panel", "should be an object");
      onlyKeys(panel, {"images", "settings"}, "panel.");
      pictures(panel, "images", "panel.");
      if (panel.contains("settings") && !panel["settings"].is_object())
        fault("panel.settings", "should be an object of control labels and values");
    }
    if (spec.contains("surface") && !spec["surface"].is_object()) fault("surface", "should be an object");
    if (!spec.contains("network")) fault("", "no \"network\"");
    const json &network = spec["network"];
    if (!network.is_object()) fault("network", "should be an object");
    if (!network.contains("nodes") || !network["nodes"].is_array()) fault("network.nodes", "should be a list of nodes");
    for (std::size_t i = 0; i < network["nodes"].size(); ++i) {
      const json &node = network["nodes"][i];
      const std::string at = "network.nodes[" + std::to_string(i) + "]";
      if (!node.is_object()) fault(at, "should be an object");
      for (const char *key : {"name", "server", "host"})
        if (node.contains(key) && !node[key].is_string()) fault(at + "." + key, "should be a string");
      // A variation's settings are added to these.
      if (node.contains("settings") && !node["settings"].is_object())
        fault(at + ".settings", "should be an object of control labels and values");
    }
    if (spec.contains("vary") && !spec["vary"].is_string()) fault("vary", "should be the name of a node");
    if (spec.contains("floor") && !spec["floor"].is_boolean()) fault("floor", "should be true or false");
    if (spec.contains("wall") && !spec["wall"].is_boolean()) fault("wall", "should be true or false");
    if (spec.contains("facts")) {
      const json &facts = spec["facts"];
      if (!facts.is_object()) fault("facts", "should be an object");
      onlyKeys(facts, {"images", "probes"}, "facts.");
      pictures(facts, "images", "facts.");
      if (facts.contains("probes")) {
        if (!facts["probes"].is_array()) fault("facts.probes", "should be a list of probes");
        for (std::size_t i = 0; i < facts["probes"].size(); ++i) {
          const json &probe = facts["probes"][i];
          const std::string at = "facts.probes[" + std::to_string(i) + "]";
          if (!probe.is_object()) fault(at, "should be an object: \"settings\" and \"feed\"");
          onlyKeys(probe, {"settings", "feed"}, at + ".");
          if (probe.contains("settings") && !probe["settings"].is_object())
            fault(at + ".settings", "should be an object of control labels and values");
          if (probe.contains("feed") &&
              (!probe["feed"].is_array() ||
               std::any_of(probe["feed"].begin(), probe["feed"].end(), [](const json &n) { return !n.is_string(); })))
            fault(at + ".feed", "should be a list of input names");
        }
      }
    }
    if (spec.contains("modes") && spec["modes"] != "restart" && spec["modes"] != "hold")
      fault("modes", "should be \"restart\" (when a count starts over) or \"hold\" (when a value is held)");
    if (spec.contains("variations")) {
      const json &variations = spec["variations"];
      if (!variations.is_array()) fault("variations", "should be a list of settings");
      for (std::size_t i = 0; i < variations.size(); ++i)
        if (!variations[i].is_object())
          fault("variations[" + std::to_string(i) + "]", "should be an object of control labels and values");
    }
    return spec;
  }

private:
  [[noreturn]] void fault(const std::string &where, const std::string &what) const {
    throw Error(d_.file + ": preview block: " + (where.empty() ? "" : where + ": ") + what);
  }

  void onlyKeys(const json &object, std::initializer_list<const char *> known, const std::string &prefix) const {
    // Not a structured binding: clang 14 cannot capture one in the lambda.
    for (const auto &item : object.items()) {
      const std::string &key = item.key();
      if (std::none_of(known.begin(), known.end(), [&](const char *k) { return key == k; }))
        fault(prefix + key, "unknown key");
    }
  }

  // A list of example pictures: plain file names (the site copies each
  // beside its pages, so a path could write outside the site's folder) of
  // pictures that are there.
  void pictures(const json &object, const char *key, const std::string &prefix) const {
    if (!object.contains(key)) return;
    const json &list = object[key];
    const std::string where = prefix + key;
    if (!list.is_array()) fault(where, "should be a list of example picture names");
    for (const auto &item : list) {
      if (!item.is_string()) fault(where, "should be a list of example picture names");
      const std::string name = item.get<std::string>();
      if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
        fault(where, "\"" + name + "\" is not a file name in examples/images");
      if (!fs::is_regular_file(imagesDir_ / name)) fault(where, "no example picture \"" + name + "\" in " + imagesDir_.string());
    }
  }

  const Description &d_;
  fs::path imagesDir_;
};

// Notes name settings the node has, and every setting measured in percent or
// in distance has one: a reader must know what 100 % is of, and from where a
// distance runs.
void checkNotes(const NodeFacts &f) {
  for (const auto &n : f.description.notes) {
    const bool names = std::any_of(f.controls.begin(), f.controls.end(),
                                   [&](const ControlFact &c) { return c.label == n.control || hexId(c.id) == n.control; });
    if (!names)
      throw Error(f.description.file + ":" + std::to_string(n.line) + ": a note on \"" + n.control + "\", which \"" +
                  f.server + "\" has no setting of");
  }
  for (const auto &c : f.controls) {
    if (c.controlType != "percent-env" && c.controlType.rfind("distance", 0) != 0) continue;
    const bool noted = std::any_of(f.description.notes.begin(), f.description.notes.end(), [&](const auto &n) {
      return n.control == c.label || n.control == hexId(c.id);
    });
    if (!noted)
      throw Error(f.description.file + ": no note on \"" + c.label + "\" (\"- " + c.label + ": ...\"): say what its " +
                  (c.controlType == "percent-env" ? "percentage is of" : "distance is measured from"));
  }
}

} // namespace

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

    // The example pictures the previews and panels use, beside the pages.
    std::set<std::string> images;
    std::vector<json> specs;
    const fs::path imagesDir = fs::path(o.sourceDir) / "examples" / "images";
    for (auto &f : all) {
      f.preview = PreviewReader(f.description, imagesDir).read();
      specs.push_back(f.preview);
      if (specs.back().contains("images"))
        for (const auto &img : specs.back()["images"]) images.insert(img.get<std::string>());
      checkNotes(f);
    }

    fs::create_directories(o.out);
    for (const auto &img : images) {
      const fs::path from = fs::path(o.sourceDir) / "examples" / "images" / img;
      const std::string bytes = readFile(from);
      writeText(o.out, "images/" + img, bytes, report);
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
      try {
        const auto t0 = std::chrono::steady_clock::now();
        measureOverrides(*module, o, all[i], specs[i].value("facts", json::object()));
        if (specs[i].contains("modes")) measureModes(*module, all[i], specs[i]["modes"].get<std::string>());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (o.log) std::fprintf(o.log, "hostsim: measured %s in %.2f s\n", all[i].server.c_str(), seconds);
        if (all[i].hasPanel) drawPanel(*module, o, all[i], specs[i].value("panel", json::object()), report);
      } catch (const json::exception &e) {
        // The reader's checks should leave the library nothing to object to;
        // should one slip through, it is still the description's fault.
        throw Error(all[i].description.file + ": preview block: " + jsonMessage(e));
      }
    }
    renderPreviews(o, all, specs, report);
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
