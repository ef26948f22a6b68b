// The hardware compression functions, chosen at run time: SHA-1 and SHA-256
// on the SHA extensions (sha_ni.cc), SHA-384/512 with AVX2 and BMI2
// (sha512_avx2.cc) or AVX-512VL (sha512_avx512.cc).  They update the same chaining words as the portable
// code, with the same result.
//
// This header declares functions only: those files are built with
// instruction-set flags and must not include headers with inline functions
// that other files also use (the linker could keep its copy for every caller).
#ifndef MORVANE_CRYPTO_SHA_SHA_HW_H
#define MORVANE_CRYPTO_SHA_SHA_HW_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/sha.h>

namespace morvane::sha {

// `num` 64-byte blocks at `in` (any alignment); 0 processes nothing.
void Sha1Blocks(SHA_CTX* ctx, const uint8_t* in, size_t num) noexcept;
void Sha256Blocks(SHA256_CTX* ctx, const uint8_t* in, size_t num) noexcept;
// `num` 128-byte blocks.
void Sha512BlocksAvx2(SHA512_CTX* ctx, const uint8_t* in, size_t num) noexcept;
void Sha512BlocksAvx512(SHA512_CTX* ctx, const uint8_t* in, size_t num) noexcept;

}  // namespace morvane::sha

#endif  // MORVANE_CRYPTO_SHA_SHA_HW_H
