// Elliptic-curve groups: construction, copying, attributes, comparison, and
// the extra-data lists that groups (and keys) carry.
//
// Implementation notes: a group owns its generator, numbers, seed and extra
// data; the method's group slots own everything from `field` on.  A copy of
// the extra data calls each record's dup function and puts the copies at the
// head one by one, so the copied list ends up in reverse order.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"
#include "internal/wipe.h"

using morvane::ec::Scratch;

// ---- construction and destruction -------------------------------------------

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_new(const EC_METHOD* meth) {
  if (meth == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (meth->group_init == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return nullptr;
  }
  auto* group = static_cast<EC_GROUP*>(MORVANE_malloc(sizeof(EC_GROUP)));
  if (group == nullptr) {
    ECERR(EC_F_EC_GROUP_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(group, 0, sizeof(*group));
  group->meth = meth;
  group->generator = nullptr;
  BN_init(&group->order);
  BN_init(&group->cofactor);
  group->curve_name = 0;
  group->asn1_flag = 0;
  group->asn1_form = POINT_CONVERSION_UNCOMPRESSED;
  group->seed = nullptr;
  group->seed_len = 0;
  group->extra_data = nullptr;
  if (!meth->group_init(group)) {
    MORVANE_free(group);
    return nullptr;
  }
  return group;
}

/* see morvane/ec.h */
void EC_GROUP_free(EC_GROUP* group) {
  if (group == nullptr) return;
  if (group->meth->group_finish != nullptr) group->meth->group_finish(group);
  morvane::ec::ct_cache_drop(group);
  EC_EX_DATA_free_all_data(&group->extra_data);
  EC_POINT_free(group->generator);
  BN_free(&group->order);
  BN_free(&group->cofactor);
  MORVANE_free(group->seed);
  MORVANE_free(group);
}

/* see morvane/ec.h */
void EC_GROUP_clear_free(EC_GROUP* group) {
  if (group == nullptr) return;
  if (group->meth->group_clear_finish != nullptr)
    group->meth->group_clear_finish(group);
  else if (group->meth->group_finish != nullptr)
    group->meth->group_finish(group);
  morvane::ec::ct_cache_drop(group);
  EC_EX_DATA_clear_free_all_data(&group->extra_data);
  EC_POINT_clear_free(group->generator);
  BN_clear_free(&group->order);
  BN_clear_free(&group->cofactor);
  if (group->seed != nullptr) {
    morvane::internal::wipe(group->seed, group->seed_len);
    MORVANE_free(group->seed);
  }
  morvane::internal::wipe(*group);
  MORVANE_free(group);
}

namespace {

// Replaces dest's extra data by copies of src's records; 0 when a dup
// function fails (what was copied so far stays).
int copy_extra_data(EC_EXTRA_DATA** dest, const EC_EXTRA_DATA* src) {
  EC_EX_DATA_free_all_data(dest);
  for (const EC_EXTRA_DATA* d = src; d != nullptr; d = d->next) {
    void* t = d->dup_func != nullptr ? d->dup_func(d->data) : nullptr;
    if (t == nullptr) return 0;
    if (!EC_EX_DATA_set_data(dest, t, d->dup_func, d->free_func, d->clear_free_func)) {
      if (d->free_func != nullptr) d->free_func(t);
      return 0;
    }
  }
  return 1;
}

}  // namespace

/* see morvane/ec.h */
int EC_GROUP_copy(EC_GROUP* dest, const EC_GROUP* src) {
  if (dest == nullptr || src == nullptr) {
    ECERR(EC_F_EC_GROUP_COPY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (dest->meth->group_copy == nullptr) {
    ECERR(EC_F_EC_GROUP_COPY, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return 0;
  }
  if (dest->meth != src->meth) {
    ECERR(EC_F_EC_GROUP_COPY, EC_R_INCOMPATIBLE_OBJECTS);
    return 0;
  }
  if (dest == src) return 1;
  morvane::ec::ct_cache_drop(dest);  // the copy rebuilds its own on first use
  if (!copy_extra_data(&dest->extra_data, src->extra_data)) return 0;
  if (src->generator != nullptr) {
    if (dest->generator == nullptr) {
      dest->generator = EC_POINT_new(dest);
      if (dest->generator == nullptr) return 0;
    }
    if (!EC_POINT_copy(dest->generator, src->generator)) return 0;
  } else {
    EC_POINT_clear_free(dest->generator);
    dest->generator = nullptr;
  }
  if (BN_copy(&dest->order, &src->order) == nullptr) return 0;
  if (BN_copy(&dest->cofactor, &src->cofactor) == nullptr) return 0;
  dest->curve_name = src->curve_name;
  dest->asn1_flag = src->asn1_flag;
  dest->asn1_form = src->asn1_form;
  MORVANE_free(dest->seed);
  dest->seed = nullptr;
  dest->seed_len = 0;
  if (src->seed != nullptr) {
    dest->seed = static_cast<unsigned char*>(MORVANE_malloc(src->seed_len));
    if (dest->seed == nullptr) return 0;
    memcpy(dest->seed, src->seed, src->seed_len);
    dest->seed_len = src->seed_len;
  }
  return dest->meth->group_copy(dest, src);
}

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_dup(const EC_GROUP* a) {
  if (a == nullptr) return nullptr;
  EC_GROUP* t = EC_GROUP_new(a->meth);
  if (t == nullptr) return nullptr;
  if (!EC_GROUP_copy(t, a)) {
    EC_GROUP_free(t);
    return nullptr;
  }
  return t;
}

/* see morvane/ec.h */
const EC_METHOD* EC_GROUP_method_of(const EC_GROUP* group) {
  return group != nullptr ? group->meth : nullptr;
}

/* see morvane/ec.h */
int EC_METHOD_get_field_type(const EC_METHOD* meth) {
  return meth != nullptr ? meth->field_type : 0;
}

// ---- generator, order, cofactor and plain attributes ------------------------

/* see morvane/ec.h */
int EC_GROUP_set_generator(EC_GROUP* group, const EC_POINT* generator, const BIGNUM* order,
                           const BIGNUM* cofactor) {
  if (group == nullptr || generator == nullptr) {
    ECERR(EC_F_EC_GROUP_SET_GENERATOR, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // The point at infinity generates nothing: every key made from it would
  // be the point itself, and one signature would verify for every digest.
  if (EC_POINT_is_at_infinity(group, generator)) {
    ECERR(EC_F_EC_GROUP_SET_GENERATOR, EC_R_POINT_AT_INFINITY);
    return 0;
  }
  morvane::ec::ct_cache_drop(group);
  if (group->generator == nullptr) {
    group->generator = EC_POINT_new(group);
    if (group->generator == nullptr) return 0;
  }
  if (!EC_POINT_copy(group->generator, generator)) return 0;
  if (order != nullptr ? BN_copy(&group->order, order) == nullptr : !BN_zero(&group->order))
    return 0;
  if (cofactor != nullptr ? BN_copy(&group->cofactor, cofactor) == nullptr
                          : !BN_zero(&group->cofactor))
    return 0;
  return 1;
}

/* see morvane/ec.h */
const EC_POINT* EC_GROUP_get0_generator(const EC_GROUP* group) {
  return group != nullptr ? group->generator : nullptr;
}

/* see morvane/ec.h */
int EC_GROUP_get_order(const EC_GROUP* group, BIGNUM* order, BN_CTX* /*ctx*/) {
  if (group == nullptr || order == nullptr) {
    ECERR(EC_F_EC_GROUP_GET_ORDER, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (BN_copy(order, &group->order) == nullptr) return 0;
  return !BN_is_zero(order);
}

/* see morvane/ec.h */
int EC_GROUP_get_cofactor(const EC_GROUP* group, BIGNUM* cofactor, BN_CTX* /*ctx*/) {
  if (group == nullptr || cofactor == nullptr) {
    ECERR(EC_F_EC_GROUP_GET_COFACTOR, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (BN_copy(cofactor, &group->cofactor) == nullptr) return 0;
  return !BN_is_zero(cofactor);
}

/* see morvane/ec.h */
void EC_GROUP_set_curve_name(EC_GROUP* group, int nid) {
  if (group != nullptr) group->curve_name = nid;
}

/* see morvane/ec.h */
int EC_GROUP_get_curve_name(const EC_GROUP* group) {
  return group != nullptr ? group->curve_name : 0;
}

/* see morvane/ec.h */
void EC_GROUP_set_asn1_flag(EC_GROUP* group, int flag) {
  if (group != nullptr) group->asn1_flag = flag;
}

/* see morvane/ec.h */
int EC_GROUP_get_asn1_flag(const EC_GROUP* group) {
  return group != nullptr ? group->asn1_flag : 0;
}

/* see morvane/ec.h */
void EC_GROUP_set_point_conversion_form(EC_GROUP* group, point_conversion_form_t form) {
  if (group != nullptr) group->asn1_form = form;
}

/* see morvane/ec.h */
point_conversion_form_t EC_GROUP_get_point_conversion_form(const EC_GROUP* group) {
  return group != nullptr ? group->asn1_form : POINT_CONVERSION_UNCOMPRESSED;
}

/* see morvane/ec.h */
size_t EC_GROUP_set_seed(EC_GROUP* group, const unsigned char* p, size_t len) {
  if (group == nullptr) return 0;
  MORVANE_free(group->seed);
  group->seed = nullptr;
  group->seed_len = 0;
  if (p == nullptr || len == 0) return 1;
  group->seed = static_cast<unsigned char*>(MORVANE_malloc(len));
  if (group->seed == nullptr) return 0;
  memcpy(group->seed, p, len);
  group->seed_len = len;
  return len;
}

/* see morvane/ec.h */
unsigned char* EC_GROUP_get0_seed(const EC_GROUP* group) {
  return group != nullptr ? group->seed : nullptr;
}

/* see morvane/ec.h */
size_t EC_GROUP_get_seed_len(const EC_GROUP* group) {
  return group != nullptr ? group->seed_len : 0;
}

// ---- the curve --------------------------------------------------------------

namespace {

// The method's slot `slot` of a group, or null with the error of `func`
// queued (a null group, or a method without that slot).
template <class Slot>
Slot group_slot(const EC_GROUP* group, Slot ec_method_st::*slot, int func) {
  if (group == nullptr) {
    ECERR(func, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  Slot f = group->meth->*slot;
  if (f == nullptr) ECERR(func, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
  return f;
}

}  // namespace

/* see morvane/ec.h */
int EC_GROUP_set_curve_GFp(EC_GROUP* group, const BIGNUM* p, const BIGNUM* a, const BIGNUM* b,
                           BN_CTX* ctx) {
  auto f = group_slot(group, &ec_method_st::group_set_curve, EC_F_EC_GROUP_SET_CURVE_GFP);
  if (f == nullptr) return 0;
  morvane::ec::ct_cache_drop(group);
  return f(group, p, a, b, ctx);
}

/* see morvane/ec.h */
int EC_GROUP_get_curve_GFp(const EC_GROUP* group, BIGNUM* p, BIGNUM* a, BIGNUM* b, BN_CTX* ctx) {
  auto f = group_slot(group, &ec_method_st::group_get_curve, EC_F_EC_GROUP_GET_CURVE_GFP);
  return f != nullptr ? f(group, p, a, b, ctx) : 0;
}

/* see morvane/ec.h */
int EC_GROUP_set_curve_GF2m(EC_GROUP* group, const BIGNUM* p, const BIGNUM* a, const BIGNUM* b,
                            BN_CTX* ctx) {
  auto f = group_slot(group, &ec_method_st::group_set_curve, EC_F_EC_GROUP_SET_CURVE_GF2M);
  if (f == nullptr) return 0;
  morvane::ec::ct_cache_drop(group);
  return f(group, p, a, b, ctx);
}

/* see morvane/ec.h */
int EC_GROUP_get_curve_GF2m(const EC_GROUP* group, BIGNUM* p, BIGNUM* a, BIGNUM* b, BN_CTX* ctx) {
  auto f = group_slot(group, &ec_method_st::group_get_curve, EC_F_EC_GROUP_GET_CURVE_GF2M);
  return f != nullptr ? f(group, p, a, b, ctx) : 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_degree(const EC_GROUP* group) {
  auto f = group_slot(group, &ec_method_st::group_get_degree, EC_F_EC_GROUP_GET_DEGREE);
  return f != nullptr ? f(group) : 0;
}

/* see morvane/ec.h */
int EC_GROUP_check_discriminant(const EC_GROUP* group, BN_CTX* ctx) {
  auto f =
      group_slot(group, &ec_method_st::group_check_discriminant, EC_F_EC_GROUP_CHECK_DISCRIMINANT);
  return f != nullptr ? f(group, ctx) : 0;
}

// ---- comparison ---------------------------------------------------------------

namespace {

// 0 when the generators of a and b stand for the same affine point, 1 when
// not, -1 on error.  Generators of two methods are compared by their affine
// coordinates, which each method reads in its own representation.
int cmp_generators(const EC_GROUP* a, const EC_GROUP* b, Scratch& s) {
  const EC_POINT* ga = a->generator;
  const EC_POINT* gb = b->generator;
  if (ga == nullptr || gb == nullptr) return ga == gb ? 0 : 1;
  if (a->meth == b->meth) return EC_POINT_cmp(a, ga, gb, s.ctx()) == 0 ? 0 : 1;
  const int inf_a = EC_POINT_is_at_infinity(a, ga), inf_b = EC_POINT_is_at_infinity(b, gb);
  if (inf_a || inf_b) return inf_a && inf_b ? 0 : 1;
  BIGNUM* xa = s.get();
  BIGNUM* ya = s.get();
  BIGNUM* xb = s.get();
  BIGNUM* yb = s.get();
  if (yb == nullptr || !EC_POINT_get_affine_coordinates_GFp(a, ga, xa, ya, s.ctx()) ||
      !EC_POINT_get_affine_coordinates_GFp(b, gb, xb, yb, s.ctx()))
    return -1;
  return BN_cmp(xa, xb) == 0 && BN_cmp(ya, yb) == 0 ? 0 : 1;
}

}  // namespace

/* see morvane/ec.h */
int EC_GROUP_cmp(const EC_GROUP* a, const EC_GROUP* b, BN_CTX* ctx) {
  if (a == nullptr || b == nullptr) return -1;
  if (EC_METHOD_get_field_type(a->meth) != EC_METHOD_get_field_type(b->meth)) return 1;
  if (a->curve_name != 0 && a->curve_name == b->curve_name) return 0;
  Scratch s(ctx);
  if (!s.ok()) return -1;
  BIGNUM* a1 = s.get();
  BIGNUM* a2 = s.get();
  BIGNUM* a3 = s.get();
  BIGNUM* b1 = s.get();
  BIGNUM* b2 = s.get();
  BIGNUM* b3 = s.get();
  if (b3 == nullptr) return -1;
  if (a->meth->group_get_curve == nullptr || b->meth->group_get_curve == nullptr ||
      !a->meth->group_get_curve(a, a1, a2, a3, s.ctx()) ||
      !b->meth->group_get_curve(b, b1, b2, b3, s.ctx()))
    return 1;
  if (BN_cmp(a1, b1) != 0 || BN_cmp(a2, b2) != 0 || BN_cmp(a3, b3) != 0) return 1;
  // Without generators on both sides the rest decides; one alone differs.
  const int g = cmp_generators(a, b, s);
  if (g != 0) return g < 0 ? -1 : 1;
  if (!EC_GROUP_get_order(a, a1, s.ctx()) || !EC_GROUP_get_order(b, b1, s.ctx()) ||
      !EC_GROUP_get_cofactor(a, a2, s.ctx()) || !EC_GROUP_get_cofactor(b, b2, s.ctx()))
    return -1;
  return BN_cmp(a1, b1) == 0 && BN_cmp(a2, b2) == 0 ? 0 : 1;
}

// ---- extra data ----------------------------------------------------------------

namespace {

bool same_triple(const EC_EXTRA_DATA* d, void* (*dup_func)(void*), void (*free_func)(void*),
                 void (*clear_free_func)(void*)) {
  return d->dup_func == dup_func && d->free_func == free_func &&
         d->clear_free_func == clear_free_func;
}

// Unlinks the first record of the triple and hands its data to its free
// (or clear-free) function.
void unlink_record(EC_EXTRA_DATA** ex_data, void* (*dup_func)(void*), void (*free_func)(void*),
                   void (*clear_free_func)(void*), bool clear) {
  if (ex_data == nullptr) return;
  for (EC_EXTRA_DATA** p = ex_data; *p != nullptr; p = &(*p)->next) {
    EC_EXTRA_DATA* d = *p;
    if (!same_triple(d, dup_func, free_func, clear_free_func)) continue;
    *p = d->next;
    void (*release)(void*) = clear ? d->clear_free_func : d->free_func;
    if (release != nullptr) release(d->data);
    MORVANE_free(d);
    return;
  }
}

void release_all(EC_EXTRA_DATA** ex_data, bool clear) {
  if (ex_data == nullptr) return;
  EC_EXTRA_DATA* d = *ex_data;
  while (d != nullptr) {
    EC_EXTRA_DATA* next = d->next;
    void (*release)(void*) = clear ? d->clear_free_func : d->free_func;
    if (release != nullptr) release(d->data);
    MORVANE_free(d);
    d = next;
  }
  *ex_data = nullptr;
}

}  // namespace

/* see morvane/ec.h */
int EC_EX_DATA_set_data(EC_EXTRA_DATA** ex_data, void* data, void* (*dup_func)(void*),
                        void (*free_func)(void*), void (*clear_free_func)(void*)) {
  if (ex_data == nullptr) return 0;
  for (const EC_EXTRA_DATA* d = *ex_data; d != nullptr; d = d->next) {
    if (same_triple(d, dup_func, free_func, clear_free_func)) {
      ECERR(EC_F_EC_EX_DATA_SET_DATA, EC_R_SLOT_FULL);
      return 0;
    }
  }
  if (data == nullptr) return 1;  // nothing to keep
  auto* d = static_cast<EC_EXTRA_DATA*>(MORVANE_malloc(sizeof(EC_EXTRA_DATA)));
  if (d == nullptr) return 0;
  d->data = data;
  d->dup_func = dup_func;
  d->free_func = free_func;
  d->clear_free_func = clear_free_func;
  d->next = *ex_data;
  *ex_data = d;
  return 1;
}

/* see morvane/ec.h */
void* EC_EX_DATA_get_data(const EC_EXTRA_DATA* ex_data, void* (*dup_func)(void*),
                          void (*free_func)(void*), void (*clear_free_func)(void*)) {
  for (const EC_EXTRA_DATA* d = ex_data; d != nullptr; d = d->next) {
    if (same_triple(d, dup_func, free_func, clear_free_func)) return d->data;
  }
  return nullptr;
}

/* see morvane/ec.h */
void EC_EX_DATA_free_data(EC_EXTRA_DATA** ex_data, void* (*dup_func)(void*),
                          void (*free_func)(void*), void (*clear_free_func)(void*)) {
  unlink_record(ex_data, dup_func, free_func, clear_free_func, false);
}

/* see morvane/ec.h */
void EC_EX_DATA_clear_free_data(EC_EXTRA_DATA** ex_data, void* (*dup_func)(void*),
                                void (*free_func)(void*), void (*clear_free_func)(void*)) {
  unlink_record(ex_data, dup_func, free_func, clear_free_func, true);
}

/* see morvane/ec.h */
void EC_EX_DATA_free_all_data(EC_EXTRA_DATA** ex_data) {
  release_all(ex_data, false);
}

/* see morvane/ec.h */
void EC_EX_DATA_clear_free_all_data(EC_EXTRA_DATA** ex_data) {
  release_all(ex_data, true);
}
