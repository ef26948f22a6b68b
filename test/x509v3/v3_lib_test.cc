// The extension registry with methods the tests register, searching and
// adding extensions by NID, and printing extension values.  The registry is
// process-wide: each test clears it at its end (CTest runs each test in a
// process of its own).

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <string>
#include <utility>

#include "scripted_stream.h"
#include "test_support.h"

namespace {

// NIDs of extension types that have no built-in method, so that the
// methods the tests register serve them (RFC 5280 object identifiers).
constexpr int kSubjectKeyId = 857;     // 2.5.29.46 freshestCRL, here an OCTET STRING
constexpr int kKeyUsage = 769;         // 2.5.29.9 subjectDirectoryAttributes
constexpr int kSubjectAltName = 771;   // 2.5.29.29 certificateIssuer
constexpr int kCrlNumber = 770;        // 2.5.29.28 issuingDistributionPoint, here an INTEGER

// An OCTET STRING value through the template, printed as hexadecimal text.
char* OctetsText(const X509V3_EXT_METHOD*, void* value) {
  auto* s = static_cast<ASN1_OCTET_STRING*>(value);
  return hex_to_string(s->data, s->length);
}

// An INTEGER value through the legacy functions, printed as a list.
void* IntegerD2i(void*, const unsigned char** in, long len) {
  return d2i_ASN1_INTEGER(nullptr, in, len);
}
int IntegerI2d(void* value, unsigned char** out) {
  return i2d_ASN1_INTEGER(static_cast<ASN1_INTEGER*>(value), out);
}
void IntegerFree(void* value) {
  ASN1_INTEGER_free(static_cast<ASN1_INTEGER*>(value));
}
STACK* IntegerList(const X509V3_EXT_METHOD*, void* value, STACK* list) {
  X509V3_add_value_int("number", static_cast<ASN1_INTEGER*>(value), &list);
  X509V3_add_value("kind", "integer", &list);
  return list;
}

X509V3_EXT_METHOD OctetsMethod() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = kSubjectKeyId;
  m.it = &ASN1_OCTET_STRING_it;
  m.i2s = OctetsText;
  return m;
}

// A printer that writes part of a value and then fails.
int HalfPrinted(const X509V3_EXT_METHOD*, void*, BIO* out, int indent) {
  BIO_printf(out, "%*shalf", indent, "");
  return 0;
}

X509V3_EXT_METHOD HalfPrintedMethod() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = kKeyUsage;
  m.it = &ASN1_OCTET_STRING_it;
  m.i2r = HalfPrinted;
  return m;
}

X509V3_EXT_METHOD IntegerMethod(int flags) {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = kCrlNumber;
  m.ext_flags = flags;
  m.d2i = IntegerD2i;
  m.i2d = IntegerI2d;
  m.ext_free = IntegerFree;
  m.i2v = IntegerList;
  return m;
}

// An extension of nid whose value octets are the DER given in hex.
X509_EXTENSION* RawExtension(int nid, const std::string& der_hex, int crit = 0) {
  const morvane_test::Bytes der = morvane_test::FromHex(der_hex);
  ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(octets, der.data(), static_cast<int>(der.size()));
  X509_EXTENSION* ex = X509_EXTENSION_create_by_NID(nullptr, nid, crit, octets);
  ASN1_OCTET_STRING_free(octets);
  return ex;
}

void FreeExtension(void* p) {
  X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p));
}

std::string Printed(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(n > 0 ? n : 0));
}

TEST(X509v3Registry, AddAliasListAndCleanup) {
  X509V3_EXT_METHOD octets = OctetsMethod();
  EXPECT_EQ(nullptr, X509V3_EXT_get_nid(kSubjectKeyId));
  ASSERT_EQ(1, X509V3_EXT_add(&octets));
  EXPECT_EQ(&octets, X509V3_EXT_get_nid(kSubjectKeyId));  // the caller's record itself
  EXPECT_EQ(nullptr, X509V3_EXT_get_nid(-1));
  EXPECT_EQ(nullptr, X509V3_EXT_get_nid(kKeyUsage));

  ASSERT_EQ(1, X509V3_EXT_add_alias(kKeyUsage, kSubjectKeyId));
  const X509V3_EXT_METHOD* alias = X509V3_EXT_get_nid(kKeyUsage);
  ASSERT_NE(nullptr, alias);
  EXPECT_EQ(kKeyUsage, alias->ext_nid);
  EXPECT_EQ(X509V3_EXT_DYNAMIC, alias->ext_flags);
  EXPECT_EQ(OctetsText, alias->i2s);
  EXPECT_EQ(0, X509V3_EXT_add_alias(kKeyUsage, 9999));
  EXPECT_ERRORS(
      {{ERR_LIB_X509V3, X509V3_F_X509V3_EXT_ADD_ALIAS, X509V3_R_EXTENSION_NOT_FOUND}});

  X509V3_EXT_METHOD list[3] = {IntegerMethod(0), IntegerMethod(0), {}};
  list[1].ext_nid = kSubjectAltName;
  list[2].ext_nid = -1;
  ASSERT_EQ(1, X509V3_EXT_add_list(list));
  EXPECT_EQ(&list[0], X509V3_EXT_get_nid(kCrlNumber));
  EXPECT_EQ(&list[1], X509V3_EXT_get_nid(kSubjectAltName));

  X509_EXTENSION* ex = RawExtension(kSubjectAltName, "3000");
  EXPECT_EQ(&list[1], X509V3_EXT_get(ex));
  X509_EXTENSION_free(ex);
  EXPECT_EQ(1, X509V3_add_standard_extensions());

  X509V3_EXT_cleanup();  // frees the alias record; the caller's stay
  EXPECT_EQ(nullptr, X509V3_EXT_get_nid(kSubjectKeyId));
  EXPECT_EQ(nullptr, X509V3_EXT_get_nid(kKeyUsage));
  EXPECT_EQ(kSubjectKeyId, octets.ext_nid);
  X509V3_EXT_cleanup();
  EXPECT_ERRORS({});
}

TEST(X509v3Registry, DecodeThroughTheMethod) {
  X509V3_EXT_METHOD octets = OctetsMethod(), integer = IntegerMethod(0);
  ASSERT_EQ(1, X509V3_EXT_add(&octets));
  ASSERT_EQ(1, X509V3_EXT_add(&integer));
  X509_EXTENSION* skid = RawExtension(kSubjectKeyId, "0402abcd");
  auto* s = static_cast<ASN1_OCTET_STRING*>(X509V3_EXT_d2i(skid));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("abcd", morvane_test::ToHex(s->data, static_cast<size_t>(s->length)));
  ASN1_OCTET_STRING_free(s);
  X509_EXTENSION* num = RawExtension(kCrlNumber, "02020100");
  auto* n = static_cast<ASN1_INTEGER*>(X509V3_EXT_d2i(num));
  ASSERT_NE(nullptr, n);
  EXPECT_EQ(256, ASN1_INTEGER_get(n));
  ASN1_INTEGER_free(n);
  X509_EXTENSION* bad = RawExtension(kCrlNumber, "0402abcd");
  EXPECT_EQ(nullptr, X509V3_EXT_d2i(bad));
  ERR_clear_error();
  // Bytes after the value's DER, through the template or the d2i function.
  const std::pair<int, const char*> tails[] = {{kSubjectKeyId, "0402abcd00"},
                                               {kCrlNumber, "0201010000"}};
  for (const auto& [nid, der] : tails) {
    X509_EXTENSION* e = RawExtension(nid, der);
    EXPECT_EQ(nullptr, X509V3_EXT_d2i(e)) << der;
    EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_EXT_D2I, X509V3_R_EXTENSION_VALUE_ERROR}});
    X509_EXTENSION_free(e);
  }
  X509_EXTENSION* none = RawExtension(kSubjectAltName, "3000");
  EXPECT_EQ(nullptr, X509V3_EXT_d2i(none));
  EXPECT_ERRORS({});
  for (X509_EXTENSION* e : {skid, num, bad, none}) X509_EXTENSION_free(e);
  X509V3_EXT_cleanup();
}

TEST(X509v3Registry, SearchAndDecode) {
  X509V3_EXT_METHOD octets = OctetsMethod();
  ASSERT_EQ(1, X509V3_EXT_add(&octets));
  STACK* list = sk_new_null();
  sk_push(list, reinterpret_cast<char*>(RawExtension(kCrlNumber, "020101")));
  sk_push(list, reinterpret_cast<char*>(RawExtension(kSubjectKeyId, "040101", 1)));
  sk_push(list, reinterpret_cast<char*>(RawExtension(kCrlNumber, "020102")));
  sk_push(list, reinterpret_cast<char*>(RawExtension(kSubjectKeyId, "040102")));

  int crit = 9, idx = 9;
  EXPECT_EQ(nullptr, X509V3_get_d2i(list, kSubjectKeyId, &crit, nullptr));
  EXPECT_EQ(-2, crit);  // occurs twice

  struct Step {
    int crit;
    int idx;
    const char* value;  // null: none
  };
  idx = -1;
  for (const Step& want : {Step{1, 1, "01"}, Step{0, 3, "02"}, Step{-1, -1, nullptr}}) {
    auto* s = static_cast<ASN1_OCTET_STRING*>(X509V3_get_d2i(list, kSubjectKeyId, &crit, &idx));
    EXPECT_EQ(want.crit, crit);
    EXPECT_EQ(want.idx, idx);
    if (want.value == nullptr) {
      EXPECT_EQ(nullptr, s);
    } else {
      ASSERT_NE(nullptr, s);
      EXPECT_EQ(want.value, morvane_test::ToHex(s->data, static_cast<size_t>(s->length)));
    }
    ASN1_OCTET_STRING_free(s);
  }
  crit = idx = 9;
  EXPECT_EQ(nullptr, X509V3_get_d2i(list, kSubjectAltName, &crit, &idx));
  EXPECT_EQ(-1, crit);
  EXPECT_EQ(-1, idx);
  crit = 9;
  EXPECT_EQ(nullptr, X509V3_get_d2i(nullptr, kSubjectAltName, &crit, nullptr));
  EXPECT_EQ(-1, crit);
  // A type without method is found but not decoded.
  crit = 9;
  EXPECT_EQ(nullptr, X509V3_get_d2i(list, kCrlNumber, &crit, &(idx = 0)));
  EXPECT_EQ(0, crit);
  EXPECT_EQ(2, idx);
  EXPECT_ERRORS({});
  sk_pop_free(list, FreeExtension);
  X509V3_EXT_cleanup();
}

// The NIDs of the list, in order, with '*' after a critical one.
std::string Nids(STACK* list) {
  std::string out;
  for (int i = 0; i < sk_num(list); i++) {
    auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(list, i));
    out += std::to_string(OBJ_obj2nid(X509_EXTENSION_get_object(ex)));
    if (X509_EXTENSION_get_critical(ex)) out += "*";
    out += " ";
  }
  return out;
}

TEST(X509v3Registry, EncodeAndAdd) {
  X509V3_EXT_METHOD octets = OctetsMethod(), integer = IntegerMethod(0);
  ASSERT_EQ(1, X509V3_EXT_add(&octets));
  ASSERT_EQ(1, X509V3_EXT_add(&integer));
  ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(value, "\x01\x02", 2);
  ASN1_INTEGER* number = ASN1_INTEGER_new();
  ASN1_INTEGER_set(number, 5);

  STACK* list = nullptr;
  EXPECT_EQ(1, X509V3_add1_i2d(&list, kSubjectKeyId, value, 0, X509V3_ADD_DEFAULT));
  EXPECT_EQ(1, X509V3_add1_i2d(&list, kCrlNumber, number, 1, X509V3_ADD_DEFAULT));
  EXPECT_EQ("857 770* ", Nids(list));
  ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(
      reinterpret_cast<X509_EXTENSION*>(sk_value(list, 1)));
  EXPECT_EQ("020105", morvane_test::ToHex(data->data, static_cast<size_t>(data->length)));
  EXPECT_ERRORS({});

  struct Case {
    int nid;
    unsigned long flags;
    int crit;
    int result;
    int reason;  // queued, or 0
    const char* after;
  };
  const Case cases[] = {
      {kSubjectKeyId, 0x0, 0, 0, X509V3_R_EXTENSION_EXISTS, "857 770* "},
      {kSubjectKeyId, 0x10, 0, 0, 0, "857 770* "},
      {kSubjectKeyId, 0x14, 1, 1, 0, "857 770* "},
      {kSubjectAltName, 0x13, 0, 0, 0, "857 770* "},
      {kSubjectAltName, 0x3, 0, 0, X509V3_R_EXTENSION_NOT_FOUND, "857 770* "},
      {kSubjectAltName, 0x5, 0, 0, X509V3_R_EXTENSION_NOT_FOUND, "857 770* "},
      {kSubjectKeyId, 0x1, 0, 1, 0, "857 770* 857 "},
      {kSubjectKeyId, 0x2, 1, 1, 0, "857* 770* 857 "},
      {kSubjectKeyId, 0x3, 0, 1, 0, "857 770* 857 "},
      {kSubjectKeyId, 0x5, 0, 1, 0, "770* 857 "},
      {kSubjectKeyId, 0x4, 1, 1, 0, "770* 857 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, X509V3_add1_i2d(&list, c.nid, value, c.crit, c.flags)) << c.flags;
    EXPECT_EQ(c.after, Nids(list)) << c.flags;
    if (c.reason != 0)
      EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_ADD1_I2D, c.reason}});
    else
      EXPECT_ERRORS({});
  }
  // A type without method cannot be encoded, silent or not.
  EXPECT_EQ(0, X509V3_add1_i2d(&list, kSubjectAltName, value, 0, 0x12));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_EXT_I2D, X509V3_R_UNKNOWN_EXTENSION},
                 {ERR_LIB_X509V3, X509V3_F_X509V3_ADD1_I2D, X509V3_R_ERROR_CREATING_EXTENSION}});
  EXPECT_EQ("770* 857 ", Nids(list));

  // The per-object forms act on the object's own list.
  X509* cert = X509_new();
  X509_CRL* crl = X509_CRL_new();
  EXPECT_EQ(1, X509_add1_ext_i2d(cert, kCrlNumber, number, 0, 0));
  EXPECT_EQ(1, X509_CRL_add1_ext_i2d(crl, kSubjectKeyId, value, 1, 0));
  int crit = 9;
  auto* n = static_cast<ASN1_INTEGER*>(X509_get_ext_d2i(cert, kCrlNumber, &crit, nullptr));
  EXPECT_EQ(5, ASN1_INTEGER_get(n));
  EXPECT_EQ(0, crit);
  ASN1_INTEGER_free(n);
  auto* s = static_cast<ASN1_OCTET_STRING*>(X509_CRL_get_ext_d2i(crl, kSubjectKeyId, &crit, nullptr));
  EXPECT_EQ(0, ASN1_STRING_cmp(value, s));
  EXPECT_EQ(1, crit);
  ASN1_OCTET_STRING_free(s);
  EXPECT_EQ(1, X509_get_ext_count(cert));
  X509_free(cert);
  X509_CRL_free(crl);

  sk_pop_free(list, FreeExtension);
  ASN1_OCTET_STRING_free(value);
  ASN1_INTEGER_free(number);
  X509V3_EXT_cleanup();
}

// Whichever allocation of an add fails, the result says so with its
// reason queued: 0 with "error creating extension" while the extension is
// made, -1 with "malloc failure" when the object's list cannot be made or
// take it.  The object keeps no list either way.
TEST(X509v3RegistryAlloc, AddWithoutMemory) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  constexpr int kBuiltInCrlNumber = 88;  // 2.5.29.20 cRLNumber
  ASN1_INTEGER* number = ASN1_INTEGER_new();
  ASN1_INTEGER_set(number, 5);
  // The thread's error state is made once, before the counting starts.
  ERR_put_error(ERR_LIB_X509V3, 0, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
  ERR_clear_error();
  const auto allocations = [] {
    const morvane_test::AllocCounts n = morvane_test::GetAllocCounts();
    return n.mallocs + n.reallocs;
  };
  X509* whole = X509_new();
  const long before = allocations();
  ASSERT_EQ(1, X509_add1_ext_i2d(whole, kBuiltInCrlNumber, number, 0, 0));
  const long n = allocations() - before;
  X509_free(whole);
  int list_failures = 0;
  for (long k = 1; k <= n; k++) {
    X509* cert = X509_new();
    morvane_test::FailAllocationAfter(k);
    const int r = X509_add1_ext_i2d(cert, kBuiltInCrlNumber, number, 0, 0);
    morvane_test::FailAllocationAfter(0);
    EXPECT_EQ(nullptr, cert->cert_info->extensions) << k;
    if (r == -1) {
      list_failures++;
      EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_ADD1_I2D, ERR_R_MALLOC_FAILURE}}) << k;
    } else {
      EXPECT_EQ(0, r) << k;
      EXPECT_EQ(ERR_PACK(ERR_LIB_X509V3, X509V3_F_X509V3_ADD1_I2D,
                         X509V3_R_ERROR_CREATING_EXTENSION),
                ERR_peek_last_error())
          << k;
      ERR_clear_error();
    }
    X509_free(cert);
  }
  EXPECT_GT(list_failures, 0);
  ASN1_INTEGER_free(number);
}

std::string ValuePrinted(STACK* values, int indent, int ml) {
  BIO* bio = BIO_new(BIO_s_mem());
  X509V3_EXT_val_prn(bio, values, indent, ml);
  std::string out = Printed(bio);
  BIO_free(bio);
  return out;
}

void FreeValue(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

TEST(X509v3Print, ValueLists) {
  STACK* values = nullptr;
  X509V3_add_value("DNS", "a.b", &values);
  X509V3_add_value(nullptr, "only value", &values);
  X509V3_add_value("only name", nullptr, &values);
  EXPECT_EQ("  DNS:a.b, only value, only name", ValuePrinted(values, 2, 0));
  EXPECT_EQ("  DNS:a.b\n  only value\n  only name\n", ValuePrinted(values, 2, 1));
  STACK* empty = sk_new_null();
  EXPECT_EQ("   <EMPTY>\n", ValuePrinted(empty, 3, 0));
  EXPECT_EQ("   <EMPTY>\n", ValuePrinted(empty, 3, 1));
  EXPECT_EQ("", ValuePrinted(nullptr, 3, 1));
  sk_free(empty);
  sk_pop_free(values, FreeValue);
}

std::string ExtPrinted(X509_EXTENSION* ex, unsigned long flag, int indent, int* ret) {
  BIO* bio = BIO_new(BIO_s_mem());
  *ret = X509V3_EXT_print(bio, ex, flag, indent);
  std::string out = Printed(bio);
  BIO_free(bio);
  return out;
}

// Whichever allocation of a listing fails, a value goes out whole (with
// its newline) or not at all.  Before, without memory for the value's
// buffer the value was printed to the stream directly and the call then
// failed after it.
TEST(X509v3PrintAlloc, AValueGoesOutWholeOrNotAtAll) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  X509V3_EXT_METHOD octets = OctetsMethod();
  ASSERT_EQ(1, X509V3_EXT_add(&octets));
  STACK* list = sk_new_null();
  sk_push(list, reinterpret_cast<char*>(RawExtension(kSubjectKeyId, "04020aff")));
  // The thread's error state is made once, before the counting starts.
  ERR_put_error(ERR_LIB_X509V3, 0, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
  ERR_clear_error();
  const auto allocations = [] {
    const morvane_test::AllocCounts n = morvane_test::GetAllocCounts();
    return n.mallocs + n.reallocs;
  };
  const long before = allocations();
  BIO* whole = morvane_test::NewScriptedStream();
  const long after_stream = allocations();
  ASSERT_EQ(1, X509V3_extensions_print(whole, "T", list, 0, 2));
  const long n = allocations() - after_stream;
  EXPECT_EQ("  T:\n      X509v3 Freshest CRL: \n          0A:FF\n",
            morvane_test::Script(whole).output);
  BIO_free(whole);
  ASSERT_GT(after_stream, before);
  int failures = 0;
  for (long k = 1; k <= n; k++) {
    BIO* out = morvane_test::NewScriptedStream();
    morvane_test::FailAllocationAfter(k);
    const int r = X509V3_extensions_print(out, "T", list, 0, 2);
    morvane_test::FailAllocationAfter(0);
    const std::string text = morvane_test::Script(out).output;
    BIO_free(out);
    ERR_clear_error();
    // A method that fails for memory is taken for one that declines: the
    // raw octets then stand for the value.
    if (r == 1) continue;
    failures++;
    EXPECT_TRUE(text.find("0A:FF") == std::string::npos || text.ends_with("0A:FF\n"))
        << k << ": " << text;
  }
  EXPECT_GT(failures, 0);
  sk_pop_free(list, FreeExtension);
  X509V3_EXT_cleanup();
}

TEST(X509v3Print, ThroughTheMethodsOrTheFallback) {
  X509V3_EXT_METHOD octets = OctetsMethod(), integer = IntegerMethod(0), half = HalfPrintedMethod();
  ASSERT_EQ(1, X509V3_EXT_add(&octets));
  ASSERT_EQ(1, X509V3_EXT_add(&integer));
  ASSERT_EQ(1, X509V3_EXT_add(&half));
  X509_EXTENSION* skid = RawExtension(kSubjectKeyId, "04020aff");
  X509_EXTENSION* num = RawExtension(kCrlNumber, "020107");
  X509_EXTENSION* bad = RawExtension(kCrlNumber, "0402abcd");
  X509_EXTENSION* none = RawExtension(kSubjectAltName, "3000");
  int ret = -1;
  EXPECT_EQ("  0A:FF", ExtPrinted(skid, 0, 2, &ret));
  EXPECT_EQ(1, ret);
  EXPECT_EQ(" number:7, kind:integer", ExtPrinted(num, 0, 1, &ret));
  EXPECT_EQ(1, ret);
  integer.ext_flags = X509V3_EXT_MULTILINE;
  EXPECT_EQ(" number:7\n kind:integer\n", ExtPrinted(num, 0, 1, &ret));
  EXPECT_EQ(1, ret);

  struct Case {
    X509_EXTENSION* ex;
    unsigned long flag;
    const char* text;
    int ret;
  };
  const Case cases[] = {
      {none, 0, "", 0},
      {bad, 0, "", 0},
      {none, 0x10000, "    <Not Supported>", 1},
      {bad, 0x10000, "    <Parse Error>", 1},
      {none, 0x40000, "", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, ExtPrinted(c.ex, c.flag, 4, &ret)) << c.flag;
    EXPECT_EQ(c.ret, ret) << c.flag;
  }
  ERR_clear_error();
  // The DER and hexadecimal dumps are those of the value's octets.
  BIO* want = BIO_new(BIO_s_mem());
  const unsigned char der[] = {0x30, 0x00};
  const int parsed = ASN1_parse_dump(want, der, 2, 4, -1);
  EXPECT_EQ(Printed(want), ExtPrinted(none, 0x20000, 4, &ret));
  EXPECT_EQ(parsed, ret);
  BIO_free(want);
  want = BIO_new(BIO_s_mem());
  const int dumped = BIO_dump_indent(want, reinterpret_cast<const char*>(der), 2, 4);
  EXPECT_EQ(Printed(want), ExtPrinted(none, 0x30000, 4, &ret));
  EXPECT_EQ(dumped, ret);
  BIO_free(want);

  // A printer that fails halfway leaves nothing of its own before the raw
  // octets; before, its part stood in front of them.
  STACK* list = sk_new_null();
  sk_push(list, reinterpret_cast<char*>(skid));
  sk_push(list, reinterpret_cast<char*>(none));
  sk_push(list, reinterpret_cast<char*>(RawExtension(kKeyUsage, "04024142")));
  BIO* bio = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, X509V3_extensions_print(bio, "X509v3 extensions", list, 0x10000, 2));
  EXPECT_EQ(
      "  X509v3 extensions:\n"
      "      X509v3 Freshest CRL: \n"
      "          0A:FF\n"
      "      X509v3 Certificate Issuer: \n"
      "          <Not Supported>\n"
      "      X509v3 Subject Directory Attributes: \n"
      "          ..AB\n",
      Printed(bio));
  BIO_free(bio);
  sk_pop_free(list, FreeExtension);
  X509_EXTENSION_free(num);
  X509_EXTENSION_free(bad);
  X509V3_EXT_cleanup();
}

}  // namespace
