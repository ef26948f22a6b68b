// The consistency check of an RSA private key (the relations of RFC 8017,
// 3.2): every test runs, each failure queues its own reason.  Two shapes are
// refused before them: p = q (n is then a square, whose root anyone can
// take) and e = 1 (no encryption at all).

#include <initializer_list>
#include <utility>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "rsa/internal.h"

namespace {

using morvane::rsa::minus_one;
using morvane::rsa::one_mask;
using morvane::rsa::reveal;
using morvane::rsa::reveal_top;
using morvane::rsa::secret_view;

// Queues `reason` and marks the key invalid.
void fail(int* ret, int reason) {
  RSAerr(RSA_F_RSA_CHECK_KEY, reason);
  *ret = 0;
}

// The refused shapes: 1, or 0 with each one's reason queued; *equal tells
// whether p = q (the tests below then cannot run: q has no inverse mod p).
// p and q are compared by masks.
int shape(const RSA* key, bool* equal) {
  int ret = 1;
  *equal = morvane::rsa::same_value(key->p, key->q);
  if (*equal) fail(&ret, RSA_R_P_EQUALS_Q);
  if (BN_is_one(key->e)) fail(&ret, RSA_R_BAD_E_VALUE);
  return ret;
}

// The tests over numbers i, j, k, l, m taken from ctx; 1, 0 or -1.  The
// secrets are seen through views flagged BN_FLAG_SECRET (unless the key asks
// for no constant-time marks), so that the primality tests, the reductions
// and the inverse take their constant-time forms; the comparisons are by
// masks, only their verdicts public.
int check(const RSA* key, BN_CTX* ctx, BIGNUM* i, BIGNUM* j, BIGNUM* k, BIGNUM* l, BIGNUM* m) {
  int ret = 1;
  const BIGNUM p = secret_view(key->p, key), q = secret_view(key->q, key);
  for (const auto& [prime, reason] :
       {std::pair{&p, RSA_R_P_NOT_PRIME}, std::pair{&q, RSA_R_Q_NOT_PRIME}}) {
    const int r = BN_is_prime_ex(prime, BN_prime_checks, nullptr, nullptr);
    if (r < 0) return -1;
    if (r == 0) fail(&ret, reason);
  }
  if (!BN_mul(i, key->p, key->q, ctx)) return -1;
  if (!morvane::rsa::same_value(i, key->n)) fail(&ret, RSA_R_N_DOES_NOT_EQUAL_P_Q);
  // d e = 1 mod lcm(p - 1, q - 1), that is modulo p - 1 (in i) and modulo
  // q - 1 (in j); every number is 1 modulo 1.
  if (!minus_one(i, key->p) || !minus_one(j, key->q) || !BN_mul(l, key->d, key->e, ctx)) return -1;
  reveal_top(l);
  const BIGNUM de = secret_view(l, key), pm = secret_view(i, key), qm = secret_view(j, key);
  if (!BN_nnmod(k, &de, &pm, ctx) || !BN_nnmod(m, &de, &qm, ctx)) return -1;
  const BN_ULONG congruent = (one_mask(k) | one_mask(i)) & (one_mask(m) | one_mask(j));
  if (reveal(congruent) == 0) fail(&ret, RSA_R_D_E_NOT_CONGRUENT_TO_1);
  if (key->dmp1 != nullptr && key->dmq1 != nullptr && key->iqmp != nullptr) {
    const BIGNUM d = secret_view(key->d, key);
    if (!BN_mod(k, &d, &pm, ctx)) return -1;
    if (!morvane::rsa::same_value(k, key->dmp1)) fail(&ret, RSA_R_DMP1_NOT_CONGRUENT_TO_D);
    if (!BN_mod(k, &d, &qm, ctx)) return -1;
    if (!morvane::rsa::same_value(k, key->dmq1)) fail(&ret, RSA_R_DMQ1_NOT_CONGRUENT_TO_D);
    if (BN_mod_inverse(k, &q, &p, ctx) == nullptr) return -1;
    if (!morvane::rsa::same_value(k, key->iqmp)) fail(&ret, RSA_R_IQMP_NOT_INVERSE_OF_Q);
  }
  return ret;
}

}  // namespace

/* see morvane/rsa.h */
int RSA_check_key(const RSA* key) {
  if (key->n == nullptr || key->e == nullptr || key->d == nullptr || key->p == nullptr ||
      key->q == nullptr) {
    RSAerr(RSA_F_RSA_CHECK_KEY, ERR_R_PASSED_NULL_PARAMETER);
    return -1;
  }
  bool p_is_q;
  const int shape_ok = shape(key, &p_is_q);
  if (p_is_q) return 0;
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) {
    RSAerr(RSA_F_RSA_CHECK_KEY, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  BN_CTX_start(ctx);
  BIGNUM* i = BN_CTX_get(ctx);
  BIGNUM* j = BN_CTX_get(ctx);
  BIGNUM* k = BN_CTX_get(ctx);
  BIGNUM* l = BN_CTX_get(ctx);
  BIGNUM* m = BN_CTX_get(ctx);
  int ret = -1;
  if (m == nullptr) {
    RSAerr(RSA_F_RSA_CHECK_KEY, ERR_R_MALLOC_FAILURE);
  } else {
    ret = check(key, ctx, i, j, k, l, m);
    if (ret == 1) ret = shape_ok;
  }
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ret;
}
