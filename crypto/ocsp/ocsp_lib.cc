// OCSP certificate identifiers (RFC 6960, 4.1.1) and responder URLs.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/x509.h>

#include "ocsp/ocsp_local.h"

namespace {

// The host and port of a URL's authority (RFC 3986, 3.2); port is null when
// the URL gives none.
struct Authority {
  const char* host;
  size_t host_len;
  const char* port;
  size_t port_len;
};

// Reads the authority [a, end): a name or IPv4 address, or an IPv6 address
// in brackets (3.2.2), which is returned without them, the form that address
// lookups take; then an optional ":" and a port of 1 to 65535.  User
// information (3.2.1) is refused: the client has no use for it and a URL is
// no place for a password.  Null on success, else why the authority is
// refused.
const char* split_authority(const char* a, const char* end, Authority* out) {
  const size_t n = static_cast<size_t>(end - a);
  if (memchr(a, '@', n) != nullptr) return "user information is not supported";
  const char* after;  // what follows the host
  if (*a == '[') {
    const auto* rb = static_cast<const char*>(memchr(a, ']', n));
    if (rb == nullptr) return "IPv6 address without ']'";
    out->host = a + 1;
    out->host_len = static_cast<size_t>(rb - out->host);
    char text[INET6_ADDRSTRLEN];
    in6_addr addr;
    if (out->host_len >= sizeof(text)) return "bad IPv6 address";
    memcpy(text, out->host, out->host_len);
    text[out->host_len] = '\0';
    if (inet_pton(AF_INET6, text, &addr) != 1) return "bad IPv6 address";
    after = rb + 1;
    if (after != end && *after != ':') return "text after the IPv6 address";
  } else {
    after = static_cast<const char*>(memchr(a, ':', n));
    if (after == nullptr) after = end;
    out->host = a;
    out->host_len = static_cast<size_t>(after - a);
    if (memchr(a, '[', out->host_len) != nullptr || memchr(a, ']', out->host_len) != nullptr)
      return "brackets around a host that is not an IPv6 address";
  }
  if (out->host_len == 0) return "empty host";
  out->port = nullptr;
  out->port_len = 0;
  if (after == end) return nullptr;
  out->port = after + 1;
  out->port_len = static_cast<size_t>(end - out->port);
  unsigned long port = 0;
  for (const char* c = out->port; c != end; c++) {
    if (*c < '0' || *c > '9' || port > 65535) return "port not a number from 1 to 65535";
    port = port * 10 + static_cast<unsigned long>(*c - '0');
  }
  if (out->port_len == 0 || port == 0 || port > 65535) return "port not a number from 1 to 65535";
  return nullptr;
}

}  // namespace

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
  const char* slash = strchr(colon + 3, '/');
  Authority auth;
  if (const char* why =
          split_authority(colon + 3, slash != nullptr ? slash : strchr(colon, '\0'), &auth)) {
    OCSPerr(OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL);
    ERR_add_error_data(1, why);
    return 0;
  }
  char* h = BUF_strndup(auth.host, auth.host_len);
  char* po = auth.port != nullptr ? BUF_strndup(auth.port, auth.port_len) : MORVANE_strdup(defport);
  char* pa = MORVANE_strdup(slash != nullptr ? slash : "/");
  if (h == nullptr || po == nullptr || pa == nullptr) {
    MORVANE_free(h);
    MORVANE_free(po);
    MORVANE_free(pa);
    OCSPerr(OCSP_F_OCSP_PARSE_URL, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  *phost = h;
  *pport = po;
  *ppath = pa;
  return 1;
}

}  // extern "C"
