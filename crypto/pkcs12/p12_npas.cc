// Changing a PFX's password: every safe and every shrouded key bag (also in
// nested safe-contents bags) is decrypted with the old password and
// encrypted again with the new one under the same algorithm, iteration
// count and salt length (a fresh salt), and the MAC is computed again.  A
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

namespace {

constexpr int kData = 21, kEncrypted = 26, kShroudedKeyBag = 151, kSafeContentsBag = 155;

void free_bag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void free_safe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}

// The NID, iteration count and salt length of a PKCS#5 v1 or PKCS#12
// algorithm identifier; false for any other kind of parameters.
bool pbe_params(const X509_ALGOR* alg, int* nid, int* iter, int* saltlen) {
  if (alg == nullptr || alg->parameter == nullptr ||
      alg->parameter->type != ASN1_UT_SEQUENCE || alg->parameter->value.sequence == nullptr)
    return false;
  const ASN1_STRING* s = alg->parameter->value.sequence;
  const unsigned char* p = s->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length);
  if (pbe == nullptr) return false;
  const long it = ASN1_INTEGER_get(pbe->iter);
  *nid = OBJ_obj2nid(alg->algorithm);
  *iter = it < 1 || it > INT_MAX ? 0 : static_cast<int>(it);
  *saltlen = pbe->salt->length;
  PBEPARAM_free(pbe);
  return *iter > 0;
}

// Re-encrypts the shrouded key bags of one safe, walking into nested
// safe-contents bags (as deep as the decoder lets a PFX nest them).
bool rekey_bags(STACK* bags, const char* oldpass, const char* newpass) {
  for (int i = 0; i < sk_num(bags); i++) {
    auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, i));
    const int type = OBJ_obj2nid(bag->type);
    if (type == kSafeContentsBag) {
      if (!rekey_bags(bag->value.safes, oldpass, newpass)) return false;
      continue;
    }
    if (type != kShroudedKeyBag) continue;
    int nid = 0, iter = 0, saltlen = 0;
    if (!pbe_params(bag->value.shkeybag->algor, &nid, &iter, &saltlen)) return false;
    PKCS8_PRIV_KEY_INFO* p8 = PKCS8_decrypt(bag->value.shkeybag, oldpass, -1);
    if (p8 == nullptr) return false;
    X509_SIG* enc = PKCS8_encrypt(nid, nullptr, newpass, -1, nullptr, saltlen, iter, p8);
    PKCS8_PRIV_KEY_INFO_free(p8);
    if (enc == nullptr) return false;
    X509_SIG_free(bag->value.shkeybag);
    bag->value.shkeybag = enc;
  }
  return true;
}

// The safes rebuilt under the new password, or null.
STACK* rebuild_safes(PKCS12* p12, const char* oldpass, const char* newpass) {
  STACK* safes = PKCS12_unpack_authsafes(p12);
  if (safes == nullptr) return nullptr;
  STACK* out = sk_new_null();
  bool ok = out != nullptr;
  for (int i = 0; ok && i < sk_num(safes); i++) {
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    const int type = OBJ_obj2nid(p7->type);
    STACK* bags = nullptr;
    int nid = 0, iter = 0, saltlen = 0;
    if (type == kData) {
      bags = PKCS12_unpack_p7data(p7);
    } else if (type == kEncrypted) {
      ok = p7->d.encrypted != nullptr && p7->d.encrypted->enc_data != nullptr &&
           pbe_params(p7->d.encrypted->enc_data->algorithm, &nid, &iter, &saltlen);
      if (ok) bags = PKCS12_unpack_p7encdata(p7, oldpass, -1);
    } else {
      ok = false;  // nothing to carry it over with
      break;
    }
    ok = ok && bags != nullptr && rekey_bags(bags, oldpass, newpass);
    PKCS7* np = nullptr;
    if (ok)
      np = type == kData ? PKCS12_pack_p7data(bags)
                         : PKCS12_pack_p7encdata(nid, newpass, -1, nullptr, saltlen, iter, bags);
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
  if (!PKCS12_verify_mac(p12, oldpass, -1)) {
    PKCS12err(PKCS12_F_PKCS12_NEWPASS, PKCS12_R_MAC_VERIFY_FAILURE);
    return 0;
  }
  STACK* safes = rebuild_safes(p12, oldpass, newpass);
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
