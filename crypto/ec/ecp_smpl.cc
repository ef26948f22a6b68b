// The simple method over GF(p): curves y^2 = x^3 + a x + b on plain residues,
// and the group and point algorithms that the Montgomery and NIST methods
// share with it (they reach the field only through the field_* slots).
//
// Implementation notes: points are Jacobian projective, (X, Y, Z) standing
// for (X/Z^2, Y/Z^3) and Z = 0 for the point at infinity; every coordinate
// and coefficient is kept reduced, in [0, p), so the quick modular
// additions apply.  Addition and doubling follow IEEE 1363-2000, A.10.5 and
// A.10.4; `Z_is_one` (Z holds the field's one) skips the multiplications by
// Z.  An operation that needs plain values while the method keeps encoded
// ones tests the field_decode (or field_encode) slot.

#include <utility>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

using morvane::ec::Scratch;

// ---- the table ------------------------------------------------------------------

namespace {

constinit const EC_METHOD kSimpleMethod = morvane::ec::gfp_method({
    ec_GFp_simple_group_init, ec_GFp_simple_group_finish, ec_GFp_simple_group_clear_finish,
    ec_GFp_simple_group_copy, ec_GFp_simple_group_set_curve, ec_GFp_simple_field_mul,
    ec_GFp_simple_field_sqr,
    nullptr,  // field_encode: plain residues
    nullptr,  // field_decode
    nullptr,  // field_set_to_one
});

}  // namespace

/* see morvane/ec.h */
const EC_METHOD* EC_GFp_simple_method(void) {
  return &kSimpleMethod;
}

// ---- groups -----------------------------------------------------------------------

/* see morvane/ec.h */
int ec_GFp_simple_group_init(EC_GROUP* group) {
  BN_init(&group->field);
  BN_init(&group->a);
  BN_init(&group->b);
  group->a_is_minus3 = 0;
  return 1;
}

/* see morvane/ec.h */
void ec_GFp_simple_group_finish(EC_GROUP* group) {
  BN_free(&group->field);
  BN_free(&group->a);
  BN_free(&group->b);
}

/* see morvane/ec.h */
void ec_GFp_simple_group_clear_finish(EC_GROUP* group) {
  BN_clear_free(&group->field);
  BN_clear_free(&group->a);
  BN_clear_free(&group->b);
}

/* see morvane/ec.h */
int ec_GFp_simple_group_copy(EC_GROUP* dest, const EC_GROUP* src) {
  if (BN_copy(&dest->field, &src->field) == nullptr || BN_copy(&dest->a, &src->a) == nullptr ||
      BN_copy(&dest->b, &src->b) == nullptr)
    return 0;
  dest->a_is_minus3 = src->a_is_minus3;
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_group_set_curve(EC_GROUP* group, const BIGNUM* p, const BIGNUM* a,
                                  const BIGNUM* b, BN_CTX* ctx) {
  if (p == nullptr || a == nullptr || b == nullptr) {
    ECERR(EC_F_EC_GFP_SIMPLE_GROUP_SET_CURVE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  morvane::ec::ct_cache_drop(group);
  // The field must be an odd number of at least 3 bits (its primality is
  // the caller's to ensure).
  if (BN_num_bits(p) <= 2 || !BN_is_odd(p)) {
    ECERR(EC_F_EC_GFP_SIMPLE_GROUP_SET_CURVE, EC_R_INVALID_FIELD);
    return 0;
  }
  Scratch s(ctx);
  BIGNUM* tmp_a = s.get();
  if (tmp_a == nullptr) return 0;
  if (BN_copy(&group->field, p) == nullptr) return 0;
  BN_set_negative(&group->field, 0);
  const auto encode = group->meth->field_encode;
  if (!BN_nnmod(tmp_a, a, &group->field, s.ctx())) return 0;
  if (encode != nullptr ? !encode(group, &group->a, tmp_a, s.ctx())
                        : BN_copy(&group->a, tmp_a) == nullptr)
    return 0;
  if (!BN_nnmod(&group->b, b, &group->field, s.ctx())) return 0;
  if (encode != nullptr && !encode(group, &group->b, &group->b, s.ctx())) return 0;
  if (!BN_add_word(tmp_a, 3)) return 0;
  group->a_is_minus3 = BN_cmp(tmp_a, &group->field) == 0;
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_group_get_curve(const EC_GROUP* group, BIGNUM* p, BIGNUM* a, BIGNUM* b,
                                  BN_CTX* ctx) {
  if (p != nullptr && BN_copy(p, &group->field) == nullptr) return 0;
  if (a == nullptr && b == nullptr) return 1;
  const auto decode = group->meth->field_decode;
  if (decode == nullptr) {
    if (a != nullptr && BN_copy(a, &group->a) == nullptr) return 0;
    if (b != nullptr && BN_copy(b, &group->b) == nullptr) return 0;
    return 1;
  }
  morvane::ec::AnyCtx c(ctx);
  if (!c.ok()) return 0;
  if (a != nullptr && !decode(group, a, &group->a, c.get())) return 0;
  if (b != nullptr && !decode(group, b, &group->b, c.get())) return 0;
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_group_get_degree(const EC_GROUP* group) {
  return BN_num_bits(&group->field);
}

/* see morvane/ec.h */
int ec_GFp_simple_group_check_discriminant(const EC_GROUP* group, BN_CTX* ctx) {
  Scratch s(ctx);
  if (!s.ok()) {
    ECERR(EC_F_EC_GFP_SIMPLE_GROUP_CHECK_DISCRIMINANT, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const BIGNUM* p = &group->field;
  BIGNUM* a = s.get();
  BIGNUM* b = s.get();
  BIGNUM* t1 = s.get();
  BIGNUM* t2 = s.get();
  if (t2 == nullptr) return 0;
  if (const auto decode = group->meth->field_decode; decode != nullptr) {
    if (!decode(group, a, &group->a, s.ctx()) || !decode(group, b, &group->b, s.ctx())) return 0;
  } else if (BN_copy(a, &group->a) == nullptr || BN_copy(b, &group->b) == nullptr) {
    return 0;
  }
  // y^2 = x^3 + a x + b is an elliptic curve when 4 a^3 + 27 b^2 != 0 mod p.
  if (BN_is_zero(a)) return BN_is_zero(b) ? 0 : 1;
  if (BN_is_zero(b)) return 1;
  if (!BN_mod_sqr(t1, a, p, s.ctx()) || !BN_mod_mul(t2, t1, a, p, s.ctx()) ||
      !BN_lshift(t1, t2, 2))  // 4 a^3
    return 0;
  if (!BN_mod_sqr(t2, b, p, s.ctx()) || !BN_mul_word(t2, 27))  // 27 b^2
    return 0;
  if (!BN_mod_add(a, t1, t2, p, s.ctx())) return 0;
  return BN_is_zero(a) ? 0 : 1;
}

// ---- points: life cycle and coordinates ------------------------------------------------

/* see morvane/ec.h */
int ec_GFp_simple_point_init(EC_POINT* point) {
  BN_init(&point->X);
  BN_init(&point->Y);
  BN_init(&point->Z);
  point->Z_is_one = 0;
  return 1;
}

/* see morvane/ec.h */
void ec_GFp_simple_point_finish(EC_POINT* point) {
  BN_free(&point->X);
  BN_free(&point->Y);
  BN_free(&point->Z);
}

/* see morvane/ec.h */
void ec_GFp_simple_point_clear_finish(EC_POINT* point) {
  BN_clear_free(&point->X);
  BN_clear_free(&point->Y);
  BN_clear_free(&point->Z);
  point->Z_is_one = 0;
}

/* see morvane/ec.h */
int ec_GFp_simple_point_copy(EC_POINT* dest, const EC_POINT* src) {
  if (BN_copy(&dest->X, &src->X) == nullptr || BN_copy(&dest->Y, &src->Y) == nullptr ||
      BN_copy(&dest->Z, &src->Z) == nullptr)
    return 0;
  dest->Z_is_one = src->Z_is_one;
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_point_set_to_infinity(const EC_GROUP* /*group*/, EC_POINT* point) {
  point->Z_is_one = 0;
  return BN_zero(&point->Z);
}

/* see morvane/ec.h */
int ec_GFp_simple_set_Jprojective_coordinates_GFp(const EC_GROUP* group, EC_POINT* point,
                                                  const BIGNUM* x, const BIGNUM* y, const BIGNUM* z,
                                                  BN_CTX* ctx) {
  morvane::ec::AnyCtx c(ctx);
  if (!c.ok()) return 0;
  const auto encode = group->meth->field_encode;
  for (auto [in, out] : {std::pair{x, &point->X}, std::pair{y, &point->Y}}) {
    if (in == nullptr) continue;
    if (!BN_nnmod(out, in, &group->field, c.get())) return 0;
    if (encode != nullptr && !encode(group, out, out, c.get())) return 0;
  }
  if (z != nullptr) {
    if (!BN_nnmod(&point->Z, z, &group->field, c.get())) return 0;
    const int z_is_one = BN_is_one(&point->Z);
    if (encode != nullptr) {
      const auto set_to_one = group->meth->field_set_to_one;
      if (z_is_one && set_to_one != nullptr ? !set_to_one(group, &point->Z, c.get())
                                            : !encode(group, &point->Z, &point->Z, c.get()))
        return 0;
    }
    point->Z_is_one = z_is_one;
  }
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_get_Jprojective_coordinates_GFp(const EC_GROUP* group, const EC_POINT* point,
                                                  BIGNUM* x, BIGNUM* y, BIGNUM* z, BN_CTX* ctx) {
  const auto decode = group->meth->field_decode;
  morvane::ec::AnyCtx c(decode != nullptr ? ctx : nullptr);
  if (decode != nullptr && !c.ok()) return 0;
  for (auto [out, in] :
       {std::pair{x, &point->X}, std::pair{y, &point->Y}, std::pair{z, &point->Z}}) {
    if (out == nullptr) continue;
    if (decode != nullptr ? !decode(group, out, in, c.get()) : BN_copy(out, in) == nullptr)
      return 0;
  }
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_point_set_affine_coordinates(const EC_GROUP* group, EC_POINT* point,
                                               const BIGNUM* x, const BIGNUM* y, BN_CTX* ctx) {
  if (x == nullptr || y == nullptr) {
    // A point needs both coordinates; the compressed setter solves for y.
    ECERR(EC_F_EC_GFP_SIMPLE_POINT_SET_AFFINE_COORDINATES, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return EC_POINT_set_Jprojective_coordinates_GFp(group, point, x, y, BN_value_one(), ctx);
}

/* see morvane/ec.h */
int ec_GFp_simple_point_get_affine_coordinates(const EC_GROUP* group, const EC_POINT* point,
                                               BIGNUM* x, BIGNUM* y, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, point)) {
    ECERR(EC_F_EC_GFP_SIMPLE_POINT_GET_AFFINE_COORDINATES, EC_R_POINT_AT_INFINITY);
    return 0;
  }
  Scratch s(ctx);
  BIGNUM* z = s.get();
  BIGNUM* z1 = s.get();
  BIGNUM* z2 = s.get();
  BIGNUM* z3 = s.get();
  if (z3 == nullptr) return 0;
  const EC_METHOD* m = group->meth;
  const BIGNUM* plain_z = &point->Z;
  if (m->field_decode != nullptr) {
    if (!m->field_decode(group, z, &point->Z, s.ctx())) return 0;
    plain_z = z;
  }
  if (BN_is_one(plain_z)) {
    for (auto [out, in] : {std::pair{x, &point->X}, std::pair{y, &point->Y}}) {
      if (out == nullptr) continue;
      if (m->field_decode != nullptr ? !m->field_decode(group, out, in, s.ctx())
                                     : BN_copy(out, in) == nullptr)
        return 0;
    }
    return 1;
  }
  if (BN_mod_inverse(z1, plain_z, &group->field, s.ctx()) == nullptr) {
    ECERR(EC_F_EC_GFP_SIMPLE_POINT_GET_AFFINE_COORDINATES, ERR_R_BN_LIB);
    return 0;
  }
  // z2 = 1/Z^2 and z3 = 1/Z^3 as plain values: field_mul of an encoded
  // coordinate by a plain factor gives a plain product.
  if (m->field_encode == nullptr ? !m->field_sqr(group, z2, z1, s.ctx())
                                 : !BN_mod_sqr(z2, z1, &group->field, s.ctx()))
    return 0;
  if (x != nullptr && !m->field_mul(group, x, &point->X, z2, s.ctx())) return 0;
  if (y != nullptr) {
    if (m->field_encode == nullptr ? !m->field_mul(group, z3, z2, z1, s.ctx())
                                   : !BN_mod_mul(z3, z2, z1, &group->field, s.ctx()))
      return 0;
    if (!m->field_mul(group, y, &point->Y, z3, s.ctx())) return 0;
  }
  return 1;
}

// ---- points: arithmetic -----------------------------------------------------------------

/* see morvane/ec.h */
int ec_GFp_simple_add(const EC_GROUP* group, EC_POINT* r, const EC_POINT* a, const EC_POINT* b,
                      BN_CTX* ctx) {
  if (a == b) return EC_POINT_dbl(group, r, a, ctx);
  if (EC_POINT_is_at_infinity(group, a)) return EC_POINT_copy(r, b);
  if (EC_POINT_is_at_infinity(group, b)) return EC_POINT_copy(r, a);
  Scratch s(ctx);
  BIGNUM* n0 = s.get();
  BIGNUM* n1 = s.get();
  BIGNUM* n2 = s.get();
  BIGNUM* n3 = s.get();
  BIGNUM* n4 = s.get();
  BIGNUM* n5 = s.get();
  BIGNUM* n6 = s.get();
  if (n6 == nullptr) return 0;
  const auto mul = group->meth->field_mul;
  const auto sqr = group->meth->field_sqr;
  const BIGNUM* p = &group->field;
  BN_CTX* c = s.ctx();
  // r may be a or b: no coordinate of a or b is read after r's is written.
  // n1 = X_a Z_b^2, n2 = Y_a Z_b^3
  if (b->Z_is_one) {
    if (BN_copy(n1, &a->X) == nullptr || BN_copy(n2, &a->Y) == nullptr) return 0;
  } else if (!sqr(group, n0, &b->Z, c) || !mul(group, n1, &a->X, n0, c) ||
             !mul(group, n0, n0, &b->Z, c) || !mul(group, n2, &a->Y, n0, c)) {
    return 0;
  }
  // n3 = X_b Z_a^2, n4 = Y_b Z_a^3
  if (a->Z_is_one) {
    if (BN_copy(n3, &b->X) == nullptr || BN_copy(n4, &b->Y) == nullptr) return 0;
  } else if (!sqr(group, n0, &a->Z, c) || !mul(group, n3, &b->X, n0, c) ||
             !mul(group, n0, n0, &a->Z, c) || !mul(group, n4, &b->Y, n0, c)) {
    return 0;
  }
  // n5 = n1 - n3, n6 = n2 - n4
  if (!BN_mod_sub_quick(n5, n1, n3, p) || !BN_mod_sub_quick(n6, n2, n4, p)) return 0;
  if (BN_is_zero(n5)) {
    if (BN_is_zero(n6)) return EC_POINT_dbl(group, r, a, c);  // a and b are the same point
    r->Z_is_one = 0;                                          // b is -a
    return BN_zero(&r->Z);
  }
  // n1 = n1 + n3, n2 = n2 + n4
  if (!BN_mod_add_quick(n1, n1, n3, p) || !BN_mod_add_quick(n2, n2, n4, p)) return 0;
  // Z_r = Z_a Z_b n5
  if (a->Z_is_one && b->Z_is_one) {
    if (BN_copy(&r->Z, n5) == nullptr) return 0;
  } else {
    if (a->Z_is_one   ? BN_copy(n0, &b->Z) == nullptr
        : b->Z_is_one ? BN_copy(n0, &a->Z) == nullptr
                      : !mul(group, n0, &a->Z, &b->Z, c))
      return 0;
    if (!mul(group, &r->Z, n0, n5, c)) return 0;
  }
  r->Z_is_one = 0;
  // X_r = n6^2 - n5^2 n1
  if (!sqr(group, n0, n6, c) || !sqr(group, n4, n5, c) || !mul(group, n3, n1, n4, c) ||
      !BN_mod_sub_quick(&r->X, n0, n3, p))
    return 0;
  // n0 = n5^2 n1 - 2 X_r
  if (!BN_mod_lshift1_quick(n0, &r->X, p) || !BN_mod_sub_quick(n0, n3, n0, p)) return 0;
  // Y_r = (n6 n0 - n2 n5^3) / 2
  if (!mul(group, n0, n0, n6, c) || !mul(group, n5, n4, n5, c) || !mul(group, n1, n2, n5, c) ||
      !BN_mod_sub_quick(n0, n0, n1, p))
    return 0;
  if (BN_is_odd(n0) && !BN_add(n0, n0, p)) return 0;  // now even, below 2p
  return BN_rshift1(&r->Y, n0);
}

/* see morvane/ec.h */
int ec_GFp_simple_dbl(const EC_GROUP* group, EC_POINT* r, const EC_POINT* a, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, a)) {
    r->Z_is_one = 0;
    return BN_zero(&r->Z);
  }
  Scratch s(ctx);
  BIGNUM* n0 = s.get();
  BIGNUM* n1 = s.get();
  BIGNUM* n2 = s.get();
  BIGNUM* n3 = s.get();
  if (n3 == nullptr) return 0;
  const auto mul = group->meth->field_mul;
  const auto sqr = group->meth->field_sqr;
  const BIGNUM* p = &group->field;
  BN_CTX* c = s.ctx();
  // n1 = 3 X_a^2 + a Z_a^4
  if (a->Z_is_one) {
    if (!sqr(group, n0, &a->X, c) || !BN_mod_lshift1_quick(n1, n0, p) ||
        !BN_mod_add_quick(n0, n0, n1, p) || !BN_mod_add_quick(n1, n0, &group->a, p))
      return 0;
  } else if (group->a_is_minus3) {
    // 3 (X_a + Z_a^2) (X_a - Z_a^2) = 3 X_a^2 - 3 Z_a^4
    if (!sqr(group, n1, &a->Z, c) || !BN_mod_add_quick(n0, &a->X, n1, p) ||
        !BN_mod_sub_quick(n2, &a->X, n1, p) || !mul(group, n1, n0, n2, c) ||
        !BN_mod_lshift1_quick(n0, n1, p) || !BN_mod_add_quick(n1, n0, n1, p))
      return 0;
  } else {
    if (!sqr(group, n0, &a->X, c) || !BN_mod_lshift1_quick(n1, n0, p) ||
        !BN_mod_add_quick(n0, n0, n1, p) || !sqr(group, n1, &a->Z, c) || !sqr(group, n1, n1, c) ||
        !mul(group, n1, n1, &group->a, c) || !BN_mod_add_quick(n1, n1, n0, p))
      return 0;
  }
  // Z_r = 2 Y_a Z_a (r may be a: only Z is written before X_a and Y_a are read)
  if (a->Z_is_one ? BN_copy(n0, &a->Y) == nullptr : !mul(group, n0, &a->Y, &a->Z, c)) return 0;
  if (!BN_mod_lshift1_quick(&r->Z, n0, p)) return 0;
  r->Z_is_one = 0;
  // n2 = 4 X_a Y_a^2
  if (!sqr(group, n3, &a->Y, c) || !mul(group, n2, &a->X, n3, c) ||
      !BN_mod_lshift_quick(n2, n2, 2, p))
    return 0;
  // X_r = n1^2 - 2 n2
  if (!BN_mod_lshift1_quick(n0, n2, p) || !sqr(group, &r->X, n1, c) ||
      !BN_mod_sub_quick(&r->X, &r->X, n0, p))
    return 0;
  // n3 = 8 Y_a^4
  if (!sqr(group, n0, n3, c) || !BN_mod_lshift_quick(n3, n0, 3, p)) return 0;
  // Y_r = n1 (n2 - X_r) - n3
  return BN_mod_sub_quick(n0, n2, &r->X, p) && mul(group, n0, n1, n0, c) &&
         BN_mod_sub_quick(&r->Y, n0, n3, p);
}

/* see morvane/ec.h */
int ec_GFp_simple_invert(const EC_GROUP* group, EC_POINT* point, BN_CTX* /*ctx*/) {
  if (EC_POINT_is_at_infinity(group, point) || BN_is_zero(&point->Y)) return 1;  // its own inverse
  return BN_usub(&point->Y, &group->field, &point->Y);
}

/* see morvane/ec.h */
int ec_GFp_simple_is_at_infinity(const EC_GROUP* /*group*/, const EC_POINT* point) {
  return BN_is_zero(&point->Z);
}

/* see morvane/ec.h */
int ec_GFp_simple_is_on_curve(const EC_GROUP* group, const EC_POINT* point, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, point)) return 1;
  Scratch s(ctx);
  BIGNUM* rh = s.get();
  BIGNUM* tmp = s.get();
  BIGNUM* z4 = s.get();
  BIGNUM* z6 = s.get();
  if (z6 == nullptr) return -1;
  const auto mul = group->meth->field_mul;
  const auto sqr = group->meth->field_sqr;
  const BIGNUM* p = &group->field;
  BN_CTX* c = s.ctx();
  // Substituting (X/Z^2, Y/Z^3) and multiplying by Z^6 turns the curve into
  // Y^2 = X^3 + a X Z^4 + b Z^6; rh adds up the right-hand side.
  if (!sqr(group, rh, &point->X, c)) return -1;
  if (point->Z_is_one) {
    if (!BN_mod_add_quick(rh, rh, &group->a, p) || !mul(group, rh, rh, &point->X, c) ||
        !BN_mod_add_quick(rh, rh, &group->b, p))
      return -1;
  } else {
    if (!sqr(group, tmp, &point->Z, c) || !sqr(group, z4, tmp, c) || !mul(group, z6, z4, tmp, c))
      return -1;
    if (group->a_is_minus3) {  // rh = (X^2 - 3 Z^4) X
      if (!BN_mod_lshift1_quick(tmp, z4, p) || !BN_mod_add_quick(tmp, tmp, z4, p) ||
          !BN_mod_sub_quick(rh, rh, tmp, p) || !mul(group, rh, rh, &point->X, c))
        return -1;
    } else if (!mul(group, tmp, z4, &group->a, c) || !BN_mod_add_quick(rh, rh, tmp, p) ||
               !mul(group, rh, rh, &point->X, c)) {
      return -1;
    }
    if (!mul(group, tmp, &group->b, z6, c) || !BN_mod_add_quick(rh, rh, tmp, p)) return -1;
  }
  if (!sqr(group, tmp, &point->Y, c)) return -1;
  return BN_ucmp(tmp, rh) == 0 ? 1 : 0;
}

/* see morvane/ec.h */
int ec_GFp_simple_cmp(const EC_GROUP* group, const EC_POINT* a, const EC_POINT* b, BN_CTX* ctx) {
  if (EC_POINT_is_at_infinity(group, a)) return EC_POINT_is_at_infinity(group, b) ? 0 : 1;
  if (EC_POINT_is_at_infinity(group, b)) return 1;
  if (a->Z_is_one && b->Z_is_one)
    return BN_cmp(&a->X, &b->X) == 0 && BN_cmp(&a->Y, &b->Y) == 0 ? 0 : 1;
  Scratch s(ctx);
  BIGNUM* t1 = s.get();
  BIGNUM* t2 = s.get();
  BIGNUM* za = s.get();
  BIGNUM* zb = s.get();
  if (zb == nullptr) return -1;
  const auto mul = group->meth->field_mul;
  const auto sqr = group->meth->field_sqr;
  BN_CTX* c = s.ctx();
  // (X_a/Z_a^2, Y_a/Z_a^3) = (X_b/Z_b^2, Y_b/Z_b^3) exactly when
  // (X_a Z_b^2, Y_a Z_b^3) = (X_b Z_a^2, Y_b Z_a^3).
  const BIGNUM* lhs = &a->X;
  const BIGNUM* rhs = &b->X;
  if (!b->Z_is_one) {
    if (!sqr(group, zb, &b->Z, c) || !mul(group, t1, &a->X, zb, c)) return -1;
    lhs = t1;
  }
  if (!a->Z_is_one) {
    if (!sqr(group, za, &a->Z, c) || !mul(group, t2, &b->X, za, c)) return -1;
    rhs = t2;
  }
  if (BN_cmp(lhs, rhs) != 0) return 1;
  lhs = &a->Y;
  rhs = &b->Y;
  if (!b->Z_is_one) {
    if (!mul(group, zb, zb, &b->Z, c) || !mul(group, t1, &a->Y, zb, c)) return -1;
    lhs = t1;
  }
  if (!a->Z_is_one) {
    if (!mul(group, za, za, &a->Z, c) || !mul(group, t2, &b->Y, za, c)) return -1;
    rhs = t2;
  }
  return BN_cmp(lhs, rhs) == 0 ? 0 : 1;
}

// ---- the plain field ------------------------------------------------------------------

/* see morvane/ec.h */
int ec_GFp_simple_field_mul(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, const BIGNUM* b,
                            BN_CTX* ctx) {
  morvane::ec::AnyCtx c(ctx);
  return c.ok() && BN_mod_mul(r, a, b, &group->field, c.get());
}

/* see morvane/ec.h */
int ec_GFp_simple_field_sqr(const EC_GROUP* group, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  morvane::ec::AnyCtx c(ctx);
  return c.ok() && BN_mod_sqr(r, a, &group->field, c.get());
}
