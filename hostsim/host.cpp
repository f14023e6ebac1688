#include "hostsim/host.h"

#include "host/lw_host.h"

#include <string>

namespace hostsim {
namespace {

Host *gActive = nullptr;

// A module looks services up from its callbacks outside evaluation (its
// activations, and create, which is handed the lookup as its private data).
void *globalLookup(const char *name, int32_t useMode) noexcept {
  Call call("global", "lookup", From::HostCallback);
  if (!call || !call.pointer(name, "the service name") ||
      !call.known(useMode >= GFUSE_TRANSIENT && useMode <= GFUSE_RELEASE, "the use mode",
                  [&] { return std::to_string(useMode) + " is not a use mode (0 transient, 1 acquire, 2 release)"; }))
    return nullptr;
  // A look-up the host cannot log (no memory) finds nothing.
  return call.answer(nullptr, [&] { return gActive ? gActive->lookup(name) : nullptr; });
}

// The services this host answers, in the order of kServiceNames.
enum Service : int {
  kNodeFuncs,
  kEditorFuncs,
  kInputFuncsFirst,
  kInputFuncsSdk96,
  kOutputFuncs,
  kVParmFuncs,
  kEnvelopeFuncs,
  kChannelInfo,
  kSceneInfoFirst,
  kSceneInfoSdk96,
  kTimeInfo,
  kBackdropInfo,
  kSystemId,
  kXPanelFuncs,
  kInstUpdate,
  kImageListFirst,
  kImageListSdk96,
  kNodeUtilityFuncs,
  kFileActivateFunc,
  kServiceCount
};

// Both generations of the names that changed: the first node class's and the
// published 9.6 interface's. Each pair answers the same record.
const char *const kServiceNames[kServiceCount] = {
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

// The service a name asks for, or -1 for a name this host does not answer.
int serviceOf(std::string_view name) {
  for (int i = 0; i < kServiceCount; ++i)
    if (name == kServiceNames[i]) return i;
  return -1;
}

} // namespace

Host::Host() : vparms_(checks_), images_(checks_), panels_(checks_) { makeActive(); }

Host::~Host() {
  if (gActive == this) gActive = nullptr;
}

Host *Host::active() { return gActive; }

void Host::makeActive() {
  gActive = this;
  checks_.makeCurrent();
  vparms_.makeCurrent();
  scene_.makeCurrent();
  images_.makeCurrent();
  fileRequester_.makeCurrent();
  panels_.makeCurrent(vparms_);
}

GlobalFunc Host::global() const { return handed(&globalLookup); }

void *Host::lookup(const char *name) {
  int service;
  {
    std::lock_guard lock(logMutex_);
    auto it = loggedNames_.find(std::string_view(name));
    if (it == loggedNames_.end()) it = loggedNames_.emplace(name, serviceOf(name)).first;
    log_.push_back(&it->first);
    service = it->second;
  }
  // Every node's activation asks for a dozen services: no copies of the name,
  // and each name is matched against the list only the first time.
  if (!withheld_.empty() && withheld_.find(std::string_view(name)) != withheld_.end()) return nullptr;
  return answer(service);
}

void *Host::answer(int service) {
  switch (service) {
  case kNodeFuncs:
    return const_cast<LWNodeFuncs *>(nodes_.nodeFuncs());
  case kEditorFuncs:
    return const_cast<LWNodeEditorFuncs *>(nodes_.editorFuncs());
  case kInputFuncsFirst:
  case kInputFuncsSdk96:
    return const_cast<LWNodeInputFuncs *>(nodes_.inputFuncs());
  case kOutputFuncs:
    return const_cast<LWNodeOutputFuncs *>(nodes_.outputFuncs());
  case kVParmFuncs:
    return const_cast<LWVParmFuncs *>(vparms_.funcs());
  case kEnvelopeFuncs:
    return const_cast<LWEnvelopeFuncs *>(vparms_.envelopeFuncs());
  case kChannelInfo:
    return const_cast<LWChannelInfo *>(vparms_.channelInfo());
  // The only scene record and image list whose layouts are published, under
  // either name.
  case kSceneInfoFirst:
  case kSceneInfoSdk96:
    return const_cast<LWSceneInfo *>(scene_.sceneInfoRecord());
  case kTimeInfo:
    return const_cast<LWTimeInfo *>(scene_.timeRecord());
  case kBackdropInfo:
    return const_cast<LWBackdropInfo *>(scene_.backdropRecord());
  case kImageListFirst:
  case kImageListSdk96:
    return const_cast<LWImageList *>(images_.funcs());
  case kNodeUtilityFuncs:
    return const_cast<LWNodeUtilityFuncs *>(utility_.funcs());
  case kXPanelFuncs:
    return const_cast<LWXPanelFuncs *>(panels_.funcs());
  // Functions and values are handed over as themselves.
  case kInstUpdate:
    return reinterpret_cast<void *>(panels_.instanceUpdate());
  case kFileActivateFunc:
    return reinterpret_cast<void *>(fileRequester_.func());
  case kSystemId:
    return reinterpret_cast<void *>(static_cast<uintptr_t>(scene_.systemId()));
  default:
    return nullptr;
  }
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
