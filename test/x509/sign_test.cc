// Setters, requests, signing, verification (over the signed part's octets as
// read), digests, the SPKI text form and the certificate type; the PKITS
// certificates and lists (../shared/vectors/pkits) for the published
// signatures, and an x509-limbo leaf respelled.

#include <string.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using x509_test::Decode;
using x509_test::Encode;

constexpr int kNidCommonName = 13;
constexpr int kNidExtReq = 172;
constexpr int kNidMsExtReq = 171;
constexpr int kNidBasicConstraints = 87;
constexpr int kNidKeyUsage = 83;
constexpr int kNidMd5WithRsa = 8;

X509_NAME* Name(const char* cn) {
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_NID(n, kNidCommonName, ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  return n;
}

// A certificate for `key`, issued by "Test CA", valid now, signed with
// signer and md.
X509* MakeCert(EVP_PKEY* key, EVP_PKEY* signer, const EVP_MD* md) {
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
  X509_NAME* issuer = Name("Test CA");
  X509_NAME* subject = Name("Test subject");
  X509_set_issuer_name(x, issuer);
  X509_set_subject_name(x, subject);
  X509_NAME_free(issuer);
  X509_NAME_free(subject);
  x->cert_info->validity->notBefore = X509_gmtime_adj(x->cert_info->validity->notBefore, 0);
  x->cert_info->validity->notAfter = X509_gmtime_adj(x->cert_info->validity->notAfter, 86400);
  X509_set_pubkey(x, key);
  EXPECT_GT(X509_sign(x, signer, md), 0);
  return x;
}

X509_REQ* MakeReq(EVP_PKEY* key) {
  X509_REQ* r = X509_REQ_new();
  X509_REQ_set_version(r, 0);
  X509_NAME* subject = Name("Requester");
  X509_REQ_set_subject_name(r, subject);
  X509_NAME_free(subject);
  X509_REQ_set_pubkey(r, key);
  return r;
}

X509_EXTENSION* Ext(int nid) {
  ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
  const unsigned char der[] = {0x30, 0x00};
  ASN1_OCTET_STRING_set(v, der, sizeof der);
  X509_EXTENSION* e = X509_EXTENSION_create_by_NID(nullptr, nid, 0, v);
  ASN1_OCTET_STRING_free(v);
  return e;
}

STACK* Exts(int nid) {
  STACK* sk = sk_new_null();
  sk_push(sk, reinterpret_cast<char*>(Ext(nid)));
  return sk;
}

void FreeExts(STACK* sk) {
  sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(X509_EXTENSION_free));
}

// EC keys go into certificates once the curve-parameter encoder is built.
bool EcKeyEncodes() {
  unsigned char* der = nullptr;
  const int n = i2d_EC_PUBKEY(x509_test::EcKey()->pkey.ec, &der);
  MORVANE_free(der);
  morvane_test::DrainErrors();
  return n > 0;
}

constexpr const char* kNoEcEncoding =
    "EC key encodings (i2d_ECParameters, the EC parameter and key encodings) are not built";

class SignTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { x509_test::AddAlgorithms(); }
};

TEST_F(SignTest, SettingTheSerialNumberItHoldsChangesNothing) {
  X509* x = MakeCert(x509_test::RsaKey(), x509_test::RsaKey(), EVP_sha1());
  ASN1_INTEGER* serial = X509_get_serialNumber(x);
  EXPECT_EQ(1, X509_set_serialNumber(x, X509_get_serialNumber(x)));
  EXPECT_EQ(serial, X509_get_serialNumber(x));
  EXPECT_EQ(7, ASN1_INTEGER_get(serial));
  // Another serial is copied: the caller keeps its own.
  ASN1_INTEGER* other = ASN1_INTEGER_new();
  ASN1_INTEGER_set(other, 9);
  EXPECT_EQ(1, X509_set_serialNumber(x, other));
  EXPECT_NE(other, X509_get_serialNumber(x));
  EXPECT_EQ(9, ASN1_INTEGER_get(X509_get_serialNumber(x)));
  ASN1_INTEGER_free(other);
  EXPECT_EQ(0, X509_set_serialNumber(nullptr, serial));
  EXPECT_EQ(0, X509_set_notBefore(nullptr, nullptr));
  X509_free(x);
  EXPECT_ERRORS({});
}

// A decoded request changed in place (an entry added to its subject) and
// signed again: the encoding and the
// signature cover the new subject, as for certificates and lists.
TEST_F(SignTest, RequestChangedInPlaceThenSignedCarriesTheChange) {
  X509_REQ* made = MakeReq(x509_test::RsaKey());
  ASSERT_GT(X509_REQ_sign(made, x509_test::RsaKey(), EVP_sha1()), 0);
  const Bytes der = x509_test::Encode(i2d_X509_REQ, made);
  X509_REQ_free(made);
  X509_REQ* r = x509_test::Decode(d2i_X509_REQ, der);
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(1, X509_NAME_add_entry_by_txt(r->req_info->subject, "O", ASN1_MB_ASCII,
                                          reinterpret_cast<const unsigned char*>("Changed"), -1,
                                          -1, 0));
  ASSERT_GT(X509_REQ_sign(r, x509_test::RsaKey(), EVP_sha1()), 0);
  X509_REQ* back = x509_test::Decode(d2i_X509_REQ, x509_test::Encode(i2d_X509_REQ, r));
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(0, X509_NAME_cmp(r->req_info->subject, back->req_info->subject));
  EXPECT_EQ(1, X509_REQ_verify(back, x509_test::RsaKey()));
  X509_REQ_free(back);
  X509_REQ_free(r);
  EXPECT_ERRORS({});
}

TEST_F(SignTest, SortedCrlEntriesAreNumberedInOrder) {
  X509_CRL* crl = X509_CRL_new();
  for (long serial : {5, 1, 3, 2}) {
    X509_REVOKED* r = X509_REVOKED_new();
    ASN1_INTEGER* s = ASN1_INTEGER_new();
    ASN1_INTEGER_set(s, serial);
    EXPECT_EQ(1, X509_REVOKED_set_serialNumber(r, s));
    ASN1_INTEGER_free(s);
    ASSERT_EQ(1, X509_CRL_add0_revoked(crl, r));
  }
  crl->crl->enc.modified = 0;
  EXPECT_EQ(1, X509_CRL_sort(crl));
  EXPECT_EQ(1, crl->crl->enc.modified);
  const long want[] = {1, 2, 3, 5};
  ASSERT_EQ(4, sk_num(crl->crl->revoked));
  for (int i = 0; i < 4; i++) {
    auto* r = reinterpret_cast<X509_REVOKED*>(sk_value(crl->crl->revoked, i));
    EXPECT_EQ(i, r->sequence);
    EXPECT_EQ(want[i], ASN1_INTEGER_get(r->serialNumber));
  }
  X509_CRL_free(crl);
}

// A request's attribute list decides the certificate's version: an empty
// list gives version 1 (no field), any attribute version 3, and a missing
// list counts -1, so version 3 too.
TEST_F(SignTest, RequestToCertificateVersion) {
  enum Attrs { kEmpty, kOne, kNoList };
  const struct {
    Attrs attrs;
    long version;  // -1: no field
  } cases[] = {{kEmpty, -1}, {kOne, 2}, {kNoList, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.attrs));
    X509_REQ* r = MakeReq(x509_test::RsaKey());
    if (c.attrs == kOne) {
      ASSERT_EQ(1, X509_REQ_add1_attr_by_NID(r, 54 /* challengePassword */, ASN1_MB_ASCII,
                                             reinterpret_cast<const unsigned char*>("pw"), -1));
    } else if (c.attrs == kNoList) {
      sk_pop_free(r->req_info->attributes, reinterpret_cast<void (*)(void*)>(X509_ATTRIBUTE_free));
      r->req_info->attributes = nullptr;
    }
    X509* x = X509_REQ_to_X509(r, 30, x509_test::RsaKey());
    ASSERT_NE(nullptr, x);
    if (c.version < 0)
      EXPECT_EQ(nullptr, x->cert_info->version);
    else
      EXPECT_EQ(c.version, ASN1_INTEGER_get(x->cert_info->version));
    EXPECT_EQ(0, X509_NAME_cmp(X509_get_subject_name(x), r->req_info->subject));
    EXPECT_EQ(0, X509_NAME_cmp(X509_get_issuer_name(x), r->req_info->subject));
    EXPECT_EQ(kNidMd5WithRsa, OBJ_obj2nid(x->sig_alg->algorithm));
    EXPECT_EQ(1, X509_verify(x, x509_test::RsaKey()));
    EXPECT_EQ(1, X509_check_private_key(x, x509_test::RsaKey()));
    X509_free(x);
    X509_REQ_free(r);
  }
  EXPECT_ERRORS({});
}

TEST_F(SignTest, CertificateToRequest) {
  X509* x = MakeCert(x509_test::RsaKey(), x509_test::RsaKey2(), EVP_sha1());
  X509_REQ* r = X509_to_X509_REQ(x, x509_test::RsaKey(), EVP_sha1());
  ASSERT_NE(nullptr, r);
  // RFC 2986, 4.1: version INTEGER { v1(0) }, read in memory as the one
  // content octet 00 it encodes as.
  const ASN1_INTEGER* version = r->req_info->version;
  EXPECT_EQ(ASN1_UT_INTEGER, version->type);
  ASSERT_EQ(1, version->length);
  EXPECT_EQ(0, version->data[0]);
  EXPECT_EQ(0, ASN1_INTEGER_get(version));
  EXPECT_EQ(0, X509_NAME_cmp(r->req_info->subject, X509_get_subject_name(x)));
  EXPECT_EQ(1, X509_REQ_verify(r, x509_test::RsaKey()));
  EXPECT_EQ(1, X509_REQ_check_private_key(r, x509_test::RsaKey()));
  EXPECT_EQ(0, X509_REQ_check_private_key(r, x509_test::RsaKey2()));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_REQ_CHECK_PRIVATE_KEY, X509_R_KEY_VALUES_MISMATCH}});
  EXPECT_EQ(0, X509_REQ_check_private_key(r, x509_test::DsaKey()));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_REQ_CHECK_PRIVATE_KEY, X509_R_KEY_TYPE_MISMATCH}});
  X509_REQ* unsigned_req = X509_to_X509_REQ(x, nullptr, nullptr);
  ASSERT_NE(nullptr, unsigned_req);
  EXPECT_EQ(nullptr, unsigned_req->signature->data);
  X509_REQ_free(unsigned_req);
  X509_REQ_free(r);
  X509_free(x);
}

TEST_F(SignTest, RequestedExtensions) {
  X509_REQ* r = MakeReq(x509_test::RsaKey());
  EXPECT_EQ(1, X509_REQ_extension_nid(kNidExtReq));
  EXPECT_EQ(1, X509_REQ_extension_nid(kNidMsExtReq));
  EXPECT_EQ(0, X509_REQ_extension_nid(kNidKeyUsage));
  EXPECT_EQ(nullptr, X509_REQ_get_extensions(r));
  // Microsoft's attribute first, then the standard one: the standard one wins.
  STACK* ms = Exts(kNidKeyUsage);
  STACK* std_exts = Exts(kNidBasicConstraints);
  ASSERT_EQ(1, X509_REQ_add_extensions_nid(r, ms, kNidMsExtReq));
  ASSERT_EQ(1, X509_REQ_add_extensions(r, std_exts));
  STACK* got = X509_REQ_get_extensions(r);
  ASSERT_NE(nullptr, got);
  ASSERT_EQ(1, sk_num(got));
  EXPECT_EQ(kNidBasicConstraints,
            OBJ_obj2nid(reinterpret_cast<X509_EXTENSION*>(sk_value(got, 0))->object));
  FreeExts(got);
  // The list survives an encoding of the request.
  const Bytes der = Encode(i2d_X509_REQ, r);
  X509_REQ* back = Decode(d2i_X509_REQ, der);
  ASSERT_NE(nullptr, back);
  got = X509_REQ_get_extensions(back);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(1, sk_num(got));
  FreeExts(got);
  X509_REQ_free(back);
  FreeExts(ms);
  FreeExts(std_exts);
  X509_REQ_free(r);
  EXPECT_ERRORS({});
}

TEST_F(SignTest, RequestedExtensionsInASetAreRefused) {
  X509_REQ* r = MakeReq(x509_test::RsaKey());
  STACK* exts = Exts(kNidKeyUsage);
  ASSERT_EQ(1, X509_REQ_add_extensions(r, exts));
  auto* attr = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(r->req_info->attributes, 0));
  auto* value = reinterpret_cast<ASN1_TYPE*>(sk_value(attr->value.set, 0));
  value->type = ASN1_UT_SET;
  value->value.sequence->data[0] = 0x31;
  value->value.sequence->type = ASN1_UT_SET;
  EXPECT_EQ(nullptr, X509_REQ_get_extensions(r));
  FreeExts(exts);
  X509_REQ_free(r);
  EXPECT_ERRORS({});
}

TEST_F(SignTest, ExtensionNidListIsReplaceable) {
  int only_ms[] = {kNidMsExtReq, 0};
  int* old = X509_REQ_get_extension_nids();
  X509_REQ_set_extension_nids(only_ms);
  EXPECT_EQ(only_ms, X509_REQ_get_extension_nids());
  EXPECT_EQ(0, X509_REQ_extension_nid(kNidExtReq));
  X509_REQ_set_extension_nids(old);
  EXPECT_EQ(1, X509_REQ_extension_nid(kNidExtReq));
}

// Each structure signed with each key type verifies; a changed signed part
// does not.
TEST_F(SignTest, SignedStructuresVerify) {
  const struct {
    const char* what;
    EVP_PKEY* key;
    const EVP_MD* md;
  } keys[] = {{"RSA", x509_test::RsaKey(), EVP_sha1()},
              {"DSA", x509_test::DsaKey(), EVP_dss1()},
              {"EC", x509_test::EcKey(), EVP_ecdsa()}};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.what);
    if (k.key == x509_test::EcKey() && !EcKeyEncodes()) {
      std::cout << "EC row left out: " << kNoEcEncoding << "\n";
      continue;
    }
    X509* x = MakeCert(k.key, k.key, k.md);
    EXPECT_EQ(1, X509_verify(x, k.key));
    EXPECT_EQ(OBJ_obj2nid(x->sig_alg->algorithm),
              OBJ_obj2nid(x->cert_info->signature->algorithm));
    ASN1_INTEGER_set(X509_get_serialNumber(x), 8);
    EXPECT_EQ(0, X509_verify(x, k.key));
    morvane_test::DrainErrors();  // the failed verification's reasons
    X509_free(x);

    X509_REQ* r = MakeReq(k.key);
    EXPECT_GT(X509_REQ_sign(r, k.key, k.md), 0);
    EXPECT_EQ(1, X509_REQ_verify(r, k.key));
    X509_REQ_set_version(r, 1);
    EXPECT_EQ(0, X509_REQ_verify(r, k.key));
    morvane_test::DrainErrors();
    X509_REQ_free(r);

    X509_CRL* crl = X509_CRL_new();
    X509_NAME* issuer = Name("Test CA");
    X509_CRL_set_issuer_name(crl, issuer);
    X509_NAME_free(issuer);
    crl->crl->lastUpdate = X509_gmtime_adj(crl->crl->lastUpdate, 0);
    EXPECT_GT(X509_CRL_sign(crl, k.key, k.md), 0);
    EXPECT_EQ(1, X509_CRL_verify(crl, k.key));
    // Decoded, the list verifies from the octets it was read from.
    const Bytes der = Encode(i2d_X509_CRL, crl);
    X509_CRL* back = Decode(d2i_X509_CRL, der);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(1, X509_CRL_verify(back, k.key));
    X509_CRL_set_version(back, 1);
    EXPECT_EQ(0, X509_CRL_verify(back, k.key));
    morvane_test::DrainErrors();
    X509_CRL_free(back);
    X509_CRL_free(crl);

    NETSCAPE_SPKI* spki = NETSCAPE_SPKI_new();
    EXPECT_EQ(1, NETSCAPE_SPKI_set_pubkey(spki, k.key));
    EXPECT_GT(NETSCAPE_SPKI_sign(spki, k.key, k.md), 0);
    EXPECT_EQ(1, NETSCAPE_SPKI_verify(spki, k.key));
    EVP_PKEY* got = NETSCAPE_SPKI_get_pubkey(spki);
    EXPECT_EQ(1, EVP_PKEY_cmp(got, k.key));
    EVP_PKEY_free(got);
    ASN1_STRING_set(spki->spkac->challenge, "x", 1);
    EXPECT_EQ(0, NETSCAPE_SPKI_verify(spki, k.key));
    morvane_test::DrainErrors();
    NETSCAPE_SPKI_free(spki);
  }
  EXPECT_ERRORS({});
}

// The elements of a DER content, each whole (tag of one octet, definite
// length).
std::vector<Bytes> Elements(const Bytes& content) {
  std::vector<Bytes> out;
  for (size_t i = 0; i + 2 <= content.size();) {
    size_t len = content[i + 1], head = 2;
    if (len & 0x80) {
      head += len & 0x7F;
      len = 0;
      for (size_t j = 2; j < head; j++) len = len << 8 | content[i + j];
    }
    out.emplace_back(content.begin() + i, content.begin() + i + head + len);
    i += head + len;
  }
  return out;
}

// The content of one element of definite length.
Bytes Content(const Bytes& element) {
  const size_t head = element[1] & 0x80 ? 2 + (element[1] & 0x7F) : 2;
  return Bytes(element.begin() + static_cast<long>(head), element.end());
}

// A certificate's DER with its signed part respelled by `respell` (which
// rewrites the signed part's elements), signed again over the new octets
// with `key` when given, else keeping the old signature.
Bytes Respelled(const Bytes& cert, void (*respell)(std::vector<Bytes>&), EVP_PKEY* key) {
  const std::vector<Bytes> outer = Elements(Content(cert));
  std::vector<Bytes> fields = Elements(Content(outer[0]));
  respell(fields);
  Bytes tbs_content;
  for (const Bytes& f : fields) tbs_content.insert(tbs_content.end(), f.begin(), f.end());
  const Bytes tbs = x509_test::Tlv(0x30, tbs_content);
  Bytes sig = outer[2];
  if (key != nullptr) {
    EVP_MD_CTX ctx;
    EVP_MD_CTX_init(&ctx);
    Bytes raw(static_cast<size_t>(EVP_PKEY_size(key)));
    unsigned int n = 0;
    EXPECT_EQ(1, EVP_SignInit_ex(&ctx, EVP_sha1(), nullptr));
    EXPECT_EQ(1, EVP_SignUpdate(&ctx, tbs.data(), tbs.size()));
    EXPECT_EQ(1, EVP_SignFinal(&ctx, raw.data(), &n, key));
    EVP_MD_CTX_cleanup(&ctx);
    raw.resize(n);
    raw.insert(raw.begin(), 0x00);  // no unused bits
    sig = x509_test::Tlv(0x03, raw);
  }
  return x509_test::Tlv(0x30, x509_test::Cat({tbs, outer[1], sig}));
}

// X.690 8.1.3.5 and 8.1.3.6: the serial number's length in the long form,
// the validity in the indefinite form.  The fields of a certificate: [0]
// version, serial, algorithm, issuer, validity, subject, key, [3] extensions.
void LongSerialLength(std::vector<Bytes>& f) {
  const Bytes c = Content(f[1]);
  f[1] = x509_test::Cat({{0x02, 0x81, static_cast<uint8_t>(c.size())}, c});
}
void IndefiniteValidity(std::vector<Bytes>& f) {
  f[4] = x509_test::Cat({{0x30, 0x80}, Content(f[4]), {0x00, 0x00}});
}
// The extensions' SEQUENCE OF with a primitive tag (X.690 8.10.1 forbids it).
void PrimitiveExtensions(std::vector<Bytes>& f) {
  Bytes& ext = f.back();
  ext[ext[1] & 0x80 ? 2 + (ext[1] & 0x7F) : 2] = 0x10;
}

// The respellings, and the reason a decode refuses one with (or 0).
const struct {
  const char* what;
  void (*respell)(std::vector<Bytes>&);
  int decode_reason;
} kRespellings[] = {
    {"long serial length", LongSerialLength, 0},
    {"indefinite validity", IndefiniteValidity, 0},
    {"primitive extensions", PrimitiveExtensions, ASN1_R_TYPE_NOT_CONSTRUCTED},
};

// A certificate's signature covers the octets read, as a revocation list's
// does: respelled after signing it verifies no more, and its encoding and
// digest are those of the octets read; signed as respelled (not DER) it
// verifies.  A setter or signing encodes the signed part afresh.
TEST_F(SignTest, CertificateSignatureCoversTheOctetsRead) {
  EVP_PKEY* ca = x509_test::RsaKey2();
  X509* made = MakeCert(x509_test::RsaKey(), ca, EVP_sha1());
  X509_EXTENSION* ext = Ext(kNidKeyUsage);
  ASSERT_EQ(1, X509_add_ext(made, ext, -1));
  X509_EXTENSION_free(ext);
  ASSERT_GT(X509_sign(made, ca, EVP_sha1()), 0);
  const Bytes der = Encode(i2d_X509, made);
  X509_free(made);
  for (const auto& c : kRespellings) {
    for (bool resigned : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (resigned ? ", signed so" : ", after signing"));
      const Bytes in = Respelled(der, c.respell, resigned ? ca : nullptr);
      ASSERT_NE(der, in);
      X509* x = Decode(d2i_X509, in);
      if (c.decode_reason != 0) {
        EXPECT_EQ(nullptr, x);
        EXPECT_EQ(c.decode_reason, ERR_GET_REASON(ERR_peek_error()));
        morvane_test::DrainErrors();
        continue;
      }
      ASSERT_NE(nullptr, x);
      EXPECT_EQ(in, Encode(i2d_X509, x));
      unsigned char md[EVP_MAX_MD_SIZE], want[EVP_MAX_MD_SIZE];
      unsigned int n = 0, wn = 0;
      ASSERT_EQ(1, X509_digest(x, EVP_sha1(), md, &n));
      ASSERT_EQ(1, EVP_Digest(in.data(), in.size(), want, &wn, EVP_sha1(), nullptr));
      EXPECT_EQ(Bytes(want, want + wn), Bytes(md, md + n));
      EXPECT_EQ(resigned ? 1 : 0, X509_verify(x, ca));
      morvane_test::DrainErrors();  // the failed verification's reasons
      if (resigned) {
        // Changed through a setter, the signed part is encoded from its
        // fields: the signature no longer fits until signed again, in DER.
        ASN1_INTEGER* serial = ASN1_INTEGER_new();
        ASN1_INTEGER_set(serial, 9);
        ASSERT_EQ(1, X509_set_serialNumber(x, serial));
        ASN1_INTEGER_free(serial);
        EXPECT_EQ(0, X509_verify(x, ca));
        morvane_test::DrainErrors();
        ASSERT_GT(X509_sign(x, ca, EVP_sha1()), 0);
        EXPECT_EQ(1, X509_verify(x, ca));
        const Bytes fresh = Encode(i2d_X509, x);
        X509* again = Decode(d2i_X509, fresh);
        ASSERT_NE(nullptr, again);
        EXPECT_EQ(1, X509_verify(again, ca));
        EXPECT_EQ(fresh, Encode(i2d_X509, again));
        EXPECT_EQ(Bytes({0x02, 0x01, 0x09}), Elements(Content(Elements(Content(fresh))[0]))[1]);
        X509_free(again);
      }
      X509_free(x);
    }
  }
  // An extension taken away or added changes the signed part as well.
  for (bool add : {false, true}) {
    X509* x = Decode(d2i_X509, der);
    ASSERT_NE(nullptr, x);
    if (add) {
      X509_EXTENSION* e = Ext(kNidKeyUsage);
      ASSERT_EQ(1, X509_add_ext(x, e, -1));
      X509_EXTENSION_free(e);
    } else {
      X509_EXTENSION_free(X509_delete_ext(x, 0));
    }
    EXPECT_NE(der, Encode(i2d_X509, x)) << add;
    EXPECT_EQ(0, X509_verify(x, ca)) << add;
    morvane_test::DrainErrors();
    X509_free(x);
  }
  EXPECT_ERRORS({});
}

X509* ReadPem(const std::string& pem) {
  BIO* in = BIO_new_mem_buf(const_cast<char*>(pem.data()), static_cast<int>(pem.size()));
  X509* x = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  return x;
}

// The same respellings of a real leaf (x509-limbo's amazon.com chain) after
// its issuer signed it.
TEST_F(SignTest, RespelledLeafVerifiesNoMore) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "x509-limbo/limbo.json");
  const morvane_test::Json doc = morvane_test::ParseJson(morvane_test::ReadFile(path));
  const morvane_test::Json* chain = nullptr;
  for (const morvane_test::Json& c : doc["testcases"].items)
    if (c["id"].text == "online::amazon.com") chain = &c;
  ASSERT_NE(nullptr, chain);
  X509* leaf = ReadPem((*chain)["peer_certificate"].text);
  X509* issuer = ReadPem((*chain)["untrusted_intermediates"].items.at(0).text);
  ASSERT_TRUE(leaf != nullptr && issuer != nullptr);
  EVP_PKEY* key = X509_get_pubkey(issuer);
  EXPECT_EQ(1, X509_verify(leaf, key));
  const Bytes der = Encode(i2d_X509, leaf);
  for (const auto& c : kRespellings) {
    SCOPED_TRACE(c.what);
    const Bytes in = Respelled(der, c.respell, nullptr);
    const unsigned char* p = in.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(in.size()));
    if (c.decode_reason != 0) {
      EXPECT_EQ(nullptr, x);
      EXPECT_EQ(c.decode_reason, ERR_GET_REASON(ERR_peek_error()));
    } else {
      ASSERT_NE(nullptr, x);
      EXPECT_EQ(in, Encode(i2d_X509, x));
      EXPECT_EQ(0, X509_verify(x, key));
    }
    morvane_test::DrainErrors();
    X509_free(x);
  }
  EVP_PKEY_free(key);
  X509_free(issuer);
  X509_free(leaf);
}

TEST_F(SignTest, SpkiTextForm) {
  NETSCAPE_SPKI* spki = NETSCAPE_SPKI_new();
  NETSCAPE_SPKI_set_pubkey(spki, x509_test::RsaKey());
  ASSERT_GT(NETSCAPE_SPKI_sign(spki, x509_test::RsaKey(), EVP_md5()), 0);
  char* text = NETSCAPE_SPKI_b64_encode(spki);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(nullptr, strchr(text, '\n'));
  NETSCAPE_SPKI* back = NETSCAPE_SPKI_b64_decode(text, 0);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(Encode(i2d_NETSCAPE_SPKI, spki), Encode(i2d_NETSCAPE_SPKI, back));
  EXPECT_EQ(1, NETSCAPE_SPKI_verify(back, x509_test::RsaKey()));
  NETSCAPE_SPKI_free(back);
  MORVANE_free(text);
  NETSCAPE_SPKI_free(spki);
  EXPECT_EQ(nullptr, NETSCAPE_SPKI_b64_decode("not*base64", -1));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_NETSCAPE_SPKI_B64_DECODE, X509_R_BASE64_DECODE_ERROR}});
}

TEST_F(SignTest, CertificateTypeBits) {
  const struct {
    const char* what;
    EVP_PKEY* key;
    const EVP_MD* md;
    int sig_nid;  // 0: as signed
    int type;
  } cases[] = {
      // A 1024-bit RSA key is 128 bytes: the short-key bit.  Signature
      // algorithms such as sha1WithRSAEncryption map to no key type; an
      // algorithm that is a key type sets the signer bit.
      {"RSA, SHA-1", x509_test::RsaKey(), EVP_sha1(), 0, 0x1031},
      {"RSA, SHA-256", x509_test::RsaKey(), EVP_sha256(), 0, 0x1031},
      {"RSA, signer rsaEncryption", x509_test::RsaKey(), EVP_sha1(), 6, 0x1131},
      {"RSA, signer dsaEncryption", x509_test::RsaKey(), EVP_sha1(), 116, 0x1231},
      {"DSA", x509_test::DsaKey(), EVP_dss1(), 0, 0x1212},
      {"EC", x509_test::EcKey(), EVP_ecdsa(), 0, 0x1058},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.key == x509_test::EcKey() && !EcKeyEncodes()) {
      std::cout << "EC row left out: " << kNoEcEncoding << "\n";
      continue;
    }
    X509* x = MakeCert(c.key, c.key, c.md);
    if (c.sig_nid != 0) X509_ALGOR_set0(x->sig_alg, OBJ_nid2obj(c.sig_nid), -1, nullptr);
    EXPECT_EQ(c.type, X509_certificate_type(x, nullptr));
    EXPECT_EQ(c.type, X509_certificate_type(x, c.key));
    X509_free(x);
  }
  EXPECT_EQ(0, X509_certificate_type(nullptr, nullptr));
  EXPECT_ERRORS({});
}

TEST_F(SignTest, DigestsOfWholeStructures) {
  X509* x = MakeCert(x509_test::RsaKey(), x509_test::RsaKey(), EVP_sha1());
  unsigned char md[EVP_MAX_MD_SIZE], want[EVP_MAX_MD_SIZE];
  unsigned int len = 0, want_len = 0;
  const Bytes der = Encode(i2d_X509, x);
  ASSERT_EQ(1, EVP_Digest(der.data(), der.size(), want, &want_len, EVP_sha256(), nullptr));
  ASSERT_EQ(1, X509_digest(x, EVP_sha256(), md, &len));
  EXPECT_EQ(Bytes(want, want + want_len), Bytes(md, md + len));
  EXPECT_EQ(1, X509_digest(x, EVP_sha1(), md, nullptr));
  EXPECT_EQ(0, X509_digest(nullptr, EVP_sha1(), md, &len));
  EXPECT_EQ(0, X509_pubkey_digest(nullptr, EVP_sha1(), md, &len));
  X509_free(x);
  EXPECT_ERRORS({});
}

// A failed copy of the attribute queues the copy's own error and nothing
// under X509at_add1_attr; the caller's list is untouched.
TEST(AttributeListTest, FailedAttributeCopyAddsNoError) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  X509_ATTRIBUTE* attr = X509_ATTRIBUTE_create_by_NID(
      nullptr, 54, ASN1_MB_ASCII, reinterpret_cast<const unsigned char*>("pw"), -1);
  ASSERT_NE(nullptr, attr);
  STACK* list = sk_new_null();
  STACK* x = list;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(nullptr, X509at_add1_attr(&x, attr));
  morvane_test::FailAllocationAfter(0);
  EXPECT_EQ(list, x);
  EXPECT_EQ(0, sk_num(list));
  const std::string errors = morvane_test::DrainErrors();
  EXPECT_EQ(std::string::npos, errors.find("X509at_add1_attr")) << errors;
  sk_free(list);
  X509_ATTRIBUTE_free(attr);
}

// A certificate whose key (set in its key cache, as a decoded key would be)
// lies on the named curve, and a private key on the same curve under
// another method: the points cannot be compared.
TEST_F(SignTest, EcKeysThatCannotBeComparedReportEcLib) {
  EVP_PKEY* key = x509_test::EcKey();
  X509* x = X509_new();
  CRYPTO_add(&key->references, 1, CRYPTO_LOCK_EVP_PKEY);
  x->cert_info->key->pkey = key;
  const EC_GROUP* named = EC_KEY_get0_group(key->pkey.ec);
  BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *gx = BN_new(), *gy = BN_new();
  BIGNUM* order = BN_new();
  ASSERT_EQ(1, EC_GROUP_get_curve_GFp(named, p, a, b, nullptr));
  ASSERT_EQ(1, EC_POINT_get_affine_coordinates_GFp(named, EC_GROUP_get0_generator(named), gx, gy,
                                                   nullptr));
  ASSERT_EQ(1, EC_GROUP_get_order(named, order, nullptr));
  EC_GROUP* mont = EC_GROUP_new(EC_GFp_mont_method());
  ASSERT_NE(nullptr, mont);
  ASSERT_EQ(1, EC_GROUP_set_curve_GFp(mont, p, a, b, nullptr));
  EC_POINT* g = EC_POINT_new(mont);
  ASSERT_EQ(1, EC_POINT_set_affine_coordinates_GFp(mont, g, gx, gy, nullptr));
  ASSERT_EQ(1, EC_GROUP_set_generator(mont, g, order, BN_value_one()));
  EC_KEY* other = EC_KEY_new();
  ASSERT_EQ(1, EC_KEY_set_group(other, mont));
  ASSERT_EQ(1, EC_KEY_generate_key(other));
  EVP_PKEY* pk = EVP_PKEY_new();
  EVP_PKEY_assign_EC_KEY(pk, other);
  morvane_test::DrainErrors();
  EXPECT_EQ(0, X509_check_private_key(x, pk));
  EXPECT_ERRORS({{ERR_LIB_EC, EC_F_EC_POINT_CMP, EC_R_INCOMPATIBLE_OBJECTS},
                 {ERR_LIB_X509, X509_F_X509_CHECK_PRIVATE_KEY, ERR_R_EC_LIB}});
  // The same key compares.
  EXPECT_EQ(1, X509_check_private_key(x, key));
  EXPECT_ERRORS({});
  EVP_PKEY_free(pk);
  EC_POINT_free(g);
  EC_GROUP_free(mont);
  for (BIGNUM* n : {p, a, b, gx, gy, order}) BN_free(n);
  X509_free(x);
}

// ---- PKITS ----------------------------------------------------------------

X509* PkitsCert(const std::string& name) {
  const std::string path = morvane_test::VectorFile("pkits/certs/" + name + ".crt");
  if (path.empty()) return nullptr;
  return Decode(d2i_X509, morvane_test::ReadFileBytes(path));
}

X509_CRL* PkitsCrl(const std::string& name) {
  const std::string path = morvane_test::VectorFile("pkits/crls/" + name + ".crl");
  if (path.empty()) return nullptr;
  return Decode(d2i_X509_CRL, morvane_test::ReadFileBytes(path));
}

TEST_F(SignTest, PkitsSignatures) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  X509* anchor = PkitsCert("TrustAnchorRootCertificate");
  ASSERT_NE(nullptr, anchor);
  EVP_PKEY* anchor_key = X509_get_pubkey(anchor);
  ASSERT_NE(nullptr, anchor_key);
  X509* good = PkitsCert("GoodCACert");
  X509* bad = PkitsCert("BadSignedCACert");
  X509* bad_crl_ca = PkitsCert("BadCRLSignatureCACert");
  ASSERT_TRUE(good && bad && bad_crl_ca);
  EXPECT_EQ(1, X509_verify(good, anchor_key));
  EXPECT_EQ(0, X509_verify(bad, anchor_key));
  morvane_test::DrainErrors();  // the failed verification's reasons
  // The outer algorithm respelled, its signed twin untouched (RFC 5280,
  // 4.1.1.2): the NULL parameter dropped, or an empty OCTET STRING.
  auto respell = [](X509_ALGOR* a, int how) {
    ASN1_OBJECT* obj = OBJ_dup(a->algorithm);
    if (how == 1) return X509_ALGOR_set0(a, obj, -1, nullptr);
    if (how == 2) return X509_ALGOR_set0(a, obj, ASN1_UT_OCTET_STRING, ASN1_OCTET_STRING_new());
    ASN1_OBJECT_free(obj);
    return 1;
  };
  for (int how : {1, 2}) {
    X509* twin = PkitsCert("GoodCACert");
    ASSERT_EQ(1, respell(twin->sig_alg, how));
    EXPECT_EQ(0, X509_verify(twin, anchor_key));
    EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_VERIFY, X509_R_SIGNATURE_ALGORITHM_MISMATCH}});
    X509_free(twin);
  }
  EVP_PKEY* good_key = X509_get_pubkey(good);
  EVP_PKEY* bad_crl_key = X509_get_pubkey(bad_crl_ca);
  const struct {
    const char* crl;
    EVP_PKEY* key;
    int respelled;
    int want;
  } crls[] = {{"GoodCACRL", good_key, 0, 1},
              {"TrustAnchorRootCRL", anchor_key, 0, 1},
              {"BadCRLSignatureCACRL", bad_crl_key, 0, 0},
              {"GoodCACRL", good_key, 1, 0},
              {"GoodCACRL", good_key, 2, 0}};
  for (const auto& c : crls) {
    SCOPED_TRACE(std::string(c.crl) + " respelled " + std::to_string(c.respelled));
    X509_CRL* crl = PkitsCrl(c.crl);
    ASSERT_NE(nullptr, crl);
    ASSERT_EQ(1, respell(crl->sig_alg, c.respelled));
    morvane_test::DrainErrors();
    EXPECT_EQ(c.want, X509_CRL_verify(crl, c.key));
    if (c.respelled != 0) {
      EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_CRL_VERIFY, X509_R_SIGNATURE_ALGORITHM_MISMATCH}});
    }
    X509_CRL_free(crl);
  }
  morvane_test::DrainErrors();
  EVP_PKEY_free(good_key);
  EVP_PKEY_free(bad_crl_key);
  EVP_PKEY_free(anchor_key);
  X509_free(good);
  X509_free(bad);
  X509_free(bad_crl_ca);
  X509_free(anchor);
}

TEST_F(SignTest, PkitsTrustAnchorDigests) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  X509* anchor = PkitsCert("TrustAnchorRootCertificate");
  ASSERT_NE(nullptr, anchor);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  ASSERT_EQ(1, X509_digest(anchor, EVP_sha1(), md, &len));
  EXPECT_EQ("9d70f8166a1acc2b9f0f39e989c41834f2c45c06", morvane_test::ToHex(md, len));
  ASSERT_EQ(1, X509_pubkey_digest(anchor, EVP_sha1(), md, &len));
  EXPECT_EQ("e47d5fd15c9586082c05aebe75b665a7d95da866", morvane_test::ToHex(md, len));
  ASSERT_EQ(1, X509_NAME_digest(X509_get_subject_name(anchor), EVP_sha1(), md, &len));
  EXPECT_EQ("7353f8c27e2a7273daa3e1507f1013c5ee1f41f1", morvane_test::ToHex(md, len));
  X509_free(anchor);
  EXPECT_ERRORS({});
}

TEST_F(SignTest, PkitsCertificateTypes) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  int count = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".crt") continue;
    X509* x = Decode(d2i_X509, morvane_test::ReadFileBytes(e.path().string()));
    ASSERT_NE(nullptr, x);
    EVP_PKEY* k = X509_get_pubkey(x);
    if (k != nullptr && k->type == EVP_PKEY_RSA) {
      // 2048-bit keys; sha256WithRSAEncryption maps to no key type.
      EXPECT_EQ(0x31, X509_certificate_type(x, nullptr)) << e.path();
      count++;
    }
    EVP_PKEY_free(k);
    X509_free(x);
  }
  EXPECT_GT(count, 390);
  EXPECT_ERRORS({});
}

}  // namespace
