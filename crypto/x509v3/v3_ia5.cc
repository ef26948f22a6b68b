// The seven Netscape text extensions (base URL, revocation URLs, renewal URL,
// CA policy URL, SSL server name, comment): IA5Strings printed and built as
// plain text.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

namespace {

char* i2s_ia5(const X509V3_EXT_METHOD* method, void* value) {
  return i2s_ASN1_IA5STRING(method, static_cast<ASN1_IA5STRING*>(value));
}

void* s2i_ia5(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, const char* str) {
  return s2i_ASN1_IA5STRING(method, ctx, str);
}

constexpr X509V3_EXT_METHOD ia5_method(int nid) {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = nid;
  m.it = &ASN1_IA5STRING_it;
  m.i2s = i2s_ia5;
  m.s2i = s2i_ia5;
  return m;
}

}  // namespace

// nsBaseUrl, nsRevocationUrl, nsCaRevocationUrl, nsRenewalUrl, nsCaPolicyUrl,
// nsSslServerName, nsComment.
constinit const X509V3_EXT_METHOD v3_ns_ia5_list[7] = {
    ia5_method(72), ia5_method(73), ia5_method(74), ia5_method(75),
    ia5_method(76), ia5_method(77), ia5_method(78),
};

/* see morvane/x509v3.h */
char* i2s_ASN1_IA5STRING(const X509V3_EXT_METHOD* /*method*/, ASN1_IA5STRING* ia5) {
  if (ia5 == nullptr || ia5->data == nullptr || ia5->length <= 0) return nullptr;
  auto* text = static_cast<char*>(MORVANE_malloc(static_cast<size_t>(ia5->length) + 1));
  if (text == nullptr) {
    X509V3err(X509V3_F_I2S_ASN1_IA5STRING, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memcpy(text, ia5->data, static_cast<size_t>(ia5->length));
  text[ia5->length] = '\0';
  return text;
}

/* see morvane/x509v3.h */
ASN1_IA5STRING* s2i_ASN1_IA5STRING(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/,
                                   const char* str) {
  if (str == nullptr) {
    X509V3err(X509V3_F_S2I_ASN1_IA5STRING, X509V3_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  const size_t len = strlen(str);
  ASN1_IA5STRING* ia5 = ASN1_IA5STRING_new();
  if (ia5 == nullptr || len > INT_MAX || !ASN1_STRING_set(ia5, str, static_cast<int>(len))) {
    X509V3err(X509V3_F_S2I_ASN1_IA5STRING, ERR_R_MALLOC_FAILURE);
    ASN1_IA5STRING_free(ia5);
    return nullptr;
  }
  return ia5;
}
