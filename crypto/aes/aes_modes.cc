// AES modes over byte strings (NIST SP 800-38A): CBC, CFB with 128-, 8- and
// 1-bit feedback and the general r-bit step, OFB and CTR, and ECB over whole
// blocks for the envelope, on the shared modes layer (internal/modes.h).
//
// Implementation notes: the whole blocks in the middle of a call run on
// AES-NI (or VAES) when the processor has them, through the description's
// bulk(); otherwise the layer runs them a block at a time on the table code.

#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/internal.h"
#include "internal/cpu.h"
#include "internal/modes.h"

namespace {

namespace internal = morvane::internal;
using internal::Bulk;
using morvane::internal::kAesni;
using morvane::internal::kVaes;
using morvane::internal::kVaes512;

// The 256-bit VAES code pays off from this many blocks on; the 512-bit code,
// which takes any count, and the 256-bit CTR code, which does too, from this
// many (measured: bench/RESULTS.md).
constexpr size_t kVaesMinBlocks = 16;
constexpr size_t kVaes512MinBlocks = 8;
constexpr size_t kVaesCtrMinBlocks = 8;

struct Aes {
  static constexpr size_t kBlockSize = AES_BLOCK_SIZE;
  using Key = AES_KEY;
  using Block = morvane::aes::Block;
  [[gnu::always_inline]] static Block encrypt(Block b, const AES_KEY* key) {
    return morvane::aes::Encrypt(b, key);
  }
  [[gnu::always_inline]] static Block decrypt(Block b, const AES_KEY* key) {
    return morvane::aes::Decrypt(b, key);
  }
  // The hardware kernels, chosen as the processor allows: 512-bit VAES, then
  // 256-bit VAES, then AES-NI.
  static bool bulk(Bulk op, const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                   uint8_t* iv, uint8_t* ks) {
    namespace aes = morvane::aes;
    const uint32_t f = morvane::internal::Features();
    const bool ni = (f & kAesni) != 0;
    const bool vaes512 = blocks >= kVaes512MinBlocks && (f & kVaes512);
    const bool vaes = blocks >= kVaesMinBlocks && (f & kVaes);
    // Each kernel leaves `iv` (and `ks`) as the block-by-block code would.
    switch (op) {
      case Bulk::kEcbEncrypt:
      case Bulk::kEcbDecrypt: {
        const bool encrypt = op == Bulk::kEcbEncrypt;
        if (vaes512)
          aes::Vaes512Ecb(in, out, blocks, key, encrypt);
        else if (vaes)
          aes::VaesEcb(in, out, blocks, key, encrypt);
        else if (ni)
          aes::NiEcb(in, out, blocks, key, encrypt);
        else
          return false;
        return true;
      }
      case Bulk::kCbcEncrypt:
        if (!ni) return false;
        aes::NiCbcEncrypt(in, out, blocks, key, iv);
        return true;
      case Bulk::kCbcDecrypt:
        if (vaes512)
          aes::Vaes512CbcDecrypt(in, out, blocks, key, iv);
        else if (vaes)
          aes::VaesCbcDecrypt(in, out, blocks, key, iv);
        else if (ni)
          aes::NiCbcDecrypt(in, out, blocks, key, iv);
        else
          return false;
        return true;
      case Bulk::kCfbEncrypt:
        if (!ni) return false;
        aes::NiCfbEncrypt(in, out, blocks, key, iv);
        return true;
      case Bulk::kCfbDecrypt:
        if (vaes512)
          aes::Vaes512CfbDecrypt(in, out, blocks, key, iv);
        else if (vaes)
          aes::VaesCfbDecrypt(in, out, blocks, key, iv);
        else if (ni)
          aes::NiCfbDecrypt(in, out, blocks, key, iv);
        else
          return false;
        return true;
      case Bulk::kOfb:
        if (!ni) return false;
        aes::NiOfb(in, out, blocks, key, iv);
        return true;
      case Bulk::kCtr:
        if (vaes512)
          aes::Vaes512Ctr(in, out, blocks, key, iv, ks);
        else if (blocks >= kVaesCtrMinBlocks && (f & kVaes))
          aes::VaesCtr(in, out, blocks, key, iv, ks);
        else if (ni)
          aes::NiCtr(in, out, blocks, key, iv, ks);
        else
          return false;
        return true;
    }
    return false;
  }
};

}  // namespace

void morvane::aes::EcbBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                             bool encrypt) noexcept {
  // One block, as a short update gives, the way AES_ecb_encrypt goes.
  if (blocks == 1) return encrypt ? EncryptBlock(in, out, key) : DecryptBlock(in, out, key);
  internal::ecb_blocks<Aes>(in, out, blocks, key, encrypt);
}

/* see morvane/aes.h */
void AES_cbc_encrypt(const unsigned char* in, unsigned char* out, size_t length, const AES_KEY* key,
                     unsigned char* ivec, const int enc) {
  internal::cbc<Aes>(in, out, length, key, ivec, enc == AES_ENCRYPT);
}

void AES_cfb128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char* ivec, int* num, const int enc) {
  internal::cfb<Aes>(in, out, length, key, ivec, num, enc != 0);
}

void AES_cfbr_encrypt_block(const unsigned char* in, unsigned char* out, const int nbits,
                            const AES_KEY* key, unsigned char* ivec, const int enc) {
  if (nbits > 0)
    internal::cfb_bits<Aes>(in, out, 1, static_cast<size_t>(nbits), key, ivec, enc != 0);
}

void AES_cfb8_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                      const AES_KEY* key, unsigned char* ivec, int* num, const int enc) {
  (void)num;
  internal::cfb_bits<Aes>(in, out, length, 8, key, ivec, enc != 0);
}

void AES_cfb1_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                      const AES_KEY* key, unsigned char* ivec, int* num, const int enc) {
  (void)num;
  internal::cfb1<Aes>(in, out, length, key, ivec, enc != 0);
}

void AES_ofb128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char* ivec, int* num) {
  internal::ofb<Aes>(in, out, length, key, ivec, num);
}

void AES_ctr128_encrypt(const unsigned char* in, unsigned char* out, size_t length,
                        const AES_KEY* key, unsigned char ivec[AES_BLOCK_SIZE],
                        unsigned char ecount_buf[AES_BLOCK_SIZE], unsigned int* num) {
  internal::ctr<Aes>(in, out, length, key, ivec, ecount_buf, num);
}
