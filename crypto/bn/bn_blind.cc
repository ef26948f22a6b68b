// Blinding of RSA private-key operations: the input is multiplied by A = r^e
// mod n before the operation and the output by Ai = r^-1 mod n after it.  The
// pair is squared after each use and drawn afresh every 32 uses, and before
// its first use in a process other than the one that drew it (a forked child
// holds its parent's pair) or after a draw that failed part-way: a record
// left so is drawn again before any exported call uses it, or refused.
//
// Implementation notes: modulo an odd modulus (every RSA one) all that
// touches the pair runs at the modulus's fixed width on 64-bit limbs, with no
// branch and no address that depends on r, the pair or the input: r is drawn
// by masks (internal::draw_below); its inverse is taken of r u for a second
// draw u, which is made public (it is uniform whatever r is), and multiplied
// by u; A = r^e by the ladder that follows e's bits only; the products and
// squares in Montgomery form, A and Ai stored with word counts found by
// masks.  An even modulus takes the same steps on numbers.  A draw without
// an inverse modulo n (n shares a factor with it) is retried; its error
// entries are popped back to a mark, so that whatever the caller had queued
// before stays.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <stddef.h>
#include <unistd.h>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"
#include "internal/err_mark.h"
#include "internal/fixed_words.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;
namespace limb = morvane::bn::limb;
using limb::Limb;

static_assert(offsetof(BN_BLINDING, A) == 0 && offsetof(BN_BLINDING, Ai) == 8 &&
                  offsetof(BN_BLINDING, e) == 16 && offsetof(BN_BLINDING, mod) == 24 &&
                  offsetof(BN_BLINDING, thread_id) == 32 && offsetof(BN_BLINDING, counter) == 40 &&
                  offsetof(BN_BLINDING, pid) == 44 && offsetof(BN_BLINDING, flags) == 48 &&
                  offsetof(BN_BLINDING, m_ctx) == 56 && offsetof(BN_BLINDING, bn_mod_exp) == 64 &&
                  sizeof(BN_BLINDING) == 72,
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

// The process id a record keeps of the process that drew its pair.
unsigned int this_process() {
  return static_cast<unsigned int>(getpid());
}

bool initialized(const BN_BLINDING* b, int func) {
  if (b->A != nullptr && b->Ai != nullptr && b->mod != nullptr) return true;
  BNerr(func, BN_R_NOT_INITIALIZED);
  return false;
}

// The Montgomery context of b's odd modulus N for one call: the caller's,
// else b's own when it is one of N, else one made here.
const BN_MONT_CTX* context_of(const BN_BLINDING* b, const BN_MONT_CTX* given, BN_MONT_CTX* own,
                              BN_CTX* ctx) {
  for (const BN_MONT_CTX* c : {given, static_cast<const BN_MONT_CTX*>(b->m_ctx)}) {
    if (c != nullptr && BN_ucmp(&c->N, b->mod) == 0) return c;
  }
  return BN_MONT_CTX_set(own, b->mod, ctx) ? own : nullptr;
}

// Arithmetic modulo b's odd modulus N at its width (nw words, nl limbs): N
// and R^2 on limbs, and the scratch of the products.
class Fixed {
 public:
  Fixed(const BN_BLINDING* b, const BN_MONT_CTX* given, BN_CTX* ctx) noexcept
      : mont_(context_of(b, given, &own_.m, ctx)),
        nw_(mont_ != nullptr ? mont_->N.top : 0),
        nl_(limb::count(nw_)),
        buf_(7 * static_cast<size_t>(nl_)) {
    if (!ok()) return;
    Limb* p = buf_.get();
    m_ = bn::limb_modulus(mont_, p);
    rr_ = p + nl_;
    x_ = rr_ + nl_;
    y_ = x_ + nl_;
    t_ = y_ + nl_;
    limb::load_masked(rr_, nl_, &mont_->RR);
  }
  Fixed(const Fixed&) = delete;
  Fixed& operator=(const Fixed&) = delete;

  bool ok() const noexcept { return mont_ != nullptr && buf_.ok(); }

  // Whether a may enter mul() and power(): below 2^(32 nw), judged by masks.
  bool fits(const BIGNUM* a) const noexcept { return morvane::internal::fits_words(a, nw_); }
  // r = a c mod N for a and c that fit: a R mod N first, which is below N,
  // then its product with c.  r may be a or c.
  bool mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* c) noexcept {
    limb::load_masked(x_, nl_, a);
    limb::load_masked(y_, nl_, c);
    limb::mont_mul(x_, x_, rr_, m_, t_);
    limb::mont_mul(x_, x_, y_, m_, t_);
    return store(r, x_);
  }
  // r = c^e mod N for c that fits and a public e; r may be c.
  bool power(BIGNUM* r, const BIGNUM* c, const BIGNUM* e) noexcept {
    limb::load_masked(x_, nl_, c);
    limb::exp_public(y_, x_, e->d, e->top, m_, rr_, t_);
    return store(r, y_);
  }
  // A value of the width made public (its words and count).
  static void reveal(BIGNUM* a) noexcept {
    for (int i = 0; i < a->dmax; i++) a->d[i] = ct::declassify(a->d[i]);
    a->top = static_cast<int>(ct::declassify(static_cast<unsigned>(a->top)));
  }

 private:
  // r = l (nl limbs), its count found by masks.  r's old value has been
  // read.
  bool store(BIGNUM* r, const Limb* l) noexcept { return limb::store_masked_fresh(r, l, nl_) != 0; }

  bn::OwnMont own_;
  const BN_MONT_CTX* mont_;
  int nw_, nl_;
  // N, R^2, two operands and the scratch of the products (3 nl, which the
  // ladder takes): on the stack up to 4096 bits.
  limb::Buffer<7 * 64> buf_;
  limb::Modulus m_{};
  Limb *rr_ = nullptr, *x_ = nullptr, *y_ = nullptr, *t_ = nullptr;
};

// c, or c reduced modulo N into tmp when it does not fit the width (a value
// the caller gave may be negative or longer than N, which is public); null
// when that fails.
const BIGNUM* fitted(const BIGNUM* c, BIGNUM* tmp, const BN_BLINDING* b, const Fixed& f,
                     BN_CTX* ctx) {
  if (f.fits(c)) return c;
  return tmp != nullptr && BN_nnmod(tmp, c, b->mod, ctx) ? tmp : nullptr;
}

// One draw of the pair at the fixed width: 1 when it is made, 0 when r u
// has no inverse (drawn again), -1 on failure with the reason pushed.
int draw_once(BN_BLINDING* b, Fixed& f, BIGNUM* u, BIGNUM* t, const BIGNUM* pmod, BN_CTX* ctx) {
  if (!morvane::internal::draw_below(b->A, b->mod) || !morvane::internal::draw_below(u, b->mod) ||
      !f.mul(t, b->A, u)) {
    return -1;
  }
  Fixed::reveal(t);
  morvane::internal::ErrorMark mark;
  if (BN_mod_inverse(t, t, pmod, ctx) != nullptr) {
    mark.pop();
    return f.mul(b->Ai, t, u) ? 1 : -1;  // (r u)^-1 u = r^-1
  }
  if (ERR_GET_REASON(ERR_peek_last_error()) != BN_R_NO_INVERSE) return -1;
  mark.pop();
  return 0;
}

// A = r uniform in [1, mod) with Ai = r^-1 at the fixed width; 1, or 0 with
// the reason pushed.
bool draw_pair_fixed(BN_BLINDING* b, Fixed& f, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM *u = frame.get(), *t = frame.get();
  if (t == nullptr) return false;
  // The inverse of r u, which is public, needs no constant-time form.
  BIGNUM pmod = *b->mod;
  pmod.flags = BN_FLAG_BORROWED;
  int state = 0;
  for (int i = 0; i < kDraws && state == 0; i++) state = draw_once(b, f, u, t, &pmod, ctx);
  BN_clear(u);
  if (state == 0) BNerr(BN_F_BN_BLINDING_CREATE_PARAM, BN_R_TOO_MANY_ITERATIONS);
  return state == 1;
}

// A uniform in [0, mod) with an inverse Ai, on numbers (an even modulus); 1,
// or 0 with the reason pushed.
bool draw_pair_numbers(BN_BLINDING* b, BN_CTX* ctx) {
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

// Draws the pair of ret (e and mod set) and raises A to e, by the stored
// exponentiation when it comes with a context and is not the built-in one.
bool make_pair(BN_BLINDING* ret, const BN_MONT_CTX* mont, BN_CTX* ctx) {
  const bool stored = ret->bn_mod_exp != nullptr && ret->m_ctx != nullptr;
  auto raise = [&] {
    return stored ? ret->bn_mod_exp(ret->A, ret->A, ret->e, ret->mod, ctx, ret->m_ctx)
                  : BN_mod_exp(ret->A, ret->A, ret->e, ret->mod, ctx);
  };
  if (!BN_is_odd(ret->mod)) return draw_pair_numbers(ret, ctx) && raise();
  Fixed f(ret, mont, ctx);
  if (!f.ok() || !draw_pair_fixed(ret, f, ctx)) return false;
  if (stored && ret->bn_mod_exp != BN_mod_exp_mont) return raise();
  return f.power(ret->A, ret->A, ret->e);
}

BN_BLINDING* create(BN_BLINDING* b, const BIGNUM* e, BIGNUM* m, BN_CTX* ctx,
                    int (*bn_mod_exp)(BIGNUM*, const BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*,
                                      BN_MONT_CTX*),
                    BN_MONT_CTX* m_ctx, const BN_MONT_CTX* mont) {
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
  const bool drawing = ok;
  if (ok) {
    if (bn_mod_exp != nullptr) ret->bn_mod_exp = bn_mod_exp;
    if (m_ctx != nullptr) ret->m_ctx = m_ctx;
    ok = make_pair(ret, mont, own.get());
  }
  if (ok) {
    ret->pid = this_process();
    return ret;
  }
  // A record whose pair failed part-way may hold no pair at all: its next
  // use draws one first, as in a process that did not draw it.
  if (b == nullptr)
    BN_BLINDING_free(ret);
  else if (drawing)
    ret->pid = 0;
  return nullptr;
}

// n = n c mod N, c being A, Ai or the caller's copy of Ai.
bool multiply(BIGNUM* n, const BIGNUM* c, BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx) {
  if (!BN_is_odd(b->mod)) return BN_mod_mul(n, n, c, b->mod, ctx);
  Fixed f(b, mont, ctx);
  bn::Frame frame(ctx);
  BIGNUM *tn = frame.get(), *tc = frame.get();
  const BIGNUM *fn = nullptr, *fc = nullptr;
  return f.ok() && (fn = fitted(n, tn, b, f, ctx)) != nullptr &&
         (fc = fitted(c, tc, b, f, ctx)) != nullptr && f.mul(n, fn, fc);
}

// r = a^2 mod N.
bool square(BIGNUM* r, const BIGNUM* a, BN_BLINDING* b, Fixed& f, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  const BIGNUM* fa = fitted(a, frame.get(), b, f, ctx);
  return fa != nullptr && f.mul(r, fa, fa);
}

// Before a conversion: a pair drawn in another process (a forked child
// holds its parent's) is drawn afresh when the record can draw, and so is
// one whose draw failed part-way (pid 0), which a record that cannot draw
// refuses to use.  True when the pair may be used.
bool fresh_pair(BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx, int func) {
  if (b->pid == this_process()) return true;
  if (b->e != nullptr && !(b->flags & BN_BLINDING_NO_REGEN)) {
    if (create(b, nullptr, nullptr, ctx, nullptr, nullptr, mont) == nullptr) return false;
    b->counter = kUses;
    return true;
  }
  if (b->pid != 0) return true;
  BNerr(func, BN_R_NOT_INITIALIZED);
  return false;
}

}  // namespace

namespace morvane::internal {

int blinding_update(BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_UPDATE)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  int ret;
  if (b->pid == 0) {
    // The last draw failed part-way: squares of what it left would not be
    // a pair either.  Drawn again, or refused.
    ret = fresh_pair(b, mont, own.get(), BN_F_BN_BLINDING_UPDATE);
    b->counter = kUses;
    return ret;
  }
  if (--b->counter == 0 && b->e != nullptr && !(b->flags & BN_BLINDING_NO_REGEN)) {
    ret = create(b, nullptr, nullptr, own.get(), nullptr, nullptr, mont) != nullptr;
  } else if (!(b->flags & BN_BLINDING_NO_SQUARE)) {
    // (A Ai)^2 = 1 still: the squares remain a pair.  Both are made aside
    // and swapped in together, so a failure leaves the old pair whole.
    bn::Frame frame(own.get());
    BIGNUM* a = frame.get();
    BIGNUM* ai = frame.get();
    ret = a != nullptr && ai != nullptr;
    if (ret && !BN_is_odd(b->mod)) {
      ret = BN_mod_mul(a, b->A, b->A, b->mod, own.get()) &&
            BN_mod_mul(ai, b->Ai, b->Ai, b->mod, own.get());
    } else if (ret) {
      Fixed f(b, mont, own.get());
      ret = f.ok() && square(a, b->A, b, f, own.get()) && square(ai, b->Ai, b, f, own.get());
    }
    if (ret) {
      BN_swap(b->A, a);
      BN_swap(b->Ai, ai);
    }
  } else {
    ret = 1;
  }
  if (b->counter == 0) b->counter = kUses;
  return ret;
}

int blinding_convert(BIGNUM* n, BIGNUM* r, BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_CONVERT_EX)) return 0;
  bn::CtxOrNew own(ctx);
  // A pair whose draw failed part-way is drawn again first (a forked
  // child's inherited pair still matches: the record is left alone then).
  if (own.get() == nullptr ||
      (b->pid == 0 && !fresh_pair(b, mont, own.get(), BN_F_BN_BLINDING_CONVERT_EX)) ||
      !multiply(n, b->A, b, mont, own.get()))
    return 0;
  return r == nullptr || copy_words(r, b->Ai);
}

int blinding_use(BIGNUM* n, BIGNUM* r, BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_CONVERT_EX)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr || !fresh_pair(b, mont, own.get(), BN_F_BN_BLINDING_CONVERT_EX))
    return 0;
  return multiply(n, b->A, b, mont, own.get()) && copy_words(r, b->Ai) &&
         blinding_update(b, mont, own.get());
}

}  // namespace morvane::internal

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
  b->pid = this_process();
  return b;
}

/* see morvane/bn.h */
void BN_BLINDING_free(BN_BLINDING* b) {
  if (b == nullptr) return;
  BN_clear_free(b->A);
  BN_clear_free(b->Ai);
  BN_free(b->e);
  BN_free(b->mod);
  MORVANE_free(b);
}

/* see morvane/bn.h */
int BN_BLINDING_update(BN_BLINDING* b, BN_CTX* ctx) {
  return morvane::internal::blinding_update(b, nullptr, ctx);
}

/* see morvane/bn.h */
int BN_BLINDING_convert_ex(BIGNUM* n, BIGNUM* r, BN_BLINDING* b, BN_CTX* ctx) {
  return morvane::internal::blinding_convert(n, r, b, nullptr, ctx);
}

/* see morvane/bn.h */
int BN_BLINDING_invert_ex(BIGNUM* n, const BIGNUM* r, BN_BLINDING* b, BN_CTX* ctx) {
  if (!initialized(b, BN_F_BN_BLINDING_INVERT_EX)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  // After a draw that failed part-way the record's Ai matches no A that a
  // conversion applied: only the caller's own copy may unblind then.  The
  // update draws the pair again.
  const bool broken = r == nullptr && b->pid == 0;
  if (broken) BNerr(BN_F_BN_BLINDING_INVERT_EX, BN_R_NOT_INITIALIZED);
  const bool ret = !broken && multiply(n, r != nullptr ? r : b->Ai, b, nullptr, own.get());
  if (!BN_BLINDING_update(b, own.get())) return 0;
  return ret ? 1 : 0;
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
  return create(b, e, m, ctx, bn_mod_exp, m_ctx, nullptr);
}
