// Blowfish internals shared between the cipher and its generated table.
#ifndef MORVANE_CRYPTO_BF_LOCAL_H
#define MORVANE_CRYPTO_BF_LOCAL_H

#include <morvane/blowfish.h>

// The initial schedule: the hexadecimal digits of pi (bf_pi.cc).
extern const BF_KEY bf_init;

#endif  // MORVANE_CRYPTO_BF_LOCAL_H
