// Fuzzes what reads PFX files from outside: the DER decoder from memory and
// from a stream (d2i_PKCS12_bio; re-encoded when it decodes), the MAC
// check, the safes and bags walked as PKCS12_parse walks them (certificates
// decoded, friendly names read, shrouded keys decrypted, keys converted),
// PKCS12_parse itself with the password "pw" and with none, and
// PKCS12_newpass from "pw".  PBE and MAC iteration counts above 64 are left
// out so that inputs stay quick.
//
// Checks: what decodes from memory decodes alike from a stream; a failed
// parse hands out nothing; a password change that fails leaves the PFX's
// DER as it was, one that succeeds leaves a PFX whose MAC verifies under
// the new password only.

#include "fuzz_check.h"
#include "fuzz_der.h"

#include <cstdint>

#include <vector>

#include <morvane/asn1.h>
#include <morvane/bio.h>
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

std::vector<unsigned char> Der(PKCS12* p12) { return DerOf(i2d_PKCS12, p12); }

void Parse(PKCS12* p12, const char* pass) {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK* ca = nullptr;
  if (PKCS12_parse(p12, pass, &key, &cert, &ca)) {
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_pop_free(ca, FreeCert);
  } else {
    Check(key == nullptr && cert == nullptr && ca == nullptr, "a failed parse hands out nothing");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (Morvane_add_all_ciphers(), Morvane_add_all_digests(), true);
  (void)ready;
  const unsigned char* p = data;
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(size));
  BIO* in = BIO_new_mem_buf(const_cast<uint8_t*>(data), static_cast<int>(size));
  PKCS12* streamed = d2i_PKCS12_bio(in, nullptr);
  BIO_free(in);
  if (p12 == nullptr) {
    PKCS12_free(streamed);
    ERR_clear_error();
    return 0;
  }
  const std::vector<unsigned char> der = Der(p12);
  Check(!der.empty(), "a decoded PFX encodes");
  Check(streamed != nullptr && Der(streamed) == der, "a stream decodes the same PFX");
  PKCS12_free(streamed);
  if (QuickFile(p12)) {
    PKCS12_verify_mac(p12, "pw", -1);
    Parse(p12, "pw");
    Parse(p12, nullptr);
    if (PKCS12_newpass(p12, const_cast<char*>("pw"), const_cast<char*>("new pw"))) {
      Check(PKCS12_verify_mac(p12, "new pw", -1) == 1, "the new MAC verifies");
      Check(PKCS12_verify_mac(p12, "pw", -1) == 0, "the old MAC is gone");
    } else {
      Check(Der(p12) == der, "a failed change leaves the PFX as it was");
    }
  }
  PKCS12_free(p12);
  ERR_clear_error();
  return 0;
}
