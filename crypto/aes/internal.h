// Internal interface of the AES component: the block functions the modes run
// on (the table code itself, inlined into them) and the byte helpers they
// share.
//
// The modes call morvane::aes::EncryptBlock/DecryptBlock rather than the
// exported entry points, so that the calls stay inside the library and a
// hardware path can later be chosen inside those two functions (and the key
// setup) without touching any mode.
#ifndef MORVANE_CRYPTO_AES_INTERNAL_H
#define MORVANE_CRYPTO_AES_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/aes_tables.h"
#include "internal/cpu.h"
#include "internal/modes.h"

namespace morvane::aes {

constexpr size_t kBlock = AES_BLOCK_SIZE;

// One block under an encryption (resp. decryption) schedule; `in` may equal
// `out`.
void EncryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept;
void DecryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept;

// ECB over whole blocks (`in` may equal `out`): the cipher under an
// encryption schedule, or the inverse cipher under a decryption schedule, on
// the widest kernel the processor has.  The envelope's AES-ECB descriptions
// hand it all the blocks of a call.
void EcbBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
               bool encrypt) noexcept;

// A block by value: columns 0 and 1 of the state in `hi`, 2 and 3 in `lo`.
using Block = internal::Block128;

// The table code's byte of a word, most significant first.
inline uint32_t B0(uint32_t w) {
  return w >> 24;
}
inline uint32_t B1(uint32_t w) {
  return (w >> 16) & 0xff;
}
inline uint32_t B2(uint32_t w) {
  return (w >> 8) & 0xff;
}
inline uint32_t B3(uint32_t w) {
  return w & 0xff;
}

// SubBytes, ShiftRows, MixColumns and AddRoundKey for one column.
inline uint32_t EncRound(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return kTe0[B0(a)] ^ kTe1[B1(b)] ^ kTe2[B2(c)] ^ kTe3[B3(d)] ^ k;
}
// SubBytes and ShiftRows alone, for the last round.
inline uint32_t EncLast(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return ((kTe2[B0(a)] & 0xff000000u) ^ (kTe3[B1(b)] & 0x00ff0000u) ^ (kTe0[B2(c)] & 0x0000ff00u) ^
          (kTe1[B3(d)] & 0x000000ffu)) ^
         k;
}
inline uint32_t DecRound(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return kTd0[B0(a)] ^ kTd1[B1(b)] ^ kTd2[B2(c)] ^ kTd3[B3(d)] ^ k;
}
inline uint32_t DecLast(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return ((uint32_t{kTd4[B0(a)]} << 24) ^ (uint32_t{kTd4[B1(b)]} << 16) ^
          (uint32_t{kTd4[B2(c)]} << 8) ^ uint32_t{kTd4[B3(d)]}) ^
         k;
}

// Two column words as one half of a Block.
inline uint64_t Columns(uint32_t a, uint32_t b) {
  return uint64_t{a} << 32 | b;
}

// The cipher (FIPS-197, 5.1): rounds - 1 full rounds and a last round without
// MixColumns.  The loop does two rounds a pass and leaves the last pass after
// its first round.  Encryption and decryption are written out separately:
// GCC keeps the state in registers better this way than through one shared
// template (about 7% faster when measured).
inline Block TableEncrypt(Block in, const AES_KEY* key) {
  const uint32_t* rk = key->rd_key;
  uint32_t s0 = static_cast<uint32_t>(in.hi >> 32) ^ rk[0];
  uint32_t s1 = static_cast<uint32_t>(in.hi) ^ rk[1];
  uint32_t s2 = static_cast<uint32_t>(in.lo >> 32) ^ rk[2];
  uint32_t s3 = static_cast<uint32_t>(in.lo) ^ rk[3];
  uint32_t t0, t1, t2, t3;
  for (int r = key->rounds >> 1;;) {
    t0 = EncRound(s0, s1, s2, s3, rk[4]);
    t1 = EncRound(s1, s2, s3, s0, rk[5]);
    t2 = EncRound(s2, s3, s0, s1, rk[6]);
    t3 = EncRound(s3, s0, s1, s2, rk[7]);
    rk += 8;
    if (--r == 0) break;
    s0 = EncRound(t0, t1, t2, t3, rk[0]);
    s1 = EncRound(t1, t2, t3, t0, rk[1]);
    s2 = EncRound(t2, t3, t0, t1, rk[2]);
    s3 = EncRound(t3, t0, t1, t2, rk[3]);
  }
  return {Columns(EncLast(t0, t1, t2, t3, rk[0]), EncLast(t1, t2, t3, t0, rk[1])),
          Columns(EncLast(t2, t3, t0, t1, rk[2]), EncLast(t3, t0, t1, t2, rk[3]))};
}

// The equivalent inverse cipher (FIPS-197, 5.3.5): the same shape with the
// Td tables, InvShiftRows taking the bytes of words j, j + 3, j + 2, j + 1.
inline Block TableDecrypt(Block in, const AES_KEY* key) {
  const uint32_t* rk = key->rd_key;
  uint32_t s0 = static_cast<uint32_t>(in.hi >> 32) ^ rk[0];
  uint32_t s1 = static_cast<uint32_t>(in.hi) ^ rk[1];
  uint32_t s2 = static_cast<uint32_t>(in.lo >> 32) ^ rk[2];
  uint32_t s3 = static_cast<uint32_t>(in.lo) ^ rk[3];
  uint32_t t0, t1, t2, t3;
  for (int r = key->rounds >> 1;;) {
    t0 = DecRound(s0, s3, s2, s1, rk[4]);
    t1 = DecRound(s1, s0, s3, s2, rk[5]);
    t2 = DecRound(s2, s1, s0, s3, rk[6]);
    t3 = DecRound(s3, s2, s1, s0, rk[7]);
    rk += 8;
    if (--r == 0) break;
    s0 = DecRound(t0, t3, t2, t1, rk[0]);
    s1 = DecRound(t1, t0, t3, t2, rk[1]);
    s2 = DecRound(t2, t1, t0, t3, rk[2]);
    s3 = DecRound(t3, t2, t1, t0, rk[3]);
  }
  return {Columns(DecLast(t0, t3, t2, t1, rk[0]), DecLast(t1, t0, t3, t2, rk[1])),
          Columns(DecLast(t2, t1, t0, t3, rk[2]), DecLast(t3, t2, t1, t0, rk[3]))};
}

// The block functions on a block as its four column words, by value: the
// table code inlined, so that a chained block stays in registers, or AES-NI
// through memory.
[[gnu::always_inline]] inline Block Encrypt(Block in, const AES_KEY* key) noexcept {
  if (!internal::Has(internal::kAesni)) return TableEncrypt(in, key);
  uint8_t b[kBlock];
  in.store(b);
  NiEncryptBlock(b, b, key);
  return Block::load(b);
}

[[gnu::always_inline]] inline Block Decrypt(Block in, const AES_KEY* key) noexcept {
  if (!internal::Has(internal::kAesni)) return TableDecrypt(in, key);
  uint8_t b[kBlock];
  in.store(b);
  NiDecryptBlock(b, b, key);
  return Block::load(b);
}

inline uint64_t Load64(const uint8_t* p) noexcept {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) noexcept {
  memcpy(p, &v, sizeof v);
}

// dst = a XOR b over one block.  Both inputs are read before `dst` is
// written, so any of the three may be the same buffer.
inline void XorBlock(uint8_t* dst, const uint8_t* a, const uint8_t* b) noexcept {
  const uint64_t lo = Load64(a) ^ Load64(b);
  const uint64_t hi = Load64(a + 8) ^ Load64(b + 8);
  Store64(dst, lo);
  Store64(dst + 8, hi);
}

inline void CopyBlock(uint8_t* dst, const uint8_t* src) noexcept {
  memcpy(dst, src, kBlock);
}

}  // namespace morvane::aes

#endif  // MORVANE_CRYPTO_AES_INTERNAL_H
