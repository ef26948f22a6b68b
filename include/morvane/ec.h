/* Morvane: elliptic curves.
 *
 * Elliptic-curve groups over prime and binary fields, points and keys, with
 * the table of named curves.  Failing calls queue errors of library 16
 * (ERR_LIB_EC).
 *
 * Null arguments: not built yet, every call fails as above without reading
 * its arguments, null ones included.  The printers (text form, below)
 * refuse a null key or group with an error and need a valid stream or FILE. */
#ifndef MORVANE_EC_H
#define MORVANE_EC_H

#include <stddef.h>
#include <stdio.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- groups, points and keys --------------------------------------------
 * Until the elliptic-curve implementation lands, the operations below exist
 * under their final names and signatures and fail: each queues ERR_R_DISABLED
 * under this library with its own name as the error data and returns the
 * failure value its comment gives (null, 0, or -1 for the comparisons); no
 * argument makes one crash.  The key, group, point and method are opaque. */

typedef struct ec_method_st EC_METHOD;
typedef struct ec_group_st EC_GROUP;
typedef struct ec_point_st EC_POINT;

/* How a point is written as octets. */
typedef enum {
  POINT_CONVERSION_COMPRESSED = 2,
  POINT_CONVERSION_UNCOMPRESSED = 4,
  POINT_CONVERSION_HYBRID = 6
} point_conversion_form_t;

/* Key encoding flags: leave out the parameters, the public key. */
#define EC_PKEY_NO_PARAMETERS 0x001
#define EC_PKEY_NO_PUBKEY 0x002

/* Keys. */
MORVANE_EXPORT EC_KEY *EC_KEY_new(void);
MORVANE_EXPORT void EC_KEY_free(EC_KEY *key); /* null accepted */
MORVANE_EXPORT int EC_KEY_up_ref(EC_KEY *key);
MORVANE_EXPORT const EC_GROUP *EC_KEY_get0_group(const EC_KEY *key);
MORVANE_EXPORT const EC_POINT *EC_KEY_get0_public_key(const EC_KEY *key);
MORVANE_EXPORT const BIGNUM *EC_KEY_get0_private_key(const EC_KEY *key);
MORVANE_EXPORT int EC_KEY_set_group(EC_KEY *key, const EC_GROUP *group);
MORVANE_EXPORT int EC_KEY_set_public_key(EC_KEY *key, const EC_POINT *pub);
MORVANE_EXPORT unsigned int EC_KEY_get_enc_flags(const EC_KEY *key);
MORVANE_EXPORT void EC_KEY_set_enc_flags(EC_KEY *key, unsigned int flags);
/* The public point's conversion form.  (Unbuilt: 0, which is no form.) */
MORVANE_EXPORT point_conversion_form_t EC_KEY_get_conv_form(const EC_KEY *key);

/* Key encodings: the ECParameters choice, the EC private-key SEQUENCE, and
 * the public point as octets (o2i needs a key that has its group).
 * Decoders give the key or null, encoders the length written or 0. */
MORVANE_EXPORT EC_KEY *d2i_ECParameters(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECParameters(EC_KEY *a, unsigned char **out);
MORVANE_EXPORT EC_KEY *d2i_ECPrivateKey(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECPrivateKey(EC_KEY *a, unsigned char **out);
MORVANE_EXPORT EC_KEY *o2i_ECPublicKey(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2o_ECPublicKey(EC_KEY *a, unsigned char **out);

/* Groups. */
MORVANE_EXPORT EC_GROUP *EC_GROUP_new_by_curve_name(int nid);
MORVANE_EXPORT EC_GROUP *EC_GROUP_dup(const EC_GROUP *group);
MORVANE_EXPORT void EC_GROUP_free(EC_GROUP *group); /* null accepted */
/* 0 equal, 1 different, -1 error. */
MORVANE_EXPORT int EC_GROUP_cmp(const EC_GROUP *a, const EC_GROUP *b, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_get_curve_name(const EC_GROUP *group);
MORVANE_EXPORT void EC_GROUP_set_asn1_flag(EC_GROUP *group, int flag);
MORVANE_EXPORT int EC_GROUP_get_asn1_flag(const EC_GROUP *group);
MORVANE_EXPORT const EC_POINT *EC_GROUP_get0_generator(const EC_GROUP *group);
MORVANE_EXPORT int EC_GROUP_get_order(const EC_GROUP *group, BIGNUM *order, BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_get_cofactor(const EC_GROUP *group, BIGNUM *cofactor, BN_CTX *ctx);
MORVANE_EXPORT unsigned char *EC_GROUP_get0_seed(const EC_GROUP *group);
MORVANE_EXPORT size_t EC_GROUP_get_seed_len(const EC_GROUP *group);
MORVANE_EXPORT point_conversion_form_t EC_GROUP_get_point_conversion_form(const EC_GROUP *group);
MORVANE_EXPORT const EC_METHOD *EC_GROUP_method_of(const EC_GROUP *group);
/* The field-type NID: 406 prime field, 407 characteristic-two field. */
MORVANE_EXPORT int EC_METHOD_get_field_type(const EC_METHOD *meth);
MORVANE_EXPORT int EC_GROUP_get_curve_GFp(const EC_GROUP *group, BIGNUM *p, BIGNUM *a, BIGNUM *b,
                                          BN_CTX *ctx);
MORVANE_EXPORT int EC_GROUP_get_curve_GF2m(const EC_GROUP *group, BIGNUM *p, BIGNUM *a,
                                           BIGNUM *b, BN_CTX *ctx);
/* The basis NID of a characteristic-two group (682 trinomial, 683
 * pentanomial), else 0. */
MORVANE_EXPORT int EC_GROUP_get_basis_type(const EC_GROUP *group);

/* Points. */
MORVANE_EXPORT EC_POINT *EC_POINT_new(const EC_GROUP *group);
MORVANE_EXPORT void EC_POINT_free(EC_POINT *point); /* null accepted */
MORVANE_EXPORT int EC_POINT_copy(EC_POINT *dst, const EC_POINT *src);
/* 0 equal, 1 different, -1 error. */
MORVANE_EXPORT int EC_POINT_cmp(const EC_GROUP *group, const EC_POINT *a, const EC_POINT *b,
                                BN_CTX *ctx);
/* r = n*G + m*q (r = n*G when q and m are null); 1 or 0. */
MORVANE_EXPORT int EC_POINT_mul(const EC_GROUP *group, EC_POINT *r, const BIGNUM *n,
                                const EC_POINT *q, const BIGNUM *m, BN_CTX *ctx);
MORVANE_EXPORT BIGNUM *EC_POINT_point2bn(const EC_GROUP *group, const EC_POINT *point,
                                         point_conversion_form_t form, BIGNUM *bn, BN_CTX *ctx);

/* ---- text form ------------------------------------------------------------
 * ECPKParameters_print: a named curve as "ASN1 OID: <short name>", explicit
 * parameters as Field Type, Basis Type and Polynomial (binary fields) or
 * Prime, A, B, Generator (in the group's point form), Order, Cofactor and
 * Seed, each after `off` blanks.  EC_KEY_print: "Private-Key: (N bit)" and
 * priv: when the key has a private value, pub:, then the curve.
 * ECParameters_print: "ECDSA-Parameters: (N bit)" and the curve at indent 4.
 * 1, or 0 with the reason queued ("passed a null parameter" for a null key
 * or group, "EC lib" when an accessor fails, "malloc failure", "BIO lib"
 * for a failed write).  The _fp forms write to fp through a file stream
 * that leaves it open. */
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
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_EC_H */
