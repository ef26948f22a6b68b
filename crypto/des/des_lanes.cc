// DES and EDE triple DES in the modes whose blocks are independent (ECB both
// ways, CBC and CFB decryption): several blocks through the rounds at once.
//
// Implementation notes: a round of one block is a chain of eight table
// loads, each waiting on the shift and mask before it, and the next round
// waits on the whole chain; the processor has the units for far more.  Here
// kLanes blocks go through each round together (the same round key for all),
// so their chains overlap.  Four lanes measured 15 % faster than three and
// as fast as six; a BMI1 form (BEXTR for each field) and one in assembly
// with byte registers made fewer instructions but measured no faster, so
// this portable form is the only one.  The tables are DES_SPtrans as the
// single-block code reads them.
// A remainder of fewer than kLanes blocks takes the single-block code of
// internal/modes.h, so `iv` ends as the block-by-block code leaves it.
// On a processor with AVX-512, runs of kSliceMinBlocks blocks and more go
// through the bit-sliced kernel (des_slices.cc) first, and only a short
// remainder comes here.

#include <stddef.h>
#include <stdint.h>

#include <bit>

#include <morvane/des.h>

#include "des/internal.h"
#include "internal/byteorder.h"
#include "internal/cpu.h"
#include "internal/modes.h"

namespace morvane::des {

namespace {

using internal::Bulk;

constexpr int kLanes = 4;

// One round on every lane: l ^= f(r, k), the table entries those of
// sp_xor().  Portable: the six-bit fields are the bytes of (r ^ k[0]) and of
// (r ^ k[1]) rotated right by 4, each masked to a multiple of four (a byte
// offset); the barrier keeps the compiler from folding that mask into each
// byte, where a byte move does.
[[gnu::always_inline]] inline void round_c(uint32_t& l, uint32_t r, const DES_LONG* k) {
  uint32_t u = (r ^ k[0]) & 0xfcfcfcfcu;
  uint32_t v = std::rotr(r ^ k[1], 4) & 0xfcfcfcfcu;
  __asm__("" : "+r"(u), "+r"(v));
  auto sp = [](int box, uint32_t x, int byte) {
    return sp_at(box, static_cast<uint8_t>(x >> (8 * byte)));
  };
  l ^= sp(0, u, 0) ^ sp(2, u, 1) ^ sp(4, u, 2) ^ sp(6, u, 3) ^ sp(1, v, 0) ^ sp(3, v, 1) ^
       sp(5, v, 2) ^ sp(7, v, 3);
}

[[gnu::always_inline]] inline void round_lanes(uint32_t (&l)[kLanes], const uint32_t (&r)[kLanes],
                                               const DES_LONG* k) {
  for (int j = 0; j < kLanes; j++) round_c(l[j], r[j], k);
}

// The 16 rounds on the rotated halves of every lane, as rounds() on one.  A
// loop of two rounds a turn, not unrolled: the 48 rounds of triple DES
// written out on four lanes overflow the processor's decoded-instruction
// cache, and decoding then bounds the speed.
template <bool kEncrypt>
[[gnu::noinline]] void rounds_lanes(uint32_t* pa, uint32_t* pb, const DES_key_schedule* ks) {
  uint32_t a[kLanes], b[kLanes];
  for (int j = 0; j < kLanes; j++) {
    a[j] = pa[j];
    b[j] = pb[j];
  }
  const DES_LONG* k = ks->ks[kEncrypt ? 0 : 15].deslong;
  constexpr ptrdiff_t step = kEncrypt ? 2 : -2;  // DES_LONGs from one round key to the next
#pragma GCC unroll 1
  for (int i = 0; i < 8; i++, k += 2 * step) {
    round_lanes(a, b, k);
    round_lanes(b, a, k + step);
  }
  for (int j = 0; j < kLanes; j++) {
    pa[j] = a[j];
    pb[j] = b[j];
  }
}

// The block function of each cipher on lanes in the rounds' frame (l and r
// as Halves holds them); the halves end exchanged, as core1/core3 leave them.
struct DesLanes {
  using Key = DES_key_schedule;
  using Cipher = Des;
  template <bool kEncrypt>
  static void core(uint32_t* l, uint32_t* r, const Key* ks) {
    rounds_lanes<kEncrypt>(l, r, ks);
  }
  static int passes(bool encrypt, const Key* ks, SlicePass* p) {
    p[0] = {ks, encrypt};
    return 1;
  }
};

struct Ede3Lanes {
  using Key = Ede3Keys;
  using Cipher = DesEde3;
  template <bool kEncrypt>
  static void core(uint32_t* l, uint32_t* r, const Key* k) {
    if constexpr (kEncrypt) {
      rounds_lanes<true>(l, r, k->ks1);
      rounds_lanes<false>(r, l, k->ks2);
      rounds_lanes<true>(l, r, k->ks3);
    } else {
      rounds_lanes<false>(l, r, k->ks3);
      rounds_lanes<true>(r, l, k->ks2);
      rounds_lanes<false>(l, r, k->ks1);
    }
  }
  static int passes(bool encrypt, const Key* k, SlicePass* p) {
    if (encrypt) {
      p[0] = {k->ks1, true};
      p[1] = {k->ks2, false};
      p[2] = {k->ks3, true};
    } else {
      p[0] = {k->ks3, false};
      p[1] = {k->ks2, true};
      p[2] = {k->ks1, false};
    }
    return 3;
  }
};

// x[j] = the block function of x[j] for every lane.
template <class L, bool kEncrypt>
[[gnu::always_inline]] inline void crypt_lanes(Block (&x)[kLanes], const typename L::Key* key) {
  uint32_t l[kLanes], r[kLanes];
  for (int j = 0; j < kLanes; j++) {
    const Halves h = enter(x[j]);
    l[j] = h.l;
    r[j] = h.r;
  }
  L::template core<kEncrypt>(l, r, key);
  for (int j = 0; j < kLanes; j++) x[j] = leave({l[j], r[j]});
  internal::wipe(l);
  internal::wipe(r);
}

// Whole blocks of op, kLanes at a time, then the rest block by block.
template <class L, Bulk kOp>
void run(const uint8_t* in, uint8_t* out, size_t blocks, const typename L::Key* key, uint8_t* iv) {
  using C = typename L::Cipher;
  constexpr bool kForward = kOp == Bulk::kEcbEncrypt || kOp == Bulk::kCfbDecrypt;
  Block chain = Block::load(iv != nullptr ? iv : in);  // ECB: unused
  Block x[kLanes];
  for (; blocks >= kLanes; blocks -= kLanes, in += 8 * kLanes, out += 8 * kLanes) {
    Block c[kLanes];
    for (int j = 0; j < kLanes; j++) c[j] = Block::load(in + 8 * j);
    for (int j = 0; j < kLanes; j++) {
      if constexpr (kOp == Bulk::kCfbDecrypt) {
        x[j] = j == 0 ? chain : c[j - 1];  // each register is the ciphertext before
      } else {
        x[j] = c[j];
      }
    }
    crypt_lanes<L, kForward>(x, key);
    for (int j = 0; j < kLanes; j++) {
      if constexpr (kOp == Bulk::kCbcDecrypt) {
        (x[j] ^ (j == 0 ? chain : c[j - 1])).store(out + 8 * j);
      } else if constexpr (kOp == Bulk::kCfbDecrypt) {
        (x[j] ^ c[j]).store(out + 8 * j);  // keystream XOR input
      } else {
        x[j].store(out + 8 * j);
      }
    }
    chain = c[kLanes - 1];
  }
  if constexpr (kOp == Bulk::kCbcDecrypt || kOp == Bulk::kCfbDecrypt) chain.store(iv);
  if (blocks != 0) internal::block_loop<C, kOp>(in, out, blocks, key, iv, nullptr);
  for (Block& b : x) wipe(b);
  wipe(chain);
}

template <class L>
bool lanes_bulk(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks, const typename L::Key* key,
                uint8_t* iv) {
  if (blocks < static_cast<size_t>(kLanes)) return false;
  switch (op) {
    case Bulk::kEcbEncrypt:
      run<L, Bulk::kEcbEncrypt>(in, out, blocks, key, nullptr);
      return true;
    case Bulk::kEcbDecrypt:
      run<L, Bulk::kEcbDecrypt>(in, out, blocks, key, nullptr);
      return true;
    case Bulk::kCbcDecrypt:
      run<L, Bulk::kCbcDecrypt>(in, out, blocks, key, iv);
      return true;
    case Bulk::kCfbDecrypt:
      run<L, Bulk::kCfbDecrypt>(in, out, blocks, key, iv);
      return true;
    default:  // each block needs the one before (DES has no counter mode)
      return false;
  }
}

// Long runs on a processor with AVX-512: the bit-sliced kernel, then the
// lanes or the single-block code for a short remainder.  Out of line, so
// that the lanes' code stays as it is without AVX-512.
template <class L>
[[gnu::noinline]] bool slices_then_lanes(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks,
                                         const typename L::Key* key, uint8_t* iv) {
  using C = typename L::Cipher;
  SlicePass p[3];
  const bool forward = op == Bulk::kEcbEncrypt || op == Bulk::kCfbDecrypt;
  const int passes = L::passes(forward, key, p);
  const size_t done = slices_bulk(op, in, out, blocks, p, passes, iv);
  in += 8 * done;
  out += 8 * done;
  blocks -= done;
  if (blocks == 0 || lanes_bulk<L>(op, in, out, blocks, key, iv)) return true;
  switch (op) {
    case Bulk::kEcbEncrypt:
      internal::loop_blocks<C, Bulk::kEcbEncrypt>(in, out, blocks, key, nullptr, nullptr);
      break;
    case Bulk::kEcbDecrypt:
      internal::loop_blocks<C, Bulk::kEcbDecrypt>(in, out, blocks, key, nullptr, nullptr);
      break;
    case Bulk::kCbcDecrypt:
      internal::loop_blocks<C, Bulk::kCbcDecrypt>(in, out, blocks, key, iv, nullptr);
      break;
    default:
      internal::loop_blocks<C, Bulk::kCfbDecrypt>(in, out, blocks, key, iv, nullptr);
      break;
  }
  return true;
}

// Whether op runs on the bit-sliced kernel.
inline bool sliced(Bulk op, size_t blocks) {
  return blocks >= kSliceMinBlocks &&
         (op == Bulk::kEcbEncrypt || op == Bulk::kEcbDecrypt || op == Bulk::kCbcDecrypt ||
          op == Bulk::kCfbDecrypt) &&
         internal::Has(internal::kAvx512);
}

}  // namespace

bool Des::bulk(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks, const Key* key, uint8_t* iv,
               uint8_t*) {
  if (sliced(op, blocks)) return slices_then_lanes<DesLanes>(op, in, out, blocks, key, iv);
  return lanes_bulk<DesLanes>(op, in, out, blocks, key, iv);
}

bool DesEde3::bulk(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks, const Key* key,
                   uint8_t* iv, uint8_t*) {
  if (sliced(op, blocks)) return slices_then_lanes<Ede3Lanes>(op, in, out, blocks, key, iv);
  return lanes_bulk<Ede3Lanes>(op, in, out, blocks, key, iv);
}

void ecb_blocks(const uint8_t* in, uint8_t* out, size_t blocks, const DES_key_schedule* ks1,
                const DES_key_schedule* ks2, const DES_key_schedule* ks3, bool encrypt) {
  if (ks2 == nullptr) return internal::ecb_blocks<Des>(in, out, blocks, ks1, encrypt);
  const Ede3Keys k{ks1, ks2, ks3};
  internal::ecb_blocks<DesEde3>(in, out, blocks, &k, encrypt);
}

}  // namespace morvane::des
