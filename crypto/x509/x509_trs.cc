// Trust records: whether a certificate's auxiliary trust settings trust it
// for one use.  Seven built-in records and a stack the application adds to.
//
// Implementation notes: the built-in records are writable constant-
// initialised data (X509_TRUST_add changes them in place); the added stack
// is created on first use.  Neither is locked: applications change them
// before verifying.

#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/internal.h"

#include <stddef.h>

static_assert(offsetof(X509_TRUST, check_trust) == 8 && offsetof(X509_TRUST, name) == 16 &&
              offsetof(X509_TRUST, arg1) == 24 && sizeof(X509_TRUST) == 40);

namespace {

constexpr int kNidServerAuth = 129;
constexpr int kNidClientAuth = 130;
constexpr int kNidCodeSign = 131;
constexpr int kNidEmailProtect = 132;
constexpr int kNidOcsp = 178;
constexpr int kNidOcspSign = 180;

int trust_compat(X509_TRUST* trust, X509* x, int flags);
int trust_1oidany(X509_TRUST* trust, X509* x, int flags);
int trust_1oid(X509_TRUST* trust, X509* x, int flags);
int obj_trust(int id, X509* x, int flags);

using TrustFn = int (*)(int, X509*, int);
constinit TrustFn default_trust = obj_trust;

// clang-format off
constinit X509_TRUST trstandard[] = {
    {1, 0, trust_compat, const_cast<char*>("compatible"), 0, nullptr},
    {2, 0, trust_1oidany, const_cast<char*>("SSL Client"), kNidClientAuth, nullptr},
    {3, 0, trust_1oidany, const_cast<char*>("SSL Server"), kNidServerAuth, nullptr},
    {4, 0, trust_1oidany, const_cast<char*>("S/MIME email"), kNidEmailProtect, nullptr},
    {5, 0, trust_1oidany, const_cast<char*>("Object Signer"), kNidCodeSign, nullptr},
    {6, 0, trust_1oid, const_cast<char*>("OCSP responder"), kNidOcspSign, nullptr},
    {7, 0, trust_1oid, const_cast<char*>("OCSP request"), kNidOcsp, nullptr},
};
// clang-format on
constexpr int kTrustCount = sizeof trstandard / sizeof trstandard[0];

constinit STACK* trtable = nullptr;  // of X509_TRUST, ordered by id

int tr_cmp(const char* const* a, const char* const* b) {
  const int ia = reinterpret_cast<const X509_TRUST*>(*a)->trust;
  const int ib = reinterpret_cast<const X509_TRUST*>(*b)->trust;
  return (ia > ib) - (ia < ib);  // ids at both ends of the range differ without overflow
}

void trtable_free(void* p) {
  auto* t = static_cast<X509_TRUST*>(p);
  if (t == nullptr || !(t->flags & X509_TRUST_DYNAMIC)) return;
  if (t->flags & X509_TRUST_DYNAMIC_NAME) MORVANE_free(t->name);
  MORVANE_free(t);
}

// Whether the list (of ASN1_OBJECT) names the use nid.
bool names_use(STACK* list, int nid) {
  for (int i = 0; i < sk_num(list); i++)
    if (OBJ_obj2nid(reinterpret_cast<const ASN1_OBJECT*>(sk_value(list, i))) == nid) return true;
  return false;
}

// The certificate's settings for the use nid: rejected first, then trusted.
int obj_trust(int id, X509* x, int /*flags*/) {
  const X509_CERT_AUX* aux = x->aux;
  if (aux == nullptr) return X509_TRUST_UNTRUSTED;
  if (names_use(aux->reject, id)) return X509_TRUST_REJECTED;
  if (names_use(aux->trust, id)) return X509_TRUST_TRUSTED;
  return X509_TRUST_UNTRUSTED;
}

int trust_1oidany(X509_TRUST* trust, X509* x, int flags) {
  if (x->aux != nullptr && (x->aux->trust != nullptr || x->aux->reject != nullptr))
    return obj_trust(trust->arg1, x, flags);
  // No settings at all: a self-issued certificate counts as trusted.
  return trust_compat(trust, x, flags);
}

int trust_1oid(X509_TRUST* trust, X509* x, int flags) {
  if (x->aux != nullptr) return obj_trust(trust->arg1, x, flags);
  return X509_TRUST_UNTRUSTED;
}

int trust_compat(X509_TRUST* /*trust*/, X509* x, int /*flags*/) {
  X509_check_purpose(x, -1, 0);
  return (morvane::x509v3::flags_of(x) & EXFLAG_SI) ? X509_TRUST_TRUSTED : X509_TRUST_UNTRUSTED;
}

}  // namespace

/* see morvane/x509.h */
int X509_check_trust(X509* x, int id, int flags) {
  if (id == -1) return X509_TRUST_TRUSTED;
  const int idx = X509_TRUST_get_by_id(id);
  if (idx == -1) return default_trust(id, x, flags);
  X509_TRUST* pt = X509_TRUST_get0(idx);
  return pt->check_trust(pt, x, flags);
}

/* see morvane/x509.h */
int (*X509_TRUST_set_default(int (*trust)(int, X509*, int)))(int, X509*, int) {
  TrustFn old = default_trust;
  // A null function is never kept to be called: it means the built-in one.
  default_trust = trust != nullptr ? trust : obj_trust;
  return old;
}

/* see morvane/x509.h */
int X509_TRUST_get_count(void) {
  return trtable == nullptr ? kTrustCount : sk_num(trtable) + kTrustCount;
}

/* see morvane/x509.h */
X509_TRUST* X509_TRUST_get0(int idx) {
  if (idx < 0) return nullptr;
  if (idx < kTrustCount) return &trstandard[idx];
  return reinterpret_cast<X509_TRUST*>(sk_value(trtable, idx - kTrustCount));
}

/* see morvane/x509.h */
int X509_TRUST_get_by_id(int id) {
  if (id >= X509_TRUST_MIN && id <= X509_TRUST_MAX) return id - X509_TRUST_MIN;
  if (trtable == nullptr) return -1;
  X509_TRUST key{};
  key.trust = id;
  const int idx = sk_find(trtable, reinterpret_cast<char*>(&key));
  return idx == -1 ? -1 : idx + kTrustCount;
}

/* see morvane/x509.h */
int X509_TRUST_set(int* t, int trust) {
  if (X509_TRUST_get_by_id(trust) == -1) {
    X509err(X509_F_X509_TRUST_SET, X509_R_INVALID_TRUST);
    return 0;
  }
  *t = trust;
  return 1;
}

/* see morvane/x509.h */
int X509_TRUST_add(int id, int flags, int (*ck)(X509_TRUST*, X509*, int), const char* name,
                   int arg1, void* arg2) {
  // X509_check_trust calls the check function without looking.
  if (ck == nullptr) {
    X509err(X509_F_X509_TRUST_ADD, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // The record's own allocation bit is kept; the caller's is ignored.
  flags &= ~X509_TRUST_DYNAMIC;
  flags |= X509_TRUST_DYNAMIC_NAME;
  const int idx = X509_TRUST_get_by_id(id);
  X509_TRUST* trtmp;
  if (idx == -1) {
    trtmp = static_cast<X509_TRUST*>(MORVANE_malloc(sizeof(X509_TRUST)));
    if (trtmp == nullptr) {
      X509err(X509_F_X509_TRUST_ADD, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    memset(trtmp, 0, sizeof *trtmp);
    trtmp->flags = X509_TRUST_DYNAMIC;
  } else {
    trtmp = X509_TRUST_get0(idx);
  }
  char* copy = name == nullptr ? nullptr : BUF_strdup(name);
  if (name != nullptr && copy == nullptr) {
    X509err(X509_F_X509_TRUST_ADD, ERR_R_MALLOC_FAILURE);
    if (idx == -1) MORVANE_free(trtmp);
    return 0;
  }
  if (trtmp->flags & X509_TRUST_DYNAMIC_NAME) MORVANE_free(trtmp->name);
  trtmp->name = copy;
  trtmp->flags = (trtmp->flags & X509_TRUST_DYNAMIC) | flags;
  trtmp->trust = id;
  trtmp->check_trust = ck;
  trtmp->arg1 = arg1;
  trtmp->arg2 = arg2;
  if (idx == -1) {
    if (trtable == nullptr) trtable = sk_new(tr_cmp);
    if (trtable == nullptr || !sk_push(trtable, reinterpret_cast<char*>(trtmp))) {
      X509err(X509_F_X509_TRUST_ADD, ERR_R_MALLOC_FAILURE);
      trtable_free(trtmp);
      return 0;
    }
    // Sorted here, so that the lookups of verifying threads write nothing.
    sk_sort(trtable);
  }
  return 1;
}

/* see morvane/x509.h */
void X509_TRUST_cleanup(void) {
  sk_pop_free(trtable, trtable_free);
  trtable = nullptr;
}

/* see morvane/x509.h */
int X509_TRUST_get_flags(X509_TRUST* xp) { return xp->flags; }

/* see morvane/x509.h */
char* X509_TRUST_get0_name(X509_TRUST* xp) { return xp->name; }

/* see morvane/x509.h */
int X509_TRUST_get_trust(X509_TRUST* xp) { return xp->trust; }
