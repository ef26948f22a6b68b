// The software engine "morvane": a test engine that offers the library's own
// default public-key and random methods, RC4 and 40-bit RC4 ciphers, a SHA-1
// digest and a PEM private-key loader, each announcing itself on standard
// error so that a test can see the engine's code run.

#include <stdio.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/rand.h>
#include <morvane/rc4.h>
#include <morvane/rsa.h>
#include <morvane/sha.h>

#include "internal/err_mark.h"

namespace {

constexpr int kNidRc4 = 5;
constexpr int kNidRc4_40 = 97;
constexpr int kNidSha1 = 64;
constexpr int kNidSha1WithRsa = 65;
constexpr int kNidRsaEncryption = 6;
constexpr int kNidRsa = 19;

// ---- RC4 ---------------------------------------------------------------

constexpr int kTestKeySize = 16;  // the key copy the context keeps

struct TestRc4Key {
  unsigned char key[kTestKeySize];
  RC4_KEY ks;
};
static_assert(sizeof(TestRc4Key) == 1048);

int test_rc4_init_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int) {
  fprintf(stderr, "(TEST_ENG_MORVANE_RC4) test_init_key() called\n");
  const int len = EVP_CIPHER_CTX_key_length(ctx);
  // The key copy holds 16 bytes: a longer key is refused, not overrun.
  if (len <= 0 || len > kTestKeySize) return 0;
  auto* k = static_cast<TestRc4Key*>(ctx->cipher_data);
  memcpy(k->key, key, static_cast<size_t>(len));
  RC4_set_key(&k->ks, len, k->key);
  return 1;
}

int test_rc4_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  RC4(&static_cast<TestRc4Key*>(ctx->cipher_data)->ks, inl, in, out);
  return 1;
}

// The test RC4 record for `nid` with default key length `key_len`.
constexpr EVP_CIPHER test_rc4(int nid, int key_len) {
  return {nid,
          1,
          key_len,
          0,
          EVP_CIPH_VARIABLE_LENGTH,
          test_rc4_init_key,
          test_rc4_cipher,
          nullptr,
          static_cast<int>(sizeof(TestRc4Key)),
          nullptr,
          nullptr,
          nullptr,
          nullptr};
}
constexpr EVP_CIPHER test_r4_cipher = test_rc4(kNidRc4, kTestKeySize);
constexpr EVP_CIPHER test_r4_40_cipher = test_rc4(kNidRc4_40, 5);

// ---- SHA-1 -------------------------------------------------------------

int test_sha1_init(EVP_MD_CTX* ctx) {
  return SHA1_Init(static_cast<SHA_CTX*>(ctx->md_data));
}
int test_sha1_update(EVP_MD_CTX* ctx, const void* data, size_t count) {
  return SHA1_Update(static_cast<SHA_CTX*>(ctx->md_data), data, count);
}
int test_sha1_final(EVP_MD_CTX* ctx, unsigned char* md) {
  return SHA1_Final(md, static_cast<SHA_CTX*>(ctx->md_data));
}
int test_rsa_sign(int type, const unsigned char* m, unsigned int m_len, unsigned char* sig,
                  unsigned int* sig_len, void* key) {
  return RSA_sign(type, m, m_len, sig, sig_len, static_cast<RSA*>(key));
}
int test_rsa_verify(int type, const unsigned char* m, unsigned int m_len, const unsigned char* sig,
                    unsigned int sig_len, void* key) {
  return RSA_verify(type, m, m_len, sig, sig_len, static_cast<RSA*>(key));
}

constexpr EVP_MD test_sha_md = {
    kNidSha1,          kNidSha1WithRsa,
    SHA_DIGEST_LENGTH, 0,
    test_sha1_init,    test_sha1_update,
    test_sha1_final,   nullptr,
    nullptr,           test_rsa_sign,
    test_rsa_verify,   {kNidRsaEncryption, kNidRsa, 0, 0, 0},
    SHA_CBLOCK,        static_cast<int>(sizeof(EVP_MD*) + sizeof(SHA_CTX)),
};

// ---- the engine's callbacks ----------------------------------------------

constexpr int cipher_nids[] = {kNidRc4, kNidRc4_40};
constexpr int digest_nids[] = {kNidSha1};

int morvane_ciphers(ENGINE*, const EVP_CIPHER** cipher, const int** nids, int nid) {
  if (cipher == nullptr) {
    *nids = cipher_nids;
    return 2;
  }
  switch (nid) {
    case kNidRc4:
      *cipher = &test_r4_cipher;
      return 1;
    case kNidRc4_40:
      *cipher = &test_r4_40_cipher;
      return 1;
    default:
      *cipher = nullptr;
      return 0;
  }
}

int morvane_digests(ENGINE*, const EVP_MD** digest, const int** nids, int nid) {
  if (digest == nullptr) {
    *nids = digest_nids;
    return 1;
  }
  *digest = nid == kNidSha1 ? &test_sha_md : nullptr;
  return *digest != nullptr ? 1 : 0;
}

EVP_PKEY* morvane_load_privkey(ENGINE*, const char* key_id, UI_METHOD*, void*) {
  fprintf(stderr, "(TEST_ENG_MORVANE_PKEY)Loading Private key %s\n", key_id);
  BIO* in = BIO_new_file(key_id, "r");
  if (in == nullptr) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  return key;
}

bool bind_helper(ENGINE* e) {
  return ENGINE_set_id(e, "morvane") && ENGINE_set_name(e, "Software engine support") &&
         ENGINE_set_RSA(e, RSA_get_default_method()) &&
         ENGINE_set_DSA(e, DSA_get_default_method()) && ENGINE_set_ECDH(e, ECDH_Morvane()) &&
         ENGINE_set_ECDSA(e, ECDSA_Morvane()) && ENGINE_set_DH(e, DH_get_default_method()) &&
         ENGINE_set_RAND(e, RAND_Quorix()) && ENGINE_set_ciphers(e, morvane_ciphers) &&
         ENGINE_set_digests(e, morvane_digests) &&
         ENGINE_set_load_privkey_function(e, morvane_load_privkey);
}

ENGINE* engine_morvane() {
  ENGINE* e = ENGINE_new();
  if (e != nullptr && !bind_helper(e)) {
    ENGINE_free(e);
    return nullptr;
  }
  return e;
}

}  // namespace

/* see morvane/engine.h */
void ENGINE_load_morvane(void) {
  // What this call queues (a second load's "conflicting engine id") goes;
  // the caller's errors stay.
  morvane::internal::ErrorMark mark;
  if (ENGINE* toadd = engine_morvane()) {
    ENGINE_add(toadd);
    ENGINE_free(toadd);
  }
  mark.pop();
}
