// Texts of OCSP status values and the printed forms of requests and
// responses.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "ocsp/ocsp_local.h"

namespace {

struct CodeText {
  long code;
  const char* text;
};

constexpr CodeText kRespStatus[] = {
    {0, "successful"}, {1, "malformedrequest"}, {2, "internalerror"},
    {3, "trylater"},   {5, "sigrequired"},      {6, "unauthorized"},
};
constexpr CodeText kCertStatus[] = {{0, "good"}, {1, "revoked"}, {2, "unknown"}};
// CRL reason codes (RFC 5280, 5.3.1).
constexpr CodeText kReasons[] = {
    {0, "unspecified"},        {1, "keyCompromise"}, {2, "cACompromise"},
    {3, "affiliationChanged"}, {4, "superseded"},    {5, "cessationOfOperation"},
    {6, "certificateHold"},    {8, "removeFromCRL"}, {9, "privilegeWithdrawn"},
    {10, "aACompromise"},
};

template <size_t N>
const char* table2string(long s, const CodeText (&tbl)[N]) {
  for (const CodeText& e : tbl)
    if (e.code == s) return e.text;
  return "(UNKNOWN)";
}

constexpr unsigned long kNameOneLine = 0x82031FUL;

int certid_print(BIO* bp, OCSP_CERTID* a, int indent) {
  indent += 2;
  return BIO_printf(bp, "%*sCertificate ID:\n", indent - 2, "") > 0 &&
         BIO_printf(bp, "%*sHash Algorithm: ", indent, "") > 0 &&
         i2a_ASN1_OBJECT(bp, a->hashAlgorithm->algorithm) > 0 &&
         BIO_printf(bp, "\n%*sIssuer Name Hash: ", indent, "") > 0 &&
         i2a_ASN1_STRING(bp, a->issuerNameHash, ASN1_UT_OCTET_STRING) > 0 &&
         BIO_printf(bp, "\n%*sIssuer Key Hash: ", indent, "") > 0 &&
         i2a_ASN1_STRING(bp, a->issuerKeyHash, ASN1_UT_OCTET_STRING) > 0 &&
         BIO_printf(bp, "\n%*sSerial Number: ", indent, "") > 0 &&
         i2a_ASN1_INTEGER(bp, a->serialNumber) > 0 && BIO_puts(bp, "\n") > 0;
}

void print_certs(BIO* bp, STACK* certs) {
  for (int i = 0; i < sk_num(certs); i++) {
    auto* x = reinterpret_cast<X509*>(sk_value(certs, i));
    X509_print(bp, x);
    PEM_write_bio_X509(bp, x);
  }
}

long version_of(ASN1_INTEGER* v) { return v != nullptr ? ASN1_INTEGER_get(v) : 0; }

}  // namespace

extern "C" {

const char* OCSP_response_status_str(long s) { return table2string(s, kRespStatus); }
const char* OCSP_cert_status_str(long s) { return table2string(s, kCertStatus); }
const char* OCSP_crl_reason_str(long s) { return table2string(s, kReasons); }

int OCSP_REQUEST_print(BIO* bp, OCSP_REQUEST* o, unsigned long flags) {
  if (bp == nullptr || o == nullptr) return 0;
  OCSP_REQINFO* inf = o->tbsRequest;
  const long l = version_of(inf->version);
  if (BIO_puts(bp, "OCSP Request Data:\n") <= 0) return 0;
  if (BIO_printf(bp, "    Version: %lu (0x%lx)", l + 1, l) <= 0) return 0;
  if (inf->requestorName != nullptr) {
    if (BIO_puts(bp, "\n    Requestor Name: ") <= 0) return 0;
    GENERAL_NAME_print(bp, inf->requestorName);
  }
  if (BIO_puts(bp, "\n    Requestor List:\n") <= 0) return 0;
  for (int i = 0; i < sk_num(inf->requestList); i++) {
    auto* one = reinterpret_cast<OCSP_ONEREQ*>(sk_value(inf->requestList, i));
    if (one == nullptr) continue;
    certid_print(bp, one->reqCert, 8);
    if (!X509V3_extensions_print(bp, "Request Single Extensions", one->singleRequestExtensions,
                                 flags, 8))
      return 0;
  }
  if (!X509V3_extensions_print(bp, "Request Extensions", inf->requestExtensions, flags, 4))
    return 0;
  if (OCSP_SIGNATURE* sig = o->optionalSignature; sig != nullptr) {
    X509_signature_print(bp, sig->signatureAlgorithm, sig->signature);
    print_certs(bp, sig->certs);
  }
  return 1;
}

int OCSP_RESPONSE_print(BIO* bp, OCSP_RESPONSE* o, unsigned long flags) {
  if (bp == nullptr || o == nullptr) return 0;
  const long st = ASN1_ENUMERATED_get(o->responseStatus);
  if (BIO_puts(bp, "OCSP Response Data:\n") <= 0) return 0;
  if (BIO_printf(bp, "    OCSP Response Status: %s (0x%lx)\n", OCSP_response_status_str(st),
                 st) <= 0)
    return 0;
  OCSP_RESPBYTES* rb = o->responseBytes;
  if (rb == nullptr) return 1;
  if (BIO_puts(bp, "    Response Type: ") <= 0 || i2a_ASN1_OBJECT(bp, rb->responseType) <= 0)
    return 0;
  if (OBJ_obj2nid(rb->responseType) != morvane::ocsp::kNidBasic) {
    BIO_puts(bp, " (unknown response type)\n");
    return 1;
  }
  OCSP_BASICRESP* br = OCSP_response_get1_basic(o);
  if (br == nullptr) return 0;
  int ret = 0;
  OCSP_RESPDATA* rd = br->tbsResponseData;
  const long l = version_of(rd->version);
  OCSP_RESPID* rid = rd->responderId;
  if (BIO_printf(bp, "\n    Version: %lu (0x%lx)\n", l + 1, l) <= 0) goto done;
  if (BIO_puts(bp, "    Responder Id: ") <= 0) goto done;
  if (rid->type == V_OCSP_RESPID_NAME)
    X509_NAME_print_ex(bp, rid->value.byName, 0, kNameOneLine);
  else if (rid->type == V_OCSP_RESPID_KEY)
    i2a_ASN1_STRING(bp, rid->value.byKey, ASN1_UT_OCTET_STRING);
  if (BIO_puts(bp, "\n    Produced At: ") <= 0) goto done;
  if (!ASN1_GENERALIZEDTIME_print(bp, rd->producedAt)) goto done;
  if (BIO_puts(bp, "\n    Responses:\n") <= 0) goto done;
  for (int i = 0; i < sk_num(rd->responses); i++) {
    auto* single = reinterpret_cast<OCSP_SINGLERESP*>(sk_value(rd->responses, i));
    if (single == nullptr) continue;
    if (!certid_print(bp, single->certId, 4)) goto done;
    OCSP_CERTSTATUS* cst = single->certStatus;
    if (BIO_printf(bp, "    Cert Status: %s", OCSP_cert_status_str(cst->type)) <= 0) goto done;
    if (cst->type == V_OCSP_CERTSTATUS_REVOKED) {
      OCSP_REVOKEDINFO* rev = cst->value.revoked;
      if (BIO_puts(bp, "\n    Revocation Time: ") <= 0 ||
          !ASN1_GENERALIZEDTIME_print(bp, rev->revocationTime))
        goto done;
      if (rev->revocationReason != nullptr) {
        const long r = ASN1_ENUMERATED_get(rev->revocationReason);
        if (BIO_printf(bp, "\n    Revocation Reason: %s (0x%lx)", OCSP_crl_reason_str(r), r) <=
            0)
          goto done;
      }
    }
    if (BIO_puts(bp, "\n    This Update: ") <= 0 ||
        !ASN1_GENERALIZEDTIME_print(bp, single->thisUpdate))
      goto done;
    if (single->nextUpdate != nullptr &&
        (BIO_puts(bp, "\n    Next Update: ") <= 0 ||
         !ASN1_GENERALIZEDTIME_print(bp, single->nextUpdate)))
      goto done;
    if (BIO_puts(bp, "\n") <= 0) goto done;
    if (!X509V3_extensions_print(bp, "Response Single Extensions", single->singleExtensions,
                                 flags, 8))
      goto done;
    if (BIO_puts(bp, "\n") <= 0) goto done;
  }
  if (!X509V3_extensions_print(bp, "Response Extensions", rd->responseExtensions, flags, 4))
    goto done;
  if (X509_signature_print(bp, br->signatureAlgorithm, br->signature) <= 0) goto done;
  print_certs(bp, br->certs);
  ret = 1;
done:
  OCSP_BASICRESP_free(br);
  return ret;
}

}  // extern "C"
