// Writing a structure's DER encoding to a BIO or a stdio FILE, through its
// i2d function or its item.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/wipe.h"

namespace {

// Writes all n octets, as many calls as the stream needs; frees der (wiped:
// the structure may be a key).  1, or 0 when a write gives 0 or less.
int write_all(BIO* out, unsigned char* der, int n) {
  int ret = 1;
  for (int off = 0; off < n;) {
    const int w = BIO_write(out, der + off, n - off);
    if (w <= 0) {
      ret = 0;
      break;
    }
    off += w;
  }
  morvane::internal::wipe(der, static_cast<size_t>(n));
  MORVANE_free(der);
  return ret;
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_i2d_bio(i2d_of_void* i2d, BIO* out, void* x) {
  const int n = i2d(x, nullptr);
  if (n <= 0) {
    ASN1err(ASN1_F_ASN1_I2D_BIO, ASN1_R_ENCODE_ERROR);
    return 0;
  }
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(n));
  if (der == nullptr) {
    ASN1err(ASN1_F_ASN1_I2D_BIO, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned char* p = der;
  if (i2d(x, &p) != n || p - der != n) {  // nothing of a failed pass is written
    morvane::internal::wipe(der, static_cast<size_t>(n));
    MORVANE_free(der);
    ASN1err(ASN1_F_ASN1_I2D_BIO, ASN1_R_ENCODE_ERROR);
    return 0;
  }
  return write_all(out, der, n);
}

/* see morvane/asn1.h */
int ASN1_item_i2d_bio(const ASN1_ITEM* it, BIO* out, void* x) {
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(static_cast<ASN1_VALUE*>(x), &der, it);
  if (der == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_I2D_BIO, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return write_all(out, der, n);
}

/* see morvane/asn1.h */
int ASN1_i2d_fp(i2d_of_void* i2d, FILE* out, void* x) {
  BIO* b = BIO_new_fp(out, BIO_NOCLOSE);
  if (b == nullptr) {
    ASN1err(ASN1_F_ASN1_I2D_FP, ERR_R_BUF_LIB);
    return 0;
  }
  const int ret = ASN1_i2d_bio(i2d, b, x);
  BIO_free(b);
  return ret;
}

/* see morvane/asn1.h */
int ASN1_item_i2d_fp(const ASN1_ITEM* it, FILE* out, void* x) {
  BIO* b = BIO_new_fp(out, BIO_NOCLOSE);
  if (b == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_I2D_FP, ERR_R_BUF_LIB);
    return 0;
  }
  const int ret = ASN1_item_i2d_bio(it, b, x);
  BIO_free(b);
  return ret;
}
