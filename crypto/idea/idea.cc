// IDEA (Lai and Massey, 1991): the key schedules, the block function and the
// byte-wise modes.
//
// Implementation notes: a 16-bit word 0 stands for 2^16 in the multiplication
// modulo 2^16 + 1.  One block function serves both directions; the decryption
// schedule holds the inverted subkeys in reverse order, so the modes pass
// idea_encrypt as both the "encrypt" and the "decrypt" block function.

#include <cstddef>
#include <cstdint>

#include <morvane/idea.h>

#include "internal/modes.h"

static_assert(sizeof(IDEA_KEY_SCHEDULE) == 9 * 6 * sizeof(unsigned int));

const char IDEA_version[] = "IDEA part of " MORVANE_VERSION_TEXT;

namespace {

namespace internal = morvane::internal;

// a * b mod (2^16 + 1) with 0 standing for 2^16; both operands below 2^16.
// Written without a branch on the operands.  b (a key word) is first widened
// to its value 1..2^16, so the product is 0 only when a stands for 2^16; that
// case, -b, is worked out from a alone alongside the product, which keeps the
// path from a to the result short.
inline uint32_t mul(uint32_t a, uint32_t b) {
  const uint32_t bw = b | ((b - 1) & 0x10000);  // 0 -> 2^16
  const uint32_t p = a * bw;                    // below 2^32
  const uint32_t lo = p & 0xffff, hi = p >> 16;
  const uint32_t r = lo - hi + (lo < hi ? 1u : 0u);  // 2^16 = -1 modulo 2^16 + 1
  const uint32_t a_zero = 0u - static_cast<uint32_t>(a == 0);
  return (r | ((1 - bw) & a_zero)) & 0xffff;  // r is 0 when a is
}

inline void one_round(uint32_t& x1, uint32_t& x2, uint32_t& x3, uint32_t& x4, const uint32_t* z) {
  x1 = mul(x1, z[0]);
  x2 = (x2 + z[1]) & 0xffff;
  x3 = (x3 + z[2]) & 0xffff;
  x4 = mul(x4, z[3]);
  uint32_t t0 = mul(x1 ^ x3, z[4]);
  const uint32_t t1 = mul((t0 + (x2 ^ x4)) & 0xffff, z[5]);
  t0 = (t0 + t1) & 0xffff;
  x1 ^= t1;
  x4 ^= t0;
  const uint32_t old_x2 = x2;
  x2 = x3 ^ t1;
  x3 = old_x2 ^ t0;
}

[[gnu::always_inline]] inline void crypt_block(uint32_t* d, const IDEA_KEY_SCHEDULE* key) {
  const uint32_t* z = &key->data[0][0];
  uint32_t x1 = d[0] >> 16, x2 = d[0] & 0xffff;
  uint32_t x3 = d[1] >> 16, x4 = d[1] & 0xffff;
  one_round(x1, x2, x3, x4, z);
  one_round(x1, x2, x3, x4, z + 6);
  one_round(x1, x2, x3, x4, z + 12);
  one_round(x1, x2, x3, x4, z + 18);
  one_round(x1, x2, x3, x4, z + 24);
  one_round(x1, x2, x3, x4, z + 30);
  one_round(x1, x2, x3, x4, z + 36);
  one_round(x1, x2, x3, x4, z + 42);
  // Output transformation; the middle words change places back.
  z += 48;
  d[0] = (mul(x1, z[0]) << 16) | ((x3 + z[1]) & 0xffff);
  d[1] = (((x2 + z[2]) & 0xffff) << 16) | mul(x4, z[3]);
}

struct Idea {
  using Key = IDEA_KEY_SCHEDULE;
  static constexpr auto kOrder = internal::WordOrder::kBig;
  [[gnu::always_inline]] static void encrypt(unsigned int* d, const Key* k) { crypt_block(d, k); }
  [[gnu::always_inline]] static void decrypt(unsigned int* d, const Key* k) { crypt_block(d, k); }
};

// The multiplicative inverse modulo 2^16 + 1 of a 16-bit value, by the
// extended Euclidean algorithm; 0 (2^16) is its own inverse.
uint32_t inverse(uint32_t xin) {
  if (xin == 0) return 0;
  int64_t r0 = 0x10001, r1 = xin;
  int64_t t0 = 0, t1 = 1;
  while (r1 != 0) {
    const int64_t q = r0 / r1;
    const int64_t r2 = r0 - q * r1;
    r0 = r1;
    r1 = r2;
    const int64_t t2 = t0 - q * t1;
    t0 = t1;
    t1 = t2;
  }
  if (t0 < 0) t0 += 0x10001;
  return static_cast<uint32_t>(t0) & 0xffff;
}

inline uint32_t negate(uint32_t v) {
  return (0x10000 - v) & 0xffff;
}

}  // namespace

/* see morvane/idea.h */
void idea_set_encrypt_key(const unsigned char* key, IDEA_KEY_SCHEDULE* ks) {
  uint32_t* k = &ks->data[0][0];
  for (int j = 0; j < 8; j++) k[j] = (uint32_t{key[2 * j]} << 8) | key[2 * j + 1];
  // Each further group of eight is the previous 128 bits rotated left by 25;
  // the sixth rotation stops after six values (54 places, 52 used).
  for (int i = 8; i < 54; i++) {
    const uint32_t* prev = k + (i & ~7) - 8;
    const int j = i & 7;
    k[i] = ((prev[(j + 1) & 7] << 9) | (prev[(j + 2) & 7] >> 7)) & 0xffff;
  }
}

/* see morvane/idea.h */
void idea_set_decrypt_key(const IDEA_KEY_SCHEDULE* ek, IDEA_KEY_SCHEDULE* dk) {
  // Built aside, so `dk` may be `ek`.
  IDEA_KEY_SCHEDULE t = {};
  for (int r = 0; r < 9; r++) {
    const unsigned int* e = ek->data[8 - r];
    t.data[r][0] = inverse(e[0]);
    t.data[r][1] = negate(e[2]);
    t.data[r][2] = negate(e[1]);
    t.data[r][3] = inverse(e[3]);
    if (r < 8) {
      t.data[r][4] = ek->data[7 - r][4];
      t.data[r][5] = ek->data[7 - r][5];
    }
  }
  // The first and the last additive pairs keep their order.
  for (int r = 0; r <= 8; r += 8) {
    const unsigned int v = t.data[r][1];
    t.data[r][1] = t.data[r][2];
    t.data[r][2] = v;
  }
  *dk = t;
  internal::wipe(&t, sizeof t);
}

/* see morvane/idea.h */
void idea_encrypt(unsigned int* d, const IDEA_KEY_SCHEDULE* key) {
  crypt_block(d, key);
}

/* see morvane/idea.h */
void idea_ecb_encrypt(const unsigned char* in, unsigned char* out, const IDEA_KEY_SCHEDULE* ks) {
  internal::ecb<internal::OnWords<Idea>>(in, out, ks, true);
}

/* see morvane/idea.h */
void idea_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                      const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int enc) {
  internal::cbc<internal::OnWords<Idea>>(in, out, internal::length_of(length), ks, iv, enc != 0);
}

/* see morvane/idea.h */
void idea_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                        const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int* num, int enc) {
  internal::cfb<internal::OnWords<Idea>>(in, out, internal::length_of(length), ks, iv, num,
                                         enc != 0);
}

/* see morvane/idea.h */
void idea_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                        const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int* num) {
  internal::ofb<internal::OnWords<Idea>>(in, out, internal::length_of(length), ks, iv, num);
}

/* see morvane/idea.h */
const char* idea_options(void) {
  return "idea(int)";
}
