// Square roots modulo a prime: a single exponentiation for p = 3 (mod 4),
// Atkin's form for p = 5 (mod 8), Tonelli-Shanks otherwise.  Every root is
// squared back before it is returned.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

namespace {

// ret = v (one word) in `in` or a new record.
BIGNUM* word_result(BIGNUM* in, BN_ULONG v) {
  BIGNUM* ret = in != nullptr ? in : BN_new();
  if (ret == nullptr) return nullptr;
  if (!BN_set_word(ret, v)) {
    if (in == nullptr) BN_free(ret);
    return nullptr;
  }
  return ret;
}

// Finds y with (y | q) = -1: 2 .. 21, then pseudo-random draws (1 on
// success, 0 on failure with the reason pushed).
int non_residue(BIGNUM* y, const BIGNUM* q, const BIGNUM* p, BN_CTX* ctx) {
  for (int i = 2; i < 82; i++) {
    if (i < 22) {
      if (!BN_set_word(y, static_cast<BN_ULONG>(i))) return 0;
    } else {
      if (!BN_pseudo_rand(y, BN_num_bits(p), 0, 0)) return 0;
      if (BN_ucmp(y, p) >= 0 && !BN_usub(y, y, p)) return 0;
      if (BN_is_zero(y) && !BN_set_word(y, static_cast<BN_ULONG>(i))) return 0;
    }
    const int r = BN_kronecker(y, q, ctx);
    if (r < -1) return 0;
    if (r == 0) {
      BNerr(BN_F_BN_MOD_SQRT, BN_R_P_IS_NOT_PRIME);
      return 0;
    }
    if (r == -1) return 1;
  }
  BNerr(BN_F_BN_MOD_SQRT, BN_R_TOO_MANY_ITERATIONS);
  return 0;
}

// x = a square root of A mod p (A reduced); 1, or 0 with the reason pushed.
// *zero is set when the root is 0 and needs no check.
int root(BIGNUM* x, const BIGNUM* A, const BIGNUM* p, BN_CTX* ctx, bn::Frame& frame, bool* zero) {
  BIGNUM *b = frame.get(), *q = frame.get(), *t = frame.get(), *y = frame.get();
  if (y == nullptr || BN_copy(q, p) == nullptr) return 0;
  q->neg = 0;
  int e = 1;
  while (!BN_is_bit_set(q, e)) e++;
  if (e == 1) {  // x = A^((p + 1) / 4)
    return BN_rshift(q, q, 2) && BN_add_word(q, 1) && BN_mod_exp(x, A, q, p, ctx);
  }
  if (e == 2) {  // t = 2A, b = t^((p - 5) / 8), x = A b (t b^2 - 1)
    return BN_mod_lshift1_quick(t, A, q) && BN_rshift(q, q, 3) && BN_mod_exp(b, t, q, p, ctx) &&
           BN_mod_sqr(y, b, p, ctx) && BN_mod_mul(t, t, y, p, ctx) && BN_sub_word(t, 1) &&
           BN_mod_mul(x, A, b, p, ctx) && BN_mod_mul(x, x, t, p, ctx);
  }
  if (!non_residue(y, q, p, ctx) || !BN_rshift(q, q, e) || !BN_mod_exp(y, y, q, p, ctx)) return 0;
  if (BN_is_one(y)) {
    BNerr(BN_F_BN_MOD_SQRT, BN_R_P_IS_NOT_PRIME);
    return 0;
  }
  if (!BN_rshift1(t, q)) return 0;
  if (BN_is_zero(t)) {
    if (BN_is_zero(A)) return (*zero = true, BN_zero(x));
    if (!BN_one(x)) return 0;
  } else {
    if (!BN_mod_exp(x, A, t, p, ctx)) return 0;
    if (BN_is_zero(x)) return (*zero = true, 1);
  }
  if (!BN_mod_sqr(b, x, p, ctx) || !BN_mod_mul(b, b, A, p, ctx) || !BN_mod_mul(x, x, A, p, ctx))
    return 0;
  while (!BN_is_one(b)) {
    int i = 1;
    if (!BN_mod_sqr(t, b, p, ctx)) return 0;
    while (!BN_is_one(t)) {
      if (++i == e) {
        BNerr(BN_F_BN_MOD_SQRT, BN_R_NOT_A_SQUARE);
        return 0;
      }
      if (!BN_mod_sqr(t, t, p, ctx)) return 0;
    }
    if (BN_copy(t, y) == nullptr) return 0;
    for (int j = e - i - 1; j > 0; j--)
      if (!BN_mod_sqr(t, t, p, ctx)) return 0;
    if (!BN_mod_sqr(y, t, p, ctx) || !BN_mod_mul(x, x, t, p, ctx) || !BN_mod_mul(b, b, y, p, ctx))
      return 0;
    e = i;
  }
  return 1;
}

}  // namespace

/* see morvane/bn.h */
BIGNUM* BN_mod_sqrt(BIGNUM* in, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  if (!BN_is_odd(p) || BN_abs_is_word(p, 1)) {
    if (BN_abs_is_word(p, 2)) return word_result(in, BN_is_bit_set(a, 0) ? 1 : 0);
    BNerr(BN_F_BN_MOD_SQRT, BN_R_P_IS_NOT_PRIME);
    return nullptr;
  }
  if (BN_is_zero(a) || BN_is_one(a)) return word_result(in, BN_is_one(a) ? 1 : 0);
  bn::Frame frame(ctx);
  BIGNUM *A = frame.get(), *x = frame.get(), *check = frame.get();
  BIGNUM* ret = in != nullptr ? in : BN_new();
  if (ret == nullptr) return nullptr;
  bool zero = false;
  bool ok = check != nullptr && BN_nnmod(A, a, p, ctx) && root(x, A, p, ctx, frame, &zero);
  if (ok && !zero) {
    ok = BN_mod_sqr(check, x, p, ctx);
    if (ok && BN_cmp(check, A) != 0) {
      BNerr(BN_F_BN_MOD_SQRT, BN_R_NOT_A_SQUARE);
      ok = false;
    }
  }
  if (ok && BN_copy(ret, x) != nullptr) return ret;  // a zero root is x = 0
  if (in == nullptr) BN_clear_free(ret);
  return nullptr;
}
