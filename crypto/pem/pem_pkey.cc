// Reading private keys in PEM armour.  The armour reader and the key decoders
// are not built yet: the reader answers as an unbuilt operation.

#include <morvane/err.h>
#include <morvane/pem.h>

#include "internal/unbuilt.h"

/* see morvane/pem.h */
EVP_PKEY* PEM_read_bio_PrivateKey(BIO*, EVP_PKEY**, pem_password_cb*, void*) {
  MORVANE_UNBUILT(ERR_LIB_PEM, PEM_F_PEM_READ_BIO_PRIVATEKEY);
  return nullptr;
}
