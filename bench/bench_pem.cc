// The PEM armour per block: the PKITS trust anchor (TrustAnchorRootCertificate.crt,
// 843 bytes of DER, 1142 characters of body) written with PEM_write_bio into
// a reset memory stream, and read back with PEM_read_bio from a read-only
// memory stream over the text; the same through PEM_ASN1_write_bio and
// PEM_ASN1_read_bio encrypted with AES-128-CBC under a fixed pass phrase.
// Names are "pem-<way>/<form>"; the time of one iteration is the time of one
// block.  Without the vectors folder nothing is registered.

#include <stdio.h>

#include <functional>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/pem.h>

#include "bench.h"

namespace bench {
namespace {

std::string ReadAll(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  fclose(f);
  return out;
}

char kPhrase[] = "benchmark pass phrase";

// The text `write` leaves in a memory stream.
template <class Write>
std::string Text(Write write) {
  BIO* b = BIO_new(BIO_s_mem());
  write(b);
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  std::string t(p, static_cast<size_t>(n > 0 ? n : 0));
  BIO_free(b);
  return t;
}

void RegisterWrite(const char* name, std::function<void(BIO*)> write) {
  benchmark::RegisterBenchmark(name, [write](benchmark::State& state) {
    BIO* b = BIO_new(BIO_s_mem());
    for (auto _ : state) {
      (void)BIO_reset(b);
      write(b);
    }
    BIO_free(b);
    state.SetItemsProcessed(state.iterations());
  });
}

void RegisterRead(const char* name, std::string text, std::function<void(BIO*)> read) {
  benchmark::RegisterBenchmark(name, [text, read](benchmark::State& state) {
    std::string t = text;
    for (auto _ : state) {
      BIO* b = BIO_new_mem_buf(&t[0], static_cast<int>(t.size()));
      read(b);
      BIO_free(b);
    }
    state.SetItemsProcessed(state.iterations());
  });
}

}  // namespace

void RegisterPem() {
  Morvane_add_all_ciphers();
  const std::string der = ReadAll(std::string(MORVANE_BENCH_VECTORS_DIR) +
                                  "/pkits/certs/TrustAnchorRootCertificate.crt");
  if (der.size() != 843) return;
  auto cert = std::make_shared<std::string>(der);
  auto plain = [cert](BIO* b) {
    auto* d = reinterpret_cast<unsigned char*>(&(*cert)[0]);
    if (PEM_write_bio(b, "CERTIFICATE", nullptr, d, 843) != 1142)
      Mismatch("pem-write: 843 bytes did not make 1142 characters");
  };
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  std::shared_ptr<ASN1_TYPE> any(d2i_ASN1_TYPE(nullptr, &p, 843), ASN1_TYPE_free);
  auto encrypted = [any](BIO* b) {
    PEM_ASN1_write_bio(reinterpret_cast<i2d_of_void*>(i2d_ASN1_TYPE), "CERTIFICATE", b,
                       reinterpret_cast<char*>(any.get()), EVP_aes_128_cbc(),
                       reinterpret_cast<unsigned char*>(kPhrase), sizeof kPhrase - 1, nullptr,
                       nullptr);
  };
  RegisterWrite("pem-write/plain", plain);
  RegisterWrite("pem-write/aes128-cbc", encrypted);
  RegisterRead("pem-read/plain", Text(plain), [](BIO* b) {
    char *name = nullptr, *header = nullptr;
    unsigned char* data = nullptr;
    long len = 0;
    if (PEM_read_bio(b, &name, &header, &data, &len) != 1 || len != 843)
      Mismatch("pem-read: the trust anchor did not read back");
    MORVANE_free(name);
    MORVANE_free(header);
    MORVANE_free(data);
  });
  RegisterRead("pem-read/aes128-cbc", Text(encrypted), [](BIO* b) {
    ASN1_TYPE* t =
        static_cast<ASN1_TYPE*>(PEM_ASN1_read_bio(reinterpret_cast<d2i_of_void*>(d2i_ASN1_TYPE),
                                                  "CERTIFICATE", b, nullptr, nullptr, kPhrase));
    if (t == nullptr) Mismatch("pem-read: the encrypted trust anchor did not read back");
    ASN1_TYPE_free(t);
  });
}

}  // namespace bench
