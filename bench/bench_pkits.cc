// Chain verification over the valid runs of NIST PKITS 1.0.1, section 4
// (../shared/vectors/pkits, its runs.tsv), set up as
// test/x509/pkits_verify_test.cc does: the store holds the trust anchor, the
// untrusted list every CA certificate of the suite, the context every CRL;
// moment 2020-01-01 00:00:00 UTC; strict, CRL checks for the whole chain,
// the policy check with the run's initial settings.
//
// "pkits-verify/<test>.<run>": one X509_verify_cert of the run's path.  The
// certificates and CRLs are decoded from their DER before each iteration
// and freed after it, outside the timing, so that every iteration starts
// from objects whose cached facts (extensions, hashes) have not been
// computed yet; store, context and policy settings are built inside it.
//
// "pkits-verify-path/<test>.<run>": the same, with the untrusted list cut
// to the chain's own CA certificates and the CRL list to the CRLs those
// certificates (and the anchor) issued: the cost of the path itself, without
// the searches through the whole suite.
//
// "pkits-sigs/<test>.<run>": the same chain's signature checks alone (RSA;
// DSA on the suite's DSA paths),
// X509_verify of each certificate of the verified chain (the anchor's own
// signature excepted) with its issuer's key, the keys taken out beforehand.
//
// "x509-lookalikes/<depths>x<n>": one X509_verify_cert of a leaf under
// <depths> CA certificates D1 ... Dn, each listed in the untrusted list
// behind <n> look-alikes of its own (its name and issuer, a CA, under a key
// of the sender's that also signed them), the root behind three self-signed
// roots of its name under another key; RSA-1024, decoded afresh outside the
// timing.  "verified" is 1 when the chain was found.
//
// "x509-hashdir/...": X509_LOOKUP_hash_dir over a temporary directory of
// 1,000 certificates, each under "<subject hash>.<n>"; "cold" finds one
// certificate through a new store (the file is read and decoded), "cached"
// finds it again in a store that has loaded all of them, "miss" asks for a
// name that has no file.

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "bench.h"

namespace bench {
namespace {

using Der = std::vector<unsigned char>;

struct Run {
  std::string test;
  int run;
  std::string ee;
  std::string policy;
  std::string flags;
};

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, sep)) out.push_back(item);
  return out;
}

Der ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Der(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Suite {
  std::vector<Run> valid;
  Der anchor;
  std::vector<Der> cas;
  std::map<std::string, Der> ees;
  std::vector<Der> crls;
};

bool LoadSuite(const std::string& dir, Suite* s) {
  std::ifstream tsv(dir + "/runs.tsv");
  if (!tsv) return false;
  std::string line;
  bool header = true;
  while (std::getline(tsv, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 8 || f[7] != "valid") continue;
    s->valid.push_back({f[0], std::stoi(f[1]), f[2], f[5], f[6]});
  }
  std::vector<std::filesystem::path> certs, crls;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/certs"))
    if (e.path().extension() == ".crt") certs.push_back(e.path());
  for (const auto& e : std::filesystem::directory_iterator(dir + "/crls"))
    if (e.path().extension() == ".crl") crls.push_back(e.path());
  std::sort(certs.begin(), certs.end());
  std::sort(crls.begin(), crls.end());
  for (const auto& p : certs) {
    const std::string stem = p.stem().string();
    if (stem == "TrustAnchorRootCertificate") {
      s->anchor = ReadFile(p.string());
    } else if (stem.size() > 2 && stem.compare(stem.size() - 2, 2, "EE") == 0) {
      s->ees[stem] = ReadFile(p.string());
    } else {
      s->cas.push_back(ReadFile(p.string()));
    }
  }
  for (const auto& p : crls) s->crls.push_back(ReadFile(p.string()));
  return true;
}

template <class T>
T* Decode(T* (*d2i)(T**, const unsigned char**, long), const Der& der) {
  const unsigned char* p = der.data();
  return d2i(nullptr, &p, static_cast<long>(der.size()));
}

const char* PolicyOid(const std::string& name) {
  if (name == "P1") return "2.16.840.1.101.3.2.1.48.1";
  if (name == "P2") return "2.16.840.1.101.3.2.1.48.2";
  if (name == "P3") return "2.16.840.1.101.3.2.1.48.3";
  if (name == "P6") return "2.16.840.1.101.3.2.1.48.6";
  return "2.5.29.32.0";  // anyPolicy
}

// The objects of one verification, decoded from DER.
struct Objects {
  X509* anchor = nullptr;
  X509* ee = nullptr;
  STACK* untrusted = nullptr;
  STACK* crls = nullptr;
};

// The objects of the run restricted to its path: the untrusted list holds
// the chain's CA certificates alone, the CRL list those CRLs whose issuer is
// the subject of a certificate of the chain.
struct Path {
  std::vector<Der> cas;
  std::vector<Der> crls;
};

Objects DecodeLists(const Suite& s, const Run& r, const std::vector<Der>& cas,
                    const std::vector<Der>& crls) {
  Objects o;
  o.anchor = Decode(d2i_X509, s.anchor);
  o.ee = Decode(d2i_X509, s.ees.at(r.ee));
  o.untrusted = sk_new_null();
  for (const Der& d : cas) sk_push(o.untrusted, reinterpret_cast<char*>(Decode(d2i_X509, d)));
  o.crls = sk_new_null();
  for (const Der& d : crls) sk_push(o.crls, reinterpret_cast<char*>(Decode(d2i_X509_CRL, d)));
  return o;
}

Objects DecodePath(const Suite& s, const Run& r, const Path& path) {
  return DecodeLists(s, r, path.cas, path.crls);
}

Objects DecodeAll(const Suite& s, const Run& r) {
  return DecodeLists(s, r, s.cas, s.crls);
}

// One verification of the run; the context's chain is handed to `chain`
// (a counted copy) when it is not null.  The store takes the anchor; the
// other objects stay the caller's (FreeObjects).
int Verify(const Run& r, Objects o, STACK** chain) {
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, o.anchor);
  X509_free(o.anchor);
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  X509_STORE_CTX_init(ctx, store, o.ee, o.untrusted);
  X509_STORE_CTX_set0_crls(ctx, o.crls);
  X509_STORE_CTX_set_time(ctx, 0, 1577836800);
  unsigned long flags = X509_V_FLAG_X509_STRICT | X509_V_FLAG_CRL_CHECK |
                        X509_V_FLAG_CRL_CHECK_ALL | X509_V_FLAG_POLICY_CHECK;
  for (const std::string& f : Split(r.flags, ' ')) {
    if (f == "explicit") flags |= X509_V_FLAG_EXPLICIT_POLICY;
    if (f == "inhibit-any") flags |= X509_V_FLAG_INHIBIT_ANY;
    if (f == "inhibit-mapping") flags |= X509_V_FLAG_INHIBIT_MAP;
  }
  X509_STORE_CTX_set_flags(ctx, flags);
  STACK* policies = sk_new_null();
  for (const std::string& p : Split(r.policy, ','))
    sk_push(policies, reinterpret_cast<char*>(OBJ_txt2obj(PolicyOid(p), 1)));
  X509_VERIFY_PARAM_set1_policies(X509_STORE_CTX_get0_param(ctx), policies);
  sk_pop_free(policies, [](void* p) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(p)); });
  const int result = X509_verify_cert(ctx);
  if (chain != nullptr) *chain = X509_STORE_CTX_get1_chain(ctx);
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  ERR_clear_error();
  return result;
}

void FreeObjects(const Objects& o) {
  X509_free(o.ee);
  sk_pop_free(o.crls, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  sk_pop_free(o.untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
}

void FreeChain(STACK* chain) {
  sk_pop_free(chain, [](void* p) { X509_free(static_cast<X509*>(p)); });
}

void RegisterRun(const Suite* s, const Run& r) {
  // One untimed verification gives the chain whose signatures are timed.
  STACK* chain = nullptr;
  const Objects first = DecodeAll(*s, r);
  const int verdict = Verify(r, first, &chain);
  FreeObjects(first);
  if (verdict != 1 || chain == nullptr) {
    fprintf(stderr, "pkits %s run %d does not verify; not timed\n", r.test.c_str(), r.run);
    FreeChain(chain);
    return;
  }
  const int links = sk_num(chain) - 1;
  Path* path = new Path;  // kept for the program's life, as the suite is
  for (int i = 1; i < links; i++) {
    X509* x = reinterpret_cast<X509*>(sk_value(chain, i));
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    path->cas.emplace_back(der, der + n);
    MORVANE_free(der);
  }
  for (const Der& d : s->crls) {
    X509_CRL* crl = Decode(d2i_X509_CRL, d);
    for (int i = 1; i <= links; i++)
      if (X509_NAME_cmp(crl->crl->issuer,
                        X509_get_subject_name(reinterpret_cast<X509*>(sk_value(chain, i)))) == 0) {
        path->crls.push_back(d);
        break;
      }
    X509_CRL_free(crl);
  }
  FreeChain(chain);
  const std::string id = r.test + "." + std::to_string(r.run);
  // Whole suite (null path) or the path's own lists.
  auto time_verify = [s, r, links](benchmark::State& st, const Path* path) {
    for (auto _ : st) {
      st.PauseTiming();
      Objects o = path != nullptr ? DecodePath(*s, r, *path) : DecodeAll(*s, r);
      st.ResumeTiming();
      if (Verify(r, o, nullptr) != 1) st.SkipWithError("verification failed");
      st.PauseTiming();
      FreeObjects(o);
      st.ResumeTiming();
    }
    st.counters["certs"] = links + 1;
    if (path != nullptr) st.counters["crls"] = static_cast<double>(path->crls.size());
  };
  benchmark::RegisterBenchmark(("pkits-verify/" + id).c_str(), time_verify, nullptr)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("pkits-verify-path/" + id).c_str(), time_verify,
                               static_cast<const Path*>(path))
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("pkits-sigs/" + id).c_str(), [s, r, links](benchmark::State& st) {
    STACK* chain = nullptr;
    const Objects o = DecodeAll(*s, r);
    Verify(r, o, &chain);
    FreeObjects(o);
    std::vector<X509*> certs;
    std::vector<EVP_PKEY*> keys;
    for (int i = 0; i < links; i++) {
      certs.push_back(reinterpret_cast<X509*>(sk_value(chain, i)));
      keys.push_back(X509_get_pubkey(reinterpret_cast<X509*>(sk_value(chain, i + 1))));
    }
    for (auto _ : st) {
      for (int i = 0; i < links; i++)
        if (X509_verify(certs[i], keys[i]) != 1) st.SkipWithError("signature check failed");
    }
    for (EVP_PKEY* k : keys) EVP_PKEY_free(k);
    FreeChain(chain);
    st.counters["sigs"] = links;
  })->Unit(benchmark::kMicrosecond);
}

// ---- the hashed directory -------------------------------------------------

struct HashDir {
  std::string path;
  std::vector<Der> names;  // each certificate's subject, DER
};

// 1,000 self-issued certificates "CN=Bench <i>", one RSA-1024 key, written
// as DER under their subject hash ("<8 hex>.<n>", n counting collisions).
const HashDir* MakeHashDir() {
  char tmpl[] = "/tmp/morvane-hashdir-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return nullptr;
  HashDir* d = new HashDir;
  d->path = tmpl;
  RSA* rsa = RSA_generate_key(1024, 65537, nullptr, nullptr);
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, rsa);
  std::map<unsigned long, int> used;
  for (int i = 0; i < 1000; i++) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), i + 1);
    X509_NAME* name = X509_NAME_new();
    const std::string cn = "Bench " + std::to_string(i);
    X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_ASCII,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_subject_name(x, name);
    X509_set_issuer_name(x, name);
    x->cert_info->validity->notBefore = X509_gmtime_adj(x->cert_info->validity->notBefore, 0);
    x->cert_info->validity->notAfter = X509_gmtime_adj(x->cert_info->validity->notAfter, 86400);
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    const unsigned long h = X509_NAME_hash(name);
    char file[32];
    snprintf(file, sizeof file, "/%08lx.%d", h, used[h]++);
    FILE* f = fopen((d->path + file).c_str(), "wb");
    if (f != nullptr) {
      fwrite(der, 1, static_cast<size_t>(n), f);
      fclose(f);
    }
    MORVANE_free(der);
    unsigned char* nd = nullptr;
    const int nn = i2d_X509_NAME(name, &nd);
    d->names.emplace_back(nd, nd + nn);
    MORVANE_free(nd);
    X509_NAME_free(name);
    X509_free(x);
  }
  EVP_PKEY_free(key);
  return d;
}

void RemoveHashDir(const HashDir* d) {
  std::error_code ec;
  std::filesystem::remove_all(d->path, ec);
}

const HashDir* g_hashdir = nullptr;  // removed when the program exits

enum class Lookup { kCold, kCached, kMiss };

void RegisterHashDir(const HashDir* d, Lookup way) {
  static const char* const kNames[] = {"cold", "cached", "miss"};
  benchmark::RegisterBenchmark(
      (std::string("x509-hashdir/") + kNames[static_cast<int>(way)]).c_str(),
      [d, way](benchmark::State& st) {
        std::vector<X509_NAME*> names;
        for (const Der& n : d->names) names.push_back(Decode(d2i_X509_NAME, n));
        X509_NAME* absent = X509_NAME_new();
        X509_NAME_add_entry_by_txt(absent, "CN", ASN1_MB_ASCII,
                                   reinterpret_cast<const unsigned char*>("Not there"), -1, -1, 0);
        auto open = [d] {
          X509_STORE* store = X509_STORE_new();
          X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
          X509_LOOKUP_add_dir(lu, d->path.c_str(), X509_FILETYPE_ASN1);
          return store;
        };
        X509_STORE* shared = open();
        X509_STORE_CTX ctx{};
        X509_STORE_CTX_init(&ctx, shared, nullptr, nullptr);
        X509_OBJECT obj;
        if (way == Lookup::kCached) {
          for (X509_NAME* n : names) {
            if (X509_STORE_get_by_subject(&ctx, X509_LU_X509, n, &obj) == 1)
              X509_OBJECT_free_contents(&obj);
          }
        }
        size_t k = 0;
        for (auto _ : st) {
          if (way == Lookup::kCold) {
            X509_STORE* store = open();
            X509_STORE_CTX c{};
            X509_STORE_CTX_init(&c, store, nullptr, nullptr);
            if (X509_STORE_get_by_subject(&c, X509_LU_X509, names[k], &obj) != 1)
              st.SkipWithError("not found");
            else
              X509_OBJECT_free_contents(&obj);
            X509_STORE_CTX_cleanup(&c);
            X509_STORE_free(store);
          } else if (way == Lookup::kCached) {
            if (X509_STORE_get_by_subject(&ctx, X509_LU_X509, names[k], &obj) != 1)
              st.SkipWithError("not found");
            else
              X509_OBJECT_free_contents(&obj);
          } else {
            if (X509_STORE_get_by_subject(&ctx, X509_LU_X509, absent, &obj) != 0)
              st.SkipWithError("found a name that has no file");
          }
          k = k + 1 == names.size() ? 0 : k + 1;
        }
        X509_STORE_CTX_cleanup(&ctx);
        X509_STORE_free(shared);
        X509_NAME_free(absent);
        for (X509_NAME* n : names) X509_NAME_free(n);
        ERR_clear_error();
      })
      ->Unit(benchmark::kMicrosecond);
}

// ---- look-alikes at several depths ------------------------------------------

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, RSA_generate_key(1024, 65537, nullptr, nullptr));
  return key;
}

// "CN=<subject>" issued by "CN=<issuer>" under `key`, signed by `signer`,
// valid from a day before now to a day after, a CA when `ca`; DER.
Der MakeCert(const std::string& subject, const std::string& issuer, long serial, EVP_PKEY* key,
             EVP_PKEY* signer, bool ca) {
  auto name = [](const std::string& cn) {
    X509_NAME* n = X509_NAME_new();
    X509_NAME_add_entry_by_txt(n, "CN", ASN1_MB_ASCII,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    return n;
  };
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_NAME* s = name(subject);
  X509_NAME* i = name(issuer);
  X509_set_subject_name(x, s);
  X509_set_issuer_name(x, i);
  X509_NAME_free(s);
  X509_NAME_free(i);
  x->cert_info->validity->notBefore = X509_gmtime_adj(x->cert_info->validity->notBefore, -86400);
  x->cert_info->validity->notAfter = X509_gmtime_adj(x->cert_info->validity->notAfter, 86400);
  X509_set_pubkey(x, key);
  if (ca) {
    X509_EXTENSION* bc = X509V3_EXT_conf_nid(nullptr, nullptr, OBJ_sn2nid("basicConstraints"),
                                             const_cast<char*>("critical,CA:TRUE"));
    X509_add_ext(x, bc, -1);
    X509_EXTENSION_free(bc);
  }
  X509_sign(x, signer, EVP_sha256());
  unsigned char* der = nullptr;
  const int n = i2d_X509(x, &der);
  Der out(der, der + n);
  MORVANE_free(der);
  X509_free(x);
  return out;
}

struct LookAlikes {
  std::vector<Der> roots;      // the other roots, then the genuine one
  std::vector<Der> untrusted;  // per depth: the look-alikes, then the genuine one
  Der leaf;
};

const LookAlikes* MakeLookAlikes(int depths, int n) {
  static EVP_PKEY* const genuine = NewKey();  // benchmark-side keys, kept for the program
  static EVP_PKEY* const sender = NewKey();
  static EVP_PKEY* const other = NewKey();
  auto* l = new LookAlikes;  // kept for the program's life
  long serial = 1;
  for (int i = 0; i < 3; i++)
    l->roots.push_back(MakeCert("Root", "Root", serial++, other, other, true));
  l->roots.push_back(MakeCert("Root", "Root", serial++, genuine, genuine, true));
  auto level = [depths](int d) {
    return d > depths ? std::string("Root") : 'D' + std::to_string(d);
  };
  for (int d = 1; d <= depths; d++) {
    const std::string name = level(d);
    const std::string issuer = level(d + 1);
    for (int i = 0; i < n; i++)
      l->untrusted.push_back(MakeCert(name, issuer, serial++, sender, sender, true));
    l->untrusted.push_back(MakeCert(name, issuer, serial++, genuine, genuine, true));
  }
  l->leaf = MakeCert("Leaf", "D1", serial++, genuine, genuine, false);
  return l;
}

void RegisterLookAlikes(int depths, int n) {
  const LookAlikes* l = MakeLookAlikes(depths, n);
  benchmark::RegisterBenchmark(
      ("x509-lookalikes/" + std::to_string(depths) + "x" + std::to_string(n)).c_str(),
      [l](benchmark::State& st) {
        int verified = 0;
        for (auto _ : st) {
          st.PauseTiming();
          X509_STORE* store = X509_STORE_new();
          for (const Der& d : l->roots) {
            X509* x = Decode(d2i_X509, d);
            X509_STORE_add_cert(store, x);
            X509_free(x);
          }
          STACK* untrusted = sk_new_null();
          for (const Der& d : l->untrusted)
            sk_push(untrusted, reinterpret_cast<char*>(Decode(d2i_X509, d)));
          X509* leaf = Decode(d2i_X509, l->leaf);
          X509_STORE_CTX* ctx = X509_STORE_CTX_new();
          X509_STORE_CTX_init(ctx, store, leaf, untrusted);
          st.ResumeTiming();
          verified = X509_verify_cert(ctx);
          st.PauseTiming();
          X509_STORE_CTX_free(ctx);
          X509_free(leaf);
          sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
          X509_STORE_free(store);
          ERR_clear_error();
          st.ResumeTiming();
        }
        st.counters["verified"] = verified;
      })
      ->Unit(benchmark::kMicrosecond);
}

}  // namespace

void RegisterPkitsVerify() {
  MORVANE_add_all_algorithms_noconf();
  static Suite suite;  // benchmark-side data, read once at registration
  if (!LoadSuite(std::string(MORVANE_BENCH_VECTORS_DIR) + "/pkits", &suite)) {
    fprintf(stderr, "PKITS vectors (../shared/vectors/pkits) not present: pkits-* skipped\n");
  } else {
    for (const Run& r : suite.valid) RegisterRun(&suite, r);
  }
  for (const auto& [depths, n] : {std::pair{2, 4}, {3, 8}, {3, 16}, {4, 31}})
    RegisterLookAlikes(depths, n);
  g_hashdir = MakeHashDir();
  if (g_hashdir == nullptr) return;
  for (Lookup way : {Lookup::kCold, Lookup::kCached, Lookup::kMiss})
    RegisterHashDir(g_hashdir, way);
  atexit([] { RemoveHashDir(g_hashdir); });
}

}  // namespace bench
