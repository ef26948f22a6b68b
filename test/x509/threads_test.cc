// Eight threads verify one shared certificate object against one store at
// once, each with its own context, under a locking callback that serves
// CRYPTO_READ as a shared lock.  Each round starts from freshly decoded
// certificates and revocation lists, so that the threads meet on the
// signature marks, the cached extension facts, the policy caches, the keys
// cached in the certificates and the lists' first sorting; every run must
// give the answer of a single thread.  (Also run under ThreadSanitizer,
// which fails on any data race.)

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "chain_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using namespace x509_test;

constexpr int kThreads = 8, kRounds = 24;

struct ThreadCase {
  const char* name;
  std::vector<CertExt> ca_exts;
  Outcome want;  // what every run gives
};

// An invalid policyConstraints on the CA: its policy cache marks it while
// other threads read its other facts.
const ThreadCase kCases[] = {
    {"GoodChain", kCaExts, {1, X509_V_OK}},
    {"InvalidPolicyOnCa",
     {kCa, kCaUsage, kAnyPolicy, kEmptyPolicyConstraints},
     {0, X509_V_ERR_INVALID_POLICY_EXTENSION}},
};

void PrintTo(const ThreadCase& c, std::ostream* os) {
  *os << c.name;
}

// Runs run(t) for t = 0 .. kThreads - 1, each on a thread of its own, the
// threads starting together; each frees its error state at the end.
template <class F>
void RunTogether(F run) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      run(t);
      ERR_remove_state(0);
    });
  }
  for (auto& th : threads) th.join();
}

class X509Threads : public testing::TestWithParam<ThreadCase> {};

TEST_P(X509Threads, EightThreadsVerifyOneCertificate) {
  const ThreadCase& tc = GetParam();
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  const ChainDer der = MakeChainDer(tc.ca_exts);
  for (int round = 0; round < kRounds; round++) {
    const Chain c(der);
    Outcome outcomes[kThreads];
    RunTogether([&](int t) { outcomes[t] = VerifyChain(c); });
    for (int t = 0; t < kThreads; t++)
      EXPECT_EQ(outcomes[t], tc.want) << "round " << round << " thread " << t;
    // What the runs left behind: both signatures below the root and both
    // lists' checked, and a later verification on this thread agrees.
    EXPECT_EQ(c.leaf->valid, 1);
    EXPECT_EQ(c.ca->valid, 1);
    EXPECT_EQ(c.root_crl->valid, 1);
    EXPECT_EQ(c.ca_crl->valid, 1);
    EXPECT_EQ(VerifyChain(c), tc.want);
  }
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

int AcceptAll(const X509_PURPOSE*, const X509*, int) {
  return 1;
}
int TrustAll(X509_TRUST*, X509*, int) {
  return X509_TRUST_TRUSTED;
}

// Records the application added before it started its threads: the threads'
// lookups read the tables and must not sort them (the first lookup used to).
TEST(X509ThreadsTables, LookupsOfAddedRecordsOnlyRead) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  constexpr int kAdded = 6;
  for (int i = kAdded - 1; i >= 0; i--) {           // added out of order
    const std::string p = "p" + std::to_string(i);  // short names are unique
    ASSERT_EQ(X509_PURPOSE_add(100 + i, X509_TRUST_DEFAULT, 0, AcceptAll, "p", p.c_str(), nullptr),
              1);
    ASSERT_EQ(X509_TRUST_add(100 + i, 0, TrustAll, "t", 0, nullptr), 1);
    X509_VERIFY_PARAM* vp = X509_VERIFY_PARAM_new();
    ASSERT_NE(vp, nullptr);
    ASSERT_EQ(X509_VERIFY_PARAM_set1_name(vp, ("v" + std::to_string(i)).c_str()), 1);
    ASSERT_EQ(X509_VERIFY_PARAM_add0_table(vp), 1);
  }
  std::atomic<int> found{0};
  RunTogether([&](int t) {
    const int i = t % kAdded;
    found.fetch_add(X509_PURPOSE_get_by_id(100 + i) >= 0);
    found.fetch_add(X509_TRUST_get_by_id(100 + i) >= 0);
    found.fetch_add(X509_VERIFY_PARAM_lookup(("v" + std::to_string(i)).c_str()) != nullptr);
  });
  EXPECT_EQ(found.load(), 3 * kThreads);
  X509_PURPOSE_cleanup();
  X509_TRUST_cleanup();
  X509_VERIFY_PARAM_table_cleanup();
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

// Eight threads ask at once for the one-line subject of a certificate just
// decoded, which none has made yet: each gets the same text, made once.
TEST(X509ThreadsSubject, OneLineSubjectIsMadeOnce) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  const Bytes der = MakeChainDer().leaf;
  for (int round = 0; round < kRounds; round++) {
    X509* leaf = Decode(d2i_X509, der);
    ASSERT_NE(leaf, nullptr);
    const char* subjects[kThreads];
    RunTogether([&](int t) { subjects[t] = X509_get0_subject_oneline(leaf); });
    EXPECT_STREQ(subjects[0], "/CN=Leaf");
    for (int t = 0; t < kThreads; t++)
      EXPECT_EQ(subjects[t], subjects[0]) << "round " << round << " thread " << t;
    X509_free(leaf);
  }
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

// Eight threads make the first use of a store whose hashed directory holds
// an issuer's two lists, the older (not listing the leaf) in .r0 and the
// newer, revoking it, in .r1: whichever thread loads which file, every run
// decides on the newer list.
TEST(X509ThreadsDir, FirstUseOfAHashedDirectoryDecidesOnTheNewestList) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, kCaExts});
  X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}});
  // The newer list is long, so that loading it takes a while.
  std::vector<morvane_test::CrlEntry> entries = {{5, {}}};
  for (long serial = 100; serial < 400; serial++) entries.push_back({serial, {}});
  X509_CRL* lists[] = {morvane_test::MakeCrl("Root", {}, kChainMoment - 2 * 86400),
                       morvane_test::MakeCrl("Root", entries, kChainMoment - 60)};
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  char name[32];
  for (int n = 0; n < 2; n++) {
    snprintf(name, sizeof name, "%08lx.r%d", X509_NAME_hash(X509_get_subject_name(root)), n);
    const Bytes der = Encode(i2d_X509_CRL, lists[n]);
    morvane_test::WriteFile(dir.Join(name), std::string(der.begin(), der.end()));
    X509_CRL_free(lists[n]);
  }
  for (int round = 0; round < kRounds; round++) {
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(store, root));
    X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    ASSERT_EQ(1, X509_LOOKUP_add_dir(lu, dir.c_str(), X509_FILETYPE_ASN1));
    Outcome outcomes[kThreads];
    RunTogether([&](int t) {
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      X509_STORE_CTX_init(ctx, store, leaf, nullptr);
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
      outcomes[t].result = X509_verify_cert(ctx);
      outcomes[t].error = X509_STORE_CTX_get_error(ctx);
      X509_STORE_CTX_free(ctx);
    });
    for (int t = 0; t < kThreads; t++)
      EXPECT_EQ(outcomes[t], (Outcome{0, X509_V_ERR_CERT_REVOKED}))
          << "round " << round << " thread " << t;
    X509_STORE_free(store);
  }
  EXPECT_ERRORS({});
  X509_free(leaf);
  X509_free(root);
  CRYPTO_set_locking_callback(nullptr);
}

// Eight threads verify one leaf (half of them with its issuer's list) at
// once, half against a store holding the issuer, half against one holding
// another certificate of the issuer's name with another key: the marks the
// first half leave never answer for the second half, nor the reverse.
TEST(X509ThreadsKeys, MarksOfTwoKeysMeetOnOneCertificate) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  auto der_of = [](X509* x) {
    const Bytes der = Encode(i2d_X509, x);
    X509_free(x);
    return der;
  };
  const Bytes root_der = der_of(morvane_test::MakeCert({"Root", "", 2, 1, kCaExts}));
  const Bytes other_der =
      der_of(morvane_test::MakeCert({"Root", "", 2, 2, kCaExts, RsaKey2(), RsaKey2()}));
  const Bytes leaf_der = der_of(morvane_test::MakeCert({"Leaf", "Root", 2, 3, {}}));
  X509_CRL* made = morvane_test::MakeCrl("Root", {{9, {}}});
  const Bytes crl_der = Encode(i2d_X509_CRL, made);
  X509_CRL_free(made);
  X509_STORE* stores[2];
  for (int k = 0; k < 2; k++) {
    X509* root = Decode(d2i_X509, k == 0 ? root_der : other_der);
    stores[k] = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(stores[k], root));
    X509_free(root);
  }
  for (int round = 0; round < kRounds; round++) {
    X509* leaf = Decode(d2i_X509, leaf_der);
    X509_CRL* crl = Decode(d2i_X509_CRL, crl_der);
    STACK* crls = sk_new_null();
    sk_push(crls, reinterpret_cast<char*>(crl));
    Outcome outcomes[kThreads];
    RunTogether([&](int t) {
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      X509_STORE_CTX_init(ctx, stores[t % 2], leaf, nullptr);
      X509_STORE_CTX_set0_crls(ctx, crls);
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      if (t % 4 < 2) X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
      outcomes[t].result = X509_verify_cert(ctx);
      outcomes[t].error = X509_STORE_CTX_get_error(ctx);
      X509_STORE_CTX_free(ctx);
      ERR_clear_error();
    });
    for (int t = 0; t < kThreads; t++) {
      if (t % 2 == 0) {
        EXPECT_EQ(outcomes[t], (Outcome{1, X509_V_OK})) << "round " << round << " thread " << t;
      } else {
        // The list, or else the leaf, fails under the other key: the chain
        // search keeps the one chain it built.
        const int fails =
            t % 4 < 2 ? X509_V_ERR_CRL_SIGNATURE_FAILURE : X509_V_ERR_CERT_SIGNATURE_FAILURE;
        EXPECT_EQ(outcomes[t], (Outcome{0, fails})) << "round " << round << " thread " << t;
      }
    }
    EXPECT_EQ(leaf->valid, 1);
    EXPECT_EQ(crl->valid, 1);
    sk_free(crls);
    X509_CRL_free(crl);
    X509_free(leaf);
  }
  for (X509_STORE* s : stores) X509_STORE_free(s);
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

// One decoded intermediate whose EC issuer key two stores trust under two
// encodings of its point (compressed and uncompressed): eight threads
// verify its revoked leaf at once, half against each store, with a
// stranger's newer delta list beside the issuer's revoking one.  Every run
// finds the revocation: what one thread checks never stands in for what
// another must check.
TEST(X509ThreadsKeys, TwoEncodingsOfOneIssuerKeyEachFindTheRevocation) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  EVP_PKEY* compressed = EVP_PKEY_new();
  EC_KEY* copy = EC_KEY_dup(EcKey()->pkey.ec);
  ASSERT_NE(nullptr, copy);
  EC_KEY_set_conv_form(copy, POINT_CONVERSION_COMPRESSED);
  EVP_PKEY_assign_EC_KEY(compressed, copy);
  auto der_of = [](X509* x) {
    const Bytes der = Encode(i2d_X509, x);
    X509_free(x);
    return der;
  };
  const Bytes roots[2] = {
      der_of(morvane_test::MakeCert({"Root", "", 2, 1, kCaExts, EcKey(), EcKey()})),
      der_of(morvane_test::MakeCert({"Root", "", 2, 2, kCaExts, compressed, EcKey()}))};
  ASSERT_NE(roots[0], roots[1]);
  const Bytes ca_der = der_of(morvane_test::MakeCert({"CA", "Root", 2, 3, kCaExts, RsaKey(), EcKey()}));
  const Bytes leaf_der = der_of(morvane_test::MakeCert({"Leaf", "CA", 2, 5, {}, RsaKey2(), RsaKey()}));
  const CertExt number1{88, false, FromHex("020101")}, number2{88, false, FromHex("020102")},
      number3{88, false, FromHex("020103")}, delta_of_1{140, true, FromHex("020101")};
  std::vector<Bytes> list_ders;
  auto list = [&](std::vector<morvane_test::CrlEntry> entries, time_t last,
                  std::vector<CertExt> exts, EVP_PKEY* key) {
    X509_CRL* made =
        morvane_test::MakeCrl("CA", entries, last, kChainMoment + 86400, exts, key);
    list_ders.push_back(Encode(i2d_X509_CRL, made));
    X509_CRL_free(made);
  };
  list({}, kChainMoment - 2 * 86400, {number1}, RsaKey());
  list({{5, {}}}, kChainMoment - 60, {number2, delta_of_1}, RsaKey());
  list({}, kChainMoment - 30, {number3, delta_of_1}, RsaKey2());
  X509_STORE* stores[2];
  for (int k = 0; k < 2; k++) {
    X509* root = Decode(d2i_X509, roots[k]);
    stores[k] = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(stores[k], root));
    X509_free(root);
  }
  for (int round = 0; round < kRounds; round++) {
    X509* ca = Decode(d2i_X509, ca_der);
    X509* leaf = Decode(d2i_X509, leaf_der);
    STACK* untrusted = sk_new_null();
    sk_push(untrusted, reinterpret_cast<char*>(ca));
    STACK* crls = sk_new_null();
    for (const Bytes& d : list_ders) sk_push(crls, reinterpret_cast<char*>(Decode(d2i_X509_CRL, d)));
    Outcome outcomes[kThreads];
    RunTogether([&](int t) {
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      X509_STORE_CTX_init(ctx, stores[t % 2], leaf, untrusted);
      X509_STORE_CTX_set0_crls(ctx, crls);
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
      outcomes[t].result = X509_verify_cert(ctx);
      outcomes[t].error = X509_STORE_CTX_get_error(ctx);
      X509_STORE_CTX_free(ctx);
      ERR_clear_error();
    });
    for (int t = 0; t < kThreads; t++)
      EXPECT_EQ(outcomes[t], (Outcome{0, X509_V_ERR_CERT_REVOKED}))
          << "round " << round << " thread " << t;
    sk_pop_free(crls, [](void* l) { X509_CRL_free(static_cast<X509_CRL*>(l)); });
    sk_free(untrusted);
    X509_free(leaf);
    X509_free(ca);
  }
  for (X509_STORE* s : stores) X509_STORE_free(s);
  EVP_PKEY_free(compressed);
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

// A DSA chain over shared decoded certificates, the root's key with its
// parameters, the intermediate's taking them from the root, the leaf's with
// its own: eight threads verify at once, each round from fresh copies, so
// that they meet on the keys' first decoding and the copies kept for
// checking.  Nothing encodes into a key, so nothing races.
TEST(X509ThreadsKeys, DsaChainsOwnAndInheritedParameters) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  EVP_PKEY* ca_key = DsaKeySharingParameters(DsaKey());
  auto der_of = [](X509* x, EVP_PKEY* strip_with) {
    if (strip_with != nullptr) {  // the key leaves its parameters to the issuer's
      ASN1_TYPE_free(x->cert_info->key->algor->parameter);
      x->cert_info->key->algor->parameter = nullptr;
      EXPECT_GT(X509_sign(x, strip_with, EVP_dss1()), 0);
    }
    const Bytes der = Encode(i2d_X509, x);
    X509_free(x);
    return der;
  };
  const Bytes root_der =
      der_of(morvane_test::MakeCert({"Root", "", 2, 1, kCaExts, DsaKey(), DsaKey()}), nullptr);
  const Bytes ca_der =
      der_of(morvane_test::MakeCert({"CA", "Root", 2, 2, kCaExts, ca_key, DsaKey()}), DsaKey());
  const Bytes leaf_der =
      der_of(morvane_test::MakeCert({"Leaf", "CA", 2, 3, {}, DsaKey(), ca_key}), nullptr);
  for (int round = 0; round < kRounds; round++) {
    X509* root = Decode(d2i_X509, root_der);
    X509* ca = Decode(d2i_X509, ca_der);
    X509* leaf = Decode(d2i_X509, leaf_der);
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(store, root));
    STACK* untrusted = sk_new_null();
    sk_push(untrusted, reinterpret_cast<char*>(ca));
    Outcome outcomes[kThreads];
    RunTogether([&](int t) {
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      X509_STORE_CTX_init(ctx, store, t % 2 ? leaf : ca, untrusted);
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      outcomes[t] = {X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
      X509_STORE_CTX_free(ctx);
    });
    for (int t = 0; t < kThreads; t++)
      EXPECT_EQ(outcomes[t], (Outcome{1, X509_V_OK})) << "round " << round << " thread " << t;
    sk_free(untrusted);
    X509_STORE_free(store);
    for (X509* x : {root, ca, leaf}) X509_free(x);
  }
  EVP_PKEY_free(ca_key);
  EXPECT_ERRORS({});
  CRYPTO_set_locking_callback(nullptr);
}

// Eight threads make the first additions of the process to one store at
// once: the certificate made in memory that they share (its subject changed
// since it was signed, so that keying it encodes the name again), each its
// own decoded copy of one certificate and of one list, and a certificate of
// its own.  Each object is held once, whichever thread added it.
TEST(X509ThreadsStore, FirstAdditionsToOneStore) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  X509* shared = morvane_test::MakeCert({"Shared", "", 2, 1, {}});
  X509_NAME_add_entry_by_txt(X509_get_subject_name(shared), "O", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("Changed"), -1, -1, 0);
  const ChainDer der = MakeChainDer();
  X509_STORE* store = X509_STORE_new();
  std::atomic<int> added{0};
  RunTogether([&](int t) {
    Bytes own = der.leaf;
    own[own.size() - 1] ^= static_cast<unsigned char>(t + 1);  // another signature
    X509* mine[] = {Decode(d2i_X509, der.ca), Decode(d2i_X509, own)};
    X509_CRL* crl = Decode(d2i_X509_CRL, der.root_crl);
    added.fetch_add(X509_STORE_add_cert(store, shared) + X509_STORE_add_cert(store, mine[0]) +
                    X509_STORE_add_cert(store, mine[1]) + X509_STORE_add_crl(store, crl));
    for (X509* x : mine) X509_free(x);
    X509_CRL_free(crl);
  });
  EXPECT_EQ(added.load(), 3 + kThreads);
  EXPECT_EQ(sk_num(store->objs), 3 + kThreads);
  X509_STORE_free(store);
  X509_free(shared);
  CRYPTO_set_locking_callback(nullptr);
}

// One thread fills a store while eight verify a leaf against it with
// revocation checks: it adds 200 hashed directories (their list grows while
// the verifiers walk it), a PEM file (the file lookup is attached while
// they walk the lookups), the default paths, certificates and lists, and
// part way a list that revokes the leaf.  Every run gives 0 under the older
// list, or 23, and 23 when the revoking list was added before it started.
TEST(X509ThreadsStore, FilledWhileEightThreadsVerify) {
  morvane_test::InstallSharedLockingCallback();
  morvane_test::InstallThreadIdCallback();
  Morvane_add_all_digests();
  X509* root = morvane_test::MakeCert({"Root", "", 2, 1, kCaExts});
  X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}});
  X509_CRL* older = morvane_test::MakeCrl("Root", {{7, {}}}, kChainMoment - 2 * 86400);
  X509_CRL* revoking = morvane_test::MakeCrl("Root", {{5, {}}}, kChainMoment - 60);
  X509* other = morvane_test::MakeCert({"Other", "", 2, 9, {}});
  X509_CRL* other_crl = morvane_test::MakeCrl("Other", {{3, {}}});
  const Bytes other_der = Encode(i2d_X509, other);
  const Bytes other_crl_der = Encode(i2d_X509_CRL, other_crl);
  morvane_test::TempPath base(morvane_test::TempPath::kDir);
  morvane_test::TempPath pem;
  BIO* out = BIO_new_file(pem.c_str(), "w");
  ASSERT_EQ(1, PEM_write_bio_X509(out, other));
  BIO_free(out);
  std::vector<std::string> dirs;
  for (int i = 0; i < 200; i++) {
    dirs.push_back(base.Join("d" + std::to_string(i)));
    ASSERT_EQ(0, mkdir(dirs.back().c_str(), 0700));
  }
  setenv("SSL_CERT_DIR", base.c_str(), 1);
  setenv("SSL_CERT_FILE", pem.c_str(), 1);
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  ASSERT_EQ(1, X509_STORE_add_crl(store, older));
  std::atomic<bool> revoked{false}, done{false};
  std::atomic<int> runs{0}, wrong{0};
  std::thread filler([&] {
    while (runs.load() < kThreads) std::this_thread::yield();
    for (int i = 0; i < 200; i++) {
      EXPECT_EQ(1, X509_STORE_load_locations(store, nullptr, dirs[i].c_str()));
      if (i == 20) {
        EXPECT_EQ(1, X509_STORE_load_locations(store, pem.c_str(), nullptr));
      } else if (i == 40) {
        EXPECT_EQ(1, X509_STORE_set_default_paths(store));
      }
      if (i % 10 == 5) {
        Bytes der = other_der;
        der.back() ^= static_cast<unsigned char>(i);  // another signature
        X509* x = Decode(d2i_X509, der);
        der = other_crl_der;
        der.back() ^= static_cast<unsigned char>(i);
        X509_CRL* crl = Decode(d2i_X509_CRL, der);
        EXPECT_EQ(1, X509_STORE_add_cert(store, x));
        EXPECT_EQ(1, X509_STORE_add_crl(store, crl));
        X509_free(x);
        X509_CRL_free(crl);
      }
      if (i == 100) {
        EXPECT_EQ(1, X509_STORE_add_crl(store, revoking));
        revoked.store(true);
      }
    }
    done.store(true);
    ERR_remove_state(0);
  });
  RunTogether([&](int) {
    for (int after = 0; !done.load() || after < 2;) {
      const bool was_revoked = revoked.load();
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      X509_STORE_CTX_init(ctx, store, leaf, nullptr);
      X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
      X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
      const Outcome got{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
      X509_STORE_CTX_free(ctx);
      if (got != Outcome{0, X509_V_ERR_CERT_REVOKED} &&
          (was_revoked || got != Outcome{1, X509_V_OK}))
        wrong.fetch_add(1);
      runs.fetch_add(1);
      after += was_revoked;
    }
    ERR_clear_error();
  });
  filler.join();
  unsetenv("SSL_CERT_DIR");
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(0, wrong.load()) << "of " << runs.load();
  ERR_clear_error();
  X509_STORE_free(store);
  for (X509* x : {root, leaf, other}) X509_free(x);
  for (X509_CRL* crl : {older, revoking, other_crl}) X509_CRL_free(crl);
  CRYPTO_set_locking_callback(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Chains, X509Threads, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ThreadCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
