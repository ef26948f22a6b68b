// AlgorithmIdentifier (RFC 5280, 4.1.1.2) as X509_ALGOR, a SEQUENCE OF them
// (X509_ALGORS), and the setter and getter of its two fields.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/x509.h>

ASN1_SEQUENCE(X509_ALGOR) = {
    ASN1_SIMPLE(X509_ALGOR, algorithm, ASN1_OBJECT),
    ASN1_OPT(X509_ALGOR, parameter, ASN1_ANY),
} ASN1_SEQUENCE_END(X509_ALGOR);

// clang-format off
ASN1_ITEM_TEMPLATE(X509_ALGORS) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SEQUENCE_OF, 0, algorithms, X509_ALGOR)
ASN1_ITEM_TEMPLATE_END(X509_ALGORS);
// clang-format on

/* see morvane/x509.h */
int X509_ALGOR_set0(X509_ALGOR* alg, ASN1_OBJECT* aobj, int ptype, void* pval) {
  if (alg == nullptr) return 0;
  if (ptype != ASN1_UT_UNDEF && alg->parameter == nullptr) {
    alg->parameter = ASN1_TYPE_new();
    if (alg->parameter == nullptr) return 0;
  }
  ASN1_OBJECT_free(alg->algorithm);
  alg->algorithm = aobj;
  if (ptype == 0) return 1;
  if (ptype == ASN1_UT_UNDEF) {
    ASN1_TYPE_free(alg->parameter);
    alg->parameter = nullptr;
  } else {
    ASN1_TYPE_set(alg->parameter, ptype, pval);
  }
  return 1;
}

/* see morvane/x509.h */
void X509_ALGOR_get0(ASN1_OBJECT** paobj, int* pptype, void** ppval, X509_ALGOR* algor) {
  if (paobj != nullptr) *paobj = algor->algorithm;
  if (pptype != nullptr)
    *pptype = algor->parameter != nullptr ? algor->parameter->type : ASN1_UT_UNDEF;
  if (ppval != nullptr && algor->parameter != nullptr) *ppval = algor->parameter->value.ptr;
}
