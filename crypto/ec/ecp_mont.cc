// The Montgomery method over GF(p): the simple method's algorithms with
// every field element in Montgomery form (a R mod p), products by
// Montgomery multiplication.
//
// Implementation notes: the group keeps the BN_MONT_CTX of p in field_data1
// and one in Montgomery form (R mod p) in field_data2, both made when the
// curve is set.  Encoding is a Montgomery multiplication by R^2, decoding a
// Montgomery reduction.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

using morvane::ec::AnyCtx;

namespace {

constinit const EC_METHOD kMontMethod = morvane::ec::gfp_method({
    ec_GFp_mont_group_init,
    ec_GFp_mont_group_finish,
    ec_GFp_mont_group_clear_finish,
    ec_GFp_mont_group_copy,
    ec_GFp_mont_group_set_curve,
    ec_GFp_mont_field_mul,
    ec_GFp_mont_field_sqr,
    ec_GFp_mont_field_encode,
    ec_GFp_mont_field_decode,
    ec_GFp_mont_field_set_to_one,
});

BN_MONT_CTX* mont_of(const EC_GROUP* group) {
  return static_cast<BN_MONT_CTX*>(group->field_data1);
}
BIGNUM* one_of(const EC_GROUP* group) {
  return static_cast<BIGNUM*>(group->field_data2);
}

// Releases the context and the one (wiping the one when `clear`).
void drop_field_data(EC_GROUP* group, bool clear) {
  BN_MONT_CTX_free(mont_of(group));
  if (clear)
    BN_clear_free(one_of(group));
  else
    BN_free(one_of(group));
  group->field_data1 = nullptr;
  group->field_data2 = nullptr;
}

}  // namespace

/* see morvane/ec.h */
const EC_METHOD* EC_GFp_mont_method(void) {
  return &kMontMethod;
}

/* see morvane/ec.h */
int ec_GFp_mont_group_init(EC_GROUP* group) {
  const int ok = ec_GFp_simple_group_init(group);
  group->field_data1 = nullptr;
  group->field_data2 = nullptr;
  return ok;
}

/* see morvane/ec.h */
void ec_GFp_mont_group_finish(EC_GROUP* group) {
  drop_field_data(group, false);
  ec_GFp_simple_group_finish(group);
}

/* see morvane/ec.h */
void ec_GFp_mont_group_clear_finish(EC_GROUP* group) {
  drop_field_data(group, true);
  ec_GFp_simple_group_clear_finish(group);
}

/* see morvane/ec.h */
int ec_GFp_mont_group_copy(EC_GROUP* dest, const EC_GROUP* src) {
  drop_field_data(dest, true);
  if (!ec_GFp_simple_group_copy(dest, src)) return 0;
  if (src->field_data1 != nullptr) {
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    if (mont == nullptr) return 0;
    dest->field_data1 = mont;
    if (BN_MONT_CTX_copy(mont, mont_of(src)) == nullptr) {
      drop_field_data(dest, true);
      return 0;
    }
  }
  if (src->field_data2 != nullptr) {
    dest->field_data2 = BN_dup(one_of(src));
    if (dest->field_data2 == nullptr) {
      drop_field_data(dest, true);
      return 0;
    }
  }
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_mont_group_set_curve(EC_GROUP* group, const BIGNUM* p, const BIGNUM* a, const BIGNUM* b,
                                BN_CTX* ctx) {
  drop_field_data(group, true);
  // A modulus the simple method would refuse gets its reason rather than
  // the Montgomery context's.
  if (p == nullptr || a == nullptr || b == nullptr || BN_num_bits(p) <= 2 || !BN_is_odd(p))
    return ec_GFp_simple_group_set_curve(group, p, a, b, ctx);
  AnyCtx c(ctx);
  if (!c.ok()) return 0;
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  if (mont == nullptr) return 0;
  if (!BN_MONT_CTX_set(mont, p, c.get())) {
    ECERR(EC_F_EC_GFP_MONT_GROUP_SET_CURVE, ERR_R_BN_LIB);
    BN_MONT_CTX_free(mont);
    return 0;
  }
  BIGNUM* one = BN_new();
  if (one == nullptr || !BN_to_montgomery(one, BN_value_one(), mont, c.get())) {
    BN_free(one);
    BN_MONT_CTX_free(mont);
    return 0;
  }
  group->field_data1 = mont;
  group->field_data2 = one;
  if (!ec_GFp_simple_group_set_curve(group, p, a, b, c.get())) {
    drop_field_data(group, true);
    return 0;
  }
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_mont_field_mul(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                          BN_CTX* ctx) {
  if (group->field_data1 == nullptr) {
    ECERR(EC_F_EC_GFP_MONT_FIELD_MUL, EC_R_NOT_INITIALIZED);
    return 0;
  }
  AnyCtx c(ctx);
  return c.ok() && BN_mod_mul_montgomery(r, a, b, mont_of(group), c.get());
}

/* see morvane/ec.h */
int ec_GFp_mont_field_sqr(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  if (group->field_data1 == nullptr) {
    ECERR(EC_F_EC_GFP_MONT_FIELD_SQR, EC_R_NOT_INITIALIZED);
    return 0;
  }
  AnyCtx c(ctx);
  return c.ok() && BN_mod_mul_montgomery(r, a, a, mont_of(group), c.get());
}

/* see morvane/ec.h */
int ec_GFp_mont_field_encode(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  if (group->field_data1 == nullptr) {
    ECERR(EC_F_EC_GFP_MONT_FIELD_ENCODE, EC_R_NOT_INITIALIZED);
    return 0;
  }
  AnyCtx c(ctx);
  return c.ok() && BN_to_montgomery(r, a, mont_of(group), c.get());
}

/* see morvane/ec.h */
int ec_GFp_mont_field_decode(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  if (group->field_data1 == nullptr) {
    ECERR(EC_F_EC_GFP_MONT_FIELD_DECODE, EC_R_NOT_INITIALIZED);
    return 0;
  }
  AnyCtx c(ctx);
  return c.ok() && BN_from_montgomery(r, a, mont_of(group), c.get());
}

/* see morvane/ec.h */
int ec_GFp_mont_field_set_to_one(const EC_GROUP* group, BIGNUM* r, BN_CTX* /*ctx*/) {
  if (group->field_data2 == nullptr) {
    ECERR(EC_F_EC_GFP_MONT_FIELD_SET_TO_ONE, EC_R_NOT_INITIALIZED);
    return 0;
  }
  return BN_copy(r, one_of(group)) != nullptr;
}
