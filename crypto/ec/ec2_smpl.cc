// The curve method over GF(2^m): curves y^2 + x y = x^3 + a x^2 + b in
// polynomial basis, with the field arithmetic of BN_GF2m_*.
//
// Implementation notes: the reduction polynomial is kept twice, as a number
// (`field`, its set bits the exponents) and as its exponent list (`poly`,
// m first, ending with 0); only trinomials and pentanomials are accepted.
// Points are affine (Z = 1) or the point at infinity (Z = 0): addition and
// doubling use the affine formulas (IEEE 1363-2000, A.10.2), and every
// operation leaves one of those two kinds.  Octets follow X9.62 / SEC 1,
// 2.3.3 and 2.3.4 with L = ceil(m/8); compressed points are not supported,
// so the compressed and hybrid output forms and the compressed-coordinates
// setter are refused.  Encoded points are outside input: the reader accepts
// exactly the lengths of its forms, coordinates of degree below m, and only
// points on the curve.  The multiplication slot runs the Montgomery ladder
// of ec2_mult.cc, or the windowed NAFs for several terms.

#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

using morvane::ec::AnyCtx;
using morvane::ec::put_padded;
using morvane::ec::Scratch;

// ---- groups ------------------------------------------------------------------------

/* see morvane/ec.h */
int ec_GF2m_simple_group_init(EC_GROUP* group) {
  BN_init(&group->field);
  BN_init(&group->a);
  BN_init(&group->b);
  memset(group->poly, 0, sizeof group->poly);
  return 1;
}

/* see morvane/ec.h */
void ec_GF2m_simple_group_finish(EC_GROUP* group) {
  BN_free(&group->field);
  BN_free(&group->a);
  BN_free(&group->b);
}

/* see morvane/ec.h */
void ec_GF2m_simple_group_clear_finish(EC_GROUP* group) {
  BN_clear_free(&group->field);
  BN_clear_free(&group->a);
  BN_clear_free(&group->b);
  memset(group->poly, 0, sizeof group->poly);
}

namespace {

// Gives v the full word length of the field, the words above its used
// length zero (the value is unchanged).
bool widen(BIGNUM* v, const EC_GROUP* group) {
  const int words = (BN_num_bits(&group->field) - 1 + 31) / 32;
  if (words <= 0) return true;
  if (words > v->dmax && bn_expand2(v, words) == nullptr) return false;
  for (int i = v->top; i < words; i++) v->d[i] = 0;
  return true;
}

}  // namespace

/* see morvane/ec.h */
int ec_GF2m_simple_group_copy(EC_GROUP* dest, const EC_GROUP* src) {
  if (BN_copy(&dest->field, &src->field) == nullptr || BN_copy(&dest->a, &src->a) == nullptr ||
      BN_copy(&dest->b, &src->b) == nullptr)
    return 0;
  memcpy(dest->poly, src->poly, sizeof dest->poly);
  return widen(&dest->a, dest) && widen(&dest->b, dest) ? 1 : 0;
}

/* see morvane/ec.h */
int ec_GF2m_simple_group_set_curve(EC_GROUP* group, const BIGNUM* p, const BIGNUM* a,
                                   const BIGNUM* b, BN_CTX* /*ctx*/) {
  if (p == nullptr || a == nullptr || b == nullptr) {
    ECERR(EC_F_EC_GF2M_SIMPLE_GROUP_SET_CURVE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  unsigned int arr[5] = {};
  const int terms = BN_GF2m_poly2arr(p, arr, 5);
  if (terms != 5 && terms != 3) {
    ECERR(EC_F_EC_GF2M_SIMPLE_GROUP_SET_CURVE, EC_R_UNSUPPORTED_FIELD);
    return 0;
  }
  if (BN_copy(&group->field, p) == nullptr) return 0;
  BN_set_negative(&group->field, 0);
  memcpy(group->poly, arr, sizeof group->poly);
  if (!BN_GF2m_mod_arr(&group->a, a, group->poly) || !widen(&group->a, group)) return 0;
  if (!BN_GF2m_mod_arr(&group->b, b, group->poly) || !widen(&group->b, group)) return 0;
  return 1;
}

/* see morvane/ec.h */
int ec_GF2m_simple_group_get_curve(const EC_GROUP* group, BIGNUM* p, BIGNUM* a, BIGNUM* b,
                                   BN_CTX* /*ctx*/) {
  if (p != nullptr && BN_copy(p, &group->field) == nullptr) return 0;
  if (a != nullptr && BN_copy(a, &group->a) == nullptr) return 0;
  if (b != nullptr && BN_copy(b, &group->b) == nullptr) return 0;
  return 1;
}

/* see morvane/ec.h */
int ec_GF2m_simple_group_get_degree(const EC_GROUP* group) {
  return BN_num_bits(&group->field) - 1;
}

/* see morvane/ec.h */
int ec_GF2m_simple_group_check_discriminant(const EC_GROUP* group, BN_CTX* ctx) {
  Scratch s(ctx);
  BIGNUM* b = s.get();
  if (!s.ok()) {
    ECERR(EC_F_EC_GF2M_SIMPLE_GROUP_CHECK_DISCRIMINANT, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (b == nullptr || !BN_GF2m_mod_arr(b, &group->b, group->poly)) return 0;
  // y^2 + x y = x^3 + a x^2 + b is non-singular exactly when b != 0.
  return BN_is_zero(b) ? 0 : 1;
}

// ---- points: life cycle and coordinates ----------------------------------------------

/* see morvane/ec.h */
int ec_GF2m_simple_point_init(EC_POINT* point) {
  BN_init(&point->X);
  BN_init(&point->Y);
  BN_init(&point->Z);
  point->Z_is_one = 0;
  return 1;
}

/* see morvane/ec.h */
void ec_GF2m_simple_point_finish(EC_POINT* point) {
  BN_free(&point->X);
  BN_free(&point->Y);
  BN_free(&point->Z);
}

/* see morvane/ec.h */
void ec_GF2m_simple_point_clear_finish(EC_POINT* point) {
  BN_clear_free(&point->X);
  BN_clear_free(&point->Y);
  BN_clear_free(&point->Z);
  point->Z_is_one = 0;
}

/* see morvane/ec.h */
int ec_GF2m_simple_point_copy(EC_POINT* dest, const EC_POINT* src) {
  if (BN_copy(&dest->X, &src->X) == nullptr || BN_copy(&dest->Y, &src->Y) == nullptr ||
      BN_copy(&dest->Z, &src->Z) == nullptr)
    return 0;
  dest->Z_is_one = src->Z_is_one;
  return 1;
}

/* see morvane/ec.h */
int ec_GF2m_simple_point_set_to_infinity(const EC_GROUP* /*group*/, EC_POINT* point) {
  point->Z_is_one = 0;
  return BN_zero(&point->Z);
}

/* see morvane/ec.h */
int ec_GF2m_simple_point_set_affine_coordinates(const EC_GROUP* /*group*/, EC_POINT* point,
                                                const BIGNUM* x, const BIGNUM* y, BN_CTX* /*ctx*/) {
  if (x == nullptr || y == nullptr) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT_SET_AFFINE_COORDINATES, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // Neither reduced nor range-checked: the octet reader checks its input.
  if (BN_copy(&point->X, x) == nullptr || BN_copy(&point->Y, y) == nullptr) return 0;
  BN_set_negative(&point->X, 0);
  BN_set_negative(&point->Y, 0);
  if (!BN_one(&point->Z)) return 0;
  point->Z_is_one = 1;
  return 1;
}

/* see morvane/ec.h */
int ec_GF2m_simple_point_get_affine_coordinates(const EC_GROUP* group, const EC_POINT* point,
                                                BIGNUM* x, BIGNUM* y, BN_CTX* /*ctx*/) {
  if (EC_POINT_is_at_infinity(group, point)) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT_GET_AFFINE_COORDINATES, EC_R_POINT_AT_INFINITY);
    return 0;
  }
  if (!BN_is_one(&point->Z)) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT_GET_AFFINE_COORDINATES, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return 0;
  }
  if (x != nullptr) {
    if (BN_copy(x, &point->X) == nullptr) return 0;
    BN_set_negative(x, 0);
  }
  if (y != nullptr) {
    if (BN_copy(y, &point->Y) == nullptr) return 0;
    BN_set_negative(y, 0);
  }
  return 1;
}

// Compressed points over GF(2^m) are not supported in this build; the error
// names the source that would hold the solver.
/* see morvane/ec.h */
int ec_GF2m_simple_set_compressed_coordinates(const EC_GROUP* /*group*/, EC_POINT* /*point*/,
                                              const BIGNUM* /*x*/, int /*y_bit*/, BN_CTX* /*ctx*/) {
  ERR_put_error(ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_SET_COMPRESSED_COORDINATES, ERR_R_DISABLED,
                "ec/ec2_smpt.c", __LINE__);
  return 0;
}

// ---- octets --------------------------------------------------------------------------

/* see morvane/ec.h */
size_t ec_GF2m_simple_point2oct(const EC_GROUP* group, const EC_POINT* point,
                                point_conversion_form_t form, unsigned char* buf, size_t len,
                                BN_CTX* ctx) {
  if (form == POINT_CONVERSION_COMPRESSED || form == POINT_CONVERSION_HYBRID) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT2OCT, ERR_R_DISABLED);
    return 0;
  }
  if (form != POINT_CONVERSION_UNCOMPRESSED) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT2OCT, EC_R_INVALID_FORM);
    return 0;
  }
  if (EC_POINT_is_at_infinity(group, point)) {
    if (buf != nullptr) {
      if (len < 1) {
        ECERR(EC_F_EC_GF2M_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL);
        return 0;
      }
      buf[0] = 0;
    }
    return 1;
  }
  const size_t field_len = (static_cast<size_t>(EC_GROUP_get_degree(group)) + 7) / 8;
  const size_t ret = 1 + 2 * field_len;
  if (buf == nullptr) return ret;
  if (len < ret) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL);
    return 0;
  }
  Scratch s(ctx);
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  if (y == nullptr || !EC_POINT_get_affine_coordinates_GF2m(group, point, x, y, s.ctx())) return 0;
  buf[0] = static_cast<unsigned char>(form);
  if (!put_padded(buf + 1, field_len, x) || !put_padded(buf + 1 + field_len, field_len, y)) {
    ECERR(EC_F_EC_GF2M_SIMPLE_POINT2OCT, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  return ret;
}

/* see morvane/ec.h */
int ec_GF2m_simple_oct2point(const EC_GROUP* group, EC_POINT* point, const unsigned char* buf,
                             size_t len, BN_CTX* ctx) {
  if (len == 0) {
    ECERR(EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_BUFFER_TOO_SMALL);
    return 0;
  }
  const int degree = EC_GROUP_get_degree(group);
  const size_t field_len = (static_cast<size_t>(degree) + 7) / 8;
  int y_bit = 0;
  const int form =
      morvane::ec::read_point_form(buf, len, field_len, EC_F_EC_GF2M_SIMPLE_OCT2POINT, &y_bit);
  if (form < 0) return 0;
  if (form == 0) return EC_POINT_set_to_infinity(group, point);
  Scratch s(ctx);
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  BIGNUM* yxi = s.get();
  if (yxi == nullptr) return 0;
  const int n = static_cast<int>(field_len);  // a BIGNUM's bytes: fits
  // Coordinates are field elements: of degree below m.  (Comparing with the
  // polynomial as a number would let x + f stand for x, a second encoding
  // of one point.)
  if (BN_bin2bn(buf + 1, n, x) == nullptr) return 0;
  if (BN_num_bits(x) > degree) {
    ECERR(EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING);
    return 0;
  }
  if (form == POINT_CONVERSION_COMPRESSED) {
    if (!EC_POINT_set_compressed_coordinates_GF2m(group, point, x, y_bit, s.ctx())) return 0;
  } else {
    if (BN_bin2bn(buf + 1 + field_len, n, y) == nullptr) return 0;
    if (BN_num_bits(y) > degree) {
      ECERR(EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING);
      return 0;
    }
    if (form == POINT_CONVERSION_HYBRID) {
      // The y bit of a hybrid encoding is the low bit of y / x, and 0 when
      // x = 0 (X9.62, 4.2.2): there is nothing to divide by.
      if (!BN_is_zero(x) && !group->meth->field_div(group, yxi, y, x, s.ctx())) {
        ECERR(EC_F_EC_GF2M_SIMPLE_OCT2POINT, ERR_R_BN_LIB);
        return 0;
      }
      if (y_bit != (!BN_is_zero(x) && BN_is_odd(yxi))) {
        ECERR(EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING);
        return 0;
      }
    }
    if (!EC_POINT_set_affine_coordinates_GF2m(group, point, x, y, s.ctx())) return 0;
  }
  // A point off the curve is refused; so is one that could not be checked.
  const int on = EC_POINT_is_on_curve(group, point, s.ctx());
  if (on == 0) ECERR(EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_POINT_IS_NOT_ON_CURVE);
  return on == 1 ? 1 : 0;
}

// ---- points: arithmetic ----------------------------------------------------------------

namespace {

// (x, y) of an affine point: its own coordinates when marked affine, else
// through the getter.
bool affine_of(const EC_GROUP* group, const EC_POINT* p, BIGNUM* x, BIGNUM* y, BN_CTX* ctx) {
  if (p->Z_is_one) return BN_copy(x, &p->X) != nullptr && BN_copy(y, &p->Y) != nullptr;
  return EC_POINT_get_affine_coordinates_GF2m(group, p, x, y, ctx) != 0;
}

}  // namespace

/* see morvane/ec.h */
int ec_GF2m_simple_add(const EC_GROUP* group, EC_POINT* r, const EC_POINT* a, const EC_POINT* b,
                       BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, a)) return EC_POINT_copy(r, b);
  if (EC_POINT_is_at_infinity(group, b)) return EC_POINT_copy(r, a);
  Scratch s(ctx);
  BIGNUM* x0 = s.get();
  BIGNUM* y0 = s.get();
  BIGNUM* x1 = s.get();
  BIGNUM* y1 = s.get();
  BIGNUM* x2 = s.get();
  BIGNUM* y2 = s.get();
  BIGNUM* sl = s.get();
  BIGNUM* t = s.get();
  if (t == nullptr) return 0;
  BN_CTX* c = s.ctx();
  const EC_METHOD* m = group->meth;
  if (!affine_of(group, a, x0, y0, c) || !affine_of(group, b, x1, y1, c)) return 0;
  if (BN_GF2m_cmp(x0, x1) != 0) {
    // s = (y0 + y1) / (x0 + x1); x2 = s^2 + s + a + x0 + x1
    if (!BN_GF2m_add(t, x0, x1) || !BN_GF2m_add(sl, y0, y1) || !m->field_div(group, sl, sl, t, c) ||
        !m->field_sqr(group, x2, sl, c) || !BN_GF2m_add(x2, x2, &group->a) ||
        !BN_GF2m_add(x2, x2, sl) || !BN_GF2m_add(x2, x2, t))
      return 0;
  } else {
    if (BN_GF2m_cmp(y0, y1) != 0 || BN_is_zero(x1)) return EC_POINT_set_to_infinity(group, r);
    // Doubling: s = x1 + y1 / x1; x2 = s^2 + s + a
    if (!m->field_div(group, sl, y1, x1, c) || !BN_GF2m_add(sl, sl, x1) ||
        !m->field_sqr(group, x2, sl, c) || !BN_GF2m_add(x2, x2, sl) ||
        !BN_GF2m_add(x2, x2, &group->a))
      return 0;
  }
  // y2 = (x1 + x2) s + x2 + y1
  if (!BN_GF2m_add(y2, x1, x2) || !m->field_mul(group, y2, y2, sl, c) ||
      !BN_GF2m_add(y2, y2, x2) || !BN_GF2m_add(y2, y2, y1))
    return 0;
  return EC_POINT_set_affine_coordinates_GF2m(group, r, x2, y2, c);
}

/* see morvane/ec.h */
int ec_GF2m_simple_dbl(const EC_GROUP* group, EC_POINT* r, const EC_POINT* a, BN_CTX* ctx) {
  return ec_GF2m_simple_add(group, r, a, a, ctx);
}

/* see morvane/ec.h */
int ec_GF2m_simple_invert(const EC_GROUP* group, EC_POINT* point, BN_CTX* ctx) {
  // -(x, y) = (x, x + y); infinity and points with y = 0 are their own
  // inverses as this method leaves them.
  if (EC_POINT_is_at_infinity(group, point) || BN_is_zero(&point->Y)) return 1;
  if (!EC_POINT_make_affine(group, point, ctx)) return 0;
  return BN_GF2m_add(&point->Y, &point->X, &point->Y);
}

/* see morvane/ec.h */
int ec_GF2m_simple_is_at_infinity(const EC_GROUP* /*group*/, const EC_POINT* point) {
  return BN_is_zero(&point->Z);
}

/* see morvane/ec.h */
int ec_GF2m_simple_is_on_curve(const EC_GROUP* group, const EC_POINT* point, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, point)) return 1;
  if (!point->Z_is_one) return -1;
  Scratch s(ctx);
  BIGNUM* lh = s.get();
  BIGNUM* y2 = s.get();
  if (y2 == nullptr) return -1;
  const EC_METHOD* m = group->meth;
  BN_CTX* c = s.ctx();
  // y^2 + x y = x^3 + a x^2 + b  <=>  ((x + a) x + y) x + b + y^2 = 0
  if (!BN_GF2m_add(lh, &point->X, &group->a) || !m->field_mul(group, lh, lh, &point->X, c) ||
      !BN_GF2m_add(lh, lh, &point->Y) || !m->field_mul(group, lh, lh, &point->X, c) ||
      !BN_GF2m_add(lh, lh, &group->b) || !m->field_sqr(group, y2, &point->Y, c) ||
      !BN_GF2m_add(lh, lh, y2))
    return -1;
  return BN_is_zero(lh) ? 1 : 0;
}

/* see morvane/ec.h */
int ec_GF2m_simple_cmp(const EC_GROUP* group, const EC_POINT* a, const EC_POINT* b, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, a)) return EC_POINT_is_at_infinity(group, b) ? 0 : 1;
  if (EC_POINT_is_at_infinity(group, b)) return 1;
  if (a->Z_is_one && b->Z_is_one)
    return BN_cmp(&a->X, &b->X) == 0 && BN_cmp(&a->Y, &b->Y) == 0 ? 0 : 1;
  Scratch s(ctx);
  BIGNUM* ax = s.get();
  BIGNUM* ay = s.get();
  BIGNUM* bx = s.get();
  BIGNUM* by = s.get();
  if (by == nullptr || !EC_POINT_get_affine_coordinates_GF2m(group, a, ax, ay, s.ctx()) ||
      !EC_POINT_get_affine_coordinates_GF2m(group, b, bx, by, s.ctx()))
    return -1;
  return BN_cmp(ax, bx) == 0 && BN_cmp(ay, by) == 0 ? 0 : 1;
}

/* see morvane/ec.h */
int ec_GF2m_simple_make_affine(const EC_GROUP* group, EC_POINT* point, BN_CTX* ctx) {
  // This method makes only affine points and the point at infinity; a
  // point that is neither is brought to Z = 1 through the getter.
  if (point->Z_is_one || EC_POINT_is_at_infinity(group, point)) return 1;
  Scratch s(ctx);
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  if (y == nullptr || !EC_POINT_get_affine_coordinates_GF2m(group, point, x, y, s.ctx())) return 0;
  return EC_POINT_set_affine_coordinates_GF2m(group, point, x, y, s.ctx());
}

/* see morvane/ec.h */
int ec_GF2m_simple_points_make_affine(const EC_GROUP* group, size_t num, EC_POINT* points[],
                                      BN_CTX* ctx) {
  for (size_t i = 0; i < num; i++)
    if (!group->meth->make_affine(group, points[i], ctx)) return 0;
  return 1;
}

// ---- products ------------------------------------------------------------------------

/* see morvane/ec.h */
int ec_GF2m_simple_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
                       const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx) {
  // Several terms (public scalars: verification) share their doublings in
  // the windowed NAFs; so do generator products that a precomputation
  // serves, unless the fixed-width ladder applies (a secret scalar).
  if ((scalar != nullptr && num >= 2) || num >= 3) {
    return ec_wNAF_mul(group, r, scalar, num, points, scalars, ctx);
  }
  if (num == 0 && EC_GROUP_have_precompute_mult(group) &&
      (scalar == nullptr || group->generator == nullptr ||
       !morvane::ec::gf2m_fixed_ladder_serves(group, group->generator)))
    return ec_wNAF_mul(group, r, scalar, num, points, scalars, ctx);
  Scratch s(ctx);
  if (!s.ok()) return 0;
  // The sum collects in acc, so that r may be one of the points.
  EC_POINT* acc = EC_POINT_new(group);
  EC_POINT* p = EC_POINT_new(group);
  int ok = 0;
  if (acc == nullptr || p == nullptr || !EC_POINT_set_to_infinity(group, acc)) goto done;
  if (scalar != nullptr) {
    if (group->generator == nullptr) {
      ECERR(EC_F_EC_POINTS_MUL, EC_R_UNDEFINED_GENERATOR);
      goto done;
    }
    if (!morvane::ec::gf2m_montgomery_point_multiply(group, p, scalar, group->generator, s.ctx()) ||
        (BN_is_negative(scalar) && !EC_POINT_invert(group, p, s.ctx())) ||
        !EC_POINT_add(group, acc, acc, p, s.ctx()))
      goto done;
  }
  for (size_t i = 0; i < num; i++) {
    if (!morvane::ec::gf2m_montgomery_point_multiply(group, p, scalars[i], points[i], s.ctx()) ||
        (BN_is_negative(scalars[i]) && !EC_POINT_invert(group, p, s.ctx())) ||
        !EC_POINT_add(group, acc, acc, p, s.ctx()))
      goto done;
  }
  ok = EC_POINT_copy(r, acc);
done:
  EC_POINT_clear_free(p);
  EC_POINT_clear_free(acc);
  return ok;
}

// ---- the field -----------------------------------------------------------------------

/* see morvane/ec.h */
int ec_GF2m_simple_field_mul(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                             BN_CTX* ctx) {
  AnyCtx c(ctx);
  return c.ok() && BN_GF2m_mod_mul_arr(r, a, b, group->poly, c.get());
}

/* see morvane/ec.h */
int ec_GF2m_simple_field_sqr(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  AnyCtx c(ctx);
  return c.ok() && BN_GF2m_mod_sqr_arr(r, a, group->poly, c.get());
}

/* see morvane/ec.h */
int ec_GF2m_simple_field_div(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                             BN_CTX* ctx) {
  AnyCtx c(ctx);
  return c.ok() && BN_GF2m_mod_div(r, a, b, &group->field, c.get());
}

namespace {

constinit const EC_METHOD kGf2mSimpleMethod = {
    morvane::ec::kNidCharTwoField,
    ec_GF2m_simple_group_init,
    ec_GF2m_simple_group_finish,
    ec_GF2m_simple_group_clear_finish,
    ec_GF2m_simple_group_copy,
    ec_GF2m_simple_group_set_curve,
    ec_GF2m_simple_group_get_curve,
    ec_GF2m_simple_group_get_degree,
    ec_GF2m_simple_group_check_discriminant,
    ec_GF2m_simple_point_init,
    ec_GF2m_simple_point_finish,
    ec_GF2m_simple_point_clear_finish,
    ec_GF2m_simple_point_copy,
    ec_GF2m_simple_point_set_to_infinity,
    nullptr,  // point_set_Jprojective_coordinates_GFp
    nullptr,  // point_get_Jprojective_coordinates_GFp
    ec_GF2m_simple_point_set_affine_coordinates,
    ec_GF2m_simple_point_get_affine_coordinates,
    ec_GF2m_simple_set_compressed_coordinates,
    ec_GF2m_simple_point2oct,
    ec_GF2m_simple_oct2point,
    ec_GF2m_simple_add,
    ec_GF2m_simple_dbl,
    ec_GF2m_simple_invert,
    ec_GF2m_simple_is_at_infinity,
    ec_GF2m_simple_is_on_curve,
    ec_GF2m_simple_cmp,
    ec_GF2m_simple_make_affine,
    ec_GF2m_simple_points_make_affine,
    ec_GF2m_simple_mul,
    morvane::ec::gf2m_precompute_mult,
    morvane::ec::gf2m_have_precompute_mult,
    ec_GF2m_simple_field_mul,
    ec_GF2m_simple_field_sqr,
    ec_GF2m_simple_field_div,
    nullptr,  // field_encode: plain polynomials
    nullptr,  // field_decode
    nullptr,  // field_set_to_one
};

}  // namespace

/* see morvane/ec.h */
const EC_METHOD* EC_GF2m_simple_method(void) {
  return &kGf2mSimpleMethod;
}
