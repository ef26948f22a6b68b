// Strong Extranet identifiers: a version and a list of (zone, user) pairs,
// printed one pair a line and built from a list of zone:user pairs.

#include <stdlib.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

ASN1_SEQUENCE(SXNETID) = {
    ASN1_SIMPLE(SXNETID, zone, ASN1_INTEGER),
    ASN1_SIMPLE(SXNETID, user, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SXNETID);

ASN1_SEQUENCE(SXNET) = {
    ASN1_SIMPLE(SXNET, version, ASN1_INTEGER),
    ASN1_SEQUENCE_OF(SXNET, ids, SXNETID),
} ASN1_SEQUENCE_END(SXNET);

namespace {

constexpr size_t kMaxUser = 64;

int sxnet_i2r(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  auto* sx = static_cast<SXNET*>(value);
  const long v = ASN1_INTEGER_get(sx->version);
  if (BIO_printf(out, "%*sVersion: %ld (0x%lX)", indent, "", v + 1,
                 static_cast<unsigned long>(v)) < 0)
    return 0;
  for (int i = 0; i < sk_num(sx->ids); i++) {
    auto* id = reinterpret_cast<SXNETID*>(sk_value(sx->ids, i));
    char* zone = i2s_ASN1_INTEGER(nullptr, id->zone);
    if (zone == nullptr) return 0;
    const int r = BIO_printf(out, "\n%*sZone: %s, User: ", indent, "", zone);
    MORVANE_free(zone);
    if (r < 0 || !ASN1_STRING_print(out, id->user)) return 0;
  }
  return 1;
}

int add_id(SXNET** psx, ASN1_INTEGER* zone, const char* user, int userlen, bool check_zone);

int zone_cmp(const void* a, const void* b) {
  return ASN1_STRING_cmp((*static_cast<SXNETID* const*>(a))->zone,
                         (*static_cast<SXNETID* const*>(b))->zone);
}

// Whether two identifiers of sx share a zone: sorted by zone, with the
// comparison that tells zones apart, so the check is not quadratic.
int shared_zone(const SXNET* sx) {
  const int n = sk_num(sx->ids);
  if (n < 2) return 0;
  auto* ids = static_cast<SXNETID**>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(SXNETID*)));
  if (ids == nullptr) return -1;
  for (int i = 0; i < n; i++) ids[i] = reinterpret_cast<SXNETID*>(sk_value(sx->ids, i));
  qsort(ids, static_cast<size_t>(n), sizeof(SXNETID*), zone_cmp);
  int shared = 0;
  for (int i = 1; shared == 0 && i < n; i++) shared = zone_cmp(&ids[i - 1], &ids[i]) == 0;
  MORVANE_free(ids);
  return shared;
}

void* sxnet_v2i(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/, STACK* values) {
  SXNET* sx = nullptr;
  for (int i = 0; i < sk_num(values); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    ASN1_INTEGER* izone = cnf->name != nullptr ? s2i_ASN1_INTEGER(nullptr, cnf->name) : nullptr;
    if (izone == nullptr) X509V3err(X509V3_F_SXNET_ADD_ID_ASC, X509V3_R_ERROR_CONVERTING_ZONE);
    // Zones are compared once, after the last pair.
    if (izone == nullptr || !add_id(&sx, izone, cnf->value, -1, false)) {
      ASN1_INTEGER_free(izone);
      SXNET_free(sx);
      return nullptr;
    }
  }
  const int shared = sx != nullptr ? shared_zone(sx) : 0;
  if (shared != 0) {
    X509V3err(X509V3_F_SXNET_ADD_ID_INTEGER,
              shared < 0 ? ERR_R_MALLOC_FAILURE : X509V3_R_DUPLICATE_ZONE_ID);
    SXNET_free(sx);
    return nullptr;
  }
  return sx;
}

// A new INTEGER of an unsigned long; null when out of memory.
ASN1_INTEGER* integer_of(unsigned long v) {
  BIGNUM* bn = BN_new();
  ASN1_INTEGER* ai = nullptr;
  if (bn != nullptr && BN_set_word(bn, v)) ai = BN_to_ASN1_INTEGER(bn, nullptr);
  BN_free(bn);
  return ai;
}

constexpr X509V3_EXT_METHOD sxnet_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 143;
  m.ext_flags = X509V3_EXT_MULTILINE;
  m.it = &SXNET_it;
  m.v2i = sxnet_v2i;
  m.i2r = sxnet_i2r;
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_sxnet = sxnet_method();

/* see morvane/x509v3.h */
int SXNET_add_id_asc(SXNET** psx, const char* zone, const char* user, int userlen) {
  ASN1_INTEGER* izone = zone != nullptr ? s2i_ASN1_INTEGER(nullptr, zone) : nullptr;
  if (izone == nullptr) {
    X509V3err(X509V3_F_SXNET_ADD_ID_ASC, X509V3_R_ERROR_CONVERTING_ZONE);
    return 0;
  }
  if (!SXNET_add_id_INTEGER(psx, izone, user, userlen)) {
    ASN1_INTEGER_free(izone);
    return 0;
  }
  return 1;
}

/* see morvane/x509v3.h */
int SXNET_add_id_ulong(SXNET** psx, unsigned long lzone, const char* user, int userlen) {
  ASN1_INTEGER* izone = integer_of(lzone);
  if (izone == nullptr) {
    X509V3err(X509V3_F_SXNET_ADD_ID_ULONG, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (!SXNET_add_id_INTEGER(psx, izone, user, userlen)) {
    ASN1_INTEGER_free(izone);
    return 0;
  }
  return 1;
}

/* see morvane/x509v3.h */
int SXNET_add_id_INTEGER(SXNET** psx, ASN1_INTEGER* zone, const char* user, int userlen) {
  return add_id(psx, zone, user, userlen, true);
}

namespace {

int add_id(SXNET** psx, ASN1_INTEGER* zone, const char* user, int userlen, bool check_zone) {
  if (psx == nullptr || zone == nullptr || user == nullptr) {
    X509V3err(X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  if (userlen < -1) {  // -1 alone takes the text's length
    X509V3err(X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_INVALID_LENGTH);
    return 0;
  }
  const size_t len = userlen < 0 ? strlen(user) : static_cast<size_t>(userlen);
  if (len > kMaxUser) {
    X509V3err(X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_USER_TOO_LONG);
    return 0;
  }
  if (check_zone && *psx != nullptr && SXNET_get_id_INTEGER(*psx, zone) != nullptr) {
    X509V3err(X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_DUPLICATE_ZONE_ID);
    return 0;
  }
  // Only what is made here is freed on failure: a list the caller already
  // holds keeps its identifiers.
  SXNET* created = nullptr;
  SXNETID* id = SXNETID_new();
  if (*psx == nullptr) {
    created = SXNET_new();
    if (created == nullptr || !ASN1_INTEGER_set(created->version, 0)) goto merr;
  }
  {
    SXNET* sx = created != nullptr ? created : *psx;
    if (id == nullptr ||
        !ASN1_OCTET_STRING_set(id->user, reinterpret_cast<const unsigned char*>(user),
                               static_cast<int>(len)) ||
        !sk_push(sx->ids, reinterpret_cast<char*>(id)))
      goto merr;
  }
  ASN1_INTEGER_free(id->zone);
  id->zone = zone;
  if (created != nullptr) *psx = created;
  return 1;

merr:
  X509V3err(X509V3_F_SXNET_ADD_ID_INTEGER, ERR_R_MALLOC_FAILURE);
  SXNETID_free(id);
  SXNET_free(created);
  return 0;
}

}  // namespace

/* see morvane/x509v3.h */
ASN1_OCTET_STRING* SXNET_get_id_asc(SXNET* sx, const char* zone) {
  ASN1_INTEGER* izone = zone != nullptr ? s2i_ASN1_INTEGER(nullptr, zone) : nullptr;
  if (izone == nullptr) {
    X509V3err(X509V3_F_SXNET_GET_ID_ASC, X509V3_R_ERROR_CONVERTING_ZONE);
    return nullptr;
  }
  ASN1_OCTET_STRING* user = SXNET_get_id_INTEGER(sx, izone);
  ASN1_INTEGER_free(izone);
  return user;
}

/* see morvane/x509v3.h */
ASN1_OCTET_STRING* SXNET_get_id_ulong(SXNET* sx, unsigned long lzone) {
  ASN1_INTEGER* izone = integer_of(lzone);
  if (izone == nullptr) {
    X509V3err(X509V3_F_SXNET_GET_ID_ULONG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ASN1_OCTET_STRING* user = SXNET_get_id_INTEGER(sx, izone);
  ASN1_INTEGER_free(izone);
  return user;
}

/* see morvane/x509v3.h */
ASN1_OCTET_STRING* SXNET_get_id_INTEGER(SXNET* sx, ASN1_INTEGER* zone) {
  for (int i = 0; i < sk_num(sx->ids); i++) {
    auto* id = reinterpret_cast<SXNETID*>(sk_value(sx->ids, i));
    if (ASN1_STRING_cmp(id->zone, zone) == 0) return id->user;
  }
  return nullptr;
}
