// The generic stack: growth, insertion and deletion, lazy sorting and search.

#include <morvane/stack.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Elements are pointers to ints, compared by value.
int CmpInt(const char* const* a, const char* const* b) {
  int x = *reinterpret_cast<const int*>(*a);
  int y = *reinterpret_cast<const int*>(*b);
  return x < y ? -1 : x > y ? 1 : 0;
}
int CmpIntReverse(const char* const* a, const char* const* b) { return CmpInt(b, a); }

char* P(int& v) { return reinterpret_cast<char*>(&v); }
int V(char* p) { return *reinterpret_cast<int*>(p); }

std::vector<int> Values(STACK* sk) {
  std::vector<int> out;
  for (int i = 0; i < sk_num(sk); i++) out.push_back(V(sk_value(sk, i)));
  return out;
}

struct StackGuard {
  STACK* sk;
  ~StackGuard() { sk_free(sk); }
};

}  // namespace

TEST(Stack, EmptyAndNullStacks) {
  STACK* sk = sk_new_null();
  ASSERT_NE(sk, nullptr);
  StackGuard g{sk};
  EXPECT_EQ(sk_num(sk), 0);
  EXPECT_EQ(sk_is_sorted(sk), 0);
  EXPECT_EQ(sk_value(sk, 0), nullptr);
  EXPECT_EQ(sk_pop(sk), nullptr);
  EXPECT_EQ(sk_shift(sk), nullptr);
  EXPECT_EQ(sk_num(nullptr), -1);
  EXPECT_EQ(sk_is_sorted(nullptr), 1);
  EXPECT_EQ(sk_value(nullptr, 0), nullptr);
  EXPECT_EQ(sk_push(nullptr, nullptr), 0);
  EXPECT_EQ(sk_insert(nullptr, nullptr, 0), 0);
  EXPECT_EQ(sk_delete(nullptr, 0), nullptr);
  EXPECT_EQ(sk_find(nullptr, nullptr), -1);
  sk_free(nullptr);
  sk_pop_free(nullptr, [](void*) { FAIL(); });
  sk_zero(nullptr);
  sk_sort(nullptr);
}

TEST(Stack, SlotArrayDoublesBeforeItFills) {
  STACK* sk = sk_new_null();
  StackGuard g{sk};
  int v[20];
  std::vector<int> alloc_after;
  for (int i = 0; i < 17; i++) {
    v[i] = i;
    ASSERT_EQ(sk_push(sk, P(v[i])), i + 1);
    alloc_after.push_back(sk->num_alloc);
    EXPECT_GT(sk->num_alloc, sk->num);
  }
  // 3 pushes keep 4 slots; the 4th grows to 8; the 8th to 16; the 16th to 32.
  EXPECT_EQ(alloc_after[2], 4);
  EXPECT_EQ(alloc_after[3], 8);
  EXPECT_EQ(alloc_after[6], 8);
  EXPECT_EQ(alloc_after[7], 16);
  EXPECT_EQ(alloc_after[14], 16);
  EXPECT_EQ(alloc_after[15], 32);
}

TEST(Stack, InsertPositions) {
  STACK* sk = sk_new_null();
  StackGuard g{sk};
  int a = 1, b = 2, c = 3, d = 4;
  sk_push(sk, P(a));
  sk_push(sk, P(b));
  EXPECT_EQ(sk_insert(sk, P(c), -5), 3);  // appends
  EXPECT_EQ(sk_insert(sk, P(d), sk_num(sk)), 4);
  EXPECT_EQ(Values(sk), (std::vector<int>{1, 2, 3, 4}));
  int z = 0;
  sk_insert(sk, P(z), 0);
  EXPECT_EQ(Values(sk), (std::vector<int>{0, 1, 2, 3, 4}));
  int m = 9;
  sk_insert(sk, P(m), 2);
  EXPECT_EQ(Values(sk), (std::vector<int>{0, 1, 9, 2, 3, 4}));
  int u = -1;
  sk_unshift(sk, P(u));
  EXPECT_EQ(V(sk_value(sk, 0)), -1);
}

TEST(Stack, DeleteShiftPopAndOutOfRange) {
  STACK* sk = sk_new_null();
  StackGuard g{sk};
  int v[5] = {10, 20, 30, 40, 50};
  for (int& x : v) sk_push(sk, P(x));
  EXPECT_EQ(sk_delete(sk, 5), nullptr);
  EXPECT_EQ(sk_delete(sk, -1), nullptr);
  EXPECT_EQ(sk_num(sk), 5);
  EXPECT_EQ(V(sk_delete(sk, 1)), 20);
  EXPECT_EQ(Values(sk), (std::vector<int>{10, 30, 40, 50}));
  EXPECT_EQ(V(sk_shift(sk)), 10);
  EXPECT_EQ(V(sk_pop(sk)), 50);
  EXPECT_EQ(sk_delete_ptr(sk, P(v[0])), nullptr);
  EXPECT_EQ(sk_delete_ptr(sk, P(v[3])), P(v[3]));
  EXPECT_EQ(Values(sk), (std::vector<int>{30}));
}

TEST(Stack, SetAndZero) {
  STACK* sk = sk_new(CmpInt);
  StackGuard g{sk};
  int a = 1, b = 2, c = 3;
  sk_push(sk, P(a));
  sk_push(sk, P(b));
  sk_sort(sk);
  ASSERT_EQ(sk_is_sorted(sk), 1);
  EXPECT_EQ(sk_set(sk, 1, P(c)), P(c));
  EXPECT_EQ(sk_is_sorted(sk), 1);  // sk_set leaves the flag
  EXPECT_EQ(sk_set(sk, 2, P(c)), nullptr);
  EXPECT_EQ(sk_set(sk, -1, P(c)), nullptr);
  sk_zero(sk);
  EXPECT_EQ(sk_num(sk), 0);
  EXPECT_EQ(sk->num_alloc, 4);
  EXPECT_EQ(sk_is_sorted(sk), 1);
}

TEST(StackFind, WithoutComparisonMatchesIdentityOnly) {
  STACK* sk = sk_new_null();
  StackGuard g{sk};
  int a = 5, b = 5;
  sk_push(sk, P(a));
  EXPECT_EQ(sk_find(sk, P(b)), -1);
  EXPECT_EQ(sk_find_ex(sk, P(b)), -1);
  EXPECT_EQ(sk_find(sk, P(a)), 0);
  EXPECT_EQ(sk_find(sk, nullptr), -1);
  sk_push(sk, nullptr);
  EXPECT_EQ(sk_find(sk, nullptr), 1);
  EXPECT_EQ(sk_is_sorted(sk), 0);  // never sorted without a comparison
}

TEST(StackFind, DuplicatesGiveTheLowestIndexAndSortLazily) {
  STACK* sk = sk_new(CmpInt);
  StackGuard g{sk};
  int v[4] = {30, 20, 10, 20};
  for (int& x : v) sk_push(sk, P(x));
  EXPECT_EQ(sk_find(sk, nullptr), -1);  // a null key sorts all the same
  EXPECT_EQ(sk_is_sorted(sk), 1);
  EXPECT_EQ(Values(sk), (std::vector<int>{10, 20, 20, 30}));
  int key = 20, absent = 25;
  EXPECT_EQ(sk_find(sk, P(key)), 1);
  EXPECT_EQ(sk_find(sk, P(absent)), -1);
}

TEST(StackFind, FindExGivesTheLastProbedSlot) {
  STACK* sk = sk_new(CmpInt);
  StackGuard g{sk};
  EXPECT_EQ(sk_find_ex(sk, nullptr), -1);
  int k0 = 1;
  EXPECT_EQ(sk_find_ex(sk, P(k0)), -1);  // empty
  int a = 10, b = 30;
  sk_push(sk, P(a));
  sk_push(sk, P(b));
  int k20 = 20, k40 = 40, k5 = 5;
  EXPECT_EQ(sk_find_ex(sk, P(k20)), 0);
  EXPECT_EQ(sk_find_ex(sk, P(k40)), 1);
  EXPECT_EQ(sk_find_ex(sk, P(k5)), 0);
}

TEST(StackFind, ComparisonChangeClearsSorted) {
  STACK* sk = sk_new(CmpInt);
  StackGuard g{sk};
  int v[3] = {2, 3, 1};
  for (int& x : v) sk_push(sk, P(x));
  sk_sort(sk);
  EXPECT_EQ(sk_set_cmp_func(sk, CmpInt), CmpInt);
  EXPECT_EQ(sk_is_sorted(sk), 1);
  EXPECT_EQ(sk_set_cmp_func(sk, CmpIntReverse), CmpInt);
  EXPECT_EQ(sk_is_sorted(sk), 0);
  sk_sort(sk);
  EXPECT_EQ(Values(sk), (std::vector<int>{3, 2, 1}));
  int w = 0;
  sk_push(sk, P(w));
  EXPECT_EQ(sk_is_sorted(sk), 0);  // any insertion clears it
}

namespace {
int g_compared = 0;
int CountedCmpInt(const char* const* a, const char* const* b) {
  g_compared++;
  return CmpInt(a, b);
}
}  // namespace

// Elements appended to a sorted stack are sorted and merged in by the next
// search, each after the equal ones before it, in a few bisections; an
// insertion, deletion or setting before the end cuts the part in order.
TEST(StackFind, AppendedElementsAreMergedIn) {
  STACK* sk = sk_new(CountedCmpInt);
  StackGuard g{sk};
  int v[8] = {1, 3, 5, 7, 9, 11, 13, 15}, more[3] = {9, 0, 16};
  for (int& x : v) sk_push(sk, P(x));
  sk_sort(sk);
  for (int& x : more) sk_push(sk, P(x));
  EXPECT_EQ(sk->sorted_num, 8);
  g_compared = 0;
  sk_sort(sk);
  EXPECT_LE(g_compared, 3 + 1 + 3 * 4);  // the three sorted, a look, three bisections
  EXPECT_EQ(Values(sk), (std::vector<int>{0, 1, 3, 5, 7, 9, 9, 11, 13, 15, 16}));
  EXPECT_EQ(sk_value(sk, 5), P(v[4]));  // the 9 in order first
  EXPECT_EQ(sk->sorted_num, 11);
  sk_insert(sk, P(more[1]), 2);
  EXPECT_EQ(sk->sorted_num, 2);
  sk_delete(sk, 0);
  EXPECT_EQ(sk->sorted_num, 1);
  sk_set(sk, 0, P(more[2]));
  EXPECT_EQ(sk->sorted_num, 0);
  sk_sort(sk);
  EXPECT_EQ(Values(sk), (std::vector<int>{0, 3, 5, 7, 9, 9, 11, 13, 15, 16, 16}));
}

TEST(Stack, DupIsShallowAndKeepsState) {
  STACK* sk = sk_new(CmpInt);
  StackGuard g{sk};
  int v[6] = {6, 5, 4, 3, 2, 1};
  for (int& x : v) sk_push(sk, P(x));
  sk_sort(sk);
  STACK* d = sk_dup(sk);
  ASSERT_NE(d, nullptr);
  StackGuard gd{d};
  EXPECT_EQ(d->num_alloc, sk->num_alloc);
  EXPECT_EQ(sk_is_sorted(d), 1);
  EXPECT_EQ(d->comp, sk->comp);
  for (int i = 0; i < 6; i++) EXPECT_EQ(sk_value(d, i), sk_value(sk, i));
}

namespace {
std::vector<int> g_freed;
void RecordFree(void* p) { g_freed.push_back(*static_cast<int*>(p)); }
}  // namespace

TEST(Stack, PopFreeSkipsNullsInOrder) {
  STACK* sk = sk_new_null();
  int a = 1, b = 2, c = 3;
  sk_push(sk, P(a));
  sk_push(sk, nullptr);
  sk_push(sk, P(b));
  sk_push(sk, P(c));
  g_freed.clear();
  sk_pop_free(sk, RecordFree);
  EXPECT_EQ(g_freed, (std::vector<int>{1, 2, 3}));
}

TEST(Stack, AllocationFailuresLeaveTheStackUnchanged) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(sk_new_null(), nullptr);
  morvane_test::FailAllocationAfter(2);
  EXPECT_EQ(sk_new_null(), nullptr);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);

  STACK* sk = sk_new_null();
  ASSERT_NE(sk, nullptr);
  int v[4] = {1, 2, 3, 4};
  for (int i = 0; i < 3; i++) sk_push(sk, P(v[i]));
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(sk_push(sk, P(v[3])), 0);  // growth fails
  EXPECT_EQ(Values(sk), (std::vector<int>{1, 2, 3}));
  morvane_test::FailAllocationAfter(3);  // sk_new succeeds, the resize fails
  EXPECT_EQ(sk_dup(sk), nullptr);
  sk_free(sk);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

// The stack calls its comparison through the comparison's own type, with the
// addresses of two element pointers, when it sorts and when it searches (the
// key then in a slot of its own): the comparison sees only elements or the key.
namespace {

char g_items[] = "dbcab", g_key = 'b';
int g_bad_args = 0;

int CompareBytes(const char* const* a, const char* const* b) {
  for (const char* p : {*a, *b})
    if (p != &g_key && (p < g_items || p >= g_items + 5)) ++g_bad_args;
  return **a - **b;
}

TEST(StackComparison, SortAndSearchPassElementSlots) {
  STACK* sk = sk_new(CompareBytes);
  for (char* p = g_items; *p != '\0'; p++) sk_push(sk, p);
  EXPECT_EQ(sk_find(sk, &g_key), 1);  // sorted "abbcd": the first 'b'
  std::string sorted;
  for (int i = 0; i < sk_num(sk); i++) sorted += *sk_value(sk, i);
  EXPECT_EQ(sorted, "abbcd");
  EXPECT_EQ(g_bad_args, 0);
  sk_free(sk);
}

}  // namespace
