/* Node handlers, node services and the shading context. */
#ifndef JUXS_HOST_LW_NODES_H
#define JUXS_HOST_LW_NODES_H

#include "lw_io.h"
#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWNODE_HCLASS "NodeHandler"
#define LWNODE_ICLASS "NodeInterface"
#define LWNODE_HVERSION 1
#define LWNODE_IVERSION 4

#define LWNODEFUNCS_GLOBAL "NodeFuncs"
#define LWNODEEDITORFUNCS_GLOBAL "NodeEditorFuncs"
#define LWNODEINPUTFUNCS_GLOBAL "NodeInputFuncs"
#define LWNODEOUTPUTFUNCS_GLOBAL "NodeOutputFuncs"
#define LWNODEUTILITYFUNCS_GLOBAL "NodeUtilityFuncs"

/* Connection types of inputs and outputs, and the value buffers they use:
 * Color and Vector three doubles, Scalar one double, Integer one int32_t. */
typedef int32_t ConnectionType;
#define NOT_DEFINED 0
#define CONN_COLOR 1
#define CONN_SCALAR 2
#define CONN_VECTOR 3
#define CONN_INTEGER 4

/* ------------------------------------------------------------------ */
/* Shading context                                                     */

/* Flags word of the shading context. */
#define LWNA_SAMPLEDRAY 8u /* reached through a ray traced as sampled */

/* Mode word of rayTraceMode. */
#define LWRT_REFLECTION 1u
#define LWRT_REFRACTION 2u
#define LWRT_SAMPLED 0x40000000u /* a sampled (jittered) ray */

struct LWNodalAccess;

/* What the host reports for the surface a ray-shade hits. */
typedef struct LWShaderAccess {
  int32_t sx, sy;
  double oPos[3], wPos[3];
  double gNorm[3], wNorm[3];
  double raySource[3];
  double rayLength;
  double spotSize;
  double cosine;
  int32_t bounces;
  uint32_t flags;
  int32_t threadNum;
  double color[3];
  double luminous, diffuse, specular, mirror, transparency, eta, roughness;
} LWShaderAccess;

/* The shading context of one sample, filled by the host. The operations take
 * the context they belong to as their first argument.
 * Every member is read on render threads, concurrently. */
typedef struct LWNodalAccess {
  int32_t sx, sy;     /* pixel coordinates of the sample */
  double oPos[3];     /* object-space position */
  double wPos[3];     /* world position */
  double gNorm[3];    /* geometric normal */
  double wNorm[3];    /* shading normal */
  double raySource[3]; /* origin of the incoming ray */
  double rayLength;
  double spotSize;    /* footprint of the pixel at this distance */
  double cosine;
  double u, v;
  int32_t bounces;    /* ray recursion depth */
  double eta;         /* current refraction index */
  uint32_t flags;     /* LWNA_* bits */
  int32_t threadNum;  /* 0 .. threads - 1 of the rendering worker */
  void *hostData;     /* the host's own, untouched by the module */

  /* Nearest hit distance along the ray, negative when nothing is hit.
   * render threads, concurrently */
  double (*rayCast)(const struct LWNodalAccess *na, const double position[3], const double direction[3]);
  /* Shades the surface hit into sa and returns its distance (negative on a
   * miss, sa left as it was). render threads, concurrently */
  double (*rayShade)(const struct LWNodalAccess *na, const double position[3], const double direction[3],
                     LWShaderAccess *sa);
  /* Traces the ray with the LWRT_* mode word and refraction index; fills
   * color and returns the hit distance, or -1.0 and the backdrop colour on a
   * miss. render threads, concurrently */
  double (*rayTraceMode)(const struct LWNodalAccess *na, const double position[3], const double direction[3],
                         double color[3], double eta, uint32_t mode);
} LWNodalAccess;

/* ------------------------------------------------------------------ */
/* Handler record filled by a NodeHandler activation                   */

typedef struct LWInstanceFuncs {
  void *priv; /* handed back to create */
  /* host thread */
  LWInstance (*create)(void *priv, void *context, LWError *error);
  void (*destroy)(LWInstance inst);                       /* host thread */
  LWError (*copy)(LWInstance to, LWInstance from);        /* host thread */
  LWError (*load)(LWInstance inst, const LWLoadState *ls); /* host thread */
  LWError (*save)(LWInstance inst, const LWSaveState *ss); /* host thread */
  const char *(*descln)(LWInstance inst);                 /* host thread */
} LWInstanceFuncs;

typedef struct LWItemFuncs {
  const LWItemID *(*useItems)(LWInstance inst);             /* host thread */
  void (*changeID)(LWInstance inst, const LWItemID *ids);   /* host thread */
} LWItemFuncs;

typedef struct LWRenderFuncs {
  LWError (*init)(LWInstance inst, int32_t mode);                    /* host thread, render start */
  void (*cleanup)(LWInstance inst);                                  /* host thread, render end */
  LWError (*newTime)(LWInstance inst, LWFrame frame, LWTime time);  /* host thread, per frame */
} LWRenderFuncs;

typedef struct LWNodeHandler {
  LWInstanceFuncs *inst;
  LWItemFuncs *item;
  LWRenderFuncs *rend;
  /* render threads, concurrently */
  void (*evaluate)(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value);
  /* Members below belong to the host; the module leaves them alone. */
  void (*customPreview)(LWInstance inst, int32_t width, int32_t height);
  uint32_t flags;
} LWNodeHandler;

/* ------------------------------------------------------------------ */
/* Node services                                                       */

/* Told when an input is connected or disconnected; returns 1. host thread */
typedef int32_t (*NodeInputEvent)(void *userData, NodeInputID input, int32_t eventKind);
#define NIE_CONNECT 1
#define NIE_DISCONNECT 2

/* "NodeFuncs": host thread. */
typedef struct LWNodeFuncs {
  const char *(*nodeName)(NodeID node); /* unique within the scene */
  const char *(*serverUserName)(NodeID node);
  LWChanGroupID (*chanGrp)(NodeID node);
  void (*setNodeColor)(NodeID node, const int32_t rgb[3]);
  void (*setNodePreviewType)(NodeID node, int32_t previewType);
  void (*updateNodePreview)(NodeID node);
} LWNodeFuncs;

/* "NodeEditorFuncs": every handler requires it, but the module calls none of
 * the editor's operations, so only the record's version is declared here. */
typedef struct LWNodeEditorFuncs {
  int32_t version;
} LWNodeEditorFuncs;

/* "NodeInputFuncs" */
typedef struct LWNodeInputFuncs {
  /* host thread */
  NodeInputID (*create)(NodeID node, ConnectionType type, const char *name, NodeInputEvent event);
  void (*destroy)(NodeID node, NodeInputID input); /* host thread */
  /* A connected input overwrites value with the upstream result (converted to
   * the input's type) and returns nonzero; an unconnected one leaves value
   * alone and returns 0. render threads, concurrently */
  int32_t (*evaluate)(NodeInputID input, LWNodalAccess *na, void *value);
  int32_t (*check)(NodeInputID input); /* nonzero when connected; any thread */
} LWNodeInputFuncs;

/* "NodeOutputFuncs" */
typedef struct LWNodeOutputFuncs {
  NodeOutputID (*create)(NodeID node, ConnectionType type, const char *name); /* host thread */
  void (*destroy)(NodeID node, NodeOutputID output);                          /* host thread */
  /* Reads the result buffer (of the output's type) during the call.
   * render threads, concurrently */
  void (*setValue)(NodeValue value, const void *result);
} LWNodeOutputFuncs;

/* Blending modes of the node utilities' blend. */
#define BLEND_NORMAL 0
#define BLEND_ADDITIVE 1
#define BLEND_SUBTRACTIVE 2
#define BLEND_MULTIPLY 3
#define BLEND_SCREEN 4
#define BLEND_DARKEN 5
#define BLEND_LIGHTEN 6
#define BLEND_DIFFERENCE 7
#define BLEND_NEGATIVE 8
#define BLEND_COLORDODGE 9
#define BLEND_COLORBURN 10
#define BLEND_RED 11
#define BLEND_GREEN 12
#define BLEND_BLUE 13

/* "NodeUtilityFuncs" */
typedef struct LWNodeUtilityFuncs {
  /* fg over bg with the given opacity and BLEND_* mode.
   * render threads, concurrently */
  void (*blend)(double result[3], const double fg[3], const double bg[3], double opacity, int32_t mode);
  /* The (u, v) at which a spherical image is seen in a direction.
   * render threads, concurrently */
  void (*sphericalMap)(double seamAngle, const double direction[3], double *u, double *v);
} LWNodeUtilityFuncs;

#ifdef __cplusplus
}
#endif

#endif
