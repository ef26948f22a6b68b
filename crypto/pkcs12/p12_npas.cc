// Changing a PFX's password: every safe and every shrouded key bag (also in
// nested safe-contents bags) is decrypted with the old password and
// encrypted again with the new one under the same algorithm, iteration
// count and salt length (a fresh salt), and the MAC is computed again.  A
// shrouded key under PBES2 is encrypted again under PBES2 with the same
// cipher; a safe under PBES2 is refused.  A
// safe of another content type (enveloped data under a public key, say)
// cannot be carried over: the change fails and the PFX stays as it was.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "internal/err_mark.h"
#include "pkcs12/work_budget.h"

namespace {

constexpr int kData = 21, kEncrypted = 26, kShroudedKeyBag = 151, kSafeContentsBag = 155;
constexpr int kNidPbkdf2 = 69, kNidPbes2 = 161, kNidHmacWithSha1 = 163;

using morvane::pkcs12::sequence_of;
using morvane::pkcs12::WorkBudget;

void free_bag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void free_safe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}

// How a decrypted value is encrypted again: the same algorithm (a PKCS#5 v1
// or PKCS#12 row, or PBES2 over the same cipher), iteration count and salt
// length, with a fresh salt.
struct Seal {
  int nid = -1;  // -1: PBES2 with `cipher`
  const EVP_CIPHER* cipher = nullptr;
  int iter = 0;
  int saltlen = 0;
};

int count_of(const ASN1_INTEGER* iter) {
  const long it = ASN1_INTEGER_get(iter);
  return it < 1 || it > INT_MAX ? 0 : static_cast<int>(it);
}

// PBES2 as this library writes it: PBKDF2 with HMAC-SHA1 and a salt in an
// OCTET STRING, the key length (when stated) the cipher's own.
bool pbes2_seal(const ASN1_STRING* s, Seal* out) {
  const unsigned char* p = s->data;
  PBE2PARAM* pbe2 = d2i_PBE2PARAM(nullptr, &p, s->length);
  const ASN1_STRING* k = pbe2 != nullptr && OBJ_obj2nid(pbe2->keyfunc->algorithm) == kNidPbkdf2
                             ? sequence_of(pbe2->keyfunc)
                             : nullptr;
  PBKDF2PARAM* kdf = nullptr;
  if (k != nullptr) {
    p = k->data;
    kdf = d2i_PBKDF2PARAM(nullptr, &p, k->length);
  }
  const EVP_CIPHER* cipher =
      kdf != nullptr ? EVP_get_cipherbyname(OBJ_nid2sn(OBJ_obj2nid(pbe2->encryption->algorithm)))
                     : nullptr;
  bool ok = cipher != nullptr && kdf->salt != nullptr &&
            kdf->salt->type == ASN1_UT_OCTET_STRING &&
            (kdf->prf == nullptr || OBJ_obj2nid(kdf->prf->algorithm) == kNidHmacWithSha1) &&
            (kdf->keylength == nullptr ||
             ASN1_INTEGER_get(kdf->keylength) == EVP_CIPHER_key_length(cipher));
  if (ok) {
    out->nid = -1;
    out->cipher = cipher;
    out->iter = count_of(kdf->iter);
    out->saltlen = kdf->salt->value.octet_string->length;
  }
  PBKDF2PARAM_free(kdf);
  PBE2PARAM_free(pbe2);
  return ok;
}

// The Seal of an algorithm identifier; false, with "unsupported encryption
// algorithm", for one this change cannot encrypt under again (PBES2 is
// taken for shrouded keys only: safes are written under a table row).
bool seal_of(const X509_ALGOR* alg, bool pbes2_ok, Seal* out) {
  const ASN1_STRING* s = sequence_of(alg);
  bool ok = false;
  if (s != nullptr) {
    morvane::internal::ErrorMark mark;
    if (OBJ_obj2nid(alg->algorithm) == kNidPbes2) {
      ok = pbes2_ok && pbes2_seal(s, out);
    } else {
      const unsigned char* p = s->data;
      PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length);
      if (pbe != nullptr) {
        out->nid = OBJ_obj2nid(alg->algorithm);
        out->iter = count_of(pbe->iter);
        out->saltlen = pbe->salt->length;
        ok = true;
      }
      PBEPARAM_free(pbe);
    }
    mark.pop();
  }
  ok = ok && out->iter > 0;
  if (!ok) PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_UNSUPPORTED_ENCRYPTION_ALGORITHM);
  return ok;
}

// Re-encrypts the shrouded key bags of one safe, walking into nested
// safe-contents bags (as deep as the decoder lets a PFX nest them).  Each
// key's count is drawn from the budget before it is decrypted.
bool rekey_bags(STACK* bags, const char* oldpass, const char* newpass, WorkBudget* budget) {
  for (int i = 0; i < sk_num(bags); i++) {
    auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, i));
    const int type = OBJ_obj2nid(bag->type);
    if (type == kSafeContentsBag) {
      if (!rekey_bags(bag->value.safes, oldpass, newpass, budget)) return false;
      continue;
    }
    if (type != kShroudedKeyBag) continue;
    Seal seal;
    if (!seal_of(bag->value.shkeybag->algor, true, &seal) ||
        !budget->charge(bag->value.shkeybag->algor, PKCS12_F_PKCS12_NEWPASS))
      return false;
    PKCS8_PRIV_KEY_INFO* p8 = PKCS8_decrypt(bag->value.shkeybag, oldpass, -1);
    if (p8 == nullptr) return false;
    X509_SIG* enc = PKCS8_encrypt(seal.nid, seal.cipher, newpass, -1, nullptr, seal.saltlen,
                                  seal.iter, p8);
    PKCS8_PRIV_KEY_INFO_free(p8);
    if (enc == nullptr) return false;
    X509_SIG_free(bag->value.shkeybag);
    bag->value.shkeybag = enc;
  }
  return true;
}

// The safes rebuilt under the new password, or null.
STACK* rebuild_safes(PKCS12* p12, const char* oldpass, const char* newpass, WorkBudget* budget) {
  STACK* safes = PKCS12_unpack_authsafes(p12);
  if (safes == nullptr) return nullptr;
  STACK* out = sk_new_null();
  bool ok = out != nullptr;
  for (int i = 0; ok && i < sk_num(safes); i++) {
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    const int type = OBJ_obj2nid(p7->type);
    STACK* bags = nullptr;
    Seal seal;
    if (type == kData) {
      bags = PKCS12_unpack_p7data(p7);
    } else if (type == kEncrypted) {
      ok = p7->d.encrypted != nullptr && p7->d.encrypted->enc_data != nullptr &&
           seal_of(p7->d.encrypted->enc_data->algorithm, false, &seal);
      if (ok) bags = PKCS12_unpack_p7encdata(p7, oldpass, -1);
    } else {
      ok = false;  // nothing to carry it over with
      break;
    }
    ok = ok && bags != nullptr && rekey_bags(bags, oldpass, newpass, budget);
    PKCS7* np = nullptr;
    if (ok)
      np = type == kData ? PKCS12_pack_p7data(bags)
                         : PKCS12_pack_p7encdata(seal.nid, newpass, -1, nullptr, seal.saltlen,
                                                 seal.iter, bags);
    sk_pop_free(bags, free_bag);
    ok = np != nullptr && sk_push(out, reinterpret_cast<char*>(np));
    if (!ok) PKCS7_free(np);
  }
  sk_pop_free(safes, free_safe);
  if (!ok) {
    sk_pop_free(out, free_safe);
    return nullptr;
  }
  return out;
}

}  // namespace

/* see morvane/pkcs12.h */
int PKCS12_newpass(PKCS12* p12, char* oldpass, char* newpass) {
  if (p12 == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_INVALID_NULL_PKCS12_POINTER);
    return 0;
  }
  // One budget for the whole change: the MAC and the encrypted safes are
  // drawn before anything is derived, each shrouded key as it is found.
  // Encrypting again costs what decrypting did, so the work stays within
  // twice the budget.
  WorkBudget budget;
  if (!budget.charge(morvane::pkcs12::stated_work(p12), PKCS12_F_PKCS12_NEWPASS)) return 0;
  if (!PKCS12_verify_mac(p12, oldpass, -1)) {
    PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_MAC_VERIFY_FAILURE);
    return 0;
  }
  STACK* safes = rebuild_safes(p12, oldpass, newpass, &budget);
  if (safes == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_PARSE_ERROR);
    return 0;
  }
  // Swap the new safes in; on failure the old content goes back.
  ASN1_OCTET_STRING* old = p12->authsafes->d.data;
  p12->authsafes->d.data = nullptr;
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int maclen = 0;
  const bool ok = PKCS12_pack_authsafes(p12, safes) &&
                  PKCS12_gen_mac(p12, newpass, -1, mac, &maclen) &&
                  ASN1_OCTET_STRING_set(p12->mac->dinfo->digest, mac, static_cast<int>(maclen));
  sk_pop_free(safes, free_safe);
  if (!ok) {
    ASN1_OCTET_STRING_free(p12->authsafes->d.data);
    p12->authsafes->d.data = old;
    PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_PARSE_ERROR);
    return 0;
  }
  ASN1_OCTET_STRING_free(old);
  return 1;
}
