/* The host's image list. */
#ifndef JUXS_HOST_LW_IMAGE_H
#define JUXS_HOST_LW_IMAGE_H

#include "lw_io.h"
#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWIMAGELIST_GLOBAL_FIRST "LW Image List 5"
#define LWIMAGELIST_GLOBAL_SDK96 "LW Image List 6"
#ifdef JUXS_HOST_SDK96
#define LWIMAGELIST_GLOBAL LWIMAGELIST_GLOBAL_SDK96
#else
#define LWIMAGELIST_GLOBAL LWIMAGELIST_GLOBAL_FIRST
#endif

typedef int32_t LWImageType;

/* Image change events and registration of changeEvent. */
#define LWCEV_CHANGE 0
#define LWCEV_REPLACE 1
#define LWCEV_DESTROY 2
#define LWERR_REGISTER 0
#define LWERR_UNREGISTER 1

typedef void (*LWImageEventFunc)(int32_t code, LWImageID image);

/* The image list. The walk, name, size and pixel reads run on render threads
 * concurrently as well as on the host thread; load, sceneLoad, sceneSave and
 * the rest run on the host thread only. */
typedef struct LWImageList {
  LWImageID (*first)(void);
  LWImageID (*next)(LWImageID img);
  LWImageID (*load)(const char *filename); /* null when the file cannot be read */
  const char *(*name)(LWImageID img);
  const char *(*filename)(LWImageID img, LWFrame frame);
  int32_t (*isColor)(LWImageID img);
  void (*needAA)(LWImageID img);
  void (*size)(LWImageID img, int32_t *width, int32_t *height);
  float (*luma)(LWImageID img, int32_t x, int32_t y);
  void (*RGB)(LWImageID img, int32_t x, int32_t y, float rgb[3]);
  double (*lumaSpot)(LWImageID img, double x, double y, double spotSize, int32_t blend);
  /* Filtered colour around (x, y), each from 0 to 1 across the image. */
  void (*RGBSpot)(LWImageID img, double x, double y, double spotSize, int32_t blend, double rgb[3]);
  void (*clear)(LWImageID img);
  LWImageID (*sceneLoad)(const LWLoadState *ls);
  void (*sceneSave)(const LWSaveState *ss, LWImageID img);
  int32_t (*hasAlpha)(LWImageID img);
  float (*alpha)(LWImageID img, int32_t x, int32_t y);
  double (*alphaSpot)(LWImageID img, double x, double y, double spotSize, int32_t blend);
  LWPixmapID (*evaluate)(LWImageID img, LWTime time);
  void (*changeEvent)(LWImageEventFunc func, int32_t registration); /* LWERR_REGISTER or _UNREGISTER */
  int32_t (*replace)(LWImageID img, const char *filename);
  LWPixmapID (*create)(const char *name, int32_t width, int32_t height, LWImageType type);
  void (*saverNotifyAttach)(LWInstance inst, LWImageID (*saved)(LWInstance));
  void (*saverNotifyDetach)(LWInstance inst);
  void (*saverNotifyMarkUsage)(LWTextureID texture);
} LWImageList;

#ifdef __cplusplus
}
#endif

#endif
