// The built-in ECDH computation (SEC 1, 3.3.1): the x coordinate of the
// private scalar times the peer's point, as ceil(degree / 8) octets.  The
// peer's point is checked first (SEC 1, 3.2.2.1): a point off the curve, the
// point at infinity or, with a cofactor other than 1, a point outside the
// subgroup of the order would let the result leak bits of the scalar.

#include <limits.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/err.h>

#include "ecdh/internal.h"

namespace {

constexpr int kPrimeField = 406;  // NID_X9_62_prime_field
constexpr int kF = ECDH_F_ECDH_COMPUTE_KEY;

// 1 when the peer's point may be multiplied by the key's scalar.
int peer_point_ok(const EC_GROUP* group, const EC_POINT* pub, EC_POINT* tmp, BIGNUM* order,
                  BN_CTX* ctx) {
  if (pub == nullptr || EC_POINT_is_at_infinity(group, pub) ||
      EC_POINT_is_on_curve(group, pub, ctx) != 1)
    return 0;
  if (!EC_GROUP_get_cofactor(group, order, ctx)) return 0;
  if (BN_is_one(order)) return 1;
  // n P = O: the point lies in the subgroup of the key's order.
  if (!EC_GROUP_get_order(group, order, ctx) || BN_is_zero(order) ||
      !EC_POINT_mul(group, tmp, nullptr, pub, order, ctx))
    return 0;
  return EC_POINT_is_at_infinity(group, tmp);
}

}  // namespace

namespace morvane::ecdh {

int compute_key(void* out, size_t outlen, const EC_POINT* pub_key, EC_KEY* ecdh,
                void* (*KDF)(const void* in, size_t inlen, void* out, size_t* outlen)) {
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) return -1;
  int ret = -1;
  EC_POINT* tmp = nullptr;
  unsigned char* buf = nullptr;
  size_t buflen = 0;
  BN_CTX_start(ctx);
  BIGNUM* x = BN_CTX_get(ctx);
  BIGNUM* y = BN_CTX_get(ctx);
  BIGNUM* order = BN_CTX_get(ctx);
  const EC_GROUP* group = EC_KEY_get0_group(ecdh);
  const BIGNUM* priv = EC_KEY_get0_private_key(ecdh);
  if (order == nullptr) {
    ECDHerr(kF, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  if (priv == nullptr) {
    ECDHerr(kF, ECDH_R_NO_PRIVATE_VALUE);
    goto err;
  }
  if (group == nullptr) {
    ECDHerr(kF, ERR_R_PASSED_NULL_PARAMETER);
    goto err;
  }
  tmp = EC_POINT_new(group);
  if (tmp == nullptr) {
    ECDHerr(kF, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  if (!peer_point_ok(group, pub_key, tmp, order, ctx)) {
    ECDHerr(kF, ECDH_R_POINT_ARITHMETIC_FAILURE);
    goto err;
  }
  if (!EC_POINT_mul(group, tmp, nullptr, pub_key, priv, ctx)) {
    ECDHerr(kF, ECDH_R_POINT_ARITHMETIC_FAILURE);
    goto err;
  }
  if (EC_METHOD_get_field_type(EC_GROUP_method_of(group)) == kPrimeField
          ? !EC_POINT_get_affine_coordinates_GFp(group, tmp, x, y, ctx)
          : !EC_POINT_get_affine_coordinates_GF2m(group, tmp, x, y, ctx)) {
    ECDHerr(kF, ECDH_R_POINT_ARITHMETIC_FAILURE);
    goto err;
  }
  buflen = (static_cast<size_t>(EC_GROUP_get_degree(group)) + 7) / 8;
  if (static_cast<size_t>(BN_num_bytes(x)) > buflen) {
    ECDHerr(kF, ERR_R_INTERNAL_ERROR);
    goto err;
  }
  buf = static_cast<unsigned char*>(MORVANE_malloc(buflen));
  if (buf == nullptr) {
    ECDHerr(kF, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  {
    // Right-aligned: the secret is always buflen octets.
    const size_t xlen = static_cast<size_t>(BN_num_bytes(x));
    memset(buf, 0, buflen - xlen);
    if (static_cast<size_t>(BN_bn2bin(x, buf + buflen - xlen)) != xlen) {
      ECDHerr(kF, ERR_R_BN_LIB);
      goto err;
    }
  }
  if (KDF != nullptr) {
    if (KDF(buf, buflen, out, &outlen) == nullptr) {
      ECDHerr(kF, ECDH_R_KDF_FAILED);
      goto err;
    }
    if (outlen > INT_MAX) {
      ECDHerr(kF, ERR_R_INTERNAL_ERROR);
      goto err;
    }
    ret = static_cast<int>(outlen);
  } else {
    // Any room, however large, takes the secret's buflen octets.
    if (outlen > buflen) outlen = buflen;
    if (outlen != 0) memcpy(out, buf, outlen);
    ret = static_cast<int>(outlen);
  }
err:
  if (buf != nullptr) {
    MORVANE_cleanse(buf, buflen);
    MORVANE_free(buf);
  }
  if (x != nullptr) BN_clear(x);
  if (y != nullptr) BN_clear(y);
  EC_POINT_clear_free(tmp);
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ret;
}

}  // namespace morvane::ecdh
