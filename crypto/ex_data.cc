// Per-object extra data: the replaceable registry of classes and indexes, its
// built-in implementation, and the per-object slot values.
//
// Implementation notes: the registry is a hash table of class items keyed by
// class number, created on first need.  Setup, duplication and release copy a
// class's index records under a read lock of lock 2 and run the callbacks on
// that copy with no lock held, so a callback may use this file's functions.

#include <atomic>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

#include "internal/lock.h"
#include "internal/table_insert.h"

namespace {

struct ExClassItem {
  int class_index;
  STACK* meth;   // CRYPTO_EX_DATA_FUNCS* by index
  int meth_num;  // the next index to hand out
};

constinit std::atomic<LHASH*> ex_data{nullptr};
constinit int ex_class = CRYPTO_EX_INDEX_USER;
constinit std::atomic<const CRYPTO_EX_DATA_IMPL*> impl{nullptr};

unsigned long ex_class_hash(const void* p) {
  return static_cast<unsigned long>(static_cast<const ExClassItem*>(p)->class_index);
}

int ex_class_cmp(const void* a, const void* b) {
  int x = static_cast<const ExClassItem*>(a)->class_index;
  int y = static_cast<const ExClassItem*>(b)->class_index;
  return x < y ? -1 : x > y ? 1 : 0;
}

CRYPTO_EX_DATA_FUNCS* index_record(const ExClassItem* item, int i) {
  return reinterpret_cast<CRYPTO_EX_DATA_FUNCS*>(sk_value(item->meth, i));
}

// Creates the registry when it is missing; false when that fails.
bool ex_data_check() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_EX_DATA);
  if (ex_data.load(std::memory_order_relaxed) == nullptr) {
    LHASH* table = lh_new(ex_class_hash, ex_class_cmp);
    if (table == nullptr) return false;
    ex_data.store(table, std::memory_order_release);
  }
  return true;
}

// The item of a class, created at its first use; null (with an error queued
// unless the registry itself is missing) on failure.
ExClassItem* def_get_class(int class_index) {
  if (ex_data.load(std::memory_order_acquire) == nullptr && !ex_data_check()) return nullptr;
  ExClassItem* p;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_EX_DATA);
    LHASH* table = ex_data.load(std::memory_order_relaxed);
    ExClassItem key = {class_index, nullptr, 0};
    p = static_cast<ExClassItem*>(lh_retrieve(table, &key));
    if (p == nullptr) {
      auto* gen = static_cast<ExClassItem*>(MORVANE_malloc(sizeof(ExClassItem)));
      if (gen != nullptr) {
        gen->class_index = class_index;
        gen->meth_num = 0;
        gen->meth = sk_new_null();
        if (gen->meth != nullptr) {
          if (morvane::internal::table_insert(table, gen, nullptr)) {
            p = gen;
          } else {
            sk_free(gen->meth);
          }
        }
        if (p == nullptr) MORVANE_free(gen);
      }
    }
  }
  if (p == nullptr) CRYPTOerr(CRYPTO_F_DEF_GET_CLASS, ERR_R_MALLOC_FAILURE);
  return p;
}

int def_add_index(ExClassItem* item, long argl, void* argp, CRYPTO_EX_new* new_func,
                  CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  auto* a = static_cast<CRYPTO_EX_DATA_FUNCS*>(MORVANE_malloc(sizeof(CRYPTO_EX_DATA_FUNCS)));
  if (a == nullptr) {
    CRYPTOerr(CRYPTO_F_DEF_ADD_INDEX, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  a->argl = argl;
  a->argp = argp;
  a->new_func = new_func;
  a->dup_func = dup_func;
  a->free_func = free_func;
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_EX_DATA);
  while (sk_num(item->meth) <= item->meth_num) {
    if (sk_push(item->meth, nullptr) == 0) {
      CRYPTOerr(CRYPTO_F_DEF_ADD_INDEX, ERR_R_MALLOC_FAILURE);
      MORVANE_free(a);
      return -1;
    }
  }
  int index = item->meth_num++;
  sk_set(item->meth, index, reinterpret_cast<char*>(a));
  return index;
}

// The first `mx` index records of a class, copied under a read lock; *mx is
// the number of records (capped at `limit` when it is not negative).  Null
// with *mx > 0 means the copy could not be allocated.
CRYPTO_EX_DATA_FUNCS** snapshot(const ExClassItem* item, int limit, int* mx) {
  CRYPTO_EX_DATA_FUNCS** storage = nullptr;
  MORVANE_READ_LOCKED(CRYPTO_LOCK_EX_DATA);
  *mx = sk_num(item->meth);
  if (limit >= 0 && limit < *mx) *mx = limit;
  if (*mx > 0) {
    storage = static_cast<CRYPTO_EX_DATA_FUNCS**>(
        MORVANE_malloc(static_cast<size_t>(*mx) * sizeof(CRYPTO_EX_DATA_FUNCS*)));
    if (storage != nullptr)
      for (int i = 0; i < *mx; i++) storage[i] = index_record(item, i);
  }
  return storage;
}

// ---- the built-in implementation -------------------------------------------

int int_new_class() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_EX_DATA);
  return ex_class++;
}

void free_index_record(void* p) { MORVANE_free(p); }

void free_class_item(void* p) {
  auto* item = static_cast<ExClassItem*>(p);
  sk_pop_free(item->meth, free_index_record);
  MORVANE_free(item);
}

void int_cleanup() {
  if (!ex_data_check()) return;
  LHASH* table = ex_data.load(std::memory_order_relaxed);
  lh_doall(table, free_class_item);
  lh_free(table);
  ex_data.store(nullptr, std::memory_order_release);
  impl.store(nullptr, std::memory_order_release);
}

int int_get_new_index(int class_index, long argl, void* argp, CRYPTO_EX_new* new_func,
                      CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  ExClassItem* item = def_get_class(class_index);
  if (item == nullptr) return -1;
  return def_add_index(item, argl, argp, new_func, dup_func, free_func);
}

int int_new_ex_data(int class_index, void* obj, CRYPTO_EX_DATA* ad) {
  ad->sk = nullptr;  // before any failure: callers free it whatever the result
  ExClassItem* item = def_get_class(class_index);
  if (item == nullptr) return 0;
  int mx;
  CRYPTO_EX_DATA_FUNCS** storage = snapshot(item, -1, &mx);
  if (mx > 0 && storage == nullptr) {
    CRYPTOerr(CRYPTO_F_INT_NEW_EX_DATA, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  for (int i = 0; i < mx; i++) {
    if (storage[i] != nullptr && storage[i]->new_func != nullptr)
      storage[i]->new_func(obj, CRYPTO_get_ex_data(ad, i), ad, i, storage[i]->argl,
                           storage[i]->argp);
  }
  MORVANE_free(storage);
  return 1;
}

int int_dup_ex_data(int class_index, CRYPTO_EX_DATA* to, CRYPTO_EX_DATA* from) {
  if (from->sk == nullptr) return 1;  // nothing to copy; `to` stays untouched
  ExClassItem* item = def_get_class(class_index);
  if (item == nullptr) return 0;
  int mx;
  CRYPTO_EX_DATA_FUNCS** storage = snapshot(item, sk_num(from->sk), &mx);
  if (mx > 0 && storage == nullptr) {
    CRYPTOerr(CRYPTO_F_INT_DUP_EX_DATA, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  for (int i = 0; i < mx; i++) {
    void* ptr = CRYPTO_get_ex_data(from, i);
    if (storage[i] != nullptr && storage[i]->dup_func != nullptr)
      storage[i]->dup_func(to, from, &ptr, i, storage[i]->argl, storage[i]->argp);
    CRYPTO_set_ex_data(to, i, ptr);
  }
  MORVANE_free(storage);
  return 1;
}

void int_free_ex_data(int class_index, void* obj, CRYPTO_EX_DATA* ad) {
  ExClassItem* item = def_get_class(class_index);
  if (item == nullptr) return;
  int mx;
  CRYPTO_EX_DATA_FUNCS** storage = snapshot(item, -1, &mx);
  if (mx > 0 && storage == nullptr) {
    CRYPTOerr(CRYPTO_F_INT_FREE_EX_DATA, ERR_R_MALLOC_FAILURE);
    return;
  }
  for (int i = 0; i < mx; i++) {
    if (storage[i] != nullptr && storage[i]->free_func != nullptr)
      storage[i]->free_func(obj, CRYPTO_get_ex_data(ad, i), ad, i, storage[i]->argl,
                            storage[i]->argp);
  }
  MORVANE_free(storage);
  if (ad->sk != nullptr) {
    sk_free(ad->sk);
    ad->sk = nullptr;
  }
}

constexpr CRYPTO_EX_DATA_IMPL kImplDefault = {
    int_new_class,   int_cleanup,     int_get_new_index,
    int_new_ex_data, int_dup_ex_data, int_free_ex_data,
};

// The table in force, installing the built-in one when none is.
const CRYPTO_EX_DATA_IMPL* impl_in_force() {
  return morvane::internal::in_force(impl, &kImplDefault, CRYPTO_LOCK_EX_DATA);
}

}  // namespace

/* see morvane/crypto.h */
const CRYPTO_EX_DATA_IMPL* CRYPTO_get_ex_data_implementation(void) { return impl_in_force(); }

int CRYPTO_set_ex_data_implementation(const CRYPTO_EX_DATA_IMPL* i) {
  // Every object of the library goes through the table: one with a null slot
  // is refused.
  if (i != nullptr && (i->cb_new_class == nullptr || i->cb_cleanup == nullptr ||
                       i->cb_get_new_index == nullptr || i->cb_new_ex_data == nullptr ||
                       i->cb_dup_ex_data == nullptr || i->cb_free_ex_data == nullptr)) {
    CRYPTOerr(CRYPTO_F_CRYPTO_SET_EX_DATA_IMPLEMENTATION, CRYPTO_R_INCOMPLETE_TABLE);
    return 0;
  }
  return morvane::internal::install(impl, i, CRYPTO_LOCK_EX_DATA) ? 1 : 0;
}

int CRYPTO_ex_data_new_class(void) { return impl_in_force()->cb_new_class(); }

void CRYPTO_cleanup_all_ex_data(void) { impl_in_force()->cb_cleanup(); }

int CRYPTO_get_ex_new_index(int class_index, long argl, void* argp, CRYPTO_EX_new* new_func,
                            CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  return impl_in_force()->cb_get_new_index(class_index, argl, argp, new_func, dup_func,
                                           free_func);
}

int CRYPTO_new_ex_data(int class_index, void* obj, CRYPTO_EX_DATA* ad) {
  return impl_in_force()->cb_new_ex_data(class_index, obj, ad);
}

int CRYPTO_dup_ex_data(int class_index, CRYPTO_EX_DATA* to, CRYPTO_EX_DATA* from) {
  return impl_in_force()->cb_dup_ex_data(class_index, to, from);
}

void CRYPTO_free_ex_data(int class_index, void* obj, CRYPTO_EX_DATA* ad) {
  impl_in_force()->cb_free_ex_data(class_index, obj, ad);
}

int CRYPTO_set_ex_data(CRYPTO_EX_DATA* ad, int idx, void* val) {
  if (ad->sk == nullptr && (ad->sk = sk_new_null()) == nullptr) {
    CRYPTOerr(CRYPTO_F_CRYPTO_SET_EX_DATA, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  for (long i = sk_num(ad->sk); i <= idx; i++) {
    if (sk_push(ad->sk, nullptr) == 0) {
      CRYPTOerr(CRYPTO_F_CRYPTO_SET_EX_DATA, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  sk_set(ad->sk, idx, static_cast<char*>(val));
  return 1;
}

void* CRYPTO_get_ex_data(const CRYPTO_EX_DATA* ad, int idx) {
  if (ad->sk == nullptr) return nullptr;
  return sk_value(ad->sk, idx);
}
