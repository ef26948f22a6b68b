// ECDH through the public API: the secret's length and truncation, the KDF,
// the checks of the peer's point, and the Wycheproof and NIST CAVP vectors.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ec_key_handles.h"
#include "test_support.h"

namespace {

using ec_key_test::Bn;
using ec_key_test::Key;
using ec_key_test::Point;
using morvane_test::Bytes;
using morvane_test::ErrorsAre;
using morvane_test::FromHex;

constexpr int kP256 = 415;

Bn HexBn(const std::string& hex) {
  return ec_key_test::HexBn(hex.c_str());
}

Key KeyWithScalar(int nid, const BIGNUM* d) {
  Key k(EC_KEY_new_by_curve_name(nid));
  EXPECT_EQ(EC_KEY_set_private_key(k.get(), d), 1);
  return k;
}

int Agree(Bytes* out, const EC_POINT* peer, EC_KEY* k) {
  return ECDH_compute_key(out->data(), out->size(), peer, k, nullptr);
}

TEST(Ecdh, BuiltInMethod) {
  const ECDH_METHOD* m = ECDH_Morvane();
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m->name, "Morvane ECDH method");
  EXPECT_EQ(m->flags, 0);
  EXPECT_EQ(ECDH_get_default_method(), m);
}

TEST(Ecdh, SecretLengthAndTruncation) {
  Bn d(BN_new());
  BN_set_word(d.get(), 0x1234567);
  Key k = KeyWithScalar(kP256, d.get());
  const EC_GROUP* g = EC_KEY_get0_group(k.get());
  const EC_POINT* gen = EC_GROUP_get0_generator(g);
  Bytes full(48, 0xAA);
  EXPECT_EQ(Agree(&full, gen, k.get()), 32);
  Bytes part(16);
  EXPECT_EQ(Agree(&part, gen, k.get()), 16);
  EXPECT_EQ(0, std::memcmp(part.data(), full.data(), 16));
  // Room beyond INT_MAX takes the secret's 32 octets too.
  Bytes wide(32);
  EXPECT_EQ(ECDH_compute_key(wide.data(), size_t{INT_MAX} + 1, gen, k.get(), nullptr), 32);
  EXPECT_EQ(0, std::memcmp(wide.data(), full.data(), 32));
  // The secret is x(d G).
  Point dg(EC_POINT_new(g));
  Bn x(BN_new());
  ASSERT_EQ(EC_POINT_mul(g, dg.get(), d.get(), nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, dg.get(), x.get(), nullptr, nullptr), 1);
  Bytes want(32);
  BN_bn2bin(x.get(), want.data() + 32 - BN_num_bytes(x.get()));
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 32), want);
}

TEST(Ecdh, LeadingZeroOctetsFillTheSecret) {
  Key k(EC_KEY_new_by_curve_name(kP256));
  const EC_GROUP* g = EC_KEY_get0_group(k.get());
  Bn d(BN_new()), x(BN_new());
  Point p(EC_POINT_new(g));
  // The first scalar from 1 up whose x(d G) has a leading zero octet.
  for (BN_ULONG w = 1;; ++w) {
    BN_set_word(d.get(), w);
    ASSERT_EQ(EC_POINT_mul(g, p.get(), d.get(), nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, p.get(), x.get(), nullptr, nullptr), 1);
    if (BN_num_bytes(x.get()) < 32) break;
  }
  ASSERT_EQ(EC_KEY_set_private_key(k.get(), d.get()), 1);
  Bytes out(32, 0xAA);
  EXPECT_EQ(Agree(&out, EC_GROUP_get0_generator(g), k.get()), 32);
  EXPECT_EQ(out[0], 0);
  Bytes want(32);
  BN_bn2bin(x.get(), want.data() + 32 - BN_num_bytes(x.get()));
  EXPECT_EQ(out, want);
}

void* NullKdf(const void*, size_t, void*, size_t*) {
  return nullptr;
}
// Copies the secret reversed and reports 5 octets.
void* ReverseKdf(const void* in, size_t inlen, void* out, size_t* outlen) {
  auto* o = static_cast<unsigned char*>(out);
  const auto* i = static_cast<const unsigned char*>(in);
  for (size_t n = 0; n < inlen && n < *outlen; n++) o[n] = i[inlen - 1 - n];
  *outlen = 5;
  return out;
}

TEST(Ecdh, KdfAndMissingScalar) {
  Bn d(BN_new());
  BN_set_word(d.get(), 99);
  Key k = KeyWithScalar(kP256, d.get());
  const EC_POINT* gen = EC_GROUP_get0_generator(EC_KEY_get0_group(k.get()));
  Bytes raw(32), out(32);
  ASSERT_EQ(Agree(&raw, gen, k.get()), 32);
  EXPECT_EQ(ECDH_compute_key(out.data(), out.size(), gen, k.get(), ReverseKdf), 5);
  EXPECT_EQ(out[0], raw[31]);
  ERR_clear_error();
  EXPECT_EQ(ECDH_compute_key(out.data(), out.size(), gen, k.get(), NullKdf), -1);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_KDF_FAILED}}));
  Key nopriv(EC_KEY_new_by_curve_name(kP256));
  EXPECT_EQ(Agree(&out, gen, nopriv.get()), -1);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_NO_PRIVATE_VALUE}}));
}

// The peer's point is checked before the scalar touches it.
TEST(Ecdh, RefusesUnsafePeerPoints) {
  Bn d(BN_new());
  BN_set_word(d.get(), 12345);
  Key k = KeyWithScalar(kP256, d.get());
  const EC_GROUP* g = EC_KEY_get0_group(k.get());
  Bytes out(32);
  // Off the curve: (1, 1) set as Jacobian coordinates (not checked there).
  Point off(EC_POINT_new(g));
  Bn one(BN_new());
  BN_one(one.get());
  ASSERT_EQ(EC_POINT_set_Jprojective_coordinates_GFp(g, off.get(), one.get(), one.get(), one.get(),
                                                     nullptr),
            1);
  ASSERT_EQ(EC_POINT_is_on_curve(g, off.get(), nullptr), 0);
  Point inf(EC_POINT_new(g));
  EC_POINT_set_to_infinity(g, inf.get());
  ERR_clear_error();
  for (const EC_POINT* p :
       {static_cast<const EC_POINT*>(off.get()), static_cast<const EC_POINT*>(inf.get()),
        static_cast<const EC_POINT*>(nullptr)}) {
    EXPECT_EQ(Agree(&out, p, k.get()), -1);
    EXPECT_TRUE(
        ErrorsAre({{ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_POINT_ARITHMETIC_FAILURE}}));
  }
}

// On a curve with cofactor 4 (secp112r2), a point outside the subgroup of
// the order is refused; one inside is used.
TEST(Ecdh, RefusesPointsOutsideTheSubgroup) {
  Key k(EC_KEY_new_by_curve_name(OBJ_sn2nid("secp112r2")));
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(EC_KEY_generate_key(k.get()), 1);
  const EC_GROUP* g = EC_KEY_get0_group(k.get());
  Bn order(BN_new()), x(BN_new()), cofactor(BN_new());
  EC_GROUP_get_order(g, order.get(), nullptr);
  EC_GROUP_get_cofactor(g, cofactor.get(), nullptr);
  ASSERT_TRUE(BN_is_word(cofactor.get(), 4));
  Point p(EC_POINT_new(g)), np(EC_POINT_new(g));
  // The first x from 1 up with a point whose n-th multiple is not O.
  for (BN_ULONG w = 1;; ++w) {
    ASSERT_LT(w, 1000u);
    BN_set_word(x.get(), w);
    if (EC_POINT_set_compressed_coordinates_GFp(g, p.get(), x.get(), 0, nullptr) != 1) continue;
    ASSERT_EQ(EC_POINT_mul(g, np.get(), nullptr, p.get(), order.get(), nullptr), 1);
    if (!EC_POINT_is_at_infinity(g, np.get())) break;
  }
  ERR_clear_error();
  Bytes out(14);
  EXPECT_EQ(Agree(&out, p.get(), k.get()), -1);
  EXPECT_TRUE(
      ErrorsAre({{ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_POINT_ARITHMETIC_FAILURE}}));
  // 4 P lies in the subgroup.
  Bn four(BN_new());
  BN_set_word(four.get(), 4);
  ASSERT_EQ(EC_POINT_mul(g, np.get(), nullptr, p.get(), four.get(), nullptr), 1);
  EXPECT_EQ(Agree(&out, np.get(), k.get()), 14);
}

TEST(Ecdh, RecordsAndExData) {
  Key k(EC_KEY_new_by_curve_name(kP256));
  const int idx = ECDH_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_GE(idx, 0);
  int marker = 0;
  EXPECT_EQ(ECDH_set_ex_data(k.get(), idx, &marker), 1);
  EXPECT_EQ(ECDH_get_ex_data(k.get(), idx), &marker);
  // A copy gets a fresh record.
  Key copy(EC_KEY_dup(k.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(ECDH_get_ex_data(copy.get(), idx), nullptr);
  EXPECT_EQ(ECDH_set_method(k.get(), ECDH_Morvane()), 1);
  EXPECT_EQ(ECDH_set_method(nullptr, ECDH_Morvane()), 0);
  EXPECT_EQ(ECDH_get_ex_data(nullptr, idx), nullptr);
  ERR_clear_error();
  // A null key, and a method without compute_key (or none), give -1, said.
  EXPECT_EQ(ECDH_compute_key(nullptr, 0, nullptr, nullptr, nullptr), -1);
  const ECDH_METHOD none = {"no agreement", nullptr, 0, nullptr};
  Bytes out(32);
  for (const ECDH_METHOD* m : {&none, static_cast<const ECDH_METHOD*>(nullptr)}) {
    ASSERT_EQ(ECDH_set_method(k.get(), m), 1);
    EXPECT_EQ(Agree(&out, EC_GROUP_get0_generator(EC_KEY_get0_group(k.get())), k.get()), -1);
  }
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ERR_R_PASSED_NULL_PARAMETER},
                         {ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_OPERATION_NOT_SUPPORTED},
                         {ERR_LIB_ECDH, ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_OPERATION_NOT_SUPPORTED}}));
}

// ---- published vectors ------------------------------------------------------

const char* CurveSn(std::string name) {
  if (name == "secp256r1" || name == "P-256") return "prime256v1";
  if (name == "P-192") return "prime192v1";
  if (name == "P-224") return "secp224r1";
  if (name == "P-384") return "secp384r1";
  if (name == "P-521") return "secp521r1";
  static std::string keep;
  keep = name;
  return keep.c_str();
}

// The peer key of a Wycheproof case as the file encodes it, or null.
Key PeerKey(const std::string& encoding, const std::string& pub, int nid) {
  if (encoding == "ecpoint") {
    Key k(EC_KEY_new_by_curve_name(nid));
    EC_KEY* kp = k.get();
    const Bytes b = FromHex(pub);
    const unsigned char* p = b.data();
    if (o2i_ECPublicKey(&kp, &p, static_cast<long>(b.size())) == nullptr) return nullptr;
    return k;
  }
  const Bytes der = encoding == "pem" ? morvane_test::PemBody(pub, "PUBLIC KEY") : FromHex(pub);
  const unsigned char* p = der.data();
  Key k(d2i_EC_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
  if (k != nullptr && p != der.data() + der.size()) return nullptr;
  return k;
}

Bn PrivateScalar(const std::string& encoding, const std::string& priv, int nid) {
  if (encoding != "pem") return HexBn(priv);
  const Bytes inner = morvane_test::Pkcs8PrivateKey(morvane_test::PemBody(priv, "PRIVATE KEY"));
  EC_KEY* k = EC_KEY_new_by_curve_name(nid);
  const unsigned char* p = inner.data();
  if (d2i_ECPrivateKey(&k, &p, static_cast<long>(inner.size())) == nullptr) return nullptr;
  Bn d(BN_dup(EC_KEY_get0_private_key(k)));
  EC_KEY_free(k);
  return d;
}

// One file, or one of the shards of a large one (every shards-th case from
// the shard-th), so that no single test runs long.
struct EcdhFile {
  const char* file;
  int shard;
  int shards;
};
std::ostream& operator<<(std::ostream& os, const EcdhFile& f) {
  return os << f.file << " " << f.shard << "/" << f.shards;
}

class EcdhWycheproof : public testing::TestWithParam<EcdhFile> {};

TEST_P(EcdhWycheproof, File) {
  const std::string name = std::string("wycheproof/ecdh_") + GetParam().file + ".json";
  MORVANE_VECTOR_PATH_OR_SKIP(path, name);
  int count = 0;
  int index = -1;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    if (++index % GetParam().shards != GetParam().shard) continue;
    const int nid = OBJ_sn2nid(CurveSn(t.Get("curve")));
    ASSERT_NE(nid, 0) << t.Get("curve");
    const std::string encoding = t.Get("encoding");
    Bn d = PrivateScalar(encoding, t.Get("private"), nid);
    ASSERT_NE(d, nullptr) << name << " tc " << t.id;
    Key own = KeyWithScalar(nid, d.get());
    const EC_GROUP* g = EC_KEY_get0_group(own.get());
    Key peer = PeerKey(encoding, t.Get("public"), nid);
    int got = -1;
    Bytes out((static_cast<size_t>(EC_GROUP_get_degree(g)) + 7) / 8);
    if (peer != nullptr && EC_GROUP_cmp(EC_KEY_get0_group(peer.get()), g, nullptr) == 0)
      got = Agree(&out, EC_KEY_get0_public_key(peer.get()), own.get());
    const std::string result = t.Get("result");
    const Bytes shared = FromHex(t.Get("shared"));
    if (result == "valid") {
      EXPECT_EQ(got, static_cast<int>(out.size())) << name << " tc " << t.id;
      EXPECT_EQ(out, shared) << name << " tc " << t.id;
    } else if (result == "invalid") {
      EXPECT_EQ(got, -1) << name << " tc " << t.id << " " << t.Get("comment");
      // A public key invalid in itself (not a valid key of another curve)
      // is refused by its decoding or by the key check: explicit parameters
      // with a cofactor of -1, n or none among them.
      if (t.HasFlag("InvalidPublic") && !t.HasFlag("ModifiedGroup")) {
        EXPECT_TRUE(peer == nullptr || EC_KEY_check_key(peer.get()) != 1)
            << name << " tc " << t.id << " " << t.Get("comment");
      }
    } else if (got > 0) {
      EXPECT_EQ(out, shared) << name << " tc " << t.id;
    }
    ERR_clear_error();
    ++count;
  }
  EXPECT_GT(count, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, EcdhWycheproof,
                         testing::ValuesIn(std::vector<EcdhFile>{
                             {"secp224r1_test", 0, 1},         {"secp256k1_test", 0, 1},
                             {"secp256r1_test", 0, 1},         {"secp384r1_test", 0, 2},
                             {"secp384r1_test", 1, 2},         {"secp521r1_test", 0, 4},
                             {"secp521r1_test", 1, 4},         {"secp521r1_test", 2, 4},
                             {"secp521r1_test", 3, 4},         {"secp224r1_ecpoint_test", 0, 1},
                             {"secp256r1_ecpoint_test", 0, 1}, {"secp384r1_ecpoint_test", 0, 2},
                             {"secp384r1_ecpoint_test", 1, 2}, {"secp521r1_ecpoint_test", 0, 4},
                             {"secp521r1_ecpoint_test", 1, 4}, {"secp521r1_ecpoint_test", 2, 4},
                             {"secp521r1_ecpoint_test", 3, 4}, {"secp224r1_pem_test", 0, 1},
                             {"secp256r1_pem_test", 0, 1},     {"secp384r1_pem_test", 0, 2},
                             {"secp384r1_pem_test", 1, 2},     {"secp521r1_pem_test", 0, 4},
                             {"secp521r1_pem_test", 1, 4},     {"secp521r1_pem_test", 2, 4},
                             {"secp521r1_pem_test", 3, 4},
                             // The binary curves.
                             {"sect283k1_test", 0, 1}, {"sect283r1_test", 0, 1},
                             {"sect409k1_test", 0, 2}, {"sect409k1_test", 1, 2},
                             {"sect409r1_test", 0, 2}, {"sect409r1_test", 1, 2},
                             {"sect571k1_test", 0, 3}, {"sect571k1_test", 1, 3},
                             {"sect571k1_test", 2, 3}, {"sect571r1_test", 0, 3},
                             {"sect571r1_test", 1, 3}, {"sect571r1_test", 2, 3}}));

// NIST CAVP KAS ECC CDH primitive, P curves: ZIUT = x(dIUT QCAVS) over
// ceil(m/8) octets and QIUT = dIUT G.
TEST(EcdhVectors, NistCdhPrimitive) {
  MORVANE_VECTOR_PATH_OR_SKIP(
      path, "nist-cavp/components/ecccdhtestvectors/KAS_ECC_CDH_PrimitiveTest.txt");
  int count = 0;
  BN_CTX* ctx = BN_CTX_new();
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("ZIUT")) continue;
    std::string curve;
    for (const auto& [k, v] : rec.section) curve = k;
    if (curve.rfind("P-", 0) != 0) continue;
    const int nid = OBJ_sn2nid(CurveSn(curve));
    Bn d = HexBn(rec.Get("dIUT"));
    Key own = KeyWithScalar(nid, d.get());
    const EC_GROUP* g = EC_KEY_get0_group(own.get());
    Point q(EC_POINT_new(g)), mine(EC_POINT_new(g));
    Bn qx = HexBn(rec.Get("QCAVSx")), qy = HexBn(rec.Get("QCAVSy"));
    ASSERT_EQ(EC_POINT_set_affine_coordinates_GFp(g, q.get(), qx.get(), qy.get(), ctx), 1);
    Bytes out((static_cast<size_t>(EC_GROUP_get_degree(g)) + 7) / 8);
    EXPECT_EQ(Agree(&out, q.get(), own.get()), static_cast<int>(out.size()));
    EXPECT_EQ(morvane_test::ToHex(out), rec.Get("ZIUT")) << curve << " " << rec.Get("COUNT");
    Bn ix = HexBn(rec.Get("QIUTx")), iy = HexBn(rec.Get("QIUTy"));
    Bn gx(BN_new()), gy(BN_new());
    ASSERT_EQ(EC_POINT_mul(g, mine.get(), d.get(), nullptr, nullptr, ctx), 1);
    ASSERT_EQ(EC_POINT_get_affine_coordinates_GFp(g, mine.get(), gx.get(), gy.get(), ctx), 1);
    EXPECT_EQ(BN_cmp(gx.get(), ix.get()), 0);
    EXPECT_EQ(BN_cmp(gy.get(), iy.get()), 0);
    ++count;
  }
  BN_CTX_free(ctx);
  EXPECT_EQ(count, 125);
}

}  // namespace
