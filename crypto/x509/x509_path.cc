// Chain building: the candidates for the issuer of a certificate (the
// caller's untrusted list, the store's cache and lookup methods, a trusted
// stack or an application's issuer step), their ranking, and the search for
// a chain that ends at a trust anchor whatever the order in which the
// candidates were supplied.
//
// Implementation notes: the search is depth first.  Each position above the
// chain's base keeps its candidates, ranked: a certificate valid at the
// verification moment before one that is not, then, where the caller's
// certificates are still offered, a store certificate before an untrusted
// one, then the order supplied.  The issued-by step is asked in that order,
// as each candidate comes up, so that an application's step (and the
// callback it may call) sees only the candidates looked at.  The store's
// lookup methods are asked once the cache offers nothing valid at a
// position, even when it holds certificates of the name: one loaded from a
// file does not hide a directory's.
// A chain whose top is not a self-issued store certificate is not final: the
// search takes the next candidate at the deepest position that has one and
// builds on.  A chain that reaches an anchor is final only when each link
// holds: the issuer's key verifies the signature below it and, for the
// caller's certificates, the issuer may issue (a CA).  The links are
// checked from the anchor down, so that a key is used only once the link
// above it holds: a look-alike issuer's key, however dear to use, checks
// nothing.  The search passes over the highest link that does not hold, as
// over a dead end, and takes the next candidate there.  Nor is a chain
// final when a certificate above the target is outside its validity period
// or its anchor is not trusted for the run's purpose: those fail whatever
// stands below them, so the search replaces the lowest such certificate
// and builds on, and which anchor of a name is met first decides nothing.
// When no chain is final, the first one built that reaches an anchor by
// links that hold is kept, else the first one built, with the errors it has
// always had; the chain errors go to the verify callback for the chain kept
// only.
// (With X509_V_FLAG_CB_ISSUER_CHECK the callback hears of each candidate
// the issued-by step refuses as it is looked at, in chains given up as
// well.)
// What the search learns of a certificate as an issuer it keeps: that
// nothing above it leads to an anchor by a final chain (the certificate is
// then passed over wherever it is offered, without being looked at), or the
// first chain above it whose links hold and whose certificates are not
// flawed (taken again whole, above any subject whose link to it is then the
// only one to check).  So each certificate is
// searched above once, and the search costs the sum of the candidates at
// each depth, not their product; what was learnt while a certificate below
// was kept out of the chain, or under the depth limit, is used only where
// it still holds.
// The caller sends the untrusted list, so nothing costs a pass over it per
// position: the search indexes it by subject name once, each source offers
// at most kMaxCandidates at a position, the chain's members sit in a sorted
// set, and at most kMaxTries candidates are tried in all.

#include <limits.h>
#include <string.h>

#include <algorithm>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/name_order.h"
#include "x509_local.h"
#include "x509_path_known.h"
#include "x509v3/internal.h"

namespace morvane::x509 {
namespace {

// Candidates one verification puts to the issued-by step, at every
// position together, those of the first chain included, before it settles
// for the first chain: the search's budget.  A certificate known to lead
// nowhere is passed over for nothing, and one taken with the chain known
// above it costs one.  Every candidate is looked at once per position and
// a position is searched once per certificate, so look-alikes at several
// depths cost the sum of their numbers, and a hostile untrusted list a
// bounded number of dead ends, not one per combination.
constexpr int kMaxTries = 2048;

// Candidates that one source (the caller's list, a trusted stack, the
// store) offers at one position, at most: those of the issuer's name first
// in the order supplied.  A list of thousands of certificates of one name
// costs each position the same as one of a few dozen.
constexpr int kMaxCandidates = 32;

// Rank bits of a candidate; the higher rank is tried first.
constexpr unsigned kEqual = 4;    // the certificate itself: a self-issued target's store copy
constexpr unsigned kValid = 2;    // inside its validity period at the verification moment
constexpr unsigned kTrusted = 1;  // from the store, a trusted stack or the issuer step
constexpr int kRanks = 8;

// What choosing a candidate gives besides a run's result (0 or negative).
constexpr int kTaken = 1;
constexpr int kNoneLeft = 2;

void put_error(int func, int reason, int line) {
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, line);
}

X509* chain_at(X509_STORE_CTX* ctx, int i) {
  return reinterpret_cast<X509*>(sk_value(ctx->chain, i));
}

X509* cert_at(STACK* sk, int i) {
  return reinterpret_cast<X509*>(sk_value(sk, i));
}

unsigned long flags_of(X509_STORE_CTX* ctx) {
  return ctx->param != nullptr ? ctx->param->flags : 0;
}

bool valid_at_moment(X509_STORE_CTX* ctx, X509* y) {
  time_t* moment = check_moment(ctx);
  const X509_VAL* v = y->cert_info->validity;
  return X509_cmp_time(v->notBefore, moment) < 0 && X509_cmp_time(v->notAfter, moment) > 0;
}

// Whether only certificates of the issuer's name are offered: with the
// built-in issued-by step and no callback to hear of refusals, any other
// would be refused.
bool by_name_only(X509_STORE_CTX* ctx) {
  return ctx->check_issued == check_issued && !(flags_of(ctx) & X509_V_FLAG_CB_ISSUER_CHECK);
}

// Whether y may stand above x in a chain that the run will accept: when y
// is one of the caller's certificates, the chain's extension checks find it
// fit to issue x (a CA, and not one above a proxy certificate); and y's key
// (this call's copy, its parameters lent from above when it has none)
// verifies x's signature.  The check is the call's, so the run's own check
// of a link that holds costs nothing more.  What the checks queue is taken
// back, but for one "malloc failure" when an allocation failed, which the
// run then reports.
bool link_holds(X509_STORE_CTX* ctx, Session& s, X509* x, X509* y, bool trusted,
                const SessionKey* key) {
  if (!trusted) {
    const int ca = X509_check_ca(y);
    X509_check_purpose(x, -1, 0);
    const int must_be_ca = (morvane::x509v3::flags_of(x) & EXFLAG_PROXY) ? 0 : 1;
    if (!ca_fits(must_be_ca, ca, (flags_of(ctx) & X509_V_FLAG_X509_STRICT) != 0)) return false;
  }
  const QuietErrors quiet;
  return check_cert_signature(s, x, key) > 0;
}

// The certificates of the chain as a sorted multiset, so that a candidate
// is kept out of a path that holds it (X509_cmp) by a binary search: each
// is keyed by its digest, or by its address while its cached facts cannot
// be computed, and remembers its place in the chain.
class Members {
 public:
  Members() = default;
  ~Members() { MORVANE_free(keys_); }
  Members(const Members&) = delete;
  Members& operator=(const Members&) = delete;

  // Adds x at chain index `index`; false (queued) without memory.
  bool add(X509* x, int index) {
    if (n_ == cap_) {
      const int cap = cap_ == 0 ? 16 : cap_ * 2;
      auto* grown =
          static_cast<Key*>(MORVANE_realloc(keys_, static_cast<size_t>(cap) * sizeof(Key)));
      if (grown == nullptr) {
        put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
        return false;
      }
      keys_ = grown;
      cap_ = cap;
    }
    Key k = key_of(x);
    k.index = index;
    const int at = lower_bound(k);
    memmove(keys_ + at + 1, keys_ + at, static_cast<size_t>(n_ - at) * sizeof(Key));
    keys_[at] = k;
    n_++;
    return true;
  }

  void remove(X509* x) {
    Key k = key_of(x);
    int at = find(k);
    if (at < 0) {
      k = address_key(x);  // added while its facts were missing
      at = find(k);
    }
    if (at < 0) return;
    memmove(keys_ + at, keys_ + at + 1, static_cast<size_t>(n_ - at - 1) * sizeof(Key));
    n_--;
  }

  // The lowest chain index of y, or -1 when y is not in the chain.
  int index_of(X509* y) const {
    const int a = lowest_index(key_of(y));
    const int b = lowest_index(address_key(y));
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
  }

 private:
  struct Key {
    unsigned char by_address;
    unsigned char bytes[sizeof(X509::sha1_hash)];
    int index;  // not part of the order
  };

  static Key address_key(X509* x) {
    Key k{};
    k.by_address = 1;
    memcpy(k.bytes, &x, sizeof(x));
    return k;
  }

  static Key key_of(X509* x) {
    if (X509_check_purpose(x, -1, 0) != 1) return address_key(x);
    Key k{};
    memcpy(k.bytes, x->sha1_hash, sizeof(k.bytes));
    return k;
  }

  static int cmp(const Key& a, const Key& b) {
    if (a.by_address != b.by_address) return a.by_address - b.by_address;
    return memcmp(a.bytes, b.bytes, sizeof(a.bytes));
  }

  int lower_bound(const Key& k) const {
    int lo = 0;
    int hi = n_;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (cmp(keys_[mid], k) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }

  int find(const Key& k) const {
    const int at = lower_bound(k);
    return at < n_ && cmp(keys_[at], k) == 0 ? at : -1;
  }

  int lowest_index(const Key& k) const {
    int index = -1;
    for (int at = lower_bound(k); at < n_ && cmp(keys_[at], k) == 0; at++)
      if (index < 0 || keys_[at].index < index) index = keys_[at].index;
    return index;
  }

  Key* keys_ = nullptr;
  int n_ = 0;
  int cap_ = 0;
};

using morvane::internal::folded_name_cmp;

// A caller's list of certificates sorted by subject name (folded_name_cmp),
// then by position: made once per call (the session keeps it for the
// call's other searches over the list, as PKCS7_verify's signers make),
// so that a position finds the certificates of its issuer's name by a
// binary search.
class ListIndex {
 public:
  ListIndex() = default;
  ListIndex(const ListIndex&) = delete;
  ListIndex& operator=(const ListIndex&) = delete;

  // Indexes sk on the first call; true, or false (queued) without memory.
  bool build(STACK* sk, Session& session) {
    if (built_) return true;
    const int n = sk_num(sk) > 0 ? sk_num(sk) : 0;
    if (n > 0) {
      order_ = session.list_order(sk);
      if (order_ == nullptr) {
        int* order = static_cast<int*>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(int)));
        if (order == nullptr) {
          put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
          return false;
        }
        for (int i = 0; i < n; i++) order[i] = i;
        std::sort(order, order + n, [sk](int a, int b) {
          const int c = folded_name_cmp(X509_get_subject_name(cert_at(sk, a)),
                                        X509_get_subject_name(cert_at(sk, b)));
          return c != 0 ? c < 0 : a < b;
        });
        if (!session.keep_list_order(sk, order)) return false;
        order_ = order;
      }
    }
    sk_ = sk;
    n_ = n;
    built_ = true;
    return true;
  }

  // The entries whose subject folds as name does, [*first, *last), their
  // list positions in list order.
  void range(const X509_NAME* name, int* first, int* last) const {
    auto cmp = [this, name](int i) {
      return folded_name_cmp(X509_get_subject_name(cert_at(sk_, order_[i])), name);
    };
    int lo = 0;
    int hi = n_;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (cmp(mid) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    *first = lo;
    hi = n_;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (cmp(mid) <= 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    *last = lo;
  }

  // The list position of entry i.
  int order(int i) const { return order_[i]; }

 private:
  STACK* sk_ = nullptr;
  // List positions, by folded subject name then position (the session's).
  const int* order_ = nullptr;
  int n_ = 0;
  bool built_ = false;
};

enum class Source { kNone, kStore, kStack, kStep };

Source source_of(X509_STORE_CTX* ctx) {
  if (ctx->get_issuer == X509_STORE_CTX_get1_issuer)
    return ctx->ctx != nullptr ? Source::kStore : Source::kNone;
  if (ctx->get_issuer == get_issuer_sk) return Source::kStack;
  return ctx->get_issuer != nullptr ? Source::kStep : Source::kNone;
}

struct Candidate {
  X509* cert;  // holds a reference
  unsigned rank;
  bool tried;
  bool checked;  // the issuer step that supplied it has made the issued-by test
};

// The candidates for the issuer of `subject`, the certificate at one
// position of the chain.
struct Position {
  X509* subject = nullptr;
  Candidate* c = nullptr;
  int n = 0;
  int cap = 0;
  int cursor[kRanks] = {};  // per rank, where the next untried one may be
  Source source = Source::kNone;
  bool complete = true;             // every source has given what it has
  bool untrusted = false;           // the caller's certificates were offered here
  bool equal = false;               // the subject is self-issued: its own copy first
  bool holds = false;               // the link to the candidate taken was found to hold
  const SessionKey* key = nullptr;  // under this key of the candidate taken
  int last_untrusted = 0;           // the context's count before the position was filled
  int taken = -1;                   // the candidate in the chain
  // Search bookkeeping: the subject's chain index; the lowest chain index
  // of a certificate kept out as a candidate here or above (INT_MAX: none);
  // whether the depth limit ended a chain above, here or in what was taken
  // as known; whether the position only puts back a known chain (its one
  // candidate holds); the entry learnt for the subject, or -1.
  int index = 0;
  int kept_out = INT_MAX;
  bool cut = false;
  bool known = false;
  int entry = -1;

  void release() {
    for (int i = 0; i < n; i++) X509_free(c[i].cert);
    MORVANE_free(c);
    c = nullptr;
    n = cap = 0;
  }
};

// What a search adds to a position's sources: the chain's members, which
// are no candidates, the indexes of the lists, and what it has learnt of
// the issuers it took.
struct SearchState {
  SearchState() = default;
  ~SearchState() { X509_free(proxy_refused); }
  SearchState(const SearchState&) = delete;
  SearchState& operator=(const SearchState&) = delete;

  Members members;
  ListIndex untrusted;
  ListIndex stack;
  KnownIssuers known;
  int tried = 0;  // candidates put to the issued-by step, at every position
  // The last proxy certificate a candidate of whose issuer's name was
  // refused only for its key usage (no digitalSignature); a reference.
  X509* proxy_refused = nullptr;
};

// Notes, for a refusal by the built-in issued-by step, a proxy certificate
// whose candidate issuer lacks digitalSignature, so that a chain that ends
// at it can say so.
void note_refusal(X509_STORE_CTX* ctx, SearchState* search, X509* subject, X509* issuer) {
  if (ctx->check_issued != check_issued || !(morvane::x509v3::flags_of(subject) & EXFLAG_PROXY) ||
      X509_check_issued(issuer, subject) != X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE)
    return;
  CRYPTO_add(&subject->references, 1, CRYPTO_LOCK_X509);
  X509_free(search->proxy_refused);
  search->proxy_refused = subject;
}

// Whether y, a candidate at p, is known to lead nowhere from the chain
// index above p's subject: learnt with nothing below it kept out, and with
// at least as much room below the depth limit.  A depth limit met there
// marks p too.
bool known_dead(const SearchState* search, Position& p, X509* y, bool trusted) {
  const int i = search->known.find(y, trusted);
  if (i < 0) return false;
  const KnownIssuers::Entry& e = search->known.at(i);
  if (!e.dead || !e.reusable || (e.cut && p.index + 1 < e.index)) return false;
  p.cut = p.cut || e.cut;
  return true;
}

struct Adding {
  X509_STORE_CTX* ctx;
  Position* pos;
  const SearchState* search;  // null outside a chain search
  bool trusted;
  bool dedupe;
  bool checked;
  int left;             // candidates this source may still offer
  bool failed = false;  // an addition failed (queued)
};

// Appends y with its rank (and a reference); 0 with "malloc failure" queued.
int add_candidate(void* arg, X509* y) {
  auto* a = static_cast<Adding*>(arg);
  Position& p = *a->pos;
  if (a->dedupe) {
    for (int i = 0; i < p.n; i++)
      if (p.c[i].cert == y) return 1;
  }
  if (a->search != nullptr) {
    const int member = a->search->members.index_of(y);
    if (member >= 0) {
      p.kept_out = std::min(p.kept_out, member);
      return 1;
    }
    if (known_dead(a->search, p, y, a->trusted)) return 1;
  }
  if (p.n == p.cap) {
    const int cap = p.cap == 0 ? 4 : p.cap * 2;
    auto* grown =
        static_cast<Candidate*>(MORVANE_realloc(p.c, static_cast<size_t>(cap) * sizeof(Candidate)));
    if (grown == nullptr) {
      put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
      return 0;
    }
    p.c = grown;
    p.cap = cap;
  }
  unsigned rank = a->trusted ? kTrusted : 0;
  if (valid_at_moment(a->ctx, y)) rank |= kValid;
  if (p.equal && X509_cmp(p.subject, y) == 0) rank |= kEqual;
  CRYPTO_add(&y->references, 1, CRYPTO_LOCK_X509);
  p.c[p.n++] = {y, rank, false, a->checked};
  return 1;
}

// add_candidate for a certificate of the store's cache: kMaxCandidates at
// most, after which the scan ends.
int add_held(void* arg, X509_OBJECT* obj) {
  auto* a = static_cast<Adding*>(arg);
  if (a->left == 0) return 0;
  a->left--;
  if (add_candidate(arg, obj->data.x509)) return 1;
  a->failed = true;
  return 0;
}

// add_candidate for a certificate that a lookup method returns, unless the
// source has offered its share.
int add_loaded(void* arg, X509_OBJECT* obj) {
  auto* a = static_cast<Adding*>(arg);
  if (a->left == 0) return 1;
  a->left--;
  return add_candidate(arg, obj->data.x509);
}

// Offers the certificates of sk that may issue the subject, in list order:
// the first kMaxCandidates of the issuer's name, and, when certificates of
// any name are offered, those among the first kMaxCandidates of the list.
// index: sk's index, or null for one pass over the list.
int add_list(X509_STORE_CTX* ctx, Position& p, STACK* sk, const ListIndex* index, bool trusted,
             const SearchState* search) {
  Adding a{ctx, &p, search, trusted, false, false, 0};
  const int n = sk_num(sk);
  const int head = by_name_only(ctx) ? 0 : std::min(n, kMaxCandidates);
  X509_NAME* name = X509_get_issuer_name(p.subject);
  if (index == nullptr) {
    int named = 0;
    for (int i = 0; i < n && (i < head || named < kMaxCandidates); i++) {
      X509* y = cert_at(sk, i);
      const bool of_name = X509_NAME_cmp(X509_get_subject_name(y), name) == 0;
      if (of_name) named++;
      if ((i < head || of_name) && !add_candidate(&a, y)) return 0;
    }
    return 1;
  }
  int first;
  int last;
  index->range(name, &first, &last);
  // Names that only fold as the issuer's are passed over without using up
  // the share: the first kMaxCandidates of the name count, among at most
  // twice as many whose names fold alike.
  last = std::min(last, first + 2 * kMaxCandidates);
  auto of_name = [&](int at) {
    return X509_NAME_cmp(X509_get_subject_name(cert_at(sk, at)), name) == 0;
  };
  // The head of the list and the certificates of the name, merged by
  // position in the list.
  int named = 0;
  int i = 0;
  int j = first;
  for (;;) {
    const bool more_named = j < last && named < kMaxCandidates;
    if (i >= head && !more_named) break;
    int at;
    if (!more_named || (i < head && i <= index->order(j))) {
      at = i++;
      if (more_named && index->order(j) == at) {
        j++;
        if (of_name(at)) named++;
      }
    } else {
      at = index->order(j++);
      if (!of_name(at)) continue;
      named++;
    }
    if (!add_candidate(&a, cert_at(sk, at))) return 0;
  }
  return 1;
}

// Fills a position from what is at hand: the caller's list when offered,
// the store's cache, a trusted stack.  1, or 0 (queued).
int open_position(X509_STORE_CTX* ctx, Position& p, const SearchState* search) {
  p.complete = p.source != Source::kStore && p.source != Source::kStep;
  if (p.untrusted &&
      !add_list(ctx, p, ctx->untrusted, search ? &search->untrusted : nullptr, false, search))
    return 0;
  switch (p.source) {
    case Source::kStore: {
      Adding a{ctx, &p, search, true, false, false, kMaxCandidates};
      scan_subject(ctx->ctx, X509_LU_X509, X509_get_issuer_name(p.subject), add_held, &a);
      return a.failed ? 0 : 1;
    }
    case Source::kStack:
      return add_list(ctx, p, static_cast<STACK*>(ctx->other_ctx),
                      search ? &search->stack : nullptr, true, search);
    default:
      return 1;
  }
}

// Asks the sources that cost more: the store's lookup methods (then the
// cache again), or the application's issuer step.  1, or the run's result.
int complete_position(X509_STORE_CTX* ctx, Position& p, const SearchState* search) {
  p.complete = true;
  if (p.source == Source::kStore) {
    X509_NAME* name = X509_get_issuer_name(p.subject);
    Adding a{ctx, &p, search, true, true, false, kMaxCandidates};
    const int r = load_subject(ctx, X509_LU_X509, name, add_loaded, &a);
    if (r < 0) {
      if (r == X509_LU_RETRY)
        put_error(X509_F_X509_STORE_CTX_GET1_ISSUER, X509_R_SHOULD_RETRY, __LINE__);
      return -1;
    }
    if (r == 0) return 0;
    a.left = kMaxCandidates;
    scan_subject(ctx->ctx, X509_LU_X509, name, add_held, &a);
    return a.failed ? 0 : 1;
  }
  if (p.source == Source::kStep) {
    X509* y = nullptr;
    const int r = ctx->get_issuer(&y, ctx, p.subject);
    if (r < 0) return r;
    if (r == 0) return 1;
    Adding a{ctx, &p, search, true, true, true, 0};
    const int ok = add_candidate(&a, y);
    X509_free(y);
    return ok;
  }
  return 1;
}

// The untried candidate of highest rank, earliest supplied; -1 when none.
int next_untried(Position& p) {
  for (int r = kRanks - 1; r >= 0; r--) {
    int& i = p.cursor[r];
    while (i < p.n && (p.c[i].rank != static_cast<unsigned>(r) || p.c[i].tried)) i++;
    if (i < p.n) return i;
  }
  return -1;
}

// Takes the best candidate that passes the issued-by step, asking the
// costlier sources before settling for one that is not valid (not the
// subject's own copy, when that is sought).  In a search, a candidate known
// to lead nowhere is passed over without asking the step, and each one
// asked counts against the search's budget.  kTaken, kNoneLeft, or the
// run's result.
int take_next(X509_STORE_CTX* ctx, Position& p, SearchState* search) {
  const unsigned wanted = p.equal ? kEqual : kValid;
  p.holds = false;
  for (;;) {
    const int i = next_untried(p);
    if (!p.complete && (i < 0 || !(p.c[i].rank & wanted))) {
      const int r = complete_position(ctx, p, search);
      if (r <= 0) return r;
      continue;
    }
    if (i < 0) return kNoneLeft;
    p.c[i].tried = true;
    if (search != nullptr) {
      if (known_dead(search, p, p.c[i].cert, (p.c[i].rank & kTrusted) != 0)) continue;
      search->tried++;
    }
    if (p.c[i].checked || ctx->check_issued(ctx, p.subject, p.c[i].cert)) {
      p.taken = i;
      return kTaken;
    }
    if (search != nullptr) note_refusal(ctx, search, p.subject, p.c[i].cert);
  }
}

// The best issuer of x from one source, with a new reference: 1, 0 none,
// -1 an error (queued).
int best_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x, Source source) {
  Position p;
  p.subject = x;
  p.source = source;
  p.equal = X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) == 0;
  int r = open_position(ctx, p, nullptr);
  if (r > 0) r = take_next(ctx, p, nullptr);
  int ret = r == kTaken ? 1 : r == kNoneLeft ? 0 : -1;
  if (ret == 1) {
    *issuer = p.c[p.taken].cert;
    CRYPTO_add(&(*issuer)->references, 1, CRYPTO_LOCK_X509);
  }
  p.release();
  return ret;
}

// The chain above its base: one position per certificate taken.
class Search {
 public:
  Search(X509_STORE_CTX* ctx, Session& session, bool store_only)
      : ctx_(ctx), session_(session), source_(source_of(ctx)), store_only_(store_only) {}
  ~Search() {
    while (n_ > 0) close_position();
    MORVANE_free(pos_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // Notes the members of the chain as it stands; false (queued) without
  // memory.
  bool start() {
    for (int i = 0; i < sk_num(ctx_->chain); i++)
      if (!state_.members.add(chain_at(ctx_, i), i)) return false;
    return true;
  }

  // Builds on from the chain's top, taking the best candidate at each new
  // position: 1, or the run's result.
  int extend() {
    for (;;) {
      const int num = sk_num(ctx_->chain);
      X509* x = chain_at(ctx_, num - 1);
      if (ctx_->param->depth < num) {
        self_issued_ = ctx_->check_issued(ctx_, x, x) != 0;
        if (!self_issued_ && n_ > 0) pos_[n_ - 1].cut = true;  // nothing above x was sought
        return 1;
      }
      if (ctx_->check_issued(ctx_, x, x)) {
        self_issued_ = true;
        return 1;
      }
      self_issued_ = false;
      if (!open_next(x)) return 0;
      const int r = take_next(ctx_, pos_[n_ - 1], &state_);
      if (r <= 0) return r;
      if (r == kNoneLeft) return close_spent() ? 1 : 0;
      if (!take(n_ - 1)) return 0;
    }
  }

  // Replaces the candidate at the deepest position that has another and
  // builds on: kTaken, kNoneLeft when every position is spent, or the
  // run's result.
  int retry() {
    while (n_ > 0) {
      const int i = n_ - 1;
      pop_taken(pos_[i]);
      const int r = take_next(ctx_, pos_[i], &state_);
      if (r <= 0) return r;
      if (r == kTaken) {
        if (!take(i)) return 0;
        const int e = extend();
        return e <= 0 ? e : kTaken;
      }
      if (!close_spent()) return 0;
    }
    return kNoneLeft;
  }

  // Sets *broken to the highest position whose link does not hold, the
  // links not yet checked being checked from the anchor down (each key that
  // checks one is the anchor's or was vouched for by the link above, and
  // one without parameters takes those of the key above it), or to -1 when
  // every link holds.  A subject whose link holds is learnt as vouched for,
  // with the chain above it, when no certificate of that chain is flawed
  // (see flaws: none taken above `highest_flaw`).  false (queued) without
  // memory.
  bool first_broken_link(int* broken, int highest_flaw) {
    const SessionKey* above = nullptr;
    int kept_out = INT_MAX;
    bool cut = false;
    *broken = -1;
    for (int i = n_ - 1; i >= 0; i--) {
      Position& p = pos_[i];
      kept_out = std::min(kept_out, p.kept_out);
      cut = cut || p.cut;
      const Candidate& c = p.c[p.taken];
      const SessionKey* key = session_.key(c.cert, above);
      if (key == nullptr) return false;
      if (!p.holds || p.key != key) {
        p.holds = false;
        if (!link_holds(ctx_, session_, p.subject, c.cert, (c.rank & kTrusted) != 0, key)) {
          *broken = i;
          return true;
        }
        p.holds = true;
        p.key = key;
      }
      if (p.entry < 0 && i > highest_flaw && !learn(i, false, kept_out, cut)) return false;
      above = key;
    }
    return true;
  }

  // The lowest and the highest position whose certificate taken is flawed,
  // failing whatever stands below it: outside its validity period at the
  // verification moment, or, at the top, an anchor that the run's trust
  // setting does not trust (untrusted, or rejected for the purpose); -1 for
  // both when there is none.  The top must be an anchor.
  void flaws(int* lowest, int* highest) const {
    *lowest = *highest = -1;
    for (int i = 0; i < n_; i++) {
      const Position& p = pos_[i];
      const bool top = i == n_ - 1;
      if (!(p.c[p.taken].rank & kValid) ||
          (top && ctx_->param->trust > 0 &&
           X509_check_trust(p.c[p.taken].cert, ctx_->param->trust, 0) != X509_TRUST_TRUSTED)) {
        if (*lowest < 0) *lowest = i;
        *highest = i;
      }
    }
  }

  // Gives up the positions above `at`, whose certificates leave the chain,
  // so that the next retry replaces the candidate at `at`.
  void cut_above(int at) {
    while (n_ > at + 1) {
      pop_taken(pos_[n_ - 1]);
      close_position();
    }
  }

  bool self_issued() const { return self_issued_; }

  // The top is self-issued and did not come from the caller's list.
  bool reached() const { return self_issued_ && (n_ == 0 || top_trusted()); }

  // Candidates put to the issued-by step so far, at every position.
  int tried() const { return state_.tried; }

  // Whether a candidate issuer of x was refused only for lacking
  // digitalSignature, x being a proxy certificate.
  bool proxy_refused(X509* x) const { return x == state_.proxy_refused; }

 private:
  bool top_trusted() const {
    const Position& p = pos_[n_ - 1];
    return (p.c[p.taken].rank & kTrusted) != 0;
  }

  // The caller's certificates are offered until a store certificate is
  // taken: the chain is the caller's part, then the store's.
  bool offers_untrusted() const {
    return ctx_->untrusted != nullptr && !store_only_ &&
           (n_ == 0 || (pos_[n_ - 1].untrusted && !top_trusted()));
  }

  // A new position above the chain's top, not yet filled; null (queued)
  // without memory.
  Position* add_position(X509* x) {
    if (n_ == cap_) {
      const int cap = cap_ == 0 ? 4 : cap_ * 2;
      auto* grown = static_cast<Position*>(
          MORVANE_realloc(pos_, static_cast<size_t>(cap) * sizeof(Position)));
      if (grown == nullptr) {
        put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
        return nullptr;
      }
      pos_ = grown;
      cap_ = cap;
    }
    const bool untrusted = offers_untrusted();
    Position& p = pos_[n_++];
    p = Position();
    p.subject = x;
    p.source = source_;
    p.untrusted = untrusted;
    p.last_untrusted = ctx_->last_untrusted;
    p.index = sk_num(ctx_->chain) - 1;
    return &p;
  }

  bool open_next(X509* x) {
    if (offers_untrusted() && !state_.untrusted.build(ctx_->untrusted, session_)) return false;
    if (source_ == Source::kStack &&
        !state_.stack.build(static_cast<STACK*>(ctx_->other_ctx), session_))
      return false;
    Position* p = add_position(x);
    return p != nullptr && open_position(ctx_, *p, &state_);
  }

  // The top position's subject, folding what its search met into the
  // position below.
  void close_position() {
    Position& p = pos_[--n_];
    if (n_ > 0) {
      Position& below = pos_[n_ - 1];
      below.kept_out = std::min(below.kept_out, p.kept_out);
      below.cut = below.cut || p.cut;
    }
    p.release();
  }

  // Closes the top position, every candidate there spent: nothing above its
  // subject leads to an anchor.  false (queued) without memory.
  bool close_spent() {
    const Position& p = pos_[n_ - 1];
    const bool ok = learn(n_ - 1, true, p.kept_out, p.cut);
    close_position();
    return ok;
  }

  // Learns what was found above the subject at position i: nothing (dead),
  // or the chain now above it; what was learnt with a certificate below the
  // subject kept out holds only for that chain below, and a dead end is
  // then not kept.  false (queued) without memory.
  bool learn(int i, bool dead, int kept_out, bool cut) {
    Position& p = pos_[i];
    if (i == 0 || p.known) return true;  // the base is no one's candidate
    KnownIssuers::Entry e{};
    e.dead = dead;
    e.reusable = kept_out >= p.index;
    e.cut = cut;
    e.index = p.index;
    e.up_entry = -1;
    if (dead) {
      if (!e.reusable) return true;
    } else {
      if (i + 1 < n_) {
        e.up_entry = pos_[i + 1].entry;
        if (e.up_entry < 0) return true;  // the chain above cannot be put back
      }
      e.up = p.c[p.taken].cert;
      e.up_rank = p.c[p.taken].rank;
    }
    const Position& below = pos_[i - 1];
    const int r = state_.known.add(p.subject, (below.c[below.taken].rank & kTrusted) != 0, e);
    if (r == -2) return false;
    p.entry = r;
    return true;
  }

  // Takes the candidate chosen at position i into the chain, with the chain
  // learnt above it when that may stand here: its certificates are none of
  // the chain's, it fits under the depth limit, and it was learnt with
  // nothing below kept out and no less room.  false (queued) without memory.
  bool take(int i) {
    if (!push_taken(pos_[i])) return false;
    const Candidate& c = pos_[i].c[pos_[i].taken];
    const int first = state_.known.find(c.cert, (c.rank & kTrusted) != 0);
    if (first < 0) return true;
    const KnownIssuers::Entry& e = state_.known.at(first);
    const int at = sk_num(ctx_->chain) - 1;
    if (e.dead || !e.reusable || (e.cut && at < e.index)) return true;
    int length = 0;
    for (int k = first; k >= 0; k = state_.known.at(k).up_entry) {
      if (state_.members.index_of(state_.known.at(k).up) >= 0) return true;
      length++;
    }
    if (at + length > ctx_->param->depth) return true;
    pos_[i].cut = pos_[i].cut || e.cut;
    for (int k = first; k >= 0; k = state_.known.at(k).up_entry)
      if (!open_known(k)) return false;
    return true;
  }

  // A position above the chain's top whose one candidate, the issuer that
  // entry k names, is taken, its link known to hold.  false (queued)
  // without memory.
  bool open_known(int k) {
    const KnownIssuers::Entry& e = state_.known.at(k);
    Position* p = add_position(chain_at(ctx_, sk_num(ctx_->chain) - 1));
    if (p == nullptr) return false;
    p->known = true;
    p->holds = true;
    p->entry = k;
    p->c = static_cast<Candidate*>(MORVANE_malloc(sizeof(Candidate)));
    if (p->c == nullptr) {
      put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
      return false;
    }
    CRYPTO_add(&e.up->references, 1, CRYPTO_LOCK_X509);
    p->c[0] = {e.up, e.up_rank, true, true};
    p->n = p->cap = 1;
    p->taken = 0;
    return push_taken(*p);
  }

  bool push_taken(const Position& p) {
    X509* y = p.c[p.taken].cert;
    if (!state_.members.add(y, sk_num(ctx_->chain))) return false;
    if (sk_push(ctx_->chain, reinterpret_cast<char*>(y)) == 0) {
      state_.members.remove(y);
      put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
      return false;
    }
    CRYPTO_add(&y->references, 1, CRYPTO_LOCK_X509);
    if (!(p.c[p.taken].rank & kTrusted)) ctx_->last_untrusted++;
    return true;
  }

  // Takes the position's certificate off the chain's top.
  void pop_taken(Position& p) {
    auto* y = reinterpret_cast<X509*>(sk_pop(ctx_->chain));
    state_.members.remove(y);
    X509_free(y);
    ctx_->last_untrusted = p.last_untrusted;
    p.taken = -1;
  }

  X509_STORE_CTX* ctx_;
  Session& session_;
  Source source_;
  bool store_only_;
  bool self_issued_ = false;
  SearchState state_;
  Position* pos_ = nullptr;
  int n_ = 0;
  int cap_ = 0;
};

void free_cert(void* p) {
  X509_free(static_cast<X509*>(p));
}

// A copy of the chain, each certificate with a new reference; null (queued)
// when it cannot be made.
STACK* copy_chain(STACK* chain) {
  STACK* copy = sk_dup(chain);
  if (copy == nullptr) {
    put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
    return nullptr;
  }
  for (int i = 0; i < sk_num(copy); i++)
    CRYPTO_add(&reinterpret_cast<X509*>(sk_value(copy, i))->references, 1, CRYPTO_LOCK_X509);
  return copy;
}

// A chain the search may put back when it finds none that is final: a copy
// of the chain, each certificate with a new reference, and what the run
// needs to know of it.
struct KeptChain {
  STACK* chain = nullptr;
  int last_untrusted = 0;
  bool self_issued = false;
  bool reached = false;

  ~KeptChain() { sk_pop_free(chain, free_cert); }

  // Keeps the context's chain as it stands; false (queued) without memory.
  bool keep(X509_STORE_CTX* ctx, bool top_self_issued, bool at_anchor) {
    chain = copy_chain(ctx->chain);
    last_untrusted = ctx->last_untrusted;
    self_issued = top_self_issued;
    reached = at_anchor;
    return chain != nullptr;
  }

  // Makes it the context's chain.
  void put_back(X509_STORE_CTX* ctx, bool* top_self_issued, bool* at_anchor) {
    sk_pop_free(ctx->chain, free_cert);
    ctx->chain = chain;
    ctx->last_untrusted = last_untrusted;
    *top_self_issued = self_issued;
    *at_anchor = reached;
    chain = nullptr;
  }
};

// Searches for a final chain, one that reaches an anchor by links that
// hold and whose certificates are not flawed (Search::flaws), trying about
// kMaxTries candidates at most.  When none is found, the first one built
// that reaches an anchor by links that hold is put back, else the first one
// built.  1, or the run's result.
// *proxy_refused: the top of the chain put back is a proxy certificate
// whose issuer was refused for lacking digitalSignature.
int search_chain(X509_STORE_CTX* ctx, bool store_only, bool* self_issued, bool* reached,
                 bool* proxy_refused) {
  SessionScope session(ctx);
  Search s(ctx, session.get(), store_only);
  if (!s.start()) return 0;
  int r = s.extend();
  if (r <= 0) return r;
  KeptChain first;
  KeptChain flawed;  // the first that reaches an anchor by links that hold
  for (;;) {
    const bool at_anchor = s.reached();
    int broken = -1;
    int lowest_flaw = -1;
    int highest_flaw = -1;
    if (at_anchor) {
      s.flaws(&lowest_flaw, &highest_flaw);
      if (!s.first_broken_link(&broken, highest_flaw)) return 0;
      if (broken < 0 && lowest_flaw < 0) {
        *self_issued = s.self_issued();
        *reached = true;
        return 1;
      }
      if (broken < 0 && flawed.chain == nullptr && !flawed.keep(ctx, s.self_issued(), true))
        return 0;
    }
    if (first.chain == nullptr && !first.keep(ctx, s.self_issued(), at_anchor)) return 0;
    if (s.tried() >= kMaxTries) break;
    // A flawed certificate is in no final chain: the next one replaces it.
    if (broken >= 0 || lowest_flaw >= 0)
      s.cut_above(broken < 0        ? lowest_flaw
                  : lowest_flaw < 0 ? broken
                                    : std::min(broken, lowest_flaw));
    r = s.retry();
    if (r <= 0) return r;
    if (r == kNoneLeft) break;
  }
  (flawed.chain != nullptr ? flawed : first).put_back(ctx, self_issued, reached);
  *proxy_refused = s.proxy_refused(chain_at(ctx, sk_num(ctx->chain) - 1));
  return 1;
}

// A lone self-issued target: the run goes on from the store's copy, or
// reports error 18.
int lone_target(X509_STORE_CTX* ctx, X509* x, bool* bad_chain) {
  X509* xtmp = nullptr;
  const int ok = ctx->get_issuer(&xtmp, ctx, x);
  if (ok <= 0 || X509_cmp(x, xtmp) != 0) {
    if (ok > 0) X509_free(xtmp);
    ctx->error = X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT;
    ctx->current_cert = x;
    ctx->error_depth = 0;
    *bad_chain = true;
    return ctx->verify_cb(0, ctx) ? 1 : 0;
  }
  X509_free(x);
  sk_set(ctx->chain, 0, reinterpret_cast<char*>(xtmp));
  ctx->last_untrusted = 0;
  return 1;
}

}  // namespace

int check_issued(X509_STORE_CTX* ctx, X509* x, X509* issuer) {
  const int ret = X509_check_issued(issuer, x);
  if (ret == X509_V_OK) return 1;
  if (!(flags_of(ctx) & X509_V_FLAG_CB_ISSUER_CHECK)) return 0;
  ctx->error = ret;
  ctx->current_cert = x;
  ctx->current_issuer = issuer;
  return ctx->verify_cb(0, ctx);
}

int get_issuer_sk(X509** issuer, X509_STORE_CTX* ctx, X509* x) {
  return best_issuer(issuer, ctx, x, Source::kStack);
}

int store_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x) {
  if (ctx->ctx == nullptr) return 0;
  return best_issuer(issuer, ctx, x, Source::kStore);
}

int build_chain(X509_STORE_CTX* ctx, bool* bad_chain) {
  if (ctx->chain == nullptr) {
    ctx->chain = sk_new_null();
    if (ctx->chain == nullptr || sk_push(ctx->chain, reinterpret_cast<char*>(ctx->cert)) == 0) {
      put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
      return 0;
    }
    CRYPTO_add(&ctx->cert->references, 1, CRYPTO_LOCK_X509);
    ctx->last_untrusted = 1;
  }
  int num = sk_num(ctx->chain);
  X509* x = chain_at(ctx, num - 1);
  // A self-issued top of a chain the caller placed in the context (a run's
  // own chain is dropped before the next run) is set aside until the store
  // has had its say.
  X509* chain_ss = nullptr;
  if (ctx->check_issued(ctx, x, x)) {
    if (num == 1) return lone_target(ctx, x, bad_chain);
    chain_ss = reinterpret_cast<X509*>(sk_pop(ctx->chain));
    ctx->last_untrusted--;
  }
  bool self_issued = false;
  bool reached = false;
  bool proxy_refused = false;
  const int r = search_chain(ctx, chain_ss != nullptr, &self_issued, &reached, &proxy_refused);
  if (r <= 0 || reached) {
    X509_free(chain_ss);
    return r;
  }
  num = sk_num(ctx->chain);
  x = chain_at(ctx, num - 1);
  if (self_issued) {  // a self-issued certificate of the caller's
    ctx->last_untrusted = num;
    ctx->current_cert = x;
    ctx->error = X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
  } else if (chain_ss != nullptr && ctx->check_issued(ctx, x, chain_ss)) {
    if (sk_push(ctx->chain, reinterpret_cast<char*>(chain_ss)) == 0) {
      X509_free(chain_ss);
      put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
      return 0;
    }
    num++;
    ctx->last_untrusted = num;
    ctx->current_cert = chain_ss;
    ctx->error = X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
    chain_ss = nullptr;
  } else if (proxy_refused) {
    ctx->error = X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE;
    ctx->current_cert = x;
  } else {
    ctx->error = ctx->last_untrusted >= num ? X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY
                                            : X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT;
    ctx->current_cert = x;
  }
  X509_free(chain_ss);
  ctx->error_depth = num - 1;
  *bad_chain = true;
  return ctx->verify_cb(0, ctx) ? 1 : 0;
}

}  // namespace morvane::x509
