// Fuzzes PKCS#7 messages in DER: d2i_PKCS7, then the signer lookup,
// PKCS7_verify without and with chain checks (a fixed content stream for
// detached messages), PKCS7_dataDecode with a fixed RSA key read to its end,
// and the encoders and PKCS7_dup.
//
// Checks: a decoded message encodes, and its copy encodes to the same bytes;
// a stack of signers has one certificate per signer record.

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>

namespace {

EVP_PKEY* FixedKey() {
  static EVP_PKEY* key = [] {
    EVP_PKEY* k = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(k, RSA_generate_key(512, 65537, nullptr, nullptr));
    return k;
  }();
  return key;
}

void Drain(BIO* b) {
  char buf[4096];
  while (BIO_read(b, buf, sizeof buf) > 0) {
  }
}

std::vector<unsigned char> Encode(PKCS7* p7) {
  unsigned char* der = nullptr;
  const int n = i2d_PKCS7(p7, &der);
  std::vector<unsigned char> v;
  if (n > 0) v.assign(der, der + n);
  MORVANE_free(der);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool loaded = [] {
    Morvane_add_all_digests();
    Morvane_add_all_ciphers();
    return true;
  }();
  (void)loaded;
  const unsigned char* p = data;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  if (p7 == nullptr) {
    ERR_clear_error();
    return 0;
  }
  STACK* signers = PKCS7_get0_signers(p7, nullptr, 0);
  if (signers != nullptr) {
    Check(sk_num(signers) == sk_num(PKCS7_get_signer_info(p7)), "one signer per record");
    sk_free(signers);
  }
  static const char kContent[] = "fuzz content\r\n";
  for (int flags : {PKCS7_FLAG_NO_VERIFY, 0}) {
    BIO* content = BIO_new_mem_buf(const_cast<char*>(kContent), sizeof kContent - 1);
    BIO* out = BIO_new(BIO_s_mem());
    PKCS7_verify(p7, nullptr, nullptr, content, out, flags);
    BIO_free(out);
    BIO_free(content);
  }
  BIO* chain = PKCS7_dataDecode(p7, FixedKey(), nullptr, nullptr);
  if (chain != nullptr) {
    Drain(chain);
    BIO_free_all(chain);
  }
  const std::vector<unsigned char> der = Encode(p7);
  Check(!der.empty(), "a decoded message encodes");
  unsigned char* ndef = nullptr;
  i2d_PKCS7_NDEF(p7, &ndef);
  MORVANE_free(ndef);
  PKCS7* copy = PKCS7_dup(p7);
  Check(copy != nullptr, "a decoded message copies");
  Check(Encode(copy) == der, "the copy encodes alike");
  PKCS7_free(copy);
  PKCS7_free(p7);
  ERR_clear_error();
  return 0;
}
