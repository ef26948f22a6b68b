// Insertion into a hash table whose outcome is read from the table itself.
// The table's error count cannot say whether an item was stored: lh_insert
// sets it to 0, and a failed growth of the bucket array raises it while the
// item is stored all the same.  Only a lookup tells.
#ifndef MORVANE_INTERNAL_TABLE_INSERT_H
#define MORVANE_INTERNAL_TABLE_INSERT_H

#include <morvane/lhash.h>

namespace morvane::internal {

// Inserts `item`: true when the table holds it afterwards, with the equal
// item it replaced (or null) in *replaced; false, with the table holding what
// it held before, when the new node could not be allocated.
inline bool table_insert(LHASH* lh, void* item, void** replaced) {
  void* old = lh_insert(lh, item);
  if (replaced != nullptr) *replaced = old;
  // A replacement allocates nothing; a new item is there or it is not.
  return old != nullptr || lh_retrieve(lh, item) == item;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_TABLE_INSERT_H
