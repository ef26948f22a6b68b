// RSA keys, signatures and encryption as the envelope and the key codecs call them.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/rsa.h>

#include "internal/unbuilt.h"

/* see morvane/rsa.h */
void RSA_free(RSA* r) {
  if (r != nullptr) MORVANE_UNBUILT(ERR_LIB_RSA, 0);
}

/* see morvane/rsa.h */
int RSA_up_ref(RSA* /*r*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return 0;
}

/* see morvane/rsa.h */
int RSA_size(const RSA* /*r*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return 0;
}

/* see morvane/rsa.h */
int RSA_sign(int /*type*/, const unsigned char* /*m*/, unsigned int /*m_length*/,
             unsigned char* /*sigret*/, unsigned int* /*siglen*/, RSA* /*rsa*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, RSA_F_RSA_SIGN);
  return 0;
}

/* see morvane/rsa.h */
int RSA_verify(int /*type*/, const unsigned char* /*m*/, unsigned int /*m_length*/,
               const unsigned char* /*sigbuf*/, unsigned int /*siglen*/, RSA* /*rsa*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, RSA_F_RSA_VERIFY);
  return 0;
}

/* see morvane/rsa.h */
int RSA_public_encrypt(int /*flen*/, const unsigned char* /*from*/, unsigned char* /*to*/,
                       RSA* /*rsa*/, int /*padding*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return -1;
}

/* see morvane/rsa.h */
int RSA_private_decrypt(int /*flen*/, const unsigned char* /*from*/, unsigned char* /*to*/,
                        RSA* /*rsa*/, int /*padding*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return -1;
}

/* see morvane/rsa.h */
const RSA_METHOD* RSA_get_default_method(void) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return nullptr;
}

/* see morvane/rsa.h */
RSA* d2i_RSAPrivateKey(RSA** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return nullptr;
}

/* see morvane/rsa.h */
int i2d_RSAPrivateKey(const RSA* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return 0;
}

/* see morvane/rsa.h */
RSA* d2i_RSAPublicKey(RSA** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return nullptr;
}

/* see morvane/rsa.h */
int i2d_RSAPublicKey(const RSA* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, 0);
  return 0;
}
