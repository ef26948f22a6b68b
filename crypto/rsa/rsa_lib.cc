// The RSA key: creation with a method (the engine's or the default one),
// references, release, methods, application data, its size, and the four
// operations, which the key's method performs.
//
// Implementation notes: the default-method pointer is process-wide and takes
// no lock (applications set it before other threads make keys); it is an
// atomic read and written relaxed, so two threads that fill it at once both
// store the same built-in method without a data race.

#include <stddef.h>
#include <string.h>

#include <atomic>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "rsa/internal.h"

// The layouts that callers and engines compile against.
static_assert(offsetof(RSA_METHOD, name) == 0 && offsetof(RSA_METHOD, rsa_pub_enc) == 8 &&
              offsetof(RSA_METHOD, rsa_pub_dec) == 16 && offsetof(RSA_METHOD, rsa_priv_enc) == 24 &&
              offsetof(RSA_METHOD, rsa_priv_dec) == 32 && offsetof(RSA_METHOD, rsa_mod_exp) == 40 &&
              offsetof(RSA_METHOD, bn_mod_exp) == 48 && offsetof(RSA_METHOD, init) == 56 &&
              offsetof(RSA_METHOD, finish) == 64 && offsetof(RSA_METHOD, flags) == 72 &&
              offsetof(RSA_METHOD, app_data) == 80 && offsetof(RSA_METHOD, rsa_sign) == 88 &&
              offsetof(RSA_METHOD, rsa_verify) == 96 && offsetof(RSA_METHOD, rsa_keygen) == 104 &&
              sizeof(RSA_METHOD) == 112);
static_assert(offsetof(RSA, pad) == 0 && offsetof(RSA, version) == 8 && offsetof(RSA, meth) == 16 &&
              offsetof(RSA, engine) == 24 && offsetof(RSA, n) == 32 && offsetof(RSA, e) == 40 &&
              offsetof(RSA, d) == 48 && offsetof(RSA, p) == 56 && offsetof(RSA, q) == 64 &&
              offsetof(RSA, dmp1) == 72 && offsetof(RSA, dmq1) == 80 && offsetof(RSA, iqmp) == 88 &&
              offsetof(RSA, ex_data) == 96 && offsetof(RSA, references) == 112 &&
              offsetof(RSA, flags) == 116 && offsetof(RSA, _method_mod_n) == 120 &&
              offsetof(RSA, _method_mod_p) == 128 && offsetof(RSA, _method_mod_q) == 136 &&
              offsetof(RSA, bignum_data) == 144 && offsetof(RSA, blinding) == 152 &&
              offsetof(RSA, mt_blinding) == 160 && sizeof(RSA) == 168);
// The padding identifiers and flags are part of the interface too.
static_assert(RSA_PKCS1_PADDING == 1 && RSA_SSLV23_PADDING == 2 && RSA_NO_PADDING == 3 &&
              RSA_PKCS1_OAEP_PADDING == 4 && RSA_X931_PADDING == 5 && RSA_PKCS1_PADDING_SIZE == 11);
static_assert(RSA_FLAG_CACHE_PUBLIC == 0x0002 && RSA_FLAG_CACHE_PRIVATE == 0x0004 &&
              RSA_FLAG_BLINDING == 0x0008 && RSA_FLAG_EXT_PKEY == 0x0020 &&
              RSA_FLAG_SIGN_VER == 0x0040 && RSA_FLAG_NO_BLINDING == 0x0080 &&
              RSA_FLAG_NO_CONSTTIME == 0x0100 && RSA_FLAG_METHOD_ONLY == 0x0400);
static_assert(RSA_PSS_SALTLEN_DIGEST == -1 && RSA_PSS_SALTLEN_MAX == -2);

namespace {

constinit std::atomic<const RSA_METHOD*> default_method{nullptr};

}  // namespace

/* see morvane/rsa.h */
void RSA_set_default_method(const RSA_METHOD* meth) {
  default_method.store(meth, std::memory_order_relaxed);
}

/* see morvane/rsa.h */
const RSA_METHOD* RSA_get_default_method(void) {
  const RSA_METHOD* m = default_method.load(std::memory_order_relaxed);
  if (m == nullptr) {
    m = RSA_PKCS1_Quorix();
    default_method.store(m, std::memory_order_relaxed);
  }
  return m;
}

/* see morvane/rsa.h */
RSA* RSA_new(void) {
  return RSA_new_method(nullptr);
}

/* see morvane/rsa.h */
RSA* RSA_new_method(ENGINE* engine) {
  auto* ret = static_cast<RSA*>(MORVANE_malloc(sizeof(RSA)));
  if (ret == nullptr) {
    RSAerr(RSA_F_RSA_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof(RSA));
  ret->meth = RSA_get_default_method();
  if (engine != nullptr) {
    if (!ENGINE_init(engine)) {
      RSAerr(RSA_F_RSA_NEW_METHOD, ERR_R_ENGINE_LIB);
      MORVANE_free(ret);
      return nullptr;
    }
    ret->engine = engine;
  } else {
    ret->engine = ENGINE_get_default_RSA();
  }
  if (ret->engine != nullptr) {
    ret->meth = ENGINE_get_RSA(ret->engine);
    if (ret->meth == nullptr) {
      RSAerr(RSA_F_RSA_NEW_METHOD, ERR_R_ENGINE_LIB);
      ENGINE_finish(ret->engine);
      MORVANE_free(ret);
      return nullptr;
    }
  }
  ret->references = 1;
  ret->flags = ret->meth->flags & ~RSA_FLAG_METHOD_ONLY;
  if (!CRYPTO_new_ex_data(CRYPTO_EX_INDEX_RSA, ret, &ret->ex_data)) {
    if (ret->engine != nullptr) ENGINE_finish(ret->engine);
    MORVANE_free(ret);
    return nullptr;
  }
  if (ret->meth->init != nullptr && !ret->meth->init(ret)) {
    if (ret->engine != nullptr) ENGINE_finish(ret->engine);
    CRYPTO_free_ex_data(CRYPTO_EX_INDEX_RSA, ret, &ret->ex_data);
    MORVANE_free(ret);
    return nullptr;
  }
  return ret;
}

/* see morvane/rsa.h */
void RSA_free(RSA* r) {
  if (r == nullptr) return;
  if (CRYPTO_add(&r->references, -1, CRYPTO_LOCK_RSA) > 0) return;
  if (r->meth->finish != nullptr) r->meth->finish(r);
  if (r->engine != nullptr) ENGINE_finish(r->engine);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_RSA, r, &r->ex_data);
  for (BIGNUM* b : {r->n, r->e, r->d, r->p, r->q, r->dmp1, r->dmq1, r->iqmp}) {
    if (b != nullptr) BN_clear_free(b);
  }
  morvane::rsa::free_blinding(r->blinding);
  morvane::rsa::free_blinding(r->mt_blinding);
  morvane::rsa::release_locked_block(r->bignum_data);
  MORVANE_free(r);
}

/* see morvane/rsa.h */
int RSA_up_ref(RSA* r) {
  return CRYPTO_add(&r->references, 1, CRYPTO_LOCK_RSA) > 1 ? 1 : 0;
}

/* see morvane/rsa.h */
int RSA_set_method(RSA* rsa, const RSA_METHOD* meth) {
  const RSA_METHOD* old = rsa->meth;
  if (old->finish != nullptr) old->finish(rsa);
  if (rsa->engine != nullptr) {
    ENGINE_finish(rsa->engine);
    rsa->engine = nullptr;
  }
  rsa->meth = meth;
  if (meth->init != nullptr) meth->init(rsa);
  return 1;
}

/* see morvane/rsa.h */
const RSA_METHOD* RSA_get_method(const RSA* rsa) {
  return rsa->meth;
}

/* see morvane/rsa.h */
int RSA_flags(const RSA* r) {
  return r != nullptr ? r->meth->flags : 0;
}

/* see morvane/rsa.h */
int RSA_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                         CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/rsa.h */
int RSA_set_ex_data(RSA* r, int idx, void* arg) {
  return CRYPTO_set_ex_data(&r->ex_data, idx, arg);
}

/* see morvane/rsa.h */
void* RSA_get_ex_data(const RSA* r, int idx) {
  return CRYPTO_get_ex_data(&r->ex_data, idx);
}

/* see morvane/rsa.h */
int RSA_size(const RSA* r) {
  return r->n != nullptr ? BN_num_bytes(r->n) : 0;
}

namespace {

using Operation = int (*)(int, const unsigned char*, unsigned char*, RSA*, int);

// Runs one of the four operation slots of the key's method; a null slot is
// an operation the method does not offer.
int dispatch(Operation RSA_METHOD::*slot, int func, int flen, const unsigned char* from,
             unsigned char* to, RSA* rsa, int padding) {
  const Operation op = rsa->meth->*slot;
  if (op == nullptr) {
    RSAerr(func, RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
    return -1;
  }
  return op(flen, from, to, rsa, padding);
}

}  // namespace

/* see morvane/rsa.h */
int RSA_public_encrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                       int padding) {
  return dispatch(&RSA_METHOD::rsa_pub_enc, RSA_F_RSA_PUBLIC_ENCRYPT, flen, from, to, rsa, padding);
}

/* see morvane/rsa.h */
int RSA_private_encrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                        int padding) {
  return dispatch(&RSA_METHOD::rsa_priv_enc, RSA_F_RSA_PRIVATE_ENCRYPT, flen, from, to, rsa,
                  padding);
}

/* see morvane/rsa.h */
int RSA_private_decrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                        int padding) {
  return dispatch(&RSA_METHOD::rsa_priv_dec, RSA_F_RSA_PRIVATE_DECRYPT, flen, from, to, rsa,
                  padding);
}

/* see morvane/rsa.h */
int RSA_public_decrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                       int padding) {
  return dispatch(&RSA_METHOD::rsa_pub_dec, RSA_F_RSA_PUBLIC_DECRYPT, flen, from, to, rsa, padding);
}
