// Envelopes: sealing data to RSA recipients under a random message key, and
// opening it with one recipient's private key; the RSA PKCS#1 v1.5
// encryption and decryption of that key.
//
// Implementation notes: the message key lives in heap blocks that are wiped
// before they are freed on every way out, so no copy of it outlives the call
// except the cipher context's own key state.

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include "internal/wipe.h"

namespace {

// A heap block for a message key, wiped and freed when it goes.
class KeyBlock {
 public:
  explicit KeyBlock(int size)
      : size_(size), p_(static_cast<unsigned char*>(MORVANE_malloc(size))) {}
  ~KeyBlock() {
    morvane::internal::wipe(p_, static_cast<size_t>(size_));
    MORVANE_free(p_);
  }
  KeyBlock(const KeyBlock&) = delete;
  KeyBlock& operator=(const KeyBlock&) = delete;
  unsigned char* get() { return p_; }

 private:
  int size_;
  unsigned char* p_;
};

}  // namespace

/* see morvane/evp.h */
int EVP_PKEY_encrypt(unsigned char* ek, const unsigned char* key, int key_len, EVP_PKEY* pubk) {
  if (pubk == nullptr || pubk->type != EVP_PKEY_RSA) {
    EVPerr(EVP_F_EVP_PKEY_ENCRYPT, EVP_R_PUBLIC_KEY_NOT_RSA);
    return 0;
  }
  return RSA_public_encrypt(key_len, key, ek, pubk->pkey.rsa, RSA_PKCS1_PADDING);
}

/* see morvane/evp.h */
int EVP_PKEY_decrypt(unsigned char* key, const unsigned char* ek, int ekl, EVP_PKEY* priv) {
  if (priv == nullptr || priv->type != EVP_PKEY_RSA) {
    EVPerr(EVP_F_EVP_PKEY_DECRYPT, EVP_R_PUBLIC_KEY_NOT_RSA);
    return -1;
  }
  return RSA_private_decrypt(ekl, ek, key, priv->pkey.rsa, RSA_PKCS1_PADDING);
}

/* see morvane/evp.h */
int EVP_SealInit(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* type, unsigned char** ek, int* ekl,
                 unsigned char* iv, EVP_PKEY** pubk, int npubk) {
  if (type != nullptr) {
    EVP_CIPHER_CTX_init(ctx);
    if (!EVP_EncryptInit_ex(ctx, type, nullptr, nullptr, nullptr)) return 0;
  }
  if (npubk <= 0 || pubk == nullptr) return 1;
  const int key_len = EVP_CIPHER_CTX_key_length(ctx);
  MORVANE_assert(key_len >= 0 && key_len <= EVP_MAX_KEY_LENGTH);
  KeyBlock key(EVP_MAX_KEY_LENGTH);
  if (key.get() == nullptr) {
    EVPerr(0, ERR_R_MALLOC_FAILURE);  // the library's table has no code for this call
    return 0;
  }
  if (EVP_CIPHER_CTX_rand_key(ctx, key.get()) <= 0) return 0;
  const int iv_len = EVP_CIPHER_CTX_iv_length(ctx);
  // Pseudo-random bytes serve for an IV; -1 (no random method) does not.
  if (iv_len > 0 && RAND_pseudo_bytes(iv, iv_len) < 0) return 0;
  if (!EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.get(), iv)) return 0;
  for (int i = 0; i < npubk; i++) {
    ekl[i] = EVP_PKEY_encrypt(ek[i], key.get(), key_len, pubk[i]);
    if (ekl[i] <= 0) return -1;
  }
  return npubk;
}

/* see morvane/evp.h */
int EVP_SealFinal(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  const int ret = EVP_EncryptFinal_ex(ctx, out, outl);
  EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, nullptr);
  return ret;
}

/* see morvane/evp.h */
int EVP_OpenInit(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* type, const unsigned char* ek, int ekl,
                 const unsigned char* iv, EVP_PKEY* priv) {
  if (type != nullptr) {
    EVP_CIPHER_CTX_init(ctx);
    if (!EVP_DecryptInit_ex(ctx, type, nullptr, nullptr, nullptr)) return 0;
  }
  if (priv == nullptr) return 1;
  if (priv->type != EVP_PKEY_RSA) {
    EVPerr(EVP_F_EVP_OPENINIT, EVP_R_PUBLIC_KEY_NOT_RSA);
    return 0;
  }
  const int size = RSA_size(priv->pkey.rsa) + 2;
  KeyBlock key(size);
  if (key.get() == nullptr) {
    EVPerr(EVP_F_EVP_OPENINIT, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const int n = EVP_PKEY_decrypt(key.get(), ek, ekl, priv);
  if (n <= 0 || !EVP_CIPHER_CTX_set_key_length(ctx, n)) return 0;
  return EVP_DecryptInit_ex(ctx, nullptr, nullptr, key.get(), iv) ? 1 : 0;
}

/* see morvane/evp.h */
int EVP_OpenFinal(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  const int ret = EVP_DecryptFinal_ex(ctx, out, outl);
  EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, nullptr);
  return ret;
}
