// Random numbers of a given bit length (strong, pseudo-random, and reshaped
// for testing the arithmetic) and uniformly below a bound.
//
// Implementation notes: every draw first adds the current time to the
// generator's pool with no entropy credited, then fills a big-endian buffer
// of whole bytes and forces the requested top and bottom bits; the buffer is
// wiped on every way out.  Draws below a bound reject values at or above it,
// folding a one-bit-longer draw by up to two subtractions when the bound is
// just above a power of two, so that fewer draws are lost.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include <time.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

namespace {

enum class Source { kStrong, kPseudo, kTest };

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
  int count = 100;
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
