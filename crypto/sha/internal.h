// The SHA-2 compression function, written once for the two word sizes:
// 32-bit words and 64 steps for SHA-224/256 (FIPS 180-2, 6.2.2), 64-bit words
// and 80 steps for SHA-384/512 (FIPS 180-2, 6.3.2).  Each user supplies its
// word type, step count, constants and the rotation amounts of Σ0, Σ1, σ0
// and σ1 (FIPS 180-2, 4.1.2 and 4.1.3).
//
// The steps are fully unrolled with the constants as immediates; the message
// schedule is a rolling window of 16 words.
#ifndef MORVANE_CRYPTO_SHA_INTERNAL_H
#define MORVANE_CRYPTO_SHA_INTERNAL_H

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "internal/byteorder.h"

namespace morvane::sha {

template <class P>
concept Sha2Params = requires {
  requires std::unsigned_integral<typename P::Word>;
  requires sizeof(typename P::Word) == 4 || sizeof(typename P::Word) == 8;
  requires P::kSteps == 64 || P::kSteps == 80;
  { P::kK[0] } -> std::convertible_to<typename P::Word>;
  { P::kSum0[2] + P::kSum1[2] + P::kSigma0[2] + P::kSigma1[2] } -> std::convertible_to<int>;
};

template <Sha2Params P>
class Sha2 {
 public:
  using Word = typename P::Word;
  static constexpr size_t kBlockSize = 16 * sizeof(Word);

  // Runs num blocks at `in` (any alignment) into the chaining words h[0..7];
  // the count is tested before each block, so 0 processes nothing.
  static void blocks(Word* h, const uint8_t* in, size_t num) noexcept {
    while (num-- != 0) {
      Word w[16];
      for (int i = 0; i < 16; i++) w[i] = load(in + sizeof(Word) * i);
      Word a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
#define SHA2_EIGHT(i)                      \
  step<i>(a, b, c, d, e, f, g, hh, w);     \
  step<i + 1>(hh, a, b, c, d, e, f, g, w); \
  step<i + 2>(g, hh, a, b, c, d, e, f, w); \
  step<i + 3>(f, g, hh, a, b, c, d, e, w); \
  step<i + 4>(e, f, g, hh, a, b, c, d, w); \
  step<i + 5>(d, e, f, g, hh, a, b, c, w); \
  step<i + 6>(c, d, e, f, g, hh, a, b, w); \
  step<i + 7>(b, c, d, e, f, g, hh, a, w)
      SHA2_EIGHT(0);
      SHA2_EIGHT(8);
      SHA2_EIGHT(16);
      SHA2_EIGHT(24);
      SHA2_EIGHT(32);
      SHA2_EIGHT(40);
      SHA2_EIGHT(48);
      SHA2_EIGHT(56);
      if constexpr (P::kSteps == 80) {
        SHA2_EIGHT(64);
        SHA2_EIGHT(72);
      }
#undef SHA2_EIGHT
      h[0] += a;
      h[1] += b;
      h[2] += c;
      h[3] += d;
      h[4] += e;
      h[5] += f;
      h[6] += g;
      h[7] += hh;
      in += kBlockSize;
    }
  }

 private:
  [[gnu::always_inline]] static Word load(const uint8_t* p) noexcept {
    if constexpr (sizeof(Word) == 4) {
      return internal::load_be32(p);
    } else {
      return internal::load_be64(p);
    }
  }

  // Σ and σ: three rotations, or two and a shift for the σ functions.
  template <const int (&R)[3], bool kShiftLast>
  [[gnu::always_inline]] static Word mix(Word x) noexcept {
    const Word last = kShiftLast ? x >> R[2] : std::rotr(x, R[2]);
    return std::rotr(x, R[0]) ^ std::rotr(x, R[1]) ^ last;
  }

  // Step I: for I >= 16 first extends the schedule, W[t] = σ1(W[t-2]) +
  // W[t-7] + σ0(W[t-15]) + W[t-16]; then T1 = h + Σ1(e) + Ch(e, f, g) + K +
  // W, T2 = Σ0(a) + Maj(a, b, c), d += T1, h = T1 + T2, with the roles of
  // a..h rotated by the caller instead of moving the values.  Maj is written
  // ((a ^ b) & (b ^ c)) ^ b: b ^ c is the previous step's a ^ b, which the
  // compiler reuses across the unrolled steps.
  template <int I>
  [[gnu::always_inline]] static void step(Word a, Word b, Word c, Word& d, Word e, Word f, Word g,
                                          Word& h, Word* w) noexcept {
    if constexpr (I >= 16) {
      w[I & 15] += mix<P::kSigma0, true>(w[(I + 1) & 15]) +
                   mix<P::kSigma1, true>(w[(I + 14) & 15]) + w[(I + 9) & 15];
    }
    const Word t1 = h + mix<P::kSum1, false>(e) + (((f ^ g) & e) ^ g) + P::kK[I] + w[I & 15];
    const Word t2 = mix<P::kSum0, false>(a) + (((a ^ b) & (b ^ c)) ^ b);
    d += t1;
    h = t1 + t2;
  }
};

}  // namespace morvane::sha

#endif  // MORVANE_CRYPTO_SHA_INTERNAL_H
