// Extensions from configuration text: the "critical," prefix, raw "DER:"
// and "ASN1:" values, values built by an extension's method, whole sections
// of extensions added to a certificate, request or revocation list, and the
// builders' context with its configuration database.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/internal.h"

namespace {

// A CONF as database; what it returns belongs to it.
char* nconf_get_string(void* db, const char* section, const char* name) {
  return NCONF_get_string(static_cast<const CONF*>(db), section, name);
}

STACK* nconf_get_section(void* db, const char* section) {
  return NCONF_get_section(static_cast<const CONF*>(db), section);
}

constexpr X509V3_CONF_METHOD nconf_method = {nconf_get_string, nconf_get_section, nullptr,
                                             nullptr};

}  // namespace

/* see morvane/x509v3.h */
void X509V3_set_nconf(X509V3_CTX* ctx, CONF* conf) {
  ctx->db_meth = &nconf_method;
  ctx->db = conf;
}

/* see morvane/x509v3.h */
STACK* X509V3_get_section(X509V3_CTX* ctx, const char* section) {
  if (ctx->db == nullptr || ctx->db_meth == nullptr || ctx->db_meth->get_section == nullptr) {
    X509V3err(X509V3_F_X509V3_GET_SECTION, X509V3_R_OPERATION_NOT_DEFINED);
    return nullptr;
  }
  return ctx->db_meth->get_section(ctx->db, section);
}

/* see morvane/x509v3.h */
void X509V3_section_free(X509V3_CTX* ctx, STACK* section) {
  if (section == nullptr) return;
  if (ctx->db_meth != nullptr && ctx->db_meth->free_section != nullptr)
    ctx->db_meth->free_section(ctx->db, section);
}

namespace {

// The old configuration interface: a hash table of CONF_VALUE.
char* lhash_get_string(void* db, const char* section, const char* name) {
  return CONF_get_string(static_cast<LHASH*>(db), section, name);
}

STACK* lhash_get_section(void* db, const char* section) {
  return CONF_get_section(static_cast<LHASH*>(db), section);
}

constexpr X509V3_CONF_METHOD conf_lhash_method = {lhash_get_string, lhash_get_section, nullptr,
                                                  nullptr};

void free_conf_value(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

void free_extension(void* p) {
  X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p));
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skip_space(const char* p) {
  while (is_space(*p)) p++;
  return p;
}

// A missing value text: "invalid null value" and true.
bool null_value(const char* value) {
  if (value != nullptr) return false;
  X509V3err(X509V3_F_X509V3_EXT_NCONF, X509V3_R_INVALID_NULL_VALUE);
  return true;
}

// A value beginning "critical," marks the extension critical; the rest
// follows, white space skipped.
bool take_critical(const char** value) {
  const char* p = *value;
  if (strlen(p) < 9 || strncmp(p, "critical,", 9) != 0) return false;
  *value = skip_space(p + 9);
  return true;
}

// "DER:" (1) and "ASN1:" (2) give the extension's value raw; 0 otherwise.
int take_raw_type(const char** value) {
  const char* p = *value;
  const size_t len = strlen(p);
  int type = 0;
  if (len >= 4 && strncmp(p, "DER:", 4) == 0) {
    type = 1;
    p += 4;
  } else if (len >= 5 && strncmp(p, "ASN1:", 5) == 0) {
    type = 2;
    p += 5;
  } else {
    return 0;
  }
  *value = skip_space(p);
  return type;
}

// An extension of the type named by name (a short or long name or dotted
// numbers) whose value is hexadecimal DER (type 1) or a generator text
// (type 2).
X509_EXTENSION* generic_extension(const char* name, const char* value, bool crit, int type,
                                  X509V3_CTX* ctx) {
  ASN1_OBJECT* obj = name != nullptr ? OBJ_txt2obj(name, 0) : nullptr;
  if (obj == nullptr) {
    X509V3err(X509V3_F_V3_GENERIC_EXTENSION, X509V3_R_EXTENSION_NAME_ERROR);
    ERR_add_error_data(2, "name=", name);
    return nullptr;
  }
  unsigned char* der = nullptr;
  long len = 0;
  if (type == 1) {
    der = string_to_hex(value, &len);
  } else {
    ASN1_TYPE* generated = ASN1_generate_v3(value, ctx);
    if (generated != nullptr) {
      len = i2d_ASN1_TYPE(generated, &der);
      if (len <= 0) {
        MORVANE_free(der);
        der = nullptr;
      }
      ASN1_TYPE_free(generated);
    }
  }
  X509_EXTENSION* ext = nullptr;
  if (der == nullptr) {
    X509V3err(X509V3_F_V3_GENERIC_EXTENSION, X509V3_R_EXTENSION_VALUE_ERROR);
    ERR_add_error_data(2, "value=", value);
  } else {
    ASN1_OCTET_STRING* oct = ASN1_OCTET_STRING_new();
    if (oct != nullptr) {
      ASN1_STRING_set0(oct, der, static_cast<int>(len));
      der = nullptr;
      ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, crit ? 1 : 0, oct);
    }
    if (ext == nullptr) X509V3err(X509V3_F_V3_GENERIC_EXTENSION, ERR_R_MALLOC_FAILURE);
    ASN1_OCTET_STRING_free(oct);
  }
  MORVANE_free(der);
  ASN1_OBJECT_free(obj);
  return ext;
}

// Builds the value with the NID's method from the text and encodes it.
X509_EXTENSION* do_ext_nconf(CONF* conf, X509V3_CTX* ctx, int ext_nid, bool crit,
                             const char* value) {
  if (ext_nid == 0) {
    X509V3err(X509V3_F_DO_EXT_NCONF, X509V3_R_UNKNOWN_EXTENSION_NAME);
    return nullptr;
  }
  const X509V3_EXT_METHOD* method = X509V3_EXT_get_nid(ext_nid);
  if (method == nullptr) {
    X509V3err(X509V3_F_DO_EXT_NCONF, X509V3_R_UNKNOWN_EXTENSION);
    return nullptr;
  }
  void* ext_struc = nullptr;
  if (method->v2i != nullptr) {
    const bool section = *value == '@';
    STACK* nval = section ? NCONF_get_section(conf, value + 1) : X509V3_parse_list(value);
    if (sk_num(nval) <= 0) {
      X509V3err(X509V3_F_DO_EXT_NCONF, X509V3_R_INVALID_EXTENSION_STRING);
      ERR_add_error_data(4, "name=", OBJ_nid2sn(ext_nid), ",section=", value);
      if (!section) sk_pop_free(nval, free_conf_value);
      return nullptr;
    }
    ext_struc = method->v2i(method, ctx, nval);
    if (!section) sk_pop_free(nval, free_conf_value);
  } else if (method->s2i != nullptr) {
    ext_struc = method->s2i(method, ctx, value);
  } else if (method->r2i != nullptr) {
    if (ctx == nullptr || ctx->db == nullptr || ctx->db_meth == nullptr) {
      X509V3err(X509V3_F_DO_EXT_NCONF, X509V3_R_NO_CONFIG_DATABASE);
      return nullptr;
    }
    ext_struc = method->r2i(method, ctx, value);
  } else {
    X509V3err(X509V3_F_DO_EXT_NCONF, X509V3_R_EXTENSION_SETTING_NOT_SUPPORTED);
    ERR_add_error_data(2, "name=", OBJ_nid2sn(ext_nid));
    return nullptr;
  }
  if (ext_struc == nullptr) return nullptr;  // the builder queued its error
  X509_EXTENSION* ext = X509V3_EXT_i2d(ext_nid, crit ? 1 : 0, ext_struc);
  morvane::x509v3::free_value(method, ext_struc);
  return ext;
}

// A CONF over the old interface's hash table.
CONF lhash_conf(LHASH* table) {
  CONF ctmp = {};
  CONF_set_nconf(&ctmp, table);
  return ctmp;
}

constexpr int kNidExtReq = 172;  // PKCS #9 extensionRequest (RFC 2985, 5.4.2)
constexpr int kSequence = 16;

// Stores the list in the request as an extension-request attribute.
int add_request_extensions(X509_REQ* req, STACK* exts) {
  unsigned char* der = nullptr;
  const int len = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(exts), &der,
                                &X509_EXTENSIONS_it);
  if (len <= 0) {
    X509V3err(X509V3_F_X509V3_EXT_NCONF, ERR_R_ASN1_LIB);
    return 0;
  }
  const int ok = X509_REQ_add1_attr_by_NID(req, kNidExtReq, kSequence, der, len);
  MORVANE_free(der);
  return ok;
}

}  // namespace

/* see morvane/x509v3.h */
void X509V3_set_ctx(X509V3_CTX* ctx, X509* issuer, X509* subject, X509_REQ* req, X509_CRL* crl,
                    int flags) {
  ctx->issuer_cert = issuer;
  ctx->subject_cert = subject;
  ctx->subject_req = req;
  ctx->crl = crl;
  ctx->flags = flags;
}

/* see morvane/x509v3.h */
void X509V3_set_conf_lhash(X509V3_CTX* ctx, LHASH* lhash) {
  ctx->db_meth = &conf_lhash_method;
  ctx->db = lhash;
}

/* see morvane/x509v3.h */
char* X509V3_get_string(X509V3_CTX* ctx, const char* name, const char* section) {
  if (ctx->db == nullptr || ctx->db_meth == nullptr || ctx->db_meth->get_string == nullptr) {
    X509V3err(X509V3_F_X509V3_GET_STRING, X509V3_R_OPERATION_NOT_DEFINED);
    return nullptr;
  }
  return ctx->db_meth->get_string(ctx->db, name, section);
}

/* see morvane/x509v3.h */
void X509V3_string_free(X509V3_CTX* ctx, char* str) {
  if (str == nullptr) return;
  if (ctx->db_meth != nullptr && ctx->db_meth->free_string != nullptr)
    ctx->db_meth->free_string(ctx->db, str);
}

/* see morvane/x509v3.h */
X509_EXTENSION* X509V3_EXT_nconf(CONF* conf, X509V3_CTX* ctx, const char* name,
                                 const char* value) {
  if (null_value(value)) return nullptr;
  const bool crit = take_critical(&value);
  if (const int type = take_raw_type(&value)) return generic_extension(name, value, crit, type, ctx);
  X509_EXTENSION* ext = do_ext_nconf(conf, ctx, OBJ_sn2nid(name), crit, value);
  if (ext == nullptr) {
    X509V3err(X509V3_F_X509V3_EXT_NCONF, X509V3_R_ERROR_IN_EXTENSION);
    ERR_add_error_data(4, "name=", name, ", value=", value);
  }
  return ext;
}

/* see morvane/x509v3.h */
X509_EXTENSION* X509V3_EXT_nconf_nid(CONF* conf, X509V3_CTX* ctx, int ext_nid,
                                     const char* value) {
  if (null_value(value)) return nullptr;
  const bool crit = take_critical(&value);
  if (const int type = take_raw_type(&value))
    return generic_extension(OBJ_nid2sn(ext_nid), value, crit, type, ctx);
  return do_ext_nconf(conf, ctx, ext_nid, crit, value);
}

/* see morvane/x509v3.h */
int X509V3_EXT_add_nconf_sk(CONF* conf, X509V3_CTX* ctx, const char* section, STACK** sk) {
  STACK* nval = NCONF_get_section(conf, section);
  if (nval == nullptr) return 0;
  for (int i = 0; i < sk_num(nval); i++) {
    auto* val = reinterpret_cast<CONF_VALUE*>(sk_value(nval, i));
    X509_EXTENSION* ext = X509V3_EXT_nconf(conf, ctx, val->name, val->value);
    if (ext == nullptr) return 0;
    const bool kept = sk == nullptr || X509v3_add_ext(sk, ext, -1) != nullptr;
    X509_EXTENSION_free(ext);
    if (!kept) return 0;
  }
  return 1;
}

/* see morvane/x509v3.h */
int X509V3_EXT_add_nconf(CONF* conf, X509V3_CTX* ctx, const char* section, X509* cert) {
  if (cert == nullptr) return X509V3_EXT_add_nconf_sk(conf, ctx, section, nullptr);
  // The signed part is encoded from its fields from now on, not from the
  // octets it was decoded from (also when a line fails after others went in).
  cert->cert_info->enc.modified = 1;
  return X509V3_EXT_add_nconf_sk(conf, ctx, section, &cert->cert_info->extensions);
}

/* see morvane/x509v3.h */
int X509V3_EXT_CRL_add_nconf(CONF* conf, X509V3_CTX* ctx, const char* section, X509_CRL* crl) {
  if (crl == nullptr) return X509V3_EXT_add_nconf_sk(conf, ctx, section, nullptr);
  crl->crl->enc.modified = 1;  // as for a certificate
  return X509V3_EXT_add_nconf_sk(conf, ctx, section, &crl->crl->extensions);
}

/* see morvane/x509v3.h */
int X509V3_EXT_REQ_add_nconf(CONF* conf, X509V3_CTX* ctx, const char* section, X509_REQ* req) {
  STACK* exts = nullptr;
  if (!X509V3_EXT_add_nconf_sk(conf, ctx, section, &exts)) {
    sk_pop_free(exts, free_extension);
    return 0;
  }
  // A section without lines adds nothing and succeeds, as it does for a
  // certificate or a revocation list.
  const int ret = req != nullptr && sk_num(exts) > 0 ? add_request_extensions(req, exts) : 1;
  sk_pop_free(exts, free_extension);
  return ret;
}

/* see morvane/x509v3.h */
X509_EXTENSION* X509V3_EXT_conf(LHASH* conf, X509V3_CTX* ctx, const char* name,
                                const char* value) {
  CONF ctmp = lhash_conf(conf);
  return X509V3_EXT_nconf(&ctmp, ctx, name, value);
}

/* see morvane/x509v3.h */
X509_EXTENSION* X509V3_EXT_conf_nid(LHASH* conf, X509V3_CTX* ctx, int ext_nid,
                                    const char* value) {
  CONF ctmp = lhash_conf(conf);
  return X509V3_EXT_nconf_nid(&ctmp, ctx, ext_nid, value);
}

/* see morvane/x509v3.h */
int X509V3_EXT_add_conf(LHASH* conf, X509V3_CTX* ctx, const char* section, X509* cert) {
  CONF ctmp = lhash_conf(conf);
  return X509V3_EXT_add_nconf(&ctmp, ctx, section, cert);
}

/* see morvane/x509v3.h */
int X509V3_EXT_CRL_add_conf(LHASH* conf, X509V3_CTX* ctx, const char* section, X509_CRL* crl) {
  CONF ctmp = lhash_conf(conf);
  return X509V3_EXT_CRL_add_nconf(&ctmp, ctx, section, crl);
}

/* see morvane/x509v3.h */
int X509V3_EXT_REQ_add_conf(LHASH* conf, X509V3_CTX* ctx, const char* section, X509_REQ* req) {
  CONF ctmp = lhash_conf(conf);
  return X509V3_EXT_REQ_add_nconf(&ctmp, ctx, section, req);
}
