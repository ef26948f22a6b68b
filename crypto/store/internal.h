// The object store's private parts: the handle.
#ifndef MORVANE_STORE_INTERNAL_H
#define MORVANE_STORE_INTERNAL_H

#include <morvane/crypto.h>
#include <morvane/store.h>

struct store_st {
  const STORE_METHOD* meth;
  ENGINE* engine;  // the engine whose functional reference the store holds, or null
  CRYPTO_EX_DATA ex_data;
  int references;  // kept for the layout; nothing counts with it
};

#endif  // MORVANE_STORE_INTERNAL_H
