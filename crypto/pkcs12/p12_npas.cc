// Changing a PFX's password: every safe and every shrouded key bag (also in
// nested safe-contents bags) is decrypted with the old password and
// encrypted again with the new one under the same algorithm, iteration
// count and salt length (a fresh salt), and the MAC is computed again.  A
// shrouded key under PBES2 is encrypted again under PBES2 with the same
// cipher and key length; a safe under PBES2 is refused.  A safe of another
// content type (enveloped data under a public key, say) cannot be carried
// over: the change fails and the PFX stays as it was.

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

// The key length the cipher of PBES2 parameters `pbe2` takes: the cipher's
// own, or what its parameters set (RC2's effective key bits); 0 when they
// do not read.
int sealed_key_length(const EVP_CIPHER* cipher, const PBE2PARAM* pbe2) {
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  const int len = EVP_CipherInit_ex(&ctx, cipher, nullptr, nullptr, nullptr, 0) &&
                          EVP_CIPHER_asn1_to_param(&ctx, pbe2->encryption->parameter) >= 0
                      ? EVP_CIPHER_CTX_key_length(&ctx)
                      : 0;
  EVP_CIPHER_CTX_cleanup(&ctx);
  return len;
}

// The cipher that encrypts again as `cipher` did with a key of `keylen`
// bytes: itself, or its form of that length (RC2 at 40 and 64 bits), or
// null.
const EVP_CIPHER* cipher_of_length(const EVP_CIPHER* cipher, int keylen) {
  for (const EVP_CIPHER* c : {cipher, EVP_rc2_40_cbc(), EVP_rc2_64_cbc()})
    if (EVP_CIPHER_type(c) == EVP_CIPHER_type(cipher) && EVP_CIPHER_key_length(c) == keylen)
      return c;
  return nullptr;
}

// PBES2 as this library writes it: PBKDF2 with HMAC-SHA1 and a salt in an
// OCTET STRING, the key length (when stated) the one the cipher's
// parameters give; encrypted again with a key of that length.
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
  const EVP_CIPHER* named =
      kdf != nullptr ? EVP_get_cipherbyname(OBJ_nid2sn(OBJ_obj2nid(pbe2->encryption->algorithm)))
                     : nullptr;
  const int keylen = named != nullptr ? sealed_key_length(named, pbe2) : 0;
  const EVP_CIPHER* cipher = keylen > 0 ? cipher_of_length(named, keylen) : nullptr;
  bool ok = cipher != nullptr && kdf->salt != nullptr && kdf->salt->type == ASN1_UT_OCTET_STRING &&
            (kdf->prf == nullptr || OBJ_obj2nid(kdf->prf->algorithm) == kNidHmacWithSha1) &&
            (kdf->keylength == nullptr || ASN1_INTEGER_get(kdf->keylength) == keylen);
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

// Checks that every shrouded key bag among `bags` (nested safe-contents
// bags included, as deep as the decoder lets a PFX nest them) can be
// encrypted again; false with the reason queued.
bool keys_sealable(STACK* bags) {
  for (int i = 0; i < sk_num(bags); i++) {
    auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, i));
    const int type = OBJ_obj2nid(bag->type);
    Seal seal;
    if (type == kSafeContentsBag
            ? !keys_sealable(bag->value.safes)
            : type == kShroudedKeyBag && !seal_of(bag->value.shkeybag->algor, true, &seal))
      return false;
  }
  return true;
}

// Re-encrypts the shrouded key bags among `bags`, their work drawn from
// the budget already.
bool rekey_bags(STACK* bags, const char* oldpass, const char* newpass) {
  for (int i = 0; i < sk_num(bags); i++) {
    auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, i));
    const int type = OBJ_obj2nid(bag->type);
    if (type == kSafeContentsBag) {
      if (!rekey_bags(bag->value.safes, oldpass, newpass)) return false;
      continue;
    }
    if (type != kShroudedKeyBag) continue;
    Seal seal;
    if (!seal_of(bag->value.shkeybag->algor, true, &seal)) return false;
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

void free_bags(void* bags) {
  sk_pop_free(static_cast<STACK*>(bags), free_bag);
}

// The safes rebuilt under the new password, or null (with *over_budget
// set when the keys' work was not in the budget).  Every safe is opened
// first; the keys of the encrypted ones are drawn from the budget (those of
// the plain ones were drawn with the MAC and the safes) before any key is
// decrypted, so a file past the budget fails before its keys' work.
STACK* rebuild_safes(PKCS12* p12, const char* oldpass, const char* newpass, WorkBudget* budget,
                     bool* over_budget) {
  STACK* safes = PKCS12_unpack_authsafes(p12);
  if (safes == nullptr) return nullptr;
  const int n = sk_num(safes);
  STACK* opened = sk_new_null();  // the bag stack of each safe, in order
  STACK* out = sk_new_null();
  Seal* seals = static_cast<Seal*>(MORVANE_malloc(sizeof(Seal) * static_cast<size_t>(n + 1)));
  bool ok = opened != nullptr && out != nullptr && seals != nullptr;
  if (!ok) PKCS12err(PKCS12_F_PKCS12_NEWPASS, ERR_R_MALLOC_FAILURE);
  long key_work = 0;
  for (int i = 0; ok && i < n; i++) {
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    const int type = OBJ_obj2nid(p7->type);
    STACK* bags = nullptr;
    seals[i] = Seal();  // a count of 0: packed again as plain data
    if (type == kData) {
      bags = PKCS12_unpack_p7data(p7);
    } else if (type == kEncrypted) {
      ok = p7->d.encrypted != nullptr && p7->d.encrypted->enc_data != nullptr &&
           seal_of(p7->d.encrypted->enc_data->algorithm, false, &seals[i]);
      if (ok) bags = PKCS12_unpack_p7encdata(p7, oldpass, -1);
      if (bags != nullptr) key_work += morvane::pkcs12::key_work(bags);
    } else {
      ok = false;  // nothing to carry it over with
    }
    if (bags != nullptr && !sk_push(opened, reinterpret_cast<char*>(bags))) {
      PKCS12err(PKCS12_F_PKCS12_NEWPASS, ERR_R_MALLOC_FAILURE);
      free_bags(bags);
      bags = nullptr;
    }
    ok = ok && bags != nullptr && keys_sealable(bags);
    if (key_work > morvane::pkcs12::kBudget) key_work = morvane::pkcs12::kBudget + 1;
  }
  if (ok && !budget->charge(key_work)) {
    *over_budget = true;
    ok = false;
  }
  for (int i = 0; ok && i < n; i++) {
    auto* bags = reinterpret_cast<STACK*>(sk_value(opened, i));
    ok = rekey_bags(bags, oldpass, newpass);
    PKCS7* np = nullptr;
    if (ok)
      np = seals[i].iter == 0 ? PKCS12_pack_p7data(bags)
                              : PKCS12_pack_p7encdata(seals[i].nid, newpass, -1, nullptr,
                                                      seals[i].saltlen, seals[i].iter, bags);
    ok = np != nullptr && sk_push(out, reinterpret_cast<char*>(np));
    if (!ok) PKCS7_free(np);
  }
  MORVANE_free(seals);
  sk_pop_free(opened, free_bags);
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
  // One budget for the whole change: the MAC, the encrypted safes and the
  // shrouded keys of the plain safes are drawn before anything is derived,
  // the keys of the encrypted safes before any key is decrypted.
  // Encrypting again costs what decrypting did, so the work stays within
  // twice the budget.
  WorkBudget budget(PKCS12_F_PKCS12_NEWPASS);
  if (!budget.charge(morvane::pkcs12::stated_work(p12, true))) return 0;
  if (!PKCS12_verify_mac(p12, oldpass, -1)) {
    PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_MAC_VERIFY_FAILURE);
    return 0;
  }
  bool over_budget = false;
  STACK* safes = rebuild_safes(p12, oldpass, newpass, &budget, &over_budget);
  if (safes == nullptr) {
    if (!over_budget) PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_PARSE_ERROR);
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
