// The 2^24-iteration PBKDF2-HMAC-SHA1 cases of RFC 6070 and Wycheproof
// pbkdf2_hmacsha1_test.json.  Labelled "slow": they run only with
// MORVANE_SLOW_TESTS set (MORVANE_SLOW_TESTS=1 ctest -L slow) and skip in
// the default run.

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <morvane/evp.h>

#include "pbkdf2_wycheproof.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

#define SLOW_OR_SKIP()                                                                   \
  if (std::getenv("MORVANE_SLOW_TESTS") == nullptr) {                                    \
    GTEST_SKIP() << "2^24 iterations: set MORVANE_SLOW_TESTS=1 to run (ctest -L slow)"; \
  }

// RFC 6070, 2, test case 4.
TEST(Pbkdf2Slow, Rfc6070SixteenMillionIterations) {
  SLOW_OR_SKIP();
  unsigned char dk[20];
  ASSERT_EQ(1, PKCS5_PBKDF2_HMAC_SHA1("password", 8, reinterpret_cast<const unsigned char*>("salt"),
                                      4, 16777216, 20, dk));
  EXPECT_EQ(FromHex("eefe3d61cd4da4e4e9945b3d6ba2158c2634e984"), Bytes(dk, dk + 20));
}

TEST(Pbkdf2Slow, WycheproofLargeIterationCount) {
  SLOW_OR_SKIP();
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/pbkdf2_hmacsha1_test.json");
  EXPECT_EQ(1, RunWycheproofPbkdf2(path, true));
}

}  // namespace
