// The blinding of the private operations.
//
// Implementation notes: the big-number blinding record is not part of this
// build yet; until it is, no blinding is made and the private operations run
// unblinded, as with RSA_FLAG_NO_BLINDING.

#include <morvane/bn.h>
#include <morvane/rsa.h>

#include "internal/unbuilt.h"
#include "rsa/internal.h"

namespace morvane::rsa {

bool Blinding::find(RSA* rsa, BN_CTX* /*ctx*/) {
  rsa_ = rsa;
  local_ = true;
  return true;
}

bool Blinding::convert(BIGNUM* /*f*/, BIGNUM* /*br*/, BN_CTX* /*ctx*/) {
  return true;
}

bool Blinding::invert(BN_ULONG* /*out*/, const BIGNUM* /*br*/, BN_CTX* /*ctx*/) {
  return true;
}

void free_blinding(BN_BLINDING* /*b*/) {}

}  // namespace morvane::rsa

/* see morvane/rsa.h */
BN_BLINDING* RSA_setup_blinding(RSA* /*rsa*/, BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_RSA, RSA_F_RSA_SETUP_BLINDING);
  return nullptr;
}
