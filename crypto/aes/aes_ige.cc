// AES in infinite garble extension (IGE) mode, and bidirectional IGE, which
// runs IGE once forwards and once backwards so that every output block
// depends on the whole message.
//
// IGE: C[i] = E(P[i] XOR C[i-1]) XOR P[i-1], with C[0] and P[0] the two IV
// halves; decryption is P[i] = D(C[i] XOR P[i-1]) XOR C[i-1].

#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>
#include <morvane/crypto.h>

#include "aes/internal.h"

using namespace morvane::aes;

namespace {

// The preconditions of both IGE functions, checked in this order; a broken
// one ends the process through MorvaneDie with these fixed texts.
void CheckIgeArgs(const void* in, const void* out, const AES_KEY* key, const void* ivec,
                  size_t length, int enc) {
  if (!(in && out && key && ivec)) MorvaneDie("aes/aes_ige", __LINE__, "in && out && key && ivec");
  if (enc != AES_ENCRYPT && enc != AES_DECRYPT)
    MorvaneDie("aes/aes_ige", __LINE__, "(AES_ENCRYPT == enc)||(AES_DECRYPT == enc)");
  if (length % AES_BLOCK_SIZE != 0)
    MorvaneDie("aes/aes_ige", __LINE__, "(length%AES_BLOCK_SIZE) == 0");
}

// One IGE pass over `nblocks` blocks from `in` to `out`, first block to last
// (`step` +1) or last to first (`step` -1).  `c` and `p` are the previous
// ciphertext and plaintext blocks, updated as the pass goes.  Each input block
// is copied aside before its output is written, so `in` may equal `out`.
void IgePass(const uint8_t* in, uint8_t* out, size_t nblocks, int step, const AES_KEY* key,
             uint8_t* c, uint8_t* p, bool encrypt) {
  if (nblocks == 0) return;
  ptrdiff_t at = step > 0 ? 0 : static_cast<ptrdiff_t>((nblocks - 1) * kBlock);
  const ptrdiff_t stride = step * static_cast<ptrdiff_t>(kBlock);
  uint8_t x[kBlock];
  uint8_t t[kBlock];
  for (size_t i = 0; i < nblocks; i++, at += stride) {
    CopyBlock(x, in + at);
    if (encrypt) {
      XorBlock(t, x, c);
      EncryptBlock(t, t, key);
      XorBlock(out + at, t, p);
      CopyBlock(c, out + at);
      CopyBlock(p, x);
    } else {
      XorBlock(t, x, p);
      DecryptBlock(t, t, key);
      XorBlock(out + at, t, c);
      CopyBlock(c, x);
      CopyBlock(p, out + at);
    }
  }
}

}  // namespace

/* see morvane/aes.h */
void AES_ige_encrypt(const unsigned char* in, unsigned char* out, size_t length, const AES_KEY* key,
                     unsigned char* ivec, const int enc) {
  CheckIgeArgs(in, out, key, ivec, length, enc);
  uint8_t c[kBlock];
  uint8_t p[kBlock];
  CopyBlock(c, ivec);
  CopyBlock(p, ivec + kBlock);
  IgePass(in, out, length / kBlock, +1, key, c, p, enc == AES_ENCRYPT);
  CopyBlock(ivec, c);
  CopyBlock(ivec + kBlock, p);
}

void AES_bi_ige_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, const AES_KEY* key2, const unsigned char* ivec,
                        const int enc) {
  CheckIgeArgs(in, out, key, ivec, length, enc);
  // Both passes run with `key`, as messages already made this way expect.
  (void)key2;
  const size_t nblocks = length / kBlock;
  uint8_t fc[kBlock], fp[kBlock], bc[kBlock], bp[kBlock];
  CopyBlock(fc, ivec);
  CopyBlock(fp, ivec + kBlock);
  CopyBlock(bc, ivec + 2 * kBlock);
  CopyBlock(bp, ivec + 3 * kBlock);
  if (enc == AES_ENCRYPT) {
    IgePass(in, out, nblocks, +1, key, fc, fp, true);
    IgePass(out, out, nblocks, -1, key, bc, bp, true);
  } else {
    IgePass(in, out, nblocks, -1, key, bc, bp, false);
    IgePass(out, out, nblocks, +1, key, fc, fp, false);
  }
}
