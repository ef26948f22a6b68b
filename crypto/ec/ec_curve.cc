// The named curves: the constant table of published domain parameters and
// the functions that build a group from a row.
//
// Implementation notes: the records are generated from curves.def by
// tools/gen_ec_curves.py (ec_curve_data.inc); they carry the parameters as
// hexadecimal text, read with BN_hex2bn each time a group is built.  Several
// rows share one record (the WTLS names of SEC 2 and X9.62 curves).

#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

namespace {

struct EC_CURVE_DATA {
  int field_type;  // 406 prime field, 407 characteristic-two field
  const char* p;   // the prime, or the reduction polynomial as a binary number
  const char* a;
  const char* b;
  const char* x;  // the generator's affine coordinates
  const char* y;
  const char* order;
  uint32_t cofactor;
  const unsigned char* seed;  // null when the curve has none
  int seed_len;
  const char* comment;
};

struct ec_list_element {
  int nid;
  const EC_CURVE_DATA* data;
};

#include "ec/ec_curve_data.inc"

constexpr int kPrimeField = 406;  // the object "prime-field"
constexpr size_t curve_list_length = sizeof(curve_list) / sizeof(curve_list[0]);
static_assert(curve_list_length == 67);

bool read_hex(BIGNUM** out, const char* text) {
  return BN_hex2bn(out, text) != 0;
}

// The value of a hexadecimal digit.
int hex_digit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Whether the record's group order h n is even.
bool order_is_even(const EC_CURVE_DATA* d) {
  return (d->cofactor & 1) == 0 || (hex_digit(d->order[strlen(d->order) - 1]) & 1) == 0;
}

EC_GROUP* new_from_data(const EC_CURVE_DATA* data) {
  EC_GROUP* group = nullptr;
  EC_POINT* point = nullptr;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* p = BN_new();
  BIGNUM* a = BN_new();
  BIGNUM* b = BN_new();
  BIGNUM* x = BN_new();
  BIGNUM* y = BN_new();
  BIGNUM* order = BN_new();
  bool ok = false;
  if (ctx == nullptr || p == nullptr || a == nullptr || b == nullptr || x == nullptr ||
      y == nullptr || order == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (!read_hex(&p, data->p) || !read_hex(&a, data->a) || !read_hex(&b, data->b)) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_BN_LIB);
    goto done;
  }
  group = data->field_type == kPrimeField ? EC_GROUP_new_curve_GFp(p, a, b, ctx)
                                          : EC_GROUP_new_curve_GF2m(p, a, b, ctx);
  if (group == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_EC_LIB);
    goto done;
  }
  if ((point = EC_POINT_new(group)) == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_EC_LIB);
    goto done;
  }
  if (!read_hex(&x, data->x) || !read_hex(&y, data->y)) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_BN_LIB);
    goto done;
  }
  if (!EC_POINT_set_affine_coordinates_GF2m(group, point, x, y, ctx)) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_EC_LIB);
    goto done;
  }
  // x is reused for the cofactor.
  if (!read_hex(&order, data->order) || !BN_set_word(x, data->cofactor)) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_BN_LIB);
    goto done;
  }
  if (!EC_GROUP_set_generator(group, point, order, x)) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_EC_LIB);
    goto done;
  }
  if (data->seed != nullptr &&
      !EC_GROUP_set_seed(group, data->seed, static_cast<size_t>(data->seed_len))) {
    ECERR(EC_F_EC_GROUP_NEW_FROM_DATA, ERR_R_EC_LIB);
    goto done;
  }
  // The record's h n tells whether the curve has a point of order 2
  // (forgotten with any later change of the curve).
  if (data->field_type == kPrimeField) group->order_two = order_is_even(data) ? 2 : 1;
  ok = true;
done:
  if (!ok) {
    EC_GROUP_free(group);
    group = nullptr;
  }
  EC_POINT_free(point);
  BN_free(p);
  BN_free(a);
  BN_free(b);
  BN_free(x);
  BN_free(y);
  BN_free(order);
  BN_CTX_free(ctx);
  return group;
}

}  // namespace

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_new_by_curve_name(int nid) {
  if (nid <= 0) return nullptr;
  EC_GROUP* group = nullptr;
  for (const ec_list_element& row : curve_list) {
    if (row.nid == nid) {
      group = new_from_data(row.data);
      break;
    }
  }
  if (group == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW_BY_CURVE_NAME, EC_R_UNKNOWN_GROUP);
    return nullptr;
  }
  EC_GROUP_set_curve_name(group, nid);
  return group;
}

namespace {

// The number of bits of a hexadecimal text's value.
int hex_bits(const char* text) {
  while (*text == '0') text++;
  const size_t len = strlen(text);
  if (len == 0) return 0;
  int bits = 0;
  for (int v = hex_digit(text[0]); v != 0; v >>= 1) bits++;
  return static_cast<int>(4 * (len - 1)) + bits;
}

}  // namespace

namespace morvane::ec {

bool named_curve_order_parity(const BIGNUM* p, const BIGNUM* a, const BIGNUM* b, bool* even) {
  const int bits = BN_num_bits(p);
  BIGNUM* v = BN_new();
  bool found = false;
  for (size_t i = 0; v != nullptr && !found && i < curve_list_length; i++) {
    const EC_CURVE_DATA* d = curve_list[i].data;
    if (d->field_type != kPrimeField || hex_bits(d->p) != bits) continue;
    found = read_hex(&v, d->p) && BN_cmp(v, p) == 0 && read_hex(&v, d->a) && BN_cmp(v, a) == 0 &&
            read_hex(&v, d->b) && BN_cmp(v, b) == 0;
    if (found) *even = order_is_even(d);
  }
  BN_free(v);
  return found;
}

}  // namespace morvane::ec

/* see morvane/ec.h */
size_t EC_get_builtin_curves(EC_builtin_curve* r, size_t nitems) {
  if (r == nullptr || nitems == 0) return curve_list_length;
  size_t n = nitems < curve_list_length ? nitems : curve_list_length;
  for (size_t i = 0; i < n; i++) {
    r[i].nid = curve_list[i].nid;
    r[i].comment = curve_list[i].data->comment;
  }
  return curve_list_length;
}
