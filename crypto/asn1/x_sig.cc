// DigestInfo (RFC 8017, 9.2) as X509_SIG: the digest's AlgorithmIdentifier
// and the digest as an OCTET STRING.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/x509.h>

ASN1_SEQUENCE(X509_SIG) = {
    ASN1_SIMPLE(X509_SIG, algor, X509_ALGOR),
    ASN1_SIMPLE(X509_SIG, digest, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(X509_SIG);
