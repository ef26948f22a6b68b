// The algorithm tables: registration order, the cached choice, failing
// inits, defaults and cleanup.

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include "test_engine.h"
#include "test_support.h"

namespace {

using namespace engine_test;
using morvane_test::ReadLock;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

const RAND_METHOD kRand = {};

ENGINE* RandEngine(const char* id, bool init_ok = true) {
  ENGINE* e = MakeEngine(id, init_ok);
  ENGINE_set_RAND(e, &kRand);
  return e;
}

TEST(EngineTable, EmptyTableSelectsNothingWithoutLocking) {
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  EXPECT_TRUE(morvane_test::StopRecordingLocks().empty());
  EXPECT_ERRORS({});
}

TEST(EngineTable, FirstRegisteredServesUntilUnregistered) {
  ENGINE* a = RandEngine("a");
  ENGINE* b = RandEngine("b");
  ASSERT_EQ(ENGINE_register_RAND(a), 1);
  ASSERT_EQ(ENGINE_register_RAND(b), 1);
  ENGINE* got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, a);
  EXPECT_EQ(ENGINE_get_RAND(got), &kRand);
  ENGINE_finish(got);
  ASSERT_EQ(ENGINE_register_RAND(a), 1);  // now b, a: the cached a stays
  got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, a);
  ENGINE_finish(got);
  ENGINE_unregister_RAND(a);
  EXPECT_EQ(CountsOf(a).finishes, 1);  // the table's reference went
  got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, b);
  ENGINE_finish(got);
  ENGINE_cleanup();
  EXPECT_EQ(CountsOf(b).finishes, 1);
  EXPECT_EQ(StructRef(a), 1);
  EXPECT_EQ(StructRef(b), 1);
  ENGINE_free(a);
  ENGINE_free(b);
}

}  // namespace
