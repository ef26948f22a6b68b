// The envelope operations with real RSA keys: Wycheproof's PKCS#1 v1.5
// signatures through EVP_VerifyFinal and its PKCS#1 v1.5 ciphertexts through
// EVP_PKEY_decrypt, signing twice from one running digest, and a seal to
// three recipients opened with each key.  The keys come from the Wycheproof
// files: decryption and sealing need only the raw RSA operations and take the
// key's numbers from the file's fields; the signature tests decode the DER
// key and skip, naming what is missing, while the key decoders are not built.
// Every test skips while the vectors are absent.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

// A container holding the decoded key, or null with `why` saying what is
// missing (RSA not built) or what failed.
EVP_PKEY* RsaContainer(const Bytes& der, bool private_key, std::string* why) {
  const unsigned char* p = der.data();
  RSA* rsa = private_key ? d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(der.size()))
                         : d2i_RSAPublicKey(nullptr, &p, static_cast<long>(der.size()));
  if (rsa == nullptr) {
    const bool disabled = ERR_GET_REASON(ERR_peek_error()) == ERR_R_DISABLED;
    *why = disabled ? "RSA is not built yet (its key decoders are disabled)"
                    : "the RSA key does not decode: " + morvane_test::DrainErrors();
    ERR_clear_error();
    return nullptr;
  }
  EVP_PKEY* pkey = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pkey, rsa);
  return pkey;
}

// A container holding the private key of a Wycheproof group, built from its
// numbers ("privateKey.modulus" and the rest) without the key decoders.
EVP_PKEY* RsaFromFields(const morvane_test::WycheproofTest& t) {
  RSA* rsa = RSA_new();
  const std::pair<const char*, BIGNUM**> parts[] = {
      {"modulus", &rsa->n},  {"publicExponent", &rsa->e}, {"privateExponent", &rsa->d},
      {"prime1", &rsa->p},   {"prime2", &rsa->q},         {"exponent1", &rsa->dmp1},
      {"exponent2", &rsa->dmq1}, {"coefficient", &rsa->iqmp}};
  for (auto [name, slot] : parts) {
    if (BN_hex2bn(slot, t.Get(std::string("privateKey.") + name).c_str()) == 0) {
      RSA_free(rsa);
      return nullptr;
    }
  }
  EVP_PKEY* pkey = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pkey, rsa);
  return pkey;
}

#define RSA_CONTAINER_OR_SKIP(var, der, is_private)                             \
  std::string var##_why;                                                        \
  EVP_PKEY* var = RsaContainer((der), (is_private), &var##_why);                \
  if (var == nullptr) {                                                         \
    if (var##_why.rfind("RSA is not built", 0) == 0) GTEST_SKIP() << var##_why; \
    FAIL() << var##_why;                                                        \
  }

const EVP_MD* DigestOf(const std::string& sha) {
  if (sha == "SHA-224") return EVP_sha224();
  if (sha == "SHA-256") return EVP_sha256();
  if (sha == "SHA-384") return EVP_sha384();
  if (sha == "SHA-512") return EVP_sha512();
  return nullptr;
}

// Wycheproof rsa_signature_*_test.json (RSASSA-PKCS1-v1_5, RFC 8017, 8.2):
// every valid signature verifies, every invalid one does not; "acceptable"
// cases may go either way.
class WycheproofRsaSignatures : public testing::TestWithParam<const char*> {};

TEST_P(WycheproofRsaSignatures, VerifyFinal) {
  const std::string file = std::string("wycheproof/") + GetParam();
  MORVANE_VECTOR_PATH_OR_SKIP(path, file);
  const auto tests = morvane_test::ReadWycheproof(path);
  ASSERT_FALSE(tests.empty());
  std::string key_hex;
  EVP_PKEY* pkey = nullptr;
  int checked = 0;
  for (const auto& t : tests) {
    if (t.Get("publicKeyAsn") != key_hex) {
      EVP_PKEY_free(pkey);
      key_hex = t.Get("publicKeyAsn");
      RSA_CONTAINER_OR_SKIP(k, FromHex(key_hex), false);
      pkey = k;
    }
    const EVP_MD* md = DigestOf(t.Get("sha"));
    ASSERT_NE(nullptr, md) << t.Get("sha");
    const Bytes msg = FromHex(t.Get("msg"));
    const Bytes sig = FromHex(t.Get("sig"));
    EVP_MD_CTX ctx;
    EVP_MD_CTX_init(&ctx);
    ASSERT_EQ(1, EVP_VerifyInit_ex(&ctx, md, nullptr));
    ASSERT_EQ(1, EVP_VerifyUpdate(&ctx, msg.data(), msg.size()));
    const int r = EVP_VerifyFinal(&ctx, sig.data(), static_cast<unsigned int>(sig.size()), pkey);
    EVP_MD_CTX_cleanup(&ctx);
    ERR_clear_error();
    const std::string result = t.Get("result");
    if (result == "valid") {
      EXPECT_EQ(1, r) << "tcId " << t.id;
    } else if (result == "invalid") {
      EXPECT_NE(1, r) << "tcId " << t.id << " (a failure here is RSA_verify's)";
    }
    checked++;
  }
  EVP_PKEY_free(pkey);
  EXPECT_EQ(static_cast<int>(tests.size()), checked);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WycheproofRsaSignatures,
    testing::Values("rsa_signature_2048_sha224_test.json", "rsa_signature_2048_sha256_test.json",
                    "rsa_signature_2048_sha512_test.json", "rsa_signature_3072_sha256_test.json",
                    "rsa_signature_3072_sha512_test.json", "rsa_signature_4096_sha256_test.json",
                    "rsa_signature_4096_sha512_test.json", "rsa_signature_8192_sha256_test.json",
                    "rsa_signature_8192_sha512_test.json"));

const char* const kPkcs1Files[] = {"wycheproof/rsa_pkcs1_2048_test.json",
                                   "wycheproof/rsa_pkcs1_3072_test.json",
                                   "wycheproof/rsa_pkcs1_4096_test.json"};

// Wycheproof rsa_pkcs1_*_test.json (RSAES-PKCS1-v1_5, RFC 8017, 7.2.2): valid
// ciphertexts give their message, invalid ones fail.
class WycheproofRsaDecryption : public testing::TestWithParam<const char*> {};

TEST_P(WycheproofRsaDecryption, PkeyDecrypt) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, GetParam());
  const auto tests = morvane_test::ReadWycheproof(path);
  ASSERT_FALSE(tests.empty());
  std::string key_hex;
  EVP_PKEY* pkey = nullptr;
  std::vector<unsigned char> out;
  for (const auto& t : tests) {
    if (t.Get("privateKeyPkcs8") != key_hex) {  // each group has its key
      EVP_PKEY_free(pkey);
      key_hex = t.Get("privateKeyPkcs8");
      pkey = RsaFromFields(t);
      ASSERT_NE(nullptr, pkey) << "tcId " << t.id;
      out.assign(EVP_PKEY_size(pkey) + 2, 0);
    }
    const Bytes ct = FromHex(t.Get("ct"));
    const int n = EVP_PKEY_decrypt(out.data(), ct.data(), static_cast<int>(ct.size()), pkey);
    ERR_clear_error();
    if (t.Get("result") == "valid") {
      EXPECT_EQ(t.Get("msg"), morvane_test::ToHex(out.data(), n > 0 ? n : 0)) << "tcId " << t.id;
    } else if (t.Get("result") == "invalid") {
      EXPECT_EQ(-1, n) << "tcId " << t.id;
    }
  }
  EVP_PKEY_free(pkey);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofRsaDecryption, testing::ValuesIn(kPkcs1Files));

// The private key of a Wycheproof PKCS#1 file, or a skip.
#define PKCS1_KEY_OR_SKIP(var, file)                                 \
  MORVANE_VECTOR_PATH_OR_SKIP(var##_path, file);                     \
  const auto var##_tests = morvane_test::ReadWycheproof(var##_path); \
  ASSERT_FALSE(var##_tests.empty());                                 \
  RSA_CONTAINER_OR_SKIP(                                             \
      var, morvane_test::Pkcs8PrivateKey(FromHex(var##_tests[0].Get("privateKeyPkcs8"))), true)

TEST(EvpSignWithKeys, TwoSignaturesFromOneRunningDigestSignTheSameData) {
  PKCS1_KEY_OR_SKIP(pkey, kPkcs1Files[0]);
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_SignInit_ex(&ctx, EVP_sha256(), nullptr));
  ASSERT_EQ(1, EVP_SignUpdate(&ctx, "abc", 3));
  std::vector<unsigned char> s1(EVP_PKEY_size(pkey)), s2(EVP_PKEY_size(pkey));
  unsigned int n1 = 0, n2 = 0;
  ASSERT_EQ(1, EVP_SignFinal(&ctx, s1.data(), &n1, pkey));
  ASSERT_EQ(1, EVP_SignFinal(&ctx, s2.data(), &n2, pkey));
  EXPECT_EQ(s1, s2);  // PKCS#1 v1.5 signatures are deterministic
  EXPECT_EQ(1, EVP_VerifyFinal(&ctx, s1.data(), n1, pkey));
  ASSERT_EQ(1, EVP_SignUpdate(&ctx, "d", 1));  // the digest still runs: now "abcd"
  ASSERT_EQ(1, EVP_SignFinal(&ctx, s2.data(), &n2, pkey));
  EXPECT_NE(s1, s2);
  EXPECT_EQ(0, EVP_VerifyFinal(&ctx, s1.data(), n1, pkey));
  EXPECT_EQ(1, EVP_VerifyFinal(&ctx, s2.data(), n2, pkey));
  EVP_MD_CTX_cleanup(&ctx);
  EVP_PKEY_free(pkey);
  ERR_clear_error();
}

// The private key of a Wycheproof PKCS#1 file from its numbers, or a skip.
#define PKCS1_RAW_KEY_OR_SKIP(var, file)                             \
  MORVANE_VECTOR_PATH_OR_SKIP(var##_path, file);                     \
  const auto var##_tests = morvane_test::ReadWycheproof(var##_path); \
  ASSERT_FALSE(var##_tests.empty());                                 \
  EVP_PKEY* var = RsaFromFields(var##_tests[0]);                     \
  ASSERT_NE(nullptr, var)

TEST(EvpSealWithKeys, ThreeRecipientsEachOpen) {
  PKCS1_RAW_KEY_OR_SKIP(k1, kPkcs1Files[0]);
  PKCS1_RAW_KEY_OR_SKIP(k2, kPkcs1Files[1]);
  PKCS1_RAW_KEY_OR_SKIP(k3, kPkcs1Files[2]);
  EVP_PKEY* keys[] = {k1, k2, k3};
  std::vector<unsigned char> ek[3];
  unsigned char* eks[3];
  for (int i = 0; i < 3; i++) {
    ek[i].resize(EVP_PKEY_size(keys[i]));
    eks[i] = ek[i].data();
  }
  int ekl[3] = {};
  unsigned char iv[EVP_MAX_IV_LENGTH];
  const std::string msg = "a message sealed to three recipients";
  EVP_CIPHER_CTX ctx;
  ASSERT_EQ(3, EVP_SealInit(&ctx, EVP_aes_256_cbc(), eks, ekl, iv, keys, 3));
  unsigned char ct[128];
  int n = 0, m = 0;
  ASSERT_EQ(1, EVP_SealUpdate(&ctx, ct, &n, reinterpret_cast<const unsigned char*>(msg.data()),
                              static_cast<int>(msg.size())));
  ASSERT_EQ(1, EVP_SealFinal(&ctx, ct + n, &m));
  EVP_CIPHER_CTX_cleanup(&ctx);
  const int ctlen = n + m;
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<int>(ek[i].size()), ekl[i]);
    ASSERT_EQ(1, EVP_OpenInit(&ctx, EVP_aes_256_cbc(), eks[i], ekl[i], iv, keys[i]));
    unsigned char pt[128];
    ASSERT_EQ(1, EVP_OpenUpdate(&ctx, pt, &n, ct, ctlen));
    ASSERT_EQ(1, EVP_OpenFinal(&ctx, pt + n, &m));
    EXPECT_EQ(msg, std::string(reinterpret_cast<char*>(pt), n + m));
    EVP_CIPHER_CTX_cleanup(&ctx);
  }
  // Another recipient's key does not open it.
  EXPECT_EQ(0, EVP_OpenInit(&ctx, EVP_aes_256_cbc(), eks[0], ekl[0], iv, k2));
  EVP_CIPHER_CTX_cleanup(&ctx);
  ERR_clear_error();
  for (EVP_PKEY* k : keys) EVP_PKEY_free(k);
}

}  // namespace
