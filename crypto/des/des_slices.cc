// DES and EDE triple DES in bit-slice form on AVX-512, for long runs of the
// modes whose blocks are independent (ECB both ways, CBC and CFB
// decryption).
//
// Implementation notes: a batch of 64 L blocks (L the 64-bit lanes of a
// vector: 8 or 4) is loaded as 64 vectors, row i holding blocks iL to
// iL+L-1, and transposed within each lane as a 64 x 64 bit matrix: vector j
// then holds bit j of every block (bit j % 8 of byte j / 8), the slices.  IP,
// E, P and the exchange of the halves are only a choice of which slice to
// read; each S-box is a circuit of VPTERNLOG gates (des_slices.inc, written
// by tools/gen_des_slices.py from the FIPS 46-3 tables), and a round-key bit
// is XORed in as a broadcast mask of all zeros or all ones.  Everything is
// in logic, so no data-dependent address or branch.  The transpose back
// gives the blocks in the rows they came from.  Long runs take 512-block
// batches; a remainder of at most 256 blocks takes a 256-bit batch, which
// measured as fast as a 128-bit one of 128 blocks (a 512-bit batch takes
// about 20 % longer than a 256-bit one, for twice the blocks).  The
// round keys are expanded once a call into 48 masks a round (9 KiB for
// triple DES on the stack), wiped with the slices at the end.

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/des.h>

#include "des/internal.h"
#include "internal/modes.h"

namespace morvane::des {

namespace {

using internal::Bulk;

#include "des/des_slices.inc"

// Gates and loads on one vector width, for the generated rounds.  (The
// 512-bit shifts take their zero-masked forms: the plain ones start from an
// undefined vector that GCC 12 warns about.)
struct Zmm {
  using V = __m512i;
  static constexpr int kLanes = 8;
  using Mask = __mmask8;
  template <int kImm>
  [[gnu::always_inline]] static V tern(V a, V b, V c) {
    return _mm512_ternarylogic_epi64(a, b, c, kImm);
  }
  [[gnu::always_inline]] static V key(V v, uint32_t k) {
    return _mm512_xor_si512(v, _mm512_set1_epi32(static_cast<int>(k)));
  }
  [[gnu::always_inline]] static V zero() { return _mm512_setzero_si512(); }
  [[gnu::always_inline]] static V set1(uint64_t x) {
    return _mm512_set1_epi64(static_cast<long long>(x));
  }
  template <int kShift>
  [[gnu::always_inline]] static V srl(V a) {
    return _mm512_maskz_srli_epi64(0xff, a, kShift);
  }
  template <int kShift>
  [[gnu::always_inline]] static V sll(V a) {
    return _mm512_maskz_slli_epi64(0xff, a, kShift);
  }
  [[gnu::always_inline]] static V bxor(V a, V b) { return _mm512_xor_si512(a, b); }
  [[gnu::always_inline]] static V load(Mask m, V fill, const uint8_t* p) {
    return _mm512_mask_loadu_epi64(fill, m, p);
  }
  [[gnu::always_inline]] static void store(Mask m, uint8_t* p, V v) {
    _mm512_mask_storeu_epi64(p, m, v);
  }
};

struct Ymm {
  using V = __m256i;
  static constexpr int kLanes = 4;
  using Mask = __mmask8;
  template <int kImm>
  [[gnu::always_inline]] static V tern(V a, V b, V c) {
    return _mm256_ternarylogic_epi64(a, b, c, kImm);
  }
  [[gnu::always_inline]] static V key(V v, uint32_t k) {
    return _mm256_xor_si256(v, _mm256_set1_epi32(static_cast<int>(k)));
  }
  [[gnu::always_inline]] static V zero() { return _mm256_setzero_si256(); }
  [[gnu::always_inline]] static V set1(uint64_t x) {
    return _mm256_set1_epi64x(static_cast<long long>(x));
  }
  template <int kShift>
  [[gnu::always_inline]] static V srl(V a) {
    return _mm256_srli_epi64(a, kShift);
  }
  template <int kShift>
  [[gnu::always_inline]] static V sll(V a) {
    return _mm256_slli_epi64(a, kShift);
  }
  [[gnu::always_inline]] static V bxor(V a, V b) { return _mm256_xor_si256(a, b); }
  [[gnu::always_inline]] static V load(Mask m, V fill, const uint8_t* p) {
    return _mm256_mask_loadu_epi64(fill, m, p);
  }
  [[gnu::always_inline]] static void store(Mask m, uint8_t* p, V v) {
    _mm256_mask_storeu_epi64(p, m, v);
  }
};

constexpr int kKeyWords = 48;  // masks a round
constexpr int kMaxRounds = 48;

// One step of the transpose: exchanges bits j + S of row i with bits j of
// row i + S (for j and i with bit S clear), in every lane.
template <class O, int kS>
[[gnu::always_inline]] inline void transpose_step(typename O::V* m, uint64_t mask) {
  const typename O::V k = O::set1(mask);
  for (int i = 0; i < 64; i++) {
    if ((i & kS) != 0) continue;
    const typename O::V a = m[i], b = m[i + kS];
    const typename O::V t = O::template tern<0x28>(O::template srl<kS>(a), b, k);  // (x ^ y) & z
    m[i + kS] = O::bxor(b, t);
    m[i] = O::bxor(a, O::template sll<kS>(t));
  }
}

// Transposes each lane's 64 x 64 bit matrix (row i in vector i); its own
// inverse.
template <class O>
[[gnu::noinline]] void transpose(typename O::V* m) {
  transpose_step<O, 32>(m, 0x00000000ffffffffu);
  transpose_step<O, 16>(m, 0x0000ffff0000ffffu);
  transpose_step<O, 8>(m, 0x00ff00ff00ff00ffu);
  transpose_step<O, 4>(m, 0x0f0f0f0f0f0f0f0fu);
  transpose_step<O, 2>(m, 0x3333333333333333u);
  transpose_step<O, 1>(m, 0x5555555555555555u);
}

// The passes of 16 rounds on the slices.  Each pass leaves its halves
// exchanged, so the next starts on the other; an odd number of passes ends
// with R16 in L's slices, as kFinalSlice reads them.
template <class O>
[[gnu::noinline]] void rounds(typename O::V* s, const uint32_t* k, int passes) {
  for (int p = 0; p < passes; p++) {
#pragma GCC unroll 1
    for (int i = 0; i < 8; i++, k += 2 * kKeyWords) {
      if (p % 2 == 0) {
        round_ab<O>(s, k);
        round_ba<O>(s, k + kKeyWords);
      } else {
        round_ba<O>(s, k);
        round_ab<O>(s, k + kKeyWords);
      }
    }
  }
}

// The lanes of row i that hold blocks below n.
template <class O>
inline typename O::Mask row_mask(size_t n, int i) {
  const size_t first = static_cast<size_t>(i) * O::kLanes;
  if (first >= n) return 0;
  const size_t valid = n - first;
  return valid >= static_cast<size_t>(O::kLanes)
             ? static_cast<typename O::Mask>((1u << O::kLanes) - 1)
             : static_cast<typename O::Mask>((1u << valid) - 1);
}

// n blocks (1 to 64 L) of op from `in` to `out`; `chain` is the ciphertext
// block before the first (CBC, CFB).  `s` and `t` are scratch.
template <class O, Bulk kOp>
[[gnu::noinline]] void batch(const uint8_t* in, uint8_t* out, size_t n, const uint32_t* keys,
                             int passes, uint64_t chain, typename O::V* s, typename O::V* t) {
  using V = typename O::V;
  constexpr size_t kRow = 8 * O::kLanes;  // bytes
  const V fill = O::set1(chain);
  for (int i = 0; i < 64; i++) {
    const typename O::Mask m = row_mask<O>(n, i);
    if (m == 0) {
      s[i] = O::zero();
    } else if constexpr (kOp == Bulk::kCfbDecrypt) {
      // The block function takes the ciphertext before: the chain for block 0.
      s[i] = O::load(i == 0 ? static_cast<typename O::Mask>(m & ~1u) : m, fill, in + i * kRow - 8);
    } else {
      s[i] = O::load(m, fill, in + i * kRow);
    }
  }
  transpose<O>(s);
  rounds<O>(s, keys, passes);
  for (int j = 0; j < 64; j++) t[j] = s[kFinalSlice[j]];
  transpose<O>(t);
  // Downwards, so that in place each row's input is read before the row
  // below overwrites it (CBC reads the block before each row's first).
  for (int i = 63; i >= 0; i--) {
    const typename O::Mask m = row_mask<O>(n, i);
    if (m == 0) continue;
    V x = t[i];
    if constexpr (kOp == Bulk::kCbcDecrypt) {
      x = O::bxor(x, O::load(i == 0 ? static_cast<typename O::Mask>(m & ~1u) : m, fill,
                            in + i * kRow - 8));
    } else if constexpr (kOp == Bulk::kCfbDecrypt) {
      x = O::bxor(x, O::load(m, fill, in + i * kRow));
    }
    O::store(m, out + i * kRow, x);
  }
}

// The round keys of the passes, 48 masks a round in the order the rounds
// take them: subkey bit j (1 to 48) of a schedule entry sits at bit
// 2 + 8 (s / 2) + q of word 0 for S-box s = 0, 2, 4, 6 and at
// (6 + 8 (s / 2) + q) % 32 of word 1 for s = 1, 3, 5, 7 (q = (j - 1) % 6).
void expand_keys(const SlicePass* passes, int n, uint32_t* out) {
  alignas(64) uint64_t pos[kKeyWords];
  for (int j = 0; j < kKeyWords; j++) {
    const int s = j / 6, q = j % 6;
    pos[j] = s % 2 == 0 ? 2 + 8 * (s / 2) + q : 32 + (6 + 8 * (s / 2) + q) % 32;
  }
  const __m512i one = _mm512_set1_epi64(1);
  for (int p = 0; p < n; p++) {
    for (int r = 0; r < 16; r++, out += kKeyWords) {
      const DES_LONG* k = passes[p].ks->ks[passes[p].encrypt ? r : 15 - r].deslong;
      const __m512i w = _mm512_set1_epi64(static_cast<long long>(uint64_t{k[0]} | uint64_t{k[1]} << 32));
      for (int c = 0; c < kKeyWords / 8; c++) {
        const __m512i bit = _mm512_and_si512(
            _mm512_maskz_srlv_epi64(0xff, w, _mm512_load_si512(pos + 8 * c)), one);
        const __m512i mask = _mm512_sub_epi64(_mm512_setzero_si512(), bit);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * c), _mm512_maskz_cvtepi64_epi32(0xff, mask));
      }
    }
  }
}

// Clears scratch with stores the compiler keeps.
inline void clear(void* p, size_t n) {
  memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

template <Bulk kOp>
size_t run(const uint8_t* in, uint8_t* out, size_t blocks, const SlicePass* passes, int npasses,
           uint8_t* iv) {
  alignas(64) uint32_t keys[kMaxRounds * kKeyWords];
  alignas(64) __m512i s[64], t[64];
  const size_t key_bytes = sizeof(uint32_t) * kKeyWords * 16 * static_cast<size_t>(npasses);
  expand_keys(passes, npasses, keys);
  uint64_t chain = 0;
  if (iv != nullptr) memcpy(&chain, iv, 8);
  size_t done = 0;
  while (done < blocks) {
    const size_t n = blocks - done;
    const uint8_t* src = in + 8 * done;
    uint8_t* dst = out + 8 * done;
    uint64_t next = 0;
    size_t take;
    if (n > 256) {
      take = n < 512 ? n : 512;
    } else if (n >= kSliceMinBlocks) {
      take = n;
    } else {
      break;  // a short remainder is cheaper on the lanes
    }
    if (iv != nullptr) memcpy(&next, src + 8 * (take - 1), 8);  // before an in-place store
    if (take > 256) {
      batch<Zmm, kOp>(src, dst, take, keys, npasses, chain, s, t);
    } else {
      batch<Ymm, kOp>(src, dst, take, keys, npasses, chain, reinterpret_cast<__m256i*>(s),
                      reinterpret_cast<__m256i*>(t));
    }
    chain = next;
    done += take;
  }
  if (iv != nullptr) memcpy(iv, &chain, 8);
  clear(keys, key_bytes);
  clear(s, sizeof s);
  clear(t, sizeof t);
  return done;
}

}  // namespace

size_t slices_bulk(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks,
                   const SlicePass* passes, int npasses, uint8_t* iv) {
  switch (op) {
    case Bulk::kEcbEncrypt:
    case Bulk::kEcbDecrypt:
      return run<Bulk::kEcbEncrypt>(in, out, blocks, passes, npasses, nullptr);
    case Bulk::kCbcDecrypt:
      return run<Bulk::kCbcDecrypt>(in, out, blocks, passes, npasses, iv);
    case Bulk::kCfbDecrypt:
      return run<Bulk::kCfbDecrypt>(in, out, blocks, passes, npasses, iv);
    default:
      return 0;
  }
}

}  // namespace morvane::des
