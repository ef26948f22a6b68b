// Engine records: construction, structural references, the plain fields, and
// the registry of cleanup callbacks that ENGINE_cleanup runs.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rand.h>
#include <morvane/stack.h>

#include "engine/internal.h"

namespace morvane::engine {

int free_util(ENGINE* e, bool locked) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_FREE_UTIL, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  int left = locked ? --e->struct_ref
                    : CRYPTO_add_lock(&e->struct_ref, -1, CRYPTO_LOCK_ENGINE, __FILE__, __LINE__);
  if (left > 0) return 1;
  if (e->destroy != nullptr) e->destroy(e);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_ENGINE, e, &e->ex_data);
  MORVANE_free(e);
  return 1;
}

}  // namespace morvane::engine

/* see morvane/engine.h */
void engine_set_all_null(ENGINE* e) {
  e->id = nullptr;
  e->name = nullptr;
  e->rsa_meth = nullptr;
  e->dsa_meth = nullptr;
  e->dh_meth = nullptr;
  e->ecdh_meth = nullptr;
  e->ecdsa_meth = nullptr;
  e->rand_meth = nullptr;
  e->store_meth = nullptr;
  e->ciphers = nullptr;
  e->digests = nullptr;
  e->destroy = nullptr;
  e->init = nullptr;
  e->finish = nullptr;
  e->ctrl = nullptr;
  e->load_privkey = nullptr;
  e->load_pubkey = nullptr;
  e->load_ssl_client_cert = nullptr;
  e->cmd_defns = nullptr;
  e->flags = 0;
}

namespace {

// One registered callback (a function pointer does not fit a stack's item).
struct CleanupItem {
  ENGINE_CLEANUP_CB* cb;
};

// Registered callbacks, front to back; created on first registration.
constinit STACK* cleanup_stack = nullptr;

// A new record for cb, or null (nothing to register): ENGINE_cleanup calls
// every registered callback without looking, so a null one is refused.
CleanupItem* cleanup_item(ENGINE_CLEANUP_CB* cb) {
  if (cb == nullptr) {
    ENGINEerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (cleanup_stack == nullptr && (cleanup_stack = sk_new_null()) == nullptr) return nullptr;
  auto* item = static_cast<CleanupItem*>(MORVANE_malloc(sizeof(CleanupItem)));
  if (item != nullptr) item->cb = cb;
  return item;
}

}  // namespace

/* see morvane/engine.h */
void engine_cleanup_add_first(ENGINE_CLEANUP_CB* cb) {
  if (CleanupItem* item = cleanup_item(cb)) {
    if (!sk_insert(cleanup_stack, reinterpret_cast<char*>(item), 0)) MORVANE_free(item);
  }
}

/* see morvane/engine.h */
void engine_cleanup_add_last(ENGINE_CLEANUP_CB* cb) {
  if (CleanupItem* item = cleanup_item(cb)) {
    if (!sk_push(cleanup_stack, reinterpret_cast<char*>(item))) MORVANE_free(item);
  }
}

using namespace morvane::engine;

/* see morvane/engine.h */
ENGINE* ENGINE_new(void) {
  auto* e = static_cast<ENGINE*>(MORVANE_malloc(sizeof(ENGINE)));
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(e, 0, sizeof(*e));
  e->struct_ref = 1;
  CRYPTO_new_ex_data(CRYPTO_EX_INDEX_ENGINE, e, &e->ex_data);
  return e;
}

/* see morvane/engine.h */
int ENGINE_free(ENGINE* e) {
  return free_util(e, false);
}

/* see morvane/engine.h */
int ENGINE_up_ref(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_UP_REF, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  CRYPTO_add_lock(&e->struct_ref, 1, CRYPTO_LOCK_ENGINE, __FILE__, __LINE__);
  return 1;
}

/* see morvane/engine.h */
int ENGINE_set_id(ENGINE* e, const char* id) {
  if (e == nullptr || id == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_SET_ID, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  e->id = id;
  return 1;
}

/* see morvane/engine.h */
int ENGINE_set_name(ENGINE* e, const char* name) {
  if (e == nullptr || name == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_SET_NAME, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  e->name = name;
  return 1;
}

// The plain fields: a setter that stores and gives 1, a getter that reads;
// for a null engine the setter gives 0 and the getter 0 (or null).
#define MORVANE_ENGINE_FIELD(setter, getter, type, field) \
  int setter(ENGINE* e, type value) {                     \
    if (e == nullptr) return 0;                           \
    e->field = value;                                     \
    return 1;                                             \
  }                                                       \
  type getter(const ENGINE* e) {                          \
    return e != nullptr ? e->field : static_cast<type>(0); \
  }

/* see morvane/engine.h */
MORVANE_ENGINE_FIELD(ENGINE_set_destroy_function, ENGINE_get_destroy_function,
                     ENGINE_GEN_INT_FUNC_PTR, destroy)
MORVANE_ENGINE_FIELD(ENGINE_set_init_function, ENGINE_get_init_function, ENGINE_GEN_INT_FUNC_PTR,
                     init)
MORVANE_ENGINE_FIELD(ENGINE_set_finish_function, ENGINE_get_finish_function,
                     ENGINE_GEN_INT_FUNC_PTR, finish)

MORVANE_ENGINE_FIELD(ENGINE_set_ctrl_function, ENGINE_get_ctrl_function, ENGINE_CTRL_FUNC_PTR, ctrl)
MORVANE_ENGINE_FIELD(ENGINE_set_flags, ENGINE_get_flags, int, flags)
MORVANE_ENGINE_FIELD(ENGINE_set_cmd_defns, ENGINE_get_cmd_defns, const ENGINE_CMD_DEFN*, cmd_defns)
MORVANE_ENGINE_FIELD(ENGINE_set_load_privkey_function, ENGINE_get_load_privkey_function,
                     ENGINE_LOAD_KEY_PTR, load_privkey)
MORVANE_ENGINE_FIELD(ENGINE_set_load_pubkey_function, ENGINE_get_load_pubkey_function,
                     ENGINE_LOAD_KEY_PTR, load_pubkey)
MORVANE_ENGINE_FIELD(ENGINE_set_load_ssl_client_cert_function, ENGINE_get_ssl_client_cert_function,
                     ENGINE_SSL_CLIENT_CERT_PTR, load_ssl_client_cert)

/* see morvane/engine.h */
int ENGINE_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                            CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_ENGINE, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/engine.h */
int ENGINE_set_ex_data(ENGINE* e, int idx, void* arg) {
  if (e == nullptr) return 0;
  return CRYPTO_set_ex_data(&e->ex_data, idx, arg);
}

/* see morvane/engine.h */
void* ENGINE_get_ex_data(const ENGINE* e, int idx) {
  if (e == nullptr) return nullptr;
  return CRYPTO_get_ex_data(&e->ex_data, idx);
}

namespace {
// A private object whose address identifies this copy of the library.
constinit int static_state = 0;
}  // namespace

/* see morvane/engine.h */
void* ENGINE_get_static_state(void) {
  return &static_state;
}

/* see morvane/engine.h */
const char* ENGINE_get_id(const ENGINE* e) {
  return e != nullptr ? e->id : nullptr;
}

/* see morvane/engine.h */
const char* ENGINE_get_name(const ENGINE* e) {
  return e != nullptr ? e->name : nullptr;
}

/* see morvane/engine.h */
void ENGINE_cleanup(void) {
  if (cleanup_stack != nullptr) {
    // The callbacks take lock 30 themselves.
    for (int i = 0; i < sk_num(cleanup_stack); i++) {
      reinterpret_cast<CleanupItem*>(sk_value(cleanup_stack, i))->cb();
    }
    sk_pop_free(cleanup_stack, CRYPTO_free);
    cleanup_stack = nullptr;
  }
  RAND_set_rand_method(nullptr);
}
