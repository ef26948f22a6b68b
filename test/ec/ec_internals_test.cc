// What the public interface does not show: the a = -3 flag of the three
// methods and the general doubling formula it replaces, and the order of a
// group's copied extra data.  These tests read the group record through the
// library's own declaration of it (crypto/ec/internal.h).

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ec/internal.h"
#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

// P-192 to P-521 have a = -3 mod p; secp256k1 has a = 0.  Doubling with the
// flag cleared takes the general formula and must give the same points.
TEST(EcInternals, AMinus3FlagAndGeneralDoubling) {
  for (const MethodInfo& m : kMethods) {
    for (const Curve& c : Curves()) {
      Group g = MakeGroup(c, m.get());
      if (!c.nist() && m.get() == EC_GFp_nist_method()) {
        EXPECT_FALSE(g);
        ERR_clear_error();
        continue;
      }
      ASSERT_TRUE(g) << m.name << " " << c.name;
      EXPECT_EQ(g->a_is_minus3, c.nist() ? 1 : 0) << m.name << " " << c.name;
      Group general(EC_GROUP_dup(g.get()));
      general->a_is_minus3 = 0;
      // A projective point (5G), doubled three times in each group.
      Point p(EC_POINT_new(g.get())), q(EC_POINT_new(g.get()));
      ASSERT_EQ(EC_POINT_mul(g.get(), p.get(), Hex("5").get(), nullptr, nullptr, nullptr), 1);
      ASSERT_EQ(EC_POINT_copy(q.get(), p.get()), 1);
      for (int i = 0; i < 3; i++) {
        ASSERT_EQ(EC_POINT_dbl(g.get(), p.get(), p.get(), nullptr), 1);
        ASSERT_EQ(EC_POINT_dbl(general.get(), q.get(), q.get(), nullptr), 1);
        EXPECT_EQ(Encode(g.get(), p.get()), Encode(general.get(), q.get()))
            << m.name << " " << c.name << " " << i;
        EXPECT_EQ(EC_POINT_is_on_curve(general.get(), p.get(), nullptr), 1);
      }
    }
  }
}

std::vector<std::string> g_log;
void* DupA(void* d) {
  g_log.push_back("dupA");
  return d;
}
void FreeA(void*) {
  g_log.push_back("freeA");
}
void* DupB(void* d) {
  g_log.push_back("dupB");
  return d;
}
void FreeB(void*) {
  g_log.push_back("freeB");
}
void* DupNone(void*) {
  return nullptr;
}

// Copying duplicates the records head first and puts each copy at the new
// head, so the copy's list is reversed: freeing releases them the other way.
TEST(EcInternals, GroupCopyReversesExtraData) {
  Group g = MakeGroup(CurveNamed("P-256"), EC_GFp_mont_method());
  int a = 1, b = 2;
  ASSERT_EQ(EC_EX_DATA_set_data(&g->extra_data, &a, DupA, FreeA, FreeA), 1);
  ASSERT_EQ(EC_EX_DATA_set_data(&g->extra_data, &b, DupB, FreeB, FreeB), 1);  // head: B
  g_log.clear();
  Group copy(EC_GROUP_dup(g.get()));
  ASSERT_TRUE(copy);
  EXPECT_EQ(g_log, (std::vector<std::string>{"dupB", "dupA"}));
  EXPECT_EQ(EC_EX_DATA_get_data(copy->extra_data, DupA, FreeA, FreeA), &a);
  g_log.clear();
  copy.reset();
  EXPECT_EQ(g_log, (std::vector<std::string>{"freeA", "freeB"}));
  g_log.clear();
  g.reset();
  EXPECT_EQ(g_log, (std::vector<std::string>{"freeB", "freeA"}));
}

TEST(EcInternals, GroupCopyFailsWhenADupFails) {
  Group g = MakeGroup(CurveNamed("P-256"), EC_GFp_mont_method());
  int a = 1;
  ASSERT_EQ(EC_EX_DATA_set_data(&g->extra_data, &a, DupNone, FreeA, FreeA), 1);
  EXPECT_EQ(EC_GROUP_dup(g.get()), nullptr);
  EXPECT_ERRORS({});
  g_log.clear();
}

// A method whose membership test cannot answer (-1) and which lacks the
// comparison: decoding refuses the point rather than take the error for
// "on the curve", the group check fails, and a comparison without its slot
// is an error (-1), never "equal".
int CannotTell(const EC_GROUP*, const EC_POINT*, BN_CTX*) {
  ECERR(EC_F_EC_POINT_IS_ON_CURVE, ERR_R_INTERNAL_ERROR);
  return -1;
}

TEST(EcInternals, MembershipErrorIsNoMembership) {
  EC_METHOD broken = *EC_GFp_mont_method();
  broken.is_on_curve = CannotTell;
  broken.point_cmp = nullptr;
  Group g = MakeGroup(CurveNamed("P-256"), &broken);
  ASSERT_TRUE(g);
  const std::string gen = "04" + CurveNamed("P-256").gx + CurveNamed("P-256").gy;
  EXPECT_FALSE(Decode(g.get(), gen));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_POINT_IS_ON_CURVE, ERR_R_INTERNAL_ERROR}});
  EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_POINT_IS_ON_CURVE, ERR_R_INTERNAL_ERROR}});
  const EC_POINT* p = EC_GROUP_get0_generator(g.get());
  EXPECT_EQ(EC_POINT_cmp(g.get(), p, p, nullptr), -1);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_POINT_CMP, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED}});
}

// A generator at infinity, which EC_GROUP_set_generator and the decoder no
// longer let in, put in place by hand: the group check refuses it, and key
// generation makes no key at infinity from it.
TEST(EcInternals, GeneratorAtInfinityIsRefusedByTheCheck) {
  Group g = MakeGroup(CurveNamed("P-256"), EC_GFp_mont_method());
  ASSERT_TRUE(g);
  ASSERT_EQ(EC_POINT_set_to_infinity(g.get(), g->generator), 1);
  EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GROUP_CHECK, EC_R_POINT_AT_INFINITY}});
  EC_KEY* key = EC_KEY_new();
  ASSERT_EQ(EC_KEY_set_group(key, g.get()), 1);
  EXPECT_EQ(EC_KEY_generate_key(key), 0);
  EXPECT_EQ(EC_KEY_get0_public_key(key), nullptr);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_KEY_GENERATE_KEY, EC_R_POINT_AT_INFINITY}});
  EC_KEY_free(key);
}

// Whether a curve has a point of order 2: known from the table for a named
// group, forgotten when the group changes, found again on the next product
// from the table's parameters.  (Curves of no name: EcProducts.)
TEST(EcInternals, OrderTwoPointsKnownFromTheTable) {
  for (const auto& [nid, flag] : {std::pair{705, 2}, std::pair{415, 1}}) {
    Group g(EC_GROUP_new_by_curve_name(nid));
    ASSERT_TRUE(g);
    EXPECT_EQ(g->order_two, flag) << nid;
    Point gen(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
    Bn n(BN_new()), h(BN_new());
    ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), nullptr));
    ASSERT_TRUE(EC_GROUP_get_cofactor(g.get(), h.get(), nullptr));
    ASSERT_TRUE(EC_GROUP_set_generator(g.get(), gen.get(), n.get(), h.get()));
    EXPECT_EQ(g->order_two, 0) << nid;
    Point r(EC_POINT_new(g.get()));
    ASSERT_TRUE(EC_POINT_mul(g.get(), r.get(), Hex("5").get(), nullptr, nullptr, nullptr));
    EXPECT_EQ(g->order_two, flag) << nid;
  }
}

// The GF(2^m) method's table holds the exported slot functions, and the
// life-cycle slots set up and release a record's numbers.
TEST(EcInternals, Gf2mMethodSlotsAreTheExportedFunctions) {
  const EC_METHOD* m = EC_GF2m_simple_method();
  EXPECT_EQ(m->group_init, &ec_GF2m_simple_group_init);
  EXPECT_EQ(m->group_finish, &ec_GF2m_simple_group_finish);
  EXPECT_EQ(m->group_clear_finish, &ec_GF2m_simple_group_clear_finish);
  EXPECT_EQ(m->group_copy, &ec_GF2m_simple_group_copy);
  EXPECT_EQ(m->group_set_curve, &ec_GF2m_simple_group_set_curve);
  EXPECT_EQ(m->group_get_curve, &ec_GF2m_simple_group_get_curve);
  EXPECT_EQ(m->group_get_degree, &ec_GF2m_simple_group_get_degree);
  EXPECT_EQ(m->group_check_discriminant, &ec_GF2m_simple_group_check_discriminant);
  EXPECT_EQ(m->point_init, &ec_GF2m_simple_point_init);
  EXPECT_EQ(m->point_finish, &ec_GF2m_simple_point_finish);
  EXPECT_EQ(m->point_clear_finish, &ec_GF2m_simple_point_clear_finish);
  EXPECT_EQ(m->point_copy, &ec_GF2m_simple_point_copy);
  EXPECT_EQ(m->point_set_to_infinity, &ec_GF2m_simple_point_set_to_infinity);
  EXPECT_EQ(m->point_set_affine_coordinates, &ec_GF2m_simple_point_set_affine_coordinates);
  EXPECT_EQ(m->point_get_affine_coordinates, &ec_GF2m_simple_point_get_affine_coordinates);
  EXPECT_EQ(m->point_set_compressed_coordinates, &ec_GF2m_simple_set_compressed_coordinates);
  EXPECT_EQ(m->point2oct, &ec_GF2m_simple_point2oct);
  EXPECT_EQ(m->oct2point, &ec_GF2m_simple_oct2point);
  EXPECT_EQ(m->add, &ec_GF2m_simple_add);
  EXPECT_EQ(m->dbl, &ec_GF2m_simple_dbl);
  EXPECT_EQ(m->invert, &ec_GF2m_simple_invert);
  EXPECT_EQ(m->is_at_infinity, &ec_GF2m_simple_is_at_infinity);
  EXPECT_EQ(m->is_on_curve, &ec_GF2m_simple_is_on_curve);
  EXPECT_EQ(m->point_cmp, &ec_GF2m_simple_cmp);
  EXPECT_EQ(m->make_affine, &ec_GF2m_simple_make_affine);
  EXPECT_EQ(m->points_make_affine, &ec_GF2m_simple_points_make_affine);
  EXPECT_EQ(m->mul, &ec_GF2m_simple_mul);
  EXPECT_EQ(m->field_mul, &ec_GF2m_simple_field_mul);
  EXPECT_EQ(m->field_sqr, &ec_GF2m_simple_field_sqr);
  EXPECT_EQ(m->field_div, &ec_GF2m_simple_field_div);

  EC_GROUP group = {};
  ASSERT_EQ(ec_GF2m_simple_group_init(&group), 1);
  EXPECT_TRUE(BN_is_zero(&group.field));
  ASSERT_TRUE(BN_set_word(&group.b, 7));
  ec_GF2m_simple_group_clear_finish(&group);
  ASSERT_EQ(ec_GF2m_simple_group_init(&group), 1);
  ec_GF2m_simple_group_finish(&group);
  EC_POINT point = {};
  ASSERT_EQ(ec_GF2m_simple_point_init(&point), 1);
  EXPECT_EQ(point.Z_is_one, 0);
  ASSERT_TRUE(BN_set_word(&point.X, 5));
  point.Z_is_one = 1;
  ec_GF2m_simple_point_clear_finish(&point);
  EXPECT_EQ(point.Z_is_one, 0);
  ASSERT_EQ(ec_GF2m_simple_point_init(&point), 1);
  ec_GF2m_simple_point_finish(&point);
}

}  // namespace
