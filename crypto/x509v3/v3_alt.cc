// General names as text (RFC 5280, 4.2.1.6): their printed forms, building
// them from name/value pairs, and the subject and issuer alternative-name
// extensions (4.2.1.6 and 4.2.1.7) with their "copy" and "move" options.

#include <limits.h>
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

namespace {

constexpr int kNidEmailAddress = 48;           // 1.2.840.113549.1.9.1
constexpr unsigned long kMbstringAsc = 0x1001;  // text read as ASCII
constexpr unsigned long kNameOneLine = 0x82031F; // X509_NAME_print_ex one-line form

void free_name(void* p) {
  GENERAL_NAME_free(static_cast<GENERAL_NAME*>(p));
}

const char* text_of(const ASN1_STRING* s) {
  return s != nullptr && s->data != nullptr ? reinterpret_cast<const char*>(s->data) : "";
}
int length_of(const ASN1_STRING* s) {
  return s != nullptr && s->data != nullptr ? s->length : 0;
}

// The eight groups of a 16-octet address as "%X" joined by ':'.
void ipv6_text(char* out, size_t room, const unsigned char* p) {
  size_t used = 0;
  for (int i = 0; i < 8; i++) {
    used += static_cast<size_t>(snprintf(out + used, room - used, i == 0 ? "%X" : ":%X",
                                         (p[2 * i] << 8) | p[2 * i + 1]));
  }
}

}  // namespace

namespace morvane::v3 {

ASN1_IA5STRING* ia5_from_text(const char* text) {
  const size_t len = strlen(text);
  if (len > INT_MAX) return nullptr;
  ASN1_IA5STRING* s = ASN1_IA5STRING_new();
  if (s != nullptr && !ASN1_STRING_set(s, text, static_cast<int>(len))) {
    ASN1_IA5STRING_free(s);
    return nullptr;
  }
  return s;
}

}  // namespace morvane::v3

/* see morvane/x509v3.h */
STACK* i2v_GENERAL_NAME(X509V3_EXT_METHOD* /*method*/, GENERAL_NAME* gen, STACK* ret) {
  char buf[256];
  int ok = 1;
  switch (gen->type) {
    case GEN_OTHERNAME:
      ok = X509V3_add_value("othername", "<unsupported>", &ret);
      break;
    case GEN_X400:
      ok = X509V3_add_value("X400Name", "<unsupported>", &ret);
      break;
    case GEN_EDIPARTY:
      ok = X509V3_add_value("EdiPartyName", "<unsupported>", &ret);
      break;
    case GEN_EMAIL:
      ok = X509V3_add_value_uchar("email", gen->d.ia5->data, &ret);
      break;
    case GEN_DNS:
      ok = X509V3_add_value_uchar("DNS", gen->d.ia5->data, &ret);
      break;
    case GEN_URI:
      ok = X509V3_add_value_uchar("URI", gen->d.ia5->data, &ret);
      break;
    case GEN_DIRNAME:
      if (X509_NAME_oneline(gen->d.dirn, buf, sizeof buf) == nullptr) buf[0] = '\0';
      ok = X509V3_add_value("DirName", buf, &ret);
      break;
    case GEN_IPADD: {
      const unsigned char* p = gen->d.ip->data;
      if (gen->d.ip->length == 4)
        snprintf(buf, sizeof buf, "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
      else if (gen->d.ip->length == 16)
        ipv6_text(buf, sizeof buf, p);
      else
        snprintf(buf, sizeof buf, "<invalid>");
      ok = X509V3_add_value("IP Address", buf, &ret);
      break;
    }
    case GEN_RID:
      i2t_ASN1_OBJECT(buf, sizeof buf, gen->d.rid);
      ok = X509V3_add_value("Registered ID", buf, &ret);
      break;
    default:
      break;
  }
  return ok ? ret : nullptr;
}

/* see morvane/x509v3.h */
STACK* i2v_GENERAL_NAMES(X509V3_EXT_METHOD* method, GENERAL_NAMES* gens, STACK* ret) {
  STACK* const given = ret;
  for (int i = 0; i < sk_num(gens); i++) {
    auto* gen = reinterpret_cast<GENERAL_NAME*>(sk_value(gens, i));
    STACK* next = i2v_GENERAL_NAME(method, gen, ret);
    if (next == nullptr) return morvane::x509v3::drop_pairs(ret, given);
    ret = next;
  }
  if (ret == nullptr) ret = sk_new_null();
  return ret;
}

/* see morvane/x509v3.h */
int GENERAL_NAME_print(BIO* out, GENERAL_NAME* gen) {
  switch (gen->type) {
    case GEN_OTHERNAME:
      BIO_printf(out, "othername:<unsupported>");
      break;
    case GEN_X400:
      BIO_printf(out, "X400Name:<unsupported>");
      break;
    case GEN_EDIPARTY:
      BIO_printf(out, "EdiPartyName:<unsupported>");
      break;
    case GEN_EMAIL:
      BIO_printf(out, "email:%.*s", length_of(gen->d.ia5), text_of(gen->d.ia5));
      break;
    case GEN_DNS:
      BIO_printf(out, "DNS:%.*s", length_of(gen->d.ia5), text_of(gen->d.ia5));
      break;
    case GEN_URI:
      BIO_printf(out, "URI:%.*s", length_of(gen->d.ia5), text_of(gen->d.ia5));
      break;
    case GEN_DIRNAME:
      BIO_printf(out, "DirName: ");
      X509_NAME_print_ex(out, gen->d.dirn, 0, kNameOneLine);
      break;
    case GEN_IPADD: {
      const unsigned char* p = gen->d.ip->data;
      if (gen->d.ip->length == 4) {
        BIO_printf(out, "IP Address:%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
      } else if (gen->d.ip->length == 16) {
        BIO_printf(out, "IP Address");
        for (int i = 0; i < 8; i++) BIO_printf(out, ":%X", (p[2 * i] << 8) | p[2 * i + 1]);
        BIO_puts(out, "\n");
      } else {
        BIO_printf(out, "IP Address:<invalid>");
      }
      break;
    }
    case GEN_RID:
      BIO_printf(out, "Registered ID");
      i2a_ASN1_OBJECT(out, gen->d.rid);
      break;
    default:
      break;
  }
  return 1;
}

namespace {

// A dirName value names a section whose lines are the name's entries.
bool do_dirname(GENERAL_NAME* gen, const char* value, X509V3_CTX* ctx) {
  STACK* section = ctx != nullptr ? X509V3_get_section(ctx, value) : nullptr;
  if (section == nullptr) {
    X509V3err(X509V3_F_DO_DIRNAME, X509V3_R_SECTION_NOT_FOUND);
    ERR_add_error_data(2, "section=", value);
    return false;
  }
  X509_NAME* name = X509_NAME_new();
  const bool ok = name != nullptr && X509V3_NAME_from_section(name, section, kMbstringAsc);
  X509V3_section_free(ctx, section);
  if (!ok) {
    X509_NAME_free(name);
    return false;
  }
  gen->d.dirn = name;
  return true;
}

// An otherName value is "OID;generator text".
bool do_othername(GENERAL_NAME* gen, const char* value, X509V3_CTX* ctx) {
  const char* semi = strchr(value, ';');
  if (semi == nullptr) return false;
  OTHERNAME* other = OTHERNAME_new();
  if (other == nullptr) return false;
  ASN1_TYPE* generated = ASN1_generate_v3(semi + 1, ctx);
  const size_t n = static_cast<size_t>(semi - value);
  auto* oid_text = static_cast<char*>(MORVANE_malloc(n + 1));
  ASN1_OBJECT* oid = nullptr;
  if (oid_text != nullptr) {
    memcpy(oid_text, value, n);
    oid_text[n] = '\0';
    oid = OBJ_txt2obj(oid_text, 0);
    MORVANE_free(oid_text);
  }
  if (generated == nullptr || oid == nullptr) {
    ASN1_TYPE_free(generated);
    ASN1_OBJECT_free(oid);
    OTHERNAME_free(other);
    return false;
  }
  ASN1_TYPE_free(other->value);
  other->value = generated;
  ASN1_OBJECT_free(other->type_id);
  other->type_id = oid;
  gen->d.otherName = other;
  return true;
}

// Appends the subject's emailAddress entries as e-mail names; with move
// they also leave the subject.
bool copy_email(X509V3_CTX* ctx, GENERAL_NAMES* gens, bool move) {
  if (ctx != nullptr && (ctx->flags & X509V3_CTX_TEST)) return true;
  if (ctx == nullptr || (ctx->subject_cert == nullptr && ctx->subject_req == nullptr)) {
    X509V3err(X509V3_F_COPY_EMAIL, X509V3_R_NO_SUBJECT_DETAILS);
    return false;
  }
  X509_NAME* nm = ctx->subject_cert != nullptr ? X509_get_subject_name(ctx->subject_cert)
                                               : ctx->subject_req->req_info->subject;
  for (int i = -1; (i = X509_NAME_get_index_by_NID(nm, kNidEmailAddress, i)) >= 0;) {
    X509_NAME_ENTRY* ne = X509_NAME_get_entry(nm, i);
    ASN1_STRING* email = ASN1_STRING_dup(X509_NAME_ENTRY_get_data(ne));
    GENERAL_NAME* gen = email != nullptr ? GENERAL_NAME_new() : nullptr;
    if (gen == nullptr) {
      ASN1_STRING_free(email);
      X509V3err(X509V3_F_COPY_EMAIL, ERR_R_MALLOC_FAILURE);
      return false;
    }
    gen->d.ia5 = email;
    gen->type = GEN_EMAIL;
    if (!sk_push(gens, reinterpret_cast<char*>(gen))) {
      GENERAL_NAME_free(gen);
      X509V3err(X509V3_F_COPY_EMAIL, ERR_R_MALLOC_FAILURE);
      return false;
    }
    if (move) {
      X509_NAME_ENTRY_free(X509_NAME_delete_entry(nm, i));
      i--;  // the next entry now stands at i
      // The subject changed: the encoding kept from decoding is stale.
      if (ctx->subject_cert != nullptr)
        ctx->subject_cert->cert_info->enc.modified = 1;
      else
        ctx->subject_req->req_info->enc.modified = 1;
    }
  }
  return true;
}

// Appends the names of the issuer certificate's subjectAltName extension.
bool copy_issuer(X509V3_CTX* ctx, GENERAL_NAMES* gens) {
  if (ctx != nullptr && (ctx->flags & X509V3_CTX_TEST)) return true;
  if (ctx == nullptr || ctx->issuer_cert == nullptr) {
    X509V3err(X509V3_F_COPY_ISSUER, X509V3_R_NO_ISSUER_DETAILS);
    return false;
  }
  const int i = X509_get_ext_by_NID(ctx->issuer_cert, morvane::v3::kNidSubjectAltName, -1);
  if (i < 0) return true;
  auto* ialt = static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(X509_get_ext(ctx->issuer_cert, i)));
  if (ialt == nullptr) {
    X509V3err(X509V3_F_COPY_ISSUER, X509V3_R_ISSUER_DECODE_ERROR);
    return false;
  }
  for (int j = 0; j < sk_num(ialt); j++) {
    char* gen = sk_value(ialt, j);
    if (!sk_push(gens, gen)) {
      for (int k = j; k < sk_num(ialt); k++) free_name(sk_value(ialt, k));
      sk_free(ialt);
      X509V3err(X509V3_F_COPY_ISSUER, ERR_R_MALLOC_FAILURE);
      return false;
    }
  }
  sk_free(ialt);
  return true;
}

// The common loop of the two alternative-name builders: special(name,
// value) handles a pair itself (0 failed, 1 done) or declines (-1).
template <typename Special>
GENERAL_NAMES* build_names(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values,
                           int func, Special special) {
  GENERAL_NAMES* gens = GENERAL_NAMES_new();
  if (gens == nullptr) {
    X509V3err(func, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    const int done = special(cnf, gens);
    if (done == 0) goto err;
    if (done > 0) continue;
    GENERAL_NAME* gen = v2i_GENERAL_NAME(method, ctx, cnf);
    if (gen == nullptr) goto err;
    if (!sk_push(gens, reinterpret_cast<char*>(gen))) {
      GENERAL_NAME_free(gen);
      X509V3err(func, ERR_R_MALLOC_FAILURE);
      goto err;
    }
  }
  return gens;
err:
  sk_pop_free(gens, free_name);
  return nullptr;
}

// An alternative name holds at least one name (GeneralNames is SIZE (1..MAX),
// RFC 5280, 4.2.1.6 and 4.2.1.7): a list left empty, as by a copy that found
// nothing, is refused.  Test mode, which copies nothing, keeps it.
GENERAL_NAMES* not_empty(GENERAL_NAMES* gens, const X509V3_CTX* ctx, int func) {
  if (gens == nullptr || sk_num(gens) > 0 || (ctx != nullptr && (ctx->flags & X509V3_CTX_TEST)))
    return gens;
  GENERAL_NAMES_free(gens);
  X509V3err(func, X509V3_R_ILLEGAL_EMPTY_EXTENSION);
  ERR_add_error_data(1, "no name given or copied");
  return nullptr;
}

bool is_option(const CONF_VALUE* cnf, const char* name, const char* value) {
  return name_cmp(cnf->name, name) == 0 && cnf->value != nullptr &&
         strcmp(cnf->value, value) == 0;
}

}  // namespace

/* see morvane/x509v3.h */
GENERAL_NAME* v2i_GENERAL_NAME_ex(GENERAL_NAME* out, const X509V3_EXT_METHOD* /*method*/,
                                  X509V3_CTX* ctx, CONF_VALUE* cnf, int is_nc) {
  const char* name = cnf->name;
  const char* value = cnf->value;
  if (value == nullptr) {
    X509V3err(X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_MISSING_VALUE);
    return nullptr;
  }
  int type;
  if (name == nullptr)
    type = -1;
  else if (name_cmp(name, "email") == 0)
    type = GEN_EMAIL;
  else if (name_cmp(name, "URI") == 0)
    type = GEN_URI;
  else if (name_cmp(name, "DNS") == 0)
    type = GEN_DNS;
  else if (name_cmp(name, "RID") == 0)
    type = GEN_RID;
  else if (name_cmp(name, "IP") == 0)
    type = GEN_IPADD;
  else if (name_cmp(name, "dirName") == 0)
    type = GEN_DIRNAME;
  else if (name_cmp(name, "otherName") == 0)
    type = GEN_OTHERNAME;
  else
    type = -1;
  if (type < 0) {
    X509V3err(X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_UNSUPPORTED_OPTION);
    ERR_add_error_data(2, "name=", name);
    return nullptr;
  }

  GENERAL_NAME* gen = out != nullptr ? out : GENERAL_NAME_new();
  if (gen == nullptr) {
    X509V3err(X509V3_F_V2I_GENERAL_NAME_EX, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  int reason = 0;
  switch (type) {
    case GEN_EMAIL:
    case GEN_URI:
    case GEN_DNS:
      if ((gen->d.ia5 = morvane::v3::ia5_from_text(value)) == nullptr)
        reason = ERR_R_MALLOC_FAILURE;
      break;
    case GEN_RID:
      if ((gen->d.rid = OBJ_txt2obj(value, 0)) == nullptr) {
        X509V3err(X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_OBJECT);
        ERR_add_error_data(2, "value=", value);
        goto err;
      }
      break;
    case GEN_IPADD:
      gen->d.ip = is_nc ? a2i_IPADDRESS_NC(value) : a2i_IPADDRESS(value);
      if (gen->d.ip == nullptr) {
        X509V3err(X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_IP_ADDRESS);
        ERR_add_error_data(2, "value=", value);
        goto err;
      }
      break;
    case GEN_DIRNAME:
      if (!do_dirname(gen, value, ctx)) reason = X509V3_R_DIRNAME_ERROR;
      break;
    case GEN_OTHERNAME:
      if (!do_othername(gen, value, ctx)) reason = X509V3_R_OTHERNAME_ERROR;
      break;
  }
  if (reason != 0) {
    X509V3err(X509V3_F_V2I_GENERAL_NAME_EX, reason);
    goto err;
  }
  gen->type = type;
  return gen;
err:
  if (gen != out) GENERAL_NAME_free(gen);
  return nullptr;
}

/* see morvane/x509v3.h */
GENERAL_NAME* v2i_GENERAL_NAME(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx,
                               CONF_VALUE* cnf) {
  return v2i_GENERAL_NAME_ex(nullptr, method, ctx, cnf, 0);
}

/* see morvane/x509v3.h */
GENERAL_NAMES* v2i_GENERAL_NAMES(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx,
                                 STACK* nval) {
  return build_names(method, ctx, nval, X509V3_F_V2I_GENERAL_NAMES,
                     [](const CONF_VALUE*, GENERAL_NAMES*) { return -1; });
}

namespace morvane::v3 {

STACK* i2v_names(const X509V3_EXT_METHOD* method, void* value, STACK* list) {
  return i2v_GENERAL_NAMES(const_cast<X509V3_EXT_METHOD*>(method),
                           static_cast<GENERAL_NAMES*>(value), list);
}

void* v2i_subject_alt(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values) {
  GENERAL_NAMES* names = build_names(method, ctx, values, X509V3_F_V2I_SUBJECT_ALT,
                                     [ctx](const CONF_VALUE* cnf, GENERAL_NAMES* gens) {
                                       if (is_option(cnf, "email", "copy"))
                                         return copy_email(ctx, gens, false) ? 1 : 0;
                                       if (is_option(cnf, "email", "move"))
                                         return copy_email(ctx, gens, true) ? 1 : 0;
                                       return -1;
                                     });
  return not_empty(names, ctx, X509V3_F_V2I_SUBJECT_ALT);
}

void* v2i_issuer_alt(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values) {
  GENERAL_NAMES* names = build_names(method, ctx, values, X509V3_F_V2I_ISSUER_ALT,
                                     [ctx](const CONF_VALUE* cnf, GENERAL_NAMES* gens) {
                                       if (is_option(cnf, "issuer", "copy"))
                                         return copy_issuer(ctx, gens) ? 1 : 0;
                                       return -1;
                                     });
  return not_empty(names, ctx, X509V3_F_V2I_ISSUER_ALT);
}

}  // namespace morvane::v3
