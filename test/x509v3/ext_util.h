// Helpers of the extension-method tests: values through the registry's
// methods, from DER and from text, and their printed forms.
#ifndef MORVANE_TEST_X509V3_EXT_UTIL_H
#define MORVANE_TEST_X509V3_EXT_UTIL_H

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <ctype.h>

#include <string>

#include "test_support.h"

namespace v3_test {

// An extension of nid whose value octets are der.
inline X509_EXTENSION* ExtensionOf(int nid, const morvane_test::Bytes& der) {
  ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(os, der.data(), static_cast<int>(der.size()));
  X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, nid, 0, os);
  ASN1_OCTET_STRING_free(os);
  return ext;
}

// What a memory BIO holds.
inline std::string Contents(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  return std::string(data, n > 0 ? static_cast<size_t>(n) : 0);
}

// The extension printed by X509V3_EXT_print at indent; "<failed>" when the
// printer declines.
inline std::string Print(X509_EXTENSION* ext, int indent = 0) {
  BIO* out = BIO_new(BIO_s_mem());
  const int ok = X509V3_EXT_print(out, ext, 0, indent);
  std::string text = Contents(out);
  BIO_free(out);
  return ok ? text : "<failed>";
}

// The value octets of der (hex) under nid printed.
inline std::string PrintDer(int nid, const std::string& hex, int indent = 0) {
  X509_EXTENSION* ext = ExtensionOf(nid, morvane_test::FromHex(hex));
  std::string text = Print(ext, indent);
  X509_EXTENSION_free(ext);
  return text;
}

// The value's DER through the method of nid, as hex; "" when it fails.
inline std::string DerOf(int nid, void* value) {
  X509_EXTENSION* ext = X509V3_EXT_i2d(nid, 0, value);
  if (ext == nullptr) return "";
  std::string hex = morvane_test::ToHex(ext->value->data, ext->value->length);
  for (char& c : hex) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  X509_EXTENSION_free(ext);
  return hex;
}

// Frees a value through the method of nid.
inline void FreeValue(int nid, void* value) {
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
  if (value == nullptr || m == nullptr) return;
  if (m->it != nullptr)
    ASN1_item_free(static_cast<ASN1_VALUE*>(value), m->it);
  else
    m->ext_free(value);
}

inline void FreeList(STACK* list) {
  sk_pop_free(list, [](void* v) { X509V3_conf_free(static_cast<CONF_VALUE*>(v)); });
}

// The value built by the list builder (v2i) of nid from text split by
// X509V3_parse_list.
inline void* FromList(int nid, const char* text, X509V3_CTX* ctx = nullptr) {
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
  STACK* list = X509V3_parse_list(text);
  void* value = m->v2i(m, ctx, list);
  FreeList(list);
  return value;
}

// A configuration read from a file of test/data.
inline CONF* LoadConf(const std::string& relative) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_file(morvane_test::TestDataFile(relative).c_str(), "r");
  long eline = 0;
  if (in == nullptr || NCONF_load_bio(conf, in, &eline) != 1) {
    NCONF_free(conf);
    conf = nullptr;
  }
  BIO_free(in);
  return conf;
}

}  // namespace v3_test

#endif  // MORVANE_TEST_X509V3_EXT_UTIL_H
