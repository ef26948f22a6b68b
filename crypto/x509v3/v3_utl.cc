// Helpers of the extension builder over configuration values: booleans,
// integers and hexadecimal text.

#include <string.h>

#include <iterator>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

namespace {

constexpr const char* kTrue[] = {"TRUE", "true", "Y", "y", "YES", "yes"};
constexpr const char* kFalse[] = {"FALSE", "false", "N", "n", "NO", "no"};

bool one_of(const char* text, const char* const* list, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (strcmp(text, list[i]) == 0) return true;
  return false;
}

// The value of one hexadecimal digit, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

/* see morvane/x509v3.h */
int X509V3_get_value_bool(CONF_VALUE* value, int* asn1_bool) {
  const char* text = value->value;
  if (text != nullptr && one_of(text, kTrue, std::size(kTrue))) {
    *asn1_bool = 0xff;
    return 1;
  }
  if (text != nullptr && one_of(text, kFalse, std::size(kFalse))) {
    *asn1_bool = 0;
    return 1;
  }
  X509V3err(X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING);
  ERR_add_error_data(6, "section:", value->section, ",name:", value->name, ",value:", value->value);
  return 0;
}

/* see morvane/x509v3.h */
ASN1_INTEGER* s2i_ASN1_INTEGER(X509V3_EXT_METHOD* /*method*/, const char* value) {
  if (value == nullptr) {
    X509V3err(X509V3_F_S2I_ASN1_INTEGER, X509V3_R_INVALID_NULL_VALUE);
    return nullptr;
  }
  bool negative = false;
  if (value[0] == '-') {
    negative = true;
    value++;
  }
  const bool hex = value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
  if (hex) value += 2;
  BIGNUM* bn = nullptr;
  const int used = hex ? BN_hex2bn(&bn, value) : BN_dec2bn(&bn, value);
  if (used == 0 || value[used] != '\0') {
    BN_free(bn);
    X509V3err(X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_DEC2BN_ERROR);
    return nullptr;
  }
  if (BN_is_zero(bn)) negative = false;
  ASN1_INTEGER* aint = BN_to_ASN1_INTEGER(bn, nullptr);
  BN_free(bn);
  if (aint == nullptr) {
    X509V3err(X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_TO_ASN1_INTEGER_ERROR);
    return nullptr;
  }
  if (negative) aint->type |= ASN1_UT_NEG;
  return aint;
}

/* see morvane/x509v3.h */
unsigned char* string_to_hex(const char* str, long* len) {
  if (str == nullptr) {
    X509V3err(X509V3_F_STRING_TO_HEX, X509V3_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  // At most one byte for every two characters; a text too short for a pair
  // asks for nothing, which the allocator refuses.
  auto* out = static_cast<unsigned char*>(MORVANE_malloc(strlen(str) / 2));
  if (out == nullptr) {
    X509V3err(X509V3_F_STRING_TO_HEX, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* q = out;
  for (const char* p = str; *p != '\0';) {
    const char hi = *p++;
    if (hi == ':') continue;
    const char lo = *p++;
    if (lo == '\0') {
      MORVANE_free(out);
      X509V3err(X509V3_F_STRING_TO_HEX, X509V3_R_ODD_NUMBER_OF_DIGITS);
      return nullptr;
    }
    const int h = hex_value(hi), l = hex_value(lo);
    if (h < 0 || l < 0) {
      MORVANE_free(out);
      X509V3err(X509V3_F_STRING_TO_HEX, X509V3_R_ILLEGAL_HEX_DIGIT);
      return nullptr;
    }
    *q++ = static_cast<unsigned char>(h << 4 | l);
  }
  if (len != nullptr) *len = q - out;
  return out;
}
