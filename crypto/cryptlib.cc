// Process-wide services of the core: the fatal-assertion stop and the
// platform probes.

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <morvane/crypto.h>

/* see morvane/crypto.h */
void MORVANE_showfatal(const char* fmta, ...) {
  va_list ap;
  va_start(ap, fmta);
  vfprintf(stderr, fmta, ap);
  va_end(ap);
}

void MorvaneDie(const char* file, int line, const char* assertion) {
  MORVANE_showfatal("%s(%d): Morvane internal error, assertion failed: %s\n", file, line,
                    assertion);
  abort();
}

int MORVANE_NONPIC_relocated = 0;

FILE* MORVANE_stderr(void) { return stderr; }

int MORVANE_isservice(void) { return 0; }

// No processor-capability vector on this platform.
unsigned long* MORVANE_ia32cap_loc(void) { return nullptr; }

void MORVANE_cpuid_setup(void) {}
