// Elliptic-curve points: creation, copying, and the entries that check their
// arguments and dispatch to the group's method; scalar multiplication.
//
// Implementation notes: every point entry checks, in this order, that the
// group and its points are given, that the method has the slot, and that
// each point was made for the group's method (pointer identity); only then
// does it call the slot and return what the slot returns.

#include <string.h>

#include <initializer_list>

#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"
#include "internal/wipe.h"

namespace {

// True when the group has the slot and every point shares its method; queues
// the error of `func` otherwise.
template <class Slot>
bool ready(const EC_GROUP* group, Slot ec_method_st::*slot, int func,
           std::initializer_list<const EC_POINT*> points) {
  if (group == nullptr) {
    ECERR(func, ERR_R_PASSED_NULL_PARAMETER);
    return false;
  }
  for (const EC_POINT* p : points) {
    if (p == nullptr) {
      ECERR(func, ERR_R_PASSED_NULL_PARAMETER);
      return false;
    }
  }
  if (group->meth->*slot == nullptr) {
    ECERR(func, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return false;
  }
  for (const EC_POINT* p : points) {
    if (p->meth != group->meth) {
      ECERR(func, EC_R_INCOMPATIBLE_OBJECTS);
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- life cycle ----------------------------------------------------------------

/* see morvane/ec.h */
EC_POINT* EC_POINT_new(const EC_GROUP* group) {
  if (group == nullptr) {
    ECERR(EC_F_EC_POINT_NEW, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (group->meth->point_init == nullptr) {
    ECERR(EC_F_EC_POINT_NEW, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return nullptr;
  }
  auto* point = static_cast<EC_POINT*>(MORVANE_malloc(sizeof(EC_POINT)));
  if (point == nullptr) {
    ECERR(EC_F_EC_POINT_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(point, 0, sizeof(*point));
  point->meth = group->meth;
  if (!point->meth->point_init(point)) {
    MORVANE_free(point);
    return nullptr;
  }
  return point;
}

/* see morvane/ec.h */
void EC_POINT_free(EC_POINT* point) {
  if (point == nullptr) return;
  if (point->meth->point_finish != nullptr) point->meth->point_finish(point);
  MORVANE_free(point);
}

/* see morvane/ec.h */
void EC_POINT_clear_free(EC_POINT* point) {
  if (point == nullptr) return;
  if (point->meth->point_clear_finish != nullptr)
    point->meth->point_clear_finish(point);
  else if (point->meth->point_finish != nullptr)
    point->meth->point_finish(point);
  morvane::internal::wipe(*point);
  MORVANE_free(point);
}

/* see morvane/ec.h */
int EC_POINT_copy(EC_POINT* dest, const EC_POINT* src) {
  if (dest == nullptr || src == nullptr) {
    ECERR(EC_F_EC_POINT_COPY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (dest->meth->point_copy == nullptr) {
    ECERR(EC_F_EC_POINT_COPY, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return 0;
  }
  if (dest->meth != src->meth) {
    ECERR(EC_F_EC_POINT_COPY, EC_R_INCOMPATIBLE_OBJECTS);
    return 0;
  }
  if (dest == src) return 1;
  return dest->meth->point_copy(dest, src);
}

/* see morvane/ec.h */
EC_POINT* EC_POINT_dup(const EC_POINT* a, const EC_GROUP* group) {
  if (a == nullptr) return nullptr;
  EC_POINT* t = EC_POINT_new(group);
  if (t == nullptr) return nullptr;
  if (!EC_POINT_copy(t, a)) {
    EC_POINT_free(t);
    return nullptr;
  }
  return t;
}

/* see morvane/ec.h */
const EC_METHOD* EC_POINT_method_of(const EC_POINT* point) {
  return point != nullptr ? point->meth : nullptr;
}

// ---- coordinates ---------------------------------------------------------------

/* see morvane/ec.h */
int EC_POINT_set_to_infinity(const EC_GROUP* group, EC_POINT* point) {
  if (!ready(group, &ec_method_st::point_set_to_infinity, EC_F_EC_POINT_SET_TO_INFINITY, {point}))
    return 0;
  return group->meth->point_set_to_infinity(group, point);
}

/* see morvane/ec.h */
int EC_POINT_set_Jprojective_coordinates_GFp(const EC_GROUP* group, EC_POINT* point,
                                             const BIGNUM* x, const BIGNUM* y, const BIGNUM* z,
                                             BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::point_set_Jprojective_coordinates_GFp,
             EC_F_EC_POINT_SET_JPROJECTIVE_COORDINATES_GFP, {point}))
    return 0;
  return group->meth->point_set_Jprojective_coordinates_GFp(group, point, x, y, z, ctx);
}

/* see morvane/ec.h */
int EC_POINT_get_Jprojective_coordinates_GFp(const EC_GROUP* group, const EC_POINT* point,
                                             BIGNUM* x, BIGNUM* y, BIGNUM* z, BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::point_get_Jprojective_coordinates_GFp,
             EC_F_EC_POINT_GET_JPROJECTIVE_COORDINATES_GFP, {point}))
    return 0;
  return group->meth->point_get_Jprojective_coordinates_GFp(group, point, x, y, z, ctx);
}

namespace {

int set_affine(const EC_GROUP* group, EC_POINT* point, const BIGNUM* x, const BIGNUM* y,
               BN_CTX* ctx, int func) {
  if (!ready(group, &ec_method_st::point_set_affine_coordinates, func, {point})) return 0;
  return group->meth->point_set_affine_coordinates(group, point, x, y, ctx);
}

int get_affine(const EC_GROUP* group, const EC_POINT* point, BIGNUM* x, BIGNUM* y, BN_CTX* ctx,
               int func) {
  if (!ready(group, &ec_method_st::point_get_affine_coordinates, func, {point})) return 0;
  return group->meth->point_get_affine_coordinates(group, point, x, y, ctx);
}

int set_compressed(const EC_GROUP* group, EC_POINT* point, const BIGNUM* x, int y_bit, BN_CTX* ctx,
                   int func) {
  if (!ready(group, &ec_method_st::point_set_compressed_coordinates, func, {point})) return 0;
  return group->meth->point_set_compressed_coordinates(group, point, x, y_bit, ctx);
}

}  // namespace

/* see morvane/ec.h */
int EC_POINT_set_affine_coordinates_GFp(const EC_GROUP* group, EC_POINT* point, const BIGNUM* x,
                                        const BIGNUM* y, BN_CTX* ctx) {
  return set_affine(group, point, x, y, ctx, EC_F_EC_POINT_SET_AFFINE_COORDINATES_GFP);
}

/* see morvane/ec.h */
int EC_POINT_set_affine_coordinates_GF2m(const EC_GROUP* group, EC_POINT* point, const BIGNUM* x,
                                         const BIGNUM* y, BN_CTX* ctx) {
  return set_affine(group, point, x, y, ctx, EC_F_EC_POINT_SET_AFFINE_COORDINATES_GF2M);
}

/* see morvane/ec.h */
int EC_POINT_get_affine_coordinates_GFp(const EC_GROUP* group, const EC_POINT* point, BIGNUM* x,
                                        BIGNUM* y, BN_CTX* ctx) {
  return get_affine(group, point, x, y, ctx, EC_F_EC_POINT_GET_AFFINE_COORDINATES_GFP);
}

/* see morvane/ec.h */
int EC_POINT_get_affine_coordinates_GF2m(const EC_GROUP* group, const EC_POINT* point, BIGNUM* x,
                                         BIGNUM* y, BN_CTX* ctx) {
  return get_affine(group, point, x, y, ctx, EC_F_EC_POINT_GET_AFFINE_COORDINATES_GF2M);
}

/* see morvane/ec.h */
int EC_POINT_set_compressed_coordinates_GFp(const EC_GROUP* group, EC_POINT* point, const BIGNUM* x,
                                            int y_bit, BN_CTX* ctx) {
  return set_compressed(group, point, x, y_bit, ctx, EC_F_EC_POINT_SET_COMPRESSED_COORDINATES_GFP);
}

/* see morvane/ec.h */
int EC_POINT_set_compressed_coordinates_GF2m(const EC_GROUP* group, EC_POINT* point,
                                             const BIGNUM* x, int y_bit, BN_CTX* ctx) {
  return set_compressed(group, point, x, y_bit, ctx, EC_F_EC_POINT_SET_COMPRESSED_COORDINATES_GF2M);
}

/* see morvane/ec.h */
size_t EC_POINT_point2oct(const EC_GROUP* group, const EC_POINT* point,
                          point_conversion_form_t form, unsigned char* buf, size_t len,
                          BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::point2oct, EC_F_EC_POINT_POINT2OCT, {point})) return 0;
  return group->meth->point2oct(group, point, form, buf, len, ctx);
}

/* see morvane/ec.h */
int EC_POINT_oct2point(const EC_GROUP* group, EC_POINT* point, const unsigned char* buf, size_t len,
                       BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::oct2point, EC_F_EC_POINT_OCT2POINT, {point})) return 0;
  if (buf == nullptr && len != 0) {
    ECERR(EC_F_EC_POINT_OCT2POINT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return group->meth->oct2point(group, point, buf, len, ctx);
}

// ---- arithmetic ----------------------------------------------------------------

/* see morvane/ec.h */
int EC_POINT_add(const EC_GROUP* group, EC_POINT* r, const EC_POINT* a, const EC_POINT* b,
                 BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::add, EC_F_EC_POINT_ADD, {r, a, b})) return 0;
  return group->meth->add(group, r, a, b, ctx);
}

/* see morvane/ec.h */
int EC_POINT_dbl(const EC_GROUP* group, EC_POINT* r, const EC_POINT* a, BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::dbl, EC_F_EC_POINT_DBL, {r, a})) return 0;
  return group->meth->dbl(group, r, a, ctx);
}

/* see morvane/ec.h */
int EC_POINT_invert(const EC_GROUP* group, EC_POINT* a, BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::invert, EC_F_EC_POINT_INVERT, {a})) return 0;
  return group->meth->invert(group, a, ctx);
}

/* see morvane/ec.h */
int EC_POINT_is_at_infinity(const EC_GROUP* group, const EC_POINT* point) {
  if (!ready(group, &ec_method_st::is_at_infinity, EC_F_EC_POINT_IS_AT_INFINITY, {point})) return 0;
  return group->meth->is_at_infinity(group, point);
}

// is_on_curve and cmp answer -1 when they cannot answer: 0 would claim a
// result ("not on the curve", "equal") that was never computed.

/* see morvane/ec.h */
int EC_POINT_is_on_curve(const EC_GROUP* group, const EC_POINT* point, BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::is_on_curve, EC_F_EC_POINT_IS_ON_CURVE, {point})) return -1;
  return group->meth->is_on_curve(group, point, ctx);
}

/* see morvane/ec.h */
int EC_POINT_cmp(const EC_GROUP* group, const EC_POINT* a, const EC_POINT* b, BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::point_cmp, EC_F_EC_POINT_CMP, {a, b})) return -1;
  return group->meth->point_cmp(group, a, b, ctx);
}

/* see morvane/ec.h */
int EC_POINT_make_affine(const EC_GROUP* group, EC_POINT* point, BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::make_affine, EC_F_EC_POINT_MAKE_AFFINE, {point})) return 0;
  return group->meth->make_affine(group, point, ctx);
}

/* see morvane/ec.h */
int EC_POINTs_make_affine(const EC_GROUP* group, size_t num, EC_POINT* points[], BN_CTX* ctx) {
  if (!ready(group, &ec_method_st::points_make_affine, EC_F_EC_POINTS_MAKE_AFFINE, {})) return 0;
  if (num != 0 && points == nullptr) {
    ECERR(EC_F_EC_POINTS_MAKE_AFFINE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  for (size_t i = 0; i < num; i++) {
    if (!ready(group, &ec_method_st::points_make_affine, EC_F_EC_POINTS_MAKE_AFFINE, {points[i]}))
      return 0;
  }
  return group->meth->points_make_affine(group, num, points, ctx);
}

// ---- multiplication --------------------------------------------------------------

/* see morvane/ec.h */
int EC_POINTs_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
                  const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx) {
  if (group == nullptr || r == nullptr || (num != 0 && (points == nullptr || scalars == nullptr))) {
    ECERR(EC_F_EC_POINTS_MUL, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (group->meth->mul != nullptr)
    return group->meth->mul(group, r, scalar, num, points, scalars, ctx);
  // One term, whose scalar may be secret: the constant-time engine.  Two or
  // more terms (verification: public scalars): a generator term and one point
  // term on the engine's limbs, more terms through the windowed NAFs.  The
  // engine's formulas are exact on curves without a point of order 2; on the
  // others one term is split into parts of odd and 2-power order
  // (ecp_torsion.cc) and two terms take the windowed NAFs.
  if (r->meth != group->meth) return ec_wNAF_mul(group, r, scalar, num, points, scalars, ctx);
  const bool one = morvane::ec::ct_mul_applies(group, scalar, num, points, scalars);
  if (one || morvane::ec::mul2_applies(group, scalar, num, points, scalars)) {
    const int even = morvane::ec::has_order_two_point(group, ctx);
    if (even < 0) return 0;
    if (one)
      return even == 0 ? morvane::ec::ct_mul(group, r, scalar, num, points, scalars, ctx)
                       : morvane::ec::torsion_mul(group, r, scalar, num, points, scalars, ctx);
    if (even == 0) return morvane::ec::mul2(group, r, scalar, points[0], scalars[0], ctx);
  }
  return ec_wNAF_mul(group, r, scalar, num, points, scalars, ctx);
}

/* see morvane/ec.h */
int EC_POINT_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* g_scalar, const EC_POINT* point,
                 const BIGNUM* p_scalar, BN_CTX* ctx) {
  const EC_POINT* points[1] = {point};
  const BIGNUM* scalars[1] = {p_scalar};
  const size_t num = point != nullptr && p_scalar != nullptr ? 1 : 0;
  return EC_POINTs_mul(group, r, g_scalar, num, points, scalars, ctx);
}

/* see morvane/ec.h */
int EC_GROUP_precompute_mult(EC_GROUP* group, BN_CTX* ctx) {
  if (group == nullptr) {
    ECERR(EC_F_EC_GROUP_PRECOMPUTE_MULT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (group->meth->mul == nullptr) return ec_wNAF_precompute_mult(group, ctx);
  if (group->meth->precompute_mult != nullptr) return group->meth->precompute_mult(group, ctx);
  return 1;  // nothing to precompute
}

/* see morvane/ec.h */
int EC_GROUP_have_precompute_mult(const EC_GROUP* group) {
  if (group == nullptr) return 0;
  if (group->meth->mul == nullptr) return ec_wNAF_have_precompute_mult(group);
  if (group->meth->have_precompute_mult != nullptr) return group->meth->have_precompute_mult(group);
  return 0;
}
