// The setters of certificates, revocation lists, their entries, requests and
// signed public keys and challenges, and the ordering of a revocation list's
// entries.  Every setter stores copies; the caller keeps its own values.

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

// Stores a copy of `value` in *field (the old value freed) unless *field
// already is `value`: 1, or 0 when the copy fails (*field unchanged).
template <class T>
int set_copy(T** field, T* value) {
  if (*field == value) return 1;
  T* copy = ASN1_STRING_dup(value);
  if (copy == nullptr) return 0;
  ASN1_STRING_free(*field);
  *field = copy;
  return 1;
}

// Makes *version when absent, then sets it.
int set_version(ASN1_INTEGER** version, long v) {
  if (*version == nullptr) {
    *version = ASN1_INTEGER_new();
    if (*version == nullptr) return 0;
  }
  return ASN1_INTEGER_set(*version, v);
}

// The result of a change to a signed part that keeps the octets it was
// decoded from: on success they must be encoded afresh.
int changed(ASN1_ENCODING* enc, int ok) {
  if (ok) enc->modified = 1;
  return ok;
}

}  // namespace

/* see morvane/x509.h */
int X509_set_version(X509* x, long version) {
  if (x == nullptr || x->cert_info == nullptr) return 0;
  return changed(&x->cert_info->enc, set_version(&x->cert_info->version, version));
}

/* see morvane/x509.h */
int X509_CRL_set_version(X509_CRL* x, long version) {
  if (x == nullptr || x->crl == nullptr) return 0;
  return changed(&x->crl->enc, set_version(&x->crl->version, version));
}

/* see morvane/x509.h */
int X509_REQ_set_version(X509_REQ* x, long version) {
  if (x == nullptr || x->req_info == nullptr) return 0;
  return changed(&x->req_info->enc, ASN1_INTEGER_set(x->req_info->version, version));
}

/* see morvane/x509.h */
int X509_set_serialNumber(X509* x, ASN1_INTEGER* serial) {
  if (x == nullptr || x->cert_info == nullptr) return 0;
  return changed(&x->cert_info->enc, set_copy(&x->cert_info->serialNumber, serial));
}

/* see morvane/x509.h */
int X509_REVOKED_set_serialNumber(X509_REVOKED* x, ASN1_INTEGER* serial) {
  if (x == nullptr) return 0;
  return set_copy(&x->serialNumber, serial);
}

/* see morvane/x509.h */
int X509_set_notBefore(X509* x, ASN1_TIME* tm) {
  if (x == nullptr || x->cert_info == nullptr || x->cert_info->validity == nullptr) return 0;
  return changed(&x->cert_info->enc, set_copy(&x->cert_info->validity->notBefore, tm));
}

/* see morvane/x509.h */
int X509_set_notAfter(X509* x, ASN1_TIME* tm) {
  if (x == nullptr || x->cert_info == nullptr || x->cert_info->validity == nullptr) return 0;
  return changed(&x->cert_info->enc, set_copy(&x->cert_info->validity->notAfter, tm));
}

/* see morvane/x509.h */
int X509_CRL_set_lastUpdate(X509_CRL* x, ASN1_TIME* tm) {
  if (x == nullptr || x->crl == nullptr) return 0;
  return changed(&x->crl->enc, set_copy(&x->crl->lastUpdate, tm));
}

/* see morvane/x509.h */
int X509_CRL_set_nextUpdate(X509_CRL* x, ASN1_TIME* tm) {
  if (x == nullptr || x->crl == nullptr) return 0;
  return changed(&x->crl->enc, set_copy(&x->crl->nextUpdate, tm));
}

/* see morvane/x509.h */
int X509_REVOKED_set_revocationDate(X509_REVOKED* x, ASN1_TIME* tm) {
  if (x == nullptr) return 0;
  return set_copy(&x->revocationDate, tm);
}

/* see morvane/x509.h */
int X509_set_issuer_name(X509* x, X509_NAME* name) {
  if (x == nullptr || x->cert_info == nullptr) return 0;
  return changed(&x->cert_info->enc, X509_NAME_set(&x->cert_info->issuer, name));
}

/* see morvane/x509.h */
int X509_set_subject_name(X509* x, X509_NAME* name) {
  if (x == nullptr || x->cert_info == nullptr) return 0;
  if (!changed(&x->cert_info->enc, X509_NAME_set(&x->cert_info->subject, name))) return 0;
  MORVANE_free(x->name);  // the one-line text of the old subject
  x->name = nullptr;
  return 1;
}

/* see morvane/x509.h */
int X509_CRL_set_issuer_name(X509_CRL* x, X509_NAME* name) {
  if (x == nullptr || x->crl == nullptr) return 0;
  return changed(&x->crl->enc, X509_NAME_set(&x->crl->issuer, name));
}

/* see morvane/x509.h */
int X509_REQ_set_subject_name(X509_REQ* x, X509_NAME* name) {
  if (x == nullptr || x->req_info == nullptr) return 0;
  return changed(&x->req_info->enc, X509_NAME_set(&x->req_info->subject, name));
}

/* see morvane/x509.h */
int X509_set_pubkey(X509* x, EVP_PKEY* pkey) {
  if (x == nullptr || x->cert_info == nullptr) return 0;
  return changed(&x->cert_info->enc, X509_PUBKEY_set(&x->cert_info->key, pkey));
}

/* see morvane/x509.h */
int X509_REQ_set_pubkey(X509_REQ* x, EVP_PKEY* pkey) {
  if (x == nullptr || x->req_info == nullptr) return 0;
  return changed(&x->req_info->enc, X509_PUBKEY_set(&x->req_info->pubkey, pkey));
}

/* see morvane/x509.h */
int NETSCAPE_SPKI_set_pubkey(NETSCAPE_SPKI* x, EVP_PKEY* pkey) {
  if (x == nullptr || x->spkac == nullptr) return 0;
  return X509_PUBKEY_set(&x->spkac->pubkey, pkey);
}

/* see morvane/x509.h */
EVP_PKEY* NETSCAPE_SPKI_get_pubkey(NETSCAPE_SPKI* x) {
  if (x == nullptr || x->spkac == nullptr) return nullptr;
  return X509_PUBKEY_get(x->spkac->pubkey);
}

/* see morvane/x509.h */
int X509_CRL_sort(X509_CRL* c) {
  if (c == nullptr || c->crl == nullptr) return 0;
  STACK* revoked = c->crl->revoked;
  sk_sort(revoked);
  for (int i = 0; i < sk_num(revoked); i++)
    reinterpret_cast<X509_REVOKED*>(sk_value(revoked, i))->sequence = i;
  c->crl->enc.modified = 1;
  return 1;
}
