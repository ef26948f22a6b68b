// The "oid_section" configuration module: one object identifier per line of
// the section it names.
//
// Implementation notes: creating objects belongs to the object database,
// which cannot add objects yet; until it can, every line fails with "adding
// object", so no object is ever created and the finisher has nothing to
// remove.

#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/stack.h>

namespace {

int oid_module_init(CONF_IMODULE* md, const CONF* cnf) {
  STACK* values = NCONF_get_section(cnf, CONF_imodule_get_value(md));
  if (values == nullptr) {
    ASN1err(ASN1_F_OID_MODULE_INIT, ASN1_R_ERROR_LOADING_SECTION);
    return 0;
  }
  if (sk_num(values) > 0) {
    ASN1err(ASN1_F_OID_MODULE_INIT, ASN1_R_ADDING_OBJECT);
    return 0;
  }
  return 1;
}

void oid_module_finish(CONF_IMODULE* /*md*/) {}

}  // namespace

/* see morvane/asn1.h */
int ASN1_add_oid_module(void) {
  return CONF_module_add("oid_section", oid_module_init, oid_module_finish);
}
