// The built-in Diffie-Hellman method: key generation, the shared secret and
// the exponentiation they use, and the entry points that dispatch to a key's
// method.
//
// Implementation notes: the private value reaches the exponentiation only
// through a secret view (internal.h), so it is raised in constant time
// without a mark on the caller's number.  The values made public afterwards
// (the public value, the secret's length) pass through ct::declassify; the
// secret is written out by masks up to that length.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/err.h>

#include "dh/internal.h"
#include "internal/ct.h"

namespace {

namespace ct = morvane::ct;
using morvane::dh::cached_mont;
using morvane::dh::secret_view;

// A context for the length of one call.
class Ctx {
 public:
  Ctx() noexcept : ctx_(BN_CTX_new()) {}
  ~Ctx() { BN_CTX_free(ctx_); }
  Ctx(const Ctx&) = delete;
  Ctx& operator=(const Ctx&) = delete;
  BN_CTX* get() const noexcept { return ctx_; }

 private:
  BN_CTX* ctx_;
};

// A number that is about to be handed out as a public value: its word count
// and words leave the constant-time discipline.
void make_public(BIGNUM* a) {
  a->top = static_cast<int>(ct::declassify(static_cast<unsigned>(a->top)));
  for (int i = 0; i < a->top; i++) a->d[i] = ct::declassify(a->d[i]);
}

// Writes |a| big-endian without leading zero bytes into `to`, the byte
// count found by masks over its first `words` words (those that the
// exponentiation filled); returns that count, which becomes public.
int secret_to_bytes(const BIGNUM* a, int words, unsigned char* to) {
  const int have = words < a->dmax ? words : a->dmax;
  const unsigned top = static_cast<unsigned>(a->top);
  unsigned len = 0;
  for (int i = 0; i < have * BN_BYTES; i++) {
    const unsigned w = static_cast<unsigned>(i / BN_BYTES);
    const unsigned b = (a->d[w] >> (8 * (i % BN_BYTES))) & 0xff & ct::lt_mask(w, top);
    len = ct::select(ct::zero_mask(b), len, static_cast<unsigned>(i + 1));
  }
  const int n = static_cast<int>(ct::declassify(len));
  for (int i = 0; i < n; i++)
    to[n - 1 - i] = static_cast<unsigned char>(a->d[i / BN_BYTES] >> (8 * (i % BN_BYTES)));
  return n;
}

// The fewest bits a drawn private value gets for a modulus of `pbits` bits:
// twice the security strength of that size (NIST SP 800-57 Pt. 1, Table 2;
// SP 800-56A, 5.6.1.1.1), and never more than bits(p) - 1 (see morvane/dh.h).
long private_floor(int pbits) {
  const long bits = pbits >= 7680   ? 384
                    : pbits >= 3072 ? 256
                    : pbits >= 2048 ? 224
                                    : DH_MIN_PRIVATE_BITS;
  return bits < pbits - 1 ? bits : pbits - 1;
}

// A null bn_mod_exp is an exponentiation the method does not offer.
bool offered(const DH* dh, int fn) {
  if (dh->meth->bn_mod_exp != nullptr) return true;
  DHerr(fn, DH_R_OPERATION_NOT_SUPPORTED);
  return false;
}

int generate_key(DH* dh) {
  if (!offered(dh, DH_F_GENERATE_KEY)) return 0;
  if (dh->p == nullptr || dh->g == nullptr) {
    DHerr(DH_F_GENERATE_KEY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (BN_num_bits(dh->p) > DH_MAX_MODULUS_BITS) {
    DHerr(DH_F_GENERATE_KEY, DH_R_MODULUS_TOO_LARGE);
    return 0;
  }
  Ctx ctx;
  BIGNUM* priv = dh->priv_key;
  BIGNUM* pub = dh->pub_key;
  const bool fresh_priv = priv == nullptr, fresh_pub = pub == nullptr;
  int ok = 0;
  bool mont_failed = false;
  BN_MONT_CTX* mont = nullptr;
  if (ctx.get() == nullptr) goto done;
  if (fresh_priv && (priv = BN_new()) == nullptr) goto done;
  if (fresh_pub && (pub = BN_new()) == nullptr) goto done;
  mont = cached_mont(dh, ctx.get(), &mont_failed);
  if (mont_failed) goto done;
  if (fresh_priv) {
    // RFC 2631, 2.2: l bits with the top one set.  A length from the
    // parameters (privateValueLength) as short as 1 would leave a handful of
    // keys: it is raised to the floor for p's size.
    const int pbits = BN_num_bits(dh->p);
    long l = dh->length != 0 ? dh->length : pbits - 1;
    if (l > 0 && l < private_floor(pbits)) l = private_floor(pbits);
    if (l < 0 || l > DH_MAX_MODULUS_BITS || !BN_rand(priv, static_cast<int>(l), 0, 0)) goto done;
  }
  {
    const BIGNUM view = secret_view(priv);
    const BIGNUM* x = (dh->flags & DH_FLAG_PLAIN_EXP) ? priv : &view;
    if (!dh->meth->bn_mod_exp(dh, pub, dh->g, x, dh->p, ctx.get(), mont)) goto done;
  }
  make_public(pub);
  dh->priv_key = priv;
  dh->pub_key = pub;
  ok = 1;
done:
  if (!ok) {
    DHerr(DH_F_GENERATE_KEY, ERR_R_BN_LIB);
    if (fresh_priv) BN_clear_free(priv);
    if (fresh_pub) BN_free(pub);
  }
  return ok;
}

// The public value must lie in [2, p - 2] and, when the order q of the
// group is known, in the subgroup of order q (pub^q = 1 mod p): a value of
// small order would give the private value away modulo that order.
bool valid_peer(const DH* dh, const BIGNUM* pub_key, BN_CTX* ctx, BN_MONT_CTX* mont) {
  int codes = 0;
  if (!DH_check_pub_key(dh, pub_key, &codes) || codes != 0) return false;
  if (dh->q == nullptr) return true;
  BN_CTX_start(ctx);
  BIGNUM* t = BN_CTX_get(ctx);
  const bool in_group = t != nullptr && BN_mod_exp_mont(t, pub_key, dh->q, dh->p, ctx, mont) &&
                        BN_is_one(t);
  BN_CTX_end(ctx);
  return in_group;
}

int compute_key(unsigned char* key, const BIGNUM* pub_key, DH* dh) {
  if (!offered(dh, DH_F_COMPUTE_KEY)) return -1;
  if (dh->p == nullptr) {
    DHerr(DH_F_COMPUTE_KEY, ERR_R_PASSED_NULL_PARAMETER);
    return -1;
  }
  if (BN_num_bits(dh->p) > DH_MAX_MODULUS_BITS) {
    DHerr(DH_F_COMPUTE_KEY, DH_R_MODULUS_TOO_LARGE);
    return -1;
  }
  Ctx ctx;
  if (ctx.get() == nullptr) return -1;
  if (dh->priv_key == nullptr) {
    DHerr(DH_F_COMPUTE_KEY, DH_R_NO_PRIVATE_VALUE);
    return -1;
  }
  bool mont_failed = false;
  BN_MONT_CTX* mont = cached_mont(dh, ctx.get(), &mont_failed);
  if (mont_failed) return -1;
  if (!valid_peer(dh, pub_key, ctx.get(), mont)) {
    DHerr(DH_F_COMPUTE_KEY, DH_R_INVALID_PUBLIC_KEY);
    return -1;
  }
  BN_CTX_start(ctx.get());
  BIGNUM* z = BN_CTX_get(ctx.get());
  const BIGNUM view = secret_view(dh->priv_key);
  const BIGNUM* x = (dh->flags & DH_FLAG_PLAIN_EXP) ? dh->priv_key : &view;
  int ret = -1;
  if (z == nullptr || !dh->meth->bn_mod_exp(dh, z, pub_key, x, dh->p, ctx.get(), mont)) {
    DHerr(DH_F_COMPUTE_KEY, ERR_R_BN_LIB);
  } else {
    ret = secret_to_bytes(z, dh->p->top, key);
  }
  if (z != nullptr) BN_clear(z);
  BN_CTX_end(ctx.get());
  return ret;
}

int dh_bn_mod_exp(const DH* dh, BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m,
                  BN_CTX* ctx, BN_MONT_CTX* m_ctx) {
  if (a->top == 1 && (dh->flags & DH_FLAG_PLAIN_EXP) && !BN_get_flags(p, BN_FLAG_SECRET))
    return BN_mod_exp_mont_word(r, a->d[0], p, m, ctx, m_ctx);
  return BN_mod_exp_mont(r, a, p, m, ctx, m_ctx);
}

int dh_init(DH* dh) {
  dh->flags |= DH_FLAG_MONT_P_CACHED;
  return 1;
}

int dh_finish(DH* dh) {
  BN_MONT_CTX_free(dh->method_mont_p);
  dh->method_mont_p = nullptr;
  return 1;
}

constinit const DH_METHOD dh_qarn = {
    "Morvane DH Method", generate_key, compute_key, dh_bn_mod_exp, dh_init, dh_finish, 0,
    nullptr,             nullptr,
};

}  // namespace

/* see morvane/dh.h */
const DH_METHOD* DH_Morvane(void) {
  return &dh_qarn;
}

/* see morvane/dh.h */
int DH_generate_key(DH* dh) {
  if (dh->meth->generate_key == nullptr) {  // an operation the method does not offer
    DHerr(DH_F_DH_GENERATE_KEY, DH_R_OPERATION_NOT_SUPPORTED);
    return 0;
  }
  return dh->meth->generate_key(dh);
}

/* see morvane/dh.h */
int DH_compute_key(unsigned char* key, const BIGNUM* pub_key, DH* dh) {
  if (dh->meth->compute_key == nullptr) {
    DHerr(DH_F_DH_COMPUTE_KEY, DH_R_OPERATION_NOT_SUPPORTED);
    return -1;
  }
  return dh->meth->compute_key(key, pub_key, dh);
}
