// The ASN1_OBJECT record: creation, freeing and its DER content.  The
// conversions to and from text come with the object identifier codec.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

/* see morvane/asn1.h */
ASN1_OBJECT* ASN1_OBJECT_new(void) {
  auto* ret = static_cast<ASN1_OBJECT*>(MORVANE_malloc(sizeof(ASN1_OBJECT)));
  if (ret == nullptr) {
    ASN1err(ASN1_F_ASN1_OBJECT_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof *ret);
  ret->flags = ASN1_OBJECT_FLAG_DYNAMIC;
  return ret;
}

/* see morvane/asn1.h */
void ASN1_OBJECT_free(ASN1_OBJECT* a) {
  if (a == nullptr) return;
  if (a->flags & ASN1_OBJECT_FLAG_DYNAMIC_STRINGS) {
    MORVANE_free(const_cast<char*>(a->sn));
    MORVANE_free(const_cast<char*>(a->ln));
    a->sn = a->ln = nullptr;
  }
  if (a->flags & ASN1_OBJECT_FLAG_DYNAMIC_DATA) {
    MORVANE_free(const_cast<unsigned char*>(a->data));
    a->data = nullptr;
    a->length = 0;
  }
  if (a->flags & ASN1_OBJECT_FLAG_DYNAMIC) MORVANE_free(a);
}

/* see morvane/asn1.h */
int i2d_ASN1_OBJECT(ASN1_OBJECT* a, unsigned char** pp) {
  if (a == nullptr || a->data == nullptr) return 0;
  const int ret = ASN1_object_size(0, a->length, ASN1_UT_OBJECT);
  if (pp == nullptr || ret < 0) return ret;
  ASN1_put_object(pp, 0, a->length, ASN1_UT_OBJECT, ASN1_CLASS_UNIVERSAL);
  memcpy(*pp, a->data, a->length);
  *pp += a->length;
  return ret;
}

/* see morvane/asn1.h */
ASN1_OBJECT* c2i_ASN1_OBJECT(ASN1_OBJECT** a, const unsigned char** pp, long len) {
  const unsigned char* p = *pp;
  if (len < 0 || len > 0x7FFFFFFE) {
    ASN1err(ASN1_F_C2I_ASN1_OBJECT, ASN1_R_TOO_LONG);
    return nullptr;
  }
  // X.690 8.19.2: a subidentifier has no leading 0x80 octet.
  for (long i = 0; i < len; i++) {
    if (p[i] == 0x80 && (i == 0 || !(p[i - 1] & 0x80))) {
      ASN1err(ASN1_F_C2I_ASN1_OBJECT, ASN1_R_INVALID_OBJECT_ENCODING);
      return nullptr;
    }
  }
  ASN1_OBJECT* ret = (a != nullptr && *a != nullptr && ((*a)->flags & ASN1_OBJECT_FLAG_DYNAMIC))
                         ? *a
                         : ASN1_OBJECT_new();
  if (ret == nullptr) return nullptr;
  if (ret->data == nullptr || ret->length < len || !(ret->flags & ASN1_OBJECT_FLAG_DYNAMIC_DATA)) {
    if (ret->flags & ASN1_OBJECT_FLAG_DYNAMIC_DATA)
      MORVANE_free(const_cast<unsigned char*>(ret->data));
    ret->data = nullptr;
    ret->length = 0;
    auto* data = static_cast<unsigned char*>(MORVANE_malloc(len > 0 ? len : 1));
    if (data == nullptr) {
      ASN1err(ASN1_F_C2I_ASN1_OBJECT, ERR_R_MALLOC_FAILURE);
      ret->flags &= ~ASN1_OBJECT_FLAG_DYNAMIC_DATA;
      if (a == nullptr || ret != *a) ASN1_OBJECT_free(ret);
      return nullptr;
    }
    ret->data = data;
    ret->flags |= ASN1_OBJECT_FLAG_DYNAMIC_DATA;
  }
  if (len > 0) memcpy(const_cast<unsigned char*>(ret->data), p, len);
  ret->length = static_cast<int>(len);
  if (ret->flags & ASN1_OBJECT_FLAG_DYNAMIC_STRINGS) {
    MORVANE_free(const_cast<char*>(ret->sn));
    MORVANE_free(const_cast<char*>(ret->ln));
    ret->flags &= ~ASN1_OBJECT_FLAG_DYNAMIC_STRINGS;
  }
  ret->sn = ret->ln = nullptr;
  ret->nid = 0;  // the content may name another object now
  if (a != nullptr) *a = ret;
  *pp += len;
  return ret;
}
