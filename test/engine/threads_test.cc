// Eight threads register, select and unregister random engines at once
// under real lock callbacks; afterwards every count is back where it began.

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/rand.h>

#include "test_support.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 300;

std::atomic<int> inits{0};
std::atomic<int> finishes{0};
std::atomic<int> destroys{0};

int Init(ENGINE*) {
  return ++inits, 1;
}
int Finish(ENGINE*) {
  return ++finishes, 1;
}
int Destroy(ENGINE*) {
  return ++destroys, 1;
}

const RAND_METHOD kRand = {};

TEST(EngineThreads, SelectRegisterUnregister) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  ENGINE* es[kThreads];
  for (ENGINE*& e : es) {
    e = ENGINE_new();
    ENGINE_set_RAND(e, &kRand);
    ENGINE_set_init_function(e, Init);
    ENGINE_set_finish_function(e, Finish);
    ENGINE_set_destroy_function(e, Destroy);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&es, t] {
      for (int r = 0; r < kRounds; r++) {
        ENGINE_register_RAND(es[t]);
        if (ENGINE* got = ENGINE_get_default_RAND()) {
          EXPECT_EQ(ENGINE_get_RAND(got), &kRand);
          ENGINE_finish(got);
        }
        if (r % 3 == 0) ENGINE_unregister_RAND(es[t]);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  ENGINE_cleanup();
  EXPECT_EQ(inits.load(), finishes.load());
  EXPECT_GT(inits.load(), 0);
  for (ENGINE* e : es) EXPECT_EQ(ENGINE_free(e), 1);
  EXPECT_EQ(destroys.load(), kThreads);  // one structural reference each was left
}

}  // namespace
