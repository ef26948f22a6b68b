// The named curves.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ec.h>

#include "internal/unbuilt.h"

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_new_by_curve_name(int /*nid*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_NEW_BY_CURVE_NAME);
  return nullptr;
}
