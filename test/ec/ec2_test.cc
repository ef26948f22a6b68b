// The curve method over GF(2^m) through the public API: fields refused and
// accepted, points as octets (X9.62 / SEC 1, 2.3.3 and 2.3.4), the point at
// infinity and the exceptional sums, scalar multiplication (the ladder, the
// windowed NAFs and the long-scalar path agreeing), and the check of every
// binary named curve from the arithmetic.
//
// Curve data: the library's named-curve table (SEC 2, ANSI X9.62, WTLS,
// RFC 2409), checked here against the defining relations.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/sha.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

Group Named(const char* sn) {
  return Group(EC_GROUP_new_by_curve_name(OBJ_sn2nid(sn)));
}

Group Curve2m(const char* poly, const char* a, const char* b) {
  return Group(EC_GROUP_new_curve_GF2m(Hex(poly).get(), Hex(a).get(), Hex(b).get(), nullptr));
}

// y with (x, y) on the curve of g, found by trying every y below 2^m (small
// fields only); -1 when there is none.
long FindY(const EC_GROUP* g, unsigned long x) {
  const int m = EC_GROUP_get_degree(g);
  Point p(EC_POINT_new(g));
  Bn bx(BN_new()), by(BN_new());
  BN_set_word(bx.get(), x);
  for (unsigned long y = 0; y < (1ul << m); y++) {
    BN_set_word(by.get(), y);
    EC_POINT_set_affine_coordinates_GF2m(g, p.get(), bx.get(), by.get(), nullptr);
    if (EC_POINT_is_on_curve(g, p.get(), nullptr) == 1) return static_cast<long>(y);
  }
  return -1;
}

// ---- fields ----------------------------------------------------------------------

TEST(Ec2Field, OnlyTrinomialsAndPentanomials) {
  struct Row {
    const char* poly;
    bool ok;
  };
  const Row rows[] = {
      {"80000000000000000000000000000000000000001", false},  // two terms
      {"8000000000000000000000000000000000000000B", false},  // four terms
      {"800000000000000000000000000000000000000C9", true},   // sect163k1: five terms
      {"800000000000000000000000000000000000000EF", false},  // eight terms
      {"8000000000000000000000000000000000000003F", false},  // seven terms
      {"80000000000000000000000000000000000000007", false},  // x^163 + x^2 + x + 1: four
      {"800000000000000000000000000000000000000C1", false},  // four terms
      {"20000000000000000000000000000000000000000000000000201", true},  // a trinomial
  };
  for (const Row& r : rows) {
    Group g(EC_GROUP_new(EC_GF2m_simple_method()));
    ASSERT_TRUE(g);
    EXPECT_EQ(EC_GROUP_set_curve_GF2m(g.get(), Hex(r.poly).get(), Hex("1").get(), Hex("1").get(),
                                      nullptr),
              r.ok ? 1 : 0)
        << r.poly;
    if (r.ok) {
      EXPECT_ERRORS({});
    } else {
      EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_GROUP_SET_CURVE, EC_R_UNSUPPORTED_FIELD}});
    }
  }
  // Six terms.
  Group g(EC_GROUP_new(EC_GF2m_simple_method()));
  EXPECT_EQ(EC_GROUP_set_curve_GF2m(g.get(), Hex("80000000000000000000000000000000000000F01").get(),
                                    Hex("1").get(), Hex("1").get(), nullptr),
            0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_GROUP_SET_CURVE, EC_R_UNSUPPORTED_FIELD}});
}

TEST(Ec2Field, CoefficientsReducedAndDiscriminant) {
  // GF(2^4) = GF(2)[x] / (x^4 + x + 1): a = x^4 = x + 1, b = x^5 + x^4 = x^2 + 1.
  Group g = Curve2m("13", "10", "30");
  ASSERT_TRUE(g);
  Bn p(BN_new()), a(BN_new()), b(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GF2m(g.get(), p.get(), a.get(), b.get(), nullptr), 1);
  EXPECT_EQ(Show(p.get()), "13");
  EXPECT_EQ(Show(a.get()), "03");
  EXPECT_EQ(Show(b.get()), "05");
  EXPECT_EQ(EC_GROUP_get_degree(g.get()), 4);
  EXPECT_EQ(EC_GROUP_check_discriminant(g.get(), nullptr), 1);
  EXPECT_EQ(EC_METHOD_get_field_type(EC_GROUP_method_of(g.get())), 407);
  // b = x^4 + x + 1 = 0: singular.
  Group z = Curve2m("13", "1", "13");
  ASSERT_TRUE(z);
  EXPECT_EQ(EC_GROUP_check_discriminant(z.get(), nullptr), 0);
  EXPECT_ERRORS({});
}

// ---- octets ------------------------------------------------------------------------

TEST(Ec2Octets, FormsAndLengths) {
  Group g = Named("sect163k1");
  ASSERT_TRUE(g);
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  const std::string enc = Encode(g.get(), gen);
  ASSERT_EQ(enc.size(), 2u * 43);
  EXPECT_EQ(enc.substr(0, 2), "04");
  Point back = Decode(g.get(), enc);
  ASSERT_TRUE(back);
  EXPECT_EQ(EC_POINT_cmp(g.get(), back.get(), gen, nullptr), 0);

  for (point_conversion_form_t form : {POINT_CONVERSION_COMPRESSED, POINT_CONVERSION_HYBRID}) {
    unsigned char buf[64];
    EXPECT_EQ(EC_POINT_point2oct(g.get(), gen, form, buf, sizeof buf, nullptr), 0u);
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_POINT2OCT, ERR_R_DISABLED}});
  }
  unsigned char buf[64];
  EXPECT_EQ(EC_POINT_point2oct(g.get(), gen, static_cast<point_conversion_form_t>(5), buf,
                               sizeof buf, nullptr),
            0u);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_POINT2OCT, EC_R_INVALID_FORM}});
  EXPECT_EQ(EC_POINT_point2oct(g.get(), gen, POINT_CONVERSION_UNCOMPRESSED, buf, 42, nullptr), 0u);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL}});

  // 42 and 44 bytes.
  for (const std::string& bad : {enc.substr(0, enc.size() - 2), enc + "00"}) {
    EXPECT_FALSE(Decode(g.get(), bad));
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
  }
  // Compressed input: the setter is disabled, and says so from its own file.
  for (const char* lead : {"02", "03"}) {
    EXPECT_FALSE(Decode(g.get(), lead + enc.substr(2, 42)));
    const char* file = nullptr;
    int line = 0;
    const unsigned long e = ERR_peek_error_line(&file, &line);
    EXPECT_EQ(ERR_GET_FUNC(e), EC_F_EC_GF2M_SIMPLE_SET_COMPRESSED_COORDINATES);
    EXPECT_EQ(ERR_GET_REASON(e), ERR_R_DISABLED);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file, "ec/ec2_smpt.c");
    ERR_clear_error();
  }
  Bn x(BN_new());
  Point p(EC_POINT_new(g.get()));
  EXPECT_EQ(EC_POINT_set_compressed_coordinates_GF2m(g.get(), p.get(), x.get(), 1, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_SET_COMPRESSED_COORDINATES, ERR_R_DISABLED}});
  // A y bit on the uncompressed form, an unknown form.
  for (const char* lead : {"05", "08", "01"}) {
    EXPECT_FALSE(Decode(g.get(), lead + enc.substr(2)));
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
  }
  EXPECT_EQ(EC_POINT_oct2point(g.get(), p.get(), buf, 0, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_BUFFER_TOO_SMALL}});
}

TEST(Ec2Octets, PointAtInfinity) {
  Group g = Named("sect163k1");
  ASSERT_TRUE(g);
  Point inf(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_set_to_infinity(g.get(), inf.get()), 1);
  EXPECT_EQ(Encode(g.get(), inf.get()), "00");
  unsigned char buf[1];
  EXPECT_EQ(EC_POINT_point2oct(g.get(), inf.get(), POINT_CONVERSION_UNCOMPRESSED, buf, 0, nullptr),
            0u);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL}});
  Point p = Decode(g.get(), "00");
  ASSERT_TRUE(p);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), p.get()), 1);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), p.get(), nullptr), 1);
  for (const char* bad : {"01", "0000", "0004"}) {
    EXPECT_FALSE(Decode(g.get(), bad)) << bad;
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
  }
  Bn x(BN_new()), y(BN_new());
  EXPECT_EQ(EC_POINT_get_affine_coordinates_GF2m(g.get(), inf.get(), x.get(), y.get(), nullptr), 0);
  EXPECT_ERRORS(
      {{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_POINT_GET_AFFINE_COORDINATES, EC_R_POINT_AT_INFINITY}});
}

TEST(Ec2Octets, HybridYBitIsLowBitOfYOverX) {
  Group g = Named("sect163k1");
  ASSERT_TRUE(g);
  Ctx ctx(BN_CTX_new());
  Bn p(BN_new()), x(BN_new()), y(BN_new()), q(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GF2m(g.get(), p.get(), nullptr, nullptr, nullptr), 1);
  int seen[2] = {0, 0};
  Point pt(EC_POINT_new(g.get()));
  for (int k = 1; k <= 8; k++) {
    ASSERT_EQ(EC_POINT_mul(g.get(), pt.get(), Hex(std::to_string(k)).get(), nullptr, nullptr,
                           nullptr),
              1);
    ASSERT_EQ(EC_POINT_get_affine_coordinates_GF2m(g.get(), pt.get(), x.get(), y.get(), nullptr), 1);
    ASSERT_EQ(BN_GF2m_mod_div(q.get(), y.get(), x.get(), p.get(), ctx.get()), 1);
    const int bit = BN_is_odd(q.get()) ? 1 : 0;
    seen[bit]++;
    const std::string body = Encode(g.get(), pt.get()).substr(2);
    Point ok = Decode(g.get(), (bit ? "07" : "06") + body);
    ASSERT_TRUE(ok) << k;
    EXPECT_EQ(EC_POINT_cmp(g.get(), ok.get(), pt.get(), nullptr), 0);
    EXPECT_FALSE(Decode(g.get(), (bit ? "06" : "07") + body)) << k;
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
  }
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  // x = 0 (the point of order 2, (0, sqrt(b))): the y bit is 0, and no
  // division is tried.  A y off the curve is refused for that reason.
  Bn b(BN_new()), root(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GF2m(g.get(), nullptr, nullptr, b.get(), nullptr), 1);
  ASSERT_EQ(BN_GF2m_mod_sqrt(root.get(), b.get(), p.get(), ctx.get()), 1);
  std::string yhex = Show(root.get());
  while (yhex.size() < 42) yhex = "0" + yhex;
  const std::string zero(42, '0');
  Point t = Decode(g.get(), "06" + zero + yhex);
  ASSERT_TRUE(t) << morvane_test::DrainErrors();
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), t.get(), nullptr), 1);
  EXPECT_FALSE(Decode(g.get(), "07" + zero + yhex));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
  EXPECT_FALSE(Decode(g.get(), "06" + zero + std::string(34, '0') + "CDDAA3D9"));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_POINT_IS_NOT_ON_CURVE}});
}

// A coordinate with a term of degree m is below the polynomial as a number
// but not a field element: the same point would have a second encoding.
TEST(Ec2Octets, UnreducedCoordinatesAreRefused) {
  // GF(2^4) with x^4 + x + 1 (0x13): x = 1 encodes also as 0x12, 2 as 0x11.
  Group g = Curve2m("13", "1", "6");
  ASSERT_TRUE(g);
  int tried = 0;
  for (unsigned long x = 1; x <= 3; x++) {
    const long y = FindY(g.get(), x);
    if (y < 0) continue;
    char good[48], twin[48], ytwin[48];
    snprintf(good, sizeof good, "04%02lX%02lX", x, static_cast<unsigned long>(y));
    snprintf(twin, sizeof twin, "04%02lX%02lX", x ^ 0x13, static_cast<unsigned long>(y));
    ASSERT_TRUE(Decode(g.get(), good)) << good;
    EXPECT_FALSE(Decode(g.get(), twin)) << twin;
    EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
    if ((static_cast<unsigned long>(y) ^ 0x13) < 0x13) {
      snprintf(ytwin, sizeof ytwin, "04%02lX%02lX", x, static_cast<unsigned long>(y) ^ 0x13);
      EXPECT_FALSE(Decode(g.get(), ytwin)) << ytwin;
      EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING}});
    }
    tried++;
  }
  EXPECT_GT(tried, 0);
  // The affine setter keeps what it is given.
  Point p(EC_POINT_new(g.get()));
  EXPECT_EQ(EC_POINT_set_affine_coordinates_GF2m(g.get(), p.get(), Hex("12").get(),
                                                 Hex("1F").get(), nullptr),
            1);
  Bn x(BN_new());
  ASSERT_EQ(EC_POINT_get_affine_coordinates_GF2m(g.get(), p.get(), x.get(), nullptr, nullptr), 1);
  EXPECT_EQ(Show(x.get()), "12");
  EXPECT_EQ(EC_POINT_set_affine_coordinates_GF2m(g.get(), p.get(), nullptr, x.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GF2M_SIMPLE_POINT_SET_AFFINE_COORDINATES,
                  ERR_R_PASSED_NULL_PARAMETER}});
}

// ---- arithmetic ----------------------------------------------------------------------

TEST(Ec2Arith, ExceptionalSums) {
  Group g = Named("sect163r2");
  ASSERT_TRUE(g);
  Ctx ctx(BN_CTX_new());
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  Point neg(EC_POINT_dup(gen, g.get())), r(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_invert(g.get(), neg.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), neg.get(), nullptr), 1);
  EXPECT_NE(EC_POINT_cmp(g.get(), neg.get(), gen, nullptr), 0);
  ASSERT_EQ(EC_POINT_add(g.get(), r.get(), gen, neg.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  // The point of order 2, (0, sqrt(b)): doubled it is the point at infinity.
  Bn p(BN_new()), b(BN_new()), y(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GF2m(g.get(), p.get(), nullptr, b.get(), nullptr), 1);
  ASSERT_EQ(BN_GF2m_mod_sqrt(y.get(), b.get(), p.get(), ctx.get()), 1);
  Point t(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_set_affine_coordinates_GF2m(g.get(), t.get(), Hex("0").get(), y.get(), nullptr),
            1);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), t.get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_dbl(g.get(), r.get(), t.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  // ... and it is its own inverse.
  Point ti(EC_POINT_dup(t.get(), g.get()));
  ASSERT_EQ(EC_POINT_invert(g.get(), ti.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), ti.get(), t.get(), nullptr), 0);
  // G + G = 2G by the doubling; G + 2G = 3G = 3 G.
  Point d(EC_POINT_new(g.get())), s(EC_POINT_new(g.get())), m3(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_add(g.get(), d.get(), gen, gen, nullptr), 1);
  ASSERT_EQ(EC_POINT_add(g.get(), s.get(), d.get(), gen, nullptr), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), m3.get(), Hex("3").get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), s.get(), m3.get(), nullptr), 0);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), s.get(), nullptr), 1);
  // A point off the curve.
  Point off(EC_POINT_dup(gen, g.get()));
  Bn gx(BN_new()), gy(BN_new());
  ASSERT_EQ(EC_POINT_get_affine_coordinates_GF2m(g.get(), gen, gx.get(), gy.get(), nullptr), 1);
  BN_GF2m_add(gy.get(), gy.get(), BN_value_one());
  ASSERT_EQ(EC_POINT_set_affine_coordinates_GF2m(g.get(), off.get(), gx.get(), gy.get(), nullptr),
            1);
  EXPECT_EQ(EC_POINT_is_on_curve(g.get(), off.get(), nullptr), 0);
  EXPECT_ERRORS({});
}

TEST(Ec2Arith, MultiplicationCases) {
  Group g = Named("sect233k1");
  ASSERT_TRUE(g);
  const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
  Bn n(BN_new());
  ASSERT_EQ(EC_GROUP_get_order(g.get(), n.get(), nullptr), 1);
  Point r(EC_POINT_new(g.get())), q(EC_POINT_new(g.get()));
  // Scalar 0 and no points; a null scalar and no points.
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), Hex("0").get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  ASSERT_EQ(EC_POINTs_mul(g.get(), r.get(), nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  // n G = O; (n - 1) G = -G.
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), n.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
  Bn n1(BN_dup(n.get()));
  BN_sub_word(n1.get(), 1);
  Point neg(EC_POINT_dup(gen, g.get()));
  ASSERT_EQ(EC_POINT_invert(g.get(), neg.get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), n1.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), neg.get(), nullptr), 0);
  // A negative scalar gives the inverse of the positive product.
  ASSERT_EQ(EC_POINT_mul(g.get(), q.get(), Hex("1234567").get(), nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), Hex("-1234567").get(), nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(EC_POINT_invert(g.get(), r.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), q.get(), nullptr), 0);
  // The result may be the point multiplied: r = k r.
  Point p(EC_POINT_dup(q.get(), g.get())), want(EC_POINT_new(g.get()));
  ASSERT_EQ(EC_POINT_mul(g.get(), want.get(), nullptr, q.get(), Hex("ABCDEF").get(), nullptr), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), p.get(), nullptr, p.get(), Hex("ABCDEF").get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), p.get(), want.get(), nullptr), 0);
  // ... and with a generator term: 5 G + 7 (1234567 G) = (5 + 7 * 1234567) G.
  Point sum(EC_POINT_dup(q.get(), g.get()));
  ASSERT_EQ(EC_POINT_mul(g.get(), sum.get(), Hex("5").get(), sum.get(), Hex("7").get(), nullptr),
            1);
  Bn k(BN_new());
  BN_set_word(k.get(), 5 + 7ul * 0x1234567ul);
  ASSERT_EQ(EC_POINT_mul(g.get(), want.get(), k.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), sum.get(), want.get(), nullptr), 0);
  // A group without generator.
  Group bare(EC_GROUP_new(EC_GF2m_simple_method()));
  Bn pp(BN_new()), a(BN_new()), b(BN_new());
  ASSERT_EQ(EC_GROUP_get_curve_GF2m(g.get(), pp.get(), a.get(), b.get(), nullptr), 1);
  ASSERT_EQ(EC_GROUP_set_curve_GF2m(bare.get(), pp.get(), a.get(), b.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_mul(bare.get(), r.get(), Hex("5").get(), nullptr, nullptr, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_POINTS_MUL, EC_R_UNDEFINED_GENERATOR}});
  EXPECT_ERRORS({});
}

// The ladder (fixed length, words), the windowed NAFs and the ladder over
// BIGNUMs (taken by scalars longer than m + 1 bits) give the same points:
// k G = wNAF(k G + 0 P) = (k + 2^(m+8) n) G.
class Ec2Ladder : public testing::TestWithParam<const char*> {};

TEST_P(Ec2Ladder, AgreesWithWnafAndLongScalars) {
  SplitMix64 rng{0x62696e617279ull};
  Ctx ctx(BN_CTX_new());
  {
    const char* sn = GetParam();
    Group g = Named(sn);
    ASSERT_TRUE(g) << sn;
    const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
    Bn n(BN_new()), big(BN_new());
    ASSERT_EQ(EC_GROUP_get_order(g.get(), n.get(), nullptr), 1);
    const int m = EC_GROUP_get_degree(g.get());
    BN_lshift(big.get(), n.get(), m + 8);
    // A second point: P = 7 G, for the point term.
    Point P(EC_POINT_new(g.get()));
    ASSERT_EQ(EC_POINT_mul(g.get(), P.get(), Hex("7").get(), nullptr, nullptr, nullptr), 1);
    std::vector<Bn> ks;
    for (const char* s : {"0", "1", "2", "3", "-1", "-5"}) ks.push_back(Hex(s));
    for (int d : {-1, 0, 1}) {
      Bn k(BN_dup(n.get()));
      BN_add_word(k.get(), 2);
      BN_sub_word(k.get(), static_cast<BN_ULONG>(2 - d));
      ks.push_back(std::move(k));
    }
    Bn ones(BN_new());
    BN_set_bit(ones.get(), m + 1);
    BN_sub_word(ones.get(), 1);  // m + 1 one bits
    ks.push_back(std::move(ones));
    for (int i = 0; i < (m > 300 ? 2 : 6); i++) {
      Bn k(BN_new());
      BN_rand_range(k.get(), n.get());
      if (rng.Next() & 1) BN_set_negative(k.get(), 1);
      ks.push_back(std::move(k));
    }
    for (size_t i = 0; i < ks.size(); i++) {
      const Bn& k = ks[i];
      SCOPED_TRACE(std::string(sn) + " k=" + Show(k.get()));
      Point a(EC_POINT_new(g.get())), b(EC_POINT_new(g.get())), c(EC_POINT_new(g.get()));
      Point pa(EC_POINT_new(g.get())), pb(EC_POINT_new(g.get()));
      ASSERT_EQ(EC_POINT_mul(g.get(), a.get(), k.get(), nullptr, nullptr, ctx.get()), 1);
      ASSERT_EQ(ec_wNAF_mul(g.get(), b.get(), k.get(), 0, nullptr, nullptr, ctx.get()), 1);
      Bn kl(BN_new());
      BN_add(kl.get(), k.get(), big.get());
      if (BN_is_negative(k.get())) BN_sub(kl.get(), k.get(), big.get());
      EXPECT_EQ(EC_POINT_cmp(g.get(), a.get(), b.get(), ctx.get()), 0);
      if (m < 300 || i % 3 == 0) {  // the long path is slow on the large fields
        ASSERT_EQ(EC_POINT_mul(g.get(), c.get(), kl.get(), nullptr, nullptr, ctx.get()), 1);
        EXPECT_EQ(EC_POINT_cmp(g.get(), a.get(), c.get(), ctx.get()), 0);
      }
      EXPECT_EQ(EC_POINT_is_on_curve(g.get(), a.get(), ctx.get()), 1);
      // The point term.
      const EC_POINT* pts[1] = {P.get()};
      const BIGNUM* scs[1] = {k.get()};
      ASSERT_EQ(EC_POINT_mul(g.get(), pa.get(), nullptr, P.get(), k.get(), ctx.get()), 1);
      ASSERT_EQ(ec_wNAF_mul(g.get(), pb.get(), nullptr, 1, pts, scs, ctx.get()), 1);
      EXPECT_EQ(EC_POINT_cmp(g.get(), pa.get(), pb.get(), ctx.get()), 0);
    }
    (void)gen;
  }
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(Curves, Ec2Ladder,
                         testing::Values("sect113r1", "sect163k1", "sect233r1", "sect283k1",
                                         "sect409r1", "sect571k1", "c2pnb163v1", "c2tnb431r1",
                                         "wap-wsg-idm-ecid-wtls1"),
                         [](const testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

// A field whose polynomial's second term lies less than 64 below m takes the
// BIGNUM ladder for every scalar; it agrees with the windowed NAFs too.
TEST(Ec2Arith, SmallFieldLadder) {
  // GF(2^7) = GF(2)[x] / (x^7 + x + 1); the curve y^2 + xy = x^3 + x^2 + 1.
  Group g = Curve2m("83", "1", "1");
  ASSERT_TRUE(g);
  unsigned long x = 2;
  long y = -1;
  while (x < 128 && (y = FindY(g.get(), x)) < 0) x++;
  ASSERT_GE(y, 0);
  Point P(EC_POINT_new(g.get()));
  Bn bx(BN_new()), by(BN_new());
  BN_set_word(bx.get(), static_cast<BN_ULONG>(x));
  BN_set_word(by.get(), static_cast<BN_ULONG>(y));
  ASSERT_EQ(EC_POINT_set_affine_coordinates_GF2m(g.get(), P.get(), bx.get(), by.get(), nullptr),
            1);
  // k P by repeated addition against the ladder and the windowed NAFs.
  Point acc(EC_POINT_new(g.get()));
  EC_POINT_set_to_infinity(g.get(), acc.get());
  for (unsigned k = 0; k < 300; k++) {
    Bn bk(BN_new());
    BN_set_word(bk.get(), k);
    Point a(EC_POINT_new(g.get())), b(EC_POINT_new(g.get()));
    const EC_POINT* pts[1] = {P.get()};
    const BIGNUM* scs[1] = {bk.get()};
    ASSERT_EQ(EC_POINT_mul(g.get(), a.get(), nullptr, P.get(), bk.get(), nullptr), 1);
    ASSERT_EQ(ec_wNAF_mul(g.get(), b.get(), nullptr, 1, pts, scs, nullptr), 1);
    EXPECT_EQ(EC_POINT_cmp(g.get(), a.get(), acc.get(), nullptr), 0) << k;
    EXPECT_EQ(EC_POINT_cmp(g.get(), b.get(), acc.get(), nullptr), 0) << k;
    ASSERT_EQ(EC_POINT_add(g.get(), acc.get(), acc.get(), P.get(), nullptr), 1);
  }
  EXPECT_ERRORS({});
}

TEST(Ec2Arith, PrecomputationServesGeneratorProducts) {
  Group g = Named("sect283r1");
  ASSERT_TRUE(g);
  Point before(EC_POINT_new(g.get())), after(EC_POINT_new(g.get())), w(EC_POINT_new(g.get()));
  Bn k = Hex("1F2E3D4C5B6A79881726354453627180ABCDEF0123456789");
  ASSERT_EQ(EC_POINT_mul(g.get(), before.get(), k.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 0);
  ASSERT_EQ(EC_GROUP_precompute_mult(g.get(), nullptr), 1);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(g.get()), 1);
  ASSERT_EQ(EC_POINT_mul(g.get(), after.get(), k.get(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), before.get(), after.get(), nullptr), 0);
  ASSERT_EQ(ec_wNAF_mul(g.get(), w.get(), k.get(), 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), before.get(), w.get(), nullptr), 0);
  // Two terms with the record: k G + k G.
  const EC_POINT* pts[1] = {EC_GROUP_get0_generator(g.get())};
  const BIGNUM* scs[1] = {k.get()};
  ASSERT_EQ(EC_POINTs_mul(g.get(), w.get(), k.get(), 1, pts, scs, nullptr), 1);
  ASSERT_EQ(EC_POINT_dbl(g.get(), after.get(), before.get(), nullptr), 1);
  EXPECT_EQ(EC_POINT_cmp(g.get(), after.get(), w.get(), nullptr), 0);
  // A copy keeps the record.
  Group copy(EC_GROUP_dup(g.get()));
  ASSERT_TRUE(copy);
  EXPECT_EQ(EC_GROUP_have_precompute_mult(copy.get()), 1);
  EXPECT_EQ(EC_GROUP_cmp(copy.get(), g.get(), nullptr), 0);
  EXPECT_ERRORS({});
}

// ---- the named binary curves, checked from the arithmetic -------------------------------

bool IsPrimeDivisor(int r, int m) {
  if (m % r != 0 || r < 2) return false;
  for (int d = 2; d * d <= r; d++)
    if (r % d == 0) return false;
  return true;
}

// x^(2^e) mod f.
Bn XPow2(int e, const BIGNUM* f, BN_CTX* ctx) {
  Bn v(BN_new());
  BN_set_word(v.get(), 2);
  for (int i = 0; i < e; i++) BN_GF2m_mod_sqr(v.get(), v.get(), f, ctx);
  return v;
}

// ANSI X9.62, A.3.3.2 (curves over GF(2^m)): the value W0 || W1 || ... || Ws
// of SHA-1 over the seed and its successors, of m bits.
Bn SeedValue(const unsigned char* seed, size_t len, int m) {
  const int s = (m - 1) / 160;
  const int h = m - 160 * s;
  std::vector<unsigned char> z(seed, seed + len), buf;
  unsigned char md[20];
  SHA1(z.data(), z.size(), md);
  Bn w(BN_bin2bn(md, 20, nullptr));
  BN_mask_bits(w.get(), h);
  for (int i = 1; i <= s; i++) {
    std::vector<unsigned char> zi = z;  // (seed + i) mod 2^g
    unsigned carry = static_cast<unsigned>(i);
    for (size_t j = zi.size(); j-- > 0 && carry != 0;) {
      const unsigned v = zi[j] + carry;
      zi[j] = static_cast<unsigned char>(v);
      carry = v >> 8;
    }
    SHA1(zi.data(), zi.size(), md);
    Bn wi(BN_bin2bn(md, 20, nullptr));
    BN_lshift(w.get(), w.get(), 160);
    BN_add(w.get(), w.get(), wi.get());
  }
  return w;
}

TEST(Ec2NamedCurves, DataFollowsFromTheArithmetic) {
  const size_t total = EC_get_builtin_curves(nullptr, 0);
  std::vector<EC_builtin_curve> all(total);
  ASSERT_EQ(EC_get_builtin_curves(all.data(), total), total);
  Ctx ctx(BN_CTX_new());
  int rows = 0, checked = 0;
  std::vector<const unsigned char*> seen_seeds;
  for (const EC_builtin_curve& c : all) {
    Group g(EC_GROUP_new_by_curve_name(c.nid));
    ASSERT_TRUE(g) << c.nid;
    if (EC_METHOD_get_field_type(EC_GROUP_method_of(g.get())) != 407) continue;
    rows++;
    const std::string sn = OBJ_nid2sn(c.nid);
    SCOPED_TRACE(sn);
    Bn f(BN_new()), a(BN_new()), b(BN_new()), n(BN_new()), h(BN_new());
    ASSERT_EQ(EC_GROUP_get_curve_GF2m(g.get(), f.get(), a.get(), b.get(), ctx.get()), 1);
    ASSERT_EQ(EC_GROUP_get_order(g.get(), n.get(), ctx.get()), 1);
    ASSERT_EQ(EC_GROUP_get_cofactor(g.get(), h.get(), ctx.get()), 1);
    const int m = EC_GROUP_get_degree(g.get());
    // The degree the comment states.
    const std::string comment = c.comment;
    EXPECT_NE(comment.find(std::to_string(m) + " bit"), std::string::npos) << comment;
    const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
    Point r(EC_POINT_new(g.get()));
    const bool oakley = sn.rfind("Oakley", 0) == 0;
    ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), n.get(), nullptr, nullptr, ctx.get()), 1);
    if (oakley) {
      // RFC 2409 gives these for key exchange only ("Not suitable for
      // ECDSA"): n G = O is looked at and reported, not required.
      const bool zero = EC_POINT_is_at_infinity(g.get(), r.get()) == 1;
      RecordProperty(sn + ".nG_is_O", zero ? "yes" : "no");
      if (!zero) printf("note: %s: n G is not the point at infinity\n", sn.c_str());
      checked++;
      continue;
    }
    EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
    EXPECT_EQ(EC_POINT_is_on_curve(g.get(), gen, ctx.get()), 1);
    EXPECT_FALSE(BN_is_zero(b.get()));
    EXPECT_EQ(EC_GROUP_check_discriminant(g.get(), ctx.get()), 1);
    // f irreducible of degree m: x^(2^m) = x mod f, and for each prime r
    // dividing m, x^(2^(m/r)) - x is prime to f (invertible modulo f).
    Bn x = XPow2(m, f.get(), ctx.get());
    EXPECT_TRUE(BN_is_word(x.get(), 2));
    for (int q = 2; q <= m; q++) {
      if (!IsPrimeDivisor(q, m)) continue;
      Bn t = XPow2(m / q, f.get(), ctx.get());
      Bn two(BN_new()), inv(BN_new());
      BN_set_word(two.get(), 2);
      BN_GF2m_add(t.get(), t.get(), two.get());
      EXPECT_FALSE(BN_is_zero(t.get())) << q;
      EXPECT_EQ(BN_GF2m_mod_inv(inv.get(), t.get(), f.get(), ctx.get()), 1) << q;
      ERR_clear_error();
    }
    // n prime (64 rounds) and |h n - (2^m + 1)| <= 2 * 2^(m/2).
    EXPECT_EQ(BN_is_prime_ex(n.get(), 64, ctx.get(), nullptr), 1);
    Bn t(BN_new()), q(BN_new()), bound(BN_new());
    BN_mul(t.get(), h.get(), n.get(), ctx.get());
    BN_set_bit(q.get(), m);
    BN_add_word(q.get(), 1);
    BN_sub(t.get(), t.get(), q.get());
    BN_sqr(t.get(), t.get(), ctx.get());  // (h n - 2^m - 1)^2 <= 4 2^m
    BN_set_bit(bound.get(), m + 2);
    EXPECT_LE(BN_cmp(t.get(), bound.get()), 0);
    // The seeded records whose b was derived in polynomial basis.
    const unsigned char* seed = EC_GROUP_get0_seed(g.get());
    const bool normal_basis = sn == "sect233r1" || sn == "sect283r1" || sn == "sect409r1" ||
                              sn == "sect571r1" || sn == "wap-wsg-idm-ecid-wtls11";
    if (seed != nullptr && !normal_basis) {
      Bn w = SeedValue(seed, EC_GROUP_get_seed_len(g.get()), m);
      EXPECT_EQ(BN_cmp(w.get(), b.get()), 0) << Show(w.get());
    }
    // The group's own check agrees.
    EXPECT_EQ(EC_GROUP_check(g.get(), ctx.get()), 1) << morvane_test::DrainErrors();
    checked++;
  }
  EXPECT_EQ(rows, 42);
  EXPECT_EQ(checked, 42);
  EXPECT_ERRORS({});
}

}  // namespace
