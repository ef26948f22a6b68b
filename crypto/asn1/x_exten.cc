// Extension (RFC 5280, 4.1) as X509_EXTENSION and the SEQUENCE OF them that
// certificates, revocation lists and their entries carry, and Validity
// (RFC 5280, 4.1.2.5) as X509_VAL.

#include <stddef.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/x509.h>

static_assert(offsetof(X509_EXTENSION, critical) == 8 && offsetof(X509_EXTENSION, value) == 16 &&
              sizeof(X509_EXTENSION) == 24);
static_assert(offsetof(X509_VAL, notAfter) == 8 && sizeof(X509_VAL) == 16);

// critical is BOOLEAN DEFAULT FALSE; an explicit FALSE as received is kept
// (the plain BOOLEAN item writes back whatever octet was read).
ASN1_SEQUENCE(X509_EXTENSION) = {
    ASN1_SIMPLE(X509_EXTENSION, object, ASN1_OBJECT),
    ASN1_OPT(X509_EXTENSION, critical, ASN1_BOOLEAN),
    ASN1_SIMPLE(X509_EXTENSION, value, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(X509_EXTENSION);

// clang-format off
ASN1_ITEM_TEMPLATE(X509_EXTENSIONS) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SEQUENCE_OF, 0, Extension, X509_EXTENSION)
ASN1_ITEM_TEMPLATE_END(X509_EXTENSIONS);
// clang-format on

ASN1_SEQUENCE(X509_VAL) = {
    ASN1_SIMPLE(X509_VAL, notBefore, ASN1_TIME),
    ASN1_SIMPLE(X509_VAL, notAfter, ASN1_TIME),
} ASN1_SEQUENCE_END(X509_VAL);
