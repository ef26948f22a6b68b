// The ECDH method, the per-key records and the entry points.

#include <stddef.h>

#include <atomic>

#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "ec/method_data.h"
#include "ecdh/internal.h"

// The record's fields in their documented order.
static_assert(offsetof(ECDH_DATA, init) == 0 &&
              offsetof(ECDH_DATA, init) < offsetof(ECDH_DATA, engine) &&
              offsetof(ECDH_DATA, engine) < offsetof(ECDH_DATA, flags) &&
              offsetof(ECDH_DATA, flags) < offsetof(ECDH_DATA, meth) &&
              offsetof(ECDH_DATA, meth) < offsetof(ECDH_DATA, ex_data));

namespace {

constinit char kName[] = "Morvane ECDH method";

constinit const ECDH_METHOD kMorvaneMethod = {
    kName,
    morvane::ecdh::compute_key,
    0,
    nullptr,
};

// Set on first use by whichever thread gets there; every thread stores the
// same table, so relaxed order is enough.
constinit std::atomic<const ECDH_METHOD*> g_default{nullptr};

struct EcdhTraits {
  using Data = ECDH_DATA;
  static constexpr int kExIndex = CRYPTO_EX_INDEX_ECDH;
  static const ECDH_METHOD* default_method() { return ECDH_get_default_method(); }
  static ENGINE* default_engine() { return ENGINE_get_default_ECDH(); }
  static const ECDH_METHOD* engine_method(ENGINE* e) { return ENGINE_get_ECDH(e); }
  static void error(int reason) { ECDHerr(ECDH_F_ECDH_DATA_NEW_METHOD, reason); }
  static ECDH_DATA* new_method(ENGINE* e) { return ECDH_DATA_new_method(e); }
};
using Record = morvane::ec::MethodData<EcdhTraits>;

}  // namespace

namespace morvane::ecdh {

ECDH_DATA* check(EC_KEY* key) {
  return Record::of(key);
}

}  // namespace morvane::ecdh

/* see morvane/ecdh.h */
ECDH_DATA* ECDH_DATA_new_method(ENGINE* engine) {
  return Record::make(engine);
}

/* see morvane/ecdh.h */
const ECDH_METHOD* ECDH_Morvane(void) {
  return &kMorvaneMethod;
}

/* see morvane/ecdh.h */
void ECDH_set_default_method(const ECDH_METHOD* meth) {
  g_default.store(meth, std::memory_order_relaxed);
}

/* see morvane/ecdh.h */
const ECDH_METHOD* ECDH_get_default_method(void) {
  const ECDH_METHOD* m = g_default.load(std::memory_order_relaxed);
  if (m == nullptr) {
    m = ECDH_Morvane();
    g_default.store(m, std::memory_order_relaxed);
  }
  return m;
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
  if (eckey == nullptr) {
    ECDHerr(ECDH_F_ECDH_COMPUTE_KEY, ERR_R_PASSED_NULL_PARAMETER);
    return -1;
  }
  const ECDH_DATA* d = morvane::ecdh::check(eckey);
  if (d == nullptr) return -1;  // the record's reason is queued
  // A method without the slot does not offer the operation.
  if (d->meth == nullptr || d->meth->compute_key == nullptr) {
    ECDHerr(ECDH_F_ECDH_COMPUTE_KEY, ECDH_R_OPERATION_NOT_SUPPORTED);
    return -1;
  }
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
