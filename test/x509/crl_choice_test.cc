// Which revocation list decides when an issuer has several: the newest in
// time, whatever the order in which they reached the verifier (the store,
// the context's list, a hashed directory's .r0 and .r1).  GnuTLS's certtool
// --verify gives the same verdicts where a list is in time (an expired list
// alone it passes over; the verifier reports it, as before).  Delta lists:
// PKITS 4.15, with the lists in either order, in pkits_verify_test.cc.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "cert_builder.h"
#include "der_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;

constexpr time_t kMoment = 1609459200;  // 2021-01-01 00:00:00 UTC
constexpr time_t kDay = 86400;
const morvane_test::Bytes kCaTrue = {0x30, 0x03, 0x01, 0x01, 0xFF};

enum Via { kStore, kContext, kDir };

// A list placed one way; the lists: 'A' two days old, good for five more,
// not listing the leaf; 'B' a minute old, good for a week, revoking it;
// 'X' expired ten days ago.
struct Placed {
  char crl;
  Via via;
};

struct Case {
  const char* name;
  std::vector<Placed> crls;  // in the order added
  int expected;
  int error;
};

X509_CRL* List(char which) {
  if (which == 'A')
    return morvane_test::MakeCrl("Root", {}, kMoment - 2 * kDay, kMoment + 5 * kDay);
  if (which == 'B')
    return morvane_test::MakeCrl("Root", {{5, {}}}, kMoment - 60, kMoment + 7 * kDay);
  return morvane_test::MakeCrl("Root", {}, kMoment - 20 * kDay, kMoment - 10 * kDay);
}

class CrlChoice : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { Morvane_add_all_digests(); }
};

TEST_P(CrlChoice, NewestInTimeDecides) {
  const Case& c = GetParam();
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, {{87, true, kCaTrue}}});
  X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}});
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  STACK* listed = sk_new_null();
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  char name[16];
  snprintf(name, sizeof name, "%08lx.r", X509_NAME_hash(X509_get_issuer_name(leaf)));
  int files = 0;
  for (const Placed& p : c.crls) {
    X509_CRL* crl = List(p.crl);
    if (p.via == kStore) {
      EXPECT_EQ(1, X509_STORE_add_crl(store, crl));
    }
    if (p.via == kDir) {
      const Bytes der = x509_test::Encode(i2d_X509_CRL, crl);
      morvane_test::WriteFile(dir.Join(name + std::to_string(files++)),
                              std::string(der.begin(), der.end()));
    }
    if (p.via == kContext) {
      sk_push(listed, reinterpret_cast<char*>(crl));
    } else {
      X509_CRL_free(crl);
    }
  }
  X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
  ASSERT_EQ(1, X509_LOOKUP_add_dir(lu, dir.c_str(), X509_FILETYPE_ASN1));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, nullptr));
  X509_STORE_CTX_set0_crls(ctx, listed);
  X509_STORE_CTX_set_time(ctx, 0, kMoment);
  X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
  EXPECT_EQ(c.expected, X509_verify_cert(ctx));
  EXPECT_EQ(c.error, X509_STORE_CTX_get_error(ctx));
  EXPECT_ERRORS({});
  X509_STORE_CTX_free(ctx);
  sk_pop_free(listed, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  X509_STORE_free(store);
  X509_free(leaf);
  X509_free(root);
}

constexpr int kRevoked = X509_V_ERR_CERT_REVOKED;
const Case kCases[] = {
    {"StoreAThenB", {{'A', kStore}, {'B', kStore}}, 0, kRevoked},
    {"StoreBThenA", {{'B', kStore}, {'A', kStore}}, 0, kRevoked},
    {"ContextAThenB", {{'A', kContext}, {'B', kContext}}, 0, kRevoked},
    {"ContextBThenA", {{'B', kContext}, {'A', kContext}}, 0, kRevoked},
    {"DirAThenB", {{'A', kDir}, {'B', kDir}}, 0, kRevoked},
    {"DirBThenA", {{'B', kDir}, {'A', kDir}}, 0, kRevoked},
    {"ContextAStoreB", {{'A', kContext}, {'B', kStore}}, 0, kRevoked},
    {"StoreExpiredThenA", {{'X', kStore}, {'A', kStore}}, 1, X509_V_OK},
    {"ContextExpiredThenA", {{'X', kContext}, {'A', kContext}}, 1, X509_V_OK},
    {"DirExpiredThenA", {{'X', kDir}, {'A', kDir}}, 1, X509_V_OK},
    {"OnlyExpired", {{'X', kStore}}, 0, X509_V_ERR_CRL_HAS_EXPIRED},
};

INSTANTIATE_TEST_SUITE_P(Orders, CrlChoice, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
