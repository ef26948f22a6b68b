// Blowfish: key setup, the block functions and the byte-wise modes.
//
// Implementation notes: the 16 rounds are written out with the halves kept in
// locals and no swaps; the modes are the shared 64-bit templates over the
// big-endian block form.

#include <cstddef>
#include <cstdint>

#include <morvane/blowfish.h>

#include "bf/internal.h"
#include "internal/modes.h"

static_assert(sizeof(BF_KEY) == 4 * (18 + 1024));
static_assert(offsetof(BF_KEY, S) == 4 * 18);

const char BF_version[] = "Blowfish part of " MORVANE_VERSION_TEXT;

namespace {

// F(x) = ((S0[a] + S1[b]) ^ S2[c]) + S3[d], a the most significant byte.
inline uint32_t f(const uint32_t* s, uint32_t x) {
  return ((s[x >> 24] + s[0x100 | ((x >> 16) & 0xff)]) ^ s[0x200 | ((x >> 8) & 0xff)]) +
         s[0x300 | (x & 0xff)];
}

[[gnu::always_inline]] inline void encrypt_block(uint32_t* data, const BF_KEY* key) {
  const uint32_t* p = key->P;
  const uint32_t* s = key->S;
  uint32_t l = data[0] ^ p[0];
  uint32_t r = data[1];
  r ^= p[1] ^ f(s, l);
  l ^= p[2] ^ f(s, r);
  r ^= p[3] ^ f(s, l);
  l ^= p[4] ^ f(s, r);
  r ^= p[5] ^ f(s, l);
  l ^= p[6] ^ f(s, r);
  r ^= p[7] ^ f(s, l);
  l ^= p[8] ^ f(s, r);
  r ^= p[9] ^ f(s, l);
  l ^= p[10] ^ f(s, r);
  r ^= p[11] ^ f(s, l);
  l ^= p[12] ^ f(s, r);
  r ^= p[13] ^ f(s, l);
  l ^= p[14] ^ f(s, r);
  r ^= p[15] ^ f(s, l);
  l ^= p[16] ^ f(s, r);
  data[0] = r ^ p[17];
  data[1] = l;
}

// The same rounds with the subkeys in reverse order.
[[gnu::always_inline]] inline void decrypt_block(uint32_t* data, const BF_KEY* key) {
  const uint32_t* p = key->P;
  const uint32_t* s = key->S;
  uint32_t l = data[0] ^ p[17];
  uint32_t r = data[1];
  r ^= p[16] ^ f(s, l);
  l ^= p[15] ^ f(s, r);
  r ^= p[14] ^ f(s, l);
  l ^= p[13] ^ f(s, r);
  r ^= p[12] ^ f(s, l);
  l ^= p[11] ^ f(s, r);
  r ^= p[10] ^ f(s, l);
  l ^= p[9] ^ f(s, r);
  r ^= p[8] ^ f(s, l);
  l ^= p[7] ^ f(s, r);
  r ^= p[6] ^ f(s, l);
  l ^= p[5] ^ f(s, r);
  r ^= p[4] ^ f(s, l);
  l ^= p[3] ^ f(s, r);
  r ^= p[2] ^ f(s, l);
  l ^= p[1] ^ f(s, r);
  data[0] = r ^ p[0];
  data[1] = l;
}

struct Blowfish {
  using Key = BF_KEY;
  static constexpr auto kOrder = morvane::internal::WordOrder::kBig;
  [[gnu::always_inline]] static void encrypt(unsigned int* d, const Key* k) { encrypt_block(d, k); }
  [[gnu::always_inline]] static void decrypt(unsigned int* d, const Key* k) { decrypt_block(d, k); }
};

namespace internal = morvane::internal;

}  // namespace

/* see morvane/blowfish.h */
void BF_encrypt(BF_LONG* data, const BF_KEY* key) {
  encrypt_block(data, key);
}

/* see morvane/blowfish.h */
void BF_decrypt(BF_LONG* data, const BF_KEY* key) {
  decrypt_block(data, key);
}

/* see morvane/blowfish.h */
void BF_set_key(BF_KEY* key, int len, const unsigned char* data) {
  *key = morvane::bf::bf_init;
  // Schneier 1993, key schedule step 2: XOR the key, cycled, into P[0..17],
  // first byte most significant.  An empty key leaves P as it is, which is
  // what the one-byte key 0x00 does too.
  if (len > 0) {
    const size_t n = len > 72 ? 72 : static_cast<size_t>(len);
    size_t k = 0;
    for (uint32_t& p : key->P) {
      uint32_t w = 0;
      for (int i = 0; i < 4; i++) {
        w = (w << 8) | data[k];
        if (++k == n) k = 0;
      }
      p ^= w;
    }
  }
  // Steps 3-7: chain encryptions of the zero block through P, then the S-boxes.
  uint32_t block[2] = {0, 0};
  for (size_t i = 0; i < BF_ROUNDS + 2; i += 2) {
    encrypt_block(block, key);
    key->P[i] = block[0];
    key->P[i + 1] = block[1];
  }
  for (size_t i = 0; i < 4 * 256; i += 2) {
    encrypt_block(block, key);
    key->S[i] = block[0];
    key->S[i + 1] = block[1];
  }
  internal::wipe(block, sizeof block);
}

/* see morvane/blowfish.h */
void BF_ecb_encrypt(const unsigned char* in, unsigned char* out, const BF_KEY* key, int enc) {
  internal::ecb<internal::OnWords<Blowfish>>(in, out, key, enc != 0);
}

/* see morvane/blowfish.h */
void BF_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                    const BF_KEY* schedule, unsigned char* ivec, int enc) {
  internal::cbc<internal::OnWords<Blowfish>>(in, out, internal::length_of(length), schedule, ivec,
                                             enc != 0);
}

/* see morvane/blowfish.h */
void BF_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                      const BF_KEY* schedule, unsigned char* ivec, int* num, int enc) {
  internal::cfb<internal::OnWords<Blowfish>>(in, out, internal::length_of(length), schedule, ivec,
                                             num, enc != 0);
}

/* see morvane/blowfish.h */
void BF_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                      const BF_KEY* schedule, unsigned char* ivec, int* num) {
  internal::ofb<internal::OnWords<Blowfish>>(in, out, internal::length_of(length), schedule, ivec,
                                             num);
}

/* see morvane/blowfish.h */
const char* BF_options(void) {
  return "blowfish(idx)";
}
