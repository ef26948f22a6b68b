// Fuzzes the template decoder and encoder over every item of the registry
// (crypto/asn1/items.def): the first input octet picks the item, the rest is
// decoded.  A value decoded is encoded (the measuring and allocating calls
// must agree), the encoding decoded again and encoded again to the same
// octets, and the value duplicated; every value is freed, so the leak check
// sees anything left behind.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509.h>

#include "item_rows.h"

namespace {

void Check(bool ok, const char* what, const char* item) {
  if (!ok) {
    fprintf(stderr, "check failed for %s: %s\n", item, what);
    abort();
  }
}

// The encoding of v, or an empty result (len <= 0) with nothing allocated.
int Encode(ASN1_VALUE* v, const ASN1_ITEM* it, unsigned char** der) {
  *der = nullptr;
  const int measured = ASN1_item_i2d(v, nullptr, it);
  const int n = ASN1_item_i2d(v, der, it);
  Check(n == measured, "measured length equals the length written", it->sname);
  Check((n > 0) == (*der != nullptr), "a buffer exactly when octets are written", it->sname);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const ItemRow& row = kItems[data[0] % kCount];
  const ASN1_ITEM* it = row.it;
  const unsigned char* p = data + 1;
  const long len = static_cast<long>(size - 1);
  ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, len, it);
  // Values held in the field (BOOLEAN, LONG) may read as null on success;
  // a failed decode leaves the position alone.
  const bool decoded = p != data + 1;
  if (decoded) {
    Check(p > data + 1 && p <= data + size, "the position stays inside the input", row.name);
    unsigned char* e1 = nullptr;
    const int n1 = Encode(v, it, &e1);
    if (n1 > 0) {
      const unsigned char* q = e1;
      ASN1_VALUE* w = ASN1_item_d2i(nullptr, &q, n1, it);
      Check(q == e1 + n1, "the encoding decodes whole", row.name);
      unsigned char* e2 = nullptr;
      const int n2 = Encode(w, it, &e2);
      Check(n2 == n1 && memcmp(e1, e2, n1) == 0, "encoding again gives the same octets", row.name);
      auto* dup = static_cast<ASN1_VALUE*>(ASN1_item_dup(it, w));
      unsigned char* e3 = nullptr;
      const int n3 = Encode(dup, it, &e3);
      Check(n3 == n1 && memcmp(e1, e3, n1) == 0, "a duplicate encodes the same", row.name);
      MORVANE_free(e2);
      MORVANE_free(e3);
      ASN1_item_free(w, it);
      ASN1_item_free(dup, it);
    }
    MORVANE_free(e1);
  }
  ASN1_item_free(v, it);
  ERR_clear_error();
  return 0;
}
