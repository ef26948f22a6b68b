// The stack calls its comparison through the comparison's own type, with the
// addresses of two element pointers, when it sorts and when it searches (the
// key then in a slot of its own): the comparison sees only elements or the key.

#include <string>

#include <gtest/gtest.h>
#include <morvane/stack.h>

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
