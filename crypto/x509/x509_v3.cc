// Extension lists (STACKs of X509_EXTENSION): counting, searching by object
// or criticality, removing and inserting copies; and the building and
// reading of single extensions.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

X509_EXTENSION* ext_at(const STACK* x, int i) {
  return reinterpret_cast<X509_EXTENSION*>(sk_value(x, i));
}

// The first index after lastpos (from 0 when negative) whose extension
// satisfies `match`, or -1.
template <class Match>
int search(const STACK* x, int lastpos, Match match) {
  if (x == nullptr) return -1;
  const int n = sk_num(x);
  if (lastpos >= n) return -1;  // also keeps lastpos + 1 from overflowing
  for (int i = lastpos < 0 ? 0 : lastpos + 1; i < n; i++)
    if (match(ext_at(x, i))) return i;
  return -1;
}

// Fills *ex when ex and *ex are given, else a new extension; on failure
// only a new extension is freed.
X509_EXTENSION* create_ext(X509_EXTENSION** ex, ASN1_OBJECT* obj, int crit,
                           ASN1_OCTET_STRING* data) {
  X509_EXTENSION* ret = ex != nullptr ? *ex : nullptr;
  const bool made = ret == nullptr;
  if (made) {
    ret = X509_EXTENSION_new();
    if (ret == nullptr) {
      X509err(X509_F_X509_EXTENSION_CREATE_BY_OBJ, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
  }
  if (!X509_EXTENSION_set_object(ret, obj) || !X509_EXTENSION_set_critical(ret, crit) ||
      !X509_EXTENSION_set_data(ret, data)) {
    if (made) X509_EXTENSION_free(ret);
    return nullptr;
  }
  if (ex != nullptr && *ex == nullptr) *ex = ret;
  return ret;
}

}  // namespace

/* see morvane/x509.h */
int X509v3_get_ext_count(const STACK* x) {
  if (x == nullptr) return 0;
  return sk_num(x);
}

/* see morvane/x509.h */
int X509v3_get_ext_by_NID(const STACK* x, int nid, int lastpos) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) return -2;
  return X509v3_get_ext_by_OBJ(x, obj, lastpos);
}

/* see morvane/x509.h */
int X509v3_get_ext_by_OBJ(const STACK* x, ASN1_OBJECT* obj, int lastpos) {
  if (obj == nullptr) return -1;
  return search(x, lastpos,
                [obj](const X509_EXTENSION* ex) { return OBJ_cmp(ex->object, obj) == 0; });
}

/* see morvane/x509.h */
int X509v3_get_ext_by_critical(const STACK* x, int crit, int lastpos) {
  const bool want = crit != 0;
  return search(x, lastpos,
                [want](const X509_EXTENSION* ex) { return (ex->critical > 0) == want; });
}

/* see morvane/x509.h */
X509_EXTENSION* X509v3_get_ext(const STACK* x, int loc) {
  if (x == nullptr || loc < 0 || loc >= sk_num(x)) return nullptr;
  return ext_at(x, loc);
}

/* see morvane/x509.h */
X509_EXTENSION* X509v3_delete_ext(STACK* x, int loc) {
  if (x == nullptr || loc < 0 || loc >= sk_num(x)) return nullptr;
  return reinterpret_cast<X509_EXTENSION*>(sk_delete(x, loc));
}

/* see morvane/x509.h */
STACK* X509v3_add_ext(STACK** x, X509_EXTENSION* ex, int loc) {
  if (x == nullptr) {
    X509err(X509_F_X509V3_ADD_EXT, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  STACK* sk = *x;
  if (sk == nullptr) {
    sk = sk_new_null();
    if (sk == nullptr) {
      X509err(X509_F_X509V3_ADD_EXT, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
  }
  X509_EXTENSION* copy = X509_EXTENSION_dup(ex);
  if (copy == nullptr) {
    if (sk != *x) sk_free(sk);
    return nullptr;
  }
  const int n = sk_num(sk);
  if (loc > n || loc < 0) loc = n;
  if (!sk_insert(sk, reinterpret_cast<char*>(copy), loc)) {
    X509err(X509_F_X509V3_ADD_EXT, ERR_R_MALLOC_FAILURE);
    X509_EXTENSION_free(copy);
    if (sk != *x) sk_free(sk);
    return nullptr;
  }
  *x = sk;
  return sk;
}

/* see morvane/x509.h */
X509_EXTENSION* X509_EXTENSION_create_by_NID(X509_EXTENSION** ex, int nid, int crit,
                                             ASN1_OCTET_STRING* data) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) {
    X509err(X509_F_X509_EXTENSION_CREATE_BY_NID, X509_R_UNKNOWN_NID);
    return nullptr;
  }
  X509_EXTENSION* ret = create_ext(ex, obj, crit, data);
  ASN1_OBJECT_free(obj);
  return ret;
}

/* see morvane/x509.h */
X509_EXTENSION* X509_EXTENSION_create_by_OBJ(X509_EXTENSION** ex, ASN1_OBJECT* obj, int crit,
                                             ASN1_OCTET_STRING* data) {
  return create_ext(ex, obj, crit, data);
}

/* see morvane/x509.h */
int X509_EXTENSION_set_object(X509_EXTENSION* ex, ASN1_OBJECT* obj) {
  if (ex == nullptr || obj == nullptr) return 0;
  ASN1_OBJECT* copy = OBJ_dup(obj);
  if (copy == nullptr) return 0;
  ASN1_OBJECT_free(ex->object);
  ex->object = copy;
  return 1;
}

/* see morvane/x509.h */
int X509_EXTENSION_set_critical(X509_EXTENSION* ex, int crit) {
  if (ex == nullptr) return 0;
  ex->critical = crit != 0 ? 0xFF : -1;
  return 1;
}

/* see morvane/x509.h */
int X509_EXTENSION_set_data(X509_EXTENSION* ex, ASN1_OCTET_STRING* data) {
  if (ex == nullptr || data == nullptr) return 0;
  if (ex->value == nullptr) {
    ex->value = ASN1_STRING_type_new(ASN1_UT_OCTET_STRING);
    if (ex->value == nullptr) return 0;
  }
  return ASN1_STRING_set(ex->value, data->data, data->length) ? 1 : 0;
}

/* see morvane/x509.h */
ASN1_OBJECT* X509_EXTENSION_get_object(X509_EXTENSION* ex) {
  return ex != nullptr ? ex->object : nullptr;
}

/* see morvane/x509.h */
ASN1_OCTET_STRING* X509_EXTENSION_get_data(X509_EXTENSION* ex) {
  return ex != nullptr ? ex->value : nullptr;
}

/* see morvane/x509.h */
int X509_EXTENSION_get_critical(X509_EXTENSION* ex) {
  return ex != nullptr && ex->critical > 0 ? 1 : 0;
}
