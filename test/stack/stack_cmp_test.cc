// The stack calls its comparison through the comparison's own type, with the
// addresses of two element pointers, both when it sorts and when it searches
// (the key then sits in a slot of its own).  A comparison that checks what it
// is given sees only elements of the stack or the key.

#include <algorithm>
#include <iterator>

#include <gtest/gtest.h>
#include <morvane/stack.h>

namespace {

char g_items[] = "dbcab";  // elements: pointers to these bytes
char g_key = 'b';
int g_bad_args = 0;

bool Known(const char* const* slot) {
  const char* p = *slot;
  return p == &g_key || (p >= std::begin(g_items) && p < std::end(g_items) - 1);
}

int CompareBytes(const char* const* a, const char* const* b) {
  if (!Known(a) || !Known(b)) ++g_bad_args;
  return **a - **b;
}

TEST(StackComparison, SortAndSearchPassElementSlots) {
  STACK* sk = sk_new(CompareBytes);
  for (char* p = g_items; *p != '\0'; p++) sk_push(sk, p);
  EXPECT_EQ(sk_find(sk, &g_key), 1);  // sorted "abbcd": the first 'b'
  EXPECT_EQ(*sk_value(sk, 1), 'b');
  EXPECT_EQ(*sk_value(sk, 2), 'b');
  EXPECT_TRUE(std::is_sorted(sk->data, sk->data + sk_num(sk),
                             [](char* x, char* y) { return *x < *y; }));
  EXPECT_EQ(g_bad_args, 0);
  sk_free(sk);
}

}  // namespace
