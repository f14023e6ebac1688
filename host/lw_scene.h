/* Scene, time, backdrop and system records. */
#ifndef JUXS_HOST_LW_SCENE_H
#define JUXS_HOST_LW_SCENE_H

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWSCENEINFO_GLOBAL "LW Scene Info 4"
#define LWTIMEINFO_GLOBAL "LW Time Info"
#define LWBACKDROPINFO_GLOBAL "LW Backdrop Info 2"
#define LWSYSTEMID_GLOBAL "System ID"

/* "System ID" answers the value itself, cast to a pointer. The top four bits
 * tell the application; LWSYS_MODELER marks the modeling application. */
#define LWSYS_TYPEBITS 0xF0000000u
#define LWSYS_LAYOUT 0x00000000u
#define LWSYS_MODELER 0x10000000u

/* "LW Scene Info 4": read on the host thread (init). */
typedef struct LWSceneInfo {
  const char *name;
  const char *filename;
  int32_t numPoints, numPolys;
  int32_t renderType, renderOpts;
  LWFrame frameStart, frameEnd, frameStep;
  double framesPerSecond;
  int32_t frameWidth, frameHeight;
  double pixelAspect;
  int32_t minSamplesPerPixel, maxSamplesPerPixel;
  int32_t limitedRegion[4];
  int32_t recursionDepth; /* ray recursion limit */
  int32_t numThreads;
} LWSceneInfo;

/* "LW Time Info": the time and frame being rendered. */
typedef struct LWTimeInfo {
  LWTime time;
  LWFrame frame;
} LWTimeInfo;

/* "LW Backdrop Info 2" */
typedef struct LWBackdropInfo {
  /* The backdrop colour seen in a direction at a time.
   * render threads, concurrently */
  void (*backdrop)(LWTime time, const double direction[3], double color[3]);
  int32_t type; /* 0 solid colour, 1 gradient */
  /* The gradient's four colours at a time. host thread */
  void (*color)(LWTime time, double zenith[3], double sky[3], double ground[3], double nadir[3]);
} LWBackdropInfo;

#ifdef __cplusplus
}
#endif

#endif
