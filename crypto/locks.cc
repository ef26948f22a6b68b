// Locks and thread identity: the application's callbacks and their dispatch,
// the atomic add for reference counts, the static lock names, application
// lock numbers and dynamic locks.
//
// Implementation notes: the callback slots are plain process-wide pointers set
// at start-up without a lock.  Dynamic lock i (i = -1, -2, ...) lives in slot
// -i - 1 of `dyn_locks`; a record is held by its reference count, not by lock
// 29, while a lock operation uses it, and is destroyed when the count reaches
// 0 through the destroy callback.

#include <unistd.h>

#include <array>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "internal/lock.h"

namespace {

// clang-format off
constexpr std::array<const char*, CRYPTO_NUM_LOCKS> kLockNames = {
    "<<ERROR>>",     "err",           "ex_data",      "x509",          "x509_info",
    "x509_pkey",     "x509_crl",      "x509_req",     "dsa",           "rsa",
    "evp_pkey",      "x509_store",    "ssl_ctx",      "ssl_cert",      "ssl_session",
    "ssl_sess_cert", "ssl",           "ssl_method",   "rand",          "rand2",
    "debug_malloc",  "BIO",           "gethostbyname", "getservbyname", "readdir",
    "RSA_blinding",  "dh",            "debug_malloc2", "dso",           "dynlock",
    "engine",        "ui",            "ecdsa",        "ec",            "ecdh",
    "bn",            "ec_pre_comp",   "store",        "comp",
};
// clang-format on
static_assert(kLockNames[CRYPTO_LOCK_ERR][0] == 'e' && kLockNames[CRYPTO_LOCK_COMP][0] == 'c');

struct CRYPTO_dynlock {
  int references;  // 1 for the owner, +1 per operation holding the lock
  CRYPTO_dynlock_value* data;
};

constinit STACK* app_locks = nullptr;  // registered names, numbers 40 upward
constinit STACK* dyn_locks = nullptr;  // CRYPTO_dynlock*, null in freed slots

constinit CRYPTO_locking_cb locking_callback = nullptr;
constinit CRYPTO_add_lock_cb add_lock_callback = nullptr;
constinit CRYPTO_id_cb id_callback = nullptr;
constinit CRYPTO_locking_cb do_dynlock_cb = nullptr;
constinit CRYPTO_dynlock_create_cb dynlock_create_callback = nullptr;
constinit CRYPTO_dynlock_lock_cb dynlock_lock_callback = nullptr;
constinit CRYPTO_dynlock_destroy_cb dynlock_destroy_callback = nullptr;
constinit bool dynlock_dispatcher_installed = false;

// Slot of dynamic number i; 0 maps to slot 0 too.  -1 for numbers that name
// no slot (positive ones).
long dynlock_slot(int i) {
  if (i == 0) return 0;
  return i < 0 ? -static_cast<long>(i) - 1 : -1;
}

// The record in the slot of number i, or null.  Lock 29 must be held.
CRYPTO_dynlock* dynlock_at(int i) {
  long slot = dynlock_slot(i);
  if (dyn_locks == nullptr || slot < 0 || slot >= sk_num(dyn_locks)) return nullptr;
  return reinterpret_cast<CRYPTO_dynlock*>(sk_value(dyn_locks, static_cast<int>(slot)));
}

// Behind CRYPTO_lock for negative numbers once a dynlock lock callback was set.
void do_dynlock(int mode, int type, const char* file, int line) {
  if (dynlock_lock_callback == nullptr) return;
  CRYPTO_dynlock_value* value = CRYPTO_get_dynlock_value(type);
  if (value == nullptr) MorvaneDie(__FILE__, 385, "pointer != NULL");
  dynlock_lock_callback(mode, value, file, line);
  CRYPTO_destroy_dynlockid(type);
}

}  // namespace

/* see morvane/crypto.h */
int CRYPTO_num_locks(void) { return CRYPTO_NUM_LOCKS; }

void CRYPTO_set_locking_callback(CRYPTO_locking_cb func) { locking_callback = func; }
CRYPTO_locking_cb CRYPTO_get_locking_callback(void) { return locking_callback; }
void CRYPTO_set_add_lock_callback(CRYPTO_add_lock_cb func) { add_lock_callback = func; }
CRYPTO_add_lock_cb CRYPTO_get_add_lock_callback(void) { return add_lock_callback; }
void CRYPTO_set_id_callback(CRYPTO_id_cb func) { id_callback = func; }
CRYPTO_id_cb CRYPTO_get_id_callback(void) { return id_callback; }

unsigned long CRYPTO_thread_id(void) {
  if (id_callback != nullptr) return id_callback();
  return static_cast<unsigned long>(getpid());
}

void CRYPTO_lock(int mode, int type, const char* file, int line) {
  if (type < 0) {
    if (do_dynlock_cb != nullptr) do_dynlock_cb(mode, type, file, line);
  } else if (locking_callback != nullptr) {
    locking_callback(mode, type, file, line);
  }
}

int CRYPTO_add_lock(int* pointer, int amount, int type, const char* file, int line) {
  if (add_lock_callback != nullptr) return add_lock_callback(pointer, amount, type, file, line);
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, type, file, line);
  // Wraps instead of overflowing; a count never comes near the limit.
  int ret =
      static_cast<int>(static_cast<unsigned int>(*pointer) + static_cast<unsigned int>(amount));
  *pointer = ret;
  CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_WRITE, type, file, line);
  return ret;
}

const char* CRYPTO_get_lock_name(int type) {
  if (type < 0) return "dynamic";
  if (type < CRYPTO_NUM_LOCKS) return kLockNames[type];
  int k = type - CRYPTO_NUM_LOCKS;
  if (k > sk_num(app_locks)) return "ERROR";  // sk_num is -1 while no name exists
  return sk_value(app_locks, k - 1);
}

int CRYPTO_get_new_lockid(char* name) {
  if (app_locks == nullptr && (app_locks = sk_new_null()) == nullptr) {
    CRYPTOerr(CRYPTO_F_CRYPTO_GET_NEW_LOCKID, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  char* str = BUF_strdup(name);
  if (str == nullptr) {
    CRYPTOerr(CRYPTO_F_CRYPTO_GET_NEW_LOCKID, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  int n = sk_push(app_locks, str);
  if (n == 0) {
    MORVANE_free(str);
    return 0;
  }
  return n + CRYPTO_NUM_LOCKS;
}

// ---- dynamic locks --------------------------------------------------------

void int_CRYPTO_set_do_dynlock_callback(CRYPTO_locking_cb dyn_cb) { do_dynlock_cb = dyn_cb; }

void CRYPTO_set_dynlock_create_callback(CRYPTO_dynlock_create_cb func) {
  dynlock_create_callback = func;
}

void CRYPTO_set_dynlock_lock_callback(CRYPTO_dynlock_lock_cb func) {
  if (!dynlock_dispatcher_installed) {
    int_CRYPTO_set_do_dynlock_callback(do_dynlock);
    dynlock_dispatcher_installed = true;
  }
  dynlock_lock_callback = func;
}

void CRYPTO_set_dynlock_destroy_callback(CRYPTO_dynlock_destroy_cb func) {
  dynlock_destroy_callback = func;
}

CRYPTO_dynlock_create_cb CRYPTO_get_dynlock_create_callback(void) {
  return dynlock_create_callback;
}
CRYPTO_dynlock_lock_cb CRYPTO_get_dynlock_lock_callback(void) { return dynlock_lock_callback; }
CRYPTO_dynlock_destroy_cb CRYPTO_get_dynlock_destroy_callback(void) {
  return dynlock_destroy_callback;
}

int CRYPTO_get_new_dynlockid(void) {
  if (dynlock_create_callback == nullptr) {
    CRYPTOerr(CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID, CRYPTO_R_NO_DYNLOCK_CREATE_CALLBACK);
    return 0;
  }
  bool have_table;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_DYNLOCK);
    if (dyn_locks == nullptr) dyn_locks = sk_new_null();
    have_table = dyn_locks != nullptr;
  }
  if (!have_table) {
    CRYPTOerr(CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID, ERR_R_MALLOC_FAILURE);
    return 0;
  }

  auto* lock = static_cast<CRYPTO_dynlock*>(MORVANE_malloc(sizeof(CRYPTO_dynlock)));
  if (lock == nullptr) {
    CRYPTOerr(CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  lock->references = 1;
  lock->data = dynlock_create_callback(__FILE__, __LINE__);
  if (lock->data == nullptr) {
    MORVANE_free(lock);
    CRYPTOerr(CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID, ERR_R_MALLOC_FAILURE);
    return 0;
  }

  int slot;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_DYNLOCK);
    // Reuse the first freed slot; without a comparison sk_find matches by
    // pointer, so searching for null finds it.
    slot = sk_find(dyn_locks, nullptr);
    if (slot >= 0)
      sk_set(dyn_locks, slot, reinterpret_cast<char*>(lock));
    else
      slot = sk_push(dyn_locks, reinterpret_cast<char*>(lock)) - 1;
  }
  if (slot < 0) {
    if (dynlock_destroy_callback != nullptr)
      dynlock_destroy_callback(lock->data, __FILE__, __LINE__);
    MORVANE_free(lock);
    return 0;
  }
  return -(slot + 1);
}

void CRYPTO_destroy_dynlockid(int i) {
  if (dynlock_destroy_callback == nullptr) {
    // Nothing can be destroyed without the callback, but a reference taken by
    // CRYPTO_get_dynlock_value (every dynamic lock operation takes one) is
    // still given back, so the count stays bounded; the owner's own reference
    // is never dropped here.
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_DYNLOCK);
    CRYPTO_dynlock* lock = dynlock_at(i);
    if (lock != nullptr && lock->references > 1) lock->references--;
    return;
  }
  CRYPTO_dynlock* doomed = nullptr;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_DYNLOCK);
    CRYPTO_dynlock* lock = dynlock_at(i);
    if (lock != nullptr && --lock->references <= 0) {
      sk_set(dyn_locks, static_cast<int>(dynlock_slot(i)), nullptr);
      doomed = lock;
    }
  }
  if (doomed != nullptr) {
    dynlock_destroy_callback(doomed->data, __FILE__, __LINE__);
    MORVANE_free(doomed);
  }
}

CRYPTO_dynlock_value* CRYPTO_get_dynlock_value(int i) {
  CRYPTO_dynlock* lock;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_DYNLOCK);
    lock = dynlock_at(i);
    if (lock != nullptr) lock->references++;
  }
  return lock != nullptr ? lock->data : nullptr;
}
