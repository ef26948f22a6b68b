// The constant-time engine (ecp_ct_engine.h) for fields of six limbs (P-384's field and the MULX/ADX Montgomery kernel among them).

#include "ec/ecp_ct_engine.h"

namespace morvane::ec::ctengine {

MORVANE_EC_CT_INSTANTIATE(, 6);

}  // namespace morvane::ec::ctengine
