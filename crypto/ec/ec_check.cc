// The consistency check of a group, and the check of its cofactor that the
// key check and the parameter decoder share.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

namespace morvane::ec {

int cofactor_fits(const EC_GROUP* group, const BIGNUM* order, const BIGNUM* cofactor, BN_CTX* ctx) {
  if (BN_is_negative(cofactor) || BN_is_zero(cofactor)) return 0;
  if (BN_is_negative(order) || BN_is_zero(order)) return 1;  // nothing to weigh it against
  Scratch s(ctx);
  BIGNUM* q = s.get();
  BIGNUM* bound = s.get();
  BIGNUM* count = s.get();
  if (count == nullptr) return -1;
  // q: p, or 2^m for GF(2^m).
  if (EC_METHOD_get_field_type(EC_GROUP_method_of(group)) == kNidPrimeField) {
    if (!EC_GROUP_get_curve_GFp(group, q, nullptr, nullptr, s.ctx())) return -1;
  } else {
    BN_zero(q);
    if (!BN_set_bit(q, EC_GROUP_get_degree(group))) return -1;
  }
  // Hasse: |#E - (q + 1)| <= 2 sqrt(q) < 2^(ceil(bits(q) / 2) + 1), with
  // #E = h n.
  BN_zero(bound);
  if (!BN_set_bit(bound, (BN_num_bits(q) + 1) / 2 + 1) ||
      !BN_mul(count, cofactor, order, s.ctx()) || !BN_add_word(q, 1) || !BN_sub(count, count, q))
    return -1;
  return BN_ucmp(count, bound) < 0 ? 1 : 0;
}

int check_cofactor(const EC_GROUP* group, BN_CTX* ctx, int func) {
  if (BN_is_zero(&group->cofactor)) {
    ECERR(func, EC_R_UNDEFINED_COFACTOR);
    return 0;
  }
  const int fits = cofactor_fits(group, &group->order, &group->cofactor, ctx);
  if (fits == 0) ECERR(func, EC_R_INVALID_COFACTOR);
  if (fits < 0) ECERR(func, ERR_R_BN_LIB);
  return fits == 1 ? 1 : 0;
}

}  // namespace morvane::ec

/* see morvane/ec.h */
int EC_GROUP_check(const EC_GROUP* group, BN_CTX* ctx) {
  if (group == nullptr) {
    ECERR(EC_F_EC_GROUP_CHECK, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  morvane::ec::Scratch s(ctx);
  if (!s.ok()) {
    ECERR(EC_F_EC_GROUP_CHECK, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  // The discriminant of the curve must not be zero.
  if (!EC_GROUP_check_discriminant(group, s.ctx())) {
    ECERR(EC_F_EC_GROUP_CHECK, EC_R_DISCRIMINANT_IS_ZERO);
    return 0;
  }
  const EC_POINT* generator = EC_GROUP_get0_generator(group);
  if (generator == nullptr) {
    ECERR(EC_F_EC_GROUP_CHECK, EC_R_UNDEFINED_GENERATOR);
    return 0;
  }
  if (EC_POINT_is_at_infinity(group, generator)) {
    ECERR(EC_F_EC_GROUP_CHECK, EC_R_POINT_AT_INFINITY);
    return 0;
  }
  // A membership test that fails (-1) leaves its own errors.
  const int on = EC_POINT_is_on_curve(group, generator, s.ctx());
  if (on <= 0) {
    if (on == 0) ECERR(EC_F_EC_GROUP_CHECK, EC_R_POINT_IS_NOT_ON_CURVE);
    return 0;
  }
  // order * G must be the point at infinity.
  EC_POINT* point = EC_POINT_new(group);
  BIGNUM* order = s.get();
  int ok = point != nullptr && order != nullptr;
  if (ok) ok = BN_copy(order, &group->order) != nullptr;
  if (ok) {
    if (BN_is_zero(order)) {
      ECERR(EC_F_EC_GROUP_CHECK, EC_R_UNDEFINED_ORDER);
      ok = 0;
    }
  }
  if (ok) ok = EC_POINT_mul(group, point, order, nullptr, nullptr, s.ctx());
  if (ok && !EC_POINT_is_at_infinity(group, point)) {
    ECERR(EC_F_EC_GROUP_CHECK, EC_R_INVALID_GROUP_ORDER);
    ok = 0;
  }
  if (ok) ok = morvane::ec::check_cofactor(group, s.ctx(), EC_F_EC_GROUP_CHECK);
  EC_POINT_free(point);
  return ok;
}
