// Random numbers of a given bit length (strong, pseudo-random, and reshaped
// for testing the arithmetic), uniformly below a bound, and secrets below a
// public bound drawn at its fixed width.
//
// Implementation notes: every draw first adds the current time to the
// generator's pool with no entropy credited, then fills a big-endian buffer
// of whole bytes and forces the requested top and bottom bits; the buffer is
// wiped on every way out.  Draws below a bound reject values at or above it,
// folding a one-bit-longer draw by up to two subtractions when the bound is
// just above a power of two, so that fewer draws are lost.  Those compare
// word by word from the top and strip leading zero words, so a secret draw
// (a nonce, a key, a blinding factor) takes internal::draw_below instead,
// which compares by masks at the bound's width.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include <time.h>

#include "bn/internal.h"
#include "internal/ct.h"
#include "internal/fixed_words.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;

namespace {

enum class Source { kStrong, kPseudo, kTest };

// Draws before a draw below a bound gives up (each is taken with
// probability above 1/2 but for bounds of 2 or 3).
constexpr int kRangeTries = 100;

// Test mode: byte i becomes a copy of byte i-1, 0, 0xFF or stays, by one more
// pseudo-random byte each, so that the numbers have long runs of equal bits.
bool reshape(unsigned char* buf, int n) {
  for (int i = 0; i < n; i++) {
    unsigned char c;
    if (RAND_pseudo_bytes(&c, 1) == -1) return false;
    if (c >= 128 && i > 0) {
      buf[i] = buf[i - 1];
    } else if (c < 42) {
      buf[i] = 0;
    } else if (c < 84) {
      buf[i] = 255;
    }
  }
  return true;
}

int bnrand(Source source, BIGNUM* rnd, int bits, int top, int bottom) {
  // A negative length, and the two top bits of a one-bit number, cannot be
  // made: refused rather than written past a one-byte buffer.
  if (bits < 0 || (bits == 1 && top != 0 && top != -1)) {
    BNerr(BN_F_BNRAND, BN_R_INVALID_ARGUMENT);
    return 0;
  }
  if (bits == 0) return BN_zero(rnd);
  if (bits > bn::kMaxWords * BN_BITS2) {
    bn::err_too_long();
    return 0;
  }
  const int n = (bits + 7) / 8, t = (bits - 1) % 8;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(n)));
  if (buf == nullptr) {
    BNerr(BN_F_BNRAND, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const auto stamp = static_cast<uint32_t>(time(nullptr));
  RAND_add(&stamp, sizeof(stamp), 0.0);
  bool ok = source == Source::kStrong ? RAND_bytes(buf, n) > 0 : RAND_pseudo_bytes(buf, n) != -1;
  if (ok && source == Source::kTest) ok = reshape(buf, n);
  if (ok) {
    if (top == 0) {
      buf[0] |= static_cast<unsigned char>(1 << t);
    } else if (top != -1) {
      if (t > 0) {
        buf[0] |= static_cast<unsigned char>(3 << (t - 1));
      } else {  // bits 8k + 1: the top bit alone in byte 0, the next in byte 1
        buf[0] = 1;
        buf[1] |= 0x80;
      }
    }
    buf[0] &= static_cast<unsigned char>(0xFF >> (7 - t));
    if (bottom) buf[n - 1] |= 1;
    ok = BN_bin2bn(buf, n, rnd) != nullptr;
  }
  MORVANE_cleanse(buf, static_cast<size_t>(n));
  MORVANE_free(buf);
  return ok ? 1 : 0;
}

// r uniform in [0, range) by draws of `draw`.
int rand_range(int (*draw)(BIGNUM*, int, int, int), BIGNUM* r, const BIGNUM* range) {
  if (range->neg || BN_is_zero(range)) {
    BNerr(BN_F_BN_RAND_RANGE, BN_R_INVALID_RANGE);
    return 0;
  }
  const int b = BN_num_bits(range);
  if (b == 1) return BN_zero(r);
  int count = kRangeTries;
  if (!BN_is_bit_set(range, b - 2) && !BN_is_bit_set(range, b - 3)) {
    // 3 range < 2^(b+1): draw b + 1 bits and fold by up to two subtractions,
    // leaving most draws below range.
    do {
      if (!draw(r, b + 1, -1, 0)) return 0;
      if (BN_cmp(r, range) >= 0) {
        if (!BN_sub(r, r, range)) return 0;
        if (BN_cmp(r, range) >= 0 && !BN_sub(r, r, range)) return 0;
      }
      if (!--count) {
        BNerr(BN_F_BN_RAND_RANGE, BN_R_TOO_MANY_ITERATIONS);
        return 0;
      }
    } while (BN_cmp(r, range) >= 0);
  } else {
    do {
      if (!draw(r, b, -1, 0)) return 0;
      if (!--count) {
        BNerr(BN_F_BN_RAND_RANGE, BN_R_TOO_MANY_ITERATIONS);
        return 0;
      }
    } while (BN_cmp(r, range) >= 0);
  }
  return 1;
}

}  // namespace

/* see morvane/bn.h */
int BN_rand(BIGNUM* rnd, int bits, int top, int bottom) {
  return bnrand(Source::kStrong, rnd, bits, top, bottom);
}

/* see morvane/bn.h */
int BN_pseudo_rand(BIGNUM* rnd, int bits, int top, int bottom) {
  return bnrand(Source::kPseudo, rnd, bits, top, bottom);
}

/* see morvane/bn.h */
int BN_bntest_rand(BIGNUM* rnd, int bits, int top, int bottom) {
  return bnrand(Source::kTest, rnd, bits, top, bottom);
}

/* see morvane/bn.h */
int BN_rand_range(BIGNUM* r, const BIGNUM* range) {
  return rand_range(BN_rand, r, range);
}

/* see morvane/bn.h */
int BN_pseudo_rand_range(BIGNUM* r, const BIGNUM* range) {
  return rand_range(BN_pseudo_rand, r, range);
}

namespace morvane::internal {

int draw_below(BIGNUM* k, const BIGNUM* range) noexcept {
  const int bits = BN_num_bits(range);
  if (range->neg || bits < 2) {
    BNerr(BN_F_BN_RAND_RANGE, BN_R_INVALID_RANGE);
    return 0;
  }
  const int nw = range->top, nbytes = (bits + 7) / 8;
  if (k->dmax < nw) {  // cleared first: growing copies the old words by their count
    BN_clear(k);
    if (bn_expand2(k, nw) == nullptr) return 0;
  }
  // k - range, then the generator's bytes.
  const size_t scratch = bn::word_bytes(nw) + static_cast<size_t>(nbytes);
  auto* diff = static_cast<BN_ULONG*>(MORVANE_malloc(scratch));
  if (diff == nullptr) {
    BNerr(BN_F_BNRAND, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  auto* buf = reinterpret_cast<unsigned char*>(diff + nw);
  int ok = 0;
  for (int tries = 0; tries < kRangeTries && ok == 0; tries++) {
    if (RAND_bytes(buf, nbytes) <= 0) {
      ok = -1;
      break;
    }
    buf[0] &= static_cast<unsigned char>(0xFF >> (8 * nbytes - bits));
    bn::zero_words(k->d, k->dmax);
    for (int b = 0; b < nbytes; b++)
      k->d[b / BN_BYTES] |= static_cast<BN_ULONG>(buf[nbytes - 1 - b]) << (8 * (b % BN_BYTES));
    // Taken when 0 < k < range: k - range borrows and some word is not zero.
    const BN_ULONG below = ct::bit_mask(bn::sub_words(diff, k->d, range->d, nw));
    BN_ULONG any = 0;
    for (int i = 0; i < nw; i++) any |= k->d[i];
    if (ct::declassify(below & ~ct::zero_mask(any)) != 0) ok = store_words(k, k->d, nw);
  }
  MORVANE_cleanse(diff, scratch);
  MORVANE_free(diff);
  if (ok == 1) return 1;
  BN_clear(k);
  if (ok == 0) BNerr(BN_F_BN_RAND_RANGE, BN_R_TOO_MANY_ITERATIONS);
  return 0;
}

}  // namespace morvane::internal
