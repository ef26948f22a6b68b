// The ECDSA method, the per-key records and the entry points.

#include <limits.h>
#include <stddef.h>
#include <string.h>

#include <atomic>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include "ec/method_data.h"
#include "ecdsa/internal.h"

namespace morvane::ecdsa {
ECDSA_SIG* do_sign(const unsigned char* dgst, int dgst_len, const BIGNUM* in_kinv,
                   const BIGNUM* in_r, EC_KEY* eckey);
int sign_setup(EC_KEY* eckey, BN_CTX* ctx_in, BIGNUM** kinvp, BIGNUM** rp);
int do_verify(const unsigned char* dgst, int dgst_len, const ECDSA_SIG* sig, EC_KEY* eckey);
}  // namespace morvane::ecdsa

// The record's fields in their documented order.
static_assert(offsetof(ECDSA_DATA, init) == 0 &&
              offsetof(ECDSA_DATA, init) < offsetof(ECDSA_DATA, engine) &&
              offsetof(ECDSA_DATA, engine) < offsetof(ECDSA_DATA, flags) &&
              offsetof(ECDSA_DATA, flags) < offsetof(ECDSA_DATA, meth) &&
              offsetof(ECDSA_DATA, meth) < offsetof(ECDSA_DATA, ex_data));

namespace {

constinit char kName[] = "Morvane ECDSA method";

constinit const ECDSA_METHOD kMorvaneMethod = {
    kName,
    morvane::ecdsa::do_sign,
    morvane::ecdsa::sign_setup,
    morvane::ecdsa::do_verify,
    0,
    nullptr,
};

// Set on first use by whichever thread gets there; every thread stores the
// same table, so relaxed order is enough.
constinit std::atomic<const ECDSA_METHOD*> g_default{nullptr};

struct EcdsaTraits {
  using Data = ECDSA_DATA;
  static constexpr int kExIndex = CRYPTO_EX_INDEX_ECDSA;
  static const ECDSA_METHOD* default_method() { return ECDSA_get_default_method(); }
  static ENGINE* default_engine() { return ENGINE_get_default_ECDSA(); }
  static const ECDSA_METHOD* engine_method(ENGINE* e) { return ENGINE_get_ECDSA(e); }
  static void error(int reason) { ECDSAerr(ECDSA_F_ECDSA_DATA_NEW_METHOD, reason); }
  static ECDSA_DATA* new_method(ENGINE* e) { return ECDSA_DATA_new_method(e); }
};
using Record = morvane::ec::MethodData<EcdsaTraits>;

}  // namespace

namespace morvane::ecdsa {

ECDSA_DATA* check(EC_KEY* key) {
  return Record::of(key);
}

}  // namespace morvane::ecdsa

namespace {

// The key's method's `slot`, or null with the reason under `func`: a null
// key, a record that could not be made (its own reason queued), or a method
// without the slot, which is an operation it does not offer.
template <class F>
F slot_of(EC_KEY* key, F ECDSA_METHOD::*slot, int func) {
  if (key == nullptr) {
    ECDSAerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  const ECDSA_DATA* d = morvane::ecdsa::check(key);
  if (d == nullptr) return nullptr;
  if (d->meth == nullptr || d->meth->*slot == nullptr) {
    ECDSAerr(func, ECDSA_R_OPERATION_NOT_SUPPORTED);
    return nullptr;
  }
  return d->meth->*slot;
}

}  // namespace

/* see morvane/ecdsa.h */
ECDSA_DATA* ECDSA_DATA_new_method(ENGINE* engine) {
  return Record::make(engine);
}

/* see morvane/ecdsa.h */
const ECDSA_METHOD* ECDSA_Morvane(void) { return &kMorvaneMethod; }

/* see morvane/ecdsa.h */
void ECDSA_set_default_method(const ECDSA_METHOD* meth) {
  g_default.store(meth, std::memory_order_relaxed);
}

/* see morvane/ecdsa.h */
const ECDSA_METHOD* ECDSA_get_default_method(void) {
  const ECDSA_METHOD* m = g_default.load(std::memory_order_relaxed);
  if (m == nullptr) {
    m = ECDSA_Morvane();
    g_default.store(m, std::memory_order_relaxed);
  }
  return m;
}

/* see morvane/ecdsa.h */
int ECDSA_set_method(EC_KEY* eckey, const ECDSA_METHOD* meth) {
  ECDSA_DATA* d = morvane::ecdsa::check(eckey);
  if (d == nullptr) return 0;
  if (d->engine != nullptr) {
    ENGINE_finish(d->engine);
    d->engine = nullptr;
  }
  d->meth = meth;
  return 1;
}

/* see morvane/ecdsa.h */
ECDSA_SIG* ECDSA_do_sign(const unsigned char* dgst, int dgst_len, EC_KEY* eckey) {
  return ECDSA_do_sign_ex(dgst, dgst_len, nullptr, nullptr, eckey);
}

/* see morvane/ecdsa.h */
ECDSA_SIG* ECDSA_do_sign_ex(const unsigned char* dgst, int dgst_len, const BIGNUM* kinv,
                            const BIGNUM* rp, EC_KEY* eckey) {
  const auto sign = slot_of(eckey, &ECDSA_METHOD::ecdsa_do_sign, ECDSA_F_ECDSA_DO_SIGN);
  return sign != nullptr ? sign(dgst, dgst_len, kinv, rp, eckey) : nullptr;
}

/* see morvane/ecdsa.h */
int ECDSA_sign_setup(EC_KEY* eckey, BN_CTX* ctx, BIGNUM** kinv, BIGNUM** rp) {
  const auto setup = slot_of(eckey, &ECDSA_METHOD::ecdsa_sign_setup, ECDSA_F_ECDSA_SIGN_SETUP);
  return setup != nullptr ? setup(eckey, ctx, kinv, rp) : 0;
}

/* see morvane/ecdsa.h */
int ECDSA_do_verify(const unsigned char* dgst, int dgst_len, const ECDSA_SIG* sig,
                    EC_KEY* eckey) {
  const auto verify = slot_of(eckey, &ECDSA_METHOD::ecdsa_do_verify, ECDSA_F_ECDSA_DO_VERIFY);
  return verify != nullptr ? verify(dgst, dgst_len, sig, eckey) : -1;
}

/* see morvane/ecdsa.h */
int ECDSA_sign(int type, const unsigned char* dgst, int dgstlen, unsigned char* sig,
               unsigned int* siglen, EC_KEY* eckey) {
  return ECDSA_sign_ex(type, dgst, dgstlen, sig, siglen, nullptr, nullptr, eckey);
}

/* see morvane/ecdsa.h */
int ECDSA_sign_ex(int /*type*/, const unsigned char* dgst, int dgstlen, unsigned char* sig,
                  unsigned int* siglen, const BIGNUM* kinv, const BIGNUM* rp, EC_KEY* eckey) {
  if (siglen != nullptr) *siglen = 0;
  if (dgstlen < 0) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_INVALID_DIGEST_LENGTH);
    return 0;
  }
  if (dgst == nullptr && dgstlen != 0) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (siglen == nullptr || sig == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  RAND_add(dgst, dgstlen, 0.0);  // public data: mixed in, never counted as entropy
  ECDSA_SIG* s = ECDSA_do_sign_ex(dgst, dgstlen, kinv, rp, eckey);
  if (s == nullptr) return 0;
  unsigned char* out = sig;
  const int n = i2d_ECDSA_SIG(s, &out);
  ECDSA_SIG_free(s);
  if (n <= 0) return 0;
  *siglen = static_cast<unsigned int>(n);
  return 1;
}

/* see morvane/ecdsa.h */
int ECDSA_verify(int /*type*/, const unsigned char* dgst, int dgstlen, const unsigned char* sigbuf,
                 int sig_len, EC_KEY* eckey) {
  if (sig_len < 0 || (sigbuf == nullptr && sig_len != 0)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_ASN1_LIB);
    return -1;
  }
  const unsigned char* p = sigbuf;
  ECDSA_SIG* s = d2i_ECDSA_SIG(nullptr, &p, sig_len);
  if (s == nullptr) return -1;
  // Only the DER encoding of the signature, filling all of sig_len, is taken:
  // a BER form or trailing bytes would give one signature many encodings.
  int ret = -1;
  unsigned char* der = nullptr;
  const int n = i2d_ECDSA_SIG(s, &der);
  if (p != sigbuf + sig_len || n != sig_len || memcmp(der, sigbuf, static_cast<size_t>(n)) != 0) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_ASN1_LIB);
  } else {
    ret = ECDSA_do_verify(dgst, dgstlen, s, eckey);
  }
  MORVANE_free(der);
  ECDSA_SIG_free(s);
  return ret;
}

namespace {

// DER length of an element with `len` content bytes.
size_t der_size(size_t len) {
  size_t hdr = 2;
  if (len >= 128)
    for (size_t l = len; l > 0; l >>= 8) ++hdr;
  return hdr + len;
}

}  // namespace

/* see morvane/ecdsa.h */
int ECDSA_size(const EC_KEY* r) {
  const EC_GROUP* group = r != nullptr ? EC_KEY_get0_group(r) : nullptr;
  if (group == nullptr) return 0;
  BIGNUM* order = BN_new();
  if (order == nullptr) return 0;
  int ret = 0;
  if (EC_GROUP_get_order(group, order, nullptr) && !BN_is_zero(order)) {
    const size_t l = (static_cast<size_t>(BN_num_bits(order)) + 7) / 8;
    const size_t total = der_size(2 * der_size(l + 1));
    if (total <= INT_MAX) ret = static_cast<int>(total);
  }
  BN_free(order);
  return ret;
}

/* see morvane/ecdsa.h */
int ECDSA_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func,
                           CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_ECDSA, argl, argp, new_func, dup_func,
                                 free_func);
}

/* see morvane/ecdsa.h */
int ECDSA_set_ex_data(EC_KEY* eckey, int idx, void* arg) {
  ECDSA_DATA* d = morvane::ecdsa::check(eckey);
  if (d == nullptr) return 0;
  return CRYPTO_set_ex_data(&d->ex_data, idx, arg);
}

/* see morvane/ecdsa.h */
void* ECDSA_get_ex_data(EC_KEY* eckey, int idx) {
  ECDSA_DATA* d = morvane::ecdsa::check(eckey);
  if (d == nullptr) return nullptr;
  return CRYPTO_get_ex_data(&d->ex_data, idx);
}
