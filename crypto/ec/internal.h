// Elliptic curves: the method table, group, point and extra-data records, and
// the helpers shared by the sources of crypto/ec.
//
// Implementation notes: the three records are private to this component;
// their field orders are fixed (static_assert below) because code built on
// the methods reads them in that order.  The method tables are constant data.
#ifndef MORVANE_CRYPTO_EC_INTERNAL_H
#define MORVANE_CRYPTO_EC_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "internal/ct.h"

// The method table: one data member, then 37 operations in slot order.
struct ec_method_st {
  int field_type;  // 406 prime field, 407 characteristic-two field
  int (*group_init)(EC_GROUP*);
  void (*group_finish)(EC_GROUP*);
  void (*group_clear_finish)(EC_GROUP*);
  int (*group_copy)(EC_GROUP*, const EC_GROUP*);
  int (*group_set_curve)(EC_GROUP*, const BIGNUM* p, const BIGNUM* a, const BIGNUM* b, BN_CTX*);
  int (*group_get_curve)(const EC_GROUP*, BIGNUM* p, BIGNUM* a, BIGNUM* b, BN_CTX*);
  int (*group_get_degree)(const EC_GROUP*);
  int (*group_check_discriminant)(const EC_GROUP*, BN_CTX*);
  int (*point_init)(EC_POINT*);
  void (*point_finish)(EC_POINT*);
  void (*point_clear_finish)(EC_POINT*);
  int (*point_copy)(EC_POINT*, const EC_POINT*);
  int (*point_set_to_infinity)(const EC_GROUP*, EC_POINT*);
  int (*point_set_Jprojective_coordinates_GFp)(const EC_GROUP*, EC_POINT*, const BIGNUM* x,
                                               const BIGNUM* y, const BIGNUM* z, BN_CTX*);
  int (*point_get_Jprojective_coordinates_GFp)(const EC_GROUP*, const EC_POINT*, BIGNUM* x,
                                               BIGNUM* y, BIGNUM* z, BN_CTX*);
  int (*point_set_affine_coordinates)(const EC_GROUP*, EC_POINT*, const BIGNUM* x, const BIGNUM* y,
                                      BN_CTX*);
  int (*point_get_affine_coordinates)(const EC_GROUP*, const EC_POINT*, BIGNUM* x, BIGNUM* y,
                                      BN_CTX*);
  int (*point_set_compressed_coordinates)(const EC_GROUP*, EC_POINT*, const BIGNUM* x, int y_bit,
                                          BN_CTX*);
  size_t (*point2oct)(const EC_GROUP*, const EC_POINT*, point_conversion_form_t form,
                      unsigned char* buf, size_t len, BN_CTX*);
  int (*oct2point)(const EC_GROUP*, EC_POINT*, const unsigned char* buf, size_t len, BN_CTX*);
  int (*add)(const EC_GROUP*, EC_POINT* r, const EC_POINT* a, const EC_POINT* b, BN_CTX*);
  int (*dbl)(const EC_GROUP*, EC_POINT* r, const EC_POINT* a, BN_CTX*);
  int (*invert)(const EC_GROUP*, EC_POINT*, BN_CTX*);
  int (*is_at_infinity)(const EC_GROUP*, const EC_POINT*);
  int (*is_on_curve)(const EC_GROUP*, const EC_POINT*, BN_CTX*);
  int (*point_cmp)(const EC_GROUP*, const EC_POINT* a, const EC_POINT* b, BN_CTX*);
  int (*make_affine)(const EC_GROUP*, EC_POINT*, BN_CTX*);
  int (*points_make_affine)(const EC_GROUP*, size_t num, EC_POINT* points[], BN_CTX*);
  int (*mul)(const EC_GROUP*, EC_POINT* r, const BIGNUM* scalar, size_t num,
             const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX*);
  int (*precompute_mult)(EC_GROUP*, BN_CTX*);
  int (*have_precompute_mult)(const EC_GROUP*);
  int (*field_mul)(const EC_GROUP*, BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX*);
  int (*field_sqr)(const EC_GROUP*, BIGNUM* r, const BIGNUM* a, BN_CTX*);
  int (*field_div)(const EC_GROUP*, BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX*);
  int (*field_encode)(const EC_GROUP*, BIGNUM* r, const BIGNUM* a, BN_CTX*);
  int (*field_decode)(const EC_GROUP*, BIGNUM* r, const BIGNUM* a, BN_CTX*);
  int (*field_set_to_one)(const EC_GROUP*, BIGNUM* r, BN_CTX*);
};

// A node of an extra-data list, known by its three functions.
struct ec_extra_data_st {
  ec_extra_data_st* next;
  void* data;
  void* (*dup_func)(void*);
  void (*free_func)(void*);
  void (*clear_free_func)(void*);
};

struct ec_group_st {
  const EC_METHOD* meth;
  EC_POINT* generator;  // owned; null until set
  BIGNUM order, cofactor;
  int curve_name;  // NID of a named curve, 0 for none
  int asn1_flag;
  point_conversion_form_t asn1_form;
  unsigned char* seed;  // owned; null when none
  size_t seed_len;
  EC_EXTRA_DATA* extra_data;
  // From here on the method's: created, copied and freed by its group slots.
  BIGNUM field;          // p, or the reduction polynomial over GF(2^m)
  unsigned int poly[5];  // exponents of the GF(2^m) reduction polynomial
  BIGNUM a, b;           // the coefficients in the method's representation
  int a_is_minus3;       // a = -3 mod p
  void* field_data1;     // Montgomery method: the BN_MONT_CTX of p
  void* field_data2;     // Montgomery method: one in Montgomery form (a BIGNUM)
  int (*field_mod_func)(BIGNUM* r, const BIGNUM* a, const BIGNUM* field, BN_CTX*);  // NIST method
  // The constant-time engine's record of this group (ecp_ct.cc): made on
  // first use, published with release order and read with acquire order;
  // dropped (ct_cache_drop) wherever the field, curve or generator change.
  void* ct_cache;
  // Whether the curve over GF(p) has a point of order 2 (ecp_torsion.cc):
  // 0 not known yet, 1 none, 2 it has; found on first need, read and
  // written with relaxed order, and forgotten with the engine's record.
  int order_two;
};

struct ec_point_st {
  const EC_METHOD* meth;
  BIGNUM X, Y, Z;  // Jacobian projective over GF(p): (X/Z^2, Y/Z^3); Z = 0 is infinity
  int Z_is_one;    // Z holds the field's one: the point is affine
};

// The elliptic-curve key.  method_data is published with release order and
// read with acquire order (the readers take no lock).
struct ec_key_st {
  int version;
  EC_GROUP* group;
  EC_POINT* pub_key;
  BIGNUM* priv_key;
  unsigned int enc_flag;
  point_conversion_form_t conv_form;
  int references;
  EC_EXTRA_DATA* method_data;
};

namespace morvane::ec {

// The slot numbers of the method table, first to last.
constexpr size_t slot_offset(size_t n) {
  return offsetof(ec_method_st, group_init) + (n - 1) * sizeof(void (*)());
}
static_assert(offsetof(ec_method_st, field_type) == 0);
static_assert(offsetof(ec_method_st, group_init) == slot_offset(1));
static_assert(offsetof(ec_method_st, group_copy) == slot_offset(4));
static_assert(offsetof(ec_method_st, group_set_curve) == slot_offset(5));
static_assert(offsetof(ec_method_st, group_check_discriminant) == slot_offset(8));
static_assert(offsetof(ec_method_st, point_init) == slot_offset(9));
static_assert(offsetof(ec_method_st, point_set_to_infinity) == slot_offset(13));
static_assert(offsetof(ec_method_st, point_set_compressed_coordinates) == slot_offset(18));
static_assert(offsetof(ec_method_st, point2oct) == slot_offset(19));
static_assert(offsetof(ec_method_st, add) == slot_offset(21));
static_assert(offsetof(ec_method_st, point_cmp) == slot_offset(26));
static_assert(offsetof(ec_method_st, points_make_affine) == slot_offset(28));
static_assert(offsetof(ec_method_st, mul) == slot_offset(29));
static_assert(offsetof(ec_method_st, have_precompute_mult) == slot_offset(31));
static_assert(offsetof(ec_method_st, field_mul) == slot_offset(32));
static_assert(offsetof(ec_method_st, field_div) == slot_offset(34));
static_assert(offsetof(ec_method_st, field_set_to_one) == slot_offset(37));
static_assert(sizeof(ec_method_st) == slot_offset(38));

// The records' fields in their documented order.
static_assert(offsetof(ec_group_st, meth) < offsetof(ec_group_st, generator) &&
              offsetof(ec_group_st, generator) < offsetof(ec_group_st, order) &&
              offsetof(ec_group_st, order) < offsetof(ec_group_st, cofactor) &&
              offsetof(ec_group_st, cofactor) < offsetof(ec_group_st, curve_name) &&
              offsetof(ec_group_st, curve_name) < offsetof(ec_group_st, asn1_flag) &&
              offsetof(ec_group_st, asn1_flag) < offsetof(ec_group_st, asn1_form) &&
              offsetof(ec_group_st, asn1_form) < offsetof(ec_group_st, seed) &&
              offsetof(ec_group_st, seed) < offsetof(ec_group_st, seed_len) &&
              offsetof(ec_group_st, seed_len) < offsetof(ec_group_st, extra_data) &&
              offsetof(ec_group_st, extra_data) < offsetof(ec_group_st, field) &&
              offsetof(ec_group_st, field) < offsetof(ec_group_st, poly) &&
              offsetof(ec_group_st, poly) < offsetof(ec_group_st, a) &&
              offsetof(ec_group_st, a) < offsetof(ec_group_st, b) &&
              offsetof(ec_group_st, b) < offsetof(ec_group_st, a_is_minus3) &&
              offsetof(ec_group_st, a_is_minus3) < offsetof(ec_group_st, field_data1) &&
              offsetof(ec_group_st, field_data1) < offsetof(ec_group_st, field_data2) &&
              offsetof(ec_group_st, field_data2) < offsetof(ec_group_st, field_mod_func));
static_assert(offsetof(ec_point_st, meth) == 0 &&
              offsetof(ec_point_st, X) < offsetof(ec_point_st, Y) &&
              offsetof(ec_point_st, Y) < offsetof(ec_point_st, Z) &&
              offsetof(ec_point_st, Z) < offsetof(ec_point_st, Z_is_one));
static_assert(offsetof(ec_extra_data_st, next) == 0 &&
              offsetof(ec_extra_data_st, next) < offsetof(ec_extra_data_st, data) &&
              offsetof(ec_extra_data_st, data) < offsetof(ec_extra_data_st, dup_func) &&
              offsetof(ec_extra_data_st, dup_func) < offsetof(ec_extra_data_st, free_func) &&
              offsetof(ec_extra_data_st, free_func) < offsetof(ec_extra_data_st, clear_free_func));

constexpr int kNidPrimeField = 406;    // "prime-field"
constexpr int kNidCharTwoField = 407;  // "characteristic-two-field"

// Queues an EC error; `func` and `reason` are codes of library 16 (or the
// shared reasons).
#define ECERR(func, reason) ERR_put_error(ERR_LIB_EC, (func), (reason), __FILE__, __LINE__)

// Scratch numbers for one call: the caller's BN_CTX, or one made for the
// call and freed with the object, with a frame open on it for the object's
// life.  ok() is false when no context could be made; get() is BN_CTX_get
// (null after any failure in the frame).
class [[nodiscard]] Scratch {
 public:
  explicit Scratch(BN_CTX* ctx) noexcept
      : owned_(ctx == nullptr ? BN_CTX_new() : nullptr), ctx_(ctx != nullptr ? ctx : owned_) {
    if (ctx_ != nullptr) BN_CTX_start(ctx_);
  }
  ~Scratch() {
    if (ctx_ != nullptr) BN_CTX_end(ctx_);
    BN_CTX_free(owned_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  bool ok() const noexcept { return ctx_ != nullptr; }
  BN_CTX* ctx() const noexcept { return ctx_; }
  BIGNUM* get() noexcept { return ctx_ != nullptr ? BN_CTX_get(ctx_) : nullptr; }

 private:
  BN_CTX* owned_;
  BN_CTX* ctx_;
};

// The caller's BN_CTX, or one made for the call (for functions that only
// pass a context on); ok() is false when none could be made.
class [[nodiscard]] AnyCtx {
 public:
  explicit AnyCtx(BN_CTX* ctx) noexcept
      : owned_(ctx == nullptr ? BN_CTX_new() : nullptr), ctx_(ctx != nullptr ? ctx : owned_) {}
  ~AnyCtx() { BN_CTX_free(owned_); }
  AnyCtx(const AnyCtx&) = delete;
  AnyCtx& operator=(const AnyCtx&) = delete;
  bool ok() const noexcept { return ctx_ != nullptr; }
  BN_CTX* get() const noexcept { return ctx_; }

 private:
  BN_CTX* owned_;
  BN_CTX* ctx_;
};

// The slots in which the GF(p) methods differ; every other slot is the
// simple method's (the point algorithms reach the field only through the
// field_* slots) or empty (mul, precompute_mult, have_precompute_mult: the
// default multiplication; field_div).
struct GfpSlots {
  int (*group_init)(EC_GROUP*);
  void (*group_finish)(EC_GROUP*);
  void (*group_clear_finish)(EC_GROUP*);
  int (*group_copy)(EC_GROUP*, const EC_GROUP*);
  int (*group_set_curve)(EC_GROUP*, const BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*);
  int (*field_mul)(const EC_GROUP*, BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*);
  int (*field_sqr)(const EC_GROUP*, BIGNUM*, const BIGNUM*, BN_CTX*);
  int (*field_encode)(const EC_GROUP*, BIGNUM*, const BIGNUM*, BN_CTX*);
  int (*field_decode)(const EC_GROUP*, BIGNUM*, const BIGNUM*, BN_CTX*);
  int (*field_set_to_one)(const EC_GROUP*, BIGNUM*, BN_CTX*);
};

// A GF(p) method table with those slots.
constexpr EC_METHOD gfp_method(const GfpSlots& s) {
  return {kNidPrimeField,
          s.group_init,
          s.group_finish,
          s.group_clear_finish,
          s.group_copy,
          s.group_set_curve,
          ec_GFp_simple_group_get_curve,
          ec_GFp_simple_group_get_degree,
          ec_GFp_simple_group_check_discriminant,
          ec_GFp_simple_point_init,
          ec_GFp_simple_point_finish,
          ec_GFp_simple_point_clear_finish,
          ec_GFp_simple_point_copy,
          ec_GFp_simple_point_set_to_infinity,
          ec_GFp_simple_set_Jprojective_coordinates_GFp,
          ec_GFp_simple_get_Jprojective_coordinates_GFp,
          ec_GFp_simple_point_set_affine_coordinates,
          ec_GFp_simple_point_get_affine_coordinates,
          ec_GFp_simple_set_compressed_coordinates,
          ec_GFp_simple_point2oct,
          ec_GFp_simple_oct2point,
          ec_GFp_simple_add,
          ec_GFp_simple_dbl,
          ec_GFp_simple_invert,
          ec_GFp_simple_is_at_infinity,
          ec_GFp_simple_is_on_curve,
          ec_GFp_simple_cmp,
          ec_GFp_simple_make_affine,
          ec_GFp_simple_points_make_affine,
          nullptr,  // mul: the default multiplication
          nullptr,  // precompute_mult
          nullptr,  // have_precompute_mult
          s.field_mul,
          s.field_sqr,
          nullptr,  // field_div: GF(2^m) only
          s.field_encode,
          s.field_decode,
          s.field_set_to_one};
}

// Writes v big-endian into exactly n bytes at out (zeros on the left);
// false when it needs more.
bool put_padded(unsigned char* out, size_t n, const BIGNUM* v);

// The first octet of an encoded point (X9.62 / SEC 1, 2.3.4), shared by the
// octet readers: `len` must be at least 1.  Returns the form (0 for the point
// at infinity, 2, 4 or 6) with the y bit in *y_bit, or -1 with "invalid
// encoding" queued under `func` for an unknown form, a y bit on form 0 or 4,
// or a point at infinity longer than one octet.  With `field_len` the
// encoding's length is checked too: 1 + field_len for form 2, 1 + 2
// field_len for 4 and 6.
int read_point_form(const unsigned char* buf, size_t len, size_t field_len, int func, int* y_bit);

// Whether a's magnitude is below 2^(32 nw), read at a fixed width: its
// words from nw up to its room (dmax, public) are masked by whether they lie
// below its word count and must all be zero.  The count may be secret (found
// by masks from the words, as for the values ct_order_inverse stores, or a
// caller's copy of one): no branch and no address depends on it or on the
// words, and only the verdict is made public.
inline bool fits_words(const BIGNUM* a, size_t nw) {
  const auto top = static_cast<unsigned>(a->top);
  BN_ULONG above = 0;
  for (size_t i = nw; i < static_cast<size_t>(a->dmax); i++)
    above |= a->d[i] & ct::lt_mask(static_cast<unsigned>(i), top);
  return ct::declassify(ct::zero_mask(above)) != 0;
}

// The fixed-width engines' words: a non-negative number's magnitude into N
// 64-bit words, least significant first, and N words back into a new BIGNUM
// (null on failure).  to_limbs reads a's words as fits_words does, each
// masked by its word count (which may be secret), and returns false, a
// public verdict, when a does not fit in the N words.
template <size_t N>
bool to_limbs(uint64_t out[N], const BIGNUM* a) {
  static_assert(BN_BITS2 == 32);
  const auto top = static_cast<unsigned>(a->top);
  const size_t room = static_cast<size_t>(a->dmax);
  const auto word = [&](size_t i) -> uint64_t {
    return i < room ? a->d[i] & ct::lt_mask(static_cast<unsigned>(i), top) : 0;
  };
  for (size_t j = 0; j < N; j++) out[j] = word(2 * j) | word(2 * j + 1) << 32;
  return fits_words(a, 2 * N);
}

template <size_t N>
BIGNUM* from_limbs(const uint64_t v[N]) {
  unsigned char buf[8 * N];
  for (size_t j = 0; j < N; j++)
    for (size_t b = 0; b < 8; b++)
      buf[8 * N - 1 - (8 * j + b)] = static_cast<unsigned char>(v[j] >> (8 * b));
  BIGNUM* r = BN_bin2bn(buf, static_cast<int>(sizeof buf), nullptr);
  MORVANE_cleanse(buf, sizeof buf);
  return r;
}

// True when p equals one of the five NIST primes (as unsigned numbers), with
// its reduction function in *mod when mod is not null.  Queues nothing.
bool nist_prime(const BIGNUM* p,
                int (**mod)(BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*)) noexcept;

// The constant-time one-term multiplication (ecp_ct.cc): applies to the
// groups of the built-in GF(p) methods with an order, a product of one term
// (a generator term or one point term, the point not at infinity) and a
// scalar below 2^(64 ceil(bits(p) / 64)); ct_mul then computes it.
bool ct_mul_applies(const EC_GROUP* group, const BIGNUM* scalar, size_t num,
                    const EC_POINT* points[], const BIGNUM* scalars[]);
int ct_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
           const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx);
// The same engine for scalar G + p_scalar P (both scalars non-negative and
// each term one that ct_mul_applies takes): one run of doublings with both
// tables, the product of verification.
bool mul2_applies(const EC_GROUP* group, const BIGNUM* scalar, size_t num, const EC_POINT* points[],
                  const BIGNUM* scalars[]);
int mul2(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, const EC_POINT* point,
         const BIGNUM* p_scalar, BN_CTX* ctx);
// Frees the engine's record of the group (its field constants and generator
// table) and clears the pointer; the next product rebuilds it.  Not safe
// against a product running on the same group at the same time (nor is any
// change of the group).  Also forgets what is known of the curve's points
// of order 2 (order_two).
void ct_cache_drop(EC_GROUP* group);
// k P' + j T[j] by the same engine, for a curve with points of order 2:
// `odd` is a point of odd order (null: the point at infinity), `small` the
// `count` points T[j] = j T (count a power of two, at most 16, small[0] at
// infinity) of a point T of order dividing count, and j = |k| mod count.  The
// product of odd stays clear of the formulas' exceptions (no difference of
// order 2 among multiples of a point of odd order), and so does the final
// sum but for k P' at infinity, which a masked choice takes care of.  For a
// negative k the result is negated.  k as for ct_mul.
int ct_mul_torsion(const EC_GROUP* group, EC_POINT* r, const BIGNUM* k, const EC_POINT* odd,
                   const EC_POINT* const small[], size_t count, BN_CTX* ctx);

// Curves with points of order 2 (ecp_torsion.cc).  has_order_two_point:
// 1 when the group's curve over GF(p) has a point of order 2 (its group
// order is even), 0 when not, -1 on failure (errors queued); decided once
// per group from p, a and b (a named curve's record, or a root of
// x^3 + a x + b), never from the stated order or cofactor.
int has_order_two_point(const EC_GROUP* group, BN_CTX* ctx);
// A one-term product that ct_mul_applies takes, on a curve with points of
// order 2: P (or the generator) = P' + T with P' of odd order and T of
// 2-power order, found with public arithmetic, then ct_mul_torsion (or
// ct_mul when T is the point at infinity); the windowed NAFs when the order
// of P's 2-power part cannot be bounded from the group's h n.
int torsion_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
                const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx);
// For a prime-field named curve's (p, a, b): true, with *even set when the
// curve's group order h n is even; false when no record has them.
bool named_curve_order_parity(const BIGNUM* p, const BIGNUM* a, const BIGNUM* b, bool* even);

// The GF(2^m) method's precomputation slots (ec2_mult.cc), and its
// Montgomery ladder: r = |scalar| point ("invalid argument" when r is point).
// gf2m_fixed_ladder_serves: whether the ladder takes its fixed-width engine
// (constant time) for the group and point.
int gf2m_precompute_mult(EC_GROUP* group, BN_CTX* ctx);
int gf2m_have_precompute_mult(const EC_GROUP* group);
int gf2m_montgomery_point_multiply(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar,
                                   const EC_POINT* point, BN_CTX* ctx);
bool gf2m_fixed_ladder_serves(const EC_GROUP* group, const EC_POINT* point);
// The fixed-width ladder's field products: mode 0 forces the portable ones,
// 1 goes back to the processor's choice (PCLMULQDQ where present, unless
// MORVANE_NO_HWCRYPT switches it off), -1 only asks.  Returns 1 while the
// products use PCLMULQDQ.  Not thread-safe against running ladders' choice
// of products (both give the same points): for tests.
int gf2m_use_clmul(int mode);

// Constant-time arithmetic modulo the group's order n (ecp_ct.cc), for
// groups with an odd order of at most 704 bits; k and x below 2^(64 N)
// (N = ceil(bits(n) / 64)), read at that width whatever their word counts
// (which may be secret).  ct_order_inverse: out = k^-1 mod n, stored in 2 N
// words with its word count found by masks (secret).  ct_order_sign:
// s = k' (m + x r) mod n with k' = k when k_is_inverse, else k^-1; r < n
// and m of at most bits(n) bits are public, and so is s.  1 or 0 (nothing
// queued).
int ct_order_inverse(const EC_GROUP* group, BIGNUM* out, const BIGNUM* k, BN_CTX* ctx);
int ct_order_sign(const EC_GROUP* group, BIGNUM* s, const BIGNUM* k, bool k_is_inverse,
                  const BIGNUM* x, const BIGNUM* r, const BIGNUM* m, BN_CTX* ctx);

// Whether h can be the cofactor of a curve over GF(q) whose generator has
// order n (n <= 0: not known, only h is looked at): h >= 1 and h n within
// Hasse's bound q + 1 -+ 2 sqrt(q), taken as the slightly wider
// 2^(ceil(bits(q) / 2) + 1).  1, 0, or -1 when a number could not be had.
int cofactor_fits(const EC_GROUP* group, const BIGNUM* order, const BIGNUM* cofactor, BN_CTX* ctx);

// 1 when the group has a cofactor and it fits its order and field; else 0
// with "undefined cofactor", "invalid cofactor" or "BN lib" queued under
// `func`.
int check_cofactor(const EC_GROUP* group, BN_CTX* ctx, int func);

}  // namespace morvane::ec

#endif  // MORVANE_CRYPTO_EC_INTERNAL_H
