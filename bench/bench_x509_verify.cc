// Verification against long-lived objects, and store additions, on a chain
// made here: a root, an intermediate CA and a leaf, RSA-2048 keys,
// SHA-256 signatures, each CA with its revocation list (none of the chain
// revoked).  Everything is made, encoded and decoded once before the
// timing, so each object is as a reader of DER would hold it; "fresh" means
// decoded again inside each iteration (timed), as a peer's new object is.
// Each verification has a context of its own, the root in the store, the
// intermediate untrusted.
//
// - "x509-verify/warm/no-lists": the decoded chain verified again;
// - "x509-verify/warm/2-lists/<n>": the same with both lists checked
//   (X509_V_FLAG_CRL_CHECK_ALL), each revoking n other serial numbers;
// - "x509-verify/fresh-leaf": a fresh leaf under the long-lived store and
//   intermediate (no lists);
// - "x509-verify/fresh-lists": the long-lived chain with two fresh lists of
//   one entry each;
// - "x509-store/add-fresh/<n>": n certificates of distinct subjects,
//   decoded just before (untimed), added to a new store; one iteration is
//   the n additions and the store's release;
// - "x509-store/duplicates/<n>" and "x509-store/duplicates-crl/<n>": a
//   store holding n certificates (lists) of one name, differing in their
//   signature, made once; each iteration adds fresh copies of all n, every
//   one refused as a duplicate (the copies decoded untimed).
// - "x509-store/add/<shape>/<n>": n certificates (or lists, "crl-") of
//   distinct names "Bench store <number>", decoded just before (untimed),
//   added to a new store in random order or in name order ("name-order"),
//   each with a signature value of its own, all with one ("one-signature")
//   or two of different names with each ("signature-pairs"); copies of one
//   signed object with the name's number and the signature value written
//   in.  One iteration is the n additions and the store's release.
// - "x509-store/add-again/<n>": the same, the certificates random and in
//   random order, decoded once and added to one store before: each
//   iteration adds them to a new store.
// - "x509-store/retrieve-match/<n>": X509_OBJECT_retrieve_match over a
//   store holding n certificates of one name (their signatures differ), for
//   a fresh copy of each (decoded untimed).

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "bench.h"
#include "x509_der.h"

namespace bench {
namespace {

using Der = std::vector<unsigned char>;

constexpr long kNow = 1577836800;  // 2020-01-01, the verification time
constexpr long kDay = 86400;
constexpr int kNidBasicConstraints = 87;

EVP_PKEY* NewRsaKey() {
  RSA* rsa = RSA_new();
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  RSA_generate_key_ex(rsa, 2048, e, nullptr);
  BN_free(e);
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, rsa);
  return key;
}

X509_NAME* NameOf(const std::string& cn) {
  X509_NAME* name = X509_NAME_new();
  X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  return name;
}

template <class T>
T* DecodeWith(T* (*d2i)(T**, const unsigned char**, long), const Der& der) {
  const unsigned char* p = der.data();
  return d2i(nullptr, &p, static_cast<long>(der.size()));
}

Der MakeCert(const std::string& subject, const std::string& issuer, long serial, bool ca,
             EVP_PKEY* key, EVP_PKEY* signer) {
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_NAME* name = NameOf(subject);
  X509_set_subject_name(x, name);
  X509_NAME_free(name);
  name = NameOf(issuer);
  X509_set_issuer_name(x, name);
  X509_NAME_free(name);
  ASN1_TIME* t = ASN1_TIME_set(nullptr, kNow - 30 * kDay);
  X509_set_notBefore(x, t);
  ASN1_TIME_set(t, kNow + 365 * kDay);
  X509_set_notAfter(x, t);
  ASN1_TIME_free(t);
  X509_set_pubkey(x, key);
  if (ca) {
    static const unsigned char kCaTrue[] = {0x30, 0x03, 0x01, 0x01, 0xff};
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, kCaTrue, sizeof kCaTrue);
    X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, kNidBasicConstraints, 1, value);
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(value);
  }
  X509_sign(x, signer, EVP_sha256());
  Der der = EncodeWith(i2d_X509, x);
  X509_free(x);
  return der;
}

// A list of `issuer` revoking serial numbers first, first + 1, ... (count of
// them), signed by key.
Der MakeCrl(const std::string& issuer, long first, long count, EVP_PKEY* key) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_NAME* name = NameOf(issuer);
  X509_CRL_set_issuer_name(crl, name);
  X509_NAME_free(name);
  ASN1_TIME* t = ASN1_TIME_set(nullptr, kNow - kDay);
  X509_CRL_set_lastUpdate(crl, t);
  ASN1_TIME_set(t, kNow + 30 * kDay);
  X509_CRL_set_nextUpdate(crl, t);
  ASN1_TIME_set(t, kNow - 2 * kDay);
  for (long s = first; s < first + count; s++) {
    X509_REVOKED* rev = X509_REVOKED_new();
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, s);
    X509_REVOKED_set_serialNumber(rev, serial);
    ASN1_INTEGER_free(serial);
    X509_REVOKED_set_revocationDate(rev, t);
    X509_CRL_add0_revoked(crl, rev);
  }
  ASN1_TIME_free(t);
  X509_CRL_sort(crl);
  X509_CRL_sign(crl, key, EVP_sha256());
  Der der = EncodeWith(i2d_X509_CRL, crl);
  X509_CRL_free(crl);
  return der;
}

// The chain's DER, made once per process.
struct Chain {
  EVP_PKEY* root_key;
  EVP_PKEY* ca_key;
  EVP_PKEY* leaf_key;
  Der root, ca, leaf;
};

const Chain& TheChain() {
  static const Chain chain = [] {
    Chain c;
    c.root_key = NewRsaKey();
    c.ca_key = NewRsaKey();
    c.leaf_key = NewRsaKey();
    c.root = MakeCert("Bench Root", "Bench Root", 1, true, c.root_key, c.root_key);
    c.ca = MakeCert("Bench CA", "Bench Root", 2, true, c.ca_key, c.root_key);
    c.leaf = MakeCert("Bench Leaf", "Bench CA", 3, false, c.leaf_key, c.ca_key);
    return c;
  }();
  return chain;
}

// One verification of leaf with a new context: 1 when it verified.
int VerifyOnce(X509_STORE* store, X509* leaf, STACK* untrusted, STACK* crls) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  X509_STORE_CTX_init(ctx, store, leaf, untrusted);
  X509_STORE_CTX_set_time(ctx, 0, kNow);
  if (crls != nullptr) {
    X509_STORE_CTX_set0_crls(ctx, crls);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  }
  const int ok = X509_verify_cert(ctx);
  X509_STORE_CTX_free(ctx);
  return ok;
}

enum class Shape { kWarm, kFreshLeaf, kFreshLists };

// One timed iteration of TimeVerify (a function of its own, so that an
// instruction count can be taken of it alone).
[[gnu::noinline]] void TimedVerification(benchmark::State& state, Shape shape, const Chain& c,
                                         X509_STORE* store, X509* leaf, STACK* untrusted,
                                         STACK* crls, const Der& root_list, const Der& ca_list) {
  if (shape == Shape::kWarm) {
    if (VerifyOnce(store, leaf, untrusted, crls) != 1) state.SkipWithError("not verified");
  } else if (shape == Shape::kFreshLeaf) {
    X509* fresh = DecodeWith(d2i_X509, c.leaf);
    if (VerifyOnce(store, fresh, untrusted, nullptr) != 1) state.SkipWithError("not verified");
    X509_free(fresh);
  } else {
    STACK* fresh = sk_new_null();
    sk_push(fresh, reinterpret_cast<char*>(DecodeWith(d2i_X509_CRL, root_list)));
    sk_push(fresh, reinterpret_cast<char*>(DecodeWith(d2i_X509_CRL, ca_list)));
    if (VerifyOnce(store, leaf, untrusted, fresh) != 1) state.SkipWithError("not verified");
    X509_CRL_free(reinterpret_cast<X509_CRL*>(sk_value(fresh, 0)));
    X509_CRL_free(reinterpret_cast<X509_CRL*>(sk_value(fresh, 1)));
    sk_free(fresh);
  }
}

// list_entries < 0: no lists.
void TimeVerify(benchmark::State& state, Shape shape, long list_entries) {
  MORVANE_add_all_algorithms_noconf();
  const Chain& c = TheChain();
  X509* root = DecodeWith(d2i_X509, c.root);
  X509* ca = DecodeWith(d2i_X509, c.ca);
  X509* leaf = DecodeWith(d2i_X509, c.leaf);
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, root);
  STACK* untrusted = sk_new_null();
  sk_push(untrusted, reinterpret_cast<char*>(ca));
  Der root_list, ca_list;
  STACK* crls = nullptr;
  if (list_entries >= 0) {
    root_list = MakeCrl("Bench Root", 1000000, list_entries, c.root_key);
    ca_list = MakeCrl("Bench CA", 2000000, list_entries, c.ca_key);
    crls = sk_new_null();
    sk_push(crls, reinterpret_cast<char*>(DecodeWith(d2i_X509_CRL, root_list)));
    sk_push(crls, reinterpret_cast<char*>(DecodeWith(d2i_X509_CRL, ca_list)));
  }
  // Once untimed: the long-lived objects have been verified before.
  if (VerifyOnce(store, leaf, untrusted, crls) != 1)
    state.SkipWithError("the chain does not verify");
  for (auto _ : state)
    TimedVerification(state, shape, c, store, leaf, untrusted, crls, root_list, ca_list);
  if (crls != nullptr) {
    for (int i = 0; i < sk_num(crls); i++)
      X509_CRL_free(reinterpret_cast<X509_CRL*>(sk_value(crls, i)));
    sk_free(crls);
  }
  sk_free(untrusted);
  X509_STORE_free(store);
  X509_free(root);
  X509_free(ca);
  X509_free(leaf);
  ERR_clear_error();
}

// The additions of one timed iteration: the count of objects added.
template <class T>
[[gnu::noinline]] int TimedAdditions(X509_STORE* store, const std::vector<T*>& objects,
                                     int (*add)(X509_STORE*, T*)) {
  int added = 0;
  for (T* v : objects) added += add(store, v) == 1;
  return added;
}

template <class T>
void TimeDuplicates(benchmark::State& state, const std::vector<Der>& ders,
                    T* (*d2i)(T**, const unsigned char**, long), void (*release)(T*),
                    int (*add)(X509_STORE*, T*)) {
  X509_STORE* store = X509_STORE_new();
  for (const Der& d : ders) {
    T* v = DecodeWith(d2i, d);
    if (add(store, v) != 1) state.SkipWithError("an object was refused");
    release(v);
  }
  ERR_clear_error();
  std::vector<T*> copies(ders.size());
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t k = 0; k < ders.size(); k++) copies[k] = DecodeWith(d2i, ders[k]);
    state.ResumeTiming();
    TimedAdditions(store, copies, add);  // each one a duplicate
    state.PauseTiming();
    for (T* v : copies) release(v);
    ERR_clear_error();
    state.ResumeTiming();
  }
  X509_STORE_free(store);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ders.size()));
}

// How the signature values of a store row's objects go.
enum class Signatures { kOwn, kOne, kPairs };

// n certificates (lists) of the names "Bench store 0000000" up, as
// "x509-store/add/..." describes them, in name order or shuffled.
std::vector<Der> StoreObjects(bool crl, int n, Signatures sigs, bool name_order) {
  const Chain& c = TheChain();
  const Der signed_once = crl ? MakeCrl("Bench store 0000000", 5000, 1, c.ca_key)
                              : MakeCert("Bench store 0000000", "Bench CA", 100, false,
                                         c.leaf_key, c.ca_key);
  static const char kMark[] = "Bench store 0000000";
  const size_t mark = sizeof kMark - 1;
  const auto at = std::search(signed_once.begin(), signed_once.end(), kMark, kMark + mark);
  std::vector<Der> out;
  std::mt19937 rng(105);
  for (int k = 0; k < n; k++) {
    Der der = signed_once;
    char digits[8];
    snprintf(digits, sizeof digits, "%07d", k);
    memcpy(&der[static_cast<size_t>(at - signed_once.begin()) + mark - 7], digits, 7);
    // The signature value is the last 256 octets.
    std::mt19937 value(sigs == Signatures::kOwn ? rng() : sigs == Signatures::kPairs ? k / 2 : 0);
    if (sigs != Signatures::kOne)
      for (size_t i = der.size() - 256; i < der.size(); i++)
        der[i] = static_cast<unsigned char>(value());
    out.push_back(der);
  }
  if (!name_order) std::shuffle(out.begin(), out.end(), rng);
  return out;
}

// "x509-store/add-fresh/..." and "x509-store/add/...": each iteration adds
// the objects, decoded just before, to a new store.
template <class T>
void TimeStoreAdds(benchmark::State& state, const std::vector<Der>& ders,
                   T* (*d2i)(T**, const unsigned char**, long), void (*release)(T*),
                   int (*add)(X509_STORE*, T*)) {
  std::vector<T*> objects(ders.size());
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t k = 0; k < ders.size(); k++) objects[k] = DecodeWith(d2i, ders[k]);
    state.ResumeTiming();
    X509_STORE* store = X509_STORE_new();
    if (TimedAdditions(store, objects, add) != static_cast<int>(objects.size()))
      state.SkipWithError("an object was refused");
    X509_STORE_free(store);
    state.PauseTiming();
    for (T* v : objects) release(v);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ders.size()));
}

void TimeAddAgain(benchmark::State& state, int n) {
  const std::vector<Der> ders = StoreObjects(false, n, Signatures::kOwn, false);
  std::vector<X509*> certs;
  for (const Der& d : ders) certs.push_back(DecodeWith(d2i_X509, d));
  X509_STORE* first = X509_STORE_new();
  for (X509* x : certs) X509_STORE_add_cert(first, x);
  for (auto _ : state) {
    X509_STORE* store = X509_STORE_new();
    if (TimedAdditions(store, certs, X509_STORE_add_cert) != n)
      state.SkipWithError("a certificate was refused");
    X509_STORE_free(store);
  }
  X509_STORE_free(first);
  for (X509* x : certs) X509_free(x);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

// The matches of one timed iteration: the count of copies matched.
[[gnu::noinline]] int TimedMatches(STACK* objs, const std::vector<X509*>& copies) {
  int matched = 0;
  for (X509* x : copies) {
    X509_OBJECT probe;
    probe.type = X509_LU_X509;
    probe.data.x509 = x;
    matched += X509_OBJECT_retrieve_match(objs, &probe) != nullptr;
  }
  return matched;
}

void TimeRetrieveMatch(benchmark::State& state, int n) {
  std::vector<Der> ders;
  for (int k = 0; k < n; k++) ders.push_back(WithSignatureHead(TheChain().leaf, k));
  X509_STORE* store = X509_STORE_new();
  for (const Der& d : ders) {
    X509* x = DecodeWith(d2i_X509, d);
    if (X509_STORE_add_cert(store, x) != 1) state.SkipWithError("a certificate was refused");
    X509_free(x);
  }
  std::vector<X509*> copies(ders.size());
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t k = 0; k < ders.size(); k++) copies[k] = DecodeWith(d2i_X509, ders[k]);
    state.ResumeTiming();
    if (TimedMatches(store->objs, copies) != n) state.SkipWithError("a copy was not matched");
    state.PauseTiming();
    for (X509* x : copies) X509_free(x);
    state.ResumeTiming();
  }
  X509_STORE_free(store);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

}  // namespace

void RegisterX509Verify() {
  benchmark::RegisterBenchmark("x509-verify/warm/no-lists", [](benchmark::State& state) {
    TimeVerify(state, Shape::kWarm, -1);
  })->Unit(benchmark::kMicrosecond);
  for (long n : {100L, 1000L, 100000L}) {
    benchmark::RegisterBenchmark(
        ("x509-verify/warm/2-lists/" + std::to_string(n)).c_str(),
        [n](benchmark::State& state) { TimeVerify(state, Shape::kWarm, n); })
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("x509-verify/fresh-leaf", [](benchmark::State& state) {
    TimeVerify(state, Shape::kFreshLeaf, -1);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("x509-verify/fresh-lists", [](benchmark::State& state) {
    TimeVerify(state, Shape::kFreshLists, 1);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("x509-store/add-fresh/1000", [](benchmark::State& state) {
    static const std::vector<Der> ders = [] {
      const Chain& c = TheChain();
      std::vector<Der> out;
      for (int k = 0; k < 1000; k++)
        out.push_back(MakeCert("Bench fresh " + std::to_string(k), "Bench CA", 100 + k, false,
                               c.leaf_key, c.ca_key));
      return out;
    }();
    TimeStoreAdds<X509>(state, ders, d2i_X509, X509_free, X509_STORE_add_cert);
  })->Unit(benchmark::kMicrosecond);
  struct AddShape {
    const char* name;
    bool crl;
    Signatures sigs;
    bool name_order;
  };
  static const AddShape kAddShapes[] = {
      {"random", false, Signatures::kOwn, false},
      {"name-order", false, Signatures::kOwn, true},
      {"crl-random", true, Signatures::kOwn, false},
      {"crl-name-order", true, Signatures::kOwn, true},
      {"one-signature", false, Signatures::kOne, false},
      {"crl-one-signature", true, Signatures::kOne, false},
      {"signature-pairs", false, Signatures::kPairs, false},
      {"crl-signature-pairs", true, Signatures::kPairs, false},
  };
  for (const AddShape& shape : kAddShapes) {
    for (int n : {10000, 100000}) {
      benchmark::RegisterBenchmark(
          ("x509-store/add/" + std::string(shape.name) + "/" + std::to_string(n)).c_str(),
          [&shape, n](benchmark::State& state) {
            const std::vector<Der> ders = StoreObjects(shape.crl, n, shape.sigs, shape.name_order);
            if (shape.crl) {
              TimeStoreAdds<X509_CRL>(state, ders, d2i_X509_CRL, X509_CRL_free,
                                      X509_STORE_add_crl);
            } else {
              TimeStoreAdds<X509>(state, ders, d2i_X509, X509_free, X509_STORE_add_cert);
            }
          })
          ->Unit(benchmark::kMillisecond)
          ->Iterations(n >= 100000 ? 1 : 5);
    }
  }
  benchmark::RegisterBenchmark("x509-store/add-again/10000", [](benchmark::State& state) {
    TimeAddAgain(state, 10000);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("x509-store/retrieve-match/1000", [](benchmark::State& state) {
    TimeRetrieveMatch(state, 1000);
  })->Unit(benchmark::kMillisecond);
  for (int n : {1000, 8000}) {
    benchmark::RegisterBenchmark(("x509-store/duplicates/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) {
                                   std::vector<Der> ders;
                                   for (int k = 0; k < n; k++)
                                     ders.push_back(WithSignatureHead(TheChain().leaf, k));
                                   TimeDuplicates<X509>(state, ders, d2i_X509, X509_free,
                                                        X509_STORE_add_cert);
                                 })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("x509-store/duplicates-crl/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) {
                                   const Chain& c = TheChain();
                                   const Der list = MakeCrl("Bench CA", 5000, 1, c.ca_key);
                                   std::vector<Der> ders;
                                   for (int k = 0; k < n; k++)
                                     ders.push_back(WithSignatureHead(list, k));
                                   TimeDuplicates<X509_CRL>(state, ders, d2i_X509_CRL,
                                                            X509_CRL_free, X509_STORE_add_crl);
                                 })
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace bench
