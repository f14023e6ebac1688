#include "hostsim/scene/ray_budget.h"

#include <algorithm>
#include <cstdio>
#include <map>

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
    const ControlValue v = valueOf(label);
    return v.kind == ControlValue::Integer ? std::max(1, v.integer) : kUnknown;
  }
  int32_t integer(const char *label) const {
    const ControlValue v = valueOf(label);
    return v.kind == ControlValue::Integer ? v.integer : 0;
  }
  // Whether a parameter is a constant 0, its input unconnected.
  bool zero(const char *label, const char *input) const {
    if (connected(input)) return false;
    const ControlValue v = valueOf(label);
    return v.kind == ControlValue::Param && !v.param->animated() && v.param->value[0] == 0;
  }

private:
  bool connected(const char *input) const {
    const NodeInput *in = node_->input(input);
    return in && in->source;
  }
  ControlValue valueOf(const char *label) const {
    const PanelControl *c = panel_.control(label);
    return c ? panels_.value(panel_, *c) : ControlValue{};
  }
  XPanelService &panels_;
  HostNode *node_;
  Panel &panel_;
};

// Rays of one evaluation of the node itself, and how many times it evaluates
// the nodes upstream of it (1 but for Take Samples).
struct Cost {
  double own = 0, repeats = 1;
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
  } else if (server == "Jux Gaussian Reflections" || server == "Jux Gaussian Refractions") {
    const Reader r(host, module, node, path);
    const char *blur = server == "Jux Gaussian Reflections" ? "Reflection Blur" : "Refraction Blur";
    // Without blur, one ray whatever the count.
    cost.own = r.zero(blur, "Blur") ? 1 : r.count("Samples", "Samples");
  } else if (server == "Jux Take Samples") {
    const Reader r(host, module, node, path);
    cost.repeats = r.count("Samples", "Samples");
  }
  cost.own = std::max(cost.own, 0.0);
  cost.repeats = std::max(cost.repeats, 1.0);
  return cost;
}

} // namespace

std::vector<std::string> rayWarnings(Scene &scene, Host &host, const Module &module, double limit) {
  std::vector<std::string> warnings;
  for (std::size_t s = 0; s < scene.surfaces.size(); ++s) {
    Surface &surface = scene.surfaces[s];
    const std::string base = "surfaces[" + std::to_string(s) + "].network.nodes[";
    std::map<const HostNode *, Cost> costs;
    std::map<const HostNode *, std::size_t> index;
    for (std::size_t k = 0; k < surface.nodes.size(); ++k) {
      HostNode *n = surface.nodes[k];
      index[n] = k;
      costs[n] = costOf(host, module, n, base + std::to_string(k) + "]");
    }
    // Rays of one evaluation, everything upstream included; the networks
    // have no cycles.
    std::map<const HostNode *, double> totals;
    auto total = [&](auto &&self, const HostNode *n) -> double {
      if (auto it = totals.find(n); it != totals.end()) return it->second;
      const Cost c = costs.count(n) ? costs[n] : Cost{};
      double upstream = 0;
      for (const auto &in : n->inputs)
        if (in->source) upstream += self(self, in->source->node);
      return totals[n] = c.own + c.repeats * upstream;
    };
    for (HostNode *n : surface.nodes) {
      const double rays = total(total, n);
      if (rays <= limit) continue;
      bool already = false; // said where it first passed the limit
      for (const auto &in : n->inputs) already = already || (in->source && total(total, in->source->node) > limit);
      if (already) continue;
      char count[32];
      std::snprintf(count, sizeof count, "%.0f", rays);
      const std::size_t k = index[n];
      const auto &name = scene.document["surfaces"][s]["network"]["nodes"][k]["name"];
      warnings.push_back(base + std::to_string(k) + "]: node \"" + name.get<std::string>() + "\" would cast about " +
                         count + " rays each time it is evaluated, in every shading sample; the render will be slow");
    }
  }
  return warnings;
}

} // namespace hostsim
