// The ASN1_OBJECT record: creation and freeing.  Conversions to and from
// text and DER content come with the object identifier codec.

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
