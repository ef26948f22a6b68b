// INTEGER values held in ASN1_STRING records (magnitude big-endian, sign in
// the type code).  For now the one reader that ANY DEFINED BY needs.

#include <morvane/asn1.h>

/* see morvane/asn1.h */
long ASN1_INTEGER_get(const ASN1_INTEGER* a) {
  if (a == nullptr) return 0;
  const bool neg = a->type == ASN1_UT_NEG_INTEGER;
  if (!neg && a->type != ASN1_UT_INTEGER) return -1;
  if (a->length > 4) return -1;  // wider than the 32-bit values it serves
  if (a->data == nullptr) return 0;
  unsigned long r = 0;
  for (int i = 0; i < a->length; i++) r = (r << 8) | a->data[i];
  const long v = static_cast<long>(r);
  return neg ? -v : v;
}
