/* Everything the module may ask of its host. */
#ifndef JUXS_HOST_LW_HOST_H
#define JUXS_HOST_LW_HOST_H

#include "lw_filereq.h"
#include "lw_image.h"
#include "lw_io.h"
#include "lw_module.h"
#include "lw_nodes.h"
#include "lw_scene.h"
#include "lw_types.h"
#include "lw_vparm.h"
#include "lw_xpanel.h"

/* Every build checks the layouts above against the host's numbers. */
#include "lw_abi_checks.h"

#endif
