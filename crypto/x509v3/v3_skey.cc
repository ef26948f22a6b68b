// Key identifiers (RFC 5280, 4.2.1.1 and 4.2.1.2): the subject key
// identifier as hexadecimal text or the SHA-1 of the subject's public key,
// and the authority key identifier taken from the issuer certificate.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_methods.h"

/* see morvane/x509v3.h */
char* i2s_ASN1_OCTET_STRING(X509V3_EXT_METHOD* /*method*/, ASN1_OCTET_STRING* oct) {
  return hex_to_string(oct->data, oct->length);
}

/* see morvane/x509v3.h */
ASN1_OCTET_STRING* s2i_ASN1_OCTET_STRING(X509V3_EXT_METHOD* /*method*/, X509V3_CTX* /*ctx*/,
                                         const char* str) {
  long length = 0;
  unsigned char* data = string_to_hex(str, &length);
  if (data == nullptr) return nullptr;
  ASN1_OCTET_STRING* oct = ASN1_OCTET_STRING_new();
  if (oct == nullptr) {
    MORVANE_free(data);
    X509V3err(X509V3_F_S2I_ASN1_OCTET_STRING, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ASN1_STRING_set0(oct, data, static_cast<int>(length));  // at most half an int-sized text
  return oct;
}

namespace morvane::v3 {

char* i2s_octets(const X509V3_EXT_METHOD* method, void* value) {
  return i2s_ASN1_OCTET_STRING(const_cast<X509V3_EXT_METHOD*>(method),
                               static_cast<ASN1_OCTET_STRING*>(value));
}

// "hash" is the SHA-1 of the subject public key's bits (RFC 5280, 4.2.1.2,
// method 1); any other value is hexadecimal text.
void* s2i_skey_id(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, const char* str) {
  auto* m = const_cast<X509V3_EXT_METHOD*>(method);
  if (strcmp(str, "hash") != 0) return s2i_ASN1_OCTET_STRING(m, ctx, str);
  ASN1_OCTET_STRING* oct = ASN1_OCTET_STRING_new();
  if (oct == nullptr) {
    X509V3err(X509V3_F_S2I_SKEY_ID, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (ctx != nullptr && (ctx->flags & X509V3_CTX_TEST)) return oct;
  const ASN1_BIT_STRING* pk = nullptr;
  if (ctx != nullptr && ctx->subject_req != nullptr)
    pk = ctx->subject_req->req_info->pubkey->public_key;
  else if (ctx != nullptr && ctx->subject_cert != nullptr)
    pk = ctx->subject_cert->cert_info->key->public_key;
  // A new certificate or request holds an empty key until one is set: its
  // hash would name no key.
  if (pk == nullptr || pk->length <= 0) {
    X509V3err(X509V3_F_S2I_SKEY_ID, X509V3_R_NO_PUBLIC_KEY);
    ASN1_OCTET_STRING_free(oct);
    return nullptr;
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (!EVP_Digest(pk->data, static_cast<size_t>(pk->length), md, &len, EVP_sha1(), nullptr) ||
      !ASN1_STRING_set(oct, md, static_cast<int>(len))) {
    X509V3err(X509V3_F_S2I_SKEY_ID, ERR_R_MALLOC_FAILURE);
    ASN1_OCTET_STRING_free(oct);
    return nullptr;
  }
  return oct;
}

STACK* i2v_akey(const X509V3_EXT_METHOD* /*method*/, void* value, STACK* list) {
  auto* akeyid = static_cast<AUTHORITY_KEYID*>(value);
  STACK* const given = list;
  // Empty octets give the name alone; octets whose text cannot be made
  // (hex_to_string queues why) fail rather than print as empty.
  const auto add_hex = [&list](const char* name, const ASN1_STRING* octets) {
    char* text = octets->length > 0 ? hex_to_string(octets->data, octets->length) : nullptr;
    const bool ok = (text != nullptr || octets->length <= 0) && X509V3_add_value(name, text, &list);
    MORVANE_free(text);
    return ok;
  };
  if (akeyid->keyid != nullptr && !add_hex("keyid", akeyid->keyid)) return drop_pairs(list, given);
  if (akeyid->issuer != nullptr) {
    // It frees only a list it made itself.
    STACK* next = i2v_GENERAL_NAMES(nullptr, akeyid->issuer, list);
    if (next == nullptr) return drop_pairs(list, given);
    list = next;
  }
  if (akeyid->serial != nullptr && !add_hex("serial", akeyid->serial))
    return drop_pairs(list, given);
  return list;
}

// Options "keyid" and "issuer", each optionally ":always".  The key
// identifier comes from the issuer's subjectKeyIdentifier; the issuer's
// name and serial number are taken when asked for always, or when asked
// for and the issuer has no key identifier.
void* v2i_akey(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* ctx, STACK* values) {
  int keyid = 0, issuer = 0;
  for (int i = 0; i < sk_num(values); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    const int level = cnf->value != nullptr && strcmp(cnf->value, "always") == 0 ? 2 : 1;
    if (strcmp(cnf->name, "keyid") == 0) {
      keyid = level;
    } else if (strcmp(cnf->name, "issuer") == 0) {
      issuer = level;
    } else {
      X509V3err(X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_UNKNOWN_OPTION);
      ERR_add_error_data(2, "name=", cnf->name);
      return nullptr;
    }
  }
  if (ctx == nullptr || ctx->issuer_cert == nullptr) {
    if (ctx != nullptr && (ctx->flags & X509V3_CTX_TEST)) return AUTHORITY_KEYID_new();
    X509V3err(X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_NO_ISSUER_CERTIFICATE);
    return nullptr;
  }
  X509* cert = ctx->issuer_cert;
  ASN1_OCTET_STRING* ikeyid = nullptr;
  X509_NAME* isname = nullptr;
  ASN1_INTEGER* serial = nullptr;
  AUTHORITY_KEYID* akeyid = nullptr;
  GENERAL_NAMES* gens = nullptr;
  GENERAL_NAME* gen = nullptr;
  if (keyid) {
    // Only an issuer without subjectKeyIdentifier has no key identifier: one
    // that cannot be decoded (malformed, or no memory) fails the extension.
    const int i = X509_get_ext_by_NID(cert, kNidSubjectKeyId, -1);
    if (i >= 0) ikeyid = static_cast<ASN1_OCTET_STRING*>(X509V3_EXT_d2i(X509_get_ext(cert, i)));
    if ((i >= 0 || keyid == 2) && ikeyid == nullptr) {
      X509V3err(X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_UNABLE_TO_GET_ISSUER_KEYID);
      return nullptr;
    }
  }
  if (issuer == 2 || (issuer && ikeyid == nullptr)) {
    isname = X509_NAME_dup(X509_get_issuer_name(cert));
    serial = ASN1_INTEGER_dup(X509_get_serialNumber(cert));
    if (isname == nullptr || serial == nullptr) {
      X509V3err(X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_UNABLE_TO_GET_ISSUER_DETAILS);
      goto err;
    }
  }
  if ((akeyid = AUTHORITY_KEYID_new()) == nullptr) goto memerr;
  if (isname != nullptr) {
    if ((gens = GENERAL_NAMES_new()) == nullptr || (gen = GENERAL_NAME_new()) == nullptr ||
        !sk_push(gens, reinterpret_cast<char*>(gen))) {
      GENERAL_NAME_free(gen);
      GENERAL_NAMES_free(gens);
      goto memerr;
    }
    gen->type = GEN_DIRNAME;
    gen->d.dirn = isname;
    isname = nullptr;
    akeyid->issuer = gens;
  }
  akeyid->keyid = ikeyid;
  akeyid->serial = serial;
  return akeyid;
memerr:
  X509V3err(X509V3_F_V2I_AUTHORITY_KEYID, ERR_R_MALLOC_FAILURE);
err:
  AUTHORITY_KEYID_free(akeyid);
  ASN1_OCTET_STRING_free(ikeyid);
  X509_NAME_free(isname);
  ASN1_INTEGER_free(serial);
  return nullptr;
}

}  // namespace morvane::v3
