// Node settings and keyframes from a scene, applied through the node's panel
// as a user would apply them.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostsim/network.h"

namespace hostsim {

// The node's panel, opened through its interface server as the host opens
// it for a user. Throws Error naming path when the node has none.
Panel &openPanel(Host &host, const Module &module, HostNode *node, const std::string &path);

// "settings": control label (or "0x8003" where labels repeat) to a value in
// panel units. Throws Error naming path. What is taken with a warning (a
// value outside a control's soft limits, one clamped to a hard limit, a
// colour that looks like 0-1) adds a line "path: what" to warnings.
void applySettings(Host &host, const Module &module, HostNode *node, const nlohmann::ordered_json &settings,
                   const std::string &path, std::vector<std::string> &warnings);
// "keys": control label or id to a list of keys on its variant parameter, in
// panel units; fps turns frames into times. Throws Error; warns as
// applySettings does.
void applyKeys(Host &host, const Module &module, HostNode *node, const nlohmann::ordered_json &keys, double fps,
               const std::string &path, std::vector<std::string> &warnings);

} // namespace hostsim
