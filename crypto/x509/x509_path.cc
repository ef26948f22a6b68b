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
// builds on.  When no chain reaches an anchor, the first one built is kept,
// with the errors it has always had; the chain errors go to the verify
// callback for the chain kept only.  (With X509_V_FLAG_CB_ISSUER_CHECK the
// callback hears of each candidate the issued-by step refuses as it is
// looked at, in chains given up as well.)

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "x509_local.h"

namespace morvane::x509 {
namespace {

// Chains one verification builds at most, the first included.  Each is at
// most the depth limit long and every candidate is looked at once per
// position, so a hostile untrusted list of many certificates of one name
// costs a bounded number of dead ends, not one per combination.
constexpr int kMaxChains = 16;

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

unsigned long flags_of(X509_STORE_CTX* ctx) {
  return ctx->param != nullptr ? ctx->param->flags : 0;
}

bool valid_at_moment(X509_STORE_CTX* ctx, X509* y) {
  time_t* moment = check_moment(ctx);
  const X509_VAL* v = y->cert_info->validity;
  return X509_cmp_time(v->notBefore, moment) < 0 && X509_cmp_time(v->notAfter, moment) > 0;
}

// Whether y can be offered as x's issuer at all: with the built-in step and
// no callback to hear of refusals, only a certificate of the right subject.
bool may_issue(X509_STORE_CTX* ctx, X509* x, X509* y) {
  if (ctx->check_issued != check_issued || (flags_of(ctx) & X509_V_FLAG_CB_ISSUER_CHECK))
    return true;
  return X509_NAME_cmp(X509_get_subject_name(y), X509_get_issuer_name(x)) == 0;
}

// A path never holds one certificate twice.
bool in_chain(X509_STORE_CTX* ctx, X509* y) {
  for (int i = 0; i < sk_num(ctx->chain); i++) {
    X509* c = chain_at(ctx, i);
    if (c == y || X509_cmp(c, y) == 0) return true;
  }
  return false;
}

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
  bool complete = true;    // every source has given what it has
  bool untrusted = false;  // the caller's certificates were offered here
  bool search = false;     // for the chain search: chain members excluded
  bool equal = false;      // the subject is self-issued: its own copy first
  int last_untrusted = 0;  // the context's count before the position was filled
  int taken = -1;          // the candidate in the chain

  void release() {
    for (int i = 0; i < n; i++) X509_free(c[i].cert);
    MORVANE_free(c);
    c = nullptr;
    n = cap = 0;
  }
};

struct Adding {
  X509_STORE_CTX* ctx;
  Position* pos;
  bool trusted;
  bool dedupe;
  bool checked;
};

// Appends y with its rank (and a reference); 0 with "malloc failure" queued.
int add_candidate(void* arg, X509* y) {
  auto* a = static_cast<Adding*>(arg);
  Position& p = *a->pos;
  if (a->dedupe) {
    for (int i = 0; i < p.n; i++)
      if (p.c[i].cert == y) return 1;
  }
  if (p.search && in_chain(a->ctx, y)) return 1;
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

// add_candidate for a certificate of the store (its cache, a lookup method).
int add_object(void* arg, X509_OBJECT* obj) {
  return add_candidate(arg, obj->data.x509);
}

// Offers each certificate of sk that may issue the subject.
int add_list(X509_STORE_CTX* ctx, Position& p, STACK* sk, bool trusted) {
  Adding a{ctx, &p, trusted, false, false};
  for (int i = 0; i < sk_num(sk); i++) {
    auto* y = reinterpret_cast<X509*>(sk_value(sk, i));
    if (may_issue(ctx, p.subject, y) && !add_candidate(&a, y)) return 0;
  }
  return 1;
}

// Fills a position from what is at hand: the caller's list when offered,
// the store's cache, a trusted stack.  1, or 0 (queued).
int open_position(X509_STORE_CTX* ctx, Position& p) {
  p.complete = p.source != Source::kStore && p.source != Source::kStep;
  if (p.untrusted && !add_list(ctx, p, ctx->untrusted, false)) return 0;
  switch (p.source) {
    case Source::kStore: {
      Adding a{ctx, &p, true, false, false};
      return scan_subject(ctx->ctx, X509_LU_X509, X509_get_issuer_name(p.subject), add_object, &a);
    }
    case Source::kStack:
      return add_list(ctx, p, static_cast<STACK*>(ctx->other_ctx), true);
    default:
      return 1;
  }
}

// Asks the sources that cost more: the store's lookup methods (then the
// cache again), or the application's issuer step.  1, or the run's result.
int complete_position(X509_STORE_CTX* ctx, Position& p) {
  p.complete = true;
  if (p.source == Source::kStore) {
    X509_NAME* name = X509_get_issuer_name(p.subject);
    Adding a{ctx, &p, true, true, false};
    const int r = load_subject(ctx, X509_LU_X509, name, add_object, &a);
    if (r < 0) {
      if (r == X509_LU_RETRY)
        put_error(X509_F_X509_STORE_CTX_GET1_ISSUER, X509_R_SHOULD_RETRY, __LINE__);
      return -1;
    }
    if (r == 0) return 0;
    return scan_subject(ctx->ctx, X509_LU_X509, name, add_object, &a);
  }
  if (p.source == Source::kStep) {
    X509* y = nullptr;
    const int r = ctx->get_issuer(&y, ctx, p.subject);
    if (r < 0) return r;
    if (r == 0) return 1;
    Adding a{ctx, &p, true, true, true};
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
// subject's own copy, when that is sought).  kTaken, kNoneLeft, or the
// run's result.
int take_next(X509_STORE_CTX* ctx, Position& p) {
  const unsigned wanted = p.equal ? kEqual : kValid;
  for (;;) {
    const int i = next_untried(p);
    if (!p.complete && (i < 0 || !(p.c[i].rank & wanted))) {
      const int r = complete_position(ctx, p);
      if (r <= 0) return r;
      continue;
    }
    if (i < 0) return kNoneLeft;
    p.c[i].tried = true;
    if (p.c[i].checked || ctx->check_issued(ctx, p.subject, p.c[i].cert)) {
      p.taken = i;
      return kTaken;
    }
  }
}

// The best issuer of x from one source, with a new reference: 1, 0 none,
// -1 an error (queued).
int best_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x, Source source) {
  Position p;
  p.subject = x;
  p.source = source;
  p.equal = X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) == 0;
  int r = open_position(ctx, p);
  if (r > 0) r = take_next(ctx, p);
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
  Search(X509_STORE_CTX* ctx, bool store_only)
      : ctx_(ctx), source_(source_of(ctx)), store_only_(store_only) {}
  ~Search() {
    while (n_ > 0) close_position();
    MORVANE_free(pos_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // Builds on from the chain's top, taking the best candidate at each new
  // position: 1, or the run's result.
  int extend() {
    for (;;) {
      const int num = sk_num(ctx_->chain);
      X509* x = chain_at(ctx_, num - 1);
      if (ctx_->param->depth < num) {
        self_issued_ = ctx_->check_issued(ctx_, x, x) != 0;
        return 1;
      }
      if (ctx_->check_issued(ctx_, x, x)) {
        self_issued_ = true;
        return 1;
      }
      self_issued_ = false;
      Position* p = open_next(x);
      if (p == nullptr) return 0;
      const int r = take_next(ctx_, *p);
      if (r <= 0) return r;
      if (r == kNoneLeft) {
        close_position();
        return 1;
      }
      if (!push_taken(*p)) return 0;
    }
  }

  // Replaces the candidate at the deepest position that has another and
  // builds on: kTaken, kNoneLeft when every position is spent, or the
  // run's result.
  int retry() {
    while (n_ > 0) {
      Position& p = pos_[n_ - 1];
      X509_free(reinterpret_cast<X509*>(sk_pop(ctx_->chain)));
      ctx_->last_untrusted = p.last_untrusted;
      p.taken = -1;
      const int r = take_next(ctx_, p);
      if (r <= 0) return r;
      if (r == kTaken) {
        if (!push_taken(p)) return 0;
        const int e = extend();
        return e <= 0 ? e : kTaken;
      }
      close_position();
    }
    return kNoneLeft;
  }

  bool self_issued() const { return self_issued_; }

  // The top is self-issued and did not come from the caller's list.
  bool reached() const { return self_issued_ && (n_ == 0 || top_trusted()); }

 private:
  bool top_trusted() const {
    const Position& p = pos_[n_ - 1];
    return (p.c[p.taken].rank & kTrusted) != 0;
  }

  Position* open_next(X509* x) {
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
    // The caller's certificates are offered until a store certificate is
    // taken: the chain is the caller's part, then the store's.
    const bool untrusted = ctx_->untrusted != nullptr && !store_only_ &&
                           (n_ == 0 || (pos_[n_ - 1].untrusted && !top_trusted()));
    Position& p = pos_[n_++];
    p = Position();
    p.subject = x;
    p.source = source_;
    p.untrusted = untrusted;
    p.search = true;
    p.last_untrusted = ctx_->last_untrusted;
    return open_position(ctx_, p) ? &p : nullptr;
  }

  void close_position() { pos_[--n_].release(); }

  bool push_taken(const Position& p) {
    X509* y = p.c[p.taken].cert;
    if (sk_push(ctx_->chain, reinterpret_cast<char*>(y)) == 0) {
      put_error(X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __LINE__);
      return false;
    }
    CRYPTO_add(&y->references, 1, CRYPTO_LOCK_X509);
    if (!(p.c[p.taken].rank & kTrusted)) ctx_->last_untrusted++;
    return true;
  }

  X509_STORE_CTX* ctx_;
  Source source_;
  bool store_only_;
  bool self_issued_ = false;
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

// Searches for a chain that reaches an anchor, building at most kMaxChains;
// when none does, the first one built is put back.  1, or the run's result.
int search_chain(X509_STORE_CTX* ctx, bool store_only, bool* self_issued, bool* reached) {
  Search s(ctx, store_only);
  int r = s.extend();
  if (r <= 0) return r;
  *self_issued = s.self_issued();
  *reached = s.reached();
  if (*reached) return 1;
  STACK* first = copy_chain(ctx->chain);
  if (first == nullptr) return 0;
  const int first_untrusted = ctx->last_untrusted;
  for (int chains = 1; chains < kMaxChains && !*reached; chains++) {
    r = s.retry();
    if (r <= 0) {
      sk_pop_free(first, free_cert);
      return r;
    }
    if (r == kNoneLeft) break;
    *reached = s.reached();
  }
  if (*reached) {
    *self_issued = s.self_issued();
    sk_pop_free(first, free_cert);
  } else {
    sk_pop_free(ctx->chain, free_cert);
    ctx->chain = first;
    ctx->last_untrusted = first_untrusted;
  }
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
  // A self-issued top of a chain left by an earlier run is set aside until
  // the store has had its say.
  X509* chain_ss = nullptr;
  if (ctx->check_issued(ctx, x, x)) {
    if (num == 1) return lone_target(ctx, x, bad_chain);
    chain_ss = reinterpret_cast<X509*>(sk_pop(ctx->chain));
    ctx->last_untrusted--;
  }
  bool self_issued = false;
  bool reached = false;
  const int r = search_chain(ctx, chain_ss != nullptr, &self_issued, &reached);
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
