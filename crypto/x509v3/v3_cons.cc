// Constraints: basic constraints (RFC 5280, 4.2.1.9), name constraints
// (4.2.1.10), policy constraints (4.2.1.11) and policy mappings (4.2.1.5).

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_methods.h"

namespace morvane::v3 {

void add_value_context(const CONF_VALUE* value) {
  ERR_add_error_data(6, "section:", value->section, ",name:", value->name, ",value:",
                     value->value);
}

STACK* i2v_bcons(const X509V3_EXT_METHOD* /*method*/, void* value, STACK* list) {
  auto* bcons = static_cast<BASIC_CONSTRAINTS*>(value);
  STACK* const given = list;
  if (!X509V3_add_value_bool("CA", bcons->ca, &list) ||
      !X509V3_add_value_int("pathlen", bcons->pathlen, &list))
    return drop_pairs(list, given);
  return list;
}

void* v2i_bcons(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/, STACK* values) {
  BASIC_CONSTRAINTS* bcons = BASIC_CONSTRAINTS_new();
  if (bcons == nullptr) {
    X509V3err(X509V3_F_V2I_BASIC_CONSTRAINTS, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    if (strcmp(val->name, "CA") == 0) {
      if (!X509V3_get_value_bool(val, &bcons->ca)) goto err;
    } else if (strcmp(val->name, "pathlen") == 0) {
      ASN1_INTEGER_free(bcons->pathlen);
      bcons->pathlen = nullptr;
      if (!X509V3_get_value_int(val, &bcons->pathlen)) goto err;
    } else {
      X509V3err(X509V3_F_V2I_BASIC_CONSTRAINTS, X509V3_R_INVALID_NAME);
      add_value_context(val);
      goto err;
    }
  }
  return bcons;
err:
  BASIC_CONSTRAINTS_free(bcons);
  return nullptr;
}

STACK* i2v_pcons(const X509V3_EXT_METHOD* /*method*/, void* value, STACK* list) {
  auto* pcons = static_cast<POLICY_CONSTRAINTS*>(value);
  STACK* const given = list;
  if (!X509V3_add_value_int("Require Explicit Policy", pcons->requireExplicitPolicy, &list) ||
      !X509V3_add_value_int("Inhibit Policy Mapping", pcons->inhibitPolicyMapping, &list))
    return drop_pairs(list, given);
  return list;
}

void* v2i_pcons(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/, STACK* values) {
  POLICY_CONSTRAINTS* pcons = POLICY_CONSTRAINTS_new();
  if (pcons == nullptr) {
    X509V3err(X509V3_F_V2I_POLICY_CONSTRAINTS, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    ASN1_INTEGER** field = nullptr;
    if (strcmp(val->name, "requireExplicitPolicy") == 0) {
      field = &pcons->requireExplicitPolicy;
    } else if (strcmp(val->name, "inhibitPolicyMapping") == 0) {
      field = &pcons->inhibitPolicyMapping;
    } else {
      X509V3err(X509V3_F_V2I_POLICY_CONSTRAINTS, X509V3_R_INVALID_NAME);
      add_value_context(val);
      goto err;
    }
    ASN1_INTEGER_free(*field);
    *field = nullptr;
    if (!X509V3_get_value_int(val, field)) goto err;
  }
  if (pcons->requireExplicitPolicy == nullptr && pcons->inhibitPolicyMapping == nullptr) {
    X509V3err(X509V3_F_V2I_POLICY_CONSTRAINTS, X509V3_R_ILLEGAL_EMPTY_EXTENSION);
    goto err;
  }
  return pcons;
err:
  POLICY_CONSTRAINTS_free(pcons);
  return nullptr;
}

STACK* i2v_pmaps(const X509V3_EXT_METHOD* /*method*/, void* value, STACK* list) {
  auto* pmaps = static_cast<POLICY_MAPPINGS*>(value);
  STACK* const given = list;
  for (int i = 0; i < sk_num(pmaps); i++) {
    auto* pmap = reinterpret_cast<POLICY_MAPPING*>(sk_value(pmaps, i));
    char issuer[80], subject[80];
    i2t_ASN1_OBJECT(issuer, sizeof issuer, pmap->issuerDomainPolicy);
    i2t_ASN1_OBJECT(subject, sizeof subject, pmap->subjectDomainPolicy);
    if (!X509V3_add_value(issuer, subject, &list)) return drop_pairs(list, given);
  }
  return list;
}

void* v2i_pmaps(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/, STACK* values) {
  POLICY_MAPPINGS* pmaps = sk_new_null();
  if (pmaps == nullptr) {
    X509V3err(X509V3_F_V2I_POLICY_MAPPINGS, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    ASN1_OBJECT* issuer = nullptr;
    ASN1_OBJECT* subject = nullptr;
    if (val->name != nullptr && val->value != nullptr) {
      issuer = OBJ_txt2obj(val->name, 0);
      subject = OBJ_txt2obj(val->value, 0);
    }
    if (issuer == nullptr || subject == nullptr) {
      ASN1_OBJECT_free(issuer);
      ASN1_OBJECT_free(subject);
      X509V3err(X509V3_F_V2I_POLICY_MAPPINGS, X509V3_R_INVALID_OBJECT_IDENTIFIER);
      add_value_context(val);
      goto err;
    }
    POLICY_MAPPING* pmap = POLICY_MAPPING_new();
    if (pmap == nullptr || !sk_push(pmaps, reinterpret_cast<char*>(pmap))) {
      POLICY_MAPPING_free(pmap);
      ASN1_OBJECT_free(issuer);
      ASN1_OBJECT_free(subject);
      X509V3err(X509V3_F_V2I_POLICY_MAPPINGS, ERR_R_MALLOC_FAILURE);
      goto err;
    }
    ASN1_OBJECT_free(pmap->issuerDomainPolicy);
    ASN1_OBJECT_free(pmap->subjectDomainPolicy);
    pmap->issuerDomainPolicy = issuer;
    pmap->subjectDomainPolicy = subject;
  }
  return pmaps;
err:
  sk_pop_free(pmaps, [](void* p) { POLICY_MAPPING_free(static_cast<POLICY_MAPPING*>(p)); });
  return nullptr;
}

}  // namespace morvane::v3

namespace {

// An address and mask of name constraints: "IP:" and the two halves.
void print_nc_ipadd(BIO* bp, const ASN1_OCTET_STRING* ip) {
  const unsigned char* p = ip->data;
  BIO_puts(bp, "IP:");
  if (ip->length == 8) {
    BIO_printf(bp, "%d.%d.%d.%d/%d.%d.%d.%d", p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
  } else if (ip->length == 32) {
    for (int i = 0; i < 16; i++) {
      BIO_printf(bp, "%X", (p[2 * i] << 8) | p[2 * i + 1]);
      if (i == 7)
        BIO_puts(bp, "/");
      else if (i != 15)
        BIO_puts(bp, ":");
    }
  } else {
    BIO_printf(bp, "IP Address:<invalid>");
  }
}

void print_subtrees(STACK* trees, BIO* bp, int indent, const char* heading) {
  if (sk_num(trees) > 0) BIO_printf(bp, "%*s%s:\n", indent, "", heading);
  for (int i = 0; i < sk_num(trees); i++) {
    auto* tree = reinterpret_cast<GENERAL_SUBTREE*>(sk_value(trees, i));
    BIO_printf(bp, "%*s", indent + 2, "");
    if (tree->base->type == GEN_IPADD)
      print_nc_ipadd(bp, tree->base->d.ip);
    else
      GENERAL_NAME_print(bp, tree->base);
    BIO_puts(bp, "\n");
  }
}

}  // namespace

namespace morvane::v3 {

// Pairs "permitted;TYPE" or "excluded;TYPE" with a general name's value (an
// IP value is an address and a mask); the character after the keyword is
// skipped whatever it is.
void* v2i_ncons(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values) {
  NAME_CONSTRAINTS* ncons = NAME_CONSTRAINTS_new();
  if (ncons == nullptr) {
    X509V3err(X509V3_F_V2I_NAME_CONSTRAINTS, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    STACK** trees;
    CONF_VALUE tval = {};
    if (strncmp(val->name, "permitted", 9) == 0 && val->name[9] != '\0') {
      trees = &ncons->permittedSubtrees;
      tval.name = val->name + 10;
    } else if (strncmp(val->name, "excluded", 8) == 0 && val->name[8] != '\0') {
      trees = &ncons->excludedSubtrees;
      tval.name = val->name + 9;
    } else {
      X509V3err(X509V3_F_V2I_NAME_CONSTRAINTS, X509V3_R_INVALID_SYNTAX);
      goto err;
    }
    tval.value = val->value;
    GENERAL_SUBTREE* sub = GENERAL_SUBTREE_new();
    if (sub == nullptr) {
      X509V3err(X509V3_F_V2I_NAME_CONSTRAINTS, ERR_R_MALLOC_FAILURE);
      goto err;
    }
    if (v2i_GENERAL_NAME_ex(sub->base, method, ctx, &tval, 1) == nullptr) {
      GENERAL_SUBTREE_free(sub);
      goto err;
    }
    if ((*trees == nullptr && (*trees = sk_new_null()) == nullptr) ||
        !sk_push(*trees, reinterpret_cast<char*>(sub))) {
      GENERAL_SUBTREE_free(sub);
      X509V3err(X509V3_F_V2I_NAME_CONSTRAINTS, ERR_R_MALLOC_FAILURE);
      goto err;
    }
  }
  return ncons;
err:
  NAME_CONSTRAINTS_free(ncons);
  return nullptr;
}

int i2r_ncons(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  auto* ncons = static_cast<NAME_CONSTRAINTS*>(value);
  print_subtrees(ncons->permittedSubtrees, out, indent, "Permitted");
  print_subtrees(ncons->excludedSubtrees, out, indent, "Excluded");
  return 1;
}

}  // namespace morvane::v3
