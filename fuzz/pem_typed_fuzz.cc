// Fuzzes the typed PEM readers over outside text: PEM_X509_INFO_read_bio
// (each record then written back with PEM_X509_INFO_write_bio),
// PEM_read_bio_PrivateKey with a fixed pass phrase (as user data of the
// default callback, which then never prompts), d2i_PKCS8PrivateKey_bio
// over the raw bytes, and the readers of certificates (plain and trusted),
// revocation lists and PKCS#7 messages, each object read written back with
// its writer and read again.
//
// Checks: a mixed-file read into a stack holding one record of the caller
// leaves that record first and in place whatever happens; every record
// holds something; an object a typed reader gives encodes, writes, and
// reads back to the same encoding.

#include "fuzz_check.h"
#include "fuzz_der.h"

#include <cstdint>
#include <vector>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

char kPhrase[] = "fuzz pass phrase";

BIO* Input(const uint8_t* data, size_t size) {
  return BIO_new_mem_buf(const_cast<uint8_t*>(data), static_cast<int>(size));
}

// One typed reader over the input; what it gives is written with the
// matching writer and read again.
template <class T>
void ReadWriteRead(const uint8_t* data, size_t size, T* (*read)(BIO*, T**, pem_password_cb*, void*),
                   int (*write)(BIO*, T*), int (*i2d)(T*, unsigned char**), void (*free_fn)(T*)) {
  BIO* b = Input(data, size);
  T* x = read(b, nullptr, nullptr, kPhrase);
  BIO_free(b);
  if (x == nullptr) return;
  const std::vector<unsigned char> der = DerOf(i2d, x);
  Check(!der.empty(), "an object read encodes");
  BIO* out = BIO_new(BIO_s_mem());
  Check(write(out, x) == 1, "an object read writes");
  T* back = read(out, nullptr, nullptr, nullptr);
  Check(back != nullptr && DerOf(i2d, back) == der, "what is written reads back alike");
  free_fn(back);
  BIO_free(out);
  free_fn(x);
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

  ReadWriteRead(data, size, PEM_read_bio_X509, PEM_write_bio_X509, i2d_X509, X509_free);
  ReadWriteRead(data, size, PEM_read_bio_X509_AUX, PEM_write_bio_X509_AUX, i2d_X509_AUX,
                X509_free);
  ReadWriteRead(data, size, PEM_read_bio_X509_CRL, PEM_write_bio_X509_CRL, i2d_X509_CRL,
                X509_CRL_free);
  ReadWriteRead(data, size, PEM_read_bio_PKCS7, PEM_write_bio_PKCS7, i2d_PKCS7, PKCS7_free);
  ERR_clear_error();
  return 0;
}
