// The three curve methods over GF(p): fields refused, points as octets
// (X9.62 / SEC 1, 2.3.3 and 2.3.4), the point at infinity, addition and
// doubling edge cases, many points made affine at once, and the methods'
// own field operations.
//
// Curve data: test/data/ec/curves.txt (FIPS 186-2, SEC 2).  2G of P-256 as
// the issue of this work gives it (and tools/ec_model.py --mul P-256 2).

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

class EcMethod : public testing::TestWithParam<MethodInfo> {
 protected:
  const EC_METHOD* meth() const { return GetParam().get(); }
  Group P256() const { return MakeGroup(CurveNamed("P-256"), meth()); }
};

INSTANTIATE_TEST_SUITE_P(All, EcMethod, testing::ValuesIn(kMethods),
                         [](const testing::TestParamInfo<MethodInfo>& i) { return i.param.name; });

// The simple and Montgomery methods take any odd field of 3 bits or more.
TEST(EcField, ShortOrEvenFieldIsInvalid) {
  for (const EC_METHOD* meth : {EC_GFp_simple_method(), EC_GFp_mont_method()}) {
    for (const char* p : {"3", "1", "10", "FFFFFFFE"}) {
      Group g(EC_GROUP_new(meth));
      EXPECT_EQ(
          EC_GROUP_set_curve_GFp(g.get(), Hex(p).get(), Hex("1").get(), Hex("1").get(), nullptr), 0)
          << p;
      EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_GROUP_SET_CURVE, EC_R_INVALID_FIELD}});
    }
  }
  Group g(EC_GROUP_new(EC_GFp_simple_method()));
  EXPECT_EQ(
      EC_GROUP_set_curve_GFp(g.get(), Hex("7").get(), Hex("-1").get(), Hex("9").get(), nullptr), 1);
  Bn p(BN_new()), a(BN_new()), b(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GFp(g.get(), p.get(), a.get(), b.get(), nullptr), 1);
  EXPECT_EQ(Show(a.get()), "06");  // reduced into [0, p)
  EXPECT_EQ(Show(b.get()), "02");
  EXPECT_EQ(EC_GROUP_get_degree(g.get()), 3);
}

TEST(EcField, NistMethodTakesOnlyTheFivePrimes) {
  Group g(EC_GROUP_new(EC_GFp_nist_method()));
  const Curve& k1 = CurveNamed("secp256k1");
  EXPECT_EQ(
      EC_GROUP_set_curve_GFp(g.get(), Hex(k1.p).get(), Hex(k1.a).get(), Hex(k1.b).get(), nullptr),
      0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_NIST_GROUP_SET_CURVE, EC_R_NOT_A_NIST_PRIME}});
  for (const Curve& c : Curves()) {
    if (c.nist()) {
      EXPECT_TRUE(MakeGroup(c, EC_GFp_nist_method())) << c.name;
    }
  }
}

TEST_P(EcMethod, CurveAndDiscriminantReadBack) {
  const Curve& c = CurveNamed("P-256");
  Group g = P256();
  Bn p(BN_new()), a(BN_new()), b(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GFp(g.get(), p.get(), a.get(), b.get(), nullptr), 1);
  EXPECT_EQ(Show(p.get()), c.p);
  EXPECT_EQ(Show(a.get()), c.a);
  EXPECT_EQ(Show(b.get()), c.b);
  EXPECT_EQ(EC_GROUP_check_discriminant(g.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_get_degree(g.get()), 256);
  // a = b = 0 is no elliptic curve; one of them 0 is.
  ASSERT_EQ(EC_GROUP_set_curve_GFp(g.get(), p.get(), Hex("0").get(), Hex("0").get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_check_discriminant(g.get(), nullptr), 0);
  ASSERT_EQ(EC_GROUP_set_curve_GFp(g.get(), p.get(), Hex("0").get(), Hex("7").get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_check_discriminant(g.get(), nullptr), 1);
  EXPECT_ERRORS({});
}

TEST_P(EcMethod, TwoGOfP256) {
  Group g = P256();
  Point r(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_dbl(g.get(), r.get(), EC_GROUP_get0_generator(g.get()), nullptr), 1);
  EXPECT_EQ(Encode(g.get(), r.get()), std::string("04") + k2GX + k2GY);
  Bn x(BN_new()), y(BN_new()), z(BN_new());
  ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g.get(), r.get(), x.get(), y.get(), nullptr), 1);
  EXPECT_EQ(Show(x.get()), k2GX);
  EXPECT_EQ(Show(y.get()), k2GY);
  // The same through the Jacobian coordinates, read back and set again.
  ASSERT_EQ(EC_POINT_get_Jprojective_coordinates_GFp(g.get(), r.get(), x.get(), y.get(), z.get(),
                                                     nullptr),
            1);
  Point j(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_set_Jprojective_coordinates_GFp(g.get(), j.get(), x.get(), y.get(), z.get(),
                                                     nullptr),
            1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), j.get(), r.get(), nullptr), 0);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), j.get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_make_affine(g.get(), j.get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_get_Jprojective_coordinates_GFp(g.get(), j.get(), nullptr, nullptr, z.get(),
                                                     nullptr),
            1);
  EXPECT_EQ(Show(z.get()), "01");
  EXPECT_ERRORS({});
}

// ---- octets -----------------------------------------------------------------------

TEST_P(EcMethod, GeneratorOfP256InEachForm) {
  const Curve& c = CurveNamed("P-256");
  Group g = P256();
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  // Compressed: y is odd, so 0x03 (FIPS 186-2 gives G's y ending in ...51F5).
  EXPECT_EQ(Encode(g.get(), gen, POINT_CONVERSION_COMPRESSED),
            "036B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296");
  EXPECT_EQ(Encode(g.get(), gen, POINT_CONVERSION_UNCOMPRESSED), "04" + c.gx + c.gy);
  EXPECT_EQ(Encode(g.get(), gen, POINT_CONVERSION_HYBRID), "07" + c.gx + c.gy);
  for (const char* lead : {"03", "04", "07"}) {
    const std::string text = lead + c.gx + (lead[1] == '3' ? "" : c.gy);
    Point p = Decode(g.get(), text);
    ASSERT_TRUE(p) << text;
    EXPECT_EQ(EC_POINT_cmp(g.get(), p.get(), gen, nullptr), 0);
  }
  // Solving takes x modulo p: Gx + p gives G.
  Point solved(EC_POINT_new(g.get()));
  Bn x = Hex(c.gx), p = Hex(c.p);
  ASSERT_EQ(BN_add(x.get(), x.get(), p.get()), 1);
  ASSERT_EQ(EC_POINT_set_compressed_coordinates_GFp(g.get(), solved.get(), x.get(), 1, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), solved.get(), gen, nullptr), 0);
  EXPECT_EQ(EC_POINT_point2oct(g.get(), gen, POINT_CONVERSION_COMPRESSED, nullptr, 0, nullptr),
            33u);
  EXPECT_EQ(EC_POINT_point2oct(g.get(), gen, POINT_CONVERSION_HYBRID, nullptr, 0, nullptr), 65u);
  EXPECT_ERRORS({});
}

TEST(EcOctets, GeneratorOfSecp256k1HasEvenY) {
  for (const EC_METHOD* meth : {EC_GFp_simple_method(), EC_GFp_mont_method()}) {
    const Curve& c = CurveNamed("secp256k1");
    Group g = MakeGroup(c, meth);
    ASSERT_TRUE(g);
    EXPECT_EQ(Encode(g.get(), EC_GROUP_get0_generator(g.get()), POINT_CONVERSION_COMPRESSED),
              "02" + c.gx);
    Point p = Decode(g.get(), "02" + c.gx);
    ASSERT_TRUE(p);
    EXPECT_EQ(Encode(g.get(), p.get()), "04" + c.gx + c.gy);
  }
}

TEST(EcOctets, NistAndMontgomeryWriteTheSameBytes) {
  Group nist = MakeGroup(CurveNamed("P-256"), EC_GFp_nist_method());
  Group mont = MakeGroup(CurveNamed("P-256"), EC_GFp_mont_method());
  Point a(EC_POINT_new(nist.get())), b(EC_POINT_new(mont.get()));
  const BIGNUM* k = Hex("1D0F7E3A").release();
  ASSERT_EQ(EC_POINT_mul(nist.get(), a.get(), k, nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(EC_POINT_mul(mont.get(), b.get(), k, nullptr, nullptr, nullptr), 1);
  BN_free(const_cast<BIGNUM*>(k));
  const std::string bytes = Encode(nist.get(), a.get());
  EXPECT_EQ(bytes.size(), 130u);
  EXPECT_EQ(bytes, Encode(mont.get(), b.get()));
  Point back = Decode(mont.get(), bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(EC_POINT_cmp(mont.get(), back.get(), b.get(), nullptr), 0);
}

TEST_P(EcMethod, MalformedEncodingsAreRefused) {
  const Curve& c = CurveNamed("P-256");
  Group g = P256();
  const std::string x1 = std::string(63, '0') + "1";
  struct Case {
    std::string hex;
    int reason;
  };
  const std::vector<Case> cases = {
      {"05" + c.gx + c.gy, EC_R_INVALID_ENCODING},         // 0x04 with the low bit
      {"01", EC_R_INVALID_ENCODING},                       // 0x00 with the low bit
      {"08" + c.gx + c.gy, EC_R_INVALID_ENCODING},         // no such form
      {"0000", EC_R_INVALID_ENCODING},                     // infinity is one byte
      {"06" + c.gx + c.gy, EC_R_INVALID_ENCODING},         // hybrid, parity disagrees
      {"02" + c.p, EC_R_INVALID_ENCODING},                 // X = p
      {"04" + c.gx + c.p, EC_R_INVALID_ENCODING},          // Y = p
      {"04" + c.gx, EC_R_INVALID_ENCODING},                // 1 + L bytes for form 4
      {"02" + c.gx + c.gy, EC_R_INVALID_ENCODING},         // 1 + 2L bytes for form 2
      {"04" + c.gx + c.gy + "00", EC_R_INVALID_ENCODING},  // a byte too many
      {"04" + c.gx + c.gx, EC_R_POINT_IS_NOT_ON_CURVE},    // (Gx, Gx)
      {"02" + x1, EC_R_INVALID_COMPRESSED_POINT},          // 1 + a + b is no square
  };
  for (const Case& k : cases) {
    EXPECT_FALSE(Decode(g.get(), k.hex)) << k.hex;
    const int func = k.reason == EC_R_INVALID_COMPRESSED_POINT
                         ? EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES
                         : EC_F_EC_GFP_SIMPLE_OCT2POINT;
    EXPECT_ERRORS({{ERR_LIB_EC, func, k.reason}}) << k.hex;  // only that error
  }
  Point p(EC_POINT_new(g.get()));
  EXPECT_EQ(
      EC_POINT_oct2point(g.get(), p.get(), reinterpret_cast<const unsigned char*>(""), 0, nullptr),
      0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_OCT2POINT, EC_R_BUFFER_TOO_SMALL}});
}

// Solving a compressed point leaves the caller's errors (and a mark on the
// newest of them) as they were.
TEST(EcOctets, CompressedPointKeepsTheCallersErrors) {
  Group g = MakeGroup(CurveNamed("P-256"), EC_GFp_nist_method());
  ERR_put_error(ERR_LIB_USER, 1, 2, "older", 1);
  ASSERT_TRUE(Decode(g.get(), "02" + CurveNamed("P-256").gx));
  EXPECT_FALSE(Decode(g.get(), "02" + std::string(63, '0') + "1"));
  EXPECT_ERRORS(
      {{ERR_LIB_USER, 1, 2},
       {ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES, EC_R_INVALID_COMPRESSED_POINT}});
  ERR_put_error(ERR_LIB_USER, 1, 2, "older", 1);
  ERR_put_error(ERR_LIB_USER, 1, 3, "marked", 1);
  ASSERT_EQ(ERR_set_mark(), 1);
  EXPECT_FALSE(Decode(g.get(), "03" + std::string(63, '0') + "1"));
  EXPECT_EQ(ERR_pop_to_mark(), 1);  // the mark is still on the caller's entry
  EXPECT_ERRORS({{ERR_LIB_USER, 1, 2}, {ERR_LIB_USER, 1, 3}});
}

TEST_P(EcMethod, PointAtInfinity) {
  Group g = P256();
  Point inf = Decode(g.get(), "00");
  ASSERT_TRUE(inf);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), inf.get()), 1);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), inf.get(), nullptr), 1);
  for (auto form :
       {POINT_CONVERSION_COMPRESSED, POINT_CONVERSION_UNCOMPRESSED, POINT_CONVERSION_HYBRID}) {
    unsigned char one = 0xFF;
    EXPECT_EQ(EC_POINT_point2oct(g.get(), inf.get(), form, &one, 1, nullptr), 1u);
    EXPECT_EQ(one, 0);
    EXPECT_EQ(EC_POINT_point2oct(g.get(), inf.get(), form, nullptr, 0, nullptr), 1u);
  }
  unsigned char none = 0;
  EXPECT_EQ(EC_POINT_point2oct(g.get(), inf.get(), POINT_CONVERSION_COMPRESSED, &none, 0, nullptr),
            0u);
  EXPECT_EQ(EC_POINT_point2oct(g.get(), inf.get(), static_cast<point_conversion_form_t>(5), &none,
                               1, nullptr),
            0u);
  Bn x(BN_new());
  EXPECT_EQ(EC_POINT_get_affine_coordinates_GFp(g.get(), inf.get(), x.get(), nullptr, nullptr), 0);
  EXPECT_ERRORS(
      {{ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL},
       {ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_POINT2OCT, EC_R_INVALID_FORM},
       {ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_POINT_GET_AFFINE_COORDINATES, EC_R_POINT_AT_INFINITY}});
  // Comparisons with a finite point, both ways.
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  EXPECT_EQ(EC_POINT_cmp(g.get(), gen, inf.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), inf.get(), gen, nullptr), 1);
  Point inf2(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_set_to_infinity(g.get(), inf2.get()), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), inf.get(), inf2.get(), nullptr), 0);
  // Adding and doubling infinity.
  Point r(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_add(g.get(), r.get(), inf.get(), gen, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), gen, nullptr), 0);
  ASSERT_EQ(EC_POINT_dbl(g.get(), r.get(), inf.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  ASSERT_EQ(EC_POINT_invert(g.get(), r.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  // A buffer one byte short for a finite point.
  unsigned char buf[64];
  EXPECT_EQ(
      EC_POINT_point2oct(g.get(), gen, POINT_CONVERSION_UNCOMPRESSED, buf, sizeof buf, nullptr),
      0u);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL}});
}

// ---- addition and doubling edge cases -----------------------------------------------

TEST_P(EcMethod, InverseAndEqualPoints) {
  Group g = P256();
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  // A projective point (3G) and its copy in another object.
  Point p(EC_POINT_new(g.get())), q(EC_POINT_new(g.get())), r(EC_POINT_new(g.get())),
      d(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_dbl(g.get(), p.get(), gen, nullptr), 1);
  ASSERT_EQ(EC_POINT_add(g.get(), p.get(), p.get(), gen, nullptr), 1);
  ASSERT_EQ(EC_POINT_copy(q.get(), p.get()), 1);
  for (bool affine : {false, true}) {
    if (affine) {
      ASSERT_EQ(EC_POINT_make_affine(g.get(), q.get(), nullptr), 1);
    }
    ASSERT_EQ(EC_POINT_add(g.get(), r.get(), p.get(), q.get(), nullptr), 1);
    ASSERT_EQ(EC_POINT_dbl(g.get(), d.get(), p.get(), nullptr), 1);
    EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), d.get(), nullptr), 0) << affine;
    EXPECT_EQ(EC_POINT_is_on_curve(g.get(), r.get(), nullptr), 1);
    // p + (-p) is the point at infinity.
    Point neg(EC_POINT_dup(q.get(), g.get()));
    ASSERT_EQ(EC_POINT_invert(g.get(), neg.get(), nullptr), 1);
    EXPECT_EQ(EC_POINT_cmp(g.get(), neg.get(), p.get(), nullptr), 1);
    ASSERT_EQ(EC_POINT_add(g.get(), r.get(), p.get(), neg.get(), nullptr), 1);
    EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1) << affine;
  }
  // The sum into one of its operands, and a point added to itself.
  ASSERT_EQ(EC_POINT_add(g.get(), r.get(), p.get(), p.get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_add(g.get(), p.get(), p.get(), p.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), p.get(), nullptr), 0);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), d.get(), nullptr), 0);
  EXPECT_ERRORS({});
}

TEST_P(EcMethod, ManyPointsMadeAffineLeaveInfinity) {
  Group g = P256();
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  // Infinity first, then a projective point: the pair that shares a node of
  // the inversion tree with infinity on its left.
  std::vector<Point> pts;
  std::vector<std::string> want;
  const char* kinds = "ipaippiapi";  // infinity, projective, affine
  Point acc(EC_POINT_dup(gen, g.get()));
  for (const char* k = kinds; *k != '\0'; k++) {
    ASSERT_EQ(EC_POINT_dbl(g.get(), acc.get(), acc.get(), nullptr), 1);
    Point p(EC_POINT_dup(acc.get(), g.get()));
    if (*k == 'i') {
      ASSERT_EQ(EC_POINT_set_to_infinity(g.get(), p.get()), 1);
    }
    if (*k == 'a') {
      ASSERT_EQ(EC_POINT_make_affine(g.get(), p.get(), nullptr), 1);
    }
    want.push_back(Encode(g.get(), p.get()));
    pts.push_back(std::move(p));
  }
  for (size_t n : {size_t{2}, size_t{3}, pts.size()}) {
    std::vector<EC_POINT*> raw;
    for (size_t i = 0; i < n; i++) raw.push_back(pts[i].get());
    ASSERT_EQ(EC_POINTs_make_affine(g.get(), n, raw.data(), nullptr), 1);
    Bn z(BN_new());
    for (size_t i = 0; i < n; i++) {
      EXPECT_EQ(Encode(g.get(), pts[i].get()), want[i]) << i;
      if (kinds[i] == 'i') {
        EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), pts[i].get()), 1) << i;
      } else {
        ASSERT_EQ(EC_POINT_get_Jprojective_coordinates_GFp(g.get(), pts[i].get(), nullptr, nullptr,
                                                           z.get(), nullptr),
                  1);
        EXPECT_EQ(Show(z.get()), "01") << i;
      }
    }
  }
  EXPECT_EQ(EC_POINTs_make_affine(g.get(), 0, nullptr, nullptr), 1);
  EXPECT_ERRORS({});
}

// ---- the methods' own field operations ------------------------------------------------

TEST(EcFieldOps, MontgomeryWithoutCurveIsNotInitialized) {
  Group g(EC_GROUP_new(EC_GFp_mont_method()));
  Bn r(BN_new()), a = Hex("5");
  EXPECT_EQ(ec_GFp_mont_field_mul(g.get(), r.get(), a.get(), a.get(), nullptr), 0);
  EXPECT_EQ(ec_GFp_mont_field_sqr(g.get(), r.get(), a.get(), nullptr), 0);
  EXPECT_EQ(ec_GFp_mont_field_encode(g.get(), r.get(), a.get(), nullptr), 0);
  EXPECT_EQ(ec_GFp_mont_field_decode(g.get(), r.get(), a.get(), nullptr), 0);
  EXPECT_EQ(ec_GFp_mont_field_set_to_one(g.get(), r.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_MONT_FIELD_MUL, EC_R_NOT_INITIALIZED},
                 {ERR_LIB_EC, EC_F_EC_GFP_MONT_FIELD_SQR, EC_R_NOT_INITIALIZED},
                 {ERR_LIB_EC, EC_F_EC_GFP_MONT_FIELD_ENCODE, EC_R_NOT_INITIALIZED},
                 {ERR_LIB_EC, EC_F_EC_GFP_MONT_FIELD_DECODE, EC_R_NOT_INITIALIZED},
                 {ERR_LIB_EC, EC_F_EC_GFP_MONT_FIELD_SET_TO_ONE, EC_R_NOT_INITIALIZED}});
  // Through a point entry too.
  Point p(EC_POINT_new(g.get()));
  EXPECT_EQ(EC_POINT_set_affine_coordinates_GFp(g.get(), p.get(), a.get(), a.get(), nullptr), 0);
  ERR_clear_error();
}

TEST(EcFieldOps, MontgomeryEncodingRoundTrip) {
  Group g = MakeGroup(CurveNamed("P-224"), EC_GFp_mont_method());
  Bn r(BN_new()), one(BN_new()), a = Hex("123456789ABCDEF");
  ASSERT_EQ(ec_GFp_mont_field_encode(g.get(), r.get(), a.get(), nullptr), 1);
  EXPECT_NE(Show(r.get()), Show(a.get()));
  ASSERT_EQ(ec_GFp_mont_field_set_to_one(g.get(), one.get(), nullptr), 1);
  ASSERT_EQ(ec_GFp_mont_field_mul(g.get(), r.get(), r.get(), one.get(), nullptr), 1);
  ASSERT_EQ(ec_GFp_mont_field_decode(g.get(), r.get(), r.get(), nullptr), 1);
  EXPECT_EQ(Show(r.get()), Show(a.get()));
}

TEST(EcFieldOps, NistRefusesNullArgumentsAndAMissingCurve) {
  Group g(EC_GROUP_new(EC_GFp_nist_method()));
  Bn r(BN_new()), a = Hex("5");
  EXPECT_EQ(ec_GFp_nist_field_mul(nullptr, r.get(), a.get(), a.get(), nullptr), 0);
  EXPECT_EQ(ec_GFp_nist_field_sqr(g.get(), r.get(), nullptr, nullptr), 0);
  EXPECT_EQ(ec_GFp_nist_field_mul(g.get(), r.get(), a.get(), a.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GFP_NIST_FIELD_MUL, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_EC, EC_F_EC_GFP_NIST_FIELD_SQR, EC_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_EC, EC_F_EC_GFP_NIST_FIELD_MUL, EC_R_NO_FIELD_MOD}});
  Group p384 = MakeGroup(CurveNamed("P-384"), EC_GFp_nist_method());
  ASSERT_EQ(ec_GFp_nist_field_sqr(p384.get(), r.get(), Hex(CurveNamed("P-384").a).get(), nullptr),
            1);
  EXPECT_EQ(Show(r.get()), "09");  // (p - 3)^2 = 9 mod p
}

TEST_P(EcMethod, CopiedGroupWorksAlone) {
  Group g = P256();
  Group copy(EC_GROUP_new(meth()));
  ASSERT_EQ(EC_GROUP_copy(copy.get(), g.get()), 1);
  g.reset();
  Point r(EC_POINT_new(copy.get()));
  ASSERT_EQ(EC_POINT_dbl(copy.get(), r.get(), EC_GROUP_get0_generator(copy.get()), nullptr), 1);
  EXPECT_EQ(Encode(copy.get(), r.get()), std::string("04") + k2GX + k2GY);
  EXPECT_EQ(EC_GROUP_check(copy.get(), nullptr), 1);
  // Clear-freeing wipes as it goes.
  EC_GROUP_clear_free(EC_GROUP_dup(copy.get()));
  EC_POINT_clear_free(EC_POINT_dup(r.get(), copy.get()));
}

}  // namespace
