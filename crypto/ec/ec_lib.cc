// Elliptic-curve keys, groups and points as the envelope and the key codecs call them.
//
// Implementation notes: the implementation is not part of this build yet;
// each operation queues its error (internal/unbuilt.h) and returns its
// contract's failure value without reading its arguments.

#include <morvane/err.h>
#include <morvane/ec.h>

#include "internal/unbuilt.h"

/* see morvane/ec.h */
EC_KEY* EC_KEY_new(void) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_KEY_NEW);
  return nullptr;
}

/* see morvane/ec.h */
void EC_KEY_free(EC_KEY* key) {
  if (key != nullptr) MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
int EC_KEY_up_ref(EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
const EC_GROUP* EC_KEY_get0_group(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
const EC_POINT* EC_KEY_get0_public_key(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
const BIGNUM* EC_KEY_get0_private_key(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
int EC_KEY_set_group(EC_KEY* /*key*/, const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
int EC_KEY_set_public_key(EC_KEY* /*key*/, const EC_POINT* /*pub*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
unsigned int EC_KEY_get_enc_flags(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
void EC_KEY_set_enc_flags(EC_KEY* /*key*/, unsigned int /*flags*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
point_conversion_form_t EC_KEY_get_conv_form(const EC_KEY* /*key*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return point_conversion_form_t{};
}

/* see morvane/ec.h */
EC_KEY* d2i_ECParameters(EC_KEY** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_D2I_ECPARAMETERS);
  return nullptr;
}

/* see morvane/ec.h */
int i2d_ECParameters(EC_KEY* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_I2D_ECPARAMETERS);
  return 0;
}

/* see morvane/ec.h */
EC_KEY* d2i_ECPrivateKey(EC_KEY** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_D2I_ECPRIVATEKEY);
  return nullptr;
}

/* see morvane/ec.h */
int i2d_ECPrivateKey(EC_KEY* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_I2D_ECPRIVATEKEY);
  return 0;
}

/* see morvane/ec.h */
EC_KEY* o2i_ECPublicKey(EC_KEY** /*a*/, const unsigned char** /*in*/, long /*len*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_O2I_ECPUBLICKEY);
  return nullptr;
}

/* see morvane/ec.h */
int i2o_ECPublicKey(EC_KEY* /*a*/, unsigned char** /*out*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_I2O_ECPUBLICKEY);
  return 0;
}

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_new_by_curve_name(int /*nid*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_NEW_BY_CURVE_NAME);
  return nullptr;
}

/* see morvane/ec.h */
EC_GROUP* EC_GROUP_dup(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
void EC_GROUP_free(EC_GROUP* group) {
  if (group != nullptr) MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
int EC_GROUP_cmp(const EC_GROUP* /*a*/, const EC_GROUP* /*b*/, BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return -1;
}

/* see morvane/ec.h */
int EC_GROUP_get_curve_name(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
void EC_GROUP_set_asn1_flag(EC_GROUP* /*group*/, int /*flag*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
int EC_GROUP_get_asn1_flag(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
const EC_POINT* EC_GROUP_get0_generator(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_GET0_GENERATOR);
  return nullptr;
}

/* see morvane/ec.h */
int EC_GROUP_get_order(const EC_GROUP* /*group*/, BIGNUM* /*order*/, BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_GET_ORDER);
  return 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_cofactor(const EC_GROUP* /*group*/, BIGNUM* /*cofactor*/, BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_GET_COFACTOR);
  return 0;
}

/* see morvane/ec.h */
unsigned char* EC_GROUP_get0_seed(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
size_t EC_GROUP_get_seed_len(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
point_conversion_form_t EC_GROUP_get_point_conversion_form(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return point_conversion_form_t{};
}

/* see morvane/ec.h */
const EC_METHOD* EC_GROUP_method_of(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}

/* see morvane/ec.h */
int EC_METHOD_get_field_type(const EC_METHOD* /*meth*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_curve_GFp(const EC_GROUP* /*group*/, BIGNUM* /*p*/, BIGNUM* /*a*/, BIGNUM* /*b*/,
                           BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_GET_CURVE_GFP);
  return 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_curve_GF2m(const EC_GROUP* /*group*/, BIGNUM* /*p*/, BIGNUM* /*a*/, BIGNUM* /*b*/,
                            BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_GROUP_GET_CURVE_GF2M);
  return 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_basis_type(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return 0;
}

/* see morvane/ec.h */
EC_POINT* EC_POINT_new(const EC_GROUP* /*group*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_POINT_NEW);
  return nullptr;
}

/* see morvane/ec.h */
void EC_POINT_free(EC_POINT* point) {
  if (point != nullptr) MORVANE_UNBUILT(ERR_LIB_EC, 0);
}

/* see morvane/ec.h */
int EC_POINT_copy(EC_POINT* /*dst*/, const EC_POINT* /*src*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_POINT_COPY);
  return 0;
}

/* see morvane/ec.h */
int EC_POINT_cmp(const EC_GROUP* /*group*/, const EC_POINT* /*a*/, const EC_POINT* /*b*/,
                 BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_POINT_CMP);
  return -1;
}

/* see morvane/ec.h */
int EC_POINT_mul(const EC_GROUP* /*group*/, EC_POINT* /*r*/, const BIGNUM* /*n*/,
                 const EC_POINT* /*q*/, const BIGNUM* /*m*/, BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, EC_F_EC_POINT_MUL);
  return 0;
}

/* see morvane/ec.h */
BIGNUM* EC_POINT_point2bn(const EC_GROUP* /*group*/, const EC_POINT* /*point*/,
                          point_conversion_form_t /*form*/, BIGNUM* /*bn*/, BN_CTX* /*ctx*/) {
  MORVANE_UNBUILT(ERR_LIB_EC, 0);
  return nullptr;
}
