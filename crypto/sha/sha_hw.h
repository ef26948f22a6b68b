// The SHA-1 and SHA-256 compression functions on the SHA extensions
// (sha_ni.cc), chosen at run time by sha1.cc and sha256.cc.  They update the
// same chaining words as the portable code, with the same result.
//
// This header declares functions only: sha_ni.cc is built with
// instruction-set flags and must not include headers with inline functions
// that other files also use (the linker could keep its copy for every caller).
#ifndef MORVANE_CRYPTO_SHA_SHA_HW_H
#define MORVANE_CRYPTO_SHA_SHA_HW_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/sha.h>

namespace sha_hw {

// `num` 64-byte blocks at `in` (any alignment); 0 processes nothing.
void Sha1Blocks(SHA_CTX* ctx, const uint8_t* in, size_t num) noexcept;
void Sha256Blocks(SHA256_CTX* ctx, const uint8_t* in, size_t num) noexcept;

}  // namespace sha_hw

#endif  // MORVANE_CRYPTO_SHA_SHA_HW_H
