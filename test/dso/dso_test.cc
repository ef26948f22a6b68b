// Shared-object handles with the null method, the only one in this build:
// loading and binding fail cleanly and leave nothing behind.

#include <gtest/gtest.h>
#include <morvane/dso.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

TEST(Dso, FailuresReportOneErrorEach) {
  // The handle made for the load is freed quietly: one entry only.
  EXPECT_EQ(DSO_load(nullptr, "libexample.so", nullptr, 0), nullptr);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED}});
  EXPECT_EQ(DSO_load(nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_NO_FILENAME}});
  EXPECT_EQ(DSO_bind_func(nullptr, "MORVANE_init"), nullptr);
  EXPECT_EQ(DSO_free(nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_BIND_FUNC, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_DSO, DSO_F_DSO_FREE, ERR_R_PASSED_NULL_PARAMETER}});
}

}  // namespace
