// Which revocation list decides for a certificate: of every list of its
// issuer the verifier can see (the context's list, and the store's objects
// of that name once its lookups have loaded what they have now), those the
// issuer's own key signed, and of them the newest in time.  An issuer
// publishes a new list each period, and a CA that re-keys under one name
// keeps a list for each key; taking the first one found would let the order
// in which lists were added decide, and a list by another key (or a forged
// one) would hide the issuer's.
//
// Implementation notes: the lists are ranked before any signature is read, by
// what costs little (in time first, then the one issued last; lists issued at
// one moment by cRLNumber, then one that revokes the certificate first), and
// the signatures are checked from the best down: the first that verifies under
// the issuer's key decides, as the best of the verified ones would.  Every
// candidate is checked until one verifies: no bound may leave the genuine list
// unchecked behind lists an attacker packs under the issuer's name (a signed
// message carries its own), so each list costs its one signature check, linear
// in what was sent.  A list verified is marked (x509_sig_mark.cc), and one that
// failed remembers the key it failed under, so that each list is checked once
// per key however many choices meet it.  A list whose authorityKeyIdentifier
// names another key than the issuer's subjectKeyIdentifier is passed over
// unread.  Delta lists (RFC 5280, 5.2.4) carry only the changes since a
// complete list and are never taken as one, nor merged into it: the complete
// list decides (get_crl ranks complete lists only), and a newer delta list can
// only add a revocation (check_delta ranks delta lists only).

#include <algorithm>
#include <functional>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/asn1_time.h"
#include "internal/lock.h"
#include "x509_local.h"

namespace morvane::x509 {

namespace {

using morvane::internal::compare_moments;
using morvane::internal::time_moment;
using morvane::internal::TimeMoment;

constexpr int kNidCrlNumber = 88;           // 2.5.29.20
constexpr int kNidAuthorityKeyId = 90;      // 2.5.29.35
constexpr int kNidDeltaCrlIndicator = 140;  // 2.5.29.27
constexpr int kNidReasonCode = 141;         // 2.5.29.21
constexpr int kNidInvalidityDate = 142;     // 2.5.29.24
constexpr int kNidHoldInstruction = 430;    // 2.5.29.23
constexpr long kRemoveFromCrl = 8;          // RFC 5280, 5.3.1

bool is_delta(X509_CRL* crl) {
  return X509_CRL_get_ext_by_NID(crl, kNidDeltaCrlIndicator, -1) >= 0;
}

// Whether the list is in time at the verification moment; nothing is
// reported (the chosen list's times are checked again, loudly).
bool in_time(X509_STORE_CTX* ctx, X509_CRL* crl) {
  time_t* moment = check_moment(ctx);
  if (X509_cmp_time(crl->crl->lastUpdate, moment) >= 0) return false;  // 0: malformed
  return crl->crl->nextUpdate == nullptr || X509_cmp_time(crl->crl->nextUpdate, moment) > 0;
}

// Whether a was issued after b (by lastUpdate); a malformed time is the
// earliest.
bool issued_after(X509_CRL* a, X509_CRL* b) {
  TimeMoment ta;
  TimeMoment tb;
  if (!time_moment(a->crl->lastUpdate, &ta)) return false;
  if (!time_moment(b->crl->lastUpdate, &tb)) return true;
  return compare_moments(ta, tb) > 0;
}

// The list's cRLNumber (RFC 5280, 5.2.3), new; null when absent or
// unreadable.
ASN1_INTEGER* crl_number(X509_CRL* crl) {
  const QuietErrors quiet;
  return static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, kNidCrlNumber, nullptr, nullptr));
}

// Whether crl revokes x: it has an entry for x's serial number, in a delta
// list one of another reason than removeFromCRL, which takes x off the
// list (a reason that cannot be read counts as a revocation).
bool revokes(X509_CRL* crl, X509* x, bool delta) {
  X509_REVOKED* entry = crl_entry(crl, x);
  if (entry == nullptr) return false;
  if (!delta) return true;
  const QuietErrors quiet;
  auto* reason = static_cast<ASN1_ENUMERATED*>(
      X509_REVOKED_get_ext_d2i(entry, kNidReasonCode, nullptr, nullptr));
  const bool removed = reason != nullptr && ASN1_ENUMERATED_get(reason) == kRemoveFromCrl;
  ASN1_ENUMERATED_free(reason);
  return !removed;
}

// Whether the key of the chain's certificate at `at` is one a trusted key
// vouches for: a certificate of the store, or one whose signature, and
// each above it up to the store's, verified under the key above it when
// the chain was built (its mark says so).  A chain kept with a broken link
// (a look-alike issuer) has keys that nothing vouches for.
bool vouched(X509_STORE_CTX* ctx, int at) {
  const int top = sk_num(ctx->chain) - 1;
  for (int i = at; i < ctx->last_untrusted; i++) {
    if (i >= top) return false;
    if (!vouched_by(reinterpret_cast<X509*>(sk_value(ctx->chain, i)),
                    reinterpret_cast<X509*>(sk_value(ctx->chain, i + 1))))
      return false;
  }
  return true;
}

// What the lists of x are judged by: the certificate whose key signs them
// (crl_issuer), its key and its subjectKeyIdentifier.  Without a key (one
// that cannot be decoded, check_crl then reporting it, or one that no
// trusted key vouches for) the lists are not judged by their signatures:
// the best one is taken and check_crl checks it, so that a key a sender
// chose checks one list, not every list the sender packed.
class Judge {
 public:
  Judge(X509_STORE_CTX* ctx, X509* x)
      : ctx_(ctx),
        x_(x),
        issuer_(crl_issuer(ctx)),
        key_(key_of(ctx, issuer_)),
        checking_(key_, issuer_) {
    if (issuer_ != nullptr) skid_ = issuer_->skid;
  }
  ~Judge() { EVP_PKEY_free(key_); }
  Judge(const Judge&) = delete;
  Judge& operator=(const Judge&) = delete;

  X509_STORE_CTX* ctx() const { return ctx_; }
  X509* x() const { return x_; }

  // Whether the list's authorityKeyIdentifier names another key than the
  // issuer's subjectKeyIdentifier (a test that reads no signature).
  bool other_key(X509_CRL* crl) const { return key_named(crl) < 0; }

  // Whether it names the issuer's key.
  bool own_key(X509_CRL* crl) const { return key_named(crl) > 0; }

  // Whether the issuer's key verifies the list's signature (a verified one
  // is marked for that key, a failed one remembers it); true without a key.
  bool verifies(X509_CRL* crl) {
    if (key_ == nullptr) return true;
    const QuietErrors quiet;  // a list passed over leaves nothing queued
    return check_crl_signature(crl, checking_, true) > 0;
  }

 private:
  // 1 when the list's authorityKeyIdentifier names the issuer's
  // subjectKeyIdentifier, -1 when it names another key, 0 when either is
  // missing.
  int key_named(X509_CRL* crl) const {
    if (skid_ == nullptr) return 0;
    const QuietErrors quiet;
    auto* akid = static_cast<AUTHORITY_KEYID*>(
        X509_CRL_get_ext_d2i(crl, kNidAuthorityKeyId, nullptr, nullptr));
    int named = 0;
    if (akid != nullptr && akid->keyid != nullptr)
      named = ASN1_OCTET_STRING_cmp(akid->keyid, skid_) == 0 ? 1 : -1;
    AUTHORITY_KEYID_free(akid);
    return named;
  }

  // The issuer's key, its cached facts computed first (so that its skid
  // is read); null without issuer or key, or for a key nothing vouches for.
  static EVP_PKEY* key_of(X509_STORE_CTX* ctx, X509* issuer) {
    if (issuer == nullptr) return nullptr;
    const QuietErrors quiet;  // check_crl reports a key it cannot decode
    X509_check_purpose(issuer, -1, 0);
    const int top = sk_num(ctx->chain) - 1;
    if (!vouched(ctx, ctx->error_depth < top ? ctx->error_depth + 1 : top)) return nullptr;
    return X509_get_pubkey(issuer);
  }

  X509_STORE_CTX* ctx_;
  X509* x_;
  X509* issuer_;
  EVP_PKEY* key_;
  CheckingKey checking_;  // key_, its digest made once for every list
  ASN1_OCTET_STRING* skid_ = nullptr;
};

// The lists met by a search, each with a reference, as often as met (the
// repeats go when they are ranked); a list that could not be kept for lack
// of memory is missing ("malloc failure").  Adding is all a search does
// while it holds the store's lock.
class Met {
 public:
  Met() = default;
  ~Met() {
    sk_pop_free(lists_, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  }
  Met(const Met&) = delete;
  Met& operator=(const Met&) = delete;

  void add(X509_CRL* crl) {
    if (lists_ == nullptr) lists_ = sk_new_null();
    if (lists_ == nullptr || !sk_push(lists_, reinterpret_cast<char*>(crl))) {
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                    __LINE__);
      return;
    }
    CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
  }
  int count() const { return lists_ != nullptr ? sk_num(lists_) : 0; }
  X509_CRL* at(int i) const { return reinterpret_cast<X509_CRL*>(sk_value(lists_, i)); }

 private:
  STACK* lists_ = nullptr;
};

// One list that may decide, with what it is ranked by.
struct Candidate {
  X509_CRL* crl;
  int met;               // its place in the order met
  bool in_time;          // at the verification moment
  bool dated;            // its lastUpdate reads
  TimeMoment issued;     // lastUpdate
  ASN1_INTEGER* number;  // cRLNumber, new; null when absent or unreadable
  mutable int revoking;  // whether it revokes the certificate; -1 not read yet
};

// The candidates of one kind (complete or delta lists) among the lists
// met, each once, best first: in time before out of time, then the one
// issued last (by lastUpdate, a malformed one the earliest, then by
// cRLNumber, an absent one the lowest), then one that revokes x, then by a
// fixed order of their signatures, then the first met; so that the order
// in which lists were met never decides.  Ranking reads no signature: it
// costs O(n log n) comparisons of values read once per list, however many
// lists an attacker packs under the issuer's name.
class Ranking {
 public:
  Ranking(const Judge& judge, bool delta) : ctx_(judge.ctx()), x_(judge.x()), delta_(delta) {}
  ~Ranking() {
    for (int i = 0; i < n_; i++) ASN1_INTEGER_free(c_[i].number);
    MORVANE_free(c_);
  }
  Ranking(const Ranking&) = delete;
  Ranking& operator=(const Ranking&) = delete;

  // Takes the lists of met that `wanted` accepts; false (queued) without
  // memory.
  template <class Wanted>
  bool rank(const Met& met, Wanted wanted) {
    const int n = met.count();
    if (n == 0) return true;
    c_ = static_cast<Candidate*>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(Candidate)));
    if (c_ == nullptr) {
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                    __LINE__);
      return false;
    }
    for (int i = 0; i < n; i++) c_[i].crl = met.at(i), c_[i].met = i;
    // Repeats first: each list once, where it was first met.
    std::sort(c_, c_ + n, [](const Candidate& a, const Candidate& b) {
      return a.crl != b.crl ? std::less<X509_CRL*>()(a.crl, b.crl) : a.met < b.met;
    });
    // The candidates taken go to the front, over slots already read (a
    // slot keeps its list when it is written over).
    for (int i = 0; i < n; i++) {
      if (i > 0 && c_[i].crl == c_[i - 1].crl) continue;
      X509_CRL* crl = c_[i].crl;
      if (!wanted(crl)) continue;
      Candidate& k = c_[n_++];
      k = {crl, c_[i].met, in_time(ctx_, crl), false, {0, nullptr, 0}, nullptr, -1};
      k.dated = time_moment(crl->crl->lastUpdate, &k.issued);
      k.number = crl_number(crl);
    }
    std::sort(c_, c_ + n_, [this](const Candidate& a, const Candidate& b) {
      if (a.in_time != b.in_time) return a.in_time;
      return before(a, b);
    });
    return true;
  }

  int size() const { return n_; }
  const Candidate& operator[](int i) const { return c_[i]; }

  // Whether a is to be taken rather than b when both are in time or both
  // are not.
  bool before(const Candidate& a, const Candidate& b) const {
    const int c = compare_issue(a, b);
    if (c != 0) return c > 0;
    const bool ra = revoking(a);
    if (ra != revoking(b)) return ra;
    const int s = ASN1_STRING_cmp(a.crl->signature, b.crl->signature);
    if (s != 0) return s > 0;
    return a.met < b.met;
  }

 private:
  // Negative, 0 or positive as a was issued before b, at the same point or
  // after it.
  static int compare_issue(const Candidate& a, const Candidate& b) {
    if (a.dated != b.dated) return a.dated ? 1 : -1;
    if (a.dated) {
      const int t = compare_moments(a.issued, b.issued);
      if (t != 0) return t;
    }
    const int c = (a.number != nullptr) - (b.number != nullptr);
    if (c != 0 || a.number == nullptr) return c;
    return ASN1_INTEGER_cmp(a.number, b.number);
  }

  bool revoking(const Candidate& k) const {
    if (k.revoking < 0) k.revoking = revokes(k.crl, x_, delta_) ? 1 : 0;
    return k.revoking != 0;
  }

  X509_STORE_CTX* ctx_;
  X509* x_;
  bool delta_;
  Candidate* c_ = nullptr;
  int n_ = 0;
};

// The best candidate whose signature the issuer's key verifies, checked
// from the best down, every one until one verifies.  Null for none;
// *forged then the best of those that failed (by issue, whatever their
// time), or null.
X509_CRL* first_verified(Judge& judge, const Ranking& ranked, X509_CRL** forged) {
  const Candidate* best_forged = nullptr;
  *forged = nullptr;
  for (int i = 0; i < ranked.size(); i++) {
    const Candidate& k = ranked[i];
    if (judge.verifies(k.crl)) return k.crl;
    if (best_forged == nullptr || ranked.before(k, *best_forged)) best_forged = &k;
  }
  if (best_forged != nullptr) *forged = best_forged->crl;
  return nullptr;
}

// Keeps a list of the store: one of its cache, or one a lookup method
// returned (it may keep it out of the cache).
int keep_held(void* arg, X509_OBJECT* obj) {
  static_cast<Met*>(arg)->add(obj->data.crl);
  return 1;
}

// Meets every list of the issuer name nm: the context's lists, then, with
// `load`, what the store's lookup methods return, then the store's cache.
// The methods have loaded what they have now before the cache is read, so
// the choice never rests on a load half done, whatever the cache held
// before and whatever other threads load meanwhile.  The lists are judged
// afterwards, outside the store's lock.  1, or a method's negative answer.
int gather(X509_STORE_CTX* ctx, X509_NAME* nm, bool load, Met* met) {
  for (int i = 0; i < sk_num(ctx->crls); i++) {
    auto* crl = reinterpret_cast<X509_CRL*>(sk_value(ctx->crls, i));
    if (X509_NAME_cmp(nm, crl->crl->issuer) == 0) met->add(crl);
  }
  if (ctx->ctx == nullptr) return 1;
  if (load) {
    const int r = load_subject(ctx, X509_LU_CRL, nm, keep_held, met);
    if (r < 0) return r;
  }
  return scan_subject(ctx->ctx, X509_LU_CRL, nm, keep_held, met);
}

}  // namespace

X509* crl_issuer(X509_STORE_CTX* ctx) {
  const int top = sk_num(ctx->chain) - 1;
  if (top < 0) return nullptr;
  const int at = ctx->error_depth < top ? ctx->error_depth + 1 : top;
  return reinterpret_cast<X509*>(sk_value(ctx->chain, at));
}

int get_crl(X509_STORE_CTX* ctx, X509_CRL** pcrl, X509* x) {
  Met met;
  if (gather(ctx, X509_get_issuer_name(x), true, &met) < 0) {
    // A method that has not answered may hold a newer list.
    ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, X509_R_SHOULD_RETRY, __FILE__, __LINE__);
    return 0;
  }
  Judge judge(ctx, x);
  Ranking ranked(judge, false);
  bool other_key = false;
  const bool ok = ranked.rank(met, [&](X509_CRL* crl) {
    if (is_delta(crl)) return false;
    if (judge.other_key(crl)) {
      other_key = true;
      return false;
    }
    return true;
  });
  if (!ok) return 0;
  X509_CRL* forged = nullptr;
  X509_CRL* crl = first_verified(judge, ranked, &forged);
  // With no list of the issuer's key, one whose signature fails is taken
  // (check_crl reports it) unless another key's list was seen and the
  // failed one does not name the issuer's key: a list that claims the key
  // and fails is a forgery to report, never "no list".
  if (crl == nullptr && forged != nullptr && (!other_key || judge.own_key(forged))) crl = forged;
  if (crl == nullptr) return 0;
  CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
  *pcrl = crl;
  return 1;
}

X509_REVOKED* crl_entry(X509_CRL* crl, X509* x) {
  STACK* revoked = crl->crl->revoked;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_CRL);
    if (!sk_is_sorted(revoked)) sk_sort(revoked);
  }
  X509_REVOKED key{};
  key.serialNumber = X509_get_serialNumber(x);
  const int i = sk_find(revoked, reinterpret_cast<char*>(&key));
  return i >= 0 ? reinterpret_cast<X509_REVOKED*>(sk_value(revoked, i)) : nullptr;
}

int check_delta(X509_STORE_CTX* ctx, X509_CRL* crl, X509* x) {
  Met met;
  gather(ctx, X509_get_issuer_name(x), false, &met);
  Judge judge(ctx, x);
  Ranking ranked(judge, true);
  // Only delta lists in time and not older than crl can say more than it.
  if (!ranked.rank(met, [&](X509_CRL* d) {
        return is_delta(d) && in_time(ctx, d) && !issued_after(crl, d) && !judge.other_key(d);
      }))
    return 1;
  X509_CRL* forged = nullptr;
  X509_CRL* delta = first_verified(judge, ranked, &forged);
  if (delta == nullptr || !revokes(delta, x, true)) return 1;
  // The delta list is checked as the complete one was before it counts.
  X509_CRL* const was = ctx->current_crl;
  ctx->current_crl = delta;
  int ok = ctx->check_crl(ctx, delta);
  if (ok) {
    ctx->current_crl = delta;
    ctx->error = X509_V_ERR_CERT_REVOKED;
    ok = ctx->verify_cb(0, ctx);
  }
  ctx->current_crl = was;
  return ok;
}

bool unhandled_entry_extension(X509_CRL* crl) {
  const bool decoded = crl->crl->enc.modified == 0;
  if (decoded) {
    MORVANE_READ_LOCKED(CRYPTO_LOCK_X509_CRL);
    if (crl->flags & kCrlEntriesRead) return (crl->flags & kCrlEntryUnhandled) != 0;
  }
  // RFC 5280, 5.3: a CRL with a critical entry extension the verifier cannot
  // process must not decide any certificate's status, whichever entry holds
  // it.  The reason code, invalidity date and hold instruction only inform;
  // a certificate issuer (indirect CRLs, not supported) changes what the
  // entries mean.
  STACK* revoked = crl->crl->revoked;
  bool unhandled = false;
  for (int i = 0; i < sk_num(revoked) && !unhandled; i++) {
    STACK* entry_exts = reinterpret_cast<X509_REVOKED*>(sk_value(revoked, i))->extensions;
    for (int j = 0; j < sk_num(entry_exts) && !unhandled; j++) {
      auto* ext = reinterpret_cast<X509_EXTENSION*>(sk_value(entry_exts, j));
      if (ext->critical <= 0) continue;
      const int nid = OBJ_obj2nid(ext->object);
      unhandled = nid != kNidReasonCode && nid != kNidInvalidityDate && nid != kNidHoldInstruction;
    }
  }
  if (decoded) {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_CRL);
    crl->flags |= kCrlEntriesRead | (unhandled ? kCrlEntryUnhandled : 0);
  }
  return unhandled;
}

}  // namespace morvane::x509
