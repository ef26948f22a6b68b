// The single-entry algorithm tables: one engine choice per class (random
// method, public-key methods, object store), kept under the key 1.

#include <morvane/engine.h>

#include "engine/internal.h"

namespace {

constexpr int kOnlyNid = 1;

}  // namespace

// The functions of a class whose engines offer the method table `field`:
// registration, unregistration, registration of every listed engine, and the
// field's accessors.
#define MORVANE_ENGINE_TABLE(CLASS, TYPE, field)                                                 \
  namespace {                                                                                    \
  constinit ENGINE_TABLE* CLASS##_table = nullptr;                                               \
  int register_##CLASS(ENGINE* e, bool setdefault) {                                             \
    if (e == nullptr) return 0;                                                                  \
    if (e->field == nullptr) return 1;                                                           \
    return engine_table_register(&CLASS##_table, engine_unregister_all_##CLASS, e, &kOnlyNid, 1, \
                                 setdefault);                                                    \
  }                                                                                              \
  }                                                                                              \
  void engine_unregister_all_##CLASS(void) {                                                     \
    engine_table_cleanup(&CLASS##_table);                                                        \
  }                                                                                              \
  int ENGINE_register_##CLASS(ENGINE* e) {                                                       \
    return register_##CLASS(e, false);                                                           \
  }                                                                                              \
  void ENGINE_unregister_##CLASS(ENGINE* e) {                                                    \
    engine_table_unregister(&CLASS##_table, e);                                                  \
  }                                                                                              \
  void ENGINE_register_all_##CLASS(void) {                                                       \
    for (ENGINE* e = ENGINE_get_first(); e != nullptr; e = ENGINE_get_next(e))                   \
      ENGINE_register_##CLASS(e);                                                                \
  }                                                                                              \
  int ENGINE_set_##CLASS(ENGINE* e, const TYPE* meth) {                                          \
    if (e == nullptr) return 0;                                                                  \
    e->field = meth;                                                                             \
    return 1;                                                                                    \
  }                                                                                              \
  const TYPE* ENGINE_get_##CLASS(const ENGINE* e) {                                              \
    return e != nullptr ? e->field : nullptr;                                                    \
  }

// The same with the default choice: set and get.
#define MORVANE_ENGINE_TABLE_WITH_DEFAULT(CLASS, TYPE, field) \
  MORVANE_ENGINE_TABLE(CLASS, TYPE, field)                    \
  int ENGINE_set_default_##CLASS(ENGINE* e) {                 \
    return register_##CLASS(e, true);                         \
  }                                                           \
  ENGINE* ENGINE_get_default_##CLASS(void) {                  \
    return engine_table_select(&CLASS##_table, kOnlyNid);     \
  }

/* see morvane/engine.h */
MORVANE_ENGINE_TABLE_WITH_DEFAULT(RAND, RAND_METHOD, rand_meth)
MORVANE_ENGINE_TABLE_WITH_DEFAULT(RSA, RSA_METHOD, rsa_meth)
MORVANE_ENGINE_TABLE_WITH_DEFAULT(DSA, DSA_METHOD, dsa_meth)
MORVANE_ENGINE_TABLE_WITH_DEFAULT(DH, DH_METHOD, dh_meth)
MORVANE_ENGINE_TABLE_WITH_DEFAULT(ECDH, ECDH_METHOD, ecdh_meth)
MORVANE_ENGINE_TABLE_WITH_DEFAULT(ECDSA, ECDSA_METHOD, ecdsa_meth)
MORVANE_ENGINE_TABLE(STORE, STORE_METHOD, store_meth)
