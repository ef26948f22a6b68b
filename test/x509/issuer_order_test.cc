// Chain building whatever the order of the candidates: a CA renewed under
// its name and key, its expired certificate met first (in the store, in the
// first of two hashed directories, in a CA file beside a directory); an
// intermediate cross-signed by a root the store lacks, listed first; and an
// untrusted list of many candidates of one name, whose search stays bounded;
// look-alikes of an issuer (its name and key, but a signature its own
// issuer did not make, or no CA) met before the issuer itself; a root
// beside its copy cross-signed under an anchor that fails.

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "chain_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using namespace x509_test;
using morvane_test::CertSpec;
using morvane_test::TempPath;

// OldCa expired in 2020-06, before kChainMoment; NewCa renews it, and so
// does SecondCa, valid too.  Int is issued by Root (IntByRoot) and
// cross-signed by Other (IntByOther), which no store holds.  IntForged has
// Int's name, key and issuer, but a signature Root's key does not verify;
// IntNotCa is Int again with cA FALSE; RootOtherKey is a self-signed Root
// under another key; IntLookAlike's name folds as Int's ("INT"), but is not
// Int's.  DsaCa's DSA key takes its parameters from DsaRoot (its
// algorithm has none); DsaCaExpired is DsaCa's name and key with the
// parameters, self-signed and expired; LeafOfDsaCa is DsaCa's, under a key
// that inherits too (the run lends parameters up to the first key above
// the target that has them).  IntOfMid is an Int issued by Mid, which Root
// issues (MidByRoot).  Then kCopies of each: a self-signed Root under a
// third key (RootOtherKeys), and look-alikes (the name and issuer, a CA,
// under a key of the sender's that also signed them) of Int under Root,
// of Int under Mid, and of Mid.
enum Id : int {
  OldCa,
  NewCa,
  SecondCa,
  Leaf,
  Root,
  IntByRoot,
  IntByOther,
  LeafOfInt,
  IntForged,
  IntNotCa,
  RootOtherKey,
  IntLookAlike,
  DsaRoot,
  DsaCa,
  DsaCaExpired,
  LeafOfDsaCa,
  IntOfMid,
  MidByRoot,
  RootOtherKeys,
};
constexpr int kCopies = 16;
constexpr Id IntLookAlikes = Id(RootOtherKeys + kCopies);
constexpr Id IntOfMidLookAlikes = Id(IntLookAlikes + kCopies);
constexpr Id MidLookAlikes = Id(IntOfMidLookAlikes + kCopies);

const std::vector<Bytes>& Ders() {
  static const std::vector<Bytes> ders = [] {
    const std::vector<CertSpec> specs = {
        {"CA", "", 2, 1, kCaExts, nullptr, nullptr, 1262304000, 1590969600},
        {"CA", "", 2, 2, kCaExts},
        {"CA", "", 2, 8, kCaExts, nullptr, nullptr, 1546300800, 4102444800},
        {"Leaf", "CA", 2, 3, kLeafExts},
        {"Root", "", 2, 4, kCaExts},
        {"Int", "Root", 2, 5, kCaExts},
        {"Int", "Other", 2, 6, kCaExts},
        {"Leaf", "Int", 2, 7, kLeafExts},
        {"Int", "Root", 2, 9, kCaExts, nullptr, x509_test::RsaKey2()},
        {"Int", "Root", 2, 10, {{kNidBasicConstraints, true, FromHex("3000")}}},
        {"Root", "", 2, 11, kCaExts, x509_test::RsaKey2(), x509_test::RsaKey2()},
        {"INT", "Root", 2, 16, kCaExts},
    };
    std::vector<Bytes> out;
    for (const CertSpec& s : specs) {
      X509* x = morvane_test::MakeCert(s);
      out.push_back(Encode(i2d_X509, x));
      X509_free(x);
    }
    EVP_PKEY* root_key = x509_test::DsaKey();
    EVP_PKEY* ca_key = x509_test::DsaKeySharingParameters(root_key);
    const struct {
      CertSpec spec;
      EVP_PKEY* signer;
      bool inherits;  // the key's parameters left out
    } dsa[] = {
        {{"DsaRoot", "", 2, 12, kCaExts, root_key}, root_key, false},
        {{"DsaCA", "DsaRoot", 2, 13, kCaExts, ca_key}, root_key, true},
        {{"DsaCA", "", 2, 14, kCaExts, ca_key, nullptr, 1262304000, 1590969600}, ca_key, false},
        {{"Leaf", "DsaCA", 2, 15, kLeafExts, ca_key}, ca_key, true},
    };
    for (const auto& d : dsa) {
      X509* x = morvane_test::MakeCert(d.spec);
      if (d.inherits) {
        ASN1_TYPE_free(x->cert_info->key->algor->parameter);
        x->cert_info->key->algor->parameter = nullptr;
      }
      EXPECT_GT(X509_sign(x, d.signer, EVP_dss1()), 0);
      out.push_back(Encode(i2d_X509, x));
      X509_free(x);
    }
    EVP_PKEY_free(ca_key);
    std::vector<CertSpec> more = {{"Int", "Mid", 2, 17, kCaExts}, {"Mid", "Root", 2, 18, kCaExts}};
    EVP_PKEY* other = x509_test::NewRsaKey(1024);
    EVP_PKEY* sender = x509_test::RsaKey2();
    for (const auto& [subject, issuer, key] : {std::tuple{"Root", "", other},
                                               {"Int", "Root", sender},
                                               {"Int", "Mid", sender},
                                               {"Mid", "Root", sender}}) {
      for (int k = 0; k < kCopies; k++)
        more.push_back(
            {subject, issuer, 2, 1000 + static_cast<long>(more.size()), kCaExts, key, key});
    }
    for (const CertSpec& s : more) {
      X509* x = morvane_test::MakeCert(s);
      out.push_back(Encode(i2d_X509, x));
      X509_free(x);
    }
    EVP_PKEY_free(other);
    return out;
  }();
  return ders;
}

// Where the store's certificates are: added in order; in hashed directories
// "A:B", the first in A and the second in B; in a CA file holding the first,
// beside a directory holding both (numbered in order).
enum class Layout { kAdded, kTwoDirs, kFileAndDir };

// n times `many`, then `last`.
std::vector<Id> After(int n, Id many, Id last) {
  std::vector<Id> ids(static_cast<size_t>(n), many);
  ids.push_back(last);
  return ids;
}

// n of the kCopies certificates from `first` on, `one` among them at
// place `at` (0 first); then, in order, those of `then`.
std::vector<Id> Among(int n, Id first, Id one, int at, std::vector<Id> then = {}) {
  std::vector<Id> ids;
  for (int k = 0; k < n; k++) ids.push_back(Id(first + k));
  ids.insert(ids.begin() + at, one);
  ids.insert(ids.end(), then.begin(), then.end());
  return ids;
}

struct OrderCase {
  const char* name;
  Layout layout;
  std::vector<Id> trusted, untrusted;
  Id target;
  Outcome want;
};

const OrderCase kOrderCases[] = {
    {"AddedOldFirst", Layout::kAdded, {OldCa, NewCa}, {}, Leaf, {1, X509_V_OK}},
    {"AddedNewFirst", Layout::kAdded, {NewCa, OldCa}, {}, Leaf, {1, X509_V_OK}},
    {"AddedOldFirstNewCaItself", Layout::kAdded, {OldCa, NewCa}, {}, NewCa, {1, X509_V_OK}},
    {"AddedOnlyTheExpired", Layout::kAdded, {OldCa}, {}, Leaf, {0, X509_V_ERR_CERT_HAS_EXPIRED}},
    {"DirsOldFirst", Layout::kTwoDirs, {OldCa, NewCa}, {}, Leaf, {1, X509_V_OK}},
    {"DirsNewFirst", Layout::kTwoDirs, {NewCa, OldCa}, {}, Leaf, {1, X509_V_OK}},
    {"DirsOldFirstNewCaItself", Layout::kTwoDirs, {OldCa, NewCa}, {}, NewCa, {1, X509_V_OK}},
    {"FileHidesDir", Layout::kFileAndDir, {OldCa, NewCa}, {}, Leaf, {1, X509_V_OK}},
    {"FileHidesDirNewCaItself", Layout::kFileAndDir, {OldCa, NewCa}, {}, NewCa, {1, X509_V_OK}},
    {"FileHidesTheTargetsCopy",
     Layout::kFileAndDir,
     {NewCa, SecondCa},
     {},
     SecondCa,
     {1, X509_V_OK}},
    {"CrossSignedOtherFirst",
     Layout::kAdded,
     {Root},
     {IntByOther, IntByRoot},
     LeafOfInt,
     {1, X509_V_OK}},
    {"CrossSignedRootFirst",
     Layout::kAdded,
     {Root},
     {IntByRoot, IntByOther},
     LeafOfInt,
     {1, X509_V_OK}},
    {"StoreHoldsTheIntermediate",
     Layout::kAdded,
     {Root, IntByRoot},
     {IntByOther},
     LeafOfInt,
     {1, X509_V_OK}},
    {"OnlyTheCrossSigned",
     Layout::kAdded,
     {Root},
     {IntByOther},
     LeafOfInt,
     {0, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY}},
    // A link that does not hold is passed over like a dead end; alone, it
    // is reported as always.
    {"ForgedFirst", Layout::kAdded, {Root}, {IntForged, IntByRoot}, LeafOfInt, {1, X509_V_OK}},
    {"ForgedSecond", Layout::kAdded, {Root}, {IntByRoot, IntForged}, LeafOfInt, {1, X509_V_OK}},
    {"OnlyTheForged",
     Layout::kAdded,
     {Root},
     {IntForged},
     LeafOfInt,
     {0, X509_V_ERR_CERT_SIGNATURE_FAILURE}},
    {"NotCaFirst", Layout::kAdded, {Root}, {IntNotCa, IntByRoot}, LeafOfInt, {1, X509_V_OK}},
    {"OnlyTheNotCa", Layout::kAdded, {Root}, {IntNotCa}, LeafOfInt, {0, X509_V_ERR_INVALID_CA}},
    {"StoreRootOfOtherKeyFirst",
     Layout::kAdded,
     {RootOtherKey, Root},
     {IntByRoot},
     LeafOfInt,
     {1, X509_V_OK}},
    // Look-alike names do not use up a position's share of candidates.
    {"LookAlikesFirst",
     Layout::kAdded,
     {Root},
     After(40, IntLookAlike, IntByRoot),
     LeafOfInt,
     {1, X509_V_OK}},
    // A key that inherits its parameters cannot check a link before the run
    // lends them: the chain through it is not passed over for the copy.
    {"InheritedParametersBeforeAnExpiredCopy",
     Layout::kAdded,
     {DsaCaExpired, DsaRoot},
     {DsaCa},
     LeafOfDsaCa,
     {1, X509_V_OK}},
    // Anchors of one name and look-alikes at one or two depths, the genuine
    // one anywhere: each look-alike and each anchor is tried once, however
    // many there are at the other depths.
    {"SixteenAnchorsAndALookAlike",
     Layout::kAdded,
     Among(15, RootOtherKeys, Root, 6),
     {IntLookAlikes, IntByRoot},
     LeafOfInt,
     {1, X509_V_OK}},
    {"FourteenAnchorsTheGenuineLast",
     Layout::kAdded,
     Among(13, RootOtherKeys, Root, 13),
     {IntLookAlikes, IntByRoot},
     LeafOfInt,
     {1, X509_V_OK}},
    {"FourAndFourLookAlikesAtTwoDepths",
     Layout::kAdded,
     {Root},
     Among(4, IntOfMidLookAlikes, IntOfMid, 4, Among(4, MidLookAlikes, MidByRoot, 4)),
     LeafOfInt,
     {1, X509_V_OK}},
    {"FourAndSevenLookAlikesAtTwoDepths",
     Layout::kAdded,
     {Root},
     Among(4, IntOfMidLookAlikes, IntOfMid, 4, Among(7, MidLookAlikes, MidByRoot, 7)),
     LeafOfInt,
     {1, X509_V_OK}},
    {"TenAndTenLookAlikesInTheStore",
     Layout::kAdded,
     Among(10, IntOfMidLookAlikes, IntOfMid, 7, Among(10, MidLookAlikes, MidByRoot, 7, {Root})),
     {},
     LeafOfInt,
     {1, X509_V_OK}},
};

void PrintTo(const OrderCase& c, std::ostream* os) {
  *os << c.name;
}

std::string HashName(X509* x) {
  char buf[16];
  snprintf(buf, sizeof(buf), "%08lx", X509_NAME_hash(X509_get_subject_name(x)));
  return buf;
}

class IssuerOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(IssuerOrder, ChainIsFound) {
  const OrderCase& tc = GetParam();
  Morvane_add_all_digests();
  std::vector<X509*> certs;
  for (const Bytes& d : Ders()) certs.push_back(Decode(d2i_X509, d));
  X509_STORE* store = X509_STORE_new();
  TempPath a(TempPath::kDir), b(TempPath::kDir), file;
  auto write = [&](const std::string& path, Id id) {
    morvane_test::WriteFile(path, std::string(Ders()[id].begin(), Ders()[id].end()));
  };
  const std::string hash = HashName(certs[tc.trusted[0]]);
  X509_LOOKUP* dir = nullptr;
  if (tc.layout != Layout::kAdded) dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
  switch (tc.layout) {
    case Layout::kAdded:
      for (Id id : tc.trusted) ASSERT_EQ(1, X509_STORE_add_cert(store, certs[id]));
      break;
    case Layout::kTwoDirs:
      write(a.Join(hash + ".0"), tc.trusted[0]);
      write(b.Join(hash + ".0"), tc.trusted[1]);
      ASSERT_EQ(1,
                X509_LOOKUP_add_dir(dir, (a.path() + ":" + b.path()).c_str(), X509_FILETYPE_ASN1));
      break;
    case Layout::kFileAndDir: {
      BIO* out = BIO_new_file(file.c_str(), "w");
      ASSERT_EQ(1, PEM_write_bio_X509(out, certs[tc.trusted[0]]));
      BIO_free(out);
      write(a.Join(hash + ".0"), tc.trusted[0]);
      write(a.Join(hash + ".1"), tc.trusted[1]);
      ASSERT_EQ(1, X509_STORE_load_locations(store, file.c_str(), nullptr));
      ASSERT_EQ(1, X509_LOOKUP_add_dir(dir, a.c_str(), X509_FILETYPE_ASN1));
      break;
    }
  }
  STACK* untrusted = sk_new_null();
  for (Id id : tc.untrusted) sk_push(untrusted, reinterpret_cast<char*>(certs[id]));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, certs[tc.target], untrusted));
  X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
  Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
  EXPECT_EQ(tc.want, got);
  // What a directory held twice, or a link passed over, leaves nothing
  // behind; a signature that fails the run says why.
  if (tc.want.error == X509_V_ERR_CERT_SIGNATURE_FAILURE) {
    EXPECT_NE(0u, ERR_peek_error());
    ERR_clear_error();
  }
  EXPECT_ERRORS({});
  X509_STORE_CTX_free(ctx);
  sk_free(untrusted);
  X509_STORE_free(store);
  for (X509* x : certs) X509_free(x);
}

INSTANTIATE_TEST_SUITE_P(Cases, IssuerOrder, testing::ValuesIn(kOrderCases),
                         [](const testing::TestParamInfo<OrderCase>& info) {
                           return std::string(info.param.name);
                         });

// A root GD, the same CA (its name and key) cross-signed by another root
// VC, and VC, which fails whatever stands below it: expired, not yet valid,
// or rejected for the purpose (as Go Daddy Class 2, its ValiCert copy and
// the ValiCert root expired in 2019).  In each of the six orders of the
// store the leaf of GD verifies with the chain leaf, GD; without GD, the
// chain through VC fails with VC's error.
TEST(IssuerOrderAnchors, AFailingAnchorIsPassedOverInEveryOrder) {
  Morvane_add_all_digests();
  EVP_PKEY* vc_key = x509_test::RsaKey2();
  X509* gd = morvane_test::MakeCert({"GD", "", 2, 1, kCaExts});
  X509* cross = morvane_test::MakeCert({"GD", "VC", 2, 2, kCaExts, nullptr, vc_key});
  X509* leaf = morvane_test::MakeCert({"Leaf", "GD", 2, 3, kLeafExts});
  const struct {
    const char* name;
    long not_before, not_after;
    bool rejected;
    int error;
  } kVc[] = {
      {"expired", 1262304000, 1590969600, false, X509_V_ERR_CERT_HAS_EXPIRED},
      {"not yet valid", 1893456000, 4102444800, false, X509_V_ERR_CERT_NOT_YET_VALID},
      {"rejected", 1262304000, 4102444800, true, X509_V_ERR_CERT_REJECTED},
  };
  for (const auto& v : kVc) {
    SCOPED_TRACE(v.name);
    X509* vc = morvane_test::MakeCert(
        {"VC", "", 2, 4, kCaExts, vc_key, vc_key, v.not_before, v.not_after});
    if (v.rejected) {
      ASN1_OBJECT* server_auth = OBJ_txt2obj("1.3.6.1.5.5.7.3.1", 1);
      ASSERT_EQ(1, X509_add1_reject_object(vc, server_auth));
      ASN1_OBJECT_free(server_auth);
    }
    auto verify = [&](const std::vector<X509*>& trusted) {
      X509_STORE* store = X509_STORE_new();
      for (X509* x : trusted) EXPECT_EQ(1, X509_STORE_add_cert(store, x));
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, nullptr));
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
      const Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
      std::vector<X509*> chain;
      for (int i = 0; i < sk_num(X509_STORE_CTX_get_chain(ctx)); i++)
        chain.push_back(reinterpret_cast<X509*>(sk_value(X509_STORE_CTX_get_chain(ctx), i)));
      if (got.result == 1) {
        EXPECT_EQ((std::vector<X509*>{leaf, gd}), chain);
      }
      X509_STORE_CTX_free(ctx);
      X509_STORE_free(store);
      return got;
    };
    std::vector<X509*> order = {gd, cross, vc};
    std::sort(order.begin(), order.end());
    int orders = 0;
    do {
      EXPECT_EQ((Outcome{1, X509_V_OK}), verify(order)) << "order " << orders;
      orders++;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(6, orders);
    EXPECT_EQ((Outcome{0, v.error}), verify({cross, vc}));
    EXPECT_ERRORS({});
    X509_free(vc);
  }
  X509_free(leaf);
  X509_free(cross);
  X509_free(gd);
}

int issued_checks = 0;
int CountingCheck(X509_STORE_CTX*, X509* x, X509* issuer) {
  issued_checks++;
  return X509_check_issued(issuer, x) == X509_V_OK;
}

// Five levels of twenty intermediates each, the top one issued by a CA
// nobody has: 20^5 chains end nowhere.  The search gives up after a bounded
// number of them, with the first chain's error.
TEST(IssuerOrderHostile, ManyCandidatesOfOneNameEndQuickly) {
  Morvane_add_all_digests();
  constexpr int kLevels = 5, kPerLevel = 20;
  STACK* untrusted = sk_new_null();
  long serial = 100;
  for (int level = 1; level <= kLevels; level++) {
    const std::string issuer = level == kLevels ? "Nowhere" : "L" + std::to_string(level + 1);
    for (int i = 0; i < kPerLevel; i++) {
      sk_push(untrusted, reinterpret_cast<char*>(morvane_test::MakeCert(
                             {"L" + std::to_string(level), issuer, 2, serial++, kCaExts})));
    }
  }
  X509* leaf = morvane_test::MakeCert({"Leaf", "L1", 2, 1, kLeafExts});
  X509_STORE* store = X509_STORE_new();
  store->check_issued = CountingCheck;
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, untrusted));
  X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
  issued_checks = 0;
  EXPECT_EQ(0, X509_verify_cert(ctx));
  EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, X509_STORE_CTX_get_error(ctx));
  EXPECT_EQ(kLevels, X509_STORE_CTX_get_error_depth(ctx));
  EXPECT_LT(issued_checks, 5000);
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  X509_free(leaf);
  sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
}

// A loop of n CA certificates of one name, each issued by the next (its
// authority key identifier names the next one's key identifier), the last
// by the first, above a leaf.  Each position of the search offers a bounded
// number of them, so the verification takes as many references (lock 3) for
// 100 as for 1,000, where a pass over the list per position took ten times
// as many.
long LoopReferenceRequests(int n) {
  auto id = [](int v) {
    return Bytes{static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  };
  auto skid = [&](int v) {
    Bytes der = {0x04, 0x02};
    for (unsigned char b : id(v)) der.push_back(b);
    return CertExt{kNidSubjectKeyId, false, der};
  };
  auto akid = [&](int v) {
    Bytes der = {0x30, 0x04, 0x80, 0x02};
    for (unsigned char b : id(v)) der.push_back(b);
    return CertExt{kNidAuthorityKeyId, false, der};
  };
  STACK* untrusted = sk_new_null();
  for (int i = 0; i < n; i++) {
    X509* x = morvane_test::MakeCert({"Loop", "", 2, 100 + i, {kCa, skid(i), akid((i + 1) % n)}});
    X509_check_purpose(x, -1, 0);
    sk_push(untrusted, reinterpret_cast<char*>(x));
  }
  X509* leaf = morvane_test::MakeCert({"Leaf", "Loop", 2, 1, {akid(0)}});
  X509_check_purpose(leaf, -1, 0);
  X509_STORE* store = X509_STORE_new();
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, untrusted));
  X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(0, X509_verify_cert(ctx));
  const long requests =
      static_cast<long>(morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509}).size());
  EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, X509_STORE_CTX_get_error(ctx));
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  X509_free(leaf);
  sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
  return requests;
}

// Look-alikes of the intermediate Int (its name and issuer, a CA, under a
// key of the sender's that also signed them) listed before Int itself: the
// links are checked from the root down, so the sender's key checks nothing
// (its operations might cost as much as a private key's), and each
// look-alike costs one check under the root's key, the chains tried staying
// bounded.  Behind 15 the chain is found; behind 40 the first chain's error.
TEST(IssuerOrderHostile, LookAlikeKeysCheckNothing) {
  Morvane_add_all_digests();
  EVP_PKEY* sender = x509_test::RsaKey2();
  RSA* sender_rsa = EVP_PKEY_get1_RSA(sender);
  x509_test::CountingRsaPublic lookalike_ops(sender_rsa->n);
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, kCaExts});
  X509* leaf = morvane_test::MakeCert({"Leaf", "Int", 2, 3, kLeafExts});
  for (const auto& [lookalikes, want] : {std::pair{15, Outcome{1, X509_V_OK}},
                                         {40, Outcome{0, X509_V_ERR_CERT_SIGNATURE_FAILURE}}}) {
    SCOPED_TRACE(lookalikes);
    STACK* untrusted = sk_new_null();
    for (int i = 0; i < lookalikes; i++)
      sk_push(untrusted, reinterpret_cast<char*>(morvane_test::MakeCert(
                             {"Int", "Root", 2, 100 + i, kCaExts, sender, sender})));
    sk_push(untrusted,
            reinterpret_cast<char*>(morvane_test::MakeCert({"Int", "Root", 2, 2, kCaExts})));
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(store, root));
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, untrusted));
    X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
    lookalike_ops.reset();
    EXPECT_EQ(want, (Outcome{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)}));
    EXPECT_EQ(0, lookalike_ops.count());
    ERR_clear_error();
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
  }
  X509_free(leaf);
  X509_free(root);
  RSA_free(sender_rsa);
}

// A leaf under `depths` intermediates D1 (its issuer) ... Dn (issued by
// Root), each listed behind `lookalikes` look-alikes of its own (the name
// and issuer, a CA, under the sender's key, which signed them), Root behind
// `anchors` self-signed Roots under another key.  The chain is found; the
// public-key operations it cost under the key whose modulus is `only`, or
// under any key.
long LookAlikesAtDepthsOps(int depths, int lookalikes, int anchors, EVP_PKEY* sender,
                           EVP_PKEY* other, const BIGNUM* only) {
  auto der = [](const CertSpec& spec) {
    X509* x = morvane_test::MakeCert(spec);
    Bytes d = Encode(i2d_X509, x);
    X509_free(x);
    return d;
  };
  long serial = 100;
  std::vector<Bytes> roots, intermediates;
  for (int i = 0; i <= anchors; i++) {
    EVP_PKEY* key = i < anchors ? other : nullptr;
    roots.push_back(der({"Root", "", 2, serial++, kCaExts, key, key}));
  }
  for (int d = 1; d <= depths; d++) {
    const std::string name = "D" + std::to_string(d);
    const std::string issuer = d == depths ? "Root" : "D" + std::to_string(d + 1);
    for (int i = 0; i < lookalikes; i++)
      intermediates.push_back(der({name, issuer, 2, serial++, kCaExts, sender, sender}));
    intermediates.push_back(der({name, issuer, 2, serial++, kCaExts}));
  }
  const Bytes leaf_der = der({"Leaf", "D1", 2, serial++, kLeafExts});
  // Every key the run decodes lives and dies under the counting method.
  x509_test::CountingRsaPublic ops(only);
  X509_STORE* store = X509_STORE_new();
  for (const Bytes& d : roots) {
    X509* root = Decode(d2i_X509, d);
    EXPECT_EQ(1, X509_STORE_add_cert(store, root));
    X509_free(root);
  }
  STACK* untrusted = sk_new_null();
  for (const Bytes& d : intermediates)
    sk_push(untrusted, reinterpret_cast<char*>(Decode(d2i_X509, d)));
  X509* leaf = Decode(d2i_X509, leaf_der);
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, untrusted));
  X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
  ops.reset();
  EXPECT_EQ((Outcome{1, X509_V_OK}),
            (Outcome{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)}));
  EXPECT_EQ(depths + 2, sk_num(X509_STORE_CTX_get_chain(ctx)));
  const long count = ops.count();
  X509_STORE_CTX_free(ctx);
  X509_free(leaf);
  sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
  X509_STORE_free(store);
  return count;
}

// Look-alikes at several depths: each is searched above once, so that
// twice as many at each depth cost at most twice as many public-key
// operations (the chains through them being as many as their product), and
// the sender's key checks nothing.
TEST(IssuerOrderHostile, LookAlikesAtSeveralDepthsCostTheirSum) {
  Morvane_add_all_digests();
  EVP_PKEY* sender = x509_test::RsaKey2();
  EVP_PKEY* other = x509_test::NewRsaKey(1024);
  X509_free(morvane_test::MakeCert({"Warm", "", 2, 1, kCaExts}));  // the test key, made uncounted
  RSA* sender_rsa = EVP_PKEY_get1_RSA(sender);
  const struct { int depths, lookalikes, anchors; } kRows[] = {{3, 7, 3}, {4, 15, 1}, {2, 15, 6}};
  for (const auto& row : kRows) {
    SCOPED_TRACE(testing::Message() << row.depths << " depths, " << row.lookalikes
                                    << " look-alikes, " << row.anchors << " anchors");
    const long once =
        LookAlikesAtDepthsOps(row.depths, row.lookalikes, row.anchors, sender, other, nullptr);
    const long twice =
        LookAlikesAtDepthsOps(row.depths, 2 * row.lookalikes, row.anchors, sender, other, nullptr);
    EXPECT_GT(once, row.depths);
    EXPECT_LE(twice, 2 * once);
    EXPECT_EQ(0, LookAlikesAtDepthsOps(row.depths, 2 * row.lookalikes, row.anchors, sender, other,
                                       sender_rsa->n));
  }
  RSA_free(sender_rsa);
  EVP_PKEY_free(other);
}

TEST(IssuerOrderHostile, LoopOfOneNameCostsTheSameWhateverItsLength) {
  Morvane_add_all_digests();
  const long short_loop = LoopReferenceRequests(100);
  EXPECT_EQ(short_loop, LoopReferenceRequests(1000));
  EXPECT_GT(short_loop, 0);
}

}  // namespace
