// What the parts of the site writer share: the facts of a node its page is
// written from, and the steps that gather them. Only the site writer
// includes this.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostsim/doc/site.h"
#include "hostsim/error.h"
#include "hostsim/loader.h"

namespace hostsim::doc {

// The preview's size and sampling: small, and on one thread so that the
// picture is the same at every run.
inline constexpr int kPreviewWidth = 200, kPreviewHeight = 150, kPreviewSamples = 8;

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

struct ControlFact {
  uint32_t id = 0;
  std::string name; // as the page names it: the label, with the id where it repeats
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
  nlohmann::ordered_json preview; // the description's preview block, checked
  struct Preview {
    std::string caption, png, scene;
  };
  std::vector<Preview> previews;
  // What each item of the "Mode" popup does, measured (nodes whose
  // description asks for it).
  struct Mode {
    int32_t index = 0;
    std::string item, when;
  };
  std::vector<Mode> modes;
  std::string modesHeading, modesNote;
};

std::string slugOf(const std::string &name);
// Settings as a caption gives them: Samples 8, Mode “Polar”, Ranged off.
std::string settingsCaption(const nlohmann::ordered_json &settings);
std::string hexId(uint32_t id);

// Writes one file of the site and lists it in the report.
void writeText(const std::filesystem::path &root, const std::string &rel, const std::string &text, SiteReport &report);

// Reads every fact of a node from a freshly created instance.
void readFacts(const Module &module, const ServerInfo &server, NodeFacts &f);

// Which input takes the place of which setting, measured by what the node
// does (probe.cpp); facts is the description's "facts" block.
void measureOverrides(const Module &module, const SiteOptions &o, NodeFacts &f, const nlohmann::ordered_json &facts);

// What each item of the node's "Mode" popup does, measured by evaluation:
// kind "restart" (when a count starts over) or "hold" (when a value is held).
void measureModes(const Module &module, NodeFacts &f, const std::string &kind);

// The panel picture, drawn after the description's panel set-up (an example
// image picked, say) was applied as a user would apply it.
void drawPanel(const Module &module, const SiteOptions &o, NodeFacts &f, const nlohmann::ordered_json &setup,
               SiteReport &report);

// The preview renders of each node's preview block (specs, in the order of
// all), one a variation, each beside the scene file it was rendered from.
void renderPreviews(const SiteOptions &o, std::vector<NodeFacts> &all, const std::vector<nlohmann::ordered_json> &specs,
                    SiteReport &report);

} // namespace hostsim::doc
