// The per-key ECDSA record (ECDSA_DATA, morvane/ecdsa.h) and the seam of
// the constant-time check.
#ifndef MORVANE_CRYPTO_ECDSA_INTERNAL_H
#define MORVANE_CRYPTO_ECDSA_INTERNAL_H

#include <morvane/crypto.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>

namespace morvane::ecdsa {

// The key's record, made and inserted on first use; null when it cannot be
// made.  Of two records made at once for one key, the one inserted first is
// returned to both callers and the other freed.
ECDSA_DATA* check(EC_KEY* key);

}  // namespace morvane::ecdsa

// Seam of the constant-time check: a test build of ecs_qarn.cc that defines
// MORVANE_ECDSA_NONCE_SEAM supplies nonce_drawn(), called with each nonce k
// as soon as it is drawn (the harness marks its words secret there).  The
// library build compiles the call away.
#ifdef MORVANE_ECDSA_NONCE_SEAM
namespace morvane::ecdsa {
void nonce_drawn(BIGNUM* k);
}  // namespace morvane::ecdsa
#define MORVANE_ECDSA_NONCE_DRAWN(k) ::morvane::ecdsa::nonce_drawn(k)
#else
#define MORVANE_ECDSA_NONCE_DRAWN(k) static_cast<void>(0)
#endif

#endif  // MORVANE_CRYPTO_ECDSA_INTERNAL_H
