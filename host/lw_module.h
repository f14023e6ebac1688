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
#define MOD_MACHINE 0x300u      /* machine word: x86-compatible Windows, the one the host checks */

/* Activation results. */
#define AFUNC_OK 0
#define AFUNC_BADVERSION 1
#define AFUNC_BADGLOBAL 2
#define AFUNC_BADLOCAL 3
#define AFUNC_BADAPP 4
#define AFUNC_BADAPP_SILENT 5

/* Server tag kinds; the low 16 bits may carry a language id (0: any). */
#define SRVTAG_USERNAME 0x00000u    /* the name users see */
#define SRVTAG_BUTTONNAME 0x10000u
#define SRVTAG_CMDGROUP 0x20000u
#define SRVTAG_MENU 0x30000u
#define SRVTAG_DESCRIPTION 0x40000u
#define SRVTAG_ENABLE 0x50000u
#define SRVTAG_SELECTCMD 0x60000u
#define SRVTAG_NODEGROUP 0x70000u   /* node-editor menu path */

/* (string, tag) pairs, ended by (null, 0): tag 0 is a real kind, so only the
 * null string ends the list. */
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
