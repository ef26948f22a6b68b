// Attribute lists (STACKs of X509_ATTRIBUTE): counting, searching by
// object, removing, and appending copies of given or newly built
// attributes.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

// Appends a copy of the new attribute and frees the attribute.
STACK* add_built(STACK** x, X509_ATTRIBUTE* attr) {
  if (attr == nullptr) return nullptr;
  STACK* ret = X509at_add1_attr(x, attr);
  X509_ATTRIBUTE_free(attr);
  return ret;
}

const X509_ATTRIBUTE* at(const STACK* x, int i) {
  return reinterpret_cast<const X509_ATTRIBUTE*>(sk_value(x, i));
}

}  // namespace

/* see morvane/x509.h */
int X509at_get_attr_count(const STACK* x) {
  return sk_num(x);
}

/* see morvane/x509.h */
int X509at_get_attr_by_NID(const STACK* x, int nid, int lastpos) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) return -2;
  return X509at_get_attr_by_OBJ(x, obj, lastpos);
}

/* see morvane/x509.h */
int X509at_get_attr_by_OBJ(const STACK* sk, ASN1_OBJECT* obj, int lastpos) {
  if (sk == nullptr || obj == nullptr) return -1;
  const int n = sk_num(sk);
  if (lastpos >= n) return -1;  // also keeps lastpos + 1 from overflowing
  for (int i = lastpos < 0 ? 0 : lastpos + 1; i < n; i++) {
    if (OBJ_cmp(at(sk, i)->object, obj) == 0) return i;
  }
  return -1;
}

/* see morvane/x509.h */
X509_ATTRIBUTE* X509at_get_attr(const STACK* x, int loc) {
  if (x == nullptr || loc < 0 || loc >= sk_num(x)) return nullptr;
  return reinterpret_cast<X509_ATTRIBUTE*>(sk_value(x, loc));
}

/* see morvane/x509.h */
X509_ATTRIBUTE* X509at_delete_attr(STACK* x, int loc) {
  if (x == nullptr || loc < 0 || loc >= sk_num(x)) return nullptr;
  return reinterpret_cast<X509_ATTRIBUTE*>(sk_delete(x, loc));
}

/* see morvane/x509.h */
STACK* X509at_add1_attr(STACK** x, X509_ATTRIBUTE* attr) {
  if (x == nullptr || attr == nullptr) {
    X509err(X509_F_X509AT_ADD1_ATTR, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  STACK* sk = *x != nullptr ? *x : sk_new_null();
  if (sk == nullptr) {
    X509err(X509_F_X509AT_ADD1_ATTR, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  // A failed copy has queued its own error; nothing is added to it.
  X509_ATTRIBUTE* copy = X509_ATTRIBUTE_dup(attr);
  if (copy == nullptr) {
    if (sk != *x) sk_free(sk);
    return nullptr;
  }
  if (!sk_push(sk, reinterpret_cast<char*>(copy))) {
    X509_ATTRIBUTE_free(copy);
    if (sk != *x) sk_free(sk);
    X509err(X509_F_X509AT_ADD1_ATTR, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  *x = sk;
  return sk;
}

/* see morvane/x509.h */
STACK* X509at_add1_attr_by_OBJ(STACK** x, const ASN1_OBJECT* obj, int type,
                               const unsigned char* bytes, int len) {
  return add_built(x, X509_ATTRIBUTE_create_by_OBJ(nullptr, obj, type, bytes, len));
}

/* see morvane/x509.h */
STACK* X509at_add1_attr_by_NID(STACK** x, int nid, int type, const unsigned char* bytes, int len) {
  return add_built(x, X509_ATTRIBUTE_create_by_NID(nullptr, nid, type, bytes, len));
}

/* see morvane/x509.h */
STACK* X509at_add1_attr_by_txt(STACK** x, const char* attrname, int type,
                               const unsigned char* bytes, int len) {
  return add_built(x, X509_ATTRIBUTE_create_by_txt(nullptr, attrname, type, bytes, len));
}

/* see morvane/x509.h */
void* X509at_get0_data_by_OBJ(STACK* x, ASN1_OBJECT* obj, int lastpos, int type) {
  const int i = X509at_get_attr_by_OBJ(x, obj, lastpos);
  if (i == -1) return nullptr;
  // lastpos -2 and below: the type must occur once; -3 and below: with
  // exactly one value.
  if (lastpos <= -2 && X509at_get_attr_by_OBJ(x, obj, i) != -1) return nullptr;
  X509_ATTRIBUTE* attr = X509at_get_attr(x, i);
  if (lastpos <= -3 && X509_ATTRIBUTE_count(attr) != 1) return nullptr;
  return X509_ATTRIBUTE_get0_data(attr, 0, type, nullptr);
}
