#pragma once

#include "host/lw_module.h"

#if defined(_WIN32)
#define JUXS_EXPORT __declspec(dllexport)
#else
#define JUXS_EXPORT __attribute__((visibility("default")))
#endif

// The one record the module exports; the host finds everything else from it.
extern "C" {
JUXS_EXPORT extern const ModuleDescriptor _mod_descrip;
}
