// Reading a PFX: the password is checked against the MAC, then the safes are
// walked in order for the key, the certificate sharing its localKeyID and
// the other certificates.
//
// Implementation notes: the first localKeyID met becomes the reference; a
// bag whose identifier differs is treated as having none.  Identifiers are
// compared only until both the key and its certificate are found.

#include <string.h>

#include <initializer_list>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "internal/err_mark.h"

namespace {

constexpr int kData = 21, kEncrypted = 26;
constexpr int kKeyBag = 150, kShroudedKeyBag = 151, kCertBag = 152, kSafeContents = 155;
constexpr int kX509Cert = 158, kFriendlyName = 156, kLocalKeyId = 157;

struct ParseState {
  const char* pass;
  int passlen;
  EVP_PKEY** pkey;
  X509** cert;
  STACK* ca;
  ASN1_OCTET_STRING* keyid = nullptr;  // the reference identifier, once met
  bool key_found = false, cert_found = false;
};

enum class Mac { kVerified, kMismatch, kNotComputed };

// Checks the MAC with one form of the pass phrase.  A mismatch leaves the
// queue as it was; a MAC that could not be computed (no digest of its name,
// say) leaves what the computation queued, as the cause.  A PFX without MAC
// data is a mismatch.
Mac check_mac(PKCS12* p12, const char* pass, int passlen) {
  morvane::internal::ErrorMark mark;
  if (PKCS12_verify_mac(p12, pass, passlen) == 1) {
    mark.pop();
    return Mac::kVerified;
  }
  if (p12->mac != nullptr && mark.queued()) return Mac::kNotComputed;
  mark.pop();
  return Mac::kMismatch;
}

void free_bag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void free_safe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}
void free_cert(void* x) {
  X509_free(static_cast<X509*>(x));
}

bool parse_bags(STACK* bags, ParseState* st);

// One bag; false fails the parse.
bool parse_bag(PKCS12_SAFEBAG* bag, ParseState* st) {
  const ASN1_TYPE* fname = PKCS12_get_attr_gen(bag->attrib, kFriendlyName);
  const ASN1_TYPE* lkid = PKCS12_get_attr_gen(bag->attrib, kLocalKeyId);
  const ASN1_OCTET_STRING* id =
      lkid != nullptr && lkid->type == ASN1_UT_OCTET_STRING ? lkid->value.octet_string : nullptr;
  bool match = false;
  if (id != nullptr && !(st->key_found && st->cert_found)) {
    if (st->keyid == nullptr) {
      st->keyid = ASN1_STRING_dup(id);
      if (st->keyid == nullptr) {
        PKCS12err(PKCS12_F_PARSE_BAG, ERR_R_MALLOC_FAILURE);
        return false;
      }
      match = true;
    } else {
      match = ASN1_STRING_cmp(id, st->keyid) == 0;
    }
  }
  switch (OBJ_obj2nid(bag->type)) {
    case kKeyBag:
    case kShroudedKeyBag: {
      if (!match || st->pkey == nullptr || st->key_found) return true;
      PKCS8_PRIV_KEY_INFO* p8 = bag->value.keybag;
      PKCS8_PRIV_KEY_INFO* dec = nullptr;
      if (OBJ_obj2nid(bag->type) == kShroudedKeyBag) {
        dec = PKCS12_decrypt_skey(bag, st->pass, st->passlen);
        if (dec == nullptr) return false;
        p8 = dec;
      }
      *st->pkey = EVP_PKCS82PKEY(p8);
      PKCS8_PRIV_KEY_INFO_free(dec);
      if (*st->pkey == nullptr) return false;
      st->key_found = true;
      return true;
    }
    case kCertBag: {
      if (bag->value.bag == nullptr || OBJ_obj2nid(bag->value.bag->type) != kX509Cert)
        return true;
      X509* x = PKCS12_certbag2x509(bag);
      if (x == nullptr) return false;
      if (id != nullptr && !X509_keyid_set1(x, id->data, id->length)) {
        X509_free(x);
        return false;
      }
      if (fname != nullptr && fname->type == ASN1_UT_BMPSTRING) {
        unsigned char* utf8 = nullptr;
        const int len = ASN1_STRING_to_UTF8(&utf8, fname->value.bmpstring);
        const bool ok = len >= 0 && X509_alias_set1(x, utf8, len);
        MORVANE_free(utf8);
        if (!ok) {
          X509_free(x);
          return false;
        }
      }
      if (match && !st->cert_found) {
        if (st->cert != nullptr)
          *st->cert = x;
        else
          X509_free(x);
        st->cert_found = true;
        return true;
      }
      if (st->ca == nullptr) {
        X509_free(x);
        return true;
      }
      if (!sk_push(st->ca, reinterpret_cast<char*>(x))) {
        X509_free(x);
        return false;
      }
      return true;
    }
    case kSafeContents:
      return parse_bags(bag->value.safes, st);
    default:
      return true;  // CRL, secret and other bags
  }
}

bool parse_bags(STACK* bags, ParseState* st) {
  for (int i = 0; i < sk_num(bags); i++)
    if (!parse_bag(reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, i)), st)) return false;
  return true;
}

bool parse_safes(PKCS12* p12, ParseState* st) {
  STACK* safes = PKCS12_unpack_authsafes(p12);
  if (safes == nullptr) return false;
  bool ok = true;
  for (int i = 0; ok && i < sk_num(safes); i++) {
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    STACK* bags = nullptr;
    const int type = OBJ_obj2nid(p7->type);
    if (type == kData)
      bags = PKCS12_unpack_p7data(p7);
    else if (type == kEncrypted)
      bags = PKCS12_unpack_p7encdata(p7, st->pass, st->passlen);
    else
      continue;
    ok = bags != nullptr && parse_bags(bags, st);
    sk_pop_free(bags, free_bag);
  }
  sk_pop_free(safes, free_safe);
  return ok;
}

}  // namespace

/* see morvane/pkcs12.h */
int PKCS12_parse(PKCS12* p12, const char* pass, EVP_PKEY** pkey, X509** cert, STACK** ca) {
  if (p12 == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PARSE, PKCS12_R_INVALID_NULL_PKCS12_POINTER);
    return 0;
  }
  bool made_ca = false;
  const int ca_before = ca != nullptr && *ca != nullptr ? sk_num(*ca) : 0;
  if (ca != nullptr && *ca == nullptr) {
    *ca = sk_new_null();
    if (*ca == nullptr) {
      PKCS12err(PKCS12_F_PKCS12_PARSE, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    made_ca = true;
  }
  if (pkey != nullptr) *pkey = nullptr;
  if (cert != nullptr) *cert = nullptr;
  // A null or empty pass phrase may have been used as either form; a MAC
  // that cannot be computed with the first cannot be with the second.
  int passlen = -1;
  Mac mac = Mac::kMismatch;
  if (pass == nullptr || *pass == '\0') {
    passlen = 0;
    for (const char* form : {static_cast<const char*>(nullptr), ""}) {
      mac = check_mac(p12, form, 0);
      if (mac != Mac::kMismatch) {
        pass = form;
        break;
      }
    }
  } else {
    mac = check_mac(p12, pass, -1);
  }
  ParseState st{pass, passlen, pkey, cert, ca != nullptr ? *ca : nullptr};
  if (mac != Mac::kVerified) {
    PKCS12err(PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE);
  } else if (!parse_safes(p12, &st)) {
    PKCS12err(PKCS12_F_PKCS12_PARSE, PKCS12_R_PARSE_ERROR);
  } else {
    ASN1_OCTET_STRING_free(st.keyid);
    return 1;
  }
  ASN1_OCTET_STRING_free(st.keyid);
  if (pkey != nullptr) {
    EVP_PKEY_free(*pkey);
    *pkey = nullptr;
  }
  if (cert != nullptr) {
    X509_free(*cert);
    *cert = nullptr;
  }
  if (ca != nullptr) {
    if (made_ca) {
      sk_pop_free(*ca, free_cert);
      *ca = nullptr;
    } else {
      // A stack the caller gave keeps what it held before the call.
      while (sk_num(*ca) > ca_before) X509_free(reinterpret_cast<X509*>(sk_pop(*ca)));
    }
  }
  return 0;
}
