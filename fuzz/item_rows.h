// The rows of the item registry (crypto/asn1/items.def) as the fuzz targets
// see them: every item with its X_new and X_free, generated at build time.
#ifndef MORVANE_FUZZ_ITEM_ROWS_H
#define MORVANE_FUZZ_ITEM_ROWS_H

#include <cstddef>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ecdsa.h>
#include <morvane/krb5_asn.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

struct ItemRow {
  const char* name;
  const ASN1_ITEM* it;
  void* (*make)();
  void (*release)(void* p);
};

inline const ItemRow kItems[] = {
#include "asn1_item_table.inc"
};
inline constexpr size_t kCount = sizeof kItems / sizeof kItems[0];

#endif  // MORVANE_FUZZ_ITEM_ROWS_H
