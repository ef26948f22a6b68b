// The Diffie-Hellman key: creation with a method (the engine's or the
// default one), references, release, methods, extra data and its size.
//
// Implementation notes: the default-method pointer is process-wide and takes
// no lock (applications set it before other threads make keys); it is an
// atomic read and written relaxed, so two threads that fill it at once both
// store the same built-in method without a data race.

#include <stddef.h>
#include <string.h>

#include <initializer_list>

#include <atomic>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "dh/internal.h"

// The layouts that callers and engines compile against.
static_assert(offsetof(DH_METHOD, name) == 0 && offsetof(DH_METHOD, generate_key) == 8 &&
              offsetof(DH_METHOD, compute_key) == 16 && offsetof(DH_METHOD, bn_mod_exp) == 24 &&
              offsetof(DH_METHOD, init) == 32 && offsetof(DH_METHOD, finish) == 40 &&
              offsetof(DH_METHOD, flags) == 48 && offsetof(DH_METHOD, app_data) == 56 &&
              offsetof(DH_METHOD, generate_params) == 64 && sizeof(DH_METHOD) == 72);
static_assert(offsetof(DH, pad) == 0 && offsetof(DH, version) == 4 && offsetof(DH, p) == 8 &&
              offsetof(DH, g) == 16 && offsetof(DH, length) == 24 && offsetof(DH, pub_key) == 32 &&
              offsetof(DH, priv_key) == 40 && offsetof(DH, flags) == 48 &&
              offsetof(DH, method_mont_p) == 56 && offsetof(DH, q) == 64 && offsetof(DH, j) == 72 &&
              offsetof(DH, seed) == 80 && offsetof(DH, seedlen) == 88 &&
              offsetof(DH, counter) == 96 && offsetof(DH, references) == 104 &&
              offsetof(DH, ex_data) == 112 &&
              offsetof(DH, meth) == offsetof(DH, ex_data) + sizeof(CRYPTO_EX_DATA) &&
              offsetof(DH, engine) == offsetof(DH, meth) + 8);
static_assert(DH_FLAG_MONT_P_CACHED == 0x01 && DH_FLAG_PLAIN_EXP == 0x02);
static_assert(DH_CODE_P_NOT_PRIME == 0x01 && DH_CODE_P_NOT_SAFE == 0x02 &&
              DH_CODE_G_UNCHECKED == 0x04 && DH_CODE_G_UNSUITABLE == 0x08 &&
              DH_CODE_PUB_TOO_SMALL == 0x01 && DH_CODE_PUB_TOO_LARGE == 0x02);

namespace {

constinit std::atomic<const DH_METHOD*> default_method{nullptr};

}  // namespace

namespace morvane::dh {

BN_MONT_CTX* cached_mont(DH* dh, BN_CTX* ctx, bool* failed) {
  *failed = false;
  if (!(dh->flags & DH_FLAG_MONT_P_CACHED)) return nullptr;
  BN_MONT_CTX* m = BN_MONT_CTX_set_locked(&dh->method_mont_p, CRYPTO_LOCK_DH, dh->p, ctx);
  *failed = m == nullptr;
  return m;
}

}  // namespace morvane::dh

/* see morvane/dh.h */
void DH_set_default_method(const DH_METHOD* meth) {
  default_method.store(meth, std::memory_order_relaxed);
}

/* see morvane/dh.h */
const DH_METHOD* DH_get_default_method(void) {
  const DH_METHOD* m = default_method.load(std::memory_order_relaxed);
  if (m == nullptr) {
    m = DH_Morvane();
    default_method.store(m, std::memory_order_relaxed);
  }
  return m;
}

/* see morvane/dh.h */
DH* DH_new(void) {
  return DH_new_method(nullptr);
}

/* see morvane/dh.h */
DH* DH_new_method(ENGINE* engine) {
  auto* ret = static_cast<DH*>(MORVANE_malloc(sizeof(DH)));
  if (ret == nullptr) {
    DHerr(DH_F_DH_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof(DH));
  ret->meth = DH_get_default_method();
  if (engine != nullptr) {
    if (!ENGINE_init(engine)) {
      DHerr(DH_F_DH_NEW_METHOD, ERR_R_ENGINE_LIB);
      MORVANE_free(ret);
      return nullptr;
    }
    ret->engine = engine;
  } else {
    ret->engine = ENGINE_get_default_DH();
  }
  if (ret->engine != nullptr) {
    ret->meth = ENGINE_get_DH(ret->engine);
    if (ret->meth == nullptr) {
      DHerr(DH_F_DH_NEW_METHOD, ERR_R_ENGINE_LIB);
      ENGINE_finish(ret->engine);
      MORVANE_free(ret);
      return nullptr;
    }
  }
  ret->references = 1;
  ret->flags = ret->meth->flags;
  CRYPTO_new_ex_data(CRYPTO_EX_INDEX_DH, ret, &ret->ex_data);
  if (ret->meth->init != nullptr && !ret->meth->init(ret)) {
    if (ret->engine != nullptr) ENGINE_finish(ret->engine);
    CRYPTO_free_ex_data(CRYPTO_EX_INDEX_DH, ret, &ret->ex_data);
    MORVANE_free(ret);
    return nullptr;
  }
  return ret;
}

/* see morvane/dh.h */
void DH_free(DH* r) {
  if (r == nullptr) return;
  if (CRYPTO_add(&r->references, -1, CRYPTO_LOCK_DH) > 0) return;
  if (r->meth->finish != nullptr) r->meth->finish(r);
  if (r->engine != nullptr) ENGINE_finish(r->engine);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_DH, r, &r->ex_data);
  for (BIGNUM* b : {r->p, r->g, r->q, r->j, r->counter, r->pub_key, r->priv_key}) {
    if (b != nullptr) BN_clear_free(b);
  }
  MORVANE_free(r->seed);
  MORVANE_free(r);
}

/* see morvane/dh.h */
int DH_up_ref(DH* r) {
  return CRYPTO_add(&r->references, 1, CRYPTO_LOCK_DH) > 1 ? 1 : 0;
}

/* see morvane/dh.h */
int DH_set_method(DH* dh, const DH_METHOD* meth) {
  const DH_METHOD* old = dh->meth;
  if (old->finish != nullptr) old->finish(dh);
  if (dh->engine != nullptr) {
    ENGINE_finish(dh->engine);
    dh->engine = nullptr;
  }
  dh->meth = meth;
  if (meth->init != nullptr) meth->init(dh);
  return 1;
}

/* see morvane/dh.h */
int DH_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                        CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DH, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/dh.h */
int DH_set_ex_data(DH* d, int idx, void* arg) {
  return CRYPTO_set_ex_data(&d->ex_data, idx, arg);
}

/* see morvane/dh.h */
void* DH_get_ex_data(DH* d, int idx) {
  return CRYPTO_get_ex_data(&d->ex_data, idx);
}

/* see morvane/dh.h */
int DH_size(const DH* dh) {
  return dh->p != nullptr ? BN_num_bytes(dh->p) : 0;
}
