// Where to find things: CRL distribution points (RFC 5280, 4.2.1.13) and
// authority and subject information access (4.2.2.1 and 4.2.2.2).

#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_methods.h"

/* see morvane/x509v3.h */
int i2a_ACCESS_DESCRIPTION(BIO* bp, ACCESS_DESCRIPTION* a) {
  if (a == nullptr) return 0;
  i2a_ASN1_OBJECT(bp, a->method);
  return 2;
}

namespace morvane::v3 {

STACK* i2v_crld(const X509V3_EXT_METHOD* /*method*/, void* value, STACK* list) {
  auto* crld = static_cast<CRL_DIST_POINTS*>(value);
  STACK* const given = list;
  for (int i = 0; i < sk_num(crld); i++) {
    auto* point = reinterpret_cast<DIST_POINT*>(sk_value(crld, i));
    if (point->distpoint != nullptr) {
      if (point->distpoint->type == 0) {
        // It frees only a list it made itself.
        STACK* next = i2v_GENERAL_NAMES(nullptr, point->distpoint->name.fullname, list);
        if (next == nullptr) return drop_pairs(list, given);
        list = next;
      } else if (!X509V3_add_value("RelativeName", "<UNSUPPORTED>", &list)) {
        return drop_pairs(list, given);
      }
    }
    if (point->reasons != nullptr && !X509V3_add_value("reasons", "<UNSUPPORTED>", &list))
      return drop_pairs(list, given);
    if (point->CRLissuer != nullptr && !X509V3_add_value("CRLissuer", "<UNSUPPORTED>", &list))
      return drop_pairs(list, given);
  }
  return list;
}

// Each pair is one general name, the full name of one distribution point.
void* v2i_crld(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values) {
  CRL_DIST_POINTS* crld = CRL_DIST_POINTS_new();
  if (crld == nullptr) goto memerr;
  for (int i = 0; i < sk_num(values); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    GENERAL_NAME* gen = v2i_GENERAL_NAME(method, ctx, cnf);
    if (gen == nullptr) goto err;
    GENERAL_NAMES* gens = GENERAL_NAMES_new();
    if (gens == nullptr || !sk_push(gens, reinterpret_cast<char*>(gen))) {
      GENERAL_NAME_free(gen);
      GENERAL_NAMES_free(gens);
      goto memerr;
    }
    DIST_POINT* point = DIST_POINT_new();
    if (point == nullptr || (point->distpoint = DIST_POINT_NAME_new()) == nullptr ||
        !sk_push(crld, reinterpret_cast<char*>(point))) {
      GENERAL_NAMES_free(gens);
      DIST_POINT_free(point);
      goto memerr;
    }
    point->distpoint->type = 0;
    point->distpoint->name.fullname = gens;
  }
  return crld;
memerr:
  X509V3err(X509V3_F_V2I_CRLD, ERR_R_MALLOC_FAILURE);
err:
  CRL_DIST_POINTS_free(crld);
  return nullptr;
}

// Each description prints as its location's pair renamed "METHOD - NAME".
STACK* i2v_info(const X509V3_EXT_METHOD* method, void* value, STACK* list) {
  auto* ainfo = static_cast<AUTHORITY_INFO_ACCESS*>(value);
  STACK* ret = nullptr;
  static_cast<void>(list);  // the pairs of this extension start a list of their own
  for (int i = 0; i < sk_num(ainfo); i++) {
    auto* desc = reinterpret_cast<ACCESS_DESCRIPTION*>(sk_value(ainfo, i));
    const int before = sk_num(ret);
    STACK* next = i2v_GENERAL_NAME(const_cast<X509V3_EXT_METHOD*>(method), desc->location, ret);
    if (next == nullptr) goto err;
    ret = next;
    if (sk_num(ret) == before) continue;  // a location of no known type adds nothing
    auto* pair = reinterpret_cast<CONF_VALUE*>(sk_value(ret, sk_num(ret) - 1));
    char objtmp[80];
    i2t_ASN1_OBJECT(objtmp, sizeof objtmp, desc->method);
    const size_t n = strlen(objtmp) + strlen(pair->name) + 4;
    auto* name = static_cast<char*>(MORVANE_malloc(n));
    if (name == nullptr) {
      X509V3err(X509V3_F_I2V_AUTHORITY_INFO_ACCESS, ERR_R_MALLOC_FAILURE);
      goto err;
    }
    snprintf(name, n, "%s - %s", objtmp, pair->name);
    MORVANE_free(pair->name);
    pair->name = name;
  }
  return ret;
err:
  sk_pop_free(ret, [](void* v) { X509V3_conf_free(static_cast<CONF_VALUE*>(v)); });
  return nullptr;
}

// Pairs "METHOD;TYPE" with a general name's value, for example
// OCSP;URI:http://ocsp.example.
void* v2i_info(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values) {
  AUTHORITY_INFO_ACCESS* ainfo = AUTHORITY_INFO_ACCESS_new();
  if (ainfo == nullptr) goto memerr;
  for (int i = 0; i < sk_num(values); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    ACCESS_DESCRIPTION* acc = ACCESS_DESCRIPTION_new();
    if (acc == nullptr || !sk_push(ainfo, reinterpret_cast<char*>(acc))) {
      ACCESS_DESCRIPTION_free(acc);
      goto memerr;
    }
    const char* semi = strchr(cnf->name, ';');
    if (semi == nullptr) {
      X509V3err(X509V3_F_V2I_AUTHORITY_INFO_ACCESS, X509V3_R_INVALID_SYNTAX);
      goto err;
    }
    CONF_VALUE ctmp = {};
    ctmp.name = const_cast<char*>(semi + 1);
    ctmp.value = cnf->value;
    if (v2i_GENERAL_NAME_ex(acc->location, method, ctx, &ctmp, 0) == nullptr) goto err;
    const size_t n = static_cast<size_t>(semi - cnf->name);
    auto* objtmp = static_cast<char*>(MORVANE_malloc(n + 1));
    if (objtmp == nullptr) goto memerr;
    memcpy(objtmp, cnf->name, n);
    objtmp[n] = '\0';
    ASN1_OBJECT* obj = OBJ_txt2obj(objtmp, 0);
    if (obj == nullptr) {
      X509V3err(X509V3_F_V2I_AUTHORITY_INFO_ACCESS, X509V3_R_BAD_OBJECT);
      ERR_add_error_data(2, "value=", objtmp);
      MORVANE_free(objtmp);
      goto err;
    }
    MORVANE_free(objtmp);
    ASN1_OBJECT_free(acc->method);
    acc->method = obj;
  }
  return ainfo;
memerr:
  X509V3err(X509V3_F_V2I_AUTHORITY_INFO_ACCESS, ERR_R_MALLOC_FAILURE);
err:
  AUTHORITY_INFO_ACCESS_free(ainfo);
  return nullptr;
}

}  // namespace morvane::v3
