// Shared-object handles with the null method, the only one in this build:
// loading and binding fail cleanly and leave nothing behind.

#include <gtest/gtest.h>
#include <morvane/dso.h>
#include <morvane/err.h>

namespace {

void ExpectError(int func, int reason) {
  const unsigned long e = ERR_get_error();
  EXPECT_EQ(ERR_GET_LIB(e), ERR_LIB_DSO);
  EXPECT_EQ(ERR_GET_FUNC(e), func);
  EXPECT_EQ(ERR_GET_REASON(e), reason);
}

TEST(Dso, LoadIsNotSupported) {
  EXPECT_EQ(DSO_load(nullptr, "libexample.so", nullptr, 0), nullptr);
  ExpectError(DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED);
  EXPECT_EQ(ERR_peek_error(), 0UL);  // the handle made for the call is freed quietly
}

TEST(Dso, LoadWithoutFileName) {
  EXPECT_EQ(DSO_load(nullptr, nullptr, nullptr, 0), nullptr);
  ExpectError(DSO_F_DSO_LOAD, DSO_R_NO_FILENAME);
  EXPECT_EQ(ERR_peek_error(), 0UL);
}

TEST(Dso, NullArguments) {
  EXPECT_EQ(DSO_bind_func(nullptr, "MORVANE_init"), nullptr);
  ExpectError(DSO_F_DSO_BIND_FUNC, ERR_R_PASSED_NULL_PARAMETER);
  EXPECT_EQ(DSO_free(nullptr), 0);
  ExpectError(DSO_F_DSO_FREE, ERR_R_PASSED_NULL_PARAMETER);
}

}  // namespace
