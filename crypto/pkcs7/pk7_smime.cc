// S/MIME over PKCS#7 (RFC 2633): signing, verifying with certificate
// chains, encrypting to recipients and decrypting, each streaming the
// content through the data engine.

#include <limits.h>
#include <stdlib.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "bio/internal.h"
#include "internal/first_success.h"
#include "internal/name_order.h"
#include "pk7_local.h"
#include "x509/internal.h"

using namespace morvane::pkcs7;

namespace {

constexpr int kChunk = 4096;
constexpr int kNidRc2Cbc = 37;
constexpr int kNidDesCbc = 31;
constexpr int kNidDesEde3Cbc = 44;

void algor_free(void* a) { X509_ALGOR_free(reinterpret_cast<X509_ALGOR*>(a)); }

// The capabilities a signer announces, strongest first.
bool add_capabilities(PKCS7_SIGNER_INFO* si) {
  STACK* smcap = sk_new_null();
  if (smcap == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, ERR_R_MALLOC_FAILURE);
    return false;
  }
  const bool ok = PKCS7_simple_smimecap(smcap, kNidDesEde3Cbc, -1) &&
                  PKCS7_simple_smimecap(smcap, kNidRc2Cbc, 128) &&
                  PKCS7_simple_smimecap(smcap, kNidRc2Cbc, 64) &&
                  PKCS7_simple_smimecap(smcap, kNidDesCbc, -1) &&
                  PKCS7_simple_smimecap(smcap, kNidRc2Cbc, 40) &&
                  PKCS7_add_attrib_smimecap(si, smcap);
  sk_pop_free(smcap, algor_free);
  return ok;
}

// Unlinks the chain's filters from the top down to `keep` (which survives
// when it is in the chain) and frees them.
void free_filters_above(BIO* chain, BIO* keep) {
  while (chain != nullptr && chain != keep) {
    BIO* next = BIO_pop(chain);
    BIO_free(chain);
    chain = next;
  }
}

// Streams `in` through a new chain of p7 (as lines under `flags`), flushes
// it (the cipher's last block) and completes the message; failures queue
// under function `func`, a failed copy or final step with `final_reason`.
// Content that was not read and written whole is neither signed nor sealed.
bool stream_content(PKCS7* p7, BIO* in, int flags, int func, int final_reason) {
  BIO* p7bio = PKCS7_dataInit(p7, nullptr);
  if (p7bio == nullptr) {
    PKCS7err(func, ERR_R_MALLOC_FAILURE);
    return false;
  }
  const bool ok = SMIME_crlf_copy(in, p7bio, flags) != 0 && BIO_flush(p7bio) > 0 &&
                  PKCS7_dataFinal(p7, p7bio) != 0;
  if (!ok) PKCS7err(func, final_reason);
  BIO_free_all(p7bio);
  return ok;
}

// Reads `chain` to its end into `out` (when given): false, with "content
// write error" under `func`, when a write fails.  The last read's result
// goes to *last.
bool copy_content(BIO* chain, BIO* out, int func, int* last = nullptr) {
  char buf[kChunk];
  int n = 0;
  while ((n = BIO_read(chain, buf, sizeof buf)) > 0) {
    if (n > static_cast<int>(sizeof buf)) n = sizeof buf;  // a stream may not claim more
    if (out != nullptr && BIO_write(out, buf, n) != n) {
      PKCS7err(func, PKCS7_R_CONTENT_WRITE_ERROR);
      return false;
    }
  }
  if (last != nullptr) *last = n;
  return true;
}

// The certificates looked at for one signer at most, as a chain search
// tries a bounded number of issuers: a sender cannot make a message cost
// more by repeating a signer's issuer and serial.
constexpr int kMaxCandidates = 16;

// A certificate that may be a signer's, and what its chain gave.
struct Candidate {
  X509* cert;
  int order;  // its place in the caller's list, then in the message's
  int chain;        // 0 not verified yet, 1 verified, -1 failed
  int chain_error;  // the verifier's error code when it failed
  EVP_PKEY* key;    // a key without parameters, with the chain's (owned)
};

// Issuer (in the folded order of internal/name_order.h, which unlike
// X509_NAME_cmp is total), serial, then the order.
int cmp_for_lookup(const void* x, const void* y) {
  const auto* a = static_cast<const Candidate*>(x);
  const auto* b = static_cast<const Candidate*>(y);
  int r = morvane::internal::folded_name_cmp(X509_get_issuer_name(a->cert),
                                             X509_get_issuer_name(b->cert));
  if (r == 0) r = ASN1_STRING_cmp(X509_get_serialNumber(a->cert), X509_get_serialNumber(b->cert));
  return r != 0 ? r : a->order < b->order ? -1 : a->order > b->order ? 1 : 0;
}

// The certificates that may be signers' in one verification: those of
// `certs`, then (without PKCS7_FLAG_NO_INTERNAL) the message's, sorted by
// issuer and serial once, so that finding a signer's costs a binary search
// and a certificate's chain is verified once, whichever signers name it.
class CandidateIndex {
 public:
  CandidateIndex() = default;
  ~CandidateIndex() {
    for (int i = 0; i < n_; i++) EVP_PKEY_free(all_[i].key);
    MORVANE_free(all_);
  }
  CandidateIndex(const CandidateIndex&) = delete;
  CandidateIndex& operator=(const CandidateIndex&) = delete;

  // False when memory fails (nothing queued).
  bool build(STACK* certs, STACK* message_certs) {
    const int nc = sk_num(certs) > 0 ? sk_num(certs) : 0;
    const int nm = sk_num(message_certs) > 0 ? sk_num(message_certs) : 0;
    if (nc + nm == 0) return true;
    all_ =
        static_cast<Candidate*>(MORVANE_malloc(static_cast<size_t>(nc + nm) * sizeof(Candidate)));
    if (all_ == nullptr) return false;
    for (int i = 0; i < nc + nm; i++) {
      Candidate& c = all_[n_++];
      c.cert =
          reinterpret_cast<X509*>(i < nc ? sk_value(certs, i) : sk_value(message_certs, i - nc));
      c.order = i;
      c.chain = 0;
      c.chain_error = 0;
      c.key = nullptr;
    }
    qsort(all_, static_cast<size_t>(n_), sizeof(Candidate), cmp_for_lookup);
    return true;
  }

  // The certificates that `ias` names, in the order tried, into found[] (at
  // most kMaxCandidates), and their number.  The run of certificates whose
  // issuer and serial sort as the signer's is found by a binary search; its
  // first kMaxCandidates are looked at, and those whose issuer
  // X509_NAME_cmp finds equal to the signer's are kept, each certificate
  // once (the caller's list and the message may carry the same one): only
  // when several are kept are they compared (X509_cmp, which digests them)
  // to tell copies apart.
  int find(const PKCS7_ISSUER_AND_SERIAL* ias, int* found) {
    int lo = 0;
    int hi = n_;
    while (lo < hi) {  // the first at or after ias
      const int mid = lo + (hi - lo) / 2;
      if (cmp_to(ias, all_[mid]) > 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    int n = 0;
    for (int i = lo; i < n_ && i - lo < kMaxCandidates && cmp_to(ias, all_[i]) == 0; i++)
      if (names_cert(ias, all_[i].cert)) found[n++] = i;
    if (n < 2) return n;
    int kept = 0;
    for (int i = 0; i < n; i++) {
      bool copy = false;
      for (int j = 0; !copy && j < kept; j++)
        copy = X509_cmp(all_[found[j]].cert, all_[found[i]].cert) == 0;
      if (!copy) found[kept++] = found[i];
    }
    return kept;
  }

  Candidate& at(int i) { return all_[i]; }

 private:
  static int cmp_to(const PKCS7_ISSUER_AND_SERIAL* ias, const Candidate& c) {
    const int r = morvane::internal::folded_name_cmp(ias->issuer, X509_get_issuer_name(c.cert));
    return r != 0 ? r : ASN1_STRING_cmp(ias->serial, X509_get_serialNumber(c.cert));
  }

  Candidate* all_ = nullptr;
  int n_ = 0;
};

// "certificate verify error" with the verifier's text for `error`.
void chain_failed(int error) {
  PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_CERTIFICATE_VERIFY_ERROR);
  ERR_add_error_data(2, "Verify error:", X509_verify_cert_error_string(error));
}

// What one verification knows of its signers: the candidates of each (their
// places in the index), the one chosen (-1 while none is) and whether its
// signature over the signed attributes was verified in the choice.
struct SignerChoice {
  int candidate[kMaxCandidates];
  int count;
  int chosen;
  bool attributes_verified;
};

// Verifies the chain of `signer` with the message's certificates as
// untrusted ones and its CRLs, as `flags` ask: 1, or 0 with the reason
// queued and the verifier's error code in *error.  A signer's key without
// parameters takes them from the chain verified, into *key (new).
int verify_chain(X509_STORE_CTX* ctx, morvane::x509::Session* session, X509_STORE* store,
                 X509* signer, PKCS7* p7, int flags, int* error, EVP_PKEY** key) {
  const bool chain = !(flags & PKCS7_FLAG_NO_CHAIN);
  if (!X509_STORE_CTX_init(ctx, store, signer, chain ? p7->d.sign->cert : nullptr)) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_X509_LIB);
    *error = X509_V_ERR_OUT_OF_MEM;
    return 0;
  }
  // The chains of one message are one verification: each signature under
  // each key is checked once, and each issuer's lists gathered once.
  morvane::x509::session_share(ctx, session);
  if (chain) X509_STORE_CTX_set_default(ctx, "smime_sign");
  if (!(flags & PKCS7_FLAG_NO_CRLS)) X509_STORE_CTX_set0_crls(ctx, p7->d.sign->crl);
  const int i = X509_verify_cert(ctx);
  *error = i <= 0 ? X509_STORE_CTX_get_error(ctx) : 0;
  if (i > 0 && morvane::pkcs7::key_lacks_parameters(signer))
    *key = morvane::x509::chain_leaf_key(X509_STORE_CTX_get_chain(ctx));
  X509_STORE_CTX_cleanup(ctx);
  if (i > 0) return 1;
  chain_failed(*error);
  return 0;
}

// One call of PKCS7_verify: its signers' candidates and the chains verified.
class Verification {
 public:
  Verification(PKCS7* p7, STACK* sinfos, X509_STORE* store, int flags)
      : p7_(p7), sinfos_(sinfos), store_(store), flags_(flags) {}
  ~Verification() {
    X509_STORE_CTX_free(ctx_);
    MORVANE_free(choices_);
  }
  Verification(const Verification&) = delete;
  Verification& operator=(const Verification&) = delete;

  // Finds every signer's candidates: false, with the reason queued, when a
  // signer has none or memory fails.
  bool find_signers(STACK* certs) {
    const int n = sk_num(sinfos_);
    choices_ =
        static_cast<SignerChoice*>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(SignerChoice)));
    if (choices_ == nullptr ||
        !index_.build(certs, (flags_ & PKCS7_FLAG_NO_INTERNAL) ? nullptr : p7_->d.sign->cert) ||
        (chains() && (ctx_ = X509_STORE_CTX_new()) == nullptr)) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
      return false;
    }
    for (int k = 0; k < n; k++) {
      SignerChoice& c = choices_[k];
      c.count = index_.find(signer(k)->issuer_and_serial, c.candidate);
      c.chosen = -1;
      c.attributes_verified = false;
      if (c.count == 0) {
        PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND);
        return false;
      }
    }
    return true;
  }

  // Chooses each signer's certificate where that needs no content: the
  // only candidate, or the first whose signature over the signed attributes
  // and then chain verify (a signature costs less than a chain, and a sender
  // may repeat a signer's issuer and serial on certificates of other keys).
  // A signer without signed attributes and with several candidates waits
  // for the content (after_content).  False, with the first candidate's
  // reason, when a signer's choice fails.
  bool before_content() {
    for (int k = 0; k < sk_num(sinfos_); k++) {
      SignerChoice& c = choices_[k];
      PKCS7_SIGNER_INFO* si = signer(k);
      if (c.count == 1 || (!signatures() && !chains())) {
        if (chains() && !chain_ok(c.candidate[0])) return false;
        c.chosen = c.candidate[0];
        continue;
      }
      if (signatures() && !has_signed_attributes(si)) continue;
      if (morvane::internal::first_success(c.count, [&](int i) {
            if (!chain_first(c.candidate[i])) return 0;
            if (signatures()) {
              const Candidate& cand = index_.at(c.candidate[i]);
              const int r = verify_attribute_signature(si, cand.cert, cand.key);
              if (r <= 0) {
                PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE);
                return r;
              }
            }
            if (chains() && !chain_ok(c.candidate[i])) return 0;
            c.chosen = c.candidate[i];
            c.attributes_verified = signatures();
            return 1;
          }) <= 0)
        return false;
    }
    return true;
  }

  // Checks each signer's signature over the content read through `p7bio`
  // (unless PKCS7_FLAG_NO_SIGNATURES), choosing the certificate of a signer
  // that waited: the first whose signature and then chain verify.  For a
  // signer whose attributes' signature the choice verified, the content's
  // digest against them is all that is left.
  bool after_content(BIO* p7bio) {
    if (!signatures()) return true;
    for (int k = 0; k < sk_num(sinfos_); k++) {
      SignerChoice& c = choices_[k];
      PKCS7_SIGNER_INFO* si = signer(k);
      const int* tried = c.chosen >= 0 ? &c.chosen : c.candidate;
      const int count = c.chosen >= 0 ? 1 : c.count;
      if (morvane::internal::first_success(count, [&](int i) {
            if (!chain_first(tried[i])) return 0;
            const Candidate& cand = index_.at(tried[i]);
            const int r = signature_verify(p7bio, p7_, si, cand.cert, c.attributes_verified, cand.key);
            if (r <= 0) {
              PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE);
              return r;
            }
            return c.chosen >= 0 || !chains() || chain_ok(tried[i]) ? 1 : 0;
          }) <= 0)
        return false;
    }
    return true;
  }

 private:
  bool signatures() const { return !(flags_ & PKCS7_FLAG_NO_SIGNATURES); }
  bool chains() const { return !(flags_ & PKCS7_FLAG_NO_VERIFY); }
  PKCS7_SIGNER_INFO* signer(int k) const {
    return reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(sinfos_, k));
  }

  // Whether candidate i's chain verifies, verified on first asking; a chain
  // that failed before says so again.
  bool chain_ok(int i) {
    Candidate& c = index_.at(i);
    if (c.chain == 0)
      c.chain = verify_chain(ctx_, &session_, store_, c.cert, p7_, flags_, &c.chain_error,
                             &c.key) > 0
                    ? 1
                    : -1;
    else if (c.chain < 0)
      chain_failed(c.chain_error);
    return c.chain > 0;
  }

  // A candidate whose key takes its parameters from the chain has its
  // chain verified before its signature is checked: false when it fails.
  bool chain_first(int i) {
    return !chains() || !morvane::pkcs7::key_lacks_parameters(index_.at(i).cert) || chain_ok(i);
  }

  PKCS7* p7_;
  STACK* sinfos_;
  X509_STORE* store_;
  int flags_;
  CandidateIndex index_;
  SignerChoice* choices_ = nullptr;
  morvane::x509::Session session_;  // freed after ctx_, which names it
  X509_STORE_CTX* ctx_ = nullptr;
};

}  // namespace

/* see morvane/pkcs7.h */
PKCS7* PKCS7_sign(X509* signcert, EVP_PKEY* pkey, STACK* certs, BIO* data, int flags) {
  if (!X509_check_private_key(signcert, pkey)) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
    return nullptr;
  }
  PKCS7* p7 = PKCS7_new();
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  PKCS7_SIGNER_INFO* si = nullptr;
  if (!PKCS7_set_type(p7, kNidSigned) || !PKCS7_content_new(p7, kNidData)) goto err;
  if ((si = PKCS7_add_signature(p7, signcert, pkey, EVP_sha1())) == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, PKCS7_R_PKCS7_ADD_SIGNATURE_ERROR);
    goto err;
  }
  if (!(flags & PKCS7_FLAG_NO_CERTS)) {
    if (!PKCS7_add_certificate(p7, signcert)) goto err;
    for (int i = 0; i < sk_num(certs); i++)
      if (!PKCS7_add_certificate(p7, reinterpret_cast<X509*>(sk_value(certs, i)))) goto err;
  }
  if (!(flags & PKCS7_FLAG_NO_ATTRIBUTES)) {
    if (!PKCS7_add_signed_attribute(si, kNidContentType, ASN1_UT_OBJECT, OBJ_nid2obj(kNidData)))
      goto err;
    if (!(flags & PKCS7_FLAG_NO_CAPABILITIES) && !add_capabilities(si)) goto err;
  }
  if (flags & PKCS7_FLAG_DETACHED) PKCS7_set_detached(p7, 1);
  if (flags & PKCS7_FLAG_PARTIAL) return p7;
  if (stream_content(p7, data, flags, PKCS7_F_PKCS7_SIGN, PKCS7_R_PKCS7_DATASIGN)) return p7;
err:
  PKCS7_free(p7);
  return nullptr;
}

/* see morvane/pkcs7.h */
STACK* PKCS7_get0_signers(PKCS7* p7, STACK* certs, int flags) {
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_INVALID_NULL_POINTER);
    return nullptr;
  }
  if (type_nid(p7) != kNidSigned || p7->d.sign == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_WRONG_CONTENT_TYPE);
    return nullptr;
  }
  STACK* sinfos = PKCS7_get_signer_info(p7);
  if (sk_num(sinfos) <= 0) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_NO_SIGNERS);
    return nullptr;
  }
  STACK* signers = sk_new_null();
  if (signers == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(sinfos); i++) {
    auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(sinfos, i));
    PKCS7_ISSUER_AND_SERIAL* ias = si->issuer_and_serial;
    X509* signer = nullptr;
    if (certs != nullptr) signer = X509_find_by_issuer_and_serial(certs, ias->issuer, ias->serial);
    if (signer == nullptr && !(flags & PKCS7_FLAG_NO_INTERNAL) && p7->d.sign->cert != nullptr)
      signer = X509_find_by_issuer_and_serial(p7->d.sign->cert, ias->issuer, ias->serial);
    if (signer == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND);
      sk_free(signers);
      return nullptr;
    }
    if (!sk_push(signers, reinterpret_cast<char*>(signer))) {
      sk_free(signers);
      return nullptr;
    }
  }
  return signers;
}

/* see morvane/pkcs7.h */
int PKCS7_verify(PKCS7* p7, STACK* certs, X509_STORE* store, BIO* indata, BIO* out, int flags) {
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_INVALID_NULL_POINTER);
    return 0;
  }
  if (type_nid(p7) != kNidSigned || p7->d.sign == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  // Verification reads the message only: several threads may verify it.
  if (content_absent(p7) && indata == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_NO_CONTENT);
    return 0;
  }
  STACK* sinfos = PKCS7_get_signer_info(p7);
  if (sk_num(sinfos) <= 0) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_NO_SIGNATURES_ON_DATA);
    return 0;
  }
  // Several certificates may carry a signer's issuer and serial: the first
  // whose signature and chain verify is the signer's.
  Verification verification(p7, sinfos, store, flags);
  if (!verification.find_signers(certs) || !verification.before_content()) return 0;

  // A memory stream is read through a read-only copy so that the caller's
  // stream keeps its bytes.
  BIO* tmpin = indata;
  if (indata != nullptr && BIO_method_type(indata) == BIO_TYPE_MEM) {
    char* ptr = nullptr;
    long len = BIO_get_mem_data(indata, &ptr);
    if (len > INT_MAX) len = INT_MAX;  // a memory stream holds less
    if (ptr == nullptr || len <= 0) {
      static char empty[1];
      ptr = empty;
      len = 0;
    }
    tmpin = BIO_new_mem_buf(ptr, static_cast<int>(len));
    if (tmpin == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  BIO* p7bio = PKCS7_dataInit(p7, tmpin);
  BIO* tmpout = nullptr;
  int ret = 0;
  if (p7bio == nullptr) goto done;
  if (flags & PKCS7_FLAG_TEXT) {
    if ((tmpout = BIO_new(BIO_s_mem())) == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    BIO_set_mem_eof_return(tmpout, 0);
    morvane::bio::MarkMemNoWipe(tmpout);  // the content came in the clear
  } else {
    tmpout = out;
  }
  if (!copy_content(p7bio, tmpout, PKCS7_F_PKCS7_VERIFY)) {
    if (tmpout != out) BIO_free(tmpout);
    goto done;
  }
  if (flags & PKCS7_FLAG_TEXT) {
    const bool text_ok = SMIME_text(tmpout, out) != 0;
    BIO_free(tmpout);
    if (!text_ok) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_SMIME_TEXT_ERROR);
      goto done;
    }
  }
  if (!verification.after_content(p7bio)) goto done;
  ret = 1;
done:
  // The caller's stream at the bottom of the chain survives; the filters and
  // the read-only copy are freed.
  if (p7bio != nullptr) {
    if (tmpin == indata && indata != nullptr) {
      free_filters_above(p7bio, indata);
    } else {
      BIO_free_all(p7bio);
    }
  } else if (tmpin != indata) {
    BIO_free(tmpin);
  }
  return ret;
}

/* see morvane/pkcs7.h */
PKCS7* PKCS7_encrypt(STACK* certs, BIO* in, const EVP_CIPHER* cipher, int flags) {
  PKCS7* p7 = PKCS7_new();
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_ENCRYPT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (!PKCS7_set_type(p7, kNidEnveloped)) goto err;
  if (!PKCS7_set_cipher(p7, cipher)) {
    PKCS7err(PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_ERROR_SETTING_CIPHER);
    goto err;
  }
  for (int i = 0; i < sk_num(certs); i++) {
    if (PKCS7_add_recipient(p7, reinterpret_cast<X509*>(sk_value(certs, i))) == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_ERROR_ADDING_RECIPIENT);
      goto err;
    }
  }
  if (stream_content(p7, in, flags, PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_PKCS7_DATAFINAL_ERROR))
    return p7;
err:
  PKCS7_free(p7);
  return nullptr;
}

/* see morvane/pkcs7.h */
int PKCS7_decrypt(PKCS7* p7, EVP_PKEY* pkey, X509* cert, BIO* data, int flags) {
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_INVALID_NULL_POINTER);
    return 0;
  }
  if (type_nid(p7) != kNidEnveloped) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  if (cert != nullptr && !X509_check_private_key(cert, pkey)) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
    return 0;
  }
  BIO* tmpmem = PKCS7_dataDecode(p7, pkey, nullptr, cert);
  if (tmpmem == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR);
    return 0;
  }
  if (flags & PKCS7_FLAG_TEXT) {
    BIO* bread = BIO_new(BIO_f_buffer());
    if (bread == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DECRYPT, ERR_R_MALLOC_FAILURE);
      BIO_free_all(tmpmem);
      return 0;
    }
    BIO_push(bread, tmpmem);
    const int ret = SMIME_text(bread, data);
    // A final block that did not decrypt is damaged content, not text; a
    // header that is not text, or a write or read that failed, is said as
    // verification says it.
    BIO* cipher = BIO_find_type(bread, BIO_TYPE_CIPHER);
    const bool sound = cipher == nullptr || BIO_get_cipher_status(cipher) != 0;
    BIO_free_all(bread);
    if (!sound) {
      PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR);
      return 0;
    }
    if (!ret) PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_SMIME_TEXT_ERROR);
    return ret;
  }
  int n = 0;
  const bool written = copy_content(tmpmem, data, PKCS7_F_PKCS7_DECRYPT, &n);
  // A negative last read or a cipher status of 0 means the last block did
  // not decrypt (bad padding or the wrong key): the content is damaged.
  BIO* cipher = BIO_find_type(tmpmem, BIO_TYPE_CIPHER);
  const bool sound = n == 0 && (cipher == nullptr || BIO_get_cipher_status(cipher) != 0);
  BIO_free_all(tmpmem);
  if (written && !sound) PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR);
  return written && sound ? 1 : 0;
}
