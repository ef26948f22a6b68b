// Points of the GF(p) methods brought to affine form (Z = 1): one at a time,
// and many at once with a single field inversion.
//
// Implementation notes: the many-point form multiplies the Z coordinates up
// a binary tree, inverts the product at the root, and passes the inverses
// down (Montgomery's trick).  A point at infinity (Z = 0) counts as one in
// the products and keeps its Z of zero on the way down, so it stays the
// point at infinity and its sibling still gets its own inverse.

#include <stdint.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

using morvane::ec::Scratch;

/* see morvane/ec.h */
int ec_GFp_simple_make_affine(const EC_GROUP* group, EC_POINT* point, BN_CTX* ctx) {
  if (point->Z_is_one || EC_POINT_is_at_infinity(group, point)) return 1;
  Scratch s(ctx);
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  if (y == nullptr) return 0;
  if (!EC_POINT_get_affine_coordinates_GFp(group, point, x, y, s.ctx()) ||
      !EC_POINT_set_affine_coordinates_GFp(group, point, x, y, s.ctx()))
    return 0;
  if (!point->Z_is_one) {
    ECERR(EC_F_EC_GFP_SIMPLE_MAKE_AFFINE, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  return 1;
}

/* see morvane/ec.h */
int ec_GFp_simple_points_make_affine(const EC_GROUP* group, size_t num, EC_POINT* points[],
                                     BN_CTX* ctx) {
  if (num == 0) return 1;
  if (num > SIZE_MAX / 4 / sizeof(BIGNUM*)) return 0;
  Scratch s(ctx);
  BIGNUM* tmp0 = s.get();
  BIGNUM* tmp1 = s.get();
  if (tmp1 == nullptr) return 0;
  const EC_METHOD* m = group->meth;
  BN_CTX* c = s.ctx();
  // A binary tree in heap order: the leaves (from half on) are the Z of the
  // points, each inner node the product of its children, where a zero or
  // absent child counts as one.  One inversion at the root, then each node's
  // inverse is passed down: a left child's inverse is its parent's inverse
  // times its sibling, and the other way round.
  size_t half = 1;
  while (half < num) half <<= 1;
  const size_t pow2 = half << 1;
  auto** heap = static_cast<BIGNUM**>(MORVANE_malloc(pow2 * sizeof(BIGNUM*)));
  if (heap == nullptr) return 0;
  heap[0] = nullptr;
  for (size_t i = 1; i < half; i++) heap[i] = nullptr;
  for (size_t i = 0; i < num; i++) heap[half + i] = &points[i]->Z;
  for (size_t i = half + num; i < pow2; i++) heap[i] = nullptr;
  auto fill = [&]() -> bool {
    for (size_t i = half - 1; i > 0; i--) {
      heap[i] = BN_new();
      if (heap[i] == nullptr) return false;
      const BIGNUM* l = heap[2 * i];
      const BIGNUM* r = heap[2 * i + 1];
      if (l == nullptr) continue;  // stays zero: no point below
      if (r == nullptr || BN_is_zero(r)) {
        if (BN_copy(heap[i], l) == nullptr) return false;
      } else if (BN_is_zero(l)) {
        if (BN_copy(heap[i], r) == nullptr) return false;
      } else if (!m->field_mul(group, heap[i], l, r, c)) {
        return false;
      }
    }
    if (!BN_is_zero(heap[1]) && BN_mod_inverse(heap[1], heap[1], &group->field, c) == nullptr) {
      ECERR(EC_F_EC_GFP_SIMPLE_POINTS_MAKE_AFFINE, ERR_R_BN_LIB);
      return false;
    }
    // Inverting the encoded value R v gave 1/(R v); R (1/v) is wanted.
    if (m->field_encode != nullptr && (!m->field_encode(group, heap[1], heap[1], c) ||
                                       !m->field_encode(group, heap[1], heap[1], c)))
      return false;
    for (size_t i = 2; i < half + num; i += 2) {
      BIGNUM* l = heap[i];
      BIGNUM* r = heap[i + 1];
      if (r == nullptr || BN_is_zero(r)) {
        // l alone made up the parent (or both are zero, and so is the parent).
        if (BN_copy(l, heap[i / 2]) == nullptr) return false;
      } else if (BN_is_zero(l)) {
        // r alone made up the parent; l, zero, has nothing to invert.
        if (BN_copy(r, heap[i / 2]) == nullptr) return false;
      } else if (!m->field_mul(group, tmp0, heap[i / 2], r, c) ||
                 !m->field_mul(group, tmp1, heap[i / 2], l, c) || BN_copy(l, tmp0) == nullptr ||
                 BN_copy(r, tmp1) == nullptr) {
        return false;
      }
    }
    return true;
  };
  bool ok = fill();
  // Every non-zero Z now holds its inverse: (X, Y, 1/Z) becomes
  // (X/Z^2, Y/Z^3, 1).  Points at infinity stay as they are.
  for (size_t i = 0; ok && i < num; i++) {
    EC_POINT* pt = points[i];
    if (BN_is_zero(&pt->Z)) continue;
    ok = m->field_sqr(group, tmp1, &pt->Z, c) && m->field_mul(group, &pt->X, &pt->X, tmp1, c) &&
         m->field_mul(group, tmp1, tmp1, &pt->Z, c) &&
         m->field_mul(group, &pt->Y, &pt->Y, tmp1, c) &&
         (m->field_set_to_one != nullptr ? m->field_set_to_one(group, &pt->Z, c) : BN_one(&pt->Z));
    if (ok) pt->Z_is_one = 1;
  }
  for (size_t i = 1; i < half; i++) BN_clear_free(heap[i]);
  MORVANE_free(heap);
  return ok ? 1 : 0;
}
