// The verifier's signature marks name the key that checked a signature: one
// certificate or revocation list object verified in turn against stores
// whose issuer has one name but two keys is judged under each key as a
// fresh copy would be; and a decoded list's signature is verified once per
// key, not at every verification.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "chain_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using namespace x509_test;
using morvane_test::CertSpec;

// Root1 and Root2 share the name Root but not the key; Root1's key signs
// Leaf1 and CA, Root2's Leaf2; the test key (CA's) signs LeafOfCa.  RootCrl
// is Root1's (decoded), revoking nothing of these.
enum Id { Root1, Root2, Leaf1, Leaf2, Ca, LeafOfCa };

struct Objects {
  Objects() {
    const std::vector<CertSpec> specs = {
        {"Root", "", 2, 1, kCaExts, RsaKey(), RsaKey()},
        {"Root", "", 2, 2, kCaExts, RsaKey2(), RsaKey2()},
        {"Leaf1", "Root", 2, 3, kLeafExts, nullptr, RsaKey()},
        {"Leaf2", "Root", 2, 4, kLeafExts, nullptr, RsaKey2()},
        {"CA", "Root", 2, 5, kCaExts, nullptr, RsaKey()},
        {"LeafOfCa", "CA", 2, 6, kLeafExts},
    };
    for (const CertSpec& s : specs) {
      X509* x = morvane_test::MakeCert(s);
      certs.push_back(Decode(d2i_X509, Encode(i2d_X509, x)));
      X509_free(x);
    }
    X509_CRL* crl = morvane_test::MakeCrl("Root", {{99, {}}}, kChainMoment - 86400,
                                          kChainMoment + 86400, {}, RsaKey());
    root_crl = Decode(d2i_X509_CRL, Encode(i2d_X509_CRL, crl));
    X509_CRL_free(crl);
  }
  ~Objects() {
    for (X509* x : certs) X509_free(x);
    X509_CRL_free(root_crl);
  }
  Objects(const Objects&) = delete;
  Objects& operator=(const Objects&) = delete;

  std::vector<X509*> certs;
  X509_CRL* root_crl;
};

// A store holding one certificate.
X509_STORE* StoreOf(X509* root) {
  X509_STORE* store = X509_STORE_new();
  EXPECT_EQ(1, X509_STORE_add_cert(store, root));
  return store;
}

// target verified against a store holding the root, CA untrusted, with
// RootCrl and the revocation check when `crl`.
Outcome VerifyWith(Objects& o, Id target, Id root, bool crl) {
  X509_STORE* store = StoreOf(o.certs[root]);
  STACK* untrusted = sk_new_null();
  sk_push(untrusted, reinterpret_cast<char*>(o.certs[Ca]));
  STACK* crls = sk_new_null();
  sk_push(crls, reinterpret_cast<char*>(o.root_crl));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, o.certs[target], untrusted));
  X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
  if (crl) {
    X509_STORE_CTX_set0_crls(ctx, crls);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
  }
  const Outcome out{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
  X509_STORE_CTX_free(ctx);
  sk_free(crls);
  sk_free(untrusted);
  X509_STORE_free(store);
  morvane_test::DrainErrors();
  return out;
}

// A signature made under Root1's key checked under Root2's: error 7 (the
// chain search keeps the one chain it built, whose link does not hold).
constexpr Outcome kOtherKey{0, X509_V_ERR_CERT_SIGNATURE_FAILURE};

struct Step {
  Id target, root;
  Outcome want;
};

struct MarkCase {
  const char* name;
  bool crl;
  std::vector<Step> steps;  // in turn, on the same objects
};

const MarkCase kMarkCases[] = {
    {"LeafUnderOneKeyThenTheOther",
     false,
     {{Leaf1, Root1, {1, X509_V_OK}}, {Leaf1, Root2, kOtherKey}, {Leaf1, Root1, {1, X509_V_OK}}}},
    {"LeafUnderTheOtherKeyFirst",
     false,
     {{Leaf1, Root2, kOtherKey}, {Leaf1, Root1, {1, X509_V_OK}}, {Leaf1, Root2, kOtherKey}}},
    {"IntermediateUnderOneKeyThenTheOther",
     false,
     {{LeafOfCa, Root1, {1, X509_V_OK}}, {LeafOfCa, Root2, kOtherKey}}},
    {"ListUnderOneKeyThenTheOther",
     true,
     {{Leaf1, Root1, {1, X509_V_OK}}, {Leaf2, Root2, {0, X509_V_ERR_CRL_SIGNATURE_FAILURE}}}},
};

void PrintTo(const MarkCase& c, std::ostream* os) {
  *os << c.name;
}

class SigMark : public testing::TestWithParam<MarkCase> {};

TEST_P(SigMark, EachKeyJudgesForItself) {
  const MarkCase& c = GetParam();
  Morvane_add_all_digests();
  Objects o;
  int step = 0;
  for (const Step& s : c.steps) {
    EXPECT_EQ(s.want, VerifyWith(o, s.target, s.root, c.crl)) << "step " << step;
    step++;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SigMark, testing::ValuesIn(kMarkCases),
                         [](const testing::TestParamInfo<MarkCase>& info) {
                           return std::string(info.param.name);
                         });

// A decoded list of many entries: its signature is verified at the first
// verification only, so no later one under the same key allocates room
// for its signed part; a verification under another key checks it again.
// (Needs its own process for the tracking hooks; ctest runs each test in
// one.)
TEST(SigMarkCost, AListIsVerifiedOncePerKey) {
  ASSERT_TRUE(morvane_test::InstallReleaseTracking());
  Morvane_add_all_digests();
  std::vector<morvane_test::CrlEntry> entries;
  for (long serial = 100; serial < 20100; serial++) entries.push_back({serial, {}});
  X509_CRL* made = morvane_test::MakeCrl("Root", entries, kChainMoment - 86400,
                                         kChainMoment + 86400, {}, RsaKey());
  const Bytes der = Encode(i2d_X509_CRL, made);
  X509_CRL_free(made);
  Objects o;
  X509_CRL_free(o.root_crl);
  o.root_crl = Decode(d2i_X509_CRL, der);
  const size_t signed_part = static_cast<size_t>(i2d_X509_CRL_INFO(o.root_crl->crl, nullptr));
  ASSERT_GT(signed_part, 200000u);
  // The largest block a verification freed.
  auto largest_freed = [](const Outcome& got, const Outcome& want) {
    EXPECT_EQ(want, got);
    size_t largest = 0;
    for (const std::string& b : morvane_test::Released().freed)
      largest = std::max(largest, b.size());
    morvane_test::Released().freed.clear();
    return largest;
  };
  morvane_test::Released().freed.clear();
  EXPECT_GE(largest_freed(VerifyWith(o, Leaf1, Root1, true), {1, X509_V_OK}), signed_part);
  for (int i = 0; i < 3; i++)
    EXPECT_LT(largest_freed(VerifyWith(o, Leaf1, Root1, true), {1, X509_V_OK}), signed_part / 4)
        << i;
  EXPECT_GE(largest_freed(VerifyWith(o, Leaf2, Root2, true), {0, X509_V_ERR_CRL_SIGNATURE_FAILURE}),
            signed_part);
  EXPECT_LT(largest_freed(VerifyWith(o, Leaf1, Root1, true), {1, X509_V_OK}), signed_part / 4);
}

// The digest of the key that names the marks (an encoding of the key, in
// blocks of its own) is made once per issuer, not once per list: a
// verification whose issuer has twenty lists, all marked by a verification
// before it, allocates hardly more than one whose issuer has one.  (Needs
// its own process for the counting hooks; ctest runs each test in one.)
long VerificationMallocs(int lists) {
  Objects o;
  STACK* crls = sk_new_null();
  for (int i = 0; i < lists; i++) {
    X509_CRL* made = morvane_test::MakeCrl("Root", {}, kChainMoment - 86400 - 60 * i,
                                           kChainMoment + 86400, {}, RsaKey());
    sk_push(crls, reinterpret_cast<char*>(Decode(d2i_X509_CRL, Encode(i2d_X509_CRL, made))));
    X509_CRL_free(made);
  }
  X509_STORE* store = StoreOf(o.certs[Root1]);
  long mallocs = 0;
  for (int run = 0; run < 2; run++) {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, o.certs[Leaf1], nullptr));
    X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
    X509_STORE_CTX_set0_crls(ctx, crls);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
    const long before = morvane_test::GetAllocCounts().mallocs;
    EXPECT_EQ(1, X509_verify_cert(ctx));
    mallocs = morvane_test::GetAllocCounts().mallocs - before;
    X509_STORE_CTX_free(ctx);
  }
  X509_STORE_free(store);
  sk_pop_free(crls, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  EXPECT_ERRORS({});
  return mallocs;
}

TEST(SigMarkCost, TheKeyIsDigestedOncePerIssuer) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Morvane_add_all_digests();
  const long one = VerificationMallocs(1);
  EXPECT_LT(VerificationMallocs(20) - one, 20);
}

}  // namespace
