// The routines that the template engine's creation, freeing, decoding and
// encoding share: field location, the CHOICE selector, reference counts, the
// cached encoding and ANY DEFINED BY resolution.
#ifndef MORVANE_CRYPTO_ASN1_INTERNAL_H
#define MORVANE_CRYPTO_ASN1_INTERNAL_H

#include <morvane/asn1.h>
#include <morvane/asn1t.h>

namespace morvane::asn1 {

// The auxiliary record of a SEQUENCE or CHOICE item, or null.
const ASN1_AUX* aux_of(const ASN1_ITEM* it);

// Runs the item's callback for `op`; 1 when the item has none.
int run_callback(int op, ASN1_VALUE** pval, const ASN1_ITEM* it);

// The field of template `tt` inside the structure *pval, or the structure
// itself under ASN1_TF_COMBINE.
ASN1_VALUE** get_field_ptr(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt);

// The int selector of a CHOICE; set_choice_selector returns the old value.
int get_choice_selector(ASN1_VALUE** pval, const ASN1_ITEM* it);
int set_choice_selector(ASN1_VALUE** pval, int value, const ASN1_ITEM* it);

// Reference count of a sequence with ASN1_AUX_REFCOUNT (else 0): op 0 sets
// it to 1 and returns 1; any other op is added under the item's lock and the
// new count returned.
int do_lock(ASN1_VALUE** pval, int op, const ASN1_ITEM* it);

// The cached encoding of a sequence with ASN1_AUX_ENCODING; nothing for other
// items.  enc_save returns 0 on allocation failure; enc_restore returns 1 when
// it supplied the octets (copied to *out when out is given, *len set when
// len is given).
void enc_init(ASN1_VALUE** pval, const ASN1_ITEM* it);
void enc_free(ASN1_VALUE** pval, const ASN1_ITEM* it);
int enc_save(ASN1_VALUE** pval, const unsigned char* in, int inlen, const ASN1_ITEM* it);
int enc_restore(int* len, unsigned char** out, ASN1_VALUE** pval, const ASN1_ITEM* it);

// The template of an ANY DEFINED BY field chosen by its selector (an absent
// selector counts as 0), the row's default, or null (with "unsupported any
// defined by type" queued when nullerr is set); other templates as given.
const ASN1_TEMPLATE* do_adb(ASN1_VALUE** pval, const ASN1_TEMPLATE* tt, bool nullerr);

// Creation and freeing with the combine flag (the structure lies inside its
// parent and is neither allocated nor released).
int item_ex_new(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine);
void item_ex_free(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine);

}  // namespace morvane::asn1

#endif  // MORVANE_CRYPTO_ASN1_INTERNAL_H
