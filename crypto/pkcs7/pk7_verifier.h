// The certificate-chain verifier as the PKCS#7 code calls it.  The verifier
// is built in its own component; until it is part of the library the calls
// below are weak references that resolve to null, and verifier_present()
// queues "called a function that was disabled at compile-time" naming
// X509_verify_cert.  Once it is linked in they are its functions.
#ifndef MORVANE_PKCS7_PK7_VERIFIER_H
#define MORVANE_PKCS7_PK7_VERIFIER_H

#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/types.h>

#include "internal/unbuilt.h"

extern "C" {
X509_STORE_CTX* pk7_X509_STORE_CTX_new() __asm__("X509_STORE_CTX_new") __attribute__((weak));
void pk7_X509_STORE_CTX_free(X509_STORE_CTX* ctx) __asm__("X509_STORE_CTX_free")
    __attribute__((weak));
int pk7_X509_STORE_CTX_init(X509_STORE_CTX* ctx, X509_STORE* store, X509* x509, STACK* chain)
    __asm__("X509_STORE_CTX_init") __attribute__((weak));
void pk7_X509_STORE_CTX_cleanup(X509_STORE_CTX* ctx) __asm__("X509_STORE_CTX_cleanup")
    __attribute__((weak));
int pk7_X509_STORE_CTX_get_error(X509_STORE_CTX* ctx) __asm__("X509_STORE_CTX_get_error")
    __attribute__((weak));
void pk7_X509_STORE_CTX_set0_crls(X509_STORE_CTX* ctx, STACK* sk)
    __asm__("X509_STORE_CTX_set0_crls") __attribute__((weak));
int pk7_X509_STORE_CTX_set_default(X509_STORE_CTX* ctx, const char* name)
    __asm__("X509_STORE_CTX_set_default") __attribute__((weak));
int pk7_X509_STORE_CTX_set_purpose(X509_STORE_CTX* ctx, int purpose)
    __asm__("X509_STORE_CTX_set_purpose") __attribute__((weak));
int pk7_X509_verify_cert(X509_STORE_CTX* ctx) __asm__("X509_verify_cert") __attribute__((weak));
const char* pk7_X509_verify_cert_error_string(long n) __asm__("X509_verify_cert_error_string")
    __attribute__((weak));
}

namespace morvane::pkcs7 {

// True when the verifier is linked in; else queues its absence under
// function `func` of library 33.
inline bool verifier_present(int func) {
  if (&pk7_X509_verify_cert != nullptr && &pk7_X509_STORE_CTX_new != nullptr &&
      &pk7_X509_STORE_CTX_init != nullptr && &pk7_X509_STORE_CTX_cleanup != nullptr &&
      &pk7_X509_STORE_CTX_free != nullptr && &pk7_X509_STORE_CTX_get_error != nullptr &&
      &pk7_X509_STORE_CTX_set0_crls != nullptr && &pk7_X509_STORE_CTX_set_default != nullptr &&
      &pk7_X509_STORE_CTX_set_purpose != nullptr &&
      &pk7_X509_verify_cert_error_string != nullptr)
    return true;
  ::morvane::internal::unbuilt(ERR_LIB_PKCS7, func, "X509_verify_cert", __FILE__, __LINE__);
  return false;
}

}  // namespace morvane::pkcs7

#endif  // MORVANE_PKCS7_PK7_VERIFIER_H
