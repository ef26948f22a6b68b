// The key container EVP_PKEY: creation, assignment of an RSA, DSA, DH or EC
// key, the reference count, sizes, and the comparison and copying of domain
// parameters.
//
// Implementation notes: the container only tags and counts; every question
// about the key goes to the key's own component.  A container may carry a
// type without a key (EVP_PKEY_assign with a null key), so each call that
// reaches into the key checks the pointer first.

#include <stddef.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "internal/err_mark.h"

static_assert(offsetof(EVP_PKEY, type) == 0 && offsetof(EVP_PKEY, save_type) == 4 &&
              offsetof(EVP_PKEY, references) == 8 && offsetof(EVP_PKEY, pkey) == 16 &&
              offsetof(EVP_PKEY, save_parameters) == 24 && offsetof(EVP_PKEY, attributes) == 32 &&
              sizeof(EVP_PKEY) == 40);

namespace {

// The key inside the container when it is of folded type `type`, else null.
void* key_of(const EVP_PKEY* pkey, int type) {
  return pkey != nullptr && pkey->type == type ? pkey->pkey.ptr : nullptr;
}

// Frees the key by the container's current type.
void free_key(EVP_PKEY* pkey) {
  if (pkey->pkey.ptr == nullptr) return;
  switch (pkey->type) {
    case EVP_PKEY_RSA:
      RSA_free(pkey->pkey.rsa);
      break;
    case EVP_PKEY_DSA:
      DSA_free(pkey->pkey.dsa);
      break;
    case EVP_PKEY_DH:
      DH_free(pkey->pkey.dh);
      break;
    case EVP_PKEY_EC:
      EC_KEY_free(pkey->pkey.ec);
      break;
    default:
      break;
  }
  pkey->pkey.ptr = nullptr;
}

void free_attribute(void* attr) {
  X509_ATTRIBUTE_free(static_cast<X509_ATTRIBUTE*>(attr));
}

// Assigns `key` under `type` and adds a reference to it for the container.
template <auto UpRef, class Key>
int set1(EVP_PKEY* pkey, int type, Key* key) {
  const int ret = EVP_PKEY_assign(pkey, type, key);
  if (ret) UpRef(key);
  return ret;
}

// The container's key of `type` with a reference added for the caller.
template <class Key, int (*UpRef)(Key*)>
Key* get1(EVP_PKEY* pkey, int type, int func, int reason) {
  if (pkey == nullptr || pkey->type != type) {
    ERR_put_error(ERR_LIB_EVP, func, reason, __FILE__, __LINE__);
    return nullptr;
  }
  auto* key = static_cast<Key*>(key_of(pkey, type));
  if (key != nullptr) UpRef(key);
  return key;
}

}  // namespace

/* see morvane/evp.h */
int EVP_PKEY_type(int type) {
  switch (type) {
    case EVP_PKEY_RSA:
    case EVP_PKEY_RSA2:
      return EVP_PKEY_RSA;
    case EVP_PKEY_DSA:
    case EVP_PKEY_DSA1:
    case EVP_PKEY_DSA2:
    case EVP_PKEY_DSA3:
    case EVP_PKEY_DSA4:
      return EVP_PKEY_DSA;
    case EVP_PKEY_DH:
      return EVP_PKEY_DH;
    case EVP_PKEY_EC:
      return EVP_PKEY_EC;
    default:
      return EVP_PKEY_NONE;
  }
}

/* see morvane/evp.h */
EVP_PKEY* EVP_PKEY_new(void) {
  auto* ret = static_cast<EVP_PKEY*>(MORVANE_malloc(sizeof(EVP_PKEY)));
  if (ret == nullptr) {
    EVPerr(EVP_F_EVP_PKEY_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->type = EVP_PKEY_NONE;
  ret->save_type = EVP_PKEY_NONE;
  ret->references = 1;
  ret->pkey.ptr = nullptr;
  ret->save_parameters = 1;
  ret->attributes = nullptr;
  return ret;
}

/* see morvane/evp.h */
int EVP_PKEY_assign(EVP_PKEY* pkey, int type, void* key) {
  if (pkey == nullptr) return 0;
  free_key(pkey);
  pkey->save_type = type;
  pkey->type = EVP_PKEY_type(type);
  pkey->pkey.ptr = static_cast<char*>(key);
  return key != nullptr;
}

/* see morvane/evp.h */
int EVP_PKEY_set1_RSA(EVP_PKEY* pkey, RSA* key) {
  return set1<RSA_up_ref>(pkey, EVP_PKEY_RSA, key);
}

/* see morvane/evp.h */
int EVP_PKEY_set1_DSA(EVP_PKEY* pkey, DSA* key) {
  return set1<DSA_up_ref>(pkey, EVP_PKEY_DSA, key);
}

/* see morvane/evp.h */
int EVP_PKEY_set1_DH(EVP_PKEY* pkey, DH* key) {
  return set1<DH_up_ref>(pkey, EVP_PKEY_DH, key);
}

/* see morvane/evp.h */
int EVP_PKEY_set1_EC_KEY(EVP_PKEY* pkey, EC_KEY* key) {
  return set1<EC_KEY_up_ref>(pkey, EVP_PKEY_EC, key);
}

/* see morvane/evp.h */
RSA* EVP_PKEY_get1_RSA(EVP_PKEY* pkey) {
  return get1<RSA, RSA_up_ref>(pkey, EVP_PKEY_RSA, EVP_F_EVP_PKEY_GET1_RSA,
                               EVP_R_EXPECTING_AN_RSA_KEY);
}

/* see morvane/evp.h */
DSA* EVP_PKEY_get1_DSA(EVP_PKEY* pkey) {
  return get1<DSA, DSA_up_ref>(pkey, EVP_PKEY_DSA, EVP_F_EVP_PKEY_GET1_DSA,
                               EVP_R_EXPECTING_A_DSA_KEY);
}

/* see morvane/evp.h */
DH* EVP_PKEY_get1_DH(EVP_PKEY* pkey) {
  return get1<DH, DH_up_ref>(pkey, EVP_PKEY_DH, EVP_F_EVP_PKEY_GET1_DH, EVP_R_EXPECTING_A_DH_KEY);
}

/* see morvane/evp.h */
EC_KEY* EVP_PKEY_get1_EC_KEY(EVP_PKEY* pkey) {
  return get1<EC_KEY, EC_KEY_up_ref>(pkey, EVP_PKEY_EC, EVP_F_EVP_PKEY_GET1_EC_KEY,
                                     EVP_R_EXPECTING_A_EC_KEY);
}

/* see morvane/evp.h */
void EVP_PKEY_free(EVP_PKEY* pkey) {
  if (pkey == nullptr) return;
  if (CRYPTO_add(&pkey->references, -1, CRYPTO_LOCK_EVP_PKEY) > 0) return;
  free_key(pkey);
  if (pkey->attributes != nullptr) sk_pop_free(pkey->attributes, free_attribute);
  MORVANE_free(pkey);
}

/* see morvane/evp.h */
int EVP_PKEY_bits(EVP_PKEY* pkey) {
  if (const auto* rsa = static_cast<const RSA*>(key_of(pkey, EVP_PKEY_RSA)))
    return rsa->n != nullptr ? BN_num_bits(rsa->n) : 0;
  if (const auto* dsa = static_cast<const DSA*>(key_of(pkey, EVP_PKEY_DSA)))
    return dsa->p != nullptr ? BN_num_bits(dsa->p) : 0;
  if (const auto* ec = static_cast<const EC_KEY*>(key_of(pkey, EVP_PKEY_EC))) {
    const EC_GROUP* group = EC_KEY_get0_group(ec);
    BIGNUM* order = group != nullptr ? BN_new() : nullptr;
    int ret = 0;
    if (order != nullptr) {
      // A group without order has no size: what the lookup queued goes,
      // and only that.
      morvane::internal::ErrorMark mark;
      if (EC_GROUP_get_order(group, order, nullptr))
        ret = BN_num_bits(order);
      else
        mark.pop();
    }
    BN_free(order);
    return ret;
  }
  return 0;
}

/* see morvane/evp.h */
int EVP_PKEY_size(EVP_PKEY* pkey) {
  if (const auto* rsa = static_cast<const RSA*>(key_of(pkey, EVP_PKEY_RSA))) return RSA_size(rsa);
  if (const auto* dsa = static_cast<const DSA*>(key_of(pkey, EVP_PKEY_DSA))) return DSA_size(dsa);
  if (const auto* ec = static_cast<const EC_KEY*>(key_of(pkey, EVP_PKEY_EC))) return ECDSA_size(ec);
  return 0;
}

/* see morvane/evp.h */
int EVP_PKEY_save_parameters(EVP_PKEY* pkey, int mode) {
  if (pkey == nullptr || (pkey->type != EVP_PKEY_DSA && pkey->type != EVP_PKEY_EC)) return 0;
  const int ret = pkey->save_parameters;
  if (mode >= 0) pkey->save_parameters = mode;
  return ret;
}

/* see morvane/evp.h */
int EVP_PKEY_missing_parameters(const EVP_PKEY* pkey) {
  if (pkey == nullptr) return 0;
  if (pkey->type == EVP_PKEY_DSA) {
    const DSA* dsa = pkey->pkey.dsa;
    return dsa == nullptr || dsa->p == nullptr || dsa->q == nullptr || dsa->g == nullptr;
  }
  if (pkey->type == EVP_PKEY_EC)
    return pkey->pkey.ec == nullptr || EC_KEY_get0_group(pkey->pkey.ec) == nullptr;
  return 0;
}

/* see morvane/evp.h */
int EVP_PKEY_copy_parameters(EVP_PKEY* to, const EVP_PKEY* from) {
  if (to == nullptr || from == nullptr || to->type != from->type) {
    EVPerr(EVP_F_EVP_PKEY_COPY_PARAMETERS, EVP_R_DIFFERENT_KEY_TYPES);
    return 0;
  }
  if (EVP_PKEY_missing_parameters(from)) {
    EVPerr(EVP_F_EVP_PKEY_COPY_PARAMETERS, EVP_R_MISSING_PARAMETERS);
    return 0;
  }
  if (from->type == EVP_PKEY_DSA) {
    DSA* dst = to->pkey.dsa;
    const DSA* src = from->pkey.dsa;
    if (dst == nullptr) return 0;
    BIGNUM* DSA::*const fields[] = {&DSA::p, &DSA::q, &DSA::g};
    for (BIGNUM* DSA::*f : fields) {
      BIGNUM* copy = BN_dup(src->*f);
      if (copy == nullptr) return 0;
      BN_free(dst->*f);
      dst->*f = copy;
    }
  } else if (from->type == EVP_PKEY_EC) {
    if (to->pkey.ec == nullptr) return 0;
    EC_GROUP* group = EC_GROUP_dup(EC_KEY_get0_group(from->pkey.ec));
    if (group == nullptr) return 0;
    const int ok = EC_KEY_set_group(to->pkey.ec, group);
    EC_GROUP_free(group);
    if (!ok) return 0;
  }
  return 1;
}

/* see morvane/evp.h */
int EVP_PKEY_cmp_parameters(const EVP_PKEY* a, const EVP_PKEY* b) {
  if (a == nullptr || b == nullptr || a->type != b->type) return -1;
  if (a->type == EVP_PKEY_DSA) {
    const DSA* x = a->pkey.dsa;
    const DSA* y = b->pkey.dsa;
    if (x == nullptr || y == nullptr) return 0;
    BIGNUM* DSA::*const fields[] = {&DSA::p, &DSA::q, &DSA::g};
    for (BIGNUM* DSA::*f : fields)
      if (x->*f == nullptr || y->*f == nullptr || BN_cmp(x->*f, y->*f) != 0) return 0;
    return 1;
  }
  if (a->type == EVP_PKEY_EC) {
    if (a->pkey.ec == nullptr || b->pkey.ec == nullptr) return 0;
    const EC_GROUP* x = EC_KEY_get0_group(a->pkey.ec);
    const EC_GROUP* y = EC_KEY_get0_group(b->pkey.ec);
    if (x == nullptr || y == nullptr) return 0;
    return EC_GROUP_cmp(x, y, nullptr) == 0 ? 1 : 0;  // an error counts as different
  }
  return -1;
}

/* see morvane/evp.h */
int EVP_PKEY_cmp(const EVP_PKEY* a, const EVP_PKEY* b) {
  if (a == nullptr || b == nullptr || a->type != b->type) return -1;
  if (EVP_PKEY_cmp_parameters(a, b) == 0) return 0;
  switch (a->type) {
    case EVP_PKEY_RSA: {
      const RSA* x = a->pkey.rsa;
      const RSA* y = b->pkey.rsa;
      if (x == nullptr || y == nullptr || x->n == nullptr || y->n == nullptr || x->e == nullptr ||
          y->e == nullptr)
        return 0;
      return BN_cmp(x->n, y->n) == 0 && BN_cmp(x->e, y->e) == 0 ? 1 : 0;
    }
    case EVP_PKEY_DSA: {
      const BIGNUM* x = a->pkey.dsa->pub_key;
      const BIGNUM* y = b->pkey.dsa->pub_key;
      return x != nullptr && y != nullptr && BN_cmp(x, y) == 0 ? 1 : 0;
    }
    case EVP_PKEY_EC: {
      const EC_POINT* x = EC_KEY_get0_public_key(a->pkey.ec);
      const EC_POINT* y = EC_KEY_get0_public_key(b->pkey.ec);
      if (x == nullptr || y == nullptr) return 0;
      switch (EC_POINT_cmp(EC_KEY_get0_group(b->pkey.ec), x, y, nullptr)) {
        case 0:
          return 1;
        case 1:
          return 0;
        default:
          return -2;
      }
    }
    default:
      return -2;  // DH and unknown types cannot be compared
  }
}
