// Published vectors through the raw operations and the padding checks: NIST's
// RSADP component test (SP 800-56B), and Wycheproof's RSAES-PKCS1-v1_5,
// RSAES-OAEP (SHA-1 with MGF1-SHA-1) and RSASSA-PSS (one digest for the hash
// and MGF1) decryption and verification files.

#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <string>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::DrainErrors;
using morvane_test::FromHex;

constexpr int kR = ERR_LIB_RSA;

const EVP_MD* DigestOf(const std::string& name) {
  if (name == "SHA-1") return EVP_sha1();
  if (name == "SHA-224") return EVP_sha224();
  if (name == "SHA-256") return EVP_sha256();
  if (name == "SHA-384") return EVP_sha384();
  if (name == "SHA-512") return EVP_sha512();
  return nullptr;
}

// c^d mod n for keys that carry n, e and d only (their e as long as n): the
// 40 Pass cases give k in RSA_size bytes, with blinding and without, and the
// 20 Fail cases (c >= n) are refused.
class NistRsadp : public testing::TestWithParam<int> {};

TEST_P(NistRsadp, ModulusSize) {
  MORVANE_VECTOR_PATH_OR_SKIP(path,
                              "nist-cavp/components/RSADPtestvectors/RSADPComponent800_56B.txt");
  int pass = 0, fail = 0;
  for (const auto& t : morvane_test::ReadRsp(path)) {
    if (!t.Has("Result") || t.section.at("mod") != std::to_string(GetParam())) continue;
    Rsa key = MakeKey({{"n", t.Get("n")}, {"e", t.Get("e")}, {"d", t.Get("d")}}, "n,e,d");
    const int k = RSA_size(key.get());
    Bytes c = FromHex(t.Get("c")), out(k, 0x5A);
    if (t.Get("Result") == "Fail") {
      EXPECT_EQ(RSA_private_decrypt(static_cast<int>(c.size()), c.data(), out.data(), key.get(),
                                    RSA_NO_PADDING),
                -1);
      EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_DATA_TOO_LARGE_FOR_MODULUS}});
      fail++;
      continue;
    }
    Bytes want = FromHex(t.Get("k"));
    want.insert(want.begin(), static_cast<size_t>(k) - want.size(), 0);
    for (int flags : {0, RSA_FLAG_NO_BLINDING}) {
      key->flags |= flags;
      ASSERT_EQ(RSA_private_decrypt(static_cast<int>(c.size()), c.data(), out.data(), key.get(),
                                    RSA_NO_PADDING),
                k);
      EXPECT_EQ(out, want) << "COUNT " << t.Get("COUNT") << ", flags " << flags;
    }
    pass++;
  }
  EXPECT_EQ(pass, 20);  // 40 Pass and 20 Fail cases in all
  EXPECT_EQ(fail, 10);
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(RsaVectors, NistRsadp, testing::Values(1024, 2048));

// RSAES-PKCS1-v1_5 decryption (padding 1): valid cases give their message,
// invalid ones -1 without touching the output.
class WycheproofPkcs1 : public testing::TestWithParam<int> {};

TEST_P(WycheproofPkcs1, Decryption) {
  int valid = 0, invalid = 0;
  const std::string name = "rsa_pkcs1_" + std::to_string(GetParam()) + "_test.json";
  {
    const char* file = name.c_str();
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + file);
    std::string last_key;
    Rsa key;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      if (t.Get("privateKey.modulus") != last_key) {
        last_key = t.Get("privateKey.modulus");
        key = MakeKey(WycheproofKey(t));
      }
      const int k = RSA_size(key.get());
      const Bytes ct = FromHex(t.Get("ct")), msg = FromHex(t.Get("msg"));
      Bytes out(k, 0x5A);
      const int r = RSA_private_decrypt(static_cast<int>(ct.size()), ct.data(), out.data(),
                                        key.get(), RSA_PKCS1_PADDING);
      if (t.Get("result") == "valid") {
        EXPECT_EQ(r, static_cast<int>(msg.size())) << file << " tcId " << t.id;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + msg.size()), msg) << file << " tcId " << t.id;
        EXPECT_ERRORS({});
        valid++;
      } else {
        EXPECT_EQ(r, -1) << file << " tcId " << t.id;
        EXPECT_EQ(out, Bytes(k, 0x5A)) << file << " tcId " << t.id;
        DrainErrors();
        invalid++;
      }
    }
  }
  // 124 valid and 77 invalid cases in the three files.
  EXPECT_EQ(valid, GetParam() == 2048 ? 42 : 41);
  EXPECT_EQ(invalid, GetParam() == 2048 ? 25 : 26);
}

INSTANTIATE_TEST_SUITE_P(RsaVectors, WycheproofPkcs1, testing::Values(2048, 3072, 4096));

// RSAES-OAEP with SHA-1 and MGF1-SHA-1: the raw decryption (padding 3), then
// the OAEP check with the case's label.  Keys of three primes are held as
// two-prime keys with their first two primes: the CRT result is wrong and the
// check against e replaces it, so every valid case still decrypts.
class WycheproofOaep : public testing::TestWithParam<const char*> {};

TEST_P(WycheproofOaep, Decryption) {
  int valid = 0, invalid = 0;
  {
    const char* file = GetParam();
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + file);
    std::string last_key;
    Rsa key;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      if (t.Get("sha") != "SHA-1" || t.Get("mgfSha") != "SHA-1") continue;
      if (t.Get("privateKey.modulus") != last_key) {
        last_key = t.Get("privateKey.modulus");
        key = MakeKey(WycheproofKey(t));
      }
      const int k = RSA_size(key.get());
      const Bytes ct = FromHex(t.Get("ct")), msg = FromHex(t.Get("msg"));
      const Bytes label = FromHex(t.Get("label"));
      Bytes block(k), out(k, 0x5A);
      const std::string what = std::string(file) + " tcId " + std::to_string(t.id);
      const int raw = RSA_private_decrypt(static_cast<int>(ct.size()), ct.data(), block.data(),
                                          key.get(), RSA_NO_PADDING);
      int r = -1;
      if (raw == k) {
        // The whole block: its leading byte is tested for zero with the rest.
        r = RSA_padding_check_PKCS1_OAEP(out.data(), k, block.data(), k, k, label.data(),
                                         static_cast<int>(label.size()));
      }
      if (t.Get("result") == "valid") {
        EXPECT_EQ(r, static_cast<int>(msg.size())) << what;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + msg.size()), msg) << what;
        EXPECT_ERRORS({}) << what;
        valid++;
      } else {
        EXPECT_EQ(r, -1) << what;
        EXPECT_EQ(out, Bytes(k, 0x5A)) << what;
        const int fn =
            raw == k ? RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP : RSA_F_RSA_VEK_PRIVATE_DECRYPT;
        const int reason = raw == k ? RSA_R_OAEP_DECODING_ERROR : RSA_R_DATA_TOO_LARGE_FOR_MODULUS;
        if (raw == k || ct.size() <= static_cast<size_t>(k)) {
          EXPECT_ERRORS({{kR, fn, reason}}) << what;
        } else {
          EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_DATA_GREATER_THAN_MOD_LEN}})
              << what;
        }
        invalid++;
      }
    }
  }
  EXPECT_EQ(valid, std::string(GetParam()) == "rsa_oaep_misc_test.json" ? 12 : 17);
  EXPECT_EQ(invalid, std::string(GetParam()) == "rsa_oaep_misc_test.json" ? 0 : 19);
}

INSTANTIATE_TEST_SUITE_P(RsaVectors, WycheproofOaep,
                         testing::Values("rsa_oaep_2048_sha1_mgf1sha1_test.json",
                                         "rsa_three_primes_oaep_2048_sha1_mgf1sha1_test.json",
                                         "rsa_oaep_misc_test.json"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::to_string(info.index);
                         });

// RSASSA-PSS where the hash and MGF1 use one digest: the raw public
// operation (padding 3), then the PSS verification with the group's salt
// length; 1 for every valid case, 0 for every invalid one.
TEST(RsaVectors, WycheproofPssVerification) {
  int valid = 0, invalid = 0;
  for (const char* file :
       {"rsa_pss_2048_sha1_mgf1_20_test.json", "rsa_pss_2048_sha256_mgf1_0_test.json",
        "rsa_pss_2048_sha256_mgf1_32_test.json", "rsa_pss_3072_sha256_mgf1_32_test.json",
        "rsa_pss_4096_sha256_mgf1_32_test.json", "rsa_pss_4096_sha512_mgf1_32_test.json",
        "rsa_pss_4096_sha512_mgf1_64_test.json", "rsa_pss_2048_sha1_mgf1_20_params_test.json",
        "rsa_pss_2048_sha256_mgf1_0_params_test.json",
        "rsa_pss_2048_sha256_mgf1_32_params_test.json",
        "rsa_pss_3072_sha256_mgf1_32_params_test.json",
        "rsa_pss_4096_sha512_mgf1_32_params_test.json",
        "rsa_pss_4096_sha512_mgf1_64_params_test.json", "rsa_pss_misc_test.json"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + file);
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      if (t.Get("sha") != t.Get("mgfSha")) continue;
      const EVP_MD* md = DigestOf(t.Get("sha"));
      ASSERT_NE(md, nullptr) << t.Get("sha");
      Rsa key = MakeKey(
          {{"n", t.Get("publicKey.modulus")}, {"e", t.Get("publicKey.publicExponent")}}, "n,e");
      const int k = RSA_size(key.get());
      const Bytes sig = FromHex(t.Get("sig")), msg = FromHex(t.Get("msg"));
      Bytes mhash(EVP_MAX_MD_SIZE), em(k);
      ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), mhash.data(), nullptr, md, nullptr), 1);
      int r = 0;
      if (RSA_public_decrypt(static_cast<int>(sig.size()), sig.data(), em.data(), key.get(),
                             RSA_NO_PADDING) == k) {
        r = RSA_verify_PKCS1_PSS(key.get(), mhash.data(), md, em.data(), std::stoi(t.Get("sLen")));
      }
      const std::string what = std::string(file) + " tcId " + std::to_string(t.id);
      if (t.Get("result") == "valid") {
        EXPECT_EQ(r, 1) << what;
        EXPECT_ERRORS({}) << what;
        valid++;
      } else {
        EXPECT_EQ(r, 0) << what;
        DrainErrors();
        invalid++;
      }
    }
  }
  EXPECT_GT(valid, 0);
  EXPECT_GT(invalid, 0);
}

}  // namespace
