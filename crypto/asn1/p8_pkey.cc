// PrivateKeyInfo (RFC 5208, 5) as PKCS8_PRIV_KEY_INFO, whose key bytes are
// wiped before the structure is freed.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/x509.h>

#include "internal/wipe.h"

namespace {

// Before the fields go: the key field's bytes, when it holds a string (every
// type but OBJECT IDENTIFIER, NULL and BOOLEAN), are overwritten.
int pkey_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM* /*it*/) {
  if (operation != ASN1_CBOP_FREE_PRE || pval == nullptr || *pval == nullptr) return 1;
  const ASN1_TYPE* key = reinterpret_cast<PKCS8_PRIV_KEY_INFO*>(*pval)->pkey;
  if (key == nullptr) return 1;
  switch (key->type) {
    case ASN1_UT_OBJECT:
    case ASN1_UT_NULL:
    case ASN1_UT_BOOLEAN:
      return 1;
    default:
      if (key->value.asn1_string != nullptr && key->value.asn1_string->length > 0)
        morvane::internal::wipe(key->value.asn1_string->data,
                                static_cast<size_t>(key->value.asn1_string->length));
      return 1;
  }
}

}  // namespace

ASN1_SEQUENCE_cb(PKCS8_PRIV_KEY_INFO, pkey_cb) = {
    ASN1_SIMPLE(PKCS8_PRIV_KEY_INFO, version, ASN1_INTEGER),
    ASN1_SIMPLE(PKCS8_PRIV_KEY_INFO, pkeyalg, X509_ALGOR),
    ASN1_SIMPLE(PKCS8_PRIV_KEY_INFO, pkey, ASN1_ANY),
    ASN1_IMP_SET_OF_OPT(PKCS8_PRIV_KEY_INFO, attributes, X509_ATTRIBUTE, 0),
} ASN1_SEQUENCE_END_cb(PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO);
