/* Basic types shared by every part of the host interface.
 *
 * Plain C so that the module and any host (ours or the real one) agree on the
 * layout. Fixed-width integers wherever the host gives a width, so the same
 * records hold on LP64 (Linux) and LLP64 (64-bit Windows); lw_abi_checks.h
 * holds every size and offset to the host's published numbers.
 *
 * JUXS_HOST_SDK96, when defined, switches the class versions and the service
 * names the module asks for to those of the host's published 9.6 interface;
 * the record layouts are the published ones either way. */
#ifndef JUXS_HOST_LW_TYPES_H
#define JUXS_HOST_LW_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A null error means success; anything else is a message the host shows. */
typedef const char *LWError;
typedef double LWTime;   /* seconds */
typedef int32_t LWFrame; /* frame number */
typedef double LWDVector[3];
typedef float LWFVector[3];
typedef uint32_t LWID;       /* four characters, the first in the top byte */
typedef float LWBufferValue;

/* A node instance as the host sees it: the module's own record, opaque. */
typedef void *LWInstance;

/* Opaque host handles. Only the host looks inside them. */
typedef struct LWNode_t *NodeID;
typedef struct LWNodeInput_t *NodeInputID;
typedef struct LWNodeOutput_t *NodeOutputID;
typedef struct LWNodeValue_t *NodeValue;
typedef struct LWNodeEditor_t *NodeEditorID;
typedef struct LWChanGroup_t *LWChanGroupID;
typedef struct LWChannel_t *LWChannelID;
typedef struct LWEnvelope_t *LWEnvelopeID;
typedef struct LWEnvKeyframe_t *LWEnvKeyframeID;
typedef struct LWVParm_t *LWVParmID;
typedef struct LWXPanel_t *LWXPanelID;
typedef struct LWXPDrArea_t *LWXPDrAreaID;
typedef struct LWImage_t *LWImageID;
typedef struct LWPixmap_t *LWPixmapID;
typedef struct LWTexture_t *LWTextureID;
typedef struct LWTxtrContext_t *LWTxtrContextID;
typedef struct LWMicropol_t *LWMicropolID;
typedef struct LWItem_t *LWItemID;
typedef struct LWPnt_t *LWPntID;
typedef struct LWPol_t *LWPolID;
typedef struct LWRenderData_t *LWRenderData;
typedef struct LWRandomFloatData_t *RandomFloatData;

/* The global lookup: answers a service by its quoted name, or null when the
 * host has no such service. host thread */
typedef void *(*GlobalFunc)(const char *serviceName, int32_t useMode);

#define GFUSE_TRANSIENT 0 /* used briefly: the only mode the module uses */
#define GFUSE_ACQUIRE 1
#define GFUSE_RELEASE 2

#ifdef __cplusplus
}
#endif

#endif
