// The activation functions nodes/servers.h declares for each node, bound to a
// node unit's tables. host thread
#pragma once

#include "framework/lifecycle.h"
#include "framework/panels.h"

#define JUXS_HANDLER_ACTIVATION(kind)                                                                  \
  int32_t activateHandler(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept { \
    return ::juxs::fw::Handler<kind>::activate(version, global, local, serverData);                    \
  }

#define JUXS_INTERFACE_ACTIVATION(kind, panel)                                                           \
  int32_t activateInterface(int32_t version, GlobalFunc global, void *local, void *serverData) noexcept { \
    return ::juxs::fw::Interface<kind, panel>::activate(version, global, local, serverData);             \
  }
