// Shared by the PKCS#7 sources: content-type and attribute NIDs and small
// accessors of the records.
#ifndef MORVANE_PKCS7_PK7_LOCAL_H
#define MORVANE_PKCS7_PK7_LOCAL_H

#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace morvane::pkcs7 {

constexpr int kNidData = 21;
constexpr int kNidSigned = 22;
constexpr int kNidEnveloped = 23;
constexpr int kNidSignedAndEnveloped = 24;
constexpr int kNidDigest = 25;
constexpr int kNidEncrypted = 26;
constexpr int kNidContentType = 50;
constexpr int kNidMessageDigest = 51;
constexpr int kNidSigningTime = 52;
constexpr int kNidSmimeCaps = 167;
constexpr int kNidSha1 = 64;
constexpr int kNidRsa = 6;
constexpr int kNidDsa = 116;
constexpr int kNidEc = 408;
constexpr int kNidEcdsaSha1 = 416;

inline int type_nid(const PKCS7* p7) { return OBJ_obj2nid(p7->type); }

// The signer list of signed or signed-and-enveloped data, whose records
// begin with the same fields; null for other types or an absent record.
inline PKCS7_SIGNED* signed_part(PKCS7* p7) {
  const int nid = type_nid(p7);
  if (nid != kNidSigned && nid != kNidSignedAndEnveloped) return nullptr;
  return p7->d.sign;
}

// Whether signed data p7 travels without its content (no inner content, or
// none in it): what PKCS7_get_detached says, without its write of the
// detached mark, so that a message that several threads read stays as it is.
inline bool content_absent(const PKCS7* p7) {
  return p7->d.sign == nullptr || p7->d.sign->contents == nullptr ||
         p7->d.sign->contents->d.ptr == nullptr;
}

// The data engine sets the message's state to 0; a message that holds 0
// already is not written, for the same reason.
inline void clear_state(PKCS7* p7) {
  if (p7->state != 0) p7->state = 0;
}

// Whether the issuer-and-serial record names certificate x.
inline bool names_cert(const PKCS7_ISSUER_AND_SERIAL* ias, X509* x) {
  return X509_NAME_cmp(ias->issuer, X509_get_issuer_name(x)) == 0 &&
         ASN1_STRING_cmp(X509_get_serialNumber(x), ias->serial) == 0;
}

inline bool has_signed_attributes(const PKCS7_SIGNER_INFO* si) {
  return sk_num(si->auth_attr) > 0;
}

// The signature of signer `si`, which has signed attributes, checked with
// the key of `x509` over the attributes alone: all that PKCS7_signatureVerify
// checks but the content's digest and type, which name no certificate.  1,
// -1 (the key does not fit the label, the signature does not verify) or 0
// (the attributes do not encode), with the reason queued as
// PKCS7_signatureVerify queues it (pk7_doit.cc).
// `key`, when given, is x509's key with parameters lent from the chain
// above it (a key without parameters of its own).
int verify_attribute_signature(PKCS7_SIGNER_INFO* si, X509* x509, EVP_PKEY* key = nullptr);

// PKCS7_signatureVerify, which it runs.  With `attributes_verified` (si has
// signed attributes, and verify_attribute_signature accepted them with the
// key of x509) only the content is checked: its type and digest against
// the attributes, without the signature again (pk7_doit.cc).
int signature_verify(BIO* bio, PKCS7* p7, PKCS7_SIGNER_INFO* si, X509* x509,
                     bool attributes_verified, EVP_PKEY* key = nullptr);

// Whether x509's key leaves its parameters to the key above it.
bool key_lacks_parameters(X509* x509);

}  // namespace morvane::pkcs7

#endif  // MORVANE_PKCS7_PK7_LOCAL_H
