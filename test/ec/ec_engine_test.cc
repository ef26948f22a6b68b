// The constant-time one-term multiplication against the windowed-NAF
// multiplication over BIGNUM arithmetic (ec_wNAF_mul, which the engine
// bypasses): on every prime-field named curve, k G and k P agree for random
// scalars below 2^bits(p) and for 0, 1, n - 1, n, n + 1, n - 2 .. n - 18,
// negative scalars, the all-ones scalar of the field size and of the
// engine's 64 N bits, a multiple of n plus 5 of that length, and repeated
// 5-bit patterns (the signed windows' extreme digits); scalars past the
// engine's length take the windowed path.  The number of random scalars
// per curve is 60 (MORVANE_EC_DIFF_ROUNDS raises it; 10,000 per curve were
// run by hand).
// The two-term product a G + b Q (verification's) on the engine's limbs
// against ec_wNAF_mul, Q a point of unknown logarithm, G itself and -G.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

// The 25 prime-field rows of the named-curve table.
constexpr int kPrimeNids[] = {704, 705, 706, 707, 708, 709, 710, 711, 712, 713, 714, 715, 716,
                              409, 410, 411, 412, 413, 414, 415, 739, 740, 741, 742, 745};

int Rounds() {
  const char* env = std::getenv("MORVANE_EC_DIFF_ROUNDS");
  return env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 60;
}

class EcEngine : public testing::TestWithParam<int> {
 protected:
  // The named group of the parameter, its prime p, order n and bits(p).
  void SetUpCurve() {
    g.reset(EC_GROUP_new_by_curve_name(GetParam()));
    ASSERT_TRUE(g);
    ASSERT_TRUE(EC_GROUP_get_curve_GFp(g.get(), p.get(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
    bits = BN_num_bits(p.get());
  }
  Group g;
  Bn p{BN_new()}, n{BN_new()};
  int bits = 0;
};

TEST_P(EcEngine, AgreesWithTheWindowedNaf) {
  ASSERT_NO_FATAL_FAILURE(SetUpCurve());
  const std::vector<Bn> scalars =
      EdgeAndRandomScalars(n.get(), bits, Rounds(), static_cast<uint64_t>(GetParam()));
  for (const Bn& k : scalars) ASSERT_TRUE(k);

  // P: a point of unknown relation to G for the point term.
  Point pt(EC_POINT_new(g.get()));
  ASSERT_TRUE(
      EC_POINT_mul(g.get(), pt.get(), Hex("1F2E3D4C5B6A7988").get(), nullptr, nullptr, nullptr));
  for (const Bn& k : scalars) {
    for (const EC_POINT* base :
         {static_cast<const EC_POINT*>(nullptr), static_cast<const EC_POINT*>(pt.get())}) {
      ASSERT_EQ(Product(g.get(), base, k.get(), true), Product(g.get(), base, k.get(), false))
          << Show(k.get()) << (base == nullptr ? " G" : " P");
    }
  }
  EXPECT_ERRORS({});
}

std::string TwoTerms(const EC_GROUP* g, const BIGNUM* a, const EC_POINT* q, const BIGNUM* b,
                     bool engine) {
  Point r(EC_POINT_new(g));
  const EC_POINT* pts[1] = {q};
  const BIGNUM* ks[1] = {b};
  const int ok = engine ? EC_POINT_mul(g, r.get(), a, q, b, nullptr)
                        : ec_wNAF_mul(g, r.get(), a, 1, pts, ks, nullptr);
  return ok == 1 ? Encode(g, r.get()) : "failed";
}

TEST_P(EcEngine, TwoTermsAgreeWithTheWindowedNaf) {
  ASSERT_NO_FATAL_FAILURE(SetUpCurve());
  Bn n1(BN_dup(n.get()));
  ASSERT_TRUE(BN_sub_word(n1.get(), 1));

  Point q(EC_POINT_new(g.get()));
  ASSERT_TRUE(
      EC_POINT_mul(g.get(), q.get(), Hex("1F2E3D4C5B6A7988").get(), nullptr, nullptr, nullptr));
  Point gen(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  Point neg(EC_POINT_dup(gen.get(), g.get()));
  ASSERT_TRUE(EC_POINT_invert(g.get(), neg.get(), nullptr));

  std::vector<std::pair<Bn, Bn>> pairs;
  pairs.emplace_back(Hex("0"), Hex("0"));
  pairs.emplace_back(Hex("5"), Hex("5"));  // with -G: the point at infinity
  pairs.emplace_back(Hex("1"), Bn(BN_dup(n1.get())));
  pairs.emplace_back(Bn(BN_dup(n.get())), Hex("2"));
  SplitMix64 rng{static_cast<uint64_t>(GetParam()) + 1};
  for (int i = 0, rounds = Rounds() / 3; i < rounds; i++) {
    Bn a(BN_new()), b(BN_new());
    ASSERT_TRUE(BN_pseudo_rand(a.get(), 1 + static_cast<int>(rng.Next() % bits), 0, 0));
    ASSERT_TRUE(BN_pseudo_rand(b.get(), 1 + static_cast<int>(rng.Next() % bits), 0, 0));
    pairs.emplace_back(std::move(a), std::move(b));
  }
  for (const auto& [a, b] : pairs) {
    for (const EC_POINT* base :
         {static_cast<const EC_POINT*>(q.get()), static_cast<const EC_POINT*>(gen.get()),
          static_cast<const EC_POINT*>(neg.get())}) {
      ASSERT_EQ(TwoTerms(g.get(), a.get(), base, b.get(), true),
                TwoTerms(g.get(), a.get(), base, b.get(), false))
          << Show(a.get()) << " " << Show(b.get());
    }
  }
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(PrimeCurves, EcEngine, testing::ValuesIn(kPrimeNids));

// r may be the point multiplied.
TEST(EcEngineAlias, ResultMayBeThePoint) {
  Group g(EC_GROUP_new_by_curve_name(415));
  Point p(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  Bn k = Hex("DEADBEEF0123456789");
  const std::string want = Product(g.get(), nullptr, k.get(), false);
  ASSERT_EQ(EC_POINT_mul(g.get(), p.get(), nullptr, p.get(), k.get(), nullptr), 1);
  EXPECT_EQ(Encode(g.get(), p.get()), want);
}

// ---- the field's kernels ---------------------------------------------------
// The P-384 field has a MULX/ADX kernel and a portable one, chosen from the
// processor (MORVANE_NO_HWCRYPT=adx forces the portable one).  The engine's
// products on P-384 as octets: k G (the group's first product without the
// fixed-base table, the others with it), k P, k P with Q = -G, and
// verification's a G + b Q, over the edge scalars and 20 random ones; a
// child process gives them with "adx" switched off.
morvane_test::Bytes KernelTranscript() {
  morvane_test::Bytes t;
  Group g(EC_GROUP_new_by_curve_name(715));
  Bn n(BN_new());
  if (!g || !EC_GROUP_get_order(g.get(), n.get(), nullptr)) return t;
  const std::vector<Bn> scalars = EdgeAndRandomScalars(n.get(), 384, 20, 384);
  Point q(EC_POINT_new(g.get())), neg(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  EC_POINT_mul(g.get(), q.get(), Hex("1F2E3D4C5B6A7988").get(), nullptr, nullptr, nullptr);
  EC_POINT_invert(g.get(), neg.get(), nullptr);
  auto add = [&](const std::string& s) {
    t.insert(t.end(), s.begin(), s.end());
    t.push_back('\n');
  };
  for (size_t i = 0; i < scalars.size(); i++) {
    const BIGNUM* k = scalars[i].get();
    const BIGNUM* k2 = scalars[(i * 7 + 3) % scalars.size()].get();
    add(Product(g.get(), nullptr, k, true));
    add(Product(g.get(), q.get(), k, true));
    add(Product(g.get(), neg.get(), k, true));
    if (!BN_is_negative(k) && !BN_is_negative(k2)) add(TwoTerms(g.get(), k, q.get(), k2, true));
  }
  ERR_clear_error();
  return t;
}

[[maybe_unused]] const int kServe = morvane_test::ServeTranscript(KernelTranscript);

TEST(EcEngineKernels, PortableKernelGivesTheSameProducts) {
  morvane_test::ExpectSameTranscriptWithSwitch(KernelTranscript, "adx");
}

}  // namespace

// ---- the generator's fixed-base table kept on the group -------------------

// k G through EC_POINT_mul against ec_wNAF_mul with `gen` as its one point.
void ExpectGeneratorProducts(const EC_GROUP* g, const EC_POINT* gen, uint64_t seed) {
  SplitMix64 rng{seed};
  for (int i = 0; i < 8; i++) {
    Bn k(BN_new());
    ASSERT_TRUE(BN_pseudo_rand(k.get(), 1 + static_cast<int>(rng.Next() % 256), 0, 0));
    ASSERT_EQ(Product(g, nullptr, k.get(), true), Product(g, gen, k.get(), false)) << Show(k.get());
  }
}

// A new generator replaces the table made for the old one.
TEST(EcEngineTable, NewGeneratorReplacesTheTable) {
  Group g(EC_GROUP_new_by_curve_name(415));
  ASSERT_NO_FATAL_FAILURE(ExpectGeneratorProducts(g.get(), EC_GROUP_get0_generator(g.get()), 1));
  Point q(EC_POINT_new(g.get()));
  ASSERT_TRUE(EC_POINT_mul(g.get(), q.get(), Hex("5").get(), nullptr, nullptr, nullptr));
  Bn n(BN_new());
  ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
  ASSERT_TRUE(EC_GROUP_set_generator(g.get(), q.get(), n.get(), BN_value_one()));
  ASSERT_NO_FATAL_FAILURE(ExpectGeneratorProducts(g.get(), q.get(), 2));
  EXPECT_ERRORS({});
}

// A copy made after the table keeps working once the original is freed, and
// a group copied over one with a table (another curve of the same size)
// takes the new curve's.
TEST(EcEngineTable, CopiesMakeTheirOwn) {
  Group g(EC_GROUP_new_by_curve_name(415));
  ASSERT_NO_FATAL_FAILURE(ExpectGeneratorProducts(g.get(), EC_GROUP_get0_generator(g.get()), 3));
  Group copy(EC_GROUP_dup(g.get()));
  ASSERT_TRUE(copy);
  g.reset();
  ASSERT_NO_FATAL_FAILURE(
      ExpectGeneratorProducts(copy.get(), EC_GROUP_get0_generator(copy.get()), 4));

  Group p224(EC_GROUP_new_by_curve_name(713));  // four limbs, like P-256
  ASSERT_NO_FATAL_FAILURE(
      ExpectGeneratorProducts(p224.get(), EC_GROUP_get0_generator(p224.get()), 5));
  ASSERT_TRUE(EC_GROUP_copy(copy.get(), p224.get()));
  ASSERT_NO_FATAL_FAILURE(
      ExpectGeneratorProducts(copy.get(), EC_GROUP_get0_generator(copy.get()), 6));
  EXPECT_ERRORS({});
}

// A generator whose small order leaves the point at infinity among the
// table's multiples (i 2^(5 w) G for some i up to 16) gets no table: its
// products take the windowed path and stay right.  The curve is searched
// over GF(1009) for a point of odd order below 16.
TEST(EcEngineTable, GeneratorOfSmallOrderGetsNoTable) {
  Bn p = Hex("3F1");  // 1009
  Ctx ctx(BN_CTX_new());
  for (unsigned long b = 1; b < 40; b++) {
    Group g(EC_GROUP_new_curve_GFp(p.get(), Hex("2").get(), Bn(BN_new()).get(), ctx.get()));
    ASSERT_TRUE(g);
    Bn bb(BN_new());
    ASSERT_TRUE(BN_set_word(bb.get(), b));
    ASSERT_TRUE(EC_GROUP_set_curve_GFp(g.get(), p.get(), Hex("2").get(), bb.get(), ctx.get()));
    for (unsigned long x = 0; x < 60; x++) {
      Point pt(EC_POINT_new(g.get()));
      Bn bx(BN_new());
      ASSERT_TRUE(BN_set_word(bx.get(), x));
      if (EC_POINT_set_compressed_coordinates_GFp(g.get(), pt.get(), bx.get(), 0, ctx.get()) != 1) {
        ERR_clear_error();
        continue;
      }
      // The point's order, by repeated addition up to 15.
      Point acc(EC_POINT_dup(pt.get(), g.get()));
      unsigned long order = 1;
      while (order < 16 && !EC_POINT_is_at_infinity(g.get(), acc.get())) {
        ASSERT_TRUE(EC_POINT_add(g.get(), acc.get(), acc.get(), pt.get(), ctx.get()));
        order++;
      }
      if (order >= 16 || order % 2 == 0 || order < 3) continue;
      Bn n(BN_new());
      ASSERT_TRUE(BN_set_word(n.get(), order));
      ASSERT_TRUE(EC_GROUP_set_generator(g.get(), pt.get(), n.get(), BN_value_one()));
      for (unsigned long k = 0; k < 40; k++) {
        Bn bk(BN_new());
        ASSERT_TRUE(BN_set_word(bk.get(), k * 0x9E3779B97F4A7C15ull >> 1));
        ASSERT_EQ(Product(g.get(), nullptr, bk.get(), true),
                  Product(g.get(), pt.get(), bk.get(), false))
            << "b " << b << " x " << x << " order " << order << " k " << Show(bk.get());
      }
      EXPECT_ERRORS({});
      return;
    }
  }
  FAIL() << "no point of small odd order found";
}
