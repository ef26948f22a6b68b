// Makes seeds of the container fuzzers with the keys of fixed_keys.h:
//   pkcs7:     signed data with DSA and EC signers whose records name MD5,
//              SHA-1, SHA-256 or SHA-384 (the signature made over SHA-1;
//              verification reaches the signer's digest either way), with
//              and without signed attributes; enveloped and
//              signed-and-enveloped data to the fixed recipient, one key
//              block with bad padding; the fuzzer's own signing inputs;
//              signed data over content of another type (a SEQUENCE,
//              nested signed data, a value of indefinite length), with a
//              contentType that does not name the content's type or none,
//              and with a digest list that names its digests many times;
//   smime_pkcs7: some of those as S/MIME text;
//   pkcs12:    PFX files under "pw" with a shrouded key nested in
//              safe-contents bags, with an enveloped-data safe, and one
//              under no password;
//   pem_typed: a certificate, a trusted certificate, a revocation list and a
//              PKCS#7 message in PEM;
//   rsa_der:   Netscape records of the recipient key in both forms.
// Run by hand from the fuzz build folder (not part of the tests):
//   ./fuzz/container_seeds ../../fuzz/corpus

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "fixed_keys.h"
#include "fuzz_der.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string root;

void Write(const std::string& dir, const std::string& name, const Bytes& b) {
  const std::string path = root + "/" + dir + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr || fwrite(b.data(), 1, b.size(), f) != b.size()) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    exit(1);
  }
  fclose(f);
  printf("%s (%zu bytes)\n", path.c_str(), b.size());
}

Bytes MemBytes(BIO* b) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  return Bytes(p, p + (n > 0 ? n : 0));
}

Bytes Der(PKCS7* p7) { return DerOf(i2d_PKCS7, p7); }
Bytes Der(PKCS12* p12) { return DerOf(i2d_PKCS12, p12); }

void Require(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "failed: %s\n", what);
    ERR_print_errors_fp(stderr);
    exit(1);
  }
}

int Produce(PKCS7* p7, const std::string& content) {
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  if (chain == nullptr) return 0;
  BIO_write(chain, content.data(), static_cast<int>(content.size()));
  BIO_flush(chain);
  const int r = PKCS7_dataFinal(p7, chain);
  BIO_free_all(chain);
  return r;
}

void NameDigest(PKCS7* p7, int nid) {
  auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(p7->d.sign->signer_info, 0));
  X509_ALGOR* algs[] = {si->digest_alg,
                        reinterpret_cast<X509_ALGOR*>(sk_value(p7->d.sign->md_algs, 0))};
  for (X509_ALGOR* a : algs) {
    ASN1_OBJECT_free(a->algorithm);
    a->algorithm = OBJ_nid2obj(nid);
  }
}

// Signed data by the EC or DSA key whose record names `digest` (the
// messageDigest attribute, when there are attributes, of that digest).
Bytes SignedNaming(bool ec, int digest, bool attributes) {
  EVP_PKEY* key = ec ? fuzz_keys::EcKey() : fuzz_keys::DsaKey();
  X509* cert = fuzz_keys::CertFor(key, ec ? "Fuzz EC signer" : "Fuzz DSA signer", ec ? 2 : 3);
  const std::string content(124, 'T');
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 22);
  PKCS7_content_new(p7, 21);
  PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, cert, key, EVP_sha1());
  Require(si != nullptr, "signer");
  PKCS7_add_certificate(p7, cert);
  if (attributes) PKCS7_add_signed_attribute(si, 50, ASN1_UT_OBJECT, OBJ_nid2obj(21));
  Require(Produce(p7, content) == 1, "signing");
  NameDigest(p7, digest);
  if (attributes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(content.data(), content.size(), md, &n,
               EVP_get_digestbyname(OBJ_nid2sn(digest)), nullptr);
    ASN1_OCTET_STRING_set(PKCS7_digest_from_attributes(si->auth_attr), md, static_cast<int>(n));
  }
  const Bytes der = Der(p7);
  PKCS7_free(p7);
  X509_free(cert);
  return der;
}

void Pkcs7Seeds() {
  struct {
    const char* name;
    bool ec;
    int digest;
    bool attributes;
  } signed_rows[] = {
      {"signed_ec_sha1", true, 64, false},       {"signed_ec_sha256", true, 672, false},
      {"signed_ec_sha384", true, 673, false},    {"signed_ec_md5", true, 4, false},
      {"signed_dsa_sha1_attrs", false, 64, true}, {"signed_dsa_sha256", false, 672, false},
      {"signed_ec_sha256_attrs", true, 672, true},
  };
  for (const auto& r : signed_rows) Write("pkcs7", r.name, SignedNaming(r.ec, r.digest, r.attributes));

  // A recipient of another key: the fixed key does not open its block.
  EVP_PKEY* other_key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(other_key, RSA_generate_key(512, 65537, nullptr, nullptr));
  X509* other = fuzz_keys::CertFor(other_key, "Fuzz other recipient", 4);
  struct {
    const char* name;
    int type;
    const EVP_CIPHER* (*cipher)();
    bool other_first;
    bool bad_padding;
  } enveloped_rows[] = {
      {"enveloped_recipient_des3", 23, EVP_des_ede3_cbc, false, false},
      {"enveloped_recipient_aes", 23, EVP_aes_128_cbc, true, false},
      {"enveloped_recipient_rc2", 23, EVP_rc2_40_cbc, false, false},
      {"enveloped_bad_padding", 23, EVP_aes_128_cbc, false, true},
      {"signed_enveloped_recipient", 24, EVP_des_ede3_cbc, false, false},
  };
  for (const auto& r : enveloped_rows) {
    PKCS7* p7 = PKCS7_new();
    PKCS7_set_type(p7, r.type);
    Require(PKCS7_set_cipher(p7, r.cipher()) == 1, "cipher");
    if (r.type == 24)
      Require(PKCS7_add_signature(p7, fuzz_keys::RecipientCert(), fuzz_keys::RecipientKey(),
                                  EVP_sha1()) != nullptr,
              "signer");
    if (r.other_first) Require(PKCS7_add_recipient(p7, other) != nullptr, "other recipient");
    Require(PKCS7_add_recipient(p7, fuzz_keys::RecipientCert()) != nullptr, "recipient");
    Require(Produce(p7, "Seed content\r\n") == 1, "enveloping");
    if (r.bad_padding) {
      STACK* rsk = r.type == 23 ? p7->d.enveloped->recipientinfo
                                : p7->d.signed_and_enveloped->recipientinfo;
      auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, 0));
      RSA* rsa = fuzz_keys::RecipientKey()->pkey.rsa;
      Bytes block(static_cast<size_t>(RSA_size(rsa)), 0x5a);
      block[0] = 0;
      block[1] = 1;  // type 1: not a type-2 block
      Bytes enc(block.size());
      Require(RSA_public_encrypt(static_cast<int>(block.size()), block.data(), enc.data(), rsa,
                                 RSA_NO_PADDING) == static_cast<int>(block.size()),
              "raw block");
      ASN1_OCTET_STRING_set(ri->enc_key, enc.data(), static_cast<int>(enc.size()));
    }
    Write("pkcs7", r.name, Der(p7));
    PKCS7_free(p7);
  }
  X509_free(other);
  EVP_PKEY_free(other_key);
  const std::string content = "signed by the fuzzer";
  Bytes sign_ec = {0xEC, 3};
  sign_ec.insert(sign_ec.end(), content.begin(), content.end());
  Write("pkcs7", "sign_ec_sha256", sign_ec);
  Bytes sign_dsa = {0xD5, 1};
  sign_dsa.insert(sign_dsa.end(), content.begin(), content.end());
  Write("pkcs7", "sign_dsa_sha1", sign_dsa);
}

// An inner content of type `oid` holding the DER value `value`.
PKCS7* OtherContent(const char* oid, const Bytes& value) {
  const unsigned char* p = value.data();
  ASN1_TYPE* t = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(value.size()));
  Require(t != nullptr, "content value");
  PKCS7* inner = PKCS7_new();
  PKCS7_set0_type_other(inner, 0, t);
  ASN1_OBJECT_free(inner->type);
  inner->type = OBJ_txt2obj(oid, 1);
  return inner;
}

// Signed data by the recipient's key (SHA-1) over `inner`, which sits in the
// message: the chain is read to its end before the final.  With
// `attributes` the signer starts with signingTime, and the final adds
// contentType and messageDigest.
PKCS7* SignedOver(PKCS7* inner, bool attributes) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 22);
  PKCS7_set_content(p7, inner);
  PKCS7_SIGNER_INFO* si =
      PKCS7_add_signature(p7, fuzz_keys::RecipientCert(), fuzz_keys::RecipientKey(), EVP_sha1());
  Require(si != nullptr, "signer");
  PKCS7_add_certificate(p7, fuzz_keys::RecipientCert());
  if (attributes)
    PKCS7_add_signed_attribute(si, 52, ASN1_UT_UTCTIME, ASN1_UTCTIME_set(nullptr, 1577836800));
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  Require(chain != nullptr, "chain");
  char buf[256];
  while (BIO_read(chain, buf, sizeof buf) > 0) {
  }
  Require(PKCS7_dataFinal(p7, chain) == 1, "signing");
  BIO_free_all(chain);
  return p7;
}

PKCS7_SIGNER_INFO* FirstSigner(PKCS7* p7) {
  return reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(p7->d.sign->signer_info, 0));
}

// Signs the first signer's attributes again, after a seed changed them.
void Resign(PKCS7* p7) {
  PKCS7_SIGNER_INFO* si = FirstSigner(p7);
  unsigned char* der = nullptr;
  const int n =
      ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &der, &PKCS7_ATTR_SIGN_it);
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  unsigned char sig[256];
  unsigned int len = 0;
  Require(n > 0 && EVP_SignInit_ex(&ctx, EVP_sha1(), nullptr) &&
              EVP_SignUpdate(&ctx, der, static_cast<size_t>(n)) &&
              EVP_SignFinal(&ctx, sig, &len, fuzz_keys::RecipientKey()),
          "attributes signed again");
  EVP_MD_CTX_cleanup(&ctx);
  MORVANE_free(der);
  ASN1_STRING_set(si->enc_digest, sig, static_cast<int>(len));
}

Bytes MimeOf(PKCS7* p7) {
  BIO* b = BIO_new(BIO_s_mem());
  Require(SMIME_write_PKCS7(b, p7, nullptr, PKCS7_FLAG_BINARY) == 1, "S/MIME text");
  const Bytes text = MemBytes(b);
  BIO_free(b);
  return text;
}

void SignedContentSeeds() {
  // SEQUENCE { UTF8String "seed" }, and the same with an indefinite length.
  const Bytes sequence = {0x30, 0x06, 0x0c, 0x04, 's', 'e', 'e', 'd'};
  const Bytes indefinite = {0x30, 0x80, 0x0c, 0x04, 's', 'e', 'e', 'd', 0, 0};
  PKCS7* p7 = SignedOver(OtherContent("1.2.3.4.5", sequence), true);
  Write("pkcs7", "signed_other_sequence", Der(p7));
  Write("smime_pkcs7", "signed_other_sequence", MimeOf(p7));
  // The attributes without contentType: they bind no type to the content.
  PKCS7_SIGNER_INFO* si = FirstSigner(p7);
  for (int i = 0; i < sk_num(si->auth_attr); i++) {
    auto* a = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i));
    if (OBJ_obj2nid(a->object) == 50) {
      X509_ATTRIBUTE_free(reinterpret_cast<X509_ATTRIBUTE*>(sk_delete(si->auth_attr, i)));
      break;
    }
  }
  Resign(p7);
  Write("pkcs7", "signed_other_no_content_type", Der(p7));
  PKCS7_free(p7);

  p7 = SignedOver(OtherContent("1.2.3.4.5", sequence), false);
  Write("pkcs7", "signed_other_sequence_noattr", Der(p7));
  PKCS7_set_content(p7, OtherContent("1.2.3.4.5", indefinite));
  Write("pkcs7", "signed_other_indefinite", Der(p7));
  PKCS7_free(p7);

  BIO* in = BIO_new_mem_buf(const_cast<char*>("Seed content\r\n"), -1);
  PKCS7* inner = PKCS7_sign(fuzz_keys::RecipientCert(), fuzz_keys::RecipientKey(), nullptr, in,
                            PKCS7_FLAG_BINARY);
  BIO_free(in);
  Require(inner != nullptr, "inner message");
  PKCS7* copy = PKCS7_dup(inner);
  p7 = SignedOver(inner, true);
  Write("pkcs7", "signed_nested", Der(p7));
  PKCS7_free(p7);

  // The data content of a signer with attributes given another type.
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_TYPE_set(t, ASN1_UT_OCTET_STRING, copy->d.sign->contents->d.data);
  ASN1_OBJECT_free(copy->d.sign->contents->type);
  copy->d.sign->contents->type = OBJ_txt2obj("1.2.840.113549.1.7.99", 1);
  copy->d.sign->contents->d.other = t;
  Write("pkcs7", "signed_retyped", Der(copy));
  Write("smime_pkcs7", "signed_retyped", MimeOf(copy));
  PKCS7_free(copy);

  // A digest list naming SHA-1 and MD5 a hundred times each.
  in = BIO_new_mem_buf(const_cast<char*>("Seed content\r\n"), -1);
  p7 = PKCS7_sign(fuzz_keys::RecipientCert(), fuzz_keys::RecipientKey(), nullptr, in,
                  PKCS7_FLAG_BINARY | PKCS7_FLAG_NO_CAPABILITIES);
  BIO_free(in);
  Require(p7 != nullptr, "signed message");
  STACK* md_algs = p7->d.sign->md_algs;
  X509_ALGOR* md5 = X509_ALGOR_dup(reinterpret_cast<X509_ALGOR*>(sk_value(md_algs, 0)));
  ASN1_OBJECT_free(md5->algorithm);
  md5->algorithm = OBJ_nid2obj(4);
  sk_push(md_algs, reinterpret_cast<char*>(md5));
  for (int i = 2; i < 200; i++)
    sk_push(md_algs, reinterpret_cast<char*>(
                         X509_ALGOR_dup(reinterpret_cast<X509_ALGOR*>(sk_value(md_algs, i % 2)))));
  Write("pkcs7", "signed_repeated_digests", Der(p7));
  Write("smime_pkcs7", "signed_repeated_digests", MimeOf(p7));
  PKCS7_free(p7);
}

void FreeBag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void FreeSafe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}

void Pkcs12Seeds() {
  EVP_PKEY* key = fuzz_keys::RecipientKey();
  X509* cert = fuzz_keys::RecipientCert();
  unsigned char id[] = {1, 2, 3, 4};

  // A shrouded key two safe-contents bags deep.
  STACK* outer = nullptr;
  PKCS12_SAFEBAG* cert_bag = PKCS12_add_cert(&outer, cert);
  PKCS12_add_localkeyid(cert_bag, id, sizeof id);
  STACK* inner = nullptr;
  PKCS12_SAFEBAG* key_bag = PKCS12_add_key(&inner, key, 0, 2, 149, const_cast<char*>("pw"));
  Require(key_bag != nullptr, "key bag");
  PKCS12_add_localkeyid(key_bag, id, sizeof id);
  for (int level = 0; level < 2; level++) {
    PKCS12_SAFEBAG* nest = PKCS12_SAFEBAG_new();
    ASN1_OBJECT_free(nest->type);
    nest->type = OBJ_nid2obj(155);
    nest->value.safes = inner;
    inner = sk_new_null();
    sk_push(inner, reinterpret_cast<char*>(nest));
  }
  sk_push(outer, sk_pop(inner));
  sk_free(inner);
  STACK* safes = nullptr;
  Require(PKCS12_add_safe(&safes, outer, 0, 2, const_cast<char*>("pw")) == 1, "safe");
  sk_pop_free(outer, FreeBag);
  PKCS12* p12 = PKCS12_add_safes(safes, 0);
  sk_pop_free(safes, FreeSafe);
  Require(p12 != nullptr && PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 1, nullptr) == 1, "mac");
  Write("pkcs12", "nested_shrouded_key", Der(p12));
  PKCS12_free(p12);

  // An enveloped-data safe beside the usual two.
  p12 = PKCS12_create(const_cast<char*>("pw"), const_cast<char*>("seed"), key, cert, nullptr, 0,
                      0, 2, 1, 0);
  Require(p12 != nullptr, "create");
  PKCS7* env = PKCS7_new();
  PKCS7_set_type(env, 23);
  PKCS7_set_cipher(env, EVP_des_ede3_cbc());
  PKCS7_add_recipient(env, cert);
  Require(Produce(env, "not a safe anyone can open with a password") == 1, "enveloped safe");
  safes = PKCS12_unpack_authsafes(p12);
  sk_push(safes, reinterpret_cast<char*>(env));
  Require(PKCS12_pack_authsafes(p12, safes) == 1, "safes");
  sk_pop_free(safes, FreeSafe);
  Require(PKCS12_set_mac(p12, "pw", -1, nullptr, 0, 1, nullptr) == 1, "mac");
  Write("pkcs12", "enveloped_safe", Der(p12));
  PKCS12_free(p12);

  // No password at all.
  p12 = PKCS12_create(nullptr, nullptr, key, cert, nullptr, 0, 0, 2, 1, 0);
  Require(p12 != nullptr, "create without password");
  Write("pkcs12", "null_password", Der(p12));
  PKCS12_free(p12);
}

void PemSeeds() {
  EVP_PKEY* key = fuzz_keys::RecipientKey();
  X509* cert = fuzz_keys::CertFor(key, "Fuzz PEM", 5, key);
  BIO* b = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(b, cert);
  Write("pem_typed", "certificate", MemBytes(b));
  BIO_free(b);

  X509_alias_set1(cert, reinterpret_cast<const unsigned char*>("seed"), -1);
  X509_add1_trust_object(cert, OBJ_nid2obj(130));  // serverAuth
  b = BIO_new(BIO_s_mem());
  PEM_write_bio_X509_AUX(b, cert);
  Write("pem_typed", "trusted_certificate", MemBytes(b));
  BIO_free(b);

  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(cert));
  ASN1_TIME* t = ASN1_TIME_set(nullptr, 1577836800);
  X509_CRL_set_lastUpdate(crl, t);
  X509_CRL_set_nextUpdate(crl, t);
  X509_REVOKED* rev = X509_REVOKED_new();
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  ASN1_INTEGER_set(serial, 7);
  X509_REVOKED_set_serialNumber(rev, serial);
  X509_REVOKED_set_revocationDate(rev, t);
  X509_CRL_add0_revoked(crl, rev);
  Require(X509_CRL_sign(crl, key, EVP_sha1()) > 0, "crl");
  b = BIO_new(BIO_s_mem());
  PEM_write_bio_X509_CRL(b, crl);
  Write("pem_typed", "crl", MemBytes(b));
  BIO_free(b);
  ASN1_INTEGER_free(serial);
  ASN1_TIME_free(t);
  X509_CRL_free(crl);

  BIO* in = BIO_new_mem_buf(const_cast<char*>("Seed content\r\n"), -1);
  PKCS7* p7 = PKCS7_sign(cert, key, nullptr, in, PKCS7_FLAG_BINARY);
  Require(p7 != nullptr, "pkcs7");
  b = BIO_new(BIO_s_mem());
  PEM_write_bio_PKCS7(b, p7);
  Write("pem_typed", "pkcs7", MemBytes(b));
  BIO_free(b);
  PKCS7_free(p7);
  BIO_free(in);
  X509_free(cert);
}

int SeedPass(char* buf, int len, const char*, int) {
  snprintf(buf, static_cast<size_t>(len), "%s", "fuzz pass phrase");
  return 0;
}

void RsaDerSeeds() {
  RSA* rsa = fuzz_keys::RecipientKey()->pkey.rsa;
  for (int sgckey : {0, 1}) {
    const int n = i2d_RSA_NET(rsa, nullptr, SeedPass, sgckey);
    Bytes record(static_cast<size_t>(n));
    unsigned char* p = record.data();
    Require(n > 0 && i2d_RSA_NET(rsa, &p, SeedPass, sgckey) == n, "netscape");
    record.insert(record.begin(), {5, static_cast<unsigned char>(sgckey)});
    Write("rsa_der", sgckey ? "netscape_salted" : "netscape", record);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS_ROOT\n", argv[0]);
    return 2;
  }
  root = argv[1];
  Morvane_add_all_ciphers();
  Morvane_add_all_digests();
  Pkcs7Seeds();
  SignedContentSeeds();
  Pkcs12Seeds();
  PemSeeds();
  RsaDerSeeds();
  return 0;
}
