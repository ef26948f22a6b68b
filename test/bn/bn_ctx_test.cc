// Scratch frames (items of 16 numbers, marks from 32 entries by 3/2, the
// error latch) seen through the allocations they make, with failures injected
// through the counting allocator; the failure paths of the products and the
// divisions; and the refusals the known-answer file cannot express.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bn_test_util.h"
#include "test_support.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Op;
using bn_test::Show;

long Mallocs() {
  return morvane_test::GetAllocCounts().mallocs;
}

// A new frame gets a number.
void ExpectUsable(BN_CTX* ctx) {
  BN_CTX_start(ctx);
  EXPECT_NE(BN_CTX_get(ctx), nullptr);
  BN_CTX_end(ctx);
}

}  // namespace

TEST(BnCtx, SeventeenGetsTakeASecondItemOnceAndReadAsZero) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Ctx ctx(BN_CTX_new());
  std::vector<BIGNUM*> got;
  long before = Mallocs();
  BN_CTX_start(ctx.get());
  for (int i = 0; i < 17; i++) got.push_back(BN_CTX_get(ctx.get()));
  EXPECT_EQ(Mallocs() - before, 3);  // the marks and two items
  for (BIGNUM* n : got) ASSERT_EQ(BN_set_word(n, 7), 1);
  BN_CTX_end(ctx.get());
  before = Mallocs();
  BN_CTX_start(ctx.get());
  for (int i = 0; i < 17; i++) {
    BIGNUM* n = BN_CTX_get(ctx.get());
    EXPECT_EQ(n, got[i]);
    EXPECT_TRUE(BN_is_zero(n) && !BN_is_negative(n));
  }
  EXPECT_EQ(Mallocs(), before);
  BN_CTX_end(ctx.get());
  // BN_CTX_init zeroes the numbers and closes every frame.
  BN_CTX_start(ctx.get());
  ASSERT_EQ(BN_set_word(BN_CTX_get(ctx.get()), 9), 1);
  BN_CTX_init(ctx.get());
  EXPECT_TRUE(BN_is_zero(got[0]));
  BN_CTX_free(nullptr);
}

TEST(BnCtx, MarksGrowFrom32To48To72AndAnEndWithoutFrameDoesNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Ctx ctx(BN_CTX_new());
  for (int i = 0; i < 73; i++) {
    const long before = Mallocs();
    BN_CTX_start(ctx.get());
    EXPECT_EQ(Mallocs() - before, i == 0 || i == 32 || i == 48 || i == 72 ? 1 : 0) << "frame " << i;
  }
  for (int i = 0; i < 75; i++) BN_CTX_end(ctx.get());  // two more ends than frames
  ExpectUsable(ctx.get());
  EXPECT_ERRORS({});
}

TEST(BnCtx, FailuresLatchUntilTheirFrameCloses) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Ctx ctx(BN_CTX_new());
  morvane_test::FailAllocationAfter(1);
  BN_CTX_start(ctx.get());  // the marks cannot be allocated: the latch, at 1
  BN_CTX_start(ctx.get());  // 2
  BN_CTX_end(ctx.get());    // back to 1: still latched
  EXPECT_EQ(BN_CTX_get(ctx.get()), nullptr);
  BN_CTX_end(ctx.get());
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_CTX_START, BN_R_TOO_MANY_TEMPORARY_VARIABLES}});
  BN_CTX_start(ctx.get());
  morvane_test::FailAllocationAfter(1);  // a failed get: one error, and null to the frame's end
  EXPECT_EQ(BN_CTX_get(ctx.get()), nullptr);
  EXPECT_EQ(BN_CTX_get(ctx.get()), nullptr);
  BN_CTX_start(ctx.get());  // inside the failed frame: only counted
  EXPECT_EQ(BN_CTX_get(ctx.get()), nullptr);
  BN_CTX_end(ctx.get());
  BN_CTX_end(ctx.get());
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_CTX_GET, BN_R_TOO_MANY_TEMPORARY_VARIABLES}});
  ExpectUsable(ctx.get());
}

// Each allocation of each operation failing in turn: the call returns 0 with
// an error queued (the leak checker sees nothing lost), and the same context
// then gives the right answer.
TEST(BnAllocation, ProductsAndDivisionsFailCleanly) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Bn a = Hex(std::string(300, 'F')), m = Hex(std::string(296, 'E') + "123"), want(BN_new());
  BN_set_flags(a.get(), BN_FLAG_SECRET);  // the division takes its secret form
  for (const char* name :
       {"mul", "sqr", "mod_mul", "nnmod", "mod_mul_reciprocal", "mod_exp_mont_consttime"}) {
    SCOPED_TRACE(name);
    const Op op = bn_test::kOps.at(name);
    const BIGNUM* b = strcmp(name, "nnmod") == 0 ? m.get() : a.get();
    Ctx fresh(BN_CTX_new());
    bn_test::g_ctx = fresh.get();
    ASSERT_EQ(op(want.get(), a.get(), b, m.get()), 1);
    for (long k = 1;; k++) {
      Ctx ctx(BN_CTX_new());
      Bn r(BN_new());
      bn_test::g_ctx = ctx.get();
      morvane_test::FailAllocationAfter(k);
      const int ok = op(r.get(), a.get(), b, m.get());
      morvane_test::FailAllocationAfter(0);
      if (!ok) {
        EXPECT_NE(morvane_test::DrainErrors(), "") << "allocation " << k;
        ASSERT_EQ(op(r.get(), a.get(), b, m.get()), 1);
      }
      EXPECT_EQ(BN_cmp(r.get(), want.get()), 0) << "allocation " << k;
      if (ok) break;
    }
  }
}

TEST(BnDiv, RefusalsComeBeforeAnyWrite) {
  Ctx ctx(BN_CTX_new());
  Bn seven = Hex("7"), r = Hex("-77");
  // One record for both results.
  EXPECT_EQ(BN_div(r.get(), r.get(), seven.get(), seven.get(), ctx.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_DIV, BN_R_INVALID_ARGUMENT}});
  EXPECT_EQ(bn_test::Show(r.get()), "-77");
  // An operand with a zero top word in use (numerator, then divisor).
  BN_ULONG words[2] = {5, 0};
  BIGNUM unstripped = bn_test::Borrowed(words, 2);
  EXPECT_EQ(BN_div(r.get(), nullptr, &unstripped, seven.get(), ctx.get()), 0);
  EXPECT_EQ(BN_div(r.get(), nullptr, seven.get(), &unstripped, ctx.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_DIV, BN_R_NOT_INITIALIZED},
                 {ERR_LIB_BN, BN_F_BN_DIV, BN_R_NOT_INITIALIZED}});
  EXPECT_EQ(bn_test::Show(r.get()), "-77");
  // |num| < |divisor| opens no frame: no context is needed.
  Bn five = Hex("5");
  EXPECT_EQ(BN_div(r.get(), nullptr, five.get(), seven.get(), nullptr), 1);
  EXPECT_TRUE(BN_is_zero(r.get()));
}

TEST(BnDivRecp, MoreThanThreeCorrectionsFail) {
  Ctx ctx(BN_CTX_new());
  BN_RECP_CTX* recp = BN_RECP_CTX_new();
  Bn n = Hex("10001"), m = Hex("123456789ABCDEF"), q(BN_new());
  ASSERT_EQ(BN_RECP_CTX_set(recp, n.get(), ctx.get()), 1);
  // A reciprocal of zero for the size of m: the estimate is off by m / N.
  recp->shift = BN_num_bits(m.get());
  EXPECT_EQ(BN_div_recp(q.get(), nullptr, m.get(), recp, ctx.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_DIV_RECP, BN_R_BAD_RECIPROCAL}});
  BN_RECP_CTX_free(recp);
}

// Either result may be the numerator itself, as in every other operation.
TEST(BnDivRecp, ResultsMayAliasTheNumerator) {
  Ctx ctx(BN_CTX_new());
  BN_RECP_CTX* recp = BN_RECP_CTX_new();
  ASSERT_EQ(BN_RECP_CTX_set(recp, Hex("-10001").get(), ctx.get()), 1);
  for (const char* num : {"123456789ABCDEF0123", "-123456789ABCDEF0123", "FFFF"}) {
    Bn m = Hex(num), q(BN_new()), r(BN_new()), want_q(BN_new()), want_r(BN_new());
    ASSERT_EQ(BN_div(want_q.get(), want_r.get(), m.get(), &recp->N, ctx.get()), 1);
    Bn mq(BN_dup(m.get())), mr(BN_dup(m.get()));
    ASSERT_EQ(BN_div_recp(mq.get(), r.get(), mq.get(), recp, ctx.get()), 1) << num;
    EXPECT_EQ(Show(mq.get()), Show(want_q.get())) << num;
    EXPECT_EQ(Show(r.get()), Show(want_r.get())) << num;
    ASSERT_EQ(BN_div_recp(q.get(), mr.get(), mr.get(), recp, ctx.get()), 1) << num;
    EXPECT_EQ(Show(q.get()), Show(want_q.get())) << num;
    EXPECT_EQ(Show(mr.get()), Show(want_r.get())) << num;
  }
  BN_RECP_CTX_free(recp);
}
