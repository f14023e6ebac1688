/* The host's image list. */
#ifndef JUXS_HOST_LW_IMAGE_H
#define JUXS_HOST_LW_IMAGE_H

#include "lw_io.h"
#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWIMAGELIST_GLOBAL "LW Image List 5"

/* "LW Image List 5". The walk, name, size and pixel reads run on render
 * threads concurrently as well as on the host thread; load, sceneLoad and
 * sceneSave run on the host thread only. */
typedef struct LWImageList {
  LWImageID (*first)(void);
  LWImageID (*next)(LWImageID img);
  LWImageID (*load)(const char *filename); /* null when the file cannot be read */
  const char *(*name)(LWImageID img);
  const char *(*filename)(LWImageID img, LWFrame frame);
  void (*size)(LWImageID img, int32_t *width, int32_t *height);
  void (*RGB)(LWImageID img, int32_t x, int32_t y, float rgb[3]);
  float (*alpha)(LWImageID img, int32_t x, int32_t y);
  int32_t (*hasAlpha)(LWImageID img);
  /* Filtered colour around (u, v) in 0..1 with the given spot size. */
  void (*spot)(LWImageID img, double u, double v, double spotSize, int32_t blend, double rgb[3]);
  LWImageID (*sceneLoad)(const LWLoadState *ls);
  void (*sceneSave)(const LWSaveState *ss, LWImageID img);
} LWImageList;

#ifdef __cplusplus
}
#endif

#endif
