// Netscape's certificate sequence: the object nsCertSequence and an optional
// [0] SEQUENCE OF certificates.  A new one already names its type.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

namespace {

constexpr int kNidNetscapeCertSequence = 79;  // 2.16.840.1.113730.2.5

int nsseq_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  if (operation == ASN1_CBOP_NEW_POST) {
    auto* seq = reinterpret_cast<NETSCAPE_CERT_SEQUENCE*>(*pval);
    seq->type = OBJ_nid2obj(kNidNetscapeCertSequence);  // built in: never freed
  }
  return 1;
}

}  // namespace

ASN1_SEQUENCE_cb(NETSCAPE_CERT_SEQUENCE, nsseq_cb) = {
    ASN1_SIMPLE(NETSCAPE_CERT_SEQUENCE, type, ASN1_OBJECT),
    ASN1_EXP_SEQUENCE_OF_OPT(NETSCAPE_CERT_SEQUENCE, certs, X509, 0),
} ASN1_SEQUENCE_END_cb(NETSCAPE_CERT_SEQUENCE, NETSCAPE_CERT_SEQUENCE);
