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
// notice.  A decode into an existing object clears its mark.  A list whose
// signature failed under a key, where none verified it, may remember that
// key's failure too (the same digest, with kCrlSignatureFailed in its
// `flags`), so that a forged list in many choices costs one check per key;
// a check that ran out of memory is never remembered as a failure.

#include <string.h>

#include <atomic>
#include <type_traits>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/sha.h>
#include <morvane/x509.h>

#include "internal/err_watch.h"
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

// Revocation lists also remember a failure (kCrlSignatureFailed in their
// `flags`); certificates do not.
template <class T>
constexpr bool kRecallsFailure = std::is_same_v<T, X509_CRL>;

// What obj's marks say of the key whose digest is `digest`, under static
// lock `lock`: 1 its signature verified under it, 0 (with `recall_failure`)
// it failed under it, -1 nothing.
template <class T>
int marked(T* obj, const unsigned char* digest, int lock, bool recall_failure) {
  MORVANE_READ_LOCKED(lock);
  if (memcmp(obj->valid_key, digest, kDigestLen) != 0) return -1;
  if (obj->valid != 0) return 1;
  if constexpr (kRecallsFailure<T>) {
    if (recall_failure && (obj->flags & kCrlSignatureFailed)) return 0;
  }
  return -1;
}

// Marks obj as verified under the key (ok), or as failed under it where no
// key verified it.
template <class T>
void mark(T* obj, const unsigned char* digest, int lock, bool ok) {
  MORVANE_WRITE_LOCKED(lock);
  if (ok) {
    memcpy(obj->valid_key, digest, kDigestLen);
    obj->valid = 1;
    if constexpr (kRecallsFailure<T>) obj->flags &= ~kCrlSignatureFailed;
  } else if constexpr (kRecallsFailure<T>) {
    if (obj->valid == 0) {
      memcpy(obj->valid_key, digest, kDigestLen);
      obj->flags |= kCrlSignatureFailed;
    }
  }
}

// The check of `verify`, spared when obj's mark names the key; a signature
// that verifies marks obj when `markable`, and with `recall_failure` one
// that fails (not for want of memory) is remembered as well.
template <class T>
int checked(T* obj, CheckingKey& key, bool markable, int lock, int (*verify)(T*, EVP_PKEY*),
            bool recall_failure = false) {
  const unsigned char* digest = markable ? key.digest() : nullptr;
  if (digest != nullptr) {
    const int known = marked(obj, digest, lock, recall_failure);
    if (known >= 0) return known;
  }
  const morvane::internal::MallocFailureWatch watch;
  const int ret = verify(obj, key.pkey());
  if (digest != nullptr && (ret > 0 || (recall_failure && ret == 0 && !watch.seen())))
    mark(obj, digest, lock, ret > 0);
  return ret;
}

}  // namespace

const unsigned char* CheckingKey::digest() {
  static_assert(sizeof(digest_) == kDigestLen && sizeof(X509_PUBKEY::key_digest) == kDigestLen);
  if (state_ != 0) return state_ > 0 ? digest_ : nullptr;
  state_ = -1;
  if (holder_ == nullptr) {
    if (key_digest(pkey_, digest_)) state_ = 1;
    return state_ > 0 ? digest_ : nullptr;
  }
  // The holder's digest, published once: written under lock 10 before its
  // flag, read after an acquire load of the flag.  Only the holder's own
  // cached key is digested there; parameters lent to it later (a DSA key
  // without its own) make no digest until they are there.
  std::atomic_ref<int> digested(holder_->digested);
  if (digested.load(std::memory_order_acquire) == 0) {
    if (pkey_ != holder_->pkey || !key_digest(pkey_, digest_)) return nullptr;
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_EVP_PKEY);
    if (digested.load(std::memory_order_relaxed) == 0) {
      memcpy(holder_->key_digest, digest_, kDigestLen);
      digested.store(1, std::memory_order_release);
    }
  }
  memcpy(digest_, holder_->key_digest, kDigestLen);
  state_ = 1;
  return digest_;
}

int check_cert_signature(X509* x, CheckingKey& key) {
  const bool decoded = x->cert_info != nullptr && x->cert_info->enc.modified == 0;
  return checked(x, key, decoded, CRYPTO_LOCK_X509, X509_verify);
}

bool vouched_by(X509* x, X509* issuer) {
  if (x->cert_info == nullptr || x->cert_info->enc.modified != 0) return true;
  EVP_PKEY* pkey = X509_get_pubkey(issuer);
  if (pkey == nullptr) return false;
  CheckingKey key(pkey, issuer);
  const unsigned char* digest = key.digest();
  const bool ok = digest == nullptr || marked(x, digest, CRYPTO_LOCK_X509, false) == 1;
  EVP_PKEY_free(pkey);
  return ok;
}

int check_crl_signature(X509_CRL* crl, CheckingKey& key, bool recall_failure) {
  const bool decoded = crl->crl != nullptr && crl->crl->enc.modified == 0;
  return checked(crl, key, decoded, CRYPTO_LOCK_X509_CRL, X509_CRL_verify, recall_failure);
}

}  // namespace morvane::x509
