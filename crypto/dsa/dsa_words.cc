// Fixed-width arithmetic modulo q for signing, on 64-bit limbs: Montgomery
// products, modular addition, reduction of any word string, the inverse by
// Fermat's little theorem, and the moves between limbs and BIGNUMs, with no
// branch and no address that depends on the values (only on the public
// limb counts and the public modulus).
//
// Implementation notes: R = 2^(64 nl).  The Montgomery context of q gives
// R'^2 mod q for R' = 2^(32 nw); for an odd word count R = R' 2^32, and 64
// modular doublings make R^2.  Products are by product scanning, one
// template per limb count, which the compiler unrolls.  A long string is
// reduced from its top in chunks of nl limbs, each chunk entering as c R^-1
// and the running value multiplied by R before it, so that one final
// product by R^2 undoes the factor R^-1 that the whole string carries.

#include <morvane/bn.h>

#include "bn/limbs.h"
#include "dsa/internal.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace morvane::dsa {

namespace {

using u128 = unsigned __int128;

// The scratch of a product (the multipliers of n), wiped by the caller
// after its last product.
template <int N>
struct Scratch {
  Limb q[N];
};

// r = a b R^-1 mod n for a < R and b < n; r may be a or b: the product
// scanning of the big-number limbs, unrolled for N.
template <int N>
void mul_n(Limb* r, const Limb* a, const Limb* b, const Limb* n, Limb n0,
           Scratch<N>& sc) noexcept {
  bn::limb::mont_mul_scan<N>(r, a, b, n, n0, sc.q);
}

// r = a^(n - 2) in Montgomery form for a in Montgomery form, by fixed
// windows of 4 bits over the public exponent, from its top window down.
template <int N>
void inverse_n(Limb* r, const Limb* a, const Modulus& m) noexcept {
  Limb e[N], table[16][N], acc[N], one[N] = {1};
  Scratch<N> sc;
  Limb borrow = 2;
  for (int j = 0; j < N; j++) {  // n - 2: n is odd and above 2
    const u128 x = static_cast<u128>(m.n[j]) - borrow;
    e[j] = static_cast<Limb>(x);
    borrow = static_cast<Limb>(x >> 127);
  }
  int bits = 64 * N;  // of the public exponent
  while (bits > 1 && ((e[(bits - 1) / 64] >> ((bits - 1) % 64)) & 1) == 0) bits--;
  mul_n<N>(table[0], m.rr, one, m.n, m.n0, sc);  // R mod n: one in Montgomery form
  for (int j = 0; j < N; j++) table[1][j] = a[j];
  for (int i = 2; i < 16; i++) mul_n<N>(table[i], table[i - 1], a, m.n, m.n0, sc);
  auto window = [&](int low) { return (e[low / 64] >> (low % 64)) & 15; };  // low % 4 == 0
  int low = ((bits - 1) / 4) * 4;
  for (int j = 0; j < N; j++) acc[j] = table[window(low)][j];
  for (low -= 4; low >= 0; low -= 4) {
    for (int k = 0; k < 4; k++) mul_n<N>(acc, acc, acc, m.n, m.n0, sc);
    mul_n<N>(acc, acc, table[window(low)], m.n, m.n0, sc);
  }
  for (int j = 0; j < N; j++) r[j] = acc[j];
  internal::wipe_scratch(table, sizeof table);
  internal::wipe_scratch(acc, sizeof acc);
  internal::wipe_scratch(&sc, sizeof sc);
}

// The template for m's limb count.
template <template <int> class Op, class... Args>
void dispatch(int nl, Args... args) noexcept {
  switch (nl) {
    case 1:
      Op<1>::run(args...);
      break;
    case 2:
      Op<2>::run(args...);
      break;
    case 3:
      Op<3>::run(args...);
      break;
    case 4:
      Op<4>::run(args...);
      break;
    case 5:
      Op<5>::run(args...);
      break;
    case 6:
      Op<6>::run(args...);
      break;
    case 7:
      Op<7>::run(args...);
      break;
    default:
      Op<8>::run(args...);
      break;
  }
}

template <int N>
struct MulOp {
  static void run(Limb* r, const Limb* a, const Limb* b, const Modulus* m) noexcept {
    Scratch<N> sc;
    mul_n<N>(r, a, b, m->n, m->n0, sc);
    internal::wipe_scratch(&sc, sizeof sc);
  }
};

template <int N>
struct InverseOp {
  static void run(Limb* r, const Limb* a, const Modulus* m) noexcept { inverse_n<N>(r, a, *m); }
};

}  // namespace

void words_to_limbs(Limb* l, const BN_ULONG* w, int nw) noexcept {
  for (int i = 0; i < nw / 2; i++) l[i] = w[2 * i] | static_cast<Limb>(w[2 * i + 1]) << 32;
  if (nw & 1) l[nw / 2] = w[nw - 1];
}

bool set_modulus(Modulus* m, const BN_MONT_CTX* mont) noexcept {
  const int nw = mont->N.top;
  if (nw < 1 || nw > 2 * kMaxQLimbs || mont->RR.top > nw) return false;
  BN_ULONG rr[2 * kMaxQLimbs] = {};
  for (int i = 0; i < mont->RR.top; i++) rr[i] = mont->RR.d[i];
  m->nw = nw;
  m->nl = (nw + 1) / 2;
  for (int i = 0; i < kMaxQLimbs; i++) m->n[i] = m->rr[i] = 0;
  words_to_limbs(m->n, mont->N.d, nw);
  words_to_limbs(m->rr, rr, nw);
  Limb inv = static_cast<BN_ULONG>(0u - mont->n0);  // N^-1 mod 2^32
  inv *= 2 - m->n[0] * inv;                         // Newton: N^-1 mod 2^64
  m->n0 = 0 - inv;
  // R = R' 2^32 for an odd word count: R^2 = R'^2 2^64, by doublings modulo
  // N (public values).
  for (int k = 0; k < (nw & 1) * 64; k++) {
    Limb d[kMaxQLimbs], carry = 0, borrow = 0;
    for (int i = 0; i < m->nl; i++) {
      const Limb top = m->rr[i] >> 63;
      m->rr[i] = (m->rr[i] << 1) | carry;
      carry = top;
    }
    for (int i = 0; i < m->nl; i++) {
      const u128 x = static_cast<u128>(m->rr[i]) - m->n[i] - borrow;
      d[i] = static_cast<Limb>(x);
      borrow = static_cast<Limb>(x >> 127);
    }
    const Limb keep = ct::eq_mask<Limb>(borrow & ~carry, 1);  // the double is below N
    for (int i = 0; i < m->nl; i++) m->rr[i] = ct::select(keep, m->rr[i], d[i]);
  }
  return true;
}

void load_limbs(Limb* l, const BIGNUM* a, const Modulus& m) noexcept {
  BN_ULONG w[2 * kMaxQLimbs];
  load_words(w, 2 * m.nl, a);
  words_to_limbs(l, w, 2 * m.nl);
  internal::wipe(w);
}

void mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept {
  dispatch<MulOp>(m.nl, r, a, b, &m);
}

void add_mod(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept {
  Limb s[kMaxQLimbs], d[kMaxQLimbs], carry = 0, borrow = 0;
  for (int i = 0; i < m.nl; i++) {
    const u128 x = static_cast<u128>(a[i]) + b[i] + carry;
    s[i] = static_cast<Limb>(x);
    carry = static_cast<Limb>(x >> 64);
  }
  for (int i = 0; i < m.nl; i++) {
    const u128 x = static_cast<u128>(s[i]) - m.n[i] - borrow;
    d[i] = static_cast<Limb>(x);
    borrow = static_cast<Limb>(x >> 127);
  }
  const Limb keep = ct::eq_mask<Limb>(borrow & ~carry, 1);  // the sum is below N
  for (int i = 0; i < m.nl; i++) r[i] = ct::select(keep, s[i], d[i]);
  internal::wipe_scratch(s, sizeof s);
  internal::wipe_scratch(d, sizeof d);
}

void reduce(Limb* r, const BN_ULONG* src, int n, const Modulus& m) noexcept {
  const int nl = m.nl, cw = 2 * nl;  // a chunk's limbs and words
  Limb acc[kMaxQLimbs] = {}, c[kMaxQLimbs], chunk[kMaxQLimbs], one[kMaxQLimbs] = {1};
  BN_ULONG w[2 * kMaxQLimbs];
  for (int j = (n + cw - 1) / cw - 1; j >= 0; j--) {
    for (int i = 0; i < cw; i++) w[i] = j * cw + i < n ? src[j * cw + i] : 0;
    words_to_limbs(chunk, w, cw);
    mont_mul(c, chunk, one, m);  // the chunk times R^-1
    mont_mul(acc, acc, m.rr, m);
    add_mod(acc, acc, c, m);
  }
  mont_mul(r, acc, m.rr, m);
  internal::wipe(acc);
  internal::wipe(c);
  internal::wipe(chunk);
  internal::wipe(w);
}

void mont_inverse(Limb* r, const Limb* a, const Modulus& m) noexcept {
  dispatch<InverseOp>(m.nl, r, a, &m);
}

Limb equal_limbs(const Limb* a, const Limb* b, int n) noexcept {
  Limb diff = 0;
  for (int i = 0; i < n; i++) diff |= a[i] ^ b[i];
  return ct::zero_mask(diff);
}

namespace {

// w[0 .. nw) = the low nw words of l.
void limbs_to_words(BN_ULONG* w, const Limb* l, int nw) noexcept {
  for (int i = 0; i < nw; i++) w[i] = static_cast<BN_ULONG>(l[i / 2] >> (32 * (i & 1)));
}

}  // namespace

int store_secret(BIGNUM* a, const Limb* l, const Modulus& m) noexcept {
  BN_ULONG w[2 * kMaxQLimbs];
  limbs_to_words(w, l, m.nw);
  const int ok = internal::store_words(a, w, m.nw);
  internal::wipe(w);
  return ok;
}

int store_public(BIGNUM* a, const Limb* l, const Modulus& m) noexcept {
  if (a->dmax < m.nw && bn_expand2(a, m.nw) == nullptr) return 0;
  int top = 0;
  for (int i = 0; i < m.nw; i++) {
    a->d[i] = ct::declassify(static_cast<BN_ULONG>(l[i / 2] >> (32 * (i & 1))));
    if (a->d[i] != 0) top = i + 1;
  }
  a->top = top;
  a->neg = 0;
  return 1;
}

}  // namespace morvane::dsa
