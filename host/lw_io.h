/* Scene load and save streams. The host hands these to a node's load and save
 * callbacks; the node reads or writes its settings as a flat sequence.
 *
 * Every read returns the number of items read, or -1 when the stream could not
 * deliver them (a short or malformed stream); a failed read leaves zeros in
 * the buffer, never stale or partial data. */
#ifndef JUXS_HOST_LW_IO_H
#define JUXS_HOST_LW_IO_H

#include "lw_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWIO_BINARY 0 /* also the object form */
#define LWIO_ASCII 1  /* also the scene form: readable text */
#define LWIO_OBJECT LWIO_BINARY
#define LWIO_SCENE LWIO_ASCII

/* A block is known by its four-character id in binary streams and by its
 * token in text streams. Lists of these end with id 0. */
typedef struct LWBlockIdent {
  LWID id;
  const char *token;
} LWBlockIdent;

/* All members: host thread, inside a load callback. */
typedef struct LWLoadState {
  int32_t ioMode; /* LWIO_BINARY or LWIO_ASCII */
  void *readData;
  int32_t (*read)(void *readData, char *buf, int32_t len); /* raw bytes; -1 at the end */
  int32_t (*readI1)(void *readData, char *vals, int32_t n);
  int32_t (*readI2)(void *readData, int16_t *vals, int32_t n);
  int32_t (*readI4)(void *readData, int32_t *vals, int32_t n);
  int32_t (*readU1)(void *readData, uint8_t *vals, int32_t n);
  int32_t (*readU2)(void *readData, uint16_t *vals, int32_t n);
  int32_t (*readU4)(void *readData, uint32_t *vals, int32_t n);
  int32_t (*readFP)(void *readData, float *vals, int32_t n);
  /* Reads one string into buf, storing at most max - 1 bytes and always a
   * terminator; the rest of a longer string is skipped. Returns the number of
   * bytes stored, or -1. */
  int32_t (*readStr)(void *readData, char *buf, int32_t max);
  /* Opens the block that comes next when it is one of ids: its id, else 0. */
  LWID (*readID)(void *readData, const LWBlockIdent *ids);
  /* Skips ahead to the next block among ids and opens it: its id, or 0 when
   * none remains at this level. */
  LWID (*findBlk)(void *readData, const LWBlockIdent *ids);
  void (*endBlk)(void *readData); /* skips the rest of the open block */
  int32_t (*depth)(void *readData); /* open blocks, 0 outside all */
  int32_t (*readDP)(void *readData, double *vals, int32_t n);
} LWLoadState;

/* All members: host thread, inside a save callback. */
typedef struct LWSaveState {
  int32_t ioMode;
  void *writeData;
  void (*write)(void *writeData, const char *buf, int32_t len);
  void (*writeI1)(void *writeData, const char *vals, int32_t n);
  void (*writeI2)(void *writeData, const int16_t *vals, int32_t n);
  void (*writeI4)(void *writeData, const int32_t *vals, int32_t n);
  void (*writeU1)(void *writeData, const uint8_t *vals, int32_t n);
  void (*writeU2)(void *writeData, const uint16_t *vals, int32_t n);
  void (*writeU4)(void *writeData, const uint32_t *vals, int32_t n);
  void (*writeFP)(void *writeData, const float *vals, int32_t n);
  void (*writeStr)(void *writeData, const char *str);
  void (*writeID)(void *writeData, const LWBlockIdent *id);
  /* Opens a block; leaf nonzero promises it holds no blocks. */
  void (*beginBlk)(void *writeData, const LWBlockIdent *id, int32_t leaf);
  void (*endBlk)(void *writeData);
  int32_t (*depth)(void *writeData);
  void (*writeDP)(void *writeData, const double *vals, int32_t n);
} LWSaveState;

#ifdef __cplusplus
}
#endif

#endif
