// S/MIME over PKCS#7: signing, verifying, encrypting, decrypting and the
// MIME reader and writer, with keys and certificates of pkcs7_fixture.h.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include "pkcs7_fixture.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using namespace pkcs7_test;

constexpr int kLib = ERR_LIB_PKCS7;
const std::string kContent = "Line one\nLine two\n";
const std::string kCrlfContent = "Line one\r\nLine two\r\n";
// What X509_check_private_key queues for a key of another certificate.
const morvane_test::ErrEntry kKeyMismatch = {ERR_LIB_X509, X509_F_X509_CHECK_PRIVATE_KEY,
                                             X509_R_KEY_VALUES_MISMATCH};

int AttrNid(PKCS7_SIGNER_INFO* si, int i) {
  return OBJ_obj2nid(reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i))->object);
}

PKCS7* Sign(const std::string& content, int flags, int user = 0, STACK* certs = nullptr) {
  BIO* in = MemOf(content);
  PKCS7* p7 = PKCS7_sign(UserCert(user), UserKey(user), certs, in, flags);
  BIO_free(in);
  return p7;
}

TEST(Smime, KeyOfAnotherCertificate) {
  BIO* in = MemOf(kContent);
  EXPECT_EQ(PKCS7_sign(UserCert(0), UserKey(1), nullptr, in, 0), nullptr);
  EXPECT_TRUE(ErrorsAre({kKeyMismatch, {kLib, PKCS7_F_PKCS7_SIGN,
                                         PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE}}));
  BIO_free(in);
}

TEST(Smime, DefaultSignerAttributesAndCertificates) {
  STACK* extra = StackOf({CaCert()});
  PKCS7* p7 = Sign(kContent, 0, 0, extra);
  sk_free(extra);
  ASSERT_NE(p7, nullptr);
  ASSERT_EQ(sk_num(PKCS7_get_signer_info(p7)), 1);
  PKCS7_SIGNER_INFO* si = Signer(p7, 0);
  EXPECT_EQ(ASN1_INTEGER_get(si->version), 1);
  EXPECT_EQ(OBJ_obj2nid(si->digest_alg->algorithm), 64);
  ASSERT_EQ(sk_num(p7->d.sign->cert), 2);
  EXPECT_EQ(sk_value(p7->d.sign->cert, 0), reinterpret_cast<char*>(UserCert(0)));
  EXPECT_EQ(sk_value(p7->d.sign->cert, 1), reinterpret_cast<char*>(CaCert()));

  // The attributes in DER order, each compared by its leading bytes and the
  // capability list byte for byte (RFC 2633, 2.5.2).
  ASSERT_EQ(sk_num(si->auth_attr), 4);
  struct Row {
    int nid;
    const char* prefix;
  } rows[] = {{50, "3018"}, {52, "301c"}, {51, "3023"}, {167, "3052"}};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(AttrNid(si, i), rows[i].nid) << i;
    unsigned char* der = nullptr;
    const int n = i2d_X509_ATTRIBUTE(
        reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i)), &der);
    EXPECT_EQ(morvane_test::ToHex(der, 2), rows[i].prefix) << i;
    if (rows[i].nid == 167) {
      EXPECT_EQ(morvane_test::ToHex(der, n),
                "3052" "06092a864886f70d01090f" "3145" "3043"
                "300a06082a864886f70d0307"            // des-ede3-cbc
                "300e06082a864886f70d030202020080"    // rc2-cbc 128
                "300d06082a864886f70d0302020140"      // rc2-cbc 64
                "300706052b0e030207"                  // des-cbc
                "300d06082a864886f70d0302020128");    // rc2-cbc 40
    }
    MORVANE_free(der);
  }
  PKCS7_free(p7);
}

TEST(Smime, AttributeFlags) {
  PKCS7* p7 = Sign(kContent, PKCS7_FLAG_NO_ATTRIBUTES);
  ASSERT_NE(p7, nullptr);
  EXPECT_EQ(sk_num(Signer(p7, 0)->auth_attr), -1);
  PKCS7_free(p7);
  p7 = Sign(kContent, PKCS7_FLAG_NO_CAPABILITIES);
  ASSERT_NE(p7, nullptr);
  PKCS7_SIGNER_INFO* si = Signer(p7, 0);
  ASSERT_EQ(sk_num(si->auth_attr), 3);
  EXPECT_EQ(PKCS7_get_signed_attribute(si, 167), nullptr);
  PKCS7_free(p7);
  p7 = Sign(kContent, PKCS7_FLAG_NO_CERTS);
  EXPECT_EQ(p7->d.sign->cert, nullptr);
  PKCS7_free(p7);
}

TEST(Smime, PartialLeavesSignatureEmpty) {
  PKCS7* p7 = Sign(kContent, PKCS7_FLAG_PARTIAL);
  ASSERT_NE(p7, nullptr);
  EXPECT_EQ(Signer(p7, 0)->enc_digest->length, 0);
  PKCS7_free(p7);
}

TEST(Smime, VerifyWithoutChainChecks) {
  PKCS7* p7 = Sign(kContent, 0);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, nullptr, out, PKCS7_FLAG_NO_VERIFY), 1);
  EXPECT_EQ(MemText(out), "Line one\r\nLine two\r\n");
  BIO_free(out);
  PKCS7_free(p7);
}

TEST(Smime, DetachedNeedsContentAndLeavesMemoryStreamUnread) {
  PKCS7* p7 = Sign(kContent, PKCS7_FLAG_DETACHED | PKCS7_FLAG_BINARY);
  ASSERT_NE(p7, nullptr);
  EXPECT_EQ(p7->d.sign->contents->d.data, nullptr);
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, nullptr, nullptr, PKCS7_FLAG_NO_VERIFY), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_NO_CONTENT}}));
  BIO* in = MemOf(kContent);
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, in, nullptr, PKCS7_FLAG_NO_VERIFY), 1);
  EXPECT_EQ(MemText(in), kContent);
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, in, nullptr, PKCS7_FLAG_NO_VERIFY), 1);
  BIO_free(in);
  // Other content does not verify.
  in = MemOf("Line one\n");
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, in, nullptr, PKCS7_FLAG_NO_VERIFY), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DIGEST_FAILURE},
                         {kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE}}));
  BIO_free(in);
  PKCS7_free(p7);
}

// Detached content holding a zero byte verifies when the message is read
// back from a file, as from memory: every byte of each line is kept.
TEST(Smime, DetachedContentWithAZeroByteReadsFromAFile) {
  const std::string content("Line one\r\nA zero \0 within\r\nLine three\r\n", 39);
  const int flags = PKCS7_FLAG_DETACHED | PKCS7_FLAG_BINARY;
  PKCS7* p7 = Sign(content, flags);
  ASSERT_NE(p7, nullptr);
  morvane_test::TempPath path;
  BIO* file = BIO_new_file(path.c_str(), "w");
  BIO* in = MemOf(content);
  ASSERT_EQ(SMIME_write_PKCS7(file, p7, in, flags), 1);
  BIO_free(in);
  BIO_free(file);
  PKCS7_free(p7);
  file = BIO_new_file(path.c_str(), "r");
  BIO* bcont = nullptr;
  p7 = SMIME_read_PKCS7(file, &bcont);
  ASSERT_NE(p7, nullptr);
  ASSERT_NE(bcont, nullptr);
  EXPECT_EQ(MemText(bcont), content);
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, bcont, nullptr, PKCS7_FLAG_NO_VERIFY), 1);
  BIO_free(bcont);
  BIO_free(file);
  PKCS7_free(p7);
}

TEST(Smime, TextMustBePlain) {
  PKCS7* p7 = Sign("Content-Type: text/html\r\n\r\n<p>hi</p>\r\n", PKCS7_FLAG_BINARY);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, nullptr, out,
                         PKCS7_FLAG_NO_VERIFY | PKCS7_FLAG_TEXT),
            0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_ASN1, ASN1_F_SMIME_TEXT, ASN1_R_INVALID_MIME_TYPE,
                          "type: text/html"},
                         {kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SMIME_TEXT_ERROR}}));
  BIO_free(out);
  PKCS7_free(p7);
  p7 = Sign("plain words\n", PKCS7_FLAG_TEXT);
  out = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, nullptr, out,
                         PKCS7_FLAG_NO_VERIFY | PKCS7_FLAG_TEXT),
            1);
  EXPECT_EQ(MemText(out), "plain words\r\n");
  BIO_free(out);
  PKCS7_free(p7);
}

TEST(Smime, SignersLookup) {
  PKCS7* p7 = Sign(kContent, 0);
  EXPECT_EQ(PKCS7_get0_signers(p7, nullptr, PKCS7_FLAG_NO_INTERNAL), nullptr);
  EXPECT_TRUE(
      ErrorsAre({{kLib, PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND}}));
  STACK* certs = StackOf({UserCert(1), UserCert(0)});
  STACK* signers = PKCS7_get0_signers(p7, certs, PKCS7_FLAG_NO_INTERNAL);
  ASSERT_NE(signers, nullptr);
  EXPECT_EQ(sk_value(signers, 0), reinterpret_cast<char*>(UserCert(0)));
  sk_free(signers);
  sk_free(certs);
  EXPECT_EQ(PKCS7_get0_signers(nullptr, nullptr, 0), nullptr);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_INVALID_NULL_POINTER}}));
  PKCS7_free(p7);
}

// Certificates for the chain cases: an intermediate CA under the test CA, a
// signer under it, and a signer whose issuer nobody has.  Built once.
X509* Intermediate() {
  static X509* x = MakeCert(RsaKey(6), "Morvane Test Intermediate", 200, RsaKey(0),
                            X509_get_subject_name(CaCert()), true);
  return x;
}
X509* LeafUnderIntermediate() {
  static X509* x = MakeCert(UserKey(0), "Morvane Test Leaf", 300, RsaKey(6),
                            X509_get_subject_name(Intermediate()));
  return x;
}
// A certificate whose issuer is "CN=<issuer_cn>" (a PrintableString, as the
// test CA's name is), signed by the test CA's key.
X509* IssuedUnder(const char* issuer_cn, EVP_PKEY* key, const char* cn, long serial) {
  X509_NAME* name = X509_NAME_new();
  X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_FLAG | 1,
                             reinterpret_cast<const unsigned char*>(issuer_cn), -1, -1, 0);
  X509* cert = MakeCert(key, cn, serial, RsaKey(0), name);
  X509_NAME_free(name);
  return cert;
}
X509* Orphan() {
  static X509* x = IssuedUnder("Nobody's CA", UserKey(0), "Morvane Test Orphan", 400);
  return x;
}

// A CRL of the test CA (signed by its key) revoking the certificate of
// serial `serial`.
X509_CRL* CrlRevoking(long serial) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(CaCert()));
  const time_t now = time(nullptr);
  ASN1_TIME* t = ASN1_TIME_set(nullptr, now - 3600);
  X509_CRL_set_lastUpdate(crl, t);
  ASN1_TIME_set(t, now + 86400);
  X509_CRL_set_nextUpdate(crl, t);
  X509_REVOKED* rev = X509_REVOKED_new();
  ASN1_INTEGER* sn = ASN1_INTEGER_new();
  ASN1_INTEGER_set(sn, serial);
  X509_REVOKED_set_serialNumber(rev, sn);
  ASN1_TIME_set(t, now - 1800);
  X509_REVOKED_set_revocationDate(rev, t);
  X509_CRL_add0_revoked(crl, rev);
  EXPECT_GT(X509_CRL_sign(crl, RsaKey(0), EVP_sha1()), 0);
  ASN1_INTEGER_free(sn);
  ASN1_TIME_free(t);
  return crl;
}

// PKCS7_verify against a store, one message per case: who signs, what the
// message carries, what the store holds and which flags the call gets.
TEST(SmimeChain, VerifyAgainstStore) {
  enum Signer { kUser, kLeaf, kOrphan };
  const char* const kRevoked = "Verify error:certificate revoked";
  struct Row {
    const char* name;
    Signer signer;
    int sign_flags;
    bool carry_ca;            // the test CA among the message's certificates
    bool carry_intermediate;  // the intermediate CA among them
    bool carry_crl;           // a CRL of the test CA revoking the signer
    bool store_has_ca;
    unsigned long store_flags;
    bool pass_signer;  // the signer's certificate given in `certs`
    int verify_flags;
    int expected;
    const char* verify_error;  // error data of "certificate verify error"
    int reason;                // else this reason of PKCS7_verify, or 0
  } rows[] = {
      {"trusted CA", kUser, 0, false, false, false, true, 0, false, 0, 1, nullptr, 0},
      {"CA only in the message", kUser, 0, true, false, false, false, 0, false, 0, 0,
       "Verify error:self signed certificate in certificate chain", 0},
      {"empty store", kUser, 0, false, false, false, false, 0, false, 0, 0,
       "Verify error:unable to get local issuer certificate", 0},
      {"missing issuer", kOrphan, 0, false, false, false, true, 0, false, 0, 0,
       "Verify error:unable to get local issuer certificate", 0},
      {"missing issuer, no verify", kOrphan, 0, false, false, false, true, 0, false,
       PKCS7_FLAG_NO_VERIFY, 1, nullptr, 0},
      {"intermediate from the message", kLeaf, 0, false, true, false, true, 0, false, 0, 1,
       nullptr, 0},
      {"intermediate, no chain", kLeaf, 0, false, true, false, true, 0, false,
       PKCS7_FLAG_NO_CHAIN, 0, "Verify error:unable to get local issuer certificate", 0},
      {"revoked signer", kUser, 0, false, false, true, true, X509_V_FLAG_CRL_CHECK, false, 0, 0,
       kRevoked, 0},
      {"revoked signer, CRLs not used", kUser, 0, false, false, true, true,
       X509_V_FLAG_CRL_CHECK, false, PKCS7_FLAG_NO_CRLS, 0,
       "Verify error:unable to get certificate CRL", 0},
      {"revoked signer, no verify", kUser, 0, false, false, true, true, X509_V_FLAG_CRL_CHECK,
       false, PKCS7_FLAG_NO_VERIFY, 1, nullptr, 0},
      {"CRL carried, store checks none", kUser, 0, false, false, true, true, 0, false, 0, 1,
       nullptr, 0},
      {"no internal, signer given", kUser, 0, false, false, false, true, 0, true,
       PKCS7_FLAG_NO_INTERNAL, 1, nullptr, 0},
      {"no internal, signer not given", kUser, 0, false, false, false, true, 0, false,
       PKCS7_FLAG_NO_INTERNAL, 0, nullptr, -1},
      {"no certificates in the message, signer given", kUser, PKCS7_FLAG_NO_CERTS, false, false,
       false, true, 0, true, 0, 1, nullptr, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    X509* cert = r.signer == kLeaf ? LeafUnderIntermediate()
                 : r.signer == kOrphan ? Orphan()
                                       : UserCert(0);
    BIO* in = MemOf(kContent);
    PKCS7* p7 = PKCS7_sign(cert, UserKey(0), nullptr, in, r.sign_flags);
    BIO_free(in);
    ASSERT_NE(p7, nullptr);
    if (r.carry_ca) {
      EXPECT_EQ(PKCS7_add_certificate(p7, CaCert()), 1);
    }
    if (r.carry_intermediate) {
      EXPECT_EQ(PKCS7_add_certificate(p7, Intermediate()), 1);
    }
    if (r.carry_crl) {
      X509_CRL* crl = CrlRevoking(ASN1_INTEGER_get(X509_get_serialNumber(cert)));
      ASSERT_EQ(PKCS7_add_crl(p7, crl), 1);
      X509_CRL_free(crl);
    }
    X509_STORE* store = X509_STORE_new();
    if (r.store_has_ca) {
      EXPECT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
    }
    if (r.store_flags != 0) X509_STORE_set_flags(store, r.store_flags);
    STACK* certs = r.pass_signer ? StackOf({cert}) : nullptr;
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_verify(p7, certs, store, nullptr, out, r.verify_flags), r.expected);
    if (r.verify_error != nullptr) {
      EXPECT_TRUE(ErrorsAre(
          {{kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_CERTIFICATE_VERIFY_ERROR, r.verify_error}}));
      EXPECT_EQ(MemText(out), "");  // the signatures are not looked at
    } else if (r.reason == -1) {
      EXPECT_TRUE(ErrorsAre(
          {{kLib, PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND}}));
    } else {
      EXPECT_TRUE(ErrorsAre({}));
      EXPECT_EQ(MemText(out), kCrlfContent);
    }
    BIO_free(out);
    sk_free(certs);
    X509_STORE_free(store);
    PKCS7_free(p7);
  }
}

// With the chain good, the signature flags alone decide: a damaged signature
// fails unless the signatures are not verified.
TEST(SmimeChain, SignatureFlagsOverAGoodChain) {
  PKCS7* p7 = Sign(kContent, 0);
  ASSERT_NE(p7, nullptr);
  ASN1_OCTET_STRING* sig = Signer(p7, 0)->enc_digest;
  sig->data[sig->length / 2] ^= 0x01;
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(ErrorsAre(
      {{ERR_LIB_RSA, RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_1, RSA_R_BLOCK_TYPE_IS_NOT_01},
       {ERR_LIB_RSA, RSA_F_RSA_VEK_PUBLIC_DECRYPT, RSA_R_PADDING_CHECK_FAILED},
       {kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_FAILURE},
       {kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE}}));
  EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, nullptr, PKCS7_FLAG_NO_SIGNATURES), 1);
  EXPECT_TRUE(ErrorsAre({}));
  X509_STORE_free(store);
  PKCS7_free(p7);
}

constexpr int kTwins = 16;

// Certificates that carry the issuer and serial of user 0's: one with
// another key (its chain good), one with user 0's key that the CA did not
// sign (its chain bad).  Built once.
X509* TwinOtherKey() {
  static X509* x =
      MakeCert(UserKey(2), "Morvane Test Twin", 100, RsaKey(0), X509_get_subject_name(CaCert()));
  return x;
}
X509* TwinBadChain() {
  static X509* x =
      MakeCert(UserKey(0), "Morvane Test User 0", 100, RsaKey(6), X509_get_subject_name(CaCert()));
  return x;
}

// A certificate of another issuer, "CN=AAA" (a PrintableString, as the test
// CA's name is), which sorts before the test CA's name.  Built once.
X509* IssuedByAaa() {
  static X509* x = IssuedUnder("AAA", UserKey(3), "Morvane Test Under AAA", 500);
  return x;
}

// Every certificate with the signer's issuer and serial is tried, for the
// signature over the signed attributes and then for its chain, from the
// caller's list and the message's, in any order.  When none serves, the
// reason is the first one's: its chain's when its signature held.  A
// signer record whose issuer carries the CA's name as a UTF8String (the
// certificate has it as a PrintableString) still names the certificate
// beside one of an issuer that sorts before it; before, the signer was not
// found then.
TEST(SmimeChain, EveryCertificateOfTheSignersIssuerAndSerialIsTried) {
  struct Row {
    const char* name;
    std::vector<X509*> carried;  // the message's certificates
    std::vector<X509*> given;    // the caller's
    int expected;
    int reason;                // of PKCS7_verify, the last entry, when it fails
    bool utf8_issuer = false;  // the signer's issuer re-encoded as UTF8String
  } rows[] = {
      {"another key first", {TwinOtherKey(), UserCert(0)}, {}, 1, 0},
      {"a bad chain first", {TwinBadChain(), UserCert(0)}, {}, 1, 0},
      {"the signer's first", {UserCert(0), TwinOtherKey(), TwinBadChain()}, {}, 1, 0},
      {"a stale one given", {UserCert(0)}, {TwinOtherKey()}, 1, 0},
      {"none serves", {TwinBadChain(), TwinOtherKey()}, {}, 0, PKCS7_R_CERTIFICATE_VERIFY_ERROR},
      {"no signature holds", {TwinOtherKey(), TwinBadChain()}, {}, 0, PKCS7_R_SIGNATURE_FAILURE},
      {"issuer as UTF8String", {UserCert(0), IssuedByAaa()}, {}, 1, 0, true},
      {"issuer as UTF8String, given", {}, {IssuedByAaa(), UserCert(0)}, 1, 0, true},
      {"issuer as UTF8String, twins", {TwinOtherKey(), IssuedByAaa(), UserCert(0)}, {}, 1, 0, true},
  };
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PKCS7* p7 = Sign(kContent, PKCS7_FLAG_NO_CERTS);
    ASSERT_NE(p7, nullptr);
    for (X509* x : r.carried) EXPECT_EQ(PKCS7_add_certificate(p7, x), 1);
    STACK* certs = sk_new_null();
    for (X509* x : r.given) sk_push(certs, reinterpret_cast<char*>(x));
    if (r.utf8_issuer) {
      X509_NAME* issuer = Signer(p7, 0)->issuer_and_serial->issuer;
      for (int i = 0; i < sk_num(issuer->entries); i++)
        reinterpret_cast<X509_NAME_ENTRY*>(sk_value(issuer->entries, i))->value->type =
            ASN1_UT_UTF8STRING;
      issuer->modified = 1;
      // The lookup of the signers, a scan, finds it too.
      STACK* signers = PKCS7_get0_signers(p7, certs, 0);
      EXPECT_NE(signers, nullptr);
      sk_free(signers);
    }
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_verify(p7, certs, store, nullptr, out, 0), r.expected);
    if (r.expected == 1) {
      EXPECT_TRUE(ErrorsAre({}));
      EXPECT_EQ(MemText(out), kCrlfContent);
    } else {
      EXPECT_EQ(ERR_peek_last_error(), ERR_PACK(kLib, PKCS7_F_PKCS7_VERIFY, r.reason));
      ERR_clear_error();
    }
    BIO_free(out);
    sk_free(certs);
    PKCS7_free(p7);
  }
  X509_STORE_free(store);
}

// Chains the store builds and checks, counted where the revocation step
// runs (no CRL is asked for).
int chains_checked = 0;
int CountChain(X509_STORE_CTX*) {
  chains_checked++;
  return 1;
}

// Certificates with user 0's issuer and serial and user 2's key, each its
// own (their subjects differ), all with good chains.  Built once.
X509* Twin(int i) {
  static X509* twins[kTwins] = {};
  if (twins[i] == nullptr) {
    const std::string cn = "Morvane Test Twin " + std::to_string(i);
    twins[i] = MakeCert(UserKey(2), cn.c_str(), 100, RsaKey(0), X509_get_subject_name(CaCert()));
  }
  return twins[i];
}

// A sender may put many certificates with the signer's issuer and serial in
// a message: a candidate's signature over the signed attributes is checked
// before its chain, so one chain is built whatever their number, and at most
// 16 candidates are tried (the 17th is not, even when it is the signer's).
// Before, every candidate's chain was built first.
TEST(SmimeChain, TwinsOfTheSignerCostOneChain) {
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  store->check_revocation = CountChain;
  for (int twins : {15, 16}) {
    SCOPED_TRACE(twins);
    PKCS7* p7 = Sign(kContent, PKCS7_FLAG_NO_CERTS);
    ASSERT_NE(p7, nullptr);
    for (int i = 0; i < twins; i++) EXPECT_EQ(PKCS7_add_certificate(p7, Twin(i)), 1);
    EXPECT_EQ(PKCS7_add_certificate(p7, UserCert(0)), 1);
    BIO* out = BIO_new(BIO_s_mem());
    chains_checked = 0;
    if (twins < 16) {
      EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, out, 0), 1);
      EXPECT_TRUE(ErrorsAre({}));
      EXPECT_EQ(MemText(out), kCrlfContent);
      EXPECT_EQ(chains_checked, 1);
    } else {
      EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, out, 0), 0);
      EXPECT_EQ(ERR_peek_last_error(),
                ERR_PACK(kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE));
      ERR_clear_error();
      EXPECT_EQ(chains_checked, 0);
    }
    BIO_free(out);
    PKCS7_free(p7);
  }
  X509_STORE_free(store);
}

// Many signers name one certificate among many: its chain is verified once
// per call, and each signer finds its certificate without a scan of all.
// Before, each signer verified the chain again.
TEST(SmimeChain, ManySignersVerifyOneChainOnce) {
  constexpr int kSigners = 64;
  PKCS7* p7 = Sign(kContent, 0);
  ASSERT_NE(p7, nullptr);
  STACK* sinfos = PKCS7_get_signer_info(p7);
  for (int i = 1; i < kSigners; i++) {
    auto* copy =
        static_cast<PKCS7_SIGNER_INFO*>(ASN1_item_dup(&PKCS7_SIGNER_INFO_it, Signer(p7, 0)));
    ASSERT_NE(copy, nullptr);
    ASSERT_GT(sk_push(sinfos, reinterpret_cast<char*>(copy)), 0);
  }
  for (int i = 0; i < kTwins; i++) EXPECT_EQ(PKCS7_add_certificate(p7, Twin(i)), 1);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  store->check_revocation = CountChain;
  chains_checked = 0;
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, out, 0), 1);
  EXPECT_TRUE(ErrorsAre({}));
  EXPECT_EQ(MemText(out), kCrlfContent);
  EXPECT_EQ(chains_checked, 1);
  BIO_free(out);
  X509_STORE_free(store);
  PKCS7_free(p7);
}

// Signatures checked with the key of one certificate, counted by the
// method of its cached public key.
int signatures_checked = 0;
int CountingPublicDecrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                          int padding) {
  signatures_checked++;
  return RSA_get_default_method()->rsa_pub_dec(flen, from, to, rsa, padding);
}

// A signer's signature over its signed attributes is checked once with the
// certificate chosen: when the choice among several candidates checked it
// (before the content), what is left after the content is the content's
// digest.  Before, the chosen certificate's signature was checked again.
TEST(SmimeChain, TheChosenSignersSignatureIsCheckedOnce) {
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  RSA_METHOD counting = *RSA_get_default_method();
  counting.rsa_pub_dec = CountingPublicDecrypt;
  for (bool with_twin : {false, true}) {
    SCOPED_TRACE(with_twin ? "beside a twin" : "alone");
    // User 0's certificate made again, so that its key takes the method.
    X509* signer = MakeCert(UserKey(0), "Morvane Test User 0", 100, RsaKey(0),
                            X509_get_subject_name(CaCert()));
    EVP_PKEY* pub = X509_get_pubkey(signer);
    ASSERT_NE(pub, nullptr);
    RSA_set_method(pub->pkey.rsa, &counting);
    PKCS7* p7 = Sign(kContent, PKCS7_FLAG_NO_CERTS);
    ASSERT_NE(p7, nullptr);
    if (with_twin) {
      EXPECT_EQ(PKCS7_add_certificate(p7, TwinOtherKey()), 1);
    }
    EXPECT_EQ(PKCS7_add_certificate(p7, signer), 1);
    BIO* out = BIO_new(BIO_s_mem());
    signatures_checked = 0;
    EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, out, 0), 1);
    EXPECT_TRUE(ErrorsAre({}));
    EXPECT_EQ(MemText(out), kCrlfContent);
    EXPECT_EQ(signatures_checked, 1);
    // Content that the signed digest does not match still fails.
    p7->d.sign->contents->d.data->data[0] ^= 1;
    EXPECT_EQ(PKCS7_verify(p7, nullptr, store, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DIGEST_FAILURE},
                           {kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE}}));
    BIO_free(out);
    PKCS7_free(p7);
    EVP_PKEY_free(pub);
    X509_free(signer);
  }
  X509_STORE_free(store);
}

// Only the certificates a signer names are digested (to tell copies of one
// certificate apart), and only when several carry the signer's issuer and
// serial: a certificate of the caller's that no signer names, and a signer's
// that is alone, are left as they came.  Before, every certificate of both
// lists had its extensions parsed and its digest computed.
TEST(SmimeChain, OnlyCertificatesThatMayBeCopiesAreDigested) {
  const auto digested = [](X509* x) { return (x->ex_flags & EXFLAG_SET) != 0; };
  X509_NAME* ca = X509_get_subject_name(CaCert());
  for (int copies : {1, 2}) {
    SCOPED_TRACE(copies);
    X509* unnamed = MakeCert(UserKey(1), "Morvane Test Unnamed", 600, RsaKey(0), ca);
    X509* signer = MakeCert(UserKey(0), "Morvane Test Fresh Signer", 700, RsaKey(0), ca);
    BIO* in = MemOf(kContent);
    PKCS7* p7 = PKCS7_sign(signer, UserKey(0), nullptr, in, PKCS7_FLAG_NO_CERTS);
    BIO_free(in);
    ASSERT_NE(p7, nullptr);
    STACK* certs = StackOf({unnamed, signer});
    if (copies == 2) sk_push(certs, reinterpret_cast<char*>(signer));
    ASSERT_FALSE(digested(unnamed) || digested(signer));
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_verify(p7, certs, nullptr, nullptr, out, PKCS7_FLAG_NO_VERIFY), 1);
    EXPECT_TRUE(ErrorsAre({}));
    EXPECT_EQ(MemText(out), kCrlfContent);
    EXPECT_FALSE(digested(unnamed));
    EXPECT_EQ(digested(signer), copies == 2);
    BIO_free(out);
    sk_free(certs);
    PKCS7_free(p7);
    X509_free(signer);
    X509_free(unnamed);
  }
}

// A read of the content that fails part-way fails signing and encryption,
// with the reason, instead of giving a message over part of the content: a
// stream whose read fails, and base64 text with a corrupt line after a
// padded one.
TEST(Smime, ContentThatCannotBeReadIsNotSigned) {
  STACK* certs = StackOf({UserCert(0)});
  for (int flags : {PKCS7_FLAG_BINARY, 0}) {
    for (bool encrypt : {false, true}) {
      for (bool base64 : {false, true}) {
        SCOPED_TRACE(testing::Message() << flags << encrypt << base64);
        BIO* in = morvane_test::NewScriptedStream();
        if (base64) {
          morvane_test::Script(in).input = "QQ==\nQk*E\n";
          in = BIO_push(BIO_new(BIO_f_base64()), in);
        } else {
          morvane_test::Script(in).input = kContent;
          morvane_test::Script(in).read_script = {morvane_test::ScriptStep::Move(5),
                                                  morvane_test::ScriptStep::Fail()};
        }
        PKCS7* p7 = encrypt ? PKCS7_encrypt(certs, in, EVP_des_ede3_cbc(), flags)
                            : PKCS7_sign(UserCert(0), UserKey(0), nullptr, in, flags);
        EXPECT_EQ(p7, nullptr);
        std::vector<morvane_test::ErrEntry> errors = {
            {ERR_LIB_ASN1, ASN1_F_SMIME_CRLF_COPY, ASN1_R_STREAM_READ_ERROR},
            {kLib, encrypt ? PKCS7_F_PKCS7_ENCRYPT : PKCS7_F_PKCS7_SIGN,
             encrypt ? PKCS7_R_PKCS7_DATAFINAL_ERROR : PKCS7_R_PKCS7_DATASIGN}};
        if (base64)
          errors.insert(errors.begin(), {ERR_LIB_EVP, EVP_F_B64_READ, EVP_R_DECODE_ERROR});
        EXPECT_TRUE(ErrorsAre(errors));
        PKCS7_free(p7);
        BIO_free_all(in);
      }
    }
  }
  sk_free(certs);
}

// What verifies or decrypts is delivered: a stream that takes less than it
// is given (a read-only memory stream, a stream whose write fails) fails
// the call with "content write error", or with PKCS7_FLAG_TEXT (the header
// stripped on the way out) with "smime text error".
TEST(Smime, ContentThatCannotBeWrittenFailsTheCall) {
  STACK* certs = StackOf({UserCert(0)});
  char room[64] = {};
  for (int text : {0, PKCS7_FLAG_TEXT}) {
    PKCS7* s = Sign(kContent, text ? text : PKCS7_FLAG_BINARY);
    BIO* in = MemOf(kContent);
    PKCS7* e = PKCS7_encrypt(certs, in, EVP_des_ede3_cbc(), text ? text : PKCS7_FLAG_BINARY);
    ASSERT_NE(s, nullptr);
    ASSERT_NE(e, nullptr);
    for (bool read_only : {true, false}) {
      for (bool decrypt : {false, true}) {
        SCOPED_TRACE(testing::Message() << text << read_only << decrypt);
        BIO* out =
            read_only ? BIO_new_mem_buf(room, sizeof room) : morvane_test::NewScriptedStream();
        if (!read_only) morvane_test::Script(out).write_script = {morvane_test::ScriptStep::Fail()};
        EXPECT_EQ(
            decrypt ? PKCS7_decrypt(e, UserKey(0), UserCert(0), out, text)
                    : PKCS7_verify(s, nullptr, nullptr, nullptr, out, text | PKCS7_FLAG_NO_VERIFY),
            0);
        EXPECT_EQ(ERR_peek_last_error(),
                  ERR_PACK(kLib, decrypt ? PKCS7_F_PKCS7_DECRYPT : PKCS7_F_PKCS7_VERIFY,
                           text ? PKCS7_R_SMIME_TEXT_ERROR : PKCS7_R_CONTENT_WRITE_ERROR));
        ERR_clear_error();
        BIO_free(out);
      }
    }
    PKCS7_free(e);
    PKCS7_free(s);
    BIO_free(in);
  }
  sk_free(certs);
}

TEST(Smime, DecryptErrors) {
  PKCS7* s = Sign(kContent, 0);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_decrypt(s, UserKey(0), nullptr, out, 0), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_WRONG_CONTENT_TYPE}}));
  PKCS7_free(s);

  STACK* certs = StackOf({UserCert(0)});
  BIO* in = MemOf(kContent);
  PKCS7* e = PKCS7_encrypt(certs, in, EVP_aes_128_cbc(), PKCS7_FLAG_BINARY);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(PKCS7_decrypt(e, UserKey(0), UserCert(1), out, 0), 0);
  EXPECT_TRUE(ErrorsAre({kKeyMismatch, {kLib, PKCS7_F_PKCS7_DECRYPT,
                                         PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE}}));
  EXPECT_EQ(PKCS7_decrypt(nullptr, UserKey(0), nullptr, out, 0), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_INVALID_NULL_POINTER}}));
  // A key that cannot decrypt a key block at all (an EC key) tells nothing
  // of the block, as a lack of memory does not: the call fails with the
  // layer's reason, not as a block that does not open.
  EC_KEY* ec = EC_KEY_new_by_curve_name(415);  // prime256v1
  ASSERT_EQ(EC_KEY_generate_key(ec), 1);
  EVP_PKEY* ec_key = EVP_PKEY_new();
  EVP_PKEY_assign_EC_KEY(ec_key, ec);
  EXPECT_EQ(PKCS7_decrypt(e, ec_key, nullptr, out, 0), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_PKEY_DECRYPT, EVP_R_PUBLIC_KEY_NOT_RSA},
                         {kLib, PKCS7_F_PKCS7_DATADECODE, ERR_R_EVP_LIB},
                         {kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR}}));
  EXPECT_EQ(MemText(out), "");
  EVP_PKEY_free(ec_key);

  // Damaged ciphertext: the last block does not decrypt, which is an error
  // and not a success with truncated content.
  ASN1_OCTET_STRING* ct = e->d.enveloped->enc_data->enc_data;
  ct->data[ct->length - 1] ^= 0x5a;
  EXPECT_EQ(PKCS7_decrypt(e, UserKey(0), UserCert(0), out, 0), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR}}));
  PKCS7_free(e);
  BIO_free(in);
  sk_free(certs);

  in = MemOf(kContent);
  EXPECT_EQ(PKCS7_encrypt(nullptr, in, EVP_enc_null(), 0), nullptr);
  EXPECT_TRUE(
      ErrorsAre({{kLib, PKCS7_F_PKCS7_SET_CIPHER, PKCS7_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER},
                 {kLib, PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_ERROR_SETTING_CIPHER}}));
  BIO_free(in);
  BIO_free(out);
}

// The recipient's key block decrypted with RSA: a block with bad type-2
// padding and a well-padded one whose key is not the cipher's (another key
// of the length, a key of another length, no key) take one path, as a random
// key of the cipher's length then fails to decrypt the content (RFC 3218,
// 2.3.2): each ends with "decrypt error" alone, with the recipient's
// certificate and without.  Before, bad padding showed as the RSA layer's
// "block type is not 02" / "padding check failed" and "EVP lib".
TEST(Smime, KeyBlocksThatDoNotOpenFailLikeDamagedContent) {
  // The substitute keys come from the private key, and the message's
  // content key from the random stream: a key made from a fixed stream and
  // a message made from another fix them, and so the outcome, in any
  // process.
  EVP_PKEY* key = EVP_PKEY_new();
  {
    FixedRandom fixed_key(0x4b3e);
    EVP_PKEY_assign_RSA(key, RSA_generate_key(1024, 65537, nullptr, nullptr));
  }
  X509* recipient = MakeCert(key, "Morvane Test Fixed Recipient", 300, RsaKey(0),
                             X509_get_subject_name(CaCert()));
  FixedRandom fixed(0x5eed);
  STACK* certs = StackOf({recipient});
  BIO* in = MemOf(kContent);
  PKCS7* e = PKCS7_encrypt(certs, in, EVP_aes_128_cbc(), PKCS7_FLAG_BINARY);
  ASSERT_NE(e, nullptr);
  auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(e->d.enveloped->recipientinfo, 0));
  ASN1_OCTET_STRING* good = ASN1_STRING_dup(ri->enc_key);
  EVP_PKEY* pub = X509_get_pubkey(recipient);
  RSA* rsa = pub->pkey.rsa;
  const size_t k = static_cast<size_t>(RSA_size(rsa));

  // Raw blocks of k bytes (RFC 8017, 7.2.1: 00 02 PS 00 M, PS at least 8
  // non-zero bytes).
  auto block = [k](uint8_t first, uint8_t type, size_t keylen, uint8_t key_byte, bool separator) {
    std::vector<uint8_t> b(k, 0x5a);
    b[0] = first;
    b[1] = type;
    if (separator) b[k - keylen - 1] = 0;
    for (size_t i = k - keylen; i < k; i++) b[i] = key_byte;
    return b;
  };
  struct Row {
    const char* name;
    std::vector<uint8_t> raw;
  } rows[] = {
      {"type 1 padding", block(0, 1, 16, 0x11, true)},
      {"no separator", block(0, 2, 0, 0, false)},
      {"leading byte 01", block(1, 2, 16, 0x11, true)},
      {"separator inside the first 8 bytes", block(0, 2, k - 4, 0x11, true)},
      {"another key of 16 bytes", block(0, 2, 16, 0x11, true)},
      {"a key of 5 bytes", block(0, 2, 5, 0x11, true)},
      {"a key of 24 bytes", block(0, 2, 24, 0x11, true)},
      {"an empty key", block(0, 2, 0, 0, true)},
  };
  std::vector<uint8_t> enc(k);
  for (const Row& r : rows) {
    ASSERT_EQ(RSA_public_encrypt(static_cast<int>(k), r.raw.data(), enc.data(), rsa,
                                 RSA_NO_PADDING),
              static_cast<int>(k))
        << r.name;
    ASN1_OCTET_STRING_set(ri->enc_key, enc.data(), static_cast<int>(k));
    for (X509* cert : {recipient, static_cast<X509*>(nullptr)}) {
      SCOPED_TRACE(testing::Message() << r.name << (cert != nullptr ? " with" : " without")
                                      << " the certificate");
      BIO* out = BIO_new(BIO_s_mem());
      EXPECT_EQ(PKCS7_decrypt(e, key, cert, out, 0), 0);
      EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR}}));
      // An earlier entry of the caller's stays, alone beside that one.
      ERR_put_error(ERR_LIB_USER, 1, 2, "earlier", 1);
      EXPECT_EQ(PKCS7_decrypt(e, key, cert, out, 0), 0);
      EXPECT_TRUE(ErrorsAre({{ERR_LIB_USER, 1, 2}, {kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR}}));
      BIO_free(out);
    }
  }
  // The message's own block still opens.
  ASN1_STRING_set(ri->enc_key, good->data, good->length);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_decrypt(e, key, recipient, out, 0), 1);
  EXPECT_EQ(MemText(out), kContent);
  BIO_free(out);
  ASN1_OCTET_STRING_free(good);
  EVP_PKEY_free(pub);
  PKCS7_free(e);
  BIO_free(in);
  sk_free(certs);
  X509_free(recipient);
  EVP_PKEY_free(key);
}

// User 0's key with its CRT numbers and without its private exponent d, as
// a key that keeps d elsewhere may come.
EVP_PKEY* UserKeyWithoutD() {
  const RSA* full = UserKey(0)->pkey.rsa;
  RSA* rsa = RSA_new();
  rsa->n = BN_dup(full->n);
  rsa->e = BN_dup(full->e);
  rsa->p = BN_dup(full->p);
  rsa->q = BN_dup(full->q);
  rsa->dmp1 = BN_dup(full->dmp1);
  rsa->dmq1 = BN_dup(full->dmq1);
  rsa->iqmp = BN_dup(full->iqmp);
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, rsa);
  return key;
}

// A key block that does not open is replaced by a key derived from the
// block and the private key, not drawn afresh: one message decrypts to one
// output however often it is submitted, and a badly padded block cannot be
// told from a well-padded one by the outputs changing.  So also for a key
// without its private exponent (which decrypts by its CRT numbers): its
// substitute comes from a secret of the process and its modulus.  Before,
// every call drew another random key, and later every call with such a key.
TEST(Smime, ABlockThatDoesNotOpenGivesOneOutput) {
  STACK* certs = StackOf({UserCert(0)});
  const std::string content(100, 'c');
  BIO* in = MemOf(content);
  // A stream cipher: whatever key it is given decrypts the content to some
  // output, which is all there is to compare.
  PKCS7* e = PKCS7_encrypt(certs, in, EVP_rc4(), PKCS7_FLAG_BINARY);
  ASSERT_NE(e, nullptr);
  auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(e->d.enveloped->recipientinfo, 0));
  ASN1_OCTET_STRING* good = ASN1_STRING_dup(ri->enc_key);
  EVP_PKEY* pub = X509_get_pubkey(UserCert(0));
  const int k = RSA_size(pub->pkey.rsa);
  EVP_PKEY* without_d = UserKeyWithoutD();
  for (EVP_PKEY* key : {UserKey(0), without_d}) {
    SCOPED_TRACE(key == without_d ? "without d" : "with d");
    // The message's own block opens with the key.
    ASN1_STRING_set(ri->enc_key, good->data, good->length);
    BIO* plain = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_decrypt(e, key, UserCert(0), plain, 0), 1);
    EXPECT_EQ(MemText(plain), content);
    BIO_free(plain);
    std::vector<std::string> outputs;
    // Bad padding (block type 1) and good padding around a key of 5 bytes.
    for (uint8_t type : {1, 2}) {
      std::vector<uint8_t> raw(static_cast<size_t>(k), 0x5a), enc(static_cast<size_t>(k));
      raw[0] = 0;
      raw[1] = type;
      raw[static_cast<size_t>(k) - 6] = 0;
      ASSERT_EQ(RSA_public_encrypt(k, raw.data(), enc.data(), pub->pkey.rsa, RSA_NO_PADDING), k);
      ASN1_OCTET_STRING_set(ri->enc_key, enc.data(), k);
      // The result and what was written.
      std::pair<int, std::string> first;
      for (int i = 0; i < 6; i++) {
        X509* cert = i % 2 ? UserCert(0) : nullptr;
        SCOPED_TRACE(testing::Message() << "type " << int{type} << ", call " << i);
        BIO* out = BIO_new(BIO_s_mem());
        const int ret = PKCS7_decrypt(e, key, cert, out, 0);
        const std::pair<int, std::string> got(ret, MemText(out));
        BIO_free(out);
        ERR_clear_error();
        if (i == 0) first = got;
        EXPECT_EQ(got, first);
      }
      EXPECT_EQ(first.first, 1);
      EXPECT_EQ(first.second.size(), content.size());
      EXPECT_NE(first.second, content);
      outputs.push_back(first.second);
    }
    EXPECT_NE(outputs[0], outputs[1]);  // another block, another key
  }
  EVP_PKEY_free(without_d);
  ASN1_OCTET_STRING_free(good);
  EVP_PKEY_free(pub);
  PKCS7_free(e);
  BIO_free(in);
  sk_free(certs);
}

// A CBC or CFB cipher needs its IV: an identifier without parameters is
// refused rather than read as a zero IV (the first block would come out
// wrong, and the call would succeed).
TEST(Smime, CipherWithoutItsIvIsRefused) {
  STACK* certs = StackOf({UserCert(0)});
  for (const EVP_CIPHER* cipher : {EVP_aes_128_cbc(), EVP_des_ede3_cbc(), EVP_rc2_40_cbc(),
                                   EVP_aes_128_cfb128(), EVP_aes_128_ofb()}) {
    SCOPED_TRACE(EVP_CIPHER_nid(cipher));
    BIO* in = MemOf(kContent);
    PKCS7* e = PKCS7_encrypt(certs, in, cipher, PKCS7_FLAG_BINARY);
    ASSERT_NE(e, nullptr);
    X509_ALGOR* alg = e->d.enveloped->enc_data->algorithm;
    ASN1_TYPE_free(alg->parameter);
    alg->parameter = nullptr;
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_decrypt(e, UserKey(0), UserCert(0), out, 0), 0);
    EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DATADECODE, PKCS7_R_MISSING_CIPHER_IV},
                           {kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR}}));
    EXPECT_EQ(MemText(out), "");
    BIO_free(out);
    PKCS7_free(e);
    BIO_free(in);
  }
  sk_free(certs);
}

// Without the certificate every recipient's block is tried and the first
// that opens to a key of the cipher's length is taken, wherever it stands.
TEST(Smime, WithoutCertificateTheBlockThatOpensIsTaken) {
  STACK* certs = StackOf({UserCert(1), UserCert(2), UserCert(0)});
  BIO* in = MemOf(kContent);
  PKCS7* e = PKCS7_encrypt(certs, in, EVP_des_ede3_cbc(), PKCS7_FLAG_BINARY);
  ASSERT_NE(e, nullptr);
  for (int user : {0, 1, 2}) {
    BIO* out = BIO_new(BIO_s_mem());
    ERR_put_error(ERR_LIB_USER, 1, 2, "earlier", 1);
    EXPECT_EQ(PKCS7_decrypt(e, UserKey(user), nullptr, out, 0), 1) << user;
    EXPECT_EQ(MemText(out), kContent);
    EXPECT_TRUE(ErrorsAre({{ERR_LIB_USER, 1, 2}}));
    BIO_free(out);
  }
  PKCS7_free(e);
  BIO_free(in);
  sk_free(certs);
}

// Two recipients carry the certificate's issuer and serial, the other one
// keyed for another key: with the certificate, both blocks are tried, in
// either order.
TEST(Smime, EveryRecipientOfTheCertificateIsTried) {
  for (bool twin_first : {true, false}) {
    SCOPED_TRACE(twin_first);
    STACK* certs = twin_first ? StackOf({TwinOtherKey(), UserCert(0)})
                              : StackOf({UserCert(0), TwinOtherKey()});
    BIO* in = MemOf(kContent);
    PKCS7* e = PKCS7_encrypt(certs, in, EVP_des_ede3_cbc(), PKCS7_FLAG_BINARY);
    ASSERT_NE(e, nullptr);
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_decrypt(e, UserKey(0), UserCert(0), out, 0), 1);
    EXPECT_EQ(MemText(out), kContent);
    EXPECT_TRUE(ErrorsAre({}));
    BIO_free(out);
    PKCS7_free(e);
    BIO_free(in);
    sk_free(certs);
  }
}

// A successful decryption, with the certificate or trying every block
// without it, takes back only what it queued: the caller's entries and mark
// stay.
TEST(Smime, DecryptKeepsTheCallersMark) {
  STACK* certs = StackOf({UserCert(1), UserCert(0)});
  BIO* in = MemOf(kContent);
  PKCS7* e = PKCS7_encrypt(certs, in, EVP_des_ede3_cbc(), PKCS7_FLAG_BINARY);
  ASSERT_NE(e, nullptr);
  for (X509* cert : {UserCert(0), static_cast<X509*>(nullptr)}) {
    SCOPED_TRACE(cert != nullptr ? "with the certificate" : "without the certificate");
    EXPECT_TRUE(morvane_test::KeepsCallersMark([&] {
      BIO* out = BIO_new(BIO_s_mem());
      const bool ok = PKCS7_decrypt(e, UserKey(0), cert, out, 0) == 1 && MemText(out) == kContent;
      BIO_free(out);
      return ok;
    }));
  }
  PKCS7_free(e);
  BIO_free(in);
  sk_free(certs);
}

TEST(Smime, EnvelopedRoundTrips) {
  struct Row {
    const char* name;
    const EVP_CIPHER* (*cipher)();
  } ciphers[] = {{"des-ede3-cbc", EVP_des_ede3_cbc},
                 {"rc2-40-cbc", EVP_rc2_40_cbc},
                 {"aes-128-cbc", EVP_aes_128_cbc},
                 {"aes-256-cbc", EVP_aes_256_cbc},
                 // No IV: the message carries no cipher parameters.
                 {"rc4", EVP_rc4}};
  for (const Row& c : ciphers) {
    for (int count : {1, 2, 5}) {
      STACK* certs = sk_new_null();
      for (int i = 0; i < count; i++) sk_push(certs, reinterpret_cast<char*>(UserCert(i)));
      BIO* in = MemOf(kContent);
      PKCS7* p7 = PKCS7_encrypt(certs, in, c.cipher(), 0);
      ASSERT_NE(p7, nullptr) << c.name;
      // Through the S/MIME writer and reader.
      BIO* mime = BIO_new(BIO_s_mem());
      ASSERT_EQ(SMIME_write_PKCS7(mime, p7, nullptr, 0), 1);
      EXPECT_NE(MemText(mime).find("smime-type=enveloped-data"), std::string::npos);
      PKCS7* back = SMIME_read_PKCS7(mime, nullptr);
      ASSERT_NE(back, nullptr) << c.name;
      for (int i = 0; i < count; i++) {
        BIO* out = BIO_new(BIO_s_mem());
        EXPECT_EQ(PKCS7_decrypt(back, UserKey(i), i % 2 ? UserCert(i) : nullptr, out, 0), 1)
            << c.name << " " << count << " " << i;
        EXPECT_EQ(MemText(out), "Line one\r\nLine two\r\n");
        BIO_free(out);
      }
      PKCS7_free(back);
      BIO_free(mime);
      PKCS7_free(p7);
      BIO_free(in);
      sk_free(certs);
    }
  }
}

TEST(Smime, SignedRoundTripsThroughMime) {
  struct Row {
    int flags;
    bool detached;
  } rows[] = {{0, false},
              {PKCS7_FLAG_BINARY, false},
              {PKCS7_FLAG_DETACHED, true},
              {PKCS7_FLAG_DETACHED | PKCS7_FLAG_BINARY, true},
              {PKCS7_FLAG_TEXT, false},
              {PKCS7_FLAG_TEXT | PKCS7_FLAG_DETACHED, true}};
  for (const Row& r : rows) {
    // MIME carries text lines ending in CR LF: binary content that keeps
    // across it is already in that form.
    BIO* data = MemOf(kCrlfContent);
    PKCS7* p7 = PKCS7_sign(UserCert(0), UserKey(0), nullptr, data, r.flags);
    ASSERT_NE(p7, nullptr);
    BIO_free(data);
    data = MemOf(kCrlfContent);
    BIO* mime = BIO_new(BIO_s_mem());
    ASSERT_EQ(SMIME_write_PKCS7(mime, p7, data, r.flags), 1) << r.flags;
    const std::string text = MemText(mime);
    EXPECT_EQ(text.find("multipart/signed") != std::string::npos, r.detached) << text;
    BIO* bcont = nullptr;
    PKCS7* back = SMIME_read_PKCS7(mime, &bcont);
    ASSERT_NE(back, nullptr) << text;
    EXPECT_EQ(bcont != nullptr, r.detached);
    // The signer's chain is checked against a store holding the CA.
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(PKCS7_verify(back, nullptr, store, bcont, out, r.flags & PKCS7_FLAG_TEXT), 1)
        << r.flags << "\n" << morvane_test::DrainErrors();
    EXPECT_EQ(MemText(out), kCrlfContent);
    BIO_free(out);
    X509_STORE_free(store);
    BIO_free(bcont);
    PKCS7_free(back);
    BIO_free(mime);
    PKCS7_free(p7);
    BIO_free(data);
  }
}

// Texts in CR LF lines around the 1,023-byte pieces the reader takes lines
// in: lines of 1,020 to 1,028 bytes, bare CRs at bytes 1,020 to 1,027 of a
// line, and `delimiter` (closing too) inside a line at a piece's edge.
std::vector<std::string> LongLineTexts(const std::string& delimiter) {
  std::vector<std::string> texts;
  for (size_t n = 1020; n <= 1028; n++)
    texts.push_back("Line one\r\n" + std::string(n, 'x') + "\r\nend\r\n");
  for (size_t n = 1020; n <= 1027; n++)
    texts.push_back(std::string(n, 'c') + "\rtail\r\n" + std::string(n, 'd') + "\r\n");
  for (size_t n : {1022, 1023, 1024, 2046}) {
    texts.push_back(std::string(n, 'y') + delimiter + "\r\nafter\r\n");
    texts.push_back(std::string(n, 'y') + delimiter + "--\r\nafter\r\n");
  }
  return texts;
}

// The boundary SMIME_write_PKCS7 draws first from FixedRandom(seed).
std::string BoundaryOfSeed(uint64_t seed) {
  PKCS7* p7 = Sign(kCrlfContent, PKCS7_FLAG_DETACHED);
  BIO* data = MemOf(kCrlfContent);
  BIO* mime = BIO_new(BIO_s_mem());
  {
    FixedRandom fixed(seed);
    EXPECT_EQ(SMIME_write_PKCS7(mime, p7, data, PKCS7_FLAG_DETACHED), 1);
  }
  const std::string text = MemText(mime);
  const size_t at = text.find("boundary=\"----");
  BIO_free(mime);
  BIO_free(data);
  PKCS7_free(p7);
  return at == std::string::npos ? "" : text.substr(at + 14, 32);
}

// Text with lines around the 1,023-byte pieces the reader takes them in,
// bare CRs around a piece's end, and the message's own delimiter inside a
// line at a piece's edge, signed detached, written, read back and verified:
// it verifies and delivers the bytes signed (with LF lines the CR LF form).
// Before, a CR at the end of a piece was dropped and the text that looked
// like a delimiter cut the part, so such messages did not verify.
TEST(Smime, DetachedLongLinesVerifyThroughMime) {
  constexpr uint64_t kSeed = 0xb0a7;
  const std::string bound = BoundaryOfSeed(kSeed);
  ASSERT_EQ(bound.size(), 32u);
  const std::vector<std::string> texts = LongLineTexts("------" + bound);
  const int kFlags[] = {PKCS7_FLAG_DETACHED, PKCS7_FLAG_DETACHED | PKCS7_FLAG_TEXT,
                        PKCS7_FLAG_DETACHED | PKCS7_FLAG_BINARY};
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  for (const std::string& crlf_text : texts) {
    std::string lf_text = crlf_text;
    for (size_t at; (at = lf_text.find("\r\n")) != std::string::npos;) lf_text.erase(at, 1);
    for (int flags : kFlags) {
      const std::string* const forms[] = {&crlf_text, &lf_text};
      for (const std::string* text : forms) {
        if ((flags & PKCS7_FLAG_BINARY) && text != &crlf_text) continue;
        SCOPED_TRACE(testing::Message()
                     << flags << " " << text->size() << " " << (text == &lf_text ? "LF" : "CR LF"));
        PKCS7* p7 = Sign(*text, flags);
        ASSERT_NE(p7, nullptr);
        BIO* data = MemOf(*text);
        BIO* mime = BIO_new(BIO_s_mem());
        {
          FixedRandom fixed(kSeed);
          ASSERT_EQ(SMIME_write_PKCS7(mime, p7, data, flags), 1);
        }
        EXPECT_NE(MemText(mime).find("boundary=\"----" + bound + "\""), std::string::npos);
        BIO* bcont = nullptr;
        PKCS7* back = SMIME_read_PKCS7(mime, &bcont);
        ASSERT_NE(back, nullptr);
        ASSERT_NE(bcont, nullptr);
        const std::string header =
            (flags & PKCS7_FLAG_TEXT) ? "Content-Type: text/plain\r\n\r\n" : "";
        EXPECT_TRUE(MemText(bcont) == header + crlf_text);
        BIO* out = BIO_new(BIO_s_mem());
        EXPECT_EQ(PKCS7_verify(back, nullptr, store, bcont, out, flags & PKCS7_FLAG_TEXT), 1)
            << morvane_test::DrainErrors();
        EXPECT_TRUE(MemText(out) == crlf_text);
        BIO_free(out);
        BIO_free(bcont);
        PKCS7_free(back);
        BIO_free(mime);
        BIO_free(data);
        PKCS7_free(p7);
      }
    }
  }
  X509_STORE_free(store);
}

TEST(Smime, PartialDetachedIsSignedWhileWritten) {
  PKCS7* p7 = Sign("", PKCS7_FLAG_PARTIAL | PKCS7_FLAG_DETACHED);
  ASSERT_NE(p7, nullptr);
  BIO* data = MemOf(kContent);
  BIO* mime = BIO_new(BIO_s_mem());
  ASSERT_EQ(SMIME_write_PKCS7(mime, p7, data, PKCS7_FLAG_DETACHED), 1);
  EXPECT_GT(Signer(p7, 0)->enc_digest->length, 0);
  BIO* bcont = nullptr;
  PKCS7* back = SMIME_read_PKCS7(mime, &bcont);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(PKCS7_verify(back, nullptr, nullptr, bcont, nullptr, PKCS7_FLAG_NO_VERIFY), 1);
  BIO_free(bcont);
  PKCS7_free(back);
  BIO_free(mime);
  BIO_free(data);
  PKCS7_free(p7);
}

TEST(Smime, WriterReportsASignatureThatWasNeverMade) {
  // A signer whose digest is not among the message's digest algorithms:
  // the final step cannot find its filter.
  PKCS7* p7 = Sign("", PKCS7_FLAG_PARTIAL | PKCS7_FLAG_DETACHED);
  ASSERT_NE(p7, nullptr);
  sk_pop_free(p7->d.sign->md_algs, reinterpret_cast<void (*)(void*)>(X509_ALGOR_free));
  p7->d.sign->md_algs = sk_new_null();
  BIO* data = MemOf(kContent);
  BIO* mime = BIO_new(BIO_s_mem());
  EXPECT_EQ(SMIME_write_PKCS7(mime, p7, data, PKCS7_FLAG_DETACHED), 0);
  EXPECT_TRUE(ErrorsAre(
      {{kLib, PKCS7_F_PKCS7_FIND_DIGEST, PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST}}));
  BIO_free(mime);
  BIO_free(data);
  PKCS7_free(p7);
}

TEST(Smime, ErrorTextsLoad) {
  ERR_load_PKCS7_strings();
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(kLib, 0, PKCS7_R_MISSING_CERIPEND_INFO)),
               "missing ceripend info");
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(kLib, PKCS7_F_PKCS7_DATAFINAL, 0)),
               "PKCS7_dataFinal");
}

}  // namespace

namespace {

// Messages the library wrote (a signed opaque, a signed detached and an
// enveloped message, RSA-512 keys of their own), read back and checked by
// structure.
TEST(SmimeStored, MessagesReadBackByStructure) {
  struct Row {
    const char* file;
    int type;
    bool detached;
  } rows[] = {{"pkcs7/signed.txt", 22, false},
              {"pkcs7/signed_detached.txt", 22, true},
              {"pkcs7/enveloped.txt", 23, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    const std::string text = morvane_test::ReadFile(morvane_test::TestDataFile(r.file));
    BIO* in = MemOf(text);
    BIO* bcont = nullptr;
    PKCS7* p7 = SMIME_read_PKCS7(in, &bcont);
    ASSERT_NE(p7, nullptr);
    EXPECT_EQ(OBJ_obj2nid(p7->type), r.type);
    EXPECT_EQ(bcont != nullptr, r.detached);
    if (r.type == 22) {
      ASSERT_EQ(sk_num(PKCS7_get_signer_info(p7)), 1);
      EXPECT_EQ(sk_num(p7->d.sign->cert), 1);
      EXPECT_EQ(sk_num(Signer(p7, 0)->auth_attr), 4);
      BIO* out = BIO_new(BIO_s_mem());
      EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, bcont, out, PKCS7_FLAG_NO_VERIFY), 1);
      EXPECT_EQ(MemText(out), "Seed content\r\n");
      BIO_free(out);
    } else {
      EXPECT_EQ(sk_num(p7->d.enveloped->recipientinfo), 1);
      EXPECT_EQ(OBJ_obj2nid(p7->d.enveloped->enc_data->algorithm->algorithm), 44);
      // Not our key: no recipient opens, and the random key that stands
      // in for the content key does not decrypt the content.
      FixedRandom fixed(0x5eed);
      BIO* out = BIO_new(BIO_s_mem());
      EXPECT_EQ(PKCS7_decrypt(p7, UserKey(0), nullptr, out, 0), 0);
      EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR}}));
      BIO_free(out);
    }
    BIO_free(bcont);
    PKCS7_free(p7);
    BIO_free(in);
  }
}

}  // namespace

namespace {

// The SHA-1 fingerprint of a certificate in upper-case hexadecimal, with
// `sep` between the octets.
std::string Fingerprint(X509* x, const char* sep) {
  unsigned char md[20];
  unsigned int n = 0;
  EXPECT_EQ(X509_digest(x, EVP_sha1(), md, &n), 1);
  std::string out;
  for (unsigned int i = 0; i < n; i++) {
    char hex[3];
    snprintf(hex, sizeof hex, "%02X", md[i]);
    out += (i > 0 ? sep : "") + std::string(hex);
  }
  return out;
}

// A gpgsm home of its own holding user 0's key and certificate (imported as
// PKCS#12) and the test CA, trusted; its agent is stopped when it goes.
class GpgsmHome {
 public:
  GpgsmHome() : env_("GNUPGHOME='" + home_.path() + "' ") {
    chmod(home_.c_str(), 0700);
    morvane_test::WriteFile(home_.Join("gpg-agent.conf"), "allow-loopback-pinentry\n");
    morvane_test::WriteFile(home_.Join("gpgsm.conf"), "disable-crl-checks\n");
    morvane_test::WriteFile(home_.Join("trustlist.txt"), Fingerprint(CaCert(), ":") + " S relax\n");
    char pass[] = "peer";
    PKCS12* p12 = PKCS12_create(pass, nullptr, UserKey(0), UserCert(0), nullptr, 0, 0, 0, 0, 0);
    BIO* out = BIO_new_file(home_.Join("user.p12").c_str(), "wb");
    ok_ = p12 != nullptr && out != nullptr && i2d_PKCS12_bio(out, p12) == 1;
    BIO_free(out);
    PKCS12_free(p12);
    out = BIO_new_file(home_.Join("ca.der").c_str(), "wb");
    ok_ = ok_ && out != nullptr && i2d_X509_bio(out, CaCert()) == 1;
    BIO_free(out);
    ok_ =
        ok_ && Run("--import '" + home_.Join("ca.der") + "'") &&
        Run("--pinentry-mode loopback --passphrase-fd 0 --import '" + home_.Join("user.p12") + "'");
  }
  ~GpgsmHome() { (void)std::system((env_ + "gpgconf --kill all >/dev/null 2>&1").c_str()); }
  GpgsmHome(const GpgsmHome&) = delete;
  GpgsmHome& operator=(const GpgsmHome&) = delete;

  bool ok() const { return ok_; }
  // The base64 detached signature gpgsm makes over `content` as user 0.
  std::string SignDetached(const std::string& content) {
    morvane_test::WriteFile(home_.Join("content"), content);
    std::remove(home_.Join("sig").c_str());
    if (!Run("--pinentry-mode loopback --passphrase-fd 0 -u 0x" + Fingerprint(UserCert(0), "") +
             " --detach-sign --base64 -o '" + home_.Join("sig") + "' '" + home_.Join("content") +
             "'"))
      return "";
    return morvane_test::ReadFile(home_.Join("sig"));
  }

 private:
  // gpgsm with `args`, the pass phrase on its standard input.
  bool Run(const std::string& args) {
    const std::string cmd = "echo peer | " + env_ + "gpgsm --batch " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }

  morvane_test::TempPath home_{morvane_test::TempPath::kDir};
  std::string env_;
  bool ok_ = false;
};

// gpgsm, an independent implementation, signs texts with long lines (bare
// CRs and delimiter-like text at a piece's edge among them) detached; the
// multipart/signed message around its signature reads back and verifies,
// delivering the bytes signed, also when a blank (space, tab, or both) ends
// each of the signature's 64-column lines, as mail transport may leave it.
// Skipped without gpgsm.
TEST(SmimePeer, GpgsmSignaturesOverLongLinesVerify) {
  if (access("/usr/bin/gpgsm", X_OK) != 0 || access("/usr/bin/gpgconf", X_OK) != 0)
    GTEST_SKIP() << "gpgsm is not installed";
  GpgsmHome gpgsm;
  ASSERT_TRUE(gpgsm.ok());
  const std::string bound = "Peer-1023";
  const std::vector<std::string> all = LongLineTexts("--" + bound);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(X509_STORE_add_cert(store, CaCert()), 1);
  // Lines of 1,022 and 1,023 bytes, bare CRs at bytes 1,022 and 1,023, and
  // the delimiter at the first piece's edge.
  for (size_t i : {2, 3, 11, 12, 19, 20}) {
    const std::string& text = all[i];
    const std::string sig = gpgsm.SignDetached(text);
    ASSERT_EQ(sig.find('\n'), 64u);  // 64-column lines
    for (const char* blank : {"", " ", "\t", " \t "}) {
      SCOPED_TRACE(testing::Message() << i << ", blank \"" << blank << "\"");
      std::string lines;
      for (size_t at = 0; at < sig.size();) {
        size_t nl = sig.find('\n', at);
        if (nl == std::string::npos) nl = sig.size();
        lines += sig.substr(at, nl - at) + blank + "\n";
        at = nl + 1;
      }
      const std::string msg =
          "MIME-Version: 1.0\r\nContent-Type: multipart/signed; "
          "protocol=\"application/pkcs7-signature\"; micalg=sha1; boundary=\"" +
          bound + "\"\r\n\r\n--" + bound + "\r\n" + text + "\r\n--" + bound +
          "\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n"
          "Content-Transfer-Encoding: base64\r\n\r\n" +
          lines + "\r\n--" + bound + "--\r\n";
      BIO* in = MemOf(msg);
      BIO* bcont = nullptr;
      PKCS7* p7 = SMIME_read_PKCS7(in, &bcont);
      ASSERT_NE(p7, nullptr) << morvane_test::DrainErrors();
      ASSERT_NE(bcont, nullptr);
      BIO* out = BIO_new(BIO_s_mem());
      EXPECT_EQ(PKCS7_verify(p7, nullptr, store, bcont, out, 0), 1) << morvane_test::DrainErrors();
      EXPECT_TRUE(MemText(out) == text);
      BIO_free(out);
      BIO_free(bcont);
      PKCS7_free(p7);
      BIO_free(in);
    }
  }
  X509_STORE_free(store);
}

}  // namespace

namespace {

// `plain` behind a buffering filter over a decrypting cipher filter (kind
// 0), a base64 filter (1) or a reliable filter (2) over a memory stream
// whose end is `eof` (-1 with a retry, or 0); the reliable filter's source
// holds only half and never ends when `eof` is -1.  Kinds 3 and 4: the
// null or line-buffer filter alone over such a memory stream.
BIO* FilteredSource(const std::string& plain, int kind, int eof) {
  static const unsigned char kKey[16] = {1, 2, 3}, kIv[16] = {4, 5, 6};
  BIO_METHOD* const kMethods[] = {BIO_f_cipher(), BIO_f_base64(), BIO_f_reliable(), BIO_f_null(),
                                  BIO_f_linebuffer()};
  BIO* mem = BIO_new(BIO_s_mem());
  BIO* enc = BIO_new(kMethods[kind]);
  BIO_set_cipher(enc, EVP_aes_128_cbc(), kKey, kIv, 1);
  BIO* w = BIO_push(enc, mem);
  BIO_set_md(w, EVP_sha1());
  BIO_write(w, plain.data(), static_cast<int>(plain.size()));
  (void)BIO_flush(w);
  BIO_pop(w);
  BIO_free(enc);
  BIO_set_mem_eof_return(mem, eof);
  if (kind == 2 && eof < 0) {
    const std::string half = MemText(mem).substr(0, plain.size() / 2);
    BIO_free(mem);
    mem = morvane_test::NewScriptedSource(half, {}, false);
  }
  BIO* dec = BIO_push(BIO_new(kMethods[kind]), mem);
  if (kind > 2) return dec;
  BIO_set_cipher(dec, EVP_aes_128_cbc(), kKey, kIv, 0);
  BIO_set_md(dec, EVP_sha1());
  return BIO_push(BIO_new(BIO_f_buffer()), dec);
}

}  // namespace

// Signing and reading through a filter that holds the last of the data, or
// over a source that holds half of it: every byte or a failure with a
// reason, never a message over less.
TEST(Smime, FilteredSourcesAreReadToTheirEnd) {
  std::string content;
  for (int i = 0; content.size() < 100; i++) content += "line " + std::to_string(i) + "\r\n";
  content.resize(100);
  for (int kind = 0; kind < 5; kind++) {
    for (int eof : {-1, 0}) {
      for (int flags : {PKCS7_FLAG_BINARY, 0}) {
        SCOPED_TRACE(testing::Message() << kind << " " << eof << " " << flags);
        const bool ends = kind % 2 == 1 || kind == 4 || eof == 0;
        BIO* in = FilteredSource(content, kind, eof);
        PKCS7* p7 = PKCS7_sign(UserCert(0), UserKey(0), nullptr, in, flags | PKCS7_FLAG_DETACHED);
        BIO_free_all(in);
        if (p7 == nullptr) {
          EXPECT_FALSE(ends);
          EXPECT_NE(0u, ERR_peek_error());
          ERR_clear_error();
          continue;
        }
        BIO* whole = MemOf(content);
        EXPECT_EQ(1, PKCS7_verify(p7, nullptr, nullptr, whole, nullptr,
                                  PKCS7_FLAG_NO_VERIFY | PKCS7_FLAG_BINARY));
        BIO_free(whole);
        // The signed message, read back through the same kind of chain.
        BIO* msg = BIO_new(BIO_s_mem());
        whole = MemOf(content);
        ASSERT_EQ(1, SMIME_write_PKCS7(msg, p7, whole, flags | PKCS7_FLAG_DETACHED));
        BIO_free(whole);
        in = FilteredSource(MemText(msg), kind, eof);
        BIO* cont = nullptr;
        PKCS7* back = SMIME_read_PKCS7(in, &cont);
        if (back == nullptr) {
          EXPECT_FALSE(ends);
          EXPECT_NE(0u, ERR_peek_error());
        } else {
          ASSERT_NE(nullptr, cont);
          EXPECT_EQ(content, MemText(cont));
          EXPECT_EQ(1, PKCS7_verify(back, nullptr, nullptr, cont, nullptr,
                                    PKCS7_FLAG_NO_VERIFY | PKCS7_FLAG_BINARY));
        }
        ERR_clear_error();
        BIO_free(cont);
        PKCS7_free(back);
        BIO_free_all(in);
        BIO_free(msg);
        PKCS7_free(p7);
      }
    }
  }
}
