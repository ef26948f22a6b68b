// Makes the signed seeds of fuzz/corpus/ocsp: a test CA (RSA 512, SHA-1,
// "CN=Fuzz OCSP CA") and a delegated responder with the OCSPSigning key
// purpose, responses signed by each (by name and by key, one and two hash
// algorithms, no single response) and signed requests.  The CA
// certificate's DER is printed in hex: ocsp_fuzz.cc holds it as the root of
// its fixed store, so that these seeds verify there.  Run it again and both
// change together:
//   ./fuzz/ocsp_seeds ../../fuzz/corpus/ocsp > ca.hex
// (built in the fuzz folder; not part of the tests).

#include <stdio.h>
#include <string.h>

#include <string>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "fixed_keys.h"

namespace {

EVP_PKEY* NewKey() {
  RSA* rsa = RSA_new();
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  RSA_generate_key_ex(rsa, 512, e, nullptr);
  BN_free(e);
  EVP_PKEY* pk = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pk, rsa);
  return pk;
}

void AddExt(X509* x, int nid, const unsigned char* der, int len) {
  ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(v, der, len);
  X509_EXTENSION* ex = X509_EXTENSION_create_by_NID(nullptr, nid, nid == 87, v);
  X509_add_ext(x, ex, -1);
  X509_EXTENSION_free(ex);
  ASN1_OCTET_STRING_free(v);
}

X509* MakeCert(const char* cn, const char* issuer_cn, long serial, EVP_PKEY* key,
               EVP_PKEY* issuer_key, bool ca) {
  X509* x = fuzz_keys::UnsignedCert(key, cn, issuer_cn, serial);
  // basicConstraints cA TRUE; extKeyUsage id-kp-OCSPSigning (RFC 5280).
  static const unsigned char kCa[] = {0x30, 0x03, 0x01, 0x01, 0xff};
  static const unsigned char kOcspSign[] = {0x30, 0x0a, 0x06, 0x08, 0x2b, 0x06,
                                            0x01, 0x05, 0x05, 0x07, 0x03, 0x09};
  if (ca)
    AddExt(x, 87, kCa, sizeof kCa);
  else
    AddExt(x, 126, kOcspSign, sizeof kOcspSign);
  X509_sign(x, issuer_key, EVP_sha1());
  return x;
}

template <class T>
void Write(const std::string& path, T* obj, int (*i2d)(T*, unsigned char**)) {
  unsigned char* der = nullptr;
  const int n = i2d(obj, &der);
  FILE* f = fopen(path.c_str(), "wb");
  if (f != nullptr && n > 0) fwrite(der, 1, static_cast<size_t>(n), f);
  if (f != nullptr) fclose(f);
  CRYPTO_free(der);
}

struct Id {
  const EVP_MD* md;
  long serial;
};

void Response(const std::string& path, X509* ca, X509* signer, EVP_PKEY* key,
              std::initializer_list<Id> ids, unsigned long flags) {
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  ASN1_TIME* next = X509_gmtime_adj(nullptr, 86400L * 365 * 50);
  for (const Id& id : ids) {
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, id.serial);
    OCSP_CERTID* cid = OCSP_cert_id_new(id.md, X509_get_subject_name(ca),
                                        X509_get0_pubkey_bitstr(ca), serial);
    OCSP_basic_add1_status(bs, cid, id.serial == 7 ? 1 : 0, id.serial == 7 ? 1 : -1, now, now,
                           next);
    OCSP_CERTID_free(cid);
    ASN1_INTEGER_free(serial);
  }
  OCSP_basic_add1_nonce(bs, nullptr, 0);
  OCSP_basic_sign(bs, signer, key, EVP_sha1(), nullptr, flags);
  OCSP_RESPONSE* r = OCSP_response_create(0, bs);
  Write(path, r, i2d_OCSP_RESPONSE);
  OCSP_RESPONSE_free(r);
  OCSP_BASICRESP_free(bs);
  ASN1_TIME_free(now);
  ASN1_TIME_free(next);
}

void Request(const std::string& path, X509* ca, X509* signer, EVP_PKEY* key,
             unsigned long flags) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  ASN1_INTEGER_set(serial, 5);
  OCSP_request_add0_id(req, OCSP_cert_id_new(EVP_sha1(), X509_get_subject_name(ca),
                                             X509_get0_pubkey_bitstr(ca), serial));
  ASN1_INTEGER_free(serial);
  OCSP_request_add1_nonce(req, nullptr, 0);
  OCSP_request_sign(req, signer, key, EVP_sha1(), nullptr, flags);
  Write(path, req, i2d_OCSP_REQUEST);
  OCSP_REQUEST_free(req);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  MORVANE_add_all_algorithms_noconf();
  const std::string dir = argv[1];
  EVP_PKEY* ca_key = NewKey();
  EVP_PKEY* resp_key = NewKey();
  X509* ca = MakeCert("Fuzz OCSP CA", "Fuzz OCSP CA", 1, ca_key, ca_key, true);
  X509* resp = MakeCert("Fuzz OCSP Responder", "Fuzz OCSP CA", 2, resp_key, ca_key, false);
  Response(dir + "/vfy_resp_ca", ca, ca, ca_key, {{EVP_sha1(), 5}}, 0);
  Response(dir + "/vfy_resp_delegated", ca, resp, resp_key, {{EVP_sha1(), 5}, {EVP_sha1(), 7}},
           0);
  Response(dir + "/vfy_resp_keyid", ca, resp, resp_key, {{EVP_sha1(), 5}}, OCSP_RESPID_KEY);
  Response(dir + "/vfy_resp_two_algs", ca, resp, resp_key, {{EVP_sha1(), 5}, {EVP_sha256(), 6}},
           0);
  Response(dir + "/vfy_resp_empty", ca, ca, ca_key, {}, 0);
  Request(dir + "/vfy_req_signed", ca, resp, resp_key, 0);
  Request(dir + "/vfy_req_nocerts", ca, ca, ca_key, OCSP_NOCERTS);
  unsigned char* der = nullptr;
  const int n = i2d_X509(ca, &der);
  for (int i = 0; i < n; i++) printf("%02x", der[i]);
  printf("\n");
  CRYPTO_free(der);
  X509_free(ca);
  X509_free(resp);
  EVP_PKEY_free(ca_key);
  EVP_PKEY_free(resp_key);
  return 0;
}
