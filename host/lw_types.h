/* Basic types shared by every part of the host interface.
 *
 * Plain C so that the module and any host (ours or the real one) agree on the
 * layout. Fixed-width integers wherever the host gives a width, so the same
 * records hold on LP64 (Linux) and LLP64 (64-bit Windows). */
#ifndef JUXS_HOST_LW_TYPES_H
#define JUXS_HOST_LW_TYPES_H

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

/* A node instance as the host sees it: the module's own record, opaque. */
typedef void *LWInstance;

/* Opaque host handles. Only the host looks inside them. */
typedef struct LWNode_t *NodeID;
typedef struct LWNodeInput_t *NodeInputID;
typedef struct LWNodeOutput_t *NodeOutputID;
typedef struct LWNodeValue_t *NodeValue;
typedef struct LWChanGroup_t *LWChanGroupID;
typedef struct LWVParm_t *LWVParmID;
typedef struct LWXPanel_t *LWXPanelID;
typedef struct LWXPDrArea_t *LWXPDrAreaID;
typedef struct LWImage_t *LWImageID;
typedef struct LWTxtrContext_t *LWTxtrContextID;
typedef struct LWMicropol_t *LWMicropolID;
typedef struct LWItem_t *LWItemID;

/* The global lookup: answers a service by its quoted name, or null when the
 * host has no such service. useMode 0 is the only mode the module uses.
 * host thread */
typedef void *(*GlobalFunc)(const char *serviceName, int32_t useMode);

#ifdef __cplusplus
}
#endif

#endif
