// DES checksums: the CBC message authentication code of FIPS 113 (the last
// block of a CBC encryption, the final block zero-padded) and the older
// quadratic checksum, which uses no DES: 32-bit squares reduced modulo
// 2^31 - 1 over the input's 16-bit values.

#include <string.h>

#include <morvane/des.h>

#include "des/internal.h"
#include "internal/byteorder.h"
#include "internal/modes.h"

using morvane::des::Block;

/* see morvane/des.h */
DES_LONG DES_cbc_cksum(const unsigned char* input, DES_cblock* output, long length,
                       DES_key_schedule* schedule, const_DES_cblock* ivec) {
  // FIPS 113: O(n) = E(D(n) XOR O(n-1)) with O(0) the IV; the MAC is the
  // last output block.
  Block v = Block::load(*ivec);
  for (size_t n = morvane::internal::length_of(length); n != 0; n -= n < 8 ? n : 8, input += 8)
    v = morvane::des::Des::encrypt(Block::load_partial(input, n < 8 ? n : 8) ^ v, schedule);
  unsigned char last[8];
  v.store(last);
  if (output != nullptr) memcpy(*output, last, 8);
  // Bytes 4-7 of the final block, read big-endian.
  const DES_LONG result = morvane::internal::load_be32(last + 4);
  morvane::des::wipe(v);
  return result;
}

DES_LONG DES_quad_cksum(const unsigned char* input, DES_cblock output[], long length, int out_count,
                        DES_cblock* seed) {
  constexpr uint32_t kNoise = 83653421;
  constexpr uint32_t kModulus = 0x7fffffff;  // 2^31 - 1
  const int passes = out_count < 1 ? 1 : out_count > 4 ? 4 : out_count;
  uint32_t z0 = morvane::internal::load_le32(*seed);
  uint32_t z1 = morvane::internal::load_le32(*seed + 4);
  unsigned char* out = output != nullptr ? output[0] : nullptr;
  const size_t total = morvane::internal::length_of(length);
  for (int pass = 0; pass < passes; pass++) {
    const unsigned char* p = input;
    for (size_t n = total; n != 0;) {
      // The next 16-bit value, first byte low; a last odd byte stands alone.
      uint32_t t = p[0];
      if (n > 1) {
        t |= static_cast<uint32_t>(p[1]) << 8;
        p += 2;
        n -= 2;
      } else {
        p += 1;
        n -= 1;
      }
      // All products and sums wrap at 32 bits before the reduction.
      const uint32_t t0 = t + z0;
      const uint32_t next_z0 = (t0 * t0 + z1 * z1) % kModulus;
      z1 = (t0 * (z1 + kNoise)) % kModulus;
      z0 = next_z0;
    }
    if (out != nullptr) {
      // Native byte order, as the checksum has always been stored.
      memcpy(out, &z0, 4);
      memcpy(out + 4, &z1, 4);
      out += 8;
    }
  }
  return z0;
}
