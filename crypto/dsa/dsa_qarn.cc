// The built-in DSA method: signing setup, signing and verification (FIPS
// 186-2, 4.6 and 4.7), and the method's init and finish.
//
// Implementation notes: k is drawn at q's width, compared with q by masks
// (internal::draw_below).  The exponent of g is a secret of one public length:
// k at the width of q's words for the library's constant-time
// exponentiation, which reads exactly those words; for a method's own
// bn_mod_exp, which may look at its bit length, K = k + q or k + 2q,
// whichever has bits(q) + 1 bits, chosen by a mask.  k^-1, x r and the
// product with k^-1 are computed on fixed-width limbs modulo q (see
// internal.h).  r and s, which the signature publishes, leave the
// constant-time discipline when they are stored.

#include <string.h>

#include <initializer_list>
#include <utility>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/err.h>

#include "dsa/internal.h"
#include "internal/ct.h"
#include "internal/lock.h"
#include "internal/wipe.h"

namespace morvane::dsa {

namespace {

// Tries for a nonce with r and s both non-zero before giving up (each try
// fails with probability about 2 / q).
constexpr int kSignTries = 64;

// A Montgomery context of q for the length of one call, with its Modulus.
class QModulus {
 public:
  QModulus() noexcept { BN_MONT_CTX_init(&mont_); }
  ~QModulus() {
    BN_MONT_CTX_free(&mont_);
    internal::wipe(m_);
  }
  QModulus(const QModulus&) = delete;
  QModulus& operator=(const QModulus&) = delete;
  bool set(const BIGNUM* q, BN_CTX* ctx) {
    return BN_num_bits(q) <= 32 * kMaxQWords && BN_MONT_CTX_set(&mont_, q, ctx) &&
           set_modulus(&m_, &mont_);
  }
  const Modulus& get() const noexcept { return m_; }

 private:
  BN_MONT_CTX mont_;
  Modulus m_{};
};

// K = k + q when that has bits(q) + 1 bits, else k + 2q (k < q), as a
// secret-marked number of bits(q) / 32 + 1 words.
bool lengthen(BIGNUM* K, const BIGNUM* k, const BIGNUM* q) {
  const int qbits = BN_num_bits(q);
  const int kw = qbits / 32 + 1;
  BN_ULONG kk[kMaxQWords + 1], qq[kMaxQWords + 1], k1[kMaxQWords + 1], k2[kMaxQWords + 1];
  load_words(kk, kw, k);
  load_words(qq, kw, q);
  bn_add_words(k1, kk, qq, kw);
  bn_add_words(k2, k1, qq, kw);  // may overflow only when it is not chosen
  const BN_ULONG long_enough = ct::bit_mask((k1[qbits / 32] >> (qbits % 32)) & 1);
  bool ok = false;
  if (bn_expand2(K, kw) != nullptr) {
    for (int i = 0; i < kw; i++) K->d[i] = ct::select(long_enough, k1[i], k2[i]);
    K->top = kw;  // bit qbits is set either way
    K->neg = 0;
    BN_set_flags(K, BN_FLAG_SECRET);
    ok = true;
  }
  for (BN_ULONG* w : {kk, k1, k2}) internal::wipe(w, sizeof(BN_ULONG) * (kMaxQWords + 1));
  return ok;
}

// K = k at the width of q's words (its top words may be zero), a
// secret-marked exponent whose length is public: the library's
// constant-time exponentiation reads the words below top and nothing else.
bool widen(BIGNUM* K, const BIGNUM* k, const BIGNUM* q) {
  const int kw = q->top;
  if (bn_expand2(K, kw) == nullptr) return false;
  load_words(K->d, kw, k);
  K->top = kw;
  K->neg = 0;
  BN_set_flags(K, BN_FLAG_SECRET);
  return true;
}

// r = (g^K mod p) mod q into rq, from the exponentiation's result in t.
bool reduce_r(BIGNUM* rq, const BIGNUM* t, const BIGNUM* p, const Modulus& m) {
  const int pw = p->top;
  auto* w = static_cast<BN_ULONG*>(MORVANE_malloc(sizeof(BN_ULONG) * static_cast<size_t>(pw)));
  if (w == nullptr) return false;
  load_words(w, pw, t);
  Limb r[kMaxQLimbs];
  reduce(r, w, pw, m);
  internal::wipe(w, sizeof(BN_ULONG) * static_cast<size_t>(pw));
  MORVANE_free(w);
  return store_public(rq, r, m) != 0;
}

// *kinv = k^-1 mod q, by Fermat, checked against k (a composite q fails).
bool invert(BIGNUM* kinv, const BIGNUM* k, const Modulus& m) {
  Limb kl[kMaxQLimbs], km[kMaxQLimbs], inv[kMaxQLimbs], check[kMaxQLimbs];
  const Limb one[kMaxQLimbs] = {1};
  load_limbs(kl, k, m);
  mont_mul(km, kl, m.rr, m);      // k R
  mont_inverse(inv, km, m);       // k^-1 R
  mont_mul(check, inv, kl, m);    // k^-1 k
  const bool good = ct::declassify(equal_limbs(check, one, m.nl)) != 0;
  mont_mul(inv, inv, one, m);     // k^-1
  const bool ok = good && store_secret(kinv, inv, m);
  for (Limb* l : {kl, km, inv, check}) internal::wipe(l, sizeof(Limb) * kMaxQLimbs);
  return ok;
}

// The setup for parameters already checked, with q's modulus made: draws
// k and sets *kinvp = k^-1 mod q and *rp = (g^k mod p) mod q; on failure
// pushes "BN lib" and leaves them as they were.
int setup(DSA* dsa, BN_CTX* ctx, const Modulus& qm, BIGNUM** kinvp, BIGNUM** rp) {
  BIGNUM* k = BN_new();
  BIGNUM* K = BN_new();
  BIGNUM* t = BN_new();
  BIGNUM* r = BN_new();
  BIGNUM* kinv = BN_new();
  int ok = 0;
  if (k != nullptr && K != nullptr && t != nullptr && r != nullptr && kinv != nullptr &&
      internal::draw_below(k, dsa->q)) {
    bool mont_failed = false;
    BN_MONT_CTX* mont = cached_mont(dsa, ctx, &mont_failed);
    const bool plain = (dsa->flags & DSA_FLAG_PLAIN_EXP) != 0;
    const bool hook = dsa->meth->bn_mod_exp != nullptr;
    const BIGNUM* e = plain ? k : K;
    if (!mont_failed &&
        (plain || (hook ? lengthen(K, k, dsa->q) : widen(K, k, dsa->q)))) {
      const bool raised = hook ? dsa->meth->bn_mod_exp(dsa, t, dsa->g, e, dsa->p, ctx, mont)
                               : BN_mod_exp_mont(t, dsa->g, e, dsa->p, ctx, mont);
      ok = raised && reduce_r(r, t, dsa->p, qm) && invert(kinv, k, qm);
    }
  }
  if (!ok) DSAerr(DSA_F_DSA_SIGN_SETUP, ERR_R_BN_LIB);
  BN_clear_free(k);
  BN_clear_free(K);
  BN_clear_free(t);
  if (ok) {
    BN_clear_free(*kinvp);
    BN_clear_free(*rp);
    *kinvp = kinv;
    *rp = r;
  } else {
    BN_clear_free(kinv);
    BN_clear_free(r);
  }
  return ok;
}

int sign_setup(DSA* dsa, BN_CTX* ctx_in, BIGNUM** kinvp, BIGNUM** rp) {
  if (dsa->p == nullptr || dsa->q == nullptr || dsa->g == nullptr) {
    DSAerr(DSA_F_DSA_SIGN_SETUP, DSA_R_MISSING_PARAMETERS);
    return 0;
  }
  BN_CTX* own = ctx_in == nullptr ? BN_CTX_new() : nullptr;
  BN_CTX* const ctx = ctx_in != nullptr ? ctx_in : own;
  QModulus qm;
  int ok = 0;
  if (ctx != nullptr && qm.set(dsa->q, ctx)) {
    ok = setup(dsa, ctx, qm.get(), kinvp, rp);
  } else {
    DSAerr(DSA_F_DSA_SIGN_SETUP, ERR_R_BN_LIB);
  }
  BN_CTX_free(own);
  return ok;
}

// s = kinv (m + x r) mod q on limbs; false only when a number cannot grow.
bool sign_s(BIGNUM* s, const BIGNUM* kinv, const BIGNUM* r, const Limb* x, const Limb* msg,
            const Modulus& m) {
  Limb rl[kMaxQLimbs], t[kMaxQLimbs], ki[kMaxQLimbs];
  reduce(rl, r->d, r->top, m);  // r is public
  mont_mul(rl, rl, m.rr, m);    // r R
  mont_mul(t, x, rl, m);        // x r
  add_mod(t, t, msg, m);        // m + x r
  load_limbs(ki, kinv, m);
  mont_mul(ki, ki, m.rr, m);    // kinv R
  mont_mul(t, t, ki, m);        // kinv (m + x r)
  const bool ok = store_public(s, t, m) != 0;
  for (Limb* l : {rl, t, ki}) internal::wipe(l, sizeof(Limb) * kMaxQLimbs);
  return ok;
}

DSA_SIG* do_sign(const unsigned char* dgst, int dlen, DSA* dsa) {
  int reason = ERR_R_BN_LIB;
  DSA_SIG* ret = nullptr;
  BIGNUM *kinv = nullptr, *r = nullptr, *s = nullptr, *msg = nullptr;
  BN_CTX* ctx = nullptr;
  QModulus qm;
  Limb x[kMaxQLimbs] = {}, mw[kMaxQLimbs] = {};
  if (dsa->p == nullptr || dsa->q == nullptr || dsa->g == nullptr || dsa->priv_key == nullptr) {
    reason = DSA_R_MISSING_PARAMETERS;
    goto err;
  }
  if (dlen < 0) {
    reason = DSA_R_INVALID_DIGEST_LENGTH;
    goto err;
  }
  if (dlen > BN_num_bytes(dsa->q) || dlen > 50) {
    reason = DSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE;
    goto err;
  }
  if ((ctx = BN_CTX_new()) == nullptr || (s = BN_new()) == nullptr) goto err;
  if (BN_num_bits(dsa->q) > 32 * kMaxQWords) {
    reason = DSA_R_BAD_Q_VALUE;
    goto err;
  }
  if (!qm.set(dsa->q, ctx)) goto err;
  // The digest whole as a number (FIPS 186-2, 4.6), and x, modulo q.
  if ((msg = BN_bin2bn(dgst, dlen, nullptr)) == nullptr || !BN_nnmod(msg, msg, dsa->q, ctx))
    goto err;
  load_limbs(mw, msg, qm.get());
  reduce(x, dsa->priv_key->d, dsa->priv_key->top, qm.get());
  for (int tries = 0;; tries++) {
    bool precomputed = false;
    if (dsa->kinv != nullptr && dsa->r != nullptr) {  // used once
      kinv = dsa->kinv;
      r = dsa->r;
      dsa->kinv = dsa->r = nullptr;
      precomputed = true;
    } else if (tries == kSignTries) {
      goto err;
    } else if (dsa->meth->dsa_sign_setup == sign_setup) {  // q's modulus is made
      if (!setup(dsa, ctx, qm.get(), &kinv, &r)) goto err;
    } else if (!DSA_sign_setup(dsa, ctx, &kinv, &r)) {
      goto err;
    }
    if (!sign_s(s, kinv, r, x, mw, qm.get())) goto err;
    if (!BN_is_zero(r) && !BN_is_zero(s)) break;
    if (precomputed) goto err;  // no other nonce to take
    BN_clear_free(kinv);
    BN_free(r);
    kinv = r = nullptr;
  }
  ret = DSA_SIG_new();
  if (ret == nullptr) goto err;
  ret->r = r;
  ret->s = s;
  r = s = nullptr;
err:
  if (ret == nullptr) DSAerr(DSA_F_DSA_DO_SIGN, reason);
  BN_clear_free(kinv);
  BN_free(r);
  BN_free(s);
  BN_free(msg);
  BN_CTX_free(ctx);
  internal::wipe(x);
  return ret;
}

// The values under which g and y were found of order q.
using Checked = dsa_group_checked_st;

bool same_values(const Checked* c, const DSA* dsa) {
  return c != nullptr && BN_cmp(c->p, dsa->p) == 0 && BN_cmp(c->q, dsa->q) == 0 &&
         BN_cmp(c->g, dsa->g) == 0 && BN_cmp(c->y, dsa->pub_key) == 0;
}

// Keeps a copy of the key's values as checked; without memory nothing is
// kept (the next verification checks again).
void keep_checked(DSA* dsa) {
  auto* c = static_cast<Checked*>(MORVANE_malloc(sizeof(Checked)));
  if (c == nullptr) return;
  c->p = BN_dup(dsa->p);
  c->q = BN_dup(dsa->q);
  c->g = BN_dup(dsa->g);
  c->y = BN_dup(dsa->pub_key);
  if (c->p == nullptr || c->q == nullptr || c->g == nullptr || c->y == nullptr) {
    group_checked_free(c);
    return;
  }
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_DSA);
    std::swap(c, dsa->group_checked);  // the old copy goes after the lock
  }
  group_checked_free(c);
}

// Whether v lies in the subgroup of order q: v^q = 1 (mod p).  -1 when it
// cannot be computed.
int of_order_q(const BIGNUM* v, const DSA* dsa, BN_CTX* ctx, BN_MONT_CTX* mont) {
  BN_CTX_start(ctx);
  BIGNUM* t = BN_CTX_get(ctx);
  int ret = -1;
  if (t != nullptr && BN_mod_exp_mont(t, v, dsa->q, dsa->p, ctx, mont)) ret = BN_is_one(t) ? 1 : 0;
  BN_CTX_end(ctx);
  return ret;
}

// Whether g and y generate the subgroup of order q (each 2 <= v <= p - 1,
// and v^q = 1 mod p, so neither 1 nor p - 1 nor any other order): under
// other values anyone can make signatures that verify.  The powers are
// computed once per key and its values, which the key keeps; 1, 0 (the
// reason queued) or -1 (memory).
int group_holds(DSA* dsa, BN_CTX* ctx, BN_MONT_CTX* mont) {
  {
    MORVANE_READ_LOCKED(CRYPTO_LOCK_DSA);
    if (same_values(dsa->group_checked, dsa)) return 1;
  }
  const int g = of_order_q(dsa->g, dsa, ctx, mont);
  const int y = g == 1 ? of_order_q(dsa->pub_key, dsa, ctx, mont) : g;
  if (g == 0) DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_BAD_G_VALUE);
  if (g == 1 && y == 0) DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_BAD_PUBLIC_KEY);
  if (g == 1 && y == 1) keep_checked(dsa);
  return g == 1 ? y : g;
}

int do_verify(const unsigned char* dgst, int dgst_len, DSA_SIG* sig, DSA* dsa) {
  if (dgst_len < 0) {
    DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_INVALID_DIGEST_LENGTH);
    return -1;
  }
  if (dsa->p == nullptr || dsa->q == nullptr || dsa->g == nullptr || dsa->pub_key == nullptr) {
    DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_MISSING_PARAMETERS);
    return -1;
  }
  if (BN_num_bits(dsa->q) != 160) {  // FIPS 186-2: q of 160 bits
    DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_BAD_Q_VALUE);
    return -1;
  }
  if (BN_num_bits(dsa->p) > DSA_MAX_MODULUS_BITS) {
    DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_MODULUS_TOO_LARGE);
    return -1;
  }
  // g or y of 0, 1 or p and past (a power of such g is 0 or 1 whatever the
  // exponent), or of another order than q (p - 1, of order 2), accept
  // signatures that anyone can make.
  const BIGNUM* p = dsa->p;
  auto in_group = [p](const BIGNUM* v) {  // 2 <= v <= p - 1
    return !BN_is_negative(v) && BN_num_bits(v) > 1 && BN_ucmp(v, p) < 0;
  };
  if (!in_group(dsa->g)) {
    DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_BAD_G_VALUE);
    return -1;
  }
  if (!in_group(dsa->pub_key)) {
    DSAerr(DSA_F_DSA_DO_VERIFY, DSA_R_BAD_PUBLIC_KEY);
    return -1;
  }
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) return -1;
  int ret = -1;
  BN_CTX_start(ctx);
  BIGNUM* u1 = BN_CTX_get(ctx);
  BIGNUM* u2 = BN_CTX_get(ctx);
  BIGNUM* t1 = BN_CTX_get(ctx);
  const BIGNUM* q = dsa->q;
  auto in_range = [q](const BIGNUM* v) {  // 0 < v < q
    return v != nullptr && !BN_is_zero(v) && !BN_is_negative(v) && BN_ucmp(v, q) < 0;
  };
  bool mont_failed = false;
  BN_MONT_CTX* mont = t1 != nullptr ? cached_mont(dsa, ctx, &mont_failed) : nullptr;
  const int group = t1 != nullptr && !mont_failed ? group_holds(dsa, ctx, mont) : -1;
  if (group <= 0) {
    // ret stays -1: the key is refused before any signature is looked at
  } else if (!in_range(sig->r) || !in_range(sig->s)) {
    ret = 0;
  } else {
    // w = s^-1, u1 = m w, u2 = r w (mod q); t1 = g^u1 y^u2 mod p; v = t1 mod q.
    if (BN_mod_inverse(u2, sig->s, q, ctx) != nullptr &&
        BN_bin2bn(dgst, dgst_len, u1) != nullptr && BN_mod_mul(u1, u1, u2, q, ctx) &&
        BN_mod_mul(u2, sig->r, u2, q, ctx)) {
      const bool raised =
          dsa->meth->dsa_mod_exp != nullptr
              ? dsa->meth->dsa_mod_exp(dsa, t1, dsa->g, u1, dsa->pub_key, u2, dsa->p, ctx, mont)
              : BN_mod_exp2_mont(t1, dsa->g, u1, dsa->pub_key, u2, dsa->p, ctx, mont);
      if (raised && BN_mod(u1, t1, q, ctx)) ret = BN_ucmp(u1, sig->r) == 0;
    }
  }
  if (ret != 1 && group != 0) DSAerr(DSA_F_DSA_DO_VERIFY, ERR_R_BN_LIB);
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ret;
}

int dsa_init(DSA* dsa) {
  dsa->flags |= DSA_FLAG_MONT_P_CACHED;
  return 1;
}

int dsa_finish(DSA* dsa) {
  BN_MONT_CTX_free(dsa->method_mont_p);
  dsa->method_mont_p = nullptr;
  return 1;
}

constinit const DSA_METHOD dsa_qarn = {
    "Morvane DSA method", do_sign, sign_setup, do_verify, nullptr, nullptr, dsa_init,
    dsa_finish,           0,       nullptr,    nullptr,   nullptr,
};

}  // namespace

void group_checked_free(dsa_group_checked_st* checked) {
  if (checked == nullptr) return;
  for (BIGNUM* b : {checked->p, checked->q, checked->g, checked->y}) BN_free(b);
  MORVANE_free(checked);
}

}  // namespace morvane::dsa

/* see morvane/dsa.h */
const DSA_METHOD* DSA_Morvane(void) {
  return &morvane::dsa::dsa_qarn;
}
