// The store-method builder: a zero-filled table with a copy of its name and
// one setter and getter per slot (none for list_object_endp).

#include <cstddef>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/store.h>

// The slots keep the order back ends written against this table rely on.
static_assert(offsetof(STORE_METHOD, name) == 0);
static_assert(offsetof(STORE_METHOD, init) == 1 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, clean) == 2 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, generate_object) == 3 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, get_object) == 4 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, store_object) == 5 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, modify_object) == 6 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, revoke_object) == 7 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, delete_object) == 8 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, list_object_start) == 9 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, list_object_next) == 10 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, list_object_end) == 11 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, list_object_endp) == 12 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, update_store) == 13 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, lock_store) == 14 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, unlock_store) == 15 * sizeof(void*));
static_assert(offsetof(STORE_METHOD, ctrl) == 16 * sizeof(void*));
static_assert(sizeof(STORE_METHOD) == 17 * sizeof(void*));

/* see morvane/store.h */
STORE_METHOD* STORE_create_method(char* name) {
  auto* m = static_cast<STORE_METHOD*>(MORVANE_malloc(sizeof(STORE_METHOD)));
  if (m == nullptr) return nullptr;
  *m = STORE_METHOD{};
  if (name != nullptr) {
    m->name = BUF_strdup(name);
    if (m->name == nullptr) {
      MORVANE_free(m);
      return nullptr;
    }
  }
  return m;
}

/* see morvane/store.h */
void STORE_destroy_method(STORE_METHOD* store_method) {
  if (store_method == nullptr) return;
  MORVANE_free(store_method->name);
  MORVANE_free(store_method);
}

// One setter and one getter per slot.
#define MORVANE_STORE_SLOT(fname, slot, type)                         \
  int STORE_method_set_##fname##_function(STORE_METHOD* sm, type f) { \
    if (sm == nullptr) return 0;                                      \
    sm->slot = f;                                                     \
    return 1;                                                         \
  }                                                                   \
  type STORE_method_get_##fname##_function(STORE_METHOD* sm) {        \
    return sm == nullptr ? nullptr : sm->slot;                        \
  }

MORVANE_STORE_SLOT(initialise, init, STORE_INITIALISE_FUNC_PTR)
MORVANE_STORE_SLOT(cleanup, clean, STORE_CLEANUP_FUNC_PTR)
MORVANE_STORE_SLOT(generate, generate_object, STORE_GENERATE_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(get, get_object, STORE_GET_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(store, store_object, STORE_STORE_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(modify, modify_object, STORE_MODIFY_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(revoke, revoke_object, STORE_HANDLE_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(delete, delete_object, STORE_HANDLE_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(list_start, list_object_start, STORE_START_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(list_next, list_object_next, STORE_NEXT_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(list_end, list_object_end, STORE_END_OBJECT_FUNC_PTR)
MORVANE_STORE_SLOT(update_store, update_store, STORE_GENERIC_FUNC_PTR)
MORVANE_STORE_SLOT(lock_store, lock_store, STORE_GENERIC_FUNC_PTR)
MORVANE_STORE_SLOT(unlock_store, unlock_store, STORE_GENERIC_FUNC_PTR)
MORVANE_STORE_SLOT(ctrl, ctrl, STORE_CTRL_FUNC_PTR)

#undef MORVANE_STORE_SLOT
