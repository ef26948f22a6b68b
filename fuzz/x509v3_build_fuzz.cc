// Fuzzes the text builders of the built-in extension methods.  The first
// byte picks a NID of the built-in table; the rest is text handed to the
// method's v2i (after X509V3_parse_list), s2i and r2i with a context bound to
// a fixed configuration holding name, policy, notice and proxy sections.
//
// Checks: a value built encodes, and what it encodes decodes again (and
// prints); every value is freed, so the leak check sees what a failure path
// of a builder leaves behind.

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace {

// The NIDs of the built-in methods.
constexpr int kNids[] = {71,  72,  73,  74,  75,  76,  77,  78,  82,  83,  84,  85,  86,
                         87,  88,  89,  90,  103, 126, 140, 141, 142, 143, 177, 366, 367,
                         368, 369, 370, 371, 398, 401, 430, 663, 666, 747, 748};

constexpr char kConfig[] =
    "[dir]\nC = GB\nO = Example\nCN = Fuzz\n"
    "[other]\nfield = UTF8:text\n"
    "[pol]\npolicyIdentifier = 1.2.3.4\nCPS.1 = http://cps.example\nuserNotice.1 = @notice\n"
    "[notice]\nexplicitText = text\norganization = Org\nnoticeNumbers = 1, 2\n"
    "[pci]\nlanguage = id-ppl-anyLanguage\npolicy = text:abc\n";

CONF* Config() {
  static CONF* conf = [] {
    CONF* c = NCONF_new(nullptr);
    BIO* in = BIO_new_mem_buf(const_cast<char*>(kConfig), -1);
    Check(NCONF_load_bio(c, in, nullptr) == 1, "the fixed configuration loads");
    BIO_free(in);
    return c;
  }();
  return conf;
}

void FreeConfValue(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

void FreeValue(const X509V3_EXT_METHOD* m, void* value) {
  if (value == nullptr) return;
  if (m->it != nullptr)
    ASN1_item_free(static_cast<ASN1_VALUE*>(value), m->it);
  else
    m->ext_free(value);
}

// Encodes a value as an extension of nid, which must decode and print.
void Reencode(int nid, const X509V3_EXT_METHOD* m, void* value, BIO* out) {
  X509_EXTENSION* ext = X509V3_EXT_i2d(nid, 0, value);
  Check(ext != nullptr, "a built value encodes");
  void* again = X509V3_EXT_d2i(ext);
  Check(again != nullptr, "an encoded value decodes");
  FreeValue(m, again);
  X509V3_EXT_print(out, ext, X509V3_EXT_ERROR_UNKNOWN, 0);
  X509_EXTENSION_free(ext);
}

void Built(int nid, const X509V3_EXT_METHOD* m, void* value, BIO* out) {
  if (value == nullptr) return;
  Reencode(nid, m, value, out);
  FreeValue(m, value);
}

void Text(int nid, const X509V3_EXT_METHOD* m, const std::string& text, BIO* out) {
  // A proxy policy may name a file; the fuzzer reads none.
  if (text.find("file:") != std::string::npos) return;
  X509V3_CTX ctx = {};
  ctx.flags = X509V3_CTX_TEST;
  X509V3_set_nconf(&ctx, Config());
  if (m->v2i != nullptr) {
    STACK* list = X509V3_parse_list(text.c_str());
    if (list != nullptr) Built(nid, m, m->v2i(m, &ctx, list), out);
    sk_pop_free(list, FreeConfValue);
  }
  if (m->s2i != nullptr) Built(nid, m, m->s2i(m, &ctx, text.c_str()), out);
  if (m->r2i != nullptr) Built(nid, m, m->r2i(m, &ctx, text.c_str()), out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const int nid = kNids[data[0] % (sizeof(kNids) / sizeof(kNids[0]))];
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
  if (m == nullptr) return 0;
  BIO* out = BIO_new(BIO_s_mem());
  Check(out != nullptr, "a memory stream");
  Text(nid, m, std::string(reinterpret_cast<const char*>(data + 1), size - 1), out);
  BIO_free(out);
  ERR_clear_error();
  return 0;
}
