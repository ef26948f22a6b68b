// Long division of signed numbers: the quotient truncated toward zero, the
// remainder with the numerator's sign, and a form for secret operands whose
// flow depends only on the operands' lengths.
//
// Implementation notes: the plain form runs on 64-bit limbs (bn/limbs.h,
// limbs_div.cc), on copies of the operands in a buffer on the stack (so any
// result may share a record with any operand): the divisor is shifted left
// until its top bit is set, the numerator by as much (into one more limb
// only when bits come out of its top), and the schoolbook division leaves
// the quotient and the shifted remainder, which are stored into the results
// with their word counts.  No scratch frame and, up to 200 limbs, no
// allocation.  At these sizes the fixed costs of a call weigh as much as
// the division (a 512-bit numerator takes four digits), so a numerator of
// up to 16 limbs has a frame of fixed size, and a divisor of up to 8 limbs
// a form of the whole call compiled for its length.
//
// The secret form computes the same words with no branch, address or
// hardware division on the values: the shift is the count of leading zeros
// of the divisor's top word (0 to 31, so the divisor keeps its word count),
// the numerator always gets the same number of words for the same word
// counts, each quotient word is estimated from a reciprocal of the divisor's
// top word (computed once, by a 64/32 division by shift and subtract under
// masks) with products and masked corrections, and the results' top and sign
// are counted by masks over all their words (so they come out stripped, as
// every caller expects).

#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/err.h>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"

namespace morvane::bn {

namespace {

// r = the nl limbs at l, non-negative or with sign neg (a zero is never
// negative).
int put_limbs(BIGNUM* r, const limb::Limb* l, int nl, int neg) {
  while (nl > 0 && l[nl - 1] == 0) nl--;
  const int top = 2 * nl - (nl > 0 && (l[nl - 1] >> 32) == 0);
  if (wexpand(r, top) == nullptr) return 0;
  limb::store(r->d, l, top);
  r->top = top;
  r->neg = top != 0 ? neg : 0;
  return 1;
}

// l[0 .. count(nw)) = the limbs of w[0 .. nw) shifted left by s (0 < s <
// 64), in one pass; returns the bits shifted out at the top.
limb::Limb load_shifted(limb::Limb* l, const BN_ULONG* w, int nw, int s) noexcept {
  using limb::Limb;
  const int full = nw / 2;
  Limb below = 0;
  auto put = [&](int i, Limb x) {
    l[i] = (x << s) | (below >> (64 - s));
    below = x;
  };
  for (int i = 0; i < full; i++) {
    Limb x;
    memcpy(&x, w + 2 * i, sizeof x);  // little-endian: the two words of limb i
    if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) x = x << 32 | x >> 32;
    put(i, x);
  }
  if (nw & 1) put(full, w[nw - 1]);
  return below >> (64 - s);
}

// Division of magnitudes on limbs (see the notes above), |num| >= |divisor|
// of la and ld limbs, in buf (2 la + 2 limbs).  The numerator, shifted with
// the divisor, gains a top limb only when bits come out of its top;
// otherwise its top limbs are compared with the divisor for the quotient's
// top limb (0 or 1), which saves a digit of the loop for a divisor of whole
// limbs.  LD, when not 0, is ld known at compile time (short divisors, whose
// loops the compiler then unrolls).
template <int LD>
int divide_in(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, int la, int ld,
              limb::Limb* buf) {
  using limb::Limb;
  if constexpr (LD != 0) ld = LD;
  const int num_neg = num->neg, quot_neg = num->neg ^ divisor->neg, nq = la - ld + 1;
  Limb *n = buf, *d = n + la + 1, *q = d + ld;
  // Normalise: the divisor's top bit set (an odd word count has a top limb
  // of one word).
  const int s = __builtin_clz(divisor->d[divisor->top - 1]) + 32 * (divisor->top & 1);
  Limb out = 0;
  if (s == 0) {
    limb::load(d, divisor->d, divisor->top);
  } else {
    load_shifted(d, divisor->d, divisor->top, s);
  }
  // The reciprocal's division first: it runs while the numerator is loaded.
  const Limb v = limb::reciprocal(d, ld);
  if (s == 0) {
    limb::load(n, num->d, num->top);
  } else {
    out = load_shifted(n, num->d, num->top, s);
  }
  int nn = la;
  if (out != 0) {
    n[nn++] = out;  // below the divisor's top limb
  } else {
    Limb* top = n + la - ld;
    int i = ld - 1;
    while (i > 0 && top[i] == d[i]) i--;
    const bool ge = top[i] >= d[i];
    q[nq - 1] = ge;
    if (ge) {
      bool borrow = false;
      for (int j = 0; j < ld; j++) {
        Limb x;
        const bool b1 = __builtin_sub_overflow(top[j], d[j], &x);
        borrow = b1 | __builtin_sub_overflow(x, static_cast<Limb>(borrow), &top[j]);
      }
    }
  }
  if (nn > ld) limb::divide(q, n, nn, d, ld, v);
  if (dv != nullptr && !put_limbs(dv, q, nq, quot_neg)) return 0;
  if (rm != nullptr) {
    if (s != 0) limb::shift_right(n, n, ld, s);
    if (!put_limbs(rm, n, ld, num_neg)) return 0;
  }
  return 1;
}

// Numerators up to this many limbs are divided in a frame of fixed size.
constexpr int kShortLimbs = 16;

using DivideIn = int (*)(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, int la,
                         int ld, limb::Limb* buf);
constexpr DivideIn kDivideIn[] = {divide_in<0>, divide_in<1>, divide_in<2>,
                                  divide_in<3>, divide_in<4>, divide_in<5>,
                                  divide_in<6>, divide_in<7>, divide_in<8>};

int divide(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor) {
  const int la = limb::count(num->top), ld = limb::count(divisor->top);
  if (la <= kShortLimbs) {
    limb::Limb buf[2 * kShortLimbs + 2];
    const int ok = kDivideIn[ld <= limb::kFixedLimbs ? ld : 0](dv, rm, num, divisor, la, ld, buf);
    limb::clear(buf, la + 1 + ld);  // by stores (a string store starts slowly); q is a result
    return ok;
  }
  limb::Buffer<200> buf(2 * static_cast<size_t>(la) + 2);
  return buf.ok() && divide_in<0>(dv, rm, num, divisor, la, ld, buf.get());
}

// ---- the secret form --------------------------------------------------------

// floor((h * 2^32 + l) / d) for h < d, by shift and subtract under masks.
BN_ULONG div_words_secret(BN_ULONG h, BN_ULONG l, BN_ULONG d) noexcept {
  uint64_t rem = h;
  BN_ULONG q = 0;
  for (int i = 31; i >= 0; i--) {
    rem = (rem << 1) | ((l >> i) & 1);  // below 2 d < 2^33
    const uint64_t ge = ~ct::lt_mask<uint64_t>(rem, d);
    rem -= d & ge;
    q |= static_cast<BN_ULONG>(ge & 1) << i;
  }
  return q;
}

// floor((h * 2^32 + l) / d) for h < d, d with its top bit set and v =
// floor((2^64 - 1) / d) - 2^32, its reciprocal: two products and two
// corrections under masks (Moller and Granlund, "Improved division by
// invariant integers", IEEE Trans. Computers 60 (2011), Algorithm 4).
BN_ULONG div_words_preinv(BN_ULONG h, BN_ULONG l, BN_ULONG d, BN_ULONG v) noexcept {
  const uint64_t qq = static_cast<uint64_t>(v) * h + ((static_cast<uint64_t>(h + 1) << 32) | l);
  BN_ULONG q = static_cast<BN_ULONG>(qq >> 32);
  BN_ULONG r = l - q * d;
  const BN_ULONG over = ct::lt_mask(static_cast<BN_ULONG>(qq), r);  // r > q0
  q += over;
  r += d & over;
  const BN_ULONG again = ~ct::lt_mask(r, d);
  q -= again;
  return q;
}

// estimate() by masks: the all-ones case selected, the refinement run twice
// (the most it can take) under a mask.
BN_ULONG estimate_secret(BN_ULONG n0, BN_ULONG n1, BN_ULONG n2, BN_ULONG d0, BN_ULONG d1,
                         BN_ULONG v) noexcept {
  const BN_ULONG equal = ct::eq_mask(n0, d0);
  // n0 <= d0; with n0 == d0 the top word is dropped to keep the quotient in
  // a word, and the all-ones estimate is taken instead.
  BN_ULONG q = div_words_preinv(n0 & ~equal, n1, d0, v);
  uint64_t rem = static_cast<BN_ULONG>(n1 - q * d0);
  uint64_t t = static_cast<uint64_t>(d1) * q;
  uint64_t live = ~static_cast<uint64_t>(0);  // rem is still below 2^32
  for (int k = 0; k < 2; k++) {
    // The test is t > rem * 2^32 + n2.
    const uint64_t more = live & ct::lt_mask<uint64_t>((rem << 32) | n2, t);
    q -= static_cast<BN_ULONG>(more & 1);
    rem += d0 & more;
    live &= ct::zero_mask<uint64_t>(rem >> 32);
    t -= d1 & more;
  }
  return ct::select(equal, 0xFFFFFFFFU, q);
}

// r[0 .. n) = a[0 .. n) << s and returns the bits shifted out, s < 32.
BN_ULONG shift_left_secret(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG s) noexcept {
  BN_ULONG low = 0;
  for (int i = 0; i < n; i++) {
    const BN_ULONG w = a[i];
    r[i] = (w << s) | ((low >> 1) >> (31 - s));
    low = w;
  }
  return (low >> 1) >> (31 - s);
}

// r[0 .. n) = a[0 .. n) >> s, s < 32.
void shift_right_secret(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG s) noexcept {
  for (int i = 0; i < n; i++) {
    const BN_ULONG high = i + 1 < n ? a[i + 1] : 0;
    r[i] = (a[i] >> s) | ((high << 1) << (31 - s));
  }
}

// Sets a's top to its count of words up to the last non-zero one of the n
// words, and its sign to neg unless it is zero, without a branch on them.
void set_top_secret(BIGNUM* a, int n, int neg) noexcept {
  unsigned top = 0;
  for (int i = 0; i < n; i++) {
    top = ct::select(~ct::zero_mask(a->d[i]), static_cast<unsigned>(i + 1), top);
  }
  a->top = static_cast<int>(top);
  a->neg = static_cast<int>(static_cast<unsigned>(neg) & ~ct::zero_mask(top) & 1);
}

// The division of the no-branch form: the divisor is shifted left by the
// leading zeros of its top word (0 to 31), which keeps its word count, and
// the numerator by as much into nn + 1 words above a zero word, under at
// least one zero word, so every length is a function of the operands' word
// counts and the first quotient word is zero without a comparison.
int divide_secret(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx) {
  const int num_neg = num->neg, quot_neg = num->neg ^ divisor->neg;
  const int nn = num->top, div_n = divisor->top;
  const int num_n = nn + 3 > div_n + 2 ? nn + 3 : div_n + 2, loop = num_n - div_n;
  Frame frame(ctx);
  BIGNUM* tmp = frame.get();
  BIGNUM* snum = frame.get();
  BIGNUM* sdiv = frame.get();
  BIGNUM* res = dv == nullptr ? frame.get() : dv;
  if (res == nullptr || sdiv == nullptr || wexpand(sdiv, div_n) == nullptr ||
      wexpand(snum, num_n) == nullptr || wexpand(tmp, div_n + 1) == nullptr) {
    return 0;
  }
  const BN_ULONG ns = ct::leading_zeros(divisor->d[div_n - 1]);
  shift_left_secret(sdiv->d, divisor->d, div_n, ns);
  sdiv->top = div_n;
  zero_words(snum->d, num_n);
  snum->d[nn + 1] = shift_left_secret(snum->d + 1, num->d, nn, ns);
  snum->top = num_n;
  if (wexpand(res, loop - 1) == nullptr) return 0;
  const BN_ULONG d0 = sdiv->d[div_n - 1], d1 = div_n == 1 ? 0 : sdiv->d[div_n - 2];
  const BN_ULONG v = div_words_secret(~d0, 0xFFFFFFFFU, d0);  // d0's reciprocal
  BN_ULONG* window = snum->d + loop;    // div_n words, then div_n + 1 as it moves down
  BN_ULONG* top = snum->d + num_n - 1;  // the window's top word
  for (int i = loop - 2; i >= 0; i--, top--) {
    BN_ULONG q = estimate_secret(top[0], top[-1], top[-2], d0, d1, v);
    tmp->d[div_n] = mul_words(tmp->d, sdiv->d, div_n, q);
    window--;
    const BN_ULONG borrow = sub_words(window, window, tmp->d, div_n + 1);
    // Add sdiv back under a mask; q is then one smaller.
    const BN_ULONG mask = 0 - borrow;
    for (int k = 0; k < div_n; k++) tmp->d[k] = sdiv->d[k] & mask;
    *top += add_words(window, window, tmp->d, div_n);
    res->d[i] = q - borrow;
  }
  set_top_secret(res, loop - 1, quot_neg);
  if (rm != nullptr) {
    if (wexpand(rm, div_n) == nullptr) return 0;
    shift_right_secret(rm->d, window, div_n, ns);  // window is at word 1
    set_top_secret(rm, div_n, num_neg);
  }
  return 1;
}

// Whether a has no leading zero word; for a secret a tested by a mask, the
// verdict (a fact of its word count) made public.
bool stripped(const BIGNUM* a, bool secret) {
  if (a->top == 0) return true;
  const BN_ULONG high = a->d[a->top - 1];
  return secret ? ct::declassify(ct::zero_mask(high)) == 0 : high != 0;
}

}  // namespace

int div(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx) {
  if (dv != nullptr && dv == rm) {  // two results in one record: refused
    BNerr(BN_F_BN_DIV, BN_R_INVALID_ARGUMENT);
    return 0;
  }
  const bool secret = BN_get_flags(num, BN_FLAG_SECRET) || BN_get_flags(divisor, BN_FLAG_SECRET);
  if (!stripped(num, secret) || !stripped(divisor, secret)) {
    BNerr(BN_F_BN_DIV, BN_R_NOT_INITIALIZED);
    return 0;
  }
  if (secret) {
    if (divisor->top == 0) {
      BNerr(BN_F_BN_DIV_NO_BRANCH, BN_R_DIV_BY_ZERO);
      return 0;
    }
    return divide_secret(dv, rm, num, divisor, ctx);
  }
  if (divisor->top == 0) {
    BNerr(BN_F_BN_DIV, BN_R_DIV_BY_ZERO);
    return 0;
  }
  if (num->top < divisor->top || (num->top == divisor->top && BN_ucmp(num, divisor) < 0)) {
    if (rm != nullptr && BN_copy(rm, num) == nullptr) return 0;
    if (dv != nullptr) {
      dv->top = 0;
      dv->neg = 0;
    }
    return 1;
  }
  return divide(dv, rm, num, divisor);
}

}  // namespace morvane::bn

/* see morvane/bn.h */
int BN_div(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx) {
  return morvane::bn::div(dv, rm, num, divisor, ctx);
}
