// AES modes over byte strings (NIST SP 800-38A): CBC, CFB with 128-, 8- and
// 1-bit feedback and the general r-bit step, OFB and CTR.
//
// Implementation notes: the byte-wise modes keep the offset into the current
// block in the caller's `num`; the whole blocks in the middle of a call go to
// one function per mode, with the same result as byte by byte.  That function
// runs them on AES-NI (or VAES) when the processor has it, else a block at a
// time on the table code.  Each block is read (or copied aside) before its
// output is written, so `in` may equal `out`.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/aes_local.h"
#include "internal/cpu.h"

using namespace aes_internal;
using morvane_cpu::kAesni;
using morvane_cpu::kVaes;

namespace {

// The VAES code pays off from this many blocks on.
constexpr size_t kVaesMinBlocks = 16;

// Counter increment: the 16 bytes as one big-endian 128-bit number, modulo
// 2^128 (SP 800-38A, B.1, with the whole block as the counter).
void AES_ctr128_inc(uint8_t* counter) {
  const uint64_t lo = __builtin_bswap64(Load64(counter + 8)) + 1;
  const uint64_t hi = __builtin_bswap64(Load64(counter)) + (lo == 0 ? 1 : 0);
  Store64(counter, __builtin_bswap64(hi));
  Store64(counter + 8, __builtin_bswap64(lo));
}

// ---- Whole blocks of each mode ----
// `blocks` is at least 1; `iv` carries the chaining value in and out.

// SP 800-38A, 6.2: C[j] = E(P[j] XOR C[j-1]).
void CbcEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                      uint8_t* iv) {
  if (morvane_cpu::Has(kAesni)) return aes_hw::NiCbcEncrypt(in, out, blocks, key, iv);
  const uint8_t* prev = iv;
  for (; blocks != 0; blocks--, in += kBlock, out += kBlock) {
    XorBlock(out, in, prev);
    EncryptBlock(out, out, key);
    prev = out;
  }
  CopyBlock(iv, prev);
}

// P[j] = D(C[j]) XOR C[j-1].  Each ciphertext block is copied aside before
// its plaintext is written over it when the call runs in place.
void CbcDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                      uint8_t* iv) {
  const uint32_t f = morvane_cpu::Features();
  if ((f & kVaes) && blocks >= kVaesMinBlocks)
    return aes_hw::VaesCbcDecrypt(in, out, blocks, key, iv);
  if (f & kAesni) return aes_hw::NiCbcDecrypt(in, out, blocks, key, iv);
  uint8_t prev[kBlock];
  uint8_t c[kBlock];
  CopyBlock(prev, iv);
  for (; blocks != 0; blocks--, in += kBlock, out += kBlock) {
    CopyBlock(c, in);
    DecryptBlock(c, out, key);
    XorBlock(out, out, prev);
    CopyBlock(prev, c);
  }
  CopyBlock(iv, prev);
}

// SP 800-38A, 6.3, with the ciphertext block as the next feedback register.
void CfbEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                      uint8_t* iv) {
  if (morvane_cpu::Has(kAesni)) return aes_hw::NiCfbEncrypt(in, out, blocks, key, iv);
  for (; blocks != 0; blocks--, in += kBlock, out += kBlock) {
    EncryptBlock(iv, iv, key);
    XorBlock(iv, iv, in);
    CopyBlock(out, iv);
  }
}

void CfbDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                      uint8_t* iv) {
  const uint32_t f = morvane_cpu::Features();
  if ((f & kVaes) && blocks >= kVaesMinBlocks)
    return aes_hw::VaesCfbDecrypt(in, out, blocks, key, iv);
  if (f & kAesni) return aes_hw::NiCfbDecrypt(in, out, blocks, key, iv);
  for (; blocks != 0; blocks--, in += kBlock, out += kBlock) {
    uint8_t c[kBlock];
    EncryptBlock(iv, iv, key);
    CopyBlock(c, in);
    XorBlock(out, iv, c);
    CopyBlock(iv, c);
  }
}

// SP 800-38A, 6.4: the keystream is E applied again and again to the IV,
// which ends as the last keystream block.
void OfbBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* iv) {
  if (morvane_cpu::Has(kAesni)) return aes_hw::NiOfb(in, out, blocks, key, iv);
  for (; blocks != 0; blocks--, in += kBlock, out += kBlock) {
    EncryptBlock(iv, iv, key);
    XorBlock(out, in, iv);
  }
}

// SP 800-38A, 6.5: the keystream is E of successive counter blocks; `ks` ends
// as the last keystream block and `ctr` as the counter of the next one.
void CtrBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
               uint8_t* ks) {
  const uint32_t f = morvane_cpu::Features();
  if ((f & kVaes) && blocks >= kVaesMinBlocks)
    return aes_hw::VaesCtr(in, out, blocks, key, ctr, ks);
  if (f & kAesni) return aes_hw::NiCtr(in, out, blocks, key, ctr, ks);
  for (; blocks != 0; blocks--, in += kBlock, out += kBlock) {
    EncryptBlock(ctr, ks, key);
    AES_ctr128_inc(ctr);
    XorBlock(out, in, ks);
  }
}

// ---- Byte-wise stream modes ----

// XORs `len` bytes with a keystream used from offset `n` of the block `ks`;
// `next` refills `ks` with the next keystream block whenever the offset
// wraps to 0, and `whole(in, out, blocks)` runs whole blocks from offset 0
// the same way.  Returns the new offset.  Shared by OFB and CTR.
template <class NextBlock, class WholeBlocks>
unsigned KeystreamXor(const uint8_t* in, uint8_t* out, size_t len, uint8_t* ks, unsigned n,
                      NextBlock next, WholeBlocks whole) {
  for (; n != 0 && len != 0; len--) {
    *out++ = *in++ ^ ks[n];
    n = (n + 1) % kBlock;
  }
  if (const size_t blocks = len / kBlock; blocks != 0) {
    whole(in, out, blocks);
    in += blocks * kBlock;
    out += blocks * kBlock;
    len %= kBlock;
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
  const size_t blocks = length / kBlock;
  const size_t rest = length % kBlock;
  if (enc == AES_ENCRYPT) {
    if (blocks != 0) CbcEncryptBlocks(in, out, blocks, key, ivec);
    if (rest != 0) {
      // A short last block is padded with zero bytes, so its missing bytes
      // take the chaining value.
      in += blocks * kBlock;
      out += blocks * kBlock;
      uint8_t block[kBlock];
      CopyBlock(block, ivec);
      for (size_t n = 0; n < rest; n++) block[n] ^= in[n];
      EncryptBlock(block, out, key);
      CopyBlock(ivec, out);
    }
    return;
  }
  if (blocks != 0) CbcDecryptBlocks(in, out, blocks, key, ivec);
  if (rest != 0) {
    // The whole ciphertext block is read; only `rest` bytes are written.
    in += blocks * kBlock;
    out += blocks * kBlock;
    uint8_t c[kBlock];
    uint8_t p[kBlock];
    CopyBlock(c, in);
    DecryptBlock(c, p, key);
    for (size_t n = 0; n < rest; n++) out[n] = p[n] ^ ivec[n];
    CopyBlock(ivec, c);
  }
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
    if (const size_t blocks = length / kBlock; blocks != 0) {
      CfbEncryptBlocks(in, out, blocks, key, ivec);
      in += blocks * kBlock;
      out += blocks * kBlock;
      length %= kBlock;
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
    if (const size_t blocks = length / kBlock; blocks != 0) {
      CfbDecryptBlocks(in, out, blocks, key, ivec);
      in += blocks * kBlock;
      out += blocks * kBlock;
      length %= kBlock;
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
  const unsigned n = KeystreamXor(
      in, out, length, ivec, static_cast<unsigned>(*num), [&] { EncryptBlock(ivec, ivec, key); },
      [&](const uint8_t* i, uint8_t* o, size_t blocks) { OfbBlocks(i, o, blocks, key, ivec); });
  *num = static_cast<int>(n);
}

void AES_ctr128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char ivec[AES_BLOCK_SIZE],
                        unsigned char ecount_buf[AES_BLOCK_SIZE], unsigned int* num) {
  *num = KeystreamXor(
      in, out, length, ecount_buf, *num,
      [&] {
        EncryptBlock(ivec, ecount_buf, key);
        AES_ctr128_inc(ivec);
      },
      [&](const uint8_t* i, uint8_t* o, size_t blocks) {
        CtrBlocks(i, o, blocks, key, ivec, ecount_buf);
      });
}
