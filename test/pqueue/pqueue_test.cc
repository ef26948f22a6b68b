// The priority queue: ordering by magnitude, refusal of duplicates, walking,
// finding, and the items' own copies of their priorities.

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/pqueue.h>

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "test_support.h"

namespace {

// A queue and the words behind the priorities handed to it; pitem_new copies
// a priority, so its words only need to live through that call.
class Pqueue : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(pq_, nullptr); }
  // Frees every queued item, then the queue.
  void TearDown() override {
    if (pq_ == nullptr) return;
    for (pitem* it; (it = pqueue_pop(pq_)) != nullptr;) pitem_free(it);
    pqueue_free(pq_);
  }

  // A priority over the given words (least significant first), or over one
  // word v (none for 0).
  BIGNUM Words(std::vector<BN_ULONG> w, int neg = 0) {
    words_.push_back(std::move(w));
    BIGNUM n;
    BN_init(&n);
    n.d = words_.back().data();
    n.top = static_cast<int>(words_.back().size());
    n.dmax = n.top;
    n.neg = neg;
    n.flags = BN_FLAG_BORROWED;
    return n;
  }
  BIGNUM P(BN_ULONG v, int neg = 0) {
    return Words(v == 0 ? std::vector<BN_ULONG>{} : std::vector<BN_ULONG>{v}, neg);
  }
  // Queues a new item of priority v; fails the test when it is refused.
  pitem* Add(BN_ULONG v, int neg = 0, void* data = nullptr) {
    pitem* item = pitem_new(P(v, neg), data);
    EXPECT_NE(item, nullptr);
    EXPECT_EQ(pqueue_insert(pq_, item), item);
    return item;
  }
  // The low words of the priorities along a walk.
  std::vector<BN_ULONG> Walk() {
    std::vector<BN_ULONG> out;
    pitem* iter = pqueue_iterator(pq_);
    for (pitem* it; (it = pqueue_next(&iter)) != nullptr;) {
      out.push_back(it->priority.top == 0 ? 0 : it->priority.d[0]);
    }
    return out;
  }

  pqueue_s* pq_ = pqueue_new();
  std::deque<std::vector<BN_ULONG>> words_;
};

}  // namespace

TEST_F(Pqueue, KeepsAscendingOrderAndPopsTheLowest) {
  int payload[3] = {5, 1, 3};
  for (int& p : payload) Add(static_cast<BN_ULONG>(p), 0, &p);
  EXPECT_EQ(Walk(), (std::vector<BN_ULONG>{1, 3, 5}));
  EXPECT_EQ(pqueue_size(pq_), 3);
  EXPECT_EQ(pqueue_peek(pq_)->data, &payload[1]);
  EXPECT_EQ(pqueue_size(pq_), 3);  // peeking removes nothing

  pitem* low = pqueue_pop(pq_);
  ASSERT_NE(low, nullptr);
  EXPECT_EQ(low->data, &payload[1]);
  EXPECT_EQ(low->priority.d[0], 1u);
  pitem_free(low);
  EXPECT_EQ(Walk(), (std::vector<BN_ULONG>{3, 5}));
}

TEST_F(Pqueue, EqualPriorityIsRefusedAndLeavesTheQueueAlone) {
  for (BN_ULONG v : {5u, 1u, 3u}) Add(v);
  for (BN_ULONG v : {3u, 1u, 5u}) {
    pitem* dup = pitem_new(P(v), nullptr);
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(pqueue_insert(pq_, dup), nullptr);
    EXPECT_EQ(dup->next, nullptr);
    pitem_free(dup);  // still the caller's
  }
  EXPECT_EQ(pqueue_size(pq_), 3);
  EXPECT_EQ(Walk(), (std::vector<BN_ULONG>{1, 3, 5}));
}

TEST_F(Pqueue, FindAndOrderGoByMagnitude) {
  EXPECT_EQ(pqueue_find(pq_, P(5)), nullptr);  // empty queue
  Add(5);
  Add(1);
  Add(3);
  pitem* last = pqueue_find(pq_, P(5));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->next, nullptr);
  EXPECT_EQ(last->priority.d[0], 5u);
  EXPECT_EQ(pqueue_find(pq_, P(4)), nullptr);
  EXPECT_EQ(pqueue_find(pq_, P(5, 1)), last);  // -5 matches 5
  EXPECT_EQ(pqueue_find(pq_, P(1))->priority.d[0], 1u);
  // A negative priority is queued by magnitude and keeps its sign; its
  // positive twin is refused.
  EXPECT_EQ(Add(2, 1)->priority.neg, 1);
  EXPECT_EQ(Walk(), (std::vector<BN_ULONG>{1, 2, 3, 5}));
  pitem* plus2 = pitem_new(P(2), nullptr);
  EXPECT_EQ(pqueue_insert(pq_, plus2), nullptr);
  pitem_free(plus2);
}

TEST_F(Pqueue, MultiWordPrioritiesAndZero) {
  for (BIGNUM p : {Words({0, 1}), Words({0xffffffffU}), Words({5, 0, 1}), P(0)}) {
    ASSERT_NE(pqueue_insert(pq_, pitem_new(p, nullptr)), nullptr);
  }
  // 0 < 2^32 - 1 < 2^32 < 2^64 + 5
  std::vector<int> tops;
  pitem* iter = pqueue_iterator(pq_);
  for (pitem* it; (it = pqueue_next(&iter)) != nullptr;) tops.push_back(it->priority.top);
  EXPECT_EQ(tops, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(Pqueue, ItemsHoldTheirOwnCopy) {
  BIGNUM p = P(7);
  int payload = 0;
  pitem* item = pitem_new(p, &payload);
  ASSERT_NE(item, nullptr);
  words_.back()[0] = 8;  // changing the source leaves the item alone
  EXPECT_NE(item->priority.d, words_.back().data());
  EXPECT_EQ(item->priority.d[0], 7u);
  EXPECT_EQ(item->data, &payload);
  EXPECT_EQ(item->next, nullptr);
  pitem_free(item);
  pitem_free(nullptr);
}

TEST_F(Pqueue, EmptyQueue) {
  EXPECT_EQ(pq_->count, 0);
  EXPECT_EQ(pqueue_pop(pq_), nullptr);
  EXPECT_EQ(pqueue_peek(pq_), nullptr);
  EXPECT_EQ(pqueue_size(pq_), 0);
  pitem* iter = pqueue_iterator(pq_);
  EXPECT_EQ(pqueue_next(&iter), nullptr);
  EXPECT_EQ(pqueue_next(nullptr), nullptr);
  pqueue_free(nullptr);
}

TEST(PqueueAlloc, FailuresGiveNullAndLeakNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BN_ULONG w = 9;
  BIGNUM p;
  BN_init(&p);
  p.d = &w;
  p.top = p.dmax = 1;
  p.flags = BN_FLAG_BORROWED;
  morvane_test::FailAllocationAfter(1);  // the item
  EXPECT_EQ(pitem_new(p, nullptr), nullptr);
  morvane_test::FailAllocationAfter(2);  // the priority's words
  EXPECT_EQ(pitem_new(p, nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, ERR_R_MALLOC_FAILURE}});
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(pqueue_new(), nullptr);
  ERR_remove_state(0);  // the error queue's own blocks
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}
