// The object store's handle and its typed front end: each family (object
// kind) checks the store and the method slot it needs, calls the slot with
// its object type and turns the back end's answer into the family's result
// and failure reason.

#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/store.h>
#include <morvane/x509.h>

#include "store/internal.h"

/* see morvane/store.h */
constinit const char* const STORE_object_type_string[STORE_OBJECT_TYPE_NUM + 1] = {
    nullptr, "X.509 Certificate", "X.509 CRL", "Private Key", "Public Key", "Number",
    "Arbitrary Data",
};

/* see morvane/store.h */
constinit const int STORE_attr_sizes[STORE_ATTR_TYPE_NUM + 1] = {
    0, -1, 20, 20, 20, 20, 4, 4, 4, 20, -1, -1,
};

/* see morvane/store.h */
constinit const int STORE_param_sizes[7] = {0, 4, 4, -1, 0, 0, 0};

// ---- The handle.

/* see morvane/store.h */
STORE* STORE_new_method(const STORE_METHOD* method) {
  if (method == nullptr) {
    STOREerr(STORE_F_STORE_NEW_METHOD, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  auto* s = static_cast<STORE*>(MORVANE_malloc(sizeof(STORE)));
  if (s == nullptr) {
    STOREerr(STORE_F_STORE_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  *s = STORE{};
  s->meth = method;
  if (!CRYPTO_new_ex_data(CRYPTO_EX_INDEX_STORE, s, &s->ex_data)) {
    STOREerr(STORE_F_STORE_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    MORVANE_free(s);
    return nullptr;
  }
  if (method->init != nullptr && !method->init(s)) {
    STORE_free(s);
    return nullptr;
  }
  return s;
}

/* see morvane/store.h */
STORE* STORE_new_engine(ENGINE* engine) {
  if (engine == nullptr) {
    STOREerr(STORE_F_STORE_NEW_ENGINE, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (!ENGINE_init(engine)) {
    STOREerr(STORE_F_STORE_NEW_ENGINE, ERR_R_ENGINE_LIB);
    return nullptr;
  }
  const STORE_METHOD* meth = ENGINE_get_STORE(engine);
  if (meth == nullptr) {
    STOREerr(STORE_F_STORE_NEW_ENGINE, ERR_R_ENGINE_LIB);
    ENGINE_finish(engine);
    return nullptr;
  }
  STORE* s = STORE_new_method(meth);
  if (s == nullptr) {
    STOREerr(STORE_F_STORE_NEW_ENGINE, ERR_R_STORE_LIB);
    ENGINE_finish(engine);
    return nullptr;
  }
  s->engine = engine;
  return s;
}

/* see morvane/store.h */
void STORE_free(STORE* store) {
  if (store == nullptr) return;
  if (store->meth != nullptr && store->meth->clean != nullptr) store->meth->clean(store);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_STORE, store, &store->ex_data);
  // The functional reference STORE_new_engine took is the store's to give back.
  if (store->engine != nullptr) ENGINE_finish(store->engine);
  MORVANE_free(store);
}

/* see morvane/store.h */
int STORE_ctrl(STORE* store, int cmd, long i, void* p, void (*f)(void)) {
  if (store == nullptr) {
    STOREerr(STORE_F_STORE_CTRL, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (store->meth == nullptr || store->meth->ctrl == nullptr) {
    STOREerr(STORE_F_STORE_CTRL, STORE_R_NO_CONTROL_FUNCTION);
    return 0;
  }
  return store->meth->ctrl(store, cmd, i, p, f);
}

/* see morvane/store.h */
const STORE_METHOD* STORE_get_method(STORE* store) { return store->meth; }

/* see morvane/store.h */
const STORE_METHOD* STORE_set_method(STORE* store, const STORE_METHOD* meth) {
  store->meth = meth;
  return store->meth;
}

/* see morvane/store.h */
int STORE_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func,
                           CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_STORE, argl, argp, new_func, dup_func,
                                 free_func);
}

/* see morvane/store.h */
int STORE_set_ex_data(STORE* r, int idx, void* arg) {
  return CRYPTO_set_ex_data(&r->ex_data, idx, arg);
}

/* see morvane/store.h */
void* STORE_get_ex_data(STORE* r, int idx) { return CRYPTO_get_ex_data(&r->ex_data, idx); }

// ---- Objects.

namespace {

// The member of `obj` that its type names, or null for another type.
void** member(STORE_OBJECT* obj, int type) {
  switch (type) {
    case STORE_OBJECT_TYPE_X509_CERTIFICATE:
      return reinterpret_cast<void**>(&obj->data.x509.certificate);
    case STORE_OBJECT_TYPE_X509_CRL:
      return reinterpret_cast<void**>(&obj->data.crl);
    case STORE_OBJECT_TYPE_PRIVATE_KEY:
    case STORE_OBJECT_TYPE_PUBLIC_KEY:
      return reinterpret_cast<void**>(&obj->data.key);
    case STORE_OBJECT_TYPE_NUMBER:
      return reinterpret_cast<void**>(&obj->data.number);
    case STORE_OBJECT_TYPE_ARBITRARY:
      return reinterpret_cast<void**>(&obj->data.arbitrary);
    default:
      return nullptr;
  }
}

// Object types that name the same member (the two key types) map alike.
int same_member(int type) {
  return type == STORE_OBJECT_TYPE_PUBLIC_KEY ? STORE_OBJECT_TYPE_PRIVATE_KEY : type;
}

// Adds one reference to a certificate, CRL or key under its family's lock;
// numbers and buffers have no count (false).
bool up_ref(int type, void* value) {
  switch (type) {
    case STORE_OBJECT_TYPE_X509_CERTIFICATE:
      CRYPTO_add(&static_cast<X509*>(value)->references, 1, CRYPTO_LOCK_X509);
      return true;
    case STORE_OBJECT_TYPE_X509_CRL:
      CRYPTO_add(&static_cast<X509_CRL*>(value)->references, 1, CRYPTO_LOCK_X509_CRL);
      return true;
    case STORE_OBJECT_TYPE_PRIVATE_KEY:
    case STORE_OBJECT_TYPE_PUBLIC_KEY:
      CRYPTO_add(&static_cast<EVP_PKEY*>(value)->references, 1, CRYPTO_LOCK_EVP_PKEY);
      return true;
    default:
      return false;
  }
}

}  // namespace

/* see morvane/store.h */
STORE_OBJECT* STORE_OBJECT_new(void) {
  auto* obj = static_cast<STORE_OBJECT*>(MORVANE_malloc(sizeof(STORE_OBJECT)));
  if (obj != nullptr) *obj = STORE_OBJECT{};
  return obj;
}

/* see morvane/store.h */
void STORE_OBJECT_free(STORE_OBJECT* data) {
  if (data == nullptr) return;
  switch (data->type) {
    case STORE_OBJECT_TYPE_X509_CERTIFICATE:
      X509_free(data->data.x509.certificate);
      break;
    case STORE_OBJECT_TYPE_X509_CRL:
      X509_CRL_free(data->data.crl);
      break;
    case STORE_OBJECT_TYPE_PRIVATE_KEY:
    case STORE_OBJECT_TYPE_PUBLIC_KEY:
      EVP_PKEY_free(data->data.key);
      break;
    case STORE_OBJECT_TYPE_NUMBER:
      BN_free(data->data.number);
      break;
    case STORE_OBJECT_TYPE_ARBITRARY:
      BUF_MEM_free(data->data.arbitrary);
      break;
    default:
      break;
  }
  MORVANE_free(data);
}

// ---- The front end.

namespace {

// The function codes and reasons of one family.  A zero code marks an
// operation the family does not have.
struct Family {
  STORE_OBJECT_TYPES type;
  // function codes
  int f_generate, f_get, f_store, f_store_check, f_modify, f_revoke, f_delete;
  int f_list_start, f_list_next, f_list_end, f_list_endp;
  // missing-slot reasons that differ between families
  int no_generate, no_get, no_store, no_delete;
  // failure reasons
  int r_generate, r_get, r_store, r_modify, r_revoke, r_delete, r_list;
};

constexpr Family kCertificates = {
    STORE_OBJECT_TYPE_X509_CERTIFICATE,
    0, STORE_F_STORE_GET_CERTIFICATE, STORE_F_STORE_STORE_CERTIFICATE,
    STORE_F_STORE_CERTIFICATE, STORE_F_STORE_MODIFY_CERTIFICATE,
    STORE_F_STORE_REVOKE_CERTIFICATE, STORE_F_STORE_DELETE_CERTIFICATE,
    STORE_F_STORE_LIST_CERTIFICATE_START, STORE_F_STORE_LIST_CERTIFICATE_NEXT,
    STORE_F_STORE_LIST_CERTIFICATE_END, STORE_F_STORE_LIST_CERTIFICATE_ENDP,
    0, STORE_R_NO_GET_OBJECT_FUNCTION, STORE_R_NO_STORE_OBJECT_FUNCTION,
    STORE_R_NO_DELETE_OBJECT_FUNCTION,
    0, STORE_R_FAILED_GETTING_CERTIFICATE, STORE_R_FAILED_STORING_CERTIFICATE,
    STORE_R_FAILED_MODIFYING_CERTIFICATE, STORE_R_FAILED_REVOKING_CERTIFICATE,
    STORE_R_FAILED_DELETING_CERTIFICATE, STORE_R_FAILED_LISTING_CERTIFICATES,
};

constexpr Family kPrivateKeys = {
    STORE_OBJECT_TYPE_PRIVATE_KEY,
    STORE_F_STORE_GENERATE_KEY, STORE_F_STORE_GET_PRIVATE_KEY, STORE_F_STORE_STORE_PRIVATE_KEY,
    STORE_F_STORE_STORE_PRIVATE_KEY, STORE_F_STORE_MODIFY_PRIVATE_KEY,
    STORE_F_STORE_REVOKE_PRIVATE_KEY, STORE_F_STORE_DELETE_PRIVATE_KEY,
    STORE_F_STORE_LIST_PRIVATE_KEY_START, STORE_F_STORE_LIST_PRIVATE_KEY_NEXT,
    STORE_F_STORE_LIST_PRIVATE_KEY_END, STORE_F_STORE_LIST_PRIVATE_KEY_ENDP,
    STORE_R_NO_GENERATE_OBJECT_FUNCTION, STORE_R_NO_GET_OBJECT_FUNCTION,
    STORE_R_NO_STORE_OBJECT_FUNCTION, STORE_R_NO_DELETE_OBJECT_FUNCTION,
    STORE_R_FAILED_GENERATING_KEY, STORE_R_FAILED_GETTING_KEY, STORE_R_FAILED_STORING_KEY,
    STORE_R_FAILED_MODIFYING_PRIVATE_KEY, STORE_R_FAILED_REVOKING_KEY,
    STORE_R_FAILED_DELETING_KEY, STORE_R_FAILED_LISTING_KEYS,
};

constexpr Family kPublicKeys = {
    STORE_OBJECT_TYPE_PUBLIC_KEY,
    0, STORE_F_STORE_GET_PUBLIC_KEY, STORE_F_STORE_STORE_PUBLIC_KEY,
    STORE_F_STORE_STORE_PUBLIC_KEY, STORE_F_STORE_MODIFY_PUBLIC_KEY,
    STORE_F_STORE_REVOKE_PUBLIC_KEY, STORE_F_STORE_DELETE_PUBLIC_KEY,
    STORE_F_STORE_LIST_PUBLIC_KEY_START, STORE_F_STORE_LIST_PUBLIC_KEY_NEXT,
    STORE_F_STORE_LIST_PUBLIC_KEY_END, STORE_F_STORE_LIST_PUBLIC_KEY_ENDP,
    0, STORE_R_NO_GET_OBJECT_FUNCTION, STORE_R_NO_STORE_OBJECT_FUNCTION,
    STORE_R_NO_DELETE_OBJECT_FUNCTION,
    0, STORE_R_FAILED_GETTING_KEY, STORE_R_FAILED_STORING_KEY,
    STORE_R_FAILED_MODIFYING_PUBLIC_KEY, STORE_R_FAILED_REVOKING_KEY,
    STORE_R_FAILED_DELETING_KEY, STORE_R_FAILED_LISTING_KEYS,
};

// Revocation lists report the key family's getting, storing, deleting and
// listing reasons, as stored error handling expects.
constexpr Family kCrls = {
    STORE_OBJECT_TYPE_X509_CRL,
    STORE_F_STORE_GENERATE_CRL, STORE_F_STORE_GET_CRL, STORE_F_STORE_STORE_CRL,
    STORE_F_STORE_STORE_CRL, STORE_F_STORE_MODIFY_CRL, 0, STORE_F_STORE_DELETE_CRL,
    STORE_F_STORE_LIST_CRL_START, STORE_F_STORE_LIST_CRL_NEXT, STORE_F_STORE_LIST_CRL_END,
    STORE_F_STORE_LIST_CRL_ENDP,
    STORE_R_NO_GENERATE_CRL_FUNCTION, STORE_R_NO_GET_OBJECT_FUNCTION,
    STORE_R_NO_STORE_OBJECT_FUNCTION, STORE_R_NO_DELETE_OBJECT_FUNCTION,
    STORE_R_FAILED_GENERATING_CRL, STORE_R_FAILED_GETTING_KEY, STORE_R_FAILED_STORING_KEY,
    STORE_R_FAILED_MODIFYING_CRL, 0, STORE_R_FAILED_DELETING_KEY, STORE_R_FAILED_LISTING_KEYS,
};

constexpr Family kNumbers = {
    STORE_OBJECT_TYPE_NUMBER,
    0, STORE_F_STORE_GET_NUMBER, STORE_F_STORE_STORE_NUMBER, STORE_F_STORE_STORE_NUMBER,
    STORE_F_STORE_MODIFY_NUMBER, 0, STORE_F_STORE_DELETE_NUMBER, 0, 0, 0, 0,
    0, STORE_R_NO_GET_OBJECT_NUMBER_FUNCTION, STORE_R_NO_STORE_OBJECT_NUMBER_FUNCTION,
    STORE_R_NO_DELETE_NUMBER_FUNCTION,
    0, STORE_R_FAILED_GETTING_NUMBER, STORE_R_FAILED_STORING_NUMBER,
    STORE_R_FAILED_MODIFYING_NUMBER, 0, STORE_R_FAILED_DELETING_NUMBER, 0,
};

constexpr Family kArbitrary = {
    STORE_OBJECT_TYPE_ARBITRARY,
    0, STORE_F_STORE_GET_ARBITRARY, STORE_F_STORE_STORE_ARBITRARY,
    STORE_F_STORE_STORE_ARBITRARY, STORE_F_STORE_MODIFY_ARBITRARY, 0,
    STORE_F_STORE_DELETE_ARBITRARY, 0, 0, 0, 0,
    0, STORE_R_NO_GET_OBJECT_ARBITRARY_FUNCTION, STORE_R_NO_STORE_OBJECT_ARBITRARY_FUNCTION,
    STORE_R_NO_DELETE_ARBITRARY_FUNCTION,
    0, STORE_R_FAILED_GETTING_ARBITRARY, STORE_R_FAILED_STORING_ARBITRARY,
    STORE_R_FAILED_MODIFYING_ARBITRARY, 0, STORE_R_FAILED_DELETING_ARBITRARY, 0,
};

// The store's method when the store and the slot `slot` of its method are
// present; otherwise queues the reason under `func` and gives null.
template <typename Slot>
const STORE_METHOD* usable(STORE* s, Slot STORE_METHOD::*slot, int func, int no_slot) {
  if (s == nullptr || s->meth == nullptr) {
    STOREerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (s->meth->*slot == nullptr) {
    STOREerr(func, no_slot);
    return nullptr;
  }
  return s->meth;
}

// Hands the caller the family's member of the back end's object.  A
// certificate, CRL or key gets a reference of its own before the object (and
// with it the object's reference) goes; a number or buffer is detached and
// becomes the caller's.  An object typed for another member than the
// family's is refused rather than read through the wrong member of the union
// (it is freed by its own type); an untyped object's member is handed over
// as it is.
void* take_member(const Family& fam, STORE_OBJECT* obj, int func, int failure) {
  void** slot = obj == nullptr ? nullptr : member(obj, fam.type);
  if (obj != nullptr && obj->type != 0 && same_member(obj->type) != same_member(fam.type))
    slot = nullptr;
  if (slot == nullptr || *slot == nullptr) {
    STOREerr(func, failure);
    STORE_OBJECT_free(obj);
    return nullptr;
  }
  void* value = *slot;
  if (obj->type == 0 || !up_ref(fam.type, value)) *slot = nullptr;
  STORE_OBJECT_free(obj);
  return value;
}

void* generate(const Family& fam, STORE* s, MORVANE_ITEM* attributes, MORVANE_ITEM* parameters) {
  const STORE_METHOD* m =
      usable(s, &STORE_METHOD::generate_object, fam.f_generate, fam.no_generate);
  if (m == nullptr) return nullptr;
  return take_member(fam, m->generate_object(s, fam.type, attributes, parameters),
                     fam.f_generate, fam.r_generate);
}

void* get(const Family& fam, STORE* s, MORVANE_ITEM* attributes, MORVANE_ITEM* parameters) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::get_object, fam.f_get, fam.no_get);
  if (m == nullptr) return nullptr;
  return take_member(fam, m->get_object(s, fam.type, attributes, parameters), fam.f_get,
                     fam.r_get);
}

// The caller's item is lent to the back end in a wrapper of its own: a
// certificate, CRL or key with a reference for the call, which the wrapper's
// release gives back; a number or buffer without a copy.
int store(const Family& fam, STORE* s, void* data, MORVANE_ITEM* attributes,
          MORVANE_ITEM* parameters) {
  const STORE_METHOD* m =
      usable(s, &STORE_METHOD::store_object, fam.f_store_check, fam.no_store);
  if (m == nullptr) return 0;
  STORE_OBJECT* obj = STORE_OBJECT_new();
  if (obj == nullptr) {
    STOREerr(fam.f_store, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  obj->type = fam.type;
  *member(obj, fam.type) = data;
  const bool counted = data != nullptr && up_ref(fam.type, data);
  const int ok = m->store_object(s, fam.type, obj, attributes, parameters);
  if (!counted) *member(obj, fam.type) = nullptr;
  STORE_OBJECT_free(obj);
  if (!ok) {
    STOREerr(fam.f_store, fam.r_store);
    return 0;
  }
  return 1;
}

int modify(const Family& fam, STORE* s, MORVANE_ITEM* search, MORVANE_ITEM* add,
           MORVANE_ITEM* change, MORVANE_ITEM* remove, MORVANE_ITEM* parameters) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::modify_object, fam.f_modify,
                                 STORE_R_NO_MODIFY_OBJECT_FUNCTION);
  if (m == nullptr) return 0;
  if (!m->modify_object(s, fam.type, search, add, change, remove, parameters)) {
    STOREerr(fam.f_modify, fam.r_modify);
    return 0;
  }
  return 1;
}

int revoke(const Family& fam, STORE* s, MORVANE_ITEM* attributes, MORVANE_ITEM* parameters) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::revoke_object, fam.f_revoke,
                                 STORE_R_NO_REVOKE_OBJECT_FUNCTION);
  if (m == nullptr) return 0;
  if (!m->revoke_object(s, fam.type, attributes, parameters)) {
    STOREerr(fam.f_revoke, fam.r_revoke);
    return 0;
  }
  return 1;
}

int delete_object(const Family& fam, STORE* s, MORVANE_ITEM* attributes, MORVANE_ITEM* parameters) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::delete_object, fam.f_delete, fam.no_delete);
  if (m == nullptr) return 0;
  if (!m->delete_object(s, fam.type, attributes, parameters)) {
    STOREerr(fam.f_delete, fam.r_delete);
    return 0;
  }
  return 1;
}

void* list_start(const Family& fam, STORE* s, MORVANE_ITEM* attributes,
                 MORVANE_ITEM* parameters) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::list_object_start, fam.f_list_start,
                                 STORE_R_NO_LIST_OBJECT_START_FUNCTION);
  if (m == nullptr) return nullptr;
  void* handle = m->list_object_start(s, fam.type, attributes, parameters);
  if (handle == nullptr) STOREerr(fam.f_list_start, fam.r_list);
  return handle;
}

void* list_next(const Family& fam, STORE* s, void* handle) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::list_object_next, fam.f_list_next,
                                 STORE_R_NO_LIST_OBJECT_NEXT_FUNCTION);
  if (m == nullptr) return nullptr;
  return take_member(fam, m->list_object_next(s, handle), fam.f_list_next, fam.r_list);
}

int list_end(const Family& fam, STORE* s, void* handle) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::list_object_end, fam.f_list_end,
                                 STORE_R_NO_LIST_OBJECT_END_FUNCTION);
  if (m == nullptr) return 0;
  if (!m->list_object_end(s, handle)) {
    STOREerr(fam.f_list_end, fam.r_list);
    return 0;
  }
  return 1;
}

// 1 at the end of the listing; a listing with objects left counts as a
// failure of the family's listing.
int list_endp(const Family& fam, STORE* s, void* handle) {
  const STORE_METHOD* m = usable(s, &STORE_METHOD::list_object_endp, fam.f_list_endp,
                                 STORE_R_NO_LIST_OBJECT_ENDP_FUNCTION);
  if (m == nullptr) return 0;
  const int r = m->list_object_endp(s, handle);
  if (!r) STOREerr(fam.f_list_endp, fam.r_list);
  return r;
}

}  // namespace

// The public operations of each family, one line each.
#define MORVANE_STORE_LISTING(fam, name, T)                                                 \
  void* STORE_list_##name##_start(STORE* e, MORVANE_ITEM attributes[],                     \
                                  MORVANE_ITEM parameters[]) {                             \
    return list_start(fam, e, attributes, parameters);                                     \
  }                                                                                        \
  T* STORE_list_##name##_next(STORE* e, void* handle) {                                    \
    return static_cast<T*>(list_next(fam, e, handle));                                     \
  }                                                                                        \
  int STORE_list_##name##_end(STORE* e, void* handle) { return list_end(fam, e, handle); } \
  int STORE_list_##name##_endp(STORE* e, void* handle) { return list_endp(fam, e, handle); }

#define MORVANE_STORE_BASICS(fam, getname, name, T)                                          \
  T* STORE_get_##getname(STORE* e, MORVANE_ITEM attributes[], MORVANE_ITEM parameters[]) {  \
    return static_cast<T*>(get(fam, e, attributes, parameters));                            \
  }                                                                                         \
  int STORE_store_##name(STORE* e, T* data, MORVANE_ITEM attributes[],                      \
                         MORVANE_ITEM parameters[]) {                                       \
    return store(fam, e, data, attributes, parameters);                                     \
  }                                                                                         \
  int STORE_modify_##name(STORE* e, MORVANE_ITEM search_attributes[],                       \
                          MORVANE_ITEM add_attributes[], MORVANE_ITEM modify_attributes[],  \
                          MORVANE_ITEM delete_attributes[], MORVANE_ITEM parameters[]) {    \
    return modify(fam, e, search_attributes, add_attributes, modify_attributes,             \
                  delete_attributes, parameters);                                           \
  }                                                                                         \
  int STORE_delete_##name(STORE* e, MORVANE_ITEM attributes[], MORVANE_ITEM parameters[]) { \
    return delete_object(fam, e, attributes, parameters);                                          \
  }

#define MORVANE_STORE_REVOKE(fam, name)                                                     \
  int STORE_revoke_##name(STORE* e, MORVANE_ITEM attributes[], MORVANE_ITEM parameters[]) { \
    return revoke(fam, e, attributes, parameters);                                          \
  }

MORVANE_STORE_BASICS(kCertificates, certificate, certificate, X509)
MORVANE_STORE_REVOKE(kCertificates, certificate)
MORVANE_STORE_LISTING(kCertificates, certificate, X509)

MORVANE_STORE_BASICS(kPrivateKeys, private_key, private_key, EVP_PKEY)
MORVANE_STORE_REVOKE(kPrivateKeys, private_key)
MORVANE_STORE_LISTING(kPrivateKeys, private_key, EVP_PKEY)

MORVANE_STORE_BASICS(kPublicKeys, public_key, public_key, EVP_PKEY)
MORVANE_STORE_REVOKE(kPublicKeys, public_key)
MORVANE_STORE_LISTING(kPublicKeys, public_key, EVP_PKEY)

MORVANE_STORE_BASICS(kCrls, crl, crl, X509_CRL)
MORVANE_STORE_LISTING(kCrls, crl, X509_CRL)

MORVANE_STORE_BASICS(kNumbers, number, number, BIGNUM)
MORVANE_STORE_BASICS(kArbitrary, arbitrary, arbitrary, BUF_MEM)

#undef MORVANE_STORE_LISTING
#undef MORVANE_STORE_BASICS
#undef MORVANE_STORE_REVOKE

/* see morvane/store.h */
EVP_PKEY* STORE_generate_key(STORE* e, MORVANE_ITEM attributes[], MORVANE_ITEM parameters[]) {
  return static_cast<EVP_PKEY*>(generate(kPrivateKeys, e, attributes, parameters));
}

/* see morvane/store.h */
X509_CRL* STORE_generate_crl(STORE* e, MORVANE_ITEM attributes[], MORVANE_ITEM parameters[]) {
  return static_cast<X509_CRL*>(generate(kCrls, e, attributes, parameters));
}
