// A deterministic random method for the big-number tests: scripted bytes
// first, then a SplitMix64 stream of a seed, for strong and pseudo-random
// output alike; the additions to the pool are recorded.  Each test runs in its
// own process, so a test installs it without restoring the default.
#ifndef MORVANE_TEST_BN_DET_RAND_H
#define MORVANE_TEST_BN_DET_RAND_H

#include <morvane/rand.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "bn_test_util.h"

namespace bn_test {

struct DetRand {
  struct Add {
    std::vector<uint8_t> bytes;
    double entropy;
  };
  static inline SplitMix64 rng{0};
  static inline std::deque<uint8_t> script;
  static inline std::vector<Add> adds;
  static inline long calls = 0;         // bytes and pseudorand calls
  static inline int strong_result = 1;  // what the strong-output slot returns

  static void Fill(unsigned char* buf, int num) {
    calls++;
    for (int i = 0; i < num; i++) {
      if (!script.empty()) {
        buf[i] = script.front();
        script.pop_front();
      } else {
        buf[i] = static_cast<unsigned char>(rng.Next() >> 56);
      }
    }
  }
  static int Bytes(unsigned char* buf, int num) {
    Fill(buf, num);
    return strong_result;
  }
  static int Pseudo(unsigned char* buf, int num) {
    Fill(buf, num);
    return 1;
  }
  static void AddBytes(const void* buf, int num, double entropy) {
    const auto* p = static_cast<const uint8_t*>(buf);
    adds.push_back({std::vector<uint8_t>(p, p + num), entropy});
  }
};

// Installs the method with the stream of `seed` and an empty script.
inline void InstallDetRand(uint64_t seed) {
  static const RAND_METHOD method = {nullptr,           DetRand::Bytes,  nullptr,
                                     DetRand::AddBytes, DetRand::Pseudo, nullptr};
  DetRand::rng.state = seed;
  DetRand::script.clear();
  DetRand::adds.clear();
  DetRand::calls = 0;
  DetRand::strong_result = 1;
  ASSERT_EQ(RAND_set_rand_method(&method), 1);
}

}  // namespace bn_test

#endif  // MORVANE_TEST_BN_DET_RAND_H
