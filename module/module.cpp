// The module descriptor and its server table: for each node of the list a
// NodeHandler record and a NodeInterface record, with the same name and tags.
#include "module/module.h"

#include <cstdint>

#include "host/lw_host.h"
#include "nodes/node_list.h"

namespace {

void *startup() noexcept { return reinterpret_cast<void *>(std::uintptr_t{4}); }
void shutdown(void *) noexcept {}

using namespace juxs;

#define JUXS_TAGS(ns, server, user, group, panel) \
  constexpr ServerTagInfo ns##Tags[] = {{user, SRVTAG_USERNAME}, {group, SRVTAG_NODEGROUP}, {nullptr, 0}};
JUXS_NODE_LIST(JUXS_TAGS)
#undef JUXS_TAGS

#define JUXS_INTERFACE_panel(ns) &ns::activateInterface
#define JUXS_INTERFACE_no_panel(ns) nullptr
#define JUXS_SERVERS(ns, server, user, group, panel) \
  {LWNODE_HCLASS, server, &ns::activateHandler, ns##Tags}, {LWNODE_ICLASS, server, JUXS_INTERFACE_##panel(ns), ns##Tags},
constexpr ServerRecord kServers[] = {
    JUXS_NODE_LIST(JUXS_SERVERS) //
    {nullptr, nullptr, nullptr, nullptr},
};
#undef JUXS_SERVERS

} // namespace

extern "C" JUXS_EXPORT const ModuleDescriptor _mod_descrip = {
    MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, &startup, &shutdown, kServers,
};
