/* The module descriptor and the server records through which the host finds
 * the module's servers. */
#ifndef JUXS_HOST_LW_MODULE_H
#define JUXS_HOST_LW_MODULE_H

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MOD_SYSSYNC 0x04121994u /* synchronisation word */
#define MOD_SYSVER 3u           /* descriptor version */
#define MOD_MACHINE 0x300u      /* machine word */

/* Activation results. */
#define AFUNC_OK 0
#define AFUNC_BADVERSION 1
#define AFUNC_BADGLOBAL 2

/* Server tags: (string, tag) pairs, ended by (null, 0). */
#define SRVTAG_USERNAME 0x00000u  /* the name users see */
#define SRVTAG_NODEGROUP 0x70000u /* node-editor menu path */

typedef struct ServerTagInfo {
  const char *string;
  uint32_t tag;
} ServerTagInfo;

/* Called each time the host needs the server; local is the class's record
 * (LWNodeHandler, LWInterface). host thread */
typedef int32_t (*ActivateFunc)(int32_t version, GlobalFunc global, void *local, void *serverData);

typedef struct ServerRecord {
  const char *className;
  const char *name;
  ActivateFunc activate; /* may be null: the server has nothing to activate */
  const ServerTagInfo *tagInfo;
} ServerRecord;

typedef struct ModuleDescriptor {
  uint32_t sysSync;
  uint32_t sysVersion;
  uint32_t sysMachine;
  void *(*startup)(void);              /* host thread, once after loading */
  void (*shutdown)(void *serverData);  /* host thread, once before unloading */
  const ServerRecord *serverDefs;      /* ended by an all-null record */
} ModuleDescriptor;

#ifdef __cplusplus
}
#endif

#endif
