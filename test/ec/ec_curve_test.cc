// The named-curve table: building groups by NID, the list of curves, and a
// check of every prime-field record from the arithmetic.
//
// The data check needs no expected values: each record must describe a
// sound curve (p prime of the stated size, non-zero discriminant, G on the
// curve, n G = O, n prime, h n within the Hasse bound of p + 1, which pins n
// and h), and a seeded record's b must follow from its seed by the
// verifiably-random procedure of ANSI X9.62 (A.3.3.1, with SHA-1).  A failure
// here sends the record back to its source document.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/sha.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

constexpr int kPrimeField = 406;

std::vector<EC_builtin_curve> AllCurves() {
  std::vector<EC_builtin_curve> list(EC_get_builtin_curves(nullptr, 0));
  EC_get_builtin_curves(list.data(), list.size());
  return list;
}

// The field size the comment states ("... over a 256 bit prime field").
int StatedBits(const char* comment) {
  const char* at = std::strstr(comment, "over a ");
  return at == nullptr ? -1 : std::atoi(at + 7);
}

TEST(EcCurve, NidsBelowOneGiveNullWithNothingQueued) {
  for (int nid : {0, -5}) {
    EXPECT_EQ(EC_GROUP_new_by_curve_name(nid), nullptr);
    EXPECT_ERRORS({});
  }
}

TEST(EcCurve, NidOfNoCurveIsUnknownGroup) {
  EXPECT_EQ(EC_GROUP_new_by_curve_name(408), nullptr);
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_GROUP_NEW_BY_CURVE_NAME, EC_R_UNKNOWN_GROUP}});
}

struct NamedCase {
  int nid;
  const EC_METHOD* (*meth)(void);
  int degree;
  size_t seed_len;
};

TEST(EcCurve, NamedGroupsCarryTheirParameters) {
  const NamedCase cases[] = {
      {415, EC_GFp_nist_method, 256, 20},  // prime256v1
      {714, EC_GFp_mont_method, 256, 0},   // secp256k1
      {713, EC_GFp_nist_method, 224, 20},  // secp224r1
      {745, EC_GFp_nist_method, 224, 0},   // wtls12: the P-224 prime, no seed
      {716, EC_GFp_nist_method, 521, 20},  // secp521r1
      {704, EC_GFp_mont_method, 112, 20},  // secp112r1
      {739, EC_GFp_mont_method, 112, 20},  // wtls6, the record of secp112r1
  };
  for (const NamedCase& c : cases) {
    SCOPED_TRACE(c.nid);
    Group g(EC_GROUP_new_by_curve_name(c.nid));
    ASSERT_TRUE(g);
    EXPECT_EQ(EC_GROUP_method_of(g.get()), c.meth());
    EXPECT_EQ(EC_GROUP_get_degree(g.get()), c.degree);
    EXPECT_EQ(EC_GROUP_get_seed_len(g.get()), c.seed_len);
    EXPECT_EQ(EC_GROUP_get0_seed(g.get()) == nullptr, c.seed_len == 0);
    EXPECT_EQ(EC_GROUP_get_curve_name(g.get()), c.nid);
    EXPECT_EQ(EC_GROUP_get_asn1_flag(g.get()), 0);
    EXPECT_EQ(EC_GROUP_get_point_conversion_form(g.get()), POINT_CONVERSION_UNCOMPRESSED);
    Bn h(BN_new());
    ASSERT_TRUE(EC_GROUP_get_cofactor(g.get(), h.get(), nullptr));
    EXPECT_TRUE(BN_is_one(h.get()));
  }
  EXPECT_ERRORS({});
}

TEST(EcCurve, SharedRecordsGiveEqualGroupsUnderTheirOwnNames) {
  // wtls6 and secp112r1, wtls7 and secp160r2 share their records.
  for (auto [a, b] : {std::pair{739, 704}, std::pair{740, 710}}) {
    Group ga(EC_GROUP_new_by_curve_name(a)), gb(EC_GROUP_new_by_curve_name(b));
    ASSERT_TRUE(ga && gb);
    EXPECT_EQ(EC_GROUP_cmp(ga.get(), gb.get(), nullptr), 0);
    EXPECT_EQ(EC_GROUP_get_curve_name(ga.get()), a);
    ASSERT_EQ(EC_GROUP_get_seed_len(ga.get()), EC_GROUP_get_seed_len(gb.get()));
    EXPECT_EQ(std::memcmp(EC_GROUP_get0_seed(ga.get()), EC_GROUP_get0_seed(gb.get()),
                          EC_GROUP_get_seed_len(ga.get())),
              0);
  }
}

TEST(EcCurve, BinaryRowsBuildWithTheBinaryMethod) {
  // sect113r1 and wtls4 (one record).
  Group a(EC_GROUP_new_by_curve_name(717)), b(EC_GROUP_new_by_curve_name(737));
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  EXPECT_EQ(EC_GROUP_method_of(a.get()), EC_GF2m_simple_method());
  EXPECT_EQ(EC_GROUP_cmp(a.get(), b.get(), nullptr), 0);
  EXPECT_ERRORS({});
}

TEST(EcCurve, BuiltinListHas67RowsInTableOrder) {
  EXPECT_EQ(EC_get_builtin_curves(nullptr, 0), 67u);
  EXPECT_EQ(EC_get_builtin_curves(nullptr, 5), 67u);
  EC_builtin_curve five[6] = {};
  five[5].nid = -1;
  EXPECT_EQ(EC_get_builtin_curves(five, 5), 67u);
  for (int i = 0; i < 5; i++) EXPECT_EQ(five[i].nid, 704 + i);
  EXPECT_EQ(five[5].nid, -1);  // untouched
  EXPECT_STREQ(five[0].comment, "SECG/WTLS curve over a 112 bit prime field");

  const std::vector<EC_builtin_curve> all = AllCurves();
  ASSERT_EQ(all.size(), 67u);
  EXPECT_EQ(all[19].nid, 415);
  EXPECT_EQ(all[66].nid, 750);
  EXPECT_STREQ(all[64].comment, "WTLS curvs over a 224 bit prime field");
  EXPECT_EQ(std::strncmp(all[66].comment, "\n\t", 2), 0);
  EXPECT_STREQ(all[65].comment,
               "\n\tIPSec/IKE/Oakley curve #3 over a 155 bit binary field.\n"
               "\tNot suitable for ECDSA.\n\tQuestionable extension field!");
  // Shared records share their comments.
  EXPECT_EQ(all[58].comment, all[0].comment);  // wtls6, secp112r1
  int prime = 0;
  for (const EC_builtin_curve& c : all) prime += std::strstr(c.comment, "prime field") != nullptr;
  EXPECT_EQ(prime, 25);
}

// ANSI X9.62, A.3.3.1: the t-bit W from the seed (leftmost bit of W0 set to
// 0), with t the bit length of p.
Bn SeedValue(const unsigned char* seed, size_t len, int t) {
  const int s = (t - 1) / 160, v = t - 160 * s;
  unsigned char h[SHA_DIGEST_LENGTH];
  SHA1(seed, len, h);
  Bn w(BN_bin2bn(h, sizeof h, nullptr));
  BN_mask_bits(w.get(), v - 1);
  std::vector<unsigned char> z(seed, seed + len);
  for (int i = 1; i <= s; i++) {
    for (size_t j = len; j-- > 0;)  // z + 1 mod 2^g
      if (++z[j] != 0) break;
    SHA1(z.data(), z.size(), h);
    Bn part(BN_bin2bn(h, sizeof h, nullptr));
    BN_lshift(w.get(), w.get(), 160);
    BN_add(w.get(), w.get(), part.get());
  }
  return w;
}

TEST(EcCurve, EveryPrimeRecordIsASoundCurve) {
  Ctx ctx(BN_CTX_new());
  int checked = 0;
  for (const EC_builtin_curve& row : AllCurves()) {
    SCOPED_TRACE(row.nid);
    Group g(EC_GROUP_new_by_curve_name(row.nid));
    ASSERT_TRUE(g);
    if (EC_METHOD_get_field_type(EC_GROUP_method_of(g.get())) != kPrimeField) {
      EXPECT_EQ(std::strstr(row.comment, "prime field"), nullptr);
      continue;  // the binary rows: test/ec/ec2_test.cc
    }
    checked++;
    Bn p(BN_new()), a(BN_new()), b(BN_new()), n(BN_new()), h(BN_new()), t(BN_new()), u(BN_new());
    ASSERT_TRUE(EC_GROUP_get_curve_GFp(g.get(), p.get(), a.get(), b.get(), ctx.get()));
    ASSERT_TRUE(EC_GROUP_get_order(g.get(), n.get(), ctx.get()));
    ASSERT_TRUE(EC_GROUP_get_cofactor(g.get(), h.get(), ctx.get()));
    EXPECT_EQ(BN_num_bits(p.get()), StatedBits(row.comment));
    EXPECT_EQ(BN_is_prime_ex(p.get(), 64, ctx.get(), nullptr), 1);
    EXPECT_EQ(BN_is_prime_ex(n.get(), 64, ctx.get(), nullptr), 1);
    EXPECT_EQ(EC_GROUP_check_discriminant(g.get(), ctx.get()), 1);  // 4a^3 + 27b^2 != 0
    const EC_POINT* gen = EC_GROUP_get0_generator(g.get());
    EXPECT_EQ(EC_POINT_is_on_curve(g.get(), gen, ctx.get()), 1);
    Point r(EC_POINT_new(g.get()));
    ASSERT_TRUE(EC_POINT_mul(g.get(), r.get(), n.get(), nullptr, nullptr, ctx.get()));
    EXPECT_EQ(EC_POINT_is_at_infinity(g.get(), r.get()), 1);
    // (h n - (p + 1))^2 <= 4 p
    ASSERT_TRUE(BN_mul(t.get(), h.get(), n.get(), ctx.get()));
    ASSERT_TRUE(BN_sub(t.get(), t.get(), p.get()));
    ASSERT_TRUE(BN_sub_word(t.get(), 1));
    ASSERT_TRUE(BN_sqr(t.get(), t.get(), ctx.get()));
    ASSERT_TRUE(BN_lshift(u.get(), p.get(), 2));
    EXPECT_LE(BN_cmp(t.get(), u.get()), 0) << "h n outside the Hasse bound";
    if (EC_GROUP_get0_seed(g.get()) != nullptr) {
      // r b^2 = a^3 (mod p)
      Bn w = SeedValue(EC_GROUP_get0_seed(g.get()), EC_GROUP_get_seed_len(g.get()),
                       BN_num_bits(p.get()));
      ASSERT_TRUE(BN_mod_sqr(t.get(), b.get(), p.get(), ctx.get()));
      ASSERT_TRUE(BN_mod_mul(t.get(), t.get(), w.get(), p.get(), ctx.get()));
      ASSERT_TRUE(BN_mod_sqr(u.get(), a.get(), p.get(), ctx.get()));
      ASSERT_TRUE(BN_mod_mul(u.get(), u.get(), a.get(), p.get(), ctx.get()));
      EXPECT_EQ(BN_cmp(t.get(), u.get()), 0) << "b does not follow from the seed";
    }
  }
  EXPECT_EQ(checked, 25);
  EXPECT_ERRORS({});
}

}  // namespace
