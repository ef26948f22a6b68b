// Looks up the processor features of crypto/internal/cpu.h once, with CPUID
// and XGETBV, and applies the MORVANE_NO_HWCRYPT switch.

#include <stdlib.h>
#include <string.h>

#include <cpuid.h>

#include "internal/cpu.h"

namespace morvane::internal {

constinit std::atomic<uint32_t> g_features{0};

namespace {

// The features named in the switch's comma-separated list.
uint32_t Named(const char* list) {
  struct Name {
    const char* name;
    uint32_t bits;
  };
  static constexpr Name kNames[] = {{"aesni", kAesni | kVaes | kVaes512},
                                    {"vaes", kVaes | kVaes512},
                                    {"vaes512", kVaes512},
                                    {"shani", kShani},
                                    {"avx2", kAvx2 | kAvx512 | kVaes512 | kIfma | kVbmi},
                                    {"avx512", kAvx512 | kVaes512 | kIfma | kVbmi},
                                    {"adx", kAdx},
                                    {"pclmul", kPclmul},
                                    {"ifma", kIfma},
                                    {"ctr16", kCtr16},
                                    {"vbmi", kVbmi},
                                    {"amdmul", kAmdMul}};
  uint32_t off = 0;
  for (const char* p = list; *p != '\0';) {
    const char* end = strchr(p, ',');
    const size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    for (const Name& k : kNames)
      if (strlen(k.name) == n && strncmp(p, k.name, n) == 0) off |= k.bits;
    p += n;
    if (*p == ',') p++;
  }
  return off;
}

uint32_t Switched() {
  const char* v = secure_getenv("MORVANE_NO_HWCRYPT");
  if (v == nullptr || *v == '\0' || strcmp(v, "0") == 0) return 0;
  if (strcmp(v, "1") == 0 || strcmp(v, "all") == 0) return ~kKnown;
  return Named(v);
}

uint32_t Lookup() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  const bool ssse3 = c & bit_SSSE3, sse41 = c & bit_SSE4_1, aes = c & bit_AES;
  const bool osxsave = c & bit_OSXSAVE, avx = c & bit_AVX, pclmul = c & bit_PCLMUL;
  bool ymm_state = false, zmm_state = false;
  if (osxsave) {
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    ymm_state = (lo & 0x06) == 0x06;  // XMM and YMM state saved by the system
    zmm_state = (lo & 0xe6) == 0xe6;  // and the opmask and ZMM state
  }
  unsigned b7 = 0, c7 = 0;
  if (__get_cpuid_max(0, nullptr) >= 7) __cpuid_count(7, 0, a, b7, c7, d);
  uint32_t f = 0;
  if (aes && ssse3 && sse41) f |= kAesni;
  if ((f & kAesni) && avx && ymm_state && (b7 & bit_AVX2) && (c7 & bit_VAES)) f |= kVaes;
  if (ssse3 && sse41 && (b7 & bit_SHA)) f |= kShani;
  if (avx && ymm_state && (b7 & bit_AVX2) && (b7 & bit_BMI) && (b7 & bit_BMI2)) f |= kAvx2;
  if ((b7 & bit_BMI2) && (b7 & bit_ADX)) f |= kAdx;
  if (pclmul) f |= kPclmul;
  if ((f & kAvx2) && zmm_state && (b7 & bit_AVX512F) && (b7 & bit_AVX512VL)) f |= kAvx512;
  if ((f & kVaes) && zmm_state && (b7 & bit_AVX512F)) f |= kVaes512;
  if ((f & kAvx512) && (b7 & bit_AVX512IFMA)) f |= kIfma;
  if ((f & kAvx512) && (b7 & bit_AVX512BW) && (c7 & bit_AVX512VBMI)) f |= kVbmi;
  unsigned vendor[3] = {0, 0, 0};  // EBX, EDX, ECX of leaf 0
  __cpuid(0, a, vendor[0], vendor[2], vendor[1]);
  if ((f & kVaes) && memcmp(vendor, "GenuineIntel", 12) == 0) f |= kCtr16;
  if ((f & kAdx) && memcmp(vendor, "AuthenticAMD", 12) == 0) f |= kAmdMul;
  return f;
}

}  // namespace

uint32_t DetectFeatures() noexcept {
  const uint32_t v = (Lookup() & ~Switched()) | kKnown;
  g_features.store(v, std::memory_order_relaxed);
  return v;
}

}  // namespace morvane::internal
