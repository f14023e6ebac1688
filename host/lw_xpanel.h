/* Panels: the "LWXPanel" service, "Instance Update" and the NodeInterface
 * activation record. */
#ifndef JUXS_HOST_LW_XPANEL_H
#define JUXS_HOST_LW_XPANEL_H

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWXPANELFUNCS_GLOBAL "LWXPanel"
#define LWINSTUPDATE_GLOBAL "Instance Update"

#define LWXP_VIEW 1 /* a view panel bound to an instance it reads through get and set */
#define LWXP_FORM 2 /* a panel that keeps its own values */

/* Change-notification event kinds. */
#define LWXPEVENT_TRACK 1     /* the value is being dragged: preview only */
#define LWXPEVENT_VALUE 2     /* a committed value change */
#define LWXPEVENT_HIT 3       /* a button was hit */
#define LWXPEVENT_FOCUS 4
#define LWXPEVENT_LOSEFOCUS 5

/* Refresh codes returned by set and change callbacks. */
#define LWXPRC_NONE 0 /* from set: the id is not the node's */
#define LWXPRC_DFLT 1
#define LWXPRC_DRAW 2
#define LWXPRC_FULL 3

/* Controls for create (the module passes none) and the value description. */
typedef struct LWXPanelControl {
  uint32_t cid;
  const char *label;
  const char *ctrlclass;
} LWXPanelControl;

/* One entry per stored control value, ended by an entry with vid 0. */
typedef struct LWXPanelDataDesc {
  uint32_t vid;
  const char *name;
  const char *datatype;
} LWXPanelDataDesc;

/* host thread, for all callbacks below */
typedef void *(*LWXPanelGetFunc)(void *inst, uint32_t vid);
typedef int32_t (*LWXPanelSetFunc)(void *inst, uint32_t vid, void *value); /* LWXPRC_* */
typedef int32_t (*LWXPanelChangeNotifyFunc)(LWXPanelID panel, uint32_t cid, uint32_t vid, int32_t eventKind);
typedef void (*LWXPanelDestroyNotifyFunc)(void *panelData);
typedef int32_t (*LWXPanelPopCntFunc)(void *userData);
typedef const char *(*LWXPanelPopNameFunc)(void *userData, int32_t index);
typedef void (*LWXPanelDrawFunc)(LWXPanelID panel, uint32_t cid, LWXPDrAreaID area, int32_t width, int32_t height);

/* Hint arrays are sequences of pointer-sized words: a tag, then its
 * arguments (integers and ids as pointer-sized integers; strings, arrays and
 * callbacks as pointers), ended by the tag XPTAG_END. A tag's low byte gives
 * its shape: bits 0-6 count the fixed argument words that follow it
 * (placeholders included, always 0), and bit 7 means a list of ids ended by
 * a 0 word follows them. Panel tags carry 0x3D in the top byte. */
typedef void *LWXPanelHint;

#define XPTAG_END 0u
#define XPTAG_FIXED_COUNT(tag) ((uint32_t)(tag) & 0x7Fu)
#define XPTAG_HAS_LIST(tag) (((uint32_t)(tag) & 0x80u) != 0)
#define XPTAG_FAMILY(tag) ((uint32_t)(tag) >> 24)
#define XPTAG_PANEL_FAMILY 0x3Du

#define XPTAG_CHGNOTIFY 0x3D000F01u     /* change callback */
#define XPTAG_DESTROYNOTIFY 0x3D001302u /* destroy callback, 0 */
#define XPTAG_LABEL 0x3D000B03u         /* id, label, 0 */
#define XPTAG_ADD 0x3D000D03u           /* control id, control class, value id */
#define XPTAG_STRLIST 0x3D014503u       /* control id, null-ended array of strings, 0 */
#define XPTAG_POPFUNCS 0x3D016203u      /* control id, count callback, name callback */
#define XPTAG_MIN 0x3D014002u           /* control id, minimum */
#define XPTAG_MAX 0x3D014102u           /* control id, maximum */
#define XPTAG_RANGE 0x3D014304u         /* control id, minimum, maximum, step */
#define XPTAG_HARDMINMAX 0x3D014703u    /* control id, minimum is hard, maximum is hard */
#define XPTAG_ENABLE 0x3D01F984u        /* controlling id, message or 0, 0, map or 0; dependants... 0 */
#define XPTAG_GROUP 0x3D01FE81u         /* group id; members... 0 */
#define XPTAG_STACK 0x3D020983u         /* stack id, controlling id, map or 0; one id per page... 0 */
#define XPTAG_TABS 0x3D020A81u          /* tab-set id; one group id per tab... 0 */
#define XPTAG_CTRLCFG 0x3D017403u       /* control id, 0, THUM_* option bits */
#define XPTAG_DRAWCBFUNC 0x3D016502u    /* control id, drawing callback */
#define XPTAG_SENS 0x3D014402u          /* control id, drag sensitivity */
#define XPTAG_LEFT 0x3D021280u          /* ids to lay out at the left... 0 */
#define XPTAG_NARROW 0x3D021380u        /* ids to lay out narrow... 0 */
#define XPTAG_DIVADD 0x3D021481u        /* id; ids... 0: divider lines */
#define XPTAG_DIVREM 0x3D021581u        /* id; ids... 0: dividers removed */

/* Thumbnail options of XPTAG_CTRLCFG: one size, one shape, a border. */
#define THUM_SML 0x1u
#define THUM_MED 0x2u
#define THUM_LRG 0x4u
#define THUM_XLG 0x8u
#define THUM_SNGL 0x10u
#define THUM_BORDER_UP 0x200u
#define THUM_BORDER_DOWN 0x400u
#define THUM_BORDER_NONE 0x600u
#define THUM_SQ 0x10000u
#define THUM_NTSC 0x20000u
#define THUM_LAND THUM_NTSC
#define THUM_35MM 0x40000u
#define THUM_PORT 0x80000u
#define THUM_WIDE 0x100000u
#define THUM_ANAW 0x200000u
#define THUM_EURO 0x400000u
#define THUM_FULL 0x80000000u

/* Drawing into a control's area (thumbnails). Slots 0, 2, 3 and 8 take a
 * palette index, the RGB ones 0 to 255 a channel. host thread */
typedef struct LWXPDrawFuncs {
  void (*drawPixel)(LWXPDrAreaID area, int32_t colorIndex, int32_t x, int32_t y);
  void (*drawRGBPixel)(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y);
  void (*drawLine)(LWXPDrAreaID area, int32_t colorIndex, int32_t x, int32_t y, int32_t x2, int32_t y2);
  void (*drawBox)(LWXPDrAreaID area, int32_t colorIndex, int32_t x, int32_t y, int32_t w, int32_t h);
  void (*drawRGBBox)(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w, int32_t h);
  void (*drawBorder)(LWXPDrAreaID area, int32_t indent, int32_t x, int32_t y, int32_t w, int32_t h);
  int32_t (*textWidth)(LWXPDrAreaID area, char *text);
  int32_t (*textHeight)(LWXPDrAreaID area, char *text);
  void (*drawText)(LWXPDrAreaID area, char *text, int32_t colorIndex, int32_t x, int32_t y);
} LWXPDrawFuncs;

/* "LWXPanel": host thread. */
typedef struct LWXPanelFuncs {
  int32_t version;
  LWXPDrawFuncs *drawf;
  LWXPanelID (*create)(int32_t type, LWXPanelControl *controls); /* null on failure */
  void (*destroy)(LWXPanelID panel);
  void (*describe)(LWXPanelID panel, LWXPanelDataDesc *data, LWXPanelGetFunc get, LWXPanelSetFunc set);
  /* Applies a hint array (id 0: the panel's own list). */
  void (*hint)(LWXPanelID panel, uint32_t id, LWXPanelHint *hints);
  void *(*getData)(LWXPanelID panel, uint32_t id);
  void (*setData)(LWXPanelID panel, uint32_t id, void *data);
  /* The value's current contents: a pointer to it, or null when it has none. */
  void *(*formGet)(LWXPanelID panel, uint32_t vid);
  void (*formSet)(LWXPanelID panel, uint32_t vid, void *value);
  void (*viewInst)(LWXPanelID panel, void *inst);
  void (*viewRefresh)(LWXPanelID panel);
  int32_t (*post)(LWXPanelID panel); /* modal; nonzero for OK */
  int32_t (*open)(LWXPanelID panel); /* non-modal */
} LWXPanelFuncs;

/* "Instance Update": tells the host that an instance of the class changed.
 * host thread */
typedef void (*LWInstUpdate)(const char *className, LWInstance inst);

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
