// The integer, enumerated and object extensions of revocation lists and
// certificates: cRLNumber and deltaCRLIndicator (RFC 5280, 5.2.3 and 5.2.4),
// the entry's reasonCode (5.3.1) and holdInstructionCode, and
// inhibitAnyPolicy (4.2.1.14).

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

namespace {

// Revocation reasons (RFC 5280, 5.3.1); value 7 is not used.
constexpr BIT_STRING_BITNAME crl_reasons[] = {
    {0, "Unspecified", "unspecified"},
    {1, "Key Compromise", "keyCompromise"},
    {2, "CA Compromise", "CACompromise"},
    {3, "Affiliation Changed", "affiliationChanged"},
    {4, "Superseded", "superseded"},
    {5, "Cessation Of Operation", "cessationOfOperation"},
    {6, "Certificate Hold", "certificateHold"},
    {8, "Remove From CRL", "removeFromCRL"},
    {9, "Privilege Withdrawn", "privilegeWithdrawn"},
    {10, "AA Compromise", "aACompromise"},
    {-1, nullptr, nullptr},
};

char* i2s_integer(const X509V3_EXT_METHOD* method, void* value) {
  return i2s_ASN1_INTEGER(method, static_cast<ASN1_INTEGER*>(value));
}

void* s2i_asn1_int(const X509V3_EXT_METHOD* method, X509V3_CTX* /*ctx*/, const char* value) {
  return s2i_ASN1_INTEGER(method, value);
}

char* i2s_enumerated_table(const X509V3_EXT_METHOD* method, void* value) {
  return i2s_ASN1_ENUMERATED_TABLE(method, static_cast<ASN1_ENUMERATED*>(value));
}

int i2r_object(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  if (BIO_printf(out, "%*s", indent, "") < 0) return 0;
  return i2a_ASN1_OBJECT(out, static_cast<ASN1_OBJECT*>(value)) > 0;
}

constexpr X509V3_EXT_METHOD integer_method(int nid, bool buildable) {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = nid;
  m.it = &ASN1_INTEGER_it;
  m.i2s = i2s_integer;
  if (buildable) m.s2i = s2i_asn1_int;
  return m;
}

constexpr X509V3_EXT_METHOD reason_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 141;
  m.it = &ASN1_ENUMERATED_it;
  m.i2s = i2s_enumerated_table;
  m.usr_data = const_cast<BIT_STRING_BITNAME*>(crl_reasons);
  return m;
}

constexpr X509V3_EXT_METHOD time_method(int nid) {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = nid;
  m.it = &ASN1_GENERALIZEDTIME_it;
  m.i2r = morvane::x509v3::i2r_ocsp_acutoff;
  return m;
}

constexpr X509V3_EXT_METHOD object_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 430;
  m.it = &ASN1_OBJECT_it;
  m.i2r = i2r_object;
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_crl_num = integer_method(88, false);
constinit const X509V3_EXT_METHOD v3_delta_crl = integer_method(140, false);
constinit const X509V3_EXT_METHOD v3_inhibit_anyp = integer_method(748, true);
constinit const X509V3_EXT_METHOD v3_crl_reason = reason_method();
constinit const X509V3_EXT_METHOD v3_crl_invdate = time_method(142);
constinit const X509V3_EXT_METHOD v3_ocsp_acutoff = time_method(370);
constinit const X509V3_EXT_METHOD v3_crl_hold = object_method();

/* see morvane/x509v3.h */
char* i2s_ASN1_ENUMERATED_TABLE(const X509V3_EXT_METHOD* method, ASN1_ENUMERATED* e) {
  const long value = ASN1_ENUMERATED_get(e);
  for (const auto* row = static_cast<const BIT_STRING_BITNAME*>(method->usr_data);
       row->lname != nullptr; row++) {
    if (row->bitnum == value) {
      char* copy = BUF_strdup(row->lname);
      if (copy == nullptr) X509V3err(X509V3_F_I2S_ASN1_ENUMERATED, ERR_R_MALLOC_FAILURE);
      return copy;
    }
  }
  return i2s_ASN1_ENUMERATED(method, e);
}
