// Fuzzes the text-to-DER generator: the input is a generator text, a
// backslash and one more character, then a configuration text whose sections
// SEQUENCE and SET may name.  The text runs through ASN1_generate_nconf with
// the configuration (whatever part of it loaded) and through
// ASN1_generate_v3 without one.
//
// Checks: a value generated encodes, and its encoding decodes and encodes
// again to the same octets; a text that needs no section gives the same value
// with or without the configuration.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

namespace {

// The encoding of t as a string ("" when there is no value).
std::string Encode(ASN1_TYPE* t) {
  if (t == nullptr) return "";
  unsigned char* der = nullptr;
  const int n = i2d_ASN1_TYPE(t, &der);
  Check(n > 0 && der != nullptr, "a generated value encodes");
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(n));
  MORVANE_free(der);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(out.data());
  ASN1_TYPE* back = d2i_ASN1_TYPE(nullptr, &p, n);
  Check(back != nullptr, "its encoding decodes");
  der = nullptr;
  const int m = i2d_ASN1_TYPE(back, &der);
  Check(m == n && memcmp(der, out.data(), static_cast<size_t>(n)) == 0, "and encodes again");
  MORVANE_free(der);
  ASN1_TYPE_free(back);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const std::string text = in.ConsumeRandomLengthString(4000);
  const std::string cnf_text = in.ConsumeBytesAsString(in.remaining_bytes());
  CONF* conf = NCONF_new(nullptr);
  Check(conf != nullptr, "a configuration");
  BIO* src = BIO_new_mem_buf(const_cast<char*>(cnf_text.data()), static_cast<int>(cnf_text.size()));
  long eline = 0;
  NCONF_load_bio(conf, src, &eline);
  BIO_free(src);

  ASN1_TYPE* with = ASN1_generate_nconf(text.c_str(), conf);
  const std::string a = Encode(with);
  ASN1_TYPE* without = ASN1_generate_v3(text.c_str(), nullptr);
  const std::string b = Encode(without);
  Check(without == nullptr || a == b, "no section, no difference");
  ASN1_TYPE_free(with);
  ASN1_TYPE_free(without);
  NCONF_free(conf);
  ERR_clear_error();
  return 0;
}
