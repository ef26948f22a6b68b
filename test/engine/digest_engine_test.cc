// The digest contexts' engine path: an engine that serves SHA-1 (NID 64)
// with its own description is used by EVP_DigestInit_ex without an engine,
// and each context holds one functional reference until its cleanup.

#include <gtest/gtest.h>
#include <morvane/engine.h>
#include <morvane/evp.h>

#include "test_engine.h"
#include "test_support.h"

namespace {

using namespace engine_test;

EVP_MD own_sha1;  // a copy of the built-in description, at its own address
const int kNids[] = {64};

int Digests(ENGINE*, const EVP_MD** d, const int** nids, int nid) {
  if (d == nullptr) return *nids = kNids, 1;
  *d = nid == 64 ? &own_sha1 : nullptr;
  return nid == 64;
}

TEST(DigestEngine, ContextsTakeTheEnginesDescriptionAndReleaseTheirReferences) {
  own_sha1 = *EVP_sha1();
  ENGINE* e = MakeEngine("sha1-engine");
  ENGINE_set_digests(e, Digests);
  ASSERT_EQ(ENGINE_register_digests(e), 1);
  EVP_MD_CTX* a = EVP_MD_CTX_create();
  EVP_MD_CTX* b = EVP_MD_CTX_create();
  ASSERT_EQ(EVP_DigestInit_ex(a, EVP_sha1(), nullptr), 1);
  EXPECT_EQ(a->digest, &own_sha1);
  EXPECT_EQ(a->engine, e);
  ASSERT_EQ(EVP_MD_CTX_copy_ex(b, a), 1);
  EXPECT_EQ(StructRef(e), 4);  // own, the pile's, two contexts'
  EVP_MD_CTX_destroy(a);
  EVP_MD_CTX_destroy(b);
  EXPECT_EQ(StructRef(e), 2);
  EXPECT_EQ(CountsOf(e).finishes, 0);
  ENGINE_cleanup();
  EXPECT_EQ(CountsOf(e).finishes, 1);
  ENGINE_free(e);
}

}  // namespace
