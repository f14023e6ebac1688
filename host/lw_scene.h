/* Scene, time, backdrop and system records. */
#ifndef JUXS_HOST_LW_SCENE_H
#define JUXS_HOST_LW_SCENE_H

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWSCENEINFO_GLOBAL_FIRST "LW Scene Info 4"
#define LWSCENEINFO_GLOBAL_SDK96 "LW Scene Info 7"
#ifdef JUXS_HOST_SDK96
#define LWSCENEINFO_GLOBAL LWSCENEINFO_GLOBAL_SDK96
#else
#define LWSCENEINFO_GLOBAL LWSCENEINFO_GLOBAL_FIRST
#endif
#define LWTIMEINFO_GLOBAL "LW Time Info"
#define LWBACKDROPINFO_GLOBAL "LW Backdrop Info 2"
#define LWSYSTEMID_GLOBAL "System ID"

/* "System ID" answers the value itself, carried in the pointer. The top four
 * bits tell the application. */
#define LWSYS_TYPEBITS 0xF0000000u
#define LWSYS_SERIALBITS 0x0FFFFFFFu
#define LWSYS_LAYOUT 0x00000000u
#define LWSYS_MODELER 0x10000000u
#define LWSYS_SCREAMERNET 0x20000000u
#define LWSYS_OTHER 0x80000000u

/* The scene record, read on the host thread (init). Only the members up to
 * numThreads are read by the module; the rest keep the record whole. */
typedef struct LWSceneInfo {
  const char *name;
  const char *filename;
  int32_t numPoints, numPolygons;
  int32_t renderType; /* wire 0, quick 1, realistic 2 */
  int32_t renderOpts;
  LWFrame frameStart, frameEnd, frameStep;
  double framesPerSecond;
  int32_t frameWidth, frameHeight;
  double pixelAspect;
  int32_t minSamplesPerPixel, maxSamplesPerPixel;
  int32_t limitedRegion[4]; /* x0, y0, x1, y1 */
  int32_t recursionDepth;   /* ray recursion limit */
  LWItemID (*renderCamera)(LWTime time);
  int32_t numThreads;
  const char *animFilename;
  const char *RGBPrefix;
  const char *alphaPrefix;
  int32_t antialiasing;
  int32_t enhancedAA;
  int32_t adaptiveSampling;
  float adaptiveThreshold;
  int32_t filter;
  int32_t dblSidedAreaLights;
  int32_t loadInProgress;
  int32_t radiosityType;
  int32_t radiosityIndirectBounceCount;
  int32_t radiosityRaysPerEvaluation1;
  int32_t radiosityRaysPerEvaluation2;
  double radiosityIntensity;
  double radiosityAngularTolerance;
  double radiosityMinimumPixelSpacing;
  double radiosityMaximumPixelSpacing;
  double radiosityMultiplier;
  const char *radiosityFileName;
  double causticsIntensity;
  int32_t causticsAccuracy;
  int32_t causticsSoftness;
  int32_t radiosityFlags;
  double dynamicsRangeMin;
  double dynamicsRangeMax;
  double saturation;
  int32_t pixelFilterForceMT;
  int32_t hasMultithreadedFilters;
  int32_t useZminmax;
  double zmin;
  double zmax;
  int32_t rendermode;
  int32_t calculateAllNormals;
  int32_t enableLenseFlares;
  double lenseFlareIntensity;
} LWSceneInfo;

/* "LW Time Info": the time and frame being rendered. */
typedef struct LWTimeInfo {
  LWTime time;
  LWFrame frame;
} LWTimeInfo;

#define LWBACK_SOLID 0
#define LWBACK_GRADIENT 1

/* "LW Backdrop Info 2" */
typedef struct LWBackdropInfo {
  /* The backdrop colour seen in a direction at a time.
   * render threads, concurrently */
  void (*backdrop)(LWTime time, const double direction[3], double color[3]);
  int32_t type; /* LWBACK_* */
  /* The gradient's four colours at a time. host thread */
  void (*color)(LWTime time, double zenith[3], double sky[3], double ground[3], double nadir[3]);
  /* The gradient's squeeze towards sky and ground at a time. host thread */
  void (*squeeze)(LWTime time, double *sky, double *ground);
} LWBackdropInfo;

#ifdef __cplusplus
}
#endif

#endif
