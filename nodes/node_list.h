// The module's nodes, each once: its namespace (juxs::<name>_node), server
// name, user name, node-editor group, and whether it has a panel. The server
// table (module/module.cpp) and the declarations below are expanded from this
// list; the build takes every source under nodes/.
#pragma once

#include "host/lw_host.h"

#define JUXS_NODE_LIST(X)                                                                                         \
  X(ambient_occlusion_node, "Jux Ambient Occlusion", "Ambient Occlusion", "Jux's Nodes/Surfacing", panel)         \
  X(counter_node, "Jux Counter", "Counter", "Jux's Nodes/Math", panel)                                            \
  X(exp_decay_color_node, "Jux Exponential Decay (Color)", "Exponential Decay (Color)", "Jux's Nodes/Math", panel) \
  X(exp_decay_scalar_node, "Jux Exponential Decay (Scalar)", "Exponential Decay (Scalar)", "Jux's Nodes/Math",    \
    panel)                                                                                                        \
  X(gaussian_reflections_node, "Jux Gaussian Reflections", "Gaussian Reflections", "Jux's Nodes/Surfacing", panel) \
  X(gaussian_refractions_node, "Jux Gaussian Refractions", "Gaussian Refractions", "Jux's Nodes/Surfacing", panel) \
  X(get_material_node, "Jux Get Material", "Get Material", "Jux's Nodes/Tools", panel)                            \
  X(hold_value_node, "Jux Hold Value", "Hold Value", "Jux's Nodes/Math", panel)                                   \
  X(pixel_image_node, "Jux Pixel Image", "Pixel Image", "Jux's Nodes/Surfacing", panel)                           \
  X(render_info_node, "Jux Render Info", "Render Info", "Jux's Nodes/Info", no_panel)                             \
  X(random_node, "Jux Random", "Random", "Jux's Nodes/Math", panel)                                               \
  X(ray_shade_node, "Jux RayShade", "RayShade", "Jux's Nodes/Surfacing", panel)                                   \
  X(sqrt_node, "Jux Sqrt", "Sqrt", "Jux's Nodes/Math", panel)                                                     \
  X(store_material_node, "Jux Store Material", "Store Material", "Jux's Nodes/Tools", panel)                      \
  X(take_samples_node, "Jux Take Samples", "Take Samples", "Jux's Nodes/Surfacing", panel)

#define JUXS_DECLARE_NODE(ns, server, user, group, panel)                                           \
  namespace juxs::ns {                                                                              \
  int32_t activateHandler(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept;   \
  int32_t activateInterface(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept; \
  }
JUXS_NODE_LIST(JUXS_DECLARE_NODE)
#undef JUXS_DECLARE_NODE
