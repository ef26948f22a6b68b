// The engine record, its two reference counts, the algorithm tables and the
// cleanup registry: the shapes the engine component's files share.
//
// Lock 30 (CRYPTO_LOCK_ENGINE) guards the engine list, both counts of every
// engine and every table.  Functions named unlocked_* expect it held.
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

// ---- records and references (lock 30 held by the caller) ----

// Takes a functional reference, running `init` when there was none: 1 (or
// what `init` returned), or 0 with nothing counted when `init` refuses.
int unlocked_init(ENGINE* e);
// Releases a functional reference, running `finish` when it was the last
// (with lock 30 released around it when `unlock_for_handlers`); a refusing
// `finish` keeps the structural reference and gives 0.
int unlocked_finish(ENGINE* e, bool unlock_for_handlers);
// Drops one structural reference; destroys the record at 0.  With `locked`
// the count is changed directly (lock 30 held), else through CRYPTO_add_lock.
int free_util(ENGINE* e, bool locked);

// Clears every method, callback, text and command table and the flags,
// keeping the counts, the extra data and the list links.
void set_all_null(ENGINE* e);

// ---- the cleanup registry ----
using CleanupFn = void (*)();
void cleanup_add_first(CleanupFn cb);
void cleanup_add_last(CleanupFn cb);

// ---- list ----
void list_cleanup();

// ---- algorithm tables ----
struct Table;  // opaque: a hash table of piles keyed by NID

int table_register(Table** table, CleanupFn cleanup, ENGINE* e, const int* nids, int num_nids,
                   bool setdefault);
void table_unregister(Table** table, ENGINE* e);
void table_cleanup(Table** table);
ENGINE* table_select(Table** table, int nid);

}  // namespace morvane::engine

#endif  // MORVANE_CRYPTO_ENGINE_INTERNAL_H
