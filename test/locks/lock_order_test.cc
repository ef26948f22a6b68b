// The lock order of morvane/crypto.h (CRYPTO_LOCK_ORDER), under threads that
// sign with a shared RSA key and with fresh copies of it, draw random bytes
// and verify a certificate chain at once.  The locking callback keeps,
// per thread, the locks held, and counts every lock taken while one that
// comes later in the order (or the same one) is held; and the main thread
// forks 3,000 times with pthread_atfork handlers that take every lock in
// that order and release it after, which must never hang.  Each child seeds
// the generator, draws from it and leaves.  Once more with the leak checker
// on, an application's extra-data index on RSA keys (their setup allocates
// under lock 2) and a thread that prints leak reports meanwhile.  Built
// without sanitizers (see CMakeLists.txt): their own locks are not safe
// across a fork under threads.

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include "chain_util.h"
#include "test_support.h"

namespace {

// 3,000 forks; MORVANE_LOCK_ORDER_FORKS sets another count.
constexpr int kForks = 3000;
constexpr int kNidSha1 = 64;
constexpr int kOrder[] = {CRYPTO_LOCK_ORDER};

pthread_mutex_t g_mutex[CRYPTO_NUM_LOCKS];
int g_rank[CRYPTO_NUM_LOCKS];

// Locks out of order: how many, and the first pair (held, taken).
std::atomic<int> g_out_of_order{0};
std::atomic<int> g_first_held{-1}, g_first_taken{-1};

// The locks this thread holds, with the depth of each.
thread_local int t_depth[CRYPTO_NUM_LOCKS];

void Locking(int mode, int type, const char*, int) {
  if (type <= 0 || type >= CRYPTO_NUM_LOCKS) {
    g_out_of_order++;  // the library takes no other number
    return;
  }
  if (mode & CRYPTO_LOCK) {
    for (int h = 1; h < CRYPTO_NUM_LOCKS; h++) {
      if (t_depth[h] == 0 || g_rank[h] < g_rank[type]) continue;
      if (g_out_of_order++ == 0) {
        g_first_held = h;
        g_first_taken = type;
      }
    }
    // A lock taken again by its holder is counted above; taking the mutex
    // would hang.
    if (t_depth[type]++ == 0) pthread_mutex_lock(&g_mutex[type]);
  } else if (t_depth[type] > 0 && --t_depth[type] == 0) {
    pthread_mutex_unlock(&g_mutex[type]);
  }
}

unsigned long ThreadId() {
  return static_cast<unsigned long>(pthread_self());
}

void TakeAll() {
  for (int type : kOrder) pthread_mutex_lock(&g_mutex[type]);
}
void ReleaseAll() {
  for (int i = static_cast<int>(std::size(kOrder)) - 1; i >= 0; i--)
    pthread_mutex_unlock(&g_mutex[kOrder[i]]);
}

// Signs with `key`: 1 when the signature verifies.
bool SignsRight(RSA* key, unsigned char seed) {
  unsigned char md[20], sig[256];
  for (unsigned char& c : md) c = seed++;
  unsigned int len = 0;
  return RSA_sign(kNidSha1, md, sizeof md, sig, &len, key) == 1 &&
         RSA_verify(kNidSha1, md, sizeof md, sig, len, key) == 1;
}

TEST(LockOrder, ListsEveryStaticLockOnce) {
  std::vector<int> seen(CRYPTO_NUM_LOCKS, 0);
  for (int type : kOrder) {
    ASSERT_GT(type, 0);
    ASSERT_LT(type, CRYPTO_NUM_LOCKS);
    seen[type]++;
  }
  for (int type = 1; type < CRYPTO_NUM_LOCKS; type++) EXPECT_EQ(seen[type], 1) << type;
}

void ForkUnderThreads(bool leak_checker) {
  if (leak_checker) {
    CRYPTO_malloc_debug_init();
    ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  }
  for (size_t i = 0; i < std::size(kOrder); i++) g_rank[kOrder[i]] = static_cast<int>(i);
  for (pthread_mutex_t& m : g_mutex) pthread_mutex_init(&m, nullptr);
  CRYPTO_set_id_callback(ThreadId);
  CRYPTO_set_locking_callback(Locking);
  ASSERT_EQ(pthread_atfork(TakeAll, ReleaseAll, ReleaseAll), 0);
  Morvane_add_all_digests();
  if (leak_checker) {
    ASSERT_GE(RSA_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr), 0);
  }

  RSA* shared = RSA_new();
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  ASSERT_EQ(RSA_generate_key_ex(shared, 1024, e, nullptr), 1);
  BN_free(e);
  const x509_test::ChainDer der = x509_test::MakeChainDer();

  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<long> work{0};
  std::vector<std::thread> threads;
  // This thread owns the shared key's first blinding: the signer shares the
  // other one, under its lock.
  ASSERT_TRUE(SignsRight(shared, 0));
  threads.emplace_back([&] {  // a signer: the shared key, and every 8th time a fresh copy
    for (unsigned char i = 0; !stop.load(); i++, work++) {
      if (i % 8 == 0) {
        RSA* copy = RSAPrivateKey_dup(shared);  // its first use makes its blinding
        wrong += copy == nullptr || !SignsRight(copy, i);
        RSA_free(copy);
      } else {
        wrong += !SignsRight(shared, i);
      }
    }
    ERR_remove_state(0);
  });
  threads.emplace_back([&] {  // random bytes, with adds and status calls
    unsigned char b[64];
    for (int i = 0; !stop.load(); i++, work++) {
      wrong += RAND_bytes(b, sizeof b) != 1;
      if (i % 4 == 0) RAND_add(b, 16, 0.0);
      if (i % 4 == 1) wrong += RAND_status() != 1;
    }
    ERR_remove_state(0);
  });
  threads.emplace_back([&] {  // a verifier: the chain, freshly decoded every 4th time
    while (!stop.load()) {
      const x509_test::Chain chain(der);
      for (int k = 0; k < 4 && !stop.load(); k++, work++)
        wrong += !(x509_test::VerifyChain(chain) == x509_test::Outcome{1, X509_V_OK});
    }
    ERR_remove_state(0);
  });
  if (leak_checker) {
    threads.emplace_back([&] {  // leak reports, to a file and to a memory stream
      FILE* null = fopen("/dev/null", "w");
      wrong += null == nullptr;
      for (int i = 0; !stop.load() && null != nullptr; i++, work++) {
        if (i % 2 == 0) {
          CRYPTO_mem_leaks_fp(null);
        } else {
          BIO* b = BIO_new(BIO_s_mem());
          CRYPTO_mem_leaks(b);
          BIO_free(b);
        }
      }
      if (null != nullptr) fclose(null);
      ERR_remove_state(0);
    });
  }

  int children_failed = 0;
  const char* forks = getenv("MORVANE_LOCK_ORDER_FORKS");
  const int count = forks != nullptr ? atoi(forks) : kForks;
  for (int f = 0; f < count; f++) {
    const pid_t pid = fork();
    if (pid == 0) {
      const unsigned char seed[32] = {static_cast<unsigned char>(f)};
      unsigned char b[16];
      RAND_seed(seed, sizeof seed);
      _exit(RAND_bytes(b, sizeof b) == 1 ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    children_failed += !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  stop = true;
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(children_failed, 0);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(work.load(), 0);
  EXPECT_EQ(g_out_of_order.load(), 0)
      << "lock " << g_first_taken.load() << " taken while holding " << g_first_held.load();
  EXPECT_ERRORS({});
  RSA_free(shared);
  CRYPTO_set_locking_callback(nullptr);
}

TEST(LockOrder, ForksUnderThreadsWithHandlersTakingTheOrder) {
  ForkUnderThreads(false);
}

TEST(LockOrder, ForksUnderThreadsWithTheLeakCheckerOn) {
  ForkUnderThreads(true);
}

}  // namespace
