// The engine record, its two reference counts, the algorithm tables and the
// cleanup registry: the shapes the engine component's files share.
//
// Lock 30 (CRYPTO_LOCK_ENGINE) guards the engine list, both counts of every
// engine and every table.  Functions named *unlocked_* expect it held.
#ifndef MORVANE_CRYPTO_ENGINE_INTERNAL_H
#define MORVANE_CRYPTO_ENGINE_INTERNAL_H

#include <morvane/crypto.h>
#include <morvane/engine.h>

struct engine_st {
  const char* id;
  const char* name;
  const RSA_METHOD* rsa_meth;
  const DSA_METHOD* dsa_meth;
  const DH_METHOD* dh_meth;
  const ECDH_METHOD* ecdh_meth;
  const ECDSA_METHOD* ecdsa_meth;
  const RAND_METHOD* rand_meth;
  const STORE_METHOD* store_meth;
  ENGINE_CIPHERS_PTR ciphers;
  ENGINE_DIGESTS_PTR digests;
  ENGINE_GEN_INT_FUNC_PTR destroy;
  ENGINE_GEN_INT_FUNC_PTR init;
  ENGINE_GEN_INT_FUNC_PTR finish;
  ENGINE_CTRL_FUNC_PTR ctrl;
  ENGINE_LOAD_KEY_PTR load_privkey;
  ENGINE_LOAD_KEY_PTR load_pubkey;
  ENGINE_SSL_CLIENT_CERT_PTR load_ssl_client_cert;
  const ENGINE_CMD_DEFN* cmd_defns;
  int flags;
  int struct_ref;  // lock 30
  int funct_ref;   // lock 30
  CRYPTO_EX_DATA ex_data;
  ENGINE* prev;
  ENGINE* next;
};

namespace morvane::engine {

// Drops one structural reference; destroys the record at 0.  With `locked`
// the count is changed directly (lock 30 held), else through CRYPTO_add_lock.
// The functions the files share besides this one are exported (engine.h:
// engine_unlocked_init, engine_table_register, ...).
int free_util(ENGINE* e, bool locked);

// Empties the engine list (the list's cleanup callback).
void list_cleanup();

}  // namespace morvane::engine

#endif  // MORVANE_CRYPTO_ENGINE_INTERNAL_H
