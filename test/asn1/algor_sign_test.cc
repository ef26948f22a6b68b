// Algorithm identifiers (RFC 5280, 4.1.1.2) and attributes, and signing,
// verifying and digesting encoded structures.  The identifiers that signing
// writes are set before any key is used, so they are checked with empty
// containers; signatures themselves need RSA keys (Wycheproof's) and skip,
// naming RSA, until it is built.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

std::string Der(X509_ALGOR* a) {
  unsigned char* der = nullptr;
  const int n = i2d_X509_ALGOR(a, &der);
  std::string out = n > 0 ? ToHex(der, n) : "";
  MORVANE_free(der);
  return out;
}

// The DER of the identifiers, from the object identifiers of RFC 8017 A.2.4,
// RFC 3279 2.2.2 and 2.2.3 and X.660's undefined object.
const char kSha1Rsa[] = "300d06092a864886f70d0101050500";
const char kDsaSha1[] = "300906072a8648ce380403";
const char kEcdsaSha1[] = "300906072a8648ce3d0401";
const char kEcdsaSha1Null[] = "300b06072a8648ce3d04010500";

TEST(X509Algor, SetAndGet) {
  X509_ALGOR* a = X509_ALGOR_new();
  ASSERT_NE(nullptr, a);
  // Type 0 on a record without parameter leaves an empty one in place.
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(65), 0, nullptr));
  ASSERT_NE(nullptr, a->parameter);
  EXPECT_EQ(ASN1_UT_UNDEF, a->parameter->type);
  // A NULL parameter.
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(65), ASN1_UT_NULL, nullptr));
  EXPECT_EQ(kSha1Rsa, Der(a));
  // -1 removes the parameter: no field at all in the encoding.
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(113), ASN1_UT_UNDEF, nullptr));
  EXPECT_EQ(nullptr, a->parameter);
  EXPECT_EQ(kDsaSha1, Der(a));
  ASN1_OBJECT* obj = nullptr;
  int ptype = 99;
  void* pval = &ptype;
  X509_ALGOR_get0(&obj, &ptype, &pval, a);
  EXPECT_EQ(113, OBJ_obj2nid(obj));
  EXPECT_EQ(-1, ptype);
  EXPECT_EQ(&ptype, pval);  // left untouched without a parameter
  // An OCTET STRING parameter is handed over.
  ASN1_STRING* os = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(os, reinterpret_cast<const unsigned char*>("iv"), 2);
  ASSERT_EQ(1, X509_ALGOR_set0(a, OBJ_nid2obj(37), ASN1_UT_OCTET_STRING, os));
  X509_ALGOR_get0(nullptr, &ptype, &pval, a);
  EXPECT_EQ(ASN1_UT_OCTET_STRING, ptype);
  EXPECT_EQ(os, pval);
  X509_ALGOR_get0(nullptr, nullptr, nullptr, a);
  EXPECT_EQ(0, X509_ALGOR_set0(nullptr, nullptr, 0, nullptr));
  // X509_ALGORS: a SEQUENCE OF them.
  const Bytes two = FromHex(std::string("301a") + kSha1Rsa + kDsaSha1);
  const unsigned char* p = two.data();
  X509_ALGORS* algs = d2i_X509_ALGORS(nullptr, &p, static_cast<long>(two.size()));
  ASSERT_NE(nullptr, algs);
  EXPECT_EQ(2, sk_num(algs));
  unsigned char* der = nullptr;
  EXPECT_EQ(static_cast<int>(two.size()), i2d_X509_ALGORS(algs, &der));
  EXPECT_EQ(ToHex(two), ToHex(der, two.size()));
  MORVANE_free(der);
  sk_pop_free(algs, [](void* x) { X509_ALGOR_free(static_cast<X509_ALGOR*>(x)); });
  // A parameter with the reserved universal tag 0 (here constructed, 20 00)
  // is kept whole: it encodes back to itself, not to end-of-contents octets.
  const Bytes odd = FromHex("300b 06072a8648ce380403 2000");
  p = odd.data();
  X509_ALGOR* kept = d2i_X509_ALGOR(nullptr, &p, static_cast<long>(odd.size()));
  ASSERT_NE(nullptr, kept);
  EXPECT_EQ(ToHex(odd), Der(kept));
  X509_ALGOR_free(kept);
  X509_ALGOR* copy = X509_ALGOR_dup(a);
  EXPECT_EQ(Der(a), Der(copy));
  X509_ALGOR_free(copy);
  X509_ALGOR_free(a);
  EXPECT_ERRORS({});
}

TEST(X509Attribute, CreateAndFreeWithAContainer) {
  // emailAddress (RFC 2985) with one IA5String value, in the SET form.
  ASN1_STRING* v = ASN1_IA5STRING_new();
  ASN1_STRING_set(v, "a", 1);
  X509_ATTRIBUTE* attr = X509_ATTRIBUTE_create(48, ASN1_UT_IA5STRING, v);
  ASSERT_NE(nullptr, attr);
  unsigned char* der = nullptr;
  const int n = i2d_X509_ATTRIBUTE(attr, &der);
  EXPECT_EQ("301006092a864886f70d0109013103160161", ToHex(der, n));
  // The bare-value form (`single` 1) writes the value without its SET.
  X509_ATTRIBUTE* single = X509_ATTRIBUTE_new();
  single->object = OBJ_nid2obj(48);
  single->single = 1;
  single->value.single = ASN1_TYPE_new();
  ASN1_STRING* w = ASN1_IA5STRING_new();
  ASN1_STRING_set(w, "a", 1);
  ASN1_TYPE_set(single->value.single, ASN1_UT_IA5STRING, w);
  unsigned char* der2 = nullptr;
  const int n2 = i2d_X509_ATTRIBUTE(single, &der2);
  EXPECT_EQ("300e06092a864886f70d010901160161", ToHex(der2, n2));
  MORVANE_free(der2);
  // A container frees the attributes it carries.
  EVP_PKEY* pkey = EVP_PKEY_new();
  pkey->attributes = sk_new_null();
  sk_push(pkey->attributes, reinterpret_cast<char*>(attr));
  sk_push(pkey->attributes, reinterpret_cast<char*>(single));
  EVP_PKEY_free(pkey);
  MORVANE_free(der);
  EXPECT_ERRORS({});
}

// An OCTET STRING "abc" to sign: the item form encodes it with its item,
// the legacy form with this function.
int OctetI2d(void* a, unsigned char** pp) {
  return i2d_ASN1_OCTET_STRING(static_cast<ASN1_STRING*>(a), pp);
}

struct SignCase {
  const char* name;
  const EVP_MD* (*md)();
  bool item;
  const char* expected;  // DER of both identifiers afterwards
};

// The identifiers are written before the key is used: here the container is
// empty, so signing then fails, leaving them rewritten.
TEST(Asn1Sign, IdentifiersFollowTheDigest) {
  const SignCase cases[] = {
      {"sha1 item", EVP_sha1, true, kSha1Rsa},
      {"sha1 legacy", EVP_sha1, false, kSha1Rsa},
      {"dss1 item", EVP_dss1, true, kDsaSha1},
      {"dss1 legacy", EVP_dss1, false, kDsaSha1},
      {"ecdsa item", EVP_ecdsa, true, kEcdsaSha1},
      {"ecdsa legacy", EVP_ecdsa, false, kEcdsaSha1Null},
      {"null digest", EVP_md_null, true, "30050601000500"},
  };
  ASN1_STRING* data = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(data, reinterpret_cast<const unsigned char*>("abc"), 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    X509_ALGOR* a1 = X509_ALGOR_new();
    X509_ALGOR* a2 = X509_ALGOR_new();
    // A parameter of another type is replaced (or removed).
    X509_ALGOR_set0(a1, OBJ_nid2obj(6), ASN1_UT_INTEGER, ASN1_INTEGER_new());
    ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
    EVP_PKEY* empty = EVP_PKEY_new();
    const int r =
        c.item ? ASN1_item_sign(&ASN1_OCTET_STRING_it, a1, a2, sig, data, empty, c.md())
               : ASN1_sign(OctetI2d, a1, a2, sig, reinterpret_cast<char*>(data), empty, c.md());
    EXPECT_EQ(0, r);
    EXPECT_EQ(nullptr, sig->data);  // the signature is left as it was
    EXPECT_EQ(c.expected, Der(a1));
    EXPECT_EQ(c.expected, Der(a2));
    ERR_clear_error();
    for (X509_ALGOR* a : {a1, a2}) X509_ALGOR_free(a);
    ASN1_BIT_STRING_free(sig);
    EVP_PKEY_free(empty);
  }
  ASN1_STRING_free(data);
}

TEST(Asn1Sign, ExistingNullParameterIsKept) {
  X509_ALGOR* a = X509_ALGOR_new();
  X509_ALGOR_set0(a, OBJ_nid2obj(6), ASN1_UT_NULL, nullptr);
  ASN1_TYPE* before = a->parameter;
  ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
  EVP_PKEY* empty = EVP_PKEY_new();
  ASN1_STRING* data = ASN1_OCTET_STRING_new();
  EXPECT_EQ(0, ASN1_item_sign(&ASN1_OCTET_STRING_it, a, nullptr, sig, data, empty, EVP_sha1()));
  EXPECT_EQ(before, a->parameter);
  EXPECT_EQ(kSha1Rsa, Der(a));
  ERR_clear_error();
  X509_ALGOR_free(a);
  ASN1_BIT_STRING_free(sig);
  EVP_PKEY_free(empty);
  ASN1_STRING_free(data);
}

// A description whose pkey_type names an object without content (DES-EDE3
// has no identifier of its own) cannot describe a signature.
TEST(Asn1Sign, SignatureTypeWithoutObjectIdentifier) {
  EVP_MD md = *EVP_sha1();
  md.pkey_type = 33;
  X509_ALGOR* a = X509_ALGOR_new();
  ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
  EVP_PKEY* empty = EVP_PKEY_new();
  ASN1_STRING* data = ASN1_OCTET_STRING_new();
  EXPECT_EQ(0, ASN1_item_sign(&ASN1_OCTET_STRING_it, a, nullptr, sig, data, empty, &md));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_SIGN,
                  ASN1_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD}});
  EXPECT_EQ(0, ASN1_sign(OctetI2d, a, nullptr, sig, reinterpret_cast<char*>(data), empty, &md));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_SIGN,
                  ASN1_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD}});
  X509_ALGOR_free(a);
  ASN1_BIT_STRING_free(sig);
  EVP_PKEY_free(empty);
  ASN1_STRING_free(data);
}

TEST(Asn1Verify, UnknownDigestAlgorithm) {
  Morvane_add_all_digests();
  X509_ALGOR* a = X509_ALGOR_new();
  ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
  EVP_PKEY* empty = EVP_PKEY_new();
  ASN1_STRING* data = ASN1_OCTET_STRING_new();
  // Algorithms without a digest of theirs: a key algorithm (rsaEncryption),
  // ECDSA over SHA-256 (RFC 5758, 3.2), an object the table does not know.
  const struct {
    ASN1_OBJECT* alg;
    const char* data;
  } unsupported[] = {
      {OBJ_nid2obj(6), "algorithm=rsaEncryption"},
      {OBJ_txt2obj("1.2.840.10045.4.3.2", 1), "algorithm=ecdsa-with-SHA256"},
      {OBJ_txt2obj("1.2.3.4", 1), "algorithm=1.2.3.4"},
  };
  for (const auto& u : unsupported) {
    X509_ALGOR_set0(a, u.alg, ASN1_UT_NULL, nullptr);
    EXPECT_EQ(-1, ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, empty));
    EXPECT_EQ(-1, ASN1_verify(OctetI2d, a, sig, reinterpret_cast<char*>(data), empty));
    EXPECT_ERRORS(
        {{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_VERIFY, ASN1_R_UNSUPPORTED_SIGNATURE_ALGORITHM, u.data},
         {ERR_LIB_ASN1, ASN1_F_ASN1_VERIFY, ASN1_R_UNSUPPORTED_SIGNATURE_ALGORITHM, u.data}});
  }
  // A known signature algorithm with a key of the wrong type: 0, EVP's reason.
  X509_ALGOR_set0(a, OBJ_nid2obj(65), ASN1_UT_NULL, nullptr);
  EXPECT_EQ(0, ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, empty));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_VERIFYFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE},
                 {ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_VERIFY, ERR_R_EVP_LIB}});
  X509_ALGOR_free(a);
  ASN1_BIT_STRING_free(sig);
  EVP_PKEY_free(empty);
  ASN1_STRING_free(data);
  EVP_cleanup();
}

// An encoder of the three octets "abc", so that the digests are FIPS 180's
// own examples: SHA-1("abc"), FIPS 180-2 Appendix A.1.
int AbcI2d(void*, unsigned char** pp) {
  if (pp != nullptr) {
    memcpy(*pp, "abc", 3);
    *pp += 3;
  }
  return 3;
}
const char kSha1Abc[] = "a9993e364706816aba3e25717850c26c9cd0d89d";

int FailingFinal(EVP_MD_CTX*, unsigned char*) {
  return 0;
}

TEST(Asn1Digest, DigestsTheEncoding) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  ASSERT_EQ(1, ASN1_digest(AbcI2d, EVP_sha1(), nullptr, md, &len));
  EXPECT_EQ(kSha1Abc, ToHex(md, len));
  // A SEQUENCE kept whole encodes as the octets it holds.
  ASN1_STRING* whole = ASN1_STRING_type_new(ASN1_UT_SEQUENCE);
  ASN1_STRING_set(whole, "abc", 3);
  len = 0;
  ASSERT_EQ(1, ASN1_item_digest(&ASN1_SEQUENCE_it, EVP_sha1(), whole, md, &len));
  EXPECT_EQ(kSha1Abc, ToHex(md, len));
  // A digest that fails is a failure of the call.
  EVP_MD broken = *EVP_sha1();
  broken.final = FailingFinal;
  EXPECT_EQ(0, ASN1_digest(AbcI2d, &broken, nullptr, md, &len));
  EXPECT_EQ(0, ASN1_item_digest(&ASN1_SEQUENCE_it, &broken, whole, md, &len));
  ASN1_STRING_free(whole);
  ERR_clear_error();
}

// ---- with RSA keys -----------------------------------------------------------

// The 2048-bit key of Wycheproof's rsa_pkcs1_2048_test.json (PKCS#8), or a
// skip naming what is missing.
EVP_PKEY* WycheproofKey(std::string* why) {
  const std::string path = morvane_test::VectorFile("wycheproof/rsa_pkcs1_2048_test.json");
  if (path.empty()) {
    *why = "published vectors not found (wycheproof/rsa_pkcs1_2048_test.json)";
    return nullptr;
  }
  const auto tests = morvane_test::ReadWycheproof(path);
  const Bytes der = morvane_test::Pkcs8PrivateKey(FromHex(tests.at(0).Get("privateKeyPkcs8")));
  const unsigned char* p = der.data();
  RSA* rsa = d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(der.size()));
  if (rsa == nullptr) {
    *why = ERR_GET_REASON(ERR_peek_error()) == ERR_R_DISABLED
               ? "RSA is not built yet (d2i_RSAPrivateKey is disabled)"
               : "the key does not decode: " + morvane_test::DrainErrors();
    ERR_clear_error();
    return nullptr;
  }
  EVP_PKEY* pkey = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pkey, rsa);
  return pkey;
}

#define KEY_OR_SKIP(var)                                         \
  std::string var##_why;                                         \
  EVP_PKEY* var = WycheproofKey(&var##_why);                     \
  if (var == nullptr) {                                          \
    if (var##_why.rfind("the key", 0) == 0) FAIL() << var##_why; \
    GTEST_SKIP() << var##_why;                                   \
  }

TEST(Asn1SignWithKeys, SignsAndVerifiesBothForms) {
  KEY_OR_SKIP(pkey);
  Morvane_add_all_digests();
  ASN1_STRING* data = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(data, reinterpret_cast<const unsigned char*>("abc"), 3);
  for (bool item : {true, false}) {
    SCOPED_TRACE(item ? "item" : "legacy");
    X509_ALGOR* a = X509_ALGOR_new();
    ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
    ASN1_BIT_STRING_set_bit(sig, 3, 1);  // old contents with unused bits
    const int n =
        item
            ? ASN1_item_sign(&ASN1_OCTET_STRING_it, a, nullptr, sig, data, pkey, EVP_sha1())
            : ASN1_sign(OctetI2d, a, nullptr, sig, reinterpret_cast<char*>(data), pkey, EVP_sha1());
    ASSERT_EQ(EVP_PKEY_size(pkey), n);
    EXPECT_EQ(kSha1Rsa, Der(a));
    EXPECT_EQ(n, sig->length);
    // The BIT STRING has no unused bits: its first content octet is 0.
    unsigned char* der = nullptr;
    const int m = i2d_ASN1_BIT_STRING(sig, &der);
    ASSERT_EQ(n + 5, m);  // 03 82 01 01 00 and the signature
    EXPECT_EQ(0, der[4]);
    MORVANE_free(der);
    EXPECT_EQ(1, item ? ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, pkey)
                      : ASN1_verify(OctetI2d, a, sig, reinterpret_cast<char*>(data), pkey));
    sig->data[n / 2] ^= 0x10;  // a flipped bit
    EXPECT_EQ(0, item ? ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, pkey)
                      : ASN1_verify(OctetI2d, a, sig, reinterpret_cast<char*>(data), pkey));
    EXPECT_EQ(ERR_R_EVP_LIB, ERR_GET_REASON(ERR_peek_last_error()));
    ERR_clear_error();
    X509_ALGOR_free(a);
    ASN1_BIT_STRING_free(sig);
  }
  ASN1_STRING_free(data);
  EVP_PKEY_free(pkey);
  EVP_cleanup();
}

// The legacy form checks its digest set-up like the item form.
int FailingInit(EVP_MD_CTX*) {
  return 0;
}

TEST(Asn1SignWithKeys, FailedDigestSetUpFailsTheLegacyForm) {
  KEY_OR_SKIP(pkey);
  EVP_MD broken = *EVP_sha1();
  broken.init = FailingInit;
  X509_ALGOR* a = X509_ALGOR_new();
  ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
  ASN1_STRING* data = ASN1_OCTET_STRING_new();
  EXPECT_EQ(0, ASN1_sign(OctetI2d, a, nullptr, sig, reinterpret_cast<char*>(data), pkey, &broken));
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_ASN1_SIGN, ERR_R_EVP_LIB), ERR_peek_last_error());
  EXPECT_EQ(nullptr, sig->data);
  EXPECT_EQ(0, ASN1_item_sign(&ASN1_OCTET_STRING_it, a, nullptr, sig, data, pkey, &broken));
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_SIGN, ERR_R_EVP_LIB), ERR_peek_last_error());
  ERR_clear_error();
  X509_ALGOR_free(a);
  ASN1_BIT_STRING_free(sig);
  ASN1_STRING_free(data);
  EVP_PKEY_free(pkey);
}

}  // namespace
