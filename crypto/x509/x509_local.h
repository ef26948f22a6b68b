// Helpers shared by the files of the X.509 library.
#ifndef MORVANE_CRYPTO_X509_LOCAL_H
#define MORVANE_CRYPTO_X509_LOCAL_H

#include <time.h>

#include <morvane/asn1.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/err_mark.h"
#include "internal/err_watch.h"

namespace morvane::x509 {

// The object named by field (a short or long name or a dotted number), new
// (free it); null with "invalid field name" under function code func, the
// text attached as "name=" field.
ASN1_OBJECT* field_object(const char* field, int func);

// 1 when k is the private key of xk (which is freed); else 0 with the
// reason under function code func ("unable to get certs public key" for a
// null xk).
int check_private_key(EVP_PKEY* xk, EVP_PKEY* k, int func);

// The built-in issued-by step: 1 when X509_check_issued says issuer issued
// x; with X509_V_FLAG_CB_ISSUER_CHECK a refusal goes to the verify callback,
// whose answer is the result.
int check_issued(X509_STORE_CTX* ctx, X509* x, X509* issuer);

// Issuer steps (1 found, with a new reference; 0 none; -1 an error): from
// the trusted stack of X509_STORE_CTX_trusted_stack, and from the context's
// store, asking its lookup methods when the cache holds nothing valid (for
// a self-issued x: not x itself).  Of the candidates that pass the
// issued-by step, x's own copy comes first, then one valid at the
// verification moment, then the first supplied.
int get_issuer_sk(X509** issuer, X509_STORE_CTX* ctx, X509* x);
int store_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x);

// Builds the context's chain from its target up to a trust anchor, trying
// other issuer candidates when the first chain found does not reach one,
// and reports the chain's errors (18, 19, 20, 2) to the verify callback,
// setting *bad_chain.  1 to go on with the checks, 0 failure, or a lookup's
// negative answer.
int build_chain(X509_STORE_CTX* ctx, bool* bad_chain);

// Receives one object of a store search; 0 ends the search.
using ObjectSink = int (*)(void* arg, X509_OBJECT* obj);

// Passes each object of a type (X509_LU_X509 or X509_LU_CRL) and name (a
// certificate's subject, a list's issuer) in the store's cache to add, in
// cache order, holding lock 11.  1, or 0 when add ended the search.
int scan_subject(X509_STORE* store, int type, X509_NAME* name, ObjectSink add, void* arg);

// Asks each lookup method of the context's store for the objects of a type
// (X509_LU_X509 or X509_LU_CRL) and name, so that the cache holds what they
// load; each method has completed its loading when it answers.  An object
// of the type that a method returns goes to add too.  1; 0 when add ended
// the search (the next one asks the first method first); a method's
// negative answer, that method being asked first next time.
int load_subject(X509_STORE_CTX* ctx, int type, X509_NAME* name, ObjectSink add, void* arg);

// Reads every certificate (type X509_LU_X509) or revocation list (type
// X509_LU_CRL) of a file into the lookup's store, as X509_load_cert_file
// and X509_load_crl_file do, except that an object the store holds already
// is passed over without an error and does not end the reading.  The
// number of objects read, or 0 (queued).
int load_file_objects(X509_LOOKUP* lu, const char* file, int type, int file_type);

// The moment a verification checks times at: the parameters' check time
// when the flag asks for it, else null for now (also for a context without
// parameters, as an issuer search may be given).
inline time_t* check_moment(X509_STORE_CTX* ctx) {
  const X509_VERIFY_PARAM* p = ctx->param;
  return p != nullptr && (p->flags & X509_V_FLAG_USE_CHECK_TIME) ? &ctx->param->check_time
                                                                 : nullptr;
}

// The certificate whose key signs the revocation lists of the chain's
// certificate at ctx's error depth: the next one up, or the top itself
// (null for an empty chain).
X509* crl_issuer(X509_STORE_CTX* ctx);

// The built-in step that finds the revocation list deciding for x (the
// chain's certificate at the error depth): of the complete lists of x's
// issuer name that the verifier can see (the context's, those the store's
// lookup methods return, then the store's, once every method has loaded
// what it has now), those of the issuer's key (an authorityKeyIdentifier,
// when both have one, naming the issuer's subjectKeyIdentifier, and a
// signature that verifies under the key); of them the one in time issued
// last (by lastUpdate, then cRLNumber, then one that revokes x), else the
// latest one.  Signatures are checked from the best candidate down until
// one verifies, each list at most once per key.  With none verified, and no
// other key's list seen, the latest of those whose signature failed
// (check_crl then reports it).  1 with a new reference at *pcrl, or 0 (also when a method
// asked to be retried, "should retry" queued).
int get_crl(X509_STORE_CTX* ctx, X509_CRL** pcrl, X509* x);

// Whether an entry of crl carries a critical extension the verifier cannot
// process; read once while the list's signed part is the one decoded (the
// answer kept in its `flags`, under lock 6).
bool unhandled_entry_extension(X509_CRL* crl);

// The entry of crl that lists x's serial number, or null (the entries are
// sorted first, under lock 6).
X509_REVOKED* crl_entry(X509_CRL* crl, X509* x);

// The revocation check's last word on x after crl passed: delta lists are
// not merged, but the newest delta list of the issuer's key in time (chosen
// as get_crl chooses), when not older than crl, adds its revocations.  When it lists x (for another
// reason than removeFromCRL) it is checked as crl was, then error 23 is
// reported on it.  The callback's answer, else 1.
int check_delta(X509_STORE_CTX* ctx, X509_CRL* crl, X509* x);

// A key that checks signatures (no reference taken), and the SHA-256
// digest of its SubjectPublicKeyInfo that names it in the marks, made at
// the first check that reads or sets one and kept for the checks after it:
// one per issuer, however many objects it judges.  A key taken from a
// certificate (X509_get_pubkey(cert)) names it as `holder`, so that the
// digest is made once for the certificate's key and kept there (in its
// X509_PUBKEY, dropped with the cached key).  Lives no longer than the key
// keeps its parameters.
class CheckingKey {
 public:
  explicit CheckingKey(EVP_PKEY* pkey, X509* holder = nullptr)
      : pkey_(pkey),
        holder_(holder != nullptr && holder->cert_info != nullptr ? holder->cert_info->key
                                                                  : nullptr) {}
  CheckingKey(const CheckingKey&) = delete;
  CheckingKey& operator=(const CheckingKey&) = delete;

  EVP_PKEY* pkey() const { return pkey_; }
  // The digest (32 bytes), or null when the key cannot be encoded
  // (parameters missing included).
  const unsigned char* digest();

 private:
  EVP_PKEY* pkey_;
  X509_PUBKEY* holder_;
  int state_ = 0;  // 1 digest made, -1 none can be, 0 not tried
  unsigned char digest_[32];
};

// x's signature under key, as X509_verify gives it (1 valid, 0 invalid,
// -1 error), spared when x's mark names the key; a signature that verifies
// marks x with the key's digest, so that only a check under another key
// verifies again.  Safe while other threads check x.
int check_cert_signature(X509* x, CheckingKey& key);

// Whether x carries the mark of a signature verified under issuer's key;
// also true where no mark can tell (x's signed part is not the one decoded,
// or the key lacks its parameters).  May queue errors.
bool vouched_by(X509* x, X509* issuer);

// Facts a revocation list keeps in its `flags` (under lock 6) while its
// signed part is the one decoded: its entries were read, and one carries a
// critical extension the verifier cannot process (x509_crl_choice.cc); its
// signature failed under the key `valid_key` names, `valid` being clear.
constexpr int kCrlEntriesRead = 0x1;
constexpr int kCrlEntryUnhandled = 0x2;
constexpr int kCrlSignatureFailed = 0x4;

// The same for a revocation list and X509_CRL_verify; only a list whose
// signed part is the one decoded is marked or spared.  With
// `recall_failure`, a signature that failed under the key (and did not run
// out of memory) is remembered as well, and a later check under that key
// gives 0 without verifying again (nothing queued then).
int check_crl_signature(X509_CRL* crl, CheckingKey& key, bool recall_failure = false);

// Within its scope, what is queued is dropped again when the scope ends
// (the entries after the newest one at its start; a caller's mark on that
// one stays), except that a lack of memory among them leaves one "malloc
// failure" for the run to see.
class QuietErrors {
 public:
  QuietErrors() = default;
  ~QuietErrors() {
    const bool lack = watch_.seen();
    mark_.pop();
    if (lack)
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                    __LINE__);
  }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  morvane::internal::ErrorMark mark_;
  morvane::internal::MallocFailureWatch watch_;
};

// Whether a certificate whose X509_check_ca answer is `ca` may stand at a
// place of a chain whose certificate below asks `must_be_ca`: -1 (none
// below, the target) anything but, when `strict`, a CA by other means than
// its basicConstraints; 0 (a proxy certificate below) no CA; 1 (any other
// below) a CA, when `strict` by its basicConstraints.
inline bool ca_fits(int must_be_ca, int ca, bool strict) {
  switch (must_be_ca) {
    case -1:
      return !strict || ca == 1 || ca == 0;
    case 0:
      return ca == 0;
    default:
      return ca != 0 && (!strict || ca == 1);
  }
}

}  // namespace morvane::x509

#endif  // MORVANE_CRYPTO_X509_LOCAL_H
