/* Variant parameters (animatable values), envelopes and the channel groups
 * that hold their channels. */
#ifndef JUXS_HOST_LW_VPARM_H
#define JUXS_HOST_LW_VPARM_H

#include "lw_io.h"
#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWVPARMFUNCS_GLOBAL "LWVParmFuncs 2"
#define LWENVELOPEFUNCS_GLOBAL "Animation Envelopes"
#define LWCHANNELINFO_GLOBAL "Channel Info 2"

/* Type codes of create; LWVPF_VECTOR added makes three components. */
#define LWVP_FLOAT 0x10
#define LWVP_PERCENT 0x20
#define LWVP_DIST 0x30
#define LWVP_ANGLE 0x40
#define LWVP_COLOR 0x51
#define LWVP_COLORSIMPLE 0x61
#define LWVPF_VECTOR 0x01
#define LWVPF_VECTOR_DEFAULTNAMES 0x00
#define LWVPF_VECTOR_NONAMES 0x02
#define LWVPF_VECTOR_PARMNAMES 0x04
#define LWVP_FLOAT3 (LWVP_FLOAT | LWVPF_VECTOR) /* three plain numbers */

/* Texture types of create. */
#define LWVPDT_NOTXTR (-1)
#define LWVPDT_VECTOR 0
#define LWVPDT_COLOR 1
#define LWVPDT_PERCENT 2
#define LWVPDT_SCALAR 3
#define LWVPDT_DISPLACEMENT 4

/* State bits. */
#define LWVPSF_ENV 0x1 /* has, or is to get, an envelope */
#define LWVPSF_TEX 0x2 /* has, or is to get, a texture */

/* Event codes of a parameter's event callback. */
#define LWVPEC_TXTRACK 0
#define LWVPEC_TXUPDATE 1
#define LWVPEC_TXAUTOSIZE 2
#define LWVPEC_ENVTRACK 3
#define LWVPEC_ENVUPDATE 4
#define LWVPEC_ENVNEW 5
#define LWVPEC_ENVOLD 6
#define LWVPEC_TEXNEW 7
#define LWVPEC_TEXOLD 8
#define LWVPEC_ENVRENAME 9

typedef int32_t (*LWVParmEventFunc)(LWVParmID parm, void *userData, int32_t code, void *eventData);

/* "LWVParmFuncs 2". All members host thread unless marked. */
typedef struct LWVParmFuncs {
  LWVParmID (*create)(int32_t typeCode, int32_t textureType); /* null on failure */
  void (*destroy)(LWVParmID parm);
  /* Required after create: names the channel and its group. */
  void (*setup)(LWVParmID parm, const char *channelName, LWChanGroupID group, LWTxtrContextID context,
                LWVParmEventFunc event, const char *pluginName, void *userData);
  LWError (*copy)(LWVParmID to, LWVParmID from);
  LWError (*load)(LWVParmID parm, const LWLoadState *ls);
  LWError (*save)(LWVParmID parm, const LWSaveState *ss);
  /* Writes the value at time t (one or three components) into result. With a
   * micropolygon and a texture the result is the texture's opacity. */
  double (*getVal)(LWVParmID parm, LWTime t, LWMicropolID mp, double *result);
  /* Sets the static value; returns the components taken (0, 1 or 3). */
  int32_t (*setVal)(LWVParmID parm, double *value);
  int32_t (*getState)(LWVParmID parm);
  void (*setState)(LWVParmID parm, int32_t state);
  void (*editEnv)(LWVParmID parm);
  void (*editTex)(LWVParmID parm);
  void (*initMP)(LWMicropolID mp);
  void (*getEnv)(LWVParmID parm, LWEnvelopeID envs[3]);
  LWTextureID (*getTex)(LWVParmID parm);
} LWVParmFuncs;

/* Envelope types of create. */
#define LWET_FLOAT 2
#define LWET_DISTANCE 3
#define LWET_PERCENT 4
#define LWET_ANGLE 5

typedef int32_t LWKeyTag;
typedef int32_t LWEnvEvent;
typedef int32_t (*LWEnvEventFunc)(void *data, LWEnvelopeID env, LWEnvEvent event, void *eventData);

/* "Animation Envelopes": host thread. */
typedef struct LWEnvelopeFuncs {
  LWEnvelopeID (*create)(LWChanGroupID group, const char *name, int32_t type); /* LWET_* */
  void (*destroy)(LWEnvelopeID env);
  LWChanGroupID (*createGroup)(LWChanGroupID parent, const char *name);
  void (*destroyGroup)(LWChanGroupID group);
  LWError (*copy)(LWEnvelopeID to, LWEnvelopeID from);
  LWError (*load)(LWEnvelopeID env, const LWLoadState *ls);
  LWError (*save)(LWEnvelopeID env, const LWSaveState *ss);
  double (*evaluate)(LWEnvelopeID env, LWTime time);
  int32_t (*edit)(LWChanGroupID group, LWEnvelopeID env, int32_t flags, void *data);
  int32_t (*envAge)(LWEnvelopeID env);
  LWEnvKeyframeID (*createKey)(LWEnvelopeID env, LWTime time, double value);
  void (*destroyKey)(LWEnvelopeID env, LWEnvKeyframeID key);
  LWEnvKeyframeID (*findKey)(LWEnvelopeID env, LWTime time);
  LWEnvKeyframeID (*nextKey)(LWEnvelopeID env, LWEnvKeyframeID key);
  LWEnvKeyframeID (*prevKey)(LWEnvelopeID env, LWEnvKeyframeID key);
  int32_t (*keySet)(LWEnvelopeID env, LWEnvKeyframeID key, LWKeyTag tag, void *value);
  int32_t (*keyGet)(LWEnvelopeID env, LWEnvKeyframeID key, LWKeyTag tag, void *value);
  int32_t (*setEnvEvent)(LWEnvelopeID env, LWEnvEventFunc func, void *data);
  int32_t (*egSet)(LWEnvelopeID env, LWChanGroupID group, int32_t tag, void *value);
  int32_t (*egGet)(LWEnvelopeID env, LWChanGroupID group, int32_t tag, void *value);
} LWEnvelopeFuncs;

typedef int32_t (*LWChanEventFunc)(void *data, LWChannelID channel, int32_t event, void *eventData);

/* "Channel Info 2": walking groups and channels. host thread */
typedef struct LWChannelInfo {
  /* The group after group in parent (the first for null; null parent: the root). */
  LWChanGroupID (*nextGroup)(LWChanGroupID parent, LWChanGroupID group);
  LWChannelID (*nextChannel)(LWChanGroupID parent, LWChannelID channel);
  const char *(*groupName)(LWChanGroupID group);
  const char *(*channelName)(LWChannelID channel);
  LWChanGroupID (*groupParent)(LWChanGroupID group);
  LWChanGroupID (*channelParent)(LWChannelID channel);
  int32_t (*channelType)(LWChannelID channel);
  double (*channelEvaluate)(LWChannelID channel, LWTime time);
  LWEnvelopeID (*channelEnvelope)(LWChannelID channel);
  int32_t (*setChannelEvent)(LWChannelID channel, LWChanEventFunc func, void *data);
  const char *(*server)(LWChannelID channel, const char *cls, int32_t index);
  uint32_t (*serverFlags)(LWChannelID channel, const char *cls, int32_t index);
  LWInstance (*serverInstance)(LWChannelID channel, const char *cls, int32_t index);
  int32_t (*serverApply)(LWChannelID channel, const char *cls, const char *name, int32_t flags);
  void (*serverRemove)(LWChannelID channel, const char *cls, const char *name, LWInstance inst);
} LWChannelInfo;

#ifdef __cplusplus
}
#endif

#endif
