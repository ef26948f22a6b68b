// Purposes: whether a certificate may be used as an SSL client or server,
// for S/MIME, to sign revocation lists or OCSP responses, judged from its
// cached extension facts; the CA test; the table of purpose records.
//
// Implementation notes: the built-in records are writable constant-
// initialised data (X509_PURPOSE_add changes them in place); the added
// stack is created on first use and kept sorted, so that lookups only read.
// Neither is locked: applications change them before verifying.

#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/internal.h"

#include <stddef.h>

static_assert(offsetof(X509_PURPOSE, check_purpose) == 16 && offsetof(X509_PURPOSE, name) == 24 &&
              offsetof(X509_PURPOSE, usr_data) == 40 && sizeof(X509_PURPOSE) == 48);

namespace {

using morvane::x509v3::flags_of;

// "Forbids": the extension is present and has none of the bits.
bool ku_reject(const X509* x, unsigned long usage) {
  return (flags_of(x) & EXFLAG_KUSAGE) && !(x->ex_kusage & usage);
}
bool xku_reject(const X509* x, unsigned long usage) {
  return (flags_of(x) & EXFLAG_XKUSAGE) && !(x->ex_xkusage & usage);
}
bool ns_reject(const X509* x, unsigned long usage) {
  return (flags_of(x) & EXFLAG_NSCERT) && !(x->ex_nscert & usage);
}

// The CA kinds of X509_check_ca, from the facts.
int check_ca(const X509* x) {
  if (ku_reject(x, KU_KEY_CERT_SIGN)) return 0;
  if (flags_of(x) & EXFLAG_BCONS) return (flags_of(x) & EXFLAG_CA) ? 1 : 0;
  if ((flags_of(x) & (EXFLAG_SI | EXFLAG_V1)) == (EXFLAG_SI | EXFLAG_V1)) return 3;
  if (flags_of(x) & EXFLAG_KUSAGE) return 4;
  if ((flags_of(x) & EXFLAG_NSCERT) && (x->ex_nscert & NS_ANY_CA)) return 5;
  return 0;
}

int check_ssl_ca(const X509* x) {
  const int r = check_ca(x);
  if (r == 0) return 0;
  // A CA only by its Netscape type must be an SSL CA.
  if (r == 5 && !(x->ex_nscert & NS_SSL_CA)) return 0;
  return r;
}

int check_purpose_ssl_client(const X509_PURPOSE*, const X509* x, int ca) {
  if (xku_reject(x, XKU_SSL_CLIENT)) return 0;
  if (ca) return check_ssl_ca(x);
  if (ku_reject(x, KU_DIGITAL_SIGNATURE)) return 0;
  if (ns_reject(x, NS_SSL_CLIENT)) return 0;
  return 1;
}

int check_purpose_ssl_server(const X509_PURPOSE*, const X509* x, int ca) {
  if (xku_reject(x, XKU_SSL_SERVER | XKU_SGC)) return 0;
  if (ca) return check_ssl_ca(x);
  if (ns_reject(x, NS_SSL_SERVER)) return 0;
  if (ku_reject(x, KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT)) return 0;
  return 1;
}

int check_purpose_ns_ssl_server(const X509_PURPOSE* xp, const X509* x, int ca) {
  const int r = check_purpose_ssl_server(xp, x, ca);
  if (r == 0 || ca) return r;
  if (ku_reject(x, KU_KEY_ENCIPHERMENT)) return 0;
  return r;
}

int purpose_smime(const X509* x, int ca) {
  if (xku_reject(x, XKU_SMIME)) return 0;
  if (ca) {
    const int r = check_ca(x);
    if (r == 0) return 0;
    if (r == 5 && !(x->ex_nscert & NS_SMIME_CA)) return 0;
    return r;
  }
  if (flags_of(x) & EXFLAG_NSCERT) {
    if (x->ex_nscert & NS_SMIME) return 1;
    if (x->ex_nscert & NS_SSL_CLIENT) return 2;  // an SSL client certificate only
    return 0;
  }
  return 1;
}

int check_purpose_smime_sign(const X509_PURPOSE*, const X509* x, int ca) {
  const int r = purpose_smime(x, ca);
  if (r == 0 || ca) return r;
  if (ku_reject(x, KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) return 0;
  return r;
}

int check_purpose_smime_encrypt(const X509_PURPOSE*, const X509* x, int ca) {
  const int r = purpose_smime(x, ca);
  if (r == 0 || ca) return r;
  if (ku_reject(x, KU_KEY_ENCIPHERMENT)) return 0;
  return r;
}

int check_purpose_crl_sign(const X509_PURPOSE*, const X509* x, int ca) {
  if (ca) {
    const int r = check_ca(x);
    return r == 2 ? 0 : r;
  }
  return ku_reject(x, KU_CRL_SIGN) ? 0 : 1;
}

// The responder's own checks come with the OCSP response; here a leaf is
// always acceptable.
int ocsp_helper(const X509_PURPOSE*, const X509* x, int ca) { return ca ? check_ca(x) : 1; }

int no_check(const X509_PURPOSE*, const X509*, int) { return 1; }

constexpr X509_PURPOSE purpose(int id, int trust, int (*ck)(const X509_PURPOSE*, const X509*, int),
                               const char* name, const char* sname) {
  return X509_PURPOSE{id, trust, 0, ck, const_cast<char*>(name), const_cast<char*>(sname), nullptr};
}

// clang-format off
constinit X509_PURPOSE xstandard[] = {
    purpose(1, 2, check_purpose_ssl_client, "SSL client", "sslclient"),
    purpose(2, 3, check_purpose_ssl_server, "SSL server", "sslserver"),
    purpose(3, 3, check_purpose_ns_ssl_server, "Netscape SSL server", "nssslserver"),
    purpose(4, 4, check_purpose_smime_sign, "S/MIME signing", "smimesign"),
    purpose(5, 4, check_purpose_smime_encrypt, "S/MIME encryption", "smimeencrypt"),
    purpose(6, 1, check_purpose_crl_sign, "CRL signing", "crlsign"),
    purpose(7, -1, no_check, "Any Purpose", "any"),
    purpose(8, 1, ocsp_helper, "OCSP helper", "ocsphelper"),
};
// clang-format on
constexpr int kPurposeCount = sizeof xstandard / sizeof xstandard[0];

constinit STACK* xptable = nullptr;  // of X509_PURPOSE, ordered by id

int xp_cmp(const char* const* a, const char* const* b) {
  const int ia = reinterpret_cast<const X509_PURPOSE*>(*a)->purpose;
  const int ib = reinterpret_cast<const X509_PURPOSE*>(*b)->purpose;
  return (ia > ib) - (ia < ib);  // ids at both ends of the range differ without overflow
}

void xptable_free(void* p) {
  auto* xp = static_cast<X509_PURPOSE*>(p);
  if (xp == nullptr || !(xp->flags & X509_PURPOSE_DYNAMIC)) return;
  if (xp->flags & X509_PURPOSE_DYNAMIC_NAME) {
    MORVANE_free(xp->name);
    MORVANE_free(xp->sname);
  }
  MORVANE_free(xp);
}

}  // namespace

/* see morvane/x509v3.h */
int X509_check_purpose(X509* x, int id, int ca) {
  // Without its facts no certificate is suitable for anything.
  if (!morvane::x509v3::cache_extensions(x)) return 0;
  if (id == -1) return 1;
  const int idx = X509_PURPOSE_get_by_id(id);
  if (idx == -1) return -1;
  const X509_PURPOSE* pt = X509_PURPOSE_get0(idx);
  return pt->check_purpose(pt, x, ca);
}

/* see morvane/x509v3.h */
int X509_check_ca(X509* x) {
  if (!morvane::x509v3::cache_extensions(x)) return 0;
  return check_ca(x);
}

/* see morvane/x509v3.h */
int X509_PURPOSE_get_count(void) {
  return xptable == nullptr ? kPurposeCount : sk_num(xptable) + kPurposeCount;
}

/* see morvane/x509v3.h */
X509_PURPOSE* X509_PURPOSE_get0(int idx) {
  if (idx < 0) return nullptr;
  if (idx < kPurposeCount) return &xstandard[idx];
  return reinterpret_cast<X509_PURPOSE*>(sk_value(xptable, idx - kPurposeCount));
}

/* see morvane/x509v3.h */
int X509_PURPOSE_get_by_sname(const char* sname) {
  if (sname == nullptr) return -1;
  for (int i = 0; i < X509_PURPOSE_get_count(); i++)
    if (const char* s = X509_PURPOSE_get0(i)->sname; s != nullptr && strcmp(s, sname) == 0) return i;
  return -1;
}

/* see morvane/x509v3.h */
int X509_PURPOSE_get_by_id(int id) {
  if (id >= X509_PURPOSE_MIN && id <= X509_PURPOSE_MAX) return id - X509_PURPOSE_MIN;
  if (xptable == nullptr) return -1;
  X509_PURPOSE key{};
  key.purpose = id;
  const int idx = sk_find(xptable, reinterpret_cast<char*>(&key));
  return idx == -1 ? -1 : idx + kPurposeCount;
}

/* see morvane/x509v3.h */
int X509_PURPOSE_set(int* p, int purpose) {
  if (X509_PURPOSE_get_by_id(purpose) == -1) {
    X509V3err(X509V3_F_X509_PURPOSE_SET, X509V3_R_INVALID_PURPOSE);
    return 0;
  }
  *p = purpose;
  return 1;
}

/* see morvane/x509v3.h */
int X509_PURPOSE_add(int id, int trust, int flags,
                     int (*ck)(const X509_PURPOSE*, const X509*, int), const char* name,
                     const char* sname, void* arg) {
  // X509_check_purpose calls the check function without looking.
  if (ck == nullptr) {
    X509V3err(X509V3_F_X509_PURPOSE_ADD, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // The record's own allocation bit is kept; the caller's is ignored.
  flags &= ~X509_PURPOSE_DYNAMIC;
  flags |= X509_PURPOSE_DYNAMIC_NAME;
  const int idx = X509_PURPOSE_get_by_id(id);
  // Lookups by short name find the first record that has it: a short name of
  // another record would leave this one unreachable by name.
  if (sname != nullptr) {
    const int named = X509_PURPOSE_get_by_sname(sname);
    if (named != -1 && named != idx) {
      X509V3err(X509V3_F_X509_PURPOSE_ADD, X509V3_R_PURPOSE_NAME_EXISTS);
      ERR_add_error_data(2, "sname=", sname);
      return 0;
    }
  }
  X509_PURPOSE* ptmp;
  if (idx == -1) {
    ptmp = static_cast<X509_PURPOSE*>(MORVANE_malloc(sizeof(X509_PURPOSE)));
    if (ptmp == nullptr) {
      X509V3err(X509V3_F_X509_PURPOSE_ADD, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    memset(ptmp, 0, sizeof *ptmp);
    ptmp->flags = X509_PURPOSE_DYNAMIC;
  } else {
    ptmp = X509_PURPOSE_get0(idx);
  }
  char* name_copy = name == nullptr ? nullptr : BUF_strdup(name);
  char* sname_copy = sname == nullptr ? nullptr : BUF_strdup(sname);
  if ((name != nullptr && name_copy == nullptr) || (sname != nullptr && sname_copy == nullptr)) {
    X509V3err(X509V3_F_X509_PURPOSE_ADD, ERR_R_MALLOC_FAILURE);
    MORVANE_free(name_copy);
    MORVANE_free(sname_copy);
    if (idx == -1) MORVANE_free(ptmp);
    return 0;
  }
  if (ptmp->flags & X509_PURPOSE_DYNAMIC_NAME) {
    MORVANE_free(ptmp->name);
    MORVANE_free(ptmp->sname);
  }
  ptmp->name = name_copy;
  ptmp->sname = sname_copy;
  ptmp->flags = (ptmp->flags & X509_PURPOSE_DYNAMIC) | flags;
  ptmp->purpose = id;
  ptmp->trust = trust;
  ptmp->check_purpose = ck;
  ptmp->usr_data = arg;
  if (idx == -1) {
    if (xptable == nullptr) xptable = sk_new(xp_cmp);
    if (xptable == nullptr || !sk_push(xptable, reinterpret_cast<char*>(ptmp))) {
      X509V3err(X509V3_F_X509_PURPOSE_ADD, ERR_R_MALLOC_FAILURE);
      xptable_free(ptmp);
      return 0;
    }
    // Sorted here, under the application's set-up, so that the lookups of
    // verifying threads find it sorted and write nothing.
    sk_sort(xptable);
  }
  return 1;
}

/* see morvane/x509v3.h */
void X509_PURPOSE_cleanup(void) {
  sk_pop_free(xptable, xptable_free);
  xptable = nullptr;
}

/* see morvane/x509v3.h */
int X509_PURPOSE_get_id(X509_PURPOSE* xp) { return xp->purpose; }

/* see morvane/x509v3.h */
char* X509_PURPOSE_get0_name(X509_PURPOSE* xp) { return xp->name; }

/* see morvane/x509v3.h */
char* X509_PURPOSE_get0_sname(X509_PURPOSE* xp) { return xp->sname; }

/* see morvane/x509v3.h */
int X509_PURPOSE_get_trust(X509_PURPOSE* xp) { return xp->trust; }
