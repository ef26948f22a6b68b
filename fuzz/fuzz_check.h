// The fuzz targets' assertion: a failed check names itself on standard error
// and aborts, so libFuzzer keeps the input that broke it.
#ifndef MORVANE_FUZZ_CHECK_H
#define MORVANE_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

inline void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

#endif  // MORVANE_FUZZ_CHECK_H
