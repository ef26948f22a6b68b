// The verifier's signature marks: a certificate or revocation list whose
// signature verified keeps the SHA-256 digest of the checking key's
// SubjectPublicKeyInfo, and a later check under that key reads the mark
// instead of verifying again; under any other key the signature is checked.
//
// Implementation notes: threads verifying one object at once meet on its
// mark, so it is read under a read lock and set under a write lock (lock 3
// for certificates, 6 for lists); the digest is written before `valid`, and
// both in one hold of the lock.  An object is marked only while its signed
// part is the one decoded (`enc.modified` clear): one built or changed here
// is encoded from its fields at each check, and those may change without
// notice.  A decode into an existing object clears its mark.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/sha.h>
#include <morvane/x509.h>

#include "internal/lock.h"
#include "x509_local.h"

namespace morvane::x509 {

namespace {

constexpr size_t kDigestLen = SHA256_DIGEST_LENGTH;

// The digest of the key as a SubjectPublicKeyInfo, parameters included
// (those a DSA key took from its issuer too); false when the key cannot be
// encoded, parameters missing included.
bool key_digest(EVP_PKEY* pkey, unsigned char* out) {
  if (pkey == nullptr || EVP_PKEY_missing_parameters(pkey)) return false;
  const QuietErrors quiet;
  unsigned char* der = nullptr;
  const int len = i2d_PUBKEY(pkey, &der);
  if (len <= 0 || der == nullptr) return false;
  SHA256(der, static_cast<size_t>(len), out);
  MORVANE_free(der);
  return true;
}

// The mark of an object with the fields `valid` and `valid_key`, under
// static lock `lock`.
template <class T>
bool marked(T* obj, const unsigned char* digest, int lock) {
  MORVANE_READ_LOCKED(lock);
  return obj->valid != 0 && memcmp(obj->valid_key, digest, kDigestLen) == 0;
}

template <class T>
void mark(T* obj, const unsigned char* digest, int lock) {
  MORVANE_WRITE_LOCKED(lock);
  memcpy(obj->valid_key, digest, kDigestLen);
  obj->valid = 1;
}

// The check of `verify`, spared when obj's mark names the key; a signature
// that verifies marks obj when `markable`.
template <class T>
int checked(T* obj, CheckingKey& key, bool markable, int lock, int (*verify)(T*, EVP_PKEY*)) {
  const unsigned char* digest = markable ? key.digest() : nullptr;
  if (digest != nullptr && marked(obj, digest, lock)) return 1;
  const int ret = verify(obj, key.pkey());
  if (ret > 0 && digest != nullptr) mark(obj, digest, lock);
  return ret;
}

}  // namespace

const unsigned char* CheckingKey::digest() {
  static_assert(sizeof(digest_) == kDigestLen);
  if (state_ == 0) state_ = key_digest(pkey_, digest_) ? 1 : -1;
  return state_ > 0 ? digest_ : nullptr;
}

int check_cert_signature(X509* x, CheckingKey& key) {
  const bool decoded = x->cert_info != nullptr && x->cert_info->enc.modified == 0;
  return checked(x, key, decoded, CRYPTO_LOCK_X509, X509_verify);
}

int check_crl_signature(X509_CRL* crl, CheckingKey& key) {
  const bool decoded = crl->crl != nullptr && crl->crl->enc.modified == 0;
  return checked(crl, key, decoded, CRYPTO_LOCK_X509_CRL, X509_CRL_verify);
}

}  // namespace morvane::x509
