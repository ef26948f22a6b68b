// Binary curves through the key encodings and ECDH:
// - every binary named curve: explicit parameters (trinomial or pentanomial
//   basis) encode, decode and compare equal; a generated key's private DER
//   and public octets read back to the same key;
// - the raw ECDH secret of a 163-bit curve is 21 bytes;
// - NIST CAVP KAS ECC CDH primitive (SP 800-56A, 5.7.1.2, the cofactor
//   primitive), K and B rows: ZIUT = x(h dIUT QCAVS) over ceil(m/8) bytes,
//   QIUT = dIUT G.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using ec_test::Bn;
using ec_test::Group;
using ec_test::Hex;
using ec_test::Point;
using morvane_test::Bytes;

struct KeyFree {
  void operator()(EC_KEY* k) const { EC_KEY_free(k); }
};
using Key = std::unique_ptr<EC_KEY, KeyFree>;

Bytes Der(const EC_GROUP* g) {
  const int n = i2d_ECPKParameters(g, nullptr);
  if (n <= 0) return {};
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  EXPECT_EQ(i2d_ECPKParameters(g, &p), n);
  return out;
}

TEST(Ec2Encodings, ExplicitParametersAndKeysRoundTrip) {
  std::vector<EC_builtin_curve> curves(EC_get_builtin_curves(nullptr, 0));
  EC_get_builtin_curves(curves.data(), curves.size());
  int binary = 0, trinomial = 0, pentanomial = 0;
  for (const EC_builtin_curve& c : curves) {
    Group g(EC_GROUP_new_by_curve_name(c.nid));
    ASSERT_TRUE(g) << c.nid;
    if (EC_METHOD_get_field_type(EC_GROUP_method_of(g.get())) != 407) continue;
    const std::string sn = OBJ_nid2sn(c.nid);
    SCOPED_TRACE(sn);
    binary++;
    unsigned int k = 0, k1 = 0, k2 = 0, k3 = 0;
    const int basis = EC_GROUP_get_basis_type(g.get());
    if (basis == 682) {  // tpBasis
      EXPECT_EQ(EC_GROUP_get_trinomial_basis(g.get(), &k), 1);
      EXPECT_GT(k, 0u);
      trinomial++;
    } else {
      ASSERT_EQ(basis, 683);  // ppBasis
      EXPECT_EQ(EC_GROUP_get_pentanomial_basis(g.get(), &k1, &k2, &k3), 1);
      EXPECT_TRUE(0 < k1 && k1 < k2 && k2 < k3);
      pentanomial++;
    }
    EC_GROUP_set_asn1_flag(g.get(), 0);
    const Bytes der = Der(g.get());
    ASSERT_FALSE(der.empty()) << morvane_test::DrainErrors();
    const unsigned char* p = der.data();
    Group back(d2i_ECPKParameters(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back) << morvane_test::DrainErrors();
    EXPECT_EQ(EC_GROUP_cmp(g.get(), back.get(), nullptr), 0);
    EXPECT_EQ(Der(back.get()), der);

    // A key: private DER and public octets.
    Key key(EC_KEY_new());
    ASSERT_EQ(EC_KEY_set_group(key.get(), g.get()), 1);
    ASSERT_EQ(EC_KEY_generate_key(key.get()), 1);
    const int n = i2d_ECPrivateKey(key.get(), nullptr);
    ASSERT_GT(n, 0) << morvane_test::DrainErrors();
    Bytes priv(static_cast<size_t>(n));
    unsigned char* q = priv.data();
    ASSERT_EQ(i2d_ECPrivateKey(key.get(), &q), n);
    p = priv.data();
    Key read(d2i_ECPrivateKey(nullptr, &p, static_cast<long>(priv.size())));
    ASSERT_TRUE(read) << morvane_test::DrainErrors();
    EXPECT_EQ(BN_cmp(EC_KEY_get0_private_key(read.get()), EC_KEY_get0_private_key(key.get())), 0);
    ASSERT_NE(EC_KEY_get0_public_key(read.get()), nullptr);
    EXPECT_EQ(EC_POINT_cmp(g.get(), EC_KEY_get0_public_key(read.get()),
                           EC_KEY_get0_public_key(key.get()), nullptr),
              0);
    const int m = i2o_ECPublicKey(key.get(), nullptr);
    EXPECT_EQ(m, 1 + 2 * ((EC_GROUP_get_degree(g.get()) + 7) / 8));
    Bytes pub(static_cast<size_t>(m));
    q = pub.data();
    ASSERT_EQ(i2o_ECPublicKey(key.get(), &q), m);
    Key other(EC_KEY_new());
    ASSERT_EQ(EC_KEY_set_group(other.get(), g.get()), 1);
    EC_KEY* op = other.get();
    p = pub.data();
    ASSERT_NE(o2i_ECPublicKey(&op, &p, static_cast<long>(pub.size())), nullptr);
    EXPECT_EQ(EC_POINT_cmp(g.get(), EC_KEY_get0_public_key(other.get()),
                           EC_KEY_get0_public_key(key.get()), nullptr),
              0);
    EXPECT_EQ(EC_KEY_check_key(key.get()), 1) << morvane_test::DrainErrors();
  }
  EXPECT_EQ(binary, 42);
  EXPECT_GT(trinomial, 0);
  EXPECT_GT(pentanomial, 0);
  EXPECT_TRUE(morvane_test::ErrorsAre({}));
}

// The raw secret is x(d Q) in ceil(m/8) bytes: 21 on a 163-bit curve, also
// when more room is given.
TEST(Ec2Ecdh, SecretOfA163BitCurveIs21Bytes) {
  Key a(EC_KEY_new_by_curve_name(OBJ_sn2nid("sect163k1")));
  Key b(EC_KEY_new_by_curve_name(OBJ_sn2nid("sect163k1")));
  ASSERT_EQ(EC_KEY_generate_key(a.get()), 1);
  ASSERT_EQ(EC_KEY_generate_key(b.get()), 1);
  Bytes ab(32, 0xEE), ba(32, 0xDD);
  EXPECT_EQ(ECDH_compute_key(ab.data(), ab.size(), EC_KEY_get0_public_key(b.get()), a.get(),
                             nullptr),
            21);
  EXPECT_EQ(ECDH_compute_key(ba.data(), ba.size(), EC_KEY_get0_public_key(a.get()), b.get(),
                             nullptr),
            21);
  EXPECT_EQ(Bytes(ab.begin(), ab.begin() + 21), Bytes(ba.begin(), ba.begin() + 21));
}

// NIST names of the binary curves.
const char* BinarySn(const std::string& name) {
  static const char* const names[][2] = {
      {"K-163", "sect163k1"}, {"B-163", "sect163r2"}, {"K-233", "sect233k1"},
      {"B-233", "sect233r1"}, {"K-283", "sect283k1"}, {"B-283", "sect283r1"},
      {"K-409", "sect409k1"}, {"B-409", "sect409r1"}, {"K-571", "sect571k1"},
      {"B-571", "sect571r1"}};
  for (const auto& n : names)
    if (name == n[0]) return n[1];
  return nullptr;
}

class Ec2Cdh : public testing::TestWithParam<const char*> {};

TEST_P(Ec2Cdh, NistPrimitive) {
  MORVANE_VECTOR_PATH_OR_SKIP(
      path, "nist-cavp/components/ecccdhtestvectors/KAS_ECC_CDH_PrimitiveTest.txt");
  int count = 0;
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("ZIUT")) continue;
    std::string curve;
    for (const auto& [k, v] : rec.section) curve = k;
    if (curve.rfind(GetParam(), 0) != 0) continue;
    const char* sn = BinarySn(curve);
    ASSERT_NE(sn, nullptr) << curve;
    Key own(EC_KEY_new_by_curve_name(OBJ_sn2nid(sn)));
    const EC_GROUP* g = EC_KEY_get0_group(own.get());
    // The primitive is the cofactor one, Z = x(h dIUT QCAVS): the key takes
    // h dIUT mod n (QCAVS lies in the subgroup of order n).
    Bn d = Hex(rec.Get("dIUT")), hd(BN_new()), h(BN_new()), n(BN_new());
    ASSERT_EQ(EC_GROUP_get_cofactor(g, h.get(), nullptr), 1);
    ASSERT_EQ(EC_GROUP_get_order(g, n.get(), nullptr), 1);
    BN_CTX* bctx = BN_CTX_new();
    ASSERT_EQ(BN_mod_mul(hd.get(), h.get(), d.get(), n.get(), bctx), 1);
    BN_CTX_free(bctx);
    ASSERT_EQ(EC_KEY_set_private_key(own.get(), hd.get()), 1);
    Point q(EC_POINT_new(g)), mine(EC_POINT_new(g));
    Bn qx = Hex(rec.Get("QCAVSx")), qy = Hex(rec.Get("QCAVSy"));
    ASSERT_EQ(EC_POINT_set_affine_coordinates_GF2m(g, q.get(), qx.get(), qy.get(), nullptr), 1);
    Bytes out((static_cast<size_t>(EC_GROUP_get_degree(g)) + 7) / 8);
    EXPECT_EQ(ECDH_compute_key(out.data(), out.size(), q.get(), own.get(), nullptr),
              static_cast<int>(out.size()));
    EXPECT_EQ(morvane_test::ToHex(out), rec.Get("ZIUT")) << curve << " " << rec.Get("COUNT");
    Bn ix = Hex(rec.Get("QIUTx")), iy = Hex(rec.Get("QIUTy")), x(BN_new()), y(BN_new());
    ASSERT_EQ(EC_POINT_mul(g, mine.get(), d.get(), nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(EC_POINT_get_affine_coordinates_GF2m(g, mine.get(), x.get(), y.get(), nullptr), 1);
    EXPECT_EQ(BN_cmp(x.get(), ix.get()), 0);
    EXPECT_EQ(BN_cmp(y.get(), iy.get()), 0);
    count++;
  }
  EXPECT_EQ(count, 125);  // 25 for each of the five curves
}

INSTANTIATE_TEST_SUITE_P(Curves, Ec2Cdh, testing::Values("K-", "B-"),
                         [](const testing::TestParamInfo<const char*>& i) {
                           return std::string(i.param).substr(0, 1);
                         });

}  // namespace
