// Small helpers of the big-number suites: an owning pointer, numbers from hex
// text, and a number shown as BN_bn2hex prints it.
#ifndef MORVANE_TEST_BN_TEST_UTIL_H
#define MORVANE_TEST_BN_TEST_UTIL_H

#include <morvane/bn.h>
#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace bn_test {

struct BnFree {
  void operator()(BIGNUM* p) const { BN_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

inline Bn Hex(const std::string& text) {
  BIGNUM* n = nullptr;
  EXPECT_EQ(BN_hex2bn(&n, text.c_str()), static_cast<int>(text.size())) << text;
  return Bn(n);
}

// Upper-case hex as BN_bn2hex prints it; "-0" for a negative zero.
inline std::string Show(const BIGNUM* n) {
  if (n->top == 0) return n->neg ? "-0" : "0";
  char* s = BN_bn2hex(n);
  std::string out(s);
  MORVANE_free(s);
  return out;
}

inline std::vector<BN_ULONG> Words(const BIGNUM* n) { return {n->d, n->d + n->top}; }

}  // namespace bn_test

#endif  // MORVANE_TEST_BN_TEST_UTIL_H
