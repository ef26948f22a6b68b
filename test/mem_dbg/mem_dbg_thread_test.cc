// The leak checker under real locks: the order of its two locks, and several
// threads allocating, reallocating, freeing and labelling at once, each
// thread's one deliberate leak reported under its own label.

#include <morvane/bio.h>
#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "report.h"
#include "test_support.h"

namespace {

using mem_dbg_test::Report;
using morvane_test::LockEvent;

// Replays lock requests of one thread: lock 27 is never requested while lock
// 20 is held, and everything taken is released.
void ExpectOrderedAndBalanced(const std::vector<LockEvent>& events) {
  std::set<int> held;
  for (const LockEvent& e : events) {
    if (e.mode & CRYPTO_LOCK) {
      if (e.type == CRYPTO_LOCK_MALLOC2) {
        EXPECT_EQ(held.count(CRYPTO_LOCK_MALLOC), 0u);
      }
      EXPECT_TRUE(held.insert(e.type).second) << e;
    } else {
      EXPECT_EQ(held.erase(e.type), 1u) << e;
    }
  }
  EXPECT_TRUE(held.empty());
}

}  // namespace

TEST(MemDbgLocks, TwentySevenIsAlwaysTakenBeforeTwenty) {
  morvane_test::InstallLockingCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  morvane_test::StartRecordingLocks();
  CRYPTO_push_info("locks");
  void* p = CRYPTO_malloc(10, "l.c", 1);
  void* q = CRYPTO_realloc(p, 20, "l.c", 2);
  CRYPTO_pop_info();
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  EXPECT_NE(Report(), "");
  CRYPTO_free(q);
  EXPECT_EQ(Report(), "");
  // The checker's own locks; the streams take others.
  const std::vector<LockEvent> events =
      morvane_test::StopRecordingLocks({CRYPTO_LOCK_MALLOC, CRYPTO_LOCK_MALLOC2});
  EXPECT_GT(events.size(), 20u);
  ExpectOrderedAndBalanced(events);
}

TEST(MemDbgLocks, SuspensionHoldsTwentySevenUntilItsLastEnd) {
  morvane_test::InstallLockingCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  morvane_test::StartRecordingLocks();
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  using morvane_test::WriteLock;
  using morvane_test::WriteUnlock;
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{
                WriteLock(20), WriteUnlock(20), WriteLock(27), WriteLock(20), WriteUnlock(20),  // 3
                WriteLock(20), WriteUnlock(20),                                                 // 3
                WriteLock(20), WriteUnlock(20),                                                 // 2
                WriteLock(20), WriteUnlock(27), WriteUnlock(20),                                // 2
            }));
}

TEST(MemDbgThreads, ConcurrentRecordingKeepsEveryThreadsLabels) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  CRYPTO_malloc_debug_init();
  CRYPTO_dbg_set_options(V_CRYPTO_MDEBUG_THREAD);
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);

  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::vector<void*> kept(kThreads);
  std::vector<unsigned long> ids(kThreads);
  std::vector<std::string> labels(kThreads);
  for (int t = 0; t < kThreads; t++) labels[t] = "worker " + std::to_string(t);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      ids[t] = CRYPTO_thread_id();
      CRYPTO_push_info(labels[t].c_str());
      for (int i = 0; i < kRounds; i++) {
        CRYPTO_push_info("round");
        void* p = CRYPTO_malloc(16 + i, "loop.c", i);
        void* q = CRYPTO_realloc(p, 32 + i, "loop.c", i);
        CRYPTO_free(q != nullptr ? q : p);
        CRYPTO_pop_info();
      }
      kept[t] = CRYPTO_malloc(100 + t, "kept.c", t);
      CRYPTO_pop_info();
    });
  }
  for (auto& th : threads) th.join();

  std::string report = Report();
  long total = 0;
  for (int t = 0; t < kThreads; t++) {
    char line[512];
    snprintf(line, sizeof(line), "file=kept.c, line=%d, thread=%lu, number=%d, address=%08lX\n", t,
             ids[t], 100 + t, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(kept[t])));
    EXPECT_NE(report.find(line), std::string::npos) << line << "not in\n" << report;
    snprintf(line, sizeof(line), "> thread=%lu, file=%s, line=", ids[t], __FILE__);
    EXPECT_NE(report.find(line), std::string::npos) << line;
    EXPECT_NE(report.find("info=\"" + labels[t] + "\"\n"), std::string::npos);
    total += 100 + t;
  }
  EXPECT_NE(report.find(std::to_string(total) + " bytes leaked in 4 chunks\n"), std::string::npos)
      << report;
  EXPECT_EQ(report.find("round"), std::string::npos) << report;

  for (void* p : kept) CRYPTO_free(p);
  EXPECT_EQ(Report(), "");
}
