// The encodings of elliptic-curve parameters and keys, and the basis of a
// characteristic-two group.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ec.h>

#include "internal/unbuilt.h"

/* see morvane/ec.h */
EC_KEY* d2i_ECParameters(EC_KEY** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_D2I_ECPARAMETERS);
  return nullptr;
}

/* see morvane/ec.h */
int i2d_ECParameters(EC_KEY* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_I2D_ECPARAMETERS);
  return 0;
}

/* see morvane/ec.h */
EC_KEY* d2i_ECPrivateKey(EC_KEY** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_D2I_ECPRIVATEKEY);
  return nullptr;
}

/* see morvane/ec.h */
int i2d_ECPrivateKey(EC_KEY* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_I2D_ECPRIVATEKEY);
  return 0;
}

/* see morvane/ec.h */
EC_KEY* o2i_ECPublicKey(EC_KEY** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_O2I_ECPUBLICKEY);
  return nullptr;
}

/* see morvane/ec.h */
int i2o_ECPublicKey(EC_KEY* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_I2O_ECPUBLICKEY);
  return 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_basis_type(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}
