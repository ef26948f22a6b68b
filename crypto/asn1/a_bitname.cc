// Named bits of a BIT STRING: printing the names of the bits that are set
// and setting a bit by its name, over a caller's table ended by a row with a
// null long name.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>

/* see morvane/asn1.h */
int ASN1_BIT_STRING_name_print(BIO* out, ASN1_BIT_STRING* bs, BIT_STRING_BITNAME* tbl, int indent) {
  BIO_printf(out, "%*s", indent, "");
  bool first = true;
  for (const BIT_STRING_BITNAME* bn = tbl; bn->lname != nullptr; bn++) {
    if (!ASN1_BIT_STRING_get_bit(bs, bn->bitnum)) continue;
    if (!first) BIO_puts(out, ", ");
    BIO_puts(out, bn->lname);
    first = false;
  }
  BIO_puts(out, "\n");
  return 1;
}

/* see morvane/asn1.h */
int ASN1_BIT_STRING_num_asc(char* name, BIT_STRING_BITNAME* tbl) {
  for (const BIT_STRING_BITNAME* bn = tbl; bn->lname != nullptr; bn++) {
    if ((bn->sname != nullptr && strcmp(bn->sname, name) == 0) || strcmp(bn->lname, name) == 0)
      return bn->bitnum;
  }
  return -1;
}

/* see morvane/asn1.h */
int ASN1_BIT_STRING_set_asc(ASN1_BIT_STRING* bs, char* name, int value, BIT_STRING_BITNAME* tbl) {
  const int bitnum = ASN1_BIT_STRING_num_asc(name, tbl);
  if (bitnum < 0) return 0;
  if (bs == nullptr) return 1;
  return ASN1_BIT_STRING_set_bit(bs, bitnum, value) ? 1 : 0;
}
