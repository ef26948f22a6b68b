// Which revocation list decides for a certificate: of every list of its
// issuer the verifier can see (the context's list, and the store's objects
// of that name once its lookups have loaded what they have now), the newest
// in time.  An issuer publishes a new list each period; taking the first one
// found would let the order in which lists were added decide.
//
// Implementation notes: delta lists (RFC 5280, 5.2.4) carry only the
// changes since a complete list and are never taken as one, nor merged
// into it: the complete list decides, and a newer delta list can only add
// a revocation (check_delta).

#include <stdint.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/lock.h"
#include "x509_local.h"

namespace morvane::x509 {

namespace {

constexpr int kNidDeltaCrlIndicator = 140;  // 2.5.29.27
constexpr int kNidReasonCode = 141;         // 2.5.29.21
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

// Seconds since 1970-01-01 UTC of a time, by the proleptic Gregorian
// calendar (the day count of H. Hinnant's days_from_civil); false when
// the time is malformed.
bool seconds(const ASN1_TIME* t, int64_t* out) {
  TimeDigits d;
  if (!read_time(t, &d)) return false;
  auto field = [&d](int at, int len) {
    int64_t v = 0;
    for (int i = 0; i < len; i++) v = v * 10 + (d.text[at + i] - '0');
    return v;
  };
  const int64_t month = field(4, 2);
  const int64_t year = field(0, 4) - (month <= 2 ? 1 : 0);
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + field(6, 2) - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const int64_t days = era * 146097 + day_of_era - 719468;
  *out = days * 86400 + field(8, 2) * 3600 + field(10, 2) * 60 + field(12, 2) - d.offset * 60;
  return true;
}

// Whether a was issued after b (by lastUpdate); a malformed time is the
// earliest.
bool issued_after(X509_CRL* a, X509_CRL* b) {
  int64_t ta;
  int64_t tb;
  if (!seconds(a->crl->lastUpdate, &ta)) return false;
  if (!seconds(b->crl->lastUpdate, &tb)) return true;
  return ta > tb;
}

// The lists of one issuer seen so far: of the complete ones the latest in
// time and the latest of all, and the latest delta list in time, each with
// a reference.  Of lists issued at one moment the first seen stays.
struct Choice {
  X509_CRL* current = nullptr;
  X509_CRL* latest = nullptr;
  X509_CRL* delta = nullptr;

  Choice() = default;
  ~Choice() {
    X509_CRL_free(current);
    X509_CRL_free(latest);
    X509_CRL_free(delta);
  }
  Choice(const Choice&) = delete;
  Choice& operator=(const Choice&) = delete;

  void consider(X509_STORE_CTX* ctx, X509_CRL* crl) {
    const bool ok = in_time(ctx, crl);
    if (is_delta(crl)) {
      if (ok && (delta == nullptr || issued_after(crl, delta))) keep(&delta, crl);
      return;
    }
    if (latest == nullptr || issued_after(crl, latest)) keep(&latest, crl);
    if (ok && (current == nullptr || issued_after(crl, current))) keep(&current, crl);
  }

 private:
  static void keep(X509_CRL** slot, X509_CRL* crl) {
    CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
    X509_CRL_free(*slot);
    *slot = crl;
  }
};

struct Gathering {
  X509_STORE_CTX* ctx;
  Choice* choice;
};

// Considers a list of the store: one of its cache, or one a lookup method
// returned (it may keep it out of the cache).
int consider_held(void* arg, X509_OBJECT* obj) {
  auto* g = static_cast<Gathering*>(arg);
  g->choice->consider(g->ctx, obj->data.crl);
  return 1;
}

// Considers every list of the issuer name nm: the context's list, then,
// with `load`, what the store's lookup methods return, then the store's
// cache.  The methods have loaded what they have now before the cache is
// read, so the choice never rests on a load half done, whatever the cache
// held before and whatever other threads load meanwhile.  1, or a method's
// negative answer.
int gather(X509_STORE_CTX* ctx, X509_NAME* nm, bool load, Choice* choice) {
  for (int i = 0; i < sk_num(ctx->crls); i++) {
    auto* crl = reinterpret_cast<X509_CRL*>(sk_value(ctx->crls, i));
    if (X509_NAME_cmp(nm, crl->crl->issuer) == 0) choice->consider(ctx, crl);
  }
  if (ctx->ctx == nullptr) return 1;
  Gathering g{ctx, choice};
  if (load) {
    const int r = load_subject(ctx, X509_LU_CRL, nm, consider_held, &g);
    if (r < 0) return r;
  }
  return scan_subject(ctx->ctx, X509_LU_CRL, nm, consider_held, &g);
}

}  // namespace

int get_crl(X509_STORE_CTX* ctx, X509_CRL** pcrl, X509* x) {
  Choice choice;
  if (gather(ctx, X509_get_issuer_name(x), true, &choice) < 0) {
    // A method that has not answered may hold a newer list.
    ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, X509_R_SHOULD_RETRY, __FILE__, __LINE__);
    return 0;
  }
  X509_CRL* crl = choice.current != nullptr ? choice.current : choice.latest;
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
  Choice choice;
  gather(ctx, X509_get_issuer_name(x), false, &choice);
  X509_CRL* delta = choice.delta;
  if (delta == nullptr || issued_after(crl, delta)) return 1;
  X509_REVOKED* entry = crl_entry(delta, x);
  if (entry == nullptr) return 1;
  // An entry of reason removeFromCRL takes the certificate off the list; a
  // reason that cannot be read counts as a revocation.
  auto* reason = static_cast<ASN1_ENUMERATED*>(
      X509_REVOKED_get_ext_d2i(entry, kNidReasonCode, nullptr, nullptr));
  const bool removed = reason != nullptr && ASN1_ENUMERATED_get(reason) == kRemoveFromCrl;
  ASN1_ENUMERATED_free(reason);
  if (removed) return 1;
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

}  // namespace morvane::x509
