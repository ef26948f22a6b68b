// The linear hash table: growth and shrinking one bucket at a time, the
// statistics counters, replacement, walks and the string hash.

#include <morvane/lhash.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "test_support.h"

namespace {

// Items are ints whose hash is the value itself, so bucket placement is
// predictable.
unsigned long HashInt(const void* p) { return static_cast<unsigned long>(*static_cast<const int*>(p)); }
int CmpInt(const void* a, const void* b) {
  return *static_cast<const int*>(a) == *static_cast<const int*>(b) ? 0 : 1;
}

struct TableGuard {
  LHASH* lh;
  ~TableGuard() { lh_free(lh); }
};

std::vector<int> Bucket(LHASH* lh, unsigned int i) {
  std::vector<int> out;
  for (LHASH_NODE* n = lh->b[i]; n != nullptr; n = n->next) out.push_back(*static_cast<int*>(n->data));
  return out;
}

}  // namespace

TEST(Lhash, SeventeenthInsertSplitsBucketZero) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  int v[17];
  for (int i = 0; i < 16; i++) {
    v[i] = i * 8;  // every item hashes to bucket 0 mod 8
    EXPECT_EQ(lh_insert(lh, &v[i]), nullptr);
  }
  EXPECT_EQ(lh->num_nodes, 8u);
  EXPECT_EQ(lh->num_expands, 0u);
  v[16] = 3;
  lh_insert(lh, &v[16]);
  EXPECT_EQ(lh->num_nodes, 9u);
  EXPECT_EQ(lh->p, 1u);
  EXPECT_EQ(lh->num_expands, 1u);
  // Bucket 0 was split by hash mod 16: multiples of 16 stay, the rest move to
  // bucket 8 in reverse order.
  EXPECT_EQ(Bucket(lh, 0), (std::vector<int>{0, 16, 32, 48, 64, 80, 96, 112}));
  EXPECT_EQ(Bucket(lh, 8), (std::vector<int>{120, 104, 88, 72, 56, 40, 24, 8}));
  for (int i = 0; i < 17; i++) EXPECT_EQ(lh_retrieve(lh, &v[i]), &v[i]);
}

TEST(Lhash, CycleEndDoublesTheArray) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  std::vector<int> v(64);
  for (int i = 0; i < 64; i++) v[i] = i;
  int n = 0;
  while (lh->num_expand_reallocs == 0) lh_insert(lh, &v[n++]);
  EXPECT_EQ(lh->num_alloc_nodes, 32u);
  EXPECT_EQ(lh->pmax, 16u);
  EXPECT_EQ(lh->p, 0u);
  EXPECT_EQ(lh->num_nodes, 16u);
  EXPECT_EQ(lh->num_expands, 8u);
  // Bucket 7 was split into bucket 15 by hash mod 16.
  for (int x : Bucket(lh, 7)) EXPECT_EQ(x % 16, 7);
  for (int x : Bucket(lh, 15)) EXPECT_EQ(x % 16, 15);
  for (int i = 0; i < n; i++) EXPECT_EQ(lh_retrieve(lh, &v[i]), &v[i]);
}

// Replacement returns the old item; hits, misses and comparisons are
// counted (the comparison runs only for equal cached hashes).
TEST(Lhash, ReplaceAndCounters) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  int a = 7, b = 7, c = 15, absent = 2;  // c shares a's bucket (mod 8) with another hash
  EXPECT_EQ(lh_insert(lh, &a), nullptr);
  EXPECT_EQ(lh_insert(lh, &b), &a);
  EXPECT_EQ(lh_insert(lh, &c), nullptr);
  const unsigned long comps = lh->num_comp_calls;
  EXPECT_EQ(lh_retrieve(lh, &c), &c);
  EXPECT_EQ(lh->num_comp_calls - comps, 1u);
  EXPECT_EQ(lh_retrieve(lh, &a), &b);
  EXPECT_EQ(lh_delete(lh, &absent), nullptr);
  EXPECT_EQ(lh_retrieve(lh, &absent), nullptr);
  EXPECT_EQ(lh_delete(lh, &b), &b);
  EXPECT_EQ(std::vector<unsigned long>({lh->num_insert, lh->num_replace, lh->num_retrieve,
                                        lh->num_retrieve_miss, lh->num_delete, lh->num_no_delete,
                                        lh_num_items(lh), lh_num_items(nullptr)}),
            std::vector<unsigned long>({2, 1, 2, 1, 1, 1, 1, 0}));
}

TEST(Lhash, SmallTablesNeverMerge) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  std::vector<int> v(16);
  for (int i = 0; i < 16; i++) lh_insert(lh, &(v[i] = i));
  for (int i = 0; i < 16; i++) lh_delete(lh, &v[i]);
  EXPECT_EQ(lh->num_contracts, 0u);
  EXPECT_EQ(lh->num_nodes, 8u);
}

TEST(Lhash, GrowsAndShrinksKeepingEveryItem) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  const int kN = 5000;
  std::vector<int> v(kN);
  for (int i = 0; i < kN; i++) {
    v[i] = i * 2654435761u % 1000003;
    ASSERT_EQ(lh_insert(lh, &v[i]), nullptr);
  }
  EXPECT_EQ(lh->num_nodes, lh->pmax + lh->p);
  EXPECT_EQ(lh->num_alloc_nodes, 2 * lh->pmax);
  for (int i = 0; i < kN; i++) ASSERT_EQ(lh_retrieve(lh, &v[i]), &v[i]);
  for (int i = 0; i < kN - 10; i++) ASSERT_EQ(lh_delete(lh, &v[i]), &v[i]);
  EXPECT_GT(lh->num_contracts, 0u);
  EXPECT_GT(lh->num_contract_reallocs, 0u);
  EXPECT_GE(lh->num_nodes, 16u);
  EXPECT_EQ(lh->num_nodes, lh->pmax + lh->p);
  for (int i = kN - 10; i < kN; i++) EXPECT_EQ(lh_retrieve(lh, &v[i]), &v[i]);
  EXPECT_EQ(lh_num_items(lh), 10u);
}

namespace {
std::vector<int> g_seen;
LHASH* g_table;
void Visit(void* p) { g_seen.push_back(*static_cast<int*>(p)); }
void VisitArg(void* p, void* arg) {
  g_seen.push_back(*static_cast<int*>(p) + *static_cast<int*>(arg));
}
void DeleteSelf(void* p) { lh_delete(g_table, p); }
}  // namespace

TEST(Lhash, WalksGoFromTheLastBucketDown) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  int v[4] = {1, 9, 2, 7};
  for (int& x : v) lh_insert(lh, &x);
  g_seen.clear();
  lh_doall(lh, Visit);
  EXPECT_EQ(g_seen, (std::vector<int>{7, 2, 1, 9}));
  g_seen.clear();
  int add = 100;
  lh_doall_arg(lh, VisitArg, &add);
  EXPECT_EQ(g_seen, (std::vector<int>{107, 102, 101, 109}));
}

TEST(Lhash, WalkMayDeleteTheCurrentItem) {
  LHASH* lh = lh_new(HashInt, CmpInt);
  TableGuard g{lh};
  std::vector<int> v(100);
  for (int i = 0; i < 100; i++) lh_insert(lh, &(v[i] = i));
  g_table = lh;
  unsigned long saved = lh->down_load;
  lh->down_load = 0;
  lh_doall(lh, DeleteSelf);
  lh->down_load = saved;
  EXPECT_EQ(lh_num_items(lh), 0u);
}

TEST(Lhash, DefaultFunctionsAreStringHashAndStrcmp) {
  LHASH* lh = lh_new(nullptr, nullptr);
  TableGuard g{lh};
  char a[] = "alpha", b[] = "alpha";
  lh_insert(lh, a);
  EXPECT_EQ(lh_retrieve(lh, b), a);
  EXPECT_EQ(lh->b[lh_strhash("alpha") % 8]->data, a);
}

TEST(Lhash, AllocationFailureCountsAnError) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  LHASH* lh = lh_new(HashInt, CmpInt);
  ASSERT_NE(lh, nullptr);
  int a = 1;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(lh_insert(lh, &a), nullptr);
  EXPECT_EQ(lh->error, 1);
  EXPECT_EQ(lh_retrieve(lh, &a), nullptr);
  EXPECT_EQ(lh->error, 0);
  EXPECT_EQ(lh_insert(lh, &a), nullptr);
  EXPECT_EQ(lh_retrieve(lh, &a), &a);

  // A failed doubling still stores the item, and the table stays consistent.
  std::vector<int> v(200);
  for (int i = 0; i < 200; i++) {
    v[i] = i + 10;
    if (lh->p + 1 == lh->pmax && lh->up_load <= lh->num_items * 256 / lh->num_nodes)
      morvane_test::FailAllocationAfter(1);
    lh_insert(lh, &v[i]);
    morvane_test::FailAllocationAfter(0);
  }
  for (int i = 0; i < 200; i++) ASSERT_EQ(lh_retrieve(lh, &v[i]), &v[i]);
  lh_free(lh);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

// Known values of the string hash (sign-extended bytes, 32-bit arithmetic).
TEST(LhashStrhash, KnownValues) {
  EXPECT_EQ(lh_strhash(nullptr), 0u);
  EXPECT_EQ(lh_strhash(""), 0u);
  EXPECT_EQ(lh_strhash("abc"), 0xF547AD32u);
  EXPECT_EQ(lh_strhash("\xE9"), 0x211u);
}
