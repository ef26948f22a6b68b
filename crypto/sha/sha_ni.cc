// SHA-1 (FIPS 180-1) and SHA-256 (FIPS 180-2) compression functions on the
// SHA extensions.  Built with -msha -mssse3 -msse4.1; called only when CPUID
// reports them (sha1.cc, sha256.cc).  SHA-0 keeps its portable code.
//
// Implementation notes: SHA256RNDS2 runs two steps on the state split into
// (A, B, E, F) and (C, D, G, H), from the most significant lane down, with
// W + K for the two steps in the low half of its third operand; the halves
// swap roles after each call.  SHA1RNDS4 runs four steps on (A, B, C, D) with
// E + W folded into the message operand by SHA1NEXTE, which also supplies E
// (A of four steps back, rotated by 30).  SHA256MSG1/MSG2 and SHA1MSG1/MSG2
// extend the message schedule four words at a time, alongside the steps.

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>

#include <morvane/sha.h>

#include "sha/sha2_constants.h"
#include "sha/sha_hw.h"

namespace morvane::sha {
namespace {

inline __m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}


// Four steps of SHA-256 on the message words w (W[t] in the lowest lane).
inline void Sha256Steps(__m128i& abef, __m128i& cdgh, __m128i w, int t) {
  const __m128i wk = _mm_add_epi32(
      w, _mm_load_si128(reinterpret_cast<const __m128i*>(morvane::sha::kSha256K + t)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0e));
}

// W[t..t+3] from W[t-16..t-1], held four to a register (FIPS 180-2, 6.2.2, 1):
// MSG1 adds σ0(W[t-15]) to W[t-16], the sum takes W[t-7], MSG2 adds σ1(W[t-2]).
inline __m128i Sha256Schedule(__m128i w16, __m128i w12, __m128i w8, __m128i w4) {
  const __m128i s = _mm_add_epi32(_mm_sha256msg1_epu32(w16, w12), _mm_alignr_epi8(w4, w8, 4));
  return _mm_sha256msg2_epu32(s, w4);
}

}  // namespace

void Sha256Blocks(SHA256_CTX* ctx, const uint8_t* in, size_t num) noexcept {
  if (num == 0) return;
  const __m128i bswap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  // h[0..7] = A..H  ->  (A, B, E, F) and (C, D, G, H), A and C in the top lanes.
  const __m128i dcba = _mm_shuffle_epi32(Load(ctx->h), 0xb1);      // B A D C
  const __m128i efgh = _mm_shuffle_epi32(Load(ctx->h + 4), 0x1b);  // H G F E
  __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xf0);
  for (; num != 0; num--, in += 64) {
    const __m128i abef0 = abef, cdgh0 = cdgh;
    __m128i w[4];
    for (int i = 0; i < 4; i++) w[i] = _mm_shuffle_epi8(Load(in + 16 * i), bswap);
#pragma GCC unroll 16
    for (int g = 0; g < 16; g++) {
      Sha256Steps(abef, cdgh, w[g & 3], 4 * g);
      if (g < 12)
        w[g & 3] = Sha256Schedule(w[g & 3], w[(g + 1) & 3], w[(g + 2) & 3], w[(g + 3) & 3]);
    }
    abef = _mm_add_epi32(abef, abef0);
    cdgh = _mm_add_epi32(cdgh, cdgh0);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);  // A B E F from the low lane up
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);  // G H C D
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ctx->h), _mm_blend_epi16(feba, dchg, 0xf0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ctx->h + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// FIPS 180-1, 7: four groups of 20 steps with the functions Ch, Parity, Maj
// and Parity, which are SHA1RNDS4's immediates 0 to 3.
void Sha1Blocks(SHA_CTX* ctx, const uint8_t* in, size_t num) noexcept {
  if (num == 0) return;
  // The 16 bytes reversed: big-endian words with W[t] in the top lane.
  const __m128i rev = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  __m128i abcd = _mm_set_epi32(static_cast<int>(ctx->h0), static_cast<int>(ctx->h1),
                               static_cast<int>(ctx->h2), static_cast<int>(ctx->h3));
  __m128i e = _mm_set_epi32(static_cast<int>(ctx->h4), 0, 0, 0);
  for (; num != 0; num--, in += 64) {
    const __m128i abcd0 = abcd, e0 = e;
    __m128i w[4];
    for (int i = 0; i < 4; i++) w[i] = _mm_shuffle_epi8(Load(in + 16 * i), rev);
    // Steps 0-3 take E itself; each later group takes E from the state of
    // four steps back (SHA1NEXTE), with the group's message words added.
    __m128i prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, w[0]), 0);
#define SHA1_GROUP(g, f)                                    \
  {                                                         \
    const __m128i ew = _mm_sha1nexte_epu32(prev, w[(g)&3]); \
    prev = abcd;                                            \
    abcd = _mm_sha1rnds4_epu32(abcd, ew, f);                \
  }
#define SHA1_SCHEDULE(g)                                                               \
  w[(g)&3] = _mm_sha1msg2_epu32(                                                       \
      _mm_xor_si128(_mm_sha1msg1_epu32(w[(g)&3], w[((g) + 1) & 3]), w[((g) + 2) & 3]), \
      w[((g) + 3) & 3])
    // W[t] = (W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]) <<< 1, four at a time:
    // MSG1 gives W[t-16] ^ W[t-14], the XOR takes W[t-8], MSG2 the rest.
    SHA1_SCHEDULE(0);
    SHA1_GROUP(1, 0) SHA1_SCHEDULE(1);
    SHA1_GROUP(2, 0) SHA1_SCHEDULE(2);
    SHA1_GROUP(3, 0) SHA1_SCHEDULE(3);
    SHA1_GROUP(4, 0) SHA1_SCHEDULE(4);
    SHA1_GROUP(5, 1) SHA1_SCHEDULE(5);
    SHA1_GROUP(6, 1) SHA1_SCHEDULE(6);
    SHA1_GROUP(7, 1) SHA1_SCHEDULE(7);
    SHA1_GROUP(8, 1) SHA1_SCHEDULE(8);
    SHA1_GROUP(9, 1) SHA1_SCHEDULE(9);
    SHA1_GROUP(10, 2) SHA1_SCHEDULE(10);
    SHA1_GROUP(11, 2) SHA1_SCHEDULE(11);
    SHA1_GROUP(12, 2) SHA1_SCHEDULE(12);
    SHA1_GROUP(13, 2) SHA1_SCHEDULE(13);
    SHA1_GROUP(14, 2) SHA1_SCHEDULE(14);
    SHA1_GROUP(15, 3) SHA1_SCHEDULE(15);
    SHA1_GROUP(16, 3)
    SHA1_GROUP(17, 3)
    SHA1_GROUP(18, 3)
    SHA1_GROUP(19, 3)
#undef SHA1_GROUP
#undef SHA1_SCHEDULE
    e = _mm_sha1nexte_epu32(prev, e0);  // E after step 79, plus the saved E
    abcd = _mm_add_epi32(abcd, abcd0);
  }
  ctx->h0 = static_cast<uint32_t>(_mm_extract_epi32(abcd, 3));
  ctx->h1 = static_cast<uint32_t>(_mm_extract_epi32(abcd, 2));
  ctx->h2 = static_cast<uint32_t>(_mm_extract_epi32(abcd, 1));
  ctx->h3 = static_cast<uint32_t>(_mm_extract_epi32(abcd, 0));
  ctx->h4 = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

}  // namespace morvane::sha
