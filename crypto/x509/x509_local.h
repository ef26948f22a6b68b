// Helpers shared by the files of the X.509 library.
#ifndef MORVANE_CRYPTO_X509_LOCAL_H
#define MORVANE_CRYPTO_X509_LOCAL_H

#include <stdint.h>
#include <sys/stat.h>
#include <time.h>

#include <morvane/asn1.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "x509/internal.h"

namespace morvane::x509 {

// The object named by field (a short or long name or a dotted number), new
// (free it); null with "invalid field name" under function code func, the
// text attached as "name=" field.
ASN1_OBJECT* field_object(const char* field, int func);

// 1 when k is the private key of xk (which is freed); else 0 with the
// reason under function code func ("unable to get certs public key" for a
// null xk).
int check_private_key(EVP_PKEY* xk, EVP_PKEY* k, int func);

// X509_NAME_cmp of the first n entries of a and of b (each has n at least).
int name_head_cmp(const X509_NAME* a, const X509_NAME* b, int n);

// Whether a proxy certificate's subject follows its issuer's subject (RFC
// 3820, 3.4): the issuer's, entry for entry as X509_NAME_cmp compares them,
// then one commonName, an RDN of its own.
bool proxy_name_follows(const X509_NAME* proxy, const X509_NAME* issuer);

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

// The octets an encoder writes (asked for their length first), in a buffer
// of their own: on the stack when short.
class Written {
 public:
  Written() = default;
  ~Written() {
    if (buf_ != local_) MORVANE_free(buf_);
  }
  Written(const Written&) = delete;
  Written& operator=(const Written&) = delete;

  // Writes with `write` (an i2d-style function of the output pointer).
  template <class Write>
  void encode(Write write) {
    const int n = write(nullptr);
    if (n <= 0) return;
    if (n > static_cast<int>(sizeof local_)) {
      buf_ = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(n)));
      if (buf_ == nullptr) {
        buf_ = local_;
        length_ = -1;
        return;
      }
    }
    unsigned char* p = buf_;
    if (write(&p) == n) length_ = n;
  }
  unsigned char* data() { return buf_; }
  // The count of octets; 0 when none could be written, -1 when memory ran
  // out (nothing queued).
  int length() const { return length_; }
  void set_length(int n) { length_ = n; }

 private:
  unsigned char local_[1024];
  unsigned char* buf_ = local_;
  int length_ = 0;
};

// The DER of an algorithm identifier into out (x509_lu_key.cc): written
// there for one of no parameter or a NULL one (nearly every one), as the
// encoder writes it; otherwise encoded.
void algorithm_der(X509_ALGOR* alg, Written& out);

// The SHA-256 digest, into out, of the signed part's octets that enc keeps
// as decoded (x509_sig_mark.cc): made once per encoding and kept in enc
// (`digested`, `digest`), which a decode that replaces the octets clears.
void signed_part_digest(ASN1_ENCODING* enc, unsigned char* out);

// The key of a store object in *key (x509_lu_key.cc): a keyed hash of the
// digest of its DER, or of its subject, serial and signature when it has
// none; false (nothing queued) when memory ran out.
bool store_key(const X509_OBJECT* obj, uint64_t* key);

// The SHA-1 digest of a certificate's or list's DER into md[20], without
// encoding what is kept as decoded (a certificate's is the one X509_cmp
// compares): 1, 0 for one that cannot be encoded (md zeros), -1 without
// memory.
int der_digest(const X509_OBJECT* obj, unsigned char* md);

// The quick key of a store object: a keyed hash of the key of its name
// (store_name_key) and its signature value's length and end octets
// (trailing zero octets aside), which copies of one object share; other
// objects share it only when made so under one name, and are then told
// apart by store_key.
uint64_t store_quick_key(const X509_OBJECT* obj, uint64_t name);

// Where the address of a certificate or list falls in the store's index.
uint64_t store_address_key(const void* p);

// The key of a type and name in the store's index: a keyed hash of the name
// as the folded order reads it (internal/name_order.h), so that every name
// X509_NAME_cmp calls equal to it has the same key.
uint64_t store_name_key(int type, const X509_NAME* name);

// The first object of a type and name in the store's cache, as
// scan_subject finds them, into *ret (its type and pointer, no reference
// taken), under lock 11: 1, or 0 when there is none.
int first_held(X509_STORE* store, int type, X509_NAME* name, X509_OBJECT* ret);

// Receives one object of a store search; 0 ends the search.
using ObjectSink = int (*)(void* arg, X509_OBJECT* obj);

// Passes each object of a type (X509_LU_X509 or X509_LU_CRL) and name (a
// certificate's subject, a list's issuer) in the store's cache to add, in
// the order added, holding lock 11.  1, or 0 when add ended the search.
int scan_subject(X509_STORE* store, int type, X509_NAME* name, ObjectSink add, void* arg);

// Asks each lookup method of the context's store for the objects of a type
// (X509_LU_X509 or X509_LU_CRL) and name, so that the cache holds what they
// load; each method has completed its loading when it answers.  An object
// of the type that a method returns goes to add too.  1; 0 when add ended
// the search (the next one asks the first method first); a method's
// negative answer, that method being asked first next time.
int load_subject(X509_STORE_CTX* ctx, int type, X509_NAME* name, ObjectSink add, void* arg);

// Reads every certificate (type X509_LU_X509) or revocation list (type
// X509_LU_CRL) of a stream into the lookup's store, as X509_load_cert_file
// and X509_load_crl_file do, except that an object the store holds already
// is passed over without an error and does not end the reading.  The
// number of objects read, or 0 (queued).
int load_bio_objects(X509_LOOKUP* lu, BIO* in, int type, int file_type);

// Why open_file gave no stream.
enum class OpenFailure {
  kUnreadable,  // the system refused (no such file, permissions, no descriptor)
  kNotRegular,  // refused unread: a device, or with `regular_only` anything but a regular file
  kNoMemory,
};

// A stream reading the file at path, its status in *st when st is not null;
// else null, the reason queued under func with the path (a refused open as
// BIO_new_file queues it, with the system's error) and *why set when why
// is not null.  The open never waits (a FIFO without a writer reads as
// empty), and a device (which may block or never end) is refused without
// a byte read; with `regular_only` anything but a regular file is.
BIO* open_file(const char* path, int func, bool regular_only, struct stat* st, OpenFailure* why);

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
// what it has now; gathered and ranked once per call), those of the
// issuer's key (an authorityKeyIdentifier, when both have one, naming the
// issuer's subjectKeyIdentifier, and a signature that verifies under the
// call's copy of the key); of them the one in time issued last (by
// lastUpdate, then cRLNumber, then one that revokes x), else the latest
// one.  Signatures are checked from the best candidate down until one
// verifies, each list at most once per key and call; under a key that
// nothing vouches for (vouched()) only while the call's few checks under
// such keys last.  With none verified, and no other key's list seen, the
// latest of those whose signature failed (check_crl then reports it);
// without a key that decodes, the best (check_crl reports that).  When a
// lookup method failed (a file it could not read; "should retry" queued
// after its reasons), a list in hand that verifies and revokes x is taken
// first, complete before delta, and lists_incomplete says so.  1 with a
// new reference at *pcrl, or 0 (also when the checks under a key nothing
// vouches for were spent with lists left, which lists_left_unchecked then
// says).
int get_crl(X509_STORE_CTX* ctx, X509_CRL** pcrl, X509* x);

// Whether the last get_crl of ctx's run stopped with lists left unchecked.
bool lists_left_unchecked(X509_STORE_CTX* ctx);

// Whether a lookup method failed when this call gathered the lists of x's
// issuer: a list not in hand may be newer than those in hand.
bool lists_incomplete(X509_STORE_CTX* ctx, X509* x);

// The signature of crl under the key of the certificate that signs the
// lists at ctx's error depth (crl_issuer), as this call checks it: 1
// verified, 0 not, -1 no key that decodes, -2 not checked, the call's
// checks under a key nothing vouches for spent.
int check_list(X509_STORE_CTX* ctx, X509_CRL* crl);

// Whether an entry of crl carries a critical extension the verifier cannot
// process; read once while the list's signed part is the one decoded (the
// answer kept in its `flags`, under lock 6).
bool unhandled_entry_extension(X509_CRL* crl);

// The entry of crl that lists x's serial number, or null (the entries are
// sorted first, under lock 6).
X509_REVOKED* crl_entry(X509_CRL* crl, X509* x);

// The revocation check's last word on x after crl passed: delta lists are
// not merged, but the newest delta list of the issuer's key in time (chosen
// as get_crl chooses: only a list whose signature verified counts), when
// not older than crl, adds its revocations.  When it lists x (for another
// reason than removeFromCRL) it is checked as crl was, then error 23 is
// reported on it.  Delta lists left unchecked when the checks under a key
// nothing vouches for were spent give error 8; without a key that decodes,
// a delta list that lists x is checked by check_crl (which reports that),
// then gives 23.  The callback's answer, else 1.
int check_delta(X509_STORE_CTX* ctx, X509_CRL* crl, X509* x);

// ---- what one verification call has checked (x509_session.cc) ----

// The session of ctx's run: the one X509_verify_cert (or the caller, see
// x509/internal.h) put there, else one of the scope's own, put there for
// the scope's duration (a step called outside a run).
class SessionScope {
 public:
  explicit SessionScope(X509_STORE_CTX* ctx);
  ~SessionScope();
  SessionScope(const SessionScope&) = delete;
  SessionScope& operator=(const SessionScope&) = delete;

  Session& get() { return *session_; }

 private:
  X509_STORE_CTX* ctx_;
  Session own_;
  Session* session_;
};

// The key of the chain's certificate at `at` for this call, parameters lent
// down the chain from the keys above it; null without memory (queued).
const SessionKey* chain_key(Session& s, X509_STORE_CTX* ctx, int at);

// Whether the key of the chain's certificate at `at` is one a trusted key
// vouches for: a certificate of the store, or one whose signature, and each
// above it up to the store's, verifies under the key above it, checked from
// the store's down so that only vouched keys check anything.  A chain kept
// with a broken link or without an anchor has keys nothing vouches for.
bool vouched(Session& s, X509_STORE_CTX* ctx, int at);

// ---- signature verdicts (x509_sig_mark.cc) ----

// x's signature under key, as X509_verify gives it (1 valid, 0 invalid, -1
// error; -1 for a null key or one without a decoded key).  Spared when this
// call has checked it already, or when a verdict kept on x names exactly
// what is checked: the SHA-256 digest of x's signed part as decoded, its
// signature algorithm, its signature value and the key's digest; `loud`
// checks a known failure again, so that its reasons are queued.  Safe
// while other threads check x.
int check_cert_signature(Session& s, X509* x, const SessionKey* key, bool loud = false);

// The same for a revocation list and X509_CRL_verify.
int check_crl_signature(Session& s, X509_CRL* crl, const SessionKey* key, bool loud = false);

// Facts a revocation list keeps in its `flags` (under lock 6) while its
// signed part is the one decoded: its entries were read, and one carries a
// critical extension the verifier cannot process (x509_crl_choice.cc).
constexpr int kCrlEntriesRead = 0x1;
constexpr int kCrlEntryUnhandled = 0x2;

// Within its scope, what is queued is dropped again when the scope ends
// (the entries after the newest one at its start; a caller's mark on that
// one stays), except that a lack of memory among them leaves one "malloc
// failure" for the run to see.
class QuietErrors {
 public:
  QuietErrors() : es_(ERR_get_state()), mark_(es_), watch_(es_) {}
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
  ERR_STATE* es_;  // one look-up for the mark and the watch
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
