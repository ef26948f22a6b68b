// Blinding of RSA private-key operations: the input is multiplied by A = r^e
// mod n before the operation and the output by Ai = r^-1 mod n after it.  The
// pair is squared after each use and drawn afresh every 32 uses.
//
// Implementation notes: a draw of r without an inverse modulo n (n shares a
// factor with r) is retried; its error entries are popped back to a mark, so
// that whatever the caller had queued before stays.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <stddef.h>

#include "bn/internal.h"
#include "internal/err_mark.h"

namespace bn = morvane::bn;

static_assert(offsetof(BN_BLINDING, A) == 0 && offsetof(BN_BLINDING, Ai) == 8 &&
                  offsetof(BN_BLINDING, e) == 16 && offsetof(BN_BLINDING, mod) == 24 &&
                  offsetof(BN_BLINDING, thread_id) == 32 && offsetof(BN_BLINDING, counter) == 40 &&
                  offsetof(BN_BLINDING, flags) == 48 && offsetof(BN_BLINDING, m_ctx) == 56 &&
                  offsetof(BN_BLINDING, bn_mod_exp) == 64 && sizeof(BN_BLINDING) == 72,
              "BN_BLINDING layout");

namespace {

constexpr unsigned int kUses = 32;  // uses between fresh draws
constexpr int kDraws = 33;          // draws of r before giving up

// A copy of a, or null (with the error pushed) when a is null too.
bool dup_into(BIGNUM** to, const BIGNUM* a) {
  if (a == nullptr) return true;
  *to = BN_dup(a);
  return *to != nullptr;
}

bool initialized(const BN_BLINDING* b, int func) {
  if (b->A != nullptr && b->Ai != nullptr && b->mod != nullptr) return true;
  BNerr(func, BN_R_NOT_INITIALIZED);
  return false;
}

// A uniform in [0, mod) with an inverse Ai; 1, or 0 with the reason pushed.
bool draw_pair(BN_BLINDING* b, BN_CTX* ctx) {
  for (int i = 0; i < kDraws; i++) {
    if (!BN_rand_range(b->A, b->mod)) return false;
    morvane::internal::ErrorMark mark;
    if (BN_mod_inverse(b->Ai, b->A, b->mod, ctx) != nullptr) {
      mark.pop();
      return true;
    }
    if (ERR_GET_REASON(ERR_peek_last_error()) != BN_R_NO_INVERSE) return false;
    mark.pop();
  }
  BNerr(BN_F_BN_BLINDING_CREATE_PARAM, BN_R_TOO_MANY_ITERATIONS);
  return false;
}

}  // namespace

/* see morvane/bn.h */
BN_BLINDING* BN_BLINDING_new(const BIGNUM* A, const BIGNUM* Ai, BIGNUM* mod) {
  auto* b = static_cast<BN_BLINDING*>(MORVANE_malloc(sizeof(BN_BLINDING)));
  if (b == nullptr) {
    BNerr(BN_F_BN_BLINDING_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  *b = BN_BLINDING{};
  if (!dup_into(&b->A, A) || !dup_into(&b->Ai, Ai) || !dup_into(&b->mod, mod)) {
    BN_BLINDING_free(b);
    return nullptr;
  }
  if (mod != nullptr && BN_get_flags(mod, BN_FLAG_SECRET)) BN_set_flags(b->mod, BN_FLAG_SECRET);
  b->counter = kUses;
  return b;
}

/* see morvane/bn.h */
void BN_BLINDING_free(BN_BLINDING* b) {
  if (b == nullptr) return;
  BN_free(b->A);
  BN_free(b->Ai);
  BN_free(b->e);
  BN_free(b->mod);
  MORVANE_free(b);
}

/* see morvane/bn.h */
int BN_BLINDING_update(BN_BLINDING* b, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_UPDATE)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  int ret;
  if (--b->counter == 0 && b->e != nullptr && !(b->flags & BN_BLINDING_NO_REGEN)) {
    ret = BN_BLINDING_create_param(b, nullptr, nullptr, own.get(), nullptr, nullptr) != nullptr;
  } else if (!(b->flags & BN_BLINDING_NO_SQUARE)) {
    // (A Ai)^2 = 1 still: the squares remain a pair.
    ret = BN_mod_mul(b->A, b->A, b->A, b->mod, own.get()) &&
          BN_mod_mul(b->Ai, b->Ai, b->Ai, b->mod, own.get());
  } else {
    ret = 1;
  }
  if (b->counter == 0) b->counter = kUses;
  return ret;
}

/* see morvane/bn.h */
int BN_BLINDING_convert_ex(BIGNUM* n, BIGNUM* r, BN_BLINDING* b, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_CONVERT_EX)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr || !BN_mod_mul(n, n, b->A, b->mod, own.get())) return 0;
  return r == nullptr || BN_copy(r, b->Ai) != nullptr;
}

/* see morvane/bn.h */
int BN_BLINDING_invert_ex(BIGNUM* n, const BIGNUM* r, BN_BLINDING* b, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_INVERT_EX)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  const int ret = BN_mod_mul(n, n, r != nullptr ? r : b->Ai, b->mod, own.get());
  if (!BN_BLINDING_update(b, own.get())) return 0;
  return ret;
}

/* see morvane/bn.h */
int BN_BLINDING_convert(BIGNUM* n, BN_BLINDING* b, BN_CTX* ctx) {
  return BN_BLINDING_convert_ex(n, nullptr, b, ctx);
}

/* see morvane/bn.h */
int BN_BLINDING_invert(BIGNUM* n, BN_BLINDING* b, BN_CTX* ctx) {
  return BN_BLINDING_invert_ex(n, nullptr, b, ctx);
}

/* see morvane/bn.h */
unsigned long BN_BLINDING_get_thread_id(const BN_BLINDING* b) {
  return b->thread_id;
}

/* see morvane/bn.h */
void BN_BLINDING_set_thread_id(BN_BLINDING* b, unsigned long n) {
  b->thread_id = n;
}

/* see morvane/bn.h */
unsigned long BN_BLINDING_get_flags(const BN_BLINDING* b) {
  return b->flags;
}

/* see morvane/bn.h */
void BN_BLINDING_set_flags(BN_BLINDING* b, unsigned long flags) {
  b->flags = flags;
}

/* see morvane/bn.h */
BN_BLINDING* BN_BLINDING_create_param(BN_BLINDING* b, const BIGNUM* e, BIGNUM* m, BN_CTX* ctx,
                                      int (*bn_mod_exp)(BIGNUM* r, const BIGNUM* a, const BIGNUM* p,
                                                        const BIGNUM* m, BN_CTX* ctx,
                                                        BN_MONT_CTX* m_ctx),
                                      BN_MONT_CTX* m_ctx) {
  BN_BLINDING* ret = b != nullptr ? b : BN_BLINDING_new(nullptr, nullptr, m);
  if (ret == nullptr) return nullptr;
  bn::CtxOrNew own(ctx);
  bool ok = own.get() != nullptr;
  if (ok && ret->A == nullptr) ok = (ret->A = BN_new()) != nullptr;
  if (ok && ret->Ai == nullptr) ok = (ret->Ai = BN_new()) != nullptr;
  if (ok && e != nullptr) {
    BIGNUM* copy = BN_dup(e);
    ok = copy != nullptr;
    if (ok) {
      BN_free(ret->e);
      ret->e = copy;
    }
  }
  ok = ok && ret->e != nullptr && ret->mod != nullptr;
  if (ok) {
    if (bn_mod_exp != nullptr) ret->bn_mod_exp = bn_mod_exp;
    if (m_ctx != nullptr) ret->m_ctx = m_ctx;
    ok = draw_pair(ret, own.get());
  }
  if (ok) {
    ok = ret->bn_mod_exp != nullptr && ret->m_ctx != nullptr
             ? ret->bn_mod_exp(ret->A, ret->A, ret->e, ret->mod, own.get(), ret->m_ctx)
             : BN_mod_exp(ret->A, ret->A, ret->e, ret->mod, own.get());
  }
  if (ok) return ret;
  if (b == nullptr) BN_BLINDING_free(ret);
  return nullptr;
}
