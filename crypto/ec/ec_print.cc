// Points as big numbers and as hexadecimal text: their octets read as one
// unsigned big-endian number, or written as two upper-case digits a byte.

#include <limits.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>

#include "ec/internal.h"

namespace {

// The point's octets in `form`, in a buffer the caller frees; null on
// failure (also for an encoding of no bytes).
unsigned char* encode(const EC_GROUP* group, const EC_POINT* point, point_conversion_form_t form,
                      size_t* len, BN_CTX* ctx) {
  const size_t n = EC_POINT_point2oct(group, point, form, nullptr, 0, ctx);
  if (n == 0 || n > INT_MAX / 2) return nullptr;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(n));
  if (buf == nullptr) return nullptr;
  if (EC_POINT_point2oct(group, point, form, buf, n, ctx) != n) {
    MORVANE_free(buf);
    return nullptr;
  }
  *len = n;
  return buf;
}

}  // namespace

/* see morvane/ec.h */
BIGNUM* EC_POINT_point2bn(const EC_GROUP* group, const EC_POINT* point,
                          point_conversion_form_t form, BIGNUM* ret, BN_CTX* ctx) {
  size_t len = 0;
  unsigned char* buf = encode(group, point, form, &len, ctx);
  if (buf == nullptr) return nullptr;
  ret = BN_bin2bn(buf, static_cast<int>(len), ret);
  MORVANE_free(buf);
  return ret;
}

/* see morvane/ec.h */
EC_POINT* EC_POINT_bn2point(const EC_GROUP* group, const BIGNUM* bn, EC_POINT* point, BN_CTX* ctx) {
  if (bn == nullptr) return nullptr;
  const int len = BN_num_bytes(bn);
  if (len == 0) return nullptr;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
  if (buf == nullptr) return nullptr;
  BN_bn2bin(bn, buf);
  EC_POINT* ret = point != nullptr ? point : EC_POINT_new(group);
  if (ret != nullptr && !EC_POINT_oct2point(group, ret, buf, static_cast<size_t>(len), ctx)) {
    if (point == nullptr) EC_POINT_clear_free(ret);
    ret = nullptr;
  }
  MORVANE_free(buf);
  return ret;
}

/* see morvane/ec.h */
char* EC_POINT_point2hex(const EC_GROUP* group, const EC_POINT* point, point_conversion_form_t form,
                         BN_CTX* ctx) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  size_t len = 0;
  unsigned char* buf = encode(group, point, form, &len, ctx);
  if (buf == nullptr) return nullptr;
  char* ret = static_cast<char*>(MORVANE_malloc(2 * len + 2));
  if (ret != nullptr) {
    char* q = ret;
    for (size_t i = 0; i < len; i++) {
      *q++ = kDigits[buf[i] >> 4];
      *q++ = kDigits[buf[i] & 0x0f];
    }
    *q = '\0';
  }
  MORVANE_free(buf);
  return ret;
}

/* see morvane/ec.h */
EC_POINT* EC_POINT_hex2point(const EC_GROUP* group, const char* hex, EC_POINT* point, BN_CTX* ctx) {
  if (hex == nullptr) return nullptr;
  BIGNUM* tmp = nullptr;
  if (!BN_hex2bn(&tmp, hex)) return nullptr;
  EC_POINT* ret = EC_POINT_bn2point(group, tmp, point, ctx);
  BN_clear_free(tmp);
  return ret;
}
