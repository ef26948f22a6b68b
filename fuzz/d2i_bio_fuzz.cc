// Fuzzes the stream reader: arbitrary octets served by a stream that hands
// out a few octets per read (sizes taken from the input) are read object by
// object with ASN1_d2i_bio, and each object read is decoded with an item of
// the registry (crypto/asn1/items.def) chosen by the input.
//
// Checks: the reader takes exactly the octets of the object it returns off
// the stream (no more, however the reads are cut); a returned object is one
// whole element: its header's definite length covers it exactly, or it ends
// with end-of-contents octets; every value is freed, so the leak check sees
// anything left behind.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509.h>

#include "item_rows.h"

namespace {

// The source: the input's octets, served at most sizes[i % 4] at a time.
struct Source {
  std::string data;
  size_t pos = 0;
  int sizes[4] = {1, 1, 1, 1};
  unsigned reads = 0;
};
Source g_src;

int SourceRead(BIO*, char* buf, int len) {
  if (len <= 0) return 0;
  const size_t left = g_src.data.size() - g_src.pos;
  if (left == 0) return 0;
  size_t n = static_cast<size_t>(g_src.sizes[g_src.reads++ % 4]);
  if (n > static_cast<size_t>(len)) n = static_cast<size_t>(len);
  if (n > left) n = left;
  memcpy(buf, g_src.data.data() + g_src.pos, n);
  g_src.pos += n;
  return static_cast<int>(n);
}
long SourceCtrl(BIO*, int, long, void*) {
  return 0;
}
int SourceCreate(BIO* b) {
  b->init = 1;
  return 1;
}
int SourceDestroy(BIO*) {
  return 1;
}
BIO_METHOD g_method = {0x7d | BIO_TYPE_SOURCE_SINK,
                       "fuzz source",
                       nullptr,
                       SourceRead,
                       nullptr,
                       nullptr,
                       SourceCtrl,
                       SourceCreate,
                       SourceDestroy,
                       nullptr};

// The object the reader hands to its decoder.
std::string g_object;
int g_token;
void* Capture(void**, const unsigned char** pp, long len) {
  g_object.assign(reinterpret_cast<const char*>(*pp), static_cast<size_t>(len));
  *pp += len;
  return &g_token;
}

void CheckWhole(const std::string& o) {
  const auto* p = reinterpret_cast<const unsigned char*>(o.data());
  const unsigned char* q = p;
  long len = 0;
  int tag = 0, xclass = 0;
  const int inf = ASN1_get_object(&q, &len, &tag, &xclass, static_cast<long>(o.size()));
  Check(!(inf & ASN1_HDR_ERROR), "the object starts with a well-formed header");
  if (inf & ASN1_HDR_INDEFINITE) {
    Check(o.size() >= 4 && o[o.size() - 1] == 0 && o[o.size() - 2] == 0,
          "an indefinite object ends with end-of-contents octets");
  } else {
    Check(static_cast<size_t>(q - p) + static_cast<size_t>(len) == o.size(),
          "a definite object is its header and content");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const ItemRow& row = kItems[in.ConsumeIntegral<uint8_t>() % kCount];
  for (int& s : g_src.sizes) s = 1 + in.ConsumeIntegralInRange<int>(0, 40);
  g_src.data = in.ConsumeBytesAsString(in.remaining_bytes());
  g_src.pos = 0;
  g_src.reads = 0;
  BIO* b = BIO_new(&g_method);
  Check(b != nullptr, "the source stream");
  for (int objects = 0; objects < 64 && g_src.pos < g_src.data.size(); objects++) {
    const size_t before = g_src.pos;
    g_object.clear();
    if (ASN1_d2i_bio(nullptr, Capture, b, nullptr) == nullptr) break;
    Check(g_src.pos - before == g_object.size(), "exactly the object is taken off the stream");
    Check(g_src.data.compare(before, g_object.size(), g_object) == 0, "the object's octets");
    CheckWhole(g_object);
    const auto* p = reinterpret_cast<const unsigned char*>(g_object.data());
    ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, static_cast<long>(g_object.size()), row.it);
    ASN1_item_free(v, row.it);
  }
  BIO_free(b);
  ERR_clear_error();
  return 0;
}
