// Helpers of the Diffie-Hellman and DSA suites: numbers from hex and back,
// owned numbers and keys, and a deterministic random method for the
// generation cases.
#ifndef MORVANE_TEST_DH_PK_TEST_UTIL_H
#define MORVANE_TEST_DH_PK_TEST_UTIL_H

#include <cstdint>
#include <memory>
#include <string>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/rand.h>

namespace pk_test {

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
struct DhFree {
  void operator()(DH* d) const { DH_free(d); }
};
struct DsaFree {
  void operator()(DSA* d) const { DSA_free(d); }
};
struct SigFree {
  void operator()(DSA_SIG* s) const { DSA_SIG_free(s); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Dh = std::unique_ptr<DH, DhFree>;
using Dsa = std::unique_ptr<DSA, DsaFree>;
using Sig = std::unique_ptr<DSA_SIG, SigFree>;

// A scratch context for the tests' own arithmetic, kept for the process.
inline BN_CTX* Ctx() {
  static BN_CTX* const ctx = BN_CTX_new();
  return ctx;
}

// A new number from hex digits (aborts the test on bad text).
inline BIGNUM* Hex(const std::string& hex) {
  BIGNUM* b = nullptr;
  EXPECT_EQ(static_cast<int>(hex.size()), BN_hex2bn(&b, hex.c_str())) << hex;
  return b;
}
inline Bn HexBn(const std::string& hex) { return Bn(Hex(hex)); }
// Upper-case hex of a number ("0" for zero).
inline std::string ToHex(const BIGNUM* b) {
  char* s = BN_bn2hex(b);
  std::string out(s);
  MORVANE_free(s);
  return out;
}
// The same for hex text, for comparisons: upper case, leading zeros gone.
inline std::string Canon(const std::string& hex) {
  Bn b = HexBn(hex);
  return ToHex(b.get());
}

// A random method whose output is a fixed function of a seed: xorshift64*
// over a counter, for reproducible generation cases.  Install() makes it
// the generator of the process; the destructor puts the default back.
class DeterministicRandom {
 public:
  explicit DeterministicRandom(uint64_t seed) {
    state_ = seed * 0x9E3779B97F4A7C15ull + 1;
    RAND_set_rand_method(&kMethod);
  }
  ~DeterministicRandom() { RAND_set_rand_method(nullptr); }
  DeterministicRandom(const DeterministicRandom&) = delete;
  DeterministicRandom& operator=(const DeterministicRandom&) = delete;

 private:
  static inline uint64_t state_ = 1;
  static int Fill(unsigned char* buf, int num) {
    for (int i = 0; i < num; i++) {
      state_ ^= state_ >> 12;
      state_ ^= state_ << 25;
      state_ ^= state_ >> 27;
      buf[i] = static_cast<unsigned char>((state_ * 0x2545F4914F6CDD1Dull) >> 56);
    }
    return 1;
  }
  static constexpr RAND_METHOD kMethod = {
      [](const void*, int) {}, Fill, [] {}, [](const void*, int, double) {}, Fill,
      [] { return 1; },
  };
};

}  // namespace pk_test

#endif  // MORVANE_TEST_DH_PK_TEST_UTIL_H
