// The AES modes whose blocks are independent (ECB, CBC and CFB decryption,
// CTR) with 512-bit VAES: four blocks to a register, 32 in flight.  Built
// with -mvaes -mavx512f -mavx2 -maes; called only when CPUID reports VAES and
// AVX-512F with the ZMM state enabled (aes_modes.cc).  Only AVX-512F
// instructions touch the 512-bit registers: the byte shuffles are done on
// 128- or 256-bit halves.
//
// Implementation notes: round keys are byte-shuffled out of the AES_KEY words
// as in aes_ni.cc and broadcast to the four lanes.  A run's last blocks (fewer
// than 32) go through the same eight registers with masked loads and stores,
// so a call of any length stays in this file; the registers past the end
// compute on zeros and store nothing, which costs no more time than the one
// chain of rounds the tail needs anyway.  In CBC and CFB decryption a register
// holds ciphertext blocks 4j to 4j+3 and the chained blocks 4j-1 to 4j+2 are
// made from it and the register before (VALIGNQ), so nothing is read twice
// and the call may run in place.

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/aes_hw_shared.h"

namespace morvane::aes {
namespace {

constexpr size_t kRegs = 8;         // 512-bit registers in flight
constexpr size_t kRun = 4 * kRegs;  // blocks per pass
constexpr size_t kRunBytes = 16 * kRun;

inline __m512i Load(const uint8_t* p) {
  return _mm512_loadu_si512(p);
}
inline void Store(uint8_t* p, __m512i v) {
  _mm512_storeu_si512(p, v);
}
inline __m512i Xor(__m512i a, __m512i b) {
  return _mm512_xor_si512(a, b);
}
inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
// The all-ones masked forms of VBROADCASTI32X4, VEXTRACTI32X4 and VALIGNQ:
// GCC 12's unmasked ones read an uninitialised register (-Wuninitialized).
// A 16-byte block in all four lanes.
inline __m512i Broadcast(__m128i x) {
  return _mm512_maskz_broadcast_i32x4(0xffff, x);
}
inline __m128i TopLane(__m512i x) {
  return _mm512_maskz_extracti32x4_epi32(0xf, x, 3);
}

// The 64-bit words of register j that hold blocks below `blocks` (a block is
// two words).
inline __mmask8 TailMask(size_t blocks, size_t j) {
  const size_t have = blocks > 4 * j ? blocks - 4 * j : 0;
  return have >= 4 ? __mmask8{0xff} : static_cast<__mmask8>((1u << (2 * have)) - 1);
}

template <int R>
struct Schedule {
  __m512i k[R + 1];
  explicit Schedule(const AES_KEY* key) {
    const __m128i swap = Load128(kWordSwap);
#pragma GCC unroll 15
    for (int i = 0; i <= R; i++)
      k[i] = Broadcast(
          _mm_shuffle_epi8(Load128(reinterpret_cast<const uint8_t*>(key->rd_key + 4 * i)), swap));
  }
};

// Rounds 1 to R - 1 over every register of a pass, of the cipher (kCfb) or of
// the inverse cipher (kCbc), and the last round.
template <Chained M, int R>
inline void MiddleRounds(__m512i* x, const __m512i* k) {
#pragma GCC unroll 13
  for (int r = 1; r < R; r++) {
    const __m512i kr = k[r];
#pragma GCC unroll 8
    for (size_t j = 0; j < kRegs; j++)
      x[j] = M == Chained::kCbc ? _mm512_aesdec_epi128(x[j], kr) : _mm512_aesenc_epi128(x[j], kr);
  }
}
template <Chained M>
inline __m512i LastRound(__m512i x, __m512i k) {
  return M == Chained::kCbc ? _mm512_aesdeclast_epi128(x, k) : _mm512_aesenclast_epi128(x, k);
}

// One pass of ECB over `blocks` (at most kRun) blocks; whole passes take no
// masks.
template <Chained M, int R, bool kWhole>
inline void EcbPass(const uint8_t* in, uint8_t* out, size_t blocks, const __m512i* k) {
  __m512i x[kRegs];
  for (size_t j = 0; j < kRegs; j++)
    x[j] =
        Xor(kWhole ? Load(in + 64 * j) : _mm512_maskz_loadu_epi64(TailMask(blocks, j), in + 64 * j),
            k[0]);
  MiddleRounds<M, R>(x, k);
  for (size_t j = 0; j < kRegs; j++) {
    const __m512i y = LastRound<M>(x[j], k[R]);
    if (kWhole)
      Store(out + 64 * j, y);
    else
      _mm512_mask_storeu_epi64(out + 64 * j, TailMask(blocks, j), y);
  }
}

// ECB: the cipher (kCfb) or the inverse cipher (kCbc) on every block.
template <Chained M, int R>
void Ecb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key) {
  const Schedule<R> s(key);
  for (; blocks >= kRun; blocks -= kRun, in += kRunBytes, out += kRunBytes)
    EcbPass<M, R, true>(in, out, kRun, s.k);
  if (blocks != 0) EcbPass<M, R, false>(in, out, blocks, s.k);
}

// One pass of CBC or CFB decryption over `blocks` (at most kRun) blocks after
// the register `before`, whose last block precedes them; returns the
// register of the pass's last four blocks.  All input is loaded before the
// first store.
template <Chained M, int R, bool kWhole>
inline __m512i ChainedPass(const uint8_t* in, uint8_t* out, size_t blocks, __m512i before,
                           const __m512i* k) {
  constexpr bool kCbc = M == Chained::kCbc;
  __m512i c[kRegs], x[kRegs];
  for (size_t j = 0; j < kRegs; j++)
    c[j] = kWhole ? Load(in + 64 * j) : _mm512_maskz_loadu_epi64(TailMask(blocks, j), in + 64 * j);
  // Blocks 4j-1 .. 4j+2: the top block of the register before, then three.
  auto chain = [&](size_t j) {
    return _mm512_maskz_alignr_epi64(0xff, c[j], j == 0 ? before : c[j - 1], 6);
  };
  for (size_t j = 0; j < kRegs; j++) x[j] = Xor(kCbc ? c[j] : chain(j), k[0]);
  MiddleRounds<M, R>(x, k);
  for (size_t j = 0; j < kRegs; j++) {
    const __m512i y = LastRound<M>(x[j], Xor(k[R], kCbc ? chain(j) : c[j]));
    if (kWhole)
      Store(out + 64 * j, y);
    else
      _mm512_mask_storeu_epi64(out + 64 * j, TailMask(blocks, j), y);
  }
  return c[kRegs - 1];
}

// CBC or CFB decryption; `iv` ends as the last ciphertext block.
template <Chained M, int R>
void ChainedDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                    uint8_t* iv) {
  const Schedule<R> s(key);
  __m512i before = Broadcast(Load128(iv));  // its top lane is the block before
  for (; blocks >= kRun; blocks -= kRun, in += kRunBytes, out += kRunBytes)
    before = ChainedPass<M, R, true>(in, out, kRun, before, s.k);
  if (blocks != 0) {
    const __m128i last = Load128(in + 16 * (blocks - 1));  // read before the stores
    ChainedPass<M, R, false>(in, out, blocks, before, s.k);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), last);
    return;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), TopLane(before));
}

// The counter blocks of one pass from the counter (hi, lo), XORed with the
// first round key.  The caller makes sure the low 64 bits do not wrap within
// the pass.  Block i is the first one plus i in its last byte (64-bit adds on
// the top byte of each big-endian block) while that byte does not wrap; when
// it wraps at block m, blocks m and later are made the same way from block m,
// whose carry is done in scalar code, and blended in.
inline __m512i CounterBlock(uint64_t hi, uint64_t lo) {
  return Broadcast(_mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                  static_cast<long long>(__builtin_bswap64(hi))));
}
inline void Counters(uint64_t hi, uint64_t lo, __m512i* x, __m512i k0) {
  const __m512i lanes = _mm512_set_epi64(3ll << 56, 0, 2ll << 56, 0, 1ll << 56, 0, 0, 0);
  const __m512i four = _mm512_set_epi64(4ll << 56, 0, 4ll << 56, 0, 4ll << 56, 0, 4ll << 56, 0);
  __m512i c = _mm512_add_epi64(CounterBlock(hi, lo), lanes);
  if ((lo & 0xff) <= 0xff - (kRun - 1)) {
    for (size_t j = 0; j < kRegs; j++) {
      x[j] = Xor(c, k0);
      c = _mm512_add_epi64(c, four);
    }
    return;
  }
  const uint64_t m = 0x100 - (lo & 0xff);  // 1 to 31
  // Block m's last byte is 0; the lane adds of blocks below m wrap in it and
  // are not used.
  const auto mt = static_cast<long long>(m << 56);
  const __m512i top = _mm512_set_epi64(mt, 0, mt, 0, mt, 0, mt, 0);
  __m512i d = _mm512_sub_epi64(_mm512_add_epi64(CounterBlock(hi, lo + m), lanes), top);
  for (size_t j = 0; j < kRegs; j++) {
    x[j] = Xor(_mm512_mask_blend_epi64(static_cast<__mmask8>(~TailMask(m, j)), c, d), k0);
    c = _mm512_add_epi64(c, four);
    d = _mm512_add_epi64(d, four);
  }
}

// One pass of CTR over `blocks` (at most kRun) blocks; returns the register
// that holds the pass's last block, before its last round.
template <int R, bool kWhole>
inline __m512i CtrPass(const uint8_t* in, uint8_t* out, size_t blocks, uint64_t hi, uint64_t lo,
                       const __m512i* k) {
  __m512i x[kRegs];
  Counters(hi, lo, x, k[0]);
  MiddleRounds<Chained::kCfb, R>(x, k);
  for (size_t j = 0; j < kRegs; j++) {
    if (kWhole) {
      Store(out + 64 * j, _mm512_aesenclast_epi128(x[j], Xor(k[R], Load(in + 64 * j))));
    } else {
      const __mmask8 m = TailMask(blocks, j);
      const __m512i y =
          _mm512_aesenclast_epi128(x[j], Xor(k[R], _mm512_maskz_loadu_epi64(m, in + 64 * j)));
      _mm512_mask_storeu_epi64(out + 64 * j, m, y);
    }
  }
  return x[kWhole ? kRegs - 1 : (blocks - 1) / 4];
}

// CTR while the low 64 bits of the counter do not wrap; returns the blocks
// done, leaving the counter of the next block in `ctr` and the last keystream
// block in `ks`.
template <int R>
size_t Ctr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
           uint8_t* ks) {
  const uint64_t hi = load_be64(ctr);  // no carry reaches it here
  const uint64_t lo0 = load_be64(ctr + 8);
  if (blocks == 0 || lo0 > UINT64_MAX - kRun) return 0;
  const Schedule<R> s(key);
  const __m512i* k = s.k;
  uint64_t lo = lo0;
  __m512i last = _mm512_setzero_si512();
  size_t lane = 3;  // of the last block in `last`
  for (; blocks >= kRun && lo <= UINT64_MAX - kRun; blocks -= kRun, lo += kRun) {
    last = CtrPass<R, true>(in, out, kRun, hi, lo, k);
    in += kRunBytes;
    out += kRunBytes;
  }
  if (blocks != 0 && blocks < kRun && lo <= UINT64_MAX - kRun) {
    last = CtrPass<R, false>(in, out, blocks, hi, lo, k);
    lane = (blocks - 1) % 4;
    lo += blocks;
  }
  // The last keystream block: the two words of its lane, moved down in the
  // register (a compressing store to memory is microcoded and slow on some
  // processors: it cost a 1 KiB call a third of its time).
  const __m512i y = _mm512_maskz_compress_epi64(static_cast<__mmask8>(3u << (2 * lane)),
                                                _mm512_aesenclast_epi128(last, k[R]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ks), _mm512_maskz_extracti32x4_epi32(0xf, y, 0));
  store_be64(ctr + 8, lo);
  return static_cast<size_t>(lo - lo0);
}

}  // namespace

void Vaes512Ecb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                bool encrypt) noexcept {
  ByRoundsAndWay(key, encrypt, [&](auto r, auto m) {
    Ecb<decltype(m)::value, decltype(r)::value>(in, out, blocks, key);
  });
}

void Vaes512CbcDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                       uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) {
    ChainedDecrypt<Chained::kCbc, decltype(r)::value>(in, out, blocks, key, iv);
  });
}

void Vaes512CfbDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                       uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) {
    ChainedDecrypt<Chained::kCfb, decltype(r)::value>(in, out, blocks, key, iv);
  });
}

void Vaes512Ctr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
                uint8_t* ks) noexcept {
  size_t done = 0;
  ByRounds(key, [&](auto r) { done = Ctr<decltype(r)::value>(in, out, blocks, key, ctr, ks); });
  if (done != blocks) NiCtr(in + 16 * done, out + 16 * done, blocks - done, key, ctr, ks);
}

}  // namespace morvane::aes
