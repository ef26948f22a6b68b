// The MPI form of a BIGNUM: a four-byte big-endian length, then the
// magnitude big-endian with the sign in the top bit of its first byte (a zero
// byte put in front when that bit is taken by the magnitude).

#include <stdint.h>

#include <morvane/bn.h>
#include <morvane/err.h>

/* see morvane/bn.h */
int BN_bn2mpi(const BIGNUM* a, unsigned char* d) {
  const int bits = BN_num_bits(a);
  const int num = (bits + 7) / 8;
  const int ext = (bits > 0 && bits % 8 == 0) ? 1 : 0;
  const int l = num + ext;
  if (d == nullptr) return l + 4;
  d[0] = static_cast<unsigned char>(l >> 24);
  d[1] = static_cast<unsigned char>(l >> 16);
  d[2] = static_cast<unsigned char>(l >> 8);
  d[3] = static_cast<unsigned char>(l);
  if (ext) d[4] = 0;
  BN_bn2bin(a, d + 4 + ext);
  if (a->neg && l > 0) d[4] |= 0x80;
  return l + 4;
}

BIGNUM* BN_mpi2bn(const unsigned char* d, int n, BIGNUM* a) {
  if (n < 4) {
    BNerr(BN_F_BN_MPI2BN, BN_R_INVALID_LENGTH);
    return nullptr;
  }
  const uint64_t len = (uint64_t{d[0]} << 24) | (uint64_t{d[1]} << 16) | (uint64_t{d[2]} << 8) | d[3];
  if (len + 4 != static_cast<uint64_t>(n)) {
    BNerr(BN_F_BN_MPI2BN, BN_R_ENCODING_ERROR);
    return nullptr;
  }
  BIGNUM* fresh = nullptr;
  if (a == nullptr && (a = fresh = BN_new()) == nullptr) return nullptr;
  if (len == 0) {
    a->top = 0;
    a->neg = 0;
    return a;
  }
  const bool neg = (d[4] & 0x80) != 0;
  if (BN_bin2bn(d + 4, static_cast<int>(len), a) == nullptr) {
    BN_free(fresh);
    return nullptr;
  }
  // The sign bit is the highest set bit of what was read; a value of zero
  // (00 00 00 01 80) stays non-negative.
  if (neg) BN_clear_bit(a, BN_num_bits(a) - 1);
  BN_set_negative(a, neg);
  return a;
}
