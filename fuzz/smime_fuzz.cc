// Fuzzes S/MIME framing: the first octet picks the call (SMIME_read_ASN1 with
// and without a content stream requested, SMIME_text, SMIME_crlf_copy), the
// second the item (or the copy's flags), the rest is the message.
//
// Checks: a value read encodes; a content stream handed back reads to its
// end; the line copy writes every LF as part of a CR LF unless it copies
// unchanged, and then writes the input exactly.

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/x509.h>

namespace {

std::string Drain(BIO* b) {
  std::string out;
  char buf[1024];
  int n;
  while ((n = BIO_read(b, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

std::string MemText(BIO* b) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  return std::string(p, static_cast<size_t>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int call = data[0] % 4;
  const int choice = data[1];
  const ASN1_ITEM* items[] = {&ASN1_ANY_it, &X509_ALGOR_it, &ASN1_OCTET_STRING_it};
  const ASN1_ITEM* it = items[choice % 3];
  BIO* in = BIO_new_mem_buf(const_cast<uint8_t*>(data + 2), static_cast<int>(size - 2));
  Check(in != nullptr, "a source");
  if (call <= 1) {
    BIO* cont = nullptr;
    ASN1_VALUE* v = SMIME_read_ASN1(in, call == 0 ? &cont : nullptr, it);
    Check(v != nullptr || cont == nullptr, "content only with a value");
    if (v != nullptr) {
      unsigned char* der = nullptr;
      const int n = ASN1_item_i2d(v, &der, it);
      Check(n > 0 || it == &ASN1_ANY_it, "a value read encodes");
      MORVANE_free(der);
      ASN1_item_free(v, it);
    }
    if (cont != nullptr) {
      Drain(cont);
      Check(BIO_eof(cont) == 1, "the content stream ends");
      BIO_free(cont);
    }
  } else {
    BIO* out = BIO_new(BIO_s_mem());
    Check(out != nullptr, "a sink");
    if (call == 2) {
      SMIME_text(in, out);
    } else {
      const int flags = choice & 0x81;
      Check(SMIME_crlf_copy(in, out, flags) == 1, "a copy to memory succeeds");
      const std::string got = MemText(out);
      if (flags & 0x80) {
        Check(got.size() == size - 2 && memcmp(got.data(), data + 2, size - 2) == 0,
              "binary copies unchanged");
      } else {
        for (size_t i = 0; i < got.size(); i++)
          Check(got[i] != '\n' || (i > 0 && got[i - 1] == '\r'), "line ends are CR LF");
      }
    }
    BIO_free(out);
  }
  BIO_free(in);
  ERR_clear_error();
  return 0;
}
