// The extension calls of certificates, revocation lists and revocation
// entries and the attribute calls of requests: each is one list operation
// (x509_v3.cc, x509_att.cc) on the object's own stack, generated here from
// one table of owners and one list of operations for each kind of list.  A
// change to the list of a certificate, revocation list or request marks its
// signed part modified, so that it is encoded from its fields again rather
// than from the octets it was decoded from (an entry does not know its list).

#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace {

// The owners: kind of list, function prefix, type, and the field holding
// the stack.
#define MORVANE_LIST_OWNERS(ROW)                   \
  ROW(EXT, X509, X509, cert_info->extensions)      \
  ROW(EXT, X509_CRL, X509_CRL, crl->extensions)    \
  ROW(EXT, X509_REVOKED, X509_REVOKED, extensions) \
  ROW(ATTR, X509_REQ, X509_REQ, req_info->attributes)

// The operations, each defined for one owner by MORVANE_<kind>_<operation>.
// The forms that decode and encode extension values go through the
// extension registry (v3_lib.cc).
#define MORVANE_EXT_OPERATIONS(OP, P, T, F) \
  OP(get_ext_count, P, T, F)                \
  OP(get_ext_by_NID, P, T, F)               \
  OP(get_ext_by_OBJ, P, T, F)               \
  OP(get_ext_by_critical, P, T, F)          \
  OP(get_ext, P, T, F)                      \
  OP(delete_ext, P, T, F)                   \
  OP(add_ext, P, T, F)                      \
  OP(get_ext_d2i, P, T, F)                  \
  OP(add1_ext_i2d, P, T, F)

#define MORVANE_ATTR_OPERATIONS(OP, P, T, F) \
  OP(get_attr_count, P, T, F)                \
  OP(get_attr_by_NID, P, T, F)               \
  OP(get_attr_by_OBJ, P, T, F)               \
  OP(get_attr, P, T, F)                      \
  OP(delete_attr, P, T, F)                   \
  OP(add1_attr, P, T, F)                     \
  OP(add1_attr_by_OBJ, P, T, F)              \
  OP(add1_attr_by_NID, P, T, F)              \
  OP(add1_attr_by_txt, P, T, F)

#define MORVANE_COUNT_ROW(K, P, T, F) +1
#define MORVANE_COUNT_OP(name, P, T, F) +1
constexpr int kOwners = 0 MORVANE_LIST_OWNERS(MORVANE_COUNT_ROW);
constexpr int kExtOperations = 0 MORVANE_EXT_OPERATIONS(MORVANE_COUNT_OP, , , );
constexpr int kAttrOperations = 0 MORVANE_ATTR_OPERATIONS(MORVANE_COUNT_OP, , , );
static_assert(kOwners == 4, "certificates, revocation lists, revocation entries, requests");
static_assert(kExtOperations == 9,
              "count, three searches, get, delete, add, decode and encode");
static_assert(kAttrOperations == 9, "count, two searches, get, delete and four adds");

// Marks the signed part that holds the list as changed.
void changed(X509* x) {
  x->cert_info->enc.modified = 1;
}
void changed(X509_CRL* x) {
  x->crl->enc.modified = 1;
}
void changed(X509_REVOKED*) {}
void changed(X509_REQ* x) {
  x->req_info->enc.modified = 1;
}

// r, after marking x changed when `done`.
template <class T, class R>
R after(T* x, bool done, R r) {
  if (done) changed(x);
  return r;
}

}  // namespace

#define MORVANE_EXT_get_ext_count(P, T, F) \
  int P##_get_ext_count(T* x) {            \
    return X509v3_get_ext_count(x->F);     \
  }
#define MORVANE_EXT_get_ext_by_NID(P, T, F)            \
  int P##_get_ext_by_NID(T* x, int nid, int lastpos) { \
    return X509v3_get_ext_by_NID(x->F, nid, lastpos);  \
  }
#define MORVANE_EXT_get_ext_by_OBJ(P, T, F)                     \
  int P##_get_ext_by_OBJ(T* x, ASN1_OBJECT* obj, int lastpos) { \
    return X509v3_get_ext_by_OBJ(x->F, obj, lastpos);           \
  }
#define MORVANE_EXT_get_ext_by_critical(P, T, F)             \
  int P##_get_ext_by_critical(T* x, int crit, int lastpos) { \
    return X509v3_get_ext_by_critical(x->F, crit, lastpos);  \
  }
#define MORVANE_EXT_get_ext(P, T, F)           \
  X509_EXTENSION* P##_get_ext(T* x, int loc) { \
    return X509v3_get_ext(x->F, loc);          \
  }
#define MORVANE_EXT_delete_ext(P, T, F)           \
  X509_EXTENSION* P##_delete_ext(T* x, int loc) { \
    X509_EXTENSION* e = X509v3_delete_ext(x->F, loc); \
    return after(x, e != nullptr, e);                 \
  }
#define MORVANE_EXT_add_ext(P, T, F)                          \
  int P##_add_ext(T* x, X509_EXTENSION* ex, int loc) {        \
    const bool done = X509v3_add_ext(&x->F, ex, loc) != nullptr; \
    return after(x, done, done ? 1 : 0);                        \
  }
#define MORVANE_EXT_get_ext_d2i(P, T, F)                           \
  void* P##_get_ext_d2i(T* x, int nid, int* crit, int* idx) { \
    return X509V3_get_d2i(x->F, nid, crit, idx);              \
  }
#define MORVANE_EXT_add1_ext_i2d(P, T, F)                                             \
  int P##_add1_ext_i2d(T* x, int nid, void* value, int crit, unsigned long flags) { \
    const int r = X509V3_add1_i2d(&x->F, nid, value, crit, flags);                  \
    return after(x, r == 1, r);                                                     \
  }

#define MORVANE_ATTR_get_attr_count(P, T, F) \
  int P##_get_attr_count(T* x) {             \
    return X509at_get_attr_count(x->F);      \
  }
#define MORVANE_ATTR_get_attr_by_NID(P, T, F)           \
  int P##_get_attr_by_NID(T* x, int nid, int lastpos) { \
    return X509at_get_attr_by_NID(x->F, nid, lastpos);  \
  }
#define MORVANE_ATTR_get_attr_by_OBJ(P, T, F)                    \
  int P##_get_attr_by_OBJ(T* x, ASN1_OBJECT* obj, int lastpos) { \
    return X509at_get_attr_by_OBJ(x->F, obj, lastpos);           \
  }
#define MORVANE_ATTR_get_attr(P, T, F)          \
  X509_ATTRIBUTE* P##_get_attr(T* x, int loc) { \
    return X509at_get_attr(x->F, loc);          \
  }
#define MORVANE_ATTR_delete_attr(P, T, F)          \
  X509_ATTRIBUTE* P##_delete_attr(T* x, int loc) { \
    X509_ATTRIBUTE* a = X509at_delete_attr(x->F, loc); \
    return after(x, a != nullptr, a);                  \
  }
#define MORVANE_ATTR_add1_attr(P, T, F)                      \
  int P##_add1_attr(T* x, X509_ATTRIBUTE* attr) {            \
    const bool done = X509at_add1_attr(&x->F, attr) != nullptr; \
    return after(x, done, done ? 1 : 0);                       \
  }
#define MORVANE_ATTR_add1_attr_by_OBJ(P, T, F)                                                 \
  int P##_add1_attr_by_OBJ(T* x, const ASN1_OBJECT* obj, int type, const unsigned char* bytes, \
                           int len) {                                                          \
    const bool done = X509at_add1_attr_by_OBJ(&x->F, obj, type, bytes, len) != nullptr;        \
    return after(x, done, done ? 1 : 0);                                                       \
  }
#define MORVANE_ATTR_add1_attr_by_NID(P, T, F)                                             \
  int P##_add1_attr_by_NID(T* x, int nid, int type, const unsigned char* bytes, int len) { \
    const bool done = X509at_add1_attr_by_NID(&x->F, nid, type, bytes, len) != nullptr;    \
    return after(x, done, done ? 1 : 0);                                                   \
  }
#define MORVANE_ATTR_add1_attr_by_txt(P, T, F)                                               \
  int P##_add1_attr_by_txt(T* x, const char* attrname, int type, const unsigned char* bytes, \
                           int len) {                                                        \
    const bool done = X509at_add1_attr_by_txt(&x->F, attrname, type, bytes, len) != nullptr; \
    return after(x, done, done ? 1 : 0);                                                     \
  }

#define MORVANE_EXT_DEFINE_OP(name, P, T, F) MORVANE_EXT_##name(P, T, F)
#define MORVANE_ATTR_DEFINE_OP(name, P, T, F) MORVANE_ATTR_##name(P, T, F)
#define MORVANE_DEFINE_ROW(K, P, T, F) MORVANE_##K##_OPERATIONS(MORVANE_##K##_DEFINE_OP, P, T, F)

// see morvane/x509.h
MORVANE_LIST_OWNERS(MORVANE_DEFINE_ROW)
