// The constant-time engine (ecp_ct_engine.h) for fields of four limbs (P-256's own reduction among them).

#include "ec/ecp_ct_engine.h"

namespace morvane::ec::ctengine {

MORVANE_EC_CT_INSTANTIATE(, 4);

}  // namespace morvane::ec::ctengine
