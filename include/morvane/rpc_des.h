/* Morvane: the request record of the remote-procedure-call DES service.
 *
 * Kept apart from des.h because its enumerators (ENCRYPT, CBC, ...) are short
 * generic names that a program including des.h should not receive unasked.
 * _des_crypt schedules `des_key`, then runs one DES block (mode ECB) or CBC
 * over `len` bytes with `des_ivec` (mode CBC) in place at `UDES.UDES_buf`; it
 * allocates nothing and always returns 1.
 *
 * Null arguments: `desp`, and the data it points to, must be valid; `buf`
 * is not read. */
#ifndef MORVANE_RPC_DES_H
#define MORVANE_RPC_DES_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

enum desdir { ENCRYPT, DECRYPT };
enum desmode { CBC, ECB };

struct desparams {
  unsigned char des_key[8];  /* the DES key */
  enum desdir des_dir;       /* ENCRYPT or DECRYPT */
  enum desmode des_mode;     /* CBC or ECB */
  unsigned char des_ivec[8]; /* CBC's IV; ends as the last ciphertext block */
  unsigned int des_len;      /* not read: the call's `len` counts */
  union {
    unsigned char UDES_data[16];
    unsigned char *UDES_buf; /* the data, processed in place */
  } UDES;
};

/* `buf` is not used.  CBC encryption writes `len` rounded up to a multiple of
 * 8 bytes, so the caller passes a whole number of blocks. */
MORVANE_EXPORT int _des_crypt(char *buf, int len, struct desparams *desp);

MORVANE_END_DECLS

#endif /* MORVANE_RPC_DES_H */
