// What the public-key, certificate and message code relies on of the ASN.1
// codec, one check per operation, so that a change there cannot silently
// break its users.  Operations not built yet are not listed.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::FromHex;

std::string Der(ASN1_VALUE* v, const ASN1_ITEM* it) {
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(v, &der, it);
  std::string out = n > 0 ? morvane_test::ToHex(der, static_cast<size_t>(n)) : "";
  CRYPTO_free(der);
  return out;
}

ASN1_STRING* Octets(const char* text) {
  ASN1_STRING* s = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>(text),
                        static_cast<int>(strlen(text)));
  return s;
}

EVP_PKEY* RsaPkey() {
  EVP_PKEY* pkey = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pkey, MakeKey(TestKey(1024)).release());
  return pkey;
}

// ASN1_item_sign writes the signature algorithm with a NULL parameter,
// returns the signature length and stores it without unused bits;
// ASN1_item_verify gives 1, 0 for a wrong signature, -1 for an unknown
// algorithm.
TEST(Asn1Seams, ItemSignAndVerify) {
  Morvane_add_all_digests();
  EVP_PKEY* pkey = RsaPkey();
  ASN1_STRING* data = Octets("to be signed");
  X509_ALGOR* a = X509_ALGOR_new();
  ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
  ASSERT_EQ(128, ASN1_item_sign(&ASN1_OCTET_STRING_it, a, nullptr, sig, data, pkey, EVP_sha256()));
  EXPECT_EQ("300d06092a864886f70d01010b0500",
            Der(reinterpret_cast<ASN1_VALUE*>(a), &X509_ALGOR_it));
  EXPECT_EQ(128, sig->length);
  EXPECT_EQ(1, ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, pkey));
  sig->data[5] ^= 1;
  EXPECT_EQ(0, ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, pkey));
  ERR_clear_error();
  X509_ALGOR_set0(a, OBJ_nid2obj(13), ASN1_UT_UNDEF, nullptr);  // commonName: no digest
  EXPECT_EQ(-1, ASN1_item_verify(&ASN1_OCTET_STRING_it, a, sig, data, pkey));
  ERR_clear_error();
  X509_ALGOR_free(a);
  ASN1_BIT_STRING_free(sig);
  ASN1_OCTET_STRING_free(data);
  EVP_PKEY_free(pkey);
}

// ASN1_item_digest digests the encoding.
TEST(Asn1Seams, ItemDigest) {
  ASN1_STRING* data = Octets("abc");
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  ASSERT_EQ(1, ASN1_item_digest(&ASN1_OCTET_STRING_it, EVP_sha1(), data, md, &len));
  unsigned char expect[20];
  const Bytes der = FromHex("0403616263");
  EVP_Digest(der.data(), der.size(), expect, nullptr, EVP_sha1(), nullptr);
  EXPECT_EQ(0, memcmp(md, expect, 20));
  EXPECT_EQ(20u, len);
  ASN1_OCTET_STRING_free(data);
}

// SET OF is written sorted by encoding (the stack keeps its order); SEQUENCE
// OF in stack order.
TEST(Asn1Seams, SetOfIsSorted) {
  STACK* sk = sk_new_null();
  ASN1_INTEGER* big = ASN1_INTEGER_new();
  ASN1_INTEGER* small = ASN1_INTEGER_new();
  ASN1_INTEGER_set(big, 300);
  ASN1_INTEGER_set(small, 5);
  sk_push(sk, reinterpret_cast<char*>(big));
  sk_push(sk, reinterpret_cast<char*>(small));
  auto* i2d = reinterpret_cast<i2d_of_void*>(i2d_ASN1_INTEGER);
  unsigned char out[32];
  unsigned char* p = out;
  const int n = i2d_ASN1_SET(sk, &p, i2d, ASN1_UT_SET, ASN1_CLASS_UNIVERSAL, 1);
  EXPECT_EQ("31070201050202012c", morvane_test::ToHex(out, static_cast<size_t>(n)));
  EXPECT_EQ(reinterpret_cast<char*>(big), sk_value(sk, 0));
  p = out;
  const int m = i2d_ASN1_SET(sk, &p, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0);
  EXPECT_EQ("30070202012c020105", morvane_test::ToHex(out, static_cast<size_t>(m)));
  sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(ASN1_INTEGER_free));
}

// ASN1_INTEGER_get: -1 for more than four content octets, the value
// otherwise, negated for a negative INTEGER; 0 for null.
TEST(Asn1Seams, IntegerGet) {
  ASN1_INTEGER* i = ASN1_INTEGER_new();
  ASN1_STRING_set(i, "\x01\x00\x00\x00\x00", 5);
  EXPECT_EQ(-1, ASN1_INTEGER_get(i));
  ASN1_STRING_set(i, "\x01\x02", 2);
  EXPECT_EQ(258, ASN1_INTEGER_get(i));
  i->type = ASN1_UT_NEG_INTEGER;
  EXPECT_EQ(-258, ASN1_INTEGER_get(i));
  EXPECT_EQ(0, ASN1_INTEGER_get(nullptr));
  ASN1_INTEGER_free(i);
}

// BN_to_ASN1_INTEGER gives a negative value type 258; ASN1_INTEGER_to_BN
// takes it back; i2d_ASN1_INTEGER adds 0x00 before a top bit.
TEST(Asn1Seams, IntegersAndBigNumbers) {
  BIGNUM* b = nullptr;
  BN_hex2bn(&b, "-80");
  ASN1_INTEGER* i = BN_to_ASN1_INTEGER(b, nullptr);
  ASSERT_NE(nullptr, i);
  EXPECT_EQ(ASN1_UT_NEG_INTEGER, i->type);
  BIGNUM* back = ASN1_INTEGER_to_BN(i, nullptr);
  EXPECT_EQ(0, BN_cmp(b, back));
  ASN1_INTEGER_set(i, 128);
  unsigned char out[8];
  unsigned char* p = out;
  EXPECT_EQ(4, i2d_ASN1_INTEGER(i, &p));
  EXPECT_EQ("02020080", morvane_test::ToHex(out, 4));
  EXPECT_EQ(4, i2d_ASN1_INTEGER(i, nullptr));
  BN_free(b);
  BN_free(back);
  ASN1_INTEGER_free(i);
}

// X509_NAME_set with the name the field holds copies nothing; with another
// name the field gets a copy.  i2d_X509_NAME(name, NULL) refreshes `bytes`.
TEST(Asn1Seams, NameSetAndCachedEncoding) {
  const Bytes der = FromHex("300f310d300b06035504030c0474657374");  // CN=test
  const unsigned char* p = der.data();
  X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, name);
  X509_NAME* field = name;
  EXPECT_EQ(1, X509_NAME_set(&field, name));
  EXPECT_EQ(name, field);
  X509_NAME* other = nullptr;
  EXPECT_EQ(1, X509_NAME_set(&other, name));
  EXPECT_NE(name, other);
  name->modified = 1;
  EXPECT_EQ(static_cast<int>(der.size()), i2d_X509_NAME(name, nullptr));
  EXPECT_EQ(0, name->modified);
  EXPECT_EQ(static_cast<int>(der.size()), name->bytes->length);
  EXPECT_EQ(0, X509_NAME_set(nullptr, name));
  X509_NAME_free(other);
  X509_NAME_free(name);
}

// friendlyName (NID 156) and the CSP name (NID 417) become BMPStrings.
TEST(Asn1Seams, StringByNidBmpForFriendlyNames) {
  for (int nid : {156, 417}) {
    ASN1_STRING* s = ASN1_STRING_set_by_NID(nullptr, reinterpret_cast<const unsigned char*>("ab"),
                                            2, ASN1_MB_ASCII, nid);
    ASSERT_NE(nullptr, s) << nid;
    EXPECT_EQ(ASN1_UT_BMPSTRING, s->type) << nid;
    EXPECT_EQ("00610062", morvane_test::ToHex(s->data, static_cast<size_t>(s->length)));
    ASN1_STRING_free(s);
    // The same through an attribute list.
    STACK* attrs = nullptr;
    ASSERT_NE(nullptr, X509at_add1_attr_by_NID(&attrs, nid, ASN1_MB_ASCII,
                                               reinterpret_cast<const unsigned char*>("ab"), 2));
    ASN1_TYPE* t = X509_ATTRIBUTE_get0_type(X509at_get_attr(attrs, 0), 0);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(ASN1_UT_BMPSTRING, t->type);
    sk_pop_free(attrs, reinterpret_cast<void (*)(void*)>(X509_ATTRIBUTE_free));
  }
}

// Strings: bit numbering from the first octet's top bit; types; comparison by
// length first; the narrowest printable type; tag bits.
TEST(Asn1Seams, StringOperations) {
  ASN1_BIT_STRING* bs = ASN1_BIT_STRING_new();
  ASSERT_EQ(1, ASN1_BIT_STRING_set_bit(bs, 9, 1));
  EXPECT_EQ("0040", morvane_test::ToHex(bs->data, static_cast<size_t>(bs->length)));
  EXPECT_EQ(1, ASN1_BIT_STRING_get_bit(bs, 9));
  EXPECT_EQ(0, ASN1_BIT_STRING_get_bit(bs, 0));
  ASN1_BIT_STRING_free(bs);
  ASN1_STRING* ia5 = ASN1_STRING_type_new(ASN1_UT_IA5STRING);
  EXPECT_EQ(ASN1_UT_IA5STRING, ia5->type);
  ASN1_STRING_free(ia5);
  ASN1_STRING* a = Octets("zz");
  ASN1_STRING* b = Octets("aaa");
  EXPECT_LT(ASN1_STRING_cmp(a, b), 0);
  EXPECT_EQ(0, ASN1_OCTET_STRING_cmp(a, a));
  ASN1_STRING* c = ASN1_STRING_dup(a);
  EXPECT_EQ(0, ASN1_STRING_cmp(a, c));
  EXPECT_EQ(2, ASN1_STRING_length(c));
  ASN1_STRING_free(c);
  ASN1_STRING_free(a);
  ASN1_STRING_free(b);
  EXPECT_EQ(ASN1_UT_PRINTABLESTRING,
            ASN1_PRINTABLE_type(reinterpret_cast<const unsigned char*>("Ab 1"), -1));
  EXPECT_EQ(ASN1_UT_IA5STRING,
            ASN1_PRINTABLE_type(reinterpret_cast<const unsigned char*>("a@b"), -1));
  EXPECT_EQ(ASN1_UT_T61STRING,
            ASN1_PRINTABLE_type(reinterpret_cast<const unsigned char*>("a\xe9"), -1));
  EXPECT_EQ(0x2ul, ASN1_tag2bit(ASN1_UT_PRINTABLESTRING));
  EXPECT_EQ(0x4ul, ASN1_tag2bit(ASN1_UT_T61STRING));
  EXPECT_EQ(0x2000ul, ASN1_tag2bit(ASN1_UT_UTF8STRING));
  EXPECT_EQ(0ul, ASN1_tag2bit(31));
}

// Object text: the long name cut to buf_len - 1 characters.
TEST(Asn1Seams, ObjectText) {
  char buf[5];
  i2t_ASN1_OBJECT(buf, sizeof buf, OBJ_nid2obj(13));
  EXPECT_STREQ("comm", buf);
}

// Headers: identifier and definite length, and the size of both with the
// content.
TEST(Asn1Seams, PutObjectAndObjectSize) {
  unsigned char out[4];
  unsigned char* p = out;
  ASN1_put_object(&p, 1, 3, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
  EXPECT_EQ(2, p - out);
  EXPECT_EQ("3003", morvane_test::ToHex(out, 2));
  EXPECT_EQ(5, ASN1_object_size(0, 3, ASN1_UT_INTEGER));
  EXPECT_EQ(131, ASN1_object_size(0, 128, ASN1_UT_INTEGER));
}

// Times: UTCTime text, GeneralizedTime from 2050, checks and conversion.
TEST(Asn1Seams, Times) {
  ASN1_UTCTIME* u = ASN1_UTCTIME_set(nullptr, 0);
  ASSERT_NE(nullptr, u);
  EXPECT_EQ("700101000000Z", std::string(reinterpret_cast<char*>(u->data), u->length));
  ASN1_GENERALIZEDTIME* g = ASN1_TIME_to_generalizedtime(u, nullptr);
  ASSERT_NE(nullptr, g);
  EXPECT_EQ("19700101000000Z", std::string(reinterpret_cast<char*>(g->data), g->length));
  EXPECT_EQ(1, ASN1_GENERALIZEDTIME_check(g));
  EXPECT_EQ(0, ASN1_GENERALIZEDTIME_set_string(g, "2010013112000Z"));
  EXPECT_EQ(1, ASN1_GENERALIZEDTIME_set_string(g, "20100131120000Z"));
  ASN1_TIME* t = ASN1_TIME_set(nullptr, 2524608000);  // 2050-01-01
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(ASN1_UT_GENERALIZEDTIME, t->type);
  ASN1_TIME* t2 = ASN1_TIME_set(nullptr, 946684800);  // 2000-01-01
  EXPECT_EQ(ASN1_UT_UTCTIME, t2->type);
  for (ASN1_STRING* s : {u, g, t, t2}) ASN1_STRING_free(s);
}

// Copies and packing: ASN1_dup, ASN1_item_dup, ASN1_item_pack/unpack, and
// the type setters.
TEST(Asn1Seams, CopiesPackingAndTypes) {
  ASN1_INTEGER* i = ASN1_INTEGER_new();
  ASN1_INTEGER_set(i, 77);
  auto* copy =
      static_cast<ASN1_INTEGER*>(ASN1_dup(reinterpret_cast<i2d_of_void*>(i2d_ASN1_INTEGER),
                                          reinterpret_cast<d2i_of_void*>(d2i_ASN1_INTEGER), i));
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(77, ASN1_INTEGER_get(copy));
  auto* dup = static_cast<ASN1_INTEGER*>(ASN1_item_dup(&ASN1_INTEGER_it, i));
  EXPECT_EQ(77, ASN1_INTEGER_get(dup));
  ASN1_STRING* packed = ASN1_item_pack(i, &ASN1_INTEGER_it, nullptr);
  ASSERT_NE(nullptr, packed);
  EXPECT_EQ("02014d", morvane_test::ToHex(packed->data, static_cast<size_t>(packed->length)));
  auto* unpacked = static_cast<ASN1_INTEGER*>(ASN1_item_unpack(packed, &ASN1_INTEGER_it));
  EXPECT_EQ(77, ASN1_INTEGER_get(unpacked));
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASSERT_EQ(1, ASN1_TYPE_set1(t, ASN1_UT_INTEGER, i));
  EXPECT_EQ(ASN1_UT_INTEGER, ASN1_TYPE_get(t));
  EXPECT_NE(i, t->value.integer);
  ASN1_TYPE_free(t);
  for (ASN1_INTEGER* x : {i, copy, dup, packed, unpacked}) ASN1_STRING_free(x);
}

// PKCS5_pbe_set: iterations below 1 mean 2048, salt length 0 means 8.
TEST(Asn1Seams, PbeDefaults) {
  X509_ALGOR* a = PKCS5_pbe_set(10, 0, nullptr, 0);  // pbeWithMD5AndDES-CBC
  ASSERT_NE(nullptr, a);
  ASN1_STRING* seq = a->parameter->value.sequence;
  const unsigned char* p = seq->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, seq->length);
  ASSERT_NE(nullptr, pbe);
  EXPECT_EQ(2048, ASN1_INTEGER_get(pbe->iter));
  EXPECT_EQ(8, pbe->salt->length);
  PBEPARAM_free(pbe);
  X509_ALGOR_free(a);
}

// X509_ATTRIBUTE_create: a SET of one value.
TEST(Asn1Seams, AttributeCreate) {
  ASN1_STRING* v = Octets("x");
  X509_ATTRIBUTE* at = X509_ATTRIBUTE_create(156, ASN1_UT_OCTET_STRING, v);
  ASSERT_NE(nullptr, at);
  EXPECT_EQ(0, at->single);
  EXPECT_EQ(1, sk_num(at->value.set));
  X509_ATTRIBUTE_free(at);
}

}  // namespace
