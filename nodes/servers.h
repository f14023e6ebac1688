// The module's nodes (namespace juxs::<name>_node): their server names, user names, node-editor groups and
// activation functions, in the order of the server table.
#pragma once

#include "host/lw_host.h"

#define JUXS_NODE(ns, server, user, group)                                                          \
  namespace juxs::ns {                                                                              \
  inline constexpr const char *kServerName = server;                                                \
  inline constexpr const char *kUserName = user;                                                    \
  inline constexpr const char *kGroup = group;                                                      \
  int32_t activateHandler(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept;   \
  int32_t activateInterface(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept; \
  }

JUXS_NODE(ambient_occlusion_node, "Jux Ambient Occlusion", "Ambient Occlusion", "Jux's Nodes/Surfacing")
JUXS_NODE(counter_node, "Jux Counter", "Counter", "Jux's Nodes/Math")
JUXS_NODE(exp_decay_color_node, "Jux Exponential Decay (Color)", "Exponential Decay (Color)", "Jux's Nodes/Math")
JUXS_NODE(exp_decay_scalar_node, "Jux Exponential Decay (Scalar)", "Exponential Decay (Scalar)", "Jux's Nodes/Math")
JUXS_NODE(gaussian_reflections_node, "Jux Gaussian Reflections", "Gaussian Reflections", "Jux's Nodes/Surfacing")
JUXS_NODE(gaussian_refractions_node, "Jux Gaussian Refractions", "Gaussian Refractions", "Jux's Nodes/Surfacing")
JUXS_NODE(get_material_node, "Jux Get Material", "Get Material", "Jux's Nodes/Tools")
JUXS_NODE(hold_value_node, "Jux Hold Value", "Hold Value", "Jux's Nodes/Math")
JUXS_NODE(pixel_image_node, "Jux Pixel Image", "Pixel Image", "Jux's Nodes/Surfacing")
JUXS_NODE(render_info_node, "Jux Render Info", "Render Info", "Jux's Nodes/Info")
JUXS_NODE(random_node, "Jux Random", "Random", "Jux's Nodes/Math")
JUXS_NODE(ray_shade_node, "Jux RayShade", "RayShade", "Jux's Nodes/Surfacing")
JUXS_NODE(sqrt_node, "Jux Sqrt", "Sqrt", "Jux's Nodes/Math")
JUXS_NODE(store_material_node, "Jux Store Material", "Store Material", "Jux's Nodes/Tools")

JUXS_NODE(take_samples_node, "Jux Take Samples", "Take Samples", "Jux's Nodes/Surfacing")

#undef JUXS_NODE
