// AES key wrap and unwrap (RFC 3394, 2.2.1 and 2.2.2, index form): key data
// of n >= 2 64-bit blocks under a key-encryption key, with a 64-bit integrity
// value checked on unwrap.
//
// Implementation notes: the data is first moved into `out` (memmove, so the
// buffers may overlap) and every step then works there; the 16-byte work
// block B = A | R[i] holds key data and is wiped before returning.  Unwrap
// is constant time in the key, the data and the outcome.

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/aes.h>
#include <morvane/crypto.h>

#include "aes/internal.h"
#include "internal/ct.h"

using namespace morvane::aes;

namespace {

// RFC 3394, 2.2.3.1: the default initial value.
constexpr uint8_t default_iv[8] = {0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6};

// A = A XOR t, with t as a 64-bit big-endian number (RFC 3394, 2.2.1).
void XorCounter(uint8_t* a, uint64_t t) {
  for (int k = 7; k >= 0; k--, t >>= 8) a[k] ^= static_cast<uint8_t>(t);
}

}  // namespace

/* see morvane/aes.h */
int AES_wrap_key(const AES_KEY* key, const unsigned char* iv, unsigned char* out,
                 const unsigned char* in, unsigned int inlen) {
  // RFC 3394, 2: n is at least two; one block is not wrapped by this process.
  if (inlen < 16 || (inlen & 7) != 0) return -1;
  // The result length must fit the int return value.
  if (inlen > static_cast<unsigned>(INT_MAX) - 8) return -1;
  const size_t n = inlen / 8;
  memmove(out + 8, in, inlen);
  uint8_t b[kBlock];
  memcpy(b, iv != nullptr ? iv : default_iv, 8);
  uint64_t t = 1;
  for (int j = 0; j < 6; j++) {
    for (size_t i = 1; i <= n; i++, t++) {
      uint8_t* r = out + 8 * i;
      memcpy(b + 8, r, 8);
      EncryptBlock(b, b, key);
      XorCounter(b, t);
      memcpy(r, b + 8, 8);
    }
  }
  memcpy(out, b, 8);
  MORVANE_cleanse(b, sizeof b);
  return static_cast<int>(inlen + 8);
}

int AES_unwrap_key(const AES_KEY* key, const unsigned char* iv, unsigned char* out,
                   const unsigned char* in, unsigned int inlen) {
  if (inlen < 24 || (inlen & 7) != 0) return -1;  // A and at least two blocks
  const unsigned int m = inlen - 8;
  // The result length must fit the int return value.
  if (m > static_cast<unsigned>(INT_MAX)) return -1;
  const size_t n = m / 8;
  uint8_t b[kBlock];
  memcpy(b, in, 8);
  memmove(out, in + 8, m);
  uint64_t t = 6 * static_cast<uint64_t>(n);
  for (int j = 0; j < 6; j++) {
    for (size_t i = n; i >= 1; i--, t--) {
      uint8_t* r = out + 8 * (i - 1);
      XorCounter(b, t);
      memcpy(b + 8, r, 8);
      DecryptBlock(b, b, key);
      memcpy(r, b + 8, 8);
    }
  }
  // RFC 3394, 2.2.3: the key data is accepted only when A is the initial value.
  // Constant time: the check, the wipe on failure and the result depend on
  // no secret byte by branch or address (test/ct/ checks it).
  const unsigned ok = morvane::ct::bytes_eq_mask(b, iv != nullptr ? iv : default_iv, 8);
  MORVANE_cleanse(b, sizeof b);
  morvane::ct::zero_if(~ok, out, m);
  return static_cast<int>(morvane::ct::select(ok, m, 0u));
}
