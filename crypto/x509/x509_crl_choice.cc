// Which revocation list decides for a certificate: of every list of its
// issuer the verifier can see (the context's list, and the store's objects
// of that name once its lookups have loaded what they have now), those the
// issuer's own key signed, and of them the newest in time.  An issuer
// publishes a new list each period, and a CA that re-keys under one name
// keeps a list for each key; taking the first one found would let the order
// in which lists were added decide, and a list by another key (or a forged
// one) would hide the issuer's.
//
// Implementation notes: a list whose authorityKeyIdentifier names another
// key than the issuer's subjectKeyIdentifier is passed over unread, and so
// is one whose signature does not verify under the issuer's key (the check
// marks a list it verified, x509_sig_mark.cc, so each list is verified once
// per key).  Lists issued at one moment are ordered by cRLNumber; when that
// ties too, one that revokes the certificate is taken.  Delta lists (RFC
// 5280, 5.2.4) carry only the changes since a complete list and are never
// taken as one, nor merged into it: the complete list decides, and a newer
// delta list can only add a revocation (check_delta).

#include <stdint.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/lock.h"
#include "x509_local.h"

namespace morvane::x509 {

namespace {

constexpr int kNidCrlNumber = 88;           // 2.5.29.20
constexpr int kNidAuthorityKeyId = 90;      // 2.5.29.35
constexpr int kNidDeltaCrlIndicator = 140;  // 2.5.29.27
constexpr int kNidReasonCode = 141;         // 2.5.29.21
constexpr int kNidInvalidityDate = 142;     // 2.5.29.24
constexpr int kNidHoldInstruction = 430;    // 2.5.29.23
constexpr long kRemoveFromCrl = 8;          // RFC 5280, 5.3.1

// Facts of a list's entries kept in its `flags` (under lock 6) while its
// signed part is the one decoded: whether they were read, and whether an
// entry carries a critical extension the verifier cannot process.
constexpr int kEntriesRead = 0x1;
constexpr int kEntryUnhandled = 0x2;

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

// The list's cRLNumber (RFC 5280, 5.2.3), new; null when absent or
// unreadable.
ASN1_INTEGER* crl_number(X509_CRL* crl) {
  const QuietErrors quiet;
  return static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, kNidCrlNumber, nullptr, nullptr));
}

// Negative, 0 or positive as a was issued before b, at the same point or
// after it: by lastUpdate, then by cRLNumber (an absent one the lowest).
int compare_issue(X509_CRL* a, X509_CRL* b) {
  if (issued_after(a, b)) return 1;
  if (issued_after(b, a)) return -1;
  ASN1_INTEGER* na = crl_number(a);
  ASN1_INTEGER* nb = crl_number(b);
  int c = (na != nullptr) - (nb != nullptr);
  if (c == 0 && na != nullptr) c = ASN1_INTEGER_cmp(na, nb);
  ASN1_INTEGER_free(na);
  ASN1_INTEGER_free(nb);
  return c;
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

// Whether a is to be taken rather than b for x: the later issued; of lists
// issued at one point, the one that revokes x, then either by a fixed order
// of their signatures, so that the order in which they are met never
// decides.
bool preferred(X509_CRL* a, X509_CRL* b, X509* x, bool delta) {
  const int c = compare_issue(a, b);
  if (c != 0) return c > 0;
  const bool ra = revokes(a, x, delta);
  if (ra != revokes(b, x, delta)) return ra;
  return ASN1_STRING_cmp(a->signature, b->signature) > 0;
}

// Who signed a list, as far as the verifier can tell from its issuer
// certificate.
enum class Signer { kIssuerKey, kOtherKey, kForged };

// What the lists of x are judged by: the certificate whose key signs them
// (crl_issuer), its key (null when it cannot be decoded: the list is then
// not judged by its signature, and check_crl reports the key) and its
// subjectKeyIdentifier.
class Judge {
 public:
  Judge(X509_STORE_CTX* ctx, X509* x)
      : ctx_(ctx), x_(x), issuer_(crl_issuer(ctx)), key_(key_of(issuer_)), checking_(key_) {
    if (issuer_ != nullptr) skid_ = issuer_->skid;
  }
  ~Judge() { EVP_PKEY_free(key_); }
  Judge(const Judge&) = delete;
  Judge& operator=(const Judge&) = delete;

  X509_STORE_CTX* ctx() const { return ctx_; }
  X509* x() const { return x_; }

  // A list whose authorityKeyIdentifier names another key than the
  // issuer's subjectKeyIdentifier is that key's; else its signature under
  // the issuer's key decides (a verified one is marked for that key).
  Signer signer(X509_CRL* crl) const {
    if (skid_ != nullptr) {
      const QuietErrors quiet;
      auto* akid = static_cast<AUTHORITY_KEYID*>(
          X509_CRL_get_ext_d2i(crl, kNidAuthorityKeyId, nullptr, nullptr));
      const bool other = akid != nullptr && akid->keyid != nullptr &&
                         ASN1_OCTET_STRING_cmp(akid->keyid, skid_) != 0;
      AUTHORITY_KEYID_free(akid);
      if (other) return Signer::kOtherKey;
    }
    if (key_ == nullptr) return Signer::kIssuerKey;
    const QuietErrors quiet;  // a list passed over leaves nothing queued
    return check_crl_signature(crl, checking_) > 0 ? Signer::kIssuerKey : Signer::kForged;
  }

 private:
  // The issuer's key with its cached facts computed (so that its skid is
  // read), or null.
  static EVP_PKEY* key_of(X509* issuer) {
    if (issuer == nullptr) return nullptr;
    const QuietErrors quiet;  // check_crl reports a key it cannot decode
    X509_check_purpose(issuer, -1, 0);
    return X509_get_pubkey(issuer);
  }

  X509_STORE_CTX* ctx_;
  X509* x_;
  X509* issuer_;
  EVP_PKEY* key_;
  mutable CheckingKey checking_;  // key_, its digest made once for every list
  ASN1_OCTET_STRING* skid_ = nullptr;
};

// The lists of one issuer seen so far, each slot with a reference.  Of the
// lists by the issuer's key: the complete one to take in time and of all,
// and the delta list to take in time.  Of the other complete lists: the one
// to take of those whose signature fails, and whether one was another
// key's.
struct Choice {
  X509_CRL* current = nullptr;
  X509_CRL* latest = nullptr;
  X509_CRL* delta = nullptr;
  X509_CRL* forged = nullptr;
  bool other_key = false;

  Choice() = default;
  ~Choice() {
    X509_CRL_free(current);
    X509_CRL_free(latest);
    X509_CRL_free(delta);
    X509_CRL_free(forged);
  }
  Choice(const Choice&) = delete;
  Choice& operator=(const Choice&) = delete;

  void consider(const Judge& j, X509_CRL* crl) {
    const bool is_delta_list = is_delta(crl);
    const Signer by = j.signer(crl);
    if (by == Signer::kOtherKey) {
      other_key = other_key || !is_delta_list;
      return;
    }
    if (by == Signer::kForged) {
      if (!is_delta_list) keep(&forged, crl, j.x(), false);
      return;
    }
    const bool ok = in_time(j.ctx(), crl);
    if (is_delta_list) {
      if (ok) keep(&delta, crl, j.x(), true);
      return;
    }
    keep(&latest, crl, j.x(), false);
    if (ok) keep(&current, crl, j.x(), false);
  }

  // The complete list that decides: the one in time, else the latest (its
  // time check fails), else, when no other key's list was seen, the one
  // whose signature fails its check; null for none.
  X509_CRL* decides() const {
    if (current != nullptr) return current;
    if (latest != nullptr) return latest;
    return other_key ? nullptr : forged;
  }

 private:
  static void keep(X509_CRL** slot, X509_CRL* crl, X509* x, bool delta) {
    if (*slot != nullptr && (*slot == crl || !preferred(crl, *slot, x, delta))) return;
    CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
    X509_CRL_free(*slot);
    *slot = crl;
  }
};

// The lists met by a search, each once and with a reference; a list that
// could not be kept for lack of memory is missing ("malloc failure").
class Met {
 public:
  Met() = default;
  ~Met() {
    sk_pop_free(lists_, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  }
  Met(const Met&) = delete;
  Met& operator=(const Met&) = delete;

  void add(X509_CRL* crl) {
    for (int i = 0; i < sk_num(lists_); i++)
      if (sk_value(lists_, i) == reinterpret_cast<char*>(crl)) return;
    if (lists_ == nullptr) lists_ = sk_new_null();
    if (lists_ == nullptr || !sk_push(lists_, reinterpret_cast<char*>(crl))) {
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                    __LINE__);
      return;
    }
    CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
  }
  // Each list met to the choice, in the order met.
  void judge(const Judge& j, Choice* choice) const {
    for (int i = 0; i < sk_num(lists_); i++)
      choice->consider(j, reinterpret_cast<X509_CRL*>(sk_value(lists_, i)));
  }

 private:
  STACK* lists_ = nullptr;
};

// Keeps a list of the store: one of its cache, or one a lookup method
// returned (it may keep it out of the cache).
int keep_held(void* arg, X509_OBJECT* obj) {
  static_cast<Met*>(arg)->add(obj->data.crl);
  return 1;
}

// Meets every list of the issuer name nm: the context's list, then, with
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
  const Judge judge(ctx, x);
  Choice choice;
  met.judge(judge, &choice);
  X509_CRL* crl = choice.decides();
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
  const Judge judge(ctx, x);
  Choice choice;
  met.judge(judge, &choice);
  X509_CRL* delta = choice.delta;
  if (delta == nullptr || issued_after(crl, delta) || !revokes(delta, x, true)) return 1;
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
    if (crl->flags & kEntriesRead) return (crl->flags & kEntryUnhandled) != 0;
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
    crl->flags |= kEntriesRead | (unhandled ? kEntryUnhandled : 0);
  }
  return unhandled;
}

}  // namespace morvane::x509
