// Revocation lists whose entries carry extensions: a critical entry
// extension the verifier cannot process makes the whole list unusable
// (RFC 5280, 5.3), whichever certificate the entry names; the reason code,
// invalidity date and hold instruction are understood.

#include <vector>

#include <gtest/gtest.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "cert_builder.h"
#include "test_support.h"

namespace {

using morvane_test::CertExt;
using morvane_test::CrlEntry;

constexpr time_t kMoment = 1609459200;  // 2021-01-01 00:00:00 UTC
constexpr int kNidReasonCode = 141;
constexpr int kNidInvalidityDate = 142;
constexpr int kNidHoldInstruction = 430;
constexpr int kUnregistered = 0;  // 1.2.3.4 in the builder

const morvane_test::Bytes kCaTrue = {0x30, 0x03, 0x01, 0x01, 0xFF};
const morvane_test::Bytes kReasonKeyCompromise = {0x0A, 0x01, 0x01};
const morvane_test::Bytes kNull = {0x05, 0x00};
const morvane_test::Bytes kGeneralizedTime = {0x18, 0x0F, '2', '0', '1', '9', '1', '2', '3',
                                              '1', '0', '0', '0', '0', '0', '0', 'Z'};
const morvane_test::Bytes kHoldCallIssuer = {0x06, 0x07, 0x2A, 0x86, 0x48,
                                             0xCE, 0x38, 0x02, 0x02};

struct Case {
  const char* name;
  std::vector<CrlEntry> entries;
  unsigned long extra_flags;
  int expected;  // X509_verify_cert's result
  int error;     // the context's error after it
};

class CrlEntryExtensions : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { Morvane_add_all_digests(); }
};

TEST_P(CrlEntryExtensions, DecideWhetherTheListIsUsed) {
  const Case& c = GetParam();
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, {{87, true, kCaTrue}}});
  X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}});
  X509_CRL* crl = morvane_test::MakeCrl("Root", c.entries);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  ASSERT_EQ(1, X509_STORE_add_crl(store, crl));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, nullptr));
  X509_STORE_CTX_set_time(ctx, 0, kMoment);
  X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | c.extra_flags);
  EXPECT_EQ(c.expected, X509_verify_cert(ctx));
  EXPECT_EQ(c.error, X509_STORE_CTX_get_error(ctx));
  if (c.expected != 1) {
    EXPECT_EQ(0, X509_STORE_CTX_get_error_depth(ctx));
  }
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  X509_CRL_free(crl);
  X509_free(leaf);
  X509_free(root);
}

const Case kCases[] = {
    {"NoEntries", {}, 0, 1, X509_V_OK},
    {"OtherEntryPlain", {{99, {}}}, 0, 1, X509_V_OK},
    {"OtherEntryUnknownCritical", {{99, {{kUnregistered, true, kNull}}}}, 0, 0,
     X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION},
    {"OtherEntryUnknownNonCritical", {{99, {{kUnregistered, false, kNull}}}}, 0, 1, X509_V_OK},
    {"UnknownCriticalIgnoredOnRequest",
     {{99, {{kUnregistered, true, kNull}}}},
     X509_V_FLAG_IGNORE_CRITICAL,
     1,
     X509_V_OK},
    {"KnownCriticalEntryExtensions",
     {{99,
       {{kNidReasonCode, true, kReasonKeyCompromise},
        {kNidInvalidityDate, true, kGeneralizedTime},
        {kNidHoldInstruction, true, kHoldCallIssuer}}}},
     0,
     1,
     X509_V_OK},
    {"ListedLeafStillRevoked", {{5, {{kNidReasonCode, false, kReasonKeyCompromise}}}}, 0, 0,
     X509_V_ERR_CERT_REVOKED},
};

INSTANTIATE_TEST_SUITE_P(Table, CrlEntryExtensions, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
