// The PEM armour per block: the PKITS trust anchor (TrustAnchorRootCertificate.crt,
// 843 bytes of DER, 1142 characters of body) written with PEM_write_bio into
// a reset memory stream, and read back with PEM_read_bio from a read-only
// memory stream over the text; the same through PEM_ASN1_write_bio and
// PEM_ASN1_read_bio encrypted with AES-128-CBC under a fixed pass phrase.
// Names are "pem-<way>/<form>"; the time of one iteration is the time of one
// block.  Without the vectors folder nothing is registered.
//
// Large reads from a writable memory stream (BIO_s_mem), where each read used
// to move every unread byte: "bio-mem-read/64MiB-by-4KiB" writes 64 MiB and
// reads them back in 4 KiB pieces; "pem-read-mem/4MiB" reads a 4 MiB body
// with PEM_read_bio and "pem-read-mem/cert-16MiB-ext" the trust anchor with a
// 16 MiB extension added with PEM_read_bio_X509, each from a stream the text
// was just written into (the write is part of the time).

#include <stdio.h>

#include <functional>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/x509.h>

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

// Reads `text` back from a memory stream it was written into, with `read`.
void RegisterMemRead(const char* name, std::string text, std::function<void(BIO*)> read) {
  benchmark::RegisterBenchmark(name, [text, read](benchmark::State& state) {
    for (auto _ : state) {
      BIO* b = BIO_new(BIO_s_mem());
      if (BIO_write(b, text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size()))
        Mismatch("bio-mem: the text did not go in");
      read(b);
      BIO_free(b);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  });
}

void ReadBlock(BIO* b, long want) {
  char *name = nullptr, *header = nullptr;
  unsigned char* data = nullptr;
  long len = 0;
  if (PEM_read_bio(b, &name, &header, &data, &len) != 1 || len != want)
    Mismatch("pem-read-mem: the block did not read back");
  MORVANE_free(name);
  MORVANE_free(header);
  MORVANE_free(data);
}

void RegisterLargeReads() {
  constexpr size_t kStream = 64 << 20;
  RegisterMemRead("bio-mem-read/64MiB-by-4KiB", std::string(kStream, 'x'), [](BIO* b) {
    char piece[4096];
    size_t got = 0;
    for (int n; (n = BIO_read(b, piece, sizeof piece)) > 0;) got += static_cast<size_t>(n);
    if (got != kStream) Mismatch("bio-mem-read: not every byte came back");
  });
  constexpr long kBody = 4 << 20;
  std::string body(static_cast<size_t>(kBody), '\x5a');
  RegisterMemRead("pem-read-mem/4MiB", Text([&body](BIO* b) {
                    PEM_write_bio(b, "DATA", nullptr, reinterpret_cast<unsigned char*>(&body[0]),
                                  kBody);
                  }),
                  [](BIO* b) { ReadBlock(b, kBody); });
}

// The trust anchor with a non-critical extension of 16 MiB (an unregistered
// identifier) added: its PEM text, or "" without the vectors.
std::string LargeCertificate(const std::string& der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) return "";
  ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
  std::string filler(16 << 20, '\x5a');
  ASN1_OCTET_STRING_set(value, reinterpret_cast<unsigned char*>(&filler[0]),
                        static_cast<int>(filler.size()));
  ASN1_OBJECT* oid = OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1);
  X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, value);
  const bool added = ext != nullptr && X509_add_ext(x, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  ASN1_OBJECT_free(oid);
  ASN1_OCTET_STRING_free(value);
  std::string text = added ? Text([x](BIO* b) { PEM_write_bio_X509(b, x); }) : "";
  X509_free(x);
  return text;
}

}  // namespace

void RegisterPem() {
  RegisterLargeReads();
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
  const std::string large = LargeCertificate(der);
  if (large.empty()) Mismatch("pem-read-mem: no certificate with a large extension");
  RegisterMemRead("pem-read-mem/cert-16MiB-ext", large, [](BIO* b) {
    X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    if (x == nullptr || X509_get_ext_count(x) < 1) Mismatch("pem-read-mem: the certificate");
    X509_free(x);
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
