// The leak checker when allocations fail, its own included: every k-th one
// on eight threads, and one failed allocation of its record table.  A report
// then lists only blocks that are live, with their sizes, and every live
// block but those whose record could not be made; never a block that is gone.

#include <stdlib.h>
#include <string.h>

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Hooks that fail every k-th request (`every`) and, once, the hash table's
// next malloc (1) or realloc (2) (`table_kind`); they count the failed
// requests of the checker itself (its records, labels and tables).
std::atomic<long> every{0}, calls{0}, own_failures{0};
std::atomic<int> table_kind{0};

bool Fails(const char* file, int kind) {
  const long k = every.load();
  bool fail = k > 0 && calls.fetch_add(1) % k == k - 1;
  const bool table = file != nullptr && strstr(file, "lhash.cc") != nullptr;
  int want = kind;
  if (table && table_kind.compare_exchange_strong(want, 0)) fail = true;
  if (fail && (table || (file != nullptr && strstr(file, "mem_dbg.cc") != nullptr)))
    own_failures++;
  return fail;
}
void* Malloc(size_t n, const char* file, int) { return Fails(file, 1) ? nullptr : malloc(n); }
void* Realloc(void* p, size_t n, const char* file, int) {
  return Fails(file, 2) ? nullptr : realloc(p, n);
}

void StartChecker() {
  ASSERT_EQ(CRYPTO_set_mem_ex_functions(Malloc, Realloc, free), 1);
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
}

constexpr char kMine[] = "sweep.c";
using Blocks = std::map<void*, int>;

// The records of blocks allocated at kMine, by address; a second record of
// one address counts in `dups`.
Blocks records;
int dups = 0;
void* Collect(unsigned long, const char* file, int, int num, void* addr) {
  if (strcmp(file, kMine) == 0) dups += !records.emplace(addr, num).second;
  return nullptr;
}
Blocks Recorded() {
  records.clear();
  dups = 0;
  CRYPTO_mem_leaks_cb(Collect);
  EXPECT_EQ(dups, 0);
  return records;
}

// Every record is a live block of that size; blocks are missing only as
// many as the checker's own requests failed.
void ExpectReportOf(const Blocks& live, long k) {
  FILE* null = fopen("/dev/null", "w");
  ASSERT_NE(null, nullptr);
  CRYPTO_mem_leaks_fp(null);  // the text, labels included
  fclose(null);
  const Blocks got = Recorded();
  for (const auto& [addr, num] : got) {
    auto it = live.find(addr);
    ASSERT_TRUE(it != live.end()) << "k " << k << ": a block that is gone";
    EXPECT_EQ(num, it->second) << "k " << k;
  }
  EXPECT_LE(static_cast<long>(live.size() - got.size()), own_failures.load()) << "k " << k;
}

}  // namespace

TEST(MemDbgFailures, EveryKthAllocationFailsOnEightThreads) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  StartChecker();
  constexpr int kThreads = 8;
  for (long k : morvane_test::SweepSteps()) {
    std::vector<Blocks> live(kThreads);
    own_failures = 0;
    every = k;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
      threads.emplace_back([&live, t] {
        Blocks& mine = live[t];
        for (int i = 0; i < 150; i++) {
          if (i % 16 == 0) CRYPTO_push_info("sweep");
          const int size = 1 + (i * 7 + t) % 300;
          if (void* p = CRYPTO_malloc(size, kMine, i)) {
            mine[p] = size;
            if (i % 3 == 1) {
              if (void* q = CRYPTO_realloc(p, size + 500, kMine, i)) {
                mine.erase(p);
                mine[q] = size + 500;
              }
            }
          }
          if (i % 4 == 2 && !mine.empty()) {
            CRYPTO_free(mine.begin()->first);
            mine.erase(mine.begin());
          }
          if (i % 16 == 15) CRYPTO_pop_info();
        }
      });
    }
    for (auto& th : threads) th.join();
    every = 0;
    Blocks all;
    for (const Blocks& b : live) all.insert(b.begin(), b.end());
    ExpectReportOf(all, k);
    for (const auto& b : all) CRYPTO_free(b.first);
    EXPECT_TRUE(Recorded().empty()) << "k " << k;
  }
}

// A failed node (the block's record is not kept; the block is then freed)
// and a failed doubling of the bucket array (every record is kept).
TEST(MemDbgFailures, OneFailedTableAllocationThenAReport) {
  StartChecker();
  void* first = CRYPTO_malloc(1, kMine, 0);  // the table exists
  ASSERT_NE(first, nullptr);
  for (int kind : {1, 2}) {
    Blocks live = {{first, 1}};
    table_kind = kind;
    void* unrecorded = nullptr;
    for (int i = 1; i < 100; i++) {
      void* p = CRYPTO_malloc(i + 1, kMine, i);
      ASSERT_NE(p, nullptr);
      live[p] = i + 1;
      if (i == 1 && kind == 1) unrecorded = p;
    }
    EXPECT_EQ(table_kind, 0) << kind;  // the failure came
    if (unrecorded != nullptr) {
      CRYPTO_free(unrecorded);
      live.erase(unrecorded);
    }
    EXPECT_EQ(Recorded(), live) << kind;
    for (const auto& b : live)
      if (b.first != first) CRYPTO_free(b.first);
    EXPECT_EQ(Recorded(), (Blocks{{first, 1}})) << kind;
  }
  CRYPTO_free(first);
}
