// The per-key ECDSA record (ECDSA_DATA, morvane/ecdsa.h).
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

#endif  // MORVANE_CRYPTO_ECDSA_INTERNAL_H
