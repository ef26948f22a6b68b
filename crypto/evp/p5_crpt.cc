// PBES1 (PKCS #5 v1.5, RFC 8018, 6.1): the key and IV of a DES or RC2 row
// from the iterated digest of the pass phrase and salt.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>

#include "evp/internal.h"
#include "internal/iter_count.h"
#include "internal/wipe.h"

namespace {

// D = H(pass || salt), then D = H(D) until `iter` digests were made.
bool iterated_digest(const EVP_MD* md, const char* pass, int passlen, const ASN1_OCTET_STRING* salt,
                     long iter, unsigned char* d) {
  EVP_MD_CTX c;
  EVP_MD_CTX_init(&c);
  unsigned int n = 0;
  bool ok = EVP_DigestInit_ex(&c, md, nullptr) &&
            EVP_DigestUpdate(&c, pass, static_cast<size_t>(passlen)) &&
            EVP_DigestUpdate(&c, salt->data, static_cast<size_t>(salt->length)) &&
            EVP_DigestFinal_ex(&c, d, &n);
  for (long i = 1; ok && i < iter; i++)
    ok = EVP_DigestInit_ex(&c, md, nullptr) && EVP_DigestUpdate(&c, d, n) &&
         EVP_DigestFinal_ex(&c, d, &n);
  EVP_MD_CTX_cleanup(&c);
  return ok;
}

}  // namespace

/* see morvane/evp.h */
int PKCS5_PBE_keyivgen(EVP_CIPHER_CTX* cctx, const char* pass, int passlen, ASN1_TYPE* param,
                       const EVP_CIPHER* cipher, const EVP_MD* md, int en_de) {
  if (cipher == nullptr || md == nullptr) {
    EVPerr(EVP_F_PKCS5_PBE_KEYIVGEN, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (param == nullptr || param->type != ASN1_UT_SEQUENCE || param->value.sequence == nullptr) {
    EVPerr(EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_DECODE_ERROR);
    return 0;
  }
  const unsigned char* p = param->value.sequence->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, param->value.sequence->length);
  if (pbe == nullptr) {
    EVPerr(EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_DECODE_ERROR);
    return 0;
  }
  int len = 0;
  if (!morvane::evp::pass_length(pass, passlen, &len)) {
    PBEPARAM_free(pbe);
    EVPerr(EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_INVALID_KEY_LENGTH);
    return 0;
  }
  const long iter = morvane::internal::stated_iterations(pbe->iter, md);
  if (iter < 0) {
    PBEPARAM_free(pbe);
    EVPerr(EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_ITERATION_COUNT_TOO_LARGE);
    return 0;
  }
  if (EVP_CIPHER_iv_length(cipher) > 16)
    MorvaneDie(__FILE__, __LINE__, "EVP_CIPHER_iv_length(cipher) <= 16");
  unsigned char d[EVP_MAX_MD_SIZE] = {};
  if (EVP_CIPHER_key_length(cipher) > static_cast<int>(sizeof d))
    MorvaneDie(__FILE__, __LINE__, "EVP_CIPHER_key_length(cipher) <= (int)sizeof(md_tmp)");
  morvane::internal::Wiper wd(d);
  const bool ok = iterated_digest(md, pass, len, pbe->salt, iter, d);
  PBEPARAM_free(pbe);
  if (!ok) return 0;
  // The key is the start of D; the IV ends at byte 16 of it.
  unsigned char key[EVP_MAX_KEY_LENGTH], iv[EVP_MAX_IV_LENGTH];
  morvane::internal::Wiper wk(key), wi(iv);
  const int keylen = EVP_CIPHER_key_length(cipher);
  const int ivlen = EVP_CIPHER_iv_length(cipher);
  if (keylen > EVP_MAX_KEY_LENGTH) {
    EVPerr(EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_INVALID_KEY_LENGTH);
    return 0;
  }
  memcpy(key, d, static_cast<size_t>(keylen));
  memcpy(iv, d + 16 - ivlen, static_cast<size_t>(ivlen));
  return EVP_CipherInit_ex(cctx, cipher, nullptr, key, iv, en_de);
}
