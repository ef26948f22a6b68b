// Diffie-Hellman keys as the key container calls them.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/dh.h>

#include "internal/unbuilt.h"

/* see morvane/dh.h */
void DH_free(DH* dh) {
  if (dh != nullptr) MORVANE_UNBUILT(ERR_LIB_DH, 0);
}

/* see morvane/dh.h */
int DH_up_ref(DH* /*dh*/) {
  MORVANE_UNBUILT(ERR_LIB_DH, 0);
  return 0;
}

/* see morvane/dh.h */
const DH_METHOD* DH_get_default_method(void) {
  MORVANE_UNBUILT(ERR_LIB_DH, 0);
  return nullptr;
}
