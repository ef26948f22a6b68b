// The chain verifier with each allocation of a run failing in turn: a run
// either gives the answer it gives with memory to spare or fails with 0 and
// "out of memory" (never 1 after a partial check, never another reason),
// leaks nothing, and leaves the certificates as a later run with memory
// judges them.  Each test needs its own process for the counting hooks
// (ctest runs each test in one).

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "chain_util.h"
#include "test_support.h"

namespace {

using namespace x509_test;

struct OomCase {
  const char* name;
  std::vector<CertExt> ca_exts, leaf_exts;
  bool lenient;  // the callback accepts every error
  Outcome want;  // with memory to spare
};

int AcceptAll(int, X509_STORE_CTX*) { return 1; }

// The second chain must fail: the leaf's authority key identifier does not
// name the CA's key, so the CA is not its issuer.  A run that lost the
// identifier for lack of memory would build the chain and pass it.  With a
// callback that accepts every error, memory running out still fails the run.
const OomCase kOomCases[] = {
    {"GoodChain", kCaExts, kLeafExts, false, {1, X509_V_OK}},
    {"KeyIdentifierMismatch",
     {kCa, kCaUsage, kAnyPolicy, kSubjectKeyId0102},
     {kLeafUsage, kServer, kAnyPolicy, kAuthorityKeyId0304},
     false,
     {0, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY}},
    {"LenientCallback", kCaExts, kLeafExts, true, {1, X509_V_OK}},
};

void PrintTo(const OomCase& c, std::ostream* os) { *os << c.name; }

class VerifyOom : public testing::TestWithParam<OomCase> {};

TEST_P(VerifyOom, EveryAllocationFailingGivesOutOfMemory) {
  const OomCase& tc = GetParam();
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Morvane_add_all_digests();
  const ChainDer der = MakeChainDer(tc.ca_exts, tc.leaf_exts);
  long allocations = 0;
  {
    const Chain c(der);
    morvane_test::AllocCounts before;
    const Outcome first = VerifyChain(c, [&](X509_STORE_CTX* ctx) {
      if (tc.lenient) X509_STORE_CTX_set_verify_cb(ctx, AcceptAll);
      before = morvane_test::GetAllocCounts();
    });
    const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
    ASSERT_EQ(first, tc.want);
    allocations = after.mallocs + after.reallocs - before.mallocs - before.reallocs;
  }
  ASSERT_GT(allocations, 20);
  ERR_clear_error();
  const Outcome out_of_memory{0, X509_V_ERR_OUT_OF_MEM};
  int failed_runs = 0;
  for (long n = 1; n <= allocations + 1; n++) {
    const long live = morvane_test::GetAllocCounts().live_blocks;
    {
      const Chain c(der);
      const Outcome got = VerifyChain(c, [&](X509_STORE_CTX* ctx) {
        if (tc.lenient) X509_STORE_CTX_set_verify_cb(ctx, AcceptAll);
        morvane_test::FailAllocationAfter(n);
      });
      morvane_test::FailAllocationAfter(0);
      EXPECT_TRUE(got == tc.want || got == out_of_memory)
          << "allocation " << n << ": " << got << "\n" << morvane_test::DrainErrors();
      failed_runs += got == out_of_memory;
      // Nothing the run left behind is wrong for a run with memory.
      EXPECT_EQ(VerifyChain(c), tc.want) << "after allocation " << n;
    }
    ERR_clear_error();
    EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live) << "allocation " << n;
  }
  EXPECT_GT(failed_runs, 0);
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(Chains, VerifyOom, testing::ValuesIn(kOomCases),
                         [](const testing::TestParamInfo<OomCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
