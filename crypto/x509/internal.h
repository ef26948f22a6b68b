// What one verification call has checked, shared with the code that runs
// several verifications as one call (PKCS7_verify over its signers).
#ifndef MORVANE_CRYPTO_X509_INTERNAL_H
#define MORVANE_CRYPTO_X509_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

namespace morvane::x509 {

// A key that checks signatures within one call: a copy decoded from the
// certificate's SubjectPublicKeyInfo (kept on its X509_PUBKEY across calls,
// by those octets), or from the encoding of the container X509_get_pubkey
// lends when that holds another key (changed in place), or from the
// certificate's own with the parameters of the key above lent to it when it
// has none of its own; and the SHA-256 digest of the SubjectPublicKeyInfo
// the copy was decoded from, parameters included.  A container the caller
// may change later is never what checks a signature.
struct SessionKey {
  X509* cert;               // whose key it is (a reference held)
  const SessionKey* above;  // the key whose parameters were lent, or null
  bool inherits;            // the key has no parameters of its own
  bool usable;              // false: the certificate has no key that encodes
  unsigned char digest[32];
  // The copy, or null until it is decoded from `der` at its first check
  // (Session::checking).
  unsigned char* der;
  int der_len;
  EVP_PKEY* pkey;
};

// The revocation lists of one issuer name, gathered and ranked once per
// call (x509_crl_choice.cc).
struct IssuerLists;
void issuer_lists_free(IssuerLists* lists);

// An open-addressed table of E, a power of two long and at most half full
// (MORVANE_malloc'd); E tells a free slot (empty()) and where its search
// starts (hash()).
template <class E>
class ProbedTable {
 public:
  ProbedTable() = default;
  ~ProbedTable() { MORVANE_free(slots_); }
  ProbedTable(const ProbedTable&) = delete;
  ProbedTable& operator=(const ProbedTable&) = delete;

  // The entry that `match` accepts among those whose search starts at h.
  template <class Match>
  const E* find(size_t h, Match match) const {
    if (n_ == 0) return nullptr;
    for (size_t i = h & (cap_ - 1);; i = (i + 1) & (cap_ - 1)) {
      if (slots_[i].empty()) return nullptr;
      if (match(slots_[i])) return &slots_[i];
    }
  }
  // false without memory (nothing queued here).
  bool insert(const E& e) {
    if (2 * (n_ + 1) > cap_) {
      const size_t cap = cap_ == 0 ? 64 : cap_ * 2;
      auto* grown = static_cast<E*>(MORVANE_malloc(cap * sizeof(E)));
      if (grown == nullptr) return false;
      for (size_t i = 0; i < cap; i++) grown[i] = E{};
      E* old = slots_;
      const size_t old_cap = cap_;
      slots_ = grown;
      cap_ = cap;
      n_ = 0;
      for (size_t i = 0; i < old_cap; i++)
        if (!old[i].empty()) place(old[i]);
      MORVANE_free(old);
    }
    place(e);
    return true;
  }
  template <class F>
  void each(F f) const {
    for (size_t i = 0; i < cap_; i++)
      if (!slots_[i].empty()) f(slots_[i]);
  }

 private:
  void place(const E& e) {
    size_t i = e.hash() & (cap_ - 1);
    while (!slots_[i].empty()) i = (i + 1) & (cap_ - 1);
    slots_[i] = e;
    n_++;
  }
  E* slots_ = nullptr;
  size_t n_ = 0;
  size_t cap_ = 0;
};

// The start of a search for a pair of addresses.
inline size_t address_hash(const void* a, const void* b = nullptr) {
  uint64_t h = reinterpret_cast<uintptr_t>(a) * 0x9E3779B97F4A7C15ull;
  h ^= reinterpret_cast<uintptr_t>(b) * 0xC2B2AE3D27D4EB4Full;
  return static_cast<size_t>(h ^ (h >> 29));
}

// What one call has checked: the keys it decoded and the signature verdicts
// it reached, so that a call checks each signature under each key at most
// once, and the lists it gathered.  One X509_verify_cert has its own; one
// PKCS7_verify shares one over all its signers' chains (ctx->session).
// Nothing in it outlives the call, so nothing a caller, another thread or a
// later change does to the objects can make it stale for another call.
// Not shared between threads.
class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // cert's key, its parameters lent from `above` when it has none (above
  // matters for such a key only); null without memory (queued).
  const SessionKey* key(X509* cert, const SessionKey* above);
  // The copy of a usable key that checks signatures, decoded when first
  // asked for; null when it does not decode (memory, queued).
  EVP_PKEY* checking(const SessionKey* key);

  // What this call found of obj's signature under key: 1 it verified, 0 it
  // did not, -1 not checked yet; *earlier (when given) tells whether it was
  // found in an earlier chain of the call and not yet met in this one.
  int recalled(const void* obj, const SessionKey* key, bool* earlier = nullptr) const;
  // Counts a verdict of an earlier chain as met in this one (after the
  // check it stands for was taken from this chain's bound).
  void claim(const void* obj, const SessionKey* key);
  // Starts another chain of the call (SessionScope): its own bound of
  // checks under keys nothing vouches for.
  void begin_chain() {
    chain_++;
    unvouched_left_ = kUnvouchedChecks;
    lists_unchecked_ = false;
  }
  // Notes a verdict, holding a reference to the object so that its address
  // names it for the rest of the call; without memory nothing is noted
  // ("malloc failure" queued).
  void note(X509* x, const SessionKey* key, bool verified);
  void note(X509_CRL* crl, const SessionKey* key, bool verified);

  // Takes one of the few signature checks a chain may make under keys that
  // no trusted key vouches for: false when they are spent.
  bool spend_unvouched() {
    if (unvouched_left_ == 0) return false;
    unvouched_left_--;
    return true;
  }

  // The lists gathered for an issuer name (x509_crl_choice.cc finds and
  // adds them); false (queued) without memory on add.
  IssuerLists* lists_at(int i) const { return lists_[i]; }
  int lists_count() const { return n_lists_; }
  bool add_lists(IssuerLists* lists);

  // Whether the last choice of a list stopped with lists left unchecked,
  // the checks under a key nothing vouches for spent.
  bool lists_unchecked() const { return lists_unchecked_; }
  void set_lists_unchecked(bool left) { lists_unchecked_ = left; }

  // The order of a caller's list of certificates by subject name that a
  // chain search made (x509_path.cc), kept for the call's other searches
  // over the same list: the one kept for sk as it stands (its address,
  // length and slots), or null.
  const int* list_order(const STACK* sk) const;
  // Keeps order (MORVANE_malloc'd, taken) for sk as it stands; false
  // (queued) without memory, order then freed.
  bool keep_list_order(const STACK* sk, int* order);

  // Checks under keys that nothing vouches for that one chain makes at most.
  static constexpr int kUnvouchedChecks = 8;

 private:
  struct Noted {
    const void* obj;  // null: a free slot
    const SessionKey* key;
    int verified;
    bool crl;           // obj is an X509_CRL, else an X509
    mutable int chain;  // the chain that last met it
    bool empty() const { return obj == nullptr; }
    size_t hash() const { return address_hash(obj, key); }
  };
  struct KeySlot {
    SessionKey* key;  // null: a free slot
    bool empty() const { return key == nullptr; }
    size_t hash() const { return address_hash(key->cert); }
  };

  ProbedTable<KeySlot> keys_;  // by certificate
  ProbedTable<Noted> noted_;
  struct ListOrder {
    const STACK* sk;
    int num;
    char** data;
    int* order;
  };

  IssuerLists** lists_ = nullptr;
  int n_lists_ = 0;
  int cap_lists_ = 0;
  ListOrder* orders_ = nullptr;
  int n_orders_ = 0;
  int cap_orders_ = 0;
  int chain_ = 0;
  int unvouched_left_ = kUnvouchedChecks;
  bool lists_unchecked_ = false;
};

// A new copy of the key of the chain's first certificate, decoded from its
// SubjectPublicKeyInfo, with the parameters of the first key above it that
// has them when it has none of its own (for a caller that checks a
// signature under the leaf of a chain it verified; the certificates are
// left as they were); null when the key does not decode or no key above
// has parameters (queued).
EVP_PKEY* chain_leaf_key(STACK* chain);

// Makes ctx's runs use s (ctx->session), until X509_STORE_CTX_init or
// another call: a caller that verifies several chains as one call shares
// one session over them, and frees it after the last.  The lists of
// certificates its runs take candidates from (untrusted, trusted stack)
// must not change while they share it: each is indexed once.
inline void session_share(X509_STORE_CTX* ctx, Session* s) {
  ctx->session = s;
}

}  // namespace morvane::x509

#endif  // MORVANE_CRYPTO_X509_INTERNAL_H
