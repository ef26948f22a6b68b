// DER helpers of the X.509 structure tests: encoding through an i2d function
// and decoding through a d2i function that must take the whole input.
#ifndef MORVANE_TEST_X509_DER_UTIL_H
#define MORVANE_TEST_X509_DER_UTIL_H

#include <string>

#include <morvane/crypto.h>

#include "test_support.h"

namespace x509_test {

using morvane_test::Bytes;

// The encoding written by the allocating form; the measuring form must agree.
template <class T>
Bytes Encode(int (*i2d)(T*, unsigned char**), T* v) {
  unsigned char* der = nullptr;
  const int n = i2d(v, &der);
  EXPECT_EQ(n, i2d(v, nullptr));
  if (n <= 0) return {};
  Bytes out(der, der + n);
  MORVANE_free(der);
  return out;
}

// The value decoded from all of `der`, or null (the test fails when octets
// remain).
template <class T>
T* Decode(T* (*d2i)(T**, const unsigned char**, long), const Bytes& der) {
  const unsigned char* p = der.data();
  T* v = d2i(nullptr, &p, static_cast<long>(der.size()));
  if (v != nullptr) {
    EXPECT_EQ(der.data() + der.size(), p) << "octets left after the value";
  }
  return v;
}

// One element: tag, the shortest definite length (X.690, 8.1.3) and content.
inline Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    Bytes len;
    for (size_t v = n; v != 0; v >>= 8) len.insert(len.begin(), static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(0x80 | len.size()));
    out.insert(out.end(), len.begin(), len.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& b : parts) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace x509_test

#endif  // MORVANE_TEST_X509_DER_UTIL_H
