// The constant-time one-term multiplication over GF(p): r = k P for a secret
// k, on every group of the built-in GF(p) methods, and its entries (the
// engine itself is ecp_ct_engine.h; this file chooses its width and holds
// the widths of 1, 2, 3 and 5 limbs).

#include <stddef.h>

#include <utility>

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/ecp_ct_engine.h"
#include "ec/internal.h"

namespace {

using namespace morvane::ec::ctengine;

using OrderFn = int (*)(const EC_GROUP*, BIGNUM*, const BIGNUM*, bool, const BIGNUM*,
                        const BIGNUM*, const BIGNUM*, BN_CTX*);

template <size_t... I>
constexpr OrderFn pick_order(size_t n, std::index_sequence<I...>) {
  OrderFn fn = nullptr;
  ((n == I + 1 ? (fn = order_op_n<I + 1>, 0) : 0), ...);
  return fn;
}

int order_op(const EC_GROUP* group, BIGNUM* out, const BIGNUM* k, bool k_is_inverse,
             const BIGNUM* x, const BIGNUM* r, const BIGNUM* m, BN_CTX* ctx) {
  const BIGNUM* n = &group->order;
  if (BN_is_zero(n) || !BN_is_odd(n) || BN_is_negative(k) || (x != nullptr && BN_is_negative(x)))
    return 0;
  const size_t limbs = (static_cast<size_t>(BN_num_bits(n)) + 63) / 64;
  OrderFn fn = pick_order(limbs, std::make_index_sequence<kMaxLimbs>());
  if (fn == nullptr) return 0;
  morvane::ec::AnyCtx c(ctx);
  if (!c.ok()) return 0;
  return fn(group, out, k, k_is_inverse, x, r, m, c.get());
}

using MulFn = int (*)(const EC_GROUP*, EC_POINT*, const BIGNUM*, const EC_POINT*, const BIGNUM*,
                      const EC_POINT*, const EC_POINT* const*, size_t, BN_CTX*);

template <size_t... I>
constexpr MulFn pick(size_t n, std::index_sequence<I...>) {
  MulFn fn = nullptr;
  ((n == I + 1 ? (fn = mul_n<I + 1>, 0) : 0), ...);
  return fn;
}

}  // namespace

namespace morvane::ec {

bool ct_mul_applies(const EC_GROUP* group, const BIGNUM* scalar, size_t num,
                    const EC_POINT* points[], const BIGNUM* scalars[]) {
  const EC_METHOD* meth = group->meth;
  if (meth != EC_GFp_simple_method() && meth != EC_GFp_mont_method() &&
      meth != EC_GFp_nist_method())
    return false;
  const BIGNUM* k = scalar;
  if (scalar != nullptr && num == 0) {
    if (group->generator == nullptr) return false;
  } else if (scalar == nullptr && num == 1) {
    if (points[0] == nullptr || scalars[0] == nullptr || points[0]->meth != meth ||
        EC_POINT_is_at_infinity(group, points[0]))
      return false;
    k = scalars[0];
  } else {
    return false;
  }
  if (BN_is_zero(&group->order)) return false;  // groups without order: the wNAF path
  const int bits = BN_num_bits(&group->field);
  if (bits < 2 || bits > 661 || !BN_is_odd(&group->field)) return false;
  // k below 2^(64 n), by masks: its word count may be secret.
  return fits_words(k, 2 * ((static_cast<size_t>(bits) + 63) / 64));
}

// k P (+ k2 P2, or + T[|k| mod count]) on the limbs of the group's field.
static int run_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* k, const EC_POINT* point,
                   const BIGNUM* k2, const EC_POINT* point2, BN_CTX* ctx,
                   const EC_POINT* const small[] = nullptr, size_t small_count = 0) {
  const size_t n = (static_cast<size_t>(BN_num_bits(&group->field)) + 63) / 64;
  MulFn fn = pick(n, std::make_index_sequence<kMaxLimbs>());
  if (fn == nullptr) {
    ECERR(EC_F_EC_POINTS_MUL, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  return fn(group, r, k, point, k2, point2, small, small_count, ctx);
}

int ct_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
           const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx) {
  const EC_POINT* point = num == 0 ? group->generator : points[0];
  const BIGNUM* k = num == 0 ? scalar : scalars[0];
  AnyCtx c(ctx);
  if (!c.ok() || !run_mul(group, r, k, point, nullptr, nullptr, c.get())) return 0;
  if (BN_is_negative(k) && !EC_POINT_invert(group, r, c.get())) return 0;
  return 1;
}

int ct_mul_torsion(const EC_GROUP* group, EC_POINT* r, const BIGNUM* k, const EC_POINT* odd,
                   const EC_POINT* const small[], size_t count, BN_CTX* ctx) {
  AnyCtx c(ctx);
  if (!c.ok() || !run_mul(group, r, k, odd, nullptr, nullptr, c.get(), small, count)) return 0;
  if (BN_is_negative(k) && !EC_POINT_invert(group, r, c.get())) return 0;
  return 1;
}

bool mul2_applies(const EC_GROUP* group, const BIGNUM* scalar, size_t num, const EC_POINT* points[],
                  const BIGNUM* scalars[]) {
  if (scalar == nullptr || num != 1 || group->generator == nullptr || points[0] == nullptr ||
      scalars[0] == nullptr || BN_is_negative(scalar) || BN_is_negative(scalars[0]))
    return false;
  // Both terms must suit the one-term engine on their own.
  return ct_mul_applies(group, scalar, 0, nullptr, nullptr) &&
         ct_mul_applies(group, nullptr, 1, points, scalars);
}

int mul2(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, const EC_POINT* point,
         const BIGNUM* p_scalar, BN_CTX* ctx) {
  AnyCtx c(ctx);
  return c.ok() && run_mul(group, r, scalar, group->generator, p_scalar, point, c.get());
}

void ct_cache_drop(EC_GROUP* group) {
  group->order_two = 0;
  auto* c = static_cast<cttable::CacheHead*>(group->ct_cache);
  if (c == nullptr) return;
  if (c->table != cttable::kNoTable) MORVANE_free(c->table);
  MORVANE_free(c);
  group->ct_cache = nullptr;
}

int ct_order_inverse(const EC_GROUP* group, BIGNUM* out, const BIGNUM* k, BN_CTX* ctx) {
  return order_op(group, out, k, false, nullptr, nullptr, nullptr, ctx);
}

int ct_order_sign(const EC_GROUP* group, BIGNUM* s, const BIGNUM* k, bool k_is_inverse,
                  const BIGNUM* x, const BIGNUM* r, const BIGNUM* m, BN_CTX* ctx) {
  if (BN_is_negative(r) || BN_is_negative(m) || BN_ucmp(r, &group->order) >= 0 ||
      BN_num_bits(m) > BN_num_bits(&group->order))
    return 0;
  return order_op(group, s, k, k_is_inverse, x, r, m, ctx);
}

}  // namespace morvane::ec
