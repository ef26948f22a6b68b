/* Morvane: the object store.
 *
 * A generic front end for keeping certificates, revocation lists, private and
 * public keys, big numbers and arbitrary byte buffers in some back end (a
 * database, a token, memory) and finding them again by attributes.  A STORE
 * is a handle bound to a STORE_METHOD, a table of back-end operations that an
 * application fills itself, builds with STORE_create_method and its setters,
 * or takes from an engine (STORE_new_engine).  STORE_Memory is the one method
 * the library supplies.
 *
 * Attributes and parameters travel as item lists: arrays of MORVANE_ITEM
 * ended by an item whose code is STORE_ATTR_END (0).  An attribute list is a
 * disjunction of conjunction groups separated by STORE_ATTR_OR items; each
 * group parses into one STORE_ATTR_INFO record.
 *
 * Failing calls queue errors of library 44 (ERR_LIB_STORE), whose texts are
 * registered only by ERR_load_STORE_strings (never by
 * ERR_load_crypto_strings); the library has no name text.
 *
 * Null arguments: STORE_free, STORE_destroy_method, STORE_OBJECT_free and
 * STORE_ATTR_INFO_free accept null and do nothing (the last returns 1).  A
 * null store (or a store without method) given to any front-end operation or
 * to STORE_ctrl, a null method to STORE_new_method, a null engine to
 * STORE_new_engine, a null record to the STORE_ATTR_INFO getters, setters
 * and modifiers, a null value to those setters and modifiers, and a null
 * list or handle to the STORE_parse_attrs_ calls queue "passed a null
 * parameter" and give the failure value.  The comparisons take null records
 * as described at each.  The method builder's setters return 0 and its
 * getters null for a null method.  STORE_get_method, STORE_set_method and
 * the extra-data calls need a valid store; the item lists given to the front
 * end are passed to the back end untouched and may be null when it accepts
 * that. */
#ifndef MORVANE_STORE_H
#define MORVANE_STORE_H

#include <stddef.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

typedef struct store_st STORE;

/* The kinds of object a store keeps; STORE_object_type_string names them. */
typedef enum STORE_object_types {
  STORE_OBJECT_TYPE_X509_CERTIFICATE = 0x01,
  STORE_OBJECT_TYPE_X509_CRL = 0x02,
  STORE_OBJECT_TYPE_PRIVATE_KEY = 0x03,
  STORE_OBJECT_TYPE_PUBLIC_KEY = 0x04,
  STORE_OBJECT_TYPE_NUMBER = 0x05,
  STORE_OBJECT_TYPE_ARBITRARY = 0x06,
  STORE_OBJECT_TYPE_NUM = 0x06
} STORE_OBJECT_TYPES;
/* Display names indexed by type: entry 0 is null, then "X.509 Certificate",
 * "X.509 CRL", "Private Key", "Public Key", "Number", "Arbitrary Data". */
MORVANE_EXPORT extern const char *const STORE_object_type_string[STORE_OBJECT_TYPE_NUM + 1];

typedef enum STORE_certificate_status {
  STORE_X509_VALID = 0x00,
  STORE_X509_EXPIRED = 0x01,
  STORE_X509_SUSPENDED = 0x02,
  STORE_X509_REVOKED = 0x03
} STORE_CERTIFICATE_STATUS;

/* The attribute codes and the kind of value each carries: strings
 * (FRIENDLYNAME, EMAIL, FILENAME), SHA-1 strings (KEYID, ISSUERKEYID,
 * SUBJECTKEYID, ISSUERSERIALHASH, CERTHASH), names (ISSUER, SUBJECT, an
 * X509_NAME) and a number (SERIAL, a BIGNUM).  STORE_ATTR_OR separates the
 * groups of a list, STORE_ATTR_END ends it. */
typedef enum STORE_attribs {
  STORE_ATTR_END = 0x00,
  STORE_ATTR_FRIENDLYNAME = 0x01,
  STORE_ATTR_KEYID = 0x02,
  STORE_ATTR_ISSUERKEYID = 0x03,
  STORE_ATTR_SUBJECTKEYID = 0x04,
  STORE_ATTR_ISSUERSERIALHASH = 0x05,
  STORE_ATTR_ISSUER = 0x06,
  STORE_ATTR_SERIAL = 0x07,
  STORE_ATTR_SUBJECT = 0x08,
  STORE_ATTR_CERTHASH = 0x09,
  STORE_ATTR_EMAIL = 0x0a,
  STORE_ATTR_FILENAME = 0x0b,
  STORE_ATTR_TYPE_NUM = 0x0b,
  STORE_ATTR_OR = 0xff
} STORE_ATTR_TYPES;

/* The value size of each attribute code, -1 where it varies.  The entries of
 * the name and number codes are 4, the pointer width these tables were fixed
 * for, whatever the platform; the library itself does not consult them. */
MORVANE_EXPORT extern const int STORE_attr_sizes[STORE_ATTR_TYPE_NUM + 1];
/* The value sizes of the parameter codes 0 to 6: 0, 4, 4, -1, 0, 0, 0. */
MORVANE_EXPORT extern const int STORE_param_sizes[7];

/* One entry of an item list.  `value_length` points where a back end may
 * report the size of a result; the front end never reads it. */
typedef struct morvane_item_st {
  int code;
  void *value;
  size_t value_size;
  size_t *value_length;
} MORVANE_ITEM;

/* An object passing between the front end and a back end; `type` names the
 * member of `data` in use. */
typedef struct STORE_OBJECT_st {
  STORE_OBJECT_TYPES type;
  union {
    struct {
      STORE_CERTIFICATE_STATUS status;
      X509 *certificate;
    } x509;
    X509_CRL *crl;
    EVP_PKEY *key;
    BIGNUM *number;
    BUF_MEM *arbitrary;
  } data;
} STORE_OBJECT;

/* A zero-filled object (type 0), or null when it cannot be allocated. */
MORVANE_EXPORT STORE_OBJECT *STORE_OBJECT_new(void);
/* Releases the member named by `type` (certificate, CRL, key, number or
 * buffer; nothing for another type) and then the object. */
MORVANE_EXPORT void STORE_OBJECT_free(STORE_OBJECT *data);

/* The back-end operations.  `type` is a STORE_OBJECT_TYPES value;
 * `attributes` and `parameters` are item lists. */
typedef int (*STORE_INITIALISE_FUNC_PTR)(STORE *);
typedef void (*STORE_CLEANUP_FUNC_PTR)(STORE *);
typedef STORE_OBJECT *(*STORE_GENERATE_OBJECT_FUNC_PTR)(STORE *, STORE_OBJECT_TYPES type,
                                                         MORVANE_ITEM attributes[],
                                                         MORVANE_ITEM parameters[]);
typedef STORE_OBJECT *(*STORE_GET_OBJECT_FUNC_PTR)(STORE *, STORE_OBJECT_TYPES type,
                                                    MORVANE_ITEM attributes[],
                                                    MORVANE_ITEM parameters[]);
typedef void *(*STORE_START_OBJECT_FUNC_PTR)(STORE *, STORE_OBJECT_TYPES type,
                                             MORVANE_ITEM attributes[],
                                             MORVANE_ITEM parameters[]);
typedef STORE_OBJECT *(*STORE_NEXT_OBJECT_FUNC_PTR)(STORE *, void *handle);
typedef int (*STORE_END_OBJECT_FUNC_PTR)(STORE *, void *handle);
typedef int (*STORE_HANDLE_OBJECT_FUNC_PTR)(STORE *, STORE_OBJECT_TYPES type,
                                            MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
typedef int (*STORE_STORE_OBJECT_FUNC_PTR)(STORE *, STORE_OBJECT_TYPES type, STORE_OBJECT *data,
                                           MORVANE_ITEM attributes[],
                                           MORVANE_ITEM parameters[]);
typedef int (*STORE_MODIFY_OBJECT_FUNC_PTR)(STORE *, STORE_OBJECT_TYPES type,
                                            MORVANE_ITEM search_attributes[],
                                            MORVANE_ITEM add_attributes[],
                                            MORVANE_ITEM modify_attributes[],
                                            MORVANE_ITEM delete_attributes[],
                                            MORVANE_ITEM parameters[]);
typedef int (*STORE_GENERIC_FUNC_PTR)(STORE *, MORVANE_ITEM attributes[],
                                      MORVANE_ITEM parameters[]);
typedef int (*STORE_CTRL_FUNC_PTR)(STORE *, int cmd, long l, void *p, void (*f)(void));

/* A back end: each slot null when it lacks the operation.  `init` runs when
 * a store is made (0 refuses the store), `clean` when it is freed;
 * `list_object_endp` gives 1 at the end of a listing.  The front end never
 * calls `update_store`, `lock_store` or `unlock_store`. */
struct store_method_st {
  char *name;
  STORE_INITIALISE_FUNC_PTR init;
  STORE_CLEANUP_FUNC_PTR clean;
  STORE_GENERATE_OBJECT_FUNC_PTR generate_object;
  STORE_GET_OBJECT_FUNC_PTR get_object;
  STORE_STORE_OBJECT_FUNC_PTR store_object;
  STORE_MODIFY_OBJECT_FUNC_PTR modify_object;
  STORE_HANDLE_OBJECT_FUNC_PTR revoke_object;
  STORE_HANDLE_OBJECT_FUNC_PTR delete_object;
  STORE_START_OBJECT_FUNC_PTR list_object_start;
  STORE_NEXT_OBJECT_FUNC_PTR list_object_next;
  STORE_END_OBJECT_FUNC_PTR list_object_end;
  STORE_END_OBJECT_FUNC_PTR list_object_endp;
  STORE_GENERIC_FUNC_PTR update_store;
  STORE_GENERIC_FUNC_PTR lock_store;
  STORE_GENERIC_FUNC_PTR unlock_store;
  STORE_CTRL_FUNC_PTR ctrl;
};

/* Registers the texts of library 44 (ERR_LIB_STORE) unless they are
 * registered already. */
MORVANE_EXPORT void ERR_load_STORE_strings(void);

/* A store bound to `method`, whose `init` (when present) must accept it;
 * null on failure (a refused store is freed, running `clean`). */
MORVANE_EXPORT STORE *STORE_new_method(const STORE_METHOD *method);
/* A store bound to the store method of `engine`, which is initialised for it
 * (ENGINE_init; "ENGINE lib" when that fails or the engine has no store
 * method, the engine then left as it was).  The store holds the engine's
 * functional reference and STORE_free finishes it. */
MORVANE_EXPORT STORE *STORE_new_engine(ENGINE *engine);
/* Runs the method's `clean`, releases the extra data, finishes the engine of
 * a store made by STORE_new_engine and frees the store. */
MORVANE_EXPORT void STORE_free(STORE *store);
/* The method's `ctrl` result; 0 with "no control function" without one. */
MORVANE_EXPORT int STORE_ctrl(STORE *store, int cmd, long i, void *p, void (*f)(void));

/* The memory method ("Morvane memory store interface"): it parses search
 * attributes and keeps listing handles, but holds no objects: generating,
 * storing, modifying and deleting give "not implemented", and every listing
 * or get ends with "no store". */
MORVANE_EXPORT const STORE_METHOD *STORE_Memory(void);

/* The store's method; setting one runs neither `init` nor `clean` and
 * returns the new method. */
MORVANE_EXPORT const STORE_METHOD *STORE_get_method(STORE *store);
MORVANE_EXPORT const STORE_METHOD *STORE_set_method(STORE *store, const STORE_METHOD *meth);

/* Extra data of class CRYPTO_EX_INDEX_STORE (see crypto.h). */
MORVANE_EXPORT int STORE_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                          CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int STORE_set_ex_data(STORE *r, int idx, void *arg);
MORVANE_EXPORT void *STORE_get_ex_data(STORE *r, int idx);

/* The method builder: a zero-filled method named with a copy of `name` (null
 * when an allocation fails), its release, and one setter (returning 1) and
 * getter per slot.  There is none for `list_object_endp`, which stays null. */
MORVANE_EXPORT STORE_METHOD *STORE_create_method(char *name);
MORVANE_EXPORT void STORE_destroy_method(STORE_METHOD *store_method);
MORVANE_EXPORT int STORE_method_set_initialise_function(STORE_METHOD *sm,
                                                        STORE_INITIALISE_FUNC_PTR init_f);
MORVANE_EXPORT int STORE_method_set_cleanup_function(STORE_METHOD *sm,
                                                     STORE_CLEANUP_FUNC_PTR clean_f);
MORVANE_EXPORT int STORE_method_set_generate_function(STORE_METHOD *sm,
                                                      STORE_GENERATE_OBJECT_FUNC_PTR generate_f);
MORVANE_EXPORT int STORE_method_set_get_function(STORE_METHOD *sm,
                                                 STORE_GET_OBJECT_FUNC_PTR get_f);
MORVANE_EXPORT int STORE_method_set_store_function(STORE_METHOD *sm,
                                                   STORE_STORE_OBJECT_FUNC_PTR store_f);
MORVANE_EXPORT int STORE_method_set_modify_function(STORE_METHOD *sm,
                                                    STORE_MODIFY_OBJECT_FUNC_PTR modify_f);
MORVANE_EXPORT int STORE_method_set_revoke_function(STORE_METHOD *sm,
                                                    STORE_HANDLE_OBJECT_FUNC_PTR revoke_f);
MORVANE_EXPORT int STORE_method_set_delete_function(STORE_METHOD *sm,
                                                    STORE_HANDLE_OBJECT_FUNC_PTR delete_f);
MORVANE_EXPORT int STORE_method_set_list_start_function(STORE_METHOD *sm,
                                                        STORE_START_OBJECT_FUNC_PTR list_start_f);
MORVANE_EXPORT int STORE_method_set_list_next_function(STORE_METHOD *sm,
                                                       STORE_NEXT_OBJECT_FUNC_PTR list_next_f);
MORVANE_EXPORT int STORE_method_set_list_end_function(STORE_METHOD *sm,
                                                      STORE_END_OBJECT_FUNC_PTR list_end_f);
MORVANE_EXPORT int STORE_method_set_update_store_function(STORE_METHOD *sm,
                                                          STORE_GENERIC_FUNC_PTR update_f);
MORVANE_EXPORT int STORE_method_set_lock_store_function(STORE_METHOD *sm,
                                                        STORE_GENERIC_FUNC_PTR lock_f);
MORVANE_EXPORT int STORE_method_set_unlock_store_function(STORE_METHOD *sm,
                                                          STORE_GENERIC_FUNC_PTR unlock_f);
MORVANE_EXPORT int STORE_method_set_ctrl_function(STORE_METHOD *sm, STORE_CTRL_FUNC_PTR ctrl_f);
MORVANE_EXPORT STORE_INITIALISE_FUNC_PTR STORE_method_get_initialise_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_CLEANUP_FUNC_PTR STORE_method_get_cleanup_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_GENERATE_OBJECT_FUNC_PTR STORE_method_get_generate_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_GET_OBJECT_FUNC_PTR STORE_method_get_get_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_STORE_OBJECT_FUNC_PTR STORE_method_get_store_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_MODIFY_OBJECT_FUNC_PTR STORE_method_get_modify_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_HANDLE_OBJECT_FUNC_PTR STORE_method_get_revoke_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_HANDLE_OBJECT_FUNC_PTR STORE_method_get_delete_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_START_OBJECT_FUNC_PTR STORE_method_get_list_start_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_NEXT_OBJECT_FUNC_PTR STORE_method_get_list_next_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_END_OBJECT_FUNC_PTR STORE_method_get_list_end_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_GENERIC_FUNC_PTR STORE_method_get_update_store_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_GENERIC_FUNC_PTR STORE_method_get_lock_store_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_GENERIC_FUNC_PTR STORE_method_get_unlock_store_function(STORE_METHOD *sm);
MORVANE_EXPORT STORE_CTRL_FUNC_PTR STORE_method_get_ctrl_function(STORE_METHOD *sm);

/* The front end, one family per object kind.  Each operation checks the
 * store and the method slot it needs ("no ... function" when it is null),
 * calls the slot with the family's object type and reports the family's
 * failure reason when the slot fails.
 *
 * Getters, generators and list-next calls hand the caller the object the
 * back end returned: one reference of a certificate, CRL or key, or the
 * number or buffer itself, which the caller then owns.  Store calls lend the
 * caller's item to the back end for the call only (a certificate, CRL or key
 * with a reference of its own for the call).  Modify, revoke, delete
 * and list-end calls give 1 or 0.  List-start calls give the back end's
 * handle, and list-endp calls 1 at the end of the listing, else 0 with the
 * family's listing failure queued. */
MORVANE_EXPORT X509 *STORE_get_certificate(STORE *e, MORVANE_ITEM attributes[],
                                           MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_store_certificate(STORE *e, X509 *data, MORVANE_ITEM attributes[],
                                           MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_modify_certificate(STORE *e, MORVANE_ITEM search_attributes[],
                                            MORVANE_ITEM add_attributes[],
                                            MORVANE_ITEM modify_attributes[],
                                            MORVANE_ITEM delete_attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_revoke_certificate(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_delete_certificate(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT void *STORE_list_certificate_start(STORE *e, MORVANE_ITEM attributes[],
                                                  MORVANE_ITEM parameters[]);
MORVANE_EXPORT X509 *STORE_list_certificate_next(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_certificate_end(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_certificate_endp(STORE *e, void *handle);

MORVANE_EXPORT EVP_PKEY *STORE_generate_key(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT EVP_PKEY *STORE_get_private_key(STORE *e, MORVANE_ITEM attributes[],
                                               MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_store_private_key(STORE *e, EVP_PKEY *data, MORVANE_ITEM attributes[],
                                           MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_modify_private_key(STORE *e, MORVANE_ITEM search_attributes[],
                                            MORVANE_ITEM add_attributes[],
                                            MORVANE_ITEM modify_attributes[],
                                            MORVANE_ITEM delete_attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_revoke_private_key(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_delete_private_key(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT void *STORE_list_private_key_start(STORE *e, MORVANE_ITEM attributes[],
                                                  MORVANE_ITEM parameters[]);
MORVANE_EXPORT EVP_PKEY *STORE_list_private_key_next(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_private_key_end(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_private_key_endp(STORE *e, void *handle);

MORVANE_EXPORT EVP_PKEY *STORE_get_public_key(STORE *e, MORVANE_ITEM attributes[],
                                              MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_store_public_key(STORE *e, EVP_PKEY *data, MORVANE_ITEM attributes[],
                                          MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_modify_public_key(STORE *e, MORVANE_ITEM search_attributes[],
                                           MORVANE_ITEM add_attributes[],
                                           MORVANE_ITEM modify_attributes[],
                                           MORVANE_ITEM delete_attributes[],
                                           MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_revoke_public_key(STORE *e, MORVANE_ITEM attributes[],
                                           MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_delete_public_key(STORE *e, MORVANE_ITEM attributes[],
                                           MORVANE_ITEM parameters[]);
MORVANE_EXPORT void *STORE_list_public_key_start(STORE *e, MORVANE_ITEM attributes[],
                                                 MORVANE_ITEM parameters[]);
MORVANE_EXPORT EVP_PKEY *STORE_list_public_key_next(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_public_key_end(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_public_key_endp(STORE *e, void *handle);

MORVANE_EXPORT X509_CRL *STORE_generate_crl(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT X509_CRL *STORE_get_crl(STORE *e, MORVANE_ITEM attributes[],
                                       MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_store_crl(STORE *e, X509_CRL *data, MORVANE_ITEM attributes[],
                                   MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_modify_crl(STORE *e, MORVANE_ITEM search_attributes[],
                                    MORVANE_ITEM add_attributes[],
                                    MORVANE_ITEM modify_attributes[],
                                    MORVANE_ITEM delete_attributes[], MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_delete_crl(STORE *e, MORVANE_ITEM attributes[],
                                    MORVANE_ITEM parameters[]);
MORVANE_EXPORT void *STORE_list_crl_start(STORE *e, MORVANE_ITEM attributes[],
                                          MORVANE_ITEM parameters[]);
MORVANE_EXPORT X509_CRL *STORE_list_crl_next(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_crl_end(STORE *e, void *handle);
MORVANE_EXPORT int STORE_list_crl_endp(STORE *e, void *handle);

MORVANE_EXPORT int STORE_store_number(STORE *e, BIGNUM *data, MORVANE_ITEM attributes[],
                                      MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_modify_number(STORE *e, MORVANE_ITEM search_attributes[],
                                       MORVANE_ITEM add_attributes[],
                                       MORVANE_ITEM modify_attributes[],
                                       MORVANE_ITEM delete_attributes[],
                                       MORVANE_ITEM parameters[]);
MORVANE_EXPORT BIGNUM *STORE_get_number(STORE *e, MORVANE_ITEM attributes[],
                                        MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_delete_number(STORE *e, MORVANE_ITEM attributes[],
                                       MORVANE_ITEM parameters[]);

MORVANE_EXPORT int STORE_store_arbitrary(STORE *e, BUF_MEM *data, MORVANE_ITEM attributes[],
                                         MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_modify_arbitrary(STORE *e, MORVANE_ITEM search_attributes[],
                                          MORVANE_ITEM add_attributes[],
                                          MORVANE_ITEM modify_attributes[],
                                          MORVANE_ITEM delete_attributes[],
                                          MORVANE_ITEM parameters[]);
MORVANE_EXPORT BUF_MEM *STORE_get_arbitrary(STORE *e, MORVANE_ITEM attributes[],
                                            MORVANE_ITEM parameters[]);
MORVANE_EXPORT int STORE_delete_arbitrary(STORE *e, MORVANE_ITEM attributes[],
                                          MORVANE_ITEM parameters[]);

/* An attribute record: which codes (1 to 11) are set and a copy of each set
 * value, owned by the record (strings and SHA-1 strings copied, names with
 * X509_NAME_dup, numbers with BN_dup). */
typedef struct STORE_attr_info_st STORE_ATTR_INFO;

MORVANE_EXPORT STORE_ATTR_INFO *STORE_ATTR_INFO_new(void);
MORVANE_EXPORT int STORE_ATTR_INFO_free(STORE_ATTR_INFO *attrs);
/* The value of `code` (borrowed), or null with "no value" when `code` is not
 * set or holds another kind of value. */
MORVANE_EXPORT char *STORE_ATTR_INFO_get0_cstr(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code);
MORVANE_EXPORT unsigned char *STORE_ATTR_INFO_get0_sha1str(STORE_ATTR_INFO *attrs,
                                                           STORE_ATTR_TYPES code);
MORVANE_EXPORT X509_NAME *STORE_ATTR_INFO_get0_dn(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code);
MORVANE_EXPORT BIGNUM *STORE_ATTR_INFO_get0_number(STORE_ATTR_INFO *attrs,
                                                   STORE_ATTR_TYPES code);
/* Sets `code` to a copy of the value (at most `cstr_size` characters of a
 * string, `sha1str_size` bytes of a SHA-1 string): 1, or 0 with "already has
 * a value" when it is set, "invalid attribute code" when `code` does not
 * carry this kind of value, "malloc failure" when the copy fails. */
MORVANE_EXPORT int STORE_ATTR_INFO_set_cstr(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                            char *cstr, size_t cstr_size);
MORVANE_EXPORT int STORE_ATTR_INFO_set_sha1str(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                               unsigned char *sha1str, size_t sha1str_size);
MORVANE_EXPORT int STORE_ATTR_INFO_set_dn(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                          X509_NAME *dn);
MORVANE_EXPORT int STORE_ATTR_INFO_set_number(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                              BIGNUM *number);
/* As the setters, replacing a value already set. */
MORVANE_EXPORT int STORE_ATTR_INFO_modify_cstr(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                               char *cstr, size_t cstr_size);
MORVANE_EXPORT int STORE_ATTR_INFO_modify_sha1str(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                                  unsigned char *sha1str, size_t sha1str_size);
MORVANE_EXPORT int STORE_ATTR_INFO_modify_dn(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                             X509_NAME *dn);
MORVANE_EXPORT int STORE_ATTR_INFO_modify_number(STORE_ATTR_INFO *attrs, STORE_ATTR_TYPES code,
                                                 BIGNUM *number);

/* Parsing an attribute list.  The handle points into `attributes`, which
 * must outlive it.  Each STORE_parse_attrs_next gives the next group as a new
 * record (the caller frees it) and steps over the STORE_ATTR_OR after it; a
 * group without known codes, and the end of the list, give null.  endp is 1
 * when the handle stands on STORE_ATTR_END; end frees the handle (1). */
MORVANE_EXPORT void *STORE_parse_attrs_start(MORVANE_ITEM *attributes);
MORVANE_EXPORT STORE_ATTR_INFO *STORE_parse_attrs_next(void *handle);
MORVANE_EXPORT int STORE_parse_attrs_end(void *handle);
MORVANE_EXPORT int STORE_parse_attrs_endp(void *handle);

/* An ordering of records by the codes they set: 0 for the same pointer, -1
 * when only `a` is null, 1 when only `b` is null. */
MORVANE_EXPORT int STORE_ATTR_INFO_compare(const STORE_ATTR_INFO *a, const STORE_ATTR_INFO *b);
/* 1 when the span of codes set in `a` lies inside that of `b` (or a == b);
 * 0 when either is null. */
MORVANE_EXPORT int STORE_ATTR_INFO_in_range(const STORE_ATTR_INFO *a, const STORE_ATTR_INFO *b);
/* 1 when every code set in `a` is set in `b` (or a == b); 0 when either is
 * null. */
MORVANE_EXPORT int STORE_ATTR_INFO_in(const STORE_ATTR_INFO *a, const STORE_ATTR_INFO *b);
/* As STORE_ATTR_INFO_in, and every value of `a` equals that of `b`; SHA-1
 * strings of different sizes differ. */
MORVANE_EXPORT int STORE_ATTR_INFO_in_ex(const STORE_ATTR_INFO *a, const STORE_ATTR_INFO *b);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 44 (STORE). */
#define STORE_F_STORE_STORE_CERTIFICATE 100
#define STORE_F_STORE_STORE_CRL 101
#define STORE_F_STORE_DELETE_CERTIFICATE 102
#define STORE_F_STORE_DELETE_CRL 103
#define STORE_F_STORE_DELETE_NUMBER 104
#define STORE_F_STORE_DELETE_PRIVATE_KEY 105
#define STORE_F_STORE_DELETE_PUBLIC_KEY 106
#define STORE_F_STORE_GENERATE_CRL 107
#define STORE_F_STORE_GENERATE_KEY 108
#define STORE_F_STORE_GET_CERTIFICATE 109
#define STORE_F_STORE_GET_CRL 110
#define STORE_F_STORE_GET_NUMBER 111
#define STORE_F_STORE_GET_PRIVATE_KEY 112
#define STORE_F_STORE_GET_PUBLIC_KEY 113
#define STORE_F_STORE_LIST_CERTIFICATE_END 114
#define STORE_F_STORE_LIST_CERTIFICATE_NEXT 115
#define STORE_F_STORE_LIST_CERTIFICATE_START 116
#define STORE_F_STORE_LIST_CRL_END 117
#define STORE_F_STORE_LIST_CRL_NEXT 118
#define STORE_F_STORE_LIST_CRL_START 119
#define STORE_F_STORE_LIST_PRIVATE_KEY_END 120
#define STORE_F_STORE_LIST_PRIVATE_KEY_NEXT 121
#define STORE_F_STORE_LIST_PRIVATE_KEY_START 122
#define STORE_F_STORE_LIST_PUBLIC_KEY_END 123
#define STORE_F_STORE_LIST_PUBLIC_KEY_NEXT 124
#define STORE_F_STORE_LIST_PUBLIC_KEY_START 125
#define STORE_F_STORE_STORE_NUMBER 126
#define STORE_F_STORE_STORE_PRIVATE_KEY 127
#define STORE_F_STORE_STORE_PUBLIC_KEY 128
#define STORE_F_STORE_REVOKE_CERTIFICATE 129
#define STORE_F_STORE_REVOKE_PRIVATE_KEY 130
#define STORE_F_STORE_REVOKE_PUBLIC_KEY 131
#define STORE_F_STORE_NEW_METHOD 132
#define STORE_F_STORE_NEW_ENGINE 133
#define STORE_F_MEM_DELETE 134
#define STORE_F_MEM_GENERATE 135
#define STORE_F_MEM_LIST_NEXT 136
#define STORE_F_MEM_LIST_START 137
#define STORE_F_MEM_STORE 138
#define STORE_F_STORE_ATTR_INFO_GET0_CSTR 139
#define STORE_F_STORE_ATTR_INFO_GET0_DN 140
#define STORE_F_STORE_ATTR_INFO_GET0_NUMBER 141
#define STORE_F_STORE_ATTR_INFO_GET0_SHA1STR 142
#define STORE_F_STORE_ATTR_INFO_MODIFY_CSTR 143
#define STORE_F_STORE_ATTR_INFO_MODIFY_DN 144
#define STORE_F_STORE_ATTR_INFO_MODIFY_NUMBER 145
#define STORE_F_STORE_ATTR_INFO_MODIFY_SHA1STR 146
#define STORE_F_STORE_ATTR_INFO_SET_CSTR 147
#define STORE_F_STORE_ATTR_INFO_SET_DN 148
#define STORE_F_STORE_ATTR_INFO_SET_NUMBER 149
#define STORE_F_STORE_ATTR_INFO_SET_SHA1STR 150
#define STORE_F_STORE_PARSE_ATTRS_END 151
#define STORE_F_STORE_PARSE_ATTRS_NEXT 152
#define STORE_F_STORE_LIST_CERTIFICATE_ENDP 153
#define STORE_F_STORE_LIST_CRL_ENDP 154
#define STORE_F_STORE_LIST_PRIVATE_KEY_ENDP 155
#define STORE_F_STORE_LIST_PUBLIC_KEY_ENDP 156
#define STORE_F_STORE_STORE_ARBITRARY 157
#define STORE_F_STORE_DELETE_ARBITRARY 158
#define STORE_F_STORE_GET_ARBITRARY 159
#define STORE_F_STORE_CTRL 161
#define STORE_F_STORE_MODIFY_ARBITRARY 162
#define STORE_F_STORE_MODIFY_CERTIFICATE 163
#define STORE_F_STORE_MODIFY_CRL 164
#define STORE_F_STORE_MODIFY_NUMBER 165
#define STORE_F_STORE_MODIFY_PRIVATE_KEY 166
#define STORE_F_STORE_MODIFY_PUBLIC_KEY 167
#define STORE_F_MEM_LIST_END 168
#define STORE_F_MEM_MODIFY 169
#define STORE_F_STORE_CERTIFICATE 170
#define STORE_F_STORE_PARSE_ATTRS_START 171
#define STORE_F_STORE_PARSE_ATTRS_ENDP 172
/* Reason codes of library 44 (STORE). */
#define STORE_R_FAILED_DELETING_CERTIFICATE 100
#define STORE_R_FAILED_DELETING_KEY 101
#define STORE_R_FAILED_DELETING_NUMBER 102
#define STORE_R_FAILED_GENERATING_CRL 103
#define STORE_R_FAILED_GENERATING_KEY 104
#define STORE_R_FAILED_GETTING_CERTIFICATE 105
#define STORE_R_FAILED_GETTING_KEY 106
#define STORE_R_FAILED_GETTING_NUMBER 107
#define STORE_R_FAILED_LISTING_CERTIFICATES 108
#define STORE_R_FAILED_LISTING_KEYS 109
#define STORE_R_FAILED_REVOKING_CERTIFICATE 110
#define STORE_R_FAILED_REVOKING_KEY 111
#define STORE_R_FAILED_STORING_CERTIFICATE 112
#define STORE_R_FAILED_STORING_KEY 113
#define STORE_R_FAILED_STORING_NUMBER 114
#define STORE_R_NO_DELETE_NUMBER_FUNCTION 115
#define STORE_R_NO_DELETE_OBJECT_FUNCTION 116
#define STORE_R_NO_GENERATE_CRL_FUNCTION 117
#define STORE_R_NO_GENERATE_OBJECT_FUNCTION 118
#define STORE_R_NO_GET_OBJECT_FUNCTION 119
#define STORE_R_NO_GET_OBJECT_NUMBER_FUNCTION 120
#define STORE_R_NO_LIST_OBJECT_END_FUNCTION 121
#define STORE_R_NO_LIST_OBJECT_NEXT_FUNCTION 122
#define STORE_R_NO_LIST_OBJECT_START_FUNCTION 123
#define STORE_R_NO_REVOKE_OBJECT_FUNCTION 124
#define STORE_R_NO_STORE_OBJECT_FUNCTION 125
#define STORE_R_NO_STORE_OBJECT_NUMBER_FUNCTION 126
#define STORE_R_ALREADY_HAS_A_VALUE 127
#define STORE_R_NOT_IMPLEMENTED 128
#define STORE_R_NO_STORE 129
#define STORE_R_NO_VALUE 130
#define STORE_R_NO_LIST_OBJECT_ENDP_FUNCTION 131
#define STORE_R_FAILED_DELETING_ARBITRARY 132
#define STORE_R_FAILED_GETTING_ARBITRARY 133
#define STORE_R_FAILED_STORING_ARBITRARY 134
#define STORE_R_NO_DELETE_ARBITRARY_FUNCTION 135
#define STORE_R_NO_GET_OBJECT_ARBITRARY_FUNCTION 136
#define STORE_R_NO_STORE_OBJECT_ARBITRARY_FUNCTION 137
#define STORE_R_FAILED_MODIFYING_ARBITRARY 138
#define STORE_R_FAILED_MODIFYING_CERTIFICATE 139
#define STORE_R_FAILED_MODIFYING_CRL 140
#define STORE_R_FAILED_MODIFYING_NUMBER 141
#define STORE_R_FAILED_MODIFYING_PRIVATE_KEY 142
#define STORE_R_FAILED_MODIFYING_PUBLIC_KEY 143
#define STORE_R_NO_CONTROL_FUNCTION 144
#define STORE_R_NO_MODIFY_OBJECT_FUNCTION 145
#define STORE_R_INVALID_ATTRIBUTE_CODE 146
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_STORE_H */
