// Allocation front end: gates, hooks, the debugging layer and the mark byte.
// Each test runs in its own process, so each starts with the gates open.

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// ---- hooks that record what they see --------------------------------------

struct Call {
  std::string what;
  void* a = nullptr;
  void* b = nullptr;
  int num = 0;
  std::string file;
  int line = 0;
  int before_p = -1;
};
std::vector<Call> g_calls;

void* RecMalloc(size_t n) {
  g_calls.push_back({"malloc", nullptr, nullptr, static_cast<int>(n)});
  return malloc(n);
}
void* RecRealloc(void* p, size_t n) {
  g_calls.push_back({"realloc", p, nullptr, static_cast<int>(n)});
  return realloc(p, n);
}
void RecFree(void* p) {
  g_calls.push_back({"free", p});
  free(p);
}
void* RecMallocEx(size_t n, const char* file, int line) {
  g_calls.push_back({"malloc_ex", nullptr, nullptr, static_cast<int>(n), file, line});
  return malloc(n);
}
void* RecReallocEx(void* p, size_t n, const char* file, int line) {
  g_calls.push_back({"realloc_ex", p, nullptr, static_cast<int>(n), file, line});
  return realloc(p, n);
}
void RecFreeLocked(void* p) {
  g_calls.push_back({"free_locked", p});
  free(p);
}
void* NullMalloc(size_t) {
  return nullptr;
}

void DbgMalloc(void* addr, int num, const char* file, int line, int before_p) {
  g_calls.push_back({"dbg_malloc", addr, nullptr, num, file ? file : "", line, before_p});
}
void DbgRealloc(void* a1, void* a2, int num, const char* file, int line, int before_p) {
  g_calls.push_back({"dbg_realloc", a1, a2, num, file ? file : "", line, before_p});
}
void DbgFree(void* addr, int before_p) {
  g_calls.push_back({"dbg_free", addr, nullptr, 0, "", 0, before_p});
}
long g_options = 0;
void DbgSetOptions(long bits) {
  g_options = bits;
}
long DbgGetOptions() {
  return g_options;
}

bool HooksReplaceable() {
  return CRYPTO_set_mem_functions(RecMalloc, RecRealloc, RecFree) == 1;
}

}  // namespace

// The hooks may be replaced until the first allocation: non-positive sizes,
// realloc and free do not close the gate; null hooks are refused.
TEST(MemGate, OnlyARealAllocationClosesTheSetters) {
  EXPECT_EQ(CRYPTO_malloc(0, "f", 1), nullptr);
  EXPECT_EQ(CRYPTO_malloc(-5, "f", 1), nullptr);
  EXPECT_EQ(CRYPTO_malloc_locked(0, "f", 1), nullptr);
  CRYPTO_free(nullptr);
  EXPECT_EQ(CRYPTO_realloc(reinterpret_cast<void*>(16), 0, "f", 1), nullptr);
  EXPECT_EQ(CRYPTO_set_mem_functions(nullptr, realloc, free), 0);
  EXPECT_EQ(CRYPTO_set_mem_functions(malloc, nullptr, free), 0);
  EXPECT_EQ(CRYPTO_set_mem_functions(malloc, realloc, nullptr), 0);
  EXPECT_EQ(CRYPTO_set_locked_mem_functions(malloc, nullptr), 0);
  EXPECT_EQ(CRYPTO_set_locked_mem_ex_functions(nullptr, free), 0);
  EXPECT_TRUE(HooksReplaceable());
  void* p = CRYPTO_malloc_locked(8, "f", 1);
  ASSERT_NE(p, nullptr);
  CRYPTO_free_locked(p);
  EXPECT_EQ(CRYPTO_set_mem_functions(malloc, realloc, free), 0);
}

TEST(MemGate, FirstAllocationClosesEverySetterEvenWhenItFails) {
  ASSERT_EQ(CRYPTO_set_mem_functions(NullMalloc, realloc, free), 1);
  EXPECT_EQ(CRYPTO_malloc(1, "f", 1), nullptr);
  EXPECT_EQ(CRYPTO_set_mem_functions(malloc, realloc, free), 0);
  EXPECT_EQ(CRYPTO_set_mem_ex_functions(RecMallocEx, RecReallocEx, free), 0);
  EXPECT_EQ(CRYPTO_set_locked_mem_functions(malloc, free), 0);
  EXPECT_EQ(CRYPTO_set_locked_mem_ex_functions(RecMallocEx, free), 0);
  EXPECT_EQ(CRYPTO_malloc(1, "f", 1), nullptr);  // the failing hook stays
}

// Each setter routes the calls it names: the ex forms get the place, the
// locked pair only locked memory.
TEST(MemHooks, CallsReachTheHooksTheSettersInstalled) {
  ASSERT_EQ(CRYPTO_set_mem_ex_functions(RecMallocEx, RecReallocEx, RecFree), 1);
  ASSERT_EQ(CRYPTO_set_locked_mem_functions(RecMalloc, RecFreeLocked), 1);
  void* p = CRYPTO_malloc(10, "here.cc", 42);
  void* q = CRYPTO_realloc(p, 20, "there.cc", 7);
  void* a = CRYPTO_malloc_locked(4, "x", 1);
  CRYPTO_free_locked(a);
  CRYPTO_free(q);
  std::vector<std::string> seen;
  for (const Call& c : g_calls)
    seen.push_back(c.what + " " + c.file + ":" + std::to_string(c.line));
  EXPECT_EQ(seen, (std::vector<std::string>{"malloc_ex here.cc:42", "realloc_ex there.cc:7",
                                            "malloc :0", "free_locked :0", "free :0"}));
}

template <class F>
void* Fp(F f) {
  return reinterpret_cast<void*>(f);
}
void* Fp(std::nullptr_t) {
  return nullptr;
}

// The getters report each pair as the kind of setter installed it: the
// plain getter gives null for ex hooks and the other way round.
TEST(MemHooks, GettersReportWhichKindIsInstalled) {
  using Plain = std::vector<void*>;
  auto plain = [] {
    void* (*m)(size_t) = malloc;
    void* (*r)(void*, size_t) = realloc;
    void (*f)(void*) = nullptr;
    void* (*lm)(size_t) = malloc;
    void (*lf)(void*) = nullptr;
    CRYPTO_get_mem_functions(&m, &r, &f);
    CRYPTO_get_locked_mem_functions(&lm, &lf);
    CRYPTO_get_mem_functions(nullptr, nullptr, nullptr);
    CRYPTO_get_locked_mem_functions(nullptr, nullptr);
    return Plain{reinterpret_cast<void*>(m), reinterpret_cast<void*>(r), reinterpret_cast<void*>(f),
                 reinterpret_cast<void*>(lm), reinterpret_cast<void*>(lf)};
  };
  auto ex = [] {
    void* (*m)(size_t, const char*, int) = RecMallocEx;
    void* (*r)(void*, size_t, const char*, int) = RecReallocEx;
    void (*f)(void*) = nullptr;
    void* (*lm)(size_t, const char*, int) = RecMallocEx;
    void (*lf)(void*) = nullptr;
    CRYPTO_get_mem_ex_functions(&m, &r, &f);
    CRYPTO_get_locked_mem_ex_functions(&lm, &lf);
    CRYPTO_get_mem_ex_functions(nullptr, nullptr, nullptr);
    CRYPTO_get_locked_mem_ex_functions(nullptr, nullptr);
    return Plain{reinterpret_cast<void*>(m), reinterpret_cast<void*>(r), reinterpret_cast<void*>(f),
                 reinterpret_cast<void*>(lm), reinterpret_cast<void*>(lf)};
  };
  auto v = [](auto... fns) { return Plain{Fp(fns)...}; };
  ASSERT_TRUE(HooksReplaceable());
  EXPECT_EQ(plain(), v(RecMalloc, RecRealloc, RecFree, RecMalloc, RecFree));
  EXPECT_EQ(ex(), v(nullptr, nullptr, RecFree, nullptr, RecFree));
  ASSERT_EQ(CRYPTO_set_mem_ex_functions(RecMallocEx, RecReallocEx, RecFree), 1);
  ASSERT_EQ(CRYPTO_set_locked_mem_ex_functions(RecMallocEx, RecFreeLocked), 1);
  EXPECT_EQ(plain(), v(nullptr, nullptr, RecFree, nullptr, RecFreeLocked));
  EXPECT_EQ(ex(), v(RecMallocEx, RecReallocEx, RecFree, RecMallocEx, RecFreeLocked));
  ASSERT_EQ(
      CRYPTO_set_mem_debug_functions(DbgMalloc, DbgRealloc, DbgFree, DbgSetOptions, DbgGetOptions),
      1);
  void (*dm)(void*, int, const char*, int, int) = nullptr;
  void (*dr)(void*, void*, int, const char*, int, int) = nullptr;
  void (*df)(void*, int) = nullptr;
  void (*so)(long) = nullptr;
  long (*go)(void) = nullptr;
  CRYPTO_get_mem_debug_functions(&dm, &dr, &df, &so, &go);
  CRYPTO_get_mem_debug_functions(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(v(dm, dr, df, so, go), v(DbgMalloc, DbgRealloc, DbgFree, DbgSetOptions, DbgGetOptions));
  CRYPTO_set_mem_debug_options(5);
  EXPECT_EQ(CRYPTO_get_mem_debug_options(), 5);
}

TEST(MemHooks, FreeOfNullReachesTheHookAndBothDebugCalls) {
  ASSERT_TRUE(HooksReplaceable());
  ASSERT_EQ(CRYPTO_set_mem_debug_functions(DbgMalloc, DbgRealloc, DbgFree, nullptr, nullptr), 1);
  g_calls.clear();
  CRYPTO_free(nullptr);
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].what, "dbg_free");
  EXPECT_EQ(g_calls[0].before_p, 0);
  EXPECT_EQ(g_calls[1].what, "free");
  EXPECT_EQ(g_calls[1].a, nullptr);
  EXPECT_EQ(g_calls[2].what, "dbg_free");
  EXPECT_EQ(g_calls[2].before_p, 1);
}

TEST(MemDebug, OneMallocMakesExactlyTwoDebugCalls) {
  ASSERT_EQ(
      CRYPTO_set_mem_debug_functions(DbgMalloc, DbgRealloc, DbgFree, DbgSetOptions, DbgGetOptions),
      1);
  g_calls.clear();
  void* p = CRYPTO_malloc(24, "src.cc", 7);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].a, nullptr);
  EXPECT_EQ(g_calls[0].num, 24);
  EXPECT_EQ(g_calls[0].file, "src.cc");
  EXPECT_EQ(g_calls[0].line, 7);
  EXPECT_EQ(g_calls[0].before_p, 0);
  EXPECT_EQ(g_calls[1].a, p);
  EXPECT_EQ(g_calls[1].before_p, 1);
  // The allocation ran with a debugging hook: the debug setter is closed now.
  EXPECT_EQ(CRYPTO_set_mem_debug_functions(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  CRYPTO_free(p);
}

TEST(MemDebug, DebugSetterStaysOpenWhileNoDebugHookSawAnAllocation) {
  void* p = CRYPTO_malloc(8, "f", 1);
  EXPECT_EQ(CRYPTO_set_mem_debug_functions(DbgMalloc, nullptr, nullptr, nullptr, nullptr), 1);
  CRYPTO_free(p);
  // Without hooks the forwarders answer for themselves.
  EXPECT_EQ(CRYPTO_get_mem_debug_options(), 0);
  EXPECT_EQ(CRYPTO_push_info("label"), 1);
  EXPECT_EQ(CRYPTO_pop_info(), 1);
  EXPECT_EQ(CRYPTO_remove_all_info(), 1);
}

TEST(MemMark, BlocksOver2048BytesCarryTheCleanseCounter) {
  unsigned char junk[5];
  MORVANE_cleanse(junk, sizeof junk);  // move the counter off zero
  ASSERT_NE(cleanse_ctr, 0);
  auto* big = static_cast<unsigned char*>(CRYPTO_malloc(2049, "f", 1));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big[0], cleanse_ctr);
  unsigned char before = cleanse_ctr;
  void* other = CRYPTO_malloc(5000, "f", 1);
  ASSERT_NE(other, nullptr);
  CRYPTO_free(other);
  EXPECT_EQ(cleanse_ctr, before);  // marking does not advance the counter
  CRYPTO_free(big);
}

namespace {
void* FilledMalloc(size_t n) {
  void* p = malloc(n);
  if (p) memset(p, 0xAA, n);
  return p;
}
}  // namespace

TEST(MemMark, Exactly2048BytesIsNotMarked) {
  unsigned char junk[3];
  MORVANE_cleanse(junk, sizeof junk);
  ASSERT_NE(cleanse_ctr, 0xAA);
  ASSERT_EQ(CRYPTO_set_mem_functions(FilledMalloc, realloc, free), 1);
  auto* p = static_cast<unsigned char*>(CRYPTO_malloc(2048, "f", 1));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0xAA);
  CRYPTO_free(p);
  p = static_cast<unsigned char*>(CRYPTO_malloc_locked(4096, "f", 1));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], cleanse_ctr);
  EXPECT_EQ(p[1], 0xAA);
  CRYPTO_free_locked(p);
}

TEST(MemRealloc, NullBlockBehavesAsMalloc) {
  ASSERT_EQ(CRYPTO_set_mem_debug_functions(DbgMalloc, DbgRealloc, DbgFree, nullptr, nullptr), 1);
  g_calls.clear();
  void* p = CRYPTO_realloc(nullptr, 3000, "r.cc", 9);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].what, "dbg_malloc");
  EXPECT_EQ(g_calls[1].what, "dbg_malloc");
  EXPECT_EQ(static_cast<unsigned char*>(p)[0], cleanse_ctr);
  EXPECT_EQ(CRYPTO_set_mem_functions(malloc, realloc, free), 0);
  CRYPTO_free(p);
}

TEST(MemRealloc, ZeroSizeKeepsTheBlock) {
  auto* p = static_cast<char*>(CRYPTO_malloc(4, "f", 1));
  ASSERT_NE(p, nullptr);
  memcpy(p, "abc", 4);
  EXPECT_EQ(CRYPTO_realloc(p, 0, "f", 1), nullptr);
  EXPECT_STREQ(p, "abc");
  auto* q = static_cast<char*>(CRYPTO_realloc(p, 100, "f", 1));
  ASSERT_NE(q, nullptr);
  EXPECT_STREQ(q, "abc");
  CRYPTO_free(q);
}

TEST(MemRealloc, DebugCallsBracketTheResize) {
  ASSERT_EQ(CRYPTO_set_mem_debug_functions(DbgMalloc, DbgRealloc, DbgFree, nullptr, nullptr), 1);
  void* p = CRYPTO_malloc(4, "f", 1);
  g_calls.clear();
  void* q = CRYPTO_realloc(p, 64, "g", 2);
  ASSERT_NE(q, nullptr);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].a, p);
  EXPECT_EQ(g_calls[0].b, nullptr);
  EXPECT_EQ(g_calls[0].before_p, 0);
  EXPECT_EQ(g_calls[1].a, p);
  EXPECT_EQ(g_calls[1].b, q);
  EXPECT_EQ(g_calls[1].num, 64);
  EXPECT_EQ(g_calls[1].before_p, 1);
  CRYPTO_free(q);
}

namespace {
std::vector<unsigned char> g_freed_contents;
size_t g_watch_len = 0;
void* g_watch = nullptr;
void WatchingFree(void* p) {
  if (p != nullptr && p == g_watch)
    g_freed_contents.assign(static_cast<unsigned char*>(p),
                            static_cast<unsigned char*>(p) + g_watch_len);
  free(p);
}
}  // namespace

TEST(MemReallocClean, MovesWipesAndFreesTheOldBlock) {
  ASSERT_EQ(CRYPTO_set_mem_functions(malloc, realloc, WatchingFree), 1);
  auto* p = static_cast<unsigned char*>(CRYPTO_malloc(16, "f", 1));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 16; i++) p[i] = static_cast<unsigned char>(0xC0 + i);
  g_watch = p;
  g_watch_len = 16;
  auto* q = static_cast<unsigned char*>(CRYPTO_realloc_clean(p, 16, 40, "f", 1));
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q, p);
  for (int i = 0; i < 16; i++) EXPECT_EQ(q[i], 0xC0 + i);
  ASSERT_EQ(g_freed_contents.size(), 16u);
  // The old block held the cleanse pattern when the free hook got it: no
  // byte of the secret survives.
  for (int i = 0; i < 16; i++) EXPECT_NE(g_freed_contents[i], 0xC0 + i) << i;
  CRYPTO_free(q);
}

TEST(MemReallocClean, ShrinkingCopiesOnlyWhatFits) {
  auto* p = static_cast<unsigned char*>(CRYPTO_malloc(64, "f", 1));
  memset(p, 0x5A, 64);
  auto* q = static_cast<unsigned char*>(CRYPTO_realloc_clean(p, 64, 8, "f", 1));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(q), 8), std::string(8, 0x5A));
  CRYPTO_free(q);  // ASan reports any copy past the 8-byte block
}

TEST(MemReallocClean, FailureLeavesTheOldBlockIntact) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  auto* p = static_cast<char*>(CRYPTO_malloc(8, "f", 1));
  ASSERT_NE(p, nullptr);
  memcpy(p, "secret!", 8);
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(CRYPTO_realloc_clean(p, 8, 32, "f", 1), nullptr);
  EXPECT_STREQ(p, "secret!");
  EXPECT_EQ(CRYPTO_realloc_clean(p, 8, 0, "f", 1), nullptr);
  EXPECT_STREQ(p, "secret!");
  CRYPTO_free(p);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

TEST(MemRemalloc, ReturnsAFreshBlockReportedUnderItsOwnPlace) {
  ASSERT_EQ(CRYPTO_set_mem_debug_functions(DbgMalloc, DbgRealloc, DbgFree, nullptr, nullptr), 1);
  void* p = CRYPTO_malloc(4, "caller.cc", 1);
  g_calls.clear();
  void* q = CRYPTO_remalloc(p, 32, "caller.cc", 2);
  ASSERT_NE(q, nullptr);
  ASSERT_EQ(g_calls.size(), 4u);  // two free calls, two malloc calls
  EXPECT_EQ(g_calls[2].file, "mem.cc");
  EXPECT_EQ(g_calls[2].line, 410);
  CRYPTO_free(q);
}

// The allocation macros take sizes computed in size_t: one past INT_MAX
// allocates nothing, where a cast to int used to keep only its low bits (2^32
// + 16 gave a 16-byte block).
TEST(MemMacros, SizesPastIntMaxAllocateNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const size_t too_big = (size_t{1} << 32) + 16;
  EXPECT_EQ(MORVANE_malloc(too_big), nullptr);
  EXPECT_EQ(MORVANE_malloc_locked(too_big), nullptr);
  EXPECT_EQ(MORVANE_malloc(size_t{INT_MAX} + 1), nullptr);
  void* p = MORVANE_malloc(16);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(MORVANE_realloc(p, too_big), nullptr);  // p stays valid
  EXPECT_EQ(MORVANE_realloc_clean(p, 16, too_big), nullptr);
  MORVANE_free(p);
  EXPECT_EQ(morvane_test::GetAllocCounts().mallocs, 1);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}
