// The extension facts a certificate caches (ex_flags and the decoded
// constraints the verifier reads), the supported-extension list and the
// issued-by test.
//
// Implementation notes: the facts are computed once, under lock 3 held for
// writing after a test of EXFLAG_SET, so two threads asking at once compute
// them once.  An extension the facts rely on that occurs twice or does not
// decode sets EXFLAG_INVALID rather than counting as absent: a certificate
// must never lose a restriction because its extension is malformed.  A
// computation during which memory ran out is dropped whole (EXFLAG_SET stays
// clear), so that no lack of memory is cached as a fact.

#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "internal/err_watch.h"
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
constexpr int kNidSubjectKeyId = 82;
constexpr int kNidIssuerAltName = 86;
constexpr int kNidAuthorityKeyId = 90;
constexpr int kNidServerAuth = 129;
constexpr int kNidClientAuth = 130;
constexpr int kNidCodeSign = 131;
constexpr int kNidEmailProtect = 132;
constexpr int kNidTimeStamp = 133;
constexpr int kNidMsSgc = 137;
constexpr int kNidNsSgc = 139;
constexpr int kNidOcspSign = 180;
constexpr int kNidDvcs = 297;

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

// One extension of x decoded by its method.  An extension that occurs more
// than once or does not decode sets EXFLAG_INVALID in *flags (and gives
// null): its restriction must not be lost by reading it as absent.
void* decode_once(X509* x, int nid, unsigned long* flags) {
  // Without a registered method the extension cannot be read at all; it
  // counts as absent (and, when critical, as unsupported by its NID).
  if (X509V3_EXT_get_nid(nid) == nullptr) return nullptr;
  int crit = -1;
  void* value = X509_get_ext_d2i(x, nid, &crit, nullptr);
  if (value == nullptr && crit != -1) *flags |= EXFLAG_INVALID;
  return value;
}

// Bits of a BIT STRING's first two octets, the second shifted left by 8.
unsigned long bit_string_bits(const ASN1_BIT_STRING* bits, int octets) {
  unsigned long v = 0;
  if (bits->length > 0) v = bits->data[0];
  if (octets > 1 && bits->length > 1) v |= static_cast<unsigned long>(bits->data[1]) << 8;
  return v;
}

// The constraint extensions into x's fields; their flags are returned.
unsigned long decode_constraints(X509* x) {
  unsigned long flags = 0;
  // RFC 5280, 4.2.1.9
  if (auto* bs = static_cast<BASIC_CONSTRAINTS*>(decode_once(x, kNidBasicConstraints, &flags))) {
    if (bs->ca) flags |= EXFLAG_CA;
    x->ex_pathlen = -1;
    if (bs->pathlen != nullptr &&
        (!bs->ca || !morvane::x509v3::constraint_value(bs->pathlen, &x->ex_pathlen))) {
      flags |= EXFLAG_INVALID;
      x->ex_pathlen = 0;
    }
    BASIC_CONSTRAINTS_free(bs);
    flags |= EXFLAG_BCONS;
  }
  // RFC 3820, 3.8
  if (auto* pci = static_cast<PROXY_CERT_INFO_EXTENSION*>(decode_once(x, kNidProxyCertInfo, &flags))) {
    if ((flags & EXFLAG_CA) || X509_get_ext_by_NID(x, kNidSubjectAltName, -1) >= 0 ||
        X509_get_ext_by_NID(x, kNidIssuerAltName, -1) >= 0)
      flags |= EXFLAG_INVALID;
    x->ex_pcpathlen = -1;
    if (!morvane::x509v3::constraint_value(pci->pcPathLengthConstraint, &x->ex_pcpathlen)) {
      flags |= EXFLAG_INVALID;
      x->ex_pcpathlen = 0;
    }
    PROXY_CERT_INFO_EXTENSION_free(pci);
    flags |= EXFLAG_PROXY;
  }
  // RFC 5280, 4.2.1.3
  if (auto* usage = static_cast<ASN1_BIT_STRING*>(decode_once(x, kNidKeyUsage, &flags))) {
    x->ex_kusage = bit_string_bits(usage, 2);
    ASN1_BIT_STRING_free(usage);
    flags |= EXFLAG_KUSAGE;
  }
  // RFC 5280, 4.2.1.12
  x->ex_xkusage = 0;
  if (auto* ext_usage = static_cast<STACK*>(decode_once(x, kNidExtKeyUsage, &flags))) {
    flags |= EXFLAG_XKUSAGE;
    for (int i = 0; i < sk_num(ext_usage); i++) {
      switch (OBJ_obj2nid(reinterpret_cast<ASN1_OBJECT*>(sk_value(ext_usage, i)))) {
        case kNidServerAuth: x->ex_xkusage |= XKU_SSL_SERVER; break;
        case kNidClientAuth: x->ex_xkusage |= XKU_SSL_CLIENT; break;
        case kNidEmailProtect: x->ex_xkusage |= XKU_SMIME; break;
        case kNidCodeSign: x->ex_xkusage |= XKU_CODE_SIGN; break;
        case kNidMsSgc:
        case kNidNsSgc: x->ex_xkusage |= XKU_SGC; break;
        case kNidOcspSign: x->ex_xkusage |= XKU_OCSP_SIGN; break;
        case kNidTimeStamp: x->ex_xkusage |= XKU_TIMESTAMP; break;
        case kNidDvcs: x->ex_xkusage |= XKU_DVCS; break;
        default: break;
      }
    }
    sk_pop_free(ext_usage, [](void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); });
  }
  if (auto* ns = static_cast<ASN1_BIT_STRING*>(decode_once(x, kNidNetscapeCertType, &flags))) {
    x->ex_nscert = bit_string_bits(ns, 1);
    ASN1_BIT_STRING_free(ns);
    flags |= EXFLAG_NSCERT;
  }
  x->skid = static_cast<ASN1_OCTET_STRING*>(X509_get_ext_d2i(x, kNidSubjectKeyId, nullptr, nullptr));
  x->akid = static_cast<AUTHORITY_KEYID*>(X509_get_ext_d2i(x, kNidAuthorityKeyId, nullptr, nullptr));
  return flags;
}

// The facts of x; the flags are returned, the other fields filled.
unsigned long compute(X509* x) {
  unsigned long flags = 0;
  fill_sha1(x);
  X509_CINF* ci = x->cert_info;
  if (X509_NAME_cmp(ci->subject, ci->issuer) == 0) flags |= EXFLAG_SI;
  if (ci->version == nullptr) flags |= EXFLAG_V1;
  flags |= decode_constraints(x);

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

bool cache_extensions(X509* x) {
  if (flags_of(x) & EXFLAG_SET) return true;
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509);
  if (flags_of(x) & EXFLAG_SET) return true;
  const morvane::internal::MallocFailureWatch watch;
  const unsigned long flags = compute(x);
  if (watch.seen()) {
    // An extension that did not decode for lack of memory is not malformed:
    // nothing is kept, and the next caller computes the facts again.
    ASN1_OCTET_STRING_free(x->skid);
    AUTHORITY_KEYID_free(x->akid);
    x->skid = nullptr;
    x->akid = nullptr;
    return false;
  }
  add_flags(x, flags | EXFLAG_SET);
  return true;
}

bool constraint_value(const ASN1_INTEGER* value, long* out) {
  if (value == nullptr) return true;
  if (value->type != ASN1_UT_INTEGER) return false;  // negative (or not an INTEGER)
  const long v = ASN1_INTEGER_get(value);
  if (v < 0) return false;
  *out = v;
  return true;
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
  if (!morvane::x509v3::cache_extensions(issuer) || !morvane::x509v3::cache_extensions(subject))
    return 17;  // X509_V_ERR_OUT_OF_MEM
  const unsigned long iflags = morvane::x509v3::flags_of(issuer);
  // RFC 5280, 4.2.1.1: the authority key identifier must fit the issuer.
  if (const AUTHORITY_KEYID* akid = subject->akid) {
    if (akid->keyid != nullptr && issuer->skid != nullptr &&
        ASN1_OCTET_STRING_cmp(akid->keyid, issuer->skid) != 0)
      return 30;  // X509_V_ERR_AKID_SKID_MISMATCH
    if (akid->serial != nullptr &&
        ASN1_INTEGER_cmp(X509_get_serialNumber(issuer), akid->serial) != 0)
      return 31;  // X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH
    if (akid->issuer != nullptr) {
      for (int i = 0; i < sk_num(akid->issuer); i++) {
        auto* gen = reinterpret_cast<GENERAL_NAME*>(sk_value(akid->issuer, i));
        if (gen->type != 4) continue;  // directoryName
        if (X509_NAME_cmp(gen->d.directoryName, X509_get_issuer_name(issuer)) != 0) return 31;
        break;
      }
    }
  }
  if (morvane::x509v3::flags_of(subject) & EXFLAG_PROXY) {
    if ((iflags & EXFLAG_KUSAGE) && !(issuer->ex_kusage & KU_DIGITAL_SIGNATURE))
      return 39;  // X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE
  } else if ((iflags & EXFLAG_KUSAGE) && !(issuer->ex_kusage & KU_KEY_CERT_SIGN)) {
    return 32;  // X509_V_ERR_KEYUSAGE_NO_CERTSIGN
  }
  return 0;
}
