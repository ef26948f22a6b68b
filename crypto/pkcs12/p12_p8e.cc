// PKCS#8 private keys encrypted under a pass phrase (RFC 5208, 6):
// EncryptedPrivateKeyInfo, carried as an X509_SIG.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

/* see morvane/pkcs12.h */
X509_SIG* PKCS8_encrypt(int pbe_nid, const EVP_CIPHER* cipher, const char* pass, int passlen,
                        unsigned char* salt, int saltlen, int iter, PKCS8_PRIV_KEY_INFO* p8inf) {
  X509_SIG* p8 = X509_SIG_new();
  if (p8 == nullptr) {
    PKCS12err(PKCS12_F_PKCS8_ENCRYPT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  X509_ALGOR* pbe = pbe_nid != -1 ? PKCS5_pbe_set(pbe_nid, iter, salt, saltlen)
                                  : PKCS5_pbe2_set(cipher, iter, salt, saltlen);
  if (pbe == nullptr) {
    X509_SIG_free(p8);
    PKCS12err(PKCS12_F_PKCS8_ENCRYPT, ERR_R_ASN1_LIB);
    return nullptr;
  }
  X509_ALGOR_free(p8->algor);
  p8->algor = pbe;
  ASN1_OCTET_STRING* enc =
      PKCS12_item_i2d_encrypt(pbe, &PKCS8_PRIV_KEY_INFO_it, pass, passlen, p8inf, 1);
  if (enc == nullptr) {
    X509_SIG_free(p8);
    PKCS12err(PKCS12_F_PKCS8_ENCRYPT, PKCS12_R_ENCRYPT_ERROR);
    return nullptr;
  }
  ASN1_OCTET_STRING_free(p8->digest);
  p8->digest = enc;
  return p8;
}

/* see morvane/pkcs12.h */
PKCS8_PRIV_KEY_INFO* PKCS8_decrypt(X509_SIG* p8, const char* pass, int passlen) {
  if (p8 == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_DECRYPT_D2I, PKCS12_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  return static_cast<PKCS8_PRIV_KEY_INFO*>(PKCS12_item_decrypt_d2i(
      p8->algor, &PKCS8_PRIV_KEY_INFO_it, pass, passlen, p8->digest, 1));
}
