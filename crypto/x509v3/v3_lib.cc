// The extension registry: the built-in methods, sorted by NID, and the list
// that applications extend at run time; decoding an extension through its
// method, and searching and adding extensions of a list by NID.

#include <stdlib.h>
#include <string.h>

#include <iterator>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_methods.h"
#include "x509v3/ext_more.h"
#include "x509v3/internal.h"

namespace {

// The built-in methods, in ascending NID order for the binary search.  The
// NID column repeats each method's ext_nid so that the order can be checked
// at compile time (some records live in other files); the registry tests
// check that the two agree.
struct StandardExt {
  int nid;
  const X509V3_EXT_METHOD* method;
};

constexpr StandardExt standard_exts[] = {
    {71, &v3_nscert},
    {72, &v3_ns_ia5_list[0]},               // nsBaseUrl
    {73, &v3_ns_ia5_list[1]},               // nsRevocationUrl
    {74, &v3_ns_ia5_list[2]},               // nsCaRevocationUrl
    {75, &v3_ns_ia5_list[3]},               // nsRenewalUrl
    {76, &v3_ns_ia5_list[4]},               // nsCaPolicyUrl
    {77, &v3_ns_ia5_list[5]},               // nsSslServerName
    {78, &v3_ns_ia5_list[6]},               // nsComment
    {82, &morvane::v3::skey_id},            // subjectKeyIdentifier
    {83, &v3_key_usage},
    {84, &v3_pkey_usage_period},
    {85, &morvane::v3::subject_alt},        // subjectAltName
    {86, &morvane::v3::issuer_alt},         // issuerAltName
    {87, &morvane::v3::basic_constraints},  // basicConstraints
    {88, &v3_crl_num},
    {89, &v3_cpols},
    {90, &morvane::v3::authority_key_id},   // authorityKeyIdentifier
    {103, &morvane::v3::crl_dist_points},   // crlDistributionPoints
    {126, &v3_ext_ku},
    {140, &v3_delta_crl},
    {141, &v3_crl_reason},
    {142, &v3_crl_invdate},
    {143, &v3_sxnet},
    {177, &morvane::v3::info_access},       // authorityInfoAccess
    {366, &v3_ocsp_nonce},
    {367, &v3_ocsp_crlid},
    {368, &v3_ocsp_accresp},
    {369, &v3_ocsp_nocheck},
    {370, &v3_ocsp_acutoff},
    {371, &v3_ocsp_serviceloc},
    {398, &morvane::v3::subject_info_access},  // subjectInfoAccess
    {401, &morvane::v3::policy_constraints},   // policyConstraints
    {430, &v3_crl_hold},
    {663, &v3_pci},
    {666, &morvane::v3::name_constraints},  // nameConstraints
    {747, &morvane::v3::policy_mappings},   // policyMappings
    {748, &v3_inhibit_anyp},
};

constexpr bool sorted_by_nid() {
  for (size_t i = 1; i < std::size(standard_exts); i++)
    if (standard_exts[i - 1].nid >= standard_exts[i].nid) return false;
  return true;
}
static_assert(sorted_by_nid(), "standard_exts is searched by NID in ascending order");

// The methods applications add: a stack ordered by NID on search.  Changed
// without a lock: registration happens before other threads use the library.
constinit STACK* ext_list = nullptr;

int ext_cmp(const char* const* a, const char* const* b) {
  const int na = reinterpret_cast<const X509V3_EXT_METHOD*>(*a)->ext_nid;
  const int nb = reinterpret_cast<const X509V3_EXT_METHOD*>(*b)->ext_nid;
  return (na > nb) - (na < nb);
}

const X509V3_EXT_METHOD* standard_method(int nid) {
  size_t lo = 0, hi = std::size(standard_exts);
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const int n = standard_exts[mid].nid;
    if (n == nid) return standard_exts[mid].method;
    if (n < nid)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

void free_list_entry(void* p) {
  auto* method = static_cast<X509V3_EXT_METHOD*>(p);
  if (method->ext_flags & X509V3_EXT_DYNAMIC) MORVANE_free(method);
}

void free_extension(void* p) {
  X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p));
}

}  // namespace

/* see morvane/x509v3.h */
int X509V3_EXT_add(X509V3_EXT_METHOD* ext) {
  if (ext_list == nullptr && (ext_list = sk_new(ext_cmp)) == nullptr) {
    X509V3err(X509V3_F_X509V3_EXT_ADD, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (!sk_push(ext_list, reinterpret_cast<char*>(ext))) {
    X509V3err(X509V3_F_X509V3_EXT_ADD, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/x509v3.h */
int X509V3_EXT_add_list(X509V3_EXT_METHOD* extlist) {
  for (; extlist->ext_nid != -1; extlist++)
    if (!X509V3_EXT_add(extlist)) return 0;
  return 1;
}

/* see morvane/x509v3.h */
int X509V3_EXT_add_alias(int nid_to, int nid_from) {
  const X509V3_EXT_METHOD* from = X509V3_EXT_get_nid(nid_from);
  if (from == nullptr) {
    X509V3err(X509V3_F_X509V3_EXT_ADD_ALIAS, X509V3_R_EXTENSION_NOT_FOUND);
    return 0;
  }
  auto* copy = static_cast<X509V3_EXT_METHOD*>(MORVANE_malloc(sizeof(X509V3_EXT_METHOD)));
  if (copy == nullptr) {
    X509V3err(X509V3_F_X509V3_EXT_ADD_ALIAS, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  *copy = *from;
  copy->ext_nid = nid_to;
  copy->ext_flags |= X509V3_EXT_DYNAMIC;
  if (!X509V3_EXT_add(copy)) {
    MORVANE_free(copy);
    return 0;
  }
  return 1;
}

/* see morvane/x509v3.h */
const X509V3_EXT_METHOD* X509V3_EXT_get_nid(int nid) {
  if (nid < 0) return nullptr;
  if (const X509V3_EXT_METHOD* m = standard_method(nid)) return m;
  if (ext_list == nullptr) return nullptr;
  X509V3_EXT_METHOD key = {};
  key.ext_nid = nid;
  const int i = sk_find(ext_list, reinterpret_cast<char*>(&key));
  if (i < 0) return nullptr;
  return reinterpret_cast<const X509V3_EXT_METHOD*>(sk_value(ext_list, i));
}

/* see morvane/x509v3.h */
const X509V3_EXT_METHOD* X509V3_EXT_get(X509_EXTENSION* ext) {
  const int nid = OBJ_obj2nid(ext->object);
  if (nid == 0) return nullptr;  // no NID for this object
  return X509V3_EXT_get_nid(nid);
}

/* see morvane/x509v3.h */
void X509V3_EXT_cleanup(void) {
  sk_pop_free(ext_list, free_list_entry);
  ext_list = nullptr;
}

/* see morvane/x509v3.h */
int X509V3_add_standard_extensions(void) {
  return 1;
}

namespace morvane::x509v3 {

void free_value(const X509V3_EXT_METHOD* method, void* value) {
  if (method->it != nullptr)
    ASN1_item_free(static_cast<ASN1_VALUE*>(value), method->it);
  else if (method->ext_free != nullptr)
    method->ext_free(value);
}

}  // namespace morvane::x509v3

/* see morvane/x509v3.h */
void* X509V3_EXT_d2i(X509_EXTENSION* ext) {
  const X509V3_EXT_METHOD* method = X509V3_EXT_get(ext);
  if (method == nullptr || ext->value == nullptr) return nullptr;
  const unsigned char* p = ext->value->data;
  const long len = ext->value->length;
  void* value = nullptr;
  if (method->it != nullptr)
    value = ASN1_item_d2i(nullptr, &p, len, method->it);
  else if (method->d2i != nullptr)
    value = method->d2i(nullptr, &p, len);
  // The extnValue is the DER of the value and nothing after it (RFC 5280,
  // 4.1): bytes beyond make the extension as undecodable as a broken value.
  if (value != nullptr && p != ext->value->data + len) {
    X509V3err(X509V3_F_X509V3_EXT_D2I, X509V3_R_EXTENSION_VALUE_ERROR);
    morvane::x509v3::free_value(method, value);
    return nullptr;
  }
  return value;
}

/* see morvane/x509v3.h */
void* X509V3_get_d2i(STACK* x, int nid, int* crit, int* idx) {
  X509_EXTENSION* found = nullptr;
  if (x != nullptr) {
    int start = 0;
    if (idx != nullptr) start = *idx < 0 ? 0 : *idx + 1;
    for (int i = start; i < sk_num(x); i++) {
      auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(x, i));
      if (OBJ_obj2nid(ex->object) != nid) continue;
      if (idx != nullptr) {
        *idx = i;
        found = ex;
        break;
      }
      if (found != nullptr) {  // more than once
        if (crit != nullptr) *crit = -2;
        return nullptr;
      }
      found = ex;
    }
  }
  if (found != nullptr) {
    if (crit != nullptr) *crit = X509_EXTENSION_get_critical(found);
    return X509V3_EXT_d2i(found);
  }
  if (idx != nullptr) *idx = -1;
  if (crit != nullptr) *crit = -1;
  return nullptr;
}

/* see morvane/x509v3.h */
int X509V3_add1_i2d(STACK** x, int nid, void* value, int crit, unsigned long flags) {
  const unsigned long op = flags & X509V3_ADD_OP_MASK;
  int reason = 0;
  int pos = -1;
  if (op != X509V3_ADD_APPEND) {
    for (int i = 0; i < sk_num(*x); i++) {
      if (OBJ_obj2nid(reinterpret_cast<X509_EXTENSION*>(sk_value(*x, i))->object) == nid) {
        pos = i;
        break;
      }
    }
  }
  if (pos >= 0) {
    if (op == X509V3_ADD_KEEP_EXISTING) return 1;
    if (op == X509V3_ADD_DEFAULT) reason = X509V3_R_EXTENSION_EXISTS;
    if (op == X509V3_ADD_DELETE) {
      X509_EXTENSION* gone = reinterpret_cast<X509_EXTENSION*>(sk_delete(*x, pos));
      if (gone == nullptr) return -1;
      X509_EXTENSION_free(gone);
      return 1;
    }
  } else if (op == X509V3_ADD_REPLACE_EXISTING || op == X509V3_ADD_DELETE) {
    reason = X509V3_R_EXTENSION_NOT_FOUND;
  }
  if (reason != 0) {
    if (!(flags & X509V3_ADD_SILENT)) X509V3err(X509V3_F_X509V3_ADD1_I2D, reason);
    return 0;
  }
  X509_EXTENSION* ext = X509V3_EXT_i2d(nid, crit, value);
  if (ext == nullptr) {
    X509V3err(X509V3_F_X509V3_ADD1_I2D, X509V3_R_ERROR_CREATING_EXTENSION);
    return 0;
  }
  if (pos >= 0) {
    X509_EXTENSION_free(reinterpret_cast<X509_EXTENSION*>(sk_value(*x, pos)));
    sk_set(*x, pos, reinterpret_cast<char*>(ext));
    return 1;
  }
  STACK* created = nullptr;
  if (*x == nullptr && (created = *x = sk_new_null()) == nullptr) {
    X509_EXTENSION_free(ext);
    X509V3err(X509V3_F_X509V3_ADD1_I2D, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  if (!sk_push(*x, reinterpret_cast<char*>(ext))) {
    X509_EXTENSION_free(ext);
    if (created != nullptr) {
      sk_pop_free(created, free_extension);
      *x = nullptr;
    }
    X509V3err(X509V3_F_X509V3_ADD1_I2D, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  return 1;
}

/* see morvane/x509v3.h */
X509_EXTENSION* X509V3_EXT_i2d(int ext_nid, int crit, void* ext_struc) {
  const X509V3_EXT_METHOD* method = X509V3_EXT_get_nid(ext_nid);
  if (method == nullptr) {
    X509V3err(X509V3_F_X509V3_EXT_I2D, X509V3_R_UNKNOWN_EXTENSION);
    return nullptr;
  }
  unsigned char* der = nullptr;
  int len;
  if (method->it != nullptr) {
    len = ASN1_item_i2d(static_cast<ASN1_VALUE*>(ext_struc), &der, method->it);
  } else {
    len = method->i2d != nullptr ? method->i2d(ext_struc, nullptr) : -1;
    if (len >= 0 &&
        (der = static_cast<unsigned char*>(MORVANE_malloc(len > 0 ? len : 1))) != nullptr) {
      unsigned char* p = der;
      if (method->i2d(ext_struc, &p) != len || p - der != len) len = -1;
    }
  }
  X509_EXTENSION* ext = nullptr;
  ASN1_OCTET_STRING* octets = nullptr;
  if (len >= 0 && der != nullptr && (octets = ASN1_OCTET_STRING_new()) != nullptr) {
    ASN1_STRING_set0(octets, der, len);  // the OCTET STRING frees it
    der = nullptr;
    ext = X509_EXTENSION_create_by_NID(nullptr, ext_nid, crit, octets);
  }
  ASN1_OCTET_STRING_free(octets);
  MORVANE_free(der);
  if (ext == nullptr) X509V3err(X509V3_F_DO_EXT_I2D, ERR_R_MALLOC_FAILURE);
  return ext;
}
