// The ECDH method, the per-key records and the entry points.

#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "ecdh/internal.h"

namespace {

constinit char kName[] = "Morvane ECDH method";

constinit const ECDH_METHOD kMorvaneMethod = {
    kName,
    morvane::ecdh::compute_key,
    0,
    nullptr,
};

constinit const ECDH_METHOD* g_default = nullptr;

ECDH_DATA* data_new_method(ENGINE* engine) {
  auto* ret = static_cast<ECDH_DATA*>(MORVANE_malloc(sizeof(ECDH_DATA)));
  if (ret == nullptr) {
    ECDHerr(ECDH_F_ECDH_DATA_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->init = nullptr;
  ret->meth = ECDH_get_default_method();
  ret->engine = engine != nullptr ? engine : ENGINE_get_default_ECDH();
  if (ret->engine != nullptr) {
    ret->meth = ENGINE_get_ECDH(ret->engine);
    if (ret->meth == nullptr) {
      ECDHerr(ECDH_F_ECDH_DATA_NEW_METHOD, ERR_R_ENGINE_LIB);
      ENGINE_finish(ret->engine);
      MORVANE_free(ret);
      return nullptr;
    }
  }
  ret->flags = ret->meth->flags;
  ret->ex_data.sk = nullptr;
  ret->ex_data.dummy = 0;
  CRYPTO_new_ex_data(CRYPTO_EX_INDEX_ECDH, ret, &ret->ex_data);
  return ret;
}

void* data_new() {
  return data_new_method(nullptr);
}

// A copied key gets a fresh default record: method, engine and extra data
// are not copied.
void* data_dup(void* data) {
  return data != nullptr ? data_new() : nullptr;
}

void data_free(void* data) {
  auto* r = static_cast<ECDH_DATA*>(data);
  if (r == nullptr) return;
  if (r->engine != nullptr) ENGINE_finish(r->engine);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_ECDH, r, &r->ex_data);
  MORVANE_cleanse(r, sizeof(ECDH_DATA));
  MORVANE_free(r);
}

}  // namespace

namespace morvane::ecdh {

ECDH_DATA* check(EC_KEY* key) {
  if (key == nullptr) return nullptr;
  void* d = EC_KEY_get_key_method_data(key, data_dup, data_free, data_free);
  if (d != nullptr) return static_cast<ECDH_DATA*>(d);
  void* made = data_new();
  if (made == nullptr) return nullptr;
  EC_KEY_insert_key_method_data(key, made, data_dup, data_free, data_free);
  d = EC_KEY_get_key_method_data(key, data_dup, data_free, data_free);
  if (d != made) data_free(made);  // another thread's record stayed, or none could be kept
  return static_cast<ECDH_DATA*>(d);
}

}  // namespace morvane::ecdh

/* see morvane/ecdh.h */
const ECDH_METHOD* ECDH_Morvane(void) {
  return &kMorvaneMethod;
}

/* see morvane/ecdh.h */
void ECDH_set_default_method(const ECDH_METHOD* meth) {
  g_default = meth;
}

/* see morvane/ecdh.h */
const ECDH_METHOD* ECDH_get_default_method(void) {
  if (g_default == nullptr) g_default = ECDH_Morvane();
  return g_default;
}

/* see morvane/ecdh.h */
int ECDH_set_method(EC_KEY* eckey, const ECDH_METHOD* meth) {
  ECDH_DATA* d = morvane::ecdh::check(eckey);
  if (d == nullptr) return 0;
  if (d->engine != nullptr) {
    ENGINE_finish(d->engine);
    d->engine = nullptr;
  }
  d->meth = meth;
  return 1;
}

/* see morvane/ecdh.h */
int ECDH_compute_key(void* out, size_t outlen, const EC_POINT* pub_key, EC_KEY* eckey,
                     void* (*KDF)(const void* in, size_t inlen, void* out, size_t* outlen)) {
  ECDH_DATA* d = morvane::ecdh::check(eckey);
  if (d == nullptr || d->meth == nullptr || d->meth->compute_key == nullptr) return 0;
  return d->meth->compute_key(out, outlen, pub_key, eckey, KDF);
}

/* see morvane/ecdh.h */
int ECDH_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                          CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_ECDH, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/ecdh.h */
int ECDH_set_ex_data(EC_KEY* d, int idx, void* arg) {
  ECDH_DATA* r = morvane::ecdh::check(d);
  if (r == nullptr) return 0;
  return CRYPTO_set_ex_data(&r->ex_data, idx, arg);
}

/* see morvane/ecdh.h */
void* ECDH_get_ex_data(EC_KEY* d, int idx) {
  ECDH_DATA* r = morvane::ecdh::check(d);
  if (r == nullptr) return nullptr;
  return CRYPTO_get_ex_data(&r->ex_data, idx);
}
