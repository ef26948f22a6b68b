// The few memcheck client requests the constant-time harness uses, issued
// directly: a client request is the address of six words (the request code
// and five arguments) in %rax and a default result in %rdx, followed by the
// marker sequence below, which does nothing on a real processor (the four
// rotations of %rdi add up to 128 bits) and which valgrind's translator
// recognises; the result comes back in %rdx.  Outside valgrind every request
// returns its default, 0.  x86-64 only (test/ct/CMakeLists.txt skips the
// harness elsewhere).
#ifndef MORVANE_TEST_CT_VG_REQUESTS_H
#define MORVANE_TEST_CT_VG_REQUESTS_H

#include <stddef.h>

#if !defined(__x86_64__)
#error "the constant-time harness issues valgrind requests on x86-64 only"
#endif

static inline unsigned long morvane_vg_request(unsigned long code, unsigned long a1,
                                               unsigned long a2, unsigned long a3) {
  volatile unsigned long args[6] = {code, a1, a2, a3, 0, 0};
  unsigned long result = 0;
  __asm__ volatile(
      "rolq $3, %%rdi ; rolq $13, %%rdi\n\t"
      "rolq $61, %%rdi ; rolq $51, %%rdi\n\t"
      "xchgq %%rbx, %%rbx"
      : "=d"(result)
      : "a"(&args[0]), "0"(result)
      : "cc", "memory");
  return result;
}

// Request codes: the core's "running on valgrind" query, and memcheck's
// requests, numbered from its tool base ('M' << 24 | 'C' << 16).
enum : unsigned long {
  kMorvaneVgRunning = 0x1001,
  kMorvaneVgMemcheckBase = (0x4DUL << 24) | (0x43UL << 16),
  kMorvaneVgMakeUndefined = kMorvaneVgMemcheckBase + 1,
  kMorvaneVgMakeDefined = kMorvaneVgMemcheckBase + 2,
  kMorvaneVgSetVbits = kMorvaneVgMemcheckBase + 9,
};

// How many valgrind layers the program runs under (0: none).
#define RUNNING_ON_VALGRIND (morvane_vg_request(kMorvaneVgRunning, 0, 0, 0))
// Marks n bytes at p as holding undefined (secret) or defined values.
#define VALGRIND_MAKE_MEM_UNDEFINED(p, n) \
  morvane_vg_request(kMorvaneVgMakeUndefined, (unsigned long)(p), (unsigned long)(n), 0)
#define VALGRIND_MAKE_MEM_DEFINED(p, n) \
  morvane_vg_request(kMorvaneVgMakeDefined, (unsigned long)(p), (unsigned long)(n), 0)
// Sets the definedness bits of n bytes at p from the bytes at vbits (a set
// bit: that bit undefined).
#define VALGRIND_SET_VBITS(p, vbits, n)                                                   \
  morvane_vg_request(kMorvaneVgSetVbits, (unsigned long)(p), (unsigned long)(vbits), \
                     (unsigned long)(n))

#endif
