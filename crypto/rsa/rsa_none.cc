// No padding: the message is the whole block.

#include <string.h>

#include <morvane/err.h>
#include <morvane/rsa.h>

#include "rsa/internal.h"

using morvane::rsa::kMaxBlock;

/* see morvane/rsa.h */
int RSA_padding_add_none(unsigned char* to, int tlen, const unsigned char* from, int flen) {
  if (tlen > kMaxBlock) {
    RSAerr(RSA_F_RSA_PADDING_ADD_NONE, RSA_R_MODULUS_TOO_LARGE);
    return 0;
  }
  if (flen > tlen) {
    RSAerr(RSA_F_RSA_PADDING_ADD_NONE, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE);
    return 0;
  }
  if (flen < tlen) {
    RSAerr(RSA_F_RSA_PADDING_ADD_NONE, RSA_R_DATA_TOO_SMALL_FOR_KEY_SIZE);
    return 0;
  }
  if (flen > 0) memcpy(to, from, static_cast<size_t>(flen));
  return 1;
}

/* see morvane/rsa.h */
int RSA_padding_check_none(unsigned char* to, int tlen, const unsigned char* from, int flen,
                           int /*num*/) {
  if (tlen > kMaxBlock) {
    RSAerr(RSA_F_RSA_PADDING_CHECK_NONE, RSA_R_MODULUS_TOO_LARGE);
    return -1;
  }
  if (flen > tlen || flen < 0) {
    RSAerr(RSA_F_RSA_PADDING_CHECK_NONE, RSA_R_DATA_TOO_LARGE);
    return -1;
  }
  // The leading zeros that the raw operation dropped come back in front.
  memset(to, 0, static_cast<size_t>(tlen - flen));
  if (flen > 0) memcpy(to + tlen - flen, from, static_cast<size_t>(flen));
  return tlen;
}
