// Random numbers of a given bit length from the pseudo-random generator.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include <time.h>

#include "bn/internal.h"

/* see morvane/bn.h */
int BN_pseudo_rand(BIGNUM* rnd, int bits, int top, int bottom) {
  if (bits <= 0) return BN_zero(rnd);
  const int n = (bits - 1) / 8 + 1, bit = (bits - 1) % 8;  // no overflow at INT_MAX
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(n)));
  if (buf == nullptr) {
    BNerr(BN_F_BNRAND, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const time_t now = time(nullptr);
  const uint32_t stamp = static_cast<uint32_t>(now);
  RAND_add(&stamp, sizeof(stamp), 0.0);
  int ok = RAND_pseudo_bytes(buf, n) != -1;
  if (ok) {
    if (top == 0) {
      buf[0] |= static_cast<unsigned char>(1 << bit);
    } else if (top != -1) {
      if (bit > 0) {
        buf[0] |= static_cast<unsigned char>(3 << (bit - 1));
      } else {
        buf[0] = 1;
        if (n > 1) buf[1] |= 0x80;
      }
    }
    buf[0] &= static_cast<unsigned char>(0xFF >> (7 - bit));
    if (bottom) buf[n - 1] |= 1;
    ok = BN_bin2bn(buf, n, rnd) != nullptr;
  }
  MORVANE_cleanse(buf, static_cast<size_t>(n));
  MORVANE_free(buf);
  return ok;
}
