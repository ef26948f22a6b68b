// The consistency check of a group.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

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
  EC_POINT_free(point);
  return ok;
}
