// The built-in ECDSA computations (ANSI X9.62 7.3 and 7.4, SEC 1 4.1.3 and
// 4.1.4).  The nonce, its inverse and the private scalar meet only
// constant-time code, which reads them at the order's width whatever their
// word counts: the nonce's draw compares it with the order by masks
// (internal::draw_below), k x G goes through the curve's one-term
// multiplication, the inversion and the products through the fixed-width
// arithmetic modulo the order (crypto/ec/ecp_ct.cc).  So a k^-1 from
// ECDSA_sign_setup, stored with a word count found by masks, may come back
// to ECDSA_do_sign_ex.

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "ec/internal.h"
#include "ecdsa/internal.h"
#include "internal/fixed_words.h"

namespace {

constexpr int kPrimeField = 406;  // NID_X9_62_prime_field

// m = the leftmost bits(order) bits of the digest.
int digest_to_bn(BIGNUM* m, const unsigned char* dgst, int dgst_len, const BIGNUM* order) {
  if (dgst_len < 0 || (dgst == nullptr && dgst_len != 0)) return 0;
  const int bits = BN_num_bits(order);
  int len = dgst_len;
  if (8 * static_cast<long long>(len) > bits) len = (bits + 7) / 8;
  if (BN_bin2bn(dgst, len, m) == nullptr) return 0;
  if (8 * static_cast<long long>(len) > bits && !BN_rshift(m, m, 8 - (bits & 7))) return 0;
  return 1;
}

int affine_x(const EC_GROUP* group, const EC_POINT* p, BIGNUM* x, BN_CTX* ctx) {
  if (EC_METHOD_get_field_type(EC_GROUP_method_of(group)) == kPrimeField)
    return EC_POINT_get_affine_coordinates_GFp(group, p, x, nullptr, ctx);
  return EC_POINT_get_affine_coordinates_GF2m(group, p, x, nullptr, ctx);
}

}  // namespace

namespace morvane::ecdsa {

namespace {

// Draws a nonce k in [1, n) and r = x(k G) mod n, again until r is not 0.
// k keeps BN_FLAG_SECRET; its draw compares it with n by masks, and k G
// goes through the curve's constant-time one-term multiplication.
int draw_nonce(const EC_GROUP* group, const BIGNUM* order, BIGNUM* k, BIGNUM* r, BN_CTX* ctx,
               int func) {
  EC_POINT* tmp = EC_POINT_new(group);
  BIGNUM* X = BN_new();
  int ok = 0;
  if (tmp == nullptr || X == nullptr) {
    ECDSAerr(func, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  BN_set_flags(k, BN_FLAG_SECRET);
  do {
    if (!morvane::internal::draw_below(k, order)) {
      ECDSAerr(func, ECDSA_R_RANDOM_NUMBER_GENERATION_FAILED);
      goto err;
    }
    if (!EC_POINT_mul(group, tmp, k, nullptr, nullptr, ctx) || !affine_x(group, tmp, X, ctx)) {
      ECDSAerr(func, ERR_R_EC_LIB);
      goto err;
    }
    if (!BN_nnmod(r, X, order, ctx)) {
      ECDSAerr(func, ERR_R_BN_LIB);
      goto err;
    }
  } while (BN_is_zero(r));
  ok = 1;
err:
  BN_clear_free(X);
  EC_POINT_clear_free(tmp);
  return ok;
}

}  // namespace

int sign_setup(EC_KEY* eckey, BN_CTX* ctx_in, BIGNUM** kinvp, BIGNUM** rp) {
  const EC_GROUP* group = eckey != nullptr ? EC_KEY_get0_group(eckey) : nullptr;
  if (group == nullptr || kinvp == nullptr || rp == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_SIGN_SETUP, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  int ok = 0;
  BN_CTX* ctx = ctx_in;
  if (ctx == nullptr) {
    ctx = BN_CTX_new();
    if (ctx == nullptr) {
      ECDSAerr(ECDSA_F_ECDSA_SIGN_SETUP, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  BIGNUM* k = BN_new();
  BIGNUM* kinv = BN_new();
  BIGNUM* r = BN_new();
  BIGNUM* order = BN_new();
  if (k == nullptr || kinv == nullptr || r == nullptr || order == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_SIGN_SETUP, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  if (!EC_GROUP_get_order(group, order, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_SIGN_SETUP, ERR_R_EC_LIB);
    goto err;
  }
  if (!draw_nonce(group, order, k, r, ctx, ECDSA_F_ECDSA_SIGN_SETUP)) goto err;
  BN_set_flags(kinv, BN_FLAG_SECRET);
  if (!morvane::ec::ct_order_inverse(group, kinv, k, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_SIGN_SETUP, ERR_R_BN_LIB);
    goto err;
  }
  BN_clear_free(*rp);
  BN_clear_free(*kinvp);
  *rp = r;
  *kinvp = kinv;
  r = nullptr;
  kinv = nullptr;
  ok = 1;
err:
  BN_clear_free(k);
  BN_clear_free(kinv);
  BN_clear_free(r);
  BN_free(order);
  if (ctx != ctx_in) BN_CTX_free(ctx);
  return ok;
}

// s = k^-1 (m + x r) mod n, all in the constant-time arithmetic modulo the
// order: the nonce (or its precomputed inverse) and the private scalar
// reach no branch and no address.
ECDSA_SIG* do_sign(const unsigned char* dgst, int dgst_len, const BIGNUM* in_kinv,
                   const BIGNUM* in_r, EC_KEY* eckey) {
  const EC_GROUP* group = eckey != nullptr ? EC_KEY_get0_group(eckey) : nullptr;
  const BIGNUM* priv = eckey != nullptr ? EC_KEY_get0_private_key(eckey) : nullptr;
  if (group == nullptr || priv == nullptr || check(eckey) == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (dgst_len < 0) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_INVALID_DIGEST_LENGTH);
    return nullptr;
  }
  const bool precomputed = in_kinv != nullptr && in_r != nullptr;
  bool ok = false;
  BIGNUM* k = nullptr;
  BIGNUM* order = nullptr;
  BIGNUM* m = nullptr;
  BN_CTX* ctx = nullptr;
  ECDSA_SIG* ret = ECDSA_SIG_new();
  if (ret == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ctx = BN_CTX_new();
  order = BN_new();
  m = BN_new();
  k = BN_new();
  if (ctx == nullptr || order == nullptr || m == nullptr || k == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  if (!EC_GROUP_get_order(group, order, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_EC_LIB);
    goto err;
  }
  if (!digest_to_bn(m, dgst, dgst_len, order)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_BN_LIB);
    goto err;
  }
  for (;;) {
    if (precomputed) {
      if (BN_copy(ret->r, in_r) == nullptr) {
        ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_MALLOC_FAILURE);
        goto err;
      }
    } else if (!draw_nonce(group, order, k, ret->r, ctx, ECDSA_F_ECDSA_DO_SIGN)) {
      goto err;
    }
    if (!morvane::ec::ct_order_sign(group, ret->s, precomputed ? in_kinv : k, precomputed, priv,
                                    ret->r, m, ctx)) {
      ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ERR_R_BN_LIB);
      goto err;
    }
    if (!BN_is_zero(ret->s)) break;
    if (precomputed) {
      ECDSAerr(ECDSA_F_ECDSA_DO_SIGN, ECDSA_R_NEED_NEW_SETUP_VALUES);
      goto err;
    }
  }
  ok = true;
err:
  if (!ok) {
    ECDSA_SIG_free(ret);
    ret = nullptr;
  }
  BN_CTX_free(ctx);
  BN_clear_free(m);
  BN_clear_free(k);
  BN_free(order);
  return ret;
}

int do_verify(const unsigned char* dgst, int dgst_len, const ECDSA_SIG* sig, EC_KEY* eckey) {
  const EC_GROUP* group = eckey != nullptr ? EC_KEY_get0_group(eckey) : nullptr;
  const EC_POINT* pub = eckey != nullptr ? EC_KEY_get0_public_key(eckey) : nullptr;
  if (group == nullptr || pub == nullptr || sig == nullptr || sig->r == nullptr ||
      sig->s == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_MISSING_PARAMETERS);
    return -1;
  }
  if (dgst_len < 0) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_INVALID_DIGEST_LENGTH);
    return -1;
  }
  // Against the point at infinity u1 G + u2 O = u1 G, and r = x(k G),
  // s = m / k verifies for any k without the private key.
  if (EC_POINT_is_at_infinity(group, pub)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_PUBLIC_KEY_AT_INFINITY);
    return -1;
  }
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  int ret = -1;
  EC_POINT* point = nullptr;
  BN_CTX_start(ctx);
  BIGNUM* order = BN_CTX_get(ctx);
  BIGNUM* u1 = BN_CTX_get(ctx);
  BIGNUM* u2 = BN_CTX_get(ctx);
  BIGNUM* m = BN_CTX_get(ctx);
  BIGNUM* X = BN_CTX_get(ctx);
  if (X == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_BN_LIB);
    goto err;
  }
  if (!EC_GROUP_get_order(group, order, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_EC_LIB);
    goto err;
  }
  if (BN_is_zero(sig->r) || BN_is_negative(sig->r) || BN_ucmp(sig->r, order) >= 0 ||
      BN_is_zero(sig->s) || BN_is_negative(sig->s) || BN_ucmp(sig->s, order) >= 0) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ECDSA_R_BAD_SIGNATURE);
    ret = 0;
    goto err;
  }
  if (BN_mod_inverse(u2, sig->s, order, ctx) == nullptr ||
      !digest_to_bn(m, dgst, dgst_len, order) || !BN_mod_mul(u1, m, u2, order, ctx) ||
      !BN_mod_mul(u2, sig->r, u2, order, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_BN_LIB);
    goto err;
  }
  point = EC_POINT_new(group);
  if (point == nullptr) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  if (!EC_POINT_mul(group, point, u1, pub, u2, ctx) || !affine_x(group, point, X, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_EC_LIB);
    goto err;
  }
  if (!BN_nnmod(u1, X, order, ctx)) {
    ECDSAerr(ECDSA_F_ECDSA_DO_VERIFY, ERR_R_BN_LIB);
    goto err;
  }
  ret = BN_ucmp(u1, sig->r) == 0 ? 1 : 0;
err:
  EC_POINT_free(point);
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ret;
}

}  // namespace morvane::ecdsa
