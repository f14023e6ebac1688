/* Variant parameters (animatable values) and the channel groups that hold
 * their channels. */
#ifndef JUXS_HOST_LW_VPARM_H
#define JUXS_HOST_LW_VPARM_H

#include "lw_io.h"
#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWVPARMFUNCS_GLOBAL "LWVParmFuncs 2"
#define LWENVELOPEFUNCS_GLOBAL "Animation Envelopes"

/* Type codes: a low nibble of 1 marks the three-component kinds. */
#define LWVP_FLOAT 0x10
#define LWVP_FLOAT3 0x11
#define LWVP_PERCENT 0x20
#define LWVP_DIST 0x30
#define LWVP_ANGLE 0x40
#define LWVP_COLOR 0x51

#define LWVPSF_ENV 0x1 /* state bit: the value is keyframed */

typedef int32_t (*LWVParmEventFunc)(LWVParmID parm, void *userData, int32_t event, void *eventData);

/* "LWVParmFuncs 2". All members host thread unless marked. */
typedef struct LWVParmFuncs {
  LWVParmID (*create)(int32_t typeCode, int32_t textureType); /* null on failure */
  void (*destroy)(LWVParmID parm);
  int32_t (*setup)(LWVParmID parm, const char *channelName, LWChanGroupID group, LWTxtrContextID context,
                   LWVParmEventFunc event, const char *pluginName, void *userData);
  LWError (*copy)(LWVParmID to, LWVParmID from);
  LWError (*load)(LWVParmID parm, const LWLoadState *ls);
  LWError (*save)(LWVParmID parm, const LWSaveState *ss);
  /* Writes the value at time t (one or three components) into result and
   * returns the first component. */
  double (*getVal)(LWVParmID parm, LWTime t, LWMicropolID mp, double *result);
  int32_t (*setVal)(LWVParmID parm, const double *value);
  int32_t (*getState)(LWVParmID parm);
  void (*setState)(LWVParmID parm, int32_t state);
} LWVParmFuncs;

/* "Animation Envelopes": host thread. */
typedef struct LWEnvelopeFuncs {
  LWChanGroupID (*createGroup)(LWChanGroupID parent, const char *name);
  void (*destroyGroup)(LWChanGroupID group);
  LWChanGroupID (*findGroup)(LWChanGroupID parent, const char *name);
  LWChanGroupID (*nextGroup)(LWChanGroupID parent, LWChanGroupID group);
  const char *(*groupName)(LWChanGroupID group);
  LWChanGroupID (*groupParent)(LWChanGroupID group);
} LWEnvelopeFuncs;

#ifdef __cplusplus
}
#endif

#endif
