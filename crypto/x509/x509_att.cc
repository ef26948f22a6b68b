// Attribute lists (STACKs of X509_ATTRIBUTE): counting, searching by
// object, removing, and appending copies of given or newly built
// attributes.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

// Puts one value into a new ASN1_TYPE.  A character form (ASN1_MB_*) makes
// the string type the attribute's string rule (of `nid`) picks from the
// text; otherwise with len -1 `bytes` is a value of ASN.1 type `type`
// (copied), and with another length len bytes make a string of that type.
// Null, with an error, for a type that cannot be built so.
ASN1_TYPE* make_value(int nid, int type, const unsigned char* bytes, int len) {
  if ((type & ASN1_MB_FLAG) != 0) {
    ASN1_STRING* s = ASN1_STRING_set_by_NID(nullptr, bytes, len, type, nid);
    ASN1_TYPE* value = s != nullptr ? ASN1_TYPE_new() : nullptr;
    if (value == nullptr) {
      ASN1_STRING_free(s);
      X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_ASN1_LIB);
      return nullptr;
    }
    ASN1_TYPE_set(value, s->type, s);
    return value;
  }
  const bool not_string =
      type == ASN1_UT_OBJECT || type == ASN1_UT_BOOLEAN || type == ASN1_UT_NULL;
  if (type <= 0 || len < -1 || (len >= 0 && not_string)) {
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, X509_R_WRONG_TYPE);
    return nullptr;
  }
  ASN1_TYPE* value = ASN1_TYPE_new();
  if (value == nullptr) {
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (len == -1) {
    if (!ASN1_TYPE_set1(value, type, bytes)) {
      ASN1_TYPE_free(value);
      X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    return value;
  }
  ASN1_STRING* s = ASN1_STRING_type_new(type);
  if (s == nullptr || !ASN1_STRING_set(s, bytes, len)) {
    ASN1_STRING_free(s);
    ASN1_TYPE_free(value);
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ASN1_TYPE_set(value, type, s);
  return value;
}

// A new attribute of object `obj` (copied) holding one value.
X509_ATTRIBUTE* make_attribute(const ASN1_OBJECT* obj, int type, const unsigned char* bytes,
                               int len) {
  ASN1_TYPE* value = make_value(OBJ_obj2nid(obj), type, bytes, len);
  if (value == nullptr) return nullptr;
  X509_ATTRIBUTE* attr = X509_ATTRIBUTE_new();
  ASN1_OBJECT* copy = attr != nullptr ? OBJ_dup(obj) : nullptr;
  STACK* set = copy != nullptr ? sk_new_null() : nullptr;
  if (set == nullptr || !sk_push(set, reinterpret_cast<char*>(value))) {
    sk_free(set);
    ASN1_OBJECT_free(copy);
    X509_ATTRIBUTE_free(attr);
    ASN1_TYPE_free(value);
    X509err(X509_F_X509_ATTRIBUTE_CREATE_BY_OBJ, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ASN1_OBJECT_free(attr->object);
  attr->object = copy;
  attr->single = 0;
  attr->value.set = set;
  return attr;
}

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
  X509_ATTRIBUTE* copy = sk != nullptr ? X509_ATTRIBUTE_dup(attr) : nullptr;
  if (copy == nullptr || !sk_push(sk, reinterpret_cast<char*>(copy))) {
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
  if (obj == nullptr) {
    X509err(X509_F_X509_ATTRIBUTE_CREATE_BY_OBJ, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  return add_built(x, make_attribute(obj, type, bytes, len));
}

/* see morvane/x509.h */
STACK* X509at_add1_attr_by_NID(STACK** x, int nid, int type, const unsigned char* bytes,
                               int len) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) {
    X509err(X509_F_X509_ATTRIBUTE_CREATE_BY_NID, X509_R_UNKNOWN_NID);
    return nullptr;
  }
  return add_built(x, make_attribute(obj, type, bytes, len));
}

/* see morvane/x509.h */
STACK* X509at_add1_attr_by_txt(STACK** x, const char* attrname, int type,
                               const unsigned char* bytes, int len) {
  ASN1_OBJECT* obj = attrname != nullptr ? OBJ_txt2obj(attrname, 0) : nullptr;
  if (obj == nullptr) {
    X509err(X509_F_X509_ATTRIBUTE_CREATE_BY_TXT, X509_R_INVALID_FIELD_NAME);
    ERR_add_error_data(2, "name=", attrname != nullptr ? attrname : "NULL");
    return nullptr;
  }
  STACK* ret = add_built(x, make_attribute(obj, type, bytes, len));
  ASN1_OBJECT_free(obj);
  return ret;
}
