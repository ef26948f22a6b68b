// DSA keys and signatures as the envelope and the key codecs call them.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/dsa.h>

#include "internal/unbuilt.h"

/* see morvane/dsa.h */
DSA* DSA_new(void) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return nullptr;
}

/* see morvane/dsa.h */
void DSA_free(DSA* r) {
  if (r != nullptr) MORVANE_UNBUILT(ERR_LIB_DSA, 0);
}

/* see morvane/dsa.h */
int DSA_up_ref(DSA* /*r*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return 0;
}

/* see morvane/dsa.h */
int DSA_size(const DSA* /*r*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return 0;
}

/* see morvane/dsa.h */
int DSA_sign(int /*type*/, const unsigned char* /*dgst*/, int /*dlen*/, unsigned char* /*sig*/,
             unsigned int* /*siglen*/, DSA* /*dsa*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, DSA_F_DSA_SIGN);
  return 0;
}

/* see morvane/dsa.h */
int DSA_verify(int /*type*/, const unsigned char* /*dgst*/, int /*dgst_len*/,
               const unsigned char* /*sigbuf*/, int /*siglen*/, DSA* /*dsa*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, DSA_F_DSA_VERIFY);
  return -1;
}

/* see morvane/dsa.h */
const DSA_METHOD* DSA_get_default_method(void) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return nullptr;
}

/* see morvane/dsa.h */
DSA* d2i_DSAPrivateKey(DSA** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return nullptr;
}

/* see morvane/dsa.h */
int i2d_DSAPrivateKey(const DSA* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return 0;
}

/* see morvane/dsa.h */
DSA* d2i_DSAPublicKey(DSA** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return nullptr;
}

/* see morvane/dsa.h */
int i2d_DSAPublicKey(const DSA* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return 0;
}

/* see morvane/dsa.h */
DSA* d2i_DSAparams(DSA** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return nullptr;
}

/* see morvane/dsa.h */
int i2d_DSAparams(const DSA* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_DSA, 0);
  return 0;
}
