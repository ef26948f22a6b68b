// Verification parameter blocks: the setters, inheritance field by field
// under the inheritance flags, and the named tables.  The added table is
// process-wide; each test runs in its own process.

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;

struct Param {
  X509_VERIFY_PARAM* p = X509_VERIFY_PARAM_new();
  ~Param() { X509_VERIFY_PARAM_free(p); }
};

TEST(VerifyParam, NewIsUnset) {
  Param a;
  ASSERT_NE(nullptr, a.p);
  EXPECT_EQ(-1, a.p->depth);
  EXPECT_EQ(0, a.p->purpose);
  EXPECT_EQ(0, a.p->trust);
  EXPECT_EQ(0UL, a.p->flags);
  EXPECT_EQ(nullptr, a.p->policies);
  X509_VERIFY_PARAM_free(nullptr);
}

TEST(VerifyParam, BuiltInTable) {
  struct Row {
    const char* name;
    int purpose, trust, depth;
  };
  const Row rows[] = {{"default", 0, 0, 100},
                      {"pkcs7", 4, 4, -1},
                      {"smime_sign", 4, 4, -1},
                      {"ssl_client", 1, 2, -1},
                      {"ssl_server", 2, 3, -1}};
  for (const Row& r : rows) {
    const X509_VERIFY_PARAM* p = X509_VERIFY_PARAM_lookup(r.name);
    ASSERT_NE(nullptr, p) << r.name;
    EXPECT_STREQ(r.name, p->name);
    EXPECT_EQ(r.purpose, p->purpose) << r.name;
    EXPECT_EQ(r.trust, p->trust) << r.name;
    EXPECT_EQ(r.depth, p->depth) << r.name;
    EXPECT_EQ(0UL, p->flags);
    EXPECT_EQ(0UL, p->inh_flags);
    EXPECT_EQ(nullptr, p->policies);
  }
  EXPECT_EQ(nullptr, X509_VERIFY_PARAM_lookup("nonesuch"));
  EXPECT_EQ(nullptr, X509_VERIFY_PARAM_lookup("defaults"));
  EXPECT_EQ(nullptr, X509_VERIFY_PARAM_lookup(""));
}

TEST(VerifyParam, InheritDefault) {
  Param a;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, X509_VERIFY_PARAM_lookup("default")));
  EXPECT_EQ(100, a.p->depth);
  EXPECT_EQ(0, a.p->purpose);
  EXPECT_EQ(0, a.p->trust);
  EXPECT_EQ(0UL, a.p->flags);
  EXPECT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, nullptr));
}

TEST(VerifyParam, SetValuesWinOnlyWithDefaultFlag) {
  const X509_VERIFY_PARAM* server = X509_VERIFY_PARAM_lookup("ssl_server");
  Param a;
  a.p->purpose = 1;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, server));
  EXPECT_EQ(1, a.p->purpose);  // set on the destination: kept
  EXPECT_EQ(3, a.p->trust);    // unset: taken
  Param b;
  b.p->purpose = 1;
  b.p->inh_flags = X509_VP_FLAG_DEFAULT;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(b.p, server));
  EXPECT_EQ(2, b.p->purpose);
  // set1 adds the flag for the one call only.
  Param c;
  c.p->purpose = 1;
  ASSERT_EQ(1, X509_VERIFY_PARAM_set1(c.p, server));
  EXPECT_EQ(2, c.p->purpose);
  EXPECT_EQ(0UL, c.p->inh_flags);
}

TEST(VerifyParam, OwnTimeKeptUnlessOverwrite) {
  Param src;
  X509_VERIFY_PARAM_set_time(src.p, 2000);
  Param a;
  X509_VERIFY_PARAM_set_time(a.p, 1000);
  EXPECT_EQ(0x2UL, a.p->flags);
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(1000, a.p->check_time);
  a.p->inh_flags = X509_VP_FLAG_OVERWRITE;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(2000, a.p->check_time);
  EXPECT_TRUE(a.p->flags & 0x2);
  // Without a time of its own the destination takes the source's.
  Param b;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(b.p, src.p));
  EXPECT_EQ(2000, b.p->check_time);
  EXPECT_EQ(0x2UL, b.p->flags);
}

TEST(VerifyParam, OverwriteCopiesUnsetValues) {
  Param src;
  Param a;
  a.p->purpose = 5;
  a.p->depth = 7;
  a.p->inh_flags = X509_VP_FLAG_OVERWRITE;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(0, a.p->purpose);
  EXPECT_EQ(-1, a.p->depth);
}

TEST(VerifyParam, OnceActsOnce) {
  const X509_VERIFY_PARAM* server = X509_VERIFY_PARAM_lookup("ssl_server");
  Param a;
  a.p->purpose = 1;
  a.p->inh_flags = X509_VP_FLAG_ONCE | X509_VP_FLAG_DEFAULT;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, server));
  EXPECT_EQ(2, a.p->purpose);
  EXPECT_EQ(0UL, a.p->inh_flags);
  Param src;
  src.p->purpose = 4;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(2, a.p->purpose);  // 0x1 is gone from the destination
}

TEST(VerifyParam, LockedOnEitherSideCopiesNothing) {
  Param src;
  src.p->depth = 5;
  src.p->flags = 0x4;
  for (int side = 0; side < 2; side++) {
    Param a;
    (side == 0 ? a.p : src.p)->inh_flags = X509_VP_FLAG_LOCKED;
    EXPECT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
    EXPECT_EQ(-1, a.p->depth);
    EXPECT_EQ(0UL, a.p->flags);
  }
}

TEST(VerifyParam, ResetFlags) {
  Param src;
  src.p->flags = 0x4;
  Param a;
  a.p->flags = 0x1;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(0x5UL, a.p->flags);
  a.p->inh_flags = X509_VP_FLAG_RESET_FLAGS;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(0x4UL, a.p->flags);
}

TEST(VerifyParam, Flags) {
  struct Row {
    unsigned long set, want;
  };
  const Row rows[] = {{0x100, 0x180}, {0x200, 0x280}, {0x400, 0x480},
                      {0x80, 0x80},   {0x1, 0x1},     {0x20, 0x20}};
  for (const Row& r : rows) {
    Param a;
    EXPECT_EQ(1, X509_VERIFY_PARAM_set_flags(a.p, r.set));
    EXPECT_EQ(r.want, X509_VERIFY_PARAM_get_flags(a.p)) << r.set;
  }
  Param a;
  X509_VERIFY_PARAM_set_flags(a.p, 0x100);
  EXPECT_EQ(1, X509_VERIFY_PARAM_clear_flags(a.p, 0x80));
  EXPECT_EQ(0x100UL, X509_VERIFY_PARAM_get_flags(a.p));
}

TEST(VerifyParam, PurposeTrustDepth) {
  Param a;
  EXPECT_EQ(1, X509_VERIFY_PARAM_set_purpose(a.p, 8));
  EXPECT_EQ(8, a.p->purpose);
  EXPECT_EQ(0, X509_VERIFY_PARAM_set_purpose(a.p, 9));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_X509V3, X509V3_F_X509_PURPOSE_SET, X509V3_R_INVALID_PURPOSE}}));
  EXPECT_EQ(8, a.p->purpose);
  EXPECT_EQ(1, X509_VERIFY_PARAM_set_trust(a.p, 7));
  EXPECT_EQ(0, X509_VERIFY_PARAM_set_trust(a.p, 0));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_X509, X509_F_X509_TRUST_SET, X509_R_INVALID_TRUST}}));
  EXPECT_EQ(7, a.p->trust);
  X509_VERIFY_PARAM_set_depth(a.p, 3);
  EXPECT_EQ(3, X509_VERIFY_PARAM_get_depth(a.p));
}

STACK* Policies(std::initializer_list<const char*> oids) {
  STACK* sk = sk_new_null();
  for (const char* oid : oids) sk_push(sk, reinterpret_cast<char*>(OBJ_txt2obj(oid, 1)));
  return sk;
}

void FreeObject(void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); }

TEST(VerifyParam, PolicyListsTurnCheckingOn) {
  Param a;
  STACK* list = Policies({"1.2.3.4", "1.2.3.5"});
  ASSERT_EQ(1, X509_VERIFY_PARAM_set1_policies(a.p, list));
  EXPECT_EQ(0x80UL, a.p->flags);
  ASSERT_EQ(2, sk_num(a.p->policies));
  EXPECT_NE(sk_value(list, 0), sk_value(a.p->policies, 0));  // copies
  EXPECT_EQ(0, OBJ_cmp(reinterpret_cast<ASN1_OBJECT*>(sk_value(list, 1)),
                       reinterpret_cast<ASN1_OBJECT*>(sk_value(a.p->policies, 1))));
  sk_pop_free(list, FreeObject);
  ASSERT_EQ(1, X509_VERIFY_PARAM_set1_policies(a.p, nullptr));
  EXPECT_EQ(nullptr, a.p->policies);
  EXPECT_EQ(0, X509_VERIFY_PARAM_set1_policies(nullptr, nullptr));
}

// A policy added on its own is enforced like a list: policy checking is on.
TEST(VerifyParam, AddedPolicyTurnsCheckingOn) {
  Param a;
  ASSERT_EQ(1, X509_VERIFY_PARAM_add0_policy(a.p, OBJ_txt2obj("1.2.3.4", 1)));
  EXPECT_EQ(0x80UL, a.p->flags);
  ASSERT_EQ(1, X509_VERIFY_PARAM_add0_policy(a.p, OBJ_txt2obj("1.2.3.5", 1)));
  EXPECT_EQ(2, sk_num(a.p->policies));
}

TEST(VerifyParam, PoliciesInherited) {
  Param src;
  STACK* list = Policies({"1.2.3.4"});
  X509_VERIFY_PARAM_set1_policies(src.p, list);
  sk_pop_free(list, FreeObject);
  Param a;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  ASSERT_EQ(1, sk_num(a.p->policies));
  EXPECT_EQ(0x80UL, a.p->flags);
  // A destination list stays without 0x1 ...
  list = Policies({"1.2.3.9", "1.2.3.10"});
  X509_VERIFY_PARAM_set1_policies(a.p, list);
  sk_pop_free(list, FreeObject);
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, src.p));
  EXPECT_EQ(2, sk_num(a.p->policies));
  // ... and is replaced with it.
  ASSERT_EQ(1, X509_VERIFY_PARAM_set1(a.p, src.p));
  EXPECT_EQ(1, sk_num(a.p->policies));
}

TEST(VerifyParam, AddedTableReplacesByName) {
  X509_VERIFY_PARAM* mine = X509_VERIFY_PARAM_new();
  ASSERT_EQ(1, X509_VERIFY_PARAM_set1_name(mine, "default"));
  X509_VERIFY_PARAM_set_depth(mine, 9);
  ASSERT_EQ(1, X509_VERIFY_PARAM_add0_table(mine));
  EXPECT_EQ(mine, X509_VERIFY_PARAM_lookup("default"));
  Param a;
  ASSERT_EQ(1, X509_VERIFY_PARAM_inherit(a.p, X509_VERIFY_PARAM_lookup("default")));
  EXPECT_EQ(9, a.p->depth);

  X509_VERIFY_PARAM* other = X509_VERIFY_PARAM_new();
  X509_VERIFY_PARAM_set1_name(other, "aaa");
  ASSERT_EQ(1, X509_VERIFY_PARAM_add0_table(other));
  X509_VERIFY_PARAM* again = X509_VERIFY_PARAM_new();  // replaces (and frees) mine
  X509_VERIFY_PARAM_set1_name(again, "default");
  ASSERT_EQ(1, X509_VERIFY_PARAM_add0_table(again));
  EXPECT_EQ(again, X509_VERIFY_PARAM_lookup("default"));
  EXPECT_EQ(other, X509_VERIFY_PARAM_lookup("aaa"));
  EXPECT_EQ(4, X509_VERIFY_PARAM_lookup("pkcs7")->purpose);  // built-in still found
  X509_VERIFY_PARAM_table_cleanup();
  EXPECT_EQ(100, X509_VERIFY_PARAM_lookup("default")->depth);
}

}  // namespace
