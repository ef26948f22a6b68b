// Locks, thread identity, dynamic locks, version texts and the fatal stop,
// through the public API.  Each test runs in its own process, so callbacks
// installed by one test do not reach another.

#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

using morvane_test::LockEvent;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

namespace {

TEST(LockNames, StaticTable) {
  EXPECT_EQ(CRYPTO_num_locks(), 39);
  // Lock 39 and 40: no application lock registered yet.
  const std::vector<std::pair<int, std::string>> kNames = {
      {0, "<<ERROR>>"}, {CRYPTO_LOCK_ERR, "err"}, {CRYPTO_LOCK_EX_DATA, "ex_data"},
      {CRYPTO_LOCK_BIO, "BIO"}, {CRYPTO_LOCK_MALLOC2, "debug_malloc2"},
      {CRYPTO_LOCK_DYNLOCK, "dynlock"}, {CRYPTO_LOCK_COMP, "comp"}, {-7, "dynamic"},
      {39, "ERROR"}, {40, "ERROR"}};
  for (const auto& [lock, name] : kNames) EXPECT_EQ(CRYPTO_get_lock_name(lock), name) << lock;
}

TEST(LockNames, ApplicationLocksNumberedFrom40) {
  char a[] = "A", b[] = "B";
  EXPECT_EQ(CRYPTO_get_new_lockid(a), 40);
  a[0] = 'X';  // the name was copied
  EXPECT_EQ(CRYPTO_get_new_lockid(b), 41);
  EXPECT_STREQ(CRYPTO_get_lock_name(40), "A");
  EXPECT_STREQ(CRYPTO_get_lock_name(41), "B");
  EXPECT_STREQ(CRYPTO_get_lock_name(42), "ERROR");
  EXPECT_EQ(CRYPTO_get_lock_name(39), nullptr);  // never handed out
}

TEST(LockNames, NullNameAndFailedCopy) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const morvane_test::ErrEntry kFailed = {ERR_LIB_CRYPTO, CRYPTO_F_CRYPTO_GET_NEW_LOCKID,
                                          ERR_R_MALLOC_FAILURE};
  EXPECT_EQ(CRYPTO_get_new_lockid(nullptr), 0);
  EXPECT_ERRORS({kFailed});
  char a[] = "A";
  ASSERT_EQ(CRYPTO_get_new_lockid(a), 40);  // creates the name list
  morvane_test::FailAllocationAfter(1);
  char b[] = "B";
  EXPECT_EQ(CRYPTO_get_new_lockid(b), 0);
  EXPECT_ERRORS({{ERR_LIB_BUF, BUF_F_BUF_STRNDUP, ERR_R_MALLOC_FAILURE}, kFailed});
  EXPECT_STREQ(CRYPTO_get_lock_name(41), "ERROR");  // nothing half-made
  ERR_remove_state(0);
}

// ---- thread id and callbacks ------------------------------------------------

unsigned long FixedId() { return 0x123456789abcUL; }

TEST(ThreadId, ProcessIdWithoutCallback) {
  EXPECT_EQ(CRYPTO_thread_id(), static_cast<unsigned long>(getpid()));
  CRYPTO_set_id_callback(FixedId);
  EXPECT_EQ(CRYPTO_get_id_callback(), &FixedId);
  EXPECT_EQ(CRYPTO_thread_id(), 0x123456789abcUL);
  CRYPTO_set_id_callback(nullptr);
  EXPECT_EQ(CRYPTO_thread_id(), static_cast<unsigned long>(getpid()));
}

std::vector<std::string> g_places;
void PlaceRecorder(int mode, int type, const char* file, int line) {
  g_places.push_back(std::to_string(mode) + "/" + std::to_string(type) + "/" + file + "/" +
                     std::to_string(line));
}

TEST(Lock, PassesEveryNonNegativeNumberToTheLockingCallback) {
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, 3, "f.cc", 1);  // no callback: nothing happens
  CRYPTO_set_locking_callback(PlaceRecorder);
  EXPECT_EQ(CRYPTO_get_locking_callback(), &PlaceRecorder);
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_READ, 0, "a.cc", 7);
  CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_READ, 45, "b.cc", 8);
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, -1, "c.cc", 9);  // no dynamic dispatcher yet
  EXPECT_EQ(g_places, (std::vector<std::string>{"5/0/a.cc/7", "6/45/b.cc/8"}));
}

TEST(AddLock, WriteLockAroundTheUpdate) {
  morvane_test::InstallLockingCallback();
  int count = 1;
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(CRYPTO_add_lock(&count, 2, CRYPTO_LOCK_RSA, __FILE__, __LINE__), 3);
  EXPECT_EQ(CRYPTO_add(&count, -4, CRYPTO_LOCK_BIO), -1);
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{WriteLock(9), WriteUnlock(9), WriteLock(21), WriteUnlock(21)}));
  EXPECT_EQ(count, -1);
}

int g_add_calls;
int AddLockCallback(int* pointer, int amount, int type, const char*, int) {
  g_add_calls++;
  EXPECT_EQ(type, CRYPTO_LOCK_DH);
  *pointer += amount;
  return 1000 + *pointer;
}

TEST(AddLock, CallbackTakesOverWithoutLocking) {
  morvane_test::InstallLockingCallback();
  CRYPTO_set_add_lock_callback(AddLockCallback);
  EXPECT_EQ(CRYPTO_get_add_lock_callback(), &AddLockCallback);
  int count = 5;
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(CRYPTO_add(&count, 1, CRYPTO_LOCK_DH), 1006);
  EXPECT_TRUE(morvane_test::StopRecordingLocks().empty());
  EXPECT_EQ(count, 6);
  EXPECT_EQ(g_add_calls, 1);
}

// ---- dynamic locks ----------------------------------------------------------

}  // namespace

// The application's lock object; the library only passes pointers to it.
struct CRYPTO_dynlock_value {
  int id;
  int lock_calls;
};

namespace {

int g_created, g_destroyed;
std::vector<std::string> g_dyn_events;

CRYPTO_dynlock_value* CreateDyn(const char*, int) {
  return new CRYPTO_dynlock_value{++g_created, 0};
}
void LockDyn(int mode, CRYPTO_dynlock_value* l, const char* file, int line) {
  l->lock_calls++;
  g_dyn_events.push_back("lock " + std::to_string(l->id) + " mode " + std::to_string(mode) +
                         " " + file + ":" + std::to_string(line));
}
void DestroyDyn(CRYPTO_dynlock_value* l, const char*, int) {
  g_dyn_events.push_back("destroy " + std::to_string(l->id));
  g_destroyed++;
  delete l;
}

CRYPTO_dynlock_value* FailingCreate(const char*, int) { return nullptr; }

void InstallDynCallbacks() {
  CRYPTO_set_dynlock_create_callback(CreateDyn);
  CRYPTO_set_dynlock_lock_callback(LockDyn);
  CRYPTO_set_dynlock_destroy_callback(DestroyDyn);
}

TEST(DynLock, NumbersCountDownAndFreedOnesAreReused) {
  InstallDynCallbacks();
  EXPECT_EQ(CRYPTO_get_dynlock_create_callback(), &CreateDyn);
  EXPECT_EQ(CRYPTO_get_dynlock_lock_callback(), &LockDyn);
  EXPECT_EQ(CRYPTO_get_dynlock_destroy_callback(), &DestroyDyn);
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), -1);
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), -2);
  CRYPTO_destroy_dynlockid(-1);
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_EQ(CRYPTO_get_dynlock_value(-1), nullptr);
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), -1);
  CRYPTO_dynlock_value* v = CRYPTO_get_dynlock_value(-1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->id, 3);
  CRYPTO_destroy_dynlockid(-1);  // balances the lookup
  CRYPTO_destroy_dynlockid(-1);
  CRYPTO_destroy_dynlockid(-2);
  EXPECT_EQ(g_destroyed, 3);
  EXPECT_EQ(CRYPTO_get_dynlock_value(7), nullptr);  // not a dynamic number
}

TEST(DynLock, WithoutOrWithAFailingCreateCallbackFails) {
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), 0);
  CRYPTO_set_dynlock_create_callback(FailingCreate);
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), 0);
  EXPECT_ERRORS({{ERR_LIB_CRYPTO, CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID,
                  CRYPTO_R_NO_DYNLOCK_CREATE_CALLBACK},
                 {ERR_LIB_CRYPTO, CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID, ERR_R_MALLOC_FAILURE}});
  CRYPTO_set_dynlock_create_callback(CreateDyn);
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), -1);  // nothing was left behind
}

TEST(DynLock, LockOperationHoldsTheRecordUnderLock29) {
  morvane_test::InstallLockingCallback();
  InstallDynCallbacks();
  int id = CRYPTO_get_new_dynlockid();
  ASSERT_EQ(id, -1);
  morvane_test::StartRecordingLocks();
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, id, "app.cc", 12);
  CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_WRITE, id, "app.cc", 13);
  // Each operation: look the value up, then drop that reference.
  std::vector<LockEvent> one = {WriteLock(29), WriteUnlock(29), WriteLock(29), WriteUnlock(29)};
  std::vector<LockEvent> two = one;
  two.insert(two.end(), one.begin(), one.end());
  EXPECT_EQ(morvane_test::StopRecordingLocks(), two);
  EXPECT_EQ(g_dyn_events,
            (std::vector<std::string>{"lock 1 mode 9 app.cc:12", "lock 1 mode 10 app.cc:13"}));
  CRYPTO_destroy_dynlockid(id);
  EXPECT_EQ(g_destroyed, 1);
}

int g_victim;
void LockDynAndDestroy(int mode, CRYPTO_dynlock_value* l, const char* file, int line) {
  LockDyn(mode, l, file, line);
  CRYPTO_destroy_dynlockid(g_victim);  // the owner lets go while the lock is in use
  g_dyn_events.push_back("owner released");
}

TEST(DynLock, DestroyedAfterTheOperationThatHoldsIt) {
  InstallDynCallbacks();
  CRYPTO_set_dynlock_lock_callback(LockDynAndDestroy);
  g_victim = CRYPTO_get_new_dynlockid();
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, g_victim, "x.cc", 1);
  EXPECT_EQ(g_dyn_events,
            (std::vector<std::string>{"lock 1 mode 9 x.cc:1", "owner released", "destroy 1"}));
  EXPECT_EQ(CRYPTO_get_new_dynlockid(), -1);  // its number is free again
}

TEST(DynLock, CountStaysBoundedWithoutDestroyCallback) {
  CRYPTO_set_dynlock_create_callback(CreateDyn);
  CRYPTO_set_dynlock_lock_callback(LockDyn);
  int id = CRYPTO_get_new_dynlockid();
  ASSERT_EQ(id, -1);
  for (int i = 0; i < 1000; i++) {
    CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, id, "x.cc", 1);
    CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_WRITE, id, "x.cc", 2);
  }
  CRYPTO_destroy_dynlockid(id);  // without the callback: the lock stays
  CRYPTO_dynlock_value* v = CRYPTO_get_dynlock_value(id);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->lock_calls, 2000);
  CRYPTO_destroy_dynlockid(id);
  // Every operation gave its reference back: once a destroy callback exists,
  // the owner's single release destroys the lock.
  CRYPTO_set_dynlock_destroy_callback(DestroyDyn);
  CRYPTO_destroy_dynlockid(id);
  EXPECT_EQ(g_destroyed, 1);
}

TEST(DynLockDeathTest, OperationOnADeadNumberStops) {
  InstallDynCallbacks();
  EXPECT_DEATH(CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, -5, "x.cc", 1),
               "locks\\.cc\\(385\\): Morvane internal error, assertion failed: pointer != NULL");
}

// ---- version and platform probes ---------------------------------------------

TEST(Version, NumberAndTexts) {
  EXPECT_EQ(Quorix(), 0x009080ffUL);
  const std::vector<std::pair<int, std::string>> kTexts = {
      {QUORIX_VERSION, "Morvane 0.9.8o 01 Jun 2010"},
      {QUORIX_CFLAGS, "compiler: information not available"},
      {QUORIX_BUILT_ON, "built on: date not available"},
      {QUORIX_PLATFORM, "platform: information not available"},
      {QUORIX_DIR, "MORVANEDIR: \"/usr/local/ssl\""},
      {1, "not available"}, {99, "not available"}, {-1, "not available"}};
  for (const auto& [type, text] : kTexts) EXPECT_EQ(Quorix_version(type), text) << type;
}

TEST(Platform, Probes) {
  EXPECT_EQ(MORVANE_stderr(), stderr);
  EXPECT_EQ(MORVANE_isservice(), 0);
  EXPECT_EQ(MORVANE_ia32cap_loc(), nullptr);
  MORVANE_cpuid_setup();
  EXPECT_EQ(MORVANE_NONPIC_relocated, 0);
}

TEST(MorvaneDieDeathTest, WritesTheAssertionAndAborts) {
  EXPECT_DEATH(MorvaneDie("aes/aes_ige.cc", 88, "(length % AES_BLOCK_SIZE) == 0"),
               "^aes/aes_ige\\.cc\\(88\\): Morvane internal error, assertion failed: "
               "\\(length % AES_BLOCK_SIZE\\) == 0\n$");
}

}  // namespace
