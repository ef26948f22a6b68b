// The X.509 structure templates: algorithm identifiers and attributes, the
// shape of new structures and their callbacks, reference counts, the trust
// record after a certificate, X509_INFO and X509_PKEY.  DER expected here is
// assembled by hand from RFC 5280, RFC 2986 and X.690.

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using x509_test::Decode;
using x509_test::Encode;

// A v3 certificate: serial 1, issuer and subject CN=Test (UTF8String),
// validity 2010-01-01 to 2030-12-31, an RSA key (n 15, e 3), a critical
// basicConstraints CA:TRUE, sha1WithRSAEncryption and an empty signature.
const char kCert[] =
    "3081a030818aa003020102020101300d06092a864886f70d0101050500300f310d300b06035504030c0454657374"
    "301e170d3130303130313030303030305a170d3330313233313233353935395a300f310d300b06035504030c0454"
    "657374301a300d06092a864886f70d0101010500030900300602010f020103a3133011300f0603551d130101ff04"
    "0530030101ff300d06092a864886f70d010105050003020000";
// X509_CERT_AUX: trusted for serverAuth (RFC 5280, 4.2.1.12), alias "ca".
const char kAux[] = "3010300a06082b060105050703010c026361";

constexpr int kRsaEncryption = 6;

TEST(X509Algor, Set0TypesAndParameter) {
  X509_ALGOR* a = X509_ALGOR_new();
  ASSERT_NE(nullptr, a);
  // Type 0: an empty parameter record, nothing chosen.
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(kRsaEncryption), 0, nullptr));
  ASSERT_NE(nullptr, a->parameter);
  EXPECT_EQ(-1, a->parameter->type);
  // -1: no parameter field at all; NULL: the form of RFC 8017, A.1.
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(kRsaEncryption), -1, nullptr));
  EXPECT_EQ(nullptr, a->parameter);
  EXPECT_EQ(FromHex("300b06092a864886f70d010101"), Encode(i2d_X509_ALGOR, a));
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(kRsaEncryption), ASN1_UT_NULL, nullptr));
  EXPECT_EQ(FromHex("300d06092a864886f70d0101010500"), Encode(i2d_X509_ALGOR, a));
  X509_ALGOR_free(a);
  EXPECT_EQ(0, X509_ALGOR_set0(nullptr, nullptr, 0, nullptr));
}

TEST(X509Algor, Get0WithoutParameter) {
  X509_ALGOR* a = Decode(d2i_X509_ALGOR, FromHex("300b06092a864886f70d010101"));
  ASSERT_NE(nullptr, a);
  ASN1_OBJECT* obj = nullptr;
  int type = 0;
  void* sentinel = &type;
  void* val = sentinel;
  X509_ALGOR_get0(&obj, &type, &val, a);
  EXPECT_EQ(kRsaEncryption, OBJ_obj2nid(obj));
  EXPECT_EQ(-1, type);
  EXPECT_EQ(sentinel, val);
  // With a parameter the value comes out also when the type is not asked.
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(kRsaEncryption), ASN1_UT_OCTET_STRING,
                               ASN1_OCTET_STRING_new()));
  X509_ALGOR_get0(nullptr, nullptr, &val, a);
  EXPECT_EQ(a->parameter->value.ptr, val);
  X509_ALGOR_free(a);
}

// A bare value (no SET around it) decodes as the attribute's second form
// and writes back as it came; the standard form stays the first choice.
TEST(X509Attribute, BothFormsDecode) {
  struct Case {
    const char* der;
    int single;
  } const cases[] = {
      {"3008060355040302 0105", 1},       // commonName, INTEGER 5
      {"300a0603550403 31030201 05", 0},  // commonName, SET { INTEGER 5 }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.der);
    const Bytes der = FromHex(c.der);
    X509_ATTRIBUTE* attr = Decode(d2i_X509_ATTRIBUTE, der);
    ASSERT_NE(nullptr, attr);
    EXPECT_EQ(c.single, attr->single);
    const ASN1_TYPE* v =
        c.single ? attr->value.single : reinterpret_cast<ASN1_TYPE*>(sk_value(attr->value.set, 0));
    ASSERT_NE(nullptr, v);
    EXPECT_EQ(ASN1_UT_INTEGER, v->type);
    EXPECT_EQ(der, Encode(i2d_X509_ATTRIBUTE, attr));
    X509_ATTRIBUTE_free(attr);
  }
  EXPECT_ERRORS({});
}

TEST(X509Structures, NewCertificate) {
  X509* x = X509_new();
  ASSERT_NE(nullptr, x);
  const X509_CINF* ci = x->cert_info;
  EXPECT_NE(nullptr, ci->serialNumber);
  EXPECT_NE(nullptr, ci->signature);
  EXPECT_NE(nullptr, ci->issuer);
  EXPECT_NE(nullptr, ci->validity);
  EXPECT_NE(nullptr, ci->validity->notBefore);
  EXPECT_NE(nullptr, ci->subject);
  EXPECT_NE(nullptr, ci->key);
  EXPECT_EQ(nullptr, ci->version);
  EXPECT_EQ(nullptr, ci->issuerUID);
  EXPECT_EQ(nullptr, ci->subjectUID);
  EXPECT_EQ(nullptr, ci->extensions);
  EXPECT_EQ(0, x->valid);
  EXPECT_EQ(1, x->references);
  EXPECT_EQ(-1, x->ex_pathlen);
  EXPECT_EQ(0u, x->ex_flags);
  EXPECT_EQ(nullptr, x->name);
  EXPECT_EQ(nullptr, x->aux);
  EXPECT_EQ(nullptr, x->skid);
  EXPECT_EQ(nullptr, x->akid);
  X509_free(x);
}

TEST(X509Structures, NewRequestWritesEmptyAttributes) {
  X509_REQ* req = X509_REQ_new();
  ASSERT_NE(nullptr, req);
  // SEQUENCE { SEQUENCE { INTEGER 0, Name {}, SubjectPublicKeyInfo {
  // {undefined object}, BIT STRING {} }, [0] {} }, {undefined object}, BIT
  // STRING {} }; the undefined object's content is one zero octet.
  EXPECT_EQ(FromHex("301b 3011 020100 3000 3008 3003060100 030100 a000 3003060100 030100"),
            Encode(i2d_X509_REQ, req));
  X509_REQ_free(req);
}

TEST(X509Structures, NewCertSequenceNamesItsType) {
  NETSCAPE_CERT_SEQUENCE* seq = NETSCAPE_CERT_SEQUENCE_new();
  ASSERT_NE(nullptr, seq);
  EXPECT_EQ(79, OBJ_obj2nid(seq->type));
  EXPECT_EQ(nullptr, seq->certs);
  // 2.16.840.1.113730.2.5 alone.
  EXPECT_EQ(FromHex("300b06096086480186f8420205"), Encode(i2d_NETSCAPE_CERT_SEQUENCE, seq));
  NETSCAPE_CERT_SEQUENCE_free(seq);
}

TEST(X509Structures, DecodedCertificate) {
  const Bytes der = FromHex(kCert);
  X509* x = Decode(d2i_X509, der);
  ASSERT_NE(nullptr, x);
  EXPECT_STREQ("/CN=Test", x->name);  // made by the decode
  EXPECT_EQ(x->name, X509_get0_subject_oneline(x));
  EXPECT_EQ(2, ASN1_INTEGER_get(x->cert_info->version));
  EXPECT_EQ(1, sk_num(x->cert_info->extensions));
  EXPECT_EQ(der, Encode(i2d_X509, x));
  X509* dup = X509_dup(x);
  ASSERT_NE(nullptr, dup);
  EXPECT_EQ(der, Encode(i2d_X509, dup));
  EXPECT_STREQ("/CN=Test", X509_get0_subject_oneline(dup));
  const ASN1_METHOD* meth = X509_asn1_meth();
  EXPECT_EQ(static_cast<int>(der.size()), meth->i2d(x, nullptr));
  X509_free(dup);
  X509_free(x);
}

// A certificate decoded into an existing one keeps none of the state of the
// one it replaces: trust record, verified mark, cached facts.
TEST(X509Structures, DecodeIntoExistingCertificateStartsAfresh) {
  const Bytes der = FromHex(kCert);
  X509* x = Decode(d2i_X509, der);
  ASSERT_NE(nullptr, x);
  ASSERT_EQ(1, X509_alias_set1(x, reinterpret_cast<const unsigned char*>("ca"), 2));
  x->valid = 1;
  x->ex_flags = 0x100;
  x->ex_pathlen = 3;
  x->skid = ASN1_OCTET_STRING_new();
  ASSERT_STREQ("/CN=Test", X509_get0_subject_oneline(x));
  const unsigned char* p = der.data();
  ASSERT_EQ(x, d2i_X509(&x, &p, static_cast<long>(der.size())));
  EXPECT_EQ(nullptr, x->aux);
  EXPECT_EQ(0, x->valid);
  EXPECT_EQ(0u, x->ex_flags);
  EXPECT_EQ(-1, x->ex_pathlen);
  EXPECT_EQ(nullptr, x->skid);
  EXPECT_STREQ("/CN=Test", x->name);  // made anew by the decode
  X509_free(x);
}

// Every decode makes the text of the subject, whose attribute types may
// have arcs of any length: a certificate whose subject has an attribute
// with a 16 KB arc, too long to spell, decodes with the text
// X509_NAME_oneline gives, leaving nothing queued.  Setting the subject
// drops the text made.
TEST(X509Structures, OneLineSubjectIsMadeByEveryDecode) {
  X509* x = Decode(d2i_X509, FromHex(kCert));
  ASSERT_NE(nullptr, x);
  Bytes arc(16384, 0xFF);
  arc.back() = 0x7F;
  arc.insert(arc.begin(), 0x2A);  // 1.2.<arc>
  ASN1_OBJECT* type =
      ASN1_OBJECT_create(0, arc.data(), static_cast<int>(arc.size()), nullptr, nullptr);
  ASSERT_NE(nullptr, type);
  X509_NAME* subject = X509_NAME_new();
  ASSERT_EQ(1, X509_NAME_add_entry_by_OBJ(subject, type, ASN1_MB_ASCII,
                                          reinterpret_cast<const unsigned char*>("x"), -1, -1, 0));
  ASSERT_STREQ("/CN=Test", X509_get0_subject_oneline(x));
  ASSERT_EQ(1, X509_set_subject_name(x, subject));
  EXPECT_EQ(nullptr, x->name);
  const Bytes der = Encode(i2d_X509, x);
  ASSERT_GT(der.size(), arc.size());
  X509* big = Decode(d2i_X509, der);
  ASSERT_NE(nullptr, big);
  ASSERT_NE(nullptr, big->name);
  EXPECT_EQ(der, Encode(i2d_X509, big));
  EXPECT_ERRORS({});
  EXPECT_STREQ("/<INVALID>=x", big->name);
  EXPECT_EQ(big->name, X509_get0_subject_oneline(big));
  EXPECT_ERRORS({});
  X509_free(big);
  X509_free(x);
  X509_NAME_free(subject);
  ASN1_OBJECT_free(type);
}

// Each counted structure: a second reference keeps it through the first
// free; the count changes under the family's lock.
TEST(X509Structures, ReferenceCountsUnderTheirLocks) {
  struct Case {
    const char* name;
    int lock;
    void* (*make)();
    int* (*count)(void*);
    void (*release)(void*);
  } const cases[] = {
      {"X509", CRYPTO_LOCK_X509, [] { return static_cast<void*>(X509_new()); },
       [](void* p) { return &static_cast<X509*>(p)->references; },
       [](void* p) { X509_free(static_cast<X509*>(p)); }},
      {"X509_INFO", CRYPTO_LOCK_X509_INFO, [] { return static_cast<void*>(X509_INFO_new()); },
       [](void* p) { return &static_cast<X509_INFO*>(p)->references; },
       [](void* p) { X509_INFO_free(static_cast<X509_INFO*>(p)); }},
      {"X509_PKEY", CRYPTO_LOCK_X509_PKEY, [] { return static_cast<void*>(X509_PKEY_new()); },
       [](void* p) { return &static_cast<X509_PKEY*>(p)->references; },
       [](void* p) { X509_PKEY_free(static_cast<X509_PKEY*>(p)); }},
      {"X509_CRL", CRYPTO_LOCK_X509_CRL, [] { return static_cast<void*>(X509_CRL_new()); },
       [](void* p) { return &static_cast<X509_CRL*>(p)->references; },
       [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); }},
      {"X509_REQ", CRYPTO_LOCK_X509_REQ, [] { return static_cast<void*>(X509_REQ_new()); },
       [](void* p) { return &static_cast<X509_REQ*>(p)->references; },
       [](void* p) { X509_REQ_free(static_cast<X509_REQ*>(p)); }},
  };
  morvane_test::InstallLockingCallback();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* obj = c.make();
    ASSERT_NE(nullptr, obj);
    ASSERT_EQ(1, *c.count(obj));
    morvane_test::StartRecordingLocks();
    CRYPTO_add(c.count(obj), 1, c.lock);
    c.release(obj);
    EXPECT_EQ(1, *c.count(obj));  // still there
    const std::vector<morvane_test::LockEvent> events = morvane_test::StopRecordingLocks({c.lock});
    EXPECT_EQ((std::vector<morvane_test::LockEvent>{
                  morvane_test::WriteLock(c.lock), morvane_test::WriteUnlock(c.lock),
                  morvane_test::WriteLock(c.lock), morvane_test::WriteUnlock(c.lock)}),
              events);
    c.release(obj);
  }
  X509_INFO_free(nullptr);
  X509_PKEY_free(nullptr);
}

TEST(X509Structures, NewInfoAndPkey) {
  X509_INFO* info = X509_INFO_new();
  ASSERT_NE(nullptr, info);
  EXPECT_EQ(nullptr, info->x509);
  EXPECT_EQ(nullptr, info->crl);
  EXPECT_EQ(nullptr, info->x_pkey);
  EXPECT_EQ(nullptr, info->enc_cipher.cipher);
  EXPECT_EQ(0, info->enc_len);
  EXPECT_EQ(nullptr, info->enc_data);
  X509_INFO_free(info);
  X509_PKEY* pk = X509_PKEY_new();
  ASSERT_NE(nullptr, pk);
  EXPECT_EQ(0, pk->version);
  ASSERT_NE(nullptr, pk->enc_algor);
  ASSERT_NE(nullptr, pk->enc_pkey);
  EXPECT_EQ(0, pk->enc_pkey->length);
  EXPECT_EQ(nullptr, pk->dec_pkey);
  EXPECT_EQ(nullptr, pk->cipher.cipher);
  EXPECT_EQ(Bytes(EVP_MAX_IV_LENGTH, 0), Bytes(pk->cipher.iv, pk->cipher.iv + EVP_MAX_IV_LENGTH));
  EXPECT_EQ(0, i2d_X509_PKEY(pk, nullptr));
  X509_PKEY_free(pk);
}

TEST(X509Aux, DecodeAfterCertificate) {
  const Bytes cert = FromHex(kCert);
  struct Case {
    const char* after;
    bool ok;
    bool aux;
  } const cases[] = {
      {"", true, false}, {kAux, true, true}, {"0500", false, false},  // a NULL is no trust record
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after);
    const Bytes der = x509_test::Cat({cert, FromHex(c.after)});
    X509* given = X509_new();
    const unsigned char* p = der.data();
    X509* x = d2i_X509_AUX(&given, &p, static_cast<long>(der.size()));
    ASSERT_EQ(c.ok, x != nullptr);
    if (!c.ok) {
      EXPECT_EQ(nullptr, given);
      ERR_clear_error();
      continue;
    }
    EXPECT_EQ(given, x);
    EXPECT_EQ(der.data() + der.size(), p);
    EXPECT_EQ(c.aux, x->aux != nullptr);
    EXPECT_EQ(der, Encode(i2d_X509_AUX, x));
    X509_free(x);
  }
}

// The allocating form writes certificate and trust record into one buffer
// of their joint length (it used to let i2d_X509 size the buffer and write
// the record past its end).
TEST(X509Aux, AllocatingEncoderHoldsBoth) {
  const Bytes der = x509_test::Cat({FromHex(kCert), FromHex(kAux)});
  const unsigned char* p = der.data();
  X509* x = d2i_X509_AUX(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, x);
  unsigned char* out = nullptr;
  ASSERT_EQ(static_cast<int>(der.size()), i2d_X509_AUX(x, &out));
  EXPECT_EQ(der, Bytes(out, out + der.size()));
  MORVANE_free(out);
  Bytes room(der.size());
  unsigned char* q = room.data();
  EXPECT_EQ(static_cast<int>(der.size()), i2d_X509_AUX(x, &q));
  EXPECT_EQ(room.data() + room.size(), q);
  EXPECT_EQ(der, room);
  X509_free(x);
  EXPECT_EQ(0, i2d_X509_AUX(nullptr, nullptr));
}

TEST(X509Aux, TrustRecordCalls) {
  X509* x = X509_new();
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(1, X509_alias_set1(x, nullptr, 0));
  EXPECT_EQ(nullptr, x->aux);  // nothing made
  EXPECT_EQ(nullptr, X509_alias_get0(x, nullptr));
  ASSERT_EQ(1, X509_alias_set1(x, reinterpret_cast<const unsigned char*>("ca"), -1));
  ASSERT_EQ(1, X509_keyid_set1(x, reinterpret_cast<const unsigned char*>("\x01\x02"), 2));
  int len = 0;
  EXPECT_EQ(0, memcmp("ca", X509_alias_get0(x, &len), 2));
  EXPECT_EQ(2, len);
  EXPECT_EQ(0, memcmp("\x01\x02", X509_keyid_get0(x, &len), 2));
  ASN1_OBJECT* server_auth = OBJ_txt2obj("1.3.6.1.5.5.7.3.1", 1);
  EXPECT_EQ(1, X509_add1_trust_object(x, server_auth));
  EXPECT_EQ(2, X509_add1_trust_object(x, server_auth));
  EXPECT_EQ(1, X509_add1_reject_object(x, server_auth));
  ASN1_OBJECT_free(server_auth);
  X509_trust_clear(x);
  EXPECT_EQ(nullptr, x->aux->trust);
  EXPECT_NE(nullptr, x->aux->reject);
  X509_reject_clear(x);
  EXPECT_EQ(nullptr, x->aux->reject);
  EXPECT_EQ(1, X509_keyid_set1(x, nullptr, 0));
  EXPECT_EQ(nullptr, x->aux->keyid);
  // What is left: the alias alone.
  EXPECT_EQ(FromHex("30040c026361"), Encode(i2d_X509_CERT_AUX, x->aux));
  X509_free(x);
}

TEST(X509Crl, AddRevokedMarksModified) {
  X509_CRL* crl = X509_CRL_new();
  ASSERT_NE(nullptr, crl);
  EXPECT_EQ(nullptr, crl->crl->revoked);
  X509_REVOKED* rev = X509_REVOKED_new();
  ASSERT_EQ(1, X509_CRL_add0_revoked(crl, rev));
  EXPECT_EQ(1, sk_num(crl->crl->revoked));
  EXPECT_EQ(1, crl->crl->enc.modified);
  X509_CRL_free(crl);
}

// Entries are ordered by serial number: X509_REVOKED_cmp, the order of the
// list that X509_CRL_add0_revoked makes.
TEST(X509Crl, RevokedOrderIsBySerialNumber) {
  X509_CRL* crl = X509_CRL_new();
  ASSERT_NE(nullptr, crl);
  const long serials[] = {256, 7, 255};
  X509_REVOKED* entry[3];
  for (int i = 0; i < 3; i++) {
    entry[i] = X509_REVOKED_new();
    ASSERT_EQ(1, ASN1_INTEGER_set(entry[i]->serialNumber, serials[i]));
    ASSERT_EQ(1, X509_CRL_add0_revoked(crl, entry[i]));
  }
  const X509_REVOKED* const* e = entry;
  EXPECT_GT(X509_REVOKED_cmp(&e[0], &e[2]), 0);  // 256 after 255
  EXPECT_LT(X509_REVOKED_cmp(&e[1], &e[2]), 0);  // 7 before 255
  EXPECT_EQ(0, X509_REVOKED_cmp(&e[1], &e[1]));
  // A search sorts the list by that order.
  X509_REVOKED* key = X509_REVOKED_new();
  ASSERT_EQ(1, ASN1_INTEGER_set(key->serialNumber, 255));
  EXPECT_EQ(1, sk_find(crl->crl->revoked, reinterpret_cast<char*>(key)));
  const long sorted[] = {7, 255, 256};
  for (int i = 0; i < 3; i++) {
    const auto* r = reinterpret_cast<X509_REVOKED*>(sk_value(crl->crl->revoked, i));
    EXPECT_EQ(sorted[i], ASN1_INTEGER_get(r->serialNumber)) << i;
  }
  X509_REVOKED_free(key);
  X509_CRL_free(crl);
}

// The legacy private-key record SEQUENCE { AlgorithmIdentifier, OCTET
// STRING } with des-cbc (1.3.14.3.2.7) and `param` as its parameter.
Bytes LegacyPkey(const Bytes& oid, const Bytes& param) {
  using x509_test::Tlv;
  return Tlv(0x30, x509_test::Cat(
                       {Tlv(0x30, x509_test::Cat({oid, param})), Tlv(0x04, FromHex("616263"))}));
}

TEST(X509Pkey, LegacyFormSetsCipherAndIv) {
  Morvane_add_all_ciphers();
  const Bytes des_cbc = FromHex("06052b0e030207");
  const Bytes iv = FromHex("0001020304050607");
  struct Case {
    const char* name;
    Bytes der;
    int reason;  // 0: decodes
    Bytes iv;
  } const cases[] = {
      {"iv", LegacyPkey(des_cbc, x509_test::Tlv(0x04, iv)), 0, iv},
      {"null", LegacyPkey(des_cbc, FromHex("0500")), 0, {}},
      {"iv of 17 bytes",
       LegacyPkey(des_cbc, x509_test::Tlv(0x04, Bytes(17, 1))),
       ASN1_R_IV_TOO_LARGE,
       {}},
      {"unknown cipher",
       LegacyPkey(FromHex("06022a03"), FromHex("0500")),
       ASN1_R_UNSUPPORTED_CIPHER,
       {}},
      {"element after the key",
       x509_test::Tlv(
           0x30, x509_test::Cat({x509_test::Tlv(0x30, x509_test::Cat({des_cbc, FromHex("0500")})),
                                 FromHex("0403616263 0500")})),
       ERR_R_ASN1_LENGTH_MISMATCH,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    X509_PKEY* pk = X509_PKEY_new();
    ASSERT_NE(nullptr, pk);
    memset(pk->cipher.iv, 0xAA, sizeof pk->cipher.iv);  // a zero IV must be written
    const unsigned char* p = c.der.data();
    X509_PKEY* got = d2i_X509_PKEY(&pk, &p, static_cast<long>(c.der.size()));
    if (c.reason != 0) {
      EXPECT_EQ(nullptr, got);
      EXPECT_EQ(c.der.data(), p);
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_X509_PKEY, c.reason}});
    } else {
      ASSERT_EQ(pk, got);
      EXPECT_EQ(EVP_des_cbc(), pk->cipher.cipher);
      Bytes want = c.iv;
      want.resize(EVP_MAX_IV_LENGTH, c.iv.empty() ? 0 : 0xAA);
      EXPECT_EQ(want, Bytes(pk->cipher.iv, pk->cipher.iv + EVP_MAX_IV_LENGTH));
      EXPECT_EQ(Bytes({'a', 'b', 'c'}), Bytes(pk->enc_pkey->data, pk->enc_pkey->data + 3));
      EXPECT_ERRORS({});
    }
    X509_PKEY_free(pk);
  }
}

}  // namespace
