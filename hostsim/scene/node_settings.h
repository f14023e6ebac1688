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

// One node's "settings": control label (or "0x8003" where labels repeat) to
// a value in panel units; path names them in messages.
struct NodeSettings {
  HostNode *node = nullptr;
  const nlohmann::ordered_json *settings = nullptr;
  std::string path;
};

// The settings of every node of a scene, applied so that the order they are
// written in does not matter: a switch before the controls it enables or
// disables, and a popup item chosen by its text once the setting that names
// it (a Store Material's name, an image another node loads) has been
// applied. Only settings that cannot all hold are a fault: a control set
// twice to different values, or set while a switch in the same settings
// disables it; the message names both. Throws Error naming the setting's
// path. What is taken with a warning (a value outside a control's soft
// limits, one clamped to a hard limit, a colour that looks like 0-1) is a
// line "path: what": warnings holds one list per node, each in the order the
// settings are written.
void applySettings(Host &host, const Module &module, const std::vector<NodeSettings> &nodes,
                   std::vector<std::vector<std::string>> &warnings);
// One node's settings, as above.
void applySettings(Host &host, const Module &module, HostNode *node, const nlohmann::ordered_json &settings,
                   const std::string &path, std::vector<std::string> &warnings);
// "keys": control label or id to a list of keys on its variant parameter, in
// panel units; fps turns frames into times. Two keys on one frame of one
// control are a fault unless they agree. Throws Error; warns as
// applySettings does.
void applyKeys(Host &host, const Module &module, HostNode *node, const nlohmann::ordered_json &keys, double fps,
               const std::string &path, std::vector<std::string> &warnings);

} // namespace hostsim
