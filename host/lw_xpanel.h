/* Panels: the "LWXPanel" service, "Instance Update" and the NodeInterface
 * activation record. */
#ifndef JUXS_HOST_LW_XPANEL_H
#define JUXS_HOST_LW_XPANEL_H

#include <stdint.h>

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWXPANELFUNCS_GLOBAL "LWXPanel"
#define LWINSTUPDATE_GLOBAL "Instance Update"

#define LWXP_VIEW 1 /* a view panel bound to an instance */
#define LWXP_FORM 2

/* Change-notification event kinds. */
#define LWXPEVENT_TRACK 1 /* the value is being dragged: preview only */
#define LWXPEVENT_VALUE 2 /* a committed value change */

/* Refresh codes returned by a set callback. */
#define LWXPRC_NONE 0
#define LWXPRC_DFLT 1

/* One entry per stored control value, ended by an entry with cid 0. */
typedef struct LWXPanelDataDesc {
  uint32_t cid;
  const char *label;
  const char *datatype;
} LWXPanelDataDesc;

/* host thread, for all callbacks below */
typedef void *(*LWXPanelGetFunc)(void *inst, uint32_t cid);
typedef int32_t (*LWXPanelSetFunc)(void *inst, uint32_t cid, void *value);
typedef int32_t (*LWXPanelChangeNotifyFunc)(LWXPanelID panel, uint32_t cid, uint32_t vid, int32_t eventKind);
typedef void (*LWXPanelDestroyNotifyFunc)(void *panelData);
typedef int32_t (*LWXPanelPopCntFunc)(void *userData);
typedef const char *(*LWXPanelPopNameFunc)(void *userData, int32_t index);
typedef void (*LWXPanelDrawFunc)(LWXPanelID panel, uint32_t cid, LWXPDrAreaID area, int32_t width, int32_t height);

/* Hint lists are flat arrays of words: a hint is its kind, its argument count
 * n and n arguments (integers, ids, or pointers to strings, callbacks and
 * arrays); the list ends with the kind XPH_END. A host keeps any kind it does
 * not interpret, so lists may carry host-specific hints. */
typedef intptr_t LWXPanelHint;

#define XPH_END 0
#define XPH_CHGNOTIFY 0x3D010001   /* fn */
#define XPH_DESTROYNOTIFY 0x3D010002 /* fn */
#define XPH_CTRL 0x3D010010        /* id, control type */
#define XPH_LABEL 0x3D010011       /* id, text */
#define XPH_POPITEMS 0x3D010012    /* id, null-terminated array of texts */
#define XPH_POPFUNCS 0x3D010013    /* id, count fn, name fn */
#define XPH_MIN 0x3D010014         /* id, minimum */
#define XPH_MAX 0x3D010015         /* id, maximum */
#define XPH_RANGE 0x3D010016       /* id, minimum, maximum, step */
#define XPH_HARDMINMAX 0x3D010017  /* id, hard minimum flag, hard maximum flag */
#define XPH_ENABLE 0x3D010018      /* controller, map or 0, map length, message or 0, dependants... */
#define XPH_GROUP 0x3D010020       /* id, label or 0, members... */
#define XPH_STACK 0x3D010021       /* id, controller, map or 0, map length, one id per page... */
#define XPH_TABS 0x3D010022        /* id, members... */
#define XPH_THUMBSIZE 0x3D010030   /* id, size word */
#define XPH_DRAWFUNC 0x3D010031    /* id, fn */

/* Drawing into a control's area (thumbnails). host thread */
typedef struct LWXPDrawFuncs {
  void (*drawPixel)(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y);
  void (*drawBox)(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w, int32_t h);
} LWXPDrawFuncs;

/* "LWXPanel": host thread. */
typedef struct LWXPanelFuncs {
  int32_t version;
  const LWXPDrawFuncs *drawf;
  LWXPanelID (*create)(int32_t type, const void *controls); /* null on failure */
  void (*destroy)(LWXPanelID panel);
  void (*describe)(LWXPanelID panel, const LWXPanelDataDesc *data, LWXPanelGetFunc get, LWXPanelSetFunc set);
  void (*hint)(LWXPanelID panel, uint32_t id, const LWXPanelHint *hints);
  void *(*getData)(LWXPanelID panel, uint32_t id);
  void (*setData)(LWXPanelID panel, uint32_t id, void *data);
  /* The control's current value: a pointer to it, or null when it shows none. */
  void *(*formGet)(LWXPanelID panel, uint32_t cid);
  void (*formSet)(LWXPanelID panel, uint32_t cid, const void *value);
  void (*viewInst)(LWXPanelID panel, void *inst);
  void (*viewRefresh)(LWXPanelID panel);
} LWXPanelFuncs;

/* "Instance Update": tells the host that an instance of the class changed.
 * host thread */
typedef int32_t (*LWInstUpdate)(const char *className, LWInstance inst);

/* Local record of a NodeInterface activation. */
typedef struct LWInterface {
  LWInstance inst;
  LWXPanelID panel;
  LWError (*options)(LWInstance inst);
  LWError (*command)(LWInstance inst, const char *cmd);
} LWInterface;

#ifdef __cplusplus
}
#endif

#endif
