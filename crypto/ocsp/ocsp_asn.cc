// The OCSP value types that extensions carry (RFC 6960, 4.4.2 and 4.4.6):
// the CRL reference and the service locator.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/ocsp.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

ASN1_SEQUENCE(OCSP_CRLID) = {
    ASN1_EXP_OPT(OCSP_CRLID, crlUrl, ASN1_IA5STRING, 0),
    ASN1_EXP_OPT(OCSP_CRLID, crlNum, ASN1_INTEGER, 1),
    ASN1_EXP_OPT(OCSP_CRLID, crlTime, ASN1_GENERALIZEDTIME, 2),
} ASN1_SEQUENCE_END(OCSP_CRLID);

ASN1_SEQUENCE(OCSP_SERVICELOC) = {
    ASN1_SIMPLE(OCSP_SERVICELOC, issuer, X509_NAME),
    ASN1_SEQUENCE_OF_OPT(OCSP_SERVICELOC, locator, ACCESS_DESCRIPTION),
} ASN1_SEQUENCE_END(OCSP_SERVICELOC);
