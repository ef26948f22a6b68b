// Eight threads push, annotate, mark and read errors at once, with real lock
// and thread-id callbacks: each must see exactly its own entries, in order.

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <string>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>

#include "test_support.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 300;

struct Worker {
  int index;
  std::atomic<int>* ready;
  int failures = 0;
};

void Check(Worker* w, bool ok) {
  if (!ok) w->failures++;
}

void* WorkerMain(void* arg) {
  auto* w = static_cast<Worker*>(arg);
  int lib = ERR_LIB_USER + w->index;
  std::string tag = "thread " + std::to_string(w->index);
  // Start together, so the threads create their queues at the same time.
  w->ready->fetch_add(1);
  while (w->ready->load() < kThreads) sched_yield();
  for (int round = 0; round < kRounds; round++) {
    int n = 1 + round % 20;  // above 15 the oldest entries drop out
    for (int i = 0; i < n; i++) {
      ERR_put_error(lib, round % 4096, i, "w.cc", i);
      std::string text = tag + " entry " + std::to_string(i);
      ERR_add_error_data(2, text.c_str(), "");
    }
    int pushed = n;
    if (round % 3 == 0) {  // one more entry, taken back again
      ERR_set_mark();
      ERR_put_error(lib, 1, 4095, "w.cc", 0);
      pushed++;
      Check(w, ERR_pop_to_mark() == 1);
    }
    int first = pushed > ERR_NUM_ERRORS - 1 ? pushed - (ERR_NUM_ERRORS - 1) : 0;
    for (int i = first; i < n; i++) {
      const char* file = nullptr;
      const char* data = nullptr;
      int line = -1, flags = 0;
      unsigned long e = ERR_get_error_line_data(&file, &line, &data, &flags);
      Check(w, e == ERR_PACK(lib, round % 4096, i) && line == i);
      Check(w, data != nullptr && tag + " entry " + std::to_string(i) == data);
      Check(w, flags == (ERR_TXT_MALLOCED | ERR_TXT_STRING));
    }
    Check(w, ERR_get_error() == 0);
    if (round % 50 == 49) ERR_remove_state(0);  // start over with a fresh queue
  }
  ERR_remove_state(0);
  return nullptr;
}

TEST(ErrThreads, EightThreadsKeepTheirQueuesApart) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  ERR_put_error(ERR_LIB_CRYPTO, 1, 2, "main.cc", 1);  // the main thread's own entry

  std::atomic<int> ready{0};
  Worker workers[kThreads];
  pthread_t threads[kThreads];
  for (int i = 0; i < kThreads; i++) {
    workers[i].index = i;
    workers[i].ready = &ready;
    ASSERT_EQ(pthread_create(&threads[i], nullptr, WorkerMain, &workers[i]), 0);
  }
  for (int i = 0; i < kThreads; i++) pthread_join(threads[i], nullptr);
  for (int i = 0; i < kThreads; i++) EXPECT_EQ(workers[i].failures, 0) << "thread " << i;

  EXPECT_EQ(ERR_get_error(), ERR_PACK(ERR_LIB_CRYPTO, 1, 2));
  EXPECT_EQ(ERR_get_error(), 0UL);
  LHASH* table = ERR_get_err_state_table();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(lh_num_items(table), 1UL);  // only the main thread's queue is left
  ERR_release_err_state_table(&table);
  ERR_remove_state(0);
  EXPECT_EQ(ERR_get_err_state_table(), nullptr);
}

}  // namespace
