// The module descriptor and its server table: for each node a NodeHandler
// record and a NodeInterface record, with the same name and tags.
#include "module/module.h"

#include <cstdint>

#include "host/lw_host.h"
#include "nodes/value/render_info.h"

namespace {

void *startup() noexcept { return reinterpret_cast<void *>(std::uintptr_t{4}); }
void shutdown(void *) noexcept {}

#define JUXS_TAGS(ns) \
  constexpr ServerTagInfo ns##Tags[] = {{ns::kUserName, SRVTAG_USERNAME}, {ns::kGroup, SRVTAG_NODEGROUP}, {nullptr, 0}}
#define JUXS_SERVERS(ns, interfaceActivate)                          \
  {LWNODE_HCLASS, ns::kServerName, &ns::activateHandler, ns##Tags}, \
      {LWNODE_ICLASS, ns::kServerName, interfaceActivate, ns##Tags}

namespace render_info = juxs::render_info;
JUXS_TAGS(render_info);

constexpr ServerRecord kServers[] = {
    JUXS_SERVERS(render_info, nullptr), // no panel
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

extern "C" JUXS_EXPORT const ModuleDescriptor _mod_descrip = {
    MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, &startup, &shutdown, kServers,
};
