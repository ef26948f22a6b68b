// The DER codecs of whole keys in a container, dispatching on its type to the
// algorithm's own encoding: RSAPrivateKey and RSAPublicKey (RFC 8017, A.1),
// DSA's six-INTEGER private key and public INTEGER (RFC 3279, 2.3.2),
// ECPrivateKey (RFC 5915, 3) and the EC point as octets (SEC 1, 2.3.3).
//
// Implementation notes: a decoder that fails leaves a container passed in
// holding what it held; on success the key it held is replaced (freed),
// except where the decoder fills the key in place (DSA and EC public keys,
// whose parameters are already there).

#include <morvane/asn1.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "asn1/internal.h"
#include "internal/err_mark.h"

namespace {

enum class Part { kPrivate, kPublic };

// The new algorithm key decoded from `in`, or null.
void* decode(Part part, int type, EVP_PKEY* into, const unsigned char** in, long len) {
  const bool priv = part == Part::kPrivate;
  switch (type) {
    case EVP_PKEY_RSA:
      return priv ? static_cast<void*>(d2i_RSAPrivateKey(nullptr, in, len))
                  : static_cast<void*>(d2i_RSAPublicKey(nullptr, in, len));
    case EVP_PKEY_DSA:
      if (priv) return d2i_DSAPrivateKey(nullptr, in, len);
      // Into the container's key when it has one, keeping its parameters.
      if (into->type == EVP_PKEY_DSA && into->pkey.dsa != nullptr)
        return d2i_DSAPublicKey(&into->pkey.dsa, in, len);
      return d2i_DSAPublicKey(nullptr, in, len);
    case EVP_PKEY_EC: {
      if (priv) return d2i_ECPrivateKey(nullptr, in, len);
      // The point goes into the container's key, which carries the group.
      EC_KEY* none = nullptr;
      return o2i_ECPublicKey(into->type == EVP_PKEY_EC ? &into->pkey.ec : &none, in, len);
    }
    default:
      return nullptr;
  }
}

EVP_PKEY* d2i_key(Part part, int type, EVP_PKEY** a, const unsigned char** in, long len) {
  const int func = part == Part::kPrivate ? ASN1_F_D2I_PRIVATEKEY : ASN1_F_D2I_PUBLICKEY;
  EVP_PKEY* ret = (a != nullptr && *a != nullptr) ? *a : EVP_PKEY_new();
  if (ret == nullptr) {
    ERR_put_error(ERR_LIB_ASN1, func, ERR_R_EVP_LIB, __FILE__, __LINE__);
    return nullptr;
  }
  const int folded = EVP_PKEY_type(type);
  if (folded != EVP_PKEY_RSA && folded != EVP_PKEY_DSA && folded != EVP_PKEY_EC) {
    ERR_put_error(ERR_LIB_ASN1, func, ASN1_R_UNKNOWN_PUBLIC_KEY_TYPE, __FILE__, __LINE__);
  } else if (void* key = decode(part, folded, ret, in, len); key == nullptr) {
    ERR_put_error(ERR_LIB_ASN1, func, ERR_R_ASN1_LIB, __FILE__, __LINE__);
  } else {
    if (key != ret->pkey.ptr) EVP_PKEY_assign(ret, type, key);  // frees the old key
    ret->save_type = type;
    ret->type = folded;
    if (a != nullptr) *a = ret;
    return ret;
  }
  if (a == nullptr || *a != ret) EVP_PKEY_free(ret);
  return nullptr;
}

int i2d_key(Part part, EVP_PKEY* a, unsigned char** out) {
  const bool priv = part == Part::kPrivate;
  const int func = priv ? ASN1_F_I2D_PRIVATEKEY : ASN1_F_I2D_PUBLICKEY;
  if (a != nullptr && a->pkey.ptr != nullptr) {
    switch (a->type) {
      case EVP_PKEY_RSA:
        return priv ? i2d_RSAPrivateKey(a->pkey.rsa, out) : i2d_RSAPublicKey(a->pkey.rsa, out);
      case EVP_PKEY_DSA:
        return priv ? i2d_DSAPrivateKey(a->pkey.dsa, out) : i2d_DSAPublicKey(a->pkey.dsa, out);
      case EVP_PKEY_EC:
        return priv ? i2d_ECPrivateKey(a->pkey.ec, out) : i2o_ECPublicKey(a->pkey.ec, out);
      default:
        break;
    }
  }
  ERR_put_error(ERR_LIB_ASN1, func, ASN1_R_UNSUPPORTED_PUBLIC_KEY_TYPE, __FILE__, __LINE__);
  return -1;
}

void type_free(void* t) {
  ASN1_TYPE_free(static_cast<ASN1_TYPE*>(t));
}
void* type_d2i(void** a, const unsigned char** in, long len) {
  return d2i_ASN1_TYPE(reinterpret_cast<ASN1_TYPE**>(a), in, len);
}

}  // namespace

/* see morvane/x509.h */
EVP_PKEY* d2i_PrivateKey(int type, EVP_PKEY** a, const unsigned char** in, long len) {
  return d2i_key(Part::kPrivate, type, a, in, len);
}

/* see morvane/x509.h */
EVP_PKEY* d2i_PublicKey(int type, EVP_PKEY** a, const unsigned char** in, long len) {
  return d2i_key(Part::kPublic, type, a, in, len);
}

/* see morvane/x509.h */
EVP_PKEY* d2i_AutoPrivateKey(EVP_PKEY** a, const unsigned char** in, long len) {
  if (morvane::asn1::null_input(in, len, ASN1_F_D2I_PRIVATEKEY)) return nullptr;
  // The type by the element count of the outer SEQUENCE: DSA's private key
  // has six INTEGERs, ECPrivateKey with both optional fields four elements;
  // anything else is taken for RSA.  The look is a probe: its errors go.
  const unsigned char* p = *in;
  morvane::internal::ErrorMark mark;
  STACK* elements =
      d2i_ASN1_SET(nullptr, &p, len, type_d2i, type_free, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
  mark.pop();
  const int count = elements != nullptr ? sk_num(elements) : 0;
  sk_pop_free(elements, type_free);
  const int type = count == 6 ? EVP_PKEY_DSA : count == 4 ? EVP_PKEY_EC : EVP_PKEY_RSA;
  return d2i_PrivateKey(type, a, in, len);
}

/* see morvane/x509.h */
int i2d_PrivateKey(EVP_PKEY* a, unsigned char** out) {
  return i2d_key(Part::kPrivate, a, out);
}

/* see morvane/x509.h */
int i2d_PublicKey(EVP_PKEY* a, unsigned char** out) {
  return i2d_key(Part::kPublic, a, out);
}
