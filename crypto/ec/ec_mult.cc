// The default scalar multiplication of the curve methods: r = k G + the sum
// of k_i P_i.
//
// Implementation notes: this is plain left-to-right double-and-add over the
// exported point operations, one term after the other.  Its running time
// follows the bits of the scalars, so it must not see secret scalars; the
// windowed multiplication and a constant-time engine replace it.  No
// precomputation is kept: precompute_mult stores nothing.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

using morvane::ec::AnyCtx;

namespace {

// acc += |k| * p, negated for a negative k; tmp is scratch.
int add_multiple(const EC_GROUP* group, EC_POINT* acc, EC_POINT* tmp, const EC_POINT* p,
                 const BIGNUM* k, BN_CTX* ctx) {
  if (!EC_POINT_set_to_infinity(group, tmp)) return 0;
  for (int i = BN_num_bits(k) - 1; i >= 0; i--) {
    if (!EC_POINT_dbl(group, tmp, tmp, ctx)) return 0;
    if (BN_is_bit_set(k, i) && !EC_POINT_add(group, tmp, tmp, p, ctx)) return 0;
  }
  if (BN_is_negative(k) && !EC_POINT_invert(group, tmp, ctx)) return 0;
  return EC_POINT_add(group, acc, acc, tmp, ctx);
}

}  // namespace

/* see morvane/ec.h */
int ec_wNAF_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
                const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx) {
  if (group->meth != r->meth) {
    ECERR(EC_F_EC_WNAF_MUL, EC_R_INCOMPATIBLE_OBJECTS);
    return 0;
  }
  if (scalar == nullptr && num == 0) return EC_POINT_set_to_infinity(group, r);
  for (size_t i = 0; i < num; i++) {
    if (points[i] == nullptr || scalars[i] == nullptr) {
      ECERR(EC_F_EC_WNAF_MUL, ERR_R_PASSED_NULL_PARAMETER);
      return 0;
    }
    if (group->meth != points[i]->meth) {
      ECERR(EC_F_EC_WNAF_MUL, EC_R_INCOMPATIBLE_OBJECTS);
      return 0;
    }
  }
  AnyCtx c(ctx);
  if (!c.ok()) return 0;
  const EC_POINT* generator = nullptr;
  if (scalar != nullptr) {
    generator = EC_GROUP_get0_generator(group);
    if (generator == nullptr) {
      ECERR(EC_F_EC_WNAF_MUL, EC_R_UNDEFINED_GENERATOR);
      return 0;
    }
  }
  // The sum grows in acc, so that r may be one of the points.
  EC_POINT* acc = EC_POINT_new(group);
  EC_POINT* tmp = EC_POINT_new(group);
  int ok = acc != nullptr && tmp != nullptr && EC_POINT_set_to_infinity(group, acc);
  if (ok && scalar != nullptr) ok = add_multiple(group, acc, tmp, generator, scalar, c.get());
  for (size_t i = 0; ok && i < num; i++)
    ok = add_multiple(group, acc, tmp, points[i], scalars[i], c.get());
  if (ok) ok = EC_POINT_copy(r, acc);
  EC_POINT_clear_free(acc);
  EC_POINT_clear_free(tmp);
  return ok;
}

/* see morvane/ec.h */
int ec_wNAF_precompute_mult(EC_GROUP* /*group*/, BN_CTX* /*ctx*/) {
  return 1;
}

/* see morvane/ec.h */
int ec_wNAF_have_precompute_mult(const EC_GROUP* /*group*/) {
  return 0;
}
