// The DSA suites' keys: the example of FIPS 186-2, Appendix 5, read from
// test/data/dsa/fips186_2.txt.
#ifndef MORVANE_TEST_DSA_DSA_TEST_UTIL_H
#define MORVANE_TEST_DSA_DSA_TEST_UTIL_H

#include <gtest/gtest.h>
#include <morvane/dsa.h>

#include "pk_test_util.h"
#include "test_support.h"

namespace dsa_test {

inline morvane_test::RspRecord Fips186Example() {
  const auto recs = morvane_test::ReadRsp(morvane_test::TestDataFile("dsa/fips186_2.txt"));
  EXPECT_EQ(1u, recs.size());
  return recs.at(0);
}

// The example's key: parameters, and x and y when `with_keys`.
inline pk_test::Dsa Fips186Key(bool with_keys = true) {
  const morvane_test::RspRecord r = Fips186Example();
  pk_test::Dsa dsa(DSA_new());
  dsa->p = pk_test::Hex(r.Get("p"));
  dsa->q = pk_test::Hex(r.Get("q"));
  dsa->g = pk_test::Hex(r.Get("g"));
  if (with_keys) {
    dsa->priv_key = pk_test::Hex(r.Get("x"));
    dsa->pub_key = pk_test::Hex(r.Get("y"));
  }
  return dsa;
}

}  // namespace dsa_test

#endif  // MORVANE_TEST_DSA_DSA_TEST_UTIL_H
