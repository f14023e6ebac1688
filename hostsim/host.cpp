#include "hostsim/host.h"

#include "host/lw_host.h"

namespace hostsim {
namespace {

Host *gActive = nullptr;

void *globalLookup(const char *name, int32_t) { return gActive && name ? gActive->lookup(name) : nullptr; }

// Both generations of the names that changed: the first node class's and the
// published 9.6 interface's. Each pair answers the same record.
const char *const kServiceNames[] = {
    LWNODEFUNCS_GLOBAL,
    LWNODEEDITORFUNCS_GLOBAL,
    LWNODEINPUTFUNCS_GLOBAL_FIRST,
    LWNODEINPUTFUNCS_GLOBAL_SDK96,
    LWNODEOUTPUTFUNCS_GLOBAL,
    LWVPARMFUNCS_GLOBAL,
    LWENVELOPEFUNCS_GLOBAL,
    LWCHANNELINFO_GLOBAL,
    LWSCENEINFO_GLOBAL_FIRST,
    LWSCENEINFO_GLOBAL_SDK96,
    LWTIMEINFO_GLOBAL,
    LWBACKDROPINFO_GLOBAL,
    LWSYSTEMID_GLOBAL,
    LWXPANELFUNCS_GLOBAL,
    LWINSTUPDATE_GLOBAL,
    LWIMAGELIST_GLOBAL_FIRST,
    LWIMAGELIST_GLOBAL_SDK96,
    LWNODEUTILITYFUNCS_GLOBAL,
    LWFILEACTIVATEFUNC_GLOBAL,
};

} // namespace

Host::Host() { makeActive(); }

Host::~Host() {
  if (gActive == this) gActive = nullptr;
}

Host *Host::active() { return gActive; }

void Host::makeActive() {
  gActive = this;
  vparms_.makeCurrent();
  scene_.makeCurrent();
  images_.makeCurrent();
  fileRequester_.makeCurrent();
  panels_.makeCurrent(vparms_);
}

GlobalFunc Host::global() const { return &globalLookup; }

void *Host::lookup(const char *name) {
  {
    std::lock_guard lock(logMutex_);
    auto it = loggedNames_.find(std::string_view(name));
    if (it == loggedNames_.end()) it = loggedNames_.emplace(name).first;
    log_.push_back(&*it);
  }
  // Every node's activation asks for a dozen services: no copies of the name.
  const std::string_view n(name);
  if (!withheld_.empty() && withheld_.find(n) != withheld_.end()) return nullptr;
  return answer(n);
}

void *Host::answer(std::string_view n) {
  if (n == LWNODEFUNCS_GLOBAL) return const_cast<LWNodeFuncs *>(nodes_.nodeFuncs());
  if (n == LWNODEEDITORFUNCS_GLOBAL) return const_cast<LWNodeEditorFuncs *>(nodes_.editorFuncs());
  if (n == LWNODEINPUTFUNCS_GLOBAL_FIRST || n == LWNODEINPUTFUNCS_GLOBAL_SDK96)
    return const_cast<LWNodeInputFuncs *>(nodes_.inputFuncs());
  if (n == LWNODEOUTPUTFUNCS_GLOBAL) return const_cast<LWNodeOutputFuncs *>(nodes_.outputFuncs());
  if (n == LWVPARMFUNCS_GLOBAL) return const_cast<LWVParmFuncs *>(vparms_.funcs());
  if (n == LWENVELOPEFUNCS_GLOBAL) return const_cast<LWEnvelopeFuncs *>(vparms_.envelopeFuncs());
  if (n == LWCHANNELINFO_GLOBAL) return const_cast<LWChannelInfo *>(vparms_.channelInfo());
  // The only scene record and image list whose layouts are published, under
  // either name.
  if (n == LWSCENEINFO_GLOBAL_FIRST || n == LWSCENEINFO_GLOBAL_SDK96)
    return const_cast<LWSceneInfo *>(scene_.sceneInfoRecord());
  if (n == LWTIMEINFO_GLOBAL) return const_cast<LWTimeInfo *>(scene_.timeRecord());
  if (n == LWBACKDROPINFO_GLOBAL) return const_cast<LWBackdropInfo *>(scene_.backdropRecord());
  if (n == LWIMAGELIST_GLOBAL_FIRST || n == LWIMAGELIST_GLOBAL_SDK96) return const_cast<LWImageList *>(images_.funcs());
  if (n == LWNODEUTILITYFUNCS_GLOBAL) return const_cast<LWNodeUtilityFuncs *>(utility_.funcs());
  if (n == LWXPANELFUNCS_GLOBAL) return const_cast<LWXPanelFuncs *>(panels_.funcs());
  // Functions and values are handed over as themselves.
  if (n == LWINSTUPDATE_GLOBAL) return reinterpret_cast<void *>(panels_.instanceUpdate());
  if (n == LWFILEACTIVATEFUNC_GLOBAL) return reinterpret_cast<void *>(fileRequester_.func());
  if (n == LWSYSTEMID_GLOBAL) return reinterpret_cast<void *>(static_cast<uintptr_t>(scene_.systemId()));
  return nullptr;
}

std::vector<std::string> Host::lookupLog() const {
  std::lock_guard lock(logMutex_);
  std::vector<std::string> names;
  for (const std::string *n : log_) names.push_back(*n);
  return names;
}

void Host::clearLookupLog() {
  std::lock_guard lock(logMutex_);
  log_.clear();
}

std::vector<std::string> Host::serviceNames() const { return {std::begin(kServiceNames), std::end(kServiceNames)}; }

std::string Host::uniqueNodeName(const std::string &userName) {
  const std::string count = std::to_string(++nameCounts_[userName]);
  // Built in place: one allocation at most, made for every node.
  std::string name;
  name.reserve(userName.size() + count.size() + 3);
  name.append(userName).append(" (").append(count).append(")");
  return name;
}

} // namespace hostsim
