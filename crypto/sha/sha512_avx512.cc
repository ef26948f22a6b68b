// The vector SHA-384/512 compression function for AVX-512VL (256-bit
// registers only) with BMI1 and BMI2.  Built with -mavx512f -mavx512vl -mavx2
// -mbmi -mbmi2; called only when CPUID reports them (sha512.cc).
#define SHA512_VECTOR_FN Sha512BlocksAvx512
#define SHA512_VECTOR_AVX512 1
#include "sha/sha512_vector.inc"
