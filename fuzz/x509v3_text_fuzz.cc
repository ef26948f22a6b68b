// Fuzzes the text readers of extension values: the input, as one text, goes
// through the comma-separated list parser, the hexadecimal reader, the
// integer reader and the IP address readers.
//
// Checks: every pair of a parsed list has a name, and no name or value has
// white space at either end; hexadecimal bytes print back as upper-case text
// that reads back to the same bytes; a read integer prints as decimal text
// that reads back to the same integer; an address is 4 or 16 bytes, an
// address with mask 8 or 32, and an IPv6 address printed as eight groups
// reads back to the same bytes.  Every value is freed, so the leak check sees
// anything left behind.

#include "fuzz_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

namespace {

bool Space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool Trimmed(const char* s) {
  const size_t n = strlen(s);
  return n > 0 && !Space(s[0]) && !Space(s[n - 1]);
}

void FreeValue(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

void List(const char* text) {
  STACK* list = X509V3_parse_list(text);
  for (int i = 0; i < sk_num(list); i++) {
    auto* v = reinterpret_cast<CONF_VALUE*>(sk_value(list, i));
    Check(v->name != nullptr && Trimmed(v->name), "a stripped name");
    Check(v->value == nullptr || Trimmed(v->value), "a stripped value");
  }
  sk_pop_free(list, FreeValue);
}

void Hex(const char* text) {
  long len = -1;
  unsigned char* bytes = string_to_hex(text, &len);
  if (bytes == nullptr) return;
  Check(len >= 0 && static_cast<size_t>(len) <= strlen(text) / 2, "at most a byte per pair");
  char* back = hex_to_string(bytes, len);
  Check((back == nullptr) == (len == 0), "bytes print as text");
  if (back != nullptr) {
    long len2 = -1;
    unsigned char* again = string_to_hex(back, &len2);
    Check(again != nullptr && len2 == len && memcmp(again, bytes, static_cast<size_t>(len)) == 0,
          "printed bytes read back");
    MORVANE_free(again);
  }
  MORVANE_free(back);
  MORVANE_free(bytes);
}

void Integer(const char* text) {
  ASN1_INTEGER* a = s2i_ASN1_INTEGER(nullptr, text);
  if (a == nullptr) return;
  char* back = i2s_ASN1_INTEGER(nullptr, a);
  Check(back != nullptr, "an integer prints");
  ASN1_INTEGER* again = s2i_ASN1_INTEGER(nullptr, back);
  Check(again != nullptr && ASN1_STRING_cmp(a, again) == 0, "printed integer reads back");
  ASN1_INTEGER_free(again);
  MORVANE_free(back);
  ASN1_INTEGER_free(a);
}

void Address(const char* text) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(text);
  if (ip != nullptr) {
    Check(ip->length == 4 || ip->length == 16, "an address of 4 or 16 bytes");
    if (ip->length == 16) {
      char printed[64];
      const unsigned char* b = ip->data;
      snprintf(printed, sizeof printed, "%x:%x:%x:%x:%x:%x:%x:%x", b[0] << 8 | b[1],
               b[2] << 8 | b[3], b[4] << 8 | b[5], b[6] << 8 | b[7], b[8] << 8 | b[9],
               b[10] << 8 | b[11], b[12] << 8 | b[13], b[14] << 8 | b[15]);
      unsigned char again[16];
      Check(a2i_ipadd(again, printed) == 16 && memcmp(again, b, 16) == 0,
            "printed address reads back");
    }
    ASN1_OCTET_STRING_free(ip);
  }
  ASN1_OCTET_STRING* nc = a2i_IPADDRESS_NC(text);
  if (nc != nullptr) Check(nc->length == 8 || nc->length == 32, "address and mask of one family");
  ASN1_OCTET_STRING_free(nc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  List(text.c_str());
  Hex(text.c_str());
  Integer(text.c_str());
  Address(text.c_str());
  ERR_clear_error();
  return 0;
}
