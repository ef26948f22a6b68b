// AES with the AES-NI instructions: the block functions, the key expansion
// for every key size, the decryption schedule, and the whole-block runs
// of the modes (ECB included).  Built with -maes -mssse3 -msse4.1; called only when CPUID
// reports those (aes_core.cc, aes_modes.cc).
//
// Implementation notes: an AES_KEY word holds its first schedule byte in the
// most significant position, so each round key is loaded with a byte shuffle
// within its four words, and stored back the same way.  The serial modes (CBC
// and CFB encryption, OFB) are bound by the latency of their chain of rounds;
// they keep it to the rounds alone by folding the next block's data and first
// round key into the last round key: AESENCLAST(x, k ^ m) = AESENCLAST(x, k) ^ m.
// ECB, CBC and CFB decryption and CTR run eight independent blocks at a time.

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/aes_hw_shared.h"
#include "internal/wipe.h"

namespace morvane::aes {
namespace {

constexpr int kWide = 8;  // blocks in flight in the parallel modes

inline __m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void Store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}
inline __m128i Xor(__m128i a, __m128i b) {
  return _mm_xor_si128(a, b);
}

inline __m128i Mask(const uint8_t* m) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

inline __m128i RoundKey(const AES_KEY* key, int i) {
  return _mm_shuffle_epi8(Load(key->rd_key + 4 * i), Mask(kWordSwap));
}
inline void StoreRoundKey(AES_KEY* key, int i, __m128i k) {
  Store(key->rd_key + 4 * i, _mm_shuffle_epi8(k, Mask(kWordSwap)));
}

template <int R>
struct Schedule {
  __m128i k[R + 1];
  explicit Schedule(const AES_KEY* key) {
#pragma GCC unroll 15
    for (int i = 0; i <= R; i++) k[i] = RoundKey(key, i);
  }
};

// Rounds 1 to R - 1 over N states side by side, of the cipher (kCfb) or of
// the inverse cipher (kCbc), and the last round.
template <Chained M, int R, int N>
inline void MiddleRounds(__m128i* x, const __m128i* k) {
#pragma GCC unroll 13
  for (int r = 1; r < R; r++) {
#pragma GCC unroll 8
    for (int j = 0; j < N; j++)
      x[j] = M == Chained::kCbc ? _mm_aesdec_si128(x[j], k[r]) : _mm_aesenc_si128(x[j], k[r]);
  }
}
template <Chained M>
inline __m128i LastRound(__m128i x, __m128i k) {
  return M == Chained::kCbc ? _mm_aesdeclast_si128(x, k) : _mm_aesenclast_si128(x, k);
}
template <int R>
inline __m128i EncRounds(__m128i x, const __m128i* k) {
  MiddleRounds<Chained::kCfb, R, 1>(&x, k);
  return x;
}
template <int R, int N>
inline void EncRoundsN(__m128i* x, const __m128i* k) {
  MiddleRounds<Chained::kCfb, R, N>(x, k);
}

template <int R>
void Encrypt1(const uint8_t* in, uint8_t* out, const AES_KEY* key) {
  __m128i x = Xor(Load(in), RoundKey(key, 0));
#pragma GCC unroll 13
  for (int r = 1; r < R; r++) x = _mm_aesenc_si128(x, RoundKey(key, r));
  Store(out, _mm_aesenclast_si128(x, RoundKey(key, R)));
}

template <int R>
void Decrypt1(const uint8_t* in, uint8_t* out, const AES_KEY* key) {
  __m128i x = Xor(Load(in), RoundKey(key, 0));
#pragma GCC unroll 13
  for (int r = 1; r < R; r++) x = _mm_aesdec_si128(x, RoundKey(key, r));
  Store(out, _mm_aesdeclast_si128(x, RoundKey(key, R)));
}

// ---- Key expansion (FIPS-197, 5.2) ----

// Four new words from the previous four (`k`) and the word that AESKEYGENASSIST
// made in `t`, broadcast by `Sel`: w[i] = w[i-Nk] ^ temp, and each later word
// of the group also takes the ones before it, a prefix XOR.
template <int Sel>
inline __m128i ExpandStep(__m128i k, __m128i t) {
  t = _mm_shuffle_epi32(t, Sel);
  k = Xor(k, _mm_slli_si128(k, 4));
  k = Xor(k, _mm_slli_si128(k, 8));
  return Xor(k, t);
}

// Nk = 4: temp = SubWord(RotWord(w[i-1])) ^ Rcon, from dword 3 of the assist.
template <int Rcon>
inline __m128i Next128(__m128i k) {
  return ExpandStep<0xff>(k, _mm_aeskeygenassist_si128(k, Rcon));
}

void Expand128(const uint8_t* user_key, AES_KEY* key) {
  __m128i k = Load(user_key);
  StoreRoundKey(key, 0, k);
  k = Next128<0x01>(k), StoreRoundKey(key, 1, k);
  k = Next128<0x02>(k), StoreRoundKey(key, 2, k);
  k = Next128<0x04>(k), StoreRoundKey(key, 3, k);
  k = Next128<0x08>(k), StoreRoundKey(key, 4, k);
  k = Next128<0x10>(k), StoreRoundKey(key, 5, k);
  k = Next128<0x20>(k), StoreRoundKey(key, 6, k);
  k = Next128<0x40>(k), StoreRoundKey(key, 7, k);
  k = Next128<0x80>(k), StoreRoundKey(key, 8, k);
  k = Next128<0x1b>(k), StoreRoundKey(key, 9, k);
  k = Next128<0x36>(k), StoreRoundKey(key, 10, k);
  key->rounds = 10;
}

// Nk = 6: the words in memory byte order, six at a time; temp =
// SubWord(RotWord(w[i-1])) ^ Rcon from dword 1 of the assist (Rcon 0 there,
// XORed into the word's first byte here, so one instruction serves every
// round).  No table is indexed by the key.
void Expand192(const uint8_t* user_key, AES_KEY* key) {
  constexpr uint8_t kRcon[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
  alignas(16) uint32_t w[52];
  memcpy(w, user_key, 24);
  for (int i = 6, r = 0; i < 52; i += 6, r++) {
    const __m128i last = _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(w[i - 1])), 4);
    const __m128i t = _mm_aeskeygenassist_si128(last, 0);
    uint32_t temp = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(t, 4))) ^ kRcon[r];
    for (int j = 0; j < 6 && i + j < 52; j++) temp = w[i + j] = w[i + j - 6] ^ temp;
  }
  for (int i = 0; i <= 12; i++) StoreRoundKey(key, i, Load(w + 4 * i));
  key->rounds = 12;
  internal::wipe(w, sizeof w);
}

// Nk = 8: a group starting at i % 8 == 0 takes SubWord(RotWord(w[i-1])) ^ Rcon
// (dword 3 of the assist on the odd half); one at i % 8 == 4 takes
// SubWord(w[i-1]) alone (dword 2 of the assist on the even half).
template <int Rcon>
inline void Next256(__m128i& even, __m128i& odd, AES_KEY* key, int i) {
  even = ExpandStep<0xff>(even, _mm_aeskeygenassist_si128(odd, Rcon));
  StoreRoundKey(key, i, even);
  if (i < 14) {
    odd = ExpandStep<0xaa>(odd, _mm_aeskeygenassist_si128(even, 0));
    StoreRoundKey(key, i + 1, odd);
  }
}

void Expand256(const uint8_t* user_key, AES_KEY* key) {
  __m128i even = Load(user_key);
  __m128i odd = Load(user_key + 16);
  StoreRoundKey(key, 0, even);
  StoreRoundKey(key, 1, odd);
  Next256<0x01>(even, odd, key, 2);
  Next256<0x02>(even, odd, key, 4);
  Next256<0x04>(even, odd, key, 6);
  Next256<0x08>(even, odd, key, 8);
  Next256<0x10>(even, odd, key, 10);
  Next256<0x20>(even, odd, key, 12);
  Next256<0x40>(even, odd, key, 14);
  key->rounds = 14;
}

// ---- Modes ----

template <int R>
void CbcEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* iv) {
  const Schedule<R> s(key);
  const __m128i* k = s.k;
  const __m128i fold = Xor(k[R], k[0]);
  __m128i x = Xor(Xor(Load(iv), Load(in)), k[0]);
  __m128i c;
  for (;;) {
    x = EncRounds<R>(x, k);
    c = _mm_aesenclast_si128(x, k[R]);
    Store(out, c);
    if (--blocks == 0) break;
    in += 16;
    out += 16;
    x = _mm_aesenclast_si128(x, Xor(fold, Load(in)));  // C ^ P' ^ k0
  }
  Store(iv, c);
}

template <int R>
void CfbEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* iv) {
  const Schedule<R> s(key);
  const __m128i* k = s.k;
  const __m128i fold = Xor(k[R], k[0]);
  __m128i x = Xor(Load(iv), k[0]);
  __m128i c;
  for (;;) {
    x = EncRounds<R>(x, k);
    const __m128i p = Load(in);
    c = _mm_aesenclast_si128(x, Xor(k[R], p));
    Store(out, c);
    if (--blocks == 0) break;
    in += 16;
    out += 16;
    x = _mm_aesenclast_si128(x, Xor(fold, p));  // C ^ k0
  }
  Store(iv, c);
}

template <int R>
void Ofb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* iv) {
  const Schedule<R> s(key);
  const __m128i* k = s.k;
  const __m128i fold = Xor(k[R], k[0]);
  __m128i x = Xor(Load(iv), k[0]);
  for (;;) {
    x = EncRounds<R>(x, k);
    Store(out, _mm_aesenclast_si128(x, Xor(k[R], Load(in))));
    if (--blocks == 0) break;
    in += 16;
    out += 16;
    x = _mm_aesenclast_si128(x, fold);  // keystream ^ k0
  }
  Store(iv, _mm_aesenclast_si128(x, k[R]));
}

// N blocks of CBC or CFB decryption after the ciphertext block `prev`;
// returns the last ciphertext block.  Every ciphertext block is loaded before
// any output is written, so `in` may equal `out`.
template <Chained M, int R, int N>
inline __m128i ChainedGroup(const uint8_t* in, uint8_t* out, __m128i prev, const __m128i* k) {
  constexpr bool kCbc = M == Chained::kCbc;
  __m128i c[N], x[N];
  for (int j = 0; j < N; j++) c[j] = Load(in + 16 * j);
  for (int j = 0; j < N; j++) x[j] = Xor(kCbc ? c[j] : j == 0 ? prev : c[j - 1], k[0]);
  MiddleRounds<M, R, N>(x, k);
  for (int j = 0; j < N; j++) {
    const __m128i after = kCbc ? j == 0 ? prev : c[j - 1] : c[j];
    Store(out + 16 * j, LastRound<M>(x[j], Xor(k[R], after)));
  }
  return c[N - 1];
}

template <Chained M, int R>
void ChainedDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                    uint8_t* iv) {
  const Schedule<R> s(key);
  __m128i prev = Load(iv);
  for (; blocks >= kWide; blocks -= kWide, in += 16 * kWide, out += 16 * kWide)
    prev = ChainedGroup<M, R, kWide>(in, out, prev, s.k);
  for (; blocks != 0; blocks--, in += 16, out += 16)
    prev = ChainedGroup<M, R, 1>(in, out, prev, s.k);
  Store(iv, prev);
}

// ECB: the cipher (kCfb) or the inverse cipher (kCbc) on each block, eight
// at a time while there are eight.  Fewer than eight go one by one through
// the one-block code, which reads each round key as it goes: a call of one
// block then costs what AES_ecb_encrypt does (the schedule kept beside eight
// states would not fit the registers and go through the stack).
template <Chained M, int R>
void Ecb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key) {
  if (blocks < kWide) {
    for (; blocks != 0; blocks--, in += 16, out += 16) {
      if (M == Chained::kCbc)
        Decrypt1<R>(in, out, key);
      else
        Encrypt1<R>(in, out, key);
    }
    return;
  }
  const Schedule<R> s(key);
  const __m128i* k = s.k;
  for (; blocks >= kWide; blocks -= kWide, in += 16 * kWide, out += 16 * kWide) {
    __m128i x[kWide];
    for (int j = 0; j < kWide; j++) x[j] = Xor(Load(in + 16 * j), k[0]);
    MiddleRounds<M, R, kWide>(x, k);
    for (int j = 0; j < kWide; j++) Store(out + 16 * j, LastRound<M>(x[j], k[R]));
  }
  for (; blocks != 0; blocks--, in += 16, out += 16) {
    __m128i x = Xor(Load(in), k[0]);
    MiddleRounds<M, R, 1>(&x, k);
    Store(out, LastRound<M>(x, k[R]));
  }
}

// CTR.  While the counter's last byte cannot carry within a group, the
// group's counter blocks are the first one plus 0 to 7 in that byte (byte
// adds on the big-endian block); otherwise each block's counter is made from
// the two 64-bit halves, with the carry.
template <int R>
void Ctr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
         uint8_t* ks) {
  const Schedule<R> s(key);
  const __m128i* k = s.k;
  uint64_t hi = load_be64(ctr);
  uint64_t lo = load_be64(ctr + 8);
  __m128i last = _mm_setzero_si128();  // the last block before its last round
  for (; blocks >= kWide && (lo & 0xff) <= 0xff - (kWide - 1); blocks -= kWide, lo += kWide) {
    const __m128i first = _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                         static_cast<long long>(__builtin_bswap64(hi)));
    __m128i x[kWide];
    for (int j = 0; j < kWide; j++)
      x[j] = Xor(_mm_add_epi8(first, _mm_set_epi64x(static_cast<long long>(j) << 56, 0)), k[0]);
    if (lo > UINT64_MAX - kWide) hi++;  // lo + 8 wraps
    EncRoundsN<R, kWide>(x, k);
    for (int j = 0; j < kWide; j++)
      Store(out + 16 * j, _mm_aesenclast_si128(x[j], Xor(k[R], Load(in + 16 * j))));
    last = x[kWide - 1];
    in += 16 * kWide;
    out += 16 * kWide;
  }
  // The rest one block at a time: a carry, or fewer than eight blocks.
  for (; blocks != 0; blocks--, in += 16, out += 16) {
    const __m128i c = _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                     static_cast<long long>(__builtin_bswap64(hi)));
    last = EncRounds<R>(Xor(c, k[0]), k);
    if (++lo == 0) hi++;
    Store(out, _mm_aesenclast_si128(last, Xor(k[R], Load(in))));
  }
  store_be64(ctr, hi);
  store_be64(ctr + 8, lo);
  Store(ks, _mm_aesenclast_si128(last, k[R]));
}

}  // namespace

void NiEncryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept {
  ByRounds(key, [&](auto r) { Encrypt1<decltype(r)::value>(in, out, key); });
}

void NiDecryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept {
  ByRounds(key, [&](auto r) { Decrypt1<decltype(r)::value>(in, out, key); });
}

void NiExpandKey(const uint8_t* user_key, int bits, AES_KEY* key) noexcept {
  if (bits == 128)
    Expand128(user_key, key);
  else if (bits == 192)
    Expand192(user_key, key);
  else
    Expand256(user_key, key);
}

// FIPS-197, 5.3.5: the round keys in reverse order, InvMixColumns applied to
// all but the first and the last.
void NiInvertSchedule(AES_KEY* key) noexcept {
  for (int i = 0, j = key->rounds; i <= j; i++, j--) {
    __m128i a = RoundKey(key, i);
    __m128i b = RoundKey(key, j);
    if (i != 0) {
      a = _mm_aesimc_si128(a);
      b = _mm_aesimc_si128(b);
    }
    StoreRoundKey(key, i, b);
    StoreRoundKey(key, j, a);
  }
}

void NiCbcEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) { CbcEncrypt<decltype(r)::value>(in, out, blocks, key, iv); });
}

void NiCbcDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) {
    ChainedDecrypt<Chained::kCbc, decltype(r)::value>(in, out, blocks, key, iv);
  });
}

void NiCfbEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) { CfbEncrypt<decltype(r)::value>(in, out, blocks, key, iv); });
}

void NiCfbDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) {
    ChainedDecrypt<Chained::kCfb, decltype(r)::value>(in, out, blocks, key, iv);
  });
}

void NiOfb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
           uint8_t* iv) noexcept {
  ByRounds(key, [&](auto r) { Ofb<decltype(r)::value>(in, out, blocks, key, iv); });
}

void NiEcb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
           bool encrypt) noexcept {
  ByRoundsAndWay(key, encrypt, [&](auto r, auto m) {
    Ecb<decltype(m)::value, decltype(r)::value>(in, out, blocks, key);
  });
}

void NiCtr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
           uint8_t* ks) noexcept {
  ByRounds(key, [&](auto r) { Ctr<decltype(r)::value>(in, out, blocks, key, ctr, ks); });
}

}  // namespace morvane::aes
