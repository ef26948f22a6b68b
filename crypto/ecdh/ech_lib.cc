// The ECDH method as the software engine hands it out.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ecdh.h>

#include "internal/unbuilt.h"

/* see morvane/ecdh.h */
const ECDH_METHOD* ECDH_Morvane(void) {
  MORVANE_UNBUILT(ERR_LIB_ECDH, 0);
  return nullptr;
}
