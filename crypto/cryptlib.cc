// Process-wide services of the core: the fatal-assertion stop.

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
