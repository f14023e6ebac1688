// The host's own math nodes, as its node editor offers them beside the
// module's: arithmetic on scalars and vectors, a vector taken apart and made
// from three scalars, and a position taken into an object's own space. With
// them a scene can compute what a module node's inputs take: a texture's
// pixel from a world position, say. docs/scene-format.md lists their inputs,
// outputs and defaults.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostsim/network.h"
#include "hostsim/scene/scene.h"

namespace hostsim {

// Their kinds, as a scene's "host" names them.
const std::vector<std::string> &mathNodeKinds();

// Makes a math node of kind (one of mathNodeKinds()) in net, its unconnected
// inputs and its operation set from settings (a JSON object, or null for
// the defaults). An object a node names is found once scene's objects are
// all read: the node adds what finds it to scene.afterObjects. Throws Error
// saying where, under path, a setting is wrong.
HostNode *addMathNode(Network &net, Scene &scene, const std::string &kind, const nlohmann::ordered_json &settings,
                      const std::string &path);

} // namespace hostsim
