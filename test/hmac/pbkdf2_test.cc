// PBKDF2 with HMAC-SHA1: RFC 6070, Wycheproof pbkdf2_hmacsha1_test.json
// (the 2^24-iteration cases are in pbkdf2_slow_test), and failures reported
// as failures.

#include <string>

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "pbkdf2_wycheproof.h"
#include "sha1_engine.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

struct Pbkdf2Case {
  std::string pass, salt;
  int iter;
  const char* dk;
};

// RFC 6070, 2 (the 2^24-iteration case is in the slow suite).
const Pbkdf2Case kRfc6070[] = {
    {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
    {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
    {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
    {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
     "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
    {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
     "56fa6aa75548099dcc37d7f03425e0c3"},
};

TEST(Pbkdf2, Rfc6070) {
  for (const Pbkdf2Case& c : kRfc6070) {
    const Bytes want = FromHex(c.dk);
    Bytes dk(want.size());
    ASSERT_EQ(1, PKCS5_PBKDF2_HMAC_SHA1(c.pass.data(), static_cast<int>(c.pass.size()),
                                        reinterpret_cast<const unsigned char*>(c.salt.data()),
                                        static_cast<int>(c.salt.size()), c.iter,
                                        static_cast<int>(dk.size()), dk.data()));
    EXPECT_EQ(want, dk) << c.pass << " " << c.iter;
  }
  // -1 takes the string length.
  unsigned char dk[20];
  ASSERT_EQ(1, PKCS5_PBKDF2_HMAC_SHA1("password", -1, reinterpret_cast<const unsigned char*>("salt"),
                                      4, 1, 20, dk));
  EXPECT_EQ(FromHex(kRfc6070[0].dk), Bytes(dk, dk + 20));
}

// Wycheproof pbkdf2_hmacsha1_test.json; its 2^24-iteration case runs in the
// slow suite only.
TEST(Pbkdf2, Wycheproof) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/pbkdf2_hmacsha1_test.json");
  EXPECT_EQ(63, RunWycheproofPbkdf2(path, false));
}

// With an engine's SHA-1 the derivation runs on HMAC contexts: RFC 6070's
// key again, and a failing digest step fails the derivation (it used to be
// reported as a derived key).  A negative key length is refused.
TEST(Pbkdf2, EngineDigestAndFailures) {
  using hmac_test::g_engine_sha1;
  ENGINE* e = hmac_test::RegisterSha1Engine("sha1-test");
  ASSERT_NE(nullptr, e);
  const auto* salt = reinterpret_cast<const unsigned char*>("salt");
  unsigned char dk[20];
  g_engine_sha1 = *EVP_sha1();
  ASSERT_EQ(1, PKCS5_PBKDF2_HMAC_SHA1("password", 8, salt, 4, 2, 20, dk));
  EXPECT_EQ(FromHex(kRfc6070[1].dk), Bytes(dk, dk + 20));
  g_engine_sha1.final = [](EVP_MD_CTX*, unsigned char*) { return 0; };
  EXPECT_EQ(0, PKCS5_PBKDF2_HMAC_SHA1("password", 8, salt, 4, 2, 20, dk));
  ENGINE_cleanup();
  ENGINE_free(e);
  EXPECT_EQ(0, PKCS5_PBKDF2_HMAC_SHA1("p", 1, salt, 4, 1, -1, dk));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH}});
}

}  // namespace
