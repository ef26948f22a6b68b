// Eight threads run digests, AES-CFB, lookups in one hash table under a shared
// lock, extra data and their own error queues at once, with a locking callback
// that serves CRYPTO_READ as a shared lock and CRYPTO_WRITE as an exclusive
// one, so that readers really overlap.  The results must be those of one
// thread; the ThreadSanitizer build (tools/test.sh) runs this suite too and
// fails on any data race.

#include <pthread.h>
#include <string.h>

#include <shared_mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/aes.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/sha.h>

#include "test_support.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 200;

std::shared_mutex g_locks[256];

void SharedLockingCallback(int mode, int type, const char*, int) {
  std::shared_mutex& m = g_locks[type & 255];
  const bool read = (mode & CRYPTO_READ) != 0;
  if (mode & CRYPTO_LOCK)
    read ? m.lock_shared() : m.lock();
  else
    read ? m.unlock_shared() : m.unlock();
}

unsigned long ThreadId() { return static_cast<unsigned long>(pthread_self()); }

// FIPS 180-2, Appendix A.1 and B.1: the digests of "abc".
const std::string kSha1Abc = "a9993e364706816aba3e25717850c26c9cd0d89d";
const std::string kSha256Abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
// SP 800-38A, F.3.13 (CFB128-AES128.Encrypt), first block.
const std::string kKey = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string kIv = "000102030405060708090a0b0c0d0e0f";
const std::string kPlain = "6bc1bee22e409f96e93d7e117393172a";
const std::string kCipher = "3b3fd92eb72dad20333449f8e83cfb4a";

const char* const kKeys[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"};

int Worker(LHASH* table, int table_lock, int ex_index) {
  using morvane_test::FromHex;
  using morvane_test::ToHex;
  int failures = 0;
  const auto key = FromHex(kKey), plain = FromHex(kPlain);
  AES_KEY aes;
  AES_set_encrypt_key(key.data(), 128, &aes);
  for (int r = 0; r < kRounds; r++) {
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>("abc"), 3, md);
    failures += ToHex(md, SHA_DIGEST_LENGTH) != kSha1Abc;
    SHA256(reinterpret_cast<const unsigned char*>("abc"), 3, md);
    failures += ToHex(md, SHA256_DIGEST_LENGTH) != kSha256Abc;

    auto iv = FromHex(kIv);
    unsigned char out[16];
    int num = 0;
    AES_cfb128_encrypt(plain.data(), out, 16, &aes, iv.data(), &num, AES_ENCRYPT);
    failures += ToHex(out, 16) != kCipher;

    CRYPTO_r_lock(table_lock);
    for (const char* k : kKeys) failures += lh_retrieve(table, k) != k;
    failures += lh_retrieve(table, "absent") != nullptr;
    CRYPTO_r_unlock(table_lock);

    CRYPTO_EX_DATA ad;
    memset(&ad, 0, sizeof ad);
    failures += CRYPTO_new_ex_data(CRYPTO_EX_INDEX_USER, nullptr, &ad) != 1;
    failures += CRYPTO_set_ex_data(&ad, ex_index, &ad) != 1;
    failures += CRYPTO_get_ex_data(&ad, ex_index) != &ad;
    CRYPTO_free_ex_data(CRYPTO_EX_INDEX_USER, nullptr, &ad);

    // Blocks over 2048 bytes are marked with the cleanse counter.
    void* big = CRYPTO_malloc(4096, __FILE__, __LINE__);
    failures += big == nullptr;
    CRYPTO_free(big);

    ERR_put_error(ERR_LIB_SYS, 0, 2, "thread.cc", r);
    char text[256];
    ERR_error_string_n(ERR_peek_error(), text, sizeof text);
    failures += strstr(text, "system lib") == nullptr;
    failures += ERR_get_error() != ERR_PACK(ERR_LIB_SYS, 0, 2);
  }
  ERR_remove_state(0);
  return failures;
}

TEST(Concurrency, EightThreadsUnderSharedReadLocks) {
  CRYPTO_set_locking_callback(SharedLockingCallback);
  CRYPTO_set_id_callback(ThreadId);
  ERR_load_crypto_strings();
  const int ex_index = CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_USER, 0, nullptr, nullptr,
                                               nullptr, nullptr);
  ASSERT_GE(ex_index, 0);
  char lock_name[] = "table";
  const int table_lock = CRYPTO_get_new_lockid(lock_name);
  ASSERT_GT(table_lock, 0);
  LHASH* table = lh_new(nullptr, nullptr);
  ASSERT_NE(table, nullptr);
  for (const char* k : kKeys) lh_insert(table, const_cast<char*>(k));
  const unsigned long retrieve_before = table->num_retrieve;

  int failures[kThreads] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; i++)
    threads.emplace_back([&, i] { failures[i] = Worker(table, table_lock, ex_index); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; i++) EXPECT_EQ(failures[i], 0) << "thread " << i;

  // Concurrent lookups lose no count.
  const unsigned long lookups = static_cast<unsigned long>(kThreads) * kRounds;
  EXPECT_EQ(table->num_retrieve - retrieve_before, lookups * std::size(kKeys));
  EXPECT_EQ(table->num_retrieve_miss, lookups);
  EXPECT_EQ(table->error, 0);
  lh_free(table);
  ERR_remove_state(0);
  ERR_free_strings();
  CRYPTO_cleanup_all_ex_data();
  CRYPTO_set_locking_callback(nullptr);
}

}  // namespace
