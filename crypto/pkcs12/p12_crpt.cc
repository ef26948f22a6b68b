// The PKCS#12 password-based ciphers (RFC 7292, Appendix C): their rows in
// the password-based-encryption table and the generator of their keys and
// IVs.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

#include "internal/iter_count.h"
#include "internal/wipe.h"

/* see morvane/pkcs12.h */
void PKCS12_PBE_add(void) {
  EVP_PBE_alg_add(144, EVP_rc4(), EVP_sha1(), PKCS12_PBE_keyivgen);          // PBE-SHA1-RC4-128
  EVP_PBE_alg_add(145, EVP_rc4_40(), EVP_sha1(), PKCS12_PBE_keyivgen);       // PBE-SHA1-RC4-40
  EVP_PBE_alg_add(146, EVP_des_ede3_cbc(), EVP_sha1(), PKCS12_PBE_keyivgen); // PBE-SHA1-3DES
  EVP_PBE_alg_add(147, EVP_des_ede_cbc(), EVP_sha1(), PKCS12_PBE_keyivgen);  // PBE-SHA1-2DES
  EVP_PBE_alg_add(148, EVP_rc2_cbc(), EVP_sha1(), PKCS12_PBE_keyivgen);      // PBE-SHA1-RC2-128
  EVP_PBE_alg_add(149, EVP_rc2_40_cbc(), EVP_sha1(), PKCS12_PBE_keyivgen);   // PBE-SHA1-RC2-40
}

/* see morvane/pkcs12.h */
int PKCS12_PBE_keyivgen(EVP_CIPHER_CTX* ctx, const char* pass, int passlen, ASN1_TYPE* param,
                        const EVP_CIPHER* cipher, const EVP_MD* md, int en_de) {
  if (param == nullptr || param->type != ASN1_UT_SEQUENCE || param->value.sequence == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_DECODE_ERROR);
    return 0;
  }
  const unsigned char* p = param->value.sequence->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, param->value.sequence->length);
  if (pbe == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_DECODE_ERROR);
    return 0;
  }
  if (cipher == nullptr || md == nullptr) {
    PBEPARAM_free(pbe);
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  const long count = morvane::internal::stated_iterations(pbe->iter, md);
  if (count < 0) {
    PBEPARAM_free(pbe);
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_ITERATION_COUNT_TOO_LARGE);
    return 0;
  }
  const int iter = static_cast<int>(count);  // at most PKCS5_MAX_FILE_ITER
  unsigned char* salt = pbe->salt->data;
  const int saltlen = pbe->salt->length;
  unsigned char key[EVP_MAX_KEY_LENGTH], iv[EVP_MAX_IV_LENGTH];
  morvane::internal::Wiper wk(key), wi(iv);
  const int keylen = EVP_CIPHER_key_length(cipher), ivlen = EVP_CIPHER_iv_length(cipher);
  if (keylen > EVP_MAX_KEY_LENGTH || ivlen > EVP_MAX_IV_LENGTH) {
    PBEPARAM_free(pbe);
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_KEY_GEN_ERROR);
    return 0;
  }
  if (!PKCS12_key_gen_asc(pass, passlen, salt, saltlen, PKCS12_KEY_ID, iter, keylen, key, md)) {
    PBEPARAM_free(pbe);
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_KEY_GEN_ERROR);
    return 0;
  }
  if (!PKCS12_key_gen_asc(pass, passlen, salt, saltlen, PKCS12_IV_ID, iter, ivlen, iv, md)) {
    PBEPARAM_free(pbe);
    PKCS12err(PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_IV_GEN_ERROR);
    return 0;
  }
  PBEPARAM_free(pbe);
  return EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, en_de);
}
