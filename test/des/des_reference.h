// A bit-by-bit FIPS 46-3 DES for the tests: every permutation is applied one
// bit at a time from the standard's tables, with no precomputed round tables,
// so it checks the library's table-driven form independently.  Values are
// big-endian bit strings: bit 1 of the standard is the most significant bit.
#ifndef MORVANE_TEST_DES_REFERENCE_H
#define MORVANE_TEST_DES_REFERENCE_H

#include <cstdint>

#include <morvane/des.h>

namespace des_ref {

// clang-format off
// FIPS 46-3, initial permutation IP.
inline constexpr int kIp[64] = {
  58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
  62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
  57, 49, 41, 33, 25, 17,  9, 1, 59, 51, 43, 35, 27, 19, 11, 3,
  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
// FIPS 46-3, inverse initial permutation IP^-1.
inline constexpr int kFp[64] = {
  40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
  38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
  36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
  34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41,  9, 49, 17, 57, 25};
// FIPS 46-3, E bit-selection table.
inline constexpr int kE[48] = {
  32,  1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9, 10, 11, 12, 13,
  12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25,
  24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32,  1};
// FIPS 46-3, permutation P.
inline constexpr int kP[32] = {
  16,  7, 20, 21, 29, 12, 28, 17,  1, 15, 23, 26,  5, 18, 31, 10,
   2,  8, 24, 14, 32, 27,  3,  9, 19, 13, 30,  6, 22, 11,  4, 25};
// FIPS 46-3, PC-1 and PC-2.
inline constexpr int kPc1[56] = {
  57, 49, 41, 33, 25, 17,  9,  1, 58, 50, 42, 34, 26, 18, 10,  2, 59, 51, 43, 35, 27,
  19, 11,  3, 60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15,  7, 62, 54, 46, 38, 30, 22,
  14,  6, 61, 53, 45, 37, 29, 21, 13,  5, 28, 20, 12,  4};
inline constexpr int kPc2[48] = {
  14, 17, 11, 24,  1,  5,  3, 28, 15,  6, 21, 10, 23, 19, 12,  4, 26,  8, 16,  7, 27, 20, 13,  2,
  41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
inline constexpr int kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
// FIPS 46-3, S1 to S8 (row, column).
inline constexpr int kS[8][4][16] = {
  {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7}, {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
   {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0}, {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
  {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10}, {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
   {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15}, {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
  {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8}, {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
   {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7}, {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
  {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15}, {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
   {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4}, {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
  {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9}, {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
   {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14}, {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
  {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11}, {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
   {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6}, {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
  {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1}, {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
   {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2}, {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
  {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7}, {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
   {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8}, {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};
// clang-format on

// Bit i (1-based from the most significant) of an n-bit value.
inline int Bit(uint64_t v, int n, int i) {
  return static_cast<int>(v >> (n - i) & 1);
}

// Output bit k is input bit table[k-1].
inline uint64_t Permute(uint64_t in, int in_bits, const int* table, int out_bits) {
  uint64_t out = 0;
  for (int k = 0; k < out_bits; k++)
    out = out << 1 | static_cast<uint64_t>(Bit(in, in_bits, table[k]));
  return out;
}

// The 4-bit output of S-box j (0-7) for its 6 input bits b1..b6 (b1 the most
// significant of `six`).
inline int SBox(int j, int six) {
  const int row = (six >> 5 & 1) << 1 | (six & 1);
  const int col = six >> 1 & 0xf;
  return kS[j][row][col];
}

inline uint64_t Rotl28(uint64_t v, int n) {
  return ((v << n) | (v >> (28 - n))) & 0xfffffff;
}

// The 16 48-bit subkeys K1..K16.
inline void Subkeys(uint64_t key, uint64_t k[16]) {
  const uint64_t cd = Permute(key, 64, kPc1, 56);
  uint64_t c = cd >> 28, d = cd & 0xfffffff;
  for (int i = 0; i < 16; i++) {
    c = Rotl28(c, kShifts[i]);
    d = Rotl28(d, kShifts[i]);
    k[i] = Permute(c << 28 | d, 56, kPc2, 48);
  }
}

inline uint32_t F(uint32_t r, uint64_t k) {
  const uint64_t x = Permute(r, 32, kE, 48) ^ k;
  uint32_t s = 0;
  for (int j = 0; j < 8; j++)
    s = s << 4 | static_cast<uint32_t>(SBox(j, static_cast<int>(x >> (42 - 6 * j) & 0x3f)));
  return static_cast<uint32_t>(Permute(s, 32, kP, 32));
}

inline uint64_t Des(uint64_t key, uint64_t block, bool encrypt) {
  uint64_t k[16];
  Subkeys(key, k);
  const uint64_t ip = Permute(block, 64, kIp, 64);
  uint32_t l = static_cast<uint32_t>(ip >> 32), r = static_cast<uint32_t>(ip);
  for (int i = 0; i < 16; i++) {
    const uint32_t t = r;
    r = l ^ F(r, k[encrypt ? i : 15 - i]);
    l = t;
  }
  return Permute(static_cast<uint64_t>(r) << 32 | l, 64, kFp, 64);
}

// Conversions between a big-endian 64-bit value and 8 bytes.
inline uint64_t Load64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; i++) v = v << 8 | p[i];
  return v;
}
inline void Store64(uint64_t v, unsigned char* p) {
  for (int i = 7; i >= 0; i--, v >>= 8) p[i] = static_cast<unsigned char>(v);
}

// Word form of a block: bytes 0-3 and 4-7, each little-endian.
inline void ToWords(uint64_t v, DES_LONG w[2]) {
  unsigned char b[8];
  Store64(v, b);
  w[0] = b[0] | b[1] << 8 | b[2] << 16 | static_cast<DES_LONG>(b[3]) << 24;
  w[1] = b[4] | b[5] << 8 | b[6] << 16 | static_cast<DES_LONG>(b[7]) << 24;
}
inline uint64_t FromWords(const DES_LONG w[2]) {
  unsigned char b[8];
  for (int i = 0; i < 4; i++) {
    b[i] = static_cast<unsigned char>(w[0] >> (8 * i));
    b[4 + i] = static_cast<unsigned char>(w[1] >> (8 * i));
  }
  return Load64(b);
}

// A 32-bit half with standard bit n at bit position n-1.
inline DES_LONG Reflect(uint32_t half) {
  DES_LONG v = 0;
  for (int n = 1; n <= 32; n++) v |= static_cast<DES_LONG>(Bit(half, 32, n)) << (n - 1);
  return v;
}

// The IP frame of a block: w[0] = R, w[1] = L, each reflected.
inline void IpFrame(uint64_t block, DES_LONG w[2]) {
  const uint64_t ip = Permute(block, 64, kIp, 64);
  w[0] = Reflect(static_cast<uint32_t>(ip));
  w[1] = Reflect(static_cast<uint32_t>(ip >> 32));
}

}  // namespace des_ref

#endif  // MORVANE_TEST_DES_REFERENCE_H
