// The PKCS#12 password-based ciphers' registration.

#include <morvane/pkcs12.h>

/* see morvane/pkcs12.h */
void PKCS12_PBE_add(void) {
  // The password-based-encryption table that the six rows join is not built
  // yet; until it is, there is nothing to add them to.
}
