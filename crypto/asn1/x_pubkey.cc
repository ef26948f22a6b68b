// SubjectPublicKeyInfo (RFC 5280, 4.1.2.7) as X509_PUBKEY: built from a key
// container (X509_PUBKEY_set), decoded into one and cached (X509_PUBKEY_get),
// and the SubjectPublicKeyInfo codecs of containers and algorithm keys.
//
// Implementation notes: the cached key is published once.  X509_PUBKEY_get
// reads the cache with an acquire load; on a miss it decodes a key outside
// any lock and then, under lock 10, stores it only if the cache is still
// empty; a thread that lost the race frees its own key and takes the one
// published.  So threads that verify one shared certificate at once neither
// leak a key nor free one twice, and a cache hit costs no lock.  The copy
// the verifier checks with (pubkey_copy) is published the same way, by a
// compare-and-swap, and never changed: it keeps the structure decoded from
// the octets it was made from, compared field by field with the structure
// at each use (equal fields encode to equal octets).  The
// parameters follow RFC 3279 (2.3.1 RSA: NULL; 2.3.2 DSA: Dss-Parms or
// absent) and RFC 5480 (2.1.1: a named curve or explicit parameters).

#include <stddef.h>
#include <string.h>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/sha.h>
#include <morvane/x509.h>

#include "asn1/internal.h"
#include "internal/lock.h"

static_assert(offsetof(X509_PUBKEY, public_key) == 8 && offsetof(X509_PUBKEY, pkey) == 16 &&
              offsetof(X509_PUBKEY, copy) == 24 && sizeof(X509_PUBKEY) == 32);

// A key decoded from a SubjectPublicKeyInfo, the structure decoded from
// its octets and their SHA-256 digest.
struct x509_pubkey_copy_st {
  X509_PUBKEY* spki;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  EVP_PKEY* pkey;
};

namespace {

using KeyCopy = x509_pubkey_copy_st;

void free_copy(KeyCopy* c) {
  if (c == nullptr) return;
  EVP_PKEY_free(c->pkey);
  X509_PUBKEY_free(c->spki);
  MORVANE_free(c);
}

// A copy of what `key` encodes to now and the key it decodes to, or null.
KeyCopy* new_copy(X509_PUBKEY* key) {
  unsigned char* der = nullptr;
  const int len = i2d_X509_PUBKEY(key, &der);
  auto* c = static_cast<KeyCopy*>(MORVANE_malloc(sizeof(KeyCopy)));
  if (c == nullptr) X509err(X509_F_X509_PUBKEY_GET, ERR_R_MALLOC_FAILURE);
  if (c == nullptr || len <= 0 || der == nullptr) {
    MORVANE_free(der);
    MORVANE_free(c);
    return nullptr;
  }
  SHA256(der, static_cast<size_t>(len), c->digest);
  const unsigned char* p = der;
  c->spki = d2i_X509_PUBKEY(nullptr, &p, len);
  c->pkey = c->spki != nullptr ? X509_PUBKEY_get(c->spki) : nullptr;
  MORVANE_free(der);
  if (c->pkey != nullptr) return c;
  free_copy(c);
  return nullptr;
}

// Whether two strings encode alike: the same type, flags (a BIT STRING's
// unused bits) and octets.
bool same_string(const ASN1_STRING* a, const ASN1_STRING* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->type == b->type && a->flags == b->flags && a->length == b->length &&
         (a->length <= 0 || memcmp(a->data, b->data, static_cast<size_t>(a->length)) == 0);
}

bool same_object(const ASN1_OBJECT* a, const ASN1_OBJECT* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->length == b->length && a->length > 0 && a->data != nullptr && b->data != nullptr &&
         memcmp(a->data, b->data, static_cast<size_t>(a->length)) == 0;
}

// Whether two parameters encode alike; false for kinds not compared here.
bool same_parameter(const ASN1_TYPE* a, const ASN1_TYPE* b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (a->type != b->type) return false;
  switch (a->type) {
    case ASN1_UT_NULL:
      return true;
    case ASN1_UT_OBJECT:
      return same_object(a->value.object, b->value.object);
    case ASN1_UT_SEQUENCE:
    case ASN1_UT_OCTET_STRING:
    case ASN1_UT_INTEGER:
      return same_string(a->value.asn1_string, b->value.asn1_string);
    default:
      return false;
  }
}

// Whether `key` reads as the structure its copy was decoded from, field by
// field, so that it encodes to the same octets; false when unsure.
bool same_spki(const X509_PUBKEY* key, const X509_PUBKEY* copy) {
  const X509_ALGOR* a = key->algor;
  const X509_ALGOR* b = copy->algor;
  if (a == nullptr || b == nullptr || !same_object(a->algorithm, b->algorithm) ||
      !same_parameter(a->parameter, b->parameter))
    return false;
  return key->public_key != nullptr && same_string(key->public_key, copy->public_key);
}

// Drops the structure's reference to its cached key and its copy after the
// fields, and before a decode into the structure (they belong to the old
// contents).
int pubkey_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  if (operation == ASN1_CBOP_FREE_POST || operation == ASN1_CBOP_D2I_PRE) {
    auto* pubkey = reinterpret_cast<X509_PUBKEY*>(*pval);
    EVP_PKEY_free(pubkey->pkey);
    pubkey->pkey = nullptr;
    free_copy(pubkey->copy);
    pubkey->copy = nullptr;
  }
  return 1;
}

}  // namespace

ASN1_SEQUENCE_cb(X509_PUBKEY, pubkey_cb) = {
    ASN1_SIMPLE(X509_PUBKEY, algor, X509_ALGOR),
    ASN1_SIMPLE(X509_PUBKEY, public_key, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END_cb(X509_PUBKEY, X509_PUBKEY);

namespace {

// A SEQUENCE parameter taking over `len` octets of DER at `der`; null (der
// freed) when the records cannot be made.
ASN1_TYPE* sequence_parameter(unsigned char* der, int len) {
  ASN1_TYPE* param = ASN1_TYPE_new();
  ASN1_STRING* seq = param != nullptr ? ASN1_STRING_type_new(ASN1_UT_SEQUENCE) : nullptr;
  if (seq == nullptr) {
    ASN1_TYPE_free(param);
    MORVANE_free(der);
    return nullptr;
  }
  ASN1_STRING_set0(seq, der, len);
  ASN1_TYPE_set(param, ASN1_UT_SEQUENCE, seq);
  return param;
}

// Dss-Parms (RFC 3279, 2.3.2), which go with the bare INTEGER public key
// (bare_dsa_key).
ASN1_TYPE* dsa_parameter(DSA* dsa) {
  const int len = i2d_DSAparams(dsa, nullptr);
  if (len <= 0) return nullptr;
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
  unsigned char* p = der;
  ASN1_TYPE* param = nullptr;
  if (der != nullptr && i2d_DSAparams(dsa, &p) == len)
    param = sequence_parameter(der, len);
  else
    MORVANE_free(der);
  if (param == nullptr) X509err(X509_F_X509_PUBKEY_SET, ERR_R_MALLOC_FAILURE);
  return param;
}

// ECParameters (RFC 5480, 2.1.1): the curve's object for a group flagged as
// a named curve, else the explicit parameters.
ASN1_TYPE* ec_parameter(EC_KEY* ec) {
  ASN1_TYPE* param = ASN1_TYPE_new();
  if (param == nullptr) {
    X509err(X509_F_X509_PUBKEY_SET, ERR_R_ASN1_LIB);
    return nullptr;
  }
  const EC_GROUP* group = EC_KEY_get0_group(ec);
  const int nid =
      group != nullptr && EC_GROUP_get_asn1_flag(group) != 0 ? EC_GROUP_get_curve_name(group) : 0;
  if (nid != 0) {
    ASN1_TYPE_set(param, ASN1_UT_OBJECT, OBJ_nid2obj(nid));
    return param;
  }
  ASN1_TYPE_free(param);
  const int len = i2d_ECParameters(ec, nullptr);
  if (len <= 0) {
    X509err(X509_F_X509_PUBKEY_SET, ERR_R_EC_LIB);
    return nullptr;
  }
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
  if (der == nullptr) {
    X509err(X509_F_X509_PUBKEY_SET, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* p = der;
  if (i2d_ECParameters(ec, &p) != len) {
    MORVANE_free(der);
    X509err(X509_F_X509_PUBKEY_SET, ERR_R_EC_LIB);
    return nullptr;
  }
  param = sequence_parameter(der, len);
  if (param == nullptr) X509err(X509_F_X509_PUBKEY_SET, ERR_R_ASN1_LIB);
  return param;
}

// The algorithm parameter of `pkey`'s public key, or null with the error
// queued (or none, where the key's encoder had nothing to say).
ASN1_TYPE* key_parameter(EVP_PKEY* pkey) {
  if (!pkey->save_parameters || pkey->type == EVP_PKEY_RSA) {
    ASN1_TYPE* param = ASN1_TYPE_new();
    if (param == nullptr) {
      X509err(X509_F_X509_PUBKEY_SET, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    ASN1_TYPE_set(param, ASN1_UT_NULL, nullptr);
    return param;
  }
  if (pkey->type == EVP_PKEY_DSA && pkey->pkey.dsa != nullptr) return dsa_parameter(pkey->pkey.dsa);
  if (pkey->type == EVP_PKEY_EC && pkey->pkey.ec != nullptr) return ec_parameter(pkey->pkey.ec);
  X509err(X509_F_X509_PUBKEY_SET, X509_R_UNSUPPORTED_ALGORITHM);
  return nullptr;
}

// The DSA public value alone, as an INTEGER: what goes with Dss-Parms in
// the algorithm, whatever the key's own write_params (encoding a key leaves
// it as it was).
int bare_dsa_key(EVP_PKEY* pkey, unsigned char** out) {
  ASN1_INTEGER* y = BN_to_ASN1_INTEGER(pkey->pkey.dsa->pub_key, nullptr);
  const int len = y != nullptr ? i2d_ASN1_INTEGER(y, out) : -1;
  ASN1_INTEGER_free(y);
  return len;
}

// The algorithm's public-key encoding as the BIT STRING's octets, with no
// unused bits.
bool set_public_key(ASN1_BIT_STRING* bits, EVP_PKEY* pkey) {
  const bool bare = pkey->type == EVP_PKEY_DSA && pkey->save_parameters &&
                    pkey->pkey.dsa != nullptr && pkey->pkey.dsa->pub_key != nullptr;
  auto write = [&](unsigned char** out) {
    return bare ? bare_dsa_key(pkey, out) : i2d_PublicKey(pkey, out);
  };
  const int len = write(nullptr);
  if (len <= 0) return false;
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
  unsigned char* p = der;
  if (der == nullptr || write(&p) != len) {
    MORVANE_free(der);
    X509err(X509_F_X509_PUBKEY_SET, ERR_R_MALLOC_FAILURE);
    return false;
  }
  ASN1_STRING_set0(bits, der, len);
  bits->flags &= ~(ASN1_STRING_BITS_LEFT | 0x07);
  bits->flags |= ASN1_STRING_BITS_LEFT;
  return true;
}

// Decodes the key of `key` into a new container (one reference), or null.
EVP_PKEY* decode_key(const X509_PUBKEY* key) {
  const int nid = OBJ_obj2nid(key->algor->algorithm);
  EVP_PKEY* ret = EVP_PKEY_new();
  if (ret == nullptr) {
    X509err(X509_F_X509_PUBKEY_GET, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->type = EVP_PKEY_type(nid);
  const ASN1_TYPE* param = key->algor->parameter;
  const int ptype = param != nullptr ? param->type : ASN1_UT_UNDEF;
  const unsigned char* p;
  EVP_PKEY* into = ret;
  if (ret->type == EVP_PKEY_DSA) {
    // The public key is the bare INTEGER (RFC 3279, 2.3.2) also when the
    // parameters are absent, inherited from the issuer: such a key decodes
    // with its parameters missing.
    ret->pkey.dsa = DSA_new();
    if (ret->pkey.dsa == nullptr) {
      X509err(X509_F_X509_PUBKEY_GET, ERR_R_MALLOC_FAILURE);
      goto err;
    }
    ret->pkey.dsa->write_params = 0;
    if (ptype == ASN1_UT_SEQUENCE) {
      p = param->value.sequence->data;
      if (d2i_DSAparams(&ret->pkey.dsa, &p, param->value.sequence->length) == nullptr) goto err;
    }
    ret->save_parameters = 1;
  } else if (ret->type == EVP_PKEY_EC) {
    if (ptype == ASN1_UT_SEQUENCE) {
      ret->pkey.ec = EC_KEY_new();
      if (ret->pkey.ec == nullptr) {
        X509err(X509_F_X509_PUBKEY_GET, ERR_R_MALLOC_FAILURE);
        goto err;
      }
      p = param->value.sequence->data;
      if (d2i_ECParameters(&ret->pkey.ec, &p, param->value.sequence->length) == nullptr) {
        X509err(X509_F_X509_PUBKEY_GET, ERR_R_EC_LIB);
        goto err;
      }
    } else if (ptype == ASN1_UT_OBJECT) {
      if (ret->pkey.ec == nullptr && (ret->pkey.ec = EC_KEY_new()) == nullptr) {
        X509err(X509_F_X509_PUBKEY_GET, ERR_R_MALLOC_FAILURE);
        goto err;
      }
      const int curve = OBJ_obj2nid(param->value.object);
      EC_GROUP* group = EC_GROUP_new_by_curve_name(curve);
      const bool known = group != nullptr;
      if (known) EC_GROUP_set_asn1_flag(group, 1);
      const int ok = known && EC_KEY_set_group(ret->pkey.ec, group);
      EC_GROUP_free(group);
      if (!ok) {
        // A curve whose object this library does not know: the group
        // lookup says nothing of it.
        if (!known && curve == 0)
          ERR_put_error(ERR_LIB_EC, EC_F_EC_GROUP_NEW_BY_CURVE_NAME, EC_R_UNKNOWN_GROUP, __FILE__,
                        __LINE__);
        X509err(X509_F_X509_PUBKEY_GET, ERR_R_EC_LIB);
        goto err;
      }
    }
    ret->save_parameters = 1;
  }
  p = key->public_key->data;
  if (d2i_PublicKey(nid, &into, &p, key->public_key->length) == nullptr) {
    X509err(X509_F_X509_PUBKEY_GET, X509_R_ERR_ASN1_LIB);
    goto err;
  }
  return ret;
err:
  EVP_PKEY_free(ret);
  return nullptr;
}

// The algorithm key of a container decoded from SubjectPublicKeyInfo, with
// the caller's input advanced only on success.
template <class Key, Key* (*Get1)(EVP_PKEY*), void (*Free)(Key*)>
Key* d2i_key_pubkey(Key** a, const unsigned char** in, long len) {
  // As d2i_PUBKEY below would refuse it.
  if (morvane::asn1::null_input(in, len, ASN1_F_ASN1_ITEM_EX_D2I)) return nullptr;
  const unsigned char* q = *in;
  EVP_PKEY* pkey = d2i_PUBKEY(nullptr, &q, len);
  if (pkey == nullptr) return nullptr;
  Key* key = Get1(pkey);
  EVP_PKEY_free(pkey);
  if (key == nullptr) return nullptr;
  *in = q;
  if (a != nullptr) {
    Free(*a);
    *a = key;
  }
  return key;
}

// SubjectPublicKeyInfo of an algorithm key, through a temporary container.
template <class Key, int (*Set1)(EVP_PKEY*, Key*)>
int i2d_key_pubkey(Key* a, unsigned char** out, int func) {
  if (a == nullptr) return 0;
  EVP_PKEY* pkey = EVP_PKEY_new();
  if (pkey == nullptr) {
    ERR_put_error(ERR_LIB_ASN1, func, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return 0;
  }
  Set1(pkey, a);
  const int ret = i2d_PUBKEY(pkey, out);
  EVP_PKEY_free(pkey);
  return ret;
}

}  // namespace

/* see morvane/x509.h */
int X509_PUBKEY_set(X509_PUBKEY** x, EVP_PKEY* pkey) {
  if (x == nullptr || pkey == nullptr) return 0;
  X509_PUBKEY* pk = X509_PUBKEY_new();
  if (pk == nullptr) return 0;
  ASN1_OBJECT* obj = OBJ_nid2obj(pkey->type);
  ASN1_TYPE* param = obj != nullptr ? key_parameter(pkey) : nullptr;
  if (param == nullptr) goto err;
  ASN1_OBJECT_free(pk->algor->algorithm);
  pk->algor->algorithm = obj;
  ASN1_TYPE_free(pk->algor->parameter);
  pk->algor->parameter = param;
  if (!set_public_key(pk->public_key, pkey)) goto err;
  X509_PUBKEY_free(*x);
  *x = pk;
  return 1;
err:
  X509_PUBKEY_free(pk);
  return 0;
}

/* see morvane/x509.h */
EVP_PKEY* X509_PUBKEY_get(X509_PUBKEY* key) {
  if (key == nullptr || key->public_key == nullptr) return nullptr;
  std::atomic_ref<EVP_PKEY*> cache(key->pkey);
  EVP_PKEY* ret = cache.load(std::memory_order_acquire);
  if (ret == nullptr) {
    EVP_PKEY* fresh = decode_key(key);
    if (fresh == nullptr) return nullptr;
    {
      MORVANE_WRITE_LOCKED(CRYPTO_LOCK_EVP_PKEY);
      ret = cache.load(std::memory_order_relaxed);
      if (ret == nullptr) {
        cache.store(fresh, std::memory_order_release);
        ret = fresh;
        fresh = nullptr;
      }
    }
    EVP_PKEY_free(fresh);  // another thread published its key first
  }
  CRYPTO_add(&ret->references, 1, CRYPTO_LOCK_EVP_PKEY);
  return ret;
}

namespace morvane::asn1 {

EVP_PKEY* pubkey_copy(X509_PUBKEY* key, unsigned char* digest) {
  std::atomic_ref<KeyCopy*> slot(key->copy);
  KeyCopy* c = slot.load(std::memory_order_acquire);
  if (c == nullptr) {
    KeyCopy* fresh = new_copy(key);
    if (fresh == nullptr) return nullptr;
    if (slot.compare_exchange_strong(c, fresh, std::memory_order_acq_rel,
                                     std::memory_order_acquire)) {
      c = fresh;
    } else {
      free_copy(fresh);  // another thread published its copy first
    }
  }
  if (!same_spki(key, c->spki)) return nullptr;
  memcpy(digest, c->digest, SHA256_DIGEST_LENGTH);
  CRYPTO_add(&c->pkey->references, 1, CRYPTO_LOCK_EVP_PKEY);
  return c->pkey;
}

}  // namespace morvane::asn1

/* see morvane/x509.h */
EVP_PKEY* d2i_PUBKEY(EVP_PKEY** a, const unsigned char** in, long len) {
  // The caller's input moves only when a key comes back.
  const unsigned char* q = in != nullptr ? *in : nullptr;
  X509_PUBKEY* xpk = d2i_X509_PUBKEY(nullptr, in != nullptr ? &q : nullptr, len);
  if (xpk == nullptr) return nullptr;
  EVP_PKEY* pkey = X509_PUBKEY_get(xpk);
  X509_PUBKEY_free(xpk);  // the caller keeps the only reference
  if (pkey == nullptr) return nullptr;
  *in = q;
  if (a != nullptr) {
    EVP_PKEY_free(*a);
    *a = pkey;
  }
  return pkey;
}

/* see morvane/x509.h */
int i2d_PUBKEY(EVP_PKEY* a, unsigned char** out) {
  if (a == nullptr) return 0;
  X509_PUBKEY* xpk = nullptr;
  if (!X509_PUBKEY_set(&xpk, a)) return 0;
  const int ret = i2d_X509_PUBKEY(xpk, out);
  X509_PUBKEY_free(xpk);
  return ret;
}

/* see morvane/x509.h */
RSA* d2i_RSA_PUBKEY(RSA** a, const unsigned char** in, long len) {
  return d2i_key_pubkey<RSA, EVP_PKEY_get1_RSA, RSA_free>(a, in, len);
}

/* see morvane/x509.h */
int i2d_RSA_PUBKEY(RSA* a, unsigned char** out) {
  return i2d_key_pubkey<RSA, EVP_PKEY_set1_RSA>(a, out, ASN1_F_I2D_RSA_PUBKEY);
}

/* see morvane/x509.h */
DSA* d2i_DSA_PUBKEY(DSA** a, const unsigned char** in, long len) {
  return d2i_key_pubkey<DSA, EVP_PKEY_get1_DSA, DSA_free>(a, in, len);
}

/* see morvane/x509.h */
int i2d_DSA_PUBKEY(DSA* a, unsigned char** out) {
  return i2d_key_pubkey<DSA, EVP_PKEY_set1_DSA>(a, out, ASN1_F_I2D_DSA_PUBKEY);
}

/* see morvane/x509.h */
EC_KEY* d2i_EC_PUBKEY(EC_KEY** a, const unsigned char** in, long len) {
  return d2i_key_pubkey<EC_KEY, EVP_PKEY_get1_EC_KEY, EC_KEY_free>(a, in, len);
}

/* see morvane/x509.h */
int i2d_EC_PUBKEY(EC_KEY* a, unsigned char** out) {
  return i2d_key_pubkey<EC_KEY, EVP_PKEY_set1_EC_KEY>(a, out, ASN1_F_I2D_EC_PUBKEY);
}
