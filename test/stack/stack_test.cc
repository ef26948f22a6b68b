#include <morvane/stack.h>
#include <gtest/gtest.h>
TEST(Stack, Placeholder) { EXPECT_EQ(sk_num(nullptr), -1); }
