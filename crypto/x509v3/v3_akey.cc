// The authority key identifier (RFC 5280, 4.2.1.1) as a certificate caches
// it.
//
// Implementation notes: the identifier's structure is not part of this build
// yet; nothing makes one, so a certificate's cached identifier is always
// null and its release does nothing.

#include <morvane/err.h>
#include <morvane/x509v3.h>

#include "internal/unbuilt.h"

/* see morvane/x509v3.h */
void AUTHORITY_KEYID_free(AUTHORITY_KEYID* a) {
  if (a != nullptr) MORVANE_UNBUILT(ERR_LIB_X509V3, 0);
}
