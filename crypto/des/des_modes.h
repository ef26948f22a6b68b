// The DES modes written once over a block cipher (single DES or EDE triple
// DES, see des_local.h): CBC, CFB with a feedback of 1 to 64 bits, and the
// byte-wise 64-bit CFB and OFB.  FIPS 81 defines them; the rules for short
// last blocks and the position counter are this library's.
#ifndef MORVANE_CRYPTO_DES_MODES_H
#define MORVANE_CRYPTO_DES_MODES_H

#include <stddef.h>
#include <string.h>

#include <morvane/crypto.h>

#include "des/des_local.h"

namespace morvane::des {

// A byte count from the API's signed length; a negative length is nothing.
inline size_t byte_count(long length) {
  return length > 0 ? static_cast<size_t>(length) : 0;
}

// CBC (FIPS 81, 4).  A short last block is zero-padded and encrypted to a
// whole block; on decryption a whole last block is read and only its first
// bytes written.  Each input block is read before its output is written, so
// in and out may be the same.  Returns the last ciphertext block (or iv).
//
// Encryption chains each block on the one before, so it runs in the rounds'
// frame (des_local.h): IP of P XOR C is IP(P) XOR IP(C), and IP(C) is what
// the rounds left before FP, halves exchanged.  IP of the plaintext and FP of
// the ciphertext then stay off the chain from block to block.
template <class Cipher>
Block cbc(const Cipher& c, const unsigned char* in, unsigned char* out, size_t n, Block iv,
          bool encrypt) {
  Block v = iv;
  if (encrypt) {
    Halves chain = enter(iv);
    auto step = [&](Block p) {
      const Halves x = c.encrypt_in_frame(enter(p) ^ chain);
      v = leave(x);
      v.store(out);
      chain = {x.r, x.l};
    };
    for (; n >= 8; n -= 8, in += 8, out += 8) step(Block::load(in));
    if (n != 0) step(Block::load_partial(in, n));
  } else {
    for (; n != 0; n -= n < 8 ? n : 8, in += 8, out += 8) {
      const Block ct = Block::load(in);
      Block p = c.decrypt(ct) ^ v;
      p.store_partial(out, n < 8 ? n : 8);
      wipe(p);
      v = ct;
    }
  }
  return v;
}

// CFB with a feedback of `bits` (1 to 64) bits (FIPS 81, 6): each unit is
// (bits+7)/8 bytes, all of whose bits are combined with the keystream; the
// register then shifts in the first `bits` bits of the ciphertext unit, most
// significant first.  A remainder shorter than a unit is left alone.
template <class Cipher>
void cfb_bits(const Cipher& c, const unsigned char* in, unsigned char* out, int bits, long length,
              unsigned char* ivec, bool encrypt) {
  if (bits < 1 || bits > 64) return;
  const size_t k = static_cast<size_t>(bits), w = (k + 7) / 8, q = k / 8, r = k % 8;
  // The register followed by the ciphertext unit, as one big-endian string.
  unsigned char reg[16];
  memcpy(reg, ivec, 8);
  unsigned char e[8];
  for (size_t n = byte_count(length); n >= w; n -= w, in += w, out += w) {
    c.encrypt(Block::load(reg)).store(e);
    for (size_t i = 0; i < w; i++) {
      const unsigned char x = in[i], y = static_cast<unsigned char>(x ^ e[i]);
      out[i] = y;
      reg[8 + i] = encrypt ? y : x;
    }
    if (r == 0) {
      memmove(reg, reg + q, 8);
    } else {
      for (size_t i = 0; i < 8; i++)
        reg[i] = static_cast<unsigned char>(reg[i + q] << r | reg[i + q + 1] >> (8 - r));
    }
  }
  memcpy(ivec, reg, 8);
  MORVANE_cleanse(e, sizeof(e));
}

// 64-bit CFB byte by byte: `num` is the offset into the current block, which
// is encrypted lazily when the offset comes back to 0.
template <class Cipher>
void cfb64(const Cipher& c, const unsigned char* in, unsigned char* out, long length,
           unsigned char* ivec, int* num, bool encrypt) {
  unsigned n = static_cast<unsigned>(*num) & 7;
  for (size_t l = byte_count(length); l != 0; l--) {
    if (n == 0) c.encrypt(Block::load(ivec)).store(ivec);
    const unsigned char x = *in++;
    const unsigned char y = static_cast<unsigned char>(x ^ ivec[n]);
    *out++ = y;
    ivec[n] = encrypt ? y : x;
    n = (n + 1) & 7;
  }
  *num = static_cast<int>(n);
}

// 64-bit OFB byte by byte; ivec is written only when a block was encrypted.
template <class Cipher>
void ofb64(const Cipher& c, const unsigned char* in, unsigned char* out, long length,
           unsigned char* ivec, int* num) {
  unsigned n = static_cast<unsigned>(*num) & 7;
  Block reg = Block::load(ivec);
  unsigned char d[8];
  memcpy(d, ivec, 8);
  bool advanced = false;
  for (size_t l = byte_count(length); l != 0; l--) {
    if (n == 0) {
      reg = c.encrypt(reg);
      reg.store(d);
      advanced = true;
    }
    *out++ = static_cast<unsigned char>(*in++ ^ d[n]);
    n = (n + 1) & 7;
  }
  if (advanced) reg.store(ivec);
  *num = static_cast<int>(n);
  wipe(reg);
  MORVANE_cleanse(d, sizeof(d));
}

}  // namespace morvane::des

#endif  // MORVANE_CRYPTO_DES_MODES_H
