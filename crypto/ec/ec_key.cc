// Elliptic-curve keys: life, copies, accessors, generation, the key check
// and the per-key method records of the signature and agreement methods.

#include <atomic>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"
#include "internal/fixed_words.h"

namespace {

// A new secret scalar holding v (null on failure): copied at v's room, its
// word count not looked at, for a count found by masks stays secret.
BIGNUM* dup_secret(const BIGNUM* v) {
  BIGNUM* r = BN_new();
  if (r == nullptr) return nullptr;
  if (!morvane::internal::copy_words(r, v)) {
    BN_free(r);
    return nullptr;
  }
  BN_set_flags(r, BN_FLAG_SECRET);
  return r;
}

EC_EXTRA_DATA* load_head(const EC_KEY* key) {
  return std::atomic_ref<EC_EXTRA_DATA*>(const_cast<EC_KEY*>(key)->method_data)
      .load(std::memory_order_acquire);
}

}  // namespace

/* see morvane/ec.h */
EC_KEY* EC_KEY_new(void) {
  auto* key = static_cast<EC_KEY*>(MORVANE_malloc(sizeof(EC_KEY)));
  if (key == nullptr) {
    ECERR(EC_F_EC_KEY_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  key->version = 1;
  key->group = nullptr;
  key->pub_key = nullptr;
  key->priv_key = nullptr;
  key->enc_flag = 0;
  key->conv_form = POINT_CONVERSION_UNCOMPRESSED;
  key->references = 1;
  key->method_data = nullptr;
  return key;
}

/* see morvane/ec.h */
EC_KEY* EC_KEY_new_by_curve_name(int nid) {
  EC_KEY* key = EC_KEY_new();
  if (key == nullptr) return nullptr;
  key->group = EC_GROUP_new_by_curve_name(nid);
  if (key->group == nullptr) {
    EC_KEY_free(key);
    return nullptr;
  }
  return key;
}

/* see morvane/ec.h */
void EC_KEY_free(EC_KEY* key) {
  if (key == nullptr) return;
  if (CRYPTO_add(&key->references, -1, CRYPTO_LOCK_EC) > 0) return;
  EC_GROUP_free(key->group);
  EC_POINT_free(key->pub_key);
  BN_clear_free(key->priv_key);
  EC_EX_DATA_free_all_data(&key->method_data);
  MORVANE_cleanse(key, sizeof(EC_KEY));
  MORVANE_free(key);
}

/* see morvane/ec.h */
int EC_KEY_up_ref(EC_KEY* key) {
  if (key == nullptr) return 0;
  return CRYPTO_add(&key->references, 1, CRYPTO_LOCK_EC) > 1 ? 1 : 0;
}

/* see morvane/ec.h */
EC_KEY* EC_KEY_copy(EC_KEY* dest, const EC_KEY* src) {
  if (dest == nullptr || src == nullptr) {
    ECERR(EC_F_EC_KEY_COPY, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (dest == src) return dest;
  if (src->group != nullptr) {
    EC_GROUP_free(dest->group);
    dest->group = EC_GROUP_new(EC_GROUP_method_of(src->group));
    if (dest->group == nullptr || !EC_GROUP_copy(dest->group, src->group)) return nullptr;
  }
  if (src->pub_key != nullptr && src->group != nullptr) {
    EC_POINT_free(dest->pub_key);
    dest->pub_key = EC_POINT_new(src->group);
    if (dest->pub_key == nullptr || !EC_POINT_copy(dest->pub_key, src->pub_key)) return nullptr;
  }
  if (src->priv_key != nullptr) {
    if (dest->priv_key == nullptr) dest->priv_key = BN_new();
    if (dest->priv_key == nullptr || !morvane::internal::copy_words(dest->priv_key, src->priv_key))
      return nullptr;
    BN_set_flags(dest->priv_key, BN_FLAG_SECRET);
  }
  EC_EX_DATA_free_all_data(&dest->method_data);
  for (const EC_EXTRA_DATA* d = src->method_data; d != nullptr; d = d->next) {
    void* t = d->dup_func != nullptr ? d->dup_func(d->data) : nullptr;
    if (t == nullptr) {
      ECERR(EC_F_EC_KEY_COPY, EC_R_METHOD_DATA_NOT_COPIED);
      return nullptr;
    }
    if (!EC_EX_DATA_set_data(&dest->method_data, t, d->dup_func, d->free_func,
                             d->clear_free_func)) {
      if (d->free_func != nullptr) d->free_func(t);
      return nullptr;
    }
  }
  dest->enc_flag = src->enc_flag;
  dest->conv_form = src->conv_form;
  dest->version = src->version;
  return dest;
}

/* see morvane/ec.h */
EC_KEY* EC_KEY_dup(const EC_KEY* src) {
  EC_KEY* key = EC_KEY_new();
  if (key == nullptr) return nullptr;
  if (EC_KEY_copy(key, src) == nullptr) {
    EC_KEY_free(key);
    return nullptr;
  }
  return key;
}

/* see morvane/ec.h */
int EC_KEY_generate_key(EC_KEY* eckey) {
  if (eckey == nullptr || eckey->group == nullptr) {
    ECERR(EC_F_EC_KEY_GENERATE_KEY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // Computed in temporaries, stored in the key's own objects on success: a
  // failed generation leaves the key as it was.
  int ok = 0;
  BIGNUM* order = BN_new();
  BIGNUM* priv = BN_new();
  EC_POINT* pub = EC_POINT_new(eckey->group);
  BN_CTX* ctx = BN_CTX_new();
  if (order == nullptr || priv == nullptr || pub == nullptr || ctx == nullptr) goto err;
  BN_set_flags(priv, BN_FLAG_SECRET);
  if (!EC_GROUP_get_order(eckey->group, order, ctx)) goto err;
  if (!morvane::internal::draw_below(priv, order)) goto err;
  if (!EC_POINT_mul(eckey->group, pub, priv, nullptr, nullptr, ctx)) goto err;
  // Only a group without a sound generator or order gives it.
  if (EC_POINT_is_at_infinity(eckey->group, pub)) {
    ECERR(EC_F_EC_KEY_GENERATE_KEY, EC_R_POINT_AT_INFINITY);
    goto err;
  }
  if (eckey->priv_key == nullptr) {
    eckey->priv_key = priv;
    priv = nullptr;
  } else if (!morvane::internal::copy_words(eckey->priv_key, priv)) {
    goto err;
  } else {
    BN_set_flags(eckey->priv_key, BN_FLAG_SECRET);
  }
  if (eckey->pub_key == nullptr) {
    eckey->pub_key = pub;
    pub = nullptr;
  } else if (!EC_POINT_copy(eckey->pub_key, pub)) {
    goto err;
  }
  ok = 1;
err:
  BN_free(order);
  BN_clear_free(priv);
  EC_POINT_clear_free(pub);
  BN_CTX_free(ctx);
  return ok;
}

/* see morvane/ec.h */
int EC_KEY_check_key(const EC_KEY* eckey) {
  if (eckey == nullptr || eckey->group == nullptr || eckey->pub_key == nullptr) {
    ECERR(EC_F_EC_KEY_CHECK_KEY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  const EC_GROUP* group = eckey->group;
  // The point at infinity is no public key: every multiple of it is itself.
  if (EC_POINT_is_at_infinity(group, eckey->pub_key)) {
    ECERR(EC_F_EC_KEY_CHECK_KEY, EC_R_POINT_AT_INFINITY);
    return 0;
  }
  int ok = 0;
  BN_CTX* ctx = BN_CTX_new();
  EC_POINT* tmp = EC_POINT_new(group);
  BIGNUM* order = BN_new();
  if (ctx == nullptr || tmp == nullptr || order == nullptr) goto err;
  if (EC_POINT_is_on_curve(group, eckey->pub_key, ctx) <= 0) {
    ECERR(EC_F_EC_KEY_CHECK_KEY, EC_R_POINT_IS_NOT_ON_CURVE);
    goto err;
  }
  if (!EC_GROUP_get_order(group, order, ctx) || BN_is_zero(order)) {
    ECERR(EC_F_EC_KEY_CHECK_KEY, EC_R_INVALID_GROUP_ORDER);
    goto err;
  }
  // A cofactor the curve cannot have (or none) says the parameters are not
  // the curve's, and the peer check of ECDH would rest on it.
  if (!morvane::ec::check_cofactor(group, ctx, EC_F_EC_KEY_CHECK_KEY)) goto err;
  if (!EC_POINT_mul(group, tmp, nullptr, eckey->pub_key, order, ctx)) {
    ECERR(EC_F_EC_KEY_CHECK_KEY, ERR_R_EC_LIB);
    goto err;
  }
  if (!EC_POINT_is_at_infinity(group, tmp)) {
    ECERR(EC_F_EC_KEY_CHECK_KEY, EC_R_WRONG_ORDER);
    goto err;
  }
  if (eckey->priv_key != nullptr) {
    if (BN_cmp(eckey->priv_key, order) >= 0) {
      ECERR(EC_F_EC_KEY_CHECK_KEY, EC_R_WRONG_ORDER);
      goto err;
    }
    if (!EC_POINT_mul(group, tmp, eckey->priv_key, nullptr, nullptr, ctx)) {
      ECERR(EC_F_EC_KEY_CHECK_KEY, ERR_R_EC_LIB);
      goto err;
    }
    if (EC_POINT_cmp(group, tmp, eckey->pub_key, ctx) != 0) {
      ECERR(EC_F_EC_KEY_CHECK_KEY, EC_R_INVALID_PRIVATE_KEY);
      goto err;
    }
  }
  ok = 1;
err:
  BN_free(order);
  EC_POINT_free(tmp);
  BN_CTX_free(ctx);
  return ok;
}

/* see morvane/ec.h */
const EC_GROUP* EC_KEY_get0_group(const EC_KEY* key) {
  return key != nullptr ? key->group : nullptr;
}

/* see morvane/ec.h */
int EC_KEY_set_group(EC_KEY* key, const EC_GROUP* group) {
  if (key == nullptr) return 0;
  EC_GROUP_free(key->group);
  key->group = EC_GROUP_dup(group);
  return key->group != nullptr ? 1 : 0;
}

/* see morvane/ec.h */
const BIGNUM* EC_KEY_get0_private_key(const EC_KEY* key) {
  return key != nullptr ? key->priv_key : nullptr;
}

/* see morvane/ec.h */
int EC_KEY_set_private_key(EC_KEY* key, const BIGNUM* priv_key) {
  if (key == nullptr) return 0;
  BN_clear_free(key->priv_key);
  key->priv_key = priv_key != nullptr ? dup_secret(priv_key) : nullptr;
  return key->priv_key != nullptr ? 1 : 0;
}

/* see morvane/ec.h */
const EC_POINT* EC_KEY_get0_public_key(const EC_KEY* key) {
  return key != nullptr ? key->pub_key : nullptr;
}

/* see morvane/ec.h */
int EC_KEY_set_public_key(EC_KEY* key, const EC_POINT* pub) {
  if (key == nullptr) return 0;
  if (pub != nullptr && key->group != nullptr && EC_POINT_is_at_infinity(key->group, pub)) {
    ECERR(EC_F_EC_KEY_SET_PUBLIC_KEY, EC_R_POINT_AT_INFINITY);
    return 0;
  }
  EC_POINT_free(key->pub_key);
  key->pub_key = pub != nullptr && key->group != nullptr ? EC_POINT_dup(pub, key->group) : nullptr;
  return key->pub_key != nullptr ? 1 : 0;
}

/* see morvane/ec.h */
unsigned int EC_KEY_get_enc_flags(const EC_KEY* key) {
  return key != nullptr ? key->enc_flag : 0;
}

/* see morvane/ec.h */
void EC_KEY_set_enc_flags(EC_KEY* key, unsigned int flags) {
  if (key != nullptr) key->enc_flag = flags;
}

/* see morvane/ec.h */
point_conversion_form_t EC_KEY_get_conv_form(const EC_KEY* key) {
  return key != nullptr ? key->conv_form : point_conversion_form_t{};
}

/* see morvane/ec.h */
void EC_KEY_set_conv_form(EC_KEY* key, point_conversion_form_t cform) {
  if (key == nullptr) return;
  key->conv_form = cform;
  if (key->group != nullptr) EC_GROUP_set_point_conversion_form(key->group, cform);
}

/* see morvane/ec.h */
void EC_KEY_set_asn1_flag(EC_KEY* key, int flag) {
  if (key != nullptr && key->group != nullptr) EC_GROUP_set_asn1_flag(key->group, flag);
}

/* see morvane/ec.h */
int EC_KEY_precompute_mult(EC_KEY* key, BN_CTX* ctx) {
  if (key == nullptr || key->group == nullptr) return 0;
  return EC_GROUP_precompute_mult(key->group, ctx);
}

/* see morvane/ec.h */
void* EC_KEY_get_key_method_data(EC_KEY* key, void* (*dup_func)(void*), void (*free_func)(void*),
                                 void (*clear_free_func)(void*)) {
  if (key == nullptr) return nullptr;
  return EC_EX_DATA_get_data(load_head(key), dup_func, free_func, clear_free_func);
}

/* see morvane/ec.h */
void EC_KEY_insert_key_method_data(EC_KEY* key, void* data, void* (*dup_func)(void*),
                                   void (*free_func)(void*), void (*clear_free_func)(void*)) {
  if (key == nullptr || data == nullptr) return;
  CRYPTO_w_lock(CRYPTO_LOCK_EC);
  if (EC_EX_DATA_get_data(key->method_data, dup_func, free_func, clear_free_func) == nullptr) {
    auto* d = static_cast<EC_EXTRA_DATA*>(MORVANE_malloc(sizeof(EC_EXTRA_DATA)));
    if (d != nullptr) {
      d->data = data;
      d->dup_func = dup_func;
      d->free_func = free_func;
      d->clear_free_func = clear_free_func;
      d->next = key->method_data;
      // Readers walk the list without the lock: the node is complete before
      // it becomes the head.
      std::atomic_ref<EC_EXTRA_DATA*>(key->method_data).store(d, std::memory_order_release);
    }
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_EC);
}
