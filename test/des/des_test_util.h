// Small helpers shared by the DES suites: schedules from hex keys, blocks as
// byte vectors, and a deterministic byte generator for property tests.
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

inline void ToBlock(const Bytes& b, DES_cblock out) {
  std::memcpy(out, b.data(), 8);
}
inline Bytes FromBlock(const DES_cblock b) {
  return Bytes(b, b + 8);
}

// One block through single-DES ECB.
inline Bytes Ecb(DES_key_schedule& ks, const Bytes& in, int enc) {
  DES_cblock b;
  ToBlock(in, b);
  DES_ecb_encrypt(&b, &b, &ks, enc);
  return FromBlock(b);
}

inline Bytes Xor(Bytes a, const Bytes& b) {
  for (size_t i = 0; i < a.size(); i++) a[i] ^= b[i];
  return a;
}

// Up to n (at most 8) bytes of b from off, zero-padded to a block.
inline Bytes Block(const Bytes& b, size_t off, size_t n = 8) {
  Bytes r(8, 0);
  for (size_t i = 0; i < n && off + i < b.size(); i++) r[i] = b[off + i];
  return r;
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
