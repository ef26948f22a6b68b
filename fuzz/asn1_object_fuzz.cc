// Fuzzes object identifiers: arbitrary content through c2i_ASN1_OBJECT, then
// OBJ_obj2txt (names on and off, buffers of 0 to 100 bytes), OBJ_obj2nid and
// i2a_ASN1_OBJECT; arbitrary text through a2d_ASN1_OBJECT and OBJ_txt2obj.
// Every text is terminated within its buffer and measures the same whatever
// the buffer; text that encodes decodes back to the same content.

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "fuzz_check.h"
#include "fuzz_input.h"

namespace {

void Content(const std::string& content, FuzzInput& in) {
  const auto* p = reinterpret_cast<const unsigned char*>(content.data());
  ASN1_OBJECT* o = c2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(content.size()));
  if (o == nullptr) return;
  const int no_name = in.ConsumeBool() ? 1 : 0;
  const int full = OBJ_obj2txt(nullptr, 0, o, no_name);
  const int len = in.ConsumeIntegralInRange<int>(0, 100);
  char buf[101];
  memset(buf, 'x', sizeof buf);
  Check(OBJ_obj2txt(buf, len, o, no_name) == full, "obj2txt length");
  if (len > 0) Check(strlen(buf) < static_cast<size_t>(len), "obj2txt terminated");
  Check(buf[len] == 'x' || len == 100 || full < 0, "obj2txt within the buffer");
  if (full > 0 && no_name) {  // the dotted text encodes back to the content
    std::string text(static_cast<size_t>(full) + 1, '\0');
    OBJ_obj2txt(text.data(), full + 1, o, 1);
    std::string back(static_cast<size_t>(o->length), '\0');
    Check(a2d_ASN1_OBJECT(reinterpret_cast<unsigned char*>(back.data()), o->length, text.c_str(),
                          -1) == o->length &&
              back == content,
          "dotted text encodes back");
  }
  (void)OBJ_obj2nid(o);
  BIO* b = BIO_new(BIO_s_mem());
  if (b != nullptr) {
    i2a_ASN1_OBJECT(b, o);
    BIO_free(b);
  }
  ASN1_OBJECT_free(o);
}

void Text(const std::string& text) {
  unsigned char out[256];
  const int n = a2d_ASN1_OBJECT(nullptr, 0, text.c_str(), -1);
  const int w = a2d_ASN1_OBJECT(out, sizeof out, text.c_str(), -1);
  Check(n <= static_cast<int>(sizeof out) ? w == n : w == 0, "a2d count and write agree");
  ASN1_OBJECT* o = OBJ_txt2obj(text.c_str(), 0);
  if (o != nullptr) Check(OBJ_obj2txt(nullptr, 0, o, 1) >= 0, "parsed text prints");
  ASN1_OBJECT_free(o);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool as_text = in.ConsumeBool();
  const std::string s = in.ConsumeRandomLengthString(4096);
  if (as_text) {
    Text(s);
  } else {
    Content(s, in);
  }
  ERR_clear_error();
  return 0;
}
