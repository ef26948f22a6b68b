// The "alg_section" configuration module: algorithm settings.  This build
// has no FIPS mode, so "fips_mode" may only be false.

#include <string.h>

#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

namespace {

int alg_module_init(CONF_IMODULE* md, const CONF* cnf) {
  STACK* values = NCONF_get_section(cnf, CONF_imodule_get_value(md));
  if (values == nullptr) {
    EVPerr(EVP_F_ALG_MODULE_INIT, EVP_R_ERROR_LOADING_SECTION);
    return 0;
  }
  for (int i = 0; i < sk_num(values); i++) {
    auto* v = reinterpret_cast<CONF_VALUE*>(sk_value(values, i));
    if (strcmp(v->name, "fips_mode") == 0) {
      int on = 0;
      if (!X509V3_get_value_bool(v, &on)) {
        EVPerr(EVP_F_ALG_MODULE_INIT, EVP_R_INVALID_FIPS_MODE);
        return 0;
      }
      if (on > 0) {
        EVPerr(EVP_F_ALG_MODULE_INIT, EVP_R_FIPS_MODE_NOT_SUPPORTED);
        return 0;
      }
    } else {
      // An unknown setting is reported and passed over.
      EVPerr(EVP_F_ALG_MODULE_INIT, EVP_R_UNKNOWN_OPTION);
      ERR_add_error_data(4, "name=", v->name, ", value=", v->value);
    }
  }
  return 1;
}

}  // namespace

/* see morvane/evp.h */
int EVP_add_alg_module(void) {
  return CONF_module_add("alg_section", alg_module_init, nullptr);
}
