// Exponentiation on 64-bit limbs in Montgomery form: the constant-time fixed
// window, for secret exponents, and the square-and-multiply ladder for public
// exponents, for bases whose value must steer nothing.
//
// Implementation notes: the constant-time form stores every power of the
// window byte-interleaved (byte k of power i at k 2^w + i) and reads it back
// by a masked pass over all entries; each window costs w squarings and one
// product, and the window count comes from the exponent's word count.  The
// public form keeps b R and multiplies by it where e has a one bit; the one
// bit at the bottom multiplies by b itself, which removes the factor R with
// the product instead of a separate reduction.

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

// The table's alignment slack and its size for nw words and 2^w powers.
constexpr size_t kAlign = 64;
size_t table_bytes(int nw, int w) {
  return static_cast<size_t>(nw) * BN_BYTES << w;
}

// Byte-interleaved power table: byte k < nw 4 of power idx at k width + idx.
void copy_to_table(uint8_t* table, const Limb* x, int nw, int idx, int width) {
  for (int k = 0; k < nw * BN_BYTES; k++)
    table[k * width + idx] = static_cast<uint8_t>(x[k / 8] >> (8 * (k % 8)));
}

// x = power idx, by a masked pass over every entry.  From 8 powers up, eight
// entries at a time: a 64-bit mask keeps the byte of power idx, and folding
// the word brings it to the bottom.
void copy_from_table(Limb* x, const uint8_t* table, int nw, int idx, int width) {
  for (int i = 0; i < count(nw); i++) x[i] = 0;
  if (width < 8) {
    for (int k = 0; k < nw * BN_BYTES; k++) {
      uint8_t acc = 0;
      for (int j = 0; j < width; j++)
        acc |= table[k * width + j] & ct::byte_mask(ct::eq_mask<uint32_t>(j, idx));
      x[k / 8] |= static_cast<Limb>(acc) << (8 * (k % 8));
    }
    return;
  }
  uint8_t sel_bytes[1 << kMaxWindow];
  uint64_t sel[(1 << kMaxWindow) / 8];
  for (int j = 0; j < width; j++) sel_bytes[j] = ct::byte_mask(ct::eq_mask<uint32_t>(j, idx));
  memcpy(sel, sel_bytes, static_cast<size_t>(width));
  for (int k = 0; k < nw * BN_BYTES; k++) {
    const uint8_t* row = table + k * width;
    uint64_t acc = 0;
    for (int j = 0; j < width / 8; j++) {
      uint64_t v;
      memcpy(&v, row + 8 * j, sizeof v);
      acc |= v & sel[j];
    }
    acc |= acc >> 32;
    acc |= acc >> 16;
    acc |= acc >> 8;
    x[k / 8] |= (acc & 0xFF) << (8 * (k % 8));
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
  return 5 * static_cast<size_t>(nl) * sizeof(Limb) + kAlign + table_bytes(nw, w);
}

void exp_consttime(Limb* r, const Limb* b, const BN_ULONG* p, int pwords, const Modulus& m,
                   const Limb* rr, void* scratch) noexcept {
  const int nl = m.nl, nw = m.nw;
  const int pbits = pwords * BN_BITS2;  // the word count is public, the bit length is not
  const int w = ct_window_bits(pbits);
  const int width = 1 << w;
  Limb* base = static_cast<Limb*>(scratch);
  Limb *tmp = base + nl, *t = tmp + nl, *after = t + 2 * nl;
  uint8_t* table = reinterpret_cast<uint8_t*>(after);
  table += kAlign - reinterpret_cast<uintptr_t>(table) % kAlign;
  // power 0 = 1 R mod N, power 1 = b R mod N, power i = power i-1 * power 1.
  for (int i = 0; i < nl; i++) tmp[i] = i == 0;
  mont_mul(tmp, tmp, rr, m, t);
  copy_to_table(table, tmp, nw, 0, width);
  mont_mul(base, b, rr, m, t);
  copy_to_table(table, base, nw, 1, width);
  for (int i = 0; i < nl; i++) tmp[i] = base[i];
  for (int i = 2; i < width; i++) {
    mont_mul(tmp, tmp, base, m, t);
    copy_to_table(table, tmp, nw, i, width);
  }
  copy_from_table(r, table, nw, 0, width);
  for (int bit = ((pbits + w - 1) / w) * w - 1; bit >= 0; bit -= w) {
    BN_ULONG v = 0;
    for (int k = 0; k < w; k++) {
      mont_mul(r, r, r, m, t);
      const int j = bit - k;
      const BN_ULONG one = j < pbits ? (p[j / BN_BITS2] >> (j % BN_BITS2)) & 1 : 0;
      v = (v << 1) | one;
    }
    copy_from_table(tmp, table, nw, static_cast<int>(v), width);
    mont_mul(r, r, tmp, m, t);
  }
  leave_montgomery(tmp, r, m, t);
  for (int i = 0; i < nl; i++) r[i] = tmp[i];
}

void exp_public(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                const Limb* rr, Limb* t) noexcept {
  const int nl = m.nl;
  Limb *bm = t, *prod = t + nl;
  auto bit = [e](int j) { return (e[j / BN_BITS2] >> (j % BN_BITS2)) & 1; };
  int top = ewords * BN_BITS2 - 1;
  while (top >= 0 && !bit(top)) top--;
  if (top < 0) {  // e = 0: 1 mod N, by way of R mod N
    for (int i = 0; i < nl; i++) bm[i] = i == 0;
    mont_mul(bm, bm, rr, m, prod);
    leave_montgomery(r, bm, m, prod);
    return;
  }
  mont_mul(bm, b, rr, m, prod);  // b R
  for (int i = 0; i < nl; i++) r[i] = bm[i];
  for (int j = top - 1; j >= 1; j--) {
    mont_mul(r, r, r, m, prod);
    if (bit(j)) mont_mul(r, r, bm, m, prod);
  }
  if (top >= 1) {
    mont_mul(r, r, r, m, prod);
    if (bit(0)) {
      mont_mul(r, r, b, m, prod);  // b^e R R^-1
      return;
    }
  }
  for (int i = 0; i < nl; i++) bm[i] = r[i];
  leave_montgomery(r, bm, m, prod);
}

}  // namespace morvane::bn::limb
