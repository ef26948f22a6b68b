// An engine's SHA-1 (test/hmac/sha1_engine.h) that counts the digests it
// finishes and fails every one past `limit`: a test shows that a derivation
// did not start (no digest finished), and a derivation of millions of
// iterations that does start stops at once instead of holding the test.
#ifndef MORVANE_TEST_EVP_SHA1_COUNT_H
#define MORVANE_TEST_EVP_SHA1_COUNT_H

#include <morvane/engine.h>
#include <morvane/evp.h>

#include "sha1_engine.h"

namespace sha1_count {

inline int g_finals = 0;
inline int g_limit = 0;

inline int CountingFinal(EVP_MD_CTX* ctx, unsigned char* md) {
  return ++g_finals > g_limit ? 0 : EVP_sha1()->final(ctx, md);
}

// Registered while it lives; the process's engines are cleaned up after.
class Sha1Counter {
 public:
  explicit Sha1Counter(int limit) {
    hmac_test::g_engine_sha1 = *EVP_sha1();
    hmac_test::g_engine_sha1.final = CountingFinal;
    g_finals = 0;
    g_limit = limit;
    engine_ = hmac_test::RegisterSha1Engine("sha1-count");
  }
  ~Sha1Counter() {
    ENGINE_cleanup();
    ENGINE_free(engine_);
  }
  Sha1Counter(const Sha1Counter&) = delete;
  Sha1Counter& operator=(const Sha1Counter&) = delete;
  int finals() const { return g_finals; }
  void Reset() { g_finals = 0; }

 private:
  ENGINE* engine_;
};

}  // namespace sha1_count

#endif  // MORVANE_TEST_EVP_SHA1_COUNT_H
