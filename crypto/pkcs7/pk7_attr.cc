// The attributes of a PKCS#7 signer (RFC 2315, 9.2) and the S/MIME
// capabilities attribute (RFC 2633, 2.5.2).

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "pk7_local.h"

using namespace morvane::pkcs7;

namespace {

// Gives the value of a freshly made attribute back to the caller and frees
// the attribute.
void free_without_value(X509_ATTRIBUTE* attr) {
  auto* t = reinterpret_cast<ASN1_TYPE*>(sk_value(attr->value.set, 0));
  if (t != nullptr) {
    t->type = ASN1_UT_NULL;
    t->value.ptr = nullptr;
  }
  X509_ATTRIBUTE_free(attr);
}

// Adds attribute `nid` to *psk, replacing the first one of that NID in its
// position.  Every failure is one of memory.
int add_attribute(STACK** psk, int nid, int atrtype, void* value) {
  bool made = false;
  if (*psk == nullptr) {
    if ((*psk = sk_new_null()) == nullptr) {
      PKCS7err(PKCS7_F_ADD_ATTRIBUTE, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    made = true;
  }
  X509_ATTRIBUTE* attr = X509_ATTRIBUTE_create(nid, atrtype, value);
  if (attr == nullptr) {
    PKCS7err(PKCS7_F_ADD_ATTRIBUTE, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (!made) {
    for (int i = 0; i < sk_num(*psk); i++) {
      auto* old = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(*psk, i));
      if (OBJ_obj2nid(old->object) == nid) {
        sk_set(*psk, i, reinterpret_cast<char*>(attr));
        X509_ATTRIBUTE_free(old);
        return 1;
      }
    }
  }
  if (!sk_push(*psk, reinterpret_cast<char*>(attr))) {
    free_without_value(attr);
    PKCS7err(PKCS7_F_ADD_ATTRIBUTE, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

ASN1_TYPE* get_attribute(STACK* sk, int nid) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr || sk == nullptr) return nullptr;
  for (int i = 0; i < sk_num(sk); i++) {
    auto* attr = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(sk, i));
    if (OBJ_cmp(attr->object, obj) != 0) continue;
    if (attr->single != 0 || sk_num(attr->value.set) <= 0) return nullptr;
    return reinterpret_cast<ASN1_TYPE*>(sk_value(attr->value.set, 0));
  }
  return nullptr;
}

void attribute_free(void* a) { X509_ATTRIBUTE_free(reinterpret_cast<X509_ATTRIBUTE*>(a)); }

// Replaces *pdst by copies of the attributes of `src`.
int set_attributes(STACK** pdst, STACK* src) {
  sk_pop_free(*pdst, attribute_free);
  *pdst = nullptr;
  STACK* copy = sk_new_null();
  if (copy == nullptr) return 0;
  for (int i = 0; i < sk_num(src); i++) {
    X509_ATTRIBUTE* a =
        X509_ATTRIBUTE_dup(reinterpret_cast<X509_ATTRIBUTE*>(sk_value(src, i)));
    if (a == nullptr || !sk_push(copy, reinterpret_cast<char*>(a))) {
      X509_ATTRIBUTE_free(a);
      sk_pop_free(copy, attribute_free);
      return 0;
    }
  }
  *pdst = copy;
  return 1;
}

int i2d_algor(void* a, unsigned char** out) {
  return i2d_X509_ALGOR(reinterpret_cast<X509_ALGOR*>(a), out);
}
void* d2i_algor(void** a, const unsigned char** in, long len) {
  return d2i_X509_ALGOR(reinterpret_cast<X509_ALGOR**>(a), in, len);
}
void algor_free(void* a) { X509_ALGOR_free(reinterpret_cast<X509_ALGOR*>(a)); }

}  // namespace

/* see morvane/pkcs7.h */
int PKCS7_add_signed_attribute(PKCS7_SIGNER_INFO* si, int nid, int atrtype, void* value) {
  return add_attribute(&si->auth_attr, nid, atrtype, value);
}

/* see morvane/pkcs7.h */
int PKCS7_add_attribute(PKCS7_SIGNER_INFO* si, int nid, int atrtype, void* value) {
  return add_attribute(&si->unauth_attr, nid, atrtype, value);
}

/* see morvane/pkcs7.h */
ASN1_TYPE* PKCS7_get_signed_attribute(PKCS7_SIGNER_INFO* si, int nid) {
  return get_attribute(si->auth_attr, nid);
}

/* see morvane/pkcs7.h */
ASN1_TYPE* PKCS7_get_attribute(PKCS7_SIGNER_INFO* si, int nid) {
  return get_attribute(si->unauth_attr, nid);
}

/* see morvane/pkcs7.h */
ASN1_OCTET_STRING* PKCS7_digest_from_attributes(STACK* sk) {
  ASN1_TYPE* t = get_attribute(sk, kNidMessageDigest);
  if (t == nullptr || t->type != ASN1_UT_OCTET_STRING) return nullptr;
  return t->value.octet_string;
}

/* see morvane/pkcs7.h */
int PKCS7_set_signed_attributes(PKCS7_SIGNER_INFO* si, STACK* sk) {
  return set_attributes(&si->auth_attr, sk);
}

/* see morvane/pkcs7.h */
int PKCS7_set_attributes(PKCS7_SIGNER_INFO* si, STACK* sk) {
  return set_attributes(&si->unauth_attr, sk);
}

/* see morvane/pkcs7.h */
int PKCS7_simple_smimecap(STACK* sk, int nid, int arg) {
  X509_ALGOR* alg = X509_ALGOR_new();
  if (alg == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIMPLE_SMIMECAP, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  ASN1_OBJECT_free(alg->algorithm);
  alg->algorithm = OBJ_nid2obj(nid);
  if (arg > 0) {
    ASN1_INTEGER* n = ASN1_INTEGER_new();
    if (n == nullptr || (alg->parameter = ASN1_TYPE_new()) == nullptr ||
        !ASN1_INTEGER_set(n, arg)) {
      ASN1_INTEGER_free(n);
      X509_ALGOR_free(alg);
      PKCS7err(PKCS7_F_PKCS7_SIMPLE_SMIMECAP, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    ASN1_TYPE_set(alg->parameter, ASN1_UT_INTEGER, n);
  }
  if (!sk_push(sk, reinterpret_cast<char*>(alg))) {
    X509_ALGOR_free(alg);
    PKCS7err(PKCS7_F_PKCS7_SIMPLE_SMIMECAP, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/pkcs7.h */
int PKCS7_add_attrib_smimecap(PKCS7_SIGNER_INFO* si, STACK* cap) {
  const int len = i2d_ASN1_SET(cap, nullptr, i2d_algor, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0);
  unsigned char* der = len > 0 ? static_cast<unsigned char*>(MORVANE_malloc(len)) : nullptr;
  ASN1_STRING* seq = der != nullptr ? ASN1_STRING_new() : nullptr;
  if (seq == nullptr) {
    MORVANE_free(der);
    PKCS7err(PKCS7_F_PKCS7_ADD_ATTRIB_SMIMECAP, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned char* p = der;
  if (i2d_ASN1_SET(cap, &p, i2d_algor, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0) != len) {
    ASN1_STRING_free(seq);
    MORVANE_free(der);
    return 0;  // the encoder queued why
  }
  const int ok = ASN1_STRING_set(seq, der, len);
  MORVANE_free(der);
  if (!ok) {
    ASN1_STRING_free(seq);
    PKCS7err(PKCS7_F_PKCS7_ADD_ATTRIB_SMIMECAP, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  seq->type = ASN1_UT_SEQUENCE;
  if (!PKCS7_add_signed_attribute(si, kNidSmimeCaps, ASN1_UT_SEQUENCE, seq)) {
    ASN1_STRING_free(seq);
    return 0;
  }
  return 1;
}

/* see morvane/pkcs7.h */
STACK* PKCS7_get_smimecap(PKCS7_SIGNER_INFO* si) {
  ASN1_TYPE* cap = PKCS7_get_signed_attribute(si, kNidSmimeCaps);
  if (cap == nullptr || cap->type != ASN1_UT_SEQUENCE) return nullptr;
  const unsigned char* p = cap->value.sequence->data;
  return d2i_ASN1_SET(nullptr, &p, cap->value.sequence->length, d2i_algor, algor_free,
                      ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
}
