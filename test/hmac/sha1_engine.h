// An engine that serves SHA-1 (NID 64) with a description the test fills
// in (g_engine_sha1), registered as SHA-1's default: the HMAC and PBKDF2
// tests run their engine paths on it.  The test releases it with
// ENGINE_cleanup and ENGINE_free.
#ifndef MORVANE_TEST_HMAC_SHA1_ENGINE_H
#define MORVANE_TEST_HMAC_SHA1_ENGINE_H

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/evp.h>

namespace hmac_test {

inline EVP_MD g_engine_sha1;

inline int Sha1EngineDigests(ENGINE*, const EVP_MD** d, const int** nids, int nid) {
  static const int kSha1Nid[] = {64};
  if (d == nullptr) return *nids = kSha1Nid, 1;
  *d = nid == 64 ? &g_engine_sha1 : nullptr;
  return nid == 64;
}

// A new engine with `id` serving g_engine_sha1, registered; null (with a
// test failure) when a step fails.
inline ENGINE* RegisterSha1Engine(const char* id) {
  ENGINE* e = ENGINE_new();
  EXPECT_NE(nullptr, e);
  if (e == nullptr) return nullptr;
  EXPECT_EQ(1, ENGINE_set_id(e, id));
  EXPECT_EQ(1, ENGINE_set_name(e, "SHA-1 for the HMAC tests"));
  EXPECT_EQ(1, ENGINE_set_digests(e, Sha1EngineDigests));
  EXPECT_EQ(1, ENGINE_register_digests(e));
  return e;
}

}  // namespace hmac_test

#endif  // MORVANE_TEST_HMAC_SHA1_ENGINE_H
