// Eight threads verify one shared certificate object against one store at
// once, each with its own context, under a locking callback that serves
// CRYPTO_READ as a shared lock.  Each round starts from freshly decoded
// certificates and revocation lists, so that the threads meet on the
// signature marks, the cached extension facts, the policy caches, the keys
// cached in the certificates and the lists' first sorting; every run must
// give the answer of a single thread.  (Also run under ThreadSanitizer,
// which fails on any data race.)

#include <atomic>
#include <string>
#include <thread>
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

constexpr int kThreads = 8, kRounds = 24;

struct ThreadCase {
  const char* name;
  std::vector<CertExt> ca_exts;
  Outcome want;  // what every run gives
};

// An invalid policyConstraints on the CA: its policy cache marks it while
// other threads read its other facts.
const ThreadCase kCases[] = {
    {"GoodChain", kCaExts, {1, X509_V_OK}},
    {"InvalidPolicyOnCa",
     {kCa, kCaUsage, kAnyPolicy, kEmptyPolicyConstraints},
     {0, X509_V_ERR_INVALID_POLICY_EXTENSION}},
};

void PrintTo(const ThreadCase& c, std::ostream* os) { *os << c.name; }

class X509Threads : public testing::TestWithParam<ThreadCase> {};

TEST_P(X509Threads, EightThreadsVerifyOneCertificate) {
  const ThreadCase& tc = GetParam();
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  const ChainDer der = MakeChainDer(tc.ca_exts);
  for (int round = 0; round < kRounds; round++) {
    const Chain c(der);
    std::atomic<int> ready{0};
    Outcome outcomes[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        outcomes[t] = VerifyChain(c);
        ERR_remove_state(0);
      });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; t++)
      EXPECT_EQ(outcomes[t], tc.want) << "round " << round << " thread " << t;
    // What the runs left behind: both signatures below the root checked,
    // and a later verification on this thread agrees.
    EXPECT_EQ(c.leaf->valid, 1);
    EXPECT_EQ(c.ca->valid, 1);
    EXPECT_EQ(VerifyChain(c), tc.want);
  }
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Chains, X509Threads, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ThreadCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
