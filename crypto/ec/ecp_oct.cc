// Points of the GF(p) methods as octets (X9.62 / SEC 1, 2.3.3 and 2.3.4),
// and the solving of a compressed point for its y.
//
// Implementation notes: L = the byte length of p; X and Y are written
// big-endian, left-padded to L bytes.  0x00 alone is the point at infinity;
// 0x02/0x03 X is compressed (the low bit of the first byte is y's parity);
// 0x04 X Y uncompressed; 0x06/0x07 X Y hybrid.  Encoded points come from
// outside: the reader accepts exactly these lengths, coordinates below p, and
// only points on the curve.

#include <string.h>

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"
#include "internal/err_mark.h"

using morvane::ec::Scratch;

namespace {

// Solving for y: the newest error that BN_mod_sqrt left tells "not a
// square" from other failures.  Only the errors of that call are looked at
// and removed: a mark is set before it and popped after, so that whatever
// the caller had queued (and marked) stays.  A failure other than "not a
// square" keeps the newest error of the call.
int sqrt_or_error(BIGNUM* y, const BIGNUM* w, const BIGNUM* p, BN_CTX* ctx) {
  morvane::internal::ErrorMark mark;
  if (BN_mod_sqrt(y, w, p, ctx) != nullptr) {
    mark.pop();
    return 1;
  }
  const char* file = nullptr;
  int line = 0;
  const unsigned long err = mark.queued() ? ERR_peek_last_error_line(&file, &line) : 0;
  mark.pop();
  if (ERR_GET_LIB(err) == ERR_LIB_BN && ERR_GET_REASON(err) == BN_R_NOT_A_SQUARE) {
    ECERR(EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES, EC_R_INVALID_COMPRESSED_POINT);
  } else {
    if (err != 0)
      ERR_put_error(ERR_GET_LIB(err), ERR_GET_FUNC(err), ERR_GET_REASON(err), file, line);
    ECERR(EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES, ERR_R_BN_LIB);
  }
  return 0;
}

}  // namespace

/* see morvane/ec.h */
int ec_GFp_simple_set_compressed_coordinates(const EC_GROUP* group, EC_POINT* point,
                                             const BIGNUM* x_in, int y_bit, BN_CTX* ctx) {
  if (x_in == nullptr) {
    ECERR(EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  y_bit = y_bit != 0;
  Scratch s(ctx);
  BIGNUM* tmp1 = s.get();
  BIGNUM* tmp2 = s.get();
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  if (y == nullptr) return 0;
  const EC_METHOD* m = group->meth;
  const BIGNUM* p = &group->field;
  BN_CTX* c = s.ctx();
  // tmp1 = x^3 + a x + b, from the reduced x.  (SEC 1, 2.3.4, step 2.4.)
  if (!BN_nnmod(x, x_in, p, c)) return 0;
  if (m->field_decode == nullptr) {  // the field slots work on plain residues
    if (!m->field_sqr(group, tmp2, x, c) || !m->field_mul(group, tmp1, tmp2, x, c)) return 0;
  } else if (!BN_mod_sqr(tmp2, x, p, c) || !BN_mod_mul(tmp1, tmp2, x, p, c)) {
    return 0;
  }
  if (group->a_is_minus3) {
    if (!BN_mod_lshift1_quick(tmp2, x, p) || !BN_mod_add_quick(tmp2, tmp2, x, p) ||
        !BN_mod_sub_quick(tmp1, tmp1, tmp2, p))
      return 0;
  } else {
    if (m->field_decode != nullptr) {
      if (!m->field_decode(group, tmp2, &group->a, c) || !BN_mod_mul(tmp2, tmp2, x, p, c)) return 0;
    } else if (!m->field_mul(group, tmp2, &group->a, x, c)) {
      return 0;
    }
    if (!BN_mod_add_quick(tmp1, tmp1, tmp2, p)) return 0;
  }
  if (m->field_decode != nullptr) {
    if (!m->field_decode(group, tmp2, &group->b, c) || !BN_mod_add_quick(tmp1, tmp1, tmp2, p))
      return 0;
  } else if (!BN_mod_add_quick(tmp1, tmp1, &group->b, p)) {
    return 0;
  }
  if (!sqrt_or_error(y, tmp1, p, c)) return 0;
  if (y_bit != BN_is_odd(y)) {
    if (BN_is_zero(y)) {
      // y = 0 has no odd twin: the parity asked for is impossible.
      const int kron = BN_kronecker(x, p, c);
      if (kron == -2) return 0;
      ECERR(EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES,
            kron == 1 ? EC_R_INVALID_COMPRESSION_BIT : EC_R_INVALID_COMPRESSED_POINT);
      return 0;
    }
    if (!BN_usub(y, p, y)) return 0;
  }
  if (y_bit != BN_is_odd(y)) {
    ECERR(EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  return EC_POINT_set_affine_coordinates_GFp(group, point, x, y, c);
}

namespace morvane::ec {

int read_point_form(const unsigned char* buf, size_t len, size_t field_len, int func,
                    int* y_bit) {
  *y_bit = buf[0] & 1;
  const int form = buf[0] & ~1;
  if ((form != 0 && form != POINT_CONVERSION_COMPRESSED && form != POINT_CONVERSION_UNCOMPRESSED &&
       form != POINT_CONVERSION_HYBRID) ||
      ((form == 0 || form == POINT_CONVERSION_UNCOMPRESSED) && *y_bit)) {
    ECERR(func, EC_R_INVALID_ENCODING);
    return -1;
  }
  const size_t enc_len = form == 0                             ? 1
                         : form == POINT_CONVERSION_COMPRESSED ? 1 + field_len
                                                               : 1 + 2 * field_len;
  if (len != enc_len) {
    ECERR(func, EC_R_INVALID_ENCODING);
    return -1;
  }
  return form;
}

bool put_padded(unsigned char* out, size_t n, const BIGNUM* v) {
  const size_t len = static_cast<size_t>(BN_num_bytes(v));
  if (len > n) return false;
  memset(out, 0, n - len);
  return static_cast<size_t>(BN_bn2bin(v, out + (n - len))) == len;
}

}  // namespace morvane::ec

using morvane::ec::put_padded;

/* see morvane/ec.h */
size_t ec_GFp_simple_point2oct(const EC_GROUP* group, const EC_POINT* point,
                               point_conversion_form_t form, unsigned char* buf, size_t len,
                               BN_CTX* ctx) {
  if (form != POINT_CONVERSION_COMPRESSED && form != POINT_CONVERSION_UNCOMPRESSED &&
      form != POINT_CONVERSION_HYBRID) {
    ECERR(EC_F_EC_GFP_SIMPLE_POINT2OCT, EC_R_INVALID_FORM);
    return 0;
  }
  if (EC_POINT_is_at_infinity(group, point)) {
    if (buf != nullptr) {
      if (len < 1) {
        ECERR(EC_F_EC_GFP_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL);
        return 0;
      }
      buf[0] = 0;
    }
    return 1;
  }
  const size_t field_len = static_cast<size_t>(BN_num_bytes(&group->field));
  const size_t ret = form == POINT_CONVERSION_COMPRESSED ? 1 + field_len : 1 + 2 * field_len;
  if (buf == nullptr) return ret;
  if (len < ret) {
    ECERR(EC_F_EC_GFP_SIMPLE_POINT2OCT, EC_R_BUFFER_TOO_SMALL);
    return 0;
  }
  Scratch s(ctx);
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  if (y == nullptr || !EC_POINT_get_affine_coordinates_GFp(group, point, x, y, s.ctx())) return 0;
  buf[0] = static_cast<unsigned char>(form);
  if (form != POINT_CONVERSION_UNCOMPRESSED && BN_is_odd(y)) buf[0]++;
  if (!put_padded(buf + 1, field_len, x) ||
      (form != POINT_CONVERSION_COMPRESSED && !put_padded(buf + 1 + field_len, field_len, y))) {
    ECERR(EC_F_EC_GFP_SIMPLE_POINT2OCT, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  return ret;
}

/* see morvane/ec.h */
int ec_GFp_simple_oct2point(const EC_GROUP* group, EC_POINT* point, const unsigned char* buf,
                            size_t len, BN_CTX* ctx) {
  if (len == 0) {
    ECERR(EC_F_EC_GFP_SIMPLE_OCT2POINT, EC_R_BUFFER_TOO_SMALL);
    return 0;
  }
  const size_t field_len = static_cast<size_t>(BN_num_bytes(&group->field));
  int y_bit = 0;
  const int form =
      morvane::ec::read_point_form(buf, len, field_len, EC_F_EC_GFP_SIMPLE_OCT2POINT, &y_bit);
  if (form < 0) return 0;
  if (form == 0) return EC_POINT_set_to_infinity(group, point);
  Scratch s(ctx);
  BIGNUM* x = s.get();
  BIGNUM* y = s.get();
  if (y == nullptr) return 0;
  const int n = static_cast<int>(field_len);  // a BIGNUM's bytes: fits
  if (BN_bin2bn(buf + 1, n, x) == nullptr) return 0;
  if (BN_ucmp(x, &group->field) >= 0) {
    ECERR(EC_F_EC_GFP_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING);
    return 0;
  }
  if (form == POINT_CONVERSION_COMPRESSED) {
    if (!EC_POINT_set_compressed_coordinates_GFp(group, point, x, y_bit, s.ctx())) return 0;
  } else {
    if (BN_bin2bn(buf + 1 + field_len, n, y) == nullptr) return 0;
    if (BN_ucmp(y, &group->field) >= 0 ||
        (form == POINT_CONVERSION_HYBRID && y_bit != BN_is_odd(y))) {
      ECERR(EC_F_EC_GFP_SIMPLE_OCT2POINT, EC_R_INVALID_ENCODING);
      return 0;
    }
    if (!EC_POINT_set_affine_coordinates_GFp(group, point, x, y, s.ctx())) return 0;
  }
  // A point off the curve is refused; so is one that could not be checked
  // (an error, -1), which must not pass for a point on the curve.
  const int on = EC_POINT_is_on_curve(group, point, s.ctx());
  if (on == 0) ECERR(EC_F_EC_GFP_SIMPLE_OCT2POINT, EC_R_POINT_IS_NOT_ON_CURVE);
  return on == 1 ? 1 : 0;
}
