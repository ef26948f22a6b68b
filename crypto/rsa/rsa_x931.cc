// X9.31 signature padding (ANSI X9.31, 6): a header nibble 6, padding bytes
// 0xBB ended by 0xBA, the message (the hash and its identifier) and the
// trailer 0xCC.

#include <string.h>

#include <morvane/err.h>
#include <morvane/rsa.h>

#include "rsa/internal.h"

namespace {

// Object numbers (NIDs) of the digests that X9.31 names.
constexpr int kNidSha1 = 64, kNidSha256 = 672, kNidSha384 = 673, kNidSha512 = 674;

}  // namespace

/* see morvane/rsa.h */
int RSA_padding_add_X931(unsigned char* to, int tlen, const unsigned char* from, int flen) {
  if (tlen > morvane::rsa::kMaxBlock) {
    RSAerr(RSA_F_RSA_PADDING_ADD_X931, RSA_R_MODULUS_TOO_LARGE);
    return -1;
  }
  if (flen < 0 || static_cast<long>(tlen) - flen - 2 < 0) {
    RSAerr(RSA_F_RSA_PADDING_ADD_X931, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE);
    return -1;
  }
  const int j = tlen - flen - 2;  // the padding bytes, header included
  unsigned char* p = to;
  if (j == 0) {
    *p++ = 0x6A;
  } else {
    *p++ = 0x6B;
    memset(p, 0xBB, static_cast<size_t>(j - 1));
    p += j - 1;
    *p++ = 0xBA;
  }
  if (flen > 0) memcpy(p, from, static_cast<size_t>(flen));
  p[flen] = 0xCC;
  return 1;
}

/* see morvane/rsa.h */
int RSA_padding_check_X931(unsigned char* to, int tlen, const unsigned char* from, int flen,
                           int num) {
  const int fn = RSA_F_RSA_PADDING_CHECK_X931;
  if (num != flen || flen < 2 || (from[0] != 0x6A && from[0] != 0x6B)) {
    RSAerr(fn, RSA_R_INVALID_HEADER);
    return -1;
  }
  const unsigned char* p = from + 1;
  int j = flen - 2;  // the message length for header 0x6A
  if (from[0] == 0x6B) {
    int i = 0;
    for (; i < flen - 3; i++) {
      if (p[i] == 0xBA) break;
      if (p[i] != 0xBB) {
        RSAerr(fn, RSA_R_INVALID_PADDING);
        return -1;
      }
    }
    if (i == 0 || i == flen - 3) {  // no 0xBB at all, or no 0xBA in reach
      RSAerr(fn, RSA_R_INVALID_PADDING);
      return -1;
    }
    p += i + 1;
    j = flen - 3 - i;
  }
  if (p[j] != 0xCC) {
    RSAerr(fn, RSA_R_INVALID_TRAILER);
    return -1;
  }
  if (j > tlen) {
    RSAerr(fn, RSA_R_DATA_TOO_LARGE);
    return -1;
  }
  if (j > 0) memcpy(to, p, static_cast<size_t>(j));
  return j;
}

/* see morvane/rsa.h */
int RSA_X931_hash_id(int nid) {
  switch (nid) {
    case kNidSha1:
      return 0x33;
    case kNidSha256:
      return 0x34;
    case kNidSha384:
      return 0x36;
    case kNidSha512:
      return 0x35;
  }
  return -1;
}
