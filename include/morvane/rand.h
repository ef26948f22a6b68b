/* Morvane: the random generator, its entropy sources and the seed file.
 *
 * One process-wide source of random bytes.  Every entry point forwards to the
 * current random method, a table of function pointers (RAND_METHOD) chosen on
 * first use: the default random engine's table when the engine tables name
 * one, else the built-in pool generator (RAND_Quorix), which seeds itself from
 * the operating system (RAND_poll) at each output or status call until it is
 * seeded.
 *
 * Forked children.  The generator's first use in a process registers a fork
 * handler (pthread_atfork) that counts forks in the child, maps a private
 * page that the kernel hands every child made without a shared address space
 * filled with zeros (MADV_WIPEONFORK, Linux 4.14 and later; threads share
 * it), and maps a counter shared with every process forked from there on,
 * grandchildren included.  A child is so recognised whatever made it:
 * fork(), _Fork(), a raw clone system call, or an add or draw in an
 * application's fork handler that runs before the library's, and each fork
 * is counted once however many handlers run; where the kernel cannot wipe
 * the page, the fork handler and the process id alone tell, and such
 * children that keep their parent's process id are not recognised.  In
 * a process other than the one that last used it (a forked child: another
 * process id, or a fork counted since, as where a child is the first process
 * of a pid namespace nested in its parent's) the first output or status call
 * first mixes in 32 fresh bytes from the system when it has them, together
 * with a number from the shared counter that no other process of the family
 * takes, the monotonic clock and the process id.  What the child was given
 * before adds to these and never replaces them, as does what it is given in
 * any fork handler, registered before or after the generator's first use
 * (RAND_seed of 32 bytes there makes it draw).  A child that gets no fresh
 * bytes is not seeded (RAND_status 0, no output, "prng not reseeded") until
 * it has been given 32 bytes of entropy of its own (RAND_seed of 32 bytes,
 * RAND_add with such estimates, RAND_load_file, or a RAND_poll that finds
 * them) and holds such a number; without one (the counter could not be
 * mapped) it stays so.  Data the library mixes in itself, such as the digest
 * that DSA_sign and ECDSA_sign sign, counts as no entropy.  So no two
 * children draw the same stream, whatever they are given and whatever their
 * process ids (pid namespaces, reuse).  The children of a process that never
 * used the generator start afresh, as a new program does: without fresh
 * bytes, what they are given and the monotonic clock decide their streams.
 *
 * Results: RAND_bytes gives 1 for strong output, 0 when the generator is not
 * seeded (the buffer is filled all the same: treat 0 as failure), 0 with
 * nothing written and "prng not reseeded" in a forked child not seeded anew
 * (above), 0 with the buffer zeroed when the digest fails (no memory; its
 * error is queued), -1 when no method or operation exists; RAND_pseudo_bytes
 * the same, except that its 0 leaves no error behind and that it gives -1
 * where RAND_bytes gives 0 for any other reason than an unseeded generator;
 * RAND_status gives 1 when the generator is seeded (in a forked child:
 * seeded anew, as above).  A mix whose digest fails (no memory) counts for
 * nothing and leaves "EVP lib" (function QUORIX_RAND_ADD) on the queue; in a
 * forked child the status stays 0 until one succeeds.
 * A count of 0 or less returns 1 and writes nothing.  Locks 18 and 19 guard
 * the built-in generator; without locking callbacks it serves one thread.
 *
 * Null arguments: RAND_set_rand_method(null) restores the default; the
 * buffers of RAND_seed, RAND_add, RAND_bytes and RAND_pseudo_bytes must be
 * valid for their count; RAND_load_file, RAND_write_file and the daemon
 * client refuse a null path (0 or -1). */
#ifndef MORVANE_RAND_H
#define MORVANE_RAND_H

#include <stddef.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* A random method.  Every slot may be null. */
struct rand_meth_st {
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
};

/* Makes meth (null allowed) the current method, releasing the engine the
 * previous one came from; returns 1.  With null the next call installs the
 * default again.  A method of the caller's own, or an engine's, gets no fork
 * detection: it keeps its own state across fork(), and a child draws the
 * stream its parent would unless the method itself tells them apart. */
MORVANE_EXPORT int RAND_set_rand_method(const RAND_METHOD *meth);
/* The current method, installing the default when there is none. */
MORVANE_EXPORT const RAND_METHOD *RAND_get_rand_method(void);
/* Makes engine's random table current, holding a functional reference on
 * engine until the method is replaced; 0 when engine cannot be initialised
 * or has no table.  A null engine makes the next use choose the default. */
MORVANE_EXPORT int RAND_set_rand_engine(ENGINE *engine);
/* Calls the current method's cleanup, then forgets the method. */
MORVANE_EXPORT void RAND_cleanup(void);
/* The built-in pool generator's table. */
MORVANE_EXPORT const RAND_METHOD *RAND_Quorix(void);

MORVANE_EXPORT void RAND_seed(const void *buf, int num);
MORVANE_EXPORT void RAND_add(const void *buf, int num, double entropy);
MORVANE_EXPORT int RAND_bytes(unsigned char *buf, int num);
MORVANE_EXPORT int RAND_pseudo_bytes(unsigned char *buf, int num);
MORVANE_EXPORT int RAND_status(void);

/* Adds 32 bytes from getrandom, or else up to 32 from the random devices
 * (then the entropy daemons), credited as entropy, and the process id, user
 * id, time and monotonic clock; returns 1.  Only the kernel's random
 * devices are read (on Linux, character devices 1:8 and 1:9): a regular file
 * or another device (/dev/zero) in their place is passed over. */
MORVANE_EXPORT int RAND_poll(void);
/* Asks the entropy daemon listening at path for `bytes` bytes, stored at buf,
 * or seeded one reply at a time when buf is null.  Returns the count obtained
 * (0 when the daemon cannot be reached), or -1 for a path of 104 characters or
 * more, a socket that cannot be made, a failed exchange or a reply larger than
 * asked for. */
MORVANE_EXPORT int RAND_query_egd_bytes(const char *path, unsigned char *buf, int bytes);
/* Seeds from the daemon: the count obtained when positive and the generator is
 * then seeded, else 0.  RAND_egd asks for 255 bytes. */
MORVANE_EXPORT int RAND_egd_bytes(const char *path, int bytes);
MORVANE_EXPORT int RAND_egd(const char *path);

/* Mixes up to `bytes` bytes of file in (-1: all of it, 2048 from a device),
 * crediting each byte read as entropy; returns the count read, at most
 * INT_MAX (0 for a missing file, and for bytes below -1, refused with
 * "invalid length" before the file is looked at). */
MORVANE_EXPORT int RAND_load_file(const char *file, long bytes);
/* Writes 1024 fresh random bytes to file, created with mode 0600: 1024, 0
 * when it cannot be written, -1 (and nothing written) when the generator is
 * not seeded, 1 without writing for a device. */
MORVANE_EXPORT int RAND_write_file(const char *file);
/* The default seed file name, RANDFILE or else HOME "/.rnd" (both ignored in a
 * set-user-id or set-group-id process), in buf of size bytes; "" when there is
 * none or it does not fit. */
MORVANE_EXPORT char *RAND_file_name(char *buf, size_t size);

/* Registers the texts of library 36 (ERR_LIB_RAND) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_RAND_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 36 (RAND). */
#define RAND_F_QUORIX_RAND_BYTES 100
#define RAND_F_RAND_GET_RAND_METHOD 101
#define RAND_F_FIPS_RAND_BYTES 102
#define RAND_F_FIPS_RAND 103
#define RAND_F_FIPS_SET_DT 104
#define RAND_F_FIPS_SET_TEST_MODE 105
#define RAND_F_FIPS_RAND_SET_DT 106
#define RAND_F_FIPS_SET_PRNG_SEED 107
#define RAND_F_ENG_RAND_GET_RAND_METHOD 108
#define RAND_F_FIPS_RAND_GET_RAND_METHOD 109
#define RAND_F_RAND_LOAD_FILE 110
#define RAND_F_QUORIX_RAND_ADD 111
/* Reason codes of library 36 (RAND). */
#define RAND_R_PRNG_NOT_SEEDED 100
#define RAND_R_PRNG_ASKING_FOR_TOO_MUCH 101
#define RAND_R_PRNG_NOT_REKEYED 102
#define RAND_R_PRNG_NOT_RESEEDED 103
#define RAND_R_PRNG_STUCK 104
#define RAND_R_NON_FIPS_METHOD 105
#define RAND_R_NOT_IN_TEST_MODE 106
#define RAND_R_NO_KEY_SET 107
#define RAND_R_PRNG_ERROR 108
#define RAND_R_PRNG_KEYED 109
#define RAND_R_PRNG_SEED_MUST_NOT_MATCH_KEY 110
#define RAND_R_INVALID_LENGTH 111
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_RAND_H */
