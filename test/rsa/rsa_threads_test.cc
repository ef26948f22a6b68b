// One key used from several threads with real lock and thread-id callbacks:
// the first thread to operate owns the key's blinding, the others make and
// use the shared one under lock CRYPTO_LOCK_RSA_BLINDING, all keep giving
// the right results while they run at once, and no two operations apply the
// same blinding value.  (Also run under ThreadSanitizer.)

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <barrier>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::ReadLock;
using morvane_test::ReadUnlock;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

constexpr int kRsaLock = CRYPTO_LOCK_RSA, kBlindingLock = CRYPTO_LOCK_RSA_BLINDING;

TEST(RsaThreads, SecondThreadSharesItsOwnBlinding) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Rsa key = MakeKey(TestKey(1024));
  Rsa plain = MakeKey(TestKey(1024));
  plain->flags |= RSA_FLAG_NO_BLINDING;
  Bytes in(128, 0x44), want(128);
  in[0] = 0;
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), want.data(), plain.get(), RSA_NO_PADDING), 128);
  Bytes got(128);
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), got.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(got, want);
  ASSERT_NE(key->blinding, nullptr);
  ASSERT_EQ(key->mt_blinding, nullptr);
  // The second thread: the shared blinding is made once, then used under
  // its own write lock, which blinds and advances it in one step.
  morvane_test::StartRecordingLocks();
  std::thread second([&] {
    Bytes out(128);
    EXPECT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
    EXPECT_EQ(out, want);
  });
  second.join();
  const auto events = morvane_test::StopRecordingLocks({kRsaLock, kBlindingLock});
  EXPECT_EQ(events,
            (std::vector<morvane_test::LockEvent>{
                ReadLock(kRsaLock), ReadUnlock(kRsaLock), WriteLock(kRsaLock),
                WriteUnlock(kRsaLock),                                 // mt_blinding made
                WriteLock(kBlindingLock), WriteUnlock(kBlindingLock),  // blinded, advanced
                ReadLock(kRsaLock), ReadUnlock(kRsaLock), ReadLock(kRsaLock), ReadUnlock(kRsaLock),
                ReadLock(kRsaLock), ReadUnlock(kRsaLock)}));  // the three Montgomery contexts found
  ASSERT_NE(key->mt_blinding, nullptr);
  EXPECT_NE(BN_BLINDING_get_thread_id(key->mt_blinding), BN_BLINDING_get_thread_id(key->blinding));
  // Both at once, more than 32 uses each (the pairs are drawn afresh).
  auto run = [&](int seed) {
    Bytes msg(128), out(128), plain_out(128);
    for (int i = 0; i < 40; i++) {
      msg = Pseudo(128, static_cast<unsigned>(seed * 100 + i));
      msg[0] = 0;
      EXPECT_EQ(RSA_private_decrypt(128, msg.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
      EXPECT_EQ(RSA_public_encrypt(128, out.data(), plain_out.data(), key.get(), RSA_NO_PADDING),
                128);
      EXPECT_EQ(plain_out, msg);
    }
  };
  std::thread a(run, 1), b(run, 2);
  a.join();
  b.join();
  EXPECT_ERRORS({});
}

// The blinded inputs that reach the exponentiation, recorded by a method
// whose rsa_mod_exp is the built-in one behind a recorder.  While `gate` is
// set, each call waits there until all its threads have arrived, so that
// every one of them has blinded before any exponentiates.
std::mutex seen_mutex;
std::vector<Bytes> seen;
std::barrier<>* gate = nullptr;

int RecordingModExp(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx) {
  {
    std::lock_guard<std::mutex> hold(seen_mutex);
    seen.push_back(ToBytes(I, 128));
  }
  if (gate != nullptr) gate->arrive_and_wait();
  return RSA_PKCS1_Quorix()->rsa_mod_exp(r0, I, rsa, ctx);
}

// Threads that blind one message at once, through the shared blinding and
// through the owner's, each get a value of their own: every blinded input
// differs from all the others, first with all threads held until each has
// blinded, then over 8 threads running freely.
TEST(RsaThreads, NoBlindingValueIsAppliedTwice) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  static RSA_METHOD recording = *RSA_PKCS1_Quorix();
  recording.rsa_mod_exp = RecordingModExp;
  Rsa key = MakeKey(TestKey(1024));
  ASSERT_EQ(RSA_set_method(key.get(), &recording), 1);
  Bytes msg(128, 0x5A), want(128);
  msg[0] = 0;
  ASSERT_EQ(RSA_private_decrypt(128, msg.data(), want.data(), key.get(), RSA_NO_PADDING), 128);
  auto run = [&](int times) {
    Bytes out(128);
    for (int i = 0; i < times; i++) {
      EXPECT_EQ(RSA_private_decrypt(128, msg.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
      EXPECT_EQ(out, want);
    }
  };
  auto distinct = [] {
    std::set<Bytes> all(seen.begin(), seen.end());
    return all.size();
  };
  for (int threads : {2, 4}) {  // shared blinding only, then with the owner too
    seen.clear();
    std::barrier<> held(threads);
    gate = &held;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads - 1; t++) pool.emplace_back(run, 1);
    if (threads == 4) {
      run(1);
    } else {
      pool.emplace_back(run, 1);
    }
    for (std::thread& t : pool) t.join();
    gate = nullptr;
    EXPECT_EQ(distinct(), seen.size()) << threads << " threads held";
  }
  seen.clear();
  std::vector<std::thread> pool;
  for (int t = 0; t < 8; t++) pool.emplace_back(run, 40);
  for (std::thread& t : pool) t.join();
  EXPECT_EQ(seen.size(), 320u);
  EXPECT_EQ(distinct(), seen.size());
  EXPECT_ERRORS({});
}

}  // namespace
