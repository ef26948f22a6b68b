// Fuzzes the extension builder over configuration text: the input's first
// line names a section, the rest is a configuration file.  The section's
// lines are built into a certificate that has a fixed issuer (with a key
// identifier and alternative names) and a subject with an e-mail address,
// then each extension is decoded through its method and the list printed.
// The same section is built into a request and a revocation list.
//
// Checks: a section that builds adds at least as many extensions as it has
// lines; everything made is freed, so the leak check sees anything left
// behind on a failure path.

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

void AddLine(X509* x, const char* name, const char* value) {
  X509V3_CTX ctx = {};
  X509_EXTENSION* ex = X509V3_EXT_nconf(nullptr, &ctx, name, value);
  Check(ex != nullptr, "a fixed extension builds");
  X509_add_ext(x, ex, -1);
  X509_EXTENSION_free(ex);
}

X509* Issuer() {
  X509* x = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", 0x1001,
                             reinterpret_cast<const unsigned char*>("issuer"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(X509_get_issuer_name(x), "CN", 0x1001,
                             reinterpret_cast<const unsigned char*>("root"), -1, -1, 0);
  AddLine(x, "subjectKeyIdentifier", "01:02:03:04");
  AddLine(x, "subjectAltName", "DNS:ca.example,email:ca@example");
  return x;
}

X509* Subject() {
  X509* x = X509_new();
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "emailAddress", 0x1001,
                             reinterpret_cast<const unsigned char*>("s@example"), -1, -1, 0);
  ASN1_STRING_set(x->cert_info->key->public_key, "key bits", 8);
  return x;
}

void Decode(STACK* exts) {
  BIO* out = BIO_new(BIO_s_null());
  for (int i = 0; i < sk_num(exts); i++) {
    auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(exts, i));
    const X509V3_EXT_METHOD* m = X509V3_EXT_get(ex);
    if (m == nullptr) continue;
    void* value = X509V3_EXT_d2i(ex);
    if (value == nullptr) continue;
    if (m->it != nullptr)
      ASN1_item_free(static_cast<ASN1_VALUE*>(value), m->it);
    else if (m->ext_free != nullptr)
      m->ext_free(value);
  }
  X509V3_extensions_print(out, "Extensions", exts, X509V3_EXT_PARSE_UNKNOWN, 4);
  BIO_free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  if (nl == std::string::npos || input.find('\0') != std::string::npos) return 0;
  const std::string section = input.substr(0, nl);
  const std::string text = input.substr(nl + 1);

  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  long line = 0;
  if (NCONF_load_bio(conf, in, &line) == 1) {
    X509* issuer = Issuer();
    X509* subject = Subject();
    X509V3_CTX ctx = {};
    X509V3_set_ctx(&ctx, issuer, subject, nullptr, nullptr, 0);
    X509V3_set_nconf(&ctx, conf);
    if (X509V3_EXT_add_nconf(conf, &ctx, section.c_str(), subject) == 1) {
      const int made = subject->cert_info->extensions != nullptr
                           ? sk_num(subject->cert_info->extensions)
                           : 0;
      Check(made >= sk_num(NCONF_get_section(conf, section.c_str())), "one extension a line");
    }
    Decode(subject->cert_info->extensions);

    X509_REQ* req = X509_REQ_new();
    ctx.subject_cert = nullptr;
    ctx.subject_req = req;
    X509V3_EXT_REQ_add_nconf(conf, &ctx, section.c_str(), req);
    X509_REQ_free(req);

    X509_CRL* crl = X509_CRL_new();
    ctx.subject_req = nullptr;
    ctx.crl = crl;
    X509V3_EXT_CRL_add_nconf(conf, &ctx, section.c_str(), crl);
    Decode(crl->crl->extensions);
    X509_CRL_free(crl);
    X509_free(subject);
    X509_free(issuer);
  }
  BIO_free(in);
  NCONF_free(conf);
  ERR_clear_error();
  return 0;
}
