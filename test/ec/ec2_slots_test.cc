// The exported slot functions of the GF(2^m) method called directly, on
// sect163k1 (SEC 2, 3.2.1): each group of them against the EC_GROUP_* /
// EC_POINT_* entries that reach the same slots through the method table,
// and the refusals they make themselves.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include <gtest/gtest.h>

#include <string>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

constexpr int kSect163k1 = 721;

TEST(Ec2Slots, GroupSlots) {
  Group named(EC_GROUP_new_by_curve_name(kSect163k1));
  ASSERT_TRUE(named);
  const EC_GROUP* g = named.get();
  EXPECT_EQ(ec_GF2m_simple_group_get_degree(g), 163);
  EXPECT_EQ(ec_GF2m_simple_group_check_discriminant(g, nullptr), 1);
  Bn p(BN_new()), a(BN_new()), b(BN_new());
  ASSERT_EQ(ec_GF2m_simple_group_get_curve(g, p.get(), a.get(), b.get(), nullptr), 1);
  // x^163 + x^7 + x^6 + x^3 + 1, a = b = 1.
  EXPECT_EQ(BN_cmp(p.get(), Hex("800000000000000000000000000000000000000C9").get()), 0);
  EXPECT_TRUE(BN_is_one(a.get()));
  EXPECT_TRUE(BN_is_one(b.get()));

  // set_curve and copy into a group of the method; b = 0 is singular.
  Group fresh(EC_GROUP_new(EC_GF2m_simple_method()));
  ASSERT_TRUE(fresh);
  const Bn zero = Hex("0");
  ASSERT_EQ(ec_GF2m_simple_group_set_curve(fresh.get(), p.get(), a.get(), zero.get(), nullptr), 1);
  EXPECT_EQ(ec_GF2m_simple_group_check_discriminant(fresh.get(), nullptr), 0);
  ASSERT_EQ(ec_GF2m_simple_group_copy(fresh.get(), g), 1);
  Bn p2(BN_new()), a2(BN_new()), b2(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GF2m(fresh.get(), p2.get(), a2.get(), b2.get(), nullptr), 1);
  EXPECT_EQ(BN_cmp(p2.get(), p.get()), 0);
  EXPECT_EQ(BN_cmp(b2.get(), b.get()), 0);
  // A polynomial of four terms.
  const Bn four_terms = Hex("800000000000000000000000000000000000000C1");
  EXPECT_EQ(
      ec_GF2m_simple_group_set_curve(fresh.get(), four_terms.get(), a.get(), b.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_GROUP_SET_CURVE, EC_R_UNSUPPORTED_FIELD}});
}

TEST(Ec2Slots, PointSlots) {
  Group named(EC_GROUP_new_by_curve_name(kSect163k1));
  ASSERT_TRUE(named);
  const EC_GROUP* g = named.get();
  const EC_POINT* gen = EC_GROUP_get0_generator(g);
  Point p(EC_POINT_new(g)), q(EC_POINT_new(g)), r(EC_POINT_new(g));
  Bn x(BN_new()), y(BN_new());

  // Coordinates and octets: G back and forth.
  ASSERT_EQ(ec_GF2m_simple_point_get_affine_coordinates(g, gen, x.get(), y.get(), nullptr), 1);
  ASSERT_EQ(ec_GF2m_simple_point_set_affine_coordinates(g, p.get(), x.get(), y.get(), nullptr), 1);
  EXPECT_EQ(ec_GF2m_simple_cmp(g, p.get(), gen, nullptr), 0);
  EXPECT_EQ(ec_GF2m_simple_is_on_curve(g, p.get(), nullptr), 1);
  unsigned char buf[43];
  ASSERT_EQ(
      ec_GF2m_simple_point2oct(g, gen, POINT_CONVERSION_UNCOMPRESSED, buf, sizeof buf, nullptr),
      sizeof buf);
  ASSERT_EQ(ec_GF2m_simple_oct2point(g, q.get(), buf, sizeof buf, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g, q.get(), gen, nullptr), 0);
  ASSERT_EQ(ec_GF2m_simple_point_copy(r.get(), q.get()), 1);
  EXPECT_EQ(EC_POINT_cmp(g, r.get(), gen, nullptr), 0);
  EXPECT_EQ(ec_GF2m_simple_set_compressed_coordinates(g, q.get(), x.get(), 0, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_SET_COMPRESSED_COORDINATES, ERR_R_DISABLED}});

  // Sums: G + G = 2 G = 2 G by the ladder; G + (-G) is the point at infinity.
  ASSERT_EQ(ec_GF2m_simple_add(g, p.get(), gen, gen, nullptr), 1);
  ASSERT_EQ(ec_GF2m_simple_dbl(g, q.get(), gen, nullptr), 1);
  EXPECT_EQ(ec_GF2m_simple_cmp(g, p.get(), q.get(), nullptr), 0);
  const Bn two = Hex("2");
  const BIGNUM* ks[1] = {two.get()};
  const EC_POINT* pts[1] = {gen};
  ASSERT_EQ(ec_GF2m_simple_mul(g, r.get(), nullptr, 1, pts, ks, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g, r.get(), q.get(), nullptr), 0);
  ASSERT_EQ(EC_POINT_copy(q.get(), gen), 1);
  ASSERT_EQ(ec_GF2m_simple_invert(g, q.get(), nullptr), 1);
  ASSERT_EQ(ec_GF2m_simple_add(g, r.get(), gen, q.get(), nullptr), 1);
  EXPECT_EQ(ec_GF2m_simple_is_at_infinity(g, r.get()), 1);
  ASSERT_EQ(ec_GF2m_simple_point_set_to_infinity(g, p.get()), 1);
  EXPECT_EQ(ec_GF2m_simple_cmp(g, p.get(), r.get(), nullptr), 0);
  EC_POINT* both[2] = {p.get(), q.get()};
  EXPECT_EQ(ec_GF2m_simple_points_make_affine(g, 2, both, nullptr), 1);
  EXPECT_EQ(ec_GF2m_simple_make_affine(g, q.get(), nullptr), 1);
  EXPECT_ERRORS({});
}

TEST(Ec2Slots, FieldSlots) {
  Group named(EC_GROUP_new_by_curve_name(kSect163k1));
  ASSERT_TRUE(named);
  const EC_GROUP* g = named.get();
  Ctx ctx(BN_CTX_new());
  const Bn a = Hex("2FE13C0537BBC11ACAA07D793DE4E6D5E5C94EEE8");  // G's x
  const Bn b = Hex("289070FB05D38FF58321F2E800536D538CCDAA3D9");  // G's y
  Bn ab(BN_new()), back(BN_new()), sq(BN_new()), aa(BN_new());
  // (a b) / b = a; a^2 = a a.
  ASSERT_EQ(ec_GF2m_simple_field_mul(g, ab.get(), a.get(), b.get(), ctx.get()), 1);
  ASSERT_EQ(ec_GF2m_simple_field_div(g, back.get(), ab.get(), b.get(), ctx.get()), 1);
  EXPECT_EQ(BN_cmp(back.get(), a.get()), 0);
  ASSERT_EQ(ec_GF2m_simple_field_sqr(g, sq.get(), a.get(), ctx.get()), 1);
  ASSERT_EQ(ec_GF2m_simple_field_mul(g, aa.get(), a.get(), a.get(), ctx.get()), 1);
  EXPECT_EQ(BN_cmp(sq.get(), aa.get()), 0);
  EXPECT_ERRORS({});
}

}  // namespace
