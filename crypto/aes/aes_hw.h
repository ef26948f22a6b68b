// The hardware paths of AES: AES-NI (aes_ni.cc), 256-bit VAES (aes_vaes.cc)
// and 512-bit VAES (aes_vaes512.cc).  They read and write the same AES_KEY words as the portable
// code and give the same bytes; aes_core.cc and aes_modes.cc choose them at
// run time (crypto/internal/cpu.h).
//
// This header declares functions only.  The files that hold the intrinsics
// are built with instruction-set flags, so they must not include headers with
// inline functions that other files also use: the linker could keep the copy
// built with those flags for every caller.
#ifndef MORVANE_CRYPTO_AES_AES_HW_H
#define MORVANE_CRYPTO_AES_AES_HW_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>

namespace morvane::aes {

// One block, as morvane::aes::EncryptBlock/DecryptBlock.
void NiEncryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept;
void NiDecryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept;

// The encryption schedule of a 128- or 256-bit key (FIPS-197, 5.2).
void NiExpandKey(const uint8_t* user_key, int bits, AES_KEY* key) noexcept;
// Turns an encryption schedule into the decryption schedule of the
// equivalent inverse cipher (FIPS-197, 5.3.5), in place.
void NiInvertSchedule(AES_KEY* key) noexcept;

// Whole blocks of the modes; `iv` (16 bytes) carries the chaining value in
// and out exactly as the block-by-block code leaves it.  `in` may equal
// `out`.  CTR leaves the counter of the next block in `ctr` and the last
// keystream block in `ks`.
void NiCbcEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept;
void NiCbcDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept;
void NiCfbEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept;
void NiCfbDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                  uint8_t* iv) noexcept;
void NiOfb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
           uint8_t* iv) noexcept;
void NiCtr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
           uint8_t* ks) noexcept;
// ECB over whole blocks: the cipher under an encryption schedule, or the
// inverse cipher under a decryption schedule.
void NiEcb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
           bool encrypt) noexcept;

// The parallel modes with two blocks to a 256-bit register: at least 16
// blocks, or any number for CTR.
void VaesCbcDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                    uint8_t* iv) noexcept;
void VaesCfbDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                    uint8_t* iv) noexcept;
void VaesCtr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
             uint8_t* ks) noexcept;
void VaesEcb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
             bool encrypt) noexcept;

// The same with four blocks to a 512-bit register, for any number of blocks.
void Vaes512CbcDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                       uint8_t* iv) noexcept;
void Vaes512CfbDecrypt(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                       uint8_t* iv) noexcept;
void Vaes512Ctr(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key, uint8_t* ctr,
                uint8_t* ks) noexcept;
void Vaes512Ecb(const uint8_t* in, uint8_t* out, size_t blocks, const AES_KEY* key,
                bool encrypt) noexcept;

}  // namespace morvane::aes

#endif  // MORVANE_CRYPTO_AES_AES_HW_H
