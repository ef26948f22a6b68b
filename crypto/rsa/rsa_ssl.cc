// The SSLv23 padding: PKCS#1 block type 2 whose last eight padding bytes are
// 0x03, the mark by which a server that speaks SSL 3 detects a client that
// was pushed down from it (a rollback); the check refuses such a block.
//
// Implementation notes: the check runs in constant time as the type 2 check
// does, on the same scan (rsa_pk1.cc), which also counts by masks the run of
// 0x03 bytes that ends at the separator.

#include <stdint.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "internal/ct.h"
#include "rsa/internal.h"

namespace ct = morvane::ct;

namespace morvane::rsa {

int check_sslv23_block(unsigned char* to, int tlen, uint8_t* em, int num, unsigned too_small,
                       int func) {
  if (num < 2) {
    RSAerr(func, RSA_R_BLOCK_TYPE_IS_NOT_02);
    return -1;
  }
  const Type2Scan s = scan_type_2(em, num);
  const unsigned null_ok = s.found & ~ct::lt_mask(s.zero_at, 10u);
  const unsigned rollback = ~ct::lt_mask(s.threes, 8u);
  const unsigned msg_len = static_cast<unsigned>(num) - 1 - s.zero_at;
  const unsigned too_large = too_long(tlen, msg_len);
  unsigned reason = ct::select(too_large, unsigned{RSA_R_DATA_TOO_LARGE}, 0u);
  reason = ct::select(rollback, unsigned{RSA_R_SSLV3_ROLLBACK_ATTACK}, reason);
  reason = ct::select(null_ok, reason, unsigned{RSA_R_NULL_BEFORE_BLOCK_MISSING});
  reason = ct::select(s.type_ok, reason, unsigned{RSA_R_BLOCK_TYPE_IS_NOT_02});
  reason = ct::select(too_small, unsigned{RSA_R_DATA_TOO_SMALL}, reason);
  const unsigned good = ~too_small & s.type_ok & null_ok & ~rollback & ~too_large;
  return finish_check(to, tlen, em, num, s.zero_at + 1, RSA_PKCS1_PADDING_SIZE, good, reason,
                      msg_len, func);
}

}  // namespace morvane::rsa

using namespace morvane::rsa;

/* see morvane/rsa.h */
int RSA_padding_add_SSLv23(unsigned char* to, int tlen, const unsigned char* from, int flen) {
  if (!add_fits(flen, tlen, RSA_PKCS1_PADDING_SIZE, RSA_F_RSA_PADDING_ADD_SSLV23)) return 0;
  const int random = tlen - RSA_PKCS1_PADDING_SIZE - flen;
  to[0] = 0x00;
  to[1] = 0x02;
  if (!random_nonzero(to + 2, random)) return 0;
  memset(to + 2 + random, 0x03, 8);
  to[10 + random] = 0x00;
  if (flen > 0) memcpy(to + 11 + random, from, static_cast<size_t>(flen));
  return 1;
}

/* see morvane/rsa.h */
int RSA_padding_check_SSLv23(unsigned char* to, int tlen, const unsigned char* from, int flen,
                             int num) {
  const int fn = RSA_F_RSA_PADDING_CHECK_SSLV23;
  if (flen < 10) {
    RSAerr(fn, RSA_R_DATA_TOO_SMALL);
    return -1;
  }
  return over_block(from, flen, num, fn, RSA_R_BLOCK_TYPE_IS_NOT_02,
                    [&](uint8_t* em) { return check_sslv23_block(to, tlen, em, num, 0, fn); });
}
