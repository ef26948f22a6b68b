// The template encoder's entry points.
//
// Implementation notes: the encoder is not built yet.  ASN1_item_ex_i2d
// writes nothing and returns 0 (no element); ASN1_item_i2d turns that into
// -1, the encoder's failure result, so that no caller takes an empty encoding
// for a real one.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>

/* see morvane/asn1.h */
int ASN1_item_i2d(ASN1_VALUE* val, unsigned char** out, const ASN1_ITEM* it) {
  const int len = ASN1_item_ex_i2d(&val, out, it, -1, 0);
  return len > 0 ? len : -1;
}

/* see morvane/asn1t.h */
int ASN1_item_ex_i2d(ASN1_VALUE** /*pval*/, unsigned char** /*out*/, const ASN1_ITEM* /*it*/,
                     int /*tag*/, int /*aclass*/) {
  return 0;
}
