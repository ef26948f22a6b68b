// The library's built-in configuration modules.

#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/engine.h>
#include <morvane/evp.h>

/* see morvane/conf.h */
void MORVANE_load_builtin_modules(void) {
  ASN1_add_oid_module();
  ENGINE_add_conf_module();
  EVP_add_alg_module();
}
