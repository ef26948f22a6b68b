// The LONG and ZLONG items: an INTEGER held as a long in the parent's field.
// The item's size is the value that is never encoded (LONG: 0x7FFFFFFF
// meaning absent, ZLONG: the DEFAULT 0).

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/err.h>

namespace {

long load(ASN1_VALUE** pval) {
  long v;
  memcpy(&v, pval, sizeof v);
  return v;
}

void store(ASN1_VALUE** pval, long v) {
  memcpy(pval, &v, sizeof v);
}

int long_new(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  store(pval, it->size);
  return 1;
}

void long_free(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  store(pval, it->size);
}

// Two's complement in the fewest octets, counting the bits of the whole long.
int long_i2c(ASN1_VALUE** pval, unsigned char* cont, int* /*putype*/, const ASN1_ITEM* it) {
  const long v = load(pval);
  if (v == it->size) return -1;
  const bool neg = v < 0;
  unsigned long u = neg ? 0 - static_cast<unsigned long>(v) - 1 : static_cast<unsigned long>(v);
  int bits = 0;
  for (unsigned long t = u; t != 0; t >>= 1) bits++;
  const int pad = (bits & 7) == 0;  // the sign needs an octet of its own
  const int clen = (bits + 7) / 8;
  if (cont != nullptr) {
    const unsigned char flip = neg ? 0xFF : 0;
    if (pad) *cont++ = flip;
    for (int i = clen - 1; i >= 0; i--, u >>= 8) cont[i] = static_cast<unsigned char>(u) ^ flip;
  }
  return clen + pad;
}

int long_c2i(ASN1_VALUE** pval, const unsigned char* cont, int len, int /*utype*/,
             char* /*free_cont*/, const ASN1_ITEM* it) {
  if (len > static_cast<int>(sizeof(long))) {
    ASN1err(ASN1_F_LONG_C2I, ASN1_R_INTEGER_TOO_LARGE_FOR_LONG);
    return 0;
  }
  const bool neg = len > 0 && (cont[0] & 0x80);
  const unsigned char flip = neg ? 0xFF : 0;
  unsigned long u = 0;
  for (int i = 0; i < len; i++) u = (u << 8) | (cont[i] ^ flip);
  // With the sign octet complemented, u fits in a long.
  const long v = neg ? -static_cast<long>(u) - 1 : static_cast<long>(u);
  if (v == it->size) {
    ASN1err(ASN1_F_LONG_C2I, ASN1_R_INTEGER_TOO_LARGE_FOR_LONG);
    return 0;
  }
  store(pval, v);
  return 1;
}

constexpr ASN1_PRIMITIVE_FUNCS long_pf = {nullptr,   0,        long_new, long_free,
                                          long_free, long_c2i, long_i2c};

}  // namespace

ASN1_ITEM_PRIMITIVE_ex(LONG, ASN1_UT_INTEGER, &long_pf, 0x7FFFFFFFL);
ASN1_ITEM_PRIMITIVE_ex(ZLONG, ASN1_UT_INTEGER, &long_pf, 0);
