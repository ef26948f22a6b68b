// Texts of OCSP status values and the printed forms of requests and
// responses.  Every write is checked: the first that fails or is short ends
// the printer with 0.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "asn1/internal.h"
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

long version_of(ASN1_INTEGER* v) {
  return v != nullptr ? ASN1_INTEGER_get(v) : 0;
}

constexpr unsigned long kNameOneLine = 0x82031FUL;

using morvane::asn1::put_whole;

bool certid_print(BIO* bp, OCSP_CERTID* a, int indent) {
  indent += 2;
  return BIO_printf(bp, "%*sCertificate ID:\n", indent - 2, "") > 0 &&
         BIO_printf(bp, "%*sHash Algorithm: ", indent, "") > 0 &&
         i2a_ASN1_OBJECT(bp, a->hashAlgorithm->algorithm) > 0 &&
         BIO_printf(bp, "\n%*sIssuer Name Hash: ", indent, "") > 0 &&
         i2a_ASN1_STRING(bp, a->issuerNameHash, ASN1_UT_OCTET_STRING) > 0 &&
         BIO_printf(bp, "\n%*sIssuer Key Hash: ", indent, "") > 0 &&
         i2a_ASN1_STRING(bp, a->issuerKeyHash, ASN1_UT_OCTET_STRING) > 0 &&
         BIO_printf(bp, "\n%*sSerial Number: ", indent, "") > 0 &&
         i2a_ASN1_INTEGER(bp, a->serialNumber) > 0 && put_whole(bp, "\n");
}

// Each certificate as text and in PEM form.
bool print_certs(BIO* bp, STACK* certs) {
  for (int i = 0; i < sk_num(certs); i++) {
    auto* x = reinterpret_cast<X509*>(sk_value(certs, i));
    if (!X509_print(bp, x) || !PEM_write_bio_X509(bp, x)) return false;
  }
  return true;
}

// The responder's name in one line, or its key hash in hex.
bool print_responder(BIO* bp, const OCSP_RESPID* rid) {
  if (rid->type == V_OCSP_RESPID_NAME)
    return X509_NAME_print_ex(bp, rid->value.byName, 0, kNameOneLine) >= 0;
  if (rid->type == V_OCSP_RESPID_KEY)
    return i2a_ASN1_STRING(bp, rid->value.byKey, ASN1_UT_OCTET_STRING) >= 0;
  return true;
}

bool print_single(BIO* bp, OCSP_SINGLERESP* single, unsigned long flags) {
  if (!certid_print(bp, single->certId, 4)) return false;
  OCSP_CERTSTATUS* cst = single->certStatus;
  if (BIO_printf(bp, "    Cert Status: %s", OCSP_cert_status_str(cst->type)) <= 0) return false;
  if (cst->type == V_OCSP_CERTSTATUS_REVOKED) {
    OCSP_REVOKEDINFO* rev = cst->value.revoked;
    if (!put_whole(bp, "\n    Revocation Time: ") ||
        !ASN1_GENERALIZEDTIME_print(bp, rev->revocationTime))
      return false;
    if (rev->revocationReason != nullptr) {
      const long r = ASN1_ENUMERATED_get(rev->revocationReason);
      if (BIO_printf(bp, "\n    Revocation Reason: %s (0x%lx)", OCSP_crl_reason_str(r), r) <= 0)
        return false;
    }
  }
  if (!put_whole(bp, "\n    This Update: ") || !ASN1_GENERALIZEDTIME_print(bp, single->thisUpdate))
    return false;
  if (single->nextUpdate != nullptr && (!put_whole(bp, "\n    Next Update: ") ||
                                        !ASN1_GENERALIZEDTIME_print(bp, single->nextUpdate)))
    return false;
  return put_whole(bp, "\n") &&
         X509V3_extensions_print(bp, "Response Single Extensions", single->singleExtensions, flags,
                                 8) &&
         put_whole(bp, "\n");
}

// The decoded basic response, from its version to its certificates.
bool print_basic(BIO* bp, OCSP_BASICRESP* br, unsigned long flags) {
  OCSP_RESPDATA* rd = br->tbsResponseData;
  const long l = version_of(rd->version);
  if (BIO_printf(bp, "\n    Version: %lu (0x%lx)\n", l + 1, l) <= 0 ||
      !put_whole(bp, "    Responder Id: ") || !print_responder(bp, rd->responderId) ||
      !put_whole(bp, "\n    Produced At: ") || !ASN1_GENERALIZEDTIME_print(bp, rd->producedAt) ||
      !put_whole(bp, "\n    Responses:\n"))
    return false;
  for (int i = 0; i < sk_num(rd->responses); i++) {
    auto* single = reinterpret_cast<OCSP_SINGLERESP*>(sk_value(rd->responses, i));
    if (single != nullptr && !print_single(bp, single, flags)) return false;
  }
  return X509V3_extensions_print(bp, "Response Extensions", rd->responseExtensions, flags, 4) &&
         X509_signature_print(bp, br->signatureAlgorithm, br->signature) > 0 &&
         print_certs(bp, br->certs);
}

}  // namespace

extern "C" {

const char* OCSP_response_status_str(long s) { return table2string(s, kRespStatus); }
const char* OCSP_cert_status_str(long s) { return table2string(s, kCertStatus); }
const char* OCSP_crl_reason_str(long s) { return table2string(s, kReasons); }

int OCSP_REQUEST_print(BIO* bp, OCSP_REQUEST* o, unsigned long flags) {
  if (bp == nullptr || o == nullptr) return 0;
  OCSP_REQINFO* inf = o->tbsRequest;
  const long l = version_of(inf->version);
  if (!put_whole(bp, "OCSP Request Data:\n") ||
      BIO_printf(bp, "    Version: %lu (0x%lx)", l + 1, l) <= 0)
    return 0;
  // The name printer does not report its writes, nor a name it could not
  // print for want of memory: the name goes out in one checked write, or
  // not at all.
  const auto print_name = [inf](BIO* b) {
    const morvane::internal::MallocFailureWatch watch;
    GENERAL_NAME_print(b, inf->requestorName);
    return !watch.seen();
  };
  if (inf->requestorName != nullptr && (!put_whole(bp, "\n    Requestor Name: ") ||
                                        !morvane::asn1::print_as_one_write(bp, print_name)))
    return 0;
  if (!put_whole(bp, "\n    Requestor List:\n")) return 0;
  for (int i = 0; i < sk_num(inf->requestList); i++) {
    auto* one = reinterpret_cast<OCSP_ONEREQ*>(sk_value(inf->requestList, i));
    if (one == nullptr) continue;
    if (!certid_print(bp, one->reqCert, 8) ||
        !X509V3_extensions_print(bp, "Request Single Extensions", one->singleRequestExtensions,
                                 flags, 8))
      return 0;
  }
  if (!X509V3_extensions_print(bp, "Request Extensions", inf->requestExtensions, flags, 4))
    return 0;
  if (OCSP_SIGNATURE* sig = o->optionalSignature;
      sig != nullptr && (X509_signature_print(bp, sig->signatureAlgorithm, sig->signature) <= 0 ||
                         !print_certs(bp, sig->certs)))
    return 0;
  return 1;
}

int OCSP_RESPONSE_print(BIO* bp, OCSP_RESPONSE* o, unsigned long flags) {
  if (bp == nullptr || o == nullptr) return 0;
  const long st = ASN1_ENUMERATED_get(o->responseStatus);
  if (!put_whole(bp, "OCSP Response Data:\n") ||
      BIO_printf(bp, "    OCSP Response Status: %s (0x%lx)\n", OCSP_response_status_str(st), st) <=
          0)
    return 0;
  OCSP_RESPBYTES* rb = o->responseBytes;
  if (rb == nullptr) return 1;
  if (!put_whole(bp, "    Response Type: ") || i2a_ASN1_OBJECT(bp, rb->responseType) <= 0) return 0;
  if (OBJ_obj2nid(rb->responseType) != morvane::ocsp::kNidBasic)
    return put_whole(bp, " (unknown response type)\n") ? 1 : 0;
  OCSP_BASICRESP* br = OCSP_response_get1_basic(o);
  if (br == nullptr) return 0;
  const bool ok = print_basic(bp, br, flags);
  OCSP_BASICRESP_free(br);
  return ok ? 1 : 0;
}

}  // extern "C"
