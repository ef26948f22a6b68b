// Helpers of the extension builder over configuration values.

#include <string.h>

#include <iterator>

#include <morvane/conf.h>
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
