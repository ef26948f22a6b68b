// X509_INFO, one item of a mixed PEM file (a certificate, a revocation list
// or a private key, with the cipher of an encrypted key), counted under
// lock 4.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509.h>

/* see morvane/x509.h */
X509_INFO* X509_INFO_new(void) {
  auto* ret = static_cast<X509_INFO*>(MORVANE_malloc(sizeof(X509_INFO)));
  if (ret == nullptr) {
    ASN1err(ASN1_F_X509_INFO_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof *ret);  // every pointer null, the cipher and IV too
  ret->references = 1;
  return ret;
}

/* see morvane/x509.h */
void X509_INFO_free(X509_INFO* x) {
  if (x == nullptr) return;
  if (CRYPTO_add(&x->references, -1, CRYPTO_LOCK_X509_INFO) > 0) return;
  X509_free(x->x509);
  X509_CRL_free(x->crl);
  X509_PKEY_free(x->x_pkey);
  MORVANE_free(x->enc_data);
  MORVANE_free(x);
}
