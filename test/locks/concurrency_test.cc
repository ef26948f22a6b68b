// Eight threads run SHA-1, SHA-256, AES-CFB, lookups in one hash table under a
// shared lock, extra data, large blocks and their own error queues at once,
// under a locking callback that serves CRYPTO_READ as a shared lock, so that
// readers overlap.  Results must be those of one thread, and the
// ThreadSanitizer build (tools/test.sh) fails on any data race.

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

using morvane_test::FromHex;
using morvane_test::ToHex;

constexpr int kThreads = 8, kRounds = 200;
const char* const kKeys[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"};

std::shared_mutex g_locks[256];
void SharedLocking(int mode, int type, const char*, int) {
  std::shared_mutex& m = g_locks[type & 255];
  if (mode & CRYPTO_READ)
    (mode & CRYPTO_LOCK) ? m.lock_shared() : m.unlock_shared();
  else
    (mode & CRYPTO_LOCK) ? m.lock() : m.unlock();
}
unsigned long ThreadId() { return static_cast<unsigned long>(pthread_self()); }

int Worker(LHASH* table, int table_lock, int ex_index) {
  // SP 800-38A, F.3.13 (CFB128-AES128), first block.
  const auto key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const auto plain = FromHex("6bc1bee22e409f96e93d7e117393172a");
  AES_KEY aes;
  AES_set_encrypt_key(key.data(), 128, &aes);
  int failures = 0;
  for (int r = 0; r < kRounds; r++) {
    // FIPS 180-2, Appendices A.1 and B.1: "abc".
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>("abc"), 3, md);
    failures += ToHex(md, SHA_DIGEST_LENGTH) != "a9993e364706816aba3e25717850c26c9cd0d89d";
    SHA256(reinterpret_cast<const unsigned char*>("abc"), 3, md);
    failures += ToHex(md, SHA256_DIGEST_LENGTH) !=
                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    auto iv = FromHex("000102030405060708090a0b0c0d0e0f");
    int num = 0;
    AES_cfb128_encrypt(plain.data(), md, 16, &aes, iv.data(), &num, AES_ENCRYPT);
    failures += ToHex(md, 16) != "3b3fd92eb72dad20333449f8e83cfb4a";

    CRYPTO_r_lock(table_lock);
    for (const char* k : kKeys) failures += lh_retrieve(table, k) != k;
    failures += lh_retrieve(table, "absent") != nullptr;
    CRYPTO_r_unlock(table_lock);

    CRYPTO_EX_DATA ad;
    memset(&ad, 0, sizeof ad);
    failures += CRYPTO_new_ex_data(CRYPTO_EX_INDEX_USER, nullptr, &ad) != 1;
    failures += CRYPTO_set_ex_data(&ad, ex_index, &ad) != 1;
    CRYPTO_free_ex_data(CRYPTO_EX_INDEX_USER, nullptr, &ad);
    CRYPTO_free(CRYPTO_malloc(4096, __FILE__, __LINE__));  // marked with the cleanse counter

    ERR_put_error(ERR_LIB_SYS, 0, 2, "thread.cc", r);
    char text[256];
    ERR_error_string_n(ERR_peek_error(), text, sizeof text);  // looks texts up under a read lock
    failures += strstr(text, "system lib") == nullptr;
    failures += ERR_get_error() != ERR_PACK(ERR_LIB_SYS, 0, 2);
  }
  ERR_remove_state(0);
  return failures;
}

TEST(Concurrency, EightThreadsUnderSharedReadLocks) {
  CRYPTO_set_locking_callback(SharedLocking);
  CRYPTO_set_id_callback(ThreadId);
  ERR_load_crypto_strings();
  const int ex_index = CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_USER, 0, nullptr, nullptr,
                                               nullptr, nullptr);
  char lock_name[] = "table";
  const int table_lock = CRYPTO_get_new_lockid(lock_name);
  LHASH* table = lh_new(nullptr, nullptr);
  ASSERT_TRUE(ex_index >= 0 && table_lock > 0 && table != nullptr);
  for (const char* k : kKeys) lh_insert(table, const_cast<char*>(k));

  int failures[kThreads] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; i++)
    threads.emplace_back([&, i] { failures[i] = Worker(table, table_lock, ex_index); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; i++) EXPECT_EQ(failures[i], 0) << "thread " << i;
  // Concurrent lookups lose no count.
  EXPECT_EQ(table->num_retrieve, kThreads * kRounds * std::size(kKeys));
  EXPECT_EQ(table->num_retrieve_miss, static_cast<unsigned long>(kThreads * kRounds));
  lh_free(table);
  ERR_free_strings();
  CRYPTO_cleanup_all_ex_data();
  CRYPTO_set_locking_callback(nullptr);
}

}  // namespace
