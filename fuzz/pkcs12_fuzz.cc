// Fuzzes what reads PFX files from outside: the DER decoder (re-encoded
// when it decodes), the MAC check, the safes and bags walked as
// PKCS12_parse walks them (certificates decoded, friendly names read,
// shrouded keys decrypted, keys converted), and PKCS12_parse itself.
// Everything uses the password "pw"; PBE and MAC iteration counts above 64
// are left out so that inputs stay quick.

#include "fuzz_check.h"

#include <cstdint>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

constexpr long kMaxIterations = 64;

bool QuickPbe(const X509_ALGOR* alg) {
  if (alg == nullptr || alg->parameter == nullptr || alg->parameter->type != ASN1_UT_SEQUENCE ||
      alg->parameter->value.sequence == nullptr)
    return true;  // refused before any derivation
  const ASN1_STRING* s = alg->parameter->value.sequence;
  const unsigned char* p = s->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length);
  if (pbe == nullptr) return OBJ_obj2nid(alg->algorithm) != 161;  // PBES2 is not looked into
  const long iter = ASN1_INTEGER_get(pbe->iter);
  PBEPARAM_free(pbe);
  return iter <= kMaxIterations;
}

void FreeBag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void FreeSafe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}
void FreeCert(void* x) {
  X509_free(static_cast<X509*>(x));
}

void Bags(STACK* bags, int depth) {
  for (int i = 0; i < sk_num(bags); i++) {
    auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, i));
    MORVANE_free(PKCS12_get_friendlyname(bag));
    X509_free(PKCS12_certbag2x509(bag));
    X509_CRL_free(PKCS12_certbag2x509crl(bag));
    switch (OBJ_obj2nid(bag->type)) {
      case 150:
        EVP_PKEY_free(EVP_PKCS82PKEY(bag->value.keybag));
        break;
      case 151:
        if (QuickPbe(bag->value.shkeybag->algor)) {
          PKCS8_PRIV_KEY_INFO* p8 = PKCS12_decrypt_skey(bag, "pw", -1);
          if (p8 != nullptr) EVP_PKEY_free(EVP_PKCS82PKEY(p8));
          PKCS8_PRIV_KEY_INFO_free(p8);
        }
        break;
      case 155:
        if (depth < 8) Bags(bag->value.safes, depth + 1);
        break;
      default:
        break;
    }
  }
}

bool QuickFile(PKCS12* p12) {
  if (p12->mac != nullptr && p12->mac->iter != nullptr &&
      ASN1_INTEGER_get(p12->mac->iter) > kMaxIterations)
    return false;
  STACK* safes = PKCS12_unpack_authsafes(p12);
  bool quick = true;
  for (int i = 0; i < sk_num(safes); i++) {
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    STACK* bags = nullptr;
    if (OBJ_obj2nid(p7->type) == 21) {
      bags = PKCS12_unpack_p7data(p7);
    } else if (OBJ_obj2nid(p7->type) == 26 && p7->d.encrypted != nullptr &&
               p7->d.encrypted->enc_data != nullptr) {
      if (!QuickPbe(p7->d.encrypted->enc_data->algorithm)) {
        quick = false;
        continue;
      }
      bags = PKCS12_unpack_p7encdata(p7, "pw", -1);
    }
    // Shrouded keys of a slow kind make the whole parse slow.
    for (int j = 0; j < sk_num(bags); j++) {
      auto* bag = reinterpret_cast<PKCS12_SAFEBAG*>(sk_value(bags, j));
      if (OBJ_obj2nid(bag->type) == 151 && !QuickPbe(bag->value.shkeybag->algor)) quick = false;
    }
    Bags(bags, 0);
    sk_pop_free(bags, FreeBag);
  }
  sk_pop_free(safes, FreeSafe);
  return quick;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (Morvane_add_all_ciphers(), Morvane_add_all_digests(), true);
  (void)ready;
  const unsigned char* p = data;
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(size));
  if (p12 == nullptr) {
    ERR_clear_error();
    return 0;
  }
  Check(i2d_PKCS12(p12, nullptr) > 0, "a decoded PFX encodes");
  if (QuickFile(p12)) {
    PKCS12_verify_mac(p12, "pw", -1);
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK* ca = nullptr;
    if (PKCS12_parse(p12, "pw", &key, &cert, &ca)) {
      EVP_PKEY_free(key);
      X509_free(cert);
      sk_pop_free(ca, FreeCert);
    } else {
      Check(key == nullptr && cert == nullptr && ca == nullptr, "a failed parse hands out nothing");
    }
  }
  PKCS12_free(p12);
  ERR_clear_error();
  return 0;
}
