// Wycheproof pbkdf2_hmacsha1_test.json through PKCS5_PBKDF2_HMAC_SHA1, shared
// by the default suite (counts up to 100000) and the slow one (above).
#ifndef MORVANE_TEST_HMAC_PBKDF2_WYCHEPROOF_H
#define MORVANE_TEST_HMAC_PBKDF2_WYCHEPROOF_H

#include <string>

#include <gtest/gtest.h>
#include <morvane/evp.h>

#include "test_support.h"

// Runs the cases whose iteration count is above 100000 (`large`) or not;
// returns how many ran.
inline int RunWycheproofPbkdf2(const std::string& path, bool large) {
  using morvane_test::Bytes;
  using morvane_test::FromHex;
  int n = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    const int iter = std::stoi(t.Get("iterationCount"));
    if ((iter > 100000) != large) continue;
    const Bytes pw = FromHex(t.Get("password")), salt = FromHex(t.Get("salt"));
    Bytes dk(std::stoul(t.Get("dkLen")));
    EXPECT_EQ(1, PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(pw.data()),
                                        static_cast<int>(pw.size()), salt.data(),
                                        static_cast<int>(salt.size()), iter,
                                        static_cast<int>(dk.size()), dk.data()));
    EXPECT_EQ(FromHex(t.Get("dk")), dk) << "tcId " << t.id;
    n++;
  }
  return n;
}

#endif  // MORVANE_TEST_HMAC_PBKDF2_WYCHEPROOF_H
