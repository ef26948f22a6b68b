// The remote-procedure-call DES service's entry point: one request record,
// processed in place.

#include <stddef.h>

#include <morvane/crypto.h>
#include <morvane/des.h>
#include <morvane/rpc_des.h>

#include "des/internal.h"

static_assert(sizeof(struct desparams) == 48);
static_assert(offsetof(struct desparams, des_dir) == 8);
static_assert(offsetof(struct desparams, des_mode) == 12);
static_assert(offsetof(struct desparams, des_ivec) == 16);
static_assert(offsetof(struct desparams, des_len) == 24);
static_assert(offsetof(struct desparams, UDES) == 32);

/* see morvane/rpc_des.h */
int _des_crypt(char* buf, int len, struct desparams* desp) {
  (void)buf;
  DES_key_schedule ks;
  morvane::des::set_key(desp->des_key, &ks);
  const int enc = desp->des_dir == ENCRYPT ? DES_ENCRYPT : DES_DECRYPT;
  unsigned char* data = desp->UDES.UDES_buf;
  // The mode is chosen as its name says: ECB runs one block, CBC (and any
  // value that is not ECB) the chained mode over len bytes.
  if (desp->des_mode == ECB) {
    DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(data), reinterpret_cast<DES_cblock*>(data),
                    &ks, enc);
  } else {
    DES_ncbc_encrypt(data, data, len, &ks, &desp->des_ivec, enc);
  }
  MORVANE_cleanse(&ks, sizeof(ks));
  return 1;
}
