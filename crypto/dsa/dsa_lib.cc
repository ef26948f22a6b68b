// The DSA key: creation with a method (the engine's or the default one),
// references, release, methods, extra data, its signature size, the entry
// points that dispatch to the method, and the conversion to Diffie-Hellman
// parameters.
//
// Implementation notes: the default-method pointer is process-wide and takes
// no lock (applications set it before other threads make keys); it is an
// atomic read and written relaxed, so two threads that fill it at once both
// store the same built-in method without a data race.

#include <stddef.h>
#include <string.h>

#include <initializer_list>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "dsa/internal.h"

// The layouts that callers and engines compile against.
static_assert(offsetof(DSA_METHOD, name) == 0 && offsetof(DSA_METHOD, dsa_do_sign) == 8 &&
              offsetof(DSA_METHOD, dsa_sign_setup) == 16 &&
              offsetof(DSA_METHOD, dsa_do_verify) == 24 && offsetof(DSA_METHOD, dsa_mod_exp) == 32 &&
              offsetof(DSA_METHOD, bn_mod_exp) == 40 && offsetof(DSA_METHOD, init) == 48 &&
              offsetof(DSA_METHOD, finish) == 56 && offsetof(DSA_METHOD, flags) == 64 &&
              offsetof(DSA_METHOD, app_data) == 72 && offsetof(DSA_METHOD, dsa_paramgen) == 80 &&
              offsetof(DSA_METHOD, dsa_keygen) == 88 && sizeof(DSA_METHOD) == 96);
static_assert(offsetof(DSA, pad) == 0 && offsetof(DSA, version) == 8 &&
              offsetof(DSA, write_params) == 16 && offsetof(DSA, p) == 24 &&
              offsetof(DSA, q) == 32 && offsetof(DSA, g) == 40 && offsetof(DSA, pub_key) == 48 &&
              offsetof(DSA, priv_key) == 56 && offsetof(DSA, kinv) == 64 &&
              offsetof(DSA, r) == 72 && offsetof(DSA, flags) == 80 &&
              offsetof(DSA, method_mont_p) == 88 && offsetof(DSA, references) == 96 &&
              offsetof(DSA, ex_data) == 104 &&
              offsetof(DSA, meth) == offsetof(DSA, ex_data) + sizeof(CRYPTO_EX_DATA) &&
              offsetof(DSA, engine) == offsetof(DSA, meth) + 8 &&
              offsetof(DSA, group_checked) == offsetof(DSA, engine) + 8);
static_assert(offsetof(DSA_SIG, r) == 0 && offsetof(DSA_SIG, s) == 8 && sizeof(DSA_SIG) == 16);
static_assert(DSA_FLAG_MONT_P_CACHED == 0x01 && DSA_FLAG_PLAIN_EXP == 0x02 &&
              DSA_FLAG_METHOD_ONLY == 0x400);

namespace {

constinit std::atomic<const DSA_METHOD*> default_method{nullptr};

// A null operation slot of the key's method: the method does not offer it.
template <typename Result>
Result not_offered(int func, Result failure) {
  DSAerr(func, DSA_R_OPERATION_NOT_SUPPORTED);
  return failure;
}

}  // namespace

namespace morvane::dsa {

BN_MONT_CTX* cached_mont(DSA* dsa, BN_CTX* ctx, bool* failed) {
  *failed = false;
  if (!(dsa->flags & DSA_FLAG_MONT_P_CACHED)) return nullptr;
  BN_MONT_CTX* m = BN_MONT_CTX_set_locked(&dsa->method_mont_p, CRYPTO_LOCK_DSA, dsa->p, ctx);
  *failed = m == nullptr;
  return m;
}

}  // namespace morvane::dsa

/* see morvane/dsa.h */
void DSA_set_default_method(const DSA_METHOD* meth) {
  default_method.store(meth, std::memory_order_relaxed);
}

/* see morvane/dsa.h */
const DSA_METHOD* DSA_get_default_method(void) {
  const DSA_METHOD* m = default_method.load(std::memory_order_relaxed);
  if (m == nullptr) {
    m = DSA_Morvane();
    default_method.store(m, std::memory_order_relaxed);
  }
  return m;
}

/* see morvane/dsa.h */
DSA* DSA_new(void) {
  return DSA_new_method(nullptr);
}

/* see morvane/dsa.h */
DSA* DSA_new_method(ENGINE* engine) {
  auto* ret = static_cast<DSA*>(MORVANE_malloc(sizeof(DSA)));
  if (ret == nullptr) {
    DSAerr(DSA_F_DSA_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof(DSA));
  ret->meth = DSA_get_default_method();
  if (engine != nullptr) {
    if (!ENGINE_init(engine)) {
      DSAerr(DSA_F_DSA_NEW_METHOD, ERR_R_ENGINE_LIB);
      MORVANE_free(ret);
      return nullptr;
    }
    ret->engine = engine;
  } else {
    ret->engine = ENGINE_get_default_DSA();
  }
  if (ret->engine != nullptr) {
    ret->meth = ENGINE_get_DSA(ret->engine);
    if (ret->meth == nullptr) {
      DSAerr(DSA_F_DSA_NEW_METHOD, ERR_R_ENGINE_LIB);
      ENGINE_finish(ret->engine);
      MORVANE_free(ret);
      return nullptr;
    }
  }
  ret->write_params = 1;
  ret->references = 1;
  ret->flags = ret->meth->flags & ~DSA_FLAG_METHOD_ONLY;
  CRYPTO_new_ex_data(CRYPTO_EX_INDEX_DSA, ret, &ret->ex_data);
  if (ret->meth->init != nullptr && !ret->meth->init(ret)) {
    if (ret->engine != nullptr) ENGINE_finish(ret->engine);
    CRYPTO_free_ex_data(CRYPTO_EX_INDEX_DSA, ret, &ret->ex_data);
    MORVANE_free(ret);
    return nullptr;
  }
  return ret;
}

/* see morvane/dsa.h */
void DSA_free(DSA* r) {
  if (r == nullptr) return;
  if (CRYPTO_add(&r->references, -1, CRYPTO_LOCK_DSA) > 0) return;
  if (r->meth->finish != nullptr) r->meth->finish(r);
  if (r->engine != nullptr) ENGINE_finish(r->engine);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_DSA, r, &r->ex_data);
  for (BIGNUM* b : {r->p, r->q, r->g, r->pub_key, r->priv_key, r->kinv, r->r}) {
    if (b != nullptr) BN_clear_free(b);
  }
  morvane::dsa::group_checked_free(r->group_checked);
  MORVANE_free(r);
}

/* see morvane/dsa.h */
int DSA_up_ref(DSA* r) {
  return CRYPTO_add(&r->references, 1, CRYPTO_LOCK_DSA) > 1 ? 1 : 0;
}

/* see morvane/dsa.h */
int DSA_set_method(DSA* dsa, const DSA_METHOD* meth) {
  const DSA_METHOD* old = dsa->meth;
  if (old->finish != nullptr) old->finish(dsa);
  if (dsa->engine != nullptr) {
    ENGINE_finish(dsa->engine);
    dsa->engine = nullptr;
  }
  dsa->meth = meth;
  if (meth->init != nullptr) meth->init(dsa);
  return 1;
}

/* see morvane/dsa.h */
int DSA_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                         CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DSA, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/dsa.h */
int DSA_set_ex_data(DSA* d, int idx, void* arg) {
  return CRYPTO_set_ex_data(&d->ex_data, idx, arg);
}

/* see morvane/dsa.h */
void* DSA_get_ex_data(DSA* d, int idx) {
  return CRYPTO_get_ex_data(&d->ex_data, idx);
}

/* see morvane/dsa.h */
int DSA_size(const DSA* r) {
  if (r->q == nullptr) return 0;
  // Each INTEGER as if its bytes(q) content bytes began with a byte with the
  // top bit set, which takes a leading zero.
  const int integer = ASN1_object_size(0, BN_num_bytes(r->q) + 1, ASN1_UT_INTEGER);
  return ASN1_object_size(1, 2 * integer, ASN1_UT_SEQUENCE);
}

/* see morvane/dsa.h */
DSA_SIG* DSA_do_sign(const unsigned char* dgst, int dlen, DSA* dsa) {
  if (dsa->meth->dsa_do_sign == nullptr) return not_offered<DSA_SIG*>(DSA_F_DSA_DO_SIGN, nullptr);
  return dsa->meth->dsa_do_sign(dgst, dlen, dsa);
}

/* see morvane/dsa.h */
int DSA_sign_setup(DSA* dsa, BN_CTX* ctx_in, BIGNUM** kinvp, BIGNUM** rp) {
  if (dsa->meth->dsa_sign_setup == nullptr) return not_offered(DSA_F_DSA_SIGN_SETUP, 0);
  return dsa->meth->dsa_sign_setup(dsa, ctx_in, kinvp, rp);
}

/* see morvane/dsa.h */
int DSA_do_verify(const unsigned char* dgst, int dgst_len, DSA_SIG* sig, DSA* dsa) {
  if (dsa->meth->dsa_do_verify == nullptr) return not_offered(DSA_F_DSA_DO_VERIFY, -1);
  return dsa->meth->dsa_do_verify(dgst, dgst_len, sig, dsa);
}

/* see morvane/dsa.h */
DH* DSA_dup_DH(const DSA* r) {
  if (r == nullptr) return nullptr;
  DH* ret = DH_new();
  if (ret == nullptr) return nullptr;
  // q goes along, so that the key agreement checks peers against it.
  struct Copy {
    const BIGNUM* from;
    BIGNUM** to;
  };
  const Copy copies[] = {{r->p, &ret->p},
                         {r->g, &ret->g},
                         {r->q, &ret->q},
                         {r->pub_key, &ret->pub_key},
                         {r->priv_key, &ret->priv_key}};
  for (const Copy& c : copies) {
    if (c.from != nullptr && (*c.to = BN_dup(c.from)) == nullptr) {
      DH_free(ret);
      return nullptr;
    }
  }
  if (r->q != nullptr) ret->length = BN_num_bits(r->q);
  return ret;
}
