// The curve method over GF(2^m).
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ec.h>

#include "internal/unbuilt.h"

/* see morvane/ec.h */
const EC_METHOD* EC_GF2m_simple_method(void) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}
