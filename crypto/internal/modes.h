// The block-cipher modes, written once over a cipher description: ECB, CBC,
// CFB with full-block, r-bit (8-bit) and 1-bit feedback, OFB and CTR (NIST
// SP 800-38A, FIPS 81), for blocks of 8 or 16 bytes.
//
// A description is a struct of static members:
//   kBlockSize                  8 or 16
//   Key                         what the block function reads, by pointer
//   Block                       a block by value: Block::load(p), b.store(p), b ^ b
//   encrypt(Block, const Key*)  the block function, and decrypt() its inverse
//                               (always inlined where it is small)
// and optionally
//   bulk(op, in, out, blocks, key, iv, ks)  runs whole blocks of a mode itself
//       (hardware kernels) and returns true, or returns false to leave them here;
//   Frame, enter, leave, encrypt_frame, rechain  a representation in which CBC
//       encryption chains without leaving the cipher's frame (DES, des/internal.h).
//
// Implementation notes: each block is loaded before its output is stored, so
// `in` may equal `out`.  CFB, OFB and CTR run the forward block function
// only.  The position policy: a byte position (`num`) outside 0..block-1
// leaves output, register and position untouched.  Buffers that held
// keystream or plaintext of a partial block are wiped before return.
#ifndef MORVANE_INTERNAL_MODES_H
#define MORVANE_INTERNAL_MODES_H

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "internal/byteorder.h"
#include "internal/wipe.h"

namespace morvane::internal {

// A block of two 32-bit words: bytes 0-3 give w0 and 4-7 give w1, each in
// the cipher's byte order.
enum class WordOrder { kBig, kLittle };

template <WordOrder O>
struct Block64 {
  uint32_t w0, w1;
  [[gnu::always_inline]] static Block64 load(const uint8_t* p) {
    if constexpr (O == WordOrder::kBig)
      return {load_be32(p), load_be32(p + 4)};
    else
      return {load_le32(p), load_le32(p + 4)};
  }
  [[gnu::always_inline]] void store(uint8_t* p) const {
    if constexpr (O == WordOrder::kBig) {
      store_be32(p, w0);
      store_be32(p + 4, w1);
    } else {
      store_le32(p, w0);
      store_le32(p + 4, w1);
    }
  }
  [[gnu::always_inline]] Block64 operator^(Block64 o) const { return {w0 ^ o.w0, w1 ^ o.w1}; }
};

// A 16-byte block as two big-endian 64-bit halves, by value (two registers,
// also across a call).
struct Block128 {
  uint64_t hi, lo;
  [[gnu::always_inline]] static Block128 load(const uint8_t* p) {
    return {load_be64(p), load_be64(p + 8)};
  }
  [[gnu::always_inline]] void store(uint8_t* p) const {
    store_be64(p, hi);
    store_be64(p + 8, lo);
  }
  [[gnu::always_inline]] Block128 operator^(Block128 o) const { return {hi ^ o.hi, lo ^ o.lo}; }
};

template <class C>
concept BlockCipher = requires(typename C::Block b, const uint8_t* p, uint8_t* q,
                               const typename C::Key* k) {
  requires C::kBlockSize == 8 || C::kBlockSize == 16;
  { C::Block::load(p) } -> std::same_as<typename C::Block>;
  b.store(q);
  { b ^ b } -> std::same_as<typename C::Block>;
  { C::encrypt(b, k) } -> std::same_as<typename C::Block>;
  { C::decrypt(b, k) } -> std::same_as<typename C::Block>;
};

// A 64-bit cipher whose block functions work in place on two 32-bit words
// (`W::encrypt(unsigned int*, const W::Key*)`, always inlined), as a
// description.  A cipher whose direction lives in the schedule (IDEA) gives
// the same function for both.
template <class W>
struct OnWords {
  static constexpr size_t kBlockSize = 8;
  using Key = typename W::Key;
  using Block = Block64<W::kOrder>;
  [[gnu::always_inline]] static Block encrypt(Block b, const Key* k) {
    unsigned int w[2] = {b.w0, b.w1};
    W::encrypt(w, k);
    return {w[0], w[1]};
  }
  [[gnu::always_inline]] static Block decrypt(Block b, const Key* k) {
    unsigned int w[2] = {b.w0, b.w1};
    W::decrypt(w, k);
    return {w[0], w[1]};
  }
};

// The whole-block operations a description's bulk() may take over.  `iv` is
// the chaining value (CBC, CFB), the keystream block (OFB) or the counter
// (CTR) and ends as the block-by-block code leaves it; CTR leaves the last
// keystream block in `ks`.  ECB uses neither.
enum class Bulk {
  kCbcEncrypt,
  kCbcDecrypt,
  kCfbEncrypt,
  kCfbDecrypt,
  kOfb,
  kCtr,
  kEcbEncrypt,
  kEcbDecrypt
};

template <class C>
inline bool bulk(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks,
                 const typename C::Key* key, uint8_t* iv, uint8_t* ks) {
  if constexpr (requires { C::bulk(op, in, out, blocks, key, iv, ks); })
    return C::bulk(op, in, out, blocks, key, iv, ks);
  else
    return false;
}

// A byte count from an API's signed length; 0 or less is nothing.
inline size_t length_of(long length) {
  return length > 0 ? static_cast<size_t>(length) : 0;
}

// The position policy: true, with the position in `n`, when *num is inside
// the block.
template <size_t B, class Num>
inline bool position(const Num* num, unsigned& n) {
  if constexpr (std::is_signed_v<Num>) {
    if (*num < 0) return false;
  }
  if (*num >= static_cast<Num>(B)) return false;
  n = static_cast<unsigned>(*num);
  return true;
}

// ---- Whole blocks ----

// The counter block as one big-endian number, plus one modulo 2^(8N)
// (SP 800-38A, B.1, with the whole block as the counter).
template <size_t N>
inline void increment_counter(uint8_t* ctr) {
  if constexpr (N == 8) {
    store_be64(ctr, load_be64(ctr) + 1);
  } else {
    const uint64_t lo = load_be64(ctr + 8) + 1;
    store_be64(ctr + 8, lo);
    if (lo == 0) store_be64(ctr, load_be64(ctr) + 1);
  }
}

// Whole blocks of a mode from position 0, block by block, as bulk() would
// run them.
template <BlockCipher C, Bulk kOp>
[[gnu::always_inline]] inline void block_loop(const uint8_t* in, uint8_t* out, size_t blocks,
                                              const typename C::Key* key, uint8_t* iv,
                                              uint8_t* ks) {
  using B = typename C::Block;
  constexpr size_t N = C::kBlockSize;
  if constexpr (kOp == Bulk::kEcbEncrypt || kOp == Bulk::kEcbDecrypt) {
    (void)iv;
    (void)ks;
    for (; blocks != 0; blocks--, in += N, out += N)
      (kOp == Bulk::kEcbEncrypt ? C::encrypt(B::load(in), key) : C::decrypt(B::load(in), key))
          .store(out);
  } else if constexpr (kOp == Bulk::kCbcEncrypt && requires { typename C::Frame; }) {
    // The XOR of blocks commutes with entering the frame, so the chain stays
    // in it from block to block.
    auto chain = C::enter(B::load(iv));
    B c = B::load(iv);
    for (; blocks != 0; blocks--, in += N, out += N) {
      const auto x = C::encrypt_frame(C::enter(B::load(in)) ^ chain, key);
      c = C::leave(x);
      c.store(out);
      chain = C::rechain(x);
    }
    c.store(iv);
  } else if constexpr (kOp == Bulk::kCbcEncrypt) {
    B chain = B::load(iv);
    for (; blocks != 0; blocks--, in += N, out += N) {
      chain = C::encrypt(B::load(in) ^ chain, key);
      chain.store(out);
    }
    chain.store(iv);
  } else if constexpr (kOp == Bulk::kCbcDecrypt) {
    B chain = B::load(iv);
    for (; blocks != 0; blocks--, in += N, out += N) {
      const B c = B::load(in);
      (C::decrypt(c, key) ^ chain).store(out);
      chain = c;
    }
    chain.store(iv);
  } else if constexpr (kOp == Bulk::kCfbEncrypt || kOp == Bulk::kCfbDecrypt) {
    B reg = B::load(iv);
    for (; blocks != 0; blocks--, in += N, out += N) {
      const B x = B::load(in);
      const B y = C::encrypt(reg, key) ^ x;
      y.store(out);
      reg = kOp == Bulk::kCfbEncrypt ? y : x;
    }
    reg.store(iv);
  } else if constexpr (kOp == Bulk::kOfb) {
    B w = B::load(iv);
    for (; blocks != 0; blocks--, in += N, out += N) {
      w = C::encrypt(w, key);
      (B::load(in) ^ w).store(out);
    }
    w.store(iv);
  } else {
    B k{}, c = B::load(iv);
    for (; blocks != 0; blocks--, in += N, out += N) {
      k = C::encrypt(c, key);
      if constexpr (std::is_same_v<B, Block128>) {
        c = {c.hi + (c.lo == UINT64_MAX ? 1 : 0), c.lo + 1};  // the counter kept in registers
      } else {
        c.store(iv);
        increment_counter<N>(iv);
        c = B::load(iv);
      }
      (B::load(in) ^ k).store(out);
    }
    c.store(iv);
    k.store(ks);
  }
}

// The same out of line, with the block function flattened into it, so that
// a chained value stays in registers while the callers stay small for the
// hardware kernels and short calls.  Aligned to 64 bytes, so that the loop
// sits where the compiler placed it relative to a cache line whatever the
// link puts before it: triple DES's CBC encryption (48 rounds written out,
// about 7 KB a turn) ran at less than half its speed on a Zen 5 with its
// loop 16 bytes into a line.
template <BlockCipher C, Bulk kOp>
[[gnu::noinline, gnu::flatten, gnu::aligned(64)]] void block_loop_out_of_line(
    const uint8_t* in, uint8_t* out, size_t blocks, const typename C::Key* key, uint8_t* iv,
    uint8_t* ks) {
  block_loop<C, kOp>(in, out, blocks, key, iv, ks);
}

// Whole blocks block by block: inline for a description without kernels,
// out of line beside them.
template <BlockCipher C, Bulk kOp>
inline void loop_blocks(const uint8_t* in, uint8_t* out, size_t blocks, const typename C::Key* key,
                        uint8_t* iv, uint8_t* ks) {
  if constexpr (requires { C::bulk(kOp, in, out, blocks, key, iv, ks); })
    block_loop_out_of_line<C, kOp>(in, out, blocks, key, iv, ks);
  else
    block_loop<C, kOp>(in, out, blocks, key, iv, ks);
}

// Whole blocks of a mode: on the description's kernels when it has them,
// else here.
template <BlockCipher C, Bulk kOp>
inline void run_blocks(const uint8_t* in, uint8_t* out, size_t blocks, const typename C::Key* key,
                       uint8_t* iv, uint8_t* ks = nullptr) {
  if (!bulk<C>(kOp, in, out, blocks, key, iv, ks))
    loop_blocks<C, kOp>(in, out, blocks, key, iv, ks);
}

// ---- ECB and CBC ----

// One block from `in` to `out`.
template <BlockCipher C>
void ecb(const uint8_t* in, uint8_t* out, const typename C::Key* key, bool encrypt) {
  using B = typename C::Block;
  (encrypt ? C::encrypt(B::load(in), key) : C::decrypt(B::load(in), key)).store(out);
}

// ECB over whole blocks, on the description's kernels when it has them: the
// envelope's ECB hands over all the blocks of a call at once.
template <BlockCipher C>
void ecb_blocks(const uint8_t* in, uint8_t* out, size_t blocks, const typename C::Key* key,
                bool encrypt) {
  if (blocks == 0) return;
  if (encrypt)
    run_blocks<C, Bulk::kEcbEncrypt>(in, out, blocks, key, nullptr);
  else
    run_blocks<C, Bulk::kEcbDecrypt>(in, out, blocks, key, nullptr);
}

// CBC over `len` bytes.  Encrypting zero-pads a short last block and writes
// a whole block; decrypting reads a whole last block and writes only the
// remaining bytes.  In both directions `iv` ends as the last ciphertext block.
template <BlockCipher C>
void cbc(const uint8_t* in, uint8_t* out, size_t len, const typename C::Key* key, uint8_t* iv,
         bool encrypt) {
  using B = typename C::Block;
  constexpr size_t N = C::kBlockSize;
  const size_t blocks = len / N, rest = len % N;
  if (blocks != 0) {
    if (encrypt)
      run_blocks<C, Bulk::kCbcEncrypt>(in, out, blocks, key, iv);
    else
      run_blocks<C, Bulk::kCbcDecrypt>(in, out, blocks, key, iv);
    in += blocks * N;
    out += blocks * N;
  }
  if (rest == 0) return;
  uint8_t last[N] = {};
  if (encrypt) {
    std::memcpy(last, in, rest);  // zero-padded
    loop_blocks<C, Bulk::kCbcEncrypt>(last, out, 1, key, iv, nullptr);
  } else {
    const B c = B::load(in);
    (C::decrypt(c, key) ^ B::load(iv)).store(last);
    std::memcpy(out, last, rest);
    c.store(iv);
  }
  wipe(last);
}

// ---- CFB ----

// Full-block CFB, byte by byte from position *num; the register `iv` is
// encrypted whenever the position comes back to 0 and takes in each
// ciphertext byte.
template <BlockCipher C, class Num>
void cfb(const uint8_t* in, uint8_t* out, size_t len, const typename C::Key* key, uint8_t* iv,
         Num* num, bool encrypt) {
  using B = typename C::Block;
  constexpr size_t N = C::kBlockSize;
  unsigned n;
  if (len == 0 || !position<N>(num, n)) return;
  auto one_byte = [&] {
    if (n == 0) C::encrypt(B::load(iv), key).store(iv);
    const uint8_t x = *in++;
    const uint8_t y = static_cast<uint8_t>(x ^ iv[n]);
    *out++ = y;
    iv[n] = encrypt ? y : x;
    n = (n + 1) % N;
    len--;
  };
  while (len != 0 && n != 0) one_byte();
  if (const size_t blocks = len / N; blocks != 0) {
    if (encrypt)
      run_blocks<C, Bulk::kCfbEncrypt>(in, out, blocks, key, iv);
    else
      run_blocks<C, Bulk::kCfbDecrypt>(in, out, blocks, key, iv);
    in += blocks * N;
    out += blocks * N;
    len %= N;
  }
  while (len != 0) one_byte();
  *num = static_cast<Num>(n);
}

// One unit of CFB with a feedback of `bits` (1 to 8 * block size) bits: the
// unit is (bits+7)/8 bytes, all of whose bits are combined with the
// keystream; the register reg[0..N) then moves left by `bits` and takes in
// the first `bits` bits of the ciphertext unit, most significant first.
// reg[N..2N) is scratch; `e` receives the keystream block.
template <BlockCipher C>
inline void cfb_unit(const uint8_t* in, uint8_t* out, size_t bits, const typename C::Key* key,
                     uint8_t* reg, uint8_t* e, bool encrypt) {
  constexpr size_t N = C::kBlockSize;
  const size_t w = (bits + 7) / 8, q = bits / 8, r = bits % 8;
  C::encrypt(C::Block::load(reg), key).store(e);
  for (size_t i = 0; i < w; i++) {
    const uint8_t x = in[i], y = static_cast<uint8_t>(x ^ e[i]);
    out[i] = y;
    reg[N + i] = encrypt ? y : x;
  }
  if (r == 0) {
    std::memmove(reg, reg + q, N);
  } else {
    for (size_t i = 0; i < N; i++)
      reg[i] = static_cast<uint8_t>(reg[i + q] << r | reg[i + q + 1] >> (8 - r));
  }
}

// `units` units of CFB with `bits`-bit feedback (SP 800-38A, 6.3; FIPS 81,
// 6); a width outside 1..8 * block size does nothing.
template <BlockCipher C>
void cfb_bits(const uint8_t* in, uint8_t* out, size_t units, size_t bits,
              const typename C::Key* key, uint8_t* iv, bool encrypt) {
  constexpr size_t N = C::kBlockSize;
  if (bits < 1 || bits > 8 * N || units == 0) return;
  const size_t w = (bits + 7) / 8;
  uint8_t reg[2 * N] = {}, e[N];
  std::memcpy(reg, iv, N);
  for (; units != 0; units--, in += w, out += w) cfb_unit<C>(in, out, bits, key, reg, e, encrypt);
  std::memcpy(iv, reg, N);
  wipe(e);
}

// 1-bit CFB over `nbits` bits of `in`, most significant bit of each byte
// first; bits of `out` beyond them are kept.
template <BlockCipher C>
void cfb1(const uint8_t* in, uint8_t* out, size_t nbits, const typename C::Key* key, uint8_t* iv,
          bool encrypt) {
  constexpr size_t N = C::kBlockSize;
  if (nbits == 0) return;
  uint8_t reg[2 * N] = {}, e[N];
  std::memcpy(reg, iv, N);
  for (size_t k = 0; k < nbits; k++) {
    const unsigned shift = 7 - static_cast<unsigned>(k % 8);
    const uint8_t c = static_cast<uint8_t>(((in[k / 8] >> shift) & 1u) << 7);
    uint8_t d = 0;
    cfb_unit<C>(&c, &d, 1, key, reg, e, encrypt);
    const uint8_t mask = static_cast<uint8_t>(1u << shift);
    out[k / 8] = static_cast<uint8_t>((out[k / 8] & ~mask) | ((d >> 7) << shift));
  }
  std::memcpy(iv, reg, N);
  wipe(e);
}

// ---- OFB and CTR ----

// OFB byte by byte from position *num; `iv` holds the keystream block in
// use and ends as the last one made.
template <BlockCipher C, class Num>
void ofb(const uint8_t* in, uint8_t* out, size_t len, const typename C::Key* key, uint8_t* iv,
         Num* num) {
  using B = typename C::Block;
  constexpr size_t N = C::kBlockSize;
  unsigned n;
  if (len == 0 || !position<N>(num, n)) return;
  auto one_byte = [&] {
    if (n == 0) C::encrypt(B::load(iv), key).store(iv);
    *out++ = static_cast<uint8_t>(*in++ ^ iv[n]);
    n = (n + 1) % N;
    len--;
  };
  while (len != 0 && n != 0) one_byte();
  if (const size_t blocks = len / N; blocks != 0) {
    run_blocks<C, Bulk::kOfb>(in, out, blocks, key, iv);
    in += blocks * N;
    out += blocks * N;
    len %= N;
  }
  while (len != 0) one_byte();
  *num = static_cast<Num>(n);
}

// CTR byte by byte from position *num (SP 800-38A, 6.5): `ks` holds the
// keystream block in use and `ctr` the counter of the next one.
template <BlockCipher C, class Num>
void ctr(const uint8_t* in, uint8_t* out, size_t len, const typename C::Key* key, uint8_t* ctr,
         uint8_t* ks, Num* num) {
  using B = typename C::Block;
  constexpr size_t N = C::kBlockSize;
  unsigned n;
  if (len == 0 || !position<N>(num, n)) return;
  for (; n != 0 && len != 0; len--) {
    *out++ = *in++ ^ ks[n];
    n = (n + 1) % N;
  }
  if (const size_t blocks = len / N; blocks != 0) {
    run_blocks<C, Bulk::kCtr>(in, out, blocks, key, ctr, ks);
    in += blocks * N;
    out += blocks * N;
    len %= N;
  }
  if (len != 0) {
    C::encrypt(B::load(ctr), key).store(ks);
    increment_counter<N>(ctr);
    for (; n < len; n++) out[n] = in[n] ^ ks[n];
  }
  *num = static_cast<Num>(n);
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_MODES_H
