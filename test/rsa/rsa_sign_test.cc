// PKCS#1 v1.5 signatures (RFC 8017, 8.2) through RSA_sign and RSA_verify and
// their OCTET STRING forms: the limits and reasons, the old MD5 note, and
// the DER-only reading of the recovered DigestInfo (BER forms, trailing
// bytes and foreign parameters are refused, a missing NULL is accepted).

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::FromHex;

constexpr int kR = ERR_LIB_RSA;
constexpr int kMd5 = 4, kSha1 = 64, kSha256 = 672, kMd5Sha1 = 114;

// A fresh key of `bits` bits with e = 65537.
Rsa Generated(int bits) {
  Rsa key(RSA_new());
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  EXPECT_EQ(1, RSA_generate_key_ex(key.get(), bits, e, nullptr)) << morvane_test::DrainErrors();
  BN_free(e);
  return key;
}

// A private-key encryption of `block` with PKCS#1 type 1 padding: a
// signature over whatever the block holds.
Bytes RawSign(RSA* key, const Bytes& block) {
  Bytes sig(static_cast<size_t>(RSA_size(key)));
  const int n = RSA_private_encrypt(static_cast<int>(block.size()), block.data(), sig.data(), key,
                                    RSA_PKCS1_PADDING);
  EXPECT_EQ(RSA_size(key), n) << morvane_test::DrainErrors();
  return sig;
}

Bytes Sign(int type, const Bytes& m, RSA* key, int* ok) {
  Bytes sig(static_cast<size_t>(RSA_size(key)));
  unsigned int len = 0;
  *ok = RSA_sign(type, m.data(), static_cast<unsigned>(m.size()), sig.data(), &len, key);
  sig.resize(*ok ? len : 0);
  return sig;
}

int Verify(int type, const Bytes& m, const Bytes& sig, RSA* key) {
  return RSA_verify(type, m.data(), static_cast<unsigned>(m.size()), sig.data(),
                    static_cast<unsigned>(sig.size()), key);
}

Bytes Cat(const std::string& hex, const Bytes& tail) {
  Bytes b = FromHex(hex);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

// The DigestInfo of SHA-256 (RFC 8017, 9.2 note 1) up to the digest.
const char kSha256Prefix[] = "3031300d060960864801650304020105000420";

TEST(RsaSign, SignsAndVerifiesEachDigest) {
  Rsa key = MakeKey(TestKey(1024));
  for (const EVP_MD* md :
       {EVP_md5(), EVP_sha1(), EVP_sha224(), EVP_sha256(), EVP_sha384(), EVP_sha512()}) {
    const Bytes m = Pseudo(static_cast<size_t>(EVP_MD_size(md)), EVP_MD_type(md));
    int ok = 0;
    const Bytes sig = Sign(EVP_MD_type(md), m, key.get(), &ok);
    ASSERT_EQ(1, ok) << morvane_test::DrainErrors();
    EXPECT_EQ(128u, sig.size());
    EXPECT_EQ(1, Verify(EVP_MD_type(md), m, sig, key.get())) << morvane_test::DrainErrors();
    Bytes other = m;
    other[0] ^= 1;
    EXPECT_EQ(0, Verify(EVP_MD_type(md), other, sig, key.get()));
    EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_BAD_SIGNATURE}});
  }
}

// SHA-1's DigestInfo has 35 bytes: it needs 35 + 11 = 46 bytes of modulus.
TEST(RsaSign, DigestInfoMustFitTheModulus) {
  const Bytes m = Pseudo(20, 1);
  Rsa fits = Generated(368);
  ASSERT_EQ(46, RSA_size(fits.get()));
  int ok = 0;
  const Bytes sig = Sign(kSha1, m, fits.get(), &ok);
  EXPECT_EQ(1, ok);
  EXPECT_EQ(1, Verify(kSha1, m, sig, fits.get()));
  Rsa small = Generated(360);
  ASSERT_EQ(45, RSA_size(small.get()));
  Sign(kSha1, m, small.get(), &ok);
  EXPECT_EQ(0, ok);
  EXPECT_ERRORS({{kR, RSA_F_RSA_SIGN, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY}});
}

TEST(RsaSign, Md5Sha1TakesExactly36Bytes) {
  Rsa key = MakeKey(TestKey(512));
  int ok = 0;
  Sign(kMd5Sha1, Pseudo(35, 2), key.get(), &ok);
  EXPECT_EQ(0, ok);
  EXPECT_ERRORS({{kR, RSA_F_RSA_SIGN, RSA_R_INVALID_MESSAGE_LENGTH}});
  const Bytes m = Pseudo(36, 3);
  const Bytes sig = Sign(kMd5Sha1, m, key.get(), &ok);
  ASSERT_EQ(1, ok);
  // The block is the 36 bytes themselves, without DigestInfo.
  Bytes block(64);
  ASSERT_EQ(36, RSA_public_decrypt(64, sig.data(), block.data(), key.get(), RSA_PKCS1_PADDING));
  EXPECT_EQ(m, Bytes(block.begin(), block.begin() + 36));
  EXPECT_EQ(1, Verify(kMd5Sha1, m, sig, key.get()));
  EXPECT_EQ(0, Verify(kMd5Sha1, Pseudo(35, 3), sig, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_INVALID_MESSAGE_LENGTH}});
  EXPECT_EQ(0, Verify(kMd5Sha1, Pseudo(36, 4), sig, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_BAD_SIGNATURE}});
}

TEST(RsaSign, UnknownAlgorithms) {
  Rsa key = MakeKey(TestKey(512));
  int ok = 1;
  Sign(33, Pseudo(20, 1), key.get(), &ok);  // DES-EDE3 has no identifier
  EXPECT_EQ(0, ok);
  EXPECT_ERRORS({{kR, RSA_F_RSA_SIGN, RSA_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD}});
  Sign(1000000, Pseudo(20, 1), key.get(), &ok);
  EXPECT_EQ(0, ok);
  EXPECT_EQ(RSA_R_UNKNOWN_ALGORITHM_TYPE, ERR_GET_REASON(ERR_peek_last_error()));
  ERR_clear_error();
}

TEST(RsaSign, WrongLengthAndAlgorithm) {
  Rsa key = MakeKey(TestKey(1024));
  const Bytes m = Pseudo(20, 5);
  int ok = 0;
  Bytes sig = Sign(kSha1, m, key.get(), &ok);
  ASSERT_EQ(1, ok);
  Bytes shorter(sig.begin() + 1, sig.end());
  EXPECT_EQ(0, Verify(kSha1, m, shorter, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_WRONG_SIGNATURE_LENGTH}});
  EXPECT_EQ(0, Verify(kMd5, Pseudo(16, 5), sig, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_ALGORITHM_MISMATCH}});
}

// Blocks that decode as a SHA-256 DigestInfo under a tolerant BER reader but
// are not its DER encoding, or hold more than it: each is "bad signature".
TEST(RsaSign, OnlyTheDerDigestInfoVerifies) {
  Rsa key = MakeKey(TestKey(1024));
  const Bytes m = Pseudo(32, 9);
  const std::string d = morvane_test::ToHex(m);
  struct Case {
    const char* what;
    std::string hex;
  };
  const Case cases[] = {
      {"a byte after the DigestInfo", std::string(kSha256Prefix) + d + "00"},
      {"long-form outer length", "308131300d060960864801650304020105000420" + d},
      {"long-form algorithm length", "303230810d060960864801650304020105000420" + d},
      {"long-form digest length", "3032300d06096086480165030402010500048120" + d},
      {"long-form NULL length",
       "3032300e0609608648016503040201058100"
       "0420" +
           d},
      {"indefinite outer length", "3080300d060960864801650304020105000420" + d + "0000"},
      {"a parameter that is not NULL", "3031300d060960864801650304020104000420" + d},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes sig = RawSign(key.get(), FromHex(c.hex));
    EXPECT_EQ(0, Verify(kSha256, m, sig, key.get()));
    EXPECT_EQ(RSA_R_BAD_SIGNATURE, ERR_GET_REASON(ERR_peek_last_error()))
        << morvane_test::DrainErrors();
    ERR_clear_error();
  }
  // The DER form verifies, and so does the form without the NULL.
  EXPECT_EQ(1, Verify(kSha256, m, RawSign(key.get(), Cat(kSha256Prefix, m)), key.get()));
  EXPECT_EQ(1, Verify(kSha256, m, RawSign(key.get(), Cat("302f300b06096086480165030402010420", m)),
                      key.get()))
      << morvane_test::DrainErrors();
}

// A DigestInfo naming md5WithRSAEncryption verifies for MD5 with a note on
// standard error (checked in a child process); md2WithRSAEncryption is no
// MD5 algorithm.
TEST(RsaSignDeathTest, OldMd5SignatureVerifiesWithANote) {
  const Bytes m = Pseudo(16, 11);
  const Bytes block =
      Cat("3021300d06092a864886f70d0101040500"
          "0410",
          m);
  EXPECT_EXIT(
      {
        Rsa key = MakeKey(TestKey(1024));
        const Bytes sig = RawSign(key.get(), block);
        exit(Verify(kMd5, m, sig, key.get()) == 1 && ERR_peek_error() == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^signature has problems, re-make with post Quorix045\n$");
  Rsa key = MakeKey(TestKey(1024));
  const Bytes md2 =
      Cat("3021300d06092a864886f70d0101020500"
          "0410",
          m);
  EXPECT_EQ(0, Verify(kMd5, m, RawSign(key.get(), md2), key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_ALGORITHM_MISMATCH}});
}

// A method with its own sign and verify takes the calls when the key's
// flags ask for it.
int g_method_calls = 0;
int MethodSign(int, const unsigned char*, unsigned int, unsigned char*, unsigned int* siglen,
               const RSA*) {
  g_method_calls++;
  *siglen = 7;
  return 1;
}
int MethodVerify(int, const unsigned char*, unsigned int, const unsigned char*, unsigned int,
                 const RSA*) {
  g_method_calls++;
  return 1;
}

TEST(RsaSign, MethodHooksWithTheFlag) {
  RSA_METHOD meth = *RSA_PKCS1_Quorix();
  meth.rsa_sign = MethodSign;
  meth.rsa_verify = MethodVerify;
  Rsa key = MakeKey(TestKey(512));
  RSA_set_method(key.get(), &meth);
  const Bytes m = Pseudo(20, 1);
  int ok = 0;
  Bytes sig = Sign(kSha1, m, key.get(), &ok);
  EXPECT_EQ(0, g_method_calls);
  key->flags |= RSA_FLAG_SIGN_VER;
  Bytes hooked = Sign(kSha1, m, key.get(), &ok);
  EXPECT_EQ(7u, hooked.size());
  EXPECT_EQ(1, Verify(kSha1, Pseudo(20, 2), sig, key.get()));
  EXPECT_EQ(2, g_method_calls);
  // The length is checked before the method is asked.
  EXPECT_EQ(0, Verify(kSha1, m, hooked, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY, RSA_R_WRONG_SIGNATURE_LENGTH}});
  EXPECT_EQ(2, g_method_calls);
}

// The OCTET STRING forms: a round trip, the size limit, and only the DER
// OCTET STRING filling the block.
TEST(RsaSign, OctetStringForm) {
  Rsa key = MakeKey(TestKey(512));
  const Bytes m = Pseudo(30, 13);
  Bytes sig(64);
  unsigned int len = 0;
  ASSERT_EQ(1, RSA_sign_ASN1_OCTET_STRING(0, m.data(), 30, sig.data(), &len, key.get()));
  EXPECT_EQ(64u, len);
  EXPECT_EQ(1, RSA_verify_ASN1_OCTET_STRING(0, m.data(), 30, sig.data(), 64, key.get()));
  EXPECT_EQ(0, RSA_verify_ASN1_OCTET_STRING(0, m.data(), 29, sig.data(), 64, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_ASN1_OCTET_STRING, RSA_R_BAD_SIGNATURE}});
  EXPECT_EQ(0, RSA_verify_ASN1_OCTET_STRING(0, m.data(), 30, sig.data(), 63, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_VERIFY_ASN1_OCTET_STRING, RSA_R_WRONG_SIGNATURE_LENGTH}});
  // 64 - 11 = 53 bytes of block: an OCTET STRING of 51 bytes fits, 52 not.
  const Bytes big = Pseudo(52, 1);
  EXPECT_EQ(1, RSA_sign_ASN1_OCTET_STRING(0, big.data(), 51, sig.data(), &len, key.get()));
  EXPECT_EQ(0, RSA_sign_ASN1_OCTET_STRING(0, big.data(), 52, sig.data(), &len, key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_SIGN_ASN1_OCTET_STRING, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY}});
  for (const std::string& hex :
       {"041e" + morvane_test::ToHex(m) + "00", "04811e" + morvane_test::ToHex(m)}) {
    Bytes forged = RawSign(key.get(), FromHex(hex));
    EXPECT_EQ(0, RSA_verify_ASN1_OCTET_STRING(0, m.data(), 30, forged.data(), 64, key.get()));
    EXPECT_EQ(RSA_R_BAD_SIGNATURE, ERR_GET_REASON(ERR_peek_last_error())) << hex;
    ERR_clear_error();
  }
}

}  // namespace
