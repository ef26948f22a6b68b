// Internal helpers shared by the stream sources: the retry-flag mask.
#ifndef MORVANE_CRYPTO_BIO_LOCAL_H
#define MORVANE_CRYPTO_BIO_LOCAL_H

#include <morvane/bio.h>
#include <morvane/err.h>

namespace morvane::bio {

// The retry flags: the three kinds and "should retry".
constexpr int kRetryMask = BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY;

inline void ClearRetry(BIO* b) {
  b->flags &= ~kRetryMask;
}

}  // namespace morvane::bio

#endif  // MORVANE_CRYPTO_BIO_LOCAL_H
