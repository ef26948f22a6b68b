// PFX files: PKCS12_create with its defaults and variants, PKCS12_parse,
// PKCS12_newpass, the MAC calls and the bag attributes, over keys from
// test/data/rsa/keys.txt and certificates the tests sign.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "rsa_key_file.h"
#include "sha1_count.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;

EVP_PKEY* Key(int bits) {
  EVP_PKEY* k = EVP_PKEY_new();
  RSA* rsa = rsa_test::LoadKeyFile(morvane_test::TestDataFile("rsa/keys.txt").c_str(), bits);
  EVP_PKEY_assign_RSA(k, rsa);
  return k;
}

X509_NAME* Name(const char* cn) {
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_NID(n, 13, ASN1_MB_ASCII, reinterpret_cast<const unsigned char*>(cn), -1,
                             -1, 0);
  return n;
}

X509* Cert(EVP_PKEY* key, const char* subject, EVP_PKEY* signer, long serial) {
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_NAME* iss = Name("PFX test CA");
  X509_NAME* sub = Name(subject);
  X509_set_issuer_name(x, iss);
  X509_set_subject_name(x, sub);
  X509_NAME_free(iss);
  X509_NAME_free(sub);
  x->cert_info->validity->notBefore = X509_gmtime_adj(x->cert_info->validity->notBefore, 0);
  x->cert_info->validity->notAfter = X509_gmtime_adj(x->cert_info->validity->notAfter, 86400);
  X509_set_pubkey(x, key);
  EXPECT_GT(X509_sign(x, signer, EVP_sha1()), 0);
  return x;
}

void FreeCert(void* x) {
  X509_free(static_cast<X509*>(x));
}
void FreeBag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void FreeSafe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}

// A PFX of one plain data safe holding `bags` (freed here), with a MAC
// under `pass`; null when building fails.
PKCS12* PlainPfx(STACK* bags, const char* pass) {
  STACK* safes = nullptr;
  const bool added = PKCS12_add_safe(&safes, bags, -1, 0, nullptr) == 1;
  sk_pop_free(bags, FreeBag);
  PKCS12* p12 = added ? PKCS12_add_safes(safes, 0) : nullptr;
  sk_pop_free(safes, FreeSafe);
  if (p12 != nullptr && PKCS12_set_mac(p12, pass, -1, nullptr, 0, 1, nullptr) != 1) {
    PKCS12_free(p12);
    p12 = nullptr;
  }
  return p12;
}

// What PKCS12_parse handed out, freed with the holder.
struct Parsed {
  Parsed(PKCS12* p12, const char* pass) : rc(PKCS12_parse(p12, pass, &key, &cert, &ca)) {}
  ~Parsed() {
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_pop_free(ca, FreeCert);
  }
  X509* Ca(int i) const { return reinterpret_cast<X509*>(sk_value(ca, i)); }
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK* ca = nullptr;
  int rc;
};

Bytes Der(PKCS12* p12) {
  unsigned char* out = nullptr;
  const int n = i2d_PKCS12(p12, &out);
  Bytes b(out, out + (n > 0 ? n : 0));
  MORVANE_free(out);
  return b;
}

PKCS12* Reread(PKCS12* p12) {
  const Bytes der = Der(p12);
  PKCS12_free(p12);
  const unsigned char* p = der.data();
  return d2i_PKCS12(nullptr, &p, static_cast<long>(der.size()));
}

// The PBE algorithm NID and iteration count of an algorithm identifier.
std::pair<int, long> Pbe(const X509_ALGOR* alg) {
  const ASN1_STRING* s = alg->parameter->value.sequence;
  const unsigned char* p = s->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length);
  const long iter = pbe != nullptr ? ASN1_INTEGER_get(pbe->iter) : -1;
  PBEPARAM_free(pbe);
  return {OBJ_obj2nid(alg->algorithm), iter};
}

Bytes AttrBytes(PKCS12_SAFEBAG* bag, int nid) {
  const ASN1_TYPE* t = PKCS12_get_attr_gen(bag->attrib, nid);
  if (t == nullptr) return {};
  return Bytes(t->value.asn1_string->data,
               t->value.asn1_string->data + t->value.asn1_string->length);
}

class Pfx : public testing::Test {
 protected:
  void SetUp() override {
    Morvane_add_all_ciphers();
    Morvane_add_all_digests();
    ca_key_ = Key(768);
    key_ = Key(512);
    other_key_ = Key(520);
    leaf_ = Cert(key_, "leaf", ca_key_, 2);
    ca_cert_ = Cert(ca_key_, "PFX test CA", ca_key_, 1);
    other_ = Cert(other_key_, "other", ca_key_, 3);
    ca_ = sk_new_null();
    sk_push(ca_, reinterpret_cast<char*>(ca_cert_));
    sk_push(ca_, reinterpret_cast<char*>(other_));
  }
  void TearDown() override {
    sk_free(ca_);
    X509_free(leaf_);
    X509_free(ca_cert_);
    X509_free(other_);
    EVP_PKEY_free(key_);
    EVP_PKEY_free(other_key_);
    EVP_PKEY_free(ca_key_);
  }
  // The safes of a PFX and the bags of safe i.
  static STACK* Bags(PKCS12* p12, int i, const char* pass) {
    STACK* safes = PKCS12_unpack_authsafes(p12);
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    STACK* bags = OBJ_obj2nid(p7->type) == 21 ? PKCS12_unpack_p7data(p7)
                                              : PKCS12_unpack_p7encdata(p7, pass, -1);
    sk_pop_free(safes, FreeSafe);
    return bags;
  }
  void ExpectParses(PKCS12* p12, const char* pass, size_t ncerts) {
    EVP_PKEY* k = nullptr;
    X509* c = nullptr;
    STACK* ca = nullptr;
    ASSERT_EQ(1, PKCS12_parse(p12, pass, &k, &c, &ca)) << morvane_test::DrainErrors();
    ASSERT_NE(nullptr, k);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0, X509_cmp(c, leaf_));
    EXPECT_EQ(1, X509_check_private_key(c, k));
    ASSERT_EQ(static_cast<int>(ncerts), sk_num(ca));
    if (ncerts == 2) {
      EXPECT_EQ(0, X509_cmp(reinterpret_cast<X509*>(sk_value(ca, 0)), ca_cert_));
      EXPECT_EQ(0, X509_cmp(reinterpret_cast<X509*>(sk_value(ca, 1)), other_));
    }
    EVP_PKEY_free(k);
    X509_free(c);
    sk_pop_free(ca, FreeCert);
  }
  // Parses a PFX under "old", changes its password to "new" and parses the
  // file again: the re-read PFX.
  PKCS12* Rekeyed(PKCS12* p12) {
    ExpectParses(p12, "old", 0);
    EXPECT_EQ(1, PKCS12_newpass(p12, const_cast<char*>("old"), const_cast<char*>("new")))
        << morvane_test::DrainErrors();
    p12 = Reread(p12);
    ExpectParses(p12, "new", 0);
    return p12;
  }

  EVP_PKEY *ca_key_, *key_, *other_key_;
  X509 *leaf_, *ca_cert_, *other_;
  STACK* ca_;
};

TEST_F(Pfx, Defaults) {
  PKCS12* p12 = PKCS12_create(const_cast<char*>("pw"), const_cast<char*>("my name"), key_, leaf_,
                              ca_, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, p12) << morvane_test::DrainErrors();
  p12 = Reread(p12);
  ASSERT_NE(nullptr, p12);
  EXPECT_EQ(3, ASN1_INTEGER_get(p12->version));
  // MAC: SHA-1 over 8 salt bytes, no iteration field.
  ASSERT_NE(nullptr, p12->mac);
  EXPECT_EQ(64, OBJ_obj2nid(p12->mac->dinfo->algor->algorithm));
  EXPECT_EQ(8, p12->mac->salt->length);
  EXPECT_EQ(nullptr, p12->mac->iter);
  EXPECT_EQ(20, p12->mac->dinfo->digest->length);
  // Two safes: certificates under RC2-40, then plain data with the key
  // shrouded under triple DES, both with 2048 iterations.
  STACK* safes = PKCS12_unpack_authsafes(p12);
  ASSERT_EQ(2, sk_num(safes));
  auto* s0 = reinterpret_cast<PKCS7*>(sk_value(safes, 0));
  auto* s1 = reinterpret_cast<PKCS7*>(sk_value(safes, 1));
  ASSERT_EQ(26, OBJ_obj2nid(s0->type));
  EXPECT_EQ(std::make_pair(149, 2048L), Pbe(s0->d.encrypted->enc_data->algorithm));
  EXPECT_EQ(21, OBJ_obj2nid(s1->type));
  sk_pop_free(safes, FreeSafe);
  STACK* certs = Bags(p12, 0, "pw");
  STACK* keys = Bags(p12, 1, "pw");
  ASSERT_EQ(3, sk_num(certs));
  ASSERT_EQ(1, sk_num(keys));
  auto* cbag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(certs, 0));
  auto* kbag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(keys, 0));
  EXPECT_EQ(151, OBJ_obj2nid(kbag->type));
  EXPECT_EQ(std::make_pair(146, 2048L), Pbe(kbag->value.shkeybag->algor));
  // Certificate and key share the certificate's SHA-1 and the name.
  unsigned char sha1[20];
  unsigned int n = 0;
  ASSERT_EQ(1, X509_digest(leaf_, EVP_sha1(), sha1, &n));
  EXPECT_EQ(Bytes(sha1, sha1 + 20), AttrBytes(cbag, 157));
  EXPECT_EQ(Bytes(sha1, sha1 + 20), AttrBytes(kbag, 157));
  for (auto* bag : {cbag, kbag}) {
    char* name = PKCS12_get_friendlyname(bag);
    EXPECT_STREQ("my name", name);
    MORVANE_free(name);
  }
  // The CA certificates carry no attributes.
  EXPECT_EQ(nullptr, reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(certs, 1))->attrib);
  sk_pop_free(certs, FreeBag);
  sk_pop_free(keys, FreeBag);
  ExpectParses(p12, "pw", 2);
  // The parsed certificate carries the identifier and the name.
  X509* c = nullptr;
  ASSERT_EQ(1, PKCS12_parse(p12, "pw", nullptr, &c, nullptr));
  int len = 0;
  const unsigned char* alias = X509_alias_get0(c, &len);
  ASSERT_NE(nullptr, alias);
  EXPECT_EQ(std::string("my name"),
            std::string(reinterpret_cast<const char*>(alias), static_cast<size_t>(len)));
  X509_free(c);
  PKCS12_free(p12);
}

TEST_F(Pfx, OnlyCaOrOnlyKey) {
  PKCS12* p12 =
      PKCS12_create(const_cast<char*>("pw"), nullptr, nullptr, nullptr, ca_, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, p12);
  STACK* safes = PKCS12_unpack_authsafes(p12);
  ASSERT_EQ(1, sk_num(safes));
  EXPECT_EQ(26, OBJ_obj2nid(reinterpret_cast<PKCS7*>(sk_value(safes, 0))->type));
  sk_pop_free(safes, FreeSafe);
  PKCS12_free(p12);

  p12 = PKCS12_create(const_cast<char*>("pw"), nullptr, key_, nullptr, nullptr, 0, 0, 0, 0, 0);
  ASSERT_NE(nullptr, p12);
  safes = PKCS12_unpack_authsafes(p12);
  ASSERT_EQ(1, sk_num(safes));
  EXPECT_EQ(21, OBJ_obj2nid(reinterpret_cast<PKCS7*>(sk_value(safes, 0))->type));
  sk_pop_free(safes, FreeSafe);
  STACK* bags = Bags(p12, 0, "pw");
  ASSERT_EQ(1, sk_num(bags));
  EXPECT_EQ(151, OBJ_obj2nid(reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, 0))->type));
  sk_pop_free(bags, FreeBag);
  PKCS12_free(p12);

  EXPECT_EQ(nullptr, PKCS12_create(const_cast<char*>("pw"), nullptr, nullptr, nullptr, nullptr, 0,
                                   0, 0, 0, 0));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_CREATE, PKCS12_R_INVALID_NULL_ARGUMENT}});
}

TEST_F(Pfx, PlainSafesPlainKeyNoMac) {
  PKCS12* p12 = PKCS12_create(const_cast<char*>("pw"), nullptr, key_, leaf_, ca_, -1, -1, 0, -1, 0);
  ASSERT_NE(nullptr, p12);
  EXPECT_EQ(nullptr, p12->mac);
  STACK* safes = PKCS12_unpack_authsafes(p12);
  ASSERT_EQ(2, sk_num(safes));
  EXPECT_EQ(21, OBJ_obj2nid(reinterpret_cast<PKCS7*>(sk_value(safes, 0))->type));
  sk_pop_free(safes, FreeSafe);
  STACK* keys = Bags(p12, 1, "pw");
  EXPECT_EQ(150, OBJ_obj2nid(reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(keys, 0))->type));
  sk_pop_free(keys, FreeBag);
  EVP_PKEY* k = nullptr;
  EXPECT_EQ(0, PKCS12_parse(p12, "pw", &k, nullptr, nullptr));
  EXPECT_EQ(nullptr, k);
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE}});
  EXPECT_EQ(0, PKCS12_verify_mac(p12, "pw", -1));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_VERIFY_MAC, PKCS12_R_MAC_ABSENT}});
  PKCS12_free(p12);
}

TEST_F(Pfx, KeyMustMatchCertificate) {
  EXPECT_EQ(nullptr, PKCS12_create(const_cast<char*>("pw"), nullptr, other_key_, leaf_, nullptr, 0,
                                   0, 0, 0, 0));
  ERR_clear_error();
}

TEST_F(Pfx, NullAndEmptyPasswordsBothParse) {
  for (const char* made_with : {"", static_cast<const char*>(nullptr)}) {
    PKCS12* p12 =
        PKCS12_create(const_cast<char*>(made_with), nullptr, key_, leaf_, ca_, 0, 0, 1, 0, 0);
    ASSERT_NE(nullptr, p12) << morvane_test::DrainErrors();
    ExpectParses(p12, nullptr, 2);
    ExpectParses(p12, "", 2);
    EXPECT_ERRORS({});
    PKCS12_free(p12);
  }
}

TEST_F(Pfx, WrongPasswordAndMacCases) {
  PKCS12* p12 =
      PKCS12_create(const_cast<char*>("pw"), nullptr, key_, leaf_, nullptr, 0, 0, 1, 0, 0);
  ASSERT_NE(nullptr, p12);
  EXPECT_EQ(0, PKCS12_verify_mac(p12, "wrong", -1));
  EXPECT_ERRORS({});
  EXPECT_EQ(1, PKCS12_verify_mac(p12, "pw", -1));
  // MAC data set up again: one iteration writes no field, salt 0 is 8
  // fresh bytes; more iterations are stored.
  ASSERT_EQ(1, PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 1, nullptr));
  EXPECT_EQ(nullptr, p12->mac->iter);
  EXPECT_EQ(8, p12->mac->salt->length);
  ASSERT_EQ(1, PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 7, EVP_sha256()));
  EXPECT_EQ(7, ASN1_INTEGER_get(p12->mac->iter));
  EXPECT_EQ(32, p12->mac->dinfo->digest->length);
  p12 = Reread(p12);
  EXPECT_EQ(1, PKCS12_verify_mac(p12, "pw", -1));
  EVP_PKEY* k = nullptr;
  EXPECT_EQ(0, PKCS12_parse(p12, "wrong", &k, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE}});
  PKCS12_free(p12);
  EXPECT_EQ(0, PKCS12_parse(nullptr, "pw", &k, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_INVALID_NULL_PKCS12_POINTER}});
}

TEST_F(Pfx, NewPassword) {
  PKCS12* p12 = PKCS12_create(const_cast<char*>("old"), const_cast<char*>("n"), key_, leaf_, ca_, 0,
                              0, 3, 2, 0);
  ASSERT_NE(nullptr, p12);
  const Bytes before = Der(p12);
  EXPECT_EQ(0, PKCS12_newpass(p12, const_cast<char*>("wrong"), const_cast<char*>("new")));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_NEWPASS, PKCS12_R_MAC_VERIFY_FAILURE}});
  EXPECT_EQ(before, Der(p12));
  ASSERT_EQ(1, PKCS12_newpass(p12, const_cast<char*>("old"), const_cast<char*>("new")))
      << morvane_test::DrainErrors();
  p12 = Reread(p12);
  ExpectParses(p12, "new", 2);
  EXPECT_EQ(0, PKCS12_verify_mac(p12, "old", -1));
  // Same algorithms and iteration counts under the new password.
  STACK* safes = PKCS12_unpack_authsafes(p12);
  EXPECT_EQ(std::make_pair(149, 3L),
            Pbe(reinterpret_cast<PKCS7*>(sk_value(safes, 0))->d.encrypted->enc_data->algorithm));
  sk_pop_free(safes, FreeSafe);
  STACK* keys = Bags(p12, 1, "new");
  EXPECT_EQ(std::make_pair(146, 3L),
            Pbe(reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(keys, 0))->value.shkeybag->algor));
  sk_pop_free(keys, FreeBag);
  PKCS12_free(p12);
}

// A shrouded key in safe-contents bags nested two deep is carried over to
// the new password with the rest (before, only its MAC was: PKCS12_parse
// with the new password then found no key).
TEST_F(Pfx, NewPasswordReachesKeysInNestedBags) {
  unsigned char id[] = {1, 2, 3, 4};
  STACK* outer = nullptr;
  PKCS12_SAFEBAG* cert_bag = PKCS12_add_cert(&outer, leaf_);
  ASSERT_NE(nullptr, cert_bag);
  ASSERT_EQ(1, PKCS12_add_localkeyid(cert_bag, id, sizeof id));
  STACK* inner = nullptr;
  PKCS12_SAFEBAG* key_bag = PKCS12_add_key(&inner, key_, 0, 2, 149, const_cast<char*>("old"));
  ASSERT_NE(nullptr, key_bag);
  ASSERT_EQ(1, PKCS12_add_localkeyid(key_bag, id, sizeof id));
  for (int level = 0; level < 2; level++) {  // safeContentsBag (RFC 7292, 4.2.6)
    PKCS12_SAFEBAG* nest = PKCS12_SAFEBAG_new();
    ASN1_OBJECT_free(nest->type);
    nest->type = OBJ_nid2obj(155);
    nest->value.safes = inner;
    inner = sk_new_null();
    sk_push(inner, reinterpret_cast<char*>(nest));
  }
  sk_push(outer, sk_pop(inner));
  sk_free(inner);
  PKCS12* p12 = PlainPfx(outer, "old");
  ASSERT_NE(nullptr, p12);
  p12 = Reread(p12);
  ASSERT_NE(nullptr, p12);
  p12 = Rekeyed(p12);
  // The nested key keeps its algorithm and iteration count.
  STACK* bags = Bags(p12, 0, "new");
  auto* level1 = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, 1));
  auto* level2 = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(level1->value.safes, 0));
  auto* shrouded = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(level2->value.safes, 0));
  EXPECT_EQ(151, OBJ_obj2nid(shrouded->type));
  EXPECT_EQ(std::make_pair(149, 2L), Pbe(shrouded->value.shkeybag->algor));
  sk_pop_free(bags, FreeBag);
  PKCS12_free(p12);
}

// A safe that no password protects or opens (enveloped data, an encrypted
// safe without content) cannot be carried over: the change fails with
// "parse error" and leaves the PFX exactly as it was (before, enveloped
// data was dropped and the change reported success).
TEST_F(Pfx, NewPasswordRefusesSafesItCannotCarryOver) {
  // Encrypted data with no content: SEQUENCE { OID 1.2.840.113549.1.7.6 }.
  static const unsigned char kBareEncrypted[] = {0x30, 0x0b, 0x06, 0x09, 0x2a, 0x86, 0x48,
                                                 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x06};
  for (bool enveloped : {true, false}) {
    SCOPED_TRACE(enveloped ? "enveloped data" : "encrypted data without content");
    PKCS12* p12 = PKCS12_create(const_cast<char*>("old"), const_cast<char*>("n"), key_, leaf_,
                                nullptr, 0, 0, 2, 1, 0);
    ASSERT_NE(nullptr, p12);
    PKCS7* extra = nullptr;
    if (enveloped) {
      extra = PKCS7_new();
      ASSERT_EQ(1, PKCS7_set_type(extra, 23));
      ASSERT_EQ(1, PKCS7_set_cipher(extra, EVP_des_ede3_cbc()));
      ASSERT_NE(nullptr, PKCS7_add_recipient(extra, leaf_));
    } else {
      const unsigned char* p = kBareEncrypted;
      extra = d2i_PKCS7(nullptr, &p, sizeof kBareEncrypted);
      ASSERT_NE(nullptr, extra);
    }
    STACK* safes = PKCS12_unpack_authsafes(p12);
    ASSERT_EQ(2, sk_num(safes));
    sk_push(safes, reinterpret_cast<char*>(extra));
    ASSERT_EQ(1, PKCS12_pack_authsafes(p12, safes));
    sk_pop_free(safes, FreeSafe);
    ASSERT_EQ(1, PKCS12_set_mac(p12, "old", -1, nullptr, 0, 1, nullptr));
    p12 = Reread(p12);
    ASSERT_NE(nullptr, p12);
    const Bytes before = Der(p12);

    EXPECT_EQ(0, PKCS12_newpass(p12, const_cast<char*>("old"), const_cast<char*>("new")));
    EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_NEWPASS, PKCS12_R_PARSE_ERROR}});
    EXPECT_EQ(before, Der(p12));
    if (enveloped) ExpectParses(p12, "old", 0);  // the enveloped safe is passed over
    PKCS12_free(p12);
  }
}

// Bags built by hand without localKeyID: the key is taken and paired with
// the certificate of its public key, the other goes to the CA stack; SDSI
// certificate bags are skipped.
TEST_F(Pfx, BagsWithoutIdentifiers) {
  STACK* bags = nullptr;
  ASSERT_NE(nullptr, PKCS12_add_cert(&bags, other_));
  ASSERT_NE(nullptr, PKCS12_add_cert(&bags, leaf_));
  ASN1_IA5STRING* sdsi = ASN1_IA5STRING_new();
  ASN1_STRING_set(sdsi, "sdsi", 4);
  PKCS12_SAFEBAG* sbag = PKCS12_item_pack_safebag(sdsi, &ASN1_IA5STRING_it, 159, 152);
  ASN1_IA5STRING_free(sdsi);
  ASSERT_NE(nullptr, sbag);
  sk_push(bags, reinterpret_cast<char*>(sbag));
  ASSERT_NE(nullptr, PKCS12_add_key(&bags, key_, 0x80, 1, -1, nullptr));
  PKCS12* p12 = PlainPfx(bags, "pw");
  ASSERT_NE(nullptr, p12);
  {
    const Parsed got(p12, "pw");
    ASSERT_EQ(1, got.rc) << morvane_test::DrainErrors();
    EXPECT_TRUE(got.key != nullptr && EVP_PKEY_cmp(got.key, key_) == 1);
    EXPECT_TRUE(got.cert != nullptr && X509_cmp(got.cert, leaf_) == 0);
    ASSERT_EQ(1, sk_num(got.ca));
    EXPECT_EQ(0, X509_cmp(got.Ca(0), other_));
  }
  PKCS12_free(p12);
}

// The key, its certificate and the CA list do not depend on the order of
// the bags: every order of key, leaf and CA certificate, with localKeyIDs
// (the CA's another) and without (paired by public key).  A key whose
// identifier no certificate carries comes without a certificate, and so
// does one whose identifier only another key's certificate carries: the
// identifier alone never pairs a key with another key's certificate.
TEST_F(Pfx, PairingIgnoresBagOrder) {
  struct Case {
    std::string order;  // k key, l leaf, c CA certificate, o other, O other with the key's id
    bool ids;
  };
  std::vector<Case> cases;
  for (std::string o : {"klc", "kcl", "lkc", "lck", "ckl", "clk"})
    for (bool ids : {true, false}) cases.push_back({o, ids});
  cases.push_back({"ok", true});
  cases.push_back({"ko", false});
  for (std::string o : {"Olk", "kOl", "lOk", "Ok", "kO"}) cases.push_back({o, true});
  for (const Case& t : cases) {
    SCOPED_TRACE(t.order + (t.ids ? " with ids" : " without ids"));
    STACK* bags = nullptr;
    for (char b : t.order) {
      PKCS12_SAFEBAG* bag = b == 'k'   ? PKCS12_add_key(&bags, key_, 0, 1, -1, nullptr)
                            : b == 'l' ? PKCS12_add_cert(&bags, leaf_)
                            : b == 'c' ? PKCS12_add_cert(&bags, ca_cert_)
                                       : PKCS12_add_cert(&bags, other_);  // o and O
      ASSERT_NE(nullptr, bag);
      unsigned char id = b == 'k' || b == 'l' || b == 'O' ? 'A' : 'B';
      if (t.ids) {
        ASSERT_EQ(1, PKCS12_add_localkeyid(bag, &id, 1));
      }
    }
    PKCS12* p12 = PlainPfx(bags, "pw");
    ASSERT_NE(nullptr, p12);
    {
      const Parsed got(p12, "pw");
      EXPECT_EQ(1, got.rc) << morvane_test::DrainErrors();
      EXPECT_TRUE(got.key != nullptr && EVP_PKEY_cmp(got.key, key_) == 1);
      const bool paired = t.order.find('l') != std::string::npos;
      EXPECT_TRUE(paired ? got.cert != nullptr && X509_cmp(got.cert, leaf_) == 0
                         : got.cert == nullptr);
      const bool ca = t.order.find('c') != std::string::npos;
      EXPECT_TRUE(sk_num(got.ca) == 1 && X509_cmp(got.Ca(0), ca ? ca_cert_ : other_) == 0);
      // The same certificate when the key is not asked for.
      X509* cert = nullptr;
      EXPECT_EQ(1, PKCS12_parse(p12, "pw", nullptr, &cert, nullptr));
      EXPECT_TRUE(paired ? cert != nullptr && X509_cmp(cert, leaf_) == 0 : cert == nullptr);
      X509_free(cert);
    }
    PKCS12_free(p12);
  }
}

// A key bag whose key does not decode (Ed25519, which this library does not
// read, plain or shrouded) or does not decrypt (shrouded under another pass
// phrase), with its certificate, both with one localKeyID: a caller who asks
// only for certificates gets them all in the CA list, none paired (there is
// no public key to compare), and nothing queued; one who asks for the key
// gets "parse error".  Before, the certificates-only parse failed as well.
TEST_F(Pfx, KeyThatDoesNotDecodeFailsOnlyTheKeysParse) {
  // RFC 8410, 10.3: an Ed25519 private key (OID 1.3.101.112).
  const Bytes ed25519 = morvane_test::FromHex(
      "302e020100300506032b657004220420d4ee72dbf913584ad5b6d8f1f769f8ad3afe7c28cbf1d4fbe097a88f"
      "44755842");
  const auto ed25519_p8 = [&ed25519] {
    const unsigned char* p = ed25519.data();
    return reinterpret_cast<PKCS8_PRIV_KEY_INFO*>(
        ASN1_item_d2i(nullptr, &p, static_cast<long>(ed25519.size()), &PKCS8_PRIV_KEY_INFO_it));
  };
  struct Row {
    const char* name;
    PKCS8_PRIV_KEY_INFO* p8;
    const char* key_pass;  // null: a plain key bag
  } rows[] = {
      {"Ed25519", ed25519_p8(), nullptr},
      {"Ed25519, shrouded", ed25519_p8(), "pw"},
      {"shrouded under another pass phrase", EVP_PKEY2PKCS8(key_), "other"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_NE(nullptr, r.p8);
    STACK* bags = nullptr;
    PKCS12_SAFEBAG* cert_bag = PKCS12_add_cert(&bags, leaf_);
    ASSERT_NE(nullptr, PKCS12_add_cert(&bags, ca_cert_));
    PKCS12_SAFEBAG* key_bag = nullptr;
    if (r.key_pass == nullptr) {
      key_bag = PKCS12_MAKE_KEYBAG(r.p8);
    } else {
      key_bag = PKCS12_MAKE_SHKEYBAG(146, r.key_pass, -1, nullptr, 0, 1, r.p8);
      PKCS8_PRIV_KEY_INFO_free(r.p8);
    }
    ASSERT_NE(nullptr, key_bag);
    sk_push(bags, reinterpret_cast<char*>(key_bag));
    unsigned char id = 'A';
    ASSERT_EQ(1, PKCS12_add_localkeyid(cert_bag, &id, 1));
    ASSERT_EQ(1, PKCS12_add_localkeyid(key_bag, &id, 1));
    PKCS12* p12 = PlainPfx(bags, "pw");
    ASSERT_NE(nullptr, p12);
    X509* cert = nullptr;
    STACK* ca = nullptr;
    EXPECT_EQ(1, PKCS12_parse(p12, "pw", nullptr, &cert, &ca));
    EXPECT_ERRORS({});
    EXPECT_EQ(nullptr, cert);
    EXPECT_TRUE(sk_num(ca) == 2 && X509_cmp(reinterpret_cast<X509*>(sk_value(ca, 0)), leaf_) == 0 &&
                X509_cmp(reinterpret_cast<X509*>(sk_value(ca, 1)), ca_cert_) == 0);
    X509_free(cert);
    sk_pop_free(ca, FreeCert);
    {
      const Parsed got(p12, "pw");
      EXPECT_EQ(0, got.rc);
      EXPECT_EQ(ERR_PACK(ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_PARSE_ERROR),
                ERR_peek_last_error());
      ERR_clear_error();
      EXPECT_TRUE(got.key == nullptr && got.cert == nullptr && got.ca == nullptr);
    }
    PKCS12_free(p12);
  }
}

// GnuTLS's certtool --to-p12 writes the certificates in the order of the
// chain file, then the key: with the CA listed first, its bag comes first
// (test/data/pkcs12/README.md).
TEST(Pkcs12PeerFiles, KeyAndCertificateWhateverTheChainOrder) {
  Morvane_add_all_ciphers();
  Morvane_add_all_digests();
  const auto cn = [](X509* x) {
    char text[64] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(x), 13, text, sizeof text);
    return std::string(text);
  };
  for (const char* name : {"chain_ca_first.p12", "chain_leaf_first.p12"}) {
    SCOPED_TRACE(name);
    const Bytes der =
        morvane_test::ReadFileBytes(morvane_test::TestDataFile(std::string("pkcs12/") + name));
    const unsigned char* p = der.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, p12);
    {
      const Parsed got(p12, "pw");
      EXPECT_EQ(1, got.rc) << morvane_test::DrainErrors();
      EXPECT_TRUE(got.cert != nullptr && X509_check_private_key(got.cert, got.key) == 1);
      EXPECT_EQ("Morvane PFX Order Leaf", got.cert != nullptr ? cn(got.cert) : "");
      EXPECT_TRUE(sk_num(got.ca) == 1 && cn(got.Ca(0)) == "Morvane PFX Order CA");
    }
    PKCS12_free(p12);
  }
}

// A successful parse and a successful read from a stream take back only
// what they queued (the MAC tries, the reader's header probes): the
// caller's entries and mark stay.
TEST_F(Pfx, ParseAndStreamReadKeepTheCallersMark) {
  for (const char* pass : {"pw", ""}) {
    SCOPED_TRACE(pass);
    PKCS12* p12 = PKCS12_create(const_cast<char*>(pass), nullptr, key_, leaf_, ca_, 0, 0, 1, 0, 0);
    ASSERT_NE(nullptr, p12);
    const Bytes der = Der(p12);
    // The empty pass phrase is tried as null first, which fails.
    EXPECT_TRUE(morvane_test::KeepsCallersMark([&] {
      EVP_PKEY* k = nullptr;
      X509* c = nullptr;
      STACK* ca = nullptr;
      const bool ok = PKCS12_parse(p12, *pass ? pass : nullptr, &k, &c, &ca) == 1 && k != nullptr &&
                      c != nullptr && sk_num(ca) == 2;
      EVP_PKEY_free(k);
      X509_free(c);
      sk_pop_free(ca, FreeCert);
      return ok;
    }));
    EXPECT_TRUE(morvane_test::KeepsCallersMark([&] {
      BIO* in = BIO_new_mem_buf(const_cast<uint8_t*>(der.data()), static_cast<int>(der.size()));
      PKCS12* back = d2i_PKCS12_bio(in, nullptr);
      const bool ok = back != nullptr && Der(back) == der;
      PKCS12_free(back);
      BIO_free(in);
      return ok;
    }));
    PKCS12_free(p12);
  }
}

// A MAC that cannot be computed (no digest registered under its name) is
// not reported as a wrong pass phrase alone: the cause stays queued before
// "mac verify failure", and is not repeated by the second try of an empty
// pass phrase.  A wrong pass phrase gives "mac verify failure" alone.
TEST_F(Pfx, ParseKeepsWhyTheMacCouldNotBeComputed) {
  PKCS12* p12 =
      PKCS12_create(const_cast<char*>("pw"), nullptr, key_, leaf_, nullptr, 0, 0, 1, 0, 0);
  ASSERT_NE(nullptr, p12);
  EVP_PKEY* k = nullptr;
  EXPECT_EQ(0, PKCS12_parse(p12, "wrong", &k, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE}});
  EVP_cleanup();  // as if the algorithms had never been added
  const std::vector<morvane_test::ErrEntry> kWhy = {
      {ERR_LIB_PKCS12, PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_UNKNOWN_DIGEST_ALGORITHM},
      {ERR_LIB_PKCS12, PKCS12_F_PKCS12_VERIFY_MAC, PKCS12_R_MAC_GENERATION_ERROR},
      {ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE}};
  for (const char* pass : {"pw", "", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(pass != nullptr ? pass : "(null)");
    EXPECT_EQ(0, PKCS12_parse(p12, pass, &k, nullptr, nullptr));
    EXPECT_EQ(nullptr, k);
    EXPECT_ERRORS(kWhy);
  }
  PKCS12_free(p12);
}

// A MAC iteration count above PKCS5_MAX_FILE_ITER (2^31 - 1 held the
// parse for minutes in the MAC alone) is refused before anything is
// derived: the cause stays queued before "mac verify failure".
TEST_F(Pfx, ParseRefusesAMacCountAboveTheBound) {
  PKCS12* p12 =
      PKCS12_create(const_cast<char*>("pw"), nullptr, key_, leaf_, nullptr, 0, 0, 1, 0, 0);
  ASSERT_NE(nullptr, p12);
  p12->mac->iter = ASN1_INTEGER_new();
  ASSERT_EQ(1, ASN1_INTEGER_set(p12->mac->iter, 0x7FFFFFFF));
  p12 = Reread(p12);
  ASSERT_NE(nullptr, p12);
  sha1_count::Sha1Counter sha1(100);
  for (const char* pass : {"pw", static_cast<const char*>(nullptr)}) {
    EVP_PKEY* k = nullptr;
    EXPECT_EQ(0, PKCS12_parse(p12, pass, &k, nullptr, nullptr));
    EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_ITERATION_COUNT_TOO_LARGE},
                   {ERR_LIB_PKCS12, PKCS12_F_PKCS12_VERIFY_MAC, PKCS12_R_MAC_GENERATION_ERROR},
                   {ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE}});
  }
  EXPECT_EQ(0, sha1.finals());
  // A SHA-512 count is weighed as 2.9 SHA-1 counts: past the bound here.
  ASSERT_EQ(1, PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 2, EVP_sha512()));
  ASSERT_EQ(1, ASN1_INTEGER_set(p12->mac->iter, PKCS5_MAX_FILE_ITER * 10L / 29 + 1));
  EXPECT_EQ(0, PKCS12_verify_mac(p12, "pw", -1));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_ITERATION_COUNT_TOO_LARGE},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_VERIFY_MAC, PKCS12_R_MAC_GENERATION_ERROR}});
  PKCS12_free(p12);
}

// Every allocation PKCS12_create makes may fail: it then returns null with
// the reason queued (a bag stack that could not be made or grown used to
// fail with an empty queue) and leaves no block behind.
TEST(Pkcs12Create, FailedAllocationsAreReported) {
  if (!morvane_test::InstallCountingAllocator()) GTEST_SKIP() << "needs a fresh process";
  Morvane_add_all_ciphers();
  Morvane_add_all_digests();
  EVP_PKEY* ca_key = Key(768);
  EVP_PKEY* key = Key(512);
  X509* leaf = Cert(key, "leaf", ca_key, 2);
  X509* ca_cert = Cert(ca_key, "PFX test CA", ca_key, 1);
  STACK* ca = sk_new_null();
  sk_push(ca, reinterpret_cast<char*>(ca_cert));
  const auto create = [&] {
    return PKCS12_create(const_cast<char*>("pw"), const_cast<char*>("n"), key, leaf, ca, 0, 0, 1, 0,
                         0);
  };
  PKCS12_free(create());  // first uses: the random generator, the tables
  ERR_clear_error();
  const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
  PKCS12_free(create());
  const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
  const long requests = after.mallocs + after.reallocs - before.mallocs - before.reallocs;
  ASSERT_GT(requests, 20);
  for (long n = 1; n <= requests; n++) {
    morvane_test::FailAllocationAfter(n);
    PKCS12* p12 = create();
    morvane_test::FailAllocationAfter(0);
    if (p12 == nullptr) {
      EXPECT_NE(0UL, ERR_peek_error()) << n;
    }
    PKCS12_free(p12);
    ERR_clear_error();
    EXPECT_EQ(after.live_blocks, morvane_test::GetAllocCounts().live_blocks) << n;
  }
  sk_free(ca);
  X509_free(ca_cert);
  X509_free(leaf);
  EVP_PKEY_free(key);
  EVP_PKEY_free(ca_key);
}

// A parse that fails leaves a caller's CA stack as it was.
TEST_F(Pfx, FailedParseKeepsCallersStack) {
  STACK* bags = nullptr;
  ASSERT_NE(nullptr, PKCS12_add_cert(&bags, other_));
  ASN1_OCTET_STRING* junk = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(junk, reinterpret_cast<const unsigned char*>("\x30\x03\x02\x01"), 4);
  PKCS12_SAFEBAG* bad = PKCS12_item_pack_safebag(junk, &ASN1_OCTET_STRING_it, 158, 152);
  ASSERT_NE(nullptr, bad);
  // Replace the packed OCTET STRING by bytes that are not a certificate.
  ASN1_OCTET_STRING_set(bad->value.bag->value.x509cert,
                        reinterpret_cast<const unsigned char*>("\x30\x03\x02\x01"), 4);
  ASN1_OCTET_STRING_free(junk);
  sk_push(bags, reinterpret_cast<char*>(bad));
  PKCS12* p12 = PlainPfx(bags, "pw");
  ASSERT_NE(nullptr, p12);
  STACK* ca = sk_new_null();
  X509* mine = X509_dup(ca_cert_);
  sk_push(ca, reinterpret_cast<char*>(mine));
  EXPECT_EQ(0, PKCS12_parse(p12, "pw", nullptr, nullptr, &ca));
  ASSERT_NE(nullptr, ca);
  ASSERT_EQ(1, sk_num(ca));
  EXPECT_EQ(mine, reinterpret_cast<X509*>(sk_value(ca, 0)));
  EXPECT_EQ(ERR_PACK(ERR_LIB_PKCS12, PKCS12_F_PKCS12_PARSE, PKCS12_R_PARSE_ERROR),
            ERR_peek_last_error());
  ERR_clear_error();
  sk_pop_free(ca, FreeCert);
  PKCS12_free(p12);
}

// Null arguments are refused, not followed: a bag of a null item or of no
// object, and the decoders with a null input pointer (or a null *in with a
// length), which leave a structure passed in as it was.
TEST(Pkcs12Structures, NullArgumentsRefused) {
  const ASN1_ITEM* const items[] = {&PKCS12_it, &PKCS12_BAGS_it, &PKCS12_MAC_DATA_it,
                                    &PKCS12_SAFEBAG_it};
  ASN1_IA5STRING* s = ASN1_IA5STRING_new();
  EXPECT_EQ(nullptr, PKCS12_item_pack_safebag(s, nullptr, 159, 152));
  EXPECT_ERRORS(
      {{ERR_LIB_PKCS12, PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG, PKCS12_R_INVALID_NULL_ARGUMENT}});
  EXPECT_EQ(nullptr, PKCS12_item_pack_safebag(nullptr, &ASN1_IA5STRING_it, 159, 152));
  EXPECT_ERRORS(
      {{ERR_LIB_PKCS12, PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG, PKCS12_R_INVALID_NULL_ARGUMENT}});
  ASN1_IA5STRING_free(s);

  const morvane_test::ErrEntry kRefused = {ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_EX_D2I,
                                           ERR_R_PASSED_NULL_PARAMETER};
  const unsigned char* nowhere = nullptr;
  EXPECT_EQ(nullptr, d2i_PKCS12(nullptr, nullptr, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12(nullptr, &nowhere, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12_BAGS(nullptr, nullptr, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12_BAGS(nullptr, &nowhere, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12_MAC_DATA(nullptr, nullptr, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12_MAC_DATA(nullptr, &nowhere, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12_SAFEBAG(nullptr, nullptr, 10));
  EXPECT_ERRORS({kRefused});
  EXPECT_EQ(nullptr, d2i_PKCS12_SAFEBAG(nullptr, &nowhere, 10));
  EXPECT_ERRORS({kRefused});
  for (const ASN1_ITEM* it : items) {
    ASN1_VALUE* mine = ASN1_item_new(it);
    ASN1_VALUE* kept = mine;
    EXPECT_EQ(nullptr, ASN1_item_d2i(&mine, nullptr, 10, it));
    EXPECT_EQ(kept, mine);
    EXPECT_ERRORS({kRefused});
    ASN1_item_free(mine, it);
  }
}

TEST(Pkcs12Structures, InitModeAndAttributes) {
  EXPECT_EQ(nullptr, PKCS12_init(22));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_INIT, PKCS12_R_UNSUPPORTED_PKCS12_MODE}});
  PKCS12_SAFEBAG* bag = PKCS12_SAFEBAG_new();
  // friendlyName from BMPString bytes reads back; stored as UTF8String it
  // does not.
  const unsigned char bmp[] = {0, 'h', 0, 'i'};
  ASSERT_EQ(1, PKCS12_add_friendlyname_uni(bag, bmp, 4));
  char* name = PKCS12_get_friendlyname(bag);
  EXPECT_STREQ("hi", name);
  MORVANE_free(name);
  PKCS12_SAFEBAG* other = PKCS12_SAFEBAG_new();
  ASSERT_NE(nullptr, X509at_add1_attr_by_NID(&other->attrib, 156, 12,
                                             reinterpret_cast<const unsigned char*>("hi"), 2));
  EXPECT_EQ(nullptr, PKCS12_get_friendlyname(other));
  PKCS12_SAFEBAG_free(other);
  PKCS12_SAFEBAG_free(bag);
  // keyUsage on a PKCS#8 key is a one-byte BIT STRING.
  PKCS8_PRIV_KEY_INFO* p8 = PKCS8_PRIV_KEY_INFO_new();
  ASSERT_EQ(1, PKCS8_add_keyusage(p8, 0x180));
  const ASN1_TYPE* t = PKCS12_get_attr_gen(p8->attributes, 83);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(ASN1_UT_BIT_STRING, t->type);
  EXPECT_EQ(1, t->value.bit_string->length);
  EXPECT_EQ(0x80, t->value.bit_string->data[0]);
  PKCS8_PRIV_KEY_INFO_free(p8);
}

}  // namespace

namespace {

constexpr long kCap = PKCS5_MAX_FILE_ITER;
constexpr int kPbe3Des = 146;

// What a call did with a file: read it, refused it for its budget alone
// (before deriving past the MAC), or started a derivation the counting
// SHA-1 then stopped.
enum Verdict { kRead, kRefused, kStarted };

// Whether the queue holds "iteration budget exceeded" and nothing else;
// empties it.
bool BudgetAlone() {
  bool budget = false, other = false;
  unsigned long e;
  while ((e = ERR_get_error()) != 0)
    (ERR_GET_REASON(e) == PKCS12_R_ITERATION_BUDGET_EXCEEDED ? budget : other) = true;
  return budget && !other;
}

}  // namespace

// One budget of iterations, three counts at the bound (what PKCS12_create
// writes at most: MAC, certificate safe and key), for the MAC, every safe
// and every shrouded key of one PKCS12_parse or PKCS12_newpass.  The files
// are made with one iteration and then state the counts of the row; the
// counting SHA-1 shows what was derived.
TEST_F(Pfx, OneIterationBudgetPerFile) {
  struct Row {
    int encrypted_safes;
    long safe_iter;
    int keys;
    long key_iter;
    bool keys_encrypted;  // the keys in the first encrypted safe, else in the plain one
    Verdict parse, newpass;
  } const rows[] = {
      {4, kCap, 1, 1, false, kRefused, kRefused},
      {8, kCap, 1, 1, false, kRefused, kRefused},
      {16, kCap, 1, 1, false, kRefused, kRefused},
      {3, kCap, 1, 1, false, kRefused, kRefused},     // past it by the MAC's one iteration
      {2, kCap, 1, kCap, false, kRefused, kRefused},  // the key past it
      {2, kCap, 1, 1, false, kStarted, kStarted},     // the MAC and two counts at the bound
      {0, 1, 4, kCap, false, kStarted, kRefused},     // the parse decrypts the first key only
      {1, 1, 4, kCap, true, kStarted, kRefused},      // drawn before any key is decrypted
      {2, 1, 2, 1, true, kRead, kRead},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.encrypted_safes << " safes of " << row.safe_iter << ", "
                                    << row.keys << " keys of " << row.key_iter);
    STACK* keys = nullptr;
    for (int i = 0; i < row.keys; i++) {
      PKCS12_SAFEBAG* kb = PKCS12_add_key(&keys, key_, 0, 1, kPbe3Des, const_cast<char*>("pw"));
      ASSERT_NE(nullptr, kb);
      if (row.key_iter == 1) continue;  // else the key no longer decrypts
      X509_ALGOR_free(kb->value.shkeybag->algor);
      kb->value.shkeybag->algor =
          PKCS5_pbe_set(kPbe3Des, static_cast<int>(row.key_iter), nullptr, 8);
    }
    STACK* plain = row.keys_encrypted ? nullptr : keys;
    ASSERT_NE(nullptr, PKCS12_add_cert(&plain, leaf_));
    STACK* safes = nullptr;
    ASSERT_EQ(1, PKCS12_add_safe(&safes, plain, -1, 0, nullptr));
    sk_pop_free(plain, FreeBag);
    for (int i = 0; i < row.encrypted_safes; i++) {
      STACK* bags = i == 0 && row.keys_encrypted ? keys : nullptr;
      ASSERT_NE(nullptr, PKCS12_add_cert(&bags, ca_cert_));
      ASSERT_EQ(1, PKCS12_add_safe(&safes, bags, kPbe3Des, 1, const_cast<char*>("pw")));
      sk_pop_free(bags, FreeBag);
      PKCS7_ENC_CONTENT* ec =
          reinterpret_cast<PKCS7*>(sk_value(safes, i + 1))->d.encrypted->enc_data;
      if (row.safe_iter == 1) continue;
      X509_ALGOR_free(ec->algorithm);
      ec->algorithm = PKCS5_pbe_set(kPbe3Des, static_cast<int>(row.safe_iter), nullptr, 8);
    }
    PKCS12* p12 = PKCS12_add_safes(safes, 0);
    sk_pop_free(safes, FreeSafe);
    ASSERT_NE(nullptr, p12);
    ASSERT_EQ(1, PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 1, nullptr));
    const Bytes before = Der(p12);

    constexpr int kLimit = 1000;
    sha1_count::Sha1Counter sha1(kLimit);
    const auto expect = [&](Verdict v, int result) {
      EXPECT_EQ(v == kRead ? 1 : 0, result);
      EXPECT_EQ(v == kRefused, BudgetAlone());
      EXPECT_TRUE(v != kRefused || sha1.finals() < 100);  // the MAC's iteration or two
      EXPECT_TRUE(v != kStarted || sha1.finals() > kLimit);
      sha1.Reset();
    };
    EVP_PKEY* k = nullptr;
    expect(row.parse, PKCS12_parse(p12, "pw", &k, nullptr, nullptr));
    EVP_PKEY_free(k);
    expect(row.newpass, PKCS12_newpass(p12, const_cast<char*>("pw"), const_cast<char*>("new")));
    EXPECT_TRUE(row.newpass == kRead || before == Der(p12));
    PKCS12_free(p12);
  }
}

// A shrouded key under PBES2 (as PKCS8_encrypt writes it) parses and takes
// a new password, staying under PBES2 with its cipher and count.
TEST_F(Pfx, NewPasswordCarriesAPbes2Key) {
  // The new encryption keeps the cipher's key length (RC2 at 40 and 64
  // bits was refused).
  for (const EVP_CIPHER* cipher :
       {EVP_des_ede3_cbc(), EVP_rc2_40_cbc(), EVP_rc2_64_cbc(), EVP_aes_256_cbc()}) {
    SCOPED_TRACE(EVP_CIPHER_key_length(cipher));
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key_);
    ASSERT_NE(nullptr, p8);
    X509_SIG* sealed = PKCS8_encrypt(-1, cipher, "old", -1, nullptr, 0, 3, p8);
    PKCS8_PRIV_KEY_INFO_free(p8);
    ASSERT_NE(nullptr, sealed);
    PKCS12_SAFEBAG* kb = PKCS12_SAFEBAG_new();
    ASN1_OBJECT_free(kb->type);
    kb->type = OBJ_nid2obj(151);
    kb->value.shkeybag = sealed;
    STACK* bags = sk_new_null();
    sk_push(bags, reinterpret_cast<char*>(kb));
    ASSERT_NE(nullptr, PKCS12_add_cert(&bags, leaf_));
    PKCS12* p12 = Reread(PlainPfx(bags, "old"));
    ASSERT_NE(nullptr, p12);
    p12 = Rekeyed(p12);
    STACK* got = Bags(p12, 0, "new");
    const X509_ALGOR* alg =
        reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(got, 0))->value.shkeybag->algor;
    EXPECT_EQ(161, OBJ_obj2nid(alg->algorithm));
    EVP_CIPHER_CTX ctx;
    EVP_CIPHER_CTX_init(&ctx);
    EXPECT_EQ(1, EVP_PBE_CipherInit(alg->algorithm, "new", -1, alg->parameter, &ctx, 0));
    EXPECT_EQ(EVP_CIPHER_key_length(cipher), EVP_CIPHER_CTX_key_length(&ctx));
    EVP_CIPHER_CTX_cleanup(&ctx);
    sk_pop_free(got, FreeBag);
    PKCS12_free(p12);
  }
}
