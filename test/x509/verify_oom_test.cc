// The chain verifier with each allocation of a run failing in turn: a run
// either gives the answer it gives with memory to spare or fails with 0 and
// "out of memory" (never 1 after a partial check, never another reason),
// leaks nothing, and leaves the certificates as a later run with memory
// judges them.  Each test needs its own process for the counting hooks
// (ctest runs each test in one).

#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "chain_util.h"
#include "test_support.h"

namespace {

using namespace x509_test;

struct OomCase {
  const char* name;
  std::vector<CertExt> ca_exts, leaf_exts;
  bool lenient;  // the callback accepts every error
  Outcome want;  // with memory to spare
};

int AcceptAll(int, X509_STORE_CTX*) { return 1; }

// The second chain must fail: the leaf's authority key identifier does not
// name the CA's key, so the CA is not its issuer.  A run that lost the
// identifier for lack of memory would build the chain and pass it.  With a
// callback that accepts every error, memory running out still fails the run.
const OomCase kOomCases[] = {
    {"GoodChain", kCaExts, kLeafExts, false, {1, X509_V_OK}},
    {"KeyIdentifierMismatch",
     {kCa, kCaUsage, kAnyPolicy, kSubjectKeyId0102},
     {kLeafUsage, kServer, kAnyPolicy, kAuthorityKeyId0304},
     false,
     {0, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY}},
    {"LenientCallback", kCaExts, kLeafExts, true, {1, X509_V_OK}},
};

void PrintTo(const OomCase& c, std::ostream* os) { *os << c.name; }

class VerifyOom : public testing::TestWithParam<OomCase> {};

TEST_P(VerifyOom, EveryAllocationFailingGivesOutOfMemory) {
  const OomCase& tc = GetParam();
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Morvane_add_all_digests();
  const ChainDer der = MakeChainDer(tc.ca_exts, tc.leaf_exts);
  long allocations = 0;
  {
    const Chain c(der);
    morvane_test::AllocCounts before;
    const Outcome first = VerifyChain(c, [&](X509_STORE_CTX* ctx) {
      if (tc.lenient) X509_STORE_CTX_set_verify_cb(ctx, AcceptAll);
      before = morvane_test::GetAllocCounts();
    });
    const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
    ASSERT_EQ(first, tc.want);
    allocations = after.mallocs + after.reallocs - before.mallocs - before.reallocs;
  }
  ASSERT_GT(allocations, 20);
  ERR_clear_error();
  const Outcome out_of_memory{0, X509_V_ERR_OUT_OF_MEM};
  int failed_runs = 0;
  for (long n = 1; n <= allocations + 1; n++) {
    const long live = morvane_test::GetAllocCounts().live_blocks;
    {
      const Chain c(der);
      const Outcome got = VerifyChain(c, [&](X509_STORE_CTX* ctx) {
        if (tc.lenient) X509_STORE_CTX_set_verify_cb(ctx, AcceptAll);
        morvane_test::FailAllocationAfter(n);
      });
      morvane_test::FailAllocationAfter(0);
      EXPECT_TRUE(got == tc.want || got == out_of_memory)
          << "allocation " << n << ": " << got << "\n" << morvane_test::DrainErrors();
      failed_runs += got == out_of_memory;
      // Nothing the run left behind is wrong for a run with memory.
      EXPECT_EQ(VerifyChain(c), tc.want) << "after allocation " << n;
    }
    ERR_clear_error();
    EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live) << "allocation " << n;
  }
  EXPECT_GT(failed_runs, 0);
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(Chains, VerifyOom, testing::ValuesIn(kOomCases),
                         [](const testing::TestParamInfo<OomCase>& info) {
                           return std::string(info.param.name);
                         });

// A verification whose lists come from a hashed directory, read afresh by
// each run (a new store each time): older and newer lists, the newer one
// revoking.  However its allocations fail, a run never gives 1, and a run
// in which one failed gives "out of memory": never the older list's
// verdict, never another check's error with the reason gone.
struct DirFiles {
  Bytes anchor;
  std::vector<std::pair<std::string, Bytes>> files;  // name in the directory, DER
  Bytes leaf;
};

std::string Hash8(X509_NAME* name) {
  char h[9];
  snprintf(h, sizeof h, "%08lx", X509_NAME_hash(name));
  return h;
}

DirFiles TwoLists() {
  DirFiles d;
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, kCaExts});
  d.anchor = Encode(i2d_X509, root);
  const std::string h = Hash8(X509_get_subject_name(root));
  X509_free(root);
  X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, kLeafExts});
  d.leaf = Encode(i2d_X509, leaf);
  X509_free(leaf);
  X509_CRL* older = morvane_test::MakeCrl("Root", {{7, {}}}, kChainMoment - 2 * 86400,
                                          kChainMoment + 86400);
  X509_CRL* newer =
      morvane_test::MakeCrl("Root", {{5, {}}}, kChainMoment - 60, kChainMoment + 86400);
  d.files = {{h + ".r0", Encode(i2d_X509_CRL, older)}, {h + ".r1", Encode(i2d_X509_CRL, newer)}};
  X509_CRL_free(older);
  X509_CRL_free(newer);
  return d;
}

// PKITS 4.15.3 and 4.15.4 (an end entity revoked in the delta list), the
// intermediate and every list from the directory.
DirFiles PkitsDelta(const char* ee) {
  DirFiles d;
  auto read = [](const std::string& rel) { return morvane_test::ReadFileBytes(
                                               morvane_test::VectorFile("pkits/" + rel)); };
  d.anchor = read("certs/TrustAnchorRootCertificate.crt");
  d.leaf = read(std::string("certs/") + ee + ".crt");
  const Bytes ca = read("certs/deltaCRLCA1Cert.crt");
  X509* anchor = Decode(d2i_X509, d.anchor);
  X509* ca_cert = Decode(d2i_X509, ca);
  const std::string ha = Hash8(X509_get_subject_name(anchor));
  const std::string hc = Hash8(X509_get_subject_name(ca_cert));
  X509_free(anchor);
  X509_free(ca_cert);
  d.files = {{hc + ".0", ca},
             {ha + ".r0", read("crls/TrustAnchorRootCRL.crl")},
             {hc + ".r0", read("crls/deltaCRLCA1CRL.crl")},
             {hc + ".r1", read("crls/deltaCRLCA1deltaCRL.crl")}};
  return d;
}

struct DirOomCase {
  const char* name;
  bool pkits;
  DirFiles (*files)();
};

const DirOomCase kDirOomCases[] = {
    {"TwoLists", false, TwoLists},
    {"PkitsDeltaTest3", true, [] { return PkitsDelta("InvaliddeltaCRLTest3EE"); }},
    {"PkitsDeltaTest4", true, [] { return PkitsDelta("InvaliddeltaCRLTest4EE"); }},
};

void PrintTo(const DirOomCase& c, std::ostream* os) { *os << c.name; }

class DirOom : public testing::TestWithParam<DirOomCase> {};

TEST_P(DirOom, NoAllocationFailingGivesSuccessOrAnotherReason) {
  const DirOomCase& tc = GetParam();
  if (tc.pkits && morvane_test::VectorFile("pkits/certs").empty())
    GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Morvane_add_all_digests();
  const DirFiles files = tc.files();
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  for (const auto& [name, der] : files.files)
    morvane_test::WriteFile(dir.Join(name), std::string(der.begin(), der.end()));
  X509* leaf = Decode(d2i_X509, files.leaf);
  // One run with a fresh store; fail_at 0 fails nothing.  Its allocations
  // counted at *allocations.
  auto run = [&](long fail_at, long* allocations) {
    X509* anchor = Decode(d2i_X509, files.anchor);
    X509_STORE* store = X509_STORE_new();
    EXPECT_EQ(1, X509_STORE_add_cert(store, anchor));
    X509_free(anchor);
    X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    EXPECT_EQ(1, X509_LOOKUP_add_dir(lu, dir.c_str(), X509_FILETYPE_ASN1));
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, nullptr));
    X509_STORE_CTX_set_time(ctx, 0, tc.pkits ? 1577836800 : kChainMoment);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
    morvane_test::FailAllocationAfter(fail_at);
    const Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
    morvane_test::FailAllocationAfter(0);
    const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
    if (allocations != nullptr)
      *allocations = after.mallocs + after.reallocs - before.mallocs - before.reallocs;
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    return got;
  };
  // The first run makes what the library makes once; the second counts.
  long allocations = 0;
  ASSERT_EQ((Outcome{0, X509_V_ERR_CERT_REVOKED}), run(0, nullptr));
  const Outcome want = run(0, &allocations);
  ASSERT_EQ((Outcome{0, X509_V_ERR_CERT_REVOKED}), want);
  ERR_clear_error();
  const Outcome out_of_memory{0, X509_V_ERR_OUT_OF_MEM};
  for (long n = 1; n <= allocations + 1; n++) {
    const Outcome got = run(n, nullptr);
    if (n <= allocations) {
      EXPECT_EQ(out_of_memory, got) << "allocation " << n << "\n" << morvane_test::DrainErrors();
    } else {
      EXPECT_EQ(want, got);
    }
    ERR_clear_error();
  }
  X509_free(leaf);
}

INSTANTIATE_TEST_SUITE_P(Directories, DirOom, testing::ValuesIn(kDirOomCases),
                         [](const testing::TestParamInfo<DirOomCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
