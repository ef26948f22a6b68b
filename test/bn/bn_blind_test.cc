// Blinding: refusals before the pair exists, blinded exponentiation equal to
// the plain one, the update schedule under each flag, the retries of draws
// without an inverse (modulo even and odd moduli), and the caller's error
// queue kept across them.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <memory>

#include "bn_det_rand.h"
#include "bn_test_util.h"
#include "test_support.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::DetRand;
using bn_test::Hex;
using bn_test::Show;

struct BlindingFree {
  void operator()(BN_BLINDING* b) const { BN_BLINDING_free(b); }
};
using Blinding = std::unique_ptr<BN_BLINDING, BlindingFree>;

// An RSA key of two 256-bit primes p, q = 2 (mod 3), so that e = 3 is
// invertible modulo lambda(m) = lcm(p - 1, q - 1).
struct Key {
  Bn m{BN_new()}, d{BN_new()}, e{Hex("3")};
  explicit Key(BN_CTX* ctx) {
    Bn p(BN_new()), q(BN_new()), add(Hex("6")), rem(Hex("5")), g(BN_new()), l(BN_new());
    EXPECT_EQ(BN_generate_prime_ex(p.get(), 256, 0, add.get(), rem.get(), nullptr), 1);
    EXPECT_EQ(BN_generate_prime_ex(q.get(), 256, 0, add.get(), rem.get(), nullptr), 1);
    BN_mul(m.get(), p.get(), q.get(), ctx);
    BN_sub_word(p.get(), 1);
    BN_sub_word(q.get(), 1);
    BN_gcd(g.get(), p.get(), q.get(), ctx);
    BN_mul(l.get(), p.get(), q.get(), ctx);
    BN_div(l.get(), nullptr, l.get(), g.get(), ctx);
    EXPECT_NE(BN_mod_inverse(d.get(), e.get(), l.get(), ctx), nullptr);
  }
};

TEST(BnBlinding, RefusedUntilCreated) {
  bn_test::InstallDetRand(1);
  Bn mod(Hex("BB")), n(Hex("5")), r(BN_new());
  Blinding b(BN_BLINDING_new(nullptr, nullptr, mod.get()));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->counter, 32u);
  EXPECT_EQ(BN_BLINDING_convert(n.get(), b.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_BLINDING_CONVERT_EX, BN_R_NOT_INITIALIZED}});
  EXPECT_EQ(BN_BLINDING_invert_ex(n.get(), r.get(), b.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_BLINDING_INVERT_EX, BN_R_NOT_INITIALIZED}});
  EXPECT_EQ(BN_BLINDING_update(b.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_BLINDING_UPDATE, BN_R_NOT_INITIALIZED}});
  EXPECT_EQ(Show(n.get()), "05");
  // Nor a record with its pair but no modulus.
  Blinding nomod(BN_BLINDING_new(mod.get(), mod.get(), nullptr));
  ASSERT_NE(nomod, nullptr);
  EXPECT_EQ(BN_BLINDING_convert(n.get(), nomod.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_BLINDING_CONVERT_EX, BN_R_NOT_INITIALIZED}});
  // Without an exponent no pair can be made.
  EXPECT_EQ(BN_BLINDING_create_param(b.get(), nullptr, nullptr, nullptr, nullptr, nullptr),
            nullptr);
}

// convert, raise to d, invert: (n r^e)^d r^-1 = n^d (mod m).
TEST(BnBlinding, BlindedExponentiationIsThePlainOne) {
  bn_test::InstallDetRand(2);
  Ctx ctx(BN_CTX_new());
  Key key(ctx.get());
  BN_set_flags(key.m.get(), BN_FLAG_SECRET);
  Blinding b(
      BN_BLINDING_create_param(nullptr, key.e.get(), key.m.get(), ctx.get(), nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(BN_get_flags(b->mod, BN_FLAG_SECRET));
  Bn n(BN_new()), x(BN_new()), want(BN_new()), r(BN_new()), t(BN_new());
  for (int i = 0; i < 40; i++) {  // across a fresh draw
    BN_rand_range(n.get(), key.m.get());
    BN_mod_exp(want.get(), n.get(), key.d.get(), key.m.get(), ctx.get());
    BN_copy(x.get(), n.get());
    const bool shared = i % 2;  // as a thread that does not own the record
    ASSERT_EQ(BN_BLINDING_convert_ex(x.get(), shared ? r.get() : nullptr, b.get(), ctx.get()), 1);
    EXPECT_NE(BN_cmp(x.get(), n.get()), 0);
    BN_mod_exp(x.get(), x.get(), key.d.get(), key.m.get(), ctx.get());
    ASSERT_EQ(BN_BLINDING_invert_ex(x.get(), shared ? r.get() : nullptr, b.get(), ctx.get()), 1);
    EXPECT_EQ(BN_cmp(x.get(), want.get()), 0) << i;
    // A Ai^e = 1: A is r^e, Ai is r^-1.
    BN_mod_exp(t.get(), b->Ai, key.e.get(), key.m.get(), ctx.get());
    BN_mod_mul(t.get(), t.get(), b->A, key.m.get(), ctx.get());
    EXPECT_TRUE(BN_is_one(t.get()));
  }
}

// With e = 1, A and Ai are inverses and convert then invert returns n; the
// stored exponentiation and Montgomery context are used when both are given.
TEST(BnBlinding, ExponentOneRoundTrip) {
  bn_test::InstallDetRand(3);
  Ctx ctx(BN_CTX_new());
  Key key(ctx.get());
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  BN_MONT_CTX_set(mont, key.m.get(), ctx.get());
  static int exps = 0;
  auto counting = [](BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* c,
                     BN_MONT_CTX* mc) {
    exps++;
    return BN_mod_exp_mont(r, a, p, m, c, mc);
  };
  Bn one(Hex("1"));
  Blinding b(BN_BLINDING_create_param(nullptr, one.get(), key.m.get(), ctx.get(), counting, mont));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(exps, 1);
  Bn n(Hex("123456789ABCDEF")), x(BN_new());
  for (int i = 0; i < 33; i++) {
    BN_copy(x.get(), n.get());
    ASSERT_EQ(BN_BLINDING_convert(x.get(), b.get(), ctx.get()), 1);
    ASSERT_EQ(BN_BLINDING_invert(x.get(), b.get(), ctx.get()), 1);
    EXPECT_EQ(BN_cmp(x.get(), n.get()), 0);
  }
  EXPECT_EQ(exps, 2);  // the fresh draw at the 32nd use
  b.reset();
  BN_MONT_CTX_free(mont);
}

TEST(BnBlinding, NoSquareKeepsThePairUntilTheFreshDraw) {
  bn_test::InstallDetRand(4);
  Ctx ctx(BN_CTX_new());
  Key key(ctx.get());
  Blinding b(
      BN_BLINDING_create_param(nullptr, key.e.get(), key.m.get(), ctx.get(), nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  BN_BLINDING_set_flags(b.get(), BN_BLINDING_NO_SQUARE);
  EXPECT_EQ(BN_BLINDING_get_flags(b.get()), static_cast<unsigned long>(BN_BLINDING_NO_SQUARE));
  Bn A(BN_dup(b->A)), Ai(BN_dup(b->Ai));
  for (int i = 0; i < 31; i++) {
    ASSERT_EQ(BN_BLINDING_update(b.get(), ctx.get()), 1);
    ASSERT_EQ(BN_cmp(b->A, A.get()), 0);
    ASSERT_EQ(BN_cmp(b->Ai, Ai.get()), 0);
  }
  ASSERT_EQ(BN_BLINDING_update(b.get(), ctx.get()), 1);
  EXPECT_NE(BN_cmp(b->A, A.get()), 0);
  EXPECT_NE(BN_cmp(b->Ai, Ai.get()), 0);
  EXPECT_EQ(b->counter, 32u);
}

TEST(BnBlinding, BothFlagsNeverChangeAnything) {
  bn_test::InstallDetRand(5);
  Ctx ctx(BN_CTX_new());
  Key key(ctx.get());
  Blinding b(
      BN_BLINDING_create_param(nullptr, key.e.get(), key.m.get(), ctx.get(), nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  BN_BLINDING_set_flags(b.get(), BN_BLINDING_NO_SQUARE | BN_BLINDING_NO_REGEN);
  Bn A(BN_dup(b->A)), Ai(BN_dup(b->Ai));
  for (int i = 0; i < 100; i++) {
    EXPECT_EQ(b->counter, 32u - static_cast<unsigned>(i % 32));
    ASSERT_EQ(BN_BLINDING_update(b.get(), ctx.get()), 1);
  }
  EXPECT_EQ(BN_cmp(b->A, A.get()), 0);
  EXPECT_EQ(BN_cmp(b->Ai, Ai.get()), 0);
}

// Without e: squared at every update, never drawn afresh.
TEST(BnBlinding, WithoutExponentSquaresOnly) {
  Ctx ctx(BN_CTX_new());
  Bn mod(Hex("F4F5D18A1E3C38B1")), A(Hex("3")), Ai(BN_new()), want(BN_new()), p(BN_new());
  BN_mod_inverse(Ai.get(), A.get(), mod.get(), ctx.get());
  Blinding b(BN_BLINDING_new(A.get(), Ai.get(), mod.get()));
  ASSERT_NE(b, nullptr);
  BN_BLINDING_set_thread_id(b.get(), 0xFEDCBA9876543210UL);
  EXPECT_EQ(BN_BLINDING_get_thread_id(b.get()), 0xFEDCBA9876543210UL);
  for (int i = 0; i < 40; i++) ASSERT_EQ(BN_BLINDING_update(b.get(), ctx.get()), 1);
  BN_set_bit(p.get(), 40);  // 3^(2^40)
  BN_mod_exp(want.get(), A.get(), p.get(), mod.get(), ctx.get());
  EXPECT_EQ(BN_cmp(b->A, want.get()), 0);
  BN_mod_mul(want.get(), b->A, b->Ai, mod.get(), ctx.get());
  EXPECT_TRUE(BN_is_one(want.get()));
}

// Modulo 6 only 1 and 5 have inverses: the draws 2, 3 and 0 are retried, and
// an error the caller had queued is still there afterwards.
TEST(BnBlinding, RetriesKeepTheCallersErrors) {
  bn_test::InstallDetRand(6);
  Bn mod(Hex("6")), one(Hex("1"));
  DetRand::script = {0x02, 0x03, 0x00, 0x05};
  ERR_put_error(ERR_LIB_BN, BN_F_BN_DIV, BN_R_DIV_BY_ZERO, "caller", 1);
  Blinding b(BN_BLINDING_create_param(nullptr, one.get(), mod.get(), nullptr, nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Show(b->A), "05");
  EXPECT_EQ(Show(b->Ai), "05");
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_DIV, BN_R_DIV_BY_ZERO}});
}

// Modulo an odd modulus r and u are drawn at its width, 0 and values past it
// drawn again, and the inverse is taken of r u: modulo 15 the pairs (3, 1)
// and (5, 2) give r u without one and are retried; (7, 2) gives 14, whose
// inverse 14 times u is 13 = 7^-1.
TEST(BnBlinding, OddModulusRetriesKeepTheCallersErrors) {
  bn_test::InstallDetRand(8);
  Bn mod(Hex("F")), one(Hex("1"));
  DetRand::script = {0x00, 0x03, 0xFF, 0x01, 0x05, 0x02, 0x07, 0x02};
  ERR_put_error(ERR_LIB_BN, BN_F_BN_DIV, BN_R_DIV_BY_ZERO, "caller", 1);
  Blinding b(BN_BLINDING_create_param(nullptr, one.get(), mod.get(), nullptr, nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(DetRand::script.empty());
  EXPECT_EQ(Show(b->A), "07");
  EXPECT_EQ(Show(b->Ai), "0D");
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_DIV, BN_R_DIV_BY_ZERO}});
  DetRand::script.assign(2 * 33, 0x03);  // r u = 9 every time
  EXPECT_EQ(BN_BLINDING_create_param(b.get(), nullptr, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_BLINDING_CREATE_PARAM, BN_R_TOO_MANY_ITERATIONS}});
}

// One use of b as a private operation makes it: convert (with the caller's
// copy of Ai when `shared`), raise to d, invert.  False when a call failed
// (a reason queued, then cleared; this test's generator queues none when it
// refuses); a use that succeeds must give n^d.
bool Use(BN_BLINDING* b, const Key& key, BN_CTX* ctx, bool shared, const char* when) {
  Bn n(BN_new()), x(BN_new()), want(BN_new()), r(BN_new());
  BN_rand_range(n.get(), key.m.get());
  BN_mod_exp(want.get(), n.get(), key.d.get(), key.m.get(), ctx);
  BN_copy(x.get(), n.get());
  bool ok = BN_BLINDING_convert_ex(x.get(), shared ? r.get() : nullptr, b, ctx) == 1;
  if (ok) {
    BN_mod_exp(x.get(), x.get(), key.d.get(), key.m.get(), ctx);
    ok = BN_BLINDING_invert_ex(x.get(), shared ? r.get() : nullptr, b, ctx) == 1;
    if (ok) {
      EXPECT_EQ(BN_cmp(x.get(), want.get()), 0) << when;
    }
  }
  if (!ok && DetRand::strong_result == 1) {
    EXPECT_NE(ERR_peek_error(), 0u) << when << ": no reason queued";
  }
  ERR_clear_error();
  return ok;
}

// The fresh draw at the 32nd use failing, because the generator refuses or
// because any one of its allocations fails, leaves no pair behind: no later
// call returns 1 with a pair that does not match.  While the generator
// still refuses, every use fails; once it gives bytes, the next use draws
// again and all blind correctly.
TEST(BnBlinding, FailedFreshDrawNeverGivesAWrongPair) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  bn_test::InstallDetRand(10);
  Ctx ctx(BN_CTX_new());
  Key key(ctx.get());
  long allocations = 0;
  for (long fail_at = -1; fail_at <= allocations; fail_at++) {  // -1: the generator refuses
    SCOPED_TRACE(testing::Message() << "failure " << fail_at);
    Blinding b(
        BN_BLINDING_create_param(nullptr, key.e.get(), key.m.get(), ctx.get(), nullptr, nullptr));
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 31; i++) ASSERT_TRUE(Use(b.get(), key, ctx.get(), i % 2, "before"));
    // The 32nd use, its update failing.
    Bn x(Hex("1234")), r(BN_new());
    ASSERT_EQ(BN_BLINDING_convert_ex(x.get(), r.get(), b.get(), ctx.get()), 1);
    const morvane_test::AllocCounts from = morvane_test::GetAllocCounts();
    if (fail_at < 0) DetRand::strong_result = 0;
    morvane_test::FailAllocationAfter(fail_at > 0 ? fail_at : 0);
    BN_BLINDING_invert_ex(x.get(), r.get(), b.get(), ctx.get());
    morvane_test::FailAllocationAfter(0);
    const morvane_test::AllocCounts to = morvane_test::GetAllocCounts();
    if (fail_at == 0) allocations = to.mallocs + to.reallocs - from.mallocs - from.reallocs;
    ERR_clear_error();
    if (fail_at < 0) {
      for (int i = 0; i < 3; i++) EXPECT_FALSE(Use(b.get(), key, ctx.get(), i % 2, "refused"));
      const std::string before = Show(x.get());
      EXPECT_EQ(BN_BLINDING_invert(x.get(), b.get(), ctx.get()), 0);  // no Ai to apply
      EXPECT_EQ(Show(x.get()), before);
      ERR_clear_error();
      DetRand::strong_result = 1;
    }
    for (int i = 0; i < 40; i++) EXPECT_TRUE(Use(b.get(), key, ctx.get(), i % 2, "after"));
  }
  EXPECT_GT(allocations, 0);
}

TEST(BnBlinding, GivesUpAfterThirtyThreeDraws) {
  bn_test::InstallDetRand(7);
  Bn mod(Hex("6")), one(Hex("1"));
  DetRand::script.assign(33, 0x00);
  EXPECT_EQ(BN_BLINDING_create_param(nullptr, one.get(), mod.get(), nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_BLINDING_CREATE_PARAM, BN_R_TOO_MANY_ITERATIONS}});
  EXPECT_EQ(DetRand::calls, 33);
  // A caller's record survives the failure.
  Blinding b(BN_BLINDING_new(nullptr, nullptr, mod.get()));
  DetRand::script.assign(33, 0x00);
  EXPECT_EQ(BN_BLINDING_create_param(b.get(), one.get(), nullptr, nullptr, nullptr, nullptr),
            nullptr);
  ERR_clear_error();
  EXPECT_NE(b->e, nullptr);
}

}  // namespace
