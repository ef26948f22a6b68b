// Built-in DSA key generation (FIPS 186-2, 4.3 and 4.4): x uniform in
// [1, q), drawn at q's width by masks, y = g^x mod p by the constant-time
// exponentiation over q's words, and the entry point that prefers the
// method's own.

#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/err.h>

#include "dsa/internal.h"
#include "internal/ct.h"

namespace {

int builtin_keygen(DSA* dsa) {
  if (dsa->p == nullptr || dsa->q == nullptr || dsa->g == nullptr) {
    DSAerr(DSA_F_DSA_BUILTIN_KEYGEN, DSA_R_MISSING_PARAMETERS);
    return 0;
  }
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* x = dsa->priv_key;
  BIGNUM* y = dsa->pub_key;
  const bool fresh_x = x == nullptr, fresh_y = y == nullptr;
  if (fresh_x) x = BN_new();
  if (fresh_y) y = BN_new();
  int ok = 0;
  if (ctx != nullptr && x != nullptr && y != nullptr && morvane::internal::draw_below(x, dsa->q)) {
    const BIGNUM view = morvane::dsa::secret_view(x, dsa->q);
    const BIGNUM* e = (dsa->flags & DSA_FLAG_PLAIN_EXP) ? x : &view;
    if (BN_mod_exp(y, dsa->g, e, dsa->p, ctx)) {
      // y is public: its words leave the constant-time discipline.
      y->top = static_cast<int>(morvane::ct::declassify(static_cast<unsigned>(y->top)));
      for (int i = 0; i < y->top; i++) y->d[i] = morvane::ct::declassify(y->d[i]);
      dsa->priv_key = x;
      dsa->pub_key = y;
      ok = 1;
    }
  }
  if (!ok) {
    DSAerr(DSA_F_DSA_BUILTIN_KEYGEN, ERR_R_BN_LIB);
    if (fresh_x) BN_clear_free(x);
    if (fresh_y) BN_free(y);
  }
  BN_CTX_free(ctx);
  return ok;
}

}  // namespace

/* see morvane/dsa.h */
int DSA_generate_key(DSA* dsa) {
  if (dsa->meth->dsa_keygen != nullptr) return dsa->meth->dsa_keygen(dsa);
  return builtin_keygen(dsa);
}
