// AES modes over byte strings (NIST SP 800-38A): CBC, CFB with 128-, 8- and
// 1-bit feedback and the general r-bit step, OFB and CTR.
//
// Implementation notes: the byte-wise modes keep the offset into the current
// block in the caller's `num`; whole blocks in the middle of a call are done a
// block at a time, with the same result as byte by byte.  Each block is read
// (or copied aside) before its output is written, so `in` may equal `out`.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/aes.h>

#include "aes/aes_local.h"

using namespace aes_internal;

namespace {

// Counter increment: the 16 bytes as one big-endian 128-bit number, modulo
// 2^128 (SP 800-38A, B.1, with the whole block as the counter).
void AES_ctr128_inc(uint8_t* counter) {
  unsigned carry = 1;
  for (int i = 15; i >= 0; i--) {
    carry += counter[i];
    counter[i] = static_cast<uint8_t>(carry);
    carry >>= 8;
  }
}

// XORs `len` bytes with a keystream used from offset `n` of the block `ks`;
// `next` refills `ks` with the next keystream block whenever the offset
// wraps to 0.  Returns the new offset.  Shared by OFB and CTR.
template <class NextBlock>
unsigned KeystreamXor(const uint8_t* in, uint8_t* out, size_t len, uint8_t* ks, unsigned n,
                      NextBlock next) {
  for (; n != 0 && len != 0; len--) {
    *out++ = *in++ ^ ks[n];
    n = (n + 1) % kBlock;
  }
  for (; len >= kBlock; len -= kBlock, in += kBlock, out += kBlock) {
    next();
    XorBlock(out, in, ks);
  }
  if (len != 0) {
    next();
    for (; n < len; n++) out[n] = in[n] ^ ks[n];
  }
  return n;
}

// One CFB step of `nbits` bits (SP 800-38A, 6.3): the feedback register
// `ivec` moves left by `nbits` and takes in the ciphertext bits.
void CfbrStep(const uint8_t* in, uint8_t* out, int nbits, const AES_KEY* key, uint8_t* ivec,
              int enc) {
  if (nbits <= 0 || nbits > 128) return;
  // Bytes 0-15: the register before this step; 16 on: the ciphertext.
  uint8_t reg[2 * kBlock] = {};
  CopyBlock(reg, ivec);
  EncryptBlock(ivec, ivec, key);
  const int nbytes = (nbits + 7) / 8;
  if (enc) {
    for (int k = 0; k < nbytes; k++) reg[kBlock + k] = out[k] = in[k] ^ ivec[k];
  } else {
    for (int k = 0; k < nbytes; k++) {
      const uint8_t c = in[k];
      reg[kBlock + k] = c;
      out[k] = c ^ ivec[k];
    }
  }
  const int q = nbits / 8;
  const int b = nbits % 8;
  if (b == 0) {
    memcpy(ivec, reg + q, kBlock);
  } else {
    for (size_t k = 0; k < kBlock; k++)
      ivec[k] = static_cast<uint8_t>((reg[q + k] << b) | (reg[q + k + 1] >> (8 - b)));
  }
}

}  // namespace

/* see morvane/aes.h */
void AES_cbc_encrypt(const unsigned char* in, unsigned char* out, size_t length, const AES_KEY* key,
                     unsigned char* ivec, const int enc) {
  if (enc == AES_ENCRYPT) {
    // SP 800-38A, 6.2: C[j] = E(P[j] XOR C[j-1]); a short last block is
    // padded with zero bytes, so its missing bytes take the chaining value.
    const uint8_t* iv = ivec;
    for (; length >= kBlock; length -= kBlock, in += kBlock, out += kBlock) {
      XorBlock(out, in, iv);
      EncryptBlock(out, out, key);
      iv = out;
    }
    if (length != 0) {
      uint8_t block[kBlock];
      CopyBlock(block, iv);
      for (size_t n = 0; n < length; n++) block[n] ^= in[n];
      EncryptBlock(block, out, key);
      iv = out;
    }
    if (iv != ivec) CopyBlock(ivec, iv);
    return;
  }
  // P[j] = D(C[j]) XOR C[j-1].  Each ciphertext block is copied aside before
  // its plaintext is written over it when the call runs in place.
  uint8_t iv[kBlock];
  uint8_t c[kBlock];
  CopyBlock(iv, ivec);
  for (; length >= kBlock; length -= kBlock, in += kBlock, out += kBlock) {
    CopyBlock(c, in);
    DecryptBlock(c, out, key);
    XorBlock(out, out, iv);
    CopyBlock(iv, c);
  }
  if (length != 0) {
    // The whole ciphertext block is read; only `length` bytes are written.
    uint8_t p[kBlock];
    CopyBlock(c, in);
    DecryptBlock(c, p, key);
    for (size_t n = 0; n < length; n++) out[n] = p[n] ^ iv[n];
    CopyBlock(iv, c);
  }
  CopyBlock(ivec, iv);
}

void AES_cfb128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char* ivec, int* num, const int enc) {
  unsigned n = static_cast<unsigned>(*num);
  if (enc) {
    // SP 800-38A, 6.3: the ciphertext byte replaces the keystream byte.
    for (; n != 0 && length != 0; length--) {
      *out++ = ivec[n] ^= *in++;
      n = (n + 1) % kBlock;
    }
    for (; length >= kBlock; length -= kBlock, in += kBlock, out += kBlock) {
      EncryptBlock(ivec, ivec, key);
      XorBlock(ivec, ivec, in);
      CopyBlock(out, ivec);
    }
    if (length != 0) {
      EncryptBlock(ivec, ivec, key);
      for (; n < length; n++) out[n] = ivec[n] ^= in[n];
    }
  } else {
    for (; n != 0 && length != 0; length--) {
      const uint8_t c = *in++;
      *out++ = ivec[n] ^ c;
      ivec[n] = c;
      n = (n + 1) % kBlock;
    }
    for (; length >= kBlock; length -= kBlock, in += kBlock, out += kBlock) {
      uint8_t c[kBlock];
      EncryptBlock(ivec, ivec, key);
      CopyBlock(c, in);
      XorBlock(out, ivec, c);
      CopyBlock(ivec, c);
    }
    if (length != 0) {
      EncryptBlock(ivec, ivec, key);
      for (; n < length; n++) {
        const uint8_t c = in[n];
        out[n] = ivec[n] ^ c;
        ivec[n] = c;
      }
    }
  }
  *num = static_cast<int>(n);
}

void AES_cfbr_encrypt_block(const unsigned char* in, unsigned char* out, const int nbits,
                            const AES_KEY* key, unsigned char* ivec, const int enc) {
  CfbrStep(in, out, nbits, key, ivec, enc);
}

void AES_cfb8_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                      const AES_KEY* key, unsigned char* ivec, int* num, const int enc) {
  (void)num;
  for (size_t k = 0; k < length; k++) CfbrStep(in + k, out + k, 8, key, ivec, enc);
}

void AES_cfb1_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                      const AES_KEY* key, unsigned char* ivec, int* num, const int enc) {
  (void)num;
  for (size_t k = 0; k < length; k++) {
    const unsigned shift = 7 - static_cast<unsigned>(k % 8);
    const uint8_t c = static_cast<uint8_t>(((in[k / 8] >> shift) & 1u) << 7);
    uint8_t d = 0;
    CfbrStep(&c, &d, 1, key, ivec, enc);
    const uint8_t mask = static_cast<uint8_t>(1u << shift);
    out[k / 8] = static_cast<uint8_t>((out[k / 8] & ~mask) | ((d >> 7) << shift));
  }
}

void AES_ofb128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char* ivec, int* num) {
  // SP 800-38A, 6.4: the keystream is E applied again and again to the IV.
  const unsigned n = KeystreamXor(in, out, length, ivec, static_cast<unsigned>(*num),
                                  [&] { EncryptBlock(ivec, ivec, key); });
  *num = static_cast<int>(n);
}

void AES_ctr128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char ivec[AES_BLOCK_SIZE],
                        unsigned char ecount_buf[AES_BLOCK_SIZE], unsigned int* num) {
  // SP 800-38A, 6.5: the keystream is E of successive counter blocks.
  *num = KeystreamXor(in, out, length, ecount_buf, *num, [&] {
    EncryptBlock(ivec, ecount_buf, key);
    AES_ctr128_inc(ivec);
  });
}
