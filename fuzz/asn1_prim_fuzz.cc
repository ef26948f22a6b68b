// Fuzzes the content conversions of the primitive values: INTEGER, BIT
// STRING, OBJECT IDENTIFIER and BOOLEAN, the unsigned INTEGER reader, the
// LONG and BIGNUM items and the cipher parameter SEQUENCE.  Each conversion
// that accepts the input writes content that converts back to the same
// content; everything stays within the input and is freed.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

using I2c = int (*)(ASN1_STRING*, unsigned char**);
using C2i = ASN1_STRING* (*)(ASN1_STRING**, const unsigned char**, long);

// c2i, i2c, c2i, i2c: the two writes agree and stay within their lengths.
void RoundTrip(const uint8_t* data, long size, C2i c2i, I2c i2c, const char* what) {
  const unsigned char* p = data;
  ASN1_STRING* a = c2i(nullptr, &p, size);
  if (a == nullptr) return;
  Check(p == data + size, what);
  const int n = i2c(a, nullptr);
  auto* out = static_cast<unsigned char*>(malloc(n > 0 ? n : 1));
  unsigned char* w = out;
  Check(i2c(a, &w) == n && w == out + n, what);
  const unsigned char* q = out;
  ASN1_STRING* b = c2i(nullptr, &q, n);
  Check(b != nullptr, what);
  auto* out2 = static_cast<unsigned char*>(malloc(n > 0 ? n : 1));
  w = out2;
  Check(i2c(b, &w) == n && memcmp(out, out2, n) == 0, what);
  free(out);
  free(out2);
  ASN1_STRING_free(a);
  ASN1_STRING_free(b);
}

ASN1_STRING* C2iObject(ASN1_STRING** /*a*/, const unsigned char** pp, long len) {
  ASN1_OBJECT* o = c2i_ASN1_OBJECT(nullptr, pp, len);
  if (o == nullptr) return nullptr;
  ASN1_STRING* s = ASN1_STRING_new();
  ASN1_STRING_set(s, o->data, o->length);
  ASN1_OBJECT_free(o);
  return s;
}

int I2cOctets(ASN1_STRING* a, unsigned char** pp) {
  if (pp != nullptr) {
    memcpy(*pp, a->data, a->length);
    *pp += a->length;
  }
  return a->length;
}

// One item whose value sits in a field of its own: decode, encode, decode.
void ItemRoundTrip(const uint8_t* data, long size, const ASN1_ITEM* it) {
  ASN1_VALUE* v = nullptr;
  const unsigned char* p = data;
  if (ASN1_item_d2i(&v, &p, size, it) == nullptr && p == data) return;
  Check(p <= data + size, "item decode stays inside the input");
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(v, &der, it);
  if (n > 0) {
    ASN1_VALUE* w = nullptr;
    const unsigned char* q = der;
    ASN1_item_d2i(&w, &q, n, it);
    Check(q == der + n, "item encoding decodes whole");
    ASN1_item_free(w, it);
  }
  MORVANE_free(der);
  ASN1_item_free(v, it);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const long n = static_cast<long>(size);
  RoundTrip(data, n, c2i_ASN1_INTEGER, i2c_ASN1_INTEGER, "INTEGER content");
  RoundTrip(data, n, c2i_ASN1_BIT_STRING, i2c_ASN1_BIT_STRING, "BIT STRING content");
  RoundTrip(data, n, C2iObject, I2cOctets, "OBJECT content");
  const unsigned char* p = data;
  int b = -2;
  const int r = d2i_ASN1_BOOLEAN(&b, &p, n);
  Check(r == -1 ? p == data : (r == b && p > data + 2 && p <= data + size), "BOOLEAN element");
  p = data;
  ASN1_INTEGER* u = d2i_ASN1_UINTEGER(nullptr, &p, n);
  Check(u == nullptr ? p == data : p <= data + size, "unsigned INTEGER element");
  ASN1_INTEGER_free(u);
  for (const ASN1_ITEM* it : {&LONG_it, &ZLONG_it, &BIGNUM_it, &CBIGNUM_it})
    ItemRoundTrip(data, n, it);
  // The cipher parameter SEQUENCE read from the same octets.
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_STRING* seq = ASN1_STRING_type_new(ASN1_UT_SEQUENCE);
  ASN1_STRING_set(seq, data, static_cast<int>(size));
  ASN1_TYPE_set(t, ASN1_UT_SEQUENCE, seq);
  unsigned char iv[16];
  long num = 0;
  const int got = ASN1_TYPE_get_int_octetstring(t, &num, iv, sizeof iv);
  Check(got < static_cast<int>(size), "parameter string inside the input");
  ASN1_TYPE_free(t);
  ERR_clear_error();
  return 0;
}
