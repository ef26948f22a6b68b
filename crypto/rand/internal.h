// Internal to the random generator: the methods it can fall back on.
#ifndef MORVANE_CRYPTO_RAND_INTERNAL_H
#define MORVANE_CRYPTO_RAND_INTERNAL_H

#include <morvane/rand.h>

namespace morvane::rand {

// The method that reads the operating system's random source directly.
const RAND_METHOD* os_method();

}  // namespace morvane::rand

#endif  // MORVANE_CRYPTO_RAND_INTERNAL_H
