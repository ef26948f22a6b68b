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

int AcceptAll(const X509_PURPOSE*, const X509*, int) { return 1; }
int TrustAll(X509_TRUST*, X509*, int) { return X509_TRUST_TRUSTED; }

// Records the application added before it started its threads: the threads'
// lookups read the tables and must not sort them (the first lookup used to).
TEST(X509ThreadsTables, LookupsOfAddedRecordsOnlyRead) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  constexpr int kAdded = 6;
  for (int i = kAdded - 1; i >= 0; i--) {  // added out of order
    const std::string p = "p" + std::to_string(i);  // short names are unique
    ASSERT_EQ(X509_PURPOSE_add(100 + i, X509_TRUST_DEFAULT, 0, AcceptAll, "p", p.c_str(), nullptr),
              1);
    ASSERT_EQ(X509_TRUST_add(100 + i, 0, TrustAll, "t", 0, nullptr), 1);
    X509_VERIFY_PARAM* vp = X509_VERIFY_PARAM_new();
    ASSERT_NE(vp, nullptr);
    ASSERT_EQ(X509_VERIFY_PARAM_set1_name(vp, ("v" + std::to_string(i)).c_str()), 1);
    ASSERT_EQ(X509_VERIFY_PARAM_add0_table(vp), 1);
  }
  std::atomic<int> ready{0}, found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      const int i = t % kAdded;
      found.fetch_add(X509_PURPOSE_get_by_id(100 + i) >= 0);
      found.fetch_add(X509_TRUST_get_by_id(100 + i) >= 0);
      found.fetch_add(X509_VERIFY_PARAM_lookup(("v" + std::to_string(i)).c_str()) != nullptr);
      ERR_remove_state(0);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(found.load(), 3 * kThreads);
  X509_PURPOSE_cleanup();
  X509_TRUST_cleanup();
  X509_VERIFY_PARAM_table_cleanup();
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Chains, X509Threads, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ThreadCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
