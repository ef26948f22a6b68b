// Internal interface of the AES component: the block functions the modes run
// on and the byte helpers they share.
//
// The modes call aes_internal::EncryptBlock/DecryptBlock rather than the
// exported entry points, so that the calls stay inside the library and a
// hardware path can later be chosen inside those two functions (and the key
// setup) without touching any mode.
#ifndef MORVANE_CRYPTO_AES_AES_LOCAL_H
#define MORVANE_CRYPTO_AES_AES_LOCAL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/aes.h>

namespace aes_internal {

constexpr size_t kBlock = AES_BLOCK_SIZE;

// One block under an encryption (resp. decryption) schedule; `in` may equal
// `out`.
void EncryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept;
void DecryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept;

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

}  // namespace aes_internal

#endif  // MORVANE_CRYPTO_AES_AES_LOCAL_H
