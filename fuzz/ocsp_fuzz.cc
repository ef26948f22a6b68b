// Fuzzes OCSP messages from outside: arbitrary DER through
// d2i_OCSP_RESPONSE (then printing, the basic response, status lookup, the
// validity check of each single response and OCSP_basic_verify against a
// fixed store) and d2i_OCSP_REQUEST (then printing, the responder accessors
// and OCSP_request_verify), and the input as text through OCSP_parse_url.
// The store holds one CA, "CN=Fuzz OCSP CA", made with the signed seeds of
// the corpus by ocsp_seeds.cc, so that those seeds verify to the end.
//
// Checks: a response that decodes re-encodes; a URL that splits has no
// byte below 0x21 or 0x7F in its parts; the verifiers answer 1 or less
// (OCSP_request_verify 1 or 0).

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

namespace {

// The DER of the CA certificate printed by ocsp_seeds.
constexpr char kCaHex[] =
    "308201333081dea003020102020101300d06092a864886f70d0101050500301731153013060355040313"
    "0c46757a7a204f4353502043413020170d3230303130313030303030305a180f32313030303130313030"
    "303030305a3017311530130603550403130c46757a7a204f435350204341305c300d06092a864886f70d"
    "0101010500034b003048024100ef7c2fce509fa8063bac2cab43e120966379196d401349ee9c7615ae22"
    "597f9efd3a58e416c3d05b11bcd691fe41df1d7b2e269a109d393960c67b3f8f54db1b0203010001a313"
    "3011300f0603551d130101ff040530030101ff300d06092a864886f70d010105050003410037220574f7"
    "8feb2b925e3c88279d88eb9d049c9ce3f3d1f94463c6b1e936b936a2d1ce8f7f420393a27a45e5b4f8e6"
    "32f493295ff6bcb027860e1d97d3d19074";

X509_STORE* store = nullptr;
STACK* ca_list = nullptr;  // the CA alone, as the caller's certificates

void MakeStore() {
  unsigned char der[sizeof kCaHex / 2];
  for (size_t i = 0; i < sizeof der; i++) {
    auto nib = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    der[i] = static_cast<unsigned char>(nib(kCaHex[2 * i]) << 4 | nib(kCaHex[2 * i + 1]));
  }
  const unsigned char* p = der;
  X509* ca = d2i_X509(nullptr, &p, static_cast<long>(sizeof der));
  Check(ca != nullptr, "the fixed CA decodes");
  store = X509_STORE_new();
  X509_STORE_add_cert(store, ca);
  ca_list = sk_new_null();
  sk_push(ca_list, reinterpret_cast<char*>(ca));  // keeps the reference of d2i
}

bool Clean(const char* s) {
  for (; *s != '\0'; s++)
    if (static_cast<unsigned char>(*s) < 0x21 || static_cast<unsigned char>(*s) == 0x7F)
      return false;
  return true;
}

void FuzzResponse(const uint8_t* data, size_t size) {
  const unsigned char* p = data;
  OCSP_RESPONSE* r = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(size));
  if (r == nullptr) return;
  Check(i2d_OCSP_RESPONSE(r, nullptr) > 0, "decoded response encodes");
  BIO* out = BIO_new(BIO_s_mem());
  OCSP_RESPONSE_print(out, r, 0);
  BIO_free(out);
  OCSP_response_status(r);
  OCSP_BASICRESP* bs = OCSP_response_get1_basic(r);
  for (int i = 0; i < OCSP_resp_count(bs) && i < 16; i++) {
    OCSP_SINGLERESP* single = OCSP_resp_get0(bs, i);
    int status = 0, reason = 0;
    ASN1_GENERALIZEDTIME *rev = nullptr, *th = nullptr, *nx = nullptr;
    if (single == nullptr) continue;
    OCSP_resp_find_status(bs, single->certId, &status, &reason, &rev, &th, &nx);
    OCSP_check_validity(th, nx, 300, 86400);
  }
  if (bs != nullptr) {
    Check(OCSP_basic_verify(bs, nullptr, store, 0) <= 1, "basic verify is 1 or less");
    Check(OCSP_basic_verify(bs, ca_list, store, OCSP_TRUSTOTHER) <= 1,
          "basic verify with certs is 1 or less");
  }
  OCSP_BASICRESP_free(bs);
  OCSP_RESPONSE_free(r);
}

void FuzzRequest(const uint8_t* data, size_t size) {
  const unsigned char* p = data;
  OCSP_REQUEST* req = d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(size));
  if (req == nullptr) return;
  BIO* out = BIO_new(BIO_s_mem());
  OCSP_REQUEST_print(out, req, 0);
  BIO_free(out);
  for (int i = 0; i < OCSP_request_onereq_count(req) && i < 16; i++)
    OCSP_onereq_get0_id(OCSP_request_onereq_get0(req, i));
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  OCSP_check_nonce(req, bs);
  OCSP_copy_nonce(bs, req);
  OCSP_BASICRESP_free(bs);
  for (unsigned long flags : {0UL, static_cast<unsigned long>(OCSP_NOINTERN)}) {
    const int v = OCSP_request_verify(req, ca_list, store, flags);
    Check(v == 0 || v == 1, "request verify is 1 or 0");
  }
  OCSP_REQUEST_free(req);
}

void FuzzUrl(const uint8_t* data, size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  char *host, *port, *path;
  int ssl;
  if (OCSP_parse_url(url.c_str(), &host, &port, &path, &ssl)) {
    Check(Clean(host) && Clean(port) && Clean(path), "URL parts hold no control byte");
    CRYPTO_free(host);
    CRYPTO_free(port);
    CRYPTO_free(path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = [] {
    MORVANE_add_all_algorithms_noconf();
    MakeStore();
    return true;
  }();
  (void)init;
  FuzzResponse(data, size);
  FuzzRequest(data, size);
  FuzzUrl(data, size);
  ERR_clear_error();
  return 0;
}
