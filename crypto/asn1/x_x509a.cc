// The trust record that travels after a certificate (X509_CERT_AUX: trusted
// and rejected uses, an alias, a key id, other algorithms) with its calls,
// and the cross-certificate pair X509_CERT_PAIR (X.509, 11.2.3).

#include <stddef.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

static_assert(offsetof(X509_CERT_AUX, alias) == 16 && offsetof(X509_CERT_AUX, other) == 32 &&
              sizeof(X509_CERT_AUX) == 40);

ASN1_SEQUENCE(X509_CERT_AUX) = {
    ASN1_SEQUENCE_OF_OPT(X509_CERT_AUX, trust, ASN1_OBJECT),
    ASN1_IMP_SEQUENCE_OF_OPT(X509_CERT_AUX, reject, ASN1_OBJECT, 0),
    ASN1_OPT(X509_CERT_AUX, alias, ASN1_UTF8STRING),
    ASN1_OPT(X509_CERT_AUX, keyid, ASN1_OCTET_STRING),
    ASN1_IMP_SEQUENCE_OF_OPT(X509_CERT_AUX, other, X509_ALGOR, 1),
} ASN1_SEQUENCE_END(X509_CERT_AUX);

ASN1_SEQUENCE(X509_CERT_PAIR) = {
    ASN1_EXP_OPT(X509_CERT_PAIR, forward, X509, 0),
    ASN1_EXP_OPT(X509_CERT_PAIR, reverse, X509, 1),
} ASN1_SEQUENCE_END(X509_CERT_PAIR);

namespace {

// The certificate's trust record, made when absent; null when it cannot be.
X509_CERT_AUX* aux_get(X509* x) {
  if (x->aux == nullptr) x->aux = X509_CERT_AUX_new();
  return x->aux;
}

// The alias or key id field of the record: make it and copy len bytes in,
// or, for a null value, free it.
int string_set1(X509* x, ASN1_STRING* X509_CERT_AUX::*field, int type, const unsigned char* value,
                int len) {
  if (value == nullptr) {
    if (x->aux != nullptr) {
      ASN1_STRING_free(x->aux->*field);
      x->aux->*field = nullptr;
    }
    return 1;
  }
  X509_CERT_AUX* aux = aux_get(x);
  if (aux == nullptr) return 0;
  if (aux->*field == nullptr && (aux->*field = ASN1_STRING_type_new(type)) == nullptr) return 0;
  return ASN1_STRING_set(aux->*field, value, len);
}

unsigned char* string_get0(X509* x, ASN1_STRING* X509_CERT_AUX::*field, int* len) {
  if (x->aux == nullptr || x->aux->*field == nullptr) return nullptr;
  if (len != nullptr) *len = (x->aux->*field)->length;
  return (x->aux->*field)->data;
}

// Pushes a copy of obj onto one of the record's object lists.
int add1_object(X509* x, STACK* X509_CERT_AUX::*list, ASN1_OBJECT* obj) {
  ASN1_OBJECT* copy = OBJ_dup(obj);
  if (copy == nullptr) return 0;
  X509_CERT_AUX* aux = aux_get(x);
  if (aux != nullptr && aux->*list == nullptr) aux->*list = sk_new_null();
  const int ret = aux != nullptr && aux->*list != nullptr
                      ? sk_push(aux->*list, reinterpret_cast<char*>(copy))
                      : 0;
  if (ret == 0) ASN1_OBJECT_free(copy);
  return ret;
}

void object_free(void* obj) {
  ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(obj));
}

void clear_objects(X509* x, STACK* X509_CERT_AUX::*list) {
  if (x->aux == nullptr) return;
  sk_pop_free(x->aux->*list, object_free);
  x->aux->*list = nullptr;
}

}  // namespace

/* see morvane/x509.h */
int X509_alias_set1(X509* x, const unsigned char* name, int len) {
  return string_set1(x, &X509_CERT_AUX::alias, ASN1_UT_UTF8STRING, name, len);
}

/* see morvane/x509.h */
int X509_keyid_set1(X509* x, const unsigned char* id, int len) {
  return string_set1(x, &X509_CERT_AUX::keyid, ASN1_UT_OCTET_STRING, id, len);
}

/* see morvane/x509.h */
unsigned char* X509_alias_get0(X509* x, int* len) {
  return string_get0(x, &X509_CERT_AUX::alias, len);
}

/* see morvane/x509.h */
unsigned char* X509_keyid_get0(X509* x, int* len) {
  return string_get0(x, &X509_CERT_AUX::keyid, len);
}

/* see morvane/x509.h */
int X509_add1_trust_object(X509* x, ASN1_OBJECT* obj) {
  return add1_object(x, &X509_CERT_AUX::trust, obj);
}

/* see morvane/x509.h */
int X509_add1_reject_object(X509* x, ASN1_OBJECT* obj) {
  return add1_object(x, &X509_CERT_AUX::reject, obj);
}

/* see morvane/x509.h */
void X509_trust_clear(X509* x) {
  clear_objects(x, &X509_CERT_AUX::trust);
}

/* see morvane/x509.h */
void X509_reject_clear(X509* x) {
  clear_objects(x, &X509_CERT_AUX::reject);
}
