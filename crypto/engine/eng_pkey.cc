// Loading keys through an initialised engine.

#include <morvane/engine.h>
#include <morvane/err.h>

#include "engine/internal.h"
#include "internal/lock.h"

namespace {

// The checks every loader call makes: a non-null, initialised engine with
// the loader `set`.  True when the loader may be called.
bool may_load(ENGINE* e, bool (*set)(const ENGINE*), int func) {
  if (e == nullptr) {
    ERR_put_error(ERR_LIB_ENGINE, func, ERR_R_PASSED_NULL_PARAMETER, __FILE__, __LINE__);
    return false;
  }
  int funct_ref;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    funct_ref = e->funct_ref;
  }
  int reason = funct_ref == 0 ? ENGINE_R_NOT_INITIALISED : ENGINE_R_NO_LOAD_FUNCTION;
  if (funct_ref != 0 && set(e)) return true;
  ERR_put_error(ERR_LIB_ENGINE, func, reason, __FILE__, __LINE__);
  return false;
}

EVP_PKEY* load_key(ENGINE* e, bool pub, const char* key_id, UI_METHOD* ui, void* data) {
  int func = pub ? ENGINE_F_ENGINE_LOAD_PUBLIC_KEY : ENGINE_F_ENGINE_LOAD_PRIVATE_KEY;
  auto set = pub ? +[](const ENGINE* x) { return x->load_pubkey != nullptr; }
                 : +[](const ENGINE* x) { return x->load_privkey != nullptr; };
  if (!may_load(e, set, func)) return nullptr;
  EVP_PKEY* key = (pub ? e->load_pubkey : e->load_privkey)(e, key_id, ui, data);
  if (key == nullptr) {
    ERR_put_error(ERR_LIB_ENGINE, func,
                  pub ? ENGINE_R_FAILED_LOADING_PUBLIC_KEY : ENGINE_R_FAILED_LOADING_PRIVATE_KEY,
                  __FILE__, __LINE__);
  }
  return key;
}

}  // namespace

/* see morvane/engine.h */
EVP_PKEY* ENGINE_load_private_key(ENGINE* e, const char* key_id, UI_METHOD* ui_method,
                                  void* callback_data) {
  return load_key(e, false, key_id, ui_method, callback_data);
}

/* see morvane/engine.h */
EVP_PKEY* ENGINE_load_public_key(ENGINE* e, const char* key_id, UI_METHOD* ui_method,
                                 void* callback_data) {
  return load_key(e, true, key_id, ui_method, callback_data);
}

/* see morvane/engine.h */
int ENGINE_load_ssl_client_cert(ENGINE* e, struct ssl_st* s, STACK* ca_dn, X509** pcert,
                                EVP_PKEY** ppkey, STACK** pother, UI_METHOD* ui_method,
                                void* callback_data) {
  auto set = +[](const ENGINE* x) { return x->load_ssl_client_cert != nullptr; };
  if (!may_load(e, set, ENGINE_F_ENGINE_LOAD_SSL_CLIENT_CERT)) return 0;
  return e->load_ssl_client_cert(e, s, ca_dn, pcert, ppkey, pother, ui_method, callback_data);
}
