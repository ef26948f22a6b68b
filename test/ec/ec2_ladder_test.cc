// The Montgomery ladder over GF(2^m) seen from inside: this program compiles
// crypto/ec/ec2_mult.cc (and crypto/cpu.cc) again and calls its own copy,
// so that it can reach the ladder itself and choose the field products.
//
// - r equal to the point multiplied gives "invalid argument".
// - Differential: on every binary named curve, k P by the fixed-width ladder
//   with the portable products and (where the processor has it) with
//   PCLMULQDQ equals the affine BIGNUM arithmetic's k P.  The scalars run
//   k_i = k_0 + i d (mod n) for random k_0, d, so that the reference is one
//   affine addition a step: R_i = R_(i-1) + d P, from R_0 = k_0 P by the
//   windowed NAFs.  The default run takes kDefaultScalars per curve; built
//   with MORVANE_EC2_LADDER_SLOW (ec2_ladder_slow_test, labelled "slow":
//   MORVANE_SLOW_TESTS=1 ctest -L slow) it takes 10^4 per curve on
//   every binary named curve instead.

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "ec/internal.h"
#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;
using morvane::ec::gf2m_montgomery_point_multiply;
using morvane::ec::gf2m_use_clmul;

constexpr int kDefaultScalars = 24;
constexpr int kSlowScalars = 10000;

// Restores the processor's choice of products when a test ends.
struct ProductsGuard {
  ~ProductsGuard() { gf2m_use_clmul(1); }
};

// The two product paths to try: portable, and PCLMULQDQ when present.
std::vector<int> Paths() {
  std::vector<int> modes = {0};
  if (gf2m_use_clmul(1) == 1) modes.push_back(1);
  return modes;
}

void Differential(int nid, int count, uint64_t seed) {
  ProductsGuard guard;
  const std::string sn = OBJ_nid2sn(nid);
  SCOPED_TRACE(sn);
  Group g(EC_GROUP_new_by_curve_name(nid));
  ASSERT_TRUE(g);
  Ctx ctx(BN_CTX_new());
  Bn n(BN_new()), k(BN_new()), d(BN_new());
  ASSERT_EQ(EC_GROUP_get_order(g.get(), n.get(), ctx.get()), 1);
  SplitMix64 rng{seed};
  // P: a multiple of the generator; k_0 and d below n.
  Point p(EC_POINT_new(g.get())), step(EC_POINT_new(g.get())), ref(EC_POINT_new(g.get()));
  Point got(EC_POINT_new(g.get()));
  Bn c(BN_new());
  BN_set_word(c.get(), static_cast<BN_ULONG>(rng.Next() | 2));
  ASSERT_EQ(EC_POINT_mul(g.get(), p.get(), c.get(), nullptr, nullptr, ctx.get()), 1);
  ASSERT_EQ(BN_rand_range(k.get(), n.get()), 1);
  ASSERT_EQ(BN_rand_range(d.get(), n.get()), 1);
  const EC_POINT* pts[1] = {p.get()};
  const BIGNUM* ks[1] = {k.get()};
  ASSERT_EQ(ec_wNAF_mul(g.get(), ref.get(), nullptr, 1, pts, ks, ctx.get()), 1);
  ks[0] = d.get();
  ASSERT_EQ(ec_wNAF_mul(g.get(), step.get(), nullptr, 1, pts, ks, ctx.get()), 1);
  const std::vector<int> paths = Paths();
  int mismatches = 0;
  for (int i = 0; i < count && mismatches < 5; i++) {
    for (int mode : paths) {
      gf2m_use_clmul(mode);
      ASSERT_EQ(gf2m_montgomery_point_multiply(g.get(), got.get(), k.get(), p.get(), ctx.get()), 1);
      if (EC_POINT_cmp(g.get(), got.get(), ref.get(), ctx.get()) != 0) {
        ADD_FAILURE() << (mode == 1 ? "PCLMULQDQ" : "portable") << " k=" << Show(k.get());
        mismatches++;
      }
    }
    // k_(i+1) = k_i + d (mod n), R_(i+1) = R_i + d P.
    ASSERT_EQ(BN_mod_add(k.get(), k.get(), d.get(), n.get(), ctx.get()), 1);
    ASSERT_EQ(EC_POINT_add(g.get(), ref.get(), ref.get(), step.get(), ctx.get()), 1);
  }
  EXPECT_ERRORS({});
}

// The binary named curves, by NID.
std::vector<int> BinaryCurves() {
  const size_t total = EC_get_builtin_curves(nullptr, 0);
  std::vector<EC_builtin_curve> all(total);
  EC_get_builtin_curves(all.data(), total);
  std::vector<int> out;
  for (const EC_builtin_curve& c : all) {
    Group g(EC_GROUP_new_by_curve_name(c.nid));
    if (g && EC_METHOD_get_field_type(EC_GROUP_method_of(g.get())) == 407) out.push_back(c.nid);
  }
  return out;
}

#ifndef MORVANE_EC2_LADDER_SLOW


TEST(Ec2LadderInside, ResultEqualToThePointIsInvalidArgument) {
  Group g(EC_GROUP_new_by_curve_name(OBJ_sn2nid("sect163k1")));
  ASSERT_TRUE(g);
  Point p(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  EXPECT_EQ(gf2m_montgomery_point_multiply(g.get(), p.get(), Hex("5").get(), p.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_MONTGOMERY_POINT_MULTIPLY, EC_R_INVALID_ARGUMENT}});
  // The point is untouched.
  EXPECT_EQ(EC_POINT_cmp(g.get(), p.get(), EC_GROUP_get0_generator(g.get()), nullptr), 0);
}

// A zero scalar, which the fixed-width ladder takes like any other (its
// word count unseen), gives the point at infinity with both products, also
// when its word count takes in zero words.
TEST(Ec2LadderInside, ZeroScalarGivesInfinity) {
  ProductsGuard guard;
  Group g(EC_GROUP_new_by_curve_name(OBJ_sn2nid("sect283r1")));
  ASSERT_TRUE(g);
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  Bn zero(BN_new()), padded(BN_new());
  ASSERT_NE(bn_expand2(padded.get(), 12), nullptr);
  for (int i = 0; i < 12; i++) padded->d[i] = 0;
  padded->top = 3;  // three zero words counted
  for (int mode : Paths()) {
    gf2m_use_clmul(mode);
    for (const BIGNUM* k : {zero.get(), padded.get()}) {
      Point r(EC_POINT_dup(gen, g.get()));
      ASSERT_EQ(gf2m_montgomery_point_multiply(g.get(), r.get(), k, gen, nullptr), 1);
      EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1) << mode;
    }
  }
  padded->top = 0;
  EXPECT_ERRORS({});
}

TEST(Ec2LadderInside, PortableProductsCanBeForced) {
  ProductsGuard guard;
  EXPECT_EQ(gf2m_use_clmul(0), 0);
  EXPECT_EQ(gf2m_use_clmul(-1), 0);
}

class Ec2LadderPaths : public testing::TestWithParam<int> {};

TEST_P(Ec2LadderPaths, BothProductsMatchTheAffineArithmetic) {
  Differential(GetParam(), kDefaultScalars, 0x6c6164646572ull ^ static_cast<uint64_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(NamedCurves, Ec2LadderPaths, testing::ValuesIn(BinaryCurves()),
                         [](const testing::TestParamInfo<int>& i) {
                           std::string n = OBJ_nid2sn(i.param);
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

#else

class Ec2LadderPathsSlow : public testing::TestWithParam<int> {};

TEST_P(Ec2LadderPathsSlow, TenThousandScalars) {
  if (getenv("MORVANE_SLOW_TESTS") == nullptr)
    GTEST_SKIP() << "10^4 scalars a curve: set MORVANE_SLOW_TESTS=1 to run (ctest -L slow)";
  Differential(GetParam(), kSlowScalars, 0x736c6f77ull ^ static_cast<uint64_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(NamedCurves, Ec2LadderPathsSlow, testing::ValuesIn(BinaryCurves()),
                         [](const testing::TestParamInfo<int>& i) {
                           std::string n = OBJ_nid2sn(i.param);
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

#endif

}  // namespace
