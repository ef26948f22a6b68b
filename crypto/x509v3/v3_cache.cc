// The extension facts a certificate caches (ex_flags and the decoded
// constraints the verifier reads), the supported-extension list and the
// issued-by test.
//
// Implementation notes: the facts are computed once, under lock 3 held for
// writing after a test of EXFLAG_SET, so two threads asking at once compute
// them once.  An extension the facts rely on that occurs twice or does not
// decode sets EXFLAG_INVALID rather than counting as absent: a certificate
// must never lose a restriction because its extension is malformed.

#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "internal/lock.h"
#include "x509v3/internal.h"

namespace {

constexpr int kNidNetscapeCertType = 71;
constexpr int kNidKeyUsage = 83;
constexpr int kNidSubjectAltName = 85;
constexpr int kNidBasicConstraints = 87;
constexpr int kNidCertificatePolicies = 89;
constexpr int kNidExtKeyUsage = 126;
constexpr int kNidPolicyConstraints = 401;
constexpr int kNidProxyCertInfo = 663;
constexpr int kNidInhibitAnyPolicy = 748;

// The extensions this library acts on when they are critical, by NID in
// ascending order.
constexpr int supported_nids[] = {
    kNidNetscapeCertType,    kNidKeyUsage,          kNidSubjectAltName,
    kNidBasicConstraints,    kNidCertificatePolicies, kNidExtKeyUsage,
    kNidPolicyConstraints,   kNidProxyCertInfo,     kNidInhibitAnyPolicy,
};

constexpr bool sorted() {
  for (size_t i = 1; i < sizeof supported_nids / sizeof supported_nids[0]; i++)
    if (supported_nids[i - 1] >= supported_nids[i]) return false;
  return true;
}
static_assert(sorted(), "supported_nids is searched in ascending order");

bool supported_nid(int nid) {
  size_t lo = 0, hi = sizeof supported_nids / sizeof supported_nids[0];
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (supported_nids[mid] == nid) return true;
    if (supported_nids[mid] < nid)
      lo = mid + 1;
    else
      hi = mid;
  }
  return false;
}

// The SHA-1 digest of the certificate's DER; all zero when it cannot be
// encoded.
void fill_sha1(X509* x) {
  unsigned char md[EVP_MAX_MD_SIZE] = {};
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  if (len <= 0 || !EVP_Digest(der, static_cast<size_t>(len), md, nullptr, EVP_sha1(), nullptr))
    for (unsigned char& c : md) c = 0;
  MORVANE_free(der);
  for (size_t i = 0; i < sizeof x->sha1_hash; i++) x->sha1_hash[i] = md[i];
}

// The facts of x; the flags are returned, the other fields filled.
unsigned long compute(X509* x) {
  unsigned long flags = 0;
  fill_sha1(x);
  X509_CINF* ci = x->cert_info;
  if (X509_NAME_cmp(ci->subject, ci->issuer) == 0) flags |= EXFLAG_SI;
  if (ci->version == nullptr) flags |= EXFLAG_V1;

  for (int i = 0; i < X509_get_ext_count(x); i++) {
    X509_EXTENSION* ex = X509_get_ext(x, i);
    if (!X509_EXTENSION_get_critical(ex)) continue;
    if (!X509_supported_extension(ex)) {
      flags |= EXFLAG_CRITICAL;
      break;
    }
  }
  return flags;
}

}  // namespace

namespace morvane::x509v3 {

void cache_extensions(X509* x) {
  if (flags_of(x) & EXFLAG_SET) return;
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509);
  if (flags_of(x) & EXFLAG_SET) return;
  add_flags(x, compute(x) | EXFLAG_SET);
}

}  // namespace morvane::x509v3

/* see morvane/x509v3.h */
int X509_supported_extension(X509_EXTENSION* ext) {
  const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(ext));
  return nid != 0 && supported_nid(nid);
}

/* see morvane/x509v3.h */
int X509_check_issued(X509* issuer, X509* subject) {
  if (X509_NAME_cmp(X509_get_subject_name(issuer), X509_get_issuer_name(subject)) != 0)
    return 29;  // X509_V_ERR_SUBJECT_ISSUER_MISMATCH
  morvane::x509v3::cache_extensions(issuer);
  morvane::x509v3::cache_extensions(subject);
  const unsigned long iflags = morvane::x509v3::flags_of(issuer);
  if (morvane::x509v3::flags_of(subject) & EXFLAG_PROXY) {
    if ((iflags & EXFLAG_KUSAGE) && !(issuer->ex_kusage & KU_DIGITAL_SIGNATURE))
      return 39;  // X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE
  } else if ((iflags & EXFLAG_KUSAGE) && !(issuer->ex_kusage & KU_KEY_CERT_SIGN)) {
    return 32;  // X509_V_ERR_KEYUSAGE_NO_CERTSIGN
  }
  return 0;
}
