// What the public-key, certificate and message code relies on of the
// certificate structures, their coders and printers, the S/MIME framing and
// the text-to-DER generator: one short check per operation, beside
// asn1_seams_test.cc.  Elliptic-curve keys are not built yet, so nothing
// here signs with ECDSA or codes an EC public key.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <string>

#include "rsa_test_util.h"
#include "test_support.h"

// A local template for the primitive items held in C fields and for the aux
// callback: LONG, ZLONG (left out when 0), BIGNUM and CBIGNUM.
struct SeamNums {
  long l;
  long z;
  BIGNUM* b;
  BIGNUM* c;
};
int g_seam_ops = 0;  // bit n set when the callback saw operation n
int SeamNumsCb(int op, ASN1_VALUE**, const ASN1_ITEM*) {
  g_seam_ops |= 1 << op;
  return 1;
}
ASN1_SEQUENCE_cb(SeamNums, SeamNumsCb) = {
    ASN1_SIMPLE(SeamNums, l, LONG),
    ASN1_SIMPLE(SeamNums, z, ZLONG),
    ASN1_SIMPLE(SeamNums, b, BIGNUM),
    ASN1_SIMPLE(SeamNums, c, CBIGNUM),
} ASN1_SEQUENCE_END_cb(SeamNums, SeamNums);

namespace {

using namespace rsa_test;
using morvane_test::FromHex;
using morvane_test::ToHex;

// The hand-written DER inputs kept for the printers.
const Bytes& Input(const std::string& label) {
  static const std::map<std::string, Bytes> der = [] {
    std::map<std::string, Bytes> m;
    for (const auto& r : morvane_test::ReadTableRows(
             morvane_test::TestDataFile("print/x509_inputs.txt"), "DER"))
      m[r[0]] = FromHex(r[1]);
    return m;
  }();
  return der.at(label);
}

std::string Text(BIO* b) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  return n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
}

X509* Cert() {
  const Bytes& der = Input("cert-v3");
  const unsigned char* p = der.data();
  return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

// The DSA key of FIPS 186-2, Appendix 5 (test/data/dsa/fips186_2.txt).
EVP_PKEY* DsaPkey() {
  const auto recs = morvane_test::ReadRsp(morvane_test::TestDataFile("dsa/fips186_2.txt"));
  DSA* dsa = DSA_new();
  BIGNUM** fields[] = {&dsa->p, &dsa->q, &dsa->g, &dsa->priv_key, &dsa->pub_key};
  const char* names[] = {"p", "q", "g", "x", "y"};
  for (int i = 0; i < 5; i++) BN_hex2bn(fields[i], recs.at(0).Get(names[i]).c_str());
  EVP_PKEY* pkey = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(pkey, dsa);
  return pkey;
}

// ASN1_item_sign with a DSA key and SHA-1: dsaWithSHA1 with no parameter at
// all (RFC 3279, 2.2.2), the signature length returned and stored.
TEST(X509Seams, ItemSignDsaHasNoParameter) {
  Morvane_add_all_digests();
  EVP_PKEY* pkey = DsaPkey();
  ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(data, reinterpret_cast<const unsigned char*>("abc"), 3);
  X509_ALGOR* a1 = X509_ALGOR_new();
  X509_ALGOR* a2 = X509_ALGOR_new();
  ASN1_BIT_STRING* sig = ASN1_BIT_STRING_new();
  const int n = ASN1_item_sign(&ASN1_OCTET_STRING_it, a1, a2, sig, data, pkey, EVP_dss1());
  ASSERT_GT(n, 0);
  EXPECT_EQ(n, sig->length);
  EXPECT_LE(n, EVP_PKEY_size(pkey));
  for (X509_ALGOR* a : {a1, a2}) {
    unsigned char* der = nullptr;
    const int len = i2d_X509_ALGOR(a, &der);
    EXPECT_EQ("300906072a8648ce380403", ToHex(der, static_cast<size_t>(len)));
    MORVANE_free(der);
    EXPECT_EQ(nullptr, a->parameter);
  }
  EXPECT_EQ(1, ASN1_item_verify(&ASN1_OCTET_STRING_it, a1, sig, data, pkey));
  ASN1_OCTET_STRING_set(data, reinterpret_cast<const unsigned char*>("abd"), 3);
  EXPECT_EQ(0, ASN1_item_verify(&ASN1_OCTET_STRING_it, a1, sig, data, pkey));
  ERR_clear_error();
  X509_ALGOR_free(a1);
  X509_ALGOR_free(a2);
  ASN1_BIT_STRING_free(sig);
  ASN1_OCTET_STRING_free(data);
  EVP_PKEY_free(pkey);
}

// A decoded certificate: not signature-checked, no cached extension facts,
// no policy cache, no auxiliary data; ex_pathlen is -1 ("none") as after
// creation.  X509_free drops one reference at a time.
TEST(X509Seams, DecodedCertificateStartsClean) {
  X509* x = Cert();
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(0, x->valid);
  EXPECT_EQ(1, x->references);
  EXPECT_EQ(0ul, x->ex_flags);
  EXPECT_EQ(0ul, x->ex_kusage);
  EXPECT_EQ(0ul, x->ex_xkusage);
  EXPECT_EQ(0ul, x->ex_nscert);
  EXPECT_EQ(-1, x->ex_pathlen);
  EXPECT_EQ(0, x->ex_pcpathlen);
  EXPECT_EQ(nullptr, x->skid);
  EXPECT_EQ(nullptr, x->akid);
  EXPECT_EQ(nullptr, x->policy_cache);
  EXPECT_EQ(nullptr, x->aux);
  const unsigned char zero[20] = {};
  EXPECT_EQ(0, memcmp(zero, x->sha1_hash, 20));
  EXPECT_EQ(2, CRYPTO_add(&x->references, 1, CRYPTO_LOCK_X509));
  X509_free(x);
  EXPECT_EQ(1, x->references);
  X509_free(x);
  X509_free(nullptr);

  const Bytes& der = Input("crl-v2");
  const unsigned char* p = der.data();
  X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, crl);
  CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
  X509_CRL_free(crl);
  EXPECT_EQ(1, crl->references);
  // The revoked list is ordered by serial number: it has its comparison.
  ASSERT_NE(nullptr, crl->crl->revoked);
  EXPECT_NE(nullptr, crl->crl->revoked->comp);
  X509_CRL_free(crl);
  X509_CRL_free(nullptr);
}

// The auxiliary trust record: the uses trusted and rejected.
TEST(X509Seams, AuxiliaryTrustAndReject) {
  Bytes der = Input("cert-v3");
  const Bytes& aux = Input("aux");
  der.insert(der.end(), aux.begin(), aux.end());
  const unsigned char* p = der.data();
  X509* x = d2i_X509_AUX(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, x);
  ASSERT_NE(nullptr, x->aux);
  ASSERT_EQ(2, sk_num(x->aux->trust));
  EXPECT_EQ(129, OBJ_obj2nid(reinterpret_cast<ASN1_OBJECT*>(sk_value(x->aux->trust, 0))));
  ASSERT_EQ(1, sk_num(x->aux->reject));
  X509_free(x);
}

// The DER coders of the certificate structures and wrappers give back the
// octets they read.
TEST(X509Seams, DerCodersRoundTrip) {
  const Bytes cert = Input("cert-v3");
  const Bytes aux = Input("aux");
  const std::string spki = "301b300d06092a864886f70d0101010500030a00300702020ca1020111";
  Bytes pair = FromHex("30820176a0820172");  // forward: [0] EXPLICIT certificate
  pair.insert(pair.end(), cert.begin(), cert.end());
  Bytes with_aux = cert;
  with_aux.insert(with_aux.end(), aux.begin(), aux.end());
  struct Case {
    const char* name;
    d2i_of_void* d2i;
    i2d_of_void* i2d;
    void (*free)(void*);
    Bytes der;
  };
#define CODERS(d2i, i2d, fr)                                                          \
  reinterpret_cast<d2i_of_void*>(d2i), reinterpret_cast<i2d_of_void*>(i2d),           \
      reinterpret_cast<void (*)(void*)>(fr)
  const Case cases[] = {
      {"X509", CODERS(d2i_X509, i2d_X509, X509_free), cert},
      {"X509_AUX", CODERS(d2i_X509_AUX, i2d_X509_AUX, X509_free), with_aux},
      {"X509_CERT_PAIR", CODERS(d2i_X509_CERT_PAIR, i2d_X509_CERT_PAIR, X509_CERT_PAIR_free),
       pair},
      {"X509_REQ", CODERS(d2i_X509_REQ, i2d_X509_REQ, X509_REQ_free), Input("req-attributes")},
      {"X509_CRL", CODERS(d2i_X509_CRL, i2d_X509_CRL, X509_CRL_free), Input("crl-v2")},
      {"NETSCAPE_SPKI", CODERS(d2i_NETSCAPE_SPKI, i2d_NETSCAPE_SPKI, NETSCAPE_SPKI_free),
       Input("spki-rsa")},
      // nsCertSequence without certificates.
      {"NETSCAPE_CERT_SEQUENCE",
       CODERS(d2i_NETSCAPE_CERT_SEQUENCE, i2d_NETSCAPE_CERT_SEQUENCE,
              NETSCAPE_CERT_SEQUENCE_free),
       FromHex("300b06096086480186f8420205")},
      {"X509_NAME", CODERS(d2i_X509_NAME, i2d_X509_NAME, X509_NAME_free), Input("name-state")},
      {"X509_EXTENSION", CODERS(d2i_X509_EXTENSION, i2d_X509_EXTENSION, X509_EXTENSION_free),
       FromHex("300f0603551d130101ff040530030101ff")},
      {"X509_ALGOR", CODERS(d2i_X509_ALGOR, i2d_X509_ALGOR, X509_ALGOR_free),
       FromHex("300906052b0e03021a0500")},
      // DigestInfo of SHA-1 (RFC 8017, 9.2).
      {"X509_SIG", CODERS(d2i_X509_SIG, i2d_X509_SIG, X509_SIG_free),
       FromHex("3021300906052b0e03021a05000414" + std::string(40, '0'))},
      {"PKCS8_PRIV_KEY_INFO",
       CODERS(d2i_PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free),
       FromHex("3017020100300d06092a864886f70d01010105000403020100")},
      {"PUBKEY", CODERS(d2i_PUBKEY, i2d_PUBKEY, EVP_PKEY_free), FromHex(spki)},
      {"RSA_PUBKEY", CODERS(d2i_RSA_PUBKEY, i2d_RSA_PUBKEY, RSA_free), FromHex(spki)},
  };
#undef CODERS
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned char* p = c.der.data();
    void* v = c.d2i(nullptr, &p, static_cast<long>(c.der.size()));
    ASSERT_NE(nullptr, v) << morvane_test::DrainErrors();
    EXPECT_EQ(c.der.data() + c.der.size(), p);
    unsigned char* out = nullptr;
    const int n = c.i2d(v, &out);
    EXPECT_EQ(ToHex(c.der), ToHex(out, n > 0 ? static_cast<size_t>(n) : 0));
    MORVANE_free(out);
    c.free(v);
  }
}

// DSA_PUBKEY, the traditional private key coders and the public-key
// structure of a certificate.
TEST(X509Seams, KeyCoders) {
  EVP_PKEY* dsa = DsaPkey();
  unsigned char* der = nullptr;
  const int n = i2d_DSA_PUBKEY(dsa->pkey.dsa, &der);
  ASSERT_GT(n, 0);
  const unsigned char* p = der;
  DSA* back = d2i_DSA_PUBKEY(nullptr, &p, n);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(0, BN_cmp(back->pub_key, dsa->pkey.dsa->pub_key));
  DSA_free(back);
  MORVANE_free(der);
  // X509_PUBKEY_set / X509_PUBKEY_get: a new structure, a new reference.
  X509_PUBKEY* pub = nullptr;
  ASSERT_EQ(1, X509_PUBKEY_set(&pub, dsa));
  EVP_PKEY* got = X509_PUBKEY_get(pub);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(EVP_PKEY_DSA, EVP_PKEY_type(got->type));
  EVP_PKEY_free(got);
  X509_PUBKEY_free(pub);
  EVP_PKEY_free(dsa);

  // An RSA key in its traditional form (NID 6), through d2i_PrivateKey and
  // d2i_AutoPrivateKey.
  Rsa rsa = MakeKey(TestKey(1024));
  unsigned char* kder = nullptr;
  const int klen = i2d_RSAPrivateKey(rsa.get(), &kder);
  ASSERT_GT(klen, 0);
  for (bool automatic : {false, true}) {
    const unsigned char* q = kder;
    EVP_PKEY* k = automatic ? d2i_AutoPrivateKey(nullptr, &q, klen)
                            : d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &q, klen);
    ASSERT_NE(nullptr, k) << automatic;
    unsigned char* again = nullptr;
    const int m = i2d_PrivateKey(k, &again);
    EXPECT_EQ(ToHex(kder, static_cast<size_t>(klen)), ToHex(again, m > 0 ? static_cast<size_t>(m) : 0));
    MORVANE_free(again);
    EVP_PKEY_free(k);
  }
  MORVANE_free(kder);

  // A DSA key in its traditional form (NID 116).
  EVP_PKEY* dsa_key = DsaPkey();
  kder = nullptr;
  const int dlen = i2d_DSAPrivateKey(dsa_key->pkey.dsa, &kder);
  ASSERT_GT(dlen, 0);
  const unsigned char* q = kder;
  EVP_PKEY* k = d2i_PrivateKey(EVP_PKEY_DSA, nullptr, &q, dlen);
  ASSERT_NE(nullptr, k);
  unsigned char* again = nullptr;
  const int m = i2d_PrivateKey(k, &again);
  EXPECT_EQ(ToHex(kder, static_cast<size_t>(dlen)), ToHex(again, m > 0 ? static_cast<size_t>(m) : 0));
  MORVANE_free(again);
  EVP_PKEY_free(k);
  EVP_PKEY_free(dsa_key);
  MORVANE_free(kder);
}

// X509_NAME_print_ex with 0x82031F: the one-line form, ", " between RDNs,
// " + " inside one, " = ", short names, RFC 2253 escaping (quoting).
TEST(X509Seams, NamePrintOneLine) {
  X509* x = Cert();
  ASSERT_NE(nullptr, x);
  BIO* out = BIO_new(BIO_s_mem());
  const std::string want = "C = AU, O = Org, CN = a + OU = b";
  EXPECT_EQ(static_cast<int>(want.size()),
            X509_NAME_print_ex(out, x->cert_info->subject, 0, 0x82031F));
  EXPECT_EQ(want, Text(out));
  BIO_free(out);
  X509_free(x);
  X509_NAME* nm = X509_NAME_new();
  X509_NAME_add_entry_by_txt(nm, "O", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("a,b"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(nm, "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("x\x01y"), -1, -1, 0);
  out = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(out, nm, 0, 0x82031F);
  EXPECT_EQ("O = \"a,b\", CN = x\\01y", Text(out));
  BIO_free(out);
  X509_NAME_free(nm);
}

// String printers: ASN1_STRING_print's dots, ASN1_STRING_to_UTF8, the
// i2a hex forms and object text, GeneralizedTime text.
TEST(X509Seams, StringPrinters) {
  ASN1_STRING* s = ASN1_STRING_type_new(ASN1_UT_OCTET_STRING);
  ASN1_STRING_set(s, "a\x01\n\r\x1f \x7f\x80\xffz", 10);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, ASN1_STRING_print(out, s));
  EXPECT_EQ("a.\n\r. ...z", Text(out));
  BIO_free(out);

  ASN1_STRING* bmp = ASN1_STRING_type_new(ASN1_UT_BMPSTRING);
  ASN1_STRING_set(bmp, "\x00\xe9\x00\x41", 4);
  unsigned char* utf8 = nullptr;
  EXPECT_EQ(3, ASN1_STRING_to_UTF8(&utf8, bmp));
  EXPECT_STREQ("\xc3\xa9" "A", reinterpret_cast<char*>(utf8));
  MORVANE_free(utf8);
  ASN1_STRING_free(bmp);

  ASN1_INTEGER* neg = ASN1_INTEGER_new();
  ASN1_INTEGER_set(neg, -0x1ab);
  out = BIO_new(BIO_s_mem());
  EXPECT_EQ(5, i2a_ASN1_INTEGER(out, neg));
  ASN1_STRING_set(s, "\x0a\xbc", 2);
  EXPECT_EQ(4, i2a_ASN1_STRING(out, s, ASN1_UT_OCTET_STRING));
  EXPECT_EQ(4, i2a_ASN1_OBJECT(out, nullptr));
  EXPECT_EQ(10, i2a_ASN1_OBJECT(out, OBJ_nid2obj(13)));
  EXPECT_EQ("-01AB0ABCNULLcommonName", Text(out));
  BIO_free(out);
  ASN1_INTEGER_free(neg);
  ASN1_STRING_free(s);

  ASN1_GENERALIZEDTIME* g = ASN1_GENERALIZEDTIME_set(nullptr, 2524608000);  // 2050-01-01
  ASSERT_NE(nullptr, g);
  EXPECT_EQ("20500101000000Z", std::string(reinterpret_cast<char*>(g->data), g->length));
  out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, ASN1_GENERALIZEDTIME_print(out, g));
  EXPECT_EQ("Jan  1 00:00:00 2050 GMT", Text(out));
  ASN1_STRING_set(g, "2050", 4);
  EXPECT_EQ(0, ASN1_GENERALIZEDTIME_print(out, g));
  ERR_clear_error();
  BIO_free(out);
  ASN1_GENERALIZEDTIME_free(g);
}

// Certificate printers and the DER dump.
TEST(X509Seams, CertificatePrintersAndDump) {
  X509* x = Cert();
  ASSERT_NE(nullptr, x);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, X509_print(out, x));
  const std::string text = Text(out);
  EXPECT_EQ(0u, text.find("Certificate:\n    Data:\n        Version: 3 (0x2)\n"));
  EXPECT_NE(std::string::npos, text.find("        Subject: C=AU, O=Org, CN=a, OU=b\n"));
  BIO_free(out);
  out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, X509_signature_print(out, x->sig_alg, x->signature));
  EXPECT_EQ(0u, Text(out).find("    Signature Algorithm: sha1WithRSAEncryption\n"
                               "        00:01:02:03:"));
  BIO_free(out);
  X509_free(x);

  out = BIO_new(BIO_s_mem());
  const Bytes der = FromHex("3005040361626302");  // a SEQUENCE, then a cut header
  EXPECT_EQ(1, ASN1_parse_dump(out, der.data(), 7, 0, 0));
  EXPECT_NE(std::string::npos, Text(out).find("2:d=1  hl=2 l=   3 prim: OCTET STRING      :abc\n"));
  EXPECT_EQ(0, ASN1_parse_dump(out, der.data(), 8, 0, 0));
  BIO_free(out);
}

// X509_INFO_free releases everything the record holds.
TEST(X509Seams, InfoRecordFreesItsParts) {
  X509_INFO* info = X509_INFO_new();
  ASSERT_NE(nullptr, info);
  info->x509 = Cert();
  info->crl = X509_CRL_new();
  info->x_pkey = X509_PKEY_new();
  ASSERT_NE(nullptr, info->x_pkey);
  info->enc_data = static_cast<char*>(MORVANE_malloc(16));
  info->enc_len = 16;
  X509_INFO_free(info);  // the leak checker sees what is left
  X509_INFO_free(nullptr);
}

// Auxiliary data: alias and key identifier, copied in and lent out.
TEST(X509Seams, AliasAndKeyId) {
  X509* x = X509_new();
  int len = -1;
  EXPECT_EQ(nullptr, X509_alias_get0(x, &len));
  ASSERT_EQ(1, X509_alias_set1(x, reinterpret_cast<const unsigned char*>("me"), 2));
  ASSERT_EQ(1, X509_keyid_set1(x, reinterpret_cast<const unsigned char*>("\x01\x02\x03"), 3));
  unsigned char* a = X509_alias_get0(x, &len);
  EXPECT_EQ("me", std::string(reinterpret_cast<char*>(a), static_cast<size_t>(len)));
  unsigned char* k = X509_keyid_get0(x, &len);
  EXPECT_EQ("010203", ToHex(k, static_cast<size_t>(len)));
  X509_free(x);
}

// Extensions: critical absent means false; a copy is a new structure.
TEST(X509Seams, ExtensionsAndNames) {
  const Bytes der = FromHex("300d0603551d0e0406040401020304");  // subjectKeyIdentifier
  const unsigned char* p = der.data();
  X509_EXTENSION* ext = d2i_X509_EXTENSION(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, ext);
  EXPECT_LE(ext->critical, 0);
  X509_EXTENSION* copy = X509_EXTENSION_dup(ext);
  ASSERT_NE(nullptr, copy);
  EXPECT_NE(ext->value, copy->value);
  EXPECT_EQ(0, ASN1_OCTET_STRING_cmp(ext->value, copy->value));
  X509_EXTENSION_free(copy);
  X509_EXTENSION_free(ext);
  X509_EXTENSION* fresh = X509_EXTENSION_new();
  EXPECT_NE(nullptr, fresh);
  X509_EXTENSION_free(fresh);
  EXPECT_EQ(nullptr, X509_NAME_dup(nullptr));
  X509_REQ* req = X509_REQ_new();
  ASSERT_NE(nullptr, req);
  X509_REQ_free(req);
}

// int_smime_write_ASN1: 64 with data gives multipart/signed with the
// content writer's part first; 1024 the old x- types; 2048 CR LF line ends.
int WritePart(BIO* out, BIO* data, ASN1_VALUE*, int, const ASN1_ITEM*) {
  return SMIME_crlf_copy(data, out, 0x1);
}

TEST(X509Seams, SmimeWriteFlags) {
  struct Case {
    int flags;
    bool data;
    const char* head;
  };
  const Case cases[] = {
      {0, false,
       "MIME-Version: 1.0\nContent-Disposition: attachment; filename=\"smime.p7m\"\n"
       "Content-Type: application/pkcs7-mime; smime-type=enveloped-data;"},
      {1024, false,
       "MIME-Version: 1.0\nContent-Disposition: attachment; filename=\"smime.p7m\"\n"
       "Content-Type: application/x-pkcs7-mime; smime-type=enveloped-data;"},
      {2048, false,
       "MIME-Version: 1.0\r\nContent-Disposition: attachment; filename=\"smime.p7m\"\r\n"},
      {64, true, "MIME-Version: 1.0\nContent-Type: multipart/signed; protocol=\"application/"
                 "pkcs7-signature\"; micalg=\"sha1\"; boundary=\"----"},
      {64 | 1024 | 2048, true,
       "MIME-Version: 1.0\r\nContent-Type: multipart/signed; protocol=\"application/"
       "x-pkcs7-signature\"; micalg=\"sha1\"; boundary=\"----"},
  };
  X509_ALGOR* alg = X509_ALGOR_new();
  X509_ALGOR_set0(alg, OBJ_nid2obj(64), ASN1_UT_NULL, nullptr);  // sha1, NULL
  STACK* mdalgs = sk_new_null();
  sk_push(mdalgs, reinterpret_cast<char*>(alg));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    BIO* out = BIO_new(BIO_s_mem());
    BIO* data = c.data ? BIO_new_mem_buf(const_cast<char*>("hi\n"), -1) : nullptr;
    ASSERT_EQ(1, int_smime_write_ASN1(out, reinterpret_cast<ASN1_VALUE*>(alg), data, c.flags,
                                      c.data ? 22 : 23, 0, mdalgs, WritePart, &X509_ALGOR_it));
    const std::string msg = Text(out);
    EXPECT_EQ(0u, msg.find(c.head)) << msg;
    if (c.data) {
      EXPECT_NE(std::string::npos, msg.find("Content-Type: text/plain\r\n\r\nhi\r\n"));
      // The content comes back through the content stream.
      BIO* in = BIO_new_mem_buf(const_cast<char*>(msg.data()), static_cast<int>(msg.size()));
      BIO* cont = nullptr;
      ASN1_VALUE* back = SMIME_read_ASN1(in, &cont, &X509_ALGOR_it);
      ASSERT_NE(nullptr, back);
      ASSERT_NE(nullptr, cont);
      BIO* text = BIO_new(BIO_s_mem());
      EXPECT_EQ(1, SMIME_text(cont, text));
      EXPECT_EQ("hi\r\n", Text(text));
      BIO_free(text);
      BIO_free(cont);
      BIO_free(in);
      ASN1_item_free(back, &X509_ALGOR_it);
    }
    BIO_free(data);
    BIO_free(out);
  }
  sk_free(mdalgs);
  X509_ALGOR_free(alg);
}

// SMIME_crlf_copy: unchanged with 128, CR LF lines otherwise; SMIME_text
// refuses a type other than text/plain.
TEST(X509Seams, SmimeCopyAndText) {
  struct Case {
    int flags;
    const char* want;
  };
  const Case cases[] = {
      {128, "a\nb\n"},
      {0, "a\r\nb\r\n"},
  };
  for (const Case& c : cases) {
    BIO* in = BIO_new_mem_buf(const_cast<char*>("a\nb\n"), -1);
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(1, SMIME_crlf_copy(in, out, c.flags));
    EXPECT_EQ(c.want, Text(out)) << c.flags;
    BIO_free(in);
    BIO_free(out);
  }
  BIO* in = BIO_new_mem_buf(const_cast<char*>("Content-Type: text/html\n\n<p>\n"), -1);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(0, SMIME_text(in, out));
  ERR_clear_error();
  BIO_free(in);
  BIO_free(out);
}

// ASN1_generate_v3 reads its sections through the context.
TEST(X509Seams, GeneratorReadsSectionsThroughTheContext) {
  CONF* conf = NCONF_new(nullptr);
  const char text[] = "[sect]\na = INTEGER:5\nb = NULL\n";
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text), -1);
  ASSERT_EQ(1, NCONF_load_bio(conf, in, nullptr));
  BIO_free(in);
  X509V3_CTX ctx = {};
  X509V3_set_nconf(&ctx, conf);
  ASN1_TYPE* t = ASN1_generate_v3("SEQUENCE:sect", &ctx);
  ASSERT_NE(nullptr, t);
  unsigned char* der = nullptr;
  const int n = i2d_ASN1_TYPE(t, &der);
  EXPECT_EQ("300502010505" "00", ToHex(der, n > 0 ? static_cast<size_t>(n) : 0));
  MORVANE_free(der);
  ASN1_TYPE_free(t);
  EXPECT_EQ(nullptr, ASN1_generate_v3("SEQUENCE:sect", nullptr));
  ERR_clear_error();
  NCONF_free(conf);
}

// Numbers: ENUMERATED, INTEGER comparison and copy, the LONG, ZLONG, BIGNUM
// and CBIGNUM items, and the aux callback's free operation.
TEST(X509Seams, NumbersAndPrimitiveItems) {
  ASN1_ENUMERATED* e = ASN1_ENUMERATED_new();
  ASSERT_EQ(1, ASN1_ENUMERATED_set(e, -7));
  EXPECT_EQ(-7, ASN1_ENUMERATED_get(e));
  BIGNUM* bn = ASN1_ENUMERATED_to_BN(e, nullptr);
  EXPECT_TRUE(BN_is_negative(bn));
  BN_free(bn);
  ASN1_ENUMERATED_free(e);

  ASN1_INTEGER* a = ASN1_INTEGER_new();
  ASN1_INTEGER_set(a, -5);
  ASN1_INTEGER* b = ASN1_INTEGER_dup(a);
  EXPECT_EQ(0, ASN1_INTEGER_cmp(a, b));
  ASN1_INTEGER_set(b, 3);
  EXPECT_LT(ASN1_INTEGER_cmp(a, b), 0);
  // No data: 0; another type: -1.
  ASN1_INTEGER* empty = ASN1_INTEGER_new();
  EXPECT_EQ(0, ASN1_INTEGER_get(empty));
  a->type = ASN1_UT_ENUMERATED;
  EXPECT_EQ(-1, ASN1_INTEGER_get(a));
  ASN1_INTEGER_free(empty);
  ASN1_INTEGER_free(a);
  ASN1_INTEGER_free(b);

  g_seam_ops = 0;
  auto* v = reinterpret_cast<SeamNums*>(ASN1_item_new(&SeamNums_it));
  ASSERT_NE(nullptr, v);
  v->l = 300;
  v->z = 0;
  BN_set_word(v->b, 128);
  BN_set_word(v->c, 1);
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(v), &der, &SeamNums_it);
  EXPECT_EQ("300b0202012c020200800201" "01", ToHex(der, n > 0 ? static_cast<size_t>(n) : 0));
  MORVANE_free(der);
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), &SeamNums_it);
  EXPECT_NE(0, g_seam_ops & (1 << ASN1_CBOP_FREE_POST));
}

// Strings: the empty OCTET STRING, text lengths with -1 and the terminating
// zero, BIT STRING data, NULL and IA5String values, built-in objects left
// alone by ASN1_OBJECT_free.
TEST(X509Seams, StringBasics) {
  for (int type : {2, 3, 4, 22, 26}) {
    ASN1_STRING* t = ASN1_STRING_type_new(type);
    EXPECT_EQ(type, t->type);
    ASN1_STRING_free(t);
  }
  ASN1_STRING* s = ASN1_STRING_new();
  EXPECT_EQ(ASN1_UT_OCTET_STRING, s->type);
  ASSERT_EQ(1, ASN1_STRING_set(s, "abc", -1));
  EXPECT_EQ(3, s->length);
  EXPECT_EQ(0, ASN1_STRING_data(s)[3]);
  ASN1_OCTET_STRING* d = ASN1_OCTET_STRING_dup(s);
  EXPECT_EQ(0, ASN1_OCTET_STRING_cmp(s, d));
  d->type = ASN1_UT_IA5STRING;  // same octets: the type decides
  EXPECT_NE(0, ASN1_STRING_cmp(s, d));
  ASN1_OCTET_STRING_free(d);
  ASN1_STRING_free(s);
  ASN1_BIT_STRING* bs = ASN1_BIT_STRING_new();
  unsigned char bits[] = {0x80, 0x01};
  ASSERT_EQ(1, ASN1_BIT_STRING_set(bs, bits, 2));
  EXPECT_EQ(1, ASN1_BIT_STRING_get_bit(bs, 15));
  ASN1_BIT_STRING_free(bs);
  ASN1_IA5STRING* ia5 = ASN1_IA5STRING_new();
  EXPECT_EQ(ASN1_UT_IA5STRING, ia5->type);
  ASN1_STRING_free(ia5);
  ASN1_NULL* null = ASN1_NULL_new();
  EXPECT_NE(nullptr, null);
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(null), &ASN1_NULL_it);
  ASN1_OBJECT* cn = OBJ_nid2obj(13);
  ASN1_OBJECT_free(cn);
  EXPECT_EQ(13, OBJ_obj2nid(OBJ_nid2obj(13)));
  EXPECT_EQ(cn, OBJ_nid2obj(13));
  ASN1_OBJECT_free(nullptr);
  ASN1_INTEGER_free(nullptr);
  ASN1_BIT_STRING_free(nullptr);
}

// The template encoder writes a SET OF sorted by encoding and leaves the
// stack as it was: an attribute holding INTEGER 300, then 5.
TEST(X509Seams, TemplateSetOfIsSorted) {
  ASN1_INTEGER* big = ASN1_INTEGER_new();
  ASN1_INTEGER_set(big, 300);
  X509_ATTRIBUTE* at = X509_ATTRIBUTE_create(156, ASN1_UT_INTEGER, big);
  ASSERT_NE(nullptr, at);
  ASN1_TYPE* small = ASN1_TYPE_new();
  ASN1_INTEGER* five = ASN1_INTEGER_new();
  ASN1_INTEGER_set(five, 5);
  ASN1_TYPE_set(small, ASN1_UT_INTEGER, five);
  sk_push(at->value.set, reinterpret_cast<char*>(small));
  unsigned char* der = nullptr;
  const int n = i2d_X509_ATTRIBUTE(at, &der);
  // friendlyName, 1.2.840.113549.1.9.20 (RFC 2985, 5.5.1)
  EXPECT_EQ("301406092a864886f70d0109143107020105" "0202012c",
            ToHex(der, n > 0 ? static_cast<size_t>(n) : 0));
  EXPECT_EQ(reinterpret_cast<char*>(small), sk_value(at->value.set, 1));
  MORVANE_free(der);
  X509_ATTRIBUTE_free(at);
  ASN1_GENERALIZEDTIME* g = ASN1_GENERALIZEDTIME_new();
  EXPECT_EQ(ASN1_UT_GENERALIZEDTIME, g->type);
  ASN1_GENERALIZEDTIME_free(g);
}

// ASN1_TYPE_set keeps the value it is given; i2d_ASN1_TYPE writes it.
TEST(X509Seams, TypeSetWithoutCopy) {
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_INTEGER* i = ASN1_INTEGER_new();
  ASN1_INTEGER_set(i, 5);
  ASN1_TYPE_set(t, ASN1_UT_INTEGER, i);
  EXPECT_EQ(i, t->value.integer);
  unsigned char out[8];
  unsigned char* p = out;
  EXPECT_EQ(3, i2d_ASN1_TYPE(t, &p));
  EXPECT_EQ("020105", ToHex(out, 3));
  ASN1_TYPE_free(t);
}

// d2i_ASN1_SET: a SET OF back into a new stack.
TEST(X509Seams, SetDecode) {
  const Bytes der = FromHex("31070201050202012c");
  const unsigned char* p = der.data();
  STACK* sk = d2i_ASN1_SET(nullptr, &p, static_cast<long>(der.size()),
                           reinterpret_cast<d2i_of_void*>(d2i_ASN1_INTEGER),
                           reinterpret_cast<void (*)(void*)>(ASN1_INTEGER_free), ASN1_UT_SET,
                           ASN1_CLASS_UNIVERSAL);
  ASSERT_NE(nullptr, sk);
  ASSERT_EQ(2, sk_num(sk));
  EXPECT_EQ(300, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sk_value(sk, 1))));
  sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(ASN1_INTEGER_free));
}

// Streams: one DER object read from and written to a BIO and a FILE, through
// the template and through the function pairs.
TEST(X509Seams, StreamCoders) {
  const Bytes der = FromHex("300906052b0e03021a0500");
  BIO* in = BIO_new_mem_buf(const_cast<unsigned char*>(der.data()), static_cast<int>(der.size()));
  void* a = ASN1_item_d2i_bio(&X509_ALGOR_it, in, nullptr);
  ASSERT_NE(nullptr, a);
  BIO_free(in);
  in = BIO_new_mem_buf(const_cast<unsigned char*>(der.data()), static_cast<int>(der.size()));
  void* b = ASN1_d2i_bio(reinterpret_cast<void* (*)()>(X509_ALGOR_new),
                         reinterpret_cast<d2i_of_void*>(d2i_X509_ALGOR), in, nullptr);
  ASSERT_NE(nullptr, b);
  BIO_free(in);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, ASN1_item_i2d_bio(&X509_ALGOR_it, out, a));
  EXPECT_EQ(1, ASN1_i2d_bio(reinterpret_cast<i2d_of_void*>(i2d_X509_ALGOR), out, b));
  EXPECT_EQ(ToHex(der) + ToHex(der), ToHex(reinterpret_cast<const unsigned char*>(Text(out).data()),
                                           Text(out).size()));
  BIO_free(out);

  morvane_test::TempPath path;
  FILE* fp = fopen(path.c_str(), "wb");
  EXPECT_EQ(1, ASN1_item_i2d_fp(&X509_ALGOR_it, fp, a));
  EXPECT_EQ(1, ASN1_i2d_fp(reinterpret_cast<i2d_of_void*>(i2d_X509_ALGOR), fp, b));
  fclose(fp);
  fp = fopen(path.c_str(), "rb");
  void* c = ASN1_item_d2i_fp(&X509_ALGOR_it, fp, nullptr);
  void* d = ASN1_d2i_fp(reinterpret_cast<void* (*)()>(X509_ALGOR_new),
                        reinterpret_cast<d2i_of_void*>(d2i_X509_ALGOR), fp, nullptr);
  fclose(fp);
  EXPECT_NE(nullptr, c);
  EXPECT_NE(nullptr, d);
  for (void* v : {a, b, c, d}) X509_ALGOR_free(static_cast<X509_ALGOR*>(v));
}

// Identifiers and attributes: X509_ALGOR_dup, the PKCS#5 v2 identifier,
// attribute copies, the indefinite-length encoder.
TEST(X509Seams, IdentifiersAndCopies) {
  X509_ALGOR* a = X509_ALGOR_new();
  X509_ALGOR_set0(a, OBJ_nid2obj(64), ASN1_UT_NULL, nullptr);
  X509_ALGOR* b = X509_ALGOR_dup(a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  EXPECT_EQ(64, OBJ_obj2nid(b->algorithm));
  X509_ALGOR_free(b);
  X509_ALGOR_free(a);

  // PBES2 with PBKDF2 (RFC 8018, A.2 and A.4): iterations below 1 mean 2048,
  // salt length 0 means 8.
  X509_ALGOR* pbe2 = PKCS5_pbe2_set(EVP_des_ede3_cbc(), 0, nullptr, 0);
  ASSERT_NE(nullptr, pbe2);
  EXPECT_EQ(161, OBJ_obj2nid(pbe2->algorithm));
  ASN1_STRING* seq = pbe2->parameter->value.sequence;
  const unsigned char* p = seq->data;
  PBE2PARAM* pbe2param = d2i_PBE2PARAM(nullptr, &p, seq->length);
  ASSERT_NE(nullptr, pbe2param);
  seq = pbe2param->keyfunc->parameter->value.sequence;
  p = seq->data;
  PBKDF2PARAM* kdf = d2i_PBKDF2PARAM(nullptr, &p, seq->length);
  ASSERT_NE(nullptr, kdf);
  EXPECT_EQ(2048, ASN1_INTEGER_get(kdf->iter));
  EXPECT_EQ(8, kdf->salt->value.octet_string->length);
  PBKDF2PARAM_free(kdf);
  PBE2PARAM_free(pbe2param);
  X509_ALGOR_free(pbe2);

  ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
  X509_ATTRIBUTE* at = X509_ATTRIBUTE_create(156, ASN1_UT_OCTET_STRING, v);
  X509_ATTRIBUTE* copy = X509_ATTRIBUTE_dup(at);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(1, sk_num(copy->value.set));
  X509_ATTRIBUTE_free(copy);
  X509_ATTRIBUTE_free(at);
  X509_ATTRIBUTE* empty = X509_ATTRIBUTE_new();
  EXPECT_NE(nullptr, empty);
  X509_ATTRIBUTE_free(empty);

  X509_NAME_ENTRY* ne = X509_NAME_ENTRY_new();
  EXPECT_NE(nullptr, ne);
  X509_NAME_ENTRY_free(ne);
  ne = X509_NAME_ENTRY_create_by_txt(nullptr, "CN", ASN1_MB_ASCII,
                                     reinterpret_cast<const unsigned char*>("a"), -1);
  ASSERT_NE(nullptr, ne);
  X509_NAME_ENTRY* ne2 = X509_NAME_ENTRY_dup(ne);
  ASSERT_NE(nullptr, ne2);
  EXPECT_EQ(0, ASN1_STRING_cmp(ne->value, ne2->value));
  X509_NAME_ENTRY_free(ne2);
  X509_NAME_ENTRY_free(ne);

  // Items without streamed parts encode as DER.
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>("x"), 1);
  unsigned char* der = nullptr;
  const int n = ASN1_item_ndef_i2d(reinterpret_cast<ASN1_VALUE*>(s), &der, &ASN1_OCTET_STRING_it);
  EXPECT_EQ("040178", ToHex(der, n > 0 ? static_cast<size_t>(n) : 0));
  MORVANE_free(der);
  ASN1_OCTET_STRING_free(s);
}

}  // namespace
