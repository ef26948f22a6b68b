// Signature verdicts: a certificate's or revocation list's signature under
// a call's key (x509_session.cc), checked at most once per call, and a few
// verdicts kept on the object between calls, each named by the SHA-256
// digest of everything it was reached from.
//
// Implementation notes: the name of a verdict covers the signed part's
// octets as decoded (what X509_verify digests while `enc.modified` is
// clear), the signature algorithm's DER, the signature value and the
// digest of the checking key's SubjectPublicKeyInfo.  The signed part
// enters by its SHA-256 digest, made once and kept in its ASN1_ENCODING
// beside the octets (a decode that replaces or drops them clears it), so a
// name costs the same whatever the object's size.  A change to any of
// them, in place or not, names another verdict (a change to the signed
// part's fields marks it modified, and a modified one names none), so a
// kept one is never stale; an object whose signed part is encoded afresh
// at each check (one built or changed here) keeps none.  The slots are
// read under a read lock and written under a write lock (lock 3 for
// certificates, 6 for lists), never held across a check; when they are
// full the oldest goes, which costs a check, never a verdict.  A check
// that ran out of memory or met an unknown algorithm (registered later, it
// may verify) keeps nothing.

#include <string.h>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/sha.h>
#include <morvane/x509.h>

#include "internal/err_watch.h"
#include "internal/lock.h"
#include "x509_local.h"

// The verdicts an object keeps (the `kept_sigs` of X509 and X509_CRL).
struct x509_kept_sigs_st {
  static constexpr int kSlots = 8;
  int next;                     // the slot written next
  unsigned char state[kSlots];  // 0 empty, 1 verified, 2 failed
  unsigned char digest[kSlots][SHA256_DIGEST_LENGTH];
};

namespace morvane::x509 {

namespace {

using Kept = x509_kept_sigs_st;

// Where the two kinds of signed object keep what the verdicts read.
template <class T>
struct Signed;

template <>
struct Signed<X509> {
  static ASN1_ENCODING* enc(X509* x) {
    return x->cert_info != nullptr ? &x->cert_info->enc : nullptr;
  }
  static int verify(X509* x, EVP_PKEY* key) { return X509_verify(x, key); }
  static constexpr int kLock = CRYPTO_LOCK_X509;
};

template <>
struct Signed<X509_CRL> {
  static ASN1_ENCODING* enc(X509_CRL* crl) {
    return crl->crl != nullptr ? &crl->crl->enc : nullptr;
  }
  static int verify(X509_CRL* crl, EVP_PKEY* key) { return X509_CRL_verify(crl, key); }
  static constexpr int kLock = CRYPTO_LOCK_X509_CRL;
};

void digest_part(SHA256_CTX* c, const unsigned char* p, size_t len) {
  unsigned char n[8];
  for (int i = 0; i < 8; i++) n[i] = static_cast<unsigned char>(len >> (56 - 8 * i));
  SHA256_Update(c, n, sizeof n);
  SHA256_Update(c, p, len);
}

// The SHA-256 digest of the octets enc keeps, into out.  The first caller to
// finish one publishes it: claimed 0 -> 1 by a compare-and-swap, written,
// then released as 2, after which nothing writes it; a caller that finds it
// being written makes its own.
void signed_part_digest(ASN1_ENCODING* enc, unsigned char* out) {
  std::atomic_ref<int> state(enc->digested);
  if (state.load(std::memory_order_acquire) == 2) {
    memcpy(out, enc->digest, SHA256_DIGEST_LENGTH);
    return;
  }
  SHA256(enc->enc, static_cast<size_t>(enc->len), out);
  int unclaimed = 0;
  if (state.compare_exchange_strong(unclaimed, 1, std::memory_order_relaxed)) {
    memcpy(enc->digest, out, SHA256_DIGEST_LENGTH);
    state.store(2, std::memory_order_release);
  }
}

// The name of obj's verdict under key, into out: false when obj keeps no
// verdicts (its signed part is not the one decoded, or a part does not
// encode).
template <class T>
bool verdict_name(T* obj, const SessionKey* key, unsigned char* out) {
  ASN1_ENCODING* enc = Signed<T>::enc(obj);
  if (enc == nullptr || enc->enc == nullptr || enc->modified != 0 || enc->len < 0 ||
      obj->sig_alg == nullptr || obj->signature == nullptr)
    return false;
  Written alg;
  algorithm_der(obj->sig_alg, alg);
  if (alg.length() < 0)
    ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
  if (alg.length() <= 0) return false;
  unsigned char part[SHA256_DIGEST_LENGTH];
  signed_part_digest(enc, part);
  SHA256_CTX c;
  SHA256_Init(&c);
  digest_part(&c, part, sizeof part);
  digest_part(&c, alg.data(), static_cast<size_t>(alg.length()));
  const int sig_len = obj->signature->length > 0 ? obj->signature->length : 0;
  digest_part(&c, obj->signature->data, static_cast<size_t>(sig_len));
  digest_part(&c, key->digest, sizeof key->digest);
  SHA256_Final(out, &c);
  return true;
}

// The verdict obj keeps under that name: 1, 0, or -1 none.
template <class T>
int kept(T* obj, const unsigned char* name) {
  MORVANE_READ_LOCKED(Signed<T>::kLock);
  const Kept* k = obj->kept_sigs;
  if (k == nullptr) return -1;
  for (int i = 0; i < Kept::kSlots; i++)
    if (k->state[i] != 0 && memcmp(k->digest[i], name, SHA256_DIGEST_LENGTH) == 0)
      return k->state[i] == 1 ? 1 : 0;
  return -1;
}

// Keeps the verdict under its name; without memory nothing is kept (queued).
template <class T>
void keep(T* obj, const unsigned char* name, bool verified) {
  Kept* fresh = nullptr;
  if (std::atomic_ref<Kept*>(obj->kept_sigs).load(std::memory_order_acquire) == nullptr) {
    fresh = static_cast<Kept*>(MORVANE_malloc(sizeof(Kept)));
    if (fresh == nullptr) {
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                    __LINE__);
      return;
    }
    memset(fresh, 0, sizeof *fresh);
  }
  {
    MORVANE_WRITE_LOCKED(Signed<T>::kLock);
    Kept* k = obj->kept_sigs;
    if (k == nullptr) {
      k = fresh;
      fresh = nullptr;
      std::atomic_ref<Kept*>(obj->kept_sigs).store(k, std::memory_order_release);
    }
    if (k != nullptr) {
      const int at = k->next;
      k->next = (at + 1) % Kept::kSlots;
      memcpy(k->digest[at], name, SHA256_DIGEST_LENGTH);
      k->state[at] = verified ? 1 : 2;
    }
  }
  MORVANE_free(fresh);
}

template <class T>
int checked(Session& s, T* obj, const SessionKey* key, bool loud) {
  if (key == nullptr || !key->usable) return -1;
  int ret = s.recalled(obj, key);
  // A failure is checked again when its reasons are wanted on the queue.
  if (ret > 0 || (ret == 0 && !loud)) return ret;
  unsigned char name[SHA256_DIGEST_LENGTH];
  const bool named = ret < 0 && verdict_name(obj, key, name);
  if (named) ret = kept(obj, name);
  if (ret < 0 || (ret == 0 && loud)) {
    const morvane::internal::MallocFailureWatch watch;
    EVP_PKEY* pkey = s.checking(key);
    if (pkey == nullptr) return -1;
    ret = Signed<T>::verify(obj, pkey);
    if (ret < 0 || watch.seen()) return ret;
    if (named) keep(obj, name, ret > 0);
  }
  s.note(obj, key, ret > 0);
  // `valid` is set for callers that read it; it spares no check.
  if (ret > 0) std::atomic_ref<int>(obj->valid).store(1, std::memory_order_relaxed);
  return ret;
}

}  // namespace

int check_cert_signature(Session& s, X509* x, const SessionKey* key, bool loud) {
  return checked(s, x, key, loud);
}

int check_crl_signature(Session& s, X509_CRL* crl, const SessionKey* key, bool loud) {
  return checked(s, crl, key, loud);
}

}  // namespace morvane::x509
