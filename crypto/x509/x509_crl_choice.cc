// Which revocation list decides for a certificate: of every list of its
// issuer the verifier can see (the context's list, and the store's objects
// of that name once its lookups have loaded what they have now), those the
// issuer's own key signed, and of them the newest in time.  An issuer
// publishes a new list each period, and a CA that re-keys under one name
// keeps a list for each key; taking the first one found would let the order
// in which lists were added decide, and a list by another key (or a forged
// one) would hide the issuer's.
//
// Implementation notes: an issuer's lists are gathered and ranked once per
// call (the session's IssuerLists), by what costs little and does not
// depend on the certificate (in time first, then the one issued last, lists
// issued at one moment by cRLNumber, then by their signatures, then the
// order met); among lists tied in time and issue, those that revoke the
// certificate are tried first.  The signatures are then checked from the
// best down: the first that verifies under the issuer's key decides, as the
// best of the verified ones would.  Every candidate is checked until one
// verifies: no bound may leave the genuine list unchecked behind lists an
// attacker packs under the issuer's name (a signed message carries its
// own), so each list costs at most one signature check per key and call,
// linear in what was sent.  Only under a key that no trusted key vouches
// for (a chain kept with a broken link or without an anchor, whose keys a
// sender chose) are checks bounded, per call; when they are spent with
// lists left, the choice says so and the check fails, never "no list".  A
// list whose authorityKeyIdentifier names another key than the issuer's
// subjectKeyIdentifier is passed over unread.  Delta lists (RFC 5280,
// 5.2.4) carry only the changes since a complete list and are never taken
// as one, nor merged into it: the complete list decides (get_crl takes
// complete lists only), and a newer delta list whose signature verified can
// only add a revocation (check_delta takes delta lists only).

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
#include "internal/err_watch.h"
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

// The list's cRLNumber (RFC 5280, 5.2.3), new; null when absent or
// unreadable.
ASN1_INTEGER* crl_number(X509_CRL* crl) {
  if (X509_CRL_get_ext_by_NID(crl, kNidCrlNumber, -1) < 0) return nullptr;
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

}  // namespace

// One of an issuer's lists, with the facts it is ranked by, read once per
// call.
struct Listed {
  X509_CRL* crl;  // a reference held
  int met;        // its place in the order met
  bool delta;
  bool in_time;                  // at the verification moment
  bool dated;                    // its lastUpdate reads
  TimeMoment issued;             // lastUpdate
  ASN1_INTEGER* number;          // cRLNumber, owned; null when absent or unreadable
  ASN1_OCTET_STRING* named_key;  // the authorityKeyIdentifier's keyIdentifier, owned, or null
};

// The lists of one issuer name met by a call, each once, ranked.
struct IssuerLists {
  X509_NAME* name;   // owned
  bool loaded;       // the store's lookup methods were asked
  bool incomplete;   // one failed (a file it could not read): a list not in hand may decide
  bool unexplained;  // incomplete, and the failing method queued no reason of its own
  bool timed;        // at `moment`, else now
  time_t moment;
  Listed* c;
  int n;
};

void issuer_lists_free(IssuerLists* lists) {
  if (lists == nullptr) return;
  for (int i = 0; i < lists->n; i++) {
    X509_CRL_free(lists->c[i].crl);
    ASN1_INTEGER_free(lists->c[i].number);
    ASN1_OCTET_STRING_free(lists->c[i].named_key);
  }
  MORVANE_free(lists->c);
  X509_NAME_free(lists->name);
  MORVANE_free(lists);
}

namespace {

void memory_failure(int line) {
  ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__, line);
}

// The keyIdentifier of the list's authorityKeyIdentifier, new; null when
// absent or unreadable.
ASN1_OCTET_STRING* named_key(X509_CRL* crl) {
  if (X509_CRL_get_ext_by_NID(crl, kNidAuthorityKeyId, -1) < 0) return nullptr;
  const QuietErrors quiet;
  auto* akid = static_cast<AUTHORITY_KEYID*>(
      X509_CRL_get_ext_d2i(crl, kNidAuthorityKeyId, nullptr, nullptr));
  if (akid == nullptr) return nullptr;
  ASN1_OCTET_STRING* id = akid->keyid;
  akid->keyid = nullptr;
  AUTHORITY_KEYID_free(akid);
  return id;
}

// Negative, 0 or positive as a was issued before b, at the same point or
// after it.
int compare_issue(const Listed& a, const Listed& b) {
  if (a.dated != b.dated) return a.dated ? 1 : -1;
  if (a.dated) {
    const int t = compare_moments(a.issued, b.issued);
    if (t != 0) return t;
  }
  const int c = (a.number != nullptr) - (b.number != nullptr);
  if (c != 0 || a.number == nullptr) return c;
  return ASN1_INTEGER_cmp(a.number, b.number);
}

// The call's order: in time before out of time, then the one issued last
// (a malformed lastUpdate the earliest, an absent cRLNumber the lowest),
// then by a fixed order of their signatures, then the first met; so that
// the order in which lists were met never decides.
bool ranked_before(const Listed& a, const Listed& b) {
  if (a.in_time != b.in_time) return a.in_time;
  const int c = compare_issue(a, b);
  if (c != 0) return c > 0;
  const int s = ASN1_STRING_cmp(a.crl->signature, b.crl->signature);
  if (s != 0) return s > 0;
  return a.met < b.met;
}

// Keeps a list met by a search (a reference taken), as often as met; adding
// is all a search does while it holds the store's lock.
struct Gathered {
  Listed* c = nullptr;
  int n = 0;
  int cap = 0;
  bool failed = false;  // a list could not be kept (queued)

  void add(X509_CRL* crl) {
    if (n == cap) {
      const int grown_cap = cap == 0 ? 16 : cap * 2;
      auto* grown =
          static_cast<Listed*>(MORVANE_realloc(c, static_cast<size_t>(grown_cap) * sizeof(Listed)));
      if (grown == nullptr) {
        failed = true;
        return;
      }
      c = grown;
      cap = grown_cap;
    }
    c[n] = Listed{crl, n, false, false, false, {0, nullptr, 0}, nullptr, nullptr};
    n++;
    CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
  }
};

int keep_held(void* arg, X509_OBJECT* obj) {
  static_cast<Gathered*>(arg)->add(obj->data.crl);
  return 1;
}

// Meets every list of the issuer name nm: the context's lists, then, with
// `load`, what the store's lookup methods return, then the store's cache.
// The methods have loaded what they have now before the cache is read, so
// the choice never rests on a load half done, whatever the cache held
// before and whatever other threads load meanwhile.  A method that failed
// (a file it could not read) still leaves every list in hand met: one may
// revoke.  1, 0 without memory (queued), or the failed method's negative
// answer.
int gather(X509_STORE_CTX* ctx, X509_NAME* nm, bool load, Gathered* g) {
  for (int i = 0; i < sk_num(ctx->crls); i++) {
    auto* crl = reinterpret_cast<X509_CRL*>(sk_value(ctx->crls, i));
    if (X509_NAME_cmp(nm, crl->crl->issuer) == 0) g->add(crl);
  }
  int r = 1;
  if (ctx->ctx != nullptr) {
    if (load && load_subject(ctx, X509_LU_CRL, nm, keep_held, g) < 0) r = -1;
    scan_subject(ctx->ctx, X509_LU_CRL, nm, keep_held, g);
  }
  if (g->failed) memory_failure(__LINE__);
  return g->failed ? 0 : r;
}

// Makes the issuer's lists of what was gathered: each list once, where it
// was first met, its facts read, ranked.  Takes g's lists over.
IssuerLists* rank(X509_STORE_CTX* ctx, X509_NAME* nm, bool load, Gathered* g) {
  auto* lists = static_cast<IssuerLists*>(MORVANE_malloc(sizeof(IssuerLists)));
  X509_NAME* name = X509_NAME_dup(nm);
  if (lists == nullptr || name == nullptr) {
    MORVANE_free(lists);
    X509_NAME_free(name);
    memory_failure(__LINE__);
    return nullptr;
  }
  const time_t* moment = check_moment(ctx);
  *lists = IssuerLists{name, load, false, false, moment != nullptr, moment != nullptr ? *moment : 0,
                       g->c, 0};
  // Repeats first: each list once, where it was first met.
  std::sort(g->c, g->c + g->n, [](const Listed& a, const Listed& b) {
    return a.crl != b.crl ? std::less<X509_CRL*>()(a.crl, b.crl) : a.met < b.met;
  });
  for (int i = 0; i < g->n; i++) {
    if (i > 0 && g->c[i].crl == g->c[i - 1].crl) {
      X509_CRL_free(g->c[i].crl);
      continue;
    }
    Listed& k = lists->c[lists->n++];  // over a slot already read
    X509_CRL* crl = g->c[i].crl;
    k = {crl,   g->c[i].met,     is_delta(crl),   in_time(ctx, crl),
         false, {0, nullptr, 0}, crl_number(crl), named_key(crl)};
    k.dated = time_moment(crl->crl->lastUpdate, &k.issued);
  }
  g->c = nullptr;
  std::sort(lists->c, lists->c + lists->n, ranked_before);
  return lists;
}

// The lists of issuer name nm when this call has gathered them already
// (`load`: with the store's methods asked), else null.
IssuerLists* held_lists(X509_STORE_CTX* ctx, Session& s, X509_NAME* nm, bool load) {
  const time_t* moment = check_moment(ctx);
  for (int i = 0; i < s.lists_count(); i++) {
    IssuerLists* l = s.lists_at(i);
    if ((l->loaded || !load) && l->timed == (moment != nullptr) &&
        (moment == nullptr || l->moment == *moment) && X509_NAME_cmp(l->name, nm) == 0)
      return l;
  }
  return nullptr;
}

// Those lists, gathered and ranked at the call's first asking
// (`incomplete` when a method failed): 1 with *out set, or 0 without memory
// (queued).
int lists_of(X509_STORE_CTX* ctx, Session& s, X509_NAME* nm, bool load, IssuerLists** out) {
  *out = held_lists(ctx, s, nm, load);
  if (*out != nullptr) return 1;
  Gathered g;
  const morvane::internal::ErrorWatch watch;
  const int r = gather(ctx, nm, load, &g);
  IssuerLists* lists = r != 0 ? rank(ctx, nm, load, &g) : nullptr;
  for (int i = 0; i < g.n && g.c != nullptr; i++) X509_CRL_free(g.c[i].crl);
  MORVANE_free(g.c);
  if (lists == nullptr) return 0;
  lists->incomplete = r < 0;
  lists->unexplained = r < 0 && !watch.any([](unsigned long) { return true; });
  if (!s.add_lists(lists)) {
    issuer_lists_free(lists);
    return 0;
  }
  *out = lists;
  return 1;
}

// What x's lists are judged by: the certificate whose key signs them
// (crl_issuer), the call's copy of its key and its subjectKeyIdentifier.
class Judge {
 public:
  Judge(X509_STORE_CTX* ctx, Session& s, X509* x) : ctx_(ctx), s_(s), x_(x) {
    const int top = sk_num(ctx->chain) - 1;
    if (top < 0) return;
    at_ = ctx->error_depth < top ? ctx->error_depth + 1 : top;
    auto* issuer = reinterpret_cast<X509*>(sk_value(ctx->chain, at_));
    const QuietErrors quiet;  // check_crl reports a key it cannot decode
    X509_check_purpose(issuer, -1, 0);
    skid_ = issuer->skid;
    key_ = chain_key(s, ctx, at_);
  }
  Judge(const Judge&) = delete;
  Judge& operator=(const Judge&) = delete;

  X509* x() const { return x_; }
  bool has_key() const { return key_ != nullptr && key_->usable; }

  // Whether the list's authorityKeyIdentifier names another key than the
  // issuer's subjectKeyIdentifier (a test that reads no signature).
  bool other_key(const Listed& k) const { return key_named(k) < 0; }

  // Whether it names the issuer's key.
  bool own_key(const Listed& k) const { return key_named(k) > 0; }

  // The list's signature under the issuer's key: 1 verified, 0 not, -1 no
  // key, -2 not checked (the call's checks under keys nothing vouches for
  // spent).  Quiet: a list passed over leaves nothing queued.
  int verifies(X509_CRL* crl, bool quiet = true) {
    if (!has_key()) return -1;
    bool earlier = false;  // found in another chain of the call: this one's check
    const int known = s_.recalled(crl, key_, &earlier);
    if (known < 0 || earlier) {
      if (vouched_ < 0) {
        const QuietErrors quieted;
        vouched_ = vouched(s_, ctx_, at_) ? 1 : 0;
      }
      if (vouched_ == 0 && !s_.spend_unvouched()) return -2;
      if (known >= 0) s_.claim(crl, key_);
    }
    if (known > 0 || (known == 0 && quiet)) return known;
    if (known == 0) return check_crl_signature(s_, crl, key_, true) > 0 ? 1 : 0;
    if (!quiet) return check_crl_signature(s_, crl, key_) > 0 ? 1 : 0;
    const QuietErrors quieted;
    return check_crl_signature(s_, crl, key_) > 0 ? 1 : 0;
  }

  // Whether k revokes x: it has an entry for x's serial number (in a delta
  // list, one of another reason than removeFromCRL).
  bool revokes_x(const Listed& k) const { return revokes(k.crl, x_, k.delta); }

  // Whether a is the better of two forged lists: issued later (whatever
  // their time), then one that revokes x, then as ranked.
  bool better(const Listed& a, const Listed& b) const {
    const int c = compare_issue(a, b);
    if (c != 0) return c > 0;
    const bool ra = revokes_x(a);
    if (ra != revokes_x(b)) return ra;
    const int sig = ASN1_STRING_cmp(a.crl->signature, b.crl->signature);
    if (sig != 0) return sig > 0;
    return a.met < b.met;
  }

 private:
  // 1 when the list's authorityKeyIdentifier names the issuer's
  // subjectKeyIdentifier, -1 when it names another key, 0 when either is
  // missing.
  int key_named(const Listed& k) const {
    if (skid_ == nullptr || k.named_key == nullptr) return 0;
    return ASN1_OCTET_STRING_cmp(k.named_key, skid_) == 0 ? 1 : -1;
  }

  X509_STORE_CTX* ctx_;
  Session& s_;
  X509* x_;
  int at_ = 0;
  const SessionKey* key_ = nullptr;
  ASN1_OCTET_STRING* skid_ = nullptr;
  int vouched_ = -1;  // not asked yet
};

// What a choice found: the best list whose signature verified; else the
// best of those that failed, or the one it stopped at.
struct Choice {
  X509_CRL* verified = nullptr;
  const Listed* first = nullptr;      // the first candidate tried
  const Listed* forged = nullptr;     // the best whose signature failed
  const Listed* unchecked = nullptr;  // the one the spent checks left
};

// The best candidate (of those `wanted` accepts) whose signature the
// issuer's key verifies, checked from the best down, every one until one
// verifies; among lists tied in time and issue, those that revoke x first.
// Without a key nothing is checked: `first` is the best.
template <class Wanted>
Choice choose(Judge& judge, const IssuerLists& lists, Wanted wanted) {
  Choice ch;
  const Listed* c = lists.c;
  for (int start = 0; start < lists.n;) {
    int end = start + 1;
    while (end < lists.n && c[end].in_time == c[start].in_time &&
           compare_issue(c[end], c[start]) == 0)
      end++;
    // A class of one needs no second pass for the lists that revoke x.
    for (int pass = end - start > 1 ? 0 : 1; pass < 2; pass++) {
      for (int i = start; i < end; i++) {
        const Listed& k = c[i];
        if (!wanted(k) || (end - start > 1 && judge.revokes_x(k) != (pass == 0))) continue;
        if (ch.first == nullptr) ch.first = &k;
        switch (judge.verifies(k.crl)) {
          case 1:
            ch.verified = k.crl;
            return ch;
          case -1:
            return ch;
          case -2:
            ch.unchecked = &k;
            return ch;
          default:
            if (ch.forged == nullptr || judge.better(k, *ch.forged)) ch.forged = &k;
        }
      }
    }
    start = end;
  }
  return ch;
}

// A lookup method failed (a file it could not read): a list not in hand
// may be newer than those in hand, so none of them can clear x (the
// verifier fails the check after theirs); but a list in hand that verifies
// and revokes x decides, whatever failed elsewhere.  Complete lists are
// tried first, then delta lists: the best one that verifies, or null (the
// session then says whether the checks under a key nothing vouches for
// were spent).
X509_CRL* revoking_in_hand(Judge& judge, Session& s, const IssuerLists& lists) {
  for (const bool delta : {false, true}) {
    const Choice ch = choose(judge, lists, [&](const Listed& k) {
      return k.delta == delta && !judge.other_key(k) && judge.revokes_x(k);
    });
    if (ch.unchecked != nullptr) s.set_lists_unchecked(true);
    if (ch.verified != nullptr || ch.unchecked != nullptr) return ch.verified;
  }
  return nullptr;
}

}  // namespace

X509* crl_issuer(X509_STORE_CTX* ctx) {
  const int top = sk_num(ctx->chain) - 1;
  if (top < 0) return nullptr;
  const int at = ctx->error_depth < top ? ctx->error_depth + 1 : top;
  return reinterpret_cast<X509*>(sk_value(ctx->chain, at));
}

int get_crl(X509_STORE_CTX* ctx, X509_CRL** pcrl, X509* x) {
  SessionScope session(ctx);
  Session& s = session.get();
  s.set_lists_unchecked(false);
  IssuerLists* lists = nullptr;
  if (lists_of(ctx, s, X509_get_issuer_name(x), true, &lists) <= 0) return 0;
  Judge judge(ctx, s, x);
  if (lists->incomplete) {
    X509_CRL* revoking = revoking_in_hand(judge, s, *lists);
    if (revoking != nullptr) {
      CRYPTO_add(&revoking->references, 1, CRYPTO_LOCK_X509_CRL);
      *pcrl = revoking;
      return 1;
    }
    if (s.lists_unchecked()) return 0;
    // A method that failed saying why has said whether a retry may help.
    if (lists->unexplained)
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, X509_R_SHOULD_RETRY, __FILE__, __LINE__);
  }
  bool other_key = false;
  const Choice ch = choose(judge, *lists, [&](const Listed& k) {
    if (k.delta) return false;
    if (judge.other_key(k)) {
      other_key = true;
      return false;
    }
    return true;
  });
  if (ch.unchecked != nullptr) {
    s.set_lists_unchecked(true);
    return 0;
  }
  X509_CRL* crl = ch.verified;
  // Without a key the best is taken, and check_crl reports the key.
  if (crl == nullptr && !judge.has_key() && ch.first != nullptr) crl = ch.first->crl;
  // With no list of the issuer's key, one whose signature fails is taken
  // (check_crl reports it) unless another key's list was seen and the
  // failed one does not name the issuer's key: a list that claims the key
  // and fails is a forgery to report, never "no list".
  if (crl == nullptr && ch.forged != nullptr && (!other_key || judge.own_key(*ch.forged)))
    crl = ch.forged->crl;
  if (crl == nullptr) return 0;
  CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
  *pcrl = crl;
  return 1;
}

bool lists_left_unchecked(X509_STORE_CTX* ctx) {
  SessionScope session(ctx);
  return session.get().lists_unchecked();
}

bool lists_incomplete(X509_STORE_CTX* ctx, X509* x) {
  SessionScope session(ctx);
  const IssuerLists* l = held_lists(ctx, session.get(), X509_get_issuer_name(x), true);
  return l != nullptr && l->incomplete;
}

int check_list(X509_STORE_CTX* ctx, X509_CRL* crl) {
  SessionScope session(ctx);
  Judge judge(ctx, session.get(), nullptr);
  return judge.verifies(crl, false);
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
  SessionScope session(ctx);
  Session& s = session.get();
  IssuerLists* lists = nullptr;
  if (lists_of(ctx, s, X509_get_issuer_name(x), false, &lists) <= 0) {
    ctx->error = X509_V_ERR_OUT_OF_MEM;  // the only way this gather fails
    return 0;
  }
  Judge judge(ctx, s, x);
  // Only delta lists in time and not older than crl can say more than it.
  TimeMoment complete_issued;
  const bool complete_dated = time_moment(crl->crl->lastUpdate, &complete_issued);
  auto wanted = [&](const Listed& d) {
    return d.delta && d.in_time &&
           (!complete_dated || (d.dated && compare_moments(d.issued, complete_issued) >= 0)) &&
           !judge.other_key(d);
  };
  X509_CRL* delta = nullptr;
  if (!judge.has_key()) {
    // Nothing can be checked: a delta list that lists x goes to check_crl,
    // which reports the key, and then counts; one that does not is no
    // reason to pass over another.
    for (int i = 0; i < lists->n && delta == nullptr; i++)
      if (wanted(lists->c[i]) && judge.revokes_x(lists->c[i])) delta = lists->c[i].crl;
  } else {
    const Choice ch = choose(judge, *lists, wanted);
    if (ch.unchecked != nullptr) {
      X509_CRL* const was = ctx->current_crl;
      ctx->current_crl = ch.unchecked->crl;
      ctx->error = X509_V_ERR_CRL_SIGNATURE_FAILURE;
      const int ok = ctx->verify_cb(0, ctx);
      ctx->current_crl = was;
      return ok;
    }
    delta = ch.verified;
  }
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
