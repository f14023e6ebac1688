// The stand-in host: owns one of each service and answers the module's global
// lookup. One host is active at a time; its services are the ones the C
// tables handed to the module act on.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hostsim/checks.h"
#include "hostsim/services/file_request.h"
#include "hostsim/services/image_list.h"
#include "hostsim/services/node_services.h"
#include "hostsim/services/node_utility.h"
#include "hostsim/services/scene_records.h"
#include "hostsim/services/vparm.h"
#include "hostsim/services/xpanel.h"

namespace hostsim {

class Host {
public:
  Host();
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  static Host *active();
  void makeActive();

  // The global-lookup function handed to activations.
  GlobalFunc global() const;
  void *lookup(const char *name);

  // Tests play hosts that lack a service, or the modeling application.
  void withhold(const std::string &name) { withheld_.insert(name); }
  void provide(const std::string &name) { withheld_.erase(name); }
  void setSystemId(uint32_t id) { scene_.setSystemId(id); }
  std::vector<std::string> lookupLog() const;
  void clearLookupLog();
  // Every service name this host answers.
  std::vector<std::string> serviceNames() const;

  // What the module handed the host that it had no right to (see checks.h).
  Checks &checks() { return checks_; }
  NodeServices &nodes() { return nodes_; }
  VParmService &vparms() { return vparms_; }
  SceneRecords &scene() { return scene_; }
  ImageList &images() { return images_; }
  NodeUtility &utility() { return utility_; }
  FileRequester &fileRequester() { return fileRequester_; }
  XPanelService &panels() { return panels_; }

  // Node names are unique in the host: "Sqrt (1)", "Sqrt (2)".
  std::string uniqueNodeName(const std::string &userName);

private:
  // The record or value of the service at a position in the host's list of
  // names (negative: none).
  void *answer(int service);

  // First: the services keep their handles in it until they are gone.
  Checks checks_;
  NodeServices nodes_;
  VParmService vparms_;
  SceneRecords scene_;
  ImageList images_;
  NodeUtility utility_;
  FileRequester fileRequester_;
  XPanelService panels_;
  std::set<std::string, std::less<>> withheld_;
  std::map<std::string, int> nameCounts_;
  mutable std::mutex logMutex_;
  // Each name asked for once, with the service it names, and the log as
  // pointers into it: a long session's lookups (a dozen per node activation)
  // allocate nothing.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> loggedNames_;
  std::vector<const std::string *> log_;
};

} // namespace hostsim
