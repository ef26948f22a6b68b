// The purpose check of a certificate and the facts it caches.
//
// Implementation notes: of the cached facts only the certificate's SHA-1
// digest is filled so far, on every call (the "computed" mark stays clear,
// so the complete pass will still run once it exists), under lock 3 like
// every write of the cache.  No purpose records exist yet, so every id but
// -1 is unknown.

#include <limits.h>

#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace {

// The SHA-1 digest of the certificate's DER into sha1_hash; all zero when
// the certificate cannot be encoded.
void fill_sha1(X509* x) {
  unsigned char md[EVP_MAX_MD_SIZE] = {};
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  if (len <= 0 || !EVP_Digest(der, static_cast<size_t>(len), md, nullptr, EVP_sha1(), nullptr))
    for (unsigned char& c : md) c = 0;
  MORVANE_free(der);
  CRYPTO_w_lock(CRYPTO_LOCK_X509);
  for (size_t i = 0; i < sizeof x->sha1_hash; i++) x->sha1_hash[i] = md[i];
  CRYPTO_w_unlock(CRYPTO_LOCK_X509);
}

}  // namespace

/* see morvane/x509v3.h */
int X509_check_purpose(X509* x, int id, int ca) {
  (void)ca;
  fill_sha1(x);
  return id == -1 ? 1 : -1;
}
