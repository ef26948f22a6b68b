// ASN1_HEADER, SEQUENCE { OCTET STRING header, data }, whose data is coded
// by an older-style method record, and the two constant method records of
// IA5String and BIT STRING values.

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "asn1/internal.h"

namespace {

// Adapters with the method record's exact function types.
int ia5_i2d(void* a, unsigned char** pp) {
  return i2d_ASN1_IA5STRING(static_cast<ASN1_STRING*>(a), pp);
}
void* ia5_d2i(void** a, const unsigned char** pp, long length) {
  return d2i_ASN1_IA5STRING(reinterpret_cast<ASN1_STRING**>(a), pp, length);
}
int bit_i2d(void* a, unsigned char** pp) {
  return i2d_ASN1_BIT_STRING(static_cast<ASN1_STRING*>(a), pp);
}
void* bit_d2i(void** a, const unsigned char** pp, long length) {
  return d2i_ASN1_BIT_STRING(reinterpret_cast<ASN1_STRING**>(a), pp, length);
}
void* string_new() {
  return ASN1_STRING_new();
}
void string_free(void* a) {
  ASN1_STRING_free(static_cast<ASN1_STRING*>(a));
}

constexpr ASN1_METHOD kIa5Method = {ia5_i2d, ia5_d2i, string_new, string_free};
constexpr ASN1_METHOD kBitStringMethod = {bit_i2d, bit_d2i, string_new, string_free};

}  // namespace

/* see morvane/asn1.h */
const ASN1_METHOD* ASN1_IA5STRING_asn1_meth(void) {
  return &kIa5Method;
}

/* see morvane/asn1.h */
const ASN1_METHOD* ASN1_BIT_STRING_asn1_meth(void) {
  return &kBitStringMethod;
}

/* see morvane/asn1.h */
ASN1_HEADER* ASN1_HEADER_new(void) {
  auto* ret = static_cast<ASN1_HEADER*>(MORVANE_malloc(sizeof(ASN1_HEADER)));
  ASN1_OCTET_STRING* header = ret != nullptr ? ASN1_OCTET_STRING_new() : nullptr;
  if (header == nullptr) {
    MORVANE_free(ret);
    ASN1err(ASN1_F_ASN1_HEADER_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->header = header;
  ret->data = nullptr;
  ret->meth = nullptr;
  return ret;
}

/* see morvane/asn1.h */
void ASN1_HEADER_free(ASN1_HEADER* a) {
  if (a == nullptr) return;
  ASN1_OCTET_STRING_free(a->header);
  if (a->meth != nullptr) a->meth->destroy(a->data);
  MORVANE_free(a);
}

/* see morvane/asn1.h */
int i2d_ASN1_HEADER(ASN1_HEADER* a, unsigned char** pp) {
  if (a == nullptr) return 0;
  if (a->meth == nullptr || (pp != nullptr && *pp == nullptr)) {
    ASN1err(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  const int h = i2d_ASN1_OCTET_STRING(a->header, nullptr);
  const int d = a->meth->i2d(a->data, nullptr);
  if (h < 0 || d < 0 || h > 0x7FFFFFFF - d) return 0;
  const int ret = ASN1_object_size(1, h + d, ASN1_UT_SEQUENCE);
  if (pp == nullptr || ret < 0) return ret < 0 ? 0 : ret;
  unsigned char* p = *pp;
  ASN1_put_object(&p, 1, h + d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
  if (i2d_ASN1_OCTET_STRING(a->header, &p) != h || a->meth->i2d(a->data, &p) != d) return 0;
  *pp = p;
  return ret;
}

/* see morvane/asn1.h */
ASN1_HEADER* d2i_ASN1_HEADER(ASN1_HEADER** a, const unsigned char** pp, long length) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_HEADER)) return nullptr;
  ASN1_HEADER* ret = (a == nullptr || *a == nullptr) ? ASN1_HEADER_new() : *a;
  ASN1_const_CTX c = {};
  c.pp = pp;
  c.p = *pp;
  c.q = *pp;
  c.max = *pp + (length > 0 ? length : 0);
  c.error = ERR_R_NESTED_ASN1_ERROR;
  if (ret == nullptr) goto err;
  if (!asn1_GetSequence(&c, &length)) goto err;
  c.error = ERR_R_NESTED_ASN1_ERROR;
  c.q = c.p;
  if (d2i_ASN1_OCTET_STRING(&ret->header, &c.p, c.slen) == nullptr) goto err;
  c.slen -= c.p - c.q;
  if (ret->meth == nullptr) {  // nothing more can be read; the input stays
    if (a != nullptr) *a = ret;
    return ret;
  }
  c.q = c.p;
  if (ret->meth->d2i(&ret->data, &c.p, c.slen) == nullptr) goto err;
  c.slen -= c.p - c.q;
  if (!asn1_const_Finish(&c)) goto err;
  *pp = c.p;
  if (a != nullptr) *a = ret;
  return ret;
err:
  ASN1err(ASN1_F_D2I_ASN1_HEADER, c.error);
  asn1_add_error(*pp, static_cast<int>(c.q - *pp));
  if (ret != nullptr && (a == nullptr || *a != ret)) ASN1_HEADER_free(ret);
  return nullptr;
}
