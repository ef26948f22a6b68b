// Published vectors through the raw operations and the padding checks: NIST's
// RSADP component test (SP 800-56B), and Wycheproof's RSAES-PKCS1-v1_5,
// RSAES-OAEP (SHA-1 with MGF1-SHA-1) and RSASSA-PSS (one digest for the hash
// and MGF1) decryption and verification files.

#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::DrainErrors;
using morvane_test::FromHex;

constexpr int kR = ERR_LIB_RSA;

// A share of a file's cases: those whose position modulo `of` is `part`, so
// that no single test takes long.
struct Share {
  const char* file;
  int part, of;
};
bool InShare(const Share& s, int index) {
  return index % s.of == s.part;
}
std::string ShareName(const testing::TestParamInfo<Share>& info) {
  std::string name = info.param.file;
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name + "_" + std::to_string(info.param.part);
}
std::vector<Share> Shares(const char* file, int of) {
  std::vector<Share> all;
  for (int i = 0; i < of; i++) all.push_back({file, i, of});
  return all;
}

// The private key of a Wycheproof test, made again only when it changes.
class KeyCache {
 public:
  RSA* For(const morvane_test::WycheproofTest& t) {
    if (t.Get("privateKey.modulus") != modulus_) {
      modulus_ = t.Get("privateKey.modulus");
      key_ = MakeKey(WycheproofKey(t));
    }
    return key_.get();
  }

 private:
  std::string modulus_;
  Rsa key_;
};

const EVP_MD* DigestOf(const std::string& name) {
  if (name == "SHA-1") return EVP_sha1();
  if (name == "SHA-224") return EVP_sha224();
  if (name == "SHA-256") return EVP_sha256();
  if (name == "SHA-384") return EVP_sha384();
  if (name == "SHA-512") return EVP_sha512();
  return nullptr;
}

// c^d mod n for keys that carry n, e and d only (their e as long as n): the
// Pass cases give k in RSA_size bytes, with blinding and without, and the
// Fail cases (c >= n) are refused.
class NistRsadp : public testing::TestWithParam<Share> {};

TEST_P(NistRsadp, PrivateDecryption) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, GetParam().file);
  int index = 0;
  for (const auto& t : morvane_test::ReadRsp(path)) {
    if (!t.Has("Result") || !InShare(GetParam(), index++)) continue;
    Rsa owned = MakeKey({{"n", t.Get("n")}, {"e", t.Get("e")}, {"d", t.Get("d")}}, "n,e,d");
    RSA* key = owned.get();
    const int k = RSA_size(key);
    Bytes c = FromHex(t.Get("c")), out(k, 0x5A);
    if (t.Get("Result") == "Fail") {
      EXPECT_EQ(RSA_private_decrypt(static_cast<int>(c.size()), c.data(), out.data(), key,
                                    RSA_NO_PADDING),
                -1);
      EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_DATA_TOO_LARGE_FOR_MODULUS}});
      continue;
    }
    Bytes want = FromHex(t.Get("k"));
    want.insert(want.begin(), static_cast<size_t>(k) - want.size(), 0);
    for (int flags : {0, RSA_FLAG_NO_BLINDING}) {
      key->flags |= flags;
      ASSERT_EQ(RSA_private_decrypt(static_cast<int>(c.size()), c.data(), out.data(), key,
                                    RSA_NO_PADDING),
                k);
      EXPECT_EQ(out, want) << "COUNT " << t.Get("COUNT") << ", flags " << flags;
    }
  }
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(
    RsaVectors, NistRsadp,
    testing::ValuesIn(Shares("nist-cavp/components/RSADPtestvectors/RSADPComponent800_56B.txt", 4)),
    ShareName);

// RSAES-PKCS1-v1_5 decryption (padding 1): valid cases give their message,
// invalid ones -1 without touching the output.
class WycheproofPkcs1 : public testing::TestWithParam<Share> {};

TEST_P(WycheproofPkcs1, Decryption) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, GetParam().file);
  KeyCache cache;
  int index = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    if (!InShare(GetParam(), index++)) continue;
    RSA* key = cache.For(t);
    const int k = RSA_size(key);
    const Bytes ct = FromHex(t.Get("ct")), msg = FromHex(t.Get("msg"));
    Bytes out(k, 0x5A);
    const int r = RSA_private_decrypt(static_cast<int>(ct.size()), ct.data(), out.data(), key,
                                      RSA_PKCS1_PADDING);
    if (t.Get("result") == "valid") {
      EXPECT_EQ(r, static_cast<int>(msg.size())) << "tcId " << t.id;
      EXPECT_EQ(Bytes(out.begin(), out.begin() + msg.size()), msg) << "tcId " << t.id;
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(r, -1) << "tcId " << t.id;
      EXPECT_EQ(out, Bytes(k, 0x5A)) << "tcId " << t.id;
      DrainErrors();
    }
  }
}

std::vector<Share> Pkcs1Shares() {
  std::vector<Share> all = Shares("wycheproof/rsa_pkcs1_2048_test.json", 2);
  for (const Share& s : Shares("wycheproof/rsa_pkcs1_3072_test.json", 3)) all.push_back(s);
  for (const Share& s : Shares("wycheproof/rsa_pkcs1_4096_test.json", 6)) all.push_back(s);
  return all;
}
INSTANTIATE_TEST_SUITE_P(RsaVectors, WycheproofPkcs1, testing::ValuesIn(Pkcs1Shares()), ShareName);

// RSAES-OAEP with SHA-1 and MGF1-SHA-1: the raw decryption (padding 3), then
// the OAEP check with the case's label.  Keys of three primes are held as
// two-prime keys with their first two primes: the CRT result is wrong and the
// check against e replaces it, so every valid case still decrypts.  Groups
// with another digest do not apply.
class WycheproofOaep : public testing::TestWithParam<Share> {};

TEST_P(WycheproofOaep, Decryption) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, GetParam().file);
  KeyCache cache;
  int index = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    if (t.Get("sha") != "SHA-1" || t.Get("mgfSha") != "SHA-1") continue;
    if (!InShare(GetParam(), index++)) continue;
    RSA* key = cache.For(t);
    const int k = RSA_size(key);
    const Bytes ct = FromHex(t.Get("ct")), msg = FromHex(t.Get("msg"));
    const Bytes label = FromHex(t.Get("label"));
    Bytes block(k), out(k, 0x5A);
    const std::string what = "tcId " + std::to_string(t.id);
    const int raw = RSA_private_decrypt(static_cast<int>(ct.size()), ct.data(), block.data(), key,
                                        RSA_NO_PADDING);
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
    } else {
      EXPECT_EQ(r, -1) << what;
      EXPECT_EQ(out, Bytes(k, 0x5A)) << what;
      if (raw == k) {
        EXPECT_ERRORS({{kR, RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP, RSA_R_OAEP_DECODING_ERROR}})
            << what;
      } else if (ct.size() <= static_cast<size_t>(k)) {
        EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_DATA_TOO_LARGE_FOR_MODULUS}})
            << what;
      } else {
        EXPECT_ERRORS({{kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, RSA_R_DATA_GREATER_THAN_MOD_LEN}})
            << what;
      }
    }
  }
}

std::vector<Share> OaepShares() {
  std::vector<Share> all = Shares("wycheproof/rsa_oaep_2048_sha1_mgf1sha1_test.json", 1);
  for (const Share& s : Shares("wycheproof/rsa_three_primes_oaep_2048_sha1_mgf1sha1_test.json", 3))
    all.push_back(s);
  all.push_back({"wycheproof/rsa_oaep_misc_test.json", 0, 1});
  return all;
}
INSTANTIATE_TEST_SUITE_P(RsaVectors, WycheproofOaep, testing::ValuesIn(OaepShares()), ShareName);

// RSASSA-PSS where the hash and MGF1 use one digest: the raw public
// operation (padding 3), then the PSS verification with the group's salt
// length; 1 for every valid case, 0 for every invalid one.  Files and groups
// with another MGF1 digest do not apply.
class WycheproofPss : public testing::TestWithParam<Share> {};

TEST_P(WycheproofPss, Verification) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, GetParam().file);
  int index = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    if (t.Get("sha") != t.Get("mgfSha") || !InShare(GetParam(), index++)) continue;
    const EVP_MD* md = DigestOf(t.Get("sha"));
    ASSERT_NE(md, nullptr) << t.Get("sha");
    Rsa owned = MakeKey(
        {{"n", t.Get("publicKey.modulus")}, {"e", t.Get("publicKey.publicExponent")}}, "n,e");
    RSA* key = owned.get();
    const int k = RSA_size(key);
    const Bytes sig = FromHex(t.Get("sig")), msg = FromHex(t.Get("msg"));
    Bytes mhash(EVP_MAX_MD_SIZE), em(k);
    ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), mhash.data(), nullptr, md, nullptr), 1);
    int r = 0;
    if (RSA_public_decrypt(static_cast<int>(sig.size()), sig.data(), em.data(), key,
                           RSA_NO_PADDING) == k) {
      r = RSA_verify_PKCS1_PSS(key, mhash.data(), md, em.data(), std::stoi(t.Get("sLen")));
    }
    const std::string what = "tcId " + std::to_string(t.id);
    if (t.Get("result") == "valid") {
      EXPECT_EQ(r, 1) << what;
      EXPECT_ERRORS({}) << what;
    } else {
      EXPECT_EQ(r, 0) << what;
      DrainErrors();
    }
  }
}

std::vector<Share> PssShares() {
  std::vector<Share> all;
  for (const char* f :
       {"rsa_pss_2048_sha1_mgf1_20_test.json", "rsa_pss_2048_sha256_mgf1_0_test.json",
        "rsa_pss_2048_sha256_mgf1_32_test.json", "rsa_pss_3072_sha256_mgf1_32_test.json",
        "rsa_pss_4096_sha256_mgf1_32_test.json", "rsa_pss_4096_sha512_mgf1_32_test.json",
        "rsa_pss_4096_sha512_mgf1_64_test.json", "rsa_pss_2048_sha1_mgf1_20_params_test.json",
        "rsa_pss_2048_sha256_mgf1_0_params_test.json",
        "rsa_pss_2048_sha256_mgf1_32_params_test.json",
        "rsa_pss_3072_sha256_mgf1_32_params_test.json",
        "rsa_pss_4096_sha512_mgf1_32_params_test.json",
        "rsa_pss_4096_sha512_mgf1_64_params_test.json", "rsa_pss_misc_test.json"}) {
    static std::vector<std::string> names;  // the paths outlive the parameters
    names.push_back(std::string("wycheproof/") + f);
    all.push_back({names.back().c_str(), 0, 1});
  }
  return all;
}
INSTANTIATE_TEST_SUITE_P(RsaVectors, WycheproofPss, testing::ValuesIn(PssShares()), ShareName);

// How many cases the files hold, and of which kind: 40 Pass and 20 Fail in
// the NIST file, 124 valid and 77 invalid in the three PKCS#1 files.
TEST(RsaVectors, CaseCounts) {
  MORVANE_VECTOR_PATH_OR_SKIP(nist,
                              "nist-cavp/components/RSADPtestvectors/RSADPComponent800_56B.txt");
  int pass = 0, fail = 0;
  for (const auto& t : morvane_test::ReadRsp(nist)) {
    if (t.Has("Result")) (t.Get("Result") == "Pass" ? pass : fail)++;
  }
  EXPECT_EQ(pass, 40);
  EXPECT_EQ(fail, 20);
  int valid = 0, invalid = 0;
  for (int bits : {2048, 3072, 4096}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path,
                                "wycheproof/rsa_pkcs1_" + std::to_string(bits) + "_test.json");
    for (const auto& t : morvane_test::ReadWycheproof(path))
      (t.Get("result") == "valid" ? valid : invalid)++;
  }
  EXPECT_EQ(valid, 124);
  EXPECT_EQ(invalid, 77);
}

}  // namespace
