// Fuzzes the legacy decoders: the first input octet picks d2i_ASN1_SET,
// d2i_ASN1_bytes, d2i_ASN1_type_bytes, d2i_ASN1_HEADER (with or without a
// method) or ASN1_seq_unpack, the next ones their tag, class or mask, and
// the rest is the encoding.
//
// Checks: a decoder that fails leaves the input pointer where it was; one
// that succeeds moves it forward within the input; a decoded SET OF is
// encoded again to the same length as measured; every value is freed, so the
// leak check sees anything left behind.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

namespace {

void* TypeD2i(void** a, const unsigned char** pp, long len) {
  return d2i_ASN1_TYPE(reinterpret_cast<ASN1_TYPE**>(a), pp, len);
}
int TypeI2d(void* a, unsigned char** pp) {
  return i2d_ASN1_TYPE(static_cast<ASN1_TYPE*>(a), pp);
}
void TypeFree(void* a) {
  ASN1_TYPE_free(static_cast<ASN1_TYPE*>(a));
}

void CheckPosition(bool ok, const unsigned char* start, const unsigned char* p, size_t len) {
  if (ok)
    Check(p > start && p <= start + len, "success moves forward within the input");
  else
    Check(p == start, "failure leaves the input pointer");
}

void ReencodeSet(STACK* sk, int tag, int xclass) {
  const int n = i2d_ASN1_SET(sk, nullptr, TypeI2d, tag, xclass, 1);
  if (n <= 0) return;
  std::string buf(static_cast<size_t>(n), '\0');
  auto* q = reinterpret_cast<unsigned char*>(buf.data());
  unsigned char* start = q;
  Check(i2d_ASN1_SET(sk, &q, TypeI2d, tag, xclass, 1) == n, "measured and written agree");
  Check(q == start + n, "the pointer ends after the element");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int which = in.ConsumeIntegral<uint8_t>() % 6;
  const int tag = in.ConsumeIntegral<uint8_t>() % 40;
  const int xclass = (in.ConsumeIntegral<uint8_t>() & 3) << 6;
  const unsigned long mask = in.ConsumeIntegral<uint32_t>();
  const std::string der = in.ConsumeBytesAsString(in.remaining_bytes());
  const auto* start = reinterpret_cast<const unsigned char*>(der.data());
  const unsigned char* p = start;
  const long len = static_cast<long>(der.size());
  switch (which) {
    case 0: {
      STACK* sk = d2i_ASN1_SET(nullptr, &p, len, TypeD2i, TypeFree, tag, xclass);
      CheckPosition(sk != nullptr, start, p, der.size());
      if (sk != nullptr) ReencodeSet(sk, tag, xclass);
      sk_pop_free(sk, TypeFree);
      break;
    }
    case 1: {
      ASN1_STRING* s = d2i_ASN1_bytes(nullptr, &p, len, tag, xclass);
      CheckPosition(s != nullptr, start, p, der.size());
      if (s != nullptr) {
        // Decoding again into the same string reuses or replaces its buffer.
        const unsigned char* q = start;
        Check(d2i_ASN1_bytes(&s, &q, len, tag, xclass) == s, "a second decode into the string");
      }
      ASN1_STRING_free(s);
      break;
    }
    case 2: {
      ASN1_STRING* s = d2i_ASN1_type_bytes(nullptr, &p, len, mask);
      CheckPosition(s != nullptr, start, p, der.size());
      ASN1_STRING_free(s);
      break;
    }
    case 3:
    case 4: {
      ASN1_HEADER* h = ASN1_HEADER_new();
      if (which == 4) h->meth = ASN1_IA5STRING_asn1_meth();
      const bool ok = d2i_ASN1_HEADER(&h, &p, len) != nullptr;
      if (which == 4)
        CheckPosition(ok, start, p, der.size());
      else
        Check(p == start, "without a method the input stays");
      if (ok && which == 4) {
        const int n = i2d_ASN1_HEADER(h, nullptr);
        std::string buf(static_cast<size_t>(n > 0 ? n : 0), '\0');
        auto* q = reinterpret_cast<unsigned char*>(buf.data());
        if (n > 0) Check(i2d_ASN1_HEADER(h, &q) == n, "measured and written agree");
      }
      ASN1_HEADER_free(h);
      break;
    }
    default: {
      STACK* sk = ASN1_seq_unpack(start, static_cast<int>(len), TypeD2i, TypeFree);
      if (sk != nullptr) {
        unsigned char* out = nullptr;
        int n = 0;
        unsigned char* packed = ASN1_seq_pack(sk, TypeI2d, &out, &n);
        Check(packed == out, "the packed buffer is handed out");
        MORVANE_free(packed);
      }
      sk_pop_free(sk, TypeFree);
      break;
    }
  }
  ERR_clear_error();
  return 0;
}
