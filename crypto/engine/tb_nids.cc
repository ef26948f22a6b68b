// The cipher and digest tables: one pile per NID that an engine's callback
// lists, and the callbacks' descriptions.

#include <morvane/engine.h>
#include <morvane/err.h>

#include "engine/internal.h"

namespace {

// Registers `e` for every NID its callback lists (none: 1, nothing done).
template <class Obj>
int register_nids(ENGINE_TABLE** table, ENGINE_CLEANUP_CB* cleanup, ENGINE* e,
                  int (*cb)(ENGINE*, const Obj**, const int**, int), bool setdefault) {
  const int* nids = nullptr;
  int num = cb != nullptr ? cb(e, nullptr, &nids, 0) : 0;
  if (num <= 0) return 1;
  return engine_table_register(table, cleanup, e, nids, num, setdefault);
}

// The callback's description of `nid`, or null with `reason` pushed.
template <class Obj>
const Obj* described(ENGINE* e, int (*cb)(ENGINE*, const Obj**, const int**, int), int nid,
                     int func, int reason) {
  const Obj* ret = nullptr;
  if (cb == nullptr || !cb(e, &ret, nullptr, nid)) {
    ERR_put_error(ERR_LIB_ENGINE, func, reason, __FILE__, __LINE__);
    return nullptr;
  }
  return ret;
}

}  // namespace

// The functions of the table `kind` (ciphers or digests) over the callback
// field `kind`; `Obj` is the description type, `Ptr` the callback type.
#define MORVANE_ENGINE_NID_TABLE(kind, Obj, Ptr, one, FUNC, REASON)                            \
  namespace {                                                                                  \
  constinit ENGINE_TABLE* kind##_table = nullptr;                                              \
  }                                                                                            \
  void engine_unregister_all_##kind(void) {                                                    \
    engine_table_cleanup(&kind##_table);                                                       \
  }                                                                                            \
  int ENGINE_register_##kind(ENGINE* e) {                                                      \
    if (e == nullptr) return 0;                                                                \
    return register_nids<Obj>(&kind##_table, engine_unregister_all_##kind, e, e->kind, false); \
  }                                                                                            \
  int ENGINE_set_default_##kind(ENGINE* e) {                                                   \
    if (e == nullptr) return 0;                                                                \
    return register_nids<Obj>(&kind##_table, engine_unregister_all_##kind, e, e->kind, true);  \
  }                                                                                            \
  void ENGINE_unregister_##kind(ENGINE* e) {                                                   \
    engine_table_unregister(&kind##_table, e);                                                 \
  }                                                                                            \
  void ENGINE_register_all_##kind(void) {                                                      \
    for (ENGINE* e = ENGINE_get_first(); e != nullptr; e = ENGINE_get_next(e))                 \
      ENGINE_register_##kind(e);                                                               \
  }                                                                                            \
  ENGINE* ENGINE_get_##one##_engine(int nid) {                                                 \
    return engine_table_select(&kind##_table, nid);                                            \
  }                                                                                            \
  const Obj* ENGINE_get_##one(ENGINE* e, int nid) {                                            \
    return described<Obj>(e, e != nullptr ? e->kind : nullptr, nid, FUNC, REASON);             \
  }                                                                                            \
  int ENGINE_set_##kind(ENGINE* e, Ptr f) {                                                    \
    if (e == nullptr) return 0;                                                                \
    e->kind = f;                                                                               \
    return 1;                                                                                  \
  }                                                                                            \
  Ptr ENGINE_get_##kind(const ENGINE* e) {                                                     \
    return e != nullptr ? e->kind : nullptr;                                                   \
  }

/* see morvane/engine.h */
MORVANE_ENGINE_NID_TABLE(ciphers, EVP_CIPHER, ENGINE_CIPHERS_PTR, cipher,
                         ENGINE_F_ENGINE_GET_CIPHER, ENGINE_R_UNIMPLEMENTED_CIPHER)
MORVANE_ENGINE_NID_TABLE(digests, EVP_MD, ENGINE_DIGESTS_PTR, digest, ENGINE_F_ENGINE_GET_DIGEST,
                         ENGINE_R_UNIMPLEMENTED_DIGEST)
