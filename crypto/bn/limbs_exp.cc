// Exponentiation on 64-bit limbs in Montgomery form: the constant-time fixed
// window, for secret exponents, and the square-and-multiply ladder for public
// exponents, for bases whose value must steer nothing.
//
// Implementation notes: the constant-time form keeps the 2^w powers of its
// window whole, one after the other (the even ones made by squaring), and
// reads one back by a masked pass over all of them, eight limbs at a time;
// the top window starts the value, each window below costs w squarings and
// one product, and the window count comes from the exponent's word count.
// The products are limb::mont_mul's, which take the unrolled kernels of
// limbs_fixed.cc for the sizes that have them.  The public form keeps b R and
// multiplies by it where e has a one bit; the one bit at the bottom
// multiplies by b itself, which removes the factor R with the product
// instead of a separate reduction.

#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>

#include "bn/limbs.h"
#include "internal/ct.h"

namespace morvane::bn::limb {

namespace {

constexpr int kMaxWindow = 6;

int ct_window_bits(int b) {
  return b >= 938 ? 6 : b >= 307 ? 5 : b >= 90 ? 4 : b >= 23 ? 3 : 1;
}

// The table's alignment slack (each power starts a cache line when nl is a
// multiple of 8).
constexpr size_t kAlign = 64;

// Two limbs as one 16-byte vector (SSE2 on x86-64; the compiler splits it
// elsewhere).
typedef Limb Limb2 __attribute__((vector_size(16)));

// x = power idx of the table (`width` powers of nl limbs, one after the
// other), by a masked pass over every limb of every power: the addresses read
// do not depend on idx.  Eight limbs at a time (then two, then one) are
// gathered in registers across all the powers.
void table_select(Limb* x, const Limb* table, int nl, int idx, int width) {
  Limb2 mask[1 << kMaxWindow];
  for (int j = 0; j < width; j++) {
    const Limb m = ct::eq_mask<Limb>(static_cast<Limb>(j), static_cast<Limb>(idx));
    mask[j] = Limb2{m, m};
  }
  const size_t stride = static_cast<size_t>(nl);
  int i = 0;
  for (; i + 8 <= nl; i += 8) {
    Limb2 acc[4] = {};
    for (int j = 0; j < width; j++) {
      const Limb* p = table + static_cast<size_t>(j) * stride + i;
      for (int k = 0; k < 4; k++) {
        Limb2 v;
        memcpy(&v, p + 2 * k, sizeof v);
        acc[k] |= v & mask[j];
      }
    }
    memcpy(x + i, acc, sizeof acc);
  }
  for (; i + 2 <= nl; i += 2) {  // two at a time below eight
    Limb2 acc = {};
    for (int j = 0; j < width; j++) {
      Limb2 v;
      memcpy(&v, table + static_cast<size_t>(j) * stride + i, sizeof v);
      acc |= v & mask[j];
    }
    memcpy(x + i, &acc, sizeof acc);
  }
  for (; i < nl; i++) {
    Limb acc = 0;
    for (int j = 0; j < width; j++) acc |= table[static_cast<size_t>(j) * stride + i] & mask[j][0];
    x[i] = acc;
  }
}

// r = x R^-1 mod N (x below N), t: 2 nl limbs.
void leave_montgomery(Limb* r, const Limb* x, const Modulus& m, Limb* t) {
  for (int i = 0; i < 2 * m.nl; i++) t[i] = i < m.nl ? x[i] : 0;
  redc(r, t, m);
}

}  // namespace

size_t exp_consttime_bytes(int nw, int pwords) noexcept {
  const int nl = count(nw), w = ct_window_bits(pwords * BN_BITS2);
  // tmp (nl), the product (2 nl), the alignment slack and the 2^w powers.
  return (3 * static_cast<size_t>(nl) + (static_cast<size_t>(nl) << w)) * sizeof(Limb) + kAlign;
}

int exp_consttime_window(int pwords) noexcept {
  return ct_window_bits(pwords * BN_BITS2);
}

void exp_consttime(Limb* r, const Limb* b, const BN_ULONG* p, int pwords, const Modulus& m,
                   const Limb* rr, void* scratch) noexcept {
  exp_consttime_watch(r, b, p, pwords, m, rr, scratch, nullptr, nullptr);
}

void exp_consttime_watch(Limb* r, const Limb* b, const BN_ULONG* p, int pwords, const Modulus& m,
                         const Limb* rr, void* scratch, ExpWatch watch, void* arg) noexcept {
  const int nl = m.nl;
  const MontMulFn mul = mont_mul_for(m);
  const int pbits = pwords * BN_BITS2;  // the word count is public, the bit length is not
  const int w = ct_window_bits(pbits);
  const int width = 1 << w;
  Limb* tmp = static_cast<Limb*>(scratch);
  Limb* t = tmp + nl;
  uint8_t* after = reinterpret_cast<uint8_t*>(t + 2 * nl);
  Limb* table =
      reinterpret_cast<Limb*>(after + (kAlign - reinterpret_cast<uintptr_t>(after) % kAlign));
  auto power = [&](int i) { return table + static_cast<size_t>(i) * static_cast<size_t>(nl); };
  // power 0 = 1 R mod N, power 1 = b R mod N, power 2i = (power i)^2 and
  // power 2i + 1 = power 2i * power 1.
  for (int i = 0; i < nl; i++) tmp[i] = i == 0;
  mul(power(0), tmp, rr, m, t);
  mul(power(1), b, rr, m, t);
  for (int i = 2; i < width; i++) {
    const Limb* half = power(i / 2);
    mul(power(i), (i & 1) ? power(i - 1) : half, (i & 1) ? power(1) : half, m, t);
  }
  // The top window starts the value; each window below takes w squarings
  // and one product.
  auto window = [&](int low) {
    BN_ULONG v = 0;
    for (int j = low + w - 1; j >= low; j--) {
      const BN_ULONG one = j < pbits ? (p[j / BN_BITS2] >> (j % BN_BITS2)) & 1 : 0;
      v = (v << 1) | one;
    }
    return static_cast<int>(v);
  };
  // The watcher sees the value after the top window, after each squaring
  // of a window but its last, and after each window's product.
  auto look = [&](int pos) {
    if (watch != nullptr) watch(arg, r, pos);
  };
  int low = pbits > 0 ? ((pbits - 1) / w) * w : 0;
  table_select(r, table, nl, window(low), width);
  look(low);
  for (low -= w; low >= 0; low -= w) {
    for (int k = 1; k <= w; k++) {
      mul(r, r, r, m, t);
      if (k < w) look(low + w - k);
    }
    table_select(tmp, table, nl, window(low), width);
    mul(r, r, tmp, m, t);
    look(low);
  }
  leave_montgomery(tmp, r, m, t);
  for (int i = 0; i < nl; i++) r[i] = tmp[i];
}

void exp_public(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                const Limb* rr, Limb* t) noexcept {
  const int nl = m.nl;
  const MontMulFn mul = mont_mul_for(m);
  Limb *bm = t, *prod = t + nl;
  auto bit = [e](int j) { return (e[j / BN_BITS2] >> (j % BN_BITS2)) & 1; };
  int top = ewords * BN_BITS2 - 1;
  while (top >= 0 && !bit(top)) top--;
  if (top < 0) {  // e = 0: 1 mod N, by way of R mod N
    for (int i = 0; i < nl; i++) bm[i] = i == 0;
    mul(bm, bm, rr, m, prod);
    leave_montgomery(r, bm, m, prod);
    return;
  }
  mul(bm, b, rr, m, prod);  // b R
  for (int i = 0; i < nl; i++) r[i] = bm[i];
  for (int j = top - 1; j >= 1; j--) {
    mul(r, r, r, m, prod);
    if (bit(j)) mul(r, r, bm, m, prod);
  }
  if (top >= 1) {
    mul(r, r, r, m, prod);
    if (bit(0)) {
      mul(r, r, b, m, prod);  // b^e R R^-1
      return;
    }
  }
  for (int i = 0; i < nl; i++) bm[i] = r[i];
  leave_montgomery(r, bm, m, prod);
}

}  // namespace morvane::bn::limb
