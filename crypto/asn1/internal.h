// What the template engine's creation, freeing, decoding and encoding share
// beyond the public routines of morvane/asn1t.h (field location, the CHOICE
// selector, reference counts, the cached encoding and ANY DEFINED BY
// resolution): the auxiliary record, the callback and the combine forms.
#ifndef MORVANE_CRYPTO_ASN1_INTERNAL_H
#define MORVANE_CRYPTO_ASN1_INTERNAL_H

#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>

namespace morvane::asn1 {

// The auxiliary record of a SEQUENCE or CHOICE item, or null.
const ASN1_AUX* aux_of(const ASN1_ITEM* it);

// Runs the item's callback for `op`; 1 when the item has none.
int run_callback(int op, ASN1_VALUE** pval, const ASN1_ITEM* it);

// Creation and freeing with the combine flag (the structure lies inside its
// parent and is neither allocated nor released).
int item_ex_new(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine);
void item_ex_free(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine);

// Makes `type` a SEQUENCE holding the DER of `value`, a structure of `it`
// (the parameter form of algorithm identifiers); false, `type` unchanged,
// when the encoding or an allocation fails.
bool type_set_item_sequence(ASN1_TYPE* type, void* value, const ASN1_ITEM* it);

// A file stream over fp that leaves it open when freed, or null: the FILE
// forms of the printers.
BIO* new_file_bio(FILE* fp);

}  // namespace morvane::asn1

#endif  // MORVANE_CRYPTO_ASN1_INTERNAL_H
