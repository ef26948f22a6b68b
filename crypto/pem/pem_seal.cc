// Printable envelopes and signatures: sealing to RSA recipients with the
// message keys, the ciphertext and the signature in base64, and signing a
// digest into a base64 signature.

#include <limits.h>
#include <string.h>

#include <algorithm>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/rsa.h>

namespace {

// Ciphertext of at most this many plaintext bytes goes through the base64
// encoder at a time.
constexpr int kSealChunk = 1200;
constexpr int kSealBuffer = 1600;
constexpr int kSealMaxInput = (INT_MAX / 65 - 2) * 48;

}  // namespace

/* see morvane/pem.h */
int PEM_SealInit(PEM_ENCODE_SEAL_CTX* ctx, const EVP_CIPHER* type, const EVP_MD* md_type,
                 unsigned char** ek, int* ekl, unsigned char* iv, EVP_PKEY** pubk, int npubk) {
  int largest = 0;
  for (int i = 0; i < npubk; i++) {
    if (pubk[i] == nullptr || pubk[i]->type != EVP_PKEY_RSA || pubk[i]->pkey.rsa == nullptr) {
      PEMerr(PEM_F_PEM_SEALINIT, PEM_R_PUBLIC_KEY_NO_RSA);
      return -1;
    }
    largest = std::max(largest, RSA_size(pubk[i]->pkey.rsa));
  }
  auto* s = static_cast<unsigned char*>(MORVANE_malloc(2 * static_cast<size_t>(largest) + 1));
  if (s == nullptr) {
    PEMerr(PEM_F_PEM_SEALINIT, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  EVP_EncodeInit(&ctx->encode);
  EVP_MD_CTX_init(&ctx->md);
  EVP_CIPHER_CTX_init(&ctx->cipher);
  int ret = EVP_DigestInit(&ctx->md, md_type) ? 1 : 0;
  if (ret > 0) ret = EVP_SealInit(&ctx->cipher, type, ek, ekl, iv, pubk, npubk);
  if (ret > 0) {
    for (int i = 0; i < npubk; i++) {
      const int n = EVP_EncodeBlock(s, ek[i], RSA_size(pubk[i]->pkey.rsa));
      memcpy(ek[i], s, static_cast<size_t>(n) + 1);
      ekl[i] = n;
    }
    ret = npubk;
  }
  MORVANE_free(s);
  return ret;
}

/* see morvane/pem.h */
void PEM_SealUpdate(PEM_ENCODE_SEAL_CTX* ctx, unsigned char* out, int* outl, unsigned char* in,
                    int inl) {
  *outl = 0;
  // The base64 text (65 characters for every 48 bytes, with the encoder's
  // pending bytes) must stay countable in an int: longer input is refused.
  if (inl <= 0 || inl > kSealMaxInput) return;
  EVP_DigestUpdate(&ctx->md, in, static_cast<size_t>(inl));
  unsigned char buffer[kSealBuffer];
  while (inl > 0) {
    const int chunk = std::min(inl, kSealChunk);
    int j = 0, k = 0;
    EVP_EncryptUpdate(&ctx->cipher, buffer, &j, in, chunk);
    EVP_EncodeUpdate(&ctx->encode, out, &k, buffer, j);
    *outl += k;
    out += k;
    in += chunk;
    inl -= chunk;
  }
}

/* see morvane/pem.h */
int PEM_SealFinal(PEM_ENCODE_SEAL_CTX* ctx, unsigned char* sig, int* sigl, unsigned char* out,
                  int* outl, EVP_PKEY* priv) {
  if (priv == nullptr || priv->type != EVP_PKEY_RSA || priv->pkey.rsa == nullptr) {
    PEMerr(PEM_F_PEM_SEALFINAL, PEM_R_PUBLIC_KEY_NO_RSA);
    return 0;
  }
  const size_t room = 2 * static_cast<size_t>(std::max(RSA_size(priv->pkey.rsa), 100));
  auto* s = static_cast<unsigned char*>(MORVANE_malloc(room));
  int ret = 0;
  if (s == nullptr) {
    PEMerr(PEM_F_PEM_SEALFINAL, ERR_R_MALLOC_FAILURE);
  } else {
    int i = 0, j = 0;
    if (EVP_EncryptFinal_ex(&ctx->cipher, s, &i)) {
      EVP_EncodeUpdate(&ctx->encode, out, &j, s, i);
      *outl = j;
      EVP_EncodeFinal(&ctx->encode, out + j, &j);
      *outl += j;
      unsigned int slen = 0;
      if (EVP_SignFinal(&ctx->md, s, &slen, priv) > 0) {
        *sigl = EVP_EncodeBlock(sig, s, static_cast<int>(slen));
        ret = 1;
      }
    }
  }
  EVP_MD_CTX_cleanup(&ctx->md);
  EVP_CIPHER_CTX_cleanup(&ctx->cipher);
  MORVANE_free(s);
  return ret;
}

/* see morvane/pem.h */
void PEM_SignInit(EVP_MD_CTX* ctx, const EVP_MD* type) {
  EVP_DigestInit_ex(ctx, type, nullptr);
}

/* see morvane/pem.h */
void PEM_SignUpdate(EVP_MD_CTX* ctx, unsigned char* data, unsigned int count) {
  EVP_DigestUpdate(ctx, data, count);
}

/* see morvane/pem.h */
int PEM_SignFinal(EVP_MD_CTX* ctx, unsigned char* sigret, unsigned int* siglen, EVP_PKEY* pkey) {
  const int size = pkey != nullptr ? EVP_PKEY_size(pkey) : 0;
  if (size <= 0 || size > INT_MAX - 2) return 0;
  auto* m = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(size) + 2));
  if (m == nullptr) {
    PEMerr(PEM_F_PEM_SIGNFINAL, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned int i = 0;
  int ret = 0;
  if (EVP_SignFinal(ctx, m, &i, pkey) > 0) {
    *siglen = static_cast<unsigned int>(EVP_EncodeBlock(sigret, m, static_cast<int>(i)));
    ret = 1;
  }
  MORVANE_free(m);
  return ret;
}
