// The process-wide engine list: adding, removing, walking and looking up
// engines by id.
//
// Implementation notes: the list is doubly linked in order of addition and
// holds one structural reference per engine; lock 30 guards the links and
// the counts.  The list's cleanup is registered at the back of the cleanup
// registry when the first engine is added, so ENGINE_cleanup frees the
// tables before it empties the list.

#include <stdlib.h>
#include <string.h>

#include <morvane/engine.h>
#include <morvane/err.h>

#include "engine/internal.h"
#include "internal/lock.h"

namespace morvane::engine {
namespace {

constinit ENGINE* engine_list_head = nullptr;
constinit ENGINE* engine_list_tail = nullptr;

// Lock 30 held.
int list_add(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_LIST_ADD, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  for (ENGINE* it = engine_list_head; it != nullptr; it = it->next) {
    if (strcmp(it->id, e->id) == 0) {
      ENGINEerr(ENGINE_F_ENGINE_LIST_ADD, ENGINE_R_CONFLICTING_ENGINE_ID);
      return 0;
    }
  }
  if (engine_list_head == nullptr) {
    if (engine_list_tail != nullptr) {
      ENGINEerr(ENGINE_F_ENGINE_LIST_ADD, ENGINE_R_INTERNAL_LIST_ERROR);
      return 0;
    }
    engine_list_head = e;
    e->prev = nullptr;
    engine_cleanup_add_last(list_cleanup);
  } else {
    if (engine_list_tail == nullptr || engine_list_tail->next != nullptr) {
      ENGINEerr(ENGINE_F_ENGINE_LIST_ADD, ENGINE_R_INTERNAL_LIST_ERROR);
      return 0;
    }
    engine_list_tail->next = e;
    e->prev = engine_list_tail;
  }
  e->struct_ref++;
  engine_list_tail = e;
  e->next = nullptr;
  return 1;
}

// Lock 30 held.
int list_remove(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_LIST_REMOVE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  ENGINE* it = engine_list_head;
  while (it != nullptr && it != e) it = it->next;
  if (it == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_LIST_REMOVE, ENGINE_R_ENGINE_IS_NOT_IN_THE_LIST);
    return 0;
  }
  if (e->next != nullptr) e->next->prev = e->prev;
  if (e->prev != nullptr) e->prev->next = e->next;
  if (engine_list_head == e) engine_list_head = e->next;
  if (engine_list_tail == e) engine_list_tail = e->prev;
  free_util(e, true);
  return 1;
}

// A copy of `src` outside the list (for ENGINE_FLAGS_BY_ID_COPY).
ENGINE* copy_of(const ENGINE* src) {
  ENGINE* e = ENGINE_new();
  if (e == nullptr) return nullptr;
  e->id = src->id;
  e->name = src->name;
  e->rsa_meth = src->rsa_meth;
  e->dsa_meth = src->dsa_meth;
  e->dh_meth = src->dh_meth;
  e->ecdh_meth = src->ecdh_meth;
  e->ecdsa_meth = src->ecdsa_meth;
  e->rand_meth = src->rand_meth;
  e->store_meth = src->store_meth;
  e->ciphers = src->ciphers;
  e->digests = src->digests;
  e->destroy = src->destroy;
  e->init = src->init;
  e->finish = src->finish;
  e->ctrl = src->ctrl;
  e->load_privkey = src->load_privkey;
  e->load_pubkey = src->load_pubkey;
  e->load_ssl_client_cert = src->load_ssl_client_cert;
  e->cmd_defns = src->cmd_defns;
  e->flags = src->flags;
  return e;
}

// The neighbour that `step` picks, with a structural reference; releases `e`.
ENGINE* step_from(ENGINE* e, ENGINE* ENGINE::*link, int func) {
  if (e == nullptr) {
    ENGINEerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  ENGINE* ret;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    ret = e->*link;
    if (ret != nullptr) ret->struct_ref++;
  }
  ENGINE_free(e);
  return ret;
}

ENGINE* end_of(ENGINE* const& end) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  ENGINE* ret = end;
  if (ret != nullptr) ret->struct_ref++;
  return ret;
}

}  // namespace

void list_cleanup() {
  ENGINE* it;
  while ((it = engine_list_head) != nullptr) ENGINE_remove(it);
}

}  // namespace morvane::engine

using namespace morvane::engine;

/* see morvane/engine.h */
ENGINE* ENGINE_get_first(void) {
  return end_of(engine_list_head);
}

/* see morvane/engine.h */
ENGINE* ENGINE_get_last(void) {
  return end_of(engine_list_tail);
}

/* see morvane/engine.h */
ENGINE* ENGINE_get_next(ENGINE* e) {
  return step_from(e, &ENGINE::next, ENGINE_F_ENGINE_GET_NEXT);
}

/* see morvane/engine.h */
ENGINE* ENGINE_get_prev(ENGINE* e) {
  return step_from(e, &ENGINE::prev, ENGINE_F_ENGINE_GET_PREV);
}

/* see morvane/engine.h */
int ENGINE_add(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_ADD, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (e->id == nullptr || e->name == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_ADD, ENGINE_R_ID_OR_NAME_MISSING);
    return 0;
  }
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  if (!list_add(e)) {
    ENGINEerr(ENGINE_F_ENGINE_ADD, ENGINE_R_INTERNAL_LIST_ERROR);
    return 0;
  }
  return 1;
}

/* see morvane/engine.h */
int ENGINE_remove(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_REMOVE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  if (!list_remove(e)) {
    ENGINEerr(ENGINE_F_ENGINE_REMOVE, ENGINE_R_INTERNAL_LIST_ERROR);
    return 0;
  }
  return 1;
}
/* see morvane/engine.h */
ENGINE* ENGINE_by_id(const char* id) {
  if (id == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_BY_ID, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  ENGINE* found = nullptr;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    for (ENGINE* it = engine_list_head; it != nullptr; it = it->next) {
      if (strcmp(id, it->id) != 0) continue;
      if (it->flags & ENGINE_FLAGS_BY_ID_COPY) {
        found = copy_of(it);
      } else {
        it->struct_ref++;
        found = it;
      }
      break;
    }
  }
  if (found != nullptr) return found;
  // Not listed: ask the "dynamic" engine to load it from a shared object.
  ENGINE* dyn = nullptr;
  if (strcmp(id, "dynamic") != 0) {
    const char* dir = getenv("MORVANE_ENGINES");
    dyn = ENGINE_by_id("dynamic");
    if (dyn != nullptr && ENGINE_ctrl_cmd_string(dyn, "ID", id, 0) &&
        ENGINE_ctrl_cmd_string(dyn, "DIR_LOAD", "2", 0) &&
        ENGINE_ctrl_cmd_string(dyn, "DIR_ADD", dir != nullptr ? dir : "/usr/local/ssl/lib/engines",
                               0) &&
        ENGINE_ctrl_cmd_string(dyn, "LOAD", nullptr, 0))
      return dyn;
  }
  if (dyn != nullptr) ENGINE_free(dyn);
  ENGINEerr(ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE);
  ERR_add_error_data(2, "id=", id);
  return nullptr;
}
