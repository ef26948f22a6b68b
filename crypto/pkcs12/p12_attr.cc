// Bag attributes (RFC 7292, 4.2): friendlyName, localKeyID and the
// Microsoft CSP name, and the key-usage attribute of a PKCS#8 key.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

namespace {

constexpr int kFriendlyName = 156, kLocalKeyId = 157, kCspName = 417, kKeyUsage = 83;

// Adds the attribute; `len` must be a byte count, or -1 (the text's length)
// for the text forms only: the attribute code would read the bytes of any
// other negative length as an ASN1_STRING structure.
int add_attr(PKCS12_SAFEBAG* bag, int nid, int type, const unsigned char* bytes, int len,
             int func) {
  if (bag == nullptr) {
    PKCS12err(func, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  if (len < (type == ASN1_MB_ASCII ? -1 : 0)) {
    PKCS12err(func, PKCS12_R_INVALID_LENGTH);
    return 0;
  }
  if (X509at_add1_attr_by_NID(&bag->attrib, nid, type, bytes, len) == nullptr) {
    PKCS12err(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

const unsigned char* bytes_of(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

}  // namespace

/* see morvane/pkcs12.h */
int PKCS12_add_localkeyid(PKCS12_SAFEBAG* bag, unsigned char* name, int namelen) {
  return add_attr(bag, kLocalKeyId, ASN1_UT_OCTET_STRING, name, namelen,
                  PKCS12_F_PKCS12_ADD_LOCALKEYID);
}

/* see morvane/pkcs12.h */
int PKCS12_add_friendlyname_asc(PKCS12_SAFEBAG* bag, const char* name, int namelen) {
  return add_attr(bag, kFriendlyName, ASN1_MB_ASCII, bytes_of(name), namelen,
                  PKCS12_F_PKCS12_ADD_FRIENDLYNAME_ASC);
}

/* see morvane/pkcs12.h */
int PKCS12_add_friendlyname_uni(PKCS12_SAFEBAG* bag, const unsigned char* name, int namelen) {
  return add_attr(bag, kFriendlyName, ASN1_MB_BMP, name, namelen,
                  PKCS12_F_PKCS12_ADD_FRIENDLYNAME_UNI);
}

/* see morvane/pkcs12.h */
int PKCS12_add_CSPName_asc(PKCS12_SAFEBAG* bag, const char* name, int namelen) {
  return add_attr(bag, kCspName, ASN1_MB_ASCII, bytes_of(name), namelen,
                  PKCS12_F_PKCS12_ADD_CSPNAME_ASC);
}

/* see morvane/pkcs12.h */
int PKCS8_add_keyusage(PKCS8_PRIV_KEY_INFO* p8, int usage) {
  if (p8 == nullptr) {
    PKCS12err(PKCS12_F_PKCS8_ADD_KEYUSAGE, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  const unsigned char us = static_cast<unsigned char>(usage & 0xff);
  if (X509at_add1_attr_by_NID(&p8->attributes, kKeyUsage, ASN1_UT_BIT_STRING, &us, 1) ==
      nullptr) {
    PKCS12err(PKCS12_F_PKCS8_ADD_KEYUSAGE, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/pkcs12.h */
ASN1_TYPE* PKCS12_get_attr_gen(STACK* attrs, int attr_nid) {
  const int i = attrs != nullptr ? X509at_get_attr_by_NID(attrs, attr_nid, -1) : -1;
  if (i < 0) return nullptr;
  return X509_ATTRIBUTE_get0_type(X509at_get_attr(attrs, i), 0);
}

/* see morvane/pkcs12.h */
char* PKCS12_get_friendlyname(PKCS12_SAFEBAG* bag) {
  if (bag == nullptr) return nullptr;
  const ASN1_TYPE* t = PKCS12_get_attr_gen(bag->attrib, kFriendlyName);
  if (t == nullptr || t->type != ASN1_UT_BMPSTRING || t->value.bmpstring == nullptr)
    return nullptr;
  return uni2asc(t->value.bmpstring->data, t->value.bmpstring->length);
}
