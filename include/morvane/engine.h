/* Morvane: engines.
 *
 * Engines: named bundles of method tables that can replace the built-in
 * implementations at run time.  Failing calls queue errors of library 38
 * (ERR_LIB_ENGINE).
 *
 * Null arguments: a null engine is refused by the list, reference,
 * initialisation, control and key-loading functions with "passed a null
 * parameter" (0 or null), as each says; the plain setters give 0 and the
 * getters 0 or null for it, the register and default setters 0.  ENGINE_set_id
 * and ENGINE_set_name refuse a null text. */
#ifndef MORVANE_ENGINE_H
#define MORVANE_ENGINE_H

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* Engine flags (ENGINE_set_flags). */
#define ENGINE_FLAGS_MANUAL_CMD_CTRL 0x0002 /* ctrl answers the commands 11..18 itself */
#define ENGINE_FLAGS_BY_ID_COPY 0x0004      /* ENGINE_by_id hands out a fresh copy */

/* Command flags of ENGINE_CMD_DEFN. */
#define ENGINE_CMD_FLAG_NUMERIC 0x0001
#define ENGINE_CMD_FLAG_STRING 0x0002
#define ENGINE_CMD_FLAG_NO_INPUT 0x0004
#define ENGINE_CMD_FLAG_INTERNAL 0x0008

/* Generic control commands (ENGINE_ctrl). */
#define ENGINE_CTRL_HAS_CTRL_FUNCTION 10
#define ENGINE_CTRL_GET_FIRST_CMD_TYPE 11
#define ENGINE_CTRL_GET_NEXT_CMD_TYPE 12
#define ENGINE_CTRL_GET_CMD_FROM_NAME 13
#define ENGINE_CTRL_GET_NAME_LEN_FROM_CMD 14
#define ENGINE_CTRL_GET_NAME_FROM_CMD 15
#define ENGINE_CTRL_GET_DESC_LEN_FROM_CMD 16
#define ENGINE_CTRL_GET_DESC_FROM_CMD 17
#define ENGINE_CTRL_GET_CMD_FLAGS 18
#define ENGINE_CMD_BASE 200

/* Class bits of ENGINE_set_default. */
#define ENGINE_METHOD_RSA 0x0001
#define ENGINE_METHOD_DSA 0x0002
#define ENGINE_METHOD_DH 0x0004
#define ENGINE_METHOD_RAND 0x0008
#define ENGINE_METHOD_ECDH 0x0010
#define ENGINE_METHOD_ECDSA 0x0020
#define ENGINE_METHOD_CIPHERS 0x0040
#define ENGINE_METHOD_DIGESTS 0x0080
#define ENGINE_METHOD_STORE 0x0100
#define ENGINE_METHOD_ALL 0xFFFF
#define ENGINE_METHOD_NONE 0x0000

/* Table flag: selection initialises no engine that holds no functional
 * reference yet. */
#define ENGINE_TABLE_FLAG_NOINIT 0x0001

/* One control command an engine understands.  An array of them is sorted by
 * ascending cmd_num and ends with an entry whose number is 0 or whose name is
 * null. */
typedef struct ENGINE_CMD_DEFN_st {
  unsigned int cmd_num;
  const char *cmd_name;
  const char *cmd_desc; /* may be null */
  unsigned int cmd_flags;
} ENGINE_CMD_DEFN;

struct ssl_st;
typedef int (*ENGINE_GEN_INT_FUNC_PTR)(ENGINE *);
typedef int (*ENGINE_CTRL_FUNC_PTR)(ENGINE *, int, long, void *, void (*f)(void));
typedef EVP_PKEY *(*ENGINE_LOAD_KEY_PTR)(ENGINE *, const char *, UI_METHOD *ui_method,
                                          void *callback_data);
typedef int (*ENGINE_SSL_CLIENT_CERT_PTR)(ENGINE *, struct ssl_st *ssl, STACK *ca_dn,
                                          X509 **pcert, EVP_PKEY **pkey, STACK **pother,
                                          UI_METHOD *ui_method, void *callback_data);
/* With a null cipher: stores the engine's NID list in *nids and returns its
 * count.  Otherwise stores the description of `nid` (or null) in *cipher and
 * returns 1 when the engine knows nid, else 0. */
typedef int (*ENGINE_CIPHERS_PTR)(ENGINE *, const EVP_CIPHER **cipher, const int **nids, int nid);
/* The same for digests. */
typedef int (*ENGINE_DIGESTS_PTR)(ENGINE *, const EVP_MD **digest, const int **nids, int nid);

/* ---- Records ----
 * An engine has two counts: structural references keep the record in memory
 * (ENGINE_new gives the first, ENGINE_free releases one, destroying the record
 * at 0), functional references say that it is initialised (ENGINE_init,
 * ENGINE_finish; each includes a structural one).  Text pointers given to
 * the setters are not copied.  Setters return 1. */

/* A zeroed engine with one structural reference, or null with "malloc
 * failure". */
MORVANE_EXPORT ENGINE *ENGINE_new(void);
/* Releases one structural reference; 1, or 0 for null. */
MORVANE_EXPORT int ENGINE_free(ENGINE *e);
/* Takes one more structural reference; 1, or 0 for null. */
MORVANE_EXPORT int ENGINE_up_ref(ENGINE *e);
/* Stores a non-null text; 0 with "passed a null parameter" for null. */
MORVANE_EXPORT int ENGINE_set_id(ENGINE *e, const char *id);
MORVANE_EXPORT int ENGINE_set_name(ENGINE *e, const char *name);
MORVANE_EXPORT int ENGINE_set_destroy_function(ENGINE *e, ENGINE_GEN_INT_FUNC_PTR destroy_f);
MORVANE_EXPORT int ENGINE_set_init_function(ENGINE *e, ENGINE_GEN_INT_FUNC_PTR init_f);
MORVANE_EXPORT int ENGINE_set_finish_function(ENGINE *e, ENGINE_GEN_INT_FUNC_PTR finish_f);
MORVANE_EXPORT int ENGINE_set_ctrl_function(ENGINE *e, ENGINE_CTRL_FUNC_PTR ctrl_f);
MORVANE_EXPORT int ENGINE_set_flags(ENGINE *e, int flags);
MORVANE_EXPORT int ENGINE_set_cmd_defns(ENGINE *e, const ENGINE_CMD_DEFN *defns);
MORVANE_EXPORT int ENGINE_set_load_privkey_function(ENGINE *e, ENGINE_LOAD_KEY_PTR loadpriv_f);
MORVANE_EXPORT int ENGINE_set_load_pubkey_function(ENGINE *e, ENGINE_LOAD_KEY_PTR loadpub_f);
MORVANE_EXPORT int ENGINE_set_load_ssl_client_cert_function(ENGINE *e,
                                                            ENGINE_SSL_CLIENT_CERT_PTR loadssl_f);
MORVANE_EXPORT const char *ENGINE_get_id(const ENGINE *e);
MORVANE_EXPORT const char *ENGINE_get_name(const ENGINE *e);
MORVANE_EXPORT ENGINE_GEN_INT_FUNC_PTR ENGINE_get_destroy_function(const ENGINE *e);
MORVANE_EXPORT ENGINE_GEN_INT_FUNC_PTR ENGINE_get_init_function(const ENGINE *e);
MORVANE_EXPORT ENGINE_GEN_INT_FUNC_PTR ENGINE_get_finish_function(const ENGINE *e);
MORVANE_EXPORT ENGINE_CTRL_FUNC_PTR ENGINE_get_ctrl_function(const ENGINE *e);
MORVANE_EXPORT int ENGINE_get_flags(const ENGINE *e);
MORVANE_EXPORT const ENGINE_CMD_DEFN *ENGINE_get_cmd_defns(const ENGINE *e);
MORVANE_EXPORT ENGINE_LOAD_KEY_PTR ENGINE_get_load_privkey_function(const ENGINE *e);
MORVANE_EXPORT ENGINE_LOAD_KEY_PTR ENGINE_get_load_pubkey_function(const ENGINE *e);
MORVANE_EXPORT ENGINE_SSL_CLIENT_CERT_PTR ENGINE_get_ssl_client_cert_function(const ENGINE *e);
/* Application data of ex_data class CRYPTO_EX_INDEX_ENGINE. */
MORVANE_EXPORT int ENGINE_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                           CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int ENGINE_set_ex_data(ENGINE *e, int idx, void *arg);
MORVANE_EXPORT void *ENGINE_get_ex_data(const ENGINE *e, int idx);
/* The address of a private object of this library (handed to engines that
 * are loaded from shared objects). */
MORVANE_EXPORT void *ENGINE_get_static_state(void);

/* ---- Control ----
 * Commands 10 to 18 are generic (ENGINE_CTRL_*): 10 says whether the engine
 * has a control function; 11 to 18 walk and describe its command table
 * (failures: -1).  Other numbers go to the engine's control function. */

/* 0 with "passed a null parameter" or "no reference"; -1 (11..18) or 0
 * (others) with "no control function" when `e` has none. */
MORVANE_EXPORT int ENGINE_ctrl(ENGINE *e, int cmd, long i, void *p, void (*f)(void));
/* 1 when command `cmd` takes a numeric, string or no argument; 0 for an
 * internal one, 0 with "invalid cmd number" for an unknown one. */
MORVANE_EXPORT int ENGINE_cmd_is_executable(ENGINE *e, int cmd);
/* Calls the command `cmd_name` with raw arguments: 1 when its result is
 * positive, else 0.  An unknown name gives 1 with `cmd_optional` (the error
 * queue left as it was), else 0 with "invalid cmd name". */
MORVANE_EXPORT int ENGINE_ctrl_cmd(ENGINE *e, const char *cmd_name, long i, void *p,
                                   void (*f)(void), int cmd_optional);
/* The same with a text argument, converted by the command's flags (a numeric
 * command takes a whole decimal number that fits a long, else "argument is
 * not a number"). */
MORVANE_EXPORT int ENGINE_ctrl_cmd_string(ENGINE *e, const char *cmd_name, const char *arg,
                                          int cmd_optional);

/* ---- Keys ----
 * On an initialised engine: the loader's key, or null with "passed a null
 * parameter", "not initialised", "no load function" or "failed loading
 * private/public key". */
MORVANE_EXPORT EVP_PKEY *ENGINE_load_private_key(ENGINE *e, const char *key_id,
                                                 UI_METHOD *ui_method, void *callback_data);
MORVANE_EXPORT EVP_PKEY *ENGINE_load_public_key(ENGINE *e, const char *key_id,
                                                UI_METHOD *ui_method, void *callback_data);
/* The same checks, then the loader's result unchanged. */
MORVANE_EXPORT int ENGINE_load_ssl_client_cert(ENGINE *e, struct ssl_st *s, STACK *ca_dn,
                                               X509 **pcert, EVP_PKEY **ppkey, STACK **pother,
                                               UI_METHOD *ui_method, void *callback_data);

/* Takes a functional reference on `e`, running its `init` when it had none;
 * 1 (or what `init` returned), 0 when `init` refuses (nothing counted), 0
 * with "passed a null parameter" for null.  `init` runs with lock 30 held. */
MORVANE_EXPORT int ENGINE_init(ENGINE *e);
/* Releases a functional reference, running `finish` (without lock 30) when it
 * was the last; 1, or 0 with "finish failed" when `finish` refuses (the
 * structural reference then stays), 0 with "passed a null parameter". */
MORVANE_EXPORT int ENGINE_finish(ENGINE *e);

/* ---- The engine list ----
 * Ids are unique in the list; the list holds one structural reference per
 * engine. */

/* Appends `e`; 1, or 0 with "passed a null parameter", "'id' or 'name'
 * missing", or "internal list error" (after "conflicting engine id" for an id
 * already listed). */
MORVANE_EXPORT int ENGINE_add(ENGINE *e);
/* Unlinks `e` and drops the list's reference; 1, or 0 with "internal list
 * error" when it is not listed. */
MORVANE_EXPORT int ENGINE_remove(ENGINE *e);

/* The first or last engine of the list with a new structural reference, or
 * null. */
MORVANE_EXPORT ENGINE *ENGINE_get_first(void);
MORVANE_EXPORT ENGINE *ENGINE_get_last(void);
/* The neighbour of `e` with a new structural reference (null at the end); the
 * reference on `e` is released, so a loop holds one reference at a time. */
MORVANE_EXPORT ENGINE *ENGINE_get_next(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_prev(ENGINE *e);
/* The listed engine `id` with a structural reference (a fresh copy outside
 * the list for an engine with ENGINE_FLAGS_BY_ID_COPY), else one the
 * "dynamic" engine loads; null with "no such engine" and data "id=" plus the
 * id. */
MORVANE_EXPORT ENGINE *ENGINE_by_id(const char *id);

/* ---- Algorithm tables ----
 * For each class one process-wide table lists the engines registered for
 * it.  ENGINE_register_X adds an engine that offers class X (one without it
 * registers nothing and gives 1), ENGINE_set_default_X also makes it the
 * cached choice (taking a functional reference), ENGINE_unregister_X removes
 * it, ENGINE_register_all_X registers every listed engine.
 * ENGINE_get_default_X is the engine to use, with a functional reference the
 * caller releases with ENGINE_finish, or null (nothing queued) for the
 * built-in implementation.  Engines are unregistered before their last
 * structural reference goes. */

/* Table flags (ENGINE_TABLE_FLAG_NOINIT), process-wide. */
MORVANE_EXPORT unsigned int ENGINE_get_table_flags(void);
MORVANE_EXPORT void ENGINE_set_table_flags(unsigned int flags);

MORVANE_EXPORT int ENGINE_register_RSA(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_RSA(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_RSA(void);
MORVANE_EXPORT int ENGINE_set_default_RSA(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_default_RSA(void);
MORVANE_EXPORT int ENGINE_set_RSA(ENGINE *e, const RSA_METHOD *meth);
MORVANE_EXPORT const RSA_METHOD *ENGINE_get_RSA(const ENGINE *e);
MORVANE_EXPORT int ENGINE_register_DSA(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_DSA(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_DSA(void);
MORVANE_EXPORT int ENGINE_set_default_DSA(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_default_DSA(void);
MORVANE_EXPORT int ENGINE_set_DSA(ENGINE *e, const DSA_METHOD *meth);
MORVANE_EXPORT const DSA_METHOD *ENGINE_get_DSA(const ENGINE *e);
MORVANE_EXPORT int ENGINE_register_DH(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_DH(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_DH(void);
MORVANE_EXPORT int ENGINE_set_default_DH(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_default_DH(void);
MORVANE_EXPORT int ENGINE_set_DH(ENGINE *e, const DH_METHOD *meth);
MORVANE_EXPORT const DH_METHOD *ENGINE_get_DH(const ENGINE *e);
MORVANE_EXPORT int ENGINE_register_ECDH(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_ECDH(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_ECDH(void);
MORVANE_EXPORT int ENGINE_set_default_ECDH(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_default_ECDH(void);
MORVANE_EXPORT int ENGINE_set_ECDH(ENGINE *e, const ECDH_METHOD *meth);
MORVANE_EXPORT const ECDH_METHOD *ENGINE_get_ECDH(const ENGINE *e);
MORVANE_EXPORT int ENGINE_register_ECDSA(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_ECDSA(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_ECDSA(void);
MORVANE_EXPORT int ENGINE_set_default_ECDSA(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_default_ECDSA(void);
MORVANE_EXPORT int ENGINE_set_ECDSA(ENGINE *e, const ECDSA_METHOD *meth);
MORVANE_EXPORT const ECDSA_METHOD *ENGINE_get_ECDSA(const ENGINE *e);
MORVANE_EXPORT int ENGINE_register_RAND(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_RAND(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_RAND(void);
MORVANE_EXPORT int ENGINE_set_default_RAND(ENGINE *e);
MORVANE_EXPORT ENGINE *ENGINE_get_default_RAND(void);
/* The random table is used as it is: it gets none of the built-in
 * generator's fork detection and keeps its own state across fork() (see
 * RAND_set_rand_method). */
MORVANE_EXPORT int ENGINE_set_RAND(ENGINE *e, const RAND_METHOD *meth);
MORVANE_EXPORT const RAND_METHOD *ENGINE_get_RAND(const ENGINE *e);
/* The object store has a table but no default choice. */
MORVANE_EXPORT int ENGINE_register_STORE(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_STORE(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_STORE(void);
MORVANE_EXPORT int ENGINE_set_STORE(ENGINE *e, const STORE_METHOD *meth);
MORVANE_EXPORT const STORE_METHOD *ENGINE_get_STORE(const ENGINE *e);

/* Ciphers and digests: an engine's callback lists the NIDs it serves (one
 * pile per NID); registration with a callback that lists none registers
 * nothing and gives 1. */
MORVANE_EXPORT int ENGINE_register_ciphers(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_ciphers(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_ciphers(void);
MORVANE_EXPORT int ENGINE_set_default_ciphers(ENGINE *e);
MORVANE_EXPORT int ENGINE_set_ciphers(ENGINE *e, ENGINE_CIPHERS_PTR f);
MORVANE_EXPORT ENGINE_CIPHERS_PTR ENGINE_get_ciphers(const ENGINE *e);
/* The default engine for the cipher `nid` (functional reference), or null. */
MORVANE_EXPORT ENGINE *ENGINE_get_cipher_engine(int nid);
/* The description that `e` supplies for the cipher `nid`, or null with
 * "unimplemented cipher". */
MORVANE_EXPORT const EVP_CIPHER *ENGINE_get_cipher(ENGINE *e, int nid);
MORVANE_EXPORT int ENGINE_register_digests(ENGINE *e);
MORVANE_EXPORT void ENGINE_unregister_digests(ENGINE *e);
MORVANE_EXPORT void ENGINE_register_all_digests(void);
MORVANE_EXPORT int ENGINE_set_default_digests(ENGINE *e);
MORVANE_EXPORT int ENGINE_set_digests(ENGINE *e, ENGINE_DIGESTS_PTR f);
MORVANE_EXPORT ENGINE_DIGESTS_PTR ENGINE_get_digests(const ENGINE *e);

/* The default engine for the digest `nid`, with a functional reference the
 * caller releases with ENGINE_finish, or null (nothing queued) when the
 * built-in description is to be used. */
MORVANE_EXPORT ENGINE *ENGINE_get_digest_engine(int nid);
/* The description that `e` supplies for the digest `nid`, or null with
 * "unimplemented digest". */
MORVANE_EXPORT const EVP_MD *ENGINE_get_digest(ENGINE *e, int nid);

/* Makes `e` the default for each class whose ENGINE_METHOD_* bit is set, in
 * the order ciphers, digests, RSA, DSA, DH, ECDH, ECDSA, RAND; stops at the
 * first failure (0), else 1. */
MORVANE_EXPORT int ENGINE_set_default(ENGINE *e, unsigned int flags);
/* The same from a comma-separated list of ALL, RSA, DSA, ECDH, ECDSA, DH,
 * RAND, CIPHERS, DIGESTS (a leading part of a keyword names it); an empty
 * element ("RSA,", ",RSA", "RSA,,DSA") names nothing.  An element that is no
 * keyword, or a list naming no class (an empty one, or only commas), fails
 * with "invalid string" and data "str=" plus the list, setting nothing. */
MORVANE_EXPORT int ENGINE_set_default_string(ENGINE *e, const char *def_list);
/* Registers `e` for every class it offers (ciphers, digests, RSA, DSA, DH,
 * ECDH, ECDSA, RAND), ignoring failures; 1. */
MORVANE_EXPORT int ENGINE_register_complete(ENGINE *e);
/* ENGINE_register_complete for every listed engine; 1. */
MORVANE_EXPORT int ENGINE_register_all_complete(void);

/* ---- The parts the engine component's own code shares ----
 * Exported for engines and tests that build on the same machinery.  Lock 30
 * (CRYPTO_LOCK_ENGINE) guards the engine list, both counts of every engine
 * and every table; the engine_unlocked_* functions expect the caller to hold
 * it for writing, the others take it themselves.  Every engine and table
 * pointer must be valid. */

/* A callback of the cleanup registry that ENGINE_cleanup runs. */
typedef void ENGINE_CLEANUP_CB(void);
/* An algorithm table: a hash table of piles keyed by NID (one pile per NID
 * an engine registered for).  A table pointer is null until the first
 * registration creates it. */
typedef struct engine_table_st ENGINE_TABLE;

/* Clears every method, callback, text and command table and the flags of
 * `e`, keeping its counts, extra data and list links. */
MORVANE_EXPORT void engine_set_all_null(ENGINE *e);
/* Registers a cleanup callback at the front or at the back of the registry
 * (nothing is registered when memory runs out, nor for a null callback,
 * which queues "passed a null parameter"). */
MORVANE_EXPORT void engine_cleanup_add_first(ENGINE_CLEANUP_CB *cb);
MORVANE_EXPORT void engine_cleanup_add_last(ENGINE_CLEANUP_CB *cb);
/* Takes a functional reference, running `init` when there was none: 1 (or
 * what `init` returned), or 0 with nothing counted when `init` refuses. */
MORVANE_EXPORT int engine_unlocked_init(ENGINE *e);
/* Releases a functional reference, running `finish` when it was the last
 * (with lock 30 released around it when `unlock_for_handlers` is non-zero);
 * a refusing `finish` keeps the structural reference and gives 0, else the
 * structural reference goes too and the result is `finish`'s, or 1. */
MORVANE_EXPORT int engine_unlocked_finish(ENGINE *e, int unlock_for_handlers);

/* Registers `e` for each of the `num_nids` NIDs in *table, creating the
 * table first (and registering `cleanup` at the front of the registry).  A
 * registration moves `e` behind the pile's other engines; with `setdefault`
 * it also becomes the pile's cached choice (taking a functional reference,
 * else "init failed").  1, or 0 (the NIDs done so far stay registered). */
MORVANE_EXPORT int engine_table_register(ENGINE_TABLE **table, ENGINE_CLEANUP_CB *cleanup,
                                         ENGINE *e, const int *nids, int num_nids, int setdefault);
/* Removes `e` from every pile of *table, releasing it where it was chosen. */
MORVANE_EXPORT void engine_table_unregister(ENGINE_TABLE **table, ENGINE *e);
/* Frees *table, releasing every chosen engine, and sets it to null. */
MORVANE_EXPORT void engine_table_cleanup(ENGINE_TABLE **table);
/* The engine of *table to use for `nid`, with a functional reference the
 * caller releases with ENGINE_finish, or null (the built-in implementation);
 * the first registered engine that initialises becomes the cached choice.
 * Errors of refusing `init` callbacks are taken off the queue again. */
MORVANE_EXPORT ENGINE *engine_table_select(ENGINE_TABLE **table, int nid);
/* The cleanup callbacks of the nine tables: each frees its class's table. */
MORVANE_EXPORT void engine_unregister_all_RSA(void);
MORVANE_EXPORT void engine_unregister_all_DSA(void);
MORVANE_EXPORT void engine_unregister_all_DH(void);
MORVANE_EXPORT void engine_unregister_all_ECDH(void);
MORVANE_EXPORT void engine_unregister_all_ECDSA(void);
MORVANE_EXPORT void engine_unregister_all_RAND(void);
MORVANE_EXPORT void engine_unregister_all_STORE(void);
MORVANE_EXPORT void engine_unregister_all_ciphers(void);
MORVANE_EXPORT void engine_unregister_all_digests(void);

/* ---- Component-wide ---- */

/* Frees every algorithm table (releasing the engines they chose), empties
 * the engine list, and resets the random method (RAND_set_rand_method(null)). */
MORVANE_EXPORT void ENGINE_cleanup(void);

/* Registers the configuration module "engines", whose section lists the
 * engines to set up, one name = section per line (the name after its first
 * "." is the engine id).  An engine's section takes "engine_id", "soft_load"
 * (a missing engine is passed over), "dynamic_path" (load it from a shared
 * object), "init" (1 initialise, 0 not; without it the engine is
 * initialised), "default_algorithms" (ENGINE_set_default_string; "EMPTY"
 * fails with "invalid string") and the engine's own command names (the value
 * "EMPTY" for no argument); a name may carry a prefix up to its first "."
 * ("1.init"), and the entry's own value counts.  Each instance of the module
 * (each "engines" line of a loaded configuration) owns the engines it
 * initialised: they stay initialised until the configuration modules are
 * finished (CONF_modules_finish, _unload or _free), and an instance whose
 * init fails finishes those it initialised itself, never another
 * instance's.  Returns CONF_module_add's result. */
MORVANE_EXPORT int ENGINE_add_conf_module(void);
/* Adds the built-in engines (the padlock and dynamic ones) to the engine
 * list.  The loaders below leave the caller's error queue as it was: what an
 * engine already listed makes them queue is taken off again. */
MORVANE_EXPORT void ENGINE_load_builtin_engines(void);
/* Adds the "dynamic" engine, which loads engines from shared objects:
 * ENGINE_by_id("dynamic") hands out a fresh copy that takes the commands
 * SO_PATH, NO_VCHECK, ID, LIST_ADD, DIR_LOAD, DIR_ADD and then LOAD.  This
 * build has no shared-object loader, so LOAD fails with "dso not found". */
MORVANE_EXPORT void ENGINE_load_dynamic(void);
/* The padlock and cryptodev engines: none in this library, nothing is added. */
MORVANE_EXPORT void ENGINE_load_padlock(void);
MORVANE_EXPORT void ENGINE_load_cryptodev(void);
/* Adds the software engine "morvane" ("Software engine support"), a test
 * engine with the built-in public-key and random methods, RC4 and 40-bit RC4
 * (NIDs 5 and 97, keys of at most 16 bytes), SHA-1 (NID 64) and a PEM
 * private-key loader; its RC4 key set-up and key loader print a notice on
 * standard error.  Not among the built-in engines. */
MORVANE_EXPORT void ENGINE_load_morvane(void);

/* Registers the texts of library 38 (ERR_LIB_ENGINE) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_ENGINE_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 38 (ENGINE). */
#define ENGINE_F_ENGINE_ADD 105
#define ENGINE_F_ENGINE_BY_ID 106
#define ENGINE_F_ENGINE_FINISH 107
#define ENGINE_F_ENGINE_FREE_UTIL 108
#define ENGINE_F_ENGINE_GET_NEXT 115
#define ENGINE_F_ENGINE_GET_PREV 116
#define ENGINE_F_ENGINE_INIT 119
#define ENGINE_F_ENGINE_LIST_ADD 120
#define ENGINE_F_ENGINE_LIST_REMOVE 121
#define ENGINE_F_ENGINE_NEW 122
#define ENGINE_F_ENGINE_REMOVE 123
#define ENGINE_F_ENGINE_SET_DEFAULT_TYPE 126
#define ENGINE_F_ENGINE_SET_ID 129
#define ENGINE_F_ENGINE_SET_NAME 130
#define ENGINE_F_LOG_MESSAGE 141
#define ENGINE_F_ENGINE_CTRL 142
#define ENGINE_F_ENGINE_LOAD_PRIVATE_KEY 150
#define ENGINE_F_ENGINE_LOAD_PUBLIC_KEY 151
#define ENGINE_F_ENGINE_UNLOAD_KEY 152
#define ENGINE_F_ENGINE_CMD_IS_EXECUTABLE 170
#define ENGINE_F_ENGINE_CTRL_CMD_STRING 171
#define ENGINE_F_INT_CTRL_HELPER 172
#define ENGINE_F_ENGINE_GET_DEFAULT_TYPE 177
#define ENGINE_F_ENGINE_CTRL_CMD 178
#define ENGINE_F_DYNAMIC_CTRL 180
#define ENGINE_F_DYNAMIC_GET_DATA_CTX 181
#define ENGINE_F_DYNAMIC_LOAD 182
#define ENGINE_F_DYNAMIC_SET_DATA_CTX 183
#define ENGINE_F_ENGINE_TABLE_REGISTER 184
#define ENGINE_F_ENGINE_GET_CIPHER 185
#define ENGINE_F_ENGINE_GET_DIGEST 186
#define ENGINE_F_INT_ENGINE_MODULE_INIT 187
#define ENGINE_F_INT_ENGINE_CONFIGURE 188
#define ENGINE_F_ENGINE_SET_DEFAULT_STRING 189
#define ENGINE_F_ENGINE_UP_REF 190
#define ENGINE_F_ENGINE_UNLOCKED_FINISH 191
#define ENGINE_F_ENGINE_LOAD_SSL_CLIENT_CERT 192
/* Reason codes of library 38 (ENGINE). */
#define ENGINE_R_ALREADY_LOADED 100
#define ENGINE_R_ENGINE_CONFIGURATION_ERROR 101
#define ENGINE_R_CONFLICTING_ENGINE_ID 103
#define ENGINE_R_DSO_FAILURE 104
#define ENGINE_R_ENGINE_IS_NOT_IN_THE_LIST 105
#define ENGINE_R_FINISH_FAILED 106
#define ENGINE_R_COULD_NOT_OBTAIN_HARDWARE_HANDLE 107
#define ENGINE_R_ID_OR_NAME_MISSING 108
#define ENGINE_R_INIT_FAILED 109
#define ENGINE_R_INTERNAL_LIST_ERROR 110
#define ENGINE_R_NOT_LOADED 112
#define ENGINE_R_PROVIDE_PARAMETERS 113
#define ENGINE_R_NO_SUCH_ENGINE 116
#define ENGINE_R_NOT_INITIALISED 117
#define ENGINE_R_CTRL_COMMAND_NOT_IMPLEMENTED 119
#define ENGINE_R_NO_CONTROL_FUNCTION 120
#define ENGINE_R_NO_LOAD_FUNCTION 125
#define ENGINE_R_NO_UNLOAD_FUNCTION 126
#define ENGINE_R_FAILED_LOADING_PRIVATE_KEY 128
#define ENGINE_R_FAILED_LOADING_PUBLIC_KEY 129
#define ENGINE_R_NO_REFERENCE 130
#define ENGINE_R_DSO_NOT_FOUND 132
#define ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER 133
#define ENGINE_R_CMD_NOT_EXECUTABLE 134
#define ENGINE_R_COMMAND_TAKES_INPUT 135
#define ENGINE_R_COMMAND_TAKES_NO_INPUT 136
#define ENGINE_R_INVALID_CMD_NAME 137
#define ENGINE_R_INVALID_CMD_NUMBER 138
#define ENGINE_R_DH_NOT_IMPLEMENTED 139
#define ENGINE_R_DSA_NOT_IMPLEMENTED 140
#define ENGINE_R_RSA_NOT_IMPLEMENTED 141
#define ENGINE_R_INVALID_ARGUMENT 143
#define ENGINE_R_NO_INDEX 144
#define ENGINE_R_VERSION_INCOMPATIBILITY 145
#define ENGINE_R_UNIMPLEMENTED_CIPHER 146
#define ENGINE_R_UNIMPLEMENTED_DIGEST 147
#define ENGINE_R_ENGINES_SECTION_ERROR 148
#define ENGINE_R_ENGINE_SECTION_ERROR 149
#define ENGINE_R_INVALID_STRING 150
#define ENGINE_R_INVALID_INIT_VALUE 151
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_ENGINE_H */
