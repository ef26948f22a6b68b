// The leak checker under real locks: the order of its two locks, and several
// threads allocating, reallocating, freeing and labelling at once, each
// thread's one deliberate leak reported under its own label; reports, and
// switching the checker on and off, while other threads allocate.  Those
// that could hang have a watchdog (SIGALRM ends the program) instead.

#include <unistd.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <functional>
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

// The reports take nothing but 20 under 27, and write their text (into a
// memory stream, which grows, or a file) with no lock held; nor do the hooks
// and the switches.
TEST(MemDbgLocks, NothingButTwentyUnderTwentySeven) {
  morvane_test::InstallLockingCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  CRYPTO_push_info("locks");
  std::vector<void*> blocks;
  for (int i = 0; i < 100; i++) blocks.push_back(CRYPTO_malloc(10 + i, "many.c", i));
  morvane_test::StartRecordingLocks();
  BIO* b = BIO_new(BIO_s_mem());
  CRYPTO_mem_leaks(b);
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  CRYPTO_mem_leaks_fp(f);
  fclose(f);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_OFF);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON);
  const std::vector<LockEvent> events = morvane_test::StopRecordingLocks();
  char* text = nullptr;
  EXPECT_GT(BIO_get_mem_data(b, &text), 100 * 40);  // the report went in
  BIO_free(b);
  int held27 = 0;
  for (const LockEvent& e : events) {
    if (e.type == CRYPTO_LOCK_MALLOC2) held27 += (e.mode & CRYPTO_LOCK) ? 1 : -1;
    if (held27 > 0 && e.type != CRYPTO_LOCK_MALLOC && e.type != CRYPTO_LOCK_MALLOC2) {
      ADD_FAILURE() << e << " under 27";
    }
  }
  EXPECT_EQ(held27, 0);
  ExpectOrderedAndBalanced(morvane_test::OnlyLocks(events, {20, 27}));
  CRYPTO_pop_info();
  for (void* p : blocks) CRYPTO_free(p);
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

namespace {

// A report on a memory stream made while recording (unlike Report, which
// makes it suspended: a thread with its recording suspended holds 27 and
// must not make an object, which takes other locks, while others allocate).
std::string RecordingReport() {
  BIO* b = BIO_new(BIO_s_mem());
  EXPECT_NE(b, nullptr);
  if (b == nullptr) return "";
  CRYPTO_mem_leaks(b);
  char* data = nullptr;
  const long n = BIO_get_mem_data(b, &data);
  std::string out(data != nullptr ? data : "", n > 0 ? static_cast<size_t>(n) : 0);
  BIO_free(b);
  return out;
}

// `workers` threads run `work` until `main` returns, with a watchdog against
// a hang.
void WhileThreadsWork(int workers, const std::function<void()>& work,
                      const std::function<void()>& main) {
  alarm(120);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < workers; t++) {
    threads.emplace_back([&] {
      while (!stop.load()) work();
      ERR_remove_state(0);
    });
  }
  main();
  stop = true;
  for (auto& th : threads) th.join();
  alarm(0);
}

}  // namespace

// One thread prints leak reports while seven make and free RSA keys, with an
// application's extra-data index on RSA: setting up a key's extra data
// allocates under lock 2, so a report that took 2 under 27 would hang.
TEST(MemDbgThreads, ReportsWhileThreadsMakeAndFreeKeys) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  ASSERT_GE(RSA_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr), 0);
  FILE* null = fopen("/dev/null", "w");
  ASSERT_NE(null, nullptr);
  std::atomic<long> keys{0};
  WhileThreadsWork(
      7, [&] { RSA_free(RSA_new()), keys++; },
      [&] {
        for (int i = 0; i < 300; i++) {
          CRYPTO_mem_leaks_fp(null);
          if (i % 3 == 0) RecordingReport();
        }
      });
  fclose(null);
  EXPECT_GT(keys.load(), 0);
  void* p = CRYPTO_malloc(5, "after.c", 1);
  EXPECT_NE(RecordingReport().find("file=after.c, line=1, number=5"), std::string::npos);
  CRYPTO_free(p);
}

// Switching the checker on and off while eight threads allocate, free and
// label: the switch waits for the suspension of a thread inside a hook, so
// no thread is left holding 27 and nothing hangs; when it ends on, every
// thread records again.
TEST(MemDbgThreads, SwitchingWhileThreadsAllocate) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  std::atomic<int> round{0};
  std::atomic<long> done{0};
  WhileThreadsWork(
      8,
      [&] {
        done++;
        CRYPTO_push_info("switching");
        void* p = CRYPTO_malloc(24, "loop.c", 1);
        void* q = CRYPTO_realloc(p, 48, "loop.c", 2);
        if (round.load() % 4 == 0) {
          CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
          CRYPTO_free(CRYPTO_malloc(8, "quiet.c", 3));
          CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
        }
        CRYPTO_free(q != nullptr ? q : p);
        CRYPTO_pop_info();
      },
      [&] {
        // Switches on and off until the threads have gone round 20,000 times.
        for (int i = 0; done.load() < 20000 || i % 2 == 1; i++, round++) {
          CRYPTO_mem_ctrl(i % 2 == 0 ? CRYPTO_MEM_CHECK_OFF : CRYPTO_MEM_CHECK_ON);
        }
      });
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 3);
  void* kept = nullptr;
  std::thread([&] { kept = CRYPTO_malloc(9, "fresh.c", 4); }).join();
  EXPECT_NE(RecordingReport().find("file=fresh.c, line=4, number=9"), std::string::npos);
  CRYPTO_free(kept);
}

namespace {

// Runs of the stress tests below: MORVANE_MEM_DBG_RUNS (200 by hand), else 5.
int Runs() {
  const char* env = getenv("MORVANE_MEM_DBG_RUNS");
  return env != nullptr ? atoi(env) : 5;
}

// As each report starts (`starting`), the reporting thread waits a moment
// before it takes 27, and any other thread that takes 27 holds it a moment.
CRYPTO_locking_cb served = nullptr;
std::atomic<bool> starting{false};
std::atomic<unsigned long> reporter{0};
void Stretching(int mode, int type, const char* file, int line) {
  const bool stretch = type == CRYPTO_LOCK_MALLOC2 && (mode & CRYPTO_LOCK) && starting.load();
  const bool mine = stretch && CRYPTO_thread_id() == reporter.load();
  if (mine) usleep(100);
  served(mode, type, file, line);
  if (stretch) mine ? starting.store(false) : (void)usleep(100);
}

int kept_calls;
void* CountKept(unsigned long, const char* file, int, int, void*) {
  kept_calls += strcmp(file, "kept.c") == 0;
  return nullptr;
}

// The kept blocks a report of `kind` (0 stream, 1 file, 2 callback) lists;
// -1 when the lines of a text report do not agree with its summary.
int KeptListed(int kind) {
  if (kind == 2) {
    kept_calls = 0;
    CRYPTO_mem_leaks_cb(CountKept);
    return kept_calls;
  }
  std::string text = kind == 0 ? RecordingReport() : "";
  if (kind == 1) {
    FILE* f = tmpfile();
    CRYPTO_mem_leaks_fp(f);
    text.assign(static_cast<size_t>(ftell(f)), '\0');
    rewind(f);
    text.resize(fread(text.data(), 1, text.size(), f));
    fclose(f);
  }
  int kept = 0, lines = 0, said = -1;
  for (size_t at = text.find("number="); at != std::string::npos;
       at = text.find("number=", at + 1)) {
    lines++;
    kept += text.compare(text.rfind("file=", at), 12, "file=kept.c,") == 0;
  }
  const size_t summary = text.find(" bytes leaked in ");
  if (summary != std::string::npos) said = atoi(text.c_str() + summary + 17);
  return said == lines ? kept : -1;
}

class MemDbgSwitching : public testing::TestWithParam<std::tuple<int, bool>> {};

}  // namespace

// Eight threads allocate and label while one switches the checker off and
// on and this one asks for reports (stream, file, callback), with 27 held a
// moment as each starts or not: none hangs (the watchdog ends the program),
// each lists the five kept blocks, and its lines agree with its summary.
TEST_P(MemDbgSwitching, ReportsWhileTheCheckerIsSwitched) {
  const auto [kind, stretch] = GetParam();
  morvane_test::InstallLockingCallback();
  served = CRYPTO_get_locking_callback();
  CRYPTO_set_locking_callback(Stretching);
  morvane_test::InstallThreadIdCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  reporter = CRYPTO_thread_id();
  void* kept[5];
  for (int i = 0; i < 5; i++) kept[i] = CRYPTO_malloc(100, "kept.c", i);
  for (int run = 0; run < Runs(); run++) {
    std::atomic<bool> done{false};
    std::thread toggler([&] {
      for (int i = 0; !done.load() || i % 2 == 1; i++)
        CRYPTO_mem_ctrl(i % 2 == 0 ? CRYPTO_MEM_CHECK_OFF : CRYPTO_MEM_CHECK_ON);
    });
    WhileThreadsWork(
        8, [] { CRYPTO_free(CRYPTO_realloc(CRYPTO_malloc(24, "loop.c", 1), 48, "loop.c", 2)); },
        [&] {
          for (int i = 0; i < 10; i++) {
            starting = stretch;
            EXPECT_EQ(KeptListed(kind), 5) << "run " << run;
          }
        });
    done = true;
    toggler.join();
  }
  for (void* p : kept) CRYPTO_free(p);
}
INSTANTIATE_TEST_SUITE_P(Reports, MemDbgSwitching,
                         testing::Combine(testing::Values(0, 1, 2), testing::Bool()));

// A thread with its recording suspended asks for a report into a read-only
// memory stream, whose writes queue errors (lock 1), while eight threads
// make their error states (allocating under 1): no hang, and the suspension
// holds after it.
TEST(MemDbgThreads, SuspendedReportIntoAStreamThatQueuesErrors) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  void* kept = CRYPTO_malloc(10, "kept.c", 1);
  char bytes[] = "read only";
  BIO* ro = BIO_new_mem_buf(bytes, -1);
  for (int run = 0; run < Runs(); run++) {
    WhileThreadsWork(
        8,
        [] {
          ERR_put_error(ERR_LIB_BIO, 0, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
          ERR_remove_state(0);
        },
        [&] {
          CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
          CRYPTO_mem_leaks(ro);
          EXPECT_EQ(CRYPTO_is_mem_check_on(), 0);
          CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
        });
    EXPECT_NE(ERR_get_error(), 0u);  // the refused writes
    ERR_clear_error();
  }
  BIO_free(ro);
  CRYPTO_free(kept);
}
