// Blowfish internals shared between the cipher and its generated table.
#ifndef MORVANE_CRYPTO_BF_INTERNAL_H
#define MORVANE_CRYPTO_BF_INTERNAL_H

#include <morvane/blowfish.h>

// The initial schedule: the hexadecimal digits of pi (bf_pi.cc).
namespace morvane::bf {

extern const BF_KEY bf_init;

}  // namespace morvane::bf

#endif  // MORVANE_CRYPTO_BF_INTERNAL_H
