// PKCS#1 v1.5 paddings (RFC 8017, 7.2 and 8.2): block type 1 for signatures,
// block type 2 for encryption, and the constant-time message copy that the
// type 2, SSLv23 and OAEP checks share.
//
// Implementation notes: the type 1 check works on public data (signatures)
// and reads the bytes as the standard describes.  The type 2 check reads a
// block of the full modulus length: every byte is visited whatever the
// values, the tests are masks, and the message is moved to the front of the
// block by a shift whose steps depend only on the length before it is copied.

#include <stdint.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include "internal/ct.h"
#include "rsa/internal.h"

namespace ct = morvane::ct;

namespace morvane::rsa {

void copy_message(unsigned char* to, int tlen, uint8_t* em, int num, unsigned from_first,
                  int first_min, unsigned good) {
  if (first_min >= num || tlen <= 0) return;
  uint8_t* msg = em + first_min;
  const unsigned len = static_cast<unsigned>(num - first_min);
  const unsigned shift = from_first - static_cast<unsigned>(first_min);
  // msg[i] = msg[i + shift], one power of two at a time.
  for (unsigned bit = 0, step = 1; step < len; bit++, step <<= 1) {
    const unsigned take = ct::bit_mask((shift >> bit) & 1);
    for (unsigned i = 0; i < len; i++) {
      const uint8_t next = i + step < len ? msg[i + step] : 0;
      msg[i] = static_cast<uint8_t>(ct::select<unsigned>(take, next, msg[i]));
    }
  }
  const unsigned msg_len = static_cast<unsigned>(num) - from_first;
  const unsigned n = static_cast<unsigned>(tlen) < len ? static_cast<unsigned>(tlen) : len;
  for (unsigned i = 0; i < n; i++) {
    const unsigned put = good & ct::lt_mask(i, msg_len);
    to[i] = static_cast<unsigned char>(ct::select<unsigned>(put, msg[i], to[i]));
  }
}

Type2Scan scan_type_2(const uint8_t* em, int num) {
  Type2Scan s{ct::eq_mask<unsigned>(em[0], 0) & ct::eq_mask<unsigned>(em[1], 2), 0, 0, 0};
  unsigned run = 0;  // 0x03 bytes just before em[i]
  for (int i = 2; i < num; i++) {
    const unsigned is_zero = ct::zero_mask<unsigned>(em[i]);
    const unsigned first = is_zero & ~s.found;
    s.zero_at = ct::select(first, static_cast<unsigned>(i), s.zero_at);
    s.threes = ct::select(first, run, s.threes);
    s.found |= is_zero;
    run = ct::select(ct::eq_mask<unsigned>(em[i], 3), run + 1, 0u);
  }
  return s;
}

unsigned too_long(int tlen, unsigned msg_len) {
  return tlen < 0 ? ~0u : ct::lt_mask(static_cast<unsigned>(tlen), msg_len);
}

int finish_check(unsigned char* to, int tlen, uint8_t* em, int num, unsigned from_first,
                 int first_min, unsigned good, unsigned reason, unsigned msg_len, int func) {
  copy_message(to, tlen, em, num, from_first, first_min, good);
  if (!reveal(good)) {
    RSAerr(func, static_cast<int>(reveal(reason)));
    return -1;
  }
  return static_cast<int>(reveal(msg_len));
}

bool add_fits(int flen, int tlen, int overhead, int func) {
  if (tlen > kMaxBlock) {
    RSAerr(func, RSA_R_MODULUS_TOO_LARGE);
    return false;
  }
  if (flen < 0) {
    RSAerr(func, RSA_R_DATA_TOO_SMALL_FOR_KEY_SIZE);
    return false;
  }
  if (flen > static_cast<long>(tlen) - overhead) {
    RSAerr(func, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE);
    return false;
  }
  return true;
}

int check_type_2_block(unsigned char* to, int tlen, uint8_t* em, int num, int func) {
  if (num < 2) {
    RSAerr(func, RSA_R_BLOCK_TYPE_IS_NOT_02);
    return -1;
  }
  const Type2Scan s = scan_type_2(em, num);
  const unsigned pad_ok = ~ct::lt_mask(s.zero_at, 10u);  // at least 8 padding bytes
  const unsigned msg_len = static_cast<unsigned>(num) - 1 - s.zero_at;
  const unsigned too_large = too_long(tlen, msg_len);
  unsigned reason = ct::select(too_large, unsigned{RSA_R_DATA_TOO_LARGE}, 0u);
  reason = ct::select(pad_ok, reason, unsigned{RSA_R_BAD_PAD_BYTE_COUNT});
  reason = ct::select(s.found, reason, unsigned{RSA_R_NULL_BEFORE_BLOCK_MISSING});
  reason = ct::select(s.type_ok, reason, unsigned{RSA_R_BLOCK_TYPE_IS_NOT_02});
  const unsigned good = s.type_ok & s.found & pad_ok & ~too_large;
  return finish_check(to, tlen, em, num, s.zero_at + 1, RSA_PKCS1_PADDING_SIZE, good, reason,
                      msg_len, func);
}

}  // namespace morvane::rsa

using namespace morvane::rsa;

/* see morvane/rsa.h */
int RSA_padding_add_PKCS1_type_1(unsigned char* to, int tlen, const unsigned char* from, int flen) {
  if (!add_fits(flen, tlen, RSA_PKCS1_PADDING_SIZE, RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_1)) return 0;
  const int pad = tlen - 3 - flen;
  to[0] = 0x00;
  to[1] = 0x01;
  memset(to + 2, 0xFF, static_cast<size_t>(pad));
  to[2 + pad] = 0x00;
  if (flen > 0) memcpy(to + 3 + pad, from, static_cast<size_t>(flen));
  return 1;
}

/* see morvane/rsa.h */
int RSA_padding_check_PKCS1_type_1(unsigned char* to, int tlen, const unsigned char* from, int flen,
                                   int num) {
  const int fn = RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_1;
  if (flen < 1 || static_cast<long>(num) != static_cast<long>(flen) + 1 || from[0] != 0x01) {
    RSAerr(fn, RSA_R_BLOCK_TYPE_IS_NOT_01);
    return -1;
  }
  int i = 1, ff = 0;  // from[i] is the byte looked at; ff the 0xFF bytes before it
  for (; i < flen && from[i] != 0x00; i++, ff++) {
    if (from[i] != 0xFF) {
      RSAerr(fn, RSA_R_BAD_FIXED_HEADER_DECRYPT);
      return -1;
    }
  }
  if (i == flen) {
    RSAerr(fn, RSA_R_NULL_BEFORE_BLOCK_MISSING);
    return -1;
  }
  if (ff < 8) {
    RSAerr(fn, RSA_R_BAD_PAD_BYTE_COUNT);
    return -1;
  }
  const int j = flen - 1 - (ff + 1);
  if (j > tlen) {
    RSAerr(fn, RSA_R_DATA_TOO_LARGE);
    return -1;
  }
  if (j > 0) memcpy(to, from + i + 1, static_cast<size_t>(j));
  return j;
}

namespace morvane::rsa {

bool random_nonzero(unsigned char* p, int n) {
  if (n <= 0) return true;
  if (RAND_bytes(p, n) <= 0) return false;
  for (int i = 0; i < n; i++) {
    while (p[i] == 0) {
      if (RAND_bytes(p + i, 1) <= 0) return false;
    }
  }
  return true;
}

}  // namespace morvane::rsa

/* see morvane/rsa.h */
int RSA_padding_add_PKCS1_type_2(unsigned char* to, int tlen, const unsigned char* from, int flen) {
  if (!add_fits(flen, tlen, RSA_PKCS1_PADDING_SIZE, RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_2)) return 0;
  const int pad = tlen - 3 - flen;
  to[0] = 0x00;
  to[1] = 0x02;
  if (!random_nonzero(to + 2, pad)) return 0;
  to[2 + pad] = 0x00;
  if (flen > 0) memcpy(to + 3 + pad, from, static_cast<size_t>(flen));
  return 1;
}

/* see morvane/rsa.h */
int RSA_padding_check_PKCS1_type_2(unsigned char* to, int tlen, const unsigned char* from, int flen,
                                   int num) {
  const int fn = RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_2;
  return over_block(from, flen, num, fn, RSA_R_BLOCK_TYPE_IS_NOT_02,
                    [&](uint8_t* em) { return check_type_2_block(to, tlen, em, num, fn); });
}
