// The blinding of the private operations (RFC 8017 leaves it to the
// implementation; this is the classic one): the input is multiplied by
// A = r^e mod n before the exponentiation and the result by Ai = r^-1 mod n
// after it, so the secret exponentiation never sees the caller's value.
//
// Implementation notes: a key has two blindings, made on first use under
// lock CRYPTO_LOCK_RSA (a read check, then the write lock with a re-check):
// `blinding` belongs to the thread that made it and is used without a lock;
// every other thread shares `mt_blinding` under the write lock of
// CRYPTO_LOCK_RSA_BLINDING.  Each operation takes the pair, with its own copy
// of Ai, and advances the record in one step before its exponentiation
// (internal::blinding_use), so that operations running at once never apply
// the same pair; a forked child draws a fresh pair before its first use.
// The pair is made, applied and advanced at the modulus's fixed width, with
// the key's Montgomery context of n; the unblinding product runs on the limbs
// of the result (bn/limbs.h), as the rest of the private operation does.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include "bn/limbs.h"
#include "rsa/internal.h"

namespace morvane::rsa {

namespace {

namespace limb = bn::limb;
using limb::Limb;

// e = d^-1 mod (p - 1)(q - 1) for a key without a public exponent; null when
// d, p or q is missing or the inverse fails.
BIGNUM* public_exponent(const RSA* rsa, BN_CTX* ctx) {
  if (rsa->d == nullptr || rsa->p == nullptr || rsa->q == nullptr) return nullptr;
  BN_CTX_start(ctx);
  BIGNUM* pm = BN_CTX_get(ctx);
  BIGNUM* qm = BN_CTX_get(ctx);
  BIGNUM* phi = BN_CTX_get(ctx);
  BIGNUM* e = nullptr;
  if (phi != nullptr && BN_sub(pm, rsa->p, BN_value_one()) && BN_sub(qm, rsa->q, BN_value_one()) &&
      BN_mul(phi, pm, qm, ctx)) {
    const BIGNUM d = secret_view(rsa->d, rsa);
    e = BN_mod_inverse(nullptr, &d, phi, ctx);
  }
  BN_CTX_end(ctx);
  return e;
}

}  // namespace

bool Blinding::find(RSA* rsa, BN_CTX* ctx) {
  rsa_ = rsa;
  CRYPTO_r_lock(CRYPTO_LOCK_RSA);
  bool write = false;
  auto to_write = [&] {
    if (write) return;
    CRYPTO_r_unlock(CRYPTO_LOCK_RSA);
    CRYPTO_w_lock(CRYPTO_LOCK_RSA);
    write = true;
  };
  if (rsa->blinding == nullptr) {
    to_write();
    if (rsa->blinding == nullptr) rsa->blinding = RSA_setup_blinding(rsa, ctx);
  }
  if (rsa->flags & RSA_FLAG_CACHE_PUBLIC) mont_n_ = rsa->_method_mod_n;
  BN_BLINDING* b = rsa->blinding;
  if (b != nullptr) {
    local_ = BN_BLINDING_get_thread_id(b) == CRYPTO_thread_id();
    if (!local_) {
      if (rsa->mt_blinding == nullptr) {
        to_write();
        if (rsa->mt_blinding == nullptr) rsa->mt_blinding = RSA_setup_blinding(rsa, ctx);
      }
      b = rsa->mt_blinding;
    }
  }
  if (write) {
    CRYPTO_w_unlock(CRYPTO_LOCK_RSA);
  } else {
    CRYPTO_r_unlock(CRYPTO_LOCK_RSA);
  }
  b_ = b;
  return b != nullptr;
}

bool Blinding::convert(BIGNUM* f, BIGNUM* br, BN_CTX* ctx) {
  // Before the first private operation has made the key's context of n, one
  // for this call.
  MontFor mn(mont_n_, rsa_->n, ctx);
  if (mn.get() == nullptr) return false;
  if (local_) return internal::blinding_use(f, br, b_, mn.get(), ctx) == 1;
  CRYPTO_w_lock(CRYPTO_LOCK_RSA_BLINDING);
  const bool ok = internal::blinding_use(f, br, b_, mn.get(), ctx) == 1;
  CRYPTO_w_unlock(CRYPTO_LOCK_RSA_BLINDING);
  return ok;
}

bool Blinding::invert(BN_ULONG* out, const BIGNUM* br, BN_CTX* ctx) {
  const int nw = rsa_->n->top, nl = limb::count(nw);
  // The key's Montgomery context of n is there when the key keeps one: the
  // private operation has just made or found it.
  MontFor mn((rsa_->flags & RSA_FLAG_CACHE_PUBLIC) ? rsa_->_method_mod_n : nullptr, rsa_->n, ctx);
  // n, R^2, the result, the factor and the product (2 nl).
  limb::Buffer<6 * 64> buf(6 * static_cast<size_t>(nl));
  if (mn.get() == nullptr || !buf.ok()) return false;
  Limb *n = buf.get(), *rr = n + nl, *x = rr + nl, *factor = x + nl, *t = factor + nl;
  const limb::Modulus m = bn::limb_modulus(mn.get(), n);
  for (int i = 0; i < nl; i++) rr[i] = 0;
  limb::load(rr, mn.get()->RR.d, mn.get()->RR.top);
  limb::load(x, out, nw);
  limb::load_masked(factor, nl, br);
  limb::mont_mul(x, x, factor, m, t);  // out br R^-1
  limb::mont_mul(x, x, rr, m, t);      // out br
  limb::store(out, x, nw);
  return true;
}

void free_blinding(BN_BLINDING* b) {
  BN_BLINDING_free(b);
}

}  // namespace morvane::rsa

using namespace morvane::rsa;

/* see morvane/rsa.h */
BN_BLINDING* RSA_setup_blinding(RSA* rsa, BN_CTX* in_ctx) {
  BN_CTX* ctx = in_ctx != nullptr ? in_ctx : BN_CTX_new();
  if (ctx == nullptr) return nullptr;
  BN_CTX_start(ctx);
  BN_BLINDING* ret = nullptr;
  BIGNUM* derived = nullptr;
  if (BN_CTX_get(ctx) == nullptr) {
    RSAerr(RSA_F_RSA_SETUP_BLINDING, ERR_R_MALLOC_FAILURE);
  } else if (rsa->e == nullptr && (derived = public_exponent(rsa, ctx)) == nullptr) {
    RSAerr(RSA_F_RSA_SETUP_BLINDING, RSA_R_NO_PUBLIC_EXPONENT);
  } else {
    // An unseeded generator gets the words of d that hold its value, with no
    // entropy credited.
    if (RAND_status() == 0 && rsa->d != nullptr && rsa->d->d != nullptr) {
      RAND_add(rsa->d->d, rsa->d->top * static_cast<int>(sizeof(BN_ULONG)), 0.0);
    }
    BIGNUM n = secret_view(rsa->n, rsa);
    ret = BN_BLINDING_create_param(nullptr, derived != nullptr ? derived : rsa->e, &n, ctx,
                                   rsa->meth->bn_mod_exp, rsa->_method_mod_n);
    if (ret == nullptr) {
      RSAerr(RSA_F_RSA_SETUP_BLINDING, ERR_R_BN_LIB);
    } else {
      BN_BLINDING_set_thread_id(ret, CRYPTO_thread_id());
    }
  }
  BN_CTX_end(ctx);
  if (in_ctx == nullptr) BN_CTX_free(ctx);
  BN_free(derived);
  return ret;
}
