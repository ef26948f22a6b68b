// ECDSA signatures as the envelope calls them.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ecdsa.h>

#include "internal/unbuilt.h"

/* see morvane/ecdsa.h */
int ECDSA_sign(int /*type*/, const unsigned char* /*dgst*/, int /*dgstlen*/, unsigned char* /*sig*/,
               unsigned int* /*siglen*/, EC_KEY* /*eckey*/) {
  MORVANE_UNBUILT(ERR_LIB_ECDSA, 0);
  return 0;
}

/* see morvane/ecdsa.h */
int ECDSA_verify(int /*type*/, const unsigned char* /*dgst*/, int /*dgstlen*/,
                 const unsigned char* /*sig*/, int /*siglen*/, EC_KEY* /*eckey*/) {
  MORVANE_UNBUILT(ERR_LIB_ECDSA, 0);
  return -1;
}

/* see morvane/ecdsa.h */
int ECDSA_size(const EC_KEY* /*eckey*/) {
  MORVANE_UNBUILT(ERR_LIB_ECDSA, 0);
  return 0;
}

/* see morvane/ecdsa.h */
const ECDSA_METHOD* ECDSA_Morvane(void) {
  MORVANE_UNBUILT(ERR_LIB_ECDSA, 0);
  return nullptr;
}
