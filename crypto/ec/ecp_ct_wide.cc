// The constant-time engine (ecp_ct_engine.h) for fields of 7, 8, 10 and 11
// limbs.

#include "ec/ecp_ct_engine.h"

namespace morvane::ec::ctengine {

MORVANE_EC_CT_INSTANTIATE(, 7);
MORVANE_EC_CT_INSTANTIATE(, 8);
MORVANE_EC_CT_INSTANTIATE(, 10);
MORVANE_EC_CT_INSTANTIATE(, 11);

}  // namespace morvane::ec::ctengine
