// PKCS#8 private-key conversion (RFC 5208): PrivateKeyInfo to a key
// container and back for RSA, DSA and EC keys, including the forms older
// software wrote, and the attribute accessors of key containers.
//
// Implementation notes: DSA's private value x is secret all along its way.
// Its BIGNUM carries BN_FLAG_SECRET before y = g^x mod p is computed, so
// the exponentiation takes its constant-time path, and every INTEGER and
// DER buffer that held x is wiped before it is freed.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "evp/internal.h"
#include "internal/wipe.h"

namespace {

constexpr int kNidRsa = 6;
constexpr int kNidDsa = 116;
constexpr int kNidEc = 408;
constexpr unsigned int kEcNoParameters = 0x001;  // EC_KEY encoding flag
constexpr int kEcNamedCurve = 1;                 // EC_GROUP encoding flag

// True when `t` holds its value as a string (every type but OBJECT
// IDENTIFIER, NULL and BOOLEAN).
bool holds_string(const ASN1_TYPE* t) {
  return t != nullptr && t->type != ASN1_UT_UNDEF && t->type != ASN1_UT_OBJECT &&
         t->type != ASN1_UT_NULL && t->type != ASN1_UT_BOOLEAN && t->value.asn1_string != nullptr;
}

void wipe_string(ASN1_STRING* s) {
  if (s != nullptr && s->data != nullptr && s->length > 0)
    morvane::internal::wipe(s->data, static_cast<size_t>(s->length));
}

void free_secret_integer(ASN1_INTEGER* i) {
  wipe_string(i);
  ASN1_INTEGER_free(i);
}

// Frees a stack of ASN1_TYPE values, wiping their strings first.
void free_secret_types(STACK* sk) {
  for (int i = 0; i < sk_num(sk); i++) {
    auto* t = reinterpret_cast<ASN1_TYPE*>(sk_value(sk, i));
    if (holds_string(t)) wipe_string(t->value.asn1_string);
    ASN1_TYPE_free(t);
  }
  sk_free(sk);
}

// The codecs in the shapes of the packing functions.
void* d2i_any(void** a, const unsigned char** in, long len) {
  return d2i_ASN1_TYPE(reinterpret_cast<ASN1_TYPE**>(a), in, len);
}
void free_any(void* a) {
  ASN1_TYPE_free(static_cast<ASN1_TYPE*>(a));
}
int i2d_any(void* a, unsigned char** out) {
  return i2d_ASN1_TYPE(static_cast<ASN1_TYPE*>(a), out);
}
int i2d_integer(void* a, unsigned char** out) {
  return i2d_ASN1_INTEGER(static_cast<ASN1_INTEGER*>(a), out);
}
int i2d_rsa_private(void* a, unsigned char** out) {
  return i2d_RSAPrivateKey(static_cast<RSA*>(a), out);
}

// ---- PrivateKeyInfo to key ------------------------------------------------

// The DSA key of the private-key bytes, recognising the embedded-parameter
// and database forms; y is computed from x.  Null with an error.
DSA* dsa_from_pkcs8(PKCS8_PRIV_KEY_INFO* p8, const unsigned char* p, int len) {
  STACK* elements = nullptr;
  ASN1_INTEGER* alone = nullptr;  // the private value in the standard form
  const ASN1_INTEGER* x = nullptr;
  const ASN1_TYPE* params = p8->pkeyalg->parameter;
  if (len > 0 && p[0] == 0x30) {
    // SEQUENCE { parameters, x } or SEQUENCE { y, x }.
    elements = ASN1_seq_unpack(p, len, d2i_any, free_any);
    const ASN1_TYPE* first = elements != nullptr && sk_num(elements) == 2
                                 ? reinterpret_cast<ASN1_TYPE*>(sk_value(elements, 0))
                                 : nullptr;
    const ASN1_TYPE* second =
        first != nullptr ? reinterpret_cast<ASN1_TYPE*>(sk_value(elements, 1)) : nullptr;
    if (first != nullptr && first->type == ASN1_UT_SEQUENCE) {
      p8->broken = PKCS8_EMBEDDED_PARAM;
      params = first;
    } else if (first != nullptr && params != nullptr && params->type == ASN1_UT_SEQUENCE) {
      p8->broken = PKCS8_NS_DB;  // the public value is computed again below
    } else {
      second = nullptr;
    }
    if (second != nullptr && second->type == ASN1_UT_INTEGER) x = second->value.integer;
  } else {
    const unsigned char* q = p;
    alone = d2i_ASN1_INTEGER(nullptr, &q, len);
    x = alone;
  }
  DSA* dsa = nullptr;
  if (x != nullptr && params != nullptr && params->type == ASN1_UT_SEQUENCE &&
      params->value.sequence != nullptr) {
    const unsigned char* q = params->value.sequence->data;
    dsa = d2i_DSAparams(nullptr, &q, params->value.sequence->length);
  }
  int reason = dsa == nullptr ? EVP_R_DECODE_ERROR : 0;
  BN_CTX* ctx = nullptr;
  // The work of y = g^x mod p grows with the cube of p: a modulus past the
  // bound DSA keys have is refused before anything is computed, and so is
  // a q not below p and a private value outside 0 < x < q (however many
  // octets it has).
  if (reason == 0 && BN_num_bits(dsa->p) > DSA_MAX_MODULUS_BITS) reason = EVP_R_UNSUPPORTED_KEY_SIZE;
  if (reason == 0 && (dsa->q == nullptr || BN_cmp(dsa->q, dsa->p) >= 0)) reason = EVP_R_DECODE_ERROR;
  if (reason == 0 && x->length > BN_num_bytes(dsa->q) + 1) reason = EVP_R_BN_DECODE_ERROR;
  if (reason == 0 && (dsa->priv_key = ASN1_INTEGER_to_BN(x, nullptr)) == nullptr)
    reason = EVP_R_BN_DECODE_ERROR;
  if (reason == 0 && (BN_is_negative(dsa->priv_key) || BN_is_zero(dsa->priv_key) ||
                      BN_cmp(dsa->priv_key, dsa->q) >= 0))
    reason = EVP_R_BN_DECODE_ERROR;
  if (reason == 0) {
    BN_set_flags(dsa->priv_key, BN_FLAG_SECRET);
    if ((dsa->pub_key = BN_new()) == nullptr || (ctx = BN_CTX_new()) == nullptr)
      reason = ERR_R_MALLOC_FAILURE;
    else if (BN_mod_exp(dsa->pub_key, dsa->g, dsa->priv_key, dsa->p, ctx) != 1)
      reason = EVP_R_BN_PUBKEY_ERROR;
  }
  BN_CTX_free(ctx);
  free_secret_types(elements);
  free_secret_integer(alone);
  if (reason == 0) return dsa;
  EVPerr(EVP_F_EVP_PKCS82PKEY, reason);
  DSA_free(dsa);
  return nullptr;
}

// The EC key of the private-key bytes under the curve of the algorithm's
// parameter; a missing public point is computed.  Null with an error.
EC_KEY* ec_from_pkcs8(const PKCS8_PRIV_KEY_INFO* p8, const unsigned char* p, int len) {
  const ASN1_TYPE* param = p8->pkeyalg->parameter;
  EC_KEY* key = nullptr;
  if (param != nullptr && param->type == ASN1_UT_SEQUENCE && param->value.sequence != nullptr) {
    const unsigned char* q = param->value.sequence->data;
    key = d2i_ECParameters(nullptr, &q, param->value.sequence->length);
    if (key == nullptr) {
      EVPerr(EVP_F_EVP_PKCS82PKEY, EVP_R_DECODE_ERROR);
      return nullptr;
    }
  } else if (param != nullptr && param->type == ASN1_UT_OBJECT) {
    key = EC_KEY_new();
    if (key == nullptr) {
      EVPerr(EVP_F_EVP_PKCS82PKEY, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    EC_GROUP* group = EC_GROUP_new_by_curve_name(OBJ_obj2nid(param->value.object));
    if (group != nullptr) EC_GROUP_set_asn1_flag(group, kEcNamedCurve);
    const bool set = group != nullptr && EC_KEY_set_group(key, group);
    EC_GROUP_free(group);
    if (!set) {
      // A curve this library does not know, or a group that could not be set.
      EVPerr(EVP_F_EVP_PKCS82PKEY, group == nullptr ? EVP_R_DECODE_ERROR : ERR_R_EC_LIB);
      EC_KEY_free(key);
      return nullptr;
    }
  } else {
    EVPerr(EVP_F_EVP_PKCS82PKEY, EVP_R_DECODE_ERROR);
    return nullptr;
  }
  // The decoder refuses a scalar outside 1 <= d < n before anything is
  // computed from it: a "bn decode error" here.
  const unsigned char* q = p;
  if (d2i_ECPrivateKey(&key, &q, len) == nullptr) {
    const bool range = ERR_peek_last_error() ==
                       ERR_PACK(ERR_LIB_EC, EC_F_D2I_ECPRIVATEKEY, EC_R_INVALID_PRIVATE_KEY);
    EVPerr(EVP_F_EVP_PKCS82PKEY, range ? EVP_R_BN_DECODE_ERROR : EVP_R_DECODE_ERROR);
    EC_KEY_free(key);  // null when the decoder freed it
    return nullptr;
  }
  if (EC_KEY_get0_public_key(key) == nullptr) {
    // The public point is the private number times the generator.
    const EC_GROUP* group = EC_KEY_get0_group(key);
    EC_POINT* pub = EC_POINT_new(group);
    const bool ok = pub != nullptr && EC_POINT_copy(pub, EC_GROUP_get0_generator(group)) &&
                    EC_POINT_mul(group, pub, EC_KEY_get0_private_key(key), nullptr, nullptr,
                                 nullptr) &&
                    EC_KEY_set_public_key(key, pub);
    EC_POINT_free(pub);
    if (!ok) {
      EVPerr(EVP_F_EVP_PKCS82PKEY, ERR_R_EC_LIB);
      EC_KEY_free(key);
      return nullptr;
    }
  }
  return key;
}

// ---- key to PrivateKeyInfo ------------------------------------------------

// `value` (an INTEGER or a SEQUENCE string) as a new ASN1_TYPE pushed on sk.
bool push_type(STACK* sk, int type, void* value) {
  ASN1_TYPE* t = ASN1_TYPE_new();
  if (t == nullptr) return false;
  ASN1_TYPE_set(t, type, value);
  if (sk_push(sk, reinterpret_cast<char*>(t))) return true;
  t->value.ptr = nullptr;  // the caller still owns the value
  ASN1_TYPE_free(t);
  return false;
}

// Fills p8 for a DSA key in modes 0 to 3 (1 writes as 0).
int dsa_pkey2pkcs8(PKCS8_PRIV_KEY_INFO* p8, EVP_PKEY* pkey) {
  constexpr int kFunc = EVP_F_DSA_PKEY2PKCS8;
  const int mode = p8->broken;
  if (mode < PKCS8_OK || mode > PKCS8_NS_DB) {
    // A form that has no private-key field of its own is refused.
    EVPerr(kFunc, EVP_R_PKCS8_UNKNOWN_BROKEN_TYPE);
    return 0;
  }
  DSA* dsa = pkey->pkey.dsa;
  if (dsa == nullptr) {
    EVPerr(kFunc, EVP_R_MISSING_PARAMETERS);
    return 0;
  }
  ASN1_OBJECT_free(p8->pkeyalg->algorithm);
  p8->pkeyalg->algorithm = OBJ_nid2obj(kNidDsa);
  ASN1_STRING* params = ASN1_STRING_new();
  unsigned char* der = nullptr;
  const int n = i2d_DSAparams(dsa, &der);
  if (params == nullptr || n <= 0 || !ASN1_STRING_set(params, der, n)) {
    MORVANE_free(der);
    ASN1_STRING_free(params);
    EVPerr(kFunc, n <= 0 ? EVP_R_ENCODE_ERROR : ERR_R_MALLOC_FAILURE);
    return 0;
  }
  MORVANE_free(der);
  ASN1_INTEGER* x = BN_to_ASN1_INTEGER(dsa->priv_key, nullptr);
  if (x == nullptr) {
    ASN1_STRING_free(params);
    EVPerr(kFunc, EVP_R_ENCODE_ERROR);
    return 0;
  }
  if (mode == PKCS8_OK || mode == PKCS8_NO_OCTET) {
    const bool ok = ASN1_pack_string(x, i2d_integer, &p8->pkey->value.octet_string) != nullptr;
    free_secret_integer(x);
    if (!ok) {
      ASN1_STRING_free(params);
      EVPerr(kFunc, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    ASN1_TYPE_set(p8->pkeyalg->parameter, ASN1_UT_SEQUENCE, params);
    return 1;
  }
  // Modes 2 and 3: SEQUENCE { parameters, x } or SEQUENCE { y, x }.
  STACK* sk = sk_new_null();
  int reason = sk == nullptr ? ERR_R_MALLOC_FAILURE : 0;
  if (mode == PKCS8_NS_DB) {
    ASN1_TYPE_set(p8->pkeyalg->parameter, ASN1_UT_SEQUENCE, params);
    params = nullptr;
    ASN1_INTEGER* y = reason == 0 ? BN_to_ASN1_INTEGER(dsa->pub_key, nullptr) : nullptr;
    if (reason == 0 && y == nullptr) reason = EVP_R_ENCODE_ERROR;
    if (reason == 0 && !push_type(sk, ASN1_UT_INTEGER, y)) {
      ASN1_INTEGER_free(y);
      reason = ERR_R_MALLOC_FAILURE;
    }
  } else {
    ASN1_TYPE_set(p8->pkeyalg->parameter, ASN1_UT_NULL, nullptr);
    if (reason == 0 && push_type(sk, ASN1_UT_SEQUENCE, params)) params = nullptr;
    if (params != nullptr) reason = ERR_R_MALLOC_FAILURE;
  }
  if (reason == 0 && push_type(sk, ASN1_UT_INTEGER, x)) x = nullptr;
  if (reason == 0 && x != nullptr) reason = ERR_R_MALLOC_FAILURE;
  if (reason == 0) {
    ASN1_OCTET_STRING* out = ASN1_OCTET_STRING_new();
    unsigned char* packed = nullptr;
    int packed_len = 0;
    if (out == nullptr || ASN1_seq_pack(sk, i2d_any, &packed, &packed_len) == nullptr) {
      ASN1_OCTET_STRING_free(out);
      reason = ERR_R_MALLOC_FAILURE;
    } else {
      ASN1_STRING_set0(out, packed, packed_len);
      ASN1_STRING_free(p8->pkey->value.octet_string);
      p8->pkey->value.octet_string = out;
    }
  }
  free_secret_types(sk);
  free_secret_integer(x);
  ASN1_STRING_free(params);
  if (reason == 0) return 1;
  EVPerr(kFunc, reason);
  return 0;
}

// Fills p8 for an EC key; mode 0 only.
int eckey_pkey2pkcs8(PKCS8_PRIV_KEY_INFO* p8, EVP_PKEY* pkey) {
  constexpr int kFunc = EVP_F_ECKEY_PKEY2PKCS8;
  EC_KEY* key = pkey->pkey.ec;
  const EC_GROUP* group = key != nullptr ? EC_KEY_get0_group(key) : nullptr;
  if (group == nullptr) {
    EVPerr(kFunc, EVP_R_MISSING_PARAMETERS);
    return 0;
  }
  ASN1_OBJECT_free(p8->pkeyalg->algorithm);
  p8->pkeyalg->algorithm = OBJ_nid2obj(kNidEc);
  ASN1_TYPE_free(p8->pkeyalg->parameter);
  p8->pkeyalg->parameter = ASN1_TYPE_new();
  if (p8->pkeyalg->parameter == nullptr) {
    EVPerr(kFunc, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const int curve = EC_GROUP_get_curve_name(group);
  if (EC_GROUP_get_asn1_flag(group) && curve != 0) {
    ASN1_TYPE_set(p8->pkeyalg->parameter, ASN1_UT_OBJECT, OBJ_nid2obj(curve));
  } else {
    unsigned char* der = nullptr;
    const int n = i2d_ECParameters(key, &der);
    if (n <= 0) {
      EVPerr(kFunc, ERR_R_EC_LIB);
      return 0;
    }
    ASN1_STRING* s = ASN1_STRING_new();
    if (s == nullptr || !ASN1_STRING_set(s, der, n)) {
      MORVANE_free(der);
      ASN1_STRING_free(s);
      EVPerr(kFunc, ERR_R_ASN1_LIB);
      return 0;
    }
    MORVANE_free(der);
    ASN1_TYPE_set(p8->pkeyalg->parameter, ASN1_UT_SEQUENCE, s);
  }
  // The private key without its parameters (they are in the identifier).
  const unsigned int flags = EC_KEY_get_enc_flags(key);
  EC_KEY_set_enc_flags(key, flags | kEcNoParameters);
  unsigned char* der = nullptr;
  const int n = i2d_ECPrivateKey(key, &der);
  EC_KEY_set_enc_flags(key, flags);
  if (n <= 0) {
    EVPerr(kFunc, ERR_R_EC_LIB);
    return 0;
  }
  int reason = 0;
  if (p8->broken != PKCS8_OK) {
    reason = EVP_R_ENCODE_ERROR;
  } else {
    ASN1_OCTET_STRING* out = ASN1_OCTET_STRING_new();
    if (out == nullptr || !ASN1_STRING_set(out, der, n)) {
      ASN1_OCTET_STRING_free(out);
      reason = ERR_R_MALLOC_FAILURE;
    } else {
      ASN1_STRING_free(p8->pkey->value.octet_string);
      p8->pkey->value.octet_string = out;
    }
  }
  morvane::internal::wipe(der, static_cast<size_t>(n));
  MORVANE_free(der);
  if (reason == 0) return 1;
  EVPerr(kFunc, reason);
  return 0;
}

}  // namespace

/* see morvane/x509.h */
EVP_PKEY* EVP_PKCS82PKEY(PKCS8_PRIV_KEY_INFO* p8) {
  constexpr int kFunc = EVP_F_EVP_PKCS82PKEY;
  if (p8 == nullptr || p8->pkeyalg == nullptr) {
    EVPerr(kFunc, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  // The key's bytes: an OCTET STRING's content (standard), or the encoding
  // itself under another string type (no octet string).
  if (!holds_string(p8->pkey)) {
    EVPerr(kFunc, EVP_R_DECODE_ERROR);
    return nullptr;
  }
  p8->broken = p8->pkey->type == ASN1_UT_OCTET_STRING ? PKCS8_OK : PKCS8_NO_OCTET;
  const unsigned char* p = p8->pkey->value.asn1_string->data;
  const int len = p8->pkey->value.asn1_string->length;
  EVP_PKEY* pkey = EVP_PKEY_new();
  if (pkey == nullptr) {
    EVPerr(kFunc, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ASN1_OBJECT* alg = p8->pkeyalg->algorithm;
  bool ok = false;
  switch (OBJ_obj2nid(alg)) {
    case kNidRsa: {
      const unsigned char* q = p;
      RSA* rsa = d2i_RSAPrivateKey(nullptr, &q, len);
      if (rsa == nullptr)
        EVPerr(kFunc, EVP_R_DECODE_ERROR);
      else
        ok = EVP_PKEY_assign_RSA(pkey, rsa);
      break;
    }
    case kNidDsa:
      if (DSA* dsa = dsa_from_pkcs8(p8, p, len)) ok = EVP_PKEY_assign_DSA(pkey, dsa);
      break;
    case kNidEc:
      if (EC_KEY* ec = ec_from_pkcs8(p8, p, len)) ok = EVP_PKEY_assign_EC_KEY(pkey, ec);
      break;
    default:
      EVPerr(kFunc, EVP_R_UNSUPPORTED_PRIVATE_KEY_ALGORITHM);
      morvane::evp::add_type_data(alg);
      break;
  }
  if (ok) return pkey;
  EVP_PKEY_free(pkey);
  return nullptr;
}

/* see morvane/x509.h */
PKCS8_PRIV_KEY_INFO* EVP_PKEY2PKCS8(EVP_PKEY* pkey) {
  return EVP_PKEY2PKCS8_broken(pkey, PKCS8_OK);
}

/* see morvane/x509.h */
PKCS8_PRIV_KEY_INFO* EVP_PKEY2PKCS8_broken(EVP_PKEY* pkey, int broken) {
  constexpr int kFunc = EVP_F_EVP_PKEY2PKCS8_BROKEN;
  if (pkey == nullptr) {
    EVPerr(kFunc, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  PKCS8_PRIV_KEY_INFO* p8 = PKCS8_PRIV_KEY_INFO_new();
  if (p8 == nullptr || !ASN1_INTEGER_set(p8->version, 0) ||
      (p8->pkeyalg->parameter = ASN1_TYPE_new()) == nullptr) {
    EVPerr(kFunc, ERR_R_MALLOC_FAILURE);
    PKCS8_PRIV_KEY_INFO_free(p8);
    return nullptr;
  }
  p8->broken = broken;
  p8->pkey->type = ASN1_UT_OCTET_STRING;
  bool ok = false;
  switch (EVP_PKEY_type(pkey->type)) {
    case EVP_PKEY_RSA:
      if (broken == PKCS8_NO_OCTET) p8->pkey->type = ASN1_UT_SEQUENCE;
      ASN1_OBJECT_free(p8->pkeyalg->algorithm);
      p8->pkeyalg->algorithm = OBJ_nid2obj(kNidRsa);
      ASN1_TYPE_set(p8->pkeyalg->parameter, ASN1_UT_NULL, nullptr);
      ok = pkey->pkey.rsa != nullptr &&
           ASN1_pack_string(pkey->pkey.rsa, i2d_rsa_private, &p8->pkey->value.octet_string) !=
               nullptr;
      if (!ok) EVPerr(kFunc, ERR_R_MALLOC_FAILURE);
      break;
    case EVP_PKEY_DSA:
      ok = dsa_pkey2pkcs8(p8, pkey);
      break;
    case EVP_PKEY_EC:
      ok = eckey_pkey2pkcs8(p8, pkey);
      break;
    default:
      EVPerr(kFunc, EVP_R_UNSUPPORTED_PRIVATE_KEY_ALGORITHM);
      break;
  }
  if (!ok) {
    PKCS8_PRIV_KEY_INFO_free(p8);
    return nullptr;
  }
  // The encoded key is mixed into the generator without an entropy claim.
  const ASN1_STRING* der = p8->pkey->value.asn1_string;
  RAND_add(der->data, der->length, 0.0);
  return p8;
}

/* see morvane/x509.h */
PKCS8_PRIV_KEY_INFO* PKCS8_set_broken(PKCS8_PRIV_KEY_INFO* p8, int broken) {
  if (p8 == nullptr) {
    EVPerr(EVP_F_PKCS8_SET_BROKEN, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  switch (broken) {
    case PKCS8_OK:
      p8->broken = PKCS8_OK;
      return p8;
    case PKCS8_NO_OCTET:
      // Retagging is only sound for a field that holds an encoding.
      if (!holds_string(p8->pkey)) {
        EVPerr(EVP_F_PKCS8_SET_BROKEN, EVP_R_DECODE_ERROR);
        return nullptr;
      }
      p8->broken = PKCS8_NO_OCTET;
      p8->pkey->type = ASN1_UT_SEQUENCE;
      return p8;
    default:
      EVPerr(EVP_F_PKCS8_SET_BROKEN, EVP_R_PKCS8_UNKNOWN_BROKEN_TYPE);
      return nullptr;
  }
}

// ---- attributes -------------------------------------------------------------

/* see morvane/x509.h */
int EVP_PKEY_get_attr_count(const EVP_PKEY* key) {
  return key != nullptr ? X509at_get_attr_count(key->attributes) : -1;
}

/* see morvane/x509.h */
int EVP_PKEY_get_attr_by_NID(const EVP_PKEY* key, int nid, int lastpos) {
  return key != nullptr ? X509at_get_attr_by_NID(key->attributes, nid, lastpos) : -1;
}

/* see morvane/x509.h */
int EVP_PKEY_get_attr_by_OBJ(const EVP_PKEY* key, ASN1_OBJECT* obj, int lastpos) {
  return key != nullptr ? X509at_get_attr_by_OBJ(key->attributes, obj, lastpos) : -1;
}

/* see morvane/x509.h */
X509_ATTRIBUTE* EVP_PKEY_get_attr(const EVP_PKEY* key, int loc) {
  return key != nullptr ? X509at_get_attr(key->attributes, loc) : nullptr;
}

/* see morvane/x509.h */
X509_ATTRIBUTE* EVP_PKEY_delete_attr(EVP_PKEY* key, int loc) {
  return key != nullptr ? X509at_delete_attr(key->attributes, loc) : nullptr;
}

/* see morvane/x509.h */
int EVP_PKEY_add1_attr(EVP_PKEY* key, X509_ATTRIBUTE* attr) {
  return key != nullptr && X509at_add1_attr(&key->attributes, attr) != nullptr ? 1 : 0;
}

/* see morvane/x509.h */
int EVP_PKEY_add1_attr_by_OBJ(EVP_PKEY* key, const ASN1_OBJECT* obj, int type,
                              const unsigned char* bytes, int len) {
  return key != nullptr &&
                 X509at_add1_attr_by_OBJ(&key->attributes, obj, type, bytes, len) != nullptr
             ? 1
             : 0;
}

/* see morvane/x509.h */
int EVP_PKEY_add1_attr_by_NID(EVP_PKEY* key, int nid, int type, const unsigned char* bytes,
                              int len) {
  return key != nullptr &&
                 X509at_add1_attr_by_NID(&key->attributes, nid, type, bytes, len) != nullptr
             ? 1
             : 0;
}

/* see morvane/x509.h */
int EVP_PKEY_add1_attr_by_txt(EVP_PKEY* key, const char* attrname, int type,
                              const unsigned char* bytes, int len) {
  return key != nullptr &&
                 X509at_add1_attr_by_txt(&key->attributes, attrname, type, bytes, len) != nullptr
             ? 1
             : 0;
}
