// Checks of Diffie-Hellman parameters and public values.  They report
// through their codes; the only reason they queue is a modulus too large
// to be checked.

#include <morvane/bn.h>
#include <morvane/dh.h>
#include <morvane/err.h>

/* see morvane/dh.h */
int DH_check(const DH* dh, int* codes) {
  *codes = 0;
  if (dh->p == nullptr || dh->g == nullptr) return 0;
  // The primality tests grow with the cube of p's size: parameters from a
  // file could hold the caller for minutes.  Keys refuse such a p anyway.
  if (BN_num_bits(dh->p) > DH_MAX_MODULUS_BITS) {
    DHerr(DH_F_DH_CHECK, DH_R_MODULUS_TOO_LARGE);
    return 0;
  }
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) return 0;
  BN_CTX_start(ctx);
  BIGNUM* half = BN_CTX_get(ctx);
  int ok = 0;
  if (half != nullptr) {
    // The residues for which 2 and 5 generate the subgroup of quadratic
    // residues (or all of it): 2 needs p = 11 mod 24, 5 p = 3 or 7 mod 10.
    if (BN_is_word(dh->g, DH_GENERATOR_2)) {
      if (BN_mod_word(dh->p, 24) != 11) *codes |= DH_CODE_G_UNSUITABLE;
    } else if (BN_is_word(dh->g, DH_GENERATOR_5)) {
      const BN_ULONG r = BN_mod_word(dh->p, 10);
      if (r != 3 && r != 7) *codes |= DH_CODE_G_UNSUITABLE;
    } else {
      *codes |= DH_CODE_G_UNCHECKED;
    }
    const int prime = BN_is_prime_ex(dh->p, BN_prime_checks, ctx, nullptr);
    if (prime < 0) {
      *codes = 0;
    } else if (prime == 0) {
      *codes |= DH_CODE_P_NOT_PRIME;
      ok = 1;
    } else if (BN_rshift1(half, dh->p)) {
      const int safe = BN_is_prime_ex(half, BN_prime_checks, ctx, nullptr);
      if (safe >= 0) {
        if (safe == 0) *codes |= DH_CODE_P_NOT_SAFE;
        ok = 1;
      }
    }
  }
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ok;
}

/* see morvane/dh.h */
int DH_check_pub_key(const DH* dh, const BIGNUM* pub_key, int* codes) {
  *codes = 0;
  if (dh->p == nullptr) return 0;
  BIGNUM* limit = BN_new();
  if (limit == nullptr) return 0;
  if (BN_cmp(pub_key, BN_value_one()) <= 0) *codes |= DH_CODE_PUB_TOO_SMALL;
  int ok = 0;
  if (BN_copy(limit, dh->p) != nullptr && BN_sub_word(limit, 1)) {
    if (BN_cmp(pub_key, limit) >= 0) *codes |= DH_CODE_PUB_TOO_LARGE;
    ok = 1;
  }
  BN_free(limit);
  return ok;
}
