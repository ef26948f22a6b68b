// A driver for instruction-count profiles of the PKCS#7 streams (callgrind):
// runs one operation `iterations` times inside run_ops(), so that
// "valgrind --tool=callgrind --toggle-collect=run_ops morvane_pkcs7_profile
// <op> <bytes> <iterations>" counts that work alone.  The setup is that of bench_pkcs7.cc: the 2048-bit
// key of test/data/rsa/keys.txt, a self-signed version-1 certificate on it
// (signer and both recipients), the same pseudo-random message.
//
// <op>: "sign" (PKCS7_sign, flags 0), "sign-binary", "encrypt" (AES-128-CBC
// to two recipients, flags 0), "encrypt-binary", "decrypt" (of a message
// encrypted beforehand with <bytes> of content, into a memory stream that is
// freed), and the bare work: "sha1" (EVP_Digest), "aes-encrypt" and
// "aes-decrypt" (EVP_Encrypt*/EVP_Decrypt* AES-128-CBC).  Running an
// operation at 0 and at 65536 bytes and subtracting gives what the content
// costs.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "rsa_key_file.h"

namespace {

EVP_PKEY* g_key = nullptr;
X509* g_cert = nullptr;
STACK* g_recipients = nullptr;
PKCS7* g_enveloped = nullptr;
std::vector<unsigned char> g_msg;

X509* SelfSigned(EVP_PKEY* key) {
  X509* x = X509_new();
  X509_set_version(x, 0);
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_txt(n, "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("Morvane Profile"), -1, -1, 0);
  X509_set_subject_name(x, n);
  X509_set_issuer_name(x, n);
  X509_NAME_free(n);
  ASN1_TIME* t = X509_gmtime_adj(nullptr, -3600);
  X509_set_notBefore(x, t);
  X509_gmtime_adj(t, 86400);
  X509_set_notAfter(x, t);
  ASN1_TIME_free(t);
  X509_set_pubkey(x, key);
  if (X509_sign(x, key, EVP_sha256()) <= 0) return nullptr;
  return x;
}

BIO* Message(size_t len) { return BIO_new_mem_buf(g_msg.data(), static_cast<int>(len)); }

bool Bare(const std::string& op, size_t len) {
  if (op == "sha1") {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    return EVP_Digest(g_msg.data(), len, md, &n, EVP_sha1(), nullptr) == 1;
  }
  std::vector<unsigned char> out(len + 32);
  const unsigned char key[16] = {1}, iv[16] = {2};
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  int n = 0, m = 0;
  bool ok;
  if (op == "aes-encrypt") {
    ok = EVP_EncryptInit_ex(&ctx, EVP_aes_128_cbc(), nullptr, key, iv) &&
         EVP_EncryptUpdate(&ctx, out.data(), &n, g_msg.data(), static_cast<int>(len)) &&
         EVP_EncryptFinal_ex(&ctx, out.data() + n, &m);
  } else {
    // Whole blocks of arbitrary bytes: the padding check is not timed.
    ok = EVP_DecryptInit_ex(&ctx, EVP_aes_128_cbc(), nullptr, key, iv) &&
         EVP_DecryptUpdate(&ctx, out.data(), &n, g_msg.data(), static_cast<int>(len));
  }
  EVP_CIPHER_CTX_cleanup(&ctx);
  return ok;
}

bool Once(const std::string& op, size_t len) {
  if (op == "sign" || op == "sign-binary") {
    BIO* in = Message(len);
    PKCS7* p7 = PKCS7_sign(g_cert, g_key, nullptr, in, op == "sign" ? 0 : PKCS7_FLAG_BINARY);
    BIO_free(in);
    PKCS7_free(p7);
    return p7 != nullptr;
  }
  if (op == "encrypt" || op == "encrypt-binary") {
    BIO* in = Message(len);
    PKCS7* p7 = PKCS7_encrypt(g_recipients, in, EVP_aes_128_cbc(),
                              op == "encrypt" ? 0 : PKCS7_FLAG_BINARY);
    BIO_free(in);
    PKCS7_free(p7);
    return p7 != nullptr;
  }
  if (op == "decrypt") {
    BIO* out = BIO_new(BIO_s_mem());
    const int ok = PKCS7_decrypt(g_enveloped, g_key, g_cert, out, 0);
    BIO_free(out);
    return ok == 1;
  }
  return Bare(op, len);
}

}  // namespace

// The profiled region.
extern "C" __attribute__((noinline)) int run_ops(const char* op, size_t len, int iterations) {
  for (int i = 0; i < iterations; i++)
    if (!Once(op, len)) return 0;
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s <op> <bytes (at most 65536)> <iterations>\n", argv[0]);
    return 2;
  }
  const size_t len = strtoul(argv[2], nullptr, 10);
  const int iterations = atoi(argv[3]);
  if (len > 65536 || iterations < 1) return 2;
  Morvane_add_all_digests();
  Morvane_add_all_ciphers();
  RSA* rsa = rsa_test::LoadKeyFile(MORVANE_BENCH_TEST_DATA_DIR "/rsa/keys.txt", 2048);
  if (rsa == nullptr) return 1;
  g_key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(g_key, rsa);
  if ((g_cert = SelfSigned(g_key)) == nullptr) return 1;
  g_recipients = sk_new_null();
  sk_push(g_recipients, reinterpret_cast<char*>(g_cert));
  sk_push(g_recipients, reinterpret_cast<char*>(g_cert));
  g_msg.resize(65536);
  uint64_t s = 0x9e3779b97f4a7c15ULL;  // the pattern of bench_pkcs7.cc
  for (unsigned char& c : g_msg) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    c = static_cast<unsigned char>(s >> 32);
  }
  BIO* in = Message(len);
  g_enveloped = PKCS7_encrypt(g_recipients, in, EVP_aes_128_cbc(), PKCS7_FLAG_BINARY);
  BIO_free(in);
  if (g_enveloped == nullptr) return 1;
  const int ok = run_ops(argv[1], len, iterations);
  PKCS7_free(g_enveloped);
  sk_free(g_recipients);
  X509_free(g_cert);
  EVP_PKEY_free(g_key);
  if (!ok) fprintf(stderr, "%s failed\n", argv[1]);
  return ok ? 0 : 1;
}
