#include "hostsim/scene/node_settings.h"

#include "hostsim/scene/scene.h"

namespace hostsim {

// Settings go through the node's panel; until this host has a panel service
// a scene with settings cannot be applied faithfully, so it is refused.
void applySettings(Host &, const Module &, HostNode *, const nlohmann::json &, const std::string &path) {
  throw SceneError(path + ": node settings need the panel service, which this host does not have yet");
}

void applyKeys(Host &, const Module &, HostNode *, const nlohmann::json &, double, const std::string &path) {
  throw SceneError(path + ": node keys need the panel service, which this host does not have yet");
}

} // namespace hostsim
