#pragma once

#include "host/lw_host.h"

namespace juxs::render_info {

inline constexpr const char *kServerName = "Jux Render Info";
inline constexpr const char *kUserName = "Render Info";
inline constexpr const char *kGroup = "Jux's Nodes/Info";

int32_t activateHandler(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept;

} // namespace juxs::render_info
