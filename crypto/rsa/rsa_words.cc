// Word arrays of the private operations: scratch words, the move from words
// to bytes, comparisons and the test for one, with no branch and no address
// that depends on the values (only on the word counts), a prime minus one,
// and the Montgomery context of a public modulus for one call.
//
// Implementation notes: a BIGNUM's `top` follows its value, so it is secret
// for a secret number; the arrays here have the public width of the modulus
// instead, and load_words converts with masks.

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

namespace {

// a's word i, zero at and above its count, by a mask (the count may come
// from masks); zero beyond its room.
BN_ULONG word(const BIGNUM* a, int i) noexcept {
  return i < a->dmax
             ? a->d[i] & ct::lt_mask(static_cast<unsigned>(i), static_cast<unsigned>(a->top))
             : 0;
}

}  // namespace

bool same_value(const BIGNUM* a, const BIGNUM* b) noexcept {
  const int room = a->dmax > b->dmax ? a->dmax : b->dmax;
  BN_ULONG diff = static_cast<BN_ULONG>(a->neg ^ b->neg);
  for (int i = 0; i < room; i++) diff |= word(a, i) ^ word(b, i);
  return reveal(ct::zero_mask(diff)) != 0;
}

BN_ULONG one_mask(const BIGNUM* a) noexcept {
  BN_ULONG high = 0;
  for (int i = 1; i < a->dmax; i++) high |= word(a, i);
  return ct::eq_mask<BN_ULONG>(word(a, 0), 1) & ct::zero_mask(high);
}

bool minus_one(BIGNUM* r, const BIGNUM* a) {
  if (BN_copy(r, a) == nullptr) return false;
  return BN_is_odd(a) ? BN_clear_bit(r, 0) : BN_sub_word(r, 1);
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
