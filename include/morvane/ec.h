/* Morvane: elliptic curves.
 *
 * Elliptic-curve groups over prime and binary fields, points and keys, with
 * the table of named curves.  Failing calls queue errors of library 16
 * (ERR_LIB_EC).
 *
 * Null arguments: the EC_GROUP_* and EC_POINT_* entries refuse a null group
 * or point with "passed a null parameter" (the free functions, dup and the
 * plain attribute calls accept null and do nothing or give 0); outputs that a
 * function calls optional may be null, a BN_CTX always.  The methods' own
 * operations (ec_GFp_*, ec_wNAF_*) check nothing.  The key calls accept
 * null as their section says.  The key and parameter encoders refuse a null
 * key or group with "passed a null parameter"; the decoders and
 * o2i_ECPublicKey take a null `a` (the result is then only returned), but
 * never a null `in` or *in; i2d and i2o take a null `out` (the length is
 * then only measured).  The printers (text form, below) refuse a null key or
 * group with an error. */
#ifndef MORVANE_EC_H
#define MORVANE_EC_H

#include <stddef.h>

#include <stdio.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- groups and points ----------------------------------------------------
 * An EC_GROUP is a curve with its field, coefficients, optional generator,
 * order, cofactor, seed and curve name, and the method table (EC_METHOD) that
 * does its arithmetic.  Groups are copied, never shared: nothing here is
 * reference-counted or locked.  An EC_POINT belongs to no group, only to a
 * method: a point made for one group works with every group of the same
 * method, and the layer does not check that it lies on that group's curve.
 * The method, group and point are opaque.
 *
 * Over GF(p) three methods share the point algorithms: the simple method on
 * plain residues (BN_mod_mul), the Montgomery method on Montgomery forms, and
 * the NIST method with the fast reduction of one of the five NIST primes.
 * EC_GROUP_new_curve_GFp gives a NIST prime the NIST method and any other
 * prime the Montgomery method.  Points are Jacobian projective (X, Y, Z) for
 * the affine (X/Z^2, Y/Z^3); Z = 0 is the point at infinity.
 *
 * Results: 1 on success and 0 on failure unless a function says otherwise;
 * comparisons give 0 equal, 1 different, -1 on error.  A BN_CTX may be null:
 * the call then makes its own for its duration.  A null group or point
 * (other than an output that a function calls optional) fails with "passed a
 * null parameter" ("called a function you should not call" when the method
 * lacks the operation, "incompatible objects" when the group and a point
 * belong to different methods).  A failed call may leave an output point or
 * group partly written.  Encoded points are outside input: every malformed
 * encoding is refused with a reason. */

typedef struct ec_method_st EC_METHOD;
typedef struct ec_group_st EC_GROUP;
typedef struct ec_point_st EC_POINT;
typedef struct ec_extra_data_st EC_EXTRA_DATA;

/* How a point is written as octets (X9.62 / SEC 1, 2.3.3): 0x02/0x03 and X;
 * 0x04, X and Y; 0x06/0x07, X and Y; the point at infinity is the one byte
 * 0x00 in every form. */
typedef enum {
  POINT_CONVERSION_COMPRESSED = 2,
  POINT_CONVERSION_UNCOMPRESSED = 4,
  POINT_CONVERSION_HYBRID = 6
} point_conversion_form_t;

/* Key encoding flags: leave out the parameters, the public key. */
#define EC_PKEY_NO_PARAMETERS 0x001
#define EC_PKEY_NO_PUBKEY 0x002

/* The curve methods (constant tables).  The GF(2^m) method takes a
 * trinomial or pentanomial basis ("unsupported field" otherwise), keeps
 * points affine and does not support compressed points: the compressed and
 * hybrid output forms, compressed input and the compressed-coordinates
 * setter fail with "called a function that was disabled at compile-time"
 * (hybrid input is read). */
MORVANE_EXPORT const EC_METHOD *EC_GFp_simple_method(void);
MORVANE_EXPORT const EC_METHOD *EC_GFp_mont_method(void);
MORVANE_EXPORT const EC_METHOD *EC_GFp_nist_method(void);
MORVANE_EXPORT const EC_METHOD *EC_GF2m_simple_method(void);
/* The field-type NID: 406 prime field, 407 characteristic-two field. */
MORVANE_EXPORT int EC_METHOD_get_field_type(const EC_METHOD *meth);

/* A new empty group of the method (no curve yet); null on failure. */
MORVANE_EXPORT EC_GROUP *EC_GROUP_new(const EC_METHOD *meth);
/* Free a group and all it owns; the clear form wipes it first.  Null is
 * accepted. */
MORVANE_EXPORT void EC_GROUP_free(EC_GROUP *group);
MORVANE_EXPORT void EC_GROUP_clear_free(EC_GROUP *group);
/* Copies src into dst (same method; else "incompatible objects"), extra data
 * included; copying a group onto itself does nothing and succeeds. */
MORVANE_EXPORT int EC_GROUP_copy(EC_GROUP *dst, const EC_GROUP *src);
/* A new copy of the group; null for null or on failure. */
MORVANE_EXPORT EC_GROUP *EC_GROUP_dup(const EC_GROUP *group);
MORVANE_EXPORT const EC_METHOD *EC_GROUP_method_of(const EC_GROUP *group);

/* Generator, order and cofactor.  set_generator copies the point (which must
 * not be null, nor the point at infinity: "point at infinity", the group
 * unchanged) and the numbers (a null number sets 0).  get0_generator
 * borrows (null when none is set).  get_order and get_cofactor copy the
 * number out and return 1 only when it is non-zero. */
MORVANE_EXPORT int EC_GROUP_set_generator(EC_GROUP *group, const EC_POINT *generator,
                                          const BIGNUM *order, const BIGNUM *cofactor);
MORVANE_EXPORT const EC_POINT *EC_GROUP_get0_generator(const EC_GROUP *group);
MORVANE_EXPORT int EC_GROUP_get_order(const EC_GROUP *group, BIGNUM *order, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_get_cofactor(const EC_GROUP *group, BIGNUM *cofactor, BN_CTX *ctx);

/* Plain attributes: the curve's NID (0 for none), the flag the parameter
 * encoder reads (0 after creation) and the form in which it writes the
 * generator (uncompressed after creation). */
MORVANE_EXPORT void EC_GROUP_set_curve_name(EC_GROUP *group, int nid);
MORVANE_EXPORT int EC_GROUP_get_curve_name(const EC_GROUP *group);
MORVANE_EXPORT void EC_GROUP_set_asn1_flag(EC_GROUP *group, int flag);
MORVANE_EXPORT int EC_GROUP_get_asn1_flag(const EC_GROUP *group);
MORVANE_EXPORT void EC_GROUP_set_point_conversion_form(EC_GROUP *group,
                                                       point_conversion_form_t form);
MORVANE_EXPORT point_conversion_form_t EC_GROUP_get_point_conversion_form(const EC_GROUP *group);

/* The seed the curve was generated from.  set_seed replaces any old seed:
 * with a null p or a zero len the group has none and the result is 1;
 * otherwise it copies len bytes and returns len (0 when allocation fails).
 * get0_seed borrows (null when none). */
MORVANE_EXPORT size_t EC_GROUP_set_seed(EC_GROUP *group, const unsigned char *p, size_t len);
MORVANE_EXPORT unsigned char *EC_GROUP_get0_seed(const EC_GROUP *group);
MORVANE_EXPORT size_t EC_GROUP_get_seed_len(const EC_GROUP *group);

/* The curve y^2 = x^3 + a x + b over GF(p) (y^2 + x y = x^3 + a x^2 + b
 * over GF(2^m) for the GF2m forms, which differ from the GFp ones only in
 * their error codes).  set_curve reduces a and b and refuses a field that is
 * even or shorter than 3 bits ("invalid field"); the NIST method also a prime
 * that is not one of its five ("not a NIST prime").  get_curve fills the
 * non-null outputs. */
MORVANE_EXPORT int EC_GROUP_set_curve_GFp(EC_GROUP *group, const BIGNUM *p, const BIGNUM *a,
                                          const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_get_curve_GFp(const EC_GROUP *group, BIGNUM *p, BIGNUM *a, BIGNUM *b,
                                          BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_set_curve_GF2m(EC_GROUP *group, const BIGNUM *p, const BIGNUM *a,
                                           const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_get_curve_GF2m(const EC_GROUP *group, BIGNUM *p, BIGNUM *a,
                                           BIGNUM *b, BN_CTX *ctx);
/* Bits of the field's size. */
MORVANE_EXPORT int EC_GROUP_get_degree(const EC_GROUP *group);
/* 1 when 4 a^3 + 27 b^2 is not 0 mod p (a and b both 0 fail). */
MORVANE_EXPORT int EC_GROUP_check_discriminant(const EC_GROUP *group, BN_CTX *ctx);
/* 1 when the group is consistent: non-zero discriminant ("discriminant is
 * zero"), a generator ("undefined generator") other than the point at
 * infinity ("point at infinity") on the curve ("point is not on curve"), an
 * order ("undefined order") that takes the generator to infinity
 * ("invalid group order"), and a cofactor ("undefined cofactor") that the
 * order and the field allow: h >= 1 with h n within Hasse's bound of the
 * number of points ("invalid cofactor"). */
MORVANE_EXPORT int EC_GROUP_check(const EC_GROUP *group, BN_CTX *ctx);
/* 0 when a and b are the same group: the same field type and either the same
 * non-zero curve name or the same curve, generator (both absent counts as
 * equal, one absent as different), order and cofactor; 1 when different; -1
 * on error (also when an order or cofactor is zero). */
MORVANE_EXPORT int EC_GROUP_cmp(const EC_GROUP *a, const EC_GROUP *b, BN_CTX *ctx);
/* A new group with the curve set: NIST method for the five NIST primes,
 * Montgomery method for any other prime; the GF2m form uses the GF(2^m)
 * method.  Null on failure, with only that failure's errors queued. */
MORVANE_EXPORT EC_GROUP *EC_GROUP_new_curve_GFp(const BIGNUM *p, const BIGNUM *a, const BIGNUM *b,
                                                BN_CTX *ctx);
MORVANE_EXPORT EC_GROUP *EC_GROUP_new_curve_GF2m(const BIGNUM *p, const BIGNUM *a,
                                                 const BIGNUM *b, BN_CTX *ctx);
/* A new group of the named curve with that NID: curve, generator, order,
 * cofactor, seed (when the curve has one) and curve name.  A NID below 1
 * gives null with nothing queued; a NID of no curve, or a failure, "unknown
 * group". */
MORVANE_EXPORT EC_GROUP *EC_GROUP_new_by_curve_name(int nid);
/* One element of the list of named curves: the NID and its one-line
 * description (borrowed, constant). */
typedef struct {
  int nid;
  const char *comment;
} EC_builtin_curve;
/* Always the number of named curves (67).  With a non-null r and a non-zero
 * nitems, fills the first min(nitems, 67) elements of r in table order. */
MORVANE_EXPORT size_t EC_get_builtin_curves(EC_builtin_curve *r, size_t nitems);
/* The basis NID of a characteristic-two group (682 trinomial, 683
 * pentanomial), else 0 (nothing queued).  The basis queries store the
 * middle exponents of x^m + x^k + 1 and x^m + x^k3 + x^k2 + x^k1 + 1 through
 * the non-null pointers; a group of another basis gives "called a function
 * you should not call", a null group 0 with nothing queued. */
MORVANE_EXPORT int EC_GROUP_get_basis_type(const EC_GROUP *group);
MORVANE_EXPORT int EC_GROUP_get_trinomial_basis(const EC_GROUP *group, unsigned int *k);
MORVANE_EXPORT int EC_GROUP_get_pentanomial_basis(const EC_GROUP *group, unsigned int *k1,
                                                  unsigned int *k2, unsigned int *k3);

/* Points: made for the group's method; copy needs the same method (copying a
 * point onto itself succeeds); dup gives a new copy (null for null).  The
 * clear form of free wipes the point.  Free accepts null. */
MORVANE_EXPORT EC_POINT *EC_POINT_new(const EC_GROUP *group);
MORVANE_EXPORT void EC_POINT_free(EC_POINT *point);
MORVANE_EXPORT void EC_POINT_clear_free(EC_POINT *point);
MORVANE_EXPORT int EC_POINT_copy(EC_POINT *dst, const EC_POINT *src);
MORVANE_EXPORT EC_POINT *EC_POINT_dup(const EC_POINT *src, const EC_GROUP *group);
MORVANE_EXPORT const EC_METHOD *EC_POINT_method_of(const EC_POINT *point);

/* Coordinates.  The setters reduce the numbers given modulo p; a null x, y
 * or z of the Jacobian setter leaves that coordinate; the getters fill the
 * non-null outputs.  The affine getter fails for the point at infinity
 * ("point at infinity").  The compressed setter solves for the y whose low
 * bit is y_bit: "invalid compressed point" when x is on no point of the
 * curve. */
MORVANE_EXPORT int EC_POINT_set_to_infinity(const EC_GROUP *group, EC_POINT *point);
MORVANE_EXPORT int EC_POINT_set_Jprojective_coordinates_GFp(const EC_GROUP *group,
                                                            EC_POINT *point, const BIGNUM *x,
                                                            const BIGNUM *y, const BIGNUM *z,
                                                            BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_get_Jprojective_coordinates_GFp(const EC_GROUP *group,
                                                            const EC_POINT *point, BIGNUM *x,
                                                            BIGNUM *y, BIGNUM *z, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_set_affine_coordinates_GFp(const EC_GROUP *group, EC_POINT *point,
                                                       const BIGNUM *x, const BIGNUM *y,
                                                       BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_get_affine_coordinates_GFp(const EC_GROUP *group,
                                                       const EC_POINT *point, BIGNUM *x,
                                                       BIGNUM *y, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_set_compressed_coordinates_GFp(const EC_GROUP *group,
                                                           EC_POINT *point, const BIGNUM *x,
                                                           int y_bit, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_set_affine_coordinates_GF2m(const EC_GROUP *group, EC_POINT *point,
                                                        const BIGNUM *x, const BIGNUM *y,
                                                        BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_get_affine_coordinates_GF2m(const EC_GROUP *group,
                                                        const EC_POINT *point, BIGNUM *x,
                                                        BIGNUM *y, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_set_compressed_coordinates_GF2m(const EC_GROUP *group,
                                                            EC_POINT *point, const BIGNUM *x,
                                                            int y_bit, BN_CTX *ctx);

/* Octets.  point2oct with a null buf returns the length the form needs;
 * otherwise it writes that many bytes when len allows ("buffer too small")
 * and returns the count, 0 on failure ("invalid form" for a form other than
 * 2, 4 or 6).  oct2point accepts exactly the encodings of its group's size,
 * with coordinates below p, and only points on the curve ("buffer too small"
 * when empty, "invalid encoding", "invalid compressed point", "point is not
 * on curve"). */
MORVANE_EXPORT size_t EC_POINT_point2oct(const EC_GROUP *group, const EC_POINT *point,
                                         point_conversion_form_t form, unsigned char *buf,
                                         size_t len, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_oct2point(const EC_GROUP *group, EC_POINT *point,
                                      const unsigned char *buf, size_t len, BN_CTX *ctx);

/* The same octets as a number (into bn, or a new one when bn is null), and
 * as upper-case hexadecimal text (the caller frees it with MORVANE_free);
 * bn2point and hex2point decode into point, or into a new point when point is
 * null.  Null on failure (also for a zero number: the point at infinity has
 * no such form). */
MORVANE_EXPORT BIGNUM *EC_POINT_point2bn(const EC_GROUP *group, const EC_POINT *point,
                                         point_conversion_form_t form, BIGNUM *bn, BN_CTX *ctx);
MORVANE_EXPORT EC_POINT *EC_POINT_bn2point(const EC_GROUP *group, const BIGNUM *bn,
                                           EC_POINT *point, BN_CTX *ctx);
MORVANE_EXPORT char *EC_POINT_point2hex(const EC_GROUP *group, const EC_POINT *point,
                                        point_conversion_form_t form, BN_CTX *ctx);
MORVANE_EXPORT EC_POINT *EC_POINT_hex2point(const EC_GROUP *group, const char *hex,
                                            EC_POINT *point, BN_CTX *ctx);

/* Arithmetic.  r = a + b and r = 2a (r may be a or b); a = -a.  is_on_curve
 * gives 1 (the point at infinity included), 0 or -1; cmp 0 when both stand
 * for the same point.  make_affine brings a point to Z = 1; the plural form
 * does so for num points with one field inversion, leaving points at infinity
 * as they are. */
MORVANE_EXPORT int EC_POINT_add(const EC_GROUP *group, EC_POINT *r, const EC_POINT *a,
                                const EC_POINT *b, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_dbl(const EC_GROUP *group, EC_POINT *r, const EC_POINT *a,
                                BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_invert(const EC_GROUP *group, EC_POINT *a, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_is_at_infinity(const EC_GROUP *group, const EC_POINT *point);
MORVANE_EXPORT int EC_POINT_is_on_curve(const EC_GROUP *group, const EC_POINT *point,
                                        BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_cmp(const EC_GROUP *group, const EC_POINT *a, const EC_POINT *b,
                                BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_make_affine(const EC_GROUP *group, EC_POINT *point, BN_CTX *ctx);
MORVANE_EXPORT int EC_POINTs_make_affine(const EC_GROUP *group, size_t num, EC_POINT *points[],
                                         BN_CTX *ctx);

/* Multiplication: r = scalar * generator + the sum of scalars[i] * points[i]
 * for i < num (a null scalar adds no generator term); EC_POINT_mul is the
 * same with one point and its scalar (q is ignored unless m is given too).
 * A product of one term (the generator or one point) on a group of the
 * GF(p) methods with an order, with a scalar below 2^(64 ceil(bits(p)/64)),
 * takes a number of steps that depends only on the group and reads its
 * tables by masked scans: it is for secret scalars (keys, nonces).  Other
 * products interleave the windowed non-adjacent forms of the scalars, whose
 * time depends on the scalars: they are for public scalars (verification).
 * precompute_mult stores odd multiples of 2^(8 b) G for every byte b
 * of the order on the group (shared by its copies; replaced by a new call;
 * ignored once the generator changes), so that later multiples of the
 * generator need few doublings; it fails without generator or order.
 * have_precompute_mult reports 1 while such a store exists. */
MORVANE_EXPORT int EC_POINTs_mul(const EC_GROUP *group, EC_POINT *r, const BIGNUM *scalar,
                                 size_t num, const EC_POINT *points[], const BIGNUM *scalars[],
                                 BN_CTX *ctx);
MORVANE_EXPORT int EC_POINT_mul(const EC_GROUP *group, EC_POINT *r, const BIGNUM *n,
                                const EC_POINT *q, const BIGNUM *m, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_precompute_mult(EC_GROUP *group, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_have_precompute_mult(const EC_GROUP *group);

/* ---- extra data ------------------------------------------------------------
 * A list of opaque records, each known by the triple of its dup, free and
 * clear-free functions, at most one record per triple (groups keep their
 * precomputations there).  set_data puts a new record at the head: 0 for a
 * null list, "slot full" (0, list unchanged) when the triple is present
 * already, 1 without adding anything for null data.  get_data finds the data
 * of a triple (null when absent).  The free forms remove one record, or all
 * of them, handing the data to its free or clear-free function; a null list
 * is ignored. */
MORVANE_EXPORT int EC_EX_DATA_set_data(EC_EXTRA_DATA **ex_data, void *data,
                                       void *(*dup_func)(void *), void (*free_func)(void *),
                                       void (*clear_free_func)(void *));
MORVANE_EXPORT void *EC_EX_DATA_get_data(const EC_EXTRA_DATA *ex_data, void *(*dup_func)(void *),
                                         void (*free_func)(void *),
                                         void (*clear_free_func)(void *));
MORVANE_EXPORT void EC_EX_DATA_free_data(EC_EXTRA_DATA **ex_data, void *(*dup_func)(void *),
                                         void (*free_func)(void *),
                                         void (*clear_free_func)(void *));
MORVANE_EXPORT void EC_EX_DATA_clear_free_data(EC_EXTRA_DATA **ex_data,
                                               void *(*dup_func)(void *),
                                               void (*free_func)(void *),
                                               void (*clear_free_func)(void *));
MORVANE_EXPORT void EC_EX_DATA_free_all_data(EC_EXTRA_DATA **ex_data);
MORVANE_EXPORT void EC_EX_DATA_clear_free_all_data(EC_EXTRA_DATA **ex_data);

/* ---- the methods' own operations ---------------------------------------------
 * The slots of the GF(p) method tables and the default multiplication, for
 * code that builds on the methods.  They check nothing: arguments must be
 * non-null and of the group's method, as the EC_GROUP_* and EC_POINT_*
 * entries above make sure.  Field elements are in the method's
 * representation (Montgomery form for the Montgomery method). */
MORVANE_EXPORT int ec_GFp_simple_group_init(EC_GROUP *group);
MORVANE_EXPORT void ec_GFp_simple_group_finish(EC_GROUP *group);
MORVANE_EXPORT void ec_GFp_simple_group_clear_finish(EC_GROUP *group);
MORVANE_EXPORT int ec_GFp_simple_group_copy(EC_GROUP *dst, const EC_GROUP *src);
MORVANE_EXPORT int ec_GFp_simple_group_set_curve(EC_GROUP *group, const BIGNUM *p,
                                                 const BIGNUM *a, const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_group_get_curve(const EC_GROUP *group, BIGNUM *p, BIGNUM *a,
                                                 BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_group_get_degree(const EC_GROUP *group);
MORVANE_EXPORT int ec_GFp_simple_group_check_discriminant(const EC_GROUP *group, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_point_init(EC_POINT *point);
MORVANE_EXPORT void ec_GFp_simple_point_finish(EC_POINT *point);
MORVANE_EXPORT void ec_GFp_simple_point_clear_finish(EC_POINT *point);
MORVANE_EXPORT int ec_GFp_simple_point_copy(EC_POINT *dst, const EC_POINT *src);
MORVANE_EXPORT int ec_GFp_simple_point_set_to_infinity(const EC_GROUP *group, EC_POINT *point);
MORVANE_EXPORT int ec_GFp_simple_set_Jprojective_coordinates_GFp(const EC_GROUP *group,
                                                                 EC_POINT *point, const BIGNUM *x,
                                                                 const BIGNUM *y, const BIGNUM *z,
                                                                 BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_get_Jprojective_coordinates_GFp(const EC_GROUP *group,
                                                                 const EC_POINT *point, BIGNUM *x,
                                                                 BIGNUM *y, BIGNUM *z,
                                                                 BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_point_set_affine_coordinates(const EC_GROUP *group,
                                                              EC_POINT *point, const BIGNUM *x,
                                                              const BIGNUM *y, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_point_get_affine_coordinates(const EC_GROUP *group,
                                                              const EC_POINT *point, BIGNUM *x,
                                                              BIGNUM *y, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_set_compressed_coordinates(const EC_GROUP *group,
                                                            EC_POINT *point, const BIGNUM *x,
                                                            int y_bit, BN_CTX *ctx);
MORVANE_EXPORT size_t ec_GFp_simple_point2oct(const EC_GROUP *group, const EC_POINT *point,
                                              point_conversion_form_t form, unsigned char *buf,
                                              size_t len, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_oct2point(const EC_GROUP *group, EC_POINT *point,
                                           const unsigned char *buf, size_t len, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_add(const EC_GROUP *group, EC_POINT *r, const EC_POINT *a,
                                     const EC_POINT *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_dbl(const EC_GROUP *group, EC_POINT *r, const EC_POINT *a,
                                     BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_invert(const EC_GROUP *group, EC_POINT *point, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_is_at_infinity(const EC_GROUP *group, const EC_POINT *point);
MORVANE_EXPORT int ec_GFp_simple_is_on_curve(const EC_GROUP *group, const EC_POINT *point,
                                             BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_cmp(const EC_GROUP *group, const EC_POINT *a, const EC_POINT *b,
                                     BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_make_affine(const EC_GROUP *group, EC_POINT *point,
                                             BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_points_make_affine(const EC_GROUP *group, size_t num,
                                                    EC_POINT *points[], BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_field_mul(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                           const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_simple_field_sqr(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                           BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_mont_group_init(EC_GROUP *group);
MORVANE_EXPORT void ec_GFp_mont_group_finish(EC_GROUP *group);
MORVANE_EXPORT void ec_GFp_mont_group_clear_finish(EC_GROUP *group);
MORVANE_EXPORT int ec_GFp_mont_group_copy(EC_GROUP *dst, const EC_GROUP *src);
MORVANE_EXPORT int ec_GFp_mont_group_set_curve(EC_GROUP *group, const BIGNUM *p, const BIGNUM *a,
                                               const BIGNUM *b, BN_CTX *ctx);
/* The Montgomery field operations fail with "not initialized" on a group
 * whose curve was never set. */
MORVANE_EXPORT int ec_GFp_mont_field_mul(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                         const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_mont_field_sqr(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                         BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_mont_field_encode(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                            BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_mont_field_decode(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                            BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_mont_field_set_to_one(const EC_GROUP *group, BIGNUM *r, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_nist_group_copy(EC_GROUP *dst, const EC_GROUP *src);
MORVANE_EXPORT int ec_GFp_nist_group_set_curve(EC_GROUP *group, const BIGNUM *p, const BIGNUM *a,
                                               const BIGNUM *b, BN_CTX *ctx);
/* The NIST field operations refuse null arguments ("passed a null
 * parameter") and a group whose curve was never set ("no field mod"). */
MORVANE_EXPORT int ec_GFp_nist_field_mul(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                         const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GFp_nist_field_sqr(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                         BN_CTX *ctx);
/* The slots of the GF(2^m) method table (EC_GF2m_simple_method), on the same
 * terms: they check nothing beyond what is said of the method's operations
 * above (ec_GF2m_simple_group_set_curve refuses a polynomial of other than
 * three or five terms with "unsupported field"; compressed coordinates are
 * refused with "called a function that was disabled at compile-time"). */
MORVANE_EXPORT int ec_GF2m_simple_group_init(EC_GROUP *group);
MORVANE_EXPORT void ec_GF2m_simple_group_finish(EC_GROUP *group);
MORVANE_EXPORT void ec_GF2m_simple_group_clear_finish(EC_GROUP *group);
MORVANE_EXPORT int ec_GF2m_simple_group_copy(EC_GROUP *dst, const EC_GROUP *src);
MORVANE_EXPORT int ec_GF2m_simple_group_set_curve(EC_GROUP *group, const BIGNUM *p,
                                                  const BIGNUM *a, const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_group_get_curve(const EC_GROUP *group, BIGNUM *p, BIGNUM *a,
                                                  BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_group_get_degree(const EC_GROUP *group);
MORVANE_EXPORT int ec_GF2m_simple_group_check_discriminant(const EC_GROUP *group, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_point_init(EC_POINT *point);
MORVANE_EXPORT void ec_GF2m_simple_point_finish(EC_POINT *point);
MORVANE_EXPORT void ec_GF2m_simple_point_clear_finish(EC_POINT *point);
MORVANE_EXPORT int ec_GF2m_simple_point_copy(EC_POINT *dst, const EC_POINT *src);
MORVANE_EXPORT int ec_GF2m_simple_point_set_to_infinity(const EC_GROUP *group, EC_POINT *point);
MORVANE_EXPORT int ec_GF2m_simple_point_set_affine_coordinates(const EC_GROUP *group,
                                                               EC_POINT *point, const BIGNUM *x,
                                                               const BIGNUM *y, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_point_get_affine_coordinates(const EC_GROUP *group,
                                                               const EC_POINT *point, BIGNUM *x,
                                                               BIGNUM *y, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_set_compressed_coordinates(const EC_GROUP *group,
                                                             EC_POINT *point, const BIGNUM *x,
                                                             int y_bit, BN_CTX *ctx);
MORVANE_EXPORT size_t ec_GF2m_simple_point2oct(const EC_GROUP *group, const EC_POINT *point,
                                               point_conversion_form_t form, unsigned char *buf,
                                               size_t len, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_oct2point(const EC_GROUP *group, EC_POINT *point,
                                            const unsigned char *buf, size_t len, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_add(const EC_GROUP *group, EC_POINT *r, const EC_POINT *a,
                                      const EC_POINT *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_dbl(const EC_GROUP *group, EC_POINT *r, const EC_POINT *a,
                                      BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_invert(const EC_GROUP *group, EC_POINT *point, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_is_at_infinity(const EC_GROUP *group, const EC_POINT *point);
MORVANE_EXPORT int ec_GF2m_simple_is_on_curve(const EC_GROUP *group, const EC_POINT *point,
                                              BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_cmp(const EC_GROUP *group, const EC_POINT *a, const EC_POINT *b,
                                      BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_make_affine(const EC_GROUP *group, EC_POINT *point,
                                              BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_points_make_affine(const EC_GROUP *group, size_t num,
                                                     EC_POINT *points[], BN_CTX *ctx);
/* r = scalar G + the sum of scalars[i] points[i], as EC_POINTs_mul. */
MORVANE_EXPORT int ec_GF2m_simple_mul(const EC_GROUP *group, EC_POINT *r, const BIGNUM *scalar,
                                      size_t num, const EC_POINT *points[],
                                      const BIGNUM *scalars[], BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_field_mul(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                            const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int ec_GF2m_simple_field_sqr(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                            BN_CTX *ctx);
/* r = a / b in the field (fails for b = 0). */
MORVANE_EXPORT int ec_GF2m_simple_field_div(const EC_GROUP *group, BIGNUM *r, const BIGNUM *a,
                                            const BIGNUM *b, BN_CTX *ctx);
/* The default multiplication behind EC_POINTs_mul and EC_GROUP_precompute_mult
 * / EC_GROUP_have_precompute_mult. */
MORVANE_EXPORT int ec_wNAF_mul(const EC_GROUP *group, EC_POINT *r, const BIGNUM *scalar,
                               size_t num, const EC_POINT *points[], const BIGNUM *scalars[],
                               BN_CTX *ctx);
MORVANE_EXPORT int ec_wNAF_precompute_mult(EC_GROUP *group, BN_CTX *ctx);
MORVANE_EXPORT int ec_wNAF_have_precompute_mult(const EC_GROUP *group);

/* ---- keys ------------------------------------------------------------------
 * An EC_KEY holds a group, a public point, an optional private scalar, its
 * encoding settings (version 1, enc_flag 0 and conv_form 4 when new) and the
 * method records of the signature and agreement methods.  It is
 * reference-counted under lock 33 ("ec").  A null key is accepted by
 * EC_KEY_free and the accessors (null, 0 or nothing); EC_KEY_copy,
 * EC_KEY_generate_key and EC_KEY_check_key refuse it with "passed a null
 * parameter". */
MORVANE_EXPORT EC_KEY *EC_KEY_new(void);
/* A new key on the named curve, or null when the curve cannot be made. */
MORVANE_EXPORT EC_KEY *EC_KEY_new_by_curve_name(int nid);
MORVANE_EXPORT void EC_KEY_free(EC_KEY *key); /* null accepted */
/* 1 when the count is above 1 afterwards. */
MORVANE_EXPORT int EC_KEY_up_ref(EC_KEY *key);
/* Copies group, points, scalar, method records (through their dup
 * functions) and settings into dest; dest, or null (dest partly copied).  A
 * record without dup function, or whose dup function gives null, fails the
 * copy with "method data cannot be copied". */
MORVANE_EXPORT EC_KEY *EC_KEY_copy(EC_KEY *dest, const EC_KEY *src);
MORVANE_EXPORT EC_KEY *EC_KEY_dup(const EC_KEY *src);
/* A fresh scalar in [1, order-1] and its public point; 1 or 0 (the key is
 * unchanged on failure; a public point at infinity, which only a group
 * without a sound generator or order gives, fails with "point at
 * infinity"). */
MORVANE_EXPORT int EC_KEY_generate_key(EC_KEY *eckey);
/* 1 when the public point lies on the curve, is not the point at infinity,
 * has the group's order, the group's cofactor fits as EC_GROUP_check asks,
 * and, with a private scalar, is scalar x G; else 0 with the reason. */
MORVANE_EXPORT int EC_KEY_check_key(const EC_KEY *eckey);
MORVANE_EXPORT const EC_GROUP *EC_KEY_get0_group(const EC_KEY *key);
MORVANE_EXPORT const EC_POINT *EC_KEY_get0_public_key(const EC_KEY *key);
MORVANE_EXPORT const BIGNUM *EC_KEY_get0_private_key(const EC_KEY *key);
/* The setters store copies; 1 when the copy exists, else 0.  The point at
 * infinity is no public key: EC_KEY_set_public_key refuses it ("point at
 * infinity") and keeps the key's point. */
MORVANE_EXPORT int EC_KEY_set_group(EC_KEY *key, const EC_GROUP *group);
MORVANE_EXPORT int EC_KEY_set_public_key(EC_KEY *key, const EC_POINT *pub);
MORVANE_EXPORT int EC_KEY_set_private_key(EC_KEY *key, const BIGNUM *priv_key);
MORVANE_EXPORT unsigned int EC_KEY_get_enc_flags(const EC_KEY *key);
MORVANE_EXPORT void EC_KEY_set_enc_flags(EC_KEY *key, unsigned int flags);
/* The public point's conversion form; set_conv_form also sets the group's. */
MORVANE_EXPORT point_conversion_form_t EC_KEY_get_conv_form(const EC_KEY *key);
MORVANE_EXPORT void EC_KEY_set_conv_form(EC_KEY *key, point_conversion_form_t cform);
/* The group's asn1 flag (named curve or explicit parameters). */
MORVANE_EXPORT void EC_KEY_set_asn1_flag(EC_KEY *key, int flag);
/* EC_GROUP_precompute_mult on the key's group; 0 without group. */
MORVANE_EXPORT int EC_KEY_precompute_mult(EC_KEY *key, BN_CTX *ctx);
/* The data of the method record with the three functions, or null.  Takes
 * no lock. */
MORVANE_EXPORT void *EC_KEY_get_key_method_data(EC_KEY *key, void *(*dup_func)(void *),
                                                void (*free_func)(void *),
                                                void (*clear_free_func)(void *));
/* Inserts a record under lock 33 unless one with the same three functions
 * exists already (then `data` is not stored: check with get). */
MORVANE_EXPORT void EC_KEY_insert_key_method_data(EC_KEY *key, void *data,
                                                  void *(*dup_func)(void *),
                                                  void (*free_func)(void *),
                                                  void (*clear_free_func)(void *));

/* Key encodings: the ECParameters choice, the EC private-key SEQUENCE, and
 * the public point as octets (o2i needs a key that has its group).
 * Decoders give the key or null, encoders the length written or 0.  The
 * private scalar is written at the order's length and read whatever zero
 * octets lead it, both only when 1 <= d < n, the order (RFC 5915; else
 * "invalid private key", the decoder refusing before anything is computed
 * from it); a public point at infinity is
 * refused by the decoders ("point at infinity"), o2i_ECPublicKey then keeping
 * the key's point.  A failed decoding of parameters leaves *in where it was. */
MORVANE_EXPORT EC_KEY *d2i_ECParameters(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECParameters(EC_KEY *a, unsigned char **out);
MORVANE_EXPORT EC_KEY *d2i_ECPrivateKey(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECPrivateKey(EC_KEY *a, unsigned char **out);
MORVANE_EXPORT EC_KEY *o2i_ECPublicKey(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2o_ECPublicKey(EC_KEY *a, unsigned char **out);
/* The parameter choice (ANSI X9.62, RFC 3279 2.3.5) of a group: the curve's
 * OBJECT IDENTIFIER when the group's asn1 flag is set, else the explicit
 * parameters; decoding sets the flag to match (an implicitlyCA choice gives
 * no group).  Explicit fields are limited to 661 bits; the coefficients a
 * and b are written at the field's length (X9.62 4.3.3, SEC 1 2.3.5) and
 * read at any length; a base point at infinity (the single octet 00) is
 * refused ("point at infinity"), and a cofactor that is present must fit as
 * EC_GROUP_check asks ("invalid cofactor"). */
MORVANE_EXPORT EC_GROUP *d2i_ECPKParameters(EC_GROUP **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECPKParameters(const EC_GROUP *group, unsigned char **out);

/* The X9.62 and SEC 1 structures behind those encodings (opaque). */
typedef struct x9_62_pentanomial_st X9_62_PENTANOMIAL;
typedef struct x9_62_characteristic_two_st X9_62_CHARACTERISTIC_TWO;
typedef struct x9_62_fieldid_st X9_62_FIELDID;
typedef struct x9_62_curve_st X9_62_CURVE;
typedef struct ec_parameters_st ECPARAMETERS;
typedef struct ecpk_parameters_st ECPKPARAMETERS;
typedef struct ec_privatekey_st EC_PRIVATEKEY;
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM X9_62_PENTANOMIAL_it;
MORVANE_EXPORT X9_62_PENTANOMIAL *X9_62_PENTANOMIAL_new(void);
MORVANE_EXPORT void X9_62_PENTANOMIAL_free(X9_62_PENTANOMIAL *a);
MORVANE_EXPORT extern const ASN1_ITEM X9_62_CHARACTERISTIC_TWO_it;
MORVANE_EXPORT X9_62_CHARACTERISTIC_TWO *X9_62_CHARACTERISTIC_TWO_new(void);
MORVANE_EXPORT void X9_62_CHARACTERISTIC_TWO_free(X9_62_CHARACTERISTIC_TWO *a);
MORVANE_EXPORT extern const ASN1_ITEM X9_62_FIELDID_it;
MORVANE_EXPORT extern const ASN1_ITEM X9_62_CURVE_it;
MORVANE_EXPORT extern const ASN1_ITEM ECPARAMETERS_it;
MORVANE_EXPORT ECPARAMETERS *ECPARAMETERS_new(void);
MORVANE_EXPORT void ECPARAMETERS_free(ECPARAMETERS *a);
MORVANE_EXPORT extern const ASN1_ITEM ECPKPARAMETERS_it;
MORVANE_EXPORT ECPKPARAMETERS *ECPKPARAMETERS_new(void);
MORVANE_EXPORT void ECPKPARAMETERS_free(ECPKPARAMETERS *a);
MORVANE_EXPORT ECPKPARAMETERS *d2i_ECPKPARAMETERS(ECPKPARAMETERS **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECPKPARAMETERS(ECPKPARAMETERS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM EC_PRIVATEKEY_it;
MORVANE_EXPORT EC_PRIVATEKEY *EC_PRIVATEKEY_new(void);
MORVANE_EXPORT void EC_PRIVATEKEY_free(EC_PRIVATEKEY *a);
MORVANE_EXPORT EC_PRIVATEKEY *d2i_EC_PRIVATEKEY(EC_PRIVATEKEY **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_EC_PRIVATEKEY(EC_PRIVATEKEY *a, unsigned char **out);
/* END ITEMS */

/* ---- text form ------------------------------------------------------------
 * ECPKParameters_print: a named curve as "ASN1 OID: <short name>", explicit
 * parameters as Field Type, Basis Type and Polynomial (binary fields) or
 * Prime, A, B, Generator (in the group's point form), Order, Cofactor and
 * Seed, each after `off` blanks.  EC_KEY_print: "Private-Key: (N bit)" and
 * priv: when the key has a private value, pub:, then the curve.
 * ECParameters_print: "ECDSA-Parameters: (N bit)" and the curve at indent 4.
 * Numbers of at most 32 bits print as "v (0xhex)" on their label's line,
 * larger ones as hex octets, 15 a line indented off + 4.  1, or 0 with the
 * reason queued ("passed a null parameter" for a null key or group, "EC
 * lib" when an accessor fails, "malloc failure", "BIO lib" for a failed
 * write).  The _fp forms write to fp through a file stream that leaves it
 * open.  The stream (or FILE) must be valid. */
MORVANE_EXPORT int ECPKParameters_print(BIO *bp, const EC_GROUP *x, int off);
MORVANE_EXPORT int ECPKParameters_print_fp(FILE *fp, const EC_GROUP *x, int off);
MORVANE_EXPORT int EC_KEY_print(BIO *bp, const EC_KEY *x, int off);
MORVANE_EXPORT int EC_KEY_print_fp(FILE *fp, const EC_KEY *x, int off);
MORVANE_EXPORT int ECParameters_print(BIO *bp, const EC_KEY *x);
MORVANE_EXPORT int ECParameters_print_fp(FILE *fp, const EC_KEY *x);

/* Registers the texts of library 16 (ERR_LIB_EC) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_EC_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 16 (EC). */
#define EC_F_EC_GFP_SIMPLE_GROUP_SET_CURVE_GFP 100
#define EC_F_EC_GFP_SIMPLE_GROUP_SET_GENERATOR 101
#define EC_F_EC_GFP_SIMPLE_MAKE_AFFINE 102
#define EC_F_EC_GFP_SIMPLE_OCT2POINT 103
#define EC_F_EC_GFP_SIMPLE_POINT2OCT 104
#define EC_F_EC_GFP_SIMPLE_POINT_GET_AFFINE_COORDINATES_GFP 105
#define EC_F_EC_GROUP_COPY 106
#define EC_F_EC_GROUP_NEW 108
#define EC_F_EC_GROUP_SET_CURVE_GFP 109
#define EC_F_EC_GROUP_SET_EXTRA_DATA 110
#define EC_F_EC_GROUP_SET_GENERATOR 111
#define EC_F_EC_POINT_ADD 112
#define EC_F_EC_POINT_CMP 113
#define EC_F_EC_POINT_COPY 114
#define EC_F_EC_POINT_DBL 115
#define EC_F_EC_POINT_GET_AFFINE_COORDINATES_GFP 116
#define EC_F_EC_POINT_GET_JPROJECTIVE_COORDINATES_GFP 117
#define EC_F_EC_POINT_IS_AT_INFINITY 118
#define EC_F_EC_POINT_IS_ON_CURVE 119
#define EC_F_EC_POINT_MAKE_AFFINE 120
#define EC_F_EC_POINT_NEW 121
#define EC_F_EC_POINT_OCT2POINT 122
#define EC_F_EC_POINT_POINT2OCT 123
#define EC_F_EC_POINT_SET_AFFINE_COORDINATES_GFP 124
#define EC_F_EC_POINT_SET_COMPRESSED_COORDINATES_GFP 125
#define EC_F_EC_POINT_SET_JPROJECTIVE_COORDINATES_GFP 126
#define EC_F_EC_POINT_SET_TO_INFINITY 127
#define EC_F_EC_GFP_SIMPLE_POINT_SET_AFFINE_COORDINATES_GFP 128
#define EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES_GFP 129
#define EC_F_EC_GROUP_GET_CURVE_GFP 130
#define EC_F_EC_GFP_MONT_FIELD_MUL 131
#define EC_F_EC_GFP_MONT_FIELD_SQR 132
#define EC_F_EC_GFP_MONT_FIELD_DECODE 133
#define EC_F_EC_GFP_MONT_FIELD_ENCODE 134
#define EC_F_EC_GFP_MONT_GROUP_SET_CURVE_GFP 135
#define EC_F_EC_POINTS_MAKE_AFFINE 136
#define EC_F_EC_GFP_SIMPLE_POINTS_MAKE_AFFINE 137
#define EC_F_EC_POINTS_MUL 138
#define EC_F_EC_GROUP_GET0_GENERATOR 139
#define EC_F_EC_GROUP_GET_COFACTOR 140
#define EC_F_EC_GROUP_GET_ORDER 141
#define EC_F_EC_GROUP_PRECOMPUTE_MULT 142
#define EC_F_COMPUTE_WNAF 143
#define EC_F_D2I_ECPARAMETERS 144
#define EC_F_D2I_ECPKPARAMETERS 145
#define EC_F_D2I_ECPRIVATEKEY 146
#define EC_F_ECPARAMETERS_PRINT 147
#define EC_F_ECPARAMETERS_PRINT_FP 148
#define EC_F_ECPKPARAMETERS_PRINT 149
#define EC_F_ECPKPARAMETERS_PRINT_FP 150
#define EC_F_I2O_ECPUBLICKEY 151
#define EC_F_O2I_ECPUBLICKEY 152
#define EC_F_EC_ASN1_GROUP2CURVE 153
#define EC_F_EC_ASN1_GROUP2FIELDID 154
#define EC_F_EC_ASN1_GROUP2PARAMETERS 155
#define EC_F_EC_ASN1_GROUP2PKPARAMETERS 156
#define EC_F_EC_ASN1_PARAMETERS2GROUP 157
#define EC_F_EC_ASN1_PKPARAMETERS2GROUP 158
#define EC_F_EC_GF2M_SIMPLE_GROUP_CHECK_DISCRIMINANT 159
#define EC_F_EC_GF2M_SIMPLE_OCT2POINT 160
#define EC_F_EC_GF2M_SIMPLE_POINT2OCT 161
#define EC_F_EC_GF2M_SIMPLE_POINT_GET_AFFINE_COORDINATES 162
#define EC_F_EC_GF2M_SIMPLE_POINT_SET_AFFINE_COORDINATES 163
#define EC_F_EC_GF2M_SIMPLE_SET_COMPRESSED_COORDINATES 164
#define EC_F_EC_GFP_SIMPLE_GROUP_CHECK_DISCRIMINANT 165
#define EC_F_EC_GFP_SIMPLE_GROUP_SET_CURVE 166
#define EC_F_EC_GFP_SIMPLE_POINT_GET_AFFINE_COORDINATES 167
#define EC_F_EC_GFP_SIMPLE_POINT_SET_AFFINE_COORDINATES 168
#define EC_F_EC_GFP_SIMPLE_SET_COMPRESSED_COORDINATES 169
#define EC_F_EC_GROUP_CHECK 170
#define EC_F_EC_GROUP_CHECK_DISCRIMINANT 171
#define EC_F_EC_GROUP_GET_CURVE_GF2M 172
#define EC_F_EC_GROUP_GET_DEGREE 173
#define EC_F_EC_GROUP_NEW_BY_CURVE_NAME 174
#define EC_F_EC_GROUP_NEW_FROM_DATA 175
#define EC_F_EC_GROUP_SET_CURVE_GF2M 176
#define EC_F_EC_KEY_CHECK_KEY 177
#define EC_F_EC_KEY_COPY 178
#define EC_F_EC_KEY_GENERATE_KEY 179
#define EC_F_EC_KEY_PRINT 180
#define EC_F_EC_KEY_PRINT_FP 181
#define EC_F_EC_KEY_NEW 182
#define EC_F_EC_POINT_GET_AFFINE_COORDINATES_GF2M 183
#define EC_F_EC_POINT_MUL 184
#define EC_F_EC_POINT_SET_AFFINE_COORDINATES_GF2M 185
#define EC_F_EC_POINT_SET_COMPRESSED_COORDINATES_GF2M 186
#define EC_F_EC_WNAF_MUL 187
#define EC_F_EC_WNAF_PRECOMPUTE_MULT 188
#define EC_F_EC_GFP_MONT_GROUP_SET_CURVE 189
#define EC_F_I2D_ECPARAMETERS 190
#define EC_F_I2D_ECPKPARAMETERS 191
#define EC_F_I2D_ECPRIVATEKEY 192
#define EC_F_EC_GROUP_GET_PENTANOMIAL_BASIS 193
#define EC_F_EC_GROUP_GET_TRINOMIAL_BASIS 194
#define EC_F_EC_GF2M_SIMPLE_GROUP_SET_CURVE 195
#define EC_F_EC_PRE_COMP_NEW 196
#define EC_F_EC_GFP_NIST_FIELD_MUL 200
#define EC_F_EC_GFP_NIST_FIELD_SQR 201
#define EC_F_EC_GFP_NIST_GROUP_SET_CURVE 202
#define EC_F_ECP_NIST_MOD_192 203
#define EC_F_ECP_NIST_MOD_224 204
#define EC_F_ECP_NIST_MOD_256 205
#define EC_F_ECP_NIST_MOD_521 206
#define EC_F_EC_PRE_COMP_DUP 207
#define EC_F_EC_GF2M_MONTGOMERY_POINT_MULTIPLY 208
#define EC_F_EC_GFP_MONT_FIELD_SET_TO_ONE 209
#define EC_F_EC_POINT_INVERT 210
#define EC_F_EC_EX_DATA_SET_DATA 211
#define EC_F_EC_KEY_SET_PUBLIC_KEY 212
/* Reason codes of library 16 (EC). */
#define EC_R_BUFFER_TOO_SMALL 100
#define EC_R_INCOMPATIBLE_OBJECTS 101
#define EC_R_INVALID_ENCODING 102
#define EC_R_INVALID_FIELD 103
#define EC_R_INVALID_FORM 104
#define EC_R_POINT_AT_INFINITY 106
#define EC_R_POINT_IS_NOT_ON_CURVE 107
#define EC_R_SLOT_FULL 108
#define EC_R_INVALID_COMPRESSION_BIT 109
#define EC_R_INVALID_COMPRESSED_POINT 110
#define EC_R_NOT_INITIALIZED 111
#define EC_R_INVALID_ARGUMENT 112
#define EC_R_UNDEFINED_GENERATOR 113
#define EC_R_UNKNOWN_ORDER 114
#define EC_R_ASN1_ERROR 115
#define EC_R_ASN1_UNKNOWN_FIELD 116
#define EC_R_D2I_ECPKPARAMETERS_FAILURE 117
#define EC_R_DISCRIMINANT_IS_ZERO 118
#define EC_R_EC_GROUP_NEW_BY_NAME_FAILURE 119
#define EC_R_GROUP2PKPARAMETERS_FAILURE 120
#define EC_R_I2D_ECPKPARAMETERS_FAILURE 121
#define EC_R_INVALID_GROUP_ORDER 122
#define EC_R_INVALID_PRIVATE_KEY 123
#define EC_R_MISSING_PARAMETERS 124
#define EC_R_MISSING_PRIVATE_KEY 125
#define EC_R_NOT_IMPLEMENTED 126
#define EC_R_PKPARAMETERS2GROUP_FAILURE 127
#define EC_R_UNDEFINED_ORDER 128
#define EC_R_UNKNOWN_GROUP 129
#define EC_R_WRONG_ORDER 130
#define EC_R_UNSUPPORTED_FIELD 131
#define EC_R_INVALID_PENTANOMIAL_BASIS 132
#define EC_R_NO_FIELD_MOD 133
#define EC_R_PASSED_NULL_PARAMETER 134
#define EC_R_NOT_A_NIST_PRIME 135
#define EC_R_NOT_A_SUPPORTED_NIST_PRIME 136
#define EC_R_INVALID_TRINOMIAL_BASIS 137
#define EC_R_FIELD_TOO_LARGE 138
#define EC_R_INVALID_COFACTOR 139
#define EC_R_UNDEFINED_COFACTOR 140
#define EC_R_METHOD_DATA_NOT_COPIED 141
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_EC_H */
