// The DER form of ECDSA signatures (SEC 1 C.8): SEQUENCE { r, s }.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/ecdsa.h>

ASN1_SEQUENCE(ECDSA_SIG) = {
    ASN1_SIMPLE(ECDSA_SIG, r, CBIGNUM),
    ASN1_SIMPLE(ECDSA_SIG, s, CBIGNUM),
} ASN1_SEQUENCE_END(ECDSA_SIG);
