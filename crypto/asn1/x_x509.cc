// Certificate (RFC 5280, 4.1) as X509 with its signed part X509_CINF, the
// certificate's extra data, its legacy method record, and the pair of a
// certificate and its trust record (d2i_X509_AUX, i2d_X509_AUX).
//
// Implementation notes: the certificate's callback keeps the fields that are
// never encoded: it sets them up after creation, resets them before a decode
// into an existing certificate (keeping only its extra data), makes the
// one-line subject after a decode, and frees them after the encoded fields.
// The
// signed part keeps the octets it was decoded from and re-encodes them, DER
// or not, so that its signature is checked over what was signed; a change
// through the setters (or signing) marks it modified and it is encoded from
// its fields again.

#include <limits.h>
#include <stddef.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <atomic>

#include "asn1/internal.h"
#include "internal/err_mark.h"
#include "internal/lock.h"

static_assert(offsetof(X509_CINF, serialNumber) == 8 && offsetof(X509_CINF, key) == 48 &&
              offsetof(X509_CINF, extensions) == 72 && offsetof(X509_CINF, enc) == 80 &&
              sizeof(X509_CINF) == 136);
static_assert(offsetof(X509, valid) == 24 && offsetof(X509, references) == 28 &&
              offsetof(X509, name) == 32 && offsetof(X509, ex_data) == 40 &&
              offsetof(X509, ex_pathlen) == 56 && offsetof(X509, skid) == 104 &&
              offsetof(X509, sha1_hash) == 128 && offsetof(X509, aux) == 152 &&
              offsetof(X509, kept_sigs) == 160 && sizeof(X509) == 168);

namespace {

// Releases what the certificate keeps beside its fields: its trust record,
// the facts cached from its contents and the verifier's kept verdicts.
void release_cached(X509* ret) {
  X509_CERT_AUX_free(ret->aux);
  ASN1_OCTET_STRING_free(ret->skid);
  AUTHORITY_KEYID_free(ret->akid);
  policy_cache_free(ret->policy_cache);
  morvane::x509::kept_sigs_free(ret->kept_sigs);
  ret->kept_sigs = nullptr;
  ret->aux = nullptr;
  ret->skid = nullptr;
  ret->akid = nullptr;
  ret->policy_cache = nullptr;
}

// Whether an attribute type of the name is long enough to hold an arc that
// its text cannot spell.
bool spelling_may_fail(const X509_NAME* name) {
  const STACK* entries = name != nullptr ? name->entries : nullptr;
  for (int i = 0; i < sk_num(entries); i++) {
    const ASN1_OBJECT* type = reinterpret_cast<X509_NAME_ENTRY*>(sk_value(entries, i))->object;
    if (type != nullptr && type->length >= OBJ_MAX_ARC_BITS / 7) return true;
  }
  return false;
}

int x509_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  X509* ret = reinterpret_cast<X509*>(*pval);
  switch (operation) {
    case ASN1_CBOP_D2I_PRE:
      // A certificate decoded into an existing one must not inherit its
      // predecessor's trust record, verified mark or cached extension facts.
      release_cached(ret);
      MORVANE_free(ret->name);  // the subject it named is about to go
      ret->name = nullptr;
      ret->ex_pcpathlen = 0;
      ret->ex_kusage = 0;
      ret->ex_xkusage = 0;
      ret->ex_nscert = 0;
      memset(ret->sha1_hash, 0, sizeof ret->sha1_hash);
      [[fallthrough]];
    case ASN1_CBOP_NEW_POST:
      ret->valid = 0;
      ret->ex_flags = 0;
      ret->ex_pathlen = -1;
      ret->skid = nullptr;
      ret->akid = nullptr;
      ret->aux = nullptr;
      if (operation == ASN1_CBOP_NEW_POST) {
        ret->name = nullptr;
        CRYPTO_new_ex_data(CRYPTO_EX_INDEX_X509, ret, &ret->ex_data);
      }
      break;
    case ASN1_CBOP_D2I_POST: {
      // Callers read the subject's text from the structure after a decode.
      // It costs in proportion to the name (an arc is converted in one pass
      // and bounded), so the decoder's cost stays linear in its input.  An
      // attribute type the text cannot spell (an arc over the bound) is no
      // decoding error: what the text queued for it is taken back.  Only a
      // type of OBJ_MAX_ARC_BITS / 7 content octets or more can hold such
      // an arc, so the queue is looked at only then.
      morvane::internal::ErrorMark mark(spelling_may_fail(ret->cert_info->subject));
      ret->name = X509_NAME_oneline(ret->cert_info->subject, nullptr, 0);
      if (ret->name == nullptr) return 0;  // no memory (queued)
      mark.pop();
      break;
    }
    case ASN1_CBOP_FREE_POST:
      CRYPTO_free_ex_data(CRYPTO_EX_INDEX_X509, ret, &ret->ex_data);
      release_cached(ret);
      MORVANE_free(ret->name);
      ret->name = nullptr;
      break;
    default:
      break;
  }
  return 1;
}

// Adapters with the legacy method record's exact function types.
int meth_i2d(void* a, unsigned char** out) {
  return i2d_X509(static_cast<X509*>(a), out);
}
void* meth_d2i(void** a, const unsigned char** in, long len) {
  return d2i_X509(reinterpret_cast<X509**>(a), in, len);
}
void* meth_new() {
  return X509_new();
}
void meth_free(void* a) {
  X509_free(static_cast<X509*>(a));
}

constexpr ASN1_METHOD kX509Method = {meth_i2d, meth_d2i, meth_new, meth_free};

}  // namespace

ASN1_SEQUENCE_enc(X509_CINF, enc, nullptr) = {
    ASN1_EXP_OPT(X509_CINF, version, ASN1_INTEGER, 0),
    ASN1_SIMPLE(X509_CINF, serialNumber, ASN1_INTEGER),
    ASN1_SIMPLE(X509_CINF, signature, X509_ALGOR),
    ASN1_SIMPLE(X509_CINF, issuer, X509_NAME),
    ASN1_SIMPLE(X509_CINF, validity, X509_VAL),
    ASN1_SIMPLE(X509_CINF, subject, X509_NAME),
    ASN1_SIMPLE(X509_CINF, key, X509_PUBKEY),
    ASN1_IMP_OPT(X509_CINF, issuerUID, ASN1_BIT_STRING, 1),
    ASN1_IMP_OPT(X509_CINF, subjectUID, ASN1_BIT_STRING, 2),
    ASN1_EXP_SEQUENCE_OF_OPT(X509_CINF, extensions, X509_EXTENSION, 3),
} ASN1_SEQUENCE_END_enc(X509_CINF, X509_CINF);

ASN1_SEQUENCE_ref(X509, x509_cb, CRYPTO_LOCK_X509) = {
    ASN1_SIMPLE(X509, cert_info, X509_CINF),
    ASN1_SIMPLE(X509, sig_alg, X509_ALGOR),
    ASN1_SIMPLE(X509, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END_ref(X509, X509);

/* see morvane/x509.h */
const char* X509_get0_subject_oneline(X509* x) {
  // Made once under the certificate's lock; the quick test before the lock
  // makes later calls lock-free.
  if (x == nullptr) return nullptr;
  std::atomic_ref<char*> name(x->name);
  if (const char* text = name.load(std::memory_order_acquire)) return text;
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509);
  char* text = name.load(std::memory_order_relaxed);
  if (text == nullptr) {
    text = X509_NAME_oneline(x->cert_info != nullptr ? x->cert_info->subject : nullptr, nullptr, 0);
    name.store(text, std::memory_order_release);
  }
  return text;
}

/* see morvane/x509.h */
int X509_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                          CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_X509, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/x509.h */
int X509_set_ex_data(X509* r, int idx, void* arg) {
  return CRYPTO_set_ex_data(&r->ex_data, idx, arg);
}

/* see morvane/x509.h */
void* X509_get_ex_data(X509* r, int idx) {
  return CRYPTO_get_ex_data(&r->ex_data, idx);
}

/* see morvane/x509.h */
const ASN1_METHOD* X509_asn1_meth(void) {
  return &kX509Method;
}

/* see morvane/x509.h */
X509* d2i_X509_AUX(X509** a, const unsigned char** in, long len) {
  // As d2i_X509 below would refuse it.
  if (morvane::asn1::null_input(in, len, ASN1_F_ASN1_ITEM_EX_D2I)) return nullptr;
  const unsigned char* const start = *in;
  X509* ret = d2i_X509(a, in, len);
  if (ret == nullptr) return nullptr;
  len -= *in - start;
  if (len > 0 && d2i_X509_CERT_AUX(&ret->aux, in, len) == nullptr) {
    X509_free(ret);
    if (a != nullptr) *a = nullptr;
    return nullptr;
  }
  return ret;
}

/* see morvane/x509.h */
int i2d_X509_AUX(X509* a, unsigned char** out) {
  if (out != nullptr && *out == nullptr) {
    // Measure both, allocate once and write both, as every encoder does.
    const int len = i2d_X509_AUX(a, nullptr);
    if (len <= 0) return len;
    auto* buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
    if (buf == nullptr) return -1;
    unsigned char* p = buf;
    if (i2d_X509_AUX(a, &p) != len || p - buf != len) {
      MORVANE_free(buf);
      return -1;
    }
    *out = buf;
    return len;
  }
  const int cert = i2d_X509(a, out);
  if (cert <= 0 || a->aux == nullptr) return cert;
  const int aux = i2d_X509_CERT_AUX(a->aux, out);
  if (aux < 0 || aux > INT_MAX - cert) return -1;  // the sum must fit the int result
  return cert + aux;
}
