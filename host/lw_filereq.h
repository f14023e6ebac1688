/* The host's file requester. */
#ifndef JUXS_HOST_LW_FILEREQ_H
#define JUXS_HOST_LW_FILEREQ_H

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The requester that takes a request record; the older "File Request"
 * service takes separate buffers and is not used here. */
#define LWFILEACTIVATEFUNC_GLOBAL "File Request 2"
#define LWFILEREQ_VERSION 3

#define FREQ_LOAD 1
#define FREQ_SAVE 2
#define FREQ_DIRECTORY 3
#define FREQ_MULTILOAD 4

typedef struct LWFileReqLocal {
  int32_t reqType;
  int32_t result; /* 1 or more when a file was chosen, 0 on cancel */
  const char *title;
  const char *fileType;
  char *path;
  char *baseName;
  char *fullName;
  int32_t bufLen;
  int32_t (*pickName)(void);
} LWFileReqLocal;

/* Runs the requester; returns an activation result (AFUNC_*). host thread */
typedef int32_t (*LWFileActivateFunc)(int32_t version, LWFileReqLocal *request);

#ifdef __cplusplus
}
#endif

#endif
