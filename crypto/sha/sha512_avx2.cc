// The vector SHA-384/512 compression function for AVX2 with BMI1 and BMI2.
// Built with -mavx2 -mbmi -mbmi2; called only when CPUID reports them and
// not AVX-512VL (sha512.cc).
#define SHA512_VECTOR_FN Sha512BlocksAvx2
#include "sha/sha512_vector.inc"
