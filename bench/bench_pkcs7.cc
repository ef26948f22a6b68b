// PKCS#7 over a 64 KiB message with the 2048-bit key of
// test/data/rsa/keys.txt.  One test CA (self-signed, version 1) issues the
// signer's certificate and two recipients' certificates, all on that one key,
// built with the X509 setters and X509_sign.
//
// "pkcs7/sign/<flags>/<bytes>": PKCS7_sign from a memory stream (flags 0:
// the content read as lines, end of lines made CR LF; "binary":
// PKCS7_FLAG_BINARY, copied as it is).  "pkcs7/verify/store/<bytes>" and
// "pkcs7/verify/noverify/<bytes>": PKCS7_verify of a message signed with
// flags 0 and received (decoded from its DER once, outside the loop), the
// signer's chain checked against a store holding the CA, or with
// PKCS7_FLAG_NO_VERIFY the signature alone.  "pkcs7/encrypt/<bytes>"
// (flags 0 and binary) and "pkcs7/decrypt/<bytes>": AES-128-CBC to two
// recipients, decrypted by the first.  The message is a fixed pseudo-random
// pattern (about one line end per 256 bytes).
//
// "pkcs7/verify/lists/<lists>x<signers>": see TimeManyLists.
// "pkcs7/verify/signers/<signers>": the same without older lists: the
// message's certificates are indexed once per call, so the time grows with
// the number of signers, not with its square.
//
// "pkcs7/verify/repeated-digests/<entries>": PKCS7_verify with
// PKCS7_FLAG_NO_VERIFY of an empty message signed with flags 0 whose digest
// list names SHA-1 <entries> times, as a received message may (decoded from
// its DER once, outside the loop): the engine builds one digest filter per
// digest, so the time grows with the list's length, not with its square.
//
// "pkcs7/smime-read/<source>": SMIME_read_PKCS7 of a 100 MiB multipart/
// signed message (content lines of 64 bytes ending in CR LF, signed
// detached and binary) that a thread writes into a socket pair or a pipe,
// read from the descriptor's own stream ("socket", "pipe": streams without
// line reads) or behind a buffer filter ("socket+buffer", "pipe+buffer").
// After the last round the content and signature are checked.
//
// Every operation is timed at 0 bytes too: that is its fixed cost (RSA,
// attributes, encoding), so the difference is what the content streams
// cost.  "pkcs7-bare/..." times what those streams must do at the least:
// EVP_Digest SHA-1 (the digest of PKCS7_sign) and EVP_Encrypt*/EVP_Decrypt*
// AES-128-CBC, each over the same 64 KiB alone.

#include <signal.h>
#include <stdint.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "bench.h"
#include "rsa_key_file.h"

namespace bench {
namespace {

constexpr size_t kMsgLen = 65536;
constexpr int64_t kLens[] = {0, 1024, static_cast<int64_t>(kMsgLen)};

struct Pki {
  EVP_PKEY* key = nullptr;
  X509* ca = nullptr;
  X509* signer = nullptr;
  X509* recipient[2] = {};
  X509_STORE* store = nullptr;
  STACK* recipients = nullptr;
  std::vector<unsigned char> msg;
};

X509_NAME* NameOf(const char* cn) {
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_txt(n, "CN", ASN1_MB_ASCII, reinterpret_cast<const unsigned char*>(cn),
                             -1, -1, 0);
  return n;
}

// A certificate for `key` named `cn`, issued by `issuer` (itself when null)
// and signed with SHA-256.
X509* MakeCert(EVP_PKEY* key, const char* cn, long serial, X509* issuer) {
  X509* x = X509_new();
  X509_set_version(x, 0);
  ASN1_INTEGER* sn = ASN1_INTEGER_new();
  ASN1_INTEGER_set(sn, serial);
  X509_set_serialNumber(x, sn);
  ASN1_INTEGER_free(sn);
  X509_NAME* subject = NameOf(cn);
  X509_set_subject_name(x, subject);
  X509_set_issuer_name(x, issuer != nullptr ? X509_get_subject_name(issuer) : subject);
  X509_NAME_free(subject);
  ASN1_TIME* t = X509_gmtime_adj(nullptr, -3600);
  X509_set_notBefore(x, t);
  X509_gmtime_adj(t, 86400L * 30);
  X509_set_notAfter(x, t);
  ASN1_TIME_free(t);
  X509_set_pubkey(x, key);
  if (X509_sign(x, key, EVP_sha256()) <= 0) Mismatch("pkcs7: X509_sign failed for " + std::string(cn));
  return x;
}

Pki* Setup() {
  Pki* p = new Pki;
  RSA* rsa = rsa_test::LoadKeyFile(MORVANE_BENCH_TEST_DATA_DIR "/rsa/keys.txt", 2048);
  if (rsa == nullptr) return nullptr;
  p->key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(p->key, rsa);
  p->ca = MakeCert(p->key, "Morvane Bench CA", 1, nullptr);
  p->signer = MakeCert(p->key, "Morvane Bench Signer", 2, p->ca);
  p->recipients = sk_new_null();
  for (int i = 0; i < 2; i++) {
    const std::string cn = "Morvane Bench Recipient " + std::to_string(i);
    p->recipient[i] = MakeCert(p->key, cn.c_str(), 3 + i, p->ca);
    sk_push(p->recipients, reinterpret_cast<char*>(p->recipient[i]));
  }
  p->store = X509_STORE_new();
  X509_STORE_add_cert(p->store, p->ca);
  p->msg.resize(kMsgLen);
  uint64_t s = 0x9e3779b97f4a7c15ULL;
  for (unsigned char& c : p->msg) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    c = static_cast<unsigned char>(s >> 32);
  }
  return p;
}

BIO* MsgBio(Pki* p, size_t len) {
  return BIO_new_mem_buf(p->msg.data(), static_cast<int>(len));
}

void Bytes(benchmark::State& state, size_t len) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
}

PKCS7* Sign(Pki* p, size_t len, int flags) {
  BIO* in = MsgBio(p, len);
  PKCS7* p7 = PKCS7_sign(p->signer, p->key, nullptr, in, flags);
  BIO_free(in);
  return p7;
}

PKCS7* Encrypt(Pki* p, size_t len, int flags) {
  BIO* in = MsgBio(p, len);
  PKCS7* p7 = PKCS7_encrypt(p->recipients, in, EVP_aes_128_cbc(), flags);
  BIO_free(in);
  return p7;
}

void Register(const char* name, Pki* p, void (*body)(benchmark::State&, Pki*, size_t)) {
  auto* b = benchmark::RegisterBenchmark(
      name, [p, body](benchmark::State& state) {
        body(state, p, static_cast<size_t>(state.range(0)));
      });
  for (int64_t len : kLens) b->Arg(len);
  b->Unit(benchmark::kMicrosecond);
}

void TimeSign(benchmark::State& state, Pki* p, size_t len, int flags) {
  for (auto _ : state) {
    PKCS7* p7 = Sign(p, len, flags);
    if (p7 == nullptr) {
      state.SkipWithError("PKCS7_sign failed");
      break;
    }
    PKCS7_free(p7);
  }
  Bytes(state, len);
}

// The message p7 (freed) as a receiver has it: decoded from its DER; null
// when p7 is null or does not encode.
PKCS7* Received(PKCS7* p7) {
  unsigned char* der = nullptr;
  const int n = p7 != nullptr ? i2d_PKCS7(p7, &der) : 0;
  const unsigned char* q = der;
  PKCS7* received = n > 0 ? d2i_PKCS7(nullptr, &q, n) : nullptr;
  MORVANE_free(der);
  PKCS7_free(p7);
  return received;
}

void TimeVerify(benchmark::State& state, Pki* p, size_t len, bool chain) {
  // Verified as received: decoded once, outside the loop.
  PKCS7* p7 = Received(Sign(p, len, 0));
  if (p7 == nullptr) {
    state.SkipWithError("PKCS7 message not made");
    return;
  }
  for (auto _ : state) {
    const int ok = chain ? PKCS7_verify(p7, nullptr, p->store, nullptr, nullptr, 0)
                         : PKCS7_verify(p7, nullptr, nullptr, nullptr, nullptr,
                                        PKCS7_FLAG_NO_VERIFY);
    if (ok != 1) {
      state.SkipWithError("PKCS7_verify failed");
      break;
    }
  }
  PKCS7_free(p7);
  Bytes(state, len);
}

void TimeEncrypt(benchmark::State& state, Pki* p, size_t len, int flags) {
  for (auto _ : state) {
    PKCS7* p7 = Encrypt(p, len, flags);
    if (p7 == nullptr) {
      state.SkipWithError("PKCS7_encrypt failed");
      break;
    }
    PKCS7_free(p7);
  }
  Bytes(state, len);
}

void TimeDecrypt(benchmark::State& state, Pki* p, size_t len) {
  PKCS7* p7 = Encrypt(p, len, PKCS7_FLAG_BINARY);
  for (auto _ : state) {
    BIO* out = BIO_new(BIO_s_mem());
    const int ok = PKCS7_decrypt(p7, p->key, p->recipient[0], out, 0);
    char* data = nullptr;
    const long n = BIO_get_mem_data(out, &data);
    BIO_free(out);
    if (ok != 1 || n != static_cast<long>(len)) {
      state.SkipWithError("PKCS7_decrypt failed");
      break;
    }
  }
  PKCS7_free(p7);
  Bytes(state, len);
}

void TimeRepeatedDigests(benchmark::State& state, Pki* p, int entries) {
  PKCS7* p7 = Sign(p, 0, 0);
  STACK* md_algs = p7 != nullptr ? p7->d.sign->md_algs : nullptr;
  for (int i = sk_num(md_algs); md_algs != nullptr && i < entries; i++)
    sk_push(md_algs, reinterpret_cast<char*>(
                         X509_ALGOR_dup(reinterpret_cast<X509_ALGOR*>(sk_value(md_algs, 0)))));
  PKCS7* received = Received(p7);
  if (received == nullptr) {
    state.SkipWithError("no message");
    return;
  }
  for (auto _ : state) {
    if (PKCS7_verify(received, nullptr, nullptr, nullptr, nullptr, PKCS7_FLAG_NO_VERIFY) != 1) {
      state.SkipWithError("PKCS7_verify failed");
      break;
    }
  }
  PKCS7_free(received);
}

// A revocation list of the CA's name issued `age` seconds ago, signed by
// key.
X509_CRL* CaList(Pki* p, long age, EVP_PKEY* key) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(p->ca));
  ASN1_TIME* t = X509_gmtime_adj(nullptr, -age);
  X509_CRL_set_lastUpdate(crl, t);
  X509_gmtime_adj(t, 86400L * 30);
  X509_CRL_set_nextUpdate(crl, t);
  ASN1_TIME_free(t);
  if (X509_CRL_sign(crl, key, EVP_sha1()) <= 0) Mismatch("pkcs7: X509_CRL_sign failed");
  return crl;
}

// "pkcs7/verify/lists/<lists>x<signers>": PKCS7_verify, revocation lists
// checked, of a received message of `signers` signers, each with a
// certificate of its own from the CA, carrying `lists` older lists of the
// CA's name beside the CA's newest list in the store.  Each issuer's lists
// are gathered and ranked once per call, whatever the number of signers.
void TimeManyLists(benchmark::State& state, Pki* p, int lists, int signers) {
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, p->ca);
  X509_CRL* newest = CaList(p, 60, p->key);
  X509_STORE_add_crl(store, newest);
  X509_CRL_free(newest);
  X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK);
  // The older lists are never checked (the newest one verifies first), so
  // a small key signs them.
  RSA* small = RSA_new();
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  RSA_generate_key_ex(small, 512, e, nullptr);
  BN_free(e);
  EVP_PKEY* small_key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(small_key, small);
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 22);  // signed data
  PKCS7_content_new(p7, 21);
  std::vector<X509*> certs;
  for (int i = 0; i < signers; i++) {
    const std::string cn = "Morvane Bench Signer " + std::to_string(i);
    certs.push_back(MakeCert(p->key, cn.c_str(), 100 + i, p->ca));
    PKCS7_add_signature(p7, certs.back(), p->key, EVP_sha1());
    PKCS7_add_certificate(p7, certs.back());
  }
  for (int i = 0; i < lists; i++) {
    X509_CRL* old = CaList(p, 3600 + i, small_key);
    PKCS7_add_crl(p7, old);
    X509_CRL_free(old);
  }
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  BIO_write(chain, p->msg.data(), 1024);
  BIO_flush(chain);
  const int made = PKCS7_dataFinal(p7, chain);
  BIO_free_all(chain);
  PKCS7* received = made == 1 ? Received(p7) : nullptr;
  if (made != 1) PKCS7_free(p7);
  if (received == nullptr) state.SkipWithError("PKCS7 message not made");
  for (auto _ : state) {
    if (received == nullptr) break;
    if (PKCS7_verify(received, nullptr, store, nullptr, nullptr, 0) != 1) {
      state.SkipWithError("PKCS7_verify failed");
      break;
    }
  }
  PKCS7_free(received);
  for (X509* x : certs) X509_free(x);
  EVP_PKEY_free(small_key);
  X509_STORE_free(store);
}

void BareDigest(benchmark::State& state, Pki* p, const EVP_MD* md) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  for (auto _ : state) {
    EVP_Digest(p->msg.data(), kMsgLen, out, &n, md, nullptr);
    benchmark::DoNotOptimize(out);
  }
  Bytes(state, kMsgLen);
}

void BareCipher(benchmark::State& state, Pki* p, bool encrypt) {
  std::vector<unsigned char> out(kMsgLen + 32);
  // Decryption runs over the encryption's output (with its padding block).
  std::vector<unsigned char> ct(kMsgLen + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0, m = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, kKey, kIv);
  EVP_EncryptUpdate(ctx, ct.data(), &n, p->msg.data(), static_cast<int>(kMsgLen));
  EVP_EncryptFinal_ex(ctx, ct.data() + n, &m);
  const int ctlen = n + m;
  for (auto _ : state) {
    if (encrypt) {
      EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, kKey, kIv);
      EVP_EncryptUpdate(ctx, out.data(), &n, p->msg.data(), static_cast<int>(kMsgLen));
      EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
    } else {
      EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, kKey, kIv);
      EVP_DecryptUpdate(ctx, out.data(), &n, ct.data(), ctlen);
      EVP_DecryptFinal_ex(ctx, out.data() + n, &m);
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (encrypt ? n + m != ctlen : n + m != static_cast<int>(kMsgLen))
    state.SkipWithError("AES-128-CBC length mismatch");
  EVP_CIPHER_CTX_free(ctx);
  Bytes(state, kMsgLen);
}

constexpr size_t kBigContent = size_t{100} << 20;

// The 100 MiB content and its signed message, made once.
const std::pair<std::string, std::string>& BigMessage(Pki* p) {
  static const std::pair<std::string, std::string> m = [p] {
    std::string content, line(62, 'x');
    line += "\r\n";
    content.reserve(kBigContent);
    while (content.size() < kBigContent) content += line;
    BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    PKCS7* p7 = PKCS7_sign(p->signer, p->key, nullptr, in, PKCS7_FLAG_DETACHED | PKCS7_FLAG_BINARY);
    BIO_free(in);
    in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    BIO* out = BIO_new(BIO_s_mem());
    if (p7 == nullptr ||
        SMIME_write_PKCS7(out, p7, in, PKCS7_FLAG_DETACHED | PKCS7_FLAG_BINARY) != 1)
      Mismatch("pkcs7: the 100 MiB message was not made");
    char* data = nullptr;
    const long n = BIO_get_mem_data(out, &data);
    std::string msg(data, static_cast<size_t>(n));
    BIO_free(out);
    BIO_free(in);
    PKCS7_free(p7);
    return std::pair{std::move(content), std::move(msg)};
  }();
  return m;
}

void TimeSmimeRead(benchmark::State& state, Pki* p, bool socket, bool buffered) {
  const auto& [content, msg] = BigMessage(p);
  signal(SIGPIPE, SIG_IGN);  // the reader may close before the last bytes it does not need
  PKCS7* p7 = nullptr;
  BIO* cont = nullptr;
  for (auto _ : state) {
    PKCS7_free(p7);
    BIO_free(cont);
    cont = nullptr;
    int fds[2];
    if ((socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, fds) : pipe(fds)) != 0) {
      state.SkipWithError("no descriptors");
      return;
    }
    std::thread writer([&msg, fd = fds[1]] {
      for (size_t at = 0; at < msg.size();) {
        const ssize_t n = write(fd, msg.data() + at, msg.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(fd);
    });
    BIO* in = socket ? BIO_new_socket(fds[0], BIO_CLOSE) : BIO_new_fd(fds[0], BIO_CLOSE);
    if (buffered) in = BIO_push(BIO_new(BIO_f_buffer()), in);
    p7 = SMIME_read_PKCS7(in, &cont);
    BIO_free_all(in);
    writer.join();
  }
  char* data = nullptr;
  const long n = cont != nullptr ? BIO_get_mem_data(cont, &data) : 0;
  if (p7 == nullptr || std::string(data, static_cast<size_t>(n)) != content ||
      PKCS7_verify(p7, nullptr, nullptr, cont, nullptr, PKCS7_FLAG_NO_VERIFY | PKCS7_FLAG_BINARY) !=
          1)
    state.SkipWithError("the message read is not the one written");
  PKCS7_free(p7);
  BIO_free(cont);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(msg.size()));
}

}  // namespace

void RegisterPkcs7() {
  MORVANE_add_all_algorithms_noconf();
  Pki* p = Setup();
  if (p == nullptr) {
    fprintf(stderr, "pkcs7: no 2048-bit key in test/data/rsa/keys.txt, skipped\n");
    return;
  }
  Register("pkcs7/sign/flags0", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeSign(s, q, len, 0);
  });
  Register("pkcs7/sign/binary", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeSign(s, q, len, PKCS7_FLAG_BINARY);
  });
  Register("pkcs7/verify/store", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeVerify(s, q, len, true);
  });
  Register("pkcs7/verify/noverify", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeVerify(s, q, len, false);
  });
  Register("pkcs7/encrypt/flags0", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeEncrypt(s, q, len, 0);
  });
  Register("pkcs7/encrypt/binary", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeEncrypt(s, q, len, PKCS7_FLAG_BINARY);
  });
  Register("pkcs7/decrypt", p, [](benchmark::State& s, Pki* q, size_t len) {
    TimeDecrypt(s, q, len);
  });
  benchmark::RegisterBenchmark("pkcs7/verify/repeated-digests", [p](benchmark::State& s) {
    TimeRepeatedDigests(s, p, static_cast<int>(s.range(0)));
  })->Arg(1)->Arg(1000)->Arg(40000)->Unit(benchmark::kMicrosecond);
  for (const auto& [lists, signers] : {std::pair{2000, 1}, std::pair{2000, 40}}) {
    const std::string name =
        "pkcs7/verify/lists/" + std::to_string(lists) + "x" + std::to_string(signers);
    benchmark::RegisterBenchmark(name.c_str(), [p, lists = lists, signers = signers](
                                                   benchmark::State& s) {
      TimeManyLists(s, p, lists, signers);
    })->Unit(benchmark::kMillisecond);
  }
  for (const int signers : {100, 400, 2000}) {
    const std::string name = "pkcs7/verify/signers/" + std::to_string(signers);
    benchmark::RegisterBenchmark(name.c_str(), [p, signers](benchmark::State& s) {
      TimeManyLists(s, p, 0, signers);
    })->Unit(benchmark::kMillisecond);
  }
  for (const bool socket : {true, false}) {
    for (const bool buffered : {false, true}) {
      const std::string name = std::string("pkcs7/smime-read/") + (socket ? "socket" : "pipe") +
                               (buffered ? "+buffer" : "");
      benchmark::RegisterBenchmark(
          name.c_str(),
          [p, socket, buffered](benchmark::State& s) { TimeSmimeRead(s, p, socket, buffered); })
          ->Iterations(3)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RegisterBenchmark("pkcs7-bare/sha1/65536", [p](benchmark::State& s) {
    BareDigest(s, p, EVP_sha1());
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("pkcs7-bare/aes-128-cbc-encrypt/65536", [p](benchmark::State& s) {
    BareCipher(s, p, true);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("pkcs7-bare/aes-128-cbc-decrypt/65536", [p](benchmark::State& s) {
    BareCipher(s, p, false);
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace bench
