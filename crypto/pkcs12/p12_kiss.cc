// Reading a PFX: the password is checked against the MAC, then the safes are
// walked for the key, the certificate that goes with it and the other
// certificates.
//
// Implementation notes: the pairing does not depend on the order of the
// bags.  The walk keeps the first key bag and every certificate; only then
// is the key's certificate chosen: the first whose public key is the key's
// and, when the key has a localKeyID, whose localKeyID is the same.  A
// matching localKeyID alone pairs nothing: a file may give a certificate of
// another key the key's identifier.  So the key is decoded whenever a
// certificate is asked for.  When only certificates are asked for, a key
// that does not decrypt or decode (an algorithm this library does not know,
// say) fails nothing: with no public key to compare, no certificate is
// paired and all go to the CA list, since pairing by localKeyID alone would
// let whoever writes the file pass the check by choosing such a key.  A
// file without a key bag gives the first certificate that carries a
// localKeyID, as files holding certificates only have always done.

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
#include "internal/err_watch.h"
#include "pkcs12/work_budget.h"

namespace {

constexpr int kData = 21, kEncrypted = 26;
constexpr int kKeyBag = 150, kShroudedKeyBag = 151, kCertBag = 152, kSafeContents = 155;
constexpr int kX509Cert = 158, kFriendlyName = 156, kLocalKeyId = 157;

struct ParseState {
  const char* pass;
  int passlen;
  bool want_key;   // the caller asked for the key
  bool need_pair;  // the caller asked for the certificate or the others
  bool key_seen = false;
  EVP_PKEY* key = nullptr;             // the first key bag's key, once decoded
  ASN1_OCTET_STRING* keyid = nullptr;  // and its localKeyID, when it has one
  STACK* certs = nullptr;              // every certificate, in file order
  morvane::pkcs12::WorkBudget* budget = nullptr;  // the MAC's and safes' counts drawn already
  bool over_budget = false;                       // a shrouded key's count was not there
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

// The key of a key bag, decrypted when shrouded; null with the reason
// queued.
EVP_PKEY* decode_key(PKCS12_SAFEBAG* bag, ParseState* st) {
  PKCS8_PRIV_KEY_INFO* p8 = bag->value.keybag;
  PKCS8_PRIV_KEY_INFO* dec = nullptr;
  if (OBJ_obj2nid(bag->type) == kShroudedKeyBag) {
    if (!st->budget->charge(bag->value.shkeybag != nullptr ? bag->value.shkeybag->algor
                                                           : nullptr)) {
      st->over_budget = true;
      return nullptr;
    }
    dec = PKCS12_decrypt_skey(bag, st->pass, st->passlen);
    if (dec == nullptr) return nullptr;
    p8 = dec;
  }
  EVP_PKEY* key = EVP_PKCS82PKEY(p8);
  PKCS8_PRIV_KEY_INFO_free(dec);
  return key;
}

// The first key bag: its localKeyID, and its key when the caller asked for
// it or for certificates (the pairing compares public keys).  A key asked
// for must decode; one decoded only for the pairing may not, and then what
// its decoding queued is taken back (unless memory ran out).
bool take_key(PKCS12_SAFEBAG* bag, const ASN1_OCTET_STRING* id, ParseState* st) {
  st->key_seen = true;
  if (id != nullptr) {
    st->keyid = ASN1_STRING_dup(id);
    if (st->keyid == nullptr) {
      PKCS12err(PKCS12_F_PARSE_BAG, ERR_R_MALLOC_FAILURE);
      return false;
    }
  }
  if (!st->want_key && !st->need_pair) return true;
  morvane::internal::ErrorMark mark(!st->want_key);
  const morvane::internal::MallocFailureWatch watch;
  st->key = decode_key(bag, st);
  // Work past the budget fails the parse even for a key only decoded for
  // the pairing: a bound never reads as "no key there".
  if (st->key != nullptr || st->want_key || watch.seen() || st->over_budget)
    return st->key != nullptr;
  mark.pop();
  return true;
}

// A certificate bag's certificate, with the bag's localKeyID and its
// friendlyName (as UTF-8) kept on it.
bool take_cert(PKCS12_SAFEBAG* bag, const ASN1_OCTET_STRING* id, ParseState* st) {
  if (bag->value.bag == nullptr || OBJ_obj2nid(bag->value.bag->type) != kX509Cert) return true;
  X509* x = PKCS12_certbag2x509(bag);
  if (x == nullptr) return false;
  bool ok = id == nullptr || X509_keyid_set1(x, id->data, id->length);
  const ASN1_TYPE* fname = PKCS12_get_attr_gen(bag->attrib, kFriendlyName);
  if (ok && fname != nullptr && fname->type == ASN1_UT_BMPSTRING) {
    unsigned char* utf8 = nullptr;
    const int len = ASN1_STRING_to_UTF8(&utf8, fname->value.bmpstring);
    ok = len >= 0 && X509_alias_set1(x, utf8, len);
    MORVANE_free(utf8);
  }
  if (ok && !sk_push(st->certs, reinterpret_cast<char*>(x))) {
    PKCS12err(PKCS12_F_PARSE_BAG, ERR_R_MALLOC_FAILURE);
    ok = false;
  }
  if (!ok) X509_free(x);
  return ok;
}

// One bag; false fails the parse.
bool parse_bag(PKCS12_SAFEBAG* bag, ParseState* st) {
  const ASN1_TYPE* lkid = PKCS12_get_attr_gen(bag->attrib, kLocalKeyId);
  const ASN1_OCTET_STRING* id =
      lkid != nullptr && lkid->type == ASN1_UT_OCTET_STRING ? lkid->value.octet_string : nullptr;
  switch (OBJ_obj2nid(bag->type)) {
    case kKeyBag:
    case kShroudedKeyBag:
      return st->key_seen || take_key(bag, id, st);
    case kCertBag:
      return take_cert(bag, id, st);
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

// Whether x's public key is `key`: 1 when it is, 0 when it is not (a
// certificate whose key cannot be read is simply not the one), -1 when
// memory ran short while reading it (the reason left queued).
int same_key(X509* x, const EVP_PKEY* key) {
  morvane::internal::ErrorMark mark;
  const morvane::internal::MallocFailureWatch watch;
  EVP_PKEY* pub = X509_get_pubkey(x);
  if (pub == nullptr && watch.seen()) return -1;
  const bool same = pub != nullptr && EVP_PKEY_cmp(pub, key) == 1;
  EVP_PKEY_free(pub);
  mark.pop();
  return same ? 1 : 0;
}

// The index in st->certs of the key's certificate, -1 when there is none,
// or -2 when a comparison could not be made.
int paired_cert(ParseState* st) {
  const int n = sk_num(st->certs);
  for (int i = 0; i < n; i++) {
    auto* x = reinterpret_cast<X509*>(sk_value(st->certs, i));
    int len = 0;
    const unsigned char* id = X509_keyid_get0(x, &len);
    if (!st->key_seen) {
      if (id != nullptr) return i;
      continue;
    }
    if (st->keyid != nullptr &&
        (id == nullptr || len != st->keyid->length || memcmp(id, st->keyid->data, len) != 0))
      continue;
    if (st->key == nullptr) continue;
    const int same = same_key(x, st->key);
    if (same < 0) return -2;
    if (same == 1) return i;
  }
  return -1;
}

// Hands the key's certificate to *cert and the others to ca, in file order;
// what the caller did not ask for is freed.
bool hand_out(ParseState* st, X509** cert, STACK* ca) {
  const int mine = paired_cert(st);
  if (mine == -2) {
    PKCS12err(PKCS12_F_PKCS12_PARSE, ERR_R_MALLOC_FAILURE);
    return false;
  }
  for (int i = 0; sk_num(st->certs) > 0; i++) {
    auto* x = reinterpret_cast<X509*>(sk_shift(st->certs));
    if (i == mine && cert != nullptr) {
      *cert = x;
    } else if (i == mine || ca == nullptr) {
      X509_free(x);
    } else if (!sk_push(ca, reinterpret_cast<char*>(x))) {
      X509_free(x);
      PKCS12err(PKCS12_F_PKCS12_PARSE, ERR_R_MALLOC_FAILURE);
      return false;
    }
  }
  return true;
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
  // One budget of iterations for the whole call: the MAC and the encrypted
  // safes are drawn before anything is derived, the key when it is found.
  // A null or empty pass phrase may have been used as either form: each
  // form tried checks the MAC with its own count, beside the budget, which
  // covers the file's counts once.  A MAC that cannot be computed with the
  // first form cannot be with the second.
  morvane::pkcs12::WorkBudget budget(PKCS12_F_PKCS12_PARSE);
  const bool within = budget.charge(morvane::pkcs12::stated_work(p12, false));
  int passlen = -1;
  Mac mac = Mac::kMismatch;
  if (within && (pass == nullptr || *pass == '\0')) {
    passlen = 0;
    for (const char* form : {static_cast<const char*>(nullptr), ""}) {
      mac = check_mac(p12, form, 0);
      if (mac != Mac::kMismatch) {
        pass = form;
        break;
      }
    }
  } else if (within) {
    mac = check_mac(p12, pass, -1);
  }
  ParseState st{pass, passlen, pkey != nullptr, cert != nullptr || ca != nullptr};
  st.budget = &budget;
  bool ok = false;
  if (!within) {
    // The budget's reason says why: no MAC was computed.
  } else if (mac != Mac::kVerified) {
    PKCS12err(PKCS12_F_PKCS12_PARSE, PKCS12_R_MAC_VERIFY_FAILURE);
  } else if ((st.certs = sk_new_null()) == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PARSE, ERR_R_MALLOC_FAILURE);
  } else if (!parse_safes(p12, &st)) {
    // Past the budget the budget's reason says why.
    if (!st.over_budget) PKCS12err(PKCS12_F_PKCS12_PARSE, PKCS12_R_PARSE_ERROR);
  } else {
    ok = hand_out(&st, cert, ca != nullptr ? *ca : nullptr);
  }
  ASN1_OCTET_STRING_free(st.keyid);
  sk_pop_free(st.certs, free_cert);
  if (ok && pkey != nullptr) {
    *pkey = st.key;
    return 1;
  }
  EVP_PKEY_free(st.key);
  if (ok) return 1;
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
