// Private shapes of the envelope shared by its sources.
#ifndef MORVANE_CRYPTO_EVP_INTERNAL_H
#define MORVANE_CRYPTO_EVP_INTERNAL_H

#include <morvane/evp.h>

namespace morvane::evp {

// Mode of a description (the low three flag bits).
inline unsigned long cipher_mode(const EVP_CIPHER* c) { return c->flags & EVP_CIPH_MODE; }

}  // namespace morvane::evp

#endif  // MORVANE_CRYPTO_EVP_INTERNAL_H
