// Several threads multiply the generator of one fresh group at once, so
// that they race to make and publish the group's engine record and its
// fixed-base table; every product must equal the windowed-NAF product
// computed beforehand on another group of the curve.  And several threads
// sign and agree keys with one fresh key, racing to install the default
// methods and to make the key's records.  (Also run under ThreadSanitizer.)

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ec_test_util.h"
#include "test_support.h"

namespace {

using namespace ec_test;

constexpr int kThreads = 6;
constexpr int kPerThread = 4;

std::string Hexed(const EC_GROUP* g, const EC_POINT* p) {
  return Encode(g, p);
}

class EcThreads : public testing::TestWithParam<int> {};

TEST_P(EcThreads, GeneratorProductsOnOneFreshGroup) {
  const int nid = GetParam();
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  // The expected products, on a group of their own, by the windowed NAFs.
  Group ref(EC_GROUP_new_by_curve_name(nid));
  ASSERT_TRUE(ref);
  std::vector<Bn> scalars;
  std::vector<std::string> want;
  SplitMix64 rng{static_cast<uint64_t>(nid)};
  for (int i = 0; i < kThreads * kPerThread; i++) {
    Bn k(BN_new());
    ASSERT_TRUE(BN_pseudo_rand(k.get(), 1 + static_cast<int>(rng.Next() % 256), 0, 0));
    Point r(EC_POINT_new(ref.get()));
    const EC_POINT* pts[1] = {EC_GROUP_get0_generator(ref.get())};
    const BIGNUM* ks[1] = {k.get()};
    ASSERT_EQ(ec_wNAF_mul(ref.get(), r.get(), nullptr, 1, pts, ks, nullptr), 1);
    want.push_back(Hexed(ref.get(), r.get()));
    scalars.push_back(std::move(k));
  }

  Group g(EC_GROUP_new_by_curve_name(nid));
  ASSERT_TRUE(g);
  std::atomic<int> ready{0};
  std::vector<std::string> got(scalars.size());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kPerThread; i++) {
        const size_t j = static_cast<size_t>(t * kPerThread + i);
        EC_POINT* r = EC_POINT_new(g.get());
        // Half the threads start with a point term (the field record only).
        const bool point_first = t % 2 == 1 && i == 0;
        int ok;
        if (point_first)
          ok = EC_POINT_mul(g.get(), r, nullptr, EC_GROUP_get0_generator(g.get()),
                            scalars[j].get(), nullptr);
        else
          ok = EC_POINT_mul(g.get(), r, scalars[j].get(), nullptr, nullptr, nullptr);
        got[j] = ok == 1 ? Hexed(g.get(), r) : "failed";
        EC_POINT_free(r);
      }
      ERR_remove_state(0);
    });
  }
  for (auto& th : threads) th.join();
  for (size_t j = 0; j < scalars.size(); j++) EXPECT_EQ(got[j], want[j]) << Show(scalars[j].get());
  EXPECT_ERRORS({});
}

// P-256 (a = -3) and secp256k1 (a = 0).
INSTANTIATE_TEST_SUITE_P(Curves, EcThreads, testing::Values(415, 714));

// One key, no method installed yet: each thread signs and verifies, and
// agrees a secret with the key's own point, which is x(d Q) for all.
TEST(EcKeyThreads, SigningAndAgreementOnOneKey) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  EC_KEY* key = EC_KEY_new_by_curve_name(415);
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(EC_KEY_generate_key(key), 1);
  std::atomic<int> ready{0};
  std::vector<int> verified(kThreads, 0);
  std::vector<std::string> secrets(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      const unsigned char dgst[32] = {static_cast<unsigned char>(t)};
      unsigned char sig[80];
      unsigned int siglen = 0;
      // Half the threads start with the agreement.
      for (int half = 0; half < 2; half++) {
        if ((half + t) % 2 == 0) {
          verified[t] = ECDSA_sign(0, dgst, 32, sig, &siglen, key) == 1 &&
                        ECDSA_verify(0, dgst, 32, sig, static_cast<int>(siglen), key);
        } else {
          unsigned char out[32];
          const int n =
              ECDH_compute_key(out, sizeof out, EC_KEY_get0_public_key(key), key, nullptr);
          secrets[t] = n == 32 ? std::string(reinterpret_cast<char*>(out), 32) : "failed";
        }
      }
      ERR_remove_state(0);
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; t++) {
    EXPECT_EQ(verified[t], 1) << t;
    EXPECT_EQ(secrets[t], secrets[0]) << t;
  }
  EXPECT_NE(secrets[0], "failed");
  EC_KEY_free(key);
  EXPECT_ERRORS({});
}

}  // namespace
