// The byte-wise modes of the 64-bit block ciphers (ECB, CBC, 64-bit CFB and
// 64-bit OFB), written once over any cipher whose block function works in place
// on two 32-bit words, and instantiated per cipher (Blowfish, CAST5, IDEA, RC2;
// DES fits the same shape with little-endian words).
//
// Implementation notes: a block is loaded into words before its output is
// stored, so `in` may equal `out`.  CFB and OFB always run the forward block
// function.  A length of 0 or less, or a CFB/OFB offset outside 0..7, is a
// no-op.  Local copies of data and chaining words are wiped before return
// without touching shared state (the block functions stay free of it).
#ifndef MORVANE_CRYPTO_INTERNAL_MODES64_H
#define MORVANE_CRYPTO_INTERNAL_MODES64_H

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace morvane::modes64 {

static_assert(std::is_same_v<uint32_t, unsigned int>, "block words are unsigned int");

// How a cipher maps the 8 bytes of a block onto its two words: bytes 0-3 go
// to word 0 and bytes 4-7 to word 1, each read in this order.
enum class WordOrder { kBig, kLittle };

inline uint32_t load_be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint32_t load_le32(const uint8_t* p) {
  return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}
inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void store_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

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
// functions (in place on two words).  A cipher whose direction lives in the
// schedule (IDEA) gives the same function for both.
template <class C>
concept Cipher64 = requires(unsigned int* d, const typename C::Key* k) {
  { C::kOrder } -> std::convertible_to<WordOrder>;
  C::encrypt(d, k);
  C::decrypt(d, k);
};

template <Cipher64 C>
struct Block {
  unsigned int w[2];

  void load(const uint8_t* p) {
    w[0] = load32<C::kOrder>(p);
    w[1] = load32<C::kOrder>(p + 4);
  }
  void store(uint8_t* p) const {
    store32<C::kOrder>(p, w[0]);
    store32<C::kOrder>(p + 4, w[1]);
  }
  void wipe() { modes64::wipe(w, sizeof w); }
};

// One block from `in` to `out`; `encrypt` picks the direction.
template <Cipher64 C>
void ecb(const uint8_t* in, uint8_t* out, const typename C::Key* key, bool encrypt) {
  Block<C> b;
  b.load(in);
  if (encrypt)
    C::encrypt(b.w, key);
  else
    C::decrypt(b.w, key);
  b.store(out);
  b.wipe();
}

// CBC over `length` bytes.  Encrypting zero-pads a short last block and writes
// a whole block; decrypting reads a whole last block and writes only the
// remaining bytes.  In both directions `iv` ends as the last ciphertext block.
template <Cipher64 C>
void cbc(const uint8_t* in, uint8_t* out, long length, const typename C::Key* key, uint8_t* iv,
         bool encrypt) {
  if (length <= 0) return;
  size_t n = static_cast<size_t>(length);
  Block<C> chain, d, c;
  chain.load(iv);
  auto encrypt_step = [&](const uint8_t* src, uint8_t* dst) {
    d.load(src);
    d.w[0] ^= chain.w[0];
    d.w[1] ^= chain.w[1];
    C::encrypt(d.w, key);
    d.store(dst);
    chain = d;
  };
  auto decrypt_step = [&](const uint8_t* src, uint8_t* dst) {
    c.load(src);
    d = c;
    C::decrypt(d.w, key);
    d.w[0] ^= chain.w[0];
    d.w[1] ^= chain.w[1];
    d.store(dst);
    chain = c;
  };
  uint8_t last[8] = {};
  if (encrypt) {
    for (; n >= 8; n -= 8, in += 8, out += 8) encrypt_step(in, out);
    if (n != 0) {
      std::memcpy(last, in, n);  // zero-padded
      encrypt_step(last, out);
    }
  } else {
    for (; n >= 8; n -= 8, in += 8, out += 8) decrypt_step(in, out);
    if (n != 0) {
      decrypt_step(in, last);
      std::memcpy(out, last, n);
    }
  }
  wipe(last, sizeof last);
  chain.store(iv);
  chain.wipe();
  d.wipe();
  c.wipe();
}

// 64-bit CFB, byte by byte from offset *num; the register `iv` is encrypted
// whenever the offset comes back to 0 and takes in each ciphertext byte.
template <Cipher64 C>
void cfb64(const uint8_t* in, uint8_t* out, long length, const typename C::Key* key, uint8_t* iv,
           int* num, bool encrypt) {
  if (length <= 0 || *num < 0 || *num > 7) return;
  size_t len = static_cast<size_t>(length);
  unsigned n = static_cast<unsigned>(*num);
  Block<C> b, x;
  auto one_byte = [&] {
    if (n == 0) {
      b.load(iv);
      C::encrypt(b.w, key);
      b.store(iv);
    }
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
  // Whole blocks at offset 0: the same steps, eight bytes at a time.
  for (; len >= 8; len -= 8, in += 8, out += 8) {
    b.load(iv);
    C::encrypt(b.w, key);
    x.load(in);
    b.w[0] ^= x.w[0];
    b.w[1] ^= x.w[1];
    b.store(out);
    if (encrypt)
      b.store(iv);
    else
      x.store(iv);
  }
  while (len != 0) one_byte();
  *num = static_cast<int>(n);
  b.wipe();
  x.wipe();
}

// 64-bit OFB, byte by byte from offset *num.  `iv` holds the keystream block
// in use; it is written back only when the call made a new one.
template <Cipher64 C>
void ofb64(const uint8_t* in, uint8_t* out, long length, const typename C::Key* key, uint8_t* iv,
           int* num) {
  if (length <= 0 || *num < 0 || *num > 7) return;
  size_t len = static_cast<size_t>(length);
  unsigned n = static_cast<unsigned>(*num);
  Block<C> w, x;
  uint8_t ks[8];
  std::memcpy(ks, iv, 8);
  w.load(ks);
  bool advanced = false;
  auto one_byte = [&] {
    if (n == 0) {
      C::encrypt(w.w, key);
      w.store(ks);
      advanced = true;
    }
    *out++ = static_cast<uint8_t>(*in++ ^ ks[n]);
    n = (n + 1) & 7;
    len--;
  };
  while (len != 0 && n != 0) one_byte();
  for (; len >= 8; len -= 8, in += 8, out += 8) {
    C::encrypt(w.w, key);
    x.load(in);
    x.w[0] ^= w.w[0];
    x.w[1] ^= w.w[1];
    x.store(out);
    advanced = true;
  }
  if (advanced) w.store(ks);
  while (len != 0) one_byte();
  if (advanced) std::memcpy(iv, ks, 8);
  *num = static_cast<int>(n);
  w.wipe();
  x.wipe();
  wipe(ks, sizeof ks);
}

}  // namespace morvane::modes64

#endif  // MORVANE_CRYPTO_INTERNAL_MODES64_H
