// The engine machinery the component shares, through its exports: a table
// of the caller's own (register, select, unregister, cleanup), functional
// references taken and released under lock 30, the cleanup registry's
// order, clearing an engine, and the classes' cleanup callbacks.

#include <string>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include "test_engine.h"
#include "test_support.h"

namespace {

using namespace engine_test;

std::string g_order;
void FirstCleanup(void) {
  g_order += "first ";
}
void LastCleanup(void) {
  g_order += "last ";
}
ENGINE_TABLE* g_table = nullptr;
void CleanupTable(void) {
  g_order += "table ";
  engine_table_cleanup(&g_table);
}

TEST(EngineSharedParts, OwnTableFromRegistrationToCleanup) {
  ENGINE* a = MakeEngine("a", /*init_ok=*/false);
  ENGINE* b = MakeEngine("b");
  const int nids[] = {5, 97};
  EXPECT_EQ(engine_table_select(&g_table, 5), nullptr);  // no table yet
  ASSERT_EQ(engine_table_register(&g_table, CleanupTable, a, nids, 2, 0), 1);
  ASSERT_EQ(engine_table_register(&g_table, CleanupTable, b, nids, 1, 0), 1);
  ASSERT_NE(g_table, nullptr);
  // a refuses to initialise: b serves NID 5, nobody NID 97; a's error is
  // taken off the queue.
  ENGINE* got = engine_table_select(&g_table, 5);
  EXPECT_EQ(got, b);
  EXPECT_EQ(engine_table_select(&g_table, 97), nullptr);
  EXPECT_EQ(engine_table_select(&g_table, 1), nullptr);
  EXPECT_ERRORS({});
  EXPECT_EQ(ENGINE_finish(got), 1);
  EXPECT_EQ(CountsOf(b).inits, 1);
  // Unregistering b releases the table's cached reference: b finishes.
  engine_table_unregister(&g_table, b);
  EXPECT_EQ(CountsOf(b).finishes, 1);
  EXPECT_EQ(engine_table_select(&g_table, 5), nullptr);
  // A default registration takes a functional reference at once.
  ASSERT_EQ(engine_table_register(&g_table, CleanupTable, b, nids + 1, 1, 1), 1);
  EXPECT_EQ(CountsOf(b).inits, 2);
  // ENGINE_cleanup runs the table's callback, registered at the front once.
  g_order.clear();
  ENGINE_cleanup();
  EXPECT_EQ(g_order, "table ");
  EXPECT_EQ(g_table, nullptr);
  EXPECT_EQ(CountsOf(b).finishes, 2);
  EXPECT_EQ(StructRef(a), 1);
  EXPECT_EQ(StructRef(b), 1);
  ENGINE_free(a);
  ENGINE_free(b);
}

TEST(EngineSharedParts, CleanupRegistryRunsFrontToBack) {
  engine_cleanup_add_last(LastCleanup);
  engine_cleanup_add_first(FirstCleanup);
  engine_cleanup_add_last(LastCleanup);
  g_order.clear();
  ENGINE_cleanup();
  EXPECT_EQ(g_order, "first last last ");
  g_order.clear();
  ENGINE_cleanup();  // the registry went with the first run
  EXPECT_EQ(g_order, "");
}

TEST(EngineSharedParts, UnlockedInitAndFinishCountUnderTheLock) {
  ENGINE* e = MakeEngine("e");
  CRYPTO_w_lock(CRYPTO_LOCK_ENGINE);
  EXPECT_EQ(engine_unlocked_init(e), 1);
  EXPECT_EQ(engine_unlocked_init(e), 1);  // initialised: init runs once
  EXPECT_EQ(CountsOf(e).inits, 1);
  EXPECT_EQ(engine_unlocked_finish(e, 0), 1);
  EXPECT_EQ(CountsOf(e).finishes, 0);
  EXPECT_EQ(engine_unlocked_finish(e, 0), 1);  // the last: finish runs
  CRYPTO_w_unlock(CRYPTO_LOCK_ENGINE);
  EXPECT_EQ(CountsOf(e).finishes, 1);
  EXPECT_EQ(StructRef(e), 1);
  ENGINE* refusing = MakeEngine("r", /*init_ok=*/false);
  CRYPTO_w_lock(CRYPTO_LOCK_ENGINE);
  EXPECT_EQ(engine_unlocked_init(refusing), 0);
  CRYPTO_w_unlock(CRYPTO_LOCK_ENGINE);
  EXPECT_EQ(StructRef(refusing), 1);  // nothing counted
  ERR_clear_error();
  ENGINE_free(refusing);
  ENGINE_free(e);
}

TEST(EngineSharedParts, SetAllNullKeepsTheCounts) {
  static const RAND_METHOD kRand = {};
  ENGINE* e = MakeEngine("e");
  ENGINE_set_RAND(e, &kRand);
  ENGINE_set_flags(e, ENGINE_FLAGS_BY_ID_COPY);
  ENGINE_up_ref(e);
  engine_set_all_null(e);
  EXPECT_EQ(ENGINE_get_id(e), nullptr);
  EXPECT_EQ(ENGINE_get_name(e), nullptr);
  EXPECT_EQ(ENGINE_get_RAND(e), nullptr);
  EXPECT_EQ(ENGINE_get_init_function(e), nullptr);
  EXPECT_EQ(ENGINE_get_destroy_function(e), nullptr);
  EXPECT_EQ(ENGINE_get_flags(e), 0);
  EXPECT_EQ(StructRef(e), 2);
  ENGINE_free(e);
  ENGINE_free(e);
}

// Each class's cleanup callback empties that class's table alone.
TEST(EngineSharedParts, ClassCleanupCallbacks) {
  static const RAND_METHOD kRand = {};
  ENGINE* e = MakeEngine("e");
  ENGINE_set_RAND(e, &kRand);
  ASSERT_EQ(ENGINE_set_default_RAND(e), 1);
  engine_unregister_all_RSA();  // another class: nothing changes
  ENGINE* got = ENGINE_get_default_RAND();
  EXPECT_EQ(got, e);
  ENGINE_finish(got);
  engine_unregister_all_RAND();
  EXPECT_EQ(CountsOf(e).finishes, 1);
  EXPECT_EQ(ENGINE_get_default_RAND(), nullptr);
  for (void (*cb)(void) :
       {engine_unregister_all_DSA, engine_unregister_all_DH, engine_unregister_all_ECDH,
        engine_unregister_all_ECDSA, engine_unregister_all_STORE, engine_unregister_all_ciphers,
        engine_unregister_all_digests})
    cb();  // never created: nothing to do
  EXPECT_EQ(StructRef(e), 1);
  ENGINE_cleanup();
  ENGINE_free(e);
}

}  // namespace
