// The parallel AES modes (ECB, CBC and CFB decryption, CTR) with 256-bit VAES: two
// blocks to a register, sixteen in flight.  Built with -mvaes -mavx2 -maes;
// called only when CPUID reports VAES and AVX2 with the YMM state enabled, and
// only for runs of at least 16 blocks.  The last blocks of a run (fewer than
// 16) go to the AES-NI code.
//
// Implementation notes: round keys are byte-shuffled out of the AES_KEY words
// as in aes_ni.cc and broadcast to both lanes.  In CBC and CFB decryption a
// register holds ciphertext blocks 2j and 2j+1 and the chaining pair is
// (2j-1, 2j).  When the buffers lie apart it is read from the input, which no
// store touches, and XORed with the last round key before the rounds start,
// so those loads are done by the time the rounds end; when the call runs in
// place it is built from the ciphertext registers (the input is overwritten
// as the run goes).

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/aes_hw_shared.h"

namespace morvane::aes {
namespace {

constexpr size_t kPairs = 8;         // 256-bit registers in flight
constexpr size_t kRun = 2 * kPairs;  // blocks per pass
constexpr size_t kRunBytes = 16 * kRun;

inline __m256i Load(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void Store(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
inline __m256i Xor(__m256i a, __m256i b) {
  return _mm256_xor_si256(a, b);
}
// A 16-byte mask or block in both lanes.
inline __m256i Both(const uint8_t* p) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

template <int R>
struct Schedule {
  __m256i k[R + 1];
  explicit Schedule(const AES_KEY* key) {
    const __m256i swap = Both(kWordSwap);
#pragma GCC unroll 15
    for (int i = 0; i <= R; i++)
      k[i] = _mm256_shuffle_epi8(Both(reinterpret_cast<const uint8_t*>(key->rd_key + 4 * i)), swap);
  }
};

// Rounds 1 to R - 1 over every register of a run, of the cipher (kCfb) or of
// the inverse cipher (kCbc), and the last round.
template <Chained M, int R>
inline void MiddleRounds(__m256i* x, const __m256i* k) {
#pragma GCC unroll 13
  for (int r = 1; r < R; r++) {
    const __m256i kr = k[r];
#pragma GCC unroll 8
    for (size_t j = 0; j < kPairs; j++)
      x[j] = M == Chained::kCbc ? _mm256_aesdec_epi128(x[j], kr) : _mm256_aesenc_epi128(x[j], kr);
  }
}
template <Chained M>
inline __m256i LastRound(__m256i x, __m256i k) {
  return M == Chained::kCbc ? _mm256_aesdeclast_epi128(x, k) : _mm256_aesenclast_epi128(x, k);
}

// Runs of CBC or CFB decryption; `iv` ends as the last ciphertext block.
template <Chained M, int R>
void ChainedDecrypt(const uint8_t* in, uint8_t* out, size_t runs, const AES_KEY* key, uint8_t* iv) {
  constexpr bool kCbc = M == Chained::kCbc;
  const Schedule<R> s(key);
  const __m256i* k = s.k;
  __m256i before = Both(iv);  // the upper lane holds the block before the run
  const bool apart = in + runs * kRunBytes <= out || out + runs * kRunBytes <= in;
  for (; apart && runs != 0; runs--, in += kRunBytes, out += kRunBytes) {
    __m256i x[kPairs], after[kPairs];
    const __m256i chain0 = _mm256_permute2x128_si256(before, Load(in), 0x21);
    for (size_t j = 0; j < kPairs; j++) {
      const __m256i c = Load(in + 32 * j), chain = j == 0 ? chain0 : Load(in + 32 * j - 16);
      x[j] = Xor(kCbc ? c : chain, k[0]);
      after[j] = Xor(k[R], kCbc ? chain : c);
    }
    MiddleRounds<M, R>(x, k);
    for (size_t j = 0; j < kPairs; j++) Store(out + 32 * j, LastRound<M>(x[j], after[j]));
    before = Load(in + kRunBytes - 32);
  }
  for (; runs != 0; runs--, in += kRunBytes, out += kRunBytes) {
    __m256i c[kPairs], chain[kPairs], x[kPairs];
    for (size_t j = 0; j < kPairs; j++) c[j] = Load(in + 32 * j);
    for (size_t j = 0; j < kPairs; j++)
      chain[j] = _mm256_permute2x128_si256(j == 0 ? before : c[j - 1], c[j], 0x21);
    for (size_t j = 0; j < kPairs; j++) x[j] = Xor(kCbc ? c[j] : chain[j], k[0]);
    MiddleRounds<M, R>(x, k);
    for (size_t j = 0; j < kPairs; j++)
      Store(out + 32 * j, LastRound<M>(x[j], Xor(k[R], kCbc ? chain[j] : c[j])));
    before = c[kPairs - 1];
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), _mm256_extracti128_si256(before, 1));
}

// Runs of ECB: the cipher (kCfb) or the inverse cipher (kCbc) on each block.
template <Chained M, int R>
void Ecb(const uint8_t* in, uint8_t* out, size_t runs, const AES_KEY* key) {
  const Schedule<R> s(key);
  const __m256i* k = s.k;
  for (; runs != 0; runs--, in += kRunBytes, out += kRunBytes) {
    __m256i x[kPairs];
    for (size_t j = 0; j < kPairs; j++) x[j] = Xor(Load(in + 32 * j), k[0]);
    MiddleRounds<M, R>(x, k);
    for (size_t j = 0; j < kPairs; j++) Store(out + 32 * j, LastRound<M>(x[j], k[R]));
  }
}

// Runs of CTR while the low 64 bits of the counter cannot wrap within a run;
// returns the runs done.  When the counter's last byte cannot carry within
// the run, the run's counter blocks are the first one plus 0 to 15 in that
// byte (byte adds on the big-endian block); otherwise they are built
// byte-reversed, as 128-bit integers with 64-bit adds, and shuffled back.
template <int R>
size_t Ctr(const uint8_t* in, uint8_t* out, size_t runs, const AES_KEY* key, uint8_t* ctr,
           uint8_t* ks) {
  const Schedule<R> s(key);
  const __m256i* k = s.k;
  const __m256i rev = Both(kReverse);
  const uint64_t hi = load_be64(ctr);  // no carry reaches it here
  uint64_t lo = load_be64(ctr + 8);
  __m256i x[kPairs];
  size_t done = 0;
  for (; done < runs && lo <= UINT64_MAX - kRun; done++, lo += kRun) {
    if ((lo & 0xff) <= 0xff - (kRun - 1)) {
      const __m256i first = _mm256_broadcastsi128_si256(
          _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                         static_cast<long long>(__builtin_bswap64(hi))));
      for (size_t j = 0; j < kPairs; j++) {
        const long long a = static_cast<long long>(2 * j) << 56;
        const long long b = static_cast<long long>(2 * j + 1) << 56;
        x[j] = Xor(_mm256_add_epi8(first, _mm256_setr_epi64x(0, a, 0, b)), k[0]);
      }
    } else {
      const __m256i c =
          _mm256_setr_epi64x(static_cast<long long>(lo), static_cast<long long>(hi),
                             static_cast<long long>(lo + 1), static_cast<long long>(hi));
      for (size_t j = 0; j < kPairs; j++) {
        const long long d = static_cast<long long>(2 * j);
        x[j] = Xor(_mm256_shuffle_epi8(_mm256_add_epi64(c, _mm256_setr_epi64x(d, 0, d, 0)), rev),
                   k[0]);
      }
    }
    MiddleRounds<Chained::kCfb, R>(x, k);
    for (size_t j = 0; j < kPairs; j++)
      Store(out + 32 * j, _mm256_aesenclast_epi128(x[j], Xor(k[R], Load(in + 32 * j))));
    in += kRunBytes;
    out += kRunBytes;
  }
  if (done != 0) {
    store_be64(ctr + 8, lo);
    const __m256i last = _mm256_aesenclast_epi128(x[kPairs - 1], k[R]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ks), _mm256_extracti128_si256(last, 1));
  }
  return done;
}

}  // namespace

void VaesEcb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
             bool encrypt) noexcept {
  ByRoundsAndWay(key, encrypt, [&](auto r, auto m) {
    Ecb<decltype(m)::value, decltype(r)::value>(in, out, blocks / kRun, key);
  });
  const size_t done = blocks - blocks % kRun;
  if (done != blocks) NiEcb(in + 16 * done, out + 16 * done, blocks - done, key, encrypt);
}

void VaesCbcDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                    uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) {
    ChainedDecrypt<Chained::kCbc, decltype(r)::value>(in, out, blocks / kRun, key, iv);
  });
  const size_t done = blocks - blocks % kRun;
  if (done != blocks) NiCbcDecrypt(in + 16 * done, out + 16 * done, blocks - done, key, iv);
}

void VaesCfbDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                    uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) {
    ChainedDecrypt<Chained::kCfb, decltype(r)::value>(in, out, blocks / kRun, key, iv);
  });
  const size_t done = blocks - blocks % kRun;
  if (done != blocks) NiCfbDecrypt(in + 16 * done, out + 16 * done, blocks - done, key, iv);
}

void VaesCtr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
             uint8_t* ks) noexcept {
  size_t done = 0;
  ByRounds(key, [&](auto r) {
    done = kRun * Ctr<decltype(r)::value>(in, out, blocks / kRun, key, ctr, ks);
  });
  if (done != blocks) NiCtr(in + 16 * done, out + 16 * done, blocks - done, key, ctr, ks);
}

}  // namespace morvane::aes
