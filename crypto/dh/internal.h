// Diffie-Hellman: what the sources of crypto/dh share.
#ifndef MORVANE_CRYPTO_DH_INTERNAL_H
#define MORVANE_CRYPTO_DH_INTERNAL_H

#include <morvane/bn.h>
#include <morvane/dh.h>

namespace morvane::dh {

// A view of the private value x sharing its words, marked secret (so the
// exponentiation takes its constant-time form) and borrowed (so nothing
// frees or grows the words through it); x itself is left as it is.
inline BIGNUM secret_view(const BIGNUM* x) noexcept {
  BIGNUM v = *x;
  v.flags = BN_FLAG_BORROWED | BN_FLAG_SECRET;
  return v;
}

// The key's Montgomery context of p when DH_FLAG_MONT_P_CACHED is set (made
// once under CRYPTO_LOCK_DH), else null.  *failed is set when it could not
// be made.
BN_MONT_CTX* cached_mont(DH* dh, BN_CTX* ctx, bool* failed);

}  // namespace morvane::dh

#endif  // MORVANE_CRYPTO_DH_INTERNAL_H
