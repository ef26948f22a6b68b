// Named bit strings: keyUsage (RFC 5280, 4.2.1.3) and the Netscape
// certificate type, printed as the long names of their set bits and built
// from lists naming bits.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

namespace {

constexpr BIT_STRING_BITNAME ns_cert_type_table[] = {
    {0, "SSL Client", "client"},
    {1, "SSL Server", "server"},
    {2, "S/MIME", "email"},
    {3, "Object Signing", "objsign"},
    {4, "Unused", "reserved"},
    {5, "SSL CA", "sslCA"},
    {6, "S/MIME CA", "emailCA"},
    {7, "Object Signing CA", "objCA"},
    {-1, nullptr, nullptr},
};

constexpr BIT_STRING_BITNAME key_usage_type_table[] = {
    {0, "Digital Signature", "digitalSignature"},
    {1, "Non Repudiation", "nonRepudiation"},
    {2, "Key Encipherment", "keyEncipherment"},
    {3, "Data Encipherment", "dataEncipherment"},
    {4, "Key Agreement", "keyAgreement"},
    {5, "Certificate Sign", "keyCertSign"},
    {6, "CRL Sign", "cRLSign"},
    {7, "Encipher Only", "encipherOnly"},
    {8, "Decipher Only", "decipherOnly"},
    {-1, nullptr, nullptr},
};

STACK* i2v_bits(const X509V3_EXT_METHOD* method, void* value, STACK* list) {
  return i2v_ASN1_BIT_STRING(method, static_cast<ASN1_BIT_STRING*>(value), list);
}

void* v2i_bits(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values) {
  return v2i_ASN1_BIT_STRING(method, ctx, values);
}

constexpr X509V3_EXT_METHOD bit_string_method(int nid, const BIT_STRING_BITNAME* table) {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = nid;
  m.it = &ASN1_BIT_STRING_it;
  m.i2v = i2v_bits;
  m.v2i = v2i_bits;
  m.usr_data = const_cast<BIT_STRING_BITNAME*>(table);
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_nscert = bit_string_method(71, ns_cert_type_table);
constinit const X509V3_EXT_METHOD v3_key_usage = bit_string_method(83, key_usage_type_table);

/* see morvane/x509v3.h */
STACK* i2v_ASN1_BIT_STRING(const X509V3_EXT_METHOD* method, ASN1_BIT_STRING* bits, STACK* ret) {
  STACK* const given = ret;
  const auto* row = static_cast<const BIT_STRING_BITNAME*>(method->usr_data);
  for (; row->lname != nullptr; row++) {
    if (!ASN1_BIT_STRING_get_bit(bits, row->bitnum)) continue;
    if (!X509V3_add_value(row->lname, nullptr, &ret))
      return morvane::x509v3::drop_pairs(ret, given);
  }
  return ret;
}

/* see morvane/x509v3.h */
ASN1_BIT_STRING* v2i_ASN1_BIT_STRING(const X509V3_EXT_METHOD* method, X509V3_CTX* /*ctx*/,
                                     STACK* nval) {
  ASN1_BIT_STRING* bs = ASN1_BIT_STRING_new();
  if (bs == nullptr) {
    X509V3err(X509V3_F_V2I_ASN1_BIT_STRING, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(nval); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(nval, i));
    const auto* row = static_cast<const BIT_STRING_BITNAME*>(method->usr_data);
    for (; row->lname != nullptr; row++) {
      if (val->name == nullptr) continue;
      if (strcmp(row->sname, val->name) == 0 || strcmp(row->lname, val->name) == 0) break;
    }
    if (row->lname == nullptr) {
      X509V3err(X509V3_F_V2I_ASN1_BIT_STRING, X509V3_R_UNKNOWN_BIT_STRING_ARGUMENT);
      morvane::x509v3::value_context(val);
      ASN1_BIT_STRING_free(bs);
      return nullptr;
    }
    if (!ASN1_BIT_STRING_set_bit(bs, row->bitnum, 1)) {
      X509V3err(X509V3_F_V2I_ASN1_BIT_STRING, ERR_R_MALLOC_FAILURE);
      ASN1_BIT_STRING_free(bs);
      return nullptr;
    }
  }
  return bs;
}
