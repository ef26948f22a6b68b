// DER written by the tests themselves, independently of the library's
// encoder: a tag and its content with the shortest length, SEQUENCEs of
// parts, and non-negative INTEGERs from a value or from big-endian hex.
#ifndef MORVANE_TEST_EVP_DER_BUILD_H
#define MORVANE_TEST_EVP_DER_BUILD_H

#include <cstdint>
#include <initializer_list>
#include <string>

#include "test_support.h"

namespace der_build {

using morvane_test::Bytes;

inline Bytes Der(uint8_t tag, const Bytes& content) {
  Bytes out = {tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
  } else if (n < 0x10000) {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x83, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes Seq(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return Der(0x30, all);
}

// An INTEGER of the big-endian magnitude `v` (a zero octet added before a
// top bit).
inline Bytes IntBytes(Bytes v) {
  if (v.empty() || (v[0] & 0x80)) v.insert(v.begin(), 0);
  return Der(0x02, v);
}

inline Bytes Int(unsigned v) {
  Bytes b;
  do {
    b.insert(b.begin(), static_cast<uint8_t>(v));
    v >>= 8;
  } while (v != 0);
  return IntBytes(b);
}

}  // namespace der_build

#endif  // MORVANE_TEST_EVP_DER_BUILD_H
