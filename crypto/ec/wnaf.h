// Windowed non-adjacent forms and the stored multiples of the generator.
//
// compute_wNAF is inline here, on exported big-number calls only, so that
// the internal tests can run it against the shared library.
#ifndef MORVANE_CRYPTO_EC_WNAF_H
#define MORVANE_CRYPTO_EC_WNAF_H

#include <stddef.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

// The precomputation kept on a group's extra data: block b (from 0) holds at
// b * 2^(w-1) .. (b+1) * 2^(w-1) - 1 the odd multiples 1 B, 3 B, ...,
// (2^w - 1) B of B = 2^(8 b) G, all affine.
struct ec_pre_comp_st {
  const EC_GROUP* group;  // not owned
  size_t blocksize;       // wNAF digits per block: 8
  size_t numblocks;
  size_t w;
  EC_POINT** points;  // num + 1 entries, the last null
  size_t num;         // numblocks * 2^(w-1)
  int references;     // under CRYPTO_LOCK_EC_PRE_COMP
};
typedef struct ec_pre_comp_st EC_PRE_COMP;

namespace morvane::ec {

// The triple under which the record sits on the group's extra data.
void* ec_pre_comp_dup(void* record);
void ec_pre_comp_free(void* record);
void ec_pre_comp_clear_free(void* record);

// The window width for a scalar of `bits` bits.
constexpr size_t wnaf_window_bits(size_t bits) {
  return bits >= 2000 ? 6 : bits >= 800 ? 5 : bits >= 300 ? 4 : bits >= 70 ? 3 : bits >= 20 ? 2 : 1;
}

// The width-w NAF of `scalar`, least significant digit first: every digit 0
// or odd with |digit| < 2^w, and scalar = sum digit[j] 2^j.  The array is
// the caller's (MORVANE_free); null, with the error queued, on failure.
inline signed char* compute_wNAF(const BIGNUM* scalar, int w, size_t* ret_len) {
  if (BN_is_zero(scalar)) {
    auto* r = static_cast<signed char*>(MORVANE_malloc(1));
    if (r == nullptr) {
      ECERR(EC_F_COMPUTE_WNAF, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    r[0] = 0;
    *ret_len = 1;
    return r;
  }
  if (w <= 0 || w > 7) {  // a digit must fit in a signed char
    ECERR(EC_F_COMPUTE_WNAF, ERR_R_INTERNAL_ERROR);
    return nullptr;
  }
  const int bit = 1 << w;
  const int next = bit << 1;
  const int mask = next - 1;
  const int sign = BN_is_negative(scalar) ? -1 : 1;
  const size_t len = static_cast<size_t>(BN_num_bits(scalar));
  auto* r = static_cast<signed char*>(MORVANE_malloc(len + 1));
  if (r == nullptr) {
    ECERR(EC_F_COMPUTE_WNAF, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  int window = 0;
  for (int i = 0; i <= w; i++)
    if (BN_is_bit_set(scalar, i)) window |= 1 << i;
  size_t j = 0;
  while (window != 0 || j + static_cast<size_t>(w) + 1 < len) {
    int digit = 0;
    if (window & 1) {
      if (window & bit) {
        digit = window - next;
        if (j + static_cast<size_t>(w) + 1 >= len) digit = window & (mask >> 1);
      } else {
        digit = window;
      }
      if (digit <= -bit || digit >= bit || !(digit & 1)) goto err;
      window -= digit;
      if (window != 0 && window != next && window != bit) goto err;
    }
    if (j > len) goto err;  // more digits than room
    r[j++] = static_cast<signed char>(sign * digit);
    window >>= 1;
    if (BN_is_bit_set(scalar, static_cast<int>(j) + w)) window += bit;
    if (window > next) goto err;
  }
  if (j > len + 1) goto err;
  *ret_len = j;
  return r;
err:
  ECERR(EC_F_COMPUTE_WNAF, ERR_R_INTERNAL_ERROR);
  MORVANE_free(r);
  return nullptr;
}

}  // namespace morvane::ec

#endif  // MORVANE_CRYPTO_EC_WNAF_H
