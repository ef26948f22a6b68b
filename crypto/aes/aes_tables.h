// The AES round tables, computed at compile time from the S-box of FIPS-197,
// 5.1.1 and the MixColumns coefficients of 5.1.3 and 5.3.3.  Nothing is built
// at run time: every table is a constexpr array in read-only data, and one
// published entry of each is pinned below.
#ifndef MORVANE_CRYPTO_AES_AES_TABLES_H
#define MORVANE_CRYPTO_AES_AES_TABLES_H

#include <stdint.h>

#include <array>

namespace morvane::aes {

using WordTable = std::array<uint32_t, 256>;
using ByteTable = std::array<uint8_t, 256>;

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 (FIPS-197, 4.2.1).
constexpr uint8_t XTime(uint8_t a) {
  return static_cast<uint8_t>((a << 1) ^ ((a >> 7) * 0x1b));
}

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (; b != 0; b >>= 1, a = XTime(a))
    if (b & 1) r ^= a;
  return r;
}

constexpr uint8_t Rotl8(uint8_t v, int n) {
  return static_cast<uint8_t>((v << n) | (v >> (8 - n)));
}

// FIPS-197, 5.1.1: the multiplicative inverse (a^254; 0 maps to 0) followed
// by the affine transformation.
constexpr uint8_t SubByte(uint8_t a) {
  uint8_t inv = 1;
  uint8_t base = a;
  for (int e = 254; e != 0; e >>= 1, base = Mul(base, base))
    if (e & 1) inv = Mul(inv, base);
  if (a == 0) inv = 0;
  return static_cast<uint8_t>(inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^ Rotl8(inv, 4) ^
                              0x63);
}

constexpr ByteTable MakeSbox() {
  ByteTable s{};
  for (int x = 0; x < 256; x++) s[x] = SubByte(static_cast<uint8_t>(x));
  return s;
}

constexpr ByteTable MakeInvSbox() {
  const ByteTable s = MakeSbox();
  ByteTable inv{};
  for (int x = 0; x < 256; x++) inv[s[x]] = static_cast<uint8_t>(x);
  return inv;
}

constexpr uint32_t Pack(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} << 24 | uint32_t{b1} << 16 | uint32_t{b2} << 8 | b3;
}

constexpr uint32_t Rotr32(uint32_t v, int n) {
  return n == 0 ? v : (v >> n) | (v << (32 - n));
}

// Column of MixColumns (FIPS-197, 5.1.3) for S(x) in the first row:
// {02}, {01}, {01}, {03} times S(x), rotated right by `rot` bits.
constexpr WordTable MakeTe(int rot) {
  const ByteTable s = MakeSbox();
  WordTable t{};
  for (int x = 0; x < 256; x++) t[x] = Rotr32(Pack(Mul(s[x], 2), s[x], s[x], Mul(s[x], 3)), rot);
  return t;
}

// Column of InvMixColumns (FIPS-197, 5.3.3) for InvS(x):
// {0e}, {09}, {0d}, {0b} times InvS(x), rotated right by `rot` bits.
constexpr WordTable MakeTd(int rot) {
  const ByteTable is = MakeInvSbox();
  WordTable t{};
  for (int x = 0; x < 256; x++)
    t[x] =
        Rotr32(Pack(Mul(is[x], 0x0e), Mul(is[x], 0x09), Mul(is[x], 0x0d), Mul(is[x], 0x0b)), rot);
  return t;
}

// Round constants x^(i-1) in the first byte (FIPS-197, 5.2).
constexpr std::array<uint32_t, 10> MakeRcon() {
  std::array<uint32_t, 10> r{};
  uint8_t c = 1;
  for (auto& w : r) {
    w = uint32_t{c} << 24;
    c = XTime(c);
  }
  return r;
}

alignas(64) inline constexpr WordTable kTe0 = MakeTe(0);
alignas(64) inline constexpr WordTable kTe1 = MakeTe(8);
alignas(64) inline constexpr WordTable kTe2 = MakeTe(16);
alignas(64) inline constexpr WordTable kTe3 = MakeTe(24);
alignas(64) inline constexpr WordTable kTd0 = MakeTd(0);
alignas(64) inline constexpr WordTable kTd1 = MakeTd(8);
alignas(64) inline constexpr WordTable kTd2 = MakeTd(16);
alignas(64) inline constexpr WordTable kTd3 = MakeTd(24);
alignas(64) inline constexpr ByteTable kTd4 = MakeInvSbox();
inline constexpr std::array<uint32_t, 10> kRcon = MakeRcon();

// FIPS-197, 5.1.1: S({53}) = {ed}; figure 7 and figure 14 give S(00) = 63
// and InvS(00) = 52.
static_assert(SubByte(0x53) == 0xed);
static_assert(kTd4[0x00] == 0x52 && kTd4[0xed] == 0x53);
// The first entries of the Rijndael reference round tables.
static_assert(kTe0[0x00] == 0xc66363a5u && kTe0[0x01] == 0xf87c7c84u);
static_assert(kTe3[0x00] == 0x6363a5c6u);
static_assert(kTd0[0x00] == 0x51f4a750u && kTd0[0x01] == 0x7e416553u);
static_assert(kTd3[0x00] == 0xf4a75051u);
static_assert(kRcon[8] == 0x1b000000u && kRcon[9] == 0x36000000u);

}  // namespace morvane::aes

#endif  // MORVANE_CRYPTO_AES_AES_TABLES_H
