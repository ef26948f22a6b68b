// RC2 (RFC 2268): key expansion, the block functions and the byte-wise modes.
//
// Implementation notes: the four 16-bit words R0..R3 are kept in 16-bit
// locals; the sixteen mixing and two mashing rounds are written out.  Blocks
// are read little-endian, so the modes run over the shared 64-bit templates
// with the little-endian word order.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <morvane/rc2.h>

#include "internal/modes.h"

static_assert(sizeof(RC2_KEY) == 64 * sizeof(unsigned int));

const char RC2_version[] = "RC2 part of " MORVANE_VERSION_TEXT;

namespace {

namespace internal = morvane::internal;

// RFC 2268, section 2: PITABLE, a permutation of 0..255 from the digits of pi.
// clang-format off
constexpr uint8_t key_table[256] = {
    0xD9, 0x78, 0xF9, 0xC4, 0x19, 0xDD, 0xB5, 0xED, 0x28, 0xE9, 0xFD, 0x79, 0x4A, 0xA0, 0xD8, 0x9D,
    0xC6, 0x7E, 0x37, 0x83, 0x2B, 0x76, 0x53, 0x8E, 0x62, 0x4C, 0x64, 0x88, 0x44, 0x8B, 0xFB, 0xA2,
    0x17, 0x9A, 0x59, 0xF5, 0x87, 0xB3, 0x4F, 0x13, 0x61, 0x45, 0x6D, 0x8D, 0x09, 0x81, 0x7D, 0x32,
    0xBD, 0x8F, 0x40, 0xEB, 0x86, 0xB7, 0x7B, 0x0B, 0xF0, 0x95, 0x21, 0x22, 0x5C, 0x6B, 0x4E, 0x82,
    0x54, 0xD6, 0x65, 0x93, 0xCE, 0x60, 0xB2, 0x1C, 0x73, 0x56, 0xC0, 0x14, 0xA7, 0x8C, 0xF1, 0xDC,
    0x12, 0x75, 0xCA, 0x1F, 0x3B, 0xBE, 0xE4, 0xD1, 0x42, 0x3D, 0xD4, 0x30, 0xA3, 0x3C, 0xB6, 0x26,
    0x6F, 0xBF, 0x0E, 0xDA, 0x46, 0x69, 0x07, 0x57, 0x27, 0xF2, 0x1D, 0x9B, 0xBC, 0x94, 0x43, 0x03,
    0xF8, 0x11, 0xC7, 0xF6, 0x90, 0xEF, 0x3E, 0xE7, 0x06, 0xC3, 0xD5, 0x2F, 0xC8, 0x66, 0x1E, 0xD7,
    0x08, 0xE8, 0xEA, 0xDE, 0x80, 0x52, 0xEE, 0xF7, 0x84, 0xAA, 0x72, 0xAC, 0x35, 0x4D, 0x6A, 0x2A,
    0x96, 0x1A, 0xD2, 0x71, 0x5A, 0x15, 0x49, 0x74, 0x4B, 0x9F, 0xD0, 0x5E, 0x04, 0x18, 0xA4, 0xEC,
    0xC2, 0xE0, 0x41, 0x6E, 0x0F, 0x51, 0xCB, 0xCC, 0x24, 0x91, 0xAF, 0x50, 0xA1, 0xF4, 0x70, 0x39,
    0x99, 0x7C, 0x3A, 0x85, 0x23, 0xB8, 0xB4, 0x7A, 0xFC, 0x02, 0x36, 0x5B, 0x25, 0x55, 0x97, 0x31,
    0x2D, 0x5D, 0xFA, 0x98, 0xE3, 0x8A, 0x92, 0xAE, 0x05, 0xDF, 0x29, 0x10, 0x67, 0x6C, 0xBA, 0xC9,
    0xD3, 0x00, 0xE6, 0xCF, 0xE1, 0x9E, 0xA8, 0x2C, 0x63, 0x16, 0x01, 0x3F, 0x58, 0xE2, 0x89, 0xA9,
    0x0D, 0x38, 0x34, 0x1B, 0xAB, 0x33, 0xFF, 0xB0, 0xBB, 0x48, 0x0C, 0x5F, 0xB9, 0xB1, 0xCD, 0x2E,
    0xC5, 0xF3, 0xDB, 0x47, 0xE5, 0xA5, 0x9C, 0x77, 0x0A, 0xA6, 0x20, 0x68, 0xFE, 0x7F, 0xC1, 0xAD,
};
// clang-format on
static_assert(key_table[0] == 0xD9 && key_table[7] == 0xED && key_table[255] == 0xAD);

// The sums are taken in int and cut to 16 bits, which is arithmetic modulo
// 2^16; the rotations compile to single 16-bit rotate instructions.
inline uint16_t rotl16(unsigned x, int n) {
  const uint16_t v = static_cast<uint16_t>(x);
  return static_cast<uint16_t>((v << n) | (v >> (16 - n)));
}
inline uint16_t rotr16(unsigned x, int n) {
  const uint16_t v = static_cast<uint16_t>(x);
  return static_cast<uint16_t>((v >> n) | (v << (16 - n)));
}
inline uint16_t cut16(unsigned x) {
  return static_cast<uint16_t>(x);
}

struct Words {
  uint16_t r0, r1, r2, r3;
};

// RFC 2268, 3.1-3.2: one mixing round with the key words k[0..3].  The
// selection (x & y) + (~x & z) is written z ^ (x & (y ^ z)), the same bits,
// so that it waits on x for two operations only.
inline unsigned select(unsigned x, unsigned y, unsigned z) {
  return z ^ (x & (y ^ z));
}
// R + K is formed apart (the empty asm keeps the compiler from reordering the
// sum), so that the selection, which waits on the word just computed, is
// added last.
template <int N>
[[gnu::always_inline]] inline uint16_t mix_word(unsigned r, uint32_t k, unsigned sel) {
  unsigned rk = r + k;
  __asm__("" : "+r"(rk));
  return rotl16(rk + sel, N);
}
inline void mix(Words& w, const uint32_t* k) {
  w.r0 = mix_word<1>(w.r0, k[0], select(w.r3, w.r2, w.r1));
  w.r1 = mix_word<2>(w.r1, k[1], select(w.r0, w.r3, w.r2));
  w.r2 = mix_word<3>(w.r2, k[2], select(w.r1, w.r0, w.r3));
  w.r3 = mix_word<5>(w.r3, k[3], select(w.r2, w.r1, w.r0));
}

// RFC 2268, 3.3-3.4: one mashing round.
inline void mash(Words& w, const uint32_t* k) {
  w.r0 = cut16(w.r0 + k[w.r3 & 63]);
  w.r1 = cut16(w.r1 + k[w.r0 & 63]);
  w.r2 = cut16(w.r2 + k[w.r1 & 63]);
  w.r3 = cut16(w.r3 + k[w.r2 & 63]);
}

// RFC 2268, 4.1: the reverse mixing round undoing mix(w, k).
inline void rmix(Words& w, const uint32_t* k) {
  w.r3 = cut16(rotr16(w.r3, 5) - k[3] - select(w.r2, w.r1, w.r0));
  w.r2 = cut16(rotr16(w.r2, 3) - k[2] - select(w.r1, w.r0, w.r3));
  w.r1 = cut16(rotr16(w.r1, 2) - k[1] - select(w.r0, w.r3, w.r2));
  w.r0 = cut16(rotr16(w.r0, 1) - k[0] - select(w.r3, w.r2, w.r1));
}

// RFC 2268, 4.2: the reverse mashing round.
inline void rmash(Words& w, const uint32_t* k) {
  w.r3 = cut16(w.r3 - k[w.r2 & 63]);
  w.r2 = cut16(w.r2 - k[w.r1 & 63]);
  w.r1 = cut16(w.r1 - k[w.r0 & 63]);
  w.r0 = cut16(w.r0 - k[w.r3 & 63]);
}

inline Words unpack(const uint32_t* d) {
  return {cut16(d[0]), cut16(d[0] >> 16), cut16(d[1]), cut16(d[1] >> 16)};
}
inline void pack(uint32_t* d, const Words& w) {
  d[0] = w.r0 | (uint32_t{w.r1} << 16);
  d[1] = w.r2 | (uint32_t{w.r3} << 16);
}

// RFC 2268, 3.5: five mixing rounds, a mashing round, six mixing rounds, a
// mashing round, five mixing rounds.
[[gnu::always_inline]] inline void encrypt_block(uint32_t* d, const RC2_KEY* key) {
  const uint32_t* k = key->data;
  Words w = unpack(d);
  mix(w, k + 0);
  mix(w, k + 4);
  mix(w, k + 8);
  mix(w, k + 12);
  mix(w, k + 16);
  mash(w, k);
  mix(w, k + 20);
  mix(w, k + 24);
  mix(w, k + 28);
  mix(w, k + 32);
  mix(w, k + 36);
  mix(w, k + 40);
  mash(w, k);
  mix(w, k + 44);
  mix(w, k + 48);
  mix(w, k + 52);
  mix(w, k + 56);
  mix(w, k + 60);
  pack(d, w);
}

// RFC 2268, 4.3: the same steps undone in reverse order.
[[gnu::always_inline]] inline void decrypt_block(uint32_t* d, const RC2_KEY* key) {
  const uint32_t* k = key->data;
  Words w = unpack(d);
  rmix(w, k + 60);
  rmix(w, k + 56);
  rmix(w, k + 52);
  rmix(w, k + 48);
  rmix(w, k + 44);
  rmash(w, k);
  rmix(w, k + 40);
  rmix(w, k + 36);
  rmix(w, k + 32);
  rmix(w, k + 28);
  rmix(w, k + 24);
  rmix(w, k + 20);
  rmash(w, k);
  rmix(w, k + 16);
  rmix(w, k + 12);
  rmix(w, k + 8);
  rmix(w, k + 4);
  rmix(w, k + 0);
  pack(d, w);
}

struct Rc2 {
  using Key = RC2_KEY;
  static constexpr auto kOrder = internal::WordOrder::kLittle;
  [[gnu::always_inline]] static void encrypt(unsigned int* d, const Key* k) { encrypt_block(d, k); }
  [[gnu::always_inline]] static void decrypt(unsigned int* d, const Key* k) { decrypt_block(d, k); }
};

}  // namespace

/* see morvane/rc2.h */
void RC2_set_key(RC2_KEY* key, int len, const unsigned char* data, int bits) {
  uint8_t l[128];
  size_t t;
  if (len <= 0) {
    // No key bytes: expand the one-byte key 0x00 rather than read before L.
    l[0] = 0;
    t = 1;
  } else {
    t = len > 128 ? 128 : static_cast<size_t>(len);
    std::memcpy(l, data, t);
  }
  if (bits <= 0 || bits > 1024) bits = 1024;
  // RFC 2268, 2: extend the key to 128 bytes.
  for (size_t i = t; i < 128; i++) l[i] = key_table[(l[i - 1] + l[i - t]) & 0xff];
  // Reduce it to the effective key length.
  const int t8 = (bits + 7) / 8;
  const unsigned tm = 0xffu >> (8 * t8 - bits);
  l[128 - t8] = key_table[l[128 - t8] & tm];
  for (int i = 127 - t8; i >= 0; i--) l[i] = key_table[l[i + 1] ^ l[i + t8]];
  for (int i = 0; i < 64; i++) key->data[i] = l[2 * i] | (uint32_t{l[2 * i + 1]} << 8);
  internal::wipe(l, sizeof l);
}

/* see morvane/rc2.h */
void RC2_encrypt(unsigned int* d, const RC2_KEY* key) {
  encrypt_block(d, key);
}

/* see morvane/rc2.h */
void RC2_decrypt(unsigned int* d, const RC2_KEY* key) {
  decrypt_block(d, key);
}

/* see morvane/rc2.h */
void RC2_ecb_encrypt(const unsigned char* in, unsigned char* out, const RC2_KEY* key, int enc) {
  internal::ecb<internal::OnWords<Rc2>>(in, out, key, enc != 0);
}

/* see morvane/rc2.h */
void RC2_cbc_encrypt(const unsigned char* in, unsigned char* out, long length, const RC2_KEY* ks,
                     unsigned char* iv, int enc) {
  internal::cbc<internal::OnWords<Rc2>>(in, out, internal::length_of(length), ks, iv, enc != 0);
}

/* see morvane/rc2.h */
void RC2_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                       const RC2_KEY* schedule, unsigned char* ivec, int* num, int enc) {
  internal::cfb<internal::OnWords<Rc2>>(in, out, internal::length_of(length), schedule, ivec, num,
                                        enc != 0);
}

/* see morvane/rc2.h */
void RC2_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                       const RC2_KEY* schedule, unsigned char* ivec, int* num) {
  internal::ofb<internal::OnWords<Rc2>>(in, out, internal::length_of(length), schedule, ivec, num);
}
