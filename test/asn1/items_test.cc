// The generic item test: every item of the registry (crypto/asn1/items.def)
// is created and freed through the engine and through its own functions,
// X_free(NULL) does nothing, and the item names itself.  The rows are
// generated from the registry, so a new item is covered by adding its row.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>

#include "test_support.h"

namespace {

struct ItemRow {
  const char* name;
  const ASN1_ITEM* it;
  void* (*make)();           // X_new, or null
  void (*release)(void* p);  // X_free, or null
};

const ItemRow kItems[] = {
#include "asn1_item_table.inc"
};

TEST(Asn1Items, EveryItemCreatesAndFrees) {
  for (const ItemRow& row : kItems) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(std::string(row.name), row.it->sname);
    ASN1_VALUE* v = ASN1_item_new(row.it);
    // BOOLEAN values live in the field itself and may read as null.
    if (row.it->utype != ASN1_UT_BOOLEAN) {
      EXPECT_NE(nullptr, v);
    }
    ASN1_item_free(v, row.it);
    ASN1_item_free(nullptr, row.it);
    if (row.make != nullptr) {
      void* x = row.make();
      EXPECT_NE(nullptr, x);
      row.release(x);
    }
    if (row.release != nullptr) row.release(nullptr);
  }
  EXPECT_ERRORS({});
}

}  // namespace
