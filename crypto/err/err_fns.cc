// The built-in storage functions of the error component: the error-string
// table keyed by packed code, the thread-state table keyed by thread id, and
// the counter of run-time library numbers, all guarded by static lock 1.
//
// Implementation notes: the thread-state table carries a reference count so
// that removing the last state frees the table only when no other call holds
// it.  Keys are compared as whole values: thread ids are unsigned longs whose
// difference does not fit an int.

#include <stdint.h>

#include <atomic>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>

#include "err/internal.h"
#include "internal/err_load.h"
#include "internal/lock.h"

namespace {

constinit std::atomic<const ERR_FNS*> installed_fns{nullptr};

constinit LHASH* error_hash = nullptr;   // ERR_STRING_DATA by code
constinit LHASH* thread_hash = nullptr;  // ERR_STATE by pid
constinit int thread_hash_references = 0;
constinit int next_library = ERR_LIB_USER;

int compare_whole(unsigned long a, unsigned long b) { return a < b ? -1 : a > b ? 1 : 0; }

// ---- the error-string table ----------------------------------------------

unsigned long err_string_hash(const void* p) {
  auto l = static_cast<uint32_t>(morvane::internal::string_code(*static_cast<const ERR_STRING_DATA*>(p)));
  uint32_t h = l ^ ((l >> 24) & 0xFF) ^ ((l >> 12) & 0xFFF);
  return h ^ ((h % 19) * 13);
}

int err_string_cmp(const void* a, const void* b) {
  return compare_whole(morvane::internal::string_code(*static_cast<const ERR_STRING_DATA*>(a)),
                       morvane::internal::string_code(*static_cast<const ERR_STRING_DATA*>(b)));
}

LHASH* err_get(int create) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  if (error_hash == nullptr && create) {
    // Label the table's blocks for the leak checker.
    CRYPTO_push_info("err_get (err/err_fns.cc)");
    error_hash = lh_new(err_string_hash, err_string_cmp);
    CRYPTO_pop_info();
  }
  return error_hash;
}

void err_del() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  if (error_hash == nullptr) return;
  lh_free(error_hash);
  error_hash = nullptr;
}

ERR_STRING_DATA* err_get_item(const ERR_STRING_DATA* d) {
  LHASH* hash = err_get(0);
  if (hash == nullptr) return nullptr;
  MORVANE_READ_LOCKED(CRYPTO_LOCK_ERR);
  return static_cast<ERR_STRING_DATA*>(lh_retrieve(hash, d));
}

ERR_STRING_DATA* err_set_item(ERR_STRING_DATA* d) {
  LHASH* hash = err_get(1);
  if (hash == nullptr) return nullptr;
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  return static_cast<ERR_STRING_DATA*>(lh_insert(hash, d));
}

ERR_STRING_DATA* err_del_item(ERR_STRING_DATA* d) {
  LHASH* hash = err_get(0);
  if (hash == nullptr) return nullptr;
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  return static_cast<ERR_STRING_DATA*>(lh_delete(hash, d));
}

// ---- the thread-state table ----------------------------------------------

unsigned long thread_state_hash(const void* p) {
  return static_cast<const ERR_STATE*>(p)->pid * 13;
}

int thread_state_cmp(const void* a, const void* b) {
  return compare_whole(static_cast<const ERR_STATE*>(a)->pid,
                       static_cast<const ERR_STATE*>(b)->pid);
}

LHASH* thread_get(int create) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  if (thread_hash == nullptr && create) {
    CRYPTO_push_info("thread_get (err/err_fns.cc)");
    thread_hash = lh_new(thread_state_hash, thread_state_cmp);
    CRYPTO_pop_info();
  }
  if (thread_hash == nullptr) return nullptr;
  thread_hash_references++;
  return thread_hash;
}

void thread_release(LHASH** hash) {
  if (hash == nullptr || *hash == nullptr) return;
  if (CRYPTO_add(&thread_hash_references, -1, CRYPTO_LOCK_ERR) > 0) return;
  *hash = nullptr;
}

ERR_STATE* thread_get_item(const ERR_STATE* d) {
  LHASH* hash = thread_get(0);
  if (hash == nullptr) return nullptr;
  ERR_STATE* p;
  {
    MORVANE_READ_LOCKED(CRYPTO_LOCK_ERR);
    p = static_cast<ERR_STATE*>(lh_retrieve(hash, d));
  }
  thread_release(&hash);
  return p;
}

ERR_STATE* thread_set_item(ERR_STATE* d) {
  LHASH* hash = thread_get(1);
  if (hash == nullptr) return nullptr;
  ERR_STATE* p;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
    p = static_cast<ERR_STATE*>(lh_insert(hash, d));
  }
  thread_release(&hash);
  return p;
}

void thread_del_item(const ERR_STATE* d) {
  LHASH* hash = thread_get(0);
  if (hash == nullptr) return;
  ERR_STATE* p;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
    p = static_cast<ERR_STATE*>(lh_delete(hash, d));
    // Only this call holds the table: free it once it is empty.
    if (thread_hash_references == 1 && thread_hash != nullptr && lh_num_items(thread_hash) == 0) {
      lh_free(thread_hash);
      thread_hash = nullptr;
    }
  }
  thread_release(&hash);
  if (p != nullptr) morvane::err::err_state_free(p);
}

int get_next_lib() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  return next_library++;
}

constexpr ERR_FNS kDefaults = {
    err_get,         err_del,          err_get_item,    err_set_item,
    err_del_item,    thread_get,       thread_release,  thread_get_item,
    thread_set_item, thread_del_item,  get_next_lib,
};

}  // namespace

namespace morvane::err {

const ERR_FNS* err_fns() { return internal::in_force(installed_fns, &kDefaults, CRYPTO_LOCK_ERR); }

}  // namespace morvane::err

/* see morvane/err.h */
const ERR_FNS* ERR_get_implementation(void) { return morvane::err::err_fns(); }

int ERR_set_implementation(const ERR_FNS* fns) {
  // Every error call goes through the table, so one with a null slot is
  // refused.  Nothing is queued: queuing would install the built-in table
  // and leave the caller no second try.
  if (fns != nullptr && (fns->cb_err_get == nullptr || fns->cb_err_del == nullptr ||
                         fns->cb_err_get_item == nullptr || fns->cb_err_set_item == nullptr ||
                         fns->cb_err_del_item == nullptr || fns->cb_thread_get == nullptr ||
                         fns->cb_thread_release == nullptr || fns->cb_thread_get_item == nullptr ||
                         fns->cb_thread_set_item == nullptr || fns->cb_thread_del_item == nullptr ||
                         fns->cb_get_next_lib == nullptr))
    return 0;
  return morvane::internal::install(installed_fns, fns, CRYPTO_LOCK_ERR) ? 1 : 0;
}

LHASH* ERR_get_err_state_table(void) { return morvane::err::err_fns()->cb_thread_get(0); }

void ERR_release_err_state_table(LHASH** hash) { morvane::err::err_fns()->cb_thread_release(hash); }

int ERR_get_next_error_library(void) { return morvane::err::err_fns()->cb_get_next_lib(); }
