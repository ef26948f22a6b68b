// Fuzzes OCSP messages from outside: arbitrary DER through
// d2i_OCSP_RESPONSE (then printing, the basic response, status lookup and
// the validity check of each single response) and d2i_OCSP_REQUEST (then
// printing and the responder accessors), and the input as text through
// OCSP_parse_url.
//
// Checks: a response that decodes re-encodes; a URL that splits has no
// byte below 0x21 or 0x7F in its parts.

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

namespace {

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
    return true;
  }();
  (void)init;
  FuzzResponse(data, size);
  FuzzRequest(data, size);
  FuzzUrl(data, size);
  ERR_clear_error();
  return 0;
}
