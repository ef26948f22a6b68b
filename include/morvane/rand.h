/* Morvane: the random generator's entry points.
 *
 * One process-wide source of random bytes.  Every entry point forwards to the
 * current random method, a table of function pointers (RAND_METHOD) chosen on
 * first use; until the built-in pool generator lands, that method draws
 * directly from the operating system's random source.  Results: RAND_bytes and
 * RAND_pseudo_bytes give 1 for strong output, 0 when the bytes could not be
 * made strong (treat as failure), -1 when no method or operation exists;
 * RAND_status gives 1 when the generator is seeded.  A count of 0 or less
 * returns 1 and writes nothing. */
#ifndef MORVANE_RAND_H
#define MORVANE_RAND_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

/* A random method.  Every slot may be null. */
typedef struct rand_meth_st {
  /* Mixes num bytes in, counting them as num bytes of entropy. */
  void (*seed)(const void *buf, int num);
  /* Fills buf with num strong bytes: 1, or 0 when not seeded. */
  int (*bytes)(unsigned char *buf, int num);
  /* Forgets all state. */
  void (*cleanup)(void);
  /* Mixes num bytes in with the caller's entropy estimate, in bytes. */
  void (*add)(const void *buf, int num, double entropy);
  /* Fills buf with num bytes that need not be unpredictable. */
  int (*pseudorand)(unsigned char *buf, int num);
  /* 1 when seeded, else 0. */
  int (*status)(void);
} RAND_METHOD;

/* Makes meth (null allowed) the current method; returns 1.  With null the
 * next call installs the default again. */
MORVANE_EXPORT int RAND_set_rand_method(const RAND_METHOD *meth);
/* The current method, installing the default when there is none. */
MORVANE_EXPORT const RAND_METHOD *RAND_get_rand_method(void);

MORVANE_EXPORT void RAND_seed(const void *buf, int num);
MORVANE_EXPORT void RAND_add(const void *buf, int num, double entropy);
MORVANE_EXPORT int RAND_bytes(unsigned char *buf, int num);
MORVANE_EXPORT int RAND_pseudo_bytes(unsigned char *buf, int num);
MORVANE_EXPORT int RAND_status(void);

MORVANE_END_DECLS

#endif /* MORVANE_RAND_H */
