// Engine records, the list, references, control commands and key loading.

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "test_engine.h"
#include "test_support.h"

namespace {

using namespace engine_test;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

TEST(Engine, LoadingTheBuiltInEnginesKeepsTheCallersErrors) {
  ERR_put_error(ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE, "t.cc", 1);
  ENGINE_load_builtin_engines();
  ENGINE_load_builtin_engines();  // "dynamic" is listed already: nothing more queued
  EXPECT_ERRORS({{ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE}});
  ENGINE_cleanup();
}

TEST(Engine, InitTwiceRunsInitOnceAndFinishOnTheLastRelease) {
  ENGINE* e = MakeEngine("e");
  EXPECT_EQ(StructRef(e), 1);
  ASSERT_EQ(ENGINE_init(e), 1);
  ASSERT_EQ(ENGINE_init(e), 1);
  EXPECT_EQ(CountsOf(e).inits, 1);
  EXPECT_EQ(StructRef(e), 3);
  ASSERT_EQ(ENGINE_finish(e), 1);
  EXPECT_EQ(CountsOf(e).finishes, 0);
  ASSERT_EQ(ENGINE_finish(e), 1);
  EXPECT_EQ(CountsOf(e).finishes, 1);
  EXPECT_EQ(StructRef(e), 1);
  ENGINE_free(e);
  EXPECT_EQ(CountsOf(e).destroys, 1);
}

TEST(Engine, RefusingInitCountsNothing) {
  ENGINE* e = MakeEngine("e", /*init_ok=*/false);
  EXPECT_EQ(ENGINE_init(e), 0);
  EXPECT_EQ(StructRef(e), 1);
  EXPECT_EQ(ENGINE_load_private_key(e, "k", nullptr, nullptr), nullptr);
  ERR_clear_error();
  ENGINE_free(e);
}

TEST(Engine, InitHoldsTheLockAndLastFinishRunsWithoutIt) {
  morvane_test::InstallLockingCallback();
  ENGINE* e = MakeEngine("e");
  morvane_test::StartRecordingLocks();
  ENGINE_init(e);
  ENGINE_finish(e);
  // finish: lock, released around the callback, taken again, released.
  std::vector<morvane_test::LockEvent> want = {WriteLock(30),   WriteUnlock(30), WriteLock(30),
                                               WriteUnlock(30), WriteLock(30),   WriteUnlock(30)};
  EXPECT_EQ(morvane_test::StopRecordingLocks({30}), want);
  ENGINE_free(e);
}

TEST(EngineList, WalkingLeavesEveryCountAndConflictingIdFails) {
  ENGINE* es[3] = {MakeEngine("a"), MakeEngine("b"), MakeEngine("c")};
  for (ENGINE* e : es) ASSERT_EQ(ENGINE_add(e), 1);
  int seen = 0;
  for (ENGINE* e = ENGINE_get_first(); e != nullptr; e = ENGINE_get_next(e)) seen++;
  EXPECT_EQ(seen, 3);
  for (ENGINE* e : es) EXPECT_EQ(StructRef(e), 2);
  ENGINE* dup = MakeEngine("b");
  EXPECT_EQ(ENGINE_add(dup), 0);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_LIST_ADD, ENGINE_R_CONFLICTING_ENGINE_ID},
                 {ERR_LIB_ENGINE, ENGINE_F_ENGINE_ADD, ENGINE_R_INTERNAL_LIST_ERROR}});
  ENGINE_free(dup);
  for (ENGINE* e : es) ENGINE_free(e);  // the list's reference keeps them
  EXPECT_EQ(CountsOf(es[0]).destroys, 0);
  ENGINE_cleanup();
  for (ENGINE* e : es) EXPECT_EQ(CountsOf(e).destroys, 1);
}

TEST(EngineList, ByIdCopiesForFlag4AndNamesAnUnknownId) {
  ENGINE* e = MakeEngine("copied");
  ENGINE_set_flags(e, ENGINE_FLAGS_BY_ID_COPY);
  ASSERT_EQ(ENGINE_add(e), 1);
  ENGINE* c = ENGINE_by_id("copied");
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c, e);
  ENGINE_free(c);
  EXPECT_EQ(StructRef(e), 2);
  EXPECT_EQ(ENGINE_by_id("nosuch"), nullptr);
  // The "dynamic" engine that would load it is not listed either.
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE, "id=dynamic"},
                 {ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE, "id=nosuch"}});
  ENGINE_cleanup();
  ENGINE_free(e);
}

// ---- control commands ----

long last_i = -1;
int Ctrl(ENGINE*, int, long i, void*, void (*)(void)) {
  return last_i = i, 1;
}

const ENGINE_CMD_DEFN kCmds[] = {
    {200, "NUM", "a number", ENGINE_CMD_FLAG_NUMERIC},
    {201, "STR", nullptr, ENGINE_CMD_FLAG_STRING},
    {202, "NONE", "no input", ENGINE_CMD_FLAG_NO_INPUT},
    {203, "HIDDEN", nullptr, ENGINE_CMD_FLAG_INTERNAL},
    {0, nullptr, nullptr, 0},
};

TEST(EngineCtrl, GenericCommandsWithoutControlFunction) {
  ENGINE* e = MakeEngine("e");
  EXPECT_EQ(ENGINE_ctrl(e, ENGINE_CTRL_HAS_CTRL_FUNCTION, 0, nullptr, nullptr), 0);
  EXPECT_ERRORS({});
  EXPECT_EQ(ENGINE_ctrl(e, ENGINE_CTRL_GET_FIRST_CMD_TYPE, 0, nullptr, nullptr), -1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_CTRL, ENGINE_R_NO_CONTROL_FUNCTION}});
  ENGINE_free(e);
}

TEST(EngineCtrl, CommandTableQueries) {
  ENGINE* e = MakeEngine("e");
  ENGINE_set_ctrl_function(e, Ctrl);
  ENGINE_set_cmd_defns(e, kCmds);
  char buf[16];
  struct Case {
    int cmd;
    long i;
    void* p;
    int want;
  } cases[] = {
      {ENGINE_CTRL_GET_FIRST_CMD_TYPE, 0, nullptr, 200},
      {ENGINE_CTRL_GET_NEXT_CMD_TYPE, 202, nullptr, 203},
      {ENGINE_CTRL_GET_NEXT_CMD_TYPE, 203, nullptr, 0},
      {ENGINE_CTRL_GET_CMD_FROM_NAME, 0, const_cast<char*>("NONE"), 202},
      {ENGINE_CTRL_GET_NAME_LEN_FROM_CMD, 201, nullptr, 3},
      {ENGINE_CTRL_GET_NAME_FROM_CMD, 202, buf, 4},
      {ENGINE_CTRL_GET_DESC_LEN_FROM_CMD, 201, nullptr, 0},
      {ENGINE_CTRL_GET_DESC_FROM_CMD, 200, buf, 8},
      {ENGINE_CTRL_GET_CMD_FLAGS, 203, nullptr, ENGINE_CMD_FLAG_INTERNAL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ENGINE_ctrl(e, c.cmd, c.i, c.p, nullptr), c.want) << c.cmd;
  }
  EXPECT_STREQ(buf, "a number");
  EXPECT_EQ(ENGINE_ctrl(e, ENGINE_CTRL_GET_NAME_LEN_FROM_CMD, 199, nullptr, nullptr), -1);
  EXPECT_EQ(ENGINE_cmd_is_executable(e, 203), 0);
  EXPECT_EQ(ENGINE_cmd_is_executable(e, 202), 1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_INT_CTRL_HELPER, ENGINE_R_INVALID_CMD_NUMBER}});
  ENGINE_free(e);
}

TEST(EngineCtrl, CommandStrings) {
  ENGINE* e = MakeEngine("e");
  ENGINE_set_ctrl_function(e, Ctrl);
  ENGINE_set_cmd_defns(e, kCmds);
  struct Case {
    const char* name;
    const char* arg;
    int want;
    int reason;  // 0: nothing queued
  } cases[] = {
      {"NUM", "12", 1, 0},
      {"NUM", "12a", 0, ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER},
      {"NUM", "abc", 0, ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER},
      {"NUM", "9223372036854775807", 1, 0},  // LONG_MAX on LP64
      {"NUM", "9223372036854775808", 0, ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER},
      {"NUM", "99999999999999999999", 0, ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER},
      {"NUM", "-99999999999999999999", 0, ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER},
      {"NUM", nullptr, 0, ENGINE_R_COMMAND_TAKES_INPUT},
      {"NONE", "x", 0, ENGINE_R_COMMAND_TAKES_NO_INPUT},
      {"NONE", nullptr, 1, 0},
      {"STR", "text", 1, 0},
      {"HIDDEN", "1", 0, ENGINE_R_CMD_NOT_EXECUTABLE},
      {"UNKNOWN", "1", 0, ENGINE_R_INVALID_CMD_NAME},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ENGINE_ctrl_cmd_string(e, c.name, c.arg, 0), c.want) << c.name;
    if (c.reason == 0) {
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), c.reason) << c.name;
      ERR_clear_error();
    }
  }
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "NUM", "12", 0), 1);
  EXPECT_EQ(last_i, 12);
  // A number beyond a long never reaches the command as the nearest long.
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "NUM", "99999999999999999999", 0), 0);
  EXPECT_EQ(last_i, 12);
  ERR_clear_error();
  ENGINE_free(e);
}

// An optional unknown command removes only what its own lookup queued.
TEST(EngineCtrl, OptionalUnknownCommandKeepsTheCallersErrors) {
  ENGINE* e = MakeEngine("e");
  ENGINE_set_ctrl_function(e, Ctrl);
  ENGINE_set_cmd_defns(e, kCmds);
  ERR_put_error(ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE, "t.cc", 1);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "UNKNOWN", "1", 1), 1);
  EXPECT_EQ(ENGINE_ctrl_cmd(e, "UNKNOWN", 1, nullptr, nullptr, 1), 1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, 0, ERR_R_MALLOC_FAILURE}});
  ENGINE_free(e);
}

EVP_PKEY* Loader(ENGINE*, const char*, UI_METHOD*, void*) {
  return nullptr;
}

TEST(EngineKeys, LoadersNeedAnInitialisedEngine) {
  ENGINE* e = MakeEngine("e");
  ENGINE_set_load_privkey_function(e, Loader);
  EXPECT_EQ(ENGINE_load_private_key(e, "k", nullptr, nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_LOAD_PRIVATE_KEY, ENGINE_R_NOT_INITIALISED}});
  ENGINE_init(e);
  EXPECT_EQ(ENGINE_load_private_key(e, "k", nullptr, nullptr), nullptr);
  EXPECT_EQ(ENGINE_load_public_key(e, "k", nullptr, nullptr), nullptr);
  EXPECT_ERRORS(
      {{ERR_LIB_ENGINE, ENGINE_F_ENGINE_LOAD_PRIVATE_KEY, ENGINE_R_FAILED_LOADING_PRIVATE_KEY},
       {ERR_LIB_ENGINE, ENGINE_F_ENGINE_LOAD_PUBLIC_KEY, ENGINE_R_NO_LOAD_FUNCTION}});
  ENGINE_finish(e);
  ENGINE_free(e);
}

}  // namespace
