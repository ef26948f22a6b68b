// P-521 in the constant-time engine, which reduces scalars modulo n before
// reading their 521 bits on P-521's curve alone (and then adds the
// generator's table entries in Jacobian coordinates): a curve over the same
// prime with another b, given P-521's order and cofactor 1, and P-521's
// curve given another order must keep every bit of the scalar (their
// products agree with the windowed-NAF products ec_wNAF_mul for scalars of
// n and more, up to the engine's 576 bits); on P-521 the table's edges.
// The engine's other products on P-521 are covered with the other named
// curves (ec_engine_test.cc).

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

constexpr int kP521 = 716;

// Scalars around the claimed order n: n, n + 5, 3 n + 1, 2^575 + 12345 and
// 2^576 - 1, each against the windowed path, for k G (three times: the
// table is built on the second generator product) and k P.
void ExpectEveryBitKept(const EC_GROUP* g, const BIGNUM* n) {
  std::vector<Bn> scalars;
  scalars.emplace_back(BN_dup(n));
  Bn k(BN_dup(n));
  ASSERT_TRUE(BN_add_word(k.get(), 5));
  scalars.push_back(std::move(k));
  k.reset(BN_dup(n));
  ASSERT_TRUE(BN_mul_word(k.get(), 3) && BN_add_word(k.get(), 1));
  scalars.push_back(std::move(k));
  k.reset(BN_new());
  ASSERT_TRUE(BN_set_bit(k.get(), 575) && BN_add_word(k.get(), 12345));
  scalars.push_back(std::move(k));
  k.reset(BN_new());
  ASSERT_TRUE(BN_set_bit(k.get(), 576) && BN_sub_word(k.get(), 1));
  scalars.push_back(std::move(k));

  Point p(EC_POINT_new(g));
  ASSERT_TRUE(EC_POINT_mul(g, p.get(), Hex("1F2E3D4C5B6A7988").get(), nullptr, nullptr, nullptr));
  for (int round = 0; round < 3; round++) {
    for (const Bn& s : scalars) {
      EXPECT_EQ(Product(g, nullptr, s.get(), true), Product(g, nullptr, s.get(), false))
          << "k G, k = " << Show(s.get());
      if (round == 0) {
        EXPECT_EQ(Product(g, p.get(), s.get(), true), Product(g, p.get(), s.get(), false))
            << "k P, k = " << Show(s.get());
      }
    }
  }
}

TEST(EcP521, CurveWithAnotherBKeepsEveryBit) {
  Group named(EC_GROUP_new_by_curve_name(kP521));
  ASSERT_TRUE(named);
  Bn p(BN_new()), a(BN_new()), n(BN_new());
  Ctx ctx(BN_CTX_new());
  ASSERT_TRUE(EC_GROUP_get_curve_GFp(named.get(), p.get(), a.get(), nullptr, ctx.get()));
  ASSERT_TRUE(EC_GROUP_get_order(named.get(), n.get(), ctx.get()));
  Group g(EC_GROUP_new_curve_GFp(p.get(), a.get(), Hex("7").get(), ctx.get()));
  ASSERT_TRUE(g);
  // A point of odd order: the first x on the curve, times 2^64 (more than
  // the curve order's power of two).
  Point gen(EC_POINT_new(g.get()));
  for (BN_ULONG x = 1;; x++) {
    ASSERT_LT(x, 100u);
    Bn bx(BN_new());
    ASSERT_TRUE(BN_set_word(bx.get(), x));
    if (EC_POINT_set_compressed_coordinates_GFp(g.get(), gen.get(), bx.get(), 0, ctx.get()) == 1)
      break;
    ERR_clear_error();
  }
  Bn two64(BN_new());
  ASSERT_TRUE(BN_set_bit(two64.get(), 64));
  const EC_POINT* pts[1] = {gen.get()};
  const BIGNUM* ks[1] = {two64.get()};
  ASSERT_EQ(ec_wNAF_mul(g.get(), gen.get(), nullptr, 1, pts, ks, ctx.get()), 1);
  ASSERT_FALSE(EC_POINT_is_at_infinity(g.get(), gen.get()));
  ASSERT_TRUE(EC_GROUP_set_generator(g.get(), gen.get(), n.get(), BN_value_one()));
  ExpectEveryBitKept(g.get(), n.get());
  EXPECT_ERRORS({});
}

TEST(EcP521, AnotherOrderKeepsEveryBit) {
  Group g(EC_GROUP_new_by_curve_name(kP521));
  ASSERT_TRUE(g);
  Bn n(BN_new());
  ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
  ASSERT_TRUE(BN_add_word(n.get(), 2));
  Point gen(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  ASSERT_TRUE(EC_GROUP_set_generator(g.get(), gen.get(), n.get(), BN_value_one()));
  ExpectEveryBitKept(g.get(), n.get());
  EXPECT_ERRORS({});
}

// k G through the table's Jacobian additions, whose only exception is a
// sum still at infinity: scalars whose lowest nonzero digit sits in each
// window in turn (d 2^(5 w) for d = 1, 15, 16, 17 and 31: the signed
// digits 1, 15, -16 then 1, -15 then 1, -1 then 1), the top window alone
// (2^520), every bit below it (2^520 - 1), n - 2^520 and 2^520 + 2^519
// (the top digit 2), after a first
// product that builds the table.
TEST(EcP521, GeneratorProductsAtTheWindowEdges) {
  Group g(EC_GROUP_new_by_curve_name(kP521));
  ASSERT_TRUE(g);
  Bn n(BN_new());
  ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
  std::vector<Bn> scalars;
  for (int w = 0; w <= 104; w += 7) {
    for (BN_ULONG d : {1, 15, 16, 17, 31}) {
      Bn k(BN_new());
      ASSERT_TRUE(BN_set_word(k.get(), d) && BN_lshift(k.get(), k.get(), 5 * w));
      if (BN_cmp(k.get(), n.get()) < 0) scalars.push_back(std::move(k));
    }
  }
  Bn top(BN_new());
  ASSERT_TRUE(BN_set_bit(top.get(), 520));
  scalars.emplace_back(BN_dup(top.get()));
  Bn ones(BN_dup(top.get()));
  ASSERT_TRUE(BN_sub_word(ones.get(), 1));
  scalars.push_back(std::move(ones));
  Bn rest(BN_new());
  ASSERT_TRUE(BN_sub(rest.get(), n.get(), top.get()));
  scalars.push_back(std::move(rest));
  Bn two(BN_new());  // the top digit 2, after -16
  ASSERT_TRUE(BN_set_bit(two.get(), 520) && BN_set_bit(two.get(), 519));
  scalars.push_back(std::move(two));
  for (int round = 0; round < 2; round++) {
    for (const Bn& k : scalars) {
      EXPECT_EQ(Product(g.get(), nullptr, k.get(), true), Product(g.get(), nullptr, k.get(), false))
          << "k = " << Show(k.get());
    }
  }
  EXPECT_ERRORS({});
}

// On P-521 itself, scalars of n and more give the same points as the
// windowed path (which reads every bit).
TEST(EcP521, NamedCurveReducesScalarsExactly) {
  Group g(EC_GROUP_new_by_curve_name(kP521));
  ASSERT_TRUE(g);
  Bn n(BN_new());
  ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
  ExpectEveryBitKept(g.get(), n.get());
  EXPECT_ERRORS({});
}

}  // namespace
