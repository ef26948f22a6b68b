// certificatePolicies (RFC 5280, 4.2.1.4): the value types, the text form
// with qualifiers and user notices, and the builder that reads policies from
// a list and configuration sections.  Also the text form of a node of a
// certificate-policy tree.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"
#include "x509v3/pcy_int.h"

namespace {
constexpr int kNidCps = 164;      // id-qt-cps
constexpr int kNidUnotice = 165;  // id-qt-unotice
}  // namespace

// clang-format off
ASN1_ITEM_TEMPLATE(CERTIFICATEPOLICIES) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SEQUENCE_OF, 0, CERTIFICATEPOLICIES, POLICYINFO)
ASN1_ITEM_TEMPLATE_END(CERTIFICATEPOLICIES);
// clang-format on

ASN1_SEQUENCE(POLICYINFO) = {
    ASN1_SIMPLE(POLICYINFO, policyid, ASN1_OBJECT),
    ASN1_SEQUENCE_OF_OPT(POLICYINFO, qualifiers, POLICYQUALINFO),
} ASN1_SEQUENCE_END(POLICYINFO);

ASN1_ADB_TEMPLATE(policydefault) = ASN1_SIMPLE(POLICYQUALINFO, d.other, ASN1_ANY);

ASN1_ADB(POLICYQUALINFO) = {
    ASN1_ADB_ENTRY(kNidCps, ASN1_SIMPLE(POLICYQUALINFO, d.cpsuri, ASN1_IA5STRING)),
    ASN1_ADB_ENTRY(kNidUnotice, ASN1_SIMPLE(POLICYQUALINFO, d.usernotice, USERNOTICE)),
} ASN1_ADB_END(POLICYQUALINFO, 0, pqualid, 0, &policydefault_tt, nullptr);

ASN1_SEQUENCE(POLICYQUALINFO) = {
    ASN1_SIMPLE(POLICYQUALINFO, pqualid, ASN1_OBJECT),
    ASN1_ADB_OBJECT(POLICYQUALINFO),
} ASN1_SEQUENCE_END(POLICYQUALINFO);

ASN1_SEQUENCE(USERNOTICE) = {
    ASN1_OPT(USERNOTICE, noticeref, NOTICEREF),
    ASN1_OPT(USERNOTICE, exptext, DISPLAYTEXT),
} ASN1_SEQUENCE_END(USERNOTICE);

ASN1_SEQUENCE(NOTICEREF) = {
    ASN1_SIMPLE(NOTICEREF, organization, DISPLAYTEXT),
    ASN1_SEQUENCE_OF(NOTICEREF, noticenos, ASN1_INTEGER),
} ASN1_SEQUENCE_END(NOTICEREF);

namespace {

using morvane::x509v3::value_context;

void free_policyinfo(void* p) {
  POLICYINFO_free(static_cast<POLICYINFO*>(p));
}

// A new string of the given type holding text; null when out of memory.
ASN1_STRING* string_of(int type, const char* text) {
  const size_t len = strlen(text);
  ASN1_STRING* s = ASN1_STRING_type_new(type);
  if (s == nullptr || len > INT_MAX || !ASN1_STRING_set(s, text, static_cast<int>(len))) {
    ASN1_STRING_free(s);
    return nullptr;
  }
  return s;
}

// Appends item to *list, creating the list; false when out of memory.
bool push_new(STACK** list, void* item) {
  if (*list == nullptr && (*list = sk_new_null()) == nullptr) return false;
  return sk_push(*list, static_cast<char*>(item)) != 0;
}

// The items of a noticeNumbers list, each an integer, appended to nnums.
bool nref_nos(STACK* nnums, STACK* nos) {
  for (int i = 0; i < sk_num(nos); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(nos, i));
    ASN1_INTEGER* aint = cnf->name != nullptr ? s2i_ASN1_INTEGER(nullptr, cnf->name) : nullptr;
    if (aint == nullptr) {
      X509V3err(X509V3_F_NREF_NOS, X509V3_R_INVALID_NUMBER);
      return false;
    }
    if (!sk_push(nnums, reinterpret_cast<char*>(aint))) {
      ASN1_INTEGER_free(aint);
      X509V3err(X509V3_F_NREF_NOS, ERR_R_MALLOC_FAILURE);
      return false;
    }
  }
  return true;
}

// A user-notice qualifier from a notice section.
POLICYQUALINFO* notice_section(STACK* unot, bool ia5org) {
  POLICYQUALINFO* qual = POLICYQUALINFO_new();
  USERNOTICE* notice = USERNOTICE_new();
  if (qual == nullptr || notice == nullptr) {
    POLICYQUALINFO_free(qual);
    USERNOTICE_free(notice);
    X509V3err(X509V3_F_NOTICE_SECTION, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  qual->pqualid = OBJ_nid2obj(kNidUnotice);
  qual->d.usernotice = notice;
  bool has_organization = false;
  for (int i = 0; i < sk_num(unot); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(unot, i));
    const char* name = cnf->name != nullptr ? cnf->name : "";
    const char* value = cnf->value != nullptr ? cnf->value : "";
    if (strcmp(name, "explicitText") == 0) {
      ASN1_STRING* text = string_of(ASN1_UT_VISIBLESTRING, value);
      if (text == nullptr) goto merr;
      ASN1_STRING_free(notice->exptext);
      notice->exptext = text;
    } else if (strcmp(name, "organization") == 0) {
      if (notice->noticeref == nullptr && (notice->noticeref = NOTICEREF_new()) == nullptr)
        goto merr;
      ASN1_STRING* org =
          string_of(ia5org ? ASN1_UT_IA5STRING : ASN1_UT_VISIBLESTRING, value);
      if (org == nullptr) goto merr;
      ASN1_STRING_free(notice->noticeref->organization);
      notice->noticeref->organization = org;
      has_organization = true;
    } else if (strcmp(name, "noticeNumbers") == 0) {
      if (notice->noticeref == nullptr && (notice->noticeref = NOTICEREF_new()) == nullptr)
        goto merr;
      if (notice->noticeref->noticenos == nullptr &&
          (notice->noticeref->noticenos = sk_new_null()) == nullptr)
        goto merr;
      STACK* nos = X509V3_parse_list(value);
      if (nos == nullptr || sk_num(nos) == 0) {
        sk_pop_free(nos, morvane::x509v3::free_conf_value);
        X509V3err(X509V3_F_NOTICE_SECTION, X509V3_R_INVALID_NUMBERS);
        value_context(cnf);
        goto err;
      }
      const bool ok = nref_nos(notice->noticeref->noticenos, nos);
      sk_pop_free(nos, morvane::x509v3::free_conf_value);
      if (!ok) goto err;
    } else {
      X509V3err(X509V3_F_NOTICE_SECTION, X509V3_R_INVALID_OPTION);
      value_context(cnf);
      goto err;
    }
  }
  if (notice->noticeref != nullptr &&
      (!has_organization || sk_num(notice->noticeref->noticenos) <= 0)) {
    X509V3err(X509V3_F_NOTICE_SECTION, X509V3_R_NEED_ORGANIZATION_AND_NUMBERS);
    goto err;
  }
  return qual;

merr:
  X509V3err(X509V3_F_NOTICE_SECTION, ERR_R_MALLOC_FAILURE);
err:
  POLICYQUALINFO_free(qual);
  return nullptr;
}

// One policy from a policy section.
POLICYINFO* policy_section(X509V3_CTX* ctx, STACK* polstrs, bool ia5org) {
  POLICYINFO* pol = POLICYINFO_new();
  if (pol == nullptr) {
    X509V3err(X509V3_F_POLICY_SECTION, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  bool has_id = false;  // a new POLICYINFO holds an empty object
  for (int i = 0; i < sk_num(polstrs); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(polstrs, i));
    const char* name = cnf->name != nullptr ? cnf->name : "";
    const char* value = cnf->value != nullptr ? cnf->value : "";
    if (strcmp(name, "policyIdentifier") == 0) {
      ASN1_OBJECT* obj = OBJ_txt2obj(value, 0);
      if (obj == nullptr) {
        X509V3err(X509V3_F_POLICY_SECTION, X509V3_R_INVALID_OBJECT_IDENTIFIER);
        value_context(cnf);
        goto err;
      }
      ASN1_OBJECT_free(pol->policyid);
      pol->policyid = obj;
      has_id = true;
    } else if (name_cmp(name, "CPS") == 0) {
      POLICYQUALINFO* qual = POLICYQUALINFO_new();
      if (qual == nullptr) goto merr;
      qual->pqualid = OBJ_nid2obj(kNidCps);
      qual->d.cpsuri = string_of(ASN1_UT_IA5STRING, value);
      if (qual->d.cpsuri == nullptr || !push_new(&pol->qualifiers, qual)) {
        POLICYQUALINFO_free(qual);
        goto merr;
      }
    } else if (name_cmp(name, "userNotice") == 0) {
      if (value[0] != '@') {
        X509V3err(X509V3_F_POLICY_SECTION, X509V3_R_EXPECTED_A_SECTION_NAME);
        value_context(cnf);
        goto err;
      }
      STACK* unot = X509V3_get_section(ctx, value + 1);
      if (unot == nullptr) {
        X509V3err(X509V3_F_POLICY_SECTION, X509V3_R_INVALID_SECTION);
        value_context(cnf);
        goto err;
      }
      POLICYQUALINFO* qual = notice_section(unot, ia5org);
      X509V3_section_free(ctx, unot);
      if (qual == nullptr) goto err;
      if (!push_new(&pol->qualifiers, qual)) {
        POLICYQUALINFO_free(qual);
        goto merr;
      }
    } else {
      X509V3err(X509V3_F_POLICY_SECTION, X509V3_R_INVALID_OPTION);
      value_context(cnf);
      goto err;
    }
  }
  if (!has_id) {
    X509V3err(X509V3_F_POLICY_SECTION, X509V3_R_NO_POLICY_IDENTIFIER);
    goto err;
  }
  return pol;

merr:
  X509V3err(X509V3_F_POLICY_SECTION, ERR_R_MALLOC_FAILURE);
err:
  POLICYINFO_free(pol);
  return nullptr;
}

void* r2i_certpol(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* ctx, const char* value) {
  STACK* vals = value != nullptr ? X509V3_parse_list(value) : nullptr;
  if (vals == nullptr) {
    X509V3err(X509V3_F_R2I_CERTPOL, ERR_R_X509V3_LIB);
    return nullptr;
  }
  CERTIFICATEPOLICIES* pols = sk_new_null();
  bool ia5org = false;
  if (pols == nullptr) {
    X509V3err(X509V3_F_R2I_CERTPOL, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  for (int i = 0; i < sk_num(vals); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(vals, i));
    if (cnf->value != nullptr || cnf->name == nullptr) {
      X509V3err(X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_POLICY_IDENTIFIER);
      value_context(cnf);
      goto err;
    }
    const char* name = cnf->name;
    if (strcmp(name, "ia5org") == 0) {
      ia5org = true;
      continue;
    }
    POLICYINFO* pol;
    if (name[0] == '@') {
      STACK* polsect = X509V3_get_section(ctx, name + 1);
      if (polsect == nullptr) {
        X509V3err(X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_SECTION);
        value_context(cnf);
        goto err;
      }
      pol = policy_section(ctx, polsect, ia5org);
      X509V3_section_free(ctx, polsect);
      if (pol == nullptr) goto err;
    } else {
      ASN1_OBJECT* obj = OBJ_txt2obj(name, 0);
      if (obj == nullptr) {
        X509V3err(X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_OBJECT_IDENTIFIER);
        value_context(cnf);
        goto err;
      }
      if ((pol = POLICYINFO_new()) == nullptr) {
        ASN1_OBJECT_free(obj);
        X509V3err(X509V3_F_R2I_CERTPOL, ERR_R_MALLOC_FAILURE);
        goto err;
      }
      ASN1_OBJECT_free(pol->policyid);
      pol->policyid = obj;
    }
    if (!sk_push(pols, reinterpret_cast<char*>(pol))) {
      POLICYINFO_free(pol);
      X509V3err(X509V3_F_R2I_CERTPOL, ERR_R_MALLOC_FAILURE);
      goto err;
    }
  }
  // certificatePolicies is a SEQUENCE SIZE (1..MAX) (RFC 5280, 4.2.1.4): a
  // list of options alone ("ia5org") names no policy.
  if (sk_num(pols) == 0) {
    X509V3err(X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_POLICY_IDENTIFIER);
    goto err;
  }
  sk_pop_free(vals, morvane::x509v3::free_conf_value);
  return pols;

err:
  sk_pop_free(vals, morvane::x509v3::free_conf_value);
  sk_pop_free(pols, free_policyinfo);
  return nullptr;
}

// Text of a DisplayText (or IA5String) value as it stands.
int print_string(BIO* out, const char* format, int indent, const ASN1_STRING* s) {
  const int len = s != nullptr && s->data != nullptr ? s->length : 0;
  const char* data = len > 0 ? reinterpret_cast<const char*>(s->data) : "";
  return BIO_printf(out, format, indent, "", len, data) >= 0;
}

int print_notice(BIO* out, USERNOTICE* notice, int indent) {
  if (NOTICEREF* ref = notice->noticeref) {
    if (!print_string(out, "%*sOrganization: %.*s\n", indent, ref->organization)) return 0;
    const int n = sk_num(ref->noticenos);
    if (BIO_printf(out, "%*sNumber%s: ", indent, "", n > 1 ? "s" : "") < 0) return 0;
    for (int i = 0; i < n; i++) {
      char* text =
          i2s_ASN1_INTEGER(nullptr, reinterpret_cast<ASN1_INTEGER*>(sk_value(ref->noticenos, i)));
      if (text == nullptr) return 0;
      const int r = BIO_printf(out, "%s%s", i > 0 ? ", " : "", text);
      MORVANE_free(text);
      if (r < 0) return 0;
    }
    if (BIO_puts(out, "\n") <= 0) return 0;
  }
  if (notice->exptext != nullptr &&
      !print_string(out, "%*sExplicit Text: %.*s\n", indent, notice->exptext))
    return 0;
  return 1;
}

int i2r_certpol(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  auto* pols = static_cast<CERTIFICATEPOLICIES*>(value);
  for (int i = 0; i < sk_num(pols); i++) {
    auto* pinfo = reinterpret_cast<POLICYINFO*>(sk_value(pols, i));
    if (BIO_printf(out, "%*sPolicy: ", indent, "") < 0 ||
        i2a_ASN1_OBJECT(out, pinfo->policyid) <= 0 || BIO_puts(out, "\n") <= 0)
      return 0;
    if (pinfo->qualifiers != nullptr &&
        !morvane::x509v3::print_qualifiers(out, pinfo->qualifiers, indent + 2))
      return 0;
  }
  return 1;
}

constexpr X509V3_EXT_METHOD cpols_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 89;
  m.it = &CERTIFICATEPOLICIES_it;
  m.i2r = i2r_certpol;
  m.r2i = r2i_certpol;
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_cpols = cpols_method();

namespace morvane::x509v3 {

int print_qualifiers(BIO* out, STACK* quals, int indent) {
  for (int i = 0; i < sk_num(quals); i++) {
    auto* qual = reinterpret_cast<POLICYQUALINFO*>(sk_value(quals, i));
    switch (OBJ_obj2nid(qual->pqualid)) {
      case kNidCps:
        if (!print_string(out, "%*sCPS: %.*s\n", indent, qual->d.cpsuri)) return 0;
        break;
      case kNidUnotice:
        if (BIO_printf(out, "%*sUser Notice:\n", indent, "") < 0 ||
            !print_notice(out, qual->d.usernotice, indent + 2))
          return 0;
        break;
      default:
        if (BIO_printf(out, "%*sUnknown Qualifier: ", indent + 2, "") < 0 ||
            i2a_ASN1_OBJECT(out, qual->pqualid) <= 0 || BIO_puts(out, "\n") <= 0)
          return 0;
        break;
    }
  }
  return 1;
}

}  // namespace morvane::x509v3

/* see morvane/x509v3.h */
void X509_POLICY_NODE_print(BIO* out, X509_POLICY_NODE* node, int indent) {
  const X509_POLICY_DATA* dat = node->data;
  BIO_printf(out, "%*sPolicy: ", indent, "");
  i2a_ASN1_OBJECT(out, dat->valid_policy);
  BIO_puts(out, "\n");
  BIO_printf(out, "%*s%s\n", indent + 2, "",
             (dat->flags & POLICY_DATA_FLAG_CRITICAL) ? "Critical" : "Non Critical");
  if (dat->qualifier_set != nullptr)
    morvane::x509v3::print_qualifiers(out, dat->qualifier_set, indent + 2);
  else
    BIO_printf(out, "%*sNo Qualifiers\n", indent + 2, "");
}
