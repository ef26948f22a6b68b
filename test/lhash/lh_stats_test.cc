// The hash table's statistics printers: the counter lines, one line per
// bucket, and the usage and load lines, to a stream and to a FILE.

#include <stdio.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/lhash.h>

namespace {

// Items are small integers; their hash is chosen by the test.
unsigned long (*g_hash)(unsigned long) = nullptr;
unsigned long HashItem(const void* p) { return g_hash(reinterpret_cast<uintptr_t>(p)); }
int CompareItems(const void* a, const void* b) { return a == b ? 0 : 1; }
void* Item(uintptr_t n) { return reinterpret_cast<void*>(n); }

std::string Print(void (*print)(const LHASH*, BIO*), const LHASH* lh) {
  BIO* mem = BIO_new(BIO_s_mem());
  print(lh, mem);
  char* p = nullptr;
  long n = BIO_get_mem_data(mem, &p);
  std::string out = n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
  BIO_free(mem);
  return out;
}

std::string PrintFile(void (*print)(const LHASH*, FILE*), const LHASH* lh) {
  FILE* fp = tmpfile();
  EXPECT_NE(fp, nullptr);
  print(lh, fp);
  // The FILE is still open: write after the statistics.
  fputs("end\n", fp);
  rewind(fp);
  std::string out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), fp)) > 0) out.append(buf, n);
  fclose(fp);
  return out;
}

// The counter lines lh_stats writes, in order, with the given values.
std::string Counters(std::initializer_list<unsigned long> values) {
  static const char* const kNames[] = {
      "num_items",      "num_nodes",           "num_alloc_nodes", "num_expands",
      "num_expand_reallocs", "num_contracts",  "num_contract_reallocs", "num_hash_calls",
      "num_comp_calls", "num_insert",          "num_replace",     "num_delete",
      "num_no_delete",  "num_retrieve",        "num_retrieve_miss", "num_hash_comps"};
  EXPECT_EQ(values.size(), 16u);
  std::string out;
  size_t i = 0;
  for (unsigned long v : values) {
    char line[64];
    snprintf(line, sizeof line, "%-21s = %lu\n", kNames[i++], v);
    out += line;
  }
  return out;
}

class LhStats : public ::testing::Test {
 protected:
  void SetUp() override {
    lh = lh_new(HashItem, CompareItems);
    ASSERT_NE(lh, nullptr);
  }
  void TearDown() override { lh_free(lh); }
  LHASH* lh = nullptr;
};

TEST_F(LhStats, NewTable) {
  EXPECT_EQ(Print(lh_stats_bio, lh), Counters({0, 8, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Print(lh_node_usage_stats_bio, lh), "0 nodes used out of 8\n0 items\n");
  std::string nodes;
  for (int i = 0; i < 8; i++) nodes += "node      " + std::to_string(i) + " ->   0\n";
  EXPECT_EQ(Print(lh_node_stats_bio, lh), nodes);
}

TEST_F(LhStats, CountersAreTheTablesOwn) {
  g_hash = [](unsigned long n) { return n; };
  for (uintptr_t i = 1; i <= 40; i++) lh_insert(lh, Item(i));
  lh_insert(lh, Item(5));
  lh_retrieve(lh, Item(7));
  lh_retrieve(lh, Item(99));
  lh_delete(lh, Item(3));
  lh_delete(lh, Item(98));
  // Each line shows its own counter.
  EXPECT_EQ(Print(lh_stats_bio, lh),
            Counters({lh->num_items, lh->num_nodes, lh->num_alloc_nodes, lh->num_expands,
                      lh->num_expand_reallocs, lh->num_contracts, lh->num_contract_reallocs,
                      lh->num_hash_calls, lh->num_comp_calls, lh->num_insert, lh->num_replace,
                      lh->num_delete, lh->num_no_delete, lh->num_retrieve,
                      lh->num_retrieve_miss, lh->num_hash_comps}));
  EXPECT_EQ(lh->num_items, 39UL);
  EXPECT_EQ(lh->num_replace, 1UL);
  EXPECT_EQ(lh->num_no_delete, 1UL);
}

TEST_F(LhStats, ChainsAndLoads) {
  g_hash = [](unsigned long n) { return n < 10 ? 0UL : (n - 10) / 2; };
  for (uintptr_t i = 1; i <= 3; i++) lh_insert(lh, Item(i));  // one chain of 3
  std::string nodes = "node      0 ->   3\n";
  for (int i = 1; i < 8; i++) nodes += "node      " + std::to_string(i) + " ->   0\n";
  EXPECT_EQ(Print(lh_node_stats_bio, lh), nodes);
  EXPECT_EQ(Print(lh_node_usage_stats_bio, lh),
            "1 nodes used out of 8\n3 items\nload 0.37  actual load 3.00\n");
  lh_insert(lh, Item(12));  // bucket 1
  lh_insert(lh, Item(14));  // bucket 2: loads are cut, not rounded
  EXPECT_EQ(Print(lh_node_usage_stats_bio, lh),
            "3 nodes used out of 8\n5 items\nload 0.62  actual load 1.66\n");
}

TEST_F(LhStats, FileVariantsMatchAndLeaveTheFileOpen) {
  g_hash = [](unsigned long n) { return n * 3; };
  for (uintptr_t i = 1; i <= 20; i++) lh_insert(lh, Item(i));
  EXPECT_EQ(PrintFile(lh_stats, lh), Print(lh_stats_bio, lh) + "end\n");
  EXPECT_EQ(PrintFile(lh_node_stats, lh), Print(lh_node_stats_bio, lh) + "end\n");
  EXPECT_EQ(PrintFile(lh_node_usage_stats, lh), Print(lh_node_usage_stats_bio, lh) + "end\n");
}

}  // namespace
