// The DER of a value through its encoder, as bytes (empty when it does not
// encode), for the fuzz targets' round-trip checks and the seed makers.
#ifndef MORVANE_FUZZ_DER_H
#define MORVANE_FUZZ_DER_H

#include <vector>

#include <morvane/crypto.h>

template <class T>
std::vector<unsigned char> DerOf(int (*i2d)(T*, unsigned char**), T* x) {
  unsigned char* der = nullptr;
  const int n = i2d(x, &der);
  std::vector<unsigned char> v;
  if (n > 0) v.assign(der, der + n);
  MORVANE_free(der);
  return v;
}

#endif  // MORVANE_FUZZ_DER_H
