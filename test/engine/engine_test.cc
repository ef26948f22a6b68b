// The built-in engine loader.

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

TEST(Engine, LoadingTheBuiltInEnginesClearsTheErrorQueue) {
  ERR_put_error(ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE, "t.cc", 1);
  ENGINE_load_builtin_engines();
  EXPECT_ERRORS({});
}

}  // namespace
