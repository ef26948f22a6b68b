// The group and point layer: copying, seeds, order, comparison, extra data,
// the checks of the point entries, multiplication, hexadecimal points, the
// group check and the choice of method by the curve constructor.
//
// Curve data: test/data/ec/curves.txt (FIPS 186-2, SEC 2).  2G of P-256 as
// given for the point-doubling check of the curve in the published P-256
// examples (and tools/ec_model.py --mul P-256 2).

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

constexpr char k2GX[] = "7CF27B188D034F7E8A52380304B51AC3C08969E277F21B35A60B48FC47669978";
constexpr char k2GY[] = "07775510DB8ED040293D9AC69F7430DBBA7DADE63CE982299E04B79D227873D1";

Group P256(const EC_METHOD* meth = EC_GFp_mont_method()) {
  return MakeGroup(CurveNamed("P-256"), meth);
}

TEST(EcGroup, CopyOntoItselfChangesNothing) {
  Group g = P256();
  ASSERT_TRUE(g);
  const unsigned char seed[20] = {1, 2, 3};
  ASSERT_EQ(EC_GROUP_set_seed(g.get(), seed, sizeof seed), sizeof seed);
  const std::string gen = Encode(g.get(), EC_GROUP_get0_generator(g.get()));
  EXPECT_EQ(EC_GROUP_copy(g.get(), g.get()), 1);
  EXPECT_EQ(Encode(g.get(), EC_GROUP_get0_generator(g.get())), gen);
  ASSERT_EQ(EC_GROUP_get_seed_len(g.get()), sizeof seed);
  EXPECT_EQ(EC_GROUP_get0_seed(g.get())[2], 3);
  EXPECT_ERRORS({});
}

TEST(EcGroup, CopyBetweenMethodsIsIncompatible) {
  Group mont = P256(), simple(EC_GROUP_new(EC_GFp_simple_method()));
  EXPECT_EQ(EC_GROUP_copy(simple.get(), mont.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GROUP_COPY, EC_R_INCOMPATIBLE_OBJECTS}});
}

TEST(EcGroup, CopiedSeedIsIndependentAndAbsentSeedIsRemoved) {
  Group g = P256();
  unsigned char seed[20];
  for (int i = 0; i < 20; i++) seed[i] = static_cast<unsigned char>(0xA0 + i);
  ASSERT_EQ(EC_GROUP_set_seed(g.get(), seed, 20), 20u);
  Group copy(EC_GROUP_dup(g.get()));
  ASSERT_TRUE(copy);
  ASSERT_EQ(EC_GROUP_get_seed_len(copy.get()), 20u);
  EXPECT_NE(EC_GROUP_get0_seed(copy.get()), EC_GROUP_get0_seed(g.get()));
  EC_GROUP_get0_seed(g.get())[0] = 0;
  EXPECT_EQ(EC_GROUP_get0_seed(copy.get())[0], 0xA0);
  Group seedless = P256();
  ASSERT_EQ(EC_GROUP_copy(copy.get(), seedless.get()), 1);
  EXPECT_EQ(EC_GROUP_get0_seed(copy.get()), nullptr);
  EXPECT_EQ(EC_GROUP_get_seed_len(copy.get()), 0u);
}

TEST(EcGroup, SetSeedLengths) {
  Group g = P256();
  const unsigned char buf[20] = {};
  EXPECT_EQ(EC_GROUP_set_seed(g.get(), buf, 20), 20u);
  EXPECT_EQ(EC_GROUP_set_seed(g.get(), buf, 0), 1u);
  EXPECT_EQ(EC_GROUP_get0_seed(g.get()), nullptr);
  EXPECT_EQ(EC_GROUP_get_seed_len(g.get()), 0u);
  EXPECT_EQ(EC_GROUP_set_seed(g.get(), nullptr, 5), 1u);
  EXPECT_EQ(EC_GROUP_get0_seed(g.get()), nullptr);
}

TEST(EcGroup, AttributesAfterCreation) {
  Group g(EC_GROUP_new(EC_GFp_simple_method()));
  ASSERT_TRUE(g);
  EXPECT_EQ(EC_GROUP_method_of(g.get()), EC_GFp_simple_method());
  EXPECT_EQ(EC_METHOD_get_field_type(EC_GFp_simple_method()), 406);
  EXPECT_EQ(EC_GROUP_get_curve_name(g.get()), 0);
  EXPECT_EQ(EC_GROUP_get_asn1_flag(g.get()), 0);
  EXPECT_EQ(EC_GROUP_get_point_conversion_form(g.get()), POINT_CONVERSION_UNCOMPRESSED);
  EXPECT_EQ(EC_GROUP_get0_generator(g.get()), nullptr);
  Bn order(BN_new());
  EXPECT_EQ(EC_GROUP_get_order(g.get(), order.get(), nullptr), 0);  // no order: zero
  EXPECT_TRUE(BN_is_zero(order.get()));
  EXPECT_EQ(EC_GROUP_get_cofactor(g.get(), order.get(), nullptr), 0);
  EXPECT_ERRORS({});
}

TEST(EcGroup, CompareByParametersNamesAndCofactor) {
  Group a = P256(), b = P256(), simple = P256(EC_GFp_simple_method());
  EXPECT_EQ(EC_GROUP_cmp(a.get(), b.get(), nullptr), 0);
  EXPECT_EQ(EC_GROUP_cmp(a.get(), simple.get(), nullptr), 0);  // the same curve in two methods
  // Another cofactor: different.
  Point gen(EC_POINT_dup(EC_GROUP_get0_generator(b.get()), b.get()));
  ASSERT_EQ(
      EC_GROUP_set_generator(b.get(), gen.get(), Hex(CurveNamed("P-256").n).get(), Hex("4").get()),
      1);
  EXPECT_EQ(EC_GROUP_cmp(a.get(), b.get(), nullptr), 1);
  // Equal non-zero names decide at once.
  Group p224 = MakeGroup(CurveNamed("P-224"), EC_GFp_mont_method());
  EC_GROUP_set_curve_name(a.get(), 415);
  EC_GROUP_set_curve_name(p224.get(), 415);
  EXPECT_EQ(EC_GROUP_cmp(a.get(), p224.get(), nullptr), 0);
  EC_GROUP_set_curve_name(p224.get(), 0);
  EXPECT_EQ(EC_GROUP_cmp(a.get(), p224.get(), nullptr), 1);
  EXPECT_ERRORS({});
}

// Without a generator on one side the groups differ; without one on both
// sides the rest decides (here the zero orders make it an error).
TEST(EcGroup, CompareGroupsWithoutGenerator) {
  const Curve& c = CurveNamed("P-256");
  Group full = P256();
  Group bare1(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex(c.a).get(), Hex(c.b).get(), nullptr));
  Group bare2(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex(c.a).get(), Hex(c.b).get(), nullptr));
  ASSERT_TRUE(bare1 && bare2);
  EXPECT_EQ(EC_GROUP_cmp(full.get(), bare1.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_cmp(bare1.get(), full.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_cmp(bare1.get(), bare2.get(), nullptr), -1);
  Group other(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex(c.a).get(), Hex("7").get(), nullptr));
  EXPECT_EQ(EC_GROUP_cmp(bare1.get(), other.get(), nullptr), 1);
  EXPECT_ERRORS({});
}

// ---- extra data ------------------------------------------------------------

std::vector<std::string> g_calls;
void* DupA(void* d) {
  g_calls.push_back("dupA");
  return d;
}
void FreeA(void*) {
  g_calls.push_back("freeA");
}
void ClearA(void*) {
  g_calls.push_back("clearA");
}
void* DupB(void* d) {
  g_calls.push_back("dupB");
  return d;
}
void FreeB(void*) {
  g_calls.push_back("freeB");
}
void ClearB(void*) {
  g_calls.push_back("clearB");
}

TEST(EcExtraData, OneRecordPerTriple) {
  EC_EXTRA_DATA* list = nullptr;
  int a = 1, b = 2;
  EXPECT_EQ(EC_EX_DATA_set_data(&list, &a, DupA, FreeA, ClearA), 1);
  EXPECT_EQ(EC_EX_DATA_set_data(&list, &b, DupA, FreeA, ClearA), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_EX_DATA_SET_DATA, EC_R_SLOT_FULL}});
  EXPECT_EQ(EC_EX_DATA_get_data(list, DupA, FreeA, ClearA), &a);
  // Null data: nothing added, success.
  EXPECT_EQ(EC_EX_DATA_set_data(&list, nullptr, DupB, FreeB, ClearB), 1);
  EXPECT_EQ(EC_EX_DATA_get_data(list, DupB, FreeB, ClearB), nullptr);
  // Another triple (same dup and free, other clear-free) is another record.
  EXPECT_EQ(EC_EX_DATA_set_data(&list, &b, DupA, FreeA, ClearB), 1);
  EXPECT_EQ(EC_EX_DATA_get_data(list, DupA, FreeA, ClearB), &b);
  EXPECT_EQ(EC_EX_DATA_set_data(nullptr, &a, DupB, FreeB, ClearB), 0);
  g_calls.clear();
  EC_EX_DATA_clear_free_data(&list, DupA, FreeA, ClearA);
  EXPECT_EQ(g_calls, std::vector<std::string>{"clearA"});
  EXPECT_EQ(EC_EX_DATA_get_data(list, DupA, FreeA, ClearA), nullptr);
  EC_EX_DATA_free_data(&list, DupB, FreeB, ClearB);  // absent: nothing
  EC_EX_DATA_free_all_data(&list);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"clearA", "freeA"}));
  EXPECT_ERRORS({});
}

// ---- the point entries' checks -----------------------------------------------

TEST(EcPoint, AddWithPointOfAnotherMethodIsIncompatible) {
  Group mont = P256(), simple = P256(EC_GFp_simple_method());
  Point r(EC_POINT_new(mont.get())), other(EC_POINT_new(simple.get()));
  const EC_POINT* g = EC_GROUP_get0_generator(mont.get());
  EXPECT_EQ(EC_POINT_add(mont.get(), r.get(), g, other.get(), nullptr), 0);
  EXPECT_EQ(EC_POINT_cmp(mont.get(), g, other.get(), nullptr), -1);
  EXPECT_EQ(EC_POINT_copy(r.get(), other.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_POINT_ADD, EC_R_INCOMPATIBLE_OBJECTS},
                 {ERR_LIB_EC, EC_F_EC_POINT_CMP, EC_R_INCOMPATIBLE_OBJECTS},
                 {ERR_LIB_EC, EC_F_EC_POINT_COPY, EC_R_INCOMPATIBLE_OBJECTS}});
}

TEST(EcPoint, NullArgumentsAreRefused) {
  Group g = P256();
  Point p(EC_POINT_new(g.get()));
  EXPECT_EQ(EC_GROUP_new(nullptr), nullptr);
  EXPECT_EQ(EC_POINT_new(nullptr), nullptr);
  EXPECT_EQ(EC_POINT_add(g.get(), p.get(), p.get(), nullptr, nullptr), 0);
  EXPECT_EQ(EC_POINT_is_on_curve(nullptr, p.get(), nullptr), -1);
  EXPECT_EQ(EC_GROUP_set_generator(g.get(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(EC_POINT_set_affine_coordinates_GFp(g.get(), p.get(), Hex("1").get(), nullptr, nullptr),
            0);
  EXPECT_ERRORS(
      {{ERR_LIB_EC, EC_F_EC_GROUP_NEW, ERR_R_PASSED_NULL_PARAMETER},
       {ERR_LIB_EC, EC_F_EC_POINT_NEW, ERR_R_PASSED_NULL_PARAMETER},
       {ERR_LIB_EC, EC_F_EC_POINT_ADD, ERR_R_PASSED_NULL_PARAMETER},
       {ERR_LIB_EC, EC_F_EC_POINT_IS_ON_CURVE, ERR_R_PASSED_NULL_PARAMETER},
       {ERR_LIB_EC, EC_F_EC_GROUP_SET_GENERATOR, ERR_R_PASSED_NULL_PARAMETER},
       {ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_POINT_SET_AFFINE_COORDINATES, ERR_R_PASSED_NULL_PARAMETER}});
  EC_POINT_free(nullptr);
  EC_POINT_clear_free(nullptr);
  EC_GROUP_free(nullptr);
  EC_GROUP_clear_free(nullptr);
  EXPECT_EQ(EC_POINT_dup(nullptr, g.get()), nullptr);
  EXPECT_EQ(EC_GROUP_dup(nullptr), nullptr);
  EXPECT_ERRORS({});
}

// ---- multiplication -------------------------------------------------------------

TEST(EcMul, GeneratorMultipleAndIgnoredPoint) {
  Group g = P256();
  Point r(EC_POINT_new(g.get())), two_g = Affine(g.get(), k2GX, k2GY);
  Bn two = Hex("2");
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), two.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), two_g.get(), nullptr), 0);
  // A point without its scalar is ignored.
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), two.get(), two_g.get(), nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), two_g.get(), nullptr), 0);
  // 2 G + 3 (2G) = 8 G = 4 (2G); r may be the point.
  Point eight(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_mul(g.get(), eight.get(), nullptr, two_g.get(), Hex("4").get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), two_g.get(), two.get(), two_g.get(), Hex("3").get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), two_g.get(), eight.get(), nullptr), 0);
  // n G is the point at infinity; -1 G is the inverse of G; nothing at all is infinity.
  ASSERT_EQ(
      EC_POINT_mul(g.get(), r.get(), Hex(CurveNamed("P-256").n).get(), nullptr, nullptr, nullptr),
      1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), Hex("-1").get(), nullptr, nullptr, nullptr), 1);
  Point inv(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  ASSERT_EQ(EC_POINT_invert(g.get(), inv.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), inv.get(), nullptr), 0);
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 0);
  EXPECT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 1);
  EXPECT_ERRORS({});
}

TEST(EcMul, GeneratorTermNeedsAGenerator) {
  const Curve& c = CurveNamed("P-256");
  Group g(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex(c.a).get(), Hex(c.b).get(), nullptr));
  Point r(EC_POINT_new(g.get()));
  EXPECT_EQ(EC_POINT_mul(g.get(), r.get(), Hex("2").get(), nullptr, nullptr, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_WNAF_MUL, EC_R_UNDEFINED_GENERATOR}});
}

// ---- points as numbers and text ---------------------------------------------------

TEST(EcPrint, HexAndNumberForms) {
  Group g = P256();
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  char* hex = EC_POINT_point2hex(g.get(), gen, POINT_CONVERSION_UNCOMPRESSED, nullptr);
  ASSERT_NE(hex, nullptr);
  const std::string text(hex);
  MORVANE_free(hex);
  EXPECT_EQ(text.size(), 130u);
  EXPECT_EQ(text, "04" + CurveNamed("P-256").gx + CurveNamed("P-256").gy);
  hex = EC_POINT_point2hex(g.get(), gen, POINT_CONVERSION_COMPRESSED, nullptr);
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(std::string(hex), "03" + CurveNamed("P-256").gx);
  MORVANE_free(hex);
  Point back(EC_POINT_hex2point(g.get(), text.c_str(), nullptr, nullptr));
  ASSERT_TRUE(back);
  EXPECT_EQ(EC_POINT_cmp(g.get(), back.get(), gen, nullptr), 0);
  Bn num(EC_POINT_point2bn(g.get(), gen, POINT_CONVERSION_HYBRID, nullptr, nullptr));
  ASSERT_TRUE(num);
  EXPECT_EQ(Show(num.get()), "07" + CurveNamed("P-256").gx + CurveNamed("P-256").gy);
  Point p(EC_POINT_new(g.get()));
  EXPECT_EQ(EC_POINT_bn2point(g.get(), num.get(), p.get(), nullptr), p.get());
  EXPECT_EQ(EC_POINT_cmp(g.get(), p.get(), gen, nullptr), 0);
  // The point at infinity is the number 0, which has no octets.
  ASSERT_EQ(EC_POINT_set_to_infinity(g.get(), p.get()), 1);
  Bn zero(EC_POINT_point2bn(g.get(), p.get(), POINT_CONVERSION_COMPRESSED, nullptr, nullptr));
  ASSERT_TRUE(zero);
  EXPECT_TRUE(BN_is_zero(zero.get()));
  EXPECT_EQ(EC_POINT_bn2point(g.get(), zero.get(), nullptr, nullptr), nullptr);
  EXPECT_EQ(EC_POINT_hex2point(g.get(), "not hex", nullptr, nullptr), nullptr);
  EXPECT_ERRORS({});
  // A number that is no point: refused, the point given is left to its owner.
  EXPECT_EQ(EC_POINT_hex2point(g.get(), "0512", p.get(), nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
}

// ---- the group check ------------------------------------------------------------

TEST(EcCheck, ConsistentGroupPasses) {
  for (const Curve& c : Curves()) {
    Group g = MakeGroup(c, EC_GFp_mont_method());
    EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 1) << c.name;
  }
  EXPECT_ERRORS({});
}

TEST(EcCheck, WrongOrMissingOrderAndGenerator) {
  const Curve& c = CurveNamed("P-256");
  Group g = P256();
  Point gen(EC_POINT_dup(EC_GROUP_get0_generator(g.get()), g.get()));
  ASSERT_EQ(EC_GROUP_set_generator(g.get(), gen.get(), Hex("FFFF").get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 0);
  ASSERT_EQ(EC_GROUP_set_generator(g.get(), gen.get(), nullptr, nullptr), 1);
  EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 0);
  Group bare(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex(c.a).get(), Hex(c.b).get(), nullptr));
  EXPECT_EQ(EC_GROUP_check(bare.get(), nullptr), 0);
  // A generator off the curve (set in Jacobian form, which checks nothing).
  Point off(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_set_Jprojective_coordinates_GFp(g.get(), off.get(), Hex("1").get(),
                                                     Hex("1").get(), Hex("1").get(), nullptr),
            1);
  ASSERT_EQ(EC_GROUP_set_generator(g.get(), off.get(), Hex(c.n).get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_check(g.get(), nullptr), 0);
  Group flat(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex("0").get(), Hex("0").get(), nullptr));
  EXPECT_EQ(EC_GROUP_check(flat.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GROUP_CHECK, EC_R_INVALID_GROUP_ORDER},
                 {ERR_LIB_EC, EC_F_EC_GROUP_CHECK, EC_R_UNDEFINED_ORDER},
                 {ERR_LIB_EC, EC_F_EC_GROUP_CHECK, EC_R_UNDEFINED_GENERATOR},
                 {ERR_LIB_EC, EC_F_EC_GROUP_CHECK, EC_R_POINT_IS_NOT_ON_CURVE},
                 {ERR_LIB_EC, EC_F_EC_GROUP_CHECK, EC_R_DISCRIMINANT_IS_ZERO}});
}

// ---- the curve constructor's choice ----------------------------------------------

TEST(EcNewCurve, NistPrimesGetTheNistMethodOthersMontgomery) {
  for (const Curve& c : Curves()) {
    Group g(EC_GROUP_new_curve_GFp(Hex(c.p).get(), Hex("5").get(), Hex("7").get(), nullptr));
    ASSERT_TRUE(g) << c.name;
    EXPECT_EQ(EC_GROUP_method_of(g.get()), c.nist() ? EC_GFp_nist_method() : EC_GFp_mont_method())
        << c.name;
  }
  EXPECT_ERRORS({});
}

// The fallback to the Montgomery method queues nothing, so errors queued
// before the call survive it; a real failure leaves its own errors after them.
TEST(EcNewCurve, KeepsTheCallersErrors) {
  ERR_put_error(ERR_LIB_USER, 1, 2, "earlier", 1);
  const Curve& k1 = CurveNamed("secp256k1");
  Group g(EC_GROUP_new_curve_GFp(Hex(k1.p).get(), Hex(k1.a).get(), Hex(k1.b).get(), nullptr));
  ASSERT_TRUE(g);
  EXPECT_EQ(EC_GROUP_method_of(g.get()), EC_GFp_mont_method());
  EXPECT_ERRORS({{ERR_LIB_USER, 1, 2}});
  ERR_put_error(ERR_LIB_USER, 1, 2, "earlier", 1);
  EXPECT_EQ(EC_GROUP_new_curve_GFp(Hex("100").get(), Hex("1").get(), Hex("1").get(), nullptr),
            nullptr);
  EXPECT_ERRORS(
      {{ERR_LIB_USER, 1, 2}, {ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_GROUP_SET_CURVE, EC_R_INVALID_FIELD}});
}

TEST(EcNewCurve, BinaryFieldTakesTheBinaryMethod) {
  Group g(EC_GROUP_new_curve_GF2m(Hex("13").get(), Hex("1").get(), Hex("1").get(), nullptr));
  ASSERT_TRUE(g);
  EXPECT_EQ(EC_GROUP_method_of(g.get()), EC_GF2m_simple_method());
  EXPECT_EQ(EC_GROUP_get_degree(g.get()), 4);
  EXPECT_ERRORS({});
}

}  // namespace
