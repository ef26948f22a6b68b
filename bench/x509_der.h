// DER helpers of the X.509 benchmarks (bench_x509.cc, bench_x509_verify.cc).
#ifndef MORVANE_BENCH_X509_DER_H
#define MORVANE_BENCH_X509_DER_H

#include <stddef.h>

#include <vector>

#include <morvane/crypto.h>

namespace bench {

// The DER of v (empty when it does not encode).
template <class T>
std::vector<unsigned char> EncodeWith(int (*i2d)(T*, unsigned char**), T* v) {
  unsigned char* p = nullptr;
  const int n = i2d(v, &p);
  std::vector<unsigned char> out(p, p + (n > 0 ? n : 0));
  MORVANE_free(p);
  return out;
}

// A copy of the DER object with the first two octets of its signature set to
// k: another object of the same name and contents.  The signature is the
// last BIT STRING, so its octets end the encoding; its first two follow the
// unused-bits octet, 256 octets from the end for a 2048-bit key (and a
// signature of 256 octets or more leaves 16 past them).
inline std::vector<unsigned char> WithSignatureHead(const std::vector<unsigned char>& der, int k) {
  std::vector<unsigned char> out = der;
  const size_t at = out.size() - 256;
  out[at] = static_cast<unsigned char>(k >> 8);
  out[at + 1] = static_cast<unsigned char>(k);
  return out;
}

}  // namespace bench

#endif  // MORVANE_BENCH_X509_DER_H
