// The iteration count that password-based parameters read from an encoding
// state (PBES1, PBES2, the PKCS#12 ciphers and a PFX's MAC data), bounded
// by PKCS5_MAX_FILE_ITER before anything is derived from it.
#ifndef MORVANE_INTERNAL_ITER_COUNT_H
#define MORVANE_INTERNAL_ITER_COUNT_H

#include <morvane/asn1.h>
#include <morvane/evp.h>

namespace morvane::internal {

// The count of `a`: 1 when it is absent, zero or negative (as such counts
// have always been run), -1 when it is above PKCS5_MAX_FILE_ITER, however
// many octets it has.
inline long stated_iterations(const ASN1_INTEGER* a) noexcept {
  if (a == nullptr || a->type != ASN1_UT_INTEGER) return 1;
  long v = 0;
  for (int i = 0; i < a->length; i++) {
    v = v * 256 + a->data[i];
    if (v > PKCS5_MAX_FILE_ITER) return -1;
  }
  return v < 1 ? 1 : v;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ITER_COUNT_H
