#include "hostsim/scene/ray_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "hostsim/scene/node_settings.h"

namespace hostsim {
namespace {

constexpr double kUnknown = -1;

// Reads the sampling settings of a node's panel as a user sees them.
class Reader {
public:
  Reader(Host &host, const Module &module, HostNode *node, const std::string &path)
      : panels_(host.panels()), node_(node), panel_(openPanel(host, module, node, path)) {}

  // A count as the node takes it: below 1 counts as 1; unknown while the
  // input that would replace it is connected.
  double count(const char *label, const char *input) const {
    if (connected(input)) return kUnknown;
    const ControlValue v = valueOf(panel_.control(label));
    return v.kind == ControlValue::Integer ? std::max(1, v.integer) : kUnknown;
  }
  // A setting of the node's own (no input replaces it), by label or id.
  int32_t integer(const char *label) const { return integerOf(panel_.control(label)); }
  int32_t integer(uint32_t id) const { return integerOf(panel_.control(id)); }
  // A depth bound; while its input is connected the bound is not known, and
  // taken as 0, the bound that nests least, so that nothing is warned of
  // that the scene may not do.
  int32_t bound(const char *label, const char *input) const { return connected(input) ? 0 : integer(label); }
  // Whether a parameter is a constant 0, its input unconnected.
  bool zero(const char *label, const char *input) const {
    if (connected(input)) return false;
    const ControlValue v = valueOf(panel_.control(label));
    return v.kind == ControlValue::Param && !v.param->animated() && v.param->value[0] == 0;
  }

private:
  bool connected(const char *input) const {
    const NodeInput *in = node_->input(input);
    return in && in->source;
  }
  ControlValue valueOf(const PanelControl *c) const { return c ? panels_.value(panel_, *c) : ControlValue{}; }
  int32_t integerOf(const PanelControl *c) const {
    const ControlValue v = valueOf(c);
    return v.kind == ControlValue::Integer ? v.integer : 0;
  }
  XPanelService &panels_;
  HostNode *node_;
  Panel &panel_;
};

// What one evaluation of a node casts itself, and what it makes of the rest.
struct Cost {
  double own = 0;      // rays of one evaluation
  double repeats = 1;  // evaluations of everything upstream (Take Samples)
  bool traces = false; // its rays shade what they hit, one ray deeper
  bool flags = false;  // they carry the sampled-ray flag, and all traced from them
  // Beyond this ray depth on a flagged ray the node casts `limited` rays
  // instead (the Gaussian nodes' Blur Depth, Ambient Occlusion's Sample
  // Depth); -1: no bound.
  int bound = -1;
  double limited = 0;
};

Cost costOf(Host &host, const Module &module, HostNode *node, const std::string &path) {
  const std::string &server = node->serverName;
  Cost cost;
  if (server == "Jux Ambient Occlusion") {
    const Reader r(host, module, node, path);
    if (r.integer("Mode") == 0) {
      cost.own = r.count("Samples", "Samples");
    } else {
      const double rings = r.count("Polar Samples 1", "Polar 1"), around = r.count("Polar Samples 2", "Polar 2");
      cost.own = rings == kUnknown || around == kUnknown ? kUnknown : 1 + (rings - 1) * around;
    }
    // Its rays are traced, flagged, where a colour mode is "Trace" (the
    // surface colour's only while ranged): 0x8010 and 0x8016.
    constexpr int32_t kTrace = 2;
    cost.traces = (r.integer("Ranged") && r.integer(0x8010u) == kTrace) || r.integer(0x8016u) == kTrace;
    cost.flags = true;
    cost.bound = r.bound("Sample Depth", "Sample Depth");
    cost.limited = 0;
  } else if (server == "Jux Gaussian Reflections" || server == "Jux Gaussian Refractions") {
    const Reader r(host, module, node, path);
    const char *blur = server == "Jux Gaussian Reflections" ? "Reflection Blur" : "Refraction Blur";
    // Without blur, one ray whatever the count.
    const bool sharp = r.zero(blur, "Blur");
    cost.own = sharp ? 1 : r.count("Samples", "Samples");
    const int32_t mode = r.integer("Mode"); // 1 and 3 trace; 0 and 2 look up the backdrop or an image
    cost.traces = mode == 1 || mode == 3;
    cost.flags = !sharp;
    // Past Blur Depth, one sharp ray.
    cost.bound = r.bound("Blur Depth", "Blur Depth");
    cost.limited = 1;
  } else if (server == "Jux Take Samples") {
    const Reader r(host, module, node, path);
    cost.repeats = r.count("Samples", "Samples");
  }
  cost.own = std::max(cost.own, 0.0);
  cost.repeats = std::max(cost.repeats, 1.0);
  return cost;
}

// Rays cast and node evaluations; `nested` is the part of the rays that
// surfaces hit by traced rays cast in their turn.
struct Work {
  double rays = 0, evaluations = 0, nested = 0;
  Work &operator+=(const Work &w) {
    rays += w.rays;
    evaluations += w.evaluations;
    nested += w.nested;
    return *this;
  }
  Work times(double k) const { return {rays * k, evaluations * k, nested * k}; }
};

// What shading costs, surface by surface and depth by depth. A traced ray
// may hit any object, so a ray's hit is costed as the dearest surface an
// object wears: an estimate from above, since where the rays go is known
// only as the render runs.
class Estimate {
public:
  Estimate(Scene &scene, Host &host, const Module &module) : scene_(scene) {
    for (std::size_t s = 0; s < scene.surfaces.size(); ++s) {
      const std::string base = "surfaces[" + std::to_string(s) + "].network.nodes[";
      for (std::size_t k = 0; k < scene.surfaces[s].nodes.size(); ++k) {
        HostNode *n = scene.surfaces[s].nodes[k];
        costs_[n] = costOf(host, module, n, base + std::to_string(k) + "]");
      }
    }
    std::set<int> worn;
    for (const Object &o : scene.objects) worn.insert(o.surface);
    hittable_.assign(worn.begin(), worn.end());
  }

  // One evaluation of a node in a sample at ray depth `depth`, `flagged`
  // when the sample was reached through a sampled ray; everything upstream
  // of it included (the networks have no cycles).
  Work node(const HostNode *n, int depth, bool flagged) {
    const auto key = std::make_tuple(n, depth, flagged);
    if (auto it = nodes_.find(key); it != nodes_.end()) return it->second;
    const auto found = costs_.find(n);
    const Cost c = found == costs_.end() ? Cost{} : found->second;
    const double rays = c.bound >= 0 && flagged && depth > c.bound ? c.limited : c.own;
    Work w{rays, 1, 0};
    if (c.traces && rays > 0) {
      const Work hit = hitAt(depth + 1, flagged || c.flags).times(rays);
      w += {hit.rays, hit.evaluations, hit.rays};
    }
    Work upstream;
    for (const auto &in : n->inputs)
      if (in->source) upstream += node(in->source->node, depth, flagged);
    w += upstream.times(c.repeats);
    return nodes_[key] = w;
  }

private:
  // The dearest surface a traced ray at this depth may reach; nothing once
  // the depth passes the scene's recursion limit (such a ray is not traced).
  Work hitAt(int depth, bool flagged) {
    Work most;
    if (depth > scene_.recursionLimit) return most;
    for (int s : hittable_) {
      const Work w = surface(static_cast<std::size_t>(s), depth, flagged);
      most.rays = std::max(most.rays, w.rays);
      most.evaluations = std::max(most.evaluations, w.evaluations);
      most.nested = std::max(most.nested, w.nested);
    }
    return most;
  }

  // A shading sample of a surface: its root's network, and the host's own
  // mirror and refraction rays, one each.
  Work surface(std::size_t s, int depth, bool flagged) {
    const auto key = std::make_tuple(s, depth, flagged);
    if (auto it = surfaces_.find(key); it != surfaces_.end()) return it->second;
    const Surface &surface = scene_.surfaces[s];
    Work w;
    for (const auto &in : surface.root->inputs)
      if (in->source) w += node(in->source->node, depth, flagged);
    const bool reflects = surface.reflection > 0 || surface.channels[kChannelReflection]->source;
    const bool refracts = surface.transparency > 0 || surface.channels[kChannelTransparency]->source;
    if (const int mirrors = reflects + refracts; mirrors > 0) {
      const Work hit = hitAt(depth + 1, flagged);
      w += Work{1, 0, 0}.times(mirrors);
      w += hit.times(mirrors);
    }
    return surfaces_[key] = w;
  }

  Scene &scene_;
  std::map<const HostNode *, Cost> costs_;
  std::vector<int> hittable_;
  std::map<std::tuple<const HostNode *, int, bool>, Work> nodes_;
  std::map<std::tuple<std::size_t, int, bool>, Work> surfaces_;
};

// A count as a user reads it: whole below 10^15, then in powers of ten.
std::string countText(double n) {
  char text[48];
  if (!std::isfinite(n))
    std::snprintf(text, sizeof text, "more than 1e308");
  else
    std::snprintf(text, sizeof text, n < 1e15 ? "%.0f" : "%.2g", n);
  return text;
}

} // namespace

std::vector<std::string> rayWarnings(Scene &scene, Host &host, const Module &module, double limit) {
  std::vector<std::string> warnings;
  Estimate estimate(scene, host, module);
  for (std::size_t s = 0; s < scene.surfaces.size(); ++s) {
    Surface &surface = scene.surfaces[s];
    const std::string base = "surfaces[" + std::to_string(s) + "].network.nodes[";
    for (std::size_t k = 0; k < surface.nodes.size(); ++k) {
      const HostNode *n = surface.nodes[k];
      // As a camera sample shades it.
      const Work w = estimate.node(n, 0, false);
      // Said where the count first passes the limit, not again downstream.
      bool raysBefore = false, evaluationsBefore = false;
      for (const auto &in : n->inputs)
        if (in->source) {
          const Work up = estimate.node(in->source->node, 0, false);
          raysBefore = raysBefore || up.rays > limit;
          evaluationsBefore = evaluationsBefore || up.evaluations > limit;
        }
      const auto &name = scene.document["surfaces"][s]["network"]["nodes"][k]["name"];
      const std::string where = base + std::to_string(k) + "]: node \"" + name.get<std::string>() + "\" would ";
      const std::string each = " each time it is evaluated, in every shading sample";
      const std::string slow = "; the render will be slow";
      if (w.rays > limit && !raysBefore) {
        warnings.push_back(where + "cast " + (w.nested > 0 ? "up to about " : "about ") + countText(w.rays) + " rays" +
                           each +
                           (w.nested > 0 ? ", counting those that the surfaces its rays hit cast in turn, down to the "
                                           "ray recursion limit of " +
                                               std::to_string(scene.recursionLimit)
                                         : "") +
                           slow);
      } else if (w.rays <= limit && w.evaluations > limit && !evaluationsBefore) {
        warnings.push_back(where + "evaluate itself and the nodes upstream of it about " + countText(w.evaluations) +
                           " times" + each + slow);
      }
    }
  }
  return warnings;
}

} // namespace hostsim
