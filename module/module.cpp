// The module descriptor and its server table: for each node a NodeHandler
// record and a NodeInterface record, with the same name and tags.
#include "module/module.h"

#include <cstdint>

#include "host/lw_host.h"
#include "nodes/servers.h"

namespace {

void *startup() noexcept { return reinterpret_cast<void *>(std::uintptr_t{4}); }
void shutdown(void *) noexcept {}

#define JUXS_TAGS(ns) \
  constexpr ServerTagInfo ns##Tags[] = {{ns::kUserName, SRVTAG_USERNAME}, {ns::kGroup, SRVTAG_NODEGROUP}, {nullptr, 0}}
#define JUXS_SERVERS(ns, interfaceActivate)                          \
  {LWNODE_HCLASS, ns::kServerName, &ns::activateHandler, ns##Tags}, \
      {LWNODE_ICLASS, ns::kServerName, interfaceActivate, ns##Tags}

using namespace juxs;
JUXS_TAGS(ambient_occlusion_node);
JUXS_TAGS(counter_node);
JUXS_TAGS(exp_decay_color_node);
JUXS_TAGS(exp_decay_scalar_node);
JUXS_TAGS(gaussian_reflections_node);
JUXS_TAGS(gaussian_refractions_node);
JUXS_TAGS(get_material_node);
JUXS_TAGS(hold_value_node);
JUXS_TAGS(pixel_image_node);
JUXS_TAGS(render_info_node);
JUXS_TAGS(random_node);
JUXS_TAGS(ray_shade_node);
JUXS_TAGS(sqrt_node);
JUXS_TAGS(store_material_node);
JUXS_TAGS(take_samples_node);

constexpr ServerRecord kServers[] = {
    JUXS_SERVERS(ambient_occlusion_node, &ambient_occlusion_node::activateInterface),
    JUXS_SERVERS(counter_node, &counter_node::activateInterface),
    JUXS_SERVERS(exp_decay_color_node, &exp_decay_color_node::activateInterface),
    JUXS_SERVERS(exp_decay_scalar_node, &exp_decay_scalar_node::activateInterface),
    JUXS_SERVERS(gaussian_reflections_node, &gaussian_reflections_node::activateInterface),
    JUXS_SERVERS(gaussian_refractions_node, &gaussian_refractions_node::activateInterface),
    JUXS_SERVERS(get_material_node, &get_material_node::activateInterface),
    JUXS_SERVERS(hold_value_node, &hold_value_node::activateInterface),
    JUXS_SERVERS(pixel_image_node, &pixel_image_node::activateInterface),
    JUXS_SERVERS(render_info_node, nullptr), // no panel
    JUXS_SERVERS(random_node, &random_node::activateInterface),
    JUXS_SERVERS(ray_shade_node, &ray_shade_node::activateInterface),
    JUXS_SERVERS(sqrt_node, &sqrt_node::activateInterface),
    JUXS_SERVERS(store_material_node, &store_material_node::activateInterface),
    JUXS_SERVERS(take_samples_node, &take_samples_node::activateInterface),
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

extern "C" JUXS_EXPORT const ModuleDescriptor _mod_descrip = {
    MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, &startup, &shutdown, kServers,
};
