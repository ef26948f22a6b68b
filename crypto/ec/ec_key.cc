// Elliptic-curve keys as the envelope and the key codecs call them.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ec.h>

#include "internal/unbuilt.h"

/* see morvane/ec.h */
EC_KEY* EC_KEY_new(void) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_KEY_NEW);
  return nullptr;
}

/* see morvane/ec.h */
void EC_KEY_free(EC_KEY* key) {
  if (key != nullptr) MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
int EC_KEY_up_ref(EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
const EC_GROUP* EC_KEY_get0_group(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
const EC_POINT* EC_KEY_get0_public_key(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
const BIGNUM* EC_KEY_get0_private_key(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
int EC_KEY_set_group(EC_KEY* /*key*/, const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
int EC_KEY_set_public_key(EC_KEY* /*key*/, const EC_POINT* /*pub*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
unsigned int EC_KEY_get_enc_flags(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
void EC_KEY_set_enc_flags(EC_KEY* /*key*/, unsigned int /*flags*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
point_conversion_form_t EC_KEY_get_conv_form(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return point_conversion_form_t{};
}
