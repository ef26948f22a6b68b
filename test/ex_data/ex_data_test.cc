// Per-object extra data: class and index numbering, the order and arguments
// of the new/dup/free callbacks, slot storage, the replaceable registry and
// the lock requests.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "test_support.h"

using morvane_test::LockEvent;
using morvane_test::ReadLock;
using morvane_test::ReadUnlock;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

namespace {

std::vector<std::string> g_calls;

std::string Describe(const char* what, void* obj, void* ptr, int idx, long argl, void* argp) {
  return std::string(what) + " obj=" + (obj ? static_cast<const char*>(obj) : "-") +
         " ptr=" + (ptr ? static_cast<const char*>(ptr) : "null") + " idx=" +
         std::to_string(idx) + " argl=" + std::to_string(argl) +
         " argp=" + (argp ? static_cast<const char*>(argp) : "-");
}

int NewCb(void* parent, void* ptr, CRYPTO_EX_DATA*, int idx, long argl, void* argp) {
  g_calls.push_back(Describe("new", parent, ptr, idx, argl, argp));
  return 0;  // ignored
}
void FreeCb(void* parent, void* ptr, CRYPTO_EX_DATA*, int idx, long argl, void* argp) {
  g_calls.push_back(Describe("free", parent, ptr, idx, argl, argp));
}
char g_dup_value[] = "dup";
int DupCb(CRYPTO_EX_DATA*, CRYPTO_EX_DATA*, void* from_d, int idx, long argl, void* argp) {
  void** value = static_cast<void**>(from_d);
  g_calls.push_back(Describe("dup", nullptr, *value, idx, argl, argp));
  *value = g_dup_value;
  return 0;
}

char kArgA[] = "A", kArgB[] = "B", kObj[] = "obj", kV0[] = "v0", kV2[] = "v2";

TEST(ExData, ClassesFrom100AndIndexesPerClass) {
  EXPECT_EQ(CRYPTO_ex_data_new_class(), 100);
  const int mine = CRYPTO_ex_data_new_class();
  EXPECT_EQ(mine, 101);
  for (int want : {0, 1})
    EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, nullptr, nullptr, nullptr),
              want);
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DSA, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(CRYPTO_get_ex_new_index(mine, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, nullptr, nullptr, nullptr), 2);
}

TEST(ExData, SlotStorage) {
  CRYPTO_EX_DATA ad = {nullptr, 0};
  EXPECT_EQ(CRYPTO_get_ex_data(&ad, 0), nullptr);
  EXPECT_EQ(CRYPTO_set_ex_data(&ad, 5, kV0), 1);
  ASSERT_NE(ad.sk, nullptr);
  EXPECT_EQ(sk_num(ad.sk), 6);
  for (int i = 0; i < 5; i++) EXPECT_EQ(CRYPTO_get_ex_data(&ad, i), nullptr) << i;
  EXPECT_EQ(CRYPTO_get_ex_data(&ad, 5), kV0);
  EXPECT_EQ(CRYPTO_get_ex_data(&ad, 6), nullptr);
  EXPECT_EQ(CRYPTO_get_ex_data(&ad, -1), nullptr);
  EXPECT_EQ(CRYPTO_set_ex_data(&ad, -1, kV2), 1);  // stores nothing
  EXPECT_EQ(sk_num(ad.sk), 6);
  EXPECT_EQ(CRYPTO_set_ex_data(&ad, 1, kV2), 1);
  EXPECT_EQ(CRYPTO_get_ex_data(&ad, 1), kV2);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_BIO, nullptr, &ad);
  EXPECT_EQ(ad.sk, nullptr);
}

// Three indexes of one class: 0 with every callback, 1 with none, 2 with
// every callback.
int RegisterThree(int cls) {
  EXPECT_EQ(CRYPTO_get_ex_new_index(cls, 10, kArgA, NewCb, DupCb, FreeCb), 0);
  EXPECT_EQ(CRYPTO_get_ex_new_index(cls, 11, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(CRYPTO_get_ex_new_index(cls, 12, kArgB, NewCb, DupCb, FreeCb), 2);
  return cls;
}

TEST(ExData, SetupAndReleaseCallTheirCallbacksInAscendingOrder) {
  int cls = RegisterThree(CRYPTO_EX_INDEX_X509);
  CRYPTO_EX_DATA ad = {nullptr, 0}, other = {nullptr, 0};
  EXPECT_EQ(CRYPTO_new_ex_data(cls, kObj, &ad), 1);
  EXPECT_EQ(ad.sk, nullptr);
  EXPECT_EQ(CRYPTO_new_ex_data(CRYPTO_EX_INDEX_UI, kObj, &other), 1);  // no index: no call
  CRYPTO_set_ex_data(&ad, 0, kV0);
  CRYPTO_free_ex_data(cls, kObj, &ad);
  EXPECT_EQ(ad.sk, nullptr);
  EXPECT_EQ(g_calls, (std::vector<std::string>{
                         "new obj=obj ptr=null idx=0 argl=10 argp=A",
                         "new obj=obj ptr=null idx=2 argl=12 argp=B",
                         "free obj=obj ptr=v0 idx=0 argl=10 argp=A",
                         "free obj=obj ptr=null idx=2 argl=12 argp=B",
                     }));
}

TEST(ExData, Duplication) {
  int cls = RegisterThree(CRYPTO_EX_INDEX_DH);
  CRYPTO_EX_DATA from = {nullptr, 0}, to = {nullptr, 0};
  // Nothing stored: `to` stays untouched.
  EXPECT_EQ(CRYPTO_dup_ex_data(cls, &to, &from), 1);
  EXPECT_EQ(to.sk, nullptr);
  EXPECT_TRUE(g_calls.empty());

  CRYPTO_set_ex_data(&from, 0, kV0);
  CRYPTO_set_ex_data(&from, 1, kV2);
  CRYPTO_set_ex_data(&from, 4, kV2);  // beyond the registered indexes
  EXPECT_EQ(CRYPTO_dup_ex_data(cls, &to, &from), 1);
  EXPECT_EQ(g_calls, (std::vector<std::string>{
                         "dup obj=- ptr=v0 idx=0 argl=10 argp=A",
                         "dup obj=- ptr=null idx=2 argl=12 argp=B",
                     }));
  EXPECT_EQ(CRYPTO_get_ex_data(&to, 0), g_dup_value);  // replaced by the callback
  EXPECT_EQ(CRYPTO_get_ex_data(&to, 1), kV2);          // no dup_func: shared
  EXPECT_EQ(CRYPTO_get_ex_data(&to, 2), g_dup_value);
  EXPECT_EQ(sk_num(to.sk), 3);  // slot 4 is not copied
  CRYPTO_free_ex_data(cls, nullptr, &from);
  CRYPTO_free_ex_data(cls, nullptr, &to);
}

TEST(ExData, CleanupRestartsIndexesButNotClasses) {
  EXPECT_EQ(CRYPTO_ex_data_new_class(), 100);
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, NewCb, nullptr, nullptr), 0);
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, NewCb, nullptr, nullptr), 1);
  CRYPTO_cleanup_all_ex_data();
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(CRYPTO_ex_data_new_class(), 101);
  CRYPTO_EX_DATA ad = {nullptr, 0};
  EXPECT_EQ(CRYPTO_new_ex_data(CRYPTO_EX_INDEX_RSA, kObj, &ad), 1);
  EXPECT_TRUE(g_calls.empty());  // the old index with its new_func is gone
  CRYPTO_cleanup_all_ex_data();
}

// ---- the implementation table ----------------------------------------------

int MyNewClass() {
  g_calls.push_back("new_class");
  return 7;
}
void MyCleanup() { g_calls.push_back("cleanup"); }
int MyGetNewIndex(int cls, long argl, void*, CRYPTO_EX_new*, CRYPTO_EX_dup*, CRYPTO_EX_free*) {
  g_calls.push_back("index " + std::to_string(cls) + " " + std::to_string(argl));
  return 42;
}
int MyNew(int cls, void*, CRYPTO_EX_DATA*) {
  g_calls.push_back("new " + std::to_string(cls));
  return 5;
}
int MyDup(int cls, CRYPTO_EX_DATA*, CRYPTO_EX_DATA*) {
  g_calls.push_back("dup " + std::to_string(cls));
  return 6;
}
void MyFree(int cls, void*, CRYPTO_EX_DATA*) { g_calls.push_back("free " + std::to_string(cls)); }

// The table is fixed by the first use; the built-in cleanup empties the
// choice, so an application's table can be set then.
TEST(ExDataImpl, ApplicationTable) {
  CRYPTO_ex_data_new_class();
  const CRYPTO_EX_DATA_IMPL* builtin = CRYPTO_get_ex_data_implementation();
  static const CRYPTO_EX_DATA_IMPL kMine = {MyNewClass, MyCleanup, MyGetNewIndex,
                                            MyNew,      MyDup,     MyFree};
  EXPECT_EQ(CRYPTO_set_ex_data_implementation(&kMine), 0);
  EXPECT_EQ(CRYPTO_get_ex_data_implementation(), builtin);
  CRYPTO_cleanup_all_ex_data();
  EXPECT_EQ(CRYPTO_set_ex_data_implementation(&kMine), 1);
  EXPECT_EQ(CRYPTO_get_ex_data_implementation(), &kMine);
  CRYPTO_EX_DATA a = {nullptr, 0}, b = {nullptr, 0};
  EXPECT_EQ(CRYPTO_ex_data_new_class(), 7);
  EXPECT_EQ(CRYPTO_get_ex_new_index(3, 9, nullptr, nullptr, nullptr, nullptr), 42);
  EXPECT_EQ(CRYPTO_new_ex_data(4, nullptr, &a), 5);
  EXPECT_EQ(CRYPTO_dup_ex_data(5, &a, &b), 6);
  CRYPTO_free_ex_data(6, nullptr, &a);
  CRYPTO_cleanup_all_ex_data();
  EXPECT_EQ(g_calls, (std::vector<std::string>{"new_class", "index 3 9", "new 4", "dup 5", "free 6",
                                               "cleanup"}));
  EXPECT_EQ(CRYPTO_set_ex_data_implementation(nullptr), 0);  // still in force
}

// A table with a null slot is refused, with a reason, and the choice stays
// open.
TEST(ExDataImpl, TableWithANullSlotIsRefused) {
  static const CRYPTO_EX_DATA_IMPL kMine = {MyNewClass, MyCleanup, MyGetNewIndex,
                                            MyNew,      MyDup,     MyFree};
  CRYPTO_EX_DATA_IMPL holed = kMine;
  holed.cb_dup_ex_data = nullptr;
  EXPECT_EQ(CRYPTO_set_ex_data_implementation(&holed), 0);
  EXPECT_ERRORS(
      {{ERR_LIB_CRYPTO, CRYPTO_F_CRYPTO_SET_EX_DATA_IMPLEMENTATION, CRYPTO_R_INCOMPLETE_TABLE}});
  EXPECT_EQ(CRYPTO_set_ex_data_implementation(&kMine), 1);
}

// ---- failures --------------------------------------------------------------

TEST(ExDataFailure, AllocationFailuresQueueTheirFunction) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  auto malloc_failure = [](int func) {
    return std::vector<morvane_test::ErrEntry>{{ERR_LIB_CRYPTO, func, ERR_R_MALLOC_FAILURE}};
  };
  // The class item cannot be made: the slots are still set to none, so the
  // caller may release them (a stream made then used to free garbage).
  CRYPTO_EX_DATA ad;
  memset(&ad, 0xbe, sizeof ad);
  ASSERT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DSA, 0, nullptr, nullptr, nullptr, nullptr), 0);
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(CRYPTO_new_ex_data(CRYPTO_EX_INDEX_RSA, kObj, &ad), 0);
  EXPECT_EQ(ad.sk, nullptr);
  EXPECT_ERRORS(malloc_failure(CRYPTO_F_DEF_GET_CLASS));

  ASSERT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, NewCb, nullptr, nullptr), 0);
  morvane_test::FailAllocationAfter(1);  // the copy of the index records
  EXPECT_EQ(CRYPTO_new_ex_data(CRYPTO_EX_INDEX_RSA, kObj, &ad), 0);
  EXPECT_ERRORS(malloc_failure(CRYPTO_F_INT_NEW_EX_DATA));
  EXPECT_EQ(ad.sk, nullptr);
  EXPECT_TRUE(g_calls.empty());

  morvane_test::FailAllocationAfter(1);  // the index record
  EXPECT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, nullptr, nullptr, nullptr),
            -1);
  EXPECT_ERRORS(malloc_failure(CRYPTO_F_DEF_ADD_INDEX));

  morvane_test::FailAllocationAfter(1);  // the slot stack
  EXPECT_EQ(CRYPTO_set_ex_data(&ad, 0, kV0), 0);
  EXPECT_ERRORS(malloc_failure(CRYPTO_F_CRYPTO_SET_EX_DATA));

  ASSERT_EQ(CRYPTO_set_ex_data(&ad, 0, kV0), 1);
  morvane_test::FailAllocationAfter(1);  // the copy in the release: slots kept
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_RSA, kObj, &ad);
  EXPECT_ERRORS(malloc_failure(CRYPTO_F_INT_FREE_EX_DATA));
  EXPECT_EQ(CRYPTO_get_ex_data(&ad, 0), kV0);

  CRYPTO_EX_DATA to = {nullptr, 0};
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(CRYPTO_dup_ex_data(CRYPTO_EX_INDEX_RSA, &to, &ad), 0);
  EXPECT_ERRORS(malloc_failure(CRYPTO_F_INT_DUP_EX_DATA));

  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_RSA, kObj, &ad);
  CRYPTO_cleanup_all_ex_data();
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

// ---- locking -----------------------------------------------------------------

int g_nested_index = -2;
int NewRegistersAnIndex(void*, void*, CRYPTO_EX_DATA*, int, long, void*) {
  // Runs with no lock held: registering from here must not deadlock.
  g_nested_index = CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_BIO, 0, nullptr, nullptr, nullptr,
                                           nullptr);
  return 1;
}

TEST(ExDataLocks, RequestsOfRegistrationAndSetup) {
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_BIO, 0, nullptr, NewRegistersAnIndex, nullptr,
                                    nullptr),
            0);
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{
                WriteLock(2), WriteUnlock(2),  // install the built-in table
                WriteLock(2), WriteUnlock(2),  // create the registry
                WriteLock(2), WriteUnlock(2),  // find or create the class
                WriteLock(2), WriteUnlock(2),  // add the index
            }));

  CRYPTO_EX_DATA ad = {nullptr, 0};
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(CRYPTO_new_ex_data(CRYPTO_EX_INDEX_BIO, kObj, &ad), 1);
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{
                WriteLock(2), WriteUnlock(2),  // find the class
                ReadLock(2), ReadUnlock(2),    // copy its index records
                WriteLock(2), WriteUnlock(2),  // the callback: find the class
                WriteLock(2), WriteUnlock(2),  // and add an index
            }));
  EXPECT_EQ(g_nested_index, 1);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_BIO, kObj, &ad);
  CRYPTO_cleanup_all_ex_data();
}

}  // namespace
