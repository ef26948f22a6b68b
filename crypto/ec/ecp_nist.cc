// The NIST method over GF(p): the simple method's algorithms on plain
// residues, with products and squares reduced by the fast reduction of one of
// the five NIST primes (FIPS 186-2, appendix 6) instead of a division.
//
// Implementation notes: the group keeps its reduction function in
// field_mod_func, chosen when the curve is set; a prime that is not one of
// the five is refused there.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

namespace {

constinit const EC_METHOD kNistMethod = morvane::ec::gfp_method({
    ec_GFp_simple_group_init, ec_GFp_simple_group_finish, ec_GFp_simple_group_clear_finish,
    ec_GFp_nist_group_copy, ec_GFp_nist_group_set_curve, ec_GFp_nist_field_mul,
    ec_GFp_nist_field_sqr,
    nullptr,  // field_encode: plain residues
    nullptr,  // field_decode
    nullptr,  // field_set_to_one
});

using ModFunc = int (*)(BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*);

// The five primes with their reductions, in the order they are tried.
struct NistPrime {
  const BIGNUM* (*prime)(void);
  ModFunc mod;
};
constexpr NistPrime kNistPrimes[] = {
    {BN_get0_nist_prime_192, BN_nist_mod_192}, {BN_get0_nist_prime_224, BN_nist_mod_224},
    {BN_get0_nist_prime_256, BN_nist_mod_256}, {BN_get0_nist_prime_384, BN_nist_mod_384},
    {BN_get0_nist_prime_521, BN_nist_mod_521},
};

}  // namespace

bool morvane::ec::nist_prime(const BIGNUM* p, ModFunc* mod) noexcept {
  for (const NistPrime& n : kNistPrimes) {
    if (BN_ucmp(n.prime(), p) == 0) {
      if (mod != nullptr) *mod = n.mod;
      return true;
    }
  }
  return false;
}

/* see morvane/ec.h */
const EC_METHOD* EC_GFp_nist_method(void) {
  return &kNistMethod;
}

/* see morvane/ec.h */
int ec_GFp_nist_group_copy(EC_GROUP* dest, const EC_GROUP* src) {
  dest->field_mod_func = src->field_mod_func;
  return ec_GFp_simple_group_copy(dest, src);
}

/* see morvane/ec.h */
int ec_GFp_nist_group_set_curve(EC_GROUP* group, const BIGNUM* p, const BIGNUM* a, const BIGNUM* b,
                                BN_CTX* ctx) {
  if (p == nullptr) {
    ECERR(EC_F_EC_GFP_NIST_GROUP_SET_CURVE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  ModFunc mod = nullptr;
  if (!morvane::ec::nist_prime(p, &mod)) {
    ECERR(EC_F_EC_GFP_NIST_GROUP_SET_CURVE, EC_R_NOT_A_NIST_PRIME);
    return 0;
  }
  group->field_mod_func = mod;
  return ec_GFp_simple_group_set_curve(group, p, a, b, ctx);
}

/* see morvane/ec.h */
int ec_GFp_nist_field_mul(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                          BN_CTX* ctx) {
  if (group == nullptr || r == nullptr || a == nullptr || b == nullptr) {
    ECERR(EC_F_EC_GFP_NIST_FIELD_MUL, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (group->field_mod_func == nullptr) {
    ECERR(EC_F_EC_GFP_NIST_FIELD_MUL, EC_R_NO_FIELD_MOD);
    return 0;
  }
  morvane::ec::AnyCtx c(ctx);
  return c.ok() && BN_mul(r, a, b, c.get()) && group->field_mod_func(r, r, &group->field, c.get());
}

/* see morvane/ec.h */
int ec_GFp_nist_field_sqr(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  if (group == nullptr || r == nullptr || a == nullptr) {
    ECERR(EC_F_EC_GFP_NIST_FIELD_SQR, EC_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (group->field_mod_func == nullptr) {
    ECERR(EC_F_EC_GFP_NIST_FIELD_SQR, EC_R_NO_FIELD_MOD);
    return 0;
  }
  morvane::ec::AnyCtx c(ctx);
  return c.ok() && BN_sqr(r, a, c.get()) && group->field_mod_func(r, r, &group->field, c.get());
}
