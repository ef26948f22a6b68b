// The template decoder's entry points.
//
// Implementation notes: the decoder is not built yet.  Every entry fails
// cleanly: one "unsupported type" entry on the error queue, nothing consumed,
// and the caller's value and position left as they were.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/err.h>

/* see morvane/asn1.h */
ASN1_VALUE* ASN1_item_d2i(ASN1_VALUE** pval, const unsigned char** in, long len,
                          const ASN1_ITEM* it) {
  ASN1_TLC ctx = {};
  ASN1_VALUE* val = nullptr;
  if (ASN1_item_ex_d2i(&val, in, len, it, -1, 0, 0, &ctx) <= 0) return nullptr;
  if (pval != nullptr) *pval = val;
  return val;
}

/* see morvane/asn1t.h */
int ASN1_item_ex_d2i(ASN1_VALUE** /*pval*/, const unsigned char** /*in*/, long /*len*/,
                     const ASN1_ITEM* /*it*/, int /*tag*/, int /*aclass*/, char /*opt*/,
                     ASN1_TLC* /*ctx*/) {
  ASN1err(ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_UNSUPPORTED_TYPE);
  return 0;
}
