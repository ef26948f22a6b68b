// OCSP certificate identifiers (RFC 6960, 4.1.1) and responder URLs.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/x509.h>

#include "ocsp/ocsp_local.h"

extern "C" {

OCSP_CERTID* OCSP_cert_id_new(const EVP_MD* dgst, X509_NAME* issuerName,
                              ASN1_BIT_STRING* issuerKey, ASN1_INTEGER* serialNumber) {
  if (dgst == nullptr || issuerName == nullptr || issuerKey == nullptr) return nullptr;
  OCSP_CERTID* cid = OCSP_CERTID_new();
  if (cid == nullptr) return nullptr;
  X509_ALGOR* alg = cid->hashAlgorithm;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdlen = 0;
  const int nid = EVP_MD_type(dgst);
  ASN1_OBJECT* obj = nid != 0 ? OBJ_nid2obj(nid) : nullptr;
  if (obj == nullptr) {
    OCSPerr(OCSP_F_OCSP_CERT_ID_NEW, OCSP_R_UNKNOWN_NID);
    goto err;
  }
  if (!X509_ALGOR_set0(alg, obj, ASN1_UT_NULL, nullptr)) goto err;
  if (!X509_NAME_digest(issuerName, dgst, md, &mdlen)) {
    OCSPerr(OCSP_F_OCSP_CERT_ID_NEW, OCSP_R_DIGEST_ERR);
    goto err;
  }
  if (!ASN1_OCTET_STRING_set(cid->issuerNameHash, md, static_cast<int>(mdlen))) goto err;
  if (issuerKey->length < 0 ||
      !EVP_Digest(issuerKey->data, static_cast<size_t>(issuerKey->length), md, &mdlen, dgst,
                  nullptr)) {
    OCSPerr(OCSP_F_OCSP_CERT_ID_NEW, OCSP_R_DIGEST_ERR);
    goto err;
  }
  if (!ASN1_OCTET_STRING_set(cid->issuerKeyHash, md, static_cast<int>(mdlen))) goto err;
  if (serialNumber != nullptr) {
    ASN1_INTEGER* sn = ASN1_INTEGER_dup(serialNumber);
    if (sn == nullptr) goto err;
    ASN1_INTEGER_free(cid->serialNumber);
    cid->serialNumber = sn;
  }
  return cid;
err:
  OCSP_CERTID_free(cid);
  return nullptr;
}

OCSP_CERTID* OCSP_cert_to_id(const EVP_MD* dgst, X509* subject, X509* issuer) {
  if (issuer == nullptr) return nullptr;
  if (dgst == nullptr) dgst = EVP_sha1();
  X509_NAME* iname;
  ASN1_INTEGER* serial;
  if (subject != nullptr) {
    iname = X509_get_issuer_name(subject);
    serial = X509_get_serialNumber(subject);
  } else {
    iname = X509_get_subject_name(issuer);
    serial = nullptr;
  }
  return OCSP_cert_id_new(dgst, iname, X509_get0_pubkey_bitstr(issuer), serial);
}

int OCSP_id_issuer_cmp(OCSP_CERTID* a, OCSP_CERTID* b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  int r = OBJ_cmp(a->hashAlgorithm->algorithm, b->hashAlgorithm->algorithm);
  if (r != 0) return r;
  r = ASN1_OCTET_STRING_cmp(a->issuerNameHash, b->issuerNameHash);
  if (r != 0) return r;
  return ASN1_OCTET_STRING_cmp(a->issuerKeyHash, b->issuerKeyHash);
}

int OCSP_id_cmp(OCSP_CERTID* a, OCSP_CERTID* b) {
  const int r = OCSP_id_issuer_cmp(a, b);
  if (r != 0 || a == nullptr) return r;
  return ASN1_INTEGER_cmp(a->serialNumber, b->serialNumber);
}

int OCSP_id_get0_info(ASN1_OCTET_STRING** piNameHash, ASN1_OBJECT** pmd,
                      ASN1_OCTET_STRING** pikeyHash, ASN1_INTEGER** pserial, OCSP_CERTID* cid) {
  if (cid == nullptr) return 0;
  if (piNameHash != nullptr) *piNameHash = cid->issuerNameHash;
  if (pmd != nullptr) *pmd = cid->hashAlgorithm->algorithm;
  if (pikeyHash != nullptr) *pikeyHash = cid->issuerKeyHash;
  if (pserial != nullptr) *pserial = cid->serialNumber;
  return 1;
}

// Splits scheme://host[:port][/path]; the scheme is "http" or "https",
// compared exactly.  A byte below 0x21 or 0x7F anywhere refuses the URL, so
// a URL taken from a certificate cannot carry line breaks into a request.
int OCSP_parse_url(const char* url, char** phost, char** pport, char** ppath, int* pssl) {
  if (phost != nullptr) *phost = nullptr;
  if (pport != nullptr) *pport = nullptr;
  if (ppath != nullptr) *ppath = nullptr;
  if (url == nullptr || phost == nullptr || pport == nullptr || ppath == nullptr ||
      pssl == nullptr) {
    OCSPerr(OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL);
    return 0;
  }
  for (const char* c = url; *c != '\0'; c++) {
    const unsigned char u = static_cast<unsigned char>(*c);
    if (u < 0x21 || u == 0x7F) {
      OCSPerr(OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL);
      return 0;
    }
  }
  const char* colon = strchr(url, ':');
  const char* defport;
  const size_t slen = colon != nullptr ? static_cast<size_t>(colon - url) : 0;
  if (colon != nullptr && slen == 4 && memcmp(url, "http", 4) == 0) {
    *pssl = 0;
    defport = "80";
  } else if (colon != nullptr && slen == 5 && memcmp(url, "https", 5) == 0) {
    *pssl = 1;
    defport = "443";
  } else {
    OCSPerr(OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL);
    return 0;
  }
  if (colon[1] != '/' || colon[2] != '/') {
    OCSPerr(OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL);
    return 0;
  }
  const char* host = colon + 3;
  const char* slash = strchr(host, '/');
  const char* hend = slash != nullptr ? slash : host + strlen(host);
  const char* pc = static_cast<const char*>(memchr(host, ':', static_cast<size_t>(hend - host)));
  const char* path = slash != nullptr ? slash : "/";
  char* h = static_cast<char*>(
      MORVANE_malloc(static_cast<size_t>((pc != nullptr ? pc : hend) - host) + 1));
  char* po = pc != nullptr ? static_cast<char*>(MORVANE_malloc(static_cast<size_t>(hend - pc)))
                           : MORVANE_strdup(defport);
  char* pa = MORVANE_strdup(path);
  if (h == nullptr || po == nullptr || pa == nullptr) {
    MORVANE_free(h);
    MORVANE_free(po);
    MORVANE_free(pa);
    OCSPerr(OCSP_F_OCSP_PARSE_URL, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const size_t hl = static_cast<size_t>((pc != nullptr ? pc : hend) - host);
  memcpy(h, host, hl);
  h[hl] = '\0';
  if (pc != nullptr) {
    const size_t pl = static_cast<size_t>(hend - pc - 1);
    memcpy(po, pc + 1, pl);
    po[pl] = '\0';
  }
  *phost = h;
  *pport = po;
  *ppath = pa;
  return 1;
}

}  // extern "C"
