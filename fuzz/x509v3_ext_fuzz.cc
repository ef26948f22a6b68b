// Fuzzes the built-in extension methods over outside input: the first byte
// picks one of the NIDs that have a built-in method, the rest is the
// extension's value.  The value is decoded through the method, encoded
// again, printed through every printer the method has and through
// X509V3_EXT_print with each fallback, and then read back through the
// method's text builder from what its list printer gave.
//
// Checks: a value that decodes encodes again, and what it encodes decodes
// as well; every value and list is freed, so the leak check sees anything
// left behind.

#include "fuzz_check.h"

#include <cstdint>
#include <vector>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace {

std::vector<int> BuiltInNids() {
  std::vector<int> nids;
  for (int nid = 1; nid < 1000; nid++)
    if (X509V3_EXT_get_nid(nid) != nullptr) nids.push_back(nid);
  return nids;
}

void FreeValue(const X509V3_EXT_METHOD* m, void* value) {
  if (m->it != nullptr)
    ASN1_item_free(static_cast<ASN1_VALUE*>(value), m->it);
  else if (m->ext_free != nullptr)
    m->ext_free(value);
}

void FreePair(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<int> nids = BuiltInNids();
  if (size < 1 || nids.empty()) return 0;
  const int nid = nids[data[0] % nids.size()];
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);

  ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(octets, data + 1, static_cast<int>(size - 1));
  X509_EXTENSION* ex = X509_EXTENSION_create_by_NID(nullptr, nid, 0, octets);
  ASN1_OCTET_STRING_free(octets);
  Check(ex != nullptr, "an extension is made");

  BIO* out = BIO_new(BIO_s_null());
  for (unsigned long flag : {X509V3_EXT_DEFAULT, X509V3_EXT_ERROR_UNKNOWN,
                             X509V3_EXT_PARSE_UNKNOWN, X509V3_EXT_DUMP_UNKNOWN})
    X509V3_EXT_print(out, ex, flag, 2);

  void* value = X509V3_EXT_d2i(ex);
  if (value != nullptr) {
    X509_EXTENSION* again = X509V3_EXT_i2d(nid, 1, value);
    Check(again != nullptr, "a decoded value encodes");
    void* back = X509V3_EXT_d2i(again);
    Check(back != nullptr, "an encoded value decodes");
    FreeValue(m, back);
    X509_EXTENSION_free(again);

    if (m->i2s != nullptr) {
      char* s = m->i2s(m, value);
      if (s != nullptr && m->s2i != nullptr) {
        X509V3_CTX ctx = {};
        ctx.flags = X509V3_CTX_TEST;
        void* built = m->s2i(m, &ctx, s);
        if (built != nullptr) FreeValue(m, built);
      }
      CRYPTO_free(s);
    }
    if (m->i2v != nullptr) {
      STACK* pairs = m->i2v(m, value, nullptr);
      X509V3_EXT_val_prn(out, pairs, 2, 1);
      if (pairs != nullptr && m->v2i != nullptr) {
        X509V3_CTX ctx = {};
        ctx.flags = X509V3_CTX_TEST;
        void* built = m->v2i(m, &ctx, pairs);
        if (built != nullptr) FreeValue(m, built);
      }
      sk_pop_free(pairs, FreePair);
    }
    if (m->i2r != nullptr) m->i2r(m, value, out, 2);
    FreeValue(m, value);
  }
  BIO_free(out);
  X509_EXTENSION_free(ex);
  ERR_clear_error();
  return 0;
}
