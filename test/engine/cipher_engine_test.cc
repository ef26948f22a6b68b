// The cipher contexts' engine path: an engine that serves AES-128-CBC (NID
// 419) replaces the built-in description in a context, which holds one
// functional reference until its cleanup; a failing description cleanup
// still releases it.

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/evp.h>

#include "test_engine.h"
#include "test_support.h"

namespace {

using namespace engine_test;

EVP_CIPHER own_aes;  // the built-in description with a cleanup that fails
const int kNids[] = {419};
int cleanups = 0;

int FailingCleanup(EVP_CIPHER_CTX*) { return ++cleanups, 0; }

int Ciphers(ENGINE*, const EVP_CIPHER** c, const int** nids, int nid) {
  if (c == nullptr) return *nids = kNids, 1;
  *c = nid == 419 ? &own_aes : nullptr;
  return nid == 419;
}

TEST(CipherEngine, ContextTakesTheEnginesDescriptionAndCleanupReleasesIt) {
  own_aes = *EVP_aes_128_cbc();
  own_aes.cleanup = FailingCleanup;
  ENGINE* e = MakeEngine("aes-engine");
  ENGINE_set_ciphers(e, Ciphers);
  ASSERT_EQ(ENGINE_register_ciphers(e), 1);
  const unsigned char key[16] = {1}, iv[16] = {2};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv), 1);
  EXPECT_EQ(ctx->cipher, &own_aes);
  EXPECT_EQ(ctx->engine, e);
  EXPECT_EQ(StructRef(e), 3);  // own, the pile's, the context's
  // The failing description cleanup is reported, and the key state and the
  // engine are released all the same.
  EXPECT_EQ(EVP_CIPHER_CTX_cleanup(ctx), 0);
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(ctx->engine, nullptr);
  EXPECT_EQ(ctx->cipher_data, nullptr);
  EXPECT_EQ(StructRef(e), 2);
  EVP_CIPHER_CTX_free(ctx);
  ENGINE_cleanup();
  EXPECT_EQ(CountsOf(e).finishes, 1);
  ENGINE_free(e);
}

}  // namespace
