// PKCS#7 records, construction, attributes and the data engine, through the
// public calls.  Keys and certificates come from pkcs7_fixture.h.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "dsa_test_util.h"
#include "pkcs7_fixture.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using namespace pkcs7_test;

constexpr int kLib = ERR_LIB_PKCS7;

int Nid(const X509_ALGOR* a) { return OBJ_obj2nid(a->algorithm); }

PKCS7* NewSigned() {
  PKCS7* p7 = PKCS7_new();
  EXPECT_TRUE(PKCS7_set_type(p7, 22));
  EXPECT_TRUE(PKCS7_content_new(p7, 21));
  return p7;
}

// Writes `content` into a fresh chain of p7, flushes and finishes it.
int Produce(PKCS7* p7, const std::string& content) {
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  if (chain == nullptr) return -1;
  BIO_write(chain, content.data(), static_cast<int>(content.size()));
  BIO_flush(chain);
  const int r = PKCS7_dataFinal(p7, chain);
  BIO_free_all(chain);
  return r;
}

// ---- types and construction ---------------------------------------------

TEST(Pkcs7Types, SetTypeBuildsEachRecordWithItsVersion) {
  struct Row {
    int type;
    long version;  // -1: no version field
  } rows[] = {{21, -1}, {22, 1}, {23, 0}, {24, 1}, {25, 0}, {26, 0}};
  for (const Row& r : rows) {
    PKCS7* p7 = PKCS7_new();
    ASSERT_EQ(PKCS7_set_type(p7, r.type), 1) << r.type;
    EXPECT_EQ(OBJ_obj2nid(p7->type), r.type);
    ASSERT_NE(p7->d.ptr, nullptr);
    if (r.version >= 0) {
      EXPECT_EQ(ASN1_INTEGER_get(*reinterpret_cast<ASN1_INTEGER**>(p7->d.ptr)), r.version);
    }
    if (r.type == 23) {
      EXPECT_EQ(OBJ_obj2nid(p7->d.enveloped->enc_data->content_type), 21);
    }
    if (r.type == 24) {
      EXPECT_EQ(OBJ_obj2nid(p7->d.signed_and_enveloped->enc_data->content_type), 21);
    }
    // Every type encodes and decodes.
    std::vector<unsigned char> der = Der(p7);
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    PKCS7* back = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(back, nullptr) << r.type;
    EXPECT_EQ(Der(back), der);
    PKCS7_free(back);
    PKCS7_free(p7);
  }
}

TEST(Pkcs7Types, ErrorsOfConstruction) {
  PKCS7* p7 = PKCS7_new();
  EXPECT_EQ(PKCS7_set_type(p7, 27), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SET_TYPE, PKCS7_R_UNSUPPORTED_CONTENT_TYPE}}));
  PKCS7_free(p7);

  PKCS7* s = NewSigned();
  EXPECT_EQ(PKCS7_set_digest(s, EVP_sha1()), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SET_DIGEST, PKCS7_R_WRONG_CONTENT_TYPE}}));
  EXPECT_EQ(PKCS7_ctrl(s, 9, 0, nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_CTRL, PKCS7_R_UNKNOWN_OPERATION}}));
  EXPECT_EQ(PKCS7_set_cipher(s, EVP_des_ede3_cbc()), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SET_CIPHER, PKCS7_R_WRONG_CONTENT_TYPE}}));
  PKCS7_free(s);

  PKCS7* e = PKCS7_new();
  PKCS7_set_type(e, 23);
  EXPECT_EQ(PKCS7_ctrl(e, PKCS7_CTRL_SET_DETACHED, 1, nullptr), 0);
  EXPECT_TRUE(
      ErrorsAre({{kLib, PKCS7_F_PKCS7_CTRL, PKCS7_R_OPERATION_NOT_SUPPORTED_ON_THIS_TYPE}}));
  EXPECT_EQ(PKCS7_add_certificate(e, UserCert(0)), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_ADD_CERTIFICATE, PKCS7_R_WRONG_CONTENT_TYPE}}));
  EXPECT_EQ(PKCS7_set_content(e, nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SET_CONTENT, PKCS7_R_UNSUPPORTED_CONTENT_TYPE}}));
  EXPECT_EQ(PKCS7_set_cipher(e, EVP_enc_null()), 0);
  EXPECT_TRUE(
      ErrorsAre({{kLib, PKCS7_F_PKCS7_SET_CIPHER, PKCS7_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER}}));
  EXPECT_EQ(PKCS7_get_issuer_and_serial(e, 0), nullptr);
  PKCS7_free(e);
}

TEST(Pkcs7Types, DetachedControl) {
  PKCS7* p7 = NewSigned();
  EXPECT_EQ(PKCS7_ctrl(p7, PKCS7_CTRL_GET_DETACHED, 0, nullptr), 0);
  EXPECT_EQ(PKCS7_ctrl(p7, PKCS7_CTRL_SET_DETACHED, 1, nullptr), 1);
  EXPECT_EQ(p7->d.sign->contents->d.data, nullptr);
  p7->detached = 0;
  EXPECT_EQ(PKCS7_ctrl(p7, PKCS7_CTRL_GET_DETACHED, 0, nullptr), 1);
  EXPECT_EQ(p7->detached, 1);
  PKCS7_free(p7);
}

TEST(Pkcs7Types, DigestAlgorithmsOnePerNidInOrder) {
  PKCS7* p7 = NewSigned();
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1()), nullptr);
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(1), UserKey(1), EVP_sha1()), nullptr);
  ASSERT_EQ(sk_num(p7->d.sign->md_algs), 1);
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(2), UserKey(2), EVP_md5()), nullptr);
  ASSERT_EQ(sk_num(p7->d.sign->md_algs), 2);
  EXPECT_EQ(Nid(reinterpret_cast<X509_ALGOR*>(sk_value(p7->d.sign->md_algs, 0))), 64);
  EXPECT_EQ(Nid(reinterpret_cast<X509_ALGOR*>(sk_value(p7->d.sign->md_algs, 1))), 4);
  EXPECT_EQ(sk_num(PKCS7_get_signer_info(p7)), 3);
  PKCS7_SIGNER_INFO* si = Signer(p7, 0);
  EXPECT_EQ(ASN1_INTEGER_get(si->version), 1);
  EXPECT_EQ(Nid(si->digest_enc_alg), 6);
  EXPECT_EQ(si->digest_enc_alg->parameter->type, ASN1_UT_NULL);
  EXPECT_EQ(PKCS7_cert_from_signer_info(p7, si), nullptr);
  PKCS7_add_certificate(p7, UserCert(0));
  EXPECT_EQ(PKCS7_cert_from_signer_info(p7, si), UserCert(0));
  PKCS7_free(p7);
}

TEST(Pkcs7Types, ReferencesTakenUnderTheirLocks) {
  morvane_test::InstallLockingCallback();
  X509_CRL* crl = X509_CRL_new();
  PKCS7* p7 = NewSigned();
  morvane_test::StartRecordingLocks();
  PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1());
  PKCS7_add_certificate(p7, UserCert(0));
  PKCS7_add_crl(p7, crl);
  const auto events = morvane_test::StopRecordingLocks({3, 6, 10});
  bool seen3 = false, seen6 = false, seen10 = false;
  for (const auto& e : events) {
    seen3 |= e.type == 3;
    seen6 |= e.type == 6;
    seen10 |= e.type == 10;
  }
  EXPECT_TRUE(seen3 && seen6 && seen10);
  EXPECT_EQ(crl->references, 2);
  PKCS7_free(p7);
  EXPECT_EQ(crl->references, 1);
  X509_CRL_free(crl);
}

TEST(Pkcs7Types, SignedDataKeepsCertificateOrderSignedAndEnvelopedSorts) {
  // Two certificates whose DER sorts opposite to insertion order.
  X509* a = UserCert(3);
  X509* b = UserCert(4);
  std::vector<unsigned char> da, db;
  {
    unsigned char* o = nullptr;
    int n = i2d_X509(a, &o);
    da.assign(o, o + n);
    MORVANE_free(o);
    o = nullptr;
    n = i2d_X509(b, &o);
    db.assign(o, o + n);
    MORVANE_free(o);
  }
  if (db < da) std::swap(a, b);  // now a sorts first
  for (int type : {22, 24}) {
    PKCS7* p7 = PKCS7_new();
    PKCS7_set_type(p7, type);
    if (type == 22) PKCS7_content_new(p7, 21);
    PKCS7_add_certificate(p7, b);
    PKCS7_add_certificate(p7, a);
    std::vector<unsigned char> der = Der(p7);
    const unsigned char* p = der.data();
    PKCS7* back = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(back, nullptr);
    STACK* certs = back->d.sign->cert;
    ASSERT_EQ(sk_num(certs), 2);
    X509* first = reinterpret_cast<X509*>(sk_value(certs, 0));
    EXPECT_EQ(X509_cmp(first, type == 22 ? b : a), 0) << type;
    PKCS7_free(back);
    PKCS7_free(p7);
  }
}

TEST(Pkcs7Types, DsaSignerAlwaysSha1WithoutParameters) {
  DSA* dsa = DSA_generate_parameters(512, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
  if (dsa == nullptr) GTEST_SKIP() << "DSA parameter generation is not available";
  ASSERT_TRUE(DSA_generate_key(dsa));
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(key, dsa);
  PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
  ASSERT_EQ(PKCS7_SIGNER_INFO_set(si, UserCert(0), key, EVP_md5()), 1);
  EXPECT_EQ(Nid(si->digest_alg), 64);
  EXPECT_EQ(Nid(si->digest_enc_alg), 116);
  EXPECT_EQ(si->digest_enc_alg->parameter, nullptr);

  // The DSA signer signs and verifies through DSS1.
  PKCS7* p7 = NewSigned();
  X509* cert = MakeCert(key, "DSA signer", 7, RsaKey(0), X509_get_subject_name(CaCert()));
  ASSERT_NE(PKCS7_add_signature(p7, cert, key, EVP_md5()), nullptr);
  PKCS7_add_certificate(p7, cert);
  ASSERT_EQ(Produce(p7, "dsa content"), 1);
  BIO* chain = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(ReadAll(chain), "dsa content");
  EXPECT_EQ(PKCS7_signatureVerify(chain, p7, Signer(p7, 0), cert), 1);
  BIO_free_all(chain);
  PKCS7_free(p7);
  X509_free(cert);
  PKCS7_SIGNER_INFO_free(si);
  EVP_PKEY_free(key);
}

// ---- signers whose key takes its own description of SHA-1 ---------------

// The DSA key of FIPS 186-2, Appendix 5.
EVP_PKEY* Fips186DsaKey() {
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(key, dsa_test::Fips186Key().release());
  return key;
}

EVP_PKEY* P256Key() {
  EC_KEY* ec = EC_KEY_new_by_curve_name(415);  // prime256v1
  EXPECT_EQ(EC_KEY_generate_key(ec), 1);
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_EC_KEY(key, ec);
  return key;
}

// Names `nid` as the digest of the message's only signer, in the signer
// record and in the message's digest list.
void SetSignerDigest(PKCS7* p7, int nid) {
  X509_ALGOR* algs[] = {Signer(p7, 0)->digest_alg,
                        reinterpret_cast<X509_ALGOR*>(sk_value(p7->d.sign->md_algs, 0))};
  for (X509_ALGOR* a : algs) {
    ASN1_OBJECT_free(a->algorithm);
    a->algorithm = OBJ_nid2obj(nid);
  }
}

// A DSA or ECDSA key signs and verifies a running SHA-1 digest through its
// own description of SHA-1 (EVP_dss1, EVP_ecdsa), which runs SHA-1's code on
// SHA-1's state.  A signer record naming another digest keeps that digest's
// description: signing and verifying then fail with "wrong public key type"
// instead of running SHA-1's code on another digest's state (which wrote
// past the SHA-256 state of a 124-byte text and read 104 bytes from MD5's
// 100-byte state).
TEST(Pkcs7Engine, DsaAndEcSignersRunSha1CodeOnlyOnSha1State) {
  EVP_PKEY* dsa = Fips186DsaKey();
  EVP_PKEY* ec = P256Key();
  X509* dsa_cert = MakeCert(dsa, "DSA signer", 8, RsaKey(0), X509_get_subject_name(CaCert()));
  X509* ec_cert = MakeCert(ec, "EC signer", 9, RsaKey(0), X509_get_subject_name(CaCert()));
  const std::string text(124, 'T');
  struct Row {
    bool is_ec;
    int digest;      // the NID the signer record names
    bool attributes; // with signed attributes (messageDigest of `digest`)
  } rows[] = {{true, 672, false},  {true, 673, false}, {true, 4, false}, {false, 672, false},
              {true, 672, true},   {false, 673, true}, {true, 64, false}, {false, 64, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << (r.is_ec ? "EC" : "DSA") << " digest " << r.digest
                                    << (r.attributes ? " with attributes" : ""));
    EVP_PKEY* key = r.is_ec ? ec : dsa;
    X509* cert = r.is_ec ? ec_cert : dsa_cert;
    const EVP_MD* md = EVP_get_digestbyname(OBJ_nid2sn(r.digest));
    ASSERT_NE(md, nullptr);

    // Signing from a running digest of the record's algorithm.
    PKCS7* p7 = NewSigned();
    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, cert, key, EVP_sha1());
    ASSERT_NE(si, nullptr);
    PKCS7_add_certificate(p7, cert);
    if (r.attributes) PKCS7_add_signed_attribute(si, 50, ASN1_UT_OBJECT, OBJ_nid2obj(21));
    SetSignerDigest(p7, r.digest);
    if (r.digest == 64) {
      ASSERT_EQ(Produce(p7, text), 1);
      EXPECT_TRUE(ErrorsAre({}));
    } else {
      EXPECT_EQ(Produce(p7, text), 0);
      EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_SIGNFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE},
                             {kLib, PKCS7_F_PKCS7_DATAFINAL, ERR_R_EVP_LIB}}));
      // A message signed over SHA-1 whose record then names the digest, its
      // messageDigest attribute made to match the content.
      SetSignerDigest(p7, 64);
      ASSERT_EQ(Produce(p7, text), 1);
      SetSignerDigest(p7, r.digest);
      if (r.attributes) {
        unsigned char dgst[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        ASSERT_TRUE(EVP_Digest(text.data(), text.size(), dgst, &n, md, nullptr));
        ASSERT_TRUE(ASN1_OCTET_STRING_set(PKCS7_digest_from_attributes(si->auth_attr), dgst,
                                          static_cast<int>(n)));
      }
    }

    // Verifying over a running digest of the record's algorithm, the EC
    // signer labelled with its bare key (ecdsa-with-SHA1 over another
    // digest is refused before the key is used).
    if (r.is_ec && r.digest != 64) {
      ASN1_OBJECT_free(si->digest_enc_alg->algorithm);
      si->digest_enc_alg->algorithm = OBJ_nid2obj(408);  // id-ecPublicKey
    }
    BIO* in = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(ReadAll(in), text);
    if (r.digest == 64) {
      EXPECT_EQ(PKCS7_signatureVerify(in, p7, si, cert), 1);
      EXPECT_TRUE(ErrorsAre({}));
    } else {
      EXPECT_EQ(PKCS7_signatureVerify(in, p7, si, cert), -1);
      EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_VERIFYFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE},
                             {kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_FAILURE}}));
    }
    BIO_free_all(in);

    // The same through PKCS7_verify, from the message's DER.
    std::vector<unsigned char> der = Der(p7);
    const unsigned char* p = der.data();
    PKCS7* back = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(back, nullptr);
    BIO* out = BIO_new(BIO_s_mem());
    const int ok = PKCS7_verify(back, nullptr, nullptr, nullptr, out, PKCS7_FLAG_NO_VERIFY);
    if (r.digest == 64) {
      EXPECT_EQ(ok, 1);
      EXPECT_TRUE(ErrorsAre({}));
    } else {
      EXPECT_EQ(ok, 0);
      EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_VERIFYFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE},
                             {kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_FAILURE},
                             {kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE}}));
    }
    BIO_free(out);
    PKCS7_free(back);
    PKCS7_free(p7);
  }
  X509_free(dsa_cert);
  X509_free(ec_cert);
  EVP_PKEY_free(dsa);
  EVP_PKEY_free(ec);
}

// The signer's digestEncryptionAlgorithm must fit its key and digest: an
// RSA PKCS#1 v1.5 signature labelled as DSA, EC or RSASSA-PSS, or with an
// RSA-with-digest identifier of another digest than the signer's SHA-1, is
// refused (the label is outside what the signature covers); the forms
// writers use for RSA over SHA-1 pass.
TEST(Pkcs7Engine, SignatureAlgorithmMustFitTheKey) {
  const struct {
    const char* oid;
    bool fits;
  } rows[] = {
      {"1.2.840.10040.4.1", false},      // dsaEncryption
      {"1.2.840.10045.2.1", false},      // id-ecPublicKey
      {"1.2.840.10040.4.3", false},      // dsaWithSHA1
      {"1.2.840.113549.1.1.10", false},  // RSASSA-PSS
      {"1.2.840.113549.1.1.1", true},    // rsaEncryption
      {"1.2.840.113549.1.1.5", true},    // sha1WithRSAEncryption
      {"1.3.14.3.2.29", true},           // sha-1WithRSAEncryption (OIW)
      {"1.2.840.113549.1.1.11", false},  // sha256WithRSAEncryption
      {"1.2.840.113549.1.1.4", false},   // md5WithRSAEncryption
  };
  BIO* in = MemOf("content");
  PKCS7* p7 = PKCS7_sign(UserCert(0), UserKey(0), nullptr, in, PKCS7_FLAG_BINARY);
  BIO_free(in);
  ASSERT_NE(p7, nullptr);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.oid);
    X509_ALGOR* alg = Signer(p7, 0)->digest_enc_alg;
    ASN1_OBJECT_free(alg->algorithm);
    alg->algorithm = OBJ_txt2obj(r.oid, 1);
    EXPECT_EQ(PKCS7_verify(p7, nullptr, nullptr, nullptr, nullptr, PKCS7_FLAG_NO_VERIFY),
              r.fits ? 1 : 0);
    if (r.fits) {
      EXPECT_TRUE(ErrorsAre({}));
    } else {
      EXPECT_TRUE(
          ErrorsAre({{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_ALGORITHM_MISMATCH},
                     {kLib, PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE}}));
    }
  }
  PKCS7_free(p7);
}

// ---- attributes -----------------------------------------------------------

TEST(Pkcs7Attributes, ReplacingKeepsPosition) {
  PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
  const int nids[] = {50, 52, 51};
  for (int nid : nids) {
    ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(v, reinterpret_cast<const unsigned char*>("a"), 1);
    ASSERT_TRUE(PKCS7_add_signed_attribute(si, nid, ASN1_UT_OCTET_STRING, v));
  }
  ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(v, reinterpret_cast<const unsigned char*>("bb"), 2);
  ASSERT_TRUE(PKCS7_add_signed_attribute(si, 52, ASN1_UT_OCTET_STRING, v));
  ASSERT_EQ(sk_num(si->auth_attr), 3);
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(OBJ_obj2nid(reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i))->object),
              nids[i]);
  EXPECT_EQ(PKCS7_get_signed_attribute(si, 52)->value.octet_string->length, 2);
  EXPECT_EQ(PKCS7_digest_from_attributes(si->auth_attr)->length, 1);
  EXPECT_EQ(PKCS7_get_attribute(si, 52), nullptr);

  // The copies of the setters.
  PKCS7_SIGNER_INFO* other = PKCS7_SIGNER_INFO_new();
  ASSERT_TRUE(PKCS7_set_attributes(other, si->auth_attr));
  EXPECT_EQ(sk_num(other->unauth_attr), 3);
  EXPECT_NE(sk_value(other->unauth_attr, 0), sk_value(si->auth_attr, 0));
  ASSERT_TRUE(PKCS7_set_signed_attributes(other, nullptr));
  EXPECT_EQ(sk_num(other->auth_attr), 0);
  PKCS7_SIGNER_INFO_free(other);
  PKCS7_SIGNER_INFO_free(si);
}

// Every allocation of an attribute's addition failing in turn: 0 with
// "malloc failure" queued, the value still the caller's; or 1.
TEST(Pkcs7Attributes, AdditionUnderAllocationFailureSaysSo) {
  for (long n = 1;; n++) {
    PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    morvane_test::FailAllocationAfter(n);
    const int ok = PKCS7_add_signed_attribute(si, 51, ASN1_UT_OCTET_STRING, value);
    morvane_test::FailAllocationAfter(0);
    if (!ok) {
      EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), ERR_R_MALLOC_FAILURE) << n;
      ERR_clear_error();
      ASN1_OCTET_STRING_free(value);
    }
    PKCS7_SIGNER_INFO_free(si);
    if (ok) break;
  }
}

TEST(Pkcs7Attributes, SmimeCapabilities) {
  STACK* sk = sk_new_null();
  ASSERT_TRUE(PKCS7_simple_smimecap(sk, 37, 40));
  ASSERT_TRUE(PKCS7_simple_smimecap(sk, 44, -1));
  auto* rc2 = reinterpret_cast<X509_ALGOR*>(sk_value(sk, 0));
  EXPECT_EQ(Nid(rc2), 37);
  ASSERT_NE(rc2->parameter, nullptr);
  EXPECT_EQ(rc2->parameter->type, ASN1_UT_INTEGER);
  EXPECT_EQ(ASN1_INTEGER_get(rc2->parameter->value.integer), 40);
  auto* des3 = reinterpret_cast<X509_ALGOR*>(sk_value(sk, 1));
  EXPECT_EQ(Nid(des3), 44);
  EXPECT_EQ(des3->parameter, nullptr);

  PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
  ASSERT_TRUE(PKCS7_add_attrib_smimecap(si, sk));
  ASN1_TYPE* t = PKCS7_get_signed_attribute(si, 167);
  ASSERT_NE(t, nullptr);
  // SEQUENCE { rc2-cbc INTEGER 40 } { des-ede3-cbc }, RFC 2633 2.5.2.
  EXPECT_EQ(morvane_test::ToHex(t->value.sequence->data, t->value.sequence->length),
            "301b300d06082a864886f70d0302020128"
            "300a06082a864886f70d0307");
  STACK* back = PKCS7_get_smimecap(si);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(sk_num(back), 2);
  sk_pop_free(back, reinterpret_cast<void (*)(void*)>(X509_ALGOR_free));

  // An OCTET STRING in place of the SEQUENCE is not a capability list.
  ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
  ASSERT_TRUE(PKCS7_add_signed_attribute(si, 167, ASN1_UT_OCTET_STRING, os));
  EXPECT_EQ(PKCS7_get_smimecap(si), nullptr);
  PKCS7_SIGNER_INFO_free(si);
  sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(X509_ALGOR_free));
}

// ---- the data engine ------------------------------------------------------

TEST(Pkcs7Engine, TwoDigestsChainAndEachSignerSignsFromItsFilter) {
  PKCS7* p7 = NewSigned();
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1()), nullptr);
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(1), UserKey(1), EVP_md5()), nullptr);
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  ASSERT_NE(chain, nullptr);
  EVP_MD_CTX* c1 = nullptr;
  EVP_MD_CTX* c2 = nullptr;
  ASSERT_EQ(BIO_method_type(chain), BIO_TYPE_MD);
  BIO_get_md_ctx(chain, &c1);
  EXPECT_EQ(EVP_MD_type(EVP_MD_CTX_md(c1)), 64);
  BIO* second = BIO_next(chain);
  ASSERT_EQ(BIO_method_type(second), BIO_TYPE_MD);
  BIO_get_md_ctx(second, &c2);
  EXPECT_EQ(EVP_MD_type(EVP_MD_CTX_md(c2)), 4);
  EXPECT_EQ(BIO_method_type(BIO_next(second)), BIO_TYPE_MEM);
  BIO_write(chain, "hello", 5);
  ASSERT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p7->d.sign->contents->d.data->data),
                        p7->d.sign->contents->d.data->length),
            "hello");
  // Without attributes each signature is over the content digest: RSA
  // recovers a DigestInfo of that digest's algorithm.
  for (int i = 0; i < 2; i++) {
    PKCS7_SIGNER_INFO* si = Signer(p7, i);
    EXPECT_EQ(si->auth_attr, nullptr);
    BIO* in = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr);
    ReadAll(in);
    EXPECT_EQ(PKCS7_signatureVerify(in, p7, si, UserCert(i)), 1) << i;
    BIO_free_all(in);
  }
  PKCS7_free(p7);
}

TEST(Pkcs7Engine, DetachedEndsInNullSinkAndStoresNoContent) {
  PKCS7* p7 = NewSigned();
  PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1());
  PKCS7_set_detached(p7, 1);
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(BIO_method_type(BIO_next(chain)), BIO_TYPE_NULL);
  BIO_write(chain, "abc", 3);
  EXPECT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  EXPECT_EQ(p7->d.sign->contents->d.data, nullptr);
  EXPECT_GT(Signer(p7, 0)->enc_digest->length, 0);
  PKCS7_free(p7);
}

TEST(Pkcs7Engine, SignedAttributesGainTimeAndDigestInDerOrder) {
  PKCS7* p7 = NewSigned();
  PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1());
  PKCS7_add_signed_attribute(si, 50, ASN1_UT_OBJECT, OBJ_nid2obj(21));
  ASSERT_EQ(Produce(p7, "content"), 1);
  ASSERT_EQ(sk_num(si->auth_attr), 3);
  // DER order: contentType (30 18), signingTime (30 1C), messageDigest (30 23).
  const int expected[] = {50, 52, 51};
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(OBJ_obj2nid(reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i))->object),
              expected[i]);
  ASN1_TYPE* t = PKCS7_get_signed_attribute(si, 52);
  ASN1_UTCTIME* first_time = ASN1_STRING_dup(t->value.utctime);

  // A second final replaces messageDigest and keeps signingTime.
  BIO* chain = PKCS7_dataInit(p7, BIO_new(BIO_s_mem()));
  BIO_write(chain, "content", 7);
  ASSERT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  EXPECT_EQ(sk_num(si->auth_attr), 3);
  EXPECT_EQ(ASN1_STRING_cmp(PKCS7_get_signed_attribute(si, 52)->value.utctime, first_time), 0);
  ASN1_STRING_free(first_time);

  BIO* in = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr);
  ReadAll(in);
  EXPECT_EQ(PKCS7_signatureVerify(in, p7, si, UserCert(0)), 1);
  BIO_free_all(in);

  // A messageDigest one byte short.
  ASN1_OCTET_STRING* md = PKCS7_digest_from_attributes(si->auth_attr);
  md->length -= 1;
  in = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr);
  ReadAll(in);
  EXPECT_EQ(PKCS7_signatureVerify(in, p7, si, UserCert(0)), -1);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DIGEST_FAILURE}}));
  md->length += 1;

  // A chain without the signer's digest filter.
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(PKCS7_signatureVerify(mem, p7, si, UserCert(0)), 0);
  EXPECT_TRUE(ErrorsAre(
      {{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST}}));
  BIO_free(mem);
  BIO_free_all(in);
  PKCS7_free(p7);
}

TEST(Pkcs7Engine, EnvelopedTripleDesToTwoRecipients) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 23);
  ASSERT_TRUE(PKCS7_set_cipher(p7, EVP_des_ede3_cbc()));
  ASSERT_NE(PKCS7_add_recipient(p7, UserCert(0)), nullptr);
  ASSERT_NE(PKCS7_add_recipient(p7, UserCert(1)), nullptr);
  ASSERT_EQ(Produce(p7, "secret content"), 1);
  STACK* rsk = p7->d.enveloped->recipientinfo;
  std::vector<unsigned char> keys[2];
  for (int i = 0; i < 2; i++) {
    auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, i));
    unsigned char out[256];
    const int n = EVP_PKEY_decrypt(out, ri->enc_key->data, ri->enc_key->length, UserKey(i));
    ASSERT_EQ(n, 24);
    keys[i].assign(out, out + n);
  }
  EXPECT_EQ(keys[0], keys[1]);
  X509_ALGOR* alg = p7->d.enveloped->enc_data->algorithm;
  EXPECT_EQ(Nid(alg), 44);
  ASSERT_NE(alg->parameter, nullptr);
  EXPECT_EQ(alg->parameter->type, ASN1_UT_OCTET_STRING);
  EXPECT_EQ(alg->parameter->value.octet_string->length, 8);
  for (int i = 0; i < 2; i++) {
    BIO* in = PKCS7_dataDecode(p7, UserKey(i), nullptr, UserCert(i));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(ReadAll(in), "secret content");
    BIO_free_all(in);
  }
  PKCS7_free(p7);
}

TEST(Pkcs7Engine, RecipientFailures) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 23);
  PKCS7_set_cipher(p7, EVP_des_ede3_cbc());
  PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
  PKCS7_add_recipient_info(p7, ri);
  EXPECT_EQ(PKCS7_dataInit(p7, nullptr), nullptr);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DATAINIT, PKCS7_R_MISSING_CERIPEND_INFO}}));
  PKCS7_free(p7);

  p7 = PKCS7_new();
  PKCS7_set_type(p7, 23);
  EXPECT_EQ(PKCS7_dataInit(p7, nullptr), nullptr);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DATAINIT, PKCS7_R_CIPHER_NOT_INITIALIZED}}));
  PKCS7_set_cipher(p7, EVP_aes_128_cbc());
  PKCS7_add_recipient(p7, UserCert(0));
  ASSERT_EQ(Produce(p7, "x"), 1);

  // A key of no recipient opens no block: the chain decrypts with a random
  // key of the cipher's length, as for a block that does not open (no error
  // of its own; an earlier one survives).
  ERR_put_error(ERR_LIB_USER, 1, 2, "earlier", 1);
  BIO* chain = PKCS7_dataDecode(p7, UserKey(3), nullptr, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_NE(ReadAll(chain), "x");
  BIO_free_all(chain);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_USER, 1, 2}}));
  EXPECT_EQ(PKCS7_dataDecode(p7, UserKey(3), nullptr, UserCert(3)), nullptr);
  EXPECT_TRUE(ErrorsAre(
      {{kLib, PKCS7_F_PKCS7_DATADECODE, PKCS7_R_NO_RECIPIENT_MATCHES_CERTIFICATE}}));
  // A null key for an enveloped message.
  EXPECT_EQ(PKCS7_dataDecode(p7, nullptr, nullptr, nullptr), nullptr);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DATADECODE, ERR_R_PASSED_NULL_PARAMETER}}));
  PKCS7_free(p7);
}

TEST(Pkcs7Engine, DigestedDataAndStreamingEncoding) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 25);
  ASSERT_TRUE(PKCS7_set_digest(p7, EVP_sha1()));
  ASSERT_TRUE(PKCS7_content_new(p7, 21));
  ASSERT_EQ(Produce(p7, "abc"), 1);
  // SHA-1("abc"), FIPS 180-2 appendix A.1.
  EXPECT_EQ(morvane_test::ToHex(p7->d.digest->digest->data, p7->d.digest->digest->length),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  unsigned char* out = nullptr;
  const int n = i2d_PKCS7_NDEF(p7, &out);
  ASSERT_GT(n, 4);
  EXPECT_EQ(out[0], 0x30);
  EXPECT_EQ(out[1], 0x80);  // indefinite length
  MORVANE_free(out);
  PKCS7* copy = PKCS7_dup(p7);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Der(copy), Der(p7));
  PKCS7_free(copy);
  PKCS7_free(p7);
}

}  // namespace
