// One key used from two threads with real lock and thread-id callbacks: the
// first thread to operate owns the key's blinding, the second makes and uses
// the shared one under lock CRYPTO_LOCK_RSA_BLINDING, and both keep giving
// the right results while they run at once.  (Also run under
// ThreadSanitizer.)

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

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
  // its own lock, read to blind and written to advance.
  morvane_test::StartRecordingLocks();
  std::thread second([&] {
    Bytes out(128);
    EXPECT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
    EXPECT_EQ(out, want);
  });
  second.join();
  const auto events = morvane_test::StopRecordingLocks({kRsaLock, kBlindingLock});
  EXPECT_EQ(events, (std::vector<morvane_test::LockEvent>{
                        ReadLock(kRsaLock), ReadUnlock(kRsaLock), WriteLock(kRsaLock),
                        WriteUnlock(kRsaLock),                               // mt_blinding made
                        ReadLock(kBlindingLock), ReadUnlock(kBlindingLock),  // blinded
                        ReadLock(kRsaLock), ReadUnlock(kRsaLock), ReadLock(kRsaLock),
                        ReadUnlock(kRsaLock), ReadLock(kRsaLock),
                        ReadUnlock(kRsaLock),  // the three Montgomery contexts found
                        WriteLock(kBlindingLock), WriteUnlock(kBlindingLock)}));  // advanced
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

}  // namespace
