// The processor features that the hardware paths of the ciphers and digests
// use, found with CPUID on first use and cached (no work at load time).
//
// MORVANE_NO_HWCRYPT in the environment, read at that first use, turns
// features off: "1" (or "all") every one of them, else a comma-separated list
// of names ("aesni", "vaes", "vaes512", "shani", "avx2", "avx512", "adx",
// "pclmul", "ifma", "ctr16", "vbmi", "amdmul"); empty or "0" keeps them all.  A name
// also turns off what is built on it: "aesni" both VAES paths, "vaes" the
// 512-bit one as well, "avx2" and "avx512" the 512-bit AES path, the IFMA
// products and the VBMI base64 encoder too; "vaes512" turns off that path
// alone, so that AES runs on 256-bit VAES on a processor that has both,
// "ifma" the radix-2^52 products of the RSA public operations alone, "vbmi"
// the base64 encoder's byte permutations alone, and "ctr16" lets long CTR
// runs on 256-bit VAES take the 24-block passes where the processor would
// take 16-block ones, and "amdmul" gives big-number products and squares
// the crossovers measured on Intel's cores.  It is an internal switch for tests and benchmarks,
// not part of the API.
#ifndef MORVANE_INTERNAL_CPU_H
#define MORVANE_INTERNAL_CPU_H

#include <stdint.h>

#include <atomic>

namespace morvane::internal {

enum Feature : uint32_t {
  kAesni = 1u << 0,    // AES-NI with SSSE3 and SSE4.1
  kVaes = 1u << 1,     // 256-bit VAES with AVX2 (and kAesni)
  kShani = 1u << 2,    // SHA extensions with SSSE3 and SSE4.1
  kAvx2 = 1u << 3,     // AVX2 with BMI1 and BMI2 (and the YMM state enabled)
  kAvx512 = 1u << 4,   // AVX-512F and VL (and their state enabled), with kAvx2
  kAdx = 1u << 5,      // MULX (BMI2) with ADCX and ADOX (ADX): the big-number kernels
  kPclmul = 1u << 6,   // PCLMULQDQ: the GF(2^m) field products of the binary curves
  kVaes512 = 1u << 7,  // 512-bit VAES with AVX-512F (and its state enabled), with kVaes
  kIfma = 1u << 8,     // AVX-512 IFMA (and kAvx512): the radix-2^52 products of RSA's public ops
  // Not a feature but a tuning, with kVaes: long CTR runs on 256-bit VAES in
  // passes of 16 blocks, not 24.  Set on Intel's cores, whose VAES rounds
  // take three cycles (AMD's take four): there 16 blocks keep both units
  // busy, and the 24-block passes measured slower.
  kCtr16 = 1u << 9,
  kVbmi = 1u << 10,  // AVX-512 VBMI and BW (and kAvx512): the base64 encoder
  // A tuning, with kAdx: big-number products take Karatsuba from 32 limbs,
  // not 48, and squares of 48 limbs go by rows, not split into halves.  Set
  // on AMD's cores, where the crossover sweep (bench/bench_bn_sweep.cc)
  // measured both faster; Intel's measured the other way.
  kAmdMul = 1u << 11,
  kKnown = 1u << 31  // set once the features have been looked up
};

extern constinit std::atomic<uint32_t> g_features;
uint32_t DetectFeatures() noexcept;

// The features present and not switched off.  Threads that race on the
// first call compute the same value.
inline uint32_t Features() noexcept {
  const uint32_t v = g_features.load(std::memory_order_relaxed);
  return v != 0 ? v : DetectFeatures();
}

inline bool Has(uint32_t f) noexcept {
  return (Features() & f) == f;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_CPU_H
