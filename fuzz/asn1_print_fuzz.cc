// Fuzzes the text printers of outside input.  The input's first octets give
// a flags word, the dump width, an indent and a string type; the rest goes
// through the DER dump, the string printer (as the content of a string of
// that type), the name printer (when it decodes as a name), the
// certificate, revocation list and request printers (when it decodes as one)
// and the hex text readers.  Checks: the dump gives 0, 1 or 2; each printer's count equals
// what it writes and what it counts without a stream; a printer that fails
// writes nothing more than it counted.

#include <cstdint>
#include <iterator>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509.h>

#include "fuzz_check.h"
#include "fuzz_input.h"

namespace {

constexpr int kTypes[] = {ASN1_UT_UTF8STRING,
                          ASN1_UT_PRINTABLESTRING,
                          ASN1_UT_T61STRING,
                          ASN1_UT_IA5STRING,
                          ASN1_UT_BMPSTRING,
                          ASN1_UT_UNIVERSALSTRING,
                          ASN1_UT_OCTET_STRING,
                          ASN1_UT_BIT_STRING,
                          ASN1_UT_NEG_INTEGER,
                          ASN1_UT_BOOLEAN,
                          ASN1_UT_OBJECT,
                          ASN1_UT_NULL,
                          ASN1_UT_SEQUENCE,
                          ASN1_UT_OTHER,
                          ASN1_UT_UNDEF,
                          ASN1_UT_GENERALIZEDTIME,
                          29,
                          31};

long Written(BIO* b) {
  char* p;
  return BIO_get_mem_data(b, &p);
}

void Dump(const std::string& der, int indent, int dump) {
  BIO* out = BIO_new(BIO_s_mem());
  const int r = ASN1_parse_dump(out, reinterpret_cast<const unsigned char*>(der.data()),
                                static_cast<long>(der.size()), indent, dump);
  Check(r == 0 || r == 1 || r == 2, "the dump gives 0, 1 or 2");
  BIO_free(out);
}

void String(const std::string& content, int type, unsigned long flags) {
  ASN1_STRING* s = ASN1_STRING_type_new(type);
  Check(s != nullptr && ASN1_STRING_set(s, content.data(), static_cast<int>(content.size())) == 1,
        "a string is made");
  BIO* out = BIO_new(BIO_s_mem());
  const int counted = ASN1_STRING_print_ex(nullptr, s, flags);
  const int n = ASN1_STRING_print_ex(out, s, flags);
  Check(n == counted, "the count without a stream is the count written");
  Check(n < 0 || n == Written(out), "the count is the characters written");
  unsigned char* utf8 = nullptr;
  const int len = ASN1_STRING_to_UTF8(&utf8, s);
  Check(len < 0 || (utf8 != nullptr && utf8[len] == 0), "UTF-8 is terminated");
  MORVANE_free(utf8);
  BIO_free(out);
  ASN1_STRING_free(s);
}

void Name(const std::string& der, int indent, unsigned long flags) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
  if (name == nullptr) return;
  BIO* out = BIO_new(BIO_s_mem());
  const int n = X509_NAME_print_ex(out, name, indent, flags);
  if (flags != 0) {
    Check(n == X509_NAME_print_ex(nullptr, name, indent, flags),
          "the count without a stream is the count written");
    Check(n < 0 || n == Written(out), "the count is the characters written");
  }
  BIO_free(out);
  X509_NAME_free(name);
}

// A certificate, revocation list or request decoded from the input prints
// whole with the name flags given.
void Structures(const std::string& der, unsigned long flags) {
  BIO* out = BIO_new(BIO_s_null());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  const long len = static_cast<long>(der.size());
  if (X509* x = d2i_X509(nullptr, &p, len)) {
    const int r = X509_print_ex(out, x, flags, 0);
    Check(r == 0 || r == 1, "the certificate printer gives 0 or 1");
    X509_free(x);
  }
  p = reinterpret_cast<const unsigned char*>(der.data());
  if (X509_CRL* c = d2i_X509_CRL(nullptr, &p, len)) {
    Check(X509_CRL_print(out, c) == 1, "the revocation list printer gives 1");
    X509_CRL_free(c);
  }
  p = reinterpret_cast<const unsigned char*>(der.data());
  if (X509_REQ* q = d2i_X509_REQ(nullptr, &p, len)) {
    const int r = X509_REQ_print_ex(out, q, flags, 0);
    Check(r == 0 || r == 1, "the request printer gives 0 or 1");
    X509_REQ_free(q);
  }
  BIO_free(out);
}

void HexText(const std::string& text) {
  char buf[80];
  for (int reader = 0; reader < 3; reader++) {
    BIO* in = BIO_new(BIO_s_mem());
    BIO_write(in, text.data(), static_cast<int>(text.size()));
    BIO_set_mem_eof_return(in, 0);
    ASN1_STRING* s = ASN1_STRING_new();
    const int r = reader == 0   ? a2i_ASN1_INTEGER(in, s, buf, sizeof buf)
                  : reader == 1 ? a2i_ASN1_ENUMERATED(in, s, buf, sizeof buf)
                                : a2i_ASN1_STRING(in, s, buf, sizeof buf);
    Check(r == 0 || r == 1, "a reader gives 0 or 1");
    ASN1_STRING_free(s);
    BIO_free(in);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const unsigned long flags = input.ConsumeIntegral<uint32_t>();
  const int dump = input.ConsumeIntegralInRange<int>(-1, 40);
  const int indent = input.ConsumeIntegralInRange<int>(-2, 140);
  const int type = kTypes[input.ConsumeIntegralInRange<size_t>(0, std::size(kTypes) - 1)];
  const std::string rest = input.ConsumeBytesAsString(input.remaining_bytes());
  Dump(rest, indent, dump);
  String(rest, type, flags);
  Name(rest, indent, flags);
  Structures(rest, flags);
  HexText(rest);
  ERR_clear_error();
  return 0;
}
