// Eight threads verify one decoded signed message at once (the peer's, with
// and without signed attributes), each into its own stream, under a locking
// callback that serves CRYPTO_READ as a shared lock: verification changes
// nothing in the message that the others read (the detached mark and the
// engine's state were written by every call).  (Also run under
// ThreadSanitizer, which fails on any data race.)

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>

#include "test_support.h"

namespace {

constexpr int kThreads = 8, kRounds = 8;

// The content of the peer's messages (test/data/pkcs7/README.md).
const std::string kPeerContent = "Peer content line one\r\nline two\r\n";

TEST(Pkcs7Threads, EightThreadsVerifyOneMessage) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  for (const char* name : {"peer_signed.der", "peer_signed_attrs.der"}) {
    SCOPED_TRACE(name);
    const morvane_test::Bytes der =
        morvane_test::ReadFileBytes(morvane_test::TestDataFile(std::string("pkcs7/") + name));
    for (int round = 0; round < kRounds; round++) {
      const unsigned char* p = der.data();
      PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
      ASSERT_NE(p7, nullptr);
      std::atomic<int> ready{0}, verified{0};
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&] {
          BIO* out = BIO_new(BIO_s_mem());
          ready.fetch_add(1);
          while (ready.load() < kThreads) std::this_thread::yield();
          const bool ok =
              PKCS7_verify(p7, nullptr, nullptr, nullptr, out, PKCS7_FLAG_NO_VERIFY) == 1;
          char* text = nullptr;
          const long n = BIO_get_mem_data(out, &text);
          verified.fetch_add(ok && std::string(text, static_cast<size_t>(n)) == kPeerContent);
          BIO_free(out);
          ERR_remove_state(0);
        });
      }
      for (auto& th : threads) th.join();
      EXPECT_EQ(verified.load(), kThreads) << "round " << round;
      PKCS7_free(p7);
    }
  }
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

}  // namespace
