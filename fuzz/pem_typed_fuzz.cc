// Fuzzes the typed PEM readers over outside text: PEM_X509_INFO_read_bio
// (each record then written back with PEM_X509_INFO_write_bio),
// PEM_read_bio_PrivateKey with a fixed pass phrase (as user data of the
// default callback, which then never prompts) and d2i_PKCS8PrivateKey_bio
// over the raw bytes.
//
// Checks: a mixed-file read into a stack holding one record of the caller
// leaves that record first and in place whatever happens; every record
// holds something.

#include "fuzz_check.h"

#include <cstdint>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

char kPhrase[] = "fuzz pass phrase";

BIO* Input(const uint8_t* data, size_t size) {
  return BIO_new_mem_buf(const_cast<uint8_t*>(data), static_cast<int>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = [] {
    MORVANE_add_all_algorithms_noconf();
    return true;
  }();
  (void)init;
  if (size > 1 << 20) return 0;

  STACK* sk = sk_new_null();
  X509_INFO* mine = X509_INFO_new();
  sk_push(sk, reinterpret_cast<char*>(mine));
  BIO* b = Input(data, size);
  STACK* got = PEM_X509_INFO_read_bio(b, sk, nullptr, kPhrase);
  BIO_free(b);
  Check(sk_num(sk) >= 1 && sk_value(sk, 0) == reinterpret_cast<char*>(mine),
        "the caller's record stays first");
  if (got != nullptr) {
    Check(got == sk, "the caller's stack is returned");
    BIO* out = BIO_new(BIO_s_mem());
    for (int i = 1; i < sk_num(sk); i++) {
      auto* xi = reinterpret_cast<X509_INFO*>(sk_value(sk, i));
      Check(xi->x509 != nullptr || xi->crl != nullptr || xi->x_pkey != nullptr ||
                xi->enc_data != nullptr,
            "every record holds something");
      PEM_X509_INFO_write_bio(out, xi, nullptr, nullptr, 0, nullptr, nullptr);
    }
    BIO_free(out);
  }
  while (sk_num(sk) > 0) X509_INFO_free(reinterpret_cast<X509_INFO*>(sk_pop(sk)));
  sk_free(sk);

  b = Input(data, size);
  EVP_PKEY* k = PEM_read_bio_PrivateKey(b, nullptr, nullptr, kPhrase);
  EVP_PKEY_free(k);
  BIO_free(b);

  b = Input(data, size);
  k = d2i_PKCS8PrivateKey_bio(b, nullptr, nullptr, kPhrase);
  EVP_PKEY_free(k);
  BIO_free(b);
  ERR_clear_error();
  return 0;
}
