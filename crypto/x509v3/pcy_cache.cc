// The policy data (RFC 5280, 6.1) that a certificate caches for chain
// verification.
//
// Implementation notes: the policy cache is not part of this build yet;
// nothing makes one, so a certificate's cache is always null and its release
// does nothing.

#include <morvane/err.h>
#include <morvane/x509v3.h>

#include "internal/unbuilt.h"

/* see morvane/x509v3.h */
void policy_cache_free(X509_POLICY_CACHE* cache) {
  if (cache != nullptr) MORVANE_UNBUILT(ERR_LIB_X509V3, 0);
}
