// The parallel AES modes (ECB, CBC and CFB decryption, CTR) with 256-bit VAES: two
// blocks to a register, sixteen in flight (24 in CTR).  Built with -mvaes
// -mavx2 -maes; called only when CPUID reports VAES and AVX2 with the YMM
// state enabled.  ECB and CBC and CFB decryption take runs of at least 16
// blocks and leave the last blocks of a run (fewer than 16) to the AES-NI
// code; CTR takes any number, its last blocks in one shorter pass.
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
#include "internal/cpu.h"

namespace morvane::aes {
namespace {

constexpr size_t kPairs = 8;         // 256-bit registers in flight
constexpr size_t kRun = 2 * kPairs;  // blocks per pass
constexpr size_t kRunBytes = 16 * kRun;
// Long CTR runs keep twelve registers in flight where a round takes four
// cycles (AMD's cores): two AES units take two registers a cycle, so eight
// only just keep the units busy, and a pass's loads, stores and counters
// leave them idle at its ends.  Where a round takes three (Intel's, kCtr16),
// eight keep the units busy and twelve run slower (16 KiB: 15.0 against
// 18.0 GB/s on a Xeon), so long runs stay in passes of eight.  The last
// kCtrShort blocks of a run, or fewer, go in passes of eight: a call of a
// few passes of twelve overlaps less with the code around it.
constexpr size_t kCtrPairs = 12;
constexpr size_t kCtrShort = 64;

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
template <Chained M, int R, size_t N = kPairs>
inline void MiddleRounds(__m256i* x, const __m256i* k) {
#pragma GCC unroll 13
  for (int r = 1; r < R; r++) {
    const __m256i kr = k[r];
#pragma GCC unroll 12
    for (size_t j = 0; j < N; j++)
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

// The counter blocks of a CTR pass of `n` blocks (2 N at most) from the
// counter (hi, lo), XORed with the first round key, into x[0..N).  `first`
// holds block lo (big-endian) in both lanes.  While the counter's last byte
// does not carry within the pass, block i is `first` plus i in that byte
// (byte adds); otherwise the blocks are made byte-reversed, as 128-bit
// integers with 64-bit adds, and shuffled back.  The caller makes sure the
// low 64 bits do not wrap within the pass.
template <size_t N>
inline void Counters(__m256i* x, __m256i first, uint64_t hi, uint64_t lo, size_t n, __m256i k0) {
  if ((lo & 0xff) <= 0x100 - n) {
#pragma GCC unroll 12
    for (size_t j = 0; j < N; j++) {
      const long long a = static_cast<long long>(2 * j) << 56;
      const long long b = static_cast<long long>(2 * j + 1) << 56;
      x[j] = Xor(_mm256_add_epi8(first, _mm256_setr_epi64x(0, a, 0, b)), k0);
    }
    return;
  }
  const __m256i rev = Both(kReverse);
  const __m256i c = _mm256_setr_epi64x(static_cast<long long>(lo), static_cast<long long>(hi),
                                       static_cast<long long>(lo + 1), static_cast<long long>(hi));
#pragma GCC unroll 12
  for (size_t j = 0; j < N; j++) {
    const long long d = static_cast<long long>(2 * j);
    x[j] = Xor(_mm256_shuffle_epi8(_mm256_add_epi64(c, _mm256_setr_epi64x(d, 0, d, 0)), rev), k0);
  }
}

// Block lo of the counter (hi, lo), big-endian, in both lanes.
inline __m256i CounterBlock(uint64_t hi, uint64_t lo) {
  return _mm256_broadcastsi128_si256(_mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                                    static_cast<long long>(__builtin_bswap64(hi))));
}

// One CTR pass over `n` blocks (2 N at most) whose counter blocks, XORed
// with the first round key, are in x; leaves in x[(n - 1) / 2] the register
// of the pass's last block before its last round.  A pass of fewer than 2 N
// blocks computes every register and touches only the bytes of its blocks.
template <int R, size_t N, bool kWhole>
inline void CtrPass(const uint8_t* in, uint8_t* out, size_t n, __m256i* x, const __m256i* k) {
  MiddleRounds<Chained::kCfb, R, N>(x, k);
#pragma GCC unroll 12
  for (size_t j = 0; j < N; j++) {
    if (kWhole || 2 * j + 2 <= n) {
      Store(out + 32 * j, _mm256_aesenclast_epi128(x[j], Xor(k[R], Load(in + 32 * j))));
    } else if (2 * j + 1 == n) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32 * j));
      const __m256i y = _mm256_aesenclast_epi128(x[j], Xor(k[R], _mm256_castsi128_si256(p)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * j), _mm256_castsi256_si128(y));
    }
  }
}

// The state of a CTR call between passes.  `first` holds block lo of the
// counter in both lanes while `made` is lo >> 8: it moves on by byte adds,
// and is made again from the integers after the last byte has carried.
struct CtrState {
  const uint8_t* in;
  uint8_t* out;
  size_t left;  // blocks
  uint64_t hi, lo;
  uint64_t made;
  __m256i first;
  __m256i last;  // the register of the last block done, before its last round
  bool odd;      // that block is in its lower lane

  __m256i First() {
    if ((lo >> 8) != made) {
      first = CounterBlock(hi, lo);
      made = lo >> 8;
    }
    return first;
  }
};

// Whole passes of N registers while more than `keep` blocks are left.
template <int R, size_t N>
[[gnu::always_inline]] inline void CtrPasses(CtrState& c, size_t keep, const __m256i* k) {
  constexpr size_t kBlocks = 2 * N;
  const __m256i step = _mm256_setr_epi64x(0, static_cast<long long>(kBlocks) << 56, 0,
                                          static_cast<long long>(kBlocks) << 56);
  for (; c.left >= kBlocks && c.left > keep; c.left -= kBlocks, c.lo += kBlocks) {
    __m256i x[N];
    Counters<N>(x, c.First(), c.hi, c.lo, kBlocks, k[0]);
    CtrPass<R, N, true>(c.in, c.out, kBlocks, x, k);
    c.last = x[N - 1];
    c.first = _mm256_add_epi8(c.first, step);
    c.in += 16 * kBlocks;
    c.out += 16 * kBlocks;
  }
}

// The blocks of a CTR call that the passes here take: up to the block of
// counter ...ff ff in the low 64 bits, which goes to AES-NI with the rest
// (no carry reaches the high 64 bits here).
inline size_t CtrBlocks(size_t blocks, const uint8_t* ctr) {
  const uint64_t lo = load_be64(ctr + 8);
  return blocks <= UINT64_MAX - lo ? blocks : static_cast<size_t>(UINT64_MAX - lo);
}

// Leaves the counter of the next block in `ctr` and the keystream block of
// the last block done in `ks`.
inline void CtrEnd(const CtrState& c, uint8_t* ctr, uint8_t* ks, __m256i k_last) {
  store_be64(ctr + 8, c.lo);
  const __m256i last = _mm256_aesenclast_epi128(c.last, k_last);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ks), c.odd ? _mm256_castsi256_si128(last)
                                                          : _mm256_extracti128_si256(last, 1));
}

// CTR in passes of 2 kPairs blocks and one shorter pass for the rest;
// returns the blocks done (CtrBlocks).
template <int R>
[[gnu::noinline]] size_t Ctr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                             uint8_t* ctr, uint8_t* ks) {
  const size_t n = CtrBlocks(blocks, ctr);
  if (n == 0) return 0;
  const uint64_t hi = load_be64(ctr), lo = load_be64(ctr + 8);
  const Schedule<R> s(key);
  const __m256i* k = s.k;
  CtrState c{in, out, n, hi, lo, lo >> 8, CounterBlock(hi, lo), _mm256_setzero_si256(), false};
  CtrPasses<R, kPairs>(c, 0, k);
  if (c.left != 0) {
    __m256i x[kPairs];
    Counters<kPairs>(x, c.First(), hi, c.lo, c.left, k[0]);
    CtrPass<R, kPairs, false>(c.in, c.out, c.left, x, k);
    c.last = x[(c.left - 1) / 2];
    c.odd = c.left % 2 != 0;
    c.lo += c.left;
  }
  CtrEnd(c, ctr, ks, k[R]);
  return n;
}

// The passes of 2 kCtrPairs blocks of a long CTR call, up to its last
// kCtrShort blocks or fewer, which Ctr takes after them; returns the blocks
// done.  Apart from Ctr: compiled beside these passes, the shorter ones lose
// registers to them (a 1 KiB call ran 2 to 5% slower).
template <int R>
[[gnu::noinline]] size_t CtrLong(const uint8_t* in, uint8_t* out, size_t blocks,
                                 const AES_KEY* key, uint8_t* ctr, uint8_t* ks) {
  const size_t n = CtrBlocks(blocks, ctr);
  const uint64_t hi = load_be64(ctr), lo = load_be64(ctr + 8);
  const Schedule<R> s(key);
  CtrState c{in, out, n, hi, lo, lo >> 8, CounterBlock(hi, lo), _mm256_setzero_si256(), false};
  CtrPasses<R, kCtrPairs>(c, kCtrShort, s.k);
  if (c.left != n) CtrEnd(c, ctr, ks, s.k[R]);
  return n - c.left;
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
    constexpr int R = decltype(r)::value;
    if (blocks > kCtrShort && !internal::Has(internal::kCtr16))
      done = CtrLong<R>(in, out, blocks, key, ctr, ks);
    done += Ctr<R>(in + 16 * done, out + 16 * done, blocks - done, key, ctr, ks);
  });
  if (done != blocks) NiCtr(in + 16 * done, out + 16 * done, blocks - done, key, ctr, ks);
}

}  // namespace morvane::aes
