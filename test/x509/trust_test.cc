// Trust records: the built-in table, X509_check_trust over a certificate's
// trusted and rejected uses, the default trust function and the added
// table.  The tables are process-wide; each test runs in its own process.

#include <limits.h>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;

constexpr int kNidServerAuth = 129;
constexpr int kNidClientAuth = 130;
constexpr int kNidOcspSign = 180;

// A certificate with the given subject and issuer common names and no
// extensions (nothing here reads its signature).
X509* Cert(const char* subject, const char* issuer) {
  X509* x = X509_new();
  X509_NAME_add_entry_by_txt(x->cert_info->subject, "CN", ASN1_UT_UTF8STRING,
                             reinterpret_cast<const unsigned char*>(subject), -1, -1, 0);
  X509_NAME_add_entry_by_txt(x->cert_info->issuer, "CN", ASN1_UT_UTF8STRING,
                             reinterpret_cast<const unsigned char*>(issuer), -1, -1, 0);
  return x;
}

TEST(Trust, BuiltInTable) {
  struct Row {
    int id;
    const char* name;
  };
  const Row rows[] = {{1, "compatible"},   {2, "SSL Client"},    {3, "SSL Server"},
                      {4, "S/MIME email"}, {5, "Object Signer"}, {6, "OCSP responder"},
                      {7, "OCSP request"}};
  EXPECT_EQ(7, X509_TRUST_get_count());
  for (const Row& r : rows) {
    const int idx = X509_TRUST_get_by_id(r.id);
    ASSERT_EQ(r.id - 1, idx);
    X509_TRUST* t = X509_TRUST_get0(idx);
    EXPECT_EQ(r.id, X509_TRUST_get_trust(t));
    EXPECT_STREQ(r.name, X509_TRUST_get0_name(t));
    EXPECT_EQ(0, X509_TRUST_get_flags(t));
  }
  EXPECT_EQ(130, X509_TRUST_get0(1)->arg1);
  EXPECT_EQ(178, X509_TRUST_get0(6)->arg1);
  EXPECT_EQ(nullptr, X509_TRUST_get0(-1));
  EXPECT_EQ(nullptr, X509_TRUST_get0(7));
  EXPECT_EQ(-1, X509_TRUST_get_by_id(0));
  EXPECT_EQ(-1, X509_TRUST_get_by_id(8));
  int t = 0;
  EXPECT_EQ(1, X509_TRUST_set(&t, 6));
  EXPECT_EQ(6, t);
  EXPECT_EQ(0, X509_TRUST_set(&t, 8));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_X509, X509_F_X509_TRUST_SET, X509_R_INVALID_TRUST}}));
  EXPECT_EQ(6, t);
}

TEST(Trust, ChecksOverAuxiliaryData) {
  X509* self = Cert("A", "A");
  X509* other = Cert("B", "A");
  // Without settings: trust_1oidany falls back on the self-issued test,
  // trust_1oid does not.
  EXPECT_EQ(1, X509_check_trust(self, -1, 0));
  EXPECT_EQ(1, X509_check_trust(other, -1, 0));
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(self, 3, 0));
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(other, 3, 0));
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(self, 1, 0));
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(self, 6, 0));
  // Trusted for serverAuth only.
  ASSERT_GT(X509_add1_trust_object(other, OBJ_nid2obj(kNidServerAuth)), 0);
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(other, 3, 0));
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(other, 2, 0));
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(other, 6, 0));
  ASSERT_GT(X509_add1_trust_object(other, OBJ_nid2obj(kNidOcspSign)), 0);
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(other, 6, 0));
  // Rejected as well: the rejection is read first.
  ASSERT_GT(X509_add1_reject_object(other, OBJ_nid2obj(kNidServerAuth)), 0);
  EXPECT_EQ(X509_TRUST_REJECTED, X509_check_trust(other, 3, 0));
  // A self-issued certificate with settings is judged by them.
  ASSERT_GT(X509_add1_reject_object(self, OBJ_nid2obj(kNidClientAuth)), 0);
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(self, 3, 0));
  EXPECT_EQ(X509_TRUST_REJECTED, X509_check_trust(self, 2, 0));
  X509_free(self);
  X509_free(other);
}

int always_rejected(int, X509*, int) { return X509_TRUST_REJECTED; }

TEST(Trust, DefaultFunctionForUnknownIds) {
  X509* x = Cert("B", "A");
  // An id without a record is read as the NID of a use.
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(x, kNidClientAuth, 0));
  X509_add1_trust_object(x, OBJ_nid2obj(kNidClientAuth));
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(x, kNidClientAuth, 0));
  auto old = X509_TRUST_set_default(always_rejected);
  EXPECT_EQ(X509_TRUST_REJECTED, X509_check_trust(x, kNidClientAuth, 0));
  EXPECT_EQ(always_rejected, X509_TRUST_set_default(old));
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(x, kNidClientAuth, 0));
  X509_free(x);
}

// A null default is never kept to be called: it brings back the built-in
// function (the next unknown id jumped to address 0).
TEST(Trust, NullDefaultFunctionIsTheBuiltInOne) {
  X509* x = Cert("B", "A");
  X509_add1_trust_object(x, OBJ_nid2obj(kNidClientAuth));
  auto built_in = X509_TRUST_set_default(always_rejected);
  EXPECT_EQ(always_rejected, X509_TRUST_set_default(nullptr));
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(x, kNidClientAuth, 0));
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(x, kNidClientAuth + 1, 0));
  EXPECT_EQ(built_in, X509_TRUST_set_default(built_in));
  X509_free(x);
}

int trusted_if_flags(X509_TRUST* t, X509*, int flags) {
  return flags == t->arg1 ? X509_TRUST_TRUSTED : X509_TRUST_UNTRUSTED;
}

TEST(Trust, AddReplacesBuiltInInPlace) {
  X509_TRUST* before = X509_TRUST_get0(1);
  ASSERT_EQ(1, X509_TRUST_add(2, X509_TRUST_DYNAMIC, trusted_if_flags, "mine", 5, nullptr));
  EXPECT_EQ(7, X509_TRUST_get_count());
  EXPECT_EQ(before, X509_TRUST_get0(X509_TRUST_get_by_id(2)));
  EXPECT_STREQ("mine", X509_TRUST_get0_name(before));
  EXPECT_EQ(X509_TRUST_DYNAMIC_NAME, X509_TRUST_get_flags(before));  // 0x1 is not taken
  X509* x = Cert("B", "A");
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(x, 2, 5));
  EXPECT_EQ(X509_TRUST_UNTRUSTED, X509_check_trust(x, 2, 4));
  // Changed again: the copied name is replaced.
  ASSERT_EQ(1, X509_TRUST_add(2, 0, trusted_if_flags, "again", 4, nullptr));
  EXPECT_STREQ("again", X509_TRUST_get0_name(before));
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(x, 2, 4));
  X509_TRUST_cleanup();
  EXPECT_STREQ("again", X509_TRUST_get0_name(X509_TRUST_get0(1)));
  X509_free(x);
}

TEST(Trust, AddedRecords) {
  ASSERT_EQ(1, X509_TRUST_add(20, 0, trusted_if_flags, "twenty", 1, nullptr));
  ASSERT_EQ(1, X509_TRUST_add(10, 0, trusted_if_flags, "ten", 2, nullptr));
  EXPECT_EQ(9, X509_TRUST_get_count());
  const int i10 = X509_TRUST_get_by_id(10);
  const int i20 = X509_TRUST_get_by_id(20);
  EXPECT_EQ(7, i10);  // ordered by id
  EXPECT_EQ(8, i20);
  X509_TRUST* t = X509_TRUST_get0(i20);
  EXPECT_STREQ("twenty", X509_TRUST_get0_name(t));
  EXPECT_EQ(X509_TRUST_DYNAMIC | X509_TRUST_DYNAMIC_NAME, X509_TRUST_get_flags(t));
  int id = 0;
  EXPECT_EQ(1, X509_TRUST_set(&id, 20));
  X509* x = Cert("B", "A");
  EXPECT_EQ(X509_TRUST_TRUSTED, X509_check_trust(x, 10, 2));
  X509_free(x);
  // Ids at both ends of the range are found (an order by their difference
  // overflowed).
  for (int end : {INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1})
    ASSERT_EQ(1, X509_TRUST_add(end, 0, trusted_if_flags, "end", 0, nullptr));
  for (int end : {INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 10, 20})
    EXPECT_EQ(end, X509_TRUST_get_trust(X509_TRUST_get0(X509_TRUST_get_by_id(end))));
  X509_TRUST_cleanup();
  EXPECT_EQ(7, X509_TRUST_get_count());
  EXPECT_EQ(-1, X509_TRUST_get_by_id(10));
}

}  // namespace
