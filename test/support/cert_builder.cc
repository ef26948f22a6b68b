// Certificates made by the tests: a subject and issuer name, a version, a
// serial number and extensions given as DER, signed with SHA-1 by one
// 512-bit RSA test key made on first use (nothing here is about the key).

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

#include "cert_builder.h"

namespace morvane_test {

namespace {

EVP_PKEY* TestCaKey() {
  static EVP_PKEY* key = [] {
    RSA* rsa = RSA_new();
    BIGNUM* e = BN_new();
    BN_set_word(e, 65537);
    EXPECT_EQ(1, RSA_generate_key_ex(rsa, 512, e, nullptr));
    BN_free(e);
    EVP_PKEY* pkey = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(pkey, rsa);
    return pkey;
  }();
  return key;
}

void AddName(X509_NAME* name, const std::string& cn) {
  EXPECT_EQ(1, X509_NAME_add_entry_by_txt(name, "CN", ASN1_UT_UTF8STRING,
                                          reinterpret_cast<const unsigned char*>(cn.c_str()),
                                          -1, -1, 0));
}

// The extension `e`; an nid of 0 stands for the unregistered 1.2.3.4.
X509_EXTENSION* NewExt(const CertExt& e) {
  ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(value, e.der.data(), static_cast<int>(e.der.size()));
  X509_EXTENSION* ext = nullptr;
  if (e.nid != 0) {
    ext = X509_EXTENSION_create_by_NID(nullptr, e.nid, e.critical, value);
  } else {
    ASN1_OBJECT* obj = OBJ_txt2obj("1.2.3.4", 1);
    ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, e.critical, value);
    ASN1_OBJECT_free(obj);
  }
  EXPECT_NE(nullptr, ext);
  ASN1_OCTET_STRING_free(value);
  return ext;
}

// SHA-1 as the signing key's algorithm takes it.
const EVP_MD* Sha1For(EVP_PKEY* key) {
  switch (EVP_PKEY_type(key->type)) {
    case EVP_PKEY_DSA:
      return EVP_dss1();
    case EVP_PKEY_EC:
      return EVP_ecdsa();
    default:
      return EVP_sha1();
  }
}

}  // namespace

X509* MakeCert(const CertSpec& spec) {
  X509* x = X509_new();
  X509_CINF* ci = x->cert_info;
  if (spec.version != 0) {
    ci->version = ASN1_INTEGER_new();
    ASN1_INTEGER_set(ci->version, spec.version);
  }
  ASN1_INTEGER_set(ci->serialNumber, spec.serial);
  AddName(ci->subject, spec.subject);
  AddName(ci->issuer, spec.issuer.empty() ? spec.subject : spec.issuer);
  ASN1_TIME_set(ci->validity->notBefore, spec.not_before);
  ASN1_TIME_set(ci->validity->notAfter, spec.not_after);
  EXPECT_EQ(1, X509_PUBKEY_set(&ci->key, spec.key != nullptr ? spec.key : TestCaKey()));
  for (const CertExt& e : spec.exts) {
    X509_EXTENSION* ext = NewExt(e);
    EXPECT_EQ(1, X509_add_ext(x, ext, -1));
    X509_EXTENSION_free(ext);
  }
  EVP_PKEY* signer = spec.issuer_key != nullptr ? spec.issuer_key : TestCaKey();
  EXPECT_GT(ASN1_item_sign(&X509_CINF_it, ci->signature, x->sig_alg, x->signature, ci, signer,
                           Sha1For(signer)),
            0);
  return x;
}

X509_CRL* MakeCrl(const std::string& issuer, const std::vector<CrlEntry>& entries,
                  time_t last_update, time_t next_update, const std::vector<CertExt>& exts,
                  EVP_PKEY* key) {
  X509_CRL* crl = X509_CRL_new();
  EXPECT_EQ(1, X509_CRL_set_version(crl, 1));
  X509_NAME* name = X509_NAME_new();
  AddName(name, issuer);
  EXPECT_EQ(1, X509_CRL_set_issuer_name(crl, name));
  X509_NAME_free(name);
  ASN1_TIME* t = ASN1_TIME_set(nullptr, last_update);
  EXPECT_EQ(1, X509_CRL_set_lastUpdate(crl, t));
  ASN1_TIME_set(t, next_update);
  EXPECT_EQ(1, X509_CRL_set_nextUpdate(crl, t));
  for (const CrlEntry& e : entries) {
    X509_REVOKED* rev = X509_REVOKED_new();
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, e.serial);
    EXPECT_EQ(1, X509_REVOKED_set_serialNumber(rev, serial));
    ASN1_INTEGER_free(serial);
    ASN1_TIME* when = ASN1_TIME_set(nullptr, 1577836800);
    EXPECT_EQ(1, X509_REVOKED_set_revocationDate(rev, when));
    ASN1_TIME_free(when);
    for (const CertExt& x : e.exts) {
      X509_EXTENSION* ext = NewExt(x);
      EXPECT_EQ(1, X509_REVOKED_add_ext(rev, ext, -1));
      X509_EXTENSION_free(ext);
    }
    EXPECT_EQ(1, X509_CRL_add0_revoked(crl, rev));
  }
  ASN1_TIME_free(t);
  for (const CertExt& e : exts) {
    X509_EXTENSION* ext = NewExt(e);
    EXPECT_EQ(1, X509_CRL_add_ext(crl, ext, -1));
    X509_EXTENSION_free(ext);
  }
  EXPECT_EQ(1, X509_CRL_sort(crl));
  EVP_PKEY* signer = key != nullptr ? key : TestCaKey();
  EXPECT_GT(X509_CRL_sign(crl, signer, Sha1For(signer)), 0);
  return crl;
}

}  // namespace morvane_test
