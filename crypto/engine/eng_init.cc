// Functional references: initialising and finishing engines.
//
// Implementation notes: both counts change under lock 30.  `init` runs with
// the lock held (an `init` callback must not take it); `finish` runs without
// it when ENGINE_finish releases the last reference, and with it when a
// table releases its cached engine.

#include <morvane/engine.h>
#include <morvane/err.h>

#include "engine/internal.h"
#include "internal/lock.h"

/* see morvane/engine.h */
int engine_unlocked_init(ENGINE* e) {
  int to_return = 1;
  if (e->funct_ref == 0 && e->init != nullptr) to_return = e->init(e);
  if (to_return) {
    e->struct_ref++;
    e->funct_ref++;
  }
  return to_return;
}

/* see morvane/engine.h */
int engine_unlocked_finish(ENGINE* e, int unlock_for_handlers) {
  int to_return = 1;
  e->funct_ref--;
  if (e->funct_ref == 0 && e->finish != nullptr) {
    if (unlock_for_handlers) CRYPTO_w_unlock(CRYPTO_LOCK_ENGINE);
    to_return = e->finish(e);
    if (unlock_for_handlers) CRYPTO_w_lock(CRYPTO_LOCK_ENGINE);
    if (!to_return) return 0;
  }
  morvane::engine::free_util(e, true);
  return to_return;
}

/* see morvane/engine.h */
int ENGINE_init(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_INIT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  return engine_unlocked_init(e);
}

/* see morvane/engine.h */
int ENGINE_finish(ENGINE* e) {
  if (e == nullptr) {
    ENGINEerr(ENGINE_F_ENGINE_FINISH, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  int to_return;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    to_return = engine_unlocked_finish(e, 1);
  }
  if (!to_return) {
    ENGINEerr(ENGINE_F_ENGINE_FINISH, ENGINE_R_FINISH_FAILED);
    return 0;
  }
  return to_return;
}
