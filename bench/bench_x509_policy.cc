// The certificate-policy tree and the cached facts of a certificate.
//
// "x509-policy/<n>": a generated chain of 10 certificates (a self-signed
// anchor, eight intermediates, a target), each carrying n policies plus
// anyPolicy in its certificatePolicies extension, checked with
// X509_policy_check requiring an explicit policy, the user's policies being
// {anyPolicy}; one iteration builds the tree and frees it.  The policy
// caches of the certificates are built before the timing (the first check),
// so the figure is the tree alone.  The "nodes" counter is the number of
// nodes of the tree built (every level's nodes and anyPolicy nodes).
//
// "x509-policy-mappings/<n>/verify": a self-signed anchor (the store's)
// issuing a target whose certificatePolicies holds anyPolicy alone and whose
// non-critical policyMappings maps n policies it does not list
// (1.3.6.1.4.1.55555.2.i to 1.3.6.1.4.1.55555.3.i); one iteration decodes
// the target and verifies it with X509_verify_cert and
// X509_V_FLAG_POLICY_CHECK, so the policy cache is built each time.
// "x509-policy-mappings/<n>/read" decodes the target, computes its facts
// (X509_check_purpose(x, -1, 0)) and decodes its policyMappings: what
// reading the mappings costs.
//
// "x509-cert/decode+facts": each PKITS certificate in turn decoded and its
// facts computed (X509_check_purpose(x, -1, 0): the SHA-1 of the encoding
// and the decodes of the extensions it caches), beside "x509-cert/decode"
// of bench_x509.cc; "x509-cert/decode+sha1" decodes and takes only the
// SHA-1 of the encoding (X509_digest), the part of the facts that is not an
// extension decode.

#include <stdio.h>

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
#include "rsa_key_file.h"

namespace bench {
namespace {

using Der = std::vector<unsigned char>;

constexpr int kChainLength = 10;

void PutLength(Der& out, size_t n) {
  if (n < 0x80) {
    out.push_back(static_cast<unsigned char>(n));
    return;
  }
  unsigned char b[sizeof n];
  int k = 0;
  for (; n != 0; n >>= 8) b[k++] = static_cast<unsigned char>(n);
  out.push_back(static_cast<unsigned char>(0x80 | k));
  while (k > 0) out.push_back(b[--k]);
}

void PutTlv(Der& out, unsigned char tag, const Der& body) {
  out.push_back(tag);
  PutLength(out, body.size());
  out.insert(out.end(), body.begin(), body.end());
}

void PutArc(Der& out, unsigned long v) {
  unsigned char b[10];
  int k = 0;
  do {
    b[k++] = static_cast<unsigned char>(v & 0x7f);
    v >>= 7;
  } while (v != 0);
  while (k > 1) out.push_back(static_cast<unsigned char>(b[--k] | 0x80));
  out.push_back(b[0]);
}

// certificatePolicies (RFC 5280, 4.2.1.4) holding the policies
// 1.3.6.1.4.1.55555.1.i for i in [0, n) and anyPolicy (2.5.29.32.0), no
// qualifiers.
Der Policies(int n) {
  Der all;
  auto add = [&all](const Der& oid) {
    Der oid_tlv;
    PutTlv(oid_tlv, 0x06, oid);
    PutTlv(all, 0x30, oid_tlv);
  };
  for (int i = 0; i < n; i++) {
    Der oid = {0x2b, 6, 1, 4, 1};
    PutArc(oid, 55555);
    PutArc(oid, 1);
    PutArc(oid, static_cast<unsigned long>(i));
    add(oid);
  }
  add(Der{0x55, 0x1d, 0x20, 0x00});
  Der out;
  PutTlv(out, 0x30, all);
  return out;
}

X509_NAME* Name(int i) {
  X509_NAME* name = X509_NAME_new();
  const std::string cn = "Policy CA " + std::to_string(i);
  X509_NAME_add_entry_by_txt(name, "CN", ASN1_UT_UTF8STRING,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  return name;
}

// policyMappings (RFC 5280, 4.2.1.5) of 1.3.6.1.4.1.55555.2.i to
// 1.3.6.1.4.1.55555.3.i for i in [0, n).
Der Mappings(int n) {
  Der all;
  for (int i = 0; i < n; i++) {
    Der pair;
    for (unsigned long arc : {2ul, 3ul}) {
      Der oid = {0x2b, 6, 1, 4, 1};
      PutArc(oid, 55555);
      PutArc(oid, arc);
      PutArc(oid, static_cast<unsigned long>(i));
      PutTlv(pair, 0x06, oid);
    }
    PutTlv(all, 0x30, pair);
  }
  Der out;
  PutTlv(out, 0x30, all);
  return out;
}

void AddExtension(X509* x, const char* name, const Der& der) {
  ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(value, der.data(), static_cast<int>(der.size()));
  X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, OBJ_sn2nid(name), 0, value);
  X509_add_ext(x, ext, -1);
  X509_EXTENSION_free(ext);
  ASN1_OCTET_STRING_free(value);
}

// Certificate i of the chain (0 the target, kChainLength - 1 the anchor),
// signed with SHA-256 by the one key, encoded and decoded again; with
// `mappings`, a policyMappings extension of that value after the policies.
X509* ChainCert(int i, EVP_PKEY* key, const Der& policies, const Der* mappings = nullptr) {
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), i + 1);
  X509_NAME* subject = Name(i);
  X509_NAME* issuer = Name(i == kChainLength - 1 ? i : i + 1);
  X509_set_subject_name(x, subject);
  X509_set_issuer_name(x, issuer);
  X509_NAME_free(subject);
  X509_NAME_free(issuer);
  ASN1_TIME_set(x->cert_info->validity->notBefore, 1577836800);  // 2020-01-01
  ASN1_TIME_set(x->cert_info->validity->notAfter, 4102444800);   // 2100-01-01
  X509_set_pubkey(x, key);
  AddExtension(x, "certificatePolicies", policies);
  if (mappings != nullptr) AddExtension(x, "policyMappings", *mappings);
  X509_sign(x, key, EVP_sha256());
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  X509_free(x);
  const unsigned char* p = der;
  X509* decoded = len > 0 ? d2i_X509(nullptr, &p, len) : nullptr;
  MORVANE_free(der);
  return decoded;
}

int TreeNodes(const X509_POLICY_TREE* tree) {
  int nodes = 0;
  for (int i = 0; i < X509_policy_tree_level_count(tree); i++)
    nodes += X509_policy_level_node_count(X509_policy_tree_get0_level(tree, i));
  return nodes;
}

// The 2048-bit RSA key of the test data, or null.
EVP_PKEY* BenchKey() {
  RSA* rsa = rsa_test::LoadKeyFile(MORVANE_BENCH_TEST_DATA_DIR "/rsa/keys.txt", 2048);
  if (rsa == nullptr) return nullptr;
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, rsa);
  return key;
}

void RegisterPolicyTree(int n) {
  benchmark::RegisterBenchmark(
      ("x509-policy/" + std::to_string(n)).c_str(), [n](benchmark::State& state) {
        EVP_PKEY* key = BenchKey();
        if (key == nullptr) {
          state.SkipWithError("no 2048-bit key in test/data/rsa/keys.txt");
          return;
        }
        const Der policies = Policies(n);
        STACK* chain = sk_new_null();
        for (int i = 0; i < kChainLength; i++)
          sk_push(chain, reinterpret_cast<char*>(ChainCert(i, key, policies)));
        STACK* user = sk_new_null();
        ASN1_OBJECT* any = OBJ_txt2obj("2.5.29.32.0", 1);
        sk_push(user, reinterpret_cast<char*>(any));
        const unsigned int flags = X509_V_FLAG_EXPLICIT_POLICY;

        X509_POLICY_TREE* tree = nullptr;
        int explicit_policy = 0;
        const int first = X509_policy_check(&tree, &explicit_policy, chain, user, flags);
        const int nodes = TreeNodes(tree);
        X509_policy_tree_free(tree);
        if (first != 1 || nodes == 0) {
          state.SkipWithError(("X509_policy_check gave " + std::to_string(first)).c_str());
        } else {
          for (auto _ : state) {
            benchmark::DoNotOptimize(
                X509_policy_check(&tree, &explicit_policy, chain, user, flags));
            X509_policy_tree_free(tree);
          }
          state.counters["nodes"] = nodes;
          state.counters["ns/node"] =
              benchmark::Counter(static_cast<double>(state.iterations()) * nodes,
                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
        }
        ASN1_OBJECT_free(any);
        sk_free(user);
        sk_pop_free(chain, [](void* x) { X509_free(static_cast<X509*>(x)); });
        EVP_PKEY_free(key);
        ERR_clear_error();
      });
}

void RegisterMappings(int n) {
  for (bool verify : {true, false}) {
    const std::string name =
        "x509-policy-mappings/" + std::to_string(n) + (verify ? "/verify" : "/read");
    benchmark::RegisterBenchmark(name.c_str(), [n, verify](benchmark::State& state) {
      EVP_PKEY* key = BenchKey();
      if (key == nullptr) {
        state.SkipWithError("no 2048-bit key in test/data/rsa/keys.txt");
        return;
      }
      const Der any = Policies(0);
      const Der mappings = Mappings(n);
      X509* anchor = ChainCert(kChainLength - 1, key, any);
      X509* target = ChainCert(kChainLength - 2, key, any, &mappings);
      unsigned char* der = nullptr;
      const int len = i2d_X509(target, &der);
      X509_STORE* store = X509_STORE_new();
      X509_STORE_add_cert(store, anchor);
      X509_STORE_CTX* ctx = X509_STORE_CTX_new();
      // One target decoded afresh: its policy cache is built each time.
      const auto run = [&]() {
        const unsigned char* p = der;
        X509* x = d2i_X509(nullptr, &p, len);
        int r = X509_check_purpose(x, -1, 0);
        if (!verify) {
          auto* maps = static_cast<STACK*>(
              X509_get_ext_d2i(x, OBJ_sn2nid("policyMappings"), nullptr, nullptr));
          r = maps != nullptr;
          sk_pop_free(maps, [](void* m) { POLICY_MAPPING_free(static_cast<POLICY_MAPPING*>(m)); });
        } else {
          X509_STORE_CTX_init(ctx, store, x, nullptr);
          X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_POLICY_CHECK);
          r = X509_verify_cert(ctx);
          X509_STORE_CTX_cleanup(ctx);
        }
        X509_free(x);
        return r;
      };
      if (run() != 1) {
        state.SkipWithError("the target did not verify");
      } else {
        for (auto _ : state) benchmark::DoNotOptimize(run());
        state.counters["bytes"] = len;
      }
      X509_STORE_CTX_free(ctx);
      X509_STORE_free(store);
      MORVANE_free(der);
      X509_free(target);
      X509_free(anchor);
      EVP_PKEY_free(key);
      ERR_clear_error();
    });
  }
}

void RegisterFacts() {
  const std::vector<Der> certs =
      ReadFiles(std::string(MORVANE_BENCH_VECTORS_DIR) + "/pkits/certs", ".crt");
  if (certs.empty()) {
    fprintf(stderr, "x509-cert/decode+facts: no PKITS certificates under %s/pkits; skipped\n",
            MORVANE_BENCH_VECTORS_DIR);
    return;
  }
  for (bool sha1_only : {false, true}) {
    benchmark::RegisterBenchmark(
        sha1_only ? "x509-cert/decode+sha1" : "x509-cert/decode+facts",
        [certs, sha1_only](benchmark::State& state) {
          size_t k = 0;
          unsigned char md[EVP_MAX_MD_SIZE];
          unsigned int md_len = 0;
          for (auto _ : state) {
            const Der& d = certs[k];
            const unsigned char* p = d.data();
            X509* x = d2i_X509(nullptr, &p, static_cast<long>(d.size()));
            if (sha1_only)
              benchmark::DoNotOptimize(X509_digest(x, EVP_sha1(), md, &md_len));
            else
              benchmark::DoNotOptimize(X509_check_purpose(x, -1, 0));
            X509_free(x);
            k = k + 1 == certs.size() ? 0 : k + 1;
          }
          ERR_clear_error();
          state.SetItemsProcessed(state.iterations());
        });
  }
}

}  // namespace

void RegisterX509Policy() {
  for (int n : {10, 30, 100, 300, 900}) RegisterPolicyTree(n);
  for (int n : {1000, 4000, 16000}) RegisterMappings(n);
  RegisterFacts();
}

}  // namespace bench
