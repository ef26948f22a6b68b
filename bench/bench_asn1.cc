// The template codec per object: the Wycheproof ECDSA signatures (SEQUENCE
// { r INTEGER, s INTEGER }, 174 valid ones in turn) and a ten-field
// prototype item with three absent OPTIONAL fields in a row, each decoded,
// and decoded then encoded again.  Names are "asn1-<item>/<way>"; the time
// of one iteration is the time of one object.

#include <stdio.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "bench.h"

struct BenchSig {
  ASN1_INTEGER* r;
  ASN1_INTEGER* s;
};
ASN1_SEQUENCE(BenchSig) = {
    ASN1_SIMPLE(BenchSig, r, ASN1_INTEGER),
    ASN1_SIMPLE(BenchSig, s, ASN1_INTEGER),
} ASN1_SEQUENCE_END(BenchSig);

struct BenchProto {
  ASN1_INTEGER* version;  // [0] EXPLICIT OPTIONAL
  ASN1_INTEGER* serial;
  ASN1_OBJECT* alg;
  ASN1_OCTET_STRING* name;
  ASN1_OCTET_STRING* opt1;  // [1] IMPLICIT OPTIONAL, absent
  ASN1_INTEGER* opt2;       // [2] IMPLICIT OPTIONAL, absent
  ASN1_BIT_STRING* opt3;    // [3] IMPLICIT OPTIONAL, absent
  ASN1_BOOLEAN flag;        // DEFAULT FALSE
  STACK* numbers;           // SET OF INTEGER
  ASN1_TYPE* any;
};
ASN1_SEQUENCE(BenchProto) = {
    ASN1_EXP_OPT(BenchProto, version, ASN1_INTEGER, 0),
    ASN1_SIMPLE(BenchProto, serial, ASN1_INTEGER),
    ASN1_SIMPLE(BenchProto, alg, ASN1_OBJECT),
    ASN1_SIMPLE(BenchProto, name, ASN1_OCTET_STRING),
    ASN1_IMP_OPT(BenchProto, opt1, ASN1_OCTET_STRING, 1),
    ASN1_IMP_OPT(BenchProto, opt2, ASN1_INTEGER, 2),
    ASN1_IMP_OPT(BenchProto, opt3, ASN1_BIT_STRING, 3),
    ASN1_OPT(BenchProto, flag, ASN1_FBOOLEAN),
    ASN1_SET_OF(BenchProto, numbers, ASN1_INTEGER),
    ASN1_SIMPLE(BenchProto, any, ASN1_ANY),
} ASN1_SEQUENCE_END(BenchProto);

namespace bench {
namespace {

using Der = std::vector<unsigned char>;

// The "sig" hex strings of the valid tests of a Wycheproof file.
std::vector<Der> ValidSignatures(const std::string& path) {
  std::vector<Der> out;
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return out;
  std::string text;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  fclose(f);
  for (size_t at = 0; (at = text.find("\"sig\": \"", at)) != std::string::npos;) {
    at += 8;
    const size_t end = text.find('"', at);
    const size_t result = text.find("\"result\": \"", end);
    if (result == std::string::npos || text.compare(result + 11, 6, "valid\"") != 0) continue;
    Der d;
    for (size_t i = at; i + 1 < end; i += 2) d.push_back(std::stoi(text.substr(i, 2), nullptr, 16));
    out.push_back(d);
  }
  return out;
}

Der Prototype() {
  auto* p = reinterpret_cast<BenchProto*>(ASN1_item_new(&BenchProto_it));
  p->version = ASN1_INTEGER_new();
  ASN1_INTEGER_set(p->version, 2);
  ASN1_INTEGER_set(p->serial, 0x1234567890L);
  const unsigned char oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
  const unsigned char* q = oid;
  p->alg = c2i_ASN1_OBJECT(&p->alg, &q, sizeof oid);
  ASN1_OCTET_STRING_set(p->name, reinterpret_cast<const unsigned char*>("benchmark"), 9);
  p->flag = 1;
  for (long v : {7, 3, 5}) {
    ASN1_INTEGER* i = ASN1_INTEGER_new();
    ASN1_INTEGER_set(i, v);
    sk_push(p->numbers, reinterpret_cast<char*>(i));
  }
  ASN1_TYPE_set(p->any, ASN1_UT_NULL, nullptr);
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(p), &der, &BenchProto_it);
  Der out(der, der + (n > 0 ? n : 0));
  MORVANE_free(der);
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(p), &BenchProto_it);
  return out;
}

void Register(const std::string& name, const ASN1_ITEM* it, std::vector<Der> objects) {
  if (objects.empty() || objects[0].empty()) return;
  for (bool reencode : {false, true}) {
    benchmark::RegisterBenchmark((name + (reencode ? "/decode+encode" : "/decode")).c_str(),
                                 [it, objects, reencode](benchmark::State& state) {
                                   size_t k = 0;
                                   for (auto _ : state) {
                                     const Der& d = objects[k];
                                     k = k + 1 == objects.size() ? 0 : k + 1;
                                     const unsigned char* p = d.data();
                                     ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p,
                                                                   static_cast<long>(d.size()), it);
                                     if (reencode) {
                                       unsigned char* out = nullptr;
                                       benchmark::DoNotOptimize(ASN1_item_i2d(v, &out, it));
                                       MORVANE_free(out);
                                     }
                                     ASN1_item_free(v, it);
                                   }
                                   state.SetItemsProcessed(state.iterations());
                                 });
  }
}

// Text builders whose work must grow with their text alone: a generator
// BITLIST of n rising bit numbers and a strong-extranet list of n zones.
// Ten times the text should take about ten times the time.
void RegisterBuilders() {
  for (int n : {1000, 10000}) {
    std::string bits = "FORMAT:BITLIST,BITSTRING:";
    std::string zones;
    for (int i = 0; i < n; i++) {
      bits += (i ? "," : "") + std::to_string(i * 8);
      zones += (i ? "," : "") + std::to_string(i + 1) + ":u";
    }
    benchmark::RegisterBenchmark(("asn1-gen-bitlist/" + std::to_string(n)).c_str(),
                                 [bits](benchmark::State& state) {
                                   for (auto _ : state)
                                     ASN1_TYPE_free(ASN1_generate_v3(bits.c_str(), nullptr));
                                 });
    benchmark::RegisterBenchmark(("x509v3-sxnet/" + std::to_string(n)).c_str(),
                                 [zones](benchmark::State& state) {
                                   for (auto _ : state)
                                     X509_EXTENSION_free(X509V3_EXT_conf_nid(
                                         nullptr, nullptr, 143, const_cast<char*>(zones.c_str())));
                                 });
  }
}

}  // namespace

void RegisterAsn1() {
  RegisterBuilders();
  Register("asn1-ecdsa-sig", &BenchSig_it,
           ValidSignatures(std::string(MORVANE_BENCH_VECTORS_DIR) +
                           "/wycheproof/ecdsa_secp256r1_sha256_test.json"));
  Register("asn1-proto10", &BenchProto_it, {Prototype()});
}

}  // namespace bench
