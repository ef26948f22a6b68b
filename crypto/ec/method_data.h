// The per-key record that ties an EC key to its ECDSA or ECDH method: made
// on first use with the default method (or an engine's), kept on the key's
// method-data list, given fresh to a copied key, freed with the key.
//
// Implementation notes: the list finds a record by its dup and free
// functions, so each instantiation's static members are its identity.  Two
// threads may make a key's first record at once; the record that got onto
// the key is used and the other is freed.
#ifndef MORVANE_EC_METHOD_DATA_H
#define MORVANE_EC_METHOD_DATA_H

#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/engine.h>
#include <morvane/err.h>

namespace morvane::ec {

// T gives: Data (with init, meth, engine, flags, ex_data), kExIndex,
// default_method(), default_engine(), engine_method(ENGINE*) and
// error(reason) for the record's constructor, and new_method(ENGINE*), the
// exported constructor (ECDSA_DATA_new_method, ECDH_DATA_new_method) whose
// body is make().
template <class T>
struct MethodData {
  using Data = typename T::Data;

  // A record with the engine's method (the engine's reference is taken
  // over; null: the default engine, else the default method).
  static Data* make(ENGINE* engine) {
    auto* ret = static_cast<Data*>(MORVANE_malloc(sizeof(Data)));
    if (ret == nullptr) {
      T::error(ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    ret->init = nullptr;
    ret->meth = T::default_method();
    ret->engine = engine != nullptr ? engine : T::default_engine();
    if (ret->engine != nullptr) {
      ret->meth = T::engine_method(ret->engine);
      if (ret->meth == nullptr) {
        T::error(ERR_R_ENGINE_LIB);
        ENGINE_finish(ret->engine);
        MORVANE_free(ret);
        return nullptr;
      }
    }
    ret->flags = ret->meth->flags;
    ret->ex_data.sk = nullptr;
    ret->ex_data.dummy = 0;
    CRYPTO_new_ex_data(T::kExIndex, ret, &ret->ex_data);
    return ret;
  }

  // A copied key gets a fresh default record: method, engine and extra data
  // are not copied.
  static void* dup(void* data) { return data != nullptr ? T::new_method(nullptr) : nullptr; }

  static void release(void* data) {
    auto* r = static_cast<Data*>(data);
    if (r == nullptr) return;
    if (r->engine != nullptr) ENGINE_finish(r->engine);
    CRYPTO_free_ex_data(T::kExIndex, r, &r->ex_data);
    MORVANE_cleanse(r, sizeof(Data));
    MORVANE_free(r);
  }

  // The key's record, made when it has none; null for a null key or when
  // no record can be made (then with the reason queued).
  static Data* of(EC_KEY* key) {
    if (key == nullptr) return nullptr;
    void* d = EC_KEY_get_key_method_data(key, dup, release, release);
    if (d != nullptr) return static_cast<Data*>(d);
    void* made = T::new_method(nullptr);
    if (made == nullptr) return nullptr;
    EC_KEY_insert_key_method_data(key, made, dup, release, release);
    d = EC_KEY_get_key_method_data(key, dup, release, release);
    if (d != made) release(made);  // another thread's record stayed, or none could be kept
    if (d == nullptr) T::error(ERR_R_MALLOC_FAILURE);  // no list node for it
    return static_cast<Data*>(d);
  }
};

}  // namespace morvane::ec

#endif  // MORVANE_EC_METHOD_DATA_H
