// The X.509 structures per object: every PKITS certificate and revocation
// list (../shared/vectors/pkits, 405 and 173, in turn) decoded, decoded then
// encoded again, and (certificates) duplicated.  Names are
// "x509-<cert|crl>/<way>"; the time of one iteration is the time of one
// object.  The figures are the baseline of the chain verifier, which decodes
// every certificate and revocation list it meets.
//
// The names of those certificates: "x509-name/cmp" orders a certificate's
// issuer against its subject (X509_NAME_cmp, as every issuer search does),
// "x509-name/hash-fresh" hashes a name whose cached encoding is current and
// "x509-name/hash-stale" one marked modified, so that the hash encodes it
// again first; one iteration handles one certificate's names.
//
// Signatures and PEM: see RegisterVerify.  Loading a store: see
// RegisterStoreLoad, RegisterStoreLoadFile, RegisterStoreUnencodable and
// RegisterStoreShapes.  A decoded chain verified
// again: see RegisterVerifyDecoded.

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "bench.h"
#include "x509_der.h"

namespace bench {
namespace {

using Der = std::vector<unsigned char>;

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

enum class NameWay { kCmp, kHashFresh, kHashStale };

void RegisterNames(const std::vector<Der>& objects, NameWay way) {
  if (objects.empty()) return;
  static const char* const kWays[] = {"cmp", "hash-fresh", "hash-stale"};
  benchmark::RegisterBenchmark(
      (std::string("x509-name/") + kWays[static_cast<int>(way)]).c_str(),
      [objects, way](benchmark::State& state) {
        std::vector<X509*> certs;
        for (const Der& d : objects) {
          const unsigned char* p = d.data();
          X509* x = d2i_X509(nullptr, &p, static_cast<long>(d.size()));
          if (x != nullptr) certs.push_back(x);
        }
        size_t k = 0;
        for (auto _ : state) {
          X509_NAME* subject = X509_get_subject_name(certs[k]);
          if (way == NameWay::kCmp) {
            benchmark::DoNotOptimize(X509_NAME_cmp(X509_get_issuer_name(certs[k]), subject));
          } else {
            if (way == NameWay::kHashStale) subject->modified = 1;
            benchmark::DoNotOptimize(X509_NAME_hash(subject));
          }
          k = k + 1 == certs.size() ? 0 : k + 1;
        }
        for (X509* x : certs) X509_free(x);
        state.SetItemsProcessed(state.iterations());
      });
}

// "x509-cert/decode+verify": each PKITS certificate decoded and its
// signature checked with the trust anchor's key (X509_verify: the signed
// part encoded again, digested, and the RSA public-key operation; most
// signatures are not the anchor's, which costs the same).  "x509-pem/
// trust-anchor": the trust anchor read from its PEM text.
void RegisterVerify(const std::vector<Der>& objects) {
  if (objects.empty()) return;
  MORVANE_add_all_algorithms_noconf();
  benchmark::RegisterBenchmark("x509-cert/decode+verify", [objects](benchmark::State& state) {
    X509* anchor = nullptr;
    for (const Der& d : objects) {
      const unsigned char* p = d.data();
      X509* x = d2i_X509(nullptr, &p, static_cast<long>(d.size()));
      if (x != nullptr && X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) == 0 &&
          anchor == nullptr) {
        anchor = x;
      } else {
        X509_free(x);
      }
    }
    EVP_PKEY* key = X509_get_pubkey(anchor);
    size_t k = 0;
    for (auto _ : state) {
      const Der& d = objects[k];
      const unsigned char* p = d.data();
      X509* x = d2i_X509(nullptr, &p, static_cast<long>(d.size()));
      benchmark::DoNotOptimize(X509_verify(x, key));
      X509_free(x);
      k = k + 1 == objects.size() ? 0 : k + 1;
    }
    ERR_clear_error();
    EVP_PKEY_free(key);
    X509_free(anchor);
    state.SetItemsProcessed(state.iterations());
  });
  const std::string anchor_file =
      std::string(MORVANE_BENCH_VECTORS_DIR) + "/pkits/certs/TrustAnchorRootCertificate.crt";
  benchmark::RegisterBenchmark("x509-pem/trust-anchor", [anchor_file](benchmark::State& state) {
    FILE* f = fopen(anchor_file.c_str(), "rb");
    X509* x = f != nullptr ? d2i_X509_fp(f, nullptr) : nullptr;
    if (f != nullptr) fclose(f);
    BIO* text = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(text, x);
    char* p = nullptr;
    const long n = BIO_get_mem_data(text, &p);
    for (auto _ : state) {
      BIO* b = BIO_new_mem_buf(p, static_cast<int>(n));
      X509* got = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
      benchmark::DoNotOptimize(got);
      X509_free(got);
      BIO_free(b);
    }
    BIO_free(text);
    X509_free(x);
    state.SetItemsProcessed(state.iterations());
  });
}

// "x509-store/load/<n>": n certificates and n revocation lists, each of its
// own name, added to a new store (X509_STORE_add_cert, X509_STORE_add_crl)
// and the store freed; one iteration is the whole load.  The objects are
// copies of a PKITS certificate and list renamed "CN=store <k>", k running
// over n values in scattered order, so that each lands anywhere in the
// store's sorted cache.
void RegisterStoreLoad(const Der& cert_der, const Der& crl_der) {
  if (cert_der.empty() || crl_der.empty()) return;
  for (int n : {1000, 8000, 64000}) {
    benchmark::RegisterBenchmark(
        ("x509-store/load/" + std::to_string(n)).c_str(),
        [cert_der, crl_der, n](benchmark::State& state) {
          const unsigned char* p = cert_der.data();
          X509* cert = d2i_X509(nullptr, &p, static_cast<long>(cert_der.size()));
          p = crl_der.data();
          X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(crl_der.size()));
          std::vector<X509*> certs;
          std::vector<X509_CRL*> crls;
          for (int i = 0; i < n; i++) {
            char cn[32];
            snprintf(cn, sizeof cn, "store %08x", static_cast<unsigned>(i) * 2654435761u);
            X509_NAME* name = X509_NAME_new();
            X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_ASCII,
                                       reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
            certs.push_back(X509_dup(cert));
            X509_set_subject_name(certs.back(), name);
            crls.push_back(X509_CRL_dup(crl));
            X509_CRL_set_issuer_name(crls.back(), name);
            X509_NAME_free(name);
          }
          for (auto _ : state) {
            X509_STORE* store = X509_STORE_new();
            for (int i = 0; i < n; i++) {
              X509_STORE_add_cert(store, certs[i]);
              X509_STORE_add_crl(store, crls[i]);
            }
            X509_STORE_free(store);
          }
          for (X509* x : certs) X509_free(x);
          for (X509_CRL* c : crls) X509_CRL_free(c);
          X509_free(cert);
          X509_CRL_free(crl);
          state.SetItemsProcessed(state.iterations() * 2 * n);
        })
        ->Unit(benchmark::kMillisecond);
  }
}

// "x509-verify/decoded": X509_verify_cert of PKITS's first valid path
// (ValidCertificatePathTest1EE under GoodCACert, the trust anchor in the
// store) on objects decoded once before the timing, as a server verifies
// the same chain again and again: the chain search, the signature marks
// and the checks, each iteration with a fresh context.
void RegisterVerifyDecoded(const std::string& pkits) {
  benchmark::RegisterBenchmark("x509-verify/decoded", [pkits](benchmark::State& state) {
    auto load = [&pkits](const char* name) -> X509* {
      FILE* f = fopen((pkits + "/certs/" + name + ".crt").c_str(), "rb");
      if (f == nullptr) return nullptr;
      X509* x = d2i_X509_fp(f, nullptr);
      fclose(f);
      return x;
    };
    X509* root = load("TrustAnchorRootCertificate");
    X509* ca = load("GoodCACert");
    X509* ee = load("ValidCertificatePathTest1EE");
    if (root == nullptr || ca == nullptr || ee == nullptr) {
      state.SkipWithError("PKITS certificates missing");
    } else {
      X509_STORE* store = X509_STORE_new();
      X509_STORE_add_cert(store, root);
      STACK* untrusted = sk_new_null();
      sk_push(untrusted, reinterpret_cast<char*>(ca));
      for (auto _ : state) {
        X509_STORE_CTX* ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, store, ee, untrusted);
        X509_STORE_CTX_set_time(ctx, 0, 1577836800);  // 2020-01-01
        if (X509_verify_cert(ctx) != 1) state.SkipWithError("the chain does not verify");
        X509_STORE_CTX_free(ctx);
      }
      sk_free(untrusted);
      X509_STORE_free(store);
    }
    X509_free(root);
    X509_free(ca);
    X509_free(ee);
  })->Unit(benchmark::kMicrosecond);
}

// "x509-store/unencodable/<n>": n certificates that cannot be encoded
// (X509_new with a subject "CN=bare <k>" and serial k, no key) added to a
// new store: the index must not depend on an encoding.
void RegisterStoreUnencodable() {
  for (int n : {500, 4000}) {
    benchmark::RegisterBenchmark(
        ("x509-store/unencodable/" + std::to_string(n)).c_str(),
        [n](benchmark::State& state) {
          std::vector<X509*> certs;
          for (int i = 0; i < n; i++) {
            char cn[32];
            snprintf(cn, sizeof cn, "bare %d", i);
            X509* x = X509_new();
            X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", ASN1_MB_ASCII,
                                       reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
            ASN1_INTEGER_set(X509_get_serialNumber(x), i);
            certs.push_back(x);
          }
          for (auto _ : state) {
            X509_STORE* store = X509_STORE_new();
            for (X509* x : certs) X509_STORE_add_cert(store, x);
            X509_STORE_free(store);
          }
          for (X509* x : certs) X509_free(x);
          ERR_clear_error();
          state.SetItemsProcessed(state.iterations() * n);
        })
        ->Unit(benchmark::kMillisecond);
  }
}

// Times X509_STORE_load_locations into a new store of a temporary PEM file
// that `write` fills once before the timing (with `count` objects).
void TimeLoadingPem(benchmark::State& state, int count, const std::function<void(BIO*)>& write) {
  char path[] = "/tmp/morvane-bench-pem-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  close(fd);
  BIO* out = BIO_new_file(path, "w");
  if (out != nullptr) write(out);
  BIO_free(out);
  for (auto _ : state) {
    X509_STORE* store = X509_STORE_new();
    if (X509_STORE_load_locations(store, path, nullptr) != 1 || sk_num(store->objs) != count)
      state.SkipWithError("load failed");
    X509_STORE_free(store);
  }
  unlink(path);
  state.SetItemsProcessed(state.iterations() * count);
}

// "x509-store/load-file/10000": X509_STORE_load_locations of a PEM file of
// 10,000 certificates (a PKITS certificate renamed "CN=file <k>"), written
// once before the timing; each iteration loads it into a new store.
void RegisterStoreLoadFile(const Der& cert_der) {
  if (cert_der.empty()) return;
  benchmark::RegisterBenchmark("x509-store/load-file/10000", [cert_der](benchmark::State& state) {
    TimeLoadingPem(state, 10000, [&cert_der](BIO* out) {
      const unsigned char* p = cert_der.data();
      X509* cert = d2i_X509(nullptr, &p, static_cast<long>(cert_der.size()));
      for (int i = 0; i < 10000 && cert != nullptr; i++) {
        char cn[32];
        snprintf(cn, sizeof cn, "file %08x", static_cast<unsigned>(i) * 2654435761u);
        X509* x = X509_dup(cert);
        X509_NAME* name = X509_NAME_new();
        X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_ASCII,
                                   reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
        X509_set_subject_name(x, name);
        PEM_write_bio_X509(out, x);
        X509_NAME_free(name);
        X509_free(x);
      }
      X509_free(cert);
    });
  })->Unit(benchmark::kMillisecond);
}

// Objects that share what the store's index was once keyed by (a name, a
// serial number or lastUpdate, and the last 16 octets of the signature),
// added to a new store; one iteration adds n objects, made or decoded just
// before (untimed), and frees the store:
// - "x509-store/one-name/<n>": copies of a PKITS certificate whose
//   signatures differ only in their first two octets;
// - "x509-store/one-name-crl/<n>": the same of a PKITS revocation list;
// - "x509-store/forced-key/<n>": the certificate under n subjects
//   "CN=forced <k>", each with the serial number that gives its copy the key
//   of every other under the former key's mix (ForcedSerial);
// - "x509-store/unencoded-one-serial/<n>": certificates built in memory
//   (X509_new, no key) with the subject "CN=bare <k>", never encoded, and
//   serial number 1.
// "x509-store/crl-file/1500": X509_STORE_load_locations of a PEM file of
// 1,500 such revocation lists (written once before the timing).

// The former index's step over a string: its length, then eight octets at a
// time (least significant first), each multiplied in and shifted down.
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

uint64_t OldFold(uint64_t h, const unsigned char* data, size_t len) {
  h = (h ^ len) * kFnvPrime;
  for (size_t i = 0; i < len; i += 8) {
    uint64_t w = 0;
    for (size_t j = 0; j < 8 && i + j < len; j++)
      w |= static_cast<uint64_t>(data[i + j]) << (8 * j);
    h = (h ^ w) * kFnvPrime;
    h ^= h >> 29;
  }
  return h;
}

// The eight serial octets after which the former mix, having read the
// subject's DER, stands at `target`: every step of it can be undone.
Der ForcedSerial(const Der& subject, uint64_t target) {
  uint64_t inverse = kFnvPrime;  // Newton's iteration for the inverse mod 2^64
  for (int i = 0; i < 6; i++) inverse *= 2 - kFnvPrime * inverse;
  const uint64_t before =
      (OldFold(0xcbf29ce484222325ULL, subject.data(), subject.size()) ^ 8) * kFnvPrime;
  const uint64_t mixed = target ^ target >> 29 ^ target >> 58;  // xorshift by 29 undone
  const uint64_t w = mixed * inverse ^ before;
  Der serial(8);
  for (int j = 0; j < 8; j++) serial[j] = static_cast<unsigned char>(w >> (8 * j));
  return serial;
}

// n certificates of distinct subjects that the former index keyed alike.
std::vector<Der> ForcedKeyCerts(const Der& cert_der, int n) {
  const unsigned char* p = cert_der.data();
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(cert_der.size()));
  std::vector<Der> out;
  for (int k = 0; static_cast<int>(out.size()) < n; k++) {
    char cn[32];
    snprintf(cn, sizeof cn, "forced %d", k);
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", ASN1_MB_ASCII,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    const Der serial = ForcedSerial(EncodeWith(i2d_X509_NAME, name), 0x0123456789abcdefULL);
    if (serial[0] != 0) {  // a leading zero octet would not be kept
      X509* x = X509_dup(cert);
      X509_set_subject_name(x, name);
      ASN1_STRING_set(X509_get_serialNumber(x), serial.data(), 8);
      X509_get_serialNumber(x)->type = ASN1_UT_INTEGER;
      x->cert_info->enc.modified = 1;
      out.push_back(EncodeWith(i2d_X509, x));
      X509_free(x);
    }
    X509_NAME_free(name);
  }
  X509_free(cert);
  return out;
}

// Each iteration decodes the objects afresh (untimed, as a load would just
// have decoded them), then times a new store, their additions and its
// release.
template <class T>
void RegisterStoreAdds(const std::string& name, const std::vector<Der>& ders,
                       T* (*d2i)(T**, const unsigned char**, long), void (*release)(T*),
                       int (*add)(X509_STORE*, T*)) {
  benchmark::RegisterBenchmark(name.c_str(), [ders, d2i, release, add](benchmark::State& state) {
    std::vector<T*> objects(ders.size());
    for (auto _ : state) {
      state.PauseTiming();
      for (size_t k = 0; k < ders.size(); k++) {
        const unsigned char* p = ders[k].data();
        objects[k] = d2i(nullptr, &p, static_cast<long>(ders[k].size()));
      }
      state.ResumeTiming();
      X509_STORE* store = X509_STORE_new();
      for (T* v : objects)
        if (add(store, v) != 1) state.SkipWithError("an object was refused");
      X509_STORE_free(store);
      state.PauseTiming();
      for (T* v : objects) release(v);
      state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ders.size()));
  })->Unit(benchmark::kMillisecond);
}

// n certificates made in memory, never encoded (no key, so none can be), of
// subjects "CN=bare <k>" and serial number 1, added to a new store.
void AddBareCertificates(benchmark::State& state, int n) {
  std::vector<X509*> bare(n);
  for (auto _ : state) {
    state.PauseTiming();
    for (int k = 0; k < n; k++) {
      char cn[32];
      snprintf(cn, sizeof cn, "bare %d", k);
      bare[k] = X509_new();
      X509_NAME_add_entry_by_txt(X509_get_subject_name(bare[k]), "CN", ASN1_MB_ASCII,
                                 reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
      ASN1_INTEGER_set(X509_get_serialNumber(bare[k]), 1);
    }
    state.ResumeTiming();
    X509_STORE* store = X509_STORE_new();
    for (X509* x : bare)
      if (X509_STORE_add_cert(store, x) != 1) state.SkipWithError("a certificate was refused");
    X509_STORE_free(store);
    state.PauseTiming();
    for (X509* x : bare) X509_free(x);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void RegisterStoreShapes(const Der& cert_der, const Der& crl_der) {
  if (cert_der.size() < 300 || crl_der.size() < 300) return;
  for (int n : {1000, 8000}) {
    std::vector<Der> certs, crls;
    for (int k = 0; k < n; k++) {
      certs.push_back(WithSignatureHead(cert_der, k));
      crls.push_back(WithSignatureHead(crl_der, k));
    }
    const std::string size = "/" + std::to_string(n);
    RegisterStoreAdds<X509>("x509-store/one-name" + size, certs, d2i_X509, X509_free,
                            X509_STORE_add_cert);
    RegisterStoreAdds<X509_CRL>("x509-store/one-name-crl" + size, crls, d2i_X509_CRL, X509_CRL_free,
                                X509_STORE_add_crl);
    RegisterStoreAdds<X509>("x509-store/forced-key" + size, ForcedKeyCerts(cert_der, n), d2i_X509,
                            X509_free, X509_STORE_add_cert);
    benchmark::RegisterBenchmark(("x509-store/unencoded-one-serial" + size).c_str(),
                                 [n](benchmark::State& state) { AddBareCertificates(state, n); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("x509-store/crl-file/1500", [crl_der](benchmark::State& state) {
    TimeLoadingPem(state, 1500, [&crl_der](BIO* out) {
      for (int k = 0; k < 1500; k++) {
        const Der d = WithSignatureHead(crl_der, k);
        const unsigned char* p = d.data();
        X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(d.size()));
        PEM_write_bio_X509_CRL(out, crl);
        X509_CRL_free(crl);
      }
    });
  })->Unit(benchmark::kMillisecond);
}

}  // namespace

/* see bench.h */
std::vector<std::vector<unsigned char>> ReadFiles(const std::string& dir, const std::string& ext) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().extension() == ext) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  std::vector<std::vector<unsigned char>> out;
  for (const std::string& n : names) {
    FILE* f = fopen(n.c_str(), "rb");
    if (f == nullptr) continue;
    std::vector<unsigned char> d;
    unsigned char buf[4096];
    for (size_t k; (k = fread(buf, 1, sizeof buf, f)) > 0;) d.insert(d.end(), buf, buf + k);
    fclose(f);
    out.push_back(d);
  }
  return out;
}

void RegisterX509() {
  const std::string pkits = std::string(MORVANE_BENCH_VECTORS_DIR) + "/pkits";
  const std::vector<Der> certs = ReadFiles(pkits + "/certs", ".crt");
  const std::vector<Der> crls = ReadFiles(pkits + "/crls", ".crl");
  const Codec<X509> cert{d2i_X509, i2d_X509, X509_dup, X509_free};
  const Codec<X509_CRL> crl{d2i_X509_CRL, i2d_X509_CRL, X509_CRL_dup, X509_CRL_free};
  for (Way way : {Way::kDecode, Way::kReencode, Way::kDup}) Register("x509-cert", cert, certs, way);
  for (Way way : {Way::kDecode, Way::kReencode}) Register("x509-crl", crl, crls, way);
  for (NameWay way : {NameWay::kCmp, NameWay::kHashFresh, NameWay::kHashStale})
    RegisterNames(certs, way);
  RegisterVerify(certs);
  RegisterStoreLoad(certs.empty() ? Der() : certs.front(), crls.empty() ? Der() : crls.front());
  RegisterStoreLoadFile(certs.empty() ? Der() : certs.front());
  RegisterStoreUnencodable();
  RegisterStoreShapes(certs.empty() ? Der() : certs.front(), crls.empty() ? Der() : crls.front());
  RegisterVerifyDecoded(pkits);
}

}  // namespace bench
