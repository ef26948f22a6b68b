// Encoders under failed allocations: each allocation of a name's, a
// request's, a signer's and an extension builder's encoding fails in turn.
// A call fails with a reason or gives the octets of the run without
// failures, and the next run without failures gives them again.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

using morvane_test::FailAllocationAfter;

// `multi` RDNs of OU+CN, then an O of its own.
X509_NAME* MultiName(int multi) {
  X509_NAME* nm = X509_NAME_new();
  const auto* v = reinterpret_cast<const unsigned char*>("v");
  for (int i = 0; i < multi; i++) {
    X509_NAME_add_entry_by_txt(nm, "OU", 0x1001, v, -1, -1, 0);
    X509_NAME_add_entry_by_txt(nm, "CN", 0x1001, v, -1, -1, -1);  // joins the OU
  }
  X509_NAME_add_entry_by_txt(nm, "O", 0x1001, v, -1, -1, 0);
  return nm;
}

// The encoding as hex ("" on failure), with allocation `fail` failed (-1:
// the hook left as it is).
template <class T>
std::string Der(T* obj, int (*i2d)(T*, unsigned char**), long fail = -1) {
  unsigned char* der = nullptr;
  if (fail >= 0) FailAllocationAfter(fail);
  const int n = i2d(obj, &der);
  if (fail >= 0) FailAllocationAfter(0);
  std::string hex = n > 0 ? morvane_test::ToHex(der, static_cast<size_t>(n)) : "";
  MORVANE_free(der);
  return hex;
}

// Encodes obj with allocation n failed, then again (into *again) without.
template <class T>
std::string Twice(T* obj, int (*i2d)(T*, unsigned char**), long n, std::string* again,
                  void (*free)(T*)) {
  const std::string first = Der(obj, i2d, n);
  *again = Der(obj, i2d);
  free(obj);
  return first;
}

X509_REQ* Request() {
  X509_REQ* req = X509_REQ_new();
  X509_NAME* nm = MultiName(2);
  X509_REQ_set_subject_name(req, nm);
  X509_NAME_free(nm);
  return req;
}

// Builds the extensions into a new request, allocation n failed; the
// request's encoding, or "".
std::string AddExtensions(long n, std::string*) {
  X509_REQ* req = Request();
  STACK* exts = sk_new_null();
  for (const char* v : {"CA:TRUE", "DNS:a.example"})
    sk_push(exts, reinterpret_cast<char*>(X509V3_EXT_conf_nid(nullptr, nullptr, *v == 'C' ? 87 : 85,
                                                              const_cast<char*>(v))));
  FailAllocationAfter(n);
  const int ok = X509_REQ_add_extensions(req, exts);
  FailAllocationAfter(0);
  sk_pop_free(exts, [](void* e) { X509_EXTENSION_free(static_cast<X509_EXTENSION*>(e)); });
  const std::string der = ok == 1 ? Der(req, i2d_X509_REQ) : "";
  X509_REQ_free(req);
  return der;
}

// A dirName of +-joined section lines (crlDistributionPoints).
std::string DirName(long n, std::string*) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>("[ext]\ncrlDistributionPoints = dirName:dn\n"
                                              "[dn]\n1.OU = a\n1.+CN = b\n2.OU = c\n2.+CN = d\n"
                                              "2.+O = e\n"),
                            -1);
  long line = 0;
  NCONF_load_bio(conf, in, &line);
  BIO_free(in);
  X509* x = X509_new();
  X509V3_CTX ctx = {};
  X509V3_set_ctx(&ctx, nullptr, x, nullptr, nullptr, 0);
  X509V3_set_nconf(&ctx, conf);
  FailAllocationAfter(n);
  const int ok = X509V3_EXT_add_nconf(conf, &ctx, "ext", x);
  FailAllocationAfter(0);
  X509_EXTENSION* ext = ok == 1 ? X509_get_ext(x, 0) : nullptr;
  std::string hex = ext != nullptr ? morvane_test::ToHex(ext->value->data, ext->value->length) : "";
  X509_free(x);
  NCONF_free(conf);
  return hex;
}

// Capabilities and the content type as signed attributes (a SET OF, sorted
// through allocations too).
std::string Signer(long n, std::string*) {
  PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
  STACK* cap = sk_new_null();
  PKCS7_simple_smimecap(cap, 44, -1);   // des-ede3-cbc
  PKCS7_simple_smimecap(cap, 37, 128);  // rc2-cbc
  PKCS7_add_signed_attribute(si, 50, ASN1_UT_OBJECT, OBJ_nid2obj(21));
  FailAllocationAfter(n);
  const int ok = PKCS7_add_attrib_smimecap(si, cap);
  const std::string der = ok == 1 ? Der(si, i2d_PKCS7_SIGNER_INFO) : "";
  FailAllocationAfter(0);
  sk_pop_free(cap, [](void* a) { X509_ALGOR_free(static_cast<X509_ALGOR*>(a)); });
  PKCS7_SIGNER_INFO_free(si);
  return der;
}

std::string Request(long n, std::string* again) {
  X509_REQ* req = Request();
  STACK* exts = sk_new_null();
  sk_push(exts, reinterpret_cast<char*>(X509V3_EXT_conf_nid(nullptr, nullptr, 87,
                                                            const_cast<char*>("CA:TRUE"))));
  X509_REQ_add_extensions(req, exts);
  sk_pop_free(exts, [](void* e) { X509_EXTENSION_free(static_cast<X509_EXTENSION*>(e)); });
  return Twice(req, i2d_X509_REQ, n, again, X509_REQ_free);
}

std::string Name(int multi, long n, std::string* again) {
  return Twice(MultiName(multi), i2d_X509_NAME, n, again, X509_NAME_free);
}

const struct {
  const char* what;
  std::string (*run)(long n, std::string* again);
} kRows[] = {
    {"one multi-valued RDN", [](long n, std::string* a) { return Name(1, n, a); }},
    {"two multi-valued RDNs", [](long n, std::string* a) { return Name(2, n, a); }},
    {"three multi-valued RDNs", [](long n, std::string* a) { return Name(3, n, a); }},
    {"dirName of +-joined lines", DirName},
    {"request with extensions", Request},
    {"extensions added to a request", AddExtensions},
    {"signer with capabilities", Signer},
};

TEST(EncodeUnderFailedAllocation, SucceedsOnlyWithTheRightOctets) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.what);
    std::string again;
    const std::string want = row.run(0, &again);
    ASSERT_FALSE(want.empty());
    const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
    row.run(0, &again);
    const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
    int failures = 0;
    for (long n = 1; n <= after.mallocs + after.reallocs - before.mallocs - before.reallocs; n++) {
      ERR_clear_error();
      again = want;  // rows that keep no object leave it so
      const std::string got = row.run(n, &again);
      failures += got.empty();
      if (got.empty())
        EXPECT_NE(0u, ERR_peek_error()) << "no reason at allocation " << n;
      else
        EXPECT_EQ(want, got) << "allocation " << n;
      EXPECT_EQ(want, again) << "after allocation " << n;
    }
    EXPECT_GT(failures, 0);
  }
  ERR_clear_error();
}

}  // namespace
