// extendedKeyUsage (RFC 5280, 4.2.1.12) and the OCSP acceptable-responses
// extension (RFC 6960, 4.4.3), both a SEQUENCE OF OBJECT IDENTIFIER printed
// one object a pair; and privateKeyUsagePeriod (RFC 3280, 4.2.1.4).

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

// clang-format off
ASN1_ITEM_TEMPLATE(EXTENDED_KEY_USAGE) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SEQUENCE_OF, 0, EXTENDED_KEY_USAGE, ASN1_OBJECT)
ASN1_ITEM_TEMPLATE_END(EXTENDED_KEY_USAGE);
// clang-format on

ASN1_SEQUENCE(PKEY_USAGE_PERIOD) = {
    ASN1_IMP_OPT(PKEY_USAGE_PERIOD, notBefore, ASN1_GENERALIZEDTIME, 0),
    ASN1_IMP_OPT(PKEY_USAGE_PERIOD, notAfter, ASN1_GENERALIZEDTIME, 1),
} ASN1_SEQUENCE_END(PKEY_USAGE_PERIOD);

namespace {

void free_object(void* p) {
  ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(p));
}

STACK* i2v_EXTENDED_KEY_USAGE(const X509V3_EXT_METHOD* /*method*/, void* value, STACK* list) {
  STACK* const given = list;
  auto* eku = static_cast<EXTENDED_KEY_USAGE*>(value);
  for (int i = 0; i < sk_num(eku); i++) {
    char text[80];
    i2t_ASN1_OBJECT(text, sizeof(text), reinterpret_cast<ASN1_OBJECT*>(sk_value(eku, i)));
    if (!X509V3_add_value(nullptr, text, &list)) return morvane::x509v3::drop_pairs(list, given);
  }
  return list;
}

void* v2i_EXTENDED_KEY_USAGE(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/,
                             STACK* values) {
  EXTENDED_KEY_USAGE* eku = sk_new_null();
  if (eku == nullptr) {
    X509V3err(X509V3_F_V2I_EXTENDED_KEY_USAGE, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    const char* text = val->value != nullptr ? val->value : val->name;
    ASN1_OBJECT* obj = text != nullptr ? OBJ_txt2obj(text, 0) : nullptr;
    if (obj == nullptr) {
      sk_pop_free(eku, free_object);
      X509V3err(X509V3_F_V2I_EXTENDED_KEY_USAGE, X509V3_R_INVALID_OBJECT_IDENTIFIER);
      morvane::x509v3::value_context(val);
      return nullptr;
    }
    if (!sk_push(eku, reinterpret_cast<char*>(obj))) {
      ASN1_OBJECT_free(obj);
      sk_pop_free(eku, free_object);
      X509V3err(X509V3_F_V2I_EXTENDED_KEY_USAGE, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
  }
  return eku;
}

int i2r_PKEY_USAGE_PERIOD(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out,
                          int indent) {
  auto* usage = static_cast<PKEY_USAGE_PERIOD*>(value);
  if (BIO_printf(out, "%*s", indent, "") < 0) return 0;
  if (usage->notBefore != nullptr) {
    if (BIO_puts(out, "Not Before: ") < 0 ||
        !ASN1_GENERALIZEDTIME_print(out, usage->notBefore))
      return 0;
    if (usage->notAfter != nullptr && BIO_puts(out, ", ") < 0) return 0;
  }
  if (usage->notAfter != nullptr &&
      (BIO_puts(out, "Not After: ") < 0 || !ASN1_GENERALIZEDTIME_print(out, usage->notAfter)))
    return 0;
  return 1;
}

constexpr X509V3_EXT_METHOD eku_method(int nid) {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = nid;
  m.it = &EXTENDED_KEY_USAGE_it;
  m.i2v = i2v_EXTENDED_KEY_USAGE;
  m.v2i = v2i_EXTENDED_KEY_USAGE;
  return m;
}

constexpr X509V3_EXT_METHOD pkey_usage_period_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 84;
  m.it = &PKEY_USAGE_PERIOD_it;
  m.i2r = i2r_PKEY_USAGE_PERIOD;
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_ext_ku = eku_method(126);
constinit const X509V3_EXT_METHOD v3_ocsp_accresp = eku_method(368);
constinit const X509V3_EXT_METHOD v3_pkey_usage_period = pkey_usage_period_method();
