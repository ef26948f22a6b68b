// DES internals shared by the block functions, the modes and crypt: byte
// order helpers, the initial and final permutations, and the 16 rounds.
//
// Implementation notes: between IP and FP each 32-bit half is kept rotated
// left by 3, so standard bit n of a half sits at bit (n+2) mod 32.  The six
// expansion bits feeding S-boxes 1, 3, 5, 7 are then bits 2-7, 10-15, 18-23,
// 26-31 of the half, and after a further rotation right by 4 those of S-boxes
// 2, 4, 6, 8; the expansion E of FIPS 46 costs one rotation.
#ifndef MORVANE_CRYPTO_DES_INTERNAL_H
#define MORVANE_CRYPTO_DES_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <bit>

#include <morvane/des.h>

#include "internal/byteorder.h"
#include "internal/modes.h"
#include "internal/wipe.h"

namespace morvane::des {

using internal::load_le32;
using internal::store_le32;

static_assert(sizeof(DES_LONG) == 4);
static_assert(sizeof(DES_cblock) == 8);
static_assert(sizeof(DES_key_schedule) == 128);

// A block in word form, the representation every block function takes.
struct Block {
  DES_LONG w[2];
  static Block load(const unsigned char* p) { return {{load_le32(p), load_le32(p + 4)}}; }
  // The first n (0 to 8) bytes of p, zero-extended to a block.
  static Block load_partial(const unsigned char* p, size_t n) {
    unsigned char b[8] = {};
    for (size_t i = 0; i < n; i++) b[i] = p[i];
    return load(b);
  }
  void store(unsigned char* p) const {
    store_le32(p, w[0]);
    store_le32(p + 4, w[1]);
  }
  void store_partial(unsigned char* p, size_t n) const {
    unsigned char b[8];
    store(b);
    for (size_t i = 0; i < n; i++) p[i] = b[i];
  }
  Block operator^(const Block& o) const { return {{w[0] ^ o.w[0], w[1] ^ o.w[1]}}; }
};

// Clears a work block with stores the compiler keeps.
inline void wipe(Block& b) {
  internal::wipe(b);
}

// One swap step: exchanges the bits of b selected by m with those of a
// selected by m << n.
inline void swap_step(uint32_t& a, uint32_t& b, int n, uint32_t m) {
  const uint32_t t = ((a >> n) ^ b) & m;
  b ^= t;
  a ^= t << n;
}

// FIPS 46 IP on the word form: w0 becomes R, w1 becomes L, standard bit n of
// each at bit n-1.
inline void initial_permutation(uint32_t& w0, uint32_t& w1) {
  swap_step(w1, w0, 4, 0x0f0f0f0fu);
  swap_step(w0, w1, 16, 0x0000ffffu);
  swap_step(w1, w0, 2, 0x33333333u);
  swap_step(w0, w1, 8, 0x00ff00ffu);
  swap_step(w1, w0, 1, 0x55555555u);
}

// FIPS 46 IP^-1, the inverse of the steps above.
inline void final_permutation(uint32_t& w0, uint32_t& w1) {
  swap_step(w1, w0, 1, 0x55555555u);
  swap_step(w0, w1, 8, 0x00ff00ffu);
  swap_step(w1, w0, 2, 0x33333333u);
  swap_step(w0, w1, 16, 0x0000ffffu);
  swap_step(w1, w0, 4, 0x0f0f0f0fu);
}

// L ^ f(R, K) of FIPS 46 in the rotated frame: u = R ^ K[0] carries the
// S-box 1, 3, 5, 7 inputs at bits 2-7, 10-15, 18-23, 26-31; v = R ^ K[1]
// those of S-boxes 2, 4, 6, 8 four bits higher (the last wrapping round to
// bits 0-1).  Each table index is taken already multiplied by four, as a byte
// offset, so that it costs one shift and one mask at most.  The entries are
// XORed into L one after the other: the eight loads cannot all issue in the
// same cycle, and a chain that starts on the first entry to arrive measured
// faster here than a balanced tree.
inline DES_LONG sp_at(int box, uint32_t byte_offset) {
  return *reinterpret_cast<const DES_LONG*>(
      reinterpret_cast<const unsigned char*>(DES_SPtrans[box]) + byte_offset);
}
inline uint32_t sp_xor(uint32_t l, uint32_t u, uint32_t v) {
  return l ^ sp_at(0, u & 0xfc) ^ sp_at(2, (u >> 8) & 0xfc) ^ sp_at(4, (u >> 16) & 0xfc) ^
         sp_at(6, (u >> 24) & 0xfc) ^ sp_at(1, (v >> 4) & 0xfc) ^ sp_at(3, (v >> 12) & 0xfc) ^
         sp_at(5, (v >> 20) & 0xfc) ^ sp_at(7, std::rotl(v, 4) & 0xfc);
}

inline void feistel(uint32_t& l, uint32_t r, const DES_LONG* k) {
  l = sp_xor(l, r ^ k[0], r ^ k[1]);
}

// The 16 rounds on rotated halves, written out; `a` is updated first.
// Encryption uses the round keys 1 to 16, decryption 16 to 1.
// Always inlined, so the halves stay in registers across the passes.
template <bool kEncrypt>
[[gnu::always_inline]] inline void rounds_c(uint32_t& a, uint32_t& b, const DES_key_schedule* ks) {
  auto k = [ks](int i) { return ks->ks[kEncrypt ? i : 15 - i].deslong; };
  feistel(a, b, k(0));
  feistel(b, a, k(1));
  feistel(a, b, k(2));
  feistel(b, a, k(3));
  feistel(a, b, k(4));
  feistel(b, a, k(5));
  feistel(a, b, k(6));
  feistel(b, a, k(7));
  feistel(a, b, k(8));
  feistel(b, a, k(9));
  feistel(a, b, k(10));
  feistel(b, a, k(11));
  feistel(a, b, k(12));
  feistel(b, a, k(13));
  feistel(a, b, k(14));
  feistel(b, a, k(15));
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same rounds in assembly on x86-64, where a block's speed is the
// latency of the rounds' chain (CBC encryption, CFB, OFB, single blocks).
// What the compiler cannot be asked for: each box's table in a register of
// its own, addressed as base plus index with no displacement (a load with a
// displacement takes a cycle longer on AMD's Zen 4), and the entries
// gathered on two chains, S-boxes 1, 3, 5, 7 into the half and 2, 4, 6, 8
// into a second register, joined at the end.  S-box 1, whose index takes one
// instruction less, is read at a displacement from S-box 3's base, so that
// seven bases, u, v, a temporary, the second chain, the halves and the
// schedule fit in the fourteen registers besides rsp and rbp (the frame
// pointer in some builds).  Measured 10-12 % faster than the compiled form
// on a Zen 4.
// Registers: eax and edx the halves, rcx the schedule, rsi the table and
// then the temporary, rbx rdi r8-r12 the bases of S-boxes 3, 2, 5, 4, 7, 6,
// 8, r13d u, r14d v, r15d the second chain.  The schedule and the table are
// read under the "memory" clobber: operands naming them would each want an
// address register, and none is left.
// clang-format off
#define MORVANE_DES_ROUND(A, B, K)      \
  "movl " K "(%%rcx), %%r13d\n\t"       \
  "xorl " B ", %%r13d\n\t"              \
  "movl " K "+4(%%rcx), %%r14d\n\t"     \
  "xorl " B ", %%r14d\n\t"              \
  "movl %%r13d, %%r15d\n\t"             \
  "andl $0xfc, %%r15d\n\t"              \
  "xorl -0x200(%%rbx,%%r15), " A "\n\t" \
  "movl %%r14d, %%r15d\n\t"             \
  "shrl $4, %%r15d\n\t"                 \
  "andl $0xfc, %%r15d\n\t"              \
  "movl (%%rdi,%%r15), %%r15d\n\t"      \
  "movl %%r13d, %%esi\n\t"              \
  "shrl $8, %%esi\n\t"                  \
  "andl $0xfc, %%esi\n\t"               \
  "xorl (%%rbx,%%rsi), " A "\n\t"       \
  "movl %%r14d, %%esi\n\t"              \
  "shrl $12, %%esi\n\t"                 \
  "andl $0xfc, %%esi\n\t"               \
  "xorl (%%r9,%%rsi), %%r15d\n\t"       \
  "movl %%r13d, %%esi\n\t"              \
  "shrl $16, %%esi\n\t"                 \
  "andl $0xfc, %%esi\n\t"               \
  "xorl (%%r8,%%rsi), " A "\n\t"        \
  "movl %%r14d, %%esi\n\t"              \
  "shrl $20, %%esi\n\t"                 \
  "andl $0xfc, %%esi\n\t"               \
  "xorl (%%r11,%%rsi), %%r15d\n\t"      \
  "shrl $24, %%r13d\n\t"                \
  "andl $0xfc, %%r13d\n\t"              \
  "xorl (%%r10,%%r13), " A "\n\t"       \
  "roll $4, %%r14d\n\t"                 \
  "andl $0xfc, %%r14d\n\t"              \
  "xorl (%%r12,%%r14), %%r15d\n\t"      \
  "xorl %%r15d, " A "\n\t"
// clang-format on
#define MORVANE_DES_PAIR(K0, K1) \
  MORVANE_DES_ROUND("%%eax", "%%edx", #K0) MORVANE_DES_ROUND("%%edx", "%%eax", #K1)
#define MORVANE_DES_RUN(ROUNDS)             \
  __asm__(                                  \
      "leaq 0x200(%%rsi), %%rbx\n\t"        \
      "leaq 0x100(%%rsi), %%rdi\n\t"        \
      "leaq 0x400(%%rsi), %%r8\n\t"         \
      "leaq 0x300(%%rsi), %%r9\n\t"         \
      "leaq 0x600(%%rsi), %%r10\n\t"        \
      "leaq 0x500(%%rsi), %%r11\n\t"        \
      "leaq 0x700(%%rsi), %%r12\n\t" ROUNDS \
      : "+a"(a), "+d"(b), "+S"(t)           \
      : "c"(ks)                             \
      : "rbx", "rdi", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory")

template <bool kEncrypt>
[[gnu::always_inline]] inline void rounds(uint32_t& a, uint32_t& b, const DES_key_schedule* ks) {
  const void* t = DES_SPtrans;
  if constexpr (kEncrypt) {
    MORVANE_DES_RUN(MORVANE_DES_PAIR(0, 8) MORVANE_DES_PAIR(16, 24) MORVANE_DES_PAIR(32, 40)
                        MORVANE_DES_PAIR(48, 56) MORVANE_DES_PAIR(64, 72) MORVANE_DES_PAIR(80, 88)
                            MORVANE_DES_PAIR(96, 104) MORVANE_DES_PAIR(112, 120));
  } else {
    MORVANE_DES_RUN(MORVANE_DES_PAIR(120, 112) MORVANE_DES_PAIR(104, 96) MORVANE_DES_PAIR(88, 80)
                        MORVANE_DES_PAIR(72, 64) MORVANE_DES_PAIR(56, 48) MORVANE_DES_PAIR(40, 32)
                            MORVANE_DES_PAIR(24, 16) MORVANE_DES_PAIR(8, 0));
  }
}
#undef MORVANE_DES_RUN
#undef MORVANE_DES_PAIR
#undef MORVANE_DES_ROUND
#else
template <bool kEncrypt>
[[gnu::always_inline]] inline void rounds(uint32_t& a, uint32_t& b, const DES_key_schedule* ks) {
  rounds_c<kEncrypt>(a, b, ks);
}
#endif

inline void rounds(uint32_t& a, uint32_t& b, const DES_key_schedule* ks, bool encrypt) {
  if (encrypt) {
    rounds<true>(a, b, ks);
  } else {
    rounds<false>(a, b, ks);
  }
}

// The frame the rounds work in: IP, then each half rotated left by 3 (l from
// the second word, r from the first).  Both steps are bit permutations, so
// the frame of a XOR of blocks is the XOR of their frames.
struct Halves {
  uint32_t l, r;
  Halves operator^(Halves o) const { return {l ^ o.l, r ^ o.r}; }
};

inline Halves enter(Block b) {
  uint32_t w0 = b.w[0], w1 = b.w[1];
  initial_permutation(w0, w1);
  return {std::rotl(w1, 3), std::rotl(w0, 3)};
}

// Leaves the frame after rounds, which leave the halves exchanged, as FIPS 46
// has them before IP^-1.  enter(leave(h)) is h with its halves exchanged.
inline Block leave(Halves h) {
  uint32_t w0 = std::rotr(h.l, 3), w1 = std::rotr(h.r, 3);
  final_permutation(w0, w1);
  return {{w0, w1}};
}

// The 16 rounds of DES, and the three passes of EDE triple DES (kEncrypt
// false gives the inverse, D(ks1) E(ks2) D(ks3) in reverse order), in the
// frame.  Each pass leaves the halves exchanged, so the next one starts on
// the other.
template <bool kEncrypt>
inline Halves core1(Halves h, const DES_key_schedule* ks) {
  rounds<kEncrypt>(h.l, h.r, ks);
  return h;
}

template <bool kEncrypt>
inline Halves core3(Halves h, const DES_key_schedule* ks1, const DES_key_schedule* ks2,
                    const DES_key_schedule* ks3) {
  if constexpr (kEncrypt) {
    rounds<true>(h.l, h.r, ks1);
    rounds<false>(h.r, h.l, ks2);
    rounds<true>(h.l, h.r, ks3);
  } else {
    rounds<false>(h.l, h.r, ks3);
    rounds<true>(h.r, h.l, ks2);
    rounds<false>(h.l, h.r, ks1);
  }
  return h;
}

// FIPS 46 DES and EDE triple DES with a single IP and FP, on a block by
// value (two words in one register across a call, never through memory).
template <bool kEncrypt>
inline Block des1(Block b, const DES_key_schedule* ks) {
  return leave(core1<kEncrypt>(enter(b), ks));
}

template <bool kEncrypt>
inline Block ede3(Block b, const DES_key_schedule* ks1, const DES_key_schedule* ks2,
                  const DES_key_schedule* ks3) {
  return leave(core3<kEncrypt>(enter(b), ks1, ks2, ks3));
}

// The same on a block in word form in memory, for the entry points.
inline void encrypt1(DES_LONG* data, const DES_key_schedule* ks, bool encrypt) {
  const Block b{{data[0], data[1]}};
  const Block o = encrypt ? des1<true>(b, ks) : des1<false>(b, ks);
  data[0] = o.w[0];
  data[1] = o.w[1];
}

inline void encrypt3(DES_LONG* data, const DES_key_schedule* ks1, const DES_key_schedule* ks2,
                     const DES_key_schedule* ks3, bool encrypt) {
  const Block b{{data[0], data[1]}};
  const Block o = encrypt ? ede3<true>(b, ks1, ks2, ks3) : ede3<false>(b, ks1, ks2, ks3);
  data[0] = o.w[0];
  data[1] = o.w[1];
}

// Single DES and EDE triple DES as descriptions for the modes layer
// (internal/modes.h).  Both let CBC encryption chain in the rounds' frame:
// IP of P XOR C is IP(P) XOR IP(C), and IP(C) is what the rounds left before
// FP, halves exchanged, so IP of the plaintext and FP of the ciphertext stay
// off the chain from block to block.
struct DesFrame {
  static constexpr size_t kBlockSize = 8;
  using Block = des::Block;
  using Frame = Halves;
  static Halves enter(Block b) { return des::enter(b); }
  static Block leave(Halves h) { return des::leave(h); }
  static Halves rechain(Halves x) { return {x.r, x.l}; }
};

struct Des : DesFrame {
  using Key = DES_key_schedule;
  static Block encrypt(Block b, const Key* ks) { return des1<true>(b, ks); }
  static Block decrypt(Block b, const Key* ks) { return des1<false>(b, ks); }
  static Halves encrypt_frame(Halves h, const Key* ks) { return core1<true>(h, ks); }
  // The parallel modes (ECB, CBC and CFB decryption) several blocks at
  // a time (des_lanes.cc); false for the chained ones.
  static bool bulk(internal::Bulk op, const uint8_t* in, uint8_t* out, size_t blocks,
                   const Key* key, uint8_t* iv, uint8_t* ks);
};

struct Ede3Keys {
  const DES_key_schedule* ks1;
  const DES_key_schedule* ks2;
  const DES_key_schedule* ks3;
};

struct DesEde3 : DesFrame {
  using Key = Ede3Keys;
  static Block encrypt(Block b, const Key* k) { return ede3<true>(b, k->ks1, k->ks2, k->ks3); }
  static Block decrypt(Block b, const Key* k) { return ede3<false>(b, k->ks1, k->ks2, k->ks3); }
  static Halves encrypt_frame(Halves h, const Key* k) {
    return core3<true>(h, k->ks1, k->ks2, k->ks3);
  }
  static bool bulk(internal::Bulk op, const uint8_t* in, uint8_t* out, size_t blocks,
                   const Key* key, uint8_t* iv, uint8_t* ks);
};

// One pass of 16 rounds for the bit-sliced kernel: a schedule and its
// direction.
struct SlicePass {
  const DES_key_schedule* ks;
  bool encrypt;
};

// The fewest blocks worth a bit-sliced batch: a batch costs the same for
// any number of blocks up to its width (256 at the narrowest), about what 34
// blocks take on the four lanes.
constexpr size_t kSliceMinBlocks = 36;

// Whole blocks of ECB (either way: the passes carry the direction), CBC or
// CFB decryption through the bit-sliced AVX-512 kernel (des_slices.cc), as
// 1 or 3 passes; for blocks >= kSliceMinBlocks on a processor with
// internal::kAvx512 only.  Returns the blocks done, from the first: all but
// a remainder below kSliceMinBlocks, after which `iv` is the chain for the
// rest (CBC, CFB).
size_t slices_bulk(internal::Bulk op, const uint8_t* in, uint8_t* out, size_t blocks,
                   const SlicePass* passes, int npasses, uint8_t* iv);

// ECB over whole blocks with one schedule (ks2 null) or three, as the
// envelope hands them over.
void ecb_blocks(const uint8_t* in, uint8_t* out, size_t blocks, const DES_key_schedule* ks1,
                const DES_key_schedule* ks2, const DES_key_schedule* ks3, bool encrypt);

// Builds the schedule of an 8-byte key (parity bits ignored).
void set_key(const unsigned char* key, DES_key_schedule* schedule);

}  // namespace morvane::des

#endif  // MORVANE_CRYPTO_DES_INTERNAL_H
