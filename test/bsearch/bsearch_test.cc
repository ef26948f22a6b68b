// OBJ_bsearch_ex: bisection over a sorted array with its two flags.

#include <morvane/objects.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> g_probes;
int CmpInt(const void* key, const void* elem) {
  int k = *static_cast<const int*>(key), e = *static_cast<const int*>(elem);
  g_probes.push_back(e);
  return k < e ? -1 : k > e ? 1 : 0;
}

const int* Find(const int* arr, int n, int key, int flags) {
  g_probes.clear();
  return reinterpret_cast<const int*>(OBJ_bsearch_ex(reinterpret_cast<const char*>(&key),
                                                     reinterpret_cast<const char*>(arr), n,
                                                     sizeof(int), CmpInt, flags));
}

}  // namespace

TEST(ObjBsearch, EmptyArrayCallsNothing) {
  int arr[1] = {5};
  EXPECT_EQ(Find(arr, 0, 5, 0), nullptr);
  EXPECT_EQ(Find(arr, 0, 5, OBJ_BSEARCH_VALUE_ON_NOMATCH), nullptr);
  EXPECT_TRUE(g_probes.empty());
}

TEST(ObjBsearch, ProbesMiddleFirst) {
  const int arr[7] = {1, 3, 5, 7, 9, 11, 13};
  EXPECT_EQ(Find(arr, 7, 11, 0), &arr[5]);
  EXPECT_EQ(g_probes, (std::vector<int>{7, 11}));  // i = 3, then 5
}

TEST(ObjBsearch, MissGivesNullOrTheLastProbe) {
  const int arr[4] = {10, 20, 30, 40};
  EXPECT_EQ(Find(arr, 4, 25, 0), nullptr);
  EXPECT_EQ(Find(arr, 4, 25, OBJ_BSEARCH_VALUE_ON_NOMATCH), &arr[1]);
  EXPECT_EQ(g_probes.back(), 20);
  EXPECT_EQ(Find(arr, 4, 99, OBJ_BSEARCH_VALUE_ON_NOMATCH), &arr[3]);
  EXPECT_EQ(Find(arr, 4, 1, OBJ_BSEARCH_VALUE_ON_NOMATCH), &arr[0]);
}

TEST(ObjBsearch, FirstValueFlagWalksBackOverEquals) {
  const int arr[8] = {1, 4, 4, 4, 4, 4, 4, 9};
  const int* hit = Find(arr, 8, 4, 0);
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(*hit, 4);
  EXPECT_EQ(hit, &arr[4]);  // where the bisection stopped
  EXPECT_EQ(Find(arr, 8, 4, OBJ_BSEARCH_FIRST_VALUE_ON_MATCH), &arr[1]);
}
