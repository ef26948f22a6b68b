// Pieces shared by the two files of AES instructions, aes_ni.cc and
// aes_vaes.cc.  Everything here has internal linkage, so that each file keeps
// its own copy, built with its own instruction-set flags (see aes_hw.h).
#ifndef MORVANE_CRYPTO_AES_AES_HW_SHARED_H
#define MORVANE_CRYPTO_AES_AES_HW_SHARED_H

#include <stdint.h>

#include <morvane/aes.h>

#include "internal/byteorder.h"

namespace morvane::aes {
namespace {

// PSHUFB masks: the byte order of a round key's four words <-> the byte order
// of the block (an AES_KEY word holds its first schedule byte in the most
// significant position); and the 16 bytes reversed, a big-endian counter
// block <-> a 128-bit integer with its low 64 bits first.
alignas(16) constexpr uint8_t kWordSwap[16] = {3,  2,  1, 0, 7,  6,  5,  4,
                                               11, 10, 9, 8, 15, 14, 13, 12};
alignas(16) constexpr uint8_t kReverse[16] = {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

template <int R>
struct Rounds {
  static constexpr int value = R;
};

// Calls f(Rounds<N>{}) for the schedule's round count, so that each count
// gets fully unrolled code.
template <class F>
inline void ByRounds(const AES_KEY* key, F f) {
  switch (key->rounds) {
    case 10:
      return f(Rounds<10>{});
    case 12:
      return f(Rounds<12>{});
    default:
      return f(Rounds<14>{});
  }
}

// CBC and CFB decryption are one shape over the chained pair of ciphertext
// blocks C[j-1], C[j]: CBC runs C[j] through the inverse cipher and XORs
// C[j-1] in after; CFB runs C[j-1] through the cipher and XORs C[j] in after.
enum class Chained { kCbc, kCfb };

// ECB runs the cipher to encrypt and the inverse cipher to decrypt, the
// rounds of kCfb and of kCbc: calls f(Rounds<N>{}, Way<M>{}) for the
// schedule's round count and the direction.
template <Chained M>
struct Way {
  static constexpr Chained value = M;
};
template <class F>
inline void ByRoundsAndWay(const AES_KEY* key, bool encrypt, F f) {
  ByRounds(key, [&](auto r) {
    if (encrypt)
      f(r, Way<Chained::kCfb>{});
    else
      f(r, Way<Chained::kCbc>{});
  });
}

using morvane::internal::load_be64;
using morvane::internal::store_be64;

}  // namespace
}  // namespace morvane::aes

#endif  // MORVANE_CRYPTO_AES_AES_HW_SHARED_H
