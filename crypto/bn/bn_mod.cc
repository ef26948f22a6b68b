// Modular operations over the signed division: the non-negative remainder,
// modular add, subtract, multiply, square and shifts, and their quick forms
// for inputs already reduced.
//
// Implementation notes: the result may be any operand, the modulus included:
// an operation whose result record is also the modulus it still reads works
// in a scratch number and copies at the end.

#include <morvane/bn.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

namespace {

// op(out) with out = r, or a scratch number when r is the modulus m (which
// op reads to the end); the scratch value is then copied into r.
template <class Op>
int into(BIGNUM* r, const BIGNUM* m, BN_CTX* ctx, Op op) {
  if (r != m) return op(r);
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  return t != nullptr && op(t) && BN_copy(r, t) != nullptr ? 1 : 0;
}

}  // namespace

/* see morvane/bn.h */
int BN_nnmod(BIGNUM* r, const BIGNUM* m, const BIGNUM* d, BN_CTX* ctx) {
  return into(r, d, ctx, [&](BIGNUM* o) {
    if (!bn::div(nullptr, o, m, d, ctx)) return 0;
    if (!o->neg) return 1;
    return d->neg ? BN_sub(o, o, d) : BN_add(o, o, d);  // o + |d|
  });
}

int BN_mod_add(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* ctx) {
  return into(r, m, ctx, [&](BIGNUM* o) { return BN_add(o, a, b) && BN_nnmod(o, o, m, ctx); });
}

int BN_mod_sub(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* ctx) {
  return into(r, m, ctx, [&](BIGNUM* o) { return BN_sub(o, a, b) && BN_nnmod(o, o, m, ctx); });
}

int BN_mod_mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr) return 0;
  if (!(a == b ? bn::sqr(t, a, ctx) : bn::mul(t, a, b, ctx))) return 0;
  return BN_nnmod(r, t, m, ctx);
}

int BN_mod_sqr(BIGNUM* r, const BIGNUM* a, const BIGNUM* m, BN_CTX* ctx) {
  // The square is non-negative, so the truncated remainder is too.
  return into(r, m, ctx,
              [&](BIGNUM* o) { return bn::sqr(o, a, ctx) && bn::div(nullptr, o, o, m, ctx); });
}

int BN_mod_lshift1(BIGNUM* r, const BIGNUM* a, const BIGNUM* m, BN_CTX* ctx) {
  return into(r, m, ctx, [&](BIGNUM* o) { return BN_lshift1(o, a) && BN_nnmod(o, o, m, ctx); });
}

int BN_mod_lshift(BIGNUM* r, const BIGNUM* a, int n, const BIGNUM* m, BN_CTX* ctx) {
  if (n < 0) {  // as BN_lshift: a negative count is no shift
    BNerr(BN_F_BN_MOD_LSHIFT, BN_R_INVALID_LENGTH);
    return 0;
  }
  return into(r, m, ctx, [&](BIGNUM* o) {
    if (!BN_nnmod(o, a, m, ctx)) return 0;
    BIGNUM abs_m = *m;  // |m|: a read-only view of m's words
    abs_m.neg = 0;
    return BN_mod_lshift_quick(o, o, n, &abs_m);
  });
}

int BN_mod_add_quick(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m) {
  if (!BN_uadd(r, a, b)) return 0;
  return BN_ucmp(r, m) >= 0 ? BN_usub(r, r, m) : 1;
}

int BN_mod_sub_quick(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m) {
  if (!BN_sub(r, a, b)) return 0;
  return r->neg ? BN_add(r, r, m) : 1;
}

int BN_mod_lshift1_quick(BIGNUM* r, const BIGNUM* a, const BIGNUM* m) {
  if (!BN_lshift1(r, a)) return 0;
  return BN_cmp(r, m) >= 0 ? BN_sub(r, r, m) : 1;
}

int BN_mod_lshift_quick(BIGNUM* r, const BIGNUM* a, int n, const BIGNUM* m) {
  if (n < 0) {
    BNerr(BN_F_BN_MOD_LSHIFT_QUICK, BN_R_INVALID_LENGTH);
    return 0;
  }
  if (r != a && BN_copy(r, a) == nullptr) return 0;
  while (n > 0) {
    int s = BN_num_bits(m) - BN_num_bits(r);
    if (s < 0) {
      BNerr(BN_F_BN_MOD_LSHIFT_QUICK, BN_R_INPUT_NOT_REDUCED);
      return 0;
    }
    if (s > n) s = n;
    if (s == 0) s = 1;
    if (!BN_lshift(r, r, s)) return 0;
    n -= s;
    if (BN_cmp(r, m) >= 0 && !BN_sub(r, r, m)) return 0;
  }
  return 1;
}
