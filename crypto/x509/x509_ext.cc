// The extension calls of certificates, revocation lists and revocation
// entries: each is one list operation (x509_v3.cc) on the object's own
// stack, generated here from one table of owners and one of operations.

#include <morvane/x509.h>

namespace {

// The owners: function prefix, type, and the field holding the stack.
#define MORVANE_EXT_OWNERS(ROW)            \
  ROW(X509, X509, cert_info->extensions)   \
  ROW(X509_CRL, X509_CRL, crl->extensions) \
  ROW(X509_REVOKED, X509_REVOKED, extensions)

// The operations, each defined for one owner by MORVANE_EXT_<operation>.
// The forms that decode and encode extension values go through the
// extension registry and join this list with it.
#define MORVANE_EXT_OPERATIONS(OP, P, T, F) \
  OP(get_ext_count, P, T, F)                \
  OP(get_ext_by_NID, P, T, F)               \
  OP(get_ext_by_OBJ, P, T, F)               \
  OP(get_ext_by_critical, P, T, F)          \
  OP(get_ext, P, T, F)                      \
  OP(delete_ext, P, T, F)                   \
  OP(add_ext, P, T, F)

#define MORVANE_COUNT_ROW(P, T, F) +1
#define MORVANE_COUNT_OP(name, P, T, F) +1
constexpr int kOwners = 0 MORVANE_EXT_OWNERS(MORVANE_COUNT_ROW);
constexpr int kOperations = 0 MORVANE_EXT_OPERATIONS(MORVANE_COUNT_OP, , , );
static_assert(kOwners == 3, "certificates, revocation lists and revocation entries");
static_assert(kOperations == 7, "count, three searches, get, delete and add");

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
    return X509v3_delete_ext(x->F, loc);          \
  }
#define MORVANE_EXT_add_ext(P, T, F)                          \
  int P##_add_ext(T* x, X509_EXTENSION* ex, int loc) {        \
    return X509v3_add_ext(&x->F, ex, loc) != nullptr ? 1 : 0; \
  }

#define MORVANE_EXT_DEFINE_OP(name, P, T, F) MORVANE_EXT_##name(P, T, F)
#define MORVANE_EXT_DEFINE_ROW(P, T, F) MORVANE_EXT_OPERATIONS(MORVANE_EXT_DEFINE_OP, P, T, F)

// see morvane/x509.h
MORVANE_EXT_OWNERS(MORVANE_EXT_DEFINE_ROW)
