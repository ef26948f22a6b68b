// The legacy Netscape encrypted RSA key: the checks of a stored record made
// before a pass phrase is asked for, the pass-phrase sources, records
// encrypted here under both key derivations, and, with RSA keys, the round
// trips.

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/ui.h>
#include <morvane/x509.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

// A stored record (X.690 DER) with the label, algorithm and ciphertext
// given as hex: SEQUENCE { OCTET STRING label, SEQUENCE { SEQUENCE {
// algorithm, NULL }, OCTET STRING ciphertext } }.
Bytes Record(const std::string& label, const std::string& oid, const std::string& cipher) {
  auto tlv = [](const std::string& tag, const std::string& body) {
    char len[3];
    snprintf(len, sizeof len, "%02x", static_cast<unsigned>(body.size() / 2));
    return tag + len + body;
  };
  const std::string alg = tlv("30", tlv("06", oid) + "0500");
  return FromHex(tlv("30", tlv("04", label) + tlv("30", alg + tlv("04", cipher))));
}

const char kPrivateKey[] = "707269766174652d6b6579";  // "private-key"
const char kRc4[] = "2a864886f70d0304";               // 1.2.840.113549.3.4
const char kMd5[] = "2a864886f70d0205";               // 1.2.840.113549.2.5

int calls = 0;
int Refuse(char*, int, const char*, int) {
  calls++;
  return 1;
}
// Fills the whole buffer and leaves no terminating zero.
int FillAll(char* buf, int len, const char*, int) {
  calls++;
  memset(buf, 'A', static_cast<size_t>(len));
  return 0;
}
int Secret(char* buf, int len, const char* prompt, int) {
  calls++;
  EXPECT_STREQ("Enter Private Key password:", prompt);
  snprintf(buf, static_cast<size_t>(len), "%s", "secret");
  return 0;
}
int Other(char* buf, int len, const char*, int) {
  snprintf(buf, static_cast<size_t>(len), "%s", "other");
  return 0;
}

TEST(NetscapeKey, RecordsRefusedBeforeThePassPhrase) {
  struct Case {
    Bytes der;
    int reason;
  };
  const Case cases[] = {
      {Record("707269766174652d6b657a", kRc4, "010203"), ASN1_R_PRIVATE_KEY_HEADER_MISSING},
      {Record("707269766174652d6b657921", kRc4, "010203"), ASN1_R_PRIVATE_KEY_HEADER_MISSING},
      {Record("", kRc4, "010203"), ASN1_R_PRIVATE_KEY_HEADER_MISSING},
      {Record(kPrivateKey, kMd5, "010203"), ASN1_R_UNSUPPORTED_ENCRYPTION_ALGORITHM},
      {FromHex("3003020100"), ASN1_R_DECODING_ERROR},
  };
  for (const Case& c : cases) {
    calls = 0;
    const unsigned char* p = c.der.data();
    EXPECT_EQ(nullptr, d2i_RSA_NET(nullptr, &p, static_cast<long>(c.der.size()), Secret, 0));
    EXPECT_EQ(c.der.data(), p);
    EXPECT_EQ(0, calls);
    if (c.reason == ASN1_R_DECODING_ERROR) {
      EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_D2I_RSA_NET, c.reason), ERR_peek_last_error());
      ERR_clear_error();
    } else {
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_RSA_NET, c.reason}});
    }
  }
}

// A null input pointer (or a null *in with a length) is refused, not read.
TEST(NetscapeKey, NullInputRefused) {
  calls = 0;
  EXPECT_EQ(nullptr, d2i_Netscape_RSA(nullptr, nullptr, 10, Secret));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_RSA_NET, ERR_R_PASSED_NULL_PARAMETER}});
  const unsigned char* p = nullptr;
  EXPECT_EQ(nullptr, d2i_RSA_NET(nullptr, &p, 10, Secret, 1));
  EXPECT_EQ(nullptr, p);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_EX_D2I, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_ASN1, ASN1_F_D2I_RSA_NET, ASN1_R_DECODING_ERROR}});
  EXPECT_EQ(0, calls);
}

// NETSCAPE_PKEY { 0, { rsaEncryption, NULL }, OCTET STRING "not a key" }: the
// inner record decodes, the key in it does not.
const char kInner[] =
    "301d020100300d06092a864886f70d0101010500" "04096e6f742061206b6579";

// The inner record encrypted under `pass` as the format says: RC4 keyed
// with MD5(pass), or with MD5(MD5(pass) "PLOVRAKTEN") in the salted form
// (RFC 1321; EVP_BytesToKey with one round and no salt is one MD5 pass).
Bytes Encrypted(const std::string& pass, bool sgckey) {
  unsigned char key[16], d1[16];
  unsigned int n = 0;
  if (sgckey) {
    EVP_Digest(pass.data(), pass.size(), d1, &n, EVP_md5(), nullptr);
    std::string salted(reinterpret_cast<char*>(d1), 16);
    salted += "PLOVRAKTEN";
    EVP_Digest(salted.data(), salted.size(), key, &n, EVP_md5(), nullptr);
  } else {
    EVP_Digest(pass.data(), pass.size(), key, &n, EVP_md5(), nullptr);
  }
  Bytes data = FromHex(kInner);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  int outl = 0;
  EXPECT_EQ(1, EVP_EncryptInit_ex(&ctx, EVP_rc4(), nullptr, key, nullptr));
  EXPECT_EQ(1, EVP_EncryptUpdate(&ctx, data.data(), &outl, data.data(), static_cast<int>(data.size())));
  EVP_CIPHER_CTX_cleanup(&ctx);
  return Record(kPrivateKey, kRc4, morvane_test::ToHex(data));
}

// The reason d2i_RSA_NET ends with for `der`; the queue is emptied.
int ReadReason(const Bytes& der, int (*cb)(char*, int, const char*, int), int sgckey) {
  const unsigned char* p = der.data();
  EXPECT_EQ(nullptr, d2i_RSA_NET(nullptr, &p, static_cast<long>(der.size()), cb, sgckey));
  EXPECT_EQ(der.data(), p);
  const int reason = ERR_GET_REASON(ERR_peek_last_error());
  ERR_clear_error();
  return reason;
}

TEST(NetscapeKey, KeyDerivations) {
  // The right pass phrase and form reach the key inside, which is no key.
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_KEY, ReadReason(Encrypted("secret", false), Secret, 0));
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_KEY, ReadReason(Encrypted("secret", true), Secret, 1));
  // Another pass phrase, or the other form, does not decrypt the record.
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_PRIVATE_KEY, ReadReason(Encrypted("other", false), Secret, 0));
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_PRIVATE_KEY, ReadReason(Encrypted("secret", true), Secret, 0));
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_PRIVATE_KEY, ReadReason(Encrypted("secret", false), Secret, 1));
  // A callback that fills the whole buffer gives the first 255 bytes.
  calls = 0;
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_KEY, ReadReason(Encrypted(std::string(255, 'A'), true), FillAll, 1));
  EXPECT_EQ(1, calls);
  // A callback that fails.
  calls = 0;
  EXPECT_EQ(ASN1_R_BAD_PASSWORD_READ, ReadReason(Encrypted("secret", false), Refuse, 0));
  EXPECT_EQ(1, calls);
  EXPECT_EQ(ASN1_R_BAD_PASSWORD_READ, ReadReason(Encrypted("secret", false), Refuse, 1));
  EXPECT_EQ(0, i2d_RSA_NET(nullptr, nullptr, Secret, 0));
  EXPECT_ERRORS({});
}

// Without a callback the prompt interface asks, once, with the format's prompt.
std::string g_prompt;
int g_reads = 0;
int Answer(UI* ui, UI_STRING* uis) {
  g_prompt = UI_get0_output_string(uis);
  g_reads++;
  return UI_set_result(ui, uis, "secret") == 0 ? 1 : 0;
}

TEST(NetscapeKey, DefaultPassPhraseSource) {
  UI_METHOD* method = UI_create_method("answers");
  UI_method_set_reader(method, Answer);
  UI_set_default_method(method);
  EXPECT_EQ(ASN1_R_UNABLE_TO_DECODE_RSA_KEY, ReadReason(Encrypted("secret", false), nullptr, 0));
  EXPECT_EQ(1, g_reads);
  EXPECT_NE(std::string::npos, g_prompt.find("Enter Private Key password:")) << g_prompt;
  UI_set_default_method(nullptr);
  UI_destroy_method(method);
}

TEST(NetscapeKey, OuterLengthNotHeldAgainstTheContent) {
  // The outer SEQUENCE claims two octets more than its fields take.
  Bytes der = Record(kPrivateKey, kMd5, "010203");
  der[1] += 2;
  der.push_back(0x05);
  der.push_back(0x00);
  const unsigned char* p = der.data();
  NETSCAPE_ENCRYPTED_PKEY* rec = d2i_NETSCAPE_ENCRYPTED_PKEY(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, rec);
  EXPECT_EQ(11, rec->os->length);
  NETSCAPE_ENCRYPTED_PKEY_free(rec);
  EXPECT_ERRORS({});
}

// ---- with RSA keys and the key derivation --------------------------------

// The 2048-bit key of Wycheproof's rsa_pkcs1_2048_test.json, or null with
// the reason to skip.
RSA* WycheproofRsa(std::string* why) {
  const std::string path = morvane_test::VectorFile("wycheproof/rsa_pkcs1_2048_test.json");
  if (path.empty()) {
    *why = "published vectors not found (wycheproof/rsa_pkcs1_2048_test.json)";
    return nullptr;
  }
  const Bytes der = morvane_test::Pkcs8PrivateKey(
      FromHex(morvane_test::ReadWycheproof(path).at(0).Get("privateKeyPkcs8")));
  const unsigned char* p = der.data();
  RSA* rsa = d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(der.size()));
  if (rsa == nullptr) *why = "RSA keys are not built yet: " + morvane_test::DrainErrors();
  return rsa;
}

std::string KeyDer(RSA* rsa) {
  unsigned char* der = nullptr;
  const int n = i2d_RSAPrivateKey(rsa, &der);
  std::string hex = morvane_test::ToHex(der, n > 0 ? n : 0);
  MORVANE_free(der);
  return hex;
}

TEST(NetscapeKeyWithKeys, WrittenAndReadBack) {
  std::string why;
  RSA* rsa = WycheproofRsa(&why);
  if (rsa == nullptr) GTEST_SKIP() << why;
  calls = 0;
  const int measured = i2d_RSA_NET(rsa, nullptr, Secret, 1);
  EXPECT_EQ(0, calls);
  ASSERT_GT(measured, 0);
  for (int sgckey : {0, 1}) {
    unsigned char* der = nullptr;
    const int n = i2d_RSA_NET(rsa, &der, Secret, sgckey);
    ASSERT_EQ(measured, n) << morvane_test::DrainErrors();
    const unsigned char* p = der;
    RSA* back = d2i_RSA_NET(nullptr, &p, n, Secret, sgckey);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(der + n, p);
    EXPECT_EQ(KeyDer(rsa), KeyDer(back));
    RSA_free(back);
    // The other form, or another pass phrase, does not read it.
    p = der;
    EXPECT_EQ(nullptr, d2i_RSA_NET(nullptr, &p, n, Secret, !sgckey));
    EXPECT_EQ(der, p);
    p = der;
    EXPECT_EQ(nullptr, d2i_RSA_NET(nullptr, &p, n, Other, sgckey));
    ERR_clear_error();
    MORVANE_free(der);
  }
  unsigned char* der = nullptr;
  EXPECT_EQ(0, i2d_RSA_NET(rsa, &der, Refuse, 0));
  EXPECT_EQ(nullptr, der);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_I2D_RSA_NET, ASN1_R_BAD_PASSWORD_READ}});
  RSA_free(rsa);
}

}  // namespace
