// Fixed-width arithmetic for the private operations: Montgomery products and
// reduction, modular subtraction, and the moves between BIGNUMs, word arrays
// and bytes, with no branch and no
// address that depends on the values (only on the word counts).
//
// Implementation notes: a BIGNUM's `top` follows its value, so it is secret
// for a secret number; the arrays here have the public width of the modulus
// instead, and load_words/store_words convert with masks.  The Montgomery
// reduction keeps its carry in a word and ends with one subtraction of N
// chosen by a mask.

#include <morvane/bn.h>
#include <morvane/crypto.h>

#include "internal/ct.h"
#include "internal/wipe.h"
#include "rsa/internal.h"

namespace morvane::rsa {

namespace ct = morvane::ct;

Scratch::Scratch(size_t words) noexcept
    : block_(static_cast<BN_ULONG*>(MORVANE_malloc(words * sizeof(BN_ULONG)))), size_(words) {}

Scratch::~Scratch() {
  if (block_ == nullptr) return;
  internal::wipe(block_, size_ * sizeof(BN_ULONG));
  MORVANE_free(block_);
}

BN_ULONG* Scratch::take(int n) noexcept {
  if (block_ == nullptr || n < 0 || static_cast<size_t>(n) > size_ - used_) return nullptr;
  BN_ULONG* w = block_ + used_;
  used_ += static_cast<size_t>(n);
  for (int i = 0; i < n; i++) w[i] = 0;
  return w;
}

bool Scratch::modulus(Modulus* m, const BN_MONT_CTX* mont) noexcept {
  const int nl = mont->N.top;
  BN_ULONG* rr = take(nl);
  if (rr == nullptr || nl == 0) return false;
  for (int i = 0; i < nl && i < mont->RR.top; i++) rr[i] = mont->RR.d[i];
  *m = Modulus{mont->N.d, rr, mont->n0, nl};
  return true;
}

void words_to_bytes(unsigned char* out, size_t len, const BN_ULONG* w, int nl) noexcept {
  const size_t have = static_cast<size_t>(nl) * BN_BYTES;
  for (size_t k = 0; k < len; k++) {  // k: the byte's place from the end
    out[len - 1 - k] =
        k < have ? static_cast<unsigned char>(w[k / BN_BYTES] >> (8 * (k % BN_BYTES))) : 0;
  }
}

BN_ULONG lt_words(const BN_ULONG* a, const BN_ULONG* b, int n) noexcept {
  BN_ULONG borrow = 0;  // of a - b, word by word
  for (int i = 0; i < n; i++) {
    const BN_ULONG d = a[i] - b[i];
    const BN_ULONG b1 = ct::lt_mask(a[i], b[i]);
    const BN_ULONG b2 = ct::lt_mask(d, borrow & 1);
    borrow = (b1 | b2) & 1;
  }
  return ct::bit_mask(borrow);
}

BN_ULONG zero_words_mask(const BN_ULONG* a, int n) noexcept {
  BN_ULONG acc = 0;
  for (int i = 0; i < n; i++) acc |= a[i];
  return ct::zero_mask(acc);
}

void mont_mul(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, const Modulus& m,
              BN_ULONG* t) noexcept {
  bn_mul_normal(t, const_cast<BN_ULONG*>(a), m.nl, const_cast<BN_ULONG*>(b), m.nl);
  redc(r, t, m);
}

void sub_mod(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, const Modulus& m) noexcept {
  const BN_ULONG mask = ct::bit_mask(bn_sub_words(r, a, b, m.nl));
  BN_ULONG carry = 0;  // r + (N & mask), the carry out dropped
  for (int i = 0; i < m.nl; i++) {
    const BN_ULONG add = m.n[i] & mask;
    const BN_ULONG s = r[i] + add;
    const BN_ULONG s2 = s + carry;
    carry = (ct::lt_mask(s, add) | ct::lt_mask(s2, carry)) & 1;
    r[i] = s2;
  }
}

MontFor::MontFor(BN_MONT_CTX* cached, const BIGNUM* mod, BN_CTX* ctx) noexcept : m_(cached) {
  if (m_ != nullptr) return;
  own_ = BN_MONT_CTX_new();
  if (own_ != nullptr && BN_MONT_CTX_set(own_, mod, ctx)) m_ = own_;
}

MontFor::~MontFor() {
  BN_MONT_CTX_free(own_);
}

}  // namespace morvane::rsa
