// The OCSP extensions (RFC 6960, 4.4): nonce, CRL references, no-check,
// archive cutoff and service locator; their text forms, and the nonce's own
// encoding, which carries the extension's content octets as they stand.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

namespace {

// The one-line name form (RFC 2253 escapes, "C = GB, O = Example").
constexpr unsigned long kNameOneLine = 0x82031FUL;

void* ocsp_nonce_new() {
  return ASN1_OCTET_STRING_new();
}

void ocsp_nonce_free(void* a) {
  ASN1_OCTET_STRING_free(static_cast<ASN1_OCTET_STRING*>(a));
}

// Takes every byte given, without reading a tag: reuse, when not null, is an
// ASN1_OCTET_STRING** whose string receives them.
void* d2i_ocsp_nonce(void* reuse, const unsigned char** pp, long length) {
  auto** pos = static_cast<ASN1_OCTET_STRING**>(reuse);
  ASN1_OCTET_STRING* os = pos != nullptr ? *pos : nullptr;
  const bool made = os == nullptr;
  if (made) os = ASN1_OCTET_STRING_new();
  if (os == nullptr || length < 0 || length > INT_MAX ||
      !ASN1_OCTET_STRING_set(os, *pp, static_cast<int>(length))) {
    OCSPerr(OCSP_F_D2I_OCSP_NONCE, ERR_R_MALLOC_FAILURE);
    if (made) ASN1_OCTET_STRING_free(os);
    return nullptr;
  }
  *pp += length;
  if (pos != nullptr) *pos = os;
  return os;
}

int i2d_ocsp_nonce(void* a, unsigned char** pp) {
  auto* os = static_cast<ASN1_OCTET_STRING*>(a);
  if (pp != nullptr && os->length > 0) {
    memcpy(*pp, os->data, static_cast<size_t>(os->length));
    *pp += os->length;
  }
  return os->length;
}

int i2r_ocsp_nonce(const X509V3_EXT_METHOD* /*method*/, void* nonce, BIO* out, int indent) {
  if (BIO_printf(out, "%*s", indent, "") < 0) return 0;
  return i2a_ASN1_STRING(out, static_cast<ASN1_OCTET_STRING*>(nonce), ASN1_UT_OCTET_STRING) > 0;
}

int i2r_ocsp_crlid(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  auto* a = static_cast<OCSP_CRLID*>(value);
  if (a->crlUrl != nullptr &&
      (BIO_printf(out, "%*scrlUrl: ", indent, "") < 0 || !ASN1_STRING_print(out, a->crlUrl) ||
       BIO_puts(out, "\n") <= 0))
    return 0;
  if (a->crlNum != nullptr &&
      (BIO_printf(out, "%*scrlNum: ", indent, "") < 0 || i2a_ASN1_INTEGER(out, a->crlNum) <= 0 ||
       BIO_puts(out, "\n") <= 0))
    return 0;
  if (a->crlTime != nullptr &&
      (BIO_printf(out, "%*scrlTime: ", indent, "") < 0 ||
       !ASN1_GENERALIZEDTIME_print(out, a->crlTime) || BIO_puts(out, "\n") <= 0))
    return 0;
  return 1;
}

int i2r_ocsp_serviceloc(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out,
                        int indent) {
  auto* a = static_cast<OCSP_SERVICELOC*>(value);
  if (BIO_printf(out, "%*sIssuer: ", indent, "") < 0 ||
      X509_NAME_print_ex(out, a->issuer, 0, kNameOneLine) < 0)
    return 0;
  for (int i = 0; i < sk_num(a->locator); i++) {
    auto* ad = reinterpret_cast<ACCESS_DESCRIPTION*>(sk_value(a->locator, i));
    if (BIO_printf(out, "\n%*s", 2 * indent, "") < 0 || i2a_ASN1_OBJECT(out, ad->method) <= 0 ||
        BIO_puts(out, " - ") <= 0 || GENERAL_NAME_print(out, ad->location) <= 0)
      return 0;
  }
  return 1;
}

void* s2i_ocsp_nocheck(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/,
                       const char* /*str*/) {
  return ASN1_NULL_new();
}

int i2r_ocsp_nocheck(const X509V3_EXT_METHOD* /*method*/, void* /*nocheck*/, BIO* /*out*/,
                     int /*indent*/) {
  return 1;
}

constexpr X509V3_EXT_METHOD nonce_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 366;
  m.ext_new = ocsp_nonce_new;
  m.ext_free = ocsp_nonce_free;
  m.d2i = d2i_ocsp_nonce;
  m.i2d = i2d_ocsp_nonce;
  m.i2r = i2r_ocsp_nonce;
  return m;
}

constexpr X509V3_EXT_METHOD crlid_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 367;
  m.it = &OCSP_CRLID_it;
  m.i2r = i2r_ocsp_crlid;
  return m;
}

constexpr X509V3_EXT_METHOD nocheck_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 369;
  m.it = &ASN1_NULL_it;
  m.s2i = s2i_ocsp_nocheck;
  m.i2r = i2r_ocsp_nocheck;
  return m;
}

constexpr X509V3_EXT_METHOD serviceloc_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 371;
  m.it = &OCSP_SERVICELOC_it;
  m.i2r = i2r_ocsp_serviceloc;
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_ocsp_serviceloc = serviceloc_method();
constinit const X509V3_EXT_METHOD v3_ocsp_nonce = nonce_method();
constinit const X509V3_EXT_METHOD v3_ocsp_crlid = crlid_method();
constinit const X509V3_EXT_METHOD v3_ocsp_nocheck = nocheck_method();

namespace morvane::x509v3 {

int i2r_ocsp_acutoff(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  if (BIO_printf(out, "%*s", indent, "") < 0) return 0;
  return ASN1_GENERALIZEDTIME_print(out, static_cast<ASN1_GENERALIZEDTIME*>(value)) ? 1 : 0;
}

}  // namespace morvane::x509v3
