// Every run of the NIST PKITS document (Public Key Interoperability Test
// Suite 1.0.1, section 4) through X509_verify_cert, over the 2048-bit RSA
// data in ../shared/vectors/pkits: the runs, their paths and initial
// settings come from its runs.tsv, read at run time.  Each run uses fresh
// objects: the store holds the trust anchor alone, the untrusted list every
// CA certificate of the suite, the context every CRL in file-name order
// (and again reversed, and the CA certificates reversed: the order must not
// matter); the moment is 2020-01-01 00:00:00 UTC; flags strict, CRL checks
// for the whole chain and the policy check, with the run's initial policy
// settings.  The
// verdict must agree with PKITS except for the runs of
// test/data/pkits_expected.inc, which also fixes the error and depth of
// runs that must fail for PKITS's reason.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;

struct Expected {
  const char* test;  // a test number, or a section ("4.10") for all its tests
  int run;           // 0: every run
  const char* verdict;
  int result;  // 1, 0, or -1 for any refusal
  int error;   // -1: not checked
  int depth;   // -1: not checked
  const char* note;
};

const Expected kExpected[] = {
#include "../data/pkits_expected.inc"
};

struct PkitsRun {
  std::string test;
  int run;
  std::string ee;
  std::string policy;
  std::string flags;
  std::string verdict;
};

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, sep)) out.push_back(item);
  return out;
}

std::vector<PkitsRun> ReadRuns(const std::string& path) {
  std::vector<PkitsRun> runs;
  std::ifstream in(path);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {  // the column names
      header = false;
      continue;
    }
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 8) continue;
    runs.push_back({f[0], std::stoi(f[1]), f[2], f[5], f[6], f[7]});
  }
  return runs;
}

// The files of a folder with the extension, sorted by name.
std::vector<std::filesystem::path> Files(const std::string& dir, const std::string& ext) {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ext) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

template <class T>
T* Decode(T* (*d2i)(T**, const unsigned char**, long), const Bytes& der) {
  const unsigned char* p = der.data();
  return d2i(nullptr, &p, static_cast<long>(der.size()));
}

// The row of kExpected that covers the run, or null.
const Expected* Find(const PkitsRun& r) {
  for (const Expected& e : kExpected) {
    const std::string t = e.test;
    const bool covers = t == r.test || (std::count(t.begin(), t.end(), '.') == 1 &&
                                        r.test.rfind(t + ".", 0) == 0);
    if (covers && (e.run == 0 || e.run == r.run) && r.verdict == e.verdict) return &e;
  }
  return nullptr;
}

const char* PolicyOid(const std::string& name) {
  if (name == "P1") return "2.16.840.1.101.3.2.1.48.1";
  if (name == "P2") return "2.16.840.1.101.3.2.1.48.2";
  if (name == "P3") return "2.16.840.1.101.3.2.1.48.3";
  if (name == "P6") return "2.16.840.1.101.3.2.1.48.6";
  return "2.5.29.32.0";  // anyPolicy
}

// The suite's files, read once; objects are decoded afresh for each run.
struct Suite {
  bool present = false;
  std::vector<PkitsRun> runs;
  Bytes anchor_der;
  std::vector<Bytes> ca_der;
  std::map<std::string, Bytes> ee_der;
  std::vector<Bytes> crl_der;
};

const Suite& LoadSuite() {
  static Suite* suite = nullptr;  // test-side cache, built on first use
  if (suite != nullptr) return *suite;
  suite = new Suite;
  const std::string tsv = morvane_test::VectorFile("pkits/runs.tsv");
  if (tsv.empty()) return *suite;
  const std::string dir = morvane_test::VectorFile("pkits");
  suite->present = true;
  suite->runs = ReadRuns(tsv);
  for (const auto& p : Files(dir + "/certs", ".crt")) {
    const std::string stem = p.stem().string();
    const Bytes der = morvane_test::ReadFileBytes(p.string());
    if (stem == "TrustAnchorRootCertificate") {
      suite->anchor_der = der;
    } else if (stem.size() > 2 && stem.compare(stem.size() - 2, 2, "EE") == 0) {
      suite->ee_der[stem] = der;
    } else {
      suite->ca_der.push_back(der);
    }
  }
  for (const auto& p : Files(dir + "/crls", ".crl"))
    suite->crl_der.push_back(morvane_test::ReadFileBytes(p.string()));
  return *suite;
}

TEST(PkitsVerify, EveryRunIsRead) {
  const Suite& suite = LoadSuite();
  if (!suite.present) GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
  EXPECT_EQ(248u, suite.runs.size());
  EXPECT_FALSE(suite.anchor_der.empty());
  EXPECT_EQ(173u, suite.crl_der.size());
}

// The runs of one section of the document (4.1 ... 4.16).
class PkitsSection : public testing::TestWithParam<const char*> {};

// What one run gave.
struct RunResult {
  int result;
  int error;
  int depth;
  bool operator==(const RunResult&) const = default;
};

// Calls on a context after its first, without cleanup: its target twice,
// the target `other`, its own again; `results` gets what they gave.
struct Again {
  std::string other;
  std::vector<RunResult> results;
};

// One run over fresh objects, the CRLs in file-name order or reversed,
// with `extra_flags` beside the run's own, the CA certificates in
// file-name order or reversed (`pool_reversed`), and `again`'s calls after it.
RunResult RunOne(const Suite& suite, const PkitsRun& r, bool reversed,
                 unsigned long extra_flags = 0, bool pool_reversed = false,
                 Again* again = nullptr) {
  RunResult out{-100, -1, -1};
  EXPECT_EQ(1u, suite.ee_der.count(r.ee));
  if (suite.ee_der.count(r.ee) != 1) return out;
  X509_STORE* store = X509_STORE_new();
  X509* anchor = Decode(d2i_X509, suite.anchor_der);
  EXPECT_EQ(1, X509_STORE_add_cert(store, anchor));
  X509_free(anchor);
  STACK* untrusted = sk_new_null();
  for (size_t i = 0; i < suite.ca_der.size(); i++) {
    const Bytes& b = suite.ca_der[pool_reversed ? suite.ca_der.size() - 1 - i : i];
    sk_push(untrusted, reinterpret_cast<char*>(Decode(d2i_X509, b)));
  }
  const std::vector<Bytes>& crl_der = suite.crl_der;
  STACK* crls = sk_new_null();
  for (size_t i = 0; i < crl_der.size(); i++) {
    const Bytes& b = crl_der[reversed ? crl_der.size() - 1 - i : i];
    sk_push(crls, reinterpret_cast<char*>(Decode(d2i_X509_CRL, b)));
  }
  X509* ee = Decode(d2i_X509, suite.ee_der.at(r.ee));

  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, ee, untrusted));
  X509_STORE_CTX_set0_crls(ctx, crls);
  X509_STORE_CTX_set_time(ctx, 0, 1577836800);
  unsigned long flags = X509_V_FLAG_X509_STRICT | X509_V_FLAG_CRL_CHECK |
                        X509_V_FLAG_CRL_CHECK_ALL | X509_V_FLAG_POLICY_CHECK | extra_flags;
  for (const std::string& f : Split(r.flags, ' ')) {
    if (f == "explicit") flags |= X509_V_FLAG_EXPLICIT_POLICY;
    if (f == "inhibit-any") flags |= X509_V_FLAG_INHIBIT_ANY;
    if (f == "inhibit-mapping") flags |= X509_V_FLAG_INHIBIT_MAP;
  }
  X509_STORE_CTX_set_flags(ctx, flags);
  STACK* policies = sk_new_null();
  for (const std::string& p : Split(r.policy, ','))
    sk_push(policies, reinterpret_cast<char*>(OBJ_txt2obj(PolicyOid(p), 1)));
  EXPECT_EQ(1, X509_VERIFY_PARAM_set1_policies(X509_STORE_CTX_get0_param(ctx), policies));
  sk_pop_free(policies, [](void* p) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(p)); });

  out.result = X509_verify_cert(ctx);
  out.error = X509_STORE_CTX_get_error(ctx);
  out.depth = X509_STORE_CTX_get_error_depth(ctx);
  X509* other = again != nullptr ? Decode(d2i_X509, suite.ee_der.at(again->other)) : nullptr;
  for (X509* target : {ee, ee, other, ee}) {
    if (again == nullptr) break;
    X509_STORE_CTX_set_cert(ctx, target);
    const int result = X509_verify_cert(ctx);
    again->results.push_back(
        {result, X509_STORE_CTX_get_error(ctx), X509_STORE_CTX_get_error_depth(ctx)});
  }

  X509_STORE_CTX_free(ctx);
  X509_free(other);
  X509_free(ee);
  sk_pop_free(crls, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
  X509_STORE_free(store);
  morvane_test::DrainErrors();
  return out;
}

TEST_P(PkitsSection, AgreesWithPkits) {
  const Suite& suite = LoadSuite();
  if (!suite.present) GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
  Morvane_add_all_digests();
  const std::string want = GetParam();
  std::vector<PkitsRun> runs;
  for (const PkitsRun& r : suite.runs)
    if (r.test.rfind(want + ".", 0) == 0) runs.push_back(r);
  ASSERT_FALSE(runs.empty());
  int agree = 0;
  // Each run three times: the CRLs in file-name order, then reversed, then
  // the CA certificates reversed, since the verdict must depend on the order
  // of neither list.
  for (size_t k = 0; k < 3 * runs.size(); k++) {
    const PkitsRun& r = runs[k / 3];
    const bool reversed = k % 3 == 1;
    const bool pool_reversed = k % 3 == 2;
    SCOPED_TRACE(r.test + " run " + std::to_string(r.run) + " " + r.ee +
                 (reversed ? ", CRLs reversed" : "") + (pool_reversed ? ", CAs reversed" : ""));
    const RunResult got = RunOne(suite, r, reversed, 0, pool_reversed);
    const int result = got.result, error = got.error, depth = got.depth;
    const bool pkits_valid = r.verdict == "valid";
    const Expected* e = Find(r);
    if (e == nullptr) {
      EXPECT_EQ(pkits_valid ? 1 : 0, result)
          << "error " << error << " (" << X509_verify_cert_error_string(error) << ") at depth "
          << depth;
    } else {
      if (e->result >= 0) {
        EXPECT_EQ(e->result, result) << e->note << ", error " << error;
      }
      if (e->error >= 0) {
        EXPECT_EQ(e->error, error) << e->note;
      }
      if (e->depth >= 0) {
        EXPECT_EQ(e->depth, depth) << e->note;
      }
    }
    if (k % 3 == 0 && (result == 1) == pkits_valid) agree++;
  }
  std::cout << "[ PKITS    ] section " << want << ": " << agree << " of " << runs.size()
            << " runs agree with PKITS\n";
}

// A context verified again without cleanup gives what a fresh context gives
// for what is set, the target of the section's next run that has another
// set in between.
TEST_P(PkitsSection, ContextVerifiedAgainGivesTheFreshVerdict) {
  const Suite& suite = LoadSuite();
  if (!suite.present) GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
  Morvane_add_all_digests();
  std::vector<PkitsRun> runs;
  for (const PkitsRun& r : suite.runs)
    if (r.test.rfind(std::string(GetParam()) + ".", 0) == 0) runs.push_back(r);
  for (size_t k = 0; k < runs.size(); k++) {
    PkitsRun other = runs[k];
    for (size_t j = 1; j < runs.size() && other.ee == runs[k].ee; j++)
      other.ee = runs[(k + j) % runs.size()].ee;
    SCOPED_TRACE(runs[k].test + " run " + std::to_string(runs[k].run) + ", then " + other.ee);
    Again again{other.ee, {}};
    const RunResult mine = RunOne(suite, runs[k], false, 0, false, &again);
    const RunResult theirs = RunOne(suite, other, false);
    const std::vector<RunResult> want = {mine, mine, theirs, mine};
    EXPECT_TRUE(want == again.results) << "first " << mine.result << ", error " << mine.error;
  }
}

// 4.14.20 and 4.14.21: onlySomeReasonsCA4 issues two CRLs at one moment
// with one number, each for some reasons (the critical
// issuingDistributionPoint that says so ignored here); the end entity is
// listed in one of them.  It is revoked whichever the order of the CRLs.
TEST(PkitsVerify, CrlsIssuedAtOneMomentRevokeInEitherOrder) {
  const Suite& suite = LoadSuite();
  if (!suite.present) GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
  Morvane_add_all_digests();
  int seen = 0;
  for (const PkitsRun& r : suite.runs) {
    if (r.test != "4.14.20" && r.test != "4.14.21") continue;
    seen++;
    for (const bool reversed : {false, true}) {
      SCOPED_TRACE(r.test + (reversed ? ", CRLs reversed" : ""));
      const RunResult got = RunOne(suite, r, reversed, X509_V_FLAG_IGNORE_CRITICAL);
      EXPECT_EQ(0, got.result);
      EXPECT_EQ(X509_V_ERR_CERT_REVOKED, got.error);
      EXPECT_EQ(0, got.depth);
    }
  }
  EXPECT_EQ(2, seen);
}

INSTANTIATE_TEST_SUITE_P(Sections, PkitsSection,
                         testing::Values("4.1", "4.2", "4.3", "4.4", "4.5", "4.6", "4.7", "4.8",
                                         "4.9", "4.10", "4.11", "4.12", "4.13", "4.14", "4.15",
                                         "4.16"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return "Section" + name;
                         });

}  // namespace
