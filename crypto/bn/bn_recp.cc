// Reduction by a precomputed reciprocal: Nr = floor(2^shift / N) turns a
// division by N into two products and shifts, corrected by a few
// subtractions.
//
// Implementation notes: with i = max(bits(m), 2 bits(N)) and k = bits(N),
// d = floor(floor(m / 2^k) Nr / 2^(i-k)) falls short of floor(|m| / N) by at
// most a few units; each correction subtracts N once.  Nr is computed on the
// first division that needs its size and kept (shift -1 records a failure).

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

/* see morvane/bn.h */
void BN_RECP_CTX_init(BN_RECP_CTX* recp) {
  BN_init(&recp->N);
  BN_init(&recp->Nr);
  recp->num_bits = 0;
  recp->shift = 0;
  recp->flags = 0;
}

BN_RECP_CTX* BN_RECP_CTX_new(void) {
  auto* recp = static_cast<BN_RECP_CTX*>(MORVANE_malloc(sizeof(BN_RECP_CTX)));
  if (recp == nullptr) return nullptr;
  BN_RECP_CTX_init(recp);
  recp->flags = BN_FLAG_HEAP;
  return recp;
}

void BN_RECP_CTX_free(BN_RECP_CTX* recp) {
  if (recp == nullptr) return;
  BN_free(&recp->N);
  BN_free(&recp->Nr);
  if (recp->flags & BN_FLAG_HEAP) MORVANE_free(recp);
}

int BN_RECP_CTX_set(BN_RECP_CTX* recp, const BIGNUM* d, BN_CTX*) {
  if (BN_copy(&recp->N, d) == nullptr) return 0;
  recp->Nr.top = 0;
  recp->Nr.neg = 0;
  recp->num_bits = BN_num_bits(d);
  recp->shift = 0;
  return 1;
}

int BN_reciprocal(BIGNUM* r, const BIGNUM* m, int len, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr || !BN_set_bit(t, len) || !bn::div(r, nullptr, t, m, ctx)) return -1;
  return len;
}

int BN_div_recp(BIGNUM* dv, BIGNUM* rem, const BIGNUM* m, BN_RECP_CTX* recp, BN_CTX* ctx) {
  const int m_neg = m->neg;
  bn::Frame frame(ctx);
  if (dv == m || rem == m) {  // the results are written while m is still read
    BIGNUM* copy = frame.get();
    if (copy == nullptr || BN_copy(copy, m) == nullptr) return 0;
    m = copy;
  }
  BIGNUM* a = frame.get();
  BIGNUM* b = frame.get();
  BIGNUM* d = dv != nullptr ? dv : frame.get();
  BIGNUM* r = rem != nullptr ? rem : frame.get();
  if (a == nullptr || b == nullptr || d == nullptr || r == nullptr) return 0;
  const BIGNUM* N = &recp->N;
  if (BN_ucmp(m, N) < 0) {
    d->top = 0;
    d->neg = 0;
    return BN_copy(r, m) != nullptr ? 1 : 0;
  }
  const int k = recp->num_bits, mb = BN_num_bits(m);
  const int i = mb > 2 * k ? mb : 2 * k;
  if (i != recp->shift) recp->shift = BN_reciprocal(&recp->Nr, N, i, ctx);
  if (recp->shift == -1) return 0;
  if (!BN_rshift(a, m, k) || !bn::mul(b, a, &recp->Nr, ctx) || !BN_rshift(d, b, i - k)) return 0;
  d->neg = 0;
  if (!bn::mul(b, N, d, ctx) || !BN_usub(r, m, b)) return 0;
  r->neg = 0;
  for (int j = 0; BN_ucmp(r, N) >= 0; j++) {
    if (j == 3) {
      BNerr(BN_F_BN_DIV_RECP, BN_R_BAD_RECIPROCAL);
      return 0;
    }
    if (!BN_usub(r, r, N) || !BN_add_word(d, 1)) return 0;
  }
  r->neg = r->top != 0 ? m_neg : 0;
  d->neg = d->top != 0 ? m_neg ^ N->neg : 0;
  return 1;
}

int BN_mod_mul_reciprocal(BIGNUM* r, const BIGNUM* x, const BIGNUM* y, BN_RECP_CTX* recp,
                          BN_CTX* ctx) {
  bn::Frame frame(ctx);
  const BIGNUM* ca = x;
  if (y != nullptr) {
    BIGNUM* a = frame.get();
    if (a == nullptr || !(x == y ? bn::sqr(a, x, ctx) : bn::mul(a, x, y, ctx))) return 0;
    ca = a;
  }
  return BN_div_recp(nullptr, r, ca, recp, ctx);
}
