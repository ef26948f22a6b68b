// The default scalar multiplication of the curve methods: r = k G + the sum
// of k_i P_i by interleaved windowed non-adjacent forms, and the stored
// multiples of the generator that shorten k G.
//
// Implementation notes: every term's wNAF is computed first; one run of
// doublings then serves all terms, each non-zero digit adding a stored odd
// multiple of its point.  A negative digit inverts the running sum instead of
// subtracting, so that only positive multiples are stored; the tables are
// made affine with one inversion so that every addition is a mixed one.
// With a stored record the generator's wNAF is cut into blocks of 8 digits,
// block b served by the odd multiples of 2^(8 b) G.  The loop branches on the
// digits and reads its tables at digit-dependent places: its time follows
// the scalars.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"
#include "ec/wnaf.h"

using morvane::ec::AnyCtx;
using morvane::ec::compute_wNAF;
using morvane::ec::ec_pre_comp_clear_free;
using morvane::ec::ec_pre_comp_dup;
using morvane::ec::ec_pre_comp_free;
using morvane::ec::wnaf_window_bits;

namespace {

EC_PRE_COMP* ec_pre_comp_new(const EC_GROUP* group) {
  if (group == nullptr) return nullptr;
  auto* ret = static_cast<EC_PRE_COMP*>(MORVANE_malloc(sizeof(EC_PRE_COMP)));
  if (ret == nullptr) {
    ECERR(EC_F_EC_PRE_COMP_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->group = group;
  ret->blocksize = 8;
  ret->numblocks = 0;
  ret->w = 4;
  ret->points = nullptr;
  ret->num = 0;
  ret->references = 1;
  return ret;
}

// Drops one reference; the last one frees the points and the record.
void pre_comp_release(EC_PRE_COMP* pre, bool clear) {
  if (pre == nullptr) return;
  if (CRYPTO_add(&pre->references, -1, CRYPTO_LOCK_EC_PRE_COMP) > 0) return;
  if (pre->points != nullptr) {
    for (EC_POINT** p = pre->points; *p != nullptr; p++) {
      if (clear)
        EC_POINT_clear_free(*p);
      else
        EC_POINT_free(*p);
    }
    if (clear) MORVANE_cleanse(pre->points, sizeof(EC_POINT*) * (pre->num + 1));
    MORVANE_free(pre->points);
  }
  if (clear) MORVANE_cleanse(pre, sizeof *pre);
  MORVANE_free(pre);
}

// Frees a null-terminated array of points and the array.
void free_points(EC_POINT** points) {
  if (points == nullptr) return;
  for (EC_POINT** p = points; *p != nullptr; p++) EC_POINT_clear_free(*p);
  MORVANE_free(points);
}

const EC_PRE_COMP* find_pre_comp(const EC_GROUP* group) {
  return static_cast<const EC_PRE_COMP*>(EC_EX_DATA_get_data(
      group->extra_data, ec_pre_comp_dup, ec_pre_comp_free, ec_pre_comp_clear_free));
}

// The per-term arrays of ec_wNAF_mul, freed together.
struct Terms {
  size_t* wsize = nullptr;
  size_t* wNAF_len = nullptr;
  signed char** wNAF = nullptr;  // totalnum + 1 entries, null-terminated
  EC_POINT*** val_sub = nullptr;
  EC_POINT** val = nullptr;  // all precomputed points, null-terminated
  Terms() = default;
  Terms(const Terms&) = delete;
  Terms& operator=(const Terms&) = delete;
  ~Terms() {
    if (wNAF != nullptr) {
      for (signed char** w = wNAF; *w != nullptr; w++) MORVANE_free(*w);
    }
    MORVANE_free(wsize);
    MORVANE_free(wNAF_len);
    MORVANE_free(wNAF);
    MORVANE_free(val_sub);
    free_points(val);
  }
};

}  // namespace

namespace morvane::ec {

void* ec_pre_comp_dup(void* record) {
  auto* pre = static_cast<EC_PRE_COMP*>(record);
  if (pre == nullptr) return nullptr;
  CRYPTO_add(&pre->references, 1, CRYPTO_LOCK_EC_PRE_COMP);
  return pre;
}

void ec_pre_comp_free(void* record) {
  pre_comp_release(static_cast<EC_PRE_COMP*>(record), false);
}

void ec_pre_comp_clear_free(void* record) {
  pre_comp_release(static_cast<EC_PRE_COMP*>(record), true);
}

}  // namespace morvane::ec

/* see morvane/ec.h */
int ec_wNAF_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
                const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx) {
  if (group->meth != r->meth) {
    ECERR(EC_F_EC_WNAF_MUL, EC_R_INCOMPATIBLE_OBJECTS);
    return 0;
  }
  if (scalar == nullptr && num == 0) return EC_POINT_set_to_infinity(group, r);
  for (size_t i = 0; i < num; i++) {
    if (points[i] == nullptr || scalars[i] == nullptr) {
      ECERR(EC_F_EC_WNAF_MUL, ERR_R_PASSED_NULL_PARAMETER);
      return 0;
    }
    if (group->meth != points[i]->meth) {
      ECERR(EC_F_EC_WNAF_MUL, EC_R_INCOMPATIBLE_OBJECTS);
      return 0;
    }
  }
  AnyCtx c(ctx);
  if (!c.ok()) return 0;

  const EC_POINT* generator = nullptr;
  const EC_PRE_COMP* pre = nullptr;
  size_t blocksize = 0, numblocks = 0, pre_points_per_block = 0;
  size_t num_scalar = 0;  // 1 when the generator is one more ordinary term
  if (scalar != nullptr) {
    generator = EC_GROUP_get0_generator(group);
    if (generator == nullptr) {
      ECERR(EC_F_EC_WNAF_MUL, EC_R_UNDEFINED_GENERATOR);
      return 0;
    }
    pre = find_pre_comp(group);
    if (pre != nullptr && pre->numblocks != 0 &&
        EC_POINT_cmp(group, generator, pre->points[0], c.get()) == 0) {
      blocksize = pre->blocksize;
      numblocks = static_cast<size_t>(BN_num_bits(scalar)) / blocksize + 1;
      if (numblocks > pre->numblocks) numblocks = pre->numblocks;
      pre_points_per_block = size_t{1} << (pre->w - 1);
      if (pre->num != pre->numblocks * pre_points_per_block) {
        ECERR(EC_F_EC_WNAF_MUL, ERR_R_INTERNAL_ERROR);
        return 0;
      }
    } else {
      pre = nullptr;
      numblocks = 1;
      num_scalar = 1;
    }
  }

  size_t totalnum = num + numblocks;
  Terms t;
  t.wsize = static_cast<size_t*>(MORVANE_malloc(totalnum * sizeof(size_t)));
  t.wNAF_len = static_cast<size_t*>(MORVANE_malloc(totalnum * sizeof(size_t)));
  t.wNAF = static_cast<signed char**>(MORVANE_malloc((totalnum + 1) * sizeof(signed char*)));
  t.val_sub = static_cast<EC_POINT***>(MORVANE_malloc(totalnum * sizeof(EC_POINT**)));
  if (t.wNAF != nullptr) t.wNAF[0] = nullptr;
  if (t.wsize == nullptr || t.wNAF_len == nullptr || t.wNAF == nullptr || t.val_sub == nullptr) {
    ECERR(EC_F_EC_WNAF_MUL, ERR_R_MALLOC_FAILURE);
    return 0;
  }

  // The wNAFs of the ordinary terms.
  size_t num_val = 0, max_len = 0;
  for (size_t i = 0; i < num + num_scalar; i++) {
    const BIGNUM* k = i < num ? scalars[i] : scalar;
    t.wsize[i] = wnaf_window_bits(static_cast<size_t>(BN_num_bits(k)));
    num_val += size_t{1} << (t.wsize[i] - 1);
    t.wNAF[i + 1] = nullptr;  // the end mark follows the filled entries
    t.wNAF[i] = compute_wNAF(k, static_cast<int>(t.wsize[i]), &t.wNAF_len[i]);
    if (t.wNAF[i] == nullptr) return 0;
    if (t.wNAF_len[i] > max_len) max_len = t.wNAF_len[i];
  }

  if (pre != nullptr) {
    // The generator's wNAF, served by the stored blocks.
    size_t tmp_len = 0;
    signed char* tmp_wNAF = compute_wNAF(scalar, static_cast<int>(pre->w), &tmp_len);
    if (tmp_wNAF == nullptr) return 0;
    if (tmp_len <= max_len) {
      // Short enough: one term with the first block (the odd multiples of G).
      numblocks = 1;
      totalnum = num + 1;
      t.wsize[num] = pre->w;
      t.wNAF[num] = tmp_wNAF;
      t.wNAF[num + 1] = nullptr;
      t.wNAF_len[num] = tmp_len;
      t.val_sub[num] = pre->points;
    } else {
      // Cut into blocks of blocksize digits, block b on the record's block b.
      if (tmp_len < numblocks * blocksize) {
        numblocks = (tmp_len + blocksize - 1) / blocksize;
        if (numblocks > pre->numblocks) {
          ECERR(EC_F_EC_WNAF_MUL, ERR_R_INTERNAL_ERROR);
          MORVANE_free(tmp_wNAF);
          return 0;
        }
        totalnum = num + numblocks;
      }
      const signed char* pp = tmp_wNAF;
      size_t left = tmp_len;
      for (size_t i = num; i < totalnum; i++) {
        size_t len = blocksize;
        if (i < totalnum - 1) {
          if (left < blocksize) {
            ECERR(EC_F_EC_WNAF_MUL, ERR_R_INTERNAL_ERROR);
            MORVANE_free(tmp_wNAF);
            return 0;
          }
        } else {
          len = left;  // the last block takes all remaining digits
        }
        t.wsize[i] = pre->w;
        t.wNAF_len[i] = len;
        t.wNAF[i + 1] = nullptr;
        t.wNAF[i] = static_cast<signed char*>(MORVANE_malloc(len == 0 ? 1 : len));
        if (t.wNAF[i] == nullptr) {
          ECERR(EC_F_EC_WNAF_MUL, ERR_R_MALLOC_FAILURE);
          MORVANE_free(tmp_wNAF);
          return 0;
        }
        for (size_t d = 0; d < len; d++) t.wNAF[i][d] = pp[d];
        pp += len;
        left -= len;
        if (len > max_len) max_len = len;
        const size_t first = (i - num) * pre_points_per_block;
        if (first + pre_points_per_block > pre->num || pre->points[first] == nullptr) {
          ECERR(EC_F_EC_WNAF_MUL, ERR_R_INTERNAL_ERROR);
          MORVANE_free(tmp_wNAF);
          return 0;
        }
        t.val_sub[i] = pre->points + first;
      }
      MORVANE_free(tmp_wNAF);
    }
  }

  // The odd multiples of every ordinary term's point.
  t.val = static_cast<EC_POINT**>(MORVANE_malloc((num_val + 1) * sizeof(EC_POINT*)));
  if (t.val == nullptr) {
    ECERR(EC_F_EC_WNAF_MUL, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  t.val[0] = nullptr;
  size_t made = 0;
  for (size_t i = 0; i < num + num_scalar; i++) {
    t.val_sub[i] = t.val + made;
    for (size_t j = 0; j < (size_t{1} << (t.wsize[i] - 1)); j++) {
      if ((t.val[made] = EC_POINT_new(group)) == nullptr) return 0;
      t.val[++made] = nullptr;
    }
  }
  if (made != num_val) {
    ECERR(EC_F_EC_WNAF_MUL, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  EC_POINT* tmp = EC_POINT_new(group);
  if (tmp == nullptr) return 0;
  int ok = 1;
  for (size_t i = 0; ok && i < num + num_scalar; i++) {
    const EC_POINT* base = i < num ? points[i] : generator;
    ok = EC_POINT_copy(t.val_sub[i][0], base);
    if (ok && t.wsize[i] > 1) {
      ok = EC_POINT_dbl(group, tmp, t.val_sub[i][0], c.get());
      for (size_t j = 1; ok && j < (size_t{1} << (t.wsize[i] - 1)); j++)
        ok = EC_POINT_add(group, t.val_sub[i][j], t.val_sub[i][j - 1], tmp, c.get());
    }
  }
  EC_POINT_clear_free(tmp);
  if (!ok || !EC_POINTs_make_affine(group, num_val, t.val, c.get())) return 0;

  // One run of doublings for all terms.
  bool r_is_at_infinity = true, r_is_inverted = false;
  for (size_t k = max_len; k-- > 0;) {
    if (!r_is_at_infinity && !EC_POINT_dbl(group, r, r, c.get())) return 0;
    for (size_t i = 0; i < totalnum; i++) {
      if (t.wNAF_len[i] <= k) continue;
      const int digit = t.wNAF[i][k];
      if (digit == 0) continue;
      const bool is_neg = digit < 0;
      const int m = is_neg ? -digit : digit;
      if (is_neg != r_is_inverted) {
        if (!r_is_at_infinity && !EC_POINT_invert(group, r, c.get())) return 0;
        r_is_inverted = !r_is_inverted;
      }
      const EC_POINT* add = t.val_sub[i][m >> 1];
      if (r_is_at_infinity) {
        if (!EC_POINT_copy(r, add)) return 0;
        r_is_at_infinity = false;
      } else if (!EC_POINT_add(group, r, r, add, c.get())) {
        return 0;
      }
    }
  }
  if (r_is_at_infinity) return EC_POINT_set_to_infinity(group, r);
  if (r_is_inverted && !EC_POINT_invert(group, r, c.get())) return 0;
  return 1;
}

/* see morvane/ec.h */
int ec_wNAF_precompute_mult(EC_GROUP* group, BN_CTX* ctx) {
  EC_EX_DATA_free_data(&group->extra_data, ec_pre_comp_dup, ec_pre_comp_free,
                       ec_pre_comp_clear_free);
  EC_PRE_COMP* pre = ec_pre_comp_new(group);
  if (pre == nullptr) return 0;
  const EC_POINT* generator = EC_GROUP_get0_generator(group);
  if (generator == nullptr) {
    ECERR(EC_F_EC_WNAF_PRECOMPUTE_MULT, EC_R_UNDEFINED_GENERATOR);
    ec_pre_comp_free(pre);
    return 0;
  }
  AnyCtx c(ctx);
  if (!c.ok()) {
    ec_pre_comp_free(pre);
    return 0;
  }
  BN_CTX_start(c.get());
  EC_POINT** points = nullptr;
  EC_POINT* base = nullptr;
  EC_POINT* tmp = nullptr;
  size_t num = 0, numblocks = 0, w = 0;
  int ok = 0;
  BIGNUM* order = BN_CTX_get(c.get());
  if (order == nullptr || !EC_GROUP_get_order(group, order, c.get())) goto done;
  if (BN_is_zero(order)) {
    ECERR(EC_F_EC_WNAF_PRECOMPUTE_MULT, EC_R_UNKNOWN_ORDER);
    goto done;
  }
  {
    const size_t bits = static_cast<size_t>(BN_num_bits(order));
    const size_t blocksize = 8;
    w = wnaf_window_bits(bits);
    if (w < 4) w = 4;
    numblocks = (bits + blocksize - 1) / blocksize;
    const size_t pre_points_per_block = size_t{1} << (w - 1);
    num = pre_points_per_block * numblocks;
    points = static_cast<EC_POINT**>(MORVANE_malloc(sizeof(EC_POINT*) * (num + 1)));
    if (points == nullptr) {
      ECERR(EC_F_EC_WNAF_PRECOMPUTE_MULT, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    points[0] = nullptr;
    for (size_t i = 0; i < num; i++) {
      if ((points[i] = EC_POINT_new(group)) == nullptr) {
        ECERR(EC_F_EC_WNAF_PRECOMPUTE_MULT, ERR_R_MALLOC_FAILURE);
        goto done;
      }
      points[i + 1] = nullptr;
    }
    if ((base = EC_POINT_new(group)) == nullptr || (tmp = EC_POINT_new(group)) == nullptr) {
      ECERR(EC_F_EC_WNAF_PRECOMPUTE_MULT, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    if (!EC_POINT_copy(base, generator)) goto done;
    EC_POINT** var = points;
    for (size_t i = 0; i < numblocks; i++) {
      if (!EC_POINT_dbl(group, tmp, base, c.get())) goto done;
      if (!EC_POINT_copy(*var++, base)) goto done;
      for (size_t j = 1; j < pre_points_per_block; j++, var++) {
        if (!EC_POINT_add(group, *var, tmp, *(var - 1), c.get())) goto done;
      }
      if (i < numblocks - 1) {
        // base = 2^blocksize base: tmp is 2 base.
        if (!EC_POINT_dbl(group, base, tmp, c.get())) goto done;
        for (size_t k = 2; k < blocksize; k++)
          if (!EC_POINT_dbl(group, base, base, c.get())) goto done;
      }
    }
    if (!EC_POINTs_make_affine(group, num, points, c.get())) goto done;
    pre->group = group;
    pre->blocksize = blocksize;
    pre->numblocks = numblocks;
    pre->w = w;
    pre->points = points;
    pre->num = num;
    points = nullptr;
    if (!EC_EX_DATA_set_data(&group->extra_data, pre, ec_pre_comp_dup, ec_pre_comp_free,
                             ec_pre_comp_clear_free))
      goto done;
    pre = nullptr;
    ok = 1;
  }
done:
  BN_CTX_end(c.get());
  ec_pre_comp_free(pre);
  free_points(points);
  EC_POINT_free(base);
  EC_POINT_free(tmp);
  return ok;
}

/* see morvane/ec.h */
int ec_wNAF_have_precompute_mult(const EC_GROUP* group) {
  return find_pre_comp(group) != nullptr ? 1 : 0;
}
