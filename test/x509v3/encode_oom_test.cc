// Encoders under failed allocations: every step of a name's, a request's, a
// signer's and an extension builder's encoding is failed in turn.  A call
// either fails with a reason or gives exactly the octets of the run without
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

constexpr int kAscii = 0x1001;
constexpr int kBasicConstraints = 87;
constexpr int kSubjectAltName = 85;
constexpr int kDesEde3Cbc = 44;
constexpr int kRc2Cbc = 37;
constexpr int kContentType = 50;
constexpr int kData = 21;

// A name of `multi` RDNs of two values each (CN+OU), then an O of its own.
X509_NAME* MultiName(int multi) {
  X509_NAME* nm = X509_NAME_new();
  const auto* v = reinterpret_cast<const unsigned char*>("v");
  for (int i = 0; i < multi; i++) {
    X509_NAME_add_entry_by_txt(nm, "OU", kAscii, v, -1, -1, 0);
    X509_NAME_add_entry_by_txt(nm, "CN", kAscii, v, -1, -1, -1);  // joins the OU
  }
  X509_NAME_add_entry_by_txt(nm, "O", kAscii, v, -1, -1, 0);
  return nm;
}

std::string Hex(int n, unsigned char* der) {
  std::string hex = n > 0 && der != nullptr ? morvane_test::ToHex(der, static_cast<size_t>(n)) : "";
  MORVANE_free(der);
  return hex;
}

// Encodes a new name of `multi` multi-valued RDNs with the n-th allocation
// failed (0: none), and again without failures into *again; "" on failure.
std::string NameDer(int multi, long n, std::string* again) {
  X509_NAME* nm = MultiName(multi);
  unsigned char* der = nullptr;
  FailAllocationAfter(n);
  const int len = i2d_X509_NAME(nm, &der);
  FailAllocationAfter(0);
  unsigned char* der2 = nullptr;
  const int len2 = i2d_X509_NAME(nm, &der2);
  *again = Hex(len2, der2);
  X509_NAME_free(nm);
  return Hex(len, der);
}

X509_REQ* RequestWithExtensions() {
  X509_REQ* req = X509_REQ_new();
  X509_NAME* nm = MultiName(2);
  X509_REQ_set_subject_name(req, nm);
  X509_NAME_free(nm);
  return req;
}

STACK* Extensions() {
  STACK* exts = sk_new_null();
  sk_push(exts, reinterpret_cast<char*>(X509V3_EXT_conf_nid(nullptr, nullptr, kBasicConstraints,
                                                            const_cast<char*>("CA:TRUE"))));
  sk_push(exts, reinterpret_cast<char*>(X509V3_EXT_conf_nid(
                    nullptr, nullptr, kSubjectAltName, const_cast<char*>("DNS:a.example"))));
  return exts;
}

void FreeExt(void* p) { X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p)); }

constexpr const char* kConf =
    "[ext]\n"
    "crlDistributionPoints = dirName:dn\n"
    "[dn]\n"
    "1.OU = a\n"
    "1.+CN = b\n"
    "2.OU = c\n"
    "2.+CN = d\n"
    "2.+O = e\n";

std::string NconfDer(long n, std::string*) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(kConf), -1);
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
  std::string hex;
  X509_EXTENSION* ext = ok == 1 ? X509_get_ext(x, 0) : nullptr;
  if (ext != nullptr) hex = morvane_test::ToHex(ext->value->data, ext->value->length);
  X509_free(x);
  NCONF_free(conf);
  return hex;
}

std::string ReqDer(long n, std::string* again) {
  X509_REQ* req = RequestWithExtensions();
  STACK* exts = Extensions();
  X509_REQ_add_extensions(req, exts);
  sk_pop_free(exts, FreeExt);
  unsigned char* der = nullptr;
  FailAllocationAfter(n);
  const int len = i2d_X509_REQ(req, &der);
  FailAllocationAfter(0);
  unsigned char* der2 = nullptr;
  const int len2 = i2d_X509_REQ(req, &der2);
  *again = Hex(len2, der2);
  X509_REQ_free(req);
  return Hex(len, der);
}

std::string AddExtensionsDer(long n, std::string*) {
  X509_REQ* req = RequestWithExtensions();
  STACK* exts = Extensions();
  FailAllocationAfter(n);
  const int ok = X509_REQ_add_extensions(req, exts);
  FailAllocationAfter(0);
  unsigned char* der = nullptr;
  const int len = ok == 1 ? i2d_X509_REQ(req, &der) : 0;
  sk_pop_free(exts, FreeExt);
  X509_REQ_free(req);
  return Hex(len, der);
}

std::string SmimecapDer(long n, std::string*) {
  PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
  STACK* cap = sk_new_null();
  PKCS7_simple_smimecap(cap, kDesEde3Cbc, -1);
  PKCS7_simple_smimecap(cap, kRc2Cbc, 128);
  PKCS7_add_signed_attribute(si, kContentType, ASN1_UT_OBJECT, OBJ_nid2obj(kData));
  FailAllocationAfter(n);
  const int ok = PKCS7_add_attrib_smimecap(si, cap);
  // The signed attributes are a SET OF: their sort allocates too.
  unsigned char* der = nullptr;
  const int len = ok == 1 ? i2d_PKCS7_SIGNER_INFO(si, &der) : 0;
  FailAllocationAfter(0);
  sk_pop_free(cap, [](void* a) { X509_ALGOR_free(static_cast<X509_ALGOR*>(a)); });
  PKCS7_SIGNER_INFO_free(si);
  return Hex(len, der);
}

struct Row {
  const char* what;
  // Builds and encodes with the n-th allocation failed (0: none); "" on
  // failure.  Where the row encodes an object it keeps, *again receives its
  // encoding made next, without failures.
  std::string (*run)(long n, std::string* again);
};

const Row kRows[] = {
    {"name, one multi-valued RDN", [](long n, std::string* a) { return NameDer(1, n, a); }},
    {"name, two multi-valued RDNs", [](long n, std::string* a) { return NameDer(2, n, a); }},
    {"name, three multi-valued RDNs", [](long n, std::string* a) { return NameDer(3, n, a); }},
    {"dirName of +-joined sections", NconfDer},
    {"request with extensions", ReqDer},
    {"extensions added to a request", AddExtensionsDer},
    {"signer with capabilities", SmimecapDer},
};

TEST(EncodeUnderFailedAllocation, SucceedsOnlyWithTheRightOctets) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    std::string again;
    const std::string want = row.run(0, &again);
    ASSERT_FALSE(want.empty());
    const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
    row.run(0, &again);
    const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
    const long steps = (after.mallocs - before.mallocs) + (after.reallocs - before.reallocs);
    int failures = 0;
    for (long n = 1; n <= steps; n++) {
      ERR_clear_error();
      again = want;
      const std::string got = row.run(n, &again);
      if (got.empty()) {
        failures++;
        EXPECT_NE(0u, ERR_peek_error()) << "no reason at allocation " << n;
      } else {
        EXPECT_EQ(want, got) << "allocation " << n;
      }
      EXPECT_EQ(want, again) << "after allocation " << n;
    }
    EXPECT_GT(failures, 0);
  }
  ERR_clear_error();
}

}  // namespace
