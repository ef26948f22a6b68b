// Fuzzes what reads PKCS#8 keys and password-based-encryption parameters
// from outside: the first input octet picks the road, the rest is DER.
//   even: PrivateKeyInfo through EVP_PKCS82PKEY, the key (when one comes
//         out) written back in the form it was read in, PKCS8_set_broken;
//   odd, bit 2 clear: an AlgorithmIdentifier through EVP_PBE_CipherInit
//         (PBES1, PBES2 and the PKCS#12 rows), its parameters decoded by
//         the key generators;
//   odd, bit 2 set: an EncryptedPrivateKeyInfo through PKCS8_decrypt.
// Iteration counts above 64 are left out so that inputs stay quick.
//
// Checks: whatever comes out encodes; everything is freed, so the leak
// check sees anything left behind.

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

namespace {

constexpr long kMaxIterations = 64;

// The iteration count of PBES1 or PBES2 parameters, or 0 when they do not
// decode as either.
long Iterations(const X509_ALGOR* alg) {
  const ASN1_TYPE* t = alg->parameter;
  if (t == nullptr || t->type != ASN1_UT_SEQUENCE || t->value.sequence == nullptr) return 0;
  const ASN1_STRING* s = t->value.sequence;
  const unsigned char* p = s->data;
  long iter = 0;
  if (PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length)) {
    iter = ASN1_INTEGER_get(pbe->iter);
    PBEPARAM_free(pbe);
  }
  p = s->data;
  if (PBE2PARAM* pbe2 = d2i_PBE2PARAM(nullptr, &p, s->length)) {
    const ASN1_TYPE* k = pbe2->keyfunc->parameter;
    if (k != nullptr && k->type == ASN1_UT_SEQUENCE && k->value.sequence != nullptr) {
      const unsigned char* q = k->value.sequence->data;
      if (PBKDF2PARAM* kdf = d2i_PBKDF2PARAM(nullptr, &q, k->value.sequence->length)) {
        iter = ASN1_INTEGER_get(kdf->iter);
        PBKDF2PARAM_free(kdf);
      }
    }
    PBE2PARAM_free(pbe2);
  }
  return iter;
}

void Pkcs8(const unsigned char* p, long len, int form) {
  PKCS8_PRIV_KEY_INFO* p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, len);
  if (p8 == nullptr) return;
  if (EVP_PKEY* pkey = EVP_PKCS82PKEY(p8)) {
    if (PKCS8_PRIV_KEY_INFO* back = EVP_PKEY2PKCS8_broken(pkey, p8->broken)) {
      Check(i2d_PKCS8_PRIV_KEY_INFO(back, nullptr) > 0, "a written key encodes");
      PKCS8_PRIV_KEY_INFO_free(back);
    }
    EVP_PKEY_free(pkey);
  }
  if (PKCS8_set_broken(p8, form) != nullptr)
    Check(i2d_PKCS8_PRIV_KEY_INFO(p8, nullptr) > 0, "a retagged key encodes");
  PKCS8_PRIV_KEY_INFO_free(p8);
}

void Pbe(const unsigned char* p, long len, int enc) {
  X509_ALGOR* alg = d2i_X509_ALGOR(nullptr, &p, len);
  if (alg == nullptr) return;
  if (Iterations(alg) <= kMaxIterations) {
    EVP_CIPHER_CTX ctx;
    EVP_CIPHER_CTX_init(&ctx);
    if (EVP_PBE_CipherInit(alg->algorithm, "password", -1, alg->parameter, &ctx, enc)) {
      unsigned char out[64];
      int n = 0;
      Check(EVP_CipherUpdate(&ctx, out, &n, reinterpret_cast<const unsigned char*>("16 bytes of data"),
                             16) == 1,
            "a keyed context runs");
    }
    EVP_CIPHER_CTX_cleanup(&ctx);
  }
  X509_ALGOR_free(alg);
}

void EncryptedPkcs8(const unsigned char* p, long len) {
  X509_SIG* sig = d2i_X509_SIG(nullptr, &p, len);
  if (sig == nullptr) return;
  if (Iterations(sig->algor) <= kMaxIterations) {
    if (PKCS8_PRIV_KEY_INFO* p8 = PKCS8_decrypt(sig, "password", -1)) {
      Check(i2d_PKCS8_PRIV_KEY_INFO(p8, nullptr) > 0, "a decrypted key encodes");
      PKCS8_PRIV_KEY_INFO_free(p8);
    }
  }
  X509_SIG_free(sig);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (Morvane_add_all_ciphers(), true);
  (void)ready;
  if (size < 1) return 0;
  const int mode = data[0];
  if ((mode & 5) == 5)
    EncryptedPkcs8(data + 1, static_cast<long>(size - 1));
  else if (mode & 1)
    Pbe(data + 1, static_cast<long>(size - 1), (mode >> 1) & 1);
  else
    Pkcs8(data + 1, static_cast<long>(size - 1), (mode >> 1) & 3);
  ERR_clear_error();
  return 0;
}
