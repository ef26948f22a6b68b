// Single attributes (X509_ATTRIBUTE): building one from an object and a
// value, and reading its object and values.
//
// Implementation notes: an attribute built here is always the SET form with
// at most one value.  Setting the data builds the new SET completely before
// it replaces (and frees) the old value, so a failure leaves the attribute
// as it was.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "x509_local.h"

namespace {

void type_free(void* p) {
  ASN1_TYPE_free(static_cast<ASN1_TYPE*>(p));
}

// Frees the attribute's value, whichever form it has.
void free_value(X509_ATTRIBUTE* attr) {
  if (attr->value.ptr == nullptr) return;
  if (attr->single == 0)
    sk_pop_free(attr->value.set, type_free);
  else
    ASN1_TYPE_free(attr->value.single);
  attr->value.ptr = nullptr;
}

// Types whose value is no string: made from a length they would be
// mistaken for one.
bool string_type(int type) {
  return type > 0 && type != ASN1_UT_OBJECT && type != ASN1_UT_BOOLEAN && type != ASN1_UT_NULL;
}

// The ASN1_TYPE holding one value as X509_ATTRIBUTE_set1_data describes it,
// or null with an error queued.
ASN1_TYPE* make_value(const X509_ATTRIBUTE* attr, int attrtype, const void* data, int len) {
  ASN1_STRING* str = nullptr;
  int type = attrtype;
  if (attrtype < 0) {
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, X509_R_WRONG_TYPE);
    return nullptr;
  }
  if ((attrtype & ASN1_MB_FLAG) != 0) {
    str = ASN1_STRING_set_by_NID(nullptr, static_cast<const unsigned char*>(data), len, attrtype,
                                 OBJ_obj2nid(attr->object));
    if (str == nullptr) {
      X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_ASN1_LIB);
      return nullptr;
    }
    type = str->type;
  } else if (len != -1) {
    if (!string_type(attrtype) || len < -1) {
      X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, X509_R_WRONG_TYPE);
      return nullptr;
    }
    str = ASN1_STRING_type_new(attrtype);
    if (str == nullptr || !ASN1_STRING_set(str, data, len)) {
      ASN1_STRING_free(str);
      X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
  }
  ASN1_TYPE* value = ASN1_TYPE_new();
  if (value == nullptr) {
    ASN1_STRING_free(str);
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (str != nullptr) {
    ASN1_TYPE_set(value, type, str);
  } else if (!ASN1_TYPE_set1(value, attrtype, data)) {
    ASN1_TYPE_free(value);
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  return value;
}

// Fills *attr when attr and *attr are given, else a new attribute; on
// failure only a new attribute is freed.
X509_ATTRIBUTE* create_attr(X509_ATTRIBUTE** attr, const ASN1_OBJECT* obj, int atrtype,
                            const void* data, int len, int func) {
  X509_ATTRIBUTE* ret = attr != nullptr ? *attr : nullptr;
  const bool made = ret == nullptr;
  if (made) {
    ret = X509_ATTRIBUTE_new();
    if (ret == nullptr) {
      X509err(func, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
  }
  if (!X509_ATTRIBUTE_set1_object(ret, obj) || !X509_ATTRIBUTE_set1_data(ret, atrtype, data, len)) {
    if (made) X509_ATTRIBUTE_free(ret);
    return nullptr;
  }
  if (attr != nullptr && *attr == nullptr) *attr = ret;
  return ret;
}

}  // namespace

/* see morvane/x509.h */
X509_ATTRIBUTE* X509_ATTRIBUTE_create_by_OBJ(X509_ATTRIBUTE** attr, const ASN1_OBJECT* obj,
                                             int atrtype, const void* data, int len) {
  if (obj == nullptr) {
    X509err(X509_F_X509_ATTRIBUTE_CREATE_BY_OBJ, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  return create_attr(attr, obj, atrtype, data, len, X509_F_X509_ATTRIBUTE_CREATE_BY_OBJ);
}

/* see morvane/x509.h */
X509_ATTRIBUTE* X509_ATTRIBUTE_create_by_NID(X509_ATTRIBUTE** attr, int nid, int atrtype,
                                             const void* data, int len) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) {
    X509err(X509_F_X509_ATTRIBUTE_CREATE_BY_NID, X509_R_UNKNOWN_NID);
    return nullptr;
  }
  X509_ATTRIBUTE* ret =
      create_attr(attr, obj, atrtype, data, len, X509_F_X509_ATTRIBUTE_CREATE_BY_NID);
  ASN1_OBJECT_free(obj);
  return ret;
}

/* see morvane/x509.h */
X509_ATTRIBUTE* X509_ATTRIBUTE_create_by_txt(X509_ATTRIBUTE** attr, const char* atrname, int type,
                                             const unsigned char* bytes, int len) {
  ASN1_OBJECT* obj = morvane::x509::field_object(atrname, X509_F_X509_ATTRIBUTE_CREATE_BY_TXT);
  if (obj == nullptr) return nullptr;
  X509_ATTRIBUTE* ret =
      create_attr(attr, obj, type, bytes, len, X509_F_X509_ATTRIBUTE_CREATE_BY_TXT);
  ASN1_OBJECT_free(obj);
  return ret;
}

/* see morvane/x509.h */
int X509_ATTRIBUTE_set1_object(X509_ATTRIBUTE* attr, const ASN1_OBJECT* obj) {
  if (attr == nullptr || obj == nullptr) return 0;
  ASN1_OBJECT* copy = OBJ_dup(obj);
  if (copy == nullptr) return 0;
  ASN1_OBJECT_free(attr->object);
  attr->object = copy;
  return 1;
}

/* see morvane/x509.h */
int X509_ATTRIBUTE_set1_data(X509_ATTRIBUTE* attr, int attrtype, const void* data, int len) {
  if (attr == nullptr) return 0;
  ASN1_TYPE* value = nullptr;
  if (attrtype != 0) {
    value = make_value(attr, attrtype, data, len);
    if (value == nullptr) return 0;
  }
  STACK* set = sk_new_null();
  if (set == nullptr || (value != nullptr && !sk_push(set, reinterpret_cast<char*>(value)))) {
    sk_free(set);
    ASN1_TYPE_free(value);
    X509err(X509_F_X509_ATTRIBUTE_SET1_DATA, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  free_value(attr);
  attr->single = 0;
  attr->value.set = set;
  return 1;
}

/* see morvane/x509.h */
int X509_ATTRIBUTE_count(X509_ATTRIBUTE* attr) {
  if (attr == nullptr || attr->value.ptr == nullptr) return 0;
  if (attr->single != 0) return 1;
  return sk_num(attr->value.set);
}

/* see morvane/x509.h */
ASN1_OBJECT* X509_ATTRIBUTE_get0_object(X509_ATTRIBUTE* attr) {
  return attr != nullptr ? attr->object : nullptr;
}

/* see morvane/x509.h */
ASN1_TYPE* X509_ATTRIBUTE_get0_type(X509_ATTRIBUTE* attr, int idx) {
  if (attr == nullptr || idx >= X509_ATTRIBUTE_count(attr)) return nullptr;
  if (attr->single != 0) return attr->value.single;
  return reinterpret_cast<ASN1_TYPE*>(sk_value(attr->value.set, idx));
}

/* see morvane/x509.h */
void* X509_ATTRIBUTE_get0_data(X509_ATTRIBUTE* attr, int idx, int atrtype, void* data) {
  (void)data;
  ASN1_TYPE* t = X509_ATTRIBUTE_get0_type(attr, idx);
  if (t == nullptr) return nullptr;
  if (ASN1_TYPE_get(t) != atrtype) {
    X509err(X509_F_X509_ATTRIBUTE_GET0_DATA, X509_R_WRONG_TYPE);
    return nullptr;
  }
  return t->value.ptr;
}
