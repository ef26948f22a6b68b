// IDEA (Lai and Massey, 1991): the key schedules, the block function and the
// byte-wise modes.
//
// Implementation notes: a 16-bit word 0 stands for 2^16 in the multiplication
// modulo 2^16 + 1.  One block function serves both directions; the decryption
// schedule holds the inverted subkeys in reverse order, so the modes take the
// same function as "encrypt" and "decrypt".  Every word stays below 2^16 in
// its 32-bit value from one step to the next, so no step masks its input.

#include <cstddef>
#include <cstdint>

#include <morvane/idea.h>

#include "internal/modes.h"

static_assert(sizeof(IDEA_KEY_SCHEDULE) == 9 * 6 * sizeof(unsigned int));

const char IDEA_version[] = "IDEA part of " MORVANE_VERSION_TEXT;

namespace {

namespace internal = morvane::internal;

// a * b mod (2^16 + 1) with 0 standing for 2^16; both operands below 2^16,
// the result too.  Written without a branch on the operands.  b (a key word)
// is first widened to its value 1..2^16, so the product is 0 only when a
// stands for 2^16; that case, -b, is worked out from a alone alongside the
// product and added in with the borrow.  CBC encryption is a chain of these
// (three a round), so the path from a to the result is kept to the multiply
// and three one-cycle steps: with 2^16 = -1, the result is lo - hi, plus 1
// when that borrows (adding 2^16 + 1), all modulo 2^16.
inline uint32_t mul(uint32_t a, uint32_t b) {
  const uint32_t bw = b | ((b - 1) & 0x10000);                             // 0 -> 2^16
  const uint32_t fix = (1 - bw) & (0u - static_cast<uint32_t>(a == 0));  // -b when a is 2^16
  uint32_t p = a * bw;  // below 2^32
#if defined(__x86_64__)
  // 16-bit subtraction and add with carry: the result's upper half stays the
  // zero of the zero-extended low half, so no mask follows.
  uint32_t hi, r;
  __asm__(
      "movl %[p], %[hi]\n\t"
      "shrl $16, %[hi]\n\t"
      "movzwl %w[p], %[r]\n\t"
      "subw %w[hi], %w[r]\n\t"
      "adcw %w[fix], %w[r]"
      : [hi] "=&r"(hi), [r] "=&r"(r)
      : [p] "r"(p), [fix] "r"(fix)
      : "cc");
  return r;
#else
  const uint32_t lo = p & 0xffff, hi = p >> 16;
  return (lo - hi + (lo < hi ? 1u : 0u) + fix) & 0xffff;
#endif
}

// (a + b) mod 2^16 for a below 2^16.
inline uint32_t add(uint32_t a, uint32_t b) {
#if defined(__x86_64__)
  __asm__("addw %w[b], %w[a]" : [a] "+r"(a) : [b] "r"(b) : "cc");  // a's upper half stays 0
  return a;
#else
  return (a + b) & 0xffff;
#endif
}

// A block as its four 16-bit words, each in a 32-bit value below 2^16.  The
// XOR of blocks is the XOR of their words, so CBC encryption chains in this
// form: the words that leave the output transformation are XORed straight
// into the next block's.
struct Words {
  uint32_t x1, x2, x3, x4;
  Words operator^(Words o) const { return {x1 ^ o.x1, x2 ^ o.x2, x3 ^ o.x3, x4 ^ o.x4}; }
};

inline void one_round(Words& w, const unsigned int* z) {
  const uint32_t x1 = mul(w.x1, z[0]);
  const uint32_t x2 = add(w.x2, z[1]);
  const uint32_t x3 = add(w.x3, z[2]);
  const uint32_t x4 = mul(w.x4, z[3]);
  uint32_t t0 = mul(x1 ^ x3, z[4]);
  const uint32_t t1 = mul(add(t0, x2 ^ x4), z[5]);
  t0 = add(t0, t1);
  // The middle words change places.
  w = {x1 ^ t1, x3 ^ t1, x2 ^ t0, x4 ^ t0};
}

// Eight rounds and the output transformation, in which the middle words
// change places back.
[[gnu::always_inline]] inline Words crypt_words(Words w, const IDEA_KEY_SCHEDULE* key) {
  const unsigned int* z = &key->data[0][0];
  for (int r = 0; r < 8; r++) one_round(w, z + 6 * r);
  z += 48;
  return {mul(w.x1, z[0]), add(w.x3, z[1]), add(w.x2, z[2]), mul(w.x4, z[3])};
}

struct Idea {
  static constexpr size_t kBlockSize = 8;
  using Key = IDEA_KEY_SCHEDULE;
  using Block = internal::Block64<internal::WordOrder::kBig>;
  using Frame = Words;
  static Words enter(Block b) { return {b.w0 >> 16, b.w0 & 0xffff, b.w1 >> 16, b.w1 & 0xffff}; }
  static Block leave(Words w) { return {w.x1 << 16 | w.x2, w.x3 << 16 | w.x4}; }
  static Words rechain(Words w) { return w; }
  [[gnu::always_inline]] static Words encrypt_frame(Words w, const Key* k) {
    return crypt_words(w, k);
  }
  [[gnu::always_inline]] static Block encrypt(Block b, const Key* k) {
    return leave(crypt_words(enter(b), k));
  }
  [[gnu::always_inline]] static Block decrypt(Block b, const Key* k) { return encrypt(b, k); }
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
  const Idea::Block b = Idea::encrypt({d[0], d[1]}, key);
  d[0] = b.w0;
  d[1] = b.w1;
}

/* see morvane/idea.h */
void idea_ecb_encrypt(const unsigned char* in, unsigned char* out, const IDEA_KEY_SCHEDULE* ks) {
  internal::ecb<Idea>(in, out, ks, true);
}

/* see morvane/idea.h */
void idea_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                      const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int enc) {
  internal::cbc<Idea>(in, out, internal::length_of(length), ks, iv, enc != 0);
}

/* see morvane/idea.h */
void idea_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                        const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int* num, int enc) {
  internal::cfb<Idea>(in, out, internal::length_of(length), ks, iv, num,
                                         enc != 0);
}

/* see morvane/idea.h */
void idea_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                        const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int* num) {
  internal::ofb<Idea>(in, out, internal::length_of(length), ks, iv, num);
}

/* see morvane/idea.h */
const char* idea_options(void) {
  return "idea(int)";
}
