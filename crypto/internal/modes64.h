// The byte-wise modes of the 64-bit block ciphers (ECB, CBC, 64-bit CFB and
// 64-bit OFB), written once over any cipher whose block function works in place
// on two 32-bit words, and instantiated per cipher (Blowfish, CAST5, IDEA, RC2;
// DES fits the same shape with little-endian words).
//
// Implementation notes: a block is loaded into words before its output is
// stored, so `in` may equal `out`.  CFB and OFB always run the forward block
// function.  A length of 0 or less, or a CFB/OFB offset outside 0..7, is a
// no-op.  The words of the block and of the chaining value stay in local
// variables that are never addressed (the ciphers' block functions are
// always inlined here), so the compiler keeps them in registers: a chained
// mode's critical path is the cipher alone, with no trip through memory per
// block.  The byte buffers used for partial blocks are wiped before return.
#ifndef MORVANE_CRYPTO_INTERNAL_MODES64_H
#define MORVANE_CRYPTO_INTERNAL_MODES64_H

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "internal/byteorder.h"

namespace morvane::modes64 {

static_assert(std::is_same_v<uint32_t, unsigned int>, "block words are unsigned int");

// How a cipher maps the 8 bytes of a block onto its two words: bytes 0-3 go
// to word 0 and bytes 4-7 to word 1, each read in this order.
enum class WordOrder { kBig, kLittle };

template <WordOrder O>
inline uint32_t load32(const uint8_t* p) {
  if constexpr (O == WordOrder::kBig)
    return load_be32(p);
  else
    return load_le32(p);
}
template <WordOrder O>
inline void store32(uint8_t* p, uint32_t v) {
  if constexpr (O == WordOrder::kBig)
    store_be32(p, v);
  else
    store_le32(p, v);
}

// Zeroes `n` bytes at `p` in a way the compiler may not drop as dead stores.
// Unlike MORVANE_cleanse it touches no process-wide state, so cipher calls on
// different threads never share a write.
inline void wipe(void* p, size_t n) {
  std::memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

// A cipher the modes run over: its key type, its word order and its block
// functions (in place on two words, declared always_inline).  A cipher whose direction lives in the
// schedule (IDEA) gives the same function for both.
template <class C>
concept Cipher64 = requires(unsigned int* d, const typename C::Key* k) {
  { C::kOrder } -> std::convertible_to<WordOrder>;
  C::encrypt(d, k);
  C::decrypt(d, k);
};

// A block as its two words, by value.
struct Words {
  uint32_t w0, w1;
};

template <Cipher64 C>
[[gnu::always_inline]] inline Words load_block(const uint8_t* p) {
  return {load32<C::kOrder>(p), load32<C::kOrder>(p + 4)};
}
template <Cipher64 C>
[[gnu::always_inline]] inline void store_block(uint8_t* p, Words b) {
  store32<C::kOrder>(p, b.w0);
  store32<C::kOrder>(p + 4, b.w1);
}
template <Cipher64 C>
[[gnu::always_inline]] inline Words encrypt_words(Words b, const typename C::Key* key) {
  unsigned int w[2] = {b.w0, b.w1};
  C::encrypt(w, key);
  return {w[0], w[1]};
}
template <Cipher64 C>
[[gnu::always_inline]] inline Words decrypt_words(Words b, const typename C::Key* key) {
  unsigned int w[2] = {b.w0, b.w1};
  C::decrypt(w, key);
  return {w[0], w[1]};
}
[[gnu::always_inline]] inline Words operator^(Words a, Words b) {
  return {a.w0 ^ b.w0, a.w1 ^ b.w1};
}

// One block from `in` to `out`; `encrypt` picks the direction.
template <Cipher64 C>
void ecb(const uint8_t* in, uint8_t* out, const typename C::Key* key, bool encrypt) {
  const Words b = load_block<C>(in);
  store_block<C>(out, encrypt ? encrypt_words<C>(b, key) : decrypt_words<C>(b, key));
}

// CBC over `length` bytes.  Encrypting zero-pads a short last block and writes
// a whole block; decrypting reads a whole last block and writes only the
// remaining bytes.  In both directions `iv` ends as the last ciphertext block.
template <Cipher64 C>
void cbc(const uint8_t* in, uint8_t* out, long length, const typename C::Key* key, uint8_t* iv,
         bool encrypt) {
  if (length <= 0) return;
  size_t n = static_cast<size_t>(length);
  Words chain = load_block<C>(iv);
  uint8_t last[8] = {};
  if (encrypt) {
    for (; n >= 8; n -= 8, in += 8, out += 8) {
      chain = encrypt_words<C>(load_block<C>(in) ^ chain, key);
      store_block<C>(out, chain);
    }
    if (n != 0) {
      std::memcpy(last, in, n);  // zero-padded
      chain = encrypt_words<C>(load_block<C>(last) ^ chain, key);
      store_block<C>(out, chain);
    }
  } else {
    for (; n >= 8; n -= 8, in += 8, out += 8) {
      const Words c = load_block<C>(in);
      store_block<C>(out, decrypt_words<C>(c, key) ^ chain);
      chain = c;
    }
    if (n != 0) {
      const Words c = load_block<C>(in);
      store_block<C>(last, decrypt_words<C>(c, key) ^ chain);
      std::memcpy(out, last, n);
      chain = c;
    }
  }
  wipe(last, sizeof last);
  store_block<C>(iv, chain);
}

// 64-bit CFB, byte by byte from offset *num; the register `iv` is encrypted
// whenever the offset comes back to 0 and takes in each ciphertext byte.
template <Cipher64 C>
void cfb64(const uint8_t* in, uint8_t* out, long length, const typename C::Key* key, uint8_t* iv,
           int* num, bool encrypt) {
  if (length <= 0 || *num < 0 || *num > 7) return;
  size_t len = static_cast<size_t>(length);
  unsigned n = static_cast<unsigned>(*num);
  auto one_byte = [&] {
    if (n == 0) store_block<C>(iv, encrypt_words<C>(load_block<C>(iv), key));
    const uint8_t v = *in++;
    if (encrypt) {
      iv[n] = static_cast<uint8_t>(v ^ iv[n]);
      *out++ = iv[n];
    } else {
      *out++ = static_cast<uint8_t>(v ^ iv[n]);
      iv[n] = v;
    }
    n = (n + 1) & 7;
    len--;
  };
  while (len != 0 && n != 0) one_byte();
  // Whole blocks at offset 0: the same steps, eight bytes at a time, with the
  // register in words.
  if (len >= 8) {
    Words reg = load_block<C>(iv);
    for (; len >= 8; len -= 8, in += 8, out += 8) {
      const Words x = load_block<C>(in);
      const Words y = encrypt_words<C>(reg, key) ^ x;
      store_block<C>(out, y);
      reg = encrypt ? y : x;
    }
    store_block<C>(iv, reg);
  }
  while (len != 0) one_byte();
  *num = static_cast<int>(n);
}

// 64-bit OFB, byte by byte from offset *num.  `iv` holds the keystream block
// in use; it is written back only when the call made a new one.
template <Cipher64 C>
void ofb64(const uint8_t* in, uint8_t* out, long length, const typename C::Key* key, uint8_t* iv,
           int* num) {
  if (length <= 0 || *num < 0 || *num > 7) return;
  size_t len = static_cast<size_t>(length);
  unsigned n = static_cast<unsigned>(*num);
  uint8_t ks[8];
  std::memcpy(ks, iv, 8);
  Words w = load_block<C>(ks);
  bool advanced = false;
  auto one_byte = [&] {
    if (n == 0) {
      w = encrypt_words<C>(w, key);
      store_block<C>(ks, w);
      advanced = true;
    }
    *out++ = static_cast<uint8_t>(*in++ ^ ks[n]);
    n = (n + 1) & 7;
    len--;
  };
  while (len != 0 && n != 0) one_byte();
  for (; len >= 8; len -= 8, in += 8, out += 8) {
    w = encrypt_words<C>(w, key);
    store_block<C>(out, load_block<C>(in) ^ w);
    advanced = true;
  }
  if (advanced) store_block<C>(ks, w);
  while (len != 0) one_byte();
  if (advanced) std::memcpy(iv, ks, 8);
  *num = static_cast<int>(n);
  wipe(ks, sizeof ks);
}

}  // namespace morvane::modes64

#endif  // MORVANE_CRYPTO_INTERNAL_MODES64_H
