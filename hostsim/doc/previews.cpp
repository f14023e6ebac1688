// The preview renders: each node on the standard preview scene, rendered by
// the stand-in host on one thread.
#include <chrono>
#include <memory>

#include "hostsim/doc/site_parts.h"
#include "hostsim/host.h"
#include "hostsim/render/image_output.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/scene.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace hostsim::doc {

namespace {

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

} // namespace

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
      throw Error(where + " (written as " + stem + ".json): " + e.what());
    }
    Renderer renderer(*sc, host);
    RenderOptions ro;
    ro.threads = 1;
    const auto t0 = std::chrono::steady_clock::now();
    renderer.render(ro, [&](int, const FrameBuffer &fb) {
      prefixed(stem + ".png: ", [&] { writeImage((fs::path(o.out) / (stem + ".png")).string(), fb); });
    });
    prefixed(stem + ".json: ", [&] { host.checks().requireNone(); });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (o.log) std::fprintf(o.log, "hostsim: rendered %s.png in %.2f s\n", stem.c_str(), seconds);
    report.files.push_back(stem + ".png");
    ++report.pictures;
    std::string caption = settingsCaption(variations[i]);
    f.previews.push_back({caption.empty() ? "As set up in the scene file" : caption, stem + ".png", stem + ".json"});
  }
}

} // namespace hostsim::doc
