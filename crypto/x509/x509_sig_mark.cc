// Signature verdicts: a certificate's or revocation list's signature under
// a call's key (x509_session.cc), checked at most once per call, and a few
// verdicts kept on the object between calls, each kept with everything it
// was reached from.
//
// Implementation notes: a kept verdict holds the SHA-256 digest of the
// signed part's octets as decoded (what X509_verify digests while
// `enc.modified` is clear), a copy of the signature algorithm's DER and of
// the signature value, and the digest of the checking key's
// SubjectPublicKeyInfo; a lookup compares them with the object's and the
// key's as they read now, so it hashes nothing but a signed part never
// digested before.  That digest is made once and kept in its ASN1_ENCODING
// beside the octets (a decode that replaces or drops them clears it), and
// the key's is kept with the key's copy (x_pubkey.cc), so a lookup costs
// the same whatever the object's size.  A change to any of them, in place
// or not, matches no kept verdict (a change to the signed part's fields
// marks it modified, and a modified one keeps none), so a kept one is never
// stale; an object whose signed part is encoded afresh at each check (one
// built or changed here) keeps none.  The slots are read under a read lock
// and written under a write lock (lock 3 for certificates, 6 for lists),
// never held across a check; when they are full the oldest goes, which
// costs a check, never a verdict.  A check that ran out of memory or met
// an unknown algorithm (registered later, it may verify) keeps nothing.
// The digest a check uses is the one registered under the signature
// algorithm's name when it runs, so a verdict also names that digest
// method, looked up as the check looks it up, and the registry's
// generation then: while the registry is unchanged the method is too; once
// it changed, the method is looked up again, and when the name is no
// longer registered (EVP_cleanup) or names another method, a kept verdict
// answers nothing and the check runs again, as on a fresh copy.

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <utility>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/sha.h>
#include <morvane/x509.h>

#include "internal/err_watch.h"
#include "internal/lock.h"
#include "objects/internal.h"
#include "x509_local.h"

// The verdicts an object keeps (the `kept_sigs` of X509 and X509_CRL): each
// with what it was reached from, the signature algorithm's DER and the
// signature value in a block of their own (`bytes`, alg_len then sig_len
// octets).
struct x509_kept_sigs_st {
  static constexpr int kSlots = 8;
  struct Slot {
    unsigned char state;  // 0 empty, 1 verified, 2 failed
    const EVP_MD* md;     // the digest method the check used
    uint64_t generation;  // the name registry's when md was looked up
    unsigned char part[SHA256_DIGEST_LENGTH];
    unsigned char key[SHA256_DIGEST_LENGTH];
    int alg_len;
    int sig_len;
    unsigned char* bytes;
  };
  int next;  // the slot written next
  Slot slot[kSlots];
};

namespace morvane::x509 {

// The first caller to finish a signed part's digest publishes it: claimed
// 0 -> 1 by a compare-and-swap, written, then released as 2, after which
// nothing writes it; a caller that finds it being written makes its own.
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

// What a verdict of obj under key is reached from: the signed part's
// digest, the signature algorithm's DER and the digest method registered
// under its name (looked up when needed, with the registry's generation
// read before), the signature value and the key's digest (the signature's
// octets are obj's own, read under the caller's eyes).
struct Name {
  uint64_t generation;
  const EVP_MD* md;
  unsigned char part[SHA256_DIGEST_LENGTH];
  const unsigned char* key;
  Written alg;
  const unsigned char* sig;
  int sig_len;
};

// The digest method a check of obj finds now, as ASN1_item_verify finds
// it; null when none is registered (the check fails).
template <class T>
const EVP_MD* digest_now(T* obj) {
  return EVP_get_digestbyname(OBJ_nid2sn(OBJ_obj2nid(obj->sig_alg->algorithm)));
}

// Fills in obj's name under key, all but its digest method: false when obj
// keeps no verdicts (its signed part is not the one decoded, or a part does
// not encode).
template <class T>
bool verdict_name(T* obj, const SessionKey* key, Name& out) {
  ASN1_ENCODING* enc = Signed<T>::enc(obj);
  if (enc == nullptr || enc->enc == nullptr || enc->modified != 0 || enc->len < 0 ||
      obj->sig_alg == nullptr || obj->signature == nullptr)
    return false;
  out.generation = morvane::objects::names_generation();
  out.md = nullptr;
  algorithm_der(obj->sig_alg, out.alg);
  if (out.alg.length() < 0)
    ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
  if (out.alg.length() <= 0) return false;
  signed_part_digest(enc, out.part);
  out.key = key->digest;
  out.sig = obj->signature->data;
  out.sig_len = obj->signature->length > 0 && out.sig != nullptr ? obj->signature->length : 0;
  return true;
}

bool names(const Kept::Slot& k, Name& n) {
  return k.state != 0 && k.alg_len == n.alg.length() && k.sig_len == n.sig_len &&
         memcmp(k.key, n.key, SHA256_DIGEST_LENGTH) == 0 &&
         memcmp(k.part, n.part, SHA256_DIGEST_LENGTH) == 0 &&
         memcmp(k.bytes, n.alg.data(), static_cast<size_t>(k.alg_len)) == 0 &&
         (k.sig_len == 0 ||
          memcmp(k.bytes + k.alg_len, n.sig, static_cast<size_t>(k.sig_len)) == 0);
}

// The verdict obj keeps under that name, but for its digest method: 1, 0,
// or -1 none; the method and generation it was kept with in *md and *gen.
template <class T>
int kept(T* obj, Name& name, const EVP_MD** md, uint64_t* gen) {
  MORVANE_READ_LOCKED(Signed<T>::kLock);
  const Kept* k = obj->kept_sigs;
  if (k == nullptr) return -1;
  for (const Kept::Slot& slot : k->slot) {
    if (!names(slot, name)) continue;
    *md = slot.md;
    *gen = slot.generation;
    return slot.state == 1 ? 1 : 0;
  }
  return -1;
}

// The verdict obj keeps under that name, its digest method included: one
// kept while the registry read as now, or under the method found now.
template <class T>
int kept_verdict(T* obj, Name& name) {
  const EVP_MD* md = nullptr;
  uint64_t gen = 0;
  const int ret = kept(obj, name, &md, &gen);
  if (ret < 0 || gen == name.generation) return ret;
  return md == digest_now(obj) ? ret : -1;
}

// Keeps the verdict under its name; without memory nothing is kept (queued).
template <class T>
void keep(T* obj, Name& name, bool verified) {
  const int alg_len = name.alg.length();
  const size_t n = static_cast<size_t>(alg_len) + static_cast<size_t>(name.sig_len);
  auto* bytes = static_cast<unsigned char*>(MORVANE_malloc(n));
  const Kept* present = std::atomic_ref<Kept*>(obj->kept_sigs).load(std::memory_order_acquire);
  Kept* fresh = nullptr;
  if (bytes != nullptr && present == nullptr) {
    fresh = static_cast<Kept*>(MORVANE_malloc(sizeof(Kept)));
    if (fresh != nullptr) memset(fresh, 0, sizeof *fresh);
  }
  if (bytes == nullptr || (present == nullptr && fresh == nullptr)) {
    MORVANE_free(bytes);
    ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return;
  }
  memcpy(bytes, name.alg.data(), static_cast<size_t>(alg_len));
  if (name.sig_len > 0) memcpy(bytes + alg_len, name.sig, static_cast<size_t>(name.sig_len));
  {
    MORVANE_WRITE_LOCKED(Signed<T>::kLock);
    Kept* k = obj->kept_sigs;
    if (k == nullptr) {
      k = fresh;
      fresh = nullptr;
      std::atomic_ref<Kept*>(obj->kept_sigs).store(k, std::memory_order_release);
    }
    if (k != nullptr) {  // always: a table once set stays
      Kept::Slot& at = k->slot[k->next];
      k->next = (k->next + 1) % Kept::kSlots;
      std::swap(at.bytes, bytes);  // the old block goes after the lock
      memcpy(at.part, name.part, sizeof at.part);
      memcpy(at.key, name.key, sizeof at.key);
      at.md = name.md;
      at.generation = name.generation;
      at.alg_len = alg_len;
      at.sig_len = name.sig_len;
      at.state = verified ? 1 : 2;
    }
  }
  MORVANE_free(bytes);
  MORVANE_free(fresh);
}

template <class T>
int checked(Session& s, T* obj, const SessionKey* key, bool loud) {
  if (key == nullptr || !key->usable) return -1;
  int ret = s.recalled(obj, key);
  // A failure is checked again when its reasons are wanted on the queue.
  if (ret > 0 || (ret == 0 && !loud)) return ret;
  Name name;
  const bool named = ret < 0 && verdict_name(obj, key, name);
  if (named) ret = kept_verdict(obj, name);
  if (ret < 0 || (ret == 0 && loud)) {
    const morvane::internal::MallocFailureWatch watch;
    EVP_PKEY* pkey = s.checking(key);
    if (pkey == nullptr) return -1;
    if (named) name.md = digest_now(obj);  // the method the check finds
    ret = Signed<T>::verify(obj, pkey);
    if (ret < 0 || watch.seen()) return ret;
    if (named && name.md != nullptr) keep(obj, name, ret > 0);
  }
  s.note(obj, key, ret > 0);
  // `valid` is set for callers that read it; it spares no check.
  if (ret > 0) std::atomic_ref<int>(obj->valid).store(1, std::memory_order_relaxed);
  return ret;
}

}  // namespace

void kept_sigs_free(x509_kept_sigs_st* k) {
  if (k == nullptr) return;
  for (Kept::Slot& slot : k->slot) MORVANE_free(slot.bytes);
  MORVANE_free(k);
}

int check_cert_signature(Session& s, X509* x, const SessionKey* key, bool loud) {
  return checked(s, x, key, loud);
}

int check_crl_signature(Session& s, X509_CRL* crl, const SessionKey* key, bool loud) {
  return checked(s, crl, key, loud);
}

}  // namespace morvane::x509
