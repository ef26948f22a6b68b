// CertificateList (RFC 5280, 5.1) as X509_CRL, its signed part X509_CRL_INFO
// and the revoked-certificate entries X509_REVOKED, and the insertion of an
// entry.
//
// Implementation notes: the signed part keeps the DER it was decoded from
// and re-encodes those octets, canonical or not, so that a signature over
// them still verifies; whatever changes the signed part sets its
// `enc.modified`, and the next encoding is built from the fields.  The list
// of entries is given its order by serial number after every decode, so that
// searches sort it and find an entry by serial number.

#include <stddef.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "asn1/internal.h"

static_assert(offsetof(X509_REVOKED, extensions) == 16 && offsetof(X509_REVOKED, sequence) == 24 &&
              sizeof(X509_REVOKED) == 32);
static_assert(offsetof(X509_CRL_INFO, revoked) == 40 && offsetof(X509_CRL_INFO, enc) == 56 &&
              sizeof(X509_CRL_INFO) == 112);
static_assert(offsetof(X509_CRL, references) == 24 && offsetof(X509_CRL, valid) == 28 &&
              offsetof(X509_CRL, kept_sigs) == 32 && offsetof(X509_CRL, flags) == 40 &&
              sizeof(X509_CRL) == 48);

namespace {

// X509_REVOKED_cmp as the order of a STACK of entries.
int revoked_cmp(const char* const* a, const char* const* b) {
  return X509_REVOKED_cmp(reinterpret_cast<const X509_REVOKED* const*>(a),
                          reinterpret_cast<const X509_REVOKED* const*>(b));
}

int crl_inf_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  auto* info = reinterpret_cast<X509_CRL_INFO*>(*pval);
  if (operation == ASN1_CBOP_D2I_POST && info->revoked != nullptr)
    sk_set_cmp_func(info->revoked, revoked_cmp);
  return 1;
}

// A list decoded into an existing one must not inherit its predecessor's
// verdicts or the facts read from its entries; a freed one lets its kept
// verdicts go.
int crl_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  if (operation == ASN1_CBOP_D2I_PRE || operation == ASN1_CBOP_FREE_POST) {
    auto* crl = reinterpret_cast<X509_CRL*>(*pval);
    crl->valid = 0;
    crl->flags = 0;
    morvane::x509::kept_sigs_free(crl->kept_sigs);
    crl->kept_sigs = nullptr;
  }
  return 1;
}

}  // namespace

ASN1_SEQUENCE(X509_REVOKED) = {
    ASN1_SIMPLE(X509_REVOKED, serialNumber, ASN1_INTEGER),
    ASN1_SIMPLE(X509_REVOKED, revocationDate, ASN1_TIME),
    ASN1_SEQUENCE_OF_OPT(X509_REVOKED, extensions, X509_EXTENSION),
} ASN1_SEQUENCE_END(X509_REVOKED);

ASN1_SEQUENCE_enc(X509_CRL_INFO, enc, crl_inf_cb) = {
    ASN1_OPT(X509_CRL_INFO, version, ASN1_INTEGER),
    ASN1_SIMPLE(X509_CRL_INFO, sig_alg, X509_ALGOR),
    ASN1_SIMPLE(X509_CRL_INFO, issuer, X509_NAME),
    ASN1_SIMPLE(X509_CRL_INFO, lastUpdate, ASN1_TIME),
    ASN1_OPT(X509_CRL_INFO, nextUpdate, ASN1_TIME),
    ASN1_SEQUENCE_OF_OPT(X509_CRL_INFO, revoked, X509_REVOKED),
    ASN1_EXP_SEQUENCE_OF_OPT(X509_CRL_INFO, extensions, X509_EXTENSION, 0),
} ASN1_SEQUENCE_END_enc(X509_CRL_INFO, X509_CRL_INFO);

ASN1_SEQUENCE_ref(X509_CRL, crl_cb, CRYPTO_LOCK_X509_CRL) = {
    ASN1_SIMPLE(X509_CRL, crl, X509_CRL_INFO),
    ASN1_SIMPLE(X509_CRL, sig_alg, X509_ALGOR),
    ASN1_SIMPLE(X509_CRL, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END_ref(X509_CRL, X509_CRL);

/* see morvane/x509.h */
int X509_REVOKED_cmp(const X509_REVOKED* const* a, const X509_REVOKED* const* b) {
  // A missing entry (or serial number) sorts first; two are equal.
  const ASN1_STRING* sa = a != nullptr && *a != nullptr ? (*a)->serialNumber : nullptr;
  const ASN1_STRING* sb = b != nullptr && *b != nullptr ? (*b)->serialNumber : nullptr;
  if (sa == nullptr || sb == nullptr) return (sa != nullptr) - (sb != nullptr);
  return ASN1_STRING_cmp(sa, sb);
}

/* see morvane/x509.h */
int X509_CRL_add0_revoked(X509_CRL* crl, X509_REVOKED* rev) {
  X509_CRL_INFO* inf = crl->crl;
  if (inf->revoked == nullptr) inf->revoked = sk_new(revoked_cmp);
  if (inf->revoked == nullptr || !sk_push(inf->revoked, reinterpret_cast<char*>(rev))) {
    ASN1err(ASN1_F_X509_CRL_ADD0_REVOKED, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  inf->enc.modified = 1;
  return 1;
}
