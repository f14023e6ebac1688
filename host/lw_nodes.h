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

/* Class versions. The published node class is version 3; the interface class
 * is 4 in every host that has node panels. */
#define LWNODECLASS_VERSION_FIRST 1
#define LWNODECLASS_VERSION_SDK96 3
#define LWINTERFACE_VERSION 4

#define LWNODEFUNCS_GLOBAL "NodeFuncs"
#define LWNODEEDITORFUNCS_GLOBAL "NodeEditorFuncs"
#define LWNODEINPUTFUNCS_GLOBAL_FIRST "NodeInputFuncs"
#define LWNODEINPUTFUNCS_GLOBAL_SDK96 "NodeInputFuncs 2"
#define LWNODEOUTPUTFUNCS_GLOBAL "NodeOutputFuncs"
#define LWNODEUTILITYFUNCS_GLOBAL "NodeUtilityFuncs"

/* What this build of the module asks for. */
#ifdef JUXS_HOST_SDK96
#define LWNODE_HVERSION LWNODECLASS_VERSION_SDK96
#define LWNODEINPUTFUNCS_GLOBAL LWNODEINPUTFUNCS_GLOBAL_SDK96
#else
#define LWNODE_HVERSION LWNODECLASS_VERSION_FIRST
#define LWNODEINPUTFUNCS_GLOBAL LWNODEINPUTFUNCS_GLOBAL_FIRST
#endif
#define LWNODE_IVERSION LWINTERFACE_VERSION

/* Connection types of inputs and outputs, and the value buffers they use:
 * Color and Vector three doubles, Scalar one double, Integer one int32_t. */
typedef int32_t ConnectionType;
#define NOT_DEFINED 0 /* no connection type: the stand-in host's own marker */
#define CONN_COLOR 1
#define CONN_SCALAR 2
#define CONN_VECTOR 3
#define CONN_INTEGER 4
#define CONN_FUNCTION 5
#define CONN_MATERIAL 6
#define CONN_TYPE_COUNT 6

/* Preview types of setNodePreviewType. */
#define NPT_RENDER 0
#define NPT_CUSTOM 1
#define NPT_OFF 2

/* Input events, passed to an input's event callback. */
#define NIE_CONNECT 0          /* an output was connected to the input */
#define NIE_DISCONNECT 1       /* the output was disconnected from it */
#define NIE_INPUTNODEDESTROY 2 /* the node feeding the input was destroyed */

/* ------------------------------------------------------------------ */
/* Shading context                                                     */

/* Bits of the shading context's flags word, describing the incoming ray. */
#define LWRT_SHADOW 0x001
#define LWRT_PREVIEW 0x002
#define LWRT_POLYSIDE 0x004
#define LWRT_SAMPLEDRAY 0x008 /* cast as one of several samples (blurred reflections, say) */
#define LWRT_PREPROCESS 0x010
#define LWRT_EXITING 0x020
#define LWRT_DOUBLESIDED 0x040
#define LWRT_FRAME_PREPROCESS 0x080
#define LWRT_RADIOSITY 0x100
#define LWRT_CAMERA 0x200

/* The mode word of rayTraceMode: a ray mode in the low byte, flag bits above.
 * The sampled-ray flag here is 0x40000000, not the flags word's 0x8. */
#define RTMODE_MASK 0xFF
#define RTMODE_DISTANCE 0
#define RTMODE_REFLECTION 1
#define RTMODE_REFRACTION 2
#define RTMODE_DISSOLVE 3
#define RTMODE_SHADOW 4
#define RTMODE_OCCLUSION 5
#define RTMODE_BACKDROP 6
#define RTMODE_OCCLUSION_DEPTH 7
#define RTFLAG_CAMERA 0x04000000
#define RTFLAG_BACKSHADE 0x08000000
#define RTFLAG_BACKDROP 0x10000000
#define RTFLAG_OBJECT 0x20000000
#define RTFLAG_SAMPLEDRAY 0x40000000
#define RTFLAG_NOPOLYGON ((int32_t)0x80000000u)

struct LWShaderAccess;
struct LWRayTraceData;      /* a trace request; the module makes none */
struct LWVertexIndexes;     /* original vertex indices; the module reads none */

/* Light sample callback of the illuminate-sample functions. */
typedef int32_t LightSampleFunc(void *data, LWItemID light, const double direction[3], const double color[4]);

/* The ray functions take the ray alone: the host knows which sample and
 * thread is calling. Each returns the distance along the ray, negative when
 * nothing is hit. All: render threads, concurrently, from inside evaluate. */
typedef double LWRayCastFunc(const double position[3], const double direction[3]);
typedef double LWRayTraceFunc(const double position[3], const double direction[3], double color[3]);
/* Fills color with what the ray sees (the backdrop on a miss). mode: RTMODE_*
 * in the low byte with RTFLAG_* bits. */
typedef double LWRayTraceModeFunc(const double position[3], const double direction[3], double color[3],
                                  const double eta, const int32_t mode);
/* Shades the surface hit into the record; a miss leaves the record alone. */
typedef double LWRayShadeFunc(const double position[3], const double direction[3], struct LWShaderAccess *record);
typedef int32_t LWIlluminateFunc(LWItemID light, const double position[3], double direction[3], double color[3]);
typedef double LWIlluminateSampleFunc(LWItemID light, const double position[3], double direction[3],
                                      LightSampleFunc *sampler, void *data);
typedef int32_t LWIlluminateNormalFunc(LWItemID light, LWRenderData render, const double position[3],
                                       double direction[3], const double normal[3], double color[3]);
typedef double LWIlluminateSampleNormalFunc(LWItemID light, LWRenderData render, const double position[3],
                                            const double normal[3], LightSampleFunc *sampler, void *data);
typedef float LWRandomFloatFunc(RandomFloatData data);
typedef void LWRayTraceDataFunc(LWRenderData render, struct LWRayTraceData *trace);
typedef void LWRayTraceShadeFunc(struct LWRayTraceData *trace);
typedef void LWBufferGetValFunc(LWRenderData render, int32_t type, int32_t num, double *values);
typedef void LWBufferSetValFunc(LWRenderData render, int32_t type, int32_t num, double *values);

/* The shading context of one sample, filled by the host and read by evaluate.
 * Every member is read on render threads, concurrently. */
typedef struct LWNodalAccess {
  int32_t sx, sy;       /* pixel column and row of the sample */
  double oPos[3];       /* object-space position */
  double wPos[3];       /* world position */
  double gNorm[3];      /* geometric normal */
  double wNorm[3];      /* shading normal (interpolated, perturbed) */
  double wNorm0[3];     /* shading normal before perturbation */
  double raySource[3];  /* origin of the incoming ray */
  double rayLength;
  double spotSize;      /* footprint of the sample on the surface */
  double cosine;        /* between the incoming ray and the normal */
  double bumpHeight;
  double oXfrm[9];      /* 3x3 object-space transform */
  double wXfrm[9];      /* 3x3 world-space transform */
  LWIlluminateFunc *illuminate;
  LWIlluminateSampleFunc *illuminateSample;
  LWRayTraceFunc *rayTrace;
  LWRayCastFunc *rayCast;
  LWRayShadeFunc *rayShade;
  LWRayTraceModeFunc *rayTraceMode;
  int32_t bounces;      /* ray recursion depth: 0 for a camera ray */
  LWItemID sourceID;    /* item the ray came from */
  LWItemID objID;       /* object being shaded */
  int32_t polNum;       /* polygon index within the object */
  LWPntID verts[4];
  float weights[4];
  float vertsWPos[4][3];
  LWPolID polygon;
  double incomingEta;   /* refraction index the ray arrives with */
  int32_t threadNum;    /* index of the render thread running this evaluation */
  int32_t flags;        /* LWRT_* bits of the incoming ray */
  RandomFloatData randomData;
  LWRandomFloatFunc *randomFloat;
  LWIlluminateNormalFunc *illuminateNormal;
  LWIlluminateSampleNormalFunc *illuminateSampleNormal;
  double subsx, subsy;  /* sub-pixel position */
  double rayDir[3];     /* direction of the incoming ray */
  LWRayTraceDataFunc *rayTraceData;
  LWRayTraceShadeFunc *rayTraceShade;
  LWRenderData render;
  LWBufferGetValFunc *getVal;
  LWBufferSetValFunc *setVal;
  int32_t outsiz;
  struct LWVertexIndexes *vertexIndexes;
} LWNodalAccess;

/* What rayShade reports of the surface a ray hits. */
typedef struct LWShaderAccess {
  int32_t sx, sy;
  double oPos[3];
  double wPos[3];
  double gNorm[3];
  double spotSize;
  double raySource[3];
  double rayLength;
  double cosine;
  double oXfrm[9];
  double wXfrm[9];
  LWItemID objID;
  int32_t polNum;
  double wNorm[3];
  double color[3];      /* the surface's colour */
  double luminous;
  double diffuse;
  double specular;
  double mirror;        /* reflectivity */
  double transparency;
  double eta;           /* the surface's refraction index */
  double roughness;
  LWIlluminateFunc *illuminate;
  LWRayTraceFunc *rayTrace;
  LWRayCastFunc *rayCast;
  LWRayShadeFunc *rayShade;
  int32_t flags;
  int32_t bounces;
  LWItemID sourceID;
  double wNorm0[3];
  double bumpHeight;
  double translucency;
  double colorHL;
  double colorFL;
  double addTransparency;
  double difSharpness;
  LWPntID verts[4];
  float weights[4];
  float vertsWPos[4][3];
  LWPolID polygon;
  double replacementPercentage;
  double replacementColor[3];
  double reflectionBlur;
  double refractionBlur;
  LWRayTraceModeFunc *rayTraceMode;
  double incomingEta;
  int32_t threadNum;    /* render thread index */
  double diffuseShade[3];
  double specularShade[3];
  double refractShade[3];
  double reflectShade[3];
  LWIlluminateSampleFunc *illuminateSample;
  RandomFloatData randomData;
  LWRandomFloatFunc *randomFloat;
  LWIlluminateNormalFunc *illuminateNormal;
  LWIlluminateSampleNormalFunc *illuminateSampleNormal;
  double subsx, subsy;
  double bumpDropoff;
  double rayDir[3];
  LWRayTraceDataFunc *rayTraceData;
  LWRayTraceShadeFunc *rayTraceShade;
  LWRenderData render;
  LWBufferGetValFunc *getVal;
  LWBufferSetValFunc *setVal;
} LWShaderAccess;

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

typedef struct LWNameChangeData {
  const char *oldName;
  const char *newName;
  LWItemID id;
} LWNameChangeData;

typedef struct LWItemFuncs {
  const LWItemID *(*useItems)(LWInstance inst);                   /* host thread */
  void (*changeID)(LWInstance inst, const LWItemID *ids);         /* host thread */
  void (*changeName)(LWInstance inst, const LWNameChangeData *d); /* host thread */
} LWItemFuncs;

#define LWINIT_PREVIEW 0
#define LWINIT_RENDER 1

typedef struct LWRenderFuncs {
  LWError (*init)(LWInstance inst, int32_t mode);                    /* host thread, render start */
  void (*cleanup)(LWInstance inst);                                  /* host thread, render end */
  LWError (*newTime)(LWInstance inst, LWFrame frame, LWTime time);  /* host thread, per frame */
} LWRenderFuncs;

#define NF_TRANSP 0x1u /* the node may produce transparency */

typedef struct LWNodeHandler {
  LWInstanceFuncs *inst;
  LWItemFuncs *item;
  LWRenderFuncs *rend;
  /* render threads, concurrently */
  void (*evaluate)(LWInstance inst, LWNodalAccess *na, NodeOutputID output, NodeValue value);
  /* Draws a preview of type NPT_CUSTOM. host thread */
  void (*customPreview)(LWInstance inst, int32_t width, int32_t height);
  /* NF_* bits of an instance. host thread */
  uint32_t (*flags)(LWInstance inst);
} LWNodeHandler;

/* ------------------------------------------------------------------ */
/* Node services                                                       */

/* Told of connection changes (NIE_*); type is the connected output's type for
 * NIE_CONNECT and 0 otherwise. The module returns 1. host thread */
typedef int32_t (*NodeInputEvent)(void *userData, NodeInputID input, int32_t event, ConnectionType type);

/* "NodeFuncs": host thread. */
typedef struct LWNodeFuncs {
  const char *(*nodeName)(NodeID node); /* with its index number: unique within the scene */
  const char *(*serverUserName)(NodeID node);
  LWChanGroupID (*chanGrp)(NodeID node);
  void (*setNodeColor)(NodeID node, int32_t rgb[3]);
  void (*setNodeColor3)(NodeID node, int32_t r, int32_t g, int32_t b);
  void (*setNodePreviewType)(NodeID node, int32_t previewType); /* NPT_* */
  void (*updateNodePreview)(NodeID node); /* redraws the preview at once */
} LWNodeFuncs;

typedef struct LWRootNode LWRootNode; /* the editor's destination node: not used here */

/* "NodeEditorFuncs": every handler requires it; the module calls none of it.
 * host thread */
typedef struct LWNodeEditorFuncs {
  NodeEditorID (*create)(const char *name, const char *title, LWRootNode *root, void *userData);
  void (*destroy)(NodeEditorID editor);
  void (*rename)(const char *name, NodeEditorID editor);
  void (*setUpdateFunc)(NodeEditorID editor, void (*update)(NodeEditorID));
  LWError (*copy)(NodeEditorID to, NodeEditorID from);
  LWError (*save)(NodeEditorID editor, const LWSaveState *ss);
  LWError (*load)(NodeEditorID editor, const LWLoadState *ls);
  LWError (*init)(NodeEditorID editor, int32_t mode);
  LWError (*newTime)(NodeEditorID editor, LWFrame frame, LWTime time);
  void (*cleanup)(NodeEditorID editor);
  NodeInputID (*addInput)(NodeEditorID editor, ConnectionType type, const char *name, NodeInputEvent event);
  void (*setEnvGroup)(NodeEditorID editor, LWChanGroupID group);
  void (*setAutosize)(NodeEditorID editor, void (*autosize)(NodeEditorID, void *, double[3][2]));
  void (*setUserData)(NodeEditorID editor, void *userData);
  void *(*getUserData)(NodeEditorID editor);
  int32_t (*numberOfNodes)(NodeEditorID editor);
  NodeInputID (*getInputByName)(NodeEditorID editor, const char *name);
  NodeInputID (*getInputByIndex)(NodeEditorID editor, int32_t index);
  uint16_t (*getState)(NodeEditorID editor);
  void (*setState)(NodeEditorID editor, uint16_t state);
  int32_t (*openNodeEditor)(NodeEditorID editor);
  int32_t (*isOpenNodeEditor)(NodeEditorID editor);
  NodeID (*getRootNodeID)(NodeEditorID editor);
  LWError (*connect)(NodeOutputID from, NodeInputID to);
} LWNodeEditorFuncs;

/* "NodeInputFuncs" (the first node class) and "NodeInputFuncs 2". */
typedef struct LWNodeInputFuncs {
  /* host thread */
  NodeInputID (*create)(NodeID node, ConnectionType type, const char *name, NodeInputEvent event);
  void (*destroy)(NodeID node, NodeInputID input); /* host thread */
  /* A connected input overwrites value with the upstream result (converted to
   * the input's type) and returns nonzero; an unconnected one leaves value
   * alone and returns 0. render threads, concurrently */
  int32_t (*evaluate)(NodeInputID input, LWNodalAccess *na, void *value);
  int32_t (*check)(NodeInputID input); /* nonzero when connected; any thread */
  /* Walking a node's inputs; indices start at 1. host thread */
  NodeInputID (*first)(NodeID node);
  NodeInputID (*next)(NodeInputID input);
  NodeInputID (*previous)(NodeInputID input);
  int32_t (*numInputs)(NodeID node);
  NodeInputID (*byIndex)(NodeID node, int32_t index);
  int32_t (*getIndex)(NodeID node, NodeInputID input); /* 0 when not the node's */
  void (*disconnect)(NodeID node, NodeInputID input);
  NodeID (*node)(NodeInputID input);
} LWNodeInputFuncs;

/* "NodeOutputFuncs" */
typedef struct LWNodeOutputFuncs {
  NodeOutputID (*create)(NodeID node, ConnectionType type, const char *name); /* host thread */
  void (*destroy)(NodeID node, NodeOutputID output);                          /* host thread */
  /* Reads the result buffer (of the output's type) during the call.
   * render threads, concurrently */
  void (*setValue)(NodeValue value, void *result);
  void *(*getValue)(NodeValue value);          /* render threads, concurrently */
  ConnectionType (*getType)(NodeValue value);  /* render threads, concurrently */
  /* Walking a node's outputs; indices start at 1. host thread */
  NodeOutputID (*first)(NodeID node);
  NodeOutputID (*next)(NodeOutputID output);
  NodeOutputID (*previous)(NodeOutputID output);
  int32_t (*numOutputs)(NodeID node);
  NodeOutputID (*byIndex)(NodeID node, int32_t index);
  int32_t (*getIndex)(NodeID node, NodeOutputID output); /* 0 when not the node's */
  NodeID (*node)(NodeOutputID output);
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
  /* fg blended onto bg by a BLEND_* mode, mixed by the opacity alpha.
   * render threads, concurrently */
  void (*blend)(double result[3], double bg[3], double fg[3], double alpha, int32_t mode);
  /* Automatic texture scale and position for a node. host thread */
  void (*nodeAutosize)(NodeID node, double scale[3], double position[3]);
  /* Projections of a texture-space position about an axis (0 x, 1 y, 2 z).
   * render threads, concurrently */
  void (*planarMapping)(double tPos[3], int32_t axis, double *u, double *v);
  void (*sphericalMapping)(double tPos[3], int32_t axis, double *u, double *v);
  void (*cylindricalMapping)(double tPos[3], int32_t axis, double *u, double *v);
  void (*cubicMapping)(double tPos[3], int32_t axis, double *u, double *v);
  void (*frontMapping)(double tPos[3], double pixelAspect, double *u, double *v, double camera[4][4]);
  /* The (u, v) at which a spherical environment image is seen along a
   * direction. render threads, concurrently */
  void (*reflectionMapping)(double seamAngle, double direction[3], double *u, double *v);
  /* A named UV map at the sample; nonzero on success. render threads */
  int32_t (*uvMapping)(const char *uvMapName, LWNodalAccess *na, double *u, double *v);
  void (*buildCameraMatrix)(LWTime time, LWItemID camera, double matrix[4][4]); /* host thread */
} LWNodeUtilityFuncs;

#ifdef __cplusplus
}
#endif

#endif
