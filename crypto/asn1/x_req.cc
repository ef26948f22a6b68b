// CertificationRequest (RFC 2986, 4) as X509_REQ and its signed part
// X509_REQ_INFO.
//
// Implementation notes: the signed part keeps the DER it was decoded from
// and re-encodes it until `enc.modified` is set.  A request made here starts
// with version 0 and an empty attribute list, so that it always writes the
// [0] attributes field that RFC 2986 requires, even when there are none.

#include <stddef.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

static_assert(offsetof(X509_REQ_INFO, version) == 56 && offsetof(X509_REQ_INFO, attributes) == 80 &&
              sizeof(X509_REQ_INFO) == 88);
static_assert(offsetof(X509_REQ, references) == 24 && sizeof(X509_REQ) == 32);

namespace {

int rinf_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  if (operation == ASN1_CBOP_NEW_POST) {
    auto* info = reinterpret_cast<X509_REQ_INFO*>(*pval);
    info->attributes = sk_new_null();
    if (info->attributes == nullptr) return 0;
    // RFC 2986, 4.1: version 0, the only one.
    if (!ASN1_INTEGER_set(info->version, 0)) return 0;
  }
  return 1;
}

}  // namespace

ASN1_SEQUENCE_enc(X509_REQ_INFO, enc, rinf_cb) = {
    ASN1_SIMPLE(X509_REQ_INFO, version, ASN1_INTEGER),
    ASN1_SIMPLE(X509_REQ_INFO, subject, X509_NAME),
    ASN1_SIMPLE(X509_REQ_INFO, pubkey, X509_PUBKEY),
    ASN1_IMP_SET_OF_OPT(X509_REQ_INFO, attributes, X509_ATTRIBUTE, 0),
} ASN1_SEQUENCE_END_enc(X509_REQ_INFO, X509_REQ_INFO);

ASN1_SEQUENCE_ref(X509_REQ, NULL, CRYPTO_LOCK_X509_REQ) = {
    ASN1_SIMPLE(X509_REQ, req_info, X509_REQ_INFO),
    ASN1_SIMPLE(X509_REQ, sig_alg, X509_ALGOR),
    ASN1_SIMPLE(X509_REQ, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END_ref(X509_REQ, X509_REQ);
