// The constant-time engine (ecp_ct_engine.h) for fields of nine limbs (P-521's digits among them).

#include "ec/ecp_ct_engine.h"

namespace morvane::ec::ctengine {

MORVANE_EC_CT_INSTANTIATE(, 9);

}  // namespace morvane::ec::ctengine
