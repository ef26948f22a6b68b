// The X.509 structures per object: every PKITS certificate and revocation
// list (../shared/vectors/pkits, 405 and 173, in turn) decoded, decoded then
// encoded again, and (certificates) duplicated.  Names are
// "x509-<cert|crl>/<way>"; the time of one iteration is the time of one
// object.  The figures are the baseline of the chain verifier, which decodes
// every certificate and revocation list it meets.

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <morvane/crypto.h>
#include <morvane/x509.h>

#include "bench.h"

namespace bench {
namespace {

using Der = std::vector<unsigned char>;

// The files of one PKITS folder with the given extension, sorted by name.
std::vector<Der> Objects(const std::string& dir, const std::string& ext) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().extension() == ext) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  std::vector<Der> out;
  for (const std::string& n : names) {
    FILE* f = fopen(n.c_str(), "rb");
    if (f == nullptr) continue;
    Der d;
    unsigned char buf[4096];
    for (size_t k; (k = fread(buf, 1, sizeof buf, f)) > 0;) d.insert(d.end(), buf, buf + k);
    fclose(f);
    out.push_back(d);
  }
  return out;
}

enum class Way { kDecode, kReencode, kDup };

template <class T>
struct Codec {
  T* (*d2i)(T**, const unsigned char**, long);
  int (*i2d)(T*, unsigned char**);
  T* (*dup)(T*);
  void (*release)(T*);
};

template <class T>
void Register(const std::string& name, Codec<T> codec, const std::vector<Der>& objects, Way way) {
  if (objects.empty()) return;
  static const char* const kWays[] = {"decode", "decode+encode", "dup"};
  benchmark::RegisterBenchmark(
      (name + "/" + kWays[static_cast<int>(way)]).c_str(),
      [codec, objects, way](benchmark::State& state) {
        // Duplicates are made from values decoded once, outside the timing.
        std::vector<T*> decoded;
        if (way == Way::kDup) {
          for (const Der& d : objects) {
            const unsigned char* p = d.data();
            decoded.push_back(codec.d2i(nullptr, &p, static_cast<long>(d.size())));
          }
        }
        size_t k = 0;
        for (auto _ : state) {
          if (way == Way::kDup) {
            T* copy = codec.dup(decoded[k]);
            benchmark::DoNotOptimize(copy);
            codec.release(copy);
          } else {
            const Der& d = objects[k];
            const unsigned char* p = d.data();
            T* v = codec.d2i(nullptr, &p, static_cast<long>(d.size()));
            if (way == Way::kReencode) {
              unsigned char* out = nullptr;
              benchmark::DoNotOptimize(codec.i2d(v, &out));
              MORVANE_free(out);
            }
            codec.release(v);
          }
          k = k + 1 == objects.size() ? 0 : k + 1;
        }
        for (T* v : decoded) codec.release(v);
        state.SetItemsProcessed(state.iterations());
      });
}

}  // namespace

void RegisterX509() {
  const std::string pkits = std::string(MORVANE_BENCH_VECTORS_DIR) + "/pkits";
  const std::vector<Der> certs = Objects(pkits + "/certs", ".crt");
  const std::vector<Der> crls = Objects(pkits + "/crls", ".crl");
  const Codec<X509> cert{d2i_X509, i2d_X509, X509_dup, X509_free};
  const Codec<X509_CRL> crl{d2i_X509_CRL, i2d_X509_CRL, X509_CRL_dup, X509_CRL_free};
  for (Way way : {Way::kDecode, Way::kReencode, Way::kDup}) Register("x509-cert", cert, certs, way);
  for (Way way : {Way::kDecode, Way::kReencode}) Register("x509-crl", crl, crls, way);
}

}  // namespace bench
