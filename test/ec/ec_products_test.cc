// Products on every prime-field named curve against the plain-integer model
// of tools/ec_model.py (test/data/ec/products.txt, SEC 1 affine arithmetic
// with Python integers): k Q and g G + k Q for edge scalars (1, 2, 3, 5, 6,
// n - 6, n - 1, n, n + 1, h n - 1, h n, -3, and ord(Q) - 1, ord(Q) + 1,
// ord(Q) / 2 for points of even order) and pseudo-random ones, Q the
// generator, a multiple of it and, on the curves of cofactor 4 (secp112r2,
// secp128r2), every point of the 2-power torsion (orders 2 and 4) and their
// sums with the other two (orders 2n and 4n).  The product goes through
// EC_POINT_mul (the constant-time engine where it serves) and through the
// windowed NAFs.  The same on a copy of each curve that no name matches
// (the isomorphic curve (2^4 a, 2^6 b), points (4 x, 8 y)) and, for the
// cofactor-4 curves, on one with the named parameters but no name, with the
// cofactor given (and, where it is 4, unknown and wrong); and
// EC_KEY_check_key ("wrong order") and ECDH_compute_key refuse every point
// outside the group of the generator.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

// The prime-field records of the named-curve table, one test each.
constexpr const char* kRecords[] = {
    "secp112r1",  "secp112r2",  "secp128r1",  "secp128r2",  "secp160k1",  "secp160r1",
    "secp160r2",  "secp192k1",  "secp224k1",  "secp224r1",  "secp256k1",  "secp384r1",
    "secp521r1",  "prime192v1", "prime192v2", "prime192v3", "prime239v1", "prime239v2",
    "prime239v3", "prime256v1", "wtls8",      "wtls9",      "wtls12"};

struct ModelPoint {
  int nid = 0;
  std::string label, point;
  bool subgroup = false;
};
struct ModelProduct {
  std::string label, g, k, result;
};
struct ModelCurve {
  std::vector<ModelPoint> points;
  std::vector<ModelProduct> products;
};

const std::map<std::string, ModelCurve>& Model() {
  static const std::map<std::string, ModelCurve> model = [] {
    std::map<std::string, ModelCurve> m;
    for (const morvane_test::RspRecord& r :
         morvane_test::ReadRsp(morvane_test::TestDataFile("ec/products.txt"))) {
      ModelCurve& c = m[r.Get("curve")];
      if (r.section.count("points") != 0) {
        c.points.push_back(ModelPoint{std::stoi(r.Get("nid")), r.Get("label"), r.Get("point"),
                                      r.Get("subgroup") == "1"});
      } else {
        c.products.push_back(ModelProduct{r.Get("label"), r.Has("g") ? r.Get("g") : "", r.Get("k"),
                                          r.Get("result")});
      }
    }
    return m;
  }();
  return model;
}

// A group and its points by label, and the map from the named curve's
// points to it: (x, y) -> (s2 x, s3 y).  For the named group itself s2 and
// s3 are null (the identity).
struct Setting {
  const EC_GROUP* g = nullptr;
  const BIGNUM* s2 = nullptr;
  const BIGNUM* s3 = nullptr;
  const BIGNUM* p = nullptr;
};

// The point of `named` carried into the setting's group.
Point Carry(const EC_GROUP* named, const EC_POINT* q, const Setting& s, bool inverse,
            const BIGNUM* s2inv = nullptr, const BIGNUM* s3inv = nullptr) {
  const EC_GROUP* from = inverse ? s.g : named;
  const EC_GROUP* to = inverse ? named : s.g;
  Point out(EC_POINT_new(to));
  if (EC_POINT_is_at_infinity(from, q)) {
    EC_POINT_set_to_infinity(to, out.get());
    return out;
  }
  Bn x(BN_new()), y(BN_new());
  Ctx ctx(BN_CTX_new());
  if (!EC_POINT_get_affine_coordinates_GFp(from, q, x.get(), y.get(), ctx.get()) ||
      !BN_mod_mul(x.get(), x.get(), inverse ? s2inv : s.s2, s.p, ctx.get()) ||
      !BN_mod_mul(y.get(), y.get(), inverse ? s3inv : s.s3, s.p, ctx.get()) ||
      !EC_POINT_set_affine_coordinates_GFp(to, out.get(), x.get(), y.get(), ctx.get()))
    return nullptr;
  return out;
}

// Every product of the curve's model records in the setting's group,
// through EC_POINT_mul and ec_wNAF_mul; results are carried back to the
// named curve and compared as compressed octets.
void ExpectProducts(const char* name, const EC_GROUP* named, const Setting& s) {
  const ModelCurve& c = Model().at(name);
  Bn s2inv(BN_new()), s3inv(BN_new());
  if (s.s2 != nullptr) {
    Ctx ctx(BN_CTX_new());
    ASSERT_TRUE(BN_mod_inverse(s2inv.get(), s.s2, s.p, ctx.get()));
    ASSERT_TRUE(BN_mod_inverse(s3inv.get(), s.s3, s.p, ctx.get()));
  }
  std::map<std::string, Point> points;
  for (const ModelPoint& mp : c.points) {
    Point q = Decode(named, mp.point);
    ASSERT_TRUE(q) << mp.label;
    points[mp.label] = s.s2 == nullptr ? std::move(q) : Carry(named, q.get(), s, false);
    ASSERT_TRUE(points[mp.label]) << mp.label;
  }
  const EC_GROUP* g = s.g;
  auto back = [&](const EC_POINT* r) {
    if (s.s2 == nullptr) return Encode(g, r, POINT_CONVERSION_COMPRESSED);
    Point q = Carry(named, r, s, true, s2inv.get(), s3inv.get());
    return q ? Encode(named, q.get(), POINT_CONVERSION_COMPRESSED) : std::string("?");
  };
  Point r(EC_POINT_new(g));
  for (const ModelProduct& mp : c.products) {
    const EC_POINT* q = points.at(mp.label).get();
    const Bn k = Hex(mp.k);
    const std::string what = std::string(name) + " " + mp.label + " k=" + mp.k + " g=" + mp.g;
    const EC_POINT* pts[1] = {q};
    const BIGNUM* ks[1] = {k.get()};
    if (mp.g.empty()) {
      ASSERT_EQ(EC_POINT_mul(g, r.get(), nullptr, q, k.get(), nullptr), 1) << what;
      EXPECT_EQ(back(r.get()), mp.result) << what;
      if (mp.label == "G") {
        ASSERT_EQ(EC_POINT_mul(g, r.get(), k.get(), nullptr, nullptr, nullptr), 1) << what;
        EXPECT_EQ(back(r.get()), mp.result) << what << " (generator term)";
      }
      ASSERT_EQ(ec_wNAF_mul(g, r.get(), nullptr, 1, pts, ks, nullptr), 1) << what;
      EXPECT_EQ(back(r.get()), mp.result) << what << " (windowed NAF)";
    } else {
      const Bn gk = Hex(mp.g);
      ASSERT_EQ(EC_POINT_mul(g, r.get(), gk.get(), q, k.get(), nullptr), 1) << what;
      EXPECT_EQ(back(r.get()), mp.result) << what;
      ASSERT_EQ(ec_wNAF_mul(g, r.get(), gk.get(), 1, pts, ks, nullptr), 1) << what;
      EXPECT_EQ(back(r.get()), mp.result) << what << " (windowed NAF)";
    }
  }
}

class EcProducts : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_EQ(Model().count(GetParam()), 1u) << "no model records";
    named.reset(EC_GROUP_new_by_curve_name(Model().at(GetParam()).points.at(0).nid));
    ASSERT_TRUE(named);
  }
  Group named;
};

TEST_P(EcProducts, AgreeWithTheModel) {
  ExpectProducts(GetParam(), named.get(), Setting{named.get()});
  EXPECT_ERRORS({});
}

// The named curve's parameters without its name (recognised from the
// table), and a curve isomorphic to it whose parameters match no name, so
// that nothing about it is known from the table: (2^4 a, 2^6 b), with the
// generator carried over.  The cofactor as given (null: unknown).
TEST_P(EcProducts, UnnamedCopyAgreesWithTheModel) {
  Ctx ctx(BN_CTX_new());
  Bn p(BN_new()), a(BN_new()), b(BN_new()), n(BN_new()), h(BN_new());
  ASSERT_TRUE(EC_GROUP_get_curve_GFp(named.get(), p.get(), a.get(), b.get(), ctx.get()));
  ASSERT_TRUE(EC_GROUP_get_order(named.get(), n.get(), ctx.get()));
  ASSERT_TRUE(EC_GROUP_get_cofactor(named.get(), h.get(), ctx.get()));
  const bool odd = BN_is_one(h.get());
  const Bn one = Hex("1");
  for (int u : {1, 2}) {
    // Same parameters without a name: only where the table's cofactor
    // matters (a curve of even order).
    if (u == 1 && odd) continue;
    Bn s2(BN_new()), s3(BN_new()), a2(BN_new()), b2(BN_new()), t(BN_new());
    ASSERT_TRUE(BN_set_word(s2.get(), static_cast<BN_ULONG>(u * u)));
    ASSERT_TRUE(BN_set_word(s3.get(), static_cast<BN_ULONG>(u * u * u)));
    ASSERT_TRUE(BN_mod_sqr(t.get(), s2.get(), p.get(), ctx.get()));  // u^4
    ASSERT_TRUE(BN_mod_mul(a2.get(), a.get(), t.get(), p.get(), ctx.get()));
    ASSERT_TRUE(BN_mod_sqr(t.get(), s3.get(), p.get(), ctx.get()));  // u^6
    ASSERT_TRUE(BN_mod_mul(b2.get(), b.get(), t.get(), p.get(), ctx.get()));
    // On a curve of even order also unknown and wrong cofactors (the split
    // of the points must not rest on them).
    const BIGNUM* cofactors[] = {h.get(), nullptr, one.get()};
    for (const BIGNUM* cofactor : cofactors) {
      if (cofactor != h.get() && odd) continue;
      Group copy(EC_GROUP_new_curve_GFp(p.get(), a2.get(), b2.get(), ctx.get()));
      ASSERT_TRUE(copy);
      const Setting s{copy.get(), s2.get(), s3.get(), p.get()};
      Point gen = Carry(named.get(), EC_GROUP_get0_generator(named.get()), s, false);
      ASSERT_TRUE(gen);
      ASSERT_TRUE(EC_GROUP_set_generator(copy.get(), gen.get(), n.get(), cofactor));
      SCOPED_TRACE("u = " + std::to_string(u) + ", " +
                   (cofactor == nullptr ? "cofactor unknown" : "cofactor " + Show(cofactor)));
      ExpectProducts(GetParam(), named.get(), s);
    }
  }
  EXPECT_ERRORS({});
}

// Every point of the model outside the generator's group (order 2, 4, 2n,
// 4n) is refused as a public key and as an ECDH peer's point; the others
// are taken.
TEST_P(EcProducts, PointsOutsideTheSubgroupAreRefused) {
  EC_KEY* own = EC_KEY_new();
  ASSERT_NE(own, nullptr);
  ASSERT_EQ(EC_KEY_set_group(own, named.get()), 1);
  ASSERT_EQ(EC_KEY_generate_key(own), 1);
  unsigned char secret[80];
  for (const ModelPoint& mp : Model().at(GetParam()).points) {
    EC_KEY* key = EC_KEY_new();
    ASSERT_NE(key, nullptr);
    Point q = Decode(named.get(), mp.point);
    ASSERT_TRUE(q);
    ASSERT_EQ(EC_KEY_set_group(key, named.get()), 1);
    ASSERT_EQ(EC_KEY_set_public_key(key, q.get()), 1);
    const int agreed = ECDH_compute_key(secret, sizeof secret, q.get(), own, nullptr);
    if (mp.subgroup) {
      EXPECT_EQ(EC_KEY_check_key(key), 1) << mp.label;
      EXPECT_GT(agreed, 0) << mp.label;
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(agreed, -1) << mp.label;
      EXPECT_EQ(EC_KEY_check_key(key), 0) << mp.label;
      EXPECT_ERRORS({{ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_POINT_ARITHMETIC_FAILURE},
                     {ERR_LIB_EC, EC_F_EC_KEY_CHECK_KEY, EC_R_WRONG_ORDER}})
          << mp.label;
    }
    EC_KEY_free(key);
  }
  EC_KEY_free(own);
}

INSTANTIATE_TEST_SUITE_P(PrimeRecords, EcProducts, testing::ValuesIn(kRecords),
                         [](const auto& info) { return std::string(info.param); });

// y^2 = x^3 - x and y^2 = x^3 + x over the P-256 prime (p = 3 mod 4): both
// supersingular, of order p + 1, whose 2-power part is 2^96, with three
// points of order 2 and one.  Nothing names them; the order is stated as
// p + 1 (cofactor 1).  Products of a point of order 2, of a point of large
// order and of their sum agree with the windowed NAFs, and (p + 1) Q is
// the point at infinity.
TEST(EcTorsion, CurvesWithLargeTwoPowerPart) {
  Ctx ctx(BN_CTX_new());
  const Bn p = Hex("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
  Bn order(BN_dup(p.get()));
  ASSERT_TRUE(BN_add_word(order.get(), 1));
  Bn minus1(BN_dup(p.get()));
  ASSERT_TRUE(BN_sub_word(minus1.get(), 1));
  const Bn one = Hex("1"), zero = Hex("0");
  const BIGNUM* coefficients[] = {minus1.get(), one.get()};  // a; b = 0
  for (const BIGNUM* a : coefficients) {
    Group g(EC_GROUP_new_curve_GFp(p.get(), a, zero.get(), ctx.get()));
    ASSERT_TRUE(g);
    Point t(EC_POINT_new(g.get())), big(EC_POINT_new(g.get())), sum(EC_POINT_new(g.get()));
    ASSERT_TRUE(
        EC_POINT_set_affine_coordinates_GFp(g.get(), t.get(), zero.get(), zero.get(), ctx.get()));
    bool found = false;
    for (BN_ULONG x = 2; !found && x < 100; x++) {
      Bn bx(BN_new());
      ASSERT_TRUE(BN_set_word(bx.get(), x));
      found =
          EC_POINT_set_compressed_coordinates_GFp(g.get(), big.get(), bx.get(), 0, ctx.get()) == 1;
    }
    ERR_clear_error();
    ASSERT_TRUE(found);
    ASSERT_TRUE(EC_GROUP_set_generator(g.get(), big.get(), order.get(), one.get()));
    ASSERT_TRUE(EC_POINT_add(g.get(), sum.get(), big.get(), t.get(), ctx.get()));
    Point r(EC_POINT_new(g.get())), want(EC_POINT_new(g.get()));
    SplitMix64 rng{0x2A};
    std::vector<Bn> scalars;
    for (const char* k : {"1", "2", "3", "-1"}) scalars.push_back(Hex(k));
    scalars.push_back(Bn(BN_dup(order.get())));
    for (int i = 0; i < 4; i++) {
      Bn k(BN_new());
      ASSERT_TRUE(BN_pseudo_rand(k.get(), 1 + static_cast<int>(rng.Next() % 256), 0, 0));
      scalars.push_back(std::move(k));
    }
    const EC_POINT* bases[] = {t.get(), big.get(), sum.get()};
    for (const EC_POINT* base : bases) {
      for (const Bn& k : scalars) {
        const EC_POINT* pts[1] = {base};
        const BIGNUM* ks[1] = {k.get()};
        ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), nullptr, base, k.get(), ctx.get()), 1);
        ASSERT_EQ(ec_wNAF_mul(g.get(), want.get(), nullptr, 1, pts, ks, ctx.get()), 1);
        EXPECT_EQ(Encode(g.get(), r.get()), Encode(g.get(), want.get())) << Show(k.get());
      }
      ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), nullptr, base, order.get(), ctx.get()), 1);
      EXPECT_TRUE(EC_POINT_is_at_infinity(g.get(), r.get()));
    }
    // 1 T and 3 T are T.
    for (const char* k : {"1", "3"}) {
      ASSERT_EQ(EC_POINT_mul(g.get(), r.get(), nullptr, t.get(), Hex(k).get(), ctx.get()), 1);
      EXPECT_EQ(EC_POINT_cmp(g.get(), r.get(), t.get(), ctx.get()), 0) << k;
    }
  }
  EXPECT_ERRORS({});
}

}  // namespace
