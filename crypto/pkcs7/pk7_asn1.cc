// The DER templates of the PKCS#7 records (RFC 2315, sections 7 to 13), the
// two encodings of a signer's attribute list, and the streaming encoder.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>
#include <morvane/x509.h>

namespace {

// The signer's key and the recipient's certificate are references that the
// encoding does not carry: release them once the record's fields are gone.
int si_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  if (operation == ASN1_CBOP_FREE_POST) {
    auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(*pval);
    EVP_PKEY_free(si->pkey);
    si->pkey = nullptr;
  }
  return 1;
}

int ri_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM*) {
  if (operation == ASN1_CBOP_FREE_POST) {
    auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(*pval);
    X509_free(ri->cert);
    ri->cert = nullptr;
  }
  return 1;
}

}  // namespace

// ContentInfo: the content is selected by the content type.
ASN1_ADB_TEMPLATE(p7default) = ASN1_EXP_OPT(PKCS7, d.other, ASN1_ANY, 0);

ASN1_ADB(PKCS7) = {
    ASN1_ADB_ENTRY(21, ASN1_NDEF_EXP_OPT(PKCS7, d.data, ASN1_OCTET_STRING_NDEF, 0)),
    ASN1_ADB_ENTRY(22, ASN1_NDEF_EXP_OPT(PKCS7, d.sign, PKCS7_SIGNED, 0)),
    ASN1_ADB_ENTRY(23, ASN1_NDEF_EXP_OPT(PKCS7, d.enveloped, PKCS7_ENVELOPE, 0)),
    ASN1_ADB_ENTRY(24, ASN1_NDEF_EXP_OPT(PKCS7, d.signed_and_enveloped, PKCS7_SIGN_ENVELOPE, 0)),
    ASN1_ADB_ENTRY(25, ASN1_NDEF_EXP_OPT(PKCS7, d.digest, PKCS7_DIGEST, 0)),
    ASN1_ADB_ENTRY(26, ASN1_NDEF_EXP_OPT(PKCS7, d.encrypted, PKCS7_ENCRYPT, 0)),
} ASN1_ADB_END(PKCS7, 0, type, 0, &p7default_tt, NULL);

ASN1_NDEF_SEQUENCE(PKCS7) = {
    ASN1_SIMPLE(PKCS7, type, ASN1_OBJECT),
    ASN1_ADB_OBJECT(PKCS7),
} ASN1_NDEF_SEQUENCE_END(PKCS7);

// SignedData: certificates keep their order, revocation lists are sorted.
ASN1_NDEF_SEQUENCE(PKCS7_SIGNED) = {
    ASN1_SIMPLE(PKCS7_SIGNED, version, ASN1_INTEGER),
    ASN1_SET_OF(PKCS7_SIGNED, md_algs, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_SIGNED, contents, PKCS7),
    ASN1_IMP_SEQUENCE_OF_OPT(PKCS7_SIGNED, cert, X509, 0),
    ASN1_IMP_SET_OF_OPT(PKCS7_SIGNED, crl, X509_CRL, 1),
    ASN1_SET_OF(PKCS7_SIGNED, signer_info, PKCS7_SIGNER_INFO),
} ASN1_NDEF_SEQUENCE_END(PKCS7_SIGNED);

// SignerInfo: the signed attributes are written in the order of the stack,
// which the signing code has put into DER order.
ASN1_SEQUENCE_cb(PKCS7_SIGNER_INFO, si_cb) = {
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, version, ASN1_INTEGER),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, issuer_and_serial, PKCS7_ISSUER_AND_SERIAL),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, digest_alg, X509_ALGOR),
    ASN1_IMP_SEQUENCE_OF_OPT(PKCS7_SIGNER_INFO, auth_attr, X509_ATTRIBUTE, 0),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, digest_enc_alg, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, enc_digest, ASN1_OCTET_STRING),
    ASN1_IMP_SET_OF_OPT(PKCS7_SIGNER_INFO, unauth_attr, X509_ATTRIBUTE, 1),
} ASN1_SEQUENCE_END_cb(PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO);

ASN1_SEQUENCE(PKCS7_ISSUER_AND_SERIAL) = {
    ASN1_SIMPLE(PKCS7_ISSUER_AND_SERIAL, issuer, X509_NAME),
    ASN1_SIMPLE(PKCS7_ISSUER_AND_SERIAL, serial, ASN1_INTEGER),
} ASN1_SEQUENCE_END(PKCS7_ISSUER_AND_SERIAL);

ASN1_NDEF_SEQUENCE(PKCS7_ENVELOPE) = {
    ASN1_SIMPLE(PKCS7_ENVELOPE, version, ASN1_INTEGER),
    ASN1_SET_OF(PKCS7_ENVELOPE, recipientinfo, PKCS7_RECIP_INFO),
    ASN1_SIMPLE(PKCS7_ENVELOPE, enc_data, PKCS7_ENC_CONTENT),
} ASN1_NDEF_SEQUENCE_END(PKCS7_ENVELOPE);

ASN1_SEQUENCE_cb(PKCS7_RECIP_INFO, ri_cb) = {
    ASN1_SIMPLE(PKCS7_RECIP_INFO, version, ASN1_INTEGER),
    ASN1_SIMPLE(PKCS7_RECIP_INFO, issuer_and_serial, PKCS7_ISSUER_AND_SERIAL),
    ASN1_SIMPLE(PKCS7_RECIP_INFO, key_enc_algor, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_RECIP_INFO, enc_key, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END_cb(PKCS7_RECIP_INFO, PKCS7_RECIP_INFO);

ASN1_NDEF_SEQUENCE(PKCS7_ENC_CONTENT) = {
    ASN1_SIMPLE(PKCS7_ENC_CONTENT, content_type, ASN1_OBJECT),
    ASN1_SIMPLE(PKCS7_ENC_CONTENT, algorithm, X509_ALGOR),
    ASN1_IMP_OPT(PKCS7_ENC_CONTENT, enc_data, ASN1_OCTET_STRING, 0),
} ASN1_NDEF_SEQUENCE_END(PKCS7_ENC_CONTENT);

// SignedAndEnvelopedData: unlike SignedData the certificates form a sorted
// SET OF.
ASN1_NDEF_SEQUENCE(PKCS7_SIGN_ENVELOPE) = {
    ASN1_SIMPLE(PKCS7_SIGN_ENVELOPE, version, ASN1_INTEGER),
    ASN1_SET_OF(PKCS7_SIGN_ENVELOPE, recipientinfo, PKCS7_RECIP_INFO),
    ASN1_SET_OF(PKCS7_SIGN_ENVELOPE, md_algs, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_SIGN_ENVELOPE, enc_data, PKCS7_ENC_CONTENT),
    ASN1_IMP_SET_OF_OPT(PKCS7_SIGN_ENVELOPE, cert, X509, 0),
    ASN1_IMP_SET_OF_OPT(PKCS7_SIGN_ENVELOPE, crl, X509_CRL, 1),
    ASN1_SET_OF(PKCS7_SIGN_ENVELOPE, signer_info, PKCS7_SIGNER_INFO),
} ASN1_NDEF_SEQUENCE_END(PKCS7_SIGN_ENVELOPE);

ASN1_NDEF_SEQUENCE(PKCS7_DIGEST) = {
    ASN1_SIMPLE(PKCS7_DIGEST, version, ASN1_INTEGER),
    ASN1_SIMPLE(PKCS7_DIGEST, md, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_DIGEST, contents, PKCS7),
    ASN1_SIMPLE(PKCS7_DIGEST, digest, ASN1_OCTET_STRING),
} ASN1_NDEF_SEQUENCE_END(PKCS7_DIGEST);

ASN1_NDEF_SEQUENCE(PKCS7_ENCRYPT) = {
    ASN1_SIMPLE(PKCS7_ENCRYPT, version, ASN1_INTEGER),
    ASN1_SIMPLE(PKCS7_ENCRYPT, enc_data, PKCS7_ENC_CONTENT),
} ASN1_NDEF_SEQUENCE_END(PKCS7_ENCRYPT);

// The signed attributes as a signature covers them: a SET OF sorted by
// encoding, the stack reordered to match (RFC 2315, 9.3).
ASN1_ITEM_TEMPLATE(PKCS7_ATTR_SIGN) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SET_ORDER, 0, PKCS7_ATTRIBUTES, X509_ATTRIBUTE)
ASN1_ITEM_TEMPLATE_END(PKCS7_ATTR_SIGN);

// The same list in the order received, under the SET tag: the bytes that a
// signer signed, reproduced for verification.
ASN1_ITEM_TEMPLATE(PKCS7_ATTR_VERIFY) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SEQUENCE_OF | ASN1_TF_IMPLICIT | ASN1_TF_UNIVERSAL, ASN1_UT_SET,
                          PKCS7_ATTRIBUTES, X509_ATTRIBUTE)
ASN1_ITEM_TEMPLATE_END(PKCS7_ATTR_VERIFY);

/* see morvane/pkcs7.h */
int i2d_PKCS7_NDEF(PKCS7* a, unsigned char** out) {
  return ASN1_item_ndef_i2d(reinterpret_cast<ASN1_VALUE*>(a), out, ASN1_ITEM_ref(PKCS7));
}
