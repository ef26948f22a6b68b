// PKCS#8 private-key conversion and attribute lists.  The checks that need
// real keys skip, naming the missing component, while the RSA key codecs,
// DSA or EC are not built; they start running when those land.

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_build.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using der_build::Der;
using der_build::IntBytes;
using der_build::Seq;

Bytes Encode(PKCS8_PRIV_KEY_INFO* p8) {
  unsigned char* der = nullptr;
  const int n = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
  Bytes out(der, der + (n > 0 ? n : 0));
  MORVANE_free(der);
  return out;
}

PKCS8_PRIV_KEY_INFO* Decode(const Bytes& der) {
  const unsigned char* p = der.data();
  return d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
}

// True, emptying the queue, when the last failure came from a component
// that is not built yet (its operations queue ERR_R_DISABLED).
bool MissingComponent() {
  bool disabled = false;
  unsigned long e;
  while ((e = ERR_get_error()) != 0) disabled |= ERR_GET_REASON(e) == ERR_R_DISABLED;
  return disabled;
}

// A PrivateKeyInfo of algorithm `alg_hex` (an AlgorithmIdentifier's DER)
// whose key field is `key` (any DER value).
Bytes Info(const char* alg_hex, const Bytes& key) {
  return Seq({FromHex("020100"), FromHex(alg_hex), key});
}

constexpr const char* kRsaAlg = "300d06092a864886f70d0101010500";
constexpr const char* kDsaNoParams = "300906072a8648ce380401";

TEST(Pkcs8, SetBrokenRefusesUnknownForms) {
  PKCS8_PRIV_KEY_INFO* p8 = Decode(Info(kRsaAlg, FromHex("0403020101")));
  ASSERT_NE(nullptr, p8);
  const Bytes before = Encode(p8);
  EXPECT_EQ(nullptr, PKCS8_set_broken(p8, 2));
  EXPECT_EQ(0x06070075u, ERR_peek_error());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS8_SET_BROKEN, EVP_R_PKCS8_UNKNOWN_BROKEN_TYPE}});
  EXPECT_EQ(PKCS8_OK, p8->broken);
  EXPECT_EQ(before, Encode(p8));
  // Form 1 writes the key's encoding in place of the OCTET STRING.
  EXPECT_EQ(p8, PKCS8_set_broken(p8, PKCS8_NO_OCTET));
  EXPECT_EQ(Info(kRsaAlg, FromHex("020101")), Encode(p8));
  PKCS8_PRIV_KEY_INFO_free(p8);
}

// PrivateKeyInfo that no key comes out of, each with its one error.
TEST(Pkcs8, RefusedKeys) {
  const struct {
    const char* what;
    const char* alg;
    const char* key;
    int reason;
    const char* data;
  } cases[] = {
      {"an unknown algorithm", "300706032a03040500", "0400",
       EVP_R_UNSUPPORTED_PRIVATE_KEY_ALGORITHM, "TYPE=1.2.3.4"},
      {"an EC key on an unknown curve", "300e06072a8648ce3d020106032a0304", "0400",
       EVP_R_DECODE_ERROR, nullptr},
      // A key field that holds no encoding is refused, not read.
      {"a NULL key field", kRsaAlg, "0500", EVP_R_DECODE_ERROR, nullptr},
      // OCTET STRING { SEQUENCE { INTEGER 1, INTEGER 2, INTEGER 3 } }
      {"a DSA key field of three elements", kDsaNoParams, "040b3009020101020102020103",
       EVP_R_DECODE_ERROR, nullptr},
  };
  for (const auto& c : cases) {
    PKCS8_PRIV_KEY_INFO* p8 = Decode(Info(c.alg, FromHex(c.key)));
    ASSERT_NE(nullptr, p8) << c.what;
    EXPECT_EQ(nullptr, EVP_PKCS82PKEY(p8)) << c.what;
    EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PKCS82PKEY, c.reason, c.data}}) << c.what;
    PKCS8_PRIV_KEY_INFO_free(p8);
  }
  // An empty DSA key field: its first octet is not there to look at.
  PKCS8_PRIV_KEY_INFO* empty = Decode(Info(kDsaNoParams, FromHex("0400")));
  EXPECT_EQ(nullptr, EVP_PKCS82PKEY(empty));
  EXPECT_EQ(ERR_PACK(ERR_LIB_EVP, EVP_F_EVP_PKCS82PKEY, EVP_R_DECODE_ERROR), ERR_peek_last_error());
  ERR_clear_error();
  PKCS8_PRIV_KEY_INFO_free(empty);
  // Retagging a key field without an encoding is refused too.
  PKCS8_PRIV_KEY_INFO* null_key = Decode(Info(kRsaAlg, FromHex("0500")));
  EXPECT_EQ(nullptr, PKCS8_set_broken(null_key, PKCS8_NO_OCTET));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS8_SET_BROKEN, EVP_R_DECODE_ERROR}});
  PKCS8_PRIV_KEY_INFO_free(null_key);
}

TEST(Pkcs8, DhAndUnknownFormsAreRefused) {
  EVP_PKEY* dh = EVP_PKEY_new();
  EVP_PKEY_assign(dh, EVP_PKEY_DH, nullptr);
  EXPECT_EQ(nullptr, EVP_PKEY2PKCS8_broken(dh, PKCS8_OK));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PKEY2PKCS8_BROKEN,
                  EVP_R_UNSUPPORTED_PRIVATE_KEY_ALGORITHM}});
  // A DSA form outside 0 to 3 is refused before anything is written (it
  // used to give a structure without its private key).
  EVP_PKEY* dsa = EVP_PKEY_new();
  EVP_PKEY_assign(dsa, EVP_PKEY_DSA, nullptr);
  EXPECT_EQ(nullptr, EVP_PKEY2PKCS8_broken(dsa, 4));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_DSA_PKEY2PKCS8, EVP_R_PKCS8_UNKNOWN_BROKEN_TYPE}});
  EVP_PKEY_free(dh);
  EVP_PKEY_free(dsa);
}

// ---- with keys ------------------------------------------------------------

// The two-prime Wycheproof RSA keys convert to containers and back to the
// same octets, in both forms.
TEST(Pkcs8WithKeys, RsaRoundTrip) {
  int n = 0;
  for (const char* f : {"rsa_oaep_2048_sha256_mgf1sha256", "rsa_oaep_misc", "rsa_pkcs1_2048",
                        "rsa_pkcs1_3072", "rsa_pkcs1_4096", "rsa_pkcs1_1024_sig_gen"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + f + "_test.json");
    const auto j = morvane_test::ParseJson(morvane_test::ReadFile(path));
    for (const auto& g : j["testGroups"].items) {
      const Bytes der = FromHex(g["privateKeyPkcs8"].text);
      PKCS8_PRIV_KEY_INFO* p8 = Decode(der);
      ASSERT_NE(nullptr, p8);
      EVP_PKEY* pkey = EVP_PKCS82PKEY(p8);
      if (pkey == nullptr && MissingComponent()) {
        PKCS8_PRIV_KEY_INFO_free(p8);
        GTEST_SKIP() << "RSA key codecs are not built yet (d2i_RSAPrivateKey is disabled)";
      }
      ASSERT_NE(nullptr, pkey) << morvane_test::DrainErrors();
      EXPECT_EQ(PKCS8_OK, p8->broken);
      PKCS8_PRIV_KEY_INFO* back = EVP_PKEY2PKCS8(pkey);
      ASSERT_NE(nullptr, back);
      EXPECT_EQ(der, Encode(back));
      PKCS8_PRIV_KEY_INFO* seq = EVP_PKEY2PKCS8_broken(pkey, PKCS8_NO_OCTET);
      PKCS8_PRIV_KEY_INFO* again = Decode(Encode(seq));
      EVP_PKEY* pkey2 = EVP_PKCS82PKEY(again);
      EXPECT_EQ(PKCS8_NO_OCTET, again->broken);
      EXPECT_EQ(1, EVP_PKEY_cmp(pkey, pkey2));
      for (PKCS8_PRIV_KEY_INFO* x : {p8, back, seq, again}) PKCS8_PRIV_KEY_INFO_free(x);
      EVP_PKEY_free(pkey);
      EVP_PKEY_free(pkey2);
      n++;
    }
  }
  EXPECT_GT(n, 100);
}

// DSA forms 2 and 3 from a NIST key pair: y is computed from x (a wrong y
// in form 3 does not matter) and equals the published Y.
TEST(Pkcs8WithKeys, DsaEmbeddedAndDatabaseForms) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "nist-cavp/dss/186-3dsatestvectors/KeyPair.rsp");
  const auto records = morvane_test::ReadRsp(path);
  ASSERT_FALSE(records.empty());
  // The section's P, Q, G come as a record of their own, then X/Y records.
  const auto& pqg = records[0];
  const auto& xy = records[1];
  const Bytes params = Seq({IntBytes(FromHex(pqg.Get("P"))), IntBytes(FromHex(pqg.Get("Q"))),
                            IntBytes(FromHex(pqg.Get("G")))});
  const Bytes x = IntBytes(FromHex(xy.Get("X")));
  const Bytes oid = FromHex("06072a8648ce380401");
  const struct {
    int form;
    Bytes alg, key;
  } forms[] = {
      {PKCS8_EMBEDDED_PARAM, Seq({oid, FromHex("0500")}), Der(0x04, Seq({params, x}))},
      {PKCS8_NS_DB, Seq({oid, params}), Der(0x04, Seq({FromHex("020105"), x}))},
  };
  for (const auto& f : forms) {
    PKCS8_PRIV_KEY_INFO* p8 = Decode(Seq({FromHex("020100"), f.alg, f.key}));
    ASSERT_NE(nullptr, p8);
    EVP_PKEY* pkey = EVP_PKCS82PKEY(p8);
    if (pkey == nullptr && MissingComponent()) {
      PKCS8_PRIV_KEY_INFO_free(p8);
      GTEST_SKIP() << "DSA is not built yet (d2i_DSAparams is disabled)";
    }
    ASSERT_NE(nullptr, pkey) << morvane_test::DrainErrors();
    EXPECT_EQ(f.form, p8->broken);
    char* y = BN_bn2hex(pkey->pkey.dsa->pub_key);
    EXPECT_EQ(xy.Get("Y"), morvane_test::ToHex(FromHex(y)));
    MORVANE_free(y);
    // Written back in the same form, it reads as the same key.
    PKCS8_PRIV_KEY_INFO* back = EVP_PKEY2PKCS8_broken(pkey, f.form);
    ASSERT_NE(nullptr, back);
    EVP_PKEY* again = EVP_PKCS82PKEY(back);
    EXPECT_EQ(1, EVP_PKEY_cmp(pkey, again));
    EVP_PKEY_free(again);
    PKCS8_PRIV_KEY_INFO_free(back);
    EVP_PKEY_free(pkey);
    PKCS8_PRIV_KEY_INFO_free(p8);
  }
}

// An EC key without its public point (NIST CAVP 186-3 ECDSA KeyPair.rsp,
// the first P-256 pair) gets the point computed; EC keys are written in the
// standard form only.
TEST(Pkcs8WithKeys, EcPublicPointAndForms) {
  const Bytes d = FromHex("c9806898a0334916c860748880a541f093b579a9b1f32934d86c363c39800357");
  // ECPrivateKey { 1, d } without public key, under { id-ecPublicKey, prime256v1 }.
  const Bytes key = Der(0x04, Seq({FromHex("020101"), Der(0x04, d)}));
  PKCS8_PRIV_KEY_INFO* p8 = Decode(Info("301306072a8648ce3d020106082a8648ce3d030107", key));
  ASSERT_NE(nullptr, p8);
  EVP_PKEY* pkey = EVP_PKCS82PKEY(p8);
  if (pkey == nullptr && MissingComponent()) {
    PKCS8_PRIV_KEY_INFO_free(p8);
    GTEST_SKIP() << "EC keys are not built yet (EC_KEY_new is disabled)";
  }
  ASSERT_NE(nullptr, pkey) << morvane_test::DrainErrors();
  const EC_KEY* ec = pkey->pkey.ec;
  BIGNUM* q = EC_POINT_point2bn(EC_KEY_get0_group(ec), EC_KEY_get0_public_key(ec),
                                POINT_CONVERSION_UNCOMPRESSED, nullptr, nullptr);
  char* hex = BN_bn2hex(q);
  EXPECT_EQ("04d0720dc691aa80096ba32fed1cb97c2b620690d06de0317b8618d5ce65eb728f"
            "9681b517b1cda17d0d83d335d9c4a8a9a9b0b1b3c7106d8f3c72bc5093dc275f",
            morvane_test::ToHex(FromHex(hex)));
  MORVANE_free(hex);
  BN_free(q);
  EXPECT_EQ(nullptr, EVP_PKEY2PKCS8_broken(pkey, PKCS8_NO_OCTET));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_ECKEY_PKEY2PKCS8, EVP_R_ENCODE_ERROR}});
  PKCS8_PRIV_KEY_INFO* back = EVP_PKEY2PKCS8(pkey);
  ASSERT_NE(nullptr, back);
  EVP_PKEY* again = EVP_PKCS82PKEY(back);
  EXPECT_EQ(1, EVP_PKEY_cmp(pkey, again));
  EVP_PKEY_free(again);
  PKCS8_PRIV_KEY_INFO_free(back);
  EVP_PKEY_free(pkey);
  PKCS8_PRIV_KEY_INFO_free(p8);
}

// Private keys whose public value would take seconds to compute are
// refused before it is: a DSA p past DSA_MAX_MODULUS_BITS, a DSA x or an EC
// scalar outside its range (of any length), through the three readers of
// PrivateKeyInfo a program meets: a PEM block, an encrypted PKCS#8 file and
// a PFX key bag.
TEST(Pkcs8WithKeys, KeysOutOfBoundsRefusedBeforeAnyWork) {
  Morvane_add_all_ciphers();
  Morvane_add_all_digests();
  const Bytes dsa_oid = FromHex("06072a8648ce380401");
  const Bytes q = Bytes(32, 0xc5);
  auto dsa = [&](size_t pbytes, const Bytes& x) {
    Bytes p(pbytes, 0xd7);
    const Bytes params = Seq({IntBytes(p), IntBytes(q), FromHex("020102")});
    return Seq({FromHex("020100"), Seq({dsa_oid, params}), Der(0x04, IntBytes(x))});
  };
  // P-256's order n (SEC 2, 2.4.2).
  const Bytes n = FromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");
  auto ec = [&](const Bytes& d) {
    const Bytes key = Der(0x04, Seq({FromHex("020101"), Der(0x04, d)}));
    return Info("301306072a8648ce3d020106082a8648ce3d030107", key);
  };
  const struct {
    const char* what;
    Bytes info;
    int reason;
  } rows[] = {
      {"DSA p of 8 KB", dsa(8192, {1}), EVP_R_UNSUPPORTED_KEY_SIZE},
      {"DSA p of 64 KB", dsa(65536, {1}), EVP_R_UNSUPPORTED_KEY_SIZE},
      {"DSA x of 1 MB", dsa(256, Bytes(1 << 20, 0x5a)), EVP_R_BN_DECODE_ERROR},
      {"DSA x = q", dsa(256, q), EVP_R_BN_DECODE_ERROR},
      {"DSA x = 0", dsa(256, {0}), EVP_R_BN_DECODE_ERROR},
      {"EC scalar of 1 MB", ec(Bytes(1 << 20, 0x5a)), EVP_R_BN_DECODE_ERROR},
      {"EC scalar = n", ec(n), EVP_R_BN_DECODE_ERROR},
      {"EC scalar = 0", ec({0}), EVP_R_BN_DECODE_ERROR},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const unsigned long want = ERR_PACK(ERR_LIB_EVP, EVP_F_EVP_PKCS82PKEY, row.reason);
    auto refused = [&](bool ok) {
      bool seen = false;
      unsigned long e;
      while ((e = ERR_get_error()) != 0) seen = seen || e == want;
      EXPECT_FALSE(ok);
      EXPECT_TRUE(seen);
    };
    PKCS8_PRIV_KEY_INFO* p8 = Decode(row.info);
    ASSERT_NE(nullptr, p8);
    // A PEM block of the PrivateKeyInfo.
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio(pem, "PRIVATE KEY", const_cast<char*>(""), const_cast<uint8_t*>(row.info.data()),
                  static_cast<long>(row.info.size()));
    EVP_PKEY* k = PEM_read_bio_PrivateKey(pem, nullptr, nullptr, nullptr);
    refused(k != nullptr);
    EVP_PKEY_free(k);
    BIO_free(pem);
    // Encrypted PKCS#8 (one iteration).
    X509_SIG* sealed = PKCS8_encrypt(146, nullptr, "pw", -1, nullptr, 0, 1, p8);
    ASSERT_NE(nullptr, sealed);
    BIO* der = BIO_new(BIO_s_mem());
    ASSERT_GT(i2d_PKCS8_bio(der, sealed), 0);
    X509_SIG_free(sealed);
    k = d2i_PKCS8PrivateKey_bio(der, nullptr, nullptr, const_cast<char*>("pw"));
    refused(k != nullptr);
    EVP_PKEY_free(k);
    BIO_free(der);
    // A PFX key bag.
    STACK* bags = sk_new_null();
    sk_push(bags, reinterpret_cast<char*>(PKCS12_MAKE_KEYBAG(p8)));  // takes p8
    STACK* safes = nullptr;
    ASSERT_EQ(1, PKCS12_add_safe(&safes, bags, -1, 0, nullptr));
    sk_pop_free(bags, [](void* b) { PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b)); });
    PKCS12* p12 = PKCS12_add_safes(safes, 0);
    sk_pop_free(safes, [](void* s) { PKCS7_free(static_cast<PKCS7*>(s)); });
    ASSERT_NE(nullptr, p12);
    ASSERT_EQ(1, PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 1, nullptr));
    k = nullptr;
    refused(PKCS12_parse(p12, "pw", &k, nullptr, nullptr) == 1);
    EVP_PKEY_free(k);
    PKCS12_free(p12);
  }
}

// ---- attributes -------------------------------------------------------------

TEST(Attributes, OnKeyContainers) {
  EVP_PKEY* k = EVP_PKEY_new();
  EXPECT_EQ(-1, EVP_PKEY_get_attr_count(k));
  const auto* name = reinterpret_cast<const unsigned char*>("abc");
  ASSERT_EQ(1, EVP_PKEY_add1_attr_by_NID(k, 49, ASN1_UT_IA5STRING, name, 3));
  ASSERT_EQ(1, EVP_PKEY_add1_attr_by_txt(k, "challengePassword", ASN1_UT_PRINTABLESTRING, name, 3));
  ASSERT_EQ(1, EVP_PKEY_add1_attr_by_OBJ(k, OBJ_nid2obj(49), ASN1_UT_OCTET_STRING, name, 2));
  EXPECT_EQ(3, EVP_PKEY_get_attr_count(k));
  EXPECT_EQ(0, EVP_PKEY_get_attr_by_NID(k, 49, -1));
  EXPECT_EQ(2, EVP_PKEY_get_attr_by_NID(k, 49, 0));
  EXPECT_EQ(-1, EVP_PKEY_get_attr_by_NID(k, 49, 2));
  EXPECT_EQ(-1, EVP_PKEY_get_attr_by_NID(k, 49, INT_MAX));  // no search past the end
  EXPECT_EQ(-2, EVP_PKEY_get_attr_by_NID(k, 99999, -1));
  EXPECT_EQ(1, EVP_PKEY_get_attr_by_OBJ(k, OBJ_nid2obj(54), -1));
  X509_ATTRIBUTE* a = EVP_PKEY_get_attr(k, 0);
  ASSERT_NE(nullptr, a);
  unsigned char* der = nullptr;
  const int n = i2d_X509_ATTRIBUTE(a, &der);
  // SEQUENCE { unstructuredName, SET { IA5String "abc" } }
  EXPECT_EQ(FromHex("3012 06092a864886f70d010902 3105 1603616263"), Bytes(der, der + n));
  MORVANE_free(der);
  X509_ATTRIBUTE* gone = EVP_PKEY_delete_attr(k, 1);
  ASSERT_NE(nullptr, gone);
  X509_ATTRIBUTE_free(gone);
  EXPECT_EQ(nullptr, EVP_PKEY_get_attr(k, 2));
  EXPECT_EQ(1, EVP_PKEY_add1_attr(k, a));
  EXPECT_EQ(3, EVP_PKEY_get_attr_count(k));
  EXPECT_EQ(0, EVP_PKEY_add1_attr_by_txt(k, "noSuchAttribute", ASN1_UT_IA5STRING, name, 3));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_FIRST_NUM_TOO_LARGE},
                 {ERR_LIB_X509, X509_F_X509_ATTRIBUTE_CREATE_BY_TXT, X509_R_INVALID_FIELD_NAME,
                  "name=noSuchAttribute"}});
  // Text in a character form takes the string type its attribute's rule picks.
  ASSERT_EQ(1, EVP_PKEY_add1_attr_by_NID(k, 49, ASN1_MB_UTF8, name, 3));
  const X509_ATTRIBUTE* text = EVP_PKEY_get_attr(k, 3);
  ASSERT_NE(nullptr, text);
  const auto* v = reinterpret_cast<ASN1_TYPE*>(sk_value(text->value.set, 0));
  EXPECT_EQ(v->type, v->value.asn1_string->type);
  EXPECT_EQ("abc", std::string(reinterpret_cast<char*>(v->value.asn1_string->data), 3));
  EXPECT_EQ(0, EVP_PKEY_add1_attr_by_NID(k, 49, ASN1_UT_OBJECT, name, 3));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_ATTRIBUTE_SET1_DATA, X509_R_WRONG_TYPE}});
  EXPECT_EQ(nullptr, X509at_add1_attr(nullptr, a));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509AT_ADD1_ATTR, ERR_R_PASSED_NULL_PARAMETER}});
  EVP_PKEY_free(k);
}

}  // namespace
