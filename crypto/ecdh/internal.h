// The per-key ECDH record (ECDH_DATA, morvane/ecdh.h) and the built-in
// computation.
#ifndef MORVANE_CRYPTO_ECDH_INTERNAL_H
#define MORVANE_CRYPTO_ECDH_INTERNAL_H

#include <morvane/crypto.h>
#include <morvane/ecdh.h>
#include <morvane/engine.h>

namespace morvane::ecdh {

// The key's record, made and inserted on first use; null when it cannot be
// made.  Of two records made at once for one key, the one inserted first is
// returned to both callers and the other freed.
ECDH_DATA* check(EC_KEY* key);

// The built-in computation.
int compute_key(void* out, size_t outlen, const EC_POINT* pub_key, EC_KEY* ecdh,
                void* (*KDF)(const void* in, size_t inlen, void* out, size_t* outlen));

}  // namespace morvane::ecdh

#endif  // MORVANE_CRYPTO_ECDH_INTERNAL_H
