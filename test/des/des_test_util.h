// What the DES suites share: the FIPS 81 example (key, IV, text and its
// ciphertexts, defined once here), schedules from hex keys, blocks as byte
// vectors, and a deterministic byte generator for property tests.
#ifndef MORVANE_TEST_DES_TEST_UTIL_H
#define MORVANE_TEST_DES_TEST_UTIL_H

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/des.h>

#include "test_support.h"

namespace des_test {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

// FIPS 81, Appendices B-E: the key, IV and text "Now is the time for all ",
// and the text's ciphertext in ECB, CBC, 64-bit CFB and 64-bit OFB.
struct Fips81 {
  static constexpr const char* kKey = "0123456789abcdef";
  static constexpr const char* kIv = "1234567890abcdef";
  static constexpr const char* kText = "4e6f77206973207468652074696d6520666f7220616c6c20";
  static constexpr const char* kEcb = "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53";
  static constexpr const char* kCbc = "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6";
  static constexpr const char* kCfb = "f3096249c7f46e51a69e839b1a92f78403467133898ea622";
  static constexpr const char* kOfb = "f3096249c7f46e5135f24a242eeb3d3f3d6d5be3255af8c3";
};

inline DES_key_schedule Schedule(const Bytes& key) {
  DES_cblock k;
  std::memcpy(k, key.data(), 8);
  DES_key_schedule ks;
  DES_set_key_unchecked(&k, &ks);
  return ks;
}
inline DES_key_schedule Schedule(const std::string& hex) {
  return Schedule(FromHex(hex));
}

// A block from hex or bytes, shown as hex.
struct Cblock {
  DES_cblock b = {};
  Cblock() = default;
  explicit Cblock(const Bytes& v) { std::memcpy(b, v.data(), 8); }
  explicit Cblock(const std::string& hex) : Cblock(FromHex(hex)) {}
  std::string Hex() const { return ToHex(b, 8); }
};

// One block through single-DES ECB.
inline Bytes Ecb(DES_key_schedule& ks, const Bytes& in, int enc) {
  Cblock b(in);
  DES_ecb_encrypt(&b.b, &b.b, &ks, enc);
  return Bytes(b.b, b.b + 8);
}

inline Bytes Xor(Bytes a, const Bytes& b) {
  for (size_t i = 0; i < a.size(); i++) a[i] ^= b[i];
  return a;
}

// Up to n (at most 8) bytes of b from off, zero-padded to a block.
inline Bytes Block(const Bytes& b, size_t off, size_t n = 8) {
  Bytes r(8, 0);
  for (size_t i = 0; i < n && i < 8 && off + i < b.size(); i++) r[i] = b[off + i];
  return r;
}

// The big-endian 32-bit word at b[off].
inline uint32_t Be32(const Bytes& b, size_t off) {
  return uint32_t{b[off]} << 24 | uint32_t{b[off + 1]} << 16 | uint32_t{b[off + 2]} << 8 | b[off + 3];
}

// A fixed pseudo-random byte stream (xorshift), so property tests repeat.
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : s_(seed | 1) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  Bytes Fill(size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(Next() >> 32);
    return b;
  }

 private:
  uint64_t s_;
};

}  // namespace des_test

#endif  // MORVANE_TEST_DES_TEST_UTIL_H
