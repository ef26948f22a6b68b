// PFX files through streams and stdio.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/pkcs12.h>

/* see morvane/pkcs12.h */
PKCS12* d2i_PKCS12_bio(BIO* bp, PKCS12** p12) {
  return static_cast<PKCS12*>(ASN1_item_d2i_bio(&PKCS12_it, bp, p12));
}

/* see morvane/pkcs12.h */
PKCS12* d2i_PKCS12_fp(FILE* fp, PKCS12** p12) {
  return static_cast<PKCS12*>(ASN1_item_d2i_fp(&PKCS12_it, fp, p12));
}

/* see morvane/pkcs12.h */
int i2d_PKCS12_bio(BIO* bp, PKCS12* p12) {
  return ASN1_item_i2d_bio(&PKCS12_it, bp, p12);
}

/* see morvane/pkcs12.h */
int i2d_PKCS12_fp(FILE* fp, PKCS12* p12) {
  return ASN1_item_i2d_fp(&PKCS12_it, fp, p12);
}
