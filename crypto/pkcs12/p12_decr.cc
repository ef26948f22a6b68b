// Password-based encryption of byte strings and of whole DER items through
// the algorithm identifier's row of the password-based-encryption table.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

/* see morvane/pkcs12.h */
unsigned char* PKCS12_pbe_crypt(X509_ALGOR* algor, const char* pass, int passlen,
                                unsigned char* in, int inlen, unsigned char** data, int* datalen,
                                int en_de) {
  if (algor == nullptr || inlen < 0 || (inlen > 0 && in == nullptr)) {
    PKCS12err(PKCS12_F_PKCS12_PBE_CRYPT, PKCS12_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  if (!EVP_PBE_CipherInit(algor->algorithm, pass, passlen, algor->parameter, &ctx, en_de)) {
    EVP_CIPHER_CTX_cleanup(&ctx);
    PKCS12err(PKCS12_F_PKCS12_PBE_CRYPT, PKCS12_R_PKCS12_ALGOR_CIPHERINIT_ERROR);
    return nullptr;
  }
  const int bl = EVP_CIPHER_CTX_block_size(&ctx);
  const size_t cap = static_cast<size_t>(inlen) + static_cast<size_t>(bl > 0 ? bl : 1);
  auto* out = static_cast<unsigned char*>(cap > INT_MAX ? nullptr : MORVANE_malloc(cap));
  if (out == nullptr) {
    EVP_CIPHER_CTX_cleanup(&ctx);
    PKCS12err(PKCS12_F_PKCS12_PBE_CRYPT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  int n = 0, fin = 0;
  if (!EVP_CipherUpdate(&ctx, out, &n, in, inlen) || !EVP_CipherFinal_ex(&ctx, out + n, &fin)) {
    MORVANE_cleanse(out, cap);
    MORVANE_free(out);
    EVP_CIPHER_CTX_cleanup(&ctx);
    PKCS12err(PKCS12_F_PKCS12_PBE_CRYPT, PKCS12_R_PKCS12_CIPHERFINAL_ERROR);
    return nullptr;
  }
  EVP_CIPHER_CTX_cleanup(&ctx);
  if (datalen != nullptr) *datalen = n + fin;
  if (data != nullptr) *data = out;
  return out;
}

/* see morvane/pkcs12.h */
void* PKCS12_item_decrypt_d2i(X509_ALGOR* algor, const ASN1_ITEM* it, const char* pass,
                              int passlen, ASN1_OCTET_STRING* oct, int zbuf) {
  if (it == nullptr || oct == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_DECRYPT_D2I, PKCS12_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  unsigned char* out = nullptr;
  int outlen = 0;
  if (PKCS12_pbe_crypt(algor, pass, passlen, oct->data, oct->length, &out, &outlen, 0) ==
      nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_DECRYPT_D2I, PKCS12_R_PKCS12_PBE_CRYPT_ERROR);
    return nullptr;
  }
  const unsigned char* p = out;
  void* ret = ASN1_item_d2i(nullptr, &p, outlen, it);
  if (zbuf) MORVANE_cleanse(out, static_cast<size_t>(outlen));
  MORVANE_free(out);
  if (ret == nullptr) PKCS12err(PKCS12_F_PKCS12_ITEM_DECRYPT_D2I, PKCS12_R_DECODE_ERROR);
  return ret;
}

/* see morvane/pkcs12.h */
ASN1_OCTET_STRING* PKCS12_item_i2d_encrypt(X509_ALGOR* algor, const ASN1_ITEM* it,
                                           const char* pass, int passlen, void* obj, int zbuf) {
  if (it == nullptr || obj == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_I2D_ENCRYPT, PKCS12_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  ASN1_OCTET_STRING* oct = ASN1_OCTET_STRING_new();
  if (oct == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_I2D_ENCRYPT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* in = nullptr;
  const int inlen = ASN1_item_i2d(static_cast<ASN1_VALUE*>(obj), &in, it);
  if (in == nullptr || inlen <= 0) {
    ASN1_OCTET_STRING_free(oct);
    PKCS12err(PKCS12_F_PKCS12_ITEM_I2D_ENCRYPT, PKCS12_R_ENCODE_ERROR);
    return nullptr;
  }
  unsigned char* enc = nullptr;
  int enclen = 0;
  const bool ok = PKCS12_pbe_crypt(algor, pass, passlen, in, inlen, &enc, &enclen, 1) != nullptr;
  if (zbuf) MORVANE_cleanse(in, static_cast<size_t>(inlen));
  MORVANE_free(in);
  if (!ok) {
    ASN1_OCTET_STRING_free(oct);
    PKCS12err(PKCS12_F_PKCS12_ITEM_I2D_ENCRYPT, PKCS12_R_ENCRYPT_ERROR);
    return nullptr;
  }
  ASN1_STRING_set0(oct, enc, enclen);
  return oct;
}
