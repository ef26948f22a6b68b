// Packing: a stack as a SEQUENCE OF in a new buffer and back, a structure's
// encoding inside an OCTET STRING and back, and a copy of a structure made
// by encoding and decoding it.

#include <limits.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "internal/wipe.h"

namespace {

// The string to pack into: *oct when there is one, else a new one.
ASN1_STRING* target(ASN1_STRING** oct, int func) {
  if (oct != nullptr && *oct != nullptr) return *oct;
  ASN1_STRING* s = ASN1_STRING_new();
  if (s == nullptr) ASN1err(func, ERR_R_MALLOC_FAILURE);
  return s;
}

// Hands a packed string out: stored through oct when a new one was made.
ASN1_STRING* packed(ASN1_STRING** oct, ASN1_STRING* s) {
  if (oct != nullptr) *oct = s;
  return s;
}

// Undoes `target` on failure: a string made here is freed.
ASN1_STRING* unpacked(ASN1_STRING** oct, ASN1_STRING* s) {
  if (oct == nullptr || *oct != s) ASN1_STRING_free(s);
  return nullptr;
}

}  // namespace

/* see morvane/asn1.h */
unsigned char* ASN1_seq_pack(STACK* sk, i2d_of_void* i2d, unsigned char** buf, int* len) {
  const int n = i2d_ASN1_SET(sk, nullptr, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0);
  if (n <= 0) {
    ASN1err(ASN1_F_ASN1_SEQ_PACK, ASN1_R_ENCODE_ERROR);
    return nullptr;
  }
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(n));
  if (der == nullptr) {
    ASN1err(ASN1_F_ASN1_SEQ_PACK, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* p = der;
  if (i2d_ASN1_SET(sk, &p, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0) != n) {
    MORVANE_free(der);
    ASN1err(ASN1_F_ASN1_SEQ_PACK, ASN1_R_ENCODE_ERROR);
    return nullptr;
  }
  if (len != nullptr) *len = n;
  if (buf != nullptr) *buf = der;
  return der;
}

/* see morvane/asn1.h */
STACK* ASN1_seq_unpack(const unsigned char* buf, int len, d2i_of_void* d2i,
                       void (*free_func)(void*)) {
  const unsigned char* p = buf;
  STACK* sk =
      d2i_ASN1_SET(nullptr, &p, len, d2i, free_func, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
  if (sk == nullptr) ASN1err(ASN1_F_ASN1_SEQ_UNPACK, ASN1_R_DECODE_ERROR);
  return sk;
}

/* see morvane/asn1.h */
ASN1_STRING* ASN1_pack_string(void* obj, i2d_of_void* i2d, ASN1_STRING** oct) {
  ASN1_STRING* s = target(oct, ASN1_F_ASN1_PACK_STRING);
  if (s == nullptr) return nullptr;
  const int n = i2d(obj, nullptr);
  if (n <= 0) {
    ASN1err(ASN1_F_ASN1_PACK_STRING, ASN1_R_ENCODE_ERROR);
    return unpacked(oct, s);
  }
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(n));
  if (der == nullptr) {
    ASN1err(ASN1_F_ASN1_PACK_STRING, ERR_R_MALLOC_FAILURE);
    return unpacked(oct, s);
  }
  unsigned char* p = der;
  if (i2d(obj, &p) != n || p - der != n) {
    MORVANE_free(der);
    ASN1err(ASN1_F_ASN1_PACK_STRING, ASN1_R_ENCODE_ERROR);
    return unpacked(oct, s);
  }
  ASN1_STRING_set0(s, der, n);
  return packed(oct, s);
}

/* see morvane/asn1.h */
ASN1_STRING* ASN1_item_pack(void* obj, const ASN1_ITEM* it, ASN1_STRING** oct) {
  ASN1_STRING* s = target(oct, ASN1_F_ASN1_ITEM_PACK);
  if (s == nullptr) return nullptr;
  MORVANE_free(s->data);
  s->data = nullptr;
  s->length = 0;
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(static_cast<ASN1_VALUE*>(obj), &der, it);
  if (n <= 0 || der == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_PACK, n == 0 ? ASN1_R_ENCODE_ERROR : ERR_R_MALLOC_FAILURE);
    return unpacked(oct, s);
  }
  ASN1_STRING_set0(s, der, n);
  return packed(oct, s);
}

/* see morvane/asn1.h */
void* ASN1_unpack_string(ASN1_STRING* oct, d2i_of_void* d2i) {
  const unsigned char* p = oct->data;
  void* ret = d2i(nullptr, &p, oct->length);
  if (ret == nullptr) ASN1err(ASN1_F_ASN1_UNPACK_STRING, ASN1_R_DECODE_ERROR);
  return ret;
}

/* see morvane/asn1.h */
void* ASN1_item_unpack(ASN1_STRING* oct, const ASN1_ITEM* it) {
  const unsigned char* p = oct->data;
  ASN1_VALUE* ret = ASN1_item_d2i(nullptr, &p, oct->length, it);
  if (ret == nullptr) ASN1err(ASN1_F_ASN1_ITEM_UNPACK, ASN1_R_DECODE_ERROR);
  return ret;
}

/* see morvane/asn1.h */
void* ASN1_dup(i2d_of_void* i2d, d2i_of_void* d2i, void* x) {
  if (x == nullptr) return nullptr;
  const int n = i2d(x, nullptr);
  if (n < 0) return nullptr;
  // Ten octets of slack, as older encoders occasionally wrote past their
  // measured length.
  auto* der = n <= INT_MAX - 10 ? static_cast<unsigned char*>(MORVANE_malloc(n + 10)) : nullptr;
  if (der == nullptr) {
    ASN1err(ASN1_F_ASN1_DUP, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* p = der;
  const int written = i2d(x, &p);
  const unsigned char* q = der;
  void* ret = d2i(nullptr, &q, written);
  morvane::internal::wipe(der, static_cast<size_t>(n) + 10);  // the structure may be a key
  MORVANE_free(der);
  return ret;
}
