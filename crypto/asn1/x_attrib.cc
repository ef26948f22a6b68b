// Attribute (X.501) as X509_ATTRIBUTE: an object with a SET OF values, or,
// as some old encoders wrote it, one bare value.  The two forms are a CHOICE
// kept inside the record, selected by its `single` field.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

ASN1_CHOICE(X509_ATTRIBUTE_SET) = {
    ASN1_SET_OF(X509_ATTRIBUTE, value.set, ASN1_ANY),
    ASN1_SIMPLE(X509_ATTRIBUTE, value.single, ASN1_ANY),
} ASN1_CHOICE_END_selector(X509_ATTRIBUTE, X509_ATTRIBUTE_SET, single);

ASN1_SEQUENCE(X509_ATTRIBUTE) = {
    ASN1_SIMPLE(X509_ATTRIBUTE, object, ASN1_OBJECT),
    ASN1_EX_COMBINE(0, 0, X509_ATTRIBUTE_SET),
} ASN1_SEQUENCE_END(X509_ATTRIBUTE);

/* see morvane/x509.h */
X509_ATTRIBUTE* X509_ATTRIBUTE_create(int nid, int atrtype, void* value) {
  X509_ATTRIBUTE* ret = X509_ATTRIBUTE_new();
  if (ret == nullptr) return nullptr;
  ASN1_OBJECT_free(ret->object);
  ret->object = OBJ_nid2obj(nid);
  ret->single = 0;
  ASN1_TYPE* val = nullptr;
  ret->value.set = sk_new_null();
  if (ret->value.set != nullptr) val = ASN1_TYPE_new();
  if (val == nullptr || !sk_push(ret->value.set, reinterpret_cast<char*>(val))) {
    ASN1_TYPE_free(val);
    X509_ATTRIBUTE_free(ret);
    return nullptr;
  }
  ASN1_TYPE_set(val, atrtype, value);
  return ret;
}
